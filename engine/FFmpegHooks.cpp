// Video hook modules named by -vhook.
#include "engine/FFmpeg.h"

namespace engine {

// The module loader is not part of this build yet: every module is refused,
// which makes -vhook fail with its own text instead of being ignored.
int TCustomFFmpeg::AddFrameHook(const std::vector<std::string>&) { return AVERROR(ENOSYS); }

}  // namespace engine
