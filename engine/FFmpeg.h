#pragma once
// The transcoding engine: one TCustomFFmpeg per conversion task. It is
// configured through option strings in command-line syntax (ParseOptions,
// ParsePresets), one per file, each applying to the file opened after it.
//
// Threads: options are parsed and files opened on the thread that builds
// the task (the main thread), before the conversion thread exists. The
// option-error text and the libraries' log level are process-wide.
//
// The class is split by subject over several source files; each section
// below names its file.
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/OptionTypes.h"
#include "engine/Records.h"
#include "ffbind/FFHeaders.h"
#include "log/FFLog.h"
#include "util/FFOptions.h"

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
  // Bits per pixel of the hook picture converters (-VideoHookBitsPixel).
  std::int32_t FVideoHookBitsPixel = 0;

  // ---- Inputs (input opening) --------------------------------------------
  std::vector<TInputFile> Finput_files;
  std::vector<std::unique_ptr<TInputStream>> Finput_streams;

  // ---- Outputs (output opening) ------------------------------------------
  std::vector<TOutputFile> Foutput_files;
  std::vector<std::unique_ptr<TOutputStream>> Foutput_streams;

 private:
  // Option fields to their reset values (part of ResetState).
  void ResetOptionState();
};

}  // namespace engine
