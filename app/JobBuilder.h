#pragma once
// The conversion job built from the window's settings when Start is
// pressed: output file name, the two option strings and the display time
// per picture. Pure text work; the window hands the result to the encoder.
#include <cstdint>
#include <ctime>
#include <stdexcept>
#include <string>

namespace app {

// The window's controls, read as the Start handler reads them: combo boxes
// by index, except size and rate, which are used as typed.
struct TJobSettings {
  int ContainerIndex = 4;  // 0 FLV, 1 MP4, 2 MOV, 3 MKV, 4 WMV, 5 AVI; other: keep CurrentOutput
  std::string FrameSizeText = "320x240";
  std::string FrameRateText = "30/1";
  int QualityIndex = 0;      // 0 standard, 1 high
  int ScreenShapeIndex = 1;  // 0 4:3 ... 7 9:21
  int RotationIndex = 0;     // 0 none, 1..4 transpositions
  bool FrameDelayChecked = true;
  std::string FrameDelayText = "2.0";  // seconds per picture, in the user's locale
  bool RealTimePacing = true;          // "-re": the window shows the run as it goes
  std::string OutputBaseName;          // folder + "/" + stamp
  std::string CurrentOutput;           // the output path shown so far
};

struct TJob {
  std::string OutputFileName;
  std::string InputOptions;
  std::string OutputOptions;
  std::int64_t FrameDelay = 0;  // microseconds per picture; 0: pictures follow the frame rate
};

// A display time that is not a number.
class TJobError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Throws TJobError before anything is built when the display time is bad.
TJob BuildJob(const TJobSettings& settings);

// Seconds text (user's locale first, then "." as decimal point) to
// microseconds, rounded to nearest, ties to even. Throws TJobError.
std::int64_t ParseFrameDelay(const std::string& text);

// Local time as "yyyymmddhhmmss".
std::string OutputStamp(std::time_t time);

// "$HOME/qv_pictvideo".
std::string DefaultOutputFolder();
// Creates the folder with its missing parents; false when it cannot. A
// failure is not reported: opening the output fails later with its reason.
bool CreateOutputFolder(const std::string& folder);

// After pictures are added: OutputBaseName and the default output path.
struct TOutputNames {
  std::string OutputBaseName;
  std::string Output;  // OutputBaseName + ".mp4"
};
TOutputNames StampOutputNames(const std::string& folder, std::time_t time);

}  // namespace app
