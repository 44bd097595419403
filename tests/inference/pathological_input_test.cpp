// Inputs built to exhaust time or memory, numbers at the edge of double precision, and runs
// that die while writing. Each case must end quickly with its message (or its result), use
// memory bounded by what the file justifies, and never leave a partial GRN.dat or GRN.dot.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <sstream>
#include <string>

#include "inference/data_file.h"
#include "inference/input_error.h"
#include "inference/run.h"
#include "output/io_error.h"
#include "support/support.h"

namespace netrevia::inference {
namespace {

namespace fs = std::filesystem;

// The message of the InputError, IoError or DataFileRejected that action throws, or "no error".
std::string failure_of(const std::function<void()>& action) {
    try {
        action();
    } catch (const InputError& e) {
        return e.what();
    } catch (const output::IoError& e) {
        return e.what();
    } catch (const DataFileRejected& e) {
        return e.what();
    }
    return "no error";
}

std::string contents(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Outcome of action in a forked child: how it ended and how much its peak resident memory
// grew while it ran (kilobytes).
struct ChildOutcome {
    bool exited = false;
    int exit_code = -1;
    int signal = 0;
    long peak_growth_kb = 0;
};

// Runs action in a child process; the child exits with 0 when action returns true, 1 when
// false. The peak growth travels back through a pipe. before_action runs in the child first
// (limits), outside the measurement.
ChildOutcome in_child(const std::function<bool()>& action,
                      const std::function<void()>& before_action = {}) {
    int channel[2];
    if (pipe(channel) != 0) return {};
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        close(channel[0]);
        if (before_action) before_action();
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        const long before = usage.ru_maxrss;
        bool ok = false;
        try {
            ok = action();
        } catch (...) {
            ok = false;
        }
        getrusage(RUSAGE_SELF, &usage);
        const long growth = usage.ru_maxrss - before;
        (void)!write(channel[1], &growth, sizeof growth);
        _exit(ok ? 0 : 1);
    }
    close(channel[1]);
    ChildOutcome outcome;
    long growth = 0;
    if (read(channel[0], &growth, sizeof growth) == static_cast<ssize_t>(sizeof growth)) {
        outcome.peak_growth_kb = growth;
    }
    close(channel[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    outcome.exited = WIFEXITED(status);
    outcome.exit_code = outcome.exited ? WEXITSTATUS(status) : -1;
    outcome.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    return outcome;
}

constexpr long kMegabyte = 1024;  // in the kilobytes of ru_maxrss

const std::string kOneDataset =
    "Set1\nDataset 1\nGenes and time points\n3 3\nTime points\n0.0 1.0 2.0\nReserved\n1.0\n"
    "Expression values (log2)\n0.0 1.0 2.0\n1.0 1.0 0.0\n0.0 -1.0 0.0\nEND\n";

// A fresh folder per test for data files and results, removed afterwards.
class Pathological : public ::testing::Test {
protected:
    void SetUp() override {
        options_.output_dir = dir_;
        options_.threads = 1;
    }

    fs::path write_file(const std::string& name, const std::string& text) const {
        const fs::path file = dir_ / name;
        std::ofstream(file, std::ios::binary) << text;
        return file;
    }
    std::string run_failure(const fs::path& file) const {
        return failure_of([&] { run_inference(file.string(), 0.0, 1e-6, options_); });
    }

    netrevia::test_support::TempDir temp_{"netrevia-patho"};
    const fs::path dir_ = temp_.path();
    RunOptions options_;
};

// A 100 MB line where a value read meets it, and 16 MB lines for a skip and a marker read: the
// skip and marker reads hold nothing of theirs, the value read one copy of its line, released
// once the read is done.
TEST_F(Pathological, HundredMegabyteLinesCostAtMostAFewTimesTheirSize) {
    const std::size_t size = std::size_t{100} << 20;
    const fs::path file = dir_ / "long_lines.dat";
    {
        std::ofstream out(file, std::ios::binary);
        const std::string chunk(1 << 20, 'x');
        for (int i = 0; i < 16; ++i) out << chunk;  // line 1: a skip read
        out << "\n1\nNumber of genes\n3\nGene names\n";
        const std::string blanks(1 << 20, ' ');
        for (std::size_t i = 0; i < size >> 20; ++i) out << blanks;  // a value read
        out << "G1\nG2\nG3\n";
        for (int i = 0; i < 16; ++i) out << chunk;  // a marker read
        out << "\n" << kOneDataset.substr(kOneDataset.find('\n') + 1);
    }
    const ChildOutcome outcome = in_child([&] {
        const RunSummary summary = run_inference(file.string(), 0.0, 1e-6, options_);
        return summary.network.n == 3 && summary.network.K == 1;
    });
    EXPECT_TRUE(outcome.exited && outcome.exit_code == 0) << outcome.signal;
    EXPECT_LT(outcome.peak_growth_kb, 600 * kMegabyte);
}

// One 2 GB line of NULs (a sparse file) where a value is read: refused as a token beyond
// 1 MiB after reading about that much, where the whole line used to be held (4.2 GB).
TEST_F(Pathological, EndlessLineOfNulsIsRefusedAfterAMegabyte) {
    const fs::path file = write_file("nuls.dat", "K\n");
    fs::resize_file(file, std::uintmax_t{2} << 30);
    const ChildOutcome outcome = in_child([&] {
        return run_failure(file).starts_with("input error: \"\\x00\\x00") &&
               run_failure(file).ends_with(
                   "...\" is longer than 1048576 characters (line 2), unit 7, file " +
                   file.string());
    });
    EXPECT_TRUE(outcome.exited && outcome.exit_code == 0);
    EXPECT_LT(outcome.peak_growth_kb, 16 * kMegabyte);
}

// The run's arrays are checked against the memory budget before they exist: the stores (and
// what the selection adds) after the header, a block's arrays after its header. 2000 genes
// and 100000 time points by repeat counts (a 600 kB file) need 4.5 GiB for the block.
TEST_F(Pathological, MemoryBudgetRefusesBeforeTheArraysExist) {
    options_.memory_budget = 631;
    fs::path file = write_file("example.dat", "K\n1\nn\n3\nNames\nG1\nG2\nG3\n" + kOneDataset);
    EXPECT_EQ(run_failure(file), "data file " + file.string() +
                                     ", header: the run needs 632 bytes (3 genes, 1 datasets: 144 "
                                     "bytes for the stores, 488 bytes for the selection), more "
                                     "than the memory budget of 631 bytes");
    options_.memory_budget = 632;
    EXPECT_EQ(run_failure(file), "no error");
    file = write_file("long.dat",
                      "K\n1\nn\n1\nNames\nG1\nSet1\nDataset\nCounts\n1 10\n"
                      "Time points\n0 1 2 3 4 5 6 7 8 9\nReserved\n1\nValues\n10*0\nEND\n");
    options_.memory_budget = 431;
    // A wrong block size would let the large case below really build its 4.5 GiB block.
    ASSERT_EQ(run_failure(file), "data file " + file.string() +
                                     ", dataset block 1: the run needs 432 bytes (1 genes x 10 "
                                     "time points: 416 bytes for the block, 16 bytes for the "
                                     "stores), more than the memory budget of 431 bytes");
    options_.memory_budget = 432;
    EXPECT_EQ(run_failure(file), "no error");
    std::string text = "K\n1\nn\n2000\nNames\n";
    for (int i = 1; i <= 2000; ++i) text.append("G").append(std::to_string(i)).append("\n");
    text += "Set1\nDataset\nCounts\n2000 100000\nTime points\n";
    for (int j = 0; j < 100000; ++j) text.append(std::to_string(j)).append(" ");
    text += "\nReserved\n1\nValues\n";
    for (int i = 1; i <= 2000; ++i) text += "100000*0\n";
    file = write_file("repeats.dat", text + "END\n");
    options_.memory_budget = std::uint64_t{1} << 30;
    const ChildOutcome outcome = in_child([&] {
        return run_failure(file) ==
               "data file " + file.string() +
                   ", dataset block 1: the run needs 4.5 GiB (2000 genes x 100000 time points: "
                   "4.5 GiB for the block, 61.0 MiB for the stores), more than the memory budget "
                   "of 1.0 GiB";
    });
    EXPECT_TRUE(outcome.exited && outcome.exit_code == 0);
    EXPECT_LT(outcome.peak_growth_kb, 100 * kMegabyte);
}

// The header claims 2000 genes (the most allowed) and the file ends: the stores of the largest
// file (2 x 4 x 2000^2 doubles, 256 MB) are the most the claim can cost before end-of-file.
TEST_F(Pathological, HeaderClaimingTwoThousandGenesInAShortFileEndsAtEndOfFile) {
    const fs::path file = write_file("short.dat", "K\n4\nn\n2000\nNames\nG1\nG2\n");
    const ChildOutcome outcome = in_child([&] {
        return failure_of([&] { run_inference(file.string(), 0.0, 1e-6, options_); }) ==
               "end-of-file during read, unit 7, file " + file.string();
    });
    EXPECT_TRUE(outcome.exited && outcome.exit_code == 0);
    EXPECT_LT(outcome.peak_growth_kb, 400 * kMegabyte);
    EXPECT_FALSE(fs::exists(dir_ / "GRN.dat"));
}

// A block header claiming two billion time points is refused before any array is sized by it.
TEST_F(Pathological, BlockClaimingTwoBillionTimePointsIsRefusedWithoutItsArrays) {
    const fs::path file =
        write_file("huge_t.dat",
                   "K\n1\nn\n1\nNames\nG1\nSet1\nDataset\nGenes and time points\n"
                   "1 2000000000\nTime points\n0 1 2\nReserved\n1\nValues\n0 0 0\nEND\n");
    const ChildOutcome outcome = in_child([&] {
        return run_failure(file) ==
               "data file " + file.string() +
                   ", dataset block 1: time-point count 2000000000 is more than the rest of "
                   "the file can hold";
    });
    EXPECT_TRUE(outcome.exited && outcome.exit_code == 0);
    EXPECT_LT(outcome.peak_growth_kb, 64 * kMegabyte);
    EXPECT_FALSE(fs::exists(dir_ / "GRN.dat"));
}

// Repeat counts up to 2^31 - 1 fill only what the read needs; 2^31 is an input error.
TEST(PathologicalValues, RepeatCountsAtAndBeyondTwoToTheThirtyFirst) {
    std::istringstream in("2147483647*0.5 junk\n2147483648*0.5\n");
    DataFileReader reader(in, "x.dat");
    std::vector<double> x(4, 0.0);
    reader.read_values(x);
    EXPECT_EQ(x, std::vector<double>(4, 0.5));
    EXPECT_EQ(failure_of([&] { reader.read_values(x); }),
              "input error: \"2147483648*0.5\" has a repeat count outside 1 to 2147483647 "
              "(line 2), unit 7, file x.dat");
}

// Every way of writing an expression value ends in the same test of 2^x: a repeat token, a D
// exponent, the last value below 1024 and 1024 itself.
TEST(PathologicalValues, ExpressionValueRangeHoldsForRepeatsAndDExponents) {
    const auto row_of = [](const std::string& line) {
        return failure_of([&] {
            std::istringstream in(line + "\n");
            DataFileReader reader(in, "x.dat");
            std::vector<double> x(3, 0.0);
            read_expression_row(reader, 1, 2, "G2       ", x);
        });
    };
    const std::string prefix = "data file x.dat, dataset block 1: expression value ";
    EXPECT_EQ(row_of("0 2*1.024D3"), prefix +
                                         "1024 of gene 2 (G2) at time point 2 is out of range: "
                                         "its linear scale 2^x is not finite");
    EXPECT_EQ(row_of("3*1023.9999"), "no error");
    EXPECT_EQ(row_of("1 2 1.0240000000000001d+3"),
              prefix +
                  "1024 of gene 2 (G2) at time point 3 is out of range: its linear scale "
                  "2^x is not finite");
    EXPECT_EQ(row_of("1 1e309 0"),
              "input error: \"1e309\" is not a finite real number (line 1), unit 7, file x.dat");
}

// Time steps that overflow (-1e308 to 1e308) would make every rate zero, subnormal ones
// (1e-320) infinite: both are refused, as is a normal step that still makes a rate overflow.
// Every finite rate is accepted, however large its bound; a result that overflows on the way
// (steps of 1e-50) is refused too, never written.
TEST_F(Pathological, TimeStepsThatBreakTheRatesAreRefused) {
    const auto block = [&](const std::string& times, const std::string& row) {
        return write_file("steps.dat",
                          "K\n1\nn\n1\nNames\nG1\nSet1\nDataset\nCounts\n1 2\n"
                          "Time points\n" +
                              times + "\nReserved\n1\nValues\n" + row + "\nEND\n");
    };
    fs::path file = block("-1e308 1e308", "0 0");
    EXPECT_EQ(run_failure(file), "data file " + file.string() +
                                     ", dataset block 1: time step t(2) - t(1) = inf is not a "
                                     "finite normal number");
    file = block("0 1e-320", "0 0");
    EXPECT_EQ(run_failure(file), "data file " + file.string() +
                                     ", dataset block 1: time step t(2) - t(1) = 1e-320 is not "
                                     "a finite normal number");
    file = block("0 1e-300", "1000 0");
    EXPECT_EQ(run_failure(file), "data file " + file.string() +
                                     ", dataset block 1: rate of change of gene 1 (G1) from time "
                                     "point 1 to 2 is not finite: (1 - 1.0715086071862673e+301) / "
                                     "1e-300 = -inf");
    // Equal values give rates of 0: finite, although 2^1021 / 0.1 is not.
    file = block("0 0.1", "1021 1021");
    EXPECT_EQ(run_failure(file), "no error");
    file = write_file("tiny_steps.dat",
                      "K\n1\nn\n3\nNames\nG1\nG2\nG3\nSet1\nDataset\nCounts\n3 3\n"
                      "Time points\n0 1e-50 2e-50\nReserved\n1\nValues\n0 1 2\n1 1 0\n"
                      "0 -1 0\nEND\n");
    fs::remove(dir_ / "GRN.dat");
    const fs::path top = write_file("top.dat",
                                    "K\n1\nn\n2\nNames\nG1\nG2\nSet1\nx\nx\n2 3\nT\n0 1 2\nR\n1\n"
                                    "V\n1023.9 1023.8 1023.7\n1023.5 1023.9 1023.6\nEND\n");
    EXPECT_EQ(run_failure(top), "data file " + top.string() +
                                    ", dataset block 1: the particular solution is not finite: "
                                    "J0(1, 1) = nan (the rates of change are too large for the "
                                    "decomposition)");
    EXPECT_EQ(run_failure(file), "data file " + file.string() +
                                     ", result: the interaction matrix is not finite: R(1, 1) = "
                                     "inf");
    // One gene: a huge finite rate over a small state, 2^1023 * 2^19 in J0.
    const fs::path one = block("0 1", "-19 1023");
    EXPECT_EQ(run_failure(one), "data file " + one.string() +
                                    ", dataset block 1: the particular solution is not finite: "
                                    "J0(1, 1) = inf (the rates of change are too large for the "
                                    "decomposition)");
    EXPECT_FALSE(fs::exists(dir_ / "GRN.dat"));
    // Adjacent huge time points have a finite, normal difference and are accepted.
    file = block("1e308 1.0000000000000002e308", "0 1");
    EXPECT_EQ(run_failure(file), "no error");
    EXPECT_TRUE(fs::exists(dir_ / "GRN.dat"));
}

// A run that dies while writing its result (the file-size limit stops it, as a full disk
// or a kill would) leaves the earlier GRN.dat and GRN.dot as they were: the new content only
// ever goes to a temporary file. With SIGXFSZ ignored the write fails with EFBIG instead, and
// the run reports a write error for GRN.dat.
TEST_F(Pathological, RunStoppedMidWriteLeavesEarlierResultsIntact) {
    // 200 genes and no dataset: a zero network whose GRN.dat has 200 x 200 fields (1 MB).
    std::string text = "K\n1\nn\n200\nNames\n";
    for (int i = 1; i <= 200; ++i) {
        text += 'G';
        text.append(std::to_string(i)).push_back('\n');
    }
    const fs::path data = write_file("big.dat", text + "END\n");
    const std::string old_matrix = "earlier GRN.dat\n";
    const std::string old_graph = "earlier GRN.dot\n";
    std::ofstream(dir_ / "GRN.dat", std::ios::binary) << old_matrix;
    std::ofstream(dir_ / "GRN.dot", std::ios::binary) << old_graph;

    const auto limit_file_size = [] {
        const rlimit no_core{0, 0};
        setrlimit(RLIMIT_CORE, &no_core);
        const rlimit size{256 * 1024, 256 * 1024};
        setrlimit(RLIMIT_FSIZE, &size);
    };
    const ChildOutcome killed = in_child(
        [&] {
            run_inference(data.string(), 0.0, 1e-6, options_);
            return true;
        },
        limit_file_size);
    EXPECT_EQ(killed.signal, SIGXFSZ);
    EXPECT_EQ(contents(dir_ / "GRN.dat"), old_matrix);
    EXPECT_EQ(contents(dir_ / "GRN.dot"), old_graph);

    const ChildOutcome refused = in_child(
        [&] {
            const std::string message = run_failure(data);
            return message.rfind("write error: File too large, unit 3, file ", 0) == 0;
        },
        [&] {
            std::signal(SIGXFSZ, SIG_IGN);
            limit_file_size();
        });
    EXPECT_TRUE(refused.exited && refused.exit_code == 0);
    EXPECT_EQ(contents(dir_ / "GRN.dat"), old_matrix);
    EXPECT_EQ(contents(dir_ / "GRN.dot"), old_graph);

    // Without the limit the same run replaces both.
    run_inference(data.string(), 0.0, 1e-6, options_);
    EXPECT_GE(fs::file_size(dir_ / "GRN.dat"), 200u * 200u * 25u);
    EXPECT_NE(contents(dir_ / "GRN.dot"), old_graph);
}

}  // namespace
}  // namespace netrevia::inference
