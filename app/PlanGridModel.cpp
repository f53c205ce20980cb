#include "app/PlanGridModel.h"

#include <string>

#include "platform/Locale.h"

namespace tilgung {

const char* const TPlanGridModel::kFieldNames[kColumnCount] = {"Jahr",     "Monat",   "Tag",
                                                               "Darlehen", "Tilgung", "Zins"};

std::string PlanCellText(const TPlanRow& row, int column) {
  const platform::FormatSettings& fs = platform::FormatSettings::User();
  switch (column) {
    case 0:
      return std::to_string(row.Jahr);
    case 1:
      return std::to_string(row.Monat);
    case 2:
      return std::to_string(row.Tag);
    case 3:
      return fs.FormatCurrency(row.Darlehen, 15, fs.CurrencyDigits());
    case 4:
      return fs.FormatCurrency(row.Tilgung, 15, fs.CurrencyDigits());
    case 5:
      return fs.FormatCurrency(row.Zins, 15, fs.CurrencyDigits());
    default:
      return {};
  }
}

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
  return parent.isValid() ? 0 : kColumnCount;
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
    if (section >= 0 && section < kColumnCount) return QString::fromLatin1(kFieldNames[section]);
    return {};
  }
  // The row header is the grid's narrow indicator column: no numbers.
  return QString();
}

}  // namespace tilgung
