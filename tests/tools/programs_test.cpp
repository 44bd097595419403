// netrevia-simulate and netrevia-score as a user runs them: exit codes, messages and the files
// they leave, with netrevia-batch reading what the simulator writes.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/support.h"

namespace {

namespace fs = std::filesystem;
namespace test_support = netrevia::test_support;

class Programs : public ::testing::Test {
protected:
    // Runs program with the arguments (single-quoted for the shell) in the scratch folder;
    // returns its exit code and keeps its standard output and error.
    int run(const char* program, const std::vector<std::string>& args) {
        std::string command = "cd '" + dir_.string() + "' && '" + program + "'";
        for (const std::string& arg : args) command += " '" + arg + "'";
        command += " > out.txt 2> err.txt";
        const int status = std::system(command.c_str());
        out_ = test_support::read_bytes(dir_ / "out.txt");
        err_ = test_support::read_bytes(dir_ / "err.txt");
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string put(const std::string& name, const std::string& bytes) const {
        test_support::write_bytes(dir_ / name, bytes);
        return name;
    }

    test_support::TempDir temp_{"netrevia-tools"};
    const fs::path dir_ = temp_.path();
    std::string out_, err_;
};

// Options at their limits give files the batch tool runs on (exit 0); beyond them the
// simulator refuses at once (exit 2) and writes nothing. Each refused case used to exit 0 with
// a data file the batch tool refused: equal time points, "inf" values, the truth table written
// over the data file.
TEST_F(Programs, SimulatorFilesAtTheLimitsRunAndBeyondThemAreRefused) {
    for (const std::vector<std::string>& limits :
         {std::vector<std::string>{"--genes", "2", "--courses", "1", "--points", "2"},
          std::vector<std::string>{"--dt", "1e-6", "--points", "5"},
          std::vector<std::string>{"--dt", "2e-6", "--irregular", "--seed", "3", "--points", "9"},
          std::vector<std::string>{"--noise", "100", "--input", "--courses", "4"},
          std::vector<std::string>{"--genes", "5", "--constant-gene", "--input", "--seed",
                                   "18446744073709551615"}}) {
        SCOPED_TRACE(::testing::PrintToString(limits));
        std::vector<std::string> args = limits;
        args.insert(args.end(), {"--out-data", "d.dat", "--out-truth", "t.tsv"});
        ASSERT_EQ(run(SIMULATE_PATH, args), 0) << err_;
        EXPECT_EQ(err_, "");
        EXPECT_EQ(run(BATCH_PATH, {"--quiet", "--output-dir", "out", "d.dat"}), 0) << err_;
        EXPECT_EQ(run(SCORE_PATH, {"--grn", "out/GRN.dat", "--truth", "t.tsv"}), 0) << err_;
        fs::remove(dir_ / "d.dat");
    }

    const std::string help = " (see netrevia-simulate --help)\n";
    const std::string dt =
        "netrevia-simulate: --dt must be 1e-06 to 1000 (2e-06 to 1000 with --irregular): time "
        "points are written on a grid of 1e-06" +
        help;
    const std::string noise = "netrevia-simulate: --noise must be 0 to 100 (log2 units)" + help;
    const struct {
        std::vector<std::string> args;
        std::string message;
    } refused[] = {
        {{"--dt", "1e-7"}, dt},
        {{"--dt", "1.5e-6", "--irregular"}, dt},
        {{"--dt", "1e-300"}, dt},
        {{"--noise", "inf"}, noise},
        {{"--noise", "300"}, noise},
        {{"--out-truth", "./d.dat"},
         "netrevia-simulate: --out-data and --out-truth name the same file d.dat" + help},
        {{"--replicates", "2", "--noise", "0.1"},
         "netrevia-simulate: --replicates needs --out-table: a data file holds one replicate" +
             help},
        {{"--out-table", "d.dat"},
         "netrevia-simulate: --out-table names the file of --out-data or --out-truth: d.dat" +
             help},
    };
    for (const auto& r : refused) {
        std::vector<std::string> args = {"--out-data", "d.dat"};
        args.insert(args.end(), r.args.begin(), r.args.end());
        EXPECT_EQ(run(SIMULATE_PATH, args), 2) << ::testing::PrintToString(r.args);
        EXPECT_EQ(err_, r.message);
        EXPECT_FALSE(fs::exists(dir_ / "d.dat"));
    }
    // A course that decayed to about 2^-1015 has no room for noise below it (it wrote -inf).
    EXPECT_EQ(run(SIMULATE_PATH, {"--genes", "2", "--courses", "1", "--dt", "30", "--points", "48",
                                  "--seed", "4", "--noise", "100", "--out-data", "d.dat"}),
              1);
    EXPECT_EQ(err_,
              "netrevia-simulate: course 1: the noise took a value below the smallest positive "
              "double (a log2 value under -1074); try a smaller --noise, fewer --points, a "
              "smaller --dt or --input\n");
    EXPECT_FALSE(fs::exists(dir_ / "d.dat"));
    // A link to a data file not yet written is found out once it exists: the data file stays.
    fs::create_symlink("linked.dat", dir_ / "link.dat");
    EXPECT_EQ(run(SIMULATE_PATH, {"--out-data", "link.dat", "--out-truth", "linked.dat"}), 2);
    EXPECT_EQ(err_,
              "netrevia-simulate: --out-data and --out-truth name the same file link.dat" + help);
    EXPECT_EQ(test_support::read_bytes(dir_ / "linked.dat").rfind("Number of datasets\n", 0), 0u);
}

// netrevia-score refuses a truth that contradicts itself or breaks its format, naming the file
// and the line (exit 1); a truth saved with a UTF-8 byte-order mark scores as without it.
TEST_F(Programs, ScoreRefusesBrokenTruthsAndReadsAMarkedOne) {
    ASSERT_EQ(run(SIMULATE_PATH, {"--genes", "6", "--out-data", "d.dat", "--out-truth", "t.tsv"}),
              0);
    ASSERT_EQ(run(BATCH_PATH, {"--quiet", "--output-dir", "out", "d.dat"}), 0) << err_;
    ASSERT_EQ(run(SCORE_PATH, {"--grn", "out/GRN.dat", "--truth", "t.tsv"}), 0) << err_;
    const std::string scores = out_;
    const std::string truth = test_support::read_bytes(dir_ / "t.tsv");
    put("marked.tsv", "\xef\xbb\xbf" + truth);
    EXPECT_EQ(run(SCORE_PATH, {"--grn", "out/GRN.dat", "--truth", "marked.tsv"}), 0) << err_;
    EXPECT_EQ(out_, scores);

    // The first edge of the seed-1 truth (line 5), given again with the other sign.
    ASSERT_NE(truth.find("\nG02\tG01\t-\t-0.5210242284\n"), std::string::npos) << truth;
    put("twice.tsv", truth + "G02 G01 +\n");
    EXPECT_EQ(run(SCORE_PATH, {"--grn", "out/GRN.dat", "--truth", "twice.tsv"}), 1);
    EXPECT_EQ(err_,
              "netrevia-score: truth file twice.tsv, line 15: 'G02' -> 'G01' is given as '+' here "
              "and as '- -0.5210242284' on line 5\n");
    put("utf16.tsv", std::string("\xff\xfe#\0", 4));
    EXPECT_EQ(run(SCORE_PATH, {"--grn", "out/GRN.dat", "--truth", "utf16.tsv"}), 1);
    EXPECT_EQ(err_,
              "netrevia-score: truth file utf16.tsv: the file is UTF-16 (little-endian) text; save "
              "it as UTF-8 or ASCII text\n");
    EXPECT_EQ(run(SCORE_PATH, {"--grn", "out/GRN.dat", "--truth", "/dev/zero"}), 1);
    EXPECT_EQ(err_, "netrevia-score: cannot open /dev/zero: not a regular file\n");
}

}  // namespace
