// Writes a synthetic data file for benchmarks: n genes, K time courses of T points each, log2
// values from a seeded random walk (not a model network: for timing only; a simulated network
// with a known answer comes from netrevia-simulate).
//
//   netrevia_make_data GENES COURSES POINTS SEED > file.dat

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>

namespace {

// Uniform in [0, 1) from the raw 64-bit output, the same on every platform.
double uniform(std::mt19937_64& engine) {
    return static_cast<double>(engine() >> 11) * (1.0 / 9007199254740992.0);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: netrevia_make_data GENES COURSES POINTS SEED\n");
        return 2;
    }
    const int n = std::atoi(argv[1]);
    const int K = std::atoi(argv[2]);
    const int T = std::atoi(argv[3]);
    const auto seed = static_cast<std::uint64_t>(std::strtoull(argv[4], nullptr, 10));
    if (n < 1 || n > 2000 || K < 1 || K > 4 || T < 2) {
        std::fprintf(stderr, "need 1 <= GENES <= 2000, 1 <= COURSES <= 4, POINTS >= 2\n");
        return 2;
    }
    std::mt19937_64 engine(seed);
    std::printf("Number of datasets\n%d\nNumber of genes\n%d\nGene names\n", K, n);
    for (int i = 1; i <= n; ++i) std::printf("G%d\n", i);
    for (int k = 1; k <= K; ++k) {
        std::printf("Set%d\nDataset %d\nGenes and time points\n%d %d\nTime points\n", k, k, n, T);
        for (int j = 0; j < T; ++j) std::printf("%s%d", j ? " " : "", j);
        std::printf("\nReserved\n1.0\nExpression values (log2)\n");
        for (int i = 0; i < n; ++i) {
            double x = 4.0 * uniform(engine) - 2.0;
            for (int j = 0; j < T; ++j) {
                std::printf("%s%.6f", j ? " " : "", x);
                x += 0.5 * uniform(engine) - 0.25;
            }
            std::printf("\n");
        }
    }
    std::printf("END\n");
    return 0;
}
