// Whole conversions as the window builds them: the frameinput adapter
// with a handler painting generated pictures, the job builder's option
// strings, the engine run synchronously, and the written file read back
// through libavformat.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/FFmpeg.h"
#include "ffbind/AVCodecStubs.h"
#include "ffbind/AVFormatStubs.h"
#include "ffbind/AVUtilStubs.h"
#include "ffbind/FFLoad.h"
#include "frameinput/FrameInput.h"
#include "tests/engine/WavFile.h"

namespace {

namespace fs = std::filesystem;

// The job builder's strings for the window's defaults, without "-re"
// (pacing would only slow the tests down).
std::string InputOptions(const std::string& size) {
  return "-f frameinput -input_type canvas -pix_fmt bgr24 -r 30/1 -s " + size;
}
std::string OutputOptions(const std::string& size, const std::string& quality = "10", const std::string& extra = "",
                          bool delay = true) {
  return "-c:v mpeg4 -c:a mp2 -r 30/1 -s " + size + " -c:v mpeg4 -qscale:v " + quality + " -qcomp 7 -s " + size +
         " -b:v 800k -c:v mpeg4  -aspect 16:9 -s " + size + " -b:v 8328k" + extra + (delay ? " -vsync 0" : " -vsync -1");
}
const char* const kFlvCodecs = " -c:v flv -c:a libmp3lame -ar 44100";

// The picture source of the window: c pictures; with a display time d each
// frame n carries (n - 1) d and one extra frame repeats the last picture.
struct TPictureSource {
  int count = 3;
  std::int64_t delay = 0;
  int noiseSeed = 0;  // > 0: noisy pictures (for size comparisons)

  void Attach(frameinput::TFrameInputAdapter& adapter) {
    adapter.OnReadFrameCanvas = [this](frameinput::TFrameInputAdapter*, platform::TBitmap& canvas,
                                       frameinput::TInputFrameInfo* info) -> std::int32_t {
      const int n = info->FrameNumber;
      if (n > count && !(n == count + 1 && delay > 0)) return -1;
      const int picture = n > count ? count - 1 : n - 1;
      std::uint32_t rnd = static_cast<std::uint32_t>(noiseSeed + picture * 7919);
      for (int y = 0; y < canvas.Height(); ++y) {
        std::uint8_t* row = canvas.ScanLine(y);
        for (int x = 0; x < canvas.Width(); ++x) {
          rnd = rnd * 1103515245u + 12345u;
          const std::uint8_t noise = noiseSeed ? static_cast<std::uint8_t>(rnd >> 24) : 0;
          row[3 * x] = static_cast<std::uint8_t>(40 * picture + x + noise);
          row[3 * x + 1] = static_cast<std::uint8_t>(y * 2 + noise);
          row[3 * x + 2] = static_cast<std::uint8_t>(200 - 30 * picture);
        }
      }
      if (delay > 0) info->TimeStamp = delay * (n - 1);
      return 0;
    };
  }
};

// What the written file holds, read back with libavformat.
struct TWritten {
  std::string format;
  AVCodecID codec = AV_CODEC_ID_NONE;
  int width = 0, height = 0;
  AVRational sar{0, 1};
  std::vector<double> times;  // presentation time of each video packet, seconds, in order
  int keys = 0;               // key-frame packets
  double duration = 0;        // end of the last packet, seconds
};

TWritten ReadBack(const std::string& file) {
  TWritten w;
  AVFormatContext* ic = nullptr;
  if (ff::avformat_open_input(&ic, file.c_str(), nullptr, nullptr) < 0) {
    ADD_FAILURE() << "cannot open " << file;
    return w;
  }
  ff::avformat_find_stream_info(ic, nullptr);
  w.format = ic->iformat->name;
  int video = -1;
  for (unsigned i = 0; i < ic->nb_streams; ++i)
    if (ic->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) video = static_cast<int>(i);
  if (video >= 0) {
    AVStream* st = ic->streams[video];
    w.codec = st->codecpar->codec_id;
    w.width = st->codecpar->width;
    w.height = st->codecpar->height;
    w.sar = st->sample_aspect_ratio.num ? st->sample_aspect_ratio : st->codecpar->sample_aspect_ratio;
    AVPacket* pkt = ff::av_packet_alloc();
    while (ff::av_read_frame(ic, pkt) >= 0) {
      if (pkt->stream_index == video && pkt->size > 0) {
        const std::int64_t t = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
        w.times.push_back(t * av_q2d(st->time_base));
        if (pkt->flags & AV_PKT_FLAG_KEY) ++w.keys;
        w.duration = (t + pkt->duration) * av_q2d(st->time_base);
      }
      ff::av_packet_unref(pkt);
    }
    ff::av_packet_free(&pkt);
    std::sort(w.times.begin(), w.times.end());
  }
  ff::avformat_close_input(&ic);
  return w;
}

class ConversionTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(ffbind::FFLoader.Load(ffbind::kEncoderLibraries)) << ffbind::FFLoader.LastErrMsg();
    frameinput::RegisterFrameInputFormat();
  }
  void SetUp() override {
    dir = fs::temp_directory_path() /
          ("fr_conv_" + std::to_string(::getpid()) + "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }

  // Builds the task as the window does and runs it on this thread; the
  // engine's error text, or "" on success. The engine is gone (and the
  // file closed) when this returns.
  std::string Convert(const std::string& in, const std::string& out, const std::string& file,
                      const std::function<void(engine::TCustomFFmpeg&)>& prepare = nullptr) {
    frameinput::TFrameInputAdapter adapter;
    source.Attach(adapter);
    engine::TCustomFFmpeg e;
    if (prepare) prepare(e);
    try {
      e.ParseOptions(in);
      if (e.OpenInput(nullptr, adapter.FileName()) < 0) return e.LastErrMsg();
      e.ParseOptions(out);
      if (e.OpenOutput(file) < 0) return e.LastErrMsg();
      e.transcode_loop();
    } catch (const engine::FFmpegException& ex) {
      return ex.what();
    }
    return "";
  }

  fs::path dir;
  TPictureSource source;
};

TEST_F(ConversionTest, EveryContainerOfTheWindowPlays) {
  struct TCase {
    const char* ext;
    const char* format;
    AVCodecID codec;
    bool flv;
  } cases[] = {
      {".FLV", "flv", AV_CODEC_ID_FLV1, true},       {".MP4", "mov,mp4,m4a,3gp,3g2,mj2", AV_CODEC_ID_MPEG4, false},
      {".MOV", "mov,mp4,m4a,3gp,3g2,mj2", AV_CODEC_ID_MPEG4, false}, {".MKV", "matroska,webm", AV_CODEC_ID_MPEG4, false},
      {".WMV", "asf", AV_CODEC_ID_MPEG4, false},     {".AVI", "avi", AV_CODEC_ID_MPEG4, false},
  };
  source.count = 3;
  source.delay = 400000;
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.ext);
    const std::string file = (dir / (std::string("20220305140709") + c.ext)).string();
    ASSERT_EQ(Convert(InputOptions("320x240"), OutputOptions("320x240", "10", c.flv ? kFlvCodecs : ""), file), "");
    const TWritten w = ReadBack(file);
    EXPECT_EQ(w.format, c.format);
    EXPECT_EQ(w.codec, c.codec);
    EXPECT_EQ(w.width, 320);
    EXPECT_EQ(w.height, 240);
    // c + 1 frames at 0, d, 2d, ..., cd.
    ASSERT_EQ(w.times.size(), 4u);
    for (std::size_t i = 0; i < w.times.size(); ++i) EXPECT_NEAR(w.times[i], 0.4 * i, 0.035) << i;
    EXPECT_NEAR(w.duration, 1.2, 0.1);
  }
}

TEST_F(ConversionTest, FramesFollowTheInputRateWithoutDisplayTime) {
  source.count = 5;
  source.delay = 0;
  const std::string file = (dir / "rate.MP4").string();
  ASSERT_EQ(Convert(InputOptions("320x240"), OutputOptions("320x240", "10", "", false), file), "");
  const TWritten w = ReadBack(file);
  ASSERT_EQ(w.times.size(), 5u);
  for (std::size_t i = 0; i < w.times.size(); ++i) EXPECT_NEAR(w.times[i], i / 30.0, 0.002) << i;
}

TEST_F(ConversionTest, SyncMethodsLimitsAndWindows) {
  struct TCase {
    const char* name;
    int pictures;
    std::int64_t delay;
    std::string out;  // replaces the window's vsync option
    std::size_t frames;
    double first, step;  // expected times: first + i * step (step 0: not checked)
    int keys;            // -1: not checked
    std::string in = "";  // added to the input options
  } cases[] = {
      {"display time, constant rate: the gaps are filled", 3, 200000, " -vsync 1", 19, 0, 1 / 30.0, -1},
      {"display time, variable rate: one frame per picture", 3, 200000, " -vsync 2", 4, 0, 0.2, -1},
      {"frame limit", 10, 0, " -vsync -1 -frames:v 4", 4, 0, 1 / 30.0, -1},
      {"recording time", 10, 0, " -vsync -1 -t 0.2", 6, 0, 1 / 30.0, -1},
      {"start time", 10, 0, " -vsync -1 -ss 0.1", 7, 0, 1 / 30.0, -1},
      {"forced key frames", 10, 0, " -vsync -1 -g 300 -force_key_frames 0.2", 10, 0, 1 / 30.0, 2},
      {"a filter that adds frames at the end", 5, 0, " -vsync -1 -vf tpad=stop=2", 7, 0, 1 / 30.0, -1},
      {"deinterlacing keeps every frame", 5, 0, " -vsync -1 -deinterlace", 5, 0, 1 / 30.0, -1},
      {"input time scale", 3, 200000, " -vsync 0", 4, 0, 0.4, -1, " -itsscale 2"},
      {"input time offset", 3, 200000, " -vsync 0", 4, 1.0, 0.2, -1, " -itsoffset 1"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    source.count = c.pictures;
    source.delay = c.delay;
    const std::string file = (dir / "limits.MKV").string();
    std::string out = OutputOptions("160x120");
    out.resize(out.rfind(" -vsync"));
    out += c.out;
    ASSERT_EQ(Convert(InputOptions("160x120") + c.in, out, file), "");
    const TWritten w = ReadBack(file);
    ASSERT_EQ(w.times.size(), c.frames);
    for (std::size_t i = 0; c.step > 0 && i < w.times.size(); ++i)
      EXPECT_NEAR(w.times[i], c.first + c.step * i, 0.002) << i;
    if (c.keys >= 0) {
      EXPECT_EQ(w.keys, c.keys);
    }
  }
}

TEST_F(ConversionTest, TwoPassStatistics) {
  source.count = 3;
  source.delay = 0;
  const std::string prefix = (dir / "stats").string();
  const std::string file = (dir / "pass.AVI").string();
  ASSERT_EQ(Convert(InputOptions("160x120"), OutputOptions("160x120", "10", " -pass 1 -passlogfile " + prefix, false),
                    file),
            "");
  ASSERT_TRUE(fs::exists(prefix + "-0.log"));
  EXPECT_GT(fs::file_size(prefix + "-0.log"), 0u);
  ASSERT_EQ(Convert(InputOptions("160x120"), OutputOptions("160x120", "10", " -pass 2 -passlogfile " + prefix, false),
                    file),
            "");
  EXPECT_EQ(ReadBack(file).times.size(), 3u);
  // Pass 2 without the first pass's file.
  EXPECT_EQ(Convert(InputOptions("160x120"),
                    OutputOptions("160x120", "10", " -pass 2 -passlogfile " + prefix + "none", false), file),
            "Error reading log file \"" + prefix + "none-0.log\" for pass-2 encoding");
}

TEST_F(ConversionTest, PictureHooksSeeEveryFrame) {
  source.count = 3;
  source.delay = 0;
  std::vector<std::int64_t> inputTimes, outputTimes;
  std::vector<int> outputNumbers;
  const std::string file = (dir / "hooks.MP4").string();
  ASSERT_EQ(Convert(InputOptions("160x120"), OutputOptions("320x240", "10", "", false), file,
                    [&](engine::TCustomFFmpeg& e) {
                      e.FOnInputFrameHook = [&](engine::TCustomFFmpeg*, AVFrame* pic, AVPixelFormat fmt, int, int w,
                                                int h, std::int64_t pts) {
                        EXPECT_EQ(fmt, AV_PIX_FMT_BGR24);
                        EXPECT_EQ(w * 100 + h, 160 * 100 + 120);
                        EXPECT_NE(pic->data[0], nullptr);
                        inputTimes.push_back(pts);
                      };
                      e.FOnOutputFrameHook = [&](engine::TCustomFFmpeg*, AVFrame* pic, AVPixelFormat fmt, int n,
                                                 int w, int h, std::int64_t pts) {
                        EXPECT_EQ(fmt, AV_PIX_FMT_YUV420P);
                        EXPECT_EQ(w * 1000 + h, 320 * 1000 + 240);
                        // What the hook paints is what gets encoded.
                        for (int y = 0; y < h; ++y) std::memset(pic->data[0] + y * pic->linesize[0], 16, w);
                        outputNumbers.push_back(n);
                        outputTimes.push_back(pts);
                      };
                    }),
            "");
  EXPECT_EQ(inputTimes, (std::vector<std::int64_t>{0, 33333, 66667}));
  EXPECT_EQ(outputNumbers, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(outputTimes, (std::vector<std::int64_t>{0, 33333, 66667}));
}

TEST_F(ConversionTest, BitmapHooksAndPreviewBitmaps) {
  // The input hook paints every decoded picture white on a 24-bit surface;
  // the output hook looks at the encoder's pictures on a 32-bit one twice
  // and then stops; the preview bitmaps show what is encoded: white.
  source.count = 3;
  int inputCalls = 0, outputCalls = 0;
  std::vector<int> previewFrames;
  std::vector<std::uint8_t> previewLevels;
  const std::string file = (dir / "bitmaps.MP4").string();
  ASSERT_EQ(Convert(InputOptions("160x120"), OutputOptions("320x240", "10", " -VideoHookBitsPixel 32", false), file,
                    [&](engine::TCustomFFmpeg& e) {
                      e.FOnInputVideoHook = [&](engine::TCustomFFmpeg*, platform::TBitmap& b, int n, std::int64_t,
                                                bool& update, bool&) {
                        ++inputCalls;
                        EXPECT_EQ(n, inputCalls);
                        EXPECT_EQ(b.BitsPerPixel(), 32);
                        for (int y = 0; y < b.Height(); ++y) std::memset(b.ScanLine(y), 255, b.Width() * 4);
                        EXPECT_TRUE(update);
                      };
                      e.FOnOutputVideoHook = [&](engine::TCustomFFmpeg*, platform::TBitmap& b, int n, std::int64_t pts,
                                                 bool& update, bool& stop) {
                        ++outputCalls;
                        EXPECT_EQ(b.Width() * 1000 + b.Height(), 320 * 1000 + 240);
                        EXPECT_EQ(pts, (n - 1) * 33333 + (n == 3));
                        b.ScanLine(0)[0] = 0;  // not handed back: update is cleared
                        update = false;
                        stop = n == 2;
                      };
                      e.FOnPreviewBitmap = [&](engine::TCustomFFmpeg*, platform::TBitmap& b, int n, std::int64_t) {
                        previewFrames.push_back(n);
                        previewLevels.push_back(b.ScanLine(b.Height() / 2)[4 * (b.Width() / 2)]);
                      };
                      e.PreviewInterval = 0;
                      e.SetPostHooks(engine::TCustomFFmpeg::phBitmap);
                    }),
            "");
  EXPECT_EQ(inputCalls, 3);
  EXPECT_EQ(outputCalls, 2);
  EXPECT_EQ(previewFrames, (std::vector<int>{1, 2, 3}));
  for (std::uint8_t level : previewLevels) EXPECT_GE(level, 245);
}

TEST_F(ConversionTest, VideoHookModulesSeeEveryDecodedPicture) {
  // The module paints each decoded picture light grey; the encoder gets
  // the grey.
  source.count = 3;
  std::vector<int> luma;
  const std::string file = (dir / "vhook.MP4").string();
  ASSERT_EQ(Convert(InputOptions("160x120"),
                    OutputOptions("160x120", "10", std::string(" -vhook ") + FOTOREEL_FILL_HOOK + "|250", false), file,
                    [&](engine::TCustomFFmpeg& e) {
                      e.FOnOutputFrameHook = [&](engine::TCustomFFmpeg*, AVFrame* pic, AVPixelFormat, int, int w,
                                                 int h, std::int64_t) {
                        luma.push_back(pic->data[0][h / 2 * pic->linesize[0] + w / 2]);
                      };
                    }),
            "");
  ASSERT_EQ(luma.size(), 3u);
  for (int y : luma) EXPECT_NEAR(y, 231, 3);  // 250 of 0..255 in 16..235

  EXPECT_EQ(Convert(InputOptions("160x120"), OutputOptions("160x120", "10", " -vhook /nonexistent/hook.so|1"),
                    (dir / "missing.MP4").string()),
            "Failed to add video hook function: /nonexistent/hook.so|1");
}

TEST_F(ConversionTest, VideoStatisticsLines) {
  source.count = 3;
  source.delay = 300000;
  const std::string stats = (dir / "vstats.log").string();
  ASSERT_EQ(Convert(InputOptions("160x120"), OutputOptions("160x120", "10", " -vstats_file " + stats),
                    (dir / "stats.MP4").string()),
            "");
  std::ifstream in(stats);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0].rfind("frame=     1 q= 10.0 f_size= ", 0), 0u) << lines[0];
  EXPECT_NE(lines[3].find("type= P"), std::string::npos) << lines[3];
}

TEST_F(ConversionTest, SizeAndAspectComeFromTheOptions) {
  struct TCase {
    const char* size;
    const char* extra;
    int width, height;
    AVRational sar;
  } cases[] = {
      {"320x240", "", 320, 240, {4, 3}},                     // 16:9 on 320x240
      {"320x240", "  -vf transpose=1 ", 240, 320, {64, 27}}, // the chain turns the picture; still 16:9
      {"160x120", "", 160, 120, {4, 3}},
      {"761x1111", "", 761, 1111, {0, 0}},                   // a size typed by the user, on both sides
  };
  source.count = 2;
  source.delay = 500000;
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::string(c.size) + c.extra);
    const std::string file = (dir / "size.MKV").string();
    const bool typed = c.sar.num == 0;
    ASSERT_EQ(Convert(InputOptions(typed ? c.size : "320x240"), OutputOptions(c.size, "10", c.extra), file), "");
    const TWritten w = ReadBack(file);
    EXPECT_EQ(w.width, c.width);
    EXPECT_EQ(w.height, c.height);
    if (c.sar.num) {
      EXPECT_EQ(w.sar.num * c.sar.den, w.sar.den * c.sar.num) << w.sar.num << "/" << w.sar.den;
    } else {  // 16:9 as closest fraction with terms up to 255
      EXPECT_NEAR(av_q2d(w.sar) * c.width / c.height, 16.0 / 9.0, 0.01);
      EXPECT_LE(w.sar.num, 255);
      EXPECT_LE(w.sar.den, 255);
    }
  }
}

TEST_F(ConversionTest, QualityScaleIsHonoured) {
  source.count = 3;
  source.delay = 0;
  source.noiseSeed = 17;
  const std::string fine = (dir / "q2.AVI").string(), coarse = (dir / "q31.AVI").string();
  ASSERT_EQ(Convert(InputOptions("320x240"), OutputOptions("320x240", "2", "", false), fine), "");
  ASSERT_EQ(Convert(InputOptions("320x240"), OutputOptions("320x240", "31", "", false), coarse), "");
  EXPECT_GT(fs::file_size(fine), 3 * fs::file_size(coarse));
}

TEST_F(ConversionTest, FailuresAUserMeets) {
  source.count = 2;
  source.delay = 0;
  const std::string good = (dir / "out.MP4").string();
  struct TCase {
    std::string out, file, text;
  } cases[] = {
      {OutputOptions("320x240"), (dir / "missing" / "out.MP4").string(),
       (dir / "missing" / "out.MP4").string() + ": No such file or directory"},
      {OutputOptions("320x240") + " -c:v nosuchencoder", good, "Unknown encoder 'nosuchencoder'"},
      {OutputOptions("320x240") + " -vf \"scale=((\"", good, "Error opening filters: "},
      {OutputOptions("320x240") + " -vf nosuchfilter", good, "Error opening filters: "},
      {OutputOptions("320x240") + " -vn", good, "Output file #0 does not contain any stream"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.out);
    const std::string text = Convert(InputOptions("320x240"), c.out, c.file);
    EXPECT_EQ(text.substr(0, c.text.size()), c.text);
    // Nothing is left behind: the file that received no data is gone.
    EXPECT_FALSE(fs::exists(c.file));
  }
}

TEST_F(ConversionTest, AudioFileBecomesTheSoundTrack) {
  struct TCase {
    const char* ext;
    const char* extra;
    AVCodecID audio;
    double end;  // of the sound in the file, seconds
    int channels = 2;
  } cases[] = {
      {".MP4", "", AV_CODEC_ID_MP3, 3.0},  // MP4 keeps one id for all MPEG audio layers; it reads back as MP3
      {".FLV", kFlvCodecs, AV_CODEC_ID_MP3, 3.0},
      {".WMV", "", AV_CODEC_ID_MP2, 3.0},
      {".MKV", " -shortest", AV_CODEC_ID_MP2, 1.0},  // the pictures end first (c + 1 frames at 0.5 s)
      {".AVI", "", AV_CODEC_ID_MP2, 3.0, 6},         // film sound into a stereo codec
  };
  const std::string wav = (dir / "sound.wav").string();
  source.count = 2;
  source.delay = 500000;
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.ext);
    enginetest::WriteWav(wav, 22050, 3.0, c.channels);
    const std::string file = (dir / (std::string("sound") + c.ext)).string();
    frameinput::TFrameInputAdapter adapter;
    source.Attach(adapter);
    engine::TCustomFFmpeg e;
    e.ParseOptions(InputOptions("160x120"));
    ASSERT_EQ(e.OpenInput(nullptr, adapter.FileName()), 0) << e.LastErrMsg();
    ASSERT_EQ(e.OpenInput(nullptr, wav), 1) << e.LastErrMsg();
    e.ParseOptions(OutputOptions("160x120", "10", c.extra));
    ASSERT_EQ(e.OpenOutput(file), 0) << e.LastErrMsg();
    ASSERT_NO_THROW(e.transcode_loop());
    // Both streams end up in the file; the sound lasts as long as the input.
    AVFormatContext* ic = nullptr;
    ASSERT_GE(ff::avformat_open_input(&ic, file.c_str(), nullptr, nullptr), 0);
    ff::avformat_find_stream_info(ic, nullptr);
    int audio = -1;
    for (unsigned i = 0; i < ic->nb_streams; ++i)
      if (ic->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) audio = static_cast<int>(i);
    ASSERT_GE(audio, 0);
    EXPECT_EQ(ic->streams[audio]->codecpar->codec_id, c.audio);
    double end = 0;
    AVPacket* pkt = ff::av_packet_alloc();
    while (ff::av_read_frame(ic, pkt) >= 0) {
      if (pkt->stream_index == audio)
        end = std::max(end, (pkt->pts + pkt->duration) * av_q2d(ic->streams[audio]->time_base));
      ff::av_packet_unref(pkt);
    }
    ff::av_packet_free(&pkt);
    ff::avformat_close_input(&ic);
    EXPECT_NEAR(end, c.end, 0.2);
  }
}

TEST_F(ConversionTest, AttachmentsTravelBothWays) {
  source.count = 1;
  source.delay = 0;
  const std::string note = (dir / "note.txt").string(), file = (dir / "attached.MKV").string();
  { std::ofstream(note) << "holiday 2022"; }
  ASSERT_EQ(Convert(InputOptions("160x120"),
                    OutputOptions("160x120", "10", " -attach " + note + " -metadata:s:1 mimetype=text/plain"), file),
            "");

  // Opening the file with a dump writes the attachment under its own name.
  const fs::path out = dir / "dumped";
  fs::create_directories(out);
  const fs::path cwd = fs::current_path();
  fs::current_path(out);
  engine::TCustomFFmpeg e;
  e.ParseOptions("-dump_attachment:t \"\"");
  const int r = e.OpenInput(nullptr, file);
  fs::current_path(cwd);
  ASSERT_EQ(r, 0) << e.LastErrMsg();
  std::ifstream in(out / "note.txt");
  std::string text;
  std::getline(in, text);
  EXPECT_EQ(text, "holiday 2022");
}

TEST_F(ConversionTest, CoverPictureOfTheSoundIsNotTheVideo) {
  // A song with a cover picture larger than the video, made by the engine.
  const std::string wav = (dir / "sound.wav").string(), song = (dir / "song.mp3").string();
  enginetest::WriteWav(wav, 22050, 1.0);
  source.count = 1;
  source.delay = 0;
  {
    frameinput::TFrameInputAdapter adapter;
    source.Attach(adapter);
    engine::TCustomFFmpeg e;
    e.ParseOptions(InputOptions("640x480"));
    ASSERT_EQ(e.OpenInput(nullptr, adapter.FileName()), 0) << e.LastErrMsg();
    ASSERT_EQ(e.OpenInput(nullptr, wav), 1) << e.LastErrMsg();
    e.ParseOptions("-c:v mjpeg -pix_fmt yuvj420p -c:a libmp3lame");
    ASSERT_EQ(e.OpenOutput(song), 0) << e.LastErrMsg();
    ASSERT_NO_THROW(e.transcode_loop());
  }

  source.count = 2;
  source.delay = 500000;
  frameinput::TFrameInputAdapter adapter;
  source.Attach(adapter);
  engine::TCustomFFmpeg e;
  e.ParseOptions(InputOptions("160x120"));
  ASSERT_EQ(e.OpenInput(nullptr, adapter.FileName()), 0);
  ASSERT_EQ(e.OpenInput(nullptr, song), 1) << e.LastErrMsg();
  const std::string file = (dir / "covered.MP4").string();
  e.ParseOptions(OutputOptions("160x120"));
  ASSERT_EQ(e.OpenOutput(file), 0) << e.LastErrMsg();
  ASSERT_NO_THROW(e.transcode_loop());
  const TWritten w = ReadBack(file);
  EXPECT_EQ(w.width, 160);
  EXPECT_EQ(w.times.size(), 3u);  // the pictures, not the cover
}

TEST_F(ConversionTest, InputOpeningTexts) {
  frameinput::TFrameInputAdapter adapter;
  source.Attach(adapter);
  engine::TCustomFFmpeg e;
  e.ParseOptions("-f nosuchformat");
  EXPECT_EQ(e.OpenInput(nullptr, adapter.FileName()), AVERROR(EINVAL));
  EXPECT_EQ(e.LastErrMsg(), "Unknown input format: \"nosuchformat\"");
  // The options stay for the next file; a valid format opens it.
  e.ParseOptions(InputOptions("320x240"));
  EXPECT_EQ(e.OpenInput(nullptr, adapter.FileName()), 0);
  const int r = e.OpenInput(nullptr, (dir / "none.avi").string());
  EXPECT_LT(r, 0);
  EXPECT_EQ(e.LastErrMsg(), (dir / "none.avi").string() + ": No such file or directory");

  // Forced decoders must exist and suit the stream.
  for (const auto& [option, text] : {std::pair<std::string, std::string>{"-c:v nosuchdecoder", "Unknown decoder 'nosuchdecoder'"},
                                     {"-c:v mp2", "Invalid decoder type 'mp2'"}}) {
    frameinput::TFrameInputAdapter other;
    engine::TCustomFFmpeg f;
    f.ParseOptions(InputOptions("320x240") + " " + option);
    try {
      f.OpenInput(nullptr, other.FileName());
      ADD_FAILURE() << option;
    } catch (const engine::FFmpegException& ex) {
      EXPECT_EQ(ex.what(), text);
      EXPECT_EQ(f.LastErrMsg(), text);
    }
  }

  // A demuxer option the file's format does not take.
  const std::string wav = (dir / "sound.wav").string();
  enginetest::WriteWav(wav, 8000, 0.1);
  e.ParseOptions("-s 320x240");
  try {
    e.OpenInput(nullptr, wav);
    ADD_FAILURE() << "no exception";
  } catch (const engine::FFmpegException& ex) {
    EXPECT_STREQ(ex.what(), "Option video_size not found.");
  }
}

}  // namespace
