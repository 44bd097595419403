#include "tools/score.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <istream>
#include <limits>
#include <map>
#include <numeric>
#include <ostream>
#include <sstream>
#include <stdexcept>

#include "inference/data_file.h"
#include "numeric/matrix_ref.h"
#include "output/graphviz_file.h"

namespace netrevia::tools {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr std::size_t kFieldWidth = 25;
constexpr std::size_t kNameWidth = 9;

bool get_line(std::istream& in, std::string& line) {
    if (!std::getline(in, line)) return false;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

std::string trim(std::string_view s) {
    const auto b = s.find_first_not_of(" \t");
    if (b == std::string_view::npos) return {};
    return std::string(s.substr(b, s.find_last_not_of(" \t") - b + 1));
}

// Names compare as the inference stores them: cut to 9 characters, trailing blanks dropped.
std::string key(std::string_view name) { return trim(name.substr(0, kNameWidth)); }

std::vector<std::string> split(const std::string& line) {
    std::vector<std::string> out;
    std::istringstream words(line);
    for (std::string w; words >> w;) out.push_back(w);
    return out;
}

double field_value(std::string_view text) {
    const std::string t = trim(text);
    if (t.find('*') != std::string::npos) return std::numeric_limits<double>::infinity();
    double v = kNaN;
    const auto res = std::from_chars(t.data(), t.data() + t.size(), v);
    return (res.ec == std::errc{} && res.ptr == t.data() + t.size()) ? v : kNaN;
}

// A name field of edges.tsv: written in double quotes, with its quotes doubled, when the name
// holds a quote (as R and pandas read it); as it stands otherwise.
std::string edge_list_name(const std::string& field) {
    if (field.size() < 2 || field.front() != '"' || field.back() != '"') return field;
    std::string name;
    for (std::size_t p = 1; p + 1 < field.size(); ++p) {
        name.push_back(field[p]);
        if (field[p] == '"' && field[p + 1] == '"') ++p;
    }
    return name;
}

std::map<std::string, int> index_of(const std::vector<std::string>& genes) {
    std::map<std::string, int> idx;
    for (std::size_t g = 0; g < genes.size(); ++g) idx.emplace(key(genes[g]), static_cast<int>(g));
    return idx;
}

int lookup(const std::map<std::string, int>& idx, const std::string& name) {
    const auto it = idx.find(key(name));
    if (it == idx.end()) throw std::runtime_error("unknown gene name '" + name + "'");
    return it->second;
}

std::string number_text(double v) {
    if (std::isnan(v)) return "NA";
    char buf[32];
    const auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 6);
    return std::string(buf, res.ptr);
}

// An edge of a truth file by its genes' names, before they are looked up in the gene order.
struct Named {
    std::string regulator, target;
    double weight;
};

// Looks the named edges up in truth.genes: self-edges apart, the others as edges.
void add_named_edges(Truth& truth, const std::vector<Named>& named) {
    const auto idx = index_of(truth.genes);
    for (const Named& e : named) {
        const TrueEdge edge{lookup(idx, e.regulator), lookup(idx, e.target), e.weight};
        if (edge.regulator != edge.target) {
            truth.edges.push_back(edge);
        } else {
            truth.self_edges.push_back(edge.regulator);
        }
    }
}

}  // namespace

Truth read_truth(std::istream& in, std::vector<std::string> genes) {
    std::vector<Named> named;
    for (std::string line; get_line(in, line);) {
        auto f = split(line);
        if (f.empty()) continue;
        if (f[0] == "#") {
            if (f.size() > 1 && f[1] == "genes" && genes.empty())
                genes.assign(f.begin() + 2, f.end());
            continue;
        }
        if (f[0][0] == '#' || f[0] == "regulator") continue;
        if (f.size() < 3 || (f[2] != "+" && f[2] != "-"))
            throw std::runtime_error("truth line is not 'regulator target +|- [weight]': " + line);
        double w = f[2] == "+" ? 1.0 : -1.0;
        if (f.size() > 3 && std::isfinite(field_value(f[3])) && field_value(f[3]) != 0.0)
            w = std::copysign(field_value(f[3]), w);
        named.push_back({f[0], f[1], w});
    }
    if (genes.empty()) throw std::runtime_error("no gene order: no '# genes' line and no --data");
    Truth truth;
    truth.genes = std::move(genes);
    add_named_edges(truth, named);
    return truth;
}

TruthFormat detect_truth_format(const std::string& text) {
    std::istringstream in(text);
    for (std::string line; get_line(in, line);) {
        const std::string t = trim(line);
        if (t.empty() || t[0] == '#') continue;
        if (t.find(',') != std::string::npos) {
            return t.rfind("Gene1", 0) == 0 ? TruthFormat::kBeeline : TruthFormat::kOwn;
        }
        const auto f = split(t);
        return f.size() == 3 && (f[2] == "0" || f[2] == "1") ? TruthFormat::kDream
                                                             : TruthFormat::kOwn;
    }
    return TruthFormat::kOwn;
}

Truth read_truth_text(const std::string& text,
                      TruthFormat format,
                      const std::vector<std::string>& genes) {
    if (format == TruthFormat::kAuto) format = detect_truth_format(text);
    std::vector<Named> named;
    std::vector<std::string> seen;  // genes in order of first mention
    const auto mention = [&seen](const std::string& name) {
        if (std::find(seen.begin(), seen.end(), name) == seen.end()) seen.push_back(name);
    };
    Truth truth;
    std::istringstream in(text);
    if (format == TruthFormat::kOwn) {
        if (!genes.empty() || text.find("# genes") != std::string::npos)
            return read_truth(in, genes);
        // No order given: the genes as the edges name them.
        for (std::string line; get_line(in, line);) {
            const auto f = split(line);
            if (f.size() >= 2 && f[0][0] != '#' && f[0] != "regulator") {
                mention(f[0]);
                mention(f[1]);
            }
        }
        std::istringstream again(text);
        return read_truth(again, seen);
    }
    bool header = format == TruthFormat::kBeeline;
    bool with_type = false;
    for (std::string line; get_line(in, line);) {
        const std::string t = trim(line);
        if (t.empty() || t[0] == '#') continue;
        std::vector<std::string> f;
        if (format == TruthFormat::kBeeline) {
            std::istringstream cells(t);
            for (std::string cell; std::getline(cells, cell, ',');) f.push_back(trim(cell));
        } else {
            f = split(t);
        }
        if (header) {
            if (f.size() < 2 || f[0] != "Gene1" || f[1] != "Gene2")
                throw std::runtime_error("refNetwork.csv: header is not 'Gene1,Gene2[,Type]'");
            with_type = f.size() > 2 && f[2] == "Type";
            header = false;
            continue;
        }
        if (f.size() < 2) throw std::runtime_error("truth line has no two genes: " + line);
        mention(f[0]);
        mention(f[1]);
        if (format == TruthFormat::kDream) {
            if (f.size() != 3 || (f[2] != "0" && f[2] != "1"))
                throw std::runtime_error("DREAM gold standard line is not 'G1 G2 0|1': " + line);
            if (f[2] == "1") named.push_back({f[0], f[1], 1.0});
        } else {
            double w = 1.0;
            if (with_type && f.size() > 2 && f[2] == "-") w = -1.0;
            named.push_back({f[0], f[1], w});
        }
    }
    truth.genes = genes.empty() ? seen : genes;
    truth.signs_known = with_type;
    add_named_edges(truth, named);
    return truth;
}

bool is_edge_list(const std::string& text) {
    return text.rfind("rank\tregulator\ttarget\tweight", 0) == 0;
}

std::vector<double> read_edge_list(const std::string& text, std::vector<std::string>& genes) {
    std::map<std::string, int> exact;
    for (std::size_t g = 0; g < genes.size(); ++g) exact.emplace(genes[g], static_cast<int>(g));
    const auto index = [&](const std::string& name) {
        const auto [it, fresh] = exact.emplace(name, static_cast<int>(genes.size()));
        if (fresh) genes.push_back(name);
        return it->second;
    };
    struct Entry {
        int regulator, target;
        double weight;
    };
    std::vector<Entry> entries;
    std::istringstream in(text);
    std::string line;
    get_line(in, line);  // header
    while (get_line(in, line)) {
        if (line.empty()) continue;
        std::vector<std::string> f;
        std::istringstream cells(line);
        for (std::string cell; std::getline(cells, cell, '\t');) f.push_back(cell);
        const double w = f.size() >= 4 ? field_value(f[3]) : kNaN;
        if (f.size() < 4 || std::isnan(w))
            throw std::runtime_error("edges.tsv line is not 'rank regulator target weight ...': " +
                                     line);
        entries.push_back({index(edge_list_name(f[1])), index(edge_list_name(f[2])), w});
    }
    const int n = static_cast<int>(genes.size());
    std::vector<double> R(static_cast<std::size_t>(n) * static_cast<std::size_t>(n), 0.0);
    const numeric::MatrixRef Rv{R.data(), std::max(n, 1)};
    for (const Entry& e : entries) Rv(e.target + 1, e.regulator + 1) = e.weight;
    return R;
}

std::vector<std::string> read_data_file_genes(std::istream& in) {
    inference::DataFileReader reader(in, "data file");
    const inference::FileHeader header = inference::read_file_header(reader);
    std::vector<std::string> genes = inference::read_gene_names(reader, header.n);
    for (std::string& name : genes) name = trim(name);
    return genes;
}

std::vector<double> read_matrix_file(std::istream& in, int n) {
    const auto un = static_cast<std::size_t>(n);
    std::vector<double> data(un * un, kNaN);
    const numeric::MatrixRef R{data.data(), n};
    int i = 0;
    for (std::string line; i < n && get_line(in, line);) {
        if (trim(line).empty()) continue;
        ++i;
        std::vector<double> row;
        if (line.size() == kFieldWidth * un) {
            for (std::size_t j = 0; j < un; ++j)
                row.push_back(
                    field_value(std::string_view(line).substr(j * kFieldWidth, kFieldWidth)));
        } else {
            for (const std::string& w : split(line)) row.push_back(field_value(w));
        }
        if (row.size() != un)
            throw std::runtime_error("GRN.dat line " + std::to_string(i) + ": " +
                                     std::to_string(row.size()) + " values, expected " +
                                     std::to_string(n));
        for (int j = 1; j <= n; ++j) R(i, j) = row[static_cast<std::size_t>(j - 1)];
    }
    if (i != n)
        throw std::runtime_error("GRN.dat: " + std::to_string(i) + " rows, expected " +
                                 std::to_string(n));
    return data;
}

std::vector<DrawnEdge> read_dot_edges(std::istream& in, const std::vector<std::string>& genes) {
    const auto idx = index_of(genes);
    std::vector<DrawnEdge> edges;
    for (std::string line; get_line(in, line);) {
        if (line.size() < 2 * kNameWidth + 6 || line[0] == ' ' || line.compare(9, 6, "  ->  ") != 0)
            continue;
        DrawnEdge e{lookup(idx, line.substr(0, kNameWidth)),
                    lookup(idx, line.substr(15, kNameWidth)), true};
        std::string colour;
        if (!get_line(in, colour) || (colour.find("\"blue\"") == std::string::npos &&
                                      colour.find("\"red\"") == std::string::npos))
            throw std::runtime_error("GRN.dot: no colour line after '" + line + "'");
        e.positive = colour.find("\"blue\"") != std::string::npos;
        edges.push_back(e);
    }
    return edges;
}

double auroc(const std::vector<double>& scores, const std::vector<bool>& labels) {
    std::vector<std::size_t> order(scores.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::sort(order.begin(), order.end(), [&](auto a, auto b) { return scores[a] < scores[b]; });
    double positives = 0.0, rank_sum = 0.0;
    for (std::size_t a = 0; a < order.size();) {
        std::size_t b = a;  // tie group [a, b) shares the mean of ranks a+1 .. b
        int group_pos = 0;
        for (; b < order.size() && scores[order[b]] == scores[order[a]]; ++b)
            group_pos += labels[order[b]] ? 1 : 0;
        rank_sum += group_pos * (static_cast<double>(a + 1 + b) / 2.0);
        positives += group_pos;
        a = b;
    }
    const double negatives = static_cast<double>(scores.size()) - positives;
    if (positives == 0.0 || negatives == 0.0) return kNaN;
    return (rank_sum - positives * (positives + 1.0) / 2.0) / (positives * negatives);
}

double average_precision(const std::vector<double>& scores, const std::vector<bool>& labels) {
    std::vector<std::size_t> order(scores.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::sort(order.begin(), order.end(), [&](auto a, auto b) { return scores[a] > scores[b]; });
    const auto positives = static_cast<double>(std::count(labels.begin(), labels.end(), true));
    if (positives == 0.0) return kNaN;
    double ap = 0.0, tp = 0.0;
    for (std::size_t a = 0; a < order.size();) {
        std::size_t b = a;
        double group_pos = 0.0;
        for (; b < order.size() && scores[order[b]] == scores[order[a]]; ++b)
            group_pos += labels[order[b]] ? 1.0 : 0.0;
        tp += group_pos;
        ap += group_pos * (tp / static_cast<double>(b));
        a = b;
    }
    return ap / positives;
}

double precision_at(const std::vector<double>& scores, const std::vector<bool>& labels, int k) {
    if (k <= 0 || scores.empty()) return kNaN;
    std::vector<std::size_t> order(scores.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::sort(order.begin(), order.end(), [&](auto a, auto b) { return scores[a] > scores[b]; });
    const auto cut = std::min(static_cast<std::size_t>(k), scores.size());
    double hits = 0.0;
    for (std::size_t a = 0; a < cut;) {
        std::size_t b = a;
        double group_pos = 0.0;
        for (; b < order.size() && scores[order[b]] == scores[order[a]]; ++b)
            group_pos += labels[order[b]] ? 1.0 : 0.0;
        const std::size_t taken = std::min(b, cut) - a;
        hits += group_pos * static_cast<double>(taken) / static_cast<double>(b - a);
        a = b;
    }
    return hits / static_cast<double>(cut);
}

Score score_network(const Truth& truth,
                    const std::vector<double>& R,
                    const std::vector<DrawnEdge>* dot) {
    const int n = static_cast<int>(truth.genes.size());
    const numeric::ConstMatrixRef Rv{R.data(), n};
    std::vector<double> sign(static_cast<std::size_t>(n) * static_cast<std::size_t>(n), 0.0);
    const numeric::MatrixRef S{sign.data(), n};  // S(target, regulator) = true sign, 0 if none
    for (const TrueEdge& e : truth.edges) S(e.target + 1, e.regulator + 1) = e.weight > 0 ? 1 : -1;

    Score s;
    std::vector<double> scores;
    std::vector<bool> labels;
    int sign_ok = 0;
    for (int j = 1; j <= n; ++j)
        for (int i = 1; i <= n; ++i) {
            if (i == j) continue;
            const double r = Rv(i, j);
            scores.push_back(std::isnan(r) ? 0.0 : std::abs(r));
            labels.push_back(S(i, j) != 0.0);
            if (S(i, j) != 0.0) {
                ++s.true_edges;
                if (r * S(i, j) > 0.0) ++sign_ok;
            }
        }
    s.auroc = auroc(scores, labels);
    s.aupr = average_precision(scores, labels);
    s.early_precision = precision_at(scores, labels, s.true_edges);
    // Every ordered pair: the off-diagonal ones above, then the diagonal.
    std::vector<bool> self(static_cast<std::size_t>(n), false);
    for (const int g : truth.self_edges) self[static_cast<std::size_t>(g)] = true;
    s.true_edges_all = s.true_edges;
    for (int i = 1; i <= n; ++i) {
        const double r = Rv(i, i);
        scores.push_back(std::isnan(r) ? 0.0 : std::abs(r));
        labels.push_back(self[static_cast<std::size_t>(i - 1)]);
        if (labels.back()) ++s.true_edges_all;
    }
    s.auroc_all = auroc(scores, labels);
    s.aupr_all = average_precision(scores, labels);
    s.early_precision_all = precision_at(scores, labels, s.true_edges_all);
    s.sign_matrix =
        s.true_edges && truth.signs_known ? static_cast<double>(sign_ok) / s.true_edges : kNaN;
    if (dot) {
        s.has_dot = true;
        int colour_ok = 0;
        for (const DrawnEdge& e : *dot) {
            if (e.regulator == e.target) {
                ++s.self_drawn;
                continue;
            }
            ++s.drawn;
            const double truth_sign = S(e.target + 1, e.regulator + 1);
            if (truth_sign == 0.0) continue;
            ++s.hits;
            if ((truth_sign > 0.0) == e.positive) ++colour_ok;
        }
        s.precision = s.drawn ? static_cast<double>(s.hits) / s.drawn : kNaN;
        s.recall = s.true_edges ? static_cast<double>(s.hits) / s.true_edges : kNaN;
        s.f1 = s.hits ? 2.0 * s.precision * s.recall / (s.precision + s.recall)
                      : (s.drawn && s.true_edges ? 0.0 : kNaN);
        s.sign_dot = s.hits && truth.signs_known ? static_cast<double>(colour_ok) / s.hits : kNaN;
    }
    return s;
}

namespace {

using Fields = std::vector<std::pair<std::string, std::string>>;

Fields score_fields(const Score& s) {
    const auto opt = [&](double v) { return s.has_dot ? number_text(v) : std::string("NA"); };
    return {
        {"true_edges", std::to_string(s.true_edges)},
        {"auroc", number_text(s.auroc)},
        {"aupr", number_text(s.aupr)},
        {"sign_R", number_text(s.sign_matrix)},
        {"drawn", s.has_dot ? std::to_string(s.drawn) : "NA"},
        {"self_drawn", s.has_dot ? std::to_string(s.self_drawn) : "NA"},
        {"hits", s.has_dot ? std::to_string(s.hits) : "NA"},
        {"precision", opt(s.precision)},
        {"recall", opt(s.recall)},
        {"f1", opt(s.f1)},
        {"sign_dot", opt(s.sign_dot)},
        {"ep", number_text(s.early_precision)},
        {"true_edges_all", std::to_string(s.true_edges_all)},
        {"auroc_all", number_text(s.auroc_all)},
        {"aupr_all", number_text(s.aupr_all)},
        {"ep_all", number_text(s.early_precision_all)},
    };
}

void write_header(std::ostream& out, const Fields& kv) {
    for (std::size_t k = 0; k < kv.size(); ++k) out << (k ? "\t" : "") << kv[k].first;
    out << "\n";
}

void write_fields(std::ostream& out, const Fields& kv, bool tsv) {
    for (std::size_t k = 0; k < kv.size(); ++k) {
        out << (k ? (tsv ? "\t" : " ") : "");
        if (!tsv) out << kv[k].first << "=";
        out << kv[k].second;
    }
    out << "\n";
}

}  // namespace

void write_score(std::ostream& out, const Score& s, bool tsv) {
    const Fields kv = score_fields(s);
    if (tsv) write_header(out, kv);
    write_fields(out, kv, tsv);
}

std::vector<DrawnEdge> edges_above(const std::vector<double>& R, int n, double t) {
    const numeric::ConstMatrixRef Rv{R.data(), n};
    std::vector<DrawnEdge> edges;
    for (int i = 1; i <= n; ++i)
        for (int j = 1; j <= n; ++j) {
            if (const int sign = output::edge_sign(Rv(i, j), t); sign != 0)
                edges.push_back({j - 1, i - 1, sign > 0});
        }
    return edges;
}

double largest_off_diagonal(const std::vector<double>& R, int n) {
    const numeric::ConstMatrixRef Rv{R.data(), n};
    double largest = 0.0;
    for (int j = 1; j <= n; ++j)
        for (int i = 1; i <= n; ++i)
            if (i != j && std::abs(Rv(i, j)) > largest) largest = std::abs(Rv(i, j));
    return largest;
}

void drop_gene(Truth& truth, std::vector<double>& R, int g) {
    const int n = static_cast<int>(truth.genes.size());
    const numeric::ConstMatrixRef Rv{R.data(), n};
    std::vector<double> kept;
    kept.reserve(static_cast<std::size_t>(n - 1) * static_cast<std::size_t>(n - 1));
    for (int j = 1; j <= n; ++j)
        for (int i = 1; i <= n; ++i)
            if (i != g + 1 && j != g + 1) kept.push_back(Rv(i, j));
    R = std::move(kept);
    truth.genes.erase(truth.genes.begin() + g);
    std::vector<TrueEdge> edges;
    for (TrueEdge e : truth.edges) {
        if (e.regulator == g || e.target == g) continue;
        if (e.regulator > g) --e.regulator;
        if (e.target > g) --e.target;
        edges.push_back(e);
    }
    truth.edges = std::move(edges);
}

void write_threshold_scores(std::ostream& out, const std::vector<ThresholdScore>& rows, bool tsv) {
    const bool with_fraction = std::any_of(
        rows.begin(), rows.end(), [](const ThresholdScore& r) { return !std::isnan(r.fraction); });
    for (std::size_t k = 0; k < rows.size(); ++k) {
        Fields kv = {{"threshold", number_text(rows[k].t)}};
        if (with_fraction) kv.emplace_back("fraction", number_text(rows[k].fraction));
        const Fields rest = score_fields(rows[k].score);
        kv.insert(kv.end(), rest.begin(), rest.end());
        if (tsv && k == 0) write_header(out, kv);
        write_fields(out, kv, tsv);
    }
}

}  // namespace netrevia::tools
