// The progress report over output streams set up by hand: the status line,
// the event's values and the statistics at the end.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "engine/FFmpeg.h"
#include "ffbind/AVCodecStubs.h"
#include "ffbind/AVFormatStubs.h"
#include "ffbind/FFLoad.h"
#include "tests/engine/LogCapture.h"

namespace {

namespace fs = std::filesystem;
using enginetest::TLogCapture;

struct TEvent {
  std::int32_t FileIndex, FrameNumber, FPS;
  float Quality, BitRate;
  std::int64_t CurrentSize, CurrentDuration, TotalDuration;
};

struct TStreamSpec {
  AVMediaType type;
  std::int32_t frames;
  std::int64_t ms;  // output position
};

class TReportEngine : public engine::TCustomFFmpeg {
 public:
  using TCustomFFmpeg::FOutputDuration;
  using TCustomFFmpeg::Fnb_frames_dup;
  using TCustomFFmpeg::Fnb_frames_drop;
  using TCustomFFmpeg::Fprint_stats;
  using TCustomFFmpeg::FShowDupOrDrop;
  using TCustomFFmpeg::Fvideo_size;
  using TCustomFFmpeg::report_progress;

  // One output file of `bytes` bytes on disk with the given streams; each
  // encoded with quantiser 2.
  void AddOutput(const std::string& path, std::int64_t bytes, const std::vector<TStreamSpec>& streams) {
    AVFormatContext* oc = nullptr;
    ASSERT_GE(ff::avformat_alloc_output_context2(&oc, nullptr, "avi", path.c_str()), 0);
    engine::TOutputFile of;
    of.ctx.reset(oc);
    ASSERT_GE(ff::avio_open(&oc->pb, path.c_str(), AVIO_FLAG_WRITE), 0);
    const std::vector<std::uint8_t> data(static_cast<std::size_t>(bytes), 0x55);
    if (bytes) ff::avio_write(oc->pb, data.data(), static_cast<int>(bytes));
    ff::avio_flush(oc->pb);
    for (const TStreamSpec& spec : streams) {
      AVStream* st = ff::avformat_new_stream(oc, nullptr);
      st->time_base = {1, 1000};
      st->codecpar->codec_type = spec.type;
      auto ost = std::make_unique<engine::TOutputStream>();
      ost->index = st->index;
      ost->st = st;
      ost->encoding_needed = 1;
      ost->enc_ctx.reset(ff::avcodec_alloc_context3(nullptr));
      ost->enc_ctx->codec_type = spec.type;
      ost->frame_number = spec.frames;
      ost->cur_pts = spec.ms;
      ost->coded_quality = 2 * FF_QP2LAMBDA;
      Foutput_streams.push_back(std::move(ost));
    }
    Foutput_files.push_back(std::move(of));
  }

  void Observe() {
    OnProgress = [this](TCustomFFmpeg*, std::int32_t fileIndex, std::int32_t frameNumber, std::int32_t fps,
                        float q, float rate, std::int64_t size, std::int64_t duration, std::int64_t total) {
      Events.push_back({fileIndex, frameNumber, fps, q, rate, size, duration, total});
    };
  }

  std::vector<TEvent> Events;
};

class ReportTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(ffbind::FFLoader.Load(ffbind::kEncoderLibraries)) << ffbind::FFLoader.LastErrMsg();
  }
  void SetUp() override {
    FDir = fs::temp_directory_path() / ("report_" + std::to_string(::getpid()));
    fs::create_directories(FDir);
  }
  void TearDown() override { fs::remove_all(FDir); }
  std::string OutPath() const { return (FDir / "out.avi").string(); }

  fs::path FDir;
};

TEST_F(ReportTest, LineAndEventValues) {
  constexpr std::int64_t kStart = 1000000000;
  struct Case {
    const char* name;
    std::int64_t bytes;
    std::vector<TStreamSpec> streams;
    std::int64_t runUs;
    const char* line;
    std::int32_t frame, fps;
    std::int64_t duration;
  };
  const Case cases[] = {
      {"fps and a long time", 1048576, {{AVMEDIA_TYPE_VIDEO, 75, 3725500}}, 2500000,
       "frame=   75 fps= 30 q=2.0 size=    1024kB time=01:02:05.50 bitrate=   2.3kbits/s", 75, 30, 3725500000},
      {"no fps in the first second", 1048576, {{AVMEDIA_TYPE_VIDEO, 75, 8000}}, 800000,
       "frame=   75 fps=  0 q=2.0 size=    1024kB time=00:00:08.00 bitrate=1048.6kbits/s", 75, 0, 8000000},
      {"audio only", 1048576, {{AVMEDIA_TYPE_AUDIO, 0, 2000}}, 3000000,
       "size=    1024kB time=00:00:02.00 bitrate=4194.3kbits/s", -1, -1, 2000000},
      {"slowest stream gives the time", 2048, {{AVMEDIA_TYPE_VIDEO, 10, 400}, {AVMEDIA_TYPE_AUDIO, 0, 350}},
       2000000, "frame=   10 fps=  5 q=2.0 size=       2kB time=00:00:00.35 bitrate=  46.8kbits/s", 10, 5, 350000},
      {"second video stream adds its quantiser", 0,
       {{AVMEDIA_TYPE_VIDEO, 4, 160}, {AVMEDIA_TYPE_VIDEO, 4, 160}}, 2000000,
       "frame=    4 fps=  2 q=2.0 q=2.0 size=       0kB time=00:00:00.16 bitrate=   0.0kbits/s", 4, 2, 160000},
      // Nothing encoded yet: no time at all.
      {"video before its first frame", 0, {{AVMEDIA_TYPE_VIDEO, 0, 0}}, 2000000,
       "size=       0kB time=2562047788:00:54.77 bitrate=   0.0kbits/s", -1, -1, INT64_MAX},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TLogCapture log;
    {
      TReportEngine e;
      e.AddOutput(OutPath(), c.bytes, c.streams);
      e.report_progress(false, 0, kStart, kStart + c.runUs);
      EXPECT_EQ(log.Take(), std::string(c.line) + "\n");
    }
    TReportEngine e;
    e.AddOutput(OutPath(), c.bytes, c.streams);
    e.FOutputDuration = 5000000;
    e.Observe();
    e.report_progress(false, 1, kStart, kStart + c.runUs);
    EXPECT_EQ(log.Take(), "");  // the handler gets it instead
    ASSERT_EQ(e.Events.size(), 1u);
    const TEvent& ev = e.Events[0];
    EXPECT_EQ(ev.FileIndex, 1);
    EXPECT_EQ(ev.FrameNumber, c.frame);
    EXPECT_EQ(ev.FPS, c.fps);
    EXPECT_EQ(ev.CurrentSize, c.bytes);
    EXPECT_EQ(ev.CurrentDuration, c.duration);
    EXPECT_EQ(ev.TotalDuration, 5000000);
    EXPECT_FLOAT_EQ(ev.Quality, 2.0f);
  }
}

TEST_F(ReportTest, LastReportAndEndStatistics) {
  struct Case {
    const char* name;
    std::int64_t videoBytes;
    const char* statistics;
    bool emptyWarning;
  };
  const Case cases[] = {
      {"encoded", 10240, "video:10kB audio:0kB global headers:0kB muxing overhead 0.000000%\r\n", false},
      {"nothing encoded", 0, "video:0kB audio:0kB global headers:0kB muxing overhead 0.000000%\r\n", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TLogCapture log;
    TReportEngine e;
    e.AddOutput(OutPath(), c.videoBytes, {{AVMEDIA_TYPE_VIDEO, 25, 1000}});
    e.Fvideo_size = c.videoBytes;
    e.Observe();
    e.report_progress(true, 0, 0, 2000000);
    ASSERT_EQ(e.Events.size(), 1u);
    EXPECT_EQ(e.Events[0].FileIndex, -1);
    std::string expected = std::string(c.statistics) + "\n";
    if (c.emptyWarning)
      expected += "Output file is empty, nothing was encoded (check -ss / -t / -frames parameters if used)\n";
    EXPECT_EQ(log.Take(), expected);
  }
}

TEST_F(ReportTest, WhenALineIsLogged) {
  struct Case {
    const char* name;
    bool handler, last, printStats, dupPending;
    // Lines expected per call, for two calls in a row.
    std::optional<std::string> first, second;
  };
  const std::string line = "frame=   25 fps=  0 q=2.0 size=       1kB time=00:00:01.00 bitrate=   8.2kbits/s";
  const std::string dup = line + " dup=1 drop=2";
  const Case cases[] = {
      {"no handler, -stats", false, false, true, false, line, line},
      {"no handler, no -stats", false, false, false, false, std::nullopt, std::nullopt},
      {"handler", true, false, true, false, std::nullopt, std::nullopt},
      // A duplicate shows once even with a handler.
      {"handler after a dup", true, false, true, true, dup, std::nullopt},
      {"no handler after a dup", false, false, true, true, dup, dup},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TLogCapture log;
    TReportEngine e;
    e.AddOutput(OutPath(), 1024, {{AVMEDIA_TYPE_VIDEO, 25, 1000}});
    e.Fprint_stats = c.printStats;
    if (c.handler) e.Observe();
    if (c.dupPending) {
      e.Fnb_frames_dup = 1;
      e.Fnb_frames_drop = 2;
      e.FShowDupOrDrop = true;
    }
    for (const std::optional<std::string>& expected : {c.first, c.second}) {
      e.report_progress(false, 0, 0, 1000000);
      EXPECT_EQ(log.Take(), expected ? *expected + "\n" : "");
    }
  }
}

}  // namespace
