#pragma once
// A work buffer for audio samples that only grows, with the plane pointers
// of the format it was last reserved for. The libraries must still be
// loaded when it is destroyed.
#include <cstdint>
#include <vector>

#include "ffbind/FFHeaders.h"

namespace engine {

class TSampleBuffer {
 public:
  TSampleBuffer() = default;
  ~TSampleBuffer();
  TSampleBuffer(const TSampleBuffer&) = delete;
  TSampleBuffer& operator=(const TSampleBuffer&) = delete;

  // Room for count samples of channels in fmt; false when the size cannot
  // be had (the buffer is then empty).
  bool Reserve(int count, int channels, AVSampleFormat fmt);
  // One plane per channel for planar formats, else one.
  std::uint8_t* const* Planes() const { return FPlanes.data(); }
  int Capacity() const { return FCapacity; }

 private:
  std::uint8_t* FData = nullptr;
  unsigned FSize = 0;
  std::vector<std::uint8_t*> FPlanes;
  int FCapacity = 0;
};

}  // namespace engine
