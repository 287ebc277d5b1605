// Running the encoder's tasks and turning their engine events into the
// encoder's events.
#include <chrono>
#include <exception>
#include <thread>

#include "encoder/FFEncode.h"
#include "platform/MainThread.h"

namespace encoder {

// ---- Start, next task, end of the run ---------------------------------------

void TCustomEncoder::Start(std::int32_t AThreadCount) {
  CheckWorking("StartTask");
  {
    std::lock_guard guard(FTerminateLock);
    FCompleteTasks = 0;
    FCurrentTask = 0;
    FPendingTasks = TasksCount();
    FTerminated = false;
    FThreadMode = AThreadCount > 0;
    FWorking = true;
    FPaused = false;
    FFinalPending = false;
    FStartThread = std::this_thread::get_id();
    // No task would ever report: the run ends here, or it would stay
    // "working" for good.
    if (TasksCount() == 0) AllTasksDone();
  }
  while (FPendingTasks > 0) {
    StartNextTask();
    if (FThreadMode && --AThreadCount == 0) break;
  }
  if (FThreadMode) return;
  // Task events of tasks stopped from elsewhere come through delivery
  // threads; they all come before the final event, and before Start
  // returns.
  WaitForDeliveries();
  bool deliverFinal;
  {
    std::lock_guard guard(FTerminateLock);
    deliverFinal = FFinalPending;
    FFinalPending = false;
  }
  if (deliverFinal && OnTerminate) {
    const TTerminateInfo info{-1, true, false, std::string()};
    Deliver([this, &info] { OnTerminate(this, info); });
  }
}

void TCustomEncoder::StartNextTask() {
  TFFmpeg* task;
  {
    std::lock_guard guard(FTerminateLock);
    if (FPendingTasks <= 0) return;
    --FPendingTasks;
    task = FFFmpegList.Get(FCurrentTask++);
    task->SetReportIntervalMicroseconds(std::int64_t(FProgressInterval) * 1000);
    if (FThreadMode) {
      if (engine::TConvertThread* thread = task->StartConvert(true, FThreadPriority)) thread->Start();
      return;
    }
  }
  // The whole conversion happens inside this call; Stop from another thread
  // must not find the lock taken meanwhile.
  task->StartConvert(false, FThreadPriority);
}

void TCustomEncoder::DoTerminate(TFFmpeg* ATask) {
  std::lock_guard guard(FTerminateLock);
  // The engine has freed the inputs the probes were describing.
  ATask->DetachDecoders();
  if (OnTerminate) {
    FTerminateInfo = {FFFmpegList.IndexOf(ATask), ATask->Finished(), ATask->FatalException(), ATask->FatalMessage()};
    if (CanDeliverTerminateHere()) {
      try {
        Deliver([this] { OnTerminate(this, FTerminateInfo); });
      } catch (const std::exception& e) {
        // The run's bookkeeping below must still happen.
        LogTerminateHandlerFailure(this, e.what());
      } catch (...) {
        LogTerminateHandlerFailure(this, "unknown exception");
      }
    } else {
      DeliverTerminateInThread(FTerminateInfo, false);
    }
  }
  ++FCompleteTasks;
  if (FPendingTasks < 1) {
    if (FCompleteTasks >= TasksCount()) AllTasksDone();
  } else if (FThreadMode) {
    StartNextTask();
  }
}

void TCustomEncoder::AllTasksDone() {
  FTerminated = true;
  if (!OnTerminate) return;
  if (!FThreadMode && FWorking && std::this_thread::get_id() == FStartThread)
    FFinalPending = true;
  else
    DeliverTerminateInThread({-1, true, false, std::string()}, true);
}

bool TCustomEncoder::CanDeliverTerminateHere() const {
  return !FThreadMode && FWorking && std::this_thread::get_id() == FStartThread && FPendingDeliveries == 0;
}

void TCustomEncoder::DeliverTerminateInThread(const TTerminateInfo& AInfo, bool AWaitForTaskEvents) {
  PruneDeliveryThreads();
  if (!AWaitForTaskEvents) ++FPendingDeliveries;
  FDeliveryThreads.push_back(std::make_unique<TDoTerminateThread>(OnTerminate, this, AInfo, &FPendingDeliveries,
                                                                  AWaitForTaskEvents, FTriggerEventInMainThread));
}

void TCustomEncoder::PruneDeliveryThreads() {
  std::erase_if(FDeliveryThreads, [](const std::unique_ptr<TDoTerminateThread>& t) { return t->Done(); });
}

void TCustomEncoder::WaitForDeliveries() {
  auto allDone = [this] {
    std::lock_guard guard(FTerminateLock);
    PruneDeliveryThreads();
    return FDeliveryThreads.empty();
  };
  if (platform::IsMainThread()) {
    platform::ServeMainThreadUntil(allDone);
  } else {
    while (!allDone()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

// ---- Pause, resume, stop ----------------------------------------------------------

void TCustomEncoder::Pause() {
  if (!FWorking || FPaused) return;
  FFFmpegList.PauseAll();
  FPaused = true;
}

void TCustomEncoder::Resume() {
  if (!FWorking || !FPaused) return;
  FFFmpegList.ResumeAll();
  FPaused = false;
}

void TCustomEncoder::Stop(bool AWaitForStop) {
  {
    // A worker starting the next task either has done so (and that task is
    // stopped below) or sees nothing pending.
    std::lock_guard guard(FTerminateLock);
    FPendingTasks = 0;
  }
  if (FWorking) FFFmpegList.StopAll(AWaitForStop);
}

// ---- Dispatchers ---------------------------------------------------------------------

void TCustomEncoder::Deliver(const std::function<void()>& fn) const {
  if (FTriggerEventInMainThread)
    platform::CallInMainThread(fn);
  else
    fn();
}

void TCustomEncoder::ConnectRunEvents(TFFmpeg* ATask) {
  ATask->OnProgress = [this, ATask](engine::TCustomFFmpeg*, std::int32_t fileIndex, std::int32_t frameNumber,
                                    std::int32_t fps, float quality, float bitRate, std::int64_t currentSize,
                                    std::int64_t currentDuration, std::int64_t totalDuration) {
    DoProgress(ATask, fileIndex, frameNumber, fps, quality, bitRate, currentSize, currentDuration, totalDuration);
  };
  ATask->OnTerminate = [this, ATask](engine::TCustomFFmpeg*) { DoTerminate(ATask); };
}

void TCustomEncoder::DoProgress(TFFmpeg* ATask, std::int32_t AFileIndex, std::int32_t AFrameNumber,
                                std::int32_t AFPS, float AQuality, float ABitRate, std::int64_t ACurrentSize,
                                std::int64_t ACurrentDuration, std::int64_t ATotalDuration) {
  if (!OnProgress) return;
  std::lock_guard guard(FProgressLock);
  FProgressInfo = {FFFmpegList.IndexOf(ATask), AFileIndex,   AFrameNumber,     AFPS,         AQuality,
                   ABitRate,                   ACurrentSize, ACurrentDuration, ATotalDuration};
  Deliver([this] { OnProgress(this, &FProgressInfo); });
}

void TCustomEncoder::DoBeforeFindStreamInfo(TFFmpeg* ATask, AVFormatContext* AFormatContext) {
  if (!OnBeforeFindStreamInfo) return;
  std::lock_guard guard(FFindStreamLock);
  Deliver([this, ATask, AFormatContext] { OnBeforeFindStreamInfo(ATask, AFormatContext); });
}

void TCustomEncoder::DoAudioHook(TFFmpeg* ATask, std::int64_t APTS, std::uint8_t* ASample, int ASize,
                                 int ASampleRate, int AChannels, AVSampleFormat ASampleFormat) {
  if (!OnAudioHook) return;
  std::lock_guard guard(FAudioHookLock);
  OnAudioHook(this, FFFmpegList.IndexOf(ATask), APTS, ASample, ASize, ASampleRate, AChannels, ASampleFormat);
}

void TCustomEncoder::DoPreviewBitmap(TFFmpeg* ATask, platform::TBitmap& ABitmap, int AFrameNumber,
                                     std::int64_t APTS) {
  if (!OnPreviewBitmap) return;
  std::lock_guard guard(FPreviewLock);
  FPreviewInfo = {FFFmpegList.IndexOf(ATask), &ABitmap, AFrameNumber, APTS};
  Deliver([this] { OnPreviewBitmap(this, FPreviewInfo); });
}

void TCustomEncoder::DispatchVideoHook(const TVideoHookEvent& AEvent, TFFmpeg* ATask, platform::TBitmap& ABitmap,
                                       int AFrameNumber, std::int64_t APTS, bool& AUpdate, bool& AStopHook) {
  if (!AEvent) return;
  std::lock_guard guard(FVideoHookLock);
  FVideoHookInfo = {FFFmpegList.IndexOf(ATask), &ABitmap, AFrameNumber, APTS, AUpdate, AStopHook};
  ABitmap.Lock();
  try {
    AEvent(this, &FVideoHookInfo);
  } catch (...) {
    ABitmap.Unlock();
    throw;
  }
  ABitmap.Unlock();
  AUpdate = FVideoHookInfo.Update;
  AStopHook = FVideoHookInfo.StopHook;
}

void TCustomEncoder::DoVideoInputHook(TFFmpeg* ATask, platform::TBitmap& ABitmap, int AFrameNumber,
                                      std::int64_t APTS, bool& AUpdate, bool& AStopHook) {
  DispatchVideoHook(OnVideoInputHook, ATask, ABitmap, AFrameNumber, APTS, AUpdate, AStopHook);
}

void TCustomEncoder::DoVideoOutputHook(TFFmpeg* ATask, platform::TBitmap& ABitmap, int AFrameNumber,
                                       std::int64_t APTS, bool& AUpdate, bool& AStopHook) {
  DispatchVideoHook(OnVideoOutputHook, ATask, ABitmap, AFrameNumber, APTS, AUpdate, AStopHook);
}

void TCustomEncoder::DispatchFrameHook(const TFrameHookEvent& AEvent, TFFmpeg* ATask, AVFrame* APicture,
                                       AVPixelFormat APixFmt, int AFrameNumber, int AWidth, int AHeight,
                                       std::int64_t APTS) {
  if (!AEvent) return;
  std::lock_guard guard(FFrameHookLock);
  FFrameHookInfo = {FFFmpegList.IndexOf(ATask), AFrameNumber, APicture, APixFmt, AWidth, AHeight, APTS};
  AEvent(this, &FFrameHookInfo);
}

void TCustomEncoder::DoFrameInputHook(TFFmpeg* ATask, AVFrame* APicture, AVPixelFormat APixFmt, int AFrameNumber,
                                      int AWidth, int AHeight, std::int64_t APTS) {
  DispatchFrameHook(OnFrameInputHook, ATask, APicture, APixFmt, AFrameNumber, AWidth, AHeight, APTS);
}

void TCustomEncoder::DoFrameOutputHook(TFFmpeg* ATask, AVFrame* APicture, AVPixelFormat APixFmt, int AFrameNumber,
                                       int AWidth, int AHeight, std::int64_t APTS) {
  DispatchFrameHook(OnFrameOutputHook, ATask, APicture, APixFmt, AFrameNumber, AWidth, AHeight, APTS);
}

}  // namespace encoder
