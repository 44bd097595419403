// Timing and memory of the Results window on the sizes the tool meets; a plain std::chrono
// harness under the offscreen platform (or the display named by QT_QPA_PLATFORM / DISPLAY).
//   1. re-cut and recount of a 2000-gene R (Results::apply), thresholds and top K;
//   2. layout and first paint of 100 genes and 300 drawn edges, from set_cut to a grabbed
//      window;
//   3. the same for 2000 genes at the cap of 2000 drawn edges;
//   4. resident memory of the process before and after the window shows a 2000-gene result.
//
//   netrevia_bench_viewer [REPEATS]

#include <QApplication>
#include <QPixmap>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "viewer/results.h"
#include "viewer/results_window.h"

namespace {

using Clock = std::chrono::steady_clock;
using netrevia::viewer::Cut;
using netrevia::viewer::ResultsWindow;
using netrevia::viewer::RunResults;

double milliseconds(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// Resident and peak resident memory of this process, in MiB (Linux /proc).
std::pair<double, double> memory_mib() {
    std::ifstream status("/proc/self/status");
    std::string key;
    double rss = 0.0;
    double hwm = 0.0;
    while (status >> key) {
        double kib = 0.0;
        if (key == "VmRSS:" && status >> kib) rss = kib / 1024.0;
        if (key == "VmHWM:" && status >> kib) hwm = kib / 1024.0;
    }
    return {rss, hwm};
}

// n genes G1..Gn; R dense with uniform |R| in (0, 1) and random signs, so every entry is an
// edge at threshold 0 (the worst case for the table and the cap). strong > 0: only that many
// entries between distinct genes above 0.5, the rest below 0.01.
RunResults synthetic(int n, int strong, unsigned seed) {
    RunResults run;
    auto& net = run.summary.network;
    net.n = n;
    net.K = 2;
    net.time_point_counts[0] = net.time_point_counts[1] = 10;
    for (int g = 1; g <= n; ++g) {
        net.full_names.push_back("GENE" + std::to_string(g));
        net.gene_names.push_back(net.full_names.back().substr(0, 9));
        net.gene_names.back().resize(9, ' ');
    }
    std::mt19937_64 engine(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    net.R.resize(static_cast<std::size_t>(n) * n);
    for (double& r : net.R) {
        const double magnitude = strong > 0 ? 0.01 * unit(engine) : unit(engine);
        r = (engine() & 1) ? magnitude : -magnitude;
    }
    for (int placed = 0; placed < strong;) {
        const auto i = static_cast<std::size_t>(engine() % static_cast<unsigned>(n));
        const auto j = static_cast<std::size_t>(engine() % static_cast<unsigned>(n));
        double& r = net.R[i + j * static_cast<std::size_t>(n)];
        if (i == j || std::abs(r) > 0.5) continue;
        r = (engine() & 1 ? 1.0 : -1.0) * (0.5 + 0.5 * unit(engine));
        ++placed;
    }
    run.summary.threshold = 1.0e-6;
    run.record.engine = "exact";
    run.record.threshold = 1.0e-6;
    run.record.inputs.push_back({"synthetic.dat", 0, {}});
    return run;
}

bool wait_ready(const ResultsWindow& window) {
    return QTest::qWaitFor([&] { return window.results() != nullptr && !window.busy(); }, 600'000);
}

// Processor time of the process, all threads, in milliseconds: on a machine shared with other
// work the wall time stretches, this does not.
double cpu_milliseconds() { return 1000.0 * static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

// From a new cut to the window painted with its picture: wall and processor time.
std::pair<double, double> cut_and_paint(ResultsWindow& window, const Cut& cut) {
    const auto start = Clock::now();
    const double cpu_start = cpu_milliseconds();
    window.set_cut(cut);
    if (!wait_ready(window)) return {-1.0, -1.0};
    const QPixmap painted = window.grab();
    if (painted.isNull()) return {-1.0, -1.0};
    return {milliseconds(Clock::now() - start), cpu_milliseconds() - cpu_start};
}

void report(const char* what, std::vector<double> times) {
    std::sort(times.begin(), times.end());
    std::printf("%-52s median %9.2f ms   min %9.2f ms   max %9.2f ms\n", what,
                times[times.size() / 2], times.front(), times.back());
}

}  // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const int repeats = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;

    // 1. The cut of a 2000-gene R.
    {
        RunResults run = synthetic(2000, 0, 1);
        const auto start = Clock::now();
        const netrevia::viewer::Results results(std::move(run));
        std::printf("ranking 2000 genes (4,000,000 entries)                   %9.2f ms\n",
                    milliseconds(Clock::now() - start));
        for (const Cut& cut : {Cut{1.0e-6, 0, true}, Cut{0.5, 0, true}, Cut{0.999, 0, false},
                               Cut{0.0, 100, true}, Cut{0.0, 3'000'000, true}}) {
            std::vector<double> times;
            std::size_t drawn = 0;
            for (int r = 0; r < repeats; ++r) {
                const auto t0 = Clock::now();
                drawn = results.apply(cut).drawn;
                times.push_back(milliseconds(Clock::now() - t0));
            }
            char what[96];
            std::snprintf(what, sizeof what, "re-cut 2000 genes, %s %g (%zu drawn)",
                          cut.top > 0 ? "top" : "threshold",
                          cut.top > 0 ? double(cut.top) : cut.threshold, drawn);
            report(what, times);
        }
    }

    // 2. 100 genes, 300 drawn edges: dot.
    {
        ResultsWindow window;
        window.show();
        window.set_results(synthetic(100, 300, 2));
        wait_ready(window);
        std::vector<double> times;
        std::vector<double> cpu;
        for (int r = 0; r < repeats; ++r) {
            const auto [wall, processor] = cut_and_paint(window, {0.4 + 0.001 * r, 0, false});
            times.push_back(wall);
            cpu.push_back(processor);
        }
        std::printf("100 genes: %d edges drawn, %zu shown\n",
                    window.cut_network().positive_edges + window.cut_network().negative_edges,
                    window.cut_network().shown.size());
        report("layout + first paint, 100 genes, 300 edges (dot)", times);
        report("  the same, processor time", cpu);
    }

    // 3 and 4. 2000 genes at the cap: sfdp; memory.
    {
        const auto [rss_before, peak_before] = memory_mib();
        ResultsWindow window;
        window.show();
        const auto start = Clock::now();
        window.set_results(synthetic(2000, 0, 3));
        wait_ready(window);
        QPixmap first = window.grab();
        std::printf("2000 genes: results shown and painted in %.0f ms (%zu of %zu drawn shown)\n",
                    milliseconds(Clock::now() - start), window.cut_network().shown.size(),
                    window.cut_network().drawn);
        const auto [rss_after, peak_after] = memory_mib();
        std::vector<double> times;
        std::vector<double> cpu;
        for (int r = 0; r < std::min(repeats, 3); ++r) {
            const auto [wall, processor] = cut_and_paint(window, {0.001 * (r + 1), 0, true});
            times.push_back(wall);
            cpu.push_back(processor);
        }
        report("layout + first paint, 2000 genes at the cap (sfdp)", times);
        report("  the same, processor time", cpu);
        std::printf(
            "resident memory: %.0f MiB before the window, %.0f MiB with the 2000-gene "
            "result (peak %.0f MiB, %.0f before)\n",
            rss_before, rss_after, peak_after, peak_before);
    }
    return 0;
}
