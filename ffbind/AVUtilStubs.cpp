#include "ffbind/AVUtilStubs.h"

namespace ff {
FFBIND_AVUTIL_ENTRIES(FFBIND_DEFINE_ENTRY)
}  // namespace ff

namespace ffbind {
namespace {
const TEntryBinding kRows[] = {FFBIND_AVUTIL_ENTRIES(FFBIND_ENTRY_ROW)};
}  // namespace
const TEntryTable kAVUtilEntries{kRows};
}  // namespace ffbind
