#include "platform/MainThread.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <unistd.h>
#include <sys/syscall.h>

namespace platform {
namespace {

struct PendingCall {
  std::function<void()> fn;
  std::exception_ptr error;
  bool done = false;
};

struct HandOff {
  std::mutex lock;
  std::condition_variable queued;  // main thread waits for work
  std::condition_variable served;  // callers wait for their call
  std::deque<std::shared_ptr<PendingCall>> queue;
  std::function<void()> wakeHook;
  std::thread::id mainThread = std::this_thread::get_id();
};

HandOff& State() {
  static HandOff state;
  return state;
}

// Captures the thread that runs static initialisation as the main thread.
const bool kMainThreadCaptured = (State(), true);

}  // namespace

std::uintptr_t CurrentThreadId() {
  return static_cast<std::uintptr_t>(::syscall(SYS_gettid));
}

void SetMainThread() {
  std::lock_guard guard(State().lock);
  State().mainThread = std::this_thread::get_id();
}

bool IsMainThread() {
  (void)kMainThreadCaptured;
  std::lock_guard guard(State().lock);
  return State().mainThread == std::this_thread::get_id();
}

void CallInMainThread(const std::function<void()>& fn) {
  if (IsMainThread()) {
    fn();
    return;
  }
  auto call = std::make_shared<PendingCall>();
  call->fn = fn;
  HandOff& s = State();
  std::function<void()> wake;
  {
    std::lock_guard guard(s.lock);
    s.queue.push_back(call);
    wake = s.wakeHook;
  }
  s.queued.notify_all();
  // The call is queued whatever the hook does: wait for it before reporting
  // a failing hook, or fn would run after its captures are gone.
  std::exception_ptr wakeError;
  if (wake) {
    try {
      wake();
    } catch (...) {
      wakeError = std::current_exception();
    }
  }
  {
    std::unique_lock guard(s.lock);
    s.served.wait(guard, [&] { return call->done; });
  }
  if (call->error) std::rethrow_exception(call->error);
  if (wakeError) std::rethrow_exception(wakeError);
}

int ServeMainThreadQueue() {
  HandOff& s = State();
  int count = 0;
  for (;;) {
    std::shared_ptr<PendingCall> call;
    {
      std::lock_guard guard(s.lock);
      if (s.queue.empty()) break;
      call = s.queue.front();
      s.queue.pop_front();
    }
    try {
      call->fn();
    } catch (...) {
      call->error = std::current_exception();
    }
    {
      std::lock_guard guard(s.lock);
      call->done = true;
    }
    s.served.notify_all();
    ++count;
  }
  return count;
}

bool ServeMainThreadUntil(const std::function<bool()>& done, int timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  HandOff& s = State();
  for (;;) {
    ServeMainThreadQueue();
    if (done()) return true;
    if (timeoutMs >= 0 && Clock::now() >= deadline) return false;
    // Wake for new work, or re-check done() every few milliseconds: the
    // condition may change without anything being queued.
    std::unique_lock guard(s.lock);
    s.queued.wait_for(guard, std::chrono::milliseconds(5), [&] { return !s.queue.empty(); });
  }
}

void SetMainThreadWakeHook(std::function<void()> hook) {
  std::lock_guard guard(State().lock);
  State().wakeHook = std::move(hook);
}

}  // namespace platform
