#pragma once
// Planar audio frames to one interleaved buffer and back, for code that
// hands samples out packed whatever the codec made.
#include <cstdint>

#include "ffbind/FFHeaders.h"

namespace ffutil {

// The frame's samples, channel after channel for each sample, into packed
// (nb_samples x channels x bytes per sample bytes). Packed frames are
// copied as they are.
void InterleaveSamples(const AVFrame* frame, std::uint8_t* packed);
// The reverse: packed samples back into the frame's planes.
void DeinterleaveSamples(const std::uint8_t* packed, AVFrame* frame);

}  // namespace ffutil
