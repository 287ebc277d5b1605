// Transcode initialisation: encoder settings from the sources, format
// negotiation, filter graphs, two-pass files, opening encoders and
// decoders, headers and the stream mapping log.
#include <cmath>
#include <cstring>

#include "engine/EngineText.h"
#include "engine/FFmpeg.h"
#include "ffbind/AVCodecStubs.h"
#include "ffbind/AVFormatStubs.h"
#include "ffbind/AVUtilStubs.h"
#include "util/FFUtils.h"

namespace engine {

int TCustomFFmpeg::transcode_init() {
  for (TInputFile& f : Finput_files)
    if (f.rate_emu)
      for (int i = 0; i < f.nb_streams; ++i) Finput_streams[f.ist_index + i]->start = ff::av_gettime();

  for (std::size_t i = 0; i < Foutput_files.size(); ++i) {
    AVFormatContext* oc = Foutput_files[i].ctx.get();
    if (!oc->nb_streams && !(oc->oformat->flags & AVFMT_NOSTREAMS)) {
      ff::av_dump_format(oc, static_cast<int>(i), oc->url, 1);
      FLastErrMsg = Format("Output file #%d does not contain any stream", static_cast<int>(i));
      Log(fflog::llError, FLastErrMsg);
      return AVERROR(EINVAL);
    }
  }

  for (auto& o : Foutput_streams) {
    TOutputStream* ost = o.get();
    if (!ost->attachment_filename.empty()) continue;
    TInputStream* ist = Finput_streams[ost->source_index].get();
    AVCodecContext* codec = ost->enc_ctx.get();
    ost->st->disposition = ist->st->disposition;
    codec->bits_per_raw_sample = ist->dec->bits_per_raw_sample;
    codec->chroma_sample_location = ist->dec->chroma_sample_location;

    int ret = ost->stream_copy ? setup_stream_copy(ost, ist) : setup_encoder(ost, ist);
    if (ret < 0) return ret;
    if (!ost->stream_copy) {
      std::string err;
      ret = setup_two_pass(ost, err);
      if (ret < 0) {
        FLastErrMsg = err;
        Log(fflog::llError, err);
        return ret;
      }
    }
  }

  std::string error;
  int ret = 0;
  for (auto& o : Foutput_streams) {
    TOutputStream* ost = o.get();
    if (!ost->encoding_needed) continue;
    const std::string type = ffutil::MediaTypeName(ost->enc_ctx->codec_type);
    if (!ost->enc) {
      error = Format("Encoder (codec %s) not found for output stream #%d:%d (%s)",
                     ff::avcodec_get_name(ost->enc_ctx->codec_id), ost->file_index, ost->index, type.c_str());
      ret = AVERROR(EINVAL);
      break;
    }
    TInputStream* ist = Finput_streams[ost->source_index].get();
    // A subtitle encoder takes the style header that its decoder makes
    // when it opens: that decoder opens first.
    if (ost->enc_ctx->codec_type == AVMEDIA_TYPE_SUBTITLE && (ret = open_input_decoder(ist, error)) < 0) break;
    if (ist->dec->subtitle_header) {
      ost->enc_ctx->subtitle_header = static_cast<std::uint8_t*>(ff::av_mallocz(ist->dec->subtitle_header_size + 1));
      if (!ost->enc_ctx->subtitle_header) {
        error = "av_malloc failed";
        ret = AVERROR(ENOMEM);
        break;
      }
      std::memcpy(ost->enc_ctx->subtitle_header, ist->dec->subtitle_header, ist->dec->subtitle_header_size);
      ost->enc_ctx->subtitle_header_size = ist->dec->subtitle_header_size;
    }
    {
      TDictionaryRef opts(ost->opts);
      if (ff::avcodec_open2(ost->enc_ctx.get(), ost->enc, &opts) < 0) {
        error = Format(
            "Error while opening encoder for output stream #%d:%d (%s) - maybe incorrect parameters such as bit_rate, "
            "rate, width or height. Please check error log message(reported by FFLogger) to find out more detail "
            "information.",
            ost->file_index, ost->index, type.c_str());
        ret = AVERROR(EINVAL);
        break;
      }
    }
    FEncoderList.Add(ost);
    check_experimental_codec(ost->enc_ctx.get(), true);
    check_leftover_options(ost->opts.get());
    if (ost->enc_ctx->bit_rate && ost->enc_ctx->bit_rate < 1000)
      Log(fflog::llWarning, "The bitrate parameter is set too low. It takes bits/s as argument, not kbits/s");
    Fextra_size += ost->enc_ctx->extradata_size;
    if ((ret = publish_stream_parameters(ost)) < 0) {
      error = ffutil::ErrorText("Could not set the parameters of output stream", ret);
      break;
    }
  }

  if (!ret)
    for (auto& ist : Finput_streams)
      if ((ret = open_input_decoder(ist.get(), error)) < 0) break;

  if (!ret)
    for (TInputFile& f : Finput_files) {
      AVFormatContext* ic = f.ctx.get();
      for (unsigned p = 0; p < ic->nb_programs; ++p) {
        AVProgram* program = ic->programs[p];
        program->discard = AVDISCARD_ALL;
        for (unsigned k = 0; k < program->nb_stream_indexes; ++k)
          if (!Finput_streams[f.ist_index + program->stream_index[k]]->discard) {
            program->discard = AVDISCARD_DEFAULT;
            break;
          }
      }
    }

  bool want_sdp = true;
  if (!ret)
    for (std::size_t i = 0; i < Foutput_files.size(); ++i) {
      AVFormatContext* oc = Foutput_files[i].ctx.get();
      oc->interrupt_callback = FWriteCallback;
      FLastWrite = ff::av_gettime();
      TDictionaryRef opts(Foutput_files[i].opts);
      if (ff::avformat_write_header(oc, &opts) < 0) {
        error = Format("Could not write header for output file #%d (incorrect codec parameters ?)", static_cast<int>(i));
        ret = AVERROR(EINVAL);
        break;
      }
      if (std::strcmp(oc->oformat->name, "rtp") != 0) want_sdp = false;
    }

  dump_stream_mapping();
  if (ret < 0) {
    // The reason goes into the error text too: the user sees nothing else.
    FLastErrMsg = error;
    Log(fflog::llError, error);
    return ret;
  }
  if (want_sdp) log_sdp();
  return 0;
}

int TCustomFFmpeg::publish_stream_parameters(TOutputStream* ost) {
  int ret = ff::avcodec_parameters_from_context(ost->st->codecpar, ost->enc_ctx.get());
  if (ret < 0) return ret;
  // A muxer may still replace the time base when the header is written.
  ost->st->time_base = ost->enc_ctx->time_base;
  return init_bitstream_filters(ost);
}

int TCustomFFmpeg::init_bitstream_filters(TOutputStream* ost) {
  int ret = 0;
  const AVCodecParameters* in = ost->st->codecpar;
  AVRational tb = ost->st->time_base;
  for (TBSFContext& b : ost->bitstream_filters) {
    if ((ret = ff::avcodec_parameters_copy(b->par_in, in)) < 0) return ret;
    b->time_base_in = tb;
    if ((ret = ff::av_bsf_init(b.get())) < 0) return ret;
    in = b->par_out;
    tb = b->time_base_out;
  }
  if (in != ost->st->codecpar) {
    if ((ret = ff::avcodec_parameters_copy(ost->st->codecpar, in)) < 0) return ret;
    ost->st->time_base = tb;
  }
  return 0;
}

int TCustomFFmpeg::setup_encoder(TOutputStream* ost, TInputStream* ist) {
  AVCodecContext* codec = ost->enc_ctx.get();
  const AVCodecContext* icodec = ist->dec.get();
  if (!ost->enc) ost->enc = ff::avcodec_find_encoder(codec->codec_id);
  ist->decoding_needed = 1;
  ost->encoding_needed = 1;

  switch (codec->codec_type) {
    case AVMEDIA_TYPE_AUDIO: {
      if (!codec->sample_rate) codec->sample_rate = icodec->sample_rate;
      pick_sample_rate(ost->enc, codec);
      codec->time_base = AVRational{1, codec->sample_rate};
      if (codec->sample_fmt == AV_SAMPLE_FMT_NONE) codec->sample_fmt = icodec->sample_fmt;
      pick_sample_format(ost->enc, codec);
      if (ost->audio_channels_mapped) {
        if (!codec->ch_layout.nb_channels) ff::av_channel_layout_default(&codec->ch_layout, ost->audio_channels_mapped);
        if (!codec->ch_layout.nb_channels) {
          FLastErrMsg = "Unable to find an appropriate channel layout for requested number of channel";
          Log(fflog::llError, FLastErrMsg);
          return -1;
        }
        for (std::size_t i = ost->audio_channels_mapped; i < ost->audio_channels_map.size(); ++i)
          ost->audio_channels_map[i] = -1;
      } else if (!codec->ch_layout.nb_channels) {
        ff::av_channel_layout_copy(&codec->ch_layout, &icodec->ch_layout);
      }
      // Encoders want named channels; a file that only gives a count (a
      // plain WAV file) gets the usual layout for that count.
      if (codec->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
        const int channels = codec->ch_layout.nb_channels;
        ff::av_channel_layout_uninit(&codec->ch_layout);
        ff::av_channel_layout_default(&codec->ch_layout, channels);
      }
      pick_channel_layout(ost->enc, codec);
      ost->audio_resample = codec->sample_rate != icodec->sample_rate || codec->sample_fmt != icodec->sample_fmt ||
                            ff::av_channel_layout_compare(&codec->ch_layout, &icodec->ch_layout) != 0 ||
                            Faudio_sync_method > 1;
      ost->resample_sample_fmt = icodec->sample_fmt;
      ost->resample_sample_rate = icodec->sample_rate;
      ost->resample_channels = icodec->ch_layout.nb_channels;
      return 0;
    }
    case AVMEDIA_TYPE_VIDEO: {
      if (codec->pix_fmt == AV_PIX_FMT_NONE) codec->pix_fmt = icodec->pix_fmt;
      pick_pixel_format(ost->enc, codec);
      if (codec->pix_fmt == AV_PIX_FMT_NONE) {
        FLastErrMsg = "Video pixel format is unknown, stream cannot be encoded";
        Log(fflog::llError, FLastErrMsg);
        return -1;
      }
      if (!codec->width || !codec->height) {
        codec->width = icodec->width;
        codec->height = icodec->height;
      }
      ost->video_resample =
          codec->width != icodec->width || codec->height != icodec->height || codec->pix_fmt != icodec->pix_fmt;
      if (ost->video_resample) codec->bits_per_raw_sample = Fframe_bits_per_raw_sample;
      ost->resample_height = icodec->height;
      ost->resample_width = icodec->width;
      ost->resample_pix_fmt = icodec->pix_fmt;

      if (!ost->frame_rate.num) ost->frame_rate = ist->st->r_frame_rate.num ? ist->st->r_frame_rate : AVRational{25, 1};
      if (ost->enc && ost->enc->supported_framerates && !ost->force_fps)
        ost->frame_rate = ost->enc->supported_framerates[ff::av_find_nearest_q_idx(ost->frame_rate,
                                                                                   ost->enc->supported_framerates)];
      codec->time_base = AVRational{ost->frame_rate.den, ost->frame_rate.num};
      codec->framerate = ost->frame_rate;

      const AVFormatContext* oc = Foutput_files[ost->file_index].ctx.get();
      if (av_q2d(codec->time_base) < 0.001 && Fvideo_sync_method &&
          (Fvideo_sync_method == 1 || (Fvideo_sync_method < 0 && !(oc->oformat->flags & AVFMT_VARIABLE_FPS)))) {
        ff::av_log(const_cast<AVFormatContext*>(oc), AV_LOG_WARNING,
                   "Frame rate very high for a muxer not effciciently supporting it.\n"
                   "Please consider specifiying a lower framerate, a different muxer or -vsync 2\n");
      }
      for (std::int64_t& t : ost->forced_kf_pts) t = ff::av_rescale_q(t, AV_TIME_BASE_Q, codec->time_base);

      FLastErrMsg.clear();
      int ret = setup_video_filters(ist, ost);
      if (ret < 0) {
        const std::string detail = FLastErrMsg;
        FLastErrMsg = detail.empty() ? ffutil::ErrorText("Error opening filters", ret) : "Error opening filters: " + detail;
        Log(fflog::llError, FLastErrMsg);
        return ret;
      }
      return 0;
    }
    case AVMEDIA_TYPE_SUBTITLE:
      // Subtitles are stamped in microseconds; picture subtitles keep the
      // size of the pictures they were made for.
      codec->time_base = AV_TIME_BASE_Q;
      if (!codec->width) {
        codec->width = icodec->width;
        codec->height = icodec->height;
      }
      return 0;
    default:
      FLastErrMsg = "invalid codec_type of output stream";
      Log(fflog::llError, FLastErrMsg);
      return -1;
  }
}

int TCustomFFmpeg::setup_two_pass(TOutputStream* ost, std::string& err) {
  AVCodecContext* codec = ost->enc_ctx.get();
  if (codec->codec_id == AV_CODEC_ID_H264 || !(codec->flags & (AV_CODEC_FLAG_PASS1 | AV_CODEC_FLAG_PASS2))) return 0;
  std::string name = (Fpass_logfilename_prefix.empty() ? std::string("ffencoder2pass") : Fpass_logfilename_prefix) +
                     "-" + std::to_string(IndexOfOutputStream(ost)) + ".log";
  if (name.size() > 1023) name.resize(1023);
  if (codec->flags & AV_CODEC_FLAG_PASS2) {
    std::vector<char> data;
    const int r = ffutil::ReadWholeFile(name, data);
    if (r == AVERROR(ENOMEM)) {
      err = Format("Could not allocate file buffer: Error reading log file \"%s\" for pass-2 encoding", name.c_str());
      return AVERROR(ENOMEM);
    }
    if (r != 0) {
      err = Format("Error reading log file \"%s\" for pass-2 encoding", name.c_str());
      return -1;
    }
    ost->stats_in.assign(data.data());
    codec->stats_in = ost->stats_in.data();
  }
  if (codec->flags & AV_CODEC_FLAG_PASS1) {
    ost->logfile.reset(std::fopen(name.c_str(), "wb"));
    if (!ost->logfile) {
      err = Format("Cannot write log file %s for pass-1 encoding", name.c_str());
      return -1;
    }
  }
  return 0;
}

int TCustomFFmpeg::IndexOfOutputStream(const TOutputStream* ost) const {
  for (std::size_t i = 0; i < Foutput_streams.size(); ++i)
    if (Foutput_streams[i].get() == ost) return static_cast<int>(i);
  return -1;
}

int TCustomFFmpeg::open_input_decoder(TInputStream* ist, std::string& err) {
  const int index = ist->st->index;
  if (ist->decoding_needed && !ff::avcodec_is_open(ist->dec.get())) {
    if (!ist->avdec) {
      err = Format("Decoder (codec %s) not found for input stream #%d:%d",
                   ff::avcodec_get_name(ist->st->codecpar->codec_id), ist->file_index, index);
      return AVERROR(EINVAL);
    }
    TDictionaryRef opts(ist->opts);
    if (ff::avcodec_open2(ist->dec.get(), ist->avdec, &opts) < 0) {
      err = Format("Error while opening decoder for input stream #%d:%d", ist->file_index, index);
      return AVERROR(EINVAL);
    }
    FDecoderList.Add(ist);
    check_experimental_codec(ist->dec.get(), false);
    check_leftover_options(ist->opts.get());
  }
  const AVRational rate = ist->st->avg_frame_rate;
  ist->pts = rate.num && rate.den ? -std::llround(1000000.0 * ist->dec->has_b_frames / av_q2d(rate)) : 0;
  ist->next_pts = AV_NOPTS_VALUE;
  ist->is_start = 1;
  return 0;
}

void TCustomFFmpeg::dump_stream_mapping() {
  for (std::size_t i = 0; i < Foutput_files.size(); ++i)
    ff::av_dump_format(Foutput_files[i].ctx.get(), static_cast<int>(i), Foutput_files[i].ctx->url, 1);
  Log(fflog::llInfo, "Stream mapping:");
  for (auto& o : Foutput_streams) {
    const TOutputStream* ost = o.get();
    if (!ost->attachment_filename.empty()) {
      Log(fflog::llInfo, Format("  File %s -> Stream #%d:%d", ost->attachment_filename.c_str(), ost->file_index,
                                ost->index));
      continue;
    }
    const TInputStream* ist = Finput_streams[ost->source_index].get();
    std::string line = Format("  Stream #%d:%d -> #%d:%d", ist->file_index, ist->st->index, ost->file_index, ost->index);
    if (ost->audio_channels_mapped > 0) {
      line += " [ch:";
      for (int i = 0; i < ost->audio_channels_mapped; ++i)
        line += ost->audio_channels_map[i] == -1 ? std::string(" M") : Format(" %d", ost->audio_channels_map[i]);
      line += "]";
    }
    if (ost->sync_ist && ost->sync_ist != ist)
      line += Format(" [sync #%d:%d]", ost->sync_ist->file_index, ost->sync_ist->st->index);
    if (ost->stream_copy) {
      line += " (copy)";
    } else {
      line += ist->dec->codec ? Format(" (%s", ist->dec->codec->name) : std::string(" (?");
      line += ost->enc ? Format(" -> %s)", ost->enc->name) : std::string(" -> ?)");
    }
    line += " (" + ffutil::MediaTypeName(ost->enc_ctx->codec_type) + ")";
    Log(fflog::llInfo, line);
  }
}

void TCustomFFmpeg::log_sdp() {
  std::vector<AVFormatContext*> contexts;
  for (TOutputFile& f : Foutput_files) contexts.push_back(f.ctx.get());
  std::vector<char> sdp(2048, 0);
  ff::av_sdp_create(contexts.data(), static_cast<int>(contexts.size()), sdp.data(), static_cast<int>(sdp.size()));
  std::string text(sdp.data());
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
  Log(fflog::llInfo, "SDP:\r\n" + text);
}

}  // namespace engine
