#include "app/JobBuilder.h"

#include <QLocale>
#include <QString>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <pwd.h>
#include <system_error>
#include <unistd.h>

namespace app {
namespace {

const char* const kExtensions[] = {".FLV", ".MP4", ".MOV", ".MKV", ".WMV", ".AVI"};
const char* const kAspectRatios[] = {"4:3", "16:9", "16:10", "21:10", "3:4", "9:16", "10:16", "10:21"};
const char* const kTranspositions[] = {"", "  -vf transpose=1 ", "  -vf transpose=2 ", "  -vf transpose=3 ",
                                       "  -vf transpose=0 "};
constexpr int kFlvIndex = 0;

template <std::size_t N>
const char* Pick(const char* const (&items)[N], int index) {
  return index >= 0 && static_cast<std::size_t>(index) < N ? items[index] : nullptr;
}

bool ToDouble(const QLocale& base, const QString& text, double* value) {
  QLocale locale(base);
  // "2.000" must not read as two thousand where "." groups digits.
  locale.setNumberOptions(QLocale::RejectGroupSeparator);
  bool ok = false;
  *value = locale.toDouble(text, &ok);
  return ok;
}

std::string OutputOptions(const TJobSettings& s, std::int64_t frameDelay) {
  const std::string& size = s.FrameSizeText;
  std::string out = "-c:v mpeg4 -c:a mp2 -r " + s.FrameRateText + " -s " + size;
  if (s.QualityIndex == 0) out += " -c:v mpeg4 -qscale:v 10 -qcomp 7 -s " + size + " -b:v 800k";
  if (s.QualityIndex == 1) out += " -c:v mpeg4 -qscale:v 1 -qcomp 0.7 -s " + size + " -b:v 8328k";
  if (const char* ratio = Pick(kAspectRatios, s.ScreenShapeIndex))
    out += std::string(" -c:v mpeg4  -aspect ") + ratio + " -s " + size + " -b:v 8328k";
  if (const char* vf = Pick(kTranspositions, s.RotationIndex)) out += vf;
  out += frameDelay > 0 ? " -vsync 0" : " -vsync -1";
  // The FLV muxer refuses mpeg4 video and mp2 audio: use codecs it takes.
  if (s.ContainerIndex == kFlvIndex) out += " -c:v flv -c:a libmp3lame -ar 44100";
  return out;
}

}  // namespace

std::int64_t ParseFrameDelay(const std::string& text) {
  const QString trimmed = QString::fromUtf8(text).trimmed();
  double seconds = 0;
  // The window's own default, "2.0", must work whatever the locale.
  if (!ToDouble(QLocale(), trimmed, &seconds) && !ToDouble(QLocale::c(), trimmed, &seconds))
    throw TJobError("\"" + text + "\" is not a valid display time in seconds");
  const double micro = std::nearbyint(seconds * 1e6);
  if (!std::isfinite(micro) || std::fabs(micro) >= 9.2e18)
    throw TJobError("\"" + text + "\" is out of range for a display time in seconds");
  return static_cast<std::int64_t>(micro);
}

TJob BuildJob(const TJobSettings& s) {
  TJob job;
  job.FrameDelay = s.FrameDelayChecked ? ParseFrameDelay(s.FrameDelayText) : 0;
  const char* extension = Pick(kExtensions, s.ContainerIndex);
  job.OutputFileName = extension ? s.OutputBaseName + extension : s.CurrentOutput;
  job.InputOptions = std::string("-f frameinput") + (s.RealTimePacing ? " -re" : "") +
                     " -input_type canvas -pix_fmt bgr24 -r " + s.FrameRateText + " -s " + s.FrameSizeText;
  job.OutputOptions = OutputOptions(s, job.FrameDelay);
  return job;
}

std::string OutputStamp(std::time_t time) {
  std::tm local{};
  localtime_r(&time, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d%H%M%S", &local);
  return stamp;
}

std::string DefaultOutputFolder() {
  const char* home = std::getenv("HOME");
  if (!home || !*home) {
    const passwd* user = getpwuid(getuid());
    home = user && user->pw_dir ? user->pw_dir : "";
  }
  return std::string(home) + "/qv_pictvideo";
}

bool CreateOutputFolder(const std::string& folder) {
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  return std::filesystem::is_directory(folder, ec);
}

TOutputNames StampOutputNames(const std::string& folder, std::time_t time) {
  TOutputNames names;
  names.OutputBaseName = folder + "/" + OutputStamp(time);
  names.Output = names.OutputBaseName + ".mp4";
  return names;
}

}  // namespace app
