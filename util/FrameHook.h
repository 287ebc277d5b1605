#pragma once
// Video hook modules: shared objects named by -vhook that export
// "Process" (and optionally "Configure" and "Release") and see every
// decoded picture of a conversion. A module is loaded once per process and
// stays loaded; each chain entry has its own module context.
#include <cstdint>
#include <string>
#include <vector>

#include "ffbind/FFHeaders.h"
#include "util/FormatConverter.h"

namespace ffutil {

class TFrameHookChain {
 public:
  TFrameHookChain() = default;
  ~TFrameHookChain() { Release(); }
  TFrameHookChain(const TFrameHookChain&) = delete;
  TFrameHookChain& operator=(const TFrameHookChain&) = delete;

  // Loads the module named by args[0] and appends an entry configured with
  // all of args (the module first). 0, or: -2 without arguments or when
  // the module lacks "Process" (or "Configure" while it has arguments), -1
  // when it does not load, -22 when its Configure fails; each failure is
  // logged through the libraries' log, and nothing is appended.
  int Add(const std::vector<std::string>& args);
  // Every entry's Process, in order.
  void Process(TAVPicture* picture, AVPixelFormat format, int width, int height, std::int64_t pts);
  // Every entry's Release (when exported), in order; the chain is empty.
  void Release();
  bool Empty() const { return FEntries.empty(); }

 private:
  using TConfigure = int (*)(void** ctx, int argc, char* argv[]);
  using TProcess = void (*)(void* ctx, TAVPicture* picture, int pixFmt, int width, int height, std::int64_t pts);
  using TRelease = void (*)(void* ctx);
  struct TEntry {
    TConfigure Configure = nullptr;
    TProcess Process = nullptr;
    TRelease Release = nullptr;
    void* ctx = nullptr;
  };
  std::vector<TEntry> FEntries;
};

}  // namespace ffutil
