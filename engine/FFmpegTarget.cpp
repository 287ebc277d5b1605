// -target: the settings of the standard disc and tape formats.
#include <cmath>
#include <span>

#include "engine/FFmpeg.h"

namespace engine {
namespace {

enum TNorm { nmNone, nmPAL, nmNTSC, nmFILM };

// How one setting of a target is applied.
enum TSettingKind { skCodec, skOption, skGeneric };

struct TSetting {
  TSettingKind kind;
  const char* name;
  const char* ntsc;  // also FILM
  const char* pal;   // nullptr: same as ntsc
};

// nullptr in ntsc marks the rate option, whose value follows the norm.
constexpr const char* kRate = nullptr;

}  // namespace

int TCustomFFmpeg::opt_target(TOptionsContext* o, const std::string&, const std::string& arg) {
  TNorm norm = nmNone;
  std::string type = arg;
  for (auto [prefix, n] : {std::pair{"pal-", nmPAL}, std::pair{"ntsc-", nmNTSC}, std::pair{"film-", nmFILM}}) {
    const std::string p = prefix;
    if (type.compare(0, p.size(), p) == 0) {
      norm = n;
      type = type.substr(p.size());
      break;
    }
  }

  if (norm == nmNone) {
    // Guess from the frame rates of the video inputs opened so far.
    for (const TInputFile& f : Finput_files) {
      for (unsigned i = 0; i < f.ctx->nb_streams && norm == nmNone; ++i) {
        const AVStream* st = f.ctx->streams[i];
        if (st->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) continue;
        AVRational r = st->r_frame_rate.num > 0 && st->r_frame_rate.den > 0 ? st->r_frame_rate : st->avg_frame_rate;
        if (r.num <= 0 || r.den <= 0) continue;
        long rate = std::lround(1000.0 * r.num / r.den);
        if (rate == 25000) norm = nmPAL;
        else if (rate == 29970 || rate == 23976) norm = nmNTSC;
      }
      if (norm != nmNone) break;
    }
    if (norm == nmNone)
      FatalError(
          "Could not determine norm (PAL/NTSC/NTSC-Film) for target.\r\nPlease prefix target with \"pal-\", "
          "\"ntsc-\" or \"film-\",\r\nor set a framerate with \"-r xxx\".");
    Log(fflog::llInfo, std::string("Assuming ") + (norm == nmPAL ? "PAL" : "NTSC") + " for target.");
  }

  static const TSetting kVCD[] = {
      {skCodec, "vcodec", "mpeg1video", nullptr}, {skCodec, "acodec", "mp2", nullptr},
      {skOption, "f", "vcd", nullptr},            {skOption, "s", "352x240", "352x288"},
      {skOption, "r", kRate, nullptr},            {skGeneric, "g", "18", "15"},
      {skGeneric, "b:v", "1150000", nullptr},     {skGeneric, "maxrate", "1150000", nullptr},
      {skGeneric, "minrate", "1150000", nullptr}, {skGeneric, "bufsize", "327680", nullptr},
      {skGeneric, "b:a", "224000", nullptr},      {skOption, "ar", "44100", nullptr},
      {skOption, "ac", "2", nullptr},             {skGeneric, "packetsize", "2324", nullptr},
      {skGeneric, "muxrate", "1411200", nullptr}};
  static const TSetting kSVCD[] = {
      {skCodec, "vcodec", "mpeg2video", nullptr},     {skCodec, "acodec", "mp2", nullptr},
      {skOption, "f", "svcd", nullptr},               {skOption, "s", "480x480", "480x576"},
      {skOption, "r", kRate, nullptr},                {skOption, "pix_fmt", "yuv420p", nullptr},
      {skGeneric, "g", "18", "15"},                   {skGeneric, "b:v", "2040000", nullptr},
      {skGeneric, "maxrate", "2516000", nullptr},     {skGeneric, "minrate", "0", nullptr},
      {skGeneric, "bufsize", "1835008", nullptr},     {skGeneric, "flags", "+scan_offset", nullptr},
      {skGeneric, "b:a", "224000", nullptr},          {skOption, "ar", "44100", nullptr},
      {skGeneric, "packetsize", "2324", nullptr}};
  static const TSetting kDVD[] = {
      {skCodec, "vcodec", "mpeg2video", nullptr}, {skCodec, "acodec", "ac3", nullptr},
      {skOption, "f", "dvd", nullptr},            {skOption, "s", "720x480", "720x576"},
      {skOption, "r", kRate, nullptr},            {skOption, "pix_fmt", "yuv420p", nullptr},
      {skGeneric, "g", "18", "15"},               {skGeneric, "b:v", "6000000", nullptr},
      {skGeneric, "maxrate", "9000000", nullptr}, {skGeneric, "minrate", "0", nullptr},
      {skGeneric, "bufsize", "1835008", nullptr}, {skGeneric, "packetsize", "2048", nullptr},
      {skGeneric, "muxrate", "10080000", nullptr}, {skGeneric, "b:a", "448000", nullptr},
      {skOption, "ar", "48000", nullptr}};
  static const TSetting kDV[] = {{skOption, "f", "dv", nullptr},        {skOption, "s", "720x480", "720x576"},
                                 {skOption, "pix_fmt", "yuv411p", "yuv420p"}, {skOption, "r", kRate, nullptr},
                                 {skOption, "ar", "48000", nullptr},    {skOption, "ac", "2", nullptr}};
  static const TSetting kDV50[] = {{skOption, "f", "dv", nullptr},     {skOption, "s", "720x480", "720x576"},
                                   {skOption, "pix_fmt", "yuv422p", nullptr}, {skOption, "r", kRate, nullptr},
                                   {skOption, "ar", "48000", nullptr}, {skOption, "ac", "2", nullptr}};

  std::span<const TSetting> settings;
  if (type == "vcd") settings = kVCD;
  else if (type == "svcd") settings = kSVCD;
  else if (type == "dvd") settings = kDVD;
  else if (type == "dv50") settings = kDV50;
  else if (type.compare(0, 2, "dv") == 0) settings = kDV;
  else return RejectOption("Unknown target: " + type);

  const char* rate = norm == nmPAL ? "25" : norm == nmNTSC ? "30000/1001" : "24000/1001";
  for (const TSetting& s : settings) {
    const std::string value = s.ntsc == kRate ? rate : (norm == nmPAL && s.pal) ? s.pal : s.ntsc;
    int r = 0;
    switch (s.kind) {
      case skCodec: r = opt_codec_alias(o, s.name, value); break;
      case skOption: r = ApplyOption(o, s.name, &value, Foptions); break;
      case skGeneric: r = opt_default(s.name, value); break;
    }
    if (r < 0) return r;
  }
  if (settings.data() == kVCD) o->mux_preload = 0.44f;
  return 0;
}

}  // namespace engine
