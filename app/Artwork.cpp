#include "app/Artwork.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace app {

namespace {

QPixmap Blank(QSize size) {
  QPixmap pixmap(size);
  pixmap.fill(Qt::transparent);
  return pixmap;
}

void Antialias(QPainter& painter) { painter.setRenderHint(QPainter::Antialiasing); }

}  // namespace

QPixmap HeaderPicture(QSize size) {
  QPixmap pixmap(size);
  QPainter painter(&pixmap);
  QLinearGradient band(0, 0, size.width(), size.height());
  band.setColorAt(0.0, QColor(0x1F, 0x4E, 0x8C));
  band.setColorAt(1.0, QColor(0x4C, 0x8F, 0xD6));
  painter.fillRect(pixmap.rect(), band);
  // A soft highlight line where the strip meets the window.
  painter.setPen(QColor(255, 255, 255, 90));
  painter.drawLine(0, size.height() - 1, size.width(), size.height() - 1);
  return pixmap;
}

QPixmap LogoPicture(QSize size) {
  QPixmap pixmap = Blank(size);
  QPainter painter(&pixmap);
  Antialias(painter);
  const QRectF film(6, 2, size.width() - 12, size.height() - 4);
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(0x20, 0x20, 0x20));
  painter.drawRoundedRect(film, 3, 3);
  // Sprocket holes along both edges of the strip.
  painter.setBrush(Qt::white);
  for (qreal x = film.left() + 3; x + 3 < film.right(); x += 6) {
    painter.drawRect(QRectF(x, film.top() + 2, 3, 3));
    painter.drawRect(QRectF(x, film.bottom() - 5, 3, 3));
  }
  QPainterPath play;
  const QPointF c = film.center();
  play.moveTo(c.x() - 5, c.y() - 7);
  play.lineTo(c.x() + 8, c.y());
  play.lineTo(c.x() - 5, c.y() + 7);
  play.closeSubpath();
  painter.setBrush(QColor(0xFF, 0xB3, 0x2E));
  painter.drawPath(play);
  return pixmap;
}

QPixmap ExitPicture(QSize size) {
  QPixmap pixmap = Blank(size);
  QPainter painter(&pixmap);
  Antialias(painter);
  const QRectF ring = QRectF(pixmap.rect()).adjusted(6, 6, -6, -6);
  painter.setPen(QPen(Qt::white, 2.5));
  painter.setBrush(QColor(255, 255, 255, 40));
  painter.drawEllipse(ring);
  const QRectF cross = ring.adjusted(9, 9, -9, -9);
  painter.setPen(QPen(Qt::white, 2.5, Qt::SolidLine, Qt::RoundCap));
  painter.drawLine(cross.topLeft(), cross.bottomRight());
  painter.drawLine(cross.topRight(), cross.bottomLeft());
  return pixmap;
}

QIcon ButtonImage(TButtonImage image) {
  QPixmap pixmap = Blank(QSize(16, 16));
  QPainter painter(&pixmap);
  Antialias(painter);
  switch (image) {
    case biStart: {
      QPainterPath play;
      play.moveTo(4, 2);
      play.lineTo(14, 8);
      play.lineTo(4, 14);
      play.closeSubpath();
      painter.fillPath(play, QColor(0x3C, 0xB3, 0x4A));
      break;
    }
    case biPictures:
      painter.setPen(QPen(QColor(0x3C, 0xB3, 0x4A), 3, Qt::SolidLine, Qt::RoundCap));
      painter.drawLine(8, 3, 8, 13);
      painter.drawLine(3, 8, 13, 8);
      break;
    case biAudio:
      painter.setPen(QPen(QColor(0x4C, 0x8F, 0xD6), 2));
      painter.drawLine(QPointF(10, 2), QPointF(10, 11));
      painter.drawLine(QPointF(10, 2), QPointF(14, 4));
      painter.setPen(Qt::NoPen);
      painter.setBrush(QColor(0x4C, 0x8F, 0xD6));
      painter.drawEllipse(QPointF(7.5, 12), 3, 2.5);
      break;
    case biClear:
      painter.setPen(QPen(QColor(0xD9, 0x4A, 0x3D), 2.5, Qt::SolidLine, Qt::RoundCap));
      painter.drawLine(4, 4, 12, 12);
      painter.drawLine(12, 4, 4, 12);
      break;
  }
  return QIcon(pixmap);
}

}  // namespace app
