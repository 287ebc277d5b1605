// Subtitle streams: decoded subtitles encoded again for each output.
#include <algorithm>
#include <memory>

#include "engine/FFmpeg.h"
#include "ffbind/AVCodecStubs.h"
#include "ffbind/AVUtilStubs.h"

namespace engine {
namespace {

constexpr std::size_t kSubtitleBufferSize = 1024 * 1024;
constexpr AVRational kMilliseconds{1, 1000};

// Frees the decoded subtitle whatever happens to its outputs.
struct TSubtitleFree {
  void operator()(AVSubtitle* sub) const { ff::avsubtitle_free(sub); }
};

}  // namespace

int TCustomFFmpeg::decode_subtitles(TInputStream* ist, const AVPacket* pkt, bool& got_output) {
  AVSubtitle sub{};
  int got = 0;
  const int ret = ff::avcodec_decode_subtitle2(ist->dec.get(), &sub, &got, const_cast<AVPacket*>(pkt));
  if (ret < 0 || !got) return ret < 0 ? ret : 0;
  got_output = true;
  std::unique_ptr<AVSubtitle, TSubtitleFree> holder(&sub);
  pace_input(ist);
  const std::int64_t pts =
      pkt->pts != AV_NOPTS_VALUE ? ff::av_rescale_q(pkt->pts, ist->st->time_base, AV_TIME_BASE_Q) : AV_NOPTS_VALUE;
  for (auto& ost : Foutput_streams) {
    if (!ost->encoding_needed || ost->enc_ctx->codec_type != AVMEDIA_TYPE_SUBTITLE) continue;
    if (within_output_window(ist, ost.get()))
      subtitle_out(Foutput_files[ost->file_index].ctx.get(), ost.get(), &sub, pts);
  }
  return 0;
}

void TCustomFFmpeg::subtitle_out(AVFormatContext* s, TOutputStream* ost, AVSubtitle* sub, std::int64_t pts) {
  if (pts == AV_NOPTS_VALUE) {
    if (Fexit_on_error) FatalError("Subtitle packets must have a pts");
    Log(fflog::llError, "Subtitle packets must have a pts");
    return;
  }
  AVCodecContext* enc = ost->enc_ctx.get();
  if (Fsubtitle_out.empty()) Fsubtitle_out.resize(kSubtitleBufferSize);
  // A DVB subtitle is shown by one packet and taken away by a second.
  const bool dvb = enc->codec_id == AV_CODEC_ID_DVB_SUBTITLE;
  const std::uint32_t start = sub->start_display_time;
  const std::uint32_t end = sub->end_display_time;
  // The encoders take times relative to the subtitle's own stamp.
  sub->pts = pts + ff::av_rescale_q(start, kMilliseconds, AV_TIME_BASE_Q);
  sub->end_display_time = end - start;
  sub->start_display_time = 0;
  const AVRational tb = ost->st->time_base;
  for (int pass = 0; pass < (dvb ? 2 : 1); ++pass) {
    if (pass == 1) sub->num_rects = 0;
    const int size = ff::avcodec_encode_subtitle(enc, Fsubtitle_out.data(), static_cast<int>(Fsubtitle_out.size()), sub);
    if (size < 0) FatalError("Subtitle encoding failed");
    TPacket pkt(ff::av_packet_alloc());
    if (!pkt || ff::av_new_packet(pkt.get(), size) < 0) FatalError("Subtitle encoding failed");
    std::copy_n(Fsubtitle_out.data(), size, pkt->data);
    pkt->pts = ff::av_rescale_q(sub->pts, AV_TIME_BASE_Q, tb);
    if (dvb) {
      pkt->pts += 90 * static_cast<std::int64_t>(pass == 0 ? sub->start_display_time : sub->end_display_time);
    } else {
      // Containers show a subtitle for its packet's duration.
      pkt->duration = ff::av_rescale_q(sub->end_display_time, kMilliseconds, tb);
    }
    pkt->dts = pkt->pts;
    Fextra_size += size;
    mux_packet(s, pkt.get(), ost, tb);
  }
}

}  // namespace engine
