// The measured comparison behind the tree engine's choices: the same design as the engine (rates
// plus decay on the levels at each interval's start, importances normalised per target, signs of
// the ensemble engine), with the regressor and its settings chosen on the command line, writing
// a GRN.dat for netrevia-score.
//
//   netrevia_trees_compare [options] DATAFILE GRN.dat
//     --method et|xgb-rf|xgb-gb   extremely randomized trees (trees/), or the packaged
//                                 gradient-boosting library in random-forest or boosting mode
//     --trees T                   trees per target (default 500; boosting: rounds)
//     --k K                       et: attributes tried per split (0: all); xgb: columns per node
//                                 as a share of the genes (K / n)
//     --min-split M               et: fewest cases a node is split at
//     --depth D                   xgb: maximum depth
//     --decay RULE                steep (the engine's) | lsq | q90 | zero | VALUE: alpha_i
//     --norm variance|sum         per target: share of the sum of squares (the engine's), or of
//                                 the importances
//     --seed S  --threads N
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "ensemble/ensemble.h"
#include "inference/data_file.h"
#include "numeric/matrix_ref.h"
#include "numeric/parallel_for.h"
#include "trees/engine.h"
#include "trees/extra_trees.h"

#ifdef NETREVIA_HAVE_XGBOOST
#include <xgboost/c_api.h>
#endif

namespace {

using namespace netrevia;

struct Courses {
    int n = 0;
    std::vector<std::vector<double>> t;
    std::vector<std::vector<double>> levels;  // T x n, linear scale
    std::vector<ensemble::Course> views;
};

Courses read_courses(const std::string& path) {
    Courses c;
    std::ifstream in = inference::open_data_file(path);
    inference::DataFileReader reader(in, path);
    const inference::FileHeader header = inference::read_file_header(reader);
    c.n = header.n;
    const std::vector<std::string> names = inference::read_gene_names(reader, c.n);
    int k = 0;
    while (!inference::is_end_marker(reader.read_marker())) {
        ++k;
        const inference::BlockHeader block =
            inference::read_block_header(reader, header, k, inference::kMaxEnsembleBlocks);
        std::vector<double> t(static_cast<std::size_t>(block.T));
        inference::read_time_points(reader, k, t);
        inference::read_reserved_value(reader);
        std::vector<double> Y(static_cast<std::size_t>(block.T * c.n));
        std::vector<double> x(static_cast<std::size_t>(block.T));
        for (int i = 0; i < c.n; ++i) {
            inference::read_expression_row(reader, k, i + 1, names[static_cast<std::size_t>(i)], x);
            for (int j = 0; j < block.T; ++j)
                Y[static_cast<std::size_t>(j + i * block.T)] =
                    std::pow(2.0, x[static_cast<std::size_t>(j)]);
        }
        c.t.push_back(std::move(t));
        c.levels.push_back(std::move(Y));
    }
    for (std::size_t q = 0; q < c.t.size(); ++q)
        c.views.push_back({static_cast<int>(c.t[q].size()), c.t[q], c.levels[q]});
    return c;
}

std::vector<double> decay_rates(const std::string& rule, const trees::Design& d, int n) {
    std::vector<double> alpha(static_cast<std::size_t>(n), 0.0);
    const numeric::ConstMatrixRef X{d.X.data(), d.N};
    const numeric::ConstMatrixRef D{d.D.data(), d.N};
    if (rule == "steep") return trees::estimate_decay(d, n);
    if (rule == "zero") return alpha;
    if (rule == "q90") {
        // The 90th percentile of the relative falls -D/X, clipped at 0.
        for (int g = 1; g <= n; ++g) {
            std::vector<double> falls;
            for (int r = 1; r <= d.N; ++r) falls.push_back(-D(r, g) / X(r, g));
            std::sort(falls.begin(), falls.end());
            alpha[static_cast<std::size_t>(g - 1)] =
                std::max(0.0, falls[static_cast<std::size_t>(0.9 * (d.N - 1))]);
        }
        return alpha;
    }
    if (rule == "lsq") {
        // -slope of the rate on the level (with an intercept), clipped at 0.
        for (int g = 1; g <= n; ++g) {
            double sx = 0, sy = 0;
            for (int r = 1; r <= d.N; ++r) sx += X(r, g), sy += D(r, g);
            const double mx = sx / d.N, my = sy / d.N;
            double sxx = 0, sxy = 0;
            for (int r = 1; r <= d.N; ++r) {
                sxx += (X(r, g) - mx) * (X(r, g) - mx);
                sxy += (X(r, g) - mx) * (D(r, g) - my);
            }
            alpha[static_cast<std::size_t>(g - 1)] = sxx > 0 ? std::max(0.0, -sxy / sxx) : 0.0;
        }
        return alpha;
    }
    const double value = std::strtod(rule.c_str(), nullptr);
    for (double& a : alpha) a = value;
    return alpha;
}

#ifdef NETREVIA_HAVE_XGBOOST
void check(int code) {
    if (code != 0) throw std::runtime_error(XGBGetLastError());
}

// Total gain per feature of one booster fitted on (X, y).
void xgb_importance(const std::vector<float>& rows,
                    int N,
                    int n,
                    const std::vector<float>& y,
                    const std::string& mode,
                    int trees,
                    int k,
                    int depth,
                    unsigned long long seed,
                    std::vector<double>& importance) {
    DMatrixHandle data;
    check(XGDMatrixCreateFromMat(rows.data(), static_cast<bst_ulong>(N), static_cast<bst_ulong>(n),
                                 NAN, &data));
    check(XGDMatrixSetFloatInfo(data, "label", y.data(), static_cast<bst_ulong>(N)));
    BoosterHandle booster;
    check(XGBoosterCreate(&data, 1, &booster));
    auto set = [&](const char* key, const std::string& value) {
        check(XGBoosterSetParam(booster, key, value.c_str()));
    };
    set("nthread", "1");
    set("seed", std::to_string(seed));
    set("tree_method", "exact");
    set("max_depth", std::to_string(depth));
    set("min_child_weight", "1");
    set("verbosity", "0");
    const double share = k > 0 ? static_cast<double>(k) / n : 1.0;
    int rounds = 1;
    if (mode == "xgb-rf") {
        set("num_parallel_tree", std::to_string(trees));
        set("learning_rate", "1");
        set("subsample", "0.632");
        set("colsample_bynode", std::to_string(share));
        set("lambda", "0");
    } else {
        set("learning_rate", "0.1");
        set("subsample", "0.8");
        set("colsample_bynode", std::to_string(share));
        rounds = trees;
    }
    for (int round = 0; round < rounds; ++round)
        check(XGBoosterUpdateOneIter(booster, round, data));
    const char* config = R"({"importance_type": "total_gain", "feature_map": ""})";
    bst_ulong out_n = 0, out_dim = 0;
    const char** features = nullptr;
    const bst_ulong* shape = nullptr;
    const float* scores = nullptr;
    check(XGBoosterFeatureScore(booster, config, &out_n, &features, &out_dim, &shape, &scores));
    for (bst_ulong f = 0; f < out_n; ++f) {
        // Feature names are "f<index>".
        const int a = std::atoi(features[f] + 1);
        importance[static_cast<std::size_t>(a)] += scores[f];
    }
    XGBoosterFree(booster);
    XGDMatrixFree(data);
}
#endif

}  // namespace

int main(int argc, char** argv) {
    std::string method = "et", decay = "steep", norm = "variance";
    int tree_count = trees::kDefaultTrees, K = 0, min_split = trees::kDefaultMinSplit, depth = 6,
        threads = 1;
    unsigned long long seed = 0;
    std::vector<std::string> files;
    for (int a = 1; a < argc; ++a) {
        const std::string arg = argv[a];
        auto value = [&] { return std::string(argv[++a]); };
        if (arg == "--method")
            method = value();
        else if (arg == "--trees")
            tree_count = std::stoi(value());
        else if (arg == "--k")
            K = std::stoi(value());
        else if (arg == "--min-split")
            min_split = std::stoi(value());
        else if (arg == "--depth")
            depth = std::stoi(value());
        else if (arg == "--decay")
            decay = value();
        else if (arg == "--norm")
            norm = value();
        else if (arg == "--seed")
            seed = std::stoull(value());
        else if (arg == "--threads")
            threads = std::stoi(value());
        else
            files.push_back(arg);
    }
    if (files.size() != 2) {
        std::fprintf(stderr, "usage: netrevia_trees_compare [options] DATAFILE GRN.dat\n");
        return 2;
    }
    const Courses c = read_courses(files[0]);
    const int n = c.n;
    const trees::Design d = trees::make_design(n, c.views);
    const std::vector<double> alpha = decay_rates(decay, d, n);

    ensemble::Input e_input;
    e_input.n = n;
    e_input.courses = c.views;
    e_input.seed = seed;
    e_input.threads = threads;
    const std::vector<double> signs = ensemble::infer(e_input).R;

    std::vector<double> R(static_cast<std::size_t>(n * n), 0.0);
    const numeric::ConstMatrixRef X{d.X.data(), d.N};
    const numeric::ConstMatrixRef D{d.D.data(), d.N};
    std::vector<int> candidates;
    for (int j = 1; j <= n; ++j) candidates.push_back(j);
    std::vector<float> rows;  // N x n row-major, for the library
    for (int r = 1; r <= d.N; ++r)
        for (int g = 1; g <= n; ++g) rows.push_back(static_cast<float>(X(r, g)));
    numeric::parallel_for(n, threads, [&] {
        return [&, work = trees::Work{}](int task) mutable {
            const int i = task + 1;
            std::vector<double> y(static_cast<std::size_t>(d.N));
            for (int r = 1; r <= d.N; ++r)
                y[static_cast<std::size_t>(r - 1)] =
                    D(r, i) + alpha[static_cast<std::size_t>(task)] * X(r, i);
            std::vector<double> importance(static_cast<std::size_t>(n), 0.0);
            if (method == "et") {
                trees::Random random(seed, static_cast<std::uint64_t>(i));
                const trees::Sample sample{d.N, X, y, candidates};
                trees::add_importances(sample, {tree_count, K, min_split}, random, work,
                                       importance);
            } else {
#ifdef NETREVIA_HAVE_XGBOOST
                std::vector<float> label(y.begin(), y.end());
                xgb_importance(rows, d.N, n, label, method, tree_count, K, depth, seed + i,
                               importance);
#else
                std::fprintf(stderr, "built without the library\n");
                std::exit(2);
#endif
            }
            importance[static_cast<std::size_t>(task)] = 0.0;
            double total = 0.0;
            if (norm == "sum") {
                for (const double v : importance) total += v;
            } else {
                double mean = 0.0;
                for (const double v : y) mean += v;
                mean /= d.N;
                for (const double v : y) total += (v - mean) * (v - mean);
            }
            if (!(total > 0.0)) return;
            for (int j = 0; j < n; ++j)
                R[static_cast<std::size_t>(task + j * n)] =
                    importance[static_cast<std::size_t>(j)] / total;
        };
    });
    std::FILE* out = std::fopen(files[1].c_str(), "w");
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            const std::size_t cell = static_cast<std::size_t>(i + j * n);
            std::fprintf(out, "%25.12f", signs[cell] < 0 ? -R[cell] : R[cell]);
        }
        std::fprintf(out, "\r\n");
    }
    std::fclose(out);
    return 0;
}
