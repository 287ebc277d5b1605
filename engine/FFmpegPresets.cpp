// Preset files and preset text (key=value lines), and the name of the
// video statistics file.
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <strings.h>

#include "engine/FFmpeg.h"
#include "util/OptionWords.h"

namespace engine {
namespace {

std::string Trim(const std::string& s) {
  const char* blanks = " \t\r\n\f\v";
  std::size_t b = s.find_first_not_of(blanks);
  if (b == std::string::npos) return std::string();
  return s.substr(b, s.find_last_not_of(blanks) - b + 1);
}

void ReplaceAll(std::string& s, const std::string& from, const std::string& to) {
  for (std::size_t p = 0; (p = s.find(from, p)) != std::string::npos; p += to.size()) s.replace(p, from.size(), to);
}

// Splits a trimmed line at its first "="; key or value may come out empty.
void SplitPair(const std::string& line, std::string& key, std::string& value) {
  std::size_t eq = line.find('=');
  key = line.substr(0, eq);
  value = eq == std::string::npos ? std::string() : line.substr(eq + 1);
}

void AppendOptionError(const std::string& text) {
  std::string prev = ffutil::OptionErrorText();
  ffutil::SetOptionErrorText(prev.empty() ? text : prev + "\r\n" + text);
}

}  // namespace

int TCustomFFmpeg::ApplyPresetPair(TOptionsContext* o, const std::string& key, const std::string& value) {
  ffutil::ClearOptionErrorText();
  for (const char* codecKey : {"acodec", "vcodec", "scodec", "dcodec"})
    if (strcasecmp(key.c_str(), codecKey) == 0) return opt_codec_alias(o, codecKey, value);
  return opt_default(key, value);
}

int TCustomFFmpeg::opt_preset(TOptionsContext* o, const std::string&, const std::string& arg) {
  // Only regular files: a device or a pipe named here could be endless.
  std::error_code ec;
  std::ifstream file;
  if (std::filesystem::is_regular_file(arg, ec)) file.open(arg, std::ios::binary);
  if (!file.is_open()) return RejectOption("Preset file \"" + arg + "\" not found");

  std::string raw;
  while (std::getline(file, raw)) {
    const std::string line = Trim(raw);
    if (line.empty() || line[0] == '#') continue;
    std::string key, value;
    SplitPair(line, key, value);
    if (key.empty() || value.empty()) return RejectOption(arg + ": Invalid syntax: \"" + line + "\"");
    int r = ApplyPresetPair(o, key, value);
    if (r < 0) {
      std::string text =
          arg + ": Invalid option or argument: \"" + line + "\", parsed as \"" + key + "\" = \"" + value + "\"";
      Log(fflog::llError, text);
      AppendOptionError(text);
      if (HaltOnInvalidOption) return r;
    }
  }
  return 0;
}

void TCustomFFmpeg::ParsePresets(const std::string& presets) {
  if (presets.empty()) return;
  Log(fflog::llInfo, "ParsePresets: " + presets);
  if (!Foptions) ResetOptionsContext(&optctx, false);

  std::string text = Trim(presets);
  ReplaceAll(text, "\r\n", "\n");
  ReplaceAll(text, "\r", "\n");
  ReplaceAll(text, "<CRLF>", "\n");

  std::istringstream lines(text);
  std::string raw;
  while (std::getline(lines, raw)) {
    const std::string line = Trim(raw);
    if (line.empty() || line[0] == '#') continue;
    std::string key, value;
    SplitPair(line, key, value);
    if (key.empty() || value.empty()) {
      std::string syntax = "Invalid syntax: \"" + line + "\"";
      ffutil::SetOptionErrorText(syntax);
      if (HaltOnInvalidOption) FatalError(syntax);
      Log(fflog::llError, syntax);
    }
    int r = ApplyPresetPair(&optctx, key, value);
    if (r < 0) {
      std::string failed = "Invalid option or argument: \"" + line + "\", parsed as \"" + key + "\" = \"" + value + "\"";
      Log(fflog::llError, failed);
      AppendOptionError(failed);
      if (HaltOnInvalidOption) FatalError(ffutil::OptionErrorText());
    }
  }
}

int TCustomFFmpeg::opt_vstats(const std::string&, const std::string&) {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  char stamp[16];
  std::strftime(stamp, sizeof stamp, "%H%M%S", &tm);
  Fvstats_filename = std::string("vstats_") + stamp + ".log";
  return 0;
}

int TCustomFFmpeg::opt_vstats_file(const std::string&, const std::string& arg) {
  Fvstats_filename = arg;
  return 0;
}

}  // namespace engine
