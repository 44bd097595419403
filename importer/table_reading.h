#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "table/expression_table.h"
#include "table/import.h"

namespace netrevia::importer {

// A table as the user set it up to be read. The options are given as the batch tool takes
// them ("--scale", "linear", "--interval", "50", ...), so that the window reads a table exactly
// as netrevia-batch with the same arguments does, and can say which arguments those are.
struct TableChoice {
    std::vector<std::string> arguments;  // option names and values, in pairs
    table::TableOptions options;         // set from arguments as the batch tool sets them
    int genes = 0;
    std::vector<int> time_points;  // per course read
    std::string format;            // how it was read, for the window: "DREAM layout, tabs"
};

// One reading of a table with a set of arguments: the format found (when the table has a
// header), what it holds, or why it is refused, with the batch tool's message.
struct TableReading {
    std::optional<table::TableFormat> format;
    std::optional<table::ImportedTables> tables;  // set when the table was read
    std::string problem;                          // empty when it was read
};

// Sets options from arguments in pairs, by table::set_table_option and finish_table_options, as
// the batch tool does; returns the first problem, empty when every argument was taken.
std::string options_from_arguments(const std::vector<std::string>& arguments,
                                   table::TableOptions& options);

// Reads text, the content of file, with the arguments. Every course is read (the engine chosen
// later decides how many it takes), so the reading tells how many the table holds. Throws
// nothing: a refusal, or memory running out, is the reading's problem.
TableReading read_table(const std::filesystem::path& file,
                        const std::string& text,
                        const std::vector<std::string>& arguments);

// "DREAM layout, tabs", "wide table, genes in rows, commas": the format in words.
std::string describe_format(const table::TableFormat& format);

// "100 genes, 10 courses of 21 time points" or "5 genes, 2 courses of 6 and 4 time points".
std::string describe_contents(int genes, const std::vector<int>& time_points);

// The choice a reading gives: arguments, options, and what was read. Requires reading.tables.
TableChoice make_choice(const std::vector<std::string>& arguments, const TableReading& reading);

}  // namespace netrevia::importer
