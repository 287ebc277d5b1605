// The filter graph of one encoded video stream: buffer source with
// microsecond time stamps, scaling to the encoder's size, the -vf chain,
// and a sink that hands out the encoder's pixel format.
#include "engine/EngineText.h"
#include "engine/FFmpeg.h"
#include "ffbind/AVFilterStubs.h"
#include "ffbind/AVUtilStubs.h"

namespace engine {
namespace {

struct TInOutFree {
  void operator()(AVFilterInOut* p) const { ff::avfilter_inout_free(&p); }
};
using TInOut = std::unique_ptr<AVFilterInOut, TInOutFree>;

TInOut OpenPad(const char* name, AVFilterContext* ctx) {
  TInOut io(ff::avfilter_inout_alloc());
  if (io) {
    io->name = ff::av_strdup(name);
    io->filter_ctx = ctx;
    io->pad_idx = 0;
    io->next = nullptr;
  }
  return io;
}

}  // namespace

int TCustomFFmpeg::setup_video_filters(TInputStream* ist, TOutputStream* ost) {
  AVCodecContext* codec = ost->enc_ctx.get();
  const AVCodecContext* icodec = ist->dec.get();
  ost->graph.reset(ff::avfilter_graph_alloc());
  if (!ost->graph) return AVERROR(ENOMEM);
  AVFilterGraph* graph = ost->graph.get();

  AVRational sar = ist->st->sample_aspect_ratio.num ? ist->st->sample_aspect_ratio : icodec->sample_aspect_ratio;
  if (!sar.num || !sar.den) sar = AVRational{0, 1};
  std::string srcArgs = Format("video_size=%dx%d:pix_fmt=%d:time_base=1/%d:pixel_aspect=%d/%d", icodec->width,
                               icodec->height, icodec->pix_fmt, AV_TIME_BASE, sar.num, sar.den);
  // Filters that make pictures of their own (padding, rate changes) time
  // them by the input's rate.
  if (icodec->framerate.num > 0 && icodec->framerate.den > 0)
    srcArgs += Format(":frame_rate=%d/%d", icodec->framerate.num, icodec->framerate.den);
  int ret = ff::avfilter_graph_create_filter(&ost->input_video_filter, ff::avfilter_get_by_name("buffer"), "src",
                                             srcArgs.c_str(), nullptr, graph);
  if (ret < 0) return ret;
  ret = ff::avfilter_graph_create_filter(&ost->output_video_filter, ff::avfilter_get_by_name("buffersink"), "out",
                                         nullptr, nullptr, graph);
  if (ret < 0) return ret;
  const AVPixelFormat pix_fmts[] = {codec->pix_fmt};
  ret = ff::av_opt_set_bin(ost->output_video_filter, "pix_fmts", reinterpret_cast<const std::uint8_t*>(pix_fmts),
                           sizeof(pix_fmts), AV_OPT_SEARCH_CHILDREN);
  if (ret < 0) return ret;

  AVFilterContext* last = ost->input_video_filter;
  // -deinterlace: the library deinterlaces through its filter, ahead of
  // everything else.
  if (Fdo_deinterlace) {
    AVFilterContext* yadif = nullptr;
    ret = ff::avfilter_graph_create_filter(&yadif, ff::avfilter_get_by_name("yadif"), "deinterlace", nullptr, nullptr,
                                           graph);
    if (ret < 0) return ret;
    if ((ret = ff::avfilter_link(last, 0, yadif, 0)) < 0) return ret;
    last = yadif;
  }
  const unsigned flags = static_cast<unsigned>(ost->sws_flags);
  if (codec->width != icodec->width || codec->height != icodec->height) {
    AVFilterContext* scale = nullptr;
    const std::string args = Format("%d:%d:flags=0x%X", codec->width, codec->height, flags);
    ret = ff::avfilter_graph_create_filter(&scale, ff::avfilter_get_by_name("scale"), nullptr, args.c_str(), nullptr,
                                           graph);
    if (ret < 0) return ret;
    ret = ff::avfilter_link(last, 0, scale, 0);
    if (ret < 0) return ret;
    last = scale;
  }

  ff::av_freep(&graph->scale_sws_opts);
  graph->scale_sws_opts = ff::av_strdup(Format("flags=0x%X", flags).c_str());

  if (!ost->avfilter.empty()) {
    TInOut outputs = OpenPad("in", last);
    TInOut inputs = OpenPad("out", ost->output_video_filter);
    if (!outputs || !inputs) return AVERROR(ENOMEM);
    AVFilterInOut* in = inputs.release();
    AVFilterInOut* out = outputs.release();
    ret = ff::avfilter_graph_parse_ptr(graph, ost->avfilter.c_str(), &in, &out, nullptr);
    ff::avfilter_inout_free(&in);
    ff::avfilter_inout_free(&out);
    ost->avfilter.clear();
  } else {
    ret = ff::avfilter_link(last, 0, ost->output_video_filter, 0);
  }
  if (ret < 0) return ret;

  ret = ff::avfilter_graph_config(graph, nullptr);
  if (ret < 0) return ret;

  codec->width = ff::av_buffersink_get_w(ost->output_video_filter);
  codec->height = ff::av_buffersink_get_h(ost->output_video_filter);
  if (ost->frame_aspect_ratio != 0) {
    codec->sample_aspect_ratio =
        ff::av_d2q(static_cast<double>(ost->frame_aspect_ratio) * codec->height / codec->width, 255);
  } else {
    codec->sample_aspect_ratio = ff::av_buffersink_get_sample_aspect_ratio(ost->output_video_filter);
  }
  ost->st->sample_aspect_ratio = codec->sample_aspect_ratio;
  return 0;
}

}  // namespace engine
