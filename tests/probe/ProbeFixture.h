#pragma once
// Loads the libraries, captures what reaches the logger and gives each test
// a fresh folder for the media files it writes.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "ffbind/FFLoad.h"
#include "log/FFLog.h"
#include "tests/probe/MediaWriter.h"

namespace probetest {

struct TLogged {
  void* Sender;
  fflog::TLogLevel Level;
  std::string Msg;
};

class ProbeFixture : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(ffbind::FFLoader.Load(ffbind::kEncoderLibraries)) << ffbind::FFLoader.LastErrMsg();
  }

  void SetUp() override {
    fflog::TFFLogger* logger = fflog::GetLogger();
    logger->TriggerEventInMainThread = false;
    logger->OnLog = [this](void* sender, std::uintptr_t, fflog::TLogLevel level, const std::string& msg) {
      std::lock_guard guard(FLogLock);
      FLog.push_back({sender, level, msg});
    };
  }

  void TearDown() override { fflog::GetLogger()->OnLog = nullptr; }

  bool Logged(const void* sender, fflog::TLogLevel level, const std::string& msg) {
    std::lock_guard guard(FLogLock);
    for (const TLogged& l : FLog)
      if (l.Sender == sender && l.Level == level && l.Msg == msg) return true;
    return false;
  }

  std::vector<TLogged> LogFrom(const void* sender) {
    std::lock_guard guard(FLogLock);
    std::vector<TLogged> result;
    for (const TLogged& l : FLog)
      if (l.Sender == sender) result.push_back(l);
    return result;
  }

  // Writes the file once per test and returns its path.
  std::string Write(const std::string& name, const TMediaSpec& spec) {
    const std::string path = Dir.File(name);
    WriteMedia(path, spec);
    return path;
  }

  TTempDir Dir;

 private:
  std::mutex FLogLock;
  std::vector<TLogged> FLog;
};

// A video track (German, titled), an mp2 tone (English), container tags
// and one chapter.
inline const TMediaSpec kFilm{"matroska",
                              {{AV_CODEC_ID_MPEG4, {{"language", "ger"}, {"title", "Picture"}}},
                               {AV_CODEC_ID_MP2, {{"language", "eng"}}}},
                              {{"title", "Probe Film"}, {"comment", "two\rlines"}, {"year", "2021"}},
                              {{0, 200, "Opening"}}};

}  // namespace probetest
