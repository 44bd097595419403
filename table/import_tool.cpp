#include "table/import_tool.h"

#include <filesystem>
#include <new>
#include <ostream>
#include <system_error>

#include "inference/data_file.h"
#include "output/atomic_file.h"
#include "output/io_error.h"
#include "table/import.h"

namespace netrevia::table {

namespace {

constexpr const char* kUsage =
    "Usage: netrevia-import [options] TABLE... -o DATAFILE\n"
    "Reads expression time courses from tables (CSV, TSV, DREAM time series, long tables)\n"
    "and writes them as a data file for netrevia and netrevia-batch, with DATAFILE.names.tsv\n"
    "beside it mapping the 9-character names of the data file to the full gene names.\n"
    "\n"
    "Options:\n"
    "  -o, --output DATAFILE  the data file to write\n"
    "  --all-courses      write every course (a data file for the engines that take more\n"
    "                     than four)\n"
    "  --help             show this text\n"
    "  --version          show the version\n";

}  // namespace

int import_main(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    TableOptions options;
    std::vector<std::filesystem::path> tables;
    std::filesystem::path data_file;
    auto usage_error = [&err](const std::string& message) {
        err << "netrevia-import: " << message << " (see netrevia-import --help)\n";
        return 2;
    };
    for (std::size_t a = 0; a < args.size(); ++a) {
        std::string name = args[a];
        if (name == "--help" || name == "-h") {
            out << kUsage << kTableOptionsHelp;
            return 0;
        }
        if (name == "--version") {
            out << "netrevia-import " << NETREVIA_VERSION << "\n";
            return 0;
        }
        if (name == "--all-courses") {
            options.max_courses = kNoCourseLimit;
            continue;
        }
        if (name.size() > 1 && name[0] == '-') {
            std::string value;
            const std::size_t eq = name.find('=');
            const bool inline_value = name.rfind("--", 0) == 0 && eq != std::string::npos;
            if (inline_value) {
                value = name.substr(eq + 1);
                name = name.substr(0, eq);
            }
            const bool is_output = name == "-o" || name == "--output";
            if (!is_output && !is_table_option(name))
                return usage_error("unknown option '" + name + "'");
            if (!inline_value) {
                if (a + 1 >= args.size()) return usage_error("option '" + name + "' needs a value");
                value = args[++a];
            }
            if (is_output) {
                if (value.empty()) return usage_error("-o needs a file name");
                data_file = value;
                continue;
            }
            const std::string problem = set_table_option(name, value, options);
            if (!problem.empty()) return usage_error(problem);
            continue;
        }
        tables.emplace_back(name);
    }
    if (tables.empty()) return usage_error("no table given");
    if (data_file.empty()) return usage_error("no data file given (-o DATAFILE)");
    if (const std::string problem = finish_table_options(options); !problem.empty())
        return usage_error(problem);

    // The data file and the name map replace whatever they name: never a table to be read.
    // Files are compared by identity, so that a link or another spelling of a table counts.
    std::filesystem::path names_file = data_file;
    names_file += ".names.tsv";
    for (const std::filesystem::path& table : tables) {
        for (const std::filesystem::path& output : {data_file, names_file}) {
            std::error_code ignored;
            if (std::filesystem::equivalent(table, output, ignored)) {
                err << "netrevia-import: " << output.string() << " is the table " << table.string()
                    << "; writing it would replace the table: name another "
                    << "data file with -o\n";
                return 1;
            }
        }
    }

    try {
        const ImportedTables imported = import_tables(tables, options);
        // Both files or neither: written under temporary names, renamed together at the end.
        output::AtomicFile data(data_file, inference::kDataFileUnit);
        write_data_file(data.stream(), imported);
        data.finish();
        output::AtomicFile names(names_file, inference::kDataFileUnit);
        write_names_map(names.stream(), imported);
        names.finish();
        output::commit_together(data, names);
        write_summary(out, imported, "the data file names them as shown");
        out << "data file:    " << data_file.string() << "\n";
        out << "names:        " << names_file.string() << "\n";
    } catch (const TableError& e) {
        err << "netrevia-import: " << e.what() << "\n";
        return 1;
    } catch (const output::IoError& e) {
        err << "netrevia-import: " << e.what() << "\n";
        return 1;
    } catch (const std::bad_alloc&) {
        err << "netrevia-import: insufficient virtual memory\n";
        return 1;
    }
    return 0;
}

}  // namespace netrevia::table
