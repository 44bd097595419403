#include "table/import.h"

#include <charconv>
#include <cmath>
#include <fstream>
#include <optional>
#include <ostream>
#include <sstream>
#include <unordered_map>
#include <unordered_set>

#include "inference/data_file.h"

namespace netrevia::table {

namespace {

// Shortest text that reads back to the same double (std::to_chars without a precision).
std::string number_text(double v) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, v);
    return std::string(buffer, result.ptr);
}

// Quoted when the data-file reader would otherwise split the name or read it as something
// else: blanks, commas, slashes, quotes, a repeat count's asterisk.
std::string name_token(const std::string& name) {
    if (name.find_first_of(" \t,/*'\"") == std::string::npos) return name;
    std::string quoted = "\"";
    for (char c : name) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

std::optional<int> whole_number(std::string_view s) {
    int v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || end != s.data() + s.size() || s.empty()) return {};
    return v;
}

std::optional<double> real_number(std::string_view s) {
    double v = 0.0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || end != s.data() + s.size() || s.empty() || !std::isfinite(v))
        return {};
    return v;
}

std::vector<std::string> split(const std::string& text, char at) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find(at, start);
        parts.push_back(text.substr(start, end == std::string::npos ? end : end - start));
        if (end == std::string::npos) return parts;
        start = end + 1;
    }
}

}  // namespace

const char* const kTableOptionsHelp =
    "Table options:\n"
    "  --scale linear|log2|ln|log10  what the values are (required, except for DREAM\n"
    "                      time-series files, which are linear); converted to log2\n"
    "  --table-layout wide|dream|long  detected when left out\n"
    "  --delimiter tab|comma|semicolon|space|C  detected from the header when left out\n"
    "  --orientation genes|times     what the rows of a wide table hold (detected)\n"
    "  --times T1,T2,...  time points of a table without a time column\n"
    "  --interval H --points P       the same as --times 0,H,...,(P-1)H\n"
    "  --columns G,C,T,V[,R]  names of the gene, course, time and value columns of a\n"
    "                      long table and of its replicate column (default\n"
    "                      gene,course,time,value,replicate); or some of them by role,\n"
    "                      say course=experiment,time=time_min,replicate=rep (so\n"
    "                      named, they name the columns of a table of times in rows too)\n"
    "  --replicates mean|courses  average replicates at each time point (mean of 2^x,\n"
    "                      as log2; a missing value is left out) or take each as a\n"
    "                      course; a table with replicates is refused without it\n"
    "  --courses LIST     pick courses, say 1,3-4 (counted over all tables in order,\n"
    "                      once the replicates are averaged or made courses)\n"
    "  --floor V          replace linear values of 0 or below by V (refused otherwise)\n"
    "  --fill interpolate fill missing values (empty, NA, NaN) linearly within a course\n"
    "Times in rows: a column named course, experiment or condition holds the course and\n"
    "one named replicate or rep the replicate (any case); the rows of a course (and of\n"
    "a replicate) stand together, and courses follow in the order they first appear.\n"
    "With such a column the time column is the one named time, else one whose name\n"
    "begins with time and no letter (time_min), else the first other column. Without\n"
    "a replicate column, a time point that comes again within a course (a header\n"
    "gene,0,0,10,10 or a second row for the same time) starts another replicate.\n";

std::vector<std::string> make_short_names(const std::vector<std::string>& full_names,
                                          std::vector<std::string>& renamed) {
    const std::size_t limit = static_cast<std::size_t>(inference::kNameLength);
    std::vector<std::string> fields;
    for (const std::string& name : full_names) {
        std::string field = inference::cut_utf8(name, limit);
        field.resize(limit, ' ');
        fields.push_back(std::move(field));
    }
    fields = inference::distinct_gene_names(std::move(fields), full_names, renamed);
    // The data file's names without the padding the reader adds again.
    for (std::string& field : fields) field.erase(field.find_last_not_of(' ') + 1);
    return fields;
}

ImportedTables import_tables(const std::vector<std::filesystem::path>& files,
                             const TableOptions& options,
                             inference::InputObserver* observer) {
    ImportedTables tables;
    tables.set = read_tables(files, options, observer);
    tables.short_names = make_short_names(tables.set.names, tables.renamed);
    return tables;
}

void write_data_file(std::ostream& out, const ImportedTables& tables) {
    const ExpressionSet& set = tables.set;
    const std::size_t n = set.names.size();
    out << "Number of datasets\n" << set.courses.size() << "\nNumber of genes\n" << n << "\n";
    out << "Gene names\n";
    for (const std::string& name : tables.short_names) out << name_token(name) << "\n";
    for (std::size_t k = 0; k < set.courses.size(); ++k) {
        const TimeCourse& c = set.courses[k];
        const std::size_t T = c.t.size();
        out << "Set" << k + 1 << "\nDataset " << k + 1 << "\nGenes and time points\n";
        out << n << " " << T << "\nTime points\n";
        for (std::size_t j = 0; j < T; ++j) out << (j ? " " : "") << number_text(c.t[j]);
        out << "\nReserved\n1.0\nExpression values (log2)\n";
        for (std::size_t i = 0; i < n; ++i) {
            for (std::size_t j = 0; j < T; ++j)
                out << (j ? " " : "") << number_text(c.x[i * T + j]);
            out << "\n";
        }
    }
    out << "END\n";
}

inference::Experiment to_experiment(const ImportedTables& tables,
                                    const std::vector<std::filesystem::path>& files) {
    const ExpressionSet& set = tables.set;
    inference::Experiment experiment;
    experiment.origin = (files.size() == 1 ? "file " : "files ");
    for (std::size_t f = 0; f < files.size(); ++f)
        experiment.origin += (f > 0 ? ", " : "") + files[f].string();
    experiment.full_names = set.names;
    const std::size_t limit = static_cast<std::size_t>(inference::kNameLength);
    for (const std::string& name : tables.short_names) {
        std::string field = name;
        field.resize(limit, ' ');
        experiment.gene_names.push_back(std::move(field));
    }
    experiment.renamed = tables.renamed;
    experiment.declared_count = static_cast<int>(set.courses.size());
    const std::size_t n = set.names.size();
    for (std::size_t k = 0; k < set.courses.size(); ++k) {
        const TimeCourse& c = set.courses[k];
        const std::size_t T = c.t.size();
        inference::Course course;
        course.origin = experiment.origin + ", course " + std::to_string(k + 1);
        course.t = c.t;
        // Linear levels as the data-file reader makes them of the log2 values import writes:
        // 2^x of the same double, so that both roads give the same run.
        course.levels.resize(T * n);
        for (std::size_t i = 0; i < n; ++i)
            for (std::size_t j = 0; j < T; ++j)
                course.levels[i * T + j] = std::pow(2.0, c.x[i * T + j]);
        inference::check_course_values(course, experiment.gene_names);
        experiment.courses.push_back(std::move(course));
    }
    return experiment;
}

std::string data_file_text(const ImportedTables& tables) {
    std::ostringstream out;
    write_data_file(out, tables);
    return out.str();
}

void write_names_map(std::ostream& out, const ImportedTables& tables) {
    out << "short_name\tfull_name\n";
    for (std::size_t i = 0; i < tables.short_names.size(); ++i)
        out << tables.short_names[i] << "\t" << tables.set.names[i] << "\n";
}

void write_summary(std::ostream& out, const ImportedTables& tables, std::string_view named_in) {
    const ExpressionSet& set = tables.set;
    out << "genes:        " << set.names.size() << "\n";
    out << "courses:      " << set.courses.size() << " (time points:";
    for (const TimeCourse& c : set.courses) out << " " << c.t.size();
    out << ")\n";
    out << "scale:        " << scale_name(set.scale) << " -> log2"
        << (set.scale == Scale::kLog2 ? " (unchanged)" : "") << "\n";
    out << "floored:      " << set.floored << "\n";
    out << "filled:       " << set.filled << "\n";
    if (const std::string replicates = replicates_text(set); !replicates.empty())
        out << "replicates:   " << replicates << "\n";
    for (const std::string& note : tables.renamed)
        out << "warning:      " << note << "; " << named_in << "\n";
}

bool has_table_extension(const std::filesystem::path& file) {
    const std::string extension = file.extension().string();
    return extension == ".csv" || extension == ".tsv" || extension == ".txt";
}

bool is_table_option(std::string_view name) {
    for (const char* option :
         {"--table-layout", "--delimiter", "--orientation", "--scale", "--floor", "--fill",
          "--times", "--interval", "--points", "--columns", "--courses", "--replicates"}) {
        if (name == option) return true;
    }
    return false;
}

std::string set_table_option(std::string_view name, const std::string& value, TableOptions& o) {
    const std::string bad = std::string(name) + " does not take '" + value + "'";
    if (name == "--table-layout") {
        if (value == "wide")
            o.layout = Layout::kWide;
        else if (value == "dream")
            o.layout = Layout::kDream;
        else if (value == "long")
            o.layout = Layout::kLong;
        else
            return bad + " (wide, dream or long)";
    } else if (name == "--delimiter") {
        if (value == "tab" || value == "\t")
            o.delimiter = '\t';
        else if (value == "comma")
            o.delimiter = ',';
        else if (value == "semicolon")
            o.delimiter = ';';
        else if (value == "space")
            o.delimiter = ' ';
        else if (value.size() == 1 && value != "\"" && value != "\n")
            o.delimiter = value[0];
        else
            return bad + " (tab, comma, semicolon, space or one character)";
    } else if (name == "--orientation") {
        if (value == "genes")
            o.orientation = Orientation::kGenesInRows;
        else if (value == "times")
            o.orientation = Orientation::kTimesInRows;
        else
            return bad + " (genes or times: what the rows hold)";
    } else if (name == "--scale") {
        if (value == "linear")
            o.scale = Scale::kLinear;
        else if (value == "log2")
            o.scale = Scale::kLog2;
        else if (value == "ln")
            o.scale = Scale::kLn;
        else if (value == "log10")
            o.scale = Scale::kLog10;
        else
            return bad + " (linear, log2, ln or log10)";
    } else if (name == "--floor") {
        const std::optional<double> v = real_number(value);
        if (!v || *v <= 0.0) return bad + " (a number above 0)";
        o.floor = *v;
    } else if (name == "--fill") {
        if (value != "interpolate") return bad + " (interpolate)";
        o.fill_interpolate = true;
    } else if (name == "--times") {
        o.times.clear();
        for (const std::string& part : split(value, ',')) {
            const std::optional<double> v = real_number(part);
            if (!v) return bad + " (numbers separated by commas)";
            o.times.push_back(*v);
        }
    } else if (name == "--interval") {
        const std::optional<double> v = real_number(value);
        if (!v || *v <= 0.0) return bad + " (a number above 0)";
        o.interval = *v;
    } else if (name == "--points") {
        const std::optional<int> v = whole_number(value);
        if (!v || *v < 2) return bad + " (a whole number of at least 2)";
        o.points = *v;
    } else if (name == "--columns") {
        const std::vector<std::string> parts = split(value, ',');
        const std::string form =
            " (gene,course,time,value[,replicate], or role=name, say course=experiment)";
        if (parts.front().find('=') == std::string::npos) {
            if (parts.size() != 4 && parts.size() != 5) return bad + form;
            for (const std::string& part : parts)
                if (part.empty() || part.find('=') != std::string::npos) return bad + form;
            for (std::size_t k = 0; k < 4; ++k) o.columns[k] = parts[k];
            if (parts.size() == 5) o.replicate_column = parts[4];
        } else {
            o.columns_by_role = true;
            for (const std::string& part : parts) {
                const std::size_t eq = part.find('=');
                if (eq == std::string::npos || eq + 1 == part.size()) return bad + form;
                const std::string role = part.substr(0, eq);
                const std::string column = part.substr(eq + 1);
                if (role == "gene")
                    o.columns[0] = column;
                else if (role == "course")
                    o.columns[1] = column;
                else if (role == "time")
                    o.columns[2] = column;
                else if (role == "value")
                    o.columns[3] = column;
                else if (role == "replicate")
                    o.replicate_column = column;
                else
                    return bad + " (the roles are gene, course, time, value and replicate)";
            }
        }
    } else if (name == "--replicates") {
        if (value == "mean")
            o.replicates = Replicates::kMean;
        else if (value == "courses")
            o.replicates = Replicates::kCourses;
        else
            return bad + " (mean or courses)";
    } else if (name == "--courses") {
        o.courses.clear();
        for (const std::string& part : split(value, ',')) {
            const std::size_t dash = part.find('-');
            const std::optional<int> first = whole_number(part.substr(0, dash));
            const std::optional<int> last =
                dash == std::string::npos ? first : whole_number(part.substr(dash + 1));
            if (!first || !last || *first < 1 || *last < *first)
                return bad + " (course numbers from 1 and ranges, say 1,3-4)";
            o.courses.emplace_back(*first, *last);
        }
    } else {
        return "unknown option '" + std::string(name) + "'";
    }
    return {};
}

std::string finish_table_options(TableOptions& o) {
    if ((o.interval > 0.0) != (o.points > 0)) return "--interval and --points go together";
    // The reader makes the times from interval and points row by row: no array is sized by
    // --points before a table shows that many rows.
    if (o.interval > 0.0 && !o.times.empty())
        return "give either --times or --interval with --points";
    return {};
}

}  // namespace netrevia::table
