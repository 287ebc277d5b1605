#pragma once
// Private context of an open frameinput input. The format library allocates
// it zero-filled (priv_data_size) and frees it, so it stays a plain struct:
// whatever it owns is released by read_close, or by read_header itself when
// the open fails.
#include <cstdint>

#include "ffbind/FFHeaders.h"
#include "frameinput/FrameInput.h"
#include "platform/Bitmap.h"

namespace frameinput {

enum TInputType : std::int32_t { itYUV = 0, itDC = 1, itBMP = 2, itCanvas = 3 };

struct TFrameInputContext {
  const AVClass* Class;  // first member, as the option system requires
  TInputFrameInfo FrameInfo;
  std::int32_t InputType;
  std::uint8_t* BitmapBits;      // bmp: bottom-up device-independent bitmap memory (av_malloc)
  platform::TBitmap* Canvas;     // canvas: the drawing surface (new)
  AVRational TimeBase;           // inverse of the frame rate
  std::int64_t Clock;            // frame clock, 1,000,000 per frame
  // Option strings, owned by the option system.
  char* input_type;
  char* pixel_format;
  char* video_size;
  char* framerate;
  TFrameInputAdapter* Adapter;
};

}  // namespace frameinput
