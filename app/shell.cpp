#include "app/shell.h"

#include <atomic>
#include <charconv>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <mutex>
#include <new>
#include <optional>
#include <system_error>
#include <utility>

#include "app/results_folder.h"
#include "inference/data_file.h"
#include "inference/input_error.h"
#include "inference/run.h"
#include "output/io_error.h"
#include "table/expression_table.h"
#include "table/import.h"

#ifndef NETREVIA_VERSION
#define NETREVIA_VERSION "0.0.0"
#endif

namespace netrevia::app {
namespace {

constexpr std::string_view kNoticeCaption = "Netrevia";
constexpr std::string_view kErrorCaption = "Error";

std::string padded_path_field(std::string path) {
    if (path.size() < kPathFieldLength) path.resize(kPathFieldLength, ' ');
    return path;
}

bool all_blank(std::string_view text) { return text.find_first_not_of(' ') == text.npos; }

std::string without_trailing_blanks(std::string_view text) {
    const std::size_t end = text.find_last_not_of(' ');
    return std::string(text.substr(0, end == text.npos ? 0 : end + 1));
}

// A reader's message without the file it names, which the window shows beside it: "input
// error: ... (line 2)" of "input error: ... (line 2), unit 7, file <file>", "dataset block 5:
// ..." of "data file <file>, dataset block 5: ...".
std::string without_file(std::string message, const std::string& file) {
    for (const std::string& suffix : {", unit 7, file " + file}) {
        if (message.ends_with(suffix)) message.erase(message.size() - suffix.size());
    }
    for (const std::string& prefix : {"data file " + file + ", ", "data file " + file + ": "}) {
        if (message.starts_with(prefix)) message.erase(0, prefix.size());
    }
    return message;
}

constexpr std::string_view kOpenHint =
    "Open a data file or an expression table (.csv, .tsv, .txt) to begin.";

}  // namespace

ProgressView progress_view(const RunProgress& progress, int datasets, std::string_view working) {
    if (progress.selecting) {
        if (!working.empty()) return {0, 0, std::string(working)};
        if (progress.iteration == 0) {
            return {0, selection::kMaxIterations, "selecting the network"};
        }
        char text[96];
        std::snprintf(text, sizeof text, "iteration %d of at most %d, objective %.6g",
                      progress.iteration, selection::kMaxIterations, progress.objective);
        return {progress.iteration, selection::kMaxIterations, text};
    }
    if (progress.dataset > 0) {
        const int of = std::max(datasets, progress.dataset);
        return {progress.dataset - 1, of,
                "dataset " + std::to_string(progress.dataset) + " of " + std::to_string(of)};
    }
    return {0, 0, "reading the input"};
}

std::string elapsed_text(std::chrono::steady_clock::duration elapsed) {
    const double seconds = std::chrono::duration<double>(elapsed).count();
    char text[48];
    if (seconds < 0.05) {
        return "under 0.1 s";  // "0.0 s" would read as if nothing had run
    } else if (seconds < 60.0) {
        std::snprintf(text, sizeof text, "%.1f s", seconds);
    } else if (seconds < 3600.0) {
        const long long whole = static_cast<long long>(seconds);
        std::snprintf(text, sizeof text, "%lld min %02lld s", whole / 60, whole % 60);
    } else {
        const long long minutes = static_cast<long long>(seconds) / 60;
        std::snprintf(text, sizeof text, "%lld h %02lld min", minutes / 60, minutes % 60);
    }
    return text;
}

std::string threshold_text(double threshold) {
    char text[64];
    const auto result =
        std::to_chars(text, text + sizeof text, threshold, std::chars_format::fixed);
    return std::string(text, result.ptr);
}

// What a run shares between the window's thread and its worker. The worker writes progress
// and posts notices; the window's tick shows them. A notice holds the worker until the user
// has dismissed it (the notice waits for acknowledgement) or the run is cancelled.
struct Shell::ActiveRun {
    RunRequest request;
    std::chrono::steady_clock::time_point start;
    int datasets = 0;          // courses Open found
    std::string_view working;  // what the engine does, when it has no iterations
    std::atomic<bool> cancel{false};
    std::exception_ptr failure;  // written by the worker before it returns
    // For the Results window: the run's summary once its counts are known, and when that was.
    // Written by the worker before it returns.
    std::optional<inference::RunSummary> summary;
    std::chrono::steady_clock::duration wall_time{};
    // Hashes each input as the run reads it, for run.json: written by the worker only.
    exports::InputDigests digests;
    RunNotes notes;  // written by the worker only

    std::mutex mutex;
    std::condition_variable notice_dismissed;
    std::string progress;               // guarded by mutex
    RunProgress state;                  // guarded by mutex
    std::optional<std::string> notice;  // guarded by mutex: waiting to be shown

    void set_progress(std::string text, const RunProgress& now) {
        const std::lock_guard<std::mutex> lock(mutex);
        progress = std::move(text);
        state = now;
    }
    void stop() {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            cancel = true;
        }
        notice_dismissed.notify_all();
    }
};

Shell::Shell(Platform platform)
    : platform_(std::move(platform)), data_path_(kPathFieldLength, ' ') {}

Shell::~Shell() {
    if (run_) run_->stop();
    job_.reset();
}

void Shell::attach(Dialog& dialog) {
    // The stored parameters start at 0.0 and 1.0e-6 by themselves; these texts are set before
    // the field handlers exist, so they are not parsed.
    dialog.set_text(kLambdaField, "0.0");
    dialog.set_text(kThresholdField, "0.000001");

    const auto bind = [this](void (Shell::*member)(Dialog&, int, EventKind)) -> Handler {
        return [this, member](Dialog& d, int id, EventKind kind) { (this->*member)(d, id, kind); };
    };
    const Handler parameter_handler = [this](Dialog& d, int id, EventKind) {
        parameters_.on_text_changed(d, id);
    };
    dialog.register_handler(kLambdaField, EventKind::text_changed, parameter_handler);
    dialog.register_handler(kThresholdField, EventKind::text_changed, parameter_handler);
    dialog.register_handler(kWindowId, EventKind::initialised, bind(&Shell::quit_on_destroy));
    dialog.register_handler(kWindowId, EventKind::destroyed, bind(&Shell::quit_on_destroy));
    dialog.register_handler(kWindowId, EventKind::size_changed, bind(&Shell::layout));
    dialog.register_handler(kOpenButton, EventKind::clicked, bind(&Shell::open_command));
    dialog.register_handler(kAboutButton, EventKind::clicked, bind(&Shell::about_command));
    dialog.register_handler(kInferButton, EventKind::clicked, bind(&Shell::infer_command));
    // Exit and the close box close the window when idle, as an unhandled button would; during
    // a run they first ask whether to stop it.
    dialog.register_handler(kExitButton, EventKind::clicked, bind(&Shell::exit_command));
    dialog.register_handler(kWindowId, EventKind::close_requested, bind(&Shell::exit_command));
    dialog.register_handler(kWindowId, EventKind::escape, bind(&Shell::escape_key));
    dialog.register_handler(kWindowId, EventKind::file_dropped, bind(&Shell::file_dropped));

    // The engines, the default first, and the seed the engines that draw at random take.
    std::vector<std::string> names;
    for (const inference::EngineDescription& engine : inference::engines()) {
        names.push_back(std::string(engine.name) + (names.empty() ? " (default)" : ""));
    }
    dialog.set_items(kEngineList, names);
    dialog.set_text(kSeedField, "0");
    dialog.register_handler(kEngineList, EventKind::selection_changed,
                            bind(&Shell::engine_changed));
    dialog.register_handler(kSeedField, EventKind::text_changed, bind(&Shell::seed_changed));
    dialog.select_item(kEngineList, 0);
    dialog.set_text(kInputSummary, kOpenHint);
}

void Shell::engine_changed(Dialog& dialog, int, EventKind) {
    const int index = dialog.selected_item(kEngineList);
    const auto engines = inference::engines();
    if (index < 0 || static_cast<std::size_t>(index) >= engines.size()) return;
    const inference::EngineDescription& chosen = engines[static_cast<std::size_t>(index)];
    // A threshold left at the former engine's default follows the new engine's: the ensemble's
    // scores lie in [0, 1], where 0.000001 would draw every pair of genes.
    const std::string threshold(without_trailing_blanks(dialog.get_text(kThresholdField)));
    if (&chosen != engine_ && threshold == threshold_text(engine_->default_threshold) &&
        chosen.default_threshold != engine_->default_threshold) {
        dialog.set_text(kThresholdField, threshold_text(chosen.default_threshold));
    }
    engine_ = &chosen;
    dialog.set_enabled(kSeedField, chosen.uses_seed);
    dialog.set_enabled(kSeedLabel, chosen.uses_seed);
    show_engine_note(dialog);
}

void Shell::seed_changed(Dialog& dialog, int, EventKind) {
    std::uint64_t seed = 0;
    if (parse_seed(dialog.get_text(kSeedField), seed) == FieldProblem::none) {
        dialog.set_marked(kSeedField, false);
    }
}

void Shell::show_engine_note(Dialog& dialog) {
    dialog.set_text(kRunNote, engine_note());
    dialog.set_marked(kRunNote, !input_refusal().empty());
}

std::string Shell::input_refusal() const {
    if (!summary_.read) return {};
    return inference::engine_refusal(*engine_, summary_.genes, summary_.courses(),
                                     summary_.intervals());
}

std::string Shell::engine_note() const {
    std::string refusal = input_refusal();
    if (refusal.empty()) {
        return std::string(engine_->name) + ": " + std::string(engine_->summary) + ".";
    }
    if (input_.table && summary_.courses() > inference::engine_course_limit(engine_->engine)) {
        refusal += " Or pick courses on Open.";
    }
    return refusal;
}

std::chrono::steady_clock::time_point Shell::now() const {
    return platform_.now ? platform_.now() : std::chrono::steady_clock::now();
}

void Shell::open_command(Dialog& dialog, int, EventKind kind) {
    if (kind != EventKind::clicked || run_) return;
    const std::vector<FileFilter> filters{
        {"All files (*.*)", "*.*"},
        {"Multiple Gene Expression Data Files (.dat)", "*.dat"},
        {"Expression tables (.csv, .tsv, .txt)", "*.csv *.tsv *.txt"},
    };
    // The dialog starts in the folder of the last chosen file.
    std::string start_folder;
    if (!all_blank(data_path_)) {
        const std::string chosen = data_path_.substr(0, data_path_.find_last_not_of(' ') + 1);
        start_folder = std::filesystem::path(chosen).parent_path().string();
    }
    const std::optional<std::string> chosen = platform_.choose_file(dialog, filters, start_folder);
    if (!chosen) return;
    choose_data_file(dialog, *chosen);
}

void Shell::choose_data_file(Dialog& dialog, std::string file) {
    if (run_) return;
    std::string name = file.substr(0, file.find('\0'));
    if (name.empty()) return;

    // The chosen file's folder becomes the working directory, so that GRN.dat and GRN.dot
    // are written beside the data file. A relative name is made absolute first so that it
    // still names the file afterwards. If the folder cannot be entered, the files go to the
    // working directory as it was.
    std::error_code error;
    const std::filesystem::path path = std::filesystem::absolute(name, error);
    if (!error) name = path.string();
    InputChoice input;
    InputSummary summary;
    if (!read_input(dialog, name, input, summary)) return;  // the import was cancelled
    if (!error) std::filesystem::current_path(path.parent_path(), error);

    // Paths longer than the field are kept whole rather than cut: a cut path names another
    // file.
    std::string field = padded_path_field(std::move(name));
    dialog.set_text(kLowerStatusLine, "");
    dialog.set_text(kMiddleStatusLine, "");
    dialog.set_text(kUpperStatusLine, "");
    dialog.set_text(kLowerStatusLine, field);
    dialog.set_text(kUpperStatusLine, "Status: Multiple Microarray Datasets are ready ");
    data_path_ = std::move(field);
    input_ = std::move(input);
    summary_ = std::move(summary);
    dialog.set_text(kInputSummary, summary_line(summary_, input_));
    show_engine_note(dialog);
}

bool Shell::read_input(Dialog& dialog,
                       const std::string& file,
                       InputChoice& input,
                       InputSummary& summary) {
    // As the batch tool decides: a file is read as a data file first; one that the data-file
    // reader refuses is read as a table when its name is a table's (.csv, .tsv, .txt) and it
    // exists. The reasons stay for Infer, which reads the file again and reports them.
    std::string problem;
    bool may_be_table = table::has_table_extension(file);
    try {
        summary = read_data_file_summary(file);
        return true;
    } catch (const inference::InputError& refused) {
        problem = refused.what();
        std::error_code error;
        may_be_table = may_be_table && std::filesystem::is_regular_file(file, error);
    } catch (const std::exception& refused) {  // DataFileRejected, exhausted memory
        problem = refused.what();
    }
    summary.problem = without_file(problem, file);
    if (!may_be_table || !platform_.import_table) return true;
    const std::optional<importer::TableChoice> choice =
        platform_.import_table(dialog, file, summary.problem);
    if (!choice) return false;
    input.table = true;
    input.table_options = choice->options;
    input.table_arguments = choice->arguments;
    input.table_format = choice->format;
    summary = InputSummary{};
    summary.read = true;
    summary.genes = choice->genes;
    summary.time_points = choice->time_points;
    return true;
}

void Shell::about_command(Dialog& dialog, int, EventKind kind) {
    if (kind != EventKind::clicked || run_) return;
    dialog.set_text(kUpperStatusLine,
                    "Netrevia " NETREVIA_VERSION " - gene regulatory network inference");
    dialog.set_text(kMiddleStatusLine, "Made by the Netrevia developers for systems biology");
    dialog.set_text(kLowerStatusLine, "Questions and reports: the Netrevia issue tracker");
}

void Shell::infer_command(Dialog& dialog, int, EventKind kind) {
    if (kind != EventKind::clicked) return;
    if (run_) {  // the button reads "&Cancel" during a run
        cancel_run(dialog);
        return;
    }
    dialog.set_text(kLowerStatusLine, "");
    dialog.set_text(kMiddleStatusLine, "");
    dialog.set_text(kUpperStatusLine, "");

    // Re-read both fields. A run takes only the values the fields show: a text that does not
    // parse (empty, "1e400", "0,39") stops the command, its field named, marked and focused.
    const FieldProblem lambda_problem = parameters_.on_text_changed(dialog, kLambdaField);
    const FieldProblem threshold_problem = parameters_.on_text_changed(dialog, kThresholdField);
    const double lambda = parameters_.lambda();
    const double threshold = parameters_.threshold();
    if (lambda_problem == FieldProblem::none) {
        dialog.set_text(kMiddleStatusLine, display_format(lambda));
    }
    if (threshold_problem == FieldProblem::none) {
        dialog.set_text(kLowerStatusLine, display_format(threshold));
    }
    if (lambda_problem != FieldProblem::none) {
        return refuse_field(dialog, kLambdaField, "Lambda", lambda_problem);
    }
    if (threshold_problem != FieldProblem::none) {
        return refuse_field(dialog, kThresholdField, "threshold", threshold_problem);
    }
    std::uint64_t seed = 0;
    if (engine_->uses_seed) {
        const FieldProblem seed_problem = parse_seed(dialog.get_text(kSeedField), seed);
        if (seed_problem != FieldProblem::none) {
            return refuse_field(dialog, kSeedField, "Seed", seed_problem);
        }
    }

    if (all_blank(data_path_)) {
        dialog.set_text(kUpperStatusLine, "Please choose the Data file! ");
        return;
    }
    if (const std::string refusal = input_refusal(); !refusal.empty()) {
        dialog.set_text(kUpperStatusLine, refusal);
        return;
    }
    const std::optional<std::filesystem::path> folder = results_folder(dialog);
    if (!folder) return;

    RunRequest request;
    request.data_path = data_path_;
    request.input = input_;
    request.lambda = lambda;
    request.threshold = threshold;
    request.engine = engine_->engine;
    request.seed = seed;
    request.output_dir = *folder;
    dialog.set_text(kUpperStatusLine, kPleaseWait);
    start_run(dialog, std::move(request));
}

void Shell::refuse_field(Dialog& dialog, int id, std::string_view label, FieldProblem problem) {
    dialog.set_text(kUpperStatusLine, refusal_text(label, problem, dialog.get_text(id)));
    dialog.set_marked(id, true);
    dialog.set_focus(id);
}

std::optional<std::filesystem::path> Shell::results_folder(Dialog& dialog) {
    const std::filesystem::path data_folder =
        std::filesystem::path(without_trailing_blanks(data_path_)).parent_path();
    const auto remembered = results_folders_.find(data_folder);
    std::filesystem::path folder =
        remembered == results_folders_.end() ? data_folder : remembered->second;
    std::string problem = results_folder_problem(folder);
    while (!problem.empty()) {
        const std::string question = "The results cannot be written to the folder " +
                                     folder.string() + ":\n" + problem +
                                     ".\n\nChoose another folder for GRN.dat and GRN.dot?";
        std::optional<std::string> chosen;
        if (platform_.choose_folder && platform_.ask_yes_no(dialog, question, kNoticeCaption)) {
            chosen = platform_.choose_folder(dialog, std::string());
        }
        if (!chosen || chosen->empty()) {
            dialog.set_text(kUpperStatusLine,
                            "No folder for the results: " + problem + "; nothing was run.");
            return std::nullopt;
        }
        std::error_code error;
        folder = std::filesystem::absolute(*chosen, error);
        if (error) folder = *chosen;
        problem = results_folder_problem(folder);
    }
    if (folder == data_folder) {
        results_folders_.erase(data_folder);
    } else {
        results_folders_[data_folder] = folder;
    }
    // The results' folder is the working directory, where the completion hint sends the user.
    std::error_code ignored;
    std::filesystem::current_path(folder, ignored);
    return folder;
}

void Shell::start_run(Dialog& dialog, RunRequest request) {
    auto run = std::make_shared<ActiveRun>();
    run->request = std::move(request);
    run->start = now();
    run->datasets = summary_.courses();
    run->working = engine_->working;
    run_ = run;
    shown_progress_.clear();
    set_running(dialog, true);
    dialog.set_progress(kProgressBar, 0, 0);
    dialog.set_text(kProgressBar, progress_view({}, run->datasets, run->working).text);
    dialog.set_text(kElapsedTime, elapsed_text({}));

    const bool background = static_cast<bool>(platform_.start_background);
    inference::RunOptions hooks;
    hooks.cancel = &run->cancel;
    hooks.input_observer = &run->digests;
    hooks.dataset_observer = [run](int k) {
        RunProgress state;
        state.dataset = k;
        state.selecting = k == 0;
        run->set_progress(
            k > 0 ? "solving dataset " + std::to_string(k) : std::string("selecting the network"),
            state);
    };
    hooks.observer = [run](int iteration, double objective) {
        char text[64];
        std::snprintf(text, sizeof text, "iteration %d, objective %.6g", iteration, objective);
        run->set_progress(text, {0, true, iteration, objective});
    };
    if (background) {
        // The notice is shown by the window's tick; the worker waits for its dismissal.
        hooks.notify = [run](std::string_view text) {
            std::unique_lock<std::mutex> lock(run->mutex);
            run->notice = std::string(text);
            run->notice_dismissed.wait(lock, [&] { return !run->notice || run->cancel; });
        };
    } else {
        hooks.notify = [this, &dialog](std::string_view text) {
            platform_.message_box(&dialog, text, kNoticeCaption);
        };
    }
    if (platform_.show_results) {
        // The run hands its summary to extra_files once the network and its edge counts are
        // known, just before the commit; the window writes no extra file, so the hook only
        // keeps the summary, shown if the commit then succeeds.
        hooks.extra_files = [run, clock = platform_.now](const inference::RunSummary& summary) {
            run->summary = summary;
            run->wall_time = (clock ? clock() : std::chrono::steady_clock::now()) - run->start;
            return std::vector<output::ExtraResultFile>{};
        };
    }
    auto work = [this, run, hooks] {
        // Nothing may leave the worker by exception: the window reports it in finish_run.
        try {
            platform_.run_inference(run->request, hooks, run->notes);
        } catch (...) {
            run->failure = std::current_exception();
        }
    };
    auto tick = [this, &dialog] { show_progress(dialog); };
    auto done = [this, &dialog] { finish_run(dialog); };
    job_.reset();
    if (background) {
        job_ = platform_.start_background(std::move(work), std::move(tick), std::move(done));
    } else {
        work();
        done();
    }
}

void Shell::show_progress(Dialog& dialog) {
    const std::shared_ptr<ActiveRun> run = run_;
    if (!run || run->cancel) return;
    std::optional<std::string> notice;
    std::string progress;
    RunProgress state;
    {
        const std::lock_guard<std::mutex> lock(run->mutex);
        progress = run->progress;
        state = run->state;
        if (!showing_notice_) notice = run->notice;
    }
    if (progress != shown_progress_) {
        shown_progress_ = progress;
        dialog.set_text(kUpperStatusLine, std::string(kPleaseWait) + progress);
    }
    const ProgressView bar = progress_view(state, run->datasets, run->working);
    dialog.set_progress(kProgressBar, bar.value, bar.maximum);
    dialog.set_text(kProgressBar, bar.text);
    dialog.set_text(kElapsedTime, elapsed_text(now() - run->start));
    if (notice) {
        // The box runs its own event loop, in which further ticks must not show it again.
        showing_notice_ = true;
        platform_.message_box(&dialog, *notice, kNoticeCaption);
        showing_notice_ = false;
        {
            const std::lock_guard<std::mutex> lock(run->mutex);
            run->notice.reset();
        }
        run->notice_dismissed.notify_all();
    }
}

void Shell::cancel_run(Dialog& dialog) {
    if (!run_ || run_->cancel) return;
    run_->stop();
    dialog.set_text(kUpperStatusLine, "Cancelling the run, please wait! ");
}

void Shell::set_running(Dialog& dialog, bool running) {
    // Disabled controls take no input, so nothing typed or clicked during a run is queued and
    // replayed when it ends. Exit stays enabled, and Infer becomes the Cancel button.
    for (const int id : {kOpenButton, kAboutButton, kLambdaField, kThresholdField, kEngineList}) {
        dialog.set_enabled(id, !running);
    }
    dialog.set_enabled(kSeedField, !running && engine_->uses_seed);
    dialog.set_text(kInferButton, running ? "&Cancel" : "&Infer");
    // The progress bar and the elapsed time take the note's place during the run.
    dialog.set_visible(kRunNote, !running);
    dialog.set_visible(kProgressBar, running);
    dialog.set_visible(kElapsedTime, running);
}

void Shell::finish_run(Dialog& dialog) {
    const std::shared_ptr<ActiveRun> run = std::move(run_);
    // The question whether to stop the run has no object any more.
    if (asking_exit_ && platform_.dismiss_question) platform_.dismiss_question();
    set_running(dialog, false);
    if (exit_after_run_) {
        dialog.destroy();
        return;
    }
    const std::string elapsed = elapsed_text(now() - run->start);
    show_engine_note(dialog);
    if (!run->failure) {
        dialog.set_text(kUpperStatusLine, "The computation is finished! ");
        dialog.set_text(kMiddleStatusLine, "Please check the output files in working directory!");
        dialog.set_text(kLowerStatusLine, "");
        dialog.set_marked(kRunNote, false);
        dialog.set_text(kRunNote, "Finished in " + elapsed + " (" + std::string(engine_->name) +
                                      " engine): GRN.dat and GRN.dot are in " +
                                      run->request.output_dir.string());
        if (platform_.show_results && run->summary) show_results(dialog, *run);
        return;
    }
    // Input and output failures are reported and leave the window idle, the parameters and
    // the chosen file in place: the run wrote nothing, so earlier results are as they were.
    // Only exhausted memory still ends the program.
    const auto report = [&](std::string_view message, std::string_view caption) {
        dialog.set_text(kUpperStatusLine, message);
        platform_.message_box(&dialog, message, caption);
    };
    try {
        std::rethrow_exception(run->failure);
    } catch (const inference::RunCancelled&) {
        dialog.set_text(kUpperStatusLine, kCancelled);
    } catch (const inference::DataFileRejected& rejected) {
        report(rejected.what(), kNoticeCaption);
    } catch (const inference::InputError& input_error) {
        report(input_error.what(), kErrorCaption);
    } catch (const output::IoError& io_error) {
        report(io_error.what(), kErrorCaption);
    } catch (const std::bad_alloc&) {
        fail_run(dialog, "insufficient virtual memory");
    } catch (const std::exception& unexpected) {
        report(unexpected.what(), kErrorCaption);
    } catch (...) {
        report("unexpected failure of the inference run", kErrorCaption);
    }
}

void Shell::show_results(Dialog& dialog, ActiveRun& run) {
    FinishedRun finished;
    finished.summary = std::move(*run.summary);
    finished.data_file = without_trailing_blanks(run.request.data_path);
    // Where the run wrote, made absolute now, while the working directory is the run's.
    std::error_code error;
    finished.results_folder = std::filesystem::absolute(finished.summary.matrix_file, error)
                                  .lexically_normal()
                                  .parent_path();
    finished.lambda = run.request.lambda;
    finished.threshold = run.request.threshold;
    finished.engine = run.request.engine;
    finished.seed = run.request.seed;
    finished.inputs = run.digests.records();
    finished.tables = run.request.input.table;
    finished.replicates = run.notes.replicates;
    finished.wall_time = run.wall_time;
    // The window is extra: a failure there must not turn a successful run into a failed one.
    try {
        platform_.show_results(dialog, std::move(finished));
    } catch (...) {
    }
}

void Shell::fail_run(Dialog& dialog, std::string_view message) {
    // Fatal: the user reads the message, then the program ends with a failure code.
    platform_.message_box(&dialog, message, kErrorCaption);
    platform_.post_quit(1);
}

void Shell::exit_command(Dialog& dialog, int, EventKind) {
    if (!run_) {
        dialog.destroy();
        return;
    }
    if (exit_after_run_ || asking_exit_) return;
    asking_exit_ = true;
    const bool stop = platform_.ask_yes_no(
        dialog, "An inference run is under way. Stop it and exit?", kNoticeCaption);
    asking_exit_ = false;
    if (!stop) return;
    if (!run_) {  // the run ended while the question was open
        dialog.destroy();
        return;
    }
    // The window closes once the worker has stopped: it must not outlive the program.
    exit_after_run_ = true;
    cancel_run(dialog);
}

void Shell::escape_key(Dialog& dialog, int, EventKind) { cancel_run(dialog); }

void Shell::file_dropped(Dialog& dialog, int, EventKind) {
    choose_data_file(dialog, dialog.dropped_file());
}

void Shell::quit_on_destroy(Dialog&, int, EventKind kind) {
    if (kind == EventKind::destroyed) platform_.post_quit(0);
}

void Shell::layout(Dialog& dialog, int, EventKind) {
    // Keeps the command buttons against the right edge (Open and About from the top, Exit
    // from the bottom) and the lower status line against the bottom edge, with margins
    // derived from the caption-button size. All sizes in pixels, integer arithmetic.
    const WindowMetrics metrics = dialog.metrics();
    const int bx = metrics.border_width;
    const int m = 3 * metrics.caption_button_height / 4;
    const int h = 3 * metrics.caption_button_width / 4;
    const Rect client = dialog.client_rect();
    const int W = client.width;
    const int H = client.height;
    const int wl = dialog.window_rect().x;

    const Rect open = dialog.control_rect(kOpenButton);
    const int bw = open.width;
    const int bh = open.height;
    const int button_x = W - bx - h - bw;
    dialog.move_control(kOpenButton, {button_x, m, bw, bh});
    dialog.move_control(kAboutButton, {button_x, bh + 2 * m, bw, bh});
    dialog.move_control(kExitButton, {button_x, H - m - bh, bw, bh});

    const Rect lower = dialog.control_rect(kLowerStatusLine);
    dialog.move_control(kLowerStatusLine,
                        {lower.x - bx - wl, H - m - lower.height, lower.width, lower.height});
}

int run_application(const Platform& platform, const std::string& initial_file) {
    Shell shell(platform);
    std::unique_ptr<Dialog> dialog = platform.create_dialog(main_window_template());
    if (dialog) {
        shell.attach(*dialog);
        if (dialog->show()) {
            if (!initial_file.empty()) shell.choose_data_file(*dialog, initial_file);
            const int exit_code = platform.run_message_loop();
            dialog->destroy();
            return exit_code;
        }
    }
    platform.message_box(nullptr, "Error initializing application Netrevia", kErrorCaption);
    return 0;
}

}  // namespace netrevia::app
