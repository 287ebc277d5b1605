#pragma once
// The encoder component: an ordered list of conversion tasks, built from
// option strings in command-line syntax (AddTask opens a task's first
// input, AddInput further inputs, SetOutput an output), then run with Start
// on worker threads or on the caller's thread. The tasks' engine events
// come back as the encoder's events, with the task index added.
//
// Threads: every operation is meant for one controlling thread, the main
// thread. Files are opened on it (a frameinput input's header handler runs
// there). While a run is on, tasks report from their worker threads:
// OnProgress, OnTerminate and OnBeforeFindStreamInfo reach the handler on
// the main thread when TriggerEventInMainThread is true (the worker waits
// meanwhile, so the main thread must keep serving hand-offs and may only
// use the non-waiting Stop from inside such a handler), and so does
// OnPreviewBitmap; the video, frame and audio hooks always run on the
// worker. OnTerminate never makes a worker wait: a
// delivery thread waits instead.
//
// Failures: building calls return a negative number and leave the text in
// LastErrMsg. Building or reordering while working raises
// std::runtime_error("Cannot <operation> while working."); an index
// outside the task list raises std::out_of_range.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "encoder/DoTerminateThread.h"
#include "encoder/FFEncodeTypes.h"
#include "encoder/FFmpegList.h"
#include "encoder/FFmpegTask.h"
#include "platform/FFBaseComponent.h"
#include "probe/FFDecode.h"

namespace encoder {

using engine::TThreadPriority;

using TProgressEvent = std::function<void(void* Sender, const TProgressInfo* AProgressInfo)>;
// Sender is the task being opened (a TFFmpeg).
using TBeforeFindStreamInfoEvent = std::function<void(void* Sender, AVFormatContext* AFormatContext)>;
using TFrameHookEvent = std::function<void(void* Sender, TFrameHookInfo* AFrameHookInfo)>;
using TVideoHookEvent = std::function<void(void* Sender, THookInfo* AHookInfo)>;
using TPreviewBitmapEvent = std::function<void(void* Sender, const TPreviewInfo& APreviewInfo)>;
// Every decoded audio frame of a task whose output asked for it, on the
// worker: ASize bytes of packed samples that the handler may change.
using TAudioHookEvent = std::function<void(void* Sender, std::int32_t ATaskIndex, std::int64_t APTS,
                                           std::uint8_t* ASample, std::int32_t ASize, std::int32_t ASampleRate,
                                           std::int32_t AChannels, AVSampleFormat ASampleFormat)>;

class TCustomEncoder : public platform::TFFBaseComponent {
 public:
  TCustomEncoder();
  // Stops tasks still running (waiting for them) and waits for pending
  // termination deliveries, serving main-thread hand-offs meanwhile; then
  // frees the tasks. The owner should stop a run before.
  ~TCustomEncoder() override;
  TCustomEncoder(const TCustomEncoder&) = delete;
  TCustomEncoder& operator=(const TCustomEncoder&) = delete;

  // ---- Libraries (the full encoder set) ---------------------------------
  bool AVLibLoaded() const;
  // Sets the loader's library path, then loads; false with LastErrMsg set.
  bool LoadAVLib(const std::string& APath);
  // Frees the tasks first (ClearTasks rules apply), then unloads.
  void UnloadAVLib();

  // ---- Task building: the new index, or negative with LastErrMsg --------
  // A record whose FileName is empty gets AFileName written into it.
  int AddTask(const std::string& AFileName, PInputOptions AOptions = nullptr);
  int AddTask(const std::string& AFileName, const std::string& AOptions, const std::string& APresets = "");
  int AddInput(int ATaskIndex, const std::string& AFileName, PInputOptions AOptions = nullptr);
  int AddInput(int ATaskIndex, const std::string& AFileName, const std::string& AOptions,
               const std::string& APresets = "");
  // The result of opening the output.
  int SetOutput(int ATaskIndex, const std::string& AFileName, POutputOptions AOptions = nullptr);
  // The switches of the record are read from the options text: the words
  // -AudioHook, -VideoInputHook, -VideoOutputHook, -FrameInputHook,
  // -FrameOutputHook and -Join (they stay in the text).
  int SetOutput(int ATaskIndex, const std::string& AFileName, const std::string& AOptions,
                const std::string& APresets = "");

  // ---- Task list ----------------------------------------------------------
  // Refused while a run is on and not terminated; makes a finished encoder
  // usable again.
  void ClearTasks();
  void RemoveTask(int ATaskIndex);
  void Exchange(int ATaskIndex1, int ATaskIndex2);
  int GetTaskIndex(const TFFmpeg* AFFmpeg) const { return FFFmpegList.IndexOf(AFFmpeg); }
  int TasksCount() const { return FFFmpegList.Count(); }

  // ---- Per-task accessors -------------------------------------------------
  TFFmpeg* FFmpegs(int Index) const { return FFFmpegList.Get(Index); }
  probe::TFFDecoder* Decoders(int TaskIndex, int FileIndex) const;
  AVFormatContext* InputFiles(int TaskIndex, int FileIndex) const;
  AVFormatContext* OutputFiles(int TaskIndex, int FileIndex) const;
  TInputOptions InputOptions(int TaskIndex, int FileIndex) const;
  TOutputOptions OutputOptions(int TaskIndex, int FileIndex) const;

  // ---- Running ------------------------------------------------------------
  // Above 0: up to AThreadCount tasks on worker threads at once, the others
  // starting as running ones end; returns at once. 0 or less: the tasks
  // one after another on this thread; returns after every event was
  // delivered.
  void Start(std::int32_t AThreadCount);
  void Pause();
  void Resume();
  // No further task starts; running tasks break off, tasks not started
  // report their termination. With AWaitForStop the call returns once they
  // have all ended, serving main-thread hand-offs on the main thread.
  void Stop(bool AWaitForStop);
  // A run was started (true until ClearTasks).
  bool Working() const { return FWorking; }
  bool Paused() const { return FPaused; }
  // Every task of the run has ended.
  bool Terminated() const { return FTerminated; }

  // ---- Properties -----------------------------------------------------------
  const std::string& LastErrMsg() const { return FLastErrMsg; }
  probe::TFFDecoder* Decoder() const { return FDecoder.get(); }
  void* UserData() const { return FData; }
  void SetUserData(void* AValue) { FData = AValue; }
  bool HaltOnInvalidOption() const { return FHaltOnInvalidOption; }
  void SetHaltOnInvalidOption(bool AValue) { FHaltOnInvalidOption = AValue; }
  // Both apply to every task, also while it runs, and to tasks added later.
  // Preview: a preview window (not in this build: nothing is shown).
  // PreviewBitmap: OnPreviewBitmap receives encoded pictures.
  bool Preview() const { return FPreview; }
  void SetPreview(bool AValue);
  bool PreviewBitmap() const { return FPreviewBitmap; }
  void SetPreviewBitmap(bool AValue);
  // Milliseconds between progress reports; never below 100.
  std::int32_t ProgressInterval() const { return FProgressInterval; }
  void SetProgressInterval(std::int32_t AValue);
  TThreadPriority ThreadPriority() const { return FThreadPriority; }
  void SetThreadPriority(TThreadPriority AValue) { FThreadPriority = AValue; }
  bool TriggerEventInMainThread() const { return FTriggerEventInMainThread; }
  void SetTriggerEventInMainThread(bool AValue) { FTriggerEventInMainThread = AValue; }

  // ---- Events (set them while no run is on) ------------------------------
  TProgressEvent OnProgress;
  TTerminateEvent OnTerminate;
  TBeforeFindStreamInfoEvent OnBeforeFindStreamInfo;
  TVideoHookEvent OnVideoInputHook;
  TVideoHookEvent OnVideoOutputHook;
  TFrameHookEvent OnFrameInputHook;
  TFrameHookEvent OnFrameOutputHook;
  TPreviewBitmapEvent OnPreviewBitmap;
  TAudioHookEvent OnAudioHook;

 protected:
  // Dispatchers of the tasks' engine events.
  virtual void DoVideoInputHook(TFFmpeg* ATask, platform::TBitmap& ABitmap, int AFrameNumber, std::int64_t APTS,
                                bool& AUpdate, bool& AStopHook);
  virtual void DoVideoOutputHook(TFFmpeg* ATask, platform::TBitmap& ABitmap, int AFrameNumber, std::int64_t APTS,
                                 bool& AUpdate, bool& AStopHook);
  virtual void DoFrameInputHook(TFFmpeg* ATask, AVFrame* APicture, AVPixelFormat APixFmt, int AFrameNumber,
                                int AWidth, int AHeight, std::int64_t APTS);
  virtual void DoFrameOutputHook(TFFmpeg* ATask, AVFrame* APicture, AVPixelFormat APixFmt, int AFrameNumber,
                                 int AWidth, int AHeight, std::int64_t APTS);
  virtual void DoPreviewBitmap(TFFmpeg* ATask, platform::TBitmap& ABitmap, int AFrameNumber, std::int64_t APTS);
  virtual void DoProgress(TFFmpeg* ATask, std::int32_t AFileIndex, std::int32_t AFrameNumber, std::int32_t AFPS,
                          float AQuality, float ABitRate, std::int64_t ACurrentSize, std::int64_t ACurrentDuration,
                          std::int64_t ATotalDuration);
  virtual void DoTerminate(TFFmpeg* ATask);
  void DoBeforeFindStreamInfo(TFFmpeg* ATask, AVFormatContext* AFormatContext);
  void DoAudioHook(TFFmpeg* ATask, std::int64_t APTS, std::uint8_t* ASample, int ASize, int ASampleRate,
                   int AChannels, AVSampleFormat ASampleFormat);

 private:
  // Raises std::runtime_error("Cannot <AOperation> while working.") while
  // a run is on.
  void CheckWorking(const char* AOperation) const;
  // The building steps; exceptions are left to the public forms.
  int OpenTaskInput(TFFmpeg* ATask, const std::string& AFileName, PInputOptions AOptions);
  int OpenTaskOutput(TFFmpeg* ATask, const std::string& AFileName, POutputOptions AOptions);
  // Runs AOpen; on a failure or an exception keeps the text in LastErrMsg,
  // runs AUndo and drops the options parsed for that file. AOpen's result,
  // or -1 after an exception.
  int OpenOrUndo(TFFmpeg* ATask, const std::function<int()>& AOpen, const std::function<void()>& AUndo);
  void ConnectRunEvents(TFFmpeg* ATask);
  void DispatchVideoHook(const TVideoHookEvent& AEvent, TFFmpeg* ATask, platform::TBitmap& ABitmap, int AFrameNumber,
                         std::int64_t APTS, bool& AUpdate, bool& AStopHook);
  // The task's post-hook set with Preview and PreviewBitmap applied.
  void ApplyPreviewSettings(TFFmpeg* ATask) const;
  void DispatchFrameHook(const TFrameHookEvent& AEvent, TFFmpeg* ATask, AVFrame* APicture, AVPixelFormat APixFmt,
                         int AFrameNumber, int AWidth, int AHeight, std::int64_t APTS);
  // Runs fn on the main thread when TriggerEventInMainThread, else here.
  void Deliver(const std::function<void()>& fn) const;

  void StartNextTask();
  void AllTasksDone();
  // Hands one termination record to a delivery thread (FTerminateLock held).
  void DeliverTerminateInThread(const TTerminateInfo& AInfo, bool AWaitForTaskEvents);
  // True when an OnTerminate call may happen right here: on the thread
  // that runs the tasks of Start(0), and no task event is still on its way.
  bool CanDeliverTerminateHere() const;
  // Serves main-thread hand-offs (on the main thread) until every
  // delivery thread is done, then joins them.
  void WaitForDeliveries();
  // Joins the delivery threads that are done (FTerminateLock held).
  void PruneDeliveryThreads();

  std::string FLastErrMsg;
  void* FData = nullptr;
  bool FHaltOnInvalidOption = true;
  bool FPreview = false;
  bool FPreviewBitmap = false;
  // Read by the workers when they start the next task or deliver.
  std::atomic<std::int32_t> FProgressInterval{500};
  std::atomic<TThreadPriority> FThreadPriority{engine::tpNormal};
  std::atomic<bool> FTriggerEventInMainThread{true};

  TProgressInfo FProgressInfo;
  TTerminateInfo FTerminateInfo;
  TFrameHookInfo FFrameHookInfo;
  THookInfo FVideoHookInfo;
  TPreviewInfo FPreviewInfo;

  std::mutex FProgressLock;
  // Recursive: in Start(0) the terminate handler runs under it and may
  // call Stop, and a task that cannot start ends inside StartNextTask.
  std::recursive_mutex FTerminateLock;
  std::mutex FFrameHookLock;
  std::mutex FVideoHookLock;
  std::mutex FPreviewLock;
  std::mutex FFindStreamLock;
  std::mutex FAudioHookLock;

  // Task events handed to delivery threads and not yet delivered; the
  // final event waits for 0. Guarded by FTerminateLock: the threads list.
  std::atomic<int> FPendingDeliveries{0};
  std::vector<std::unique_ptr<TDoTerminateThread>> FDeliveryThreads;

  std::unique_ptr<probe::TFFDecoder> FDecoder;
  TFFmpegList FFFmpegList;

  std::atomic<std::int32_t> FCompleteTasks{0};
  std::atomic<std::int32_t> FCurrentTask{-1};
  std::atomic<std::int32_t> FPendingTasks{0};
  std::atomic<bool> FTerminated{false};
  std::atomic<bool> FThreadMode{false};
  std::atomic<bool> FWorking{false};
  std::atomic<bool> FPaused{false};
  std::thread::id FStartThread;  // the caller of Start
  // Start(0) delivers the final event itself once the last task has
  // returned, so that its handler may free the tasks.
  bool FFinalPending = false;
};

// The published component.
class TFFEncoder : public TCustomEncoder {
 public:
  TFFEncoder() = default;
};

}  // namespace encoder
