// Pictures to drawing surfaces and back, through the real scaling library.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "ffbind/AVUtilStubs.h"
#include "ffbind/FFLoad.h"
#include "ffbind/Owned.h"
#include "util/FormatConverter.h"

namespace {

using ffutil::TAVPicture;
using ffutil::TFormatConverter;

// A library frame of the given format and size with its own pixels, and
// the picture view the converter takes.
struct TTestPicture {
  ffbind::TFrame frame{ff::av_frame_alloc()};
  TAVPicture picture;

  TTestPicture(AVPixelFormat format, int width, int height, int align = 1) {
    frame->format = format;
    frame->width = width;
    frame->height = height;
    EXPECT_GE(ff::av_frame_get_buffer(frame.get(), align), 0);
    picture = ffutil::PictureOf(frame.get());
  }
  std::uint8_t* Row(int plane, int y) { return frame->data[plane] + y * frame->linesize[plane]; }
  // bgr24 only: every pixel of row y set to one grey level.
  void FillRow(int y, std::uint8_t level) { std::fill_n(Row(0, y), frame->width * 3, level); }
};

class FormatConverterTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(ffbind::FFLoader.Load(ffbind::kEncoderLibraries)) << ffbind::FFLoader.LastErrMsg();
  }
};

TEST_F(FormatConverterTest, DepthsAndTheirLibraryFormats) {
  TFormatConverter c;
  EXPECT_EQ(c.BMPPixFmt(), platform::pf24bit);
  EXPECT_EQ(c.BitsPixel(), 24);
  const struct {
    int bits;
    platform::TPixelFormat format;
    int reads;
    AVPixelFormat library;
  } kCases[] = {
      {32, platform::pf32bit, 32, AV_PIX_FMT_BGRA},      {8, platform::pf8bit, 8, AV_PIX_FMT_BGR8},
      {15, platform::pf15bit, 16, AV_PIX_FMT_BGR555LE},  {16, platform::pf15bit, 16, AV_PIX_FMT_BGR555LE},
      {15, platform::pf15bit, 16, AV_PIX_FMT_BGR555LE},  {24, platform::pf24bit, 24, AV_PIX_FMT_BGR24},
      {16, platform::pf16bit, 16, AV_PIX_FMT_BGR565LE},
  };
  for (const auto& k : kCases) {
    SCOPED_TRACE(k.bits);
    c.SetBitsPixel(k.bits);
    EXPECT_EQ(c.BMPPixFmt(), k.format);
    EXPECT_EQ(c.BitsPixel(), k.reads);
    EXPECT_EQ(c.AVPixFmt(), k.library);
    EXPECT_EQ(c.Bitmap().PixelFormat(), k.format);
  }
  for (int bad : {12, 0, -24}) {
    try {
      c.SetBitsPixel(bad);
      ADD_FAILURE() << bad;
    } catch (const std::invalid_argument& e) {
      EXPECT_EQ(std::string(e.what()), "Invalid BitsPixel " + std::to_string(bad));
    }
  }
  try {
    c.SetBMPPixFmt(static_cast<platform::TPixelFormat>(7));
    ADD_FAILURE();
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(), "Invalid PixelFormat 7");
  }
  EXPECT_EQ(c.BMPPixFmt(), platform::pf16bit);  // unchanged by the failures
}

TEST_F(FormatConverterTest, SurfaceLayoutIsUsedWithoutConversion) {
  TFormatConverter c;
  TTestPicture even(AV_PIX_FMT_BGR24, 640, 480);
  ASSERT_EQ(even.picture.linesize[0], 1920);
  ASSERT_TRUE(c.PictureToRGB(&even.picture, AV_PIX_FMT_BGR24, 640, 480, false));
  EXPECT_EQ(c.RGBPictureRef(), &even.picture);
  EXPECT_EQ(c.DIB().Bits, even.picture.data[0]);
  EXPECT_EQ(c.DIB().WidthBytes, 1920);
  EXPECT_EQ(c.DIB().BitsPixel, 24);

  // An odd size or another format is converted.
  const struct {
    AVPixelFormat format;
    int width, height;
  } kConverted[] = {
      {AV_PIX_FMT_BGR24, 641, 480},
      {AV_PIX_FMT_BGR24, 640, 481},
      {AV_PIX_FMT_BGRA, 640, 480},
      {AV_PIX_FMT_YUV420P, 640, 480},
  };
  for (const auto& k : kConverted) {
    SCOPED_TRACE(std::to_string(k.format) + " " + std::to_string(k.width) + "x" + std::to_string(k.height));
    TTestPicture p(k.format, k.width, k.height);
    ASSERT_TRUE(c.PictureToRGB(&p.picture, k.format, k.width, k.height, false));
    EXPECT_EQ(c.RGBPictureRef(), c.RGBPicture());
    EXPECT_EQ(c.DIB().Bits, c.RGBPicture()->data[0]);
  }
}

TEST_F(FormatConverterTest, RowsLandOnTheirSurfaceRowsAtEveryDepth) {
  // Five pixels make rows whose size is no multiple of 4 at every depth
  // but 32: the surface's rows are padded, the RGB rows are not.
  constexpr int kWidth = 5, kHeight = 6;
  TTestPicture stripes(AV_PIX_FMT_BGR24, kWidth, kHeight);
  for (int y = 0; y < kHeight; ++y) stripes.FillRow(y, y % 2 ? 255 : 0);
  for (int bits : {8, 15, 16, 24, 32}) {
    SCOPED_TRACE(bits);
    TFormatConverter c;
    c.SetBitsPixel(bits);
    ASSERT_TRUE(c.PictureToRGB(&stripes.picture, AV_PIX_FMT_BGR24, kWidth, kHeight, true));
    platform::TBitmap& b = c.Bitmap();
    ASSERT_EQ(b.Width(), kWidth);
    ASSERT_EQ(b.Height(), kHeight);
    const int bytes = (c.BitsPixel() + 7) / 8;
    for (int y = 0; y < kHeight; ++y)
      for (int x : {0, kWidth - 1}) {
        const std::uint8_t* p = b.ScanLine(y) + x * bytes;
        // Colour bytes only: the alpha of bgra is not the picture's.
        const bool black = std::all_of(p, p + std::min(bytes, 3), [](std::uint8_t v) { return v == 0; });
        EXPECT_EQ(black, y % 2 == 0) << x << "," << y;
      }
  }
}

TEST_F(FormatConverterTest, PaintedSurfaceGoesBackIntoThePicture) {
  // The picture hook's round: a yuv picture to the surface, a white square
  // painted on it, back into the picture.
  constexpr int kWidth = 64, kHeight = 48;
  TTestPicture grey(AV_PIX_FMT_YUV420P, kWidth, kHeight);
  for (int plane = 0; plane < 3; ++plane)
    for (int y = 0; y < (plane ? kHeight / 2 : kHeight); ++y)
      std::fill_n(grey.Row(plane, y), plane ? kWidth / 2 : kWidth, plane ? 128 : 100);
  TFormatConverter c;
  ASSERT_TRUE(c.PictureToRGB(&grey.picture, AV_PIX_FMT_YUV420P, kWidth, kHeight, true));
  const std::uint8_t* p = c.Bitmap().ScanLine(10) + 3 * 10;
  EXPECT_NEAR(p[0], 98, 4);  // Y 100 of 16..235 is about 98 of 0..255
  EXPECT_NEAR(p[1], p[0], 2);
  for (int y = 0; y < 16; ++y) std::fill_n(c.Bitmap().ScanLine(y), 16 * 3, 255);
  c.BitmapToRGB();
  ASSERT_TRUE(c.RGBToPicture(&grey.picture, AV_PIX_FMT_YUV420P, kWidth, kHeight));
  EXPECT_NEAR(grey.Row(0, 4)[4], 235, 3);
  EXPECT_NEAR(grey.Row(0, 40)[40], 100, 3);

  // Used directly, the surface writes straight into the picture.
  TTestPicture direct(AV_PIX_FMT_BGR24, kWidth, kHeight);
  direct.FillRow(0, 7);
  ASSERT_TRUE(c.PictureToRGB(&direct.picture, AV_PIX_FMT_BGR24, kWidth, kHeight, true));
  EXPECT_EQ(c.Bitmap().ScanLine(0)[0], 7);
  c.Bitmap().ScanLine(0)[0] = 200;
  c.BitmapToRGB();
  EXPECT_EQ(direct.Row(0, 0)[0], 200);
}

TEST_F(FormatConverterTest, BufferOnlyGrowsAndNothingWorksWithoutAPicture) {
  TFormatConverter c;
  EXPECT_THROW(c.RGBToBitmap(), std::logic_error);
  EXPECT_THROW(c.BitmapToRGB(), std::logic_error);
  TAVPicture none;
  EXPECT_THROW(c.RGBToPicture(&none, AV_PIX_FMT_YUV420P, 2, 2), std::logic_error);

  TTestPicture large(AV_PIX_FMT_YUV420P, 64, 48), small(AV_PIX_FMT_YUV420P, 32, 24);
  ASSERT_TRUE(c.PictureToRGB(&large.picture, AV_PIX_FMT_YUV420P, 64, 48, false));
  const std::uint8_t* buffer = c.DIB().Bits;
  ASSERT_TRUE(c.PictureToRGB(&small.picture, AV_PIX_FMT_YUV420P, 32, 24, false));
  EXPECT_EQ(c.DIB().Bits, buffer);
  EXPECT_EQ(c.DIB().Width, 32);
  EXPECT_EQ(c.DIB().WidthBytes, 96);

  // A new depth forgets the current picture.
  c.SetBitsPixel(32);
  EXPECT_EQ(c.RGBPictureRef(), nullptr);
  EXPECT_THROW(c.RGBToBitmap(), std::logic_error);
}

}  // namespace
