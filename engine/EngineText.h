#pragma once
// Small text helpers shared by the engine's conversion files.
#include <cstdint>
#include <string>

#include "platform/TextFormat.h"

namespace engine {

using platform::Format;

// A codec tag as written with -tag: a C integer with automatic base; when
// characters follow the number, the first four bytes of the text instead,
// the first in the lowest byte ("DIVX" and 0x58564944 give the same tag).
std::uint32_t ReadCodecTag(const std::string& text);

}  // namespace engine
