#include "launcher/nudger.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "platform/headless/headless_platform.h"

namespace dbx {
namespace {

TEST(Nudger, StartsTheWholeLineOnceAndAlwaysEndsNormally) {
  struct Case {
    const char* line;
    bool succeeds;
    std::vector<std::string> started;
  };
  const Case cases[] = {
      {"\"C:\\x\\My Saver.scr\" /s", true, {"\"C:\\x\\My Saver.scr\" /s"}},
      {"notepad", false, {"notepad"}},
      {"", true, {}},
      {"   ", true, {}},
  };
  for (const auto& c : cases) {
    HeadlessProcess proc;
    proc.commandLine = c.line;
    proc.startSucceeds = c.succeeds;
    EXPECT_EQ(RunNudger(proc), 0) << c.line;
    EXPECT_EQ(proc.started, c.started) << c.line;
  }
}

TEST(Nudger, AFailingStartIsSwallowed) {
  struct Throwing : HeadlessProcess {
    bool Start(std::string_view) override { throw std::runtime_error("no such program"); }
  } proc;
  proc.commandLine = "missing.exe";
  EXPECT_EQ(RunNudger(proc), 0);
}

}  // namespace
}  // namespace dbx
