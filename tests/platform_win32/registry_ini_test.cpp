// The registry store and the INI reader against the real system calls (Wine or Windows).
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "platform/win32/win32_services.h"

namespace dbx::win32 {
namespace {

class RegistryStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = "Software\\DazzleboxTests\\" + std::to_string(::GetCurrentProcessId());
  }
  void TearDown() override { ::RegDeleteTreeA(HKEY_CURRENT_USER, root_.c_str()); }

  // Stores a value of any type, as some other program might have left it.
  void StoreRaw(const std::string& name, DWORD type, const void* data, DWORD size) {
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyA(HKEY_CURRENT_USER, root_.c_str(), &key), ERROR_SUCCESS);
    ASSERT_EQ(::RegSetValueExA(key, name.c_str(), 0, type, static_cast<const BYTE*>(data), size),
              ERROR_SUCCESS);
    ::RegCloseKey(key);
  }

  std::string root_;
  RegistrySettingsStore store_;
};

TEST_F(RegistryStoreTest, WritesAndReadsText) {
  const std::string option = root_ + "\\DEvOrevi\\My Saver\\Option";
  // Parents are created on write; names match without regard to case.
  store_.WriteText(option, "Keydown", "False");
  EXPECT_EQ(store_.ReadText(option, "KeyDown"), "False");
  EXPECT_EQ(store_.ReadText(option, "KEYDOWN"), "False");
  store_.WriteText(option, "", "default");
  EXPECT_EQ(store_.ReadText(option, ""), "default");
  store_.WriteText(option, "Keydown", "True");
  EXPECT_EQ(store_.ReadText(option, "keydown"), "True");
  // Bytes of the ANSI code page above 127 and long texts come back unchanged.
  const std::string accented = "Caf\xE9 \xC0 la cr\xE8me";
  store_.WriteText(option, "SaverDec", accented);
  EXPECT_EQ(store_.ReadText(option, "SaverDec"), accented);
  const std::string longText(10000, 'x');
  store_.WriteText(option, "SaverSort", longText);
  EXPECT_EQ(store_.ReadText(option, "SaverSort"), longText);
}

TEST_F(RegistryStoreTest, StoresTextWithoutTerminatingZero) {
  store_.WriteText(root_, "Loaded", "False");
  store_.WriteText(root_, "Empty", "");
  HKEY key = nullptr;
  ASSERT_EQ(::RegOpenKeyA(HKEY_CURRENT_USER, root_.c_str(), &key), ERROR_SUCCESS);
  DWORD type = 0;
  DWORD size = 0;
  EXPECT_EQ(::RegQueryValueExA(key, "Loaded", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  // Windows reports the stored bytes; Wine adds the zero it keeps. Either way no second zero.
  EXPECT_TRUE(size == 5 || size == 6) << size;
  EXPECT_EQ(::RegQueryValueExA(key, "Empty", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  ::RegCloseKey(key);
  EXPECT_EQ(store_.ReadText(root_, "Empty"), "");
}

TEST_F(RegistryStoreTest, AbsentThingsReadAsNothing) {
  EXPECT_EQ(store_.ReadText(root_ + "\\Missing\\Key", "Loaded"), std::nullopt);
  store_.WriteText(root_, "Present", "1");
  EXPECT_EQ(store_.ReadText(root_, "Absent"), std::nullopt);
  EXPECT_EQ(store_.ReadText(root_, ""), std::nullopt);  // no default value was written
}

TEST_F(RegistryStoreTest, OnlyTextTypesRead) {
  const DWORD number = 42;
  const char binary[] = {'T', 'r', 'u', 'e'};
  const char expand[] = "%TEMP%";
  const char multi[] = "a\0b\0";
  const struct {
    const char* name;
    DWORD type;
    const void* data;
    DWORD size;
  } cases[] = {
      {"Dword", REG_DWORD, &number, sizeof(number)},
      {"Binary", REG_BINARY, binary, sizeof(binary)},
      {"Expand", REG_EXPAND_SZ, expand, sizeof(expand)},
      {"Multi", REG_MULTI_SZ, multi, sizeof(multi)},
  };
  for (const auto& c : cases) {
    StoreRaw(c.name, c.type, c.data, c.size);
    EXPECT_EQ(store_.ReadText(root_, c.name), std::nullopt) << c.name;
  }
}

TEST_F(RegistryStoreTest, TextEndsAtFirstZero) {
  const char withZero[] = "abc\0def";
  StoreRaw("Inner", REG_SZ, withZero, sizeof(withZero));
  EXPECT_EQ(store_.ReadText(root_, "Inner"), "abc");
  const char unterminated[] = {'x', 'y', 'z'};
  StoreRaw("Bare", REG_SZ, unterminated, sizeof(unterminated));
  EXPECT_EQ(store_.ReadText(root_, "Bare"), "xyz");
}

class IniReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char folder[MAX_PATH];
    ASSERT_GT(::GetTempPathA(MAX_PATH, folder), 0u);
    path_ = std::string(folder) + "dbx_ini_" + std::to_string(::GetCurrentProcessId()) + ".ini";
  }
  void TearDown() override { ::DeleteFileA(path_.c_str()); }
  void WriteFile(const std::string& bytes) {
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    out << bytes;
  }
  std::string Read(std::string_view section, std::string_view key, std::size_t buffer = 255) {
    return reader_.ReadString(path_, section, key, "ERROR", buffer);
  }

  std::string path_;
  ProfileIniReader reader_;
};

TEST_F(IniReaderTest, MissingFileSectionOrKeyGivesFallback) {
  EXPECT_EQ(Read("DM-NOVAPOST", "ImageOrSWF"), "ERROR");
  WriteFile("[Other]\r\nImageOrSWF=True\r\n");
  EXPECT_EQ(Read("DM-NOVAPOST", "ImageOrSWF"), "ERROR");
  WriteFile("[DM-NOVAPOST]\r\nSaverTime=5\r\n");
  EXPECT_EQ(Read("DM-NOVAPOST", "ImageOrSWF"), "ERROR");
  WriteFile("");
  EXPECT_EQ(Read("DM-NOVAPOST", "ImageOrSWF"), "ERROR");
}

TEST_F(IniReaderTest, ReadsValuesAsTheSystemDoes) {
  const std::string value300(300, 'v');
  for (const char* eol : {"\r\n", "\n"}) {
    WriteFile(std::string("[dm-novapost]") + eol + "imageorswf=False" + eol + "SaverTime=5" + eol +
              "SaverTime=9" + eol + "Long=" + value300 + eol + "Empty=" + eol);
    SCOPED_TRACE(eol[0] == '\r' ? "CRLF" : "LF");
    EXPECT_EQ(Read("DM-NOVAPOST", "ImageOrSWF"), "False");  // names without regard to case
    EXPECT_EQ(Read("DM-NOVAPOST", "SaverTime"), "5");       // the first of two keys counts
    EXPECT_EQ(Read("DM-NOVAPOST", "Long"), value300.substr(0, 254));
    EXPECT_EQ(Read("DM-NOVAPOST", "Long", 11), value300.substr(0, 10));
    EXPECT_EQ(Read("DM-NOVAPOST", "Empty"), "");
  }
}

}  // namespace
}  // namespace dbx::win32
