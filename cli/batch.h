#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "cli/render.h"
#include "cli/stop_signal.h"
#include "exports/exports.h"
#include "selection/select_network.h"
#include "table/expression_table.h"

namespace netrevia::cli {

// Command line of the batch tool, parsed strictly.
struct BatchOptions {
    double lambda = 0.0;
    double threshold = 1.0e-6;  // the ensemble engine's own default when not given
    bool lambda_given = false;
    bool threshold_given = false;
    std::string output_dir = ".";
    bool quiet = false;
    std::string render;  // "", "svg" or "png"
    std::string layout;  // Graphviz layout program; empty: chosen by network size
    std::size_t render_max_edges = kDefaultRenderMaxEdges;          // --render-max-edges
    std::chrono::seconds render_timeout = kDefaultRenderTimeLimit;  // --render-timeout
    int threads = 0;                                                // 0: one per hardware thread
    selection::Engine engine = selection::Engine::kExact;           // --engine exact|fast|...
    std::uint64_t seed = 0;                                         // --seed, ensemble and trees
    double decay = -1.0;                                            // --decay; < 0: estimated
    int top_edges = 0;                                              // --top K; 0: by threshold
    bool no_wait = false;             // --no-wait: fail at once when the folder is locked
    std::uint64_t max_memory = 0;     // --max-memory in bytes; 0: the run's default budget
    std::string data_file;            // the first input, taken exactly as given
    std::vector<std::string> inputs;  // a data file, or one or more tables
    std::string input_kind;           // --input data|table; empty: detected
    std::string regulators_file;      // --regulators FILE; empty: every gene may regulate
    table::TableOptions table_options;
    exports::ExportSet exports{true, false, false, true};  // --export; default edges,json
    bool self_loops = true;                                // --no-self-loops clears it
};

enum class ParseOutcome { kRun, kHelp, kVersion, kError };

struct ParsedArgs {
    ParseOutcome outcome = ParseOutcome::kError;
    BatchOptions options;
    std::string error;  // for kError
};

ParsedArgs parse_args(const std::vector<std::string>& args);

// Makes the output folder and its missing parents. created receives the folders made, outermost
// first. Returns "" or a message that names the folder and the reason.
std::string make_output_folder(const std::filesystem::path& dir,
                               std::vector<std::filesystem::path>& created);

// A number argument: the whole text must be one finite decimal number.
std::optional<double> parse_number(const std::string& text);

// A size argument: whole number of bytes, or with the suffix K, M, G or T (powers of 1024,
// either case; "512M", "4G"); positive and below 2^64.
std::optional<std::uint64_t> parse_size(const std::string& text);

// The batch tool. Returns the exit code: 0 success, 1 a failed run (message on err, nothing
// written), 2 a bad command line (usage on err), 3 results written but the drawing failed,
// 128 + the signal number when stop was requested before the commit's point of no return (no
// file changed) or before the drawing was done (the results complete, no picture). A request
// that comes once the commit is past its point of no return lets it finish; without a drawing
// the run then returns 0.
// progress_to_terminal: print the selection's progress on err.
int batch_main(const std::vector<std::string>& args,
               std::ostream& out,
               std::ostream& err,
               bool progress_to_terminal,
               const StopRequest* stop = nullptr);

}  // namespace netrevia::cli
