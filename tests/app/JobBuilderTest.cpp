#include <gtest/gtest.h>

#include <QLocale>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "app/JobBuilder.h"
#include "ffbind/AVCodecStubs.h"
#include "ffbind/AVFormatStubs.h"
#include "ffbind/FFLoad.h"

namespace {

using app::TJobSettings;

const std::string kBase = "/videos/20220305140709";
const std::string kDefaultInput = "-f frameinput -re -input_type canvas -pix_fmt bgr24 -r 30/1 -s 320x240";
const std::string kDefaultOutput =
    "-c:v mpeg4 -c:a mp2 -r 30/1 -s 320x240 -c:v mpeg4 -qscale:v 10 -qcomp 7 -s 320x240 -b:v 800k "
    "-c:v mpeg4  -aspect 16:9 -s 320x240 -b:v 8328k -vsync 0";

TJobSettings Defaults() {
  TJobSettings s;
  s.OutputBaseName = kBase;
  s.CurrentOutput = kBase + ".mp4";
  return s;
}

TEST(JobBuilder, BuildsTheOptionStringsAndOutputName) {
  struct TCase {
    const char* name;
    void (*change)(TJobSettings&);
    std::string output, input, options;
    std::int64_t delay;
  };
  const TCase kCases[] = {
      {"defaults", [](TJobSettings&) {}, kBase + ".WMV", kDefaultInput, kDefaultOutput, 2'000'000},
      {"high quality, 21:9, rotation 4, 0.5 s",
       [](TJobSettings& s) {
         s.QualityIndex = 1;
         s.ScreenShapeIndex = 3;
         s.RotationIndex = 4;
         s.FrameDelayText = "0.5";
       },
       kBase + ".WMV", kDefaultInput,
       "-c:v mpeg4 -c:a mp2 -r 30/1 -s 320x240 -c:v mpeg4 -qscale:v 1 -qcomp 0.7 -s 320x240 -b:v 8328k "
       "-c:v mpeg4  -aspect 21:10 -s 320x240 -b:v 8328k  -vf transpose=0  -vsync 0",
       500'000},
      {"9:21 shape, rotation 1, no delay",
       [](TJobSettings& s) {
         s.ScreenShapeIndex = 7;
         s.RotationIndex = 1;
         s.FrameDelayText = "0";
       },
       kBase + ".WMV", kDefaultInput,
       "-c:v mpeg4 -c:a mp2 -r 30/1 -s 320x240 -c:v mpeg4 -qscale:v 10 -qcomp 7 -s 320x240 -b:v 800k "
       "-c:v mpeg4  -aspect 10:21 -s 320x240 -b:v 8328k  -vf transpose=1  -vsync -1",
       0},
      {"delay unchecked ignores its text",
       [](TJobSettings& s) {
         s.FrameDelayChecked = false;
         s.FrameDelayText = "abc";
       },
       kBase + ".WMV", kDefaultInput, kDefaultOutput.substr(0, kDefaultOutput.size() - 1) + "-1", 0},
      {"typed size and rate",
       [](TJobSettings& s) {
         s.FrameSizeText = "1000x500";
         s.FrameRateText = "15/1";
         s.ContainerIndex = 1;
       },
       kBase + ".MP4", "-f frameinput -re -input_type canvas -pix_fmt bgr24 -r 15/1 -s 1000x500",
       "-c:v mpeg4 -c:a mp2 -r 15/1 -s 1000x500 -c:v mpeg4 -qscale:v 10 -qcomp 7 -s 1000x500 -b:v 800k "
       "-c:v mpeg4  -aspect 16:9 -s 1000x500 -b:v 8328k -vsync 0",
       2'000'000},
      {"FLV takes codecs the FLV muxer accepts", [](TJobSettings& s) { s.ContainerIndex = 0; }, kBase + ".FLV",
       kDefaultInput, kDefaultOutput + " -c:v flv -c:a libmp3lame -ar 44100", 2'000'000},
      {"AVI", [](TJobSettings& s) { s.ContainerIndex = 5; }, kBase + ".AVI", kDefaultInput, kDefaultOutput,
       2'000'000},
      {"empty container item keeps the name", [](TJobSettings& s) { s.ContainerIndex = 7; }, kBase + ".mp4",
       kDefaultInput, kDefaultOutput, 2'000'000},
      {"typed container keeps the name", [](TJobSettings& s) { s.ContainerIndex = -1; }, kBase + ".mp4",
       kDefaultInput, kDefaultOutput, 2'000'000},
  };
  for (const TCase& c : kCases) {
    SCOPED_TRACE(c.name);
    TJobSettings s = Defaults();
    c.change(s);
    const app::TJob job = app::BuildJob(s);
    EXPECT_EQ(job.OutputFileName, c.output);
    EXPECT_EQ(job.InputOptions, c.input);
    EXPECT_EQ(job.OutputOptions, c.options);
    EXPECT_EQ(job.FrameDelay, c.delay);
  }
}

// The FLV choice names codecs of its own because the FLV muxer refuses the
// default ones; those must exist in the loaded libraries and suit FLV.
TEST(JobBuilder, FlvCodecsAreAvailableAndAccepted) {
  ASSERT_TRUE(ffbind::FFLoader.Load(ffbind::kEncoderLibraries)) << ffbind::FFLoader.LastErrMsg();
  const AVOutputFormat* flv = ff::av_guess_format(nullptr, "x.FLV", nullptr);
  ASSERT_NE(flv, nullptr);
  for (const char* name : {"flv", "libmp3lame"}) {
    const AVCodec* encoder = ff::avcodec_find_encoder_by_name(name);
    ASSERT_NE(encoder, nullptr) << name;
    EXPECT_EQ(ff::avformat_query_codec(flv, encoder->id, FF_COMPLIANCE_NORMAL), 1) << name;
  }
}

TEST(JobBuilder, DisplayTimeFollowsTheLocaleAndRounds) {
  const struct {
    const char* text;
    std::int64_t micro;
  } kGood[] = {{"2.0", 2'000'000}, {" 1.5 ", 1'500'000}, {"1.0000004", 1'000'000}, {"1.0000006", 1'000'001},
               {"-1", -1'000'000}};
  for (const auto& c : kGood) EXPECT_EQ(app::ParseFrameDelay(c.text), c.micro) << c.text;

  for (const char* bad : {"", "abc", "2s", "1e300", "nan", "inf"}) {
    TJobSettings s = Defaults();
    s.FrameDelayText = bad;
    EXPECT_THROW(app::BuildJob(s), app::TJobError) << bad;
  }

  // A comma locale reads its own decimal comma and still the window's "2.0".
  QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  EXPECT_EQ(app::ParseFrameDelay("0,5"), 500'000);
  EXPECT_EQ(app::ParseFrameDelay("2.0"), 2'000'000);
  QLocale::setDefault(QLocale::c());
  EXPECT_THROW(app::ParseFrameDelay("0,5"), app::TJobError);
  try {
    app::ParseFrameDelay("zwei");
  } catch (const app::TJobError& e) {
    EXPECT_NE(std::string(e.what()).find("\"zwei\""), std::string::npos);
  }
}

TEST(JobBuilder, StampsOutputNamesInTheOutputFolder) {
  std::tm local{};
  local.tm_year = 2022 - 1900;
  local.tm_mon = 2;
  local.tm_mday = 5;
  local.tm_hour = 14;
  local.tm_min = 7;
  local.tm_sec = 9;
  local.tm_isdst = -1;
  const std::time_t time = std::mktime(&local);
  EXPECT_EQ(app::OutputStamp(time), "20220305140709");
  const app::TOutputNames names = app::StampOutputNames("/videos", time);
  EXPECT_EQ(names.OutputBaseName, kBase);
  EXPECT_EQ(names.Output, kBase + ".mp4");

  namespace fs = std::filesystem;
  const fs::path home = fs::temp_directory_path() / ("fr-jobbuilder-" + std::to_string(::getpid()));
  fs::remove_all(home);
  const char* oldHome = std::getenv("HOME");
  const std::string savedHome = oldHome ? oldHome : "";
  ::setenv("HOME", (home / "user").c_str(), 1);
  const std::string folder = app::DefaultOutputFolder();
  EXPECT_EQ(folder, (home / "user" / "qv_pictvideo").string());
  EXPECT_TRUE(app::CreateOutputFolder(folder));
  EXPECT_TRUE(fs::is_directory(folder));
  EXPECT_TRUE(app::CreateOutputFolder(folder));  // already there
  std::ofstream(home / "file") << "x";
  EXPECT_FALSE(app::CreateOutputFolder((home / "file" / "qv_pictvideo").string()));
  ::setenv("HOME", savedHome.c_str(), 1);
  fs::remove_all(home);
}

}  // namespace
