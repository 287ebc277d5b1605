#pragma once
// Generic options handed to the FFmpeg libraries: the three option holders
// of one file to be opened (scaler, demuxer/muxer, codecs), the lookup that
// sorts an option into them (opt_default), stream specifiers and the
// per-stream filtering of codec options. Shared by the engine and the media
// probe. Every call needs avcodec, avformat, avutil and swscale loaded.
// Not thread-safe per holder; the option-error text they set is
// process-wide (util/OptionWords.h).
#include <string>
#include <vector>

#include "ffbind/FFHeaders.h"

namespace ffutil {

// Option holders of the next file to open. The scaler context exists only
// to hold scaler option values.
struct TFFOptions {
  SwsContext* sws_opts = nullptr;
  AVDictionary* format_opts = nullptr;
  AVDictionary* codec_opts = nullptr;

  TFFOptions() = default;
  TFFOptions(const TFFOptions&) = delete;
  TFFOptions& operator=(const TFFOptions&) = delete;
  ~TFFOptions() { Release(); }

  // Frees all three, then creates the scaler holder anew (16x16 to 16x16,
  // pixel format 0, the given flags) with empty dictionaries.
  void Init(int swsFlags = 4);
  // Frees all three (nothing to do when they are already empty).
  void Release();
};

// The library's option-not-found code.
inline constexpr int kOptionNotFound = AVERROR_OPTION_NOT_FOUND;

// Hands one option to the libraries: a codec option goes to codec_opts, a
// format option (including the private options of our own input formats)
// to format_opts, both keyed as written (with the specifier); a scaler
// option is set on sws_opts at once. 0 when any of them knew it; otherwise
// the option-error text becomes "Unrecognized option \"%s\"" and the
// result is kOptionNotFound; a scaler value that does not fit gives
// "Error setting option \"%s\"" and the library's code.
int opt_default(TFFOptions& options, const std::string& opt, const std::string& arg);

// Whether opt_default would take the option; nothing is stored.
bool IsLibraryOption(const std::string& opt);

// 1 when the stream matches the specifier, 0 when not, AVERROR(EINVAL)
// (logged) for an invalid specifier. Forms: "" (all), N (index), v|a|s|d|t
// [:N] (type, N-th of that type), p:ID[:N] (program, its N-th stream).
int check_stream_specifier(const AVFormatContext* s, const AVStream* st, const std::string& spec);

// The codec options of dict that apply to one stream, keys without their
// specifier; nullptr when there is no codec, nothing applies or a specifier
// is invalid. The caller owns the result (av_dict_free).
AVDictionary* FilterCodecOptions(const AVDictionary* dict, const AVCodec* codec, const AVFormatContext* s,
                                 const AVStream* st);

// One filtered codec-option dictionary per stream of an opened input, for
// avformat_find_stream_info. Frees them when it goes.
class TStreamInfoOptions {
 public:
  TStreamInfoOptions() = default;
  TStreamInfoOptions(const TStreamInfoOptions&) = delete;
  TStreamInfoOptions& operator=(const TStreamInfoOptions&) = delete;
  TStreamInfoOptions(TStreamInfoOptions&& other) noexcept : FDicts(std::move(other.FDicts)) {}
  ~TStreamInfoOptions();

  // nullptr when there are none (the library then uses no options).
  AVDictionary** Data() { return FDicts.empty() ? nullptr : FDicts.data(); }
  std::size_t Count() const { return FDicts.size(); }

 private:
  friend TStreamInfoOptions SetupFindStreamInfoOptions(const AVFormatContext* s, const AVDictionary* codec_opts);
  std::vector<AVDictionary*> FDicts;
};

// For each stream: FilterCodecOptions with the decoder registered for the
// stream's codec id. Empty when the context has no streams.
TStreamInfoOptions SetupFindStreamInfoOptions(const AVFormatContext* s, const AVDictionary* codec_opts);

}  // namespace ffutil
