#include "table/import.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "inference/experiment.h"
#include "inference/run.h"
#include "table/import_tool.h"
#include "tests/table/export_tables.h"

namespace {

namespace fs = std::filesystem;
using netrevia::table::import_main;
using netrevia::table::ImportedTables;
using netrevia::table::make_short_names;
namespace export_tables = netrevia::table::testing;

std::string read_bytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class ImportInTempDir : public ::testing::Test {
protected:
    void SetUp() override {
        std::random_device rd;
        dir_ = fs::temp_directory_path() /
               ("netrevia-import-" + std::to_string(rd()) + "-" + std::to_string(rd()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path put(const std::string& name, const std::string& bytes) const {
        std::ofstream(dir_ / name, std::ios::binary) << bytes;
        return dir_ / name;
    }
    int import(std::vector<std::string> args) {
        out_.str("");
        err_.str("");
        return import_main(args, out_, err_);
    }
    // GRN.dat of a run on data_file, into its own folder.
    std::string grn_of(const fs::path& data_file, const std::string& folder) const {
        netrevia::inference::RunOptions options;
        options.output_dir = dir_ / folder;
        fs::create_directories(options.output_dir);
        netrevia::inference::run_inference(data_file.string(), 0.0, 1e-6, options);
        return read_bytes(options.output_dir / "GRN.dat");
    }

    fs::path dir_;
    std::ostringstream out_;
    std::ostringstream err_;
};

// The bundled twenty-gene data file, exported to every table layout and imported again, gives
// the same GRN.dat byte for byte (the log2 values come back bit for bit).
TEST_F(ImportInTempDir, EveryLayoutRoundTripsToTheSameNetwork) {
    const fs::path original = fs::path(EXAMPLES_DIR) / "twenty_genes.dat";
    const export_tables::DataFileContent d = export_tables::read_data_file(original);
    ASSERT_EQ(d.courses.size(), 3u);
    const std::string expected = grn_of(original, "original");
    ASSERT_FALSE(expected.empty());

    std::vector<std::vector<std::string>> layouts;
    std::vector<std::string> wide;
    const std::vector<std::string> csv = export_tables::wide_genes_in_rows(d);
    for (std::size_t k = 0; k < csv.size(); ++k)
        wide.push_back(put("genes" + std::to_string(k) + ".csv", csv[k]).string());
    layouts.push_back(wide);
    std::vector<std::string> tsv;
    for (std::size_t k = 0; k < d.courses.size(); ++k) {
        tsv.push_back(put("times" + std::to_string(k) + ".tsv",
                          export_tables::times_in_rows(d, k, k + 1, "time"))
                          .string());
    }
    layouts.push_back(tsv);
    layouts.push_back(
        {put("dream.tsv", export_tables::times_in_rows(d, 0, d.courses.size(), "Time")).string()});
    layouts.push_back({put("long.csv", export_tables::long_table(d)).string()});

    for (std::size_t l = 0; l < layouts.size(); ++l) {
        const fs::path data_file = dir_ / ("layout" + std::to_string(l) + ".dat");
        std::vector<std::string> args{"--scale", "log2", "-o", data_file.string()};
        args.insert(args.end(), layouts[l].begin(), layouts[l].end());
        ASSERT_EQ(import(args), 0) << err_.str();
        EXPECT_EQ(grn_of(data_file, "layout" + std::to_string(l)), expected) << "layout " << l;
    }
    EXPECT_EQ(out_.str().substr(0, 74),
              "genes:        20\ncourses:      3 (time points: 8 10 12)\nscale:        log2");
}

// Names the data-file reader would split or misread are quoted, numbers come back exactly.
TEST_F(ImportInTempDir, WrittenDataFileReadsBackExactly) {
    ImportedTables tables;
    tables.set.names = {"a b,c/d*e\"f", "plain"};
    tables.short_names = {"a b,c/d*e", "plain"};
    tables.set.courses.push_back({{0.0, 1e-3, 0.1}, {0.1, -1e-300, 1023.5, -0.0, 3.0, -1074}});
    const fs::path file = put("x.dat", netrevia::table::data_file_text(tables));
    const export_tables::DataFileContent d = export_tables::read_data_file(file);
    EXPECT_EQ(d.names, (std::vector<std::string>{"a b,c/d*e", "plain"}));
    ASSERT_EQ(d.courses.size(), 1u);
    EXPECT_EQ(d.courses[0].t, tables.set.courses[0].t);
    EXPECT_EQ(d.courses[0].x[0], (std::vector<double>{0.1, -1e-300, 1023.5}));
    EXPECT_EQ(d.courses[0].x[1], (std::vector<double>{-0.0, 3.0, -1074}));
}

// Names that differ only by trailing blanks would be one name in the data file, whose reader
// pads every name with blanks: they are made distinct too.
TEST(ShortNames, CutAtNineAndMadeDistinctWithinNine) {
    std::vector<std::string> renamed;
    const std::vector<std::string> names =
        make_short_names({"YAL001C", "transcript_alpha", "transcript_beta", "transcr~1",
                          "\xCE\x94\xCE\x94\xCE\x94\xCE\x94\xCE\x94x", "G1", "G1 "},
                         renamed);
    EXPECT_EQ(names,
              (std::vector<std::string>{"YAL001C", "transcr~2", "transcr~3", "transcr~1",
                                        "\xCE\x94\xCE\x94\xCE\x94\xCE\x94", "G1~1", "G1~2"}));
    EXPECT_EQ(renamed, (std::vector<std::string>{
                           "genes transcript_alpha (transcr~2) transcript_beta (transcr~3) share "
                           "their first 9 characters",
                           "genes G1 (G1~1) G1  (G1~2) share their first 9 characters"}));
    // Stray continuation bytes are no UTF-8 sequence: cut at nine, never down to nothing.
    renamed.clear();
    EXPECT_EQ(make_short_names({"x" + std::string(11, '\x89'),
                                "ab\xF0\x9F\x98\x80"
                                "cdefgh"},
                               renamed),
              (std::vector<std::string>{"x" + std::string(8, '\x89'),
                                        "ab\xF0\x9F\x98\x80"
                                        "cde"}));
}

// A bad table: exit 1, one message with file, line and column, and neither file written.
TEST_F(ImportInTempDir, BadTableWritesNothing) {
    const fs::path table = put("bad.csv", "gene,0,1\nA,1,0\n");
    const fs::path data_file = dir_ / "out.dat";
    EXPECT_EQ(import({"--scale", "linear", table.string(), "-o", data_file.string()}), 1);
    EXPECT_EQ(err_.str(), "netrevia-import: file " + table.string() +
                              ", line 2, column 3: 1 value is 0 or below, which has no "
                              "logarithm (this is the first); --floor V replaces them by V\n");
    EXPECT_FALSE(fs::exists(data_file));
    EXPECT_FALSE(fs::exists(dir_ / "out.dat.names.tsv"));
    EXPECT_EQ(import({table.string()}), 2);  // no -o
    EXPECT_EQ(import({"--scale", "linear", "--interval", "5", table.string(), "-o", "x"}), 2);
}

// -o naming an input table (by its name, another spelling or a link), or making the name map
// on one, is refused before anything is read or written: the table stays as it was.
TEST_F(ImportInTempDir, OutputOverAnInputTableIsRefused) {
    const std::string bytes = "gene,0,1\nA,1,2\n";
    const fs::path table = put("t.csv", bytes);
    const fs::path map_table = put("x.names.tsv", bytes);
    const fs::path link = dir_ / "link.dat";
    fs::create_symlink(table, link);
    const fs::path other_spelling = dir_ / "." / "t.csv";
    for (const fs::path& output : {table, other_spelling, link}) {
        EXPECT_EQ(import({"--scale", "log2", put("u.csv", bytes).string(), table.string(), "-o",
                          output.string()}),
                  1);
        EXPECT_EQ(err_.str(), "netrevia-import: " + output.string() + " is the table " +
                                  table.string() +
                                  "; writing it would replace the table: name another data "
                                  "file with -o\n");
    }
    EXPECT_EQ(import({"--scale", "log2", map_table.string(), "-o", (dir_ / "x").string()}), 1);
    EXPECT_EQ(err_.str().substr(0, 17 + map_table.string().size()),
              "netrevia-import: " + map_table.string());
    EXPECT_EQ(read_bytes(table), bytes);
    EXPECT_EQ(read_bytes(map_table), bytes);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_FALSE(fs::exists(dir_ / "t.csv.names.tsv"));
    EXPECT_FALSE(fs::exists(dir_ / "x"));
    EXPECT_EQ(import({"--scale", "log2", table.string(), "-o", (dir_ / "t.dat").string()}), 0);
}

// An observer sees each table's bytes once and in file order, though the reader reads the
// first line twice (to find the delimiter) and a large table in several pieces.
TEST_F(ImportInTempDir, ObserverSeesEachByteOnceInOrder) {
    struct Recorder : netrevia::inference::InputObserver {
        std::vector<std::string> files, seen;
        int ends = 0;
        void begin(const fs::path& file) override {
            files.push_back(file.string());
            seen.emplace_back();
        }
        void bytes(std::string_view chunk) override { seen.back() += chunk; }
        void end() override { ++ends; }
    } recorder;
    const std::string small = "\xEF\xBB\xBFgene;0;1\r\nA;1;2\r\nB;3;4\r\n";
    std::ostringstream rows;
    rows << "gene,0,1,2,3,4,5,6,7,8,9";
    for (int i = 0; i < 1000; ++i) {
        rows << "\nG" << i;
        for (int j = 0; j < 10; ++j) rows << ",1.00000000" << j;
    }
    rows << "\n";
    const std::string large = rows.str();  // 130 kB: three pieces
    std::string second = "gene,0,1\nA,1,2\nB,3,4\n";
    for (int i = 0; i < 20000; ++i) second += "\n";  // blank lines after the last row
    const fs::path a = put("a.csv", small), b = put("b.csv", second);
    netrevia::table::TableOptions o;
    o.scale = netrevia::table::Scale::kLog2;
    EXPECT_EQ(netrevia::table::import_tables({a, b}, o, &recorder).set.courses.size(), 2u);
    EXPECT_EQ(recorder.files, (std::vector<std::string>{a.string(), b.string()}));
    EXPECT_EQ(recorder.seen, (std::vector<std::string>{small, second}));
    EXPECT_EQ(recorder.ends, 2);
    recorder = {};
    EXPECT_EQ(netrevia::table::import_tables({put("c.csv", large)}, o, &recorder).set.names.size(),
              1000u);
    EXPECT_EQ(recorder.seen, std::vector<std::string>{large});
}

// A folder, a device or an absurd --points ends in one message and exit 1, not in an abort or
// in a read that never ends.
TEST_F(ImportInTempDir, HostileInputsEndInAMessage) {
    const fs::path out = dir_ / "out.dat";
    EXPECT_EQ(import({"--scale", "log2", dir_.string(), "-o", out.string()}), 1);
    EXPECT_EQ(err_.str(), "netrevia-import: file " + dir_.string() +
                              ": cannot open the table: it is a directory\n");
    EXPECT_EQ(import({"--scale", "log2", "/dev/zero", "-o", out.string()}), 1);
    EXPECT_EQ(err_.str(),
              "netrevia-import: file /dev/zero: cannot open the table: it is a character device, "
              "not a regular file\n");
    const fs::path bare = put("bare.tsv", "G1\tG2\n1\t2\n2\t3\n");
    EXPECT_EQ(
        import({"--interval", "1", "--points", "2000000000", bare.string(), "-o", out.string()}),
        1);
    EXPECT_EQ(err_.str(), "netrevia-import: file " + bare.string() +
                              ", line 3, column 1: a course of 2 rows is not a whole number of "
                              "2000000000 time points (--times, --points)\n");
    EXPECT_FALSE(fs::exists(out));
}

TEST_F(ImportInTempDir, WritesDataFileNameMapAndSummary) {
    const fs::path table =
        put("t.csv", "gene,0,1,2\nsensor_kinase_A,1,2,4\nsensor_kinase_B,2,,8\n");
    const fs::path data_file = dir_ / "out.dat";
    ASSERT_EQ(import({"--scale=linear", "--fill", "interpolate", table.string(), "-o",
                      data_file.string()}),
              0)
        << err_.str();
    EXPECT_EQ(read_bytes(dir_ / "out.dat.names.tsv"),
              "short_name\tfull_name\nsensor_~1\tsensor_kinase_A\nsensor_~2\tsensor_kinase_B\n");
    EXPECT_EQ(read_bytes(data_file),
              "Number of datasets\n1\nNumber of genes\n2\nGene names\nsensor_~1\nsensor_~2\n"
              "Set1\nDataset 1\nGenes and time points\n2 3\nTime points\n0 1 2\nReserved\n1.0\n"
              "Expression values (log2)\n0 1 2\n1 2 3\nEND\n");
    EXPECT_EQ(out_.str(),
              "genes:        2\ncourses:      1 (time points: 3)\nscale:        linear -> log2\n"
              "floored:      0\nfilled:       1\nwarning:      genes sensor_kinase_A (sensor_~1) "
              "sensor_kinase_B (sensor_~2) share their first 9 characters; the data file names "
              "them as shown\ndata file:    " +
                  data_file.string() + "\nnames:        " + data_file.string() + ".names.tsv\n");
}

}  // namespace

// The bundled tables: wide and long import to the same data file; the DREAM copy holds the same
// courses on the linear scale, to 10 significant digits.
TEST(ExampleTables, LayoutsImportToTheSameCourses) {
    const fs::path dir(EXAMPLES_DIR);
    netrevia::table::TableOptions o;
    o.scale = netrevia::table::Scale::kLog2;
    const ImportedTables wide = netrevia::table::import_tables(
        {dir / "five_genes_course1.csv", dir / "five_genes_course2.csv"}, o);
    const ImportedTables long_table =
        netrevia::table::import_tables({dir / "five_genes_long.csv"}, o);
    EXPECT_EQ(netrevia::table::data_file_text(wide), netrevia::table::data_file_text(long_table));
    const ImportedTables dream = netrevia::table::import_tables({dir / "five_genes_dream.tsv"}, {});
    ASSERT_EQ(dream.set.courses.size(), 2u);
    EXPECT_EQ(dream.set.names, wide.set.names);
    for (std::size_t k = 0; k < 2; ++k) {
        EXPECT_EQ(dream.set.courses[k].t, wide.set.courses[k].t);
        for (std::size_t m = 0; m < wide.set.courses[k].x.size(); ++m)
            EXPECT_NEAR(dream.set.courses[k].x[m], wide.set.courses[k].x[m], 1e-8);
    }
}

namespace {

// A usage error is one line that names the argument and points to --help; nothing is written.
TEST_F(ImportInTempDir, UsageErrorIsOneLineNamingTheArgument) {
    EXPECT_EQ(import({"--delimiter"}), 2);
    EXPECT_EQ(err_.str(),
              "netrevia-import: option '--delimiter' needs a value (see netrevia-import --help)\n");
    EXPECT_EQ(import({"--version"}), 0);
    EXPECT_EQ(out_.str().rfind("netrevia-import ", 0), 0u) << out_.str();
}

}  // namespace
