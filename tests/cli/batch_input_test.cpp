#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "batch_fixture.h"
#include "inference/run.h"

namespace {

namespace fs = std::filesystem;

// The three-gene example written in the forms the data-file grammar allows: labels of any
// text, blank lines before values, values with leading blanks, signs, commas, tabs, repeat
// counts, D exponents, rows split over lines, a slash, quoted names followed by other words,
// CR LF line ends, a marker that is an empty line, and text after END.
std::vector<std::pair<std::string, std::string>> formatting_variants() {
    const std::string labels = "Number of datasets\n";
    return {
        {"plain",
         "Number of datasets\n1\nNumber of genes\n3\nGene names\nG1\nG2\nG3\nSet1\nDataset 1\n"
         "Genes and time points\n3 3\nTime points\n0.0 1.0 2.0\nReserved\n1.0\n"
         "Expression values (log2)\n0.0 1.0 2.0\n1.0 1.0 0.0\n0.0 -1.0 0.0\nEND\n"},
        {"blank_lines_and_blanks",
         "\n\n   \n  1\n\n\n \t 3 \n\n  G1\n\tG2\n G3  \n  Set1\n\n\n\n 3    3 \n\n\n"
         "  0.0   1.0   2.0\n\n\n  1.0\n\n\n  0.0 1.0 2.0\n 1.0 1.0 0.0\n  0.0 -1.0 0.0\nEND\n"},
        {"signed_counts",
         "Datasets\n+1\nGenes\n+3\nNames\nG1\nG2\nG3\nSet1\nx\nx\n+3 +3\nx\n+0.0 +1.0 +2.0\nx\n"
         "+1.0\nx\n+0 +1 +2\n+1 +1 -0\n-0 -1 +0\nEND\n"},
        {"quoted_names_with_trailing_words",
         "Datasets\n1\nGenes\n3\nNames\n'YA L6458' trailing words\n\"G4\"\tmore\n'G,3', x\nSet1\n"
         "x\nx\n3 3\nx\n0 1 2\nx\n1\nx\n0 1 2\n1 1 0\n0 -1 0\nEND\n"},
        {"commas_tabs_repeats_exponents",
         "Datasets\n1,\nGenes\n3,,\nNames\nG1,\nG2\t\nG3 /\nSet1\nx\nx\n3,3\nx\n0.0D0,1.0d0\t2E0\n"
         "x\n1.0\nx\n0.0,1.0,2.0\n2*1.0,0.0\n0.0\t-1.0e0\t0.0\nEND\n"},
        {"split_rows_and_extra_values",
         "Datasets\n1 2 3\nGenes\n3 x y\nNames\nG1 G1b\nG2\nG3\nSet1\nx\nx\n3\n3\nx\n0.0 1.0\n2.0 "
         "9.0\nx\n1.0\nx\n0.0\n1.0 2.0\n1.0 1.0 0.0 7 7\n0.0 -1.0 0.0\nEND\n"},
        {"slash_and_null_values",
         "Datasets\n1\nGenes\n3\nNames\nG1\nG2\nG3\nSet1\nx\nx\n3 3\nx\n0.0 1.0 2.0\nx\n/\nx\n"
         "/\n1.0 1.0 0.0\n,-1.0,/\nEND\n"},
        {"crlf",
         "Datasets\r\n1\r\nGenes\r\n3\r\nNames\r\nG1\r\nG2\r\nG3\r\nSet1\r\nx\r\nx\r\n3 3\r\nx\r\n"
         "0 1 2\r\nx\r\n1\r\nx\r\n0 1 2\r\n1 1 0\r\n0 -1 0\r\nEND\r\n"},
        {"empty_marker_and_text_after_end",
         "gene,0,1\n1\ngene,0,1\n3\ngene,0,1\nA\nB\nC\n\nx\nx\n3 3\nx\n0 1 2\nx\n1\nx\n0 1 2\n"
         "1 1 0\n0 -1 0\nENDING\ngene,0,1\nA,1,2\n"},
        {"long_and_clashing_names",
         "Datasets\n1\nGenes\n3\nNames\ntranscript_alpha\ntranscript_beta\n\"G 3\"\nSet1\nx\nx\n"
         "3 3\nx\n0 1 2\nx\n1\nx\n0 1 2\n1 1 0\n0 -1 0\nEND\n"},
    };
}

// Every valid file of a corpus: the data-file reader's own test files, the fuzz corpus and
// regressions, the examples, and the formatting variants.
std::vector<std::pair<std::string, std::string>> corpus() {
    std::vector<std::pair<std::string, std::string>> files = formatting_variants();
    for (const char* folder : {INFERENCE_DATA_DIR, FUZZ_CORPUS_DIR, FUZZ_REGRESSIONS_DIR}) {
        for (const auto& entry : fs::directory_iterator(folder)) {
            if (!entry.is_regular_file()) continue;
            files.emplace_back(entry.path().filename().string(),
                               netrevia::test_support::read_bytes(entry.path()));
        }
    }
    for (const char* example : {"three_genes.dat", "twenty_genes.dat"}) {
        files.emplace_back(example,
                           netrevia::test_support::read_bytes(fs::path(EXAMPLES_DIR) / example));
    }
    return files;
}

using BatchInput = netrevia::cli_testing::BatchFixture;

// Whatever its name, a file the data-file reader accepts runs as a data file through the batch
// tool's own choice: the same exit, messages and result bytes as with --input data, under
// every extension a table may have. Run with the exact engine and the ensemble engine, whose
// limits differ.
TEST_F(BatchInput, EveryValidDataFileRunsAsADataFileUnderATableExtension) {
    int accepted = 0;
    for (const auto& [name, bytes] : corpus()) {
        for (const char* engine : {"exact", "ensemble"}) {
            const std::string source = put("source.dat", bytes);
            netrevia::inference::RunOptions limits;
            limits.engine = std::string(engine) == "exact" ? netrevia::selection::Engine::kExact
                                                           : netrevia::selection::Engine::kEnsemble;
            try {
                netrevia::inference::read_data_file(source, limits);
            } catch (const std::exception&) {
                continue;  // not a valid data file for this engine
            }
            ++accepted;
            const fs::path expected_dir = dir_ / "expected";
            fs::create_directories(expected_dir);
            const int expected =
                run({"--quiet", "--threads", "1", "--engine", engine, "--export", "none", "--input",
                     "data", "--output-dir", expected_dir.string(), source});
            const std::string expected_err = err_.str();
            for (const char* extension : {".txt", ".csv", ".tsv", ".dat"}) {
                SCOPED_TRACE(name + " as " + extension + " with " + engine);
                const std::string as_table = put(std::string("input") + extension, bytes);
                const fs::path actual_dir = dir_ / (std::string("actual") + extension);
                fs::create_directories(actual_dir);
                const int actual = run({"--quiet", "--threads", "1", "--engine", engine, "--export",
                                        "none", "--output-dir", actual_dir.string(), as_table});
                EXPECT_EQ(actual, expected) << err_.str();
                std::string shown = expected_err;
                for (std::size_t at; (at = shown.find(source)) != std::string::npos;)
                    shown.replace(at, source.size(), as_table);
                EXPECT_EQ(err_.str(), shown);
                for (const char* result : {"GRN.dat", "GRN.dot"}) {
                    EXPECT_EQ(fs::exists(actual_dir / result), fs::exists(expected_dir / result));
                    if (fs::exists(expected_dir / result)) {
                        EXPECT_EQ(read(actual_dir / result), read(expected_dir / result)) << result;
                    }
                }
                fs::remove_all(actual_dir);
            }
            fs::remove_all(expected_dir);
        }
    }
    // The corpus must hold valid files for the test to mean anything.
    EXPECT_GE(accepted, 40) << accepted;
}

// A file that is neither says what each reading found; the data-file reader's own messages
// stand alone for a file without a table's extension, and --input decides without trying
// the other reading.
TEST_F(BatchInput, NeitherReadingSaysWhatEachFound) {
    const std::string text = "Datasets\n1\nGenes\n2\nNames\nA\n";
    const std::string txt = put("broken.txt", text);
    EXPECT_EQ(run({"--quiet", "--output-dir", dir_.string(), txt}), 1);
    const std::string both = "netrevia-batch: " + txt +
                             " is neither a data file nor a table:\n"
                             "  read as a data file: end-of-file during read, unit 7, file " +
                             txt + "\n  read as a table: file " + txt + ", line ";
    const std::string message = err_.str();
    EXPECT_EQ(message.substr(0, both.size()), both);
    EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 3) << message;
    const std::string dat = put("broken.dat", text);
    EXPECT_EQ(run({"--quiet", "--output-dir", dir_.string(), dat}), 1);
    EXPECT_EQ(err_.str(), "netrevia-batch: end-of-file during read, unit 7, file " + dat + "\n");
    EXPECT_EQ(run({"--quiet", "--input", "data", "--output-dir", dir_.string(), txt}), 1);
    EXPECT_EQ(err_.str(), "netrevia-batch: end-of-file during read, unit 7, file " + txt + "\n");
    // A missing file is missing under either reading.
    const std::string missing = (dir_ / "missing.csv").string();
    EXPECT_EQ(run({"--quiet", "--output-dir", dir_.string(), missing}), 1);
    EXPECT_EQ(err_.str(), "netrevia-batch: file not found, unit 7, file " + missing + "\n");
    EXPECT_FALSE(fs::exists(dir_ / "GRN.dat"));
}

}  // namespace
