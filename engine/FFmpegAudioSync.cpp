// Audio output, first half: the resampler that takes decoded samples to the
// encoder's format, and the audio sync modes that keep the output in step
// with the input's time stamps.
#include <algorithm>
#include <climits>
#include <cmath>

#include "engine/EngineText.h"
#include "engine/FFmpeg.h"
#include "ffbind/AVUtilStubs.h"
#include "ffbind/SwResampleStubs.h"
#include "util/FFUtils.h"

namespace engine {
void TCustomFFmpeg::setup_audio_resampler(TOutputStream* ost, TInputStream* ist, const AVFrame* frame) {
  AVCodecContext* enc = ost->enc_ctx.get();
  const auto fmt = static_cast<AVSampleFormat>(frame->format);
  const int channels = frame->ch_layout.nb_channels;
  const int rate = frame->sample_rate;
  const bool needed = channels != enc->ch_layout.nb_channels || fmt != enc->sample_fmt ||
                      rate != enc->sample_rate || ost->audio_channels_mapped || Faudio_sync_method > 1;
  const bool changed =
      ost->resample_sample_fmt != fmt || ost->resample_channels != channels || ost->resample_sample_rate != rate;
  // A resampler once made serves until the input changes: making it again
  // for every frame would lose the samples its filter holds back.
  if (!changed && (ost->swr || !needed)) {
    ost->audio_resample = ost->swr != nullptr;
    return;
  }

  if (changed) {
    Log(fflog::llInfo, Format("Input stream #%d:%d frame changed from rate:%d fmt:%s ch:%d to rate:%d fmt:%s ch:%d",
                              ist->file_index, ist->st->index, ost->resample_sample_rate,
                              ff::av_get_sample_fmt_name(ost->resample_sample_fmt), ost->resample_channels, rate,
                              ff::av_get_sample_fmt_name(fmt), channels));
    ost->resample_sample_fmt = fmt;
    ost->resample_channels = channels;
    ost->resample_sample_rate = rate;
    ost->swr.reset();
  }

  if (!needed) {
    ost->audio_resample = 0;
    return;
  }
  ost->audio_resample = 1;

  // With a channel map the input's own layout means nothing: swresample
  // takes the mapped channels in the usual layout for their count.
  AVChannelLayout in_layout{};
  if (ost->audio_channels_mapped) {
    in_layout.order = AV_CHANNEL_ORDER_UNSPEC;
    in_layout.nb_channels = channels;
  } else if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
    ff::av_channel_layout_default(&in_layout, channels);
  } else {
    ff::av_channel_layout_copy(&in_layout, &frame->ch_layout);
  }
  SwrContext* swr = nullptr;
  int ret = ff::swr_alloc_set_opts2(&swr, &enc->ch_layout, enc->sample_fmt, enc->sample_rate, &in_layout, fmt, rate, 0,
                                    nullptr);
  ff::av_channel_layout_uninit(&in_layout);
  bool mapped_ok = true;
  if (ret >= 0 && ost->audio_channels_mapped) {
    // A map checked against the stream's first frames may not fit a later
    // format with fewer channels.
    for (int i = 0; i < ost->audio_channels_mapped; ++i)
      if (ost->audio_channels_map[i] >= channels) mapped_ok = false;
    if (mapped_ok) ret = ff::swr_set_channel_mapping(swr, ost->audio_channels_map.data());
    if (mapped_ok && ret >= 0) ret = ff::av_opt_set_int(swr, "uch", ost->audio_channels_mapped, 0);
  }
  if (ret >= 0) ret = ff::av_opt_set_double(swr, "rmvol", ost->rematrix_volume, 0);
  if (ret >= 0 && Faudio_sync_method > 1) ret = ff::av_opt_set_int(swr, "flags", SWR_FLAG_RESAMPLE, 0);
  if (ret >= 0 && mapped_ok && ff::swr_init(swr) < 0) {
    Log(fflog::llFatal, "swr_init() failed");
    ret = -1;
  }
  if (ret < 0 || !mapped_ok) ff::swr_free(&swr);
  ost->swr.reset(swr);
  if (!ost->swr)
    FatalError("Can not resample %d channels @ %d Hz to %d channels @ %d Hz", channels, rate,
               enc->ch_layout.nb_channels, enc->sample_rate);
}

bool TCustomFFmpeg::sync_audio_input(TOutputStream* ost, TInputStream* ist, const AVFrame* frame,
                                     std::vector<const std::uint8_t*>& planes, int& count) {
  const AVCodecContext* enc = ost->enc_ctx.get();
  const auto fmt = static_cast<AVSampleFormat>(frame->format);
  const int channels = frame->ch_layout.nb_channels;
  const double enc_rate = enc->sample_rate;
  const double sync_ipts =
      static_cast<double>(ost->sync_ist->pts - Foutput_files[ost->file_index].start_time) / AV_TIME_BASE;
  const int fifo_samples = ff::av_audio_fifo_size(ost->fifo.get());

  if (Faudio_sync_method == 0) {
    ost->sync_opts = std::llrint(sync_ipts * enc_rate) - fifo_samples;
    return true;
  }

  const double delta = sync_ipts * enc_rate - static_cast<double>(ost->sync_opts) - fifo_samples;
  if (std::fabs(delta) <= 50) return true;
  const auto idelta = static_cast<std::int64_t>(delta * frame->sample_rate / enc_rate);

  if (ist->is_start || std::fabs(delta) > Faudio_drift_threshold * enc_rate) {
    if (idelta < 0) {
      // The input is ahead of the output: its first samples go.
      const int skip = static_cast<int>(std::min<std::int64_t>(-idelta, count));
      const int step = ff::av_get_bytes_per_sample(fmt) * (ff::av_sample_fmt_is_planar(fmt) ? 1 : channels);
      for (const std::uint8_t*& p : planes) p += static_cast<std::ptrdiff_t>(skip) * step;
      count -= skip;
      Log(fflog::llVerbose, Format("discarding %d audio samples", skip));
      if (count == 0) return false;
      ist->is_start = 0;
      return true;
    }
    // A gap: silence first, then the frame.
    const std::int64_t total = idelta + count;
    if (ff::av_samples_get_buffer_size(nullptr, channels, 1, fmt, 1) * total > INT_MAX)
      FatalError("Buffer sizes too large in do_audio_out()");
    if (!Finput_tmp.Reserve(static_cast<int>(total), channels, fmt)) FatalError("Out of memory in do_audio_out()");
    ist->is_start = 0;
    std::uint8_t* const* tmp = Finput_tmp.Planes();
    ff::av_samples_set_silence(const_cast<std::uint8_t**>(tmp), 0, static_cast<int>(idelta), channels, fmt);
    ff::av_samples_copy(const_cast<std::uint8_t**>(tmp), const_cast<std::uint8_t* const*>(planes.data()),
                        static_cast<int>(idelta), 0, count, channels, fmt);
    planes.assign(tmp, tmp + planes.size());
    count = static_cast<int>(total);
    Log(fflog::llVerbose, Format("adding %d audio samples of silence", static_cast<int>(idelta)));
    return true;
  }

  if (Faudio_sync_method > 1) {
    const int comp = static_cast<int>(
        std::clamp<double>(std::trunc(delta), -Faudio_sync_method, Faudio_sync_method));
    Log(fflog::llVerbose, Format("compensating audio timestamp drift:%f compensation:%d in:%d", delta, comp,
                                 enc->sample_rate));
    const int ret = ff::swr_set_compensation(ost->swr.get(), comp, enc->sample_rate);
    if (ret < 0) Log(fflog::llWarning, ffutil::ErrorText("swr_set_compensation()", ret));
  }
  return true;
}

}  // namespace engine
