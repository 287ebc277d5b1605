#pragma once
// Main-thread hand-off. Components stay toolkit-free: a worker that needs
// the GUI thread queues a call here and waits; the application's event loop
// (or a test) serves the queue on the main thread.
#include <cstdint>
#include <functional>

namespace platform {

// Thread id as the logger and the events report it.
std::uintptr_t CurrentThreadId();

// The main thread is the one that ran static initialisation; a program or
// test may name another one before any hand-off happens.
void SetMainThread();
bool IsMainThread();

// Runs fn on the main thread. On the main thread it runs at once; from any
// other thread the call is queued, the wake hook is called, and the caller
// blocks until the main thread has run it. An exception thrown by fn is
// carried back and re-thrown in the caller.
void CallInMainThread(const std::function<void()>& fn);

// Main thread only: runs every queued call; returns how many ran.
int ServeMainThreadQueue();

// Main thread only: serves the queue until done() is true or timeoutMs
// elapsed (negative: no limit). Returns done().
bool ServeMainThreadUntil(const std::function<bool()>& done, int timeoutMs = -1);

// Called (from the queuing thread) whenever a call is queued, so that a GUI
// event loop can wake up and serve the queue. Empty by default. Should it
// throw, the caller still waits for its call, then gets the hook's error.
void SetMainThreadWakeHook(std::function<void()> hook);

}  // namespace platform
