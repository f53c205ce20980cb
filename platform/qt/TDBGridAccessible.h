// What assistive tools see of the data grid: one table object whose value is
// the current cell ("Title: text"), so a screen reader can follow the
// current record and column as the user moves. The rows themselves are not
// exposed one by one: the grid holds only the buffer window, not the table.
//
// Install() registers the factory once per process; the interfaces are
// created and owned by Qt's accessibility cache and borrow their grid.
#pragma once

#include <QAccessibleWidget>

namespace platform {

class TDBGrid;

class TDBGridAccessible : public QAccessibleWidget {
 public:
  explicit TDBGridAccessible(TDBGrid* grid);

  // Name: the accessible name, else the object name. Value: the current cell.
  QString text(QAccessible::Text t) const override;

  // REQUIRES: the GUI thread. Repeated calls do nothing.
  static void Install();
};

}  // namespace platform
