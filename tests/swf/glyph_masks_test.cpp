// The rasteriser's sweep against a plain per-sample winding count, and glyph masks merged after
// rasterising each polygon alone against the polygons filled together.
#include "swf/render/glyph_masks.h"

#include <gtest/gtest.h>

#include <random>

#include "swf/render/raster.h"

namespace dbx::swf {
namespace {

using Poly = std::vector<std::pair<float, float>>;

std::vector<Segment> Segments(const std::vector<Poly>& polys, float dx = 0, float dy = 0) {
  std::vector<Segment> out;
  for (const Poly& p : polys)
    for (std::size_t i = 0; i < p.size(); ++i) {
      const auto& a = p[i];
      const auto& b = p[(i + 1) % p.size()];
      out.push_back({a.first + dx, a.second + dy, b.first + dx, b.second + dy});
    }
  return out;
}

// Coverage per pixel from the rasteriser's spans.
std::vector<int> Swept(int w, int h, int sub, FillRule rule, const std::vector<Segment>& segs) {
  Rasterizer r;
  r.Reset(w, h, sub);
  for (const Segment& s : segs) r.AddLine(s.x0, s.y0, s.x1, s.y1);
  std::vector<int> cov(static_cast<std::size_t>(w * h), 0);
  r.Sweep(rule, [&](int y, const Span* spans, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
      for (int x = spans[i].x0; x < spans[i].x1; ++x)
        cov[static_cast<std::size_t>(y * w + x)] = spans[i].coverage;
  });
  return cov;
}

// The same by counting, for every sample point, the winding of the edges left of it.
std::vector<int> Counted(int w, int h, int sub, FillRule rule, const std::vector<Segment>& segs) {
  static constexpr double kFour[4] = {0.375, 0.875, 0.125, 0.625};
  static constexpr double kTwo[2] = {0.25, 0.75};
  std::vector<int> cov(static_cast<std::size_t>(w * h), 0);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      int inside = 0;
      for (int s = 0; s < sub; ++s) {
        const double sy = y + (s + 0.5) / sub;
        const double sx = x + (sub == 4 ? kFour[s] : sub == 2 ? kTwo[s] : 0.5);
        int winding = 0;
        for (const Segment& e : segs) {
          double x0 = e.x0, y0 = e.y0, x1 = e.x1, y1 = e.y1;
          int dir = 1;
          if (y0 > y1) {
            std::swap(x0, x1);
            std::swap(y0, y1);
            dir = -1;
          }
          if (!(y0 <= sy && sy < y1)) continue;
          if (x0 + (sy - y0) * (x1 - x0) / (y1 - y0) <= sx) winding += dir;
        }
        if (rule == FillRule::kNonZero ? winding != 0 : (winding & 1) != 0) ++inside;
      }
      cov[static_cast<std::size_t>(y * w + x)] = std::min(255, inside * (256 / sub));
    }
  return cov;
}

// Random triangles over a small target, both orientations, corners off the pixel grid.
std::vector<Poly> RandomTriangles(std::mt19937& rng, int count, float w, float h) {
  std::uniform_real_distribution<float> ux(-2, w + 2), uy(-2, h + 2);
  std::vector<Poly> out;
  for (int i = 0; i < count; ++i)
    out.push_back({{ux(rng), uy(rng)}, {ux(rng), uy(rng)}, {ux(rng), uy(rng)}});
  return out;
}

TEST(Rasterizer, SweepCountsEverySampleInside) {
  // Many overlapping edges starting and ending on every sub-scanline keep the active list
  // reordering and merging; every pixel must still count exactly the samples inside.
  std::mt19937 rng(11);
  for (int round = 0; round < 24; ++round) {
    const int sub = round % 3 == 0 ? 1 : round % 3 == 1 ? 2 : 4;
    const FillRule rule = round % 2 ? FillRule::kNonZero : FillRule::kEvenOdd;
    const auto segs = Segments(RandomTriangles(rng, 3 + round, 23, 17));
    EXPECT_EQ(Swept(23, 17, sub, rule, segs), Counted(23, 17, sub, rule, segs))
        << "round " << round;
  }
}

TEST(GlyphMasks, MergedMasksEqualThePolygonsFilledTogether) {
  // Glyph-like polygons that share pixels (touching, overlapping, in the same direction) at
  // fractional positions: rasterised one by one into masks, placed, and merged, each pixel has
  // the coverage of the polygons filled at once. Non-zero merges by union, even-odd by parity.
  std::mt19937 rng(5);
  for (int round = 0; round < 24; ++round) {
    const int sub = round % 3 == 0 ? 1 : round % 3 == 1 ? 2 : 4;
    const bool nonZero = round % 2 == 1;
    std::vector<Poly> polys;
    std::uniform_real_distribution<float> pos(0, 20), size(1, 9);
    for (int i = 0; i < 6; ++i) {
      const float x = pos(rng), y = pos(rng), s = size(rng);
      polys.push_back({{x, y}, {x + s, y}, {x + s, y + s * 0.7f}, {x + s * 0.2f, y + s}});
    }
    // The union is drawn over 32 x 32 pixels; each polygon's mask is made in its own frame with
    // the same fraction of a pixel and placed back at whole pixels.
    GlyphMasks masks;
    std::vector<GlyphMasks::Placed> placed;
    for (std::size_t i = 0; i < polys.size(); ++i) {
      const int ox = static_cast<int>(std::floor(polys[i][0].first)) - 1;
      const int oy = static_cast<int>(std::floor(polys[i][0].second)) - 1;
      const auto segs = Segments({polys[i]}, -static_cast<float>(ox), -static_cast<float>(oy));
      GlyphMasks::Key key;
      key.fx = static_cast<double>(i);  // one entry each
      key.samples = sub;
      key.nonZero = nonZero;
      std::size_t budget = 1u << 20;
      const GlyphMask* m = masks.Add(key, segs, 0, 0, 14, 14, budget);
      ASSERT_NE(m, nullptr);
      EXPECT_EQ(masks.Find(key), m);
      placed.push_back({m, ox, oy});
    }
    std::vector<int> merged(32 * 32, 0);
    struct Sink final : Rasterizer::RowSink {
      std::vector<int>* out;
      void Row(int y, const Span* spans, std::size_t n) override {
        int previousEnd = 0;
        for (std::size_t i = 0; i < n; ++i) {
          EXPECT_GE(spans[i].x0, previousEnd);
          EXPECT_LT(spans[i].x0, spans[i].x1);
          previousEnd = spans[i].x1;
          for (int x = spans[i].x0; x < spans[i].x1; ++x)
            (*out)[static_cast<std::size_t>(y * 32 + x)] = spans[i].coverage;
        }
      }
    } sink;
    sink.out = &merged;
    masks.Compose(placed.data(), placed.size(), nonZero, sub, 0, 0, 32, 32, sink);
    const FillRule rule = nonZero ? FillRule::kNonZero : FillRule::kEvenOdd;
    const auto together = Swept(32, 32, sub, rule, Segments(polys));
    for (int i = 0; i < 32 * 32; ++i)
      ASSERT_EQ(merged[static_cast<std::size_t>(i)], together[static_cast<std::size_t>(i)])
          << "round " << round << " pixel " << i % 32 << "," << i / 32;
  }
}

TEST(GlyphMasks, ComposeKeepsToItsRectangle) {
  // A full 4 x 4 mask placed at (-2, 3) over the rectangle [0, 6) x [4, 6): only the overlap.
  GlyphMasks masks;
  std::size_t budget = 1000;
  GlyphMasks::Key key;
  key.samples = 1;
  const GlyphMask* m =
      masks.Add(key, Segments({{{0, 0}, {4, 0}, {4, 4}, {0, 4}}}), 0, 0, 4, 4, budget);
  ASSERT_NE(m, nullptr);
  const GlyphMasks::Placed p{m, -2, 3};
  struct Sink final : Rasterizer::RowSink {
    std::vector<std::tuple<int, int, int>> rows;
    void Row(int y, const Span* spans, std::size_t n) override {
      for (std::size_t i = 0; i < n; ++i) rows.emplace_back(y, spans[i].x0, spans[i].x1);
    }
  } sink;
  masks.Compose(&p, 1, false, 1, 0, 4, 6, 6, sink);
  EXPECT_EQ(sink.rows, (std::vector<std::tuple<int, int, int>>{{4, 0, 2}, {5, 0, 2}}));
}

TEST(GlyphMasks, StoreLimitsAndOwners) {
  GlyphMasks masks;
  std::size_t budget = 1u << 20;
  GlyphMasks::Key key;
  const auto square = Segments({{{0, 0}, {4, 0}, {4, 4}, {0, 4}}});
  int owner = 0, other = 0;
  masks.Trim(&owner, 1);
  ASSERT_NE(masks.Add(key, square, 0, 0, 8, 8, budget), nullptr);
  // Too large a mask is refused, and so is one whose sweep ran out of budget.
  key.fx = 0.5;
  EXPECT_EQ(masks.Add(key, square, 0, 0, 257, 256, budget), nullptr);
  std::size_t little = 3;
  EXPECT_EQ(masks.Add(key, square, 0, 0, 8, 8, little), nullptr);
  EXPECT_EQ(little, 0u);
  EXPECT_EQ(masks.Size(), 1u);
  // Same owner and generation: kept. A new generation or another owner: the outlines may be
  // gone, so all masks go.
  masks.Trim(&owner, 1);
  EXPECT_EQ(masks.Size(), 1u);
  masks.Trim(&owner, 2);
  EXPECT_EQ(masks.Size(), 0u);
  key.fx = 0;
  ASSERT_NE(masks.Add(key, square, 0, 0, 8, 8, budget), nullptr);
  masks.Trim(&other, 2);
  EXPECT_EQ(masks.Size(), 0u);
}

}  // namespace
}  // namespace dbx::swf
