#pragma once
// Records of the decoding side of the decoder component: the current
// picture, the current audio block and the seek flags.
#include <cstdint>

#include "ffbind/FFHeaders.h"
#include "probe/StreamInfo.h"
#include "util/FormatConverter.h"

namespace probe {

// The current picture. Buffer is the decoder's own copy (valid until the
// next decoding call); Picture points into it.
struct TFrameInfo {
  AVPixelFormat PixFmt = AV_PIX_FMT_NONE;
  std::int32_t Width = -1;
  std::int32_t Height = -1;
  bool IsKeyFrame = false;
  AVPictureType PictureType = AV_PICTURE_TYPE_NONE;
  std::int64_t PTS = kNoTime;  // microseconds from the stream's start
  std::int64_t OriginalDTS = kNoTime;  // stream time base
  std::int64_t OriginalPTS = kNoTime;
  std::int32_t StreamIndex = -1;
  std::int64_t Position = -1;  // byte position of the packet
  bool Ready = false;
  ffutil::TAVPicture Picture;
  std::uint8_t* Buffer = nullptr;
  std::int32_t Size = 0;  // allocated bytes of Buffer
};

// The current audio block, in the wanted format. Buffer belongs to the
// decoder and is valid until the next decoding call.
struct TWaveInfo {
  std::int32_t Channels = 0;
  std::int32_t SampleRate = 0;
  AVSampleFormat SampleFormat = AV_SAMPLE_FMT_NONE;
  std::int32_t BytesPerSample = 0;
  std::int32_t BytesPerSecond = 0;
  std::int64_t PTS = kNoTime;  // microseconds from the stream's start
  std::int64_t OriginalDTS = kNoTime;
  std::int64_t OriginalPTS = kNoTime;
  std::int32_t StreamIndex = -1;
  bool Ready = false;
  std::uint8_t* Buffer = nullptr;
  std::int32_t Size = 0;  // bytes
  std::int64_t Duration = 0;  // microseconds
};

// Passed to the library as the bits 1, 2, 4 and 8.
enum TSeekFlag : unsigned { sfBackward = 1, sfByte = 2, sfAny = 4, sfFrame = 8 };
using TSeekFlags = unsigned;

}  // namespace probe
