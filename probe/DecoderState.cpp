// The decoding side's state: stream choice, codecs, the guard, packet
// reading and the end of the stream.
#include <cinttypes>
#include <cstring>
#include <stdexcept>

#include "ffbind/AVCodecStubs.h"
#include "ffbind/AVFormatStubs.h"
#include "ffbind/AVUtilStubs.h"
#include "probe/FFDecode.h"
#include "platform/TextFormat.h"
#include "util/FFUtils.h"

namespace probe {

using platform::Format;

TFFDecoder::TFFDecoder() = default;

TFFDecoder::~TFFDecoder() {
  // The base destructor would only reach its own CloseFile.
  CloseFile();
}

void TFFDecoder::ReleaseCodecs() {
  // Objects of libraries that are gone can only be forgotten.
  const bool bound = ff::avcodec_free_context != nullptr;
  for (ffbind::TCodecContext* codec : {&FCodec, &FAudioCodec})
    if (bound) codec->reset(); else (void)codec->release();
  if (bound) {
    FFrame.reset();
    FPacket.reset();
  } else {
    (void)FFrame.release();
    (void)FPacket.release();
  }
  FCodecStream = FAudioCodecStream = -1;
}

void TFFDecoder::FreeResampler() {
  if (ff::swr_free) FAudioSwrCtx.reset(); else (void)FAudioSwrCtx.release();
}

void TFFDecoder::CloseFile() {
  ResetPicture();
  ResetAudio();
  FLastPTS = kNoTime;
  FSeekIndex = FDesireVideoIndex = FDesireAudioIndex = -1;
  FFrameRate = AVRational{0, 0};
  FEOF = FEOFpkt = false;
  FReadError = 0;
  FResampleChannels = FResampleSampleRate = -1;
  FResampleSampleFormat = AV_SAMPLE_FMT_NONE;
  FAudioChannelLayout = 0;
  FreeResampler();
  ReleaseCodecs();
  TCustomDecoder::CloseFile();
}

void TFFDecoder::ResetPicture() {
  if (FFrameInfo.PTS != kNoTime) FLastPTS = FFrameInfo.PTS;
  const TFrameInfo empty;
  std::uint8_t* buffer = FFrameInfo.Buffer;
  const std::int32_t size = FFrameInfo.Size;
  FFrameInfo = empty;
  // The picture copy keeps its memory for the next picture.
  FFrameInfo.Buffer = buffer;
  FFrameInfo.Size = size;
}

void TFFDecoder::ResetAudio() {
  FWaveInfo = TWaveInfo{};
  FRemainsAudioSize = 0;
}

void TFFDecoder::SetDesireAudioChannels(int channels) {
  if (channels == FDesireAudioChannels) return;
  FDesireAudioChannels = channels;
  FreeResampler();
}

void TFFDecoder::SetDesireAudioSampleRate(int rate) {
  if (rate == FDesireAudioSampleRate) return;
  FDesireAudioSampleRate = rate;
  FreeResampler();
}

std::int64_t TFFDecoder::Position() {
  if (!FileHandle() || !FileHandle()->pb) {
    Report(fflog::llWarning, "cannot get position");
    return -1;
  }
  return ff::avio_tell(FileHandle()->pb);
}

bool TFFDecoder::CheckDecodable() {
  if (!FileHandle()) {
    Report(fflog::llWarning, "file not loaded.");
    return false;
  }
  if (!OwnsHandle()) {
    // Reading packets would take them from whoever owns the context.
    const char* const text = "file cannot be seeked, handle is readonly.";
    Report(fflog::llWarning, text);
    throw std::runtime_error(text);
  }
  return true;
}

bool TFFDecoder::IsImage2() {
  const AVInputFormat* format = FileHandle() ? FileHandle()->iformat : nullptr;
  return format && std::strcmp(format->name, "image2") == 0;
}

bool TFFDecoder::ResolveStream(int streamIndex, AVMediaType type, int chosen, int& index) {
  const bool video = type == AVMEDIA_TYPE_VIDEO;
  index = streamIndex;
  if (index < 0) {
    index = chosen >= 0 ? chosen : (video ? FirstVideoStreamIndex() : FirstAudioStreamIndex());
    if (index < 0) {
      Report(fflog::llError, video ? "no video stream." : "no audio stream.");
      return false;
    }
    return true;
  }
  if (index >= StreamCount()) {
    Report(fflog::llError, Format("stream index #%d is invalid.", index));
    return false;
  }
  if (FileHandle()->streams[index]->codecpar->codec_type != type) {
    Report(fflog::llError, Format(video ? "stream #%d is not video stream." : "stream #%d is not audio stream.", index));
    return false;
  }
  return true;
}

bool TFFDecoder::OpenCodec(ffbind::TCodecContext& codec, int& codecStream, int index) {
  if (codec && codecStream == index) return true;
  codec.reset();
  codecStream = -1;
  const AVStream* st = FileHandle()->streams[index];
  const AVCodecParameters* par = st->codecpar;
  if (par->codec_type == AVMEDIA_TYPE_VIDEO && (par->width == 0 || par->height == 0)) {
    Report(fflog::llError, "frame size of codec is invalid.");
    return false;
  }
  const AVCodec* decoder = ff::avcodec_find_decoder(par->codec_id);
  if (!decoder) {
    Report(fflog::llError, Format("Unsupported codec (id=%d) for input file stream #%d", par->codec_id, index));
    return false;
  }
  ffbind::TCodecContext context(ff::avcodec_alloc_context3(decoder));
  if (!context || ff::avcodec_parameters_to_context(context.get(), par) < 0 ||
      (context->pkt_timebase = st->time_base, ff::avcodec_open2(context.get(), decoder, nullptr) < 0)) {
    Report(fflog::llError, Format("Error while opening codec for input file stream #%d", index));
    return false;
  }
  codec = std::move(context);
  codecStream = index;
  if (!FFrame) FFrame.reset(ff::av_frame_alloc());
  if (!FPacket) FPacket.reset(ff::av_packet_alloc());
  if (!FFrame || !FPacket) throw std::bad_alloc();
  return true;
}

bool TFFDecoder::PrepareVideo(int streamIndex) {
  if (!CheckDecodable()) return false;
  int index;
  if (!ResolveStream(streamIndex, AVMEDIA_TYPE_VIDEO, FDesireVideoIndex, index)) return false;
  if (index != FDesireVideoIndex) {
    ResetPicture();
    FLastPTS = kNoTime;
    const AVStream* st = FileHandle()->streams[index];
    FFrameRate = st->avg_frame_rate.num && st->avg_frame_rate.den ? st->avg_frame_rate : st->r_frame_rate;
    FDesireVideoIndex = index;
    FSeekIndex = index;
  }
  return OpenCodec(FCodec, FCodecStream, index);
}

bool TFFDecoder::PrepareAudio(int streamIndex) {
  if (!CheckDecodable()) return false;
  int index;
  if (!ResolveStream(streamIndex, AVMEDIA_TYPE_AUDIO, FDesireAudioIndex, index)) return false;
  if (index != FDesireAudioIndex) {
    ResetAudio();
    FreeResampler();
    FDesireAudioIndex = index;
    FSeekIndex = index;
  }
  return OpenCodec(FAudioCodec, FAudioCodecStream, index);
}

int TFFDecoder::ReadPacket(int index) {
  for (;;) {
    RestartReadClock();
    const int ret = ff::av_read_frame(FileHandle(), FPacket.get());
    if (ret == AVERROR(EAGAIN)) {
      Report(fflog::llInfo, "no data, please try again.");
      return -1;
    }
    if (ret < 0) {
      FReadError = ret;
      FEOFpkt = true;
      return 0;
    }
    if (FPacket->stream_index == index) return 1;
    ff::av_packet_unref(FPacket.get());
  }
}

bool TFFDecoder::ReportEnd() {
  const AVIOContext* pb = FileHandle()->pb;
  if (FReadError != AVERROR(EPIPE) && FReadError != AVERROR_EOF && !(pb && pb->eof_reached)) {
    Report(fflog::llInfo, Format("unknown error #%d.", FReadError));
    return false;
  }
  Report(fflog::llInfo, "stream eof reached.");
  FEOF = true;
  return false;
}

std::int64_t TFFDecoder::StreamTime(std::int64_t ts, int index) {
  if (ts == kNoTime) return kNoTime;
  const AVStream* st = FileHandle()->streams[index];
  if (st->start_time != kNoTime) ts -= st->start_time;
  ts = ff::av_rescale_q(ts, st->time_base, AVRational{1, 1000000});
  fflog::GetLogger()->Log(this, fflog::llDebug, "decode PTS: %0.3f", ts / 1000000.0);
  return ts;
}

std::int64_t TFFDecoder::FrameDurationUs() const { return ffutil::FrameDuration(FFrameRate); }

}  // namespace probe
