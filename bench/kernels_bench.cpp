// Times lad_solve on the projection fits of the selection loop (m = n equations, z = n - 9
// unknowns) and svdcmp on the per-dataset matrices (9 rows, n columns). Each call gets a fresh
// copy of its input, since both kernels overwrite it; only the call itself is timed.
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
#include "numeric/svdcmp.h"

namespace {

using netrevia::numeric::IntVectorRef;
using netrevia::numeric::lad_solve;
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

void print(const std::string& name, const Timing& t) {
    std::printf("%-28s %12.1f %12.1f %8d\n", name.c_str(), t.median_us, t.min_us, t.calls);
}

}  // namespace

int main(int argc, char** argv) {
    const double budget = argc > 1 ? std::atof(argv[1]) : 1.0;
    std::mt19937_64 engine(12345);
    std::printf("%-28s %12s %12s %8s\n", "case", "median us", "min us", "calls");

    for (const int n : {50, 100, 200}) {
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
        const Timing t = measure(
            budget,
            [&] {
                tableau = tableau0;
                b = b0;
            },
            [&] {
                lad_solve(m, z, rows, cols, MatrixRef{tableau.data(), rows}, VectorRef{b.data()},
                          0.0f, VectorRef{x.data()}, VectorRef{r.data()}, IntVectorRef{ws.data()});
            });
        print("lad_solve " + std::to_string(m) + " x " + std::to_string(z), t);
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
