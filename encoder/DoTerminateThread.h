#pragma once
// Delivers one termination event of the encoder from a thread of its own,
// so that the worker whose task ended never waits for the main thread.
//
// A task event counts itself in the encoder's pending-delivery counter
// from creation to the end of its delivery; the final event first waits
// until that counter is 0, so it always comes after every task event.
// Nothing the handler throws leaves the thread, and the counter is
// released whatever the handler does.
#include <atomic>
#include <functional>
#include <thread>

#include "encoder/FFEncodeTypes.h"

namespace encoder {

using TTerminateEvent = std::function<void(void* Sender, const TTerminateInfo& ATerminateInfo)>;

// Logs what an OnTerminate handler threw; never throws itself.
void LogTerminateHandlerFailure(void* ASender, const char* AWhat) noexcept;

class TDoTerminateThread {
 public:
  // Runs at once. With ACheckThreadTerminated the thread waits for
  // *APendingDeliveries to reach 0 before delivering; without it the
  // caller has already counted this delivery there and the thread takes
  // it off when done.
  TDoTerminateThread(TTerminateEvent AHandler, void* ASender, const TTerminateInfo& AInfo,
                     std::atomic<int>* APendingDeliveries, bool ACheckThreadTerminated,
                     bool ATriggerEventInMainThread);
  ~TDoTerminateThread();  // joins
  TDoTerminateThread(const TDoTerminateThread&) = delete;
  TDoTerminateThread& operator=(const TDoTerminateThread&) = delete;

  bool Done() const { return FDone; }

 private:
  void Execute();

  TTerminateEvent FHandler;
  void* const FSender;
  const TTerminateInfo FInfo;
  std::atomic<int>* const FPendingDeliveries;
  const bool FCheckThreadTerminated;
  const bool FTriggerEventInMainThread;
  std::atomic<bool> FDone{false};
  std::thread FThread;
};

}  // namespace encoder
