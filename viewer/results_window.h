#pragma once

#include <QFont>
#include <QFutureWatcher>
#include <QMainWindow>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

#include "viewer/network_scene.h"
#include "viewer/results.h"

class QAction;
class QActionGroup;
class QButtonGroup;
class QCheckBox;
class QDoubleSpinBox;
class QGraphicsScene;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QSlider;
class QSpinBox;
class QSplitter;
class QTableView;

namespace netrevia::viewer {

class EdgeFilterModel;
class EdgeTableModel;
class NetworkView;

// What the exports menu writes: the four files of the batch tool's --export, one at a time, or
// all four into one folder.
enum class ExportKind { kEdges, kSif, kGraphml, kRunRecord };

// The Results window: the summary of one run, its network laid out by Graphviz, the table of
// every nonzero R(i,j), and the cut (threshold or top K) that decides what is drawn, changed
// at once from R in memory without running again. Exports write the batch tool's files with
// the batch tool's writers for the cut in force; nothing on disk changes until the user saves.
// Ranking a run and laying out a cut run off the GUI thread; nothing thrown leaves a slot.
class ResultsWindow final : public QMainWindow {
public:
    explicit ResultsWindow(QWidget* parent = nullptr);
    ~ResultsWindow() override;
    ResultsWindow(const ResultsWindow&) = delete;
    ResultsWindow& operator=(const ResultsWindow&) = delete;

    // A new run: the window shows it with the run's own cut once it is ranked.
    void set_results(RunResults run);

    // Where exports go when the user picks: a file to save (caption, suggested path, the
    // filters as QFileDialog takes them; empty on cancel) and a folder. QFileDialog by
    // default; tests put their own.
    struct FileChooser {
        std::function<QString(const QString& caption, const QString& path, const QString& filter)>
            save_file;
        std::function<QString(const QString& caption, const QString& folder)> folder;
    };
    void set_file_chooser(FileChooser chooser);

    // The cut in force, changed as the controls change it.
    void set_cut(const Cut& cut);
    void apply_suggested_threshold();
    // Selects gene g (1-based; 0 for none): its edges are highlighted and the table shows them.
    void select_gene(int gene);

    // Writes edges.tsv, GRN.sif, GRN.graphml and run.json into folder together; one export to
    // file; the picture as SVG or PNG (by the suffix) at dots_per_inch for PNG. Each says what
    // it did in the status bar and returns whether it succeeded.
    bool save_exports(const QString& folder);
    bool export_file(ExportKind kind, const QString& file);
    bool export_picture(const QString& file, int dots_per_inch);

    // State, for the window's tests.
    const Results* results() const noexcept { return results_.get(); }
    const CutNetwork& cut_network() const noexcept { return cut_; }
    QGraphicsScene* scene() const noexcept { return scene_; }
    EdgeTableModel* edge_model() const noexcept { return edge_model_; }
    EdgeFilterModel* edge_filter() const noexcept { return edge_filter_; }
    QTableView* edge_table() const noexcept { return table_; }
    // Ranking or laying out still under way, or a newer cut waiting for its layout.
    bool busy() const noexcept;
    // Copies the selected cells of the edge table, tab-separated, rows in the table's order.
    QString selected_text() const;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void create_actions();
    void create_panels();
    void restore_settings();
    void save_settings() const;

    void results_ready();
    void show_results(std::shared_ptr<const Results> results);
    void show_run_summary();
    void cut_changed_by_controls();
    void show_cut();
    void start_layout();
    void layout_ready();
    void scene_selection_changed();
    void filter_edited(const QString& text);
    void copy_selection();
    void choose_export_folder();
    void choose_export_file(ExportKind kind);
    void choose_picture_file();
    void open_results_folder();
    void show_help();
    void report(const QString& message, bool failure = false);
    void set_busy_indicator();

    struct Prepared {
        std::shared_ptr<const Results> results;
        QString error;
    };
    struct LaidOut {
        NetworkDrawing drawing;
        QString error;
        unsigned generation = 0;
    };

    FileChooser chooser_;
    std::shared_ptr<const Results> results_;
    CutNetwork cut_;
    QFont scene_font_;  // of the genes' names
    QFont legend_font_;
    unsigned cut_generation_ = 0;    // counts the cuts shown; a layout of an older one is dropped
    bool layout_pending_ = false;    // a cut came while a layout ran
    bool preparing_active_ = false;  // from set_results to results_ready
    bool layout_active_ = false;     // from start_layout to layout_ready
    int selected_gene_ = 0;
    bool updating_controls_ = false;
    QFutureWatcher<Prepared> preparing_;
    QFutureWatcher<LaidOut> laying_out_;
    std::optional<NetworkDrawing> drawing_;  // the picture on screen

    QGraphicsScene* scene_ = nullptr;
    NetworkView* view_ = nullptr;
    EdgeTableModel* edge_model_ = nullptr;
    EdgeFilterModel* edge_filter_ = nullptr;
    QTableView* table_ = nullptr;
    QSplitter* splitter_ = nullptr;
    QLineEdit* filter_box_ = nullptr;
    QCheckBox* drawn_only_ = nullptr;
    QLabel* table_count_ = nullptr;
    QLabel* banner_ = nullptr;
    QLabel* run_labels_[8] = {};
    QLabel* counts_label_ = nullptr;
    QLabel* suggested_label_ = nullptr;
    QLabel* folder_label_ = nullptr;
    QLabel* files_label_ = nullptr;
    QRadioButton* by_threshold_ = nullptr;
    QRadioButton* by_top_ = nullptr;
    QDoubleSpinBox* threshold_box_ = nullptr;
    QSlider* threshold_slider_ = nullptr;
    QSpinBox* top_box_ = nullptr;
    QCheckBox* self_loops_box_ = nullptr;
    QPushButton* apply_button_ = nullptr;
    QProgressBar* busy_bar_ = nullptr;
    QLabel* status_cut_ = nullptr;

    QAction* save_exports_action_ = nullptr;
    QAction* export_actions_[4] = {};
    QAction* export_picture_action_ = nullptr;
    QActionGroup* resolution_group_ = nullptr;
    QAction* open_folder_action_ = nullptr;
    QAction* apply_suggested_action_ = nullptr;
    QAction* self_loops_action_ = nullptr;
    QAction* copy_action_ = nullptr;
    QAction* zoom_actions_[3] = {};
};

}  // namespace netrevia::viewer
