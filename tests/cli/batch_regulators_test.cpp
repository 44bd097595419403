#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "batch_fixture.h"
#include "cli/batch.h"
#include "exports/exports.h"

namespace netrevia::cli {
namespace {

namespace fs = std::filesystem;
using RegulatorRun = cli_testing::BatchFixture;

// Entry (i, j) of an n x n GRN.dat: 25-character fields, CR LF line ends.
double grn_entry(const std::string& grn, int n, int i, int j) {
    const std::size_t line =
        static_cast<std::size_t>(i - 1) * (25 * static_cast<std::size_t>(n) + 2);
    return std::stod(grn.substr(line + 25 * static_cast<std::size_t>(j - 1), 25));
}

// --regulators takes a file; the exact and fast engines (the exact one by default) refuse it
// in one line that says why.
TEST(BatchArgs, RegulatorsTakeAFileAndOnlyTheSubsetEngines) {
    for (const char* engine : {"ensemble", "trees", "consensus"}) {
        const ParsedArgs parsed =
            parse_args({"--engine", engine, "--regulators", "tf.txt", "d.dat"});
        ASSERT_EQ(parsed.outcome, ParseOutcome::kRun) << engine << parsed.error;
        EXPECT_EQ(parsed.options.regulators_file, "tf.txt");
    }
    EXPECT_EQ(parse_args({"--engine", "ensemble", "--regulators=", "d.dat"}).error,
              "--regulators needs a file");
    EXPECT_EQ(parse_args({"--regulators", "tf.txt", "d.dat"}).error,
              "--engine exact takes no --regulators: its model fits every gene on the levels of "
              "all genes, with no choice of regulators");
    EXPECT_EQ(parse_args({"--regulators", "tf.txt", "--engine", "fast", "d.dat"}).outcome,
              ParseOutcome::kError);
}

// The genes of the list are the only regulators: their columns alone are scored, each gene
// stays a target, names without a gene are listed in one warning, and the summary and
// run.json say what the list was (its bytes as read, hashed). The same bytes for every thread
// count.
TEST_F(RegulatorRun, OnlyListedColumnsAreScoredAndTheListIsRecorded) {
    const fs::path data = fs::path(CLI_TEST_DIR) / "data" / "four_courses.dat";
    const std::string list = put("tf.txt", "# candidates\nG3\nG17  # second\nGX\n\nG3\nG9\ng1\n");
    ASSERT_EQ(run({"--engine", "ensemble", "--regulators", list, "--threads", "1", "--output-dir",
                   dir_.string(), data.string()}),
              0)
        << err_.str();
    EXPECT_EQ(err_.str(), "netrevia-batch: warning: 2 of the 5 names in " + list +
                              " are not among the genes and are left out: 'GX', 'g1'\n");
    EXPECT_NE(out_.str().find("regulators:   3 of 20 genes, from " + list +
                              "\nengine:       ensemble, seed 0\n"
                              "runs:         45 subsets of 2 regulators\n"),
              std::string::npos)
        << out_.str();
    EXPECT_NE(out_.str().find(" between distinct genes of 57 possible, "), std::string::npos);
    // A pair that ranks lowest in every run holding it scores 0 as well.
    const std::string grn = read(dir_ / "GRN.dat");
    for (int j = 1; j <= 20; ++j) {
        const bool listed = j == 3 || j == 9 || j == 17;
        int scored = 0;
        for (int i = 1; i <= 20; ++i) scored += grn_entry(grn, 20, i, j) != 0.0;
        EXPECT_EQ(grn_entry(grn, 20, j, j), 0.0);
        if (listed) {
            EXPECT_GE(scored, 15) << j;
        } else {
            EXPECT_EQ(scored, 0) << j;
        }
    }
    const auto json = nlohmann::json::parse(read(dir_ / "run.json"));
    std::uintmax_t size = 0;
    EXPECT_EQ(json["regulators"], (nlohmann::json{{"path", list},
                                                  {"bytes", 43},
                                                  {"sha256", exports::sha256_hex(list, size)},
                                                  {"names_listed", 5},
                                                  {"names_not_among_genes", 2},
                                                  {"genes", 3}}));
    ASSERT_EQ(run({"--engine", "ensemble", "--regulators", list, "--threads", "3", "--output-dir",
                   dir_.string(), data.string()}),
              0);
    EXPECT_EQ(read(dir_ / "GRN.dat"), grn);
    ASSERT_EQ(run({"--engine", "ensemble", "--output-dir", dir_.string(), data.string()}), 0);
    EXPECT_FALSE(nlohmann::json::parse(read(dir_ / "run.json")).contains("regulators"));
}

// Names that a data file shortens to the same 9 characters are found by their full names;
// the tree engine and the consensus take the list the same way.
TEST_F(RegulatorRun, RenamedGenesAreFoundByTheirFullNames) {
    std::ostringstream text;
    text << "Datasets\n1\nGenes\n4\nNames\ntranscript_alpha\ntranscript_beta\nG3\nG4\nSet1\nx\nx\n"
            "4 9\nx\n0 1 2 3 4 5 6 7 8\nx\n1\nx\n";
    for (int g = 0; g < 4; ++g) {
        for (int j = 0; j < 9; ++j) text << (j ? " " : "") << 0.1 * ((g + 1) * j % 7) + 0.3 * g;
        text << "\n";
    }
    text << "END\n";
    const std::string data = put("clash.dat", text.str());
    const std::string list = put("tf.txt", "transcript_beta\n");
    for (const char* engine : {"ensemble", "trees", "consensus"}) {
        ASSERT_EQ(
            run({"--engine", engine, "--regulators", list, "--output-dir", dir_.string(), data}), 0)
            << engine << err_.str();
        EXPECT_NE(err_.str().find("genes transcript_alpha (transcr~1) transcript_beta "
                                  "(transcr~2) share their first 9 characters"),
                  std::string::npos)
            << err_.str();
        const std::string grn = read(dir_ / "GRN.dat");
        int scored = 0;
        for (int j = 1; j <= 4; ++j) {
            for (int i = 1; i <= 4; ++i) {
                if (j == 2) {
                    scored += grn_entry(grn, 4, i, j) != 0.0;
                } else {
                    EXPECT_EQ(grn_entry(grn, 4, i, j), 0.0) << engine << " " << i << " " << j;
                }
            }
        }
        EXPECT_GE(scored, 2) << engine;
    }
}

// A list that names no gene is refused before the run: nothing is written, and an output
// folder made for the run goes again. A list that cannot be read is an input error of unit 13.
TEST_F(RegulatorRun, AListOfNoGeneIsRefused) {
    const fs::path data = fs::path(CLI_TEST_DIR) / "data" / "four_courses.dat";
    const std::string list = put("tf.txt", "lexA\nrecA\n");
    const fs::path out = dir_ / "new";
    EXPECT_EQ(run({"--engine", "trees", "--regulators", list, "--output-dir", out.string(),
                   data.string()}),
              1);
    EXPECT_EQ(err_.str(), "netrevia-batch: the list of regulators " + list +
                              " names none of the 20 genes of data file " + data.string() +
                              " (its 2 name(s), such as 'lexA', are matched to the full gene "
                              "names)\n");
    EXPECT_FALSE(fs::exists(out));
    const std::string empty = put("empty.txt", "# none yet\n");
    EXPECT_EQ(run({"--engine", "ensemble", "--regulators", empty, "--output-dir", dir_.string(),
                   data.string()}),
              1);
    EXPECT_EQ(err_.str(), "netrevia-batch: the list of regulators " + empty + " names no gene\n");
    EXPECT_EQ(run({"--engine", "ensemble", "--regulators", (dir_ / "none.txt").string(),
                   "--output-dir", dir_.string(), data.string()}),
              1);
    EXPECT_EQ(err_.str(), "netrevia-batch: file not found, unit 13, file " +
                              (dir_ / "none.txt").string() + "\n");
    EXPECT_FALSE(fs::exists(dir_ / "GRN.dat"));
}

}  // namespace
}  // namespace netrevia::cli
