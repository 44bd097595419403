// Times lad_solve on the projection fits of the selection loop (m = n equations, z = n - 9
// unknowns), beside lad_solve_reference (one pivot per pass over the tableau), and svdcmp on the
// per-dataset matrices (9 rows, n columns). Each call gets a fresh copy of its input, since the
// kernels overwrite it; only the call itself is timed. The elimination rate counts 2 (m - 1) z
// floating-point operations per pivot (one multiply and one subtract per updated entry).
//
// The same-shape kernel is the bare elimination on an m x (z + 1) array: four pivots applied one
// pass each, and four applied in one pass, unfused multiply then subtract, in the builds chosen at
// run time like lad_solve's. It shows what the machine gives for this shape and memory footprint.
//
//   netrevia_bench_kernels [seconds per case, default 1]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "numeric/lad_solve.h"
#include "numeric/lad_solve_reference.h"
#include "numeric/svdcmp.h"

namespace {

using netrevia::numeric::IntVectorRef;
using netrevia::numeric::lad_solve;
using netrevia::numeric::lad_solve_reference;
using netrevia::numeric::MatrixRef;
using netrevia::numeric::Notify;
using netrevia::numeric::svdcmp;
using netrevia::numeric::VectorRef;
using Clock = std::chrono::steady_clock;

std::vector<double> random_values(std::size_t count, std::mt19937_64& engine) {
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    std::vector<double> values(count);
    for (double& value : values) value = uniform(engine);
    return values;
}

struct Timing {
    double median_us;
    double min_us;
    int calls;
};

// Calls prepare() untimed and run() timed until the time budget is spent (at least 5 calls).
Timing measure(double budget_seconds,
               const std::function<void()>& prepare,
               const std::function<void()>& run) {
    std::vector<double> samples;
    const auto start = Clock::now();
    while (samples.size() < 5 ||
           std::chrono::duration<double>(Clock::now() - start).count() < budget_seconds) {
        prepare();
        const auto before = Clock::now();
        run();
        const auto after = Clock::now();
        samples.push_back(std::chrono::duration<double, std::micro>(after - before).count());
    }
    std::sort(samples.begin(), samples.end());
    return {samples[samples.size() / 2], samples.front(), static_cast<int>(samples.size())};
}

void print(const std::string& name, const Timing& t, double gflop = 0.0) {
    std::printf("%-28s %12.1f %12.1f %8d", name.c_str(), t.median_us, t.min_us, t.calls);
    if (gflop > 0.0) std::printf(" %10.2f", gflop / (t.min_us * 1e-6));
    std::printf("\n");
}

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define BENCH_CLONES __attribute__((target_clones("avx512f", "avx2", "default")))
#else
#define BENCH_CLONES
#endif

// Four pivots on the m x columns array t (stride m): pivot p subtracts d_p(i) r_p(j) from every
// entry, either one pass over the array per pivot or all four in one pass, each entry still in
// pivot order.
BENCH_CLONES
void eliminate_four(std::vector<double>& t,
                    int m,
                    int columns,
                    const std::vector<double>& d,
                    const std::vector<double>& r,
                    bool one_pass) {
    const auto rows = static_cast<std::size_t>(m);
    const double* d0 = d.data();
    const double* d1 = d0 + rows;
    const double* d2 = d1 + rows;
    const double* d3 = d2 + rows;
    for (int j = 0; j < columns; ++j) {
        double* c = t.data() + static_cast<std::size_t>(j) * rows;
        const double* rj = r.data() + 4 * static_cast<std::size_t>(j);
        if (one_pass) {
            for (std::size_t i = 0; i < rows; ++i) {
                double value = c[i];
                value = value - d0[i] * rj[0];
                value = value - d1[i] * rj[1];
                value = value - d2[i] * rj[2];
                value = value - d3[i] * rj[3];
                c[i] = value;
            }
        }
    }
    if (one_pass) return;
    for (int p = 0; p < 4; ++p) {
        const double* dp = d.data() + static_cast<std::size_t>(p) * rows;
        for (int j = 0; j < columns; ++j) {
            double* c = t.data() + static_cast<std::size_t>(j) * rows;
            const double rp = r[4 * static_cast<std::size_t>(j) + static_cast<std::size_t>(p)];
            for (std::size_t i = 0; i < rows; ++i) c[i] = c[i] - dp[i] * rp;
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    const double budget = argc > 1 ? std::atof(argv[1]) : 1.0;
    std::mt19937_64 engine(12345);
    std::printf("%-28s %12s %12s %8s %10s\n", "case", "median us", "min us", "calls", "GFLOP/s");

    for (const int n : {50, 100, 200, 300, 400}) {
        const int m = n;
        const int z = n - 9;
        const int rows = m + 2;
        const int cols = z + 2;
        std::vector<double> tableau0(
            static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols), 0.0);
        const std::vector<double> a = random_values(static_cast<std::size_t>(m * z), engine);
        for (int j = 0; j < z; ++j) {
            std::copy_n(a.begin() + j * m, m, tableau0.begin() + j * rows);
        }
        const std::vector<double> b0 = random_values(static_cast<std::size_t>(m), engine);
        std::vector<double> tableau, b, x(static_cast<std::size_t>(z)), r(b0.size());
        std::vector<int> ws(b0.size());
        const std::string shape = std::to_string(m) + " x " + std::to_string(z);
        for (const bool blocked : {false, true}) {
            const auto solver = blocked ? &lad_solve : &lad_solve_reference;
            const Timing t = measure(
                budget,
                [&] {
                    tableau = tableau0;
                    b = b0;
                },
                [&] {
                    solver(m, z, rows, cols, MatrixRef{tableau.data(), rows}, VectorRef{b.data()},
                           0.0f, VectorRef{x.data()}, VectorRef{r.data()}, IntVectorRef{ws.data()});
                });
            const double pivots = tableau.back();
            print((blocked ? "lad_solve " : "lad_solve_reference ") + shape, t,
                  2.0 * (m - 1) * z * pivots * 1e-9);
        }
    }

    for (const int n : {200, 400, 1000, 2000}) {
        const int m = n;
        const int columns = n - 8;
        const auto t0 = random_values(static_cast<std::size_t>(m) * columns, engine);
        const auto d = random_values(4 * static_cast<std::size_t>(m), engine);
        const auto r = random_values(4 * static_cast<std::size_t>(columns), engine);
        std::vector<double> t;
        for (const bool one_pass : {false, true}) {
            const Timing timing = measure(
                budget, [&] { t = t0; }, [&] { eliminate_four(t, m, columns, d, r, one_pass); });
            print(std::string(one_pass ? "kernel 4 per pass " : "kernel 1 per pass ") +
                      std::to_string(m) + " x " + std::to_string(columns),
                  timing, 2.0 * 4.0 * m * columns * 1e-9);
        }
    }

    for (const int n : {50, 100, 200, 400, 1000, 2000}) {
        const int m = 9;
        const std::vector<double> a0 = random_values(static_cast<std::size_t>(m * n), engine);
        std::vector<double> a, w(static_cast<std::size_t>(n));
        std::vector<double> v(static_cast<std::size_t>(n) * static_cast<std::size_t>(n));
        int notices = 0;
        const Notify notify = [&notices](std::string_view) { ++notices; };
        const Timing t = measure(
            budget, [&] { a = a0; },
            [&] {
                svdcmp(MatrixRef{a.data(), m}, m, n, VectorRef{w.data()}, MatrixRef{v.data(), n},
                       notify);
            });
        print("svdcmp 9 x " + std::to_string(n), t);
        if (notices != 0) std::printf("  (%d non-convergence notices)\n", notices);
    }
    return 0;
}
