#pragma once
// One conversion of the companion program, built by the window's job
// builder and painted by the window's picture frame source, run by the
// encoder on a worker thread while this (main) thread paints the frames.
#include <atomic>
#include <cstdio>
#include <string>

#include "app/cli/CliOptions.h"

namespace app::cli {

struct TRunOutcome {
  // 0 done, 1 failed, 130 interrupted.
  int ExitStatus = 0;
  std::string OutputFileName;  // the video written, when done
  std::string Message;         // why not, otherwise
};

// Main thread only (it serves the main-thread hand-offs of the run).
// Progress goes to progressOut, as a bar when `terminal`. Setting
// `interrupted` stops the run. A run that does not end with a complete
// video leaves no file behind.
TRunOutcome RunConversion(const TCliOptions& options, std::FILE* progressOut, bool terminal,
                          const std::atomic<bool>& interrupted);

}  // namespace app::cli
