#pragma once
// The engine's records of opened inputs and outputs and their streams.
// Opening fills them; the transcoding loop adds its state. Every library
// object a record holds is owned by it and released with it (the libraries
// must still be loaded then).
#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "ffbind/FFHeaders.h"
#include "ffbind/Owned.h"

namespace engine {

// The library objects' holders, shared with the rest of the system.
using ffbind::TAudioFifo;
using ffbind::TBSFContext;
using ffbind::TCodecContext;
using ffbind::TDictionary;
using ffbind::TFilterGraph;
using ffbind::TFrame;
using ffbind::TInputContext;
using ffbind::TPacket;
using ffbind::TSwrContext;

// Closes an output's byte sink, deletes the file when it is left with 0
// bytes (the muxer wrote nothing), and frees the muxer context.
struct TOutputContextCloser {
  void operator()(AVFormatContext* s) const;
};
using TOutputContext = std::unique_ptr<AVFormatContext, TOutputContextCloser>;

struct TFileClose {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using TFile = std::unique_ptr<std::FILE, TFileClose>;

// Dictionary helpers for the TDictionary holders: the library writes
// through a plain pointer, so the holder is released and taken back.
class TDictionaryRef {
 public:
  explicit TDictionaryRef(TDictionary& d) : FOwner(d), FDict(d.release()) {}
  ~TDictionaryRef() { FOwner.reset(FDict); }
  TDictionaryRef(const TDictionaryRef&) = delete;
  TDictionaryRef& operator=(const TDictionaryRef&) = delete;
  AVDictionary** operator&() { return &FDict; }
  AVDictionary* get() const { return FDict; }

 private:
  TDictionary& FOwner;
  AVDictionary* FDict;
};

struct TInputFile {
  TInputContext ctx;
  std::int32_t eof_reached = 0;
  std::int32_t ist_index = 0;  // index in the engine's input streams of this file's first stream
  std::int32_t buffer_size = 0;
  std::int64_t ts_offset = 0;  // microseconds
  std::int32_t nb_streams = 0;
  std::int32_t rate_emu = 0;
};

struct TInputStream {
  std::int32_t file_index = 0;
  AVStream* st = nullptr;       // owned by the file's context
  std::int32_t discard = 1;     // 1 while no output uses the stream
  std::int32_t decoding_needed = 0;
  const AVCodec* avdec = nullptr;
  // The stream's own decoder context, filled from the stream's parameters
  // when the input is opened; opened by transcode initialisation.
  TCodecContext dec;
  TFrame decoded_frame, filtered_frame;
  std::int64_t start = 0;  // microseconds (-re clock)
  std::int64_t next_pts = 0;
  std::int64_t pts = 0;
  double ts_scale = 1.0;
  std::int32_t is_start = 0;
  std::int32_t showed_multi_packet_warning = 0;
  TDictionary opts;  // decoder options
  std::int32_t frame_number = 0;
  std::int32_t decoder_flushed = 0;
  std::int32_t join_used = 0;
};

struct TOutputFile {
  TOutputContext ctx;
  TDictionary opts;  // muxer options
  std::int32_t ost_index = 0;
  std::int64_t recording_time = INT64_MAX;  // microseconds
  std::int64_t start_time = 0;              // microseconds
  std::int64_t limit_filesize = INT64_MAX;  // bytes
};

struct TOutputStream {
  std::int32_t file_index = 0;
  std::int32_t index = 0;         // stream index in its file
  std::int32_t source_index = -1; // feeding input stream, -1 for attachments
  AVStream* st = nullptr;         // owned by the file's context
  std::int32_t encoding_needed = 0;
  std::int32_t frame_number = 0;
  TInputStream* sync_ist = nullptr;
  std::int64_t sync_opts = 0;  // next output frame (video) or sample (audio), encoder time base
  std::vector<TBSFContext> bitstream_filters;
  const AVCodec* enc = nullptr;
  // The stream's codec context: the encoder's settings from creation on,
  // opened by transcode initialisation; its parameters go to st->codecpar.
  TCodecContext enc_ctx;
  std::int64_t max_frames = INT64_MAX;

  // Video.
  std::int32_t video_resample = 0;
  std::int32_t resample_height = 0, resample_width = 0;
  AVPixelFormat resample_pix_fmt = AV_PIX_FMT_NONE;
  AVRational frame_rate{0, 0};
  std::int32_t force_fps = 0;
  std::int32_t top_field_first = -1;
  float frame_aspect_ratio = 0;
  std::vector<std::int64_t> forced_kf_pts;  // microseconds, then encoder time base
  std::int32_t forced_kf_index = 0;

  // Audio.
  std::int32_t audio_resample = 0;
  std::array<std::int32_t, 16> audio_channels_map{};
  std::int32_t audio_channels_mapped = 0;
  AVSampleFormat resample_sample_fmt = AV_SAMPLE_FMT_NONE;
  std::int32_t resample_channels = 0, resample_sample_rate = 0;
  float rematrix_volume = 1.0f;
  TAudioFifo fifo;  // encoder-format samples waiting for a whole frame
  TSwrContext swr;  // decoder to encoder format, when they differ
  // End of the last frame given to the encoder (encoder time base): the
  // next one never starts before it, whatever the input's stamps do.
  std::int64_t audio_end = INT64_MIN;

  TFile logfile;        // pass-1 statistics
  std::string stats_in; // pass-2 statistics handed to the encoder

  TFilterGraph graph;
  AVFilterContext* input_video_filter = nullptr;   // owned by graph
  AVFilterContext* output_video_filter = nullptr;  // owned by graph
  std::string avfilter;  // -vf chain, cleared once parsed
  std::int64_t sws_flags = 0;

  TDictionary opts;  // encoder options
  std::int32_t is_past_recording_time = 0;
  std::int32_t stream_copy = 0;
  std::string attachment_filename;
  std::int32_t copy_initial_nonkeyframes = 0;
  AVCodecID codec_id_join = AV_CODEC_ID_NONE;
  TDictionary opts_join;
  std::int32_t not_show_fps = 0;
  std::int32_t encoder_flushed = 0;
  std::int64_t last_dts = AV_NOPTS_VALUE;

  // What the last encoded packet reported (the encoder's coded frame of
  // older library generations): quality in lambda units (118 per
  // quantiser step), picture type, and the error sums of the planes.
  std::int32_t coded_quality = 0;
  AVPictureType coded_pict_type = AV_PICTURE_TYPE_NONE;
  std::array<std::int64_t, 3> coded_error{};
  // End of the last written packet (pts + duration) in the stream time
  // base: how far the stream has come.
  std::int64_t cur_pts = 0;
};

}  // namespace engine
