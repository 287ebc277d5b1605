#pragma once
// Records the encoder hands to its OnProgress and OnTerminate handlers.
// Plain values: the encoder fills them under its per-event lock and the
// handler reads them on the main thread while the sender waits.
#include <cstdint>
#include <string>

namespace encoder {

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

}  // namespace encoder
