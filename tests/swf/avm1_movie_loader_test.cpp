// Movies loaded into clips and levels from files beside the movie: when they show, what the
// loader hears, what the clip keeps, and that nothing outside the movie's folder is read.
#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>

#include "avm1_asm.h"
#include "swf/avm1/runtime.h"
#include "swf/display/stage.h"
#include "test_support.h"
#include "text_fixtures.h"

namespace dbx::swf::avm1 {
namespace {

namespace fs = std::filesystem;
using test::Asm;

// The movie's folder ("movie") beside files outside it.
struct Folder : swftest::TempFolder {
  Folder() : swftest::TempFolder("dbx-movie-loader", "movie") {}
  std::string movieDir() const { return Dir("movie"); }
};

std::vector<std::uint8_t> MovieOf(Asm& a) {
  return test::MovieWithScript(a.Build()->bytes);
}

// Plays the movie `bytes`, as if it were test.swf in `dir`, for `frames` frames; the lines traced.
std::vector<std::string> PlayBytes(const std::vector<std::uint8_t>& bytes, const std::string& dir,
                                   int frames, ImageLoader* images = nullptr,
                                   ScriptSound* sound = nullptr) {
  auto movie = ParseMovie(bytes.data(), bytes.size(), nullptr);
  EXPECT_TRUE(movie);
  if (!movie) return {};
  Stage stage(*movie);
  std::vector<std::string> lines;
  ScriptHost host{*movie, stage, [&](std::string_view s) { lines.emplace_back(s); },
                  dir + "test.swf"};
  host.images = images;
  host.sound = sound;
  Runtime runtime(host);
  stage.SetScripts(&runtime);
  for (int i = 0; i < frames; ++i) stage.Step(i * 33.0);
  return lines;
}

std::vector<std::string> Play(Asm& code, const std::string& dir, int frames,
                              ImageLoader* images = nullptr, ScriptSound* sound = nullptr) {
  return PlayBytes(MovieOf(code), dir, frames, images, sound);
}

// A movie that traces "<tag> <this>" on its first frame.
std::vector<std::uint8_t> Child(const std::string& tag) {
  Asm c;
  c.Push({tag + " "}).Get("this").Op(0x47).Trace();
  return MovieOf(c);
}

// mcl.<event> = function(mc, code) { trace("<event> " + mc [+ " " + code]); }
void Listen(Asm& a, const std::string& event, bool withCode = false) {
  a.Get("mcl").Push({event});
  a.Function("", {"mc", "code"}, [&](Asm& f) {
    f.Push({event + " "}).Get("mc").Op(0x47);
    if (withCode) f.Push({" "}).Op(0x47).Get("code").Op(0x47);
    f.Trace();
  });
  a.Op(0x4F);
}

TEST(Avm1MovieLoader, ALoadedMovieRunsByItsOwnVersion) {
  // A version 6 movie, where a text that is not a number is false, and a function of it that the
  // main movie (version 10: a text that is not empty is true) calls.
  Asm c;
  c.Push({"child "}).Push({"x"}).Op(0x12).Op(0x12).Op(0x47).Trace();
  c.Get("_global").Push({"f"});
  c.Function("", {}, [](Asm& f) { f.Push({"x"}).Op(0x12).Op(0x12).Op(0x3E); });
  c.Op(0x4F);
  Folder t;
  t.Write("movie/child.swf", test::MovieWithScript(c.Build()->bytes, 6));
  Asm a;
  a.Push({"main "}).Push({"x"}).Op(0x12).Op(0x12).Op(0x47).Trace();
  a.Push({"child.swf", "_level1"}).Long(0x9A, {0});
  a.Get("_root").Push({"onEnterFrame"});
  a.Function("", {}, [](Asm& f) { f.Push({"f "}).Push({0, "f"}).Op(0x3D).Op(0x47).Trace(); });
  a.Op(0x4F);
  const auto lines = Play(a, t.movieDir(), 3);
  EXPECT_EQ(lines, (std::vector<std::string>{"main true", "child false", "f false", "f false"}));
}

TEST(Avm1MovieLoader, LoadsShowAtTheNextFrameAndTellTheLoader) {
  Folder t;
  t.Write("movie/child.swf", Child("child"));
  t.Write("secret.swf", Child("leaked"));
  Asm a;
  a.Push({1, "holder", 2}).Get("this").Push({"createEmptyMovieClip"}).Op(0x52).Op(0x17);
  a.Get("holder").Push({"x", 5}).Op(0x4F);
  a.Push({"mcl", 0, "MovieClipLoader"}).Op(0x40).Op(0x3C);
  for (const char* e : {"onLoadStart", "onLoadComplete", "onLoadInit"}) Listen(a, e);
  Listen(a, "onLoadError", true);
  // trace(mcl.loadClip("child.swf", holder)); a file outside the folder; a target that is no clip.
  a.Get("holder").Push({"child.swf", 2}).Get("mcl").Push({"loadClip"}).Op(0x52).Trace();
  a.Push({"holder", "../secret.swf", 2}).Get("mcl").Push({"loadClip"}).Op(0x52).Trace();
  a.Push({"nothing", "child.swf", 2}).Get("mcl").Push({"loadClip"}).Op(0x52).Trace();
  // loadMovieNum("child.swf", 2), the way a movie asks for it.
  a.Push({"child.swf", "_level2"}).Long(0x9A, {0});
  a.Get("holder").Push({"x"}).Op(0x4E).Trace();
  a.Get("_level2").Trace();
  a.Get("_root").Push({"onEnterFrame"});
  a.Function("", {}, [](Asm& f) {
    f.Push({"frame "}).Get("holder").Push({"x"}).Op(0x4E).Op(0x47);
    f.Push({" "}).Op(0x47).Get("_level2").Op(0x47).Trace();
  });
  a.Op(0x4F);
  const auto lines = Play(a, t.movieDir(), 3);
  const std::vector<std::string> want = {
      // Frame 1: nothing loads yet; the clip keeps its variables.
      "true", "true", "false", "5", "undefined",
      // Frame 2: the loader hears of the load, the movies run their first frames (the latest
      // made first), the clip lost its variables, and onLoadInit comes after the frame's scripts.
      "onLoadStart _level0.holder", "onLoadComplete _level0.holder",
      "onLoadError _level0.holder URLNotFound", "child _level2", "child _level0.holder",
      "frame undefined _level2", "onLoadInit _level0.holder",
      // Frame 3: the loaded movies stay.
      "frame undefined _level2"};
  EXPECT_EQ(lines, want);
}

// Decodes any JPEG data as a 3 x 2 picture, and counts the pictures.
class FakeJpegs final : public ImageLoader {
 public:
  std::optional<Surface> Load(const std::string&) override { return std::nullopt; }
  std::optional<Surface> Decode(const std::uint8_t*, std::size_t) override {
    ++decodes;
    return Surface(3, 2);
  }
  int decodes = 0;
};

TEST(Avm1MovieLoader, LoadedPicturesShowInTheirClipsAtTheirOwnSize) {
  Folder t;
  t.Write("movie/pic.png",
          swftest::EncodePng({7, 5, 2, 8, false, std::vector<std::uint32_t>(105, 90), {}, {}}));
  swftest::GifSpec gif;
  gif.screenWidth = gif.width = 9;
  gif.screenHeight = gif.height = 4;
  gif.palette = {1, 2, 3, 4, 5, 6};
  gif.indexes.assign(36, 1);
  t.Write("movie/pic.gif", swftest::EncodeGif(gif));
  t.Write("movie/pic.jpg", {0xFF, 0xD8, 0xFF, 0xE0, 0, 2, 0xFF, 0xD9});
  t.Write("movie/junk.png", {0x89, 'P', 'N', 'G', 1, 2, 3});
  // A movie with a JPEG picture of its own (DefineBitsJPEG2), which its loader decodes too.
  swftest::SwfWriter child(10, 10);
  child.Tag(21, {1, 0, 0xFF, 0xD8, 0xFF, 0xD9}, true);
  child.ShowFrame();
  child.End();
  t.Write("movie/child.swf", child.Finish());
  Asm a;
  a.Push({"mcl", 0, "MovieClipLoader"}).Op(0x40).Op(0x3C);
  // mcl.onLoadInit = function(mc) { trace(mc + " " + mc._width + "x" + mc._height); }
  a.Get("mcl").Push({"onLoadInit"});
  a.Function("", {"mc"}, [](Asm& f) {
    f.Get("mc").Push({" "}).Op(0x47).Get("mc").Push({"_width"}).Op(0x4E).Op(0x47);
    f.Push({"x"}).Op(0x47).Get("mc").Push({"_height"}).Op(0x4E).Op(0x47).Trace();
  });
  a.Op(0x4F);
  int depth = 1;
  for (const char* file : {"pic.png", "pic.gif", "pic.jpg", "junk.png", "child.swf"}) {
    const std::string name = std::string("c") + std::to_string(depth);
    a.Push({depth++, name, 2}).Get("this").Push({"createEmptyMovieClip"}).Op(0x52).Op(0x17);
    a.Get(name).Push({file, 2}).Get("mcl").Push({"loadClip"}).Op(0x52).Op(0x17);
  }
  FakeJpegs jpegs;
  const auto lines = Play(a, t.movieDir(), 3, &jpegs);
  // The latest clip hears first; a file that is neither movie nor picture leaves its clip empty.
  EXPECT_EQ(lines, (std::vector<std::string>{"_level0.c5 0x0", "_level0.c4 0x0", "_level0.c3 3x2",
                                             "_level0.c2 9x4", "_level0.c1 7x5"}));
  EXPECT_EQ(jpegs.decodes, 2);
}

// Loads every file that exists as a sound that never plays.
class SilentSounds final : public ScriptSound {
 public:
  std::uint32_t LoadFile(const std::string& path) override {
    return fs::exists(path) ? ++loaded : 0;
  }
  std::uint32_t LoadBlocks(const SoundFormat&,
                           const std::vector<std::vector<std::uint8_t>>&) override {
    return 0;
  }
  std::uint32_t Handle(const Movie&, std::uint16_t id) override { return id; }
  double DurationMs(std::uint32_t) override { return 1000; }
  int Start(std::uint32_t, double, int, const SoundLevels&) override { return 0; }
  void Stop(int) override {}
  void StopAll() override {}
  bool Playing(int) const override { return false; }
  double PositionMs(int) const override { return 0; }
  void SetLevels(int, const SoundLevels&) override {}
  void SetMasterLevels(const SoundLevels&) override {}
  std::uint32_t loaded = 0;
};

// An ID3 2.3 tag of Latin-1 text frames, then a few bytes of sound.
std::vector<std::uint8_t> TaggedSound(
    const std::vector<std::pair<std::string, std::string>>& frames) {
  std::vector<std::uint8_t> body;
  for (const auto& [id, text] : frames) {
    body.insert(body.end(), id.begin(), id.end());
    const std::size_t n = text.size() + 1 + (id == "COMM" ? 4 : 0);
    body.insert(body.end(), {0, 0, 0, static_cast<std::uint8_t>(n), 0, 0, 0});
    if (id == "COMM") body.insert(body.end(), {'e', 'n', 'g', 0});
    body.insert(body.end(), text.begin(), text.end());
  }
  std::vector<std::uint8_t> file = {'I', 'D', '3', 3, 0,
                                    0,   0,   0,   0, static_cast<std::uint8_t>(body.size())};
  file.insert(file.end(), body.begin(), body.end());
  file.insert(file.end(), {0xFF, 0xFB, 0x90, 0});
  return file;
}

TEST(Avm1MovieLoader, ASoundsId3IsReadBeforeItsLoadIsTold) {
  Folder t;
  t.Write(
      "movie/tagged.mp3",
      TaggedSound(
          {{"TIT2", "Song"}, {"COMM", "one"}, {"TPE1", "Band"}, {"COMM", "two"}, {"TLEN", "300"}}));
  t.Write("movie/bare.mp3", {0xFF, 0xFB, 0x90, 0});
  // For each of tagged.mp3 and bare.mp3, and once with an id3 of the script's own:
  //   s = new Sound(); s.onID3 = function(a) { trace("id3 " + a); for (p in s.id3) trace(...) }
  //   s.onLoad = function(ok) { s.id3 = "x"; trace("load " + ok + " " + s.id3.artist); }
  auto test = [](Asm& a, const char* file, bool own) {
    a.Push({"s", 0, "Sound"}).Op(0x40).Op(0x3C);
    if (own) a.Get("s").Push({"id3", "mine"}).Op(0x4F);
    a.Get("s").Push({"onID3"});
    a.Function("", {"a"}, [](Asm& f) {
      f.Push({"id3 "}).Get("a").Op(0x47).Push({" "}).Op(0x47).Get("s").Push({"id3"}).Op(0x4E);
      f.Op(0x47).Trace();
      // for (p in s.id3) trace(p + "=" + s.id3[p]);
      f.Get("s").Push({"id3"}).Op(0x4E).Op(0x55);
      f.Label("next").StoreRegister(0).Push({test::Null{}}).Op(0x49).If("done");
      f.Push({test::Reg{0}}).Push({"="}).Op(0x47).Get("s").Push({"id3"}).Op(0x4E);
      f.Push({test::Reg{0}}).Op(0x4E).Op(0x47).Trace().Jump("next");
      f.Label("done");
    });
    a.Op(0x4F);
    a.Get("s").Push({"onLoad"});
    a.Function("", {"ok"}, [](Asm& f) {
      f.Get("s").Push({"id3", "x"}).Op(0x4F);
      f.Push({"load "}).Get("ok").Op(0x47).Push({" "}).Op(0x47);
      f.Get("s").Push({"id3"}).Op(0x4E).Push({"artist"}).Op(0x4E).Op(0x47).Trace();
    });
    a.Op(0x4F);
    a.Push({file, 1}).Get("s").Push({"loadSound"}).Op(0x52).Op(0x17);
  };
  Asm a;
  test(a, "tagged.mp3", false);
  SilentSounds sound;
  auto lines = Play(a, t.movieDir(), 2, nullptr, &sound);
  // The frames last first, each before its older name, a frame that comes again where it came
  // first; a comment twice is an array of both; the object has no prototype (it reads as
  // undefined); a script cannot replace it. An id3 of the script's own stays.
  EXPECT_EQ(lines, (std::vector<std::string>{"id3 true undefined", "TLEN=300", "TPE1=Band",
                                             "artist=Band", "COMM=one,two", "comment=two",
                                             "TIT2=Song", "songname=Song", "load true Band"}));
  Asm bare;
  test(bare, "bare.mp3", false);
  lines = Play(bare, t.movieDir(), 2, nullptr, &sound);
  EXPECT_EQ(lines, (std::vector<std::string>{"load true undefined"}));
  Asm own;
  test(own, "tagged.mp3", true);
  lines = Play(own, t.movieDir(), 2, nullptr, &sound);
  EXPECT_EQ(lines, (std::vector<std::string>{"id3 true mine", "load true undefined"}));
}

// The clip actions of a PlaceObject2 (32-bit event flags) with one handler for `event`.
std::vector<std::uint8_t> ClipActionOn(ClipEvent event, Asm& handler) {
  const std::vector<std::uint8_t> code = handler.Build()->bytes;
  std::vector<std::uint8_t> actions = {0, 0};
  for (int twice = 0; twice < 2; ++twice)
    for (int i = 0; i < 4; ++i)
      actions.push_back(static_cast<std::uint8_t>(static_cast<std::uint32_t>(event) >> (8 * i)));
  for (int i = 0; i < 4; ++i) actions.push_back(static_cast<std::uint8_t>(code.size() >> (8 * i)));
  actions.insert(actions.end(), code.begin(), code.end());
  actions.insert(actions.end(), {0, 0, 0, 0});
  return actions;
}

TEST(Avm1MovieLoader, AClipKeepsItsLoadedMovieWhenTheTimelineGoesBack) {
  Folder t;
  t.Write("movie/child.swf", Child("child"));
  // An empty sprite placed as "holder" on frame 1 with onClipEvent(load) { trace("load") }.
  Asm onLoad;
  onLoad.Push({"load"}).Trace();
  const std::vector<std::uint8_t> actions = ClipActionOn(ClipEvent::kLoad, onLoad);
  swftest::SwfWriter w(100, 100);
  swftest::SwfWriter empty(1, 1);
  empty.ShowFrame();
  w.Sprite(2, empty, 1);
  w.Place2({.depth = 1,
            .character = 2,
            .move = false,
            .translate = {},
            .ratio = {},
            .name = "holder",
            .clipActions = actions});
  // Frame 1, once: loadMovie("child.swf", "holder"). Frame 2: trace("frame 2").
  // Frame 3: gotoAndPlay(1).
  Asm first;
  first.Get("started").If("done");
  first.Set("started", true);
  first.Push({"child.swf", "holder"}).Long(0x9A, {0x40});
  first.Label("done");
  w.DoAction(first.Build()->bytes);
  w.ShowFrame();
  Asm second;
  second.Push({"frame 2"}).Trace();
  w.DoAction(second.Build()->bytes);
  w.ShowFrame();
  Asm third;
  third.Long(0x81, {0, 0}).Op(0x06);
  w.DoAction(third.Build()->bytes);
  w.ShowFrame();
  w.End();
  const auto lines = PlayBytes(w.Finish('F', 3), t.movieDir(), 6);
  // The loaded movie's clip hears its load before the movie's first frame runs; going back to
  // frame 1 keeps the clip (no second load) and its movie (nothing runs its first frame again).
  const std::vector<std::string> want = {"load",    "load",    "child _level0.holder",
                                         "frame 2", "frame 2", "frame 2"};
  EXPECT_EQ(lines, want);
}

// A sprite that answers its unload event (a clip action, an onUnload method) and that the
// timeline removes stays behind everything else, at depth -depth - 1, while the frame's scripts
// run, and leaves once its event has run; one that does not answer it leaves at once.
TEST(Avm1MovieLoader, ARemovedClipThatAnswersUnloadWaitsForItsEventBehindTheOthers) {
  swftest::SwfWriter w(100, 100);
  swftest::SwfWriter empty(1, 1);
  empty.ShowFrame();
  w.Sprite(2, empty, 1);
  auto place = [&w](std::uint16_t depth, const std::string& name,
                    std::vector<std::uint8_t> actions) {
    w.Place2({.depth = depth,
              .character = 2,
              .move = false,
              .translate = {},
              .ratio = {},
              .name = name,
              .clipActions = std::move(actions)});
  };
  Asm onUnload;
  onUnload.Push({"c unload"}).Trace();
  place(1, "c", ClipActionOn(ClipEvent::kUnload, onUnload));
  place(3, "d", {});
  place(5, "e", {});
  Asm first;
  first.Get("d").Push({"onUnload"}).Function("", {}, [](Asm& f) { f.Push({"d unload"}).Trace(); });
  first.Op(0x4F);
  w.DoAction(first.Build()->bytes);
  w.ShowFrame();
  // Frame 2: the script, then the three removed; a new "c" comes to depth 1.
  auto depthOf = [](Asm& a, const std::string& name) {
    a.Push({0}).Get(name).Push({"getDepth"}).Op(0x52).Trace();
  };
  Asm second;
  depthOf(second, "c");
  depthOf(second, "d");
  second.Get("e").Op(0x44).Trace();
  w.DoAction(second.Build()->bytes);
  w.Remove(1);
  w.Remove(3);
  w.Remove(5);
  place(1, "c", {});
  w.ShowFrame();
  Asm third;
  depthOf(third, "c");
  third.Get("d").Op(0x44).Trace();
  w.DoAction(third.Build()->bytes);
  w.ShowFrame();
  w.End();
  const auto lines = PlayBytes(w.Finish('F', 3), "", 3);
  const std::vector<std::string> want = {"-16386",   "-16388", "undefined", "c unload",
                                         "d unload", "-16383", "undefined"};
  EXPECT_EQ(lines, want);
}

TEST(Avm1MovieLoader, UnloadingALevelTakesItAwayAtTheNextFrame) {
  Folder t;
  t.Write("movie/child.swf", Child("child"));
  Asm a;
  a.Push({"child.swf", "_level1"}).Long(0x9A, {0});
  a.Set("n", 0);
  a.Get("_root").Push({"onEnterFrame"});
  a.Function("", {}, [](Asm& f) {
    f.Push({"n"}).Get("n").Op(0x50).Op(0x1D);
    f.Get("_level1").Trace();
    // unloadMovieNum(1) in the second frame.
    f.Get("n").Push({2}).Op(0x49).Op(0x12).If("skip");
    f.Push({"", "_level1"}).Long(0x9A, {0});
    f.Label("skip");
  });
  a.Op(0x4F);
  const auto lines = Play(a, t.movieDir(), 4);
  const std::vector<std::string> want = {"child _level1", "_level1", "_level1", "undefined"};
  EXPECT_EQ(lines, want);
}

TEST(Avm1MovieLoader, AnUnloadCancelsTheLoadAndTheQueryGivesVariables) {
  Folder t;
  t.Write("movie/child.swf", Child("child"));
  {
    // The child traces its variable v.
    Asm c;
    c.Push({"v="}).Get("v").Op(0x47).Trace();
    t.Write("movie/vars.swf", MovieOf(c));
  }
  Asm a;
  for (const char* name : {"a", "b"})
    a.Push({name == std::string("a") ? 1 : 2, name, 2})
        .Get("this")
        .Push({"createEmptyMovieClip"})
        .Op(0x52)
        .Op(0x17);
  a.Push({"mcl", 0, "MovieClipLoader"}).Op(0x40).Op(0x3C);
  // The loader's events go through its broadcastMessage, which the movie replaces here.
  a.Get("mcl").Push({"broadcastMessage"});
  a.Function("", {"event", "mc"},
             [](Asm& f) { f.Get("event").Push({" "}).Op(0x47).Get("mc").Op(0x47).Trace(); });
  a.Op(0x4F);
  // mcl.loadClip("child.swf", a); a.unloadMovie(); mcl.loadClip("vars.swf?v=x%20y", b);
  a.Get("a").Push({"child.swf", 2}).Get("mcl").Push({"loadClip"}).Op(0x52).Op(0x17);
  a.Push({0}).Get("a").Push({"unloadMovie"}).Op(0x52).Op(0x17);
  a.Get("b").Push({"vars.swf?v=x%20y", 2}).Get("mcl").Push({"loadClip"}).Op(0x52).Op(0x17);
  const auto lines = Play(a, t.movieDir(), 3);
  const std::vector<std::string> want = {"onLoadStart _level0.a",
                                         "onLoadStart _level0.b",
                                         "onLoadProgress _level0.b",
                                         "onLoadComplete _level0.b",
                                         "v=x y",
                                         "onLoadInit _level0.b"};
  EXPECT_EQ(lines, want);
}

TEST(Avm1MovieLoader, AMovieFromNoFileLoadsNothing) {
  Asm a;
  a.Push({"child.swf", "_level1"}).Long(0x9A, {0});
  a.Get("_root").Push({"onEnterFrame"});
  a.Function("", {}, [](Asm& f) { f.Get("_level1").Trace(); });
  a.Op(0x4F);
  const std::vector<std::uint8_t> bytes = MovieOf(a);
  auto movie = ParseMovie(bytes.data(), bytes.size(), nullptr);
  ASSERT_TRUE(movie);
  Stage stage(*movie);
  std::vector<std::string> lines;
  ScriptHost host{*movie, stage, [&](std::string_view s) { lines.emplace_back(s); }, ""};
  Runtime runtime(host);
  stage.SetScripts(&runtime);
  for (int i = 0; i < 3; ++i) stage.Step(i * 33.0);
  EXPECT_EQ(lines, (std::vector<std::string>{"undefined", "undefined"}));
}

// A loaded movie's texts find the fonts of that movie, not of the movie that loaded it: a field
// placed by its timeline (font id 1) and one its script makes (font name "Boxes") measure the
// same loaded into a level as when the movie plays alone (the main movie has no fonts).
TEST(Avm1MovieLoader, ALoadedMoviesTextsUseItsOwnFonts) {
  namespace tf = swftest::text_fixtures;
  tf::EditSpec e;
  e.text = "AB";
  Asm c;
  c.Push({"placed "}).Get("f").Push({"textWidth"}).Op(0x4E).Op(0x47).Trace();
  c.Push({200, 100, 0, 0, 5, "made", 6}).Get("this").Push({"createTextField"}).Op(0x52).Op(0x17);
  c.Get("made").Push({"embedFonts", true}).Op(0x4F);
  c.Push({20, "Boxes", 2, "TextFormat"}).Op(0x40).Push({1}).Get("made");
  c.Push({"setNewTextFormat"}).Op(0x52).Op(0x17);
  c.Get("made").Push({"text", "AB"}).Op(0x4F);
  c.Push({"made "}).Get("made").Push({"textWidth"}).Op(0x4E).Op(0x47).Trace();
  const std::vector<std::uint8_t> place = {0x26, 1, 0, 2, 0, 0x00, 'f', 0};
  const auto child = test::MovieWithScript(c.Build()->bytes, 10,
                                           {{tf::kDefineFont2, tf::FontTag(1, "Boxes", false)},
                                            {tf::kDefineEditText, tf::EditTag(2, e)},
                                            {26, place}});
  Folder t;
  t.Write("movie/child.swf", child);
  const auto alone = PlayBytes(child, t.movieDir(), 1);
  ASSERT_EQ(alone.size(), 2u);
  EXPECT_NE(alone[0], "placed 0");
  EXPECT_NE(alone[1], "made 0");
  Asm a;
  a.Push({"child.swf", "_level1"}).Long(0x9A, {0});
  EXPECT_EQ(Play(a, t.movieDir(), 3), alone);
  // Once it has loaded, the main movie's own fields find its fonts by name too (not before).
  a.Get("_root").Push({"onEnterFrame"});
  a.Function("", {}, [](Asm& f) {
    f.Push({200, 100, 0, 0, 9, "mine", 6}).Get("_root").Push({"createTextField"}).Op(0x52);
    f.Op(0x17).Get("mine").Push({"embedFonts", true}).Op(0x4F);
    f.Push({20, "boxes", 2, "TextFormat"}).Op(0x40).Push({1}).Get("mine");
    f.Push({"setNewTextFormat"}).Op(0x52).Op(0x17);
    f.Get("mine").Push({"text", "AB"}).Op(0x4F);
    f.Push({"mine "}).Get("mine").Push({"textWidth"}).Op(0x4E).Op(0x47).Trace();
  });
  a.Op(0x4F);
  a.Push({0}).Get("_root").Push({"onEnterFrame"}).Op(0x52).Op(0x17);
  const std::string mine = "mine " + alone[1].substr(5);
  const auto lines = Play(a, t.movieDir(), 3);
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_NE(lines[0], mine);
  EXPECT_EQ(std::vector(lines.begin() + 1, lines.end()),
            (std::vector<std::string>{alone[0], alone[1], mine, mine}));
}

// BitmapData.loadBitmap in a loaded movie finds the pictures that movie exports.
TEST(Avm1MovieLoader, ALoadedMovieLoadsItsOwnBitmaps) {
  // DefineBitsLossless 1: 3 x 2 pixels (32-bit), exported as "pic".
  std::vector<std::uint8_t> pixels(3 * 2 * 4, 0xFF);
  uLongf size = compressBound(static_cast<uLong>(pixels.size()));
  std::vector<std::uint8_t> packed(size);
  ASSERT_EQ(compress(packed.data(), &size, pixels.data(), static_cast<uLong>(pixels.size())), Z_OK);
  std::vector<std::uint8_t> bits = {1, 0, 5, 3, 0, 2, 0};
  bits.insert(bits.end(), packed.begin(), packed.begin() + static_cast<std::ptrdiff_t>(size));
  const std::vector<std::uint8_t> exported = {1, 0, 1, 0, 'p', 'i', 'c', 0};
  Asm c;
  c.Push({"pic", 1}).Get("flash").Push({"display"}).Op(0x4E).Push({"BitmapData"}).Op(0x4E);
  c.Push({"loadBitmap"}).Op(0x52).Push({"width"}).Op(0x4E).Trace();
  Folder t;
  t.Write("movie/child.swf",
          test::MovieWithScript(c.Build()->bytes, 8, {{20, bits}, {56, exported}}));
  Asm a;
  a.Push({"child.swf", "_level1"}).Long(0x9A, {0});
  EXPECT_EQ(PlayBytes(test::MovieWithScript(a.Build()->bytes, 8), t.movieDir(), 3),
            (std::vector<std::string>{"3"}));
}

}  // namespace
}  // namespace dbx::swf::avm1
