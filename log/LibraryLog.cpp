#include "log/LibraryLog.h"

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "ffbind/FFHeaders.h"
#include "log/FFLog.h"
#include "platform/TextFormat.h"
#include "platform/MainThread.h"

namespace fflog {
namespace {

std::atomic<int> gThreshold{32};
std::atomic<bool> gProgramEnded{false};

struct TLibraryLogState {
  std::mutex Lock;
  // Per thread: text received but not yet ended by a line feed. Entries
  // stay until the program ends.
  std::unordered_map<std::uintptr_t, std::string> Pending;
  std::string Previous;
  int Repeats = 0;
};

// Never destroyed: library threads may still log while statics go away.
TLibraryLogState& State() {
  static auto* state = new TLibraryLogState;
  return *state;
}

struct TEndOfProgram {
  ~TEndOfProgram() {
    TLibraryLogState& s = State();
    std::lock_guard guard(s.Lock);
    gProgramEnded = true;
    std::unordered_map<std::uintptr_t, std::string>().swap(s.Pending);
    std::string().swap(s.Previous);
  }
} gEndOfProgram;

const char* ItemName(const AVClass* cls, void* context) {
  const char* name = cls->item_name ? cls->item_name(context) : cls->class_name;
  return name ? name : "";
}

// "[parent @ 0x...] [item @ 0x...]" for a context that names a parent,
// "[item @ 0x...]" otherwise; nothing for a context without a class.
std::string ContextPrefix(void* context) {
  const AVClass* cls = *static_cast<const AVClass* const*>(context);
  if (!cls) return {};
  std::string prefix;
  if (cls->parent_log_context_offset != 0) {
    void* parent = *reinterpret_cast<void* const*>(static_cast<const char*>(context) + cls->parent_log_context_offset);
    const AVClass* parentClass = parent ? *static_cast<const AVClass* const*>(parent) : nullptr;
    if (parentClass) prefix = platform::Format("[%s @ %p] ", ItemName(parentClass, parent), parent);
  }
  return prefix + platform::Format("[%s @ %p]", ItemName(cls, context), context);
}

// The libraries pass "%s" with a null text for an empty message.
bool IsNullText(const char* fmt, va_list args) {
  if (std::strcmp(fmt, "%s") != 0) return false;
  va_list copy;
  va_copy(copy, args);
  const char* text = va_arg(copy, const char*);
  va_end(copy);
  return text == nullptr;
}

// Joins the message into the thread's pending text under the lock and
// returns the lines it completes, repeat notice first. Delivery happens
// after the lock is left, so that a handler on the main thread (or one that
// makes the libraries log) cannot deadlock against a waiting worker.
std::vector<std::string> CollectLines(std::uintptr_t thread, void* context, const char* fmt, va_list args) {
  std::vector<std::string> lines;
  TLibraryLogState& s = State();
  std::lock_guard guard(s.Lock);
  if (gProgramEnded) return lines;
  std::string& pending = s.Pending[thread];
  std::string text;
  if (context && pending.empty()) text = ContextPrefix(context);
  if (fmt && !IsNullText(fmt, args)) text += platform::FormatV(fmt, args);

  if (!text.empty() && text.back() == '\n' && text == s.Previous) {
    ++s.Repeats;
    return lines;
  }
  // A single repetition goes without a notice.
  if (s.Repeats > 1) lines.push_back(platform::Format("    Last message repeated %d times", s.Repeats));
  s.Repeats = 0;
  s.Previous = text;

  pending += text;
  for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
    lines.push_back(pending.substr(0, end));
    pending.erase(0, end + 1);
  }
  return lines;
}

void HandleLibraryMessage(void* context, int level, const char* fmt, va_list args) {
  if (level >= 0) level &= 0xff;  // the bits above carry a colour tint
  if (level > gThreshold.load(std::memory_order_relaxed)) return;
  const std::uintptr_t thread = platform::CurrentThreadId();
  std::vector<std::string> lines = CollectLines(thread, context, fmt, args);
  if (lines.empty()) return;
  TFFLogger* logger = GetLogger();
  const TLogLevel mapped = LogLevelOfLibrary(level);
  for (std::string& line : lines) {
    // A failing handler costs its own line only; nothing may unwind
    // through the library's C frames.
    try {
      logger->DoLog(TLogInfo{logger, thread, mapped, std::move(line)});
    } catch (...) {
    }
  }
}

}  // namespace

int LibraryThreshold() { return gThreshold.load(std::memory_order_relaxed); }
void SetLibraryThreshold(int level) { gThreshold.store(level, std::memory_order_relaxed); }

void LibraryLogCallback(void* context, int level, const char* fmt, va_list args) noexcept {
  try {
    HandleLibraryMessage(context, level, fmt, args);
  } catch (...) {
    // Out of memory while formatting: the message is lost, the library
    // carries on.
  }
}

}  // namespace fflog
