// Option strings through the engine: word splitting, lookup, storing,
// generic options and the error texts.
#include <stdexcept>

#include "frameinput/FrameInput.h"
#include "tests/engine/EngineTestSupport.h"
#include "util/OptionWords.h"

namespace {

using namespace enginetest;
using engine::FFmpegException;

TEST(OptionWordsTest, Splitting) {
  struct Case {
    const char* text;
    std::vector<std::string> words;  // without the closing empty word
  };
  const Case cases[] = {
      {"", {}},
      {"   \t ", {}},
      {"-c:v mpeg4  -aspect 16:9", {"-c:v", "mpeg4", "-aspect", "16:9"}},
      {"-metadata \"title=My Film\"", {"-metadata", "title=My Film"}},
      {"a\"b c\"d", {"ab cd"}},
      {"x\\\"y", {"x\"y"}},            // odd backslashes: literal quote
      {"x\\\\\"y z\"", {"x\\y z"}},    // even: half of them, quote toggles
      {"C:\\dir\\file", {"C:\\dir\\file"}},  // backslashes not before a quote stay
      {"\"unclosed quote", {"unclosed quote"}},
      {"\"\"", {""}},
      {"tab\tsep", {"tab", "sep"}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> expected = c.words;
    expected.emplace_back();
    EXPECT_EQ(ffutil::SplitOptionWords(c.text), expected) << c.text;
  }
}

TEST(OptionWordsTest, TypedReaders) {
  EXPECT_EQ(ffutil::ReadIntOption("vsync", "-1"), -1);
  EXPECT_EQ(ffutil::ReadInt64Option("fs", "9000000000"), 9000000000LL);
  EXPECT_DOUBLE_EQ(ffutil::ReadDoubleOption("q", "2.5"), 2.5);
  struct Case {
    std::function<void()> read;
    const char* message;
  };
  const Case cases[] = {
      {[] { ffutil::ReadIntOption("vsync", "abc"); }, "Expected integer for vsync but found abc"},
      {[] { ffutil::ReadIntOption("vsync", "3000000000"); }, "Expected integer for vsync but found 3000000000"},
      {[] { ffutil::ReadIntOption("vsync", ""); }, "Expected integer for vsync but found "},
      {[] { ffutil::ReadInt64Option("fs", "1k"); }, "Expected int64 for fs but found 1k"},
      {[] { ffutil::ReadFloatOption("rmvol", "1e99"); }, "Expected float for rmvol but found 1e99"},
      {[] { ffutil::ReadDoubleOption("q", " 2"); }, "Expected double for q but found  2"},
  };
  for (const Case& c : cases) {
    try {
      c.read();
      ADD_FAILURE() << "no exception for " << c.message;
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
  }
}

class OptionParsingTest : public EngineTest {
 protected:
  void SetUp() override { level_ = ff::av_log_get_level(); }
  void TearDown() override { ff::av_log_set_level(level_); }
  TTestEngine e;
  int level_ = 0;
};

TEST_F(OptionParsingTest, FrontEndStringsParseCompletely) {
  frameinput::RegisterFrameInputFormat();
  e.ParseOptions("-f frameinput -re -input_type canvas -pix_fmt bgr24 -r 30/1 -s 320x240");
  EXPECT_EQ(e.optctx.format, "frameinput");
  EXPECT_EQ(e.optctx.rate_emu, 1);
  EXPECT_EQ(DictValue(e.FOptions.format_opts, "input_type"), "canvas");
  ASSERT_EQ(e.optctx.frame_pix_fmts.size(), 1u);
  EXPECT_EQ(e.optctx.frame_rates.at(0).str, "30/1");
  EXPECT_EQ(e.optctx.frame_sizes.at(0).str, "320x240");

  e.ResetOptionsContext(&e.optctx, true);
  e.ParseOptions(
      "-c:v mpeg4 -c:a mp2 -r 30/1 -s 320x240 -c:v mpeg4 -qscale:v 10 -qcomp 7 -s 320x240 -b:v 800k -c:v mpeg4  "
      "-aspect 16:9 -s 320x240 -b:v 8328k  -vf transpose=1  -vsync 0");
  ASSERT_EQ(e.optctx.codec_names.size(), 4u);
  EXPECT_EQ(e.optctx.codec_names[1].specifier, "a");
  EXPECT_EQ(e.optctx.codec_names[1].str, "mp2");
  EXPECT_EQ(e.optctx.frame_sizes.size(), 3u);
  ASSERT_EQ(e.optctx.qscale.size(), 1u);
  EXPECT_EQ(e.optctx.qscale[0].specifier, "v");
  EXPECT_DOUBLE_EQ(e.optctx.qscale[0].dbl, 10.0);
  EXPECT_EQ(DictValue(e.FOptions.codec_opts, "qcomp"), "7");
  EXPECT_EQ(DictValue(e.FOptions.codec_opts, "b:v"), "8328k");  // the later value replaces the first
  EXPECT_EQ(ff::av_dict_count(e.FOptions.codec_opts), 2);
  EXPECT_EQ(e.optctx.frame_aspect_ratios.at(0).str, "16:9");
  ASSERT_EQ(e.optctx.filters.size(), 1u);
  EXPECT_EQ(e.optctx.filters[0].specifier, "v");
  EXPECT_EQ(e.optctx.filters[0].str, "transpose=1");
  EXPECT_EQ(e.Fvideo_sync_method, 0);
}

TEST_F(OptionParsingTest, LastMatchingCodecWinsForTheStream) {
  e.AddInput({{AVMEDIA_TYPE_VIDEO}, {AVMEDIA_TYPE_AUDIO, 2}});
  e.ParseOptions("-c:v mpeg4 -c:a mp2 -c:v libx264");
  std::string video = "unchanged", audio = "unchanged";
  e.MatchPerStreamOpt(e.optctx.codec_names, &engine::TSpecifierOpt::str, e.Input(0), e.Input(0)->streams[0], video);
  e.MatchPerStreamOpt(e.optctx.codec_names, &engine::TSpecifierOpt::str, e.Input(0), e.Input(0)->streams[1], audio);
  EXPECT_EQ(video, "libx264");
  EXPECT_EQ(audio, "mp2");

  std::int64_t frames = -7;
  e.MatchPerStreamOpt(e.optctx.max_frames, &engine::TSpecifierOpt::i64, e.Input(0), e.Input(0)->streams[0], frames);
  EXPECT_EQ(frames, -7);  // nothing matches: left alone
}

TEST_F(OptionParsingTest, InvalidSpecifierIsFatalAtLookup) {
  e.AddInput({{AVMEDIA_TYPE_VIDEO}});
  e.ParseOptions("-c:x mpeg4");  // stored as given; judged when a stream is looked up
  std::string name;
  try {
    e.MatchPerStreamOpt(e.optctx.codec_names, &engine::TSpecifierOpt::str, e.Input(0), e.Input(0)->streams[0], name);
    FAIL() << "no exception";
  } catch (const FFmpegException& ex) {
    EXPECT_STREQ(ex.what(), "check_stream_specifier: Invalid argument / Invalid data found when processing input");
    EXPECT_EQ(e.LastErrMsg(), ex.what());
  }
}

// Failing strings with halting: the exception's text.
TEST_F(OptionParsingTest, HaltingErrors) {
  frameinput::RegisterFrameInputFormat();
  struct Case {
    const char* options;
    const char* message;
  };
  const Case cases[] = {
      {"-foo_bar x", "Unrecognized option \"foo_bar\"\r\nFailed to set value \"x\" for option \"foo_bar\""},
      {"-nofoo", "Unrecognized option \"nofoo\""},
      {"-VideoHookBitsPixel 12", "Invalid BitsPixel 12\r\nFailed to set value \"12\" for option \"VideoHookBitsPixel\""},
      {"-an abc", "Failed to parse options on abc"},
      {"-an -", "Failed to parse options on -"},
      {"-an \"\"", "Failed to parse options"},
      {"-i file.avi", "options \"i\" not supported\r\nFailed to set value \"file.avi\" for option \"i\""},
      {"-report", "options \"report\" not supported\r\nFailed to set value \"\" for option \"report\""},
      {"-croptop 10",
       "Option \"croptop\" has been removed, use the crop filter instead\r\nFailed to set value \"10\" for option "
       "\"croptop\""},
      {"-padcolor red",
       "Option \"padcolor\" has been removed, use the pad filter instead\r\nFailed to set value \"red\" for option "
       "\"padcolor\""},
      {"-pass 4",
       "The value for \"pass\" was \"4\" which is not within 1 - 3\r\nFailed to set value \"4\" for option \"pass\""},
      {"-pass x", "Expected integer for pass but found x\r\nFailed to set value \"x\" for option \"pass\""},
      {"-streamid 1024:5",
       "The value for \"streamid\" was \"1024\" which is not within 0 - 1023\r\nFailed to set value \"1024:5\" for "
       "option \"streamid\""},
      {"-streamid 1:-5",
       "The value for \"streamid\" was \"-5\" which is not within 0 - 2147483647\r\nFailed to set value \"1:-5\" for "
       "option \"streamid\""},
      {"-streamid x",
       "Invalid value \"x\" for option \"streamid\", required syntax is \"index:value\"\r\nFailed to set value \"x\" "
       "for option \"streamid\""},
      {"-map_metadata:x 0", "Invalid metadata type x.\r\nFailed to set value \"0\" for option \"map_metadata:x\""},
      {"-loglevel loud",
       "Invalid loglevel \"loud\". Possible levels are numbers or:\r\n\"quiet\"\r\n\"panic\"\r\n\"fatal\"\r\n"
       "\"error\"\r\n\"warning\"\r\n\"info\"\r\n\"verbose\"\r\n\"debug\"\r\n\r\nFailed to set value \"loud\" for "
       "option \"loglevel\""},
      {"-vhook missing.so",
       "Failed to add video hook function: missing.so"},
  };
  for (const Case& c : cases) {
    TTestEngine fresh;
    EXPECT_EQ(ParseError(fresh, c.options), c.message) << c.options;
    EXPECT_EQ(fresh.LastErrMsg(), c.message) << c.options;
  }
}

TEST_F(OptionParsingTest, BadNumbersRaiseInEitherMode) {
  for (bool halt : {true, false}) {
    TTestEngine fresh;
    fresh.HaltOnInvalidOption = halt;
    EXPECT_EQ(ParseError<std::runtime_error>(fresh, "-an -vsync abc -sn"), "Expected integer for vsync but found abc");
    EXPECT_EQ(fresh.optctx.audio_disable, 1);     // applied before the failure
    EXPECT_EQ(fresh.optctx.subtitle_disable, 0);  // never reached
  }
}

TEST_F(OptionParsingTest, NotHaltingSkipsFailuresAndTheirArguments) {
  e.HaltOnInvalidOption = false;
  e.ParseOptions("-foo_bar x -an stray -croptop 10 -nofoo -r 25 -i in.avi -sn");
  EXPECT_EQ(e.optctx.audio_disable, 1);
  EXPECT_EQ(e.optctx.subtitle_disable, 1);
  ASSERT_EQ(e.optctx.frame_rates.size(), 1u);
  EXPECT_EQ(e.optctx.frame_rates[0].str, "25");
}

TEST_F(OptionParsingTest, StoredValues) {
  e.ParseOptions(
      "-re -nore -vsync -1 -b 1M -vtag DIVX -atag mp4a -vframes 100 -aq 3 -absf aac_adtstoasc -vcodec mpeg4 "
      "-acodec mp2 -t 1.5 -ss 00:00:02 -fs 1000 -muxdelay 0.5 -copyinkf -force_fps:v -nostats -h -AudioHook -Join "
      "-map_metadata:s:0 1:g -metadata title=Holiday -attach cover.jpg -vstats_file stats.log "
      "-noise_reduction 300");
  const auto& o = e.optctx;
  EXPECT_EQ(o.rate_emu, 0);
  EXPECT_EQ(e.Fvideo_sync_method, -1);
  EXPECT_EQ(DictValue(e.FOptions.codec_opts, "b:v"), "1M");
  EXPECT_EQ(DictValue(e.FOptions.codec_opts, "noise_reduction"), "300");  // a library option, not "no" + switch
  ASSERT_EQ(o.codec_tags.size(), 2u);
  EXPECT_EQ(o.codec_tags[0].specifier, "v");
  EXPECT_EQ(o.codec_tags[1].specifier, "a");
  ASSERT_EQ(o.max_frames.size(), 1u);
  EXPECT_EQ(o.max_frames[0].i64, 100);
  EXPECT_EQ(o.qscale.at(0).specifier, "a");
  EXPECT_EQ(o.bitstream_filters.at(0).specifier, "a");
  EXPECT_EQ(e.Fvideo_codec_name, "mpeg4");
  EXPECT_EQ(e.Faudio_codec_name, "mp2");
  EXPECT_EQ(o.codec_names.at(0).specifier, "v");
  EXPECT_EQ(o.recording_time, 1500000);
  EXPECT_EQ(o.start_time, 2000000);
  EXPECT_EQ(o.limit_filesize, 1000);
  EXPECT_FLOAT_EQ(o.mux_max_delay, 0.5f);
  EXPECT_EQ(o.copy_initial_nonkeyframes.at(0).i, 1);
  EXPECT_EQ(o.force_fps.at(0).specifier, "v");
  EXPECT_EQ(e.Fprint_stats, 0);
  ASSERT_EQ(o.meta_data_maps.size(), 1u);
  EXPECT_EQ(o.meta_data_maps[0][0].type_, 's');
  EXPECT_EQ(o.meta_data_maps[0][1].file_idx, 1);
  EXPECT_EQ(o.meta_data_maps[0][1].type_, 'g');
  EXPECT_EQ(o.metadata_global_manual, 1);
  EXPECT_EQ(o.metadata_streams_manual, 1);
  EXPECT_EQ(o.metadata_chapters_manual, 0);
  EXPECT_EQ(o.metadata.at(0).str, "title=Holiday");
  EXPECT_EQ(o.attachments, std::vector<std::string>{"cover.jpg"});
  EXPECT_EQ(e.Fvstats_filename, "stats.log");
}

TEST_F(OptionParsingTest, LogLevelComesFirst) {
  struct Case {
    const char* options;
    int level;
  };
  const Case cases[] = {{"-loglevel quiet", AV_LOG_QUIET}, {"-an -v 99", 99}, {"-loglevel", 0}, {"-v debug", 48}};
  for (const Case& c : cases) {
    ff::av_log_set_level(AV_LOG_INFO);
    TTestEngine fresh;
    fresh.ParseOptions(c.options);
    EXPECT_EQ(ff::av_log_get_level(), c.level) << c.options;
  }
  // Applied before the failing option that precedes it in the string.
  ff::av_log_set_level(AV_LOG_INFO);
  EXPECT_NE(ParseError(e, "-foo_bar x -loglevel error"), "");
  EXPECT_EQ(ff::av_log_get_level(), AV_LOG_ERROR);
}

TEST_F(OptionParsingTest, ResetKeepsInputDurationForTheOutput) {
  e.ParseOptions("-t 3 -an -b:v 1M");
  e.ResetOptionsContext(&e.optctx, true);
  EXPECT_EQ(e.optctx.recording_time, 3000000);
  EXPECT_EQ(e.optctx.audio_disable, 0);
  EXPECT_EQ(e.FOptions.codec_opts, nullptr);
  EXPECT_NE(e.FOptions.sws_opts, nullptr);
  e.ResetOptionsContext(&e.optctx, false);
  EXPECT_EQ(e.optctx.recording_time, engine::kNoTimeLimit);
  EXPECT_FLOAT_EQ(e.optctx.mux_max_delay, 0.7f);
  EXPECT_EQ(e.optctx.chapters_input_file, engine::kChaptersAuto);
}

TEST_F(OptionParsingTest, ScalerOptionsAreSetAtOnce) {
  e.ParseOptions("-sws_flags bilinear");
  std::int64_t flags = 0;
  ASSERT_GE(ff::av_opt_get_int(e.FOptions.sws_opts, "sws_flags", 0, &flags), 0);
  EXPECT_EQ(flags, SWS_BILINEAR);
  EXPECT_EQ(ParseError(e, "-sws_flags nonsense"),
            "Error setting option \"sws_flags\"\r\nFailed to set value \"nonsense\" for option \"sws_flags\"");
}

}  // namespace
