#include "engine/EngineText.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace engine {

std::string Format(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(nullptr, 0, fmt, copy);
  va_end(copy);
  std::vector<char> buf(n > 0 ? n + 1 : 1);
  std::vsnprintf(buf.data(), buf.size(), fmt, args);
  va_end(args);
  return std::string(buf.data());
}

std::uint32_t ReadCodecTag(const std::string& text) {
  char* end = nullptr;
  const std::uint32_t tag = static_cast<std::uint32_t>(std::strtoul(text.c_str(), &end, 0));
  if (*end == '\0') return tag;
  std::uint32_t bytes = 0;
  for (std::size_t i = 0; i < 4 && i < text.size(); ++i)
    bytes |= static_cast<std::uint32_t>(static_cast<unsigned char>(text[i])) << (8 * i);
  return bytes;
}

}  // namespace engine
