// Stand-in for the plan table behind the grid: keeps the rows of the plan in
// memory and tells the attached view of every change as it happens. It is the
// window's row sink, so the calculation posts into it row by row.
#pragma once

#include <QAbstractTableModel>
#include <vector>

#include "app/PlanCalculation.h"
#include "app/PlanTexts.h"

namespace tilgung {

class TPlanGridModel : public QAbstractTableModel, public TPlanRowSink {
  Q_OBJECT

 public:
  explicit TPlanGridModel(QObject* parent = nullptr);

  // TPlanRowSink: an empty table before the rows of a run, one row per post.
  void PrepareTable() override;
  void PostRow(const TPlanRow& row) override;

  const std::vector<TPlanRow>& Rows() const { return rows_; }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

 private:
  std::vector<TPlanRow> rows_;
};

}  // namespace tilgung
