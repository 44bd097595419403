#include "output/result_files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <ostream>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "output/atomic_file.h"
#include "output/graphviz_file.h"
#include "output/io_error.h"
#include "output/matrix_file.h"
#include "output/result_folder.h"
#include "tests/output/test_support.h"

namespace netrevia::output {
namespace {

namespace fs = std::filesystem;
using testing::entries;
using testing::InTempDir;
using testing::kWorkedNames;
using testing::matches_golden;
using testing::read_bytes;
using testing::worked_example;
using testing::write_bytes;
using Names = std::vector<std::string>;

// Runs write and returns the IoError's message, or fails the test when none is thrown.
template <class Write>
std::string io_error_of(Write write) {
    try {
        write();
    } catch (const IoError& e) {
        return e.what();
    }
    ADD_FAILURE() << "no IoError thrown";
    return {};
}

TEST_F(InTempDir, ResultFilesReplaceOldOnesAndMatchGolden) {
    write_bytes(dir() / "GRN.dat", std::string(5000, 'x'));
    write_bytes(dir() / "GRN.dot", std::string(5000, 'y'));
    write_result_files(dir(), kWorkedNames, worked_example(), 3, 1e-6);
    EXPECT_TRUE(matches_golden(read_bytes(dir() / "GRN.dat"), "worked_example.dat"));
    EXPECT_TRUE(matches_golden(read_bytes(dir() / "GRN.dot"), "worked_example.dot"));
    EXPECT_EQ(entries(dir()), (Names{"GRN.dat", "GRN.dot"}));
}

TEST_F(InTempDir, MissingFolderIsFatalAndCreatesNothing) {
    const fs::path absent = dir() / "absent";
    EXPECT_EQ(
        io_error_of([&] { write_result_files(absent, kWorkedNames, worked_example(), 3, 0); }),
        "cannot create file: No such file or directory, unit 3, file " +
            (absent / "GRN.dat").string());
    EXPECT_EQ(
        io_error_of([&] { write_graphviz_file(absent, kWorkedNames, worked_example(), 3, 0); }),
        "cannot create file: No such file or directory, unit 5, file " +
            (absent / "GRN.dot").string());
    EXPECT_TRUE(entries(dir()).empty());
}

// Root ignores permission bits, so a regular file standing where the folder should be is the
// portable way to make creation fail.
TEST_F(InTempDir, FileInPlaceOfFolderIsFatal) {
    const fs::path plain = dir() / "plain";
    write_bytes(plain, "keep");
    const std::string message = io_error_of([&] { write_matrix_file(plain, worked_example(), 3); });
    EXPECT_EQ(message,
              "cannot create file: Not a directory, unit 3, file " + (plain / "GRN.dat").string());
    EXPECT_EQ(read_bytes(plain), "keep");
    EXPECT_EQ(entries(dir()), Names{"plain"});
}

TEST_F(InTempDir, FailedRenameLeavesNoTemporaryFile) {
    fs::create_directory(dir() / "GRN.dat");
    const std::string message = io_error_of([&] { write_matrix_file(dir(), worked_example(), 3); });
    EXPECT_NE(message.find("cannot replace file: "), std::string::npos) << message;
    EXPECT_NE(message.find(", unit 3, file " + (dir() / "GRN.dat").string()), std::string::npos);
    EXPECT_EQ(entries(dir()), Names{"GRN.dat"});
    EXPECT_TRUE(fs::is_empty(dir() / "GRN.dat"));
}

// A directory named GRN.dot makes the second rename fail after GRN.dat's has succeeded: the
// old GRN.dat must come back, and neither temporary files nor the kept copy may remain.
TEST_F(InTempDir, FailedGraphvizRenameKeepsOldMatrixFile) {
    write_bytes(dir() / "GRN.dat", "old matrix\r\n");
    fs::create_directory(dir() / "GRN.dot");
    write_bytes(dir() / "GRN.dot" / "inside", "");
    const std::string message =
        io_error_of([&] { write_result_files(dir(), kWorkedNames, worked_example(), 3, 1e-6); });
    EXPECT_NE(message.find("cannot replace file: "), std::string::npos) << message;
    EXPECT_NE(message.find(", unit 5, file " + (dir() / "GRN.dot").string()), std::string::npos);
    EXPECT_EQ(read_bytes(dir() / "GRN.dat"), "old matrix\r\n");
    EXPECT_EQ(entries(dir()), (Names{"GRN.dat", "GRN.dot"}));
    EXPECT_EQ(entries(dir() / "GRN.dot"), Names{"inside"});
}

TEST_F(InTempDir, FailedExtraFileRenameUndoesEveryEarlierFile) {
    write_bytes(dir() / "GRN.dat", "old matrix\r\n");
    write_bytes(dir() / "edges.tsv", "old edges\n");
    fs::create_directory(dir() / "run.json");
    write_bytes(dir() / "run.json" / "inside", "");
    const auto text = [](const char* content) {
        return [content](std::ostream& out) { out << content; };
    };
    const std::vector<ExtraResultFile> extras{{"edges.tsv", 8, text("new edges\n")},
                                              {"run.json", 11, text("{}")}};
    const std::string message = io_error_of(
        [&] { write_result_files(dir(), kWorkedNames, worked_example(), 3, 1e-6, extras); });
    EXPECT_NE(message.find(", unit 11, file " + (dir() / "run.json").string()), std::string::npos)
        << message;
    // The old files are back, the new GRN.dot (there was none) is gone, no temporary is left.
    EXPECT_EQ(read_bytes(dir() / "GRN.dat"), "old matrix\r\n");
    EXPECT_EQ(read_bytes(dir() / "edges.tsv"), "old edges\n");
    EXPECT_EQ(entries(dir()), (Names{"GRN.dat", "edges.tsv", "run.json"}));

    fs::remove_all(dir() / "run.json");
    write_result_files(dir(), kWorkedNames, worked_example(), 3, 1e-6, extras);
    EXPECT_EQ(read_bytes(dir() / "edges.tsv"), "new edges\n");
    EXPECT_EQ(read_bytes(dir() / "run.json"), "{}");
    EXPECT_TRUE(matches_golden(read_bytes(dir() / "GRN.dot"), "worked_example.dot"));
    EXPECT_EQ(entries(dir()), (Names{"GRN.dat", "GRN.dot", "edges.tsv", "run.json"}));
}

TEST_F(InTempDir, FailedGraphvizRenameRemovesNewMatrixFileWhenThereWasNone) {
    fs::create_directory(dir() / "GRN.dot");
    EXPECT_THROW(write_result_files(dir(), kWorkedNames, worked_example(), 3, 1e-6), IoError);
    EXPECT_EQ(entries(dir()), Names{"GRN.dot"});
}

TEST_F(InTempDir, FailedMatrixRenameKeepsOldGraphvizFile) {
    fs::create_directory(dir() / "GRN.dat");
    write_bytes(dir() / "GRN.dot", "old graph\r\n");
    const std::string message =
        io_error_of([&] { write_result_files(dir(), kWorkedNames, worked_example(), 3, 1e-6); });
    EXPECT_NE(message.find(", unit 3, file " + (dir() / "GRN.dat").string()), std::string::npos);
    EXPECT_EQ(read_bytes(dir() / "GRN.dot"), "old graph\r\n");
    EXPECT_EQ(entries(dir()), (Names{"GRN.dat", "GRN.dot"}));
}

// A disk filling up part way through a write (here the file size limit of the process, beyond
// which writes fail with EFBIG) and a stream turned bad without a failed call of the C library
// (a formatter's own failure) both fail finish(): the old GRN.dat stays, nothing is left over.
TEST_F(InTempDir, WriteFailingPartWayKeepsOldFile) {
    write_bytes(dir() / "GRN.dat", "old matrix\r\n");
    const std::string expected = ", unit 3, file " + (dir() / "GRN.dat").string();
    constexpr int n = 100;  // 250 200 bytes: beyond the limit and the 64 KiB buffer
    const std::vector<double> R(n * n, 0.5);
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit limit = saved;
    limit.rlim_cur = 100000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
    const std::string message = io_error_of([&] { write_matrix_file(dir(), {R.data(), n}, n); });
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, old_handler);
    EXPECT_EQ(message, "write error: File too large" + expected);
    {
        AtomicFile file(dir() / "GRN.dat", 3);
        file.stream() << "partial";
        file.stream().setstate(std::ios::badbit);
        EXPECT_EQ(io_error_of([&] { file.finish(); }),
                  "write error: Input/output error" + expected);
    }
    EXPECT_EQ(read_bytes(dir() / "GRN.dat"), "old matrix\r\n");
    EXPECT_EQ(entries(dir()), Names{"GRN.dat"});
}

// The first rename fails (a directory stands where GRN.dat's temporary file was) after both
// old files got a second name: the old files stay, and their second names and the journal go.
TEST_F(InTempDir, FailedFirstRenameRemovesTheKeptOldFiles) {
    write_bytes(dir() / "GRN.dat", "old dat");
    write_bytes(dir() / "GRN.dot", "old dot");
    {
        AtomicFile dat(dir() / "GRN.dat", 3);
        dat.finish();
        AtomicFile dot(dir() / "GRN.dot", 5);
        dot.finish();
        fs::remove(dat.temp_path());
        fs::create_directory(dat.temp_path());
        const std::array<AtomicFile*, 2> files{&dat, &dot};
        EXPECT_EQ(
            io_error_of([&] { commit_all(files, dir() / ".GRN.commit"); }),
            "cannot replace file: Not a directory, unit 3, file " + (dir() / "GRN.dat").string());
    }
    EXPECT_EQ(read_bytes(dir() / "GRN.dat"), "old dat");
    EXPECT_EQ(read_bytes(dir() / "GRN.dot"), "old dot");
    EXPECT_EQ(fs::hard_link_count(dir() / "GRN.dat"), 1u);
    EXPECT_EQ(entries(dir()), (Names{"GRN.dat", "GRN.dot"}));
}

// A replaced file keeps the old one's permission bits; a write-protected one (no write bit, so
// the superuser is refused too) is kept, with the write error of its unit, before any rename.
TEST_F(InTempDir, ReplacedFilesKeepTheirModeAndProtectedOnesAreKept) {
    write_bytes(dir() / "GRN.dat", "old dat");
    write_bytes(dir() / "GRN.dot", "old dot");
    fs::permissions(dir() / "GRN.dat", fs::perms::owner_read | fs::perms::owner_write);
    write_result_files(dir(), kWorkedNames, worked_example(), 3, 1e-6);
    EXPECT_EQ(fs::status(dir() / "GRN.dat").permissions(),
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_TRUE(matches_golden(read_bytes(dir() / "GRN.dat"), "worked_example.dat"));

    write_bytes(dir() / "GRN.dot", "old dot");
    fs::permissions(dir() / "GRN.dot", fs::perms::owner_read | fs::perms::group_read);
    EXPECT_EQ(io_error_of([&] { check_results_replaceable(dir()); }),
              "write error: Permission denied, unit 5, file " + (dir() / "GRN.dot").string());
    EXPECT_EQ(
        io_error_of([&] { write_result_files(dir(), kWorkedNames, worked_example(), 3, 1e-6); }),
        "write error: Permission denied, unit 5, file " + (dir() / "GRN.dot").string());
    EXPECT_EQ(read_bytes(dir() / "GRN.dot"), "old dot");
    EXPECT_TRUE(matches_golden(read_bytes(dir() / "GRN.dat"), "worked_example.dat"));
    EXPECT_EQ(entries(dir()), (Names{"GRN.dat", "GRN.dot"}));
}

// What a run killed during its renames leaves: the journal, GRN.dat already renamed, the new
// GRN.dot still temporary, the backup of the old GRN.dat. The repair under the lock finishes
// the commit (the new pair) and removes every leftover; a journal line naming anything but a
// temporary result file is ignored. Without a journal the old pair stays, leftovers go.
TEST_F(InTempDir, RepairFinishesAnInterruptedCommitAndRemovesLeftovers) {
    write_bytes(dir() / "GRN.dat", "new dat");
    write_bytes(dir() / ".GRN.dat.old-00000000000000a1", "old dat");
    write_bytes(dir() / "GRN.dot", "old dot");
    write_bytes(dir() / ".GRN.dot.tmp-00000000000000b2", "new dot");
    write_bytes(dir() / "other", "kept");
    write_bytes(dir() / ".other.tmp-1", "kept");
    write_bytes(dir() / "..GRN.commit.tmp-00000000000000c3", "half a journal");
    write_bytes(dir() / ".edges.tsv.tmp-00000000000000e5", "new edges");
    write_bytes(dir() / ".run.json.old-00000000000000f6", "old run");
    write_bytes(dir() / ".GRN.commit",
                "3\t.GRN.dat.tmp-00000000000000a0\tGRN.dat\n"
                "5\t.GRN.dot.tmp-00000000000000b2\tGRN.dot\n"
                "8\t.edges.tsv.tmp-00000000000000e5\tedges.tsv\n"
                "5\t.other.tmp-1\tGRN.dot\n5\t.other.tmp-1\tother\n3\t../x\tGRN.dat\n");
    { ResultFolderLock lock(dir(), LockWait::kNoWait); }
    EXPECT_EQ(read_bytes(dir() / "GRN.dat"), "new dat");
    EXPECT_EQ(read_bytes(dir() / "GRN.dot"), "new dot");
    EXPECT_EQ(read_bytes(dir() / "edges.tsv"), "new edges");
    EXPECT_EQ(entries(dir()),
              (Names{".GRN.lock", ".other.tmp-1", "GRN.dat", "GRN.dot", "edges.tsv", "other"}));

    write_bytes(dir() / ".GRN.dat.tmp-00000000000000d4", "half written");
    { ResultFolderLock lock(dir(), LockWait::kNoWait); }
    EXPECT_EQ(read_bytes(dir() / "GRN.dat"), "new dat");
    EXPECT_EQ(entries(dir()),
              (Names{".GRN.lock", ".other.tmp-1", "GRN.dat", "GRN.dot", "edges.tsv", "other"}));
}

// A lock file that can be neither created nor opened fails the run naming the lock file by its
// absolute path and the reason of the creation: a missing folder (FolderMissing), a directory
// in its place, and a folder the user may not write (as root: in a child that has become
// nobody), which used to be reported as the ENOENT of the read-only attempt after it.
TEST_F(InTempDir, LockFileThatCannotBeOpenedIsFatal) {
    const fs::path absent = dir() / "absent";
    EXPECT_THROW(ResultFolderLock(absent, LockWait::kNoWait), FolderMissing);
    EXPECT_EQ(io_error_of([&] { ResultFolderLock lock(absent, LockWait::kNoWait); }),
              "cannot create file: No such file or directory, unit 3, file " +
                  (absent / ".GRN.lock").string());
    fs::create_directory(dir() / ".GRN.lock");
    EXPECT_EQ(io_error_of([&] { ResultFolderLock lock(dir(), LockWait::kNoWait); }),
              "cannot create file: Is a directory, unit 3, file " + (dir() / ".GRN.lock").string());

    // As root, in a child that has become nobody, so that permissions apply.
    const auto as_other_user = [](const std::function<int()>& check) {
        std::fflush(nullptr);
        const pid_t pid = fork();
        if (pid == 0) {
            if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(2);
            _exit(check());
        }
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    const fs::path locked = dir() / "read-only";
    fs::create_directory(locked);
    const auto read_only = fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                           fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec;
    fs::permissions(locked, read_only);
    fs::permissions(dir(), fs::perms::others_exec, fs::perm_options::add);
    const auto refused = [](const std::function<void()>& run, const std::string& expected) {
        try {
            run();
        } catch (const IoError& e) {
            return e.what() == expected && e.error_number() == EACCES ? 0 : 3;
        }
        return 4;
    };
    EXPECT_EQ(as_other_user([&] {
                  return refused([&] { ResultFolderLock lock(locked, LockWait::kNoWait); },
                                 "cannot create file: Permission denied, unit 3, file " +
                                     (locked / ".GRN.lock").string());
              }),
              0);
    // With a lock file there (opened read-only) the run is refused before any work.
    fs::permissions(locked, fs::perms::owner_write, fs::perm_options::add);
    write_bytes(locked / ".GRN.lock", "");
    fs::permissions(locked, read_only);
    EXPECT_EQ(as_other_user([&] {
                  ResultFolderLock lock(locked, LockWait::kNoWait);
                  return refused([&] { check_results_replaceable(locked); },
                                 "cannot create file: Permission denied, unit 3, file " +
                                     (locked / "GRN.dat").string());
              }),
              0);
}

// Relative paths in write errors are made absolute and normal.
TEST_F(InTempDir, WriteErrorsNameTheAbsolutePath) {
    const fs::path previous = fs::current_path();
    fs::current_path(dir());
    fs::create_directory("GRN.dat");
    const std::string message = io_error_of([&] { write_matrix_file("./", worked_example(), 3); });
    fs::current_path(previous);
    EXPECT_EQ(message,
              "cannot replace file: Is a directory, unit 3, file " + (dir() / "GRN.dat").string());
}

// A wait for a busy folder ends when the caller's cancel flag is set, while the holder keeps it.
TEST_F(InTempDir, LockWaitEndsWhenCancelled) {
    ResultFolderLock held(dir(), LockWait::kNoWait);
    std::atomic<bool> cancel{false};
    bool cancelled = false;
    std::thread waiter([&] {
        try {
            ResultFolderLock second(dir(), LockWait::kWait, &cancel);
        } catch (const LockWaitCancelled&) {
            cancelled = true;
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    cancel = true;
    waiter.join();
    EXPECT_TRUE(cancelled);
}

// A run that made its folder and failed removes the lock file and the folder while holding the
// lock. A run waiting meanwhile finds its lock stale: it gets FolderMissing when the folder
// went, or, where the folder stays (another run's file in it), the lock of the new lock file,
// and then it alone holds the folder (the stale lock used to let a third run in beside it).
TEST_F(InTempDir, RemovedFolderIsLockedAnewByTheRunsWaitingForIt) {
    const fs::path made = dir() / "made";
    fs::create_directory(made);
    auto failed = std::make_unique<ResultFolderLock>(made, LockWait::kNoWait);
    bool missing = false;
    std::thread waiter([&] {
        try {
            ResultFolderLock second(made, LockWait::kWait);
        } catch (const FolderMissing&) {
            missing = true;
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    failed->release_and_remove(std::vector<fs::path>{made});
    waiter.join();
    EXPECT_TRUE(missing);
    EXPECT_FALSE(fs::exists(made));

    fs::create_directory(made);
    failed = std::make_unique<ResultFolderLock>(made, LockWait::kNoWait);
    write_bytes(made / "GRN.dat", "another run's");
    std::atomic<bool> locked = false;
    std::atomic<bool> release = false;
    std::thread second([&] {
        ResultFolderLock lock(made, LockWait::kWait);
        locked = true;
        while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    failed->release_and_remove(std::vector<fs::path>{made});
    while (!locked) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_THROW(ResultFolderLock(made, LockWait::kNoWait), FolderBusy);
    release = true;
    second.join();
    EXPECT_EQ(entries(made), (Names{".GRN.lock", "GRN.dat"}));
}

// A second lock on the folder waits, or with kNoWait fails at once naming the folder.
TEST_F(InTempDir, SecondLockOnAFolderWaitsOrFails) {
    auto held = std::make_unique<ResultFolderLock>(dir(), LockWait::kWait);
    try {
        ResultFolderLock second(dir(), LockWait::kNoWait);
        ADD_FAILURE() << "second lock taken";
    } catch (const FolderBusy& e) {
        EXPECT_EQ(std::string(e.what()), "output folder " + dir().string() +
                                             " is in use by another run (lock file " +
                                             (dir() / ".GRN.lock").string() + ")");
    }
    std::atomic<bool> released = false;
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        released = true;
        held.reset();
    });
    { ResultFolderLock waited(dir(), LockWait::kWait); }
    EXPECT_TRUE(released);  // taken only once the first lock was gone
    release.join();
}

// The lock's descriptor goes with the lock, even as descriptor 0 (a process started with stdin
// closed) and with a stale EACCES in errno: the same process locks the folder again at once,
// and descriptor 0 is free again.
TEST_F(InTempDir, LockClosesItsDescriptor) {
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        ::close(0);
        errno = EACCES;
        { ResultFolderLock lock(dir(), LockWait::kNoWait); }
        try {
            ResultFolderLock again(dir(), LockWait::kNoWait);
        } catch (...) {
            _exit(1);
        }
        _exit(fcntl(0, F_GETFD) == -1 ? 0 : 2);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

// Runs killed at random moments while committing pairs A and B in turn: after the repair the
// folder always holds one run's pair, never GRN.dat of one beside GRN.dot of the other, and no
// leftover.
TEST_F(InTempDir, KilledCommitsLeaveOneRunsPairAfterRepair) {
    const std::array<double, 1> a{1.0};
    const std::array<double, 1> b{-1.0};  // a negative edge: GRN.dot differs too
    const std::vector<std::string> names{"G1       "};
    write_result_files(dir(), names, {a.data(), 1}, 1, 0.5);
    const std::string dat_a = read_bytes(dir() / "GRN.dat");
    const std::string dot_a = read_bytes(dir() / "GRN.dot");
    write_result_files(dir(), names, {b.data(), 1}, 1, 0.5);
    const std::string dat_b = read_bytes(dir() / "GRN.dat");
    ASSERT_NE(read_bytes(dir() / "GRN.dot"), dot_a);
    std::mt19937 random(12345);
    int mixed = 0;
    for (int round = 0; round < 30; ++round) {
        std::fflush(nullptr);
        const pid_t pid = fork();
        if (pid == 0) {
            for (int i = 0;; ++i) {
                write_result_files(dir(), names, {(i % 2 == 0 ? a : b).data(), 1}, 1, 0.5);
            }
        }
        std::this_thread::sleep_for(std::chrono::microseconds(500 + random() % 20000));
        kill(pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);
        { ResultFolderLock lock(dir(), LockWait::kNoWait); }
        const bool pair_a = read_bytes(dir() / "GRN.dat") == dat_a;
        const bool dot_is_a = read_bytes(dir() / "GRN.dot") == dot_a;
        if (pair_a != dot_is_a) ++mixed;
        EXPECT_TRUE(pair_a || read_bytes(dir() / "GRN.dat") == dat_b);
        EXPECT_EQ(entries(dir()), (Names{".GRN.lock", "GRN.dat", "GRN.dot"})) << round;
    }
    EXPECT_EQ(mixed, 0);
}

// Every step of a commit of three files, in order; the journal's rename, between kJournal and
// the first kRename, is the point of no return.
using Step = std::pair<CommitStep, std::size_t>;
const std::vector<Step> kCommitSteps{
    {CommitStep::kWriteFile, 0},    {CommitStep::kWriteFile, 1}, {CommitStep::kWriteFile, 2},
    {CommitStep::kKeepOldFiles, 0}, {CommitStep::kJournal, 0},   {CommitStep::kRename, 0},
    {CommitStep::kRename, 1},       {CommitStep::kRename, 2},    {CommitStep::kCleanUp, 0}};
constexpr std::size_t kFirstStepPastNoReturn = 5;

// The results of one run into dir: GRN.dat, GRN.dot and edges.tsv of a one-gene R = (r).
void commit_run(const fs::path& dir, double r, const CommitControl* control) {
    const std::array<double, 1> R{r};
    const std::vector<ExtraResultFile> extra{
        {"edges.tsv", 8, [r](std::ostream& out) { out << "edges of " << r << "\n"; }}};
    write_result_files(dir, Names{"G1       "}, {R.data(), 1}, 1, 0.5, extra, control);
}

// A stop request (the cancel flag) at each step: up to the journal the commit is abandoned
// and leaves the earlier files exactly, with nothing beside them; from its rename on the
// commit completes. A kill (SIGKILL) at each step: after the next run's repair the folder holds
// the earlier run's three files up to the point of no return and the new run's after it.
TEST_F(InTempDir, StopOrKillAtEachStepOfTheCommit) {
    commit_run(dir(), 1.0, nullptr);
    const std::array<std::string, 3> old_files{read_bytes(dir() / "GRN.dat"),
                                               read_bytes(dir() / "GRN.dot"),
                                               read_bytes(dir() / "edges.tsv")};
    commit_run(dir(), -1.0, nullptr);
    const std::array<std::string, 3> new_files{read_bytes(dir() / "GRN.dat"),
                                               read_bytes(dir() / "GRN.dot"),
                                               read_bytes(dir() / "edges.tsv")};
    const auto holds = [this](const std::array<std::string, 3>& files) {
        return read_bytes(dir() / "GRN.dat") == files[0] &&
               read_bytes(dir() / "GRN.dot") == files[1] &&
               read_bytes(dir() / "edges.tsv") == files[2];
    };
    for (std::size_t k = 0; k < kCommitSteps.size(); ++k) {
        SCOPED_TRACE(k);
        const bool past_no_return = k >= kFirstStepPastNoReturn;
        commit_run(dir(), 1.0, nullptr);
        std::atomic<bool> cancel{false};
        std::vector<Step> seen;
        const CommitControl stop_at{&cancel, [&](CommitStep step, std::size_t index) {
                                        seen.emplace_back(step, index);
                                        if (seen.back() == kCommitSteps[k]) cancel = true;
                                    }};
        if (past_no_return) {
            commit_run(dir(), -1.0, &stop_at);
        } else {
            EXPECT_THROW(commit_run(dir(), -1.0, &stop_at), CommitAbandoned);
        }
        EXPECT_TRUE(holds(past_no_return ? new_files : old_files));
        EXPECT_EQ(entries(dir()), (Names{"GRN.dat", "GRN.dot", "edges.tsv"}));
        EXPECT_EQ(seen, past_no_return ? kCommitSteps
                                       : std::vector<Step>(kCommitSteps.begin(),
                                                           kCommitSteps.begin() + k + 1));

        commit_run(dir(), 1.0, nullptr);
        std::fflush(nullptr);
        const pid_t pid = fork();
        if (pid == 0) {
            const CommitControl kill_at{nullptr, [k](CommitStep step, std::size_t index) {
                                            if (Step{step, index} == kCommitSteps[k])
                                                raise(SIGKILL);
                                        }};
            commit_run(dir(), -1.0, &kill_at);
            _exit(0);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status));
        { ResultFolderLock lock(dir(), LockWait::kNoWait); }
        EXPECT_TRUE(holds(past_no_return ? new_files : old_files));
        EXPECT_EQ(entries(dir()), (Names{".GRN.lock", "GRN.dat", "GRN.dot", "edges.tsv"}));
        fs::remove(dir() / ".GRN.lock");
    }
}

// /dev/full fails every write with ENOSPC once the C stream's buffer goes out: through a flush,
// a long write and single characters, the stream must turn bad and keep the reason; after
// close() further writes fail without touching the closed stream.
TEST(FileStreamBuf, KeepsReasonOfFailedWrite) {
    const std::string long_text(100000, 'x');
    const std::array<void (*)(std::ostream&, const std::string&), 3> writes{
        [](std::ostream& out, const std::string&) { out << "some text" << std::flush; },
        [](std::ostream& out, const std::string& text) { out << text; },
        [](std::ostream& out, const std::string& text) {
            for (const char c : text) out.put(c);
        }};
    for (std::size_t k = 0; k < writes.size(); ++k) {
        SCOPED_TRACE(k);
        std::FILE* file = std::fopen("/dev/full", "wb");
        if (file == nullptr) GTEST_SKIP() << "no /dev/full";
        FileStreamBuf buffer(file);
        std::ostream out(&buffer);
        writes[k](out, long_text);
        EXPECT_TRUE(out.bad());
        EXPECT_EQ(buffer.error(), ENOSPC);
        EXPECT_EQ(buffer.close(), ENOSPC);
        EXPECT_FALSE(buffer.is_open());
        out.clear();
        out << "after close";
        EXPECT_TRUE(out.bad());
        EXPECT_EQ(buffer.close(), ENOSPC);
    }
}

}  // namespace
}  // namespace netrevia::output
