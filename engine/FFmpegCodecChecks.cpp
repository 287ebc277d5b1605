// Encoder format negotiation and the checks run after a codec opens.
#include <cstdlib>

#include "engine/EngineText.h"
#include "engine/FFmpeg.h"
#include "ffbind/AVCodecStubs.h"
#include "ffbind/AVUtilStubs.h"

namespace engine {

void TCustomFFmpeg::pick_sample_rate(const AVCodec* codec, AVCodecContext* enc) {
  if (!codec || !codec->supported_samplerates) return;
  const int* p = codec->supported_samplerates;
  int best = *p, best_dist = INT32_MAX;
  for (; *p; ++p) {
    const int dist = std::abs(enc->sample_rate - *p);
    if (dist < best_dist) {
      best_dist = dist;
      best = *p;
    }
  }
  if (best_dist)
    Log(fflog::llWarning, Format("Requested sampling rate unsupported using closest supported (%d)", best));
  enc->sample_rate = best;
}

void TCustomFFmpeg::pick_sample_format(const AVCodec* codec, AVCodecContext* enc) {
  if (!codec || !codec->sample_fmts) return;
  for (const AVSampleFormat* p = codec->sample_fmts; *p != AV_SAMPLE_FMT_NONE; ++p)
    if (*p == enc->sample_fmt) return;
  const AVSampleFormat first = codec->sample_fmts[0];
  if ((codec->capabilities & AV_CODEC_CAP_LOSSLESS) &&
      ff::av_get_bytes_per_sample(enc->sample_fmt) > ff::av_get_bytes_per_sample(first))
    Log(fflog::llError, "Conversion will not be lossless.");
  if (const char* name = ff::av_get_sample_fmt_name(enc->sample_fmt))
    Log(fflog::llWarning, Format("Incompatible sample format \"%s\" for codec \"%s\", auto-selecting format \"%s\"",
                                 name, codec->name, ff::av_get_sample_fmt_name(first)));
  enc->sample_fmt = first;
}

void TCustomFFmpeg::pick_channel_layout(const AVCodec* codec, AVCodecContext* enc) {
  if (!codec || !codec->ch_layouts) return;
  // A listed layout as it is, else one with the same count, else the
  // largest that is not larger (a 5.1 film sound into a stereo codec).
  const AVChannelLayout* best = nullptr;
  for (const AVChannelLayout* l = codec->ch_layouts; l->nb_channels; ++l) {
    if (!ff::av_channel_layout_compare(l, &enc->ch_layout)) return;
    const int n = l->nb_channels, want = enc->ch_layout.nb_channels;
    if (!best || (n == want && best->nb_channels != want) ||
        (best->nb_channels != want && n < want && (best->nb_channels > want || n > best->nb_channels)))
      best = l;
  }
  char from[64] = "", to[64] = "";
  ff::av_channel_layout_describe(&enc->ch_layout, from, sizeof from);
  ff::av_channel_layout_describe(best, to, sizeof to);
  Log(fflog::llWarning, Format("Incompatible channel layout \"%s\" for codec \"%s\", auto-selecting layout \"%s\"",
                               from, codec->name, to));
  ff::av_channel_layout_uninit(&enc->ch_layout);
  ff::av_channel_layout_copy(&enc->ch_layout, best);
}

void TCustomFFmpeg::pick_pixel_format(const AVCodec* codec, AVCodecContext* enc) {
  if (!codec || !codec->pix_fmts) return;
  static const AVPixelFormat kMjpeg[] = {AV_PIX_FMT_YUVJ420P, AV_PIX_FMT_YUVJ422P, AV_PIX_FMT_YUV420P,
                                         AV_PIX_FMT_YUV422P, AV_PIX_FMT_NONE};
  static const AVPixelFormat kLjpeg[] = {AV_PIX_FMT_YUVJ420P, AV_PIX_FMT_YUVJ422P, AV_PIX_FMT_YUVJ444P,
                                         AV_PIX_FMT_YUV420P,  AV_PIX_FMT_YUV422P,  AV_PIX_FMT_YUV444P,
                                         AV_PIX_FMT_BGRA,     AV_PIX_FMT_NONE};
  const AVPixelFormat* list = codec->pix_fmts;
  if (enc->strict_std_compliance < FF_COMPLIANCE_NORMAL) {
    if (enc->codec_id == AV_CODEC_ID_MJPEG) list = kMjpeg;
    else if (enc->codec_id == AV_CODEC_ID_LJPEG) list = kLjpeg;
  }
  for (const AVPixelFormat* p = list; *p != AV_PIX_FMT_NONE; ++p)
    if (*p == enc->pix_fmt) return;
  const AVPixFmtDescriptor* desc = ff::av_pix_fmt_desc_get(enc->pix_fmt);
  const int alpha = desc && desc->nb_components % 2 == 0;
  const AVPixelFormat best = ff::avcodec_find_best_pix_fmt_of_list(list, enc->pix_fmt, alpha, nullptr);
  if (enc->pix_fmt != AV_PIX_FMT_NONE)
    Log(fflog::llWarning, Format("Incompatible pixel format \"%s\" for codec \"%s\", auto-selecting format \"%s\"",
                                 ff::av_get_pix_fmt_name(enc->pix_fmt), codec->name, ff::av_get_pix_fmt_name(best)));
  enc->pix_fmt = best;
}

void TCustomFFmpeg::check_experimental_codec(const AVCodecContext* ctx, bool encoder) {
  const AVCodec* codec = ctx->codec;
  if (!codec || !(codec->capabilities & AV_CODEC_CAP_EXPERIMENTAL) ||
      ctx->strict_std_compliance <= FF_COMPLIANCE_EXPERIMENTAL)
    return;
  const char* side = encoder ? "encoder" : "decoder";
  std::string text = Format("%s \"%s\" is experimental and might produce bad results.\r\nAdd \"-strict experimental\" "
                            "if you want to use it.",
                            side, codec->name);
  const AVCodec* other = encoder ? ff::avcodec_find_encoder(codec->id) : ff::avcodec_find_decoder(codec->id);
  if (other && !(other->capabilities & AV_CODEC_CAP_EXPERIMENTAL))
    text += Format("\r\nOr use the non experimental %s \"%s\"", side, other->name);
  FatalError(text);
}

void TCustomFFmpeg::check_leftover_options(const AVDictionary* opts) {
  const AVDictionaryEntry* t = ff::av_dict_get(opts, "", nullptr, AV_DICT_IGNORE_SUFFIX);
  if (!t) return;
  if (HaltOnInvalidOption) FatalError("Option %s not found.", t->key);
  FLastErrMsg = Format("Option %s not found.", t->key);
}

}  // namespace engine
