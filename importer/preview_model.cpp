#include "importer/preview_model.h"

#include <QBrush>
#include <QColor>
#include <QString>
#include <algorithm>
#include <utility>

namespace netrevia::importer {

void PreviewModel::set_records(std::vector<table::PreviewRecord> records) {
    beginResetModel();
    records_ = std::move(records);
    columns_ = 0;
    for (const table::PreviewRecord& record : records_) {
        columns_ = std::max(columns_, static_cast<int>(record.cells.size()));
    }
    endResetModel();
}

void PreviewModel::mark_cell(long long line, int column) {
    const int old_row = row_of_line(marked_line_);
    marked_line_ = line;
    marked_column_ = column;
    for (const int row : {old_row, row_of_line(line)}) {
        if (row >= 0 && columns_ > 0) emit dataChanged(index(row, 0), index(row, columns_ - 1));
    }
}

int PreviewModel::row_of_line(long long line) const {
    for (std::size_t row = 0; row < records_.size(); ++row) {
        if (records_[row].line == line) return static_cast<int>(row);
    }
    return -1;
}

int PreviewModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(records_.size());
}

int PreviewModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : columns_;
}

QVariant PreviewModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const table::PreviewRecord& record = records_[static_cast<std::size_t>(index.row())];
    const bool marked = record.line == marked_line_ && index.column() + 1 == marked_column_;
    const bool present = static_cast<std::size_t>(index.column()) < record.cells.size();
    switch (role) {
        case Qt::DisplayRole:
        case Qt::ToolTipRole:
            if (!present) return {};
            return QString::fromStdString(record.cells[static_cast<std::size_t>(index.column())]);
        case Qt::BackgroundRole:
            if (marked) return QBrush(QColor(255, 200, 200));
            return {};
        default:
            return {};
    }
}

QVariant PreviewModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole || section < 0) return {};
    if (orientation == Qt::Horizontal) return section + 1;
    if (section >= rowCount()) return {};
    return QString::number(records_[static_cast<std::size_t>(section)].line);
}

}  // namespace netrevia::importer
