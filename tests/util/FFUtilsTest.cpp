#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "ffbind/AVCodecStubs.h"
#include "ffbind/AVUtilStubs.h"
#include "ffbind/FFLoad.h"
#include "util/FFUtils.h"

namespace {

using namespace ffutil;
namespace fs = std::filesystem;

class FFUtilsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(ffbind::FFLoader.Load(ffbind::kEncoderLibraries)) << ffbind::FFLoader.LastErrMsg();
  }
};

TEST(ErrorTextTest, KnownAndUnknownCodes) {
  struct Case {
    const char* prefix;
    int code;
    const char* expected;
  };
  const Case cases[] = {
      {"out.mp4", -2, "out.mp4: No such file or directory"},
      {"x", -9999, "x: Error number -9999 occurred"},
      {"x", 0, "x: Error number 0 occurred"},
      {"in", AVERROR_EOF, "in: End of file"},
      {"in", AVERROR_INVALIDDATA, "in: Invalid data found when processing input"},
      {"in", AVERROR_EXIT, "in: Immediate exit requested"},
      {"in", AVERROR_BUG, "in: Internal bug"},
      {"in", AVERROR_MUXER_NOT_FOUND, "in: Muxer not found"},
      {"in", AVERROR_PATCHWELCOME, "in: Not yet implemented in FFmpeg, patches welcome"},
      {"in", AVERROR_BSF_NOT_FOUND, "in: Bitstream filter not found"},
      {"in", AVERROR(EINVAL), "in: Invalid argument / Invalid data found when processing input"},
      {"in", AVERROR(EAGAIN), "in: Resource temporarily unavailable / Try again"},
      {"in", AVERROR(ENOMEM), "in: Not enough space / Out of memory"},
      {"in", AVERROR(ETIMEDOUT), "in: Connection timed out"},
      {"in", -10060, "in: Connection timed out"},
      {"in", -11004, "in: WSANO_DATA"},
      {"in", -10035, "in: WSAEWOULDBLOCK"},
      {"in", -131, "in: State not recoverable"},
      {"in", -1, "in: Operation not permitted"},
      {"in", AVERROR_EXPERIMENTAL, "in: Experimental feature"},
      {"in", AVERROR_HTTP_NOT_FOUND, "in: Server returned 404 Not Found"},
  };
  for (const Case& c : cases) EXPECT_EQ(ErrorText(c.prefix, c.code), c.expected) << c.code;
}

TEST(GrowArrayTest, GrowsZeroFilledAndRefusesHugeCounts) {
  struct Record {
    int a;
    double b;
    char name[4];
  };
  std::vector<Record> records{{1, 2.5, "ab"}, {3, 4.5, "cd"}};
  GrowArray(records, 5);
  ASSERT_EQ(records.size(), 5u);
  EXPECT_EQ(records[1].a, 3);
  EXPECT_STREQ(records[1].name, "cd");
  for (int i = 2; i < 5; ++i) {
    EXPECT_EQ(records[i].a, 0);
    EXPECT_EQ(records[i].b, 0.0);
    EXPECT_EQ(records[i].name[0], 0);
  }
  GrowArray(records, 3);  // already larger: nothing happens
  EXPECT_EQ(records.size(), 5u);

  std::vector<Record> huge;
  try {
    GrowArray(huge, 2147483647u / sizeof(Record));
    FAIL() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Array too big.");
  }
  EXPECT_TRUE(huge.empty());
  EXPECT_THROW(CheckArrayGrowth(2147483647u, 1), std::runtime_error);
  EXPECT_NO_THROW(CheckArrayGrowth(2147483646u, 1));
}

TEST(TimeTextTest, DurationsInMicroseconds) {
  struct Case {
    std::int64_t t;
    const char* expected;
  };
  const Case cases[] = {
      {AV_NOPTS_VALUE, "N/A"},
      {3723500000, "01:02:03.500"},
      {0, "00:00:00.000"},
      {999, "00:00:00.000"},
      {360000000000, "100:00:00.000"},
      {-1500000, "-00:00:01.500"},
  };
  for (const Case& c : cases) EXPECT_EQ(DurationText(c.t), c.expected) << c.t;
}

TEST(TimeTextTest, FrameDurations) {
  struct Case {
    AVRational rate;
    std::int64_t expected;
  };
  const Case cases[] = {
      {{0, 0}, 40000}, {{30000, 1001}, 33366}, {{25, 1}, 40000}, {{30, 0}, 40000}, {{0, 1}, 40000}, {{1, 1}, 1000000},
  };
  for (const Case& c : cases) EXPECT_EQ(FrameDuration(c.rate), c.expected) << c.rate.num << "/" << c.rate.den;
}

TEST(NameTest, MediaAndPictureTypes) {
  const char* media[] = {"Unknown", "Video", "Audio", "Data", "Subtitle", "Attachment", "Unknown"};
  for (int type = -1; type <= 5; ++type) EXPECT_EQ(MediaTypeName(type), media[type + 1]) << type;
  EXPECT_EQ(MediaTypeName(AVMEDIA_TYPE_SUBTITLE), "Subtitle");
  const char* pictures[] = {"Unknown",         "Intra",           "Predicted", "Bi-dir predicted",
                            "S(GMC)-VOP MPEG4", "Switching Intra", "Switching Predicted",
                            "BI type",          "Unknown"};
  for (int type = 0; type <= 8; ++type) EXPECT_EQ(PictureTypeName(type), pictures[type]) << type;
  EXPECT_EQ(PictureTypeName(AV_PICTURE_TYPE_B), "Bi-dir predicted");
}

// Runs with TZ set to a POSIX zone description, restored afterwards.
class TimeZoneTest : public ::testing::Test {
 protected:
  void TearDown() override {
    if (FSaved) ::setenv("TZ", FSavedValue.c_str(), 1); else ::unsetenv("TZ");
    ::tzset();
  }
  static void UseZone(const char* tz) {
    ::setenv("TZ", tz, 1);
    ::tzset();
  }
  const bool FSaved = std::getenv("TZ") != nullptr;
  const std::string FSavedValue = FSaved ? std::getenv("TZ") : "";
};

TEST_F(TimeZoneTest, OffsetTextAndLocalDate) {
  const std::time_t winter = 1325419200;  // 2012-01-01 12:00:00 UTC
  const std::time_t summer = 1341144000;  // 2012-07-01 12:00:00 UTC
  struct Case {
    const char* tz;
    std::time_t at;
    const char* text;
    int localHour;  // of `at`
  };
  const Case cases[] = {
      {"UTC0", winter, "UTC", 12},
      {"CST-8", winter, "UTC+08:00", 20},
      {"EST5", winter, "UTC-05:00", 7},
      {"IST-5:30", winter, "UTC+05:30", 17},
      {"NST3:30", winter, "UTC-03:30", 8},
      {"CET-1CEST,M3.5.0,M10.5.0/3", winter, "UTC+01:00", 13},
      {"CET-1CEST,M3.5.0,M10.5.0/3", summer, "UTC+02:00", 14},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tz);
    UseZone(c.tz);
    EXPECT_EQ(TimeZoneText(c.at), c.text);
    const std::tm local = LocalDate(c.at);
    EXPECT_EQ(local.tm_hour, c.localHour);
  }
  UseZone("CST-8");
  const std::tm epoch = LocalDate(0);
  EXPECT_EQ(epoch.tm_year, 70);
  EXPECT_EQ(epoch.tm_mon, 0);
  EXPECT_EQ(epoch.tm_mday, 1);
  EXPECT_EQ(epoch.tm_hour, 8);
}

TEST_F(FFUtilsTest, TimeTextRescalesFromTheTimeBase) {
  struct Case {
    AVRational tb;
    std::int64_t t;
    const char* expected;
  };
  const Case cases[] = {
      {{1, 1000000}, 3723500000, "01:02:03.500"},
      {{1, 90000}, 90000 * 61, "00:01:01.000"},
      {{1001, 30000}, 30, "00:00:01.001"},
      {{1, 1000}, AV_NOPTS_VALUE, "N/A"},
  };
  for (const Case& c : cases) EXPECT_EQ(TimeText(c.tb, c.t), c.expected) << c.tb.num << "/" << c.tb.den;
}

TEST_F(FFUtilsTest, CodecNames) {
  struct Case {
    AVCodecID id;
    unsigned tag;
    TCodecSide side;
    const char* expected;
  };
  const Case cases[] = {
      {AV_CODEC_ID_MPEG4, 0, TCodecSide::Decoder, "mpeg4(MPEG-4 part 2)"},
      {AV_CODEC_ID_MP2, 0, TCodecSide::Encoder, "mp2(MP2 (MPEG audio layer 2))"},
      {AV_CODEC_ID_H264, 0, TCodecSide::Decoder, "h264(H.264 / AVC / MPEG-4 AVC / MPEG-4 part 10)"},
      // No VP6 encoder: the tag speaks.
      {AV_CODEC_ID_VP6, MKTAG('V', 'P', '6', 'F'), TCodecSide::Encoder, "VP6F / 0x46365056"},
      {AV_CODEC_ID_MPEG2TS, 0, TCodecSide::Decoder, "mpeg2ts"},
      {AV_CODEC_ID_NONE, 1, TCodecSide::Decoder, "0x0001"},
      {AV_CODEC_ID_NONE, MKTAG('a', 'b', 'c', 0x7F), TCodecSide::Decoder, "0x7f636261"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    EXPECT_EQ(CodecNameText(c.id, c.tag, c.side), c.expected);
    AVCodecParameters par{};
    par.codec_id = c.id;
    par.codec_tag = c.tag;
    EXPECT_EQ(CodecNameText(&par, c.side), c.expected);
    AVCodecContext* ctx = ff::avcodec_alloc_context3(nullptr);
    ASSERT_NE(ctx, nullptr);
    ctx->codec_id = c.id;
    ctx->codec_tag = c.tag;
    EXPECT_EQ(CodecNameText(ctx, c.side), c.expected);
    ff::avcodec_free_context(&ctx);
  }
}

TEST_F(FFUtilsTest, DictionaryValues) {
  AVDictionary* dict = nullptr;
  ff::av_dict_set(&dict, "title", "Holiday", 0);
  ff::av_dict_set(&dict, "empty", "", 0);
  EXPECT_EQ(DictValue(dict, "title", "-"), "Holiday");
  EXPECT_EQ(DictValue(dict, "artist", "-"), "-");
  EXPECT_EQ(DictValue(nullptr, "title", "none"), "none");
  ff::av_dict_free(&dict);
}

std::string gLibraryLog;
void CaptureLog(void*, int level, const char* fmt, va_list args) {
  if (level > AV_LOG_ERROR) return;
  char line[1024];
  std::vsnprintf(line, sizeof line, fmt, args);
  gLibraryLog += line;
}

TEST_F(FFUtilsTest, ReadWholeFile) {
  const fs::path folder = fs::temp_directory_path() / ("ffutils-test-" + std::to_string(::getpid()));
  fs::create_directories(folder);
  const std::string bytes("abc\0def", 7);
  std::ofstream(folder / "data.bin", std::ios::binary) << bytes;
  std::ofstream(folder / "empty.bin", std::ios::binary);
  ff::av_log_set_callback(CaptureLog);

  struct Case {
    std::string name;
    int result;
    std::string content;  // without the terminating zero
    std::string log;
  };
  const std::string missing = (folder / "missing.bin").string();
  const Case cases[] = {
      {(folder / "data.bin").string(), 0, bytes, ""},
      {(folder / "empty.bin").string(), 0, "", ""},
      {missing, -1, "", "Cannot read file \"" + missing + "\"\n"},
      {folder.string(), AVERROR(EIO), "", "Error while reading file \"" + folder.string() + "\"\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    gLibraryLog.clear();
    std::vector<char> buffer{'x'};
    EXPECT_EQ(ReadWholeFile(c.name, buffer), c.result);
    EXPECT_EQ(gLibraryLog, c.log);
    if (c.result == 0) {
      ASSERT_EQ(buffer.size(), c.content.size() + 1);
      EXPECT_EQ(std::string(buffer.data(), c.content.size()), c.content);
      EXPECT_EQ(buffer.back(), '\0');
    } else {
      EXPECT_TRUE(buffer.empty());
    }
  }
  ff::av_log_set_callback(ff::av_log_default_callback);
  fs::remove_all(folder);
}

}  // namespace
