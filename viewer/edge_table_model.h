#pragma once

#include <QAbstractTableModel>
#include <QSortFilterProxyModel>
#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

#include "viewer/results.h"

namespace netrevia::viewer {

// Every nonzero R(i,j) as a row, in the order edges.tsv ranks them: rank, regulator, target,
// weight, sign and whether the current cut draws it. Self-terms are rows only while the cut
// keeps them. Knows nothing of views: what it shows is what data() returns.
class EdgeTableModel final : public QAbstractTableModel {
public:
    enum Column { kRank, kRegulator, kTarget, kWeight, kSign, kDrawn, kColumnCount };
    // The field as edges.tsv writes it (names, 17 significant digits, 1 or -1, 1 or 0): what
    // a copy to the clipboard takes.
    static constexpr int kExportRole = Qt::UserRole + 1;

    explicit EdgeTableModel(QObject* parent = nullptr);

    // A new run or a new set of rows (self-terms in or out); resets the model.
    void set_results(std::shared_ptr<const Results> results, bool self_loops, double threshold);
    // A new threshold: only the drawn column changes.
    void set_threshold(double threshold);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // The edge of a row, and the display name of gene g (1-based); for the proxy's fast paths.
    const output::RankedEdge& edge(int row) const;
    const QString& gene_name(int gene) const;
    bool drawn(int row) const;
    int gene_count() const noexcept { return static_cast<int>(names_.size()); }

private:
    std::shared_ptr<const Results> results_;
    std::span<const output::RankedEdge> rows_;
    std::vector<QString> names_;
    double threshold_ = 0.0;
};

// Sorting and filtering of the edge table. Sorting compares the model's values themselves
// (ties by rank, so every order is total); rank ascending is the model's own order and costs
// nothing, which matters with millions of rows. The filters: a text that keeps the rows whose
// regulator or target name contains it (case ignored), one gene whose edges alone stay, and
// the drawn edges only.
class EdgeFilterModel final : public QSortFilterProxyModel {
public:
    explicit EdgeFilterModel(QObject* parent = nullptr);

    void setSourceModel(QAbstractItemModel* model) override;
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    void set_name_filter(const QString& text);
    // Keeps the edges of gene g (1-based) alone; 0 for no gene.
    void set_gene(int gene);
    int gene() const noexcept { return gene_; }
    void set_drawn_only(bool drawn_only);
    // Filters again after the source's genes changed (a new run).
    void refresh();

protected:
    bool filterAcceptsRow(int source_row, const QModelIndex& source_parent) const override;
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;

private:
    void update_matches();

    const EdgeTableModel* edges_ = nullptr;
    QString name_filter_;
    int gene_ = 0;
    bool drawn_only_ = false;
    std::vector<char> name_matches_;  // per gene, index g; empty: no name filter
};

}  // namespace netrevia::viewer
