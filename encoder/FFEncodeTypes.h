#pragma once
// Records of the encoder: the option records of a task's inputs and
// outputs, and the records it hands to its event handlers. Plain values:
// the encoder fills an event record under that event's lock and the
// handler reads it while the sender waits.
#include <cstdint>
#include <string>

#include "ffbind/FFHeaders.h"
#include "platform/Bitmap.h"

namespace encoder {

// One input of a task. FileName is filled from the call's file name when
// left empty; Options are parsed before the input is opened, then Presets
// (key=value lines).
struct TInputOptions {
  std::string FileName;
  std::string Options;
  std::string Presets;
  std::int32_t Tag = 0;
  void* Data = nullptr;
};
using PInputOptions = TInputOptions*;

// One output of a task. The switches route this output's data through the
// encoder's hook events; Join writes every input of the task one after
// another into this output.
struct TOutputOptions {
  std::string FileName;
  std::string Options;
  std::string Presets;
  bool AudioHook = false;
  bool VideoInputHook = false;
  bool VideoOutputHook = false;
  std::int32_t VideoHookBitsPixel = 24;
  bool FrameInputHook = false;
  bool FrameOutputHook = false;
  bool Join = false;
  std::int32_t Tag = 0;
  void* Data = nullptr;
};
using POutputOptions = TOutputOptions*;

// Back to the defaults above (the strings released).
inline void InitInputOptions(PInputOptions AOptions) { *AOptions = TInputOptions{}; }
inline void InitOutputOptions(POutputOptions AOptions) { *AOptions = TOutputOptions{}; }

// Passed by pointer to OnProgress; valid only during the call.
struct TProgressInfo {
  std::int32_t TaskIndex = 0;
  // Input file the last packet came from; -1 in a task's last report.
  std::int32_t FileIndex = 0;
  std::int32_t FrameNumber = 0;
  std::int32_t FPS = 0;
  float Quality = 0.0f;
  float BitRate = 0.0f;           // kilobits per second, average so far
  std::int64_t CurrentSize = 0;   // bytes written so far
  std::int64_t CurrentDuration = 0;  // microseconds of output so far
  std::int64_t TotalDuration = 0;    // expected output duration, microseconds
};

// Passed by value to OnTerminate: once per task, then once more with
// TaskIndex -1 (Finished true, no exception) after the last task.
struct TTerminateInfo {
  std::int32_t TaskIndex = 0;
  // The conversion reached its end without being stopped.
  bool Finished = false;
  bool Exception = false;
  std::string ExceptionMsg;
};

// Passed by pointer to OnVideoInputHook / OnVideoOutputHook on the task's
// worker thread: the picture on a drawing surface (locked meanwhile). With
// Update (true on entry) what the handler painted goes back into the
// picture; StopHook ends the hook for the rest of the task's run.
struct THookInfo {
  std::int32_t TaskIndex = 0;
  platform::TBitmap* Bitmap = nullptr;
  std::int32_t FrameNumber = 0;
  std::int64_t PTS = 0;  // microseconds
  bool Update = true;
  bool StopHook = false;
};

// Passed to OnPreviewBitmap: an encoded picture of a task, at most once per
// preview interval, while PreviewBitmap is on.
struct TPreviewInfo {
  std::int32_t TaskIndex = 0;
  platform::TBitmap* Bitmap = nullptr;
  std::int32_t FrameNumber = 0;
  std::int64_t PTS = 0;  // microseconds
};

// Passed by pointer to OnFrameInputHook / OnFrameOutputHook on the task's
// worker thread. The handler may change the picture's pixels in place.
struct TFrameHookInfo {
  std::int32_t TaskIndex = 0;
  std::int32_t FrameNumber = 0;
  AVFrame* Picture = nullptr;
  AVPixelFormat PixFmt = AV_PIX_FMT_NONE;
  std::int32_t Width = 0;
  std::int32_t Height = 0;
  std::int64_t PTS = 0;  // microseconds
};

}  // namespace encoder
