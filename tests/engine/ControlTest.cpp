// Running conversions: start, the endings, stop and pause from every
// thread that may ask, errors of the picture handler, progress reports and
// the interrupt callbacks. Pictures are painted through frameinput into a
// real MPEG-4 file, which is read back.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "engine/FFmpeg.h"
#include "ffbind/AVCodecStubs.h"
#include "ffbind/AVFormatStubs.h"
#include "ffbind/AVUtilStubs.h"
#include "ffbind/FFLoad.h"
#include "frameinput/FrameInput.h"
#include "platform/MainThread.h"
#include "tests/engine/LogCapture.h"

namespace {

namespace fs = std::filesystem;
using engine::TCustomFFmpeg;
using enginetest::TLogCapture;
using frameinput::TFrameInputAdapter;
using frameinput::TInputFrameInfo;

class TCtlEngine : public TCustomFFmpeg {
 public:
  using TCustomFFmpeg::FLastRead;
  using TCustomFFmpeg::FLastWrite;
  using TCustomFFmpeg::Foutput_files;
  using TCustomFFmpeg::FReadCallback;
  using TCustomFFmpeg::FReadTimeout;
  using TCustomFFmpeg::FWriteCallback;
  using TCustomFFmpeg::FWriteTimeout;
  using TCustomFFmpeg::ReportInterval;
};

// What the engine told its owner.
struct TProgress {
  std::int32_t FileIndex, FrameNumber;
  std::int64_t CurrentSize, CurrentDuration, TotalDuration;
  std::chrono::steady_clock::time_point At;
};

struct TObserved {
  std::mutex Lock;
  std::vector<TProgress> Reports;
  std::atomic<int> Terminations{0};
  std::atomic<bool> NoticeOnMainThread{false};
};

// Paints up to Limit pictures, then ends the input. OnFrame runs inside
// the frame handler (on the main thread unless told otherwise).
struct TPictures {
  int Limit = 1000;
  std::atomic<int> Painted{0};
  std::function<void(int frame)> OnFrame;
  TFrameInputAdapter Adapter;

  explicit TPictures(bool onMainThread) {
    Adapter.TriggerEventInMainThread = onMainThread;
    Adapter.OnReadFrameCanvas = [this](TFrameInputAdapter*, platform::TBitmap& canvas, TInputFrameInfo* info) {
      if (info->FrameNumber > Limit) return std::int32_t(AVERROR_EOF);
      for (int y = 0; y < canvas.Height(); ++y)
        for (int x = 0; x < canvas.BytesPerLine(); ++x)
          canvas.ScanLine(y)[x] = static_cast<std::uint8_t>(x * 4 + y + info->FrameNumber * 8);
      Painted = info->FrameNumber;
      if (OnFrame) OnFrame(info->FrameNumber);
      return std::int32_t(0);
    };
  }
};

struct TInputCloser {
  void operator()(AVFormatContext* ic) const { ff::avformat_close_input(&ic); }
};

// Video packets in a written file; -1 when it cannot be opened.
int CountVideoPackets(const std::string& path) {
  AVFormatContext* raw = nullptr;
  if (ff::avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) return -1;
  std::unique_ptr<AVFormatContext, TInputCloser> ic(raw);
  if (ff::avformat_find_stream_info(ic.get(), nullptr) < 0) return -1;
  const int video = ff::av_find_best_stream(ic.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (video < 0) return -1;
  AVPacket* pkt = ff::av_packet_alloc();
  int count = 0;
  while (ff::av_read_frame(ic.get(), pkt) >= 0) {
    if (pkt->stream_index == video) ++count;
    ff::av_packet_unref(pkt);
  }
  ff::av_packet_free(&pkt);
  return count;
}

class ControlTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(ffbind::FFLoader.Load(ffbind::kEncoderLibraries)) << ffbind::FFLoader.LastErrMsg();
    frameinput::RegisterFrameInputFormat();
  }
  void SetUp() override {
    FDir = fs::temp_directory_path() / ("ctl_" + std::to_string(::getpid()) + "_" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(FDir);
    fs::create_directories(FDir);
  }
  void TearDown() override { fs::remove_all(FDir); }

  std::string OutPath(const char* name) const { return (FDir / name).string(); }

  // A task painting 32x32 pictures at 25 per second (paced: in real time)
  // into a video file.
  static void BuildTask(TCtlEngine& e, TPictures& pictures, const std::string& path, bool paced = false,
                        const std::string& codec = "mpeg4") {
    e.ParseOptions(std::string("-f frameinput ") + (paced ? "-re " : "") +
                   "-input_type canvas -pix_fmt bgr24 -r 25 -s 32x32");
    ASSERT_GE(e.OpenInput(nullptr, pictures.Adapter.FileName()), 0) << e.LastErrMsg();
    e.ParseOptions("-c:v " + codec + " -r 25 -s 32x32");
    ASSERT_GE(e.OpenOutput(path), 0) << e.LastErrMsg();
  }

  static void Observe(TCtlEngine& e, TObserved& seen) {
    e.OnProgress = [&seen](TCustomFFmpeg*, std::int32_t fileIndex, std::int32_t frameNumber, std::int32_t,
                           float, float, std::int64_t size, std::int64_t duration, std::int64_t total) {
      std::lock_guard guard(seen.Lock);
      seen.Reports.push_back({fileIndex, frameNumber, size, duration, total, std::chrono::steady_clock::now()});
    };
    e.OnTerminate = [&seen](TCustomFFmpeg*) {
      seen.NoticeOnMainThread = platform::IsMainThread();
      ++seen.Terminations;
    };
  }

  // Serves the main thread until the notice has been handled.
  static void AwaitNotice(TObserved& seen) {
    ASSERT_TRUE(platform::ServeMainThreadUntil([&] { return seen.Terminations > 0; }, 60000));
  }

  // Starts on a worker thread and waits for the notice.
  static void RunThreaded(TCtlEngine& e, TObserved& seen, engine::TThreadPriority priority = engine::tpNormal) {
    engine::TConvertThread* thread = e.StartConvert(true, priority);
    ASSERT_NE(thread, nullptr);
    thread->Start();
    AwaitNotice(seen);
  }

  fs::path FDir;
};

TEST_F(ControlTest, TaskWithoutFilesEndsAtStart) {
  struct Case {
    bool withInput, withOutput;
    const char* message;
  };
  const Case cases[] = {
      {true, false, "At least one output file must be specified"},
      {false, true, "At least one input file must be specified"},
      {false, false, "At least one output file must be specified"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    TPictures pictures(false);
    TCtlEngine e;
    TObserved seen;
    Observe(e, seen);
    if (c.withInput) {
      e.ParseOptions("-f frameinput -input_type canvas -pix_fmt bgr24 -r 25 -s 32x32");
      ASSERT_GE(e.OpenInput(nullptr, pictures.Adapter.FileName()), 0) << e.LastErrMsg();
    }
    if (c.withOutput) {
      // An output with no streams: only its presence matters here.
      AVFormatContext* oc = nullptr;
      ASSERT_GE(ff::avformat_alloc_output_context2(&oc, nullptr, "null", nullptr), 0);
      e.Foutput_files.emplace_back();
      e.Foutput_files.back().ctx.reset(oc);
    }
    EXPECT_EQ(e.StartConvert(true), nullptr);
    EXPECT_TRUE(e.FatalException());
    EXPECT_EQ(e.FatalMessage(), c.message);
    EXPECT_TRUE(e.Terminated());
    EXPECT_FALSE(e.Converting());
    EXPECT_EQ(seen.Terminations, 1);
    EXPECT_TRUE(e.Foutput_files.empty());
    // A terminated task never starts again.
    EXPECT_EQ(e.StartConvert(false), nullptr);
    EXPECT_EQ(seen.Terminations, 1);
  }
}

TEST_F(ControlTest, RunToTheEnd) {
  struct Case {
    bool useThread;
  };
  for (const Case c : {Case{true}, Case{false}}) {
    SCOPED_TRACE(c.useThread ? "worker thread" : "caller's thread");
    const std::string path = OutPath("run.avi");
    TPictures pictures(true);
    pictures.Limit = 12;
    TCtlEngine e;
    TObserved seen;
    Observe(e, seen);
    BuildTask(e, pictures, path);
    // The notice comes on the thread that ran the conversion.
    const int ownNice = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()));
    int runNice = ownNice;
    auto notice = e.OnTerminate;
    e.OnTerminate = [&, notice](TCustomFFmpeg* sender) {
      runNice = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()));
      notice(sender);
    };
    if (c.useThread) {
      RunThreaded(e, seen, engine::tpLower);
      // Starting twice changes nothing.
      EXPECT_EQ(e.StartConvert(true), nullptr);
    } else {
      EXPECT_EQ(e.StartConvert(false), nullptr);
    }
    EXPECT_TRUE(e.Terminated());
    EXPECT_TRUE(e.Finished());
    EXPECT_FALSE(e.FatalException()) << e.FatalMessage();
    EXPECT_EQ(seen.Terminations, 1);
    EXPECT_EQ(seen.NoticeOnMainThread, !c.useThread);
    EXPECT_EQ(runNice, c.useThread ? std::min(ownNice + 5, 19) : ownNice);
    EXPECT_EQ(CountVideoPackets(path), 12);
    ASSERT_FALSE(seen.Reports.empty());
    const TProgress& last = seen.Reports.back();
    EXPECT_EQ(last.FileIndex, -1);
    EXPECT_EQ(last.FrameNumber, 12);
    EXPECT_EQ(last.CurrentSize, static_cast<std::int64_t>(fs::file_size(path)));
    EXPECT_NEAR(last.CurrentDuration, 480000, 40000);
  }
}

TEST_F(ControlTest, StopEndsTheRunWithAPlayableFile) {
  enum TWhere { wFrameHandler, wProgressHandler, wMainThread };
  struct Case {
    const char* name;
    TWhere where;
    bool wait;
  };
  const Case cases[] = {
      // The main thread paints the picture the worker waits for.
      {"frame handler, no wait", wFrameHandler, false},
      // On the conversion thread a waiting stop cannot wait for itself.
      {"progress handler, waiting", wProgressHandler, true},
      // The worker needs the main thread while the main thread waits.
      {"main thread, waiting", wMainThread, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = OutPath("stop.avi");
    TPictures pictures(true);
    TCtlEngine e;
    TObserved seen;
    Observe(e, seen);
    BuildTask(e, pictures, path);
    e.ReportInterval = 0;
    std::atomic<bool> stopped{false};
    if (c.where == wFrameHandler) {
      pictures.OnFrame = [&](int frame) {
        if (frame == 5 && !stopped.exchange(true)) e.Stop(c.wait);
      };
    } else if (c.where == wProgressHandler) {
      auto report = e.OnProgress;
      e.OnProgress = [&, report](TCustomFFmpeg* sender, std::int32_t fileIndex, std::int32_t frameNumber,
                                 std::int32_t fps, float q, float rate, std::int64_t size, std::int64_t duration,
                                 std::int64_t total) {
        report(sender, fileIndex, frameNumber, fps, q, rate, size, duration, total);
        if (frameNumber >= 5 && !stopped.exchange(true)) e.Stop(c.wait);
      };
    }
    engine::TConvertThread* thread = e.StartConvert(true);
    ASSERT_NE(thread, nullptr);
    thread->Start();
    EXPECT_EQ(e.StartConvert(true), nullptr);  // already converting
    if (c.where == wMainThread) {
      ASSERT_TRUE(platform::ServeMainThreadUntil([&] { return pictures.Painted >= 5; }, 60000));
      e.Stop(true);
      // The waiting stop returns after the notice.
      EXPECT_TRUE(e.Terminated());
    }
    AwaitNotice(seen);
    EXPECT_FALSE(e.Finished());
    EXPECT_FALSE(e.FatalException()) << e.FatalMessage();
    EXPECT_EQ(seen.Terminations, 1);
    EXPECT_LT(pictures.Painted, 100);
    const int packets = CountVideoPackets(path);
    EXPECT_GE(packets, 4);
    EXPECT_LE(packets, pictures.Painted);
  }
}

TEST_F(ControlTest, PauseHoldsTheRun) {
  struct Case {
    const char* name;
    bool resume;  // else a waiting stop ends the pause
  };
  for (const Case& c : {Case{"resume", true}, Case{"stop while paused", false}}) {
    SCOPED_TRACE(c.name);
    const std::string path = OutPath("pause.avi");
    TPictures pictures(false);
    pictures.Limit = 20;
    std::atomic<bool> pausedOnce{false};
    TCtlEngine e;
    TObserved seen;
    Observe(e, seen);
    BuildTask(e, pictures, path, true);
    pictures.OnFrame = [&](int frame) {
      if (frame == 5 && !pausedOnce.exchange(true)) {
        e.Pause();
        e.Pause();  // already paused: nothing more
      }
    };
    engine::TConvertThread* thread = e.StartConvert(true);
    ASSERT_NE(thread, nullptr);
    thread->Start();
    ASSERT_TRUE(platform::ServeMainThreadUntil([&] { return pausedOnce.load(); }, 60000));
    // The round that was under way may still read one more picture.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const int held = pictures.Painted;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(pictures.Painted, held);
    EXPECT_LE(held, 6);
    EXPECT_TRUE(e.Paused());
    EXPECT_FALSE(e.Terminated());
    if (c.resume) {
      e.Resume();
      AwaitNotice(seen);
      EXPECT_TRUE(e.Finished());
      EXPECT_EQ(CountVideoPackets(path), 20);
    } else {
      e.Stop(true);
      EXPECT_TRUE(e.Terminated());
      EXPECT_FALSE(e.Finished());
      EXPECT_EQ(CountVideoPackets(path), held);
    }
    EXPECT_FALSE(e.FatalException()) << e.FatalMessage();
    EXPECT_EQ(seen.Terminations, 1);
  }
}

TEST_F(ControlTest, HandlerExceptionEndsTheTask) {
  struct Case {
    const char* file;
    const char* codec;
    int throwAt;
    bool fileKept;  // else nothing was written and the file is gone
  };
  const Case cases[] = {
      // Raw pictures have no header: nothing is written before the first.
      {"first.yuv", "rawvideo", 1, false},
      {"later.avi", "mpeg4", 4, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string path = OutPath(c.file);
    TPictures pictures(true);
    pictures.OnFrame = [&](int frame) {
      if (frame == c.throwAt) throw std::runtime_error("picture source lost");
    };
    TCtlEngine e;
    TObserved seen;
    Observe(e, seen);
    BuildTask(e, pictures, path, false, c.codec);
    RunThreaded(e, seen);
    EXPECT_TRUE(e.FatalException());
    EXPECT_EQ(e.FatalMessage(), "picture source lost");
    EXPECT_FALSE(e.Finished());
    EXPECT_EQ(seen.Terminations, 1);
    EXPECT_EQ(fs::exists(path), c.fileKept) << (fs::exists(path) ? fs::file_size(path) : 0);
  }
}

TEST_F(ControlTest, ProgressAtMostOncePerInterval) {
  const std::string path = OutPath("progress.avi");
  TPictures pictures(true);
  pictures.Limit = 15;  // 0.6 s in real time
  TCtlEngine e;
  TObserved seen;
  Observe(e, seen);
  BuildTask(e, pictures, path, true);
  e.ReportInterval = 150000;
  const auto started = std::chrono::steady_clock::now();
  RunThreaded(e, seen);
  const auto elapsed = std::chrono::steady_clock::now() - started;
  EXPECT_TRUE(e.Finished()) << e.FatalMessage();
  ASSERT_GE(seen.Reports.size(), 2u);
  const std::vector<TProgress>& r = seen.Reports;
  for (std::size_t i = 0; i + 1 < r.size(); ++i) {
    EXPECT_EQ(r[i].FileIndex, 0);
    if (i > 0) {
      EXPECT_GE(r[i].At - r[i - 1].At, std::chrono::milliseconds(100));
    }
    EXPECT_LE(r[i].FrameNumber, r[i + 1].FrameNumber);
  }
  EXPECT_LE(r.size() - 1, static_cast<std::size_t>(elapsed / std::chrono::milliseconds(150)) + 1);
  EXPECT_EQ(r.back().FileIndex, -1);
  EXPECT_EQ(r.back().FrameNumber, 15);
  EXPECT_EQ(r.back().TotalDuration, e.OutputDuration());
}

TEST_F(ControlTest, CancelBeforeStartDeliversTheNotice) {
  TPictures pictures(true);
  TCtlEngine e;
  TObserved seen;
  Observe(e, seen);
  BuildTask(e, pictures, OutPath("never.avi"));
  e.Cancel(true);
  EXPECT_TRUE(e.Terminated());
  EXPECT_EQ(seen.Terminations, 1);
  EXPECT_FALSE(seen.NoticeOnMainThread);
  EXPECT_FALSE(e.FatalException());
  EXPECT_EQ(e.StartConvert(true), nullptr);
  e.Cancel(true);  // terminated: left alone
  EXPECT_EQ(seen.Terminations, 1);
}

TEST(CodecRegistryTest, ClosesWhatIsStillOpen) {
  engine::TCodecRegistry<int> registry;
  int a = 1, b = 2, c = 3, stranger = 4;
  registry.Add(&a);
  registry.Add(&b);
  registry.Add(&c);
  registry.Remove(&b);         // closed by its owner
  registry.Remove(&stranger);  // never registered: nothing happens
  std::vector<int> closed;
  registry.CloseAll([&](int& item) { closed.push_back(item); });
  EXPECT_EQ(closed, (std::vector<int>{3, 1}));  // newest first
  EXPECT_TRUE(registry.Empty());
  registry.CloseAll([&](int& item) { closed.push_back(item); });
  EXPECT_EQ(closed.size(), 2u);
}

TEST(CodecRegistryTest, EnginesRegisterFromManyThreads) {
  constexpr int kThreads = 4, kItems = 500;
  std::vector<int> items(kThreads * kItems);
  engine::TCodecRegistry<int> encoders, decoders;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kItems; ++i) {
        int* item = &items[t * kItems + i];
        (i % 2 ? encoders : decoders).Add(item);
        if (i % 5 == 0) (i % 2 ? encoders : decoders).Remove(item);
      }
    });
  }
  for (std::thread& t : threads) t.join();
  for (engine::TCodecRegistry<int>* registry : {&encoders, &decoders})
    registry->CloseAll([](int& item) { ++item; });
  for (int t = 0; t < kThreads; ++t)
    for (int i = 0; i < kItems; ++i) EXPECT_EQ(items[t * kItems + i], i % 5 == 0 ? 0 : 1) << t << ":" << i;
}

TEST_F(ControlTest, InterruptCallbacks) {
  TLogCapture log;
  const std::int64_t now = ff::av_gettime();
  struct Case {
    const char* name;
    bool write;
    std::int64_t started;  // INT64_MAX: idle
    std::int32_t timeoutMs;
    bool broken;
    int result;
    const char* logged;  // nullptr: nothing
  };
  const Case cases[] = {
      {"read idle", false, INT64_MAX, 1, false, 0, nullptr},
      {"read in time", false, now, 30000, false, 0, nullptr},
      {"read too long", false, now - 2000000, 1000, false, 1, "connecting/reading timeout"},
      {"read no limit", false, now - 2000000, 0, false, 0, nullptr},
      {"read stopped", false, INT64_MAX, 0, true, 1, "reading/writing broken"},
      {"write idle", true, INT64_MAX, 1, false, 0, nullptr},
      {"write too long", true, now - 2000000, 1000, false, 1, "connecting/writing timeout"},
      // A stopped run still writes its trailer; only a stuck write is cut.
      {"write stopped", true, now, 30000, true, 0, nullptr},
      {"write stopped, stuck", true, now - 2000000, 0, true, 1, "reading/writing broken"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TCtlEngine e;
    if (c.broken) e.Stop(false);
    const std::string before = log.Text();
    AVIOInterruptCB& cb = c.write ? e.FWriteCallback : e.FReadCallback;
    (c.write ? e.FLastWrite : e.FLastRead) = c.started;
    (c.write ? e.FWriteTimeout : e.FReadTimeout) = c.timeoutMs;
    EXPECT_EQ(cb.opaque, &e);
    EXPECT_EQ(cb.callback(cb.opaque), c.result);
    const std::string added = log.Text().substr(before.size());
    EXPECT_EQ(added, c.logged ? std::string(c.logged) + "\n" : "");
  }
}

// A peer that accepts the connection and never sends a byte.
class TSilentServer {
 public:
  TSilentServer() {
    FSocket = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(FSocket, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::listen(FSocket, 4);
    socklen_t len = sizeof addr;
    ::getsockname(FSocket, reinterpret_cast<sockaddr*>(&addr), &len);
    FPort = ntohs(addr.sin_port);
  }
  ~TSilentServer() { ::close(FSocket); }
  std::string Url() const { return "tcp://127.0.0.1:" + std::to_string(FPort); }

 private:
  int FSocket = -1;
  int FPort = 0;
};

TEST_F(ControlTest, StalledReadIsCut) {
  struct Case {
    const char* name;
    std::int32_t timeoutMs;
    bool stop;  // a stop from another thread instead of the time-out
    const char* logged;
  };
  const Case cases[] = {
      {"time-out", 300, false, "connecting/reading timeout"},
      {"stop", 0, true, "reading/writing broken"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TLogCapture log;
    TSilentServer server;
    TCtlEngine e;
    e.FReadTimeout = c.timeoutMs;
    std::thread stopper;
    if (c.stop) {
      stopper = std::thread([&e] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        e.Stop(false);
      });
    }
    e.ParseOptions("-f mpegts");
    EXPECT_LT(e.OpenInput(nullptr, server.Url()), 0);
    if (stopper.joinable()) stopper.join();
    EXPECT_NE(log.Text().find(c.logged), std::string::npos) << log.Text();
  }
}

}  // namespace
