#include "app/ImageControl.h"

#include <QMouseEvent>

namespace app {

void TImage::mousePressEvent(QMouseEvent* event) {
  emit MouseDown(event->button());
  event->accept();
}

void TImage::mouseReleaseEvent(QMouseEvent* event) {
  event->accept();
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) emit Click();
}

}  // namespace app
