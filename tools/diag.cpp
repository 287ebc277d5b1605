#include <cstdio>

#include "ffbind/AVCodecStubs.h"
#include "ffbind/AVDeviceStubs.h"
#include "ffbind/AVFilterStubs.h"
#include "ffbind/AVFormatStubs.h"
#include "ffbind/AVUtilStubs.h"
#include "ffbind/FFLoad.h"
#include "ffbind/SwResampleStubs.h"
#include "ffbind/SwScaleStubs.h"

namespace {

void PrintVersion(const std::string& file, unsigned version) {
  std::printf("%-22s %u.%u.%u\n", file.c_str(), version >> 16, (version >> 8) & 0xFF, version & 0xFF);
}

}  // namespace

int main() {
  using namespace ffbind;
  FFLoader.SetLibraryPath(ProgramFolder());
  if (!FFLoader.Load(kEncoderLibraries)) {
    std::fprintf(stderr, "%s\n", FFLoader.LastErrMsg().c_str());
    return 1;
  }
  PrintVersion(FFLoader.GetLibraryName(avCodec), ff::avcodec_version());
  PrintVersion(FFLoader.GetLibraryName(avDevice), ff::avdevice_version());
  PrintVersion(FFLoader.GetLibraryName(avFilter), ff::avfilter_version());
  PrintVersion(FFLoader.GetLibraryName(avFormat), ff::avformat_version());
  PrintVersion(FFLoader.GetLibraryName(avUtil), ff::avutil_version());
  PrintVersion(FFLoader.GetLibraryName(swResample), ff::swresample_version());
  PrintVersion(FFLoader.GetLibraryName(swScale), ff::swscale_version());
  std::printf("%-22s (system C library)\n", FFLoader.GetLibraryName(myUtil).c_str());
  return 0;
}
