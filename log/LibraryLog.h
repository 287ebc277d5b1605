#pragma once
// The library side of the logger: the callback installed into avutil and the
// process-wide state behind it (threshold, lock, pending partial lines,
// repeat suppression).
#include <cstdarg>

namespace fflog {

// Library messages above this level are dropped before any formatting. It
// starts at 32 and follows the current logger's LogLevel.
int LibraryThreshold();
void SetLibraryThreshold(int level);

// Given to av_log_set_callback; runs on any thread and never throws.
void LibraryLogCallback(void* context, int level, const char* fmt, va_list args) noexcept;

}  // namespace fflog
