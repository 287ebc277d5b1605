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
#include <vector>

#include "ffbind/FFHeaders.h"
#include "log/FFLog.h"
#include "platform/FFBaseComponent.h"
#include "ffbind/Owned.h"
#include "platform/Bitmap.h"
#include "probe/DecodeTypes.h"
#include "probe/StreamInfo.h"
#include "util/FormatConverter.h"
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
  void SetLastErrMsg(const std::string& text) { FLastErrMsg = text; }
  // True when the decoder opened the current context itself.
  bool OwnsHandle() const { return FOwnHandle; }
  // Starts the interrupt callback's clock for a blocking read.
  void RestartReadClock();

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

// The concrete component: probing, plus decoding of pictures and audio
// blocks and seeking on inputs it opened itself (LoadFile). On a borrowed
// context every decoding and seeking call reports and throws
// std::runtime_error("file cannot be seeked, handle is readonly.").
// A negative stream index means the stream chosen before, else the first
// stream of the kind.
class TFFDecoder : public TCustomDecoder {
 public:
  TFFDecoder();
  ~TFFDecoder() override;

  // Depth of the bitmaps CopyToBitmap and GetBitmapPtr give: 8, 15, 16, 24
  // or 32 (others raise std::invalid_argument).
  int BitmapBitsPixel() const { return FFormatConv.BitsPixel(); }
  void SetBitmapBitsPixel(int bits) { FFormatConv.SetBitsPixel(bits); }
  // The libraries here cannot deinterlace: a picture decoded while this is
  // set reports "deinterlacing failed." and switches it off.
  bool Deinterlace() const { return FDeinterlace; }
  void SetDeinterlace(bool value) { FDeinterlace = value; }
  // The end of the stream was reported.
  bool Eof() const { return FEOF; }
  const TFrameInfo& FrameInfo() const { return FFrameInfo; }
  const TWaveInfo& WaveInfo() const { return FWaveInfo; }
  // The input's byte position; -1 ("cannot get position") without I/O.
  std::int64_t Position();
  int DesireAudioChannels() const { return FDesireAudioChannels; }
  void SetDesireAudioChannels(int channels);
  int DesireAudioSampleRate() const { return FDesireAudioSampleRate; }
  void SetDesireAudioSampleRate(int rate);

  // The next picture of a video stream.
  bool Decode(int streamIndex = -1);
  bool DecodeNextKeyFrame(int streamIndex = -1);
  bool DecodePreviousKeyFrame(int streamIndex = -1);
  bool DecodePreviousFrame(int streamIndex = -1);
  // pts in microseconds from the seek stream's start (bytes with sfByte).
  bool Seek(std::int64_t pts, TSeekFlags flags = 0);

  // The current picture as a bitmap of BitmapBitsPixel depth.
  bool CopyToBitmap(platform::TBitmap& bitmap);
  // The converter's description of the current picture; nullptr when
  // there is none.
  const ffutil::TDIB* GetBitmapPtr();

  // The next block of an audio stream, in DesireAudioChannels,
  // DesireAudioSampleRate and signed 16-bit samples.
  bool DecodeAudio(int streamIndex = -1);
  // Up to count bytes of the current block (decoding the next one when it
  // is used up); -1 at failure. A null buffer only tells how many bytes
  // would be handed out.
  int ReadAudio(void* buffer, int count, int streamIndex = -1);

  void CloseFile() override;

 private:
  // Guard of every decoding and seeking call.
  bool CheckDecodable();
  bool IsImage2();
  bool PrepareVideo(int streamIndex);
  bool PrepareAudio(int streamIndex);
  // Resolves streamIndex for the kind; false after reporting why.
  bool ResolveStream(int streamIndex, AVMediaType type, int chosen, int& index);
  bool OpenCodec(ffbind::TCodecContext& codec, int& codecStream, int index);
  // The next packet of the stream in FPacket: 1; end of packets (FEOFpkt
  // set): 0; -1 after reporting a read that should be tried again.
  int ReadPacket(int index);
  // The end of the decoded data: the read failure that ended it, or the
  // end of the stream.
  bool ReportEnd();
  // Microseconds from the stream's start; kNoTime stays.
  std::int64_t StreamTime(std::int64_t ts, int index);
  std::int64_t FrameDurationUs() const;
  void ResetPicture();
  void ResetAudio();
  void FreeResampler();
  void ReleaseCodecs();
  void StorePicture(const AVFrame* frame);
  bool PreviousKeyFrameBefore(int streamIndex, std::int64_t time);
  std::int64_t ReferenceTime() const;
  // Decoded audio: appended interleaved; converted into the wanted format.
  void AppendAudio(const AVFrame* frame);
  bool ConvertAudio(int samples);

  ffbind::TCodecContext FCodec;
  ffbind::TCodecContext FAudioCodec;
  int FCodecStream = -1;
  int FAudioCodecStream = -1;
  ffutil::TFormatConverter FFormatConv;
  int FSeekIndex = -1;
  int FDesireVideoIndex = -1;
  int FDesireAudioIndex = -1;
  AVRational FFrameRate{0, 0};
  bool FDeinterlace = false;
  bool FEOF = false;
  bool FEOFpkt = false;
  int FReadError = 0;
  std::int64_t FLastPTS = kNoTime;
  int FDesireAudioChannels = 2;
  int FDesireAudioSampleRate = 44100;
  AVSampleFormat FDesireAudioSampleFormat = AV_SAMPLE_FMT_S16;
  ffbind::TFrame FFrame;
  ffbind::TPacket FPacket;
  std::vector<std::uint8_t> FPictureBuffer;
  std::vector<std::uint8_t> FDecodedAudioBuffer;
  std::vector<std::uint8_t> FResampledAudioBuffer;
  // Format of the decoded block (packed) and of the last converted one.
  int FDecodedChannels = 0;
  int FDecodedSampleRate = 0;
  AVSampleFormat FDecodedSampleFormat = AV_SAMPLE_FMT_NONE;
  std::uint64_t FDecodedChannelMask = 0;
  int FResampleChannels = -1;
  int FResampleSampleRate = -1;
  AVSampleFormat FResampleSampleFormat = AV_SAMPLE_FMT_NONE;
  std::uint64_t FAudioChannelLayout = 0;
  ffbind::TSwrContext FAudioSwrCtx;
  int FRemainsAudioSize = 0;
  TFrameInfo FFrameInfo;
  TWaveInfo FWaveInfo;
};

}  // namespace probe
