// Opening inputs: the demuxer, its options, stream probing, the start
// seek, one record per file and per stream, attachment dumps.
#include "engine/EngineText.h"
#include "engine/FFmpeg.h"
#include "ffbind/AVCodecStubs.h"
#include "ffbind/AVFormatStubs.h"
#include "ffbind/AVUtilStubs.h"
#include "util/FFUtils.h"
#include "util/FormatRegistry.h"

namespace engine {
namespace {

// Longest file name the libraries are given (the name is never cut).
constexpr std::size_t kMaxFileNameBytes = 2048;

void SetDictInt(AVDictionary** d, const char* key, int value) {
  ff::av_dict_set(d, key, Format("%d", value).c_str(), 0);
}

}  // namespace

const AVCodec* TCustomFFmpeg::find_codec_or_die(const std::string& name, AVMediaType type, bool encoder) {
  const char* side = encoder ? "encoder" : "decoder";
  const AVCodec* codec =
      encoder ? ff::avcodec_find_encoder_by_name(name.c_str()) : ff::avcodec_find_decoder_by_name(name.c_str());
  if (!codec) FatalError("Unknown %s '%s'", side, name.c_str());
  if (codec->type != type) FatalError("Invalid %s type '%s'", side, name.c_str());
  return codec;
}

const AVCodec* TCustomFFmpeg::choose_decoder(TOptionsContext* o, AVFormatContext* s, AVStream* st) {
  std::string name;
  MatchPerStreamOpt(o->codec_names, &TSpecifierOpt::str, s, st, name);
  if (!name.empty()) {
    const AVCodec* codec = find_codec_or_die(name, st->codecpar->codec_type, false);
    st->codecpar->codec_id = codec->id;
    return codec;
  }
  return ff::avcodec_find_decoder(st->codecpar->codec_id);
}

int TCustomFFmpeg::OpenInput(TOptionsContext* o, const std::string& fileName) {
  if (!o) o = &optctx;
  if (fileName.size() >= kMaxFileNameBytes) {
    FLastErrMsg = ffutil::ErrorText(fileName, AVERROR(ENAMETOOLONG));
    Log(fflog::llFatal, FLastErrMsg);
    return AVERROR(ENAMETOOLONG);
  }

  const AVInputFormat* file_iformat = nullptr;
  if (!o->format.empty()) {
    file_iformat = ffutil::FindInputFormat(o->format);
    if (!file_iformat) {
      FLastErrMsg = Format("Unknown input format: \"%s\"", o->format.c_str());
      Log(fflog::llFatal, FLastErrMsg);
      return AVERROR(EINVAL);
    }
  }

  AVFormatContext* ic = ff::avformat_alloc_context();
  if (!ic) {
    FLastErrMsg = "avformat_alloc_context() failed";
    Log(fflog::llFatal, FLastErrMsg);
    return AVERROR(ENOMEM);
  }
  // Until the demuxer has opened, the plain context is freed on every way
  // out; from then on the input closer owns it.
  struct TPlainContext {
    AVFormatContext* s;
    ~TPlainContext() { ff::avformat_free_context(s); }
  } plain{ic};

  AVDictionary** format_opts = &FOptions.format_opts;
  if (!o->audio_sample_rate.empty()) SetDictInt(format_opts, "sample_rate", o->audio_sample_rate.back().i);
  if (!o->audio_channels.empty()) SetDictInt(format_opts, "channels", o->audio_channels.back().i);
  if (!o->frame_rates.empty()) ff::av_dict_set(format_opts, "framerate", o->frame_rates.back().str.c_str(), 0);
  if (!o->frame_sizes.empty()) ff::av_dict_set(format_opts, "video_size", o->frame_sizes.back().str.c_str(), 0);
  if (!o->frame_pix_fmts.empty())
    ff::av_dict_set(format_opts, "pixel_format", o->frame_pix_fmts.back().str.c_str(), 0);

  ic->video_codec_id = Fvideo_codec_name.empty() ? AV_CODEC_ID_NONE
                                                 : find_codec_or_die(Fvideo_codec_name, AVMEDIA_TYPE_VIDEO, false)->id;
  ic->audio_codec_id = Faudio_codec_name.empty() ? AV_CODEC_ID_NONE
                                                 : find_codec_or_die(Faudio_codec_name, AVMEDIA_TYPE_AUDIO, false)->id;
  ic->subtitle_codec_id = Fsubtitle_codec_name.empty()
                              ? AV_CODEC_ID_NONE
                              : find_codec_or_die(Fsubtitle_codec_name, AVMEDIA_TYPE_SUBTITLE, false)->id;
  ic->flags |= AVFMT_FLAG_NONBLOCK;
  ic->interrupt_callback = FReadCallback;
  // The demuxers of this library generation have no loop field; looping
  // is the image sequence demuxer's own "-loop" option.
  if (Floop_input)
    Log(fflog::llWarning, "-loop_input is deprecated, use -loop 1\r\nNote, both loop options only work with -f image2");

  FLastRead = ff::av_gettime();
  plain.s = nullptr;
  int err = ff::avformat_open_input(&ic, fileName.c_str(), file_iformat, format_opts);
  if (err < 0) {  // the library has freed the context
    FLastErrMsg = ffutil::ErrorText(fileName, err);
    Log(fflog::llFatal, FLastErrMsg);
    return err;
  }
  TInputContext input(ic);

  if (const AVDictionaryEntry* t = ff::av_dict_get(*format_opts, "", nullptr, AV_DICT_IGNORE_SUFFIX)) {
    if (HaltOnInvalidOption) FatalError("Option %s not found.", t->key);
    FLastErrMsg = Format("Option %s not found.", t->key);
  }

  // Forced decoders fix the codec ids before the streams are probed.
  for (unsigned i = 0; i < ic->nb_streams; ++i) choose_decoder(o, ic, ic->streams[i]);

  {
    ffutil::TStreamInfoOptions probeOpts = ffutil::SetupFindStreamInfoOptions(ic, FOptions.codec_opts);
    if (FOnBeforeFindStreamInfo) FOnBeforeFindStreamInfo(this, ic);
    FLastRead = ff::av_gettime();
    err = ff::avformat_find_stream_info(ic, probeOpts.Data());
    if (err < 0) {
      FLastErrMsg = Format("%s: could not find codec parameters", fileName.c_str());
      Log(fflog::llFatal, FLastErrMsg);
      return err;
    }
  }

  std::int64_t timestamp = o->start_time;
  if (ic->start_time != AV_NOPTS_VALUE) timestamp += ic->start_time;

  if (o->start_time != 0) {
    FLastRead = ff::av_gettime();
    int r = ic->iformat->read_seek2 ? ff::avformat_seek_file(ic, -1, INT64_MIN, timestamp, INT64_MAX, 0)
                                    : ff::av_seek_frame(ic, -1, timestamp, AVSEEK_FLAG_BACKWARD);
    if (r < 0)
      Log(fflog::llWarning, Format("%s: could not seek to position %0.3f", fileName.c_str(), timestamp / 1000000.0));
  }

  // A fatal option inside leaves no stream records behind that would
  // outlive the context closed on the way out.
  const std::size_t firstStream = Finput_streams.size();
  try {
    add_input_streams(o, ic);
  } catch (...) {
    Finput_streams.resize(firstStream);
    throw;
  }
  ff::av_dump_format(ic, static_cast<int>(Finput_files.size()), fileName.c_str(), 0);

  if (ic->duration != AV_NOPTS_VALUE && ic->duration - o->start_time > FInputDuration)
    FInputDuration = ic->duration - o->start_time;

  TInputFile f;
  f.ctx = std::move(input);
  f.nb_streams = static_cast<std::int32_t>(ic->nb_streams);
  f.ist_index = static_cast<std::int32_t>(Finput_streams.size()) - f.nb_streams;
  f.rate_emu = o->rate_emu;
  f.ts_offset = Fcopy_ts ? o->input_ts_offset : o->input_ts_offset - timestamp;
  Finput_files.push_back(std::move(f));
  const int fileIndex = static_cast<int>(Finput_files.size()) - 1;

  for (const TSpecifierOpt& dump : o->dump_attachment)
    for (unsigned i = 0; i < ic->nb_streams; ++i)
      if (ffutil::check_stream_specifier(ic, ic->streams[i], dump.specifier) == 1)
        dump_attachment(ic->streams[i], dump.str, fileIndex);

  ResetOptionsContext(o, true);
  return fileIndex;
}

void TCustomFFmpeg::add_input_streams(TOptionsContext* o, AVFormatContext* ic) {
  for (unsigned i = 0; i < ic->nb_streams; ++i) {
    AVStream* st = ic->streams[i];
    AVCodecParameters* par = st->codecpar;
    auto ist = std::make_unique<TInputStream>();
    ist->st = st;
    ist->file_index = static_cast<std::int32_t>(Finput_files.size());
    ist->discard = 1;

    const AVCodec* dec = choose_decoder(o, ic, st);
    ist->opts.reset(ffutil::FilterCodecOptions(FOptions.codec_opts, dec, ic, st));
    MatchPerStreamOpt(o->ts_scale, &TSpecifierOpt::dbl, ic, st, ist->ts_scale);

    std::string tag;
    MatchPerStreamOpt(o->codec_tags, &TSpecifierOpt::str, ic, st, tag);
    if (!tag.empty()) par->codec_tag = ReadCodecTag(tag);

    ist->avdec = dec;
    switch (par->codec_type) {
      case AVMEDIA_TYPE_VIDEO: {
        if (!ist->avdec) ist->avdec = ff::avcodec_find_decoder(par->codec_id);
        // The rate the stream's timing suggests against the container's.
        const AVRational codec_tb = st->avg_frame_rate.num ? AVRational{st->avg_frame_rate.den, st->avg_frame_rate.num}
                                                           : AVRational{0, 1};
        const AVRational r = st->r_frame_rate;
        if (codec_tb.num && r.num && (codec_tb.den != r.num || codec_tb.num != r.den))
          Log(fflog::llInfo,
              Format("Seems stream %d codec frame rate differs from container frame rate: %2.2f (%d/%d) . %2.2f (%d/%d)",
                     static_cast<int>(i), static_cast<float>(codec_tb.den) / codec_tb.num, codec_tb.den, codec_tb.num,
                     static_cast<float>(r.num) / r.den, r.num, r.den));
        if (o->video_disable) st->discard = AVDISCARD_ALL;
        else if (Fvideo_discard) st->discard = static_cast<AVDiscard>(Fvideo_discard);
        break;
      }
      case AVMEDIA_TYPE_AUDIO:
        if (!ist->avdec) ist->avdec = ff::avcodec_find_decoder(par->codec_id);
        if (o->audio_disable) st->discard = AVDISCARD_ALL;
        break;
      case AVMEDIA_TYPE_DATA:
        if (o->data_disable) st->discard = AVDISCARD_ALL;
        break;
      case AVMEDIA_TYPE_SUBTITLE:
        if (!ist->avdec) ist->avdec = ff::avcodec_find_decoder(par->codec_id);
        if (o->subtitle_disable) st->discard = AVDISCARD_ALL;
        break;
      case AVMEDIA_TYPE_ATTACHMENT:
      case AVMEDIA_TYPE_UNKNOWN:
        break;
      default:
        FatalError("Never occur");
    }

    // Each stream decodes with a context of its own, filled from what the
    // probing found.
    ist->dec.reset(ff::avcodec_alloc_context3(ist->avdec));
    if (!ist->dec) FatalError("Could not allocate a decoding context.");
    int r = ff::avcodec_parameters_to_context(ist->dec.get(), par);
    if (r < 0) FatalError(ffutil::ErrorText("avcodec_parameters_to_context", r));
    ist->dec->pkt_timebase = st->time_base;
    ist->dec->framerate = st->avg_frame_rate.num ? st->avg_frame_rate : st->r_frame_rate;
    Finput_streams.push_back(std::move(ist));
  }
}

void TCustomFFmpeg::dump_attachment(AVStream* st, const std::string& filename, int fileIndex) {
  const AVCodecParameters* par = st->codecpar;
  if (!par->extradata_size) {
    Log(fflog::llWarning, Format("No extradata to dump in stream #%d:%d.", fileIndex, st->index));
    return;
  }
  std::string name = filename;
  if (name.empty()) name = ffutil::DictValue(st->metadata, "filename", "");
  if (name.empty())
    FatalError("No filename specified and no \"filename\" tag in stream #%d:%d.", fileIndex, st->index);

  const std::size_t colon = name.find(':');
  const bool overwrite = Ffile_overwrite && !Fno_file_overwrite;
  const bool protocol = colon != std::string::npos && colon != 1 && name.rfind("file:", 0) != 0;
  if (!overwrite && !protocol && ff::avio_check(name.c_str(), 0) >= 0) {
    FLastErrMsg = Format("File \"%s\" already exists. Ignore.", name.c_str());
    Log(fflog::llWarning, FLastErrMsg);
    return;
  }

  FLastWrite = ff::av_gettime();
  AVIOContext* out = nullptr;
  if (ff::avio_open2(&out, name.c_str(), AVIO_FLAG_WRITE, &FWriteCallback, nullptr) < 0) {
    Log(fflog::llWarning, Format("Could not open file %s for writing.", name.c_str()));
    return;
  }
  ff::avio_write(out, par->extradata, par->extradata_size);
  ff::avio_flush(out);
  ff::avio_closep(&out);
}

}  // namespace engine
