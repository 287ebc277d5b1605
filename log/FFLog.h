#pragma once
// The process-wide logger: library messages (through the log callback) and
// component messages (through Log) are filtered by level, joined into whole
// lines per thread, de-duplicated and handed to OnLog, normally on the main
// thread.
#include <cstdarg>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/FFBaseComponent.h"

namespace fflog {

enum TLogLevel { llQuiet, llPanic, llFatal, llError, llWarning, llInfo, llVerbose, llDebug };

// llQuiet -8, llPanic 0, ... llDebug 48.
int LibraryLevel(TLogLevel level);
// n <= -8 llQuiet; else n / 8 (toward zero) + 1, at most llDebug.
TLogLevel LogLevelOfLibrary(int libraryLevel);

// OnLog(Sender, ThreadID, LogLevel, LogMsg).
using TLogEvent = std::function<void(void* sender, std::uintptr_t threadId, TLogLevel level, const std::string& msg)>;

struct TLogInfo {
  void* Sender = nullptr;
  std::uintptr_t ThreadID = 0;
  TLogLevel LogLevel = llInfo;
  std::string LogMsg;
};

class TFFLogger : public platform::TFFBaseComponent {
 public:
  // An application logger replaces an auto-created one; a second
  // application logger is a programming error (assertion).
  TFFLogger();
  ~TFFLogger() override;

  // Installs the library log callback and applies LogLevel. The library's
  // av_log_set_callback and av_log_set_level must be bound.
  void InstallAVLogCallback();

  TLogLevel LogLevel() const;
  void SetLogLevel(TLogLevel level);
  // "quiet" .. "debug" (any case) or an integer library level; anything
  // else throws std::invalid_argument with the integer parser's text.
  void OptLogLevel(const std::string& arg);

  // Delivered only when OnLog is set and level <= LogLevel.
  void Log(void* sender, TLogLevel level, const std::string& msg);
  void Log(void* sender, TLogLevel level, const char* fmt, ...) __attribute__((format(printf, 4, 5)));
  void LogV(void* sender, TLogLevel level, const char* fmt, va_list args);

  bool TriggerEventInMainThread = true;
  TLogEvent OnLog;
};

// The current logger, created on demand (auto-created) when there is none.
TFFLogger* GetLogger();

}  // namespace fflog
