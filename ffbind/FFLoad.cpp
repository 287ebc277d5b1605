#include "ffbind/FFLoad.h"

#include <cctype>
#include <cfenv>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <stdexcept>
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
#include "platform/TextFormat.h"

namespace ffbind {
namespace {

using platform::Format;

std::string DlErrorText() {
  const char* text = dlerror();
  return text ? text : "unknown error";
}

using TVersionEntry = unsigned (*)();

// Fixed description of one library. Fixup binds Entries in order (all
// mandatory), refuses another major version than the headers', then runs
// Register; Unfix runs Unregister and clears the entries.
struct TLibraryItem {
  TLibrary Lib;
  const char* Name;
  bool SysLib;  // never looked for in LibraryPath
  int Version;  // major version in the file name; negative: none
  const TEntryTable* Entries;
  TVersionEntry* VersionEntry;  // slot of <name>_version, or nullptr
  void (*Register)();
  void (*Unregister)();
};

const TLibraryItem kLibraries[kLibraryCount] = {
    {avCodec, "avcodec", false, LIBAVCODEC_VERSION_MAJOR, &kAVCodecEntries, &ff::avcodec_version, nullptr, nullptr},
    {avDevice, "avdevice", false, LIBAVDEVICE_VERSION_MAJOR, &kAVDeviceEntries, &ff::avdevice_version,
     [] { ff::avdevice_register_all(); }, nullptr},
    {avFilter, "avfilter", false, LIBAVFILTER_VERSION_MAJOR, &kAVFilterEntries, &ff::avfilter_version, nullptr,
     nullptr},
    {avFormat, "avformat", false, LIBAVFORMAT_VERSION_MAJOR, &kAVFormatEntries, &ff::avformat_version,
     [] { ff::avformat_network_init(); }, [] { ff::avformat_network_deinit(); }},
    {avUtil, "avutil", false, LIBAVUTIL_VERSION_MAJOR, &kAVUtilEntries, &ff::avutil_version, nullptr, nullptr},
    {swResample, "swresample", false, LIBSWRESAMPLE_VERSION_MAJOR, &kSwResampleEntries, &ff::swresample_version,
     nullptr, nullptr},
    {swScale, "swscale", false, LIBSWSCALE_VERSION_MAJOR, &kSwScaleEntries, &ff::swscale_version, nullptr, nullptr},
    {myUtil, "c", true, 6, &kMyUtilEntries, nullptr, nullptr, nullptr},
};

void ClearEntries(const TLibraryItem& item) {
  for (const TEntryBinding& row : *item.Entries) *row.Slot = nullptr;
}

// Binds every entry in order; the first missing one ends the binding.
void BindEntries(const TLibraryItem& item, const std::string& libName, void* handle) {
  for (const TEntryBinding& row : *item.Entries) {
    dlerror();
    void* address = dlsym(handle, row.Name);
    if (!address) {
      const char* fmt = row.Kind == TEntryKind::Function ? "Load function %s@%s error: %s"
                                                         : "Load variable %s@%s error: %s";
      throw std::runtime_error(Format(fmt, row.Name, libName.c_str(), DlErrorText().c_str()));
    }
    *row.Slot = address;
  }
}

// The headers fix the interface generation: a library of another major
// version would misread every record the system shares with it.
void CheckMajorVersion(const TLibraryItem& item, const std::string& libName) {
  if (!item.VersionEntry) return;
  const unsigned major = (*item.VersionEntry)() >> 16;
  if (major != static_cast<unsigned>(item.Version))
    throw std::runtime_error(Format("Library %s has major version %u, but this program needs version %d", libName.c_str(),
                                    major, item.Version));
}

void Fixup(const TLibraryItem& item, const std::string& libName, void* handle) {
  BindEntries(item, libName, handle);
  CheckMajorVersion(item, libName);
  if (item.Register) item.Register();
}

void Unfix(const TLibraryItem& item) {
  if (item.Unregister) item.Unregister();
  ClearEntries(item);
}

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

// Makes a folder the current directory and brings the previous one back
// when it goes out of scope, whatever happens in between.
class TCurrentDirectory {
 public:
  explicit TCurrentDirectory(const std::string& folder) : FSaved(::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    if (::chdir(folder.c_str()) != 0) { /* still loads: the library is opened by full path */ }
  }
  ~TCurrentDirectory() {
    if (FSaved < 0) return;
    if (::fchdir(FSaved) != 0) { /* the previous directory is gone; nothing to go back to */ }
    ::close(FSaved);
  }
  TCurrentDirectory(const TCurrentDirectory&) = delete;
  TCurrentDirectory& operator=(const TCurrentDirectory&) = delete;

 private:
  int FSaved;
};

// The library's own dependencies may sit next to it: the folder joins PATH
// once, for the life of the process. Case is ignored, as the check is
// about "already there" rather than exact spelling.
void AddToPath(const std::string& folder) {
  const char* oldPath = std::getenv("PATH");
  const std::string path = oldPath ? oldPath : "";
  if (Upper(path).find(Upper(folder)) != std::string::npos) return;
  // An empty PATH element would mean the current directory: none is added.
  const std::string newPath = path.empty() ? folder : folder + ":" + path;
  ::setenv("PATH", newPath.c_str(), 1);
}

// Loads folder + file by full path when that file exists (with the folder
// as current directory and on PATH), else file by bare name through the
// system search order. On failure errorText receives the reason.
// The code stays mapped after dlclose: the libraries and theirs keep
// process-wide state (caches, atexit handlers, helper threads) that must not
// point into unmapped memory. Unloading still drops the handle and entries.
void* LoadLibraryFromPath(const std::string& folder, const std::string& file, std::string& errorText) {
  void* handle = nullptr;
  const std::string full = WithSeparator(folder) + file;
  dlerror();
  if (!folder.empty() && FileExists(full)) {
    TCurrentDirectory inFolder(folder);
    AddToPath(folder);
    handle = dlopen(full.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  } else {
    handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  }
  if (!handle) errorText = DlErrorText();
  return handle;
}

// Hooks that run on every successful Load of a library, also when it was
// bound before the call.
void AfterLoad(const TFFLoader& loader, TLibrary lib) {
  if (lib == avUtil && loader.InstallLogger) fflog::GetLogger()->InstallAVLogCallback();
}

}  // namespace

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
    const std::string ownFolder = FolderOf(name);
    std::string folder = ownFolder;
    if (folder.empty() && !state.LibraryPath.empty() && !item.SysLib) folder = WithSeparator(state.LibraryPath);
    const std::string file = name.substr(ownFolder.size());
    std::string errorText;
    status.Handle = LoadLibraryFromPath(folder, file, errorText);
    if (!status.Handle) {
      state.LastErrMsg = Format("Load library %s error: %s", (folder + file).c_str(), errorText.c_str());
      return false;
    }
  }
  if (!status.Fixuped) {
    try {
      Fixup(item, GetLibraryName(lib), status.Handle);
      status.Fixuped = true;
    } catch (const std::exception& e) {
      state.LastErrMsg = e.what();
      // Entries bound before the failure would point into a freed module.
      ClearEntries(item);
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
    Unfix(kLibraries[lib]);
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
      throw std::runtime_error(Format("Library %s not loaded.", kLibraries[lib].Name));
  }
}

std::string TFFLoader::ModuleFileName(TLibrary lib) const {
  if (!Loaded(lib)) return "";
  link_map* map = nullptr;
  if (dlinfo(State().Status[lib].Handle, RTLD_DI_LINKMAP, &map) != 0 || !map || !map->l_name) return "";
  return map->l_name;
}

unsigned TFFLoader::RuntimeVersion(TLibrary lib) const {
  const TLibraryItem& item = kLibraries[lib];
  return Loaded(lib) && item.VersionEntry ? (*item.VersionEntry)() : 0;
}

std::string TFFLoader::LastErrMsg() const { return State().LastErrMsg; }
std::string TFFLoader::LibraryPath() const { return State().LibraryPath; }
void TFFLoader::SetLibraryPath(const std::string& path) { State().LibraryPath = path; }

constinit TFFLoader FFLoader;

namespace {

// Library code runs with every floating-point exception masked; the
// environment the process started with comes back at exit, and the
// libraries are released then.
struct TProcessLifetime {
  std::fenv_t Saved{};
  TProcessLifetime() {
    // Constructed first so that it is destroyed after the unload below.
    State();
    std::fegetenv(&Saved);
    fedisableexcept(FE_ALL_EXCEPT);
  }
  ~TProcessLifetime() {
    std::fesetenv(&Saved);
    FFLoader.Unload(kEncoderLibraries);
  }
};

TProcessLifetime gProcessLifetime;

}  // namespace

std::string ProgramFolder() {
  char buf[4096];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return "./";
  return FolderOf(std::string(buf, static_cast<std::size_t>(n)));
}

}  // namespace ffbind
