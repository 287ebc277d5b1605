#include "util/SampleInterleave.h"

#include <cstring>

#include "ffbind/AVUtilStubs.h"

namespace ffutil {
namespace {

// Calls copy(sample bytes in the frame, their offset in the packed
// buffer, byte count) over the whole frame.
template <typename Copy>
void ForEachRun(const AVFrame* frame, Copy copy) {
  const auto format = static_cast<AVSampleFormat>(frame->format);
  const std::size_t channels = static_cast<std::size_t>(frame->ch_layout.nb_channels);
  const std::size_t bps = static_cast<std::size_t>(ff::av_get_bytes_per_sample(format));
  const std::size_t samples = static_cast<std::size_t>(frame->nb_samples);
  if (!ff::av_sample_fmt_is_planar(format) || channels == 1) {
    copy(frame->extended_data[0], 0, samples * channels * bps);
    return;
  }
  for (std::size_t c = 0; c < channels; ++c)
    for (std::size_t i = 0; i < samples; ++i) copy(frame->extended_data[c] + i * bps, (i * channels + c) * bps, bps);
}

}  // namespace

void InterleaveSamples(const AVFrame* frame, std::uint8_t* packed) {
  ForEachRun(frame, [packed](const std::uint8_t* sample, std::size_t at, std::size_t bytes) {
    std::memcpy(packed + at, sample, bytes);
  });
}

void DeinterleaveSamples(const std::uint8_t* packed, AVFrame* frame) {
  ForEachRun(frame, [packed](std::uint8_t* sample, std::size_t at, std::size_t bytes) {
    std::memcpy(sample, packed + at, bytes);
  });
}

}  // namespace ffutil
