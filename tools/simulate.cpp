#include "tools/simulate.h"

#include <charconv>
#include <cmath>
#include <numbers>
#include <ostream>
#include <stdexcept>

namespace netrevia::tools {
namespace {

constexpr int kMaxAttempts = 200;    // fresh initial states tried per course
constexpr double kMaxStep = 1.0e-3;  // RK4 step bound; at least kMinSubsteps per interval
constexpr double kMaxDt = 1000.0;    // sampling interval bound: 1.5e6 RK4 steps at most
constexpr int kMinSubsteps = 50;
constexpr double kTimeGrid = 1.0e-6;  // time points are rounded to this grid
// --noise bound: a normal deviate of Rng::normal is at most sqrt(2 ln 2^53) = 8.58 in size, so
// the noise moves a log2 value by at most 858 and no noisy value of a stable course (at most
// about 2^5) overflows a double: the reader takes every file.
constexpr double kMaxNoise = 100.0;
constexpr int kMaxReplicates = 100;

// Shortest-enough, locale-independent text of v: 10 significant digits, like %.10g.
std::string number_text(double v) {
    char buf[32];
    const auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 10);
    return std::string(buf, res.ptr);
}

// y = J x + u
void rate(const PlantedNetwork& net, const std::vector<double>& x, std::vector<double>& y) {
    const numeric::ConstMatrixRef J = net.view();
    for (int i = 1; i <= net.n; ++i) {
        double sum = net.u[static_cast<std::size_t>(i - 1)];
        for (int j = 1; j <= net.n; ++j) sum += J(i, j) * x[static_cast<std::size_t>(j - 1)];
        y[static_cast<std::size_t>(i - 1)] = sum;
    }
}

// A time point on the grid, written with the digits the grid needs: 10 significant digits below
// 1e4 (all that a multiple of 1e-6 has there), one more per decade beyond, at most 17.
std::string time_text(double t) {
    int digits = 10;
    for (double limit = 1.0e4; t >= limit && digits < 17; limit *= 10.0) ++digits;
    char buf[32];
    const auto res = std::to_chars(buf, buf + sizeof buf, t, std::chars_format::general, digits);
    return std::string(buf, res.ptr);
}

std::vector<double> time_points(const SimulationOptions& opt, int T, Rng& rng) {
    std::vector<double> t(static_cast<std::size_t>(T), 0.0);
    double now = 0.0;
    for (std::size_t k = 1; k < t.size(); ++k) {
        now += opt.irregular ? opt.dt * rng.uniform(0.5, 1.5) : opt.dt;
        // Rounded so that the written decimal is the time that was simulated.
        t[k] = std::round(now / kTimeGrid) * kTimeGrid;
    }
    return t;
}

}  // namespace

double Rng::normal() {
    const double u1 = 1.0 - uniform();  // (0, 1]: log stays finite
    const double u2 = uniform();
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * std::numbers::pi * u2);
}

PlantedNetwork plant_network(const SimulationOptions& opt, Rng& rng) {
    PlantedNetwork net;
    const int n = opt.genes;
    net.n = n;
    net.J.assign(static_cast<std::size_t>(n) * static_cast<std::size_t>(n), 0.0);
    net.u.assign(static_cast<std::size_t>(n), 0.0);
    const numeric::MatrixRef J = net.view();
    std::vector<int> others;
    for (int i = 1; i <= n; ++i) {
        others.clear();
        for (int j = 1; j <= n; ++j)
            if (j != i) others.push_back(j);
        const int count = std::min(1 + rng.below(3), n - 1);
        double radius = 0.0;
        // Partial Fisher-Yates: the first `count` entries become a uniform random subset.
        for (int k = 0; k < count; ++k) {
            const auto pick = static_cast<std::size_t>(k + rng.below(n - 1 - k));
            std::swap(others[static_cast<std::size_t>(k)], others[pick]);
            const double sign = rng.uniform() < 0.5 ? -1.0 : 1.0;
            const double w = rng.uniform(opt.weight_min, opt.weight_max);
            J(i, others[static_cast<std::size_t>(k)]) = sign * w;
            radius += w;
        }
        J(i, i) = -(radius + opt.margin);
    }
    return net;
}

bool integrate_rk4(const PlantedNetwork& net, std::vector<double>& x, double span, int substeps) {
    const std::size_t n = x.size();
    const double h = span / substeps;
    std::vector<double> k1(n), k2(n), k3(n), k4(n), tmp(n);
    for (int s = 0; s < substeps; ++s) {
        rate(net, x, k1);
        for (std::size_t i = 0; i < n; ++i) tmp[i] = x[i] + 0.5 * h * k1[i];
        rate(net, tmp, k2);
        for (std::size_t i = 0; i < n; ++i) tmp[i] = x[i] + 0.5 * h * k2[i];
        rate(net, tmp, k3);
        for (std::size_t i = 0; i < n; ++i) tmp[i] = x[i] + h * k3[i];
        rate(net, tmp, k4);
        bool positive = true;
        for (std::size_t i = 0; i < n; ++i) {
            x[i] += h / 6.0 * (k1[i] + 2.0 * k2[i] + 2.0 * k3[i] + k4[i]);
            positive = positive && std::isfinite(x[i]) && x[i] > 0.0;
        }
        if (!positive) return false;
    }
    return true;
}

Simulation simulate(const SimulationOptions& opt) {
    const int extra = opt.constant_gene ? 1 : 0;
    if (opt.genes < 2 || opt.genes + extra > 2000)
        throw std::invalid_argument("--genes must be 2 to 2000 (1999 with --constant-gene)");
    if (opt.courses < 1 || opt.courses > 4) throw std::invalid_argument("--courses must be 1 to 4");
    if (opt.points.size() != 1 && opt.points.size() != static_cast<std::size_t>(opt.courses))
        throw std::invalid_argument("--points needs one value or one per course");
    for (const int T : opt.points)
        if (T < 2) throw std::invalid_argument("--points must be at least 2");
    // An interval is integrated in steps of at most kMaxStep, counted in an int. Each interval
    // must keep at least one step of the time grid, or two time points would be written alike.
    const double shortest = opt.irregular ? 0.5 * opt.dt : opt.dt;
    if (!(shortest >= kTimeGrid) || !(opt.dt <= kMaxDt))
        throw std::invalid_argument(
            "--dt must be 1e-06 to 1000 (2e-06 to 1000 with --irregular): time points are "
            "written on a grid of 1e-06");
    if (!(opt.noise >= 0.0 && opt.noise <= kMaxNoise))
        throw std::invalid_argument("--noise must be 0 to 100 (log2 units)");
    if (opt.replicates < 1 || opt.replicates > kMaxReplicates)
        throw std::invalid_argument("--replicates must be 1 to 100");

    Rng rng(opt.seed);
    Simulation sim;
    const int width = opt.genes < 100 ? 2 : (opt.genes < 1000 ? 3 : 4);
    for (int i = 1; i <= opt.genes; ++i) {
        std::string name = std::to_string(i);  // G01 .. G20, G001 .. G150
        name.insert(0, static_cast<std::size_t>(width) - name.size() + 1, '0');
        name[0] = 'G';
        sim.names.push_back(name);
    }
    if (opt.constant_gene) sim.names.push_back("CONST");
    sim.net = plant_network(opt, rng);
    const auto n = static_cast<std::size_t>(opt.genes);

    // With an input, a positive steady state s is drawn first and u = -J s makes it the fixed
    // point; the courses then relax from states around s towards s. Without one they decay
    // towards zero from x0 with log2 x0 ~ U(0, 3).
    if (opt.input) {
        sim.net.s.resize(n);
        for (double& v : sim.net.s) v = std::exp2(rng.uniform(0.0, 3.0));
        rate(sim.net, sim.net.s, sim.net.u);
        for (double& v : sim.net.u) v = -v;
    }

    for (int k = 0; k < opt.courses; ++k) {
        const int T =
            opt.points.size() == 1 ? opt.points[0] : opt.points[static_cast<std::size_t>(k)];
        Course c;
        c.t = time_points(opt, T, rng);
        c.x.resize(n * static_cast<std::size_t>(T));
        bool done = false;
        for (int attempt = 0; attempt < kMaxAttempts && !done; ++attempt) {
            std::vector<double> x(n);
            for (std::size_t i = 0; i < n; ++i)
                x[i] = opt.input ? sim.net.s[i] * std::exp2(rng.uniform(-1.5, 1.5))
                                 : std::exp2(rng.uniform(0.0, 3.0));
            done = true;
            for (std::size_t p = 0; p < c.t.size() && done; ++p) {
                if (p > 0) {
                    const double span = c.t[p] - c.t[p - 1];
                    const int steps =
                        std::max(kMinSubsteps, static_cast<int>(std::ceil(span / kMaxStep)));
                    done = integrate_rk4(sim.net, x, span, steps);
                }
                std::copy(x.begin(), x.end(), c.x.begin() + static_cast<std::ptrdiff_t>(p * n));
            }
        }
        if (!done)
            throw std::runtime_error("course " + std::to_string(k + 1) + ": every one of " +
                                     std::to_string(kMaxAttempts) +
                                     " initial states led to a non-positive value; try another "
                                     "--seed, fewer --points, a smaller --dt or --input");
        sim.courses.push_back(std::move(c));
    }
    // Multiplicative lognormal noise, x * 2^(sigma z), i.e. sigma z added to the log2 value;
    // drawn after all courses so that the clean values do not depend on --noise, and for the
    // further replicates after the first, so that replicate 1 is what one replicate gives.
    const auto add_noise = [&](std::vector<Course>& courses) {
        if (opt.noise == 0.0) return;
        for (std::size_t k = 0; k < courses.size(); ++k) {
            for (double& v : courses[k].x) {
                v *= std::exp2(opt.noise * rng.normal());
                // A course that decayed to the bottom of the range has no room below it.
                if (!(v > 0.0))
                    throw std::runtime_error(
                        "course " + std::to_string(k + 1) +
                        ": the noise took a value below the smallest positive double (a log2 "
                        "value under -1074); try a smaller --noise, fewer --points, a smaller "
                        "--dt or --input");
            }
        }
    };
    const std::vector<Course> clean = opt.replicates > 1 ? sim.courses : std::vector<Course>{};
    add_noise(sim.courses);
    for (int r = 2; r <= opt.replicates; ++r) {
        sim.further_replicates.push_back(clean);
        add_noise(sim.further_replicates.back());
    }
    return sim;
}

void write_data_file(std::ostream& out, const Simulation& sim, const SimulationOptions& opt) {
    const std::size_t n = sim.names.size();
    const std::size_t genes = static_cast<std::size_t>(opt.genes);
    out << "Number of datasets\n" << sim.courses.size() << "\nNumber of genes\n" << n << "\n";
    out << "Gene names\n";
    for (const std::string& name : sim.names) out << name << "\n";
    for (std::size_t k = 0; k < sim.courses.size(); ++k) {
        const Course& c = sim.courses[k];
        out << "Set" << k + 1 << "\nDataset " << k + 1 << "\nGenes and time points\n";
        out << n << " " << c.t.size() << "\nTime points\n";
        for (std::size_t p = 0; p < c.t.size(); ++p) out << (p ? " " : "") << time_text(c.t[p]);
        out << "\nReserved\n1.0\nExpression values (log2)\n";
        for (std::size_t i = 0; i < n; ++i) {
            for (std::size_t p = 0; p < c.t.size(); ++p) {
                // The constant gene is 1 on the linear scale: log2 value exactly 0.
                const double v = i < genes ? std::log2(c.x[p * genes + i]) : 0.0;
                out << (p ? " " : "") << number_text(v);
            }
            out << "\n";
        }
    }
    out << "END\n";
}

void write_truth_file(std::ostream& out, const Simulation& sim, const SimulationOptions& opt) {
    const numeric::ConstMatrixRef J = sim.net.view();
    const int n = sim.net.n;
    out << "# netrevia-simulate --seed " << opt.seed << ": dx/dt = J x" << (opt.input ? " + u" : "")
        << "; edge regulator -> target is J(target, regulator)\n";
    out << "# genes";
    for (const std::string& name : sim.names) out << "\t" << name;
    out << "\n# self-decay J(i,i), not listed as edges";
    for (int i = 1; i <= n; ++i) out << "\t" << number_text(J(i, i));
    out << "\nregulator\ttarget\tsign\tweight\n";
    for (int i = 1; i <= n; ++i) {
        const auto edge = [&](const std::string& regulator, double w) {
            out << regulator << "\t" << sim.names[static_cast<std::size_t>(i - 1)] << "\t"
                << (w > 0.0 ? "+" : "-") << "\t" << number_text(w) << "\n";
        };
        for (int j = 1; j <= n; ++j)
            if (j != i && J(i, j) != 0.0) edge(sim.names[static_cast<std::size_t>(j - 1)], J(i, j));
        // With an input and the constant gene, u is the column of CONST in the augmented
        // system d/dt [x; 1] = [J u; 0 0] [x; 1], so CONST -> gene is a true edge.
        const double u = sim.net.u[static_cast<std::size_t>(i - 1)];
        if (opt.constant_gene && opt.input && u != 0.0) edge("CONST", u);
    }
}

void write_table(std::ostream& out, const Simulation& sim, const SimulationOptions& opt) {
    const std::size_t genes = static_cast<std::size_t>(opt.genes);
    const bool replicates = opt.replicates > 1;
    out << "course" << (replicates ? "\treplicate" : "") << "\ttime";
    for (const std::string& name : sim.names) out << "\t" << name;
    out << "\n";
    for (std::size_t k = 0; k < sim.courses.size(); ++k) {
        for (int r = 1; r <= opt.replicates; ++r) {
            const Course& c = r == 1 ? sim.courses[k]
                                     : sim.further_replicates[static_cast<std::size_t>(r - 2)][k];
            for (std::size_t p = 0; p < c.t.size(); ++p) {
                out << "course" << k + 1;
                if (replicates) out << "\t" << r;
                out << "\t" << time_text(c.t[p]);
                for (std::size_t i = 0; i < sim.names.size(); ++i)
                    out << "\t" << number_text(i < genes ? std::log2(c.x[p * genes + i]) : 0.0);
                out << "\n";
            }
        }
    }
}

}  // namespace netrevia::tools
