#pragma once
// Entry table of avcodec: one pointer per entry the system calls, bound by
// exported name when the library is loaded, nullptr while it is not.
#include "ffbind/EntryTable.h"
#include "ffbind/FFHeaders.h"

#define FFBIND_AVCODEC_ENTRIES(X) \
  X(avcodec_version) \
  X(av_get_bits_per_sample) \
  X(avcodec_align_dimensions2) \
  X(avcodec_alloc_context3) \
  X(avcodec_free_context) \
  X(avcodec_close) \
  X(avcodec_open2) \
  X(avcodec_parameters_from_context) \
  X(avcodec_parameters_to_context) \
  X(avcodec_parameters_copy) \
  X(avcodec_send_packet) \
  X(avcodec_receive_frame) \
  X(avcodec_send_frame) \
  X(avcodec_receive_packet) \
  X(avcodec_decode_subtitle2) \
  X(avcodec_encode_subtitle) \
  X(avcodec_find_best_pix_fmt_of_list) \
  X(avcodec_find_decoder) \
  X(avcodec_find_decoder_by_name) \
  X(avcodec_find_encoder) \
  X(avcodec_find_encoder_by_name) \
  X(avcodec_flush_buffers) \
  X(avcodec_get_class) \
  X(avcodec_get_name) \
  X(avcodec_string) \
  X(avcodec_descriptor_get) \
  X(avcodec_get_type) \
  X(av_codec_iterate) \
  X(av_codec_is_encoder) \
  X(av_codec_is_decoder) \
  X(avsubtitle_free) \
  X(avcodec_is_open) \
  X(av_packet_alloc) \
  X(av_packet_free) \
  X(av_packet_unref) \
  X(av_packet_ref) \
  X(av_packet_make_refcounted) \
  X(av_packet_rescale_ts) \
  X(av_new_packet) \
  X(av_grow_packet) \
  X(av_shrink_packet) \
  X(av_packet_get_side_data) \
  X(av_bsf_get_by_name) \
  X(av_bsf_alloc) \
  X(av_bsf_init) \
  X(av_bsf_send_packet) \
  X(av_bsf_receive_packet) \
  X(av_bsf_free)

namespace ff {
FFBIND_AVCODEC_ENTRIES(FFBIND_DECLARE_ENTRY)
}  // namespace ff

namespace ffbind {
extern const TEntryTable kAVCodecEntries;
}  // namespace ffbind
