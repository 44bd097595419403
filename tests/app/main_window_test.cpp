// The real window under Qt's offscreen platform: start-up, the commands, typing into the
// fields, the layout handler, the end of the event loop, and a screenshot for inspection.
#include <gtest/gtest.h>

#include <QApplication>
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
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <clocale>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/dialog_template.h"
#include "app/qt_dialog.h"
#include "app/shell.h"

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

    Platform platform() {
        Platform p = qt_platform();
        p.choose_file = [this](Dialog&, const std::vector<FileFilter>&, const std::string&) {
            return chosen_file;
        };
        p.message_box = [this](Dialog*, std::string_view text, std::string_view caption) {
            messages.push_back(std::string(caption) + ": " + std::string(text));
        };
        return p;
    }

    Shell shell{platform()};
    QtDialog dialog{main_window_template()};

    void SetUp() override {
        shell.attach(dialog);
        ASSERT_TRUE(dialog.show());
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.window()));
    }
    void TearDown() override { fs::current_path(saved_working_directory); }

    QString text(int id) const {
        QWidget* widget = dialog.control(id);
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

TEST_F(MainWindowTest, TypedLambdaIsEchoedAndAnInvalidTextKeepsTheLastValue) {
    type(kLambdaField, "1e-3");
    EXPECT_EQ(text(kMiddleStatusLine), "1.000000000000000E-003");
    EXPECT_EQ(text(kUpperStatusLine), "");

    QTest::keyClicks(dialog.control(kLambdaField), "x");  // "1e-3x"
    EXPECT_EQ(text(kUpperStatusLine), "The input of Lambda is not proper!");
    EXPECT_EQ(text(kMiddleStatusLine), "");
    EXPECT_EQ(shell.parameters().lambda(), 1.0e-3);

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
    const QString bad = folder.filePath(QStringLiteral("notes.txt"));
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
    EXPECT_NE(text(kUpperStatusLine).indexOf(QStringLiteral("notes.txt")), -1);
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
    EXPECT_EQ(text(kLowerStatusLine).trimmed(), file);
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
    const QWidget* window = dialog.window();
    const QRect open = dialog.control(kOpenButton)->geometry();
    const QRect exit = dialog.control(kExitButton)->geometry();
    const QRect lower = dialog.control(kLowerStatusLine)->geometry();
    EXPECT_EQ(open.topLeft(), QPoint(window->width() - metrics.border_width - h - open.width(), m));
    EXPECT_EQ(exit.x(), open.x());
    EXPECT_EQ(exit.y(), window->height() - m - open.height());
    EXPECT_EQ(lower.bottom() + 1, window->height() - m);
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
