// Library diagnostic: loads each library of the encoder set from the
// program folder and prints the file it came from and the version it
// reports, or the loader's error text. Exit code 1 when any failed.
#include <cstdio>

#include "ffbind/FFLoad.h"

namespace {

const char* const kLibraryTitles[ffbind::kLibraryCount] = {"avcodec",    "avdevice", "avfilter", "avformat",
                                                           "avutil",     "swresample", "swscale", "C library"};

}  // namespace

int main() {
  using namespace ffbind;
  FFLoader.SetLibraryPath(ProgramFolder());
  std::printf("library folder: %s\n", FFLoader.LibraryPath().c_str());
  int failures = 0;
  for (int i = 0; i < kLibraryCount; ++i) {
    const auto lib = static_cast<TLibrary>(i);
    if (!FFLoader.Load(lib)) {
      std::printf("%-10s %s\n", kLibraryTitles[i], FFLoader.LastErrMsg().c_str());
      ++failures;
      continue;
    }
    const unsigned v = FFLoader.RuntimeVersion(lib);
    char version[32] = "-";
    if (v) std::snprintf(version, sizeof version, "%u.%u.%u", v >> 16, (v >> 8) & 0xFF, v & 0xFF);
    std::printf("%-10s %-10s %s\n", kLibraryTitles[i], version, FFLoader.ModuleFileName(lib).c_str());
  }
  return failures ? 1 : 0;
}
