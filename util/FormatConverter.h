#pragma once
// Moves decoded pictures between the libraries' layout (any pixel format)
// and a drawing surface that application code paints on or reads: library
// picture -> packed RGB of the surface's depth -> surface, and back. Used
// for the engine's picture hooks and preview bitmaps. Needs avutil and
// swscale loaded while it converts. Not thread-safe.
#include <cstdint>
#include <string>

#include "ffbind/FFHeaders.h"
#include "platform/Bitmap.h"

namespace ffutil {

// Planes and line sizes of one picture; the pixels belong to someone else.
struct TAVPicture {
  std::uint8_t* data[4] = {};
  int linesize[4] = {};
};

// A view of a library frame's first four planes.
inline TAVPicture PictureOf(const AVFrame* frame) {
  TAVPicture picture;
  for (int i = 0; i < 4; ++i) {
    picture.data[i] = frame->data[i];
    picture.linesize[i] = frame->linesize[i];
  }
  return picture;
}

// Description of the current RGB picture.
struct TDIB {
  int Type = 0;
  int Width = 0;
  int Height = 0;
  int WidthBytes = 0;  // bytes per row
  int Planes = 0;
  int BitsPixel = 0;
  std::uint8_t* Bits = nullptr;
};

class TFormatConverter {
 public:
  TFormatConverter();
  ~TFormatConverter();
  TFormatConverter(const TFormatConverter&) = delete;
  TFormatConverter& operator=(const TFormatConverter&) = delete;

  // 8, 15, 16, 24 or 32 (15 reads back as 16); anything else raises
  // std::invalid_argument "Invalid BitsPixel %d". 16 keeps pf15bit.
  int BitsPixel() const { return FBitsPixel; }
  void SetBitsPixel(int bits);
  // pf8bit .. pf32bit; anything else raises "Invalid PixelFormat %d".
  platform::TPixelFormat BMPPixFmt() const { return FBMPPixFmt; }
  void SetBMPPixFmt(platform::TPixelFormat format);
  // The library's RGB format of the current depth.
  AVPixelFormat AVPixFmt() const { return FAVPixFmt; }

  platform::TBitmap& Bitmap() { return FBitmap; }
  const TDIB& DIB() const { return FDIB; }
  TAVPicture* RGBPicture() { return &FRGBPicture; }
  // The RGB picture of the last successful PictureToRGB: RGBPicture(), or
  // the source itself when it already had the surface's layout; nullptr
  // before that and after a failure.
  const TAVPicture* RGBPictureRef() const { return FRGBPictureRef; }
  const std::string& LastErrMsg() const { return FLastErrMsg; }

  // Makes the source the current RGB picture, converting it (bicubic, same
  // size) unless it already has the surface's format and row size at an
  // even size; then the source itself is current, and BitmapToRGB writes
  // into it. Sizes the surface and, with copyToBitmap, fills it. False
  // with LastErrMsg when no conversion is possible.
  bool PictureToRGB(TAVPicture* source, AVPixelFormat format, int width, int height, bool copyToBitmap);
  // Surface <-> current RGB picture, row by row. Without a current RGB
  // picture they raise std::logic_error.
  void RGBToBitmap();
  void BitmapToRGB();
  // The current RGB picture converted into dest (same size). False with
  // LastErrMsg when no conversion is possible.
  bool RGBToPicture(TAVPicture* dest, AVPixelFormat format, int width, int height);

 private:
  void Reset();
  // Rows of the surface and of the RGB picture, each in its own layout.
  void CopyRows(bool toBitmap);

  int FBitsPixel = 24;
  AVPixelFormat FAVPixFmt = AV_PIX_FMT_BGR24;
  platform::TPixelFormat FBMPPixFmt = platform::pf24bit;
  platform::TBitmap FBitmap;
  TDIB FDIB;
  std::uint8_t* FRGBBuffer = nullptr;
  int FRGBBufSize = 0;
  TAVPicture FRGBPicture;
  TAVPicture* FRGBPictureRef = nullptr;
  SwsContext* FtoRGB_convert_ctx = nullptr;
  SwsContext* FfromRGB_convert_ctx = nullptr;
  std::string FLastErrMsg;
};

}  // namespace ffutil
