#include "tools/simulate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iomanip>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "inference/data_file.h"

namespace {

using netrevia::tools::Course;
using netrevia::tools::PlantedNetwork;
using netrevia::tools::Rng;
using netrevia::tools::Simulation;
using netrevia::tools::SimulationOptions;

std::string data_text(const SimulationOptions& opt) {
    std::ostringstream out;
    write_data_file(out, simulate(opt), opt);
    return out.str();
}

std::string truth_text(const SimulationOptions& opt) {
    std::ostringstream out;
    write_truth_file(out, simulate(opt), opt);
    return out.str();
}

PlantedNetwork system_of(int n, std::vector<double> J, std::vector<double> u) {
    PlantedNetwork net;
    net.n = n;
    net.J = std::move(J);
    net.u = std::move(u);
    return net;
}

// The data file as the inference reads it, for the common case of one value line each.
struct ParsedFile {
    int declared = 0;
    std::vector<std::string> names;
    std::vector<std::vector<double>> times;
    std::vector<std::vector<std::vector<double>>> rows;  // [course][gene][point]
    std::string last_line;
};

ParsedFile parse(const std::string& text) {
    std::istringstream in(text);
    std::string line;
    const auto next = [&] {
        EXPECT_TRUE(std::getline(in, line)) << "file ends early";
        return line;
    };
    const auto numbers = [&](std::size_t want) {
        std::istringstream words(next());
        std::vector<double> v;
        for (double d; words >> d;) v.push_back(d);
        EXPECT_TRUE(words.eof()) << "not a number in: " << line;
        EXPECT_EQ(v.size(), want) << line;
        return v;
    };
    ParsedFile f;
    next();
    f.declared = std::stoi(next());
    next();
    const int n = std::stoi(next());
    next();
    for (int i = 0; i < n; ++i) f.names.push_back(next());
    while (next().substr(0, 3) != "END" && in) {
        next();
        next();
        const auto header = numbers(2);
        EXPECT_EQ(static_cast<int>(header[0]), n);
        const auto T = static_cast<std::size_t>(header[1]);
        next();
        f.times.push_back(numbers(T));
        next();
        numbers(1);
        next();
        f.rows.emplace_back();
        for (int i = 0; i < n; ++i) f.rows.back().push_back(numbers(T));
    }
    f.last_line = line;
    EXPECT_FALSE(std::getline(in, line)) << "text after END";
    return f;
}

TEST(Rng, UniformAndNormalHaveTheirMoments) {
    Rng rng(7);
    const int count = 200000;
    double sum_u = 0, sum_z = 0, sum_z2 = 0;
    for (int k = 0; k < count; ++k) {
        const double u = rng.uniform();
        ASSERT_TRUE(u >= 0.0 && u < 1.0);
        sum_u += u;
        const double z = rng.normal();
        sum_z += z;
        sum_z2 += z * z;
    }
    // Standard errors: 0.29/sqrt(count) = 6.5e-4 for the uniform mean, 2.2e-3 for the normal
    // mean, 3.2e-3 for its second moment; the bounds are 5 to 7 of them.
    EXPECT_NEAR(sum_u / count, 0.5, 0.004);
    EXPECT_NEAR(sum_z / count, 0.0, 0.015);
    EXPECT_NEAR(sum_z2 / count, 1.0, 0.02);
}

TEST(Simulate, SameSeedGivesIdenticalFilesAndOtherSeedsDiffer) {
    SimulationOptions opt;
    opt.noise = 0.2;
    opt.irregular = true;
    const std::string data = data_text(opt), truth = truth_text(opt);
    EXPECT_EQ(data, data_text(opt));
    EXPECT_EQ(truth, truth_text(opt));
    opt.seed = 2;
    EXPECT_NE(data, data_text(opt));
    EXPECT_NE(truth, truth_text(opt));
}

TEST(Simulate, RegeneratesTheBundledExampleByteForByte) {
    // examples/README.md: netrevia-simulate --genes 20 --courses 3 --points 8,10,12
    //   --seed 2024 --out-data twenty_genes.dat --out-truth twenty_genes_truth.tsv
    SimulationOptions opt;
    opt.genes = 20;
    opt.courses = 3;
    opt.points = {8, 10, 12};
    opt.seed = 2024;
    for (const auto& [file, text] : {std::pair{"twenty_genes.dat", data_text(opt)},
                                     std::pair{"twenty_genes_truth.tsv", truth_text(opt)}}) {
        std::ifstream in(std::string(EXAMPLES_DIR) + "/" + file, std::ios::binary);
        ASSERT_TRUE(in) << file;
        std::ostringstream bundled;
        bundled << in.rdbuf();
        EXPECT_EQ(bundled.str(), text) << file;
    }
}

TEST(PlantNetwork, EveryGeneHasOneToThreeRegulatorsAndGershgorinHolds) {
    for (const int n : {2, 3, 4, 20, 150}) {
        for (std::uint64_t seed = 1; seed <= 5; ++seed) {
            SimulationOptions opt;
            opt.genes = n;
            Rng rng(seed);
            const PlantedNetwork net = plant_network(opt, rng);
            const auto J = net.view();
            for (int i = 1; i <= n; ++i) {
                int regulators = 0;
                double radius = 0.0;
                for (int j = 1; j <= n; ++j) {
                    if (j == i || J(i, j) == 0.0) continue;
                    ++regulators;
                    radius += std::abs(J(i, j));
                    EXPECT_GE(std::abs(J(i, j)), opt.weight_min);
                    EXPECT_LE(std::abs(J(i, j)), opt.weight_max);
                }
                EXPECT_GE(regulators, 1) << "n " << n << " gene " << i;
                EXPECT_LE(regulators, std::min(3, n - 1)) << "n " << n << " gene " << i;
                // Disc of row i lies left of -margin: every eigenvalue has Re <= -margin.
                EXPECT_LE(J(i, i) + radius, -opt.margin + 1e-12);
            }
        }
    }
}

TEST(PlantNetwork, SignsAndRegulatorCountsAreMixed) {
    SimulationOptions opt;
    opt.genes = 300;
    Rng rng(3);
    const PlantedNetwork net = plant_network(opt, rng);
    const auto J = net.view();
    int positive = 0, negative = 0;
    std::vector<int> with_count(4, 0);
    for (int i = 1; i <= opt.genes; ++i) {
        int count = 0;
        for (int j = 1; j <= opt.genes; ++j)
            if (j != i && J(i, j) != 0.0) {
                ++count;
                (J(i, j) > 0 ? positive : negative) += 1;
            }
        ++with_count[static_cast<std::size_t>(count)];
    }
    EXPECT_GT(positive, 200);  // about 300 each
    EXPECT_GT(negative, 200);
    for (int c = 1; c <= 3; ++c) EXPECT_GT(with_count[static_cast<std::size_t>(c)], 60);
}

TEST(IntegrateRk4, DiagonalSystemMatchesExponential) {
    // h = 0.01 and |a| <= 1: the RK4 error per step is about (h a)^5 / 120 relative, 1.7e-10
    // over 200 steps; 1e-9 leaves room for rounding.
    const auto net = system_of(3, {-1.0, 0, 0, 0, -0.3, 0, 0, 0, 0.5}, {0, 0, 0});
    std::vector<double> x = {1.0, 2.0, 3.0};
    ASSERT_TRUE(integrate_rk4(net, x, 2.0, 200));
    EXPECT_NEAR(x[0] / std::exp(-2.0), 1.0, 1e-9);
    EXPECT_NEAR(x[1] / (2.0 * std::exp(-0.6)), 1.0, 1e-9);
    EXPECT_NEAR(x[2] / (3.0 * std::exp(1.0)), 1.0, 1e-9);
}

TEST(IntegrateRk4, CoupledSystemUsesRowAsTarget) {
    // J(1,2) = 1: gene 2 drives gene 1. dx1/dt = -x1 + x2, dx2/dt = -2 x2 gives
    // x1 = (x10 + x20) e^-t - x20 e^-2t, x2 = x20 e^-2t. Column-major J = {-1, 0, 1, -2}.
    const auto net = system_of(2, {-1.0, 0.0, 1.0, -2.0}, {0, 0});
    std::vector<double> x = {1.0, 3.0};
    ASSERT_TRUE(integrate_rk4(net, x, 1.5, 300));
    EXPECT_NEAR(x[0], 4.0 * std::exp(-1.5) - 3.0 * std::exp(-3.0), 1e-9);
    EXPECT_NEAR(x[1], 3.0 * std::exp(-3.0), 1e-9);
}

TEST(IntegrateRk4, ConstantInputRelaxesToSteadyStateAndStopsAtZero) {
    // dx/dt = -2 x + 3: x = 1.5 + (x0 - 1.5) e^-2t.
    auto net = system_of(1, {-2.0}, {3.0});
    std::vector<double> x = {0.25};
    ASSERT_TRUE(integrate_rk4(net, x, 1.0, 100));
    EXPECT_NEAR(x[0], 1.5 - 1.25 * std::exp(-2.0), 1e-9);
    // dx/dt = -x - 1 crosses zero at t = ln 1.5 = 0.405: reported, not passed over.
    net = system_of(1, {-1.0}, {-1.0});
    x = {0.5};
    EXPECT_FALSE(integrate_rk4(net, x, 1.0, 100));
    EXPECT_LE(x[0], 0.0);
    EXPECT_GT(x[0], -0.02);  // stopped within one step of the crossing
}

TEST(WriteDataFile, LayoutParsesBackWithPerCourseCounts) {
    SimulationOptions opt;
    opt.points = {8, 10, 12};
    opt.irregular = true;
    opt.constant_gene = true;
    const Simulation sim = simulate(opt);
    std::ostringstream out;
    write_data_file(out, sim, opt);
    const ParsedFile f = parse(out.str());
    EXPECT_EQ(f.declared, 3);
    ASSERT_EQ(f.names.size(), 21u);
    EXPECT_EQ(f.names.front(), "G01");
    EXPECT_EQ(f.names[19], "G20");
    EXPECT_EQ(f.names.back(), "CONST");
    EXPECT_EQ(f.last_line, "END");
    ASSERT_EQ(f.rows.size(), 3u);
    for (std::size_t k = 0; k < 3; ++k) {
        const std::size_t T = f.times[k].size();
        EXPECT_EQ(T, static_cast<std::size_t>(opt.points[k]));
        EXPECT_EQ(f.times[k][0], 0.0);
        for (std::size_t p = 1; p < T; ++p) EXPECT_GT(f.times[k][p], f.times[k][p - 1]);
        const Course& c = sim.courses[k];
        for (std::size_t i = 0; i < 21; ++i)
            for (std::size_t p = 0; p < T; ++p) {
                const double v = f.rows[k][i][p];
                ASSERT_TRUE(std::isfinite(v));
                if (i == 20) {
                    EXPECT_EQ(v, 0.0);
                } else {
                    // Written to 10 significant digits: the value of gene i at point p.
                    EXPECT_GT(c.x[p * 20 + i], 0.0);
                    EXPECT_NEAR(v, std::log2(c.x[p * 20 + i]), 1e-9 * (1.0 + std::abs(v)));
                }
            }
    }
}

TEST(Simulate, CoursesStartApartAndFollowTheirSystem) {
    SimulationOptions opt;
    opt.points = {5};
    opt.courses = 2;
    const Simulation sim = simulate(opt);
    const std::size_t n = 20;
    EXPECT_NE(sim.courses[0].x[0], sim.courses[1].x[0]);
    // Re-integrating from the first sample reproduces the last one.
    std::vector<double> x(sim.courses[1].x.begin(), sim.courses[1].x.begin() + n);
    ASSERT_TRUE(integrate_rk4(sim.net, x, sim.courses[1].t[4], 4000));
    for (std::size_t i = 0; i < n; ++i) EXPECT_NEAR(x[i] / sim.courses[1].x[4 * n + i], 1.0, 1e-9);
}

TEST(Simulate, NoiseIsLognormalWithTheGivenLog2Spread) {
    SimulationOptions opt;
    opt.points = {30};
    opt.input = true;  // long courses stay positive around the steady state
    const Simulation clean = simulate(opt);
    opt.noise = 0.1;
    const Simulation noisy = simulate(opt);
    double sum = 0, sum2 = 0;
    const std::size_t count = clean.courses[0].x.size() * clean.courses.size();
    for (std::size_t k = 0; k < clean.courses.size(); ++k) {
        EXPECT_EQ(clean.courses[k].t, noisy.courses[k].t);
        for (std::size_t v = 0; v < clean.courses[k].x.size(); ++v) {
            const double d = std::log2(noisy.courses[k].x[v] / clean.courses[k].x[v]);
            sum += d;
            sum2 += d * d;
        }
    }
    const double mean = sum / static_cast<double>(count);
    EXPECT_NEAR(mean, 0.0, 0.015);  // 1800 values: standard error 0.0024
    EXPECT_NEAR(std::sqrt(sum2 / static_cast<double>(count) - mean * mean), 0.1, 0.01);
}

TEST(Simulate, InputHoldsAPositiveSteadyStateAndConstIsItsRegulator) {
    SimulationOptions opt;
    opt.input = true;
    opt.constant_gene = true;
    const Simulation sim = simulate(opt);
    const auto J = sim.net.view();
    for (int i = 1; i <= opt.genes; ++i) {
        double r = sim.net.u[static_cast<std::size_t>(i - 1)];
        for (int j = 1; j <= opt.genes; ++j)
            r += J(i, j) * sim.net.s[static_cast<std::size_t>(j - 1)];
        EXPECT_GT(sim.net.s[static_cast<std::size_t>(i - 1)], 0.0);
        EXPECT_NEAR(r, 0.0, 1e-12);
    }
    std::ostringstream out;
    write_truth_file(out, sim, opt);
    int const_edges = 0;
    std::istringstream lines(out.str());
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("CONST\t", 0) == 0) ++const_edges;
    EXPECT_EQ(const_edges, opt.genes);
}

// Replicates are the same clean courses with noise of their own: replicate 1 is what one
// replicate gives (the data file stays byte for byte), the others differ from it by the noise
// of two draws (log2 spread sqrt(2) sigma), and without noise every replicate is the same.
TEST(Simulate, ReplicatesShareTheCleanCoursesAndDrawTheirOwnNoise) {
    SimulationOptions opt;
    opt.points = {30};
    opt.input = true;
    opt.noise = 0.1;
    const std::string one = data_text(opt);
    opt.replicates = 3;
    EXPECT_EQ(data_text(opt), one);
    const Simulation sim = simulate(opt);
    ASSERT_EQ(sim.further_replicates.size(), 2u);
    for (const std::vector<Course>& replicate : sim.further_replicates) {
        ASSERT_EQ(replicate.size(), sim.courses.size());
        double sum2 = 0;
        std::size_t count = 0;
        for (std::size_t k = 0; k < sim.courses.size(); ++k) {
            EXPECT_EQ(replicate[k].t, sim.courses[k].t);
            for (std::size_t v = 0; v < sim.courses[k].x.size(); ++v, ++count) {
                const double d = std::log2(replicate[k].x[v] / sim.courses[k].x[v]);
                sum2 += d * d;
            }
        }
        EXPECT_NEAR(std::sqrt(sum2 / static_cast<double>(count)), std::sqrt(2.0) * 0.1, 0.01);
    }
    EXPECT_NE(sim.further_replicates[0][0].x, sim.further_replicates[1][0].x);
    opt.noise = 0.0;
    const Simulation clean = simulate(opt);
    EXPECT_EQ(clean.further_replicates[1][2].x, clean.courses[2].x);
}

// The table: a header of course, replicate, time and the names, then the rows of each course
// and replicate in turn, the first replicate's values written as the data file writes them.
TEST(WriteTable, CoursesAndReplicatesInRowsWithTheDataFilesNumbers) {
    SimulationOptions opt;
    opt.genes = 3;
    opt.courses = 2;
    opt.points = {3, 4};
    opt.noise = 0.05;
    opt.replicates = 2;
    opt.constant_gene = true;
    const Simulation sim = simulate(opt);
    std::ostringstream out;
    write_table(out, sim, opt);
    std::istringstream lines(out.str());
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line, "course\treplicate\ttime\tG01\tG02\tG03\tCONST");
    std::vector<std::string> keys;
    std::vector<std::vector<std::string>> values;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string course, replicate, time;
        std::getline(fields, course, '\t');
        std::getline(fields, replicate, '\t');
        std::getline(fields, time, '\t');
        keys.push_back(course + " " + replicate + " " + time);
        values.emplace_back();
        for (std::string v; std::getline(fields, v, '\t');) values.back().push_back(v);
        EXPECT_EQ(values.back().size(), 4u);
        EXPECT_EQ(values.back().back(), "0");
    }
    EXPECT_EQ(keys, (std::vector<std::string>{"course1 1 0", "course1 1 0.02", "course1 1 0.04",
                                              "course1 2 0", "course1 2 0.02", "course1 2 0.04",
                                              "course2 1 0", "course2 1 0.02", "course2 1 0.04",
                                              "course2 1 0.06", "course2 2 0", "course2 2 0.02",
                                              "course2 2 0.04", "course2 2 0.06"}));
    const ParsedFile data = parse(data_text(opt));
    for (std::size_t p = 0; p < 4; ++p) {
        for (std::size_t g = 0; g < 3; ++g) {
            std::ostringstream text;
            text << std::setprecision(10) << data.rows[1][g][p];
            EXPECT_EQ(values[6 + p][g], text.str()) << p << " " << g;
        }
    }
    EXPECT_NE(values[0], values[3]);  // replicate 2 has noise of its own

    std::ostringstream single;
    opt.replicates = 1;
    write_table(single, simulate(opt), opt);
    const std::string text = single.str();
    EXPECT_EQ(text.substr(0, text.find('\n')), "course\ttime\tG01\tG02\tG03\tCONST");
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 8);
}

// The message simulate() refuses the options with; empty when it takes them.
std::string refusal(const SimulationOptions& opt) {
    try {
        simulate(opt);
    } catch (const std::invalid_argument& e) {
        return e.what();
    }
    return "";
}

TEST(Simulate, RejectsOptionsTheDataFileCannotHold) {
    SimulationOptions opt;
    opt.courses = 5;
    EXPECT_THROW(simulate(opt), std::invalid_argument);
    opt.courses = 2;
    opt.points = {8, 10, 12};
    EXPECT_THROW(simulate(opt), std::invalid_argument);
    opt.points = {1};
    EXPECT_THROW(simulate(opt), std::invalid_argument);
    opt.points = {4};
    opt.genes = 2000;
    opt.constant_gene = true;
    EXPECT_THROW(simulate(opt), std::invalid_argument);

    // Intervals below the time grid wrote equal time points (a file the reader refuses), and
    // noise beyond about 120 wrote inf; both ran and exited 0.
    const std::string dt_bounds =
        "--dt must be 1e-06 to 1000 (2e-06 to 1000 with --irregular): time points are written "
        "on a grid of 1e-06";
    const std::string noise_bounds = "--noise must be 0 to 100 (log2 units)";
    const auto with = [](double dt, bool irregular, double noise) {
        SimulationOptions o;
        o.genes = 2;
        o.points = {2};
        o.input = true;
        o.dt = dt;
        o.irregular = irregular;
        o.noise = noise;
        return o;
    };
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (const double dt : {0.0, 1e-300, 9.99e-7, 1000.001, inf, nan})
        EXPECT_EQ(refusal(with(dt, false, 0.0)), dt_bounds) << dt;
    EXPECT_EQ(refusal(with(1.99e-6, true, 0.0)), dt_bounds);
    for (const double noise : {-1e-9, 100.001, inf, nan})
        EXPECT_EQ(refusal(with(0.02, false, noise)), noise_bounds) << noise;
    EXPECT_EQ(refusal(with(1e-6, false, 100.0)), "");
    for (const int replicates : {0, 101}) {
        SimulationOptions o = with(0.02, false, 0.1);
        o.replicates = replicates;
        EXPECT_EQ(refusal(o), "--replicates must be 1 to 100") << replicates;
    }
    EXPECT_EQ(refusal(with(2e-6, true, 0.0)), "");
    EXPECT_EQ(refusal(with(1000.0, true, 0.0)), "");
}

// Times from 1e4 on need more than 10 significant digits to show the 1e-6 grid; they were cut
// (10506.275781 written as 10506.27578). Long courses cost minutes to integrate, so the
// times are set by hand here.
TEST(WriteDataFile, TimePointsKeepEveryDigitOfTheirGrid) {
    SimulationOptions opt;
    opt.genes = 1;
    opt.courses = 1;
    Simulation sim;
    sim.names = {"G1"};
    const std::vector<double> t = {0.0, 1e-6, 9999.999999, 10506.275781, 123456789.123456, 4e12};
    sim.courses.push_back({t, std::vector<double>(t.size(), 1.0)});
    std::ostringstream out;
    write_data_file(out, sim, opt);
    EXPECT_NE(out.str().find("\nTime points\n0 1e-06 9999.999999 10506.275781 123456789.123456 "
                             "4000000000000\n"),
              std::string::npos)
        << out.str();
}

// The data file read back by the run's own reader at the limits of every option: each time
// point is the simulated one to the last bit or two (10 significant digits cut times from 1e4
// on), strictly increasing (intervals below the grid collapsed before), and every value is one
// the reader takes.
TEST(WriteDataFile, EveryFileAtTheLimitsReadsBackWithTheRunsReader) {
    struct Case {
        const char* what;
        SimulationOptions opt;
    };
    std::vector<Case> cases;
    const auto add = [&cases](const char* what, auto set) {
        SimulationOptions opt;
        opt.genes = 4;
        opt.points = {6};
        set(opt);
        cases.push_back({what, opt});
    };
    add("2 genes, 1 course of 2", [](auto& o) { o.genes = 2, o.courses = 1, o.points = {2}; });
    add("4 courses", [](auto& o) { o.courses = 4, o.points = {2, 3, 4, 5}; });
    add("shortest dt", [](auto& o) { o.dt = 1e-6; });
    add("shortest irregular dt", [](auto& o) { o.dt = 2e-6, o.irregular = true, o.seed = 3; });
    add("longest dt", [](auto& o) { o.dt = 1000, o.irregular = o.input = true, o.points = {3}; });
    add("most noise", [](auto& o) { o.noise = 100, o.input = true, o.points = {40}; });
    add("constant gene", [](auto& o) { o.constant_gene = o.input = true; });
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Simulation sim = simulate(c.opt);
        std::ostringstream out;
        write_data_file(out, sim, c.opt);
        std::istringstream in(out.str());
        namespace inf = netrevia::inference;
        inf::DataFileReader reader(in, "sim.dat");
        const inf::FileHeader header = inf::read_file_header(reader);
        const std::vector<std::string> names = inf::read_gene_names(reader, header.n);
        ASSERT_EQ(static_cast<std::size_t>(header.n), sim.names.size());
        const std::size_t n = sim.names.size();
        const std::size_t genes = static_cast<std::size_t>(c.opt.genes);
        int k = 0;
        while (!inf::is_end_marker(reader.read_marker())) {
            ++k;
            const Course& course = sim.courses[static_cast<std::size_t>(k - 1)];
            const inf::BlockHeader block = inf::read_block_header(reader, header, k);
            ASSERT_EQ(static_cast<std::size_t>(block.T), course.t.size());
            std::vector<double> t(course.t.size());
            inf::read_time_points(reader, k, t);  // refuses times that do not increase
            for (std::size_t p = 0; p < t.size(); ++p) {
                EXPECT_LE(std::abs(t[p] - course.t[p]),
                          2 * std::numeric_limits<double>::epsilon() * course.t[p])
                    << "t(" << p + 1 << ") = " << t[p] << ", simulated " << course.t[p];
            }
            inf::read_reserved_value(reader);
            std::vector<double> x(t.size()), Y(t.size() * n);
            for (std::size_t i = 0; i < n; ++i) {
                inf::read_expression_row(reader, k, static_cast<int>(i + 1), names[i], x);
                for (std::size_t p = 0; p < t.size(); ++p) {
                    Y[p + i * t.size()] = std::exp2(x[p]);
                    if (i < genes) {
                        EXPECT_NEAR(x[p], std::log2(course.x[p * genes + i]),
                                    1e-9 * (1.0 + std::abs(x[p])));
                    }
                }
            }
            inf::check_rates_of_change(reader, k, t, {Y.data(), block.T}, names);
        }
        EXPECT_EQ(k, c.opt.courses);
    }
}

}  // namespace
