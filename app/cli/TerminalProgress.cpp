#include "app/cli/TerminalProgress.h"

#include <algorithm>

namespace app::cli {
namespace {
constexpr int kBarWidth = 30;
}

std::string FormatOutputTime(std::int64_t microseconds) {
  const std::int64_t ms = std::max<std::int64_t>(microseconds, 0) / 1000;
  char text[48];
  std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld.%03lld", static_cast<long long>(ms / 3600000),
                static_cast<long long>(ms / 60000 % 60), static_cast<long long>(ms / 1000 % 60),
                static_cast<long long>(ms % 1000));
  return text;
}

std::string ProgressLine(std::int32_t frames, std::int32_t expectedFrames, std::int64_t microseconds, int width) {
  std::string line;
  if (width > 0) {
    const std::int64_t done = std::max(frames, 0);
    const std::int64_t total = std::max(expectedFrames, 1);
    const int filled = static_cast<int>(std::min<std::int64_t>(done * width / total, width));
    line = "[" + std::string(filled, '#') + std::string(width - filled, ' ') + "] ";
  }
  return line + "frames " + std::to_string(frames) + "  time " + FormatOutputTime(microseconds);
}

TTerminalProgress::TTerminalProgress(std::FILE* out, bool terminal, std::int32_t expectedFrames)
    : FOut(out), FTerminal(terminal), FExpectedFrames(expectedFrames) {}

void TTerminalProgress::Show(std::int32_t frames, std::int64_t microseconds) {
  if (FTerminal) {
    std::fprintf(FOut, "\r%s", ProgressLine(frames, FExpectedFrames, microseconds, kBarWidth).c_str());
    FBarShown = true;
  } else {
    std::fprintf(FOut, "%s\n", ProgressLine(frames, FExpectedFrames, microseconds, 0).c_str());
  }
  std::fflush(FOut);
}

void TTerminalProgress::Finish() {
  if (!FBarShown) return;
  std::fputc('\n', FOut);
  std::fflush(FOut);
  FBarShown = false;
}

}  // namespace app::cli
