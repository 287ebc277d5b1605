// Opening, borrowing and closing inputs; the collected options; the
// interrupt callback and the stream summary.
#include "probe/FFDecode.h"

#include <limits>
#include <stdexcept>

#include "ffbind/AVFormatStubs.h"
#include "ffbind/AVUtilStubs.h"
#include "ffbind/FFLoad.h"
#include "platform/MainThread.h"
#include "probe/FileSize.h"
#include "util/FFUtils.h"
#include "util/FormatRegistry.h"

namespace probe {
namespace {

// File names handed to the libraries are limited to what the shared
// conversion buffer of the engine holds, so that both accept the same names.
constexpr std::size_t kMaxFileNameBytes = 2047;

}  // namespace

TCustomDecoder::TCustomDecoder() { UpdateStreamInfo(); }

TCustomDecoder::~TCustomDecoder() {
  CloseFile();
  if (AVLibLoaded()) {
    FOptions.Release();
  } else {
    // The libraries that made them are gone; nothing can free them now.
    FOptions.sws_opts = nullptr;
    FOptions.format_opts = nullptr;
    FOptions.codec_opts = nullptr;
  }
}

bool TCustomDecoder::AVLibLoaded() const { return ffbind::FFLoader.Loaded(ffbind::kDecoderLibraries); }

bool TCustomDecoder::LoadAVLib(const std::string& path) {
  ffbind::FFLoader.SetLibraryPath(path);
  if (!ffbind::FFLoader.Load(ffbind::kDecoderLibraries)) {
    FLastErrMsg = ffbind::FFLoader.LastErrMsg();
    return false;
  }
  RebuildOptions();
  return true;
}

void TCustomDecoder::UnloadAVLib() {
  // Whatever the libraries allocated must go back to them first.
  if (AVLibLoaded()) {
    CloseFile();
    FOptions.Release();
  }
  ffbind::FFLoader.Unload(ffbind::kDecoderLibraries);
}

void TCustomDecoder::Report(fflog::TLogLevel level, const std::string& text) {
  FLastErrMsg = text;
  fflog::GetLogger()->Log(this, level, text);
}

void TCustomDecoder::RestartReadClock() { FLastRead = ff::av_gettime(); }

void TCustomDecoder::RebuildOptions() { FOptions.Init(Fsws_flags); }

bool TCustomDecoder::opt_default(const std::string& opt, const std::string& arg) {
  if (!AVLibLoaded()) {
    Report(fflog::llError, "libav not loaded.");
    return false;
  }
  // A decoder created after someone else loaded the libraries has no scaler
  // holder yet.
  if (!FOptions.sws_opts) RebuildOptions();
  return ffutil::opt_default(FOptions, opt, arg) == 0;
}

int TCustomDecoder::InterruptCallback(void* opaque) noexcept {
  auto* self = static_cast<TCustomDecoder*>(opaque);
  const std::int64_t lastRead = self->FLastRead.load();
  if (lastRead == std::numeric_limits<std::int64_t>::max() || self->ReadTimeout <= 0) return 0;
  if (ff::av_gettime() - lastRead <= static_cast<std::int64_t>(self->ReadTimeout) * 1000) return 0;
  try {
    fflog::GetLogger()->Log(self, fflog::llInfo,
                            lastRead == 0 ? "connecting/reading canceled" : "connecting/reading timeout");
  } catch (...) {
    // The library must still learn that its call is to end.
  }
  return 1;
}

bool TCustomDecoder::FailLoad(const std::string& text) {
  FLastErrMsg = text;
  CloseFile();
  return false;
}

bool TCustomDecoder::LoadFile(const std::string& fileName, const std::string& formatName) {
  ffbind::FFLoader.CheckLibAV(ffbind::kDecoderLibraries);

  {
    // The previous input goes, the options collected for this load stay.
    struct TLoadingFlag {
      bool& Flag;
      ~TLoadingFlag() { Flag = false; }
    } loading{FLoading = true};
    CloseFile();
  }

  const AVInputFormat* format = nullptr;
  if (!formatName.empty()) {
    format = ffutil::FindInputFormat(formatName);
    if (!format) {
      Report(fflog::llError, "Unknown input format: " + formatName);
      CloseFile();
      return false;
    }
  }
  if (fileName.size() > kMaxFileNameBytes) return FailLoad(ffutil::ErrorText(fileName, AVERROR(ENAMETOOLONG)));

  bool opened = false;
  try {
    opened = OpenAndProbe(fileName, format);
  } catch (...) {
    // A throwing event or log handler must not leave a half-probed input.
    CloseFile();
    throw;
  }
  if (!opened) return false;
  UpdateStreamInfo();
  RebuildOptions();
  FForceFormat = formatName;
  return true;
}

bool TCustomDecoder::OpenAndProbe(const std::string& fileName, const AVInputFormat* format) {
  FFileHandle = ff::avformat_alloc_context();
  if (!FFileHandle) return FailLoad(ffutil::ErrorText(fileName, AVERROR(ENOMEM)));
  FOwnHandle = true;
  FFileHandle->interrupt_callback = AVIOInterruptCB{&TCustomDecoder::InterruptCallback, this};

  FLastRead = ff::av_gettime();
  // On failure the library frees the context and clears the slot.
  int ret = ff::avformat_open_input(&FFileHandle, fileName.c_str(), format, &FOptions.format_opts);
  if (ret < 0) return FailLoad(ffutil::ErrorText(fileName, ret));

  const AVDictionaryEntry* left = nullptr;
  while ((left = ff::av_dict_get(FOptions.format_opts, "", left, AV_DICT_IGNORE_SUFFIX)))
    Report(fflog::llError, std::string("Option ") + left->key + " not found, ignored.");

  FFileHandle->flags |= AVFMT_FLAG_NONBLOCK;

  if (OnBeforeFindStreamInfo) {
    AVFormatContext* context = FFileHandle;
    if (TriggerEventInMainThread)
      platform::CallInMainThread([this, context] { OnBeforeFindStreamInfo(this, context); });
    else
      OnBeforeFindStreamInfo(this, context);
  }

  {
    ffutil::TStreamInfoOptions streamOptions = ffutil::SetupFindStreamInfoOptions(FFileHandle, FOptions.codec_opts);
    FLastRead = ff::av_gettime();
    ret = ff::avformat_find_stream_info(FFileHandle, streamOptions.Data());
  }
  if (ret < 0) return FailLoad(fileName + ": could not find codec parameters");

  if (FFileHandle->pb) {
    FFileHandle->pb->eof_reached = 0;
    FFileHandle->pb->error = 0;
  }
  return true;
}

void TCustomDecoder::CloseFile() {
  if (!FLoading) {
    if (AVLibLoaded()) RebuildOptions();
    FForceFormat.clear();
  }
  if (FFileHandle) {
    // A context the libraries no longer exist for cannot be closed, only
    // forgotten.
    if (FOwnHandle && ff::avformat_close_input) ff::avformat_close_input(&FFileHandle);
    FFileHandle = nullptr;
    FOwnHandle = false;
  }
  UpdateStreamInfo();
}

void TCustomDecoder::SetFileHandle(AVFormatContext* context) {
  if (context == FFileHandle) return;
  ffbind::FFLoader.CheckLibAV(ffbind::kDecoderLibraries);
  CloseFile();
  FOwnHandle = false;
  FFileHandle = context;
  UpdateStreamInfo();
}

void TCustomDecoder::UpdateStreamInfo() {
  FFileSize = -1;
  FStreamCount = FProgramCount = -1;
  FAudioStreamCount = FVideoStreamCount = FSubtitleStreamCount = -1;
  FFirstAudioStreamIndex = FFirstVideoStreamIndex = FFirstSubtitleStreamIndex = -1;
  if (!FFileHandle) return;

  FFileSize = ContextFileSize(FFileHandle);
  FStreamCount = static_cast<std::int32_t>(FFileHandle->nb_streams);
  FProgramCount = static_cast<std::int32_t>(FFileHandle->nb_programs);
  FAudioStreamCount = FVideoStreamCount = FSubtitleStreamCount = 0;
  for (std::int32_t i = 0; i < FStreamCount; ++i) {
    switch (FFileHandle->streams[i]->codecpar->codec_type) {
      case AVMEDIA_TYPE_VIDEO:
        ++FVideoStreamCount;
        if (FFirstVideoStreamIndex < 0) FFirstVideoStreamIndex = i;
        break;
      case AVMEDIA_TYPE_AUDIO:
        ++FAudioStreamCount;
        if (FFirstAudioStreamIndex < 0) FFirstAudioStreamIndex = i;
        break;
      case AVMEDIA_TYPE_SUBTITLE:
        ++FSubtitleStreamCount;
        if (FFirstSubtitleStreamIndex < 0) FFirstSubtitleStreamIndex = i;
        break;
      default:
        break;
    }
  }
}

}  // namespace probe
