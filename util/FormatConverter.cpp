#include "util/FormatConverter.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "ffbind/AVUtilStubs.h"
#include "ffbind/SwScaleStubs.h"
#include "platform/TextFormat.h"

namespace ffutil {
namespace {

constexpr int kBicubic = SWS_BICUBIC;

AVPixelFormat LibraryFormatOf(platform::TPixelFormat format) {
  switch (format) {
    case platform::pf8bit: return AV_PIX_FMT_BGR8;
    case platform::pf15bit: return AV_PIX_FMT_BGR555LE;
    case platform::pf16bit: return AV_PIX_FMT_BGR565LE;
    case platform::pf24bit: return AV_PIX_FMT_BGR24;
    case platform::pf32bit: return AV_PIX_FMT_BGRA;
  }
  return AV_PIX_FMT_NONE;
}

}  // namespace

TFormatConverter::TFormatConverter() { Reset(); }

TFormatConverter::~TFormatConverter() {
  // The libraries may be gone by now; then their memory went with them.
  if (ff::av_free) ff::av_free(FRGBBuffer);
  if (ff::sws_freeContext) {
    ff::sws_freeContext(FtoRGB_convert_ctx);
    ff::sws_freeContext(FfromRGB_convert_ctx);
  }
}

void TFormatConverter::SetBitsPixel(int bits) {
  if (bits == FBitsPixel) return;
  switch (bits) {
    case 8: SetBMPPixFmt(platform::pf8bit); break;
    case 15: SetBMPPixFmt(platform::pf15bit); break;
    case 16: SetBMPPixFmt(platform::pf16bit); break;
    case 24: SetBMPPixFmt(platform::pf24bit); break;
    case 32: SetBMPPixFmt(platform::pf32bit); break;
    default: throw std::invalid_argument(platform::Format("Invalid BitsPixel %d", bits));
  }
}

void TFormatConverter::SetBMPPixFmt(platform::TPixelFormat format) {
  if (format == FBMPPixFmt) return;
  if (format < platform::pf8bit || format > platform::pf32bit)
    throw std::invalid_argument(platform::Format("Invalid PixelFormat %d", static_cast<int>(format)));
  FBMPPixFmt = format;
  Reset();
}

// The buffer and the scaler contexts survive: they are reused by size.
void TFormatConverter::Reset() {
  FDIB = TDIB{};
  FRGBPicture = TAVPicture{};
  FRGBPictureRef = nullptr;
  FBitsPixel = platform::BitsOfPixelFormat(FBMPPixFmt);
  FAVPixFmt = LibraryFormatOf(FBMPPixFmt);
  FBitmap.SetPixelFormat(FBMPPixFmt);
}

bool TFormatConverter::PictureToRGB(TAVPicture* source, AVPixelFormat format, int width, int height,
                                    bool copyToBitmap) {
  FBitmap.SetSize(width, height);
  const bool direct = format == FAVPixFmt && width % 2 == 0 && height % 2 == 0 &&
                      source->linesize[0] == FBitmap.BytesPerLine();
  TAVPicture* rgb = source;
  if (!direct) {
    const int size = ff::av_image_get_buffer_size(FAVPixFmt, width, height, 1);
    if (size < 0) {
      FRGBPictureRef = nullptr;
      FLastErrMsg = "Cannot initialize the toRGB conversion context";
      return false;
    }
    if (!FRGBBuffer || FRGBBufSize < size) {
      ff::av_free(FRGBBuffer);
      FRGBBuffer = static_cast<std::uint8_t*>(ff::av_malloc(static_cast<std::size_t>(size)));
      FRGBBufSize = FRGBBuffer ? size : 0;
      if (!FRGBBuffer) throw std::bad_alloc();
    }
    ff::av_image_fill_arrays(FRGBPicture.data, FRGBPicture.linesize, FRGBBuffer, FAVPixFmt, width, height, 1);
    FtoRGB_convert_ctx = ff::sws_getCachedContext(FtoRGB_convert_ctx, width, height, format, width, height, FAVPixFmt,
                                                  kBicubic, nullptr, nullptr, nullptr);
    if (!FtoRGB_convert_ctx) {
      FRGBPictureRef = nullptr;
      FLastErrMsg = "Cannot initialize the toRGB conversion context";
      return false;
    }
    ff::sws_scale(FtoRGB_convert_ctx, source->data, source->linesize, 0, height, FRGBPicture.data,
                  FRGBPicture.linesize);
    rgb = &FRGBPicture;
  }
  FRGBPictureRef = rgb;
  FDIB = TDIB{0, width, height, rgb->linesize[0], 1, FBitsPixel, rgb->data[0]};
  if (copyToBitmap) RGBToBitmap();
  return true;
}

// Each side keeps its own row size: the surface's rows are padded to 4
// bytes, the converter's own RGB rows are not.
void TFormatConverter::CopyRows(bool toBitmap) {
  if (!FRGBPictureRef) throw std::logic_error("No current RGB picture");
  const int rgbStride = FRGBPictureRef->linesize[0];
  const std::size_t row = static_cast<std::size_t>(std::min(rgbStride, FBitmap.BytesPerLine()));
  for (int y = 0; y < FBitmap.Height(); ++y) {
    std::uint8_t* rgbRow = FRGBPictureRef->data[0] + static_cast<std::ptrdiff_t>(y) * rgbStride;
    if (toBitmap) std::memcpy(FBitmap.ScanLine(y), rgbRow, row);
    else std::memcpy(rgbRow, FBitmap.ScanLine(y), row);
  }
}

void TFormatConverter::RGBToBitmap() { CopyRows(true); }

void TFormatConverter::BitmapToRGB() { CopyRows(false); }

bool TFormatConverter::RGBToPicture(TAVPicture* dest, AVPixelFormat format, int width, int height) {
  if (!FRGBPictureRef) throw std::logic_error("No current RGB picture");
  FfromRGB_convert_ctx = ff::sws_getCachedContext(FfromRGB_convert_ctx, width, height, FAVPixFmt, width, height,
                                                  format, kBicubic, nullptr, nullptr, nullptr);
  if (!FfromRGB_convert_ctx) {
    FLastErrMsg = "Cannot initialize the fromRGB conversion context";
    return false;
  }
  ff::sws_scale(FfromRGB_convert_ctx, FRGBPictureRef->data, FRGBPictureRef->linesize, 0, height, dest->data,
                dest->linesize);
  return true;
}

}  // namespace ffutil
