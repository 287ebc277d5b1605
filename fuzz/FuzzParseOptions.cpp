// Arbitrary option strings through a fresh engine object. The first byte
// chooses halting or not (bit 0) and option string or preset text (bit 1);
// the engine has two inputs built in memory so that -map, -map_channel and
// -target reach their checks.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "engine/FFmpeg.h"
#include "ffbind/AVFormatStubs.h"
#include "ffbind/AVUtilStubs.h"
#include "ffbind/FFLoad.h"
#include "frameinput/FrameInput.h"

namespace {

class TFuzzEngine : public engine::TCustomFFmpeg {
 public:
  explicit TFuzzEngine(bool halt) {
    HaltOnInvalidOption = halt;
    AddInput({{AVMEDIA_TYPE_VIDEO, 0, {25, 1}}, {AVMEDIA_TYPE_AUDIO, 2, {0, 0}}, {AVMEDIA_TYPE_SUBTITLE, 0, {0, 0}}});
    AddInput({{AVMEDIA_TYPE_AUDIO, 6, {0, 0}}, {AVMEDIA_TYPE_VIDEO, 0, {30000, 1001}}});
  }

 private:
  struct TStreamSpec {
    AVMediaType type;
    int channels;
    AVRational rate;
  };

  void AddInput(const std::vector<TStreamSpec>& streams) {
    engine::TInputFile f;
    f.ctx.reset(ff::avformat_alloc_context());
    if (!f.ctx) std::abort();
    for (const TStreamSpec& spec : streams) {
      AVStream* st = ff::avformat_new_stream(f.ctx.get(), nullptr);
      if (!st) std::abort();
      st->codecpar->codec_type = spec.type;
      if (spec.channels) ff::av_channel_layout_default(&st->codecpar->ch_layout, spec.channels);
      st->r_frame_rate = spec.rate;
      auto ist = std::make_unique<engine::TInputStream>();
      ist->file_index = static_cast<int>(Finput_files.size());
      ist->st = st;
      Finput_streams.push_back(std::move(ist));
    }
    f.nb_streams = static_cast<int>(f.ctx->nb_streams);
    f.ist_index = static_cast<int>(Finput_streams.size()) - f.nb_streams;
    Finput_files.push_back(std::move(f));
  }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (!ffbind::FFLoader.Load(ffbind::kEncoderLibraries)) std::abort();
  frameinput::RegisterFrameInputFormat();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  ff::av_log_set_level(AV_LOG_QUIET);
  const std::string options(reinterpret_cast<const char*>(data) + 1, size - 1);
  try {
    TFuzzEngine e((data[0] & 1) != 0);
    if (data[0] & 2) e.ParsePresets(options);
    else e.ParseOptions(options);
  } catch (const std::exception&) {
    // Rejected option strings end here; only crashes, hangs and leaks count.
  }
  return 0;
}
