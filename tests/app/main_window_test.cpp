// The real window under Qt's offscreen platform: start-up, the commands, typing into the
// fields, the layout handler, the end of the event loop, and a screenshot for inspection.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
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
        p.choose_file = [this](Dialog&, const std::vector<FileFilter>&) { return chosen_file; };
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
    EXPECT_EQ(text(kUpperStatusLine), "The computation is finished! ");
    EXPECT_EQ(text(kMiddleStatusLine), "Please check the output files in working directory!");
    EXPECT_EQ(text(kLowerStatusLine), "");
    EXPECT_TRUE(messages.empty()) << messages.front();
    EXPECT_TRUE(QFile::exists(folder.filePath(QStringLiteral("GRN.dat"))));
    EXPECT_TRUE(QFile::exists(folder.filePath(QStringLiteral("GRN.dot"))));
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
