#pragma once
// The process-wide logger: library messages (through the log callback) and
// component messages (through Log) are filtered by level, joined into whole
// lines per thread, de-duplicated and handed to OnLog, normally on the main
// thread.
#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

#include "platform/FFBaseComponent.h"

namespace fflog {

enum TLogLevel { llQuiet, llPanic, llFatal, llError, llWarning, llInfo, llVerbose, llDebug };

// llQuiet -8, llPanic 0, ... llDebug 48.
int LibraryLevel(TLogLevel level);
// n <= -8 llQuiet; else n / 8 (toward zero) + 1, at most llDebug.
TLogLevel LogLevelOfLibrary(int libraryLevel);
// Library level of "quiet" .. "debug" (any case) or of an integer text;
// anything else throws std::invalid_argument("'<arg>' is not a valid
// integer value").
int ParseLibraryLevel(const std::string& arg);

// OnLog(Sender, ThreadID, LogLevel, LogMsg).
using TLogEvent = std::function<void(void* sender, std::uintptr_t threadId, TLogLevel level, const std::string& msg)>;

struct TLogInfo {
  void* Sender = nullptr;
  std::uintptr_t ThreadID = 0;
  TLogLevel LogLevel = llInfo;
  std::string LogMsg;
};

// A broken programming precondition: a second application logger, or
// installing the callback while avutil is not bound.
class AssertionException : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};

// Main thread: create, destroy, set OnLog, TriggerEventInMainThread and
// LogLevel; the application creates its logger before any worker logs, and
// destroys it after the last one has ended. Any thread: Log, GetLogger.
// Library messages arrive on whatever thread the libraries log from; their
// lines are assembled under a process-wide lock but delivered after it is
// left, so OnLog may itself make the libraries log.
class TFFLogger : public platform::TFFBaseComponent {
 public:
  // An application logger replaces an auto-created one; a second
  // application logger throws AssertionException("Allow creating only one
  // instance of TFFLogger."). LogLevel starts from the library threshold.
  TFFLogger();
  ~TFFLogger() override;
  TFFLogger(const TFFLogger&) = delete;
  TFFLogger& operator=(const TFFLogger&) = delete;

  // Installs the library log callback and applies LogLevel. Throws
  // AssertionException("Assertion failure") when avutil's
  // av_log_set_callback or av_log_set_level is not bound.
  void InstallAVLogCallback();

  TLogLevel LogLevel() const;
  // A change moves the library threshold along when avutil is bound;
  // otherwise InstallAVLogCallback applies it later.
  void SetLogLevel(TLogLevel level);
  // "quiet" .. "debug" (any case) or an integer library level; anything
  // else throws std::invalid_argument with the integer parser's text.
  void OptLogLevel(const std::string& arg);

  // Delivered only when OnLog is set and level <= LogLevel. An exception
  // thrown by OnLog reaches the caller.
  void Log(void* sender, TLogLevel level, const std::string& msg);
  void Log(void* sender, TLogLevel level, const char* fmt, ...) __attribute__((format(printf, 4, 5)));
  void LogV(void* sender, TLogLevel level, const char* fmt, va_list args);

  // Raises OnLog with the record, unfiltered: on the main thread (the
  // caller waits) when TriggerEventInMainThread, else on the calling thread.
  void DoLog(const TLogInfo& info);

  // Created on demand by GetLogger rather than by the application.
  bool AutoCreated() const { return FAutoCreated; }

  bool TriggerEventInMainThread = true;
  TLogEvent OnLog;

 private:
  struct TAutoCreate {};
  explicit TFFLogger(TAutoCreate);
  friend TFFLogger* GetLogger();

  bool FAutoCreated = false;
  std::atomic<TLogLevel> FLogLevel{llInfo};
};

// The current logger, created on demand (auto-created) when there is none.
// An auto-created logger lives until an application logger replaces it or
// the program ends.
TFFLogger* GetLogger();

}  // namespace fflog
