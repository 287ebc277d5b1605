// The "frameinput" demuxer: one raw video stream whose packets are painted
// by the adapter's handlers. Timestamps are microseconds.
#include <cerrno>
#include <cinttypes>
#include <cstdint>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <exception>
#include <new>

#include "ffbind/AVCodecStubs.h"
#include "ffbind/AVFormatStubs.h"
#include "ffbind/AVUtilStubs.h"
#include "frameinput/FrameInput.h"
#include "frameinput/FrameInputContext.h"
#include "util/FormatRegistry.h"

namespace frameinput {
namespace {

constexpr std::int64_t kClockStep = 1000000;

const char* Text(const char* s) { return s ? s : ""; }
bool IsSet(const char* s) { return s && *s; }

std::int64_t Saturate(__int128 v) {
  if (v > INT64_MAX) return INT64_MAX;
  if (v < INT64_MIN) return INT64_MIN;
  return static_cast<std::int64_t>(v);
}

// n / d rounded to the nearest integer, ties to even; d > 0.
std::int64_t RoundDiv(__int128 n, __int128 d) {
  __int128 q = n / d;
  __int128 r = n % d;
  if (r < 0) {  // make q the floor, 0 <= r < d
    q -= 1;
    r += d;
  }
  if (2 * r > d || (2 * r == d && (q & 1) != 0)) q += 1;
  return Saturate(q);
}

int BitsOfCanvasFormat(AVPixelFormat format) {
  switch (format) {
    case AV_PIX_FMT_BGR24: return 24;
    case AV_PIX_FMT_PAL8: return 8;
    case AV_PIX_FMT_BGRA: return 32;
    case AV_PIX_FMT_RGB555LE: return 16;
    default: return 0;
  }
}

platform::TPixelFormat SurfaceFormat(int bitsPerPixel) {
  switch (bitsPerPixel) {
    case 8: return platform::pf8bit;
    case 16: return platform::pf15bit;
    case 32: return platform::pf32bit;
    default: return platform::pf24bit;
  }
}

void ReleaseSurface(TFrameInputContext* c) {
  delete c->Canvas;
  c->Canvas = nullptr;
  ff::av_freep(&c->BitmapBits);
}

int ParseInputType(const char* text) {
  if (!IsSet(text)) return itYUV;
  if (std::strcmp(text, "canvas") == 0) return itCanvas;
  if (std::strcmp(text, "bmp") == 0) return itBMP;
  if (std::strcmp(text, "dc") == 0) return itDC;
  if (std::strcmp(text, "yuv") == 0) return itYUV;
  return -1;
}

// Steps that need nothing released on failure: type, rate, size, format.
int ReadParameters(AVFormatContext* s, TFrameInputContext* c, AVRational* rate) {
  TInputFrameInfo& info = c->FrameInfo;
  c->InputType = ParseInputType(c->input_type);
  if (c->InputType < 0) {
    ff::av_log(s, AV_LOG_ERROR, "Invalid frame input type: \"%s\", it should be one of canvas/bmp/dc/yuv\n",
               Text(c->input_type));
    return AVERROR(EINVAL);
  }
  if (ff::av_parse_video_rate(rate, Text(c->framerate)) < 0) {
    ff::av_log(s, AV_LOG_ERROR, "Could not parse framerate \"%s\".\n", Text(c->framerate));
    return AVERROR(EINVAL);
  }
  c->TimeBase = AVRational{rate->den, rate->num};
  if (c->TimeBase.num == 0 || c->TimeBase.den == 0) {
    ff::av_log(s, AV_LOG_ERROR, "Invalid frame rate\n");
    return AVERROR(EINVAL);
  }
  if (IsSet(c->video_size) && ff::av_parse_video_size(&info.Width, &info.Height, c->video_size) < 0) {
    ff::av_log(s, AV_LOG_ERROR, "Couldn't parse video size.\n");
    return AVERROR(EINVAL);
  }
  // The size check also keeps every byte count below within 32 bits.
  if (info.Width <= 0 || info.Height <= 0 || ff::av_image_check_size(info.Width, info.Height, 0, s) < 0) {
    ff::av_log(s, AV_LOG_ERROR, "Invalid frame size\n");
    return AVERROR(EINVAL);
  }
  info.PixelFormat = AV_PIX_FMT_YUV420P;
  if (IsSet(c->pixel_format)) {
    info.PixelFormat = ff::av_get_pix_fmt(c->pixel_format);
    if (info.PixelFormat == AV_PIX_FMT_NONE) {
      ff::av_log(s, AV_LOG_ERROR, "Unknown pixel format requested\n");
      return AVERROR(EINVAL);
    }
  }
  if (c->InputType != itYUV) {
    info.BitsPerPixel = BitsOfCanvasFormat(info.PixelFormat);
    if (info.BitsPerPixel == 0) {
      ff::av_log(s, AV_LOG_ERROR,
                 "Invalid pixel format for canvas/bmp/dc input, should be one of pal8/rgb555le/bgr24/bgra\n");
      return AVERROR(EINVAL);
    }
  }
  info.BytesPerLine = static_cast<std::int32_t>((static_cast<std::int64_t>(info.Width) * info.BitsPerPixel + 31) / 32 * 4);
  return 0;
}

int CreateSurface(AVFormatContext* s, TFrameInputContext* c) {
  TInputFrameInfo& info = c->FrameInfo;
  switch (c->InputType) {
    case itDC:
      ff::av_log(s, AV_LOG_ERROR, "Device context input is not supported on this platform\n");
      return AVERROR(EINVAL);
    case itBMP:
      info.BytesPerFrame = info.BytesPerLine * info.Height;
      c->BitmapBits = static_cast<std::uint8_t*>(ff::av_mallocz(info.BytesPerFrame));
      if (!c->BitmapBits) {
        ff::av_log(s, AV_LOG_ERROR, "CreateDIBSection error #%li\n", static_cast<long>(ENOMEM));
        return AVERROR(EIO);
      }
      return 0;
    case itCanvas:
      c->Canvas = new platform::TBitmap(info.Width, info.Height, SurfaceFormat(info.BitsPerPixel));
      info.BytesPerFrame = info.BytesPerLine * info.Height;
      return 0;
    default:
      info.BytesPerFrame = ff::av_image_get_buffer_size(info.PixelFormat, info.Width, info.Height, 1);
      if (info.BytesPerFrame < 0) {
        ff::av_log(s, AV_LOG_ERROR, "avpicture_get_size() failed\n");
        return AVERROR(EIO);
      }
      return 0;
  }
}

int CreateStream(AVFormatContext* s, const TFrameInputContext* c, AVRational rate) {
  const TInputFrameInfo& info = c->FrameInfo;
  AVStream* st = ff::avformat_new_stream(s, nullptr);
  if (!st) return AVERROR(ENOMEM);
  st->id = 0;
  // Microsecond timestamps; 64 wrap bits keep large ones from being folded.
  st->time_base = AVRational{1, 1000000};
  st->pts_wrap_bits = 64;
  AVCodecParameters* par = st->codecpar;
  par->codec_type = AVMEDIA_TYPE_VIDEO;
  par->codec_id = AV_CODEC_ID_RAWVIDEO;
  par->width = info.Width;
  par->height = info.Height;
  par->format = info.PixelFormat;
  par->bit_rate = std::llrint(static_cast<double>(info.BytesPerFrame) * 8.0 * rate.num / rate.den);
  st->r_frame_rate = rate;
  st->avg_frame_rate = rate;
  return 0;
}

int OpenInput(AVFormatContext* s, TFrameInputContext* c, TFrameInputAdapter* adapter) {
  AVRational rate{0, 1};
  if (int ret = ReadParameters(s, c, &rate); ret < 0) return ret;
  if (int ret = CreateSurface(s, c); ret < 0) return ret;
  if (int ret = CreateStream(s, c, rate); ret < 0) return ret;
  s->flags |= AVFMT_FLAG_NOPARSE;
  // The probesize option refuses 0; the field takes it.
  s->probesize = 0;
  c->FrameInfo.LastTimeStamp = INT64_MIN;
  c->FrameInfo.FrameNumber = 1;
  c->Adapter = adapter;
  adapter->Attach(c, &c->FrameInfo);
  adapter->DoReadHeader();
  return 0;
}

// The library does not call read_close after a failed read_header, so a
// failure releases everything here.
int ReadHeader(AVFormatContext* s) {
  auto* c = static_cast<TFrameInputContext*>(s->priv_data);
  bool parsed = false;
  TFrameInputAdapter* adapter = FindAdapter(Text(s->url), &parsed);
  if (!parsed) {
    ff::av_log(s, AV_LOG_ERROR,
               "Could not parse FrameInputAdapter: \"%s\", it should be address of FrameInputAdapter\n",
               Text(s->url));
    return AVERROR(EINVAL);
  }
  if (!adapter) {
    ff::av_log(s, AV_LOG_ERROR, "Invalid FrameInputAdapter\n");
    return AVERROR(EINVAL);
  }
  // One adapter feeds one input: a second would take over its frame record.
  if (adapter->FrameInfo()) {
    ff::av_log(s, AV_LOG_ERROR, "FrameInputAdapter \"%s\" already serves an open input\n", Text(s->url));
    return AVERROR(EINVAL);
  }
  adapter->SetPendingError(nullptr);
  int ret;
  try {
    ret = OpenInput(s, c, adapter);
  } catch (const std::bad_alloc&) {
    ret = AVERROR(ENOMEM);
  } catch (...) {
    adapter->SetPendingError(std::current_exception());
    ret = AVERROR_EXTERNAL;
  }
  if (ret < 0) {
    adapter->Detach(c);
    c->Adapter = nullptr;
    ReleaseSurface(c);
  }
  return ret;
}

// The handler's result; the frame is in the packet when it is >= 0.
int RequestFrame(AVFormatContext* s, TFrameInputContext* c, AVPacket* pkt) {
  TInputFrameInfo& info = c->FrameInfo;
  TFrameInputAdapter* adapter = c->Adapter;
  int result;
  switch (c->InputType) {
    case itCanvas: {
      platform::TBitmap& canvas = *c->Canvas;
      result = adapter ? adapter->DoReadFrameCanvas(canvas, &info) : -1;
      if (result < 0) {
        ff::av_log(s, AV_LOG_INFO, "reading frame (Canvas) return %d\n", result);
        return result;
      }
      if (canvas.Width() != info.Width || canvas.Height() != info.Height ||
          canvas.BitsPerPixel() != info.BitsPerPixel) {
        ff::av_log(s, AV_LOG_ERROR, "The frame handler changed the drawing surface\n");
        return AVERROR(EINVAL);
      }
      // The surface is already top-down with 4-byte rows: the packet layout.
      std::memcpy(pkt->data, canvas.Bits(), info.BytesPerFrame);
      pkt->flags |= AV_PKT_FLAG_KEY;
      return result;
    }
    case itBMP:
      result = adapter ? adapter->DoReadFrameBMP(c->BitmapBits, &info) : -1;
      if (result < 0) {
        ff::av_log(s, AV_LOG_ERROR, "reading frame (BMP) return %d\n", result);
        return result;
      }
      std::memcpy(pkt->data, c->BitmapBits, info.BytesPerFrame);
      pkt->flags |= AV_PKT_FLAG_KEY;
      return result;
    case itYUV:
      result = adapter ? adapter->DoReadFrameYUV(pkt->data, &info) : -1;
      if (result < 0) ff::av_log(s, AV_LOG_INFO, "reading frame (YUV) return\n");
      return result;
    default:
      return -1;
  }
}

int ReadPacket(AVFormatContext* s, AVPacket* pkt) {
  auto* c = static_cast<TFrameInputContext*>(s->priv_data);
  TInputFrameInfo& info = c->FrameInfo;
  if (ff::av_new_packet(pkt, info.BytesPerFrame) < 0) return AVERROR(ENOMEM);
  const std::int64_t preset = RoundDiv(static_cast<__int128>(c->Clock) * c->TimeBase.num, c->TimeBase.den);
  info.TimeStamp = preset;
  pkt->pts = pkt->dts = preset;

  int result;
  try {
    result = RequestFrame(s, c, pkt);
  } catch (...) {
    if (c->Adapter) c->Adapter->SetPendingError(std::current_exception());
    result = AVERROR_EXTERNAL;
  }
  if (result < 0) {
    ff::av_packet_unref(pkt);
    return result;
  }

  if (info.TimeStamp != preset) {
    if (info.TimeStamp > info.LastTimeStamp) {
      pkt->pts = pkt->dts = info.TimeStamp;
      c->Clock = RoundDiv(static_cast<__int128>(info.TimeStamp) * c->TimeBase.den, c->TimeBase.num);
    } else {
      ff::av_log(s, AV_LOG_WARNING, "invalid pts %" PRId64 "\n", info.TimeStamp);
    }
  }
  c->Clock = Saturate(static_cast<__int128>(c->Clock) + kClockStep);
  info.FrameNumber += 1;
  info.LastTimeStamp = pkt->pts;
  return info.BytesPerFrame;
}

int ReadClose(AVFormatContext* s) {
  auto* c = static_cast<TFrameInputContext*>(s->priv_data);
  ReleaseSurface(c);
  if (TFrameInputAdapter* adapter = c->Adapter) {
    try {
      adapter->DoReadClose();
    } catch (...) {
      adapter->SetPendingError(std::current_exception());
    }
    adapter->Detach(c);
    c->Adapter = nullptr;
  }
  return 0;
}

const char* ItemName(void* ctx) { return (*static_cast<const AVClass**>(ctx))->class_name; }

constexpr int kOptionFlags = AV_OPT_FLAG_DECODING_PARAM;

const AVOption kOptions[] = {
    {"input_type", "one of {canvas, bmp, dc, yuv}, default yuv", offsetof(TFrameInputContext, input_type),
     AV_OPT_TYPE_STRING, {.str = "yuv"}, 0, 0, kOptionFlags, nullptr},
    {"video_size", "A string describing frame size, such as 640x480 or hd720.",
     offsetof(TFrameInputContext, video_size), AV_OPT_TYPE_STRING, {.str = nullptr}, 0, 0, kOptionFlags, nullptr},
    {"framerate", "", offsetof(TFrameInputContext, framerate), AV_OPT_TYPE_STRING, {.str = "ntsc"}, 0, 0,
     kOptionFlags, nullptr},
    {"pixel_format", "pal8/rgb555le/bgr24/bgra for canvas/bmp/dc", offsetof(TFrameInputContext, pixel_format),
     AV_OPT_TYPE_STRING, {.str = "yuv420p"}, 0, 0, kOptionFlags, nullptr},
    {nullptr, nullptr, 0, AV_OPT_TYPE_STRING, {.str = nullptr}, 0, 0, 0, nullptr},
};

// Built member by member: both structs have many members this format
// leaves empty.
AVClass MakeClass() {
  AVClass c{};
  c.class_name = "FrameInputFormat";
  c.item_name = ItemName;
  c.option = kOptions;
  c.version = LIBAVUTIL_VERSION_INT;
  c.category = AV_CLASS_CATEGORY_DEMUXER;
  return c;
}

const AVClass kFrameInputClass = MakeClass();

AVInputFormat MakeFormat() {
  AVInputFormat f{};
  f.name = "frameinput";
  f.long_name = "Frame input";
  f.flags = AVFMT_NOFILE;
  f.priv_class = &kFrameInputClass;
  f.priv_data_size = sizeof(TFrameInputContext);
  f.read_header = ReadHeader;
  f.read_packet = ReadPacket;
  f.read_close = ReadClose;
  return f;
}

const AVInputFormat kFrameInputFormat = MakeFormat();

}  // namespace

const AVInputFormat* FrameInputFormat() { return &kFrameInputFormat; }

void RegisterFrameInputFormat() { ffutil::RegisterInputFormat(&kFrameInputFormat); }

}  // namespace frameinput
