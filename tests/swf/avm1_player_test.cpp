// The player-side objects of the script runtime: files beside the movie (which names may be read,
// how their variables decode, LoadVars and loadVariables through a movie), WaitForFrame and goto
// with a path.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <filesystem>
#include <optional>
#include <tuple>

#include "avm1_asm.h"
#include "swf/avm1/loader.h"
#include "swf/avm1/runtime.h"
#include "swf/avm1/vm.h"
#include "swf/display/stage.h"
#include "swf/flash_player.h"
#include "swf/text/text_field.h"
#include "test_support.h"
#include "text_fixtures.h"

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

// Text files of movies from version 6 are read as UTF-8 without checking what follows a lead byte.
TEST(Avm1Loader, Utf8IsReadAsThePlayerReadsIt) {
  const std::pair<std::string, std::string> cases[] = {
      {"A\xC3\xA9\xE7\x89\x87\xF0\x9F\x98\x80", "A\xC3\xA9\xE7\x89\x87\xF0\x9F\x98\x80"},
      // Latin-1 bytes: each lead byte swallows the next one.
      {"\xC4\xD6\xDC\x20\xDF\x20-", "\xC5\x96\xDA\xA0\xDD\xA0-"},
      // Shift JIS bytes: a byte that leads nothing stands for itself.
      {"\x95\xD0\x89\xBC", "\xC2\x95\xD0\x89\xC2\xBC"},
      // Three bytes led by E0..EF, whatever the two after it are.
      {"\xE4\x41\x42", "\xE3\x80\x82"},
      // Cut off at the end: dropped.
      {"ab\xDF", "ab"},
      {"ab\xE7\x89", "ab"},
      // Sums below one or beyond the last code point give nothing.
      {"\xC0\x41x", "x"},
      {"\xF7\xBF\xBF\xBFx", "x"},
      {"\xFF", "\xC3\xBF"},
  };
  for (const auto& [in, want] : cases) EXPECT_EQ(Utf8Leniently(in), want) << in;
}

// The movie's folder ("movie", with "sub" in it) beside files outside it.
struct TempFolder : swftest::TempFolder {
  TempFolder() : swftest::TempFolder("dbx-loader", "movie/sub") {}
  std::string movieDir() const { return Dir("movie"); }
};

TEST(Avm1Loader, ReadsFilesInsideTheFolderOnly) {
  TempFolder t;
  t.WriteText("movie/vars.txt", "a=1");
  t.WriteText("movie/sub/more.txt", "b=2");
  t.WriteText("secret.txt", "password");
  t.WriteText("movie/big.txt", std::string(100, 'x'));
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

// A movie parsed from `bytes` (saved at `path`, empty: from no file) with the script runtime on
// its stage; its trace lines gather in `lines`.
class ScriptedMovie {
 public:
  explicit ScriptedMovie(const std::vector<std::uint8_t>& bytes, const std::string& path = "",
                         SocketOpener sockets = {})
      : movie_(ParseMovie(bytes.data(), bytes.size(), nullptr)) {
    if (!movie_) return;
    stage_.emplace(*movie_);
    host_.emplace(
        ScriptHost{*movie_, *stage_, [this](std::string_view s) { lines.emplace_back(s); }, path});
    host_->socketOpener = std::move(sockets);
    runtime_.emplace(*host_);
    stage_->SetScripts(&*runtime_);
  }
  ScriptedMovie(const ScriptedMovie&) = delete;
  ScriptedMovie& operator=(const ScriptedMovie&) = delete;

  bool ok() const { return movie_.has_value(); }
  Stage& stage() { return *stage_; }
  Runtime& runtime() { return *runtime_; }
  std::vector<std::string> lines;

 private:
  std::optional<Movie> movie_;
  std::optional<Stage> stage_;
  std::optional<ScriptHost> host_;
  std::optional<Runtime> runtime_;
};

// Plays a one-frame movie whose script is `code`, saved in `dir` (empty: read from no file), for
// `frames` frames.
std::vector<std::string> PlayInFolder(
    Asm& code, const std::string& dir, int frames, int version = 10,
    const std::vector<std::pair<std::uint16_t, std::vector<std::uint8_t>>>& before = {}) {
  const std::vector<std::uint8_t> bytes =
      test::MovieWithScript(code.Build()->bytes, static_cast<std::uint8_t>(version), before);
  ScriptedMovie m(bytes, dir.empty() ? std::string() : dir + "test.swf");
  EXPECT_TRUE(m.ok());
  if (!m.ok()) return {};
  for (int i = 0; i < frames; ++i) m.stage().Step(i * 33.0);
  return m.lines;
}

TEST(Avm1Loader, LoadVarsAndLoadVariablesFinishAtTheNextFrame) {
  TempFolder t;
  t.WriteText("movie/vars.txt", "name=Hello%20there&n=5");
  t.WriteText("movie/latin.txt", "v=\xC4\x80");
  t.WriteText("secret.txt", "name=leaked");
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

// GotoFrame2 reads its frame as text: digits are a frame number modulo 2^32, anything else a
// label; the scene bias is added to both; frame 0, fractions, signs and unknown labels go
// nowhere. A goto past the last frame lands there without running the frame's script.
TEST(Avm1Timeline, GotoFrame2ReadsItsFrameAsTextAndStopsAtTheLastFrame) {
  swftest::SwfWriter w(100, 100);
  Asm first;
  using test::Item;
  auto gotoAndStop = [&](const Item& frame, std::optional<std::uint16_t> bias = {}) {
    first.Push({frame});
    if (bias) {
      first.Long(0x9F, {2, static_cast<std::uint8_t>(*bias), 0});
    } else {
      first.Long(0x9F, {0});
    }
    first.Push({"", 4}).Op(0x22).Trace();
  };
  for (const Item& f : {Item{0}, Item{-1}, Item{2.5}, Item{"nolabel"}, Item{"0x2"}}) gotoAndStop(f);
  gotoAndStop(Item{4294967298.0});  // 2
  gotoAndStop(Item{"L"});           // 3
  gotoAndStop(Item{"L"}, 1);        // 4
  gotoAndStop(Item{99});            // past the end: 5, its script does not run
  gotoAndStop(Item{"1"}, 1);        // back to 2
  w.DoAction(first.Build()->bytes);
  w.ShowFrame();
  for (int f = 2; f <= 5; ++f) {
    if (f == 3) w.Label("L");
    Asm a;
    a.Push({"frame " + std::to_string(f)}).Trace();
    w.DoAction(a.Build()->bytes);
    w.ShowFrame();
  }
  w.End();
  ScriptedMovie m(w.Finish());
  ASSERT_TRUE(m.ok());
  m.stage().Step(0);
  m.stage().Step(33);
  std::string joined;
  for (const auto& l : m.lines) joined += l + "|";
  EXPECT_EQ(joined, "1|1|1|1|1|2|3|4|5|2|frame 2|frame 3|frame 4|frame 2|");
}

// Intervals fire as often as they fit into the time that passed, all timers in the order they
// fall due (ties: the older first); a timer far behind drops its backlog after a bounded number of
// calls; the interval of the last frame passes too when the tool says so.
TEST(Avm1Timers, IntervalsCatchUpInTheOrderTheyFallDue) {
  Asm a;
  // setInterval(function () { trace(name); }, ms) for A every 30 ms and B every 20 ms.
  for (const auto& [name, ms] : {std::pair<std::string, int>{"A", 30}, {"B", 20}}) {
    a.Push({ms});
    a.Function("", {}, [n = name](Asm& f) { f.Push({n}).Trace(); });
    a.Push({2, "setInterval"}).Op(0x3D).Op(0x17);
  }
  // C every millisecond counts its calls in `c`.
  a.Set("c", 0).Push({1});
  a.Function("", {}, [](Asm& f) { f.Push({"c"}).Get("c").Op(0x50).Op(0x1D); });
  a.Push({2, "setInterval"}).Op(0x3D).Op(0x17);
  ScriptedMovie m(test::MovieWithScript(a.Build()->bytes, 10));
  ASSERT_TRUE(m.ok());
  Stage& stage = m.stage();
  std::vector<std::string>& lines = m.lines;
  Vm& vm = m.runtime().vm();
  auto c = [&] { return vm.ToNumber(vm.Get(vm.root, "c")); };
  stage.Step(0);
  stage.PassTime(100);
  std::string joined;
  for (const auto& l : lines) joined += l;
  EXPECT_EQ(joined, "BABABBAB");  // B20 A30 B40 A60 B60 (the older first) B80 A90 B100
  EXPECT_EQ(c(), 100);
  lines.clear();
  stage.Step(1e7);  // the machine slept: each timer is called a bounded number of times
  EXPECT_EQ(c(), 100 + Vm::kMaxTimerCatchUp);
  EXPECT_EQ(lines.size(), 2u * Vm::kMaxTimerCatchUp);
  stage.PassTime(1e7 + 20);  // and then goes on at its pace
  EXPECT_EQ(c(), 100 + Vm::kMaxTimerCatchUp + 20);
}

}  // namespace
}  // namespace dbx::swf::avm1

namespace dbx::swf::avm1 {
namespace {

using test::Item;

// obj.method(args...) with the result left on the stack.
Asm& CallOn(Asm& a, const std::string& obj, const std::string& method, std::vector<Item> args) {
  for (auto it = args.rbegin(); it != args.rend(); ++it) a.Push({*it});
  a.Push({static_cast<int>(args.size())}).Get(obj).Push({method}).Op(0x52);
  return a;
}

// An empty clip `name` made on the main timeline at `depth`, with a rectangle of `colour` drawn
// from (x0, y0) to (x1, y1) of its own space.
void RectangleClip(Asm& a, const char* name, int depth, int x0, int y0, int x1, int y1,
                   int colour = 0) {
  CallOn(a, "_root", "createEmptyMovieClip", {name, depth}).Op(0x17);
  CallOn(a, name, "beginFill", {colour}).Op(0x17);
  CallOn(a, name, "moveTo", {x0, y0}).Op(0x17);
  CallOn(a, name, "lineTo", {x1, y0}).Op(0x17);
  CallOn(a, name, "lineTo", {x1, y1}).Op(0x17);
  CallOn(a, name, "lineTo", {x0, y1}).Op(0x17);
  CallOn(a, name, "endFill", {}).Op(0x17);
}

// A 10 x 10 square clip "c" at (100, 0) on a main timeline moved to x = 50.
void SquareOnMovedRoot(Asm& a) {
  RectangleClip(a, "c", 1, 0, 0, 10, 10);
  a.Get("c").Push({"_x", 100}).Op(0x4F);
  a.Get("_root").Push({"_x", 50}).Op(0x4F);
}

// A clip's loadVariables with POST sends the clip's variables as they are when the request goes
// (at the next frame); the request is written to the trace when asked. A GET request is not.
TEST(Avm1Loader, APostRequestSendsTheVariablesItFindsWhenItGoes) {
  TempFolder t;
  t.WriteText("movie/vars.txt", "got=yes");
  Asm a;
  a.Op(0x07);  // stop
  CallOn(a, "_root", "createEmptyMovieClip", {"c", 1}).Op(0x17);
  CallOn(a, "_root", "createEmptyMovieClip", {"d", 2}).Op(0x17);
  CallOn(a, "c", "loadVariables", {"vars.txt", "post"}).Op(0x17);
  CallOn(a, "d", "loadVariables", {"vars.txt"}).Op(0x17);
  a.Get("c").Push({"a", "x y&z"}).Op(0x4F);
  a.Get("c").Push({"b", 1}).Op(0x4F);
  a.Get("_root").Push({"onEnterFrame"});
  a.Function("", {}, [](Asm& f) {
    f.Get("c").Push({"got"}).Op(0x4E).Trace();
    f.Get("d").Push({"got"}).Op(0x4E).Trace();
  });
  a.Op(0x4F);
  const std::vector<std::uint8_t> bytes = test::MovieWithScript(a.Build()->bytes, 8, {});
  ScriptedMovie m(bytes, t.movieDir() + "test.swf");
  ASSERT_TRUE(m.ok());
  m.runtime().vm().logFetches = true;
  for (int i = 0; i < 2; ++i) m.stage().Step(i * 33.0);
  const std::vector<std::string> want = {"Navigator::fetch:",
                                         "  URL: vars.txt",
                                         "  Method: POST",
                                         "  Mime-Type: application/x-www-form-urlencoded",
                                         "  Body: b=1&a=x+y%26z",
                                         "yes",
                                         "yes"};
  EXPECT_EQ(m.lines, want);
}

// The pointer stands at the corner of the pixel it is on, and a clip reads it from its place in
// whole pixels; a clip scaled to nothing reads the pointer's whole pixels as twips.
TEST(Avm1Clips, ThePointerIsReadInWholePixelsOfTheStage) {
  Asm a;
  a.Op(0x07);  // stop
  CallOn(a, "_root", "createEmptyMovieClip", {"f", 1}).Op(0x17);
  a.Get("f").Push({"_x", 5.3}).Op(0x4F);
  a.Get("f").Push({"_y", 2.6}).Op(0x4F);
  CallOn(a, "_root", "createEmptyMovieClip", {"z", 2}).Op(0x17);
  a.Get("z").Push({"_xscale", 0}).Op(0x4F);
  // Scaled by a number a file's matrix holds (16.16), at (364.3, 142.1).
  CallOn(a, "_root", "createEmptyMovieClip", {"s", 3}).Op(0x17);
  for (const char* scale : {"_xscale", "_yscale"})
    a.Get("s").Push({scale, 41.99981689453125}).Op(0x4F);
  a.Get("s").Push({"_x", 364.3}).Op(0x4F);
  a.Get("s").Push({"_y", 142.1}).Op(0x4F);
  a.Get("_root").Push({"onEnterFrame"});
  a.Function("", {}, [](Asm& f) {
    for (const char* clip : {"_root", "f", "z", "s"})
      for (const char* axis : {"_xmouse", "_ymouse"}) f.Get(clip).Push({axis}).Op(0x4E).Trace();
  });
  a.Op(0x4F);
  const std::vector<std::uint8_t> bytes = test::MovieWithScript(a.Build()->bytes, 8, {});
  FlashPlayer player;
  std::vector<std::string> lines;
  player.SetTraceSink([&](std::string_view line) { lines.emplace_back(line); });
  player.LoadMovieBytes(bytes.data(), bytes.size());
  player.SetViewportSize({1920, 1080});  // the movie's own size
  player.Play();
  player.Advance(0);
  player.Advance(40);  // the first frame
  player.MouseMove(308, 340);
  lines.clear();
  player.Advance(80);
  // The scaled clip's inverse moves by whole twips (-17333, -6762), and the scaled pointer is
  // rounded to them first (14667, 16191): -133.3 where the exact -133.33 would round to -133.35.
  EXPECT_EQ(lines, (std::vector<std::string>{"308", "340", "303", "337", "15.4", "17", "-133.3",
                                             "471.45"}));
}

// `enabled` is a plain property, true from the prototype: only a false one disables a sprite; one
// set undefined, or deleted back to the prototype's, leaves it taking the pointer.
TEST(Avm1Clips, OnlyAFalseEnabledDisablesASprite) {
  Asm a;
  const char* names[] = {"plain", "off", "undefined", "deleted"};
  for (int i = 0; i < 4; ++i) {
    const std::string n = names[i];
    CallOn(a, "_root", "createEmptyMovieClip", {n, i + 1}).Op(0x17);
    CallOn(a, n, "beginFill", {0}).Op(0x17);
    CallOn(a, n, "lineTo", {10, 0}).Op(0x17);
    CallOn(a, n, "lineTo", {10, 10}).Op(0x17);
    CallOn(a, n, "lineTo", {0, 10}).Op(0x17);
    CallOn(a, n, "endFill", {}).Op(0x17);
    a.Get(n).Push({"_x", 20 * i}).Op(0x4F);
    a.Get(n).Push({"onPress"});
    a.Function("", {}, [n](Asm& f) { f.Push({n}).Trace(); });
    a.Op(0x4F);
  }
  a.Get("off").Push({"enabled", false}).Op(0x4F);
  a.Get("undefined").Push({"enabled", false}).Op(0x4F);
  a.Get("undefined").Push({"enabled", test::Undef{}}).Op(0x4F);
  a.Get("deleted").Push({"enabled", false}).Op(0x4F);
  a.Get("deleted").Push({"enabled"}).Op(0x3A).Op(0x17);
  CallOn(a, "plain", "hasOwnProperty", {"enabled"}).Trace();
  a.Get("deleted").Push({"enabled"}).Op(0x4E).Trace();
  const auto bytes = test::MovieWithScript(a.Build()->bytes, 8, {});
  ScriptedMovie m(bytes);
  ASSERT_TRUE(m.ok());
  m.stage().Step(0);
  for (int i = 0; i < 4; ++i) {
    m.stage().MouseMove((20 * i + 5) * 20, 100);
    m.stage().MouseDown();
    m.stage().MouseUp();
  }
  EXPECT_EQ(m.lines, (std::vector<std::string>{"false", "true", "plain", "undefined", "deleted"}));
}

// What the pointer is over is found again each frame: a button hidden under a still pointer is
// rolled out, shown again rolled over; one disabled under it stays the one it is over, without a
// word, and a press and release on it say nothing. Tab rolls over the button it reaches (rolling
// out what was over, even the same one) until the pointer really moves, and the button with the
// focus hears keys first. The middle button is key 4 to Key.isDown.
TEST(Avm1Clips, WhatThePointerIsOverFollowsTheFrameTheKeyboardAndEnabled) {
  Asm a;
  const char* names[] = {"a", "b"};
  for (int i = 0; i < 2; ++i) {
    const std::string n = names[i];
    RectangleClip(a, names[i], i + 1, 0, 0, 10, 10);
    a.Get(n).Push({"_x", 40 * i}).Op(0x4F);
    a.Get(n).Push({"tabIndex", i + 1}).Op(0x4F);
    for (const char* ev : {"onRollOver", "onRollOut", "onPress", "onRelease", "onKeyDown"}) {
      a.Get(n).Push({ev});
      const std::string line = n + " " + std::string(ev).substr(2);
      a.Function("", {}, [line](Asm& f) { f.Push({line}).Trace(); });
      a.Op(0x4F);
    }
  }
  const auto bytes = test::MovieWithScript(a.Build()->bytes, 8, {});
  ScriptedMovie m(bytes);
  ASSERT_TRUE(m.ok());
  Stage& stage = m.stage();
  stage.Step(0);
  // (The runtime keeps what it compiled by the code's address: each script stays where it is.)
  std::deque<std::vector<std::uint8_t>> scripts;
  auto run = [&](Asm& s) {
    scripts.push_back(s.Build()->bytes);
    m.runtime().RunActions(stage.root(), scripts.back());
  };
  auto set = [&](const char* name, const char* property, bool value) {
    Asm s;
    s.Get(name).Push({property, value}).Op(0x4F);
    run(s);
  };
  auto step = [&](const std::string& mark) {
    m.lines.push_back(mark);
    stage.Step(0);
  };
  stage.MouseMove(100, 100);
  set("a", "_visible", false);
  step("hidden");
  set("a", "_visible", true);
  step("shown");
  set("a", "enabled", false);
  step("disabled");
  stage.MouseDown();
  stage.MouseUp();
  set("a", "enabled", true);
  step("enabled");
  m.lines.push_back("tab");
  stage.KeyDown(9, 9);
  m.lines.push_back("tab");
  stage.KeyDown(9, 9);
  m.lines.push_back("still");
  stage.MouseMove(100, 100);
  step("moved");
  stage.MouseMove(102, 100);
  stage.ButtonHeld(4, true);
  Asm middle;
  middle.Push({4, 1}).Get("Key").Push({"isDown"}).Op(0x52).Trace();
  run(middle);
  stage.ButtonHeld(4, false);
  run(middle);
  const std::vector<std::string> want = {"a RollOver", "hidden",     "a RollOut", "shown",
                                         "a RollOver", "disabled",   "enabled",   "tab",
                                         "a RollOut",  "a RollOver", "tab",       "a KeyDown",
                                         "a RollOut",  "b RollOver", "still",     "moved",
                                         "b RollOut",  "a RollOver", "true",      "false"};
  EXPECT_EQ(m.lines, want);
}

// A display property takes a number from what it is given: undefined, null and an object whose
// valueOf gives no number leave it as it is; an infinite position is the lowest a position can
// be. The name takes the text, asking toString only.
TEST(Avm1Clips, DisplayPropertiesTakeNumbersAndIgnoreWhatIsNone) {
  Asm a;
  SquareOnMovedRoot(a);
  auto setAndTrace = [&](const char* property, const std::function<void(Asm&)>& push) {
    a.Get("c").Push({property});
    push(a);
    a.Op(0x4F);
    a.Get("c").Push({property}).Op(0x4E).Trace();
  };
  auto push = [](Item v) { return [v](Asm& b) { b.Push({v}); }; };
  // {valueOf: function () { trace("valueOf"); return r; }, toString: ...}: an object that says
  // which of its methods are asked.
  auto object = [](Item r) {
    return [r](Asm& b) {
      b.Push({"valueOf"});
      b.Function("", {}, [r](Asm& f) { f.Push({"valueOf"}).Trace().Push({r}).Op(0x3E); });
      b.Push({"toString"});
      b.Function("", {}, [](Asm& f) { f.Push({"toString"}).Trace().Push({"named"}).Op(0x3E); });
      b.Push({2}).Op(0x43);
    };
  };
  setAndTrace("_visible", push(test::Undef{}));
  setAndTrace("_visible", push("0000"));
  setAndTrace("_visible", push(test::Null{}));
  setAndTrace("_visible", object(1));
  setAndTrace("_x", push(test::Undef{}));
  setAndTrace("_x", object("12"));
  setAndTrace("_x", [](Asm& b) { b.Get("Infinity"); });
  a.Get("c").Push({"_name"});
  object(1)(a);
  a.Op(0x4F);
  a.Get("named").Push({"_name"}).Op(0x4E).Trace();  // (the clip is now "named")
  const auto lines = PlayInFolder(a, "", 1);
  EXPECT_EQ(lines,
            (std::vector<std::string>{"true", "false", "false", "valueOf", "true", "100", "valueOf",
                                      "12", "-107374182.4", "toString", "named"}));
}

// The player's settings (quality, focus rectangle, sound buffer) are one for every clip; the
// display properties keep values they cannot draw. Each row sets a property through one clip and
// reads it through the main timeline and the clip "c".
TEST(Avm1Clips, PlayerSettingsAreOneForEveryClip) {
  struct Row {
    const char* on;
    const char* property;
    Item value;  // "Infinity" is read from the global of that name
    const char* root;
    const char* clip;
  };
  const std::vector<Row> common = {
      {"c", "_highquality", 2, "2", "2"},
      {"c", "_highquality", 1.5, "1", "1"},
      {"_root", "_highquality", 0, "0", "0"},
      {"_root", "_highquality", "x", "0", "0"},  // not a number: left as it was
      {"_root", "_highquality", -5, "1", "1"},
      {"_root", "_highquality", "Infinity", "2", "2"},
      {"c", "_quality", "medium", "MEDIUM", "MEDIUM"},
      {"c", "_quality", "fast", "MEDIUM", "MEDIUM"},
      {"c", "_quality", "Low", "LOW", "LOW"},
      {"c", "_highquality", 0.5, "1", "1"},
      {"c", "_soundbuftime", 1.9, "1", "1"},
      {"_root", "_soundbuftime", -7.9, "-7", "-7"},
      {"_root", "_soundbuftime", "x", "-7", "-7"},
      {"_root", "_soundbuftime", "Infinity", "-2147483648", "-2147483648"},
      {"c", "_alpha", 30, "100", "29.6875"},
      {"c", "_xscale", "Infinity", "100", "Infinity"},
      {"c", "_rotation", "Infinity", "0", "NaN"},
      {"c", "_width", 5, "0", "0"},  // infinitely scaled: drawn at no size
  };
  // Before version 6 the focus rectangle is the player's, a number; from 6 the main timeline
  // tells the player's as true or false, other clips have their own (null when not set).
  const std::vector<Row> focus5 = {{"c", "_focusrect", 0, "0", "0"},
                                   {"c", "_focusrect", -2, "1", "1"},
                                   {"_root", "_focusrect", "x", "1", "1"},
                                   {"_root", "_focusrect", test::Null{}, "1", "1"},
                                   {"_root", "_focusrect", 0, "0", "0"}};
  const std::vector<Row> focus6 = {{"_root", "_focusrect", 0, "false", "null"},
                                   {"c", "_focusrect", 1, "false", "true"},
                                   {"_root", "_focusrect", 2, "true", "true"},
                                   {"c", "_focusrect", "", "true", "false"},
                                   {"c", "_focusrect", test::Undef{}, "true", "null"}};
  for (const int version : {5, 6}) {
    SCOPED_TRACE(version);
    std::vector<Row> rows = common;
    const auto& focus = version == 5 ? focus5 : focus6;
    rows.insert(rows.end(), focus.begin(), focus.end());
    Asm a;
    SquareOnMovedRoot(a);
    a.Get("_root").Push({"_x", 0}).Op(0x4F);
    std::vector<std::string> expected;
    for (const Row& r : rows) {
      a.Get(r.on).Push({r.property});
      if (const auto* name = std::get_if<const char*>(&r.value);
          name && std::string_view(*name) == "Infinity")
        a.Get("Infinity");
      else
        a.Push({r.value});
      a.Op(0x4F);
      a.Get("_root").Push({r.property}).Op(0x4E).Trace();
      a.Get("c").Push({r.property}).Op(0x4E).Trace();
      expected.insert(expected.end(), {r.root, r.clip});
    }
    EXPECT_EQ(PlayInFolder(a, "", 1, version), expected);
  }
}

// _width and _height set the scales to the size asked for (and the other size as it is, in whole
// twips) over the size of the content turned but not scaled: a turned clip stretches along its
// own axes, and the other scale takes the rounding of the size it keeps.
TEST(Avm1Clips, SizeSettersScaleByTheTurnedContent) {
  Asm a;
  RectangleClip(a, "r", 1, 0, 0, 100, 50);
  struct Step {
    const char* property;
    double value;
  };
  const Step steps[] = {{"_rotation", 90}, {"_width", 40},     {"_width", 40}, {"_rotation", 0},
                        {"_xscale", 100},  {"_yscale", 33.33}, {"_width", 50}};
  for (const Step& st : steps) {
    a.Get("r").Push({st.property, st.value}).Op(0x4F);
    for (const char* p : {"_width", "_height", "_xscale", "_yscale"})
      a.Get("r").Push({p}).Op(0x4E).Trace();
  }
  const std::vector<std::string> expected = {
      "50",  "100",   "100", "100",    // turned a quarter: 50 wide, 100 high
      "50",  "80",    "80",  "100",    // 40 / 50 across its own x; 100 / 100 down its own y
      "40",  "80",    "80",  "80",     // the height kept (80) over the turned content's 100
      "80",  "40",    "80",  "80",     // turned back
      "100", "40",    "100", "80",     //
      "100", "16.65", "100", "33.33",  // 16.665 px: 333.3 twips, shown as 333
      "50",  "16.65", "50",  "33.3"};  // the height kept is 333 twips of the content's 1000
  EXPECT_EQ(PlayInFolder(a, "", 1), expected);
}

// A size given to a clip with nothing in it scales it to nothing, both ways: what it gets later
// does not show. A child's size is in its parent's space whatever the parent's scale.
TEST(Avm1Clips, ASizeGivenToAnEmptyClipLeavesItNoSize) {
  Asm a;
  CallOn(a, "_root", "createEmptyMovieClip", {"e", 1}).Op(0x17);
  a.Get("e").Push({"_width", 20}).Op(0x4F);
  CallOn(a, "e", "createEmptyMovieClip", {"c", 1}).Op(0x17);
  CallOn(a, "e.c", "beginFill", {0}).Op(0x17);
  CallOn(a, "e.c", "lineTo", {30, 0}).Op(0x17);
  CallOn(a, "e.c", "lineTo", {30, 10}).Op(0x17);
  CallOn(a, "e.c", "endFill", {}).Op(0x17);
  for (const char* p : {"e._xscale", "e._yscale", "e._width", "e._height", "e.c._width"}) {
    a.Push({p}).Op(0x1C).Trace();
  }
  EXPECT_EQ(PlayInFolder(a, "", 1), (std::vector<std::string>{"0", "0", "0", "0", "30"}));
}

// A video stream the timeline places is an object of Video that scripts reach by its name and
// can duplicate; it shows nothing.
TEST(Avm1Clips, ATimelinesVideoIsAVideoObject) {
  // DefineVideoStream 7: 4 frames of 32 x 24, smoothing, codec 4; placed at depth 1 as "vid".
  const std::vector<std::uint8_t> video = {7, 0, 4, 0, 32, 0, 24, 0, 1, 4};
  const std::vector<std::uint8_t> place = {0x22, 1, 0, 7, 0, 'v', 'i', 'd', 0};
  Asm a;
  a.Get("vid").Trace();
  a.Get("vid").Get("Video").Op(0x54).Trace();  // instanceof
  a.Get("vid").Op(0x44).Trace();               // typeof
  a.Push({"vid", "vid2", 16389}).Op(0x24);     // duplicateMovieClip
  a.Get("vid2").Trace();
  EXPECT_EQ(PlayInFolder(a, "", 1, 8, {{60, video}, {26, place}}),
            (std::vector<std::string>{"_level0.vid", "true", "object", "_level0.vid2"}));
}

// A movie that asks for another quality is drawn with it, until the player's setting changes.
TEST(Avm1Clips, TheQualityAScriptSetsIsTheOneDrawn) {
  Asm a;
  a.Get("_root").Push({"_quality", "low"}).Op(0x4F);
  const auto bytes = test::MovieWithScript(a.Build()->bytes, 6);
  FlashPlayer player;
  player.SetQuality2("Best");
  EXPECT_EQ(player.SamplesPerPixel(), 16);
  player.LoadMovieBytes(bytes.data(), bytes.size());
  EXPECT_EQ(player.SamplesPerPixel(), 1);
  EXPECT_EQ(player.Quality2(), "Best");
  player.SetQuality2("medium");
  EXPECT_EQ(player.SamplesPerPixel(), 2);
}

TEST(Avm1Clips, HitTestTakesPointsInTheMainTimelinesSpace) {
  Asm a;
  SquareOnMovedRoot(a);
  for (const Item& x : {Item{105}, Item{155}}) {
    CallOn(a, "c", "hitTest", {x, 5}).Trace();
    CallOn(a, "c", "hitTest", {x, 5, true}).Trace();
  }
  CallOn(a, "c", "hitTest", {"_root"}).Trace();
  CallOn(a, "c", "hitTest", {""}).Trace();  // no clip
  const auto lines = PlayInFolder(a, "", 1);
  EXPECT_EQ(lines, (std::vector<std::string>{"true", "true", "false", "false", "true", "false"}));
}

// An empty clip's bounds are 0x7FFFFFF twips at every corner: divided by 20 exactly in movies
// before version 8; in code of version 8 and later, exactly in the clip's own space and through a
// single-precision float in another clip's.
TEST(Avm1Clips, EmptyBoundsFollowTheVersionAndTheSpace) {
  const char* exact = "6710886.35";
  const char* single = "6710886.4";
  for (const int version : {7, 8, 10}) {
    Asm a;
    CallOn(a, "_root", "createEmptyMovieClip", {"e", 1}).Op(0x17);
    for (const char* space : {"_level0.e", "_root", "_level0.e"}) {
      CallOn(a, "e", "getBounds", {space}).Push({"xMin"}).Op(0x4E).Trace();
      CallOn(a, "e", "getRect", {space}).Push({"yMax"}).Op(0x4E).Trace();
    }
    const auto lines = PlayInFolder(a, "", 1, version);
    const std::vector<std::string> expected =
        version < 8 ? std::vector<std::string>(6, exact)
                    : std::vector<std::string>{exact, exact, single, single, exact, exact};
    EXPECT_EQ(lines, expected) << "version " << version;
  }
}

// Path reads ("e.blendMode") find every property a clip answers, as reads of the member do;
// _lockroot reads false until set.
TEST(Avm1Clips, PathsReadEveryPropertyOfAClip) {
  Asm a;
  CallOn(a, "_root", "createEmptyMovieClip", {"e", 1}).Op(0x17);
  for (const char* p :
       {"e.blendMode", "e.cacheAsBitmap", "e.useHandCursor", "e.filters.length", "e._lockroot"})
    a.Push({p}).Op(0x1C).Trace();
  a.Get("e").Push({"_lockroot", true}).Op(0x4F);
  a.Push({"e._lockroot"}).Op(0x1C).Trace();
  EXPECT_EQ(PlayInFolder(a, "", 1),
            (std::vector<std::string>{"normal", "false", "true", "0", "false", "true"}));
}

// A clip whose movie was unloaded has no frames from the next frame on.
TEST(Avm1Clips, AnUnloadedClipHasNoFrames) {
  Asm a;
  CallOn(a, "_root", "createEmptyMovieClip", {"e", 1}).Op(0x17);
  CallOn(a, "e", "unloadMovie", {}).Op(0x17);
  a.Push({"e._totalframes"}).Op(0x1C).Trace();
  a.Get("_root").Push({"onEnterFrame"});
  a.Function("", {}, [](Asm& f) {
    for (const char* p : {"e._currentframe", "e._totalframes", "e._framesloaded"})
      f.Push({p}).Op(0x1C).Trace();
  });
  a.Op(0x4F);
  EXPECT_EQ(PlayInFolder(a, "", 2), (std::vector<std::string>{"1", "0", "0", "0"}));
}

// getTextSnapshot: the characters of the static texts on the clip's timeline.
TEST(Avm1Clips, ATextSnapshotHoldsTheStaticTextsCharacters) {
  namespace tf = swftest::text_fixtures;
  // Glyphs 0, 1, 2 of the font are 'A', 'B' and ' '.
  const auto text = tf::TextTag(2, {{1, 400, 0x000000FF, 0, 400, {{0, 300}, {1, 300}, {2, 300}}},
                                    {1, 400, 0x000000FF, 0, 800, {{0, 300}, {1, 300}, {0, 300}}}});
  const std::vector<std::uint8_t> place = {0x06, 1, 0, 2, 0, 0x00};
  Asm a;
  CallOn(a, "_root", "getTextSnapshot", {}).StoreRegister(1).Op(0x17);
  a.Push({test::Reg{1}, "getCount"}).Op(0x52).Trace();
  a.Push({4, 1, 2, test::Reg{1}, "getText"}).Op(0x52).Trace();
  a.Push({false, "ba", 0, 3, test::Reg{1}, "findText"}).Op(0x52).Trace();
  a.Push({true, "ba", 0, 3, test::Reg{1}, "findText"}).Op(0x52).Trace();
  a.Push({true, "AB", 2, 3, test::Reg{1}, "findText"}).Op(0x52).Trace();
  CallOn(a, "_root", "createEmptyMovieClip", {"e", 2}).Op(0x17);
  a.Push({0});
  CallOn(a, "e", "getTextSnapshot", {}).Push({"getCount"}).Op(0x52).Trace();
  const auto lines = PlayInFolder(
      a, "", 1, 8,
      {{tf::kDefineFont2, tf::FontTag(1, "Boxes", false)}, {tf::kDefineText2, text}, {26, place}});
  EXPECT_EQ(lines, (std::vector<std::string>{"6", "B A", "4", "-1", "3", "0"}));
}

// XMLSocket: a connection tells onConnect at the next frame, then onData for each message (ended
// by a zero byte, however the bytes come) and onClose when the peer goes; send() ends its text
// with a zero byte; close() ends the connection quietly, in a handler too. Without an opener
// connect() answers false; a connection the opener cannot make tells onConnect(false).
TEST(Avm1System, XmlSocketsTellWhatTheirPeerSends) {
  struct Peer final : SocketPeer {
    std::vector<std::string> chunks;  // one per frame; then the peer closes
    std::string* heard = nullptr;
    bool* closedByMovie = nullptr;
    std::size_t next = 0;
    std::string Receive(bool& closed) override {
      if (next < chunks.size()) return chunks[next++];
      closed = true;
      return {};
    }
    void Send(std::string_view bytes) override { heard->append(bytes); }
    void Close() override { *closedByMovie = true; }
  };
  auto play = [](bool closeOnData, std::vector<std::string> chunks, std::string& heard,
                 bool& closedByMovie, bool opens = true) {
    Asm a;
    a.Push({"s", 0, "XMLSocket"}).Op(0x40).Op(0x3C);
    a.Get("s").Push({"onConnect"});
    a.Function("", {"ok"}, [](Asm& f) {
      f.Push({"connect "}).Get("ok").Op(0x47).Trace();
      CallOn(f, "s", "send", {"hi"}).Op(0x17);
    });
    a.Op(0x4F);
    a.Get("s").Push({"onData"});
    a.Function("", {"d"}, [closeOnData](Asm& f) {
      f.Push({"data "}).Get("d").Op(0x47).Trace();
      if (closeOnData) CallOn(f, "s", "close", {}).Op(0x17);
    });
    a.Op(0x4F);
    a.Get("s").Push({"onClose"});
    a.Function("", {}, [](Asm& f) { f.Push({"closed"}).Trace(); });
    a.Op(0x4F);
    CallOn(a, "s", "connect", {"host", 7}).Trace();
    const auto bytes = test::MovieWithScript(a.Build()->bytes, 8);
    SocketOpener opener = [&, chunks, opens](const std::string& host,
                                             int port) -> std::unique_ptr<SocketPeer> {
      EXPECT_EQ(host, "host");
      EXPECT_EQ(port, 7);
      if (!opens) return nullptr;
      auto p = std::make_unique<Peer>();
      p->chunks = chunks;
      p->heard = &heard;
      p->closedByMovie = &closedByMovie;
      return p;
    };
    ScriptedMovie m(bytes, "", opener);
    for (int i = 0; i < 5; ++i) m.stage().Step(i * 33.0);
    return m.lines;
  };
  std::string heard;
  bool closedByMovie = false;
  using namespace std::string_literals;
  EXPECT_EQ(play(false, {"a\0b"s, "\0\0c"s, "\0"s}, heard, closedByMovie),
            (std::vector<std::string>{"true", "connect true", "data a", "data b", "data ", "data c",
                                      "closed"}));
  EXPECT_EQ(heard, "hi\0"s);
  EXPECT_FALSE(closedByMovie);

  heard.clear();
  EXPECT_EQ(play(true, {"x\0y\0"s}, heard, closedByMovie),
            (std::vector<std::string>{"true", "connect true", "data x"}));
  EXPECT_TRUE(closedByMovie);

  EXPECT_EQ(play(false, {}, heard, closedByMovie, false),
            (std::vector<std::string>{"true", "connect false"}));

  Asm none;
  none.Push({"s", 0, "XMLSocket"}).Op(0x40).Op(0x3C);
  CallOn(none, "s", "connect", {"host", 7}).Trace();
  EXPECT_EQ(PlayInFolder(none, "", 3), (std::vector<std::string>{"false"}));
}

// A level comes before a child of its name; a variable stored on the timeline under the name
// of level 0 comes before the level.
TEST(Avm1Clips, LevelNamesComeBeforeChildrenAndAfterStoredVariables) {
  Asm a;
  CallOn(a, "_root", "createEmptyMovieClip", {"_level0", 1}).Op(0x17);
  a.Get("_root").Push({"_level0"}).Op(0x4E).Trace();
  a.Get("_level0").Trace();
  a.Get("_root").Push({"_level0", 50}).Op(0x4F);
  a.Get("_root").Push({"_level0"}).Op(0x4E).Trace();
  a.Get("_level0").Trace();
  a.Get("_root").Trace();
  const auto lines = PlayInFolder(a, "", 1);
  EXPECT_EQ(lines, (std::vector<std::string>{"_level0", "_level0", "50", "50", "_level0"}));
}

// A listening clip that was removed hears nothing, until a clip takes its path again.
TEST(Avm1Clips, RemovedListenersAreReachedThroughTheirPath) {
  Asm a;
  // o = {}; AsBroadcaster.initialize(o);
  a.Push({"o", 0}).Op(0x43).Op(0x3C);
  a.Get("o").Push({1}).Get("AsBroadcaster").Push({"initialize"}).Op(0x52).Op(0x17);
  for (const char* word : {"first", "second"}) {
    // c = createEmptyMovieClip("c", 1); c.onPing = function() { trace(word); }; o.addListener(c)
    CallOn(a, "_root", "createEmptyMovieClip", {"c", 1}).Op(0x17);
    a.Get("c").Push({"onPing"});
    a.Function("", {}, [word](Asm& f) { f.Push({word}).Trace(); });
    a.Op(0x4F);
    a.Get("c").Push({1}).Get("o").Push({"addListener"}).Op(0x52).Op(0x17);
    CallOn(a, "o", "broadcastMessage", {"onPing"}).Op(0x17);
    CallOn(a, "c", "removeMovieClip", {}).Op(0x17);
    CallOn(a, "o", "broadcastMessage", {"onPing"}).Op(0x17);
  }
  const auto lines = PlayInFolder(a, "", 1);
  // The second clip is listed twice: once as itself, once as the first clip's path.
  EXPECT_EQ(lines, (std::vector<std::string>{"first", "second", "second"}));
}

// setMask answers whether it set or took away a mask; a path is read from the caller's timeline.
TEST(Avm1Clips, SetMaskTellsWhetherItTookTheMask) {
  Asm a;
  CallOn(a, "_root", "createEmptyMovieClip", {"a", 1}).Op(0x17);
  CallOn(a, "_root", "createEmptyMovieClip", {"b", 2}).Op(0x17);
  CallOn(a, "a", "setMask", {"b"}).Trace();
  CallOn(a, "a", "setMask", {"nothing"}).Trace();
  CallOn(a, "a", "setMask", {test::Null{}}).Trace();
  CallOn(a, "a", "setMask", {}).Trace();
  // a.setMask({})
  a.Push({0}).Op(0x43).Push({1}).Get("a").Push({"setMask"}).Op(0x52).Trace();
  const auto lines = PlayInFolder(a, "", 1);
  EXPECT_EQ(lines, (std::vector<std::string>{"true", "false", "true", "undefined", "false"}));
}

TEST(Avm1Clips, PointConversionsTakeNumbersAndGiveWholeTwips) {
  Asm a;
  SquareOnMovedRoot(a);
  auto convert = [&](const char* method, Item x, Item y) {
    a.Push({"p", "x", x, "y", y, 2}).Op(0x43).Op(0x3C);
    a.Get("p").Push({1}).Get("c").Push({method}).Op(0x52).Op(0x17);
    a.Get("p").Push({"x"}).Op(0x4E).Trace();
    a.Get("p").Push({"y"}).Op(0x4E).Trace();
  };
  convert("localToGlobal", 1.0 / 3, 0.26);  // 150.333, 0.26 -> whole twips
  convert("globalToLocal", 151, 2);
  convert("localToGlobal", 1, "2");  // not both numbers: unchanged
  convert("globalToLocal", 1, test::Undef{});
  // Only the point's own x and y count: Object.prototype.y = 2; p = {x: 1} stays as it is.
  a.Get("Object").Push({"prototype"}).Op(0x4E).Push({"y", 2}).Op(0x4F);
  a.Push({"p", "x", 1, 1}).Op(0x43).Op(0x3C);
  a.Get("p").Push({1}).Get("c").Push({"localToGlobal"}).Op(0x52).Op(0x17);
  a.Get("p").Push({"x"}).Op(0x4E).Trace();
  const auto lines = PlayInFolder(a, "", 1);
  EXPECT_EQ(lines, (std::vector<std::string>{"150.35", "0.25", "1", "2", "1", "2", "1", "undefined",
                                             "1"}));
}

TEST(Avm1Clips, CloneSpriteTakesTheFilesDepthUpToItsLimit) {
  Asm a;
  CallOn(a, "_root", "createEmptyMovieClip", {"src", 1}).Op(0x17);
  // duplicateMovieClip in script depths: 0 is the file's 16384, which CloneSprite replaces.
  CallOn(a, "src", "duplicateMovieClip", {"first", 0}).Op(0x17);
  a.Push({"src", "second", 16384}).Op(0x24);
  a.Get("first").Trace();
  CallOn(a, "second", "getDepth", {}).Trace();
  a.Push({"src", "deepest", 2130706428.0}).Op(0x24);
  a.Push({"src", "beyond", 2130706429.0}).Op(0x24);
  a.Get("deepest").Trace();
  a.Get("beyond").Trace();
  const auto lines = PlayInFolder(a, "", 1);
  EXPECT_EQ(lines, (std::vector<std::string>{"undefined", "0", "_level0.deepest", "undefined"}));
}

TEST(Avm1Clips, TransformReadsAndWritesTheClip) {
  Asm a;
  SquareOnMovedRoot(a);
  a.Push({"t"}).Get("c").Push({"transform"}).Op(0x4E).Op(0x3C);
  a.Get("t").Push({"matrix"}).Op(0x4E).Trace();
  a.Get("t").Push({"concatenatedMatrix"}).Op(0x4E).Trace();
  a.Get("t").Push({"pixelBounds"}).Op(0x4E).Trace();
  // A Matrix moves the clip (a = 2, tx = 2); a plain object does nothing.
  a.Get("t").Push({"matrix", 0, 2, 1, 0, 0, 2, 6, "flash"}).Op(0x1C).Push({"geom"}).Op(0x4E);
  a.Push({"Matrix"}).Op(0x53).Op(0x4F);
  a.Get("c").Push({"_x"}).Op(0x4E).Trace();
  a.Get("c").Push({"_xscale"}).Op(0x4E).Trace();
  a.Get("t").Push({"matrix", 0}).Op(0x43).Op(0x4F);
  a.Get("c").Push({"_x"}).Op(0x4E).Trace();
  // A colour transform, and the timeline object itself.
  a.Get("t").Push({"colorTransform", 0, 0, 0, 0, 0.5, 1, 1, 1, 8, "flash"}).Op(0x1C);
  a.Push({"geom"}).Op(0x4E).Push({"ColorTransform"}).Op(0x53).Op(0x4F);
  a.Get("c").Push({"_alpha"}).Op(0x4E).Trace();
  a.Push({0, "flash"}).Op(0x1C).Push({"geom"}).Op(0x4E).Push({"Transform"}).Op(0x53).Trace();
  // The timeline's own transform is a variable of its scripts.
  a.Get("transform").Push({"matrix"}).Op(0x4E).Trace();
  const auto lines = PlayInFolder(a, "", 1, 8);
  EXPECT_EQ(lines, (std::vector<std::string>{"(a=1, b=0, c=0, d=1, tx=100, ty=0)",
                                             "(a=1, b=0, c=0, d=1, tx=150, ty=0)",
                                             "(x=150, y=0, w=10, h=10)", "2", "200", "2", "50",
                                             "undefined", "(a=1, b=0, c=0, d=1, tx=50, ty=0)"}));
}

// Pushes `new flash.geom.ColorTransform(args...)`.
Asm& NewColorTransform(Asm& a, const std::vector<test::Item>& args) {
  for (auto it = args.rbegin(); it != args.rend(); ++it) a.Push({*it});
  a.Push({static_cast<int>(args.size()), "flash"}).Op(0x1C).Push({"geom"}).Op(0x4E);
  return a.Push({"ColorTransform"}).Op(0x53);
}

TEST(Avm1Clips, ColorTransformsHoldNumbersAndComposeInSixteenBits) {
  Asm a;
  // Whatever is given is made a number, unclamped; missing values keep their defaults.
  a.Push({"ct"});
  NewColorTransform(a, {"Test123", 2, 1000, 4, "1000.5"}).Op(0x3C);
  a.Get("ct").Trace();
  a.Get("ct").Push({"greenOffset", "-7"}).Op(0x4F);
  a.Get("ct").Push({"greenOffset"}).Op(0x4E).Op(0x44).Trace();
  a.Get("ct").Push({"rgb"}).Op(0x4E).Trace();
  // A clip's concatenated transform: 8.8 multipliers, offsets rounded down and wrapped to 16 bits.
  SquareOnMovedRoot(a);
  a.Get("c").Push({"transform"}).Op(0x4E).Push({"colorTransform"});
  NewColorTransform(a, {1, 1, 1, 1, -3, 0, -523, 0}).Op(0x4F);
  a.Get("_root").Push({"transform"}).Op(0x4E).Push({"colorTransform"});
  NewColorTransform(a, {0.5, 1, 127.5, 1, 0, 10, 0, 0}).Op(0x4F);
  a.Get("c").Push({"transform"}).Op(0x4E).Push({"concatenatedColorTransform"}).Op(0x4E).Trace();
  const auto lines = PlayInFolder(a, "", 1, 8);
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "(redMultiplier=NaN, greenMultiplier=2, blueMultiplier=1000, "
                       "alphaMultiplier=4, redOffset=1000.5, greenOffset=0, blueOffset=0, "
                       "alphaOffset=0)",
                       "number", "15268096",
                       "(redMultiplier=0.5, greenMultiplier=1, blueMultiplier=127.5, "
                       "alphaMultiplier=1, redOffset=-2, greenOffset=10, blueOffset=-1147, "
                       "alphaOffset=0)"}));
}

TEST(Avm1Clips, ColorTintsTheClipItNamesByPath) {
  Asm a;
  SquareOnMovedRoot(a);
  a.Push({"col"}).Get("c").Push({1, "Color"}).Op(0x40).Op(0x3C);
  CallOn(a, "col", "setRGB", {0x336699}).Op(0x17);
  CallOn(a, "col", "getRGB", {}).Trace();
  a.Get("c").Push({"transform"}).Op(0x4E).Push({"colorTransform"}).Op(0x4E).Trace();
  // Only the members given change; multipliers keep 1/256 steps, offsets whole units.
  a.Push({"aa", 50, "rb", -10.7, "ga", 33.3, 3}).Op(0x43);
  a.Push({1}).Get("col").Push({"setTransform"}).Op(0x52).Op(0x17);
  a.Push({"t"});
  CallOn(a, "col", "getTransform", {}).Op(0x3C);
  for (const char* m : {"ra", "rb", "ga", "gb", "aa", "ab"}) a.Get("t").Push({m}).Op(0x4E).Trace();
  a.Get("c").Push({"_alpha"}).Op(0x4E).Trace();
  // The object follows whatever answers to the path; with nothing there it does nothing.
  CallOn(a, "c", "removeMovieClip", {}).Op(0x17);
  CallOn(a, "col", "getRGB", {}).Trace();
  CallOn(a, "col", "setRGB", {1}).Op(0x17);
  CallOn(a, "_root", "createEmptyMovieClip", {"c", 2}).Op(0x17);
  CallOn(a, "col", "getRGB", {}).Trace();
  const auto lines = PlayInFolder(a, "", 1, 8);
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "3368601",
                       "(redMultiplier=0, greenMultiplier=0, blueMultiplier=0, "
                       "alphaMultiplier=1, redOffset=51, greenOffset=102, blueOffset=153, "
                       "alphaOffset=0)",
                       "0", "-10", "33.203125", "102", "50", "0", "50", "undefined", "0"}));
}

TEST(Avm1Clips, ButtonsAndTextFieldsAreObjectsOfTheirClasses) {
  // An empty button 2 placed at depth 1 as "b".
  const std::vector<std::pair<std::uint16_t, std::vector<std::uint8_t>>> button = {
      {34, {2, 0, 0, 0, 0, 0}},
      {26, {0x22, 1, 0, 2, 0, 'b', 0}},
  };
  Asm a;
  a.Get("b").Op(0x44).Trace();
  a.Get("b").Get("Button").Op(0x54).Trace();
  CallOn(a, "b", "getDepth", {}).Trace();
  a.Get("b").Push({"_name"}).Op(0x4E).Trace();
  a.Get("b").Push({"gotoAndStop"}).Op(0x4E).Op(0x44).Trace();
  CallOn(a, "_root", "createTextField", {"t", 2, 0, 0, 10, 10}).Op(0x17);
  a.Get("t").Op(0x44).Trace();
  a.Get("_root").Op(0x44).Trace();
  const auto lines = PlayInFolder(a, "", 1, 8, button);
  EXPECT_EQ(lines, (std::vector<std::string>{"object", "true", "-16383", "b", "undefined", "object",
                                             "movieclip"}));
}

TEST(Avm1Clips, AMirroredMatrixReadsAsPositiveScalesAndARotation) {
  Asm a;
  SquareOnMovedRoot(a);
  // Mirrored across (a = -1) and then upside down (d = -1): both scales read positive, the
  // mirror across as a half turn.
  for (const auto& [ma, md] : {std::pair{-1, 1}, std::pair{1, -1}}) {
    a.Get("c").Push({"transform"}).Op(0x4E).Push({"matrix", 0, 0, md, 0, 0, ma, 6, "flash"});
    a.Op(0x1C).Push({"geom"}).Op(0x4E).Push({"Matrix"}).Op(0x53).Op(0x4F);
    for (const char* p : {"_xscale", "_yscale", "_rotation"}) {
      a.Get("c").Push({p}).Op(0x4E).Trace();
    }
  }
  const auto lines = PlayInFolder(a, "", 1, 8);
  EXPECT_EQ(lines, (std::vector<std::string>{"100", "100", "180", "100", "100", "0"}));
}

TEST(Avm1Clips, ScrollRectTakesAnyObjectAndGivesARectangle) {
  Asm a;
  SquareOnMovedRoot(a);
  a.Get("c").Push({"scrollRect"}).Op(0x4E).Trace();
  // A plain object with the four numbers, read back as a Rectangle.
  a.Get("c").Push({"scrollRect", "x", 1, "y", 2, "width", 3, "height", "4", 4}).Op(0x43).Op(0x4F);
  a.Get("c").Push({"scrollRect"}).Op(0x4E).Trace();
  a.Get("c").Push({"scrollRect"}).Op(0x4E).Push({"width"}).Op(0x4E).Trace();
  // Not an object: the window goes.
  a.Get("c").Push({"scrollRect", 5}).Op(0x4F);
  a.Get("c").Push({"scrollRect"}).Op(0x4E).Trace();
  const auto lines = PlayInFolder(a, "", 1, 8);
  EXPECT_EQ(lines,
            (std::vector<std::string>{"undefined", "(x=1, y=2, w=3, h=4)", "3", "undefined"}));
}

// An empty one-frame sprite 1 exported as "Sym".
const std::vector<std::pair<std::uint16_t, std::vector<std::uint8_t>>> kExportedSprite = {
    {39, {1, 0, 1, 0, 0x40, 0, 0, 0}},  // DefineSprite 1: ShowFrame, End
    {56, {1, 0, 1, 0, 'S', 'y', 'm', 0}},
};

TEST(Avm1Loader, ALoadedOlderMovieKeepsItsVersionAndTimelineInCallsFromNewerCode) {
  // The child (version 5) stores a function on the main timeline; the version 10 parent calls it.
  Asm child;
  child.Set("foo", "child");
  child.Get("this").Push({"getDepth"}).Op(0x4E).Op(0x44).Trace();
  child.Get("_level0").Push({"f"});
  child.Function("", {}, [](Asm& f) {
    f.Get("foo").Trace();
    f.Push({"", 11}).Op(0x22).Trace();                           // _target
    f.Get("this").Push({"getDepth"}).Op(0x4E).Op(0x44).Trace();  // hidden from its code
    f.Get("_level0").Push({"f", 0}).Op(0x4F);                    // once
  });
  child.Op(0x4F);
  const std::vector<std::uint8_t> bytes = test::MovieWithScript(child.Build()->bytes, 5);
  TempFolder t;
  t.Write("movie/child.swf", bytes);
  Asm a;
  CallOn(a, "_root", "createEmptyMovieClip", {"clip", 1}).Op(0x17);
  a.Push({"child.swf", "clip"}).Long(0x9A, {0x40});
  a.Get("_root").Push({"onEnterFrame"});
  a.Function("", {}, [](Asm& f) {
    f.Push({0}).Get("_level0").Push({"f"}).Op(0x52).Op(0x17);
    f.Get("clip").Push({"getDepth"}).Op(0x4E).Op(0x44).Trace();
  });
  a.Op(0x4F);
  const auto lines = PlayInFolder(a, t.movieDir(), 4);
  ASSERT_GE(lines.size(), 5u);
  // The child's own frame, then the parent's call: the function acts on the child's timeline,
  // and the parent still sees the method.
  const std::vector<std::string> want = {"undefined", "child", "/clip", "undefined", "function"};
  auto at = std::find(lines.begin(), lines.end(), "undefined");
  ASSERT_NE(at, lines.end());
  EXPECT_EQ(std::vector<std::string>(at, at + std::min<std::ptrdiff_t>(5, lines.end() - at)), want)
      << ::testing::PrintToString(lines);
}

TEST(Avm1Loader, ALockedRootStaysThroughALoadAndIsTheLoadedMoviesRoot) {
  Asm child;
  // trace(this + " " + _root + " " + this._root)
  child.Get("this").Push({" "}).Op(0x47).Get("_root").Op(0x47).Push({" "}).Op(0x47);
  child.Get("this").Push({"_root"}).Op(0x4E).Op(0x47).Trace();
  const std::vector<std::uint8_t> bytes = test::MovieWithScript(child.Build()->bytes, 8);
  TempFolder t;
  t.Write("movie/child.swf", bytes);
  Asm a;
  a.Op(0x07);  // stop
  CallOn(a, "_root", "createEmptyMovieClip", {"a", 1}).Op(0x17);
  CallOn(a, "_root", "createEmptyMovieClip", {"b", 2}).Op(0x17);
  a.Get("a").Push({"_lockroot", true}).Op(0x4F);
  a.Push({"child.swf", "a"}).Long(0x9A, {0x40});
  a.Push({"child.swf", "b"}).Long(0x9A, {0x40});
  auto lines = PlayInFolder(a, t.movieDir(), 3);
  std::sort(lines.begin(), lines.end());
  EXPECT_EQ(lines, (std::vector<std::string>{"_level0.a _level0.a _level0.a",
                                             "_level0.b _level0 _level0"}));
}

TEST(Avm1Classes, RegisteredClassesByVersionConstructAttachedClips) {
  // Version 6 and older find a class by its name in any case; newer ones only by the same case.
  for (const int version : {6, 7}) {
    Asm a;
    a.Function("C", {},
               [](Asm& f) { f.Push({"ctor "}).Get("this").Push({"k"}).Op(0x4E).Op(0x47).Trace(); });
    a.Push({"C"}).Get("C").Push({"sym", 2}).Get("Object").Push({"registerClass"}).Op(0x52).Op(0x17);
    // The init object's properties are there before the constructor runs.
    a.Push({"k", 5, 1}).Op(0x43).Push({1, "a", "Sym", 4}).Get("_root").Push({"attachMovie"});
    a.Op(0x52).Op(0x17);
    a.Get("a").Push({"__proto__"}).Op(0x4E).Get("C").Push({"prototype"}).Op(0x4E).Op(0x66).Trace();
    a.Get("a").Push({"k"}).Op(0x4E).Trace();
    const auto lines = PlayInFolder(a, "", 1, version, kExportedSprite);
    const std::vector<std::string> want = version < 7
                                              ? std::vector<std::string>{"ctor 5", "true", "5"}
                                              : std::vector<std::string>{"false", "5"};
    EXPECT_EQ(lines, want) << version;
  }
}

// A name is exported from the frame whose tags export it: attachMovie finds nothing before the
// timeline first runs that frame, and finds it from then on (the timeline loops back to frame 1).
TEST(Avm1Classes, AttachMovieFindsAnExportOnceItsFrameRan) {
  auto attach = [](const std::string& name) {
    Asm a;
    a.Push({1, name, "Sym", 3}).Get("_root").Push({"attachMovie"}).Op(0x52).Trace();
    return a.Build()->bytes;
  };
  swftest::SwfWriter sprite(1, 1);
  sprite.ShowFrame();
  swftest::SwfWriter swf(100, 100);
  swf.Sprite(1, sprite, 1);
  swf.DoAction(attach("a"));
  swf.ShowFrame();
  swf.Export(1, "Sym");
  swf.DoAction(attach("b"));
  swf.ShowFrame();
  swf.End();
  const auto bytes = swf.Finish('F', 2);
  ScriptedMovie m(bytes);
  ASSERT_TRUE(m.ok());
  for (int i = 0; i < 3; ++i) m.stage().Step(i * 42.0);
  EXPECT_EQ(m.lines, (std::vector<std::string>{"undefined", "_level0.b", "_level0.a"}));
}

// Ends the movie `swf` and writes it as movie/`name` in the folder.
void WriteMovie(const TempFolder& t, const std::string& name, swftest::SwfWriter& swf) {
  swf.ShowFrame();
  swf.End();
  const auto bytes = swf.Finish();
  t.Write("movie/" + name, bytes);
}

// An ImportAssets2 body: the export `name` of the movie `url` as character `id`.
std::vector<std::uint8_t> ImportTag(const std::string& url, std::uint16_t id,
                                    const std::string& name) {
  std::vector<std::uint8_t> body(url.begin(), url.end());
  const std::vector<std::uint8_t> rest = {
      0, 1, 0, 1, 0, static_cast<std::uint8_t>(id), static_cast<std::uint8_t>(id >> 8)};
  body.insert(body.end(), rest.begin(), rest.end());
  body.insert(body.end(), name.begin(), name.end());
  body.push_back(0);
  return body;
}

// A movie imports an exported sprite of a file beside it under an id of its own: the other
// movie's init actions run with the importing root as `this` (each once, whether its sprite is
// imported or not), and the sprite is placed by its id, attached by its name and duplicated, each
// copy with the other movie's timeline.
TEST(Avm1Classes, ImportedSpritesComeWithTheirMoviesInitActions) {
  TempFolder t;
  auto traced = [](const std::string& text) {
    Asm a;
    a.Push({text}).Get("this").Op(0x47).Trace();
    return a.Build()->bytes;
  };
  swftest::SwfWriter inner(1, 1);
  inner.DoAction(traced("inner "));
  inner.ShowFrame();
  swftest::SwfWriter assets(100, 100);
  assets.Sprite(1, inner, 1);
  assets.Sprite(2, swftest::SwfWriter(1, 1), 0);
  assets.Export(1, "Sym");
  for (const std::uint16_t sprite : {1, 2}) {
    std::vector<std::uint8_t> body = {static_cast<std::uint8_t>(sprite), 0};
    const auto code = traced("init " + std::to_string(sprite) + " ");
    body.insert(body.end(), code.begin(), code.end());
    assets.Tag(59, body);
  }
  WriteMovie(t, "assets.swf", assets);
  // ImportAssets2 "assets.swf": Sym as 7; and one from a file that is not there.
  const auto import = ImportTag("assets.swf", 7, "Sym"), missing = ImportTag("no.swf", 9, "No");
  // The timeline places 7 as "p"; the script attaches Sym as "a", No as "b", and duplicates "a"
  // as "c".
  const std::vector<std::uint8_t> place = {0x22, 5, 0, 7, 0, 'p', 0};
  Asm a;
  a.Push({1, "a", "Sym", 3}).Get("_root").Push({"attachMovie"}).Op(0x52).Trace();
  a.Push({2, "b", "No", 3}).Get("_root").Push({"attachMovie"}).Op(0x52).Trace();
  a.Push({4, "c", 2}).Get("a").Push({"duplicateMovieClip"}).Op(0x52).Op(0x17);
  const auto lines =
      PlayInFolder(a, t.movieDir(), 2, 8, {{71, import}, {71, missing}, {26, place}});
  EXPECT_EQ(lines, (std::vector<std::string>{"init 1 _level0", "init 2 _level0", "inner _level0.p",
                                             "_level0.a", "undefined", "inner _level0.a",
                                             "inner _level0.c"}));
}

// A font imported under an id of the movie's own: a field of that font placed by the timeline
// measures as one of the same font defined in the movie itself.
TEST(Avm1Classes, AnImportedFontServesTheMoviesFields) {
  namespace tf = swftest::text_fixtures;
  TempFolder t;
  swftest::SwfWriter assets(100, 100);
  assets.Tag(tf::kDefineFont2, tf::FontTag(1, "Boxes", false));
  assets.Export(1, "Font");
  WriteMovie(t, "assets.swf", assets);
  // ImportAssets2 "assets.swf": Font as 5; a field of font 5 placed as "f".
  const auto import = ImportTag("assets.swf", 5, "Font");
  tf::EditSpec e;
  e.font = 5;
  e.text = "AB";
  const std::vector<std::uint8_t> place = {0x26, 1, 0, 6, 0, 0x00, 'f', 0};
  Asm a;
  a.Get("f").Push({"textWidth"}).Op(0x4E).Trace();
  const auto imported = PlayInFolder(
      a, t.movieDir(), 1, 8, {{71, import}, {tf::kDefineEditText, tf::EditTag(6, e)}, {26, place}});
  const auto own = PlayInFolder(a, t.movieDir(), 1, 8,
                                {{tf::kDefineFont2, tf::FontTag(5, "Boxes", false)},
                                 {tf::kDefineEditText, tf::EditTag(6, e)},
                                 {26, place}});
  ASSERT_EQ(own.size(), 1u);
  EXPECT_NE(own[0], "0");
  EXPECT_EQ(imported, own);
}

TEST(Avm1Classes, OnConstructHearsEveryNewSpriteAndWhatItThrowsStopsThere) {
  Asm a;
  a.Get("MovieClip").Push({"prototype"}).Op(0x4E).Push({"onConstruct"});
  a.Function("", {}, [](Asm& f) {
    f.Push({"new "}).Get("this").Push({"_name"}).Op(0x4E).Op(0x47).Trace();
    f.Push({"boom"}).Op(0x2A);
  });
  a.Op(0x4F);
  CallOn(a, "_root", "createEmptyMovieClip", {"e", 1}).Op(0x17);
  a.Push({2, "a", "Sym", 3}).Get("_root").Push({"attachMovie"}).Op(0x52).Op(0x17);
  a.Push({"after"}).Trace();
  const auto lines = PlayInFolder(a, "", 1, 8, kExportedSprite);
  const std::vector<std::string> want = {"new e", "Warning: Uncaught exception, boom", "new a",
                                         "Warning: Uncaught exception, boom", "after"};
  EXPECT_EQ(lines, want);
}

// ---- the keyboard focus ----------------------------------------------------------------------

// A movie whose script traces every focus change as "old>new" (Selection listener).
struct FocusMovie {
  static std::vector<std::uint8_t> Bytes() {
    Asm a;
    a.Op(0x07);
    a.Push({"l", 0, "Object"}).Op(0x40).Op(0x3C);
    a.Get("l").Push({"onSetFocus"});
    a.Function("", {"o", "n"},
               [](Asm& f) { f.Get("o").Push({">"}).Op(0x47).Get("n").Op(0x47).Trace(); });
    a.Op(0x4F);
    a.Get("l").Push({1}).Get("Selection").Push({"addListener"}).Op(0x52).Op(0x17);
    return test::MovieWithScript(a.Build()->bytes, 8, {});
  }
  FocusMovie() : m(Bytes()) {
    m.stage().Step(0);
    m.lines.clear();
  }
  // An input text field of 40 x 20 pixels at (x, y) on the main timeline.
  Clip* Field(const char* name, int depth, double x, double y, bool input = true) {
    Clip* c = m.stage().root().CreateTextField(name, depth, x * 20, y * 20, 800, 400);
    if (c && c->field) c->field->input = input;
    return c;
  }
  void Set(Clip* c, const char* name, const Value& v) {
    m.runtime().vm().Set(m.runtime().ScriptObjectOf(c), name, v);
  }
  // The names the focus visits over `n` presses of Tab (with Shift held when `back`).
  std::vector<std::string> Tabs(int n, bool back = false) {
    std::vector<std::string> seen;
    if (back) m.stage().KeyDown(16, 0);
    for (int i = 0; i < n; ++i) {
      m.stage().KeyDown(9, 9);
      m.stage().KeyUp(9, 9);
      seen.push_back(m.runtime().focus ? m.runtime().focus->name : "-");
    }
    if (back) m.stage().KeyUp(16, 0);
    return seen;
  }
  ScriptedMovie m;
};

TEST(Avm1Focus, AutomaticOrderGoesRowByRowAndReachesOneObjectPerSpot) {
  FocusMovie f;
  ASSERT_TRUE(f.m.ok());
  // Depth order differs from the order on the stage on purpose.
  f.Field("b", 1, 100, 10);
  f.Field("c", 2, 10, 50);
  f.Field("a", 3, 10, 10);
  f.Field("c2", 4, 10, 50);  // on the same spot as c, after it in the tree
  f.Field("d", 5, 60, 50);
  f.Field("dyn", 6, 30, 10, false);  // not input text: not reached
  f.Set(f.Field("h", 7, 50, 10), "_visible", Value(false));
  f.Set(f.Field("off", 8, 70, 10), "tabEnabled", Value(false));
  // A clip with tabEnabled is a stop; its children follow it in the tree. Its corner is that of
  // its content (a dynamic field at its origin); its input field stands lower.
  Clip* p = f.m.stage().root().CreateEmpty("p", 9);
  p->SetPosition(0, 90 * 20);
  p->CreateTextField("label", 1, 0, 0, 800, 400);
  p->CreateTextField("t", 2, 200, 400, 800, 400)->field->input = true;
  f.Set(p, "tabEnabled", Value(true));
  EXPECT_EQ(f.Tabs(7), (std::vector<std::string>{"a", "b", "c", "d", "p", "t", "a"}));
  EXPECT_EQ(f.Tabs(4, true), (std::vector<std::string>{"t", "p", "d", "c"}));
  // tabChildren false keeps Tab out of the clip.
  f.Set(p, "tabChildren", Value(false));
  EXPECT_EQ(f.Tabs(3, true), (std::vector<std::string>{"b", "a", "p"}));
  EXPECT_EQ(f.Tabs(1), (std::vector<std::string>{"a"}));
}

TEST(Avm1Focus, TabIndexesOrderAsSignedIntegersAndLeaveOutTheRest) {
  FocusMovie f;
  ASSERT_TRUE(f.m.ok());
  f.Set(f.Field("e1", 1, 0, 0), "tabIndex", Value(2));
  f.Set(f.Field("e2", 2, 0, 30), "tabIndex", Value(4294967293.0));  // -3
  f.Field("e3", 3, 0, 60);                                          // no index: left out
  f.Set(f.Field("e4", 4, 0, 90), "tabIndex", Value(2));             // equal: tree order
  f.Set(f.Field("e5", 5, 0, 120), "tabIndex", Value(0));
  Clip* hidden = f.Field("e6", 6, 0, 150);
  f.Set(hidden, "tabIndex", Value(1));
  f.Set(hidden, "_visible", Value(false));
  f.Set(f.Field("e7", 7, 0, 180, false), "tabIndex", Value(1));  // dynamic text
  EXPECT_EQ(f.Tabs(5), (std::vector<std::string>{"e2", "e5", "e1", "e4", "e2"}));
  EXPECT_EQ(f.Tabs(2, true), (std::vector<std::string>{"e4", "e1"}));
  // From an object outside the order Tab starts at its first one.
  f.m.runtime().SetFocus(f.m.stage().root().ChildNamed("e3"));
  EXPECT_EQ(f.Tabs(1), (std::vector<std::string>{"e2"}));
}

// Tab selects the whole text of the field it reaches, also when the field had the focus already.
TEST(Avm1Focus, TabSelectsTheWholeTextOfTheField) {
  FocusMovie f;
  ASSERT_TRUE(f.m.ok());
  Clip* t = f.Field("t", 1, 10, 10);
  t->field->SetText("hello");
  for (int press = 0; press < 2; ++press) {
    t->field->SetSelection(2, 2);
    EXPECT_EQ(f.Tabs(1), (std::vector<std::string>{"t"}));
    EXPECT_EQ(t->field->SelectionBegin(), 0u) << press;
    EXPECT_EQ(t->field->SelectionEnd(), 5u) << press;
  }
}

// The focused field's selection as scripts read it: none (-1) until something is selected; the
// caret at the end given last, in either order; a missing end is the end of the text, no
// arguments change nothing.
TEST(Avm1Focus, SelectionIndexesFollowWhatWasSelectedLast) {
  FocusMovie f;
  ASSERT_TRUE(f.m.ok());
  Vm& vm = f.m.runtime().vm();
  Clip* t = f.Field("t", 1, 10, 10);
  t->field->SetText("hello world");
  const Value sel = vm.Get(vm.global, "Selection");
  auto call = [&](const char* name, std::vector<Value> args) {
    return vm.CallMethod(sel, name, std::move(args));
  };
  auto indexes = [&] {
    std::vector<double> v;
    for (const char* name : {"getBeginIndex", "getEndIndex", "getCaretIndex"})
      v.push_back(vm.ToNumber(call(name, {})));
    return v;
  };
  EXPECT_EQ(indexes(), (std::vector<double>{-1, -1, -1}));  // nothing focused
  EXPECT_TRUE(vm.ToBool(call("setFocus", {Value(f.m.runtime().ScriptObjectOf(t))})));
  EXPECT_EQ(indexes(), (std::vector<double>{-1, -1, -1}));  // nothing selected yet
  call("setSelection", {Value(5), Value(2)});
  EXPECT_EQ(indexes(), (std::vector<double>{2, 5, 2}));
  call("setSelection", {});
  EXPECT_EQ(indexes(), (std::vector<double>{2, 5, 2}));
  call("setSelection", {Value(3)});
  EXPECT_EQ(indexes(), (std::vector<double>{3, 11, 11}));
}

// Characters typed go into the focused input field at its selection, within maxChars, and the
// field tells onChanged; a field that takes no input takes none.
TEST(Avm1Focus, TypedCharactersGoIntoTheFocusedInputField) {
  FocusMovie f;
  ASSERT_TRUE(f.m.ok());
  Runtime& rt = f.m.runtime();
  Vm& vm = rt.vm();
  Clip* t = f.Field("t", 1, 10, 10);
  Clip* label = f.Field("label", 2, 10, 40, false);
  static int changes = 0;
  changes = 0;
  vm.Method(rt.ScriptObjectOf(t), "onChanged", [](Vm&, CallArgs&) {
    ++changes;
    return Value();
  });
  auto type = [&](std::u32string_view text) {
    for (const char32_t ch : text) f.m.stage().TypeCharacter(ch);
  };
  type(U"x");  // nothing has the focus
  rt.SetFocus(t);
  type(U"h\u00E9llo");
  EXPECT_EQ(t->field->Text(), "h\xC3\xA9llo");
  EXPECT_EQ(changes, 5);
  t->field->SetSelection(1, 3);
  type(U"a");
  EXPECT_EQ(t->field->Text(), "halo");
  t->field->maxChars = 5;
  type(U"ppy");  // one more fits
  EXPECT_EQ(t->field->Text(), "haplo");
  EXPECT_EQ(changes, 7);
  // The caret's moves: a selection collapses to the end it moves to; a caret steps within the
  // text.
  t->field->maxChars = 0;
  t->field->SetSelection(1, 3);
  f.m.stage().MoveCaret(true);
  type(U"!");
  EXPECT_EQ(t->field->Text(), "hap!lo");
  for (int i = 0; i < 9; ++i) f.m.stage().MoveCaret(false);
  type(U"<");
  t->field->SetSelection(2, 4);
  f.m.stage().MoveCaret(false);
  f.m.stage().MoveCaret(true);
  type(U"=");
  for (int i = 0; i < 9; ++i) f.m.stage().MoveCaret(true);
  type(U">");
  EXPECT_EQ(t->field->Text(), "<ha=p!lo>");
  rt.SetFocus(label);
  type(U"z");
  EXPECT_EQ(label->field->Text(), "");
}

// A field's restrict rule filters what is typed and pasted (a character it keeps out may enter in
// its other case); a paste fills what room maxChars leaves and is one change.
TEST(Avm1Focus, RestrictAndMaxCharsFilterTypingAndPasting) {
  FocusMovie f;
  ASSERT_TRUE(f.m.ok());
  Runtime& rt = f.m.runtime();
  Clip* t = f.Field("t", 1, 10, 10);
  static int changes = 0;
  changes = 0;
  rt.vm().Method(rt.ScriptObjectOf(t), "onChanged", [](Vm&, CallArgs&) {
    ++changes;
    return Value();
  });
  rt.SetFocus(t);
  struct Case {
    const char* restrict;  // null: none
    int maxChars;
    std::u32string_view pasted;
    const char* text;
  };
  const Case cases[] = {
      {"bc", 3, U"abc", "bc"},
      {"bc", 3, U"aaa", ""},
      {"bc", 3, U"aAbBcCdD", "bbc"},
      {"bc", 3, U"abcabc", "bcb"},
      {"A-Z", 0, U"Hello, World", "HELLOWORLD"},
      {"^a-z", 0, U"Hello, World", "HELLO, WORLD"},
      {"a-z^aeiou", 0, U"education", "dctn"},
      {"0-9\\-", 0, U"+1-2^3\\", "1-23"},
      {"\\^", 0, U"a^b", "^"},
      {"", 0, U"abc", ""},
      {nullptr, 4, U"h\u00E9\tllo", "h\xC3\xA9ll"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.restrict ? c.restrict : "(none)");
    t->field->SetText("");
    t->field->settings.restrict.reset();
    if (c.restrict) t->field->settings.restrict = c.restrict;
    t->field->maxChars = c.maxChars;
    changes = 0;
    f.m.stage().PasteText(c.pasted);
    EXPECT_EQ(t->field->Text(), c.text);
    EXPECT_EQ(changes, *c.text ? 1 : 0);
    // Typed one by one, the same characters enter.
    t->field->SetText("");
    for (const char32_t ch : c.pasted) f.m.stage().TypeCharacter(ch);
    EXPECT_EQ(t->field->Text(), c.text);
  }
}

// endFill closes an open outline with a straight edge back to its start, stroked like the edges
// drawn before it.
TEST(Avm1Clips, EndFillStrokesTheEdgeThatClosesTheOutline) {
  Asm a;
  a.Op(0x07);
  CallOn(a, "_root", "createEmptyMovieClip", {"c", 1}).Op(0x17);
  CallOn(a, "c", "lineStyle", {4, 0xFF0000}).Op(0x17);
  CallOn(a, "c", "beginFill", {0x0000FF}).Op(0x17);
  CallOn(a, "c", "moveTo", {20, 20}).Op(0x17);
  CallOn(a, "c", "lineTo", {60, 20}).Op(0x17);
  CallOn(a, "c", "lineTo", {60, 60}).Op(0x17);
  CallOn(a, "c", "lineTo", {20, 60}).Op(0x17);
  CallOn(a, "c", "endFill", {}).Op(0x17);
  const std::vector<std::uint8_t> bytes = test::MovieWithScript(a.Build()->bytes, 8, {});
  FlashPlayer player;
  player.SetQuality2("Low");
  player.LoadMovieBytes(bytes.data(), bytes.size());
  player.SetViewportSize({1920, 1080});  // the movie's own size
  player.Play();
  player.Advance(0);
  Surface out(1920, 1080);
  player.RenderFrame(out.View());
  auto at = [&](int x, int y) { return out.View().Row(y)[x] & 0xFFFFFF; };
  // The middles of the top, right, bottom and left (closing) sides, and of the inside.
  EXPECT_EQ(at(40, 20), 0xFF0000u);
  EXPECT_EQ(at(60, 40), 0xFF0000u);
  EXPECT_EQ(at(40, 60), 0xFF0000u);
  EXPECT_EQ(at(20, 40), 0xFF0000u);
  EXPECT_EQ(at(40, 40), 0x0000FFu);
}

// Renders the movie's first frame at quality "Low" in a viewport of its own size, w x h.
Surface FirstFrame(const std::vector<std::uint8_t>& bytes, int w, int h) {
  FlashPlayer player;
  player.SetQuality2("Low");
  player.LoadMovieBytes(bytes.data(), bytes.size());
  player.SetViewportSize({w, h});
  player.Play();
  player.Advance(0);
  Surface out(w, h, 0xFF000000);
  player.RenderFrame(out.View());
  return out;
}

// beginBitmapFill: the picture placed by the matrix, repeated or with its edge pixels stretched
// on, unsmoothed by default, and shown as the script changes it after the fill.
TEST(Avm1Clips, BitmapFillsPlaceThePictureByTheMatrixAndFollowItsChanges) {
  Asm a;
  a.Op(0x07);
  // bd = new flash.display.BitmapData(2, 2, false, red); then green, blue and white pixels.
  a.Push({"bd", 0xFF0000, false, 2, 2, 4, "flash"}).Op(0x1C).Push({"display"}).Op(0x4E);
  a.Push({"BitmapData"}).Op(0x53).Op(0x1D);
  CallOn(a, "bd", "setPixel", {1, 0, 0x00FF00}).Op(0x17);
  CallOn(a, "bd", "setPixel", {0, 1, 0x0000FF}).Op(0x17);
  CallOn(a, "bd", "setPixel", {1, 1, 0xFFFFFF}).Op(0x17);
  // Each pixel 10 x 10, the picture's corner at (20, 20) and at (100, 20).
  for (const auto& [name, depth, tx, repeat] :
       {std::tuple{"c", 1, 20, true}, std::tuple{"d", 2, 100, false}}) {
    CallOn(a, "_root", "createEmptyMovieClip", {name, depth}).Op(0x17);
    a.Push({"m", 20, tx, 10, 0, 0, 10, 6, "flash"}).Op(0x1C).Push({"geom"}).Op(0x4E);
    a.Push({"Matrix"}).Op(0x53).Op(0x1D);
    a.Push({repeat}).Get("m").Get("bd").Push({3}).Get(name).Push({"beginBitmapFill"}).Op(0x52);
    a.Op(0x17);
    CallOn(a, name, "moveTo", {tx, 20}).Op(0x17);
    CallOn(a, name, "lineTo", {tx + 60, 20}).Op(0x17);
    CallOn(a, name, "lineTo", {tx + 60, 60}).Op(0x17);
    CallOn(a, name, "lineTo", {tx, 60}).Op(0x17);
    CallOn(a, name, "endFill", {}).Op(0x17);
  }
  // Changed after the fills were made: they show the change.
  CallOn(a, "bd", "setPixel", {0, 0, 0xFFFF00}).Op(0x17);
  const Surface out = FirstFrame(test::MovieWithScript(a.Build()->bytes, 8, {}), 1920, 1080);
  auto at = [&](int x, int y) { return out.View().Row(y)[x] & 0xFFFFFF; };
  const struct {
    int x, y;
    std::uint32_t colour;
  } expected[] = {
      // Repeated: the four pixels, and again 20 pixels on either way.
      {25, 25, 0xFFFF00},
      {35, 25, 0x00FF00},
      {25, 35, 0x0000FF},
      {35, 35, 0xFFFFFF},
      {45, 25, 0xFFFF00},
      {55, 45, 0x00FF00},
      {75, 55, 0xFFFFFF},
      {65, 45, 0xFFFF00},
      // Not repeated: the right column and the bottom row stretch on.
      {105, 25, 0xFFFF00},
      {115, 35, 0xFFFFFF},
      {145, 25, 0x00FF00},
      {155, 55, 0xFFFFFF},
      {105, 55, 0x0000FF},
  };
  for (const auto& e : expected)
    EXPECT_EQ(at(e.x, e.y), e.colour) << e.x << "," << e.y << ": " << std::hex << at(e.x, e.y);
}

// A clip of three shapes (a red square at its top left corner, a blue one at its top right, a
// green bar across), 100 x 60 pixels at (10, 10), with a nine-part grid of x 20..80, stretched to
// three times its width: its corners keep their size, the bar stretches over the whole width.
// The grid comes from the file (DefineScalingGrid) or from a script (scale9Grid), which also
// reads it back and takes it away.
TEST(Avm1Clips, ANinePartGridKeepsTheCornersOfAStretchedClip) {
  auto square = [](int x0, int y0, int x1, int y1) {
    return std::vector<swftest::PathOp>{{swftest::PathOp::kMove, x0 * 20, y0 * 20},
                                        {swftest::PathOp::kLine, x1 * 20, y0 * 20},
                                        {swftest::PathOp::kLine, x1 * 20, y1 * 20},
                                        {swftest::PathOp::kLine, x0 * 20, y1 * 20},
                                        {swftest::PathOp::kLine, x0 * 20, y0 * 20}};
  };
  for (const bool fromScript : {false, true}) {
    swftest::SwfWriter w(320, 100);
    w.SetVersion(8);
    w.Background(0, 0, 0);
    w.SolidShape(1, 0xFF0000FF, square(0, 0, 20, 20));
    w.SolidShape(2, 0x0000FFFF, square(80, 0, 100, 20));
    w.SolidShape(3, 0x00FF00FF, square(0, 40, 100, 60));
    swftest::SwfWriter inner(1, 1);
    for (std::uint16_t id = 1; id <= 3; ++id) inner.Place(id, id);
    inner.ShowFrame();
    w.Sprite(10, inner, 1);
    if (!fromScript) {
      swftest::BitWriter grid;
      grid.U16(10);
      grid.Rect(20 * 20, 80 * 20, 20 * 20, 40 * 20);
      w.Tag(78, grid.Take());
    }
    swftest::SwfWriter::Place2Args p;
    p.character = 10;
    p.translate = std::pair{200, 200};
    p.name = "s";
    w.Place2(p);
    Asm a;
    if (fromScript) {
      a.Get("s").Push({"scale9Grid", 20, 60, 20, 20, 4, "flash"}).Op(0x1C).Push({"geom"});
      a.Op(0x4E).Push({"Rectangle"}).Op(0x53).Op(0x4F);
    }
    a.Get("s").Push({"_xscale", 300}).Op(0x4F);
    w.DoAction(a.Build()->bytes);
    w.ShowFrame();
    w.End();
    const Surface out = FirstFrame(w.Finish(), 320, 100);
    auto at = [&](int x, int y) { return out.View().Row(y)[x] & 0xFFFFFF; };
    const struct {
      int x, y;
      std::uint32_t colour;
    } expected[] = {{25, 15, 0xFF0000},  {40, 15, 0},        {270, 15, 0},
                    {300, 15, 0x0000FF}, {15, 60, 0x00FF00}, {305, 60, 0x00FF00}};
    for (const auto& e : expected)
      EXPECT_EQ(at(e.x, e.y), e.colour) << (fromScript ? "script " : "file ") << e.x << "," << e.y
                                        << ": " << std::hex << at(e.x, e.y);
  }
  // Read back, and taken away.
  Asm a;
  CallOn(a, "_root", "createEmptyMovieClip", {"c", 1}).Op(0x17);
  a.Get("c").Push({"scale9Grid"}).Op(0x4E).Trace();
  a.Get("c").Push({"scale9Grid", 20, 60, 20, 20, 4, "flash"}).Op(0x1C).Push({"geom"});
  a.Op(0x4E).Push({"Rectangle"}).Op(0x53).Op(0x4F);
  a.Get("c").Push({"scale9Grid"}).Op(0x4E).Trace();
  a.Get("c").Push({"scale9Grid", test::Undef{}}).Op(0x4F);
  a.Get("c").Push({"scale9Grid"}).Op(0x4E).Trace();
  EXPECT_EQ(PlayInFolder(a, "", 1, 8),
            (std::vector<std::string>{"undefined", "(x=20, y=20, w=60, h=20)", "undefined"}));
}

// LocalConnection within the player: a name (of any case) reaches the object connected to it at
// the next frame, with its arguments copied as the wire carries them; the sender hears whether
// anyone was there.
TEST(Avm1System, LocalConnectionsCarryCopiesToTheNextFrame) {
  Asm a;
  a.Op(0x07);
  for (const char* name : {"r", "s"}) a.Push({name, 0, "LocalConnection"}).Op(0x40).Op(0x3C);
  CallOn(a, "r", "connect", {"Chan"}).Trace();
  CallOn(a, "s", "connect", {"chan"}).Trace();   // taken
  CallOn(a, "r", "connect", {"other"}).Trace();  // connected already
  CallOn(a, "s", "connect", {5}).Trace();        // not a name
  a.Get("r").Push({"got"});
  a.Function("", {"n", "text", "list", "when", "clip", "fn", "o1", "o2"}, [](Asm& f) {
    for (const char* v : {"n", "text", "list"}) f.Get(v).Trace();
    CallOn(f, "when", "getTime", {}).Trace();
    f.Get("clip").Trace();
    f.Get("fn").Op(0x44).Trace();
    f.Get("fn").Push({"k"}).Op(0x4E).Trace();
    f.Get("o1").Get("o2").Op(0x49).Trace();
    f.Get("o1").Push({"k"}).Op(0x4E).Trace();
    CallOn(f, "r", "close", {}).Op(0x17);
  });
  a.Op(0x4F);
  a.Get("s").Push({"onStatus"});
  a.Function("", {"info"}, [](Asm& f) { f.Get("info").Push({"level"}).Op(0x4E).Trace(); });
  a.Op(0x4F);
  a.Push({"obj", "k", "v", 1}).Op(0x43).Op(0x3C);
  a.Push({"fn"}).Function("", {}, [](Asm&) {}).Op(0x3C);
  a.Get("fn").Push({"k", 9}).Op(0x4F);
  // s.send("CHAN", "got", 7, "two", [1, [2, 3]], new Date(5), _root, fn, obj, obj)
  a.Get("obj").Get("obj").Get("fn").Get("_root");
  a.Push({5, 1, "Date"}).Op(0x40);
  a.Push({3, 2, 2}).Op(0x42).Push({1, 2}).Op(0x42);
  a.Push({"two", 7, "got", "CHAN", 10}).Get("s").Push({"send"}).Op(0x52).Trace();
  CallOn(a, "s", "send", {"nobody", "got"}).Trace();
  CallOn(a, "s", "send", {"chan", "connect"}).Trace();  // the connection's own method
  CallOn(a, "s", "send", {"chan", "got"}).Trace();      // closed by the first one's call
  a.Push({"sent"}).Trace();
  const auto lines = PlayInFolder(a, "", 2);
  const std::vector<std::string> want = {"true",   "false",     "false",  "false", "true", "true",
                                         "false",  "true",      "sent",   "7",     "two",  "1,2,3",
                                         "5",      "undefined", "object", "9",     "true", "v",
                                         "status", "error",     "error"};
  EXPECT_EQ(lines, want);
}

// Tab shows a yellow frame 3 pixels wide just inside the bounds of the clip it reaches, until the
// pointer moves or its left or right button is used (not the middle one); _focusrect turns it
// off for a clip or for the player, and a text field shows none.
TEST(Avm1Focus, TabShowsAFocusRectangleUntilThePointerIsUsed) {
  Asm a;
  a.Op(0x07);
  RectangleClip(a, "c", 1, 10, 10, 30, 30, 0x0000FF);
  a.Get("c").Push({"tabEnabled", true}).Op(0x4F);
  const std::vector<std::uint8_t> bytes = test::MovieWithScript(a.Build()->bytes, 8, {});
  FlashPlayer player;
  player.SetQuality2("Low");
  player.LoadMovieBytes(bytes.data(), bytes.size());
  player.SetViewportSize({1920, 1080});  // the movie's own size
  Surface out(1920, 1080);
  // The colours at (10, 10), (12, 12), (13, 13) and (29, 29).
  auto frame = [&] {
    player.RenderFrame(out.View());
    std::vector<Pixel> seen;
    for (const int at : {10, 12, 13, 29}) seen.push_back(out.View().Row(at)[at] & 0xFFFFFF);
    return seen;
  };
  const std::vector<Pixel> plain = {0x0000FF, 0x0000FF, 0x0000FF, 0x0000FF},
                           framed = {0xFFFF00, 0xFFFF00, 0x0000FF, 0xFFFF00};
  auto tab = [&] {
    player.KeyDown(9, 9);
    player.KeyUp(9, 9);
  };
  EXPECT_EQ(frame(), plain);
  tab();
  EXPECT_EQ(frame(), framed);
  player.MouseMove(500, 500);
  EXPECT_EQ(frame(), plain);
  tab();
  player.MouseDown(2, 500, 500);  // the middle button
  player.MouseUp(2, 500, 500);
  EXPECT_EQ(frame(), framed);
  player.MouseDown(1, 500, 500);  // the right one
  EXPECT_EQ(frame(), plain);
  tab();
  player.MouseDown(0, 500, 500);
  EXPECT_EQ(frame(), plain);
  player.MouseUp(0, 500, 500);
  // The clip's own _focusrect (null again: the player's), the player's; a text field shows none.
  FocusMovie f;
  ASSERT_TRUE(f.m.ok());
  Runtime& rt = f.m.runtime();
  Vm& vm = rt.vm();
  const Value made = vm.CallMethod(Value(rt.ScriptObjectOf(&f.m.stage().root())),
                                   "createEmptyMovieClip", {Value("c"), Value(1)});
  Clip* c = ClipOf(made.AsObject());
  ASSERT_NE(c, nullptr);
  f.Set(c, "tabEnabled", Value(true));
  struct Step {
    Clip* on;
    Value value;
    bool shown;
  };
  Clip* root = &f.m.stage().root();
  for (const Step& st : {Step{c, Value(false), false}, Step{c, Value::Null(), true},
                         Step{root, Value(false), false}, Step{c, Value(true), true}}) {
    f.Set(st.on, "_focusrect", st.value);
    f.Tabs(1);
    EXPECT_EQ(rt.FocusRectangle(), st.shown ? c : nullptr);
  }
  Clip* t = f.Field("t", 2, 100, 100);
  rt.SetFocus(nullptr);
  f.Set(c, "tabEnabled", Value(false));
  f.Tabs(1);
  EXPECT_EQ(rt.focus, t);
  EXPECT_EQ(rt.FocusRectangle(), nullptr);
}

TEST(Avm1Focus, ChangesAreHeardAndTheFocusGoesWithItsObject) {
  FocusMovie f;
  ASSERT_TRUE(f.m.ok());
  Runtime& rt = f.m.runtime();
  Clip& root = f.m.stage().root();
  Clip* box = root.CreateEmpty("box", 1);
  Clip* field = box->CreateTextField("t", 1, 0, 0, 800, 400);
  Clip* plain = root.CreateEmpty("plain", 2);
  Clip* label = f.Field("label", 3, 0, 40, false);
  label->field->selectable = false;
  // What Selection.setFocus may give the focus to: any text field, a label too.
  EXPECT_FALSE(rt.TakesFocus(root));
  EXPECT_FALSE(rt.TakesFocus(*plain));
  EXPECT_TRUE(rt.TakesFocus(*label));
  EXPECT_TRUE(rt.TakesFocus(*field));
  f.Set(plain, "focusEnabled", Value(true));
  EXPECT_TRUE(rt.TakesFocus(*plain));

  rt.SetFocus(field);
  rt.SetFocus(field);  // no change, nothing heard
  rt.SetFocus(plain);
  f.Set(plain, "_visible", Value(false));  // hidden: the focus goes
  rt.SetFocus(field);
  box->Remove();  // its field goes with it, still named as it was
  EXPECT_EQ(rt.focus, nullptr);
  const std::vector<std::string> want = {"null>_level0.box.t", "_level0.box.t>_level0.plain",
                                         "_level0.plain>null", "null>_level0.box.t",
                                         "_level0.box.t>null"};
  EXPECT_EQ(f.m.lines, want);
}

}  // namespace
}  // namespace dbx::swf::avm1
