#pragma once
// The engine's records of opened inputs and outputs and their streams.
// Opening fills them; the transcoding loop adds its state.
#include <cstdint>
#include <memory>

#include "ffbind/FFHeaders.h"

namespace engine {

// Closes an input context (also one only allocated, never opened).
struct TInputContextCloser {
  void operator()(AVFormatContext* s) const;
};
using TInputContext = std::unique_ptr<AVFormatContext, TInputContextCloser>;

struct TInputFile {
  TInputContext ctx;
  std::int32_t eof_reached = 0;
  std::int32_t ist_index = 0;  // index in the engine's input streams of this file's first stream
  std::int32_t buffer_size = 0;
  std::int64_t ts_offset = 0;  // microseconds
  std::int32_t nb_streams = 0;
  std::int32_t rate_emu = 0;
};

struct TInputStream {
  std::int32_t file_index = 0;
  AVStream* st = nullptr;       // owned by the file's context
  std::int32_t discard = 1;     // 1 while no output uses the stream
  const AVCodec* avdec = nullptr;
  double ts_scale = 1.0;
};

struct TOutputFile {
  AVFormatContext* ctx = nullptr;
  std::int32_t ost_index = 0;
  std::int64_t recording_time = INT64_MAX;
  std::int64_t start_time = 0;
  std::int64_t limit_filesize = INT64_MAX;
};

struct TOutputStream {
  std::int32_t file_index = 0;
  std::int32_t index = 0;
  std::int32_t source_index = -1;
  AVStream* st = nullptr;
};

}  // namespace engine
