#include "ffbind/AVCodecStubs.h"

namespace ff {
FFBIND_AVCODEC_ENTRIES(FFBIND_DEFINE_ENTRY)
}  // namespace ff

namespace ffbind {
namespace {
const TEntryBinding kRows[] = {FFBIND_AVCODEC_ENTRIES(FFBIND_ENTRY_ROW)};
}  // namespace
const TEntryTable kAVCodecEntries{kRows};
}  // namespace ffbind
