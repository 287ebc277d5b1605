// Input decoding: packets into decoders, pictures through the filter
// graphs to the video output, samples to the audio output.
#include <algorithm>

#include "engine/FFmpeg.h"
#include "ffbind/AVCodecStubs.h"
#include "ffbind/AVFilterStubs.h"
#include "ffbind/AVUtilStubs.h"

namespace engine {
namespace {

TFrame NewFrame() {
  TFrame f(ff::av_frame_alloc());
  if (!f) throw std::bad_alloc();
  return f;
}

// Sends the packet when asked (nullptr flushes), then takes one frame.
// 0 with got_output false when the decoder has nothing more for now.
int ReceiveDecoded(AVCodecContext* dec, const AVPacket* pkt, bool send, AVFrame* frame, bool& got_output) {
  if (send) {
    const int ret = ff::avcodec_send_packet(dec, pkt);
    if (ret < 0 && ret != AVERROR_EOF) return ret;
  }
  const int ret = ff::avcodec_receive_frame(dec, frame);
  if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) return 0;
  if (ret < 0) return ret;
  got_output = true;
  return 0;
}

}  // namespace

int TCustomFFmpeg::decode_packet(TInputStream* ist, const AVPacket* pkt) {
  if (ist->next_pts == AV_NOPTS_VALUE) ist->next_pts = ist->pts;
  std::int64_t pkt_pts = AV_NOPTS_VALUE, pkt_dts = AV_NOPTS_VALUE;
  const AVRational tb = ist->st->time_base;
  const AVMediaType type = ist->st->codecpar->codec_type;
  TPacket work;
  if (pkt) {
    work.reset(ff::av_packet_alloc());
    if (!work || ff::av_packet_ref(work.get(), pkt) < 0) return AVERROR(ENOMEM);
    if (pkt->dts != AV_NOPTS_VALUE) {
      pkt_dts = ff::av_rescale_q(pkt->dts, tb, AV_TIME_BASE_Q);
      if (type != AVMEDIA_TYPE_VIDEO || !ist->decoding_needed) ist->pts = ist->next_pts = pkt_dts;
    }
    if (pkt->pts != AV_NOPTS_VALUE) pkt_pts = ff::av_rescale_q(pkt->pts, tb, AV_TIME_BASE_Q);
  } else {
    ist->decoder_flushed = 1;
  }

  // The packet goes in once; frames come out while the decoder has any.
  bool send = true;
  bool got_output = true;
  while (ist->decoding_needed && got_output) {
    ist->pts = ist->next_pts;
    got_output = false;
    int ret = 0;
    AVPacket* in = send ? work.get() : nullptr;
    switch (type) {
      case AVMEDIA_TYPE_AUDIO: ret = decode_audio(ist, in, send, got_output); break;
      case AVMEDIA_TYPE_VIDEO: ret = decode_video(ist, in, send, pkt_pts, pkt_dts, got_output); break;
      // Subtitle decoders hold nothing back: one packet, at most one subtitle.
      case AVMEDIA_TYPE_SUBTITLE:
        if (in) ret = decode_subtitles(ist, in, got_output);
        got_output = false;
        break;
      default: ret = -1; break;
    }
    if (ret < 0) return ret;
    send = false;
  }

  if (!ist->decoding_needed) {
    pace_input(ist);
    ist->pts = ist->next_pts;
    const AVCodecParameters* par = ist->st->codecpar;
    if (type == AVMEDIA_TYPE_AUDIO && par->sample_rate) {
      ist->next_pts += static_cast<std::int64_t>(AV_TIME_BASE) * par->frame_size / par->sample_rate;
    } else if (type == AVMEDIA_TYPE_VIDEO) {
      if (pkt && pkt->duration) ist->next_pts += ff::av_rescale_q(pkt->duration, tb, AV_TIME_BASE_Q);
      else if (ist->dec->framerate.num)
        ist->next_pts += static_cast<std::int64_t>(AV_TIME_BASE) * ist->dec->framerate.den / ist->dec->framerate.num;
    }
  }

  if (pkt)
    for (auto& ost : Foutput_streams)
      if (!ost->encoding_needed && within_output_window(ist, ost.get())) copy_packet(ist, ost.get(), pkt);
  return 0;
}

int TCustomFFmpeg::decode_audio(TInputStream* ist, AVPacket* pkt, bool send, bool& got_output) {
  if (!ist->decoded_frame) ist->decoded_frame = NewFrame();
  AVFrame* frame = ist->decoded_frame.get();
  ff::av_frame_unref(frame);
  const int ret = ReceiveDecoded(ist->dec.get(), pkt, send, frame, got_output);
  if (ret < 0 || !got_output) return ret;
  if (frame->nb_samples <= 0) FatalError("the decoder \"%s\" return bad result.", ist->dec->codec->name);
  // The decoder may hand out a frame of an earlier packet: its own stamp
  // is where its samples belong.
  if (frame->pts != AV_NOPTS_VALUE)
    ist->pts = ist->next_pts = ff::av_rescale_q(frame->pts, ist->st->time_base, AV_TIME_BASE_Q);
  if (frame->sample_rate) ist->next_pts += static_cast<std::int64_t>(AV_TIME_BASE) * frame->nb_samples / frame->sample_rate;
  if (FOnAudioHook) call_audio_hook(ist, frame);
  if (Faudio_volume != 256) AdjustVolume(frame);
  pace_input(ist);
  for (auto& ost : Foutput_streams)
    if (ost->encoding_needed && within_output_window(ist, ost.get()))
      do_audio_out(Foutput_files[ost->file_index].ctx.get(), ost.get(), ist, frame);
  return 0;
}

int TCustomFFmpeg::decode_video(TInputStream* ist, AVPacket* pkt, bool send, std::int64_t& pkt_pts,
                                std::int64_t& pkt_dts, bool& got_output) {
  if (!ist->decoded_frame) ist->decoded_frame = NewFrame();
  AVFrame* frame = ist->decoded_frame.get();
  ff::av_frame_unref(frame);
  const AVRational tb = ist->st->time_base;

  std::int64_t duration = 0;
  if (pkt && pkt->duration) duration = ff::av_rescale_q(pkt->duration, tb, AV_TIME_BASE_Q);
  else if (ist->dec->framerate.num)
    duration = static_cast<std::int64_t>(AV_TIME_BASE) * ist->dec->framerate.den / ist->dec->framerate.num;
  if (pkt) {
    pkt->pts = pkt_pts == AV_NOPTS_VALUE ? AV_NOPTS_VALUE : ff::av_rescale_q(pkt_pts, AV_TIME_BASE_Q, tb);
    pkt->dts = pkt_dts == AV_NOPTS_VALUE ? AV_NOPTS_VALUE : ff::av_rescale_q(pkt_dts, AV_TIME_BASE_Q, tb);
  }
  pkt_pts = AV_NOPTS_VALUE;
  pkt_dts = pkt_dts != AV_NOPTS_VALUE && duration ? pkt_dts + duration : AV_NOPTS_VALUE;

  const int ret = ReceiveDecoded(ist->dec.get(), pkt, send, frame, got_output);
  if (ret < 0 || !got_output) return ret;
  const float quality = Fsame_quant ? static_cast<float>(frame->quality) : 0.0f;

  if (frame->best_effort_timestamp != AV_NOPTS_VALUE)
    ist->next_pts = ist->pts = ff::av_rescale_q(frame->best_effort_timestamp, tb, AV_TIME_BASE_Q);
  ist->next_pts += duration;

  pre_process_video_frame(ist, frame);

  for (auto& o : Foutput_streams) {
    TOutputStream* ost = o.get();
    if (!ost->input_video_filter || !within_output_window(ist, ost)) continue;
    if (!frame->sample_aspect_ratio.num) frame->sample_aspect_ratio = ist->st->sample_aspect_ratio;
    frame->pts = ist->pts;
    if (ff::av_buffersrc_add_frame_flags(ost->input_video_filter, frame, AV_BUFFERSRC_FLAG_KEEP_REF) < 0)
      FatalError("Failed to inject frame into filter network");
  }

  pace_input(ist);

  for (auto& o : Foutput_streams) {
    TOutputStream* ost = o.get();
    if (!ost->encoding_needed || !ost->output_video_filter || !within_output_window(ist, ost)) continue;
    filter_video_output(ist, ost, Fsame_quant ? quality : static_cast<float>(ost->enc_ctx->global_quality));
  }
  return 0;
}

void TCustomFFmpeg::filter_video_output(TInputStream* ist, TOutputStream* ost, float quality) {
  if (!ist->filtered_frame) ist->filtered_frame = NewFrame();
  AVFrame* filtered = ist->filtered_frame.get();
  const AVRational link_tb = ff::av_buffersink_get_time_base(ost->output_video_filter);
  for (;;) {
    ff::av_frame_unref(filtered);
    const int ret = ff::av_buffersink_get_frame_flags(ost->output_video_filter, filtered, 0);
    if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) break;
    if (ret < 0) {
      Log(fflog::llWarning, "AV Filter told us it has a frame available but failed to output one");
      break;
    }
    ist->pts = ff::av_rescale_q(filtered->pts, link_tb, AV_TIME_BASE_Q);
    if (ost->frame_aspect_ratio == 0 && filtered->sample_aspect_ratio.num)
      ost->enc_ctx->sample_aspect_ratio = filtered->sample_aspect_ratio;
    int frame_size = 0;
    video_out(Foutput_files[ost->file_index].ctx.get(), ost, filtered, frame_size, quality, ist);
    if (!Fvstats_filename.empty() && frame_size) log_video_stats(ost, frame_size);
  }
  ff::av_frame_unref(filtered);
}

void TCustomFFmpeg::AdjustVolume(AVFrame* frame) {
  // The decoder may still share these samples.
  if (ff::av_frame_make_writable(frame) < 0) FatalError("Out of memory in do_audio_out()");
  const int v = Faudio_volume;
  const auto format = static_cast<AVSampleFormat>(frame->format);
  const bool planar = ff::av_sample_fmt_is_planar(format);
  const int planes = planar ? frame->ch_layout.nb_channels : 1;
  const int count = frame->nb_samples * (planar ? 1 : frame->ch_layout.nb_channels);
  auto scale = [&](auto* samples, auto apply) {
    for (int i = 0; i < count; ++i) samples[i] = apply(samples[i]);
  };
  // Planar formats get the same treatment as their packed forms.
  for (int p = 0; p < planes; ++p) {
    std::uint8_t* data = frame->extended_data[p];
    switch (ff::av_get_packed_sample_fmt(format)) {
      case AV_SAMPLE_FMT_U8:
        scale(data, [v](std::uint8_t s) {
          return static_cast<std::uint8_t>(std::clamp((((s - 128) * v + 128) >> 8) + 128, 0, 255));
        });
        break;
      case AV_SAMPLE_FMT_S16:
        scale(reinterpret_cast<std::int16_t*>(data), [v](std::int16_t s) {
          return static_cast<std::int16_t>(std::clamp((s * v + 128) >> 8, -32768, 32767));
        });
        break;
      case AV_SAMPLE_FMT_S32:
        scale(reinterpret_cast<std::int32_t*>(data), [v](std::int32_t s) {
          return static_cast<std::int32_t>(
              std::clamp<std::int64_t>((static_cast<std::int64_t>(s) * v + 128) >> 8, INT32_MIN, INT32_MAX));
        });
        break;
      case AV_SAMPLE_FMT_FLT:
        scale(reinterpret_cast<float*>(data), [v](float s) { return s * v / 256.0f; });
        break;
      case AV_SAMPLE_FMT_DBL:
        scale(reinterpret_cast<double*>(data), [v](double s) { return s * v / 256.0; });
        break;
      default:
        FatalError("Audio volume adjustment on sample format %s is not supported.", ff::av_get_sample_fmt_name(format));
    }
  }
}

}  // namespace engine
