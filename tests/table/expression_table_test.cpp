#include "table/expression_table.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

using netrevia::table::ExpressionSet;
using netrevia::table::Layout;
using netrevia::table::read_table_texts;
using netrevia::table::Scale;
using netrevia::table::TableError;
using netrevia::table::TableOptions;

TableOptions log2_options() {
    TableOptions o;
    o.scale = Scale::kLog2;
    return o;
}

ExpressionSet read(const std::vector<std::string>& texts, const TableOptions& o) {
    std::vector<std::filesystem::path> files;
    for (std::size_t k = 0; k < texts.size(); ++k)
        files.emplace_back(std::string("t").append(std::to_string(k + 1)));
    return read_table_texts(files, texts, o);
}

// The message of the TableError the tables raise, or "" when they are read.
std::string error_of(const std::vector<std::string>& texts, const TableOptions& o) {
    try {
        read(texts, o);
    } catch (const TableError& e) {
        return e.what();
    }
    return "";
}

// x of gene i (0-based) at time point j of course k.
double x(const ExpressionSet& s, std::size_t k, std::size_t i, std::size_t j) {
    return s.courses[k].x[i * s.courses[k].t.size() + j];
}

// A byte-order mark, CR LF, a quoted name holding the delimiter and a doubled quote, blanks
// around fields and trailing delimiters: the same values as the plain table.
TEST(ExpressionTable, CsvQuirksReadAsThePlainTable) {
    const ExpressionSet plain = read({"gene,0,1,2\nA,1,2,3\nB;x,4,5,6\n"}, log2_options());
    TableOptions semicolon = log2_options();
    const ExpressionSet quirky =
        read({"\xEF\xBB\xBFgene;0;1;2;\r\nA ; 1;2;3;\r\n\r\n\"B;x\";4;\"5\";6;;\r\n"}, semicolon);
    EXPECT_EQ(plain.names, (std::vector<std::string>{"A", "B;x"}));
    EXPECT_EQ(quirky.names, plain.names);
    ASSERT_EQ(quirky.courses.size(), 1u);
    EXPECT_EQ(quirky.courses[0].t, (std::vector<double>{0, 1, 2}));
    EXPECT_EQ(quirky.courses[0].x, (std::vector<double>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(read({"gene,0,1\n\"say \"\"hi\"\"\",1,2\n"}, log2_options()).names[0], "say \"hi\"");
    // Blanks and tabs between fields when the header holds no other delimiter; a quoted last
    // field before CR LF.
    const ExpressionSet blanks =
        read({"gene  0  1 2 \r\nA 1\t2  3\n \"B;x\"\t4 5 \"6\"\r\n"}, log2_options());
    EXPECT_EQ(blanks.names, plain.names);
    EXPECT_EQ(blanks.courses[0].x, plain.courses[0].x);
}

// Time points in rows (tab-separated, detected) hold the transposed table; the second course
// lists its genes in another order and is put into the first course's order.
TEST(ExpressionTable, BothOrientationsAndGeneOrderAgree) {
    const ExpressionSet s =
        read({"gene,0,10\nA,1,2\nB,3,4\n", "time\tB\tA\n0\t7\t5\n\n10\t8\t6\n"}, log2_options());
    EXPECT_EQ(s.names, (std::vector<std::string>{"A", "B"}));
    ASSERT_EQ(s.courses.size(), 2u);
    EXPECT_EQ(s.courses[0].x, (std::vector<double>{1, 2, 3, 4}));
    EXPECT_EQ(s.courses[1].t, (std::vector<double>{0, 10}));
    EXPECT_EQ(s.courses[1].x, (std::vector<double>{5, 6, 7, 8}));
}

// DREAM layout: "Time" header, courses separated by blank lines, linear values; and the same
// courses without the time column and without blank lines, cut by --interval and --points.
TEST(ExpressionTable, DreamCoursesWithAndWithoutTimeColumn) {
    const std::string with_times =
        "\"Time\"\tG1\tG2\n\n0\t1\t2\n50\t4\t8\n100\t0.5\t1\n\n0\t2\t2\n50\t2\t4\n100\t8\t1\n";
    const ExpressionSet a = read({with_times}, TableOptions{});
    const std::string bare = "G1\tG2\n1\t2\n4\t8\n0.5\t1\n2\t2\n2\t4\n8\t1\n";
    TableOptions o;
    o.times = {0, 50, 100};
    const ExpressionSet b = read({bare}, o);
    for (const ExpressionSet* s : {&a, &b}) {
        EXPECT_EQ(s->scale, Scale::kLinear);
        ASSERT_EQ(s->courses.size(), 2u);
        EXPECT_EQ(s->courses[1].t, (std::vector<double>{0, 50, 100}));
        EXPECT_EQ(s->courses[0].x, (std::vector<double>{0, 2, -1, 1, 3, 0}));
        EXPECT_EQ(s->courses[1].x, (std::vector<double>{1, 1, 3, 1, 2, 0}));
    }
    // A time that goes back starts the next course even without a blank line.
    EXPECT_EQ(read({"Time\tG1\n0\t1\n5\t2\n0\t4\n5\t8\n"}, TableOptions{}).courses.size(), 2u);
    o.times = {0, 50, 100, 150};
    EXPECT_EQ(error_of({bare}, o),
              "file t1, line 7, column 1: a course of 6 rows is not a whole number of 4 time "
              "points (--times, --points)");
}

// Long tables: columns found by name among others, rows in any order, courses by label in order
// of appearance, times sorted.
TEST(ExpressionTable, LongTableColumnsByName) {
    TableOptions o = log2_options();
    o.columns = {"probe", "replicate", "hours", "log2ratio"};
    const ExpressionSet s = read({"note,hours,probe,log2ratio,replicate\n"
                                  "x,2,A,3,r2\n"
                                  "x,1,A,1,r2\n"
                                  "x,0,B,9,r1\n"
                                  "x,1,B,8,r2\n"
                                  "x,0,A,7,r1\n"
                                  "x,4,A,6,r1\n"
                                  "x,2,B,2,r2\n"
                                  "x,4,B,5,r1\n"},
                                 o);
    EXPECT_EQ(s.names, (std::vector<std::string>{"A", "B"}));  // first course's order
    ASSERT_EQ(s.courses.size(), 2u);
    EXPECT_EQ(s.courses[0].t, (std::vector<double>{1, 2}));  // r2 comes first
    EXPECT_EQ(s.courses[0].x, (std::vector<double>{1, 3, 8, 2}));
    EXPECT_EQ(s.courses[1].t, (std::vector<double>{0, 4}));
    EXPECT_EQ(s.courses[1].x, (std::vector<double>{7, 6, 9, 5}));
    EXPECT_EQ(error_of({"gene,course,time,value\nA,c,0,1\nA,c,1,2\nB,c,0,3\n"}, log2_options()),
              "file t1, line 4, column 1: gene B has no row for time 1 of course c");
    EXPECT_EQ(error_of({"gene,course,time,value\nA,c,0,1\nA,c,0,2\n"}, log2_options()),
              "file t1, line 3, column 4: a second value for gene A at time 0 of course c");
}

TEST(ExpressionTable, ScalesConvertToBaseTwo) {
    const std::string table = "gene,0,1,2\nA,8,0.25,1\n";
    TableOptions o;
    o.scale = Scale::kLinear;
    EXPECT_EQ(read({table}, o).courses[0].x, (std::vector<double>{3, -2, 0}));
    o.scale = Scale::kLn;
    const ExpressionSet ln = read({"gene,0,1\nA,0.6931471805599453,2\n"}, o);
    EXPECT_DOUBLE_EQ(x(ln, 0, 0, 0), 1.0);
    EXPECT_DOUBLE_EQ(x(ln, 0, 0, 1), 2.0 / std::log(2.0));
    o.scale = Scale::kLog10;
    const ExpressionSet log10 = read({"gene,0,1\nA,2,-1\n"}, o);
    EXPECT_DOUBLE_EQ(x(log10, 0, 0, 0), std::log2(100.0));
    EXPECT_DOUBLE_EQ(x(log10, 0, 0, 1), -std::log2(10.0));
    EXPECT_EQ(error_of({"gene,0,1\nA,1,2\n"}, TableOptions{}),
              "file t1, line 1, column 1: say what the values are with --scale "
              "linear|log2|ln|log10 (only DREAM time-series files are linear without it)");
}

// Linear values of 0 or below: refused with the count and the first place, or all floored.
TEST(ExpressionTable, NonPositiveLinearValuesRefusedOrFloored) {
    const std::vector<std::string> tables{"gene,0,1,2\nA,1,2,4\nB,2,-1,0\n",
                                          "gene,0,1\nA,0,1\nB,1,1\n"};
    TableOptions o;
    o.scale = Scale::kLinear;
    EXPECT_EQ(error_of(tables, o),
              "file t1, line 3, column 3: 3 values are 0 or below, which has no logarithm (this "
              "is the first); --floor V replaces them by V");
    o.floor = 0.5;
    const ExpressionSet s = read(tables, o);
    EXPECT_EQ(s.floored, 3);
    EXPECT_EQ(s.courses[0].x, (std::vector<double>{0, 1, 2, 1, -1, -1}));
    EXPECT_EQ(s.courses[1].x, (std::vector<double>{-1, 0, 0, 0}));
    // Log scales may be negative: nothing is floored.
    o.scale = Scale::kLog2;
    EXPECT_EQ(read(tables, o).floored, 0);
}

// Missing values are filled linearly in time between the nearest given values of the course;
// never at a course's ends.
TEST(ExpressionTable, MissingValuesFilledOnlyInsideACourse) {
    const std::string gap = "gene,0,1,3,4\nA,1,NA,,5\nB,0,1,2,3\n";
    EXPECT_EQ(error_of({gap}, log2_options()),
              "file t1, line 2, column 3: missing value for gene A (2 in this course); --fill "
              "interpolate fills them within a course");
    TableOptions o = log2_options();
    o.fill_interpolate = true;
    const ExpressionSet s = read({gap}, o);
    EXPECT_EQ(s.filled, 2);
    EXPECT_EQ(s.courses[0].x, (std::vector<double>{1, 2, 4, 5, 0, 1, 2, 3}));
    EXPECT_EQ(error_of({"gene,0,1,2\nA,1,2,nan\n"}, o),
              "file t1, line 2, column 4: missing value for gene A at the start or end of a "
              "course, where it cannot be interpolated");
}

TEST(ExpressionTable, CoursesArePickedAndLimited) {
    const std::string course = "gene,0,1\nA,1,2\n";
    const std::vector<std::string> five(5, course);
    EXPECT_EQ(error_of(five, log2_options()),
              "file t5, line 1, column 1: course 5 of 5: a data file holds at most 4 courses; "
              "pick some with --courses (say --courses 1-4)");
    TableOptions o = log2_options();
    o.courses = {{2, 2}, {4, 5}};
    std::vector<std::string> numbered;
    for (int k = 1; k <= 5; ++k) numbered.push_back("gene,0,1\nA," + std::to_string(k) + ",0\n");
    const ExpressionSet s = read(numbered, o);
    ASSERT_EQ(s.courses.size(), 3u);
    EXPECT_EQ(x(s, 0, 0, 0), 2);
    EXPECT_EQ(x(s, 1, 0, 0), 4);
    EXPECT_EQ(x(s, 2, 0, 0), 5);
    o.courses = {};
    o.max_courses = netrevia::table::kNoCourseLimit;
    EXPECT_EQ(read(five, o).courses.size(), 5u);
}

// Each bad table gives one message naming file, line and column.
TEST(ExpressionTable, BadTablesNameTheirPlace) {
    const TableOptions o = log2_options();
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
        {{""}, "file t1, line 1, column 1: the table is empty"},
        {{"\r\n \n"}, "file t1, line 1, column 1: the table is empty"},
        {{"gene,0,1\n"}, "file t1, line 2, column 1: the table has no rows of values"},
        {{"gene,0,1\nA,1,2\nB,1\n"},
         "file t1, line 3, column 3: the row has 2 fields, the header 3"},
        {{"gene,0,1\nA,1,2,3\n"}, "file t1, line 2, column 4: the row has 4 fields, the header 3"},
        {{"gene,0,1\nA,1,2x\n"}, "file t1, line 2, column 3: '2x' is not a number"},
        {{"gene,0,1\nA,1,inf\n"}, "file t1, line 2, column 3: 'inf' is not a number"},
        {{"time,A\n0,1\n0,2\n"}, "file t1, line 3, column 1: time points must increase strictly"},
        {{"gene,0,2,1\nA,1,2,3\n"},
         "file t1, line 1, column 4: time points must increase strictly"},
        {{"note,gene,course,time,value\n\"two\nlines\",A,c,0,1\nx,A,c,1,y\n"},
         "file t1, line 4, column 5: 'y' is not a number"},
        {{"gene,0\nA,1\n"},
         "file t1, line 1, column 1: a course needs at least 2 time points, this one has 1"},
        {{"gene,0,1\nA,1,2\n\"A\",1,2\n"}, "file t1, line 3, column 1: gene A appears twice"},
        {{"gene,0,1\nA,1,2\nB,1,2\n", "gene,0,1\nA,1,2\nC,1,2\n"},
         "file t2, line 3, column 1: gene C is not among the genes of the first course"},
        {{"gene,0,1\nA,1,2\nB,1,2\n", "gene,0,1\nA,1,2\n"},
         "file t2, line 1, column 1: the course lacks gene B of the first course"},
        {{"gene,0,1\n\"A,1,2\n"}, "file t1, line 2, column 1: a quoted field is not closed"},
        {{"gene,0,1\n,1,2\n"}, "file t1, line 2, column 1: a gene without a name"},
    };
    for (const auto& [tables, message] : cases) EXPECT_EQ(error_of(tables, o), message);
}

// The format the reader reports is the one it reads by: each layout, delimiter and orientation
// detected, and options that name one win over detection.
TEST(ExpressionTable, DetectedFormatIsTheOneRead) {
    using netrevia::table::detect_format;
    using netrevia::table::Orientation;
    using netrevia::table::TableFormat;
    const auto format = [](const std::string& text, const TableOptions& o) {
        const TableFormat f = detect_format("t1", text, o);
        return std::string(1, f.delimiter) + std::to_string(static_cast<int>(f.layout)) +
               std::to_string(static_cast<int>(f.orientation));
    };
    const TableOptions o = log2_options();
    // Layout 1 wide, 2 DREAM, 3 long; orientation 0 none, 1 genes in rows, 2 times in rows.
    EXPECT_EQ(format("\xEF\xBB\xBF\ngene,0,1\nA,1,2\n", o), ",11");
    EXPECT_EQ(format("time;A;B\n0;1;2\n", o), ";12");
    EXPECT_EQ(format("gene 0 1\nA 1 2\n", o), " 11");
    EXPECT_EQ(format("\"Time\"\tG1\n0\t1\n", o), "\t20");
    EXPECT_EQ(format("Time,G1\n0,1\n", o), ",12");  // DREAM files are tab-separated
    EXPECT_EQ(format("value,time,course,gene\n1,0,c,A\n", o), ",30");
    TableOptions given = o;
    given.times = {0, 1};
    EXPECT_EQ(format("G1\tG2\n1\t2\n", given), "\t20");
    given.delimiter = ';';
    given.layout = Layout::kWide;
    given.orientation = Orientation::kTimesInRows;
    EXPECT_EQ(format("gene,0,1\nA,1,2\n", given), ";12");
    EXPECT_THROW(detect_format("t1", " \r\n\n", o), TableError);
    // What the reader read by these rules agrees: the semicolon table has times in rows.
    EXPECT_EQ(read({"time;A;B\n0;1;2\n1;3;4\n"}, o).names, (std::vector<std::string>{"A", "B"}));
}

// The preview splits as the reader does and numbers each record by the line it starts on, also
// when a quoted field runs past the lines shown.
TEST(ExpressionTable, PreviewSplitsRecordsAsTheReaderDoes) {
    using netrevia::table::preview_records;
    const auto preview = preview_records("t1", "gene,0\n\n\"two\nlines\",1\nB , 2\nC,3\n", ',', 3);
    ASSERT_EQ(preview.size(), 3u);
    EXPECT_EQ(preview[0].cells, (std::vector<std::string>{"gene", "0"}));
    EXPECT_TRUE(preview[1].cells.empty());
    EXPECT_EQ(preview[2].line, 3);
    EXPECT_EQ(preview[2].cells, (std::vector<std::string>{"two\nlines", "1"}));
    // Only the lines shown are split: trouble further down does not stop the preview.
    const auto head = preview_records("t1", "a,b\nc,d\n\"unclosed\n", ',', 2);
    ASSERT_EQ(head.size(), 2u);
    EXPECT_EQ(head[1].cells, (std::vector<std::string>{"c", "d"}));
    EXPECT_THROW(preview_records("t1", "a,b\nc,d\n\"unclosed\n", ',', 3), TableError);
    const auto all = preview_records("t1", "gene,0\n\n\"two\nlines\",1\nB , 2\nC,3\n", ',', 10);
    ASSERT_EQ(all.size(), 5u);
    EXPECT_EQ(all[3].line, 5);
    EXPECT_EQ(all[3].cells, (std::vector<std::string>{"B", "2"}));
}

}  // namespace
