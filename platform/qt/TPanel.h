// Widget glue for the window's panels and clickable labels.
//
// TPanel is a framed area with an outer and an inner bevel and a centred
// caption, as the window's panels are drawn; children laid over it hide the
// caption. Its client rectangle (inside the bevels) is where docked children
// go. TClickLabel is a label that reports a left-button click; it takes the
// keyboard focus (Tab or a click), shows it with a focus frame, and reports
// Enter, Return or Space as a click, so a link works without a mouse.
#pragma once

#include <QLabel>
#include <QWidget>

namespace platform {

class TPanel : public QWidget {
  Q_OBJECT

 public:
  enum class TBevel { None, Lowered, Raised };

  explicit TPanel(QWidget* parent = nullptr);

  void SetBevelOuter(TBevel bevel);
  void SetBevelInner(TBevel bevel);
  TBevel BevelOuter() const { return outer_; }
  TBevel BevelInner() const { return inner_; }
  void SetCaption(const QString& caption);
  QString Caption() const { return caption_; }

  // The area inside the bevels, in the panel's coordinates.
  QRect ClientRect() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  TBevel outer_ = TBevel::Raised;
  TBevel inner_ = TBevel::None;
  QString caption_;
};

class TClickLabel : public QLabel {
  Q_OBJECT

 public:
  explicit TClickLabel(QWidget* parent = nullptr);
  explicit TClickLabel(const QString& text, QWidget* parent = nullptr);

 signals:
  void clicked();

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace platform
