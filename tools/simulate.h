#pragma once

#include <cstdint>
#include <iosfwd>
#include <random>
#include <string>
#include <vector>

#include "numeric/matrix_ref.h"

namespace netrevia::tools {

// Random numbers that are the same on every platform: the raw 64-bit output of mt19937_64
// (fixed by the C++ standard) turned into doubles by our own formulas, because the standard
// distributions may differ between library implementations.
class Rng {
public:
    explicit Rng(std::uint64_t seed) : engine_(seed) {}
    double uniform() { return static_cast<double>(engine_() >> 11) * 0x1.0p-53; }  // [0, 1)
    double uniform(double lo, double hi) { return lo + (hi - lo) * uniform(); }
    int below(int k) { return static_cast<int>(uniform() * k); }  // 0 .. k-1
    // Box-Muller, cosine branch only (no cached second value): N(0, 1).
    double normal();

private:
    std::mt19937_64 engine_;
};

struct SimulationOptions {
    int genes = 20;
    std::vector<int> points = {10};  // T per course; one value applies to every course
    int courses = 3;
    std::uint64_t seed = 1;
    double dt = 0.02;                           // (mean) sampling interval
    double noise = 0.0;                         // SD of N(0,1) noise added to log2 values
    bool irregular = false;                     // intervals dt * U(0.5, 1.5)
    bool input = false;                         // dx/dt = J x + u, u = -J s, s > 0
    bool constant_gene = false;                 // extra gene CONST, log2 value 0
    double weight_min = 0.5, weight_max = 1.5;  // |J(i,j)| of the planted edges
    double margin = 0.5;                        // J(i,i) = -(sum_j |J(i,j)| + margin)
    int replicates = 1;  // noisy copies of each course: the noise drawn anew for each copy
};

// The planted system: J column-major n x n (n = genes), u the constant input (zero without
// --input), s the steady state (only with --input).
struct PlantedNetwork {
    int n = 0;
    std::vector<double> J;
    std::vector<double> u, s;
    numeric::MatrixRef view() { return {J.data(), n}; }
    numeric::ConstMatrixRef view() const { return {J.data(), n}; }
};

// One sampled time course: t(1..T) and the linear-scale values x, column-major n x T.
struct Course {
    std::vector<double> t;
    std::vector<double> x;
};

struct Simulation {
    std::vector<std::string> names;  // G01.. (and CONST last with the constant gene)
    PlantedNetwork net;
    std::vector<Course> courses;  // replicate 1 of every course
    // Replicates 2 .. R, each of every course: the same clean values, noise drawn anew.
    std::vector<std::vector<Course>> further_replicates;
};

// Gives every gene 1 to 3 distinct regulators among the other genes (at most n - 1), signs
// +/- with probability 1/2, magnitudes U(weight_min, weight_max), and the self-decay
// J(i,i) = -(sum_{j != i} |J(i,j)| + margin). By Gershgorin's theorem every eigenvalue then
// lies in a disc of centre J(i,i) and radius sum_{j != i} |J(i,j)|, so Re(lambda) <= -margin.
PlantedNetwork plant_network(const SimulationOptions& opt, Rng& rng);

// Classical fourth-order Runge-Kutta for dx/dt = J x + u from time 0 to span, in steps equal
// substeps; x (n) is updated in place. Returns false as soon as a state (after any substep)
// is not finite and positive, leaving x at that state.
bool integrate_rk4(const PlantedNetwork& net, std::vector<double>& x, double span, int substeps);

// The whole simulation; throws std::invalid_argument for bad options and std::runtime_error
// when a course stays non-positive after the bounded number of fresh initial states.
Simulation simulate(const SimulationOptions& opt);

// The data file (log2 values written with 10 significant digits, LF line ends) and the truth
// table (off-diagonal edges; with --input and the constant gene also CONST -> gene, weight u).
void write_data_file(std::ostream& out, const Simulation& sim, const SimulationOptions& opt);
void write_truth_file(std::ostream& out, const Simulation& sim, const SimulationOptions& opt);

// Every replicate of every course as one tab-separated table, time points in rows: a header
// "course<TAB>replicate<TAB>time<TAB>G01..." (without the replicate column for one replicate),
// then per course (course1, course2, ...) and replicate (1, 2, ...) one row per time point
// with the log2 values as the data file writes them; LF line ends.
void write_table(std::ostream& out, const Simulation& sim, const SimulationOptions& opt);

}  // namespace netrevia::tools
