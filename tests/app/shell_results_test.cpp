// The shell's hand-over to the Results window: the summary of a run whose files were written,
// once per run, and nothing for a run that failed at the commit or was cancelled.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "app/shell.h"
#include "fake_dialog.h"
#include "output/io_error.h"
#include "support/support.h"
#include "table/import.h"

namespace netrevia::app {
namespace {

namespace fs = std::filesystem;

class ShellResultsTest : public ::testing::Test {
protected:
    ShellResultsTest() {
        std::ofstream(data_file) << "END\n";
        Platform p;
        p.message_box = [](Dialog*, std::string_view, std::string_view) {};
        p.post_quit = [](int) {};
        p.run_inference = [this](const RunRequest& request, const inference::RunOptions& hooks,
                                 RunNotes& notes) {
            inference::RunSummary summary;
            summary.network.n = 3;
            summary.positive_edges = 2;
            summary.threshold = 0.25;
            summary.matrix_file = request.output_dir / "GRN.dat";  // as the run names it
            // What the reader shows the observer as it reads the file.
            EXPECT_NE(hooks.input_observer, nullptr);
            if (hooks.input_observer) {
                hooks.input_observer->begin(data_file);
                hooks.input_observer->bytes("END\n");
                hooks.input_observer->end();
            }
            EXPECT_TRUE(hooks.extra_files);
            if (hooks.extra_files) {
                EXPECT_TRUE(hooks.extra_files(summary).empty());  // the window writes no export
            }
            if (fail_commit) throw output::IoError("write error", 3, "GRN.dat");
            notes.replicates = exports::ReplicateRecord{"mean", 6, 2, "as read"};
            return summary;
        };
        p.show_results = [this](Dialog&, FinishedRun run) { shown.push_back(std::move(run)); };
        shell = std::make_unique<Shell>(std::move(p));
        shell->attach(dialog);
        shell->choose_data_file(dialog, data_file.string());
    }
    ~ShellResultsTest() override { fs::current_path(saved); }

    fs::path saved = fs::current_path();
    test_support::TempDir folder{"netrevia-shell-results"};
    fs::path data_file = folder.path() / "data.dat";
    bool fail_commit = false;
    std::vector<FinishedRun> shown;
    FakeDialog dialog;
    std::unique_ptr<Shell> shell;
};

TEST_F(ShellResultsTest, ASuccessfulRunHandsOverItsSummaryOnce) {
    dialog.type(kLambdaField, "0.5");
    dialog.type(kThresholdField, "0.25");
    dialog.click(kInferButton);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].summary.network.n, 3);
    EXPECT_EQ(shown[0].summary.positive_edges, 2);
    EXPECT_EQ(shown[0].data_file, data_file);
    EXPECT_EQ(shown[0].results_folder, folder.path());  // the working directory of the run
    EXPECT_EQ(shown[0].lambda, 0.5);
    EXPECT_EQ(shown[0].threshold, 0.25);
    EXPECT_EQ(shown[0].engine, selection::Engine::kExact);
    // run.json records the input as the run read it, not as the file is afterwards.
    ASSERT_EQ(shown[0].inputs.size(), 1u);
    EXPECT_EQ(shown[0].inputs[0].path, data_file);
    EXPECT_EQ(shown[0].inputs[0].bytes, 4u);
    EXPECT_EQ(shown[0].inputs[0].sha256,
              "8d109c0c834724e126dfb29b8c45f209940a320f55491ffcdff2b9566b1686af");
    EXPECT_FALSE(shown[0].tables);
    ASSERT_TRUE(shown[0].replicates);  // what the run noted of its input, for run.json
    EXPECT_EQ(shown[0].replicates->summary, "as read");
    EXPECT_EQ(dialog.visible(kUpperStatusLine), "The computation is finished! ");
    dialog.click(kInferButton);
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[1].inputs.size(), 1u);  // each run hashes its own reading
}

// A table with replicates, run as the window runs it, notes what the batch tool's run.json
// records of them.
TEST(RunRequest, NotesTheReplicatesOfATableAsTheBatchToolRecordsThem) {
    const test_support::TempDir folder("netrevia-run-request");
    RunRequest request;
    request.data_path = EXAMPLES_DIR "/five_genes_replicates.tsv";
    request.input.table = true;
    ASSERT_EQ(table::set_table_option("--scale", "log2", request.input.table_options), "");
    ASSERT_EQ(table::set_table_option("--replicates", "courses", request.input.table_options), "");
    request.engine = selection::Engine::kEnsemble;
    request.threshold = 0.75;
    request.output_dir = folder.path();
    RunNotes notes;
    const inference::RunSummary summary = run_request(request, inference::RunOptions{}, notes);
    EXPECT_EQ(summary.network.K, 6);
    ASSERT_TRUE(notes.replicates);
    EXPECT_EQ(notes.replicates->handling, "courses");
    EXPECT_EQ(notes.replicates->replicates, 6);
    EXPECT_EQ(notes.replicates->courses, 2);
    EXPECT_EQ(notes.replicates->summary, "6 replicates of 2 courses taken each as a course");

    RunNotes none;
    request.data_path = EXAMPLES_DIR "/twenty_genes.dat";
    request.input.table = false;
    run_request(request, inference::RunOptions{}, none);
    EXPECT_FALSE(none.replicates);
}

TEST_F(ShellResultsTest, ARunThatFailsAtTheCommitShowsNothing) {
    fail_commit = true;
    dialog.click(kInferButton);
    EXPECT_TRUE(shown.empty());
    EXPECT_NE(dialog.visible(kUpperStatusLine).find("GRN.dat"), std::string::npos);
}

}  // namespace
}  // namespace netrevia::app
