// The option table and its simple handlers.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>

#include "engine/FFmpeg.h"
#include "ffbind/AVUtilStubs.h"
#include "util/OptionWords.h"

namespace engine {
namespace {

using C = TOptionsContext;
using E = TCustomFFmpeg;

// Builders that derive the flags from the destination's type, so that an
// entry cannot store into a field of another kind.
TOptionDef Handler(const char* name, Tfunc_arg f, bool hasArg, const char* help, const char* argname = nullptr) {
  return {name, hasArg ? ofHasArg : 0u, f, help, argname};
}
TOptionDef Handler2(const char* name, Tfunc2_arg f, const char* help, const char* argname = nullptr) {
  return {name, ofHasArg | ofFunc2, f, help, argname};
}
TOptionDef EngineFlag(const char* name, std::int32_t E::*m, const char* help) { return {name, ofBool, m, help}; }
TOptionDef EngineInt(const char* name, std::int32_t E::*m, const char* help, const char* argname = nullptr) {
  return {name, ofHasArg | ofInt, m, help, argname};
}
TOptionDef EngineFloat(const char* name, float E::*m, const char* help, const char* argname = nullptr) {
  return {name, ofHasArg | ofFloat, m, help, argname};
}
TOptionDef FileFlag(const char* name, std::int32_t C::*m, const char* help) {
  return {name, ofBool | ofOffset, m, help};
}
TOptionDef FileInt(const char* name, std::int32_t C::*m, const char* help, const char* argname = nullptr) {
  return {name, ofHasArg | ofInt | ofOffset, m, help, argname};
}
TOptionDef FileInt64(const char* name, std::int64_t C::*m, const char* help, const char* argname = nullptr) {
  return {name, ofHasArg | ofInt64 | ofOffset, m, help, argname};
}
TOptionDef FileTime(const char* name, std::int64_t C::*m, const char* help, const char* argname = nullptr) {
  return {name, ofHasArg | ofTime | ofOffset, m, help, argname};
}
TOptionDef FileFloat(const char* name, float C::*m, const char* help, const char* argname = nullptr) {
  return {name, ofHasArg | ofFloat | ofOffset, m, help, argname};
}
TOptionDef FileString(const char* name, std::string C::*m, const char* help, const char* argname = nullptr) {
  return {name, ofHasArg | ofString | ofOffset, m, help, argname};
}
// Per-stream entries: kind is one of ofString, ofInt, ofInt64, ofFloat,
// ofDouble, or ofBool (which takes no argument).
TOptionDef Stream(const char* name, std::uint32_t kind, TSpecArray C::*m, const char* help,
                  const char* argname = nullptr) {
  return {name, (kind == ofBool ? 0u : ofHasArg) | kind | ofSpec | ofOffset, m, help, argname};
}

}  // namespace

std::vector<TOptionDef> TCustomFFmpeg::BuildOptionTable() {
  std::vector<TOptionDef> t;
  auto info = [&](const char* name, const char* help) { t.push_back(Handler(name, &E::opt_informational, false, help)); };
  info("L", "show license");
  info("h", "show help");
  info("?", "show help");
  info("help", "show help");
  info("-help", "show help");
  info("version", "show version");
  info("formats", "show available formats");
  info("codecs", "show available codecs");
  info("bsfs", "show available bit stream filters");
  info("protocols", "show available protocols");
  info("filters", "show available filters");
  info("pix_fmts", "show available pixel formats");
  info("sample_fmts", "show available audio sample formats");
  t.push_back(Handler("loglevel", &E::opt_loglevel, true, "set libav* logging level", "loglevel"));
  t.push_back(Handler("v", &E::opt_loglevel, true, "set libav* logging level", "loglevel"));
  t.push_back(Handler("debug", &E::opt_debug, true, "set debug flags", "flags"));
  t.push_back(Handler("report", &E::opt_unsupported, false, "generate a report"));
  t.push_back(FileString("f", &C::format, "force format", "fmt"));
  t.push_back(Handler("i", &E::opt_unsupported, true, "input file name", "filename"));
  t.push_back(EngineFlag("y", &E::Ffile_overwrite, "overwrite output files"));
  t.push_back(EngineFlag("n", &E::Fno_file_overwrite, "do not overwrite output files"));
  t.push_back(Stream("c", ofString, &C::codec_names, "codec name", "codec"));
  t.push_back(Stream("codec", ofString, &C::codec_names, "codec name", "codec"));
  t.push_back(Handler("pre", &E::opt_unsupported, true, "preset name", "preset"));
  t.push_back(Handler2("map", &E::opt_map, "set input stream mapping", "file.stream[:syncfile.syncstream]"));
  t.push_back(Handler2("map_channel", &E::opt_map_channel, "map an audio channel from one stream to another",
                       "file.stream.channel[:syncfile.syncstream]"));
  t.push_back(Handler2("map_meta_data", &E::opt_map_meta_data,
                       "DEPRECATED set meta data information of outfile from infile", "outfile[,metadata]:infile[,metadata]"));
  t.push_back(Handler2("map_metadata", &E::opt_map_metadata, "set metadata information of outfile from infile",
                       "outfile[,metadata]:infile[,metadata]"));
  t.push_back(FileInt("map_chapters", &C::chapters_input_file, "set chapters mapping", "input_file_index"));
  t.push_back(FileTime("t", &C::recording_time, "record or transcode \"duration\" seconds of audio/video", "duration"));
  t.push_back(FileInt64("t_microsecond", &C::recording_time,
                        "record or transcode \"duration\" seconds of audio/video", "duration"));
  t.push_back(FileInt64("fs", &C::limit_filesize, "set the limit file size in bytes", "limit_size"));
  t.push_back(FileTime("ss", &C::start_time, "set the start time offset", "time_off"));
  t.push_back(FileInt64("ss_microsecond", &C::start_time, "set the start time offset", "time_off"));
  t.push_back(FileTime("itsoffset", &C::input_ts_offset, "set the input ts offset", "time_off"));
  t.push_back(FileInt64("itsoffset_microsecond", &C::input_ts_offset, "set the input ts offset", "time_off"));
  t.push_back(Stream("itsscale", ofDouble, &C::ts_scale, "set the input ts scale", "scale"));
  t.push_back(Handler2("timestamp", &E::opt_timestamp,
                       "set the recording timestamp (\"now\" to set the current time)", "time"));
  t.push_back(Stream("metadata", ofString, &C::metadata, "add metadata", "string=string"));
  t.push_back(Handler2("dframes", &E::opt_typed_alias, "set the number of data frames to record", "number"));
  t.push_back(Handler("benchmark", &E::opt_unsupported, false, "add timings for benchmarking"));
  t.push_back(Handler("timelimit", &E::opt_unsupported, true, "set max runtime in seconds", "limit"));
  t.push_back(EngineFlag("dump", &E::Fdo_pkt_dump, "dump each input packet"));
  t.push_back(EngineFlag("hex", &E::Fdo_hex_dump, "when dumping packets, also dump the payload"));
  t.push_back(FileFlag("re", &C::rate_emu, "read input at native frame rate"));
  t.push_back(EngineFlag("loop_input", &E::Floop_input, "deprecated, use -loop"));
  t.push_back(EngineInt("loop_output", &E::Floop_output, "deprecated, use -loop", ""));
  t.push_back(Handler2("target", &E::opt_target,
                       "specify target file type (\"vcd\", \"svcd\", \"dvd\", \"dv\", \"dv50\", \"pal-vcd\", "
                       "\"ntsc-svcd\", ...)",
                       "type"));
  t.push_back(EngineInt("vsync", &E::Fvideo_sync_method, "video sync method", ""));
  t.push_back(EngineInt("async", &E::Faudio_sync_method, "audio sync method", ""));
  t.push_back(EngineFloat("adrift_threshold", &E::Faudio_drift_threshold, "audio drift threshold", "threshold"));
  t.push_back(EngineFlag("copyts", &E::Fcopy_ts, "copy timestamps"));
  t.push_back(EngineInt("copytb", &E::Fcopy_tb, "copy input stream time base when stream copying", "source"));
  t.push_back(EngineFlag("shortest", &E::Fopt_shortest, "finish encoding within shortest input"));
  t.push_back(EngineFloat("dts_delta_threshold", &E::Fdts_delta_threshold, "timestamp discontinuity delta threshold",
                          "threshold"));
  t.push_back(EngineFlag("xerror", &E::Fexit_on_error, "exit on error"));
  t.push_back(Stream("copyinkf", ofBool, &C::copy_initial_nonkeyframes, "copy initial non-keyframes"));
  t.push_back(Stream("frames", ofInt64, &C::max_frames, "set the number of frames to record", "number"));
  t.push_back(Stream("tag", ofString, &C::codec_tags, "force codec tag/fourcc", "fourcc/tag"));
  t.push_back(Stream("q", ofDouble, &C::qscale, "use fixed quality scale (VBR)", "q"));
  t.push_back(Stream("qscale", ofDouble, &C::qscale, "use fixed quality scale (VBR)", "q"));
  t.push_back(Stream("filter", ofString, &C::filters, "set stream filterchain", "filter_list"));
  t.push_back(EngineFlag("stats", &E::Fprint_stats, "print progress report during encoding"));
  t.push_back(Handler2("attach", &E::opt_attach, "add an attachment to the output file", "filename"));
  t.push_back(Stream("dump_attachment", ofString, &C::dump_attachment, "extract an attachment into a file",
                     "filename"));
  t.push_back(Handler2("vframes", &E::opt_typed_alias, "set the number of video frames to record", "number"));
  t.push_back(Stream("r", ofString, &C::frame_rates, "set frame rate (Hz value, fraction or abbreviation)", "rate"));
  t.push_back(Stream("s", ofString, &C::frame_sizes, "set frame size (WxH or abbreviation)", "size"));
  t.push_back(Stream("aspect", ofString, &C::frame_aspect_ratios, "set aspect ratio (4:3, 16:9 or 1.3333, 1.7777)",
                     "aspect"));
  t.push_back(Stream("pix_fmt", ofString, &C::frame_pix_fmts, "set pixel format", "format"));
  t.push_back(EngineInt("bits_per_raw_sample", &E::Fframe_bits_per_raw_sample, "set the number of bits per raw sample",
                        "number"));
  for (const char* name : {"croptop", "cropbottom", "cropleft", "cropright"})
    t.push_back(Handler(name, &E::opt_crop_removed, true, "Removed, use the crop filter instead", "size"));
  for (const char* name : {"padtop", "padbottom", "padleft", "padright", "padcolor"})
    t.push_back(Handler(name, &E::opt_pad_removed, true, "Removed, use the pad filter instead", "size"));
  t.push_back(EngineFlag("intra", &E::Fintra_only, "use only intra frames"));
  t.push_back(FileFlag("vn", &C::video_disable, "disable video"));
  t.push_back(EngineInt("vdt", &E::Fvideo_discard, "discard threshold", "n"));
  t.push_back(Stream("rc_override", ofString, &C::rc_overrides, "rate control override for specific intervals",
                     "override"));
  t.push_back(Handler2("vcodec", &E::opt_codec_alias, "force video codec (\"copy\" to copy stream)", "codec"));
  t.push_back(EngineFlag("sameq", &E::Fsame_quant, "use same quantizer as source (implies VBR)"));
  t.push_back(EngineFlag("same_quant", &E::Fsame_quant, "use same quantizer as source (implies VBR)"));
  t.push_back(Handler("pass", &E::opt_pass, true, "select the pass number (1 or 2)", "n"));
  t.push_back(Handler("passlogfile", &E::opt_passlogfile, true, "select two pass log file name prefix", "prefix"));
  t.push_back(EngineFlag("deinterlace", &E::Fdo_deinterlace, "deinterlace pictures"));
  t.push_back(EngineFlag("psnr", &E::Fdo_psnr, "calculate PSNR of compressed frames"));
  t.push_back(Handler("vstats", &E::opt_vstats, false, "dump video coding statistics to file"));
  t.push_back(Handler("vstats_file", &E::opt_vstats_file, true, "dump video coding statistics to file", "file"));
  t.push_back(Handler2("vf", &E::opt_video_filters, "video filters", "filter list"));
  t.push_back(Stream("intra_matrix", ofString, &C::intra_matrices, "specify intra matrix coeffs", "matrix"));
  t.push_back(Stream("inter_matrix", ofString, &C::inter_matrices, "specify inter matrix coeffs", "matrix"));
  t.push_back(Stream("top", ofInt, &C::top_field_first, "top=1/bottom=0/auto=-1 field first", ""));
  t.push_back(EngineInt("dc", &E::Fintra_dc_precision, "intra_dc_precision", "precision"));
  t.push_back(Handler2("vtag", &E::opt_typed_alias, "force video tag/fourcc", "fourcc/tag"));
  t.push_back(EngineFlag("qphist", &E::Fqp_hist, "show QP histogram"));
  t.push_back(Stream("force_fps", ofBool, &C::force_fps,
                     "force the selected framerate, disable the best supported framerate selection"));
  t.push_back(Handler2("streamid", &E::opt_streamid, "set the value of an outfile streamid", "streamIndex:value"));
  t.push_back(Stream("force_key_frames", ofString, &C::forced_key_frames, "force key frames at specified timestamps",
                     "timestamps"));
  t.push_back(Handler2("b", &E::opt_bitrate, "video bitrate (please use -b:v)", "bitrate"));
  t.push_back(Handler2("aframes", &E::opt_typed_alias, "set the number of audio frames to record", "number"));
  t.push_back(Handler2("aq", &E::opt_typed_alias, "set audio quality (codec-specific)", "quality"));
  t.push_back(Stream("ar", ofInt, &C::audio_sample_rate, "set audio sampling rate (in Hz)", "rate"));
  t.push_back(Stream("ac", ofInt, &C::audio_channels, "set number of audio channels", "channels"));
  t.push_back(FileFlag("an", &C::audio_disable, "disable audio"));
  t.push_back(Handler2("acodec", &E::opt_codec_alias, "force audio codec (\"copy\" to copy stream)", "codec"));
  t.push_back(Handler2("atag", &E::opt_typed_alias, "force audio tag/fourcc", "fourcc/tag"));
  t.push_back(EngineInt("vol", &E::Faudio_volume, "change audio volume (256=normal)", "volume"));
  t.push_back(Stream("sample_fmt", ofString, &C::sample_fmts, "set sample format", "format"));
  t.push_back(Stream("rmvol", ofFloat, &C::rematrix_volume, "rematrix volume (as factor)", "volume"));
  t.push_back(FileFlag("sn", &C::subtitle_disable, "disable subtitle"));
  t.push_back(Handler2("scodec", &E::opt_codec_alias, "force subtitle codec (\"copy\" to copy stream)", "codec"));
  t.push_back(Handler2("stag", &E::opt_typed_alias, "force subtitle tag/fourcc", "fourcc/tag"));
  t.push_back(Handler("vc", &E::opt_renamed_generic, true, "deprecated, use -channel", "channel"));
  t.push_back(Handler("tvstd", &E::opt_renamed_generic, true, "deprecated, use -standard", "standard"));
  t.push_back(EngineFlag("isync", &E::Finput_sync, "sync read on input"));
  t.push_back(FileFloat("muxdelay", &C::mux_max_delay, "set the maximum demux-decode delay", "seconds"));
  t.push_back(FileFloat("muxpreload", &C::mux_preload, "set the initial demux-decode delay", "seconds"));
  t.push_back(Stream("bsf", ofString, &C::bitstream_filters, "A comma-separated list of bitstream filters",
                     "bitstream_filters"));
  t.push_back(Handler2("absf", &E::opt_typed_alias, "deprecated", "audio bitstream_filters"));
  t.push_back(Handler2("vbsf", &E::opt_typed_alias, "deprecated", "video bitstream_filters"));
  t.push_back(Handler2("apre", &E::opt_preset, "set the audio options to the indicated preset", "preset"));
  t.push_back(Handler2("vpre", &E::opt_preset, "set the video options to the indicated preset", "preset"));
  t.push_back(Handler2("spre", &E::opt_preset, "set the subtitle options to the indicated preset", "preset"));
  t.push_back(Handler2("fpre", &E::opt_preset, "set options from indicated preset file", "filename"));
  t.push_back(Handler2("dcodec", &E::opt_codec_alias, "force data codec (\"copy\" to copy stream)", "codec"));
  t.push_back(FileFlag("dn", &C::data_disable, "disable data"));
  t.push_back(Handler("vhook", &E::opt_vhook, true, "insert video processing module", "module"));
  t.push_back(Handler("VideoHookBitsPixel", &E::opt_video_hook_bits_pixel, true, "VideoHookBitsPixel", "bits"));
  for (const char* name : {"AudioHook", "VideoInputHook", "VideoOutputHook", "FrameInputHook", "FrameOutputHook", "Join"})
    t.push_back(Handler(name, &E::opt_hook_switch, false, name));
  t.push_back(Handler("default", &E::opt_default_handler, true, "generic catch all option", ""));
  t.push_back(TOptionDef{});
  return t;
}

namespace {

struct TLevelName {
  const char* name;
  int level;
};
constexpr TLevelName kLogLevels[] = {{"quiet", AV_LOG_QUIET}, {"panic", AV_LOG_PANIC}, {"fatal", AV_LOG_FATAL},
                                     {"error", AV_LOG_ERROR}, {"warning", AV_LOG_WARNING}, {"info", AV_LOG_INFO},
                                     {"verbose", AV_LOG_VERBOSE}, {"debug", AV_LOG_DEBUG}};

// The option name without its specifier.
std::string BaseName(const std::string& opt) { return opt.substr(0, opt.find(':')); }

}  // namespace

const std::vector<TOptionDef>& TCustomFFmpeg::OptionTable() {
  static const std::vector<TOptionDef> table = BuildOptionTable();
  return table;
}

int TCustomFFmpeg::opt_informational(const std::string& opt, const std::string&) {
  Log(fflog::llWarning, "options \"" + opt + "\" not supported, ignore");
  return 0;
}

int TCustomFFmpeg::opt_unsupported(const std::string& opt, const std::string&) {
  return RejectOption("options \"" + opt + "\" not supported");
}

int TCustomFFmpeg::opt_loglevel(const std::string&, const std::string& arg) {
  for (const TLevelName& l : kLogLevels)
    if (arg == l.name) {
      ff::av_log_set_level(l.level);
      return 0;
    }
  char* end = nullptr;
  errno = 0;
  long level = std::strtol(arg.c_str(), &end, 10);
  if (*end == '\0' && errno != ERANGE && level >= INT32_MIN && level <= INT32_MAX) {
    ff::av_log_set_level(static_cast<int>(level));
    return 0;
  }
  std::string text = "Invalid loglevel \"" + arg + "\". Possible levels are numbers or:\r\n";
  for (const TLevelName& l : kLogLevels) text += "\"" + std::string(l.name) + "\"\r\n";
  return RejectOption(text);
}

int TCustomFFmpeg::opt_debug(const std::string&, const std::string& arg) {
  ff::av_log_set_level(AV_LOG_DEBUG);
  return opt_default("debug", arg);
}

int TCustomFFmpeg::opt_crop_removed(const std::string& opt, const std::string&) {
  return RejectOption("Option \"" + opt + "\" has been removed, use the crop filter instead");
}

int TCustomFFmpeg::opt_pad_removed(const std::string& opt, const std::string&) {
  return RejectOption("Option \"" + opt + "\" has been removed, use the pad filter instead");
}

// vtag -> tag:v, absf -> bsf:a, vframes -> frames:v, aq -> q:a, ...
int TCustomFFmpeg::opt_typed_alias(TOptionsContext* o, const std::string& opt, const std::string& arg) {
  const std::string name = BaseName(opt);
  return ApplyOption(o, name.substr(1) + ":" + name[0], &arg, Foptions);
}

int TCustomFFmpeg::opt_codec_alias(TOptionsContext* o, const std::string& opt, const std::string& arg) {
  switch (opt[0]) {
    case 'v': Fvideo_codec_name = arg; break;
    case 'a': Faudio_codec_name = arg; break;
    case 's': Fsubtitle_codec_name = arg; break;
    default: break;
  }
  return opt_typed_alias(o, opt, arg);
}

int TCustomFFmpeg::opt_video_filters(TOptionsContext* o, const std::string&, const std::string& arg) {
  return ApplyOption(o, "filter:v", &arg, Foptions);
}

int TCustomFFmpeg::opt_bitrate(TOptionsContext* o, const std::string& opt, const std::string& arg) {
  if (opt == "b") {
    Log(fflog::llWarning, "Please use -b:a or -b:v, -b is ambiguous");
    return ApplyOption(o, "b:v", &arg, Foptions);
  }
  return opt_default(opt, arg);
}

int TCustomFFmpeg::opt_attach(TOptionsContext* o, const std::string&, const std::string& arg) {
  o->attachments.push_back(arg);
  return 0;
}

int TCustomFFmpeg::opt_pass(const std::string& opt, const std::string& arg) {
  int pass = 0;
  try {
    pass = ffutil::ReadIntOption(opt, arg);
  } catch (const std::runtime_error& e) {
    return RejectOption(e.what());
  }
  if (pass < 1 || pass > 3)
    return RejectOption("The value for \"" + opt + "\" was \"" + arg + "\" which is not within 1 - 3");
  Fdo_pass = pass;
  return 0;
}

int TCustomFFmpeg::opt_passlogfile(const std::string&, const std::string& arg) {
  Fpass_logfilename_prefix = arg;
  // Encoders that keep their own statistics file take the prefix too; the
  // others simply do not know the option.
  opt_default("passlogfile", arg);
  ffutil::ClearOptionErrorText();
  return 0;
}

int TCustomFFmpeg::opt_renamed_generic(const std::string& opt, const std::string& arg) {
  if (opt == "vc") {
    Log(fflog::llWarning, "This option is deprecated, use -channel.");
    return opt_default("channel", arg);
  }
  Log(fflog::llWarning, "This option is deprecated, use -standard.");
  return opt_default("standard", arg);
}

int TCustomFFmpeg::opt_vhook(const std::string&, const std::string& arg) {
  // Words at "|" when there is one, so that module arguments may hold blanks.
  const char sep = arg.find('|') != std::string::npos ? '|' : ' ';
  std::vector<std::string> words;
  std::size_t b = 0;
  while (b <= arg.size()) {
    std::size_t e = std::min(arg.find(sep, b), arg.size());
    if (e > b) words.push_back(arg.substr(b, e - b));
    b = e + 1;
  }
  constexpr std::size_t kMaxHookWords = 64;
  if (words.empty() || words.size() > kMaxHookWords || AddFrameHook(words) < 0)
    FatalError("Failed to add video hook function: " + arg);
  Fusing_vhook = true;
  return 0;
}

int TCustomFFmpeg::opt_video_hook_bits_pixel(const std::string& opt, const std::string& arg) {
  try {
    SetBitsPixel(ffutil::ReadIntOption(opt, arg));
  } catch (const std::runtime_error& e) {
    return RejectOption(e.what());
  } catch (const std::invalid_argument& e) {
    return RejectOption(e.what());
  }
  return 0;
}

int TCustomFFmpeg::opt_hook_switch(const std::string&, const std::string&) { return 0; }

int TCustomFFmpeg::opt_default_handler(const std::string& opt, const std::string& arg) { return opt_default(opt, arg); }

}  // namespace engine
