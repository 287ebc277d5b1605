#include "util/FrameHook.h"

#include <dlfcn.h>

#include <map>
#include <mutex>

#include "ffbind/AVUtilStubs.h"

namespace ffutil {
namespace {

// Modules by the path they were named with; never unloaded, so a module
// named again (by another conversion too) is the same module.
void* LoadModule(const std::string& path) {
  static std::mutex lock;
  static std::map<std::string, void*> modules;
  std::lock_guard guard(lock);
  if (auto it = modules.find(path); it != modules.end()) return it->second;
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (!handle) {
    const char* why = ::dlerror();
    ff::av_log(nullptr, AV_LOG_ERROR, "%s\n", why ? why : path.c_str());
    return nullptr;
  }
  modules.emplace(path, handle);
  return handle;
}

template <typename T>
T Symbol(void* module, const char* name) {
  return reinterpret_cast<T>(::dlsym(module, name));
}

}  // namespace

int TFrameHookChain::Add(const std::vector<std::string>& args) {
  if (args.empty()) return -2;
  const std::string& path = args[0];
  void* module = LoadModule(path);
  if (!module) return -1;
  TEntry entry;
  entry.Configure = Symbol<TConfigure>(module, "Configure");
  entry.Process = Symbol<TProcess>(module, "Process");
  entry.Release = Symbol<TRelease>(module, "Release");
  if (!entry.Process) {
    ff::av_log(nullptr, AV_LOG_ERROR, "Failed to find Process entrypoint in %s\n", path.c_str());
    return -2;
  }
  if (!entry.Configure && args.size() > 1) {
    ff::av_log(nullptr, AV_LOG_ERROR, "Failed to find Configure entrypoint in %s\n", path.c_str());
    return -2;
  }
  if (entry.Configure) {
    // The module gets C strings it may keep for the call only.
    std::vector<std::string> copies = args;
    std::vector<char*> argv;
    for (std::string& word : copies) argv.push_back(word.data());
    argv.push_back(nullptr);
    if (entry.Configure(&entry.ctx, static_cast<int>(args.size()), argv.data()) != 0) {
      ff::av_log(nullptr, AV_LOG_ERROR, "Failed to Configure %s\n", path.c_str());
      return -22;
    }
  }
  FEntries.push_back(entry);
  return 0;
}

void TFrameHookChain::Process(TAVPicture* picture, AVPixelFormat format, int width, int height, std::int64_t pts) {
  for (const TEntry& e : FEntries) e.Process(e.ctx, picture, format, width, height, pts);
}

void TFrameHookChain::Release() {
  for (const TEntry& e : FEntries)
    if (e.Release) e.Release(e.ctx);
  FEntries.clear();
}

}  // namespace ffutil
