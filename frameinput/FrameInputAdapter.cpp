#include <charconv>
#include <mutex>
#include <unordered_map>

#include "frameinput/FrameInput.h"
#include "frameinput/FrameInputContext.h"
#include "platform/MainThread.h"

namespace frameinput {
namespace {

// Live adapters by identity: a file name resolves only to an adapter that
// still exists.
struct TAdapterRegistry {
  std::mutex Lock;
  std::uint64_t LastIdentity = 0;
  std::unordered_map<std::uint64_t, TFrameInputAdapter*> Live;
};

TAdapterRegistry& Registry() {
  static TAdapterRegistry registry;
  return registry;
}

// Holds the surface while a handler paints it off the main thread.
class TCanvasLock {
 public:
  explicit TCanvasLock(platform::TBitmap& canvas) : FCanvas(canvas) { FCanvas.Lock(); }
  ~TCanvasLock() { FCanvas.Unlock(); }
  TCanvasLock(const TCanvasLock&) = delete;
  TCanvasLock& operator=(const TCanvasLock&) = delete;

 private:
  platform::TBitmap& FCanvas;
};

}  // namespace

TFrameInputAdapter::TFrameInputAdapter() {
  TAdapterRegistry& r = Registry();
  std::lock_guard guard(r.Lock);
  FIdentity = ++r.LastIdentity;
  r.Live.emplace(FIdentity, this);
}

TFrameInputAdapter::~TFrameInputAdapter() {
  OnReadHeader = nullptr;
  OnReadClose = nullptr;
  OnReadFrameCanvas = nullptr;
  OnReadFrameBMP = nullptr;
  OnReadFrameYUV = nullptr;
  TAdapterRegistry& r = Registry();
  std::lock_guard guard(r.Lock);
  r.Live.erase(FIdentity);
  if (FContext) FContext->Adapter = nullptr;
}

std::string TFrameInputAdapter::FileName() const { return std::to_string(FIdentity); }

std::exception_ptr TFrameInputAdapter::TakePendingError() {
  std::exception_ptr error;
  std::swap(error, FPendingError);
  return error;
}

void TFrameInputAdapter::RethrowPendingError() {
  if (std::exception_ptr error = TakePendingError()) std::rethrow_exception(error);
}

void TFrameInputAdapter::SetPendingError(std::exception_ptr error) { FPendingError = std::move(error); }

void TFrameInputAdapter::Attach(TFrameInputContext* context, TInputFrameInfo* info) {
  std::lock_guard guard(Registry().Lock);
  FContext = context;
  FFrameInfo = info;
}

void TFrameInputAdapter::Detach(TFrameInputContext* context) {
  std::lock_guard guard(Registry().Lock);
  // A later open on the same adapter has taken over; leave it be.
  if (FContext != context) return;
  FContext = nullptr;
  FFrameInfo = nullptr;
}

void TFrameInputAdapter::DispatchNotify(const TNotifyEvent& event) {
  if (!event) return;
  if (TriggerEventInMainThread)
    platform::CallInMainThread([&] { event(this); });
  else
    event(this);
}

std::int32_t TFrameInputAdapter::DispatchFrame(const std::function<std::int32_t()>& call,
                                               platform::TBitmap* lockedCanvas) {
  if (TriggerEventInMainThread) {
    platform::CallInMainThread([&] { FLastResult = call(); });
  } else if (lockedCanvas) {
    TCanvasLock guard(*lockedCanvas);
    FLastResult = call();
  } else {
    FLastResult = call();
  }
  return FLastResult;
}

void TFrameInputAdapter::DoReadHeader() { DispatchNotify(OnReadHeader); }

void TFrameInputAdapter::DoReadClose() { DispatchNotify(OnReadClose); }

std::int32_t TFrameInputAdapter::DoReadFrameCanvas(platform::TBitmap& canvas, TInputFrameInfo* info) {
  if (!OnReadFrameCanvas) return FLastResult = -1;
  return DispatchFrame([&] { return OnReadFrameCanvas(this, canvas, info); }, &canvas);
}

std::int32_t TFrameInputAdapter::DoReadFrameBMP(void* data, TInputFrameInfo* info) {
  if (!OnReadFrameBMP) return FLastResult = -1;
  return DispatchFrame([&] { return OnReadFrameBMP(this, data, info); }, nullptr);
}

std::int32_t TFrameInputAdapter::DoReadFrameYUV(void* data, TInputFrameInfo* info) {
  if (!OnReadFrameYUV) return FLastResult = -1;
  return DispatchFrame([&] { return OnReadFrameYUV(this, data, info); }, nullptr);
}

TFrameInputAdapter* FindAdapter(std::string_view fileName, bool* parsed) {
  std::int64_t number = 0;
  const char* end = fileName.data() + fileName.size();
  const auto [stop, ec] = std::from_chars(fileName.data(), end, number);
  const bool isNumber = !fileName.empty() && ec == std::errc() && stop == end;
  if (parsed) *parsed = isNumber;
  if (!isNumber || number <= 0) return nullptr;
  TAdapterRegistry& r = Registry();
  std::lock_guard guard(r.Lock);
  const auto found = r.Live.find(static_cast<std::uint64_t>(number));
  return found == r.Live.end() ? nullptr : found->second;
}

void RethrowPendingError(const AVFormatContext* input) {
  if (!input || input->iformat != FrameInputFormat()) return;
  auto* context = static_cast<const TFrameInputContext*>(input->priv_data);
  if (context && context->Adapter) context->Adapter->RethrowPendingError();
}

}  // namespace frameinput
