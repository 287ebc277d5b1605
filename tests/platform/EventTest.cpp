#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/Event.h"

namespace {

using platform::TEvent;

TEST(EventTest, ResetModes) {
  struct Case {
    bool manualReset;
    bool initialState;
    bool setFirst;
    bool firstWait, secondWait;
  };
  const Case cases[] = {
      {true, false, false, false, false},  // never set: the wait times out
      {true, false, true, true, true},     // manual reset stays set
      {true, true, false, true, true},     // initially set
      {false, false, true, true, false},   // auto reset: one wait consumes it
      {false, true, false, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "manual " << c.manualReset << " initial " << c.initialState << " set "
                                    << c.setFirst);
    TEvent event(c.manualReset, c.initialState);
    if (c.setFirst) event.SetEvent();
    EXPECT_EQ(event.WaitFor(10), c.firstWait);
    EXPECT_EQ(event.WaitFor(0), c.secondWait);
    EXPECT_EQ(event.IsSet(), c.secondWait);
    event.ResetEvent();
    EXPECT_FALSE(event.WaitFor(0));
  }
}

TEST(EventTest, WaitWithoutLimitEndsWhenAnotherThreadSets) {
  for (bool manual : {true, false}) {
    TEvent event(manual);
    std::thread setter([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      event.SetEvent();
    });
    EXPECT_TRUE(event.WaitFor());
    setter.join();
    EXPECT_EQ(event.IsSet(), manual);
  }
}

}  // namespace
