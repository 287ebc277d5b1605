#include "ffbind/AVDeviceStubs.h"

namespace ff {
FFBIND_AVDEVICE_ENTRIES(FFBIND_DEFINE_ENTRY)
}  // namespace ff

namespace ffbind {
namespace {
const TEntryBinding kRows[] = {FFBIND_AVDEVICE_ENTRIES(FFBIND_ENTRY_ROW)};
}  // namespace
const TEntryTable kAVDeviceEntries{kRows};
}  // namespace ffbind
