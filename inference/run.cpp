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
#include "trees/engine.h"

namespace netrevia::inference {

namespace {

constexpr std::uint64_t kDouble = sizeof(double);

// The sign of a NaN depends on how it arose (and on the optimisation level): not shown.
std::string format_number(double x) {
    if (std::isnan(x)) return "nan";
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, x);
    return std::string(text, result.ptr);
}

[[noreturn]] void reject_for_memory(std::string_view where,
                                    std::uint64_t need,
                                    std::string_view parts,
                                    std::uint64_t budget) {
    throw DataFileRejected(std::string(where) + ": the run needs " + format_size(need) + " (" +
                           std::string(parts) + "), more than the memory budget of " +
                           format_size(budget));
}

std::uint64_t memory_budget(const RunOptions& options) {
    return options.memory_budget > 0 ? options.memory_budget : default_memory_budget();
}

// The engines that take the courses as they are, instead of solving each one for the selection.
bool keeps_courses(selection::Engine engine) {
    return engine == selection::Engine::kEnsemble || engine == selection::Engine::kTrees ||
           engine == selection::Engine::kConsensus;
}

// Slices of the two stores: min(K', 4) for the engines that solve each course, none otherwise;
// a header declaring a huge K' must not exhaust memory.
std::uint64_t store_slices(const RunOptions& options, int declared_count) {
    if (keeps_courses(options.engine)) return 0;
    return static_cast<std::uint64_t>(std::min(declared_count, kMaxDatasetBlocks));
}

// Before the stores exist: the stores (2 x S x n^2 doubles for S slices) and what the selection
// adds later while they live on: its own 2 x S x n^2, J and R (n^2 each), and one tableau of
// (n + 2)^2 doubles per worker thread. Returns the bytes of the stores.
std::uint64_t check_store_budget(std::string_view where,
                                 int gene_count,
                                 std::uint64_t slices,
                                 const RunOptions& options) {
    const std::uint64_t n = static_cast<std::uint64_t>(gene_count);
    const std::uint64_t workers = static_cast<std::uint64_t>(
        options.threads > 0 ? options.threads : std::max(1U, std::thread::hardware_concurrency()));
    const std::uint64_t store_bytes = 2 * slices * n * n * kDouble;
    const std::uint64_t selection =
        (2 * slices * n * n + 2 * n * n) * kDouble + workers * (n + 2) * (n + 2) * kDouble;
    const std::uint64_t budget = memory_budget(options);
    if (store_bytes + selection > budget) {
        reject_for_memory(where, store_bytes + selection,
                          std::to_string(n) + " genes, " + std::to_string(slices) +
                              " datasets: " + format_size(store_bytes) + " for the stores, " +
                              format_size(selection) + " for the selection",
                          budget);
    }
    return store_bytes;
}

// Before a block's arrays exist: t and one row (2T), Y (T x n), the rates and the pseudo-inverse
// (n x (T-1) each), and a few vectors of n, besides the stores and the courses read before.
void check_block_budget(const std::filesystem::path& file,
                        int gene_count,
                        int k,
                        int T,
                        std::uint64_t store_bytes,
                        std::uint64_t held_bytes,
                        std::uint64_t budget) {
    const std::uint64_t n = static_cast<std::uint64_t>(gene_count);
    const std::uint64_t t = static_cast<std::uint64_t>(T);
    const std::uint64_t block = (2 * t + t * n + 2 * n * (t - 1) + 4 * n) * kDouble;
    if (store_bytes + held_bytes + block > budget) {
        reject_for_memory(
            "data file " + file.string() + ", dataset block " + std::to_string(k),
            store_bytes + held_bytes + block,
            std::to_string(n) + " genes x " + std::to_string(T) +
                " time points: " + format_size(block) + " for the block, " +
                format_size(store_bytes) + " for the stores" +
                (held_bytes > 0 ? ", " + format_size(held_bytes) + " for the courses before"
                                : std::string()),
            budget);
    }
}

// A particular solution with a non-finite entry would carry it into every fit of the selection.
void check_particular_solution(const Course& course, numeric::ConstMatrixRef J0, int n) {
    for (int j = 1; j <= n; ++j) {
        for (int i = 1; i <= n; ++i) {
            if (std::isfinite(J0(i, j))) continue;
            throw DataFileRejected(
                course.origin + ": the particular solution is not finite: " + "J0(" +
                std::to_string(i) + ", " + std::to_string(j) + ") = " + format_number(J0(i, j)) +
                " (the rates of change are too large for the decomposition)");
        }
    }
}

// The path field of the window without its trailing blanks.
std::filesystem::path data_file_path(std::string_view field) {
    const std::size_t end = field.find_last_not_of(' ');
    return std::filesystem::path(field.substr(0, end == std::string_view::npos ? 0 : end + 1));
}

// Block k of the data file, from the line after its marker through its last expression row.
Course read_dataset(DataFileReader& reader,
                    const FileHeader& header,
                    int k,
                    const std::vector<std::string>& gene_names,
                    const RunOptions& options,
                    std::uint64_t store_bytes,
                    std::uint64_t held_bytes) {
    const BlockHeader block =
        read_block_header(reader, header, k, engine_course_limit(options.engine));
    const int n = block.n;
    const int T = block.T;
    check_block_budget(reader.file(), n, k, T, store_bytes, held_bytes, memory_budget(options));

    // Values a slash leaves out stay 0.0 (linear scale 1.0). The levels are created once the
    // time points have passed their checks, so a block header claiming an absurd T fails on the
    // short time-point line before the big array exists. The log-expression matrix X is kept
    // one row at a time, cleared before each row is read as a cleared X would be.
    Course course;
    course.origin = "data file " + reader.file().string() + ", dataset block " + std::to_string(k);
    course.t.assign(static_cast<std::size_t>(T), 0.0);
    read_time_points(reader, k, course.t);
    read_reserved_value(reader);

    course.levels.assign(static_cast<std::size_t>(T) * static_cast<std::size_t>(n), 0.0);
    std::vector<double> x(static_cast<std::size_t>(T), 0.0);
    const numeric::MatrixRef Y{course.levels.data(), T};  // T x n, row = time point
    for (int i = 1; i <= n; ++i) {
        std::fill(x.begin(), x.end(), 0.0);
        read_expression_row(reader, k, i, gene_names[static_cast<std::size_t>(i - 1)], x);
        // Step 1 of the per-dataset solution, row by row as read: Y(j, i) = 2^X(i, j).
        for (int j = 1; j <= T; ++j) Y(j, i) = std::pow(2.0, x[static_cast<std::size_t>(j - 1)]);
    }
    check_rates_of_change(reader, k, course.t, numeric::ConstMatrixRef{Y.data, T}, gene_names);
    return course;
}

void stop_if_cancelled(const RunOptions& options) {
    if (options.cancel != nullptr && options.cancel->load()) throw RunCancelled();
}

// The tree engine on the courses as read, alone or in consensus with the ensemble estimator,
// once its arrays are known to fit in the memory budget.
void infer_by_trees(const Experiment& experiment,
                    const RunOptions& options,
                    std::span<const ensemble::Course> courses,
                    long long intervals,
                    InferredNetwork& network) {
    const int n = experiment.n();
    std::uint64_t held = 0;  // the courses themselves
    for (const Course& course : experiment.courses) held += course.levels.size() * kDouble;
    const auto regulators =
        static_cast<int>(std::count_if(options.regulators.begin(), options.regulators.end(),
                                       [](unsigned char regulator) { return regulator != 0; }));
    const std::uint64_t need = trees::memory_need(n, intervals, options.threads, regulators);
    if (held + need > memory_budget(options)) {
        reject_for_memory(experiment.origin + ", courses", held + need,
                          std::to_string(n) + " genes, " + std::to_string(intervals) +
                              " intervals: " + format_size(need) + " for the tree engine, " +
                              format_size(held) + " for the courses",
                          memory_budget(options));
    }
    trees::Input input;
    input.n = n;
    input.courses = courses;
    input.seed = options.seed;
    input.threads = options.threads;
    const std::vector<double> decay(static_cast<std::size_t>(n), options.decay);
    if (options.decay >= 0.0) input.decay = decay;
    input.cancel = options.cancel;
    input.regulators = options.regulators;
    trees::Result result = trees::infer(input);
    if (result.cancelled) throw RunCancelled();
    network.R = options.engine == selection::Engine::kConsensus
                    ? trees::consensus(result.R, result.ensemble_R, result.ensemble_R, n,
                                       options.regulators)
                    : std::move(result.R);
    network.subset_size = result.subset_size;
    network.runs = result.runs;
    network.trees = result.trees;
    network.decay = std::move(result.decay);
}

// The engines that take the courses as read: the ensemble estimator, the tree engine and their
// consensus. Refuses courses too short for a fit of two genes and an intercept (the ensemble
// fits give the tree engine its signs).
void infer_from_courses(const Experiment& experiment,
                        const RunOptions& options,
                        InferredNetwork& network) {
    const int n = experiment.n();
    std::vector<ensemble::Course> courses;
    long long intervals = 0;
    for (const Course& course : experiment.courses) {
        courses.push_back({course.T(), course.t, course.levels});
        intervals += course.T() - 1;
    }
    const bool by_ensemble = options.engine == selection::Engine::kEnsemble;
    if (n >= 2 && ensemble::subset_size(n, intervals) == 0) {
        throw DataFileRejected(
            experiment.origin + ": the " +
            (by_ensemble                                   ? "ensemble"
             : options.engine == selection::Engine::kTrees ? "tree"
                                                           : "consensus") +
            " engine needs at least 4 intervals (time points less one, over all courses) to fit "
            "2 genes and an intercept; the " +
            std::to_string(experiment.K()) + " course(s) hold " + std::to_string(intervals));
    }
    if (!by_ensemble) {
        infer_by_trees(experiment, options, courses, intervals, network);
        return;
    }
    ensemble::Input input;
    input.n = n;
    input.courses = courses;
    input.seed = options.seed;
    input.threads = options.threads;
    input.regulators = options.regulators;
    ensemble::Result result = ensemble::infer(input);
    network.R = std::move(result.R);
    network.subset_size = result.m;
    network.runs = result.runs;
    network.flat_genes = std::move(result.flat_genes);
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

// "632 bytes", "512.0 MiB", "4.5 GiB": sizes in messages.
std::string format_size(std::uint64_t bytes) {
    if (bytes < (std::uint64_t{1} << 20)) return std::to_string(bytes) + " bytes";
    const bool gib = bytes >= (std::uint64_t{1} << 30);
    const double value = static_cast<double>(bytes) / (gib ? 1073741824.0 : 1048576.0);
    char text[48];
    std::snprintf(text, sizeof text, "%.1f %s", value, gib ? "GiB" : "MiB");
    return text;
}

std::uint64_t default_memory_budget() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long page_size = sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || page_size <= 0) return std::uint64_t{4} << 30;  // unknown: 8 GiB machine
    return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page_size) / 2;
}

int engine_course_limit(selection::Engine engine) {
    return keeps_courses(engine) ? kMaxEnsembleBlocks : kMaxDatasetBlocks;
}

Experiment read_data_file(const std::filesystem::path& file, const RunOptions& options) {
    std::ifstream in = open_data_file(file);
    // With an observer the reader takes the file through it, so that the observer sees every
    // byte the run read, and then the rest of the same open file.
    std::optional<ObservedStreamBuf> observed;
    std::istream observed_in(nullptr);
    if (options.input_observer != nullptr) {
        observed.emplace(*in.rdbuf(), file, *options.input_observer);
        observed_in.rdbuf(&*observed);
    }
    DataFileReader reader(observed ? observed_in : static_cast<std::istream&>(in), file);

    Experiment experiment;
    experiment.origin = "data file " + file.string();
    const FileHeader header = read_file_header(reader);
    experiment.declared_count = header.declared_count;
    const std::uint64_t store_bytes =
        check_store_budget(experiment.origin + ", header", header.n,
                           store_slices(options, header.declared_count), options);
    std::vector<std::string> fields = read_gene_names(reader, header.n, &experiment.full_names);
    experiment.gene_names =
        distinct_gene_names(std::move(fields), experiment.full_names, experiment.renamed);

    std::uint64_t held_bytes = 0;
    for (int k = 1; !is_end_marker(reader.read_marker()); ++k) {
        stop_if_cancelled(options);
        experiment.courses.push_back(read_dataset(reader, header, k, experiment.gene_names, options,
                                                  store_bytes, held_bytes));
        const Course& course = experiment.courses.back();
        held_bytes += (course.t.size() + course.levels.size()) * kDouble;
    }
    if (observed) observed->finish();
    return experiment;
}

InferredNetwork infer_network(const Experiment& experiment,
                              const double& lambda,
                              const RunOptions& options) {
    const int n = experiment.n();
    const int K = experiment.K();
    if (K > engine_course_limit(options.engine)) {
        throw DataFileRejected(
            experiment.origin + ": " + std::to_string(K) + " time courses, more than the " +
            std::to_string(engine_course_limit(options.engine)) + " this engine takes");
    }
    if (!options.regulators.empty()) {
        if (options.regulators.size() != static_cast<std::size_t>(n))
            throw std::invalid_argument("the list of regulators needs one entry per gene");
        if (!keeps_courses(options.engine)) {
            throw DataFileRejected(experiment.origin +
                                   ": the exact and fast engines take no list of regulators: "
                                   "their model fits every gene on all genes");
        }
    }
    InferredNetwork network;
    network.n = n;
    network.K = K;
    network.regulator_count =
        static_cast<int>(std::count_if(options.regulators.begin(), options.regulators.end(),
                                       [](unsigned char regulator) { return regulator != 0; }));
    network.gene_names = experiment.gene_names;
    network.full_names = experiment.full_names;
    network.renamed = experiment.renamed;
    for (int k = 0; k < K; ++k) {
        network.time_point_counts[static_cast<std::size_t>(k)] =
            experiment.courses[static_cast<std::size_t>(k)].T();
    }
    if (keeps_courses(options.engine)) {
        stop_if_cancelled(options);
        if (options.dataset_observer) options.dataset_observer(0);
        infer_from_courses(experiment, options, network);
        return network;
    }

    // The stores of the per-dataset solutions: slice k (1-based) of each, an n x n column-major
    // matrix, starts at (k-1)*n*n.
    const std::uint64_t slices = store_slices(options, experiment.declared_count);
    check_store_budget(experiment.origin, n, slices, options);
    const std::size_t matrix_size = static_cast<std::size_t>(n) * static_cast<std::size_t>(n);
    std::vector<double> particular_store(slices * matrix_size, 0.0);  // J0_k
    std::vector<double> basis_store(slices * matrix_size, 0.0);       // B_k
    double total_time_points = 0.0;
    std::vector<double> Y;
    for (int k = 1; k <= K; ++k) {
        const Course& course = experiment.courses[static_cast<std::size_t>(k - 1)];
        stop_if_cancelled(options);
        if (options.dataset_observer) options.dataset_observer(k);
        if (n > 0) {
            // A file of no genes has nothing to solve: J0_k and B_k are empty and z_k stays 0.
            // The solution overwrites its copy of the levels.
            Y = course.levels;
            const std::ptrdiff_t slice = std::ptrdiff_t{k - 1} * n * n;
            const numeric::MatrixRef J0{particular_store.data() + slice, n};
            network.zero_counts[static_cast<std::size_t>(k - 1)] =
                solve_dataset(n, course.T(), course.t, Y, J0,
                              numeric::MatrixRef{basis_store.data() + slice, n}, options.notify);
            check_particular_solution(course, numeric::ConstMatrixRef{J0.data, n}, n);
        }
        total_time_points += course.T();
    }
    stop_if_cancelled(options);
    if (options.dataset_observer) options.dataset_observer(0);

    selection::SelectionInput input;
    input.n = n;
    input.K = K;
    input.particular_store = &particular_store;
    input.basis_store = &basis_store;
    std::copy_n(network.zero_counts.begin(), selection::kMaxDatasets, input.zero_counts.begin());
    std::copy_n(network.time_point_counts.begin(), selection::kMaxDatasets,
                input.time_point_counts.begin());
    input.total_time_points = total_time_points;
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
            throw DataFileRejected(
                experiment.origin + ", result: the interaction matrix is not finite: R(" +
                std::to_string(i) + ", " + std::to_string(j) + ") = " + format_number(R(i, j)));
        }
    }
    network.R = std::move(selected.R);
    network.iterations = selected.iterations;
    network.objective = selected.objective;
    return network;
}

InferredNetwork infer_network(std::string_view data_path,
                              const double& lambda,
                              const RunOptions& options) {
    return infer_network_from_file(data_file_path(data_path), lambda, options);
}

InferredNetwork infer_network_from_file(const std::filesystem::path& file,
                                        const double& lambda,
                                        const RunOptions& options) {
    return infer_network(read_data_file(file, options), lambda, options);
}

RunSummary run_inference(std::string_view data_path,
                         const double& lambda,
                         const double& threshold,
                         const RunOptions& options) {
    return run_inference_from_file(data_file_path(data_path), lambda, threshold, options);
}

namespace {

// The result files of a finished network: the edges counted by the writer's own rule, the
// exports asked for, then the commit.
RunSummary write_results(InferredNetwork network,
                         const double& threshold,
                         const RunOptions& options) {
    RunSummary summary;
    summary.network = std::move(network);
    const InferredNetwork& net = summary.network;
    const int n = net.n;
    const numeric::ConstMatrixRef R{net.R.data(), std::max(n, 1)};
    summary.threshold = options.top_edges > 0 ? top_edges_threshold(net.R, n, options.top_edges,
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
        output::write_result_files(options.output_dir, net.gene_names, R, n, summary.threshold,
                                   extras, &control);
    } catch (const output::CommitAbandoned&) {
        throw RunCancelled();
    }
    return summary;
}

// One run at a time per output folder, from the repair of what an earlier killed run left to
// the last rename, unless the caller holds the lock; a cancel ends the wait for it. A
// write-protected result refuses the run before any work.
void lock_output_folder(std::optional<output::ResultFolderLock>& lock, const RunOptions& options) {
    try {
        if (options.lock_output_dir)
            lock.emplace(options.output_dir, output::LockWait::kWait, options.cancel);
    } catch (const output::LockWaitCancelled&) {
        throw RunCancelled();
    }
    output::check_results_replaceable(options.output_dir);
}

}  // namespace

RunSummary run_inference_from_file(const std::filesystem::path& file,
                                   const double& lambda,
                                   const double& threshold,
                                   const RunOptions& options) {
    std::optional<output::ResultFolderLock> lock;
    lock_output_folder(lock, options);
    return write_results(infer_network_from_file(file, lambda, options), threshold, options);
}

RunSummary run_inference(const Experiment& experiment,
                         const double& lambda,
                         const double& threshold,
                         const RunOptions& options) {
    std::optional<output::ResultFolderLock> lock;
    lock_output_folder(lock, options);
    return write_results(infer_network(experiment, lambda, options), threshold, options);
}

}  // namespace netrevia::inference
