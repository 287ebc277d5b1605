// Minimal logger until the full one lands: delivers component messages only.
#include "log/FFLog.h"

#include <cstdio>

#include "ffbind/AVUtilStubs.h"

namespace fflog {

int LibraryLevel(TLogLevel level) { return 8 * static_cast<int>(level) - 8; }
TLogLevel LogLevelOfLibrary(int n) {
  if (n <= -8) return llQuiet;
  const int v = n / 8 + 1;
  return static_cast<TLogLevel>(v > 7 ? 7 : v);
}

namespace {
TFFLogger* gCurrent = nullptr;
TLogLevel gLevel = llInfo;
}  // namespace

TFFLogger::TFFLogger() { gCurrent = this; }
TFFLogger::~TFFLogger() {
  if (gCurrent == this) gCurrent = nullptr;
}
void TFFLogger::InstallAVLogCallback() {}
TLogLevel TFFLogger::LogLevel() const { return gLevel; }
void TFFLogger::SetLogLevel(TLogLevel level) { gLevel = level; }
void TFFLogger::OptLogLevel(const std::string&) {}
void TFFLogger::Log(void* sender, TLogLevel level, const std::string& msg) {
  if (OnLog && level <= gLevel) OnLog(sender, 0, level, msg);
}
void TFFLogger::Log(void* sender, TLogLevel level, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  LogV(sender, level, fmt, args);
  va_end(args);
}
void TFFLogger::LogV(void* sender, TLogLevel level, const char* fmt, va_list args) {
  char buf[4096];
  std::vsnprintf(buf, sizeof buf, fmt, args);
  Log(sender, level, std::string(buf));
}
TFFLogger* GetLogger() {
  if (!gCurrent) gCurrent = new TFFLogger;
  return gCurrent;
}

}  // namespace fflog
