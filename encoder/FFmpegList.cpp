#include "encoder/FFmpegList.h"

#include <stdexcept>
#include <string>
#include <utility>

namespace encoder {

int TFFmpegList::Add(std::unique_ptr<TFFmpeg> ATask) {
  FItems.push_back(std::move(ATask));
  return Count() - 1;
}

void TFFmpegList::Clear() {
  // Taken out first, so that the list is already empty while each task's
  // destruction waits for its worker.
  std::vector<std::unique_ptr<TFFmpeg>> items = std::move(FItems);
  FItems.clear();
  for (auto& task : items) task.reset();
}

void TFFmpegList::Delete(int Index) {
  CheckIndex(Index);
  std::unique_ptr<TFFmpeg> task = std::move(FItems[Index]);
  FItems.erase(FItems.begin() + Index);
}

void TFFmpegList::Exchange(int Index1, int Index2) {
  CheckIndex(Index1);
  CheckIndex(Index2);
  std::swap(FItems[Index1], FItems[Index2]);
}

TFFmpeg* TFFmpegList::Get(int Index) const {
  CheckIndex(Index);
  return FItems[Index].get();
}

int TFFmpegList::IndexOf(const TFFmpeg* ATask) const {
  for (int i = 0; i < Count(); ++i)
    if (FItems[i].get() == ATask) return i;
  return -1;
}

void TFFmpegList::PauseAll() {
  for (auto& task : FItems) task->Pause();
}

void TFFmpegList::ResumeAll() {
  for (auto& task : FItems) task->Resume();
}

void TFFmpegList::StopAll(bool AWaitForStop) {
  for (auto& task : FItems) task->Cancel(AWaitForStop);
}

void TFFmpegList::CheckIndex(int Index) const {
  if (Index < 0 || Index >= Count())
    throw std::out_of_range("List index out of bounds (" + std::to_string(Index) + ")");
}

}  // namespace encoder
