// Running tasks: termination events in order and on the main thread, with
// worker threads and on the caller's thread, stopping, pausing, progress,
// and the busy guard around a run.
#include <atomic>
#include <fstream>
#include <set>
#include <stdexcept>

#include "ffbind/AVCodecStubs.h"
#include "ffbind/AVFormatStubs.h"
#include "tests/encoder/EncoderFixture.h"

namespace encodertest {
namespace {

using EncoderRunTest = EncoderTest;

// Video packets of a written file.
int VideoPackets(const std::string& file) {
  AVFormatContext* ic = nullptr;
  if (ff::avformat_open_input(&ic, file.c_str(), nullptr, nullptr) < 0) return -1;
  int packets = 0;
  AVPacket* pkt = ff::av_packet_alloc();
  while (ff::av_read_frame(ic, pkt) >= 0) {
    if (ic->streams[pkt->stream_index]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) ++packets;
    ff::av_packet_unref(pkt);
  }
  ff::av_packet_free(&pkt);
  ff::avformat_close_input(&ic);
  return packets;
}

TEST_F(EncoderRunTest, OneTaskOnAWorkerReportsItselfThenTheEnd) {
  ASSERT_EQ(AddPictureTask(4, "one"), 0);
  std::vector<encoder::TProgressInfo> progress;
  Encoder.OnProgress = [&](void*, const encoder::TProgressInfo* info) {
    EXPECT_TRUE(platform::IsMainThread());
    progress.push_back(*info);
  };
  Encoder.SetProgressInterval(250);
  Encoder.Start(1);
  EXPECT_TRUE(Encoder.Working());
  EXPECT_EQ(Encoder.FFmpegs(0)->ReportIntervalMicroseconds(), 250000);
  ASSERT_TRUE(WaitForFinalEvent());

  ASSERT_EQ(Events.size(), 2u);
  EXPECT_EQ(Events[0].Info.TaskIndex, 0);
  EXPECT_TRUE(Events[0].Info.Finished);
  EXPECT_FALSE(Events[0].Info.Exception) << Events[0].Info.ExceptionMsg;
  EXPECT_EQ(Events[1].Info.TaskIndex, -1);
  EXPECT_TRUE(Events[1].Info.Finished);
  EXPECT_FALSE(Events[1].Info.Exception);
  EXPECT_TRUE(Events[0].OnMainThread && Events[1].OnMainThread);
  EXPECT_TRUE(Encoder.Terminated());
  EXPECT_TRUE(Encoder.Working());

  // The last report always comes and carries file index -1.
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.back().TaskIndex, 0);
  EXPECT_EQ(progress.back().FileIndex, -1);
  EXPECT_EQ(progress.back().FrameNumber, 4);
  EXPECT_EQ(VideoPackets(OutputName("one")), 4);
}

TEST_F(EncoderRunTest, ThreeTasksOnTwoThreadsStartTheThirdWhenOneEnds) {
  std::atomic<bool> thirdStartedAfterAnEnd{false};
  ASSERT_EQ(AddPictureTask(6, "a"), 0);
  ASSERT_EQ(AddPictureTask(3, "b"), 1);
  ASSERT_EQ(AddPictureTask(3, "c", [this, &thirdStartedAfterAnEnd](int frame) {
              if (frame == 1)
                thirdStartedAfterAnEnd = Encoder.FFmpegs(0)->Terminated() || Encoder.FFmpegs(1)->Terminated();
            }),
            2);
  Encoder.Start(2);
  ASSERT_TRUE(WaitForFinalEvent());

  ASSERT_EQ(Events.size(), 4u);
  std::set<int> tasks;
  for (std::size_t i = 0; i < 3; ++i) {
    tasks.insert(Events[i].Info.TaskIndex);
    EXPECT_TRUE(Events[i].Info.Finished) << Events[i].Info.ExceptionMsg;
  }
  EXPECT_EQ(tasks, (std::set<int>{0, 1, 2}));
  EXPECT_EQ(Events[3].Info.TaskIndex, -1);
  EXPECT_TRUE(thirdStartedAfterAnEnd);
  for (const char* name : {"a", "b", "c"}) EXPECT_GT(VideoPackets(OutputName(name)), 0) << name;
}

TEST_F(EncoderRunTest, StartWithoutThreadsReturnsAfterEveryEvent) {
  ASSERT_EQ(AddPictureTask(3, "x"), 0);
  ASSERT_EQ(AddPictureTask(2, "y"), 1);
  Encoder.Start(0);
  ASSERT_EQ(Events.size(), 3u);
  EXPECT_EQ(Events[0].Info.TaskIndex, 0);
  EXPECT_EQ(Events[1].Info.TaskIndex, 1);
  EXPECT_EQ(Events[2].Info.TaskIndex, -1);
  for (const TEvent& e : Events) {
    EXPECT_TRUE(e.Info.Finished);
    EXPECT_TRUE(e.OnMainThread);
  }
  EXPECT_TRUE(Encoder.Terminated());
  EXPECT_EQ(VideoPackets(OutputName("y")), 2);
}

TEST_F(EncoderRunTest, NonWaitingStopFromTheFrameHandlerEndsTheRun) {
  for (int threads : {1, 0}) {
    SCOPED_TRACE(threads);
    Events.clear();
    Encoder.ClearTasks();
    // The second task never starts: it reports without running.
    ASSERT_EQ(AddPictureTask(1000, "stopped" + std::to_string(threads), [this](int frame) {
                if (frame == 3) Encoder.Stop(false);
              }),
              0);
    ASSERT_EQ(AddPictureTask(3, "never" + std::to_string(threads)), 1);
    Encoder.Start(threads);
    ASSERT_TRUE(WaitForFinalEvent());
    ASSERT_EQ(Events.size(), 3u);
    EXPECT_EQ(Events[0].Info.TaskIndex + Events[1].Info.TaskIndex, 1);
    EXPECT_FALSE(Events[0].Info.Finished);
    EXPECT_FALSE(Events[1].Info.Finished);
    EXPECT_EQ(Events[2].Info.TaskIndex, -1);
    EXPECT_TRUE(Events[2].Info.Finished);
    EXPECT_LT(Sources[Sources.size() - 2].LastFrame, 10);
    EXPECT_EQ(Sources.back().LastFrame, 0);
  }
}

TEST_F(EncoderRunTest, WaitingStopReturnsOnceTheTaskHasEnded) {
  bool running = false;
  ASSERT_EQ(AddPictureTask(1000, "waited", [&running](int frame) { running = frame >= 3; }), 0);
  Encoder.Start(1);
  ASSERT_TRUE(platform::ServeMainThreadUntil([&] { return running; }, 60000));
  Encoder.Stop(true);
  EXPECT_FALSE(Encoder.FFmpegs(0)->Converting());
  EXPECT_TRUE(Encoder.FFmpegs(0)->Terminated());
  ASSERT_TRUE(WaitForFinalEvent());
  ASSERT_EQ(Events.size(), 2u);
  EXPECT_FALSE(Events[0].Info.Finished);
  EXPECT_LT(Sources[0].LastFrame, 1000);
}

TEST_F(EncoderRunTest, DestroyingARunningEncoderStopsItsTasks) {
  TPictureSource source;
  source.Count = 1000;
  bool running = false;
  source.OnFrame = [&running](int frame) { running = frame >= 3; };
  {
    encoder::TFFEncoder local;
    ASSERT_EQ(local.AddTask(source.Adapter.FileName(), kInputOptions), 0) << local.LastErrMsg();
    ASSERT_EQ(local.SetOutput(0, OutputName("abandoned"), kOutputOptions), 0) << local.LastErrMsg();
    local.Start(1);
    ASSERT_TRUE(platform::ServeMainThreadUntil([&] { return running; }, 60000));
  }
  EXPECT_LT(source.LastFrame, 1000);
}

TEST_F(EncoderRunTest, PauseTwiceResumeOnceContinues) {
  bool pausedAtFive = false;
  ASSERT_EQ(AddPictureTask(12, "paused", [this, &pausedAtFive](int frame) {
              if (frame != 5) return;
              Encoder.Pause();
              Encoder.Pause();
              pausedAtFive = true;
            }),
            0);
  Encoder.Start(1);
  ASSERT_TRUE(platform::ServeMainThreadUntil([&] { return pausedAtFive; }, 60000));
  EXPECT_TRUE(Encoder.Paused());
  // The worker holds at its next safe point: no further pictures are asked.
  platform::ServeMainThreadUntil([] { return false; }, 300);
  EXPECT_LE(Sources[0].LastFrame, 6);
  EXPECT_TRUE(Events.empty());
  EXPECT_THROW(
      try { Encoder.ClearTasks(); } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Cannot ClearTasks while working.");
        throw;
      },
      std::runtime_error);

  Encoder.Resume();
  EXPECT_FALSE(Encoder.Paused());
  ASSERT_TRUE(WaitForFinalEvent());
  ASSERT_EQ(Events.size(), 2u);
  EXPECT_TRUE(Events[0].Info.Finished);
  EXPECT_EQ(VideoPackets(OutputName("paused")), 12);
}

TEST_F(EncoderRunTest, FinishedRunRefusesChangesUntilCleared) {
  ASSERT_EQ(AddPictureTask(2, "busy"), 0);
  Encoder.Start(1);
  ASSERT_TRUE(WaitForFinalEvent());

  TPictureSource& source = Sources.emplace_back();
  const std::string name = source.Adapter.FileName();
  const struct {
    const char* operation;
    std::function<void()> call;
  } calls[] = {
      {"AddTask", [&] { Encoder.AddTask(name, kInputOptions); }},
      {"AddInput", [&] { Encoder.AddInput(0, name, kInputOptions); }},
      {"SetOutput", [&] { Encoder.SetOutput(0, OutputName("again"), kOutputOptions); }},
      {"Exchange", [&] { Encoder.Exchange(0, 0); }},
      {"RemoveTask", [&] { Encoder.RemoveTask(0); }},
      {"StartTask", [&] { Encoder.Start(1); }},
  };
  for (const auto& c : calls) {
    try {
      c.call();
      ADD_FAILURE() << c.operation << " was accepted";
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(std::string(e.what()), std::string("Cannot ") + c.operation + " while working.");
    }
  }
  EXPECT_EQ(Encoder.TasksCount(), 1);

  Encoder.ClearTasks();
  EXPECT_FALSE(Encoder.Working());
  EXPECT_EQ(Encoder.TasksCount(), 0);
  EXPECT_EQ(Encoder.AddTask(name, kInputOptions), 0) << Encoder.LastErrMsg();
}

// A mono 16-bit PCM WAV file of `samples` samples at 44,100 Hz.
void WriteWav(const std::string& file, int samples) {
  auto le = [](std::ofstream& f, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) f.put(static_cast<char>((v >> (8 * i)) & 0xFF));
  };
  std::ofstream f(file, std::ios::binary);
  const std::uint32_t data = 2u * samples;
  f << "RIFF";
  le(f, 36 + data, 4);
  f << "WAVEfmt ";
  le(f, 16, 4), le(f, 1, 2), le(f, 1, 2), le(f, 44100, 4), le(f, 88200, 4), le(f, 2, 2), le(f, 16, 2);
  f << "data";
  le(f, data, 4);
  for (int i = 0; i < samples; ++i) le(f, static_cast<std::uint32_t>((i % 100) * 300), 2);
}

TEST_F(EncoderRunTest, HooksRunOnTheWorkerWithTheTaskIndex) {
  const std::string wav = (Dir / "tone.wav").string();
  WriteWav(wav, 4410);
  TPictureSource& source = Sources.emplace_back();
  ASSERT_EQ(Encoder.AddTask(source.Adapter.FileName(), kInputOptions), 0) << Encoder.LastErrMsg();
  ASSERT_EQ(Encoder.AddInput(0, wav, ""), 1) << Encoder.LastErrMsg();
  ASSERT_EQ(Encoder.SetOutput(0, OutputName("hooks"), kOutputOptions + " -c:a mp2 -AudioHook -FrameOutputHook"), 0)
      << Encoder.LastErrMsg();

  std::atomic<int> audioCalls{0}, audioOffMain{0}, frameCalls{0}, frameOffMain{0}, wrong{0};
  Encoder.OnAudioHook = [&](void* sender, std::int32_t task, std::int64_t, std::uint8_t* sample, std::int32_t size,
                            std::int32_t rate, std::int32_t channels, AVSampleFormat) {
    ++audioCalls;
    if (!platform::IsMainThread()) ++audioOffMain;
    if (sender != &Encoder || task != 0 || !sample || size <= 0 || rate != 44100 || channels != 1) ++wrong;
  };
  Encoder.OnFrameOutputHook = [&](void* sender, encoder::TFrameHookInfo* info) {
    ++frameCalls;
    if (!platform::IsMainThread()) ++frameOffMain;
    if (sender != &Encoder || info->TaskIndex != 0 || !info->Picture || info->Width != 64 || info->Height != 48)
      ++wrong;
  };
  Encoder.Start(1);
  ASSERT_TRUE(WaitForFinalEvent());
  EXPECT_TRUE(Events[0].Info.Finished) << Events[0].Info.ExceptionMsg;
  EXPECT_GT(audioCalls, 0);
  EXPECT_EQ(audioOffMain, audioCalls);
  EXPECT_EQ(frameCalls, 4);
  EXPECT_EQ(frameOffMain, frameCalls);
  EXPECT_EQ(wrong, 0);
}

TEST_F(EncoderRunTest, VideoHooksOnTheWorkerPreviewBitmapsOnTheMainThread) {
  TPictureSource& source = Sources.emplace_back();
  ASSERT_EQ(Encoder.AddTask(source.Adapter.FileName(), kInputOptions), 0) << Encoder.LastErrMsg();
  ASSERT_EQ(Encoder.SetOutput(0, OutputName("bitmaps"), kOutputOptions + " -VideoInputHook -VideoOutputHook"), 0)
      << Encoder.LastErrMsg();
  Encoder.FFmpegs(0)->PreviewInterval = 0;
  Encoder.SetPreviewBitmap(true);  // reaches the task already built

  std::atomic<int> inputCalls{0}, outputCalls{0}, previews{0}, onMain{0}, wrong{0};
  Encoder.OnVideoInputHook = [&](void* sender, encoder::THookInfo* info) {
    ++inputCalls;
    if (platform::IsMainThread()) ++onMain;
    if (sender != &Encoder || info->TaskIndex != 0 || !info->Bitmap || info->Bitmap->Width() != 64 ||
        info->FrameNumber != inputCalls || !info->Update || info->StopHook)
      ++wrong;
  };
  Encoder.OnVideoOutputHook = [&](void*, encoder::THookInfo* info) {
    ++outputCalls;
    if (platform::IsMainThread()) ++onMain;
    info->StopHook = true;  // once is enough
  };
  Encoder.OnPreviewBitmap = [&](void* sender, const encoder::TPreviewInfo& info) {
    ++previews;
    if (!platform::IsMainThread() || sender != &Encoder || info.TaskIndex != 0 || !info.Bitmap ||
        info.Bitmap->Height() != 48)
      ++wrong;
  };
  Encoder.Start(1);
  ASSERT_TRUE(WaitForFinalEvent());
  EXPECT_TRUE(Events[0].Info.Finished) << Events[0].Info.ExceptionMsg;
  EXPECT_EQ(inputCalls, 4);
  EXPECT_EQ(outputCalls, 1);
  EXPECT_EQ(previews, 4);
  EXPECT_EQ(onMain, 0);
  EXPECT_EQ(wrong, 0);
}

TEST_F(EncoderRunTest, FinalEventHandlerMayClearTheTasks) {
  for (int threads : {1, 0}) {
    SCOPED_TRACE(threads);
    Encoder.OnTerminate = [this](void*, const encoder::TTerminateInfo& info) {
      Events.push_back({info, platform::IsMainThread()});
      if (info.TaskIndex == -1) Encoder.ClearTasks();
    };
    Events.clear();
    ASSERT_EQ(AddPictureTask(2, "cleared" + std::to_string(threads)), 0);
    Encoder.Start(threads);
    ASSERT_TRUE(WaitForFinalEvent());
    EXPECT_EQ(Events.size(), 2u);
    EXPECT_FALSE(Encoder.Working());
    EXPECT_EQ(Encoder.TasksCount(), 0);
  }
}

}  // namespace
}  // namespace encodertest
