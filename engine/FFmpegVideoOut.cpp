// Video output: how many times a filtered frame is written (the sync
// methods), encoding with forced key frames and fixed quality, statistics
// lines, the picture hooks and the drain at the end.
#include <algorithm>
#include <cmath>

#include "engine/EngineText.h"
#include "engine/FFmpeg.h"
#include "ffbind/AVCodecStubs.h"
#include "ffbind/AVUtilStubs.h"

namespace engine {
namespace {

// Little-endian fields of the encoder's quality statistics.
std::uint64_t ReadLE(const std::uint8_t* p, int bytes) {
  std::uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

}  // namespace

void TCustomFFmpeg::video_out(AVFormatContext* s, TOutputStream* ost, AVFrame* frame, int& frame_size, float quality,
                              TInputStream* ist) {
  AVCodecContext* enc = ost->enc_ctx.get();
  const double enc_tb = av_q2d(enc->time_base);

  double duration = 0;
  if (ist->st->start_time != AV_NOPTS_VALUE) {
    duration = av_q2d(ist->st->time_base);
    if (ist->dec->framerate.num) duration = std::max(duration, 1.0 / av_q2d(ist->dec->framerate));
    if (ist->st->avg_frame_rate.num) duration = std::max(duration, 1.0 / av_q2d(ist->st->avg_frame_rate));
    duration /= enc_tb;
  }
  const double sync_ipts =
      static_cast<double>(ost->sync_ist->pts - Foutput_files[ost->file_index].start_time) / AV_TIME_BASE / enc_tb;

  std::int64_t nb_frames = 1;
  frame_size = 0;
  int sync = Fvideo_sync_method;
  if (sync < 0) {
    const int flags = s->oformat->flags;
    sync = !(flags & AVFMT_VARIABLE_FPS) ? 1 : (flags & AVFMT_NOTIMESTAMPS) ? 0 : 2;
  }
  if (sync == 0) {
    ost->sync_opts = std::llrint(sync_ipts);
  } else {
    const double vdelta = sync_ipts - static_cast<double>(ost->sync_opts) + duration;
    if (vdelta < -1.1) nb_frames = 0;
    else if (sync == 2) {
      if (vdelta <= -0.6) nb_frames = 0;
      else if (vdelta > 0.6) ost->sync_opts = std::llrint(sync_ipts);
    } else if (vdelta > 1.1) {
      nb_frames = std::llrint(vdelta);
    }
    if (nb_frames == 0) {
      ++Fnb_frames_drop;
      FShowDupOrDrop = true;
      Log(fflog::llVerbose, "*** drop!");
    } else if (nb_frames > 1) {
      Fnb_frames_dup += static_cast<std::int32_t>(nb_frames - 1);
      FShowDupOrDrop = true;
      Log(fflog::llVerbose, Format("*** %d dup!", static_cast<int>(nb_frames - 1)));
    }
  }
  nb_frames = std::min(nb_frames, ost->max_frames - ost->frame_number);
  if (nb_frames <= 0) return;

  TFrame work(ff::av_frame_alloc());
  if (!work) FatalError("Video encoding failed");
  for (std::int64_t i = 0; i < nb_frames; ++i) {
    if (i > 0 && CheckStopAndPause()) break;
    ff::av_frame_unref(work.get());
    if (ff::av_frame_ref(work.get(), frame) < 0) FatalError("Video encoding failed");
    AVFrame* pic = work.get();
    if (enc->flags & (AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_INTERLACED_ME))
      pic->top_field_first = ost->top_field_first == -1 ? frame->top_field_first : ost->top_field_first != 0;
    // The encoder honours a fixed quantiser only when every frame carries it.
    pic->quality = static_cast<int>(std::lrint(quality));
    pic->pict_type = AV_PICTURE_TYPE_NONE;
    pic->pts = ost->sync_opts;
    if (ost->forced_kf_index < static_cast<int>(ost->forced_kf_pts.size()) &&
        pic->pts >= ost->forced_kf_pts[ost->forced_kf_index]) {
      pic->pict_type = AV_PICTURE_TYPE_I;
      ++ost->forced_kf_index;
    }
    const int hook_frame = ost->frame_number + 1;
    const std::int64_t hook_pts = ff::av_rescale_q(ost->sync_opts, enc->time_base, AV_TIME_BASE_Q);
    bool bitmap_valid = false;
    if (FOnOutputVideoHook || FOnOutputFrameHook) run_output_hooks(pic, hook_frame, hook_pts, bitmap_valid);
    if (FPostHooks) run_post_hooks(pic, bitmap_valid, hook_pts, hook_frame);
    frame_size = encode_video_frame(s, ost, pic);
    ++ost->sync_opts;
    ++ost->frame_number;
  }
}

int TCustomFFmpeg::encode_video_frame(AVFormatContext* s, TOutputStream* ost, AVFrame* frame) {
  AVCodecContext* enc = ost->enc_ctx.get();
  int ret = ff::avcodec_send_frame(enc, frame);
  if (ret < 0 && ret != AVERROR_EOF) FatalError("Video encoding failed");
  int written = 0;
  TPacket holder(ff::av_packet_alloc());
  AVPacket* pkt = holder.get();
  if (!pkt) FatalError("Video encoding failed");
  for (;;) {
    ret = ff::avcodec_receive_packet(enc, pkt);
    if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) break;
    if (ret < 0) FatalError("Video encoding failed");
    if (const std::uint8_t* q = ff::av_packet_get_side_data(pkt, AV_PKT_DATA_QUALITY_STATS, nullptr)) {
      ost->coded_quality = static_cast<std::int32_t>(ReadLE(q, 4));
      ost->coded_pict_type = static_cast<AVPictureType>(q[4]);
      for (int i = 0; i < 3; ++i) ost->coded_error[i] = static_cast<std::int64_t>(ReadLE(q + 8 + 8 * i, 8));
    }
    // Every output frame lasts one tick of the encoder's time base.
    if (!pkt->duration) pkt->duration = 1;
    written += pkt->size;
    Fvideo_size += pkt->size;
    if (ost->logfile && enc->stats_out) std::fprintf(ost->logfile.get(), "%s", enc->stats_out);
    mux_packet(s, pkt, ost, enc->time_base);
    ff::av_packet_unref(pkt);
  }
  return written;
}

void TCustomFFmpeg::pre_process_video_frame(TInputStream* ist, AVFrame* picture) {
  // Deinterlacing (-deinterlace) happens at the head of the filter graph.
  ++ist->frame_number;
  if (!FOnInputFrameHook && !FOnInputVideoHook && FFirstHook.Empty()) return;
  // The hooks change the pixels the filters get.
  if (ff::av_frame_make_writable(picture) < 0) {
    Log(fflog::llError, "hook buf malloc error in pre_process_video_frame().");
    return;
  }
  if (FOnInputFrameHook)
    FOnInputFrameHook(this, picture, static_cast<AVPixelFormat>(picture->format), ist->frame_number, picture->width,
                      picture->height, ist->pts);
  if (FOnInputVideoHook) {
    bool bitmap_valid = false;
    run_bitmap_hook(FOnInputVideoHook, FInputVideoHook, bitmap_valid, ist->pts, ist->frame_number, picture);
  } else if (!FFirstHook.Empty()) {
    ffutil::TAVPicture view = ffutil::PictureOf(picture);
    FFirstHook.Process(&view, static_cast<AVPixelFormat>(picture->format), picture->width, picture->height,
                       ist->pts);
  }
}

void TCustomFFmpeg::log_video_stats(TOutputStream* ost, int frame_size) {
  if (!Fvstats_file) {
    Fvstats_file.reset(std::fopen(Fvstats_filename.c_str(), "w"));
    if (!Fvstats_file) FatalError("fopen fail: " + Fvstats_filename);
  }
  const AVCodecContext* enc = ost->enc_ctx.get();
  if (enc->codec_type != AVMEDIA_TYPE_VIDEO) return;
  std::FILE* f = Fvstats_file.get();
  std::fprintf(f, "frame= %5d q= %2.1f ", ost->frame_number, ost->coded_quality / static_cast<float>(FF_QP2LAMBDA));
  if (enc->flags & AV_CODEC_FLAG_PSNR)
    std::fprintf(f, "PSNR= %6.2f ",
                 -10.0 * std::log10(ost->coded_error[0] / (enc->width * enc->height * 255.0 * 255.0)));
  std::fprintf(f, "f_size= %6d ", frame_size);
  double ti1 = ost->sync_opts * av_q2d(enc->time_base);
  if (ti1 < 0.01) ti1 = 0.01;
  const double bitrate = frame_size * 8 / av_q2d(enc->time_base) / 1000.0;
  const double avg_bitrate = static_cast<double>(Fvideo_size) * 8 / ti1 / 1000.0;
  std::fprintf(f, "s_size= %8.0fkB time= %0.3f br= %7.1fkbits/s avg_br= %7.1fkbits/s ",
               static_cast<double>(Fvideo_size) / 1024, ti1, bitrate, avg_bitrate);
  std::fprintf(f, "type= %c\n", ff::av_get_picture_type_char(ost->coded_pict_type));
}

void TCustomFFmpeg::drain_encoders() {
  for (auto& o : Foutput_streams) {
    TOutputStream* ost = o.get();
    if (!ost->encoding_needed || ost->encoder_flushed) continue;
    ost->encoder_flushed = 1;
    AVFormatContext* s = Foutput_files[ost->file_index].ctx.get();
    switch (ost->enc_ctx->codec_type) {
      case AVMEDIA_TYPE_VIDEO: encode_video_frame(s, ost, nullptr); break;
      case AVMEDIA_TYPE_AUDIO: drain_audio_encoder(s, ost); break;
      default: break;
    }
  }
}

}  // namespace engine
