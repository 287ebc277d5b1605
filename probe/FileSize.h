#pragma once
// The size of an open input: what its I/O context reports when that is
// positive; else the size on disk of the file the context names (-1 when
// the file exists but its size cannot be read); else 0 (no I/O context, or
// one that cannot tell its size).
#include <cstdint>

#include "ffbind/FFHeaders.h"

namespace probe {

std::int64_t ContextFileSize(AVFormatContext* context);

}  // namespace probe
