// Option handlers that route inputs to the output: stream maps, audio
// channel maps, metadata maps and stream ids.
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <ctime>

#include "engine/FFmpeg.h"
#include "util/FFUtils.h"
#include "util/OptionWords.h"

namespace engine {
namespace {

// Reads a pattern of "%d" fields and literal characters like sscanf: a
// field is optional blanks, an optional sign and decimal digits (saturated
// to 32 bits). Result: the number of fields read before the first mismatch.
int ScanInts(const char* text, const char* pattern, std::int32_t* out) {
  int n = 0;
  for (const char* p = pattern; *p; ++p) {
    if (p[0] == '%' && p[1] == 'd') {
      ++p;
      while (std::isspace(static_cast<unsigned char>(*text))) ++text;
      const char* digits = text + ((*text == '-' || *text == '+') ? 1 : 0);
      if (!std::isdigit(static_cast<unsigned char>(*digits))) return n;
      char* end = nullptr;
      long long v = std::strtoll(text, &end, 10);
      out[n++] = static_cast<std::int32_t>(v < INT32_MIN ? INT32_MIN : v > INT32_MAX ? INT32_MAX : v);
      text = end;
    } else {
      if (*text != *p) return n;
      ++text;
    }
  }
  return n;
}

// "g", "s[:i]", "c[:i]", "p[:i]"; false for any other type.
bool ParseMetadataSpec(const std::string& spec, TMetadataMap& m) {
  if (spec.empty()) {
    m.type_ = 'g';
    return true;
  }
  m.type_ = spec[0];
  switch (m.type_) {
    case 'g': return true;
    case 's':
    case 'c':
    case 'p':
      if (spec.size() > 1 && spec[1] == ':') m.index = ffutil::ReadCInt(spec.c_str() + 2);
      return true;
    default: return false;
  }
}

}  // namespace

int TCustomFFmpeg::opt_map(TOptionsContext* o, const std::string&, const std::string& arg) {
  const bool negative = !arg.empty() && arg[0] == '-';
  const std::string map = negative ? arg.substr(1) : arg;
  std::string text = map;
  const int nbFiles = static_cast<int>(Finput_files.size());

  int syncFile = -1, syncStream = -1;
  if (std::size_t comma = text.find(','); comma != std::string::npos) {
    const std::string sync = text.substr(comma + 1);
    text.resize(comma);
    const char* end = nullptr;
    syncFile = ffutil::ReadCInt(sync.c_str(), &end);
    if (syncFile < 0 || syncFile >= nbFiles) FatalError("Invalid sync file index: %d.", syncFile);
    if (*end) ++end;
    const AVFormatContext* s = Finput_files[syncFile].ctx.get();
    for (unsigned i = 0; i < s->nb_streams && syncStream < 0; ++i) {
      int r = ffutil::check_stream_specifier(s, s->streams[i], end);
      if (r < 0) FatalSpecifier(r);
      if (r > 0) syncStream = static_cast<int>(i);
    }
    if (syncStream < 0) FatalError("Sync stream specification in map %s does not match any streams.", arg.c_str());
  }

  const char* end = nullptr;
  const int file = ffutil::ReadCInt(text.c_str(), &end);
  if (file < 0 || file >= nbFiles) FatalError("Invalid input file index: %d.", file);
  if (*end == ':') ++end;
  const std::string spec = end;
  const AVFormatContext* s = Finput_files[file].ctx.get();

  bool matched = false;
  if (negative) {
    matched = !o->stream_maps.empty();
    for (TStreamMap& m : o->stream_maps) {
      if (m.file_index != file || m.stream_index < 0 || static_cast<unsigned>(m.stream_index) >= s->nb_streams)
        continue;
      int r = ffutil::check_stream_specifier(s, s->streams[m.stream_index], spec);
      if (r < 0) FatalSpecifier(r);
      if (r > 0) m.disabled = 1;
    }
  } else {
    for (unsigned i = 0; i < s->nb_streams; ++i) {
      int r = ffutil::check_stream_specifier(s, s->streams[i], spec);
      if (r < 0) FatalSpecifier(r);
      if (r == 0) continue;
      TStreamMap m;
      m.file_index = file;
      m.stream_index = static_cast<int>(i);
      m.sync_file_index = syncFile >= 0 ? syncFile : file;
      m.sync_stream_index = syncFile >= 0 ? syncStream : static_cast<int>(i);
      o->stream_maps.push_back(m);
      matched = true;
    }
  }
  if (!matched) FatalError("Stream map \"%s\" matches no streams.", map.c_str());
  return 0;
}

int TCustomFFmpeg::opt_map_channel(TOptionsContext* o, const std::string&, const std::string& arg) {
  TAudioChannelMap m;
  std::int32_t v[5] = {0, 0, 0, 0, 0};
  int n = ScanInts(arg.c_str(), "%d:%d.%d", v);
  if ((n == 1 || n == 3) && v[0] == -1) {
    m = {-1, -1, -1, n == 3 ? v[1] : -1, n == 3 ? v[2] : -1};
    o->audio_channel_maps.push_back(m);
    return 0;
  }
  n = ScanInts(arg.c_str(), "%d.%d.%d:%d.%d", v);
  if (n != 3 && n != 5) FatalError("Syntax error, mapchan usage: [file.stream.channel|-1][:syncfile:syncstream]");
  m = {v[0], v[1], v[2], n == 5 ? v[3] : -1, n == 5 ? v[4] : -1};

  if (m.file_idx < 0 || m.file_idx >= static_cast<int>(Finput_files.size()))
    FatalError("mapchan: invalid input file index: %d", m.file_idx);
  const AVFormatContext* s = Finput_files[m.file_idx].ctx.get();
  if (m.stream_idx < 0 || static_cast<unsigned>(m.stream_idx) >= s->nb_streams)
    FatalError("mapchan: invalid input file stream index #%d.%d", m.file_idx, m.stream_idx);
  const AVCodecParameters* par = s->streams[m.stream_idx]->codecpar;
  if (par->codec_type != AVMEDIA_TYPE_AUDIO)
    FatalError("mapchan: stream #%d.%d is not an audio stream.", m.file_idx, m.stream_idx);
  if (m.channel_idx < 0 || m.channel_idx >= par->ch_layout.nb_channels)
    FatalError("mapchan: invalid audio channel #%d.%d.%d", m.file_idx, m.stream_idx, m.channel_idx);
  o->audio_channel_maps.push_back(m);
  return 0;
}

int TCustomFFmpeg::opt_map_metadata(TOptionsContext* o, const std::string& opt, const std::string& arg) {
  TAMetadataMap m;
  const char* end = nullptr;
  m[1].file_idx = ffutil::ReadCInt(arg.c_str(), &end);
  const std::string inSpec = *end ? end + 1 : "";
  std::size_t colon = opt.find(':');
  const std::string outSpec = colon == std::string::npos ? "" : opt.substr(colon + 1);

  for (auto [side, spec] : {std::pair{1, &inSpec}, std::pair{0, &outSpec}}) {
    if (!ParseMetadataSpec(*spec, m[side])) {
      std::string text = "Invalid metadata type " + spec->substr(0, 1) + ".";
      FLastErrMsg = text;
      Log(fflog::llFatal, text);
      ffutil::SetOptionErrorText(text);
      return AVERROR(EINVAL);
    }
  }
  for (const TMetadataMap& side : m) {
    if (side.type_ == 'g') o->metadata_global_manual = 1;
    if (side.type_ == 's') o->metadata_streams_manual = 1;
    if (side.type_ == 'c') o->metadata_chapters_manual = 1;
  }
  o->meta_data_maps.push_back(m);
  return 0;
}

int TCustomFFmpeg::opt_map_meta_data(TOptionsContext* o, const std::string& opt, const std::string& arg) {
  Log(fflog::llWarning, "-map_meta_data is deprecated and will be removed soon. Use -map_metadata instead.");
  return opt_map_metadata(o, opt, arg);
}

int TCustomFFmpeg::opt_timestamp(TOptionsContext* o, const std::string& opt, const std::string& arg) {
  const std::int64_t us = ffutil::ReadTimeOption(opt, arg, false);
  const std::int64_t seconds = (us + 500000) / 1000000;
  const std::tm local = ffutil::LocalDate(seconds);
  char date[32];
  std::strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S", &local);
  Log(fflog::llWarning, opt + " is deprecated, set the \"creation_time\" metadata tag instead.");
  const std::string value =
      std::string("creation_time=") + date + " " + ffutil::TimeZoneText(static_cast<std::time_t>(seconds));
  return ApplyOption(o, "metadata", &value, Foptions);
}

int TCustomFFmpeg::opt_streamid(TOptionsContext* o, const std::string& opt, const std::string& arg) {
  auto whole = [](const std::string& s, long long& v) {
    if (s.empty() || std::isspace(static_cast<unsigned char>(s[0]))) return false;
    char* end = nullptr;
    errno = 0;
    v = std::strtoll(s.c_str(), &end, 10);
    return *end == '\0' && errno != ERANGE;
  };
  std::size_t colon = arg.find(':');
  long long index = 0, value = 0;
  const std::string indexText = arg.substr(0, colon);
  const std::string valueText = colon == std::string::npos ? "" : arg.substr(colon + 1);
  if (colon == std::string::npos || !whole(indexText, index) || !whole(valueText, value))
    return RejectOption("Invalid value \"" + arg + "\" for option \"" + opt +
                        "\", required syntax is \"index:value\"");
  auto outside = [](const std::string& number, long long lo, long long hi) {
    return "The value for \"streamid\" was \"" + number + "\" which is not within " + std::to_string(lo) + " - " +
           std::to_string(hi);
  };
  if (index < 0 || index > 1023) return RejectOption(outside(indexText, 0, 1023));
  if (value < 0 || value > INT32_MAX) return RejectOption(outside(valueText, 0, INT32_MAX));
  if (o->streamid_map.size() <= static_cast<std::size_t>(index)) o->streamid_map.resize(index + 1, 0);
  o->streamid_map[index] = static_cast<std::int32_t>(value);
  return 0;
}

}  // namespace engine
