#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "inference/data_file.h"
#include "inference/experiment.h"
#include "numeric/notify.h"
#include "output/result_files.h"
#include "selection/select_network.h"

namespace netrevia::inference {

struct RunSummary;

// Everything a run may report besides its two files. Callers may leave every member empty.
struct RunOptions {
    std::filesystem::path output_dir = ".";  // where GRN.dat and GRN.dot go
    numeric::Notify notify;                  // "no convergence in svdcmp"
    selection::Observer observer;            // progress of the selection loop
    int threads = 0;  // worker threads of the selection; 0: one per hardware thread
    selection::Engine engine = selection::Engine::kExact;  // how the projection fits run
    // Bytes the run's arrays may take; 0: default_memory_budget(). A file that needs more is
    // refused (DataFileRejected) before the arrays are created.
    std::uint64_t memory_budget = 0;
    // Hold the output folder's lock during run_inference; false when the caller holds it.
    bool lock_output_dir = true;
    std::uint64_t seed = 0;  // kEnsemble, kTrees, kConsensus: seed of the subsets and trees
    double decay = -1.0;     // kTrees, kConsensus: every gene's decay rate; < 0: estimated
    int top_edges = 0;       // > 0: the files draw this many largest |R(i,j)|, not the threshold
    bool top_edges_self = true;  // false: top_edges counts the entries between distinct genes
    // kEnsemble, kTrees, kConsensus: regulators[g - 1] != 0 makes gene g a candidate regulator,
    // and only edges from candidates are scored; every gene stays a target. Empty: every gene.
    // One entry per gene of the experiment; the exact and fast engines refuse a list.
    std::vector<unsigned char> regulators;
    // Progress of the set-up: called with k before dataset block k (from 1) is read and
    // solved, and with 0 once every block is solved and the selection begins.
    std::function<void(int k)> dataset_observer;
    // Set by another thread (or a signal handler) to stop the run at its next safe point:
    // while it waits for the output folder's lock, between datasets, between fits, between
    // iterations, and between the steps of the commit up to its point of no return (the
    // journal, output/atomic_file.h). A stopped run throws RunCancelled and writes nothing; set
    // later, the commit completes and the run returns as usual.
    const std::atomic<bool>* cancel = nullptr;
    // Called as each step of the commit begins (a seam for tests that signal there).
    std::function<void(output::CommitStep, std::size_t)> commit_observer;
    // Further files (exports) to commit together with GRN.dat and GRN.dot, asked for once the
    // network and its edge counts are known.
    std::function<std::vector<output::ExtraResultFile>(const RunSummary&)> extra_files;
    // Sees the data file's bytes as the run reads them (read_data_file), to hash what was read.
    InputObserver* input_observer = nullptr;
};

// The run saw its cancel flag set and stopped; no result file was written or changed.
class RunCancelled : public std::runtime_error {
public:
    RunCancelled() : std::runtime_error("the run was cancelled") {}
};

// Half of the physical memory.
std::uint64_t default_memory_budget();

// "632 bytes", "512.0 MiB", "4.5 GiB": sizes in messages.
std::string format_size(std::uint64_t bytes);

// The most time courses the engine takes: 4 for the engines that solve each course for the
// selection (the room of its tables), kMaxEnsembleBlocks for those that take them as they are.
int engine_course_limit(selection::Engine engine);

// The inferred network before it is written: gene names (9 characters each, as GRN.dot shows
// them), the full names as the data file spells them, and R.
struct InferredNetwork {
    int n = 0;
    int K = 0;  // datasets read
    std::vector<std::string> gene_names;
    std::vector<std::string> full_names;
    std::vector<std::string> renamed;  // notes on gene names made distinct (Experiment::renamed)
    // Entries 1..K are used; only the ensemble engine reads more than kMaxDatasetBlocks.
    std::array<int, kMaxEnsembleBlocks> time_point_counts{};
    std::array<int, kMaxEnsembleBlocks> zero_counts{};  // 0 for the ensemble engine
    std::vector<double> R;                              // n x n column-major
    int iterations = 0;                                 // of the selection loop
    double objective = 0.0;
    int subset_size = 0;  // ensemble engine: genes per run
    long long runs = 0;   // ensemble engine: subsets fitted
    // Ensemble engine: genes (1-based) left out of the fits as they do not change; R is 0 in
    // their rows and columns.
    std::vector<int> flat_genes;
    // Genes taken as candidate regulators (RunOptions::regulators); 0: every gene, no list.
    int regulator_count = 0;
    int trees = 0;              // tree engine: trees per target
    std::vector<double> decay;  // tree engine: each gene's decay rate as used
};

struct RunSummary {
    InferredNetwork network;
    int positive_edges = 0;
    int negative_edges = 0;
    int self_edges = 0;      // of the edges above, those from a gene to itself
    double threshold = 0.0;  // the one the files were written with (see top_edges)
    std::filesystem::path matrix_file;
    std::filesystem::path graphviz_file;
    std::vector<std::filesystem::path> extra_files;  // written with the two, in order
};

// Reads the data file into an experiment: the header, the gene names and every dataset block up
// to the END marker, checking as it goes the limits the engine of options can hold (its number
// of courses, the memory budget of the arrays it will need). Throws InputError on fatal read
// errors and DataFileRejected when the file breaks a limit, needs more than the memory budget,
// or gives a non-finite rate of change; RunCancelled when options.cancel is set between blocks.
Experiment read_data_file(const std::filesystem::path& file, const RunOptions& options = {});

// Carries the experiment's courses through the engine of options: for the exact and fast
// engines the per-dataset solutions and the network selection, for the ensemble engine the
// estimator. Throws DataFileRejected when the experiment holds more courses than the engine
// takes, a list of regulators goes to the exact or fast engine, the run needs more than the
// memory budget, or gives a non-finite particular solution or result; std::invalid_argument
// when the list does not have one entry per gene; std::bad_alloc when memory runs out; RunCancelled
// when options.cancel is set.
InferredNetwork infer_network(const Experiment& experiment,
                              const double& lambda,
                              const RunOptions& options = {});

// read_data_file, then infer_network. data_path is the window's path field; its trailing
// blanks are not part of the name.
InferredNetwork infer_network(std::string_view data_path,
                              const double& lambda,
                              const RunOptions& options = {});
// The same for a path taken exactly as given (the batch tool's argument).
InferredNetwork infer_network_from_file(const std::filesystem::path& file,
                                        const double& lambda,
                                        const RunOptions& options = {});

// The whole inference run: infer_network, then GRN.dat, GRN.dot and options.extra_files into
// options.output_dir. Holds the folder's lock (waiting for another run) unless options say the
// caller holds it, and refuses the run at once when a result file there is write-protected
// (IoError "write error"). Nothing is written when any stage fails or the run is cancelled
// before the commit. With options.top_edges = K > 0 the threshold is replaced by the (K+1)-th
// largest |R(i,j)| over all entries (over those with i != j when options.top_edges_self is
// false), so that the K largest are drawn (fewer when entries tie at the cut, or when fewer
// than K are nonzero); GRN.dot then also draws every self-term beyond that cut.
RunSummary run_inference(const Experiment& experiment,
                         const double& lambda,
                         const double& threshold,
                         const RunOptions& options = {});
// The same from the data file, read under the folder's lock.
RunSummary run_inference(std::string_view data_path,
                         const double& lambda,
                         const double& threshold,
                         const RunOptions& options = {});
RunSummary run_inference_from_file(const std::filesystem::path& file,
                                   const double& lambda,
                                   const double& threshold,
                                   const RunOptions& options = {});

}  // namespace netrevia::inference
