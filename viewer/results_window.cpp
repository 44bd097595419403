#include "viewer/results_window.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QDockWidget>
#include <QDoubleSpinBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGraphicsItem>
#include <QGraphicsScene>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QImage>
#include <QItemSelectionModel>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSaveFile>
#include <QScreen>
#include <QScrollArea>
#include <QSettings>
#include <QSlider>
#include <QSpinBox>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QSvgGenerator>
#include <QTableView>
#include <QToolBar>
#include <QUrl>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <exception>
#include <limits>
#include <new>

#include "inference/engines.h"
#include "output/atomic_file.h"
#include "output/io_error.h"
#include "output/result_folder.h"
#include "viewer/edge_table_model.h"
#include "viewer/network_view.h"

namespace netrevia::viewer {

namespace {

constexpr int kSliderSteps = 1000;
constexpr int kDefaultTop = 50;
constexpr int kLargestPicture = 16384;  // pixels along either side of a PNG
constexpr int kResolutions[] = {96, 150, 300, 600};
constexpr int kDefaultResolution = 150;
constexpr int kMessageMilliseconds = 10000;
constexpr double kPointsPerInch = 72.0;

const char* const kSettingsGroup = "results_window";

QSettings settings() { return QSettings(QStringLiteral("Netrevia"), QStringLiteral("Netrevia")); }

QString to_qstring(const std::filesystem::path& path) {
    return QFile::decodeName(QByteArray::fromStdString(path.string()));
}

std::filesystem::path to_path(const QString& text) {
    return std::filesystem::path(QFile::encodeName(text).toStdString());
}

QString number_text(double x) { return QLocale::c().toString(x, 'g', 6); }

// A threshold: six significant digits in the C locale, as the batch tool prints and reads it.
class ThresholdBox final : public QDoubleSpinBox {
public:
    explicit ThresholdBox(QWidget* parent) : QDoubleSpinBox(parent) {
        setLocale(QLocale::c());
        setDecimals(15);
        setRange(0.0, 1.0e300);
        setStepType(QAbstractSpinBox::AdaptiveDecimalStepType);
        setKeyboardTracking(false);  // a cut per finished number, not per keystroke
        setAccelerated(true);
    }

protected:
    QString textFromValue(double value) const override { return number_text(value); }
    double valueFromText(const QString& text) const override {
        return QLocale::c().toDouble(text.trimmed());
    }
    QValidator::State validate(QString& text, int&) const override {
        const QString trimmed = text.trimmed();
        if (trimmed.isEmpty()) return QValidator::Intermediate;
        bool ok = false;
        const double value = QLocale::c().toDouble(trimmed, &ok);
        if (ok)
            return value >= 0.0 && std::isfinite(value) ? QValidator::Acceptable
                                                        : QValidator::Invalid;
        // A number being typed: "1e", "0.", "1e-".
        const QString partial = QStringLiteral("0123456789.eE+-");
        for (const QChar c : trimmed)
            if (!partial.contains(c)) return QValidator::Invalid;
        return QValidator::Intermediate;
    }
};

QLabel* value_label(QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);  // names and paths come from files
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setWordWrap(true);
    return label;
}

QString comma_list(const std::vector<std::filesystem::path>& files) {
    QStringList names;
    for (const std::filesystem::path& file : files) names << to_qstring(file.filename());
    return names.join(QStringLiteral(", "));
}

}  // namespace

ResultsWindow::ResultsWindow(QWidget* parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("results_window"));
    setWindowTitle(tr("Results - Netrevia"));
    scene_font_ = font();
    scene_font_.setPixelSize(18);  // in layout points: the picture scales as a whole
    legend_font_ = scene_font_;
    legend_font_.setPixelSize(13);

    scene_ = new QGraphicsScene(this);
    view_ = new NetworkView(scene_);
    edge_model_ = new EdgeTableModel(this);
    edge_filter_ = new EdgeFilterModel(this);
    edge_filter_->setSourceModel(edge_model_);

    chooser_.save_file = [this](const QString& caption, const QString& path,
                                const QString& filter) {
        return QFileDialog::getSaveFileName(this, caption, path, filter);
    };
    chooser_.folder = [this](const QString& caption, const QString& folder) {
        return QFileDialog::getExistingDirectory(this, caption, folder);
    };

    create_panels();
    create_actions();
    restore_settings();

    connect(&preparing_, &QFutureWatcherBase::finished, this, &ResultsWindow::results_ready);
    connect(&laying_out_, &QFutureWatcherBase::finished, this, &ResultsWindow::layout_ready);
    connect(scene_, &QGraphicsScene::selectionChanged, this,
            &ResultsWindow::scene_selection_changed);
    set_busy_indicator();
}

ResultsWindow::~ResultsWindow() {
    save_settings();
    // The workers own copies of what they work on; only their results need this window.
    preparing_.disconnect(this);
    laying_out_.disconnect(this);
    preparing_.waitForFinished();
    laying_out_.waitForFinished();
}

void ResultsWindow::set_file_chooser(FileChooser chooser) { chooser_ = std::move(chooser); }

void ResultsWindow::create_panels() {
    // The network and the edge table side by side; the summary and the cut in a dock.
    banner_ = new QLabel;
    banner_->setTextFormat(Qt::PlainText);
    banner_->setWordWrap(true);
    banner_->setContentsMargins(6, 3, 6, 3);
    banner_->setStyleSheet(QStringLiteral("background: #fff3cd; color: #5c4400;"));
    banner_->hide();
    auto* network_panel = new QWidget;
    auto* network_layout = new QVBoxLayout(network_panel);
    network_layout->setContentsMargins(0, 0, 0, 0);
    network_layout->setSpacing(0);
    network_layout->addWidget(banner_);
    network_layout->addWidget(view_);

    filter_box_ = new QLineEdit;
    filter_box_->setPlaceholderText(tr("Filter by gene name (Ctrl+F)"));
    filter_box_->setClearButtonEnabled(true);
    drawn_only_ = new QCheckBox(tr("Drawn only"));
    drawn_only_->setToolTip(tr("Show only the edges the current cut draws"));
    table_count_ = new QLabel;
    table_ = new QTableView;
    table_->setObjectName(QStringLiteral("edge_table"));
    table_->setModel(edge_filter_);
    table_->setSortingEnabled(true);
    table_->sortByColumn(EdgeTableModel::kRank, Qt::AscendingOrder);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table_->setAlternatingRowColors(true);
    table_->setWordWrap(false);
    table_->verticalHeader()->hide();
    // Rows of one height: the table may hold millions of them.
    table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table_->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    table_->horizontalHeader()->setStretchLastSection(true);
    const int digit = fontMetrics().horizontalAdvance(QLatin1Char('0'));
    table_->setColumnWidth(EdgeTableModel::kRank, 6 * digit);
    table_->setColumnWidth(EdgeTableModel::kRegulator, 9 * digit);
    table_->setColumnWidth(EdgeTableModel::kTarget, 9 * digit);
    table_->setColumnWidth(EdgeTableModel::kWeight, 10 * digit);
    table_->setColumnWidth(EdgeTableModel::kSign, 10 * digit);
    auto* table_panel = new QWidget;
    auto* table_layout = new QVBoxLayout(table_panel);
    table_layout->setContentsMargins(4, 4, 4, 4);
    auto* filter_row = new QHBoxLayout;
    filter_row->addWidget(filter_box_, 1);
    filter_row->addWidget(drawn_only_);
    table_layout->addLayout(filter_row);
    table_layout->addWidget(table_, 1);
    table_layout->addWidget(table_count_);
    connect(filter_box_, &QLineEdit::textEdited, this, &ResultsWindow::filter_edited);
    connect(drawn_only_, &QCheckBox::toggled, this,
            [this](bool on) { edge_filter_->set_drawn_only(on); });
    const auto count_rows = [this] {
        table_count_->setText(tr("%1 of %2 edges")
                                  .arg(QLocale().toString(edge_filter_->rowCount()))
                                  .arg(QLocale().toString(edge_model_->rowCount())));
    };
    connect(edge_filter_, &QAbstractItemModel::rowsInserted, this, count_rows);
    connect(edge_filter_, &QAbstractItemModel::rowsRemoved, this, count_rows);
    connect(edge_filter_, &QAbstractItemModel::modelReset, this, count_rows);
    connect(edge_filter_, &QAbstractItemModel::layoutChanged, this, count_rows);

    splitter_ = new QSplitter(Qt::Horizontal);
    splitter_->setObjectName(QStringLiteral("network_table_splitter"));
    splitter_->addWidget(network_panel);
    splitter_->addWidget(table_panel);
    splitter_->setStretchFactor(0, 3);
    splitter_->setStretchFactor(1, 2);
    setCentralWidget(splitter_);

    // The summary of the run.
    auto* panel = new QWidget;
    auto* panel_layout = new QVBoxLayout(panel);
    auto* run_box = new QGroupBox(tr("Run"));
    auto* run_form = new QFormLayout(run_box);
    const QString run_rows[] = {tr("Data file:"),  tr("Genes:"),     tr("Courses:"), tr("Engine:"),
                                tr("Iterations:"), tr("Objective:"), tr("Lambda:"),  tr("Files:")};
    for (int k = 0; k < 8; ++k) {
        run_labels_[k] = value_label(run_box);
        run_form->addRow(run_rows[k], run_labels_[k]);
    }
    files_label_ = run_labels_[7];

    // The cut: a threshold (box and slider) or the strongest K, and the self-terms.
    auto* cut_box = new QGroupBox(tr("Cut"));
    auto* cut_layout = new QVBoxLayout(cut_box);
    by_threshold_ = new QRadioButton(tr("&Threshold:"));
    by_threshold_->setToolTip(tr("Draw R(i,j) above the threshold or below its negative"));
    threshold_box_ = new ThresholdBox(cut_box);
    threshold_slider_ = new QSlider(Qt::Horizontal);
    threshold_slider_->setRange(0, kSliderSteps);
    threshold_slider_->setToolTip(tr("From 0 to the largest |R(i,j)| between distinct genes"));
    by_top_ = new QRadioButton(tr("&Strongest:"));
    by_top_->setToolTip(tr("Draw the K entries of largest |R(i,j)|, as the batch tool's --top K"));
    top_box_ = new QSpinBox;
    top_box_->setRange(1, 1);
    top_box_->setSuffix(tr(" edges"));
    top_box_->setKeyboardTracking(false);
    auto* modes = new QButtonGroup(this);
    modes->addButton(by_threshold_);
    modes->addButton(by_top_);
    by_threshold_->setChecked(true);
    auto* threshold_row = new QHBoxLayout;
    threshold_row->addWidget(by_threshold_);
    threshold_row->addWidget(threshold_box_, 1);
    auto* top_row = new QHBoxLayout;
    top_row->addWidget(by_top_);
    top_row->addWidget(top_box_, 1);
    self_loops_box_ = new QCheckBox(tr("Self-terms R(i,i)"));
    self_loops_box_->setToolTip(
        tr("Self-terms (mostly each gene's own decay) in the drawing, the table and the "
           "exports; the counts keep them, as GRN.dot does"));
    suggested_label_ = value_label(cut_box);
    apply_button_ = new QPushButton(tr("&Apply"));
    apply_button_->setToolTip(tr("Set the suggested threshold"));
    auto* suggested_row = new QHBoxLayout;
    suggested_row->addWidget(suggested_label_, 1);
    suggested_row->addWidget(apply_button_, 0, Qt::AlignTop);
    counts_label_ = value_label(cut_box);
    cut_layout->addLayout(threshold_row);
    cut_layout->addWidget(threshold_slider_);
    cut_layout->addLayout(top_row);
    cut_layout->addWidget(self_loops_box_);
    cut_layout->addLayout(suggested_row);
    cut_layout->addWidget(counts_label_);

    auto* folder_box = new QGroupBox(tr("Results folder"));
    auto* folder_layout = new QVBoxLayout(folder_box);
    folder_label_ = value_label(folder_box);
    auto* open_folder = new QPushButton(tr("&Open folder"));
    folder_layout->addWidget(folder_label_);
    folder_layout->addWidget(open_folder, 0, Qt::AlignLeft);
    connect(open_folder, &QPushButton::clicked, this, &ResultsWindow::open_results_folder);

    panel_layout->addWidget(run_box);
    panel_layout->addWidget(cut_box);
    panel_layout->addWidget(folder_box);
    panel_layout->addStretch(1);
    panel->setMinimumWidth(fontMetrics().horizontalAdvance(QLatin1Char('0')) * 36);
    auto* scroll = new QScrollArea;
    scroll->setWidget(panel);
    scroll->setMinimumWidth(panel->minimumWidth() +
                            style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 4);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    auto* dock = new QDockWidget(tr("Summary"), this);
    dock->setObjectName(QStringLiteral("summary_dock"));
    dock->setWidget(scroll);
    dock->setFeatures(QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable |
                      QDockWidget::DockWidgetClosable);
    addDockWidget(Qt::LeftDockWidgetArea, dock);

    connect(threshold_box_, &QDoubleSpinBox::valueChanged, this,
            [this] { cut_changed_by_controls(); });
    connect(threshold_slider_, &QSlider::valueChanged, this, [this](int position) {
        if (updating_controls_ || !results_) return;
        // Positions are shares of the largest entry between genes, to three digits.
        const double largest = results_->largest_between();
        const double share = static_cast<double>(position) / kSliderSteps;
        const double t = std::stod(QLocale::c().toString(share * largest, 'g', 3).toStdString());
        by_threshold_->setChecked(true);
        threshold_box_->setValue(t);
    });
    connect(top_box_, &QSpinBox::valueChanged, this, [this] {
        if (updating_controls_) return;
        by_top_->setChecked(true);
        cut_changed_by_controls();
    });
    connect(modes, &QButtonGroup::buttonToggled, this, [this](QAbstractButton*, bool checked) {
        if (checked) cut_changed_by_controls();
    });
    connect(self_loops_box_, &QCheckBox::toggled, this, [this] { cut_changed_by_controls(); });
    connect(apply_button_, &QPushButton::clicked, this, &ResultsWindow::apply_suggested_threshold);

    busy_bar_ = new QProgressBar;
    busy_bar_->setRange(0, 0);
    busy_bar_->setMaximumWidth(fontMetrics().horizontalAdvance(QLatin1Char('0')) * 12);
    status_cut_ = new QLabel;
    statusBar()->addPermanentWidget(status_cut_);
    statusBar()->addPermanentWidget(busy_bar_);
}

void ResultsWindow::create_actions() {
    QStyle* style = this->style();
    QMenu* file = menuBar()->addMenu(tr("&File"));
    save_exports_action_ =
        file->addAction(style->standardIcon(QStyle::SP_DialogSaveButton), tr("&Save exports..."),
                        this, &ResultsWindow::choose_export_folder);
    save_exports_action_->setShortcut(QKeySequence::Save);
    save_exports_action_->setToolTip(
        tr("Write edges.tsv, GRN.sif, GRN.graphml and run.json for the current cut into a "
           "folder (Ctrl+S)"));
    save_exports_action_->setIconText(tr("Save exports"));
    QMenu* one = file->addMenu(tr("&Export"));
    const QString export_names[] = {tr("&Edge list (edges.tsv)..."), tr("&SIF (GRN.sif)..."),
                                    tr("&GraphML (GRN.graphml)..."),
                                    tr("&Run record (run.json)...")};
    for (int k = 0; k < 4; ++k) {
        const auto kind = static_cast<ExportKind>(k);
        export_actions_[k] =
            one->addAction(export_names[k], this, [this, kind] { choose_export_file(kind); });
    }
    export_picture_action_ =
        file->addAction(style->standardIcon(QStyle::SP_FileIcon), tr("Export &picture..."), this,
                        &ResultsWindow::choose_picture_file);
    export_picture_action_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
    export_picture_action_->setToolTip(tr("Save the network as SVG or PNG (Ctrl+E)"));
    export_picture_action_->setIconText(tr("Export picture"));
    QMenu* resolution = file->addMenu(tr("PNG &resolution"));
    resolution_group_ = new QActionGroup(this);
    for (const int dpi : kResolutions) {
        QAction* action = resolution->addAction(tr("%1 dots per inch").arg(dpi));
        action->setCheckable(true);
        action->setData(dpi);
        action->setChecked(dpi == kDefaultResolution);
        resolution_group_->addAction(action);
    }
    file->addSeparator();
    open_folder_action_ =
        file->addAction(style->standardIcon(QStyle::SP_DirOpenIcon), tr("&Open results folder"),
                        this, &ResultsWindow::open_results_folder);
    file->addSeparator();
    QAction* close_action = file->addAction(tr("&Close"), this, &QWidget::close);
    close_action->setShortcut(QKeySequence::Close);

    QMenu* edit = menuBar()->addMenu(tr("&Edit"));
    copy_action_ = edit->addAction(tr("&Copy rows"), this, &ResultsWindow::copy_selection);
    copy_action_->setShortcut(QKeySequence::Copy);
    copy_action_->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    table_->addAction(copy_action_);
    QAction* find = edit->addAction(tr("&Filter genes"), this, [this] {
        filter_box_->setFocus(Qt::ShortcutFocusReason);
        filter_box_->selectAll();
    });
    find->setShortcut(QKeySequence::Find);

    QMenu* view = menuBar()->addMenu(tr("&View"));
    zoom_actions_[0] = view->addAction(tr("Zoom &in"), view_, &NetworkView::zoom_in);
    zoom_actions_[0]->setShortcuts({QKeySequence::ZoomIn, QKeySequence(Qt::CTRL | Qt::Key_Equal)});
    zoom_actions_[1] = view->addAction(tr("Zoom &out"), view_, &NetworkView::zoom_out);
    zoom_actions_[1]->setShortcut(QKeySequence::ZoomOut);
    zoom_actions_[2] = view->addAction(tr("&Fit to window"), view_, &NetworkView::fit_to_window);
    zoom_actions_[2]->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_0));
    zoom_actions_[0]->setIconText(tr("Zoom in"));
    zoom_actions_[1]->setIconText(tr("Zoom out"));
    zoom_actions_[2]->setIconText(tr("Fit"));
    view->addSeparator();
    self_loops_action_ = view->addAction(tr("&Self-terms"));
    self_loops_action_->setCheckable(true);
    connect(self_loops_action_, &QAction::toggled, self_loops_box_, &QCheckBox::setChecked);
    connect(self_loops_box_, &QCheckBox::toggled, self_loops_action_, &QAction::setChecked);
    view->addSeparator();
    for (QDockWidget* dock : findChildren<QDockWidget*>())
        view->addAction(dock->toggleViewAction());

    QMenu* cut = menuBar()->addMenu(tr("&Cut"));
    apply_suggested_action_ = cut->addAction(tr("Apply the &suggested threshold"), this,
                                             &ResultsWindow::apply_suggested_threshold);
    apply_suggested_action_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
    apply_suggested_action_->setIconText(tr("Suggested threshold"));
    apply_suggested_action_->setToolTip(
        tr("Draw the edges beyond 0.2 x the largest |R(i,j)| between distinct genes (Ctrl+T)"));

    QMenu* help = menuBar()->addMenu(tr("&Help"));
    QAction* help_action =
        help->addAction(tr("&Results window help"), this, &ResultsWindow::show_help);
    help_action->setShortcut(QKeySequence::HelpContents);

    QToolBar* tools = addToolBar(tr("Tools"));
    tools->setObjectName(QStringLiteral("results_tools"));
    tools->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    tools->addAction(save_exports_action_);
    tools->addAction(export_picture_action_);
    tools->addSeparator();
    for (QAction* zoom : zoom_actions_) tools->addAction(zoom);
    tools->addSeparator();
    tools->addAction(apply_suggested_action_);
    view->addAction(tools->toggleViewAction());
}

void ResultsWindow::restore_settings() {
    // Most of the screen at first, then as the user left it.
    QRect screen(0, 0, 1280, 800);
    if (const QScreen* primary = QGuiApplication::primaryScreen())
        screen = primary->availableGeometry();
    resize(std::min(1400, screen.width() * 9 / 10), std::min(900, screen.height() * 9 / 10));
    splitter_->setSizes({width() * 6 / 10, width() * 4 / 10});
    QSettings store = settings();
    store.beginGroup(QString::fromLatin1(kSettingsGroup));
    restoreGeometry(store.value(QStringLiteral("geometry")).toByteArray());
    restoreState(store.value(QStringLiteral("state")).toByteArray());
    splitter_->restoreState(store.value(QStringLiteral("splitter")).toByteArray());
    const int dpi = store.value(QStringLiteral("png_dpi"), kDefaultResolution).toInt();
    for (QAction* action : resolution_group_->actions())
        if (action->data().toInt() == dpi) action->setChecked(true);
}

void ResultsWindow::save_settings() const {
    QSettings store = settings();
    store.beginGroup(QString::fromLatin1(kSettingsGroup));
    store.setValue(QStringLiteral("geometry"), saveGeometry());
    store.setValue(QStringLiteral("state"), saveState());
    store.setValue(QStringLiteral("splitter"), splitter_->saveState());
    if (const QAction* checked = resolution_group_->checkedAction())
        store.setValue(QStringLiteral("png_dpi"), checked->data().toInt());
}

void ResultsWindow::closeEvent(QCloseEvent* event) {
    save_settings();
    QMainWindow::closeEvent(event);
}

bool ResultsWindow::busy() const noexcept {
    return preparing_active_ || layout_active_ || layout_pending_;
}

void ResultsWindow::set_busy_indicator() {
    busy_bar_->setVisible(busy());
    const bool ready = results_ != nullptr;
    save_exports_action_->setEnabled(ready);
    for (QAction* action : export_actions_) action->setEnabled(ready);
    export_picture_action_->setEnabled(ready && drawing_.has_value());
    open_folder_action_->setEnabled(ready);
    apply_suggested_action_->setEnabled(ready && results_->suggested_threshold() > 0.0);
    apply_button_->setEnabled(apply_suggested_action_->isEnabled());
}

void ResultsWindow::report(const QString& message, bool failure) {
    statusBar()->showMessage(message, failure ? 0 : kMessageMilliseconds);
}

void ResultsWindow::set_results(RunResults run) {
    const QString name = to_qstring(run.data_file().filename());
    setWindowTitle(tr("%1 - Results - Netrevia").arg(name));
    report(tr("Ranking the edges of %1 genes...").arg(run.summary.network.n));
    auto shared = std::make_shared<RunResults>(std::move(run));
    preparing_active_ = true;
    preparing_.setFuture(QtConcurrent::run([shared]() -> Prepared {
        try {
            return {std::make_shared<const Results>(std::move(*shared)), {}};
        } catch (const std::bad_alloc&) {
            return {nullptr, tr("Cannot show the results: insufficient virtual memory")};
        } catch (const std::exception& e) {
            return {nullptr, tr("Cannot show the results: %1").arg(QString::fromUtf8(e.what()))};
        }
    }));
    set_busy_indicator();
}

void ResultsWindow::results_ready() {
    const Prepared prepared = preparing_.result();
    preparing_active_ = false;
    set_busy_indicator();
    if (!prepared.results) {
        report(prepared.error, true);
        return;
    }
    try {
        show_results(prepared.results);
    } catch (const std::bad_alloc&) {
        report(tr("Cannot show the results: insufficient virtual memory"), true);
    } catch (const std::exception& e) {
        report(tr("Cannot show the results: %1").arg(QString::fromUtf8(e.what())), true);
    }
}

void ResultsWindow::show_results(std::shared_ptr<const Results> results) {
    results_ = std::move(results);
    selected_gene_ = 0;
    const inference::RunSummary& summary = results_->run().summary;
    show_run_summary();

    updating_controls_ = true;
    const int n = results_->network().n;
    const long long entries = static_cast<long long>(n) * n;
    top_box_->setRange(
        1, static_cast<int>(std::clamp<long long>(entries, 1, std::numeric_limits<int>::max())));
    top_box_->setValue(static_cast<int>(std::min<long long>(kDefaultTop, std::max(entries, 1LL))));
    updating_controls_ = false;
    edge_model_->set_results(results_, results_->run().record.self_edges, summary.threshold);
    filter_box_->clear();
    edge_filter_->set_name_filter({});
    edge_filter_->set_gene(0);
    edge_filter_->refresh();
    set_cut({summary.threshold, 0, results_->run().record.self_edges});
    report(tr("%1 genes, %2 nonzero entries of R").arg(n).arg(results_->ranked(true).size()));
}

void ResultsWindow::show_run_summary() {
    const RunResults& run = results_->run();
    const inference::InferredNetwork& net = run.summary.network;
    run_labels_[0]->setText(to_qstring(run.data_file().filename()));
    run_labels_[0]->setToolTip(to_qstring(run.data_file()));
    run_labels_[1]->setText(QString::number(net.n));
    QStringList points;
    for (int k = 0; k < net.K; ++k)
        points << QString::number(net.time_point_counts[static_cast<std::size_t>(k)]);
    run_labels_[2]->setText(
        net.K > 0 ? tr("%1 (time points: %2)").arg(net.K).arg(points.join(QStringLiteral(", ")))
                  : QStringLiteral("0"));
    // The engines without iterations (ensemble, trees, consensus) draw at random from a seed and
    // say what they fitted instead, as the batch tool's summary does.
    const inference::EngineDescription* engine = inference::find_engine(run.record.engine);
    const bool selection = engine == nullptr || engine->working.empty();
    run_labels_[3]->setText(
        engine != nullptr && engine->uses_seed
            ? tr("%1, seed %2").arg(QString::fromStdString(run.record.engine)).arg(run.record.seed)
            : QString::fromStdString(run.record.engine));
    if (selection) {
        run_labels_[4]->setText(QString::number(net.iterations));
        run_labels_[5]->setText(number_text(net.objective));
        run_labels_[5]->setToolTip(QLocale::c().toString(net.objective, 'g', 12));
    } else {
        QStringList fitted;
        if (net.runs > 0) fitted << tr("%1 subsets of %2 genes").arg(net.runs).arg(net.subset_size);
        if (net.trees > 0) fitted << tr("%1 trees per target").arg(net.trees);
        run_labels_[4]->setText(fitted.join(QStringLiteral("; ")));
        run_labels_[5]->setText(tr("none (%1)").arg(QString::fromStdString(run.record.engine)));
        run_labels_[5]->setToolTip(QString());
    }
    run_labels_[6]->setText(engine != nullptr && !engine->uses_lambda
                                ? tr("not used (%1)").arg(QString::fromStdString(run.record.engine))
                                : number_text(run.record.lambda));
    std::vector<std::filesystem::path> files{run.summary.matrix_file, run.summary.graphviz_file};
    files.insert(files.end(), run.summary.extra_files.begin(), run.summary.extra_files.end());
    files_label_->setText(
        tr("%1 (threshold %2)").arg(comma_list(files), number_text(run.summary.threshold)));
    files_label_->setToolTip(tr("As the run wrote them; the cut changes no file until you save"));
    folder_label_->setText(to_qstring(run.folder));

    const double suggested = results_->suggested_threshold();
    suggested_label_->setText(suggested > 0.0
                                  ? tr("Suggested threshold: %1").arg(number_text(suggested))
                                  : tr("No suggested threshold"));
    QString tip;
    if (suggested <= 0.0) {
        tip = tr("No entry between distinct genes is nonzero");
    } else if (results_->suggests_engine_default()) {
        tip = tr("The %1 engine's default threshold on its scores: where the mean F1 on "
                 "simulated networks was highest")
                  .arg(QString::fromStdString(run.record.engine));
    } else {
        tip = tr("%1 x the largest |R(i,j)| between distinct genes (%2), as the batch tool's "
                 "hint; on simulated networks it drew far fewer false edges than the default")
                  .arg(number_text(exports::kSuggestedShare),
                       number_text(results_->largest_between()));
    }
    suggested_label_->setToolTip(tip);
}

void ResultsWindow::cut_changed_by_controls() {
    if (updating_controls_ || !results_) return;
    Cut cut;
    cut.threshold = threshold_box_->value();
    // The box shows six digits; the cut in force keeps its exact value while the box does.
    if (cut_.cut.top == 0 && number_text(cut_.cut.threshold) == number_text(cut.threshold))
        cut.threshold = cut_.cut.threshold;
    cut.top = by_top_->isChecked() ? top_box_->value() : 0;
    cut.self_loops = self_loops_box_->isChecked();
    set_cut(cut);
}

void ResultsWindow::set_cut(const Cut& cut) {
    if (!results_) return;
    try {
        const bool rows_change =
            cut.self_loops != cut_.cut.self_loops ||
            edge_model_->rowCount() != static_cast<int>(results_->ranked(cut.self_loops).size());
        cut_ = results_->apply(cut);
        if (rows_change) {
            edge_model_->set_results(results_, cut.self_loops, cut_.threshold);
            edge_filter_->refresh();
        } else {
            edge_model_->set_threshold(cut_.threshold);
        }
    } catch (const std::bad_alloc&) {
        report(tr("Cannot apply the cut: insufficient virtual memory"), true);
        return;
    }
    ++cut_generation_;
    show_cut();
    start_layout();
}

void ResultsWindow::show_cut() {
    updating_controls_ = true;
    threshold_box_->setValue(cut_.cut.top > 0 ? cut_.threshold : cut_.cut.threshold);
    const double largest = results_->largest_between();
    threshold_slider_->setValue(
        largest > 0.0 ? static_cast<int>(std::lround(
                            std::clamp(cut_.threshold / largest, 0.0, 1.0) * kSliderSteps))
                      : 0);
    (cut_.cut.top > 0 ? by_top_ : by_threshold_)->setChecked(true);
    if (cut_.cut.top > 0) top_box_->setValue(cut_.cut.top);
    self_loops_box_->setChecked(cut_.cut.self_loops);
    self_loops_action_->setChecked(cut_.cut.self_loops);
    updating_controls_ = false;

    const int n = results_->network().n;
    const int edges = cut_.positive_edges + cut_.negative_edges;
    const long long possible = static_cast<long long>(n) * (n - 1);
    counts_label_->setText(tr("%1 edges drawn: %2 positive, %3 negative; %4 between genes "
                              "(of %5), %6 self-edges")
                               .arg(edges)
                               .arg(cut_.positive_edges)
                               .arg(cut_.negative_edges)
                               .arg(edges - cut_.self_edges)
                               .arg(possible)
                               .arg(cut_.self_edges));
    status_cut_->setText(
        cut_.cut.top > 0
            ? tr("Strongest %1: %2 edges").arg(cut_.cut.top).arg(edges)
            : tr("Threshold %1: %2 edges").arg(number_text(cut_.threshold)).arg(edges));
    const bool suggested_in_force =
        cut_.cut.top == 0 && cut_.cut.threshold == results_->suggested_threshold();
    apply_button_->setText(suggested_in_force ? tr("Applied") : tr("&Apply"));
    if (cut_.shown.size() < cut_.drawn) {
        banner_->setText(tr("The cut draws %1 edges; the picture shows the strongest %2. Raise "
                            "the threshold or ask for fewer edges to see them all.")
                             .arg(QLocale().toString(static_cast<qulonglong>(cut_.drawn)))
                             .arg(QLocale().toString(static_cast<qulonglong>(cut_.shown.size()))));
        banner_->show();
    } else {
        banner_->hide();
    }
}

void ResultsWindow::apply_suggested_threshold() {
    if (!results_ || results_->suggested_threshold() <= 0.0) return;
    set_cut({results_->suggested_threshold(), 0, cut_.cut.self_loops});
    report(tr("Threshold %1 applied: %2 edges drawn")
               .arg(number_text(cut_.threshold))
               .arg(cut_.positive_edges + cut_.negative_edges));
}

void ResultsWindow::start_layout() {
    if (layout_active_) {
        layout_pending_ = true;  // laid out when the running one ends
        set_busy_indicator();
        return;
    }
    layout_pending_ = false;
    std::shared_ptr<NetworkDrawing> drawing;
    try {
        drawing = std::make_shared<NetworkDrawing>(plan_drawing(*results_, cut_, scene_font_));
    } catch (const std::bad_alloc&) {
        report(tr("Cannot draw the network: insufficient virtual memory"), true);
        return;
    }
    statusBar()->showMessage(tr("Laying out %1 genes and %2 edges with %3...")
                                 .arg(drawing->genes.size())
                                 .arg(drawing->cut.shown.size())
                                 .arg(QString::fromStdString(drawing->program)));
    const unsigned generation = cut_generation_;
    layout_active_ = true;
    laying_out_.setFuture(QtConcurrent::run([drawing, generation]() -> LaidOut {
        LaidOut out;
        out.generation = generation;
        try {
            lay_out(*drawing);
        } catch (const std::bad_alloc&) {
            out.error = tr("Cannot lay out the network: insufficient virtual memory");
        } catch (const std::exception& e) {
            out.error = tr("Cannot lay out the network: %1").arg(QString::fromUtf8(e.what()));
        }
        out.drawing = std::move(*drawing);
        return out;
    }));
    set_busy_indicator();
}

void ResultsWindow::layout_ready() {
    layout_active_ = false;
    if (layout_pending_) {
        start_layout();  // a newer cut came meanwhile; this layout is out of date
        return;
    }
    LaidOut out = laying_out_.result();
    if (out.generation != cut_generation_) {
        set_busy_indicator();
        return;
    }
    if (!out.error.isEmpty()) {
        report(out.error, true);
        set_busy_indicator();
        return;
    }
    drawing_ = std::move(out.drawing);
    const int kept = selected_gene_;
    try {
        const QSignalBlocker quiet(scene_);  // the rebuild is no change of selection
        build_scene(*scene_, *drawing_, *results_, scene_font_, legend_font_);
    } catch (const std::bad_alloc&) {
        scene_->clear();
        drawing_.reset();
        report(tr("Cannot draw the network: insufficient virtual memory"), true);
        set_busy_indicator();
        return;
    }
    view_->fit_to_window();
    selected_gene_ = 0;
    select_gene(kept);
    set_busy_indicator();
    const int edges = static_cast<int>(drawing_->cut.shown.size());
    report(tr("Drawn: %1 edges between %2 genes (%3)")
               .arg(edges)
               .arg(drawing_->genes.size())
               .arg(QString::fromStdString(drawing_->layout.program)));
}

void ResultsWindow::select_gene(int gene) {
    if (!results_ || gene < 0 || gene > results_->network().n) return;
    bool found = false;
    {
        const QSignalBlocker quiet(scene_);
        scene_->clearSelection();
        for (QGraphicsItem* item : scene_->items()) {
            if (item->type() == kNodeItemType && static_cast<NodeItem*>(item)->gene() == gene) {
                item->setSelected(true);
                found = true;
            }
        }
    }
    selected_gene_ = gene;
    highlight_gene(*scene_, found ? gene : 0);
    edge_filter_->set_name_filter({});
    edge_filter_->set_gene(gene);
    filter_box_->setText(gene > 0 ? edge_model_->gene_name(gene) : QString());
    if (gene > 0) {
        int regulators = 0;
        int targets = 0;
        for (const output::RankedEdge& e : cut_.shown) {
            if (e.regulator == e.target) continue;
            regulators += e.target == gene;
            targets += e.regulator == gene;
        }
        report(found ? tr("%1: %2 regulators and %3 targets drawn; the table shows all its edges")
                           .arg(edge_model_->gene_name(gene))
                           .arg(regulators)
                           .arg(targets)
                     : tr("%1 has no drawn edge; the table shows all its edges")
                           .arg(edge_model_->gene_name(gene)));
    }
}

void ResultsWindow::scene_selection_changed() {
    int gene = 0;
    for (QGraphicsItem* item : scene_->selectedItems()) {
        if (item->type() == kNodeItemType) gene = static_cast<NodeItem*>(item)->gene();
    }
    if (gene != selected_gene_) select_gene(gene);
}

void ResultsWindow::filter_edited(const QString& text) {
    // Typing replaces a gene chosen in the picture by a filter on names.
    if (selected_gene_ != 0) {
        const QSignalBlocker quiet(scene_);
        scene_->clearSelection();
        selected_gene_ = 0;
        highlight_gene(*scene_, 0);
        edge_filter_->set_gene(0);
    }
    edge_filter_->set_name_filter(text.trimmed());
}

QString ResultsWindow::selected_text() const {
    QModelIndexList rows = table_->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    QString text;
    for (const QModelIndex& row : rows) {
        QStringList fields;
        for (int column = 0; column < EdgeTableModel::kColumnCount; ++column) {
            fields << edge_filter_->index(row.row(), column)
                          .data(EdgeTableModel::kExportRole)
                          .toString();
        }
        text += fields.join(QLatin1Char('\t')) + QLatin1Char('\n');
    }
    return text;
}

void ResultsWindow::copy_selection() {
    const QString text = selected_text();
    if (text.isEmpty()) {
        report(tr("Select rows of the edge table to copy them"));
        return;
    }
    QApplication::clipboard()->setText(text);
    report(tr("Copied %1 rows as tab-separated text").arg(text.count(QLatin1Char('\n'))));
}

bool ResultsWindow::save_exports(const QString& folder) {
    if (!results_) return false;
    try {
        const std::filesystem::path dir = to_path(folder);
        // The folder's lock, as a run writing there holds it: the four files are replaced
        // together, never beside half of another run's.
        const output::ResultFolderLock lock(dir, output::LockWait::kNoWait);
        const std::vector<output::ExtraResultFile> files = exports::export_files(
            results_->summary_for(cut_), exports::ExportSet{true, true, true, true},
            results_->record_for(cut_));
        std::vector<std::unique_ptr<output::AtomicFile>> written;
        std::vector<output::AtomicFile*> all;
        for (const output::ExtraResultFile& file : files) {
            written.push_back(std::make_unique<output::AtomicFile>(dir / file.name, file.unit));
            file.format(written.back()->stream());
            written.back()->finish();
            all.push_back(written.back().get());
        }
        output::commit_all(all, dir / output::kCommitJournalName);
        report(tr("Wrote edges.tsv, GRN.sif, GRN.graphml and run.json (%1 edges at threshold "
                  "%2) to %3")
                   .arg(cut_.positive_edges + cut_.negative_edges)
                   .arg(number_text(cut_.threshold), folder));
        return true;
    } catch (const output::FolderBusy&) {
        report(tr("Another run is writing into %1; try again when it has finished").arg(folder),
               true);
    } catch (const std::bad_alloc&) {
        report(tr("Cannot save the exports: insufficient virtual memory"), true);
    } catch (const std::exception& e) {
        report(tr("Cannot save the exports: %1").arg(QString::fromUtf8(e.what())), true);
    }
    return false;
}

bool ResultsWindow::export_file(ExportKind kind, const QString& file) {
    if (!results_) return false;
    try {
        exports::ExportSet set;
        set.edges = kind == ExportKind::kEdges;
        set.sif = kind == ExportKind::kSif;
        set.graphml = kind == ExportKind::kGraphml;
        set.json = kind == ExportKind::kRunRecord;
        const std::vector<output::ExtraResultFile> files =
            exports::export_files(results_->summary_for(cut_), set, results_->record_for(cut_));
        output::AtomicFile out(to_path(file), files.front().unit);
        files.front().format(out.stream());
        out.finish();
        out.commit();
        report(tr("Wrote %1").arg(file));
        return true;
    } catch (const std::bad_alloc&) {
        report(tr("Cannot export: insufficient virtual memory"), true);
    } catch (const std::exception& e) {
        report(tr("Cannot export: %1").arg(QString::fromUtf8(e.what())), true);
    }
    return false;
}

bool ResultsWindow::export_picture(const QString& file, int dots_per_inch) {
    if (!drawing_ || busy()) {
        report(tr("The picture is not ready yet; export it once the network is drawn"), true);
        return false;
    }
    const QRectF source = scene_->sceneRect();
    const bool svg =
        QFileInfo(file).suffix().compare(QStringLiteral("svg"), Qt::CaseInsensitive) == 0;
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly)) {
        report(tr("Cannot write %1: %2").arg(file, out.errorString()), true);
        return false;
    }
    QString note;
    if (svg) {
        QSvgGenerator generator;
        generator.setOutputDevice(&out);
        generator.setSize(source.size().toSize());
        generator.setViewBox(QRectF(QPointF(0.0, 0.0), source.size()));
        generator.setResolution(static_cast<int>(kPointsPerInch));
        generator.setTitle(tr("Gene regulatory network"));
        generator.setDescription(to_qstring(results_->run().data_file()));
        QPainter painter(&generator);
        scene_->render(&painter, QRectF(QPointF(0.0, 0.0), source.size()), source);
    } else {
        double scale = dots_per_inch / kPointsPerInch;
        const double longest = std::max(source.width(), source.height()) * scale;
        if (longest > kLargestPicture) {
            scale *= kLargestPicture / longest;
            note = tr(" (reduced to %1 pixels along its longer side)").arg(kLargestPicture);
        }
        QImage image((source.size() * scale).toSize(), QImage::Format_ARGB32_Premultiplied);
        if (image.isNull()) {
            report(tr("Cannot make a picture of that size: insufficient memory"), true);
            return false;
        }
        image.fill(Qt::white);
        const int dots_per_metre = static_cast<int>(std::lround(scale * kPointsPerInch / 0.0254));
        image.setDotsPerMeterX(dots_per_metre);
        image.setDotsPerMeterY(dots_per_metre);
        {
            QPainter painter(&image);
            painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
            scene_->render(&painter, QRectF(QPointF(0.0, 0.0), QSizeF(image.size())), source);
        }
        if (!image.save(&out, "PNG")) {
            report(tr("Cannot write %1: %2").arg(file, out.errorString()), true);
            return false;
        }
    }
    if (!out.commit()) {
        report(tr("Cannot write %1: %2").arg(file, out.errorString()), true);
        return false;
    }
    report(tr("Wrote %1%2").arg(file, note));
    return true;
}

void ResultsWindow::choose_export_folder() {
    if (!results_) return;
    const QString folder =
        chooser_.folder(tr("Save the exports into folder"), to_qstring(results_->run().folder));
    if (!folder.isEmpty()) save_exports(folder);
}

void ResultsWindow::choose_export_file(ExportKind kind) {
    if (!results_) return;
    static constexpr const char* kNames[] = {output::kEdgeListFileName, output::kSifFileName,
                                             output::kGraphmlFileName, exports::kRunRecordFileName};
    static constexpr const char* kFilters[] = {"Edge list (*.tsv)", "SIF (*.sif)",
                                               "GraphML (*.graphml)", "Run record (*.json)"};
    const auto k = static_cast<std::size_t>(kind);
    const QString file = chooser_.save_file(
        tr("Export"), QDir(to_qstring(results_->run().folder)).filePath(QLatin1String(kNames[k])),
        tr(kFilters[k]));
    if (!file.isEmpty()) export_file(kind, file);
}

void ResultsWindow::choose_picture_file() {
    if (!results_) return;
    const QString file = chooser_.save_file(
        tr("Export picture"), QDir(to_qstring(results_->run().folder)).filePath("GRN.svg"),
        tr("SVG picture (*.svg);;PNG picture (*.png)"));
    if (file.isEmpty()) return;
    const QAction* checked = resolution_group_->checkedAction();
    export_picture(file, checked != nullptr ? checked->data().toInt() : kDefaultResolution);
}

void ResultsWindow::open_results_folder() {
    if (!results_) return;
    const QString folder = to_qstring(results_->run().folder);
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(folder)))
        report(tr("No program to show folders; the results are in %1").arg(folder), true);
}

void ResultsWindow::show_help() {
    auto* box =
        new QMessageBox(QMessageBox::Information, tr("Results window"),
                        tr("<p><b>The network</b>: blue arrows are activations, red bars "
                           "repressions; wider lines are larger |R(i,j)|. Click a gene to "
                           "highlight its regulators and targets and to list its edges; "
                           "click the background to clear. Wheel or Ctrl +/- zooms, "
                           "Ctrl+0 fits, dragging pans.</p>"
                           "<p><b>The cut</b>: a threshold (box or slider) or the "
                           "strongest K entries. The picture and the counts follow at "
                           "once; the files the run wrote stay as they are until you save "
                           "(Ctrl+S: edges.tsv, GRN.sif, GRN.graphml, run.json; Ctrl+E: the "
                           "picture).</p>"
                           "<p><b>The table</b>: every nonzero R(i,j), ranked as edges.tsv "
                           "ranks them. Ctrl+F filters by gene name, Ctrl+C copies the "
                           "selected rows as tab-separated text.</p>"),
                        QMessageBox::Close, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
}

}  // namespace netrevia::viewer
