// Audio output: decoded samples converted to the encoder's format, cut
// into encoder frames placed at the input position, and the drain.
#include <cmath>

#include "engine/EngineText.h"
#include "engine/FFmpeg.h"
#include "ffbind/AVCodecStubs.h"
#include "ffbind/AVUtilStubs.h"
#include "ffbind/SwResampleStubs.h"

namespace engine {
namespace {

// Samples per encoder frame; codecs that take any count get 1024 at a time.
int FrameSamples(const AVCodecContext* enc) {
  if (enc->frame_size > 0 && !(enc->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE)) return enc->frame_size;
  return 1024;
}

}  // namespace

// The position comes from the stream's sync input, which may differ from
// the input stream that decoded the frame.
void TCustomFFmpeg::do_audio_out(AVFormatContext* s, TOutputStream* ost, TInputStream*, AVFrame* frame) {
  AVCodecContext* enc = ost->enc_ctx.get();
  if (!ost->fifo) {
    ost->fifo.reset(ff::av_audio_fifo_alloc(enc->sample_fmt, enc->ch_layout.nb_channels, 1));
    if (!ost->fifo) FatalError("av_fifo_alloc failed");
  }
  const bool changed = frame->format != ost->resample_sample_fmt || frame->sample_rate != ost->resample_sample_rate ||
                       frame->ch_layout.nb_channels != ost->resample_channels;
  if (changed || (!ost->swr && (frame->format != enc->sample_fmt || frame->sample_rate != enc->sample_rate ||
                                ff::av_channel_layout_compare(&frame->ch_layout, &enc->ch_layout) != 0))) {
    ost->resample_sample_fmt = static_cast<AVSampleFormat>(frame->format);
    ost->resample_sample_rate = frame->sample_rate;
    ost->resample_channels = frame->ch_layout.nb_channels;
    SwrContext* swr = nullptr;
    if (ff::swr_alloc_set_opts2(&swr, &enc->ch_layout, enc->sample_fmt, enc->sample_rate, &frame->ch_layout,
                                static_cast<AVSampleFormat>(frame->format), frame->sample_rate, 0, nullptr) < 0 ||
        ff::swr_init(swr) < 0) {
      ff::swr_free(&swr);
      FatalError("Can not resample %d channels @ %d Hz to %d channels @ %d Hz", frame->ch_layout.nb_channels,
                 frame->sample_rate, enc->ch_layout.nb_channels, enc->sample_rate);
    }
    ost->swr.reset(swr);
  }

  // Where the encoder stands: the input position minus what still waits.
  if (ff::av_audio_fifo_size(ost->fifo.get()) == 0) {
    const double sync_ipts =
        static_cast<double>(ost->sync_ist->pts - Foutput_files[ost->file_index].start_time) / AV_TIME_BASE;
    ost->sync_opts = std::llrint(sync_ipts * enc->sample_rate);
  }

  if (ost->swr) {
    const int room = static_cast<int>(
        ff::av_rescale_rnd(ff::swr_get_delay(ost->swr.get(), frame->sample_rate) + frame->nb_samples,
                           enc->sample_rate, frame->sample_rate, AV_ROUND_UP));
    TFrame converted(ff::av_frame_alloc());
    if (!converted) FatalError("Out of memory in do_audio_out()");
    converted->format = enc->sample_fmt;
    converted->nb_samples = room;
    ff::av_channel_layout_copy(&converted->ch_layout, &enc->ch_layout);
    if (ff::av_frame_get_buffer(converted.get(), 0) < 0) FatalError("Out of memory in do_audio_out()");
    const int n = ff::swr_convert(ost->swr.get(), converted->data, room,
                                  const_cast<const std::uint8_t**>(frame->extended_data), frame->nb_samples);
    if (n < 0) FatalError("Can not resample %d channels @ %d Hz to %d channels @ %d Hz", frame->ch_layout.nb_channels,
                          frame->sample_rate, enc->ch_layout.nb_channels, enc->sample_rate);
    if (ff::av_audio_fifo_write(ost->fifo.get(), reinterpret_cast<void**>(converted->data), n) < n)
      FatalError("av_fifo_realloc2() failed");
  } else if (ff::av_audio_fifo_write(ost->fifo.get(), reinterpret_cast<void**>(frame->extended_data),
                                     frame->nb_samples) < frame->nb_samples) {
    FatalError("av_fifo_realloc2() failed");
  }

  const int frame_samples = FrameSamples(enc);
  while (ff::av_audio_fifo_size(ost->fifo.get()) >= frame_samples) encode_audio_samples(s, ost, frame_samples);
}

void TCustomFFmpeg::encode_audio_samples(AVFormatContext* s, TOutputStream* ost, int nb_samples) {
  AVCodecContext* enc = ost->enc_ctx.get();
  TFrame out(ff::av_frame_alloc());
  if (!out) FatalError("Audio encoding failed");
  out->format = enc->sample_fmt;
  out->sample_rate = enc->sample_rate;
  ff::av_channel_layout_copy(&out->ch_layout, &enc->ch_layout);
  // A codec that needs whole frames gets the last one filled with silence.
  const bool whole = enc->frame_size > 0 && !(enc->codec->capabilities & (AV_CODEC_CAP_VARIABLE_FRAME_SIZE |
                                                                          AV_CODEC_CAP_SMALL_LAST_FRAME));
  out->nb_samples = whole ? enc->frame_size : nb_samples;
  if (ff::av_frame_get_buffer(out.get(), 0) < 0) FatalError("Audio encoding failed");
  ff::av_samples_set_silence(out->data, 0, out->nb_samples, enc->ch_layout.nb_channels, enc->sample_fmt);
  ff::av_audio_fifo_read(ost->fifo.get(), reinterpret_cast<void**>(out->data), nb_samples);
  out->pts = ost->sync_opts;
  ost->sync_opts += nb_samples;
  encode_audio_frame(s, ost, out.get());
}

void TCustomFFmpeg::encode_audio_frame(AVFormatContext* s, TOutputStream* ost, AVFrame* frame) {
  AVCodecContext* enc = ost->enc_ctx.get();
  int ret = ff::avcodec_send_frame(enc, frame);
  if (ret < 0 && ret != AVERROR_EOF) FatalError("Audio encoding failed");
  TPacket holder(ff::av_packet_alloc());
  AVPacket* pkt = holder.get();
  if (!pkt) FatalError("Audio encoding failed");
  for (;;) {
    ret = ff::avcodec_receive_packet(enc, pkt);
    if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) break;
    if (ret < 0) FatalError("Audio encoding failed");
    Faudio_size += pkt->size;
    mux_packet(s, pkt, ost, enc->time_base);
    ff::av_packet_unref(pkt);
  }
}

void TCustomFFmpeg::drain_audio_encoder(AVFormatContext* s, TOutputStream* ost) {
  if (ost->fifo)
    if (const int left = ff::av_audio_fifo_size(ost->fifo.get()); left > 0) encode_audio_samples(s, ost, left);
  encode_audio_frame(s, ost, nullptr);
}

}  // namespace engine
