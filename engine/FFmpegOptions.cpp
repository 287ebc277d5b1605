// Option strings: words, lookup in the option table and storing values.
#include <algorithm>
#include <cstring>

#include "engine/FFmpeg.h"
#include "ffbind/AVUtilStubs.h"
#include "log/FFLog.h"
#include "util/FFOptions.h"
#include "util/FFUtils.h"
#include "util/OptionWords.h"

namespace engine {
namespace {

// Error of one option: kept as the shared text and logged through the
// libraries' log like the libraries' own option errors.
int OptionFailure(const std::string& text, int code) {
  ffutil::SetOptionErrorText(text);
  ff::av_log(nullptr, AV_LOG_ERROR, "%s\n", text.c_str());
  return code;
}

bool StartsWithNo(const std::string& s) { return s.size() >= 2 && s[0] == 'n' && s[1] == 'o'; }

template <typename T, typename Owner>
T* FieldOf(const TOptDefUnion& u, Owner* owner) {
  if (auto m = std::get_if<T Owner::*>(&u)) return &(owner->**m);
  return nullptr;
}

}  // namespace

void TCustomFFmpeg::ParseOptions(const std::string& options) {
  if (options.empty()) return;
  fflog::GetLogger()->Log(this, fflog::llInfo, "ParseOptions: %s", options.c_str());
  if (!Foptions) ResetOptionsContext(&optctx, false);

  const std::vector<std::string> words = ffutil::SplitOptionWords(options);
  const int count = static_cast<int>(words.size()) - 1;  // without the closing empty word

  // The log level goes first so that it covers the messages of every other
  // option of the string.
  int idx = FindOptionWord(count, words, Foptions, "loglevel");
  if (idx < 0) idx = FindOptionWord(count, words, Foptions, "v");
  if (idx >= 0 && idx + 1 <= count) opt_loglevel(words[idx].substr(1), words[idx + 1]);

  const bool halt = HaltOnInvalidOption;
  int r = ParseOptionWords(&optctx, count, words, halt, Foptions);
  if (halt && r < 0) {
    std::string text = ffutil::OptionErrorText();
    FatalError(text.empty() ? ffutil::ErrorText("Failed to parse options", r) : text);
  }
}

int TCustomFFmpeg::ParseOptionWords(TOptionsContext* o, int count, const std::vector<std::string>& words, bool halt,
                                    const TOptionDef* table) {
  int i = 0;
  while (i < count) {
    const std::string& w = words[i++];
    if (w.size() >= 2 && w[0] == '-') {
      ffutil::ClearOptionErrorText();
      const std::string opt = w.substr(1);
      int r = ApplyOption(o, opt, &words[i], table);
      if (r >= 0) {
        i += r;
        continue;
      }
      if (halt) {
        if (ffutil::OptionErrorText().empty())
          ffutil::SetOptionErrorText(ffutil::ErrorText("Failed to parse options", r));
        return r;
      }
      // Not halting: go on after the argument the option would have taken,
      // so that the argument is not taken for a word of its own.
      bool negated = false;
      const TOptionDef* e = ResolveOption(table, opt, negated);
      if (e && (e->flags & ofHasArg) && i < count) ++i;
    } else if (halt) {
      std::string text = w.empty() ? "Failed to parse options" : "Failed to parse options on " + w;
      return OptionFailure(text, -1);
    } else {
      ff::av_log(nullptr, AV_LOG_ERROR, "Invalid option found while parsing options, ignore\n");
    }
  }
  return 0;
}

const TOptionDef* TCustomFFmpeg::ResolveOption(const TOptionDef* table, const std::string& opt, bool& negated) {
  negated = false;
  const TOptionDef* e = FindOptionDef(table, opt);
  if (!e->name.empty()) return e;
  if (StartsWithNo(opt)) {
    const TOptionDef* sw = FindOptionDef(table, opt.substr(2));
    if (!sw->name.empty() && (sw->flags & ofBool)) {
      negated = true;
      return sw;
    }
    if (!ffutil::IsLibraryOption(opt)) return nullptr;
  }
  e = FindOptionDef(table, "default");
  return e->name.empty() ? nullptr : e;
}

int TCustomFFmpeg::ApplyOption(TOptionsContext* o, const std::string& opt, const std::string* arg,
                               const TOptionDef* table) {
  bool negated = false;
  const TOptionDef* e = ResolveOption(table, opt, negated);
  if (!e) return OptionFailure("Unrecognized option \"" + opt + "\"", AVERROR(EINVAL));
  const int value = negated ? 0 : 1;

  if ((e->flags & ofHasArg) && !arg)
    return OptionFailure("Missing argument for option \"" + opt + "\"", AVERROR(EINVAL));
  static const std::string kNone;
  const std::string& a = arg ? *arg : kNone;
  const std::uint32_t f = e->flags;

  if (f & kStorageFlags) {
    if (f & ofSpec) {
      // The value is read before the element is added, so that a bad
      // number leaves no element behind.
      TSpecifierOpt so;
      std::size_t colon = opt.find(':');
      if (colon != std::string::npos) so.specifier = opt.substr(colon + 1);
      if (f & ofString) so.str = a;
      else if (f & ofBool) so.i = value;
      else if (f & ofInt) so.i = ffutil::ReadIntOption(opt, a);
      else if (f & (ofInt64 | ofTime))
        so.i64 = (f & ofInt64) ? ffutil::ReadInt64Option(opt, a) : ffutil::ReadTimeOption(opt, a, true);
      else if (f & ofFloat) so.f = ffutil::ReadFloatOption(opt, a);
      else so.dbl = ffutil::ReadDoubleOption(opt, a);
      (o->*std::get<TSpecArray TOptionsContext::*>(e->u)).push_back(std::move(so));
    } else if (f & ofString) {
      *FieldOf<std::string>(e->u, o) = a;
    } else if (f & (ofBool | ofInt)) {
      std::int32_t v = (f & ofBool) ? value : ffutil::ReadIntOption(opt, a);
      if (auto p = FieldOf<std::int32_t>(e->u, o)) *p = v;
      else *FieldOf<std::int32_t>(e->u, this) = v;
    } else if (f & (ofInt64 | ofTime)) {
      *FieldOf<std::int64_t>(e->u, o) =
          (f & ofInt64) ? ffutil::ReadInt64Option(opt, a) : ffutil::ReadTimeOption(opt, a, true);
    } else if (f & ofFloat) {
      float v = ffutil::ReadFloatOption(opt, a);
      if (auto p = FieldOf<float>(e->u, o)) *p = v;
      else *FieldOf<float>(e->u, this) = v;
    }
  } else {
    ffutil::ClearOptionErrorText();
    int r = (f & ofFunc2) ? (this->*std::get<Tfunc2_arg>(e->u))(o, opt, a) : (this->*std::get<Tfunc_arg>(e->u))(opt, a);
    if (r < 0) {
      std::string failed = "Failed to set value \"" + a + "\" for option \"" + opt + "\"";
      std::string prev = ffutil::OptionErrorText();
      ffutil::SetOptionErrorText(prev.empty() ? failed : prev + "\r\n" + failed);
      ff::av_log(nullptr, AV_LOG_ERROR, "%s\n", failed.c_str());
      return r;
    }
  }
  return (f & ofHasArg) ? 1 : 0;
}

const TOptionDef* TCustomFFmpeg::FindOptionDef(const TOptionDef* table, const std::string& name) {
  const std::size_t len = std::min(name.find(':'), name.size());
  const TOptionDef* e = table;
  for (; !e->name.empty(); ++e)
    if (e->name.size() == len && std::memcmp(e->name.data(), name.data(), len) == 0) break;
  return e;
}

int TCustomFFmpeg::FindOptionWord(int count, const std::vector<std::string>& words, const TOptionDef* table,
                                  const std::string& name) {
  for (int i = 0; i < count; ++i) {
    const std::string& w = words[i];
    if (w.empty() || w[0] != '-') continue;
    const std::string opt = w.substr(1);
    const TOptionDef* e = FindOptionDef(table, opt);
    if (e->name.empty() && StartsWithNo(opt)) e = FindOptionDef(table, opt.substr(2));
    if (e->name.empty() ? opt == name : e->name == name) return i;
    if (!e->name.empty() && (e->flags & ofHasArg)) ++i;
  }
  return -1;
}

void TCustomFFmpeg::ResetOptionsContext(TOptionsContext* o, bool isInput) {
  if (!Foptions) Foptions = OptionTable().data();
  const std::int64_t recording = o->recording_time;
  *o = TOptionsContext{};
  o->recording_time = isInput ? recording : kNoTimeLimit;
  FOptions.Init();
}

int TCustomFFmpeg::opt_default(const std::string& opt, const std::string& arg) {
  return ffutil::opt_default(FOptions, opt, arg);
}

void TCustomFFmpeg::FatalSpecifier(int code) { FatalError(ffutil::ErrorText("check_stream_specifier", code)); }

void TCustomFFmpeg::ResetOptionState() {
  Fframe_bits_per_raw_sample = 0;
  Fvideo_discard = 0;
  Fsame_quant = 0;
  Fdo_deinterlace = 0;
  Fintra_dc_precision = 8;
  Floop_input = 0;
  Floop_output = -1;
  Fqp_hist = 0;
  Fintra_only = 0;
  Fvideo_codec_name.clear();
  Faudio_codec_name.clear();
  Fsubtitle_codec_name.clear();
  Ffile_overwrite = 0;
  Fno_file_overwrite = 0;
  Fdo_hex_dump = 0;
  Fdo_pkt_dump = 0;
  Fdo_psnr = 0;
  Fdo_pass = 0;
  Fpass_logfilename_prefix.clear();
  Fvideo_sync_method = -1;
  Faudio_sync_method = 0;
  Faudio_drift_threshold = 0.1f;
  Fcopy_ts = 0;
  Fcopy_tb = -1;
  Fopt_shortest = 0;
  Fvstats_filename.clear();
  Faudio_volume = 256;
  Fexit_on_error = 0;
  Finput_sync = 0;
  Fdts_delta_threshold = 10.0f;
  Fprint_stats = 1;
  Fusing_vhook = false;
  FFirstHook.Release();
  ResetOptionsContext(&optctx, false);
}

}  // namespace engine
