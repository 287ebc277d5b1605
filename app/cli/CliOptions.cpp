#include "app/cli/CliOptions.h"

#include <QString>
#include <algorithm>
#include <cctype>
#include <initializer_list>

namespace app::cli {
namespace {

// One item of a window combo box: the command-line name first, then the
// window's own caption; the item's index is accepted as well.
struct TChoice {
  std::initializer_list<const char*> Names;
};

const TChoice kContainers[] = {{{"FLV"}}, {{"MP4"}}, {{"MOV"}}, {{"MKV"}}, {{"WMV"}}, {{"AVI"}}};
const TChoice kQualities[] = {{{"standard", "普清"}}, {{"high", "高清"}}};
const TChoice kShapes[] = {{{"4:3", "普屏 4:3"}},       {{"16:9", "宽屏 16:9"}},      {{"16:10", "宽屏 16:10"}},
                           {{"21:9", "超宽屏 21:9"}},   {{"3:4", "手机播放 3:4"}},    {{"9:16", "手机播放 9:16"}},
                           {{"10:16", "手机播放 10:16"}}, {{"9:21", "手机播放 9:21"}}};
const TChoice kRotations[] = {{{"none", "保持原状"}},
                              {{"cw90", "顺时针旋转90°"}},
                              {{"ccw90", "逆时针旋转90°"}},
                              {{"cw90-hflip", "顺时针旋转90°然后水平翻转"}},
                              {{"ccw90-vflip", "逆时针旋转90°然后垂直翻转"}}};

bool SameText(const std::string& a, const char* b) {
  return QString::fromUtf8(a).compare(QString::fromUtf8(b), Qt::CaseInsensitive) == 0;
}

bool AllDigits(const std::string& text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

bool PositiveNumber(const std::string& text) {
  return AllDigits(text) && text.find_first_not_of('0') != std::string::npos && text.size() <= 9;
}

template <std::size_t N>
std::string ChoiceNames(const TChoice (&choices)[N]) {
  std::string names;
  for (const TChoice& choice : choices) names += (names.empty() ? "" : ", ") + std::string(*choice.Names.begin());
  return names;
}

template <std::size_t N>
int PickChoice(const std::string& option, const std::string& value, const TChoice (&choices)[N]) {
  for (std::size_t i = 0; i < N; ++i) {
    if (value == std::to_string(i)) return static_cast<int>(i);
    for (const char* name : choices[i].Names)
      if (SameText(value, name)) return static_cast<int>(i);
  }
  throw TCliError("unknown " + option + " \"" + value + "\" (one of: " + ChoiceNames(choices) + ")");
}

// "WIDTHxHEIGHT"; checked here because the text is pasted into the option
// strings, where a blank would smuggle in options of its own.
std::string FrameSize(const std::string& value) {
  const std::size_t x = value.find('x');
  if (x == std::string::npos || !PositiveNumber(value.substr(0, x)) || !PositiveNumber(value.substr(x + 1)))
    throw TCliError("invalid --size \"" + value + "\" (expected WIDTHxHEIGHT, e.g. 640x480)");
  return value;
}

// "N", "N/M" or a decimal number, above 0.
std::string FrameRate(const std::string& value) {
  const std::size_t slash = value.find('/');
  const std::size_t dot = value.find('.');
  bool ok;
  if (slash != std::string::npos)
    ok = PositiveNumber(value.substr(0, slash)) && PositiveNumber(value.substr(slash + 1));
  else if (dot != std::string::npos)
    ok = AllDigits(value.substr(0, dot)) && AllDigits(value.substr(dot + 1)) &&
         value.find_first_not_of("0.") != std::string::npos;
  else
    ok = PositiveNumber(value);
  if (!ok) throw TCliError("invalid --rate \"" + value + "\" (expected frames per second, e.g. 30/1 or 25)");
  return value;
}

std::string DisplayTime(const std::string& value) {
  std::int64_t microseconds = 0;
  try {
    microseconds = ParseFrameDelay(value);
  } catch (const TJobError& e) {
    throw TCliError(std::string("invalid --delay: ") + e.what());
  }
  if (microseconds < 0) throw TCliError("invalid --delay \"" + value + "\": the display time cannot be negative");
  return value;
}

}  // namespace

TCliOptions ParseCliOptions(const std::vector<std::string>& args) {
  TCliOptions options;
  options.OutputFolder = DefaultOutputFolder();
  bool picturesOnly = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    if (picturesOnly || arg.empty() || arg[0] != '-' || arg == "-") {
      options.Pictures.push_back(arg);
      continue;
    }
    if (arg == "--") {
      picturesOnly = true;
      continue;
    }
    if (arg == "--help" || arg == "-h") {
      options.Help = true;
      return options;
    }
    if (arg == "--realtime") {
      options.Settings.RealTimePacing = true;
      continue;
    }

    // --name VALUE or --name=VALUE.
    std::string value;
    bool hasValue = false;
    if (const std::size_t eq = arg.find('='); eq != std::string::npos && arg.starts_with("--")) {
      value = arg.substr(eq + 1);
      arg.resize(eq);
      hasValue = true;
    }
    const auto takeValue = [&]() -> const std::string& {
      if (!hasValue) {
        if (i + 1 >= args.size()) throw TCliError("option " + arg + " needs a value");
        value = args[++i];
      }
      return value;
    };

    TJobSettings& s = options.Settings;
    if (arg == "--container") {
      s.ContainerIndex = PickChoice("container", takeValue(), kContainers);
    } else if (arg == "--size") {
      s.FrameSizeText = FrameSize(takeValue());
    } else if (arg == "--rate") {
      s.FrameRateText = FrameRate(takeValue());
    } else if (arg == "--quality") {
      s.QualityIndex = PickChoice("quality", takeValue(), kQualities);
    } else if (arg == "--shape") {
      s.ScreenShapeIndex = PickChoice("screen shape", takeValue(), kShapes);
    } else if (arg == "--rotation") {
      s.RotationIndex = PickChoice("rotation", takeValue(), kRotations);
    } else if (arg == "--delay") {
      s.FrameDelayText = DisplayTime(takeValue());
    } else if (arg == "--audio") {
      options.AudioFile = takeValue();
      if (options.AudioFile.empty()) throw TCliError("option --audio needs a file name");
    } else if (arg == "--output-dir") {
      options.OutputFolder = takeValue();
      if (options.OutputFolder.empty()) throw TCliError("option --output-dir needs a folder");
    } else {
      throw TCliError("unknown option " + arg + " (see --help)");
    }
  }
  if (options.Pictures.empty()) throw TCliError("no pictures given (see --help)");
  return options;
}

std::string CliUsage() {
  return "Usage: fotoreel-cli [options] PICTURE...\n"
         "\n"
         "Turns BMP and JPEG pictures, in the order given, into one video file in the\n"
         "output folder, named by the local time (yyyymmddhhmmss) and the container.\n"
         "Prints the path of the video on success.\n"
         "\n"
         "Options (defaults as in the window):\n"
         "  --container NAME   " + ChoiceNames(kContainers) + " (default WMV)\n"
         "  --size WxH         frame size (default 320x240)\n"
         "  --rate RATE        frames per second, N or N/M (default 30/1)\n"
         "  --quality NAME     " + ChoiceNames(kQualities) + " (default standard)\n"
         "  --shape RATIO      " + ChoiceNames(kShapes) + " (default 16:9)\n"
         "  --rotation NAME    " + ChoiceNames(kRotations) + " (default none)\n"
         "  --delay SECONDS    display time of each picture; 0: one frame each (default 2.0)\n"
         "  --audio FILE       sound track\n"
         "  --output-dir DIR   output folder, created when missing (default ~/qv_pictvideo)\n"
         "  --realtime         pace the conversion in real time, as the window does\n"
         "  -h, --help         this text\n"
         "\n"
         "The window's item captions and item numbers (0, 1, ...) are accepted too.\n"
         "Exit status: 0 done, 1 the conversion failed, 2 bad arguments, 130 interrupted.\n";
}

}  // namespace app::cli
