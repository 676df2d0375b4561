// Frame contents against the transitions' geometry, on small odd sizes and a wide one.
#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>
#include <vector>

#include "effects/numeric.h"
#include "effects/trans_effects.h"
#include "test_util.h"

namespace dbx {
namespace {

using test::SameImage;
using test::Sequence;
using test::Stage;

// Orientation 1 needs a random number below 0.5, orientation 2 one from 0.5.
RandomSource Orientation(int o) {
  return Sequence({o == 1 ? 0.1 : 0.9, 0.3, 0.7, 0.2});
}

bool IsIn(const Stage& st, int x, int y) {
  return st.p1.Image().At(x, y) == st.incoming.At(x, y);
}
bool IsOut(const Stage& st, int x, int y) {
  return st.p1.Image().At(x, y) == st.outgoing.At(x, y);
}

// Runs `frames` iterations; true when all were drawn (the effect did not end).
bool Frames(TransEffects& fx, int frames) {
  for (int i = 0; i < frames; ++i) {
    if (!fx.Frame()) return false;
  }
  return true;
}

int CountFrames(TransEffects& fx, int cap = 1000000) {
  int n = 0;
  while (n < cap && fx.Frame()) ++n;
  return n;
}

TEST(Wipe, BandGrowsFromTheRight) {
  for (auto [w, h] : {std::pair{37, 23}, std::pair{301, 7}}) {
    Stage st(w, h, 1);
    TransEffects fx;
    ASSERT_EQ(fx.Start(0, "4", st.Surfaces()), StartResult::kStarted);
    for (int f = 1; f * 4 - 4 < w; ++f) {
      ASSERT_TRUE(fx.Frame());
      const int n = (f - 1) * 4;
      for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
          ASSERT_TRUE(x >= w - n ? IsIn(st, x, y) : IsOut(st, x, y)) << f << " " << x << "," << y;
        }
      }
    }
    EXPECT_FALSE(fx.Frame());
  }
}

TEST(CloseOpen, OddHeightsHalveToEven) {
  for (int h : {767, 769}) {
    for (int e : {1, 2}) {
      Stage st(3, h, 1);
      TransEffects fx;
      ASSERT_EQ(fx.Start(e, "1", st.Surfaces(), Orientation(1)), StartResult::kStarted);
      EXPECT_EQ(CountFrames(fx), 384) << "effect " << e << " H=" << h;  // n = 0 .. 383
    }
  }
}

TEST(CloseOpen, BandsOfBothOrientations) {
  const int w = 37, h = 23;
  {  // close, orientation 1: bands from the top and bottom edges
    Stage st(w, h, 2);
    TransEffects fx;
    ASSERT_EQ(fx.Start(1, "3", st.Surfaces(), Orientation(1)), StartResult::kStarted);
    ASSERT_TRUE(Frames(fx, 3));  // n = 6
    for (int y = 0; y < h; ++y) {
      ASSERT_TRUE((y < 6 || y >= h - 6) ? IsIn(st, 10, y) : IsOut(st, 10, y)) << y;
    }
  }
  {  // open, orientation 2: bands from the middle column (half = 18, 37 / 2 = 18.5 -> 18)
    Stage st(w, h, 3);
    TransEffects fx;
    ASSERT_EQ(fx.Start(2, "3", st.Surfaces(), Orientation(2)), StartResult::kStarted);
    ASSERT_TRUE(Frames(fx, 3));  // n = 6: columns 12 .. 23
    for (int x = 0; x < w; ++x) {
      ASSERT_TRUE((x >= 12 && x < 24) ? IsIn(st, x, 5) : IsOut(st, x, 5)) << x;
    }
    EXPECT_EQ(CountFrames(fx), 3);  // n = 9, 12, 15, then n = 18 reaches half and ends
  }
}

TEST(StretchDoors, VerticalLeavesTheBottomRowUntouched) {
  Stage st(37, 101, 4);
  TransEffects fx;
  ASSERT_EQ(fx.Start(4, "-45", st.Surfaces(), Orientation(1)), StartResult::kStarted);  // step 5
  int frames = 0;
  while (fx.Frame()) {
    ++frames;
    for (int x = 0; x < 37; ++x) ASSERT_TRUE(IsOut(st, x, 100)) << frames;
  }
  EXPECT_EQ(frames, 10);  // n = 0, 5, .., 45; half = 50
  EXPECT_TRUE(SameImage(st.p1.Image(), st.incoming.View()));
}

TEST(StretchPush, SqueezesBothPictures) {
  Stage st(64, 5, 4);
  TransEffects fx;
  ASSERT_EQ(fx.Start(3, "-18", st.Surfaces()), StartResult::kStarted);  // step 32
  ASSERT_TRUE(Frames(fx, 1));  // n = 0: the outgoing picture at its own size
  EXPECT_TRUE(SameImage(st.p1.Image(), st.outgoing.View()));
  ASSERT_TRUE(Frames(fx, 1));  // n = 32: two halves, each the 2:1 average of its picture
  const Pixel a = st.incoming.At(0, 2), b = st.incoming.At(1, 2);
  const Pixel got = st.p1.Image().At(0, 2);
  EXPECT_NEAR(PixelG(got), (PixelG(a) + PixelG(b) + 1) / 2, 1);
  const Pixel c = st.outgoing.At(62, 2), d = st.outgoing.At(63, 2);
  EXPECT_NEAR(PixelR(st.p1.Image().At(63, 2)), (PixelR(c) + PixelR(d) + 1) / 2, 1);
  EXPECT_EQ(CountFrames(fx), 0);
}

TEST(RandomLines, DrawsAPermutation) {
  for (int o : {1, 2}) {
    const int w = 37, h = 23, n = o == 1 ? w : h;
    Stage st(w, h, 5);
    TransEffects fx;
    ASSERT_EQ(fx.Start(5, "0", st.Surfaces(),
                       Sequence({o == 1 ? 0.2 : 0.8, 0.13, 0.77, 0.41, 0.99, 0.05, 0.6, 0.31, 0.52,
                                 0.88})),
              StartResult::kStarted);
    std::vector<int> drawn;
    std::vector<bool> seen(static_cast<std::size_t>(n), false);
    for (int f = 0; f < n; ++f) {
      ASSERT_TRUE(fx.Frame()) << f;
      // Exactly one new line per frame (or none, for the value N that lies past the picture).
      int fresh = -1;
      for (int i = 0; i < n; ++i) {
        const bool in =
            o == 1 ? IsIn(st, i, 0) && IsIn(st, i, h - 1) : IsIn(st, 0, i) && IsIn(st, w - 1, i);
        if (in && !seen[static_cast<std::size_t>(i)]) {
          ASSERT_EQ(fresh, -1) << "two lines in one frame";
          fresh = i;
          seen[static_cast<std::size_t>(i)] = true;
        }
      }
      drawn.push_back(fresh);
    }
    EXPECT_FALSE(fx.Frame());  // i reached N
    std::set<int> distinct(drawn.begin(), drawn.end());
    EXPECT_EQ(distinct.size(), drawn.size());  // each line once (−1, the value N, at most once)
    const int missing = static_cast<int>(std::count(seen.begin(), seen.end(), false));
    EXPECT_LE(missing, 1);
  }
}

TEST(RandomLines, FirstFrameDrawsBPlusOneLines) {
  Stage st(37, 23, 6);
  TransEffects fx;
  ASSERT_EQ(fx.Start(5, "4", st.Surfaces(), Sequence({0.2, 0.5})), StartResult::kStarted);
  ASSERT_TRUE(fx.Frame());
  int lines = 0;
  for (int x = 0; x < 37; ++x) lines += IsIn(st, x, 3) ? 1 : 0;
  EXPECT_GE(lines, 4);  // five entries; one of them may be the value N, past the picture
  EXPECT_LE(lines, 5);
}

TEST(Comb, RevealAndSlideStrips) {
  const int w = 37, h = 23;
  for (int e : {6, 7}) {
    for (int o : {1, 2}) {
      Stage st(w, h, 7);
      TransEffects fx;
      ASSERT_EQ(fx.Start(e, "5", st.Surfaces(), Orientation(o)), StartResult::kStarted);
      ASSERT_TRUE(Frames(fx, 3));  // n = 10
      const int n = 10;
      for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
          const Pixel got = st.p1.Image().At(x, y);
          Pixel want = st.outgoing.At(x, y);
          if (o == 1) {
            if (x % 2 == 0 && y < n) want = st.incoming.At(x, e == 6 ? y : y + h - n);
            if (x % 2 == 1 && y >= h - n) want = st.incoming.At(x, e == 6 ? y : y - (h - n));
          } else {
            if (y % 2 == 0 && x < n) want = st.incoming.At(e == 6 ? x : x + w - n, y);
            if (y % 2 == 1 && x >= w - n) want = st.incoming.At(e == 6 ? x : x - (w - n), y);
          }
          ASSERT_EQ(got, want) << "effect " << e << " o=" << o << " at " << x << "," << y;
        }
      }
    }
  }
}

TEST(SplitScroll, SeamIsContinuousBetweenThePhases) {
  const int w = 11, h = 40;
  Stage st(w, h, 8);
  TransEffects fx;
  ASSERT_EQ(fx.Start(8, "5", st.Surfaces()), StartResult::kStarted);
  EXPECT_TRUE(SameImage(st.p1.Image(), st.outgoing.View()));  // the set-up copy
  ASSERT_TRUE(Frames(fx, 4));  // phase 1 frames at n = 0, 5, 10, 15; n is now 20 = half
  ASSERT_TRUE(Frames(fx, 1));  // first frame of phase 2, n = 20
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const Pixel want = y < 20 ? st.outgoing.At(x, y + 20) : st.incoming.At(x, y - 20);
      ASSERT_EQ(st.p1.Image().At(x, y), want) << x << "," << y;
    }
  }
  EXPECT_EQ(CountFrames(fx), 4);  // n = 15, 10, 5, 0, then n < 0 ends
  EXPECT_TRUE(SameImage(st.p1.Image(), st.incoming.View()));
}

TEST(Blinds, SlatsPastTheRightEdge) {
  const int w = 120, h = 5;
  Stage st(w, h, 9);
  TransEffects fx;
  ASSERT_EQ(fx.Start(9, "8", st.Surfaces()), StartResult::kStarted);
  EXPECT_EQ(fx.PauseAfterFrameMs(), 100);
  ASSERT_TRUE(Frames(fx, 6));  // a = 40 in the sixth frame
  for (int x = 0; x < w; ++x) {
    const int in_slat = x % 50;
    const bool open = in_slat >= 10;  // each slat [l, l + 50) shows its right 40 columns
    ASSERT_EQ(IsIn(st, x, 2), open) << x;
  }
  EXPECT_EQ(CountFrames(fx), 1);  // a = 48, then 56 >= 50 ends
}

// ----- Mask shapes.

int Revealed(const Stage& st) {
  int n = 0;
  for (int y = 0; y < st.p1.PixelHeight(); ++y) {
    for (int x = 0; x < st.p1.PixelWidth(); ++x) n += IsIn(st, x, y) ? 1 : 0;
  }
  return n;
}

TEST(Mask, EveryShapeRevealsMonotonicallyAndEndsByPhase) {
  const int w = 37, h = 23;
  struct Case {
    int effect;
    const char* b;
    int limit;  // L
  };
  for (const Case c : {Case{10, "0", 2 * w + 2 * h}, Case{12, "3", w + h}, Case{13, "3", w},
                       Case{14, "3", w}, Case{15, "3", w}}) {
    Stage st(w, h, 10);
    TransEffects fx;
    ASSERT_EQ(fx.Start(c.effect, c.b, st.Surfaces()), StartResult::kStarted);
    int frames = 0, last = 0;
    Surface prev = st.p1.ImageSurface().Clone();
    while (fx.Frame()) {
      ++frames;
      for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
          if (prev.At(x, y) == st.incoming.At(x, y)) {
            ASSERT_TRUE(IsIn(st, x, y));
          }
        }
      }
      prev = st.p1.ImageSurface().Clone();
      last = Revealed(st);
    }
    EXPECT_LT(frames, c.limit) << c.effect;  // ended by its phase, before the limit
    EXPECT_GT(last, w * h * 9 / 10) << c.effect;
  }
}

TEST(Mask, ZeroStepBaseEndsByTheLimitExceptTheCircle) {
  const int w = 37, h = 23;
  for (auto [e, limit] :
       {std::pair{12, w + h}, std::pair{13, w}, std::pair{14, w}, std::pair{15, w}}) {
    Stage st(w, h, 11);
    TransEffects fx;
    ASSERT_EQ(fx.Start(e, "0", st.Surfaces()), StartResult::kStarted);
    EXPECT_EQ(CountFrames(fx), limit) << e;
    EXPECT_TRUE(SameImage(st.p1.Image(), st.incoming.View()));
  }
  Stage st(w, h, 12);
  TransEffects fx;
  ASSERT_EQ(fx.Start(11, "0", st.Surfaces()), StartResult::kStarted);
  EXPECT_TRUE(Frames(fx, 2000));  // the circle never grows and never ends
  EXPECT_TRUE(SameImage(st.p1.Image(), st.outgoing.View()));
  EXPECT_TRUE(fx.EffectRunning());
}

TEST(Mask, CircleRadiusGrowsByTheStepsPerFrame) {
  const int w = 61, h = 41;  // centre (30.5, 20.5): boxes rounded half to even
  Stage st(w, h, 13);
  TransEffects fx;
  ASSERT_EQ(fx.Start(11, "4", st.Surfaces()), StartResult::kStarted);
  for (int f = 1; f <= 5; ++f) {
    ASSERT_TRUE(fx.Frame());
    const int r = 4 * f - 2;  // radii −1 .. 4f − 2 drawn so far
    int span = 0;
    for (int x = 0; x < w; ++x) span += IsIn(st, x, 20) ? 1 : 0;
    EXPECT_GE(span, 2 * r - 2) << f;
    EXPECT_LE(span, 2 * r + 1) << f;
  }
  // L = round(sqrt(30.5² + 20.5²)) = 37; d is 4f after frame f: frames 6 to 10, then d = 40 ends.
  EXPECT_EQ(CountFrames(fx), 5);
}

TEST(Mask, ScissorsFirstFrameDrawsTheDiagonal) {
  const int w = 20, h = 20;
  Stage st(w, h, 14);
  TransEffects fx;
  ASSERT_EQ(fx.Start(15, "1", st.Surfaces()), StartResult::kStarted);
  ASSERT_TRUE(fx.Frame());
  // Line (0, 0) to (W, H): the diagonal; line (W, H) to (0, −1): just beside it.
  for (int i = 0; i < w; ++i) EXPECT_TRUE(IsIn(st, i, i)) << i;
  EXPECT_LE(Revealed(st), 2 * w + 1);
  EXPECT_FALSE(IsIn(st, 0, h - 1));
  EXPECT_FALSE(IsIn(st, w - 1, 0));
}

// ----- Blends.

TEST(Blend, CrossFadeNineFramesAtZeroStepBase) {
  Stage st(37, 23, 15);
  TransEffects fx;
  ASSERT_EQ(fx.Start(17, "0", st.Surfaces()), StartResult::kStarted);
  for (int f = 0; f < 9; ++f) {
    ASSERT_TRUE(fx.Frame());
    const int alpha = 255 - 30 * f;
    for (int y = 0; y < 23; ++y) {
      for (int x = 0; x < 37; ++x) {
        ASSERT_EQ(st.p1.Image().At(x, y),
                  BlendPixel(st.outgoing.At(x, y), st.incoming.At(x, y), alpha));
      }
    }
  }
  EXPECT_FALSE(fx.Frame());
  EXPECT_TRUE(SameImage(st.p1.Image(), st.incoming.View()));
  EXPECT_TRUE(SameImage(st.p2.Image(), st.outgoing.View()));
  EXPECT_TRUE(SameImage(st.p3.Image(), st.incoming.View()));
}

TEST(Blend, SoftWipeStartsWithTheOutgoingPicture) {
  Stage st(301, 5, 16);
  TransEffects fx;
  ASSERT_EQ(fx.Start(16, "0", st.Surfaces()), StartResult::kStarted);  // step 50
  ASSERT_TRUE(fx.Frame());                                             // g = 0
  EXPECT_TRUE(SameImage(st.p1.Image(), st.outgoing.View()));
  ASSERT_TRUE(Frames(fx, 3));  // g = 150: columns < 75 incoming, 75..150 soft, > 150 outgoing
  for (int x = 0; x < 301; ++x) {
    const Pixel o = st.outgoing.At(x, 1), n = st.incoming.At(x, 1);
    Pixel want;
    if (x < 75) {
      want = n;
    } else if (x > 150) {
      want = o;
    } else {
      want = BlendPixel(o, n, static_cast<int>(RoundHalfEven(255.0 - (150.0 - x) / 75.0 * 255.0)));
    }
    ASSERT_EQ(st.p1.Image().At(x, 1), want) << x;
  }
  EXPECT_EQ(CountFrames(fx), 4);  // g = 200, 250, 300, 350; then 400 >= E = 301 + 75 ends
}

TEST(Blend, SoftCircleRadiusGrowsByTwenty) {
  const int w = 101, h = 61;
  Stage st(w, h, 17);
  TransEffects fx;
  ASSERT_EQ(fx.Start(18, "-50", st.Surfaces()), StartResult::kStarted);  // step base unused
  const int cx = w / 2, cy = h / 2;
  for (int f = 0; f < 4; ++f) {
    ASSERT_TRUE(fx.Frame());
    const int g = 1 + 20 * f;
    for (int x = 0; x < w; ++x) {
      const auto dist = RoundHalfEven(std::sqrt(static_cast<double>((x - cx) * (x - cx))));
      int alpha = 255;
      if (dist <= g) {
        alpha =
            dist < g - 75
                ? 0
                : static_cast<int>(std::clamp<std::int64_t>(
                      RoundHalfEven(255.0 - static_cast<double>(g - dist) / 75.0 * 255.0), 0, 255));
      }
      ASSERT_EQ(st.p1.Image().At(x, cy),
                BlendPixel(st.outgoing.At(x, cy), st.incoming.At(x, cy), alpha))
          << "frame " << f << " x " << x;
    }
  }
  // E = round(sqrt(101² + 61²) / 2) + 75 = 59 + 75 = 134: g = 81, 101, 121 drawn, 141 ends.
  EXPECT_EQ(CountFrames(fx), 3);
}

TEST(Blend, DifferentSizesForTheThreeSurfaces) {
  Stage st(40, 30, 18, 25, 41, 50, 12);
  TransEffects fx;
  ASSERT_EQ(fx.Start(17, "100", st.Surfaces()), StartResult::kStarted);
  while (fx.Frame()) {
  }
  // The target holds the incoming picture where it has one.
  EXPECT_EQ(st.p1.Image().At(3, 3), st.incoming.At(3, 3));
}

}  // namespace
}  // namespace dbx
