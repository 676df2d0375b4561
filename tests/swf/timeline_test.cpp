// The timeline and display tree: frame order, goto and rewind, labels, scenes, script-made clips,
// paths, geometry and buttons, on movies built by the tests. Action blocks carry plain text here:
// the recording runtime below logs them with the clip they ran on instead of interpreting them.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "swf/display/scripts.h"
#include "swf/display/stage.h"
#include "swf/format/movie.h"
#include "test_support.h"

// Placements name only the fields they set.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace dbx::swf {
namespace {

using swftest::SwfWriter;

std::vector<std::uint8_t> Text(const std::string& s) {
  return {s.begin(), s.end()};
}

class Recorder final : public Scripts {
 public:
  std::vector<std::string> actions, events;
  int created = 0;
  void ClipCreated(Clip& c) override {
    ++created;
    events.push_back("create " + c.TargetPath());
  }
  void ClipRemoved(Clip& c) override { events.push_back("remove " + c.TargetPath()); }
  void ConstructClip(Clip& c) override { events.push_back("construct " + c.TargetPath()); }
  void RunActions(Clip& c, ByteSpan code) override {
    actions.push_back(c.TargetPath() + ": " + std::string(code.begin(), code.end()));
  }
  void RunInitActions(Clip&, std::uint16_t sprite, ByteSpan) override {
    actions.push_back("init " + std::to_string(sprite));
  }
  void FireClipEvent(Clip& c, ClipEvent e, int) override {
    const char* name = e == ClipEvent::kLoad         ? "load"
                       : e == ClipEvent::kEnterFrame ? "enterFrame"
                       : e == ClipEvent::kUnload     ? "unload"
                       : e == ClipEvent::kRollOver   ? "rollOver"
                       : e == ClipEvent::kPress      ? "press"
                       : e == ClipEvent::kRelease    ? "release"
                       : e == ClipEvent::kInitialize ? "initialize"
                       : e == ClipEvent::kDragOver   ? "dragOver"
                       : e == ClipEvent::kDragOut    ? "dragOut"
                       : e == ClipEvent::kMouseDown  ? "mouseDown"
                       : e == ClipEvent::kKeyUp      ? "keyUp"
                                                     : nullptr;
    if (name) events.push_back(std::string(name) + " " + c.TargetPath());
  }
  void Broadcast(ClipEvent, int, int) override {}
  void TypeCharacter(char32_t ch) override { typed.push_back(ch); }
  void TabKey() override { ++tabs; }
  std::u32string typed;
  int tabs = 0;
  bool IsMouseTarget(const Clip&) const override { return false; }
  void BeginFrame(double) override {}
  void EndFrame() override {}
  bool HasEvent(const std::string& e) const {
    return std::find(events.begin(), events.end(), e) != events.end();
  }
};

Movie Parse(const SwfWriter& w) {
  const auto bytes = w.Finish();
  auto movie = ParseMovie(bytes.data(), bytes.size(), nullptr);
  EXPECT_TRUE(movie);
  return movie ? std::move(*movie) : Movie{};
}

// A sprite of `frames` frames whose frame n runs the action text "n".
SwfWriter CountingSprite(int frames) {
  SwfWriter s(1, 1);
  for (int f = 1; f <= frames; ++f) {
    s.DoAction(Text(std::to_string(f)));
    s.ShowFrame();
  }
  return s;
}

TEST(Timeline, ClipLongerThanItsParentKeepsPlayingAcrossTheLoop) {
  SwfWriter w(100, 100);
  w.Sprite(2, CountingSprite(3), 3);
  w.Place2({.depth = 1, .character = 2, .name = "c"});
  w.ShowFrame();
  w.ShowFrame();
  w.End();
  const Movie movie = Parse(w);
  for (bool withScripts : {false, true}) {
    Stage stage(movie);
    Recorder rec;
    if (withScripts) stage.SetScripts(&rec);
    std::vector<int> seen;
    const Clip* first = nullptr;
    for (int i = 0; i < 7; ++i) {
      stage.Step();
      const Clip* c = stage.root().ChildAt(1);
      ASSERT_NE(c, nullptr);
      if (!first) first = c;
      EXPECT_EQ(c, first) << "the clip survives the main timeline's loop";
      seen.push_back(c->currentFrame);
    }
    EXPECT_EQ(seen, (std::vector<int>{0, 1, 2, 0, 1, 2, 0}));
    if (withScripts) {
      EXPECT_EQ(std::count(rec.actions.begin(), rec.actions.end(), "_level0.c: 3"), 2);
      EXPECT_EQ(rec.created, 2);  // the main timeline and the clip, once each
    }
  }
}

// A sprite loops back only when its tags end as a whole file's do: an End right after a
// ShowFrame. Without the End, or with a last frame that has no ShowFrame, it plays to its last
// frame (the unfinished one included) and stays there.
TEST(Timeline, OnlyCompleteSpritesLoop) {
  SwfWriter trailing = CountingSprite(1);
  trailing.DoAction(Text("2"));  // a second frame without its ShowFrame
  SwfWriter w(100, 100);
  w.Sprite(2, CountingSprite(2), 2);
  w.Sprite(3, CountingSprite(2), 2, /*withEnd=*/false);
  w.Sprite(4, trailing, 1);
  w.Place2({.depth = 1, .character = 2, .name = "whole"});
  w.Place2({.depth = 2, .character = 3, .name = "noend"});
  w.Place2({.depth = 3, .character = 4, .name = "trailing"});
  w.ShowFrame();
  w.End();
  const Movie movie = Parse(w);
  Stage stage(movie);
  Recorder rec;
  stage.SetScripts(&rec);
  std::vector<std::vector<int>> seen(3);
  for (int i = 0; i < 5; ++i) {
    stage.Step();
    for (int d = 1; d <= 3; ++d) {
      const Clip* c = stage.root().ChildAt(d);
      ASSERT_NE(c, nullptr);
      seen[static_cast<std::size_t>(d - 1)].push_back(c->currentFrame);
    }
  }
  EXPECT_EQ(seen[0], (std::vector<int>{0, 1, 0, 1, 0}));
  EXPECT_EQ(seen[1], (std::vector<int>{0, 1, 1, 1, 1}));
  EXPECT_EQ(seen[2], (std::vector<int>{0, 1, 1, 1, 1}));
  EXPECT_EQ(std::count(rec.actions.begin(), rec.actions.end(), "_level0.trailing: 2"), 1)
      << "the unfinished frame's script runs once";
  EXPECT_EQ(std::count(rec.actions.begin(), rec.actions.end(), "_level0.whole: 1"), 3);
}

TEST(Timeline, RewindAndBackwardGotoKeepWhatStays) {
  SwfWriter w(100, 100);
  w.SolidShape(1, 0xFF0000FF, swftest::Rectangle(0, 0, 200, 200));
  w.Sprite(10, CountingSprite(1), 1);
  w.Place2({.depth = 1, .character = 1, .translate = {{0, 0}}, .name = "a"});
  w.Place2({.depth = 2, .character = 10, .name = "b"});
  w.ShowFrame();
  w.Place2({.depth = 1, .move = true, .translate = {{100, 0}}});
  w.Place2({.depth = 3, .character = 10, .name = "c"});
  w.ShowFrame();
  w.Remove(2);
  w.ShowFrame();
  w.End();
  const Movie movie = Parse(w);
  Stage stage(movie);
  Recorder rec;
  stage.SetScripts(&rec);
  for (int i = 0; i < 3; ++i) stage.Step();
  Clip& root = stage.root();
  ASSERT_EQ(root.currentFrame, 2);
  Clip* a = root.ChildAt(1);
  Clip* c = root.ChildAt(3);
  ASSERT_TRUE(a && c);
  EXPECT_EQ(root.ChildAt(2), nullptr);
  EXPECT_EQ(a->matrix.tx, 100);

  // Back one frame: a and c stay as they are, b comes back as a new clip.
  root.GotoFrame(1, false);
  EXPECT_EQ(root.ChildAt(1), a);
  EXPECT_EQ(root.ChildAt(3), c);
  ASSERT_NE(root.ChildAt(2), nullptr);
  EXPECT_EQ(root.ChildAt(2)->name, "b");
  EXPECT_EQ(a->matrix.tx, 100);

  // The loop to the first frame: a stays, moved back; c was placed later and goes.
  root.GotoFrame(2, true);
  stage.Step();
  ASSERT_EQ(root.currentFrame, 0);
  EXPECT_EQ(root.ChildAt(1), a);
  EXPECT_EQ(a->matrix.tx, 0);
  EXPECT_EQ(root.ChildAt(3), nullptr);
  EXPECT_TRUE(rec.HasEvent("unload _level0.c"));
  EXPECT_NE(root.ChildAt(2), nullptr);
}

TEST(Timeline, ForwardGotoAppliesSkippedDisplayListsWithoutTheirScripts) {
  SwfWriter w(100, 100);
  w.Sprite(10, CountingSprite(1), 1);
  w.DoAction(Text("f1"));
  w.ShowFrame();
  w.Place2({.depth = 1, .character = 10, .name = "x"});
  w.Place2({.depth = 5, .character = 10, .name = "kept"});
  w.DoAction(Text("f2"));
  w.ShowFrame();
  w.Remove(1);
  w.Place2({.depth = 2, .character = 10, .name = "y"});
  w.ShowFrame();
  w.Place2({.depth = 2, .move = true, .translate = {{50, 60}}});
  w.DoAction(Text("f4"));
  w.ShowFrame();
  w.End();
  const Movie movie = Parse(w);
  Stage stage(movie);
  Recorder rec;
  stage.SetScripts(&rec);
  stage.Step();
  rec.actions.clear();
  stage.root().GotoFrame(3, false);
  stage.RunQueue();
  EXPECT_FALSE(rec.HasEvent("create _level0.x")) << "placed and removed within the skipped frames";
  ASSERT_NE(stage.root().ChildAt(5), nullptr);
  const Clip* y = stage.root().ChildAt(2);
  ASSERT_NE(y, nullptr);
  EXPECT_EQ(y->matrix.tx, 50);
  EXPECT_EQ(y->matrix.ty, 60);
  // What the goto places comes in depth order, then the target frame's own actions.
  EXPECT_EQ(rec.actions,
            (std::vector<std::string>{"_level0.y: 1", "_level0.kept: 1", "_level0: f4"}));
  EXPECT_FALSE(stage.root().playing);
}

TEST(Timeline, ALoopRunsTheFirstFramesScriptBeforeTheClipsItPlacesAgain) {
  SwfWriter w(100, 100);
  w.Sprite(10, CountingSprite(1), 1);
  w.DoAction(Text("f1"));
  w.Place2({.depth = 1, .character = 10, .name = "a"});
  w.ShowFrame();
  w.Remove(1);
  w.DoAction(Text("f2"));
  w.ShowFrame();
  w.End();
  const Movie movie = Parse(w);
  Stage stage(movie);
  Recorder rec;
  stage.SetScripts(&rec);
  stage.Step();
  EXPECT_EQ(rec.actions, (std::vector<std::string>{"_level0: f1", "_level0.a: 1"}));
  stage.Step();
  rec.actions.clear();
  stage.Step();  // back to frame 1: "a" is placed again
  EXPECT_EQ(rec.actions, (std::vector<std::string>{"_level0: f1", "_level0.a: 1"}));
}

TEST(Timeline, ClipActionsWithAShortEndMarkerStillPlaceTheClip) {
  // Version 6 and up end the list with 4 zero bytes; this one has 2.
  std::vector<std::uint8_t> actions = {0, 0, 1, 0, 0, 0,  // reserved, all events: load
                                       1, 0, 0, 0, 2, 0, 0, 0, 0x07, 0,  // load: stop
                                       0, 0};
  for (const std::size_t cut : {actions.size(), actions.size() - 1}) {
    SwfWriter w(100, 100);
    w.Sprite(10, CountingSprite(1), 1);
    w.Place2({.depth = 1,
              .character = 10,
              .clipActions = std::vector<std::uint8_t>(actions.begin(), actions.begin() + cut)});
    w.ShowFrame();
    w.End();
    const Movie movie = Parse(w);
    ASSERT_FALSE(movie.timeline.frames.empty());
    const auto& commands = movie.timeline.frames[0].commands;
    ASSERT_EQ(commands.size(), 1u) << cut;
    ASSERT_EQ(commands[0].clipActions.size(), 1u) << cut;
    EXPECT_EQ(commands[0].clipActions[0].events, 1u);
  }
}

// The initialize handlers of all clips a frame places run first, then the clips are
// constructed, then their frames run; a clip whose event union leaves initialize out has none.
TEST(Timeline, InitializeHandlersOfAFrameRunBeforeItsClipsAreConstructed) {
  const auto actions = [](std::uint8_t all) {
    return std::vector<std::uint8_t>{0, 0, 0, all, 0, 0,           // reserved, all events
                                     0, 2, 0, 0,   1, 0, 0, 0, 0,  // initialize: (nothing)
                                     0, 0, 0, 0};
  };
  SwfWriter w(100, 100);
  w.Sprite(10, CountingSprite(1), 1);
  w.Place2({.depth = 1, .character = 10, .name = "a", .clipActions = actions(2)});
  w.Place2({.depth = 2, .character = 10, .name = "b", .clipActions = actions(0)});
  w.Place2({.depth = 3, .character = 10, .name = "c", .clipActions = actions(2)});
  w.ShowFrame();
  w.End();
  const Movie movie = Parse(w);
  Stage stage(movie);
  Recorder rec;
  stage.SetScripts(&rec);
  stage.Step();
  std::vector<std::string> seen;
  for (const std::string& e : rec.events)
    if (!e.starts_with("create ") && !e.starts_with("load ")) seen.push_back(e);
  EXPECT_EQ(seen, (std::vector<std::string>{"initialize _level0.a", "initialize _level0.c",
                                            "construct _level0.a", "construct _level0.b",
                                            "construct _level0.c"}));
}

// A morph is hit where its shape is at its ratio: a square that slides 1000 twips to the right.
// Its bounds stay those of its start shape (as scripts see them and hit tests without the shape
// use them).
TEST(Timeline, AMorphIsHitWhereItsShapeIsAtItsRatio) {
  SwfWriter w(100, 100);
  w.SolidShape(1, 0xFF0000FF, swftest::Rectangle(0, 0, 100, 100));
  w.Place2({.depth = 1, .character = 1});
  w.ShowFrame();
  w.End();
  Movie movie = Parse(w);
  const auto square = [](float x0) {
    Shape s;
    s.fills.emplace_back();
    const Vec2 corners[] = {{x0, 0}, {x0 + 100, 0}, {x0 + 100, 100}, {x0, 100}};
    for (int i = 0; i < 4; ++i)
      s.edges.push_back({.from = corners[i], .to = corners[(i + 1) % 4], .fill1 = 0});
    return s;
  };
  movie.characters[1] = MorphShape{square(0), square(1000)};
  ASSERT_FALSE(movie.timeline.frames.empty());
  for (const auto& [ratio, hitX] :
       {std::pair{0, 50}, std::pair{32768, 550}, std::pair{65535, 1050}}) {
    movie.timeline.frames[0].commands.at(0).ratio = static_cast<std::uint16_t>(ratio);
    Stage stage(movie);
    stage.Step();
    const Clip* m = stage.root().ChildAt(1);
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(m->kind, ClipKind::kMorph);
    for (const double x : {50.0, 550.0, 1050.0}) {
      EXPECT_EQ(m->HitTest(x, 50, true), x == hitX) << "ratio " << ratio << " x " << x;
      EXPECT_EQ(m->HitTest(x, 50, false), x == 50) << "ratio " << ratio << " x " << x;
    }
    const Box b = m->Bounds(&stage.root());
    EXPECT_EQ(std::tuple(b.xmin, b.xmax, b.ymin, b.ymax), std::tuple(0.0, 100.0, 0.0, 100.0));
  }
}

TEST(Timeline, TimelinesKnowTheirSizeInTheFile) {
  SwfWriter w(100, 100);
  w.Sprite(10, CountingSprite(2), 2);
  w.ShowFrame();
  w.End();
  const auto bytes = w.Finish('C');
  auto movie = ParseMovie(bytes.data(), bytes.size(), nullptr);
  ASSERT_TRUE(movie);
  SwfWriter inner = CountingSprite(2);
  // The sprite: its tags and End, without its id and frame count; the main timeline: the whole
  // file as it is uncompressed.
  const auto* sprite = std::get_if<Sprite>(&movie->characters.at(10));
  ASSERT_NE(sprite, nullptr);
  EXPECT_EQ(sprite->timeline.bytes, inner.body().size() + 2);
  EXPECT_EQ(movie->timeline.bytes, w.Finish('F').size());
}

TEST(Timeline, FrameScriptsRunInTagOrderAndChildrenBeforeParents) {
  SwfWriter w(100, 100);
  w.Sprite(20, CountingSprite(3), 3);
  SwfWriter mid(1, 1);
  mid.DoAction(Text("1"));
  mid.ShowFrame();
  mid.DoAction(Text("2"));
  mid.Place2({.depth = 1, .character = 20, .name = "child"});
  mid.ShowFrame();
  mid.DoAction(Text("3"));
  mid.ShowFrame();
  w.Sprite(21, mid, 3);
  w.Sprite(22, CountingSprite(3), 3);
  w.DoAction(Text("1"));
  w.Place2({.depth = 1, .character = 21, .name = "clip1"});
  w.Place2({.depth = 4, .character = 22, .name = "clip2"});
  w.ShowFrame();
  w.DoAction(Text("2"));
  w.ShowFrame();
  w.DoAction(Text("3"));
  w.ShowFrame();
  w.End();
  const Movie movie = Parse(w);
  Stage stage(movie);
  Recorder rec;
  stage.SetScripts(&rec);
  for (int i = 0; i < 3; ++i) stage.Step();
  EXPECT_EQ(rec.actions, (std::vector<std::string>{
                             "_level0: 1",
                             "_level0.clip1: 1",
                             "_level0.clip2: 1",
                             "_level0.clip2: 2",
                             "_level0.clip1: 2",
                             "_level0.clip1.child: 1",
                             "_level0: 2",
                             "_level0.clip1.child: 2",
                             "_level0.clip2: 3",
                             "_level0.clip1: 3",
                             "_level0: 3",
                         }));
  // Load on placement, enterFrame from the frame after.
  EXPECT_TRUE(rec.HasEvent("load _level0.clip1.child"));
  const auto firstEnter = std::find(rec.events.begin(), rec.events.end(), "enterFrame _level0");
  const auto childLoad = std::find(rec.events.begin(), rec.events.end(), "load _level0.clip2");
  EXPECT_LT(childLoad, firstEnter);
}

TEST(Timeline, LabelsScenesAndFrameNumbersAsText) {
  SwfWriter w(100, 100);
  // DefineSceneAndFrameLabelData: scenes "A" at 0 and "B" at 2; label "end" on frame 3.
  w.Tag(86, {2, 0, 'A', 0, 2, 'B', 0, 1, 3, 'e', 'n', 'd', 0});
  w.Label("intro");
  w.ShowFrame();
  w.ShowFrame();
  w.Label("Loop");
  w.ShowFrame();
  w.ShowFrame();
  w.End();
  const Movie movie = Parse(w);
  Stage stage(movie);
  stage.Step();
  Clip& root = stage.root();
  EXPECT_TRUE(root.GotoLabel("LOOP", false));
  EXPECT_EQ(root.currentFrame, 2);
  EXPECT_EQ(root.CurrentScene().name, "B");
  EXPECT_TRUE(root.GotoLabel("intro", false));
  EXPECT_EQ(root.currentFrame, 0);
  EXPECT_TRUE(root.GotoLabel("2", false));
  EXPECT_EQ(root.currentFrame, 1);
  EXPECT_FALSE(root.GotoLabel("nowhere", false));
  EXPECT_EQ(root.currentFrame, 1);
  EXPECT_TRUE(root.GotoScene("B", 1, false));
  EXPECT_EQ(root.currentFrame, 3);
  EXPECT_EQ(movie.timeline.FindLabel("end"), 3u);
  EXPECT_FALSE(root.GotoScene("C", 0, false));
  root.GotoFrame(99, false);  // clamped to the last frame
  EXPECT_EQ(root.currentFrame, 3);
}

TEST(Timeline, ScriptMadeClipsOutliveTheTimelineAndTakeScriptDepths) {
  SwfWriter w(100, 100);
  w.SolidShape(1, 0xFF0000FF, swftest::Rectangle(0, 0, 200, 200));
  SwfWriter inner(1, 1);
  inner.Place(1, 1);
  inner.ShowFrame();
  w.Sprite(10, inner, 1);
  w.Export(10, "Ball");
  w.Place2({.depth = 1, .character = 10, .name = "placed"});
  w.ShowFrame();
  w.ShowFrame();
  w.End();
  const Movie movie = Parse(w);
  Stage stage(movie);
  Recorder rec;
  stage.SetScripts(&rec);
  stage.Step();
  Clip& root = stage.root();
  EXPECT_EQ(root.NextHighestDepth(), 0);
  Clip* ball = root.Attach("ball", "b1", 0);  // export names match without regard to case
  ASSERT_NE(ball, nullptr);
  EXPECT_EQ(ball->depth, kDepthOffset);
  EXPECT_EQ(root.NextHighestDepth(), 1);
  EXPECT_EQ(root.Attach("nothing", "x", 5), nullptr);
  Clip* empty = root.CreateEmpty("e", 7);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(empty->TotalFrames(), 1);
  ball->SetPosition(300, 400);
  ball->SetXScale(50);
  Clip* copy = ball->Duplicate("b2", 3);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->matrix.tx, 300);
  EXPECT_DOUBLE_EQ(copy->XScale(), 50);
  EXPECT_EQ(copy->children().size(), 1u) << "runs its first frame";
  for (int i = 0; i < 4; ++i) stage.Step();  // two loops of the main timeline
  EXPECT_EQ(root.ChildAt(kDepthOffset), ball);
  EXPECT_EQ(root.ChildAt(kDepthOffset + 3), copy);
  // swapDepths moves a clip, exchanging places with what is there.
  ball->SwapDepths(*copy);
  EXPECT_EQ(root.ChildAt(kDepthOffset), copy);
  EXPECT_EQ(root.ChildAt(kDepthOffset + 3), ball);
  ball->SwapDepths(20);
  EXPECT_EQ(root.ChildAt(kDepthOffset + 3), nullptr);
  EXPECT_EQ(root.NextHighestDepth(), 21);
  copy->Remove();
  EXPECT_EQ(root.ChildAt(kDepthOffset), nullptr);
  stage.RunQueue();
  EXPECT_TRUE(rec.HasEvent("unload _level0.b2"));
  // A depth that the timeline finds taken keeps its object.
  Clip* placed = root.ChildAt(1);
  ASSERT_NE(placed, nullptr);
  for (int i = 0; i < 2; ++i) stage.Step();
  EXPECT_EQ(root.ChildAt(1), placed);
}

TEST(Display, PathsResolveFromAnyClip) {
  for (int version : {6, 7}) {
    SwfWriter w(100, 100);
    w.SetVersion(static_cast<std::uint8_t>(version));
    SwfWriter inner(1, 1);
    inner.Place2({.depth = 1, .character = 11, .name = "b"});
    inner.ShowFrame();
    w.Sprite(11, CountingSprite(1), 1);
    w.Sprite(10, inner, 1);
    w.Place2({.depth = 1, .character = 10, .name = "a"});
    w.ShowFrame();
    w.End();
    const Movie movie = Parse(w);
    Stage stage(movie);
    stage.Step();
    Clip* root = &stage.root();
    Clip* a = root->ChildAt(1);
    ASSERT_NE(a, nullptr);
    Clip* b = a->ChildAt(1);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->TargetPath(), "_level0.a.b");
    EXPECT_EQ(b->SlashPath(), "/a/b");
    struct Case {
      Clip* from;
      const char* path;
      Clip* want;
    };
    const Case cases[] = {
        {root, "_root.a.b", b},
        {b, "/a/b", b},
        {b, "_level0.a", a},
        {b, "..", a},
        {b, "../../a", a},
        {b, "_parent._parent", root},
        {a, "b", b},
        {a, "this", a},
        {b, "_level1", nullptr},
        {root, "a.c", nullptr},
        {root, "", root},
        {b, "/", root},
    };
    for (const Case& c : cases) EXPECT_EQ(stage.Resolve(c.from, c.path), c.want) << c.path;
    // Names ignore case before version 7.
    EXPECT_EQ(stage.Resolve(root, "A.B"), version < 7 ? b : nullptr);
  }
}

TEST(Display, BoundsHitTestsAndCoordinates) {
  SwfWriter w(100, 100);
  w.SolidShape(1, 0xFF0000FF, swftest::Rectangle(0, 0, 200, 100));
  SwfWriter inner(1, 1);
  inner.Place(1, 1);
  inner.ShowFrame();
  w.Sprite(10, inner, 1);
  w.Place2({.depth = 1, .character = 10, .translate = {{1000, 500}}, .name = "s"});
  w.ShowFrame();
  w.End();
  const Movie movie = Parse(w);
  Stage stage(movie);
  stage.Step();
  Clip* s = stage.root().ChildAt(1);
  ASSERT_NE(s, nullptr);
  const Box own = s->Bounds(s);
  EXPECT_EQ(own.xmin, 0);
  EXPECT_EQ(own.xmax, 200);
  const Box inRoot = s->Bounds(&stage.root());
  EXPECT_EQ(inRoot.xmin, 1000);
  EXPECT_EQ(inRoot.ymax, 600);
  EXPECT_TRUE(s->HitTest(1100, 550, true));
  EXPECT_FALSE(s->HitTest(900, 550, true));
  EXPECT_FALSE(s->HitTest(1100, 650, false));
  const StagePoint g = s->LocalToGlobal({10, 20});
  EXPECT_EQ(g.x, 1010);
  EXPECT_EQ(g.y, 520);
  const StagePoint l = s->GlobalToLocal(g);
  EXPECT_NEAR(l.x, 10, 1e-9);
  EXPECT_NEAR(l.y, 20, 1e-9);
  // Scale and rotation keep each other.
  s->SetXScale(200);
  EXPECT_EQ(s->Bounds(&stage.root()).xmax, 1400);
  s->SetRotation(90);
  EXPECT_DOUBLE_EQ(s->XScale(), 200);
  EXPECT_DOUBLE_EQ(s->Rotation(), 90);
  EXPECT_NEAR(s->Bounds(&stage.root()).ymax, 500 + 400, 1e-6);
  s->SetXScale(0);
  s->SetXScale(100);
  EXPECT_DOUBLE_EQ(s->Rotation(), 90) << "a zero scale does not lose the rotation";
}

std::vector<std::uint8_t> ClipActionList(bool wide) {
  swftest::BitWriter b;
  b.U16(0);
  auto flags = [&](std::uint32_t f) { wide ? b.U32(f) : b.U16(static_cast<std::uint16_t>(f)); };
  flags(0x01 | 0x20000);  // the union leaves enterFrame out: the player does not answer it
  flags(0x03);            // load and enterFrame
  b.U32(3);
  b.Bytes(Text("abc"));
  if (wide) {
    flags(0x20000);  // keyPress, with its key code
    b.U32(3);
    b.U8(13);
    b.Bytes(Text("kp"));
  }
  flags(0);
  return b.Take();
}

TEST(Parse, ClipActionsButtonsAndExports) {
  for (bool wide : {false, true}) {
    SwfWriter w(100, 100);
    w.SetVersion(wide ? 6 : 5);
    w.Sprite(10, CountingSprite(1), 1);
    w.Place2({.depth = 1, .character = 10, .clipActions = ClipActionList(wide)});
    w.ShowFrame();
    w.End();
    const Movie movie = Parse(w);
    const auto& acts = movie.timeline.frames.at(0).commands.at(0).clipActions;
    ASSERT_EQ(acts.size(), wide ? 2u : 1u);
    EXPECT_EQ(acts[0].events, 0x01u);
    EXPECT_EQ(acts[0].code, Text("abc"));
    if (wide) {
      EXPECT_EQ(acts[1].events, static_cast<std::uint32_t>(ClipEvent::kKeyPress));
      EXPECT_EQ(acts[1].keyCode, 13);
      EXPECT_EQ(acts[1].code, Text("kp"));
    }
  }
}

// A button action: its condition word (events, and the key press in the top seven bits) and the
// action text it runs.
struct ButtonCondition {
  std::uint16_t conditions;
  std::string code;
};

// DefineButton2 `id`: up shows shape 1, over shape 2, hit is shape 1; by default rollOver runs
// "over", release runs "release". `menu`: tracked as a menu item.
void Button2(SwfWriter& w, std::uint16_t id, bool menu = false,
             const std::vector<ButtonCondition>& actions = {{0x01, "over"}, {0x08, "release"}}) {
  swftest::BitWriter b;
  b.U16(id);
  b.U8(menu ? 1 : 0);
  swftest::BitWriter records;
  auto record = [&](std::uint8_t states, std::uint16_t ch) {
    records.U8(states);
    records.U16(ch);
    records.U16(1);
    records.Matrix(1, 1, 0, 0, 0, 0);
    records.UB(0, 2);  // cxform without add or multiply
    records.UB(0, 4);
    records.Align();
  };
  record(kButtonUp | kButtonHit, 1);
  record(kButtonOver | kButtonDown, 2);
  records.U8(0);
  const auto recs = records.Take();
  b.U16(static_cast<std::uint16_t>(recs.size() + 2));
  b.Bytes(recs);
  for (std::size_t i = 0; i < actions.size(); ++i) {
    const auto code = Text(actions[i].code);
    // The offset to the next condition; 0 for the last.
    b.U16(i + 1 < actions.size() ? static_cast<std::uint16_t>(4 + code.size()) : 0);
    b.U16(actions[i].conditions);
    b.Bytes(code);
  }
  w.Tag(34, b.Take());
}

// A button's key presses: a character ("a", not "A") or a named key (18: Tab). The key it takes
// types nothing and moves no focus; where the character comes as text input after its key, the
// character decides (a dead key and "a" type "\u00E4"); a hidden button takes nothing.
TEST(Buttons, KeyPressesTakeTheirCharacterOrNamedKey) {
  SwfWriter w(100, 100);
  w.SolidShape(1, 0xFF0000FF, swftest::Rectangle(0, 0, 400, 400));
  w.SolidShape(2, 0x00FF00FF, swftest::Rectangle(0, 0, 400, 400));
  Button2(w, 5, false, {{'a' << 9, "a"}, {18 << 9, "tab"}});
  w.Place2({.depth = 1, .character = 5, .name = "btn"});
  w.ShowFrame();
  w.End();
  const Movie movie = Parse(w);
  Stage stage(movie);
  Recorder rec;
  stage.SetScripts(&rec);
  stage.Step(0);
  rec.actions.clear();
  auto press = [&](int code, char32_t ch, bool typesLater, std::u32string_view typed) {
    stage.KeyDown(code, static_cast<int>(ch), typesLater);
    for (const char32_t t : typed) stage.TypeCharacter(t);
    stage.KeyUp(code, static_cast<int>(ch));
  };
  press('A', U'a', false, U"a");
  press('A', U'A', false, U"A");
  press(9, U'\t', false, U"");
  press('A', U'a', true, U"\u00E4");
  press('A', U'a', true, U"a");
  EXPECT_EQ(rec.actions, (std::vector<std::string>{"_level0: a", "_level0: tab", "_level0: a"}));
  EXPECT_EQ(rec.typed, U"A\u00E4");
  EXPECT_EQ(rec.tabs, 0);
  stage.root().ChildNamed("btn")->visible = false;
  rec.actions.clear();
  press('A', U'a', false, U"a");
  press(9, U'\t', false, U"");
  EXPECT_TRUE(rec.actions.empty());
  EXPECT_EQ(rec.typed, U"A\u00E4a");
  EXPECT_EQ(rec.tabs, 1);
}

TEST(Buttons, PointerDrivesStatesAndActions) {
  SwfWriter w(100, 100);
  w.SolidShape(1, 0xFF0000FF, swftest::Rectangle(0, 0, 400, 400));
  w.SolidShape(2, 0x00FF00FF, swftest::Rectangle(0, 0, 400, 400));
  Button2(w, 5);
  w.Place2({.depth = 1, .character = 5, .translate = {{100, 100}}, .name = "btn"});
  w.ShowFrame();
  w.End();
  const Movie movie = Parse(w);
  const auto& button = std::get<Button>(movie.characters.at(5));
  ASSERT_EQ(button.records.size(), 2u);
  ASSERT_EQ(button.actions.size(), 2u);
  EXPECT_EQ(button.actions[1].code, Text("release"));
  Stage stage(movie);
  Recorder rec;
  stage.SetScripts(&rec);
  stage.Step();
  Clip* b = stage.root().ChildAt(1);
  ASSERT_NE(b, nullptr);
  ASSERT_EQ(b->kind, ClipKind::kButton);
  ASSERT_NE(b->ChildAt(1), nullptr);
  EXPECT_EQ(b->ChildAt(1)->character, 1) << "drawn in its up state";
  stage.MouseMove(50, 50);  // outside the hit area
  EXPECT_EQ(b->buttonState, kButtonUp);
  stage.MouseMove(300, 300);
  EXPECT_EQ(b->buttonState, kButtonOver);
  EXPECT_EQ(b->ChildAt(1)->character, 2);
  stage.MouseDown();
  EXPECT_EQ(b->buttonState, kButtonDown);
  stage.MouseUp();
  EXPECT_EQ(b->buttonState, kButtonOver);
  EXPECT_EQ(rec.actions, (std::vector<std::string>{"_level0: over", "_level0: release"}));
  EXPECT_TRUE(rec.HasEvent("release _level0.btn"));
  stage.MouseMove(5000, 5000);
  EXPECT_EQ(b->buttonState, kButtonUp);
  EXPECT_EQ(b->ChildAt(1)->character, 1);
}

// Input that every clip hears reaches children before their parents, and of two siblings the
// upper first.
TEST(Buttons, EveryClipHearsInputChildrenFirst) {
  SwfWriter inner(1, 1);
  inner.Place2({.depth = 1, .character = 2, .name = "c"});
  inner.ShowFrame();
  SwfWriter w(100, 100);
  w.Sprite(2, SwfWriter(1, 1), 1);
  w.Sprite(3, inner, 1);
  w.Place2({.depth = 1, .character = 3, .name = "a"});
  w.Place2({.depth = 2, .character = 3, .name = "b"});
  w.ShowFrame();
  w.End();
  const Movie movie = Parse(w);
  Stage stage(movie);
  Recorder rec;
  stage.SetScripts(&rec);
  stage.Step();
  for (const char* kind : {"mouseDown", "keyUp"}) {
    rec.events.clear();
    if (std::string_view(kind) == "mouseDown")
      stage.MouseDown();
    else
      stage.KeyUp(65, 97);
    std::vector<std::string> heard;
    for (const std::string& e : rec.events)
      if (e.starts_with(kind)) heard.push_back(e.substr(e.find(' ') + 1));
    EXPECT_EQ(heard, (std::vector<std::string>{"_level0.b.c", "_level0.b", "_level0.a.c",
                                               "_level0.a", "_level0"}))
        << kind;
  }
}

// A press that began outside passes to the menu item the pointer comes over, and from it to the
// next; a plain button takes no press it did not start.
TEST(Buttons, MenuItemsTakeAPressThatBeganElsewhere) {
  for (const bool menu : {true, false}) {
    SwfWriter w(100, 100);
    w.SolidShape(1, 0xFF0000FF, swftest::Rectangle(0, 0, 400, 400));
    w.SolidShape(2, 0x00FF00FF, swftest::Rectangle(0, 0, 400, 400));
    Button2(w, 5, menu);
    w.Place2({.depth = 1, .character = 5, .translate = {{100, 100}}, .name = "a"});
    w.Place2({.depth = 2, .character = 5, .translate = {{600, 100}}, .name = "b"});
    w.ShowFrame();
    w.End();
    const Movie movie = Parse(w);
    Stage stage(movie);
    Recorder rec;
    stage.SetScripts(&rec);
    stage.Step();
    Clip* a = stage.root().ChildAt(1);
    Clip* b = stage.root().ChildAt(2);
    ASSERT_TRUE(a && b);
    stage.MouseMove(50, 50);
    stage.MouseDown();  // on nothing
    stage.MouseMove(300, 300);
    EXPECT_EQ(a->buttonState, menu ? kButtonDown : kButtonUp) << menu;
    stage.MouseMove(800, 300);
    EXPECT_EQ(a->buttonState, kButtonUp) << menu;
    EXPECT_EQ(b->buttonState, menu ? kButtonDown : kButtonUp) << menu;
    stage.MouseUp();
    if (menu) {
      EXPECT_EQ(b->buttonState, kButtonOver);
    }
    const std::vector<std::string> tracked{"dragOver _level0.a", "dragOut _level0.a",
                                           "dragOver _level0.b", "release _level0.b"};
    std::vector<std::string> seen;
    for (const std::string& e : rec.events)
      if (e.starts_with("drag") || e.starts_with("release")) seen.push_back(e);
    EXPECT_EQ(seen, menu ? tracked : std::vector<std::string>{}) << menu;
  }
}

}  // namespace
}  // namespace dbx::swf
