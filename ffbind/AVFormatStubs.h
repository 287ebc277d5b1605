#pragma once
// Entry table of avformat: one pointer per entry the system calls, bound by
// exported name when the library is loaded, nullptr while it is not.
#include "ffbind/EntryTable.h"
#include "ffbind/FFHeaders.h"

#define FFBIND_AVFORMAT_ENTRIES(X) \
  X(avformat_version) \
  X(av_codec_get_id) \
  X(av_codec_get_tag) \
  X(av_dump_format) \
  X(av_filename_number_test) \
  X(av_find_best_stream) \
  X(av_find_input_format) \
  X(av_get_packet) \
  X(av_guess_codec) \
  X(av_guess_format) \
  X(av_interleaved_write_frame) \
  X(av_write_frame) \
  X(av_pkt_dump_log2) \
  X(av_read_frame) \
  X(av_read_pause) \
  X(av_read_play) \
  X(av_sdp_create) \
  X(av_seek_frame) \
  X(av_write_trailer) \
  X(avformat_alloc_context) \
  X(avformat_alloc_output_context2) \
  X(avformat_find_stream_info) \
  X(avformat_free_context) \
  X(avformat_get_class) \
  X(avformat_network_deinit) \
  X(avformat_network_init) \
  X(avformat_new_stream) \
  X(avformat_open_input) \
  X(avformat_close_input) \
  X(avformat_seek_file) \
  X(avformat_write_header) \
  X(avformat_query_codec) \
  X(av_new_program) \
  X(av_program_add_stream_index) \
  X(av_demuxer_iterate) \
  X(av_muxer_iterate) \
  X(avio_enum_protocols) \
  X(avio_alloc_context) \
  X(avio_context_free) \
  X(avio_check) \
  X(avio_close) \
  X(avio_closep) \
  X(avio_flush) \
  X(avio_open) \
  X(avio_open2) \
  X(avio_read) \
  X(avio_seek) \
  X(avio_size) \
  X(avio_write)

namespace ff {
FFBIND_AVFORMAT_ENTRIES(FFBIND_DECLARE_ENTRY)
}  // namespace ff

namespace ffbind {
extern const TEntryTable kAVFormatEntries;
}  // namespace ffbind

namespace ff {
// Current position of an I/O context: not an export, computed from avio_seek.
inline std::int64_t avio_tell(AVIOContext* s) { return avio_seek(s, 0, SEEK_CUR); }
}  // namespace ff
