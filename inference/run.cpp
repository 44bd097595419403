#include "inference/run.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <fstream>
#include <span>
#include <string>
#include <utility>

#include "inference/data_file.h"
#include "inference/dataset_solution.h"
#include "numeric/matrix_ref.h"
#include "output/graphviz_file.h"
#include "output/result_files.h"

namespace netrevia::inference {

namespace {

// Everything one run reads and computes before the selection; it lives from the start of the
// run to its end, and nothing of it survives into the next run.
struct RunState {
    FileHeader header;  // K' and n
    int K = 0;          // dataset blocks read
    std::vector<std::string> gene_names;
    // Slice k (1-based) of each store, an n x n column-major matrix, starts at (k-1)*n*n.
    // The stores hold min(K', 4) slices: more than four blocks are rejected anyway, and a
    // header declaring a huge K' must not exhaust memory.
    std::vector<double> particular_store;  // J0_k
    std::vector<double> basis_store;       // B_k
    std::array<int, selection::kMaxDatasets> time_point_counts{};
    std::array<int, selection::kMaxDatasets> zero_counts{};
    double total_time_points = 0.0;
};

// The path field without its trailing blanks.
std::filesystem::path data_file_path(std::string_view field) {
    const std::size_t end = field.find_last_not_of(' ');
    return std::filesystem::path(field.substr(0, end == std::string_view::npos ? 0 : end + 1));
}

// Block k of the data file, from the line after its marker through its last expression row,
// and its per-dataset solution into slice k of the stores.
void read_and_solve_dataset(DataFileReader& reader,
                            RunState& run,
                            int k,
                            const numeric::Notify& notify) {
    const BlockHeader block = read_block_header(reader, run.header, k);
    const int n = block.n;
    const int T = block.T;
    run.time_point_counts[static_cast<std::size_t>(k - 1)] = T;

    // Per-dataset arrays, zero-filled: values a slash leaves out stay 0.0 (linear scale 1.0).
    // Y is created once the time points have passed their checks, so a block header claiming
    // an absurd T fails on the short time-point line before the big array exists. The
    // log-expression matrix X is kept one row at a time, cleared before each row is read as a
    // cleared X would be.
    std::vector<double> t(static_cast<std::size_t>(T), 0.0);
    read_time_points(reader, k, t);
    read_reserved_value(reader);

    std::vector<double> Y(static_cast<std::size_t>(T) * static_cast<std::size_t>(n), 0.0);
    std::vector<double> x(static_cast<std::size_t>(T), 0.0);
    const numeric::MatrixRef Y_ref{Y.data(), T};  // T x n, row = time point
    for (int i = 1; i <= n; ++i) {
        std::fill(x.begin(), x.end(), 0.0);
        read_expression_row(reader, k, i, run.gene_names[static_cast<std::size_t>(i - 1)], x);
        // Step 1 of the per-dataset solution, row by row as read: Y(j, i) = 2^X(i, j).
        for (int j = 1; j <= T; ++j) {
            Y_ref(j, i) = std::pow(2.0, x[static_cast<std::size_t>(j - 1)]);
        }
    }

    check_rates_of_change(reader, k, t, Y.empty() ? 0.0 : *std::max_element(Y.begin(), Y.end()));

    // A file of no genes has nothing to solve: J0_k and B_k are empty and z_k stays 0.
    if (n > 0) {
        const std::ptrdiff_t slice = std::ptrdiff_t{k - 1} * n * n;
        run.zero_counts[static_cast<std::size_t>(k - 1)] =
            solve_dataset(n, T, t, Y, numeric::MatrixRef{run.particular_store.data() + slice, n},
                          numeric::MatrixRef{run.basis_store.data() + slice, n}, notify);
    }
    run.total_time_points += T;
}

void stop_if_cancelled(const RunOptions& options) {
    if (options.cancel != nullptr && options.cancel->load()) throw RunCancelled();
}

}  // namespace

InferredNetwork infer_network(std::string_view data_path,
                              const double& lambda,
                              const RunOptions& options) {
    RunState run;
    const std::filesystem::path file = data_file_path(data_path);
    std::ifstream in = open_data_file(file);
    DataFileReader reader(in, file);

    run.header = read_file_header(reader);
    const int n = run.header.n;
    const std::size_t slices =
        static_cast<std::size_t>(std::min(run.header.declared_count, kMaxDatasetBlocks));
    const std::size_t matrix_size = static_cast<std::size_t>(n) * static_cast<std::size_t>(n);
    run.particular_store.assign(slices * matrix_size, 0.0);
    run.basis_store.assign(slices * matrix_size, 0.0);
    run.gene_names = read_gene_names(reader, n);

    while (!is_end_marker(reader.read_marker())) {
        ++run.K;
        stop_if_cancelled(options);
        if (options.dataset_observer) options.dataset_observer(run.K);
        read_and_solve_dataset(reader, run, run.K, options.notify);
    }
    in.close();
    stop_if_cancelled(options);
    if (options.dataset_observer) options.dataset_observer(0);

    selection::SelectionInput input;
    input.n = n;
    input.K = run.K;
    input.particular_store = &run.particular_store;
    input.basis_store = &run.basis_store;
    input.zero_counts = run.zero_counts;
    input.time_point_counts = run.time_point_counts;
    input.total_time_points = run.total_time_points;
    input.lambda = lambda;
    input.threads = options.threads;
    input.engine = options.engine;
    input.cancel = options.cancel;
    selection::SelectionResult selected = selection::select_network(input, options.observer);
    if (selected.cancelled) throw RunCancelled();

    InferredNetwork network;
    network.n = n;
    network.K = run.K;
    network.gene_names = std::move(run.gene_names);
    network.time_point_counts = run.time_point_counts;
    network.zero_counts = run.zero_counts;
    network.R = std::move(selected.R);
    network.iterations = selected.iterations;
    network.objective = selected.objective;
    return network;
}

RunSummary run_inference(std::string_view data_path,
                         const double& lambda,
                         const double& threshold,
                         const RunOptions& options) {
    RunSummary summary;
    summary.network = infer_network(data_path, lambda, options);
    const InferredNetwork& network = summary.network;
    const int n = network.n;
    const numeric::ConstMatrixRef R{network.R.data(), n};
    // The last safe point: past it the files are written and committed as a whole.
    stop_if_cancelled(options);
    output::write_result_files(options.output_dir, network.gene_names, R, n, threshold);

    // The edges GRN.dot holds, by the writer's own rule.
    for (int j = 1; j <= n; ++j) {
        for (int i = 1; i <= n; ++i) {
            const int sign = output::edge_sign(R(i, j), threshold);
            if (sign > 0) ++summary.positive_edges;
            if (sign < 0) ++summary.negative_edges;
            if (sign != 0 && i == j) ++summary.self_edges;
        }
    }
    summary.matrix_file = options.output_dir / "GRN.dat";
    summary.graphviz_file = options.output_dir / "GRN.dot";
    return summary;
}

}  // namespace netrevia::inference
