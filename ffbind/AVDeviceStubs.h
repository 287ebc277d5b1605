#pragma once
// Entry table of avdevice: one pointer per entry the system calls, bound by
// exported name when the library is loaded, nullptr while it is not.
#include "ffbind/EntryTable.h"
#include "ffbind/FFHeaders.h"

#define FFBIND_AVDEVICE_ENTRIES(X) \
  X(avdevice_version) \
  X(avdevice_register_all)

namespace ff {
FFBIND_AVDEVICE_ENTRIES(FFBIND_DECLARE_ENTRY)
}  // namespace ff

namespace ffbind {
extern const TEntryTable kAVDeviceEntries;
}  // namespace ffbind
