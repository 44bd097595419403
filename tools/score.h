#pragma once

#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace netrevia::tools {

// A true network: gene names in matrix order and the signed edges (regulator, target are
// 0-based indices into genes; self edges are not kept).
struct TrueEdge {
    int regulator = 0;
    int target = 0;
    double weight = 0.0;  // only its sign is used
};
struct Truth {
    std::vector<std::string> genes;
    std::vector<TrueEdge> edges;
    std::vector<int> self_edges;  // genes (0-based) that regulate themselves in the truth
    bool signs_known = true;      // false when the truth format gives no signs
    bool order_known = false;     // genes is the data file's order or the "# genes" line's
};

// The truth formats netrevia-score reads:
//  kOwn     "regulator target +|- [weight]", blank- or tab-separated (read_truth)
//  kDream   DREAM gold standards: "G1<TAB>G2<TAB>1" for an edge, 0 for a listed non-edge
//  kBeeline BEELINE refNetwork.csv: a header "Gene1,Gene2[,Type]", then one edge a line, with
//           the sign ('+' or '-') in Type when the column is there
enum class TruthFormat { kAuto, kOwn, kDream, kBeeline };

// The format of a truth file from its first line that is neither empty nor a comment: a comma
// and a first field Gene1 make BEELINE, three fields with 0 or 1 last make DREAM, anything
// else the own format.
TruthFormat detect_truth_format(const std::string& text);

// A truth file in any format (kAuto: detected). The gene order is genes when given, else the
// "# genes" line of the own format, else the order in which the truth first names each gene
// (enough for scoring an edge list; a matrix needs the data file's order). A UTF-8 byte-order
// mark is skipped. Throws std::runtime_error "truth file <file>, line L: ..." for text that
// breaks the format (UTF-16 or UTF-32, NUL bytes, lone CR line ends, fields that are not the
// format's, a weight that is not a finite number of the line's sign, a gene not in the order,
// a '# genes' line naming two genes the matrix cannot tell apart) and for a pair given twice
// with different values (another sign, 0 against 1, another weight); a pair given twice alike
// counts once.
Truth read_truth_text(const std::string& text,
                      TruthFormat format,
                      const std::vector<std::string>& genes = {},
                      std::string_view file = "(text)");

// True when text is an edge list written by netrevia-batch (edges.tsv): its first line starts
// "rank<TAB>regulator<TAB>target<TAB>weight".
bool is_edge_list(const std::string& text);

// edges.tsv as a matrix: R(target, regulator) = weight, 0 for every pair it does not list;
// names are matched exactly against genes, and a name that is not there is added at the end
// of genes. Returns R column-major for the final gene count. Throws std::runtime_error.
std::vector<double> read_edge_list(const std::string& text, std::vector<std::string>& genes);

// The own format from a stream, as read_truth_text does it, with a gene order required (genes,
// from the data file, or a "# genes" line). Throws std::runtime_error.
Truth read_truth(std::istream& in, std::vector<std::string> genes = {});

// The gene names of a data file as the inference reads them (cut to 9 characters, trailing
// blanks dropped), by the run's own reader: throws its InputError or DataFileRejected.
std::vector<std::string> read_data_file_genes(std::istream& in);

// GRN.dat: n lines of n fields of 25 characters (CR LF or LF), row i = target gene. A field of
// asterisks (too large to print) reads as +infinity, an unreadable field as NaN. A line that is
// not 25 n characters long is split at blanks instead. Returns R column-major n x n.
std::vector<double> read_matrix_file(std::istream& in, int n);

// The edges of GRN.dot, self edges included: (regulator, target, positive) from each names
// line "<9 chars>  ->  <9 chars>" and the colour line after it. Names are matched against genes
// after cutting to 9 characters; an unknown name throws std::runtime_error.
struct DrawnEdge {
    int regulator = 0;
    int target = 0;
    bool positive = true;
};
std::vector<DrawnEdge> read_dot_edges(std::istream& in, const std::vector<std::string>& genes);

// Area under the ROC curve of scores against labels, by the Mann-Whitney statistic with
// average ranks for ties: (sum of positive ranks - P(P+1)/2) / (P N). NaN when P or N is 0.
double auroc(const std::vector<double>& scores, const std::vector<bool>& labels);

// Precision among the k highest scores; a tie group across position k adds its positives in
// proportion to the part of it that fits. NaN when k is 0 or there are no scores.
double precision_at(const std::vector<double>& scores, const std::vector<bool>& labels, int k);

// Average precision, step-wise: sum over distinct score thresholds (highest first) of
// (recall gain) x (precision at that threshold); tied scores enter together. NaN when P is 0.
double average_precision(const std::vector<double>& scores, const std::vector<bool>& labels);

struct Score {
    int true_edges = 0;
    double auroc = 0.0, aupr = 0.0;
    // Early precision: precision among the k highest |R(i,j)|, k = true_edges; a tie group
    // across the cut counts with the share of it that fits.
    double early_precision = 0.0;
    // The same over every ordered pair, self-edges (i = j) included, against the truth's own
    // self-edges.
    int true_edges_all = 0;
    double auroc_all = 0.0, aupr_all = 0.0, early_precision_all = 0.0;
    double sign_matrix = 0.0;  // true edges whose R(i,j) has the true sign
    bool has_dot = false;
    int drawn = 0, self_drawn = 0, hits = 0;
    double precision = 0.0, recall = 0.0, f1 = 0.0;
    double sign_dot = 0.0;  // drawn true edges whose colour has the true sign
};

// Ranks the off-diagonal |R(i,j)| (NaN counts as 0) against the truth, and again all of R
// (the *_all figures); dot may be null. Self edges of the dot are counted in self_drawn and
// otherwise ignored.
Score score_network(const Truth& truth,
                    const std::vector<double>& R,
                    const std::vector<DrawnEdge>* dot);

// "key=value ..." on one line, or a tab-separated header and row; NA where there is no dot.
void write_score(std::ostream& out, const Score& s, bool tsv);

// The edges GRN.dot holds for threshold t, by the writer's rule output::edge_sign: R(i,j) > t
// positive, otherwise R(i,j) < -t negative (both strict, NaN never an edge), self edges included. R
// is column-major n x n. Scoring these instead of a GRN.dot evaluates many thresholds from one
// GRN.dat.
std::vector<DrawnEdge> edges_above(const std::vector<double>& R, int n, double t);

// The largest off-diagonal |R(i,j)|, NaN ignored; 0 when there is none.
double largest_off_diagonal(const std::vector<double>& R, int n);

// Removes gene g (0-based) from the truth and from R (its row and column), so that a helper
// gene such as the constant gene CONST is not scored.
void drop_gene(Truth& truth, std::vector<double>& R, int g);

// One scored threshold: t is the absolute threshold applied to R; fraction is t as a share of
// the largest off-diagonal |R| (NaN when not asked for).
struct ThresholdScore {
    double t = 0.0;
    double fraction = 0.0;
    Score score;
};

// As write_score, one line (or tsv row) per threshold, led by threshold= (and fraction= when
// any fraction is a number); the tsv header is written once.
void write_threshold_scores(std::ostream& out, const std::vector<ThresholdScore>& rows, bool tsv);

}  // namespace netrevia::tools
