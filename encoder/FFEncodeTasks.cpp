// Building the encoder's tasks: library loading, opening inputs and
// outputs from option records or strings, the task list and the per-task
// accessors.
#include <cstdio>
#include <stdexcept>

#include "encoder/FFEncode.h"
#include "ffbind/FFLoad.h"

namespace encoder {
namespace {

bool HasToken(const std::string& padded, const char* token) { return padded.find(token) != std::string::npos; }

// Output switches whose engine side this build does not have: refused
// rather than silently ignored.
void RefuseUnavailableSwitches(const TOutputOptions& o) {
  const struct {
    bool requested;
    const char* name;
  } switches[] = {{o.Join, "Join"}};
  for (const auto& s : switches)
    if (s.requested) throw std::runtime_error(std::string("Output switch ") + s.name + " is not available");
}

}  // namespace

TCustomEncoder::TCustomEncoder() : FDecoder(std::make_unique<probe::TFFDecoder>()) {}

TCustomEncoder::~TCustomEncoder() {
  try {
    FPendingTasks = 0;
    if (FWorking) FFFmpegList.StopAll(true);
    WaitForDeliveries();
  } catch (...) {
    // Nothing may leave a destructor; the tasks still stop when freed.
  }
  OnProgress = nullptr;
  OnTerminate = nullptr;
  OnBeforeFindStreamInfo = nullptr;
  OnFrameInputHook = nullptr;
  OnFrameOutputHook = nullptr;
  OnVideoInputHook = nullptr;
  OnVideoOutputHook = nullptr;
  OnPreviewBitmap = nullptr;
  OnAudioHook = nullptr;
  {
    // A worker may still be leaving DoTerminate.
    std::lock_guard guard(FTerminateLock);
  }
  FFFmpegList.Clear();
  FDecoder.reset();
}

// ---- Libraries ------------------------------------------------------------

bool TCustomEncoder::AVLibLoaded() const { return ffbind::FFLoader.Loaded(ffbind::kEncoderLibraries); }

bool TCustomEncoder::LoadAVLib(const std::string& APath) {
  ffbind::FFLoader.SetLibraryPath(APath);
  if (ffbind::FFLoader.Load(ffbind::kEncoderLibraries)) return true;
  FLastErrMsg = ffbind::FFLoader.LastErrMsg();
  return false;
}

void TCustomEncoder::UnloadAVLib() {
  // Tasks and the spare probe hold library objects that must go back to
  // the libraries first.
  ClearTasks();
  if (AVLibLoaded()) FDecoder->CloseFile();
  ffbind::FFLoader.Unload(ffbind::kEncoderLibraries);
}

// ---- Busy guard -------------------------------------------------------------

void TCustomEncoder::CheckWorking(const char* AOperation) const {
  if (!FWorking) return;
  char text[128];
  std::snprintf(text, sizeof text, "Cannot %s while working.", AOperation);
  throw std::runtime_error(text);
}

// ---- Inputs -------------------------------------------------------------------

int TCustomEncoder::OpenTaskInput(TFFmpeg* ATask, const std::string& AFileName, PInputOptions AOptions) {
  const int index = ATask->InputCount();
  if (AOptions) {
    if (AOptions->FileName.empty()) AOptions->FileName = AFileName;
    ATask->SetInputOptions(index, *AOptions);
    ATask->ParseOptions(AOptions->Options);
    ATask->ParsePresets(AOptions->Presets);
  } else {
    ATask->ResetInputOptions(index);
  }
  ATask->SetTimeouts(ReadTimeout, WriteTimeout);
  const int result = ATask->OpenInput(nullptr, AFileName);
  if (result < 0) return result;
  // The probe describes the opened input without opening it again.
  ATask->GetDecoder(result)->SetFileHandle(ATask->InputFileContext(result));
  return result;
}

int TCustomEncoder::AddTask(const std::string& AFileName, PInputOptions AOptions) {
  CheckWorking("AddTask");
  try {
    auto task = std::make_unique<TFFmpeg>();
    TFFmpeg* t = task.get();
    task->FOnBeforeFindStreamInfo = [this, t](engine::TCustomFFmpeg*, AVFormatContext* context) {
      DoBeforeFindStreamInfo(t, context);
    };
    task->FOnPreviewBitmap = [this, t](engine::TCustomFFmpeg*, platform::TBitmap& bitmap, int frameNumber,
                                       std::int64_t pts) { DoPreviewBitmap(t, bitmap, frameNumber, pts); };
    task->Parent = this;
    ApplyPreviewSettings(t);
    task->SetHaltOnInvalidOption(FHaltOnInvalidOption);
    const int result = OpenTaskInput(t, AFileName, AOptions);
    if (result < 0) {
      FLastErrMsg = task->LastErrMsg();
      return result;
    }
    ConnectRunEvents(t);
    return FFFmpegList.Add(std::move(task));
  } catch (const std::exception& e) {
    FLastErrMsg = e.what();
    return -1;
  }
}

int TCustomEncoder::AddTask(const std::string& AFileName, const std::string& AOptions, const std::string& APresets) {
  TInputOptions options;
  options.FileName = AFileName;
  options.Options = AOptions;
  options.Presets = APresets;
  return AddTask(AFileName, &options);
}

int TCustomEncoder::OpenOrUndo(TFFmpeg* ATask, const std::function<int()>& AOpen,
                               const std::function<void()>& AUndo) {
  int result = -1;
  try {
    ATask->SetHaltOnInvalidOption(FHaltOnInvalidOption);
    result = AOpen();
    if (result >= 0) return result;
    FLastErrMsg = ATask->LastErrMsg();
  } catch (const std::exception& e) {
    FLastErrMsg = e.what();
  }
  // The options parsed for the failed file must not apply to the next one.
  AUndo();
  ATask->DiscardPendingOptions();
  return result;
}

int TCustomEncoder::AddInput(int ATaskIndex, const std::string& AFileName, PInputOptions AOptions) {
  CheckWorking("AddInput");
  TFFmpeg* task = FFFmpegList.Get(ATaskIndex);
  const int index = task->InputCount();
  return OpenOrUndo(
      task, [&] { return OpenTaskInput(task, AFileName, AOptions); }, [&] { task->ResetInputOptions(index); });
}

int TCustomEncoder::AddInput(int ATaskIndex, const std::string& AFileName, const std::string& AOptions,
                             const std::string& APresets) {
  TInputOptions options;
  options.FileName = AFileName;
  options.Options = AOptions;
  options.Presets = APresets;
  return AddInput(ATaskIndex, AFileName, &options);
}

// ---- Outputs ----------------------------------------------------------------

int TCustomEncoder::OpenTaskOutput(TFFmpeg* ATask, const std::string& AFileName, POutputOptions AOptions) {
  const int index = ATask->OutputCount();
  if (AOptions) {
    RefuseUnavailableSwitches(*AOptions);
    if (AOptions->FileName.empty()) AOptions->FileName = AFileName;
    ATask->SetOutputOptions(index, *AOptions);
    if (AOptions->AudioHook)
      ATask->FOnAudioHook = [this, ATask](engine::TCustomFFmpeg*, std::int64_t pts, std::uint8_t* sample, int size,
                                          int sampleRate, int channels, AVSampleFormat sampleFormat) {
        DoAudioHook(ATask, pts, sample, size, sampleRate, channels, sampleFormat);
      };
    if (AOptions->VideoInputHook)
      ATask->FOnInputVideoHook = [this, ATask](engine::TCustomFFmpeg*, platform::TBitmap& bitmap, int frameNumber,
                                               std::int64_t pts, bool& update, bool& stop) {
        DoVideoInputHook(ATask, bitmap, frameNumber, pts, update, stop);
      };
    if (AOptions->VideoOutputHook)
      ATask->FOnOutputVideoHook = [this, ATask](engine::TCustomFFmpeg*, platform::TBitmap& bitmap, int frameNumber,
                                                std::int64_t pts, bool& update, bool& stop) {
        DoVideoOutputHook(ATask, bitmap, frameNumber, pts, update, stop);
      };
    if (AOptions->FrameInputHook)
      ATask->FOnInputFrameHook = [this, ATask](engine::TCustomFFmpeg*, AVFrame* picture, AVPixelFormat pixFmt,
                                               int frameNumber, int width, int height, std::int64_t pts) {
        DoFrameInputHook(ATask, picture, pixFmt, frameNumber, width, height, pts);
      };
    if (AOptions->FrameOutputHook)
      ATask->FOnOutputFrameHook = [this, ATask](engine::TCustomFFmpeg*, AVFrame* picture, AVPixelFormat pixFmt,
                                                int frameNumber, int width, int height, std::int64_t pts) {
        DoFrameOutputHook(ATask, picture, pixFmt, frameNumber, width, height, pts);
      };
    ATask->SetBitsPixel(AOptions->VideoHookBitsPixel);
    ATask->ParseOptions(AOptions->Options);
    ATask->ParsePresets(AOptions->Presets);
  } else {
    ATask->ResetOutputOptions(index);
  }
  ATask->SetTimeouts(ReadTimeout, WriteTimeout);
  return ATask->OpenOutput(AFileName);
}

int TCustomEncoder::SetOutput(int ATaskIndex, const std::string& AFileName, POutputOptions AOptions) {
  CheckWorking("SetOutput");
  TFFmpeg* task = FFFmpegList.Get(ATaskIndex);
  const int index = task->OutputCount();
  return OpenOrUndo(
      task, [&] { return OpenTaskOutput(task, AFileName, AOptions); }, [&] { task->ResetOutputOptions(index); });
}

int TCustomEncoder::SetOutput(int ATaskIndex, const std::string& AFileName, const std::string& AOptions,
                              const std::string& APresets) {
  TOutputOptions options;
  options.Options = AOptions;
  options.Presets = APresets;
  // Padded, so that a switch at either end of the text is found too.
  const std::string padded = " " + AOptions + " ";
  options.AudioHook = HasToken(padded, " -AudioHook ");
  options.VideoInputHook = HasToken(padded, " -VideoInputHook ");
  options.VideoOutputHook = HasToken(padded, " -VideoOutputHook ");
  options.FrameInputHook = HasToken(padded, " -FrameInputHook ");
  options.FrameOutputHook = HasToken(padded, " -FrameOutputHook ");
  options.Join = HasToken(padded, " -Join ");
  return SetOutput(ATaskIndex, AFileName, &options);
}

// ---- Task list ----------------------------------------------------------------

void TCustomEncoder::ClearTasks() {
  if (FWorking && !FTerminated) throw std::runtime_error("Cannot ClearTasks while working.");
  {
    // The worker that ended the run may still be leaving DoTerminate.
    std::lock_guard guard(FTerminateLock);
  }
  FFFmpegList.Clear();
  FLastErrMsg.clear();
  FCompleteTasks = 0;
  FCurrentTask = -1;
  FPendingTasks = 0;
  FTerminated = false;
  FThreadMode = false;
  FWorking = false;
  FPaused = false;
}

void TCustomEncoder::RemoveTask(int ATaskIndex) {
  CheckWorking("RemoveTask");
  FFFmpegList.Delete(ATaskIndex);
}

void TCustomEncoder::Exchange(int ATaskIndex1, int ATaskIndex2) {
  CheckWorking("Exchange");
  FFFmpegList.Exchange(ATaskIndex1, ATaskIndex2);
}

// ---- Accessors and properties ----------------------------------------------------

probe::TFFDecoder* TCustomEncoder::Decoders(int TaskIndex, int FileIndex) const {
  return FFFmpegList.Get(TaskIndex)->Decoder(FileIndex);
}

AVFormatContext* TCustomEncoder::InputFiles(int TaskIndex, int FileIndex) const {
  return FFFmpegList.Get(TaskIndex)->InputFileContext(FileIndex);
}

AVFormatContext* TCustomEncoder::OutputFiles(int TaskIndex, int FileIndex) const {
  return FFFmpegList.Get(TaskIndex)->OutputFileContext(FileIndex);
}

TInputOptions TCustomEncoder::InputOptions(int TaskIndex, int FileIndex) const {
  return FFFmpegList.Get(TaskIndex)->GetInputOptions(FileIndex);
}

TOutputOptions TCustomEncoder::OutputOptions(int TaskIndex, int FileIndex) const {
  return FFFmpegList.Get(TaskIndex)->GetOutputOptions(FileIndex);
}

// The engine of this build has no preview painting or preview bitmap yet:
// the value is kept for the tasks that will take it.
void TCustomEncoder::ApplyPreviewSettings(TFFmpeg* ATask) const {
  using E = engine::TCustomFFmpeg;
  E::TPostHooks hooks = ATask->PostHooks() & ~static_cast<E::TPostHooks>(E::phPreview | E::phBitmap);
  if (FPreview) hooks |= E::phPreview;
  if (FPreviewBitmap) hooks |= E::phBitmap;
  ATask->SetPostHooksLocked(hooks);
}

void TCustomEncoder::SetPreview(bool AValue) {
  FPreview = AValue;
  for (int i = 0; i < FFFmpegList.Count(); ++i) ApplyPreviewSettings(FFFmpegList.Get(i));
}

void TCustomEncoder::SetPreviewBitmap(bool AValue) {
  FPreviewBitmap = AValue;
  for (int i = 0; i < FFFmpegList.Count(); ++i) ApplyPreviewSettings(FFFmpegList.Get(i));
}

void TCustomEncoder::SetProgressInterval(std::int32_t AValue) { FProgressInterval = AValue < 100 ? 100 : AValue; }

}  // namespace encoder
