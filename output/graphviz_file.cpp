#include "output/graphviz_file.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cstddef>
#include <cstring>
#include <string_view>
#include <vector>

#include "output/atomic_file.h"
#include "output/network_exports.h"

namespace netrevia::output {

namespace {

// A text line of the file: one blank, the text, blanks up to length, CR LF.
struct TextLine {
    std::string_view text;
    std::size_t length;
};

constexpr std::string_view kLineEnd = "\r\n";
constexpr std::size_t kNameWidth = 9;
constexpr std::string_view kArrow = "  ->  ";

// The graph, node and edge attribute blocks. Tabs, quotes and padded lengths are part of the
// file format: keep them byte for byte.
// clang-format off
constexpr std::array<TextLine, 28> kHeader{{
    {"digraph \"Gene regulatory network\" {",  35},
    {"\t\tgraph",                               35},
    {"\t\t[",                                   35},
    {"\tcenter=\"true\"",                       38},
    {"\t\t\toverlap=\"false\"",                 32},
    {"\t\t\tDamping=0.999",                     32},
    {"\t\t\tfontname=\"Helvetica\"",            32},
    {"\t\t\tmaxiter=1000000",                   32},
    {"\t\t\tsplines=\"true\"",                  32},
    {"\t\t\tsep=0.8",                           32},
    {"\t\t\tepsilon=0.0000001",                 32},
    {"\t\t\tratio=\"auto\"",                    32},
    {"\t\t]",                                   35},
    {"\t\tnode",                                35},
    {"\t\t[",                                   35},
    {"\t\t\tfontsize=20",                       32},
    {"\t\t\tfontname=\"Helvetica-bold\"",       32},
    {"\t\t\tshape=\"circle\"",                  32},
    {"\t\t\tstyle=\"bold\"",                    32},
    {"\t\t]",                                   35},
    {"\t\tedge",                                35},
    {"\t\t[",                                   35},
    {"\t\t\tfontsize=18",                       33},
    {"\t\t\tfontname=\"Helvetica\"",            32},
    {"\t\t\tcolor=\"black\"",                   33},
    {"\t\t\tarrowhead=\"normal\"",              32},
    {"\t\t\tlen=2.5",                           32},
    {"\t\t]",                                   35},
}};
constexpr TextLine kBlueLine{"\t\t[color=\"blue\"]", 16};  // positive: activation
constexpr TextLine kRedLine {"\t\t[color=\"red\"]",  16};  // negative: repression
constexpr TextLine kClosing {"\t}",                  3};
// clang-format on

constexpr bool fits(const TextLine& line) { return line.text.size() <= line.length; }
static_assert(std::all_of(kHeader.begin(), kHeader.end(), fits));
static_assert(fits(kBlueLine) && fits(kRedLine) && fits(kClosing));

// Longest text line with its leading blank and line end; the buffer of put_text_line.
constexpr std::size_t kMaxTextLine = 1 + 38 + 2;

// Appends the text line at dest and returns the end.
char* put_text_line(char* dest, const TextLine& line) {
    *dest++ = ' ';
    std::memcpy(dest, line.text.data(), line.text.size());
    std::memset(dest + line.text.size(), ' ', line.length - line.text.size());
    dest += line.length;
    std::memcpy(dest, kLineEnd.data(), kLineEnd.size());
    return dest + kLineEnd.size();
}

void write_text_line(std::ostream& out, const TextLine& line) {
    std::array<char, kMaxTextLine> buffer{};
    const char* end = put_text_line(buffer.data(), line);
    out.write(buffer.data(), end - buffer.data());
}

// A name as the names line shows it. Names come blank-padded to 9 from the data file; a
// shorter or longer text from another caller is padded or cut, so that every names line keeps
// its 24 characters. A name that Graphviz reads as an identifier (see dot_field) stays as it
// is; any other becomes a quoted string, padded to the same 9 characters where it is shorter.
std::string name_field(const std::string& name) {
    std::string field = name.substr(0, std::min(name.size(), kNameWidth));
    field.resize(kNameWidth, ' ');
    const std::size_t end = field.find_last_not_of(' ');
    const std::string_view shown(field.data(), end == std::string::npos ? 0 : end + 1);
    if (is_plain_dot_id(shown)) return field;
    std::string quoted = quote_dot_string(shown);
    if (quoted.size() < kNameWidth) quoted.resize(kNameWidth, ' ');
    return quoted;
}

// Names line "<regulator>  ->  <target>" and colour line, written at once.
void write_edge(std::ostream& out,
                std::string& line,
                const std::string& regulator,
                const std::string& target,
                const TextLine& colour) {
    std::array<char, kMaxTextLine> colour_line{};
    const char* end = put_text_line(colour_line.data(), colour);
    line.assign(regulator).append(kArrow).append(target).append(kLineEnd);
    line.append(colour_line.data(), static_cast<std::size_t>(end - colour_line.data()));
    out.write(line.data(), static_cast<std::streamsize>(line.size()));
}

}  // namespace

bool is_plain_dot_id(std::string_view name) {
    if (name.empty()) return false;
    const auto letter = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
    };
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    // A run of digits is a numeral, which Graphviz takes as a node name as it stands.
    if (std::all_of(name.begin(), name.end(), digit)) return true;
    if (!letter(name.front())) return false;
    if (!std::all_of(name.begin(), name.end(), [&](char c) { return letter(c) || digit(c); }))
        return false;
    std::string lower(name);
    for (char& c : lower) c = static_cast<char>(c | 0x20);  // letters, digits and _ only here
    for (const char* keyword : {"node", "edge", "graph", "digraph", "subgraph", "strict"}) {
        if (lower == keyword) return false;
    }
    return true;
}

std::string quote_dot_string(std::string_view name) {
    std::string quoted = "\"";
    for (const char c : printable_name(name)) {
        if (c == '"' || c == '\\') quoted.push_back('\\');
        quoted.push_back(c);
    }
    return quoted + "\"";
}

void format_graphviz(std::ostream& out,
                     std::span<const std::string> names,
                     numeric::ConstMatrixRef R,
                     int n,
                     double threshold) {
    for (const TextLine& line : kHeader) write_text_line(out, line);
    if (n > 0) {
        assert(R.ld >= n && names.size() >= static_cast<std::size_t>(n));
    }
    std::vector<std::string> fields;
    fields.reserve(static_cast<std::size_t>(std::max(n, 0)));
    for (int k = 0; k < n; ++k) fields.push_back(name_field(names[static_cast<std::size_t>(k)]));
    std::string line;
    // Row i is the regulated gene, column j the regulating one; the edge points from j to i.
    for (int i = 1; i <= n; ++i) {
        const std::string& target = fields[static_cast<std::size_t>(i - 1)];
        for (int j = 1; j <= n; ++j) {
            const int sign = edge_sign(R(i, j), threshold);
            if (sign == 0) continue;
            write_edge(out, line, fields[static_cast<std::size_t>(j - 1)], target,
                       sign > 0 ? kBlueLine : kRedLine);
        }
    }
    write_text_line(out, kClosing);
}

void write_graphviz_file(const std::filesystem::path& folder,
                         std::span<const std::string> names,
                         numeric::ConstMatrixRef R,
                         int n,
                         double threshold) {
    AtomicFile file(folder / kGraphvizFileName, kGraphvizFileUnit);
    format_graphviz(file.stream(), names, R, n, threshold);
    file.finish();
    file.commit();
}

}  // namespace netrevia::output
