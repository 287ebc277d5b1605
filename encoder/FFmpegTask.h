#pragma once
// One task of the encoder: an engine object with its inputs and outputs
// opened, one probe component per opened input and the option records the
// task was built from.
//
// Threads: built, changed and destroyed on the encoder's controlling
// thread; the conversion itself runs on the engine's worker (or the
// caller's thread, see TCustomFFmpeg::StartConvert).
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "encoder/FFEncodeTypes.h"
#include "engine/FFmpeg.h"
#include "probe/FFDecode.h"

namespace encoder {

class TCustomEncoder;

class TFFmpeg : public engine::TCustomFFmpeg {
 public:
  TFFmpeg() = default;
  // Waits for a running conversion to end (serving main-thread hand-offs
  // on the main thread), disconnects the events the encoder set, then
  // frees the probe components and option records.
  ~TFFmpeg() override;

  // The probe component of input FileIndex, created on first use.
  probe::TFFDecoder* GetDecoder(int FileIndex);
  // The probe component of an input that has one; std::out_of_range
  // otherwise.
  probe::TFFDecoder* Decoder(int FileIndex) const;
  // The probe components forget the inputs (freed when a run ends).
  void DetachDecoders();

  // Copies of the stored records; a default record is stored first at an
  // index that has none. A negative index raises std::out_of_range.
  TInputOptions GetInputOptions(int FileIndex);
  void SetInputOptions(int FileIndex, const TInputOptions& Value);
  void ResetInputOptions(int FileIndex);
  TOutputOptions GetOutputOptions(int FileIndex);
  void SetOutputOptions(int FileIndex, const TOutputOptions& Value);
  void ResetOutputOptions(int FileIndex);

  TCustomEncoder* Parent = nullptr;

  // Engine state the encoder sets or reads while it builds and starts the
  // task.
  int InputCount() const { return static_cast<int>(Finput_files.size()); }
  int OutputCount() const { return static_cast<int>(Foutput_files.size()); }
  // The opened input's context; nullptr for an index without input.
  AVFormatContext* InputFileContext(int FileIndex) const;
  void SetHaltOnInvalidOption(bool AValue) { HaltOnInvalidOption = AValue; }
  void SetTimeouts(std::int32_t AReadTimeout, std::int32_t AWriteTimeout);
  std::int64_t ReportIntervalMicroseconds() const { return ReportInterval; }
  void SetReportIntervalMicroseconds(std::int64_t AValue) { ReportInterval = AValue; }
  // Drops the options parsed for a file whose opening failed, so that they
  // cannot apply to the next file.
  void DiscardPendingOptions() { ResetOptionsContext(&optctx, false); }

 private:
  template <typename T>
  static T& RecordAt(std::vector<std::unique_ptr<T>>& records, int index);

  std::vector<std::unique_ptr<probe::TFFDecoder>> FDecoders;
  std::vector<std::unique_ptr<TInputOptions>> FInputOptions;
  std::vector<std::unique_ptr<TOutputOptions>> FOutputOptions;
};

}  // namespace encoder
