#pragma once
// Owning holders of library objects: each frees its object through the
// entry tables, so every error path releases what it allocated.
#include <memory>

#include "ffbind/AVCodecStubs.h"
#include "ffbind/AVFilterStubs.h"
#include "ffbind/AVFormatStubs.h"
#include "ffbind/AVUtilStubs.h"
#include "ffbind/SwResampleStubs.h"

namespace ffbind {

// Closes an input context (also one only allocated, never opened).
struct TInputContextCloser {
  void operator()(AVFormatContext* s) const {
    if (s) ff::avformat_close_input(&s);
  }
};
using TInputContext = std::unique_ptr<AVFormatContext, TInputContextCloser>;

struct TCodecContextFree {
  void operator()(AVCodecContext* c) const { ff::avcodec_free_context(&c); }
};
using TCodecContext = std::unique_ptr<AVCodecContext, TCodecContextFree>;

struct TFrameFree {
  void operator()(AVFrame* f) const { ff::av_frame_free(&f); }
};
using TFrame = std::unique_ptr<AVFrame, TFrameFree>;

struct TPacketFree {
  void operator()(AVPacket* p) const { ff::av_packet_free(&p); }
};
using TPacket = std::unique_ptr<AVPacket, TPacketFree>;

struct TDictionaryFree {
  void operator()(AVDictionary* d) const { ff::av_dict_free(&d); }
};
using TDictionary = std::unique_ptr<AVDictionary, TDictionaryFree>;

struct TFilterGraphFree {
  void operator()(AVFilterGraph* g) const { ff::avfilter_graph_free(&g); }
};
using TFilterGraph = std::unique_ptr<AVFilterGraph, TFilterGraphFree>;

struct TBSFContextFree {
  void operator()(AVBSFContext* b) const { ff::av_bsf_free(&b); }
};
using TBSFContext = std::unique_ptr<AVBSFContext, TBSFContextFree>;

struct TSwrContextFree {
  void operator()(SwrContext* s) const { ff::swr_free(&s); }
};
using TSwrContext = std::unique_ptr<SwrContext, TSwrContextFree>;

struct TAudioFifoFree {
  void operator()(AVAudioFifo* f) const { ff::av_audio_fifo_free(f); }
};
using TAudioFifo = std::unique_ptr<AVAudioFifo, TAudioFifoFree>;

}  // namespace ffbind
