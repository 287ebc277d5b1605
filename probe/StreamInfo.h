#pragma once
// Stream information records of the decoder component. Plain values: each
// record owns its strings; a query fills a fresh record from the open
// demuxer context and never keeps a reference to it (except the program
// record, see TAVProgram). A query that fails returns the record as
// default-constructed here: numbers -1, strings empty.
#include <cstdint>
#include <string>

#include "ffbind/FFHeaders.h"

namespace probe {

// The library's "no time" value.
inline constexpr std::int64_t kNoTime = AV_NOPTS_VALUE;

struct TFileStreamInfo {
  std::int64_t StartTime = kNoTime;  // container start time, microseconds
  std::int64_t Duration = -1;        // microseconds; -1 when the container gives none
  std::int32_t BitRate = -1;         // bits per second
  // Creation time in microseconds since 1970 (the container's "creation_time"
  // metadata); 0 when the container gives none or it cannot be read.
  std::int64_t TimeStamp = -1;
  std::int32_t Year = -1;   // metadata "year"; 0 when absent or not a number
  std::int32_t Track = -1;  // metadata "track"; 0 when absent or not a number
  std::string Title, Author, Copyright, Comment, Album, Genre;
};

// Fields shared by audio and video records. Times are in the stream's own
// time base; the scaled ones in microseconds, -1 when the source is kNoTime.
struct TTimedStreamInfo {
  std::string Language;
  std::string CodecName;
  std::int64_t StartTime = -1;
  std::int64_t StartTimeScaled = -1;
  std::int64_t Duration = -1;
  std::int64_t DurationScaled = -1;
  std::int32_t BitRate = -1;
};

struct TVideoStreamInfo : TTimedStreamInfo {
  std::int32_t Height = -1;
  std::int32_t Width = -1;
  // Display aspect: Width x sample aspect ratio / Height; 0 when the sample
  // aspect ratio is unset.
  float AspectRatio = -1.0f;
  AVPixelFormat PixFmt = AV_PIX_FMT_NONE;
  AVRational FrameRate{-1, -1};
};

struct TAudioStreamInfo : TTimedStreamInfo {
  std::int32_t Channels = -1;
  std::int32_t SampleRate = -1;
  AVSampleFormat SampleFormat = AV_SAMPLE_FMT_NONE;
};

struct TSubtitleStreamInfo {
  std::string Language;
  std::string CodecName;
};

// A copy of the library's program record: stream_index and metadata still
// point into the open context and are valid only while it stays open.
using TAVProgram = AVProgram;

}  // namespace probe
