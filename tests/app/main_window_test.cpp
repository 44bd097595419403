// The real window under Qt's offscreen platform: start-up, the commands, typing into the
// fields, the layout handler, the end of the event loop, and a screenshot for inspection.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPixmap>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <clocale>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/dialog_template.h"
#include "app/qt_dialog.h"
#include "app/results_folder.h"
#include "app/shell.h"
#include "importer/import_dialog.h"
#include "inference/engines.h"

namespace netrevia::app {
namespace {

namespace fs = std::filesystem;

// The qt_platform with the file dialog and message boxes replaced, so that nothing waits for
// a user.
class MainWindowTest : public ::testing::Test {
protected:
    std::vector<std::string> messages;
    std::optional<std::string> chosen_file;
    fs::path saved_working_directory = fs::current_path();

    // Answers every question without showing it when set; otherwise the real box asks.
    std::optional<bool> answer;
    std::vector<std::string> questions;
    std::optional<std::string> chosen_folder;

    Platform platform() {
        Platform p = qt_platform();
        p.choose_file = [this](Dialog&, const std::vector<FileFilter>&, const std::string&) {
            return chosen_file;
        };
        p.message_box = [this](Dialog*, std::string_view text, std::string_view caption) {
            messages.push_back(std::string(caption) + ": " + std::string(text));
        };
        p.choose_folder = [this](Dialog&, const std::string&) { return chosen_folder; };
        auto real_question = p.ask_yes_no;
        p.ask_yes_no = [this, real_question](Dialog& owner, std::string_view text,
                                             std::string_view caption) {
            questions.emplace_back(text);
            return answer ? *answer : real_question(owner, text, caption);
        };
        return p;
    }

    Shell shell{platform()};
    QtDialog dialog{main_window_template()};

    void SetUp() override {
        // An earlier test's window posted its quit request with no loop running; Qt would end
        // the next nested loop (an import dialog's, a question's) at once because of it.
        QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
        QCoreApplication::exec();
        shell.attach(dialog);
        ASSERT_TRUE(dialog.show());
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.window()));
    }
    void TearDown() override { fs::current_path(saved_working_directory); }

    QString text(int id) const {
        QWidget* widget = dialog.control(id);
        if (id == kInputSummary || id == kRunNote) {  // possibly shortened on screen
            return QString::fromStdString(dialog.get_text(id)).trimmed();
        }
        if (auto* label = qobject_cast<QLabel*>(widget)) return label->text();
        if (auto* edit = qobject_cast<QLineEdit*>(widget)) return edit->text();
        ADD_FAILURE() << "no text control " << id;
        return {};
    }
    void click(int id) { QTest::mouseClick(dialog.control(id), Qt::LeftButton); }
    // Lets the event loop run until the run on the worker thread has been reported.
    bool wait_until_idle(int milliseconds = 120'000) {
        return QTest::qWaitFor([&] { return !shell.running(); }, milliseconds);
    }
    bool enabled(int id) const { return dialog.control(id)->isEnabled(); }
    // The data file copied into folder under name.
    static QString copy_example(const QTemporaryDir& folder, const QString& name) {
        const QString file = folder.filePath(name);
        EXPECT_TRUE(QFile::copy(QStringLiteral(EXAMPLES_DIR "/three_genes.dat"), file));
        return file;
    }
    static QByteArray contents(const QString& file) {
        QFile in(file);
        return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray("<unreadable>");
    }
    // Opens file, a table: the import dialog comes up, steps set it up as a user would, and
    // "Use this table" accepts it.
    void open_table(const QString& file,
                    const std::function<void(importer::ImportDialog&)>& steps) {
        chosen_file = file.toStdString();
        bool seen = false;
        QTimer::singleShot(0, [&] {
            auto* import = dynamic_cast<importer::ImportDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(import, nullptr);
            seen = true;
            steps(*import);
            import->findChild<QPushButton*>(QStringLiteral("use"))->click();
            if (import->isVisible()) import->reject();  // refused: the test fails below
        });
        click(kOpenButton);
        EXPECT_TRUE(seen);
    }
    void select_engine(std::string_view name) {
        const auto* engine = inference::find_engine(name);
        ASSERT_NE(engine, nullptr) << name;
        qobject_cast<QComboBox*>(dialog.control(kEngineList))
            ->setCurrentIndex(static_cast<int>(engine - inference::engines().data()));
    }
    // The batch tool on the same input into its own folder; its exit code.
    static int batch(const QStringList& args, const QString& folder) {
        QProcess tool;
        tool.start(QStringLiteral(BATCH_PATH),
                   QStringList{"--quiet", "--export", "none", "--output-dir", folder} + args);
        EXPECT_TRUE(tool.waitForFinished(300'000));
        EXPECT_EQ(tool.exitCode(), 0) << tool.readAllStandardError().toStdString();
        return tool.exitCode();
    }
    // GRN.dat and GRN.dot of the two folders agree byte for byte (and exist).
    static void expect_same_results(const QString& window, const QString& batch_folder) {
        for (const char* name : {"GRN.dat", "GRN.dot"}) {
            const QByteArray ours = contents(window + QLatin1Char('/') + QLatin1String(name));
            EXPECT_NE(ours, "<unreadable>") << name;
            EXPECT_EQ(ours, contents(batch_folder + QLatin1Char('/') + QLatin1String(name)))
                << name;
        }
    }
    // Runs Infer and waits for the window to report the run's end.
    void infer_and_wait() {
        click(kInferButton);
        ASSERT_TRUE(wait_until_idle());
        EXPECT_EQ(text(kUpperStatusLine), "The computation is finished! ") << messages.size();
    }

    // Replaces a field's text keystroke by keystroke, as a user would.
    void type(int id, const QString& keys) {
        auto* edit = qobject_cast<QLineEdit*>(dialog.control(id));
        ASSERT_NE(edit, nullptr);
        edit->setFocus();
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Delete);
        QTest::keyClicks(edit, keys);
    }
};

TEST_F(MainWindowTest, StartsWithFieldTextsAndEmptyStatusLines) {
    EXPECT_EQ(dialog.window()->windowTitle(), "Gene Regulatory Network Reverse Engineering");
    EXPECT_EQ(text(kLambdaField), "0.0");
    EXPECT_EQ(text(kThresholdField), "0.000001");
    EXPECT_EQ(text(kLambdaLabel), "Lambda:");
    EXPECT_EQ(text(kThresholdLabel), "Threshold:");
    for (const int line : {kUpperStatusLine, kMiddleStatusLine, kLowerStatusLine}) {
        EXPECT_EQ(text(line), "") << line;
    }
    // Fixed size, and no minimise or maximise box.
    EXPECT_EQ(dialog.window()->minimumSize(), dialog.window()->maximumSize());
    const Qt::WindowFlags flags = dialog.window()->windowFlags();
    EXPECT_FALSE(flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_EQ(shell.parameters().lambda(), 0.0);
    EXPECT_EQ(shell.parameters().threshold(), 1.0e-6);
}

TEST_F(MainWindowTest, InferBeforeOpenAsksForTheDataFile) {
    click(kInferButton);
    EXPECT_EQ(text(kUpperStatusLine), "Please choose the Data file! ");
    EXPECT_EQ(text(kMiddleStatusLine), "0.000000000000000E+000");
    EXPECT_EQ(text(kLowerStatusLine), "1.000000000000000E-006");
}

// Typing shows each accepted value; a text that does not parse is complained about and, at
// Infer, stops the command with the field named, marked and focused, even before a file is
// chosen: no run may take a value the field does not show.
TEST_F(MainWindowTest, TypedLambdaIsEchoedAndAnInvalidTextStopsInfer) {
    type(kLambdaField, "1e-3");
    EXPECT_EQ(text(kMiddleStatusLine), "1.000000000000000E-003");
    EXPECT_EQ(text(kUpperStatusLine), "");

    QTest::keyClicks(dialog.control(kLambdaField), "x");  // "1e-3x"
    EXPECT_EQ(text(kUpperStatusLine), "The input of Lambda is not proper!");
    EXPECT_EQ(text(kMiddleStatusLine), "");
    EXPECT_EQ(shell.parameters().lambda(), 1.0e-3);

    click(kInferButton);
    EXPECT_EQ(text(kMiddleStatusLine), "");
    EXPECT_EQ(text(kUpperStatusLine),
              "The input of Lambda is not proper! Type a number, such as 0.5 or 1e-3; nothing "
              "was run.");
    EXPECT_TRUE(dialog.control(kLambdaField)->hasFocus());
    EXPECT_FALSE(dialog.control(kLambdaField)->styleSheet().isEmpty());
    QTest::keyClick(dialog.control(kLambdaField), Qt::Key_Backspace);  // "1e-3" again
    EXPECT_TRUE(dialog.control(kLambdaField)->styleSheet().isEmpty());
    click(kInferButton);
    EXPECT_EQ(text(kMiddleStatusLine), "1.000000000000000E-003");
    EXPECT_EQ(text(kUpperStatusLine), "Please choose the Data file! ");
}

TEST_F(MainWindowTest, OpenThenInferWritesBothFilesBesideTheDataFile) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString data_file = folder.filePath(QStringLiteral("three_genes.dat"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(EXAMPLES_DIR "/three_genes.dat"), data_file));

    chosen_file = data_file.toStdString();
    click(kOpenButton);
    EXPECT_EQ(text(kUpperStatusLine), "Status: Multiple Microarray Datasets are ready ");
    EXPECT_EQ(text(kLowerStatusLine).trimmed(), data_file);
    EXPECT_EQ(text(kLowerStatusLine).size(), kPathFieldLength);

    click(kInferButton);
    ASSERT_TRUE(wait_until_idle());
    EXPECT_EQ(text(kUpperStatusLine), "The computation is finished! ");
    EXPECT_EQ(text(kMiddleStatusLine), "Please check the output files in working directory!");
    EXPECT_EQ(text(kLowerStatusLine), "");
    EXPECT_TRUE(messages.empty()) << messages.front();
    EXPECT_TRUE(QFile::exists(folder.filePath(QStringLiteral("GRN.dat"))));
    EXPECT_TRUE(QFile::exists(folder.filePath(QStringLiteral("GRN.dot"))));
    EXPECT_TRUE(enabled(kOpenButton));
    EXPECT_EQ(qobject_cast<QPushButton*>(dialog.control(kInferButton))->text(), "&Infer");
}

// One wrong pick in the file dialog costs nothing: the error is reported, the window stays
// idle with the typed parameters, and the next file runs. The file's markup stays text.
TEST_F(MainWindowTest, BadFileThenGoodFileInOneSession) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString bad = folder.filePath(QStringLiteral("notes.dat"));
    {
        QFile out(bad);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write("Number of datasets\n<h1>BIG</h1>\n");
    }
    type(kLambdaField, "0.5");
    chosen_file = bad.toStdString();
    click(kOpenButton);
    click(kInferButton);
    ASSERT_TRUE(wait_until_idle());
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("\"<h1>BIG<\" is not an integer"), std::string::npos) << messages[0];
    EXPECT_NE(text(kUpperStatusLine).indexOf(QStringLiteral("notes.dat")), -1);
    EXPECT_TRUE(dialog.window()->isVisible());
    EXPECT_TRUE(enabled(kOpenButton));
    EXPECT_EQ(text(kLambdaField), "0.5");

    chosen_file = copy_example(folder, QStringLiteral("good.dat")).toStdString();
    click(kOpenButton);
    click(kInferButton);
    ASSERT_TRUE(wait_until_idle());
    EXPECT_EQ(text(kUpperStatusLine), "The computation is finished! ");
    EXPECT_EQ(shell.parameters().lambda(), 0.5);
    EXPECT_TRUE(QFile::exists(folder.filePath(QStringLiteral("GRN.dot"))));
}

// A folder that refuses the results (GRN.dat is taken by a folder) is reported, the earlier
// GRN.dot stays as it was, and once the obstacle is gone the same window writes both files.
TEST_F(MainWindowTest, WriteErrorThenSuccessfulRun) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    chosen_file = copy_example(folder, QStringLiteral("three_genes.dat")).toStdString();
    const QString graph = folder.filePath(QStringLiteral("GRN.dot"));
    {
        QFile out(graph);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write("earlier result\n");
    }
    ASSERT_TRUE(QDir(folder.path()).mkdir(QStringLiteral("GRN.dat")));
    click(kOpenButton);
    click(kInferButton);
    ASSERT_TRUE(wait_until_idle());
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].rfind("Error: ", 0), 0u) << messages[0];
    EXPECT_NE(messages[0].find("GRN.dat"), std::string::npos) << messages[0];
    EXPECT_EQ(contents(graph), "earlier result\n");
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot),
              (QStringList{"GRN.dat", "GRN.dot", "three_genes.dat"}));

    ASSERT_TRUE(QDir(folder.path()).rmdir(QStringLiteral("GRN.dat")));
    click(kInferButton);
    ASSERT_TRUE(wait_until_idle());
    EXPECT_EQ(text(kUpperStatusLine), "The computation is finished! ");
    EXPECT_NE(contents(graph), "earlier result\n");
    EXPECT_TRUE(QFileInfo(folder.filePath(QStringLiteral("GRN.dat"))).isFile());
    EXPECT_EQ(messages.size(), 1u);
}

// A run of several seconds on simulated data: the controls are disabled and Infer reads
// "&Cancel", the event loop keeps turning, the progress text changes as the selection goes
// on; Esc stops the run, the earlier results stay byte for byte and nothing else is written.
TEST_F(MainWindowTest, LongRunShowsProgressAndEscapeCancelsIt) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString data = folder.filePath(QStringLiteral("hundred_genes.dat"));
    QProcess simulate;
    simulate.start(
        QStringLiteral(SIMULATE_PATH),
        {"--genes", "150", "--courses", "4", "--points", "12", "--seed", "3", "--input",
         "--out-data", data, "--out-truth", folder.filePath(QStringLiteral("truth.tsv"))});
    ASSERT_TRUE(simulate.waitForFinished(60'000));
    ASSERT_EQ(simulate.exitCode(), 0) << simulate.readAllStandardError().toStdString();

    chosen_file = copy_example(folder, QStringLiteral("three_genes.dat")).toStdString();
    click(kOpenButton);
    click(kInferButton);
    ASSERT_TRUE(wait_until_idle());
    const QByteArray matrix = contents(folder.filePath(QStringLiteral("GRN.dat")));
    const QByteArray graph = contents(folder.filePath(QStringLiteral("GRN.dot")));
    const QStringList before =
        QDir(folder.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);

    chosen_file = data.toStdString();
    click(kOpenButton);
    click(kInferButton);
    EXPECT_TRUE(shell.running());
    for (const int id : {kOpenButton, kAboutButton, kLambdaField, kThresholdField}) {
        EXPECT_FALSE(enabled(id)) << id;
    }
    EXPECT_TRUE(enabled(kExitButton));
    EXPECT_EQ(qobject_cast<QPushButton*>(dialog.control(kInferButton))->text(), "&Cancel");

    // Every distinct upper line seen while the loop turns; the selection's progress follows
    // the please-wait text.
    QStringList seen;
    int turns = 0;
    const bool selecting = QTest::qWaitFor(
        [&] {
            ++turns;
            if (seen.isEmpty() || seen.back() != text(kUpperStatusLine)) {
                seen << text(kUpperStatusLine);
            }
            // Any iteration: the line is refreshed a few times a second, so on a fast machine
            // it may skip from one iteration to a later one.
            return text(kUpperStatusLine).contains(QStringLiteral(", objective "));
        },
        120'000);
    ASSERT_TRUE(selecting) << seen.join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(shell.running());
    EXPECT_GE(seen.size(), 2) << seen.join(QLatin1Char('|')).toStdString();
    EXPECT_GT(turns, 10);
    for (const QString& line : seen) {
        EXPECT_TRUE(line.startsWith("Inferring the gene regulatory network, please wait! "))
            << line.toStdString();
    }
    // The bar has taken the note's place and counts the iterations; the elapsed time runs.
    auto* bar = qobject_cast<QProgressBar*>(dialog.control(kProgressBar));
    EXPECT_TRUE(bar->isVisible());
    EXPECT_FALSE(dialog.control(kRunNote)->isVisible());
    EXPECT_EQ(bar->maximum(), 100);
    EXPECT_TRUE(bar->text().startsWith("iteration ")) << bar->text().toStdString();
    EXPECT_TRUE(text(kElapsedTime).endsWith(" s")) << text(kElapsedTime).toStdString();
    // The progress is not clipped away: the upper line wraps into the room left below it,
    // above the middle line.
    auto* upper = qobject_cast<QLabel*>(dialog.control(kUpperStatusLine));
    EXPECT_LE(upper->heightForWidth(upper->width()), upper->height());
    EXPECT_LE(upper->geometry().bottom(), dialog.control(kMiddleStatusLine)->geometry().top());
    QTest::keyClick(dialog.window(), Qt::Key_Escape);
    ASSERT_TRUE(wait_until_idle());
    EXPECT_EQ(text(kUpperStatusLine), QString::fromUtf8(kCancelled.data(), kCancelled.size()));
    EXPECT_TRUE(enabled(kOpenButton));
    EXPECT_EQ(contents(folder.filePath(QStringLiteral("GRN.dat"))), matrix);
    EXPECT_EQ(contents(folder.filePath(QStringLiteral("GRN.dot"))), graph);
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), before);
    EXPECT_TRUE(messages.empty());
}

// Message boxes show their text as it is: markup from a data file is not rendered.
TEST(MessageBoxTest, TextIsPlainNotMarkup) {
    // An earlier test's window posted its quit request with no loop running; Qt then ends
    // every nested loop at once until the application's loop has run.
    QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();
    Qt::TextFormat format = Qt::RichText;
    QString shown;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        format = box->textFormat();
        shown = box->text();
        box->accept();
    });
    qt_platform().message_box(nullptr, "\"<h1>BIG<\" is not an integer, file x.dat", "Error");
    EXPECT_EQ(format, Qt::PlainText);
    EXPECT_EQ(shown, "\"<h1>BIG<\" is not an integer, file x.dat");
}

// A local file dropped on the window is chosen as Open would choose it.
TEST_F(MainWindowTest, DroppedFileIsChosen) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString file = copy_example(folder, QStringLiteral("dropped.dat"));
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(file)});
    const QPointF at(10, 10);
    QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(dialog.window(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(dialog.window(), &drop);
    EXPECT_EQ(text(kLowerStatusLine), "");  // chosen once the drop has ended
    EXPECT_TRUE(QTest::qWaitFor([&] { return text(kLowerStatusLine).trimmed() == file; }));
    EXPECT_EQ(text(kUpperStatusLine), "Status: Multiple Microarray Datasets are ready ");

    QMimeData folder_mime;  // a folder is no data file
    folder_mime.setUrls({QUrl::fromLocalFile(folder.path())});
    QDragEnterEvent refused(at.toPoint(), Qt::CopyAction, &folder_mime, Qt::LeftButton,
                            Qt::NoModifier);
    refused.setAccepted(false);
    QApplication::sendEvent(dialog.window(), &refused);
    EXPECT_FALSE(refused.isAccepted());
}

TEST_F(MainWindowTest, RestoringTheWindowRunsTheLayoutHandler) {
    dialog.window()->showMinimized();
    dialog.window()->showNormal();
    const int lower_x = dialog.control(kLowerStatusLine)->x();
    for (int again = 0; again < 3; ++again) {
        dialog.window()->showMinimized();
        dialog.window()->showNormal();
    }
    // Every size change places the lower status line where it stood: it does not creep.
    EXPECT_EQ(dialog.control(kLowerStatusLine)->x(), lower_x);
    const WindowMetrics metrics = dialog.metrics();
    const int m = 3 * metrics.caption_button_height / 4;
    const int h = 3 * metrics.caption_button_width / 4;
    // The client area is the template's; the strip under it is not the layout handler's.
    const Rect client = dialog.client_rect();
    const QRect open = dialog.control(kOpenButton)->geometry();
    const QRect exit = dialog.control(kExitButton)->geometry();
    const QRect lower = dialog.control(kLowerStatusLine)->geometry();
    EXPECT_EQ(open.topLeft(), QPoint(client.width - metrics.border_width - h - open.width(), m));
    EXPECT_EQ(exit.x(), open.x());
    EXPECT_EQ(exit.y(), client.height - m - open.height());
    EXPECT_EQ(lower.bottom() + 1, client.height - m);
    EXPECT_EQ(dialog.window()->height(),
              client.height + dialog.control(kInputSummary)->parentWidget()->height());
    // Nothing the layout moves overlaps the rows added beside the parameters.
    for (const int moved : {kOpenButton, kAboutButton, kExitButton, kLowerStatusLine}) {
        for (const int added : {kEngineLabel, kEngineList, kSeedLabel, kSeedField}) {
            EXPECT_FALSE(
                dialog.control(moved)->geometry().intersects(dialog.control(added)->geometry()))
                << moved << " " << added;
        }
    }
}

// A CSV and a DREAM file opened through the import dialog, set up as a user would, run with
// the window's engines and give the batch tool's GRN.dat and GRN.dot for the same arguments.
TEST_F(MainWindowTest, TablesThroughTheImportDialogGiveTheBatchToolsFiles) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString csv = folder.filePath(QStringLiteral("course1.csv"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(EXAMPLES_DIR "/five_genes_course1.csv"), csv));
    open_table(csv, [](importer::ImportDialog& import) {
        import.findChild<QComboBox*>(QStringLiteral("scale"))->setCurrentIndex(2);  // log2
    });
    EXPECT_EQ(text(kLowerStatusLine).trimmed(), csv);
    EXPECT_EQ(text(kInputSummary),
              "Read: 5 genes, 1 course of 6 time points (table, wide table, genes in rows, "
              "commas)");
    type(kThresholdField, "0.1");
    infer_and_wait();
    QTemporaryDir by_batch;
    batch({"--threshold", "0.1", "--scale", "log2", csv}, by_batch.path());
    expect_same_results(folder.path(), by_batch.path());

    // The public DREAM4 time series of 10 genes: five courses of 21 points without a time
    // column, a few values clipped to 0. Without the data, the bundled DREAM example.
    QString dream = QStringLiteral(DREAM_DIR "/dream4/timeseries/insilico_size10_1_timeseries.tsv");
    const bool public_data = QFile::exists(dream);
    const QString copy = folder.filePath(QStringLiteral("dream.tsv"));
    ASSERT_TRUE(QFile::copy(
        public_data ? dream : QStringLiteral(EXAMPLES_DIR "/five_genes_dream.tsv"), copy));
    const auto set_up = [public_data](importer::ImportDialog& import) {
        if (!public_data) return;
        import.findChild<QRadioButton*>(QStringLiteral("times_every"))->click();
        QTest::keyClicks(import.findChild<QLineEdit*>(QStringLiteral("interval")), "50");
        QTest::keyClicks(import.findChild<QLineEdit*>(QStringLiteral("points")), "21");
        import.findChild<QCheckBox*>(QStringLiteral("floor"))->setChecked(true);
    };
    const QStringList table_args =
        public_data ? QStringList{"--interval", "50", "--points", "21", "--floor", "0.001", copy}
                    : QStringList{copy};
    type(kThresholdField, "0.000001");
    open_table(copy, set_up);
    const int courses = shell.input_summary().courses();
    EXPECT_EQ(courses, public_data ? 5 : 2);
    select_engine("ensemble");
    EXPECT_EQ(text(kThresholdField), "0.75");
    type(kSeedField, "7");
    infer_and_wait();
    QTemporaryDir ensemble_batch;
    batch(QStringList{"--engine", "ensemble", "--seed", "7"} + table_args, ensemble_batch.path());
    expect_same_results(folder.path(), ensemble_batch.path());

    select_engine("exact");
    EXPECT_EQ(text(kThresholdField), "0.000001");
    if (public_data) {  // five courses: the exact engine says why it cannot before any run
        QFile::remove(folder.filePath(QStringLiteral("GRN.dat")));
        click(kInferButton);
        EXPECT_TRUE(text(kUpperStatusLine).startsWith("The exact engine takes at most 4 courses"))
            << text(kUpperStatusLine).toStdString();
        // Both places show the whole reason: the texts fit the room their labels have.
        for (const int line : {kUpperStatusLine, kRunNote}) {
            auto* label = qobject_cast<QLabel*>(dialog.control(line));
            EXPECT_LE(label->heightForWidth(label->width()), label->height()) << line;
        }
        EXPECT_FALSE(shell.running());
        EXPECT_FALSE(QFile::exists(folder.filePath(QStringLiteral("GRN.dat"))));
        open_table(copy, [&](importer::ImportDialog& import) {
            set_up(import);
            QTest::keyClicks(import.findChild<QLineEdit*>(QStringLiteral("courses")), "1-4");
        });
    }
    infer_and_wait();
    QTemporaryDir exact_batch;
    QStringList exact_args = table_args;
    if (public_data) exact_args = QStringList{"--courses", "1-4"} + exact_args;
    batch(exact_args, exact_batch.path());
    expect_same_results(folder.path(), exact_batch.path());
    EXPECT_TRUE(messages.empty()) << messages.front();
}

// Every engine of the list, chosen in the window, writes what the batch tool writes with the
// same engine, seed, lambda and threshold.
TEST_F(MainWindowTest, EachEngineGivesTheBatchToolsFiles) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString data = folder.filePath(QStringLiteral("twenty_genes.dat"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(EXAMPLES_DIR "/twenty_genes.dat"), data));
    chosen_file = data.toStdString();
    click(kOpenButton);
    EXPECT_EQ(text(kInputSummary),
              "Read: 20 genes, 3 courses of 8, 10 and 12 time points (data file)");
    for (const inference::EngineDescription& engine : inference::engines()) {
        select_engine(engine.name);
        type(kLambdaField, "0.1");
        type(kThresholdField, "0.05");
        QStringList args{"--engine",    QString::fromUtf8(engine.name.data(), engine.name.size()),
                         "--lambda",    "0.1",
                         "--threshold", "0.05"};
        if (engine.uses_seed) {
            type(kSeedField, "11");
            args << "--seed"
                 << "11";
        }
        infer_and_wait();
        QTemporaryDir by_batch;
        batch(args << data, by_batch.path());
        SCOPED_TRACE(std::string(engine.name));
        expect_same_results(folder.path(), by_batch.path());
    }
}

// 1e400 (after 1e40, which parsed while it was typed), an emptied field and a decimal comma
// each stop Infer with the field named, marked and focused; nothing runs, nothing is written.
TEST_F(MainWindowTest, FieldsThatDoNotParseRunNothing) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    chosen_file = copy_example(folder, QStringLiteral("three_genes.dat")).toStdString();
    click(kOpenButton);
    struct Case {
        int field;
        QString keys;
        QString named;
    };
    for (const Case& c : {Case{kLambdaField, "1e400", "Lambda"}, Case{kLambdaField, "", "Lambda"},
                          Case{kThresholdField, "0,39", "threshold"}}) {
        if (c.keys.isEmpty()) type(c.field, "0.5");
        type(c.field, c.keys);
        dialog.control(kOpenButton)->setFocus();
        click(kInferButton);
        EXPECT_FALSE(shell.running());
        EXPECT_TRUE(
            text(kUpperStatusLine).startsWith("The input of " + c.named + " is not proper! "))
            << text(kUpperStatusLine).toStdString();
        EXPECT_TRUE(text(kUpperStatusLine).endsWith("; nothing was run."));
        auto* upper = qobject_cast<QLabel*>(dialog.control(kUpperStatusLine));
        EXPECT_LE(upper->heightForWidth(upper->width()), upper->height());  // shown whole
        EXPECT_TRUE(dialog.control(c.field)->hasFocus());
        EXPECT_FALSE(dialog.control(c.field)->styleSheet().isEmpty());
        EXPECT_FALSE(QFile::exists(folder.filePath(QStringLiteral("GRN.dat"))));
        type(c.field, c.field == kLambdaField ? "0.0" : "0.000001");
    }
    EXPECT_EQ(text(kThresholdField), "0.000001");
}

// A data folder the results cannot be written to: the window says why, offers another folder
// and runs there; the data folder stays untouched and the files equal the batch tool's.
TEST_F(MainWindowTest, ReadOnlyDataFolderLeadsToAnotherFolder) {
    QTemporaryDir share;
    QTemporaryDir elsewhere;
    ASSERT_TRUE(share.isValid() && elsewhere.isValid());
    const QString data = copy_example(share, QStringLiteral("three_genes.dat"));
    // Write permission goes for everyone; as root only an immutable folder refuses new files.
    const bool root = ::geteuid() == 0;
    ASSERT_TRUE(QFile::setPermissions(share.path(), QFile::ReadOwner | QFile::ExeOwner));
    const bool immutable = root && QProcess::execute(QStringLiteral("chattr"),
                                                     {QStringLiteral("+i"), share.path()}) == 0;
    struct Restore {
        QString path;
        bool immutable;
        ~Restore() {
            if (immutable)
                QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), path});
            QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
    } restore{share.path(), immutable};
    const std::string problem = results_folder_problem(share.path().toStdString());
    if (problem.empty()) GTEST_SKIP() << "the folder stays writable here (root without chattr)";
    EXPECT_EQ(problem.rfind("cannot create " + share.path().toStdString() + "/.GRN.lock: ", 0), 0u)
        << problem;

    chosen_file = data.toStdString();
    click(kOpenButton);
    answer = false;
    click(kInferButton);
    EXPECT_FALSE(shell.running());
    EXPECT_EQ(text(kUpperStatusLine).toStdString(),
              "No folder for the results: " + problem + "; nothing was run.");
    answer = true;
    chosen_folder = elsewhere.path().toStdString();
    infer_and_wait();
    ASSERT_EQ(questions.size(), 2u);
    EXPECT_NE(questions[1].find(problem), std::string::npos) << questions[1];
    EXPECT_EQ(text(kRunNote).toStdString().substr(text(kRunNote).indexOf(" are in ") + 8),
              elsewhere.path().toStdString());
    EXPECT_EQ(QDir(share.path()).entryList(QDir::Files | QDir::Hidden),
              QStringList{"three_genes.dat"});
    QTemporaryDir by_batch;
    batch({data}, by_batch.path());
    expect_same_results(elsewhere.path(), by_batch.path());
    infer_and_wait();  // remembered for the session: no second question
    EXPECT_EQ(questions.size(), 2u);
}

// The question whether to stop a run closes by itself when the run ends meanwhile; the window
// stays open and reports the finished run.
TEST_F(MainWindowTest, ExitQuestionClosesWhenTheRunEnds) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString data = folder.filePath(QStringLiteral("eighty_genes.dat"));
    QProcess simulate;
    simulate.start(
        QStringLiteral(SIMULATE_PATH),
        {"--genes", "80", "--courses", "4", "--points", "12", "--seed", "5", "--input",
         "--out-data", data, "--out-truth", folder.filePath(QStringLiteral("truth.tsv"))});
    ASSERT_TRUE(simulate.waitForFinished(60'000));
    chosen_file = data.toStdString();
    click(kOpenButton);
    click(kInferButton);
    ASSERT_TRUE(shell.running());
    bool box_seen = false;
    QTimer::singleShot(100, [&] { box_seen = QApplication::activeModalWidget() != nullptr; });
    QTimer watchdog;  // a question that stays open fails the test instead of hanging it
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            box->done(QMessageBox::No);
        }
    });
    watchdog.start(120'000);
    click(kExitButton);  // returns when the question has closed
    EXPECT_TRUE(watchdog.isActive()) << "the question did not close by itself";
    watchdog.stop();
    EXPECT_TRUE(box_seen);
    EXPECT_FALSE(shell.running());
    EXPECT_TRUE(dialog.window()->isVisible());
    EXPECT_EQ(text(kUpperStatusLine), "The computation is finished! ");
    ASSERT_EQ(questions.size(), 1u);
}

TEST_F(MainWindowTest, ScreenshotAfterAbout) {
    click(kAboutButton);
    const QPixmap shot = dialog.window()->grab();
    EXPECT_EQ(shot.size(), dialog.window()->size());
    EXPECT_TRUE(shot.save(QStringLiteral(SCREENSHOT_PATH))) << SCREENSHOT_PATH;
}

// The whole program on the real window: the event loop ends with code 0 when the window goes.
class EventLoopTest : public ::testing::TestWithParam<bool> {};

TEST_P(EventLoopTest, ClosingTheWindowEndsTheLoopWithCodeZero) {
    const bool by_close_box = GetParam();
    Platform platform = qt_platform();
    QtDialog* created = nullptr;
    platform.create_dialog = [&](const DialogTemplate& dialog_template) {
        auto dialog = std::make_unique<QtDialog>(dialog_template);
        created = dialog.get();
        return std::unique_ptr<Dialog>(std::move(dialog));
    };
    QTimer::singleShot(0, [&] {
        if (by_close_box) {
            created->window()->close();
        } else {
            QTest::mouseClick(created->control(kExitButton), Qt::LeftButton);
        }
    });
    QTimer watchdog;  // a window that does not close fails the test instead of hanging it
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    watchdog.start(10'000);
    EXPECT_EQ(run_application(platform), 0);
}

INSTANTIATE_TEST_SUITE_P(ExitButtonAndCloseBox, EventLoopTest, ::testing::Values(false, true));

// The file named on the command line is chosen before the loop starts.
TEST(FileArgumentTest, FileArgumentIsChosenAtStartUp) {
    const fs::path saved = fs::current_path();
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString file = folder.filePath(QStringLiteral("argument.dat"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(EXAMPLES_DIR "/three_genes.dat"), file));
    Platform platform = qt_platform();
    QtDialog* created = nullptr;
    platform.create_dialog = [&](const DialogTemplate& dialog_template) {
        auto dialog = std::make_unique<QtDialog>(dialog_template);
        created = dialog.get();
        return std::unique_ptr<Dialog>(std::move(dialog));
    };
    QString shown;
    QTimer::singleShot(0, [&] {
        shown = qobject_cast<QLabel*>(created->control(kLowerStatusLine))->text();
        created->window()->close();
    });
    EXPECT_EQ(run_application(platform, file.toStdString()), 0);
    EXPECT_EQ(shown.trimmed(), file);
    EXPECT_TRUE(fs::equivalent(fs::current_path(), folder.path().toStdString()));
    fs::current_path(saved);
}

// QApplication for the whole run, made after test discovery so that listing needs no display.
class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        application_ = std::make_unique<QApplication>(argc_, argv_);
        std::setlocale(LC_NUMERIC, "C");
    }
    void TearDown() override { application_.reset(); }

private:
    int argc_ = 1;
    char name_[16] = "app_gui_tests";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> application_;
};

}  // namespace
}  // namespace netrevia::app

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    ::testing::AddGlobalTestEnvironment(new netrevia::app::QtEnvironment);
    return RUN_ALL_TESTS();
}
