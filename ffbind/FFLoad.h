#pragma once
// Run-time loader of the FFmpeg libraries and the system C library. One
// process-wide instance, FFLoader; every component loads and tests the
// libraries through it. Loading, unloading and name changes happen on the
// main thread; the entry tables are then read from any thread.
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

class TFFLoader {
 public:
  TFFLoader();

  // File name loading will use: the replacement name unchanged, else the
  // platform's default ("libavcodec.so.59", "libc.so.6", ...).
  std::string GetLibraryName(TLibrary lib) const;
  // Unloads the library, then stores the replacement name ("" = default).
  void SetLibraryName(TLibrary lib, const std::string& name);

  // True when the library is bound; on failure LastErrMsg() says why.
  bool Load(TLibrary lib);
  // All or nothing: the first failure unloads the whole set.
  bool Load(TLibraries libs);
  bool Loaded(TLibrary lib) const;
  bool Loaded(TLibraries libs) const;
  void Unload(TLibrary lib);
  void Unload(TLibraries libs);
  // Throws std::runtime_error("Library %s not loaded.") for the first
  // member (in enumeration order) that is not loaded.
  void CheckLibAV(TLibraries libs) const;

  std::string LastErrMsg() const;
  std::string LibraryPath() const;
  void SetLibraryPath(const std::string& path);

  // When true, loading avutil installs the logger's library log callback.
  bool InstallLogger;
};

extern TFFLoader& FFLoader;

// Folder of the running program, with a trailing "/".
std::string ProgramFolder();

}  // namespace ffbind
