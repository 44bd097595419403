#include "exports/exports.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "batch_fixture.h"
#include "cli/batch.h"

namespace netrevia::cli {
using exports::parse_export_list;
using exports::sha256_hex;
namespace {

namespace fs = std::filesystem;

std::vector<std::vector<std::string>> tsv_rows(const std::string& text) {
    std::vector<std::vector<std::string>> rows;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> fields;
        std::istringstream cells(line);
        for (std::string cell; std::getline(cells, cell, '\t');) fields.push_back(cell);
        rows.push_back(fields);
    }
    return rows;
}

using ExportRun = cli_testing::BatchFixture;

TEST(ExportList, NamesAllNoneOrAList) {
    EXPECT_FALSE(parse_export_list("none")->edges);
    EXPECT_TRUE(parse_export_list("all")->graphml);
    const auto some = parse_export_list("sif,json");
    ASSERT_TRUE(some.has_value());
    EXPECT_TRUE(some->sif && some->json && !some->edges && !some->graphml);
    for (const char* bad : {"", "edges,", ",sif", "edges,,sif", "dot", "all,sif", "EDGES"}) {
        EXPECT_FALSE(parse_export_list(bad).has_value()) << bad;
    }
    const auto defaults = parse_args({"d.dat"});
    EXPECT_TRUE(defaults.options.exports.edges && defaults.options.exports.json);
    EXPECT_FALSE(defaults.options.exports.sif || defaults.options.exports.graphml);
}

TEST_F(ExportRun, Sha256KnownAnswer) {
    std::ofstream(dir_ / "abc") << "abc";
    std::uintmax_t size = 0;
    EXPECT_EQ(sha256_hex(dir_ / "abc", size),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(size, 3u);
}

// The example of twenty genes with every export; each file is read back and checked against
// GRN.dat, the summary and the other exports.
TEST_F(ExportRun, TwentyGenesExportsAgreeWithTheMatrix) {
    const std::string data = std::string(EXAMPLES_DIR) + "/twenty_genes.dat";
    ASSERT_EQ(run({"--quiet", "--export", "all", "--threshold", "0.39", "--output-dir",
                   dir_.string(), data}),
              0)
        << err_.str();

    // GRN.dat, column j of row i at 25 (j-1), rows of 20 x 25 + 2.
    const std::string matrix = read(dir_ / "GRN.dat");
    const auto R = [&](int i, int j) {
        return std::stod(matrix.substr(static_cast<std::size_t>((i - 1) * 502 + (j - 1) * 25), 25));
    };
    const auto rows = tsv_rows(read(dir_ / "edges.tsv"));
    ASSERT_GT(rows.size(), 1u);
    EXPECT_EQ(rows[0], (std::vector<std::string>{"rank", "regulator", "target", "weight", "sign",
                                                 "abs_weight", "above_threshold"}));
    int above = 0;
    bool in_self_terms = false;
    double previous = INFINITY;
    for (std::size_t r = 1; r < rows.size(); ++r) {
        const auto& f = rows[r];
        ASSERT_EQ(f.size(), 7u);
        EXPECT_EQ(f[0], std::to_string(r));
        const int regulator = std::stoi(f[1].substr(1));  // names G01 .. G20
        const int target = std::stoi(f[2].substr(1));
        const double weight = std::stod(f[3]);
        EXPECT_NEAR(weight, R(target, regulator), 5e-13) << f[1] << " -> " << f[2];
        EXPECT_EQ(f[4], weight > 0 ? "1" : "-1");
        EXPECT_EQ(std::stod(f[5]), std::abs(weight));
        EXPECT_EQ(f[6], std::abs(weight) > 0.39 ? "1" : "0");
        above += f[6] == "1";
        // Strongest first between distinct genes, then the self-terms, strongest first again.
        if (regulator == target && !in_self_terms) {
            in_self_terms = true;
            previous = INFINITY;
        }
        EXPECT_EQ(regulator == target, in_self_terms) << "row " << r;
        EXPECT_LE(std::abs(weight), previous) << "row " << r;
        previous = std::abs(weight);
    }
    EXPECT_TRUE(in_self_terms);

    const auto sif = tsv_rows(read(dir_ / "GRN.sif"));
    ASSERT_EQ(static_cast<int>(sif.size()), above);
    for (const auto& f : sif) {
        ASSERT_EQ(f.size(), 3u);
        EXPECT_TRUE(f[1] == "activates" || f[1] == "represses") << f[1];
    }
    const std::string graphml = read(dir_ / "GRN.graphml");
    std::size_t nodes = 0, edges = 0;
    for (std::size_t p = 0; (p = graphml.find("<node ", p)) != std::string::npos; ++p) ++nodes;
    for (std::size_t p = 0; (p = graphml.find("<edge ", p)) != std::string::npos; ++p) ++edges;
    EXPECT_EQ(nodes, 20u);
    EXPECT_EQ(static_cast<int>(edges), above);

    const auto json = nlohmann::json::parse(read(dir_ / "run.json"));
    EXPECT_EQ(json["genes"], 20);
    EXPECT_EQ(json["threshold"], 0.39);
    EXPECT_EQ(json["engine"], "exact");
    EXPECT_EQ(json["courses"][2]["time_points"], 12);
    EXPECT_EQ(json["data_file"]["bytes"], fs::file_size(data));
    std::uintmax_t size = 0;
    EXPECT_EQ(json["data_file"]["sha256"], sha256_hex(data, size));
    EXPECT_EQ(json["data_file"]["path"], data);
    EXPECT_FALSE(json.contains("tables"));
    EXPECT_EQ(json["edges"]["drawn"], above);
    EXPECT_EQ(json["threshold_hint"], 0.2 * json["largest_abs_weight_between_genes"].get<double>());
    EXPECT_EQ(json["files"], (std::vector<std::string>{"GRN.dat", "GRN.dot", "edges.tsv", "GRN.sif",
                                                       "GRN.graphml", "run.json"}));
    EXPECT_EQ(json["command_line"][0], "netrevia-batch");
}

// run.json records every table, each hashed as the run read it.
TEST_F(ExportRun, RunRecordListsEveryTableAsRead) {
    const std::string first = std::string(EXAMPLES_DIR) + "/five_genes_course1.csv";
    const std::string second = std::string(EXAMPLES_DIR) + "/five_genes_course2.csv";
    ASSERT_EQ(run({"--quiet", "--scale", "log2", "--export", "json", "--output-dir", dir_.string(),
                   first, second}),
              0)
        << err_.str();
    const auto json = nlohmann::json::parse(read(dir_ / "run.json"));
    EXPECT_FALSE(json.contains("data_file"));
    ASSERT_EQ(json["tables"].size(), 2u);
    std::uintmax_t size = 0;
    for (std::size_t k = 0; k < 2; ++k) {
        const std::string table = k == 0 ? first : second;
        EXPECT_EQ(json["tables"][k]["path"], table);
        EXPECT_EQ(json["tables"][k]["sha256"], sha256_hex(table, size));
        EXPECT_EQ(json["tables"][k]["bytes"], size);
    }
}

// Names Graphviz cannot read bare, cut names that clash, and a name only a quote can hold.
TEST_F(ExportRun, RealGeneNamesSurviveEveryFile) {
    const std::vector<std::string> names{"HLA-A", "NF-kB",  "14-3-3",      "2310002L13Rik",
                                         "node",  "'a\"b'", "back\\slash", "2310002L13Rik2"};
    const int n = static_cast<int>(names.size());
    std::ostringstream file;
    file << "Number of datasets\n1\nNumber of genes\n" << n << "\nGene names\n";
    for (const std::string& name : names) file << name << "\n";
    file << "Set1\nDataset 1\nGenes and time points\n"
         << n << " 4\nTime points\n0 1 2 3\n"
         << "Reserved\n1.0\nExpression values (log2)\n";
    for (int i = 1; i <= n; ++i) {
        for (int j = 1; j <= 4; ++j)
            file << std::sin(1.7 * i + 0.9 * j * i) << (j < 4 ? " " : "\n");
    }
    file << "END\n";
    std::ofstream(dir_ / "names.dat") << file.str();

    ASSERT_EQ(run({"--quiet", "--export", "all", "--output-dir", dir_.string(),
                   (dir_ / "names.dat").string()}),
              0)
        << err_.str();
    EXPECT_NE(err_.str().find("warning: genes 2310002L13Rik (2310002~1) 2310002L13Rik2 (2310002~2) "
                              "share their first 9 characters; GRN.dat and GRN.dot name them as "
                              "shown\n"),
              std::string::npos)
        << err_.str();

    const auto edges = tsv_rows(read(dir_ / "edges.tsv"));
    std::set<std::string> seen;
    for (std::size_t r = 1; r < edges.size(); ++r) seen.insert(edges[r][1]);
    // The name with a quote is quoted, its quote doubled (read back below, and by the scorer).
    EXPECT_EQ(seen, (std::set<std::string>{"HLA-A", "NF-kB", "14-3-3", "2310002L13Rik", "node",
                                           "\"a\"\"b\"", "back\\slash", "2310002L13Rik2"}));

    // Read back by the quoting rules of pandas' read_csv(sep="\t") and R's read.delim, which
    // Python's csv module shares: every name comes back exactly.
    if (std::system("command -v python3 >/dev/null 2>&1") == 0) {
        std::ofstream(dir_ / "read.py")
            << "import csv, sys\n"
               "for row in csv.reader(open(sys.argv[1], newline=''), delimiter='\\t'):\n"
               "    print(row[1])\n";
        const std::string command = "python3 '" + (dir_ / "read.py").string() + "' '" +
                                    (dir_ / "edges.tsv").string() + "' > '" +
                                    (dir_ / "names").string() + "'";
        ASSERT_EQ(std::system(command.c_str()), 0);
        std::set<std::string> read_back;
        std::istringstream lines(read(dir_ / "names"));
        for (std::string line; std::getline(lines, line);) read_back.insert(line);
        read_back.erase("regulator");
        EXPECT_EQ(read_back,
                  (std::set<std::string>{"HLA-A", "NF-kB", "14-3-3", "2310002L13Rik", "node",
                                         "a\"b", "back\\slash", "2310002L13Rik2"}));
    }

    if (std::system("command -v dot >/dev/null 2>&1 && command -v gc >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "no dot or gc on PATH";
    const std::string dot = (dir_ / "GRN.dot").string();
    ASSERT_EQ(std::system(("dot -Tsvg -o /dev/null '" + dot + "'").c_str()), 0);
    // Every edge once and every gene its own node: the two names that share their first nine
    // characters are made distinct in GRN.dot.
    const std::string counts = (dir_ / "counts").string();
    ASSERT_EQ(std::system(("gc -n -e '" + dot + "' > '" + counts + "'").c_str()), 0);
    std::istringstream words(read(counts));
    int nodes = 0, drawn = 0;
    words >> nodes >> drawn;
    const auto json = nlohmann::json::parse(read(dir_ / "run.json"));
    EXPECT_EQ(drawn, json["edges"]["drawn"].get<int>());
    EXPECT_EQ(nodes, n);
}

// Through the tool: a gene that never changes is named in a warning, counted in run.json, and
// 0 in its row and column of GRN.dat (before, it was the strongest regulator of every gene).
// A file in which no gene changes gives a matrix of zeros and draws nothing.
TEST_F(ExportRun, EnsembleNamesGenesWithoutChangeAndScoresThemZero) {
    // four_courses.dat: 20 genes, 4 blocks of 9 lines and 20 rows after 25 header lines.
    std::istringstream in(read(fs::path(CLI_TEST_DIR) / "data" / "four_courses.dat"));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 142u);
    for (std::size_t k = 0; k < 4; ++k) lines[25 + 29 * k + 9 + 6] = "1.5 1.5 1.5 1.5 1.5 1.5";
    std::string flat_g7;
    for (const std::string& line : lines) flat_g7 += line + "\n";
    ASSERT_EQ(run({"--engine", "ensemble", "--output-dir", dir_.string(), put("g7.dat", flat_g7)}),
              0)
        << err_.str();
    EXPECT_EQ(err_.str(),
              "netrevia-batch: warning: the ensemble engine left out 1 gene that does not change "
              "(its levels spread by at most 1/1000 of their mean); it scores 0 as a regulator and "
              "as a target: 'G7'\n");
    EXPECT_NE(out_.str().find("runs:         38 subsets of 10 genes\n"), std::string::npos);
    const std::string matrix = read(dir_ / "GRN.dat");
    const auto R = [&](int i, int j) {
        return matrix.substr(static_cast<std::size_t>((i - 1) * 502 + (j - 1) * 25), 25);
    };
    const std::string zero = "           0.000000000000";
    int nonzero = 0;
    for (int g = 1; g <= 20; ++g) {
        EXPECT_EQ(R(7, g), zero) << g;
        EXPECT_EQ(R(g, 7), zero) << g;
        nonzero += R(1, g) != zero;
    }
    EXPECT_EQ(nonzero, 18);  // the others are fitted: only R(1,1) and R(1,7) are 0
    const auto record = nlohmann::json::parse(read(dir_ / "run.json"));
    EXPECT_EQ(record["genes_without_change"], 1);
    EXPECT_EQ(record["threshold_hint"], 0.75);  // the engine's default, as the window suggests

    for (std::size_t k = 0; k < 4; ++k) {
        for (std::size_t g = 0; g < 20; ++g) lines[25 + 29 * k + 9 + g] = "2 2 2 2 2 2";
    }
    std::string still;
    for (const std::string& line : lines) still += line + "\n";
    ASSERT_EQ(run({"--engine", "ensemble", "--output-dir", dir_.string(), put("still.dat", still)}),
              0);
    EXPECT_NE(err_.str().find("left out 20 genes that do not change (their levels spread by at "
                              "most 1/1000 of their mean); they score 0 as regulators and as "
                              "targets: 'G1', 'G2', "),
              std::string::npos)
        << err_.str();
    EXPECT_NE(out_.str().find("edges:        0 (0 positive, 0 negative)"), std::string::npos);
    EXPECT_EQ(read(dir_ / "GRN.dat").find_first_of("123456789"), std::string::npos);
    EXPECT_EQ(nlohmann::json::parse(read(dir_ / "run.json"))["genes_without_change"], 20);
}

TEST_F(ExportRun, DrawingHasFullNamesArrowheadsAndNoSelfLoopsWhenAsked) {
    if (std::system("command -v dot >/dev/null 2>&1") != 0) GTEST_SKIP() << "no dot on PATH";
    const std::string data = std::string(EXAMPLES_DIR) + "/three_genes.dat";
    ASSERT_EQ(run({"--quiet", "--export", "none", "--no-self-loops", "--render", "svg",
                   "--output-dir", dir_.string(), data}),
              0)
        << err_.str();
    const std::string svg = read(dir_ / "GRN.svg");
    // The worked example: G1 -| G2 and G3 -> G2, G1 -> G3 besides the self-terms left out.
    std::size_t edges = 0;
    for (std::size_t p = 0; (p = svg.find("class=\"edge\"", p)) != std::string::npos; ++p) ++edges;
    EXPECT_EQ(edges, 3u + 2u);  // three edges and the legend's two samples
    EXPECT_NE(svg.find("Legend"), std::string::npos);
    EXPECT_EQ(svg.find("g1&#45;&gt;g1"), std::string::npos);
    EXPECT_NE(svg.find("g1&#45;&gt;g2"), std::string::npos);
    // Only the exports asked for, and no styled copy left behind.
    std::vector<std::string> files;
    for (const auto& entry : fs::directory_iterator(dir_)) files.push_back(entry.path().filename());
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{".GRN.lock", "GRN.dat", "GRN.dot", "GRN.svg"}));
}

}  // namespace
}  // namespace netrevia::cli
