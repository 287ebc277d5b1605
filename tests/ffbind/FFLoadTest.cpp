#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include "ffbind/AVCodecStubs.h"
#include "ffbind/AVDeviceStubs.h"
#include "ffbind/AVFormatStubs.h"
#include "ffbind/AVUtilStubs.h"
#include "ffbind/FFLoad.h"
#include "ffbind/MyUtilStubs.h"
#include "ffbind/SwScaleStubs.h"

namespace {

using namespace ffbind;
namespace fs = std::filesystem;

// Fresh temporary folder, removed with everything in it.
class TTempFolder {
 public:
  TTempFolder() {
    std::string pattern = (fs::temp_directory_path() / "ffbind-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    FPath = pattern;
  }
  ~TTempFolder() { fs::remove_all(FPath); }
  const fs::path& Path() const { return FPath; }
  std::string Slashed() const { return FPath.string() + "/"; }

 private:
  fs::path FPath;
};

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

std::string CurrentPath() { return std::getenv("PATH") ? std::getenv("PATH") : ""; }

class FFLoadTest : public ::testing::Test {
 protected:
  void SetUp() override { Reset(); }
  void TearDown() override {
    Reset();
    ::setenv("PATH", FSavedPath.c_str(), 1);
  }
  static void Reset() {
    for (int i = 0; i < kLibraryCount; ++i) FFLoader.SetLibraryName(static_cast<TLibrary>(i), "");
    FFLoader.SetLibraryPath("");
  }
  // Where the system keeps the real libavutil (found through the loader).
  static std::string RealAVUtil() {
    EXPECT_TRUE(FFLoader.Load(avUtil)) << FFLoader.LastErrMsg();
    const std::string file = FFLoader.ModuleFileName(avUtil);
    FFLoader.Unload(avUtil);
    return file;
  }

  const std::string FSavedPath = CurrentPath();
};

TEST_F(FFLoadTest, LoadsTheEncoderSetUnderDefaultNames) {
  struct Case {
    TLibrary lib;
    const char* name;
  };
  const Case cases[] = {
      {avCodec, "libavcodec.so.59"},     {avDevice, "libavdevice.so.59"}, {avFilter, "libavfilter.so.8"},
      {avFormat, "libavformat.so.59"},   {avUtil, "libavutil.so.57"},     {swResample, "libswresample.so.4"},
      {swScale, "libswscale.so.6"},      {myUtil, "libc.so.6"},
  };
  ASSERT_TRUE(FFLoader.Load(kEncoderLibraries)) << FFLoader.LastErrMsg();
  EXPECT_TRUE(FFLoader.Loaded(kEncoderLibraries));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(FFLoader.GetLibraryName(c.lib), c.name);
    EXPECT_TRUE(FFLoader.Loaded(c.lib));
    const std::string file = FFLoader.ModuleFileName(c.lib);
    EXPECT_EQ(fs::path(file).filename(), c.name);
    if (c.lib != myUtil) {
      const std::string name = c.name;
      EXPECT_EQ(std::to_string(FFLoader.RuntimeVersion(c.lib) >> 16), name.substr(name.rfind('.') + 1));
    }
  }
  // Bound entries really call into the libraries.
  EXPECT_STREQ(ff::avcodec_get_name(AV_CODEC_ID_MPEG4), "mpeg4");
  EXPECT_STREQ(ff::av_get_pix_fmt_name(AV_PIX_FMT_BGR24), "bgr24");
  EXPECT_NE(ff::av_guess_format("mp4", nullptr, nullptr), nullptr);
  EXPECT_EQ(ff::strcmp("a", "a"), 0);

  FFLoader.Unload(kEncoderLibraries);
  EXPECT_FALSE(FFLoader.Loaded(avCodec));
  EXPECT_EQ(ff::avcodec_open2, nullptr);
  EXPECT_EQ(ff::av_log, nullptr);
  EXPECT_EQ(ff::strcmp, nullptr);
}

TEST_F(FFLoadTest, MissingLibraryGivesTheLoaderText) {
  TTempFolder emptyFolder;
  struct Case {
    std::string replacement;
    std::string libraryPath;
    std::string shownName;
  };
  const std::string missing = "libfotoreel-missing.so.1";
  const std::string dlText = missing + ": cannot open shared object file: No such file or directory";
  const Case cases[] = {
      {missing, "", missing},
      // Not in the folder: loaded by bare name, but the text names the folder.
      {missing, emptyFolder.Path().string(), emptyFolder.Slashed() + missing},
      {"/nonexistent/" + missing, emptyFolder.Path().string(), "/nonexistent/" + missing},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.replacement + " in " + c.libraryPath);
    FFLoader.SetLibraryPath(c.libraryPath);
    FFLoader.SetLibraryName(avDevice, c.replacement);
    EXPECT_EQ(FFLoader.GetLibraryName(avDevice), c.replacement);
    EXPECT_FALSE(FFLoader.Load(avDevice));
    EXPECT_EQ(FFLoader.LastErrMsg(), "Load library " + c.shownName + " error: " + dlText);
    EXPECT_FALSE(FFLoader.Loaded(avDevice));
  }
}

TEST_F(FFLoadTest, FailedMemberUnloadsTheWholeSet) {
  struct Case {
    const char* file;
    std::string expected;
  };
  const std::string partial = FAKE_AVDEVICE_PARTIAL;
  const std::string major60 = FAKE_AVDEVICE_MAJOR60;
  const Case cases[] = {
      {FAKE_AVDEVICE_PARTIAL, "Load function avdevice_register_all@" + partial + " error: " + partial +
                                  ": undefined symbol: avdevice_register_all"},
      {FAKE_AVDEVICE_MAJOR60, "Library " + major60 + " has major version 60, but this program needs version 59"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    ASSERT_TRUE(FFLoader.Load(avCodec)) << FFLoader.LastErrMsg();
    FFLoader.SetLibraryName(avDevice, c.file);
    EXPECT_FALSE(FFLoader.Load(kEncoderLibraries));
    EXPECT_EQ(FFLoader.LastErrMsg(), c.expected);
    // avcodec was bound before the call and still goes.
    EXPECT_FALSE(FFLoader.Loaded(avCodec));
    EXPECT_FALSE(FFLoader.Loaded(avDevice));
    EXPECT_EQ(ff::avcodec_open2, nullptr);
    // Entries bound before the failure do not point into the freed module.
    EXPECT_EQ(ff::avdevice_version, nullptr);
  }
}

TEST_F(FFLoadTest, FolderRulesForLibraryPathAndReplacementNames) {
  const std::string realAVUtil = RealAVUtil();
  TTempFolder junkFolder;  // files with the right names that are no libraries
  std::ofstream(junkFolder.Path() / "libavutil.so.57") << "not a library";
  std::ofstream(junkFolder.Path() / "libc.so.6") << "not a library";
  TTempFolder goodFolder;
  fs::create_symlink(realAVUtil, goodFolder.Path() / "libavutil-custom.so");

  FFLoader.SetLibraryPath(junkFolder.Path().string());
  EXPECT_FALSE(FFLoader.Load(avUtil));
  EXPECT_TRUE(FFLoader.LastErrMsg().starts_with("Load library " + junkFolder.Slashed() + "libavutil.so.57 error: " +
                                                junkFolder.Slashed() + "libavutil.so.57: "))
      << FFLoader.LastErrMsg();
  // The system C library is never taken from the library folder.
  EXPECT_TRUE(FFLoader.Load(myUtil)) << FFLoader.LastErrMsg();

  // A folder inside the replacement name wins over the library folder.
  const std::string replacement = goodFolder.Slashed() + "libavutil-custom.so";
  FFLoader.SetLibraryName(avUtil, replacement);
  EXPECT_EQ(FFLoader.GetLibraryName(avUtil), replacement);
  EXPECT_TRUE(FFLoader.Load(avUtil)) << FFLoader.LastErrMsg();

  // Setting a name unloads.
  FFLoader.SetLibraryName(avUtil, replacement);
  EXPECT_FALSE(FFLoader.Loaded(avUtil));
}

TEST_F(FFLoadTest, LibraryFolderJoinsPathOnceAndCurrentDirectoryComesBack) {
  const std::string realAVUtil = RealAVUtil();
  TTempFolder folder;
  fs::create_symlink(realAVUtil, folder.Path() / "libavutil.so.57");
  const fs::path cwd = fs::current_path();
  const std::string before = CurrentPath();

  FFLoader.SetLibraryPath(folder.Path().string());
  for (int round = 0; round < 3; ++round) {
    ASSERT_TRUE(FFLoader.Load(avUtil)) << FFLoader.LastErrMsg();
    FFLoader.Unload(avUtil);
    EXPECT_EQ(CurrentPath(), folder.Slashed() + ":" + before);
    EXPECT_EQ(fs::current_path(), cwd);
  }

  // Already on PATH in other letter case: PATH stays as it is.
  const std::string upper = Upper(folder.Slashed()) + ":" + before;
  ::setenv("PATH", upper.c_str(), 1);
  ASSERT_TRUE(FFLoader.Load(avUtil)) << FFLoader.LastErrMsg();
  EXPECT_EQ(CurrentPath(), upper);

  // A folder that lacks the library: loaded by bare name, PATH untouched.
  TTempFolder empty;
  ::setenv("PATH", before.c_str(), 1);
  FFLoader.Unload(avUtil);
  FFLoader.SetLibraryPath(empty.Path().string());
  ASSERT_TRUE(FFLoader.Load(avUtil)) << FFLoader.LastErrMsg();
  EXPECT_EQ(CurrentPath(), before);
  EXPECT_EQ(fs::current_path(), cwd);
}

TEST_F(FFLoadTest, CheckLibAVNamesTheFirstMissingLibrary) {
  auto checkText = [](TLibraries libs) -> std::string {
    try {
      FFLoader.CheckLibAV(libs);
      return "";
    } catch (const std::runtime_error& e) {
      return e.what();
    }
  };
  EXPECT_EQ(checkText(kEncoderLibraries), "Library avcodec not loaded.");

  ASSERT_TRUE(FFLoader.Load(kDecoderLibraries)) << FFLoader.LastErrMsg();
  EXPECT_TRUE(FFLoader.Loaded(kDecoderLibraries));
  EXPECT_FALSE(FFLoader.Loaded(kEncoderLibraries));
  EXPECT_EQ(checkText(kDecoderLibraries), "");
  EXPECT_EQ(checkText(kEncoderLibraries), "Library avdevice not loaded.");

  ASSERT_TRUE(FFLoader.Load(kEncoderLibraries)) << FFLoader.LastErrMsg();
  FFLoader.Unload(avFilter);
  EXPECT_EQ(checkText(kDecoderLibraries), "");
  EXPECT_EQ(checkText(kEncoderLibraries), "Library avfilter not loaded.");

  EXPECT_THROW(FFLoader.Load(TLibraries{}), std::logic_error);
  EXPECT_THROW(FFLoader.Loaded(TLibraries{}), std::logic_error);
  EXPECT_THROW(FFLoader.Unload(TLibraries{}), std::logic_error);
}

TEST_F(FFLoadTest, SecondLoadBindsNothingAgain) {
  ASSERT_TRUE(FFLoader.Load(kEncoderLibraries)) << FFLoader.LastErrMsg();
  const auto bound = ff::sws_scale;
  ff::sws_scale = nullptr;  // a rebinding would restore it
  EXPECT_TRUE(FFLoader.Load(kEncoderLibraries));
  EXPECT_TRUE(FFLoader.Load(swScale));
  EXPECT_EQ(ff::sws_scale, nullptr);
  ff::sws_scale = bound;
}

}  // namespace
