#pragma once
// What option strings leave behind for the next file to open: the per-file
// options context, its per-stream value arrays and map records, and the
// option table entry type.
#include <array>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace engine {

class TCustomFFmpeg;

// One per-stream value: the specifier written after the first ":" of the
// option name ("" when none) and the value, in the member the option's
// kind selects (text, 32-bit, 64-bit, float, double).
struct TSpecifierOpt {
  std::string specifier;
  std::string str;
  std::int32_t i = 0;
  std::int64_t i64 = 0;
  float f = 0;
  double dbl = 0;
};
using TSpecArray = std::vector<TSpecifierOpt>;

// -map: input stream (file_index, stream_index) and the input stream to
// synchronise with.
struct TStreamMap {
  std::int32_t disabled = 0;
  std::int32_t file_index = 0;
  std::int32_t stream_index = 0;
  std::int32_t sync_file_index = 0;
  std::int32_t sync_stream_index = 0;
};

// -map_channel; -1 in an output field matches every output file or stream;
// channel_idx -1 (with -1 input fields) is a muted channel.
struct TAudioChannelMap {
  std::int32_t file_idx = 0;
  std::int32_t stream_idx = 0;
  std::int32_t channel_idx = 0;
  std::int32_t ofile_idx = 0;
  std::int32_t ostream_idx = 0;
};

// One side of a -map_metadata: type_ 'g' global, 's' stream, 'c' chapter,
// 'p' program, with its index.
struct TMetadataMap {
  std::int32_t file_idx = 0;
  char type_ = 'g';
  std::int32_t index = 0;
};
// Element 0 the output side, element 1 the input side.
using TAMetadataMap = std::array<TMetadataMap, 2>;

inline constexpr std::int64_t kNoTimeLimit = INT64_MAX;
inline constexpr std::int32_t kChaptersAuto = INT32_MAX;

// The options that belong to the next file to be opened.
struct TOptionsContext {
  std::int64_t start_time = 0;  // -ss, microseconds
  std::string format;           // -f; empty = none

  TSpecArray codec_names, audio_channels, audio_sample_rate, rematrix_volume, frame_rates, frame_sizes,
      frame_pix_fmts;

  std::int64_t input_ts_offset = 0;  // -itsoffset, microseconds
  std::int32_t rate_emu = 0;         // -re

  TSpecArray ts_scale, dump_attachment;

  std::vector<TStreamMap> stream_maps;
  std::vector<TAudioChannelMap> audio_channel_maps;
  std::vector<TAMetadataMap> meta_data_maps;
  std::int32_t metadata_global_manual = 0;
  std::int32_t metadata_streams_manual = 0;
  std::int32_t metadata_chapters_manual = 0;

  std::vector<std::string> attachments;

  std::int32_t chapters_input_file = kChaptersAuto;
  std::int64_t recording_time = kNoTimeLimit;  // -t, microseconds
  std::int64_t limit_filesize = kNoTimeLimit;  // -fs, bytes
  float mux_preload = 0;                       // seconds
  float mux_max_delay = 0.7f;                  // seconds

  std::int32_t video_disable = 0, audio_disable = 0, subtitle_disable = 0, data_disable = 0;

  std::vector<std::int32_t> streamid_map;  // output stream number -> id

  TSpecArray metadata, max_frames, bitstream_filters, codec_tags, sample_fmts, qscale, forced_key_frames,
      force_fps, frame_aspect_ratios, rc_overrides, intra_matrices, inter_matrices, top_field_first,
      copy_initial_nonkeyframes, filters;
};

// Option table flags.
enum : std::uint32_t {
  ofHasArg = 0x1,
  ofBool = 0x2,
  ofString = 0x8,
  ofInt = 0x80,
  ofFloat = 0x100,
  ofInt64 = 0x400,
  ofFunc2 = 0x2000,
  ofOffset = 0x4000,
  ofSpec = 0x8000,
  ofTime = 0x10000,
  ofDouble = 0x20000,
};
inline constexpr std::uint32_t kStorageFlags = ofBool | ofString | ofInt | ofInt64 | ofTime | ofFloat | ofDouble;

using Tfunc_arg = int (TCustomFFmpeg::*)(const std::string& opt, const std::string& arg);
using Tfunc2_arg = int (TCustomFFmpeg::*)(TOptionsContext* o, const std::string& opt, const std::string& arg);

// Where an entry's value goes: a handler, a field of the options context
// (ofOffset), a per-stream array of it (ofSpec) or a field of the engine.
using TOptDefUnion = std::variant<std::monostate, Tfunc_arg, Tfunc2_arg, std::int32_t TOptionsContext::*,
                                  std::int64_t TOptionsContext::*, float TOptionsContext::*,
                                  std::string TOptionsContext::*, TSpecArray TOptionsContext::*,
                                  std::int32_t TCustomFFmpeg::*, float TCustomFFmpeg::*>;

struct TOptionDef {
  std::string name;  // without the leading "-"; empty ends the table
  std::uint32_t flags = 0;
  TOptDefUnion u;
  const char* help = "";
  const char* argname = nullptr;
};

}  // namespace engine
