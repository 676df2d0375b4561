// The rasteriser, the span painters and the player's drawing: exact pixels of small pictures.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <vector>

#include "swf/flash_player.h"
#include "swf/format/movie.h"
#include "swf/render/raster.h"
#include "swf/render/renderer.h"
#include "test_support.h"

namespace dbx::swf {
namespace {

using swftest::PathOp;
using swftest::SwfWriter;

constexpr Pixel kWhite = 0xFFFFFF;
constexpr Pixel kRed = 0xFF0000;
constexpr Pixel kBlue = 0x0000FF;

// Rasterises a polygon (device pixels) into a coverage picture.
std::vector<int> Coverage(int w, int h, int sub, FillRule rule,
                          const std::vector<std::vector<std::pair<float, float>>>& polys) {
  Rasterizer r;
  r.Reset(w, h, sub);
  for (const auto& poly : polys)
    for (std::size_t i = 0; i < poly.size(); ++i) {
      const auto& a = poly[i];
      const auto& b = poly[(i + 1) % poly.size()];
      r.AddLine(a.first, a.second, b.first, b.second);
    }
  std::vector<int> cov(static_cast<std::size_t>(w * h), 0);
  r.Sweep(rule, [&](int y, const Span* spans, std::size_t n) {
    int previousEnd = 0;
    for (std::size_t i = 0; i < n; ++i) {
      ASSERT_GE(spans[i].x0, previousEnd);  // ordered and disjoint
      ASSERT_LT(spans[i].x0, spans[i].x1);
      ASSERT_LE(spans[i].x1, w);
      ASSERT_GT(spans[i].coverage, 0);
      previousEnd = spans[i].x1;
      for (int x = spans[i].x0; x < spans[i].x1; ++x)
        cov[static_cast<std::size_t>(y * w + x)] = spans[i].coverage;
    }
  });
  return cov;
}

TEST(Rasterizer, PixelCentresDecideWithoutAntiAliasing) {
  // A rectangle from (1.5, 1.5) to (4.5, 3.5): centres 1.5..3.5 inside on x (left edge
  // inclusive, right exclusive), rows 1.5 and 2.5 on y.
  const auto cov = Coverage(6, 5, 1, FillRule::kEvenOdd,
                            {{{1.5f, 1.5f}, {4.5f, 1.5f}, {4.5f, 3.5f}, {1.5f, 3.5f}}});
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 6; ++x) {
      const bool inside = x >= 1 && x <= 3 && y >= 1 && y <= 2;
      EXPECT_EQ(cov[static_cast<std::size_t>(y * 6 + x)], inside ? 255 : 0) << x << "," << y;
    }
}

TEST(Rasterizer, AntiAliasedEdgesGiveFractionalCoverage) {
  // Four samples per pixel on the rotated grid (x 0.375, 0.875, 0.125, 0.625 on the rows 0.125,
  // 0.375, 0.625, 0.875). Left edge at x = 1.5 (two samples of pixel 1 inside), top edge at
  // y = 1.5 (two rows of row 1), right edge at x = 4.25 (one sample of pixel 4).
  const auto cov = Coverage(6, 5, 4, FillRule::kEvenOdd,
                            {{{1.5f, 1.5f}, {4.25f, 1.5f}, {4.25f, 4.0f}, {1.5f, 4.0f}}});
  auto at = [&](int x, int y) { return cov[static_cast<std::size_t>(y * 6 + x)]; };
  EXPECT_EQ(at(2, 2), 255);
  EXPECT_NEAR(at(1, 2), 128, 2);
  EXPECT_NEAR(at(2, 1), 128, 2);
  EXPECT_NEAR(at(1, 1), 64, 2);
  EXPECT_NEAR(at(4, 2), 64, 2);
  EXPECT_EQ(at(5, 2), 0);
  EXPECT_EQ(at(2, 4), 0);
}

TEST(Rasterizer, SixteenSamplesLieOnAFourByFourGrid) {
  // Four rows (0.125 ... 0.875) of four samples (x 0.125 ... 0.875): a pixel's coverage is the
  // count of samples inside in sixteenths. Left edge at x = 1.3 (three columns of pixel 1), top
  // edge at y = 1.6 (two rows of row 1), right edge at x = 4.7 (three columns of pixel 4), a
  // slanted bottom edge from (1.3, 4.1) to (4.7, 4.9).
  const auto cov = Coverage(6, 6, 16, FillRule::kNonZero,
                            {{{1.3f, 1.6f}, {4.7f, 1.6f}, {4.7f, 4.9f}, {1.3f, 4.1f}}});
  auto at = [&](int x, int y) { return cov[static_cast<std::size_t>(y * 6 + x)]; };
  // Each sample counts for 16 of 256 (all sixteen make 255).
  auto count = [&](int x, int y) {
    double n = 0;
    for (int r = 0; r < 4; ++r)
      for (int c = 0; c < 4; ++c) {
        const double sx = x + (c + 0.5) / 4, sy = y + (r + 0.5) / 4;
        const double bottom = 4.1 + (sx - 1.3) * 0.8 / 3.4;
        n += sx >= 1.3 && sx < 4.7 && sy >= 1.6 && sy < bottom ? 1 : 0;
      }
    return n;
  };
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 6; ++x) {
      const double n = count(x, y);
      EXPECT_EQ(at(x, y), n == 16 ? 255 : static_cast<int>(n * 16)) << x << "," << y;
    }
  EXPECT_EQ(at(1, 1), 6 * 16);  // three columns of two rows
  EXPECT_EQ(at(4, 3), 12 * 16);
}

TEST(Rasterizer, WindingRules) {
  // Two squares drawn in the same direction overlap in the middle: even-odd leaves a hole,
  // non-zero fills it. A square drawn backwards cancels under non-zero as well.
  const std::vector<std::pair<float, float>> a = {{0, 0}, {6, 0}, {6, 6}, {0, 6}};
  const std::vector<std::pair<float, float>> b = {{3, 3}, {9, 3}, {9, 9}, {3, 9}};
  const std::vector<std::pair<float, float>> bReversed = {{3, 3}, {3, 9}, {9, 9}, {9, 3}};
  struct Case {
    const char* name;
    FillRule rule;
    const std::vector<std::pair<float, float>>* second;
    int middle;
  };
  for (const Case c :
       {Case{"even-odd", FillRule::kEvenOdd, &b, 0}, Case{"non-zero", FillRule::kNonZero, &b, 255},
        Case{"non-zero, opposite", FillRule::kNonZero, &bReversed, 0}}) {
    SCOPED_TRACE(c.name);
    const auto cov = Coverage(10, 10, 1, c.rule, {a, *c.second});
    EXPECT_EQ(cov[4 * 10 + 4], c.middle);
    EXPECT_EQ(cov[1 * 10 + 1], 255);
    EXPECT_EQ(cov[7 * 10 + 7], 255);
  }
}

TEST(Rasterizer, HostileCoordinatesAreContained) {
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  for (const int samples : {4, 16}) {
    const auto cov = Coverage(8, 8, samples, FillRule::kNonZero,
                              {{{-1e30f, -1e30f}, {1e30f, -1e30f}, {1e30f, 1e30f}, {-1e30f, 1e30f}},
                               {{nan, 0}, {inf, 5}, {3, -inf}}});
    for (int v : cov) EXPECT_EQ(v, 255) << samples;
  }
}

TEST(Rasterizer, WorkBudgetStopsTheSweep) {
  // A square over 100 rows visits two crossings per row; a budget of 50 stops it early and
  // stays spent for later sweeps.
  Rasterizer r;
  r.Reset(100, 100, 1);
  r.SetWorkBudget(50);
  const float sq[8] = {0, 0, 100, 0, 100, 100, 0, 100};
  r.AddConvex(sq, 4);
  int rows = 0;
  r.Sweep(FillRule::kNonZero, [&](int, const Span*, std::size_t) { ++rows; });
  EXPECT_EQ(rows, 25);
  EXPECT_TRUE(r.BudgetSpent());
  r.Reset(100, 100, 1);
  r.AddConvex(sq, 4);
  rows = 0;
  r.Sweep(FillRule::kNonZero, [&](int, const Span*, std::size_t) { ++rows; });
  EXPECT_EQ(rows, 0);
}

TEST(PaintSpan, SolidMatchesThePlainVersion) {
  // Random colours, coverages and masks, full coverage and opaque colours included (the fast
  // paths), against the plain floating-point blend.
  std::mt19937 rng(7);
  for (int round = 0; round < 400; ++round) {
    std::vector<Pixel> fast(16), plain(16);
    std::vector<std::uint8_t> mask(16);
    for (int i = 0; i < 16; ++i) {
      fast[static_cast<std::size_t>(i)] = plain[static_cast<std::size_t>(i)] = rng() & 0xFFFFFF;
      mask[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(rng());
    }
    const std::uint8_t coverage = static_cast<std::uint8_t>(round % 3 == 0 ? 255 : 1 + rng() % 255);
    const std::uint8_t alpha = static_cast<std::uint8_t>(round % 5 == 0 ? 255 : rng());
    const Rgba c{static_cast<std::uint8_t>(rng()), static_cast<std::uint8_t>(rng()),
                 static_cast<std::uint8_t>(rng()), alpha};
    FillStyle fill;
    fill.color = c;
    Paint paint;
    if (!MakePaint(fill, Matrix{}, ColorTransform{}, nullptr, true, paint)) continue;
    const std::uint8_t* m = round % 2 ? mask.data() : nullptr;
    PaintSpan(fast.data(), 0, 2, 14, coverage, m, paint);
    PaintSpanSolidReference(plain.data(), 2, 14, coverage, m, paint.solid);
    for (int i = 0; i < 16; ++i) {
      EXPECT_EQ(fast[static_cast<std::size_t>(i)] >> 24, 0u);
      for (int shift : {0, 8, 16})
        EXPECT_NEAR((fast[static_cast<std::size_t>(i)] >> shift) & 0xFF,
                    (plain[static_cast<std::size_t>(i)] >> shift) & 0xFF, 1)
            << "round " << round << " pixel " << i;
    }
  }
}

TEST(PaintSpan, GradientSpreadModes) {
  // A linear gradient from black (ratio 0) to white (255) whose square maps onto 10 device pixels
  // starting at x = 10; samples before, inside and after it.
  FillStyle fill;
  fill.kind = FillKind::kLinear;
  fill.gradient.stops = {{0, Rgba{0, 0, 0, 255}}, {255, Rgba{255, 255, 255, 255}}};
  fill.matrix.a = 10.0 / 32768.0;
  fill.matrix.d = 10.0 / 32768.0;
  fill.matrix.tx = 15;
  struct Case {
    Spread spread;
    int x;
    int expected;  // grey level at pixel x
  };
  const Case cases[] = {{Spread::kPad, 2, 0},       {Spread::kPad, 27, 255},
                        {Spread::kRepeat, 12, 64},  {Spread::kRepeat, 22, 64},
                        {Spread::kReflect, 12, 64}, {Spread::kReflect, 22, 191}};
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.spread));
    SCOPED_TRACE(c.x);
    fill.gradient.spread = c.spread;
    Paint paint;
    ASSERT_TRUE(MakePaint(fill, Matrix{}, ColorTransform{}, nullptr, false, paint));
    std::vector<Pixel> row(32, 0);
    PaintSpan(row.data(), 0, 0, 32, 255, nullptr, paint);
    EXPECT_NEAR(static_cast<int>(PixelG(row[static_cast<std::size_t>(c.x)])), c.expected, 8);
  }
}

TEST(PaintSpan, ColourTransformAppliesToTheSampledGradientColour) {
  // A jump from black to white between ratios 100 and 101, spread over 64 device pixels, so that
  // pixels sample between the two stop colours. Each transformed pixel is the transform of the
  // untransformed one: the transform comes after the interpolation, with its own rounding.
  FillStyle fill;
  fill.kind = FillKind::kLinear;
  fill.gradient.stops = {{100, Rgba{0, 0, 0, 255}}, {101, Rgba{255, 255, 255, 255}}};
  fill.matrix.a = 64.0 * 256 / 32768.0;
  fill.matrix.d = fill.matrix.a;
  fill.matrix.tx = 64.0 * 256 / 2 - 100.5 * 64;  // ratio 100.5 at x = 0
  ColorTransform cx;
  cx.mult = {0.6f, 0.3f, 1, 1};
  cx.add = {0, 40, -20, 0};
  Paint plain, transformed;
  ASSERT_TRUE(MakePaint(fill, Matrix{}, ColorTransform{}, nullptr, false, plain));
  ASSERT_TRUE(MakePaint(fill, Matrix{}, cx, nullptr, false, transformed));
  std::vector<Pixel> a(64, 0), b(64, 0);
  PaintSpan(a.data(), 0, 0, 64, 255, nullptr, plain);
  PaintSpan(b.data(), 0, 0, 64, 255, nullptr, transformed);
  int between = 0;
  for (std::size_t x = 0; x < a.size(); ++x) {
    SCOPED_TRACE(x);
    const Rgba c = cx.Apply(Rgba{static_cast<std::uint8_t>(PixelR(a[x])),
                                 static_cast<std::uint8_t>(PixelG(a[x])),
                                 static_cast<std::uint8_t>(PixelB(a[x])), 255});
    EXPECT_EQ(b[x], static_cast<Pixel>(c.r << 16 | c.g << 8 | c.b));
    between += PixelR(a[x]) > 0 && PixelR(a[x]) < 255;
  }
  EXPECT_GT(between, 20);
}

TEST(PaintSpan, ColourTransformAppliesToBitmaps) {
  Bitmap bmp;
  bmp.width = 2;
  bmp.height = 1;
  bmp.pixels = {0xFF102030u, 0x80400000u};  // opaque and half-transparent premultiplied red
  FillStyle fill;
  fill.kind = FillKind::kBitmap;
  fill.smoothed = false;
  fill.repeat = false;
  ColorTransform cx;
  cx.mult = {2, 1, 1, 1};
  cx.add = {0, 0, 5, 0};
  Paint paint;
  ASSERT_TRUE(MakePaint(fill, Matrix{}, cx, &bmp, false, paint));
  std::vector<Pixel> row(3, 0);
  PaintSpan(row.data(), 0, 0, 3, 255, nullptr, paint);
  EXPECT_EQ(row[0], 0x202035u);
  EXPECT_NEAR(static_cast<int>(PixelR(row[1])), 0x80, 1);  // straight red 0x80 doubled, half alpha
  EXPECT_NEAR(static_cast<int>(PixelB(row[1])), 3, 1);
  EXPECT_EQ(row[2], row[1]);  // clamped to the edge pixel
}

TEST(Morph, RatioInterpolatesEdgesAndStyles) {
  MorphShape m;
  FillStyle a, b;
  a.color = {0, 0, 0, 255};
  b.color = {200, 100, 50, 255};
  m.start.fills = {a};
  m.end.fills = {b};
  ShapeEdge e0{{0, 0}, {50, 0}, {100, 0}, false, -1, 0, -1};
  ShapeEdge e1{{0, 100}, {100, 100}, {200, 100}, true, -1, 0, -1};
  m.start.edges = {e0};
  m.end.edges = {e1};
  const Shape s0 = InterpolateMorph(m, 0), s1 = InterpolateMorph(m, 65535),
              half = InterpolateMorph(m, 32768);
  EXPECT_EQ(s0.edges[0].to, (Vec2{100, 0}));
  EXPECT_EQ(s1.edges[0].to, (Vec2{200, 100}));
  EXPECT_NEAR(half.edges[0].to.x, 150, 0.01);
  EXPECT_NEAR(half.edges[0].from.y, 50, 0.01);
  EXPECT_EQ(s1.fills[0].color, b.color);
  EXPECT_EQ(half.fills[0].color, (Rgba{100, 50, 25, 255}));
}

// --- Through the player ---------------------------------------------------------------------

std::vector<std::uint8_t> RedRectMovie(int w, int h) {
  SwfWriter m(w, h, 10);
  m.Background(255, 255, 255);
  m.SolidShape(1, 0xFF0000FF, swftest::Rectangle(0, 0, w * 20, h * 20));
  m.Place(1, 1);
  m.ShowFrame();
  m.End();
  return m.Finish();
}

Surface Render(FlashPlayer& p, int w, int h) {
  Surface s(w, h, 0x123456);
  p.SetViewportSize({w, h});
  p.RenderFrame(s.View());
  return s;
}

// The one frame of `m` (ended here) drawn without anti-aliasing at w x h.
Surface RenderLow(SwfWriter& m, int w, int h) {
  m.ShowFrame();
  m.End();
  const auto bytes = m.Finish();
  FlashPlayer p;
  p.LoadMovieBytes(bytes.data(), bytes.size());
  p.SetQuality2("Low");
  return Render(p, w, h);
}

TEST(Player, ScaleModesFitTheStageCentred) {
  // A 100 x 50 stage filled red, shown in 200 x 200 with a blue background colour (0x00BBGGRR).
  const auto bytes = RedRectMovie(100, 50);
  struct Case {
    int mode;
    Rect red;  // where the stage lands
  };
  const Case cases[] = {
      {0, {0, 50, 200, 100}}, {1, {0, 0, 200, 200}}, {2, {0, 0, 200, 200}}, {3, {50, 75, 100, 50}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    FlashPlayer p;
    p.LoadMovieBytes(bytes.data(), bytes.size());
    p.SetScaleMode(c.mode);
    EXPECT_EQ(p.ScaleMode(), c.mode);
    p.SetBackgroundColor(0xFF0000);
    const Surface s = Render(p, 200, 200);
    for (int y = 0; y < 200; y += 5)
      for (int x = 0; x < 200; x += 5) {
        const bool inRed =
            x >= c.red.x && x < c.red.x + c.red.w && y >= c.red.y && y < c.red.y + c.red.h;
        ASSERT_EQ(s.At(x, y), inRed ? kRed : kBlue) << x << "," << y;
      }
  }
}

TEST(Player, StageOfFractionalSizeIsShownOneToOne) {
  // A stage from -0.65 to 100.65 px across and -0.65 to 24.65 px down measures 101 x 25 pixels;
  // in a view of that size it is not scaled: the square from 0.5 to 1.5 px covers only the
  // centre of pixel (1, 1).
  SwfWriter m(101, 25);
  m.Frame(-13, 2013, -13, 493);
  m.Background(255, 255, 255);
  m.SolidShape(1, 0x000000FF,
               {{PathOp::kMove, 10, 10},
                {PathOp::kLine, 30, 10},
                {PathOp::kLine, 30, 30},
                {PathOp::kLine, 10, 30},
                {PathOp::kLine, 10, 10}});
  m.Place(1, 1);
  m.ShowFrame();
  m.End();
  const auto bytes = m.Finish();
  FlashPlayer p;
  p.LoadMovieBytes(bytes.data(), bytes.size());
  p.SetQuality2("Low");
  EXPECT_EQ(p.MovieWidth(), 101);
  EXPECT_EQ(p.MovieHeight(), 25);
  const Surface s = Render(p, 101, 25);
  for (int y = 0; y < 25; ++y)
    for (int x = 0; x < 101; ++x)
      ASSERT_EQ(s.At(x, y), x == 1 && y == 1 ? 0u : kWhite) << x << "," << y;
}

TEST(Player, BackgroundOnlyWithoutAMovie) {
  struct Case {
    const char* name;
    std::vector<std::uint8_t> bytes;
  };
  const Case cases[] = {{"nothing", {}},
                        {"garbage", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}},
                        {"header only", {'F', 'W', 'S', 6, 8, 0, 0, 0}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FlashPlayer p;
    p.LoadMovieBytes(c.bytes.data(), c.bytes.size(), "x.swf");
    EXPECT_FALSE(p.HasMovie());
    EXPECT_EQ(p.Movie(), "x.swf");
    p.SetBackgroundColor(0x00FF00);
    p.Play();
    EXPECT_TRUE(p.Advance(0));
    const Surface s = Render(p, 7, 5);
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 7; ++x) ASSERT_EQ(s.At(x, y), 0x00FF00u);
  }
  FlashPlayer missing;
  missing.SetMovie("/nonexistent/folder/movie.swf");
  EXPECT_FALSE(missing.HasMovie());
  EXPECT_EQ(Render(missing, 3, 3).At(1, 1), kWhite);  // no colour set, no movie: white
}

TEST(Player, MovieBackgroundUnlessTheHostSetsOne) {
  SwfWriter m(10, 10);
  m.Background(0, 0, 255);
  m.ShowFrame();
  m.End();
  const auto bytes = m.Finish();
  FlashPlayer p;
  p.LoadMovieBytes(bytes.data(), bytes.size());
  EXPECT_EQ(Render(p, 4, 4).At(2, 2), kBlue);
  p.SetBackgroundColor(0x0000FF);  // red as 0x00BBGGRR
  EXPECT_EQ(Render(p, 4, 4).At(2, 2), kRed);
  p.SetBackgroundColor(-1);
  EXPECT_EQ(Render(p, 4, 4).At(2, 2), kBlue);
}

TEST(Player, QualityLowDrawsWithoutAntiAliasing) {
  SwfWriter m(20, 20);
  m.Background(255, 255, 255);
  m.SolidShape(1, 0x000000FF,
               {{PathOp::kMove, 0, 0},
                {PathOp::kLine, 400, 130},
                {PathOp::kLine, 30, 400},
                {PathOp::kLine, 0, 0}});
  m.Place(1, 1);
  m.ShowFrame();
  m.End();
  const auto bytes = m.Finish();
  struct Case {
    const char* quality;
    bool greys;
  };
  for (const Case c :
       {Case{"Low", false}, Case{"low", false}, Case{"Medium", true}, Case{"High", true},
        Case{"Best", true}, Case{"AutoHigh", true}, Case{"", true}}) {
    SCOPED_TRACE(c.quality);
    FlashPlayer p;
    p.LoadMovieBytes(bytes.data(), bytes.size());
    p.SetQuality2(c.quality);
    EXPECT_EQ(p.Quality2(), c.quality);
    const Surface s = Render(p, 20, 20);
    int greys = 0, blacks = 0;
    for (int y = 0; y < 20; ++y)
      for (int x = 0; x < 20; ++x) {
        const Pixel px = s.At(x, y);
        greys += px != 0 && px != kWhite;
        blacks += px == 0;
      }
    EXPECT_GT(blacks, 50);
    EXPECT_EQ(greys > 0, c.greys);
  }
}

// A 20 x 10 movie drawn at quality "Low" and at "High", each picture handed to `check`.
void DrawnLowAndHigh(const std::vector<std::uint8_t>& bytes,
                     const std::function<void(const Surface&)>& check) {
  for (const char* quality : {"Low", "High"}) {
    SCOPED_TRACE(quality);
    FlashPlayer p;
    p.LoadMovieBytes(bytes.data(), bytes.size());
    p.SetQuality2(quality);
    check(Render(p, 20, 10));
  }
}

TEST(Player, MasksLimitTheLayersBelowTheirClipDepth) {
  // Depth 1: a mask (left half); depth 2: red over everything, clipped; depth 3: a blue strip
  // above the clip depth, not clipped.
  SwfWriter m(20, 10);
  m.Background(255, 255, 255);
  m.SolidShape(1, 0x00FF00FF, swftest::Rectangle(0, 0, 200, 200));
  m.SolidShape(2, 0xFF0000FF, swftest::Rectangle(0, 0, 400, 200));
  m.SolidShape(3, 0x0000FFFF, swftest::Rectangle(0, 100, 400, 20));
  m.Place(1, 1, 0, 0, /*clipDepth=*/2);
  m.Place(2, 2);
  m.Place(3, 3);
  m.ShowFrame();
  m.End();
  DrawnLowAndHigh(m.Finish(), [](const Surface& s) {
    EXPECT_EQ(s.At(3, 2), kRed);     // inside the mask
    EXPECT_EQ(s.At(15, 2), kWhite);  // outside: the mask itself is never drawn
    EXPECT_EQ(s.At(15, 5), kBlue);   // above the clip depth
  });
}

// A mask covers with its fills only: under a mask of a thick line and a small square, the layer
// below shows in the square and nowhere along the line.
TEST(Player, AMaskCoversWithItsFillsOnly) {
  SwfWriter m(20, 10);
  m.Background(255, 255, 255);
  m.StrokedPath(1, 80, 0x000000FF, {{PathOp::kMove, 0, 100}, {PathOp::kLine, 400, 100}});
  m.SolidShape(2, 0xFF0000FF, swftest::Rectangle(0, 0, 400, 200));
  m.SolidShape(3, 0x000000FF, swftest::Rectangle(0, 0, 60, 60));
  SwfWriter inner(20, 10);
  inner.Place(1, 1);
  inner.Place(3, 2);
  inner.ShowFrame();
  m.Sprite(4, inner, 1);
  m.Place(4, 1, 0, 0, /*clipDepth=*/2);
  m.Place(2, 2);
  m.ShowFrame();
  m.End();
  DrawnLowAndHigh(m.Finish(), [](const Surface& s) {
    EXPECT_EQ(s.At(1, 1), kRed);     // the square
    EXPECT_EQ(s.At(10, 5), kWhite);  // the line
    EXPECT_EQ(s.At(10, 2), kWhite);
  });
}

// A mask a script sets: the masked clip shows only where the mask clip covers, and the mask
// clip is not drawn itself; taking the mask away, or its clip ending, undoes both.
TEST(Player, ScriptMasksLimitTheirClipAndAreNotDrawn) {
  SwfWriter m(20, 10);
  m.Background(255, 255, 255);
  m.SolidShape(1, 0x00FF00FF, swftest::Rectangle(0, 0, 200, 200));  // left half, green
  m.SolidShape(2, 0xFF0000FF, swftest::Rectangle(0, 0, 400, 200));  // everything, red
  m.ShowFrame();
  m.End();
  const auto bytes = m.Finish();
  const auto movie = ParseMovie(bytes.data(), bytes.size(), nullptr);
  ASSERT_TRUE(movie);
  Stage stage(*movie);
  stage.Step();
  Clip* red = stage.root().CreateEmpty("red", 10);
  Clip* green = stage.root().CreateEmpty("green", 11);
  ASSERT_TRUE(red && green);
  red->drawing = std::get<Shape>(movie->characters.at(2));
  green->drawing = std::get<Shape>(movie->characters.at(1));
  green->matrix.tx = 200;  // the mask covers the right half
  Matrix view;
  view.a = view.d = 1.0 / 20;
  Renderer renderer(*movie);
  const auto draw = [&] {
    Surface s(20, 10, 0xFFFFFF);
    renderer.Render(stage, s.View(), view, RenderOptions{1});
    return std::pair{s.At(5, 5), s.At(15, 5)};
  };
  EXPECT_EQ(draw(), std::pair(kRed, Pixel{0x00FF00}))
      << "no mask: the red clip, the green one over it";
  red->SetScriptMask(green);
  EXPECT_EQ(draw(), std::pair(kWhite, kRed)) << "red shows only under the mask, which is hidden";
  red->SetScriptMask(nullptr);
  EXPECT_EQ(green->maskOf, nullptr);
  red->SetScriptMask(green);
  stage.RemoveClip(*green);
  EXPECT_EQ(draw(), std::pair(kRed, kRed)) << "a removed mask clip masks nothing";
  stage.Step();  // the removed clip is gone for good
  EXPECT_EQ(red->maskClip, nullptr);
  EXPECT_EQ(draw(), std::pair(kRed, kRed));
}

TEST(Player, StrokesHaveTheirWidthAndRoundCaps) {
  // Horizontal lines from x = 5 to x = 15 px, drawn without anti-aliasing: pixel rows and
  // columns whose centres lie inside the stroke are black.
  struct Case {
    const char* name;
    std::uint16_t widthTwips;
    int yTwips;
    int firstRow, lastRow;  // dark rows at x = 10
    int row;                // the row whose dark columns are checked
    int firstCol, lastCol;  // round caps reach half the width out
  };
  const Case cases[] = {
      {"4 px", 80, 200, 8, 11, 9, 3, 16},
      {"hairline", 0, 200, 9, 9, 9, 5, 14},
      {"tenth of a pixel drawn one pixel wide", 2, 200, 9, 9, 9, 5, 14},
      // The caps' centres lie 0.05 px above row 10's centres: the centres beside the line's
      // ends are 0.5025 px from them, just outside the caps' half-pixel circles.
      {"1 px, centres just outside the caps", 20, 209, 10, 10, 10, 5, 14},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SwfWriter m(20, 20);
    m.Background(255, 255, 255);
    m.StrokedPath(1, c.widthTwips, 0x000000FF,
                  {{PathOp::kMove, 100, c.yTwips}, {PathOp::kLine, 300, c.yTwips}});
    m.Place(1, 1);
    const Surface s = RenderLow(m, 20, 20);
    for (int y = 0; y < 20; ++y)
      EXPECT_EQ(s.At(10, y), (y >= c.firstRow && y <= c.lastRow) ? 0u : kWhite) << "row " << y;
    for (int x = 0; x < 20; ++x)
      EXPECT_EQ(s.At(x, c.row), (x >= c.firstCol && x <= c.lastCol) ? 0u : kWhite)
          << "column " << x;
  }
}

TEST(Player, StylesBroughtByARecordDrawOverTheStrokesBeforeThem) {
  // One DefineShape3: a black line 4 px wide across the middle of a 20 x 10 stage, then a record
  // with new style tables and a red square over the middle. The square's layer comes after the
  // line's, so it covers the line (fills of a layer are drawn before its strokes, not before
  // every stroke of the shape).
  swftest::BitWriter w;
  w.U16(1);
  w.Rect(0, 400, 0, 200);
  w.U8(0);  // no fill styles
  w.U8(1);  // one line style: 4 px, black
  w.U16(80);
  for (std::uint8_t b : {0, 0, 0, 255}) w.U8(b);
  w.UB(1, 4);  // fill bits
  w.UB(1, 4);  // line bits
  auto styleChange = [&](bool newStyles, bool line, bool fill1, std::int32_t x, std::int32_t y) {
    w.UB(0, 1);
    w.UB(newStyles, 1);
    w.UB(line, 1);
    w.UB(fill1, 1);
    w.UB(0, 1);  // fill0
    w.UB(1, 1);  // move
    w.UB(10, 5);
    w.SB(x, 10);
    w.SB(y, 10);
    if (fill1) w.UB(1, 1);
    if (line) w.UB(1, 1);
  };
  auto lineTo = [&](std::int32_t dx, std::int32_t dy) {
    w.UB(1, 1);
    w.UB(1, 1);
    w.UB(10 - 2, 4);
    w.UB(0, 1);  // not general
    w.UB(dx == 0, 1);
    w.SB(dx == 0 ? dy : dx, 10);
  };
  styleChange(false, true, false, 0, 100);
  lineTo(400, 0);
  styleChange(true, false, true, 100, 0);
  w.U8(1);  // the new tables: one fill, red; no line
  w.U8(0);
  for (std::uint8_t b : {255, 0, 0, 255}) w.U8(b);
  w.U8(0);
  w.UB(1, 4);
  w.UB(0, 4);
  lineTo(200, 0);
  lineTo(0, 200);
  lineTo(-200, 0);
  lineTo(0, -200);
  w.UB(0, 6);
  SwfWriter m(20, 10);
  m.Background(255, 255, 255);
  m.Tag(32, w.Take());
  m.Place(1, 1);
  const Surface s = RenderLow(m, 20, 10);
  EXPECT_EQ(s.At(2, 5), 0u);     // the line beside the square
  EXPECT_EQ(s.At(10, 5), kRed);  // the square over the line
  EXPECT_EQ(s.At(10, 1), kRed);
  EXPECT_EQ(s.At(2, 1), kWhite);
}

TEST(Player, HugeStrokesUnderAHugeScaleStayDefined) {
  // A round join whose device radius is so large that the polygon's step angle rounds to 0 (an
  // infinite side count before it was bounded): the sanitizers of the checked builds catch it.
  for (double scale : {1.0, 30000.0}) {
    SwfWriter m(20, 20);
    m.Background(255, 255, 255);
    m.StrokedPath(1, 65535, 0x000000FF,
                  {{PathOp::kMove, 100, 200}, {PathOp::kLine, 300, 200}, {PathOp::kLine, 300, 50}});
    swftest::BitWriter place;
    place.U8(2 | 4);  // character, matrix
    place.U16(1);
    place.U16(1);
    place.Matrix(scale, scale, 0, 0, 0, 0);
    m.Tag(26, place.Take());
    m.ShowFrame();
    m.End();
    const auto bytes = m.Finish();
    FlashPlayer p;
    p.LoadMovieBytes(bytes.data(), bytes.size());
    const Surface s = Render(p, 20, 20);
    if (scale == 1.0) {
      EXPECT_EQ(s.At(10, 10), 0u);  // the stroke covers the stage
    }
  }
}

TEST(Player, ScriptOnlyMovieStillShowsItsTimeline) {
  SwfWriter m(10, 10);
  m.Tag(12, {0x07, 0x00});  // DoAction: stop
  m.SolidShape(1, 0xFF0000FF, swftest::Rectangle(0, 0, 200, 200));
  m.Place(1, 1);
  m.ShowFrame();
  m.End();
  const auto bytes = m.Finish();
  FlashPlayer p;
  p.LoadMovieBytes(bytes.data(), bytes.size());
  EXPECT_EQ(Render(p, 10, 10).At(5, 5), kRed);
}

TEST(Player, PlaysAtTheFrameRateAndLoops) {
  // Frame 0 shows a red rectangle, frame 1 removes it; 10 frames per second.
  SwfWriter m(10, 10, 10);
  m.Background(255, 255, 255);
  m.SolidShape(1, 0xFF0000FF, swftest::Rectangle(0, 0, 200, 200));
  m.Place(1, 1);
  m.ShowFrame();
  m.Remove(1);
  m.ShowFrame();
  m.End();
  const auto bytes = m.Finish('C', 9);
  FlashPlayer p;
  p.LoadMovieBytes(bytes.data(), bytes.size());
  p.SetViewportSize({10, 10});
  EXPECT_EQ(p.FrameCount(), 2);
  EXPECT_DOUBLE_EQ(p.FrameIntervalMs(), 100.0);
  EXPECT_EQ(p.CurrentFrame(), 0);
  EXPECT_FALSE(p.Playing());
  EXPECT_TRUE(p.Advance(500));   // the first frame is due for drawing
  EXPECT_FALSE(p.Advance(900));  // not playing: the timeline stays
  EXPECT_EQ(p.CurrentFrame(), 0);
  p.Play();
  struct Step {
    std::int64_t now;
    bool changed;
    int frame;
    Pixel centre;
  };
  const Step steps[] = {{1000, true, 0, kRed},    {1099, false, 0, kRed}, {1100, true, 1, kWhite},
                        {1150, false, 1, kWhite}, {1200, true, 0, kRed},  {1400, true, 0, kRed},
                        {5000, true, 1, kWhite}};  // a stall resumes with one frame
  for (const Step& s : steps) {
    SCOPED_TRACE(s.now);
    EXPECT_EQ(p.Advance(s.now), s.changed);
    EXPECT_EQ(p.CurrentFrame(), s.frame);
    EXPECT_EQ(Render(p, 10, 10).At(5, 5), s.centre);
  }
  EXPECT_EQ(p.NextFrameDueMs(), 5100);
  p.Stop();
  EXPECT_FALSE(p.Advance(9000));
  EXPECT_EQ(p.CurrentFrame(), 1);
}

TEST(Player, SettersKeepWhatTheHostWrote) {
  FlashPlayer p;
  EXPECT_EQ(p.ScaleMode(), 0);
  p.SetScaleMode(7);  // not a mode: ignored
  EXPECT_EQ(p.ScaleMode(), 0);
  EXPECT_EQ(p.WMode(), "Window");
  p.SetWMode("Opaque");
  EXPECT_EQ(p.WMode(), "Opaque");
  p.SetQuality2("whatever");
  EXPECT_EQ(p.Quality2(), "whatever");
  EXPECT_EQ(p.SamplesPerPixel(), 16);
  EXPECT_EQ(p.BackgroundColor(), -1);
  // Changes that alter the picture ask for a redraw once; repeating a value does not.
  p.SetViewportSize({10, 10});
  EXPECT_TRUE(p.Advance(0));
  EXPECT_FALSE(p.Advance(1));
  p.SetViewportSize({10, 10});
  EXPECT_FALSE(p.Advance(2));
  p.SetViewportSize({20, 10});
  EXPECT_TRUE(p.Advance(3));
  p.SetBackgroundColor(0x112233);
  EXPECT_TRUE(p.Advance(4));
  p.SetQuality2("Low");
  EXPECT_TRUE(p.Advance(5));
  EXPECT_FALSE(p.Advance(6));
}

}  // namespace
}  // namespace dbx::swf
