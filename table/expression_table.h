#pragma once

#include <array>
#include <climits>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace netrevia::inference {
class InputObserver;
}

namespace netrevia::table {

// A table that cannot be turned into time courses. The message always reads
// "file <path>, line <L>, column <C>: <what>"; column counts fields from 1.
class TableError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Where a cell stands in its file, for messages.
struct Place {
    long long line = 1;
    int column = 1;
};

enum class Layout { kDetect, kWide, kDream, kLong };
enum class Orientation { kDetect, kGenesInRows, kTimesInRows };
enum class Scale { kUnset, kLinear, kLog2, kLn, kLog10 };
// What becomes of replicates: refused (unset), averaged at each time point, or each a course.
enum class Replicates { kUnset, kMean, kCourses };

inline constexpr int kDefaultMaxCourses = 4;  // room of the data file
inline constexpr int kNoCourseLimit = INT_MAX;
inline constexpr int kMaxTableGenes = 2000;  // bound of the decomposition

// How the tables are to be read. Every member has a "detect" or "absent" state.
struct TableOptions {
    Layout layout = Layout::kDetect;
    char delimiter = '\0';  // '\0': detected from the header; ' ' splits at runs of blanks
    Orientation orientation = Orientation::kDetect;
    Scale scale = Scale::kUnset;  // required except for DREAM files, which are linear
    std::optional<double> floor;  // replaces linear values <= 0
    bool fill_interpolate = false;
    // Time points of files without a time column: times, or else 0, interval, ...,
    // (points - 1) interval (made as each row is read, so that no array is sized by points).
    std::vector<double> times;
    double interval = 0.0;
    int points = 0;
    // Gene, course, time and value columns of long tables. The course and time names also
    // find those columns of tables with time points in rows; left at "course" and "time" they
    // also take "experiment" and "condition", and names that begin with "time" and go on with
    // no letter ("time_min").
    std::array<std::string, 4> columns{"gene", "course", "time", "value"};
    // The replicate column of both; left at "replicate" it also takes "rep".
    std::string replicate_column = "replicate";
    // The names were given by role (course=NAME): a table of times in rows must then have the
    // course, time and replicate columns so named. Names given by position are a long table's:
    // tables of times in rows then go by the usual names.
    bool columns_by_role = false;
    Replicates replicates = Replicates::kUnset;
    // Picked ranges (1-based, inclusive), each course at most once; empty: all. Courses are
    // counted once the replicates are averaged or made courses.
    std::vector<std::pair<int, int>> courses;
    int max_courses = kDefaultMaxCourses;
    // Bytes the reader may hold of the tables; 0: inference::default_memory_budget().
    std::uint64_t memory_budget = 0;
};

// One time course: t(1..T) and the base-2 log values of gene i at t(j) in x[(i-1)*T + (j-1)].
struct TimeCourse {
    std::vector<double> t;
    std::vector<double> x;
};

// Time courses of the same genes, full names in the first course's order.
struct ExpressionSet {
    std::vector<std::string> names;
    std::vector<TimeCourse> courses;
    Scale scale = Scale::kLog2;  // what the tables held
    long long floored = 0;       // linear values <= 0 replaced by the floor
    long long filled = 0;        // missing values interpolated
    // Replicates as handled: kUnset when the tables hold none. replicate_count replicates of
    // replicated_courses courses, counted over the courses kept: the picked ones when they are
    // averaged, all when each is a course.
    Replicates replicates = Replicates::kUnset;
    long long replicate_count = 0;
    long long replicated_courses = 0;
};

// "6 replicates of 2 courses averaged at each time point" and the like; empty without
// replicates.
std::string replicates_text(const ExpressionSet& set);

// Reads the tables in order (each wide table is one course, unless a course column or a time
// point that comes again says otherwise; DREAM and long tables may hold several), averages the
// replicates or makes each a course (options.replicates; refused when unset), picks the
// courses, checks that every course holds the same genes, and converts the values to base-2
// logarithms. Throws TableError naming file, line and column. Each table is
// read once, in pieces; only the numbers of the picked courses are kept (with their gene
// names and where they stand), and everything kept grows only once the memory budget allows
// it. Only regular files are read; a file given twice is refused. With an observer, each
// table's bytes are shown to it as the reader takes them, each once and in file order
// (inference::ObservedStreamBuf), so that a caller can hash what was read.
ExpressionSet read_tables(const std::vector<std::filesystem::path>& files,
                          const TableOptions& options,
                          inference::InputObserver* observer = nullptr);

// The same for tables already in memory: texts[k] is the content of files[k].
ExpressionSet read_table_texts(const std::vector<std::filesystem::path>& files,
                               const std::vector<std::string>& texts,
                               const TableOptions& options);

std::string_view scale_name(Scale scale);

// How a table is read: its layout, delimiter (' ' for runs of blanks) and, for a wide table,
// what its rows hold, each as the options give it or as the reader detects it.
struct TableFormat {
    Layout layout = Layout::kWide;
    char delimiter = ',';
    Orientation orientation = Orientation::kDetect;  // set for wide tables only
};

// The format read_table_texts reads text (the content of file) in, by the same detection rules.
// Throws TableError when the table is empty or a quoted field is not closed.
TableFormat detect_format(const std::filesystem::path& file,
                          std::string_view text,
                          const TableOptions& options);

// One record of a table as the reader splits it: the line it starts on and its fields, without
// quotes and surrounding blanks; empty for a blank line.
struct PreviewRecord {
    long long line = 1;
    std::vector<std::string> cells;
};

// The first max_records records of text split at delimiter, for showing a table before it is
// read. Throws TableError when a quoted field is not closed.
std::vector<PreviewRecord> preview_records(const std::filesystem::path& file,
                                           std::string_view text,
                                           char delimiter,
                                           std::size_t max_records);

}  // namespace netrevia::table
