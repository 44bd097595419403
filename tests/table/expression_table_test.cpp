#include "table/expression_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "table/table_text.h"

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
    // Blanks, tabs (and a stray CR) between fields when the header holds no other delimiter;
    // a quoted last field before CR LF.
    const ExpressionSet blanks =
        read({"gene  0  1 2 \r\nA 1\t2 \r 3\n \"B;x\"\t4 5 \"6\"\r\n"}, log2_options());
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
    // Numeric gene IDs: a first column named time holds the times, in any case; under another
    // first column a header of numbers holds time points.
    const ExpressionSet ids =
        read({"TIME,7157,7158\n0,1,2\n1,3,4\n", "id,0,1\n7158,4,4\n7157,1,3\n"}, log2_options());
    EXPECT_EQ(ids.names, (std::vector<std::string>{"7157", "7158"}));
    ASSERT_EQ(ids.courses.size(), 2u);
    EXPECT_EQ(ids.courses[0].t, (std::vector<double>{0, 1}));
    EXPECT_EQ(ids.courses[0].x, (std::vector<double>{1, 3, 2, 4}));
    EXPECT_EQ(ids.courses[1].x, (std::vector<double>{1, 3, 4, 4}));
    // A header of numbers under "time" or "Time" over rows of gene names: time points.
    for (const char* table : {"time,0,1\nTP53,1,2\n", "Time\t0\t1\nTP53\t1\t2\n"}) {
        const ExpressionSet labelled = read({table}, log2_options());
        EXPECT_EQ(labelled.names, std::vector<std::string>{"TP53"});
        EXPECT_EQ(labelled.courses[0].t, (std::vector<double>{0, 1}));
    }
}

// DREAM layout: "Time" header (tab, comma, semicolon or blank separated), courses separated
// by blank lines, linear values; and the same courses without the time column and without
// blank lines, cut by --times or by --interval and --points.
TEST(ExpressionTable, DreamCoursesWithAndWithoutTimeColumn) {
    const std::string with_times =
        "\"Time\"\tG1\tG2\n\n0\t1\t2\n50\t4\t8\n100\t0.5\t1\n\n0\t2\t2\n50\t2\t4\n100\t8\t1\n";
    std::vector<ExpressionSet> sets{read({with_times}, TableOptions{})};
    for (const char delimiter : {',', ';', ' '}) {
        std::string text = with_times;
        std::replace(text.begin(), text.end(), '\t', delimiter);
        sets.push_back(read({text}, TableOptions{}));
    }
    const std::string bare = "G1\tG2\n1\t2\n4\t8\n0.5\t1\n2\t2\n2\t4\n8\t1\n";
    TableOptions o;
    o.times = {0, 50, 100};
    sets.push_back(read({bare}, o));
    TableOptions by_interval;
    by_interval.interval = 50;
    by_interval.points = 3;
    sets.push_back(read({bare}, by_interval));
    for (const ExpressionSet& s : sets) {
        EXPECT_EQ(s.scale, Scale::kLinear);
        ASSERT_EQ(s.courses.size(), 2u);
        EXPECT_EQ(s.courses[1].t, (std::vector<double>{0, 50, 100}));
        EXPECT_EQ(s.courses[0].x, (std::vector<double>{0, 2, -1, 1, 3, 0}));
        EXPECT_EQ(s.courses[1].x, (std::vector<double>{1, 1, 3, 1, 2, 0}));
    }
    // Only a blank line ends a course: a time that goes back or repeats is a fault of the file.
    EXPECT_EQ(error_of({"Time\tG1\n0\t1\n5\t2\n0\t4\n5\t8\n"}, TableOptions{}),
              "file t1, line 4, column 1: time points must increase strictly within a course: 0 "
              "follows 5 (a blank line separates courses)");
    EXPECT_EQ(error_of({"Time\tG1\n0\t1\n5\t2\n5\t4\n\n0\t1\n5\t1\n"}, TableOptions{}),
              "file t1, line 4, column 1: time points must increase strictly within a course: 5 "
              "follows 5 (a blank line separates courses)");
    o.times = {0, 50, 100, 150};
    EXPECT_EQ(error_of({bare}, o),
              "file t1, line 7, column 1: a course of 6 rows is not a whole number of 4 time "
              "points (--times, --points)");
    // No array is sized by --points before the rows are there.
    by_interval.points = 2000000000;
    by_interval.memory_budget = 1 << 20;
    EXPECT_EQ(error_of({bare}, by_interval),
              "file t1, line 7, column 1: a course of 6 rows is not a whole number of 2000000000 "
              "time points (--times, --points)");
}

// Text as spreadsheets save it: UTF-16 with its byte-order mark (either byte order, surrogate
// pairs included) and lone CR line ends read as the UTF-8 table with LF line ends. Where the
// first line end is not a lone CR, a lone CR is a character of its field.
TEST(ExpressionTable, Utf16AndCrLineEndsReadAsUtf8) {
    const std::string utf8 = "gene,0,1\nG\xC3\xA9ne,1,2\n\xF0\x9F\x98\x80x,3,4\n";
    const std::u16string utf16 = u"\uFEFFgene,0,1\r\nG\u00e9ne,1,2\r\n\U0001F600x,3,4\r\n";
    std::string little, big;
    for (const char16_t unit : utf16) {
        const char low = static_cast<char>(unit & 0xFF), high = static_cast<char>(unit >> 8);
        little += {low, high};
        big += {high, low};
    }
    const ExpressionSet plain = read({utf8}, log2_options());
    for (const std::string& text :
         {little, big, std::string("gene,0,1\rG\xC3\xA9ne,1,2\r\xF0\x9F\x98\x80x,3,4"),
          std::string("gene,0,1\rG\xC3\xA9ne,1,2\r\n\r\xF0\x9F\x98\x80x,3,4\n")}) {
        const ExpressionSet s = read({text}, log2_options());
        EXPECT_EQ(s.names, plain.names);
        ASSERT_EQ(s.courses.size(), 1u);
        EXPECT_EQ(s.courses[0].x, plain.courses[0].x);
    }
    EXPECT_EQ(plain.names[1], "\xF0\x9F\x98\x80x");
    EXPECT_EQ(error_of({"gene,0,1\nA,1,1\r2\n"}, log2_options()),
              "file t1, line 2, column 3: '1\\x0d2' is not a number");
    std::vector<std::pair<std::string, std::string>> refused{
        {std::string("\xff\xfe\0\0g\0\0\0", 8),
         "file t1, line 1, column 1: the table is UTF-32 (little-endian) text; save it as UTF-8 "
         "text (or as UTF-16, \"Unicode text\")"},
        {std::string("g\0e\0n\0e\0,\0000\0,\0001\0\n\0", 18),
         "file t1, line 1, column 1: the header holds NUL bytes, as UTF-16 or UTF-32 text "
         "without a byte-order mark does; save the table as UTF-8 text"},
        {little.substr(0, 22) + std::string("\x00\xdc", 2) + little.substr(22),
         "file t1, line 2, column 1: the table is not valid UTF-16 text (a surrogate outside "
         "its pair); save it again as UTF-8 or UTF-16 text"},
        {little + "x", "file t1, line 4, column 1: the UTF-16 text ends inside a character"},
    };
    // The odd byte alone in the last piece of 64 KiB.
    std::string full_piece = little;
    while (full_piece.size() < 65536) full_piece += std::string("\n\0", 2);
    refused.emplace_back(full_piece + "x",
                         "file t1, line 32742, column 1: the UTF-16 text ends inside a character");
    for (const auto& [text, message] : refused)
        EXPECT_EQ(error_of({text}, log2_options()), message);
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
    // Values checked after reading name their own row and the value column.
    EXPECT_EQ(error_of({"time,gene,value,course\n0,A,1,c\n1,A,NA,c\n"}, log2_options()),
              "file t1, line 3, column 3: missing value for gene A (1 in this course); --fill "
              "interpolate fills them within a course");
    // Of several second values, the first in the file.
    EXPECT_EQ(error_of({"gene,course,time,value\nB,c,1,1\nA,c,0,1\nA,c,1,3\nA,c,0,2\nB,c,1,4\n"},
                       log2_options()),
              "file t1, line 5, column 4: a second value for gene A at time 0 of course c");
    // Each of the four columns must be one column of the header.
    EXPECT_EQ(error_of({"gene,course,time,value,Value\nA,c,0,1,2\nA,c,1,1,2\n"}, log2_options()),
              "file t1, line 1, column 5: columns 4 and 5 are both named 'value'; rename one, or "
              "name the columns to read with --columns");
    o.columns = {"probe", "probe", "hours", "log2ratio"};
    o.layout = Layout::kLong;
    EXPECT_EQ(error_of({"hours,probe,log2ratio\n0,A,1\n"}, o),
              "file t1, line 1, column 2: --columns names column 'probe' twice; the gene, course, "
              "time and value columns must differ");
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
    const std::string gap = "gene,2,3,5,6\nA,1,NA,,5\nB,0,1,2,3\n";
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
    EXPECT_EQ(read(std::vector<std::string>(4, course), log2_options()).courses.size(), 4u);
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
    // A course picked twice would weigh twice.
    o.courses = {{1, 1}, {1, 1}};
    EXPECT_EQ(error_of(five, o), "--courses names course 1 twice; name each course once");
    o.courses = {{4, 5}, {1, 3}, {2, 2}};
    EXPECT_EQ(error_of(five, o), "--courses names course 2 twice; name each course once");
}
// Times in rows with a course column (and a replicate column): one course per run of rows, in
// the order they first appear; the time column found by name, the other columns genes.
TEST(ExpressionTable, CourseAndReplicateColumnsByName) {
    const ExpressionSet uv = read({"experiment\ttime_min\tuvrD\tlexA\n"
                                   "uv20\t0\t1\t2\nuv20\t5\t3\t4\n"
                                   "uv5\t0\t5\t6\nuv5\t5\t7\t8\nuv5\t10\t9\t10\n"},
                                  log2_options());
    EXPECT_EQ(uv.names, (std::vector<std::string>{"uvrD", "lexA"}));
    ASSERT_EQ(uv.courses.size(), 2u);
    EXPECT_EQ(uv.courses[0].x, (std::vector<double>{1, 3, 2, 4}));
    EXPECT_EQ(uv.courses[1].t, (std::vector<double>{0, 5, 10}));
    EXPECT_EQ(uv.courses[1].x, (std::vector<double>{5, 7, 9, 6, 8, 10}));
    // Any column may hold them; a gene named "timeless" is no time column, "hours" first is.
    const ExpressionSet moved = read({"timeless,Condition,hours\n1,c,0\n2,c,1\n"}, log2_options());
    EXPECT_EQ(moved.names, (std::vector<std::string>{"hours"}));
    EXPECT_EQ(moved.courses[0].t, (std::vector<double>{1, 2}));
    const ExpressionSet named = read({"hours,Condition,timeless\n0,c,1\n1,c,2\n"}, log2_options());
    EXPECT_EQ(named.names, (std::vector<std::string>{"timeless"}));
    EXPECT_EQ(named.courses[0].x, (std::vector<double>{1, 2}));
    // --columns names them by role; a column so named must be there.
    TableOptions o = log2_options();
    o.columns[1] = "batch";
    o.replicate_column = "r";
    o.replicates = netrevia::table::Replicates::kCourses;
    o.columns_by_role = true;
    const ExpressionSet roles = read({"batch,r,time,A\nb,1,0,1\nb,1,1,2\nb,2,0,3\nb,2,1,4\n"}, o);
    ASSERT_EQ(roles.courses.size(), 2u);
    EXPECT_EQ(roles.courses[1].x, (std::vector<double>{3, 4}));
    EXPECT_EQ(error_of({"course,time,A\nb,0,1\nb,1,2\n"}, o),
              "file t1, line 1, column 1: no course column 'batch' in the header (--columns)");
    const std::vector<std::pair<std::string, std::string>> refused{
        {"course,time,A\na,0,1\nb,0,2\na,1,3\n",
         "file t1, line 4, column 1: the rows of course a are not together: it began on line 2 "
         "and another course came between; keep each course's rows together"},
        {"course,rep,time,A\na,1,0,1\na,2,0,2\na,1,1,3\n",
         "file t1, line 4, column 2: the rows of replicate 1 of course a are not together: it "
         "began on line 2 and another replicate came between"},
        {"course,rep,time,A\na,1,0,1\na,1,0,2\n",
         "file t1, line 3, column 3: time 0 comes twice in replicate 1 of course a; time points "
         "must increase strictly within a replicate"},
        {"course,time,A\na,0,1\na,2,2\na,1,3\n",
         "file t1, line 4, column 2: time points must increase strictly"},
        {"course,time,A\n,0,1\n", "file t1, line 2, column 1: a row without a course"},
        {"course,condition,time,A\na,a,0,1\n",
         "file t1, line 1, column 2: columns 1 and 2 both name the course; name the one to read "
         "with --columns course=NAME"},
    };
    for (const auto& [table, message] : refused)
        EXPECT_EQ(error_of({table}, log2_options()), message);
}

// Replicates in each layout: refused without --replicates, averaged on the linear scale at
// each time point (a missing value left out), or each a course, course by course.
TEST(ExpressionTable, ReplicatesAveragedOrTakenAsCourses) {
    using netrevia::table::Replicates;
    const std::string wide = "gene,0,0,10,10,20\nA,1,3,2,NA,4\nB,0,0,5,3,1\n";
    EXPECT_EQ(error_of({wide}, log2_options()),
              "file t1, line 1, column 3: course 1 holds 2 replicates (the second starts here); "
              "say --replicates mean to average them at each time point, or --replicates "
              "courses to take each as a course of its own");
    TableOptions mean = log2_options();
    mean.replicates = Replicates::kMean;
    const ExpressionSet m = read({wide}, mean);
    ASSERT_EQ(m.courses.size(), 1u);
    EXPECT_EQ(m.courses[0].t, (std::vector<double>{0, 10, 20}));
    EXPECT_EQ(m.courses[0].x, (std::vector<double>{std::log2(5.0), 2, 4, 0, std::log2(20.0), 1}));
    EXPECT_EQ(netrevia::table::replicates_text(m),
              "2 replicates of 1 course averaged at each time point");
    // Levels beyond the range of a double on the way (2^-1100 is 0, twice 2^1023.5 overflows)
    // still average to their own value.
    EXPECT_EQ(read({"gene,0,0,1,1\nA,-1100,-1100,1023.5,1023.5\n"}, mean).courses[0].x,
              (std::vector<double>{-1100, 1023.5}));
    TableOptions each = log2_options();
    each.replicates = Replicates::kCourses;
    each.fill_interpolate = true;
    // Replicate 2 holds 0 and 10 only; its missing value at its end cannot be filled.
    EXPECT_EQ(error_of({wide}, each),
              "file t1, line 2, column 5: missing value for gene A at the start or end of a "
              "course, where it cannot be interpolated");
    // Times in rows, the same time twice, and a long table's replicate column: course by course,
    // replicate by replicate, and --courses counts the courses so made.
    const std::string rows = "time,A\n0,1\n1,2\n0,3\n1,4\n";
    const std::string long_table =
        "gene,course,rep,time,value\nA,c,r2,0,5\nA,d,x,0,9\nA,d,x,1,9\nA,c,r1,0,6\n"
        "A,c,r2,1,7\nA,c,r1,1,8\n";
    each.max_courses = netrevia::table::kNoCourseLimit;
    const ExpressionSet s = read({rows, long_table}, each);
    ASSERT_EQ(s.courses.size(), 5u);
    EXPECT_EQ(s.replicate_count, 4);
    EXPECT_EQ(s.replicated_courses, 2);
    std::vector<double> firsts;
    for (const auto& c : s.courses) firsts.push_back(c.x[0]);
    EXPECT_EQ(firsts, (std::vector<double>{1, 3, 5, 6, 9}));
    each.courses = {{3, 4}};
    EXPECT_EQ(read({rows, long_table}, each).courses[1].x, (std::vector<double>{6, 8}));
    mean.courses = {{2, 3}};
    const ExpressionSet picked = read({rows, long_table}, mean);
    ASSERT_EQ(picked.courses.size(), 2u);
    EXPECT_EQ(picked.courses[0].x, (std::vector<double>{std::log2(48.0), std::log2(192.0)}));
    EXPECT_EQ(picked.courses[1].x, (std::vector<double>{9, 9}));
    // A course column without a replicate column: a time that comes again within a course starts
    // its next replicate. A long table's replicate column named by the fifth name of --columns.
    TableOptions named = each;
    named.columns = {"g", "c", "t", "v"};
    named.replicate_column = "batch";
    named.courses = {};
    named.max_courses = netrevia::table::kNoCourseLimit;
    const ExpressionSet labelled =
        read({"condition,time,A\nx,0,1\nx,5,2\nx,0,3\nx,5,4\ny,0,5\ny,5,6\n",
              "g,c,t,v,batch\nA,z,0,7,b1\nA,z,1,8,b1\nA,z,0,9,b2\nA,z,1,9,b2\n"},
             named);
    std::vector<std::vector<double>> xs;
    for (const auto& c : labelled.courses) xs.push_back(c.x);
    EXPECT_EQ(xs, (std::vector<std::vector<double>>{{1, 2}, {3, 4}, {5, 6}, {7, 8}, {9, 9}}));
    EXPECT_EQ(labelled.courses[1].t, (std::vector<double>{0, 5}));
    EXPECT_EQ(netrevia::table::replicates_text(labelled),
              "4 replicates of 2 courses taken each as a course");
    // Replicates' times must tell apart once joined, as a course's must.
    mean.courses = {};
    EXPECT_EQ(error_of({"rep,time,A\n1,0,1\n1,1,2\n2,1e-310,3\n2,1,4\n"}, mean),
              "file t1, line 4, column 2: time points of the replicates lie too close together "
              "to tell apart");
    // Each replicate a course: the course limit counts them and says so.
    each.courses = {};
    each.max_courses = netrevia::table::kDefaultMaxCourses;
    // The fifth is the second replicate of t3, which starts on its line 4.
    EXPECT_EQ(error_of({"time,A\n0,1\n1,2\n", rows, rows}, each),
              "file t3, line 4, column 1: course 5 of 5: a data file holds at most 4 courses "
              "(with --replicates courses each replicate is a course); pick some with --courses "
              "(say --courses 1-4)");
}

// Everything the reader keeps comes out of the memory budget before it is allocated; courses
// that are not picked are read and checked but not kept, so they cost nothing.
TEST(ExpressionTable, MemoryBudgetCountsOnlyWhatIsKept) {
    std::ostringstream text;
    text << "Time";
    for (int i = 1; i <= 50; ++i) text << "\tG" << i;
    for (int k = 0; k < 3; ++k) {
        text << "\n";
        for (int j = 0; j < 200; ++j) {
            text << "\n" << j;
            for (int i = 1; i <= 50; ++i) text << "\t" << i + j + k;
        }
    }
    text << "\n";
    const std::string dream = text.str();
    TableOptions o;
    o.memory_budget = 256 << 10;  // one course is 200 x 50 values (78 KiB), doubled as it grows
    const std::string message = error_of({dream}, o);
    EXPECT_EQ(message.rfind("file t1, line ", 0), 0u) << message;
    EXPECT_NE(message.find(", more than the memory budget of 262144 bytes"), std::string::npos)
        << message;
    o.courses = {{2, 2}};
    const ExpressionSet one = read({dream}, o);
    ASSERT_EQ(one.courses.size(), 1u);
    EXPECT_EQ(x(one, 0, 49, 199), std::log2(50 + 199 + 1));
    o.memory_budget = 0;  // the default: half the physical memory
    o.courses = {};
    EXPECT_EQ(read({dream}, o).courses.size(), 3u);
    // The log2 values of a course (8 KiB here) are taken before they exist, at its start.
    std::ostringstream course;
    course << "Time\tA\tB\n";
    for (int j = 0; j < 512; ++j) course << "\n" << j << "\t1\t2";
    o.memory_budget = 30000;
    EXPECT_EQ(error_of({course.str()}, o),
              "file t1, line 3, column 1: holding the tables up to here takes 32200 bytes, more "
              "than the memory budget of 30000 bytes");
    o.memory_budget = 33000;
    EXPECT_EQ(read({course.str()}, o).courses[0].x.size(), 1024u);
    // A long table: its rows while it is read (32 KiB here), then its values with their lines
    // (16 KiB), are taken from the budget before they exist; the second fails at the last row.
    std::ostringstream rows;
    rows << "gene,course,time,value";
    for (int j = 0; j < 512; ++j) rows << "\nA,c," << j << ",1\nB,c," << j << ",2";
    o = log2_options();
    o.memory_budget = 64 << 10;
    EXPECT_EQ(error_of({rows.str()}, o),
              "file t1, line 1025, column 1: holding the tables up to here takes 73952 bytes, "
              "more than the memory budget of 65536 bytes");
    o.memory_budget = 128 << 10;
    EXPECT_EQ(read({rows.str()}, o).courses[0].t.size(), 512u);
    // Averaged replicates: the sums and counts (12 bytes a value, 24 KiB here) are taken
    // before they exist, at the course's start.
    std::string twice = "gene,0,0,1,1";
    for (int i = 0; i < 1000; ++i) twice += "\nG" + std::to_string(i) + ",1,1,1,1";
    o.replicates = netrevia::table::Replicates::kMean;
    o.memory_budget = 229000;
    EXPECT_EQ(error_of({twice}, o),
              "file t1, line 1, column 1: holding the tables up to here takes 229256 bytes, more "
              "than the memory budget of 229000 bytes");
    o.memory_budget = 230000;
    EXPECT_EQ(read({twice}, o).courses[0].x, std::vector<double>(2000, 1.0));
}

// Each bad table gives one message naming file, line and column.
TEST(ExpressionTable, BadTablesNameTheirPlace) {
    const TableOptions o = log2_options();
    // 2000 genes can be inferred, not one more.
    std::string genes = "gene,0,1";
    for (int i = 1; i <= 2000; ++i) genes += "\nG" + std::to_string(i) + ",1,2";
    EXPECT_EQ(read({genes}, o).names.size(), 2000u);
    EXPECT_EQ(error_of({genes + "\nG2001,1,2"}, o),
              "file t1, line 2002, column 1: more than 2000 genes; at most 2000 can be inferred");
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
        {{""}, "file t1, line 1, column 1: the table is empty"},
        {{"\r\n \n"}, "file t1, line 1, column 1: the table is empty"},
        {{"gene,0,1\n"}, "file t1, line 2, column 1: the table has no rows of values"},
        {{"gene,0,1\nA,1,2\nB,1\n"},
         "file t1, line 3, column 3: the row has 2 fields, the header 3"},
        {{"gene,0,1\nA,1,2,3\n"}, "file t1, line 2, column 4: the row has 4 fields, the header 3"},
        {{"gene,0,1\nA,1,2,,\"\"\n"},
         "file t1, line 2, column 4: the row has 5 fields, the header 3"},
        {{"gene,0,1\nA,1,2x\n"}, "file t1, line 2, column 3: '2x' is not a number"},
        {{"gene,0,1\nA,1,inf\n"}, "file t1, line 2, column 3: 'inf' is not a number"},
        {{"time,A\n0,1\n-1,2\n"}, "file t1, line 3, column 1: time points must increase strictly"},
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
        // Text from the table is shown with control bytes escaped, long texts cut.
        {{"gene,0,1\nA,1,2\x1b[2J\n"}, "file t1, line 2, column 3: '2\\x1b[2J' is not a number"},
        {{"gene,0,1\nA\x1b,1,2\n"},
         "file t1, line 2, column 1: the gene name 'A\\x1b' holds a control character (a tab, a "
         "line end or an escape)"},
        {{"time,A\n0\x01,1\n1,2\n"},
         "file t1, line 2, column 1: the time point '0\\x01' is not a number"},
        {{"gene,0,1\nA,1," + std::string(60, '9') + "x\n"},
         "file t1, line 2, column 3: '" + std::string(40, '9') + "...' is not a number"},
        {{"gene,0,1\nA,1,\"" + std::string(netrevia::table::kMaxFieldLength + 1, '9') + "\"\n"},
         "file t1, line 2, column 3: a field longer than 1048576 characters"},
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
    EXPECT_EQ(format("Time,G1\n0,1\n", o), ",20");           // DREAM files, whatever the delimiter
    EXPECT_EQ(format("Time,0,1\nTP53,1,2\n", o), ",11");     // a header of time points
    EXPECT_EQ(format("time,7157,7158\n0,1,2\n", o), ",12");  // numeric gene IDs
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
