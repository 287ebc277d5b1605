#pragma once
// An encoder whose tasks convert small generated pictures, painted through
// frameinput, into MPEG-4 files in a scratch folder, and a record of the
// termination events it raised.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "encoder/FFEncode.h"
#include "ffbind/FFLoad.h"
#include "frameinput/FrameInput.h"
#include "platform/MainThread.h"

namespace encodertest {

namespace fs = std::filesystem;

// The window's picture input, without "-re" (pacing only slows tests).
inline const std::string kInputOptions = "-f frameinput -input_type canvas -pix_fmt bgr24 -r 30/1 -s 64x48";
inline const std::string kOutputOptions = "-c:v mpeg4 -r 30/1 -s 64x48";

// One picture input: frames 1..Count are painted, then the input ends.
// OnFrame runs first with the frame number (on the main thread).
struct TPictureSource {
  frameinput::TFrameInputAdapter Adapter;
  int Count = 4;
  std::function<void(int)> OnFrame;
  int LastFrame = 0;

  TPictureSource() {
    Adapter.OnReadFrameCanvas = [this](frameinput::TFrameInputAdapter*, platform::TBitmap& canvas,
                                       frameinput::TInputFrameInfo* info) -> std::int32_t {
      LastFrame = info->FrameNumber;
      if (OnFrame) OnFrame(info->FrameNumber);
      if (info->FrameNumber > Count) return -1;
      for (int y = 0; y < canvas.Height(); ++y) {
        std::uint8_t* row = canvas.ScanLine(y);
        for (int x = 0; x < 3 * canvas.Width(); ++x) row[x] = static_cast<std::uint8_t>(x + y + 20 * info->FrameNumber);
      }
      return 0;
    };
  }
};

struct TEvent {
  encoder::TTerminateInfo Info;
  bool OnMainThread;
};

class EncoderTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(ffbind::FFLoader.Load(ffbind::kEncoderLibraries)) << ffbind::FFLoader.LastErrMsg();
    frameinput::RegisterFrameInputFormat();
  }

  void SetUp() override {
    Dir = fs::temp_directory_path() / ("fr_enc_" + std::to_string(::getpid()) + "_" +
                                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(Dir);
    Encoder.OnTerminate = [this](void* sender, const encoder::TTerminateInfo& info) {
      EXPECT_EQ(sender, &Encoder);
      Events.push_back({info, platform::IsMainThread()});
    };
  }

  void TearDown() override {
    Encoder.Stop(true);
    platform::ServeMainThreadUntil([this] { return !Encoder.Working() || Encoder.Terminated(); }, 10000);
    fs::remove_all(Dir);
  }

  // A task painting `frames` pictures into <name>.avi; its index.
  int AddPictureTask(int frames, const std::string& name, std::function<void(int)> onFrame = {}) {
    TPictureSource& source = Sources.emplace_back();
    source.Count = frames;
    source.OnFrame = std::move(onFrame);
    const int task = Encoder.AddTask(source.Adapter.FileName(), kInputOptions);
    EXPECT_GE(task, 0) << Encoder.LastErrMsg();
    if (task < 0) return task;
    EXPECT_GE(Encoder.SetOutput(task, OutputName(name), kOutputOptions), 0) << Encoder.LastErrMsg();
    return task;
  }

  std::string OutputName(const std::string& name) const { return (Dir / (name + ".avi")).string(); }

  bool FinalEventSeen() const { return !Events.empty() && Events.back().Info.TaskIndex == -1; }

  // Serves the main thread until the final event came.
  bool WaitForFinalEvent() {
    return platform::ServeMainThreadUntil([this] { return FinalEventSeen(); }, 60000);
  }

  fs::path Dir;
  // Declared before the encoder: the adapters outlive the tasks reading them.
  std::deque<TPictureSource> Sources;
  std::vector<TEvent> Events;
  encoder::TFFEncoder Encoder;
};

}  // namespace encodertest
