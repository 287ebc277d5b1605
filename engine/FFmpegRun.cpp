// Starting a conversion and running it, on the worker thread or the
// caller's.
#include "engine/FFmpeg.h"
#include "ffbind/AVUtilStubs.h"

namespace engine {

TConvertThread::TConvertThread(TCustomFFmpeg* owner, TThreadPriority priority)
    : TEngineThread(priority, [this] { Execute(); }), FOwner(owner) {}

void TConvertThread::Execute() {
  // The stop event was reset before this thread could start, so a waiting
  // Stop issued before now already waits for this run.
  try {
    FOwner->RunConversion();
  } catch (...) {
    // RunConversion records everything; the event must be set regardless.
  }
  FOwner->FStopEvent.SetEvent();
}

TConvertThread* TCustomFFmpeg::StartConvert(bool AUseThread, TThreadPriority APriority) {
  if (FConverting || FTerminated || FCancelled) return nullptr;
  if (Foutput_files.empty()) {
    ReleaseAll();
    EndBeforeStart("At least one output file must be specified");
    return nullptr;
  }
  if (Finput_files.empty()) {
    ReleaseAll();
    EndBeforeStart("At least one input file must be specified");
    return nullptr;
  }
  FConverting = true;
  FBroken = false;
  FFinished = false;
  FTerminated = false;
  if (!AUseThread) {
    RunConversion();
    return nullptr;
  }
  // Reset before anyone can start the thread, so that a waiting Stop that
  // comes first still waits for the run.
  FStopEvent.ResetEvent();
  FThread = std::make_unique<TConvertThread>(this, APriority);
  return FThread.get();
}

void TCustomFFmpeg::RunConversion() {
  FFinished = false;
  Guarded([this] { transcode_loop(); });
  Guarded([this] { CloseRegisteredCodecs(); });
  Guarded([this] { ReleaseAll(); });
  Guarded([this] { NotifyTerminated(); });
  // Flushes a partial line the libraries may have left in the log.
  ff::av_log(nullptr, AV_LOG_QUIET, "%s", "");
}

}  // namespace engine
