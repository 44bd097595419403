#pragma once

#include <QDialog>
#include <QString>
#include <optional>
#include <string>
#include <vector>

#include "importer/preview_model.h"
#include "importer/table_reading.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;
class QTimer;

namespace netrevia::importer {

// Sets up how an expression table is read, as netrevia-batch reads it: the layout, delimiter and
// orientation (detected, each changeable), the scale, the time points, the courses, what becomes
// of replicates, a floor for values of 0 or below and the filling of missing values. Every change
// reads the table again and shows what it holds, or the batch tool's refusal (file, line, column)
// with the cell it names marked in the preview of the first records; the dialog stays open until a
// table reads or the user cancels. The arguments it sets are shown as the batch tool's command
// line.
class ImportDialog final : public QDialog {
public:
    // file: the table; data_file_problem: why it is no data file, shown small (may be empty).
    ImportDialog(const QString& file, const QString& data_file_problem, QWidget* parent = nullptr);

    // The choice once the dialog was accepted; empty before and after Cancel.
    const std::optional<TableChoice>& choice() const noexcept { return choice_; }
    // The arguments the controls set now, in the batch tool's form.
    std::vector<std::string> arguments() const;
    // Reads the table with the current arguments now (changes to text fields wait a moment).
    void read_now();

    void accept() override;

private:
    void build();
    void changed();
    void text_changed();
    void show_reading(const TableReading& reading);

    QString file_;
    std::string text_;
    std::string text_problem_;  // the file cannot be read at all
    PreviewModel preview_;
    std::optional<TableChoice> choice_;
    std::optional<TableReading> reading_;

    QComboBox* layout_ = nullptr;
    QComboBox* delimiter_ = nullptr;
    QComboBox* orientation_ = nullptr;
    QComboBox* scale_ = nullptr;
    QButtonGroup* times_ = nullptr;
    QLineEdit* time_list_ = nullptr;
    QLineEdit* interval_ = nullptr;
    QLineEdit* points_ = nullptr;
    QLineEdit* courses_ = nullptr;
    QComboBox* replicates_ = nullptr;
    QCheckBox* floor_ = nullptr;
    QLineEdit* floor_value_ = nullptr;
    QCheckBox* fill_ = nullptr;
    QLabel* found_ = nullptr;
    QLabel* problem_ = nullptr;
    QLabel* command_ = nullptr;
    QTableView* view_ = nullptr;
    QPushButton* use_ = nullptr;
    QTimer* typing_ = nullptr;
    QString data_file_problem_;
};

// Shows the dialog for file and returns the choice, or nothing when the user cancels.
std::optional<TableChoice> choose_table(QWidget* parent,
                                        const QString& file,
                                        const QString& data_file_problem);

}  // namespace netrevia::importer
