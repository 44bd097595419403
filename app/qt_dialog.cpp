#include "app/qt_dialog.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFont>
#include <QFontMetrics>
#include <QFrame>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>
#include <QShortcut>
#include <QSignalBlocker>
#include <QStringList>
#include <QStyle>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <QVariant>
#include <QWidget>
#include <algorithm>
#include <functional>
#include <memory>
#include <utility>

#include "importer/import_dialog.h"

namespace netrevia::app {
namespace {

// The whole text of an elided label, kept on the label.
constexpr const char* kWholeText = "netrevia_whole_text";

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
    // The file is handed on once the drop has ended: its handler may open a dialog (a table's
    // import), which must not hold the program the file came from in its drag.
    void dropEvent(QDropEvent* event) override {
        const QString file = dropped_file(event->mimeData());
        if (file.isEmpty()) return;
        event->acceptProposedAction();
        QTimer::singleShot(0, this, [this, name = QFile::encodeName(file).toStdString()] {
            owner_.deliver_drop(name);
        });
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

    // The client area the template describes, and the strip under it.
    const Rect client_area = to_pixels(dialog_template.rect, avg_char_width, char_height);
    const int strip_height =
        to_pixels({0, 0, 0, dialog_template.strip_height}, avg_char_width, char_height).height;
    client_ = new QWidget(window_.get());
    client_->setGeometry(0, 0, client_area.width, client_area.height);
    QWidget* strip = new QWidget(window_.get());
    strip->setGeometry(0, client_area.height, client_area.width, strip_height);
    if (strip_height > 0) {
        auto* rule = new QFrame(strip);  // sets the strip apart from the template's own area
        rule->setFrameShape(QFrame::HLine);
        rule->setFrameShadow(QFrame::Sunken);
        rule->setGeometry(0, 0, client_area.width, 2);
    }

    for (const ControlTemplate& control : dialog_template.controls) {
        QWidget* widget = nullptr;
        QWidget* parent = (control.style & kBelowClientArea) != 0 ? strip : client_;
        const int id = control.id;
        switch (control.kind) {
            case ControlKind::push_button: {
                auto* button = new QPushButton(to_qstring(control.text), parent);
                button->setDefault((control.style & kDefaultButton) != 0);
                QObject::connect(button, &QPushButton::clicked, window_.get(),
                                 [this, id] { deliver(id, EventKind::clicked); });
                widget = button;
                break;
            }
            case ControlKind::edit_field: {
                auto* edit = new QLineEdit(to_qstring(control.text), parent);
                edit->setFrame((control.style & kBorder) != 0);
                QObject::connect(edit, &QLineEdit::textChanged, window_.get(),
                                 [this, id] { deliver(id, EventKind::text_changed); });
                widget = edit;
                break;
            }
            case ControlKind::static_text: {
                // Plain text: a path or a message is shown as it is, never as markup.
                auto* label = new QLabel(to_qstring(control.text), parent);
                label->setTextFormat(Qt::PlainText);
                label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
                widget = label;
                break;
            }
            case ControlKind::drop_down_list: {
                auto* list = new QComboBox(parent);
                QObject::connect(list, &QComboBox::currentIndexChanged, window_.get(),
                                 [this, id] { deliver(id, EventKind::selection_changed); });
                widget = list;
                break;
            }
            case ControlKind::progress_bar: {
                auto* bar = new QProgressBar(parent);
                bar->setTextVisible(true);
                bar->setAlignment(Qt::AlignCenter);
                widget = bar;
                break;
            }
        }
        if (control.kind != ControlKind::static_text && control.kind != ControlKind::progress_bar) {
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
        if ((control.style & kHidden) != 0) widget->hide();
        controls_[id] = widget;
    }

    // Esc reaches the window from every control, disabled ones included.
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), window_.get());
    escape->setContext(Qt::WindowShortcut);
    QObject::connect(escape, &QShortcut::activated, window_.get(),
                     [this] { deliver(kWindowId, EventKind::escape); });
    window_->setAcceptDrops(true);

    // No sizing border: the client area keeps the template's size.
    window_->move(client_area.x, client_area.y);
    window_->setFixedSize(client_area.width, client_area.height + strip_height);
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

Rect QtDialog::client_rect() const { return {0, 0, client_->width(), client_->height()}; }

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
        const ControlTemplate* shape = dialog_template().find(id);
        if (shape != nullptr && (shape->style & kElide) != 0) {
            // The whole text stays readable as the tool tip and is what control_text reads.
            const QString shown =
                label->fontMetrics().elidedText(qtext, Qt::ElideRight, label->width());
            label->setText(shown);
            label->setToolTip(shown == qtext ? QString() : qtext);
            label->setProperty(kWholeText, qtext);
        } else {
            label->setText(qtext);
        }
    } else if (auto* bar = qobject_cast<QProgressBar*>(control(id))) {
        bar->setFormat(QString(qtext).replace(QLatin1Char('%'), QStringLiteral("%%")));
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
        const QVariant whole = label->property(kWholeText);
        text = whole.isValid() ? whole.toString() : label->text();
    } else if (const auto* bar = qobject_cast<const QProgressBar*>(control(id))) {
        text = bar->format().replace(QStringLiteral("%%"), QStringLiteral("%"));
    } else if (const auto* list = qobject_cast<const QComboBox*>(control(id))) {
        text = list->currentText();
    }
    return text.toStdString();
}

void QtDialog::set_items(int id, const std::vector<std::string>& items) {
    auto* list = qobject_cast<QComboBox*>(control(id));
    if (list == nullptr) return;
    const QSignalBlocker quiet(list);  // filling the list is no pick
    list->clear();
    for (const std::string& item : items) list->addItem(to_qstring(item));
    list->setCurrentIndex(-1);
}

void QtDialog::select_item(int id, int index) {
    if (auto* list = qobject_cast<QComboBox*>(control(id))) list->setCurrentIndex(index);
}

int QtDialog::selected_item(int id) const {
    const auto* list = qobject_cast<const QComboBox*>(control(id));
    return list == nullptr ? -1 : list->currentIndex();
}

void QtDialog::set_progress(int id, int value, int maximum) {
    if (auto* bar = qobject_cast<QProgressBar*>(control(id))) {
        bar->setRange(0, std::max(0, maximum));
        bar->setValue(maximum > 0 ? std::clamp(value, 0, maximum) : 0);
    }
}

void QtDialog::set_visible(int id, bool visible) {
    if (QWidget* widget = control(id)) widget->setVisible(visible);
}

void QtDialog::set_marked(int id, bool marked) {
    QWidget* widget = control(id);
    if (qobject_cast<QLineEdit*>(widget) != nullptr) {
        // A red frame on a pale red ground: plain to see on every style and in black and white.
        widget->setStyleSheet(marked ? QStringLiteral("QLineEdit { border: 2px solid #c00000; "
                                                      "background: #fff0f0; color: black; }")
                                     : QString());
    } else if (qobject_cast<QLabel*>(widget) != nullptr) {
        widget->setStyleSheet(marked ? QStringLiteral("QLabel { color: #b00000; }") : QString());
    }
}

void QtDialog::set_focus(int id) {
    if (QWidget* widget = control(id)) widget->setFocus(Qt::OtherFocusReason);
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
    // The open question, for dismiss_question; the box lives on the stack of ask_yes_no.
    auto open_question = std::make_shared<QPointer<QMessageBox>>();
    platform.ask_yes_no = [open_question](Dialog& owner, std::string_view text,
                                          std::string_view caption) {
        QMessageBox box(QMessageBox::Question, to_qstring(caption), to_qstring(text),
                        QMessageBox::Yes | QMessageBox::No, widget_of(&owner));
        box.setTextFormat(Qt::PlainText);
        box.setDefaultButton(QMessageBox::No);
        *open_question = &box;
        const bool yes = box.exec() == QMessageBox::Yes;
        *open_question = nullptr;
        return yes;
    };
    platform.dismiss_question = [open_question] {
        if (QMessageBox* box = open_question->data()) box->done(QMessageBox::No);
    };
    platform.choose_folder = [](Dialog& owner,
                                const std::string& start_folder) -> std::optional<std::string> {
        const QString start = start_folder.empty()
                                  ? QDir::homePath()
                                  : QFile::decodeName(QByteArray::fromStdString(start_folder));
        const QString folder = QFileDialog::getExistingDirectory(
            widget_of(&owner), QObject::tr("Folder for GRN.dat and GRN.dot"), start);
        if (folder.isEmpty()) return std::nullopt;
        return QFile::encodeName(folder).toStdString();
    };
    platform.import_table = [](Dialog& owner, const std::string& file,
                               const std::string& data_file_problem) {
        return importer::choose_table(widget_of(&owner),
                                      QFile::decodeName(QByteArray::fromStdString(file)),
                                      QString::fromStdString(data_file_problem));
    };
    platform.run_inference = run_request;
    platform.start_background = [](std::function<void()> work, std::function<void()> tick,
                                   std::function<void()> done) -> std::unique_ptr<BackgroundJob> {
        return std::make_unique<QtBackgroundJob>(std::move(work), std::move(tick), std::move(done));
    };
    return platform;
}

}  // namespace netrevia::app
