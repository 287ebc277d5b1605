#pragma once
// A small real audio file for the engine tests.
#include <cstdint>
#include <fstream>
#include <string>

namespace enginetest {

// A 16-bit WAV file of the given length: a quiet saw tooth on every channel.
inline void WriteWav(const std::string& file, int rate, double seconds, int channels = 2) {
  const std::uint32_t frames = static_cast<std::uint32_t>(rate * seconds), bytes = frames * 2 * channels;
  std::ofstream out(file, std::ios::binary);
  auto u32 = [&](std::uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
  auto u16 = [&](std::uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
  out.write("RIFF", 4);
  u32(36 + bytes);
  out.write("WAVEfmt ", 8);
  u32(16);
  u16(1);
  u16(static_cast<std::uint16_t>(channels));
  u32(rate);
  u32(rate * 2 * channels);
  u16(static_cast<std::uint16_t>(2 * channels));
  u16(16);
  out.write("data", 4);
  u32(bytes);
  for (std::uint32_t i = 0; i < frames; ++i) {
    const auto v = static_cast<std::int16_t>((i % 100) * 100 - 5000);
    for (int c = 0; c < channels; ++c) u16(static_cast<std::uint16_t>(v));
  }
}

}  // namespace enginetest
