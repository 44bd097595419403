#include "output/network_exports.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <set>

#include "output/graphviz_file.h"

namespace netrevia::output {

namespace {

// Round-trip text of a weight: 17 significant digits, as printf's %.17g but free of the locale.
std::string weight_text(double x) {
    char buffer[40];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, x, std::chars_format::general, 17);
    return std::string(buffer, result.ptr);
}

std::string xml_text(std::string_view text) {
    std::string escaped;
    for (const char c : text) {
        switch (c) {
            case '&':
                escaped += "&amp;";
                break;
            case '<':
                escaped += "&lt;";
                break;
            case '>':
                escaped += "&gt;";
                break;
            case '"':
                escaped += "&quot;";
                break;
            case '\'':
                escaped += "&apos;";
                break;
            default:
                escaped.push_back(c);
        }
    }
    return escaped;
}

const std::string& name_of(std::span<const std::string> names, int gene) {
    return names[static_cast<std::size_t>(gene - 1)];
}

}  // namespace

std::string printable_name(std::string_view name) {
    std::string text;
    std::size_t p = 0;
    while (p < name.size()) {
        const auto c = static_cast<unsigned char>(name[p]);
        if (c < 0x80) {
            text.push_back(c < 0x20 || c == 0x7f ? '?' : static_cast<char>(c));
            ++p;
            continue;
        }
        // Lead byte, then continuation bytes 10xxxxxx; overlong two-byte leads (C0, C1) and
        // leads beyond U+10FFFF (F5 and up) are not valid.
        const std::size_t length = c > 0xf4 ? 0 : c >= 0xf0 ? 4 : c >= 0xe0 ? 3 : c >= 0xc2 ? 2 : 0;
        bool valid = length != 0 && p + length <= name.size();
        for (std::size_t k = 1; valid && k < length; ++k) {
            valid = (static_cast<unsigned char>(name[p + k]) & 0xc0) == 0x80;
        }
        if (valid) {
            text.append(name.substr(p, length));
            p += length;
        } else {
            text.push_back('?');
            ++p;
        }
    }
    return text;
}

std::vector<RankedEdge> rank_edges(numeric::ConstMatrixRef R, int n, bool with_self) {
    std::vector<RankedEdge> edges;
    for (int j = 1; j <= n; ++j) {
        for (int i = 1; i <= n; ++i) {
            const double r = R(i, j);
            if (r == 0.0 || std::isnan(r) || (i == j && !with_self)) continue;
            edges.push_back({0, j, i, r});
        }
    }
    // Self-terms last; then strongest first; ties in gene order, so the ranking is total.
    std::sort(edges.begin(), edges.end(), [](const RankedEdge& a, const RankedEdge& b) {
        const bool a_self = a.regulator == a.target;
        const bool b_self = b.regulator == b.target;
        if (a_self != b_self) return b_self;
        const double abs_a = std::abs(a.weight);
        const double abs_b = std::abs(b.weight);
        if (abs_a != abs_b) return abs_a > abs_b;
        if (a.regulator != b.regulator) return a.regulator < b.regulator;
        return a.target < b.target;
    });
    for (std::size_t k = 0; k < edges.size(); ++k) edges[k].rank = static_cast<int>(k + 1);
    return edges;
}

void format_edge_list(std::ostream& out,
                      std::span<const std::string> names,
                      std::span<const RankedEdge> edges,
                      double threshold) {
    out << "rank\tregulator\ttarget\tweight\tsign\tabs_weight\tabove_threshold\n";
    for (const RankedEdge& e : edges) {
        out << e.rank << '\t' << printable_name(name_of(names, e.regulator)) << '\t'
            << printable_name(name_of(names, e.target)) << '\t' << weight_text(e.weight) << '\t'
            << (e.weight > 0.0 ? "1" : "-1") << '\t' << weight_text(std::abs(e.weight)) << '\t'
            << (edge_sign(e.weight, threshold) != 0 ? '1' : '0') << '\n';
    }
}

void format_sif(std::ostream& out,
                std::span<const std::string> names,
                std::span<const RankedEdge> edges,
                double threshold) {
    for (const RankedEdge& e : edges) {
        const int sign = edge_sign(e.weight, threshold);
        if (sign == 0) continue;
        out << printable_name(name_of(names, e.regulator)) << '\t'
            << (sign > 0 ? "activates" : "represses") << '\t'
            << printable_name(name_of(names, e.target)) << '\n';
    }
}

void format_graphml(std::ostream& out,
                    std::span<const std::string> names,
                    std::span<const RankedEdge> edges,
                    double threshold) {
    std::vector<std::string> shown;
    for (const std::string& name : names) shown.push_back(xml_text(printable_name(name)));
    const std::set<std::string> distinct(shown.begin(), shown.end());
    const bool names_as_ids = distinct.size() == shown.size() && !distinct.contains("");
    std::vector<std::string> ids = shown;
    if (!names_as_ids) {
        for (std::size_t g = 0; g < ids.size(); ++g) ids[g] = 'n' + std::to_string(g + 1);
    }
    const auto id = [&ids](int gene) { return ids[static_cast<std::size_t>(gene - 1)]; };

    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<graphml xmlns=\"http://graphml.graphdrawing.org/xmlns\">\n"
           "  <key id=\"name\" for=\"node\" attr.name=\"name\" attr.type=\"string\"/>\n"
           "  <key id=\"weight\" for=\"edge\" attr.name=\"weight\" attr.type=\"double\"/>\n"
           "  <key id=\"sign\" for=\"edge\" attr.name=\"sign\" attr.type=\"int\"/>\n"
           "  <key id=\"rank\" for=\"edge\" attr.name=\"rank\" attr.type=\"int\"/>\n"
           "  <key id=\"interaction\" for=\"edge\" attr.name=\"interaction\" "
           "attr.type=\"string\"/>\n"
           "  <graph id=\"GRN\" edgedefault=\"directed\">\n";
    for (std::size_t g = 0; g < shown.size(); ++g) {
        out << "    <node id=\"" << id(static_cast<int>(g + 1)) << "\"><data key=\"name\">"
            << shown[g] << "</data></node>\n";
    }
    for (const RankedEdge& e : edges) {
        const int sign = edge_sign(e.weight, threshold);
        if (sign == 0) continue;
        out << "    <edge id=\"e" << e.rank << "\" source=\"" << id(e.regulator) << "\" target=\""
            << id(e.target) << "\"><data key=\"weight\">" << weight_text(e.weight)
            << "</data><data key=\"sign\">" << sign << "</data><data key=\"rank\">" << e.rank
            << "</data><data key=\"interaction\">" << (sign > 0 ? "activates" : "represses")
            << "</data></edge>\n";
    }
    out << "  </graph>\n</graphml>\n";
}

}  // namespace netrevia::output
