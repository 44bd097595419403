#pragma once

#include <array>
#include <atomic>
#include <functional>
#include <vector>

namespace netrevia::selection {

inline constexpr int kMaxDatasets = 4;
// The selection loop ends after this many iterations at the latest.
inline constexpr int kMaxIterations = 100;

// Called after every iteration of the selection loop with the iteration number (from 1) and
// the objective F after that iteration. Observing changes nothing.
using Observer = std::function<void(int iteration, double objective)>;

// How the projection fits are computed.
//   kExact: the n x z_k least-absolute-deviation fit min_x ||b - N x||_1 (N = B_k(:, 1..z_k))
//           by lad_solve, then J_k(i, :) += (N x)^T: the reference method, O(n^3) per fit.
//   kFast:  the same minimum in its small exact form. With M = B_k(:, z_k+1..n) and V = [N | M]
//           orthogonal, {b - N x} = {r : M^T r = M^T b}, so the fit is min ||r||_1 subject to
//           M^T r = M^T b (n - z_k <= T_k - 1 rows), and the new row is J(i, :) - r*. Each fit
//           warm-starts from the optimal basis of the same row in the previous iteration.
//           Agrees with kExact up to lad_solve's single-precision rounding wherever the fits
//           have unique minimisers; needs B_k orthogonal, as the per-dataset solution gives.
//   kEnsemble: no selection at all. The run driver hands the courses to the ensemble estimator
//           (ensemble/ensemble.h) instead; select_network treats it as kExact.
//   kTrees, kConsensus: no selection either; the courses go to the tree engine
//           (trees/engine.h), alone or ranked together with the ensemble estimator.
enum class Engine { kExact, kFast, kEnsemble, kTrees, kConsensus };

// What the per-dataset solutions leave for the selection. The stores hold slices of n x n
// column-major matrices: slice k (1-based) starts at (k-1)*n*n. Slices 1..K are used.
struct SelectionInput {
    int n = 0;
    int K = 0;
    const std::vector<double>* particular_store = nullptr;  // J0_k
    const std::vector<double>* basis_store = nullptr;       // B_k, columns 1..z_k free
    std::array<int, kMaxDatasets> zero_counts{};            // z_k
    std::array<int, kMaxDatasets> time_point_counts{};      // T_k
    double total_time_points = 0.0;
    double lambda = 0.0;
    // Worker threads for the projection fits, the update and the median step; 0 means one per
    // hardware thread. The result is bit for bit the same for every count.
    int threads = 0;
    Engine engine = Engine::kExact;
    // Set by another thread to stop the loop early; read between fits and between iterations.
    // nullptr: the loop cannot be stopped. Whether or when it is set never changes a result
    // that is returned uncancelled.
    const std::atomic<bool>* cancel = nullptr;
};

struct SelectionResult {
    std::vector<double> R;          // n x n column-major
    std::vector<double> solutions;  // K x n x n: the final dataset solutions J_k
    int iterations = 0;
    double objective = 0.0;  // F when the loop ended
    bool cancelled = false;  // stopped by the cancel flag: R and the solutions are unfinished
};

// The selection loop: alternating least-absolute-deviation projections of every dataset row
// onto its family and weighted-median consensus steps, until F changes by at most 1e-6 or
// 100 iterations have run, or the cancel flag is seen set.
SelectionResult select_network(const SelectionInput& input, const Observer& observer = {});

}  // namespace netrevia::selection
