#include "log/FFLog.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ffbind/AVUtilStubs.h"
#include "ffbind/FFLoad.h"
#include "platform/Event.h"
#include "platform/MainThread.h"

namespace {

using fflog::TLogLevel;

struct TDelivered {
  fflog::TLogInfo Info;
  bool OnMainThread = false;
};

// A library context of our own: "[child @ %p]", optionally under a parent.
struct TTestContext {
  const AVClass* Class;
  TTestContext* Parent;
};

const char* ClassName(void* ctx) { return (*static_cast<const AVClass* const*>(ctx))->class_name; }

AVClass MakeClass(const char* name, int parentOffset) {
  AVClass cls{};
  cls.class_name = name;
  cls.item_name = ClassName;
  cls.version = LIBAVUTIL_VERSION_INT;
  cls.parent_log_context_offset = parentOffset;
  return cls;
}

const AVClass kParentClass = MakeClass("parent", 0);
const AVClass kChildClass = MakeClass("child", offsetof(TTestContext, Parent));

std::string Address(const void* p) {
  char text[64];
  std::snprintf(text, sizeof text, "%p", p);
  return text;
}

// The logger is process-wide: every test starts from the same state (no
// partial line on this thread, no run of repeats, level info, delivery on
// the producing thread) and collects what reaches OnLog.
class LoggerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(ffbind::FFLoader.Load(ffbind::kEncoderLibraries)) << ffbind::FFLoader.LastErrMsg();
    Logger = fflog::GetLogger();
    Logger->OnLog = nullptr;
    Logger->TriggerEventInMainThread = false;
    Logger->SetLogLevel(fflog::llInfo);
    Fence();
    Logger->OnLog = [this](void* sender, std::uintptr_t thread, TLogLevel level, const std::string& msg) {
      std::lock_guard guard(FLock);
      FDelivered.push_back({{sender, thread, level, msg}, platform::IsMainThread()});
    };
  }

  void TearDown() override {
    fflog::TFFLogger* logger = fflog::GetLogger();
    logger->OnLog = nullptr;
    logger->TriggerEventInMainThread = true;
  }

  // A line of its own ends this thread's partial text and any run of
  // repeats; what it delivers is forgotten.
  void Fence() {
    static int count = 0;
    ff::av_log(nullptr, AV_LOG_INFO, "-- fence %d --\n", ++count);
    std::lock_guard guard(FLock);
    FDelivered.clear();
  }

  std::vector<TDelivered> Delivered() {
    std::lock_guard guard(FLock);
    return FDelivered;
  }

  std::vector<std::string> Lines() {
    std::vector<std::string> lines;
    for (const TDelivered& d : Delivered()) lines.push_back(d.Info.LogMsg);
    return lines;
  }

  fflog::TFFLogger* Logger = nullptr;

 private:
  std::mutex FLock;
  std::vector<TDelivered> FDelivered;
};

TEST(LogLevelTest, MapsBothWays) {
  const struct {
    int Library;
    TLogLevel Level;
  } cases[] = {{-100, fflog::llQuiet}, {-8, fflog::llQuiet},   {-7, fflog::llPanic},   {7, fflog::llPanic},
               {8, fflog::llFatal},    {15, fflog::llFatal},   {16, fflog::llError},   {31, fflog::llWarning},
               {32, fflog::llInfo},    {47, fflog::llVerbose}, {48, fflog::llDebug},   {1000, fflog::llDebug}};
  for (const auto& c : cases) EXPECT_EQ(fflog::LogLevelOfLibrary(c.Library), c.Level) << c.Library;
  for (int v = fflog::llQuiet; v <= fflog::llDebug; ++v) {
    const auto level = static_cast<TLogLevel>(v);
    EXPECT_EQ(fflog::LibraryLevel(level), 8 * v - 8);
    EXPECT_EQ(fflog::LogLevelOfLibrary(fflog::LibraryLevel(level)), level);
  }
}

TEST_F(LoggerTest, OptLogLevelTakesNamesAndNumbers) {
  const struct {
    const char* Arg;
    TLogLevel Level;
  } cases[] = {{"Verbose", fflog::llVerbose}, {"35", fflog::llInfo}, {"quiet", fflog::llQuiet},
               {"-8", fflog::llQuiet},        {"DEBUG", fflog::llDebug}, {"+16", fflog::llError}};
  for (const auto& c : cases) {
    Logger->OptLogLevel(c.Arg);
    EXPECT_EQ(Logger->LogLevel(), c.Level) << c.Arg;
    EXPECT_EQ(ff::av_log_get_level(), fflog::LibraryLevel(c.Level)) << c.Arg;
  }

  Logger->SetLogLevel(fflog::llWarning);
  for (const char* bad : {"abc", "", "12x", "quiet ", "--8", "99999999999"}) {
    try {
      Logger->OptLogLevel(bad);
      ADD_FAILURE() << "accepted '" << bad << "'";
    } catch (const std::invalid_argument& e) {
      EXPECT_EQ(e.what(), "'" + std::string(bad) + "' is not a valid integer value");
    }
    EXPECT_EQ(Logger->LogLevel(), fflog::llWarning) << bad;
  }
}

TEST_F(LoggerTest, LibraryPartsJoinIntoLinesWithContextPrefix) {
  TTestContext parent{&kParentClass, nullptr};
  TTestContext child{&kChildClass, &parent};
  TTestContext orphan{&kChildClass, nullptr};
  const std::string childPrefix = "[child @ " + Address(&child) + "]";
  const std::string parentPrefix = "[parent @ " + Address(&parent) + "] ";
  const std::string orphanPrefix = "[child @ " + Address(&orphan) + "]";
  const char* const nullText = nullptr;

  const struct {
    TTestContext* Context;
    int Level;
    std::vector<const char*> Parts;  // each sent as "%s"
    std::vector<std::string> Lines;
    TLogLevel Mapped;
  } cases[] = {
      {nullptr, AV_LOG_INFO, {"abc", "def\n"}, {"abcdef"}, fflog::llInfo},
      {&orphan, AV_LOG_INFO, {"abc", "def\n"}, {orphanPrefix + "abcdef"}, fflog::llInfo},
      {&child, AV_LOG_WARNING, {"abc", "def\n"}, {parentPrefix + childPrefix + "abcdef"}, fflog::llWarning},
      {nullptr, AV_LOG_ERROR, {"abc", nullText, "def\n"}, {"abcdef"}, fflog::llError},
      {nullptr, AV_LOG_INFO, {"one\ntwo\nthr", "ee\n"}, {"one", "two", "three"}, fflog::llInfo},
  };
  for (const auto& c : cases) {
    Fence();
    for (const char* part : c.Parts) ff::av_log(c.Context, c.Level, "%s", part);
    EXPECT_EQ(Lines(), c.Lines);
    for (const TDelivered& d : Delivered()) {
      EXPECT_EQ(d.Info.Sender, Logger);
      EXPECT_EQ(d.Info.ThreadID, platform::CurrentThreadId());
      EXPECT_EQ(d.Info.LogLevel, c.Mapped);
    }
  }
}

TEST_F(LoggerTest, RepeatsAreCountedAndReportedBeforeTheNextMessage) {
  const struct {
    int Times;
    std::vector<std::string> Lines;
  } cases[] = {
      {1, {"same", "other"}},
      {2, {"same", "other"}},
      {3, {"same", "    Last message repeated 2 times", "other"}},
      {5, {"same", "    Last message repeated 4 times", "other"}},
  };
  for (const auto& c : cases) {
    Fence();
    for (int i = 0; i < c.Times; ++i) ff::av_log(nullptr, AV_LOG_INFO, "same\n");
    ff::av_log(nullptr, AV_LOG_INFO, "other\n");
    EXPECT_EQ(Lines(), c.Lines) << c.Times;
  }
}

TEST_F(LoggerTest, LevelFiltersLibraryAndComponentMessages) {
  Logger->SetLogLevel(fflog::llError);
  EXPECT_EQ(ff::av_log_get_level(), 16);
  ff::av_log(nullptr, AV_LOG_WARNING, "library warning\n");
  ff::av_log(nullptr, AV_LOG_ERROR, "library error\n");
  Logger->Log(nullptr, fflog::llWarning, "component warning");
  Logger->Log(nullptr, fflog::llError, "component %s", "error");
  EXPECT_EQ(Lines(), (std::vector<std::string>{"library error", "component error"}));
}

TEST_F(LoggerTest, PartialLinesOfTwoThreadsStayApart) {
  platform::TEvent workerStarted, mainStarted;
  std::uintptr_t workerId = 0;
  ff::av_log(nullptr, AV_LOG_INFO, "main-");
  std::thread worker([&] {
    workerId = platform::CurrentThreadId();
    ff::av_log(nullptr, AV_LOG_INFO, "worker-");
    workerStarted.SetEvent();
    mainStarted.WaitFor();
    ff::av_log(nullptr, AV_LOG_INFO, "end\n");
  });
  workerStarted.WaitFor();
  ff::av_log(nullptr, AV_LOG_INFO, "end!\n");
  mainStarted.SetEvent();
  worker.join();

  const std::vector<TDelivered> delivered = Delivered();
  ASSERT_EQ(delivered.size(), 2u);
  EXPECT_EQ(delivered[0].Info.LogMsg, "main-end!");
  EXPECT_EQ(delivered[0].Info.ThreadID, platform::CurrentThreadId());
  EXPECT_EQ(delivered[1].Info.LogMsg, "worker-end");
  EXPECT_EQ(delivered[1].Info.ThreadID, workerId);
}

TEST_F(LoggerTest, DeliversOnTheMainThreadOnlyWhenAsked) {
  for (const bool inMainThread : {true, false}) {
    Fence();
    Logger->TriggerEventInMainThread = inMainThread;
    std::atomic<bool> done{false};
    std::uintptr_t workerId = 0;
    std::thread worker([&] {
      workerId = platform::CurrentThreadId();
      ff::av_log(nullptr, AV_LOG_INFO, "from the library\n");
      Logger->Log(Logger, fflog::llInfo, "from a component");
      done = true;
    });
    EXPECT_TRUE(platform::ServeMainThreadUntil([&] { return done.load(); }, 10000));
    worker.join();

    const std::vector<TDelivered> delivered = Delivered();
    ASSERT_EQ(delivered.size(), 2u);
    for (const TDelivered& d : delivered) {
      EXPECT_EQ(d.OnMainThread, inMainThread) << d.Info.LogMsg;
      EXPECT_EQ(d.Info.ThreadID, workerId) << d.Info.LogMsg;
    }
  }
}

// A worker waits for the main thread to show its line; the main thread
// logging through the library meanwhile must not wait for that worker.
TEST_F(LoggerTest, MainThreadLogsWhileAWorkerDeliveryIsPending) {
  Logger->TriggerEventInMainThread = true;
  std::atomic<bool> queued{false}, done{false};
  platform::SetMainThreadWakeHook([&] { queued = true; });
  std::thread worker([&] {
    ff::av_log(nullptr, AV_LOG_INFO, "worker line\n");
    done = true;
  });
  for (int i = 0; i < 10000 && !queued; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_TRUE(queued);
  ff::av_log(nullptr, AV_LOG_INFO, "main line\n");
  EXPECT_TRUE(platform::ServeMainThreadUntil([&] { return done.load(); }, 10000));
  worker.join();
  platform::SetMainThreadWakeHook(nullptr);
  EXPECT_EQ(Lines(), (std::vector<std::string>{"main line", "worker line"}));
}

TEST_F(LoggerTest, LongMessagesArriveWhole) {
  TTestContext context{&kParentClass, nullptr};
  const std::string prefix = "[parent @ " + Address(&context) + "]";
  const std::string text = std::string(12000, 'x') + "end";
  ff::av_log(&context, AV_LOG_INFO, "%s\n", text.c_str());
  Logger->Log(nullptr, fflog::llInfo, "%s", text.c_str());
  EXPECT_EQ(Lines(), (std::vector<std::string>{prefix + text, text}));
}

TEST_F(LoggerTest, ThrowingHandlerStaysOutOfTheLibrary) {
  for (const bool fromWorker : {false, true}) {
    Fence();
    Logger->TriggerEventInMainThread = true;
    const fflog::TLogEvent collect = Logger->OnLog;
    Logger->OnLog = [](void*, std::uintptr_t, TLogLevel, const std::string&) { throw std::runtime_error("handler"); };
    std::atomic<bool> done{false};
    std::thread worker;
    if (fromWorker) {
      worker = std::thread([&] {
        ff::av_log(nullptr, AV_LOG_INFO, "lost\n");
        done = true;
      });
      EXPECT_TRUE(platform::ServeMainThreadUntil([&] { return done.load(); }, 10000));
      worker.join();
    } else {
      EXPECT_NO_THROW(ff::av_log(nullptr, AV_LOG_INFO, "lost\n"));
    }
    Logger->OnLog = collect;
    ff::av_log(nullptr, AV_LOG_INFO, "next\n");
    EXPECT_EQ(Lines(), std::vector<std::string>{"next"}) << fromWorker;
  }
}

TEST_F(LoggerTest, ConcurrentComponentMessagesKeepTheirOwnRecords) {
  constexpr int kMessages = 300;
  int senders[2];
  auto run = [&](int index) {
    for (int i = 0; i < kMessages; ++i)
      Logger->Log(&senders[index], fflog::llInfo, "%d %ju", index, static_cast<std::uintmax_t>(platform::CurrentThreadId()));
  };
  std::thread a(run, 0), b(run, 1);
  a.join();
  b.join();

  const std::vector<TDelivered> delivered = Delivered();
  ASSERT_EQ(delivered.size(), 2u * kMessages);
  for (const TDelivered& d : delivered) {
    int index = -1;
    std::uintmax_t thread = 0;
    ASSERT_EQ(std::sscanf(d.Info.LogMsg.c_str(), "%d %ju", &index, &thread), 2) << d.Info.LogMsg;
    ASSERT_TRUE(index == 0 || index == 1);
    EXPECT_EQ(d.Info.Sender, &senders[index]);
    EXPECT_EQ(d.Info.ThreadID, thread);
  }
}

TEST_F(LoggerTest, OneApplicationLoggerReplacesTheAutoCreatedOne) {
  Logger->SetLogLevel(fflog::llError);
  ASSERT_TRUE(Logger->AutoCreated());
  {
    fflog::TFFLogger app;
    EXPECT_FALSE(app.AutoCreated());
    EXPECT_EQ(fflog::GetLogger(), &app);
    EXPECT_EQ(app.LogLevel(), fflog::llError);
    try {
      fflog::TFFLogger second;
      ADD_FAILURE() << "a second application logger was created";
    } catch (const fflog::AssertionException& e) {
      EXPECT_STREQ(e.what(), "Allow creating only one instance of TFFLogger.");
    }
    EXPECT_EQ(fflog::GetLogger(), &app);

    std::vector<std::pair<void*, std::string>> lines;
    app.TriggerEventInMainThread = false;
    app.OnLog = [&](void* sender, std::uintptr_t, TLogLevel, const std::string& msg) { lines.emplace_back(sender, msg); };
    ff::av_log(nullptr, AV_LOG_ERROR, "to the application\n");
    EXPECT_EQ(lines, (std::vector<std::pair<void*, std::string>>{{&app, "to the application"}}));
  }
  fflog::TFFLogger* next = fflog::GetLogger();
  EXPECT_TRUE(next->AutoCreated());
  EXPECT_EQ(next->LogLevel(), fflog::llError);
}

TEST_F(LoggerTest, InstallNeedsAVUtilAndAppliesTheLevelSetMeanwhile) {
  ffbind::FFLoader.Unload(ffbind::avUtil);
  try {
    Logger->InstallAVLogCallback();
    ADD_FAILURE() << "installed without avutil";
  } catch (const fflog::AssertionException& e) {
    EXPECT_STREQ(e.what(), "Assertion failure");
  }
  Logger->SetLogLevel(fflog::llDebug);
  ASSERT_TRUE(ffbind::FFLoader.Load(ffbind::kEncoderLibraries)) << ffbind::FFLoader.LastErrMsg();
  EXPECT_EQ(ff::av_log_get_level(), 48);
  ff::av_log(nullptr, AV_LOG_DEBUG, "debug line\n");
  EXPECT_EQ(Lines(), std::vector<std::string>{"debug line"});
}

}  // namespace
