// The player-side objects of the script runtime: files beside the movie (which names may be read,
// how their variables decode, LoadVars and loadVariables through a movie), WaitForFrame and goto
// with a path.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "avm1_asm.h"
#include "swf/avm1/loader.h"
#include "swf/avm1/runtime.h"
#include "swf/avm1/vm.h"
#include "swf/display/stage.h"

namespace dbx::swf::avm1 {
namespace {

namespace fs = std::filesystem;
using test::Asm;

TEST(Avm1Loader, OnlyPlainNamesInsideTheMoviesFolder) {
  const std::pair<const char*, const char*> cases[] = {
      {"vars.txt", "dir/vars.txt"},
      {"sub/vars.txt", "dir/sub/vars.txt"},
      {"vars.txt?x=1&y=2", "dir/vars.txt"},
      {"vars.txt#top", "dir/vars.txt"},
      {"a..b.txt", "dir/a..b.txt"},
      {"../secret.txt", nullptr},
      {"sub/../../secret.txt", nullptr},
      {"sub\\..\\..\\secret.txt", nullptr},
      {"..", nullptr},
      {"/etc/passwd", nullptr},
      {"\\\\server\\share\\x", nullptr},
      {"C:\\x.txt", nullptr},
      {"c:x.txt", nullptr},
      {"file:///etc/passwd", nullptr},
      {"http://example.com/vars.txt", nullptr},
      {"", nullptr},
      {"?only=query", nullptr},
  };
  for (const auto& [url, want] : cases) {
    const auto got = LocalPath("dir/", url);
    if (want)
      EXPECT_EQ(got.value_or("<none>"), want) << url;
    else
      EXPECT_FALSE(got) << url << " -> " << got.value_or("");
  }
  EXPECT_FALSE(LocalPath("dir/", std::string("a\0b", 3)));
}

TEST(Avm1Loader, VariablesDecodeInOrder) {
  const auto vars = DecodeVariables("a=1&b=two%20words&&=skipped&c&d=x+y%2&e=%41%e2%82%ac");
  const std::vector<std::pair<std::string, std::string>> want = {
      {"a", "1"}, {"b", "two words"}, {"c", ""}, {"d", "x y%2"}, {"e", "A\xE2\x82\xAC"}};
  EXPECT_EQ(vars, want);
  EXPECT_EQ(UrlEscape("a b_c-d.e~\xC3\xA9"), "a%20b%5Fc%2Dd%2Ee%7E%C3%A9");
  EXPECT_EQ(UrlDecode(UrlEscape("x=1&y=\"2\"")), "x=1&y=\"2\"");
}

class TempFolder {
 public:
  TempFolder() {
    root_ = fs::temp_directory_path() /
            ("dbx-loader-" + std::to_string(reinterpret_cast<std::uintptr_t>(this)));
    fs::remove_all(root_);
    fs::create_directories(root_ / "movie" / "sub");
  }
  ~TempFolder() {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
  fs::path root() const { return root_; }
  std::string movieDir() const { return (root_ / "movie").string() + "/"; }
  void Write(const fs::path& rel, const std::string& text) const {
    std::ofstream(root_ / rel, std::ios::binary) << text;
  }

 private:
  fs::path root_;
};

TEST(Avm1Loader, ReadsFilesInsideTheFolderOnly) {
  TempFolder t;
  t.Write("movie/vars.txt", "a=1");
  t.Write("movie/sub/more.txt", "b=2");
  t.Write("secret.txt", "password");
  t.Write("movie/big.txt", std::string(100, 'x'));
  std::error_code ec;
  fs::create_symlink(t.root() / "secret.txt", t.root() / "movie" / "link.txt", ec);
  const bool haveLink = !ec;
  fs::create_symlink(t.root() / "movie" / "vars.txt", t.root() / "movie" / "inner.txt", ec);
  const bool haveInnerLink = !ec;

  EXPECT_EQ(ReadLocalFile(t.movieDir(), "vars.txt").value_or("<none>"), "a=1");
  EXPECT_EQ(ReadLocalFile(t.movieDir(), "sub/more.txt?x").value_or("<none>"), "b=2");
  EXPECT_FALSE(ReadLocalFile(t.movieDir(), "../secret.txt"));
  EXPECT_FALSE(ReadLocalFile(t.movieDir(), (t.root() / "secret.txt").string()));
  EXPECT_FALSE(ReadLocalFile(t.movieDir(), "missing.txt"));
  EXPECT_FALSE(ReadLocalFile(t.movieDir(), "sub"));  // a folder
  EXPECT_FALSE(ReadLocalFile(t.movieDir(), "big.txt", 99));
  EXPECT_TRUE(ReadLocalFile(t.movieDir(), "big.txt", 100));
  if (haveLink) {
    EXPECT_FALSE(ReadLocalFile(t.movieDir(), "link.txt"));
  }
  if (haveInnerLink) {
    EXPECT_EQ(ReadLocalFile(t.movieDir(), "inner.txt").value_or(""), "a=1");
  }
}

// Plays a one-frame movie whose script is `code`, saved in `dir` (empty: read from no file), for
// `frames` frames.
std::vector<std::string> PlayInFolder(Asm& code, const std::string& dir, int frames,
                                      int version = 10) {
  const std::vector<std::uint8_t> bytes =
      test::MovieWithScript(code.Build()->bytes, static_cast<std::uint8_t>(version));
  auto movie = ParseMovie(bytes.data(), bytes.size(), nullptr);
  EXPECT_TRUE(movie);
  if (!movie) return {};
  Stage stage(*movie);
  std::vector<std::string> lines;
  ScriptHost host{*movie, stage, [&](std::string_view s) { lines.emplace_back(s); },
                  dir.empty() ? std::string() : dir + "test.swf"};
  Runtime runtime(host);
  stage.SetScripts(&runtime);
  for (int i = 0; i < frames; ++i) stage.Step(i * 33.0);
  return lines;
}

TEST(Avm1Loader, LoadVarsAndLoadVariablesFinishAtTheNextFrame) {
  TempFolder t;
  t.Write("movie/vars.txt", "name=Hello%20there&n=5");
  t.Write("movie/latin.txt", "v=\xC4\x80");
  t.Write("secret.txt", "name=leaked");
  Asm a;
  a.Op(0x07);  // stop
  // lv = new LoadVars(); lv.onLoad = function(ok) { trace(ok); trace(this.name); }
  a.Push({"lv", 0, "LoadVars"}).Op(0x40).Op(0x3C);
  a.Get("lv").Push({"onLoad"});
  a.Function("", {"ok"}, [](Asm& f) {
    f.Get("ok").Trace();
    f.Get("this").Push({"name"}).Op(0x4E).Trace();
  });
  a.Op(0x4F);
  a.Push({"vars.txt", 1}).Get("lv").Push({"load"}).Op(0x52).Trace();
  // Not yet loaded in this frame.
  a.Get("lv").Push({"name"}).Op(0x4E).Trace();
  // A second one that may not leave the folder: onLoad(false).
  a.Push({"bad", 0, "LoadVars"}).Op(0x40).Op(0x3C);
  a.Get("bad").Push({"onLoad"});
  a.Function("", {"ok"}, [](Asm& f) { f.Push({"bad:"}).Get("ok").Op(0x47).Trace(); });
  a.Op(0x4F);
  a.Push({"../secret.txt", 1}).Get("bad").Push({"load"}).Op(0x52).Trace();
  // loadVariables into the timeline (GetURL2 with the variables flag), read in frame 2's
  // onEnterFrame.
  a.Push({"latin.txt", "_level0"}).Long(0x9A, {0x80});
  a.Get("_root").Push({"onEnterFrame"});
  a.Function("", {}, [](Asm& f) { f.Push({"v=", "v"}).Op(0x1C).Op(0x47).Trace(); });
  a.Op(0x4F);
  const auto lines = PlayInFolder(a, t.movieDir(), 2);
  const std::vector<std::string> want = {"true",        "undefined", "true",      "true",
                                         "Hello there", "bad:false", "v=\xC4\x80"};
  EXPECT_EQ(lines, want);
  // Before version 6 the file is in the Windows Western code page.
  Asm b;
  b.Op(0x07);
  b.Push({"latin.txt", "_level0"}).Long(0x9A, {0x80});
  b.Get("_root").Push({"onEnterFrame"});
  b.Function("", {}, [](Asm& f) { f.Push({"v"}).Op(0x1C).Trace(); });
  b.Op(0x4F);
  const auto old = PlayInFolder(b, t.movieDir(), 2, 5);
  EXPECT_EQ(old, (std::vector<std::string>{"\xC3\x84\xE2\x82\xAC"}));
  // A movie that came from no file reads nothing.
  const auto none = PlayInFolder(b, "", 2, 5);
  EXPECT_EQ(none, (std::vector<std::string>{"undefined"}));
}

TEST(Avm1Timeline, WaitForFrameSkipsOnlyBeyondTheLastFrameAFileCanHave) {
  Asm a;
  // WaitForFrame frame 16000 / 16001, each guarding one Push+Trace pair.
  a.Long(0x8A, {0x80, 0x3E, 2}).Push({"16000"}).Trace();
  a.Long(0x8A, {0x81, 0x3E, 2}).Push({"16001"}).Trace();
  // WaitForFrame2 with frames from 1, wrapping as int32, and labels.
  for (const test::Item& f : {test::Item{16001}, test::Item{16002}, test::Item{2147483648.0},
                              test::Item{2147483649.0}, test::Item{"nolabel"}, test::Item{-5}}) {
    a.Push({f}).Long(0x8D, {2}).Push({f}).Trace();
  }
  a.Push({"end"}).Trace();
  const auto lines = PlayInFolder(a, "", 1);
  EXPECT_EQ(lines,
            (std::vector<std::string>{"16000", "16001", "2147483649", "nolabel", "-5", "end"}));
}

}  // namespace
}  // namespace dbx::swf::avm1
