// Paths, the command line and the instance mark of the Windows layer.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "platform/win32/win32_services.h"

namespace dbx::win32 {
namespace {

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(::toupper(static_cast<unsigned char>(c)));
  return text;
}

TEST(CommandLineTest, TextAfterTheProgramName) {
  const struct {
    const char* line;
    const char* arguments;
  } cases[] = {
      {"\"C:\\WINDOWS\\system32\\My Saver.scr\" /s", "/s"},
      {"C:\\WINDOWS\\SYSTEM32\\MYSAVE~1.SCR /p 1234", "/p 1234"},
      {"\"x.scr\"   /c:4567", "/c:4567"},
      {"\"x.scr\"/S", "/S"},  // text glued to the closing quote
      {"x.scr\t/s ", "/s "},  // tab between, trailing blank kept
      {"x.scr", ""},
      {"\"x.scr\"", ""},
      {"\"unterminated /s", ""},
      {"Nudger.exe \"C:\\a b\\c.exe\" /x", "\"C:\\a b\\c.exe\" /x"},
      {"", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ArgumentsAfterProgramName(c.line), c.arguments) << c.line;
  }
}

TEST(CommandLineTest, FileNamePart) {
  EXPECT_EQ(FileNamePart("C:\\WINDOWS\\system32\\MYSAVE~1.SCR"), "MYSAVE~1.SCR");
  EXPECT_EQ(FileNamePart("C:/a/b.exe"), "b.exe");
  EXPECT_EQ(FileNamePart("plain.scr"), "plain.scr");
  EXPECT_EQ(FileNamePart("C:\\dir\\"), "");
}

TEST(ProcessTest, OwnNameAndCommandLine) {
  Win32Process process;
  EXPECT_EQ(Upper(process.ProgramFileName()), "PLATFORM_WIN32_TESTS.EXE");
  const std::string full = ::GetCommandLineA();
  const std::string arguments = process.CommandLine();
  ASSERT_LE(arguments.size(), full.size());
  EXPECT_EQ(full.substr(full.size() - arguments.size()), arguments);
  EXPECT_EQ(Upper(arguments).find("PLATFORM_WIN32_TESTS"), std::string::npos);
}

TEST(ProcessTest, InstanceMarkSeesEarlierInstances) {
  EXPECT_EQ(InstanceMarkName("C:\\Windows\\System32\\My Saver.scr"),
            InstanceMarkName("c:\\WINDOWS\\system32\\MY SAVER.SCR"));
  EXPECT_NE(InstanceMarkName("C:\\a.scr"), InstanceMarkName("C:\\b.scr"));
  EXPECT_EQ(InstanceMarkName("C:\\a.scr").find('\\', 6), std::string::npos);
  {
    // The test program itself counts as the first instance only if nothing else marked it.
    Win32Process first;
    Win32Process second;
    EXPECT_FALSE(first.PreviousInstanceRunning("x"));
    EXPECT_TRUE(second.PreviousInstanceRunning("x"));
  }
  Win32Process afterBothEnded;
  EXPECT_FALSE(afterBothEnded.PreviousInstanceRunning("x"));
}

TEST(ProcessTest, ForeignWindowsThatDoNotExist) {
  Win32Process process;
  EXPECT_EQ(process.ClientSizeOf(0), std::nullopt);
  EXPECT_EQ(process.ClientSizeOf(0x7FFF1234), std::nullopt);
  EXPECT_FALSE(process.TopLevelWindowExists("Dazzlebox test title that nobody uses"));
  EXPECT_FALSE(process.Start(""));
  EXPECT_FALSE(process.Start("   "));
  EXPECT_FALSE(process.Start("C:\\no\\such\\program.exe /s"));
}

TEST(PathsTest, SystemDirectoryAndLongPaths) {
  Win32SystemPaths paths;
  const std::string system = paths.SystemDirectory();
  char expected[MAX_PATH] = {};
  ASSERT_GT(::GetSystemDirectoryA(expected, MAX_PATH), 0u);
  EXPECT_EQ(Upper(system), Upper(expected));
  ASSERT_FALSE(system.empty());
  EXPECT_NE(system.back(), '\\');
  EXPECT_EQ(paths.Separator(), '\\');

  char temp[MAX_PATH] = {};
  ASSERT_GT(::GetTempPathA(MAX_PATH, temp), 0u);
  const std::string file =
      std::string(temp) + "dbx long name " + std::to_string(::GetCurrentProcessId()) + ".scr";
  std::ofstream(file) << "x";
  EXPECT_TRUE(paths.FileExists(file));
  EXPECT_EQ(Upper(paths.LongPathName(file)), Upper(file));
  EXPECT_FALSE(paths.FileExists(temp));  // a folder is not a file
  ::DeleteFileA(file.c_str());
  EXPECT_FALSE(paths.FileExists(file));
  EXPECT_EQ(paths.LongPathName(file), "");
}

}  // namespace
}  // namespace dbx::win32
