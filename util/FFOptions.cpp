#include "util/FFOptions.h"

#include <algorithm>
#include <cctype>
#include <new>

#include "ffbind/AVCodecStubs.h"
#include "ffbind/AVFormatStubs.h"
#include "ffbind/AVUtilStubs.h"
#include "ffbind/SwScaleStubs.h"
#include "util/FormatRegistry.h"
#include "util/OptionWords.h"

namespace ffutil {
namespace {

// The lookups search a class, not an object: the library accepts a pointer
// to a class pointer as a fake object.
const AVOption* FindInClass(const AVClass* cls, const char* name, int optFlags, int searchFlags) {
  if (!cls) return nullptr;
  return ff::av_opt_find(&cls, name, nullptr, optFlags, searchFlags | AV_OPT_SEARCH_FAKE_OBJ);
}

// The format class's children are the library's own formats only; ours are
// not among them, so their private classes are searched here as well.
const AVOption* FindFormatOption(const char* name) {
  if (const AVOption* o = FindInClass(ff::avformat_get_class(), name, 0, AV_OPT_SEARCH_CHILDREN)) return o;
  for (const AVInputFormat* f : OwnInputFormats())
    if (const AVOption* o = FindInClass(f->priv_class, name, 0, 0)) return o;
  return nullptr;
}

void AddToDict(AVDictionary** dict, const AVOption* o, const std::string& key, const std::string& value) {
  int flags = o->type == AV_OPT_TYPE_FLAGS ? AV_DICT_APPEND : 0;
  ff::av_dict_set(dict, key.c_str(), value.c_str(), flags);
}

void Fail(const std::string& text) {
  SetOptionErrorText(text);
  ff::av_log(nullptr, AV_LOG_ERROR, "%s\n", text.c_str());
}

// Reads the number after a specifier prefix; a missing number reads as 0.
int SpecNumber(const char* text, const char** end) { return ReadCInt(text, end); }

int MatchesType(const AVFormatContext* s, const AVStream* st, AVMediaType type, const char* rest) {
  if (st->codecpar->codec_type != type) return 0;
  if (*rest != ':') return 1;
  if (!s) return 0;
  int wanted = SpecNumber(rest + 1, nullptr);
  int count = 0;
  for (unsigned i = 0; i < s->nb_streams; ++i) {
    if (s->streams[i]->codecpar->codec_type != type) continue;
    if (count++ == wanted) return s->streams[i] == st ? 1 : 0;
  }
  return 0;
}

int MatchesProgram(const AVFormatContext* s, const AVStream* st, const char* rest) {
  const char* end = nullptr;
  int id = SpecNumber(rest, &end);
  if (!s) return 0;
  for (unsigned i = 0; i < s->nb_programs; ++i) {
    const AVProgram* p = s->programs[i];
    if (p->id != id) continue;
    if (*end == ':') {
      int k = SpecNumber(end + 1, nullptr);
      return k >= 0 && static_cast<unsigned>(k) < p->nb_stream_indexes &&
                     p->stream_index[k] == static_cast<unsigned>(st->index)
                 ? 1
                 : 0;
    }
    for (unsigned j = 0; j < p->nb_stream_indexes; ++j)
      if (p->stream_index[j] == static_cast<unsigned>(st->index)) return 1;
  }
  return 0;
}

}  // namespace

void TFFOptions::Init(int swsFlags) {
  Release();
  sws_opts = ff::sws_getContext(16, 16, static_cast<AVPixelFormat>(0), 16, 16, static_cast<AVPixelFormat>(0),
                                swsFlags, nullptr, nullptr, nullptr);
}

void TFFOptions::Release() {
  if (sws_opts) ff::sws_freeContext(sws_opts);
  sws_opts = nullptr;
  if (format_opts) ff::av_dict_free(&format_opts);
  if (codec_opts) ff::av_dict_free(&codec_opts);
}

namespace {

// A codec option by its name up to the specifier, or by the name without
// a leading media letter ("vb" is "b").
const AVOption* FindCodecOption(const std::string& opt) {
  const std::string stripped = opt.substr(0, std::min<std::size_t>(opt.find(':'), 127));
  const AVClass* cc = ff::avcodec_get_class();
  const AVOption* o = FindInClass(cc, stripped.c_str(), 0, AV_OPT_SEARCH_CHILDREN);
  if (!o && !opt.empty() && (opt[0] == 'a' || opt[0] == 's' || opt[0] == 'v'))
    o = FindInClass(cc, opt.c_str() + 1, 0, 0);
  return o;
}

const AVOption* FindScalerOption(const std::string& opt) { return FindInClass(ff::sws_get_class(), opt.c_str(), 0, 0); }

}  // namespace

bool IsLibraryOption(const std::string& opt) {
  return FindCodecOption(opt) || FindFormatOption(opt.c_str()) || FindScalerOption(opt);
}

int opt_default(TFFOptions& options, const std::string& opt, const std::string& arg) {
  bool found = false;
  const AVOption* o = FindCodecOption(opt);
  if (o) {
    AddToDict(&options.codec_opts, o, opt, arg);
    found = true;
  }

  if ((o = FindFormatOption(opt.c_str()))) {
    AddToDict(&options.format_opts, o, opt, arg);
    found = true;
  }

  if (FindScalerOption(opt)) {
    int ret = options.sws_opts ? ff::av_opt_set(options.sws_opts, opt.c_str(), arg.c_str(), 0) : AVERROR(EINVAL);
    if (ret < 0) {
      Fail("Error setting option \"" + opt + "\"");
      return ret;
    }
    found = true;
  }

  if (found) return 0;
  Fail("Unrecognized option \"" + opt + "\"");
  return kOptionNotFound;
}

int check_stream_specifier(const AVFormatContext* s, const AVStream* st, const std::string& spec) {
  const char* p = spec.c_str();
  if (*p == '\0') return 1;
  if (std::isdigit(static_cast<unsigned char>(*p))) return SpecNumber(p, nullptr) == st->index ? 1 : 0;
  switch (*p) {
    case 'v': return MatchesType(s, st, AVMEDIA_TYPE_VIDEO, p + 1);
    case 'a': return MatchesType(s, st, AVMEDIA_TYPE_AUDIO, p + 1);
    case 's': return MatchesType(s, st, AVMEDIA_TYPE_SUBTITLE, p + 1);
    case 'd': return MatchesType(s, st, AVMEDIA_TYPE_DATA, p + 1);
    case 't': return MatchesType(s, st, AVMEDIA_TYPE_ATTACHMENT, p + 1);
    case 'p':
      if (p[1] == ':') return MatchesProgram(s, st, p + 2);
      break;
    default: break;
  }
  ff::av_log(nullptr, AV_LOG_ERROR, "Invalid stream specifier: \"%s\"\n", p);
  return AVERROR(EINVAL);
}

AVDictionary* FilterCodecOptions(const AVDictionary* dict, const AVCodec* codec, const AVFormatContext* s,
                                 const AVStream* st) {
  if (!codec) return nullptr;
  int flags = s && s->oformat ? AV_OPT_FLAG_ENCODING_PARAM : AV_OPT_FLAG_DECODING_PARAM;
  char prefix = 0;
  switch (codec->type) {
    case AVMEDIA_TYPE_VIDEO: prefix = 'v'; flags |= AV_OPT_FLAG_VIDEO_PARAM; break;
    case AVMEDIA_TYPE_AUDIO: prefix = 'a'; flags |= AV_OPT_FLAG_AUDIO_PARAM; break;
    case AVMEDIA_TYPE_SUBTITLE: prefix = 's'; flags |= AV_OPT_FLAG_SUBTITLE_PARAM; break;
    default: break;
  }

  const AVClass* cc = ff::avcodec_get_class();
  AVDictionary* ret = nullptr;
  const AVDictionaryEntry* t = nullptr;
  while ((t = ff::av_dict_get(dict, "", t, AV_DICT_IGNORE_SUFFIX))) {
    std::string key = t->key;
    if (std::size_t colon = key.find(':'); colon != std::string::npos) {
      int r = check_stream_specifier(s, st, key.substr(colon + 1));
      if (r < 0) {
        ff::av_dict_free(&ret);
        return nullptr;
      }
      if (r == 0) continue;
      key.resize(colon);
    }
    if (FindInClass(cc, key.c_str(), flags, 0) || FindInClass(codec->priv_class, key.c_str(), 0, 0))
      ff::av_dict_set(&ret, key.c_str(), t->value, 0);
    else if (prefix && !key.empty() && key[0] == prefix && FindInClass(cc, key.c_str() + 1, flags, 0))
      ff::av_dict_set(&ret, key.c_str() + 1, t->value, 0);
  }
  return ret;
}

TStreamInfoOptions::~TStreamInfoOptions() {
  for (AVDictionary*& d : FDicts)
    if (d) ff::av_dict_free(&d);
}

TStreamInfoOptions SetupFindStreamInfoOptions(const AVFormatContext* s, const AVDictionary* codec_opts) {
  TStreamInfoOptions result;
  if (!s || s->nb_streams == 0) return result;
  try {
    result.FDicts.reserve(s->nb_streams);
  } catch (const std::bad_alloc&) {
    ff::av_log(nullptr, AV_LOG_ERROR, "Could not alloc memory for stream options.\n");
    return result;
  }
  for (unsigned i = 0; i < s->nb_streams; ++i) {
    const AVStream* st = s->streams[i];
    result.FDicts.push_back(
        FilterCodecOptions(codec_opts, ff::avcodec_find_decoder(st->codecpar->codec_id), s, st));
  }
  return result;
}

}  // namespace ffutil
