#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/x11/x11_platform.h"

namespace dbx {
namespace {

X11StartOptions Parse(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  return ParseX11Arguments(static_cast<int>(argv.size()), argv.data());
}

TEST(X11Arguments, SwitchesAndXscreensaverConventions) {
  ::unsetenv("XSCREENSAVER_WINDOW");
  EXPECT_EQ(Parse({"/opt/x/My Saver.scr", "/p", "1234"}).commandLine, "/p 1234");
  EXPECT_EQ(Parse({"/opt/x/My Saver.scr", "/p", "1234"}).argv0, "/opt/x/My Saver.scr");
  EXPECT_EQ(Parse({"dazzlebox"}).commandLine, "");
  EXPECT_EQ(Parse({"dazzlebox"}).hostWindow, 0u);

  auto hack = Parse({"dazzlebox", "-window-id", "0x2a00007"});
  EXPECT_EQ(hack.hostWindow, 0x2a00007u);
  EXPECT_EQ(hack.commandLine, "/s");
  EXPECT_EQ(Parse({"dazzlebox", "-window-id", "44040199"}).hostWindow, 44040199u);

  ::setenv("XSCREENSAVER_WINDOW", "0x400001", 1);
  EXPECT_EQ(Parse({"dazzlebox"}).hostWindow, 0x400001u);
  EXPECT_EQ(Parse({"dazzlebox"}).commandLine, "/s");
  // Explicit switches win over the environment.
  EXPECT_EQ(Parse({"dazzlebox", "/c"}).commandLine, "/c");
  ::setenv("XSCREENSAVER_WINDOW", "garbage", 1);
  EXPECT_EQ(Parse({"dazzlebox"}).hostWindow, 0u);
  ::unsetenv("XSCREENSAVER_WINDOW");
}

}  // namespace
}  // namespace dbx
