// The import dialog: reading a table with the batch tool's arguments, the preview model, and the
// dialog itself under the offscreen platform (refusals keep it open; an accepted table gives the
// arguments that read it).
#include <gtest/gtest.h>

#include <QApplication>
#include <QBrush>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTest>
#include <clocale>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "importer/import_dialog.h"
#include "importer/preview_model.h"
#include "importer/table_reading.h"

namespace netrevia::importer {
namespace {

namespace fs = std::filesystem;

std::string contents(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

const fs::path kDream100 =
    fs::path(DREAM_DIR) / "dream4/timeseries/insilico_size100_1_timeseries.tsv";

// The public DREAM4 file of 100 genes has no time column: refused until the times are given,
// then read as ten courses of 21 points, as the batch tool reads it with the same arguments.
TEST(ReadTable, DreamFileWithoutTimeColumnNeedsItsTimes) {
    if (!fs::exists(kDream100)) GTEST_SKIP() << "no DREAM4 data at " << kDream100;
    const std::string text = contents(kDream100);
    const TableReading bare = read_table(kDream100, text, {});
    EXPECT_FALSE(bare.tables);
    EXPECT_EQ(bare.problem, "file " + kDream100.string() +
                                ", line 1, column 1: say what the values are with --scale "
                                "linear|log2|ln|log10 (only DREAM time-series files are linear "
                                "without it)");
    ASSERT_TRUE(bare.format);
    EXPECT_EQ(describe_format(*bare.format), "wide table, time points in rows, tabs");

    std::vector<std::string> args{"--interval", "50", "--points", "21"};
    EXPECT_EQ(read_table(kDream100, text, args).problem,
              "file " + kDream100.string() +
                  ", line 4, column 70: 20 values are 0 or below, which has no logarithm (this "
                  "is the first); --floor V replaces them by V");
    args.insert(args.end(), {"--floor", "0.001"});
    const TableReading timed = read_table(kDream100, text, args);
    ASSERT_TRUE(timed.tables) << timed.problem;
    EXPECT_EQ(describe_format(*timed.format), "DREAM layout, tabs");
    const TableChoice choice = make_choice(args, timed);
    EXPECT_EQ(choice.genes, 100);
    EXPECT_EQ(choice.time_points, std::vector<int>(10, 21));
    // The reader makes the 21 times 0, 50, ..., 1000 row by row from these two.
    EXPECT_EQ(choice.options.interval, 50.0);
    EXPECT_EQ(choice.options.points, 21);
    EXPECT_TRUE(choice.options.times.empty());
    EXPECT_EQ(describe_contents(choice.genes, choice.time_points),
              "100 genes, 10 courses of 21 time points");
}

// Arguments take the batch tool's words and messages.
TEST(ReadTable, ArgumentsAreTheBatchToolsOptions) {
    table::TableOptions options;
    EXPECT_EQ(options_from_arguments({"--interval", "50"}, options),
              "--interval and --points go together");
    EXPECT_EQ(options_from_arguments({"--scale", "log"}, options),
              "--scale does not take 'log' (linear, log2, ln or log10)");
    options = {};
    EXPECT_EQ(options_from_arguments({"--courses", "2-3", "--fill", "interpolate"}, options), "");
    EXPECT_EQ(options.courses, (std::vector<std::pair<int, int>>{{2, 3}}));
    EXPECT_TRUE(options.fill_interpolate);
    EXPECT_EQ(describe_contents(1, {6, 4}), "1 gene, 2 courses of 6 and 4 time points");
    EXPECT_EQ(describe_contents(5, {3, 3, 2}), "5 genes, 3 courses of 3, 3 and 2 time points");
}

TEST(PreviewModelTest, RowsAreRecordsNumberedByLineAndTheNamedCellIsMarked) {
    PreviewModel model;
    model.set_records({{1, {"gene", "0", "1"}}, {2, {}}, {4, {"A", "x"}}});
    EXPECT_EQ(model.rowCount(), 3);
    EXPECT_EQ(model.columnCount(), 3);
    EXPECT_EQ(model.headerData(2, Qt::Vertical, Qt::DisplayRole).toString(), "4");
    EXPECT_EQ(model.headerData(0, Qt::Horizontal, Qt::DisplayRole).toInt(), 1);
    EXPECT_EQ(model.data(model.index(2, 1)).toString(), "x");
    EXPECT_FALSE(model.data(model.index(2, 2)).isValid());
    model.mark_cell(4, 2);
    EXPECT_TRUE(model.data(model.index(2, 1), Qt::BackgroundRole).isValid());
    EXPECT_FALSE(model.data(model.index(2, 0), Qt::BackgroundRole).isValid());
    EXPECT_EQ(model.row_of_line(4), 2);
    EXPECT_EQ(model.row_of_line(3), -1);
}

class ImportDialogTest : public ::testing::Test {
protected:
    template <class T>
    static T* child(const ImportDialog& dialog, const char* name) {
        T* found = dialog.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
};

// A table without --scale is refused with the batch tool's message, the cell it names marked;
// "Use this table" then leaves the dialog open. Choosing the scale reads it, and the choice is
// the arguments that read it.
TEST_F(ImportDialogTest, RefusalKeepsTheDialogOpenUntilTheTableReads) {
    const QString file = QStringLiteral(EXAMPLES_DIR "/five_genes_course1.csv");
    ImportDialog dialog(file, QStringLiteral("end-of-file during read"));
    dialog.show();
    const std::string message = "file " + file.toStdString() +
                                ", line 1, column 1: say what the values are with --scale "
                                "linear|log2|ln|log10 (only DREAM time-series files are linear "
                                "without it)";
    EXPECT_EQ(child<QLabel>(dialog, "problem")->text().toStdString(), message);
    auto* use = child<QPushButton>(dialog, "use");
    EXPECT_FALSE(use->isEnabled());
    dialog.accept();
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_FALSE(dialog.choice());
    const auto* view = child<QTableView>(dialog, "preview");
    EXPECT_TRUE(view->model()->data(view->model()->index(0, 0), Qt::BackgroundRole).isValid());
    EXPECT_EQ(child<QComboBox>(dialog, "layout")->itemText(0), "detected: wide");
    EXPECT_EQ(child<QComboBox>(dialog, "delimiter")->itemText(0), "detected: comma");
    EXPECT_EQ(child<QComboBox>(dialog, "orientation")->itemText(0), "detected: genes");
    EXPECT_NE(child<QLabel>(dialog, "data_file_note")->text().indexOf("end-of-file"), -1);

    child<QComboBox>(dialog, "scale")->setCurrentIndex(2);  // log2
    EXPECT_EQ(child<QLabel>(dialog, "problem")->text(), "");
    EXPECT_EQ(child<QLabel>(dialog, "found")->text(),
              "Found: 5 genes, 1 course of 6 time points (wide table, genes in rows, commas); "
              "values log2, converted to log2.");
    EXPECT_EQ(child<QLabel>(dialog, "command")->text(),
              "The same with the batch tool: netrevia-batch --scale log2 " + file);
    // A course that is not there: refused again, as the batch tool refuses it.
    QTest::keyClicks(child<QLineEdit>(dialog, "courses"), "2");
    dialog.read_now();
    EXPECT_EQ(child<QLabel>(dialog, "problem")->text(), "--courses 2-2: the tables hold 1 courses");
    dialog.accept();
    EXPECT_TRUE(dialog.isVisible());
    child<QLineEdit>(dialog, "courses")->clear();
    QTest::keyClicks(child<QLineEdit>(dialog, "courses"), "1");
    use->click();  // reads the pending text first
    EXPECT_FALSE(dialog.isVisible());
    ASSERT_TRUE(dialog.choice());
    EXPECT_EQ(dialog.choice()->arguments,
              (std::vector<std::string>{"--scale", "log2", "--courses", "1"}));
    EXPECT_EQ(dialog.choice()->genes, 5);
}

// Times evenly spaced, a floor and filling go into the arguments in the batch tool's words; a
// file that cannot be opened is refused with its name.
TEST_F(ImportDialogTest, EveryOptionBecomesItsArgument) {
    if (!fs::exists(kDream100)) GTEST_SKIP() << "no DREAM4 data at " << kDream100;
    ImportDialog dialog(QString::fromStdString(kDream100.string()), QString());
    // Its header names genes only: the dialog says the times are to be given.
    EXPECT_NE(child<QLabel>(dialog, "found")->text().indexOf("the first column is no time"), -1);
    child<QRadioButton>(dialog, "times_every")->click();
    QTest::keyClicks(child<QLineEdit>(dialog, "interval"), "50");
    QTest::keyClicks(child<QLineEdit>(dialog, "points"), "21");
    child<QCheckBox>(dialog, "floor")->setChecked(true);
    child<QCheckBox>(dialog, "fill")->setChecked(true);
    dialog.read_now();
    EXPECT_EQ(dialog.arguments(),
              (std::vector<std::string>{"--interval", "50", "--points", "21", "--floor", "0.001",
                                        "--fill", "interpolate"}));
    EXPECT_EQ(child<QLabel>(dialog, "problem")->text(), "");
    EXPECT_EQ(child<QComboBox>(dialog, "layout")->itemText(0), "detected: DREAM");
    EXPECT_FALSE(child<QComboBox>(dialog, "orientation")->isEnabled());

    ImportDialog missing(QStringLiteral("/nonexistent/table.csv"), QString());
    EXPECT_EQ(child<QLabel>(missing, "problem")->text(),
              "file /nonexistent/table.csv: cannot be opened");
    EXPECT_FALSE(child<QPushButton>(missing, "use")->isEnabled());
}

// A table with replicates is refused until the user says what becomes of them; each choice
// reads it as the batch tool's --replicates does.
TEST_F(ImportDialogTest, ReplicatesAreRefusedUntilAveragedOrMadeCourses) {
    const QString file = QStringLiteral(EXAMPLES_DIR "/five_genes_replicates.tsv");
    ImportDialog dialog(file, QString());
    // Its time column stands after the course and replicate columns: no hint to give times.
    EXPECT_EQ(child<QLabel>(dialog, "found")->text(), "Not read: the table is refused.");
    child<QComboBox>(dialog, "scale")->setCurrentIndex(2);  // log2
    EXPECT_NE(child<QLabel>(dialog, "problem")->text().indexOf("--replicates mean"), -1);
    EXPECT_FALSE(child<QPushButton>(dialog, "use")->isEnabled());

    auto* replicates = child<QComboBox>(dialog, "replicates");
    replicates->setCurrentIndex(1);
    EXPECT_EQ(child<QLabel>(dialog, "problem")->text(), "");
    EXPECT_EQ(child<QLabel>(dialog, "found")->text(),
              "Found: 5 genes, 2 courses of 6 time points (wide table, time points in rows, "
              "tabs); values log2, converted to log2; 6 replicates of 2 courses averaged at each "
              "time point.");
    EXPECT_EQ(dialog.arguments(),
              (std::vector<std::string>{"--scale", "log2", "--replicates", "mean"}));

    replicates->setCurrentIndex(2);
    EXPECT_NE(child<QLabel>(dialog, "found")->text().indexOf("6 courses"), -1);
    EXPECT_EQ(dialog.arguments(),
              (std::vector<std::string>{"--scale", "log2", "--replicates", "courses"}));
}

// Bytes that are no table at all (NULs, a lone quote, no line end) are refused in words, with
// whatever preview they allow; nothing escapes the dialog.
TEST_F(ImportDialogTest, GarbageIsRefusedInWords) {
    const fs::path file = fs::temp_directory_path() / "netrevia-importer-garbage.csv";
    {
        std::ofstream out(file, std::ios::binary);
        out << std::string("\x00\xff\xfe,\"\x01\n\x00\x00", 10);
    }
    ImportDialog dialog(QString::fromStdString(file.string()), QString());
    for (int scale = 0; scale < 5; ++scale) {
        child<QComboBox>(dialog, "scale")->setCurrentIndex(scale);
        EXPECT_FALSE(child<QLabel>(dialog, "problem")->text().isEmpty()) << scale;
    }
    fs::remove(file);
}

class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        application_ = std::make_unique<QApplication>(argc_, argv_);
        std::setlocale(LC_NUMERIC, "C");
    }
    void TearDown() override { application_.reset(); }

private:
    int argc_ = 1;
    char name_[16] = "importer_tests";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> application_;
};

}  // namespace
}  // namespace netrevia::importer

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::AddGlobalTestEnvironment(new netrevia::importer::QtEnvironment);
    return RUN_ALL_TESTS();
}
