#pragma once
// Shared routines of the engine, the probe and the preview: error texts,
// array growth and the formatters of durations, times and names. They keep
// no state. Routines marked "libraries" need the FFmpeg libraries loaded
// (ffbind::FFLoader); the others work without them.
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "ffbind/FFHeaders.h"

namespace ffutil {

// prefix + ": " + the text of a library error code; a code without a text
// gives "Error number <code> occurred".
std::string ErrorText(const std::string& prefix, int code);

// Throws std::runtime_error("Array too big.") when newCount elements of
// elementSize bytes would not stay below 2 GiB.
void CheckArrayGrowth(std::size_t newCount, std::size_t elementSize);

// Enlarges array to newCount value-initialised (for records: zero-filled)
// elements; an array that is already that large is left alone. Throws
// "Array too big." (see CheckArrayGrowth) or "Could not alloc buffer.".
template <class T>
void GrowArray(std::vector<T>& array, std::size_t newCount) {
  if (array.size() >= newCount) return;
  CheckArrayGrowth(newCount, sizeof(T));
  try {
    array.resize(newCount);
  } catch (const std::exception&) {  // bad_alloc, or a size beyond max_size
    throw std::runtime_error("Could not alloc buffer.");
  }
}

// "hh:mm:ss.mmm" of a time in microseconds; "N/A" for AV_NOPTS_VALUE.
// Negative times get a leading "-".
std::string DurationText(std::int64_t t);
// DurationText of t given in time base tb (libraries).
std::string TimeText(AVRational tb, std::int64_t t);
// Microseconds one frame lasts at rate: 1000000 * den / num, or 40000
// (25 frames per second) when either part is 0.
std::int64_t FrameDuration(AVRational rate);

// "UTC" when local time equals UTC at the given moment, else "UTC+hh:mm"
// for zones ahead of UTC and "UTC-hh:mm" for zones behind it.
std::string TimeZoneText(std::time_t at = std::time(nullptr));
// Local calendar date and time of a Unix time in seconds.
std::tm LocalDate(std::int64_t unixSeconds);

// "Video", "Audio", "Data", "Subtitle", "Attachment", else "Unknown".
std::string MediaTypeName(int type);
// "Intra", "Predicted", "Bi-dir predicted", ... for AVPictureType 1..7,
// else "Unknown".
std::string PictureTypeName(int type);

enum class TCodecSide { Decoder, Encoder };
// Name of the decoder or encoder of a codec id, with its long name:
// "mpeg4(MPEG-4 part 2)". Without such a codec: "mpeg2ts" for the MPEG-2
// transport stream pseudo codec, else the codec tag ("XVID / 0x44495658",
// or "0x0001" when not printable). Libraries.
std::string CodecNameText(AVCodecID id, unsigned codecTag, TCodecSide side);
std::string CodecNameText(const AVCodecParameters* par, TCodecSide side = TCodecSide::Decoder);
std::string CodecNameText(const AVCodecContext* ctx, TCodecSide side);

// Value of key in dict (nullptr allowed), else def. Libraries.
std::string DictValue(const AVDictionary* dict, const std::string& key, const std::string& def);

// Reads a whole file: on success returns 0 and buffer holds its bytes plus a
// terminating zero (buffer.size() is the file size + 1). Failures return -1
// (cannot open), AVERROR(ENOMEM), AVERROR(EIO) (read error), each logged
// through av_log at error level, or AVERROR_EOF (the file shrank while
// read) without a message; buffer is then empty. Libraries.
int ReadWholeFile(const std::string& fileName, std::vector<char>& buffer);

}  // namespace ffutil
