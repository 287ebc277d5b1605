#pragma once
// The engine's threads: the worker that runs one conversion and the short
// one that delivers the termination notice of a task that never ran.
//
// Both are created by their engine, which owns them and joins them when it
// is destroyed; neither runs before Start. Start may be called from any
// thread, more than once; the body runs on the new thread and nothing it
// throws leaves it. The engine must outlive the thread: it is not
// destroyed from its own handlers.
#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

namespace engine {

class TCustomFFmpeg;

// Relative to the thread that starts the worker, best effort: a priority
// the system refuses (raising it needs privileges here) leaves the worker
// where its creator is.
enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

class TEngineThread {
 public:
  ~TEngineThread();  // joins
  TEngineThread(const TEngineThread&) = delete;
  TEngineThread& operator=(const TEngineThread&) = delete;

  // Lets the thread run; later calls change nothing.
  void Start();
  bool Started() const { return FStarted; }
  // True on the thread while it runs its body.
  bool IsCurrent() const;
  // Waits for the body to end; returns at once for a thread never started
  // and on the thread itself.
  void Join();

 protected:
  TEngineThread(TThreadPriority priority, std::function<void()> body);

 private:
  void Run();

  const TThreadPriority FPriority;
  const std::function<void()> FBody;
  std::mutex FLock;  // Start and Join may come from different threads
  std::atomic<bool> FStarted{false};
  std::atomic<std::thread::id> FRunningId{};
  std::thread FThread;
};

// Runs the owner's conversion; the owner's stop event is set when it ends.
class TConvertThread : public TEngineThread {
 public:
  TConvertThread(TCustomFFmpeg* owner, TThreadPriority priority);

 private:
  void Execute();
  TCustomFFmpeg* const FOwner;
};

// Delivers the owner's termination notice; the owner's termination event
// is set when it is done.
class TDoTerminateThread : public TEngineThread {
 public:
  explicit TDoTerminateThread(TCustomFFmpeg* owner);

 private:
  void Execute();
  TCustomFFmpeg* const FOwner;
};

}  // namespace engine
