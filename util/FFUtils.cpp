#include "util/FFUtils.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sys/stat.h>

#include "ffbind/AVCodecStubs.h"
#include "ffbind/AVUtilStubs.h"

namespace ffutil {

void CheckArrayGrowth(std::size_t newCount, std::size_t elementSize) {
  if (elementSize == 0 || newCount >= 2147483647u / elementSize) throw std::runtime_error("Array too big.");
}

std::string DurationText(std::int64_t t) {
  if (t == AV_NOPTS_VALUE) return "N/A";
  const char* sign = t < 0 ? "-" : "";
  const std::uint64_t magnitude = t < 0 ? 0 - static_cast<std::uint64_t>(t) : static_cast<std::uint64_t>(t);
  const std::uint64_t s = magnitude / 1000000, u = magnitude % 1000000;
  char text[64];
  std::snprintf(text, sizeof text, "%s%.2" PRIu64 ":%.2" PRIu64 ":%.2" PRIu64 ".%.3" PRIu64, sign, s / 3600,
                (s / 60) % 60, s % 60, u / 1000);
  return text;
}

std::string TimeText(AVRational tb, std::int64_t t) {
  if (t != AV_NOPTS_VALUE && !(tb.num == 1 && tb.den == 1000000)) t = ff::av_rescale_q(t, tb, AVRational{1, 1000000});
  return DurationText(t);
}

std::int64_t FrameDuration(AVRational rate) {
  if (rate.num == 0 || rate.den == 0) return 1000000 / 25;
  return std::int64_t{1000000} * rate.den / rate.num;
}

std::string TimeZoneText(std::time_t at) {
  std::tm local{};
  localtime_r(&at, &local);
  const long offsetMinutes = local.tm_gmtoff / 60;  // local time minus UTC
  if (offsetMinutes == 0) return "UTC";
  const long magnitude = std::labs(offsetMinutes);
  char text[32];
  std::snprintf(text, sizeof text, "UTC%c%.2ld:%.2ld", offsetMinutes > 0 ? '+' : '-', magnitude / 60, magnitude % 60);
  return text;
}

std::tm LocalDate(std::int64_t unixSeconds) {
  const std::time_t at = static_cast<std::time_t>(unixSeconds);
  std::tm local{};
  localtime_r(&at, &local);
  return local;
}

std::string MediaTypeName(int type) {
  static const char* const kNames[] = {"Video", "Audio", "Data", "Subtitle", "Attachment"};
  return type >= 0 && type < 5 ? kNames[type] : "Unknown";
}

std::string PictureTypeName(int type) {
  static const char* const kNames[] = {"Intra",           "Predicted",           "Bi-dir predicted", "S(GMC)-VOP MPEG4",
                                       "Switching Intra", "Switching Predicted", "BI type"};
  return type >= 1 && type <= 7 ? kNames[type - 1] : "Unknown";
}

namespace {

std::string Trimmed(const char* text) {
  const std::string s = text ? text : "";
  const auto first = s.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return "";
  return s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1);
}

std::string CodecTagText(unsigned tag) {
  const char c[4] = {static_cast<char>(tag & 0xFF), static_cast<char>((tag >> 8) & 0xFF),
                     static_cast<char>((tag >> 16) & 0xFF), static_cast<char>(tag >> 24)};
  bool printable = true;
  for (char ch : c) printable = printable && ch >= 32 && ch <= 126;
  char text[32];
  if (printable)
    std::snprintf(text, sizeof text, "%c%c%c%c / 0x%04X", c[0], c[1], c[2], c[3], tag);
  else
    std::snprintf(text, sizeof text, "0x%04x", tag);
  return text;
}

}  // namespace

std::string CodecNameText(AVCodecID id, unsigned codecTag, TCodecSide side) {
  const AVCodec* codec = side == TCodecSide::Encoder ? ff::avcodec_find_encoder(id) : ff::avcodec_find_decoder(id);
  if (codec) {
    const std::string longName = Trimmed(codec->long_name);
    return longName.empty() ? std::string(codec->name) : std::string(codec->name) + "(" + longName + ")";
  }
  if (id == AV_CODEC_ID_MPEG2TS) return "mpeg2ts";
  return CodecTagText(codecTag);
}

std::string CodecNameText(const AVCodecParameters* par, TCodecSide side) {
  return CodecNameText(par->codec_id, par->codec_tag, side);
}

std::string CodecNameText(const AVCodecContext* ctx, TCodecSide side) {
  return CodecNameText(ctx->codec_id, ctx->codec_tag, side);
}

std::string DictValue(const AVDictionary* dict, const std::string& key, const std::string& def) {
  const AVDictionaryEntry* entry = ff::av_dict_get(dict, key.c_str(), nullptr, 0);
  return entry ? entry->value : def;
}

int ReadWholeFile(const std::string& fileName, std::vector<char>& buffer) {
  struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  buffer.clear();
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(fileName.c_str(), "rb"));
  struct stat st {};
  if (!file || ::fstat(::fileno(file.get()), &st) != 0) {
    ff::av_log(nullptr, AV_LOG_ERROR, "Cannot read file \"%s\"\n", fileName.c_str());
    return -1;
  }
  const auto size = static_cast<std::size_t>(st.st_size);
  try {
    buffer.assign(size + 1, '\0');
  } catch (const std::exception&) {  // bad_alloc, or a size beyond max_size
    ff::av_log(nullptr, AV_LOG_ERROR, "Could not allocate file buffer\n");
    return AVERROR(ENOMEM);
  }
  const std::size_t got = std::fread(buffer.data(), 1, size, file.get());
  if (std::ferror(file.get())) {
    buffer.clear();
    ff::av_log(nullptr, AV_LOG_ERROR, "Error while reading file \"%s\"\n", fileName.c_str());
    return AVERROR(EIO);
  }
  if (got != size) {
    buffer.clear();
    return AVERROR_EOF;
  }
  return 0;
}

}  // namespace ffutil
