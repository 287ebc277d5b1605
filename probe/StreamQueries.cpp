// Queries on the open input: names, container and stream records, programs
// and stream kinds.
#include <cerrno>
#include <climits>
#include <cstdlib>

#include "ffbind/AVUtilStubs.h"
#include "probe/FFDecode.h"
#include "util/FFUtils.h"

namespace probe {
namespace {

const char* const kFileNotLoaded = "file not loaded.";

// The whole key must match, in any letter case: containers differ in how
// they spell the same tag ("title", "TITLE").
std::string MetaValue(const AVDictionary* dict, const char* key) {
  const AVDictionaryEntry* e = ff::av_dict_get(dict, key, nullptr, 0);
  return e && e->value ? e->value : "";
}

// A whole decimal integer (leading blanks allowed), else 0.
std::int32_t MetaNumber(const AVDictionary* dict, const char* key) {
  const std::string text = MetaValue(dict, key);
  if (text.empty()) return 0;
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || end == text.c_str() || value < INT_MIN || value > INT_MAX) return 0;
  return static_cast<std::int32_t>(value);
}

std::int32_t ClampToInt32(std::int64_t value) {
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<std::int32_t>(value);
}

void FillTimed(TTimedStreamInfo& info, AVStream* st) {
  info.Language = MetaValue(st->metadata, "language");
  info.CodecName = ffutil::CodecNameText(st->codecpar, ffutil::TCodecSide::Decoder);
  // A broken time base would make every rescale divide by zero.
  if (st->time_base.den == 0) st->time_base.den = st->time_base.num != 0 ? st->time_base.num : 1;
  const AVRational microseconds{1, AV_TIME_BASE};
  info.StartTime = st->start_time;
  if (st->start_time != kNoTime) info.StartTimeScaled = ff::av_rescale_q(st->start_time, st->time_base, microseconds);
  info.Duration = st->duration;
  if (st->duration != kNoTime) info.DurationScaled = ff::av_rescale_q(st->duration, st->time_base, microseconds);
  info.BitRate = ClampToInt32(st->codecpar->bit_rate);
}

}  // namespace

std::string TCustomDecoder::FileName() {
  if (!FFileHandle) {
    Report(fflog::llWarning, kFileNotLoaded);
    return "";
  }
  return FFileHandle->url ? FFileHandle->url : "";
}

std::string TCustomDecoder::FormatName() {
  if (!FFileHandle) {
    Report(fflog::llWarning, kFileNotLoaded);
    return "";
  }
  return FFileHandle->iformat && FFileHandle->iformat->name ? FFileHandle->iformat->name : "";
}

std::string TCustomDecoder::FormatLongName() {
  if (!FFileHandle) {
    Report(fflog::llWarning, kFileNotLoaded);
    return "";
  }
  return FFileHandle->iformat && FFileHandle->iformat->long_name ? FFileHandle->iformat->long_name : "";
}

TFileStreamInfo TCustomDecoder::FileStreamInfo() {
  TFileStreamInfo info;
  if (!FFileHandle) {
    Report(fflog::llWarning, kFileNotLoaded);
    return info;
  }
  const AVDictionary* meta = FFileHandle->metadata;
  info.StartTime = FFileHandle->start_time;
  info.Duration = FFileHandle->duration == kNoTime ? -1 : FFileHandle->duration;
  info.BitRate = ClampToInt32(FFileHandle->bit_rate);
  info.TimeStamp = 0;
  if (const std::string created = MetaValue(meta, "creation_time"); !created.empty()) {
    std::int64_t when = 0;
    if (ff::av_parse_time(&when, created.c_str(), 0) >= 0) info.TimeStamp = when;
  }
  info.Year = MetaNumber(meta, "year");
  info.Track = MetaNumber(meta, "track");
  info.Title = MetaValue(meta, "title");
  info.Author = MetaValue(meta, "author");
  info.Copyright = MetaValue(meta, "copyright");
  info.Comment = MetaValue(meta, "comment");
  info.Album = MetaValue(meta, "album");
  info.Genre = MetaValue(meta, "genre");
  return info;
}

AVStream* TCustomDecoder::StreamForQuery(int index, AVMediaType type, const char* kind) {
  if (!FFileHandle) {
    Report(fflog::llWarning, kFileNotLoaded);
    return nullptr;
  }
  if (index < 0) {
    index = type == AVMEDIA_TYPE_AUDIO   ? FFirstAudioStreamIndex
            : type == AVMEDIA_TYPE_VIDEO ? FFirstVideoStreamIndex
                                         : FFirstSubtitleStreamIndex;
    if (index < 0) {
      Report(fflog::llError, std::string("no ") + kind + " stream.");
      return nullptr;
    }
  } else if (static_cast<unsigned>(index) >= FFileHandle->nb_streams) {
    Report(fflog::llError, "stream index #" + std::to_string(index) + " is invalid.");
    return nullptr;
  }
  AVStream* st = FFileHandle->streams[index];
  if (st->codecpar->codec_type != type) {
    Report(fflog::llError, "stream #" + std::to_string(index) + " is not " + kind + " stream.");
    return nullptr;
  }
  return st;
}

TAudioStreamInfo TCustomDecoder::GetAudioStreamInfos(int index) {
  TAudioStreamInfo info;
  AVStream* st = StreamForQuery(index, AVMEDIA_TYPE_AUDIO, "audio");
  if (!st) return info;
  FillTimed(info, st);
  info.Channels = st->codecpar->ch_layout.nb_channels;
  info.SampleRate = st->codecpar->sample_rate;
  info.SampleFormat = static_cast<AVSampleFormat>(st->codecpar->format);
  return info;
}

TVideoStreamInfo TCustomDecoder::GetVideoStreamInfos(int index) {
  TVideoStreamInfo info;
  AVStream* st = StreamForQuery(index, AVMEDIA_TYPE_VIDEO, "video");
  if (!st) return info;
  FillTimed(info, st);
  const AVCodecParameters* par = st->codecpar;
  info.Height = par->height;
  info.Width = par->width;
  const AVRational sar = par->sample_aspect_ratio;
  info.AspectRatio = sar.num != 0 && sar.den != 0 && par->height != 0
                         ? static_cast<float>(par->width * (static_cast<double>(sar.num) / sar.den) / par->height)
                         : 0.0f;
  info.PixFmt = static_cast<AVPixelFormat>(par->format);
  info.FrameRate = st->avg_frame_rate.num != 0 && st->avg_frame_rate.den != 0 ? st->avg_frame_rate : st->r_frame_rate;
  return info;
}

TSubtitleStreamInfo TCustomDecoder::GetSubtitleStreamInfos(int index) {
  TSubtitleStreamInfo info;
  AVStream* st = StreamForQuery(index, AVMEDIA_TYPE_SUBTITLE, "subtitle");
  if (!st) return info;
  info.Language = MetaValue(st->metadata, "language");
  info.CodecName = ffutil::CodecNameText(st->codecpar, ffutil::TCodecSide::Decoder);
  return info;
}

TAVProgram TCustomDecoder::GetProgrames(int index) {
  TAVProgram program{};
  program.id = -1;
  program.flags = -1;
  program.discard = AVDISCARD_NONE;
  if (!FFileHandle) {
    Report(fflog::llWarning, kFileNotLoaded);
  } else if (FFileHandle->nb_programs == 0) {
    Report(fflog::llError, "no program found.");
  } else if (index < 0 || static_cast<unsigned>(index) >= FFileHandle->nb_programs) {
    Report(fflog::llError, "program index #" + std::to_string(index) + " is invalid.");
  } else {
    program = *FFileHandle->programs[index];
  }
  return program;
}

bool TCustomDecoder::StreamOfType(int streamIndex, AVMediaType type) {
  if (!FFileHandle) {
    Report(fflog::llWarning, kFileNotLoaded);
    return false;
  }
  if (streamIndex < 0 || static_cast<unsigned>(streamIndex) >= FFileHandle->nb_streams) {
    Report(fflog::llError, "stream index #" + std::to_string(streamIndex) + " is invalid.");
    return false;
  }
  return FFileHandle->streams[streamIndex]->codecpar->codec_type == type;
}

bool TCustomDecoder::IsAudioStream(int streamIndex) { return StreamOfType(streamIndex, AVMEDIA_TYPE_AUDIO); }
bool TCustomDecoder::IsVideoStream(int streamIndex) { return StreamOfType(streamIndex, AVMEDIA_TYPE_VIDEO); }
bool TCustomDecoder::IsSubtitleStream(int streamIndex) { return StreamOfType(streamIndex, AVMEDIA_TYPE_SUBTITLE); }

}  // namespace probe
