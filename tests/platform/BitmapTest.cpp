#include <gtest/gtest.h>

#include <stdexcept>

#include "platform/Bitmap.h"

namespace {

using namespace platform;

TEST(BitmapTest, RowsArePaddedToFourBytes) {
  struct Case {
    int width;
    TPixelFormat format;
    int bits, bytesPerLine;
  };
  const Case cases[] = {
      {1366, pf24bit, 24, 4100}, {320, pf24bit, 24, 960}, {1, pf24bit, 24, 4}, {0, pf24bit, 24, 0},
      {1, pf8bit, 8, 4},         {5, pf8bit, 8, 8},       {3, pf15bit, 16, 8}, {2, pf16bit, 16, 4},
      {3, pf32bit, 32, 12},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << " px, format " << c.format);
    TBitmap bmp(c.width, 3, c.format);
    EXPECT_EQ(bmp.BitsPerPixel(), c.bits);
    EXPECT_EQ(bmp.BytesPerLine(), c.bytesPerLine);
    EXPECT_EQ(bmp.ByteSize(), static_cast<std::size_t>(c.bytesPerLine) * 3);
  }
}

TEST(BitmapTest, ScanLineAddressesRowsTopDownWithinBounds) {
  TBitmap bmp(5, 4, pf24bit);
  EXPECT_EQ(bmp.ScanLine(0), bmp.Bits());
  EXPECT_EQ(bmp.ScanLine(3), bmp.Bits() + 3 * 16);
  EXPECT_THROW(bmp.ScanLine(-1), std::out_of_range);
  EXPECT_THROW(bmp.ScanLine(4), std::out_of_range);
  EXPECT_THROW(TBitmap(-1, 4, pf24bit), std::invalid_argument);
  EXPECT_THROW(bmp.SetSize(5, -4), std::invalid_argument);
  EXPECT_THROW(bmp.SetSize(0x7FFFFFFF, 1), std::invalid_argument);
}

TEST(BitmapTest, PixelsSurviveUnchangedGeometryAndAreClearedOnChange) {
  TBitmap bmp(4, 2, pf32bit);
  bmp.ScanLine(1)[0] = 0xAB;
  bmp.SetSize(4, 2);
  bmp.SetPixelFormat(pf32bit);
  EXPECT_EQ(bmp.ScanLine(1)[0], 0xAB);
  bmp.SetPixelFormat(pf24bit);
  EXPECT_EQ(bmp.ByteSize(), 2u * 12);
  EXPECT_EQ(bmp.ScanLine(1)[0], 0);
}

TEST(BitmapTest, PaletteIsAGreyRamp) {
  TBitmap empty;
  TBitmap sized(2, 2, pf8bit);
  for (TBitmap* bmp : {&empty, &sized}) {
    EXPECT_EQ(bmp->Palette()[0], 0xFF000000u);
    EXPECT_EQ(bmp->Palette()[128], 0xFF808080u);
    EXPECT_EQ(bmp->Palette()[255], 0xFFFFFFFFu);
  }
}

}  // namespace
