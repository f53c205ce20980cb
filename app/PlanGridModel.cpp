#include "app/PlanGridModel.h"

namespace tilgung {

TPlanGridModel::TPlanGridModel(QObject* parent) : QAbstractTableModel(parent) {}

void TPlanGridModel::PrepareTable() {
  beginResetModel();
  rows_.clear();
  endResetModel();
}

void TPlanGridModel::PostRow(const TPlanRow& row) {
  const int at = static_cast<int>(rows_.size());
  beginInsertRows(QModelIndex(), at, at);
  rows_.push_back(row);
  endInsertRows();
}

int TPlanGridModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TPlanGridModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kPlanColumnCount;
}

QVariant TPlanGridModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= static_cast<int>(rows_.size())) return {};
  if (role == Qt::DisplayRole) {
    return QString::fromStdString(PlanCellText(rows_[index.row()], index.column()));
  }
  if (role == Qt::TextAlignmentRole) {
    // Numbers line up on the right, as numeric fields do in the grid.
    return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
  }
  return {};
}

QVariant TPlanGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return {};
  if (orientation == Qt::Horizontal) {
    if (section >= 0 && section < kPlanColumnCount)
      return QString::fromLatin1(kPlanFieldNames[section]);
    return {};
  }
  // The row header is the grid's narrow indicator column: no numbers.
  return QString();
}

}  // namespace tilgung
