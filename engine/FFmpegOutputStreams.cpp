// Output streams: the encoder choice and every per-stream setting of the
// options context.
#include <cstdlib>
#include <cstring>

#include "engine/EngineText.h"
#include "engine/FFmpeg.h"
#include "ffbind/AVCodecStubs.h"
#include "ffbind/AVFormatStubs.h"
#include "ffbind/AVUtilStubs.h"
#include "util/FFUtils.h"
#include "util/OptionWords.h"

namespace engine {
namespace {

// "a:b" with both parts whole numbers above 0 gives a/b (else 0); other
// texts are read as a decimal number.
double ParseAspect(const std::string& text) {
  const std::size_t colon = text.find(':');
  if (colon == std::string::npos) return std::atof(text.c_str());
  char* end = nullptr;
  const long a = std::strtol(text.c_str(), &end, 10);
  if (end != text.c_str() + colon) return 0;
  const char* second = text.c_str() + colon + 1;
  const long b = std::strtol(second, &end, 10);
  if (end == second || *end || a <= 0 || b <= 0) return 0;
  return static_cast<double>(a) / static_cast<double>(b);
}

}  // namespace

void TCustomFFmpeg::choose_encoder(TOptionsContext* o, AVFormatContext* s, TOutputStream* ost) {
  std::string name;
  MatchPerStreamOpt(o->codec_names, &TSpecifierOpt::str, s, ost->st, name);
  AVCodecParameters* par = ost->st->codecpar;
  if (name.empty()) {
    par->codec_id = ff::av_guess_codec(s->oformat, nullptr, s->url, nullptr, par->codec_type);
    ost->enc = ff::avcodec_find_encoder(par->codec_id);
  } else if (name != "copy") {
    ost->enc = find_codec_or_die(name, par->codec_type, true);
    par->codec_id = ost->enc->id;
  } else {
    ost->stream_copy = 1;
  }
}

TOutputStream* TCustomFFmpeg::new_output_stream(TOptionsContext* o, AVFormatContext* oc, AVMediaType type,
                                                int source_index) {
  AVStream* st = ff::avformat_new_stream(oc, nullptr);
  if (!st) FatalError("Could not alloc stream.");
  const int idx = static_cast<int>(oc->nb_streams) - 1;
  if (idx < static_cast<int>(o->streamid_map.size())) st->id = o->streamid_map[idx];

  auto owned = std::make_unique<TOutputStream>();
  TOutputStream* ost = owned.get();
  ost->file_index = static_cast<std::int32_t>(Foutput_files.size());
  ost->index = idx;
  ost->st = st;
  ost->source_index = source_index;
  ost->last_dts = AV_NOPTS_VALUE;
  st->codecpar->codec_type = type;
  Foutput_streams.push_back(std::move(owned));

  choose_encoder(o, oc, ost);
  if (ost->enc) ost->opts.reset(ffutil::FilterCodecOptions(FOptions.codec_opts, ost->enc, oc, st));

  ost->enc_ctx.reset(ff::avcodec_alloc_context3(ost->enc));
  if (!ost->enc_ctx) FatalError("Could not alloc stream.");
  AVCodecContext* c = ost->enc_ctx.get();
  c->codec_type = type;
  c->codec_id = st->codecpar->codec_id;

  ost->max_frames = INT64_MAX;
  MatchPerStreamOpt(o->max_frames, &TSpecifierOpt::i64, oc, st, ost->max_frames);

  std::string bsfs;
  MatchPerStreamOpt(o->bitstream_filters, &TSpecifierOpt::str, oc, st, bsfs);
  for (std::size_t b = 0; !bsfs.empty() && b <= bsfs.size();) {
    const std::size_t e = std::min(bsfs.find(',', b), bsfs.size());
    const std::string name = bsfs.substr(b, e - b);
    b = e + 1;
    const AVBitStreamFilter* filter = ff::av_bsf_get_by_name(name.c_str());
    AVBSFContext* bsf = nullptr;
    if (!filter || ff::av_bsf_alloc(filter, &bsf) < 0) FatalError("Unknown bitstream filter \"%s\"", name.c_str());
    ost->bitstream_filters.emplace_back(bsf);
  }

  std::string tag;
  MatchPerStreamOpt(o->codec_tags, &TSpecifierOpt::str, oc, st, tag);
  if (!tag.empty()) c->codec_tag = st->codecpar->codec_tag = ReadCodecTag(tag);

  double qscale = -1.0;
  MatchPerStreamOpt(o->qscale, &TSpecifierOpt::dbl, oc, st, qscale);
  if (qscale >= 0 || Fsame_quant) {
    c->flags |= AV_CODEC_FLAG_QSCALE;
    c->global_quality = static_cast<int>(FF_QP2LAMBDA * qscale);
  }
  if (oc->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;

  std::int64_t sws = 0;
  if (FOptions.sws_opts && ff::av_opt_get_int(FOptions.sws_opts, "sws_flags", 0, &sws) >= 0) ost->sws_flags = sws;
  return ost;
}

TOutputStream* TCustomFFmpeg::new_video_stream(TOptionsContext* o, AVFormatContext* oc, int source_index) {
  TOutputStream* ost = new_output_stream(o, oc, AVMEDIA_TYPE_VIDEO, source_index);
  AVStream* st = ost->st;
  AVCodecContext* c = ost->enc_ctx.get();
  MatchPerStreamOpt(o->copy_initial_nonkeyframes, &TSpecifierOpt::i, oc, st, ost->copy_initial_nonkeyframes);
  if (ost->stream_copy) return ost;

  std::string text;
  MatchPerStreamOpt(o->frame_rates, &TSpecifierOpt::str, oc, st, text);
  if (!text.empty() && ff::av_parse_video_rate(&ost->frame_rate, text.c_str()) < 0)
    FatalError("Invalid framerate value: %s", text.c_str());

  text.clear();
  MatchPerStreamOpt(o->frame_sizes, &TSpecifierOpt::str, oc, st, text);
  if (!text.empty() && ff::av_parse_video_size(&c->width, &c->height, text.c_str()) < 0)
    FatalError("Invalid frame size: %s.", text.c_str());

  text.clear();
  MatchPerStreamOpt(o->frame_aspect_ratios, &TSpecifierOpt::str, oc, st, text);
  if (!text.empty()) {
    ost->frame_aspect_ratio = static_cast<float>(ParseAspect(text));
    if (ost->frame_aspect_ratio == 0) FatalError("Incorrect aspect ratio specification.");
  }

  c->bits_per_raw_sample = Fframe_bits_per_raw_sample;
  text.clear();
  MatchPerStreamOpt(o->frame_pix_fmts, &TSpecifierOpt::str, oc, st, text);
  if (!text.empty()) {
    c->pix_fmt = ff::av_get_pix_fmt(text.c_str());
    if (c->pix_fmt == AV_PIX_FMT_NONE) FatalError("Unknown pixel format requested: %s.", text.c_str());
  }
  st->sample_aspect_ratio = c->sample_aspect_ratio;
  if (Fintra_only) c->gop_size = 0;

  auto readMatrix = [&](const TSpecArray& values, std::uint16_t*& matrix, const char* what) {
    std::string m;
    MatchPerStreamOpt(values, &TSpecifierOpt::str, oc, st, m);
    if (m.empty()) return;
    matrix = static_cast<std::uint16_t*>(ff::av_mallocz(sizeof(std::uint16_t) * 64));
    if (!matrix) FatalError("Could not allocate memory for %s matrix.", what);
    const char* p = m.c_str();
    for (int i = 0; i < 64; ++i) {
      matrix[i] = static_cast<std::uint16_t>(std::atoi(p));
      if (i == 63) break;
      p = std::strchr(p, ',');
      if (!p) FatalError("Syntax error in matrix \"%s\" at coeff %d", m.c_str(), i);
      ++p;
    }
  };
  readMatrix(o->intra_matrices, c->intra_matrix, "intra");
  readMatrix(o->inter_matrices, c->inter_matrix, "inter");

  text.clear();
  MatchPerStreamOpt(o->rc_overrides, &TSpecifierOpt::str, oc, st, text);
  for (std::size_t b = 0; !text.empty() && b < text.size();) {
    const std::size_t e = std::min(text.find('/', b), text.size());
    const std::string item = text.substr(b, e - b);
    b = e + 1;
    int start = 0, end = 0, q = 0;
    if (std::sscanf(item.c_str(), "%d,%d,%d", &start, &end, &q) != 3) FatalError("error parsing rc_override");
    auto* grown = static_cast<RcOverride*>(
        ff::av_realloc(c->rc_override, sizeof(RcOverride) * (static_cast<std::size_t>(c->rc_override_count) + 1)));
    if (!grown) FatalError("error parsing rc_override");
    c->rc_override = grown;
    RcOverride& r = c->rc_override[c->rc_override_count++];
    r.start_frame = start;
    r.end_frame = end;
    r.qscale = q > 0 ? q : 0;
    r.quality_factor = q > 0 ? 1.0f : -q / 100.0f;
  }
  if (!c->rc_initial_buffer_occupancy) c->rc_initial_buffer_occupancy = c->rc_buffer_size * 3 / 4;
  c->intra_dc_precision = Fintra_dc_precision - 8;
  if (Fdo_psnr) c->flags |= AV_CODEC_FLAG_PSNR;
  if (Fdo_pass & 1) c->flags |= AV_CODEC_FLAG_PASS1;
  if (Fdo_pass & 2) c->flags |= AV_CODEC_FLAG_PASS2;

  text.clear();
  MatchPerStreamOpt(o->forced_key_frames, &TSpecifierOpt::str, oc, st, text);
  for (std::size_t b = 0; !text.empty() && b <= text.size();) {
    const std::size_t e = std::min(text.find(',', b), text.size());
    ost->forced_kf_pts.push_back(ffutil::ReadTimeOption("force_key_frames", text.substr(b, e - b), true));
    b = e + 1;
  }

  MatchPerStreamOpt(o->force_fps, &TSpecifierOpt::i, oc, st, ost->force_fps);
  ost->top_field_first = -1;
  MatchPerStreamOpt(o->top_field_first, &TSpecifierOpt::i, oc, st, ost->top_field_first);
  MatchPerStreamOpt(o->filters, &TSpecifierOpt::str, oc, st, ost->avfilter);
  return ost;
}

TOutputStream* TCustomFFmpeg::new_audio_stream(TOptionsContext* o, AVFormatContext* oc, int source_index) {
  TOutputStream* ost = new_output_stream(o, oc, AVMEDIA_TYPE_AUDIO, source_index);
  AVStream* st = ost->st;
  AVCodecContext* c = ost->enc_ctx.get();
  if (!ost->stream_copy) {
    int channels = 0;
    MatchPerStreamOpt(o->audio_channels, &TSpecifierOpt::i, oc, st, channels);
    if (channels > 0) {
      ff::av_channel_layout_uninit(&c->ch_layout);
      ff::av_channel_layout_default(&c->ch_layout, channels);
    }
    std::string fmt;
    MatchPerStreamOpt(o->sample_fmts, &TSpecifierOpt::str, oc, st, fmt);
    if (!fmt.empty()) {
      c->sample_fmt = ff::av_get_sample_fmt(fmt.c_str());
      if (c->sample_fmt == AV_SAMPLE_FMT_NONE) FatalError("Invalid sample format \"%s\"", fmt.c_str());
    }
    MatchPerStreamOpt(o->audio_sample_rate, &TSpecifierOpt::i, oc, st, c->sample_rate);
    ost->rematrix_volume = 1.0f;
    MatchPerStreamOpt(o->rematrix_volume, &TSpecifierOpt::f, oc, st, ost->rematrix_volume);
  }

  const TInputStream* ist = source_index >= 0 ? Finput_streams[source_index].get() : nullptr;
  for (const TAudioChannelMap& map : o->audio_channel_maps) {
    const bool muted = map.channel_idx == -1;
    const bool fromSource = ist && map.file_idx == ist->file_index && map.stream_idx == ist->st->index;
    if ((muted || fromSource) && (map.ofile_idx == -1 || map.ofile_idx == ost->file_index) &&
        (map.ostream_idx == -1 || map.ostream_idx == ost->index)) {
      if (ost->audio_channels_mapped >= static_cast<int>(ost->audio_channels_map.size()))
        FatalError("Max channel mapping for output %d.%d reached", ost->file_index, ost->index);
      ost->audio_channels_map[ost->audio_channels_mapped++] = map.channel_idx;
    }
  }
  return ost;
}

}  // namespace engine
