#pragma once
// Collects the logger's lines (info level and above) from every thread,
// one per line, for as long as it lives.
#include <mutex>
#include <string>

#include "log/FFLog.h"

namespace enginetest {

class TLogCapture {
 public:
  TLogCapture() {
    fflog::TFFLogger* logger = fflog::GetLogger();
    logger->TriggerEventInMainThread = false;
    logger->SetLogLevel(fflog::llInfo);
    logger->OnLog = [this](void*, std::uintptr_t, fflog::TLogLevel, const std::string& msg) {
      std::lock_guard guard(FLock);
      FText += msg + "\n";
    };
  }
  ~TLogCapture() { fflog::GetLogger()->OnLog = nullptr; }
  TLogCapture(const TLogCapture&) = delete;
  TLogCapture& operator=(const TLogCapture&) = delete;

  std::string Text() {
    std::lock_guard guard(FLock);
    return FText;
  }
  std::string Take() {
    std::lock_guard guard(FLock);
    std::string text;
    text.swap(FText);
    return text;
  }

 private:
  std::mutex FLock;
  std::string FText;
};

}  // namespace enginetest
