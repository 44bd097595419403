// netrevia-score: compares an inferred network (GRN.dat, optionally GRN.dot) with the true one.
// See tools/README.md.
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/score.h"

namespace {

constexpr const char* kUsage =
    "usage: netrevia-score --grn GRN.dat --truth TRUTH.tsv [--dot GRN.dot] [--data DATAFILE]\n"
    "                      [--tsv]\n";

std::ifstream open(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot open " + path);
    return in;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace netrevia::tools;
    std::string grn, truth_path, dot_path, data_path;
    bool tsv = false;
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
        const Truth truth = read_truth(truth_in, genes);
        auto grn_in = open(grn);
        const auto R = read_matrix_file(grn_in, static_cast<int>(truth.genes.size()));
        std::vector<DrawnEdge> dot;
        if (!dot_path.empty()) {
            auto in = open(dot_path);
            dot = read_dot_edges(in, truth.genes);
        }
        write_score(std::cout, score_network(truth, R, dot_path.empty() ? nullptr : &dot), tsv);
    } catch (const std::exception& e) {
        std::cerr << "netrevia-score: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
