#include "viewer/edge_table_model.h"

#include <QColor>
#include <charconv>
#include <cmath>

#include "output/graphviz_file.h"
#include "viewer/network_scene.h"

namespace netrevia::viewer {

namespace {

// 17 significant digits: the text edges.tsv writes, which reads back to the same double.
QString round_trip_text(double x) {
    char text[40];
    const auto result = std::to_chars(text, text + sizeof text, x, std::chars_format::general, 17);
    return QString::fromLatin1(text, static_cast<qsizetype>(result.ptr - text));
}

}  // namespace

EdgeTableModel::EdgeTableModel(QObject* parent) : QAbstractTableModel(parent) {}

void EdgeTableModel::set_results(std::shared_ptr<const Results> results,
                                 bool self_loops,
                                 double threshold) {
    beginResetModel();
    results_ = std::move(results);
    rows_ = results_ ? results_->ranked(self_loops) : std::span<const output::RankedEdge>();
    names_.clear();
    if (results_) {
        for (const std::string& name : results_->names())
            names_.push_back(QString::fromStdString(output::printable_name(name)));
    }
    threshold_ = threshold;
    endResetModel();
}

void EdgeTableModel::set_threshold(double threshold) {
    if (threshold == threshold_ || (std::isnan(threshold) && std::isnan(threshold_))) return;
    threshold_ = threshold;
    if (!rows_.empty()) emit dataChanged(index(0, kDrawn), index(rowCount() - 1, kDrawn));
}

int EdgeTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int EdgeTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

const output::RankedEdge& EdgeTableModel::edge(int row) const {
    return rows_[static_cast<std::size_t>(row)];
}

const QString& EdgeTableModel::gene_name(int gene) const {
    return names_[static_cast<std::size_t>(gene - 1)];
}

bool EdgeTableModel::drawn(int row) const {
    return output::edge_sign(edge(row).weight, threshold_) != 0;
}

QVariant EdgeTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const output::RankedEdge& e = edge(index.row());
    const bool positive = e.weight > 0.0;
    switch (role) {
        case Qt::DisplayRole:
            switch (index.column()) {
                case kRank:
                    return e.rank;
                case kRegulator:
                    return gene_name(e.regulator);
                case kTarget:
                    return gene_name(e.target);
                case kWeight:
                    return QString::number(e.weight, 'g', 4);  // all 17 digits in the tool tip
                case kSign:
                    return positive ? tr("activation") : tr("repression");
                case kDrawn:
                    return drawn(index.row()) ? tr("yes") : tr("no");
                default:
                    return {};
            }
        case kExportRole:
            switch (index.column()) {
                case kRank:
                    return QString::number(e.rank);
                case kRegulator:
                    return gene_name(e.regulator);
                case kTarget:
                    return gene_name(e.target);
                case kWeight:
                    return round_trip_text(e.weight);
                case kSign:
                    return positive ? QStringLiteral("1") : QStringLiteral("-1");
                case kDrawn:
                    return drawn(index.row()) ? QStringLiteral("1") : QStringLiteral("0");
                default:
                    return {};
            }
        case Qt::ToolTipRole:
            if (index.column() == kWeight) return round_trip_text(e.weight);
            if (e.regulator == e.target) return tr("self-term of %1").arg(gene_name(e.target));
            return {};
        case Qt::ForegroundRole:
            if (index.column() == kSign) return positive ? kActivationColour : kRepressionColour;
            return {};
        case Qt::TextAlignmentRole:
            if (index.column() == kRank || index.column() == kWeight)
                return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
            return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
        default:
            return {};
    }
}

QVariant EdgeTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal) return {};
    if (role == Qt::DisplayRole || role == kExportRole) {
        switch (section) {
            case kRank:
                return tr("Rank");
            case kRegulator:
                return tr("Regulator");
            case kTarget:
                return tr("Target");
            case kWeight:
                return tr("Weight");
            case kSign:
                return tr("Sign");
            case kDrawn:
                return tr("Drawn");
            default:
                return {};
        }
    }
    if (role == Qt::ToolTipRole) {
        switch (section) {
            case kRank:
                return tr("Rank by |R(i,j)|, as in edges.tsv; self-terms after all other edges");
            case kWeight:
                return tr("R(i,j): the influence of the regulator j on the target i");
            case kDrawn:
                return tr("Whether the current cut draws the edge");
            default:
                return {};
        }
    }
    return {};
}

EdgeFilterModel::EdgeFilterModel(QObject* parent) : QSortFilterProxyModel(parent) {
    setDynamicSortFilter(true);
}

void EdgeFilterModel::setSourceModel(QAbstractItemModel* model) {
    edges_ = dynamic_cast<const EdgeTableModel*>(model);
    QSortFilterProxyModel::setSourceModel(model);
    update_matches();
}

void EdgeFilterModel::sort(int column, Qt::SortOrder order) {
    // Rank ascending is the source's order: no comparisons at all.
    QSortFilterProxyModel::sort(
        column == EdgeTableModel::kRank && order == Qt::AscendingOrder ? -1 : column, order);
}

void EdgeFilterModel::set_name_filter(const QString& text) {
    if (text == name_filter_) return;
    name_filter_ = text;
    update_matches();
    invalidateFilter();
}

void EdgeFilterModel::set_gene(int gene) {
    if (gene == gene_) return;
    gene_ = gene;
    invalidateFilter();
}

void EdgeFilterModel::set_drawn_only(bool drawn_only) {
    if (drawn_only == drawn_only_) return;
    drawn_only_ = drawn_only;
    invalidateFilter();
}

void EdgeFilterModel::refresh() {
    update_matches();
    if (edges_ != nullptr && gene_ > edges_->gene_count()) gene_ = 0;
    invalidateFilter();
}

void EdgeFilterModel::update_matches() {
    name_matches_.clear();
    if (edges_ == nullptr || name_filter_.isEmpty()) return;
    name_matches_.assign(static_cast<std::size_t>(edges_->gene_count()) + 1, 0);
    for (int g = 1; g <= edges_->gene_count(); ++g) {
        name_matches_[static_cast<std::size_t>(g)] =
            edges_->gene_name(g).contains(name_filter_, Qt::CaseInsensitive) ? 1 : 0;
    }
}

bool EdgeFilterModel::filterAcceptsRow(int source_row, const QModelIndex&) const {
    if (edges_ == nullptr) return true;
    const output::RankedEdge& e = edges_->edge(source_row);
    if (gene_ != 0 && e.regulator != gene_ && e.target != gene_) return false;
    if (!name_matches_.empty() && name_matches_[static_cast<std::size_t>(e.regulator)] == 0 &&
        name_matches_[static_cast<std::size_t>(e.target)] == 0) {
        return false;
    }
    return !drawn_only_ || edges_->drawn(source_row);
}

bool EdgeFilterModel::lessThan(const QModelIndex& left, const QModelIndex& right) const {
    if (edges_ == nullptr) return QSortFilterProxyModel::lessThan(left, right);
    const output::RankedEdge& a = edges_->edge(left.row());
    const output::RankedEdge& b = edges_->edge(right.row());
    const auto by_rank = [&] { return a.rank < b.rank; };
    switch (left.column()) {
        case EdgeTableModel::kRegulator:
        case EdgeTableModel::kTarget: {
            const bool regulator = left.column() == EdgeTableModel::kRegulator;
            const int order = QString::compare(
                edges_->gene_name(regulator ? a.regulator : a.target),
                edges_->gene_name(regulator ? b.regulator : b.target), Qt::CaseInsensitive);
            return order != 0 ? order < 0 : by_rank();
        }
        case EdgeTableModel::kWeight:
            return a.weight != b.weight ? a.weight < b.weight : by_rank();
        case EdgeTableModel::kSign:
            return (a.weight > 0.0) != (b.weight > 0.0) ? a.weight > 0.0
                                                        : by_rank();  // activations first
        case EdgeTableModel::kDrawn: {
            const bool drawn_a = edges_->drawn(left.row());
            const bool drawn_b = edges_->drawn(right.row());
            return drawn_a != drawn_b ? drawn_a : by_rank();  // drawn first
        }
        default:
            return by_rank();
    }
}

}  // namespace netrevia::viewer
