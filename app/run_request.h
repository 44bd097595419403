#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "exports/exports.h"
#include "inference/experiment.h"
#include "inference/run.h"
#include "selection/select_network.h"
#include "table/expression_table.h"

namespace netrevia::app {

// How the window reads the chosen file: as a data file, or as an expression table with the
// options the import dialog set (the batch tool's table options, given as its arguments).
struct InputChoice {
    bool table = false;
    table::TableOptions table_options;
    std::vector<std::string> table_arguments;
    std::string table_format;  // "DREAM layout, tabs"
};

// What Open read from the chosen file, shown before a run and checked against the engine.
struct InputSummary {
    bool read = false;
    std::string problem;  // why the file could not be read, when !read
    int genes = 0;
    std::vector<int> time_points;  // per course

    int courses() const noexcept { return static_cast<int>(time_points.size()); }
    // Time points less one, over all courses.
    long long intervals() const noexcept;
};

InputSummary summarize(const inference::Experiment& experiment);

// The line the window shows for it: "Read: 10 genes, 4 courses of 21 time points (data file)",
// or "Not read as a data file: <why>".
std::string summary_line(const InputSummary& summary, const InputChoice& input);

// Reads a chosen file as a data file to see what it holds, with the limits of the engine that
// takes the most courses, so that the engine chosen later can say whether it takes them.
// Throws what inference::read_data_file throws.
InputSummary read_data_file_summary(const std::filesystem::path& file);

// One run as the window asks for it.
struct RunRequest {
    std::string data_path;  // the path field: the chosen file, blank-padded
    InputChoice input;
    double lambda = 0.0;
    double threshold = 0.0;
    selection::Engine engine = selection::Engine::kExact;
    std::uint64_t seed = 0;
    std::filesystem::path output_dir = ".";  // where GRN.dat and GRN.dot go
};

// What run.json says of a run's input besides its files, as the run found it.
struct RunNotes {
    std::optional<exports::ReplicateRecord> replicates;  // tables with replicates
};

// The run netrevia-batch makes of the same file, engine, seed and parameters, so that both give
// the same GRN.dat and GRN.dot: a data file through inference::run_inference, a table read by
// table::import_tables with the engine's course limit and handed to the engine as
// table::to_experiment makes it. hooks carries the notice, progress and cancel members of the
// run's options; notes receives what the run found of its input. Throws what those throw
// (table::TableError for a refused table).
inference::RunSummary run_request(const RunRequest& request,
                                  const inference::RunOptions& hooks,
                                  RunNotes& notes);

}  // namespace netrevia::app
