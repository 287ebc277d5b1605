#pragma once
// An engine object whose option state the tests can read, and inputs built
// in memory (a real library context with streams of the wanted kinds) for
// the handlers that look at opened inputs.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/FFmpeg.h"
#include "ffbind/AVFormatStubs.h"
#include "ffbind/AVUtilStubs.h"
#include "ffbind/FFLoad.h"

namespace enginetest {

class TTestEngine : public engine::TCustomFFmpeg {
 public:
  using TCustomFFmpeg::Faudio_codec_name;
  using TCustomFFmpeg::Fdo_pass;
  using TCustomFFmpeg::Finput_files;
  using TCustomFFmpeg::Finput_streams;
  using TCustomFFmpeg::FOptions;
  using TCustomFFmpeg::Fprint_stats;
  using TCustomFFmpeg::Fusing_vhook;
  using TCustomFFmpeg::Fvideo_codec_name;
  using TCustomFFmpeg::Fvideo_sync_method;
  using TCustomFFmpeg::Fvstats_filename;
  using TCustomFFmpeg::HaltOnInvalidOption;
  using TCustomFFmpeg::MatchPerStreamOpt;
  using TCustomFFmpeg::optctx;
  using TCustomFFmpeg::ResetOptionsContext;

  struct TStreamSpec {
    AVMediaType type;
    int channels = 0;              // audio
    AVRational rate = {0, 0};      // video
  };

  // Appends an input whose context holds streams of the given kinds, as
  // opening an input would.
  void AddInput(const std::vector<TStreamSpec>& streams) {
    AVFormatContext* s = ff::avformat_alloc_context();
    ASSERT_NE(s, nullptr);
    engine::TInputFile f;
    f.ctx.reset(s);
    for (const TStreamSpec& spec : streams) {
      AVStream* st = ff::avformat_new_stream(s, nullptr);
      ASSERT_NE(st, nullptr);
      st->codecpar->codec_type = spec.type;
      if (spec.channels) ff::av_channel_layout_default(&st->codecpar->ch_layout, spec.channels);
      st->r_frame_rate = spec.rate;
      auto ist = std::make_unique<engine::TInputStream>();
      ist->file_index = static_cast<int>(Finput_files.size());
      ist->st = st;
      Finput_streams.push_back(std::move(ist));
    }
    f.ist_index = static_cast<int>(Finput_streams.size() - s->nb_streams);
    f.nb_streams = static_cast<int>(s->nb_streams);
    Finput_files.push_back(std::move(f));
  }

  AVFormatContext* Input(int i) { return Finput_files[i].ctx.get(); }
};

// Loads the libraries once for the whole program.
class EngineTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(ffbind::FFLoader.Load(ffbind::kEncoderLibraries)) << ffbind::FFLoader.LastErrMsg();
  }
};

// The message of the exception ParseOptions raises, or "" when it passes.
template <typename Exception = engine::FFmpegException>
std::string ParseError(engine::TCustomFFmpeg& e, const std::string& options) {
  try {
    e.ParseOptions(options);
  } catch (const Exception& ex) {
    return ex.what();
  }
  return std::string();
}

inline std::string DictValue(const AVDictionary* d, const char* key) {
  const AVDictionaryEntry* t = ff::av_dict_get(d, key, nullptr, 0);
  return t ? t->value : "<none>";
}

}  // namespace enginetest
