// Building tasks: option records and strings, failures that leave the
// encoder as it was, the task list and its accessors.
#include <stdexcept>

#include "tests/encoder/EncoderFixture.h"

namespace encodertest {
namespace {

using encoder::TInputOptions;
using encoder::TOutputOptions;

using EncoderTasksTest = EncoderTest;

TEST_F(EncoderTasksTest, RecordFormFillsTheCallersFileNameAndKeepsTheRecords) {
  TPictureSource& source = Sources.emplace_back();
  void* probedBy = nullptr;
  Encoder.OnBeforeFindStreamInfo = [&probedBy](void* sender, AVFormatContext* context) {
    EXPECT_TRUE(platform::IsMainThread());
    EXPECT_NE(context, nullptr);
    probedBy = sender;
  };
  TInputOptions in;
  in.Options = kInputOptions;
  in.Tag = 7;
  const int task = Encoder.AddTask(source.Adapter.FileName(), &in);
  ASSERT_EQ(task, 0) << Encoder.LastErrMsg();
  EXPECT_EQ(probedBy, Encoder.FFmpegs(task));
  EXPECT_EQ(in.FileName, source.Adapter.FileName());

  const TInputOptions stored = Encoder.InputOptions(task, 0);
  EXPECT_EQ(stored.FileName, in.FileName);
  EXPECT_EQ(stored.Options, kInputOptions);
  EXPECT_EQ(stored.Tag, 7);
  ASSERT_NE(Encoder.InputFiles(task, 0), nullptr);
  // The probe describes the opened input itself.
  EXPECT_EQ(Encoder.Decoders(task, 0)->FileHandle(), Encoder.InputFiles(task, 0));
  EXPECT_EQ(Encoder.Decoders(task, 0)->VideoStreamCount(), 1);
  EXPECT_EQ(Encoder.FFmpegs(task)->Parent, &Encoder);

  TOutputOptions out;
  out.Options = kOutputOptions;
  out.FrameOutputHook = true;
  ASSERT_EQ(Encoder.SetOutput(task, OutputName("record"), &out), 0) << Encoder.LastErrMsg();
  EXPECT_EQ(out.FileName, OutputName("record"));
  EXPECT_TRUE(Encoder.OutputOptions(task, 0).FrameOutputHook);
  EXPECT_NE(Encoder.OutputFiles(task, 0), nullptr);
  // Never stored: a default record.
  EXPECT_EQ(Encoder.OutputOptions(task, 3).VideoHookBitsPixel, 24);
  EXPECT_TRUE(Encoder.OutputOptions(task, 3).Options.empty());
}

TEST_F(EncoderTasksTest, OutputStringFormReadsTheSwitchesFromTheText) {
  struct TCase {
    std::string options;
    bool frameInput, frameOutput;
    std::string error;  // "" when the output opens
  } cases[] = {
      {"-FrameInputHook " + kOutputOptions, true, false, ""},
      {kOutputOptions + " -FrameOutputHook", false, true, ""},
      {kOutputOptions + " -metadata comment=x-FrameInputHook", false, false, ""},
      {"-Join " + kOutputOptions, false, false, "Output switch Join is not available"},
      {kOutputOptions + " -VideoOutputHook", false, false, ""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.options);
    TPictureSource& source = Sources.emplace_back();
    const int task = Encoder.AddTask(source.Adapter.FileName(), kInputOptions);
    ASSERT_GE(task, 0) << Encoder.LastErrMsg();
    const int result = Encoder.SetOutput(task, OutputName("switches" + std::to_string(task)), c.options);
    if (!c.error.empty()) {
      EXPECT_EQ(result, -1);
      EXPECT_EQ(Encoder.LastErrMsg(), c.error);
      EXPECT_EQ(Encoder.OutputFiles(task, 0), nullptr);
      continue;
    }
    ASSERT_EQ(result, 0) << Encoder.LastErrMsg();
    const TOutputOptions stored = Encoder.OutputOptions(task, 0);
    EXPECT_EQ(stored.FrameInputHook, c.frameInput);
    EXPECT_EQ(stored.FrameOutputHook, c.frameOutput);
    EXPECT_EQ(stored.VideoOutputHook, c.options.find(" -VideoOutputHook") != std::string::npos);
    // The record form filled the name; the switch words stay in the text.
    EXPECT_EQ(stored.FileName, OutputName("switches" + std::to_string(task)));
    EXPECT_EQ(stored.Options, c.options);
  }
}

TEST_F(EncoderTasksTest, RejectedOptionLeavesNoTask) {
  const std::string options = kInputOptions + " -no_such_option 1";
  std::string parserText;
  {
    engine::TCustomFFmpeg parser;
    try {
      parser.ParseOptions(options);
    } catch (const std::exception& e) {
      parserText = e.what();
    }
  }
  ASSERT_FALSE(parserText.empty());

  AddPictureTask(2, "first");
  TPictureSource& source = Sources.emplace_back();
  EXPECT_EQ(Encoder.AddTask(source.Adapter.FileName(), options), -1);
  EXPECT_EQ(Encoder.LastErrMsg(), parserText);
  EXPECT_EQ(Encoder.TasksCount(), 1);
  EXPECT_EQ(Encoder.AddTask(source.Adapter.FileName(), kInputOptions), 1) << Encoder.LastErrMsg();
}

TEST_F(EncoderTasksTest, FailedInputKeepsTheTaskAndForgetsItsOptions) {
  const int task = AddPictureTask(2, "kept");
  ASSERT_EQ(task, 0);
  TInputOptions in;
  in.Options = "-t 1";
  in.Tag = 3;
  const std::string missing = (Dir / "missing.wav").string();
  EXPECT_LT(Encoder.AddInput(task, missing, &in), 0);
  EXPECT_NE(Encoder.LastErrMsg().find("missing.wav"), std::string::npos) << Encoder.LastErrMsg();
  EXPECT_EQ(Encoder.FFmpegs(task)->InputCount(), 1);
  EXPECT_NE(Encoder.InputFiles(task, 0), nullptr);
  const TInputOptions failed = Encoder.InputOptions(task, 1);
  EXPECT_TRUE(failed.FileName.empty());
  EXPECT_TRUE(failed.Options.empty());
  EXPECT_EQ(failed.Tag, 0);
  EXPECT_EQ(Encoder.InputOptions(task, 0).Options, kInputOptions);
}

TEST_F(EncoderTasksTest, RemoveAndExchangeRenumberTasks) {
  for (int i = 0; i < 3; ++i) ASSERT_EQ(AddPictureTask(2, "t" + std::to_string(i)), i);
  encoder::TFFmpeg* second = Encoder.FFmpegs(1);
  encoder::TFFmpeg* third = Encoder.FFmpegs(2);

  Encoder.RemoveTask(0);
  EXPECT_EQ(Encoder.TasksCount(), 2);
  EXPECT_EQ(Encoder.FFmpegs(0), second);
  EXPECT_EQ(Encoder.GetTaskIndex(third), 1);

  Encoder.Exchange(0, 1);
  EXPECT_EQ(Encoder.FFmpegs(0), third);
  EXPECT_EQ(Encoder.GetTaskIndex(second), 1);
  EXPECT_EQ(Encoder.GetTaskIndex(nullptr), -1);

  EXPECT_THROW(Encoder.RemoveTask(2), std::out_of_range);
  EXPECT_THROW(Encoder.Exchange(-1, 0), std::out_of_range);
  EXPECT_THROW(Encoder.AddInput(5, "x", kInputOptions), std::out_of_range);
}

TEST_F(EncoderTasksTest, PropertiesHaveTheirDefaultsAndProgressIntervalIsClamped) {
  EXPECT_EQ(Encoder.ProgressInterval(), 500);
  EXPECT_EQ(Encoder.ThreadPriority(), engine::tpNormal);
  EXPECT_TRUE(Encoder.TriggerEventInMainThread());
  EXPECT_TRUE(Encoder.HaltOnInvalidOption());
  EXPECT_FALSE(Encoder.Preview());
  EXPECT_FALSE(Encoder.PreviewBitmap());
  EXPECT_EQ(Encoder.ReadTimeout, 30000);
  EXPECT_EQ(Encoder.WriteTimeout, 30000);
  EXPECT_FALSE(Encoder.Working());
  EXPECT_NE(Encoder.Decoder(), nullptr);
  EXPECT_TRUE(Encoder.AVLibLoaded());

  const struct {
    std::int32_t set, read;
  } intervals[] = {{50, 100}, {99, 100}, {100, 100}, {250, 250}, {-5, 100}};
  for (const auto& c : intervals) {
    Encoder.SetProgressInterval(c.set);
    EXPECT_EQ(Encoder.ProgressInterval(), c.read) << c.set;
  }
}

}  // namespace
}  // namespace encodertest
