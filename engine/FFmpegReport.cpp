// The progress report of a running conversion and the statistics at its
// end.
#include <cinttypes>
#include <cmath>
#include <cstdarg>
#include <cstdio>

#include "engine/EngineText.h"
#include "engine/FFmpeg.h"
#include "ffbind/AVFormatStubs.h"
#include "ffbind/AVUtilStubs.h"

namespace engine {
namespace {

// The status line: pieces appended with a bounded print, so an overlong
// line is cut, never overrun.
class TStatusLine {
 public:
  void Append(const char* fmt, ...) __attribute__((format(printf, 2, 3))) {
    if (FLength >= sizeof(FText) - 1) return;
    va_list args;
    va_start(args, fmt);
    const int n = std::vsnprintf(FText + FLength, sizeof(FText) - FLength, fmt, args);
    va_end(args);
    if (n > 0) FLength = std::min(sizeof(FText) - 1, FLength + static_cast<std::size_t>(n));
  }
  const char* Text() const { return FText; }

 private:
  char FText[1024] = {};
  std::size_t FLength = 0;
};

double Psnr(double d) { return -10.0 * std::log10(d); }

// Bytes written so far to the sink of the first output file.
std::int64_t CurrentSize(const std::vector<TOutputFile>& files) {
  if (files.empty() || !files[0].ctx || !files[0].ctx->pb) return 0;
  AVIOContext* pb = files[0].ctx->pb;
  std::int64_t size = ff::avio_size(pb);
  if (size < 0) size = ff::avio_seek(pb, 0, SEEK_CUR);
  return size < 0 ? 0 : size;
}

AVMediaType TypeOf(const TOutputStream& ost) {
  if (ost.enc_ctx) return ost.enc_ctx->codec_type;
  return ost.st ? ost.st->codecpar->codec_type : AVMEDIA_TYPE_UNKNOWN;
}

}  // namespace

void TCustomFFmpeg::report_progress(bool is_last_report, int fileIndex, std::int64_t timer_start,
                                    std::int64_t cur_time) {
  if (!Fprint_stats && !is_last_report && !OnProgress) return;

  std::int32_t frame_number = -1;
  std::int32_t fps = -1;
  float q = -1.0f;
  std::int64_t pts_min = INT64_MAX;
  const std::int64_t total_size = CurrentSize(Foutput_files);

  TStatusLine line;
  bool vid = false;
  for (const auto& o : Foutput_streams) {
    const TOutputStream& ost = *o;
    const AVCodecContext* enc = ost.encoding_needed ? ost.enc_ctx.get() : nullptr;
    q = enc ? static_cast<float>(ost.coded_quality) / FF_QP2LAMBDA : -1.0f;
    const bool video = TypeOf(ost) == AVMEDIA_TYPE_VIDEO;
    if (vid && video) line.Append("q=%2.1f ", q);
    if (!vid && video && !ost.not_show_fps) {
      // A video stream with nothing encoded yet tells neither rate nor time.
      if (ost.frame_number < 1) continue;
      const float t = static_cast<float>(cur_time - timer_start) / 1000000.0f;
      fps = t > 1 ? static_cast<std::int32_t>(ost.frame_number / t + 0.5f) : 0;
      line.Append("frame=%5d fps=%3d q=%3.1f ", ost.frame_number, fps, q);
      if (is_last_report) line.Append("L");
      if (Fqp_hist) {
        const long qp = std::lround(q);
        if (qp >= 0 && qp < 52) ++Fqp_histogram[qp];
        for (int j = 0; j < 32; ++j)
          line.Append("%X", static_cast<int>(std::lround(std::log2(Fqp_histogram[j] + 1))));
      }
      if (enc && (enc->flags & AV_CODEC_FLAG_PSNR)) {
        double error_sum = 0, scale_sum = 0;
        static const char kPlanes[] = "YUV";
        line.Append("PSNR=");
        for (int j = 0; j < 3; ++j) {
          const double error = is_last_report ? static_cast<double>(enc->error[j]) : ost.coded_error[j];
          double scale = static_cast<double>(enc->width) * enc->height * 255.0 * 255.0;
          if (is_last_report) scale *= ost.frame_number;
          if (j) scale /= 4;
          error_sum += error;
          scale_sum += scale;
          line.Append("%c:%2.2f ", kPlanes[j], Psnr(error / scale));
        }
        line.Append("*:%2.2f ", Psnr(error_sum / scale_sum));
      }
      frame_number = ost.frame_number;
      vid = true;
    }
    if (ost.st) pts_min = std::min(pts_min, ff::av_rescale_q(ost.cur_pts, ost.st->time_base, AV_TIME_BASE_Q));
  }

  const std::int64_t secs = pts_min / 1000000;
  const std::int64_t us = pts_min % 1000000;
  const double bitrate = pts_min ? total_size * 8 / (pts_min / 1000.0) : 0;
  line.Append("size=%8.0fkB time=%02" PRId64 ":%02" PRId64 ":%02" PRId64 ".%02" PRId64 " bitrate=%6.1fkbits/s",
              total_size / 1024.0, secs / 3600, (secs / 60) % 60, secs % 60, (100 * us) / 1000000, bitrate);

  if (Fnb_frames_dup || Fnb_frames_drop) {
    line.Append(" dup=%d drop=%d", Fnb_frames_dup, Fnb_frames_drop);
    if (FShowDupOrDrop && OnProgress) {
      FShowDupOrDrop = false;
      Log(fflog::llInfo, line.Text());
    }
  }

  if (OnProgress)
    OnProgress(this, is_last_report ? -1 : fileIndex, frame_number, fps, q, static_cast<float>(bitrate), total_size,
               pts_min, FOutputDuration);
  else if (Fprint_stats)
    Log(fflog::llInfo, line.Text());

  if (is_last_report) LogEndStatistics(total_size);
}

void TCustomFFmpeg::LogEndStatistics(std::int64_t total_size) {
  const std::int64_t raw = Fvideo_size + Faudio_size + Fextra_size;
  // Nothing encoded has no overhead to speak of; the warning says why.
  const double overhead = raw ? (total_size - raw) * 100.0 / raw : 0.0;
  Log(fflog::llInfo, Format("video:%1.0fkB audio:%1.0fkB global headers:%1.0fkB muxing overhead %f%%\r\n",
                            Fvideo_size / 1024.0, Faudio_size / 1024.0, Fextra_size / 1024.0, overhead));
  if (!raw)
    Log(fflog::llWarning, "Output file is empty, nothing was encoded (check -ss / -t / -frames parameters if used)");
}

}  // namespace engine
