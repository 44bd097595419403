#include "importer/table_reading.h"

#include <new>
#include <utility>

namespace netrevia::importer {

std::string options_from_arguments(const std::vector<std::string>& arguments,
                                   table::TableOptions& options) {
    for (std::size_t a = 0; a + 1 < arguments.size(); a += 2) {
        const std::string problem =
            table::set_table_option(arguments[a], arguments[a + 1], options);
        if (!problem.empty()) return problem;
    }
    if (arguments.size() % 2 != 0) return "option '" + arguments.back() + "' needs a value";
    return table::finish_table_options(options);
}

TableReading read_table(const std::filesystem::path& file,
                        const std::string& text,
                        const std::vector<std::string>& arguments) {
    TableReading reading;
    table::TableOptions options;
    reading.problem = options_from_arguments(arguments, options);
    if (!reading.problem.empty()) return reading;
    options.max_courses = table::kNoCourseLimit;
    try {
        reading.format = table::detect_format(file, text, options);
        table::ImportedTables tables;
        tables.set = table::read_table_texts({file}, {text}, options);
        tables.short_names = table::make_short_names(tables.set.names, tables.renamed);
        reading.tables = std::move(tables);
    } catch (const table::TableError& refused) {
        reading.problem = refused.what();
    } catch (const std::bad_alloc&) {
        reading.problem = "file " + file.string() + ": insufficient virtual memory";
    }
    return reading;
}

std::string describe_format(const table::TableFormat& format) {
    std::string text;
    switch (format.layout) {
        case table::Layout::kDream:
            text = "DREAM layout";
            break;
        case table::Layout::kLong:
            text = "long table";
            break;
        case table::Layout::kWide:
        case table::Layout::kDetect:
            text = format.orientation == table::Orientation::kTimesInRows
                       ? "wide table, time points in rows"
                       : "wide table, genes in rows";
            break;
    }
    switch (format.delimiter) {
        case '\t':
            return text + ", tabs";
        case ',':
            return text + ", commas";
        case ';':
            return text + ", semicolons";
        case ' ':
            return text + ", blanks";
        default:
            return text + ", '" + std::string(1, format.delimiter) + "'";
    }
}

std::string describe_contents(int genes, const std::vector<int>& time_points) {
    const std::size_t K = time_points.size();
    std::string text = std::to_string(genes) + (genes == 1 ? " gene, " : " genes, ") +
                       std::to_string(K) + (K == 1 ? " course of " : " courses of ");
    bool equal = true;
    for (const int T : time_points) equal = equal && T == time_points.front();
    if (K == 0) return text + "no time points";
    if (equal) return text + std::to_string(time_points.front()) + " time points";
    for (std::size_t k = 0; k < K; ++k) {
        if (k > 0) text += k + 1 == K ? " and " : ", ";
        text += std::to_string(time_points[k]);
    }
    return text + " time points";
}

TableChoice make_choice(const std::vector<std::string>& arguments, const TableReading& reading) {
    TableChoice choice;
    choice.arguments = arguments;
    options_from_arguments(arguments, choice.options);
    const table::ExpressionSet& set = reading.tables->set;
    choice.genes = static_cast<int>(set.names.size());
    for (const table::TimeCourse& course : set.courses) {
        choice.time_points.push_back(static_cast<int>(course.t.size()));
    }
    if (reading.format) choice.format = describe_format(*reading.format);
    return choice;
}

}  // namespace netrevia::importer
