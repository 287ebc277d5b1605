// Program entry: set up the application, the preview windows and the visual
// style, set the title and run the main window.
#include <QApplication>
#include <QFont>
#include <QMetaObject>

#include "app/Pictures2VideoFrm.h"
#include "app/VisualStyle.h"
#include "encoder/Previewer.h"
#include "platform/MainThread.h"

namespace {

// The design names Windows fonts; map them onto the CJK font installed
// with the program so that every text renders in one face.
void SubstituteDesignFonts() {
  const QStringList cjk{QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK SC")};
  QFont::insertSubstitutions(QString::fromUtf8("微软雅黑"), cjk);
  QFont::insertSubstitutions(QString::fromUtf8("宋体"), cjk);
  QFont::insertSubstitutions(QStringLiteral("Tahoma"), QStringList{QStringLiteral("DejaVu Sans")} + cjk);
}

}  // namespace

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  platform::SetMainThread();
  // Components hand calls to this thread; the event loop serves them.
  platform::SetMainThreadWakeHook([&application] {
    QMetaObject::invokeMethod(&application, [] { platform::ServeMainThreadQueue(); }, Qt::QueuedConnection);
  });

  // Conversions show their previews in windows of their own.
  encoder::InstallPreviewWindow();
  SubstituteDesignFonts();
  app::ApplyVisualStyle(application, QStringLiteral("Carbon"));
  QApplication::setApplicationDisplayName(QString::fromUtf8(app::kAppTitle));

  app::TfrmPictures2Video window;
  window.show();
  const int result = QApplication::exec();
  platform::SetMainThreadWakeHook(nullptr);
  return result;
}
