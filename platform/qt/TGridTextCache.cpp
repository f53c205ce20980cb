#include "platform/qt/TGridTextCache.h"

#include <QPaintDevice>
#include <QPainter>
#include <QRect>
#include <QTextOption>

namespace platform {

namespace {

// Line width of an unwrapped text: wide enough for any cell text.
constexpr qreal kUnwrappedLineWidth = 0x01000000;

// Whether drawText would lay `text` out as its one line, unchanged: no
// character it replaces or breaks at, no blank it would trim or keep.
bool PlainLine(const QString& text) {
  if (text.isEmpty() || text.front().isSpace() || text.back().isSpace()) return false;
  for (const QChar c : text) {
    const char16_t u = c.unicode();
    if (u < 0x20 || (u >= 0x7f && u <= 0x9f) || u == QChar::LineSeparator ||
        u == QChar::ParagraphSeparator) {
      return false;
    }
  }
  return true;
}

}  // namespace

void TGridTextCache::BeginPaint(const QPainter& p) {
  const QFont& font = p.font();
  usable_ = p.layoutDirection() == Qt::LeftToRight && !font.underline() && !font.overline() &&
            !font.strikeOut();
  const int dpi = p.device() != nullptr ? p.device()->logicalDpiY() : 0;
  if (!(font == font_) || dpi != dpi_) {
    current_.clear();
    previous_.clear();
    font_ = font;
    dpi_ = dpi;
  }
  previous_.swap(current_);
  current_.clear();
}

TGridTextCache::TEntry TGridTextCache::Layout(const QString& text) const {
  TEntry entry;
  if (!PlainLine(text)) return entry;
  // The layout drawText makes for one unwrapped line: left-aligned in a line
  // wide enough for anything, at the origin.
  auto layout = std::make_unique<QTextLayout>(text, font_);
  layout->setCacheEnabled(true);
  QTextOption option = layout->textOption();
  option.setTextDirection(Qt::LeftToRight);
  option.setAlignment(Qt::AlignLeft);
  layout->setTextOption(option);
  layout->beginLayout();
  QTextLine line = layout->createLine();
  if (!line.isValid()) {
    layout->endLayout();
    return entry;
  }
  line.setLineWidth(kUnwrappedLineWidth);
  line.setPosition(QPointF(0, 0));
  const bool more = layout->createLine().isValid();
  layout->endLayout();
  if (more) return entry;
  entry.width = line.naturalTextWidth();
  entry.advance = line.horizontalAdvance();
  entry.height = line.ascent() + line.descent();
  entry.layout = std::move(layout);
  return entry;
}

const TGridTextCache::TEntry& TGridTextCache::Find(const QString& text) {
  if (auto it = current_.find(text); it != current_.end()) return it->second;
  if (auto node = previous_.extract(text); !node.empty()) {
    return current_.insert(std::move(node)).position->second;
  }
  return current_.emplace(text, Layout(text)).first->second;
}

void TGridTextCache::DrawText(QPainter& p, const QRect& rect, int flags, const QString& text) {
  if (text.isEmpty() || p.pen().style() == Qt::NoPen) return;  // drawText draws nothing
  const TEntry* entry = usable_ ? &Find(text) : nullptr;
  if (entry == nullptr || !entry->layout) {
    p.drawText(rect, flags, text);
    return;
  }
  // The offsets drawText gives a single line in its rect.
  const QRectF r(rect);
  qreal yoff = 0;
  if (flags & Qt::AlignBottom) {
    yoff = r.height() - entry->height;
  } else if (flags & Qt::AlignVCenter) {
    yoff = (r.height() - entry->height) / 2;
  }
  qreal boundsX = 0;
  qreal xoff = 0;
  if (flags & Qt::AlignRight) {
    boundsX = r.width() - entry->width;
    xoff = r.width() - entry->advance;
  } else if (flags & Qt::AlignHCenter) {
    boundsX = (r.width() - entry->width) / 2;
    xoff = (r.width() - entry->advance) / 2;
  }
  // A text that leaves its rect is clipped by drawText: let it do that.
  if (!r.contains(QRectF(r.x() + boundsX, r.y() + yoff, entry->width, entry->height))) {
    p.drawText(rect, flags, text);
    return;
  }
  entry->layout->lineAt(0).draw(&p, QPointF(r.x() + xoff, r.y() + yoff));
}

}  // namespace platform
