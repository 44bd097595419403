#pragma once

#include <QAbstractTableModel>
#include <vector>

#include "table/expression_table.h"

namespace netrevia::importer {

// The first records of a table as a grid: one row per record, numbered by the line it starts
// on, one column per field, numbered from 1 as the reader's messages count them. The cell a
// refusal names can be marked.
class PreviewModel final : public QAbstractTableModel {
public:
    using QAbstractTableModel::QAbstractTableModel;

    void set_records(std::vector<table::PreviewRecord> records);
    // Marks the cell at file line `line`, field `column` (from 1); 0, 0 marks none.
    void mark_cell(long long line, int column);
    // The row of the record that starts on line, or -1.
    int row_of_line(long long line) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    std::vector<table::PreviewRecord> records_;
    int columns_ = 0;
    long long marked_line_ = 0;
    int marked_column_ = 0;
};

}  // namespace netrevia::importer
