#include "app/PictureFrameSource.h"

#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QSize>
#include <QString>
#include <stdexcept>

#include "log/FFLog.h"

namespace app {
namespace {

QImage::Format QtFormatOf(const platform::TBitmap& surface) {
  switch (surface.PixelFormat()) {
    case platform::pf24bit: return QImage::Format_BGR888;
    case platform::pf32bit: return QImage::Format_ARGB32;
    case platform::pf15bit: return QImage::Format_RGB555;
    case platform::pf16bit: return QImage::Format_RGB16;
    case platform::pf8bit: break;
  }
  // QPainter cannot paint on an indexed image.
  throw std::runtime_error("Pictures cannot be painted on an 8-bit drawing surface");
}

// Bitmaps by the BMP reader, everything else by the JPEG reader; content
// of another format fails instead of being guessed. The picture comes
// upright (a camera's orientation mark is applied) and already at the
// surface size: the JPEG reader then decodes a large photo at a fraction of
// its size, which is far quicker than decoding it whole.
QImage LoadPicture(const std::string& path, QSize size) {
  const bool isBitmap = QString::fromStdString(ExtractFileExt(path)).compare(".bmp", Qt::CaseInsensitive) == 0;
  QImageReader reader(QString::fromUtf8(path), isBitmap ? "BMP" : "JPEG");
  reader.setAutoDetectImageFormat(false);
  reader.setAutoTransform(true);
  // The size applies before the orientation mark turns the picture.
  if (reader.transformation() & QImageIOHandler::TransformationRotate90) size.transpose();
  reader.setScaledSize(size);
  QImage picture = reader.read();
  if (picture.isNull())
    throw std::runtime_error("Cannot load picture \"" + path + "\": " + reader.errorString().toStdString());
  return picture;
}

void PaintStretched(const QImage& picture, platform::TBitmap& surface) {
  QImage target(surface.Bits(), surface.Width(), surface.Height(), surface.BytesPerLine(), QtFormatOf(surface));
  QPainter painter(&target);
  painter.setCompositionMode(QPainter::CompositionMode_Source);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.drawImage(target.rect(), picture);
}

}  // namespace

std::string ExtractFileExt(const std::string& path) {
  const std::size_t at = path.find_last_of("./");
  return at != std::string::npos && path[at] == '.' ? path.substr(at) : std::string();
}

std::int32_t TPictureFrameSource::ReadFrameCanvas(frameinput::TFrameInputAdapter*, platform::TBitmap& ACanvas,
                                                  frameinput::TInputFrameInfo* AFrameInfo) {
  const std::int64_t n = AFrameInfo->FrameNumber;
  const std::int64_t c = static_cast<std::int64_t>(Pictures.size());
  fflog::GetLogger()->Log(this, fflog::llVerbose, "FrameInput [Canvas] read frame #%d", AFrameInfo->FrameNumber);

  // Past the last picture only one frame more is served, and only when
  // pictures are timed: it keeps the last one on screen for its full time.
  const bool extraFrame = n == c + 1 && FrameDelay > 0;
  if (c == 0 || n < 1 || (n > c && !extraFrame)) {
    if (BreakWhenNoPictures && OnStopRequest) OnStopRequest();
    return -1;
  }
  const std::size_t index = static_cast<std::size_t>(extraFrame ? c - 1 : n - 1);
  PaintStretched(LoadPicture(Pictures[index], QSize(ACanvas.Width(), ACanvas.Height())), ACanvas);

  if (FrameDelay > 0) {
    std::int64_t stamp = 0;
    if (__builtin_mul_overflow(FrameDelay, n - 1, &stamp))
      throw std::runtime_error("The display time per picture is too long");
    AFrameInfo->TimeStamp = stamp;
  }
  return 0;
}

frameinput::TReadFrameCanvasEvent TPictureFrameSource::Handler() {
  return [this](frameinput::TFrameInputAdapter* sender, platform::TBitmap& canvas,
                frameinput::TInputFrameInfo* info) { return ReadFrameCanvas(sender, canvas, info); };
}

}  // namespace app
