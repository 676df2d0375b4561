#include "effects/raster.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "effects/numeric.h"
#include "test_util.h"

namespace dbx {
namespace {

using test::RandomPicture;
using test::SameImage;

TEST(Numeric, RoundHalfEven) {
  EXPECT_EQ(RoundHalfEven(383.5), 384);
  EXPECT_EQ(RoundHalfEven(384.5), 384);
  EXPECT_EQ(RoundHalfEven(2.5), 2);
  EXPECT_EQ(RoundHalfEven(-0.5), 0);
  EXPECT_EQ(RoundHalfEven(-1.5), -2);
  EXPECT_EQ(RoundHalfEven(-2.5), -2);
  EXPECT_EQ(RoundHalfEven(63.75), 64);
  EXPECT_EQ(RoundHalfEven(127.5), 128);
}

TEST(Numeric, ParseWholeNumber) {
  EXPECT_EQ(ParseWholeNumber("10"), 10);
  EXPECT_EQ(ParseWholeNumber(" 7 "), 7);
  EXPECT_EQ(ParseWholeNumber("-3"), -3);
  EXPECT_EQ(ParseWholeNumber("2.5"), 2);
  EXPECT_EQ(ParseWholeNumber("3.5"), 4);
  EXPECT_EQ(ParseWholeNumber("1e2"), 100);
  EXPECT_EQ(ParseWholeNumber("2147483647"), 2147483647);
  EXPECT_FALSE(ParseWholeNumber("2147483648"));
  EXPECT_FALSE(ParseWholeNumber(""));
  EXPECT_FALSE(ParseWholeNumber("abc"));
  EXPECT_FALSE(ParseWholeNumber("12abc"));
  EXPECT_FALSE(ParseWholeNumber("."));
  EXPECT_FALSE(ParseWholeNumber("1e999"));
}

TEST(CopyRect, ClipsOnBothSurfaces) {
  Surface src = RandomPicture(10, 8, 1);
  Surface dst(6, 5, 0xABCDEF);
  CopyRect(dst.View(), -2, -1, 20, 20, src.View(), 3, 2);
  for (int y = 0; y < 5; ++y) {
    for (int x = 0; x < 6; ++x) {
      const int sx = x + 5, sy = y + 3;
      if (sx < 10 && sy < 8) {
        EXPECT_EQ(dst.At(x, y), src.At(sx, sy)) << x << "," << y;
      } else {
        EXPECT_EQ(dst.At(x, y), 0xABCDEFu) << x << "," << y;
      }
    }
  }
  // Negative extents and far-away rectangles draw nothing.
  Surface before = dst.Clone();
  CopyRect(dst.View(), 0, 0, -3, 5, src.View(), 0, 0);
  CopyRect(dst.View(), 0, 0, 3, -5, src.View(), 0, 0);
  CopyRect(dst.View(), INT64_C(-5000000000), 0, 3, 5, src.View(), 0, 0);
  CopyRect(dst.View(), 0, 0, INT64_C(5000000000), 5, src.View(), INT64_C(-5000000000), 0);
  EXPECT_TRUE(SameImage(dst.View(), before.View()));
}

TEST(CopyRect, OverlappingWithinOneSurface) {
  Surface s = RandomPicture(8, 8, 3);
  Surface ref = s.Clone();
  CopyRect(s.View(), 0, 2, 8, 6, s.View(), 0, 0);  // down by two rows
  for (int y = 2; y < 8; ++y) {
    for (int x = 0; x < 8; ++x) EXPECT_EQ(s.At(x, y), ref.At(x, y - 2));
  }
}

// Copies large enough to be streamed past the cache, whole pictures and rectangles starting at
// every alignment: each pixel arrives once, the pixels around the rectangle stay.
TEST(CopyRect, StreamedCopiesMatchEveryAlignment) {
  const int w = 1030, h = 600;  // above 2 MiB
  const Surface src = RandomPicture(w, h, 5);
  Surface whole(w, h, 0);
  CopyRectStreamed(whole.View(), 0, 0, w, h, src.View(), 0, 0);
  EXPECT_TRUE(SameImage(whole.View(), src.View()));
  for (Coord dx : {0, 1, 2, 3, 5, 15, 17}) {
    Surface dst = RandomPicture(w, h, 6), ref = dst.Clone();
    const Coord sx = (dx * 7) % 19, cw = w - 40 - dx;
    CopyRectStreamed(dst.View(), dx, 3, cw, h - 3, src.View(), sx, 0);
    CopyRect(ref.View(), dx, 3, cw, h - 3, src.View(), sx, 0);
    ASSERT_TRUE(SameImage(dst.View(), ref.View()))
        << "dx " << dx << " " << test::FirstDifference(dst.View(), ref.View());
  }
}

// Runs of rows copied together, streamed (above 2 MiB in all) or not, at every alignment and
// partly or wholly outside either picture, land where one CopyRect each would put them; the
// same through a single surface (a copy within one picture).
TEST(CopyRect, RowSpansMatchOneCopyEach) {
  const int w = 1030, h = 700;
  const Surface src = RandomPicture(w, h, 7);
  for (const Coord n : {Coord{1000}, Coord{40}}) {  // 2.7 MiB in all, or 110 KiB
    std::vector<RowSpan> spans;
    for (Coord y = -2; y < h + 2; ++y) {
      const Coord shift = (y * 5) % 23;
      spans.push_back(y % 2 == 0 ? RowSpan{y, w - n - shift, shift, n}
                                 : RowSpan{y, shift, w - n + shift, n});  // past the right edge
    }
    spans.push_back({5, -30, 0, 100});  // starts left of the source
    spans.push_back({6, 0, -30, 100});  // starts left of the destination
    spans.push_back({7, 0, 0, -4});     // empty
    Surface dst = RandomPicture(w, h, 8), ref = dst.Clone();
    CopyRowSpansStreamed(dst.View(), src.View(), spans);
    for (const RowSpan& r : spans) CopyRect(ref.View(), r.dx, r.y, r.w, 1, src.View(), r.sx, r.y);
    ASSERT_TRUE(SameImage(dst.View(), ref.View()))
        << "n " << n << " " << test::FirstDifference(dst.View(), ref.View());

    Surface self = src.Clone(), selfRef = src.Clone();
    CopyRowSpansStreamed(self.View(), self.View(), spans);
    for (const RowSpan& r : spans)
      CopyRect(selfRef.View(), r.dx, r.y, r.w, 1, selfRef.View(), r.sx, r.y);
    ASSERT_TRUE(SameImage(self.View(), selfRef.View()));
  }
}

// The soft rim's alphas: both kernels give, at every pixel, the table value at the rounded
// distance found with whole numbers alone, for rows near and far from the centre, rims inside and
// outside the picture's width, tables of every length (short, the common 76, the longest the
// fast kernel takes and longer) and the roundings at distances just around a half.
TEST(RimAlphas, EveryKernelRoundsTheDistanceOfEachPixel) {
  std::mt19937 rng(11);
  for (const Coord e : {Coord{0}, Coord{3}, Coord{75}, Coord{127}, Coord{128}, Coord{300}}) {
    std::vector<std::uint8_t> lut(static_cast<std::size_t>(e) + 1);
    for (auto& v : lut) v = static_cast<std::uint8_t>(rng());
    for (int trial = 0; trial < 60; ++trial) {
      const Coord cx = static_cast<Coord>(rng() % 4000), dy = static_cast<Coord>(rng() % 2500);
      const Coord g = static_cast<Coord>(rng() % 5000) - 100;
      const Coord x0 = static_cast<Coord>(rng() % 4000), x1 = x0 + static_cast<Coord>(rng() % 300);
      for (const Kernel k : {Kernel::kFast, Kernel::kPlain}) {
        std::vector<std::uint8_t> got(4400, 7);
        RimAlphas(got.data(), x0, x1, cx, dy * dy, g, e, lut.data(), k);
        for (Coord x = 0; x < static_cast<Coord>(got.size()); ++x) {
          std::uint8_t want = 7;
          if (x >= x0 && x < x1) {
            const Coord v = dy * dy + (x - cx) * (x - cx);
            // d − ½ <= √v < d + ½ (√v is never a half)
            auto d = static_cast<Coord>(std::sqrt(static_cast<double>(v)));
            while ((2 * d + 1) * (2 * d + 1) <= 4 * v) ++d;
            while (d > 0 && (2 * d - 1) * (2 * d - 1) > 4 * v) --d;
            want = lut[static_cast<std::size_t>(std::clamp<Coord>(g - d, 0, e))];
          }
          ASSERT_EQ(got[static_cast<std::size_t>(x)], want)
              << "x " << x << " cx " << cx << " dy " << dy << " g " << g << " e " << e;
        }
      }
    }
  }
}

TEST(RasterOps, NotAndOr) {
  Surface a = RandomPicture(5, 4, 4), b = RandomPicture(5, 4, 5);
  Surface d = a.Clone();
  RasterBlt(d.View(), 0, 0, 5, 4, b.View(), 0, 0, RasterOp::kNotSrcCopy);
  EXPECT_EQ(d.At(2, 2), ~b.At(2, 2));
  d = a.Clone();
  RasterBlt(d.View(), 0, 0, 5, 4, b.View(), 0, 0, RasterOp::kSrcAnd);
  EXPECT_EQ(d.At(1, 3), a.At(1, 3) & b.At(1, 3));
  d = a.Clone();
  RasterBlt(d.View(), 0, 0, 5, 4, b.View(), 0, 0, RasterOp::kSrcPaint);
  EXPECT_EQ(d.At(4, 0), a.At(4, 0) | b.At(4, 0));
}

TEST(Lines, EndPointExcluded) {
  Surface s(10, 10, 0);
  DrawLine(s.View(), 1, 1, 5, 1, 7);
  for (int x = 0; x < 10; ++x) EXPECT_EQ(s.At(x, 1), (x >= 1 && x <= 4) ? 7u : 0u) << x;
  Surface t(10, 10, 0);
  DrawLine(t.View(), 3, 8, 3, 2, 9);
  for (int y = 0; y < 10; ++y) EXPECT_EQ(t.At(3, y), (y >= 3 && y <= 8) ? 9u : 0u) << y;
  Surface u(4, 4, 0);
  DrawLine(u.View(), 2, 2, 2, 2, 1);  // zero length: nothing
  EXPECT_TRUE(SameImage(u.View(), Surface(4, 4, 0).View()));
}

TEST(Lines, FastEqualsPlainAndRunsMatchPixels) {
  std::mt19937 rng(11);
  std::uniform_int_distribution<int> coord(-40, 80);
  for (int i = 0; i < 400; ++i) {
    const Coord x0 = coord(rng), y0 = coord(rng), x1 = coord(rng), y1 = coord(rng);
    Surface a(37, 23, 0), b(37, 23, 0);
    DrawLine(a.View(), x0, y0, x1, y1, 5, Kernel::kFast);
    DrawLine(b.View(), x0, y0, x1, y1, 5, Kernel::kPlain);
    ASSERT_TRUE(SameImage(a.View(), b.View())) << x0 << "," << y0 << " " << x1 << "," << y1;
    // Row and column runs describe exactly the line's pixels.
    const LineRaster line{x0, y0, x1, y1};
    for (Coord y = -45; y < 85; ++y) {
      Coord xa, xb;
      const bool has = line.RowRun(y, &xa, &xb);
      Coord count = 0, lo = INT64_MAX, hi = INT64_MIN;
      for (Coord k = 0; k < line.Length(); ++k) {
        Coord px, py;
        line.PixelAt(k, &px, &py);
        if (py == y) ++count, lo = std::min(lo, px), hi = std::max(hi, px);
      }
      ASSERT_EQ(has, count > 0);
      if (has) {
        ASSERT_EQ(xa, lo);
        ASSERT_EQ(xb, hi);
        ASSERT_EQ(hi - lo + 1, count);
      }
    }
    for (Coord x = -45; x < 85; ++x) {
      Coord ya, yb;
      const bool has = line.ColumnRun(x, &ya, &yb);
      Coord count = 0, lo = INT64_MAX, hi = INT64_MIN;
      for (Coord k = 0; k < line.Length(); ++k) {
        Coord px, py;
        line.PixelAt(k, &px, &py);
        if (px == x) ++count, lo = std::min(lo, py), hi = std::max(hi, py);
      }
      ASSERT_EQ(has, count > 0);
      if (has) {
        ASSERT_EQ(ya, lo);
        ASSERT_EQ(yb, hi);
      }
    }
  }
}

TEST(Ellipses, FastEqualsPlainAndSpansMatch) {
  std::mt19937 rng(12);
  std::uniform_int_distribution<int> coord(-10, 50);
  for (int i = 0; i < 300; ++i) {
    const Coord l = coord(rng), t = coord(rng), r = coord(rng), b = coord(rng);
    Surface a(37, 23, 0), c(37, 23, 0);
    FillEllipse(a.View(), l, t, r, b, 3, Kernel::kFast);
    FillEllipse(c.View(), l, t, r, b, 3, Kernel::kPlain);
    ASSERT_TRUE(SameImage(a.View(), c.View())) << l << " " << t << " " << r << " " << b;
  }
  // A 4 × 4 box gives a round blob inside it; right and bottom edges excluded.
  Surface s(8, 8, 0);
  FillEllipse(s.View(), 2, 2, 6, 6, 1);
  EXPECT_EQ(s.At(3, 3), 1u);
  EXPECT_EQ(s.At(2, 3), 1u);
  EXPECT_EQ(s.At(6, 3), 0u);
  EXPECT_EQ(s.At(3, 6), 0u);
  EXPECT_EQ(s.At(2, 2), 0u);  // the corner lies outside the ellipse
  // Empty and inverted boxes draw nothing.
  Surface e(8, 8, 0);
  FillEllipse(e.View(), 5, 5, 5, 5, 1);
  FillEllipse(e.View(), 6, 6, 2, 2, 1);
  EXPECT_TRUE(SameImage(e.View(), Surface(8, 8, 0).View()));
}

// Spans of large boxes (sides on both sides of 2^15, far-off corners) against the exact test of
// each pixel: the span's ends lie inside, the pixels beyond them outside.
TEST(Ellipses, SpansOfLargeBoxesEndAtTheEdge) {
  std::mt19937_64 rng(14);
  for (int i = 0; i < 4000; ++i) {
    const Coord side = i % 4 == 0 ? 40000 : i % 4 == 1 ? 33000 : 4000;
    const Coord far = i % 8 == 7 ? (Coord{1} << 45) : 5000;
    const Coord l = static_cast<Coord>(rng() % static_cast<std::uint64_t>(2 * far)) - far;
    const Coord t = static_cast<Coord>(rng() % static_cast<std::uint64_t>(2 * far)) - far;
    const Coord r = l + 1 + static_cast<Coord>(rng() % static_cast<std::uint64_t>(side));
    const Coord b = t + 1 + static_cast<Coord>(rng() % static_cast<std::uint64_t>(side));
    const EllipseRaster e{l, t, r, b};
    const Coord y = t - 2 + static_cast<Coord>(rng() % static_cast<std::uint64_t>(b - t + 4));
    Coord xa = 0, xb = 0;
    if (!e.RowSpan(y, &xa, &xb)) {
      // No pixel of the row lies inside: the centre column would.
      EXPECT_FALSE(e.Contains((l + r) / 2, y)) << l << " " << t << " " << r << " " << b;
      continue;
    }
    ASSERT_LE(xa, xb);
    EXPECT_TRUE(e.Contains(xa, y) && e.Contains(xb, y)) << l << " " << t << " " << r << " " << b;
    EXPECT_FALSE(e.Contains(xa - 1, y) || e.Contains(xb + 1, y))
        << l << " " << t << " " << r << " " << b << " row " << y;
  }
}

TEST(Stretch, FastEqualsPlainOnRandomPictures) {
  std::mt19937 rng(13);
  for (int i = 0; i < 120; ++i) {
    const int sw = 1 + static_cast<int>(rng() % 70), sh = 1 + static_cast<int>(rng() % 40);
    Surface src = RandomPicture(sw + 4, sh + 4, static_cast<std::uint32_t>(i));
    const Axis axis = (i % 2) != 0 ? Axis::kHorizontal : Axis::kVertical;
    const Coord dw = axis == Axis::kHorizontal ? static_cast<Coord>(rng() % 90) : sw;
    const Coord dh = axis == Axis::kVertical ? static_cast<Coord>(rng() % 60) : sh;
    const Coord dx = static_cast<Coord>(rng() % 20) - 10, dy = static_cast<Coord>(rng() % 20) - 10;
    AxisStretcher fast(src.View(), 2, 2, sw, sh, axis, Kernel::kFast);
    AxisStretcher plain(src.View(), 2, 2, sw, sh, axis, Kernel::kPlain);
    Surface a = RandomPicture(64, 48, 99), b = a.Clone();
    fast.Draw(a.View(), dx, dy, dw, dh, Kernel::kFast);
    plain.Draw(b.View(), dx, dy, dw, dh, Kernel::kPlain);
    ASSERT_TRUE(SameImage(a.View(), b.View()))
        << "case " << i << " " << test::FirstDifference(a.View(), b.View());
  }
}

// Shrinking along the rows by nearly half (the pixels of eight columns then lie farthest
// apart), by little, and growing, over whole pictures, so that the last columns read the rows'
// last pixels.
TEST(Stretch, RowsShrunkByUpToHalfMatchThePlainKernel) {
  std::mt19937 rng(15);
  for (int i = 0; i < 60; ++i) {
    const int sw = 16 + static_cast<int>(rng() % 300), sh = 1 + static_cast<int>(rng() % 6);
    Surface src = RandomPicture(sw, sh, static_cast<std::uint32_t>(100 + i));
    for (const Coord dw : {Coord{sw / 2 + 1}, Coord{sw / 2 + 2}, Coord{sw - 1}, Coord{sw + 7}}) {
      AxisStretcher fast(src.View(), 0, 0, sw, sh, Axis::kHorizontal, Kernel::kFast);
      AxisStretcher plain(src.View(), 0, 0, sw, sh, Axis::kHorizontal, Kernel::kPlain);
      Surface a(static_cast<int>(dw), sh, 0), b(static_cast<int>(dw), sh, 0);
      fast.Draw(a.View(), 0, 0, dw, sh, Kernel::kFast);
      plain.Draw(b.View(), 0, 0, dw, sh, Kernel::kPlain);
      ASSERT_TRUE(SameImage(a.View(), b.View()))
          << sw << " -> " << dw << " " << test::FirstDifference(a.View(), b.View());
    }
  }
}

TEST(Stretch, IdentityAndAveraging) {
  Surface src = RandomPicture(16, 4, 21);
  Surface dst(16, 4, 0);
  StretchHalftone(dst.View(), 0, 0, 16, 4, src.View(), 0, 0, 16, 4);
  EXPECT_TRUE(SameImage(dst.View(), src.View()));
  // Shrinking a two-colour stripe pattern by 4 gives the average, not one of the stripes.
  Surface stripes(64, 1, 0);
  for (int x = 0; x < 64; x += 2) stripes.At(x, 0) = 0x00FFFFFF;
  Surface small(16, 1, 0);
  StretchHalftone(small.View(), 0, 0, 16, 1, stripes.View(), 0, 0, 64, 1);
  for (int x = 0; x < 16; ++x) {
    EXPECT_NEAR(PixelR(small.At(x, 0)), 128, 1) << x;
  }
  // Both axes at once.
  Surface big = RandomPicture(40, 30, 22);
  Surface s2a(13, 7, 0), s2b(13, 7, 0);
  StretchHalftone(s2a.View(), 0, 0, 13, 7, big.View(), 0, 0, 40, 30, Kernel::kFast);
  StretchHalftone(s2b.View(), 0, 0, 13, 7, big.View(), 0, 0, 40, 30, Kernel::kPlain);
  EXPECT_TRUE(SameImage(s2a.View(), s2b.View()));
}

TEST(RowKernels, FastEqualsPlain) {
  std::mt19937 rng(14);
  for (int count : {0, 1, 3, 4, 5, 17, 64, 101}) {
    Surface o = RandomPicture(count + 1, 1, rng()), n = RandomPicture(count + 1, 1, rng());
    std::vector<std::uint8_t> alphas(static_cast<std::size_t>(count) + 1);
    for (auto& a : alphas) a = static_cast<std::uint8_t>(rng());
    for (int alpha : {0, 1, 15, 128, 254, 255}) {
      Surface a = RandomPicture(count + 1, 1, 5), b = a.Clone();
      BlendRow(a.data(), o.data(), n.data(), count, alpha, Kernel::kFast);
      BlendRow(b.data(), o.data(), n.data(), count, alpha, Kernel::kPlain);
      ASSERT_TRUE(SameImage(a.View(), b.View()));
    }
    Surface a = RandomPicture(count + 1, 1, 6), b = a.Clone();
    BlendRowAlphas(a.data(), o.data(), n.data(), alphas.data(), count, Kernel::kFast);
    BlendRowAlphas(b.data(), o.data(), n.data(), alphas.data(), count, Kernel::kPlain);
    ASSERT_TRUE(SameImage(a.View(), b.View()));
    for (int parity : {0, 1}) {
      Surface c = RandomPicture(count + 1, 1, 7), d = c.Clone();
      CopyAlternate(c.data(), o.data(), count, parity, Kernel::kFast);
      CopyAlternate(d.data(), o.data(), count, parity, Kernel::kPlain);
      ASSERT_TRUE(SameImage(c.View(), d.View()));
    }
    Surface e = RandomPicture(count + 1, 1, 8), f = e.Clone();
    MergeAlternate(e.data(), o.data(), n.data(), count, Kernel::kFast);
    MergeAlternate(f.data(), o.data(), n.data(), count, Kernel::kPlain);
    ASSERT_TRUE(SameImage(e.View(), f.View()));
    Surface g = RandomPicture(count + 1, 1, 9), h = g.Clone();
    RevealSpan(g.data(), n.data(), count, Kernel::kFast);
    RevealSpan(h.data(), n.data(), count, Kernel::kPlain);
    ASSERT_TRUE(SameImage(g.View(), h.View()));
  }
  EXPECT_EQ(BlendPixel(0x00FF8000, 0x00000000, 255), 0x00FF8000u);
  EXPECT_EQ(BlendPixel(0x00FF8000, 0x00102030, 0), 0x00102030u);
  EXPECT_EQ(BlendPixel(0x000000FF, 0x00000000, 128), 0x00000080u);  // 128 × 255 / 255
}

// The whole-frame blend, merge and alternate copy: rows long enough for the streamed and the wide
// loops, every alpha, the three rows at different alignments, all four bytes of a pixel random.
TEST(RowKernels, LongRowsFastEqualsPlain) {
  std::mt19937 rng(23);
  const int kMax = 4100;
  std::vector<Pixel> out(kMax + 8), in(kMax + 8), fast(kMax + 8), plain(kMax + 8);
  for (Pixel& p : out) p = rng();
  for (Pixel& p : in) p = rng();
  struct Case {
    int count, dst_off, out_off, in_off;
  };
  const Case cases[] = {{1023, 0, 0, 0}, {1024, 1, 0, 0}, {1031, 3, 2, 1}, {1920, 2, 5, 7},
                        {3840, 5, 1, 0}, {4100, 7, 3, 6}, {9, 1, 0, 0},    {8, 0, 0, 0}};
  for (const Case& c : cases) {
    for (int alpha = 0; alpha <= 255; ++alpha) {
      for (std::size_t i = 0; i < fast.size(); ++i) fast[i] = plain[i] = static_cast<Pixel>(i);
      BlendRow(fast.data() + c.dst_off, out.data() + c.out_off, in.data() + c.in_off, c.count,
               alpha, Kernel::kFast);
      BlendRow(plain.data() + c.dst_off, out.data() + c.out_off, in.data() + c.in_off, c.count,
               alpha, Kernel::kPlain);
      ASSERT_EQ(fast, plain) << "count " << c.count << " alpha " << alpha;
    }
    for (std::size_t i = 0; i < fast.size(); ++i) fast[i] = plain[i] = static_cast<Pixel>(i);
    MergeAlternate(fast.data() + c.dst_off, out.data() + c.out_off, in.data() + c.in_off, c.count,
                   Kernel::kFast);
    MergeAlternate(plain.data() + c.dst_off, out.data() + c.out_off, in.data() + c.in_off, c.count,
                   Kernel::kPlain);
    ASSERT_EQ(fast, plain) << "merge, count " << c.count;
    for (int parity : {0, 1}) {
      CopyAlternate(fast.data() + c.dst_off, in.data() + c.in_off, c.count, parity, Kernel::kFast);
      CopyAlternate(plain.data() + c.dst_off, in.data() + c.in_off, c.count, parity,
                    Kernel::kPlain);
      ASSERT_EQ(fast, plain) << "copy of parity " << parity << ", count " << c.count;
    }
  }
  // The plain kernel is the formula itself, byte by byte.
  for (int alpha : {0, 1, 77, 128, 254, 255}) {
    for (int i = 0; i < 64; ++i) {
      Pixel want = 0;
      for (int b = 0; b < 4; ++b) {
        const unsigned o = (out[i] >> (8 * b)) & 0xFFu, n = (in[i] >> (8 * b)) & 0xFFu;
        want |= ((static_cast<unsigned>(255 - alpha) * n + static_cast<unsigned>(alpha) * o) / 255)
                << (8 * b);
      }
      ASSERT_EQ(BlendPixel(out[i], in[i], alpha), want);
    }
  }
}

}  // namespace
}  // namespace dbx
