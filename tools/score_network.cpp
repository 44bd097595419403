// netrevia-score: compares an inferred network (GRN.dat, optionally GRN.dot) with the true one.
// See tools/README.md.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <fstream>
#include <iostream>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/score.h"

namespace {

constexpr const char* kUsage =
    "usage: netrevia-score --grn GRN.dat --truth TRUTH.tsv [--dot GRN.dot] [--data DATAFILE]\n"
    "                      [--thresholds T[,T...] [--relative]] [--ignore GENE]... [--tsv]\n";

// "0.1,0.3,1e-6": finite numbers, at least one.
std::vector<double> number_list(const std::string& text) {
    std::vector<double> values;
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = std::min(text.find(',', start), text.size());
        double v = 0.0;
        const char* first = text.data() + start;
        const char* last = text.data() + comma;
        const auto res = std::from_chars(first, last, v);
        if (first == last || res.ec != std::errc{} || res.ptr != last || !std::isfinite(v))
            throw std::invalid_argument("--thresholds: not a list of numbers: '" + text + "'");
        values.push_back(v);
        if (comma == text.size()) return values;
        start = comma + 1;
    }
}

std::ifstream open(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot open " + path);
    return in;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace netrevia::tools;
    std::string grn, truth_path, dot_path, data_path;
    std::vector<double> thresholds;
    std::vector<std::string> ignored;
    bool tsv = false, relative = false;
    try {
        const std::vector<std::string> args(argv + 1, argv + argc);
        for (std::size_t a = 0; a < args.size(); ++a) {
            const std::string& o = args[a];
            const auto value = [&]() -> const std::string& {
                if (a + 1 >= args.size()) throw std::invalid_argument(o + " needs a value");
                return args[++a];
            };
            if (o == "--grn")
                grn = value();
            else if (o == "--truth")
                truth_path = value();
            else if (o == "--dot")
                dot_path = value();
            else if (o == "--data")
                data_path = value();
            else if (o == "--thresholds")
                thresholds = number_list(value());
            else if (o == "--relative")
                relative = true;
            else if (o == "--ignore")
                ignored.push_back(value());
            else if (o == "--tsv")
                tsv = true;
            else if (o == "--help" || o == "-h") {
                std::cout << kUsage;
                return 0;
            } else {
                throw std::invalid_argument("unknown option " + o);
            }
        }
        if (grn.empty() || truth_path.empty())
            throw std::invalid_argument("--grn and --truth are required");
        if (!thresholds.empty() && !dot_path.empty())
            throw std::invalid_argument("--thresholds and --dot exclude each other");
        if (!ignored.empty() && !dot_path.empty())
            throw std::invalid_argument("--ignore and --dot exclude each other");
        if (relative && thresholds.empty())
            throw std::invalid_argument("--relative needs --thresholds");
    } catch (const std::invalid_argument& e) {
        std::cerr << "netrevia-score: " << e.what() << "\n" << kUsage;
        return 2;
    }
    try {
        std::vector<std::string> genes;
        if (!data_path.empty()) {
            auto in = open(data_path);
            genes = read_data_file_genes(in);
        }
        auto truth_in = open(truth_path);
        Truth truth = read_truth(truth_in, genes);
        auto grn_in = open(grn);
        auto R = read_matrix_file(grn_in, static_cast<int>(truth.genes.size()));
        std::vector<DrawnEdge> dot;
        if (!dot_path.empty()) {
            auto in = open(dot_path);
            dot = read_dot_edges(in, truth.genes);
        }
        for (const std::string& name : ignored) {
            const auto g = std::find(truth.genes.begin(), truth.genes.end(), name);
            if (g == truth.genes.end()) throw std::runtime_error("--ignore: no gene " + name);
            drop_gene(truth, R, static_cast<int>(g - truth.genes.begin()));
        }
        if (thresholds.empty()) {
            write_score(std::cout, score_network(truth, R, dot_path.empty() ? nullptr : &dot), tsv);
            return 0;
        }
        // Every threshold from the one matrix, with the edges GRN.dot would hold.
        const int n = static_cast<int>(truth.genes.size());
        const double largest = largest_off_diagonal(R, n);
        std::vector<ThresholdScore> rows;
        for (const double value : thresholds) {
            ThresholdScore row;
            row.t = relative ? value * largest : value;
            row.fraction = relative ? value : std::numeric_limits<double>::quiet_NaN();
            const auto edges = edges_above(R, n, row.t);
            row.score = score_network(truth, R, &edges);
            rows.push_back(row);
        }
        write_threshold_scores(std::cout, rows, tsv);
    } catch (const std::exception& e) {
        std::cerr << "netrevia-score: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
