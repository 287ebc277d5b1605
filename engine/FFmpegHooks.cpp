// Hooks on the pictures of a conversion: bitmap hooks (pictures on a
// drawing surface), the post hooks that hand out preview bitmaps, and the
// chain of video hook modules named by -vhook.
#include <exception>
#include <mutex>

#include "engine/FFmpeg.h"
#include "ffbind/AVUtilStubs.h"

namespace engine {
namespace {

// Post-hook sets of every engine change under one lock, as the encoder
// changes them from the main thread while conversions run.
std::mutex& PostHookLock() {
  static std::mutex lock;
  return lock;
}

struct TPreviewerFactoryHolder {
  std::mutex lock;
  TPreviewerFactory factory;
};

TPreviewerFactoryHolder& Factory() {
  static TPreviewerFactoryHolder holder;
  return holder;
}

}  // namespace

void SetPreviewerFactory(TPreviewerFactory AFactory) {
  std::lock_guard guard(Factory().lock);
  Factory().factory = std::move(AFactory);
}

std::unique_ptr<TPreviewer> CreatePreviewer() {
  TPreviewerFactory factory;
  {
    std::lock_guard guard(Factory().lock);
    factory = Factory().factory;
  }
  return factory ? factory() : nullptr;
}

int TCustomFFmpeg::AddFrameHook(const std::vector<std::string>& args) { return FFirstHook.Add(args); }

void TCustomFFmpeg::SetPostHooksLocked(TPostHooks hooks) {
  std::lock_guard guard(PostHookLock());
  FPostHooks = hooks;
  FPostHooksChanged = true;
}

void TCustomFFmpeg::SetBitsPixel(int bits) {
  FInputVideoHook.SetBitsPixel(bits);
  FOutputVideoHook.Converter.SetBitsPixel(bits);
}

void TCustomFFmpeg::run_bitmap_hook(TVideoHookEvent& hook, ffutil::TFormatConverter& converter, bool& bitmapValid,
                                    std::int64_t pts, int frameNumber, AVFrame* picture) {
  const AVPixelFormat format = static_cast<AVPixelFormat>(picture->format);
  ffutil::TAVPicture view = ffutil::PictureOf(picture);
  bool update = true, stop = false;
  if (!converter.PictureToRGB(&view, format, picture->width, picture->height, true)) {
    Log(fflog::llError, converter.LastErrMsg());
    stop = true;
    bitmapValid = false;
  } else {
    try {
      hook(this, converter.Bitmap(), frameNumber, pts, update, stop);
    } catch (const std::exception& e) {
      Log(fflog::llError, std::string("Error occurs VideoHook event: ") + e.what());
      update = false;
    } catch (...) {
      Log(fflog::llError, "Error occurs VideoHook event: unknown exception");
      update = false;
    }
    // After an update the surface and the picture agree; without one the
    // surface may show what the hook painted but the picture does not.
    bitmapValid = update;
    if (update) {
      converter.BitmapToRGB();
      // A picture used in place already has the surface's pixels.
      if (converter.RGBPictureRef() == converter.RGBPicture() &&
          !converter.RGBToPicture(&view, format, picture->width, picture->height)) {
        Log(fflog::llError, converter.LastErrMsg());
        stop = true;
        bitmapValid = false;
      }
    }
  }
  if (stop) hook = nullptr;
}

void TCustomFFmpeg::run_output_hooks(AVFrame* picture, int frameNumber, std::int64_t pts, bool& bitmapValid) {
  bitmapValid = false;
  // The encoder gets what the hooks leave, so they work on pixels of
  // their own, never on a picture the filters still share.
  if (ff::av_frame_make_writable(picture) < 0) {
    Log(fflog::llError, "hook buf malloc error.");
    return;
  }
  if (FOnOutputVideoHook)
    run_bitmap_hook(FOnOutputVideoHook, FOutputVideoHook.Converter, bitmapValid, pts, frameNumber, picture);
  if (FOnOutputFrameHook) {
    FOnOutputFrameHook(this, picture, static_cast<AVPixelFormat>(picture->format), frameNumber, picture->width,
                       picture->height, pts);
    bitmapValid = false;  // the picture may have changed under the surface
  }
}

// The handlers run outside the post-hook lock: they wait for the main
// thread, which may itself be waiting for that lock to change the set.
void TCustomFFmpeg::run_post_hooks(AVFrame* picture, bool bitmapValid, std::int64_t pts, int frameNumber) {
  TPostHooks hooks;
  bool changed;
  {
    std::lock_guard guard(PostHookLock());
    hooks = FPostHooks;
    changed = FPostHooksChanged;
    FPostHooksChanged = false;
  }
  TPostHookContext& ctx = FOutputVideoHook;
  // Leaving phPreview closes the window; only this thread touches it.
  if (!(hooks & phPreview)) ctx.Previewer.reset();
  const std::int64_t now = ff::av_gettime();
  if (now - ctx.preview_last_time <= PreviewInterval) return;
  auto convert = [&] {
    if (bitmapValid && !changed) return true;
    ffutil::TAVPicture view = ffutil::PictureOf(picture);
    if (ctx.Converter.PictureToRGB(&view, static_cast<AVPixelFormat>(picture->format), picture->width,
                                   picture->height, true))
      return true;
    Log(fflog::llError, ctx.Converter.LastErrMsg());
    return false;
  };
  TPostHooks dropped = 0;
  if ((hooks & phBitmap) && FOnPreviewBitmap) {
    if (convert()) FOnPreviewBitmap(this, ctx.Converter.Bitmap(), frameNumber, pts);
    else dropped = phBitmap;
    ctx.preview_last_time = now;
  } else if (hooks & phPreview) {
    if (!ctx.Previewer) ctx.Previewer = CreatePreviewer();
    if (!convert() || !ctx.Previewer || !ctx.Previewer->PaintFrame(ctx.Converter.Bitmap(), frameNumber, pts)) {
      dropped = phPreview;
      ctx.Previewer.reset();
    }
    ctx.preview_last_time = now;
  }
  if (dropped) {
    std::lock_guard guard(PostHookLock());
    FPostHooks &= ~dropped;
  }
}

}  // namespace engine
