#pragma once

#include <array>
#include <atomic>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "numeric/notify.h"
#include "selection/select_network.h"

namespace netrevia::inference {

// Everything a run may report besides its two files. Callers may leave every member empty.
struct RunOptions {
    std::filesystem::path output_dir = ".";  // where GRN.dat and GRN.dot go
    numeric::Notify notify;                  // "no convergence in svdcmp"
    selection::Observer observer;            // progress of the selection loop
    int threads = 0;  // worker threads of the selection; 0: one per hardware thread
    selection::Engine engine = selection::Engine::kExact;  // how the projection fits run
    // Progress of the set-up: called with k before dataset block k (from 1) is read and
    // solved, and with 0 once every block is solved and the selection begins.
    std::function<void(int k)> dataset_observer;
    // Set by another thread (or a signal handler) to stop the run at its next safe point:
    // between datasets, between fits, between iterations, and last just before the result
    // files are committed. A stopped run throws RunCancelled and writes nothing.
    const std::atomic<bool>* cancel = nullptr;
};

// The run saw its cancel flag set and stopped; no result file was written or changed.
class RunCancelled : public std::runtime_error {
public:
    RunCancelled() : std::runtime_error("the run was cancelled") {}
};

// The inferred network before it is written: gene names (9 characters each) and R.
struct InferredNetwork {
    int n = 0;
    int K = 0;  // datasets read
    std::vector<std::string> gene_names;
    std::array<int, selection::kMaxDatasets> time_point_counts{};
    std::array<int, selection::kMaxDatasets> zero_counts{};
    std::vector<double> R;  // n x n column-major
    int iterations = 0;
    double objective = 0.0;
};

struct RunSummary {
    InferredNetwork network;
    int positive_edges = 0;
    int negative_edges = 0;
    int self_edges = 0;  // of the edges above, those from a gene to itself
    std::filesystem::path matrix_file;
    std::filesystem::path graphviz_file;
};

// Reads the data file and carries its datasets through the per-dataset solutions and the
// network selection. data_path is the path field; its trailing blanks are not part of the
// name. Throws output::IoError on fatal read errors and DataFileRejected when the file breaks
// a limit; std::bad_alloc when memory runs out; RunCancelled when options.cancel is set.
InferredNetwork infer_network(std::string_view data_path,
                              const double& lambda,
                              const RunOptions& options = {});

// The whole inference run: infer_network, then GRN.dat and GRN.dot into options.output_dir.
// Nothing is written when any stage fails or the run is cancelled before the commit.
RunSummary run_inference(std::string_view data_path,
                         const double& lambda,
                         const double& threshold,
                         const RunOptions& options = {});

}  // namespace netrevia::inference
