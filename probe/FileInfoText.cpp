// The readable description of the open input: file, format, size,
// metadata, duration, chapters, programs and one line per stream.
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string_view>
#include <vector>

#include "ffbind/AVCodecStubs.h"
#include "ffbind/AVUtilStubs.h"
#include "ffbind/Owned.h"
#include "probe/FFDecode.h"
#include "probe/FileSize.h"
#include "platform/TextFormat.h"
#include "probe/InfoTexts.h"
#include "util/FFUtils.h"

namespace probe {
namespace {

using platform::Format;

using ffbind::TCodecContext;

using TLines = std::vector<std::string>;

void AddMetadata(TLines& lines, const AVDictionary* dict, const char* indent) {
  if (!dict) return;
  const bool languageOnly =
      ff::av_dict_count(dict) == 1 && ff::av_dict_get(dict, "language", nullptr, 0);
  if (languageOnly) return;
  lines.push_back(std::string(indent) + "Metadata:");
  const AVDictionaryEntry* e = nullptr;
  while ((e = ff::av_dict_get(dict, "", e, AV_DICT_IGNORE_SUFFIX))) {
    if (std::string_view(e->key) == "language") continue;
    std::string value = std::string(e->value ? e->value : "").substr(0, 255);
    for (char& c : value)
      if (c == '\r') c = ' ';
    lines.push_back(Format("%s  %-16s: %s", indent, e->key, value.c_str()));
  }
}

std::string DurationLine(const AVFormatContext* ic) {
  std::string line = "Duration: " + ffutil::DurationText(ic->duration);
  if (ic->start_time != kNoTime) line += ", start: " + StartText(ic->start_time);
  line += ", bitrate: ";
  line += ic->bit_rate > 0 ? Format("%" PRId64 " kb/s", ic->bit_rate / 1000) : std::string("N/A");
  return line;
}

std::string CodecDescription(AVCodecContext* avctx) {
  char buf[256] = "";
  if (avctx) ff::avcodec_string(buf, sizeof buf, avctx, 0);
  return buf;
}

std::string StreamLine(const AVFormatContext* ic, int i) {
  const AVStream* st = ic->streams[i];
  const AVCodecParameters* par = st->codecpar;
  // The description of a stream is written from a codec context; streams
  // keep only their parameters, so one is made for the occasion.
  TCodecContext avctx(ff::avcodec_alloc_context3(nullptr));
  if (avctx && ff::avcodec_parameters_to_context(avctx.get(), par) < 0) avctx.reset();

  std::string line = Format("  Stream #%d", i);
  if (ic->iformat && (ic->iformat->flags & AVFMT_SHOW_IDS)) line += Format("[0x%x]", static_cast<unsigned>(st->id));
  if (const AVDictionaryEntry* lang = ff::av_dict_get(st->metadata, "language", nullptr, 0))
    line += Format("(%s)", lang->value);
  int g = static_cast<int>(ff::av_gcd(st->time_base.num, st->time_base.den));
  if (g == 0) g = 1;
  line += Format(", %d/%d", st->time_base.num / g, st->time_base.den / g);
  line += ": " + CodecDescription(avctx.get());

  if (st->sample_aspect_ratio.num != 0 && av_cmp_q(st->sample_aspect_ratio, par->sample_aspect_ratio) != 0) {
    int dn = 0, dd = 0;
    ff::av_reduce(&dn, &dd, static_cast<std::int64_t>(par->width) * st->sample_aspect_ratio.num,
                  static_cast<std::int64_t>(par->height) * st->sample_aspect_ratio.den, 1024 * 1024);
    line += Format(", SAR %d:%d DAR %d:%d", st->sample_aspect_ratio.num, st->sample_aspect_ratio.den, dn, dd);
  }

  if (par->codec_type == AVMEDIA_TYPE_VIDEO) {
    const auto addRate = [&line](AVRational r, const char* unit) {
      if (r.num != 0 && r.den != 0) line += RateText(av_q2d(r), unit);
    };
    addRate(st->avg_frame_rate, "fps");
    addRate(st->r_frame_rate, "tbr");
    addRate(av_inv_q(st->time_base), "tbn");
    if (avctx) addRate(av_inv_q(avctx->time_base), "tbc");
  }

  static const struct {
    int Flag;
    const char* Text;
  } kDispositions[] = {
      {AV_DISPOSITION_DEFAULT, " (default)"},
      {AV_DISPOSITION_DUB, " (dub)"},
      {AV_DISPOSITION_ORIGINAL, " (original)"},
      {AV_DISPOSITION_COMMENT, " (comment)"},
      {AV_DISPOSITION_LYRICS, " (lyrics)"},
      {AV_DISPOSITION_KARAOKE, " (karaoke)"},
      {AV_DISPOSITION_FORCED, " (forced)"},
      {AV_DISPOSITION_HEARING_IMPAIRED, " (hearing impaired)"},
      {AV_DISPOSITION_VISUAL_IMPAIRED, " (visual impaired)"},
      {AV_DISPOSITION_CLEAN_EFFECTS, " (clean effects)"},
  };
  for (const auto& d : kDispositions)
    if (st->disposition & d.Flag) line += d.Text;

  if (st->start_time != kNoTime) {
    const std::int64_t us = ff::av_rescale_q(st->start_time, st->time_base, AVRational{1, AV_TIME_BASE});
    line += ", start: " + StartText(us);
  }
  if (st->duration != kNoTime) line += ", duration: " + ffutil::TimeText(st->time_base, st->duration);
  return line;
}

void AddStream(TLines& lines, const AVFormatContext* ic, int i, std::vector<bool>& shown) {
  lines.push_back(StreamLine(ic, i));
  AddMetadata(lines, ic->streams[i]->metadata, "  ");
  shown[i] = true;
}

}  // namespace

std::string ByteSizeText(std::int64_t size) {
  if (size > 1073741824) return Format("%.2f GB", size / 1073741824.0);
  if (size > 1048576) return Format("%.2f MB", size / 1048576.0);
  if (size > 1024) return Format("%.2f KB", size / 1024.0);
  return Format("%" PRId64 " Byte", size);
}

std::string StartText(std::int64_t microseconds) {
  if (microseconds == kNoTime) return "";
  return Format("%" PRId64 ".%.6" PRId64, microseconds / 1000000, static_cast<std::int64_t>(std::llabs(microseconds % 1000000)));
}

std::string RateText(double rate, const char* unit) {
  const long long v = std::llrint(rate * 100);
  if (v % 100 != 0) return Format(", %3.2f %s", rate, unit);
  if (v % 100000 != 0) return Format(", %1.0f %s", rate, unit);
  return Format(", %1.0fk %s", rate / 1000, unit);
}

std::string TCustomDecoder::FileInfoText() {
  if (!FFileHandle) {
    Report(fflog::llWarning, "file not loaded.");
    return "";
  }
  AVFormatContext* ic = FFileHandle;
  TLines lines;
  lines.push_back(std::string("File Name: ") + (ic->url ? ic->url : ""));
  const AVInputFormat* fmt = ic->iformat;
  lines.push_back(std::string("Format Name: ") + (fmt && fmt->name ? fmt->name : ""));
  if (fmt && fmt->long_name && *fmt->long_name) lines.push_back(std::string("Format Long Name: ") + fmt->long_name);
  lines.push_back("File Size: " + ByteSizeText(ContextFileSize(ic)));
  AddMetadata(lines, ic->metadata, "");
  lines.push_back(DurationLine(ic));

  for (unsigned c = 0; c < ic->nb_chapters; ++c) {
    const AVChapter* ch = ic->chapters[c];
    const double tb = av_q2d(ch->time_base);
    lines.push_back(Format("Chapter #%u: start %.6f, end %.6f", c, ch->start * tb, ch->end * tb));
    AddMetadata(lines, ch->metadata, "  ");
  }

  std::vector<bool> shown(ic->nb_streams, false);
  if (ic->nb_programs > 0) {
    std::uint64_t listed = 0;
    for (unsigned p = 0; p < ic->nb_programs; ++p) {
      const AVProgram* program = ic->programs[p];
      const AVDictionaryEntry* name = ff::av_dict_get(program->metadata, "name", nullptr, 0);
      lines.push_back(Format("Program %d %s", program->id, name && name->value ? name->value : ""));
      AddMetadata(lines, program->metadata, "  ");
      for (unsigned k = 0; k < program->nb_stream_indexes; ++k)
        if (program->stream_index[k] < ic->nb_streams) AddStream(lines, ic, program->stream_index[k], shown);
      listed += program->nb_stream_indexes;
    }
    if (listed < ic->nb_streams) lines.push_back("No Program");
  }
  for (unsigned i = 0; i < ic->nb_streams; ++i)
    if (!shown[i]) AddStream(lines, ic, i, shown);

  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

}  // namespace probe
