#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/MainThread.h"

namespace {

using namespace platform;

TEST(MainThreadTest, WorkerCallsRunOnTheServingMainThread) {
  const auto mainId = std::this_thread::get_id();
  std::atomic<int> wakes{0};
  SetMainThreadWakeHook([&] { ++wakes; });

  constexpr int kWorkers = 4, kCallsEach = 25;
  int counter = 0;  // touched only on the main thread
  bool offMain = false;
  std::atomic<int> finished{0};
  std::vector<std::thread> workers;
  for (int w = 0; w < kWorkers; ++w)
    workers.emplace_back([&] {
      for (int i = 0; i < kCallsEach; ++i)
        CallInMainThread([&] {
          if (std::this_thread::get_id() != mainId || !IsMainThread()) offMain = true;
          ++counter;
        });
      ++finished;
    });
  EXPECT_TRUE(ServeMainThreadUntil([&] { return finished == kWorkers; }, 60000));
  for (std::thread& t : workers) t.join();
  SetMainThreadWakeHook(nullptr);

  EXPECT_EQ(counter, kWorkers * kCallsEach);
  EXPECT_FALSE(offMain);
  EXPECT_EQ(wakes, kWorkers * kCallsEach);
}

TEST(MainThreadTest, CallOnTheMainThreadRunsAtOnce) {
  bool ran = false;
  CallInMainThread([&] { ran = true; });
  EXPECT_TRUE(ran);
  EXPECT_EQ(ServeMainThreadQueue(), 0);
}

TEST(MainThreadTest, ExceptionOfTheCallReachesTheWorker) {
  std::string caught;
  bool done = false;
  std::thread worker([&] {
    try {
      CallInMainThread([] { throw std::runtime_error("painting failed"); });
    } catch (const std::runtime_error& e) {
      caught = e.what();
    }
    CallInMainThread([&] { done = true; });
  });
  EXPECT_TRUE(ServeMainThreadUntil([&] { return done; }, 60000));
  worker.join();
  EXPECT_EQ(caught, "painting failed");
}

TEST(MainThreadTest, ThrowingWakeHookStillWaitsForTheCall) {
  SetMainThreadWakeHook([] { throw std::runtime_error("no event loop"); });
  std::atomic<bool> ran{false};
  bool ranBeforeReturn = false;
  std::string caught;
  std::thread worker([&] {
    try {
      CallInMainThread([&] { ran = true; });
    } catch (const std::runtime_error& e) {
      caught = e.what();
    }
    ranBeforeReturn = ran;
  });
  EXPECT_TRUE(ServeMainThreadUntil([&] { return ran.load(); }, 60000));
  worker.join();
  SetMainThreadWakeHook(nullptr);
  EXPECT_TRUE(ranBeforeReturn);
  EXPECT_EQ(caught, "no event loop");
}

TEST(MainThreadTest, ServeUntilGivesUpAfterTheTimeout) {
  EXPECT_FALSE(ServeMainThreadUntil([] { return false; }, 20));
  EXPECT_TRUE(ServeMainThreadUntil([] { return true; }, 0));
}

TEST(MainThreadTest, WorkerIsNotTheMainThread) {
  bool workerIsMain = true;
  std::uintptr_t workerId = 0;
  std::thread([&] {
    workerIsMain = IsMainThread();
    workerId = CurrentThreadId();
  }).join();
  EXPECT_TRUE(IsMainThread());
  EXPECT_FALSE(workerIsMain);
  EXPECT_NE(workerId, CurrentThreadId());
}

}  // namespace
