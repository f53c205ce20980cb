// A fixed-size label that never shows a misleading part of its text: a text
// wider than the label is drawn shortened with "…" at its end, and the whole
// text becomes the label's tooltip. text() stays the full text; only the
// drawing and the tooltip change. A tooltip the owner set itself is kept
// (the label only replaces or clears the tooltips it set).
//
// The label has no change signal for its text, so the tooltip is brought up
// to date whenever the label paints and just before a tooltip is shown.
// Plain text only (rich text is drawn as QLabel draws it). GUI thread only.
#pragma once

#include <QLabel>

namespace platform {

class TElidedLabel : public QLabel {
  Q_OBJECT

 public:
  explicit TElidedLabel(QWidget* parent = nullptr);

  // The text as drawn at the label's current size and font.
  QString DisplayedText() const;
  // Whether the text is wider than the label.
  bool IsElided() const;
  // Sets or clears the tooltip the label owns for the current text.
  void SyncToolTip();

 protected:
  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  int AvailableWidth() const;

  QString ownToolTip_;  // the tooltip this label set; empty when none
  // The last measured text, with the width and font it was measured for,
  // and whether it was wider: a paint measures its text once (the tooltip
  // and the drawing ask both), and not at all while nothing changed.
  mutable QString measuredText_;
  mutable QFont measuredFont_;
  mutable int measuredWidth_ = -1;
  mutable bool measuredElided_ = false;
};

}  // namespace platform
