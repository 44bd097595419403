#include <gtest/gtest.h>

#include <QString>
#include <QXmlStreamReader>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "batch_fixture.h"
#include "output/network_drawing.h"
#include "output/network_exports.h"

namespace netrevia::cli {
namespace {

// What an XML reader finds in a drawing: the texts of the genes' labels, the number of edges
// (the legend's two included), and the reader's error, empty when the file is well-formed.
struct Svg {
    std::vector<std::string> labels;
    int edges = 0;
    std::string error;
};

Svg read_svg(const std::string& text) {
    Svg svg;
    QXmlStreamReader xml(QByteArray::fromStdString(text));
    int node_depth = 0;  // inside <g class="node">
    int depth = 0;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            ++depth;
            const QString kind = xml.attributes().value(QString::fromLatin1("class")).toString();
            if (xml.name() == QString::fromLatin1("g") && kind == "node") node_depth = depth;
            if (xml.name() == QString::fromLatin1("g") && kind == "edge") ++svg.edges;
            if (xml.name() == QString::fromLatin1("title") && node_depth > 0) {
                // Genes are g1, g2, ...; the legend's nodes are legend_*.
                if (xml.readElementText().startsWith(QString::fromLatin1("legend"))) node_depth = 0;
                --depth;
            } else if (xml.name() == QString::fromLatin1("text") && node_depth > 0) {
                svg.labels.push_back(xml.readElementText().toStdString());
                --depth;
            }
        } else if (xml.isEndElement()) {
            if (depth == node_depth) node_depth = 0;
            --depth;
        }
    }
    if (xml.hasError()) svg.error = xml.errorString().toStdString();
    return svg;
}

std::string xml_error(const std::string& text) {
    QXmlStreamReader xml(QByteArray::fromStdString(text));
    while (!xml.atEnd()) xml.readNext();
    return xml.hasError() ? xml.errorString().toStdString() : std::string();
}

using BatchXml = cli_testing::BatchFixture;

// Names of every kind XML or a layout program cannot take as they are: invalid UTF-8 (a
// surrogate, an overlong form, beyond U+10FFFF), U+FFFE, controls, character references Graphviz
// would decode ("&#xD800;"), a label escape ("\N") and a name of 10 kB, which made the drawing
// fail. The drawing and GraphML are well-formed, and each label shows the printable name, cut.
TEST_F(BatchXml, DrawingAndGraphmlOfHostileNamesAreWellFormed) {
    if (std::system("command -v dot > /dev/null 2>&1") != 0) GTEST_SKIP() << "no dot on PATH";
    const std::vector<std::string> names{std::string(10000, 'A'),
                                         "&#xD800;",
                                         "&lt;b&amp;",
                                         "x\\N",
                                         "\xed\xa0\x80",
                                         "\xef\xbf\xbe\xef\xbf\xbf",
                                         "\xf4\x90\x80\x80",
                                         "\xe0\x80\xaf",
                                         "G\x1b[31mH\xc2\x85",
                                         "]]><!--",
                                         "\xce\xb1-\xe5\x9f\xba\xe5\x9b\xa0"};
    const int n = static_cast<int>(names.size());
    std::ostringstream file;
    file << "Number of datasets\n1\nNumber of genes\n" << n << "\nGene names\n";
    for (const std::string& name : names) file << name << "\n";
    file << "Set1\nDataset 1\nGenes and time points\n"
         << n << " 4\nTime points\n0 1 2 3\nReserved\n1.0\nExpression values (log2)\n";
    for (int i = 1; i <= n; ++i) {
        for (int j = 1; j <= 4; ++j)
            file << std::sin(1.7 * i + 0.9 * j * i) << (j < 4 ? " " : "\n");
    }
    file << "END\n";
    const std::string data = put("names.dat", file.str());
    ASSERT_EQ(run({"--quiet", "--threshold", "0", "--export", "all", "--render", "svg", "--layout",
                   "dot", "--output-dir", dir_.string(), data}),
              0)
        << err_.str();

    const Svg svg = read_svg(read(dir_ / "GRN.svg"));
    ASSERT_EQ(svg.error, "");
    // The 10 kB name is cut to its first 48 characters.
    std::vector<std::string> expected{std::string(output::kMaxLabelCharacters, 'A') + "..."};
    for (std::size_t g = 1; g < names.size(); ++g)
        expected.push_back(output::printable_name(names[g]));
    std::vector<std::string> labels = svg.labels;
    std::sort(labels.begin(), labels.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(labels, expected);
    EXPECT_EQ(xml_error(read(dir_ / "GRN.graphml")), "");
}

// The drawing keeps the strongest --render-max-edges edges and says so in the summary; the
// twenty genes at threshold 0 have 400 nonzero entries.
TEST_F(BatchXml, DrawingKeepsTheStrongestEdges) {
    if (std::system("command -v dot > /dev/null 2>&1") != 0) GTEST_SKIP() << "no dot on PATH";
    const std::string twenty = std::string(EXAMPLES_DIR) + "/twenty_genes.dat";
    ASSERT_EQ(run({"--quiet", "--threshold", "0", "--render", "svg", "--render-max-edges", "10",
                   "--export", "none", "--output-dir", dir_.string(), twenty}),
              0)
        << err_.str();
    EXPECT_NE(out_.str().find("drawing:      " + (dir_ / "GRN.svg").string() +
                              " (dot; the 10 strongest of 400 edges, --render-max-edges)\n"),
              std::string::npos)
        << out_.str();
    const Svg svg = read_svg(read(dir_ / "GRN.svg"));
    ASSERT_EQ(svg.error, "");
    EXPECT_EQ(svg.edges, 10 + 2);
}

}  // namespace
}  // namespace netrevia::cli
