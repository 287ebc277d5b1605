#pragma once
// The system's own input formats. libavformat 5.1 cannot register a
// demuxer, so ours are kept in this list, consulted by name before the
// library's own, and passed explicitly to avformat_open_input.
#include <string>
#include <vector>

#include "ffbind/FFHeaders.h"

namespace ffutil {

// Adds the format unless one of the same name is listed. Thread-safe.
void RegisterInputFormat(const AVInputFormat* format);
// Our own format of that name, else the library's (av_find_input_format),
// else nullptr. The library part needs libavformat loaded.
const AVInputFormat* FindInputFormat(const std::string& name);
// Our own formats, in registration order (for option lookups that must see
// their private classes).
std::vector<const AVInputFormat*> OwnInputFormats();

}  // namespace ffutil
