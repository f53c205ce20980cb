#include "platform/qt/TElidedLabel.h"

#include <QEvent>
#include <QFontMetrics>
#include <QPainter>
#include <QStyle>

namespace platform {

TElidedLabel::TElidedLabel(QWidget* parent) : QLabel(parent) {}

int TElidedLabel::AvailableWidth() const {
  return contentsRect().width() - 2 * std::max(0, indent());
}

bool TElidedLabel::IsElided() const {
  if (textFormat() == Qt::RichText || wordWrap()) return false;
  const QString full = text();
  if (full.isEmpty()) return false;
  const int available = AvailableWidth();
  if (available != measuredWidth_ || full != measuredText_ || !(font() == measuredFont_)) {
    measuredElided_ = fontMetrics().horizontalAdvance(full) > available;
    measuredText_ = full;
    measuredFont_ = font();
    measuredWidth_ = available;
  }
  return measuredElided_;
}

QString TElidedLabel::DisplayedText() const {
  if (!IsElided()) return text();
  return fontMetrics().elidedText(text(), Qt::ElideRight, AvailableWidth());
}

void TElidedLabel::SyncToolTip() {
  const bool ours = !ownToolTip_.isEmpty() && toolTip() == ownToolTip_;
  if (!ours && !toolTip().isEmpty()) return;  // the owner's own tooltip
  const QString wanted = IsElided() ? text() : QString();
  ownToolTip_ = wanted;
  if (toolTip() != wanted) setToolTip(wanted);
}

bool TElidedLabel::event(QEvent* event) {
  if (event->type() == QEvent::ToolTip) SyncToolTip();
  return QLabel::event(event);
}

void TElidedLabel::paintEvent(QPaintEvent* event) {
  SyncToolTip();
  if (!IsElided()) {
    QLabel::paintEvent(event);
    return;
  }
  QPainter p(this);
  drawFrame(&p);
  QRect r = contentsRect();
  if (indent() > 0) r.adjust(indent(), 0, -indent(), 0);
  // Always from the left: the start of a number is the part that tells its
  // size, whatever the label's alignment.
  const Qt::Alignment vertical = alignment() & Qt::AlignVertical_Mask;
  style()->drawItemText(&p, r, int(Qt::AlignLeft | vertical), palette(), isEnabled(),
                        DisplayedText(), foregroundRole());
}

}  // namespace platform
