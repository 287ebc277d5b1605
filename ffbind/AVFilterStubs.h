#pragma once
// Entry table of avfilter: one pointer per entry the system calls, bound by
// exported name when the library is loaded, nullptr while it is not.
#include "ffbind/EntryTable.h"
#include "ffbind/FFHeaders.h"

#define FFBIND_AVFILTER_ENTRIES(X) \
  X(avfilter_version) \
  X(avfilter_get_by_name) \
  X(avfilter_graph_alloc) \
  X(avfilter_graph_config) \
  X(avfilter_graph_create_filter) \
  X(avfilter_graph_free) \
  X(avfilter_graph_parse_ptr) \
  X(avfilter_inout_alloc) \
  X(avfilter_inout_free) \
  X(avfilter_link) \
  X(avfilter_config_links) \
  X(avfilter_graph_request_oldest) \
  X(av_filter_iterate) \
  X(av_buffersrc_add_frame_flags) \
  X(av_buffersrc_parameters_alloc) \
  X(av_buffersrc_parameters_set) \
  X(av_buffersink_get_frame_flags) \
  X(av_buffersink_get_w) \
  X(av_buffersink_get_h) \
  X(av_buffersink_get_format) \
  X(av_buffersink_get_sample_aspect_ratio) \
  X(av_buffersink_get_time_base) \
  X(av_buffersink_get_frame_rate)

namespace ff {
FFBIND_AVFILTER_ENTRIES(FFBIND_DECLARE_ENTRY)
}  // namespace ff

namespace ffbind {
extern const TEntryTable kAVFilterEntries;
}  // namespace ffbind
