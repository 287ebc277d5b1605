#pragma once
// Progress of a conversion on a stream (stderr): on a terminal one bar
// redrawn in place, otherwise one plain line per report, so that logs and
// pipes get readable text.
#include <cstdint>
#include <cstdio>
#include <string>

namespace app::cli {

// Microseconds as "HH:MM:SS.mmm" (hours keep counting past 99).
std::string FormatOutputTime(std::int64_t microseconds);

// "[#####     ] frames N  time HH:MM:SS.mmm" with a bar of `width` cells
// filled by frames / expectedFrames (full at or beyond it); without a bar
// when width is 0.
std::string ProgressLine(std::int32_t frames, std::int32_t expectedFrames, std::int64_t microseconds, int width);

class TTerminalProgress {
 public:
  TTerminalProgress(std::FILE* out, bool terminal, std::int32_t expectedFrames);
  void Show(std::int32_t frames, std::int64_t microseconds);
  // Ends the bar's line, so that what follows starts on a line of its own.
  void Finish();

 private:
  std::FILE* FOut;
  bool FTerminal;
  std::int32_t FExpectedFrames;
  bool FBarShown = false;
};

}  // namespace app::cli
