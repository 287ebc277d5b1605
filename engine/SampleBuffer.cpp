#include "engine/SampleBuffer.h"

#include "ffbind/AVUtilStubs.h"

namespace engine {

TSampleBuffer::~TSampleBuffer() { ff::av_freep(&FData); }

bool TSampleBuffer::Reserve(int count, int channels, AVSampleFormat fmt) {
  FCapacity = 0;
  FPlanes.assign(ff::av_sample_fmt_is_planar(fmt) ? channels : 1, nullptr);
  const int bytes = ff::av_samples_get_buffer_size(nullptr, channels, count, fmt, 1);
  if (bytes < 0) return false;
  ff::av_fast_malloc(&FData, &FSize, static_cast<std::size_t>(bytes));
  if (!FData || ff::av_samples_fill_arrays(FPlanes.data(), nullptr, FData, channels, count, fmt, 1) < 0) return false;
  FCapacity = count;
  return true;
}

}  // namespace engine
