#pragma once
// Manual- or auto-reset event, the stand-in for the kernel event objects
// the conversion threads wait on.
#include <condition_variable>
#include <mutex>

namespace platform {

class TEvent {
 public:
  explicit TEvent(bool manualReset = true, bool initialState = false);
  TEvent(const TEvent&) = delete;
  TEvent& operator=(const TEvent&) = delete;

  void SetEvent();
  void ResetEvent();
  bool IsSet();
  // Waits until set or timeoutMs elapsed (negative: no limit). True when
  // the event was set; an auto-reset event is cleared by a successful wait.
  bool WaitFor(int timeoutMs = -1);

 private:
  const bool FManualReset;
  bool FState;
  std::mutex FLock;
  std::condition_variable FChanged;
};

}  // namespace platform
