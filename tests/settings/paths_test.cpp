#include "settings/paths.h"

#include <gtest/gtest.h>

#include "platform/headless/headless_platform.h"

namespace dbx {
namespace {

const std::string S(1, kPathSep);

TEST(Paths, FileTitleAndAddBackslash) {
  EXPECT_EQ(FileTitle("b.swf"), "b.swf");
  EXPECT_EQ(FileTitle("C:" + S + "a" + S + "b.swf"), "b.swf");
  EXPECT_EQ(FileTitle("a" + S), "");
  EXPECT_EQ(FileTitle(""), "");
#ifndef _WIN32
  // Content written on Windows names its files with backslashes.
  EXPECT_EQ(FileTitle("D:\\work\\song.wav"), "song.wav");
  EXPECT_EQ(FileTitle("/a/b\\c.wav"), "c.wav");
#endif
  EXPECT_EQ(AddBackslash("a"), "a" + S);
  EXPECT_EQ(AddBackslash("a" + S), "a" + S);
  EXPECT_EQ(AddBackslash(""), S);
}

TEST(Paths, SystemDirHasNoTrailingSeparatorAndContentPathsFollowIt) {
  HeadlessPlatform p;
  p.files.systemDir = "C:" + S + "WINDOWS" + S + "system32" + S;
  EXPECT_EQ(SystemDir(p), "C:" + S + "WINDOWS" + S + "system32");
  p.files.systemDir = std::string(300, 'x');  // long folders are kept whole
  EXPECT_EQ(SystemDir(p).size(), 300u);
  p.files.systemDir = "D";
  EXPECT_EQ(MoviePath(p, "My Saver"), "D" + S + "My Saver.swf");
  EXPECT_EQ(ContentFolder(p, "My Saver"), "D" + S + "DEvOrevi" + S + "My Saver" + S);
  EXPECT_EQ(SeedFilePath(p), "D" + S + "Zirezarev.ini");
}

}  // namespace
}  // namespace dbx
