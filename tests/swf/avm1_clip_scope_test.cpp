// How scripts reach clips: targets by reference and by path, the clip a function acts on in each
// version, references to clips that were removed and made again.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "avm1_asm.h"
#include "swf/avm1/runtime.h"
#include "swf/avm1/vm.h"
#include "swf/display/stage.h"
#include "test_support.h"

namespace dbx::swf::avm1 {
namespace {

using swftest::PathOp;
using test::Asm;
using test::Item;

// Plays a movie of `version` whose first frame places a clip named `name` (1 frame, running
// `clipCode`) and whose second frame runs `code`, up to `frames` frames after the first; the
// trace lines.
std::vector<std::string> PlayWithClip(Asm& code, int version, int frames = 1,
                                      const std::string& name = "c", Asm* clipCode = nullptr) {
  swftest::SwfWriter w(100, 100);
  w.SetVersion(static_cast<std::uint8_t>(version));
  swftest::SwfWriter inner(1, 1);
  if (clipCode) inner.DoAction(clipCode->Build()->bytes);
  inner.ShowFrame();
  w.Sprite(2, inner, 1);
  swftest::SwfWriter::Place2Args p;
  p.depth = 1;
  p.character = 2;
  p.name = name;
  w.Place2(p);
  w.ShowFrame();
  w.DoAction(code.Build()->bytes);
  w.ShowFrame();
  w.End();
  const auto bytes = w.Finish();
  auto movie = ParseMovie(bytes.data(), bytes.size(), nullptr);
  EXPECT_TRUE(movie);
  if (!movie) return {};
  Stage stage(*movie);
  std::vector<std::string> lines;
  ScriptHost host{*movie, stage, [&](std::string_view s) { lines.emplace_back(s); }, ""};
  Runtime runtime(host);
  stage.SetScripts(&runtime);
  for (int i = 0; i <= frames; ++i) stage.Step(i * 33.0);
  return lines;
}

Asm& CallOn(Asm& a, const std::string& obj, const std::string& method, std::vector<Item> args) {
  for (auto it = args.rbegin(); it != args.rend(); ++it) a.Push({*it});
  a.Push({static_cast<int>(args.size())}).Get(obj).Push({method}).Op(0x52);
  return a;
}

TEST(Avm1ClipScope, NamedShapesStandForTheirClipAndSlashesEndDottedNames) {
  // Shape "t" on the main timeline, clip "c" holding shape "s"; the script makes c.d.e.
  swftest::SwfWriter w(100, 100);
  w.SetVersion(8);
  w.SolidShape(1, 0xFF0000FF,
               {{PathOp::kMove, 0, 0},
                {PathOp::kLine, 200, 0},
                {PathOp::kLine, 200, 200},
                {PathOp::kLine, 0, 0}});
  swftest::SwfWriter inner(1, 1);
  swftest::SwfWriter::Place2Args p;
  p.character = 1;
  p.name = "s";
  inner.Place2(p);
  inner.ShowFrame();
  w.Sprite(2, inner, 1);
  p.character = 2;
  p.name = "c";
  w.Place2(p);
  p.depth = 2;
  p.character = 1;
  p.name = "t";
  w.Place2(p);
  const std::pair<const char*, const char*> cases[] = {
      {"t", "_level0"},         {"c.s", "_level0.c"},
      {"c/s", "_level0.c"},     {"c:s", "_level0.c"},
      {"c.s._name", "c"},       {"c/d.e", "_level0.c.d.e"},
      {"c.d/e._name", "e"},     {"c/d.e._name", "undefined"},
      {"c.d.e/x", "undefined"}, {"/c/d:e", "_level0.c.d.e"},
  };
  Asm a;
  CallOn(a, "c", "createEmptyMovieClip", {"d", 1}).Op(0x17);
  a.Push({1, "e", 2}).Get("c.d").Push({"createEmptyMovieClip"}).Op(0x52).Op(0x17);
  std::vector<std::string> want;
  for (const auto& [path, traced] : cases) {
    a.Get(path).Trace();
    want.push_back(traced);
  }
  w.DoAction(a.Build()->bytes);
  w.ShowFrame();
  w.End();
  const auto bytes = w.Finish();
  auto movie = ParseMovie(bytes.data(), bytes.size(), nullptr);
  ASSERT_TRUE(movie);
  Stage stage(*movie);
  std::vector<std::string> lines;
  ScriptHost host{*movie, stage, [&](std::string_view s) { lines.emplace_back(s); }, ""};
  Runtime runtime(host);
  stage.SetScripts(&runtime);
  stage.Step(0);
  EXPECT_EQ(lines, want);
}

TEST(Avm1ClipScope, TellTargetOfAClipGoesByItsPath) {
  // Two clips named "d": tellTarget(second) reaches the first, as its path names it.
  Asm a;
  a.Push({"first"});
  CallOn(a, "_root", "createEmptyMovieClip", {"d", 5}).Op(0x3C);
  a.Push({"second"});
  CallOn(a, "_root", "createEmptyMovieClip", {"d", 6}).Op(0x3C);
  a.Get("first").Push({"x", "a"}).Op(0x4F);
  a.Get("second").Push({"x", "b"}).Op(0x4F);
  a.Get("second").Op(0x20).Push({"x"}).Op(0x1C).Trace().Long(0x8B, {0});
  a.Push({"d"}).Op(0x20).Push({"x"}).Op(0x1C).Trace().Long(0x8B, {0});
  EXPECT_EQ(PlayWithClip(a, 6), (std::vector<std::string>{"a", "a"}));
}

TEST(Avm1ClipScope, FunctionsBeforeSwf6ActOnTheCallersTarget) {
  // function f() { trace(_target) } on the main timeline; tellTarget("c") { _root.f(); }
  for (int version : {5, 6}) {
    Asm a;
    a.Function("f", {}, [](Asm& f) { f.Push({"", 11}).Op(0x22).Trace(); });
    a.Long(0x8B, {'c', 0}).Push({0}).Get("_root").Push({"f"}).Op(0x52).Op(0x17);
    a.Long(0x8B, {0});
    EXPECT_EQ(PlayWithClip(a, version), (std::vector<std::string>{version < 6 ? "/c" : "/"}))
        << "SWF " << version;
  }
}

TEST(Avm1ClipScope, ClipNamesFoldEveryCharacterBeforeSwf7) {
  // A clip named "clip\u00E4" is found as "clip\u00C4" in SWF 6, not in SWF 7.
  for (int version : {6, 7}) {
    Asm a;
    a.Push({"this"}).Op(0x1C).Push({"clip\xC3\x84"}).Op(0x4E).Trace();
    EXPECT_EQ(PlayWithClip(a, version, 1, "clip\xC3\xA4"),
              (std::vector<std::string>{version < 7 ? "_level0.clip\xC3\xA4" : "undefined"}))
        << "SWF " << version;
  }
}

TEST(Avm1ClipScope, AReferenceToARemovedClipReachesTheOneNowAtItsPath) {
  Asm a;
  a.Push({"r"});
  CallOn(a, "_root", "createEmptyMovieClip", {"d", 5}).Op(0x3C);
  a.Get("r").Push({"_name", "e"}).Op(0x4F);
  a.Get("r").Trace();
  CallOn(a, "r", "removeMovieClip", {}).Op(0x17);
  CallOn(a, "_root", "createEmptyMovieClip", {"d", 6}).Op(0x17);
  a.Get("r").Trace();  // the path it had when it was made, not its last name
  a.Get("r").Push({"x", 1}).Op(0x4F);
  a.Get("d").Push({"x"}).Op(0x4E).Trace();
  EXPECT_EQ(PlayWithClip(a, 8), (std::vector<std::string>{"_level0.e", "_level0.d", "1"}));
}

TEST(Avm1ClipScope, LevelNamesTakeTheNumberAfterLevel) {
  // The number runs up to the first other character and wraps as a signed 32-bit one; a name
  // with a path in it is not a level's name.
  const std::pair<const char*, const char*> cases[] = {{"_level0", "_level0"},
                                                       {"_level00", "_level0"},
                                                       {"_level0undefined", "_level0"},
                                                       {"_LEVEL0", "_level0"},
                                                       {"_flash0a", "_level0"},
                                                       {"_level", "_level0"},
                                                       {"_level4294967296", "_level0"},
                                                       {"_level0.", "undefined"},
                                                       {"_level1", "undefined"},
                                                       {"_level10", "undefined"},
                                                       {"_level-1", "undefined"},
                                                       {"_level2147483648", "undefined"},
                                                       {"_level4294967297", "undefined"},
                                                       {"_lev", "undefined"},
                                                       {"_level0.c", "_level0.c"},
                                                       {"_flash0/c", "_level0.c"}};
  Asm a;
  std::vector<std::string> want;
  for (const auto& [name, traced] : cases) {
    a.Get(name).Trace();
    want.push_back(traced);
  }
  EXPECT_EQ(PlayWithClip(a, 6), want);
  // From version 7 on, the name's case counts.
  Asm b;
  for (const char* name : {"_LeVeL0", "_FLASH0", "_level0x"}) b.Get(name).Trace();
  EXPECT_EQ(PlayWithClip(b, 7), (std::vector<std::string>{"undefined", "undefined", "_level0"}));
}

TEST(Avm1ClipScope, AFunctionOfARemovedTimelineActsOnTheClipNowAtItsPath) {
  // The clip's own script: _global.f = function () { trace(x); }
  Asm clip;
  clip.Get("_global").Push({"f"}).Function("", {}, [](Asm& f) { f.Get("x").Trace(); }).Op(0x4F);
  Asm a;
  a.Op(0x07);
  a.Get("c").Push({"x", "old"}).Op(0x4F);
  a.Push({0, "f"}).Op(0x3D).Op(0x17);
  CallOn(a, "c", "swapDepths", {10}).Op(0x17);
  CallOn(a, "c", "removeMovieClip", {}).Op(0x17);
  CallOn(a, "_root", "createEmptyMovieClip", {"c", 11}).Push({"x", "new"}).Op(0x4F);
  a.Push({0, "f"}).Op(0x3D).Op(0x17);
  EXPECT_EQ(PlayWithClip(a, 8, 1, "c", &clip), (std::vector<std::string>{"old", "new"}));
}

TEST(Avm1ClipScope, ARemovedTargetGivesWayToTheScriptsOwnTimeline) {
  // tellTarget("d") { _root.d.removeMovieClip(); trace(_target); x = 1; } trace(_root.x);
  Asm a;
  CallOn(a, "_root", "createEmptyMovieClip", {"d", 5}).Op(0x17);
  a.Long(0x8B, {'d', 0});
  a.Push({0}).Get("_root").Push({"d"}).Op(0x4E).Push({"removeMovieClip"}).Op(0x52).Op(0x17);
  a.Push({"", 11}).Op(0x22).Trace();
  a.Push({"x", 1}).Op(0x1D);
  a.Long(0x8B, {0});
  a.Get("_root").Push({"x"}).Op(0x4E).Trace();
  EXPECT_EQ(PlayWithClip(a, 8), (std::vector<std::string>{"/", "1"}));
}

TEST(Avm1ClipScope, ARemovedClipIsAnEmptyTextButNotInItsUnloadHandler) {
  Asm a;
  a.Push({"r"});
  CallOn(a, "_root", "createEmptyMovieClip", {"g", 5}).Op(0x3C);
  a.Get("r").Push({"onUnload"});
  a.Function("", {}, [](Asm& f) { f.Push({"unload "}).Get("this").Op(0x47).Trace(); });
  a.Op(0x4F);
  CallOn(a, "r", "removeMovieClip", {}).Op(0x17);
  a.Push({"after "}).Get("r").Op(0x47).Trace();
  EXPECT_EQ(PlayWithClip(a, 8, 2), (std::vector<std::string>{"after ", "unload _level0.g"}));
}

}  // namespace
}  // namespace dbx::swf::avm1
