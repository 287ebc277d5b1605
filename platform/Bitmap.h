#pragma once
// Drawing surface as plain memory: rows stored top to bottom, each padded
// to a multiple of 4 bytes. The application paints on it with its own
// toolkit (a QImage wrapped around Bits()); the components only copy bytes.
#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace platform {

enum TPixelFormat { pf8bit, pf15bit, pf16bit, pf24bit, pf32bit };

// Bits per pixel of a format: 8, 16, 16, 24, 32.
int BitsOfPixelFormat(TPixelFormat format);

class TBitmap {
 public:
  TBitmap();
  TBitmap(int width, int height, TPixelFormat format);
  TBitmap(const TBitmap&) = delete;
  TBitmap& operator=(const TBitmap&) = delete;

  // Reallocates the pixel memory (zero-filled) when size or format change;
  // the same size or format keeps the pixels. A negative size, or a row
  // longer than INT_MAX bytes, raises std::invalid_argument.
  void SetSize(int width, int height);
  void SetPixelFormat(TPixelFormat format);

  int Width() const { return FWidth; }
  int Height() const { return FHeight; }
  TPixelFormat PixelFormat() const { return FPixelFormat; }
  int BitsPerPixel() const { return BitsOfPixelFormat(FPixelFormat); }
  // Width x bits per pixel rounded up to 32 bits, in bytes.
  int BytesPerLine() const;
  std::size_t ByteSize() const { return FPixels.size(); }

  std::uint8_t* Bits() { return FPixels.data(); }
  const std::uint8_t* Bits() const { return FPixels.data(); }
  // Row 0 is the top row. Out-of-range rows raise std::out_of_range.
  std::uint8_t* ScanLine(int row);

  // Colour table of the 8-bit format (0xAARRGGBB), grey ramp by default.
  std::array<std::uint32_t, 256>& Palette() { return FPalette; }

  // Guards the pixels while a handler paints off the main thread.
  void Lock() { FLock.lock(); }
  void Unlock() { FLock.unlock(); }

 private:
  std::size_t RequiredSize() const;
  void Reallocate();

  int FWidth = 0;
  int FHeight = 0;
  TPixelFormat FPixelFormat = pf24bit;
  std::vector<std::uint8_t> FPixels;
  std::array<std::uint32_t, 256> FPalette{};
  std::recursive_mutex FLock;
};

}  // namespace platform
