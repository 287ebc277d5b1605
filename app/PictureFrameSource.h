#pragma once
// Paints picture N of the list into the frame the frame input asks for:
// stretched over the whole surface, timed by the display time per picture.
// Bound as the adapter's OnReadFrameCanvas; runs on the main thread.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "frameinput/FrameInput.h"
#include "platform/Bitmap.h"

namespace app {

class TPictureFrameSource {
 public:
  // Picture paths (UTF-8) in list order; fixed while a conversion runs.
  std::vector<std::string> Pictures;
  // Microseconds per picture; 0 or less: frames keep the adapter's times.
  std::int64_t FrameDelay = 0;
  // "Break when no pictures": ask for a stop when the pictures run out.
  bool BreakWhenNoPictures = true;
  // Non-waiting stop of the conversion (the handler runs while the worker
  // waits for it, so it must not wait for the worker).
  std::function<void()> OnStopRequest;

  // 0 when frame AFrameInfo->FrameNumber was painted, -1 when there is no
  // further picture. A picture that cannot be loaded (missing, damaged, or
  // not of the format its extension names) throws std::runtime_error
  // naming the file.
  std::int32_t ReadFrameCanvas(frameinput::TFrameInputAdapter* Sender, platform::TBitmap& ACanvas,
                               frameinput::TInputFrameInfo* AFrameInfo);

  // The adapter's handler bound to this source.
  frameinput::TReadFrameCanvasEvent Handler();
};

// Text from the last dot of the file name on ("" when it has none).
std::string ExtractFileExt(const std::string& path);

}  // namespace app
