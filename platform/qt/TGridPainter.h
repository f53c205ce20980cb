// The data grid's column list, what one paint shows, and the painter that
// draws it. The painter knows nothing of datasets: it draws the texts it is
// given at the geometry it is given, so the grid decides alone what is read.
//
// Layout in viewport pixels: the title row on top (titleHeight, its line
// included), the data rows below it (rowHeight each, line included); the
// indicator column (kIndicatorWidth plus a line) stays at the left while the
// columns scroll horizontally by `offset` pixels. Each cell is followed by a
// one-pixel line to its right and below it.
#pragma once

#include <QFont>
#include <QPixmap>
#include <QString>
#include <vector>

class QPainter;
class QRect;
class QWidget;

namespace platform {

// One column of the grid's column list.
struct TGridColumn {
  QString fieldName;
  int width = 64;
  // The title row's text; empty means the field's display label.
  QString title;
};

// What one paint reads from the data link: the titles, each visible row's
// cell texts and each column's alignment, and where the current record is.
struct TGridCells {
  enum class TIndicator { None, Browse, Edit, Insert };

  std::vector<QString> titles;
  std::vector<Qt::Alignment> alignments;
  std::vector<std::vector<QString>> rows;
  int activeRow = -1;  // row of the current record, -1 without one
  TIndicator indicator = TIndicator::None;
};

// Width of the indicator column and of the row and column lines, pixels.
inline constexpr int kGridIndicatorWidth = 11;
inline constexpr int kGridLineWidth = 1;

// Left edge of `column` in content pixels (before the horizontal offset);
// column == columns.size() gives the content width.
int GridColumnLeft(const std::vector<TGridColumn>& columns, int column);

class TGridTextCache;

// The title row as last drawn, kept as a picture of its band (the viewport's
// full width, the title's height) and drawn again while nothing it depends
// on has changed: the titles, the column widths, the horizontal offset, the
// viewport's width, the title's height and font, the widget's palette,
// style, enabled state and direction, and the device's pixel ratio and
// resolution; it is used only where its pixels fall one to one on the
// device's. The grid also drops it on every change event of its own (a
// style sheet can change the look under the same style object). Only a band
// over an opaque background at a whole pixel ratio is kept; otherwise the
// title is drawn directly. Owned by the grid; GUI thread only.
class TGridTitleCache {
 public:
  struct TKey {
    std::vector<QString> titles;
    std::vector<int> widths;
    int offset = 0;
    int width = 0;
    int height = 0;
    QFont font;
    qint64 palette = 0;
    const void* style = nullptr;
    bool enabled = false;
    Qt::LayoutDirection direction = Qt::LeftToRight;
    qreal ratio = 0;
    int dpi = 0;
    bool operator==(const TKey&) const = default;
  };

  // Whether the band can stand for the title drawn on `p` with `key`
  // (`key`'s ratio and resolution are filled in from `p`'s device). When
  // the kept band was drawn for another key, it is made anew, empty, and
  // Valid() is false until SetValid(): the caller draws the title into it.
  bool Prepare(const QPainter& p, const QWidget& widget, TKey key);
  bool Valid() const { return valid_; }
  void Invalidate() { valid_ = false; }
  void SetValid() { valid_ = true; }
  QPixmap& Band() { return band_; }

 private:
  TKey key_;
  QPixmap band_;
  bool valid_ = false;
};

class TGridPainter {
 public:
  struct TGeometry {
    int titleHeight = 0;
    int rowHeight = 0;
    int offset = 0;  // horizontal scroll, pixels
    int selectedColumn = 0;
    bool focused = false;  // the current cell is highlighted only with focus
  };

  // Borrows all of them for the painter's lifetime; `widget` gives palette,
  // style and size (the viewport's owner, whose viewport `p` paints).
  // `texts` draws the cell texts and `title` keeps the title row; nullptr
  // draws each text with QPainter::drawText and the title with the style.
  // REQUIRES: cells' titles, alignments and each row have one entry per column.
  TGridPainter(QPainter& p, const QWidget& widget, const std::vector<TGridColumn>& columns,
               int viewportWidth, TGridTextCache* texts = nullptr,
               TGridTitleCache* title = nullptr);

  void Paint(const TGridCells& cells, const TGeometry& geometry, const QFont& titleFont);

 private:
  void PaintTitle(const TGridCells& cells, const TGeometry& g, const QFont& titleFont);
  TGridTitleCache::TKey TitleKey(const TGridCells& cells, const TGeometry& g,
                                 const QFont& titleFont) const;
  // Draws the title row on `p` (the widget's painter or the kept band's).
  void DrawTitle(QPainter& p, const TGridCells& cells, const TGeometry& g,
                 const QFont& titleFont) const;
  void PaintRows(const TGridCells& cells, const TGeometry& g);
  void PaintIndicator(const QRect& cell, TGridCells::TIndicator kind);

  QPainter& p_;
  const QWidget& widget_;
  const std::vector<TGridColumn>& columns_;
  int width_;
  TGridTextCache* texts_;
  TGridTitleCache* title_;
};

}  // namespace platform
