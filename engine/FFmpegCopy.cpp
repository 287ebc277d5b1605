// Streams written as they come from the input ("-c copy").
#include "engine/EngineText.h"
#include "engine/FFmpeg.h"
#include "ffbind/AVCodecStubs.h"
#include "ffbind/AVFormatStubs.h"
#include "ffbind/AVUtilStubs.h"

namespace engine {
namespace {

// The input's codec tag goes along unless the output container gives the
// tag another meaning.
bool KeepsInputTag(const AVOutputFormat* format, const AVCodecParameters* in) {
  if (!format->codec_tag) return true;
  return ff::av_codec_get_id(format->codec_tag, in->codec_tag) == in->codec_id ||
         ff::av_codec_get_tag(format->codec_tag, in->codec_id) == 0;
}

}  // namespace

// What only a decoded stream can do is refused for a copied one.
const char* TCustomFFmpeg::stream_copy_conflict(AVMediaType type) const {
  if (type == AVMEDIA_TYPE_AUDIO) {
    if (Faudio_volume != 256) return "-acodec copy and -vol are incompatible (frames are not decoded)";
    if (FOnAudioHook) return "-acodec copy and AudioHook are incompatible (frames are not decoded)";
  } else if (type == AVMEDIA_TYPE_VIDEO) {
    if (FOnInputVideoHook || FOnOutputVideoHook)
      return "-vcodec copy and VideoHook are incompatible (frames are not decoded)";
    if (FOnInputFrameHook || FOnOutputFrameHook)
      return "-vcodec copy and FrameHook are incompatible (frames are not decoded)";
    if (Fusing_vhook) return "-vcodec copy and -vhook are incompatible (frames are not decoded)";
    if (FPostHooks) return "-vcodec copy and PostHooks are incompatible (frames are not decoded)";
  }
  return nullptr;
}

int TCustomFFmpeg::setup_stream_copy(TOutputStream* ost, TInputStream* ist) {
  const AVCodecParameters* in = ist->st->codecpar;
  if (const char* conflict = stream_copy_conflict(in->codec_type)) {
    FLastErrMsg = conflict;
    Log(fflog::llError, FLastErrMsg);
    return AVERROR(EINVAL);
  }
  AVCodecParameters* par = ost->st->codecpar;
  const std::uint32_t forced_tag = ost->enc_ctx->codec_tag;  // -tag
  int ret = ff::avcodec_parameters_copy(par, in);
  if (ret < 0) return ret;
  const AVOutputFormat* format = Foutput_files[ost->file_index].ctx->oformat;
  par->codec_tag = forced_tag ? forced_tag : KeepsInputTag(format, in) ? in->codec_tag : 0;
  ost->st->time_base = ist->st->time_base;
  ost->st->sample_aspect_ratio = ist->st->sample_aspect_ratio;
  if (in->codec_type == AVMEDIA_TYPE_VIDEO) ost->st->avg_frame_rate = ist->st->avg_frame_rate;
  return init_bitstream_filters(ost);
}

void TCustomFFmpeg::copy_packet(TInputStream* ist, TOutputStream* ost, const AVPacket* pkt) {
  if (!ost->frame_number && !(pkt->flags & AV_PKT_FLAG_KEY) && !ost->copy_initial_nonkeyframes) return;
  TPacket holder(ff::av_packet_alloc());
  AVPacket* copy = holder.get();
  if (!copy) FatalError("Out of memory while copying a packet");
  if (ff::av_packet_ref(copy, pkt) < 0) FatalError("Out of memory while copying a packet");
  const AVRational tb = ist->st->time_base;
  // Without a decoding time the stream's position stands in for it.
  if (copy->dts == AV_NOPTS_VALUE) copy->dts = ff::av_rescale_q(ist->pts, AV_TIME_BASE_Q, tb);
  const std::int64_t offset = ff::av_rescale_q(Foutput_files[ost->file_index].start_time, AV_TIME_BASE_Q, tb);
  if (copy->pts != AV_NOPTS_VALUE) copy->pts -= offset;
  copy->dts -= offset;
  if (ist->st->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
    Faudio_size += copy->size;
  } else if (ist->st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
    Fvideo_size += copy->size;
    ++ost->sync_opts;
  }
  ++ost->frame_number;
  mux_packet(Foutput_files[ost->file_index].ctx.get(), copy, ost, tb);
}

}  // namespace engine
