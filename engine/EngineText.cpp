#include "engine/EngineText.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace engine {

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
