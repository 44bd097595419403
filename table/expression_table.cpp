#include "table/expression_table.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <system_error>
#include <unordered_map>

#include "inference/experiment.h"
#include "inference/run.h"
#include "table/table_text.h"

namespace netrevia::table {

namespace {

namespace fs = std::filesystem;

constexpr double kMissing = std::numeric_limits<double>::quiet_NaN();
// What a hash-map entry costs besides its key's characters (node, bucket, padding): the
// budget's estimate for the name and label maps.
constexpr std::uint64_t kMapEntryBytes = 64;

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return out;
}

// The heap bytes of a string beyond the object itself (short strings have none).
std::uint64_t heap_bytes(const std::string& s) {
    return s.capacity() > 15 ? static_cast<std::uint64_t>(s.capacity()) + 1 : 0;
}

bool is_missing(std::string_view text) {
    const std::string t = lower(text);
    return t.empty() || t == "na" || t == "nan" || t == "n/a";
}

std::optional<double> to_number(std::string_view s) {
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    if (s.empty() || s.front() == '+') return {};
    double v = 0.0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || end != s.data() + s.size() || !std::isfinite(v)) return {};
    return v;
}

double time_of(const fs::path& file, std::string_view text, Place at) {
    const std::optional<double> v = to_number(text);
    if (!v) fail(file, at, "the time point '" + shown(text) + "' is not a number");
    return *v;
}

std::string number_text(double v) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, v);
    return std::string(buffer, result.ptr);
}

// Time points given on the command line, for tables without a time column.
std::size_t given_time_count(const TableOptions& o) {
    return o.times.empty() ? static_cast<std::size_t>(std::max(o.points, 0)) : o.times.size();
}
double given_time(const TableOptions& o, std::size_t j) {
    return o.times.empty() ? static_cast<double>(j) * o.interval : o.times[j];
}

// Names go into the data file and the name map: no control characters (tabs, line ends).
void check_name(const fs::path& file, const std::string& name, Place at) {
    if (name.find_first_not_of(" \t") == std::string::npos) fail(file, at, "a gene without a name");
    for (char c : name) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
            fail(file, at,
                 "the gene name '" + shown(name) +
                     "' holds a control character (a tab, a line end or an escape)");
        }
    }
}

// How a course's values lie in v, and so where each stands in its file.
enum class Arrangement {
    kGeneRows,   // a row per gene: v gene-major, value (i, j) on gene i's line
    kTimeRows,   // a row per time point: v time-major, value (i, j) on time j's line
    kValueRows,  // a row per value (long tables): v gene-major, its own line in lines
};

// A course as read, before the genes are matched and the values converted. Missing values
// are NaN. A course that is not picked keeps only its file and start.
struct RawCourse {
    fs::path file;
    Place start;
    bool kept = false;
    // The course it belongs to, numbered from 0 over all tables: replicates share it.
    std::size_t group = 0;
    std::string label;                // the course column's text, if any
    std::string replicate;            // the replicate column's text, if any
    bool labelled_replicate = false;  // from a replicate column: its times may not repeat
    Arrangement arrangement = Arrangement::kGeneRows;
    std::vector<std::string> names;
    std::vector<Place> name_places;
    std::vector<double> t;
    std::vector<Place> t_places;
    std::vector<double> v;
    std::vector<long long> lines;    // kValueRows
    int value_column = 0;            // kValueRows
    std::vector<std::size_t> order;  // after matching: gene i of the set is row order[i] here

    std::size_t index(std::size_t row, std::size_t j) const {
        return arrangement == Arrangement::kTimeRows ? j * names.size() + row : row * t.size() + j;
    }
    Place place(std::size_t row, std::size_t j) const {
        switch (arrangement) {
            case Arrangement::kGeneRows:
                return {name_places[row].line, t_places[j].column};
            case Arrangement::kTimeRows:
                return {t_places[j].line, name_places[row].column};
            case Arrangement::kValueRows:
                break;
        }
        return {lines[index(row, j)], value_column};
    }
};

// Every course of the tables, numbered from 1 in the order read. A course keeps its values
// when it is picked and among the first max_courses picks; the others are read and checked
// as they go by, and dropped.
class CourseList {
public:
    CourseList(const TableOptions& options, MemoryBudget& budget)
        : options_(options), budget_(budget) {}

    // Index of the new course in all; a replicate of the course before belongs to its group.
    // Which replicates become which course is known only at the end when each is a course:
    // then all are kept (within the budget) and picked afterwards.
    std::size_t begin(const fs::path& file,
                      Place start,
                      Arrangement arrangement,
                      bool replicate_of_last = false) {
        RawCourse course;
        course.file = file;
        course.start = start;
        course.arrangement = arrangement;
        if (!replicate_of_last || all.empty()) ++groups;
        course.group = groups - 1;
        const long long position = pick_position(static_cast<long long>(course.group) + 1);
        course.kept = options_.replicates == Replicates::kCourses ||
                      (position >= 0 && position < options_.max_courses);
        budget_.take(heap_bytes(course.file.native()));
        append(all, std::move(course), budget_);
        return all.size() - 1;
    }

    // A replicate of course group (long tables, whose replicates need not follow each other).
    std::size_t begin_replicate(const fs::path& file, Place start, std::size_t group) {
        const std::size_t k = begin(file, start, Arrangement::kValueRows, true);
        RawCourse& c = all[k];
        c.group = group;
        const long long position = pick_position(static_cast<long long>(group) + 1);
        c.kept = options_.replicates == Replicates::kCourses ||
                 (position >= 0 && position < options_.max_courses);
        return k;
    }

    // Where course number stands among the picks (from 0), or -1 when it is not picked.
    long long pick_position(long long number) const {
        if (options_.courses.empty()) return number - 1;
        long long position = 0;
        for (const auto& [first, last] : options_.courses) {
            if (first <= number && number <= last) return position + (number - first);
            position += static_cast<long long>(last) - first + 1;
        }
        return -1;
    }

    std::vector<RawCourse> all;
    std::size_t groups = 0;

private:
    const TableOptions& options_;
    MemoryBudget& budget_;
};

struct Header {
    long long line = 0;
    std::vector<Field> cells;
    std::uint64_t bytes = 0;  // taken from the budget
};

// The first record that is not blank, every field kept, trailing empty fields dropped.
Header read_header(const fs::path& file, FieldReader& fields, MemoryBudget& budget) {
    if (!fields.next_record()) fail(file, {1, 1}, "the table is empty");
    Header header;
    header.line = fields.line();
    budget.at(file, header.line);
    const std::uint64_t before = budget.used();
    Field field;
    std::size_t empty_run = 0;  // empty fields not yet known to stand before a full one
    while (fields.next_field(field, true)) {
        if (!field.quoted && field.empty) {
            ++empty_run;
            continue;
        }
        for (; empty_run > 0; --empty_run) append(header.cells, Field{}, budget);
        budget.take(heap_bytes(field.text));
        append(header.cells, std::move(field), budget);
        field = Field{};
    }
    header.bytes = budget.used() - before;
    if (header.cells.empty()) fail(file, {header.line, 1}, "the header is empty");
    for (std::size_t j = 0; j < header.cells.size(); ++j) {
        if (header.cells[j].text.find('\0') != std::string::npos) {
            fail(file, {header.line, static_cast<int>(j) + 1},
                 "the header holds NUL bytes, as UTF-16 or UTF-32 text without a byte-order "
                 "mark does; save the table as UTF-8 text");
        }
    }
    return header;
}

enum class Role : unsigned char { kSkip, kName, kLabel, kReplicate, kTime, kValue };

// One record read against the header's columns: the name and label as text, times and values
// as numbers (a missing value is NaN), other columns passed over unread. What does not parse
// is noted, to be reported once the record's width is known to be right.
class RowReader {
public:
    RowReader(std::vector<Role> roles, MemoryBudget& budget)
        : roles_(std::move(roles)), budget_(budget) {
        budget_.take(static_cast<std::uint64_t>(roles_.size()) * sizeof(double));
        numbers_.assign(roles_.size(), 0.0);
    }
    RowReader(const RowReader&) = delete;
    RowReader& operator=(const RowReader&) = delete;
    ~RowReader() { budget_.give_back(static_cast<std::uint64_t>(roles_.size()) * sizeof(double)); }

    void read(FieldReader& fields) {
        bad_time_.column = 0;
        bad_value_.column = 0;
        const std::size_t width = roles_.size();
        std::size_t significant = 0;  // fields up to the last one beyond width that holds text
        std::size_t c = 0;
        for (; fields.next_field(field_, c < width && roles_[c] != Role::kSkip); ++c) {
            if (c >= width) {
                if (field_.quoted || !field_.empty) significant = c + 1;
                continue;
            }
            switch (roles_[c]) {
                case Role::kName:
                    name_ = field_.text;
                    break;
                case Role::kLabel:
                    label_ = field_.text;
                    break;
                case Role::kReplicate:
                    replicate_ = field_.text;
                    break;
                case Role::kTime:
                    numbers_[c] = parse(field_.text, false, c);
                    break;
                case Role::kValue:
                    numbers_[c] = is_missing(field_.text) ? kMissing : parse(field_.text, true, c);
                    break;
                case Role::kSkip:
                    break;
            }
        }
        count_ = c <= width ? c : std::max(width, significant);
    }

    // Empty fields beyond the header's width are trailing delimiters and do not count.
    void check_width(const fs::path& file, long long line) const {
        const std::size_t width = roles_.size();
        if (count_ != width) {
            fail(file, {line, static_cast<int>(std::min(count_, width)) + 1},
                 "the row has " + std::to_string(count_) + " fields, the header " +
                     std::to_string(width));
        }
    }

    // A time that is not a number before a value that is not one.
    void check_numbers(const fs::path& file, long long line) const {
        if (bad_time_.column > 0) {
            fail(file, {line, static_cast<int>(bad_time_.column)},
                 "the time point '" + bad_time_.text + "' is not a number");
        }
        if (bad_value_.column > 0) {
            fail(file, {line, static_cast<int>(bad_value_.column)},
                 "'" + bad_value_.text + "' is not a number");
        }
    }

    const std::string& name() const { return name_; }
    const std::string& label() const { return label_; }
    const std::string& replicate() const { return replicate_; }
    double number(std::size_t column) const { return numbers_[column]; }

private:
    struct Bad {
        std::size_t column = 0;  // from 1; 0: none
        std::string text;        // as shown
    };

    double parse(const std::string& text, bool value, std::size_t c) {
        const std::optional<double> v = to_number(text);
        if (v) return *v;
        Bad& bad = value ? bad_value_ : bad_time_;
        if (bad.column == 0) bad = {c + 1, shown(text)};
        return 0.0;
    }

    std::vector<Role> roles_;
    MemoryBudget& budget_;
    std::vector<double> numbers_;
    std::string name_;
    std::string label_;
    std::string replicate_;
    Field field_;
    std::size_t count_ = 0;
    Bad bad_time_;
    Bad bad_value_;
};

[[noreturn]] void too_many_genes(const fs::path& file, Place at) {
    fail(file, at,
         "more than " + std::to_string(kMaxTableGenes) + " genes; at most " +
             std::to_string(kMaxTableGenes) + " can be inferred");
}

// The gene names of a course of time points in rows, from the header: gene i (from 0) of n
// stands in column column(i) (from 0).
template <class Column>
void name_genes(const fs::path& file,
                const Header& header,
                std::size_t n,
                Column column,
                RawCourse& c,
                MemoryBudget& budget) {
    if (n > static_cast<std::size_t>(kMaxTableGenes)) {
        fail(file, c.start,
             std::to_string(n) + " genes; at most " + std::to_string(kMaxTableGenes) +
                 " can be inferred");
    }
    for (std::size_t i = 0; i < n; ++i) {
        const Field& name = header.cells[column(i)];
        budget.take(heap_bytes(name.text));
        append(c.names, name.text, budget);
        append(c.name_places, Place{header.line, static_cast<int>(column(i)) + 1}, budget);
    }
}

// Genes in rows: "gene,t1,t2,..." then one row per gene. The table is one course.
void read_genes_in_rows(const fs::path& file,
                        FieldReader& fields,
                        const Header& header,
                        CourseList& courses,
                        MemoryBudget& budget) {
    const std::size_t k = courses.begin(file, {header.line, 1}, Arrangement::kGeneRows);
    const std::size_t width = header.cells.size();
    for (std::size_t j = 1; j < width; ++j) {
        const Place at{header.line, static_cast<int>(j) + 1};
        const double t = time_of(file, header.cells[j].text, at);
        RawCourse& c = courses.all[k];
        if (!c.kept) continue;
        append(c.t, t, budget);
        append(c.t_places, at, budget);
    }
    std::vector<Role> roles(width, Role::kValue);
    roles[0] = Role::kName;
    RowReader row(std::move(roles), budget);
    do {
        const long long line = fields.line();
        budget.at(file, line);
        row.read(fields);
        row.check_width(file, line);
        check_name(file, row.name(), {line, 1});
        row.check_numbers(file, line);
        RawCourse& c = courses.all[k];
        if (!c.kept) continue;
        if (c.names.size() == static_cast<std::size_t>(kMaxTableGenes))
            too_many_genes(file, {line, 1});
        budget.take(heap_bytes(row.name()));
        append(c.names, row.name(), budget);
        append(c.name_places, Place{line, 1}, budget);
        for (std::size_t j = 1; j < width; ++j) append(c.v, row.number(j), budget);
    } while (fields.next_record());
}

// Time points in rows, gene names in the header. time_column: the first field of every row is
// the time. With split, blank lines separate courses (DREAM time-series files), and times must
// increase within each; given times (no time column) cut each run of rows between blank lines
// into courses of that many rows. Without split the table is one course.
void read_times_in_rows(const fs::path& file,
                        FieldReader& fields,
                        const Header& header,
                        bool time_column,
                        bool split,
                        const TableOptions& options,
                        CourseList& courses,
                        MemoryBudget& budget) {
    const std::size_t width = header.cells.size();
    const std::size_t first_gene = time_column ? 1 : 0;
    for (std::size_t j = first_gene; j < width; ++j)
        check_name(file, header.cells[j].text, {header.line, static_cast<int>(j) + 1});
    const std::size_t n = width - first_gene;
    const std::size_t given = given_time_count(options);

    std::vector<Role> roles(width, Role::kValue);
    if (time_column) roles[0] = Role::kTime;
    RowReader row(std::move(roles), budget);
    std::size_t k = 0;
    std::size_t rows_in_group = 0;  // rows since the last blank line
    long long last_line = 0;
    double previous_time = 0.0;
    const auto end_group = [&] {
        if (!time_column && rows_in_group % given != 0) {
            fail(file, {last_line, 1},
                 "a course of " + std::to_string(rows_in_group) +
                     " rows is not a whole number of " + std::to_string(given) +
                     " time points (--times, --points)");
        }
        rows_in_group = 0;
    };
    do {
        const long long line = fields.line();
        budget.at(file, line);
        if (split && fields.blank_before() && rows_in_group > 0) end_group();
        row.read(fields);
        row.check_width(file, line);
        row.check_numbers(file, line);
        const std::size_t j = time_column ? rows_in_group : rows_in_group % given;
        const double t = time_column ? row.number(0) : given_time(options, j);
        if (j == 0) {
            k = courses.begin(file, {line, 1}, Arrangement::kTimeRows);
            RawCourse& c = courses.all[k];
            if (c.kept)
                name_genes(
                    file, header, n, [&](std::size_t i) { return first_gene + i; }, c, budget);
        } else if (time_column && split && !(t > previous_time)) {
            // A DREAM course ends only at a blank line: a time that does not increase is a
            // fault of the file, not the start of another course.
            fail(file, {line, 1},
                 "time points must increase strictly within a course: " + number_text(t) +
                     " follows " + number_text(previous_time) +
                     " (a blank line separates courses)");
        }
        previous_time = t;
        RawCourse& c = courses.all[k];
        if (c.kept) {
            append(c.t, t, budget);
            append(c.t_places, Place{line, 1}, budget);
            for (std::size_t i = 0; i < n; ++i) append(c.v, row.number(first_gene + i), budget);
        }
        ++rows_in_group;
        last_line = line;
    } while (fields.next_record());
    end_group();
}

// Which header names a column stands for: the name options give it and, when that is the
// default, the other names it goes by.
bool names_course(const std::string& cell, const TableOptions& o) {
    const std::string name = lower(cell);
    if (name == lower(o.columns[1])) return true;
    return o.columns[1] == "course" && (name == "experiment" || name == "condition");
}
bool names_replicate(const std::string& cell, const TableOptions& o) {
    const std::string name = lower(cell);
    if (name == lower(o.replicate_column)) return true;
    return o.replicate_column == "replicate" && name == "rep";
}
// "time", or a name that begins with "time" and goes on with something else than a letter
// ("time_min", "time (h)"), so that a gene named "timeless" is not taken for the time.
bool names_time_loosely(const std::string& cell, const TableOptions& o) {
    const std::string name = lower(cell);
    if (name == lower(o.columns[2])) return true;
    return o.columns[2] == "time" && name.size() > 4 && name.compare(0, 4, "time") == 0 &&
           !(name[4] >= 'a' && name[4] <= 'z');
}

// The one column of the header for which named holds (except those in taken), or npos; two
// such columns are refused.
template <class Named>
std::size_t find_column(const fs::path& file,
                        const Header& header,
                        const std::string& what,
                        std::initializer_list<std::size_t> taken,
                        Named named) {
    std::size_t found = std::string::npos;
    for (std::size_t j = 0; j < header.cells.size(); ++j) {
        if (std::find(taken.begin(), taken.end(), j) != taken.end()) continue;
        if (!named(header.cells[j].text)) continue;
        if (found != std::string::npos) {
            fail(file, {header.line, static_cast<int>(j) + 1},
                 "columns " + std::to_string(found + 1) + " and " + std::to_string(j + 1) +
                     " both name the " + what + "; name the one to read with --columns " + what +
                     "=NAME");
        }
        found = j;
    }
    return found;
}

// The course, replicate and time columns of a table with time points in rows. Without a course
// or replicate column the time is the first column, as ever; with one, it is the column named
// time (or so named by --columns), else one whose name begins with "time" and no letter
// follows, else the first column that is neither.
struct RowColumns {
    std::size_t course = std::string::npos;
    std::size_t replicate = std::string::npos;
    std::size_t time = 0;
    bool labelled() const { return course != std::string::npos || replicate != std::string::npos; }
};

RowColumns row_columns(const fs::path& file, const Header& header, const TableOptions& given_o) {
    // Names given by position are a long table's; these tables go by the usual names then.
    TableOptions defaults;
    const TableOptions& o = given_o.columns_by_role ? given_o : defaults;
    RowColumns columns;
    const auto given = [&](const std::string& name, const std::string& fallback) {
        return lower(name) != lower(fallback);
    };
    columns.course = find_column(file, header, "course", {},
                                 [&o](const std::string& c) { return names_course(c, o); });
    columns.replicate = find_column(file, header, "replicate", {columns.course},
                                    [&o](const std::string& c) { return names_replicate(c, o); });
    if (given(o.columns[1], "course") && columns.course == std::string::npos) {
        fail(file, {header.line, 1},
             "no course column '" + shown(o.columns[1]) + "' in the header (--columns)");
    }
    if (given(o.replicate_column, "replicate") && columns.replicate == std::string::npos) {
        fail(file, {header.line, 1},
             "no replicate column '" + shown(o.replicate_column) + "' in the header (--columns)");
    }
    if (!columns.labelled()) return columns;
    const std::size_t exact =
        find_column(file, header, "time", {columns.course, columns.replicate},
                    [&o](const std::string& c) { return lower(c) == lower(o.columns[2]); });
    if (exact != std::string::npos) {
        columns.time = exact;
        return columns;
    }
    if (given(o.columns[2], "time")) {
        fail(file, {header.line, 1},
             "no time column '" + shown(o.columns[2]) + "' in the header (--columns)");
    }
    columns.time = std::string::npos;
    for (std::size_t j = 0; j < header.cells.size(); ++j) {
        if (j == columns.course || j == columns.replicate) continue;
        if (names_time_loosely(header.cells[j].text, o)) {
            columns.time = j;
            break;
        }
    }
    if (columns.time != std::string::npos) return columns;
    for (std::size_t j = 0; j < header.cells.size(); ++j) {
        if (j != columns.course && j != columns.replicate) {
            columns.time = j;
            break;
        }
    }
    if (columns.time == std::string::npos)
        fail(file, {header.line, 1}, "the header names no time column");
    return columns;
}

// Time points in rows with a course column, a replicate column or both: each run of rows of
// one course (and replicate) is one course (replicate); a course or a replicate whose rows are
// not together is refused. The genes are the other columns.
void read_labelled_rows(const fs::path& file,
                        FieldReader& fields,
                        const Header& header,
                        const RowColumns& columns,
                        CourseList& courses,
                        MemoryBudget& budget) {
    const std::size_t width = header.cells.size();
    std::vector<std::size_t> genes;
    for (std::size_t j = 0; j < width; ++j) {
        if (j == columns.course || j == columns.replicate || j == columns.time) continue;
        check_name(file, header.cells[j].text, {header.line, static_cast<int>(j) + 1});
        append(genes, j, budget);
    }
    const std::size_t n = genes.size();
    if (n == 0) fail(file, {header.line, 1}, "the header names no genes");
    std::vector<Role> roles(width, Role::kValue);
    if (columns.course != std::string::npos) roles[columns.course] = Role::kLabel;
    if (columns.replicate != std::string::npos) roles[columns.replicate] = Role::kReplicate;
    roles[columns.time] = Role::kTime;
    RowReader row(std::move(roles), budget);
    const int time_column = static_cast<int>(columns.time) + 1;

    // Where each course (replicate of the current course) began, to refuse its rows' return.
    std::unordered_map<std::string, long long> course_lines;
    std::unordered_map<std::string, long long> replicate_lines;
    std::size_t k = 0;
    bool first = true;
    do {
        const long long line = fields.line();
        budget.at(file, line);
        row.read(fields);
        row.check_width(file, line);
        row.check_numbers(file, line);
        const bool has_course = columns.course != std::string::npos;
        const bool has_replicate = columns.replicate != std::string::npos;
        if (has_course && row.label().empty())
            fail(file, {line, static_cast<int>(columns.course) + 1}, "a row without a course");
        if (has_replicate && row.replicate().empty()) {
            fail(file, {line, static_cast<int>(columns.replicate) + 1},
                 "a row without a replicate");
        }
        const bool new_course = first || (has_course && row.label() != courses.all[k].label);
        const bool new_replicate =
            !new_course && has_replicate && row.replicate() != courses.all[k].replicate;
        if (new_course) {
            auto [at, added] = course_lines.try_emplace(row.label(), line);
            if (!added) {
                fail(file, {line, static_cast<int>(columns.course) + 1},
                     "the rows of course " + shown(row.label()) +
                         " are not together: it began "
                         "on line " +
                         std::to_string(at->second) +
                         " and another course came between; keep each course's rows together");
            }
            budget.take(kMapEntryBytes + 2 * heap_bytes(row.label()));
            replicate_lines.clear();
        }
        if (new_course || new_replicate) {
            auto [at, added] = replicate_lines.try_emplace(row.replicate(), line);
            if (!added) {
                fail(file, {line, static_cast<int>(columns.replicate) + 1},
                     "the rows of replicate " + shown(row.replicate()) + " of course " +
                         shown(courses.all[k].label) + " are not together: it began on line " +
                         std::to_string(at->second) + " and another replicate came between");
            }
            budget.take(kMapEntryBytes + 2 * heap_bytes(row.replicate()));
            k = courses.begin(file, {line, 1}, Arrangement::kTimeRows, !new_course);
            RawCourse& c = courses.all[k];
            c.label = row.label();
            c.replicate = row.replicate();
            c.labelled_replicate = has_replicate;
            budget.take(heap_bytes(c.label) + heap_bytes(c.replicate));
            if (c.kept)
                name_genes(
                    file, header, n, [&](std::size_t i) { return genes[i]; }, c, budget);
        }
        first = false;
        RawCourse& c = courses.all[k];
        if (c.kept) {
            append(c.t, row.number(columns.time), budget);
            append(c.t_places, Place{line, time_column}, budget);
            for (std::size_t i = 0; i < n; ++i) append(c.v, row.number(genes[i]), budget);
        }
    } while (fields.next_record());
    budget.give_back(bytes_of(genes));
}

// Long tables: one value per row, in columns named by options.columns (gene, course, time,
// value), in any order and beside other columns, each named once, and perhaps a replicate
// column. Courses in order of first appearance, genes in order of first appearance within each
// course, times sorted; each replicate of a course is a course of the list, of the same group.
void read_long(const fs::path& file,
               FieldReader& fields,
               const Header& header,
               const TableOptions& options,
               CourseList& courses,
               MemoryBudget& budget) {
    const std::array<std::string, 4>& columns = options.columns;
    std::array<std::size_t, 4> at_column{};
    for (std::size_t k = 0; k < 4; ++k) {
        const std::string wanted = lower(columns[k]);
        std::size_t found = header.cells.size();
        for (std::size_t j = 0; j < header.cells.size(); ++j) {
            if (lower(header.cells[j].text) != wanted) continue;
            if (found < header.cells.size()) {
                fail(file, {header.line, static_cast<int>(j) + 1},
                     "columns " + std::to_string(found + 1) + " and " + std::to_string(j + 1) +
                         " are both named '" + shown(columns[k]) +
                         "'; rename one, or name the columns to read with --columns");
            }
            found = j;
        }
        if (found == header.cells.size()) {
            fail(file, {header.line, 1},
                 "no column '" + shown(columns[k]) +
                     "' in the header (--columns names the gene, course, time and value "
                     "columns)");
        }
        for (std::size_t m = 0; m < k; ++m) {
            if (at_column[m] == found) {
                fail(file, {header.line, static_cast<int>(found) + 1},
                     "--columns names column '" + shown(header.cells[found].text) +
                         "' twice; the gene, course, time and value columns must differ");
            }
        }
        at_column[k] = found;
    }
    const std::size_t replicate_column = find_column(
        file, header, "replicate", {at_column[0], at_column[1], at_column[2], at_column[3]},
        [&options](const std::string& c) { return names_replicate(c, options); });
    if (lower(options.replicate_column) != "replicate" && replicate_column == std::string::npos) {
        fail(file, {header.line, 1},
             "no replicate column '" + shown(options.replicate_column) +
                 "' in the header (--columns)");
    }
    const std::size_t width = header.cells.size();
    std::vector<Role> roles(width, Role::kSkip);
    roles[at_column[0]] = Role::kName;
    roles[at_column[1]] = Role::kLabel;
    roles[at_column[2]] = Role::kTime;
    roles[at_column[3]] = Role::kValue;
    if (replicate_column != std::string::npos) roles[replicate_column] = Role::kReplicate;
    RowReader row(std::move(roles), budget);

    struct Entry {
        std::uint32_t course;  // in labels
        std::uint32_t gene;
        double t;
        double v;
        long long line;
    };
    // One per course and replicate.
    struct Label {
        std::string text;
        std::size_t course;  // in courses.all
        std::unordered_map<std::string, std::uint32_t> genes;
    };
    std::vector<Label> labels;
    // Course label -> its group and its replicates' labels.
    struct Group {
        std::size_t group = 0;
        std::unordered_map<std::string, std::uint32_t> replicates;
    };
    std::unordered_map<std::string, Group> label_index;
    std::vector<Entry> entries;
    auto place = [&at_column](long long line, std::size_t k) {
        return Place{line, static_cast<int>(at_column[k]) + 1};
    };
    do {
        const long long line = fields.line();
        budget.at(file, line);
        row.read(fields);
        row.check_width(file, line);
        check_name(file, row.name(), place(line, 0));
        if (row.label().empty()) fail(file, place(line, 1), "a row without a course");
        if (replicate_column != std::string::npos && row.replicate().empty()) {
            fail(file, {line, static_cast<int>(replicate_column) + 1}, "a row without a replicate");
        }
        row.check_numbers(file, line);
        auto [group, new_group] = label_index.try_emplace(row.label());
        auto [known, new_label] = group->second.replicates.try_emplace(
            row.replicate(), static_cast<std::uint32_t>(labels.size()));
        if (new_label) {
            budget.take(2 * kMapEntryBytes + 2 * heap_bytes(row.label()) +
                        2 * heap_bytes(row.replicate()));
            const std::size_t k =
                new_group ? courses.begin(file, {line, 1}, Arrangement::kValueRows)
                          : courses.begin_replicate(file, {line, 1}, group->second.group);
            RawCourse& c = courses.all[k];
            if (new_group) group->second.group = c.group;
            c.label = row.label();
            c.replicate = row.replicate();
            c.labelled_replicate = replicate_column != std::string::npos;
            append(labels, Label{row.label(), k, {}}, budget);
        }
        Label& label = labels[known->second];
        RawCourse& c = courses.all[label.course];
        if (!c.kept) continue;
        auto [gene, new_gene] =
            label.genes.try_emplace(row.name(), static_cast<std::uint32_t>(c.names.size()));
        if (new_gene) {
            if (c.names.size() == static_cast<std::size_t>(kMaxTableGenes))
                too_many_genes(file, place(line, 0));
            budget.take(kMapEntryBytes + 2 * heap_bytes(row.name()));
            append(c.names, row.name(), budget);
            append(c.name_places, place(line, 0), budget);
        }
        append(entries,
               Entry{known->second, gene->second, row.number(at_column[2]),
                     row.number(at_column[3]), line},
               budget);
    } while (fields.next_record());

    // In course, gene and time order; rows of equal keys in file order.
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        if (a.course != b.course) return a.course < b.course;
        if (a.gene != b.gene) return a.gene < b.gene;
        if (a.t != b.t) return a.t < b.t;
        return a.line < b.line;
    });
    // The second value for a gene and time that comes first in the file.
    const Entry* second = nullptr;
    for (std::size_t e = 1; e < entries.size(); ++e) {
        const Entry& a = entries[e - 1];
        const Entry& b = entries[e];
        if (a.course == b.course && a.gene == b.gene && a.t == b.t &&
            (second == nullptr || b.line < second->line))
            second = &b;
    }
    if (second != nullptr) {
        const Label& label = labels[second->course];
        fail(file, place(second->line, 3),
             "a second value for gene " + shown(courses.all[label.course].names[second->gene]) +
                 " at time " + number_text(second->t) + " of course " + shown(label.text) +
                 (replicate_column != std::string::npos
                      ? ", replicate " + shown(courses.all[label.course].replicate)
                      : std::string()));
    }

    // Every gene of a course needs a value at every time point of the course.
    std::size_t e = 0;
    std::vector<double> times;
    for (std::uint32_t l = 0; l < labels.size(); ++l) {
        RawCourse& c = courses.all[labels[l].course];
        if (!c.kept) continue;
        const std::size_t begin = e;
        while (e < entries.size() && entries[e].course == l) ++e;
        times.clear();
        for (std::size_t m = begin; m < e; ++m) append(times, entries[m].t, budget);
        // -0 before 0, so that the one kept of the two is the same whatever the row order.
        std::sort(times.begin(), times.end(), [](double a, double b) {
            return a < b || (a == b && std::signbit(a) && !std::signbit(b));
        });
        times.erase(std::unique(times.begin(), times.end()), times.end());
        const std::size_t T = times.size();
        const std::size_t n = c.names.size();
        c.value_column = static_cast<int>(at_column[3]) + 1;
        for (double t : times) {
            append(c.t, t, budget);
            append(c.t_places, place(std::numeric_limits<long long>::max(), 2), budget);
        }
        budget.take(static_cast<std::uint64_t>(n) * T * (sizeof(double) + sizeof(long long)));
        c.v.reserve(n * T);
        c.lines.reserve(n * T);
        std::size_t m = begin;
        for (std::uint32_t i = 0; i < n; ++i) {
            for (std::size_t j = 0; j < T; ++j) {
                if (m == e || entries[m].gene != i || entries[m].t != times[j]) {
                    fail(file, c.name_places[i],
                         "gene " + shown(c.names[i]) + " has no row for time " +
                             number_text(times[j]) + " of course " + shown(labels[l].text) +
                             (c.labelled_replicate ? ", replicate " + shown(c.replicate) : ""));
                }
                c.v.push_back(entries[m].v);
                c.lines.push_back(entries[m].line);
                c.t_places[j].line = std::min(c.t_places[j].line, entries[m].line);
                ++m;
            }
        }
    }
    budget.give_back(bytes_of(entries) + bytes_of(times));
}

bool header_names_time(const Field& cell) { return lower(cell.text) == "time"; }

// The layout and, for a wide table, the orientation, as the options give them or as detected
// from the header and the first field of the first row (null for a table without rows).
TableFormat format_of(const Header& header,
                      const Field* first_field,
                      char delimiter,
                      const TableOptions& options) {
    // A header of numbers after its first field is one of time points ("gene,0,1,2"), unless
    // the first column is named time and the rows start with numbers: then the numbers are
    // gene IDs ("time,7157,7158" over rows "0,...") and the rows hold the time points.
    bool header_of_numbers = header.cells.size() > 1;
    for (std::size_t j = 1; j < header.cells.size(); ++j)
        header_of_numbers = header_of_numbers && to_number(header.cells[j].text).has_value();
    const bool rows_start_with_numbers =
        first_field != nullptr && to_number(first_field->text).has_value();
    const bool genes_in_rows =
        header_of_numbers && !(header_names_time(header.cells.front()) && rows_start_with_numbers);

    TableFormat format;
    format.delimiter = delimiter;
    format.layout = options.layout;
    if (format.layout == Layout::kDetect) {
        std::size_t named = 0;
        for (const std::string& column : options.columns) {
            for (const Field& cell : header.cells)
                if (lower(cell.text) == lower(column)) {
                    ++named;
                    break;
                }
        }
        // DREAM files spell their first column "Time", whatever separates the fields.
        if (named == options.columns.size()) {
            format.layout = Layout::kLong;
        } else if (given_time_count(options) > 0 ||
                   (header.cells.front().text == "Time" && !genes_in_rows)) {
            format.layout = Layout::kDream;
        } else {
            format.layout = Layout::kWide;
        }
    }
    if (format.layout == Layout::kWide) {
        format.orientation = options.orientation;
        if (format.orientation == Orientation::kDetect)
            format.orientation =
                genes_in_rows ? Orientation::kGenesInRows : Orientation::kTimesInRows;
    }
    return format;
}

// One table into courses (appended to courses); scale receives the table's scale.
void read_one(const fs::path& file,
              TableText& text,
              const TableOptions& options,
              Scale& scale,
              CourseList& courses,
              MemoryBudget& budget) {
    budget.at(file, 1);
    const char delimiter = options.delimiter ? options.delimiter : detect_delimiter(text);
    FieldReader fields(text, file, delimiter);
    const Header header = read_header(file, fields, budget);
    const std::size_t given = given_time_count(options);
    const bool has_rows = fields.next_record();
    const TableFormat format =
        format_of(header, has_rows ? &fields.first_field() : nullptr, delimiter, options);
    const Layout layout = format.layout;
    if (layout == Layout::kDream && scale == Scale::kUnset) scale = Scale::kLinear;
    if (scale == Scale::kUnset) {
        fail(file, {header.line, 1},
             "say what the values are with --scale linear|log2|ln|log10 (only DREAM "
             "time-series files are linear without it)");
    }
    if (!has_rows) fail(file, {header.line + 1, 1}, "the table has no rows of values");

    switch (layout) {
        case Layout::kLong:
            read_long(file, fields, header, options, courses, budget);
            break;
        case Layout::kDream: {
            const bool time_column = header_names_time(header.cells.front());
            if (time_column && given > 0) {
                fail(file, {header.line, 1},
                     "the table has a time column; leave out --times and --interval");
            }
            if (!time_column && given == 0) {
                fail(file, {header.line, 1},
                     "the table has no time column: give --times or --interval with --points");
            }
            read_times_in_rows(file, fields, header, time_column, true, options, courses, budget);
            break;
        }
        case Layout::kWide:
        case Layout::kDetect: {
            if (format.orientation == Orientation::kGenesInRows) {
                read_genes_in_rows(file, fields, header, courses, budget);
                break;
            }
            const RowColumns columns = row_columns(file, header, options);
            if (columns.labelled()) {
                read_labelled_rows(file, fields, header, columns, courses, budget);
            } else {
                read_times_in_rows(file, fields, header, true, false, options, courses, budget);
            }
            break;
        }
    }
    budget.give_back(header.bytes);
}

// Each course at most once: a course picked twice would count twice in the network.
void check_picks(const TableOptions& options) {
    std::vector<std::pair<int, int>> ranges = options.courses;
    std::sort(ranges.begin(), ranges.end());
    for (std::size_t r = 1; r < ranges.size(); ++r) {
        if (ranges[r].first <= ranges[r - 1].second) {
            throw TableError("--courses names course " + std::to_string(ranges[r].first) +
                             " twice; name each course once");
        }
    }
}

// One replicate: the points js (ascending) of course all[raw], or all its points (whole, the
// course without replicates, which costs nothing more).
struct Part {
    std::size_t raw = 0;
    bool whole = true;
    std::vector<std::size_t> js;

    std::size_t size_of(const RawCourse& c) const { return whole ? c.t.size() : js.size(); }
    std::size_t j(std::size_t m) const { return whole ? m : js[m]; }
};

// A course as the engines take it: one part, or the replicates of a course to be averaged.
struct OutCourse {
    const RawCourse* first = nullptr;  // its file and start, for messages
    Place start;
    std::vector<Part> parts;
};

// Where a replicate begins: its course's start, or its first point when the course holds
// others.
Place start_of(const RawCourse& c, const Part& part) {
    return part.whole || part.js.empty() ? c.start : c.t_places[part.js.front()];
}

// Course c split into its replicates: without a replicate column the k-th point at a time
// belongs to replicate k ("gene,0,0,10,10" holds two replicates of the times 0 and 10). With
// one, a time that comes twice is refused.
std::vector<Part> split_replicates(const std::vector<RawCourse>& all,
                                   std::size_t k,
                                   MemoryBudget& budget) {
    const RawCourse& c = all[k];
    const std::size_t T = c.t.size();
    bool increasing = true;
    for (std::size_t j = 1; j < T && increasing; ++j) increasing = c.t[j] > c.t[j - 1];
    if (increasing) return {Part{k, true, {}}};
    budget.take(static_cast<std::uint64_t>(T) * (2 * sizeof(std::size_t) + sizeof(std::uint32_t)));
    std::vector<std::size_t> by_time(T);
    for (std::size_t j = 0; j < T; ++j) by_time[j] = j;
    std::stable_sort(by_time.begin(), by_time.end(),
                     [&c](std::size_t a, std::size_t b) { return c.t[a] < c.t[b]; });
    std::vector<std::uint32_t> occurrence(T, 0);
    std::uint32_t most = 0;
    for (std::size_t m = 1; m < T; ++m) {
        if (c.t[by_time[m]] != c.t[by_time[m - 1]]) continue;
        occurrence[by_time[m]] = occurrence[by_time[m - 1]] + 1;
        most = std::max(most, occurrence[by_time[m]]);
    }
    if (most > 0 && c.labelled_replicate) {
        std::size_t j = 0;
        while (occurrence[j] == 0) ++j;
        fail(c.file, c.t_places[j],
             "time " + number_text(c.t[j]) + " comes twice in replicate " + shown(c.replicate) +
                 (c.label.empty() ? "" : " of course " + shown(c.label)) +
                 "; time points must increase strictly within a replicate");
    }
    if (most == 0) {
        budget.give_back(static_cast<std::uint64_t>(T) *
                         (2 * sizeof(std::size_t) + sizeof(std::uint32_t)));
        return {Part{k, true, {}}};
    }
    const std::size_t count = static_cast<std::size_t>(most) + 1;
    budget.take(static_cast<std::uint64_t>(count) * (sizeof(Part) + sizeof(std::size_t)));
    std::vector<Part> parts(count);
    for (Part& part : parts) {
        part.raw = k;
        part.whole = false;
    }
    std::vector<std::size_t> sizes(parts.size(), 0);
    for (std::uint32_t r : occurrence) ++sizes[r];
    for (std::size_t r = 0; r < parts.size(); ++r) parts[r].js.reserve(sizes[r]);
    for (std::size_t j = 0; j < T; ++j) parts[occurrence[j]].js.push_back(j);
    // What stays taken: the points of the parts (T indices) and the parts themselves, which the
    // caller gives back once it has moved them.
    budget.give_back(static_cast<std::uint64_t>(T) * (sizeof(std::size_t) + sizeof(std::uint32_t)) +
                     count * sizeof(std::size_t));
    return parts;
}

// What a course is called in messages: its label, else its number.
std::string course_name(const RawCourse& c) {
    return c.label.empty() ? "course " + std::to_string(c.group + 1) : "course " + shown(c.label);
}

// The courses as the engines take them: each course's replicates averaged (or, without
// replicates, the course itself), or each replicate a course, course by course.
std::vector<OutCourse> handle_replicates(const std::vector<RawCourse>& all,
                                         const TableOptions& options,
                                         std::size_t groups,
                                         ExpressionSet& set,
                                         MemoryBudget& budget) {
    std::vector<OutCourse> by_group(groups);
    budget.take(static_cast<std::uint64_t>(groups) * sizeof(OutCourse));
    for (std::size_t k = 0; k < all.size(); ++k) {
        OutCourse& group = by_group[all[k].group];
        if (group.first == nullptr) {
            group.first = &all[k];
            group.start = all[k].start;
        }
        if (!all[k].kept) continue;
        std::vector<Part> parts = split_replicates(all, k, budget);
        for (Part& part : parts) append(group.parts, std::move(part), budget);
        if (parts.size() > 1) budget.give_back(bytes_of(parts));
    }
    const OutCourse* first_replicated = nullptr;
    for (const OutCourse& group : by_group) {
        if (group.parts.size() < 2) continue;
        if (first_replicated == nullptr) first_replicated = &group;
        ++set.replicated_courses;
        set.replicate_count += static_cast<long long>(group.parts.size());
    }
    if (first_replicated == nullptr) return by_group;
    set.replicates = options.replicates;
    if (options.replicates == Replicates::kUnset) {
        // Where the second replicate begins: its course's start, or its first point.
        const Part& second = first_replicated->parts[1];
        const RawCourse& c = all[second.raw];
        fail(c.file, start_of(c, second),
             course_name(c) + " holds " + std::to_string(first_replicated->parts.size()) +
                 " replicates (the second starts here); say --replicates mean to average them at "
                 "each time point, or --replicates courses to take each as a course of its own");
    }
    if (options.replicates == Replicates::kMean) return by_group;
    std::vector<OutCourse> each;
    for (OutCourse& group : by_group) {
        for (Part& part : group.parts) {
            OutCourse course;
            course.first = &all[part.raw];
            course.start = start_of(all[part.raw], part);
            append(course.parts, std::move(part), budget);
            append(each, std::move(course), budget);
        }
    }
    return each;
}

// The picked courses in the order given (indices into out), 1-based over all courses of all
// tables once the replicates are handled; at most max_courses of them.
std::vector<std::size_t> pick(const std::vector<OutCourse>& out, const TableOptions& options) {
    std::vector<std::size_t> picked;
    long long count = 0;
    if (options.courses.empty()) {
        count = static_cast<long long>(out.size());
    } else {
        for (const auto& [first, last] : options.courses) {
            if (last > static_cast<long long>(out.size())) {
                throw TableError("--courses " + std::to_string(first) + "-" + std::to_string(last) +
                                 ": the tables hold " + std::to_string(out.size()) + " courses" +
                                 (options.replicates == Replicates::kCourses
                                      ? ", each replicate counted as a course"
                                      : ""));
            }
            count += static_cast<long long>(last) - first + 1;
        }
    }
    if (count == 0) throw TableError("no table given");
    const long long wanted = std::min<long long>(count, options.max_courses + 1LL);
    if (options.courses.empty()) {
        for (long long k = 0; k < wanted; ++k) picked.push_back(static_cast<std::size_t>(k));
    } else {
        for (const auto& [first, last] : options.courses) {
            for (long long k = first; k <= last && static_cast<long long>(picked.size()) < wanted;
                 ++k)
                picked.push_back(static_cast<std::size_t>(k - 1));
        }
    }
    if (count > options.max_courses) {
        const OutCourse& extra = out[picked.back()];
        fail(extra.first->file, extra.start,
             "course " + std::to_string(options.max_courses + 1) + " of " + std::to_string(count) +
                 ": a data file holds at most " + std::to_string(options.max_courses) + " courses" +
                 (options.replicates == Replicates::kCourses
                      ? " (with --replicates courses each replicate is a course)"
                      : "") +
                 "; pick some with --courses (say --courses 1-" +
                 std::to_string(options.max_courses) + ")");
    }
    return picked;
}

void check_times(const RawCourse& c, const Part& part) {
    for (std::size_t m = 1; m < part.size_of(c); ++m) {
        const double h = c.t[part.j(m)] - c.t[part.j(m - 1)];
        if (!(h > 0.0) || !std::isnormal(h)) {
            fail(c.file, c.t_places[part.j(m)], "time points must increase strictly");
        }
    }
}

// Finds for each gene of the set its row in course c (c.order); every gene must be there
// exactly once.
void match_genes(RawCourse& c,
                 const std::vector<std::string>& names,
                 const std::unordered_map<std::string, std::size_t>& index,
                 MemoryBudget& budget) {
    const std::size_t n = names.size();
    budget.take(static_cast<std::uint64_t>(n) * sizeof(std::size_t));
    c.order.assign(n, SIZE_MAX);
    for (std::size_t i = 0; i < c.names.size(); ++i) {
        const auto it = index.find(c.names[i]);
        if (it == index.end()) {
            fail(c.file, c.name_places[i],
                 "gene " + shown(c.names[i]) + " is not among the genes of the first course");
        }
        if (c.order[it->second] != SIZE_MAX) {
            fail(c.file, c.name_places[i], "gene " + shown(c.names[i]) + " appears twice");
        }
        c.order[it->second] = i;
    }
    for (std::size_t i = 0; i < n; ++i) {
        if (c.order[i] == SIZE_MAX) {
            fail(c.file, c.start,
                 "the course lacks gene " + shown(names[i]) + " of the first course");
        }
    }
}

// log2 of a value as the table holds it.
double to_log2(double v, Scale scale) {
    switch (scale) {
        case Scale::kLinear:
            return std::log2(v);
        case Scale::kLn:
            return v / std::numbers::ln2;
        case Scale::kLog10:
            return v * (std::numbers::ln10 / std::numbers::ln2);
        case Scale::kLog2:
        case Scale::kUnset:
            break;
    }
    return v;
}

// The picked courses of all tables, checked, in the first course's gene order and on the
// base-2 log scale. Replicates averaged: at each time point of any replicate, the mean of 2^x
// over the replicates that hold a value there, as log2 again; a missing value is left out of
// the mean, and a time point that no replicate holds a value at is missing.
ExpressionSet finish(std::vector<RawCourse>& all,
                     std::size_t groups,
                     const TableOptions& options,
                     Scale scale,
                     MemoryBudget& budget) {
    ExpressionSet set;
    set.scale = scale;
    if (all.empty()) throw TableError("no table given");
    std::vector<OutCourse> out = handle_replicates(all, options, groups, set, budget);
    const std::vector<std::size_t> picked = pick(out, options);
    RawCourse& front = all[out[picked.front()].parts.front().raw];
    budget.at(front.file, front.start.line);
    set.names = front.names;
    for (const std::string& name : set.names) budget.take(sizeof(std::string) + heap_bytes(name));
    if (set.names.size() > static_cast<std::size_t>(kMaxTableGenes)) {
        fail(front.file, front.start,
             std::to_string(set.names.size()) + " genes; at most " +
                 std::to_string(kMaxTableGenes) + " can be inferred");
    }
    std::unordered_map<std::string, std::size_t> index;
    budget.take(set.names.size() * kMapEntryBytes);
    for (std::size_t i = 0; i < set.names.size(); ++i) index.emplace(set.names[i], i);
    // uses[k]: picked courses still to be made of all[k], which gives its values back after the
    // last.
    budget.take(static_cast<std::uint64_t>(all.size()) * sizeof(std::size_t));
    std::vector<std::size_t> uses(all.size(), 0);
    for (std::size_t k : picked) {
        const OutCourse& course = out[k];
        // Averaged replicates are counted once their times are joined.
        if (course.parts.size() <= 1) {
            const std::size_t T = course.parts.empty()
                                      ? 0
                                      : course.parts.front().size_of(all[course.parts.front().raw]);
            if (T < 2) {
                fail(course.first->file, course.start,
                     "a course needs at least 2 time points, this one has " + std::to_string(T));
            }
        }
        for (const Part& part : course.parts) {
            RawCourse& c = all[part.raw];
            budget.at(c.file, c.start.line);
            check_times(c, part);
            if (uses[part.raw]++ == 0) match_genes(c, set.names, index, budget);
        }
    }
    const std::size_t n = set.names.size();

    // Values that are not positive on the linear scale have no logarithm: all refused at once
    // (count and first place), or all replaced by the floor.
    if (scale == Scale::kLinear) {
        long long count = 0;
        const RawCourse* first_course = nullptr;
        Place first;
        for (std::size_t k = 0; k < all.size(); ++k) {
            if (uses[k] == 0) continue;
            RawCourse& c = all[k];
            for (std::size_t i = 0; i < n; ++i) {
                for (std::size_t j = 0; j < c.t.size(); ++j) {
                    double& v = c.v[c.index(c.order[i], j)];
                    if (!(v <= 0.0)) continue;
                    if (count++ == 0) {
                        first_course = &c;
                        first = c.place(c.order[i], j);
                    }
                    if (options.floor) v = *options.floor;
                }
            }
        }
        if (count > 0 && !options.floor) {
            fail(first_course->file, first,
                 std::to_string(count) + (count == 1 ? " value is" : " values are") +
                     " 0 or below, which has no logarithm (this is the first); --floor V "
                     "replaces them by V");
        }
        set.floored = count;
    }

    for (std::size_t k : picked) {
        OutCourse& course = out[k];
        const std::vector<Part>& parts = course.parts;
        budget.at(course.first->file, course.first->start.line);
        // The time points: the part's, or those of any replicate, each with the first part that
        // holds it and where (for messages); slots[p][m]: the time point of point m of part p.
        const bool single = parts.size() == 1;
        RawCourse& only = all[parts.front().raw];
        std::vector<double> joined;
        std::vector<std::vector<std::size_t>> slots;
        std::vector<std::size_t> source_part;
        std::vector<std::size_t> source_j;
        std::uint64_t slot_bytes = 0;
        if (!single) {
            for (const Part& part : parts)
                for (std::size_t m = 0; m < part.size_of(all[part.raw]); ++m)
                    append(joined, all[part.raw].t[part.j(m)], budget);
            std::sort(joined.begin(), joined.end());
            joined.erase(std::unique(joined.begin(), joined.end()), joined.end());
        }
        const std::size_t T = single ? parts.front().size_of(only) : joined.size();
        if (T < 2) {
            fail(course.first->file, course.start,
                 "a course needs at least 2 time points, this one has " + std::to_string(T));
        }
        if (!single) {
            slot_bytes = static_cast<std::uint64_t>(T) * 2 * sizeof(std::size_t) +
                         parts.size() * sizeof(std::vector<std::size_t>);
            for (const Part& part : parts)
                slot_bytes += part.size_of(all[part.raw]) * sizeof(std::size_t);
            budget.take(slot_bytes);
            source_part.assign(T, SIZE_MAX);
            source_j.assign(T, 0);
            slots.resize(parts.size());
            for (std::size_t p = 0; p < parts.size(); ++p) {
                const RawCourse& c = all[parts[p].raw];
                slots[p].resize(parts[p].size_of(c));
                std::size_t s = 0;
                for (std::size_t m = 0; m < parts[p].size_of(c); ++m) {
                    const std::size_t j = parts[p].j(m);
                    while (joined[s] != c.t[j]) ++s;
                    slots[p][m] = s;
                    if (source_part[s] == SIZE_MAX) {
                        source_part[s] = p;
                        source_j[s] = j;
                    }
                }
            }
        }
        const auto time = [&](std::size_t s) {
            return single ? only.t[parts.front().j(s)] : joined[s];
        };
        const auto place = [&](std::size_t i, std::size_t s) {
            if (single)
                return std::pair<const RawCourse*, Place>{
                    &only, only.place(only.order[i], parts.front().j(s))};
            const RawCourse& c = all[parts[source_part[s]].raw];
            return std::pair<const RawCourse*, Place>{&c, c.place(c.order[i], source_j[s])};
        };
        for (std::size_t s = 1; s < T && !single; ++s) {
            if (!std::isnormal(joined[s] - joined[s - 1])) {
                const RawCourse& c = all[parts[source_part[s]].raw];
                fail(c.file, c.t_places[source_j[s]],
                     "time points of the replicates lie too close together to tell apart");
            }
        }
        // x of gene i at point j of c, checked to have a linear level.
        const auto log2_value = [scale](const RawCourse& c, std::size_t i, std::size_t j) {
            const double v = c.v[c.index(c.order[i], j)];
            if (std::isnan(v)) return kMissing;
            const double x = to_log2(v, scale);
            if (!std::isfinite(std::exp2(x))) {
                fail(c.file, c.place(c.order[i], j),
                     "the value is too large for the linear scale of the inference");
            }
            return x;
        };
        TimeCourse made;
        budget.take(static_cast<std::uint64_t>(n) * T * sizeof(double));
        made.x.resize(n * T);
        if (single) {
            for (std::size_t i = 0; i < n; ++i)
                for (std::size_t s = 0; s < T; ++s)
                    made.x[i * T + s] = log2_value(only, i, parts.front().j(s));
        } else {
            // The mean of 2^x as m + log2(mean of 2^(x - m)), m the largest x: no level
            // overflows or underflows to 0 on the way. Parts in order, so that the sums are
            // the same on every run.
            const std::uint64_t sum_bytes =
                static_cast<std::uint64_t>(n) * T * (sizeof(double) + sizeof(std::uint32_t));
            budget.take(sum_bytes);
            std::vector<double> sum(n * T, 0.0);
            std::vector<std::uint32_t> count(n * T, 0);
            std::fill(made.x.begin(), made.x.end(), -std::numeric_limits<double>::infinity());
            for (int pass = 0; pass < 2; ++pass) {
                for (std::size_t p = 0; p < parts.size(); ++p) {
                    const RawCourse& c = all[parts[p].raw];
                    for (std::size_t m = 0; m < slots[p].size(); ++m) {
                        const std::size_t j = parts[p].j(m);
                        for (std::size_t i = 0; i < n; ++i) {
                            const double x = log2_value(c, i, j);
                            if (std::isnan(x)) continue;
                            const std::size_t at = i * T + slots[p][m];
                            if (pass == 0) {
                                made.x[at] = std::max(made.x[at], x);
                            } else {
                                sum[at] += std::exp2(x - made.x[at]);
                                ++count[at];
                            }
                        }
                    }
                }
            }
            for (std::size_t at = 0; at < made.x.size(); ++at)
                made.x[at] = count[at] > 0 ? made.x[at] + std::log2(sum[at] / count[at]) : kMissing;
            budget.give_back(sum_bytes);
        }
        bool last_use = false;  // of only, whose times then become the course's
        for (const Part& part : parts) {
            RawCourse& c = all[part.raw];
            if (--uses[part.raw] > 0) continue;
            last_use = true;
            budget.give_back(bytes_of(c.v));
            std::vector<double>().swap(c.v);
        }
        // Missing values: refused, or filled linearly in time on the base-2 log scale between
        // the nearest given values of the same gene in the same course. A course's first and
        // last values have no neighbour on one side and are never filled.
        for (std::size_t i = 0; i < n; ++i) {
            double* x = made.x.data() + i * T;
            for (std::size_t j = 0; j < T; ++j) {
                if (!std::isnan(x[j])) continue;
                const auto [c, where] = place(i, j);
                if (!options.fill_interpolate) {
                    long long missing = 0;
                    for (double value : made.x) missing += std::isnan(value) ? 1 : 0;
                    fail(c->file, where,
                         "missing value for gene " + shown(set.names[i]) + " (" +
                             std::to_string(missing) +
                             " in this course); --fill interpolate fills them within a course");
                }
                std::size_t next = j + 1;
                while (next < T && std::isnan(x[next])) ++next;
                if (j == 0 || next == T) {
                    fail(c->file, where,
                         "missing value for gene " + shown(set.names[i]) +
                             " at the start or end of a course, where it cannot be "
                             "interpolated");
                }
                const std::size_t prev = j - 1;
                for (std::size_t m = j; m < next; ++m) {
                    const double share = (time(m) - time(prev)) / (time(next) - time(prev));
                    x[m] = x[prev] + (x[next] - x[prev]) * share;
                    ++set.filled;
                }
                j = next;
            }
        }
        if (single && parts.front().whole && last_use) {
            made.t = std::move(only.t);
        } else if (single) {
            budget.take(static_cast<std::uint64_t>(T) * sizeof(double));
            made.t.resize(T);
            for (std::size_t s = 0; s < T; ++s) made.t[s] = time(s);
        } else {
            budget.give_back(slot_bytes);
            made.t = std::move(joined);
        }
        append(set.courses, std::move(made), budget);
    }
    return set;
}

std::uint64_t budget_of(const TableOptions& options) {
    return options.memory_budget > 0 ? options.memory_budget : inference::default_memory_budget();
}

}  // namespace

std::string_view scale_name(Scale scale) {
    switch (scale) {
        case Scale::kLinear:
            return "linear";
        case Scale::kLog2:
            return "log2";
        case Scale::kLn:
            return "ln";
        case Scale::kLog10:
            return "log10";
        case Scale::kUnset:
            break;
    }
    return "unset";
}

std::string replicates_text(const ExpressionSet& set) {
    if (set.replicates == Replicates::kUnset) return {};
    std::string text = std::to_string(set.replicate_count) + " replicates of " +
                       std::to_string(set.replicated_courses) +
                       (set.replicated_courses == 1 ? " course " : " courses ");
    return text + (set.replicates == Replicates::kMean ? "averaged at each time point"
                                                       : "taken each as a course");
}

TableFormat detect_format(const fs::path& file,
                          std::string_view text,
                          const TableOptions& options) {
    MemoryBudget budget(budget_of(options));
    budget.at(file, 1);
    TableText table(text, file);
    const char delimiter = options.delimiter ? options.delimiter : detect_delimiter(table);
    FieldReader fields(table, file, delimiter);
    const Header header = read_header(file, fields, budget);
    const bool has_rows = fields.next_record();
    return format_of(header, has_rows ? &fields.first_field() : nullptr, delimiter, options);
}

std::vector<PreviewRecord> preview_records(const fs::path& file,
                                           std::string_view text,
                                           char delimiter,
                                           std::size_t max_records) {
    // Records are read one by one, blank ones included, so that only those shown are split
    // (a quoted field may still run past them).
    MemoryBudget budget(inference::default_memory_budget());
    TableText table(text, file);
    FieldReader fields(table, file, delimiter, true);
    std::vector<PreviewRecord> preview;
    Field field;
    while (preview.size() < max_records && fields.next_record()) {
        budget.at(file, fields.line());
        PreviewRecord record{fields.line(), {}};
        while (fields.next_field(field, true)) {
            budget.take(sizeof(std::string) + heap_bytes(field.text));
            record.cells.push_back(field.text);
        }
        append(preview, std::move(record), budget);
    }
    return preview;
}

ExpressionSet read_table_texts(const std::vector<fs::path>& files,
                               const std::vector<std::string>& texts,
                               const TableOptions& options) {
    check_picks(options);
    MemoryBudget budget(budget_of(options));
    CourseList courses(options, budget);
    // Without --scale only DREAM files are read (all linear), so the scale is one for all.
    Scale scale = options.scale;
    for (std::size_t f = 0; f < files.size(); ++f) {
        scale = options.scale;
        TableText text(texts[f], files[f]);
        read_one(files[f], text, options, scale, courses, budget);
    }
    return finish(courses.all, courses.groups, options, scale, budget);
}

ExpressionSet read_tables(const std::vector<fs::path>& files,
                          const TableOptions& options,
                          inference::InputObserver* observer) {
    check_picks(options);
    for (std::size_t f = 0; f < files.size(); ++f) {
        for (std::size_t g = 0; g < f; ++g) {
            std::error_code ignored;
            if (fs::equivalent(files[g], files[f], ignored)) {
                throw TableError("file " + files[f].string() + ": the same file as " +
                                 files[g].string() + ", given before; give each table once");
            }
        }
    }
    MemoryBudget budget(budget_of(options));
    CourseList courses(options, budget);
    Scale scale = options.scale;
    for (const fs::path& file : files) {
        scale = options.scale;
        std::ifstream in = open_table(file);
        if (observer == nullptr) {
            TableText text(in, file);
            read_one(file, text, options, scale, courses, budget);
            continue;
        }
        inference::ObservedStreamBuf observed(*in.rdbuf(), file, *observer);
        std::istream observed_in(&observed);
        TableText text(observed_in, file);
        read_one(file, text, options, scale, courses, budget);
        observed.finish();
    }
    return finish(courses.all, courses.groups, options, scale, budget);
}

}  // namespace netrevia::table
