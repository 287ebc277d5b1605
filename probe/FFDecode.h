#pragma once
// The decoder component: describes one media input (file size, streams,
// programs, per-stream properties, container metadata and a readable
// information text). It works on one demuxer context at a time, which it
// either opens itself (LoadFile; it then owns and closes it) or borrows
// (SetFileHandle; the opener keeps ownership and the decoder never closes
// it).
//
// Threads: LoadFile may run on any thread; OnBeforeFindStreamInfo then runs
// on the main thread unless TriggerEventInMainThread is false. Queries are
// meant for the thread that owns the decoder.
//
// Failures: operations return false, -1 or empty values, leave the text in
// LastErrMsg() and (except where noted) send it to the logger with the
// decoder as sender. Missing libraries at LoadFile/SetFileHandle throw
// std::runtime_error("Library %s not loaded.").
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "ffbind/FFHeaders.h"
#include "log/FFLog.h"
#include "platform/FFBaseComponent.h"
#include "probe/StreamInfo.h"
#include "util/FFOptions.h"

namespace probe {

// OnBeforeFindStreamInfo(Sender, AFormatContext): the freshly opened
// context, before its streams are probed.
using TBeforeFindStreamInfoEvent = std::function<void(void* sender, AVFormatContext* formatContext)>;

class TCustomDecoder : public platform::TFFBaseComponent {
 public:
  TCustomDecoder();
  ~TCustomDecoder() override;
  TCustomDecoder(const TCustomDecoder&) = delete;
  TCustomDecoder& operator=(const TCustomDecoder&) = delete;

  // The loader's Loaded/Load/Unload for the decoder set of libraries.
  // LoadAVLib sets the loader's LibraryPath to path first; on failure
  // LastErrMsg() holds the loader's text.
  bool AVLibLoaded() const;
  bool LoadAVLib(const std::string& path);
  // Closes the input and releases the collected options first.
  void UnloadAVLib();

  // Collects one generic option (format, codec or scaler option) for the
  // next LoadFile. False when the libraries are missing ("libav not
  // loaded.") or no library option has that name.
  bool opt_default(const std::string& opt, const std::string& arg);

  // Opens and probes an input; an empty formatName lets the library detect
  // the format. Closes the previous input first. Open and probe failures
  // leave their text in LastErrMsg() without logging it.
  bool LoadFile(const std::string& fileName, const std::string& formatName = "");
  virtual void CloseFile();

  AVFormatContext* FileHandle() const { return FFileHandle; }
  // Borrows a context opened by someone else (nullptr: just close).
  virtual void SetFileHandle(AVFormatContext* context);

  std::string FileName();
  std::string FormatName();
  std::string FormatLongName();
  std::int64_t FileSize() const { return FFileSize; }
  // The format name given to the last successful LoadFile.
  const std::string& ForceFormat() const { return FForceFormat; }

  std::int32_t StreamCount() const { return FStreamCount; }
  std::int32_t ProgramCount() const { return FProgramCount; }
  std::int32_t AudioStreamCount() const { return FAudioStreamCount; }
  std::int32_t VideoStreamCount() const { return FVideoStreamCount; }
  std::int32_t SubtitleStreamCount() const { return FSubtitleStreamCount; }
  std::int32_t FirstAudioStreamIndex() const { return FFirstAudioStreamIndex; }
  std::int32_t FirstVideoStreamIndex() const { return FFirstVideoStreamIndex; }
  std::int32_t FirstSubtitleStreamIndex() const { return FFirstSubtitleStreamIndex; }

  TFileStreamInfo FileStreamInfo();
  // A negative index means the first stream of the kind.
  TAudioStreamInfo GetAudioStreamInfos(int index);
  TVideoStreamInfo GetVideoStreamInfos(int index);
  TSubtitleStreamInfo GetSubtitleStreamInfos(int index);
  TAudioStreamInfo FirstAudioStreamInfo() { return GetAudioStreamInfos(-1); }
  TVideoStreamInfo FirstVideoStreamInfo() { return GetVideoStreamInfos(-1); }
  TSubtitleStreamInfo FirstSubtitleStreamInfo() { return GetSubtitleStreamInfos(-1); }
  TAVProgram GetProgrames(int index);

  bool IsAudioStream(int streamIndex);
  bool IsVideoStream(int streamIndex);
  bool IsSubtitleStream(int streamIndex);

  // A description of the whole input, built anew on every read; each line
  // ends with CR LF.
  std::string FileInfoText();

  const std::string& LastErrMsg() const { return FLastErrMsg; }

  bool TriggerEventInMainThread = true;
  TBeforeFindStreamInfoEvent OnBeforeFindStreamInfo;

 protected:
  // Refreshes the file size, counts and first indexes (all -1 without input).
  virtual void UpdateStreamInfo();
  // LastErrMsg := text, then the text goes to the logger.
  void Report(fflog::TLogLevel level, const std::string& text);

 private:
  static int InterruptCallback(void* opaque) noexcept;
  bool StreamOfType(int streamIndex, AVMediaType type);
  // The stream a per-kind query addresses, or nullptr after reporting why.
  AVStream* StreamForQuery(int index, AVMediaType type, const char* kind);
  void RebuildOptions();
  // Steps of LoadFile once the format is known: false after a failure that
  // FailLoad has reported and cleaned up.
  bool OpenAndProbe(const std::string& fileName, const AVInputFormat* format);
  bool FailLoad(const std::string& text);

  AVFormatContext* FFileHandle = nullptr;
  bool FOwnHandle = false;
  std::int32_t Fsws_flags = SWS_BICUBIC;
  ffutil::TFFOptions FOptions;
  bool FLoading = false;
  std::string FLastErrMsg;
  std::string FForceFormat;
  std::int64_t FFileSize = -1;
  std::int32_t FStreamCount = -1;
  std::int32_t FProgramCount = -1;
  std::int32_t FAudioStreamCount = -1;
  std::int32_t FVideoStreamCount = -1;
  std::int32_t FSubtitleStreamCount = -1;
  std::int32_t FFirstAudioStreamIndex = -1;
  std::int32_t FFirstVideoStreamIndex = -1;
  std::int32_t FFirstSubtitleStreamIndex = -1;
  // av_gettime() at the start of the current blocking call; read by the
  // interrupt callback on whichever thread is blocked.
  std::atomic<std::int64_t> FLastRead{0};
};

// The concrete component. Frame and audio decoding come later; for now it
// only probes.
class TFFDecoder : public TCustomDecoder {
 public:
  TFFDecoder() = default;
};

}  // namespace probe
