// The transcode loop: input choice, reading, time stamp correction,
// decoding, filtering, the end steps; and the common packet writer.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

#include "engine/EngineText.h"
#include "engine/FFmpeg.h"
#include "ffbind/AVCodecStubs.h"
#include "ffbind/AVFilterStubs.h"
#include "ffbind/AVFormatStubs.h"
#include "ffbind/AVUtilStubs.h"
#include "frameinput/FrameInput.h"
#include "util/FFUtils.h"

namespace engine {

void TCustomFFmpeg::transcode_loop() {
  const std::size_t nb_inputs = Finput_files.size();
  std::vector<bool> waiting(nb_inputs, false);
  std::size_t nb_waiting = 0;

  FLastErrMsg.clear();
  try {
    const int ret = transcode_init();
    if (ret < 0) {
      if (FLastErrMsg.empty()) FLastErrMsg = ffutil::ErrorText("transcode_init() error", ret);
      throw FFmpegException(FLastErrMsg);
    }
  } catch (...) {
    free_transcode_state();
    throw;
  }

  if (FOutputDuration < 0) FOutputDuration = FInputDuration;
  const std::int64_t timer_start = ff::av_gettime();
  std::int64_t last_report = timer_start;
  TPacket pkt(ff::av_packet_alloc());
  if (!pkt) throw std::bad_alloc();

  while (!CheckStopAndPause()) {
    int file_index = -1;
    double opts_min = 1e100;
    std::int64_t ipts_min = INT64_MAX;
    for (auto& o : Foutput_streams) {
      TOutputStream* ost = o.get();
      if (ost->source_index < 0) continue;
      const TInputStream* ist = Finput_streams[ost->source_index].get();
      const TOutputFile& of = Foutput_files[ost->file_index];
      if (ost->is_past_recording_time || waiting[ist->file_index]) continue;
      AVIOContext* pb = of.ctx->pb;
      if (pb && ff::avio_seek(pb, 0, SEEK_CUR) >= of.limit_filesize) continue;
      const double opts = static_cast<double>(ost->cur_pts) * av_q2d(ost->st->time_base);
      if (!Finput_files[ist->file_index].eof_reached) {
        if (ist->pts < ipts_min) {
          ipts_min = ist->pts;
          if (Finput_sync) file_index = ist->file_index;
        }
        if (opts < opts_min) {
          opts_min = opts;
          if (!Finput_sync) file_index = ist->file_index;
        }
      }
      if (ost->frame_number >= ost->max_frames)
        for (unsigned j = 0; j < of.ctx->nb_streams; ++j) Foutput_streams[of.ost_index + j]->is_past_recording_time = 1;
    }

    if (file_index < 0) {
      if (nb_waiting == 0) break;
      waiting.assign(nb_inputs, false);
      nb_waiting = 0;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      continue;
    }

    TInputFile& ifile = Finput_files[file_index];
    AVFormatContext* is = ifile.ctx.get();
    FLastRead = ff::av_gettime();
    const int ret = ff::av_read_frame(is, pkt.get());
    if (ret == AVERROR(EAGAIN)) {
      waiting[file_index] = true;
      ++nb_waiting;
      continue;
    }
    if (ret < 0) {
      // A failing picture handler ends the task with its own error.
      frameinput::RethrowPendingError(is);
      ifile.eof_reached = 1;
      if (Fopt_shortest) break;
      continue;
    }
    waiting.assign(nb_inputs, false);
    nb_waiting = 0;
    if (Fdo_pkt_dump) ff::av_pkt_dump_log2(nullptr, AV_LOG_DEBUG, pkt.get(), Fdo_hex_dump, is->streams[pkt->stream_index]);

    if (pkt->stream_index < ifile.nb_streams && !Finput_streams[ifile.ist_index + pkt->stream_index]->discard) {
      TInputStream* ist = Finput_streams[ifile.ist_index + pkt->stream_index].get();
      const AVRational tb = ist->st->time_base;
      if (pkt->dts != AV_NOPTS_VALUE) pkt->dts += ff::av_rescale_q(ifile.ts_offset, AV_TIME_BASE_Q, tb);
      if (pkt->pts != AV_NOPTS_VALUE) pkt->pts += ff::av_rescale_q(ifile.ts_offset, AV_TIME_BASE_Q, tb);
      if (pkt->pts != AV_NOPTS_VALUE) pkt->pts = std::llround(static_cast<double>(pkt->pts) * ist->ts_scale);
      if (pkt->dts != AV_NOPTS_VALUE) pkt->dts = std::llround(static_cast<double>(pkt->dts) * ist->ts_scale);

      if (pkt->dts != AV_NOPTS_VALUE && ist->next_pts != AV_NOPTS_VALUE && (is->iformat->flags & AVFMT_TS_DISCONT)) {
        const std::int64_t pkt_dts = ff::av_rescale_q(pkt->dts, tb, AV_TIME_BASE_Q);
        const std::int64_t delta = pkt_dts - ist->next_pts;
        const double threshold = Fdts_delta_threshold * 1000000.0;
        if ((delta < -threshold || (delta > threshold && ist->st->codecpar->codec_type != AVMEDIA_TYPE_SUBTITLE) ||
             pkt_dts + 1 < ist->pts) &&
            !Fcopy_ts) {
          ifile.ts_offset -= delta;
          Log(fflog::llDebug, Format("timestamp discontinuity %lld, new offset= %lld", static_cast<long long>(delta),
                                     static_cast<long long>(ifile.ts_offset)));
          pkt->dts -= ff::av_rescale_q(delta, AV_TIME_BASE_Q, tb);
          if (pkt->pts != AV_NOPTS_VALUE) pkt->pts -= ff::av_rescale_q(delta, AV_TIME_BASE_Q, tb);
        }
      }

      if (decode_packet(ist, pkt.get()) < 0) {
        const std::string text =
            Format("Error while decoding stream #%d:%d (%s)", ist->file_index, ist->st->index,
                   ffutil::MediaTypeName(ist->st->codecpar->codec_type).c_str());
        Log(fflog::llError, text);
        ff::av_packet_unref(pkt.get());
        if (Fexit_on_error) {
          free_transcode_state();
          FatalError(text);
        }
        continue;
      }
    }
    ff::av_packet_unref(pkt.get());

    const std::int64_t now = ff::av_gettime();
    if (now - last_report > ReportInterval) {
      last_report = now;
      report_progress(false, file_index, timer_start, now);
    }
  }

  for (auto& ist : Finput_streams)
    if (ist->decoding_needed && !ist->decoder_flushed) decode_packet(ist.get(), nullptr);
  // Filters that hold pictures back (frame rate or field changes) give
  // them up at the end of their input.
  for (auto& ost : Foutput_streams)
    if (ost->encoding_needed && ost->input_video_filter &&
        ff::av_buffersrc_add_frame_flags(ost->input_video_filter, nullptr, 0) >= 0)
      filter_video_output(Finput_streams[ost->source_index].get(), ost.get(),
                          static_cast<float>(ost->enc_ctx->global_quality));
  drain_encoders();
  flush_bitstream_filters();
  for (TOutputFile& of : Foutput_files) {
    FLastWrite = ff::av_gettime();
    const int ret = ff::av_write_trailer(of.ctx.get());
    if (ret < 0) FatalError(ffutil::ErrorText("av_write_trailer()", ret));
  }
  report_progress(true, -1, timer_start, ff::av_gettime());
  for (auto& ost : Foutput_streams) {
    if (ost->encoding_needed) {
      ost->enc_ctx->stats_in = nullptr;
      ff::avcodec_close(ost->enc_ctx.get());
      FEncoderList.Remove(ost.get());
    }
    ost->graph.reset();
  }
  for (auto& ist : Finput_streams)
    if (ist->decoding_needed) {
      ff::avcodec_close(ist->dec.get());
      FDecoderList.Remove(ist.get());
    }
  FFinished = !FBroken;
  free_transcode_state();
}

void TCustomFFmpeg::free_transcode_state() {
  CloseRegisteredCodecs();
  FFirstHook.Release();
  for (auto& ost : Foutput_streams) {
    ost->logfile.reset();
    ost->graph.reset();
    ost->input_video_filter = ost->output_video_filter = nullptr;
  }
}

bool TCustomFFmpeg::within_output_window(TInputStream* ist, TOutputStream* ost) {
  if (ost->source_index < 0 || Finput_streams[ost->source_index].get() != ist) return false;
  const TOutputFile& of = Foutput_files[ost->file_index];
  if (of.start_time && ist->pts < of.start_time) return false;
  if (of.recording_time != kNoTimeLimit && ist->pts >= of.recording_time + of.start_time) {
    ost->is_past_recording_time = 1;
    return false;
  }
  return true;
}

void TCustomFFmpeg::pace_input(TInputStream* ist) {
  if (!Finput_files[ist->file_index].rate_emu) return;
  // Sleeps in short slices so that a stop request is not kept waiting.
  for (;;) {
    const std::int64_t elapsed = ff::av_gettime() - ist->start;
    if (elapsed + 1000 >= ist->pts || FBroken) return;
    const std::int64_t ms = std::min<std::int64_t>((ist->pts - elapsed) / 1000, 50);
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  }
}

void TCustomFFmpeg::mux_packet(AVFormatContext* s, AVPacket* pkt, TOutputStream* ost, AVRational tb) {
  run_bitstream_filters(s, pkt, ost, 0, tb);
}

// A filter may hold packets back or give several for one; each packet it
// gives goes on through the rest of the chain. A null packet is the end of
// the stream: it drains every filter from `stage` on, in order.
void TCustomFFmpeg::run_bitstream_filters(AVFormatContext* s, AVPacket* pkt, TOutputStream* ost, std::size_t stage,
                                          AVRational tb) {
  if (stage == ost->bitstream_filters.size()) {
    if (pkt) write_packet(s, pkt, ost, tb);
    return;
  }
  AVBSFContext* b = ost->bitstream_filters[stage].get();
  const int stream_index = pkt ? pkt->stream_index : ost->index;
  auto report = [&](int ret) {
    const std::string text = ffutil::ErrorText(
        Format("%s failed for stream %d, codec %s", b->filter->name, stream_index, ost->enc ? ost->enc->name : "copy"),
        ret);
    if (Fexit_on_error) FatalError(text);
    Log(fflog::llError, text);
  };
  int ret = ff::av_bsf_send_packet(b, pkt);
  if (ret < 0) {
    // A packet the filter refused goes on as it is.
    report(ret);
    if (pkt) run_bitstream_filters(s, pkt, ost, stage + 1, tb);
    return;
  }
  TPacket out(ff::av_packet_alloc());
  if (!out) FatalError("Out of memory");
  while ((ret = ff::av_bsf_receive_packet(b, out.get())) >= 0) {
    run_bitstream_filters(s, out.get(), ost, stage + 1, b->time_base_out);
    ff::av_packet_unref(out.get());
  }
  if (ret == AVERROR_EOF) run_bitstream_filters(s, nullptr, ost, stage + 1, b->time_base_out);
  else if (ret != AVERROR(EAGAIN)) report(ret);
}

void TCustomFFmpeg::flush_bitstream_filters() {
  for (auto& ost : Foutput_streams)
    if (!ost->bitstream_filters.empty())
      run_bitstream_filters(Foutput_files[ost->file_index].ctx.get(), nullptr, ost.get(), 0, AVRational{0, 1});
}

void TCustomFFmpeg::write_packet(AVFormatContext* s, AVPacket* pkt, TOutputStream* ost, AVRational tb) {
  ff::av_packet_rescale_ts(pkt, tb, ost->st->time_base);
  pkt->stream_index = ost->index;
  // Copied packets may repeat or go back in time; muxers take neither.
  if (ost->stream_copy && pkt->dts != AV_NOPTS_VALUE) {
    if (ost->last_dts != AV_NOPTS_VALUE && ost->last_dts >= pkt->dts) pkt->dts = ost->last_dts + 1;
    if (pkt->pts != AV_NOPTS_VALUE && pkt->pts < pkt->dts) pkt->pts = pkt->dts;
  }
  if (pkt->pts != AV_NOPTS_VALUE) ost->cur_pts = pkt->pts + pkt->duration;
  else if (pkt->dts != AV_NOPTS_VALUE) ost->cur_pts = pkt->dts + pkt->duration;
  ost->last_dts = pkt->dts;
  FLastWrite = ff::av_gettime();
  const int ret = ff::av_interleaved_write_frame(s, pkt);
  if (ret < 0) FatalError(ffutil::ErrorText("av_interleaved_write_frame()", ret));
}

}  // namespace engine
