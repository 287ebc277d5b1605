// Life cycle of a conversion task: start, stop, pause, the worker thread,
// the clean-up that follows every run, and the interrupt callbacks that
// let a stop or a time-out cut blocking reads and writes.
#include <exception>

#include "engine/FFmpeg.h"
#include "ffbind/AVCodecStubs.h"
#include "ffbind/AVUtilStubs.h"
#include "ffbind/FFLoad.h"
#include "platform/MainThread.h"

namespace engine {

std::mutex& CodecRegistryLock() {
  static std::mutex lock;
  return lock;
}

namespace {

// The pass-1 statistics text stays with the stream record; the library
// only borrows it.
void CloseEncoder(TOutputStream& ost) {
  if (!ost.enc_ctx) return;
  ost.enc_ctx->stats_in = nullptr;
  ff::avcodec_close(ost.enc_ctx.get());
}

void CloseDecoder(TInputStream& ist) {
  if (ist.dec) ff::avcodec_close(ist.dec.get());
}

}  // namespace

TCustomFFmpeg::~TCustomFFmpeg() {
  Stop(true);
  // Only joined threads are really done with the events and fields below.
  if (FThread) FThread->Join();
  if (FTermThread) FTermThread->Join();
  try {
    CloseRegisteredCodecs();
    ReleaseAll();
  } catch (...) {
    // Nothing may leave a destructor; the libraries are gone already.
  }
}

void TCustomFFmpeg::ResetControlState() {
  FReadCallback = {&ReadInterrupt, this};
  FWriteCallback = {&WriteInterrupt, this};
  FLastRead = INT64_MAX;
  FLastWrite = INT64_MAX;
  FBroken = false;
  FFinished = false;
  FConverting = false;
  FTerminated = false;
  FFatalException = false;
  FFatalMessage.clear();
  FInputDuration = -1;
  FOutputDuration = -1;
  CloseRegisteredCodecs();
  {
    std::lock_guard guard(FPauseLock);
    FPaused = false;
  }
  for (std::int32_t& n : Fqp_histogram) n = 0;
  FShowDupOrDrop = false;
  Fnb_frames_dup = Fnb_frames_drop = 0;
  Fvideo_size = Faudio_size = Fextra_size = 0;
}

void TCustomFFmpeg::EndBeforeStart(const std::string& text) {
  Log(fflog::llQuiet, text);
  FFatalException = true;
  FFatalMessage = text;
  NotifyTerminated();
}

void TCustomFFmpeg::Stop(bool AWaitForStop) {
  FBroken = true;
  {
    std::lock_guard guard(FPauseLock);
    FPaused = false;
  }
  FPauseChanged.notify_all();
  TConvertThread* thread = FThread.get();
  if (!thread) return;
  // A thread never started must still run to its end (and its notice).
  thread->Start();
  if (AWaitForStop && !thread->IsCurrent()) WaitServing(FStopEvent);
}

void TCustomFFmpeg::Cancel(bool AWaitForStop) {
  if (FConverting) {
    Stop(AWaitForStop);
    return;
  }
  if (FTerminated) return;
  if (!FCancelled.exchange(true)) {
    FTermEvent.ResetEvent();
    FTermThread = std::make_unique<TDoTerminateThread>(this);
    FTermThread->Start();
  }
  if (AWaitForStop && !FTermThread->IsCurrent()) WaitServing(FTermEvent);
}

void TCustomFFmpeg::WaitServing(platform::TEvent& event) {
  if (platform::IsMainThread())
    platform::ServeMainThreadUntil([&event] { return event.IsSet(); });
  else
    event.WaitFor();
}

void TCustomFFmpeg::Pause() {
  if (!FThread || !FConverting) return;
  std::lock_guard guard(FPauseLock);
  FPaused = true;
}

void TCustomFFmpeg::Resume() {
  {
    std::lock_guard guard(FPauseLock);
    FPaused = false;
  }
  FPauseChanged.notify_all();
}

bool TCustomFFmpeg::Paused() {
  std::lock_guard guard(FPauseLock);
  return FPaused;
}

bool TCustomFFmpeg::CheckStopAndPause() {
  std::unique_lock guard(FPauseLock);
  if (FPaused && !FBroken) {
    const std::int64_t halted = ff::av_gettime();
    FPauseChanged.wait(guard, [this] { return !FPaused || FBroken; });
    // Paced inputs ("-re") resume at their own speed instead of rushing to
    // catch up with the time spent halted.
    const std::int64_t paused = ff::av_gettime() - halted;
    for (auto& ist : Finput_streams) ist->start += paused;
  }
  return FBroken;
}

void TCustomFFmpeg::Guarded(const std::function<void()>& step) {
  try {
    step();
  } catch (const std::exception& e) {
    RecordFatal(e.what());
  } catch (...) {
    RecordFatal("Unknown exception");
  }
}

void TCustomFFmpeg::RecordFatal(const std::string& text) {
  try {
    Log(fflog::llQuiet, text);
  } catch (...) {
    // A failing log handler must not hide the error itself.
  }
  // The first error is the cause; what the clean-up runs into after it is
  // a consequence and only logged.
  if (FFatalException) return;
  FFatalMessage = text;
  FFatalException = true;
}

void TCustomFFmpeg::CloseRegisteredCodecs() {
  FEncoderList.CloseAll(CloseEncoder);
  FDecoderList.CloseAll(CloseDecoder);
}

void TCustomFFmpeg::ReleaseAll() {
  const bool anything = !Foutput_files.empty() || !Finput_files.empty() || !Foutput_streams.empty() ||
                        !Finput_streams.empty();
  if (anything) ffbind::FFLoader.CheckLibAV(ffbind::kEncoderLibraries);
  // Streams first: they point into the files' contexts. Closing an output
  // context closes its sink and deletes a file that received nothing.
  Foutput_streams.clear();
  Foutput_files.clear();
  Finput_streams.clear();
  Finput_files.clear();
  Fvstats_file.reset();
  ResetOptionsContext(&optctx, false);
}

void TCustomFFmpeg::NotifyTerminated() {
  FConverting = false;
  FTerminated = true;
  if (OnTerminate) OnTerminate(this);
}

int TCustomFFmpeg::ReadInterrupt(void* opaque) {
  auto* self = static_cast<TCustomFFmpeg*>(opaque);
  const std::int64_t now = ff::av_gettime();
  const char* reason = nullptr;
  if (self->FBroken)
    reason = "reading/writing broken";
  else if (TimedOut(now, self->FLastRead, self->FReadTimeout))
    reason = "connecting/reading timeout";
  return self->Interrupt(reason);
}

int TCustomFFmpeg::WriteInterrupt(void* opaque) {
  auto* self = static_cast<TCustomFFmpeg*>(opaque);
  const std::int64_t now = ff::av_gettime();
  const char* reason = nullptr;
  // The libraries ask before every single write, and a stopped run still
  // writes its last packets and the trailer: a stop cuts only a write that
  // has been stuck for a while.
  if (self->FBroken && TimedOut(now, self->FLastWrite, kStoppedWriteGraceMs))
    reason = "reading/writing broken";
  else if (TimedOut(now, self->FLastWrite, self->FWriteTimeout))
    reason = "connecting/writing timeout";
  return self->Interrupt(reason);
}

bool TCustomFFmpeg::TimedOut(std::int64_t now, std::int64_t started, std::int32_t timeoutMs) {
  return started != INT64_MAX && timeoutMs > 0 && now - started > std::int64_t(timeoutMs) * 1000;
}

int TCustomFFmpeg::Interrupt(const char* reason) {
  if (!reason) return 0;
  try {
    Log(fflog::llInfo, reason);
  } catch (...) {
    // Called by the libraries: nothing may cross back into them.
  }
  return 1;
}

}  // namespace engine
