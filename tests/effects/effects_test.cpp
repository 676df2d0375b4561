// Behaviour of every effect number, frame by frame, without a display: completion, the stop
// request, re-entrance, bad numbers, bad input, and the fast kernels against the plain ones.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "effects/raster.h"
#include "effects/trans_effects.h"
#include "test_util.h"

namespace dbx {
namespace {

using test::FixedRandom;
using test::SameImage;
using test::Stage;

constexpr int kBlendFirst = 16;
bool IsBlend(int e) {
  return e >= kBlendFirst;
}

struct Outcome {
  StartResult start;
  int frames = 0;      // Frame() calls that returned true
  bool ended = false;  // Frame() returned false before the cap
};

Outcome RunToEnd(TransEffects& fx, int effect, const std::string& b, Stage& st, std::uint32_t seed,
                 int cap, std::vector<Surface>* frames = nullptr) {
  FixedRandom rnd(seed);
  Outcome o;
  o.start = fx.Start(effect, b, st.Surfaces(), rnd.Source());
  if (o.start != StartResult::kStarted) return o;
  while (o.frames < cap) {
    if (!fx.Frame()) {
      o.ended = true;
      return o;
    }
    ++o.frames;
    if (frames != nullptr) frames->push_back(st.p1.ImageSurface().Clone());
  }
  return o;
}

// Each effect with a step base at which it ends.
class EveryEffect : public ::testing::TestWithParam<int> {};

TEST_P(EveryEffect, FinalPictureIsTheIncomingOne) {
  const int e = GetParam();
  for (const char* b : {"10", "3", "1"}) {
    for (auto [w, h] : {std::pair{37, 23}, std::pair{200, 9}, std::pair{9, 60}, std::pair{1, 1},
                        std::pair{1, 100}, std::pair{100, 1}, std::pair{0, 0}}) {
      Stage st(w, h, 3);
      TransEffects fx;
      const Outcome o = RunToEnd(fx, e, b, st, 5, 100000);
      ASSERT_EQ(o.start, StartResult::kStarted);
      ASSERT_TRUE(o.ended) << e << " b=" << b << " " << w << "x" << h;
      EXPECT_TRUE(SameImage(st.p1.Image(), st.incoming.View()))
          << e << " b=" << b << " " << w << "x" << h;
      EXPECT_FALSE(fx.EffectRunning());
      EXPECT_TRUE(fx.EffectIdle());
      EXPECT_FALSE(fx.Active());
      if (IsBlend(e)) {
        // The blends exchange the pictures: Picture2 now holds the outgoing one, Picture3 the
        // incoming one.
        EXPECT_TRUE(SameImage(st.p2.Image(), st.outgoing.View()));
        EXPECT_TRUE(SameImage(st.p3.Image(), st.incoming.View()));
      } else {
        EXPECT_TRUE(SameImage(st.p2.Image(), st.incoming.View()));
        EXPECT_TRUE(SameImage(st.p3.Image(), st.outgoing.View()));
      }
      EXPECT_EQ(st.refreshes, o.frames);  // one refresh per drawn frame, none for the final copy
    }
  }
}

TEST_P(EveryEffect, StopAfterKIterationsLeavesTheKthFrame) {
  // Every step base, and stops in both phases of the split scroll (its second phase starts after
  // 6 iterations at 23 lines with a step of 2).
  const int e = GetParam();
  for (const char* b : {"2", "1", "0", "-1", "-51", "100000", "2147483647"}) {
    for (int k : {0, 1, 2, 3, 7, 9}) {
      Stage st(37, 23, 4);
      TransEffects fx;
      FixedRandom rnd(9);
      ASSERT_EQ(fx.Start(e, b, st.Surfaces(), rnd.Source()), StartResult::kStarted);
      bool alive = true;
      for (int i = 0; i < k && alive; ++i) alive = fx.Frame();
      if (!alive) continue;  // ended before k iterations
      const Surface kth = st.p1.ImageSurface().Clone();
      const Surface p2 = st.p2.ImageSurface().Clone(), p3 = st.p3.ImageSurface().Clone();
      fx.RequestStop();
      EXPECT_FALSE(fx.EffectRunning());
      EXPECT_TRUE(fx.Active());
      EXPECT_EQ(fx.Start(0, "1", st.Surfaces()), StartResult::kBusy);  // not wound up yet
      const int refreshes = st.refreshes;
      EXPECT_FALSE(fx.Frame()) << "b=" << b << " k=" << k;  // the next frame ends it
      EXPECT_EQ(st.refreshes, refreshes);
      if (IsBlend(e)) {
        EXPECT_TRUE(SameImage(st.p1.Image(), p2.View()));  // the completion copies still run
        EXPECT_TRUE(SameImage(st.p2.Image(), p3.View()));
        EXPECT_TRUE(SameImage(st.p3.Image(), p2.View()));
      } else {
        EXPECT_TRUE(SameImage(st.p1.Image(), kth.View())) << "b=" << b << " k=" << k;
        EXPECT_TRUE(SameImage(st.p2.Image(), p2.View()));
        EXPECT_TRUE(SameImage(st.p3.Image(), p3.View()));
      }
      EXPECT_FALSE(fx.Active());
      EXPECT_FALSE(fx.Frame());  // nothing more
      EXPECT_FALSE(fx.HoldsOffscreenSurfaces());
      EXPECT_EQ(fx.Start(0, "1", st.Surfaces()), StartResult::kStarted);
    }
  }
}

TEST_P(EveryEffect, SecondRoutineInsideARunningOneDrawsNothing) {
  const int e = GetParam();
  Stage st(37, 23, 5);
  Stage other(37, 23, 6);
  TransEffects fx;
  ASSERT_EQ(fx.Start(e, "2", st.Surfaces()), StartResult::kStarted);
  ASSERT_TRUE(fx.Frame());
  const Surface before = st.p1.ImageSurface().Clone();
  for (int e2 = 0; e2 < kEffectCount; ++e2) {
    EXPECT_EQ(fx.Start(e2, "2", st.Surfaces()), StartResult::kBusy);
    EXPECT_EQ(fx.Start(e2, "2", other.Surfaces()), StartResult::kBusy);
  }
  EXPECT_TRUE(SameImage(st.p1.Image(), before.View()));
  EXPECT_TRUE(SameImage(other.p1.Image(), other.outgoing.View()));
  EXPECT_TRUE(fx.EffectRunning());
}

TEST_P(EveryEffect, NestedRunEffectFromTheYieldReturnsAtOnce) {
  const int e = GetParam();
  Stage st(37, 23, 7);
  TransEffects fx;
  int yields = 0, sleeps = 0, nested_busy = 0;
  FrameHooks hooks;
  hooks.yield = [&]() {
    ++yields;
    const Surface before = st.p1.ImageSurface().Clone();
    if (fx.RunEffect((e + 1) % kEffectCount, "5", st.Surfaces(), {}) == StartResult::kBusy)
      ++nested_busy;
    EXPECT_TRUE(SameImage(st.p1.Image(), before.View()));
  };
  hooks.sleep = [&](int ms) {
    EXPECT_EQ(ms, 100);
    ++sleeps;
  };
  EXPECT_EQ(fx.RunEffect(e, "10", st.Surfaces(), hooks), StartResult::kStarted);
  EXPECT_GT(yields, 0);
  EXPECT_EQ(nested_busy, yields);
  EXPECT_EQ(sleeps, e == 9 ? yields : 0);  // only the blinds pause
  EXPECT_TRUE(SameImage(st.p1.Image(), st.incoming.View()));
}

TEST_P(EveryEffect, StopFromTheYieldEndsTheBlockingRun) {
  const int e = GetParam();
  Stage st(37, 23, 8);
  TransEffects fx;
  int yields = 0;
  Surface after_first;
  FrameHooks hooks;
  hooks.yield = [&]() {
    if (++yields == 1) {
      after_first = st.p1.ImageSurface().Clone();
      fx.RequestStop();
    }
  };
  EXPECT_EQ(fx.RunEffect(e, "1", st.Surfaces(), hooks), StartResult::kStarted);
  EXPECT_EQ(yields, 1);
  if (!IsBlend(e)) {
    EXPECT_TRUE(SameImage(st.p1.Image(), after_first.View()));
  }
  EXPECT_FALSE(fx.Active());
}

// Sets how large a frame the transitions work on in place, for one test; puts it back after.
struct InPlaceLimit {
  std::size_t old = SetInPlaceBytes(std::size_t{16} << 20);
  ~InPlaceLimit() { SetInPlaceBytes(old); }
};

// Sets the widest vectors the kernels use, for one test; puts them back after.
struct VectorLimit {
  int old;
  explicit VectorLimit(int bytes) : old(LimitVectorBytes(bytes)) {}
  ~VectorLimit() { LimitVectorBytes(old); }
};

TEST_P(EveryEffect, FastKernelsEqualPlainFrameByFrame) {
  const int e = GetParam();
  struct Case {
    int w, h;
    const char* b;
    int cap;
    int w2, h2, w3, h3;
  };
  const Case cases[] = {
      {37, 23, "3", 100000, -1, -1, -1, -1},   {37, 23, "0", 60, -1, -1, -1, -1},
      {200, 9, "7", 100000, -1, -1, -1, -1},   {9, 60, "1", 100000, -1, -1, -1, -1},
      {37, 23, "-5", 40, -1, -1, -1, -1},      {37, 23, "-60", 40, -1, -1, -1, -1},
      {64, 48, "25", 100000, -1, -1, -1, -1},  {40, 30, "4", 100000, 25, 41, 50, 12},
      {1, 1, "1", 100, -1, -1, -1, -1},        {2, 3, "0", 50, -1, -1, -1, -1},
      {37, 23, "100000", 100, -1, -1, -1, -1}, {301, 167, "10", 100000, -1, -1, -1, -1},
      {260, 130, "-48", 30, -1, -1, -1, -1},
  };
  // Small pictures are worked on in place where a transition can, or copied from the pictures
  // as large ones are; with the widest vectors, and again with narrower ones.
  const InPlaceLimit limit;
  for (const Case& c : cases) {
    for (std::uint32_t run = 0; run < 12; ++run) {
      const std::uint32_t seed = 1 + run % 2;
      SetInPlaceBytes(run % 4 < 2 ? limit.old : 0);
      const VectorLimit vectors(run < 4 ? 64 : run < 8 ? 32 : 16);
      Stage a(c.w, c.h, seed, c.w2, c.h2, c.w3, c.h3), b(c.w, c.h, seed, c.w2, c.h2, c.w3, c.h3);
      TransEffects fa, fb;
      fb.SetKernel(Kernel::kPlain);
      std::vector<Surface> frames_a, frames_b;
      const Outcome oa = RunToEnd(fa, e, c.b, a, seed, c.cap, &frames_a);
      const Outcome ob = RunToEnd(fb, e, c.b, b, seed, c.cap, &frames_b);
      ASSERT_EQ(oa.frames, ob.frames) << e << " " << c.w << "x" << c.h << " b=" << c.b;
      ASSERT_EQ(oa.ended, ob.ended);
      for (std::size_t i = 0; i < frames_a.size(); ++i) {
        ASSERT_TRUE(SameImage(frames_a[i].View(), frames_b[i].View()))
            << "effect " << e << " " << c.w << "x" << c.h << " b=" << c.b << " frame " << i + 1
            << ": " << test::FirstDifference(frames_a[i].View(), frames_b[i].View());
      }
      EXPECT_TRUE(SameImage(a.p1.Image(), b.p1.Image()));
      EXPECT_TRUE(SameImage(a.p2.Image(), b.p2.Image()));
      EXPECT_TRUE(SameImage(a.p3.Image(), b.p3.Image()));
    }
  }
}

// A cross-fade of a large frame is blended by two threads, each on half of the pixels: frame by
// frame it is the same as the plain blend.
TEST(CrossFade, ALargeFrameBlendedInTwoHalvesEqualsThePlainBlend) {
  const int w = 1031, h = 1033;  // more than 2^20 pixels, halves not on a row's end
  for (const int vectors : {64, 16}) {
    const VectorLimit limit(vectors);
    Stage a(w, h, 3), b(w, h, 3);
    TransEffects fa, fb;
    fb.SetKernel(Kernel::kPlain);
    std::vector<Surface> frames_a, frames_b;
    const Outcome oa = RunToEnd(fa, 17, "60", a, 3, 5, &frames_a);
    const Outcome ob = RunToEnd(fb, 17, "60", b, 3, 5, &frames_b);
    ASSERT_GE(oa.frames, 3);
    ASSERT_EQ(oa.frames, ob.frames);
    for (std::size_t i = 0; i < frames_a.size(); ++i)
      ASSERT_TRUE(SameImage(frames_a[i].View(), frames_b[i].View()))
          << "frame " << i + 1 << ": "
          << test::FirstDifference(frames_a[i].View(), frames_b[i].View());
  }
}

// A screen that takes from each frame only the part the refresh says changed shows every frame
// whole: the first frame refreshes everything (the target may hold a picture composed for the
// step and not shown yet), and each transition reports every pixel it writes, with either kernel.
TEST_P(EveryEffect, ShowingOnlyTheChangedPartsShowsEveryFrame) {
  const int e = GetParam();
  struct Case {
    int w, h;
    const char* b;
  };
  for (const Case& c : {Case{37, 23, "3"}, Case{200, 9, "7"}, Case{9, 60, "1"},
                        Case{301, 167, "10"}, Case{64, 48, "25"}}) {
    const InPlaceLimit limit;
    for (int run = 0; run < 3; ++run) {
      const Kernel k = run == 0 ? Kernel::kPlain : Kernel::kFast;
      SetInPlaceBytes(run == 2 ? 0 : limit.old);
      Stage st(c.w, c.h, 4);
      TransEffects fx;
      fx.SetKernel(k);
      Surface screen(c.w, c.h, 0x00ABCDEF);  // not what the target holds
      FixedRandom rnd(4);
      ASSERT_EQ(fx.Start(e, c.b, st.Surfaces(), rnd.Source()), StartResult::kStarted);
      for (int frame = 1; fx.Frame(); ++frame) {
        const Rect r = st.lastChanged;
        ASSERT_TRUE(r.x >= 0 && r.y >= 0 && r.x + r.w <= c.w && r.y + r.h <= c.h);
        for (int y = r.y; y < r.y + r.h; ++y)
          for (int x = r.x; x < r.x + r.w; ++x) screen.At(x, y) = st.p1.Image().At(x, y);
        ASSERT_TRUE(SameImage(screen.View(), st.p1.Image()))
            << "effect " << e << " " << c.w << "x" << c.h << " b=" << c.b << " frame " << frame
            << (k == Kernel::kFast ? run == 2 ? " fast, copied: " : " fast: " : " plain: ")
            << test::FirstDifference(screen.View(), st.p1.Image());
      }
    }
  }
}

TEST_P(EveryEffect, NegativeAndZeroStepBasesRunUntilStopped) {
  const int e = GetParam();
  for (const char* b : {"0", "-1", "-7", "-51", "-2147483648", "2147483647"}) {
    for (auto [w, h] : {std::pair{37, 23}, std::pair{1, 100}, std::pair{0, 0}}) {
      Stage st(w, h, 11);
      TransEffects fx;
      const Outcome o = RunToEnd(fx, e, b, st, 3, 300);
      ASSERT_EQ(o.start, StartResult::kStarted);
      if (!o.ended) {
        fx.RequestStop();
        EXPECT_FALSE(fx.Frame()) << "b=" << b;  // one stop ends it at its next frame
      }
      EXPECT_FALSE(fx.Active());
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Effects, EveryEffect, ::testing::Range(0, kEffectCount),
                         [](const ::testing::TestParamInfo<int>& p) {
                           std::string n = std::to_string(p.param);
                           n.insert(n.begin(), 'e');
                           n.push_back('_');
                           n.append(EffectName(p.param));
                           for (char& ch : n) {
                             if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           }
                           return n;
                         });

TEST(EffectTable, NumbersOutsideTheTableChangeNothing) {
  for (int e : {-1, 19, 20, 1000, -32768}) {
    Stage st(37, 23, 2);
    TransEffects fx;
    EXPECT_EQ(fx.Start(e, "10", st.Surfaces()), StartResult::kNoSuchEffect);
    EXPECT_EQ(fx.RunEffect(e, "10", st.Surfaces(), {}), StartResult::kNoSuchEffect);
    EXPECT_FALSE(fx.EffectRunning());
    EXPECT_FALSE(fx.Frame());
    EXPECT_TRUE(SameImage(st.p1.Image(), st.outgoing.View()));
    EXPECT_EQ(st.refreshes, 0);
  }
}

TEST(EffectTable, SaverTimeThatIsNotANumberRunsNothing) {
  for (const char* b : {"", "abc", "1x", "9999999999", " "}) {
    Stage st(37, 23, 2);
    TransEffects fx;
    EXPECT_EQ(fx.Start(0, b, st.Surfaces()), StartResult::kBadStepBase) << b;
    EXPECT_TRUE(SameImage(st.p1.Image(), st.outgoing.View()));
  }
  Stage st(37, 23, 2);
  TransEffects fx;
  EXPECT_EQ(fx.Start(0, "10", {&st.p1, nullptr, &st.p3}), StartResult::kNoSurfaces);
}

TEST(EffectTable, StepBaseIsRoundedHalfToEven) {
  // Wipe on a width of 10 with b = 2.5 -> 2: frames at n = 0, 2, 4, 6, 8 (five), then the copy.
  for (auto [text, frames] : {std::pair{"2.5", 5}, std::pair{"3.5", 3}, std::pair{" 5 ", 2}}) {
    Stage st(10, 4, 1);
    TransEffects fx;
    const Outcome o = RunToEnd(fx, 0, text, st, 1, 1000);
    EXPECT_EQ(o.frames, frames) << text;
  }
}

TEST(EffectTable, ResizingASurfaceMidTransitionEndsIt) {
  Stage st(37, 23, 2);
  TransEffects fx;
  ASSERT_EQ(fx.Start(17, "0", st.Surfaces()), StartResult::kStarted);
  ASSERT_TRUE(fx.Frame());
  st.p2.SetPixelSize(10, 10);
  EXPECT_FALSE(fx.Frame());
  EXPECT_FALSE(fx.Active());
  EXPECT_EQ(fx.Start(17, "0", st.Surfaces()), StartResult::kStarted);
}

TEST(EffectTable, PlainMaskHoldsAndReleasesItsSurfaces) {
  for (int e = 10; e <= 15; ++e) {
    Stage st(37, 23, 2);
    TransEffects fx;
    fx.SetKernel(Kernel::kPlain);
    ASSERT_EQ(fx.Start(e, "1", st.Surfaces()), StartResult::kStarted);
    ASSERT_TRUE(fx.Frame());
    EXPECT_TRUE(fx.HoldsOffscreenSurfaces());
    fx.RequestStop();
    EXPECT_FALSE(fx.Frame());
    EXPECT_FALSE(fx.HoldsOffscreenSurfaces());
  }
}

}  // namespace
}  // namespace dbx
