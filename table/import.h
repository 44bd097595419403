#pragma once

#include <filesystem>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

#include "table/expression_table.h"

namespace netrevia::table {

// Tables read and named for the data file: short_names[i] (at most 9 characters, all distinct)
// stands for set.names[i], the full name, in every file the run writes.
struct ImportedTables {
    ExpressionSet set;
    std::vector<std::string> short_names;
    std::vector<std::string> warnings;  // names made distinct
};

// The 9-character names of the data file. A full name keeps its first 9 bytes (cut before a
// UTF-8 sequence rather than inside it). Names that would then be equal (or equal to another
// short name) end in "~1", "~2", ... within the 9 characters instead; each such case gives a
// warning that lists the full and the short names.
std::vector<std::string> make_short_names(const std::vector<std::string>& full_names,
                                          std::vector<std::string>& warnings);

ImportedTables import_tables(const std::vector<std::filesystem::path>& files,
                             const TableOptions& options);

// The data file: labels, counts, the short names, one block per course and END; numbers in
// the shortest text that reads back to the same double, LF line ends.
void write_data_file(std::ostream& out, const ImportedTables& tables);
std::string data_file_text(const ImportedTables& tables);

// "short<TAB>full" per gene after a header line, in data-file order.
void write_names_map(std::ostream& out, const ImportedTables& tables);

// Genes, courses, time points per course, the scale conversion, floors and fills.
void write_summary(std::ostream& out, const ImportedTables& tables);

// Options shared by the import tool and the batch tool. A table option is one of
// --table-layout --delimiter --orientation --scale --floor --fill --times --interval --points
// --columns --courses, each with a value.
bool is_table_option(std::string_view name);
// Sets the option; returns an error text, empty on success.
std::string set_table_option(std::string_view name, const std::string& value, TableOptions& o);
// After all options: checks that --interval and --points came together, without --times.
std::string finish_table_options(TableOptions& o);

// True when file should be read as a table rather than a data file: its extension is .csv,
// .tsv or .txt and its second line is not the single integer a data file holds there (the
// declared dataset count).
bool looks_like_table(const std::filesystem::path& file);

// A data file written to the system's temporary folder for one run, removed again when this
// object ends. Throws output::IoError when it cannot be written.
class TemporaryDataFile {
public:
    explicit TemporaryDataFile(const std::string& text);
    TemporaryDataFile(const TemporaryDataFile&) = delete;
    TemporaryDataFile& operator=(const TemporaryDataFile&) = delete;
    ~TemporaryDataFile();
    const std::filesystem::path& path() const noexcept { return path_; }

private:
    std::filesystem::path path_;
};

// Help text of the table options, for the usage of both tools.
extern const char* const kTableOptionsHelp;

}  // namespace netrevia::table
