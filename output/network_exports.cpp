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

// A name as a field of edges.tsv: printable, and in double quotes with its quotes doubled when
// it holds one, since R's read.delim and pandas' read_csv take a quote as the start of a quoted
// field (R even inside a field) and would drop it.
std::string edge_list_field(std::string_view name) {
    const std::string text = printable_name(name);
    if (text.find('"') == std::string::npos) return text;
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"') quoted.push_back('"');
        quoted.push_back(c);
    }
    return quoted + "\"";
}

}  // namespace

std::string printable_name(std::string_view name) {
    std::string text;
    std::size_t p = 0;
    while (p < name.size()) {
        const auto byte = [&name](std::size_t k) { return static_cast<unsigned char>(name[k]); };
        const unsigned char c = byte(p);
        // The well-formed sequences of the Unicode standard (table 3-7): the range of the second
        // byte depends on the lead, which rules out overlong forms (C0, C1, E0 80-9F, F0 80-8F),
        // the surrogates U+D800-DFFF (ED A0-BF) and code points beyond U+10FFFF (F4 90-BF, F5-FF).
        std::size_t length = 1;
        unsigned char low = 0x80;
        unsigned char high = 0xbf;
        if (c >= 0xc2 && c <= 0xdf) {
            length = 2;
        } else if (c >= 0xe0 && c <= 0xef) {
            length = 3;
            if (c == 0xe0) low = 0xa0;
            if (c == 0xed) high = 0x9f;
        } else if (c >= 0xf0 && c <= 0xf4) {
            length = 4;
            if (c == 0xf0) low = 0x90;
            if (c == 0xf4) high = 0x8f;
        } else if (c >= 0x80) {
            length = 0;  // a continuation byte without its lead, or a lead that is never valid
        }
        bool valid = length != 0 && p + length <= name.size();
        char32_t code = static_cast<char32_t>(length == 1 ? c : c & (0x7f >> length));
        for (std::size_t k = 1; valid && k < length; ++k) {
            const unsigned char next = byte(p + k);
            valid = k == 1 ? next >= low && next <= high : (next & 0xc0) == 0x80;
            code = (code << 6) | (next & 0x3f);
        }
        // XML 1.0 admits neither the C0 controls (tab and line ends included here, as they would
        // split a field) nor U+FFFE and U+FFFF; DEL and the C1 controls reach a terminal as
        // commands. Such a character is one '?', as is each byte outside a valid sequence.
        const bool control = code < 0x20 || (code >= 0x7f && code <= 0x9f);
        if (!valid) {
            text.push_back('?');
            ++p;
        } else if (control || code == 0xfffe || code == 0xffff) {
            text.push_back('?');
            p += length;
        } else {
            text.append(name.substr(p, length));
            p += length;
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
        out << e.rank << '\t' << edge_list_field(name_of(names, e.regulator)) << '\t'
            << edge_list_field(name_of(names, e.target)) << '\t' << weight_text(e.weight) << '\t'
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
