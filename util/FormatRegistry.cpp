#include "util/FormatRegistry.h"

#include <cstring>
#include <mutex>

#include "ffbind/AVFormatStubs.h"

namespace ffutil {
namespace {

std::mutex gLock;
std::vector<const AVInputFormat*> gFormats;

const AVInputFormat* FindOwnLocked(const char* name) {
  for (const AVInputFormat* f : gFormats)
    if (std::strcmp(f->name, name) == 0) return f;
  return nullptr;
}

}  // namespace

void RegisterInputFormat(const AVInputFormat* format) {
  std::lock_guard guard(gLock);
  if (!FindOwnLocked(format->name)) gFormats.push_back(format);
}

const AVInputFormat* FindInputFormat(const std::string& name) {
  {
    std::lock_guard guard(gLock);
    if (const AVInputFormat* own = FindOwnLocked(name.c_str())) return own;
  }
  return ff::av_find_input_format ? ff::av_find_input_format(name.c_str()) : nullptr;
}

std::vector<const AVInputFormat*> OwnInputFormats() {
  std::lock_guard guard(gLock);
  return gFormats;
}

}  // namespace ffutil
