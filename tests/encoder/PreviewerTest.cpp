// The preview window under the offscreen platform: painted from a worker
// thread as the engine does, and shown by a real conversion.
#include <gtest/gtest.h>

#include <QApplication>
#include <QGuiApplication>
#include <QImage>
#include <QScreen>
#include <QWidget>
#include <atomic>
#include <thread>

#include "encoder/Previewer.h"
#include "tests/encoder/EncoderFixture.h"

namespace {

QApplication& TestApplication() {
  static QApplication* application = [] {
    static int argc = 1;
    static char name[] = "fotoreel-preview-tests";
    static char* argv[] = {name, nullptr};
    return new QApplication(argc, argv);
  }();
  return *application;
}

// A surface of one colour.
struct TSolid {
  platform::TBitmap Bitmap;
  TSolid(int width, int height, std::uint8_t blue, std::uint8_t green, std::uint8_t red)
      : Bitmap(width, height, platform::pf24bit) {
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        std::uint8_t* p = Bitmap.ScanLine(y) + 3 * x;
        p[0] = blue, p[1] = green, p[2] = red;
      }
  }
};

// PaintFrame on a worker, as the engine calls it, with the main thread
// serving the hand-off meanwhile.
bool PaintFromWorker(encoder::TPreviewer& previewer, platform::TBitmap& bitmap, int frame, std::int64_t pts) {
  std::atomic<bool> done{false}, shown{false};
  std::thread worker([&] {
    shown = previewer.PaintFrame(bitmap, frame, pts);
    done = true;
  });
  EXPECT_TRUE(platform::ServeMainThreadUntil([&] { return done.load(); }, 10000));
  worker.join();
  return shown;
}

class PreviewerTest : public encodertest::EncoderTest {
 protected:
  void SetUp() override {
    TestApplication();
    EncoderTest::SetUp();
  }
};

TEST_F(PreviewerTest, FirstPictureOpensTheWindowThatClosingEnds) {
  encoder::TPreviewer previewer;
  EXPECT_EQ(previewer.Window(), nullptr);
  TSolid red(64, 48, 0, 0, 255);
  ASSERT_TRUE(PaintFromWorker(previewer, red.Bitmap, 1, 1'500'000));
  QWidget* window = previewer.Window();
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(window->size(), QSize(64, 48));
  EXPECT_EQ(window->windowTitle(), "00:00:01.500");
  EXPECT_TRUE(window->windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_EQ(window->windowFlags() & Qt::WindowType_Mask, Qt::Tool);
  const QPoint centre = QGuiApplication::primaryScreen()->availableGeometry().center();
  EXPECT_LE((window->geometry().center() - centre).manhattanLength(), 8);  // within the frame's margins
  EXPECT_EQ(window->grab().toImage().pixelColor(32, 24), QColor(255, 0, 0));

  // A larger picture keeps the first size; a missing time reads "N/A".
  TSolid blue(128, 96, 255, 0, 0);
  ASSERT_TRUE(PaintFromWorker(previewer, blue.Bitmap, 2, AV_NOPTS_VALUE));
  EXPECT_EQ(window->size(), QSize(64, 48));
  EXPECT_EQ(window->windowTitle(), "N/A");
  EXPECT_EQ(window->grab().toImage().pixelColor(10, 10), QColor(0, 0, 255));

  window->close();
  EXPECT_TRUE(previewer.Closed());
  EXPECT_FALSE(PaintFromWorker(previewer, red.Bitmap, 3, 2'000'000));
  EXPECT_FALSE(window->isVisible());
  EXPECT_EQ(window->windowTitle(), "N/A");
}

TEST_F(PreviewerTest, ConversionWithPreviewShowsItsPictures) {
  encoder::InstallPreviewWindow();
  const int task = AddPictureTask(4, "preview");
  ASSERT_EQ(task, 0);
  Encoder.FFmpegs(task)->PreviewInterval = 0;
  Encoder.SetPreview(true);
  Encoder.Start(1);
  ASSERT_TRUE(WaitForFinalEvent());
  EXPECT_TRUE(Events[0].Info.Finished) << Events[0].Info.ExceptionMsg;
  // The window lives as long as the task.
  int previews = 0;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->isVisible() && w->size() == QSize(64, 48) && w->windowTitle() == "00:00:00.100") ++previews;
  EXPECT_EQ(previews, 1);
  Encoder.ClearTasks();
  for (QWidget* w : QApplication::topLevelWidgets()) EXPECT_FALSE(w->isVisible()) << w->windowTitle().toStdString();
  engine::SetPreviewerFactory(nullptr);
}

}  // namespace
