#include "tests/probe/MediaWriter.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>

#include "ffbind/Owned.h"
#include "ffbind/AVCodecStubs.h"
#include "ffbind/AVFormatStubs.h"
#include "ffbind/AVUtilStubs.h"

namespace probetest {
namespace {

void Check(int ret, const std::string& step) {
  if (ret < 0) {
    char text[AV_ERROR_MAX_STRING_SIZE] = "";
    ff::av_strerror(ret, text, sizeof text);
    throw std::runtime_error(step + ": " + text);
  }
}

struct TOutputFree {
  void operator()(AVFormatContext* oc) const {
    if (oc->pb) ff::avio_closep(&oc->pb);
    ff::avformat_free_context(oc);
  }
};
using TCodecPtr = ffbind::TCodecContext;
using TFramePtr = ffbind::TFrame;
using TPacketPtr = ffbind::TPacket;
using TOutputPtr = std::unique_ptr<AVFormatContext, TOutputFree>;

struct TTrack {
  TCodecPtr Enc;
  AVStream* St = nullptr;
};

void SetTags(AVDictionary** dict, const TTags& tags) {
  for (const auto& [key, value] : tags) Check(ff::av_dict_set(dict, key.c_str(), value.c_str(), 0), "tag " + key);
}

// What each track writes; WriteMedia keeps the defaults.
struct TTrackParams {
  int Frames = 10;
  int GopSize = 12;
  bool Flat = false;
  int SampleRate = 44100;
  int Channels = 2;
  int Ms = 400;
};

TTrack AddTrack(AVFormatContext* oc, AVCodecID id, const TTags& tags, const TTrackParams& params) {
  TTrack t;
  t.St = ff::avformat_new_stream(oc, nullptr);
  if (!t.St) throw std::runtime_error("out of memory");
  SetTags(&t.St->metadata, tags);
  if (ff::avcodec_get_type(id) == AVMEDIA_TYPE_SUBTITLE) {
    // A track without packets needs no encoder, only its parameters.
    t.St->codecpar->codec_type = AVMEDIA_TYPE_SUBTITLE;
    t.St->codecpar->codec_id = id;
    t.St->time_base = AVRational{1, 1000};
    return t;
  }
  const AVCodec* codec = ff::avcodec_find_encoder(id);
  if (!codec) throw std::runtime_error(std::string("no encoder for ") + ff::avcodec_get_name(id));
  t.Enc.reset(ff::avcodec_alloc_context3(codec));
  if (!t.Enc) throw std::runtime_error("out of memory");
  AVCodecContext* enc = t.Enc.get();
  if (codec->type == AVMEDIA_TYPE_VIDEO) {
    enc->width = 64;
    enc->height = 48;
    enc->pix_fmt = codec->pix_fmts ? codec->pix_fmts[0] : AV_PIX_FMT_YUV420P;
    enc->gop_size = params.GopSize;
    enc->time_base = AVRational{1, 25};
    enc->framerate = AVRational{25, 1};
    enc->sample_aspect_ratio = AVRational{1, 1};
    enc->bit_rate = 200000;
  } else {
    enc->sample_rate = params.SampleRate;
    enc->sample_fmt = codec->sample_fmts[0];
    ff::av_channel_layout_default(&enc->ch_layout, params.Channels);
    enc->time_base = AVRational{1, enc->sample_rate};
    enc->bit_rate = id == AV_CODEC_ID_PCM_S16LE ? 0 : 128000;
  }
  if (oc->oformat->flags & AVFMT_GLOBALHEADER) enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  // Each flat picture differs from the one before in brightness only; that
  // must not count as a scene change, or every picture becomes a key frame.
  if (params.Flat && codec->type == AVMEDIA_TYPE_VIDEO)
    ff::av_opt_set_int(enc, "sc_threshold", 1000000000, AV_OPT_SEARCH_CHILDREN);
  Check(ff::avcodec_open2(enc, codec, nullptr), "open encoder");
  Check(ff::avcodec_parameters_from_context(t.St->codecpar, enc), "stream parameters");
  t.St->time_base = enc->time_base;
  t.St->sample_aspect_ratio = enc->sample_aspect_ratio;
  return t;
}

// Sends one frame (nullptr: flush) and writes every packet that comes out.
void Encode(AVFormatContext* oc, TTrack& t, AVFrame* frame, AVPacket* pkt) {
  Check(ff::avcodec_send_frame(t.Enc.get(), frame), "encode");
  int ret;
  while ((ret = ff::avcodec_receive_packet(t.Enc.get(), pkt)) >= 0) {
    ff::av_packet_rescale_ts(pkt, t.Enc->time_base, t.St->time_base);
    pkt->stream_index = t.St->index;
    Check(ff::av_interleaved_write_frame(oc, pkt), "write packet");
  }
  if (ret != AVERROR(EAGAIN) && ret != AVERROR_EOF) Check(ret, "receive packet");
}

void WriteVideo(AVFormatContext* oc, TTrack& t, AVPacket* pkt, const TTrackParams& params) {
  const int frames = params.Frames;
  TFramePtr frame(ff::av_frame_alloc());
  frame->format = t.Enc->pix_fmt;
  frame->width = t.Enc->width;
  frame->height = t.Enc->height;
  Check(ff::av_frame_get_buffer(frame.get(), 0), "frame buffer");
  for (int n = 0; n < frames; ++n) {
    Check(ff::av_frame_make_writable(frame.get()), "writable frame");
    for (int plane = 0; plane < 3; ++plane) {
      const int w = plane ? frame->width / 2 : frame->width, h = plane ? frame->height / 2 : frame->height;
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
          frame->data[plane][y * frame->linesize[plane] + x] =
              static_cast<uint8_t>(params.Flat ? (plane ? 128 : ClipLuma(n)) : plane ? 128 + n : x + y + 3 * n);
    }
    frame->pts = n;
    Encode(oc, t, frame.get(), pkt);
  }
  Encode(oc, t, nullptr, pkt);
}

void WriteTone(AVFormatContext* oc, TTrack& t, AVPacket* pkt, const TTrackParams& params) {
  const int ms = params.Ms;
  AVCodecContext* enc = t.Enc.get();
  const int perFrame = enc->frame_size > 0 ? enc->frame_size : 1024;
  const int total = static_cast<int>(static_cast<int64_t>(enc->sample_rate) * ms / 1000);
  TFramePtr frame(ff::av_frame_alloc());
  frame->format = enc->sample_fmt;
  frame->sample_rate = enc->sample_rate;
  frame->nb_samples = perFrame;
  Check(ff::av_channel_layout_copy(&frame->ch_layout, &enc->ch_layout), "channel layout");
  Check(ff::av_frame_get_buffer(frame.get(), 0), "audio buffer");
  const int channels = enc->ch_layout.nb_channels;
  for (int done = 0; done < total; done += perFrame) {
    Check(ff::av_frame_make_writable(frame.get()), "writable audio");
    for (int i = 0; i < perFrame; ++i) {
      const double v = 0.3 * std::sin(2 * M_PI * 440.0 * (done + i) / enc->sample_rate);
      for (int c = 0; c < channels; ++c) {
        if (enc->sample_fmt == AV_SAMPLE_FMT_FLTP)
          reinterpret_cast<float*>(frame->data[c])[i] = static_cast<float>(v);
        else
          reinterpret_cast<int16_t*>(frame->data[0])[i * channels + c] = static_cast<int16_t>(v * 32767);
      }
    }
    frame->pts = done;
    Encode(oc, t, frame.get(), pkt);
  }
  Encode(oc, t, nullptr, pkt);
}

void AddChapters(AVFormatContext* oc, const std::vector<TChapterSpec>& chapters) {
  for (const TChapterSpec& spec : chapters) {
    auto* list = static_cast<AVChapter**>(ff::av_realloc(oc->chapters, (oc->nb_chapters + 1) * sizeof(AVChapter*)));
    if (!list) throw std::runtime_error("out of memory");
    oc->chapters = list;
    auto* ch = static_cast<AVChapter*>(ff::av_mallocz(sizeof(AVChapter)));
    if (!ch) throw std::runtime_error("out of memory");
    ch->id = oc->nb_chapters + 1;
    ch->time_base = AVRational{1, 1000};
    ch->start = spec.StartMs;
    ch->end = spec.EndMs;
    oc->chapters[oc->nb_chapters++] = ch;
    SetTags(&ch->metadata, {{"title", spec.Title}});
  }
}

TOutputPtr CreateOutput(const std::string& path, const std::string& format) {
  AVFormatContext* raw = nullptr;
  Check(ff::avformat_alloc_output_context2(&raw, nullptr, format.c_str(), path.c_str()), "output " + format);
  TOutputPtr oc(raw);
  // Keeps the library's version out of the written tags.
  oc->flags |= AVFMT_FLAG_BITEXACT;
  return oc;
}

void WriteTracks(AVFormatContext* oc, const std::string& path, std::vector<TTrack>& tracks,
                 const TTrackParams& params) {
  Check(ff::avio_open(&oc->pb, path.c_str(), AVIO_FLAG_WRITE), "create " + path);
  Check(ff::avformat_write_header(oc, nullptr), "write header");
  TPacketPtr pkt(ff::av_packet_alloc());
  for (TTrack& t : tracks) {
    if (!t.Enc) continue;
    if (t.Enc->codec_type == AVMEDIA_TYPE_VIDEO)
      WriteVideo(oc, t, pkt.get(), params);
    else
      WriteTone(oc, t, pkt.get(), params);
  }
  Check(ff::av_write_trailer(oc), "write trailer");
}

}  // namespace

int ClipLuma(int n) { return 20 + 4 * (n % 50); }

void WriteMedia(const std::string& path, const TMediaSpec& spec) {
  TOutputPtr oc = CreateOutput(path, spec.Format);
  const TTrackParams params;
  std::vector<TTrack> tracks;
  for (const TTrackSpec& track : spec.Tracks)
    tracks.push_back(AddTrack(oc.get(), track.Codec, track.Metadata, params));
  SetTags(&oc->metadata, spec.Metadata);
  AddChapters(oc.get(), spec.Chapters);
  WriteTracks(oc.get(), path, tracks, params);
}

void WriteClip(const std::string& path, const TClipSpec& spec) {
  TOutputPtr oc = CreateOutput(path, spec.Format);
  const TTrackParams params{spec.Frames, spec.GopSize, true, spec.SampleRate, spec.Channels, spec.Ms};
  std::vector<TTrack> tracks;
  tracks.push_back(AddTrack(oc.get(), spec.Codec, {}, params));
  WriteTracks(oc.get(), path, tracks, params);
}

TTempDir::TTempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "probe-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot create a temporary folder");
  FPath = pattern;
}

TTempDir::~TTempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(FPath, ignored);
}

}  // namespace probetest
