#pragma once
// The preview window seam. The engine shows encoded pictures in a window
// made by a factory that the application installs: the window needs the
// GUI toolkit, which the engine does not link. Without a factory nothing
// is shown and previewing ends for the run.
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/Bitmap.h"

namespace engine {

class TPreviewer {
 public:
  virtual ~TPreviewer() = default;
  // Called on the conversion thread. Shows the picture; false once the
  // user has closed the window (the engine then stops previewing).
  virtual bool PaintFrame(platform::TBitmap& ABitmap, int AFrameNumber, std::int64_t APTS) = 0;
};

using TPreviewerFactory = std::function<std::unique_ptr<TPreviewer>()>;

// Process-wide; install it before conversions start.
void SetPreviewerFactory(TPreviewerFactory AFactory);
// A new previewer, or nullptr without a factory.
std::unique_ptr<TPreviewer> CreatePreviewer();

}  // namespace engine
