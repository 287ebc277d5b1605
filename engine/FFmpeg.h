#pragma once
// The transcoding engine: one TCustomFFmpeg per conversion task. It is
// configured through option strings in command-line syntax (ParseOptions,
// ParsePresets), one per file, each applying to the file opened after it.
//
// Threads: options are parsed and files opened on the thread that builds
// the task (the main thread), before the conversion thread exists. The
// option-error text and the libraries' log level are process-wide.
// The conversion then runs on the engine's worker (or on the caller of
// StartConvert), which alone touches the files, streams and counters until
// the termination notice; progress and the notice are raised there. Any
// thread may Stop, Pause and Resume; the main thread must not wait for the
// worker except through a waiting Stop, which keeps serving the calls the
// worker hands to it.
//
// The class is split by subject over several source files; each section
// below names its file.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/CodecRegistry.h"
#include "engine/ConvertThread.h"
#include "engine/OptionTypes.h"
#include "engine/Previewer.h"
#include "engine/Records.h"
#include "engine/SampleBuffer.h"
#include "ffbind/FFHeaders.h"
#include "log/FFLog.h"
#include "platform/Event.h"
#include "util/FFOptions.h"
#include "util/FormatConverter.h"
#include "util/FrameHook.h"

namespace engine {

// The engine's exception: a message and nothing else.
class FFmpegException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TCustomFFmpeg {
 public:
  // ---- Life cycle (FFmpeg.cpp) ------------------------------------------
  // Needs the encoder set of libraries loaded; throws std::runtime_error
  // ("Library %s not loaded.") otherwise.
  TCustomFFmpeg();
  virtual ~TCustomFFmpeg();
  TCustomFFmpeg(const TCustomFFmpeg&) = delete;
  TCustomFFmpeg& operator=(const TCustomFFmpeg&) = delete;

  const std::string& LastErrMsg() const { return FLastErrMsg; }

  // ---- Options (FFmpegOptions.cpp) --------------------------------------
  // Applies one option string to the engine and its options context. With
  // HaltOnInvalidOption the first failing option or stray word raises
  // FFmpegException (text in LastErrMsg too); a bad number raises
  // std::runtime_error in either mode. Options applied before a failure
  // stay applied.
  void ParseOptions(const std::string& options);
  // Applies key=value lines (preset text); same failure rules.
  void ParsePresets(const std::string& presets);

 protected:
  // Stores the text in LastErrMsg, logs it at llFatal and raises
  // FFmpegException with it.
  [[noreturn]] void FatalError(const std::string& text);
  [[noreturn]] void FatalError(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
  // Every engine field to its reset value; the libraries must be loaded.
  void ResetState();
  // One line to the logger with the engine as sender.
  void Log(fflog::TLogLevel level, const std::string& text);
  // Logs at llError, keeps the text as the option-error text, -22.
  int RejectOption(const std::string& text);

  // ---- Option machinery (FFmpegOptions.cpp) -----------------------------
  // 0, or with halt the negative result of the first failing option (-1
  // for a stray word). words[count] must exist (the empty word).
  int ParseOptionWords(TOptionsContext* o, int count, const std::vector<std::string>& words, bool halt,
                       const TOptionDef* table);
  // 1 when the option consumed arg, 0 when not, or a negative error.
  int ApplyOption(TOptionsContext* o, const std::string& opt, const std::string* arg, const TOptionDef* table);
  // First entry named like opt up to its first ":"; the terminating entry
  // when none.
  static const TOptionDef* FindOptionDef(const TOptionDef* table, const std::string& name);
  // The entry that handles opt: its own; the switch it turns off ("no" +
  // switch, negated set); the generic one. "no" + anything else is no
  // option unless the libraries know the whole name (noise_reduction).
  // nullptr when nothing handles it.
  static const TOptionDef* ResolveOption(const TOptionDef* table, const std::string& opt, bool& negated);
  static int FindOptionWord(int count, const std::vector<std::string>& words, const TOptionDef* table,
                            const std::string& name);
  // Frees and clears the options context and the generic option holders.
  // recording_time survives when isInput (a -t given with an input applies
  // to the next output).
  void ResetOptionsContext(TOptionsContext* o, bool isInput);
  // Generic option into FOptions (ffutil::opt_default).
  int opt_default(const std::string& opt, const std::string& arg);

  // Per-stream lookup: the value of the last element whose specifier
  // matches the stream; value is left alone when none matches. An invalid
  // specifier is fatal.
  template <typename T>
  void MatchPerStreamOpt(const TSpecArray& values, T TSpecifierOpt::*field, const AVFormatContext* s,
                         const AVStream* st, T& value) {
    for (const TSpecifierOpt& so : values) {
      int r = ffutil::check_stream_specifier(s, st, so.specifier);
      if (r > 0) value = so.*field;
      else if (r < 0) FatalSpecifier(r);
    }
  }
  [[noreturn]] void FatalSpecifier(int code);

  // ---- Option table (FFmpegOptionTable.cpp) ------------------------------
  static const std::vector<TOptionDef>& OptionTable();
  static std::vector<TOptionDef> BuildOptionTable();

  // Handlers of the option table (FFmpegOptionTable.cpp).
  int opt_informational(const std::string& opt, const std::string& arg);
  int opt_unsupported(const std::string& opt, const std::string& arg);
  int opt_loglevel(const std::string& opt, const std::string& arg);
  int opt_debug(const std::string& opt, const std::string& arg);
  int opt_crop_removed(const std::string& opt, const std::string& arg);
  int opt_pad_removed(const std::string& opt, const std::string& arg);
  int opt_typed_alias(TOptionsContext* o, const std::string& opt, const std::string& arg);
  int opt_codec_alias(TOptionsContext* o, const std::string& opt, const std::string& arg);
  int opt_video_filters(TOptionsContext* o, const std::string& opt, const std::string& arg);
  int opt_bitrate(TOptionsContext* o, const std::string& opt, const std::string& arg);
  int opt_attach(TOptionsContext* o, const std::string& opt, const std::string& arg);
  int opt_pass(const std::string& opt, const std::string& arg);
  int opt_passlogfile(const std::string& opt, const std::string& arg);
  int opt_renamed_generic(const std::string& opt, const std::string& arg);
  int opt_vhook(const std::string& opt, const std::string& arg);
  int opt_video_hook_bits_pixel(const std::string& opt, const std::string& arg);
  int opt_hook_switch(const std::string& opt, const std::string& arg);
  int opt_default_handler(const std::string& opt, const std::string& arg);

  // ---- Maps, metadata, stream ids (FFmpegMapping.cpp) --------------------
  int opt_map(TOptionsContext* o, const std::string& opt, const std::string& arg);
  int opt_map_channel(TOptionsContext* o, const std::string& opt, const std::string& arg);
  int opt_map_metadata(TOptionsContext* o, const std::string& opt, const std::string& arg);
  int opt_map_meta_data(TOptionsContext* o, const std::string& opt, const std::string& arg);
  int opt_timestamp(TOptionsContext* o, const std::string& opt, const std::string& arg);
  int opt_streamid(TOptionsContext* o, const std::string& opt, const std::string& arg);

  // ---- Targets (FFmpegTarget.cpp) ----------------------------------------
  int opt_target(TOptionsContext* o, const std::string& opt, const std::string& arg);

  // ---- Presets and statistics file (FFmpegPresets.cpp) -------------------
  int opt_preset(TOptionsContext* o, const std::string& opt, const std::string& arg);
  int opt_vstats(const std::string& opt, const std::string& arg);
  int opt_vstats_file(const std::string& opt, const std::string& arg);
  // The codec keys of preset lines go to the codec handlers, the rest to
  // opt_default.
  int ApplyPresetPair(TOptionsContext* o, const std::string& key, const std::string& value);

  // ---- Video hook modules -------------------------------------------------
  // Loads the module named by args[0] and appends it to the hook chain;
  // the other words configure it. 0 or a negative error.
  int AddFrameHook(const std::vector<std::string>& args);

  // ---- Option state ------------------------------------------------------
  // Unknown options and stray words are fatal (set by the encoder).
  bool HaltOnInvalidOption = true;
  std::string FLastErrMsg;

  const TOptionDef* Foptions = nullptr;  // the option table, once built
  TOptionsContext optctx;
  ffutil::TFFOptions FOptions;

  // Engine-wide settings written by options; they last for the whole task.
  std::int32_t Fframe_bits_per_raw_sample = 0;
  std::int32_t Fvideo_discard = 0;
  std::int32_t Fsame_quant = 0;
  std::int32_t Fdo_deinterlace = 0;
  std::int32_t Fintra_dc_precision = 8;
  std::int32_t Floop_input = 0;
  std::int32_t Floop_output = -1;
  std::int32_t Fqp_hist = 0;
  std::int32_t Fintra_only = 0;
  std::string Fvideo_codec_name, Faudio_codec_name, Fsubtitle_codec_name;
  std::int32_t Ffile_overwrite = 0;
  std::int32_t Fno_file_overwrite = 0;
  std::int32_t Fdo_hex_dump = 0;
  std::int32_t Fdo_pkt_dump = 0;
  std::int32_t Fdo_psnr = 0;
  std::int32_t Fdo_pass = 0;
  std::string Fpass_logfilename_prefix;
  std::int32_t Fvideo_sync_method = -1;
  std::int32_t Faudio_sync_method = 0;
  float Faudio_drift_threshold = 0.1f;
  std::int32_t Fcopy_ts = 0;
  std::int32_t Fcopy_tb = -1;
  std::int32_t Fopt_shortest = 0;
  std::string Fvstats_filename;
  std::int32_t Faudio_volume = 256;
  std::int32_t Fexit_on_error = 0;
  std::int32_t Finput_sync = 0;
  float Fdts_delta_threshold = 10.0f;
  std::int32_t Fprint_stats = 1;
  bool Fusing_vhook = false;

  // ---- Shared by the conversion files and the control file ---------------
  // The control file (engine/FFmpegControl.cpp) sets the interrupt
  // callbacks at construction, resets these at ResetState and provides the
  // two methods below; the conversion files read and write the rest.
  std::atomic<bool> FBroken{false};  // stop requested
  bool FFinished = false;            // the loop ended without a stop request
  std::int64_t FInputDuration = -1;  // microseconds; longest input minus its start option
  std::int64_t FOutputDuration = -1; // microseconds; largest -t, or the input duration
  std::atomic<std::int64_t> FLastRead{INT64_MAX}, FLastWrite{INT64_MAX};  // start of the current read/write
  AVIOInterruptCB FReadCallback{}, FWriteCallback{};
  std::int64_t ReportInterval = 500000;  // microseconds between progress reports
  // Safe point of the loop (top of each round, duplication loop): waits
  // while paused; true when a stop was requested. Control file.
  bool CheckStopAndPause();
  // Progress line and event; fileIndex is the input read in this round,
  // -1 on the last report. Report file (engine/FFmpegReport.cpp).
  void report_progress(bool is_last_report, int fileIndex, std::int64_t timer_start, std::int64_t cur_time);

  // ======================================================================
  // Control: life cycle, threads, interruption (FFmpegControl.cpp)
  // ======================================================================
 public:
  // Sender is the engine. Raised on the conversion thread (or the caller's
  // without a thread, or the notice thread of a task cancelled before it
  // ran); a handler that touches the user interface moves to the main
  // thread itself.
  using TNotifyEvent = std::function<void(TCustomFFmpeg* Sender)>;
  // Raised by report_progress on the conversion thread; AFileIndex is -1
  // in the last report.
  using TProgressEvent = std::function<void(TCustomFFmpeg* Sender, std::int32_t AFileIndex,
                                            std::int32_t AFrameNumber, std::int32_t AFPS, float AQuality,
                                            float ABitRate, std::int64_t ACurrentSize,
                                            std::int64_t ACurrentDuration, std::int64_t ATotalDuration)>;

  // Set by the owner before StartConvert; not changed during a run.
  TProgressEvent OnProgress;
  TNotifyEvent OnTerminate;

  // Main thread (the task's owner). Starts the conversion of the opened
  // files. Returns nullptr at once while converting or once terminated.
  // Without outputs or inputs the task ends here: FatalException, its
  // text in FatalMessage, the notice delivered, nullptr. Without a thread
  // the whole run happens inside this call (nullptr). With a thread the
  // engine's worker is returned not yet running: the caller Starts it (a
  // Stop starts it too). The engine owns the thread.
  TConvertThread* StartConvert(bool AUseThread, TThreadPriority APriority = tpNormal);
  // Any thread. Requests the end of the run: blocking reads and writes are
  // cut, a pause ends, the loop stops at its next safe point and still
  // writes the trailers. With AWaitForStop the call returns once the run
  // has ended; on the main thread it keeps serving main-thread hand-offs
  // meanwhile. On the conversion thread itself it never waits. A handler
  // the worker is waiting for (a picture painted on the main thread) must
  // not wait: the run cannot end before the handler returns.
  void Stop(bool AWaitForStop);
  // Stops a converting task; a task never started gets its notice from a
  // thread of its own (waited for with AWaitForStop); a terminated task is
  // left alone.
  void Cancel(bool AWaitForStop);
  // Halts the threaded run at its next safe point until Resume (or Stop).
  // Nothing without a thread or when already paused.
  void Pause();
  void Resume();
  bool Paused();

  // The conversion, on the calling thread: the loop, then every codec still
  // open is closed, the files released (an empty output deleted) and the
  // notice delivered, whatever the loop threw. Never throws.
  void RunConversion();

  bool Converting() const { return FConverting; }
  bool Finished() const { return FFinished; }
  bool Terminated() const { return FTerminated; }
  bool FatalException() const { return FFatalException; }
  const std::string& FatalMessage() const { return FFatalMessage; }
  std::int64_t OutputDuration() const { return FOutputDuration; }

 protected:
  friend class TConvertThread;
  friend class TDoTerminateThread;

  // Closes every codec still registered (encoders, then decoders) and
  // empties both registries.
  void CloseRegisteredCodecs();
  // Frees the files, streams and options of the task: each output's sink
  // is closed (a file left with 0 bytes is deleted). Safe to call twice.
  void ReleaseAll();
  void NotifyTerminated();
  // Control fields to their reset values (part of ResetState).
  void ResetControlState();

  // Time-outs of blocking reads and writes, milliseconds; 0 or less: none.
  std::int32_t FReadTimeout = 30000;
  std::int32_t FWriteTimeout = 30000;

  // Every opened encoder and decoder is registered, so that each is closed
  // whatever happens to the run.
  TCodecRegistry<TOutputStream> FEncoderList;
  TCodecRegistry<TInputStream> FDecoderList;

 private:
  // A stop cuts a write only after it has been blocked this long.
  static constexpr std::int32_t kStoppedWriteGraceMs = 1000;
  static int ReadInterrupt(void* opaque);
  static int WriteInterrupt(void* opaque);
  static bool TimedOut(std::int64_t now, std::int64_t started, std::int32_t timeoutMs);
  // 1 with the reason logged, 0 without a reason.
  int Interrupt(const char* reason);
  // Ends a task that cannot start: text logged, fatal flags, notice.
  void EndBeforeStart(const std::string& text);
  void RecordFatal(const std::string& text);
  // Runs one clean-up step, recording what it throws.
  void Guarded(const std::function<void()>& step);
  // Waits for event; on the main thread it serves main-thread hand-offs
  // meanwhile.
  static void WaitServing(platform::TEvent& event);

  std::unique_ptr<TConvertThread> FThread;
  std::unique_ptr<TDoTerminateThread> FTermThread;
  platform::TEvent FStopEvent{true, true};  // reset while a threaded run is on
  platform::TEvent FTermEvent{true, true};  // reset while a notice thread runs
  std::atomic<bool> FConverting{false};
  std::atomic<bool> FTerminated{false};
  std::atomic<bool> FCancelled{false};  // the notice thread exists: never start
  std::atomic<bool> FFatalException{false};
  std::string FFatalMessage;
  std::mutex FPauseLock;
  std::condition_variable FPauseChanged;  // pause ended or stop requested
  bool FPaused = false;

  // ======================================================================
  // Progress report and end statistics (FFmpegReport.cpp)
  // ======================================================================
 protected:
  std::int32_t Fqp_histogram[52] = {};

 private:
  void LogEndStatistics(std::int64_t total_size);

 protected:
  // ---- Inputs (FFmpegInput.cpp) -------------------------------------------
 public:
  // Opens an input with the options parsed for it (o, or the engine's own
  // context when null): the new file's index, or a negative code with
  // LastErrMsg set. Option-driven fatal conditions raise FFmpegException.
  int OpenInput(TOptionsContext* o, const std::string& fileName);
  // Called with the opened demuxer before its streams are probed.
  std::function<void(TCustomFFmpeg* Sender, AVFormatContext* AFormatContext)> FOnBeforeFindStreamInfo;

 protected:
  const AVCodec* find_codec_or_die(const std::string& name, AVMediaType type, bool encoder);
  const AVCodec* choose_decoder(TOptionsContext* o, AVFormatContext* s, AVStream* st);
  void add_input_streams(TOptionsContext* o, AVFormatContext* ic);
  void dump_attachment(AVStream* st, const std::string& filename, int fileIndex);

  std::vector<TInputFile> Finput_files;
  std::vector<std::unique_ptr<TInputStream>> Finput_streams;

  // ---- Outputs (FFmpegOutput.cpp, FFmpegOutputStreams.cpp, FFmpegOutputMeta.cpp)
 public:
  // Creates the output file and its streams from the options parsed for
  // it: the new file's index, or -1 with LastErrMsg set (nothing is left
  // behind). Option-driven fatal conditions raise FFmpegException.
  int OpenOutput(const std::string& fileName);
  // The muxer context of output file n (nullptr when there is none).
  AVFormatContext* OutputFileContext(int n) const;

 protected:
  // Picks streams by maps or automatically; false with LastErrMsg set.
  bool select_output_streams(TOptionsContext* o, AVFormatContext* oc);
  TOutputStream* new_output_stream(TOptionsContext* o, AVFormatContext* oc, AVMediaType type, int source_index);
  TOutputStream* new_video_stream(TOptionsContext* o, AVFormatContext* oc, int source_index);
  TOutputStream* new_audio_stream(TOptionsContext* o, AVFormatContext* oc, int source_index);
  void choose_encoder(TOptionsContext* o, AVFormatContext* s, TOutputStream* ost);
  bool add_attachments(TOptionsContext* o, AVFormatContext* oc);
  // Chapters, metadata maps, automatic metadata and -metadata strings of
  // the output just appended; false with LastErrMsg set.
  bool apply_output_metadata(TOptionsContext* o, int fileIndex);
  int copy_chapters(int ifile, int ofile, bool copyMetadata);

  std::vector<TOutputFile> Foutput_files;
  std::vector<std::unique_ptr<TOutputStream>> Foutput_streams;

  // ---- Transcode initialisation (FFmpegInit.cpp, FFmpegCodecChecks.cpp) ---
  int transcode_init();
  int setup_encoder(TOutputStream* ost, TInputStream* ist);
  // The opened encoder's settings into the stream, then the bitstream
  // filter chain on top of them.
  int publish_stream_parameters(TOutputStream* ost);
  int init_bitstream_filters(TOutputStream* ost);
  int IndexOfOutputStream(const TOutputStream* ost) const;
  int setup_two_pass(TOutputStream* ost, std::string& err);
  void pick_sample_rate(const AVCodec* codec, AVCodecContext* enc);
  void pick_sample_format(const AVCodec* codec, AVCodecContext* enc);
  void pick_pixel_format(const AVCodec* codec, AVCodecContext* enc);
  void pick_channel_layout(const AVCodec* codec, AVCodecContext* enc);
  void check_experimental_codec(const AVCodecContext* ctx, bool encoder);
  void check_leftover_options(const AVDictionary* opts);
  int open_input_decoder(TInputStream* ist, std::string& err);
  void dump_stream_mapping();
  void log_sdp();

  std::int64_t Fextra_size = 0;  // global header bytes of the opened encoders
  std::int64_t Fvideo_size = 0, Faudio_size = 0;  // encoded bytes per media
  std::int32_t Fnb_frames_dup = 0, Fnb_frames_drop = 0;
  bool FShowDupOrDrop = false;  // a dup or drop happened since the last report line

  // ---- Video filter graph (FFmpegFilter.cpp) -------------------------------
  int setup_video_filters(TInputStream* ist, TOutputStream* ost);

  // ---- Transcode loop (FFmpegLoop.cpp, FFmpegDecode.cpp) -------------------
 public:
  // One whole conversion on the calling thread: initialisation, the loop,
  // the end steps. Raises FFmpegException on fatal errors.
  void transcode_loop();

 protected:
  int decode_packet(TInputStream* ist, const AVPacket* pkt);
  // send: hand pkt (nullptr: end of stream) to the decoder before taking
  // one frame; got_output tells whether a frame came out.
  int decode_audio(TInputStream* ist, AVPacket* pkt, bool send, bool& got_output);
  int decode_video(TInputStream* ist, AVPacket* pkt, bool send, std::int64_t& pkt_pts, std::int64_t& pkt_dts,
                   bool& got_output);
  void filter_video_output(TInputStream* ist, TOutputStream* ost, float quality);
  // -vol on a decoded audio frame, in place.
  void AdjustVolume(AVFrame* frame);
  bool within_output_window(TInputStream* ist, TOutputStream* ost);
  void pace_input(TInputStream* ist);
  // Writes a packet whose times are in tb, after the stream's bitstream
  // filters; a write failure is fatal.
  void mux_packet(AVFormatContext* s, AVPacket* pkt, TOutputStream* ost, AVRational tb);
  void run_bitstream_filters(AVFormatContext* s, AVPacket* pkt, TOutputStream* ost, std::size_t stage,
                             AVRational tb);
  // The end of every stream to its bitstream filters, before the trailers.
  void flush_bitstream_filters();
  void write_packet(AVFormatContext* s, AVPacket* pkt, TOutputStream* ost, AVRational tb);
  void free_transcode_state();

  // ---- Stream copy (FFmpegCopy.cpp) ---------------------------------------
  // The text that refuses copying a stream of this type, or nullptr.
  const char* stream_copy_conflict(AVMediaType type) const;
  int setup_stream_copy(TOutputStream* ost, TInputStream* ist);
  void copy_packet(TInputStream* ist, TOutputStream* ost, const AVPacket* pkt);
  // One subtitle packet decoded and handed to every subtitle output of the
  // stream; got_output tells whether a subtitle came out.
  int decode_subtitles(TInputStream* ist, const AVPacket* pkt, bool& got_output);
  // pts in microseconds.
  void subtitle_out(AVFormatContext* s, TOutputStream* ost, AVSubtitle* sub, std::int64_t pts);

  std::vector<std::uint8_t> Fsubtitle_out;  // encoder output, made on first use

  // ---- Audio output (FFmpegAudioOut.cpp, FFmpegAudioSync.cpp) -------------
 public:
  // Every decoded audio frame, before the volume change, on the conversion
  // thread: APTS in microseconds, ASize bytes of packed samples (a planar
  // frame is interleaved for the call) that the hook may change in place.
  using TAudioHookEvent = std::function<void(TCustomFFmpeg* Sender, std::int64_t APTS, std::uint8_t* ASample,
                                             int ASize, int ASampleRate, int AChannels, AVSampleFormat ASampleFormat)>;
  TAudioHookEvent FOnAudioHook;

 protected:
  void call_audio_hook(TInputStream* ist, AVFrame* frame);
  // One decoded frame into encoded packets of the output stream.
  void do_audio_out(AVFormatContext* s, TOutputStream* ost, TInputStream* ist, AVFrame* frame);
  // (Re)creates the resampler when the frame's format asks for it.
  void setup_audio_resampler(TOutputStream* ost, TInputStream* ist, const AVFrame* frame);
  // Moves the encoder position or the samples (planes, count) so that the
  // output keeps pace with the input under the audio sync mode; false when
  // every sample was dropped.
  bool sync_audio_input(TOutputStream* ost, TInputStream* ist, const AVFrame* frame,
                        std::vector<const std::uint8_t*>& planes, int& count);
  // nb_samples from the FIFO as one encoder frame (completed with silence
  // when the codec takes whole frames only).
  void encode_audio_samples(AVFormatContext* s, TOutputStream* ost, int nb_samples);
  // Sends one frame (nullptr: end of stream) and writes what comes out.
  void encode_audio_frame(AVFormatContext* s, TOutputStream* ost, AVFrame* frame);
  // After a stop request: where the pictures of the stream's file end
  // (encoder time base), which its sound does not pass; else INT64_MAX.
  std::int64_t audio_stop_limit(const TOutputStream* ost) const;
  // The FIFO remainder, then the encoder's delayed packets.
  void drain_audio_encoder(AVFormatContext* s, TOutputStream* ost);

  TSampleBuffer Faudio_buf;  // resampler output, encoder format
  std::vector<std::uint8_t> Faudio_hook_buf;  // planar samples packed for the audio hook
  TSampleBuffer Finput_tmp;  // input with inserted silence, decoder format

  // ---- Video output (FFmpegVideoOut.cpp) -----------------------------------
  void video_out(AVFormatContext* s, TOutputStream* ost, AVFrame* frame, int& frame_size, float quality,
                 TInputStream* ist);
  // Sends one frame (nullptr to drain) and writes every packet that comes
  // out; the bytes written.
  int encode_video_frame(AVFormatContext* s, TOutputStream* ost, AVFrame* frame);
  void pre_process_video_frame(TInputStream* ist, AVFrame* picture);
  void log_video_stats(TOutputStream* ost, int frame_size);
  void drain_encoders();

  TFile Fvstats_file;

 public:
  // Picture hooks: the decoded picture before filtering, and each picture
  // as it goes to the encoder; a hook may change the pixels in place.
  using TFrameHookEvent = std::function<void(TCustomFFmpeg* Sender, AVFrame* APicture, AVPixelFormat APixFmt,
                                             int AFrameNumber, int AWidth, int AHeight, std::int64_t APTS)>;
  TFrameHookEvent FOnInputFrameHook, FOnOutputFrameHook;

  // Bitmap hooks: the same pictures on a drawing surface of the hook depth.
  // AUpdate (true on entry) asks for the painted surface to go back into
  // the picture; AStopHook ends the hook for the rest of the run.
  using TVideoHookEvent = std::function<void(TCustomFFmpeg* Sender, platform::TBitmap& ABitmap, int AFrameNumber,
                                             std::int64_t APTS, bool& AUpdate, bool& AStopHook)>;
  TVideoHookEvent FOnInputVideoHook, FOnOutputVideoHook;
  // An encoded picture as a surface, at most once per PreviewInterval,
  // while phBitmap is among the post hooks.
  using TPreviewBitmapEvent =
      std::function<void(TCustomFFmpeg* Sender, platform::TBitmap& ABitmap, int AFrameNumber, std::int64_t APTS)>;
  TPreviewBitmapEvent FOnPreviewBitmap;
  std::int64_t PreviewInterval = 100000;  // microseconds between previews

  enum TPostHook : unsigned { phPreview = 1, phBitmap = 2, phHBITMAP = 4 };
  using TPostHooks = unsigned;
  TPostHooks PostHooks() const { return FPostHooks; }
  // The conversion thread's own change of the set.
  void SetPostHooks(TPostHooks hooks) { FPostHooks = hooks; }
  // From another thread while a conversion may run.
  void SetPostHooksLocked(TPostHooks hooks);
  // Bits per pixel of both hook surfaces: 8, 15, 16, 24 or 32; anything
  // else raises std::invalid_argument "Invalid BitsPixel %d".
  void SetBitsPixel(int bits);

 protected:
  // Picture <-> surface for a bitmap hook. bitmapValid tells whether the
  // converter's surface still shows the picture afterwards. Removes the
  // hook when it asks to stop or its picture cannot be converted.
  void run_bitmap_hook(TVideoHookEvent& hook, ffutil::TFormatConverter& converter, bool& bitmapValid,
                       std::int64_t pts, int frameNumber, AVFrame* picture);
  // The output hooks on the picture about to be encoded; bitmapValid as
  // above, for the post hooks.
  void run_output_hooks(AVFrame* picture, int frameNumber, std::int64_t pts, bool& bitmapValid);
  void run_post_hooks(AVFrame* picture, bool bitmapValid, std::int64_t pts, int frameNumber);

  ffutil::TFrameHookChain FFirstHook;  // -vhook modules
  ffutil::TFormatConverter FInputVideoHook;
  struct TPostHookContext {
    ffutil::TFormatConverter Converter;  // output bitmap hook and preview
    std::unique_ptr<TPreviewer> Previewer;  // made on the first preview
    std::int64_t preview_last_time = 0;     // microseconds
  } FOutputVideoHook;
  // Read by the conversion thread without the post-hook lock.
  std::atomic<TPostHooks> FPostHooks{0};
  bool FPostHooksChanged = false;  // changed from outside since the last preview

 private:
  // Option fields to their reset values (part of ResetState).
  void ResetOptionState();
};

}  // namespace engine
