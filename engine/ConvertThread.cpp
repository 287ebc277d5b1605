#include "engine/ConvertThread.h"

#include <algorithm>
#include <cerrno>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "engine/FFmpeg.h"

namespace engine {
namespace {

// Steps of the nice value per priority, from the creating thread's own.
// Lowering always works; raising needs privileges, and a refusal simply
// leaves the thread where it is.
int NiceStep(TThreadPriority priority) {
  switch (priority) {
    case tpIdle: return 39;
    case tpLowest: return 10;
    case tpLower: return 5;
    case tpNormal: return 0;
    case tpHigher: return -5;
    case tpHighest: return -10;
    case tpTimeCritical: return -39;
  }
  return 0;
}

void ApplyPriority(TThreadPriority priority) {
  const int step = NiceStep(priority);
  if (!step) return;
  // On Linux the nice value of a thread id is the thread's own, inherited
  // from the thread that created it.
  const id_t tid = static_cast<id_t>(::syscall(SYS_gettid));
  errno = 0;
  const int current = ::getpriority(PRIO_PROCESS, tid);
  if (current == -1 && errno) return;
  ::setpriority(PRIO_PROCESS, tid, std::clamp(current + step, -20, 19));
}

}  // namespace

TEngineThread::TEngineThread(TThreadPriority priority, std::function<void()> body)
    : FPriority(priority), FBody(std::move(body)) {}

TEngineThread::~TEngineThread() { Join(); }

void TEngineThread::Start() {
  if (FStarted) return;  // the common case, also from the body itself
  std::lock_guard guard(FLock);
  if (FStarted) return;
  FThread = std::thread([this] { Run(); });
  FStarted = true;
}

bool TEngineThread::IsCurrent() const { return FRunningId.load() == std::this_thread::get_id(); }

void TEngineThread::Join() {
  std::lock_guard guard(FLock);
  if (!FThread.joinable()) return;
  if (FThread.get_id() == std::this_thread::get_id()) {
    // Ending on its own; nobody is left to join it.
    FThread.detach();
    return;
  }
  FThread.join();
}

void TEngineThread::Run() {
  FRunningId = std::this_thread::get_id();
  ApplyPriority(FPriority);
  try {
    FBody();
  } catch (...) {
    // The bodies record their errors themselves; an escape would end the
    // process.
  }
  FRunningId = std::thread::id();
}

TDoTerminateThread::TDoTerminateThread(TCustomFFmpeg* owner)
    : TEngineThread(tpNormal, [this] { Execute(); }), FOwner(owner) {}

void TDoTerminateThread::Execute() {
  try {
    FOwner->NotifyTerminated();
  } catch (...) {
    // A throwing handler must not keep a waiting Cancel forever.
  }
  FOwner->FTermEvent.SetEvent();
}

}  // namespace engine
