#include "platform/qt/TGridPainter.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPolygon>
#include <QStyle>
#include <QStyleOptionHeader>
#include <QWidget>
#include <algorithm>
#include <cmath>

#include "platform/qt/TGridTextCache.h"

namespace platform {

namespace {

// Padding between a cell's edge and its text.
constexpr int kTextPadding = 2;

}  // namespace

bool TGridTitleCache::Prepare(const QPainter& p, const QWidget& widget, TKey key) {
  const QPaintDevice* device = p.device();
  if (device == nullptr) return false;
  key.ratio = device->devicePixelRatio();
  key.dpi = device->logicalDpiY();
  const QColor base = widget.palette().color(QPalette::Base);
  if (key.ratio != std::floor(key.ratio) || base.alpha() != 255 || key.width <= 0 ||
      key.height <= 0) {
    return false;
  }
  // The band stands for the drawing only where its pixels fall one to one on
  // the device's (a widget rendered into a scaled painter is drawn directly).
  const QTransform t = p.deviceTransform();
  if (t.type() > QTransform::TxScale || t.m11() != key.ratio || t.m22() != key.ratio ||
      t.dx() != std::round(t.dx()) || t.dy() != std::round(t.dy())) {
    return false;
  }
  if (valid_ && key == key_) return true;
  valid_ = false;
  const int ratio = static_cast<int>(key.ratio);
  QPixmap band(key.width * ratio, key.height * ratio);
  band.setDevicePixelRatio(key.ratio);
  // The title's fonts resolve against the band as against the device.
  if (band.logicalDpiY() != key.dpi) return false;
  band.fill(base);  // what the viewport's background gave the title's band
  band_ = std::move(band);
  key_ = std::move(key);
  return true;
}

int GridColumnLeft(const std::vector<TGridColumn>& columns, int column) {
  int x = kGridIndicatorWidth + kGridLineWidth;
  for (int i = 0; i < column; ++i) x += columns[static_cast<std::size_t>(i)].width + kGridLineWidth;
  return x;
}

TGridPainter::TGridPainter(QPainter& p, const QWidget& widget,
                           const std::vector<TGridColumn>& columns, int viewportWidth,
                           TGridTextCache* texts, TGridTitleCache* title)
    : p_(p),
      widget_(widget),
      columns_(columns),
      width_(viewportWidth),
      texts_(texts),
      title_(title) {}

void TGridPainter::Paint(const TGridCells& cells, const TGeometry& geometry,
                         const QFont& titleFont) {
  PaintRows(cells, geometry);
  PaintTitle(cells, geometry, titleFont);
}

void TGridPainter::PaintTitle(const TGridCells& cells, const TGeometry& g, const QFont& titleFont) {
  if (title_ == nullptr || !title_->Prepare(p_, widget_, TitleKey(cells, g, titleFont))) {
    DrawTitle(p_, cells, g, titleFont);
    return;
  }
  if (!title_->Valid()) {
    QPainter band(&title_->Band());
    // The state of a painter begun on the widget, as the title is drawn.
    band.setLayoutDirection(p_.layoutDirection());
    band.setRenderHints(p_.renderHints());
    band.setPen(p_.pen());
    band.setBrush(p_.brush());
    band.setBackground(p_.background());
    DrawTitle(band, cells, g, titleFont);
    band.end();
    title_->SetValid();
  }
  p_.drawPixmap(0, 0, title_->Band());
}

TGridTitleCache::TKey TGridPainter::TitleKey(const TGridCells& cells, const TGeometry& g,
                                             const QFont& titleFont) const {
  TGridTitleCache::TKey key;
  key.titles = cells.titles;
  key.widths.reserve(columns_.size());
  for (const TGridColumn& column : columns_) key.widths.push_back(column.width);
  key.offset = g.offset;
  key.width = width_;
  key.height = g.titleHeight;
  key.font = titleFont;
  key.palette = widget_.palette().cacheKey();
  key.style = widget_.style();
  key.enabled = widget_.isEnabled();
  key.direction = widget_.layoutDirection();
  return key;
}

void TGridPainter::DrawTitle(QPainter& p, const TGridCells& cells, const TGeometry& g,
                             const QFont& titleFont) const {
  const int height = g.titleHeight - kGridLineWidth;
  const int offset = g.offset;
  const int fixed = kGridIndicatorWidth + kGridLineWidth;
  p.save();
  p.setFont(titleFont);
  QStyleOptionHeader opt;
  opt.initFrom(&widget_);
  opt.fontMetrics = QFontMetrics(titleFont);
  opt.state = QStyle::State_Raised | QStyle::State_Horizontal;
  if (widget_.isEnabled()) opt.state |= QStyle::State_Enabled;
  opt.orientation = Qt::Horizontal;
  opt.textAlignment = Qt::AlignLeft | Qt::AlignVCenter;
  p.setClipRect(QRect(fixed, 0, width_ - fixed, g.titleHeight));
  for (int c = 0; c < static_cast<int>(columns_.size()); ++c) {
    const int left = GridColumnLeft(columns_, c) - offset;
    const int width = columns_[static_cast<std::size_t>(c)].width + kGridLineWidth;
    if (left + width <= fixed) continue;
    if (left >= width_) break;
    opt.rect = QRect(left, 0, width, height + kGridLineWidth);
    opt.section = c;
    opt.text = cells.titles[static_cast<std::size_t>(c)];
    widget_.style()->drawControl(QStyle::CE_Header, &opt, &p, &widget_);
  }
  p.setClipping(false);
  opt.rect = QRect(0, 0, fixed, height + kGridLineWidth);
  opt.text.clear();
  opt.section = -1;
  widget_.style()->drawControl(QStyle::CE_Header, &opt, &p, &widget_);
  p.restore();
}

void TGridPainter::PaintRows(const TGridCells& cells, const TGeometry& g) {
  const QPalette& pal = widget_.palette();
  const int top0 = g.titleHeight;
  const int pitch = g.rowHeight;
  const int height = pitch - kGridLineWidth;
  const int offset = g.offset;
  const int fixed = kGridIndicatorWidth + kGridLineWidth;
  const int right =
      std::min(width_, GridColumnLeft(columns_, static_cast<int>(columns_.size())) - offset);
  const QColor line = pal.color(QPalette::Mid);
  const bool focused = g.focused;
  if (texts_ != nullptr) texts_->BeginPaint(p_);
  static const QString kNoText;

  for (std::size_t r = 0; r < cells.rows.size(); ++r) {
    const int top = top0 + static_cast<int>(r) * pitch;
    const bool current = static_cast<int>(r) == cells.activeRow;
    // Indicator column, fixed at the left.
    const QRect indicator(0, top, kGridIndicatorWidth, height);
    p_.fillRect(indicator, pal.color(QPalette::Button));
    if (current) PaintIndicator(indicator, cells.indicator);
    p_.fillRect(QRect(kGridIndicatorWidth, top, kGridLineWidth, pitch), line);
    p_.fillRect(QRect(0, top + height, fixed, kGridLineWidth), line);

    p_.save();
    p_.setClipRect(QRect(fixed, top, width_ - fixed, pitch));
    const std::vector<QString>& texts = cells.rows[r];
    for (int c = 0; c < static_cast<int>(columns_.size()); ++c) {
      const int left = GridColumnLeft(columns_, c) - offset;
      const int width = columns_[static_cast<std::size_t>(c)].width;
      if (left + width + kGridLineWidth <= fixed) continue;
      if (left >= width_) break;
      const QRect cell(left, top, width, height);
      const bool highlight = focused && current && c == g.selectedColumn;
      if (highlight) p_.fillRect(cell, pal.color(QPalette::Highlight));
      p_.setPen(pal.color(highlight ? QPalette::HighlightedText : QPalette::Text));
      const QRect textRect = cell.adjusted(kTextPadding, 0, -kTextPadding, 0);
      const int flags = static_cast<int>(cells.alignments[static_cast<std::size_t>(c)] |
                                         Qt::AlignVCenter | Qt::TextSingleLine);
      const QString& text =
          static_cast<std::size_t>(c) < texts.size() ? texts[static_cast<std::size_t>(c)] : kNoText;
      if (texts_ != nullptr) {
        texts_->DrawText(p_, textRect, flags, text);
      } else {
        p_.drawText(textRect, flags, text);
      }
      p_.fillRect(QRect(left + width, top, kGridLineWidth, pitch), line);
    }
    if (right > fixed) p_.fillRect(QRect(fixed, top + height, right - fixed, kGridLineWidth), line);
    p_.restore();
  }
}

void TGridPainter::PaintIndicator(const QRect& cell, TGridCells::TIndicator kind) {
  p_.save();
  p_.setRenderHint(QPainter::Antialiasing, false);
  const QColor color = widget_.palette().color(QPalette::ButtonText);
  const int cx = cell.center().x();
  const int cy = cell.center().y();
  switch (kind) {
    case TGridCells::TIndicator::Browse: {
      // A solid arrow pointing at the row.
      const QPolygon arrow({QPoint(cx - 2, cy - 4), QPoint(cx + 2, cy), QPoint(cx - 2, cy + 4)});
      p_.setPen(color);
      p_.setBrush(color);
      p_.drawPolygon(arrow);
      break;
    }
    case TGridCells::TIndicator::Edit:
      // An I-beam: the record is being edited.
      p_.setPen(color);
      p_.drawLine(cx, cy - 4, cx, cy + 4);
      p_.drawLine(cx - 2, cy - 4, cx + 2, cy - 4);
      p_.drawLine(cx - 2, cy + 4, cx + 2, cy + 4);
      break;
    case TGridCells::TIndicator::Insert:
      p_.setPen(color);
      p_.drawText(cell, Qt::AlignCenter, QStringLiteral("*"));
      break;
    case TGridCells::TIndicator::None:
      break;
  }
  p_.restore();
}

}  // namespace platform
