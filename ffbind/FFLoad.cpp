#include "ffbind/FFLoad.h"

#include <cfenv>
#include <cstring>
#include <dlfcn.h>
#include <stdexcept>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

#include "ffbind/AVCodecStubs.h"
#include "ffbind/AVDeviceStubs.h"
#include "ffbind/AVFilterStubs.h"
#include "ffbind/AVFormatStubs.h"
#include "ffbind/AVUtilStubs.h"
#include "ffbind/MyUtilStubs.h"
#include "ffbind/SwResampleStubs.h"
#include "ffbind/SwScaleStubs.h"
#include "log/FFLog.h"

namespace ffbind {
namespace {

std::string Format(const char* fmt, const std::string& a, const std::string& b) {
  char buf[4096];
  std::snprintf(buf, sizeof buf, fmt, a.c_str(), b.c_str());
  return buf;
}

std::string Format(const char* fmt, const std::string& a, const std::string& b, const std::string& c) {
  char buf[4096];
  std::snprintf(buf, sizeof buf, fmt, a.c_str(), b.c_str(), c.c_str());
  return buf;
}

std::string DlErrorText() {
  const char* text = dlerror();
  return text ? text : "unknown error";
}

// Binds every entry of the table, in order; the first missing one ends it.
void BindEntries(const std::string& libName, void* handle, TEntryTable table) {
  for (const TEntryBinding& row : table) {
    dlerror();
    void* address = dlsym(handle, row.Name);
    if (!address) {
      const char* fmt = row.Kind == TEntryKind::Function ? "Load function %s@%s error: %s"
                                                         : "Load variable %s@%s error: %s";
      throw std::runtime_error(Format(fmt, row.Name, libName, DlErrorText()));
    }
    *row.Slot = address;
  }
}

void ClearEntries(TEntryTable table) {
  for (const TEntryBinding& row : table) *row.Slot = nullptr;
}

// The headers fix the interface generation: a library of another major
// version would misread every record the system shares with it.
void CheckMajorVersion(const std::string& libName, unsigned runtimeVersion, unsigned builtMajor) {
  const unsigned major = runtimeVersion >> 16;
  if (major != builtMajor)
    throw std::runtime_error("Library " + libName + " has major version " + std::to_string(major) +
                             ", this program was built for " + std::to_string(builtMajor));
}

using TFixupProc = void (*)(const std::string& libName, void* handle);
using TUnfixProc = void (*)();

struct TLibraryItem {
  TLibrary Lib;
  const char* Name;
  bool SysLib;
  int Version;
  TFixupProc Fixup;
  TUnfixProc Unfix;
};

const TLibraryItem kLibraries[kLibraryCount] = {
    {avCodec, "avcodec", false, LIBAVCODEC_VERSION_MAJOR,
     [](const std::string& n, void* h) {
       BindEntries(n, h, kAVCodecEntries);
       CheckMajorVersion(n, ff::avcodec_version(), LIBAVCODEC_VERSION_MAJOR);
     },
     [] { ClearEntries(kAVCodecEntries); }},
    {avDevice, "avdevice", false, LIBAVDEVICE_VERSION_MAJOR,
     [](const std::string& n, void* h) {
       BindEntries(n, h, kAVDeviceEntries);
       CheckMajorVersion(n, ff::avdevice_version(), LIBAVDEVICE_VERSION_MAJOR);
       ff::avdevice_register_all();
     },
     [] { ClearEntries(kAVDeviceEntries); }},
    {avFilter, "avfilter", false, LIBAVFILTER_VERSION_MAJOR,
     [](const std::string& n, void* h) {
       BindEntries(n, h, kAVFilterEntries);
       CheckMajorVersion(n, ff::avfilter_version(), LIBAVFILTER_VERSION_MAJOR);
     },
     [] { ClearEntries(kAVFilterEntries); }},
    {avFormat, "avformat", false, LIBAVFORMAT_VERSION_MAJOR,
     [](const std::string& n, void* h) {
       BindEntries(n, h, kAVFormatEntries);
       CheckMajorVersion(n, ff::avformat_version(), LIBAVFORMAT_VERSION_MAJOR);
       ff::avformat_network_init();
     },
     [] {
       if (ff::avformat_network_deinit) ff::avformat_network_deinit();
       ClearEntries(kAVFormatEntries);
     }},
    {avUtil, "avutil", false, LIBAVUTIL_VERSION_MAJOR,
     [](const std::string& n, void* h) {
       BindEntries(n, h, kAVUtilEntries);
       CheckMajorVersion(n, ff::avutil_version(), LIBAVUTIL_VERSION_MAJOR);
     },
     [] { ClearEntries(kAVUtilEntries); }},
    {swResample, "swresample", false, LIBSWRESAMPLE_VERSION_MAJOR,
     [](const std::string& n, void* h) {
       BindEntries(n, h, kSwResampleEntries);
       CheckMajorVersion(n, ff::swresample_version(), LIBSWRESAMPLE_VERSION_MAJOR);
     },
     [] { ClearEntries(kSwResampleEntries); }},
    {swScale, "swscale", false, LIBSWSCALE_VERSION_MAJOR,
     [](const std::string& n, void* h) {
       BindEntries(n, h, kSwScaleEntries);
       CheckMajorVersion(n, ff::swscale_version(), LIBSWSCALE_VERSION_MAJOR);
     },
     [] { ClearEntries(kSwScaleEntries); }},
    {myUtil, "c", true, 6, [](const std::string& n, void* h) { BindEntries(n, h, kMyUtilEntries); },
     [] { ClearEntries(kMyUtilEntries); }},
};

struct TLibraryStatus {
  std::string Name;  // replacement file name; empty = default
  void* Handle = nullptr;
  bool Fixuped = false;
};

// Process-level loading state, shared by every TFFLoader.
struct TLoaderState {
  TLibraryStatus Status[kLibraryCount];
  std::string LastErrMsg;
  std::string LibraryPath;
};

TLoaderState& State() {
  static TLoaderState state;
  return state;
}

std::string FolderOf(const std::string& name) {
  const auto slash = name.rfind('/');
  return slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
}

std::string WithSeparator(std::string folder) {
  if (!folder.empty() && folder.back() != '/') folder += '/';
  return folder;
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

// Loads from the folder when the file is there (the folder joins PATH once
// and is the current directory while loading), else by bare name through
// the system search order. On failure errorText receives the reason.
void* LoadLibraryFromPath(const std::string& folder, const std::string& file, std::string& errorText) {
  void* handle = nullptr;
  const std::string full = WithSeparator(folder) + file;
  if (!folder.empty() && FileExists(full)) {
    char* saved = ::getcwd(nullptr, 0);
    if (::chdir(folder.c_str()) != 0) { /* loading by full path still works */ }
    const char* oldPath = std::getenv("PATH");
    const std::string path = oldPath ? oldPath : "";
    if (Upper(path).find(Upper(folder)) == std::string::npos)
      ::setenv("PATH", (folder + ":" + path).c_str(), 1);
    dlerror();
    handle = dlopen(full.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) errorText = DlErrorText();
    if (saved) {
      if (::chdir(saved) != 0) { /* nothing sensible left to do */ }
      std::free(saved);
    }
  } else {
    dlerror();
    handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) errorText = DlErrorText();
  }
  return handle;
}

// Hooks that run on every successful Load of a library.
void AfterLoad(const TFFLoader& loader, TLibrary lib) {
  if (lib == avUtil && loader.InstallLogger) fflog::GetLogger()->InstallAVLogCallback();
}

// Floating-point environment of the process: library code runs with every
// floating-point exception masked; the caller's environment comes back at
// exit, after the libraries are unloaded.
struct TProcessLifetime {
  std::fenv_t saved{};
  TProcessLifetime() {
    std::fegetenv(&saved);
    fedisableexcept(FE_ALL_EXCEPT);
  }
  ~TProcessLifetime() {
    std::fesetenv(&saved);
    TFFLoader finaliser;
    finaliser.Unload(kEncoderLibraries);
  }
};

}  // namespace

TFFLoader::TFFLoader() : InstallLogger(true) {}

std::string TFFLoader::GetLibraryName(TLibrary lib) const {
  const TLibraryStatus& status = State().Status[lib];
  if (!status.Name.empty()) return status.Name;
  const TLibraryItem& item = kLibraries[lib];
  std::string name = std::string("lib") + item.Name + ".so";
  if (item.Version >= 0) name += "." + std::to_string(item.Version);
  return name;
}

void TFFLoader::SetLibraryName(TLibrary lib, const std::string& name) {
  Unload(lib);
  State().Status[lib].Name = name;
}

bool TFFLoader::Load(TLibrary lib) {
  TLoaderState& state = State();
  TLibraryStatus& status = state.Status[lib];
  const TLibraryItem& item = kLibraries[lib];
  if (!status.Handle) {
    const std::string name = GetLibraryName(lib);
    std::string folder = FolderOf(name);
    if (folder.empty() && !state.LibraryPath.empty() && !item.SysLib) folder = WithSeparator(state.LibraryPath);
    const std::string file = name.substr(FolderOf(name).size());
    std::string errorText;
    status.Handle = LoadLibraryFromPath(folder, file, errorText);
    if (!status.Handle) {
      state.LastErrMsg = Format("Load library %s error: %s", folder + file, errorText);
      return false;
    }
  }
  if (!status.Fixuped) {
    try {
      item.Fixup(GetLibraryName(lib), status.Handle);
      status.Fixuped = true;
    } catch (const std::exception& e) {
      state.LastErrMsg = e.what();
    }
  }
  if (!status.Fixuped) {
    Unload(lib);
    return false;
  }
  AfterLoad(*this, lib);
  return true;
}

bool TFFLoader::Load(TLibraries libs) {
  if (libs.Empty()) throw std::logic_error("Empty library set");
  for (int i = 0; i < kLibraryCount; ++i) {
    const auto lib = static_cast<TLibrary>(i);
    if (libs.Contains(lib) && !Load(lib)) {
      Unload(libs);
      return false;
    }
  }
  return true;
}

bool TFFLoader::Loaded(TLibrary lib) const {
  const TLibraryStatus& status = State().Status[lib];
  return status.Handle && status.Fixuped;
}

bool TFFLoader::Loaded(TLibraries libs) const {
  if (libs.Empty()) throw std::logic_error("Empty library set");
  for (int i = 0; i < kLibraryCount; ++i)
    if (libs.Contains(static_cast<TLibrary>(i)) && !Loaded(static_cast<TLibrary>(i))) return false;
  return true;
}

void TFFLoader::Unload(TLibrary lib) {
  TLibraryStatus& status = State().Status[lib];
  if (status.Fixuped) {
    kLibraries[lib].Unfix();
    status.Fixuped = false;
  }
  if (status.Handle) {
    dlclose(status.Handle);
    status.Handle = nullptr;
  }
}

void TFFLoader::Unload(TLibraries libs) {
  if (libs.Empty()) throw std::logic_error("Empty library set");
  for (int i = 0; i < kLibraryCount; ++i)
    if (libs.Contains(static_cast<TLibrary>(i))) Unload(static_cast<TLibrary>(i));
}

void TFFLoader::CheckLibAV(TLibraries libs) const {
  for (int i = 0; i < kLibraryCount; ++i) {
    const auto lib = static_cast<TLibrary>(i);
    if (libs.Contains(lib) && !Loaded(lib))
      throw std::runtime_error(std::string("Library ") + kLibraries[lib].Name + " not loaded.");
  }
}

std::string TFFLoader::LastErrMsg() const { return State().LastErrMsg; }
std::string TFFLoader::LibraryPath() const { return State().LibraryPath; }
void TFFLoader::SetLibraryPath(const std::string& path) { State().LibraryPath = path; }

namespace {
TFFLoader& LoaderInstance() {
  static TFFLoader loader;
  return loader;
}
TProcessLifetime gProcessLifetime;
}  // namespace

TFFLoader& FFLoader = LoaderInstance();

std::string ProgramFolder() {
  char buf[4096];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return "./";
  return FolderOf(std::string(buf, static_cast<std::size_t>(n)));
}

}  // namespace ffbind
