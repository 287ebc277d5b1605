#include "engine/Records.h"

#include <sys/stat.h>
#include <unistd.h>

#include "ffbind/AVCodecStubs.h"
#include "ffbind/AVFilterStubs.h"
#include "ffbind/AVFormatStubs.h"
#include "ffbind/AVUtilStubs.h"
#include "ffbind/SwResampleStubs.h"

namespace engine {

void TInputContextCloser::operator()(AVFormatContext* s) const {
  if (s) ff::avformat_close_input(&s);
}

void TOutputContextCloser::operator()(AVFormatContext* s) const {
  if (!s) return;
  if (s->oformat && !(s->oformat->flags & AVFMT_NOFILE)) {
    if (s->pb) ff::avio_closep(&s->pb);
    struct stat info {};
    if (s->url && ::stat(s->url, &info) == 0 && S_ISREG(info.st_mode) && info.st_size == 0) ::unlink(s->url);
  }
  ff::avformat_free_context(s);
}

void TCodecContextFree::operator()(AVCodecContext* c) const { ff::avcodec_free_context(&c); }

void TFrameFree::operator()(AVFrame* f) const { ff::av_frame_free(&f); }

void TPacketFree::operator()(AVPacket* p) const { ff::av_packet_free(&p); }

void TDictionaryFree::operator()(AVDictionary* d) const { ff::av_dict_free(&d); }

void TFilterGraphFree::operator()(AVFilterGraph* g) const { ff::avfilter_graph_free(&g); }

void TSwrContextFree::operator()(SwrContext* s) const { ff::swr_free(&s); }

void TAudioFifoFree::operator()(AVAudioFifo* f) const { ff::av_audio_fifo_free(f); }

void TBSFContextFree::operator()(AVBSFContext* b) const { ff::av_bsf_free(&b); }

}  // namespace engine
