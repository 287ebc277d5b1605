#include "platform/Bitmap.h"

#include <stdexcept>
#include <string>

namespace platform {

int BitsOfPixelFormat(TPixelFormat format) {
  switch (format) {
    case pf8bit: return 8;
    case pf15bit:
    case pf16bit: return 16;
    case pf24bit: return 24;
    case pf32bit: return 32;
  }
  return 24;
}

TBitmap::TBitmap(int width, int height, TPixelFormat format) : FPixelFormat(format) {
  for (int i = 0; i < 256; ++i) FPalette[i] = 0xFF000000u | (i << 16) | (i << 8) | i;
  SetSize(width, height);
}

void TBitmap::SetSize(int width, int height) {
  if (width < 0 || height < 0)
    throw std::invalid_argument("Invalid bitmap size " + std::to_string(width) + "x" + std::to_string(height));
  FWidth = width;
  FHeight = height;
  Reallocate();
}

void TBitmap::SetPixelFormat(TPixelFormat format) {
  FPixelFormat = format;
  Reallocate();
}

int TBitmap::BytesPerLine() const {
  return static_cast<int>(((static_cast<std::int64_t>(FWidth) * BitsPerPixel() + 31) / 32) * 4);
}

std::uint8_t* TBitmap::ScanLine(int row) {
  if (row < 0 || row >= FHeight) throw std::out_of_range("Scan line index out of range");
  return FPixels.data() + static_cast<std::size_t>(row) * BytesPerLine();
}

void TBitmap::Reallocate() {
  FPixels.assign(static_cast<std::size_t>(BytesPerLine()) * FHeight, 0);
}

}  // namespace platform
