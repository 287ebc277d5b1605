#include "app/cli/CliConversion.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "app/PictureFrameSource.h"
#include "app/cli/TerminalProgress.h"
#include "encoder/FFEncode.h"
#include "ffbind/FFLoad.h"
#include "frameinput/FrameInput.h"
#include "platform/MainThread.h"

namespace app::cli {
namespace {

namespace fs = std::filesystem;

// Ends the run with exit status 1 and the text shown to the user.
class TRunFailure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The output file, created empty under a name no other run holds; removed
// again unless the run keeps it. Two runs in the same second would
// otherwise write over each other's video: a taken stamp moves on to the
// next second.
class TOutputClaim {
 public:
  TOutputClaim(TJobSettings settings, const std::string& folder, TJob* job) {
    const std::time_t now = std::time(nullptr);
    for (int second = 0; second < 3600; ++second) {
      settings.OutputBaseName = folder + "/" + OutputStamp(now + second);
      *job = BuildJob(settings);
      const int fd = ::open(job->OutputFileName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd >= 0) {
        ::close(fd);
        FFileName = job->OutputFileName;
        return;
      }
      if (errno != EEXIST)
        throw TRunFailure("cannot write to the output folder \"" + folder + "\": " + std::strerror(errno));
    }
    throw TRunFailure("no free output name left in \"" + folder + "\"");
  }
  ~TOutputClaim() {
    std::error_code ignored;
    if (!FKeep) fs::remove(FFileName, ignored);
  }
  TOutputClaim(const TOutputClaim&) = delete;
  TOutputClaim& operator=(const TOutputClaim&) = delete;

  void Keep() { FKeep = true; }

 private:
  std::string FFileName;
  bool FKeep = false;
};

std::string AbsoluteFolder(const std::string& folder) {
  std::error_code ec;
  const fs::path absolute = fs::absolute(folder, ec);
  return (ec ? fs::path(folder) : absolute).lexically_normal().string();
}

std::string PrepareOutputFolder(const std::string& folder) {
  const std::string absolute = AbsoluteFolder(folder);
  // lexically_normal keeps a trailing separator: "dir/" + "/" + stamp would
  // read oddly in the printed path.
  const std::string trimmed =
      absolute.size() > 1 && absolute.back() == '/' ? absolute.substr(0, absolute.size() - 1) : absolute;
  std::error_code created, checked;
  fs::create_directories(trimmed, created);
  if (!fs::is_directory(trimmed, checked))
    throw TRunFailure("cannot create the output folder \"" + trimmed + "\": " +
                      (created ? created.message() : std::string("a file of that name is in the way")));
  return trimmed;
}

void CheckReadable(const char* what, const std::string& path) {
  std::error_code ec;
  if (fs::is_directory(path, ec)) throw TRunFailure(std::string(what) + " \"" + path + "\" is a folder");
  if (::access(path.c_str(), R_OK) != 0)
    throw TRunFailure(std::string("cannot read ") + what + " \"" + path + "\": " + std::strerror(errno));
}

// Pictures one after another plus, with a display time, the last one
// again to hold it on screen.
std::int32_t ExpectedFrames(const TCliOptions& options, const TJob& job) {
  return static_cast<std::int32_t>(options.Pictures.size()) + (job.FrameDelay > 0 ? 1 : 0);
}

class TConversion {
 public:
  TConversion(const TCliOptions& options, std::FILE* progressOut, bool terminal)
      : FOptions(options), FProgressOut(progressOut), FTerminal(terminal) {}

  TRunOutcome Run(const std::atomic<bool>& interrupted) {
    if (!FEncoder.AVLibLoaded() && !FEncoder.LoadAVLib(ffbind::ProgramFolder()))
      throw TRunFailure(FEncoder.LastErrMsg());
    frameinput::RegisterFrameInputFormat();

    // Missing files are found before anything is written; a picture that
    // is there but cannot be decoded ends the run when its turn comes.
    for (const std::string& picture : FOptions.Pictures) CheckReadable("picture", picture);
    if (!FOptions.AudioFile.empty()) CheckReadable("audio file", FOptions.AudioFile);

    TJob job;
    TOutputClaim claim(FOptions.Settings, PrepareOutputFolder(FOptions.OutputFolder), &job);
    BuildTask(job);

    TTerminalProgress progress(FProgressOut, FTerminal, ExpectedFrames(FOptions, job));
    FEncoder.OnProgress = [&progress](void*, const encoder::TProgressInfo* info) {
      progress.Show(info->FrameNumber, info->CurrentDuration);
    };
    FEncoder.OnTerminate = [this](void*, const encoder::TTerminateInfo& info) {
      if (info.TaskIndex >= 0) FTaskEnd = info;
      else FFinalSeen = true;
    };
    FEncoder.SetPreview(false);
    FEncoder.Start(1);

    bool stopAsked = false;
    platform::ServeMainThreadUntil([&] {
      if (interrupted && !stopAsked) {
        FEncoder.Stop(false);
        stopAsked = true;
      }
      return FFinalSeen;
    });
    progress.Finish();

    if (stopAsked) return {130, "", "interrupted; no video was written"};
    if (FTaskEnd.Exception) throw TRunFailure(FTaskEnd.ExceptionMsg);
    claim.Keep();
    return {0, job.OutputFileName, ""};
  }

 private:
  void BuildTask(const TJob& job) {
    encoder::TInputOptions input;
    input.Options = job.InputOptions;
    const int task = FEncoder.AddTask(FAdapter.FileName(), &input);
    if (task < 0) throw TRunFailure("cannot open the picture input: " + FEncoder.LastErrMsg());

    if (!FOptions.AudioFile.empty() && FEncoder.AddInput(task, FOptions.AudioFile) < 0)
      throw TRunFailure("cannot open audio file \"" + FOptions.AudioFile + "\": " + FEncoder.LastErrMsg());

    encoder::TOutputOptions output;
    output.Options = job.OutputOptions;
    if (FEncoder.SetOutput(task, job.OutputFileName, &output) < 0)
      throw TRunFailure("cannot write \"" + job.OutputFileName + "\": " + FEncoder.LastErrMsg());

    FSource.Pictures = FOptions.Pictures;
    FSource.FrameDelay = job.FrameDelay;
    FSource.BreakWhenNoPictures = true;
    FSource.OnStopRequest = [this] { FEncoder.Stop(false); };
    FAdapter.OnReadFrameCanvas = FSource.Handler();
  }

  const TCliOptions& FOptions;
  std::FILE* FProgressOut;
  bool FTerminal;
  TPictureFrameSource FSource;
  // Declared before the encoder: the tasks read from the adapter until the
  // encoder has freed them.
  frameinput::TFrameInputAdapter FAdapter;
  encoder::TFFEncoder FEncoder;
  encoder::TTerminateInfo FTaskEnd;
  bool FFinalSeen = false;
};

}  // namespace

TRunOutcome RunConversion(const TCliOptions& options, std::FILE* progressOut, bool terminal,
                          const std::atomic<bool>& interrupted) {
  try {
    TConversion conversion(options, progressOut, terminal);
    return conversion.Run(interrupted);
  } catch (const TRunFailure& e) {
    return {1, "", e.what()};
  } catch (const TJobError& e) {
    return {1, "", e.what()};
  }
}

}  // namespace app::cli
