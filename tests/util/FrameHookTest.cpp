// Video hook modules: real shared objects built with the tests, loaded,
// configured, run over a picture and released.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "ffbind/FFLoad.h"
#include "util/FrameHook.h"

namespace {

using ffutil::TAVPicture;
using ffutil::TFrameHookChain;

const std::string kFill = FOTOREEL_FILL_HOOK;
const std::string kProcessOnly = FOTOREEL_PROCESS_ONLY_HOOK;

// A module's counter, read through the module the chain loaded.
int Counter(const std::string& module, const char* name) {
  void* handle = ::dlopen(module.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (!handle) return -1;
  const int value = *static_cast<int*>(::dlsym(handle, name));
  ::dlclose(handle);
  return value;
}

// A 4x2 bgr24 picture of one byte value.
struct TPicture {
  std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(12 * 2, 7);
  TAVPicture view;
  TPicture() {
    view.data[0] = bytes.data();
    view.linesize[0] = 12;
  }
};

class FrameHookTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(ffbind::FFLoader.Load(ffbind::kEncoderLibraries)) << ffbind::FFLoader.LastErrMsg();
  }
};

TEST_F(FrameHookTest, EachEntryHasItsOwnContextOverOneLoadedModule) {
  TFrameHookChain dark, light;
  ASSERT_EQ(dark.Add({kFill, "10"}), 0);
  const int configured = Counter(kFill, "configure_calls");
  ASSERT_EQ(light.Add({kFill, "200"}), 0);
  EXPECT_EQ(Counter(kFill, "configure_calls"), configured + 1);  // the same module, not a second copy
  TPicture a, b;
  dark.Process(&a.view, AV_PIX_FMT_BGR24, 4, 2, 0);
  light.Process(&b.view, AV_PIX_FMT_BGR24, 4, 2, 0);
  EXPECT_EQ(a.bytes, std::vector<std::uint8_t>(24, 10));
  EXPECT_EQ(b.bytes, std::vector<std::uint8_t>(24, 200));

  // Entries run in order: the inverting module after the filling one.
  ASSERT_EQ(dark.Add({kProcessOnly}), 0);
  dark.Process(&a.view, AV_PIX_FMT_BGR24, 4, 2, 0);
  EXPECT_EQ(a.bytes, std::vector<std::uint8_t>(24, 255 - 10));

  const int released = Counter(kFill, "release_calls");
  dark.Release();
  EXPECT_TRUE(dark.Empty());
  EXPECT_EQ(Counter(kFill, "release_calls"), released + 1);
}

TEST_F(FrameHookTest, ModulesThatCannotBeUsedAreNotAdded) {
  const struct {
    std::vector<std::string> args;
    int result;
  } kCases[] = {
      {{}, -2},
      {{"/nonexistent/hook.so"}, -1},
      {{kProcessOnly, "arg"}, -2},  // arguments but nothing to configure with
      {{kFill}, -22},               // its Configure wants a level
      {{kFill, "300"}, -22},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.args.empty() ? std::string("no words") : c.args.back());
    TFrameHookChain chain;
    EXPECT_EQ(chain.Add(c.args), c.result);
    EXPECT_TRUE(chain.Empty());
  }
}

}  // namespace
