#pragma once

#include <array>
#include <filesystem>
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
// a limit; std::bad_alloc when memory runs out.
InferredNetwork infer_network(std::string_view data_path,
                              const double& lambda,
                              const RunOptions& options = {});

// The whole inference run: infer_network, then GRN.dat and GRN.dot into options.output_dir.
// Nothing is written when any stage fails.
RunSummary run_inference(std::string_view data_path,
                         const double& lambda,
                         const double& threshold,
                         const RunOptions& options = {});

}  // namespace netrevia::inference
