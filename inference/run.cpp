#include "inference/run.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <utility>

#include "ensemble/ensemble.h"
#include "inference/data_file.h"
#include "inference/dataset_solution.h"
#include "numeric/matrix_ref.h"
#include "output/graphviz_file.h"
#include "output/result_files.h"
#include "output/result_folder.h"

namespace netrevia::inference {

namespace {

// Everything one run reads and computes before the selection; it lives from the start of the
// run to its end, and nothing of it survives into the next run.
struct RunState {
    FileHeader header;  // K' and n
    int K = 0;          // dataset blocks read
    std::vector<std::string> gene_names;
    std::vector<std::string> full_names;
    // Slice k (1-based) of each store, an n x n column-major matrix, starts at (k-1)*n*n.
    // The stores hold min(K', 4) slices: more than four blocks are rejected anyway, and a
    // header declaring a huge K' must not exhaust memory.
    std::vector<double> particular_store;  // J0_k
    std::vector<double> basis_store;       // B_k
    std::array<int, kMaxEnsembleBlocks> time_point_counts{};
    std::array<int, kMaxEnsembleBlocks> zero_counts{};
    double total_time_points = 0.0;
    std::uint64_t memory_budget = 0;  // bytes
    std::uint64_t store_bytes = 0;    // of the two stores
    // The ensemble engine keeps every course as read (times, and levels T x n on the linear
    // scale) instead of solving it; the stores above stay empty.
    bool keep_courses = false;
    std::vector<std::vector<double>> course_times;
    std::vector<std::vector<double>> course_levels;
};

constexpr std::uint64_t kDouble = sizeof(double);

// The sign of a NaN depends on how it arose (and on the optimisation level): not shown.
std::string format_number(double x) {
    if (std::isnan(x)) return "nan";
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, x);
    return std::string(text, result.ptr);
}

// "632 bytes", "512.0 MiB", "4.5 GiB": sizes in messages.
std::string format_size(std::uint64_t bytes) {
    if (bytes < (std::uint64_t{1} << 20)) return std::to_string(bytes) + " bytes";
    const bool gib = bytes >= (std::uint64_t{1} << 30);
    const double value = static_cast<double>(bytes) / (gib ? 1073741824.0 : 1048576.0);
    char text[48];
    std::snprintf(text, sizeof text, "%.1f %s", value, gib ? "GiB" : "MiB");
    return text;
}

[[noreturn]] void reject_for_memory(const std::filesystem::path& file,
                                    std::string_view where,
                                    std::uint64_t need,
                                    std::string_view parts,
                                    std::uint64_t budget) {
    throw DataFileRejected("data file " + file.string() + ", " + std::string(where) +
                           ": the run needs " + format_size(need) + " (" + std::string(parts) +
                           "), more than the memory budget of " + format_size(budget));
}

// Before the stores exist: the stores (2 x S x n^2 doubles for S = min(K', 4) slices) and what
// the selection adds later while they live on: its own 2 x S x n^2, J and R (n^2 each), and one
// tableau of (n + 2)^2 doubles per worker thread.
void check_store_budget(const std::filesystem::path& file,
                        RunState& run,
                        std::uint64_t slices,
                        int threads) {
    const std::uint64_t n = static_cast<std::uint64_t>(run.header.n);
    const std::uint64_t workers = static_cast<std::uint64_t>(
        threads > 0 ? threads : std::max(1U, std::thread::hardware_concurrency()));
    run.store_bytes = 2 * slices * n * n * kDouble;
    const std::uint64_t selection =
        (2 * slices * n * n + 2 * n * n) * kDouble + workers * (n + 2) * (n + 2) * kDouble;
    if (run.store_bytes + selection > run.memory_budget) {
        reject_for_memory(file, "header", run.store_bytes + selection,
                          std::to_string(n) + " genes, " + std::to_string(slices) +
                              " datasets: " + format_size(run.store_bytes) + " for the stores, " +
                              format_size(selection) + " for the selection",
                          run.memory_budget);
    }
}

// Before a block's arrays exist: t and one row (2T), Y (T x n), the rates and the pseudo-inverse
// (n x (T-1) each), and a few vectors of n, besides the stores.
void check_block_budget(const std::filesystem::path& file, const RunState& run, int k, int T) {
    const std::uint64_t n = static_cast<std::uint64_t>(run.header.n);
    const std::uint64_t t = static_cast<std::uint64_t>(T);
    const std::uint64_t block = (2 * t + t * n + 2 * n * (t - 1) + 4 * n) * kDouble;
    if (run.store_bytes + block > run.memory_budget) {
        reject_for_memory(file, "dataset block " + std::to_string(k), run.store_bytes + block,
                          std::to_string(n) + " genes x " + std::to_string(T) +
                              " time points: " + format_size(block) + " for the block, " +
                              format_size(run.store_bytes) + " for the stores",
                          run.memory_budget);
    }
}

// A particular solution with a non-finite entry would carry it into every fit of the selection.
void check_particular_solution(const DataFileReader& reader,
                               int k,
                               numeric::ConstMatrixRef J0,
                               int n) {
    for (int j = 1; j <= n; ++j) {
        for (int i = 1; i <= n; ++i) {
            if (std::isfinite(J0(i, j))) continue;
            throw DataFileRejected(
                "data file " + reader.file().string() + ", dataset block " + std::to_string(k) +
                ": the particular solution is not finite: " + "J0(" + std::to_string(i) + ", " +
                std::to_string(j) + ") = " + format_number(J0(i, j)) +
                " (the rates of change are too large for the decomposition)");
        }
    }
}

// The path field of the window without its trailing blanks.
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
    const BlockHeader block = read_block_header(
        reader, run.header, k, run.keep_courses ? kMaxEnsembleBlocks : kMaxDatasetBlocks);
    const int n = block.n;
    const int T = block.T;
    check_block_budget(reader.file(), run, k, T);
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

    check_rates_of_change(reader, k, t, numeric::ConstMatrixRef{Y.data(), T}, run.gene_names);

    if (run.keep_courses) {
        run.course_times.push_back(std::move(t));
        run.course_levels.push_back(std::move(Y));
    } else if (n > 0) {
        // A file of no genes has nothing to solve: J0_k and B_k are empty and z_k stays 0.
        const std::ptrdiff_t slice = std::ptrdiff_t{k - 1} * n * n;
        const numeric::MatrixRef J0{run.particular_store.data() + slice, n};
        run.zero_counts[static_cast<std::size_t>(k - 1)] = solve_dataset(
            n, T, t, Y, J0, numeric::MatrixRef{run.basis_store.data() + slice, n}, notify);
        check_particular_solution(reader, k, numeric::ConstMatrixRef{J0.data, n}, n);
    }
    run.total_time_points += T;
}

void stop_if_cancelled(const RunOptions& options) {
    if (options.cancel != nullptr && options.cancel->load()) throw RunCancelled();
}

// The ensemble estimator on the courses the run kept. Refuses courses too short for a fit of
// two genes and an intercept.
void infer_by_ensemble(RunState& run,
                       const std::filesystem::path& file,
                       const RunOptions& options,
                       InferredNetwork& network) {
    const int n = run.header.n;
    std::vector<ensemble::Course> courses;
    long long intervals = 0;
    for (std::size_t k = 0; k < run.course_times.size(); ++k) {
        courses.push_back({static_cast<int>(run.course_times[k].size()), run.course_times[k],
                           run.course_levels[k]});
        intervals += courses.back().T - 1;
    }
    if (n >= 2 && ensemble::subset_size(n, intervals) == 0) {
        throw DataFileRejected("data file " + file.string() +
                               ": the ensemble engine needs at least 4 intervals (time points "
                               "less one, over all courses) to fit 2 genes and an intercept; "
                               "the " +
                               std::to_string(run.K) + " course(s) hold " +
                               std::to_string(intervals));
    }
    ensemble::Input input;
    input.n = n;
    input.courses = courses;
    input.seed = options.seed;
    input.threads = options.threads;
    ensemble::Result result = ensemble::infer(input);
    network.R = std::move(result.R);
    network.subset_size = result.m;
    network.runs = result.runs;
}

// The threshold that draws the K largest |R(i,j)| (i != j only, unless with_self): the
// (K+1)-th largest, or 0 when there are no more than K entries (the edge rule is strict, so
// zeros are never drawn).
double top_edges_threshold(const std::vector<double>& R, int n, int K, bool with_self) {
    const auto un = static_cast<std::size_t>(n);
    std::vector<double> magnitudes;
    for (std::size_t e = 0; e < R.size(); ++e) {
        // Entry e is R(e % n + 1, e / n + 1); NaN counts as 0, as the edge rule never draws it.
        if (with_self || e % un != e / un)
            magnitudes.push_back(std::isnan(R[e]) ? 0.0 : std::abs(R[e]));
    }
    if (static_cast<std::size_t>(K) >= magnitudes.size()) return 0.0;
    const auto cut = magnitudes.begin() + K;
    std::nth_element(magnitudes.begin(), cut, magnitudes.end(), std::greater<>());
    return *cut;
}

}  // namespace

std::uint64_t default_memory_budget() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long page_size = sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || page_size <= 0) return std::uint64_t{4} << 30;  // unknown: 8 GiB machine
    return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page_size) / 2;
}

InferredNetwork infer_network(std::string_view data_path,
                              const double& lambda,
                              const RunOptions& options) {
    return infer_network_from_file(data_file_path(data_path), lambda, options);
}

InferredNetwork infer_network_from_file(const std::filesystem::path& file,
                                        const double& lambda,
                                        const RunOptions& options) {
    RunState run;
    run.memory_budget = options.memory_budget > 0 ? options.memory_budget : default_memory_budget();
    run.keep_courses = options.engine == selection::Engine::kEnsemble;
    std::ifstream in = open_data_file(file);
    DataFileReader reader(in, file);

    run.header = read_file_header(reader);
    const int n = run.header.n;
    const std::size_t slices =
        run.keep_courses
            ? 0
            : static_cast<std::size_t>(std::min(run.header.declared_count, kMaxDatasetBlocks));
    check_store_budget(file, run, slices, options.threads);
    const std::size_t matrix_size = static_cast<std::size_t>(n) * static_cast<std::size_t>(n);
    run.particular_store.assign(slices * matrix_size, 0.0);
    run.basis_store.assign(slices * matrix_size, 0.0);
    run.gene_names = read_gene_names(reader, n, &run.full_names);

    while (!is_end_marker(reader.read_marker())) {
        ++run.K;
        stop_if_cancelled(options);
        if (options.dataset_observer) options.dataset_observer(run.K);
        read_and_solve_dataset(reader, run, run.K, options.notify);
    }
    in.close();
    stop_if_cancelled(options);
    if (options.dataset_observer) options.dataset_observer(0);

    InferredNetwork network;
    network.n = n;
    network.K = run.K;
    network.time_point_counts = run.time_point_counts;
    network.zero_counts = run.zero_counts;
    if (run.keep_courses) {
        infer_by_ensemble(run, file, options, network);
        network.gene_names = std::move(run.gene_names);
        network.full_names = std::move(run.full_names);
        return network;
    }

    selection::SelectionInput input;
    input.n = n;
    input.K = run.K;
    input.particular_store = &run.particular_store;
    input.basis_store = &run.basis_store;
    std::copy_n(run.zero_counts.begin(), selection::kMaxDatasets, input.zero_counts.begin());
    std::copy_n(run.time_point_counts.begin(), selection::kMaxDatasets,
                input.time_point_counts.begin());
    input.total_time_points = run.total_time_points;
    input.lambda = lambda;
    input.threads = options.threads;
    input.engine = options.engine;
    input.cancel = options.cancel;
    selection::SelectionResult selected = selection::select_network(input, options.observer);
    if (selected.cancelled) throw RunCancelled();
    // Finite stores can still give a non-finite R (an overflow inside the fits): never a result.
    const numeric::ConstMatrixRef R{selected.R.data(), std::max(n, 1)};
    for (int j = 1; j <= n; ++j) {
        for (int i = 1; i <= n; ++i) {
            if (std::isfinite(R(i, j))) continue;
            throw DataFileRejected("data file " + file.string() +
                                   ", result: the interaction matrix is not finite: R(" +
                                   std::to_string(i) + ", " + std::to_string(j) +
                                   ") = " + format_number(R(i, j)));
        }
    }

    network.gene_names = std::move(run.gene_names);
    network.full_names = std::move(run.full_names);
    network.R = std::move(selected.R);
    network.iterations = selected.iterations;
    network.objective = selected.objective;
    return network;
}

RunSummary run_inference(std::string_view data_path,
                         const double& lambda,
                         const double& threshold,
                         const RunOptions& options) {
    return run_inference_from_file(data_file_path(data_path), lambda, threshold, options);
}

RunSummary run_inference_from_file(const std::filesystem::path& file,
                                   const double& lambda,
                                   const double& threshold,
                                   const RunOptions& options) {
    // One run at a time per output folder, from the repair of what an earlier killed run left
    // to the last rename; a write-protected result refuses the run before any work.
    std::optional<output::ResultFolderLock> lock;
    try {
        if (options.lock_output_dir)
            lock.emplace(options.output_dir, output::LockWait::kWait, options.cancel);
    } catch (const output::LockWaitCancelled&) {
        throw RunCancelled();
    }
    output::check_results_replaceable(options.output_dir);

    RunSummary summary;
    summary.network = infer_network_from_file(file, lambda, options);
    const InferredNetwork& network = summary.network;
    const int n = network.n;
    const numeric::ConstMatrixRef R{network.R.data(), std::max(n, 1)};
    summary.threshold = options.top_edges > 0 ? top_edges_threshold(network.R, n, options.top_edges,
                                                                    options.top_edges_self)
                                              : threshold;

    // The edges GRN.dot holds, by the writer's own rule.
    for (int j = 1; j <= n; ++j) {
        for (int i = 1; i <= n; ++i) {
            const int sign = output::edge_sign(R(i, j), summary.threshold);
            if (sign > 0) ++summary.positive_edges;
            if (sign < 0) ++summary.negative_edges;
            if (sign != 0 && i == j) ++summary.self_edges;
        }
    }
    summary.matrix_file = options.output_dir / "GRN.dat";
    summary.graphviz_file = options.output_dir / "GRN.dot";
    std::vector<output::ExtraResultFile> extras;
    if (options.extra_files) extras = options.extra_files(summary);
    for (const output::ExtraResultFile& extra : extras) {
        summary.extra_files.push_back(options.output_dir / extra.name);
    }
    // The last safe points are inside the commit, up to its point of no return.
    stop_if_cancelled(options);
    const output::CommitControl control{options.cancel, options.commit_observer};
    try {
        output::write_result_files(options.output_dir, network.gene_names, R, n, summary.threshold,
                                   extras, &control);
    } catch (const output::CommitAbandoned&) {
        throw RunCancelled();
    }
    return summary;
}

}  // namespace netrevia::inference
