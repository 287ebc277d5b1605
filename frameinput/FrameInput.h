#pragma once
// Frame input: an application supplies video frames to the engine through
// a TFrameInputAdapter and the virtual input format "frameinput". The
// input's file name is the adapter's FileName(); each packet the engine
// reads asks one of the adapter's handlers to fill the frame.
//
// Threads: read_header runs on the thread that opens the input, read_packet
// on the thread that reads it, read_close on the thread that closes it.
// With TriggerEventInMainThread (default) every handler runs on the main
// thread (platform::CallInMainThread) while the reader waits.
//
// Failures: an exception thrown by a handler never crosses the library. The
// read (or open) fails with AVERROR_EXTERNAL and the exception is kept in
// the adapter until the engine takes it (TakePendingError /
// RethrowPendingError) and ends the task with it.
#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <string_view>

#include "ffbind/FFHeaders.h"
#include "platform/Bitmap.h"
#include "platform/FFBaseComponent.h"

namespace frameinput {

// The record of every frame request.
struct TInputFrameInfo {
  std::int64_t TimeStamp;      // microseconds; preset by the format, a handler may overwrite it
  std::int64_t LastTimeStamp;  // previous packet's; INT64_MIN before the first
  std::int32_t FrameNumber;    // 1 for the first request
  std::int32_t Width;
  std::int32_t Height;
  std::int32_t BitsPerPixel;   // 8, 16, 24 or 32 for canvas/bmp; 0 for yuv
  std::int32_t BytesPerLine;   // width x bits per pixel rounded up to 32 bits, in bytes
  std::int32_t BytesPerFrame;  // packet size
  AVPixelFormat PixelFormat;
};

class TFrameInputAdapter;
struct TFrameInputContext;

using TNotifyEvent = std::function<void(TFrameInputAdapter* Sender)>;
// Paint the frame on ACanvas (top-down rows, FrameInfo's size and depth).
// A negative result ends the input with that code.
using TReadFrameCanvasEvent =
    std::function<std::int32_t(TFrameInputAdapter* Sender, platform::TBitmap& ACanvas, TInputFrameInfo* AFrameInfo)>;
// Write BytesPerFrame bytes at AData: bottom-up bitmap rows for the bmp
// type, the pixel format's packed picture layout for the yuv type.
using TReadFrameDataEvent =
    std::function<std::int32_t(TFrameInputAdapter* Sender, void* AData, TInputFrameInfo* AFrameInfo)>;

class TFrameInputAdapter : public platform::TFFBaseComponent {
 public:
  TFrameInputAdapter();
  // Handlers are cleared and an input still open is detached (its reads
  // then end with -1).
  ~TFrameInputAdapter() override;
  TFrameInputAdapter(const TFrameInputAdapter&) = delete;
  TFrameInputAdapter& operator=(const TFrameInputAdapter&) = delete;

  // Decimal identity naming this adapter as the file name of an input.
  // Numbers are never reused, so a stale name cannot reach another adapter.
  std::string FileName() const;

  // The frame record of the open input; nullptr when none is open.
  TInputFrameInfo* FrameInfo() const { return FFrameInfo; }

  // The exception a handler threw during the last failed open or read,
  // handed over once (nullptr when none).
  std::exception_ptr TakePendingError();
  // Re-throws (and clears) that exception; does nothing when there is none.
  void RethrowPendingError();

  void* UserData = nullptr;
  bool TriggerEventInMainThread = true;

  TNotifyEvent OnReadHeader;
  TNotifyEvent OnReadClose;
  TReadFrameCanvasEvent OnReadFrameCanvas;
  TReadFrameDataEvent OnReadFrameBMP;
  TReadFrameDataEvent OnReadFrameYUV;

  // Dispatchers, called by the format. A missing frame handler yields -1.
  // Handler exceptions propagate to the caller.
  void DoReadHeader();
  void DoReadClose();
  std::int32_t DoReadFrameCanvas(platform::TBitmap& canvas, TInputFrameInfo* info);
  std::int32_t DoReadFrameBMP(void* data, TInputFrameInfo* info);
  std::int32_t DoReadFrameYUV(void* data, TInputFrameInfo* info);

  // Called by the format when an input opens on / closes off this adapter.
  void Attach(TFrameInputContext* context, TInputFrameInfo* info);
  void Detach(TFrameInputContext* context);
  void SetPendingError(std::exception_ptr error);

 private:
  std::int32_t DispatchFrame(const std::function<std::int32_t()>& call, platform::TBitmap* lockedCanvas);
  void DispatchNotify(const TNotifyEvent& event);

  std::uint64_t FIdentity;
  TInputFrameInfo* FFrameInfo = nullptr;
  TFrameInputContext* FContext = nullptr;
  std::int32_t FLastResult = 0;
  std::exception_ptr FPendingError;
};

// The live adapter a file name designates: nullptr for a name that is not a
// decimal number (*parsed false) or a number of no live adapter.
TFrameInputAdapter* FindAdapter(std::string_view fileName, bool* parsed = nullptr);

// The "frameinput" format, and its registration in the system's own format
// list (registering again changes nothing).
const AVInputFormat* FrameInputFormat();
void RegisterFrameInputFormat();

// For an input opened with the frameinput format: re-throws the exception
// its adapter keeps, if any. Does nothing for other inputs.
void RethrowPendingError(const AVFormatContext* input);

}  // namespace frameinput
