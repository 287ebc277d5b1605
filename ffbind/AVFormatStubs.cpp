#include "ffbind/AVFormatStubs.h"

namespace ff {
FFBIND_AVFORMAT_ENTRIES(FFBIND_DEFINE_ENTRY)
}  // namespace ff

namespace ffbind {
namespace {
const TEntryBinding kRows[] = {FFBIND_AVFORMAT_ENTRIES(FFBIND_ENTRY_ROW)};
}  // namespace
const TEntryTable kAVFormatEntries{kRows};
}  // namespace ffbind
