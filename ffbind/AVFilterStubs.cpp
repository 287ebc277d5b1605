#include "ffbind/AVFilterStubs.h"

namespace ff {
FFBIND_AVFILTER_ENTRIES(FFBIND_DEFINE_ENTRY)
}  // namespace ff

namespace ffbind {
namespace {
const TEntryBinding kRows[] = {FFBIND_AVFILTER_ENTRIES(FFBIND_ENTRY_ROW)};
}  // namespace
const TEntryTable kAVFilterEntries{kRows};
}  // namespace ffbind
