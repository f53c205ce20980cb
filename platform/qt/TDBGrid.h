// The data grid: a read-only table view of a dataset, bound to it through a
// data source.
//
// The grid reads nothing but its data link's share of the dataset's buffer
// window: it asks the link for as many buffers as it has visible rows and
// paints exactly the records the window holds, by making each of them the
// link's active record in turn while it reads the columns' display texts.
// Painting never moves the dataset and never fetches a record.
//
// What it shows: a title row in its own font, an indicator column with an
// arrow on the current record (an edit mark while the record is being edited,
// a star while it is being inserted), one column per entry of the column
// list (field name and width in pixels, bound to the field of that name when
// painted; a name the dataset does not know gives an empty column), row and
// column lines, and the current cell highlighted while the grid has focus.
// The vertical scroll bar stands for the current record number within the
// record count (for a dataset without record numbers it has three places:
// the start, between, the end); the horizontal one scrolls the columns by
// pixels.
//
// Input moves the dataset, and only input does:
//   Up / Down                 previous / next record
//   Page Up / Page Down       back / forward by the number of full rows
//   Ctrl+Home / Ctrl+End      first / last record
//   Left / Right, Home / End  previous / next, first / last column
//   Tab / Shift+Tab           leave the grid (focus chain)
//   mouse click               that row's record (and that cell's column)
//   mouse wheel               the system's wheel lines per notch
//   scroll bar                arrows and page areas step, dragging goes to
//                             the record number of the thumb
// The scroll bar is wired to its user actions only (actionTriggered); the
// grid's own updates of its range and value never move the dataset, so a
// record being appended is never posted by a repaint.
//
// Data-link events only mark the grid for repainting (and a resize sets the
// link's buffer count): they read nothing and cannot throw. The scroll bar is
// brought up to date once, before the next paint.
//
// No exception leaves a Qt event handler: every dataset call made from one is
// caught and handed to the framework's exception handler, and the grid goes
// on with what it has. There is no editing in the grid.
//
// Ownership: the grid owns its data link; the data source and the dataset
// are borrowed. The link detaches itself from the data source when the grid
// is destroyed, and the data source detaches the link when it goes first.
// GUI thread only.
#pragma once

#include <QAbstractScrollArea>
#include <QFont>
#include <QString>
#include <exception>
#include <memory>
#include <vector>

#include "platform/qt/TGridPainter.h"
#include "platform/qt/TGridTextCache.h"

namespace platform {

class TDataSource;
class TDataSet;
class TField;

class TDBGrid : public QAbstractScrollArea {
  Q_OBJECT

 public:
  // Width of the indicator column and of the row and column lines, pixels.
  static constexpr int kIndicatorWidth = kGridIndicatorWidth;
  static constexpr int kLineWidth = kGridLineWidth;

  explicit TDBGrid(QWidget* parent = nullptr);
  ~TDBGrid() override;

  // The data source the grid shows; nullptr detaches it.
  void SetDataSource(TDataSource* source);
  TDataSource* DataSource() const;

  // The column list. Changing it repaints; it never touches the dataset.
  // REQUIRES: 0 <= index < ColumnCount() for the indexed accessors.
  void AddColumn(const QString& fieldName, int width, const QString& title = {});
  void ClearColumns();
  int ColumnCount() const { return static_cast<int>(columns_.size()); }
  const TGridColumn& Column(int index) const { return columns_.at(index); }
  void SetColumnWidth(int index, int width);

  void SetTitleFont(const QFont& font);
  const QFont& TitleFont() const { return titleFont_; }

  // The column of the current cell (0 when there are no columns).
  int SelectedColumn() const { return selectedColumn_; }
  void SetSelectedColumn(int column);

  // Whether paints reuse what earlier paints drew: the cell texts' layouts
  // and the title row (on by default; what is drawn is the same either way).
  // Off, every paint draws everything anew and what was kept is dropped.
  void SetPaintCacheEnabled(bool enabled);
  bool PaintCacheEnabled() const { return textCache_ != nullptr; }

  // Heights of the title row and of one data row, each with its line.
  int TitleHeight() const;
  int RowHeight() const;
  // Rows that fit the viewport under the title, the partly visible one
  // included (the link's buffer count, at least 1), and fully visible ones
  // (the page step, at least 1).
  int VisibleRowCount() const;
  int FullRowCount() const;

  // Exactly what paintEvent reads and paints, read by the same function.
  // Moves nothing and fetches nothing; raises what a field read raises.
  TGridCells CellsToPaint() const;
  // The current record's text in the current column; "" when there is none
  // or it cannot be read (for accessibility: never throws).
  QString CurrentCellText() const noexcept;
  // The visible rows' cell texts as paintEvent would draw them.
  std::vector<std::vector<QString>> VisibleCellTexts() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void changeEvent(QEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;

 private:
  class TGridDataLink;
  friend class TGridDataLink;

  // Called by the data link: O(1), no reads, no throws.
  void DataChanged(bool layout) noexcept;

  TDataSet* ActiveDataSet() const;
  // Binds the columns to the dataset's fields by name when the field list
  // may have changed since the last bind.
  void BindFields() const;
  void UpdateBufferCount();
  void UpdateHorizontalRange();
  void SyncScrollBar();
  void ScrollBarAction(int action);
  void EnsureColumnVisible(int column);
  int ColumnLeft(int column) const;
  int ContentWidth() const;
  int ColumnAt(int x) const;
  void NotifyCurrentCell(const TGridCells& cells);

  // Runs a dataset call made from a Qt event handler; an exception goes to
  // the framework's handler instead of into Qt. False when one was raised.
  template <class Op>
  bool Guarded(Op&& op) noexcept;
  void Report(const std::exception& e) const noexcept;

  std::unique_ptr<TGridDataLink> link_;
  // The cell texts' layouts and the title row; null while the cache is off.
  std::unique_ptr<TGridTextCache> textCache_ = std::make_unique<TGridTextCache>();
  std::unique_ptr<TGridTitleCache> titleCache_ = std::make_unique<TGridTitleCache>();
  std::vector<TGridColumn> columns_;
  QFont titleFont_;
  int selectedColumn_ = 0;
  int wheelRemainder_ = 0;
  // Data and column changes so far, and the count last told to assistive
  // tools (unsigned: wraps around harmlessly).
  unsigned changeCount_ = 0;
  unsigned announcedChange_ = 0;
  bool scrollBarDirty_ = true;
  // An update of the viewport is requested and not yet painted.
  bool updatePending_ = false;
  // Fields of columns_, by index; valid while fieldsBound_ (cleared by the
  // link's layout and active events before the fields can go away).
  mutable std::vector<TField*> fields_;
  mutable bool fieldsBound_ = false;
};

}  // namespace platform
