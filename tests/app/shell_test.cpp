#include "app/shell.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "app/dialog_template.h"
#include "app/results_folder.h"
#include "fake_dialog.h"
#include "inference/data_file.h"
#include "inference/input_error.h"
#include "output/io_error.h"

namespace netrevia::app {
namespace {

namespace fs = std::filesystem;

std::string padded(std::string text) {
    text.resize(kPathFieldLength, ' ');
    return text;
}

// A platform that records what the shell asks of it. The inference run is replaced by a
// recorder whose behaviour each test chooses.
class ShellTest : public ::testing::Test {
protected:
    struct RunCall {
        std::string path;
        double lambda;
        double threshold;
        RunRequest request;
    };

    std::vector<std::string> messages;  // "caption: text"
    std::vector<int> quit_codes;
    std::optional<std::string> chosen_file;
    std::vector<FileFilter> offered_filters;
    std::vector<RunCall> runs;
    std::function<void(const inference::RunOptions&)> run_behaviour =
        [](const inference::RunOptions&) {};
    std::string offered_start_folder;
    std::vector<std::pair<std::string, std::string>> imported;  // file, why no data file
    std::optional<importer::TableChoice> table_choice;
    std::optional<std::string> chosen_folder;
    int folder_dialogs = 0;
    int dismissed_questions = 0;
    std::vector<std::string> questions;
    bool answer_yes = false;
    std::function<void()> while_message_shown;  // events the box's own loop would deliver
    std::function<void()> ask_while_open;       // the same for the question
    FakeDialog* created = nullptr;              // the dialog run_application made
    std::function<int()> message_loop = [] { return 0; };
    bool creation_fails = false;
    fs::path saved_working_directory = fs::current_path();
    fs::path temp_dir;

    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        temp_dir = fs::path(::testing::TempDir()) /
                   (std::string("netrevia-shell-") + info->test_suite_name() + "-" + info->name());
        fs::remove_all(temp_dir);
        fs::create_directories(temp_dir);
    }
    void TearDown() override {
        fs::current_path(saved_working_directory);
        fs::remove_all(temp_dir);
    }

    Platform platform() {
        Platform p;
        p.create_dialog = [this](const DialogTemplate&) -> std::unique_ptr<Dialog> {
            if (creation_fails) return nullptr;
            auto dialog = std::make_unique<FakeDialog>();
            created = dialog.get();
            return dialog;
        };
        p.run_message_loop = [this] { return message_loop(); };
        p.post_quit = [this](int code) { quit_codes.push_back(code); };
        p.choose_file = [this](Dialog&, const std::vector<FileFilter>& filters,
                               const std::string& start_folder) {
            offered_filters = filters;
            offered_start_folder = start_folder;
            return chosen_file;
        };
        p.ask_yes_no = [this](Dialog&, std::string_view text, std::string_view) {
            questions.emplace_back(text);
            if (ask_while_open) ask_while_open();
            return answer_yes && dismissed_questions == 0;
        };
        p.message_box = [this](Dialog*, std::string_view text, std::string_view caption) {
            messages.push_back(std::string(caption) + ": " + std::string(text));
            if (while_message_shown) while_message_shown();
        };
        p.run_inference = [this](const RunRequest& request, const inference::RunOptions& hooks,
                                 RunNotes&) {
            runs.push_back({request.data_path, request.lambda, request.threshold, request});
            run_behaviour(hooks);
            return inference::RunSummary{};
        };
        p.import_table = [this](Dialog&, const std::string& file, const std::string& problem) {
            imported.push_back({file, problem});
            return table_choice;
        };
        p.choose_folder = [this](Dialog&, const std::string&) {
            ++folder_dialogs;
            return chosen_folder;
        };
        p.dismiss_question = [this] { ++dismissed_questions; };
        return p;
    }

    std::string make_data_file(const std::string& name = "data.dat") {
        const fs::path file = temp_dir / name;
        std::ofstream(file) << "END\n";
        return file.string();
    }
};

// The shell attached to a fake dialog, as after start-up.
class AttachedShellTest : public ShellTest {
protected:
    FakeDialog dialog;
    Shell shell{platform()};
    void SetUp() override {
        ShellTest::SetUp();
        shell.attach(dialog);
    }
    void open(const std::string& path) {
        chosen_file = path;
        dialog.click(kOpenButton);
    }
    void expect_lines(std::string_view upper, std::string_view middle, std::string_view lower) {
        EXPECT_EQ(dialog.visible(kUpperStatusLine), upper);
        EXPECT_EQ(dialog.visible(kMiddleStatusLine), middle);
        EXPECT_EQ(dialog.visible(kLowerStatusLine), lower);
    }
};

TEST_F(ShellTest, StartUpShowsInitialTextsAndExitEndsWithCodeZero) {
    message_loop = [this] {
        EXPECT_TRUE(created->shown);
        EXPECT_EQ(created->visible(kLambdaField), "0.0");
        EXPECT_EQ(created->visible(kThresholdField), "0.000001");
        for (const int line : {kUpperStatusLine, kMiddleStatusLine, kLowerStatusLine}) {
            EXPECT_EQ(created->visible(line), "");
        }
        EXPECT_EQ(created->visible(kExitButton), "E&xit");
        created->click(kExitButton);
        return quit_codes.empty() ? -1 : quit_codes.back();
    };
    EXPECT_EQ(run_application(platform()), 0);
    EXPECT_EQ(quit_codes, std::vector<int>{0});
    EXPECT_TRUE(messages.empty());
}

TEST_F(ShellTest, StartUpFailureIsReportedAndEndsWithCodeZero) {
    bool loop_ran = false;
    message_loop = [&] {
        loop_ran = true;
        return 5;
    };
    creation_fails = true;
    EXPECT_EQ(run_application(platform()), 0);
    EXPECT_EQ(messages, std::vector<std::string>{"Error: Error initializing application Netrevia"});

    creation_fails = false;
    messages.clear();
    Platform p = platform();
    p.create_dialog = [](const DialogTemplate&) -> std::unique_ptr<Dialog> {
        auto dialog = std::make_unique<FakeDialog>();
        dialog->show_succeeds = false;
        return dialog;
    };
    EXPECT_EQ(run_application(p), 0);
    EXPECT_EQ(messages, std::vector<std::string>{"Error: Error initializing application Netrevia"});
    EXPECT_FALSE(loop_ran);
}

TEST_F(ShellTest, ExhaustedMemoryInsideARunEndsTheProgramWithCodeOne) {
    const std::string data_file = make_data_file();
    run_behaviour = [&](const inference::RunOptions&) { throw std::bad_alloc(); };
    message_loop = [&] {
        chosen_file = data_file;
        created->click(kOpenButton);
        created->click(kInferButton);
        return quit_codes.empty() ? -1 : quit_codes.front();
    };
    EXPECT_EQ(run_application(platform()), 1);
    EXPECT_EQ(messages, std::vector<std::string>{"Error: insufficient virtual memory"});
}

TEST_F(AttachedShellTest, InferBeforeOpenAsksForTheDataFile) {
    dialog.applied.clear();
    dialog.click(kInferButton);
    expect_lines("Please choose the Data file! ", "0.000000000000000E+000",
                 "1.000000000000000E-006");
    EXPECT_TRUE(runs.empty());
    // Inside the handler each line was cleared and set several times; only the last shows.
    std::vector<std::string> upper_texts;
    for (const auto& [id, text] : dialog.applied) {
        if (id == kUpperStatusLine) upper_texts.push_back(text);
    }
    EXPECT_EQ(upper_texts, std::vector<std::string>{"Please choose the Data file! "});
}

TEST_F(AttachedShellTest, OpenShowsThePathAndMakesItsFolderTheWorkingDirectory) {
    dialog.click(kAboutButton);
    const std::string data_file = make_data_file();
    open(data_file + std::string("\0other.dat", 10));  // the name ends at its first NUL
    expect_lines("Status: Multiple Microarray Datasets are ready ", "", padded(data_file));
    EXPECT_EQ(shell.data_path(), padded(data_file));
    EXPECT_TRUE(fs::equivalent(fs::current_path(), temp_dir));

    // The two filters of old, the first selected, and the tables.
    ASSERT_EQ(offered_filters.size(), 3u);
    EXPECT_EQ(offered_filters[0].name, "All files (*.*)");
    EXPECT_EQ(offered_filters[0].pattern, "*.*");
    EXPECT_EQ(offered_filters[1].name, "Multiple Gene Expression Data Files (.dat)");
    EXPECT_EQ(offered_filters[1].pattern, "*.dat");
    EXPECT_EQ(offered_filters[2].pattern, "*.csv *.tsv *.txt");
}

TEST_F(AttachedShellTest, CancelledOpenChangesNothing) {
    const std::string data_file = make_data_file();
    open(data_file);
    dialog.click(kInferButton);
    fs::current_path(saved_working_directory);
    dialog.applied.clear();

    // Cancelled, an empty name, or one that a NUL makes empty: nothing changes.
    for (const std::optional<std::string>& answer :
         {std::optional<std::string>(), std::optional<std::string>(""),
          std::optional<std::string>(std::string("\0data.dat", 9))}) {
        chosen_file = answer;
        dialog.click(kOpenButton);
        EXPECT_TRUE(dialog.applied.empty());
        EXPECT_EQ(shell.data_path(), padded(data_file));
        EXPECT_EQ(fs::current_path(), saved_working_directory);
    }

    dialog.click(kInferButton);
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[1].path, padded(data_file));
}

TEST_F(AttachedShellTest, OpenAfterARunClearsTheCompletionHint) {
    const std::string data_file = make_data_file();
    open(data_file);
    dialog.click(kInferButton);
    expect_lines("The computation is finished! ",
                 "Please check the output files in working directory!", "");
    const std::string second = make_data_file("second.dat");
    open(second);
    expect_lines("Status: Multiple Microarray Datasets are ready ", "", padded(second));
}

TEST_F(AttachedShellTest, PathLongerThanTheFieldIsKeptWhole) {
    const std::string long_path = (temp_dir / std::string(300, 'p') / "data.dat").string();
    open(long_path);
    EXPECT_EQ(shell.data_path(), long_path);
    EXPECT_EQ(dialog.visible(kLowerStatusLine), long_path);
    // The folder does not exist: the working directory stays where it was.
    EXPECT_EQ(fs::current_path(), saved_working_directory);
}

TEST_F(AttachedShellTest, InferRunsOnThePathWithTheAcceptedParameters) {
    dialog.type(kLambdaField, "0.5");
    dialog.type(kThresholdField, "1.0D-2");
    const std::string data_file = make_data_file();
    open(data_file);
    dialog.click(kInferButton);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].path, padded(data_file));
    EXPECT_EQ(runs[0].lambda, 0.5);
    EXPECT_EQ(runs[0].threshold, 0.01);
    expect_lines("The computation is finished! ",
                 "Please check the output files in working directory!", "");
    EXPECT_TRUE(messages.empty());
    EXPECT_TRUE(quit_codes.empty());
}

// Infer never runs with a value the field does not show: a text that does not parse stops it,
// names the field, marks it and moves the focus there; once the text parses again the mark goes
// and the run takes the value shown.
TEST_F(AttachedShellTest, FieldTextsThatDoNotParseStopInferAndNameTheField) {
    open(make_data_file());
    struct Case {
        int field;
        std::vector<std::string> typed;  // keystroke by keystroke; the last one stays
        std::string upper;
    };
    const std::vector<Case> cases{
        {kLambdaField,
         {"1", "1e", "1e4", "1e40", "1e400"},
         "The input of Lambda is not proper! 1e400 is beyond the range of numbers; nothing was "
         "run."},
        {kLambdaField,
         {"0", "0.", "0.5", ""},
         "The input of Lambda is not proper! The field is empty; nothing was run."},
        {kThresholdField,
         {"0", "0,", "0,3", "0,39"},
         "The input of threshold is not proper! Use a decimal point: 0.39, not 0,39; nothing "
         "was run."},
        {kLambdaField,
         {"2", "2x"},
         "The input of Lambda is not proper! Type a number, such as 0.5 or 1e-3; nothing was "
         "run."},
    };
    for (const Case& c : cases) {
        for (const std::string& text : c.typed) dialog.type(c.field, text);
        dialog.focus = 0;
        dialog.click(kInferButton);
        EXPECT_EQ(dialog.visible(kUpperStatusLine), c.upper);
        // The refused field's echo line stays empty; the other shows its value.
        EXPECT_EQ(dialog.visible(c.field == kLambdaField ? kMiddleStatusLine : kLowerStatusLine),
                  "");
        EXPECT_TRUE(dialog.marked(c.field));
        EXPECT_EQ(dialog.focus, c.field);
        EXPECT_TRUE(runs.empty());
        dialog.type(c.field, c.field == kLambdaField ? "0.0" : "0.000001");
        EXPECT_FALSE(dialog.marked(c.field));
    }
    // While typing, a decimal comma is refused at once and asks for the point.
    dialog.type(kThresholdField, "1,5");
    EXPECT_EQ(dialog.visible(kUpperStatusLine),
              "The input of threshold is not proper! Use a decimal point: 1.5, not 1,5.");
    EXPECT_EQ(shell.parameters().threshold(), 1.0e-6);
    dialog.type(kThresholdField, "0.39");
    dialog.click(kInferButton);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].lambda, 0.0);
    EXPECT_EQ(runs[0].threshold, 0.39);
}

TEST_F(AttachedShellTest, CommaOnlyThresholdRunsWithZero) {
    dialog.type(kThresholdField, ",");
    open(make_data_file());
    dialog.click(kInferButton);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].threshold, 0.0);
}

// The list offers every engine of the batch tool, the default first. An engine's own default
// threshold replaces the one the field still holds from the former engine, not one typed; the
// seed counts only for engines that draw at random, and a seed that is no whole number stops
// Infer.
TEST_F(AttachedShellTest, EngineListSeedAndTheEnginesDefaultThreshold) {
    std::vector<std::string> names;
    for (const auto& engine : inference::engines()) names.emplace_back(engine.name);
    ASSERT_EQ(dialog.items(kEngineList).size(), names.size());
    EXPECT_EQ(dialog.items(kEngineList)[0], names[0] + " (default)");
    EXPECT_EQ(dialog.selected_item(kEngineList), 0);
    EXPECT_FALSE(dialog.enabled(kSeedField));
    EXPECT_EQ(dialog.visible(kRunNote),
              "exact: " + std::string(inference::engines()[0].summary) + ".");

    const int ensemble =
        static_cast<int>(inference::find_engine("ensemble") - inference::engines().data());
    dialog.select_item(kEngineList, ensemble);
    EXPECT_EQ(dialog.visible(kThresholdField), "0.75");
    EXPECT_EQ(shell.parameters().threshold(), 0.75);
    EXPECT_TRUE(dialog.enabled(kSeedField));
    dialog.type(kSeedField, "12a");
    open(make_data_file());
    dialog.click(kInferButton);
    EXPECT_EQ(dialog.visible(kUpperStatusLine),
              "The input of Seed is not proper! Type a whole number from 0 to "
              "18446744073709551615; nothing was run.");
    EXPECT_TRUE(dialog.marked(kSeedField));
    EXPECT_TRUE(runs.empty());
    dialog.type(kSeedField, " 18446744073709551615 ");
    EXPECT_FALSE(dialog.marked(kSeedField));
    dialog.click(kInferButton);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].request.engine, selection::Engine::kEnsemble);
    EXPECT_EQ(runs[0].request.seed, 18446744073709551615u);
    EXPECT_EQ(runs[0].threshold, 0.75);

    dialog.select_item(kEngineList, 0);  // back: the default follows
    EXPECT_EQ(dialog.visible(kThresholdField), "0.000001");
    dialog.type(kThresholdField, "0.2");
    dialog.select_item(kEngineList, ensemble);  // a typed threshold stays
    EXPECT_EQ(dialog.visible(kThresholdField), "0.2");
    dialog.select_item(kEngineList, 1);
    dialog.type(kSeedField, "junk");  // not the fast engine's business
    dialog.click(kInferButton);
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[1].request.engine, selection::Engine::kFast);
    EXPECT_EQ(runs[1].request.seed, 0u);
}

// As the batch tool decides: a file named like a table that reads as a data file is one; one
// that does not goes through the import dialog, told why; a data file's name never does. Open
// shows what was read and whether the engine takes it, and Infer refuses an engine that cannot.
TEST_F(AttachedShellTest, TablesOpenThroughTheImportAndTheEngineMustTakeThem) {
    const std::string csv_data_file = (temp_dir / "data_file.csv").string();
    fs::copy_file(EXAMPLES_DIR "/three_genes.dat", csv_data_file);
    open(csv_data_file);
    EXPECT_TRUE(imported.empty());
    EXPECT_FALSE(shell.input().table);
    EXPECT_EQ(dialog.visible(kInputSummary),
              "Read: 3 genes, 1 course of 3 time points (data file)");

    const std::string bad_dat = make_data_file("bad.dat");
    open(bad_dat);
    EXPECT_TRUE(imported.empty());
    EXPECT_EQ(dialog.visible(kInputSummary), "Not read as a data file: end-of-file during read");
    EXPECT_EQ(dialog.visible(kUpperStatusLine), "Status: Multiple Microarray Datasets are ready ");

    const std::string table_file = (temp_dir / "ten_courses.tsv").string();
    std::ofstream(table_file) << "Time\tG1\n";
    open(table_file);  // the import is cancelled: nothing changes
    ASSERT_EQ(imported.size(), 1u);
    EXPECT_EQ(imported[0].first, table_file);
    EXPECT_EQ(imported[0].second, "end-of-file during read");
    EXPECT_EQ(shell.data_path(), padded(bad_dat));

    importer::TableChoice choice;
    choice.arguments = {"--interval", "50", "--points", "21"};
    choice.options.times = {0, 50};
    choice.genes = 100;
    choice.time_points.assign(10, 21);
    choice.format = "DREAM layout, tabs";
    table_choice = choice;
    open(table_file);
    EXPECT_EQ(shell.data_path(), padded(table_file));
    EXPECT_TRUE(shell.input().table);
    EXPECT_EQ(dialog.visible(kInputSummary),
              "Read: 100 genes, 10 courses of 21 time points (table, DREAM layout, tabs)");
    const std::string refusal =
        "The exact engine takes at most 4 courses, this input has 10: choose ensemble, trees "
        "or consensus.";
    EXPECT_EQ(dialog.visible(kRunNote), refusal + " Or pick courses on Open.");
    EXPECT_TRUE(dialog.marked(kRunNote));
    dialog.click(kInferButton);
    EXPECT_EQ(dialog.visible(kUpperStatusLine), refusal);
    EXPECT_TRUE(runs.empty());

    dialog.select_item(kEngineList, static_cast<int>(inference::find_engine("ensemble") -
                                                     inference::engines().data()));
    EXPECT_EQ(dialog.visible(kRunNote).rfind("ensemble: ", 0), 0u);
    EXPECT_FALSE(dialog.marked(kRunNote));
    dialog.click(kInferButton);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_TRUE(runs[0].request.input.table);
    EXPECT_EQ(runs[0].request.input.table_options.times, (std::vector<double>{0, 50}));
    EXPECT_EQ(runs[0].request.output_dir, temp_dir);

    // Two short courses hold 3 intervals, too few for the ensemble's fits.
    table_choice->genes = 3;
    table_choice->time_points = {3, 2};
    open(table_file);
    EXPECT_EQ(dialog.visible(kRunNote),
              "The ensemble engine needs at least 4 intervals (time points less one, all "
              "courses); this input has 3.");
    dialog.click(kInferButton);
    EXPECT_EQ(runs.size(), 1u);
}

// A data folder the results cannot go to (here its lock file's name is taken by a folder, which
// holds for every user) leads to the question, then the folder chosen, which is remembered for
// the data file's folder; declining runs nothing and says why with the absolute path.
TEST_F(AttachedShellTest, UnwritableDataFolderOffersAnotherFolderAndRemembersIt) {
    const fs::path data_folder = temp_dir / "share";
    const fs::path elsewhere = temp_dir / "results";
    fs::create_directories(data_folder / ".GRN.lock");
    fs::create_directories(elsewhere);
    const std::string data_file = (data_folder / "data.dat").string();
    std::ofstream(data_file) << "END\n";
    open(data_file);
    const std::string problem = results_folder_problem(data_folder);
    EXPECT_EQ(problem, "cannot create " + (data_folder / ".GRN.lock").string() + ": " +
                           std::make_error_code(std::errc::is_a_directory).message());

    dialog.click(kInferButton);  // No
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_NE(questions[0].find(problem), std::string::npos) << questions[0];
    EXPECT_EQ(dialog.visible(kUpperStatusLine),
              "No folder for the results: " + problem + "; nothing was run.");
    EXPECT_EQ(folder_dialogs, 0);
    answer_yes = true;
    dialog.click(kInferButton);  // Yes, then the folder dialog is cancelled
    EXPECT_EQ(folder_dialogs, 1);
    EXPECT_TRUE(runs.empty());

    chosen_folder = elsewhere.string();
    dialog.click(kInferButton);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].request.output_dir, elsewhere);
    EXPECT_TRUE(fs::equivalent(fs::current_path(), elsewhere));
    open(data_file);
    dialog.click(kInferButton);  // remembered: no question
    EXPECT_EQ(questions.size(), 3u);
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[1].request.output_dir, elsewhere);
}

TEST(RunProgressView, DatasetsThenIterationsOrWhatTheEngineDoes) {
    EXPECT_EQ(progress_view({}, 4, "").text, "reading the input");
    const ProgressView dataset = progress_view({3, false, 0, 0.0}, 4, "");
    EXPECT_EQ(dataset.text, "dataset 3 of 4");
    EXPECT_EQ(dataset.value, 2);
    EXPECT_EQ(dataset.maximum, 4);
    EXPECT_EQ(progress_view({5, false, 0, 0.0}, 4, "").text, "dataset 5 of 5");
    const ProgressView iteration = progress_view({0, true, 12, 0.0123456789}, 4, "");
    EXPECT_EQ(iteration.text, "iteration 12 of at most 100, objective 0.0123457");
    EXPECT_EQ(iteration.value, 12);
    EXPECT_EQ(iteration.maximum, 100);
    const ProgressView working = progress_view({0, true, 0, 0.0}, 4, "fitting");
    EXPECT_EQ(working.text, "fitting");
    EXPECT_EQ(working.maximum, 0);

    using std::chrono::milliseconds;
    EXPECT_EQ(elapsed_text(milliseconds(49)), "under 0.1 s");
    EXPECT_EQ(elapsed_text(milliseconds(50)), "0.1 s");
    EXPECT_EQ(elapsed_text(milliseconds(449)), "0.4 s");
    EXPECT_EQ(elapsed_text(milliseconds(59'940)), "59.9 s");
    EXPECT_EQ(elapsed_text(milliseconds(60'000)), "1 min 00 s");
    EXPECT_EQ(elapsed_text(milliseconds(7'500'000)), "2 h 05 min");
    EXPECT_EQ(threshold_text(1.0e-6), "0.000001");
    EXPECT_EQ(threshold_text(0.75), "0.75");
}

TEST_F(AttachedShellTest, NonConvergenceNoticeIsShownAndTheRunGoesOn) {
    run_behaviour = [](const inference::RunOptions& hooks) {
        hooks.notify("no convergence in svdcmp");
    };
    open(make_data_file());
    dialog.click(kInferButton);
    EXPECT_EQ(messages, std::vector<std::string>{"Netrevia: no convergence in svdcmp"});
    EXPECT_EQ(dialog.visible(kUpperStatusLine), "The computation is finished! ");
    EXPECT_TRUE(quit_codes.empty());
}

TEST_F(AttachedShellTest, RejectedDataFileIsExplainedAndTheWindowStaysOpen) {
    run_behaviour = [](const inference::RunOptions&) {
        throw inference::DataFileRejected("data.dat: more than four datasets");
    };
    open(make_data_file());
    dialog.click(kInferButton);
    expect_lines("data.dat: more than four datasets", "0.000000000000000E+000",
                 "1.000000000000000E-006");
    EXPECT_EQ(messages, std::vector<std::string>{"Netrevia: data.dat: more than four datasets"});
    EXPECT_TRUE(quit_codes.empty());
    EXPECT_FALSE(dialog.torn_down);
}

// A bad data file or an unwritable folder is reported in a plain message and in the upper
// status line; the window stays idle with the file and parameters, and the next run works.
TEST_F(AttachedShellTest, ReadAndWriteErrorsLeaveTheWindowIdleForTheNextRun) {
    const std::string data_file = make_data_file();
    open(data_file);
    dialog.type(kLambdaField, "0.25");
    const std::vector<std::function<void()>> failures{
        [&] { throw inference::InputError("end-of-file during read", 7, data_file); },
        [] { throw output::IoError("cannot open for writing", 3, "GRN.dat"); },
        [] { throw fs::filesystem_error("rename", std::make_error_code(std::errc::io_error)); },
    };
    for (const auto& failure : failures) {
        run_behaviour = [&](const inference::RunOptions&) { failure(); };
        dialog.click(kInferButton);
        EXPECT_EQ(dialog.visible(kUpperStatusLine), messages.back().substr(7));
        EXPECT_EQ(dialog.visible(kInferButton), "&Infer");
        EXPECT_TRUE(dialog.enabled(kOpenButton));
    }
    EXPECT_EQ(messages[0], "Error: end-of-file during read, unit 7, file " + data_file);
    EXPECT_EQ(messages[1], "Error: cannot open for writing, unit 3, file " +
                               (fs::current_path() / "GRN.dat").string());
    EXPECT_NE(messages[2].find("rename"), std::string::npos) << messages[2];
    EXPECT_EQ(dialog.visible(kMiddleStatusLine), "0.250000000000000");
    EXPECT_TRUE(quit_codes.empty());
    EXPECT_FALSE(dialog.torn_down);

    run_behaviour = [](const inference::RunOptions&) {};
    dialog.click(kInferButton);
    ASSERT_EQ(runs.size(), 4u);
    EXPECT_EQ(runs[3].path, padded(data_file));
    EXPECT_EQ(runs[3].lambda, 0.25);
    expect_lines("The computation is finished! ",
                 "Please check the output files in working directory!", "");
    EXPECT_EQ(messages.size(), 3u);
}

TEST_F(AttachedShellTest, AboutShowsThreeLinesAndChangesNothingElse) {
    dialog.type(kLambdaField, "3");
    dialog.click(kAboutButton);
    EXPECT_EQ(dialog.visible(kUpperStatusLine).rfind("Netrevia ", 0), 0u);
    EXPECT_FALSE(dialog.visible(kMiddleStatusLine).empty());
    EXPECT_FALSE(dialog.visible(kLowerStatusLine).empty());
    EXPECT_EQ(shell.parameters().lambda(), 3.0);
    EXPECT_EQ(dialog.visible(kLambdaField), "3");
}

TEST_F(AttachedShellTest, DestroyingTheWindowPostsQuitWithZero) {
    dialog.destroy();
    EXPECT_EQ(quit_codes, std::vector<int>{0});
}

TEST_F(AttachedShellTest, LayoutKeepsButtonsRightAndLowerLineAtTheBottom) {
    // Caption buttons 18 x 18, border 1: margins m = h = 13. Client 414 x 205; the client
    // origin lies 3 pixels right of the frame's left edge.
    const Rect infer_before = dialog.client_rect_of(kInferButton);
    const Rect open_before = dialog.client_rect_of(kOpenButton);
    const Rect lower_before = dialog.client_rect_of(kLowerStatusLine);
    dialog.dispatch(kWindowId, EventKind::size_changed);

    const int bw = open_before.width;
    const int bh = open_before.height;
    const int x = 414 - 1 - 13 - bw;
    EXPECT_EQ(dialog.client_rect_of(kOpenButton), (Rect{x, 13, bw, bh}));
    EXPECT_EQ(dialog.client_rect_of(kAboutButton), (Rect{x, bh + 26, bw, bh}));
    EXPECT_EQ(dialog.client_rect_of(kExitButton), (Rect{x, 205 - 13 - bh, bw, bh}));
    EXPECT_EQ(dialog.client_rect_of(kLowerStatusLine),
              (Rect{lower_before.x + 3 - 1, 205 - 13 - lower_before.height, lower_before.width,
                    lower_before.height}));
    EXPECT_EQ(dialog.client_rect_of(kInferButton), infer_before);
}

// The shell with a worker thread the test steps: the run starts on its own thread, ticks come
// when the test calls tick(), and done when it calls finish(). The run itself waits at the
// gate until the test opens it.
class BackgroundShellTest : public ShellTest {
protected:
    struct Job final : BackgroundJob {
        std::thread worker;
        ~Job() override {
            if (worker.joinable()) worker.join();
        }
    };
    std::function<void()> tick;
    std::function<void()> done;
    Job* job = nullptr;

    std::mutex gate_mutex;
    std::condition_variable gate_changed;
    bool gate_open = false;
    bool reached_gate = false;

    FakeDialog dialog;
    std::chrono::steady_clock::time_point clock{};
    Shell shell{background_platform()};

    Platform background_platform() {
        Platform p = platform();
        p.now = [this] { return clock; };
        p.start_background = [this](std::function<void()> work, std::function<void()> t,
                                    std::function<void()> d) -> std::unique_ptr<BackgroundJob> {
            auto started = std::make_unique<Job>();
            started->worker = std::thread(std::move(work));
            job = started.get();
            tick = std::move(t);
            done = std::move(d);
            return started;
        };
        return p;
    }
    void SetUp() override {
        ShellTest::SetUp();
        shell.attach(dialog);
        // Three courses, so that the progress can say "of 3".
        chosen_file = (temp_dir / "data.dat").string();
        fs::copy_file(EXAMPLES_DIR "/twenty_genes.dat", *chosen_file);
        dialog.click(kOpenButton);
    }
    // Run behaviour: wait at the gate (or for the cancel flag), as a long run would.
    void wait_at_gate(const inference::RunOptions& hooks) {
        std::unique_lock<std::mutex> lock(gate_mutex);
        reached_gate = true;
        gate_changed.notify_all();
        while (!gate_open && !hooks.cancel->load()) {
            gate_changed.wait_for(lock, std::chrono::milliseconds(5));
        }
        if (hooks.cancel->load()) throw inference::RunCancelled();
    }
    void wait_until_at_gate() {
        std::unique_lock<std::mutex> lock(gate_mutex);
        gate_changed.wait(lock, [&] { return reached_gate; });
    }
    void open_gate() {
        const std::lock_guard<std::mutex> lock(gate_mutex);
        gate_open = true;
        gate_changed.notify_all();
    }
    // The worker has returned; done runs on the test's thread as on the window's.
    void finish() {
        job->worker.join();
        done();
    }
    void expect_lines(std::string_view upper, std::string_view middle, std::string_view lower) {
        EXPECT_EQ(dialog.visible(kUpperStatusLine), upper);
        EXPECT_EQ(dialog.visible(kMiddleStatusLine), middle);
        EXPECT_EQ(dialog.visible(kLowerStatusLine), lower);
    }
    void expect_idle_controls(bool idle) {
        for (const int id :
             {kOpenButton, kAboutButton, kLambdaField, kThresholdField, kEngineList}) {
            EXPECT_EQ(dialog.enabled(id), idle) << id;
        }
        EXPECT_TRUE(dialog.enabled(kExitButton));
        EXPECT_TRUE(dialog.enabled(kInferButton));
        EXPECT_EQ(dialog.visible(kInferButton), idle ? "&Infer" : "&Cancel");
        // The bar and the elapsed time stand where the note stands while idle.
        EXPECT_EQ(dialog.shows(kRunNote), idle);
        EXPECT_EQ(dialog.shows(kProgressBar), !idle);
        EXPECT_EQ(dialog.shows(kElapsedTime), !idle);
    }
};

TEST_F(BackgroundShellTest, RunDisablesTheControlsAndShowsItsProgressOnTicks) {
    std::atomic<int> step{0};
    run_behaviour = [&](const inference::RunOptions& hooks) {
        hooks.dataset_observer(2);
        step = 1;
        wait_at_gate(hooks);
        hooks.observer(7, 0.125);
    };
    dialog.click(kInferButton);
    expect_idle_controls(false);
    EXPECT_EQ(dialog.visible(kUpperStatusLine), kPleaseWait);
    EXPECT_EQ(dialog.visible(kProgressBar), "reading the input");
    wait_until_at_gate();
    clock += std::chrono::milliseconds(2500);
    tick();
    EXPECT_EQ(dialog.visible(kUpperStatusLine), std::string(kPleaseWait) + "solving dataset 2");
    EXPECT_EQ(dialog.visible(kProgressBar), "dataset 2 of 3");
    EXPECT_EQ(dialog.progress(kProgressBar), (std::pair<int, int>{1, 3}));
    EXPECT_EQ(dialog.visible(kElapsedTime), "2.5 s");
    tick();  // unchanged progress is not set again
    EXPECT_EQ(std::count(dialog.applied.begin(), dialog.applied.end(),
                         std::pair<int, std::string>{
                             kUpperStatusLine, std::string(kPleaseWait) + "solving dataset 2"}),
              1);

    // Commands that arrive anyway (a queued click) change nothing during the run.
    dialog.click(kAboutButton);
    dialog.click(kOpenButton);
    dialog.drop_file(make_data_file("other.dat"));
    EXPECT_EQ(runs.size(), 1u);
    EXPECT_EQ(shell.data_path(), padded((temp_dir / "data.dat").string()));

    open_gate();
    job->worker.join();
    tick();
    EXPECT_EQ(dialog.visible(kUpperStatusLine),
              std::string(kPleaseWait) + "iteration 7, objective 0.125");
    EXPECT_EQ(dialog.visible(kProgressBar), "iteration 7 of at most 100, objective 0.125");
    EXPECT_EQ(dialog.progress(kProgressBar), (std::pair<int, int>{7, 100}));
    clock += std::chrono::seconds(185);
    done();
    expect_idle_controls(true);
    expect_lines("The computation is finished! ",
                 "Please check the output files in working directory!", "");
    EXPECT_EQ(
        dialog.visible(kRunNote),
        "Finished in 3 min 07 s (exact engine): GRN.dat and GRN.dot are in " + temp_dir.string());
    EXPECT_FALSE(shell.running());
}

// A run that ends while the question whether to stop it is open closes the question, and the
// window stays.
TEST_F(BackgroundShellTest, QuestionToStopARunClosesWhenTheRunEnds) {
    run_behaviour = [&](const inference::RunOptions& hooks) { wait_at_gate(hooks); };
    dialog.click(kInferButton);
    wait_until_at_gate();
    bool finished_inside = false;
    // The run ends while the box is open (its own event loop delivers done); the box is then
    // dismissed and answers No.
    ask_while_open = [&] {
        // The close box meanwhile asks nothing more.
        dialog.dispatch(kWindowId, EventKind::close_requested);
        open_gate();
        finish();
        finished_inside = !shell.running();
    };
    dialog.click(kExitButton);
    EXPECT_TRUE(finished_inside);
    EXPECT_EQ(dismissed_questions, 1);
    EXPECT_FALSE(dialog.torn_down);
    EXPECT_EQ(dialog.visible(kUpperStatusLine), "The computation is finished! ");
    dialog.click(kExitButton);  // idle now: closes without a question
    EXPECT_TRUE(dialog.torn_down);
    EXPECT_EQ(questions.size(), 1u);
}

// Infer (as Cancel) and Esc both stop the run; the window says so and is idle again.
TEST_F(BackgroundShellTest, CancelByButtonOrEscapeStopsTheRunAndLeavesTheWindowIdle) {
    run_behaviour = [&](const inference::RunOptions& hooks) { wait_at_gate(hooks); };
    for (const bool by_escape : {false, true}) {
        reached_gate = false;
        dialog.click(kInferButton);
        wait_until_at_gate();
        if (by_escape) {
            dialog.dispatch(kWindowId, EventKind::escape);
        } else {
            dialog.click(kInferButton);
        }
        tick();  // progress no longer replaces the cancelling text
        EXPECT_EQ(dialog.visible(kUpperStatusLine), "Cancelling the run, please wait! ");
        finish();
        EXPECT_EQ(dialog.visible(kUpperStatusLine), kCancelled);
        expect_idle_controls(true);
        EXPECT_TRUE(messages.empty());
        EXPECT_TRUE(quit_codes.empty());
    }
    EXPECT_EQ(runs.size(), 2u);
    dialog.dispatch(kWindowId, EventKind::escape);  // idle: nothing to stop
    EXPECT_EQ(dialog.visible(kUpperStatusLine), kCancelled);
}

// The non-convergence notice waits for acknowledgement: the worker stays blocked until a tick
// has shown the box, then goes on. Ticks that arrive while the box is open do not show it
// again; the next notice gets its own box.
TEST_F(BackgroundShellTest, NoticeFromTheWorkerIsShownByATickAndHoldsTheRun) {
    std::atomic<int> went_on{0};
    run_behaviour = [&](const inference::RunOptions& hooks) {
        hooks.dataset_observer(0);
        hooks.notify("no convergence in svdcmp");
        went_on = 1;
        hooks.notify("second notice");
        went_on = 2;
    };
    int nested_ticks = 0;
    while_message_shown = [&] {
        if (++nested_ticks == 1) tick();
    };
    dialog.click(kInferButton);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(went_on, 0);
    tick();
    EXPECT_EQ(dialog.visible(kUpperStatusLine), std::string(kPleaseWait) + "selecting the network");
    EXPECT_EQ(messages, std::vector<std::string>{"Netrevia: no convergence in svdcmp"});
    for (int wait = 0; wait < 1000 && messages.size() < 2; ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        tick();
    }
    EXPECT_EQ(messages.size(), 2u);
    finish();
    EXPECT_EQ(went_on, 2);
    EXPECT_EQ(dialog.visible(kUpperStatusLine), "The computation is finished! ");
}

// Exit and the close box during a run ask first; No keeps the run, Yes stops it and the
// window closes once the worker has returned.
TEST_F(BackgroundShellTest, ExitDuringARunAsksThenStopsTheRunBeforeClosing) {
    run_behaviour = [&](const inference::RunOptions& hooks) { wait_at_gate(hooks); };
    dialog.click(kInferButton);
    wait_until_at_gate();
    dialog.click(kExitButton);
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_TRUE(shell.running());
    EXPECT_FALSE(dialog.torn_down);

    answer_yes = true;
    dialog.dispatch(kWindowId, EventKind::close_requested);
    EXPECT_EQ(questions.size(), 2u);
    EXPECT_FALSE(dialog.torn_down);  // not before the worker has stopped
    finish();
    EXPECT_TRUE(dialog.torn_down);
    EXPECT_EQ(quit_codes, std::vector<int>{0});
}

TEST_F(BackgroundShellTest, ClosingTheShellDuringARunStopsAndJoinsTheWorker) {
    std::atomic<bool> stopped{false};
    auto early = std::make_unique<Shell>(background_platform());
    FakeDialog other;
    early->attach(other);
    early->choose_data_file(other, make_data_file("early.dat"));
    run_behaviour = [&](const inference::RunOptions& hooks) {
        hooks.notify("waiting for a box nobody will show");
        stopped = hooks.cancel->load();
    };
    other.click(kInferButton);
    early.reset();  // must neither hang on the notice nor leave the thread running
    EXPECT_TRUE(stopped);
}

// A dropped file and a file on the command line are chosen as Open would choose them; the
// next file dialog starts in the chosen file's folder.
TEST_F(ShellTest, DroppedFileAndCommandLineFileAreChosenAsByOpen) {
    const std::string dropped = make_data_file("dropped.dat");
    FakeDialog dialog;
    Shell shell(platform());
    shell.attach(dialog);
    dialog.drop_file(dropped);
    EXPECT_EQ(shell.data_path(), padded(dropped));
    EXPECT_EQ(dialog.visible(kUpperStatusLine), "Status: Multiple Microarray Datasets are ready ");
    dialog.click(kOpenButton);
    EXPECT_EQ(offered_start_folder, temp_dir.string());

    fs::current_path(saved_working_directory);
    const std::string argument = make_data_file("argument.dat");
    message_loop = [&] {
        EXPECT_EQ(created->visible(kLowerStatusLine), padded(argument));
        created->click(kInferButton);
        created->click(kExitButton);
        return 0;
    };
    EXPECT_EQ(run_application(platform(), argument), 0);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].path, padded(argument));
    EXPECT_TRUE(fs::equivalent(fs::current_path(), temp_dir));
}

}  // namespace
}  // namespace netrevia::app
