// Seeking, and stepping between key frames and back by one picture.
#include <cinttypes>
#include <limits>

#include "ffbind/AVCodecStubs.h"
#include "ffbind/AVFormatStubs.h"
#include "ffbind/AVUtilStubs.h"
#include "probe/FFDecode.h"
#include "platform/TextFormat.h"

namespace probe {

using platform::Format;

namespace {

// How far back the key-frame search goes, in frame durations, before it
// gives up on an input whose seeks do not move.
constexpr int kMaxBackSteps = 100;

}  // namespace

bool TFFDecoder::Seek(std::int64_t pts, TSeekFlags flags) {
  if (!CheckDecodable()) return false;
  if (IsImage2()) {
    Report(fflog::llInfo, "\"image2\" format cannot to be seeked.");
    return false;
  }
  AVFormatContext* ic = FileHandle();
  if (ic->pb) fflog::GetLogger()->Log(this, fflog::llDebug, "current position %" PRId64 " bytes", ff::avio_tell(ic->pb));

  const AVStream* st = FSeekIndex >= 0 ? ic->streams[FSeekIndex] : nullptr;
  std::int64_t target = pts;
  if (!(flags & sfByte)) {
    // Half a frame early, so that the first picture is found however its
    // time was rounded.
    if (target == 0 && st && st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) target = -FrameDurationUs() / 2;
    if (st) {
      target = ff::av_rescale_q(target, AVRational{1, 1000000}, st->time_base);
      if (st->start_time != kNoTime) target += st->start_time;
    } else if (ic->start_time != kNoTime) {
      target += ic->start_time;
    }
  }

  for (ffbind::TCodecContext* codec : {&FCodec, &FAudioCodec})
    if (*codec) ff::avcodec_flush_buffers(codec->get());
  FEOF = FEOFpkt = false;
  FReadError = 0;
  ResetPicture();
  ResetAudio();

  // The range carries the direction: a backward seek lands at or before
  // the target, a forward one at or after it.
  const bool backward = flags & sfBackward;
  const std::int64_t lowest = backward ? std::numeric_limits<std::int64_t>::min() : target;
  const std::int64_t highest = backward ? target : std::numeric_limits<std::int64_t>::max();
  const int libFlags = static_cast<int>(flags);
  int ret = ff::avformat_seek_file(ic, FSeekIndex, lowest, target, highest, libFlags);
  if (ret < 0) ret = ff::av_seek_frame(ic, FSeekIndex, target, libFlags);
  if (ret < 0) ret = ff::av_seek_frame(ic, FSeekIndex, target, libFlags ^ sfBackward);
  if (ret < 0) {
    Report(fflog::llError, flags & sfByte ? Format("could not seek to position %" PRId64 " bytes", pts)
                                          : Format("could not seek to position %0.3f seconds", pts / 1000000.0));
    return false;
  }
  if (ic->pb) fflog::GetLogger()->Log(this, fflog::llDebug, "seek to position %" PRId64 " bytes", ff::avio_tell(ic->pb));
  return true;
}

std::int64_t TFFDecoder::ReferenceTime() const {
  if (FFrameInfo.PTS != kNoTime) return FFrameInfo.PTS;
  if (FLastPTS != kNoTime) return FLastPTS;
  return 0;
}

bool TFFDecoder::DecodeNextKeyFrame(int streamIndex) {
  if (!PrepareVideo(streamIndex)) return false;
  const std::int64_t current = FFrameInfo.PTS;
  const std::int64_t target = current != kNoTime && current > 0 ? current + FrameDurationUs() : FrameDurationUs();
  if (!Seek(target, 0) || !Decode(streamIndex)) return false;
  // With no key frame after the target the seek falls back to one before
  // it: go on from there to the next key frame, or to the end.
  while (!FFrameInfo.IsKeyFrame || (current != kNoTime && FFrameInfo.PTS <= current))
    if (!Decode(streamIndex)) return false;
  return true;
}

bool TFFDecoder::PreviousKeyFrameBefore(int streamIndex, std::int64_t time) {
  const std::int64_t step = FrameDurationUs();
  for (int k = 1; k <= kMaxBackSteps; ++k) {
    const std::int64_t target = time - k * step;
    // Nothing lies before the first picture.
    if (target < -step) break;
    if (Seek(target, sfBackward) && Decode(streamIndex) && FFrameInfo.PTS != kNoTime && FFrameInfo.PTS < time)
      return true;
  }
  SetLastErrMsg("Could not seek to the previous key-frame. " + LastErrMsg());
  return false;
}

bool TFFDecoder::DecodePreviousKeyFrame(int streamIndex) {
  if (!PrepareVideo(streamIndex)) return false;
  return PreviousKeyFrameBefore(streamIndex, ReferenceTime());
}

bool TFFDecoder::DecodePreviousFrame(int streamIndex) {
  if (!PrepareVideo(streamIndex)) return false;
  const std::int64_t start = ReferenceTime();
  const std::int64_t step = FrameDurationUs();
  std::int64_t keyTime = start;
  for (int tries = 0; tries < kMaxBackSteps; ++tries) {
    if (!PreviousKeyFrameBefore(streamIndex, keyTime)) return false;
    keyTime = FFrameInfo.PTS;
    while (FFrameInfo.PTS <= start - 2 * step)
      if (!Decode(streamIndex)) return false;
    if (FFrameInfo.PTS < start) return true;
    // Back at the starting picture: the one before it lies behind an
    // earlier key frame.
  }
  return false;
}

}  // namespace probe
