#pragma once
// Entry table of swresample: one pointer per entry the system calls, bound by
// exported name when the library is loaded, nullptr while it is not.
#include "ffbind/EntryTable.h"
#include "ffbind/FFHeaders.h"

#define FFBIND_SWRESAMPLE_ENTRIES(X) \
  X(swresample_version) \
  X(swr_alloc) \
  X(swr_alloc_set_opts2) \
  X(swr_set_compensation) \
  X(swr_convert) \
  X(swr_free) \
  X(swr_init) \
  X(swr_set_channel_mapping) \
  X(swr_get_delay) \
  X(swr_get_class)

namespace ff {
FFBIND_SWRESAMPLE_ENTRIES(FFBIND_DECLARE_ENTRY)
}  // namespace ff

namespace ffbind {
extern const TEntryTable kSwResampleEntries;
}  // namespace ffbind
