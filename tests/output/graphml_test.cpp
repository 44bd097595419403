#include <gtest/gtest.h>

#include <QString>
#include <QXmlStreamReader>
#include <algorithm>
#include <array>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "output/network_exports.h"

namespace netrevia::output {
namespace {

// What an XML reader finds in a GraphML file: declared keys, nodes (id -> name) and edges with
// their data by key.
struct Graph {
    std::map<std::string, std::string> keys;  // id -> "for/attr.type"
    std::map<std::string, std::string> nodes;
    struct Edge {
        std::string source, target;
        std::map<std::string, std::string> data;
    };
    std::vector<Edge> edges;
    std::string edge_default;
    std::string error;
};

Graph parse(const std::string& text) {
    Graph g;
    QXmlStreamReader xml(QByteArray::fromStdString(text));
    std::string node_id;
    std::string data_key;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            const auto attr = [&](const char* name) {
                return xml.attributes().value(QString::fromLatin1(name)).toString().toStdString();
            };
            const QString name = xml.name().toString();
            if (name == "key") {
                g.keys[attr("id")] = attr("for") + "/" + attr("attr.type");
            } else if (name == "graph") {
                g.edge_default = attr("edgedefault");
            } else if (name == "node") {
                node_id = attr("id");
                g.nodes[node_id];
            } else if (name == "edge") {
                node_id.clear();
                g.edges.push_back({attr("source"), attr("target"), {}});
            } else if (name == "data") {
                data_key = attr("key");
                const std::string value = xml.readElementText().toStdString();
                if (!node_id.empty()) {
                    g.nodes[node_id] = value;
                } else if (!g.edges.empty()) {
                    g.edges.back().data[data_key] = value;
                }
            }
        }
    }
    if (xml.hasError()) g.error = xml.errorString().toStdString();
    return g;
}

TEST(Graphml, ReadersFindNodesKeysAndDrawnEdges) {
    // R(2,1) = 0.5 (1 -> 2), R(1,2) = -0.25 (2 -> 1), R(3,3) = 2 (self), R(1,3) = 0.1 (below).
    const std::array<double, 9> R{0.0, 0.5, 0.0, -0.25, 0.0, 0.0, 0.1, 0.0, 2.0};
    const std::vector<std::string> names{"a<b&\"c'", "NF-kB", "\xc3\xbc\x01"};
    std::ostringstream out;
    format_graphml(out, names, rank_edges({R.data(), 3}, 3, true), 0.2);
    const Graph g = parse(out.str());
    ASSERT_EQ(g.error, "");
    EXPECT_EQ(g.edge_default, "directed");
    EXPECT_EQ(g.keys, (std::map<std::string, std::string>{{"name", "node/string"},
                                                          {"weight", "edge/double"},
                                                          {"sign", "edge/int"},
                                                          {"rank", "edge/int"},
                                                          {"interaction", "edge/string"}}));
    // Distinct names are the node ids themselves.
    EXPECT_EQ(g.nodes,
              (std::map<std::string, std::string>{
                  {"a<b&\"c'", "a<b&\"c'"}, {"NF-kB", "NF-kB"}, {"\xc3\xbc?", "\xc3\xbc?"}}));
    ASSERT_EQ(g.edges.size(), 3u);  // 0.1 is not beyond 0.2
    EXPECT_EQ(g.edges[0].source, "a<b&\"c'");
    EXPECT_EQ(g.edges[0].target, "NF-kB");
    EXPECT_EQ(g.edges[0].data,
              (std::map<std::string, std::string>{
                  {"weight", "0.5"}, {"sign", "1"}, {"rank", "1"}, {"interaction", "activates"}}));
    EXPECT_EQ(g.edges[1].source, "NF-kB");
    EXPECT_EQ(g.edges[1].data.at("sign"), "-1");
    EXPECT_EQ(g.edges[1].data.at("interaction"), "represses");
    // The self-term ranks after the weaker 0.1 between distinct genes.
    EXPECT_EQ(g.edges[2].source, "\xc3\xbc?");
    EXPECT_EQ(g.edges[2].target, "\xc3\xbc?");
    EXPECT_EQ(g.edges[2].data.at("rank"), "4");
}

// Names of every kind of invalid UTF-8 and of characters XML forbids, as ids and as data: the
// file must parse, and each name must read back as its printable form.
TEST(Graphml, EveryNameGivesAFileAnXmlReaderAccepts) {
    const std::vector<std::string> names{"\xed\xa0\x80",
                                         "\xe0\x80\xaf",
                                         "\xf0\x80\x80\xaf",
                                         "\xf4\x90\x80\x80",
                                         "\xef\xbf\xbe",
                                         "\xef\xbf\xbf",
                                         "G\x01\x08\x0b\x0c\x1b",
                                         "\xc2\x85\x7f",
                                         "\xff\xfe<x>&#0;",
                                         "\xc3",
                                         "]]>",
                                         "\xf0\x9f\xa7\xac ok"};
    const int n = static_cast<int>(names.size());
    std::vector<double> R(static_cast<std::size_t>(n * n), 0.0);
    for (int g = 1; g < n; ++g) R[static_cast<std::size_t>(g)] = 1.0 / g;  // gene 1 -> gene g+1
    std::ostringstream out;
    format_graphml(out, names, rank_edges({R.data(), n}, n, true), 0.0);
    const Graph g = parse(out.str());
    ASSERT_EQ(g.error, "") << out.str();
    std::vector<std::string> read_back;
    for (const auto& [id, name] : g.nodes) read_back.push_back(name);
    std::vector<std::string> shown;
    for (const std::string& name : names) shown.push_back(printable_name(name));
    std::sort(read_back.begin(), read_back.end());
    std::sort(shown.begin(), shown.end());
    EXPECT_EQ(read_back, shown);
    EXPECT_EQ(g.edges.size(), names.size() - 1);
}

TEST(Graphml, RepeatedNamesGetNumberedIds) {
    const double r = 1.0;
    std::array<double, 4> R{0.0, r, 0.0, 0.0};
    std::ostringstream out;
    format_graphml(out, std::vector<std::string>{"G", "G"}, rank_edges({R.data(), 2}, 2, true),
                   0.0);
    const Graph g = parse(out.str());
    ASSERT_EQ(g.error, "");
    EXPECT_EQ(g.nodes, (std::map<std::string, std::string>{{"n1", "G"}, {"n2", "G"}}));
    ASSERT_EQ(g.edges.size(), 1u);
    EXPECT_EQ(g.edges[0].source, "n1");
    EXPECT_EQ(g.edges[0].target, "n2");
}

}  // namespace
}  // namespace netrevia::output
