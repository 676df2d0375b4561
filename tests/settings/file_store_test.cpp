#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/posix/posix_services.h"

namespace dbx {
namespace {

namespace fs = std::filesystem;

// prefix + the numbers, joined by "-". (Built by appending: GCC 12's optimiser raises a false
// -Wrestrict alarm on "literal" + std::string.)
std::string Named(std::string prefix, std::initializer_list<long> numbers) {
  bool first = true;
  for (long n : numbers) {
    if (!first) prefix += '-';
    prefix += std::to_string(n);
    first = false;
  }
  return prefix;
}

class FileStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           (Named("dbx-store-", {::getpid()}) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    path_ = (dir_ / "sub" / "settings.reg").string();
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string FileText() {
    std::ifstream in(path_, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  fs::path dir_;
  std::string path_;
};

TEST_F(FileStoreTest, WritesPersistAcrossInstancesWithRegistrySemantics) {
  {
    FileSettingsStore store(path_);
    EXPECT_EQ(store.ReadText("Software\\X\\Option", "Loaded"), std::nullopt);  // no file yet
    store.WriteText("Software\\X\\Option", "Keydown", "False");
    store.WriteText("Software\\X\\Option", "", "");
  }
  FileSettingsStore again(path_);
  EXPECT_EQ(again.ReadText("software\\x\\option", "KeyDown"), "False");
  EXPECT_EQ(again.ReadText("Software\\X\\Option", ""), "");
  EXPECT_EQ(again.ReadText("Software\\X", ""), std::nullopt);
  // No temporary file is left behind.
  for (const auto& e : fs::directory_iterator(dir_ / "sub")) {
    EXPECT_EQ(e.path().string().find(".tmp."), std::string::npos) << e.path();
  }
}

TEST_F(FileStoreTest, ABatchOfWritesLandsInOrderInOneReplacement) {
  FileSettingsStore store(path_);
  store.WriteText("K", "old", "1");
  const auto before = fs::last_write_time(path_);
  std::vector<SettingWrite> batch;
  for (int i = 0; i < 30; ++i) batch.push_back({"K\\Sub", Named("v", {i}), "x"});
  batch.push_back({"K\\Sub", "V0", "last wins"});
  store.WriteTexts(batch);
  EXPECT_EQ(store.ReadText("K\\Sub", "v0"), "last wins");
  EXPECT_EQ(store.ReadText("K\\Sub", "v29"), "x");
  EXPECT_EQ(store.ReadText("K", "old"), "1");
  EXPECT_GE(fs::last_write_time(path_), before);
  store.WriteTexts({});  // nothing to do, nothing written
  EXPECT_EQ(store.ReadText("K", "old"), "1");
}

TEST_F(FileStoreTest, DamagedFileReadsAsAbsentAndIsRewrittenWhole) {
  FileSettingsStore store(path_);
  store.WriteText("K", "a", "1");
  store.WriteText("K", "b", "2");
  const std::string whole = FileText();
  for (const std::string& damaged : {whole.substr(0, whole.size() / 2), std::string("garbage\n"),
                                     std::string(), std::string("\xff\xfe\x00\x01", 4)}) {
    std::ofstream(path_, std::ios::binary | std::ios::trunc) << damaged;
    EXPECT_EQ(store.ReadText("K", "a"), std::nullopt);
    store.WriteText("K", "c", "3");
    EXPECT_EQ(store.ReadText("K", "c"), "3");
    EXPECT_EQ(store.ReadText("K", "a"), std::nullopt);
    // The file is whole again.
    EXPECT_TRUE(RegistryDocument::Parse(FileText()).has_value());
  }
  // A value of another type is kept by rewrites but never reads as text.
  std::ofstream(path_, std::ios::binary | std::ios::trunc)
      << "Dazzlebox settings 1\n[K]\n\"n\"=dword:00000005\n; end\n";
  EXPECT_EQ(store.ReadText("K", "n"), std::nullopt);
  store.WriteText("K", "t", "x");
  EXPECT_NE(FileText().find("dword:00000005"), std::string::npos);
}

TEST_F(FileStoreTest, TwoProcessesWritingAtOnceLoseNothing) {
  constexpr int kEach = 40;
  pid_t children[2];
  for (int c = 0; c < 2; ++c) {
    children[c] = ::fork();
    ASSERT_GE(children[c], 0);
    if (children[c] == 0) {
      FileSettingsStore store(path_);
      for (int i = 0; i < kEach; ++i) {
        store.WriteText("K", Named("p", {c, i}), "v");
      }
      ::_exit(0);
    }
  }
  for (pid_t child : children) {
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status));
  }
  FileSettingsStore store(path_);
  for (int c = 0; c < 2; ++c) {
    for (int i = 0; i < kEach; ++i) {
      EXPECT_EQ(store.ReadText("K", Named("p", {c, i})), "v");
    }
  }
}

TEST_F(FileStoreTest, AProcessKilledWhileWritingNeverLeavesAHalfFile) {
  for (int round = 0; round < 8; ++round) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      FileSettingsStore store(path_);
      for (int i = 0;; ++i) store.WriteText("K", Named("v", {i % 50}), std::string(500, 'x'));
    }
    ::usleep(20000 + round * 7000);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    const std::string text = FileText();
    if (!text.empty()) {
      EXPECT_TRUE(RegistryDocument::Parse(text).has_value()) << "round " << round;
    }
  }
}

TEST(CommandLineSplit, QuotingRules) {
  struct Case {
    const char* text;
    std::vector<std::string> args;
  };
  const Case cases[] = {
      {"", {}},
      {"   ", {}},
      {"prog", {"prog"}},
      {"  prog  a   b ", {"prog", "a", "b"}},
      {"\"/opt/My Saver/x.scr\" /s", {"/opt/My Saver/x.scr", "/s"}},
      {"'a b' 'c\"d'", {"a b", "c\"d"}},
      {"\"a\\\"b\" \"c\\d\"", {"a\"b", "c\\d"}},
      {"a\\ b c", {"a b", "c"}},
      {"x\"y z\"w", {"xy zw"}},
      {"\"\"", {""}},
      {"\"unterminated arg", {"unterminated arg"}},
      {"$HOME;rm -rf x|y", {"$HOME;rm", "-rf", "x|y"}},
  };
  for (const auto& c : cases) EXPECT_EQ(SplitCommandLine(c.text), c.args) << c.text;
}

TEST(CommandLineSplit, JoinedArgumentsSplitBackUnchanged) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"/opt/My Saver.scr", "/s"},
      {"/opt/My Saver.scr"},
      {""},
      {"a", "", "b"},
      {"it's", "'", "''", "\\", "\\'", "\"", "a\"b c"},
      {"$HOME", "`id`", "x;y|z", "tab\there", " lead", "trail "},
  };
  for (const auto& args : cases) {
    EXPECT_EQ(SplitCommandLine(JoinCommandLine(args)), args) << JoinCommandLine(args);
  }
}

TEST(CommandLineSplit, SpawnStartsWithoutAShellAndWithoutWaiting) {
  const auto dir = fs::temp_directory_path() / Named("dbx-spawn-", {::getpid()});
  fs::create_directories(dir);
  const auto marker = dir / "made it";
  EXPECT_TRUE(SpawnDetached({"touch", marker.string()}));
  for (int i = 0; i < 200 && !fs::exists(marker); ++i) ::usleep(10000);
  EXPECT_TRUE(fs::exists(marker));
  EXPECT_FALSE(SpawnDetached({"/no/such/program"}));
  EXPECT_FALSE(SpawnDetached({}));
  // Reap whatever the spawns left, so the test process stays tidy.
  while (::waitpid(-1, nullptr, WNOHANG) > 0) {
  }
  fs::remove_all(dir);
}

}  // namespace
}  // namespace dbx
