#include "ffbind/SwScaleStubs.h"

namespace ff {
FFBIND_SWSCALE_ENTRIES(FFBIND_DEFINE_ENTRY)
}  // namespace ff

namespace ffbind {
namespace {
const TEntryBinding kRows[] = {FFBIND_SWSCALE_ENTRIES(FFBIND_ENTRY_ROW)};
}  // namespace
const TEntryTable kSwScaleEntries{kRows};
}  // namespace ffbind
