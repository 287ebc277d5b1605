#pragma once
// The encoder's ordered list of owned tasks; a task's position is the task
// index of every encoder operation. An index outside the list raises
// std::out_of_range ("List index out of bounds (%d)").
//
// Threads: changed only on the controlling thread while no run is on; the
// workers read it (Get, IndexOf) while a run is on.
#include <memory>
#include <vector>

#include "encoder/FFmpegTask.h"

namespace encoder {

class TFFmpegList {
 public:
  // Appends the task and returns its index.
  int Add(std::unique_ptr<TFFmpeg> ATask);
  // Frees every task (in list order) and empties the list.
  void Clear();
  void Delete(int Index);
  void Exchange(int Index1, int Index2);
  TFFmpeg* Get(int Index) const;
  int IndexOf(const TFFmpeg* ATask) const;  // -1 when absent
  int Count() const { return static_cast<int>(FItems.size()); }

  // The engine operation of the same meaning on every task, in list order.
  void PauseAll();
  void ResumeAll();
  void StopAll(bool AWaitForStop);

 private:
  void CheckIndex(int Index) const;

  std::vector<std::unique_ptr<TFFmpeg>> FItems;
};

}  // namespace encoder
