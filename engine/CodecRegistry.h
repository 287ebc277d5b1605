#pragma once
// A list of the streams whose codec is open, so that every opened codec is
// closed whatever ends the run. The registries of all engines share one
// process-wide lock: any thread may add, remove or close.
#include <list>
#include <mutex>
#include <utility>

namespace engine {

std::mutex& CodecRegistryLock();

template <typename T>
class TCodecRegistry {
 public:
  // New items go to the head.
  void Add(T* item) {
    std::lock_guard guard(CodecRegistryLock());
    FItems.push_front(item);
  }
  // Forgets the item (its codec was closed by the caller); an item that is
  // not registered changes nothing.
  void Remove(T* item) {
    std::lock_guard guard(CodecRegistryLock());
    for (auto it = FItems.begin(); it != FItems.end(); ++it) {
      if (*it == item) {
        FItems.erase(it);
        return;
      }
    }
  }
  // Empties the list and calls close for every item it held, head first.
  // close runs outside the lock, so it may touch other registries.
  template <typename Close>
  void CloseAll(Close close) {
    std::list<T*> items;
    {
      std::lock_guard guard(CodecRegistryLock());
      items.swap(FItems);
    }
    for (T* item : items) close(*item);
  }
  bool Empty() const {
    std::lock_guard guard(CodecRegistryLock());
    return FItems.empty();
  }

 private:
  std::list<T*> FItems;
};

}  // namespace engine
