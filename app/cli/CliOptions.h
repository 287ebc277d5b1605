#pragma once
// Command-line arguments of the companion program: one option for each
// setting of the window, the pictures as the remaining arguments.
#include <stdexcept>
#include <string>
#include <vector>

#include "app/JobBuilder.h"

namespace app::cli {

struct TCliOptions {
  TCliOptions() { Settings.RealTimePacing = false; }

  // The window's settings; the output names are filled in at run time.
  // Real-time pacing ("-re") is off unless asked: a conversion without a
  // window to watch has no reason to wait.
  TJobSettings Settings;
  std::vector<std::string> Pictures;
  std::string AudioFile;  // empty: no sound track
  std::string OutputFolder;
  bool Help = false;
};

// A bad command line; what() is the text shown to the user.
class TCliError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Arguments without the program name. Throws TCliError naming the option
// and the value at fault. With --help nothing else is checked.
TCliOptions ParseCliOptions(const std::vector<std::string>& args);

// The --help text.
std::string CliUsage();

}  // namespace app::cli
