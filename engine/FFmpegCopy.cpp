// Streams written as they come from the input ("-c copy").
#include "engine/FFmpeg.h"
#include "ffbind/AVCodecStubs.h"
#include "ffbind/AVUtilStubs.h"

namespace engine {

int TCustomFFmpeg::setup_stream_copy(TOutputStream* ost, TInputStream* ist) {
  AVCodecParameters* par = ost->st->codecpar;
  int ret = ff::avcodec_parameters_copy(par, ist->st->codecpar);
  if (ret < 0) return ret;
  // The input container's tag may mean nothing to the output's.
  par->codec_tag = 0;
  ost->st->time_base = ist->st->time_base;
  ost->st->sample_aspect_ratio = ist->st->sample_aspect_ratio;
  return init_bitstream_filters(ost);
}

void TCustomFFmpeg::copy_packet(TInputStream* ist, TOutputStream* ost, const AVPacket* pkt) {
  if (!ost->frame_number && !(pkt->flags & AV_PKT_FLAG_KEY) && !ost->copy_initial_nonkeyframes) return;
  TPacket holder(ff::av_packet_alloc());
  AVPacket* copy = holder.get();
  if (!copy) FatalError("Out of memory while copying a packet");
  if (ff::av_packet_ref(copy, pkt) < 0) FatalError("Out of memory while copying a packet");
  const std::int64_t offset =
      ff::av_rescale_q(Foutput_files[ost->file_index].start_time, AV_TIME_BASE_Q, ist->st->time_base);
  if (copy->pts != AV_NOPTS_VALUE) copy->pts -= offset;
  if (copy->dts != AV_NOPTS_VALUE) copy->dts -= offset;
  ++ost->frame_number;
  mux_packet(Foutput_files[ost->file_index].ctx.get(), copy, ost, ist->st->time_base);
}

}  // namespace engine
