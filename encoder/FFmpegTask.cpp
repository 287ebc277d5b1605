#include "encoder/FFmpegTask.h"

#include <stdexcept>

namespace encoder {

TFFmpeg::~TFFmpeg() {
  // The worker may still be inside one of the events below; the engine part
  // would only wait for it after they are gone.
  Stop(true);
  OnProgress = nullptr;
  OnTerminate = nullptr;
  FOnBeforeFindStreamInfo = nullptr;
  FOnInputFrameHook = nullptr;
  FOnOutputFrameHook = nullptr;
  FOnInputVideoHook = nullptr;
  FOnOutputVideoHook = nullptr;
  FOnPreviewBitmap = nullptr;
  FOnAudioHook = nullptr;
  // The probes borrow the engine's contexts: they go first.
  FDecoders.clear();
  FInputOptions.clear();
  FOutputOptions.clear();
}

template <typename T>
T& TFFmpeg::RecordAt(std::vector<std::unique_ptr<T>>& records, int index) {
  if (index < 0) throw std::out_of_range("Invalid file index " + std::to_string(index));
  if (records.size() <= static_cast<std::size_t>(index)) records.resize(index + 1);
  if (!records[index]) records[index] = std::make_unique<T>();
  return *records[index];
}

probe::TFFDecoder* TFFmpeg::GetDecoder(int FileIndex) { return &RecordAt(FDecoders, FileIndex); }

probe::TFFDecoder* TFFmpeg::Decoder(int FileIndex) const {
  if (FileIndex < 0 || static_cast<std::size_t>(FileIndex) >= FDecoders.size() || !FDecoders[FileIndex])
    throw std::out_of_range("No decoder for file index " + std::to_string(FileIndex));
  return FDecoders[FileIndex].get();
}

void TFFmpeg::DetachDecoders() {
  for (auto& decoder : FDecoders)
    if (decoder) decoder->SetFileHandle(nullptr);
}

TInputOptions TFFmpeg::GetInputOptions(int FileIndex) { return RecordAt(FInputOptions, FileIndex); }

void TFFmpeg::SetInputOptions(int FileIndex, const TInputOptions& Value) {
  RecordAt(FInputOptions, FileIndex) = Value;
}

void TFFmpeg::ResetInputOptions(int FileIndex) { InitInputOptions(&RecordAt(FInputOptions, FileIndex)); }

TOutputOptions TFFmpeg::GetOutputOptions(int FileIndex) { return RecordAt(FOutputOptions, FileIndex); }

void TFFmpeg::SetOutputOptions(int FileIndex, const TOutputOptions& Value) {
  RecordAt(FOutputOptions, FileIndex) = Value;
}

void TFFmpeg::ResetOutputOptions(int FileIndex) { InitOutputOptions(&RecordAt(FOutputOptions, FileIndex)); }

AVFormatContext* TFFmpeg::InputFileContext(int FileIndex) const {
  if (FileIndex < 0 || FileIndex >= InputCount()) return nullptr;
  return Finput_files[FileIndex].ctx.get();
}

void TFFmpeg::SetTimeouts(std::int32_t AReadTimeout, std::int32_t AWriteTimeout) {
  FReadTimeout = AReadTimeout;
  FWriteTimeout = AWriteTimeout;
}

}  // namespace encoder
