#pragma once
// A picture control that reports mouse-down and click, like the design's
// picture controls (the header strip and the exit picture).
#include <QLabel>

namespace app {

class TImage : public QLabel {
  Q_OBJECT

 public:
  using QLabel::QLabel;

 signals:
  void MouseDown(Qt::MouseButton button);
  // Press and release of the left button inside the picture.
  void Click();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
};

}  // namespace app
