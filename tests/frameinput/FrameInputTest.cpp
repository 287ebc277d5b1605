// The frameinput format opened and read through the real libavformat.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "ffbind/Owned.h"
#include "ffbind/AVCodecStubs.h"
#include "ffbind/AVFormatStubs.h"
#include "ffbind/AVUtilStubs.h"
#include "ffbind/FFLoad.h"
#include "frameinput/FrameInput.h"
#include "platform/MainThread.h"
#include "util/FormatRegistry.h"

namespace {

using frameinput::TFrameInputAdapter;
using frameinput::TInputFrameInfo;
using TOptions = std::vector<std::pair<std::string, std::string>>;

// The demuxer options of the window's default input string.
const TOptions kDefaultOptions = {
    {"input_type", "canvas"}, {"pixel_format", "bgr24"}, {"framerate", "30/1"}, {"video_size", "320x240"}};

std::mutex gLogLock;
std::string gLog;

void CaptureLog(void*, int level, const char* fmt, va_list args) {
  if (level > AV_LOG_INFO) return;
  std::string line(1024, '\0');
  line.resize(std::min<std::size_t>(std::vsnprintf(line.data(), line.size(), fmt, args), line.size() - 1));
  std::lock_guard guard(gLogLock);
  gLog += line;
}

std::string TakeLog() {
  std::lock_guard guard(gLogLock);
  return std::exchange(gLog, std::string());
}

using TInput = ffbind::TInputContext;
using ffbind::TPacket;

class FrameInputTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(ffbind::FFLoader.Load(ffbind::kEncoderLibraries)) << ffbind::FFLoader.LastErrMsg();
    frameinput::RegisterFrameInputFormat();
    ff::av_log_set_callback(CaptureLog);
  }
  void SetUp() override { TakeLog(); }

  // Opens fileName with the options as a dictionary; an open input must
  // have consumed every option.
  int Open(const std::string& fileName, const TOptions& options, TInput& input) {
    AVDictionary* dict = nullptr;
    for (const auto& [key, value] : options) ff::av_dict_set(&dict, key.c_str(), value.c_str(), 0);
    AVFormatContext* ic = nullptr;
    const int ret = ff::avformat_open_input(&ic, fileName.c_str(), frameinput::FrameInputFormat(), &dict);
    if (ret >= 0) {
      EXPECT_EQ(ff::av_dict_count(dict), 0);
    }
    ff::av_dict_free(&dict);
    input.reset(ic);
    return ret;
  }

  // pts of each packet read until the first failure, whose code goes to *end.
  static std::vector<std::int64_t> ReadAll(AVFormatContext* ic, int maxPackets, int* end = nullptr) {
    std::vector<std::int64_t> pts;
    TPacket pkt(ff::av_packet_alloc());
    for (int i = 0; i < maxPackets; ++i) {
      const int ret = ff::av_read_frame(ic, pkt.get());
      if (ret < 0) {
        if (end) *end = ret;
        break;
      }
      pts.push_back(pkt->pts);
      ff::av_packet_unref(pkt.get());
    }
    return pts;
  }

  TFrameInputAdapter adapter;
};

TEST_F(FrameInputTest, RegistersOnceAndDeclaresItsOptions) {
  frameinput::RegisterFrameInputFormat();
  int named = 0;
  for (const AVInputFormat* f : ffutil::OwnInputFormats()) named += std::string(f->name) == "frameinput";
  EXPECT_EQ(named, 1);
  const AVInputFormat* format = ffutil::FindInputFormat("frameinput");
  ASSERT_EQ(format, frameinput::FrameInputFormat());
  EXPECT_STREQ(format->long_name, "Frame input");
  EXPECT_TRUE(format->flags & AVFMT_NOFILE);
  EXPECT_STREQ(format->priv_class->class_name, "FrameInputFormat");

  const struct {
    const char* name;
    const char* help;
    const char* def;
  } kOptions[] = {
      {"input_type", "one of {canvas, bmp, dc, yuv}, default yuv", "yuv"},
      {"video_size", "A string describing frame size, such as 640x480 or hd720.", nullptr},
      {"framerate", "", "ntsc"},
      {"pixel_format", "pal8/rgb555le/bgr24/bgra for canvas/bmp/dc", "yuv420p"},
  };
  const AVClass* cls = format->priv_class;
  for (const auto& o : kOptions) {
    const AVOption* opt = ff::av_opt_find(&cls, o.name, nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ);
    ASSERT_NE(opt, nullptr) << o.name;
    EXPECT_STREQ(opt->help, o.help);
    EXPECT_EQ(opt->type, AV_OPT_TYPE_STRING);
    EXPECT_EQ(opt->flags, AV_OPT_FLAG_DECODING_PARAM);
    if (o.def) {
      EXPECT_STREQ(opt->default_val.str, o.def) << o.name;
    } else {
      EXPECT_EQ(opt->default_val.str, nullptr) << o.name;
    }
  }
}

TEST_F(FrameInputTest, RejectsBadParametersWithTheirMessage) {
  const std::string dead = [] { return TFrameInputAdapter().FileName(); }();
  struct TCase {
    std::string fileName;  // empty: the live adapter
    TOptions options;
    const char* message;
  };
  const TCase kCases[] = {
      {"abc", kDefaultOptions,
       "Could not parse FrameInputAdapter: \"abc\", it should be address of FrameInputAdapter\n"},
      {"0", kDefaultOptions, "Invalid FrameInputAdapter\n"},
      {dead, kDefaultOptions, "Invalid FrameInputAdapter\n"},
      {"", {{"input_type", "Canvas"}, {"video_size", "320x240"}},
       "Invalid frame input type: \"Canvas\", it should be one of canvas/bmp/dc/yuv\n"},
      {"", {{"framerate", "fast"}, {"video_size", "320x240"}}, "Could not parse framerate \"fast\".\n"},
      {"", {{"video_size", "wide"}}, "Couldn't parse video size.\n"},
      {"", {{"input_type", "canvas"}, {"pixel_format", "bgr24"}}, "Invalid frame size\n"},
      {"", {{"video_size", "100000x100000"}}, "Invalid frame size\n"},
      {"", {{"video_size", "320x240"}, {"pixel_format", "nonsense"}}, "Unknown pixel format requested\n"},
      {"", {{"input_type", "canvas"}, {"pixel_format", "yuv420p"}, {"video_size", "320x240"}},
       "Invalid pixel format for canvas/bmp/dc input, should be one of pal8/rgb555le/bgr24/bgra\n"},
      {"", {{"input_type", "dc"}, {"pixel_format", "bgr24"}, {"video_size", "320x240"}},
       "Device context input is not supported on this platform\n"},
  };
  int headers = 0;
  adapter.OnReadHeader = [&](TFrameInputAdapter*) { ++headers; };
  for (const TCase& c : kCases) {
    TInput input;
    const std::string name = c.fileName.empty() ? adapter.FileName() : c.fileName;
    EXPECT_EQ(Open(name, c.options, input), AVERROR(EINVAL)) << c.message;
    EXPECT_EQ(input, nullptr);
    EXPECT_NE(TakeLog().find(c.message), std::string::npos) << c.message;
    EXPECT_EQ(adapter.FrameInfo(), nullptr);
  }
  EXPECT_EQ(headers, 0);
}

TEST_F(FrameInputTest, SizesFollowTypeAndPixelFormat) {
  struct TCase {
    const char* type;
    const char* pixFmt;
    const char* size;
    int bitsPerPixel, bytesPerLine, bytesPerFrame;
  };
  const TCase kCases[] = {
      {"canvas", "bgr24", "320x240", 24, 960, 230400},
      {"canvas", "bgr24", "1366x768", 24, 4100, 3148800},
      {"canvas", "bgra", "3x2", 32, 12, 24},
      {"canvas", "rgb555le", "3x2", 16, 8, 16},
      {"canvas", "pal8", "3x2", 8, 4, 8},
      {"bmp", "bgr24", "3x2", 24, 12, 24},
      {"yuv", "yuv420p", "320x240", 0, 0, 115200},
  };
  adapter.OnReadFrameCanvas = [](TFrameInputAdapter*, platform::TBitmap& canvas, TInputFrameInfo*) {
    canvas.ScanLine(0)[0] = 0x5A;
    canvas.ScanLine(canvas.Height() - 1)[0] = 0xA5;
    return 0;
  };
  auto fill = [](TFrameInputAdapter*, void* data, TInputFrameInfo* info) {
    static_cast<std::uint8_t*>(data)[0] = 0x5A;
    if (info->BytesPerLine > 0) static_cast<std::uint8_t*>(data)[info->BytesPerFrame - info->BytesPerLine] = 0xA5;
    return 0;
  };
  adapter.OnReadFrameBMP = fill;
  adapter.OnReadFrameYUV = fill;
  for (const TCase& c : kCases) {
    SCOPED_TRACE(std::string(c.type) + " " + c.pixFmt + " " + c.size);
    TInput input;
    ASSERT_EQ(Open(adapter.FileName(), {{"input_type", c.type}, {"pixel_format", c.pixFmt}, {"video_size", c.size}},
                   input),
              0);
    const TInputFrameInfo* info = adapter.FrameInfo();
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->BitsPerPixel, c.bitsPerPixel);
    EXPECT_EQ(info->BytesPerLine, c.bytesPerLine);
    EXPECT_EQ(info->BytesPerFrame, c.bytesPerFrame);
    EXPECT_EQ(info->PixelFormat, ff::av_get_pix_fmt(c.pixFmt));
    ASSERT_EQ(input->nb_streams, 1u);
    const AVCodecParameters* par = input->streams[0]->codecpar;
    EXPECT_EQ(par->codec_id, AV_CODEC_ID_RAWVIDEO);
    EXPECT_EQ(par->format, info->PixelFormat);
    EXPECT_EQ(par->width * 1000 + par->height, info->Width * 1000 + info->Height);

    TPacket pkt(ff::av_packet_alloc());
    ASSERT_GE(ff::av_read_frame(input.get(), pkt.get()), 0);
    EXPECT_EQ(pkt->size, c.bytesPerFrame);
    EXPECT_EQ(pkt->data[0], 0x5A);
    if (c.bytesPerLine > 0) {
      EXPECT_EQ(pkt->data[c.bytesPerFrame - c.bytesPerLine], 0xA5);
    }
  }
}

TEST_F(FrameInputTest, DefaultsAreYuvAtNtscRate) {
  adapter.OnReadFrameYUV = [](TFrameInputAdapter*, void*, TInputFrameInfo*) { return 0; };
  TInput input;
  ASSERT_EQ(Open(adapter.FileName(), {{"video_size", "320x240"}}, input), 0);
  EXPECT_EQ(adapter.FrameInfo()->PixelFormat, AV_PIX_FMT_YUV420P);
  EXPECT_EQ(adapter.FrameInfo()->BytesPerFrame, 115200);
  const AVRational rate = input->streams[0]->avg_frame_rate;
  EXPECT_EQ(rate.num, 30000);
  EXPECT_EQ(rate.den, 1001);
  EXPECT_EQ(ReadAll(input.get(), 3), (std::vector<std::int64_t>{0, 33367, 66733}));
}

TEST_F(FrameInputTest, TimestampsPresetAndRebased) {
  constexpr std::int64_t kLate = 10'000'000'000;  // beyond 2^33 microseconds
  struct TCase {
    const char* name;
    std::map<int, std::int64_t> set;  // frame number -> timestamp the handler sets
    std::vector<std::int64_t> pts;
    const char* warning;
  };
  const TCase kCases[] = {
      {"preset", {}, {0, 33333, 66667, 100000}, nullptr},
      {"rebased", {{2, 2'000'000}}, {0, 2'000'000, 2'033'333, 2'066'667}, nullptr},
      {"not later", {{2, 0}}, {0, 33333, 66667, 100000}, "invalid pts 0\n"},
      {"large", {{2, kLate}}, {0, kLate, kLate + 33333, kLate + 66667}, nullptr},
  };
  for (const TCase& c : kCases) {
    SCOPED_TRACE(c.name);
    std::vector<std::int64_t> lastSeen;
    adapter.OnReadFrameCanvas = [&](TFrameInputAdapter* sender, platform::TBitmap&, TInputFrameInfo* info) {
      EXPECT_EQ(sender, &adapter);
      lastSeen.push_back(info->LastTimeStamp);
      if (auto it = c.set.find(info->FrameNumber); it != c.set.end()) info->TimeStamp = it->second;
      return 0;
    };
    TInput input;
    ASSERT_EQ(Open(adapter.FileName(), kDefaultOptions, input), 0);
    EXPECT_EQ(input->probesize, 0);
    EXPECT_TRUE(input->flags & AVFMT_FLAG_NOPARSE);
    const AVStream* st = input->streams[0];
    EXPECT_EQ(st->time_base.num, 1);
    EXPECT_EQ(st->time_base.den, 1000000);
    EXPECT_EQ(ReadAll(input.get(), 4), c.pts);
    ASSERT_EQ(lastSeen.size(), 4u);
    EXPECT_EQ(lastSeen[0], INT64_MIN);
    EXPECT_EQ(lastSeen[3], c.pts[2]);
    const std::string log = TakeLog();
    if (c.warning) {
      EXPECT_NE(log.find(c.warning), std::string::npos) << log;
    } else {
      EXPECT_EQ(log.find("invalid pts"), std::string::npos) << log;
    }
  }
}

TEST_F(FrameInputTest, MissingHandlerEndsTheInput) {
  const struct {
    const char* type;
    const char* message;
  } kCases[] = {
      {"canvas", "reading frame (Canvas) return -1\n"},
      {"bmp", "reading frame (BMP) return -1\n"},
      {"yuv", "reading frame (YUV) return\n"},
  };
  for (const auto& c : kCases) {
    TInput input;
    ASSERT_EQ(Open(adapter.FileName(), {{"input_type", c.type}, {"pixel_format", "bgr24"}, {"video_size", "4x4"}},
                   input),
              0);
    int end = 0;
    EXPECT_TRUE(ReadAll(input.get(), 1, &end).empty());
    EXPECT_EQ(end, -1);
    EXPECT_NE(TakeLog().find(c.message), std::string::npos) << c.type;
  }
}

// The read runs on a worker while this (main) thread serves the hand-offs;
// a handler exception comes back to the reading side.
TEST_F(FrameInputTest, HandlersRunWhereAskedAndTheirErrorsComeBack) {
  for (const bool inMainThread : {true, false}) {
    SCOPED_TRACE(inMainThread ? "main thread" : "calling thread");
    adapter.TriggerEventInMainThread = inMainThread;
    std::vector<bool> onMain;
    adapter.OnReadFrameCanvas = [&](TFrameInputAdapter*, platform::TBitmap&, TInputFrameInfo* info) -> std::int32_t {
      onMain.push_back(platform::IsMainThread());
      if (info->FrameNumber == 2) throw std::runtime_error("picture 2 is damaged");
      return 0;
    };
    TInput input;
    ASSERT_EQ(Open(adapter.FileName(), kDefaultOptions, input), 0);
    int end = 0;
    std::string error;
    std::atomic<bool> done{false};
    std::thread worker([&] {
      ReadAll(input.get(), 5, &end);
      try {
        frameinput::RethrowPendingError(input.get());
      } catch (const std::runtime_error& e) {
        error = e.what();
      }
      done = true;
    });
    platform::ServeMainThreadUntil([&] { return done.load(); }, 20000);
    worker.join();
    EXPECT_EQ(onMain, (std::vector<bool>{inMainThread, inMainThread}));
    EXPECT_EQ(end, AVERROR_EXTERNAL);
    EXPECT_EQ(error, "picture 2 is damaged");
    EXPECT_EQ(adapter.TakePendingError(), nullptr);
  }
}

TEST_F(FrameInputTest, NotificationsAndTheAdapterLifetime) {
  int headers = 0, closes = 0;
  adapter.OnReadClose = [&](TFrameInputAdapter*) { ++closes; };
  adapter.OnReadHeader = [&](TFrameInputAdapter*) {
    if (++headers == 1) throw std::runtime_error("not ready");
  };
  TInput input;
  EXPECT_EQ(Open(adapter.FileName(), kDefaultOptions, input), AVERROR_EXTERNAL);
  EXPECT_THROW(adapter.RethrowPendingError(), std::runtime_error);
  EXPECT_EQ(adapter.FrameInfo(), nullptr);

  ASSERT_EQ(Open(adapter.FileName(), kDefaultOptions, input), 0);
  EXPECT_NE(adapter.FrameInfo(), nullptr);
  TInput second;
  EXPECT_EQ(Open(adapter.FileName(), kDefaultOptions, second), AVERROR(EINVAL));
  EXPECT_NE(TakeLog().find("already serves an open input"), std::string::npos);
  input.reset();
  EXPECT_EQ(closes, 1);
  EXPECT_EQ(adapter.FrameInfo(), nullptr);

  // An adapter that goes away while its input is open leaves reads that end.
  auto shortLived = std::make_unique<TFrameInputAdapter>();
  shortLived->OnReadFrameCanvas = [](TFrameInputAdapter*, platform::TBitmap&, TInputFrameInfo*) { return 0; };
  const std::string name = shortLived->FileName();
  ASSERT_EQ(Open(name, kDefaultOptions, input), 0);
  EXPECT_EQ(frameinput::FindAdapter(name), shortLived.get());
  shortLived.reset();
  EXPECT_EQ(frameinput::FindAdapter(name), nullptr);
  int end = 0;
  EXPECT_TRUE(ReadAll(input.get(), 1, &end).empty());
  EXPECT_EQ(end, -1);
}

}  // namespace
