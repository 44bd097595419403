// The Results window as a user reaches it: Infer in the main window opens it; the cut, the
// table, a click on a gene, the clipboard, the pictures, the settings; its exports byte for
// byte against the batch tool's.
#include "viewer/results_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QDoubleSpinBox>
#include <QFile>
#include <QGraphicsView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QSplitter>
#include <QTableView>
#include <QTest>
#include <nlohmann/json.hpp>

#include "app/qt_dialog.h"
#include "app/results_link.h"
#include "app/shell.h"
#include "support/support.h"
#include "viewer/edge_table_model.h"
#include "viewer_testing.h"

namespace netrevia::viewer {
namespace {

namespace fs = std::filesystem;

std::string read(const fs::path& file) { return test_support::read_bytes(file); }

// The batch tool itself, as a user runs it; returns its standard output.
std::string run_batch(const QStringList& args) {
    QProcess batch;
    batch.start(QStringLiteral(BATCH_PATH), QStringList{"--quiet"} + args);
    EXPECT_TRUE(batch.waitForFinished(120'000));
    EXPECT_EQ(batch.exitCode(), 0) << batch.readAllStandardError().toStdString();
    return batch.readAllStandardOutput().toStdString();
}

// run.json without what names the program, its command line and the time.
nlohmann::json comparable(const std::string& text) {
    nlohmann::json json = nlohmann::json::parse(text);
    json.erase("tool");
    json.erase("command_line");
    json.erase("wall_seconds");
    return json;
}

bool wait_until_ready(const ResultsWindow& window) {
    return QTest::qWaitFor([&] { return window.results() != nullptr && !window.busy(); }, 60'000);
}

int edge_items_in(const QGraphicsScene& scene) {
    int count = 0;
    for (const QGraphicsItem* item : scene.items()) count += item->type() == kEdgeItemType;
    return count;
}

// The main window with the Results window linked, on a copy of the twenty-gene example.
class ResultsWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::copy_file(fs::path(EXAMPLES_DIR) / "twenty_genes.dat", data_file);
        shell.attach(dialog);
        ASSERT_TRUE(dialog.show());
        shell.choose_data_file(dialog, data_file.string());
    }
    void TearDown() override { fs::current_path(saved_working_directory); }

    app::Platform platform() {
        app::Platform p = link.attach(app::qt_platform());
        p.message_box = [this](app::Dialog*, std::string_view text, std::string_view) {
            messages.emplace_back(text);
        };
        return p;
    }
    void infer(const std::string& threshold = "0.000001") {
        auto* field = qobject_cast<QLineEdit*>(dialog.control(app::kThresholdField));
        field->setText(QString::fromStdString(threshold));
        QTest::mouseClick(dialog.control(app::kInferButton), Qt::LeftButton);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !shell.running(); }, 120'000));
        ASSERT_NE(link.window(), nullptr);
        ASSERT_TRUE(wait_until_ready(*link.window()));
    }

    fs::path saved_working_directory = fs::current_path();
    test_support::TempDir folder{"netrevia-viewer-window"};
    const fs::path data_file = folder.path() / "twenty_genes.dat";
    std::vector<std::string> messages;
    app::ResultsLink link;  // outlives the main window and the shell
    app::Shell shell{platform()};
    app::QtDialog dialog{app::main_window_template()};
};

TEST_F(ResultsWindowTest, InferOpensItWithTheRunsCutAndCtrlRBringsItBack) {
    infer();
    ResultsWindow& window = *link.window();
    EXPECT_EQ(dialog.control(app::kUpperStatusLine)->property("text").toString(),
              "The computation is finished! ");
    EXPECT_TRUE(messages.empty());
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(window.windowTitle(), "twenty_genes.dat - Results - Netrevia");
    const CutNetwork& cut = window.cut_network();
    EXPECT_EQ(cut.threshold, 1.0e-6);
    EXPECT_EQ(cut.positive_edges, 30);  // the batch tool's summary at the default
    EXPECT_EQ(cut.negative_edges, 69);
    EXPECT_EQ(cut.self_edges, 14);
    EXPECT_EQ(edge_items_in(*window.scene()), 99);
    EXPECT_EQ(window.edge_table()->model()->rowCount(), 400);
    EXPECT_EQ(window.results()->run().folder, folder.path());

    window.close();
    EXPECT_FALSE(window.isVisible());
    dialog.window()->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(dialog.window()));
    QTest::keyClick(dialog.window(), Qt::Key_R, Qt::ControlModifier);
    EXPECT_TRUE(window.isVisible());

    // A second run brings the same window up to date.
    infer("0.39");
    EXPECT_EQ(link.window(), &window);
    EXPECT_EQ(window.cut_network().threshold, 0.39);
    EXPECT_EQ(edge_items_in(*window.scene()), 41);
    // Ctrl+R still works after it: a second shortcut on the same keys would make them ambiguous.
    window.close();
    dialog.window()->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(dialog.window()));
    QTest::keyClick(dialog.window(), Qt::Key_R, Qt::ControlModifier);
    EXPECT_TRUE(window.isVisible());
}

TEST_F(ResultsWindowTest, CutRecountsAtOnceAndLeavesTheFilesAlone) {
    infer();
    ResultsWindow& window = *link.window();
    const std::string dot = read(folder.path() / "GRN.dot");
    auto* box = window.findChild<QDoubleSpinBox*>();
    ASSERT_NE(box, nullptr);
    box->setValue(0.39);  // counted before any layout comes back
    EXPECT_EQ(window.cut_network().positive_edges + window.cut_network().negative_edges, 41);
    EXPECT_EQ(window.edge_filter()->index(28, EdgeTableModel::kDrawn).data().toString(), "no");
    ASSERT_TRUE(wait_until_ready(window));
    EXPECT_EQ(edge_items_in(*window.scene()), 41);
    window.apply_suggested_threshold();
    EXPECT_EQ(window.cut_network().threshold, 0.39);
    // The batch tool's --top 7 --no-self-loops: 7 between genes (it used to count the self-terms
    // too, which left 1 to draw).
    window.set_cut({0.0, 7, false});
    ASSERT_TRUE(wait_until_ready(window));
    EXPECT_EQ(edge_items_in(*window.scene()), 7);
    EXPECT_EQ(window.edge_table()->model()->rowCount(), 380);
    EXPECT_EQ(read(folder.path() / "GRN.dot"), dot);
}

TEST_F(ResultsWindowTest, ExportsAreTheBatchToolsBytes) {
    infer();
    ResultsWindow& window = *link.window();
    const QString data = QString::fromStdString(data_file.string());

    // All four at the suggested threshold, into a folder of their own.
    const test_support::TempDir mine("netrevia-viewer-mine");
    const test_support::TempDir theirs("netrevia-viewer-theirs");
    window.apply_suggested_threshold();
    ASSERT_TRUE(window.save_exports(QString::fromStdString(mine.path().string())));
    run_batch({"--threshold", "0.39", "--export", "all", "--output-dir",
               QString::fromStdString(theirs.path().string()), data});
    for (const char* name : {"edges.tsv", "GRN.sif", "GRN.graphml"})
        EXPECT_EQ(read(mine.path() / name), read(theirs.path() / name)) << name;
    EXPECT_EQ(comparable(read(mine.path() / "run.json")),
              comparable(read(theirs.path() / "run.json")));
    EXPECT_EQ(nlohmann::json::parse(read(mine.path() / "run.json"))["tool"], "netrevia");
    // The window's run wrote the batch tool's GRN.dat, and the export left it alone.
    EXPECT_EQ(read(folder.path() / "GRN.dat"), read(theirs.path() / "GRN.dat"));

    // One at a time, for the top 25 without self-terms.
    window.set_cut({0.0, 25, false});
    const test_support::TempDir top("netrevia-viewer-top");
    run_batch({"--top", "25", "--no-self-loops", "--export", "all", "--output-dir",
               QString::fromStdString(top.path().string()), data});
    const std::pair<ExportKind, const char*> kinds[] = {{ExportKind::kEdges, "edges.tsv"},
                                                        {ExportKind::kSif, "GRN.sif"},
                                                        {ExportKind::kGraphml, "GRN.graphml"}};
    for (const auto& [kind, name] : kinds) {
        const fs::path file = mine.path() / (std::string("top-") + name);
        ASSERT_TRUE(window.export_file(kind, QString::fromStdString(file.string())));
        EXPECT_EQ(read(file), read(top.path() / name)) << name;
    }
    const test_support::TempDir json("netrevia-viewer-json");
    run_batch({"--top", "25", "--no-self-loops", "--export", "json", "--output-dir",
               QString::fromStdString(json.path().string()), data});
    const fs::path record = mine.path() / "top.json";
    ASSERT_TRUE(
        window.export_file(ExportKind::kRunRecord, QString::fromStdString(record.string())));
    EXPECT_EQ(comparable(read(record)), comparable(read(json.path() / "run.json")));
    // Both records give the run's own wall time, not the time until the user exported (three
    // batch runs lie between the two exports).
    EXPECT_EQ(nlohmann::json::parse(read(record))["wall_seconds"],
              nlohmann::json::parse(read(mine.path() / "run.json"))["wall_seconds"]);
}

TEST_F(ResultsWindowTest, ClickOnAGeneFiltersTheTableAndCopyTakesEdgesTsvFields) {
    infer("0.39");
    ResultsWindow& window = *link.window();
    auto* view = window.findChild<QGraphicsView*>();
    ASSERT_NE(view, nullptr);
    window.resize(1200, 800);
    QApplication::processEvents();
    const NodeItem* g18 = nullptr;
    for (QGraphicsItem* item : window.scene()->items()) {
        if (item->type() == kNodeItemType && static_cast<NodeItem*>(item)->gene() == 18)
            g18 = static_cast<NodeItem*>(item);
    }
    ASSERT_NE(g18, nullptr);
    const QPoint at = view->mapFromScene(g18->boundingRect().center());
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
    EXPECT_TRUE(g18->isSelected());
    EXPECT_EQ(window.edge_filter()->gene(), 18);
    EXPECT_EQ(window.edge_table()->model()->rowCount(), 39);  // 19 + 19 + the self-term

    // The first three rows of G18's edges, as edges.tsv writes them, less abs_weight.
    window.edge_table()->selectRow(0);
    window.edge_table()->selectionModel()->select(
        window.edge_filter()->index(2, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    window.edge_table()->selectionModel()->select(
        window.edge_filter()->index(1, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    const test_support::TempDir out("netrevia-viewer-copy");
    ASSERT_TRUE(window.export_file(ExportKind::kEdges,
                                   QString::fromStdString((out.path() / "e.tsv").string())));
    QStringList expected;
    for (const QString& line : QString::fromStdString(read(out.path() / "e.tsv")).split('\n')) {
        QStringList fields = line.split('\t');
        if (fields.size() != 7 || (fields[1] != "G18" && fields[2] != "G18")) continue;
        fields.removeAt(5);
        expected << fields.join('\t');
        if (expected.size() == 3) break;
    }
    EXPECT_EQ(window.selected_text(), expected.join('\n') + '\n');
    window.edge_table()->setFocus();
    QTest::keyClick(window.edge_table(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), expected.join('\n') + '\n');

    // The background clears the choice.
    window.select_gene(0);
    EXPECT_EQ(window.edge_table()->model()->rowCount(), 400);
}

TEST_F(ResultsWindowTest, PictureAsSvgAndAsPngAtTheChosenResolution) {
    infer("0.39");
    ResultsWindow& window = *link.window();
    const fs::path svg = folder.path() / "network.svg";
    ASSERT_TRUE(window.export_picture(QString::fromStdString(svg.string()), 96));
    const std::string text = read(svg);
    EXPECT_EQ(text.rfind("<?xml", 0), 0u);
    EXPECT_NE(text.find("<svg"), std::string::npos);
    EXPECT_NE(text.find(">G18<"), std::string::npos);
    const fs::path png = folder.path() / "network.png";
    ASSERT_TRUE(window.export_picture(QString::fromStdString(png.string()), 300));
    const QImage image(QString::fromStdString(png.string()));
    const QSizeF points = window.scene()->sceneRect().size();
    EXPECT_EQ(image.width(), qRound(points.width() * 300.0 / 72.0));
    EXPECT_EQ(image.height(), qRound(points.height() * 300.0 / 72.0));
    EXPECT_EQ(image.dotsPerMeterX(), qRound(300.0 / 0.0254));
    EXPECT_EQ(image.pixelColor(2, 2), QColor(Qt::white));
}

TEST(ResultsWindowAlone, DrawsTheStrongestUpToTheCapAndSaysSo) {
    // 70 genes, every entry nonzero: 4830 edges between genes at threshold 0.
    const int n = 70;
    std::vector<double> R(static_cast<std::size_t>(n) * n);
    for (std::size_t k = 0; k < R.size(); ++k)
        R[k] = (k % 2 == 0 ? 1.0 : -1.0) * (1.0 + static_cast<double>((k * 7919) % 4999));
    ResultsWindow window;
    window.set_results(viewer_testing::results_of(n, std::move(R), 0.0));
    ASSERT_TRUE(wait_until_ready(window));
    EXPECT_EQ(window.cut_network().drawn, 4900u);
    EXPECT_EQ(edge_items_in(*window.scene()), static_cast<int>(kDrawnEdgeCap));
    bool said = false;
    for (const QLabel* label : window.findChildren<QLabel*>())
        said = said || label->text().startsWith(QString("The cut draws %1 edges; the picture "
                                                        "shows the strongest %2.")
                                                    .arg(QLocale().toString(4900))
                                                    .arg(QLocale().toString(2000)));
    EXPECT_TRUE(said);
}

// A scoring engine's run: its seed and what it fitted stand where the selection loop's
// iterations would, lambda is not used, and Apply suggests the engine's own default.
TEST(ResultsWindowAlone, SummaryOfAnEnsembleRunNamesSeedSubsetsAndNoLambda) {
    viewer::RunResults run =
        viewer_testing::results_of(3, {0.0, 0.9, -0.8, 0.7, 0.0, 0.2, 0.1, -0.95, 0.0}, 0.5);
    run.record.engine = "ensemble";
    run.record.seed = 7;
    run.summary.network.runs = 12;
    run.summary.network.subset_size = 2;
    ResultsWindow window;
    window.set_results(std::move(run));
    ASSERT_TRUE(wait_until_ready(window));
    QStringList texts;
    for (const QLabel* label : window.findChildren<QLabel*>()) texts << label->text();
    for (const char* expected : {"ensemble, seed 7", "12 subsets of 2 genes", "none (ensemble)",
                                 "not used (ensemble)", "Suggested threshold: 0.75"})
        EXPECT_TRUE(texts.contains(expected))
            << expected << " not in " << texts.join(" | ").toStdString();
    window.apply_suggested_threshold();
    EXPECT_EQ(window.cut_network().threshold, 0.75);
    EXPECT_EQ(window.cut_network().positive_edges + window.cut_network().negative_edges, 3);
}

// The smallest networks: no gene at all, and one gene whose only entry is its self-term.
TEST(ResultsWindowAlone, ShowsNetworksOfNoGeneAndOfOneGene) {
    ResultsWindow window;
    window.set_results(viewer_testing::results_of(0, {}));
    ASSERT_TRUE(wait_until_ready(window));
    EXPECT_EQ(window.edge_table()->model()->rowCount(), 0);
    EXPECT_EQ(edge_items_in(*window.scene()), 0);
    window.set_cut({0.0, 5, true});
    ASSERT_TRUE(wait_until_ready(window));
    EXPECT_EQ(window.cut_network().drawn, 0u);

    window.set_results(viewer_testing::results_of(1, {-0.5}, 0.1));
    ASSERT_TRUE(wait_until_ready(window));
    EXPECT_EQ(window.results()->suggested_threshold(), 0.0);  // nothing between genes
    EXPECT_EQ(window.cut_network().negative_edges, 1);
    EXPECT_EQ(edge_items_in(*window.scene()), 1);  // the self-loop
    window.apply_suggested_threshold();            // nothing to apply: the cut stays
    EXPECT_EQ(window.cut_network().threshold, 0.1);
    const test_support::TempDir out("netrevia-viewer-one");
    EXPECT_TRUE(
        window.export_picture(QString::fromStdString((out.path() / "one.svg").string()), 96));
}

TEST(ResultsWindowAlone, RemembersItsGeometryAndSplitter) {
    QList<int> sizes;
    {
        ResultsWindow window;
        window.show();
        window.resize(900, 640);
        auto* splitter = window.findChild<QSplitter*>();
        splitter->setSizes({300, 300});
        sizes = splitter->sizes();
        window.close();
    }
    ResultsWindow again;
    again.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&again));
    EXPECT_EQ(again.size(), QSize(900, 640));
    EXPECT_EQ(again.findChild<QSplitter*>()->sizes(), sizes);
}

}  // namespace
}  // namespace netrevia::viewer
