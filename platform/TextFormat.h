#pragma once
// printf-style formatting into a string: short texts in a 2048-byte stack
// buffer, longer ones in a heap buffer that grows until the whole text fits,
// so no text is ever cut.
#include <cstdarg>
#include <string>

namespace platform {

// args is left untouched (the caller still owns and ends it). A format the
// C library rejects gives an empty text.
std::string FormatV(const char* fmt, va_list args);
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

}  // namespace platform
