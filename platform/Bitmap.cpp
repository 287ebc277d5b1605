#include "platform/Bitmap.h"

#include <climits>
#include <stdexcept>
#include <string>

namespace platform {
namespace {

std::int64_t LineBytes(int width, TPixelFormat format) {
  return (static_cast<std::int64_t>(width) * BitsOfPixelFormat(format) + 31) / 32 * 4;
}

// Rows are addressed with int offsets by the painting side.
void CheckGeometry(int width, int height, TPixelFormat format) {
  if (width < 0 || height < 0 || LineBytes(width, format) > INT_MAX)
    throw std::invalid_argument("Invalid bitmap size " + std::to_string(width) + "x" + std::to_string(height));
}

}  // namespace

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

TBitmap::TBitmap() {
  for (std::uint32_t i = 0; i < 256; ++i) FPalette[i] = 0xFF000000u | (i << 16) | (i << 8) | i;
}

TBitmap::TBitmap(int width, int height, TPixelFormat format) : TBitmap() {
  FPixelFormat = format;
  SetSize(width, height);
}

void TBitmap::SetSize(int width, int height) {
  CheckGeometry(width, height, FPixelFormat);
  if (width == FWidth && height == FHeight) return;
  FWidth = width;
  FHeight = height;
  Reallocate();
}

void TBitmap::SetPixelFormat(TPixelFormat format) {
  if (format == FPixelFormat) return;
  CheckGeometry(FWidth, FHeight, format);
  FPixelFormat = format;
  Reallocate();
}

int TBitmap::BytesPerLine() const {
  return static_cast<int>(LineBytes(FWidth, FPixelFormat));
}

std::uint8_t* TBitmap::ScanLine(int row) {
  if (row < 0 || row >= FHeight) throw std::out_of_range("Scan line index out of range");
  return FPixels.data() + static_cast<std::size_t>(row) * BytesPerLine();
}

std::size_t TBitmap::RequiredSize() const { return static_cast<std::size_t>(BytesPerLine()) * FHeight; }

void TBitmap::Reallocate() { FPixels.assign(RequiredSize(), 0); }

}  // namespace platform
