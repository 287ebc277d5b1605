#include "encoder/Previewer.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QString>
#include <QWidget>
#include <QWindow>
#include <functional>

#include "platform/MainThread.h"
#include "util/FFUtils.h"

namespace encoder {
namespace {

// bgr8 packs 3:3:2 bits (blue highest); Qt shows it through a colour table.
QList<QRgb> Bgr8Table() {
  QList<QRgb> table(256);
  for (int i = 0; i < 256; ++i) table[i] = qRgb((i & 7) * 255 / 7, ((i >> 3) & 7) * 255 / 7, (i >> 6) * 255 / 3);
  return table;
}

// A copy of the surface's pixels, which the engine reuses for the next
// picture.
QImage ImageOf(platform::TBitmap& bitmap) {
  QImage::Format format = QImage::Format_BGR888;
  switch (bitmap.PixelFormat()) {
    case platform::pf8bit: format = QImage::Format_Indexed8; break;
    case platform::pf15bit: format = QImage::Format_RGB555; break;
    case platform::pf16bit: format = QImage::Format_RGB16; break;
    case platform::pf24bit: format = QImage::Format_BGR888; break;
    case platform::pf32bit: format = QImage::Format_RGB32; break;
  }
  QImage image(bitmap.Bits(), bitmap.Width(), bitmap.Height(), bitmap.BytesPerLine(), format);
  if (format == QImage::Format_Indexed8) image.setColorTable(Bgr8Table());
  return image.copy();
}

}  // namespace

class TPreviewWindow : public QWidget {
 public:
  TPreviewWindow(QSize size, std::function<void()> onClose)
      : QWidget(nullptr, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                             Qt::WindowCloseButtonHint),
        FOnClose(std::move(onClose)) {
    setFixedSize(size);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
      move(screen->availableGeometry().center() - rect().center());
  }

  void SetPicture(QImage picture) {
    FPicture = std::move(picture);
    update();
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.drawImage(0, 0, FPicture);
  }
  // Dragged from any point, not only by its caption.
  void mousePressEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton && windowHandle() && windowHandle()->startSystemMove()) {
      event->accept();
      return;
    }
    QWidget::mousePressEvent(event);
  }
  void closeEvent(QCloseEvent* event) override {
    FOnClose();
    event->accept();
  }

 private:
  std::function<void()> FOnClose;
  QImage FPicture;
};

TPreviewer::TPreviewer() = default;

TPreviewer::~TPreviewer() {
  if (!FForm) return;
  platform::CallInMainThread([this] { FForm.reset(); });
}

QWidget* TPreviewer::Window() const { return FForm.get(); }

bool TPreviewer::PaintFrame(platform::TBitmap& ABitmap, int, std::int64_t APTS) {
  if (FClosed) return false;
  platform::CallInMainThread([&] { Paint(ABitmap, APTS); });
  return !FClosed;
}

void TPreviewer::Paint(platform::TBitmap& ABitmap, std::int64_t APTS) {
  if (FClosed) return;
  if (!FForm) {
    // The window keeps the size of the first picture.
    FForm = std::make_unique<TPreviewWindow>(QSize(ABitmap.Width(), ABitmap.Height()), [this] { FClosed = true; });
    FForm->show();
  }
  FForm->setWindowTitle(QString::fromStdString(ffutil::DurationText(APTS)));
  FForm->SetPicture(ImageOf(ABitmap));
}

void InstallPreviewWindow() {
  engine::SetPreviewerFactory([] { return std::make_unique<TPreviewer>(); });
}

}  // namespace encoder
