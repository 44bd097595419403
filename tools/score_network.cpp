// netrevia-score: compares an inferred network (GRN.dat, optionally GRN.dot) with the true one.
// See tools/README.md.
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/score.h"

namespace {

constexpr const char* kUsage =
    "usage: netrevia-score --grn GRN.dat|edges.tsv --truth TRUTH [--truth-format F]\n"
    "                      [--dot GRN.dot] [--data DATAFILE]\n"
    "                      [--thresholds T[,T...] [--relative]] [--ignore GENE]... [--tsv]\n"
    "Compares an inferred network with the true one.\n"
    "\n"
    "  --grn FILE         the inferred network: GRN.dat (the matrix; its gene order comes\n"
    "                     from --data or the truth's '# genes' line) or edges.tsv of\n"
    "                     netrevia-batch (genes by name); told apart by the content\n"
    "  --truth FILE       the true network, in one of the formats of --truth-format\n"
    "  --truth-format F   auto (default: detected from the content), own (lines\n"
    "                     'regulator target +|- [weight]', '# genes ...' for the order, as\n"
    "                     netrevia-simulate writes), dream (gold standard lines\n"
    "                     'G1<TAB>G2<TAB>1|0') or beeline (refNetwork.csv, header\n"
    "                     'Gene1,Gene2[,Type]', Type + or -; without it signs are unknown)\n"
    "  --dot FILE         also score the edges GRN.dot draws: precision, recall, F1, colours\n"
    "  --data FILE        the data file, for the gene order of GRN.dat\n"
    "  --thresholds LIST  score the edges GRN.dot would draw at each threshold (comma-\n"
    "                     separated), from the one matrix; excludes --dot\n"
    "  --relative         the thresholds are shares of the largest |R(i,j)|, i != j\n"
    "  --ignore GENE      leave a gene out (its row, column and edges), e.g. CONST\n"
    "  --tsv              a tab-separated header and row instead of key=value\n"
    "  --help             show this text\n"
    "  --version          show the version\n"
    "\n"
    "Figures: auroc (Mann-Whitney, ties at average rank), aupr (average precision, stepwise\n"
    "over distinct scores: sum of recall gain x precision, tied scores entering together),\n"
    "ep (early precision: precision among the k largest |R(i,j)|, k = true edges; a tie\n"
    "across the cut counts in proportion) rank |R(i,j)| over pairs of distinct genes;\n"
    "auroc_all, aupr_all and ep_all do the same over every pair, self-edges included.\n"
    "sign_R: true edges whose R has the true sign (NA when the truth has no signs).\n"
    "Exit codes: 0 success, 1 a file could not be read, 2 a bad command line.\n";

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

// Only regular files (after following links): a FIFO would block, /dev/zero never end.
std::ifstream open(const std::string& path) {
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    if (status.type() == std::filesystem::file_type::not_found)
        throw std::runtime_error("cannot open " + path + ": no such file");
    if (!error && status.type() != std::filesystem::file_type::regular)
        throw std::runtime_error("cannot open " + path + ": not a regular file");
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot open " + path + ": " + std::strerror(errno));
    return in;
}

std::string slurp(const std::string& path) {
    auto in = open(path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

int main(int argc, char** argv) {
    using namespace netrevia::tools;
    std::string grn, truth_path, dot_path, data_path;
    TruthFormat truth_format = TruthFormat::kAuto;
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
            else if (o == "--truth-format") {
                const std::string& f = value();
                if (f == "auto")
                    truth_format = TruthFormat::kAuto;
                else if (f == "own")
                    truth_format = TruthFormat::kOwn;
                else if (f == "dream")
                    truth_format = TruthFormat::kDream;
                else if (f == "beeline")
                    truth_format = TruthFormat::kBeeline;
                else
                    throw std::invalid_argument("--truth-format takes auto, own, dream or beeline");
            } else if (o == "--dot")
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
            } else if (o == "--version") {
                std::cout << "netrevia-score " << NETREVIA_VERSION << "\n";
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
        std::cerr << "netrevia-score: " << e.what() << " (see netrevia-score --help)\n";
        return 2;
    }
    try {
        std::vector<std::string> genes;
        if (!data_path.empty()) {
            auto in = open(data_path);
            genes = read_data_file_genes(in);
        }
        const std::string truth_text = slurp(truth_path);
        const std::string grn_text = slurp(grn);
        const bool edge_list = is_edge_list(grn_text);
        Truth truth = read_truth_text(truth_text, truth_format, genes, truth_path);
        if (!edge_list && !truth.order_known)
            throw std::runtime_error("no gene order for " + grn +
                                     ": give --data (or a '# genes' line in the truth)");
        std::vector<double> R;
        if (edge_list) {
            // Genes only the edge list names join the truth's list as genes without edges.
            R = read_edge_list(grn_text, truth.genes);
        } else {
            std::istringstream grn_in(grn_text);
            R = read_matrix_file(grn_in, static_cast<int>(truth.genes.size()));
        }
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
