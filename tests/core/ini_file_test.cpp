#include "core/ini_file.h"

#include <gtest/gtest.h>

namespace dbx {
namespace {

std::string Read(std::optional<std::string_view> text, std::string_view key,
                 std::string_view section = "DM-NOVAPOST") {
  return IniProfileString(text, section, key, "ERROR", 255);
}

TEST(IniFile, SeedFileVariants) {
  const std::string crlf = "[DM-NOVAPOST]\r\nLeftMouse=False\r\nSaverTime = 10 \r\n";
  const std::string lf = "[DM-NOVAPOST]\nLeftMouse=False\nSaverTime = 10 \n";
  const std::string bom = "\xEF\xBB\xBF[DM-NOVAPOST]\nLeftMouse=False\nSaverTime=10\n";
  const std::string lower = "[dm-novapost]\nleftmouse=False\nSAVERTIME=10";
  for (const std::string* text : {&crlf, &lf, &bom, &lower}) {
    EXPECT_EQ(Read(*text, "LeftMouse"), "False") << *text;
    EXPECT_EQ(Read(*text, "SaverTime"), "10") << *text;
    EXPECT_EQ(Read(*text, "RightMouse"), "ERROR") << *text;
  }
}

TEST(IniFile, MissingFileSectionOrKeyGivesTheFallback) {
  EXPECT_EQ(Read(std::nullopt, "A"), "ERROR");
  EXPECT_EQ(Read("", "A"), "ERROR");
  EXPECT_EQ(Read("A=1\n[Other]\nA=2\n", "A"), "ERROR");
  EXPECT_EQ(Read("[Other]\nA=2\n[DM-NOVAPOST]\nB=1\n", "A"), "ERROR");
  EXPECT_EQ(Read("[DM-NOVAPOST]\n;A=1\n", "A"), "ERROR");
}

TEST(IniFile, FirstKeyWinsAndValuesAreTrimmedAndUnquoted) {
  EXPECT_EQ(Read("[DM-NOVAPOST]\nA=1\nA=2\n", "A"), "1");
  EXPECT_EQ(Read("[DM-NOVAPOST]\nA=\n", "A"), "");
  EXPECT_EQ(Read("[DM-NOVAPOST]\nA=\"  quoted  \"\n", "A"), "  quoted  ");
  EXPECT_EQ(Read("[DM-NOVAPOST]\nA=x=y\n", "A"), "x=y");
  EXPECT_EQ(Read("[DM-NOVAPOST]\nSaverSort=a.jpg*b.jpg*\n", "saversort"), "a.jpg*b.jpg*");
}

TEST(IniFile, ValuesAreCutToTheBuffer) {
  const std::string text = "[DM-NOVAPOST]\nLong=" + std::string(300, 'x') + "\n";
  EXPECT_EQ(Read(text, "Long").size(), 254u);
  EXPECT_EQ(IniProfileString(text, "DM-NOVAPOST", "Long", "ERROR", 1), "");
  EXPECT_EQ(IniProfileString(text, "DM-NOVAPOST", "Long", "ERROR", 0), "");
  EXPECT_EQ(IniProfileString(std::nullopt, "S", "K", "ERROR", 3), "ER");
}

}  // namespace
}  // namespace dbx
