#include "ffbind/SwResampleStubs.h"

namespace ff {
FFBIND_SWRESAMPLE_ENTRIES(FFBIND_DEFINE_ENTRY)
}  // namespace ff

namespace ffbind {
namespace {
const TEntryBinding kRows[] = {FFBIND_SWRESAMPLE_ENTRIES(FFBIND_ENTRY_ROW)};
}  // namespace
const TEntryTable kSwResampleEntries{kRows};
}  // namespace ffbind
