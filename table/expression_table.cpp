#include "table/expression_table.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <fstream>
#include <iterator>
#include <limits>
#include <map>
#include <numbers>
#include <unordered_map>

namespace netrevia::table {

namespace {

namespace fs = std::filesystem;

constexpr double kMissing = std::numeric_limits<double>::quiet_NaN();

[[noreturn]] void fail(const fs::path& file, Place at, const std::string& what) {
    throw TableError("file " + file.string() + ", line " + std::to_string(at.line) + ", column " +
                     std::to_string(at.column) + ": " + what);
}

struct Cell {
    std::string text;  // without quotes and surrounding blanks
    bool quoted = false;
};

// One line of the table (a quoted field may span several; line is where it starts).
struct Record {
    long long line = 0;
    std::vector<Cell> cells;
    bool blank() const { return cells.empty(); }
};

std::string trim(std::string_view s) {
    const std::size_t first = s.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    return std::string(s.substr(first, s.find_last_not_of(" \t") - first + 1));
}

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return s;
}

// Tab, then comma, then semicolon, whichever occurs first in that order of preference outside
// quotes on the first line that holds anything; a line with none is split at runs of blanks.
char detect_delimiter(std::string_view text) {
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = text.substr(start, end - start);
        if (!trim(line).empty() && trim(line) != "\r") {
            bool quoted = false;
            bool tab = false, comma = false, semicolon = false;
            for (char c : line) {
                if (c == '"') quoted = !quoted;
                if (quoted) continue;
                tab = tab || c == '\t';
                comma = comma || c == ',';
                semicolon = semicolon || c == ';';
            }
            return tab ? '\t' : comma ? ',' : semicolon ? ';' : ' ';
        }
        start = end + 1;
    }
    return ',';
}

// Splits the text into records. Fields may be quoted with " (a doubled quote stands for one;
// delimiters and line ends inside quotes belong to the field). A CR before LF is part of the
// line end. With delimiter ' ', runs of blanks and tabs separate fields. Empty fields at the end
// of a record stay; the caller decides against the header width.
std::vector<Record> split_records(const fs::path& file, std::string_view text, char delimiter) {
    std::vector<Record> records;
    long long line = 1;
    std::size_t i = 0;
    while (i < text.size()) {
        Record record;
        record.line = line;
        bool line_has_text = false;
        bool end_of_record = false;
        while (!end_of_record) {
            // One field.
            Cell cell;
            std::string raw;
            if (delimiter == ' ') {
                while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
            }
            std::size_t look = i;
            while (look < text.size() && (text[look] == ' ' || text[look] == '\t') &&
                   text[look] != delimiter)
                ++look;
            if (look < text.size() && text[look] == '"') {
                cell.quoted = true;
                const Place open{line, static_cast<int>(record.cells.size()) + 1};
                i = look + 1;
                for (;;) {
                    if (i >= text.size()) fail(file, open, "a quoted field is not closed");
                    if (text[i] == '"') {
                        if (i + 1 < text.size() && text[i + 1] == '"') {
                            raw += '"';
                            i += 2;
                            continue;
                        }
                        ++i;
                        break;
                    }
                    if (text[i] == '\n') ++line;
                    raw += text[i++];
                }
                // Blanks before the delimiter; with blank-separated fields they are it.
                while (delimiter != ' ' && i < text.size() && (text[i] == ' ' || text[i] == '\t') &&
                       text[i] != delimiter)
                    ++i;
                const bool separator = i < text.size() && (text[i] == delimiter ||
                                                           (delimiter == ' ' && text[i] == '\t'));
                if (i < text.size() && !separator && text[i] != '\n' &&
                    !(text[i] == '\r' && (i + 1 == text.size() || text[i + 1] == '\n'))) {
                    fail(file, {line, static_cast<int>(record.cells.size()) + 1},
                         "text after the closing quote of a field");
                }
                if (i < text.size() && text[i] == '\r') ++i;  // CR of a CR LF line end
                cell.text = raw;
                line_has_text = true;
            } else {
                while (i < text.size() && text[i] != '\n' && text[i] != delimiter &&
                       !(delimiter == ' ' && text[i] == '\t')) {
                    raw += text[i++];
                }
                if (!raw.empty() && raw.back() == '\r' && (i == text.size() || text[i] == '\n'))
                    raw.pop_back();
                cell.text = trim(raw);
                line_has_text = line_has_text || !cell.text.empty();
            }
            if (delimiter == ' ') {
                while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\r'))
                    ++i;
            }
            if (delimiter == ' ' && !cell.quoted && cell.text.empty()) {
                // Only trailing blanks: no field.
            } else {
                record.cells.push_back(std::move(cell));
            }
            if (i >= text.size() || text[i] == '\n') {
                end_of_record = true;
                if (i < text.size()) ++i;
                ++line;
            } else if (text[i] == delimiter) {
                ++i;
                line_has_text = true;  // a line of delimiters only is a row of empty fields
            }
        }
        if (!line_has_text) record.cells.clear();
        records.push_back(std::move(record));
    }
    return records;
}

// Drops empty unquoted fields beyond width (trailing delimiters).
void drop_trailing_empty(std::vector<Cell>& cells, std::size_t width) {
    while (cells.size() > width && !cells.back().quoted && cells.back().text.empty())
        cells.pop_back();
}

bool is_missing(const Cell& cell) {
    const std::string t = lower(cell.text);
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

double value_of(const fs::path& file, const Cell& cell, Place at) {
    if (is_missing(cell)) return kMissing;
    const std::optional<double> v = to_number(cell.text);
    if (!v) fail(file, at, "'" + cell.text + "' is not a number");
    return *v;
}

double time_of(const fs::path& file, const Cell& cell, Place at) {
    const std::optional<double> v = to_number(cell.text);
    if (!v) fail(file, at, "the time point '" + cell.text + "' is not a number");
    return *v;
}

// A course as read, before the genes are matched and the values converted. Missing values
// are NaN.
struct RawCourse {
    fs::path file;
    Place start;
    std::vector<std::string> names;
    std::vector<Place> name_places;
    std::vector<double> t;
    std::vector<Place> t_places;
    std::vector<double> v;  // n x T, gene-major
    std::vector<Place> v_places;
};

// Non-blank records; the first is the header.
std::vector<const Record*> content(const std::vector<Record>& records) {
    std::vector<const Record*> rows;
    for (const Record& r : records)
        if (!r.blank()) rows.push_back(&r);
    return rows;
}

// Names go into the data file and the name map: no control characters (tabs, line ends).
void check_name(const fs::path& file, const std::string& name, Place at) {
    if (trim(name).empty()) fail(file, at, "a gene without a name");
    for (char c : name) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
            fail(file, at, "the gene name holds a control character (a tab or line end)");
        }
    }
}

std::string number_text(double v) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, v);
    return std::string(buffer, result.ptr);
}

// genes in rows: "gene,t1,t2,..." then one row per gene.
RawCourse read_genes_in_rows(const fs::path& file, const std::vector<const Record*>& rows) {
    RawCourse c;
    c.file = file;
    const Record& header = *rows.front();
    c.start = {header.line, 1};
    const std::size_t width = header.cells.size();
    for (std::size_t j = 1; j < width; ++j) {
        const Place at{header.line, static_cast<int>(j) + 1};
        c.t.push_back(time_of(file, header.cells[j], at));
        c.t_places.push_back(at);
    }
    for (std::size_t r = 1; r < rows.size(); ++r) {
        std::vector<Cell> cells = rows[r]->cells;
        drop_trailing_empty(cells, width);
        if (cells.size() != width) {
            fail(file, {rows[r]->line, static_cast<int>(std::min(cells.size(), width)) + 1},
                 "the row has " + std::to_string(cells.size()) + " fields, the header " +
                     std::to_string(width));
        }
        c.names.push_back(cells[0].text);
        c.name_places.push_back({rows[r]->line, 1});
        check_name(file, cells[0].text, c.name_places.back());
        for (std::size_t j = 1; j < width; ++j) {
            const Place at{rows[r]->line, static_cast<int>(j) + 1};
            c.v.push_back(value_of(file, cells[j], at));
            c.v_places.push_back(at);
        }
    }
    return c;
}

// Time points in rows, gene names in the header. time_column: the first field of every row is
// the time. Returns the rows as one course per group: with split, a blank line or a time that
// does not increase starts a new course; points > 0 (no time column) cuts each group into
// courses of that many rows, whose times are given.
std::vector<RawCourse> read_times_in_rows(const fs::path& file,
                                          const std::vector<Record>& records,
                                          bool time_column,
                                          bool split,
                                          const std::vector<double>& given_times) {
    const std::vector<const Record*> rows = content(records);
    const Record& header = *rows.front();
    const std::size_t width = header.cells.size();
    const std::size_t first_gene = time_column ? 1 : 0;
    std::vector<std::string> names;
    std::vector<Place> name_places;
    for (std::size_t j = first_gene; j < width; ++j) {
        names.push_back(header.cells[j].text);
        name_places.push_back({header.line, static_cast<int>(j) + 1});
        check_name(file, names.back(), name_places.back());
    }
    const std::size_t n = names.size();

    // Group the rows: (record, time, place of the time).
    struct Row {
        const Record* record;
        std::vector<Cell> cells;
    };
    std::vector<std::vector<Row>> groups(1);
    bool after_header = false;
    for (const Record& record : records) {
        if (&record == &header) {
            after_header = true;
            continue;
        }
        if (!after_header) continue;
        if (record.blank()) {
            if (split && !groups.back().empty()) groups.emplace_back();
            continue;
        }
        std::vector<Cell> cells = record.cells;
        drop_trailing_empty(cells, width);
        if (cells.size() != width) {
            fail(file, {record.line, static_cast<int>(std::min(cells.size(), width)) + 1},
                 "the row has " + std::to_string(cells.size()) + " fields, the header " +
                     std::to_string(width));
        }
        if (split && time_column && !groups.back().empty()) {
            const Row& previous = groups.back().back();
            const double t_prev = time_of(file, previous.cells[0], {previous.record->line, 1});
            const double t_now = time_of(file, cells[0], {record.line, 1});
            if (t_now <= t_prev) groups.emplace_back();
        }
        groups.back().push_back({&record, std::move(cells)});
    }
    if (groups.back().empty()) groups.pop_back();
    if (groups.empty()) fail(file, {header.line + 1, 1}, "the table has no rows of values");

    std::vector<RawCourse> courses;
    for (const std::vector<Row>& group : groups) {
        const std::size_t T = time_column ? group.size() : given_times.size();
        if (!time_column && group.size() % T != 0) {
            fail(file, {group.back().record->line, 1},
                 "a course of " + std::to_string(group.size()) + " rows is not a whole number of " +
                     std::to_string(T) + " time points (--times, --points)");
        }
        for (std::size_t begin = 0; begin < group.size(); begin += T) {
            RawCourse c;
            c.file = file;
            c.start = {group[begin].record->line, 1};
            c.names = names;
            c.name_places = name_places;
            c.v.assign(n * T, kMissing);
            c.v_places.resize(n * T);
            for (std::size_t j = 0; j < T; ++j) {
                const Row& row = group[begin + j];
                if (time_column) {
                    const Place at{row.record->line, 1};
                    c.t.push_back(time_of(file, row.cells[0], at));
                    c.t_places.push_back(at);
                } else {
                    c.t.push_back(given_times[j]);
                    c.t_places.push_back({row.record->line, 1});
                }
                for (std::size_t i = 0; i < n; ++i) {
                    const Place at{row.record->line, static_cast<int>(first_gene + i) + 1};
                    c.v[i * T + j] = value_of(file, row.cells[first_gene + i], at);
                    c.v_places[i * T + j] = at;
                }
            }
            courses.push_back(std::move(c));
        }
    }
    return courses;
}

// Long tables: one value per row, in columns named by options.columns (gene, course, time,
// value), in any order and beside other columns. Courses in order of first appearance, genes
// in order of first appearance within each course, times sorted.
std::vector<RawCourse> read_long(const fs::path& file,
                                 const std::vector<const Record*>& rows,
                                 const std::array<std::string, 4>& columns) {
    const Record& header = *rows.front();
    std::array<std::size_t, 4> at_column{};
    for (std::size_t k = 0; k < 4; ++k) {
        const std::string wanted = lower(columns[k]);
        std::size_t found = header.cells.size();
        for (std::size_t j = 0; j < header.cells.size(); ++j)
            if (lower(header.cells[j].text) == wanted) found = j;
        if (found == header.cells.size()) {
            fail(file, {header.line, 1},
                 "no column '" + columns[k] +
                     "' in the header (--columns names the gene, course, time and value "
                     "columns)");
        }
        at_column[k] = found;
    }
    const std::size_t width = header.cells.size();

    struct Entry {
        double value;
        Place place;
    };
    struct Course {
        std::string label;
        Place start;
        std::vector<std::string> genes;
        std::vector<Place> gene_places;
        std::unordered_map<std::string, std::size_t> gene_index;
        std::map<double, Place> times;
        std::map<std::pair<std::size_t, double>, Entry> values;
    };
    std::vector<Course> courses;
    std::unordered_map<std::string, std::size_t> course_index;
    for (std::size_t r = 1; r < rows.size(); ++r) {
        const Record& row = *rows[r];
        std::vector<Cell> cells = row.cells;
        drop_trailing_empty(cells, width);
        if (cells.size() != width) {
            fail(file, {row.line, static_cast<int>(std::min(cells.size(), width)) + 1},
                 "the row has " + std::to_string(cells.size()) + " fields, the header " +
                     std::to_string(width));
        }
        auto place = [&](std::size_t k) {
            return Place{row.line, static_cast<int>(at_column[k]) + 1};
        };
        const std::string& gene = cells[at_column[0]].text;
        const std::string& label = cells[at_column[1]].text;
        check_name(file, gene, place(0));
        if (label.empty()) fail(file, place(1), "a row without a course");
        const double t = time_of(file, cells[at_column[2]], place(2));
        const double v = value_of(file, cells[at_column[3]], place(3));
        auto [ci, new_course] = course_index.try_emplace(label, courses.size());
        if (new_course) courses.push_back({label, {row.line, 1}, {}, {}, {}, {}, {}});
        Course& c = courses[ci->second];
        auto [gi, new_gene] = c.gene_index.try_emplace(gene, c.genes.size());
        if (new_gene) {
            c.genes.push_back(gene);
            c.gene_places.push_back(place(0));
        }
        c.times.try_emplace(t, place(2));
        if (!c.values.try_emplace({gi->second, t}, Entry{v, place(3)}).second) {
            fail(file, place(3),
                 "a second value for gene " + gene + " at time " + cells[at_column[2]].text +
                     " of course " + label);
        }
    }
    if (courses.empty()) fail(file, {header.line + 1, 1}, "the table has no rows of values");

    std::vector<RawCourse> raw;
    for (const Course& c : courses) {
        RawCourse rc;
        rc.file = file;
        rc.start = c.start;
        rc.names = c.genes;
        rc.name_places = c.gene_places;
        for (const auto& [t, p] : c.times) {
            rc.t.push_back(t);
            rc.t_places.push_back(p);
        }
        for (std::size_t i = 0; i < c.genes.size(); ++i) {
            for (const auto& [t, p] : c.times) {
                const auto it = c.values.find({i, t});
                if (it == c.values.end()) {
                    fail(file, c.gene_places[i],
                         "gene " + c.genes[i] + " has no row for time " + number_text(t) +
                             " of course " + c.label);
                }
                rc.v.push_back(it->second.value);
                rc.v_places.push_back(it->second.place);
            }
        }
        raw.push_back(std::move(rc));
    }
    return raw;
}

bool header_names_time(const Cell& cell) { return lower(cell.text) == "time"; }

// Long when the header names every column of options.columns; DREAM when times are given for a
// table without a time column, or when a tab-separated header starts with "Time"; else wide.
Layout detect_layout(const Record& header, char delimiter, const TableOptions& options) {
    std::size_t named = 0;
    for (const std::string& column : options.columns) {
        for (const Cell& cell : header.cells)
            if (lower(cell.text) == lower(column)) {
                ++named;
                break;
            }
    }
    if (named == options.columns.size()) return Layout::kLong;
    if (!options.times.empty() || (header.cells.front().text == "Time" && delimiter == '\t')) {
        return Layout::kDream;
    }
    return Layout::kWide;
}

// A wide table holds genes in rows when every header field after the first is a number (a time
// point), and time points in rows otherwise (the header then names the genes).
Orientation detect_orientation(const Record& header) {
    bool all_numbers = header.cells.size() > 1;
    for (std::size_t j = 1; j < header.cells.size(); ++j)
        all_numbers = all_numbers && to_number(header.cells[j].text).has_value();
    return all_numbers ? Orientation::kGenesInRows : Orientation::kTimesInRows;
}

std::string_view without_byte_order_mark(std::string_view text) {
    if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    return text;
}

std::vector<RawCourse> read_one(const fs::path& file,
                                std::string_view text,
                                const TableOptions& options,
                                Scale& scale) {
    text = without_byte_order_mark(text);
    const char delimiter = options.delimiter ? options.delimiter : detect_delimiter(text);
    std::vector<Record> records = split_records(file, text, delimiter);
    const auto first_row =
        std::find_if(records.begin(), records.end(), [](const Record& r) { return !r.blank(); });
    if (first_row == records.end()) fail(file, {1, 1}, "the table is empty");
    drop_trailing_empty(first_row->cells, 0);  // trailing delimiters of the header
    const std::vector<const Record*> rows = content(records);
    const Record& header = *rows.front();
    if (header.cells.empty()) fail(file, {header.line, 1}, "the header is empty");

    const Layout layout = options.layout == Layout::kDetect
                              ? detect_layout(header, delimiter, options)
                              : options.layout;
    if (layout == Layout::kDream && scale == Scale::kUnset) scale = Scale::kLinear;
    if (scale == Scale::kUnset) {
        fail(file, {header.line, 1},
             "say what the values are with --scale linear|log2|ln|log10 (only DREAM "
             "time-series files are linear without it)");
    }
    if (rows.size() < 2) fail(file, {header.line + 1, 1}, "the table has no rows of values");

    switch (layout) {
        case Layout::kLong:
            return read_long(file, rows, options.columns);
        case Layout::kDream: {
            const bool time_column = header_names_time(header.cells.front());
            if (time_column && !options.times.empty()) {
                fail(file, {header.line, 1},
                     "the table has a time column; leave out --times and --interval");
            }
            if (!time_column && options.times.empty()) {
                fail(file, {header.line, 1},
                     "the table has no time column: give --times or --interval with --points");
            }
            return read_times_in_rows(file, records, time_column, true, options.times);
        }
        case Layout::kWide:
        case Layout::kDetect:
            break;
    }
    const Orientation orientation = options.orientation == Orientation::kDetect
                                        ? detect_orientation(header)
                                        : options.orientation;
    if (orientation == Orientation::kGenesInRows) return {read_genes_in_rows(file, rows)};
    return read_times_in_rows(file, records, true, false, {});
}

// The picked courses in the order given, 1-based over all courses of all tables.
std::vector<RawCourse> pick(std::vector<RawCourse> all, const TableOptions& options) {
    if (options.courses.empty()) return all;
    std::vector<RawCourse> picked;
    for (const auto& [first, last] : options.courses) {
        if (last > static_cast<int>(all.size())) {
            throw TableError("--courses " + std::to_string(first) + "-" + std::to_string(last) +
                             ": the tables hold " + std::to_string(all.size()) + " courses");
        }
        for (int k = first; k <= last; ++k) picked.push_back(all[static_cast<std::size_t>(k - 1)]);
    }
    return picked;
}

void check_times(const RawCourse& c) {
    if (c.t.size() < 2) {
        fail(c.file, c.start,
             "a course needs at least 2 time points, this one has " + std::to_string(c.t.size()));
    }
    for (std::size_t j = 1; j < c.t.size(); ++j) {
        const double h = c.t[j] - c.t[j - 1];
        if (!(h > 0.0) || !std::isnormal(h)) {
            fail(c.file, c.t_places[j], "time points must increase strictly");
        }
    }
}

// Puts course c's genes into the order of names; every gene must be there exactly once.
void match_genes(RawCourse& c, const std::vector<std::string>& names) {
    const std::size_t n = names.size();
    const std::size_t T = c.t.size();
    std::unordered_map<std::string, std::size_t> index;
    for (std::size_t i = 0; i < names.size(); ++i) index.emplace(names[i], i);
    std::vector<std::size_t> from(n, SIZE_MAX);
    for (std::size_t i = 0; i < c.names.size(); ++i) {
        const auto it = index.find(c.names[i]);
        if (it == index.end()) {
            fail(c.file, c.name_places[i],
                 "gene " + c.names[i] + " is not among the genes of the first course");
        }
        if (from[it->second] != SIZE_MAX) {
            fail(c.file, c.name_places[i], "gene " + c.names[i] + " appears twice");
        }
        from[it->second] = i;
    }
    for (std::size_t i = 0; i < n; ++i) {
        if (from[i] == SIZE_MAX) {
            fail(c.file, c.start, "the course lacks gene " + names[i] + " of the first course");
        }
    }
    RawCourse sorted = c;
    for (std::size_t i = 0; i < n; ++i) {
        sorted.names[i] = c.names[from[i]];
        sorted.name_places[i] = c.name_places[from[i]];
        for (std::size_t j = 0; j < T; ++j) {
            sorted.v[i * T + j] = c.v[from[i] * T + j];
            sorted.v_places[i * T + j] = c.v_places[from[i] * T + j];
        }
    }
    c = std::move(sorted);
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

ExpressionSet read_table_texts(const std::vector<fs::path>& files,
                               const std::vector<std::string>& texts,
                               const TableOptions& options) {
    // Without --scale only DREAM files are read (all linear), so the scale is one for all.
    std::vector<RawCourse> all;
    Scale scale = options.scale;
    for (std::size_t f = 0; f < files.size(); ++f) {
        scale = options.scale;
        std::vector<RawCourse> courses = read_one(files[f], texts[f], options, scale);
        for (RawCourse& c : courses) all.push_back(std::move(c));
    }
    std::vector<RawCourse> courses = pick(std::move(all), options);
    if (courses.empty()) throw TableError("no table given");
    if (static_cast<long long>(courses.size()) > options.max_courses) {
        const RawCourse& extra = courses[static_cast<std::size_t>(options.max_courses)];
        fail(extra.file, extra.start,
             "course " + std::to_string(options.max_courses + 1) + " of " +
                 std::to_string(courses.size()) + ": a data file holds at most " +
                 std::to_string(options.max_courses) +
                 " courses; pick some with --courses (say --courses 1-" +
                 std::to_string(options.max_courses) + ")");
    }

    ExpressionSet set;
    set.scale = scale;
    set.names = courses.front().names;
    if (set.names.size() > static_cast<std::size_t>(kMaxTableGenes)) {
        fail(courses.front().file, courses.front().start,
             std::to_string(set.names.size()) + " genes; at most " +
                 std::to_string(kMaxTableGenes) + " can be inferred");
    }
    for (RawCourse& c : courses) {
        check_times(c);
        match_genes(c, set.names);
    }

    // Values that are not positive on the linear scale have no logarithm: all refused at once
    // (count and first place), or all replaced by the floor.
    if (scale == Scale::kLinear) {
        long long count = 0;
        const RawCourse* first_course = nullptr;
        Place first;
        for (RawCourse& c : courses) {
            for (std::size_t k = 0; k < c.v.size(); ++k) {
                if (c.v[k] <= 0.0) {
                    if (count++ == 0) {
                        first_course = &c;
                        first = c.v_places[k];
                    }
                    if (options.floor) c.v[k] = *options.floor;
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

    for (RawCourse& c : courses) {
        const std::size_t T = c.t.size();
        const std::size_t n = set.names.size();
        TimeCourse out;
        out.t = c.t;
        out.x.resize(n * T);
        for (std::size_t k = 0; k < n * T; ++k) {
            out.x[k] = std::isnan(c.v[k]) ? kMissing : to_log2(c.v[k], scale);
            if (!std::isnan(out.x[k]) && !std::isfinite(std::exp2(out.x[k]))) {
                fail(c.file, c.v_places[k],
                     "the value is too large for the linear scale of the inference");
            }
        }
        // Missing values: refused, or filled linearly in time on the base-2 log scale between
        // the nearest given values of the same gene in the same course. A course's first and
        // last values have no neighbour on one side and are never filled.
        for (std::size_t i = 0; i < n; ++i) {
            double* x = out.x.data() + i * T;
            for (std::size_t j = 0; j < T; ++j) {
                if (!std::isnan(x[j])) continue;
                const Place at = c.v_places[i * T + j];
                if (!options.fill_interpolate) {
                    long long missing = 0;
                    for (double value : out.x) missing += std::isnan(value) ? 1 : 0;
                    fail(c.file, at,
                         "missing value for gene " + set.names[i] + " (" + std::to_string(missing) +
                             " in this course); --fill interpolate fills them within a course");
                }
                std::size_t next = j + 1;
                while (next < T && std::isnan(x[next])) ++next;
                if (j == 0 || next == T) {
                    fail(c.file, at,
                         "missing value for gene " + set.names[i] +
                             " at the start or end of a course, where it cannot be "
                             "interpolated");
                }
                const std::size_t prev = j - 1;
                for (std::size_t m = j; m < next; ++m) {
                    const double share = (c.t[m] - c.t[prev]) / (c.t[next] - c.t[prev]);
                    x[m] = x[prev] + (x[next] - x[prev]) * share;
                    ++set.filled;
                }
                j = next;
            }
        }
        set.courses.push_back(std::move(out));
    }
    return set;
}

TableFormat detect_format(const fs::path& file,
                          std::string_view text,
                          const TableOptions& options) {
    text = without_byte_order_mark(text);
    TableFormat format;
    format.delimiter = options.delimiter ? options.delimiter : detect_delimiter(text);
    const std::vector<Record> records = split_records(file, text, format.delimiter);
    const auto header =
        std::find_if(records.begin(), records.end(), [](const Record& r) { return !r.blank(); });
    if (header == records.end()) fail(file, {1, 1}, "the table is empty");
    format.layout = options.layout == Layout::kDetect
                        ? detect_layout(*header, format.delimiter, options)
                        : options.layout;
    if (format.layout == Layout::kWide) {
        format.orientation = options.orientation == Orientation::kDetect
                                 ? detect_orientation(*header)
                                 : options.orientation;
    }
    return format;
}

std::vector<PreviewRecord> preview_records(const fs::path& file,
                                           std::string_view text,
                                           char delimiter,
                                           std::size_t max_records) {
    text = without_byte_order_mark(text);
    // Only the lines shown are split, unless a quoted field runs past them.
    std::size_t cut = 0;
    for (std::size_t lines = 0; lines < max_records && cut < text.size(); ++lines) {
        const std::size_t end = text.find('\n', cut);
        cut = end == std::string_view::npos ? text.size() : end + 1;
    }
    std::vector<Record> records;
    try {
        records = split_records(file, text.substr(0, cut), delimiter);
    } catch (const TableError&) {
        records = split_records(file, text, delimiter);
    }
    std::vector<PreviewRecord> preview;
    for (const Record& record : records) {
        if (preview.size() == max_records) break;
        PreviewRecord row{record.line, {}};
        for (const Cell& cell : record.cells) row.cells.push_back(cell.text);
        preview.push_back(std::move(row));
    }
    return preview;
}

ExpressionSet read_tables(const std::vector<fs::path>& files, const TableOptions& options) {
    std::vector<std::string> texts;
    for (const fs::path& file : files) {
        std::ifstream in(file, std::ios::binary);
        if (!in) throw TableError("file " + file.string() + ": cannot be opened");
        texts.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (in.bad()) throw TableError("file " + file.string() + ": read error");
    }
    return read_table_texts(files, texts, options);
}

}  // namespace netrevia::table
