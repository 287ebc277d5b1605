#include "engine/FFmpeg.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

#include "ffbind/FFLoad.h"
#include "log/FFLog.h"
#include "platform/TextFormat.h"
#include "util/OptionWords.h"

namespace engine {

TCustomFFmpeg::TCustomFFmpeg() { ResetState(); }

void TCustomFFmpeg::ResetState() {
  ffbind::FFLoader.CheckLibAV(ffbind::kEncoderLibraries);
  ResetOptionState();
  ResetControlState();
  FLastErrMsg.clear();
}

void TCustomFFmpeg::Log(fflog::TLogLevel level, const std::string& text) {
  fflog::GetLogger()->Log(this, level, "%s", text.c_str());
}

int TCustomFFmpeg::RejectOption(const std::string& text) {
  Log(fflog::llError, text);
  ffutil::SetOptionErrorText(text);
  return AVERROR(EINVAL);
}

void TCustomFFmpeg::FatalError(const std::string& text) {
  FLastErrMsg = text;
  Log(fflog::llFatal, text);
  throw FFmpegException(text);
}

void TCustomFFmpeg::FatalError(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  std::string text = platform::FormatV(fmt, args);
  va_end(args);
  FatalError(text);
}

}  // namespace engine
