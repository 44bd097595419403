#include "tools/score.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <istream>
#include <iterator>
#include <limits>
#include <map>
#include <numeric>
#include <optional>
#include <ostream>
#include <sstream>
#include <stdexcept>
#include <string_view>
#include <utility>

#include "inference/data_file.h"
#include "inference/experiment.h"
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

// Text of a truth file as a message shows it: quoted, control bytes as \xHH (so that a file can
// neither cut the message nor command the terminal), long text cut.
std::string shown(std::string_view text) {
    constexpr std::size_t kMaxShown = 40;
    constexpr std::string_view kHex = "0123456789abcdef";
    std::string out = "'";
    for (const char c : text.substr(0, kMaxShown)) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) {
            out += "\\x";
            out += kHex[byte >> 4];
            out += kHex[byte & 0xf];
        } else {
            out += c;
        }
    }
    return out + (text.size() > kMaxShown ? "...'" : "'");
}

// Where a truth file's refusals point: "truth file <file>, line L: <what>".
struct TruthSource {
    std::string_view file;
    [[noreturn]] void refuse(long long line, const std::string& what) const {
        throw std::runtime_error("truth file " + std::string(file) +
                                 (line > 0 ? ", line " + std::to_string(line) : std::string()) +
                                 ": " + what);
    }
};

constexpr std::string_view kUtf8Mark = "\xef\xbb\xbf";

// The encoding a byte-order mark of UTF-16 or UTF-32 at the start of text announces, if any.
const char* wide_encoding(std::string_view text) {
    // UTF-32 first: its little-endian mark begins with the one of UTF-16.
    if (text.starts_with(std::string_view("\xff\xfe\0\0", 4))) return "UTF-32 (little-endian)";
    if (text.starts_with(std::string_view("\0\0\xfe\xff", 4))) return "UTF-32 (big-endian)";
    if (text.starts_with("\xff\xfe")) return "UTF-16 (little-endian)";
    if (text.starts_with("\xfe\xff")) return "UTF-16 (big-endian)";
    return nullptr;
}

struct TruthLine {
    long long number = 0;   // from 1
    std::string_view text;  // without its line end
};

// The lines of a truth file. A UTF-8 byte-order mark, as some editors write, is dropped; UTF-16
// and UTF-32 text, NUL bytes and line ends of a lone CR are refused, saying what to do.
std::vector<TruthLine> truth_lines(std::string_view text, const TruthSource& source) {
    if (text.starts_with(kUtf8Mark)) {
        text.remove_prefix(kUtf8Mark.size());
    } else if (const char* encoding = wide_encoding(text)) {
        source.refuse(
            0, std::string("the file is ") + encoding + " text; save it as UTF-8 or ASCII text");
    }
    std::vector<TruthLine> lines;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        std::string_view line = text.substr(start, end - start);
        const long long number = static_cast<long long>(lines.size()) + 1;
        if (line.ends_with('\r')) line.remove_suffix(1);
        if (line.find('\r') != std::string_view::npos)
            source.refuse(number,
                          "a line ends in a lone CR (classic Mac OS line ends); save the file "
                          "with LF or CR LF line ends");
        if (line.find('\0') != std::string_view::npos)
            source.refuse(number,
                          "the line holds a NUL byte; save the file as UTF-8 or ASCII text (is "
                          "it UTF-16?)");
        lines.push_back({number, line});
        start = end + 1;
    }
    return lines;
}

// A pair a truth line names: an edge with its sign, or a listed non-edge (DREAM's 0), before the
// names are looked up in the gene order.
struct Named {
    std::string regulator, target;
    double weight = 0.0;  // the sign of an edge (and its weight where given); 0 for a non-edge
    bool weight_given = false;
    std::string value;  // the pair's value as the line gives it, for messages
    long long line = 0;
};

// Looks the named pairs up in truth.genes (order_source says where the order came from) and
// keeps the edges, self-edges apart. A pair named on several lines must be given alike there
// (names compare cut to 9 characters, as the matrix holds them): the same sign, or the same
// 0 or 1, and the same weight where two lines give one.
void add_named_edges(Truth& truth,
                     const std::vector<Named>& named,
                     const TruthSource& source,
                     const std::string& order_source) {
    const auto idx = index_of(truth.genes);
    const auto index = [&](const Named& e, const std::string& name) {
        const auto it = idx.find(key(name));
        if (it == idx.end())
            source.refuse(
                e.line, "gene " + shown(name) + " is not in the gene order (" + order_source + ")");
        return it->second;
    };
    std::map<std::pair<int, int>, const Named*> first;
    for (const Named& e : named) {
        const int regulator = index(e, e.regulator);
        const int target = index(e, e.target);
        const auto [it, fresh] = first.emplace(std::pair{regulator, target}, &e);
        if (!fresh) {
            const Named& before = *it->second;
            // Within one format the values are + and -, or 1 and 0: one test tells them apart.
            const bool alike =
                (e.weight > 0.0) == (before.weight > 0.0) &&
                (!e.weight_given || !before.weight_given || e.weight == before.weight);
            if (!alike)
                source.refuse(e.line, shown(e.regulator) + " -> " + shown(e.target) +
                                          " is given as " + shown(e.value) + " here and as " +
                                          shown(before.value) + " on line " +
                                          std::to_string(before.line));
            continue;
        }
        if (e.weight == 0.0) continue;  // a listed non-edge
        if (regulator != target) {
            truth.edges.push_back({regulator, target, e.weight});
        } else {
            truth.self_edges.push_back(regulator);
        }
    }
}

// Fields of a line of the own format: "regulator target +|- [weight]", blanks or tabs.
Named own_edge(const TruthLine& line,
               const std::vector<std::string>& f,
               const TruthSource& source) {
    if (f.size() < 3 || f.size() > 4)
        source.refuse(line.number, "the line has " + std::to_string(f.size()) +
                                       " fields; a truth line is 'regulator target +|- "
                                       "[weight]'");
    if (f[2] != "+" && f[2] != "-")
        source.refuse(line.number, "the sign " + shown(f[2]) + " is neither + nor -");
    Named e{f[0], f[1], f[2] == "+" ? 1.0 : -1.0, false, f[2], line.number};
    if (f.size() == 4) {
        const double w = field_value(f[3]);
        if (!std::isfinite(w))
            source.refuse(line.number, "the weight " + shown(f[3]) + " is not a finite number");
        if (w == 0.0 || (w > 0.0) != (e.weight > 0.0))
            source.refuse(line.number, "the weight " + shown(f[3]) + " contradicts the sign " +
                                           f[2] + " (a weight of 0 is no edge)");
        e.weight = w;
        e.weight_given = true;
        e.value += " " + f[3];
    }
    return e;
}

// The own format. Lines starting with '#' are comments except "# genes <name>...", the gene
// order (unless genes is given); a first field "regulator" on the first other line marks the
// header.
Truth read_own_truth(const std::vector<TruthLine>& lines,
                     std::vector<std::string> genes,
                     bool order_required,
                     const TruthSource& source) {
    std::string order_source = genes.empty() ? "" : "the data file";
    std::vector<std::string> listed;  // the "# genes" line
    long long listed_line = 0;
    std::vector<Named> named;
    bool first = true;
    for (const TruthLine& line : lines) {
        const auto f = split(std::string(line.text));
        if (f.empty()) continue;
        if (f[0] == "#" && f.size() > 1 && f[1] == "genes") {
            const std::vector<std::string> order(f.begin() + 2, f.end());
            if (listed_line > 0 && order != listed)
                source.refuse(line.number, "a second '# genes' line differs from the one on line " +
                                               std::to_string(listed_line));
            std::map<std::string, std::string> seen;
            for (const std::string& name : order) {
                const auto [it, fresh] = seen.emplace(key(name), name);
                if (fresh) continue;
                source.refuse(line.number,
                              it->second == name
                                  ? "the gene order names " + shown(name) + " twice"
                                  : "the gene order names " + shown(it->second) + " and " +
                                        shown(name) +
                                        ", which agree in the first 9 characters the matrix "
                                        "keeps");
            }
            listed = order;
            listed_line = line.number;
            continue;
        }
        if (f[0][0] == '#') continue;
        const bool header = first && f[0] == "regulator";
        first = false;
        if (!header) named.push_back(own_edge(line, f, source));
    }
    if (genes.empty() && listed_line > 0) {
        genes = listed;
        order_source = "the '# genes' line, line " + std::to_string(listed_line);
    }
    if (genes.empty() && order_required)
        throw std::runtime_error("no gene order: no '# genes' line and no --data");
    Truth truth;
    truth.order_known = !genes.empty();
    if (genes.empty()) {
        // No order given: the genes in the order the edges first name them.
        for (const Named& e : named) {
            for (const std::string* name : {&e.regulator, &e.target})
                if (std::find(genes.begin(), genes.end(), *name) == genes.end())
                    genes.push_back(*name);
        }
    }
    truth.genes = std::move(genes);
    add_named_edges(truth, named, source, order_source);
    return truth;
}

}  // namespace

Truth read_truth(std::istream& in, std::vector<std::string> genes) {
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const TruthSource source{"(stream)"};
    return read_own_truth(truth_lines(text, source), std::move(genes), true, source);
}

TruthFormat detect_truth_format(const std::string& text) {
    std::istringstream in(text.starts_with(kUtf8Mark) ? text.substr(kUtf8Mark.size()) : text);
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
                      const std::vector<std::string>& genes,
                      std::string_view file) {
    const TruthSource source{file};
    const std::vector<TruthLine> lines = truth_lines(text, source);
    if (format == TruthFormat::kAuto) format = detect_truth_format(text);
    if (format == TruthFormat::kOwn) return read_own_truth(lines, genes, false, source);

    std::vector<Named> named;
    std::vector<std::string> seen;  // genes in order of first mention
    const auto mention = [&seen](const std::string& name) {
        if (std::find(seen.begin(), seen.end(), name) == seen.end()) seen.push_back(name);
    };
    bool header = format == TruthFormat::kBeeline;
    std::size_t columns = 0;  // of the BEELINE header
    bool with_type = false;
    for (const TruthLine& line : lines) {
        const std::string t = trim(line.text);
        if (t.empty() || t[0] == '#') continue;
        std::vector<std::string> f;
        if (format == TruthFormat::kBeeline) {
            std::istringstream cells(t);
            for (std::string cell; std::getline(cells, cell, ',');) f.push_back(trim(cell));
            if (t.back() == ',') f.emplace_back();
        } else {
            f = split(t);
        }
        if (header) {
            if (f.size() < 2 || f[0] != "Gene1" || f[1] != "Gene2")
                source.refuse(line.number, "the header is not 'Gene1,Gene2[,Type]'");
            with_type = f.size() > 2 && f[2] == "Type";
            columns = f.size();
            header = false;
            continue;
        }
        if (format == TruthFormat::kDream) {
            if (f.size() != 3 || (f[2] != "0" && f[2] != "1"))
                source.refuse(line.number,
                              "a DREAM gold standard line is 'G1<TAB>G2<TAB>1' (an edge) or "
                              "'...<TAB>0' (none)");
            named.push_back({f[0], f[1], f[2] == "1" ? 1.0 : 0.0, false, f[2], line.number});
        } else {
            if (f.size() != columns)
                source.refuse(line.number, "the line has " + std::to_string(f.size()) +
                                               " fields, the header " + std::to_string(columns));
            if (f[0].empty() || f[1].empty()) source.refuse(line.number, "a gene name is empty");
            if (with_type && f[2] != "+" && f[2] != "-")
                source.refuse(line.number, "the Type " + shown(f[2]) + " is neither + nor -");
            named.push_back({f[0], f[1], with_type && f[2] == "-" ? -1.0 : 1.0, false,
                             with_type ? f[2] : "", line.number});
        }
        mention(f[0]);
        mention(f[1]);
    }
    if (header) source.refuse(0, "no header 'Gene1,Gene2[,Type]'");
    Truth truth;
    truth.order_known = !genes.empty();
    truth.genes = genes.empty() ? seen : genes;
    truth.signs_known = with_type;
    add_named_edges(truth, named, source, genes.empty() ? "" : "the data file");
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
    std::vector<std::string> full;
    std::vector<std::string> fields = inference::read_gene_names(reader, header.n, &full);
    // As the run names them in GRN.dat and GRN.dot: fields that clash made distinct.
    std::vector<std::string> notes;
    std::vector<std::string> genes = inference::distinct_gene_names(std::move(fields), full, notes);
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
    // A node name from pos: a quoted Graphviz string ('\"' and '\\' stand for '"' and '\') or
    // a plain identifier, then the blanks that pad it; pos moves past both.
    const auto name_at = [](std::string_view line, std::size_t& pos) -> std::optional<std::string> {
        std::string name;
        if (pos < line.size() && line[pos] == '"') {
            for (++pos; pos < line.size() && line[pos] != '"'; ++pos) {
                if (line[pos] == '\\' && pos + 1 < line.size()) ++pos;
                name += line[pos];
            }
            if (pos == line.size()) return std::nullopt;
            ++pos;
        } else {
            for (; pos < line.size() && line[pos] != ' ' && line[pos] != '\t'; ++pos)
                name += line[pos];
        }
        while (pos < line.size() && line[pos] == ' ') ++pos;
        if (name.empty()) return std::nullopt;
        return name;
    };
    std::vector<DrawnEdge> edges;
    for (std::string line; get_line(in, line);) {
        // The header and the colour lines begin with a blank; every other line names an edge.
        if (line.empty() || line[0] == ' ' || line[0] == '\t') continue;
        std::size_t pos = 0;
        const auto regulator = name_at(line, pos);
        const bool arrow = std::string_view(line).substr(pos, 2) == "->";
        pos += 2;
        while (pos < line.size() && line[pos] == ' ') ++pos;
        const auto target = arrow ? name_at(line, pos) : std::nullopt;
        if (!regulator || !target || pos != line.size())
            throw std::runtime_error("GRN.dot: not a line '<regulator>  ->  <target>': " +
                                     shown(line));
        DrawnEdge e{lookup(idx, *regulator), lookup(idx, *target), true};
        std::string colour;
        if (!get_line(in, colour) || (colour.find("\"blue\"") == std::string::npos &&
                                      colour.find("\"red\"") == std::string::npos))
            throw std::runtime_error("GRN.dot: no colour line after " + shown(line));
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
