#include <gtest/gtest.h>
#include <sys/stat.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "batch_fixture.h"
#include "cli/batch.h"
#include "table/import_tool.h"

namespace {

namespace fs = std::filesystem;
using netrevia::cli::batch_main;
using netrevia::cli::parse_args;
using netrevia::cli::ParseOutcome;

TEST(BatchTableArgs, TableOptionsAndSeveralTables) {
    const auto parsed = parse_args({"--scale", "ln", "--courses=2-3", "--interval", "5", "--points",
                                    "3", "a.csv", "b.tsv", "c.txt"});
    ASSERT_EQ(parsed.outcome, ParseOutcome::kRun) << parsed.error;
    const auto& o = parsed.options;
    EXPECT_EQ(o.inputs, (std::vector<std::string>{"a.csv", "b.tsv", "c.txt"}));
    EXPECT_EQ(o.data_file, "a.csv");
    EXPECT_EQ(o.table_options.scale, netrevia::table::Scale::kLn);
    EXPECT_EQ(o.table_options.courses, (std::vector<std::pair<int, int>>{{2, 3}}));
    EXPECT_EQ(o.table_options.interval, 5);  // times made by the reader, row by row
    EXPECT_EQ(o.table_options.points, 3);
    EXPECT_EQ(parse_args({"--input", "table", "a.dat", "b.dat"}).outcome, ParseOutcome::kRun);
    const auto more =
        parse_args({"--courses", "1,3-4", "--times=0,1,3", "--delimiter", "tab", "a.csv"});
    ASSERT_EQ(more.outcome, ParseOutcome::kRun) << more.error;
    EXPECT_EQ(more.options.table_options.courses,
              (std::vector<std::pair<int, int>>{{1, 1}, {3, 4}}));
    EXPECT_EQ(more.options.table_options.times, (std::vector<double>{0, 1, 3}));
    EXPECT_EQ(more.options.table_options.delimiter, '\t');
    EXPECT_EQ(parse_args({"--delimiter", ";", "a.csv"}).options.table_options.delimiter, ';');
    // --layout stays the Graphviz program; the table's layout has its own name.
    const auto layouts = parse_args({"--layout", "sfdp", "--table-layout", "long", "a.csv"});
    ASSERT_EQ(layouts.outcome, ParseOutcome::kRun) << layouts.error;
    EXPECT_EQ(layouts.options.layout, "sfdp");
    EXPECT_EQ(layouts.options.table_options.layout, netrevia::table::Layout::kLong);
    for (const auto& args : {std::vector<std::string>{"a.csv", "b.dat"},
                             std::vector<std::string>{"--input", "data", "a.csv", "b.csv"},
                             std::vector<std::string>{"--scale", "log3", "a.csv"},
                             std::vector<std::string>{"--input", "sheet", "a.csv"},
                             std::vector<std::string>{"--points", "3", "a.csv"},
                             std::vector<std::string>{"--interval", "0", "--points", "3", "a.csv"},
                             std::vector<std::string>{"--courses", "2-1", "a.csv"},
                             std::vector<std::string>{"--delimiter", "\"", "a.csv"}}) {
        EXPECT_EQ(parse_args(args).outcome, ParseOutcome::kError) << ::testing::PrintToString(args);
    }
}

using BatchOnTables = netrevia::cli_testing::BatchFixture;

// Long names that share their first nine characters, two courses in two layouts, linear values
// with a zero floored: the batch tool on the tables writes exactly what it writes on the data
// file that netrevia-import makes of them.
TEST_F(BatchOnTables, EqualsImportThenRunByteForByte) {
    const std::string first = put("c1.csv",
                                  "gene,0,1,2,3,4\n"
                                  "regulator_alpha,1.0,1.4,2.1,2.9,3.2\n"
                                  "regulator_beta,2.0,1.5,1.1,0.9,0.7\n"
                                  "target,0.5,0.9,0,2.2,2.0\n");
    const std::string second = put("c2.tsv",
                                   "time\ttarget\tregulator_beta\tregulator_alpha\n"
                                   "0\t1.0\t0.8\t3.0\n"
                                   "2\t1.3\t1.2\t2.0\n"
                                   "5\t1.9\t1.7\t1.1\n");
    const std::vector<std::string> options{"--scale", "linear", "--floor", "0.01"};
    std::vector<std::string> args = options;
    args.insert(args.end(), {"--quiet", "--output-dir", (dir_ / "direct").string(), first, second});
    fs::create_directories(dir_ / "direct");
    ASSERT_EQ(run(args), 0) << err_.str();
    EXPECT_EQ(out_.str().substr(0, 51), "genes:        3\ncourses:      2 (time points: 5 3)\n");

    std::vector<std::string> import_args = options;
    const std::string data_file = (dir_ / "imported.dat").string();
    import_args.insert(import_args.end(), {first, second, "-o", data_file});
    std::ostringstream import_out, import_err;
    ASSERT_EQ(netrevia::table::import_main(import_args, import_out, import_err), 0)
        << import_err.str();
    fs::create_directories(dir_ / "imported");
    ASSERT_EQ(run({"--quiet", "--output-dir", (dir_ / "imported").string(), data_file}), 0)
        << err_.str();
    for (const char* name : {"GRN.dat", "GRN.dot"}) {
        const std::string direct = read(dir_ / "direct" / name);
        EXPECT_FALSE(direct.empty());
        EXPECT_EQ(direct, read(dir_ / "imported" / name)) << name;
    }
    EXPECT_NE(read(dir_ / "direct" / "GRN.dot").find("regulat~1"), std::string::npos);
}

// The example DREAM file as spreadsheets save it (comma or semicolon separated, UTF-16 with
// CR LF, CR line ends) gives the same network byte for byte.
TEST_F(BatchOnTables, SpreadsheetVariantsOfADreamFileGiveTheSameNetwork) {
    const std::string tsv = read(std::filesystem::path(EXAMPLES_DIR) / "five_genes_dream.tsv");
    auto replaced = [&tsv](const std::string& tab, const std::string& line_end) {
        std::string text;
        for (const char c : tsv) text += c == '\t' ? tab : c == '\n' ? line_end : std::string(1, c);
        return text;
    };
    std::string utf16 = "\xff\xfe";
    for (const char c : replaced("\t", "\r\n")) utf16 += {c, '\0'};
    const std::vector<std::string> variants{replaced(",", "\n"), replaced(";", "\r\n"), utf16,
                                            replaced("\t", "\r")};
    const fs::path original = dir_ / "original";
    fs::create_directories(original);
    ASSERT_EQ(run({"--quiet", "--output-dir", original.string(), put("d.tsv", tsv)}), 0)
        << err_.str();
    for (std::size_t v = 0; v < variants.size(); ++v) {
        const std::string number = std::to_string(v);
        const fs::path out = dir_ / "variant" / number;
        fs::create_directories(out);
        const std::string file = put("d" + number + ".csv", variants[v]);
        ASSERT_EQ(run({"--quiet", "--output-dir", out.string(), file}), 0) << err_.str();
        for (const char* name : {"GRN.dat", "GRN.dot"})
            EXPECT_EQ(read(out / name), read(original / name)) << name << " of variant " << v;
    }
}

// --max-memory bounds what the table reader holds too; a FIFO named like a table is refused
// without waiting for a writer; a course picked twice is refused. Nothing is written.
TEST_F(BatchOnTables, TableReaderKeepsToMaxMemoryAndRefusesWhatItCannotRead) {
    std::ostringstream table;
    table << "gene";
    for (int j = 0; j < 100; ++j) table << "," << j;
    for (int i = 0; i < 200; ++i) {
        table << "\nG" << i;
        for (int j = 0; j < 100; ++j) table << ",1." << i + j;
    }
    const std::string big = put("big.csv", table.str() + "\n");
    EXPECT_EQ(run({"--scale", "log2", "--input", "table", "--max-memory", "64K", "--output-dir",
                   dir_.string(), big}),
              1);
    EXPECT_EQ(err_.str().rfind("netrevia-batch: file " + big + ", line ", 0), 0u) << err_.str();
    EXPECT_NE(err_.str().find("more than the memory budget of 65536 bytes\n"), std::string::npos)
        << err_.str();
    const fs::path fifo = dir_ / "fifo.csv";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(
        run({"--scale", "log2", "--input", "table", "--output-dir", dir_.string(), fifo.string()}),
        1);
    EXPECT_EQ(err_.str(), "netrevia-batch: file " + fifo.string() +
                              ": cannot open the table: it is a named pipe (FIFO), not a regular "
                              "file\n");
    EXPECT_EQ(run({"--scale", "log2", "--output-dir", dir_.string(), fifo.string()}), 1);
    EXPECT_EQ(err_.str(),
              "netrevia-batch: input error: cannot open the file: it is a named pipe "
              "(FIFO), not a regular file, unit 7, file " +
                  fifo.string() + "\n");
    EXPECT_EQ(run({"--scale", "log2", "--input", "table", "--courses", "1,1", "--output-dir",
                   dir_.string(), big}),
              1);
    EXPECT_EQ(err_.str(),
              "netrevia-batch: --courses names course 1 twice; name each course once\n");
    EXPECT_FALSE(fs::exists(dir_ / "GRN.dat"));
    EXPECT_FALSE(fs::exists(dir_ / "GRN.dot"));
}

// A bad table named as a table has the table reader's message alone; found by its extension, it
// was first read as a data file, and both readings are told.
TEST_F(BatchOnTables, BadTableExitsOneAndWritesNothing) {
    const std::string table = put("t.csv", "gene,0,1\nA,1,2\nB,1\n");
    const std::string message =
        "file " + table + ", line 3, column 3: the row has 2 fields, the header 3\n";
    EXPECT_EQ(run({"--scale", "log2", "--input", "table", "--output-dir", dir_.string(), table}),
              1);
    EXPECT_EQ(err_.str(), "netrevia-batch: " + message);
    EXPECT_EQ(run({"--scale", "log2", "--output-dir", dir_.string(), table}), 1);
    EXPECT_EQ(err_.str(), "netrevia-batch: " + table +
                              " is neither a data file nor a table:\n  read as a data file: "
                              "input error: \"A\" is not an integer (line 2), unit 7, file " +
                              table + "\n  read as a table: " + message);
    EXPECT_FALSE(fs::exists(dir_ / "GRN.dat"));
    EXPECT_FALSE(fs::exists(dir_ / "GRN.dot"));
}

// A rate of change that overflows is refused in the table's own terms, not through a data file
// of which the user knows nothing.
TEST_F(BatchOnTables, OverflowingRateIsRefusedNamingTheTableAndCourse) {
    const std::string table = put("big.csv", "time,A,B\n0,1000,2\n1e-300,1001,3\n2e-300,1000,3\n");
    EXPECT_EQ(run({"--scale", "log2", "--quiet", "--output-dir", dir_.string(), table}), 1);
    EXPECT_EQ(err_.str(), "netrevia-batch: file " + table +
                              ", course 1: rate of change of gene 1 (A) from time point 1 to 2 is "
                              "not finite: (2.1430172143725346e+301 - 1.0715086071862673e+301) / "
                              "1e-300 = inf\n");
    EXPECT_FALSE(fs::exists(dir_ / "GRN.dat"));
}

// The simulator's table of courses and replicates reads back to the data it made: each course
// of the table is the data file's course (its first replicate), through the batch tool, and
// run.json says what became of the replicates.
TEST_F(BatchOnTables, SimulatedCoursesAndReplicatesReadBackToTheDataFile) {
    const auto simulate = [this](const std::string& name, int replicates) {
        const std::string command = std::string(SIMULATE_PATH) +
                                    " --genes 8 --courses 2 --points 7,9 --seed 5 --noise 0.2" +
                                    " --replicates " + std::to_string(replicates) + " --out-data " +
                                    (dir_ / (name + ".dat")).string() + " --out-truth " +
                                    (dir_ / (name + "_truth.tsv")).string() + " --out-table " +
                                    (dir_ / (name + ".tsv")).string() + " > /dev/null";
        ASSERT_EQ(std::system(command.c_str()), 0);
    };
    simulate("one", 1);
    simulate("three", 3);
    const auto grn = [this](const std::string& folder, std::vector<std::string> args) {
        fs::create_directories(dir_ / folder);
        args.insert(args.begin(),
                    {"--engine", "ensemble", "--output-dir", (dir_ / folder).string()});
        EXPECT_EQ(run(args), 0) << err_.str();
        return read(dir_ / folder / "GRN.dat") + read(dir_ / folder / "GRN.dot");
    };
    const std::string data = grn("data", {(dir_ / "one.dat").string()});
    EXPECT_EQ(grn("one", {"--scale", "log2", (dir_ / "one.tsv").string()}), data);
    // Replicate 1 of each course is the data file's course: courses 1 and 4 of the six.
    EXPECT_EQ(grn("firsts", {"--scale", "log2", "--replicates", "courses", "--courses", "1,4",
                             (dir_ / "three.tsv").string()}),
              data);
    EXPECT_NE(out_.str().find("replicates:   6 replicates of 2 courses taken each as a course\n"),
              std::string::npos)
        << out_.str();
    grn("mean", {"--scale", "log2", "--replicates", "mean", (dir_ / "three.tsv").string()});
    const auto json = nlohmann::json::parse(read(dir_ / "mean" / "run.json"));
    EXPECT_EQ(json["replicates"], (nlohmann::json{{"handling", "mean"},
                                                  {"replicates", 6},
                                                  {"courses_with_replicates", 2},
                                                  {"summary",
                                                   "6 replicates of 2 courses averaged at each "
                                                   "time point"}}));
    EXPECT_EQ(json["courses"].size(), 2u);
    EXPECT_EQ(nlohmann::json::parse(read(dir_ / "firsts" / "run.json"))["replicates"]["handling"],
              "courses");
    EXPECT_FALSE(nlohmann::json::parse(read(dir_ / "one" / "run.json")).contains("replicates"));
}

TEST(BatchTableArgs, ColumnsByPositionOrRoleAndReplicates) {
    const auto roles = parse_args({"--columns", "course=experiment,time=time_min,replicate=rep_id",
                                   "--replicates", "courses", "a.csv"});
    ASSERT_EQ(roles.outcome, ParseOutcome::kRun) << roles.error;
    const auto& o = roles.options.table_options;
    EXPECT_EQ(o.columns, (std::array<std::string, 4>{"gene", "experiment", "time_min", "value"}));
    EXPECT_EQ(o.replicate_column, "rep_id");
    EXPECT_TRUE(o.columns_by_role);  // the named columns must be there
    EXPECT_EQ(o.replicates, netrevia::table::Replicates::kCourses);
    const auto five = parse_args({"--columns", "g,c,t,v,r", "a.csv"}).options.table_options;
    EXPECT_EQ(five.columns, (std::array<std::string, 4>{"g", "c", "t", "v"}));
    EXPECT_EQ(five.replicate_column, "r");
    EXPECT_FALSE(five.columns_by_role);  // looked for, as the four names are
    const auto four = parse_args({"--columns", "g,c,t,v", "a.csv"}).options.table_options;
    EXPECT_EQ(four.replicate_column, "replicate");
    for (const char* bad : {"g,c,t", "g,c,t,v,r,x", "course=", "rep=x", "g,c=x,t,v"}) {
        EXPECT_EQ(parse_args({"--columns", bad, "a.csv"}).outcome, ParseOutcome::kError) << bad;
    }
    EXPECT_EQ(parse_args({"--orientation", "times", "a.csv"}).options.table_options.orientation,
              netrevia::table::Orientation::kTimesInRows);
    EXPECT_EQ(parse_args({"--replicates", "median", "a.csv"}).error,
              "--replicates does not take 'median' (mean or courses)");
}

}  // namespace
