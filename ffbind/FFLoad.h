#pragma once
// Run-time loader of the FFmpeg libraries and the system C library. One
// process-wide instance, FFLoader; every component loads and tests the
// libraries through it. Loading, unloading and name or path changes happen
// on the main thread (the loader takes no lock); the entry tables are then
// read from any thread.
#include <cstdint>
#include <initializer_list>
#include <string>

namespace ffbind {

// Order fixes the order of loading and unloading.
enum TLibrary { avCodec, avDevice, avFilter, avFormat, avUtil, swResample, swScale, myUtil };
constexpr int kLibraryCount = myUtil + 1;

// Set of libraries, one bit per library (bit number = ordinal).
class TLibraries {
 public:
  constexpr TLibraries() = default;
  constexpr TLibraries(std::initializer_list<TLibrary> libs) {
    for (TLibrary lib : libs) FBits |= 1u << lib;
  }
  constexpr bool Contains(TLibrary lib) const { return (FBits >> lib) & 1u; }
  constexpr bool Empty() const { return FBits == 0; }

 private:
  std::uint32_t FBits = 0;
};

inline constexpr TLibraries kEncoderLibraries{avCodec, avDevice, avFilter, avFormat,
                                              avUtil,  swResample, swScale, myUtil};
inline constexpr TLibraries kDecoderLibraries{avCodec, avFormat, avUtil, swResample, swScale, myUtil};

// All loading state is process-wide and shared by every instance; an
// instance only carries InstallLogger.
class TFFLoader {
 public:
  constexpr TFFLoader() = default;

  // File name loading will use: the replacement name unchanged, else
  // "lib<name>.so.<major>" ("libavcodec.so.59", ..., "libc.so.6").
  std::string GetLibraryName(TLibrary lib) const;
  // Unloads the library, then stores the replacement name ("" = default).
  // A folder inside the replacement wins over LibraryPath.
  void SetLibraryName(TLibrary lib, const std::string& name);

  // Loads, binds every entry and runs the library's registration. True
  // when the library is bound; on failure LastErrMsg() says why and the
  // library is left unloaded. Loading a bound library binds nothing again.
  bool Load(TLibrary lib);
  // All or nothing, in enumeration order: the first failure unloads every
  // member of the set, also those bound before this call. The set must not
  // be empty (std::logic_error).
  bool Load(TLibraries libs);
  bool Loaded(TLibrary lib) const;
  bool Loaded(TLibraries libs) const;
  // Releases at once, whoever else relies on the library (no counting).
  void Unload(TLibrary lib);
  void Unload(TLibraries libs);
  // Throws std::runtime_error("Library <name> not loaded.") for the first
  // member (in enumeration order) that is not loaded.
  void CheckLibAV(TLibraries libs) const;

  // Path of the file the loaded library actually came from; "" when not
  // loaded.
  std::string ModuleFileName(TLibrary lib) const;
  // Version the loaded library reports (major << 16 | minor << 8 | micro);
  // 0 when it is not loaded or has no version entry (libc).
  unsigned RuntimeVersion(TLibrary lib) const;

  std::string LastErrMsg() const;
  std::string LibraryPath() const;
  // Folder searched first for the FFmpeg libraries (never for libc).
  void SetLibraryPath(const std::string& path);

  // When true, every successful load of avutil installs the logger's
  // library log callback.
  bool InstallLogger = true;
};

extern constinit TFFLoader FFLoader;

// Folder of the running program, with a trailing "/".
std::string ProgramFolder();

}  // namespace ffbind
