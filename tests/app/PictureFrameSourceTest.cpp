// The picture frame source over pictures written here, alone and behind
// the real frameinput format.
#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <QImageWriter>
#include <QString>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

#include "app/PictureFrameSource.h"
#include "ffbind/Owned.h"
#include "ffbind/AVCodecStubs.h"
#include "ffbind/AVFormatStubs.h"
#include "ffbind/AVUtilStubs.h"
#include "ffbind/FFLoad.h"
#include "frameinput/FrameInput.h"

namespace {

namespace fs = std::filesystem;
using frameinput::TInputFrameInfo;

using TInput = ffbind::TInputContext;
using ffbind::TPacket;

constexpr int kWidth = 8, kHeight = 6;

class PictureFrameSourceTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(ffbind::FFLoader.Load(ffbind::kEncoderLibraries)) << ffbind::FFLoader.LastErrMsg();
    frameinput::RegisterFrameInputFormat();
  }
  void SetUp() override {
    folder = fs::temp_directory_path() / ("fr-pictures-" + std::to_string(::getpid()));
    fs::create_directories(folder);
  }
  void TearDown() override { fs::remove_all(folder); }

  std::string Write(const std::string& name, const QImage& image, const char* format) {
    const std::string path = (folder / name).string();
    EXPECT_TRUE(image.save(QString::fromStdString(path), format)) << path;
    return path;
  }
  std::string Solid(const std::string& name, QColor colour, const char* format) {
    QImage image(5, 3, QImage::Format_RGB32);
    image.fill(colour);
    return Write(name, image, format);
  }

  // Opens the adapter with the window's canvas options at a tiny size.
  TInput Open() {
    AVDictionary* dict = nullptr;
    ff::av_dict_set(&dict, "input_type", "canvas", 0);
    ff::av_dict_set(&dict, "pixel_format", "bgr24", 0);
    ff::av_dict_set(&dict, "framerate", "30/1", 0);
    ff::av_dict_set(&dict, "video_size", "8x6", 0);
    AVFormatContext* ic = nullptr;
    const int ret = ff::avformat_open_input(&ic, adapter.FileName().c_str(), frameinput::FrameInputFormat(), &dict);
    ff::av_dict_free(&dict);
    EXPECT_EQ(ret, 0);
    return TInput(ic);
  }

  fs::path folder;
  frameinput::TFrameInputAdapter adapter;
  app::TPictureFrameSource source;
};

// Every pixel of a bgr24 frame (top-down, 4-byte rows) is near the colour.
bool Filled(const std::uint8_t* frame, int bytesPerLine, QColor colour, int tolerance) {
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      const std::uint8_t* p = frame + y * bytesPerLine + 3 * x;
      if (std::abs(p[0] - colour.blue()) > tolerance || std::abs(p[1] - colour.green()) > tolerance ||
          std::abs(p[2] - colour.red()) > tolerance)
        return false;
    }
  return true;
}

TEST_F(PictureFrameSourceTest, ThreePicturesTimedOrAtTheFrameRate) {
  const std::vector<QColor> colours = {Qt::red, Qt::green, Qt::blue};
  source.Pictures = {Solid("one.bmp", colours[0], "BMP"), Solid("two.BMP", colours[1], "BMP"),
                     Solid("three.jpg", colours[2], "JPEG")};
  struct TCase {
    std::int64_t delay;
    bool breakAtEnd;
    std::vector<std::int64_t> pts;
    std::vector<int> pictures;
  };
  const TCase kCases[] = {
      {2'000'000, true, {0, 2'000'000, 4'000'000, 6'000'000}, {0, 1, 2, 2}},
      {2'000'000, false, {0, 2'000'000, 4'000'000, 6'000'000}, {0, 1, 2, 2}},
      {0, true, {0, 33333, 66667}, {0, 1, 2}},
      {0, false, {0, 33333, 66667}, {0, 1, 2}},
  };
  adapter.OnReadFrameCanvas = source.Handler();
  for (const TCase& c : kCases) {
    SCOPED_TRACE(std::to_string(c.delay) + (c.breakAtEnd ? " break" : " no break"));
    source.FrameDelay = c.delay;
    source.BreakWhenNoPictures = c.breakAtEnd;
    int stops = 0;
    source.OnStopRequest = [&] { ++stops; };
    TInput input = Open();
    ASSERT_NE(input, nullptr);
    const int bytesPerLine = adapter.FrameInfo()->BytesPerLine;
    TPacket pkt(ff::av_packet_alloc());
    std::vector<std::int64_t> pts;
    int ret;
    while ((ret = ff::av_read_frame(input.get(), pkt.get())) >= 0) {
      ASSERT_LT(pts.size(), c.pictures.size());
      EXPECT_TRUE(Filled(pkt->data, bytesPerLine, colours[c.pictures[pts.size()]], 8)) << "frame " << pts.size() + 1;
      pts.push_back(pkt->pts);
      ff::av_packet_unref(pkt.get());
    }
    EXPECT_EQ(ret, -1);
    EXPECT_EQ(pts, c.pts);
    EXPECT_EQ(stops, c.breakAtEnd ? 1 : 0);
  }
}

// The colour at x, y of a painted bgr24 canvas.
QColor Pixel(platform::TBitmap& canvas, int x, int y) {
  const std::uint8_t* p = canvas.ScanLine(y) + 3 * x;
  return QColor(p[2], p[1], p[0]);
}

bool Near(QColor a, QColor b, int tolerance) {
  return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
         std::abs(a.blue() - b.blue()) <= tolerance;
}

TEST_F(PictureFrameSourceTest, StretchesOverTheWholeSurface) {
  // Red left half, blue right half, in a picture of another shape: the
  // halves cover the surface's halves edge to edge.
  QImage halves(4, 1, QImage::Format_RGB32);
  for (int x = 0; x < 4; ++x) halves.setPixelColor(x, 0, x < 2 ? Qt::red : Qt::blue);
  source.Pictures = {Write("halves.bmp", halves, "BMP")};
  platform::TBitmap canvas(kWidth, kHeight, platform::pf24bit);
  TInputFrameInfo info{};
  info.FrameNumber = 1;
  ASSERT_EQ(source.ReadFrameCanvas(&adapter, canvas, &info), 0);
  for (int y = 0; y < kHeight; ++y)
    for (int x : {0, 1, kWidth - 2, kWidth - 1})
      EXPECT_EQ(Pixel(canvas, x, y), QColor(x < kWidth / 2 ? Qt::red : Qt::blue)) << x << "," << y;
}

TEST_F(PictureFrameSourceTest, ShrinksSmoothly) {
  // One-pixel black and white stripes at half size average to grey;
  // dropping pixels instead would leave black or white.
  QImage stripes(2 * kWidth, 2 * kHeight, QImage::Format_RGB32);
  for (int y = 0; y < stripes.height(); ++y)
    for (int x = 0; x < stripes.width(); ++x) stripes.setPixelColor(x, y, x % 2 ? Qt::white : Qt::black);
  for (const char* format : {"BMP", "JPEG"}) {
    SCOPED_TRACE(format);
    const std::string path = (folder / (std::string("stripes.") + format)).string();
    QImageWriter writer(QString::fromStdString(path), format);
    writer.setQuality(100);
    ASSERT_TRUE(writer.write(stripes));
    source.Pictures = {path};
    platform::TBitmap canvas(kWidth, kHeight, platform::pf24bit);
    TInputFrameInfo info{};
    info.FrameNumber = 1;
    ASSERT_EQ(source.ReadFrameCanvas(&adapter, canvas, &info), 0);
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x)
        EXPECT_TRUE(Near(Pixel(canvas, x, y), QColor(128, 128, 128), 48)) << x << "," << y;
  }
}

TEST_F(PictureFrameSourceTest, CameraOrientationMarkIsApplied) {
  // Stored red left, blue right, marked "turn a quarter clockwise": it is
  // shown red on top, blue below.
  QImage stored(64, 32, QImage::Format_RGB32);
  for (int y = 0; y < stored.height(); ++y)
    for (int x = 0; x < stored.width(); ++x) stored.setPixelColor(x, y, x < 32 ? Qt::red : Qt::blue);
  const std::string path = (folder / "turned.jpg").string();
  QImageWriter writer(QString::fromStdString(path), "JPEG");
  writer.setTransformation(QImageIOHandler::TransformationRotate90);
  ASSERT_TRUE(writer.write(stored)) << writer.errorString().toStdString();
  source.Pictures = {path};
  platform::TBitmap canvas(kWidth, kHeight, platform::pf24bit);
  TInputFrameInfo info{};
  info.FrameNumber = 1;
  ASSERT_EQ(source.ReadFrameCanvas(&adapter, canvas, &info), 0);
  for (int x = 0; x < kWidth; ++x) {
    EXPECT_TRUE(Near(Pixel(canvas, x, 0), Qt::red, 40)) << x;
    EXPECT_TRUE(Near(Pixel(canvas, x, kHeight - 1), Qt::blue, 40)) << x;
  }
}

TEST_F(PictureFrameSourceTest, ExtensionChoosesTheReader) {
  QImage image(4, 4, QImage::Format_RGB32);
  image.fill(Qt::green);
  const struct {
    const char* name;
    const char* content;  // nullptr: no file; "junk": damaged
    bool loads;
  } kCases[] = {
      {"a.BmP", "BMP", true},   {"b.jpg", "JPEG", true},  {"c.JPEG", "JPEG", true}, {"d.png", "JPEG", true},
      {"noext", "JPEG", true},  {"e.bmp", "JPEG", false}, {"f.jpg", "BMP", false},  {"g.png", "PNG", false},
      {"h.jpg", nullptr, false}, {"i.bmp", "junk", false}, {"j.jpg", "junk", false},
  };
  platform::TBitmap canvas(kWidth, kHeight, platform::pf24bit);
  for (const auto& c : kCases) {
    const std::string path = (folder / c.name).string();
    if (c.content && std::string(c.content) == "junk") {
      std::ofstream(path) << "BM this is not a picture";
    } else if (c.content) {
      Write(c.name, image, c.content);
    }
    source.Pictures = {path};
    TInputFrameInfo info{};
    info.FrameNumber = 1;
    if (c.loads) {
      EXPECT_EQ(source.ReadFrameCanvas(&adapter, canvas, &info), 0) << c.name;
      continue;
    }
    try {
      source.ReadFrameCanvas(&adapter, canvas, &info);
      ADD_FAILURE() << c.name << " loaded";
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
    }
  }
}

TEST_F(PictureFrameSourceTest, DamagedPictureFailsTheReadWithItsText) {
  const std::string damaged = (folder / "damaged.jpg").string();
  std::ofstream(damaged) << "\xFF\xD8 broken";
  source.Pictures = {Solid("fine.jpg", Qt::red, "JPEG"), damaged};
  source.FrameDelay = 2'000'000;
  adapter.OnReadFrameCanvas = source.Handler();
  TInput input = Open();
  ASSERT_NE(input, nullptr);
  TPacket pkt(ff::av_packet_alloc());
  ASSERT_GE(ff::av_read_frame(input.get(), pkt.get()), 0);
  ff::av_packet_unref(pkt.get());
  EXPECT_EQ(ff::av_read_frame(input.get(), pkt.get()), AVERROR_EXTERNAL);
  try {
    frameinput::RethrowPendingError(input.get());
    ADD_FAILURE() << "no error kept";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find(damaged), std::string::npos) << e.what();
  }
}

TEST_F(PictureFrameSourceTest, EmptyListEndsTheInput) {
  int stops = 0;
  source.FrameDelay = 2'000'000;
  source.OnStopRequest = [&] { ++stops; };
  platform::TBitmap canvas(kWidth, kHeight, platform::pf24bit);
  TInputFrameInfo info{};
  info.FrameNumber = 1;
  EXPECT_EQ(source.ReadFrameCanvas(&adapter, canvas, &info), -1);
  EXPECT_EQ(stops, 1);
}

}  // namespace
