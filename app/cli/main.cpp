// Command-line companion of the window: the same conversion, for headless
// and batch use. Prints the video's path on success; any failure is one
// "fotoreel-cli: <reason>" line on stderr and a non-zero exit status.
#include <QCoreApplication>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <exception>
#include <string>
#include <unistd.h>
#include <vector>

#include "app/cli/CliConversion.h"
#include "app/cli/CliOptions.h"
#include "platform/MainThread.h"

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void Interrupt(int) { interrupted = true; }

// Ctrl+C and termination stop the conversion cleanly (the partial video is
// removed) instead of killing the process halfway through a file.
void CatchInterruptions() {
  struct sigaction action {};
  action.sa_handler = Interrupt;
  sigemptyset(&action.sa_mask);
  // A second signal ends the program at once.
  action.sa_flags = SA_RESETHAND;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

int Fail(int status, const std::string& reason) {
  std::fprintf(stderr, "fotoreel-cli: %s\n", reason.c_str());
  return status;
}

}  // namespace

int main(int argc, char* argv[]) {
  // Pictures are read and painted with Qt's raster classes, which need no
  // display; the application object provides the image format plug-ins.
  QCoreApplication application(argc, argv);
  platform::SetMainThread();

  app::cli::TCliOptions options;
  try {
    options = app::cli::ParseCliOptions(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const app::cli::TCliError& e) {
    return Fail(kExitUsage, e.what());
  }
  if (options.Help) {
    std::fputs(app::cli::CliUsage().c_str(), stdout);
    return 0;
  }

  CatchInterruptions();
  try {
    const app::cli::TRunOutcome outcome =
        app::cli::RunConversion(options, stderr, ::isatty(STDERR_FILENO) != 0, interrupted);
    if (outcome.ExitStatus != 0) return Fail(outcome.ExitStatus, outcome.Message);
    std::printf("%s\n", outcome.OutputFileName.c_str());
    return 0;
  } catch (const std::exception& e) {
    return Fail(kExitFailed, e.what());
  }
}
