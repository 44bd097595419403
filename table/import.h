#pragma once

#include <filesystem>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

#include "inference/experiment.h"
#include "table/expression_table.h"

namespace netrevia::table {

// Tables read and named for the data file: short_names[i] (at most 9 characters, all distinct)
// stands for set.names[i], the full name, in every file the run writes.
struct ImportedTables {
    ExpressionSet set;
    std::vector<std::string> short_names;
    std::vector<std::string> renamed;  // one note per group of names made distinct
};

// The 9-character names of the data file. A full name keeps its first 9 bytes (cut before a
// UTF-8 sequence rather than inside it). Names that would then be equal, also by differing
// only in trailing blanks (or equal to another short name) end in "~1", "~2", ... within the 9
// characters instead; each such case gives a warning that lists the full and the short names.
// Short names carry no trailing blanks.
std::vector<std::string> make_short_names(const std::vector<std::string>& full_names,
                                          std::vector<std::string>& renamed);

// read_tables and make_short_names. With an observer, every byte of each table read is shown to
// it (inference::InputObserver), so that a caller can hash what was read.
ImportedTables import_tables(const std::vector<std::filesystem::path>& files,
                             const TableOptions& options,
                             inference::InputObserver* observer = nullptr);

// The experiment the tables hold, for the engines directly: the full names, the short names in
// 9-character fields, and the courses on the linear scale as 2^x of the log2 values, exactly as
// the data-file reader makes them of the data file write_data_file writes, so that a table run
// and a run on its imported data file give the same files. files name the tables in messages.
// Throws inference::DataFileRejected when a level or a rate of change is not finite.
inference::Experiment to_experiment(const ImportedTables& tables,
                                    const std::vector<std::filesystem::path>& files);

// The data file: labels, counts, the short names, one block per course and END; numbers in
// the shortest text that reads back to the same double, LF line ends.
void write_data_file(std::ostream& out, const ImportedTables& tables);
std::string data_file_text(const ImportedTables& tables);

// "short<TAB>full" per gene after a header line, in data-file order.
void write_names_map(std::ostream& out, const ImportedTables& tables);

// Genes, courses, time points per course, the scale conversion, floors and fills, and a warning
// for each group of names made distinct followed by named_in, which says where they are named
// so ("the data file names them as shown").
void write_summary(std::ostream& out, const ImportedTables& tables, std::string_view named_in);

// Whether the file's name ends in .csv, .tsv or .txt, the names of expression tables. Such a
// file alone is still read as a data file first, and as a table when it is not one.
bool has_table_extension(const std::filesystem::path& file);

// Options shared by the import tool and the batch tool. A table option is one of
// --table-layout --delimiter --orientation --scale --floor --fill --times --interval --points
// --columns --courses --replicates, each with a value.
bool is_table_option(std::string_view name);
// Sets the option; returns an error text, empty on success.
std::string set_table_option(std::string_view name, const std::string& value, TableOptions& o);
// After all options: checks that --interval and --points came together, without --times.
std::string finish_table_options(TableOptions& o);

// Help text of the table options, for the usage of both tools.
extern const char* const kTableOptionsHelp;

}  // namespace netrevia::table
