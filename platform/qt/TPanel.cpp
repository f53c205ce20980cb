#include "platform/qt/TPanel.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>

namespace platform {

TPanel::TPanel(QWidget* parent) : QWidget(parent) {}

void TPanel::SetBevelOuter(TBevel bevel) {
  outer_ = bevel;
  update();
}

void TPanel::SetBevelInner(TBevel bevel) {
  inner_ = bevel;
  update();
}

void TPanel::SetCaption(const QString& caption) {
  caption_ = caption;
  update();
}

QRect TPanel::ClientRect() const {
  int inset = 0;
  if (outer_ != TBevel::None) ++inset;
  if (inner_ != TBevel::None) ++inset;
  return rect().adjusted(inset, inset, -inset, -inset);
}

void TPanel::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QPalette& pal = palette();
  QRect r = rect();
  // One-pixel bevel: light top-left and dark bottom-right when raised, the
  // other way round when lowered.
  auto frame = [&](TBevel bevel) {
    if (bevel == TBevel::None) return;
    const QColor topLeft =
        bevel == TBevel::Raised ? pal.color(QPalette::Light) : pal.color(QPalette::Dark);
    const QColor bottomRight =
        bevel == TBevel::Raised ? pal.color(QPalette::Dark) : pal.color(QPalette::Light);
    p.setPen(topLeft);
    p.drawLine(r.topLeft(), r.topRight());
    p.drawLine(r.topLeft(), r.bottomLeft());
    p.setPen(bottomRight);
    p.drawLine(r.bottomLeft(), r.bottomRight());
    p.drawLine(r.topRight(), r.bottomRight());
    r.adjust(1, 1, -1, -1);
  };
  frame(outer_);
  frame(inner_);
  if (!caption_.isEmpty()) {
    p.setPen(pal.color(QPalette::WindowText));
    p.drawText(r, Qt::AlignCenter, caption_);
  }
}

TClickLabel::TClickLabel(QWidget* parent) : QLabel(parent) {
  setFocusPolicy(Qt::StrongFocus);
}

TClickLabel::TClickLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
  setFocusPolicy(Qt::StrongFocus);
}

void TClickLabel::keyPressEvent(QKeyEvent* event) {
  const int key = event->key();
  if ((key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) &&
      !event->isAutoRepeat()) {
    event->accept();
    emit clicked();
    return;
  }
  QLabel::keyPressEvent(event);
}

void TClickLabel::paintEvent(QPaintEvent* event) {
  QLabel::paintEvent(event);
  if (!hasFocus()) return;
  QPainter p(this);
  QStyleOptionFocusRect option;
  option.initFrom(this);
  option.rect = contentsRect().adjusted(1, 1, -1, -1);
  option.backgroundColor = palette().color(QPalette::Window);
  style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &p, this);
}

void TClickLabel::mouseReleaseEvent(QMouseEvent* event) {
  QLabel::mouseReleaseEvent(event);
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
    emit clicked();
  }
}

}  // namespace platform
