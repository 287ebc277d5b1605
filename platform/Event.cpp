#include "platform/Event.h"

#include <chrono>

namespace platform {

TEvent::TEvent(bool manualReset, bool initialState) : FManualReset(manualReset), FState(initialState) {}

void TEvent::SetEvent() {
  {
    std::lock_guard guard(FLock);
    FState = true;
  }
  FChanged.notify_all();
}

void TEvent::ResetEvent() {
  std::lock_guard guard(FLock);
  FState = false;
}

bool TEvent::IsSet() {
  std::lock_guard guard(FLock);
  return FState;
}

bool TEvent::WaitFor(int timeoutMs) {
  std::unique_lock guard(FLock);
  const auto isSet = [this] { return FState; };
  bool set;
  if (timeoutMs < 0) {
    FChanged.wait(guard, isSet);
    set = true;
  } else {
    set = FChanged.wait_for(guard, std::chrono::milliseconds(timeoutMs), isSet);
  }
  if (set && !FManualReset) FState = false;
  return set;
}

}  // namespace platform
