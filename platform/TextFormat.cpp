#include "platform/TextFormat.h"

#include <cstdio>
#include <vector>

namespace platform {

std::string FormatV(const char* fmt, va_list args) {
  char text[2048];
  va_list first;
  va_copy(first, args);
  const int length = std::vsnprintf(text, sizeof text, fmt, first);
  va_end(first);
  if (length < 0) return {};
  const auto needed = static_cast<std::size_t>(length);
  if (needed < sizeof text) return std::string(text, needed);

  // Never cut a message: grow the heap buffer 2048 bytes at a time.
  std::size_t size = 4096;
  while (size <= needed) size += 2048;
  std::vector<char> big(size);
  va_list second;
  va_copy(second, args);
  std::vsnprintf(big.data(), big.size(), fmt, second);
  va_end(second);
  return std::string(big.data(), needed);
}

std::string Format(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  std::string text = FormatV(fmt, args);
  va_end(args);
  return text;
}

}  // namespace platform
