#include "app/qt_dialog.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFont>
#include <QFontMetrics>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>
#include <QShortcut>
#include <QStringList>
#include <QStyle>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <QWidget>
#include <algorithm>
#include <functional>
#include <utility>

namespace netrevia::app {
namespace {

QString to_qstring(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QWidget* widget_of(Dialog* dialog) {
    auto* qt_dialog = dynamic_cast<QtDialog*>(dialog);
    return qt_dialog ? qt_dialog->window() : nullptr;
}

}  // namespace

class QtDialog::Window final : public QWidget {
public:
    explicit Window(QtDialog& owner)
        : QWidget(nullptr,
                  Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                      Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
          owner_(owner) {}

protected:
    // The close box (and the window manager's close command) asks the shell; without a
    // handler the window is destroyed for good. Either way Qt itself closes nothing.
    void closeEvent(QCloseEvent* event) override {
        event->ignore();
        owner_.deliver(kWindowId, EventKind::close_requested);
    }
    // A local file dragged onto the window is offered as the data file.
    void dragEnterEvent(QDragEnterEvent* event) override {
        if (!dropped_file(event->mimeData()).isEmpty()) event->acceptProposedAction();
    }
    void dropEvent(QDropEvent* event) override {
        const QString file = dropped_file(event->mimeData());
        if (file.isEmpty()) return;
        event->acceptProposedAction();
        owner_.deliver_drop(QFile::encodeName(file).toStdString());
    }
    void resizeEvent(QResizeEvent* event) override {
        QWidget::resizeEvent(event);
        // The first sizing happens while the window is built, before anyone could listen.
        if (event->oldSize().isValid() && event->oldSize() != event->size()) {
            owner_.deliver(kWindowId, EventKind::size_changed);
        }
    }
    void changeEvent(QEvent* event) override {
        QWidget::changeEvent(event);
        if (event->type() == QEvent::WindowStateChange) {
            owner_.deliver(kWindowId, EventKind::size_changed);
        }
    }

private:
    // The first URL of a drop when it names a local file; folders and remote URLs are refused.
    static QString dropped_file(const QMimeData* data) {
        if (data == nullptr || !data->hasUrls() || data->urls().isEmpty()) return {};
        const QUrl url = data->urls().front();
        if (!url.isLocalFile() || !QFileInfo(url.toLocalFile()).isFile()) return {};
        return url.toLocalFile();
    }

    QtDialog& owner_;
};

QtDialog::QtDialog(const DialogTemplate& dialog_template)
    : DialogCore(dialog_template), window_(std::make_unique<Window>(*this)) {
    QFont font(to_qstring(dialog_template.font_name), dialog_template.font_points);
    font.setStyleHint(QFont::SansSerif);  // the named face may be missing; keep its kind
    window_->setFont(font);
    window_->setWindowTitle(to_qstring(dialog_template.title));

    // Dialog base units of the font: the average width of the 52 Latin letters, rounded,
    // and the full character height.
    const QFontMetrics font_metrics(font);
    const int letters_width =
        font_metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                                      "abcdefghijklmnopqrstuvwxyz"));
    const int avg_char_width = (letters_width / 26 + 1) / 2;
    const int char_height = font_metrics.height();

    for (const ControlTemplate& control : dialog_template.controls) {
        QWidget* widget = nullptr;
        const int id = control.id;
        switch (control.kind) {
            case ControlKind::push_button: {
                auto* button = new QPushButton(to_qstring(control.text), window_.get());
                button->setDefault((control.style & kDefaultButton) != 0);
                QObject::connect(button, &QPushButton::clicked, window_.get(),
                                 [this, id] { deliver(id, EventKind::clicked); });
                widget = button;
                break;
            }
            case ControlKind::edit_field: {
                auto* edit = new QLineEdit(to_qstring(control.text), window_.get());
                edit->setFrame((control.style & kBorder) != 0);
                QObject::connect(edit, &QLineEdit::textChanged, window_.get(),
                                 [this, id] { deliver(id, EventKind::text_changed); });
                widget = edit;
                break;
            }
            case ControlKind::static_text: {
                // Plain text: a path or a message is shown as it is, never as markup.
                auto* label = new QLabel(to_qstring(control.text), window_.get());
                label->setTextFormat(Qt::PlainText);
                label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
                widget = label;
                break;
            }
        }
        if (control.kind != ControlKind::static_text) {
            widget->setFocusPolicy((control.style & kTabStop) != 0 ? Qt::StrongFocus
                                                                   : Qt::ClickFocus);
        }
        Rect r = to_pixels(control.rect, avg_char_width, char_height);
        if (auto* label = qobject_cast<QLabel*>(widget); label && (control.style & kWrapBelow)) {
            // A progress text or an error message naming a file is longer than the line.
            label->setWordWrap(true);
            r.height *= 2;
        }
        widget->setGeometry(r.x, r.y, r.width, r.height);
        controls_[id] = widget;
    }

    // Esc reaches the window from every control, disabled ones included.
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), window_.get());
    escape->setContext(Qt::WindowShortcut);
    QObject::connect(escape, &QShortcut::activated, window_.get(),
                     [this] { deliver(kWindowId, EventKind::escape); });
    window_->setAcceptDrops(true);

    // No sizing border: the client area keeps the template's size.
    const Rect r = to_pixels(dialog_template.rect, avg_char_width, char_height);
    window_->move(r.x, r.y);
    window_->setFixedSize(r.width, r.height);
}

QtDialog::~QtDialog() { destroy(); }

void QtDialog::deliver(int id, EventKind kind) noexcept { dispatch(id, kind); }

void QtDialog::deliver_drop(std::string file) noexcept { drop_file(std::move(file)); }

void QtDialog::set_enabled(int id, bool enabled) {
    if (QWidget* widget = control(id)) widget->setEnabled(enabled);
}

bool QtDialog::show() {
    if (destroyed()) return false;
    if (!shown_) {
        shown_ = true;
        deliver(kWindowId, EventKind::initialised);
    }
    window_->show();
    window_->activateWindow();
    return true;
}

WindowMetrics QtDialog::metrics() const {
    const QStyle* style = window_->style();
    int button = style->pixelMetric(QStyle::PM_TitleBarButtonSize, nullptr, window_.get());
    if (button <= 0) button = style->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, window_.get());
    // The border is the width of the frame's left side: the layout handler places the lower
    // status line at its screen x less this width and the frame's left edge, which must give
    // back its own x, or the line would creep sideways with every size change.
    const int border = std::max(0, window_->geometry().x() - window_->frameGeometry().x());
    return {button, button, border};
}

Rect QtDialog::window_rect() const {
    const QRect frame = window_->frameGeometry();
    return {frame.x(), frame.y(), frame.width(), frame.height()};
}

Rect QtDialog::client_rect() const { return {0, 0, window_->width(), window_->height()}; }

Rect QtDialog::control_rect(int id) const {
    const QWidget* widget = control(id);
    if (widget == nullptr) return id == kWindowId ? window_rect() : Rect{};
    const QPoint origin = widget->mapToGlobal(QPoint(0, 0));
    return {origin.x(), origin.y(), widget->width(), widget->height()};
}

void QtDialog::move_control(int id, const Rect& rect) {
    if (QWidget* widget = control(id)) widget->setGeometry(rect.x, rect.y, rect.width, rect.height);
}

QWidget* QtDialog::window() const noexcept { return window_.get(); }

QWidget* QtDialog::control(int id) const noexcept {
    const auto found = controls_.find(id);
    return found == controls_.end() ? nullptr : found->second;
}

void QtDialog::apply_text(int id, std::string_view text) {
    const QString qtext = to_qstring(text);
    if (id == kWindowId) {
        window_->setWindowTitle(qtext);
    } else if (auto* edit = qobject_cast<QLineEdit*>(control(id))) {
        edit->setText(qtext);
    } else if (auto* button = qobject_cast<QPushButton*>(control(id))) {
        button->setText(qtext);
    } else if (auto* label = qobject_cast<QLabel*>(control(id))) {
        label->setText(qtext);
    }
}

std::string QtDialog::control_text(int id) const {
    QString text;
    if (id == kWindowId) {
        text = window_->windowTitle();
    } else if (const auto* edit = qobject_cast<const QLineEdit*>(control(id))) {
        text = edit->text();
    } else if (const auto* button = qobject_cast<const QPushButton*>(control(id))) {
        text = button->text();
    } else if (const auto* label = qobject_cast<const QLabel*>(control(id))) {
        text = label->text();
    }
    return text.toStdString();
}

void QtDialog::tear_down() {
    // Hidden, not deleted: this may run inside one of the window's own events. The widgets
    // go with this object.
    window_->hide();
}

namespace {

// How often a running job's tick comes: a few times a second, so progress texts do not flood
// the window.
constexpr int kTickMilliseconds = 250;

// A worker thread with a tick timer on the window's thread. done comes from the thread's
// finished signal, delivered on the window's thread because context_ lives there.
class QtBackgroundJob final : public BackgroundJob {
public:
    QtBackgroundJob(std::function<void()> work,
                    std::function<void()> tick,
                    std::function<void()> done)
        : thread_(QThread::create(std::move(work))) {
        timer_.setInterval(kTickMilliseconds);
        QObject::connect(&timer_, &QTimer::timeout, &context_, std::move(tick));
        QObject::connect(thread_.get(), &QThread::finished, &context_,
                         [this, done = std::move(done)] {
                             timer_.stop();
                             done();
                         });
        timer_.start();
        thread_->start();
    }
    ~QtBackgroundJob() override {
        QObject::disconnect(thread_.get(), nullptr, &context_, nullptr);
        timer_.stop();
        thread_->wait();
    }
    QtBackgroundJob(const QtBackgroundJob&) = delete;
    QtBackgroundJob& operator=(const QtBackgroundJob&) = delete;

private:
    QObject context_;
    QTimer timer_;
    std::unique_ptr<QThread> thread_;
};

}  // namespace

Platform qt_platform() {
    Platform platform;
    platform.create_dialog = [](const DialogTemplate& dialog_template) -> std::unique_ptr<Dialog> {
        if (QGuiApplication::primaryScreen() == nullptr) return nullptr;
        return std::make_unique<QtDialog>(dialog_template);
    };
    platform.run_message_loop = [] {
        // Only the quit request ends the loop, not the last window going away.
        QApplication::setQuitOnLastWindowClosed(false);
        return QApplication::exec();
    };
    platform.post_quit = [](int exit_code) { QCoreApplication::exit(exit_code); };
    platform.choose_file = [](Dialog& owner, const std::vector<FileFilter>& filters,
                              const std::string& start_folder) -> std::optional<std::string> {
        // Qt reads a filter's patterns from the last parentheses of its text and, with
        // HideNameFilterDetails, shows the name alone. "*.*" means every file, which here
        // is "*": many file names have no dot.
        QStringList entries;
        for (const FileFilter& filter : filters) {
            const QString pattern =
                filter.pattern == "*.*" ? QStringLiteral("*") : to_qstring(filter.pattern);
            entries << to_qstring(filter.name) + QStringLiteral(" (") + pattern + QLatin1Char(')');
        }
        QString selected = entries.isEmpty() ? QString() : entries.front();
        const QString file = QFileDialog::getOpenFileName(
            widget_of(&owner), QString(),
            QFile::decodeName(QByteArray::fromStdString(start_folder)),
            entries.join(QStringLiteral(";;")), &selected, QFileDialog::HideNameFilterDetails);
        if (file.isEmpty()) return std::nullopt;
        return QFile::encodeName(file).toStdString();
    };
    platform.message_box = [](Dialog* owner, std::string_view text, std::string_view caption) {
        QMessageBox box(QMessageBox::NoIcon, to_qstring(caption), to_qstring(text), QMessageBox::Ok,
                        widget_of(owner));
        box.setTextFormat(Qt::PlainText);  // texts from data files must not render as markup
        box.exec();
    };
    platform.ask_yes_no = [](Dialog& owner, std::string_view text, std::string_view caption) {
        QMessageBox box(QMessageBox::Question, to_qstring(caption), to_qstring(text),
                        QMessageBox::Yes | QMessageBox::No, widget_of(&owner));
        box.setTextFormat(Qt::PlainText);
        box.setDefaultButton(QMessageBox::No);
        return box.exec() == QMessageBox::Yes;
    };
    platform.run_inference = run_inference_in_working_directory;
    platform.start_background = [](std::function<void()> work, std::function<void()> tick,
                                   std::function<void()> done) -> std::unique_ptr<BackgroundJob> {
        return std::make_unique<QtBackgroundJob>(std::move(work), std::move(tick), std::move(done));
    };
    return platform;
}

}  // namespace netrevia::app
