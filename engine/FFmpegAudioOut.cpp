// Audio output, second half: the audio hook, decoded samples converted and
// cut into encoder frames through the FIFO, packet writing and the drain.
#include <algorithm>
#include <climits>

#include "engine/EngineText.h"
#include "engine/FFmpeg.h"
#include "ffbind/AVCodecStubs.h"
#include "ffbind/AVUtilStubs.h"
#include "ffbind/SwResampleStubs.h"
#include "util/FFUtils.h"
#include "util/SampleInterleave.h"

namespace engine {

void TCustomFFmpeg::call_audio_hook(TInputStream* ist, AVFrame* frame) {
  const auto fmt = static_cast<AVSampleFormat>(frame->format);
  const int channels = frame->ch_layout.nb_channels;
  const int bps = ff::av_get_bytes_per_sample(fmt);
  const int size = frame->nb_samples * channels * bps;
  // The hook may write: the decoder must not share these samples.
  if (ff::av_frame_make_writable(frame) < 0) FatalError("Out of memory in do_audio_out()");
  if (!ff::av_sample_fmt_is_planar(fmt) || channels == 1) {
    FOnAudioHook(this, ist->pts, frame->extended_data[0], size, frame->sample_rate, channels,
                 ff::av_get_packed_sample_fmt(fmt));
    return;
  }
  // One buffer for the run: the hook sees every frame.
  if (Faudio_hook_buf.size() < static_cast<std::size_t>(size)) Faudio_hook_buf.resize(static_cast<std::size_t>(size));
  ffutil::InterleaveSamples(frame, Faudio_hook_buf.data());
  FOnAudioHook(this, ist->pts, Faudio_hook_buf.data(), size, frame->sample_rate, channels,
               ff::av_get_packed_sample_fmt(fmt));
  ffutil::DeinterleaveSamples(Faudio_hook_buf.data(), frame);
}

void TCustomFFmpeg::do_audio_out(AVFormatContext* s, TOutputStream* ost, TInputStream* ist, AVFrame* frame) {
  AVCodecContext* enc = ost->enc_ctx.get();
  const int enc_channels = enc->ch_layout.nb_channels;
  if (!ost->fifo) {
    ost->fifo.reset(ff::av_audio_fifo_alloc(enc->sample_fmt, enc_channels, 1024));
    if (!ost->fifo) FatalError("av_fifo_alloc failed");
  }
  setup_audio_resampler(ost, ist, frame);

  std::vector<const std::uint8_t*> planes(frame->extended_data,
                                          frame->extended_data + (ff::av_sample_fmt_is_planar(
                                                                      static_cast<AVSampleFormat>(frame->format))
                                                                      ? frame->ch_layout.nb_channels
                                                                      : 1));
  int count = frame->nb_samples;
  if (!sync_audio_input(ost, ist, frame, planes, count)) return;

  // Room for what the resampler gives back, with a wide margin for the
  // samples it holds back and for drift compensation.
  std::int64_t room =
      (static_cast<std::int64_t>(count) * enc->sample_rate + frame->sample_rate) / frame->sample_rate * 2 + 10000;
  room = std::max<std::int64_t>(room, enc->frame_size);
  if (room * ff::av_get_bytes_per_sample(enc->sample_fmt) * enc_channels > INT_MAX)
    FatalError("Buffer sizes too large in do_audio_out()");

  const std::uint8_t* const* data = planes.data();
  int converted = count;
  if (ost->audio_resample) {
    // Shared by every audio stream: its planes are laid out for this one.
    if (!Faudio_buf.Reserve(static_cast<int>(room), enc_channels, enc->sample_fmt))
      FatalError("Out of memory in do_audio_out()");
    converted = ff::swr_convert(ost->swr.get(), const_cast<std::uint8_t**>(Faudio_buf.Planes()),
                                Faudio_buf.Capacity(), const_cast<const std::uint8_t**>(planes.data()), count);
    if (converted < 0) FatalError(ffutil::ErrorText("swr_convert()", converted));
    data = Faudio_buf.Planes();
  }

  if (ff::av_audio_fifo_write(ost->fifo.get(), reinterpret_cast<void**>(const_cast<std::uint8_t**>(data)),
                              converted) < converted)
    FatalError("av_fifo_realloc2() failed");
  // Sample-wise codecs (PCM) take whatever there is; the others whole frames.
  if (enc->frame_size <= 1) {
    if (const int all = ff::av_audio_fifo_size(ost->fifo.get())) encode_audio_samples(s, ost, all);
    return;
  }
  while (ff::av_audio_fifo_size(ost->fifo.get()) >= enc->frame_size) encode_audio_samples(s, ost, enc->frame_size);
}

void TCustomFFmpeg::encode_audio_samples(AVFormatContext* s, TOutputStream* ost, int nb_samples) {
  AVCodecContext* enc = ost->enc_ctx.get();
  TFrame out(ff::av_frame_alloc());
  if (!out) FatalError("Audio encoding failed");
  out->format = enc->sample_fmt;
  out->sample_rate = enc->sample_rate;
  if (ff::av_channel_layout_copy(&out->ch_layout, &enc->ch_layout) < 0) FatalError("Audio encoding failed");
  // A codec that needs whole frames gets the last one filled with silence.
  const bool whole = enc->frame_size > 1 && nb_samples < enc->frame_size &&
                     !(enc->codec->capabilities & (AV_CODEC_CAP_VARIABLE_FRAME_SIZE | AV_CODEC_CAP_SMALL_LAST_FRAME));
  out->nb_samples = whole ? enc->frame_size : nb_samples;
  if (ff::av_frame_get_buffer(out.get(), 0) < 0) FatalError("Audio encoding failed");
  ff::av_samples_set_silence(out->extended_data, 0, out->nb_samples, enc->ch_layout.nb_channels, enc->sample_fmt);
  if (ff::av_audio_fifo_read(ost->fifo.get(), reinterpret_cast<void**>(out->extended_data), nb_samples) < nb_samples)
    FatalError("Audio encoding failed");
  // Stamps that step back (a song with a broken stamp under sync mode 0)
  // would make the muxer refuse the packet and end the conversion.
  ost->sync_opts = std::max(ost->sync_opts, ost->audio_end);
  out->pts = ost->sync_opts;
  ost->sync_opts += nb_samples;
  ost->audio_end = out->pts + out->nb_samples;
  encode_audio_frame(s, ost, out.get());
}

void TCustomFFmpeg::encode_audio_frame(AVFormatContext* s, TOutputStream* ost, AVFrame* frame) {
  AVCodecContext* enc = ost->enc_ctx.get();
  int ret = ff::avcodec_send_frame(enc, frame);
  if (ret < 0 && ret != AVERROR_EOF) FatalError("Audio encoding failed");
  TPacket holder(ff::av_packet_alloc());
  AVPacket* pkt = holder.get();
  if (!pkt) FatalError("Audio encoding failed");
  const std::int64_t limit = audio_stop_limit(ost);
  for (;;) {
    ret = ff::avcodec_receive_packet(enc, pkt);
    if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) break;
    if (ret < 0) FatalError("Audio encoding failed");
    if (pkt->pts != AV_NOPTS_VALUE && pkt->pts >= limit) {
      ff::av_packet_unref(pkt);
      continue;
    }
    Faudio_size += pkt->size;
    mux_packet(s, pkt, ost, enc->time_base);
    ff::av_packet_unref(pkt);
  }
}

// The encoder holds back some samples and the loop reads the song ahead
// to make up for it; without this bound the sound of a stopped run would
// outlast its pictures by that much.
std::int64_t TCustomFFmpeg::audio_stop_limit(const TOutputStream* ost) const {
  if (!FBroken) return INT64_MAX;
  const std::int64_t start = Foutput_files[ost->file_index].start_time;
  std::int64_t end = INT64_MIN;
  for (const auto& v : Foutput_streams) {
    if (v->file_index != ost->file_index || !v->encoding_needed || v->enc_ctx->codec_type != AVMEDIA_TYPE_VIDEO)
      continue;
    end = std::max(end, ff::av_rescale_q(v->cur_pts, v->st->time_base, AV_TIME_BASE_Q));
    // Pictures still inside the video encoder count too.
    if (v->sync_ist && v->sync_ist->next_pts != AV_NOPTS_VALUE) end = std::max(end, v->sync_ist->next_pts - start);
  }
  return end == INT64_MIN ? INT64_MAX : ff::av_rescale_q(end, AV_TIME_BASE_Q, ost->enc_ctx->time_base);
}

void TCustomFFmpeg::drain_audio_encoder(AVFormatContext* s, TOutputStream* ost) {
  if (ost->fifo)
    if (const int left = ff::av_audio_fifo_size(ost->fifo.get()); left > 0) encode_audio_samples(s, ost, left);
  encode_audio_frame(s, ost, nullptr);
}

}  // namespace engine
