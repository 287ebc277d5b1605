// Pictures per second and peak memory of a whole conversion through the
// engine (frameinput input painted from JPEG pictures, on the window's
// bgr24 surface or in yuv420p; the window's default output options without
// "-re"), against a minimal pipeline written directly on the libraries
// (decode JPEG, scale, encode one frame per picture, mux). Each measurement
// runs in a child process of its own so that its peak resident size
// (ru_maxrss) is its own.
//
//   convert_bench [-n N[,N...]] [-s WxH] [--only canvas|yuv|direct] [picture.jpg ...]
//
// Without pictures, 800x600 JPEG pictures are generated in memory. --only
// runs one road once per count in this process, for a profiler.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "engine/FFmpeg.h"
#include "ffbind/Owned.h"
#include "ffbind/AVCodecStubs.h"
#include "ffbind/AVFormatStubs.h"
#include "ffbind/AVUtilStubs.h"
#include "ffbind/FFLoad.h"
#include "ffbind/SwScaleStubs.h"
#include "frameinput/FrameInput.h"

namespace {

using TBytes = std::vector<std::uint8_t>;
constexpr std::int64_t kDisplayTime = 2000000;  // the window's default, microseconds
constexpr int kFrameRate = 30;

void Check(bool ok, const std::string& what) {
  if (!ok) throw std::runtime_error(what);
}

using TCodec = ffbind::TCodecContext;
using ffbind::TFrame;
using ffbind::TPacket;

TFrame NewFrame() {
  TFrame f(ff::av_frame_alloc());
  Check(f != nullptr, "av_frame_alloc");
  return f;
}

// Generated test pictures: a gradient that changes from picture to picture.
std::vector<TBytes> GeneratePictures(int count) {
  const AVCodec* codec = ff::avcodec_find_encoder(AV_CODEC_ID_MJPEG);
  Check(codec != nullptr, "no JPEG encoder");
  std::vector<TBytes> pictures;
  for (int i = 0; i < count; ++i) {
    TCodec c(ff::avcodec_alloc_context3(codec));
    c->width = 800;
    c->height = 600;
    c->pix_fmt = AV_PIX_FMT_YUVJ420P;
    c->time_base = AVRational{1, 25};
    Check(ff::avcodec_open2(c.get(), codec, nullptr) >= 0, "cannot open the JPEG encoder");
    TFrame f = NewFrame();
    f->format = c->pix_fmt;
    f->width = c->width;
    f->height = c->height;
    Check(ff::av_frame_get_buffer(f.get(), 0) >= 0, "av_frame_get_buffer");
    for (int p = 0; p < 3; ++p) {
      const int w = p ? c->width / 2 : c->width, h = p ? c->height / 2 : c->height;
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
          f->data[p][y * f->linesize[p] + x] = static_cast<std::uint8_t>(p ? 128 + (x - y + 20 * i) % 64 : x + y + 37 * i);
    }
    TPacket pkt(ff::av_packet_alloc());
    Check(ff::avcodec_send_frame(c.get(), f.get()) >= 0 && ff::avcodec_receive_packet(c.get(), pkt.get()) >= 0,
          "JPEG encoding failed");
    pictures.emplace_back(pkt->data, pkt->data + pkt->size);
  }
  return pictures;
}

TBytes ReadFile(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  Check(in.good(), "cannot read " + name);
  return TBytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Decodes a JPEG picture and scales it to the wanted size and format.
class TPicturePainter {
 public:
  TPicturePainter(int width, int height, AVPixelFormat format) : FWidth(width), FHeight(height), FFormat(format) {
    const AVCodec* codec = ff::avcodec_find_decoder(AV_CODEC_ID_MJPEG);
    Check(codec != nullptr, "no JPEG decoder");
    FDecoder.reset(ff::avcodec_alloc_context3(codec));
    Check(ff::avcodec_open2(FDecoder.get(), codec, nullptr) >= 0, "cannot open the JPEG decoder");
  }
  ~TPicturePainter() { ff::sws_freeContext(FScaler); }

  void Paint(const TBytes& jpeg, std::uint8_t* const dst[], const int dstStride[]) {
    TPacket pkt(ff::av_packet_alloc());
    Check(ff::av_new_packet(pkt.get(), static_cast<int>(jpeg.size())) >= 0, "av_new_packet");
    std::memcpy(pkt->data, jpeg.data(), jpeg.size());
    Check(ff::avcodec_send_packet(FDecoder.get(), pkt.get()) >= 0, "JPEG decoding failed");
    Check(ff::avcodec_receive_frame(FDecoder.get(), FPicture.get()) >= 0, "JPEG decoding failed");
    FScaler = ff::sws_getCachedContext(FScaler, FPicture->width, FPicture->height,
                                       static_cast<AVPixelFormat>(FPicture->format), FWidth, FHeight, FFormat,
                                       SWS_BICUBIC, nullptr, nullptr, nullptr);
    Check(FScaler != nullptr, "no scaler");
    ff::sws_scale(FScaler, FPicture->data, FPicture->linesize, 0, FPicture->height, dst, dstStride);
    ff::av_frame_unref(FPicture.get());
  }

 private:
  int FWidth, FHeight;
  AVPixelFormat FFormat;
  TCodec FDecoder;
  TFrame FPicture = NewFrame();
  SwsContext* FScaler = nullptr;
};

// Which way the pictures reach the engine: the window's bgr24 drawing
// surface, which the engine converts to the encoder's yuv420p, or the
// frame input's yuv type, painted straight in the encoder's format and so
// the same work as the direct pipeline.
enum class TRoad { Canvas, Yuv };

// c pictures, each shown for the display time, one extra frame repeating
// the last picture, as the window's frame source serves them.
void RunEngine(TRoad road, const std::vector<TBytes>& pictures, int count, int width, int height,
               const std::string& out) {
  const std::string size = std::to_string(width) + "x" + std::to_string(height);
  frameinput::TFrameInputAdapter adapter;
  TPicturePainter painter(width, height, road == TRoad::Canvas ? AV_PIX_FMT_BGR24 : AV_PIX_FMT_YUV420P);
  auto paint = [&](frameinput::TInputFrameInfo* info, std::uint8_t* const dst[], const int stride[]) {
    const int n = info->FrameNumber;
    if (n > count + 1) return -1;
    painter.Paint(pictures[(n > count ? count - 1 : n - 1) % pictures.size()], dst, stride);
    info->TimeStamp = kDisplayTime * (n - 1);
    return 0;
  };
  adapter.OnReadFrameCanvas = [&](frameinput::TFrameInputAdapter*, platform::TBitmap& canvas,
                                  frameinput::TInputFrameInfo* info) -> std::int32_t {
    std::uint8_t* dst[4] = {canvas.Bits()};
    const int stride[4] = {canvas.BytesPerLine()};
    return paint(info, dst, stride);
  };
  adapter.OnReadFrameYUV = [&](frameinput::TFrameInputAdapter*, void* data,
                               frameinput::TInputFrameInfo* info) -> std::int32_t {
    std::uint8_t* dst[4];
    int stride[4];
    ff::av_image_fill_arrays(dst, stride, static_cast<std::uint8_t*>(data), info->PixelFormat, info->Width,
                             info->Height, 1);
    return paint(info, dst, stride);
  };
  engine::TCustomFFmpeg e;
  e.ParseOptions(std::string("-f frameinput ") +
                 (road == TRoad::Canvas ? "-input_type canvas -pix_fmt bgr24" : "-input_type yuv -pix_fmt yuv420p") +
                 " -r 30/1 -s " + size);
  Check(e.OpenInput(nullptr, adapter.FileName()) >= 0, e.LastErrMsg());
  e.ParseOptions("-c:v mpeg4 -c:a mp2 -r 30/1 -s " + size + " -c:v mpeg4 -qscale:v 10 -qcomp 7 -s " + size +
                 " -b:v 800k -c:v mpeg4  -aspect 16:9 -s " + size + " -b:v 8328k -vsync 0");
  Check(e.OpenOutput(out) >= 0, e.LastErrMsg());
  e.transcode_loop();
}

// The same work written directly on the libraries.
void RunDirect(const std::vector<TBytes>& pictures, int count, int width, int height, const std::string& out) {
  AVFormatContext* oc = nullptr;
  Check(ff::avformat_alloc_output_context2(&oc, nullptr, nullptr, out.c_str()) >= 0, "no muxer for " + out);
  std::unique_ptr<AVFormatContext, void (*)(AVFormatContext*)> muxer(oc, [](AVFormatContext* s) {
    ff::avio_closep(&s->pb);
    ff::avformat_free_context(s);
  });
  const AVCodec* codec = ff::avcodec_find_encoder(AV_CODEC_ID_MPEG4);
  TCodec enc(ff::avcodec_alloc_context3(codec));
  enc->width = width;
  enc->height = height;
  enc->pix_fmt = AV_PIX_FMT_YUV420P;
  enc->time_base = AVRational{1, kFrameRate};
  enc->flags |= AV_CODEC_FLAG_QSCALE | AV_CODEC_FLAG_GLOBAL_HEADER;
  enc->global_quality = FF_QP2LAMBDA * 10;
  Check(ff::avcodec_open2(enc.get(), codec, nullptr) >= 0, "cannot open the MPEG-4 encoder");
  AVStream* st = ff::avformat_new_stream(oc, nullptr);
  ff::avcodec_parameters_from_context(st->codecpar, enc.get());
  st->time_base = enc->time_base;
  Check(ff::avio_open(&oc->pb, out.c_str(), AVIO_FLAG_WRITE) >= 0, "cannot create " + out);
  Check(ff::avformat_write_header(oc, nullptr) >= 0, "cannot write the header");

  TPicturePainter painter(width, height, AV_PIX_FMT_YUV420P);
  TFrame frame = NewFrame();
  frame->format = AV_PIX_FMT_YUV420P;
  frame->width = width;
  frame->height = height;
  Check(ff::av_frame_get_buffer(frame.get(), 0) >= 0, "av_frame_get_buffer");
  TPacket pkt(ff::av_packet_alloc());
  auto drain = [&] {
    while (ff::avcodec_receive_packet(enc.get(), pkt.get()) >= 0) {
      ff::av_packet_rescale_ts(pkt.get(), enc->time_base, st->time_base);
      pkt->stream_index = 0;
      Check(ff::av_interleaved_write_frame(oc, pkt.get()) >= 0, "write failed");
    }
  };
  const std::int64_t step = kDisplayTime * kFrameRate / 1000000;
  for (int i = 0; i <= count; ++i) {
    Check(ff::av_frame_make_writable(frame.get()) >= 0, "av_frame_make_writable");
    painter.Paint(pictures[(i < count ? i : count - 1) % pictures.size()], frame->data, frame->linesize);
    frame->pts = i * step;
    frame->quality = enc->global_quality;
    Check(ff::avcodec_send_frame(enc.get(), frame.get()) >= 0, "encoding failed");
    drain();
  }
  ff::avcodec_send_frame(enc.get(), nullptr);
  drain();
  ff::av_write_trailer(oc);
}

struct TResult {
  double seconds = 0;
  long peakKiB = 0;
};

// Runs one conversion in a child process: its time and peak memory.
template <typename Run>
TResult Measure(Run run) {
  int fds[2];
  Check(::pipe(fds) == 0, "pipe");
  const pid_t pid = ::fork();
  Check(pid >= 0, "fork");
  if (pid == 0) {
    ::close(fds[0]);
    double seconds = -1;
    try {
      const auto start = std::chrono::steady_clock::now();
      run();
      seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "failed: %s\n", e.what());
    }
    if (::write(fds[1], &seconds, sizeof seconds) != sizeof seconds) ::_exit(2);
    ::_exit(seconds < 0 ? 1 : 0);
  }
  ::close(fds[1]);
  TResult r;
  if (::read(fds[0], &r.seconds, sizeof r.seconds) != sizeof r.seconds) r.seconds = -1;
  ::close(fds[0]);
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  r.peakKiB = usage.ru_maxrss;
  Check(WIFEXITED(status) && WEXITSTATUS(status) == 0 && r.seconds > 0, "a conversion failed");
  return r;
}

std::vector<int> ParseCounts(const std::string& text) {
  std::vector<int> counts;
  std::stringstream in(text);
  for (std::string item; std::getline(in, item, ',');) counts.push_back(std::stoi(item));
  return counts;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<int> counts = {30, 120};
  int width = 640, height = 480;
  std::vector<std::string> files;
  std::string only;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-n" && i + 1 < argc) counts = ParseCounts(argv[++i]);
    else if (arg == "-s" && i + 1 < argc) std::sscanf(argv[++i], "%dx%d", &width, &height);
    else if (arg == "--only" && i + 1 < argc) only = argv[++i];
    else files.push_back(arg);
  }
  try {
    Check(ffbind::FFLoader.Load(ffbind::kEncoderLibraries), ffbind::FFLoader.LastErrMsg());
    ff::av_log_set_level(AV_LOG_ERROR);
    frameinput::RegisterFrameInputFormat();
    std::vector<TBytes> pictures;
    for (const std::string& f : files) pictures.push_back(ReadFile(f));
    if (pictures.empty()) pictures = GeneratePictures(8);

    const std::string out = "/tmp/convert_bench_" + std::to_string(::getpid()) + ".MP4";
    std::printf("%dx%d, %zu distinct pictures\n", width, height, pictures.size());
    // The three ways one conversion can be made.
    const std::vector<std::pair<std::string, std::function<void(int)>>> ways = {
        {"canvas", [&](int n) { RunEngine(TRoad::Canvas, pictures, n, width, height, out); }},
        {"yuv", [&](int n) { RunEngine(TRoad::Yuv, pictures, n, width, height, out); }},
        {"direct", [&](int n) { RunDirect(pictures, n, width, height, out); }},
    };
    if (!only.empty()) {
      const auto way = std::find_if(ways.begin(), ways.end(), [&](const auto& w) { return w.first == only; });
      Check(way != ways.end(), "--only takes canvas, yuv or direct");
      for (int n : counts) way->second(n);
      std::remove(out.c_str());
      return 0;
    }
    std::printf("%8s | %10s %8s %8s | %10s %8s %8s | %10s %8s\n", "pictures", "canvas/s", "%", "MiB", "yuv/s", "%",
                "MiB", "direct/s", "MiB");
    for (int n : counts) {
      // The best of three interleaved runs each: a busy machine only ever
      // makes a run slower. Memory is the largest peak seen.
      std::vector<TResult> best(ways.size(), TResult{1e300, 0});
      for (int round = 0; round < 3; ++round) {
        for (std::size_t w = 0; w < ways.size(); ++w) {
          const TResult r = Measure([&] { ways[w].second(n); });
          best[w] = {std::min(best[w].seconds, r.seconds), std::max(best[w].peakKiB, r.peakKiB)};
        }
      }
      const TResult& direct = best.back();
      auto share = [&](const TResult& r) { return 100.0 * direct.seconds / r.seconds; };
      std::printf("%8d | %10.1f %7.1f%% %8.1f | %10.1f %7.1f%% %8.1f | %10.1f %8.1f\n", n, n / best[0].seconds,
                  share(best[0]), best[0].peakKiB / 1024.0, n / best[1].seconds, share(best[1]),
                  best[1].peakKiB / 1024.0, n / direct.seconds, direct.peakKiB / 1024.0);
    }
    std::remove(out.c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
