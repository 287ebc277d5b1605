#include "log/FFLog.h"

#include <mutex>

#include "ffbind/AVUtilStubs.h"
#include "log/LibraryLog.h"
#include "platform/TextFormat.h"
#include "platform/MainThread.h"

namespace fflog {
namespace {

// Creating, replacing and auto-creating the current logger are serialised;
// reading it is not (the callback must not wait for a logger being built).
std::mutex gCurrentLock;
std::atomic<TFFLogger*> gCurrent{nullptr};

struct TEndOfProgram {
  ~TEndOfProgram() {
    std::lock_guard guard(gCurrentLock);
    TFFLogger* current = gCurrent.load();
    if (current && current->AutoCreated()) delete current;
  }
} gEndOfProgram;

}  // namespace

TFFLogger::TFFLogger() {
  std::lock_guard guard(gCurrentLock);
  TFFLogger* current = gCurrent.load();
  if (current && current->FAutoCreated) {
    delete current;
    current = gCurrent.load();
  }
  if (current) throw AssertionException("Allow creating only one instance of TFFLogger.");
  FLogLevel = LogLevelOfLibrary(LibraryThreshold());
  gCurrent = this;
}

TFFLogger::TFFLogger(TAutoCreate) : FAutoCreated(true) {
  FLogLevel = LogLevelOfLibrary(LibraryThreshold());
}

TFFLogger::~TFFLogger() {
  TFFLogger* self = this;
  gCurrent.compare_exchange_strong(self, nullptr);
}

void TFFLogger::InstallAVLogCallback() {
  if (!ff::av_log_set_callback || !ff::av_log_set_level) throw AssertionException("Assertion failure");
  ff::av_log_set_callback(LibraryLogCallback);
  SetLibraryThreshold(LibraryLevel(FLogLevel));
  ff::av_log_set_level(LibraryThreshold());
}

TLogLevel TFFLogger::LogLevel() const { return FLogLevel; }

void TFFLogger::SetLogLevel(TLogLevel level) {
  if (FLogLevel.exchange(level) == level) return;
  if (!ff::av_log_set_level) return;
  SetLibraryThreshold(LibraryLevel(level));
  ff::av_log_set_level(LibraryThreshold());
}

void TFFLogger::OptLogLevel(const std::string& arg) { SetLogLevel(LogLevelOfLibrary(ParseLibraryLevel(arg))); }

void TFFLogger::Log(void* sender, TLogLevel level, const std::string& msg) {
  if (!OnLog || level > FLogLevel) return;
  // A record per message: concurrent Log calls must not share one.
  DoLog(TLogInfo{sender, platform::CurrentThreadId(), level, msg});
}

void TFFLogger::Log(void* sender, TLogLevel level, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  LogV(sender, level, fmt, args);
  va_end(args);
}

void TFFLogger::LogV(void* sender, TLogLevel level, const char* fmt, va_list args) {
  if (!OnLog || level > FLogLevel) return;
  DoLog(TLogInfo{sender, platform::CurrentThreadId(), level, platform::FormatV(fmt, args)});
}

void TFFLogger::DoLog(const TLogInfo& info) {
  const TLogEvent handler = OnLog;  // the call may run on another thread
  if (!handler) return;
  const auto raise = [&] { handler(info.Sender, info.ThreadID, info.LogLevel, info.LogMsg); };
  if (TriggerEventInMainThread)
    platform::CallInMainThread(raise);
  else
    raise();
}

TFFLogger* GetLogger() {
  if (TFFLogger* current = gCurrent.load()) return current;
  std::lock_guard guard(gCurrentLock);
  if (!gCurrent.load()) gCurrent = new TFFLogger(TFFLogger::TAutoCreate{});
  return gCurrent.load();
}

}  // namespace fflog
