// The grid's cell texts, laid out once and drawn from the layout on every
// paint that shows them again.
//
// Laying out a text (shaping its glyphs and breaking its one line) costs
// more than drawing it, and a repaint mostly shows the texts of the paint
// before: the same years and months, the amounts of the last-but-one
// keystroke. DrawText draws exactly what QPainter::drawText(rect, flags,
// text) draws for a single-line cell text: the same one-line layout, placed
// at the same point by the same arithmetic, drawn by the same call; only
// the layout is kept instead of made anew.
//
// A layout depends on the text, the painter's font and its device's
// resolution, and nothing else, so the cache is keyed by the text and
// emptied when the font or the resolution differs from the last paint's. It holds the texts of
// the current and the previous paint only: BeginPaint drops what neither
// showed. Texts it cannot place as drawText would (control characters, line
// or paragraph separators, blanks at either end, a decorated font, a layout
// direction other than left-to-right, or a text that does not fit its rect
// and would be clipped) go to QPainter::drawText unchanged.
//
// Owned by the grid; GUI thread only.
#pragma once

#include <QFont>
#include <QHash>
#include <QString>
#include <QTextLayout>
#include <cstddef>
#include <memory>
#include <unordered_map>

class QPainter;
class QRect;

namespace platform {

class TGridTextCache {
 public:
  // Starts a paint with `p` (its font is the cells' font).
  void BeginPaint(const QPainter& p);
  // As p.drawText(rect, flags, text); `flags` are an alignment with
  // Qt::TextSingleLine and nothing else. REQUIRES: BeginPaint with `p`.
  void DrawText(QPainter& p, const QRect& rect, int flags, const QString& text);
  // Layouts kept (those of the current and the previous paint).
  std::size_t Size() const { return current_.size() + previous_.size(); }

 private:
  struct TEntry {
    std::unique_ptr<QTextLayout> layout;  // null: drawn by QPainter::drawText
    qreal width = 0;                      // natural width of the line
    qreal advance = 0;                    // horizontal advance of the line
    qreal height = 0;                     // ascent plus descent
  };
  struct THash {
    std::size_t operator()(const QString& s) const noexcept { return qHash(s); }
  };
  using TMap = std::unordered_map<QString, TEntry, THash>;

  const TEntry& Find(const QString& text);
  TEntry Layout(const QString& text) const;

  TMap current_;
  TMap previous_;
  QFont font_;
  int dpi_ = 0;
  bool usable_ = false;  // the painter's font and direction allow layouts
};

}  // namespace platform
