#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "batch_fixture.h"
#include "cli/batch.h"
#include "cli/stop_signal.h"
#include "output/result_folder.h"
#include "support/support.h"

namespace netrevia::cli {
namespace {

namespace fs = std::filesystem;
using output::CommitStep;
using test_support::read_bytes;

// The batch tool as a process of its own, standard output and error going to <tag>.out and
// <tag>.err in folder; as_nobody: run by the user nobody when started as root, so that
// permissions apply.
pid_t start_tool(const std::vector<std::string>& args,
                 const fs::path& folder,
                 const std::string& tag,
                 bool as_nobody = false) {
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        if (as_nobody && geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(126);
        const int out = open((folder / (tag + ".out")).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open((folder / (tag + ".err")).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, STDOUT_FILENO);
        dup2(err, STDERR_FILENO);
        std::vector<std::string> all{BATCH_PATH};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(BATCH_PATH, argv.data());
        _exit(127);
    }
    return pid;
}

// The exit status of pid once it ends, or -1 when it is still running after limit (it is then
// killed): a stop that does not come "at once" fails the test instead of hanging it.
int exit_status(pid_t pid, std::chrono::seconds limit = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Polls until ready() holds; false after limit.
bool wait_until(const std::function<bool()>& ready,
                std::chrono::seconds limit = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!ready()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// A process that has ended: gone, or a zombie nobody has reaped yet.
bool alive(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string fields;
    if (!std::getline(stat, fields)) return false;
    const std::size_t state = fields.rfind(')');
    return state == std::string::npos || fields.substr(state + 2, 1) != "Z";
}

std::vector<std::string> entries(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class BatchProcess : public ::testing::Test {
protected:
    // A run of several seconds with the exact engine: 100 genes, four courses.
    static void SetUpTestSuite() {
        slow_data_ = new fs::path(slow_dir_.path() / "hundred_genes.dat");
        const std::string simulate = std::string(SIMULATE_PATH) +
                                     " --genes 100 --courses 4 --points 12 --seed 3 --input"
                                     " --out-data " +
                                     slow_data_->string() + " --out-truth " +
                                     (slow_dir_.path() / "truth.tsv").string();
        ASSERT_EQ(std::system(simulate.c_str()), 0);
    }
    static void TearDownTestSuite() { delete slow_data_; }

    std::string err(const std::string& tag) const { return read_bytes(dir_ / (tag + ".err")); }

    static inline test_support::TempDir slow_dir_{"netrevia-slow"};
    static inline fs::path* slow_data_ = nullptr;
    test_support::TempDir temp_{"netrevia-process"};
    const fs::path dir_ = temp_.path();
    const std::string three_genes_ = std::string(EXAMPLES_DIR) + "/three_genes.dat";
};

// A run waiting for a busy folder ends at once on SIGINT or SIGTERM (it used to wait until the
// lock was free), while the other run still holds the folder, and writes nothing.
TEST_F(BatchProcess, SignalEndsTheWaitForTheFolder) {
    const fs::path out = dir_ / "out";
    fs::create_directory(out);
    const output::ResultFolderLock other(out, output::LockWait::kNoWait);
    for (const auto& [signal_number, code] : {std::pair{SIGINT, 130}, std::pair{SIGTERM, 143}}) {
        const pid_t tool =
            start_tool({"--quiet", "--output-dir", out.string(), three_genes_}, dir_, "waiting");
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        kill(tool, signal_number);
        EXPECT_EQ(exit_status(tool, std::chrono::seconds(5)), code);
        EXPECT_EQ(err("waiting"), "netrevia-batch: stopped by signal " +
                                      std::to_string(signal_number) +
                                      " while waiting for the output folder " + out.string() +
                                      "; no result file was changed\n");
        EXPECT_EQ(entries(out), std::vector<std::string>{".GRN.lock"});
    }
}

// A folder the user may not write to: the message names the true reason on the lock file, by
// its absolute path (it used to say "No such file or directory"), and the way out.
TEST_F(BatchProcess, UnwritableFolderNamesTheLockFileAndTheWayOut) {
    const fs::path out = dir_ / "read-only";
    fs::create_directory(out);
    fs::permissions(out, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                             fs::perms::group_exec | fs::perms::others_read |
                             fs::perms::others_exec);
    fs::permissions(dir_, fs::perms::others_all, fs::perm_options::add);
    const fs::path previous = fs::current_path();
    fs::current_path(dir_);
    const pid_t tool =
        start_tool({"--quiet", "--output-dir", "read-only", three_genes_}, dir_, "refused", true);
    fs::current_path(previous);
    EXPECT_EQ(exit_status(tool), 1);
    EXPECT_EQ(err("refused"),
              "netrevia-batch: cannot create file: Permission denied, unit 3, file " +
                  (out / ".GRN.lock").string() +
                  "\nnetrevia-batch: choose a folder you can write to with "
                  "--output-dir DIR\n");
    EXPECT_TRUE(fs::is_empty(out));
}

// A run that made its output folder is stopped while two runs wait for the folder's lock: it
// removes the folder, and both waiting runs make it again and succeed, one after the other
// (they used to fail with "No such file or directory").
TEST_F(BatchProcess, RunsWaitingOnAFolderWhoseMakerFailsSucceed) {
    const fs::path out = dir_ / "new" / "out";
    const pid_t maker =
        start_tool({"--quiet", "--output-dir", out.string(), slow_data_->string()}, dir_, "maker");
    ASSERT_TRUE(wait_until([&] {
        try {
            output::ResultFolderLock probe(out, output::LockWait::kNoWait);
            return false;
        } catch (const output::FolderBusy&) {
            return true;  // the maker holds its new folder
        } catch (const std::exception&) {
            return false;  // not made yet
        }
    }));
    const pid_t first = start_tool({"--output-dir", out.string(), three_genes_}, dir_, "first");
    const pid_t second = start_tool({"--output-dir", out.string(), three_genes_}, dir_, "second");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    kill(maker, SIGTERM);
    EXPECT_EQ(exit_status(maker), 143);
    EXPECT_EQ(err("maker"), "netrevia-batch: stopped by signal 15; no result file was changed\n");
    EXPECT_EQ(exit_status(first), 0) << err("first");
    EXPECT_EQ(exit_status(second), 0) << err("second");
    EXPECT_EQ(entries(out), (std::vector<std::string>{".GRN.lock", "GRN.dat", "GRN.dot",
                                                      "edges.tsv", "run.json"}));
    // The folder was made anew once, by one of them.
    const std::string summaries = read_bytes(dir_ / "first.out") + read_bytes(dir_ / "second.out");
    EXPECT_NE(summaries.find("created:      " + out.string() + " (new output folder)"),
              std::string::npos)
        << summaries;
}

// A layout program that never ends (a script standing in for Graphviz), so that the drawing is
// the step a signal or the time limit meets.
class SlowLayout : public BatchProcess {
protected:
    void SetUp() override {
        std::ofstream(layout_) << "#!/bin/sh\necho $$ > '" << pid_file_.string()
                               << "'\nexec sleep 60\n";
        fs::permissions(layout_, fs::perms::owner_all);
    }
    pid_t layout_pid() const { return std::stoi(read_bytes(pid_file_)); }
    bool layout_started() const { return fs::exists(pid_file_) && fs::file_size(pid_file_) > 0; }

    const fs::path layout_ = dir_ / "slow-layout";
    const fs::path pid_file_ = dir_ / "layout.pid";
    const fs::path out_ = dir_ / "out";
};

// SIGTERM during the drawing stops the layout program at once and exits 143: the results are
// complete, no picture and no temporary file is left. A SIGKILL of the tool takes the layout
// program with it.
TEST_F(SlowLayout, SignalDuringTheDrawingStopsTheLayoutProgram) {
    const std::vector<std::string> args{"--quiet", "--render",     "svg",         "--layout",
                                        layout_,   "--output-dir", out_.string(), three_genes_};
    const pid_t tool = start_tool(args, dir_, "drawing");
    ASSERT_TRUE(wait_until([&] { return layout_started(); }));
    kill(tool, SIGTERM);
    EXPECT_EQ(exit_status(tool, std::chrono::seconds(5)), 143);
    EXPECT_FALSE(alive(layout_pid()));
    const fs::path o = out_;
    EXPECT_EQ(err("drawing"),
              "netrevia-batch: stopped by signal 15 before the drawing was done: "
              "the results are complete (" +
                  (o / "GRN.dat").string() + ", " + (o / "GRN.dot").string() + ", " +
                  (o / "edges.tsv").string() + ", " + (o / "run.json").string() + "); no " +
                  (o / "GRN.svg").string() + " is left\n");
    EXPECT_EQ(entries(out_), (std::vector<std::string>{".GRN.lock", "GRN.dat", "GRN.dot",
                                                       "edges.tsv", "run.json"}));

    fs::remove(pid_file_);
    const pid_t killed = start_tool(args, dir_, "killed");
    ASSERT_TRUE(wait_until([&] { return layout_started(); }));
    kill(killed, SIGKILL);
    EXPECT_EQ(exit_status(killed), 128 + SIGKILL);
    EXPECT_TRUE(wait_until([&] { return !alive(layout_pid()); }, std::chrono::seconds(5)));
}

// The time limit stops a layout program that runs too long: exit 3, the results written, no
// picture (an earlier one goes too).
TEST_F(SlowLayout, TimeLimitStopsTheLayoutProgram) {
    fs::create_directory(out_);
    test_support::write_bytes(out_ / "GRN.svg", "an earlier network");
    const pid_t tool =
        start_tool({"--quiet", "--render", "svg", "--render-timeout", "1", "--layout", layout_,
                    "--output-dir", out_.string(), three_genes_},
                   dir_, "limited");
    EXPECT_EQ(exit_status(tool), 3);
    EXPECT_FALSE(alive(layout_pid()));
    EXPECT_EQ(err("limited"), "netrevia-batch: '" + layout_.string() +
                                  "' did not finish within 1 s and was stopped (a longer limit: "
                                  "--render-timeout; fewer edges: --render-max-edges or a "
                                  "higher threshold) (GRN.dat and GRN.dot were written)\n");
    EXPECT_EQ(entries(out_), (std::vector<std::string>{".GRN.lock", "GRN.dat", "GRN.dot",
                                                       "edges.tsv", "run.json"}));
}

// A layout program that exists but cannot be started (no #! line, not a binary) is named with
// the reason of the exec: exit 3, the results written.
TEST_F(SlowLayout, LayoutProgramThatCannotStartIsNamedWithTheReason) {
    const fs::path broken = dir_ / "broken-layout";
    std::ofstream(broken) << "not a program\n";
    fs::permissions(broken, fs::perms::owner_all);
    const pid_t tool = start_tool({"--quiet", "--render", "png", "--layout", broken.string(),
                                   "--output-dir", out_.string(), three_genes_},
                                  dir_, "broken");
    EXPECT_EQ(exit_status(tool), 3);
    EXPECT_EQ(err("broken"), "netrevia-batch: cannot start '" + broken.string() +
                                 "': Exec format error (GRN.dat and GRN.dot were written)\n");
    EXPECT_EQ(entries(out_), (std::vector<std::string>{".GRN.lock", "GRN.dat", "GRN.dot",
                                                       "edges.tsv", "run.json"}));
}

// SIGTERM at each step of the commit, through the tool's own handlers (in a child process).
// Up to the journal the commit is abandoned: exit 143, the earlier files exactly as they were.
// From the journal's rename on it completes: exit 0 with a note, or 143 with --render, which
// then draws nothing.
using BatchCommitSignal = cli_testing::BatchFixture;
TEST_F(BatchCommitSignal, SignalAtEachStepOfTheCommit) {
    const std::string old_data = std::string(EXAMPLES_DIR) + "/three_genes.dat";
    const std::string new_data = std::string(CLI_TEST_DIR) + "/data/two_courses.dat";
    const std::vector<std::string> files{"GRN.dat", "GRN.dot", "edges.tsv", "run.json"};
    ASSERT_EQ(run({"--quiet", "--output-dir", dir_.string(), new_data}), 0) << err_.str();
    const std::string new_matrix = read(dir_ / "GRN.dat");
    ASSERT_EQ(run({"--quiet", "--output-dir", dir_.string(), old_data}), 0) << err_.str();
    std::vector<std::string> old_files;
    for (const std::string& file : files) old_files.push_back(read(dir_ / file));
    const bool graphviz = std::system("command -v dot > /dev/null 2>&1") == 0;

    using Step = std::pair<CommitStep, std::size_t>;
    const std::vector<Step> steps{{CommitStep::kWriteFile, 0},    {CommitStep::kWriteFile, 3},
                                  {CommitStep::kKeepOldFiles, 0}, {CommitStep::kJournal, 0},
                                  {CommitStep::kRename, 0},       {CommitStep::kRename, 3},
                                  {CommitStep::kCleanUp, 0}};
    for (std::size_t k = 0; k < steps.size(); ++k) {
        for (const bool render : {false, true}) {
            if (render && !graphviz) continue;
            SCOPED_TRACE(std::to_string(k) + (render ? " with --render" : ""));
            const bool committed =
                steps[k].first == CommitStep::kRename || steps[k].first == CommitStep::kCleanUp;
            std::vector<std::string> args{"--quiet", "--output-dir", dir_.string(), new_data};
            if (render) args.insert(args.begin(), {"--render", "svg"});
            std::fflush(nullptr);
            const pid_t pid = fork();
            if (pid == 0) {
                StopRequest& stop = install_stop_handlers();
                stop.at_commit_step = [&](CommitStep step, std::size_t index) {
                    if (Step{step, index} == steps[k]) raise(SIGTERM);
                };
                std::ostringstream out;
                std::ostringstream err;
                const int code = batch_main(args, out, err, false, &stop);
                std::ofstream(dir_ / "child.err") << err.str();
                _exit(code);
            }
            const int code = exit_status(pid);
            const std::string message = read(dir_ / "child.err");
            if (!committed) {
                EXPECT_EQ(code, 143);
                EXPECT_EQ(message,
                          "netrevia-batch: stopped by signal 15; no result file was changed\n");
                for (std::size_t f = 0; f < files.size(); ++f)
                    EXPECT_EQ(read(dir_ / files[f]), old_files[f]) << files[f];
            } else {
                EXPECT_EQ(code, render ? 143 : 0) << message;
                EXPECT_EQ(read(dir_ / "GRN.dat"), new_matrix);
                const std::string said =
                    render ? "netrevia-batch: stopped by signal 15 before the drawing was done: "
                             "the results are complete ("
                           : "netrevia-batch: signal 15 came after the point of no return of the "
                             "commit: the results are complete\n";
                EXPECT_EQ(message.substr(0, said.size()), said);
                for (std::size_t f = 0; f < files.size(); ++f)
                    test_support::write_bytes(dir_ / files[f], old_files[f]);
            }
            fs::remove(dir_ / "child.err");
            EXPECT_EQ(entries(dir_), (std::vector<std::string>{".GRN.lock", "GRN.dat", "GRN.dot",
                                                               "edges.tsv", "run.json"}));
        }
    }
}

}  // namespace
}  // namespace netrevia::cli
