// Decoding audio a packet at a time, converting it to the wanted channels,
// rate and sample format, and handing it out in pieces.
#include <algorithm>
#include <cinttypes>
#include <climits>
#include <cstring>
#include <new>

#include "ffbind/AVCodecStubs.h"
#include "ffbind/AVUtilStubs.h"
#include "ffbind/SwResampleStubs.h"
#include "probe/FFDecode.h"
#include "platform/TextFormat.h"
#include "util/FFUtils.h"
#include "util/SampleInterleave.h"

namespace probe {

using platform::Format;

namespace {

AVChannelLayout LayoutOf(std::uint64_t mask, int channels) {
  AVChannelLayout layout{};
  if (mask && ff::av_channel_layout_from_mask(&layout, mask) == 0 && layout.nb_channels == channels) return layout;
  ff::av_channel_layout_default(&layout, channels);
  return layout;
}

}  // namespace

bool TFFDecoder::DecodeAudio(int streamIndex) {
  if (!PrepareAudio(streamIndex)) return false;
  if (FEOF && FEOFpkt) {
    Report(fflog::llInfo, "stream eof reached.");
    return false;
  }
  AVCodecContext* codec = FAudioCodec.get();
  for (;;) {
    const bool flushing = FEOFpkt;
    int got = 0;
    if (!flushing) {
      got = ReadPacket(FDesireAudioIndex);
      if (got < 0) return false;
      // At the end of the packets the empty packet drains the codec.
      const int sent = ff::avcodec_send_packet(codec, got ? FPacket.get() : nullptr);
      if (got) ff::av_packet_unref(FPacket.get());
      if (sent < 0 && sent != AVERROR_EOF) {
        Report(fflog::llError,
               ffutil::ErrorText(Format("Error while decoding audio stream #%d", FDesireAudioIndex), sent));
        continue;
      }
    }
    ResetAudio();
    FDecodedAudioBuffer.clear();
    std::int64_t blockDTS = kNoTime, blockPTS = kNoTime;
    int frames = 0, samples = 0;
    int ret;
    while ((ret = ff::avcodec_receive_frame(codec, FFrame.get())) >= 0) {
      const AVFrame* frame = FFrame.get();
      if (frames++ == 0) {
        blockDTS = frame->pkt_dts;
        blockPTS = frame->pts;
      } else if (got) {
        fflog::GetLogger()->Log(this, fflog::llWarning, "Multiple frames in a packet from stream %d",
                                FDesireAudioIndex);
      }
      // A block keeps the format of its first frame.
      if (frames == 1 || (frame->format == FDecodedSampleFormat && frame->sample_rate == FDecodedSampleRate &&
                          frame->ch_layout.nb_channels == FDecodedChannels)) {
        AppendAudio(frame);
        samples += frame->nb_samples;
      }
      ff::av_frame_unref(FFrame.get());
    }
    if (ret != AVERROR(EAGAIN) && ret != AVERROR_EOF)
      Report(fflog::llError, ffutil::ErrorText(Format("Error while decoding audio stream #%d", FDesireAudioIndex), ret));
    if (samples > 0) {
      fflog::GetLogger()->Log(this, fflog::llDebug,
                              "pkt.st_idx=%d, dts=%" PRId64 ", pts=%" PRId64 ", flags=%d, samples data size=%zu",
                              FDesireAudioIndex, blockDTS, blockPTS, 0, FDecodedAudioBuffer.size());
      if (!ConvertAudio(samples)) return false;
      // A resampler may hold the first samples back: the block then waits
      // for the next packet.
      if (FWaveInfo.Size > 0) {
        FWaveInfo.Channels = FDesireAudioChannels;
        FWaveInfo.SampleRate = FDesireAudioSampleRate;
        FWaveInfo.SampleFormat = FDesireAudioSampleFormat;
        FWaveInfo.BytesPerSample = ff::av_get_bytes_per_sample(FDesireAudioSampleFormat);
        FWaveInfo.BytesPerSecond = FWaveInfo.BytesPerSample * FDesireAudioChannels * FDesireAudioSampleRate;
        FWaveInfo.PTS = StreamTime(blockPTS != kNoTime ? blockPTS : blockDTS, FDesireAudioIndex);
        FWaveInfo.OriginalDTS = blockDTS;
        FWaveInfo.OriginalPTS = blockPTS;
        FWaveInfo.StreamIndex = FDesireAudioIndex;
        FWaveInfo.Ready = true;
        FWaveInfo.Duration = static_cast<std::int64_t>(FWaveInfo.Size) * 1000000 /
                             (static_cast<std::int64_t>(FWaveInfo.BytesPerSample) * FDesireAudioChannels *
                              FDesireAudioSampleRate);
        return true;
      }
    }
    if (flushing || (!got && ret == AVERROR_EOF)) return ReportEnd();
  }
}

void TFFDecoder::AppendAudio(const AVFrame* frame) {
  const auto format = static_cast<AVSampleFormat>(frame->format);
  const int channels = frame->ch_layout.nb_channels;
  const int bps = ff::av_get_bytes_per_sample(format);
  FDecodedSampleFormat = format;
  FDecodedSampleRate = frame->sample_rate;
  FDecodedChannels = channels;
  FDecodedChannelMask = frame->ch_layout.order == AV_CHANNEL_ORDER_NATIVE ? frame->ch_layout.u.mask : 0;
  const std::size_t bytes = static_cast<std::size_t>(bps) * channels * frame->nb_samples;
  const std::size_t at = FDecodedAudioBuffer.size();
  FDecodedAudioBuffer.resize(at + bytes);
  // The block is kept interleaved, whatever the codec gives.
  ffutil::InterleaveSamples(frame, FDecodedAudioBuffer.data() + at);
}

bool TFFDecoder::ConvertAudio(int samples) {
  const AVSampleFormat inFormat = ff::av_get_packed_sample_fmt(FDecodedSampleFormat);
  const int inRate = FDecodedSampleRate, inChannels = FDecodedChannels;
  if (FResampleSampleFormat != AV_SAMPLE_FMT_NONE &&
      (inChannels != FResampleChannels || inRate != FResampleSampleRate || inFormat != FResampleSampleFormat)) {
    fflog::GetLogger()->Log(this, fflog::llInfo,
                            "Audio stream #%d frame changed from rate:%d fmt:%s ch:%d to rate:%d fmt:%s ch:%d",
                            FDesireAudioIndex, FResampleSampleRate, ff::av_get_sample_fmt_name(FResampleSampleFormat),
                            FResampleChannels, inRate, ff::av_get_sample_fmt_name(inFormat), inChannels);
    FreeResampler();
  }
  FResampleChannels = inChannels;
  FResampleSampleRate = inRate;
  FResampleSampleFormat = inFormat;
  FAudioChannelLayout = FDecodedChannelMask;

  if (inChannels == FDesireAudioChannels && inRate == FDesireAudioSampleRate && inFormat == FDesireAudioSampleFormat) {
    FWaveInfo.Buffer = FDecodedAudioBuffer.data();
    FWaveInfo.Size = static_cast<std::int32_t>(FDecodedAudioBuffer.size());
    return true;
  }

  const auto refuse = [&] {
    Report(fflog::llError, Format("Can not resample %d channels @ %d Hz to %d channels @ %d Hz", inChannels, inRate,
                                  FDesireAudioChannels, FDesireAudioSampleRate));
    return false;
  };
  if (inChannels <= 0 || inRate <= 0 || FDesireAudioChannels <= 0 || FDesireAudioSampleRate <= 0) return refuse();

  const int outBps = ff::av_get_bytes_per_sample(FDesireAudioSampleFormat);
  const std::int64_t capacity =
      ((static_cast<std::int64_t>(samples) * FDesireAudioSampleRate + inRate) / inRate) * 2 + 10000;
  if (capacity * outBps * FDesireAudioChannels > INT_MAX) {
    Report(fflog::llError, "Buffer sizes too large in DecodeAudio");
    return false;
  }
  try {
    FResampledAudioBuffer.resize(static_cast<std::size_t>(capacity * outBps * FDesireAudioChannels));
  } catch (const std::bad_alloc&) {
    Report(fflog::llError, "Out of memory in DecodeAudio");
    return false;
  }

  if (!FAudioSwrCtx) {
    AVChannelLayout outLayout = LayoutOf(0, FDesireAudioChannels);
    AVChannelLayout inLayout = LayoutOf(FAudioChannelLayout, inChannels);
    SwrContext* swr = nullptr;
    if (ff::swr_alloc_set_opts2(&swr, &outLayout, FDesireAudioSampleFormat, FDesireAudioSampleRate, &inLayout,
                                inFormat, inRate, 0, nullptr) >= 0) {
      FAudioSwrCtx.reset(swr);
      if (ff::swr_init(swr) < 0) {
        Report(fflog::llFatal, "swr_init() failed");
        FreeResampler();
      }
    }
    if (FAudioSwrCtx)
      fflog::GetLogger()->Log(this, fflog::llInfo, "need resample %d channels @ %d Hz to %d channels @ %d Hz",
                              inChannels, inRate, FDesireAudioChannels, FDesireAudioSampleRate);
  }
  if (!FAudioSwrCtx) return refuse();
  const std::uint8_t* in[1] = {FDecodedAudioBuffer.data()};
  std::uint8_t* out[1] = {FResampledAudioBuffer.data()};
  const int converted = ff::swr_convert(FAudioSwrCtx.get(), out, static_cast<int>(capacity), in, samples);
  if (converted < 0) return refuse();
  FWaveInfo.Buffer = FResampledAudioBuffer.data();
  FWaveInfo.Size = converted * FDesireAudioChannels * outBps;
  return true;
}

int TFFDecoder::ReadAudio(void* buffer, int count, int streamIndex) {
  if (FRemainsAudioSize <= 0) {
    if (!DecodeAudio(streamIndex)) return -1;
    FRemainsAudioSize = FWaveInfo.Size;
  }
  const int n = std::min(std::max(count, 0), FRemainsAudioSize);
  if (!buffer) return n;
  std::memcpy(buffer, FWaveInfo.Buffer + (FWaveInfo.Size - FRemainsAudioSize), static_cast<std::size_t>(n));
  FRemainsAudioSize -= n;
  return n;
}

}  // namespace probe
