// Handlers that look at opened inputs (maps, targets), stream specifiers,
// codec option filtering and presets.
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include <unistd.h>

#include "ffbind/AVCodecStubs.h"
#include "tests/engine/EngineTestSupport.h"
#include "util/FFOptions.h"
#include "util/OptionWords.h"

namespace {

using namespace enginetest;
using engine::FFmpegException;
namespace fs = std::filesystem;

class OptionHandlersTest : public EngineTest {
 protected:
  // Input 0: video, audio (2 channels), subtitle; input 1: audio (6
  // channels), video at 29.97 frames per second.
  void AddTwoInputs() {
    e.AddInput({{AVMEDIA_TYPE_VIDEO}, {AVMEDIA_TYPE_AUDIO, 2}, {AVMEDIA_TYPE_SUBTITLE}});
    e.AddInput({{AVMEDIA_TYPE_AUDIO, 6}, {AVMEDIA_TYPE_VIDEO, 0, {30000, 1001}}});
  }
  TTestEngine e;
};

TEST_F(OptionHandlersTest, StreamSpecifiers) {
  e.AddInput({{AVMEDIA_TYPE_VIDEO}, {AVMEDIA_TYPE_AUDIO, 2}, {AVMEDIA_TYPE_AUDIO, 1}, {AVMEDIA_TYPE_ATTACHMENT}});
  AVFormatContext* s = e.Input(0);
  AVProgram* p = ff::av_new_program(s, 7);
  ASSERT_NE(p, nullptr);
  ff::av_program_add_stream_index(s, 7, 2);
  ff::av_program_add_stream_index(s, 7, 0);
  struct Case {
    const char* spec;
    int stream;
    int expected;
  };
  const Case cases[] = {
      {"", 3, 1},     {"2", 2, 1},      {"0x2", 2, 1},   {"2", 1, 0},      {"v", 0, 1},     {"v", 1, 0},
      {"a", 2, 1},    {"a:1", 2, 1},    {"a:1", 1, 0},   {"a:5", 1, 0},    {"t", 3, 1},     {"d", 0, 0},
      {"p:7", 0, 1},  {"p:7", 1, 0},    {"p:7:0", 2, 1}, {"p:7:1", 0, 1},  {"p:7:2", 0, 0}, {"p:8", 0, 0},
      {"x", 0, AVERROR(EINVAL)},        {"p", 0, AVERROR(EINVAL)},         {":v", 0, AVERROR(EINVAL)},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ffutil::check_stream_specifier(s, s->streams[c.stream], c.spec), c.expected)
        << c.spec << " on stream " << c.stream;
}

TEST_F(OptionHandlersTest, CodecOptionsFilteredPerStream) {
  e.ParseOptions("-qcomp 7 -b:v 800k -b:v 8328k -b:a 128k");
  AVFormatContext* out = nullptr;
  ASSERT_GE(ff::avformat_alloc_output_context2(&out, nullptr, "mp4", nullptr), 0);
  AVStream* video = ff::avformat_new_stream(out, nullptr);
  video->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
  AVStream* audio = ff::avformat_new_stream(out, nullptr);
  audio->codecpar->codec_type = AVMEDIA_TYPE_AUDIO;

  AVDictionary* v = ffutil::FilterCodecOptions(e.FOptions.codec_opts, ff::avcodec_find_encoder_by_name("mpeg4"), out, video);
  EXPECT_EQ(DictValue(v, "qcomp"), "7");
  EXPECT_EQ(DictValue(v, "b"), "8328k");
  EXPECT_EQ(ff::av_dict_count(v), 2);
  AVDictionary* a = ffutil::FilterCodecOptions(e.FOptions.codec_opts, ff::avcodec_find_encoder_by_name("mp2"), out, audio);
  EXPECT_EQ(DictValue(a, "b"), "128k");
  EXPECT_EQ(DictValue(a, "qcomp"), "<none>");  // a video option
  ff::av_dict_free(&v);
  ff::av_dict_free(&a);

  ffutil::TStreamInfoOptions none = ffutil::SetupFindStreamInfoOptions(out, e.FOptions.codec_opts);
  EXPECT_EQ(none.Count(), 2u);
  ff::avformat_free_context(out);
}

TEST_F(OptionHandlersTest, StreamMaps) {
  AddTwoInputs();
  e.ParseOptions("-map 1:a -map 0 -map -0:s -map 0:1,1:1");
  const auto& m = e.optctx.stream_maps;
  ASSERT_EQ(m.size(), 5u);
  struct Expected {
    int disabled, file, stream, syncFile, syncStream;
  };
  const Expected expected[] = {{0, 1, 0, 1, 0}, {0, 0, 0, 0, 0}, {0, 0, 1, 0, 1}, {1, 0, 2, 0, 2}, {0, 0, 1, 1, 1}};
  for (std::size_t i = 0; i < m.size(); ++i) {
    EXPECT_EQ(m[i].disabled, expected[i].disabled) << i;
    EXPECT_EQ(m[i].file_index, expected[i].file) << i;
    EXPECT_EQ(m[i].stream_index, expected[i].stream) << i;
    EXPECT_EQ(m[i].sync_file_index, expected[i].syncFile) << i;
    EXPECT_EQ(m[i].sync_stream_index, expected[i].syncStream) << i;
  }
}

TEST_F(OptionHandlersTest, FatalMaps) {
  AddTwoInputs();
  struct Case {
    const char* options;
    const char* message;
  };
  const Case cases[] = {
      {"-map 3", "Invalid input file index: 3."},
      {"-map -5", "Invalid input file index: 5."},
      {"-map 1:s", "Stream map \"1:s\" matches no streams."},
      {"-map -0:v", "Stream map \"0:v\" matches no streams."},  // no map to disable
      {"-map 0,5:0", "Invalid sync file index: 5."},
      {"-map 0,1:s", "Sync stream specification in map 0,1:s does not match any streams."},
      {"-map 0:x", "check_stream_specifier: Invalid argument / Invalid data found when processing input"},
      {"-map_channel 0.1", "Syntax error, mapchan usage: [file.stream.channel|-1][:syncfile:syncstream]"},
      {"-map_channel 2.0.0", "mapchan: invalid input file index: 2"},
      {"-map_channel 0.9.0", "mapchan: invalid input file stream index #0.9"},
      {"-map_channel 0.0.0", "mapchan: stream #0.0 is not an audio stream."},
      {"-map_channel 0.1.2", "mapchan: invalid audio channel #0.1.2"},
      {"-map_channel 0.1.-1", "mapchan: invalid audio channel #0.1.-1"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseError(e, c.options), c.message) << c.options;
    EXPECT_EQ(e.LastErrMsg(), c.message);
  }
}

TEST_F(OptionHandlersTest, ChannelMaps) {
  AddTwoInputs();
  e.ParseOptions("-map_channel -1 -map_channel 1.0.5:0.1 -map_channel -1:0.2 -map_channel 0.1.1");
  const auto& m = e.optctx.audio_channel_maps;
  ASSERT_EQ(m.size(), 4u);
  struct Expected {
    int file, stream, channel, ofile, ostream;
  };
  const Expected expected[] = {{-1, -1, -1, -1, -1}, {1, 0, 5, 0, 1}, {-1, -1, -1, 0, 2}, {0, 1, 1, -1, -1}};
  for (std::size_t i = 0; i < m.size(); ++i) {
    EXPECT_EQ(m[i].file_idx, expected[i].file) << i;
    EXPECT_EQ(m[i].stream_idx, expected[i].stream) << i;
    EXPECT_EQ(m[i].channel_idx, expected[i].channel) << i;
    EXPECT_EQ(m[i].ofile_idx, expected[i].ofile) << i;
    EXPECT_EQ(m[i].ostream_idx, expected[i].ostream) << i;
  }
}

TEST_F(OptionHandlersTest, Targets) {
  AddTwoInputs();  // input 1 runs at 29.97: NTSC
  struct Case {
    const char* target;
    const char* size;
    const char* rate;
    const char* pixFmt;  // "" when the target sets none
    const char* gop;
  };
  const Case cases[] = {
      {"pal-dvd", "720x576", "25", "yuv420p", "15"},
      {"dvd", "720x480", "30000/1001", "yuv420p", "18"},
      {"film-svcd", "480x480", "24000/1001", "yuv420p", "18"},
      {"pal-vcd", "352x288", "25", "", "15"},
      {"dv50", "720x480", "30000/1001", "yuv422p", "<none>"},
      {"pal-dv", "720x576", "25", "yuv420p", "<none>"},
      {"ntsc-dv", "720x480", "30000/1001", "yuv411p", "<none>"},
  };
  for (const Case& c : cases) {
    e.ResetOptionsContext(&e.optctx, false);
    e.ParseOptions(std::string("-target ") + c.target);
    const auto& o = e.optctx;
    EXPECT_EQ(o.frame_sizes.at(0).str, c.size) << c.target;
    EXPECT_EQ(o.frame_rates.at(0).str, c.rate) << c.target;
    EXPECT_EQ(o.frame_pix_fmts.empty() ? "" : o.frame_pix_fmts[0].str, c.pixFmt) << c.target;
    EXPECT_EQ(DictValue(e.FOptions.codec_opts, "g"), c.gop) << c.target;
  }
  EXPECT_EQ(e.optctx.format, "dv");

  e.ResetOptionsContext(&e.optctx, false);
  e.ParseOptions("-target pal-vcd");
  EXPECT_EQ(e.Fvideo_codec_name, "mpeg1video");
  EXPECT_EQ(e.Faudio_codec_name, "mp2");
  EXPECT_EQ(e.optctx.format, "vcd");
  EXPECT_FLOAT_EQ(e.optctx.mux_preload, 0.44f);
  EXPECT_EQ(DictValue(e.FOptions.format_opts, "muxrate"), "1411200");
  EXPECT_EQ(e.optctx.audio_channels.at(0).i, 2);

  EXPECT_EQ(ParseError(e, "-target vhs"), "Unknown target: vhs\r\nFailed to set value \"vhs\" for option \"target\"");
}

TEST_F(OptionHandlersTest, TargetWithoutNormNeedsAKnownRate) {
  e.AddInput({{AVMEDIA_TYPE_VIDEO, 0, {30, 1}}});
  EXPECT_EQ(ParseError(e, "-target dvd"),
            "Could not determine norm (PAL/NTSC/NTSC-Film) for target.\r\nPlease prefix target with \"pal-\", "
            "\"ntsc-\" or \"film-\",\r\nor set a framerate with \"-r xxx\".");
}

TEST_F(OptionHandlersTest, PresetFiles) {
  const fs::path dir = fs::temp_directory_path() / ("fr_presets_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  auto write = [&](const char* name, const char* text) {
    std::ofstream(dir / name) << text;
    return (dir / name).string();
  };
  const std::string good = write("good.ffpreset", "# comment\n\n  vcodec=mpeg4  \ng=12\nqcomp=0.5\r\n");
  const std::string bad = write("bad.ffpreset", "g=13\nb\ng=15\n");
  const std::string unknown = write("unknown.ffpreset", "nosuchoption=1\ng=14\n");

  e.ParseOptions("-vpre " + good);
  EXPECT_EQ(e.Fvideo_codec_name, "mpeg4");
  EXPECT_EQ(e.optctx.codec_names.at(0).specifier, "v");
  EXPECT_EQ(DictValue(e.FOptions.codec_opts, "g"), "12");
  EXPECT_EQ(DictValue(e.FOptions.codec_opts, "qcomp"), "0.5");

  EXPECT_EQ(ParseError(e, "-fpre " + bad),
            bad + ": Invalid syntax: \"b\"\r\nFailed to set value \"" + bad + "\" for option \"fpre\"");
  EXPECT_EQ(DictValue(e.FOptions.codec_opts, "g"), "13");  // the line before the bad one applies, the one after not

  EXPECT_EQ(ParseError(e, "-apre " + unknown),
            "Unrecognized option \"nosuchoption\"\r\n" + unknown +
                ": Invalid option or argument: \"nosuchoption=1\", parsed as \"nosuchoption\" = \"1\"\r\n"
                "Failed to set value \"" + unknown + "\" for option \"apre\"");
  e.HaltOnInvalidOption = false;
  e.ParseOptions("-apre " + unknown);  // not halting: the next line still applies
  EXPECT_EQ(DictValue(e.FOptions.codec_opts, "g"), "14");

  e.HaltOnInvalidOption = true;
  const std::string missing = (dir / "missing.ffpreset").string();
  EXPECT_EQ(ParseError(e, "-spre " + missing),
            "Preset file \"" + missing + "\" not found\r\nFailed to set value \"" + missing + "\" for option \"spre\"");
  EXPECT_NE(ParseError(e, "-spre " + dir.string()), "");  // a folder is no preset file
  fs::remove_all(dir);
}

TEST_F(OptionHandlersTest, PresetText) {
  e.ParsePresets("  vcodec=mpeg4<CRLF>#skip\r\n\r\ng=12\rqmin=3  ");
  EXPECT_EQ(e.Fvideo_codec_name, "mpeg4");
  EXPECT_EQ(DictValue(e.FOptions.codec_opts, "g"), "12");
  EXPECT_EQ(DictValue(e.FOptions.codec_opts, "qmin"), "3");

  struct Case {
    const char* presets;
    const char* message;
  };
  const Case cases[] = {
      {"b", "Invalid syntax: \"b\""},
      {"vcodec = mpeg4",
       "Unrecognized option \"vcodec \"\r\nInvalid option or argument: \"vcodec = mpeg4\", parsed as \"vcodec \" = \" "
       "mpeg4\""},
  };
  for (const Case& c : cases) {
    try {
      e.ParsePresets(c.presets);
      ADD_FAILURE() << "no exception for " << c.presets;
    } catch (const FFmpegException& ex) {
      EXPECT_STREQ(ex.what(), c.message);
    }
  }
  e.HaltOnInvalidOption = false;
  e.ParsePresets("b\ng=20");  // logged, and the next line still applies
  EXPECT_EQ(DictValue(e.FOptions.codec_opts, "g"), "20");
}

// True when text has the shape of pattern, where '9' stands for any digit
// and '~' for '+' or '-'.
bool Shaped(const std::string& text, const std::string& pattern) {
  if (text.size() != pattern.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char t = text[i], p = pattern[i];
    if (p == '9' ? !std::isdigit(static_cast<unsigned char>(t)) : p == '~' ? t != '+' && t != '-' : t != p)
      return false;
  }
  return true;
}

TEST_F(OptionHandlersTest, StatisticsFileAndTimestamp) {
  e.ParseOptions("-vstats");
  EXPECT_TRUE(Shaped(e.Fvstats_filename, "vstats_999999.log")) << e.Fvstats_filename;

  e.ParseOptions("-timestamp 2012-05-01T14:30:00");
  ASSERT_EQ(e.optctx.metadata.size(), 1u);
  const std::string& stamp = e.optctx.metadata[0].str;
  EXPECT_TRUE(Shaped(stamp, "creation_time=2012-05-01 14:30:00 UTC") ||
              Shaped(stamp, "creation_time=2012-05-01 14:30:00 UTC~99:99"))
      << stamp;
  EXPECT_EQ(ParseError<std::runtime_error>(e, "-timestamp yesterday"),
            "Invalid date specification for timestamp: yesterday");
}

}  // namespace
