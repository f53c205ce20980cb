#include "platform/qt/TDBGrid.h"

#include <QAccessible>
#include <QApplication>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QHideEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QWheelEvent>
#include <algorithm>
#include <exception>

#include "platform/data/DataSet.h"
#include "platform/data/DataSource.h"
#include "platform/data/DatabaseError.h"
#include "platform/data/Field.h"
#include "platform/qt/TDBGridAccessible.h"

namespace platform {

// The grid's share of the buffer window. Every handler only tells the grid
// that what it shows may have changed.
class TDBGrid::TGridDataLink : public TDataLink {
 public:
  explicit TGridDataLink(TDBGrid& grid) : grid_(grid) {}

 protected:
  void ActiveChanged() override { grid_.DataChanged(true); }
  void LayoutChanged() override { grid_.DataChanged(true); }
  void DataSetChanged() override { grid_.DataChanged(false); }
  void DataSetScrolled(int) override { grid_.DataChanged(false); }
  void RecordChanged(TField*) override { grid_.DataChanged(false); }
  void EditingChanged() override { grid_.DataChanged(false); }

 private:
  TDBGrid& grid_;
};

namespace {

QString ToQString(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

Qt::Alignment ToQtAlignment(TAlignment alignment) {
  switch (alignment) {
    case TAlignment::taRightJustify:
      return Qt::AlignRight;
    case TAlignment::taCenter:
      return Qt::AlignHCenter;
    case TAlignment::taLeftJustify:
      break;
  }
  return Qt::AlignLeft;
}

// Scroll bar maximum for a dataset without record numbers.
constexpr int kUnsequencedEnd = 2;

}  // namespace

template <class Op>
bool TDBGrid::Guarded(Op&& op) noexcept {
  try {
    op();
    return true;
  } catch (const std::exception& e) {
    Report(e);
  } catch (...) {
    ReportCurrentException();
  }
  return false;
}

void TDBGrid::Report(const std::exception& e) const noexcept {
  // The dataset's own report when there is one (a dataset may override it),
  // else the application's handler.
  TDataSet* ds = link_->DataSet();
  if (ds == nullptr) {
    ReportException(e);
    return;
  }
  try {
    ds->ReportException(e);
  } catch (...) {
    ReportException(e);
  }
}

TDBGrid::TDBGrid(QWidget* parent)
    : QAbstractScrollArea(parent), link_(std::make_unique<TGridDataLink>(*this)) {
  TDBGridAccessible::Install();
  titleFont_ = font();
  setFocusPolicy(Qt::StrongFocus);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  viewport()->setBackgroundRole(QPalette::Base);
  QScrollBar* bar = verticalScrollBar();
  bar->setRange(0, 0);
  bar->setSingleStep(1);
  // User actions only: valueChanged also fires for the grid's own updates.
  connect(bar, &QAbstractSlider::actionTriggered, this, &TDBGrid::ScrollBarAction);
  horizontalScrollBar()->setSingleStep(20);
}

TDBGrid::~TDBGrid() {
  // Leave the data source before the widget goes: the link's handlers call
  // back into the grid.
  try {
    link_->SetDataSource(nullptr);
  } catch (...) {
  }
}

void TDBGrid::SetDataSource(TDataSource* source) {
  link_->SetDataSource(source);
  fieldsBound_ = false;
  scrollBarDirty_ = true;
  UpdateBufferCount();
  viewport()->update();
}

TDataSource* TDBGrid::DataSource() const {
  return link_->DataSource();
}

void TDBGrid::AddColumn(const QString& fieldName, int width, const QString& title) {
  columns_.push_back(TGridColumn{fieldName, std::max(0, width), title});
  fieldsBound_ = false;
  UpdateHorizontalRange();
  viewport()->update();
}

void TDBGrid::ClearColumns() {
  columns_.clear();
  fields_.clear();
  fieldsBound_ = false;
  selectedColumn_ = 0;
  UpdateHorizontalRange();
  viewport()->update();
}

void TDBGrid::SetColumnWidth(int index, int width) {
  columns_.at(index).width = std::max(0, width);
  UpdateHorizontalRange();
  viewport()->update();
}

void TDBGrid::SetTitleFont(const QFont& font) {
  titleFont_ = font;
  UpdateBufferCount();
  viewport()->update();
}

void TDBGrid::SetPaintCacheEnabled(bool enabled) {
  if (enabled == PaintCacheEnabled()) return;
  textCache_ = enabled ? std::make_unique<TGridTextCache>() : nullptr;
  titleCache_ = enabled ? std::make_unique<TGridTitleCache>() : nullptr;
  viewport()->update();
}

void TDBGrid::SetSelectedColumn(int column) {
  if (columns_.empty()) return;
  selectedColumn_ = std::clamp(column, 0, ColumnCount() - 1);
  ++changeCount_;
  EnsureColumnVisible(selectedColumn_);
  viewport()->update();
}

int TDBGrid::TitleHeight() const {
  return QFontMetrics(titleFont_).height() + 3 + kLineWidth;
}

int TDBGrid::RowHeight() const {
  return QFontMetrics(font()).height() + 3 + kLineWidth;
}

int TDBGrid::VisibleRowCount() const {
  const int area = viewport()->height() - TitleHeight();
  return std::max(1, (area + RowHeight() - 1) / RowHeight());
}

int TDBGrid::FullRowCount() const {
  return std::max(1, (viewport()->height() - TitleHeight()) / RowHeight());
}

TDataSet* TDBGrid::ActiveDataSet() const {
  return link_->Active() ? link_->DataSet() : nullptr;
}

void TDBGrid::DataChanged(bool layout) noexcept {
  if (layout) {
    // The fields may be destroyed after this event: forget them now.
    fieldsBound_ = false;
    fields_.clear();
  }
  scrollBarDirty_ = true;
  ++changeCount_;
  // One update request per paint: a run of appends sends several events per
  // row, and each request would cost a region update of its own.
  if (!updatePending_) {
    updatePending_ = true;
    viewport()->update();
  }
}

void TDBGrid::BindFields() const {
  if (fieldsBound_) return;
  fields_.assign(columns_.size(), nullptr);
  if (TDataSet* ds = ActiveDataSet()) {
    for (std::size_t i = 0; i < columns_.size(); ++i) {
      fields_[i] = ds->FindField(columns_[i].fieldName.toStdString());
    }
  }
  fieldsBound_ = true;
}

TGridCells TDBGrid::CellsToPaint() const {
  TGridCells cells;
  BindFields();
  cells.titles.reserve(columns_.size());
  cells.alignments.reserve(columns_.size());
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    // The column's own title, else the field's display label, else the name.
    if (!columns_[i].title.isEmpty()) {
      cells.titles.push_back(columns_[i].title);
    } else if (fields_[i] != nullptr) {
      cells.titles.push_back(ToQString(fields_[i]->DisplayLabel()));
    } else {
      cells.titles.push_back(columns_[i].fieldName);
    }
    cells.alignments.push_back(fields_[i] != nullptr ? ToQtAlignment(fields_[i]->Alignment())
                                                     : Qt::AlignLeft);
  }
  TDataSet* ds = ActiveDataSet();
  if (ds == nullptr) return cells;

  const int count = link_->RecordCount();
  cells.activeRow = link_->ActiveRecord();
  switch (ds->State()) {
    case TDataSetState::dsEdit:
      cells.indicator = TGridCells::TIndicator::Edit;
      break;
    case TDataSetState::dsInsert:
      cells.indicator = TGridCells::TIndicator::Insert;
      break;
    default:
      cells.indicator = TGridCells::TIndicator::Browse;
      break;
  }
  cells.rows.reserve(static_cast<std::size_t>(count));
  if (count <= 0) return cells;
  for (int r = 0; r < count; ++r) {
    std::vector<QString>& row = cells.rows.emplace_back();
    row.reserve(columns_.size());
    for (const TField* field : fields_) {
      row.push_back(field != nullptr ? ToQString(link_->DisplayText(r, *field)) : QString());
    }
  }
  return cells;
}

QString TDBGrid::CurrentCellText() const noexcept {
  try {
    BindFields();
    if (ActiveDataSet() == nullptr || link_->RecordCount() == 0) return {};
    const auto column = static_cast<std::size_t>(selectedColumn_);
    if (column >= fields_.size() || fields_[column] == nullptr) return {};
    return ToQString(fields_[column]->DisplayText());
  } catch (...) {
    return {};
  }
}

std::vector<std::vector<QString>> TDBGrid::VisibleCellTexts() const {
  return CellsToPaint().rows;
}

void TDBGrid::UpdateBufferCount() {
  Guarded([&] { link_->SetBufferCount(VisibleRowCount()); });
  scrollBarDirty_ = true;
}

int TDBGrid::ColumnLeft(int column) const {
  return GridColumnLeft(columns_, column);
}

int TDBGrid::ContentWidth() const {
  return ColumnLeft(ColumnCount());
}

int TDBGrid::ColumnAt(int x) const {
  const int contentX = x + horizontalScrollBar()->value();
  if (x < kIndicatorWidth + kLineWidth) return -1;
  int left = kIndicatorWidth + kLineWidth;
  for (int i = 0; i < ColumnCount(); ++i) {
    const int right = left + columns_[static_cast<std::size_t>(i)].width + kLineWidth;
    if (contentX < right) return i;
    left = right;
  }
  return -1;
}

void TDBGrid::UpdateHorizontalRange() {
  QScrollBar* bar = horizontalScrollBar();
  const int visible = viewport()->width();
  bar->setRange(0, std::max(0, ContentWidth() - visible));
  bar->setPageStep(std::max(1, visible));
}

void TDBGrid::EnsureColumnVisible(int column) {
  if (column < 0 || column >= ColumnCount()) return;
  QScrollBar* bar = horizontalScrollBar();
  const int fixed = kIndicatorWidth + kLineWidth;
  const int left = ColumnLeft(column) - fixed;
  const int right = ColumnLeft(column + 1) - fixed;
  const int visible = viewport()->width() - fixed;
  if (left < bar->value()) {
    bar->setValue(left);
  } else if (right > bar->value() + visible) {
    bar->setValue(std::min(left, right - visible));
  }
}

void TDBGrid::SyncScrollBar() {
  scrollBarDirty_ = false;
  QScrollBar* bar = verticalScrollBar();
  const QSignalBlocker block(bar);
  bar->setPageStep(FullRowCount());
  TDataSet* ds = ActiveDataSet();
  if (ds == nullptr) {
    bar->setRange(0, 0);
    return;
  }
  Guarded([&] {
    if (!ds->IsSequenced()) {
      // Without record numbers the bar says only: at the start, somewhere
      // between, at the end.
      bar->setRange(0, kUnsequencedEnd);
      bar->setPageStep(1);
      bar->setValue(ds->Bof() ? 0 : ds->Eof() ? kUnsequencedEnd : kUnsequencedEnd / 2);
      return;
    }
    const int count = ds->RecordCount();
    bar->setRange(count > 0 ? 1 : 0, std::max(0, count));
    // A record being inserted has no number yet: the bar stays where it was.
    if (ds->State() != TDataSetState::dsInsert) bar->setValue(ds->RecNo());
  });
}

void TDBGrid::ScrollBarAction(int action) {
  TDataSet* ds = ActiveDataSet();
  if (ds == nullptr) return;
  QScrollBar* bar = verticalScrollBar();
  const int target = bar->sliderPosition();
  Guarded([&] {
    switch (action) {
      case QAbstractSlider::SliderSingleStepAdd:
        ds->Next();
        break;
      case QAbstractSlider::SliderSingleStepSub:
        ds->Prior();
        break;
      case QAbstractSlider::SliderPageStepAdd:
        ds->MoveBy(FullRowCount());
        break;
      case QAbstractSlider::SliderPageStepSub:
        ds->MoveBy(-FullRowCount());
        break;
      case QAbstractSlider::SliderToMinimum:
        ds->First();
        break;
      case QAbstractSlider::SliderToMaximum:
        ds->Last();
        break;
      case QAbstractSlider::SliderMove:
        // Dragging the thumb (or the wheel over the bar): that record number,
        // or without numbers the start or the end.
        if (!ds->IsSequenced()) {
          if (target <= 0) ds->First();
          if (target >= kUnsequencedEnd) ds->Last();
        } else if (target >= 1 && target != ds->RecNo()) {
          ds->SetRecNo(target);
        }
        break;
      default:
        break;
    }
  });
  // The bar applies its slider position once this signal returns: make that
  // the record number the dataset reached.
  SyncScrollBar();
  const QSignalBlocker block(bar);
  bar->setSliderPosition(bar->value());
}

void TDBGrid::keyPressEvent(QKeyEvent* event) {
  const bool ctrl = event->modifiers().testFlag(Qt::ControlModifier);
  TDataSet* ds = ActiveDataSet();
  switch (event->key()) {
    case Qt::Key_Up:
      if (ds) Guarded([&] { ds->Prior(); });
      break;
    case Qt::Key_Down:
      if (ds) Guarded([&] { ds->Next(); });
      break;
    case Qt::Key_PageUp:
      if (ds) Guarded([&] { ds->MoveBy(-FullRowCount()); });
      break;
    case Qt::Key_PageDown:
      if (ds) Guarded([&] { ds->MoveBy(FullRowCount()); });
      break;
    case Qt::Key_Home:
      if (!ctrl) {
        SetSelectedColumn(0);
      } else if (ds) {
        Guarded([&] { ds->First(); });
      }
      break;
    case Qt::Key_End:
      if (!ctrl) {
        SetSelectedColumn(ColumnCount() - 1);
      } else if (ds) {
        Guarded([&] { ds->Last(); });
      }
      break;
    case Qt::Key_Left:
      SetSelectedColumn(selectedColumn_ - 1);
      break;
    case Qt::Key_Right:
      SetSelectedColumn(selectedColumn_ + 1);
      break;
    default:
      // Tab and Shift+Tab never get here (the focus chain takes them); any
      // other key is the parent's.
      event->ignore();
      return;
  }
  event->accept();
}

void TDBGrid::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    QAbstractScrollArea::mousePressEvent(event);
    return;
  }
  setFocus(Qt::MouseFocusReason);
  const QPoint pos = event->position().toPoint();
  const int column = ColumnAt(pos.x());
  if (column >= 0) SetSelectedColumn(column);
  const int y = pos.y() - TitleHeight();
  TDataSet* ds = ActiveDataSet();
  if (y >= 0 && ds != nullptr) {
    const int row = y / RowHeight();
    Guarded([&] {
      if (row < link_->RecordCount()) ds->MoveBy(row - link_->ActiveRecord());
    });
  }
  event->accept();
}

void TDBGrid::mouseReleaseEvent(QMouseEvent* event) {
  // The press did the work; the release only ends the click.
  event->setAccepted(event->button() == Qt::LeftButton);
}

void TDBGrid::wheelEvent(QWheelEvent* event) {
  TDataSet* ds = ActiveDataSet();
  if (ds == nullptr) {
    event->ignore();
    return;
  }
  // Whole notches only; a touchpad's small deltas add up.
  wheelRemainder_ += event->angleDelta().y();
  const int notches = wheelRemainder_ / QWheelEvent::DefaultDeltasPerStep;
  wheelRemainder_ -= notches * QWheelEvent::DefaultDeltasPerStep;
  if (notches != 0) {
    const int records = -notches * QApplication::wheelScrollLines();
    Guarded([&] { ds->MoveBy(records); });
  }
  event->accept();
}

void TDBGrid::focusInEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusInEvent(event);
  viewport()->update();
}

void TDBGrid::focusOutEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusOutEvent(event);
  viewport()->update();
}

void TDBGrid::hideEvent(QHideEvent* event) {
  QAbstractScrollArea::hideEvent(event);
  // A hidden widget drops its update requests; showing it paints it whole.
  updatePending_ = false;
}

void TDBGrid::changeEvent(QEvent* event) {
  QAbstractScrollArea::changeEvent(event);
  // A style sheet may change the look under the same style object: the
  // kept title row is drawn anew after any change of the widget's state.
  if (titleCache_ != nullptr) titleCache_->Invalidate();
  if (event->type() == QEvent::FontChange) {
    UpdateBufferCount();
    viewport()->update();
  }
}

void TDBGrid::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  UpdateHorizontalRange();
  UpdateBufferCount();
}

void TDBGrid::scrollContentsBy(int, int) {
  // Rows are not scrolled by pixels: the vertical bar stands for the record
  // number, and the horizontal offset is read when painting.
  viewport()->update();
}

void TDBGrid::paintEvent(QPaintEvent*) {
  updatePending_ = false;
  if (scrollBarDirty_) SyncScrollBar();
  TGridCells cells;
  if (!Guarded([&] { cells = CellsToPaint(); })) {
    // The rows could not be read (reported): paint the titles alone.
    cells = TGridCells();
    for (const TGridColumn& column : columns_) {
      cells.titles.push_back(column.title.isEmpty() ? column.fieldName : column.title);
      cells.alignments.push_back(Qt::AlignLeft);
    }
  }
  NotifyCurrentCell(cells);
  QPainter p(viewport());
  p.fillRect(viewport()->rect(), palette().color(QPalette::Base));
  TGridPainter::TGeometry geometry;
  geometry.titleHeight = TitleHeight();
  geometry.rowHeight = RowHeight();
  geometry.offset = horizontalScrollBar()->value();
  geometry.selectedColumn = selectedColumn_;
  geometry.focused = hasFocus();
  TGridPainter(p, *this, columns_, viewport()->width(), textCache_.get(), titleCache_.get())
      .Paint(cells, geometry, titleFont_);
}

void TDBGrid::NotifyCurrentCell(const TGridCells& cells) {
  // Assistive tools hear of the current cell once per paint that follows a
  // change of the data or of the current column.
  if (announcedChange_ == changeCount_) return;
  announcedChange_ = changeCount_;
  if (!QAccessible::isActive() || cells.activeRow < 0) return;
  const auto row = static_cast<std::size_t>(cells.activeRow);
  const auto column = static_cast<std::size_t>(selectedColumn_);
  if (row >= cells.rows.size() || column >= cells.rows[row].size()) return;
  QAccessibleValueChangeEvent event(this, cells.rows[row][column]);
  QAccessible::updateAccessibility(&event);
}

}  // namespace platform
