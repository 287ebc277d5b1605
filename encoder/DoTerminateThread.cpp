#include "encoder/DoTerminateThread.h"

#include <chrono>
#include <exception>

#include "log/FFLog.h"
#include "platform/MainThread.h"

namespace encoder {
void LogTerminateHandlerFailure(void* ASender, const char* AWhat) noexcept {
  try {
    fflog::GetLogger()->Log(ASender, fflog::llError, "OnTerminate handler failed: %s", AWhat);
  } catch (...) {
    // Called where nothing may escape.
  }
}

TDoTerminateThread::TDoTerminateThread(TTerminateEvent AHandler, void* ASender, const TTerminateInfo& AInfo,
                                       std::atomic<int>* APendingDeliveries, bool ACheckThreadTerminated,
                                       bool ATriggerEventInMainThread)
    : FHandler(std::move(AHandler)),
      FSender(ASender),
      FInfo(AInfo),
      FPendingDeliveries(APendingDeliveries),
      FCheckThreadTerminated(ACheckThreadTerminated),
      FTriggerEventInMainThread(ATriggerEventInMainThread),
      FThread([this] { Execute(); }) {}

TDoTerminateThread::~TDoTerminateThread() {
  if (FThread.joinable()) FThread.join();
}

void TDoTerminateThread::Execute() {
  if (FCheckThreadTerminated)
    while (FPendingDeliveries->load() > 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  try {
    if (FHandler) {
      if (FTriggerEventInMainThread)
        platform::CallInMainThread([this] { FHandler(FSender, FInfo); });
      else
        FHandler(FSender, FInfo);
    }
  } catch (const std::exception& e) {
    LogTerminateHandlerFailure(FSender, e.what());
  } catch (...) {
    LogTerminateHandlerFailure(FSender, "unknown exception");
  }
  if (!FCheckThreadTerminated) --*FPendingDeliveries;
  FDone = true;
}

}  // namespace encoder
