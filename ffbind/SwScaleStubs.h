#pragma once
// Entry table of swscale: one pointer per entry the system calls, bound by
// exported name when the library is loaded, nullptr while it is not.
#include "ffbind/EntryTable.h"
#include "ffbind/FFHeaders.h"

#define FFBIND_SWSCALE_ENTRIES(X) \
  X(swscale_version) \
  X(sws_freeContext) \
  X(sws_get_class) \
  X(sws_getContext) \
  X(sws_getCachedContext) \
  X(sws_scale)

namespace ff {
FFBIND_SWSCALE_ENTRIES(FFBIND_DECLARE_ENTRY)
}  // namespace ff

namespace ffbind {
extern const TEntryTable kSwScaleEntries;
}  // namespace ffbind
