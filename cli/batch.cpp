#include "cli/batch.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <exception>
#include <filesystem>
#include <iomanip>
#include <limits>
#include <new>
#include <optional>
#include <ostream>
#include <string_view>
#include <thread>

#include "cli/render.h"
#include "inference/data_file.h"
#include "inference/engines.h"
#include "inference/input_error.h"
#include "inference/regulators.h"
#include "inference/run.h"
#include "numeric/matrix_ref.h"
#include "output/graphviz_file.h"
#include "output/io_error.h"
#include "output/matrix_file.h"
#include "output/network_exports.h"
#include "output/result_folder.h"
#include "table/import.h"

namespace netrevia::cli {

namespace {

constexpr int kMaxThreads = 256;

// The middle of the values (the mean of the two middle ones for an even count); 0 for none.
double median(std::vector<double> values) {
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    const std::size_t half = values.size() / 2;
    return values.size() % 2 == 1 ? values[half] : (values[half - 1] + values[half]) / 2.0;
}

constexpr const char* kUsage =
    "Usage: netrevia-batch [options] DATAFILE\n"
    "       netrevia-batch [options] [table options] TABLE...\n"
    "Infers a gene regulatory network from the time courses in DATAFILE (or in the tables,\n"
    "read as netrevia-import reads them) and writes GRN.dat (the interaction matrix) and\n"
    "GRN.dot (the network) into the output folder.\n"
    "The exports chosen by --export go beside them. All files of a run are replaced\n"
    "together, or, when the run fails, none of them.\n"
    "\n"
    "Options:\n"
    "  --lambda L          weight of the sparsity term (default 0.0)\n"
    "  --threshold T       an entry becomes an edge when above T or below -T (default 1e-6;\n"
    "                      0.75 with --engine ensemble, 0.07 with trees, 0.2 with\n"
    "                      consensus)\n"
    "  --top K             draw the K entries of largest |R(i,j)| instead (fewer on a tie\n"
    "                      at the cut)\n"
    "  --output-dir DIR    folder for GRN.dat and GRN.dot (default: the current folder)\n"
    "  --export LIST       files for other tools, comma-separated (default edges,json):\n"
    "                        edges    edges.tsv, every nonzero R(i,j) ranked by |R|:\n"
    "                                 rank, regulator, target, weight, sign, abs_weight,\n"
    "                                 above_threshold; self-terms after all other edges\n"
    "                        sif      GRN.sif, the edges beyond the threshold as\n"
    "                                 'regulator activates|represses target'\n"
    "                        graphml  GRN.graphml, genes and the edges beyond the threshold\n"
    "                                 with weight, sign and rank\n"
    "                        json     run.json, the run's parameters, inputs (size,\n"
    "                                 SHA-256 of what was read), counts and files\n"
    "                      or all, or none; exports use the full gene names\n"
    "  --no-self-loops     leave the self-terms R(i,i) out of the exports and the drawing\n"
    "                      (GRN.dat and GRN.dot keep them)\n"
    "  --render svg|png    also draw the network with Graphviz into GRN.svg or GRN.png:\n"
    "                      full names, activation blue with an arrow, repression red\n"
    "                      with a bar, wider lines for larger |R|, and a legend\n"
    "  --layout PROGRAM    Graphviz layout program for --render (default: dot for small\n"
    "                      networks, sfdp for large ones)\n"
    "  --render-max-edges N\n"
    "                      draw only the N strongest edges (default 500; the summary\n"
    "                      and the legend say when edges were left out)\n"
    "  --render-timeout S  stop the layout program after S seconds (default 60); the\n"
    "                      run then exits 3 without a picture\n"
    "  --threads N         worker threads (default: one per hardware thread); the\n"
    "                      result is the same for every N\n"
    "  --engine exact|fast|ensemble|trees|consensus\n"
    "                      how the network is inferred: exact (default), the\n"
    "                      full least-absolute-deviation simplex, as in the window;\n"
    "                      fast solves the same fits in a much smaller form,\n"
    "                      for hundreds or thousands of genes (results agree to\n"
    "                      rounding where the fits have unique solutions);\n"
    "                      ensemble: pooled least squares on random gene subsets,\n"
    "                      ranked and averaged, for noisy data and up to 64 courses;\n"
    "                      lambda has no effect; GRN.dat holds signed scores in [-1, 1];\n"
    "                      trees: extremely randomized trees regress each gene's rate\n"
    "                      plus its decay on every gene's level, for nonlinear\n"
    "                      regulation; scores are importance shares, signed as the\n"
    "                      ensemble's; consensus: the geometric mean of the ensemble\n"
    "                      and tree scores\n"
    "  --seed S            seed of the ensemble's gene subsets and of the trees\n"
    "                      (default 0); the same seed gives the same files\n"
    "  --decay A           trees, consensus: every gene's decay rate, per time unit of\n"
    "                      the data (default: estimated from the data for each gene)\n"
    "  --input data|table  how to read the inputs (default: several inputs are tables;\n"
    "                      one .csv, .tsv or .txt file is read as a data file, and as\n"
    "                      a table only when it is not one)\n"
    "  --no-wait           fail at once when another run is writing into the output\n"
    "                      folder (default: wait for it)\n"
    "  --max-memory SIZE   refuse a data file or tables whose arrays need more than\n"
    "                      SIZE bytes\n"
    "                      (suffix K, M, G or T, like 512M or 4G; default: half\n"
    "                      of the physical memory)\n"
    "  --quiet             no progress while the network is selected\n"
    "  --help              show this text\n"
    "  --version           show the version\n"
    "\n"
    "Exit status: 0 success; 1 the run failed and wrote nothing; 2 a bad command\n"
    "line; 3 GRN.dat and GRN.dot were written but the drawing (--render) failed;\n"
    "128 + N when stopped by signal N (SIGINT, SIGTERM): before the results were\n"
    "committed nothing was written; during the drawing the results are complete and\n"
    "no picture is left (the message says which). A signal that comes once the\n"
    "commit is past its point of no return lets it finish; the exit status is then 0\n"
    "(without --render).\n";

// The run's input: the experiment of the data file or of the tables, and each input file as it
// was read (size and SHA-256) for run.json.
struct RunInput {
    inference::Experiment experiment;
    std::vector<exports::InputRecord> files;
    bool tables = false;
    std::optional<exports::ReplicateRecord> replicates;
};

// Both readings of a file failed: it is neither a data file nor a table.
class NeitherDataFileNorTable : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

void read_tables(const BatchOptions& o, RunInput& input, std::ostream& out) {
    table::TableOptions options = o.table_options;
    options.memory_budget = o.max_memory;  // 0: the default, as for the run
    options.max_courses = inference::engine_course_limit(o.engine);
    exports::InputDigests digests;
    const std::vector<std::filesystem::path> files(o.inputs.begin(), o.inputs.end());
    const table::ImportedTables imported = table::import_tables(files, options, &digests);
    table::write_summary(out, imported, "GRN.dat and GRN.dot name them as shown");
    input.experiment = table::to_experiment(imported, files);
    input.experiment.renamed.clear();  // said in the summary above
    input.files = digests.records();
    input.tables = true;
    input.replicates = exports::replicate_record(imported.set);
}

// A data file is read as a data file, tables as tables. One input with the extension of a
// table (.csv, .tsv, .txt) that is not said to be either is read as a data file first, as the
// data-file grammar is the specified input: every file the data-file reader accepts runs as a
// data file, and only a file it refuses is read as a table; when that fails too, the message
// says what each reading found. Other inputs are data files, with the data-file reader's
// messages alone.
void prepare_input(const BatchOptions& o,
                   const inference::RunOptions& run_options,
                   RunInput& input,
                   std::ostream& out) {
    const bool tables = o.input_kind == "table" || o.inputs.size() > 1;
    const bool data_file_only = o.input_kind == "data" ||
                                (o.input_kind.empty() && !table::has_table_extension(o.data_file));
    if (tables) return read_tables(o, input, out);

    exports::InputDigests digests;
    inference::RunOptions options = run_options;
    options.input_observer = &digests;
    std::string as_data_file;
    try {
        input.experiment = inference::read_data_file(o.data_file, options);
        input.files = digests.records();
        return;
    } catch (const inference::InputError& e) {
        if (data_file_only || !std::filesystem::is_regular_file(o.data_file)) throw;
        as_data_file = e.what();
    } catch (const inference::DataFileRejected& e) {
        if (data_file_only) throw;
        as_data_file = e.what();
    }
    try {
        read_tables(o, input, out);
    } catch (const table::TableError& e) {
        throw NeitherDataFileNorTable(o.data_file + " is neither a data file nor a table:\n" +
                                      "  read as a data file: " + as_data_file + "\n" +
                                      "  read as a table: " + e.what());
    }
}

// The genes the list names become the run's candidate regulators; the names no gene has are
// listed in one warning. A list that names none of the genes is refused.
exports::RegulatorRecord take_regulators(const std::string& file,
                                         const std::vector<std::string>& listed,
                                         const inference::Experiment& experiment,
                                         std::ostream& err,
                                         inference::RunOptions& run_options) {
    const inference::RegulatorMatch match =
        inference::match_regulators(experiment.full_names, listed);
    if (match.genes == 0) {
        throw inference::DataFileRejected(
            "the list of regulators " + file +
            (listed.empty() ? std::string(" names no gene")
                            : " names none of the " + std::to_string(experiment.n()) +
                                  " genes of " + experiment.origin + " (its " +
                                  std::to_string(listed.size()) + " name(s), such as '" +
                                  listed.front() + "', are matched to the full gene names)"));
    }
    if (!match.unknown.empty()) {
        err << "netrevia-batch: warning: " << match.unknown.size() << " of the " << listed.size()
            << " names in " << file << " are not among the genes and are left out:";
        for (std::size_t k = 0; k < match.unknown.size(); ++k)
            err << (k == 0 ? " '" : ", '") << match.unknown[k] << "'";
        err << "\n";
    }
    run_options.regulators = match.mask;
    exports::RegulatorRecord record;
    record.listed = static_cast<int>(listed.size());
    record.genes = match.genes;
    record.unknown = static_cast<int>(match.unknown.size());
    return record;
}

// The files of a finished run, as committed.
std::vector<std::filesystem::path> result_files(const inference::RunSummary& summary) {
    std::vector<std::filesystem::path> files{summary.matrix_file, summary.graphviz_file};
    files.insert(files.end(), summary.extra_files.begin(), summary.extra_files.end());
    return files;
}

// An input that is one of the files this run replaces in its output folder (the results, the
// exports chosen, and the drawing, which a failed drawing removes) would be lost, and run.json
// would record a hash it no longer has: the run is refused before any work. Compared by file
// identity, so that links and other spellings of the same file are caught.
std::string input_named_as_result(const BatchOptions& o) {
    std::vector<std::string> names{output::kMatrixFileName, output::kGraphvizFileName};
    if (o.exports.edges) names.push_back(output::kEdgeListFileName);
    if (o.exports.sif) names.push_back(output::kSifFileName);
    if (o.exports.graphml) names.push_back(output::kGraphmlFileName);
    if (o.exports.json) names.push_back(exports::kRunRecordFileName);
    if (!o.render.empty()) names.push_back("GRN." + o.render);
    for (const std::string& input : o.inputs) {
        for (const std::string& name : names) {
            const std::filesystem::path result = std::filesystem::path(o.output_dir) / name;
            std::error_code ec;
            if (!std::filesystem::equivalent(input, result, ec) || ec) continue;
            return "the input " + input + " is the file " + output::shown_path(result).string() +
                   " that this run would replace with its results; copy it elsewhere, or choose "
                   "another folder with --output-dir";
        }
    }
    return {};
}

// Units of the files a run writes (GRN.dat 3, GRN.dot 5, the exports 8 to 11, the drawing's
// styled copy 12), as opposed to the data file's.
bool is_output_unit(int unit) { return unit != inference::kDataFileUnit; }

// Reasons a folder gives for refusing the results, which another folder may not give.
bool folder_refuses_writing(int error_number) {
    return error_number == EACCES || error_number == EPERM || error_number == EROFS ||
           error_number == ENOSPC || error_number == EDQUOT;
}

}  // namespace

std::string make_output_folder(const std::filesystem::path& dir,
                               std::vector<std::filesystem::path>& created) {
    created.clear();
    std::error_code ec;
    const auto status = std::filesystem::status(dir, ec);
    if (std::filesystem::is_directory(status)) return {};
    if (std::filesystem::exists(status)) {
        return "the output folder " + dir.string() + " exists but is not a folder";
    }
    // The missing folders from the outermost down, so that a failed run can remove exactly
    // those it made.
    std::vector<std::filesystem::path> missing;
    for (std::filesystem::path p = dir; !p.empty(); p = p.parent_path()) {
        if (std::filesystem::exists(p, ec)) break;
        missing.push_back(p);
        if (p == p.parent_path()) break;
    }
    for (auto p = missing.rbegin(); p != missing.rend(); ++p) {
        // false without an error: another run made it meanwhile, and it is that run's.
        const bool made = std::filesystem::create_directory(*p, ec);
        if (ec) {
            return "cannot create the output folder " + dir.string() + ": " + ec.message();
        }
        if (made) created.push_back(*p);
    }
    return {};
}

std::optional<double> parse_number(const std::string& text) {
    const char* first = text.data();
    const char* last = text.data() + text.size();
    if (first != last && *first == '+') {
        ++first;  // from_chars takes no plus sign; "+-1" stays an error
        if (first != last && *first == '-') return {};
    }
    double value = 0.0;
    const auto [end, ec] = std::from_chars(first, last, value, std::chars_format::general);
    if (ec != std::errc() || end != last || first == last || !std::isfinite(value)) return {};
    return value;
}

std::optional<std::uint64_t> parse_size(const std::string& text) {
    std::uint64_t value = 0;
    const char* last = text.data() + text.size();
    const auto [end, ec] = std::from_chars(text.data(), last, value);
    if (ec != std::errc() || end == text.data() || value == 0) return {};
    int shift = 0;
    if (end != last) {
        if (end + 1 != last) return {};
        switch (*end) {
            case 'K':
            case 'k':
                shift = 10;
                break;
            case 'M':
            case 'm':
                shift = 20;
                break;
            case 'G':
            case 'g':
                shift = 30;
                break;
            case 'T':
            case 't':
                shift = 40;
                break;
            default:
                return {};
        }
    }
    if (shift > 0 && value > (std::numeric_limits<std::uint64_t>::max() >> shift)) return {};
    return value << shift;
}

ParsedArgs parse_args(const std::vector<std::string>& args) {
    ParsedArgs parsed;
    BatchOptions& o = parsed.options;
    auto fail = [&parsed](std::string message) {
        parsed.outcome = ParseOutcome::kError;
        parsed.error = std::move(message);
        return parsed;
    };
    bool have_file = false;
    for (std::size_t a = 0; a < args.size(); ++a) {
        const std::string& arg = args[a];
        for (const std::string flag :
             {"--help", "--version", "--quiet", "--no-wait", "--no-self-loops"}) {
            if (arg.starts_with(flag + "="))
                return fail("option '" + flag + "' takes no value: write '" + flag + "', not '" +
                            arg + "'");
        }
        if (arg == "--help" || arg == "-h") {
            parsed.outcome = ParseOutcome::kHelp;
            return parsed;
        }
        if (arg == "--version") {
            parsed.outcome = ParseOutcome::kVersion;
            return parsed;
        }
        if (arg == "--quiet" || arg == "-q") {
            o.quiet = true;
            continue;
        }
        if (arg == "--no-wait") {
            o.no_wait = true;
            continue;
        }
        if (arg == "--no-self-loops") {
            o.self_loops = false;
            continue;
        }
        if (arg.size() > 2 && arg.rfind("--", 0) == 0) {
            std::string name = arg;
            std::string value;
            const std::size_t eq = arg.find('=');
            if (eq != std::string::npos) {
                name = arg.substr(0, eq);
                value = arg.substr(eq + 1);
            }
            const bool takes_value =
                name == "--lambda" || name == "--threshold" || name == "--output-dir" ||
                name == "--render" || name == "--layout" || name == "--threads" ||
                name == "--engine" || name == "--max-memory" || name == "--seed" ||
                name == "--top" || name == "--input" || name == "--decay" || name == "--export" ||
                name == "--regulators" || name == "--render-max-edges" ||
                name == "--render-timeout" || table::is_table_option(name);
            if (!takes_value) return fail("unknown option '" + name + "'");
            if (eq == std::string::npos) {
                if (a + 1 >= args.size()) return fail("option '" + name + "' needs a value");
                value = args[++a];
            }
            if (table::is_table_option(name)) {
                const std::string problem = table::set_table_option(name, value, o.table_options);
                if (!problem.empty()) return fail(problem);
            } else if (name == "--input") {
                if (value != "data" && value != "table") {
                    return fail("--input takes data or table, not '" + value + "'");
                }
                o.input_kind = value;
            } else if (name == "--lambda" || name == "--threshold") {
                const std::optional<double> number = parse_number(value);
                if (!number) return fail("'" + value + "' is not a number (" + name + ")");
                (name == "--lambda" ? o.lambda : o.threshold) = *number;
                (name == "--lambda" ? o.lambda_given : o.threshold_given) = true;
            } else if (name == "--threads") {
                int threads = 0;
                const auto [end, ec] =
                    std::from_chars(value.data(), value.data() + value.size(), threads);
                if (ec != std::errc() || end != value.data() + value.size() || threads < 1 ||
                    threads > kMaxThreads) {
                    return fail("--threads takes a whole number from 1 to " +
                                std::to_string(kMaxThreads) + ", not '" + value + "'");
                }
                o.threads = threads;
            } else if (name == "--engine") {
                const inference::EngineDescription* engine = inference::find_engine(value);
                if (engine == nullptr) {
                    return fail("--engine takes " + inference::engine_names() + ", not '" + value +
                                "'");
                }
                o.engine = engine->engine;
            } else if (name == "--decay") {
                const std::optional<double> number = parse_number(value);
                if (!number || *number < 0.0) {
                    return fail("--decay takes a number of at least 0, not '" + value + "'");
                }
                o.decay = *number;
            } else if (name == "--seed") {
                const char* end = value.data() + value.size();
                const auto [stop, ec] = std::from_chars(value.data(), end, o.seed);
                if (ec != std::errc() || stop != end || value.empty()) {
                    return fail(
                        "--seed takes a whole number from 0 to 18446744073709551615, not '" +
                        value + "'");
                }
            } else if (name == "--render-max-edges" || name == "--render-timeout") {
                constexpr long long kLargest = 1000000000;
                long long number = 0;
                const char* end = value.data() + value.size();
                const auto [stop, ec] = std::from_chars(value.data(), end, number);
                if (ec != std::errc() || stop != end || number < 1 || number > kLargest) {
                    return fail(name + " takes a whole number from 1 to 1000000000, not '" + value +
                                "'");
                }
                if (name == "--render-max-edges") {
                    o.render_max_edges = static_cast<std::size_t>(number);
                } else {
                    o.render_timeout = std::chrono::seconds(number);
                }
            } else if (name == "--top") {
                const char* end = value.data() + value.size();
                const auto [stop, ec] = std::from_chars(value.data(), end, o.top_edges);
                if (ec != std::errc() || stop != end || o.top_edges < 1) {
                    return fail("--top takes a whole number of at least 1, not '" + value + "'");
                }
            } else if (name == "--max-memory") {
                const std::optional<std::uint64_t> size = parse_size(value);
                if (!size)
                    return fail("--max-memory takes a size like 512M or 4G, not '" + value + "'");
                o.max_memory = *size;
            } else if (name == "--export") {
                const std::optional<exports::ExportSet> set = exports::parse_export_list(value);
                if (!set) {
                    return fail(
                        "--export takes a list of edges, sif, graphml, json, or all or "
                        "none, not '" +
                        value + "'");
                }
                o.exports = *set;
            } else if (name == "--regulators") {
                if (value.empty()) return fail("--regulators needs a file");
                o.regulators_file = value;
            } else if (name == "--output-dir") {
                if (value.empty()) return fail("--output-dir needs a folder");
                o.output_dir = value;
            } else if (name == "--render") {
                if (value != "svg" && value != "png") {
                    return fail("--render takes svg or png, not '" + value + "'");
                }
                o.render = value;
            } else {
                if (value.empty()) return fail("--layout needs a program name");
                o.layout = value;
            }
            continue;
        }
        if (arg.size() > 1 && arg[0] == '-' && arg != "-")
            return fail("unknown option '" + arg + "'");
        if (!have_file) o.data_file = arg;
        o.inputs.push_back(arg);
        have_file = true;
    }
    if (!have_file) return fail("no data file given");
    if (o.inputs.size() > 1 && o.input_kind != "table") {
        if (o.input_kind == "data") return fail("more than one data file given");
        for (const std::string& input : o.inputs) {
            if (!table::has_table_extension(input)) return fail("more than one data file given");
        }
    }
    if (const std::string problem = table::finish_table_options(o.table_options); !problem.empty())
        return fail(problem);
    if (o.top_edges > 0 && o.threshold_given)
        return fail("--top and --threshold exclude each other");
    if (!o.threshold_given) o.threshold = inference::describe(o.engine).default_threshold;
    if (const inference::EngineDescription& engine = inference::describe(o.engine);
        !o.regulators_file.empty() && !engine.no_regulators.empty()) {
        return fail("--engine " + std::string(engine.name) +
                    " takes no --regulators: " + std::string(engine.no_regulators));
    }
    parsed.outcome = ParseOutcome::kRun;
    return parsed;
}

int batch_main(const std::vector<std::string>& args,
               std::ostream& out,
               std::ostream& err,
               bool progress_to_terminal,
               const StopRequest* stop) {
    const ParsedArgs parsed = parse_args(args);
    switch (parsed.outcome) {
        case ParseOutcome::kHelp:
            out << kUsage << "\n" << table::kTableOptionsHelp;
            return 0;
        case ParseOutcome::kVersion:
            out << "netrevia-batch " << NETREVIA_VERSION << "\n";
            return 0;
        case ParseOutcome::kError:
            // One line: what was wrong, and where the options are explained.
            err << "netrevia-batch: " << parsed.error << " (see netrevia-batch --help)\n";
            return 2;
        case ParseOutcome::kRun:
            break;
    }
    const BatchOptions& o = parsed.options;
    const inference::EngineDescription& engine = inference::describe(o.engine);
    const bool by_trees =
        o.engine == selection::Engine::kTrees || o.engine == selection::Engine::kConsensus;
    if (!engine.uses_lambda && o.lambda_given) {
        err << "netrevia-batch: warning: --lambda has no effect with --engine " << engine.name
            << "\n";
    } else if (o.lambda < 0.0) {
        err << "netrevia-batch: warning: --lambda " << o.lambda
            << " is negative: the sparsity term then rewards nonzero entries instead of pulling "
               "them towards zero, so the network comes out denser\n";
    }
    if (!by_trees && o.decay >= 0.0) {
        err << "netrevia-batch: warning: --decay has no effect with --engine " << engine.name
            << "\n";
    }
    if (o.threshold_given && o.threshold < 0.0) {
        err << "netrevia-batch: warning: --threshold " << o.threshold
            << " is negative: every entry of R becomes an edge, those above " << o.threshold
            << " (zeros included) as activations, the others as repressions\n";
    }
    if (const std::string problem = input_named_as_result(o); !problem.empty()) {
        err << "netrevia-batch: " << problem << "\n";
        return 1;
    }

    std::vector<std::filesystem::path> created_folders;
    if (const std::string problem = make_output_folder(o.output_dir, created_folders);
        !problem.empty()) {
        err << "netrevia-batch: " << problem << "\n";
        return 1;
    }
    std::optional<output::ResultFolderLock> lock;
    // A failed run leaves nothing behind, the folders it made for its results included, but
    // removes them only under their lock: another run may have found them and be waiting for
    // it (that run then makes them again), or be writing into them (they stay).
    const auto remove_created_folders = [&created_folders, &lock, &o] {
        if (created_folders.empty()) return;
        try {
            if (!lock) lock.emplace(o.output_dir, output::LockWait::kNoWait);
        } catch (const std::exception&) {
            return;  // another run holds them now, or they are gone already
        }
        lock->release_and_remove(created_folders);
        lock.reset();
    };
    // The folder's lock, waiting for another run unless --no-wait, and ending the wait at once
    // on a signal. A folder removed meanwhile by a failed run that had made it is made again.
    const auto lock_output_folder = [&] {
        constexpr int kAttempts = 16;
        for (int attempt = 1;; ++attempt) {
            try {
                lock.emplace(o.output_dir,
                             o.no_wait ? output::LockWait::kNoWait : output::LockWait::kWait,
                             stop != nullptr ? &stop->cancel : nullptr);
                return;
            } catch (const output::FolderMissing&) {
                if (attempt == kAttempts) throw;
            }
            if (const std::string problem = make_output_folder(o.output_dir, created_folders);
                !problem.empty()) {
                throw std::runtime_error(problem);
            }
        }
    };

    inference::RunOptions run_options;
    run_options.output_dir = o.output_dir;
    run_options.threads = o.threads;
    run_options.engine = o.engine;
    run_options.memory_budget = o.max_memory;
    run_options.lock_output_dir = false;  // held here, through the drawing
    run_options.seed = o.seed;
    run_options.decay = o.decay;
    run_options.top_edges = o.top_edges;
    run_options.top_edges_self = o.self_loops;  // with --no-self-loops, K between distinct genes
    run_options.notify = [&err](std::string_view notice) { err << notice << std::endl; };
    if (stop != nullptr) {
        run_options.cancel = &stop->cancel;
        run_options.commit_observer = stop->at_commit_step;
    }
    const auto stop_code = [stop] { return 128 + stop->signal.load(); };
    if (progress_to_terminal && !o.quiet && engine.working.empty()) {
        run_options.observer = [&err](int iteration, double objective) {
            err << "\riteration " << std::setw(3) << iteration << "  objective "
                << std::setprecision(10) << objective << std::flush;
        };
    }

    exports::RunRecord record;
    record.start = std::chrono::steady_clock::now();
    record.command_line.push_back("netrevia-batch");
    record.command_line.insert(record.command_line.end(), args.begin(), args.end());
    record.engine = std::string(engine.name);
    record.threads = o.threads > 0
                         ? o.threads
                         : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    record.lambda = o.lambda;
    record.threshold = o.threshold;
    record.self_edges = o.self_loops;
    record.seed = o.seed;
    record.decay = o.decay;
    RunInput input;
    run_options.extra_files = [&](const inference::RunSummary& finished) {
        record.threshold = finished.threshold;  // as drawn: --top and the engine's default
        return exports::export_files(finished, o.exports, record);
    };

    inference::RunSummary summary;
    try {
        // The list first: a missing list stops the run before a large input is read.
        std::vector<std::string> listed;
        exports::InputDigests list_digest;
        if (!o.regulators_file.empty())
            listed = inference::read_regulator_list(o.regulators_file, &list_digest);
        prepare_input(o, run_options, input, out);
        record.inputs = input.files;
        record.tables = input.tables;
        record.replicates = input.replicates;
        if (!o.regulators_file.empty()) {
            record.regulators =
                take_regulators(o.regulators_file, listed, input.experiment, err, run_options);
            record.regulators->file = list_digest.records().front();
        }
        lock_output_folder();
        summary = inference::run_inference(input.experiment, o.lambda, o.threshold, run_options);
    } catch (const NeitherDataFileNorTable& e) {
        err << "netrevia-batch: " << e.what() << "\n";
        remove_created_folders();
        return 1;
    } catch (const table::TableError& e) {
        err << "netrevia-batch: " << e.what() << "\n";
        remove_created_folders();
        return 1;
    } catch (const output::LockWaitCancelled&) {
        err << "netrevia-batch: stopped by signal " << stop->signal.load()
            << " while waiting for the output folder " << o.output_dir
            << "; no result file was changed\n";
        remove_created_folders();
        return stop_code();
    } catch (const inference::RunCancelled&) {
        if (run_options.observer) err << "\n";
        err << "netrevia-batch: stopped by signal " << stop->signal.load()
            << "; no result file was changed\n";
        remove_created_folders();
        return stop_code();
    } catch (const inference::InputError& e) {
        if (run_options.observer) err << "\n";
        err << "netrevia-batch: " << e.what() << "\n";
        remove_created_folders();
        return 1;
    } catch (const output::IoError& e) {
        if (run_options.observer) err << "\n";
        err << "netrevia-batch: " << e.what() << "\n";
        if (is_output_unit(e.unit()) && folder_refuses_writing(e.error_number()))
            err << "netrevia-batch: choose a folder you can write to with --output-dir DIR\n";
        remove_created_folders();
        return 1;
    } catch (const inference::DataFileRejected& e) {
        err << "netrevia-batch: " << e.what() << "\n";
        remove_created_folders();
        return 1;
    } catch (const output::FolderBusy& e) {
        err << "netrevia-batch: " << e.what() << "; try again later, or leave out --no-wait\n";
        return 1;
    } catch (const std::bad_alloc&) {
        err << "netrevia-batch: insufficient virtual memory\n";
        remove_created_folders();
        return 1;
    } catch (const std::exception& e) {
        // Anything else the system refuses (a file system error, say): a failed run, not a
        // crash.
        err << "netrevia-batch: " << e.what() << "\n";
        remove_created_folders();
        return 1;
    }
    if (run_options.observer && summary.network.iterations > 0) err << "\n";
    // A stop request seen from here on came once the commit was past its point of no return:
    // the results are complete, and only the drawing is left to stop.
    const bool stopped_after_commit = stop != nullptr && stop->cancel.load();

    const inference::InferredNetwork& net = summary.network;
    out << "genes:        " << net.n << "\n";
    out << "datasets:     " << net.K;
    if (net.K > 0) {
        out << " (time points:";
        for (int k = 0; k < net.K; ++k)
            out << " " << net.time_point_counts[static_cast<std::size_t>(k)];
        out << ")";
    }
    out << "\n";
    if (record.regulators) {
        out << "regulators:   " << net.regulator_count << " of " << net.n << " genes, from "
            << o.regulators_file << "\n";
    }
    if (!engine.working.empty()) {
        out << "engine:       " << engine.name << ", seed " << o.seed << "\n";
        out << "runs:         " << net.runs << " subsets of " << net.subset_size
            << (record.regulators ? " regulators" : " genes")
            << (o.engine == selection::Engine::kTrees ? " (the signs)" : "") << "\n";
    }
    if (by_trees) {
        out << "trees:        " << net.trees << " per target, decay ";
        if (o.decay >= 0.0) {
            out << std::setprecision(6) << o.decay << " (--decay)\n";
        } else {
            out << "estimated per gene (median " << std::setprecision(6) << median(net.decay)
                << ")\n";
        }
    }
    if (engine.working.empty()) {
        out << "iterations:   " << net.iterations << "\n";
        out << "objective:    " << std::setprecision(12) << net.objective << "\n";
    }
    // GRN.dot draws the diagonal too (mostly each gene's own decay), so the edges between
    // distinct genes are counted apart, against the n(n-1) possible ones.
    const double t = summary.threshold;
    const int self_edges = summary.self_edges;
    const double largest = exports::largest_between_genes(net);
    const int edges = summary.positive_edges + summary.negative_edges;
    // With a list only the pairs from its genes are scored.
    const long long possible =
        static_cast<long long>(net.regulator_count > 0 ? net.regulator_count : net.n) * (net.n - 1);
    // --top with --no-self-loops counts the edges between distinct genes; GRN.dot keeps the
    // self-terms beyond the same cut, and says so.
    std::string top;
    if (o.top_edges > 0) {
        top = " (--top " + std::to_string(o.top_edges) +
              (o.self_loops ? ")" : " between distinct genes)");
    }
    out << "edges:        " << edges << " (" << summary.positive_edges << " positive, "
        << summary.negative_edges << " negative) at threshold " << std::setprecision(6) << t << top
        << "\n              " << edges - self_edges << " between distinct genes of " << possible
        << " possible, " << self_edges << " self-edges"
        << (!o.self_loops && self_edges > 0 ? " (in GRN.dot only: --no-self-loops)" : "") << "\n";
    // A threshold below a thousandth of the largest entry removes only rounding-level entries
    // (single-precision fits leave about 1e-8 where 0 belongs), so it draws nearly the whole
    // solution. On simulated networks of 10 to 50 genes a threshold near 0.2 of the largest
    // entry drew far fewer false edges (scripts/guide_grid.sh, docs/guide.md).
    constexpr double kRoundingShare = 1.0e-3;
    if (largest > 0.0 && std::isfinite(largest) && t < kRoundingShare * largest &&
        o.top_edges == 0) {
        out << "hint:         nearly every nonzero entry is drawn; try --threshold "
            << std::setprecision(2) << exports::kSuggestedShare * largest << " ("
            << exports::kSuggestedShare << " x the largest |R(i,j)|, i != j)\n";
    }
    if (!created_folders.empty())
        out << "created:      " << o.output_dir << " (new output folder)\n";
    out << "matrix:       " << summary.matrix_file.string() << "\n";
    out << "network:      " << summary.graphviz_file.string() << "\n";
    for (const std::filesystem::path& file : summary.extra_files) {
        out << "export:       " << file.string() << "\n";
    }
    if (const std::string flat = exports::flat_genes_warning(net); !flat.empty())
        err << "netrevia-batch: warning: " << flat << "\n";
    for (const std::string& note : net.renamed) {
        err << "netrevia-batch: warning: " << note << "; GRN.dat and GRN.dot name them as shown\n";
    }

    if (o.render.empty()) {
        if (stopped_after_commit) {
            err << "netrevia-batch: signal " << stop->signal.load()
                << " came after the point of no return of the commit: the results are "
                   "complete\n";
        }
        return 0;
    }
    const std::filesystem::path drawn =
        std::filesystem::path(summary.graphviz_file).replace_extension(o.render);
    const RenderLimits limits{o.render_max_edges, o.render_timeout,
                              stop != nullptr ? &stop->cancel : nullptr};
    const RenderResult drawing =
        render_network(net, summary.threshold, o.self_loops, o.render, o.layout, drawn, limits);
    switch (drawing.outcome) {
        case RenderOutcome::kStopped: {
            err << "netrevia-batch: stopped by signal " << stop->signal.load()
                << " before the drawing was done: the results are complete (";
            std::string separator;
            for (const std::filesystem::path& file : result_files(summary)) {
                err << separator << file.string();
                separator = ", ";
            }
            err << "); no " << drawn.string() << " is left\n";
            return stop_code();
        }
        case RenderOutcome::kFailed:
            err << "netrevia-batch: " << drawing.problem << " (GRN.dat and GRN.dot were written)\n";
            return 3;
        case RenderOutcome::kDrawn:
            break;
    }
    out << "drawing:      " << drawn.string() << " (" << drawing.layout;
    if (drawing.extent.drawn < drawing.extent.beyond_threshold) {
        out << "; the " << drawing.extent.drawn << " strongest of "
            << drawing.extent.beyond_threshold << " edges, --render-max-edges";
    }
    out << ")\n";
    return 0;
}

}  // namespace netrevia::cli
