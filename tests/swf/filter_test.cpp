// Filters and blend modes: the box blur and the blend formulas against plain versions written
// here, filter lists read from PlaceObject3, and whole movies drawn with them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <optional>
#include <random>
#include <vector>

#include "swf/display/stage.h"
#include "swf/flash_player.h"
#include "swf/format/movie.h"
#include "swf/render/blur_kernels.h"
#include "swf/render/filters.h"
#include "swf/render/renderer.h"
#include "test_support.h"

namespace dbx::swf {
namespace {

using swftest::BitWriter;
using swftest::SwfWriter;

// One pass of the plain box blur: every output is the mean of 2r + 1 inputs along the axis plus
// the two inputs just outside weighed e / 256 each (a box of fractional width), rounded down;
// zeros outside.
std::vector<int> PlainPass(const std::vector<int>& in, int w, int h, int ch, int rx, int ry, int ex,
                           int ey) {
  std::vector<int> across(in.size()), out(in.size());
  auto mean = [](const std::function<int(int)>& at, int centre, int r, int e) {
    long long sum = 0;
    for (int i = centre - r; i <= centre + r; ++i) sum += 256LL * at(i);
    sum += static_cast<long long>(e) * (at(centre - r - 1) + at(centre + r + 1));
    return static_cast<int>(sum / (256LL * (2 * r + 1) + 2 * e));
  };
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < ch; ++c)
        across[static_cast<std::size_t>((y * w + x) * ch + c)] = mean(
            [&](int i) {
              return i >= 0 && i < w ? in[static_cast<std::size_t>((y * w + i) * ch + c)] : 0;
            },
            x, rx, ex);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < ch; ++c)
        out[static_cast<std::size_t>((y * w + x) * ch + c)] = mean(
            [&](int j) {
              return j >= 0 && j < h ? across[static_cast<std::size_t>((j * w + x) * ch + c)] : 0;
            },
            y, ry, ey);
  return out;
}

TEST(BoxBlur, MatchesThePlainAverageForEveryRadiusAndPassCount) {
  std::mt19937 rng(7);
  struct Case {
    int w, h, ch, rx, ry, passes, ex = 0, ey = 0;
  };
  for (const Case c :
       {Case{9, 7, 1, 1, 2, 1}, Case{12, 5, 4, 3, 0, 2}, Case{6, 11, 4, 2, 5, 3},
        Case{4, 4, 1, 6, 6, 1}, Case{1, 9, 4, 0, 3, 2}, Case{9, 8, 4, 2, 1, 1, 128, 64},
        Case{7, 7, 1, 0, 0, 2, 255, 1}, Case{10, 3, 4, 4, 1, 3, 200, 0}}) {
    std::vector<std::uint8_t> data(static_cast<std::size_t>(c.w * c.h * c.ch));
    std::vector<int> expect(data.size());
    for (std::size_t i = 0; i < data.size(); ++i) expect[i] = data[i] = rng() % 256;
    BoxBlur(data.data(), c.w, c.h, c.ch, c.rx, c.ry, c.passes, c.ex, c.ey);
    for (int p = 0; p < c.passes; ++p)
      expect = PlainPass(expect, c.w, c.h, c.ch, c.rx, c.ry, c.ex, c.ey);
    for (std::size_t i = 0; i < data.size(); ++i)
      ASSERT_EQ(data[i], expect[i]) << c.w << "x" << c.h << " r" << c.rx << "," << c.ry << " e"
                                    << c.ex << "," << c.ey << " passes " << c.passes << " at " << i;
  }
  // A flat picture stays flat inside, whatever the box.
  std::vector<std::uint8_t> flat(20 * 20, 255);
  BoxBlur(flat.data(), 20, 20, 1, 3, 2, 2, 77, 191);
  EXPECT_EQ(flat[10 * 20 + 10], 255);
  // Sizes under 3 leave the picture as it is; the box is the odd width below the size.
  for (const auto& [size, radius] : std::vector<std::pair<double, int>>{
           {0, 0}, {1, 0}, {2.9, 0}, {3, 1}, {4, 1}, {5, 2}, {6.5, 2}, {30, 14}})
    EXPECT_EQ(BlurRadius(size), radius) << size;
}

TEST(BoxBlur, WideRowsMatchThePlainAverageForEveryBoxShape) {
  // Rows of 16 bytes and more, every channel count, boxes from 1 to past the widest that the
  // quick division handles, edges of every kind (none, halves, odd 256ths); values often at 255,
  // where a rounding of the division goes wrong first.
  std::mt19937 rng(11);
  struct Shape {
    int w, h, ch;
  };
  const Shape shapes[] = {{16, 17, 1}, {37, 9, 1}, {19, 23, 2}, {13, 11, 3},
                          {5, 19, 4},  {29, 6, 4}, {521, 4, 4}};
  int cases = 0;
  for (int vectorBytes : {64, 32, 16})
    for (int radius : {1, 2, 3, 7, 8, 15, 31, 63, 64, 127, 128, 129})
      for (int edge : {0, 1, 77, 128, 192, 255}) {
        const Shape& s = shapes[static_cast<std::size_t>(cases++) % std::size(shapes)];
        const int passes = 1 + cases % 3;
        // The box across and down differ, so that a swapped axis shows.
        const int rx = radius, ry = std::max(0, radius / 2 - 1), ex = edge, ey = (edge * 3) % 256;
        std::vector<std::uint8_t> data(static_cast<std::size_t>(s.w * s.h * s.ch));
        std::vector<int> expect(data.size());
        for (std::size_t i = 0; i < data.size(); ++i)
          expect[i] = data[i] = rng() % 2 ? 255 : static_cast<std::uint8_t>(rng());
        blur::LimitVectorBytes(vectorBytes);
        BoxBlur(data.data(), s.w, s.h, s.ch, rx, ry, passes, ex, ey);
        blur::LimitVectorBytes(64);
        for (int p = 0; p < passes; ++p) expect = PlainPass(expect, s.w, s.h, s.ch, rx, ry, ex, ey);
        for (std::size_t i = 0; i < data.size(); ++i)
          ASSERT_EQ(data[i], expect[i])
              << vectorBytes << "-byte vectors " << s.w << "x" << s.h << "x" << s.ch << " r" << rx
              << "," << ry << " e" << ex << "," << ey << " passes " << passes << " at " << i;
      }
  // Pictures wider than the strips of columns that the passes go down in, and taller than the
  // rows that they keep in flight: the columns either side of each strip's edge.
  struct Wide {
    int w, ch, radius, edge;
  };
  for (int vectorBytes : {64, 32, 16})
    for (const Wide& c : {Wide{1100, 1, 3, 0}, Wide{700, 2, 5, 128}, Wide{300, 4, 7, 128},
                          Wide{333, 4, 2, 77}, Wide{2600, 1, 1, 255}}) {
      const int h = 37, passes = 3, ry = c.radius + 1;
      std::vector<std::uint8_t> data(static_cast<std::size_t>(c.w * h * c.ch));
      std::vector<int> expect(data.size());
      for (std::size_t i = 0; i < data.size(); ++i)
        expect[i] = data[i] = rng() % 2 ? 255 : static_cast<std::uint8_t>(rng());
      blur::LimitVectorBytes(vectorBytes);
      BoxBlur(data.data(), c.w, h, c.ch, c.radius, ry, passes, c.edge, c.edge);
      blur::LimitVectorBytes(64);
      for (int p = 0; p < passes; ++p)
        expect = PlainPass(expect, c.w, h, c.ch, c.radius, ry, c.edge, c.edge);
      for (std::size_t i = 0; i < data.size(); ++i)
        ASSERT_EQ(data[i], expect[i]) << vectorBytes << "-byte vectors " << c.w << "x" << h << "x"
                                      << c.ch << " r" << c.radius << " e" << c.edge << " at " << i;
    }
  // Four channels with half-weight edges across whose pairs are a power of two in number (blur
  // sizes 4, 8, 16 and 32), every kind of box down, on pictures narrower than a vector, between
  // strips and wider than a strip, with every vector width.
  struct Pow2 {
    int w, h, radius, ry, ey, passes;
  };
  for (int vectorBytes : {64, 32, 16})
    for (const Pow2& c :
         {Pow2{300, 21, 7, 7, 128, 3}, Pow2{3, 9, 1, 0, 128, 1}, Pow2{261, 13, 3, 2, 0, 2},
          Pow2{77, 30, 15, 4, 77, 3}, Pow2{33, 5, 15, 1, 128, 1}, Pow2{290, 11, 1, 3, 255, 2},
          Pow2{9, 40, 3, 9, 128, 3}, Pow2{700, 6, 7, 1, 64, 2}, Pow2{600, 40, 7, 7, 128, 3},
          Pow2{1000, 24, 15, 3, 0, 2}, Pow2{610, 30, 3, 5, 77, 3}}) {
      std::vector<std::uint8_t> data(static_cast<std::size_t>(c.w * c.h * 4));
      std::vector<int> expect(data.size());
      for (std::size_t i = 0; i < data.size(); ++i)
        expect[i] = data[i] = rng() % 2 ? 255 : static_cast<std::uint8_t>(rng());
      blur::LimitVectorBytes(vectorBytes);
      BoxBlur(data.data(), c.w, c.h, 4, c.radius, c.ry, c.passes, 128, c.ey);
      blur::LimitVectorBytes(64);
      for (int p = 0; p < c.passes; ++p)
        expect = PlainPass(expect, c.w, c.h, 4, c.radius, c.ry, 128, c.ey);
      for (std::size_t i = 0; i < data.size(); ++i)
        ASSERT_EQ(data[i], expect[i])
            << vectorBytes << "-byte vectors " << c.w << "x" << c.h << " r" << c.radius << ","
            << c.ry << " e128," << c.ey << " passes " << c.passes << " at " << i;
    }
  // A large flat plane: whole values stay whole inside the box, every box shape.
  for (const auto& [rx, ry] : {std::pair{1, 1}, std::pair{7, 3}, std::pair{9, 5}})
    for (int edge : {0, 128, 255}) {
      std::vector<std::uint8_t> flat(64 * 40 * 4, 255);
      BoxBlur(flat.data(), 64, 40, 4, rx, ry, 3, edge, edge);
      EXPECT_EQ(flat[(20 * 64 + 32) * 4 + 1], 255) << rx << " " << edge;
    }
}

TEST(BoxBlur, HalvesBlurredOnTwoThreadsMatchThePlainAverage) {
  // Every picture split at its middle row and off it (as far as the threads' speeds move the
  // split): halves just tall enough for the rows that the passes reach across the split (of one
  // pass and of three) and taller, odd heights, rows of one strip and of several, boxes too wide
  // for strips, every channel count and vector width.
  std::mt19937 rng(13);
  struct Case {
    int w, h, ch, rx, ry, ex, ey, passes;
  };
  blur::SplitFrom(0);
  const int share = blur::CallerShare(blur::kShareOne / 2);
  // (The kernels do not change with the split: the uneven ones run with the widest vectors.)
  constexpr int kEven = blur::kShareOne / 2;
  for (auto [callerShare, vectorBytes] :
       {std::pair{kEven, 64}, {kEven, 32}, {kEven, 16}, {kEven / 2, 64}, {kEven * 3 / 2, 64}})
    for (const Case& c : {Case{2400, 36, 1, 3, 2, 0, 0, 3}, Case{300, 97, 4, 7, 7, 128, 128, 3},
                          Case{90, 17, 4, 1, 1, 128, 0, 2}, Case{301, 40, 2, 5, 3, 77, 200, 2},
                          Case{600, 16, 4, 70, 3, 0, 0, 1}, Case{620, 19, 4, 40, 1, 128, 128, 2},
                          Case{400, 121, 4, 15, 9, 128, 128, 3}}) {
      std::vector<std::uint8_t> data(static_cast<std::size_t>(c.w * c.h * c.ch));
      std::vector<int> expect(data.size());
      for (std::size_t i = 0; i < data.size(); ++i)
        expect[i] = data[i] = rng() % 2 ? 255 : static_cast<std::uint8_t>(rng());
      blur::LimitVectorBytes(vectorBytes);
      blur::CallerShare(callerShare);
      BoxBlur(data.data(), c.w, c.h, c.ch, c.rx, c.ry, c.passes, c.ex, c.ey);
      blur::LimitVectorBytes(64);
      for (int p = 0; p < c.passes; ++p)
        expect = PlainPass(expect, c.w, c.h, c.ch, c.rx, c.ry, c.ex, c.ey);
      for (std::size_t i = 0; i < data.size(); ++i)
        ASSERT_EQ(data[i], expect[i])
            << "share " << callerShare << ", " << vectorBytes << "-byte vectors " << c.w << "x"
            << c.h << "x" << c.ch << " r" << c.rx << "," << c.ry << " e" << c.ex << "," << c.ey
            << " passes " << c.passes << " at " << i;
    }
  blur::SplitFrom(std::size_t{1} << 20);
  blur::CallerShare(share);
}

TEST(BoxBlur, TheSplitFollowsTheThreadsSpeeds) {
  // Two threads, the side one `slower` times as slow: each split's halves take as long as their
  // rows at those speeds. The split moves by small steps to where both halves end together, and
  // no further from the middle than a quarter of the rows either way.
  for (double slower : {1.0, 2.0, 0.5, 1.25, 100.0, 0.01}) {
    int share = blur::kShareOne / 2;
    for (int i = 0; i < 300; ++i) {
      const double s = static_cast<double>(share) / blur::kShareOne;
      const int next = blur::NextShare(share, s, (1 - s) * slower);
      ASSERT_LE(std::abs(next - share), blur::kShareOne / 64) << slower << " step " << i;
      share = next;
    }
    const double even = std::clamp(slower / (1 + slower), 0.25, 0.75);
    EXPECT_NEAR(static_cast<double>(share) / blur::kShareOne, even, 0.002) << slower;
  }
  // Halves that took no time (or a clock that did not move) leave the split where it is.
  for (auto [caller, side] : {std::pair{0.0, 1.0}, {1.0, 0.0}, {0.0, 0.0}, {-1.0, 1.0}})
    EXPECT_EQ(blur::NextShare(1000, caller, side), 1000) << caller << " " << side;
}

TEST(OverRow, PutsEachPixelOverWithTheRoundedFormula) {
  // Runs of clear, opaque and part-covering pixels (whole vectors of each, and mixed), rows of
  // every length around the vectors of 4, 8 and 16 pixels, onto a layer and onto the screen, with
  // each width of vectors.
  std::mt19937 rng(5);
  auto premultiplied = [&](int a) {
    auto ch = [&] { return a == 0 ? 0u : static_cast<std::uint32_t>(rng() % (a + 1)); };
    return static_cast<std::uint32_t>(a) << 24 | ch() << 16 | ch() << 8 | ch();
  };
  for (int vectorBytes : {64, 32, 16})
    for (bool keepAlpha : {false, true})
      for (int count = 0; count <= 70; ++count) {
        const int group = vectorBytes / 4;
        std::vector<std::uint32_t> src(static_cast<std::size_t>(count)), dst(src.size());
        for (int i = 0; i < count; ++i) {
          const int run = (i / group + count) % 4;  // clear, opaque, part, mixed
          const int a = run == 0   ? 0
                        : run == 1 ? 255
                        : run == 2 ? 1 + rng() % 254
                                   : rng() % 3 * 127;
          src[static_cast<std::size_t>(i)] = premultiplied(std::min(a, 255));
          dst[static_cast<std::size_t>(i)] = keepAlpha ? premultiplied(rng() % 256) : rng();
        }
        std::vector<std::uint32_t> expect(dst);
        for (std::size_t i = 0; i < src.size(); ++i) {
          const std::uint32_t a = src[i] >> 24;
          if (a == 0) continue;
          std::uint32_t out = 0;
          for (int shift : {0, 8, 16, 24}) {
            if (shift == 24 && !keepAlpha) continue;
            const std::uint32_t s = (src[i] >> shift) & 0xFF, d = (expect[i] >> shift) & 0xFF;
            out |= (s + (d * (255 - a) + 127) / 255) << shift;
          }
          expect[i] = out;
        }
        blur::LimitVectorBytes(vectorBytes);
        OverRow(dst.data(), src.data(), count, keepAlpha);
        blur::LimitVectorBytes(64);
        for (std::size_t i = 0; i < src.size(); ++i)
          ASSERT_EQ(dst[i], expect[i])
              << vectorBytes << "-byte vectors, pixel " << i << " of " << count << ", layer "
              << keepAlpha << ", src " << std::hex << src[i];
      }
}

// Straight (not premultiplied) colours 0..1 of the blend formulas.
double PlainMode(BlendMode mode, double s, double b) {
  switch (mode) {
    case BlendMode::kMultiply:
      return s * b;
    case BlendMode::kScreen:
      return s + b - s * b;
    case BlendMode::kLighten:
      return std::max(s, b);
    case BlendMode::kDarken:
      return std::min(s, b);
    case BlendMode::kDifference:
      return std::fabs(s - b);
    case BlendMode::kOverlay:
      return b <= 0.5 ? 2 * s * b : 1 - 2 * (1 - s) * (1 - b);
    case BlendMode::kHardLight:
      return s <= 0.5 ? 2 * s * b : 1 - 2 * (1 - s) * (1 - b);
    default:
      return s;
  }
}

TEST(BlendPixel, SeparableModesOverTheOpaqueScreenFollowTheirFormulas) {
  std::mt19937 rng(3);
  for (BlendMode mode : {BlendMode::kNormal, BlendMode::kLayer, BlendMode::kMultiply,
                         BlendMode::kScreen, BlendMode::kLighten, BlendMode::kDarken,
                         BlendMode::kDifference, BlendMode::kOverlay, BlendMode::kHardLight}) {
    for (int i = 0; i < 300; ++i) {
      const int as = i % 3 == 0 ? 255 : static_cast<int>(rng() % 256);
      double straight[3], dst[3];
      std::uint32_t src = static_cast<std::uint32_t>(as) << 24, d = 0;
      for (int k = 0; k < 3; ++k) {
        straight[k] = (rng() % 256) / 255.0;
        dst[k] = (rng() % 256) / 255.0;
        src |= static_cast<std::uint32_t>(std::lround(straight[k] * as)) << (16 - 8 * k);
        d |= static_cast<std::uint32_t>(std::lround(dst[k] * 255)) << (16 - 8 * k);
      }
      const std::uint32_t out = BlendPixel(d, src, mode, false);
      for (int k = 0; k < 3; ++k) {
        // The source colour as the premultiplied pixel holds it.
        const double s = as ? ((src >> (16 - 8 * k)) & 0xFF) / static_cast<double>(as) : 0;
        const double a = as / 255.0;
        const double expect = (1 - a) * dst[k] + a * PlainMode(mode, s, dst[k]);
        EXPECT_NEAR(((out >> (16 - 8 * k)) & 0xFF) / 255.0, expect, 3.0 / 255)
            << "mode " << static_cast<int>(mode) << " channel " << k;
      }
    }
  }
}

TEST(BlendPixel, NonSeparableModes) {
  const std::uint32_t dst = 0x00204080;  // opaque screen pixel
  // Add and subtract clamp per channel.
  EXPECT_EQ(BlendPixel(dst, 0xFFF0F010, BlendMode::kAdd, false), 0x00FFFF90u);
  EXPECT_EQ(BlendPixel(dst, 0xFF30F010, BlendMode::kSubtract, false), 0x00000070u);
  // Invert turns the destination over where the source covers, in proportion to its alpha.
  EXPECT_EQ(BlendPixel(dst, 0xFF123456, BlendMode::kInvert, false), 0x00DFBF7Fu);
  EXPECT_EQ(BlendPixel(dst, 0x80000000, BlendMode::kInvert, false), 0x00808080u);
  // Alpha and erase act on a layer's alpha, and leave the opaque screen alone.
  EXPECT_EQ(BlendPixel(0xFF204080, 0x80000000, BlendMode::kAlpha, true), 0x80102040u);
  EXPECT_EQ(BlendPixel(0xFF204080, 0x80000000, BlendMode::kErase, true), 0x7F102040u);
  EXPECT_EQ(BlendPixel(dst, 0x80000000, BlendMode::kAlpha, false), dst);
  // Over a layer, normal keeps the alpha sum.
  EXPECT_EQ(BlendPixel(0x80800000, 0x80008000, BlendMode::kNormal, true), 0xC0408000u);
}

// A PlaceObject3 of character 1 at depth 1 with the given filter list bytes.
std::vector<std::uint8_t> PlaceWithFilters(const std::vector<std::uint8_t>& filterList,
                                           std::uint8_t blendMode = 0) {
  BitWriter w;
  w.U8(2 | 4);                    // character, matrix
  w.U8(1 | (blendMode ? 2 : 0));  // filters, blend mode
  w.U16(1);
  w.U16(1);
  w.Matrix(1, 1, 0, 0, 0, 0);
  w.Bytes(filterList);
  if (blendMode) w.U8(blendMode);
  return w.Take();
}

void Fixed(BitWriter& w, double v) {
  w.U32(static_cast<std::uint32_t>(static_cast<std::int32_t>(std::lround(v * 65536))));
}
void Float(BitWriter& w, float v) {
  std::uint32_t u;
  std::memcpy(&u, &v, 4);
  w.U32(u);
}

std::vector<std::uint8_t> AllKinds() {
  BitWriter w;
  w.U8(5);
  // Drop shadow: colour, blur 6 x 2, 45 degrees, distance 4, strength 1.5, inner + knockout,
  // 3 passes.
  w.U8(0);
  for (std::uint8_t b : {0x11, 0x22, 0x33, 0x80}) w.U8(b);
  Fixed(w, 6);
  Fixed(w, 2);
  Fixed(w, 0.785398);
  Fixed(w, 4);
  w.U16(0x0180);
  w.U8(0x80 | 0x40 | 0x20 | 3);
  // Blur 5 x 5, 2 passes.
  w.U8(1);
  Fixed(w, 5);
  Fixed(w, 5);
  w.U8(2 << 3);
  // Bevel: highlight first, then shadow; on top, 1 pass.
  w.U8(3);
  for (std::uint8_t b : {0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0xFF}) w.U8(b);
  Fixed(w, 4);
  Fixed(w, 4);
  Fixed(w, 0);
  Fixed(w, 2);
  w.U16(0x0100);
  w.U8(0x80 | 0x20 | 0x10 | 1);
  // Convolution 3 x 1.
  w.U8(5);
  w.U8(3);
  w.U8(1);
  Float(w, 2);
  Float(w, 10);
  for (float v : {1.0f, 0.0f, 1.0f}) Float(w, v);
  for (std::uint8_t b : {1, 2, 3, 4}) w.U8(b);
  w.U8(1);  // preserve alpha, no clamp
  // Colour matrix.
  w.U8(6);
  for (int i = 0; i < 20; ++i) Float(w, static_cast<float>(i));
  return w.Take();
}

std::optional<Movie> ParseOne(const std::vector<std::uint8_t>& place) {
  SwfWriter s(10, 10);
  s.SolidShape(1, 0xFF0000FF, swftest::Rectangle(0, 0, 100, 100));
  s.Tag(70, place, true);
  s.ShowFrame();
  s.End();
  const auto bytes = s.Finish();
  return ParseMovie(bytes.data(), bytes.size(), nullptr);
}

TEST(FilterList, EveryKindIsReadFromPlaceObject3) {
  const auto movie = ParseOne(PlaceWithFilters(AllKinds(), 3));
  ASSERT_TRUE(movie);
  ASSERT_EQ(movie->timeline.frames[0].commands.size(), 1u);
  const PlaceCommand& c = movie->timeline.frames[0].commands[0];
  EXPECT_EQ(c.blendMode, 3);
  ASSERT_TRUE(c.filters);
  ASSERT_EQ(c.filters->size(), 5u);
  const Filter& shadow = (*c.filters)[0];
  EXPECT_EQ(shadow.kind, FilterKind::kDropShadow);
  EXPECT_EQ(shadow.colors.at(0).color, (Rgba{0x11, 0x22, 0x33, 0x80}));
  EXPECT_FLOAT_EQ(shadow.blurX, 6);
  EXPECT_FLOAT_EQ(shadow.blurY, 2);
  EXPECT_NEAR(shadow.angle, 0.785398, 1e-4);
  EXPECT_FLOAT_EQ(shadow.distance, 4);
  EXPECT_FLOAT_EQ(shadow.strength, 1.5);
  EXPECT_TRUE(shadow.inner && shadow.knockout && shadow.compositeSource);
  EXPECT_EQ(shadow.passes, 3);
  EXPECT_EQ((*c.filters)[1].kind, FilterKind::kBlur);
  EXPECT_EQ((*c.filters)[1].passes, 2);
  const Filter& bevel = (*c.filters)[2];
  EXPECT_EQ(bevel.colors.at(0).color, (Rgba{255, 255, 255, 255}));  // highlight
  EXPECT_EQ(bevel.colors.at(1).color, (Rgba{0, 0, 0, 255}));        // shadow
  EXPECT_TRUE(bevel.onTop && bevel.inner && !bevel.knockout);
  EXPECT_EQ(bevel.passes, 1);
  const Filter& conv = (*c.filters)[3];
  EXPECT_EQ(conv.matrixX, 3);
  EXPECT_EQ(conv.kernel, (std::vector<float>{1, 0, 1}));
  EXPECT_FLOAT_EQ(conv.divisor, 2);
  EXPECT_FLOAT_EQ(conv.bias, 10);
  EXPECT_EQ(conv.defaultColor, (Rgba{1, 2, 3, 4}));
  EXPECT_TRUE(conv.preserveAlpha);
  EXPECT_FALSE(conv.clamp);
  EXPECT_FLOAT_EQ((*c.filters)[4].matrix[19], 19);

  // A list cut short, or a kind that does not exist, loses the whole command.
  const std::vector<std::uint8_t> all = AllKinds();
  ASSERT_GT(all.size(), 10u);
  const std::vector<std::uint8_t> cut(all.begin(), all.end() - 10);
  EXPECT_TRUE(ParseOne(PlaceWithFilters(cut))->timeline.frames[0].commands.empty());
  EXPECT_TRUE(ParseOne(PlaceWithFilters({1, 9, 0, 0}))->timeline.frames[0].commands.empty());
}

// Draws one 5 x 5 pixel square (blue unless `rgba` says) at (10, 10) of a 30 x 30 white stage,
// placed with `place`.
Surface DrawPlaced(const std::vector<std::uint8_t>& place, std::uint32_t rgba = 0x0000FFFF) {
  SwfWriter s(30, 30);
  s.Background(255, 255, 255);
  s.SolidShape(1, rgba, swftest::Rectangle(200, 200, 100, 100));
  s.Tag(70, place, true);
  s.ShowFrame();
  s.End();
  const auto bytes = s.Finish();
  FlashPlayer player;
  player.LoadMovieBytes(bytes.data(), bytes.size());
  player.SetQuality2("Low");
  player.Play();
  player.Advance(0);
  Surface out(30, 30);
  player.RenderFrame(out.View());
  return out;
}

std::vector<std::uint8_t> OneFilter(const std::function<void(BitWriter&)>& body) {
  BitWriter w;
  w.U8(1);
  body(w);
  return w.Take();
}

TEST(FilterList, ButtonRecordsKeepTheirFiltersAndTheRecordsAfterThem) {
  // DefineButton2: the first record (up state, shape 1) carries a blur and blend mode 3; the
  // second (hit state, shape 1) follows it.
  const auto blur = OneFilter([](BitWriter& w) {
    w.U8(1);
    Fixed(w, 4);
    Fixed(w, 2);
    w.U8(2 << 3);
  });
  BitWriter b;
  b.U16(5);
  b.U8(0);
  BitWriter records;
  auto record = [&](std::uint8_t flags, const std::vector<std::uint8_t>* filters) {
    records.U8(flags);
    records.U16(1);
    records.U16(1);
    records.Matrix(1, 1, 0, 0, 0, 0);
    records.UB(0, 2);  // colour transform without add or multiply
    records.UB(0, 4);
    records.Align();
    if (filters) {
      records.Bytes(*filters);
      records.U8(3);
    }
  };
  record(0x30 | kButtonUp, &blur);
  record(kButtonHit, nullptr);
  records.U8(0);
  const auto recs = records.Take();
  b.U16(0);  // no actions
  b.Bytes(recs);
  SwfWriter s(10, 10);
  s.SolidShape(1, 0xFF0000FF, swftest::Rectangle(0, 0, 100, 100));
  s.Tag(34, b.Take());
  s.ShowFrame();
  s.End();
  const auto bytes = s.Finish();
  const auto movie = ParseMovie(bytes.data(), bytes.size(), nullptr);
  ASSERT_TRUE(movie);
  const auto it = movie->characters.find(5);
  ASSERT_NE(it, movie->characters.end());
  const auto* button = std::get_if<Button>(&it->second);
  ASSERT_NE(button, nullptr);
  ASSERT_EQ(button->records.size(), 2u);
  const ButtonRecord& first = button->records[0];
  EXPECT_EQ(first.states, kButtonUp);
  EXPECT_EQ(first.blendMode, 3);
  ASSERT_EQ(first.filters.size(), 1u);
  EXPECT_EQ(first.filters[0].kind, FilterKind::kBlur);
  EXPECT_FLOAT_EQ(first.filters[0].blurX, 4);
  EXPECT_FLOAT_EQ(first.filters[0].blurY, 2);
  EXPECT_EQ(first.filters[0].passes, 2);
  EXPECT_EQ(button->records[1].states, kButtonHit);
  EXPECT_TRUE(button->records[1].filters.empty());
}

TEST(Filters, BlurSpreadsTheShapeByItsRadius) {
  // Blur 3 x 3, one pass: a box of 3 pixels across and down (radius 1).
  const Surface out = DrawPlaced(PlaceWithFilters(OneFilter([](BitWriter& w) {
    w.U8(1);
    Fixed(w, 3);
    Fixed(w, 3);
    w.U8(1 << 3);
  })));
  // The corner pixel outside the square sees one of nine blue pixels; the edge three; inside all.
  auto blueShare = [&](int x, int y) { return 255 - PixelR(out.At(x, y)); };
  EXPECT_NEAR(blueShare(9, 9), 255 / 9, 1);
  EXPECT_NEAR(blueShare(9, 12), 255 / 3, 1);
  EXPECT_EQ(out.At(12, 12), MakePixel(0, 0, 255));
  EXPECT_EQ(out.At(8, 8), MakePixel(255, 255, 255));
  EXPECT_EQ(out.At(16, 12), MakePixel(255, 255, 255));
}

TEST(Filters, BlurBoxesReachHalfTheSizeLessOneAndWeighTheRestOnTheirEdges) {
  // One opaque pixel blurred across only: the box reaches (size - 1) / 2 stage pixels, scaled;
  // the two pixels beyond its whole pixels count by the fraction left over.
  const struct {
    double size, scale;
    std::vector<int> alpha;  // from the centre outwards
  } cases[] = {
      {3, 1, {85, 85, 0}},          // reach 1: three whole pixels
      {4, 1, {63, 63, 31, 0}},      // reach 1.5: 3 pixels and two halves, 255 / 4 and 255 / 8
      {2, 2, {85, 85, 0}},          // 2 stage pixels at twice the scale: reach 1, not 1.5
      {2.9, 1, {255, 0}},           // under 3 pixels: no blur
      {6, 1, {42, 42, 42, 21, 0}},  // reach 2.5: 255 / 6 and 255 / 12
  };
  for (const auto& c : cases) {
    Filter f;
    f.kind = FilterKind::kBlur;
    f.blurX = static_cast<float>(c.size);
    f.blurY = 1;
    f.passes = 1;
    PixelPlane p;
    p.width = 15;
    p.height = 1;
    p.px.assign(15, 0);
    p.px[7] = 0xFF000000u;
    ApplyFilter(f, c.scale, p);
    for (std::size_t d = 0; d < c.alpha.size(); ++d) {
      EXPECT_EQ(static_cast<int>(p.px[7 + d] >> 24), c.alpha[d])
          << c.size << " x" << c.scale << " at +" << d;
      EXPECT_EQ(p.px[7 + d], p.px[7 - d]) << c.size << " x" << c.scale << " at " << d;
    }
    const FilterMargins m = MarginsOf({f}, c.scale);
    EXPECT_EQ(m.left, static_cast<int>(c.alpha.size()) - 2) << c.size << " x" << c.scale;
  }
}

TEST(Filters, GlowKnockoutAndInnerShadow) {
  // A red glow blurred by a box of 3 pixels; knocked out, only the glow outside the square
  // remains.
  auto glow = [](std::uint8_t flags, double blur) {
    return PlaceWithFilters(OneFilter([&](BitWriter& w) {
      w.U8(2);
      for (std::uint8_t b : {0xFF, 0x00, 0x00, 0xFF}) w.U8(b);
      Fixed(w, blur);
      Fixed(w, blur);
      w.U16(0x0100);
      w.U8(flags | 1);
    }));
  };
  Surface out = DrawPlaced(glow(0x40 | 0x20, 3));
  EXPECT_EQ(out.At(12, 12), MakePixel(255, 255, 255));  // the object knocked out
  EXPECT_EQ(out.At(9, 12), MakePixel(255, 170, 170));   // a third of the red glow outside
  // Outer glow under the object: the object shows, the glow around it.
  out = DrawPlaced(glow(0x20, 3));
  EXPECT_EQ(out.At(12, 12), MakePixel(0, 0, 255));
  EXPECT_EQ(out.At(9, 12), MakePixel(255, 170, 170));
  // Inner glow: red along the inside of the edge, nothing outside.
  out = DrawPlaced(glow(0x80 | 0x20, 3));
  EXPECT_EQ(out.At(9, 12), MakePixel(255, 255, 255));
  EXPECT_EQ(out.At(12, 12), MakePixel(0, 0, 255));   // the middle sees no edge
  EXPECT_EQ(out.At(10, 12), MakePixel(85, 0, 170));  // a third of the way to red
  // Hidden object (no composite source): the glow alone, inside too.
  out = DrawPlaced(glow(0, 1));
  EXPECT_EQ(out.At(12, 12), MakePixel(255, 0, 0));
}

TEST(Filters, BevelLightsTheNearEdgeAndKnocksOutOnce) {
  // A red highlight and a blue shadow, no blur, 1 pixel at 0 degrees: the left edge of the
  // square faces the light, the right edge falls in shadow. The square is half transparent, so
  // the outer bevel also shows, weakened, over the square's own pixels.
  auto bevel = [](std::uint8_t flags) {
    return PlaceWithFilters(OneFilter([&](BitWriter& w) {
      w.U8(3);
      for (std::uint8_t b : {0xFF, 0x00, 0x00, 0xFF, 0x00, 0x00, 0xFF, 0xFF}) w.U8(b);
      Fixed(w, 0);
      Fixed(w, 0);
      Fixed(w, 0);
      Fixed(w, 1);
      w.U16(0x0100);
      w.U8(flags | 1);
    }));
  };
  constexpr std::uint32_t kHalfGreen = 0x00FF0080;
  // Outer, knocked out: around the square the full difference (128); over its edge pixels the
  // difference weighs the transparency of the square there, once (128 * 127 / 255 = 64).
  Surface out = DrawPlaced(bevel(0x40 | 0x20), kHalfGreen);
  EXPECT_EQ(out.At(9, 12), MakePixel(255, 127, 127));
  EXPECT_EQ(out.At(10, 12), MakePixel(255, 191, 191));
  EXPECT_EQ(out.At(14, 12), MakePixel(191, 191, 255));
  EXPECT_EQ(out.At(15, 12), MakePixel(127, 127, 255));
  EXPECT_EQ(out.At(12, 12), MakePixel(255, 255, 255));  // no edge, and the square knocked out
  // Inner, knocked out: only over the square, weighed by its opacity (128 * 128 / 255 = 64).
  out = DrawPlaced(bevel(0x80 | 0x40 | 0x20), kHalfGreen);
  EXPECT_EQ(out.At(9, 12), MakePixel(255, 255, 255));
  EXPECT_EQ(out.At(10, 12), MakePixel(255, 191, 191));
  EXPECT_EQ(out.At(14, 12), MakePixel(191, 191, 255));
}

TEST(Filters, DropShadowFallsAlongItsAngle) {
  // Black shadow, no blur, 3 pixels at 0 degrees (to the right), knocked out.
  const Surface out = DrawPlaced(PlaceWithFilters(OneFilter([](BitWriter& w) {
    w.U8(0);
    for (std::uint8_t b : {0x00, 0x00, 0x00, 0xFF}) w.U8(b);
    Fixed(w, 0);
    Fixed(w, 0);
    Fixed(w, 0);
    Fixed(w, 3);
    w.U16(0x0100);
    w.U8(0x40 | 0x20 | 1);
  })));
  EXPECT_EQ(out.At(12, 12), MakePixel(255, 255, 255));
  EXPECT_EQ(out.At(16, 12), MakePixel(0, 0, 0));
  EXPECT_EQ(out.At(17, 12), MakePixel(0, 0, 0));
  EXPECT_EQ(out.At(18, 12), MakePixel(255, 255, 255));
}

TEST(Filters, ColourMatrixAndBlendModeOfAPlacedObject) {
  // A matrix that swaps red and blue.
  Surface out = DrawPlaced(PlaceWithFilters(OneFilter([](BitWriter& w) {
    w.U8(6);
    const float m[20] = {0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0};
    for (float v : m) Float(w, v);
  })));
  EXPECT_EQ(out.At(12, 12), MakePixel(255, 0, 0));
  EXPECT_EQ(out.At(5, 5), MakePixel(255, 255, 255));
  // Difference over white turns blue into yellow; no filters at all.
  out = DrawPlaced(PlaceWithFilters({0}, 7));
  EXPECT_EQ(out.At(12, 12), MakePixel(255, 255, 0));
  EXPECT_EQ(out.At(5, 5), MakePixel(255, 255, 255));
}

}  // namespace
}  // namespace dbx::swf

namespace dbx::swf {
namespace {

Shape Square(Rgba colour, float size) {
  Shape s;
  FillStyle fill;
  fill.color = colour;
  s.fills.push_back(fill);
  const Vec2 c[4] = {{0, 0}, {size, 0}, {size, size}, {0, size}};
  for (int i = 0; i < 4; ++i) {
    ShapeEdge e;
    e.from = c[i];
    e.to = c[(i + 1) % 4];
    e.control = e.from;
    e.fill1 = 0;
    s.edges.push_back(e);
  }
  return s;
}

PlaceCommand Place(std::uint16_t depth, std::optional<std::uint16_t> character, double tx,
                   double ty, bool move = false) {
  PlaceCommand p;
  p.depth = depth;
  p.character = character;
  p.move = move;
  Matrix m;
  m.tx = tx;
  m.ty = ty;
  p.matrix = m;
  return p;
}

TEST(CachedLayers, MatchAFreshDrawingFrameByFrame) {
  // A glowing sprite cached as a bitmap: its child stays, is replaced, moves inside it, is tinted;
  // the sprite itself moves by whole and by part pixels, then its glow changes.
  Movie movie;
  movie.frame = {0, 60 * 20, 0, 40 * 20};
  movie.characters.emplace(1, Square({200, 30, 30, 255}, 200));
  movie.characters.emplace(2, Square({30, 30, 200, 255}, 200));
  Sprite sprite;
  sprite.timeline.frames.resize(9);
  sprite.timeline.frames[0].commands.push_back(Place(1, 1, 0, 0));
  sprite.timeline.frames[2].commands.push_back(Place(1, 2, 0, 0, true));
  sprite.timeline.frames[3].commands.push_back(Place(1, std::nullopt, 40, 0, true));
  PlaceCommand tint = Place(1, std::nullopt, 40, 0, true);
  tint.cxform = ColorTransform{};
  tint.cxform->add = {120, 0, 0, 0};
  sprite.timeline.frames[6].commands.push_back(tint);
  movie.characters.emplace(3, std::move(sprite));
  Filter glow;
  glow.kind = FilterKind::kGlow;
  glow.colors.push_back({0, {0, 160, 0, 255}});
  glow.blurX = glow.blurY = 5;
  PlaceCommand place = Place(1, 3, 100, 100);
  place.filters = std::vector<Filter>{glow};
  place.cacheAsBitmap = true;
  movie.timeline.frames.resize(9);
  movie.timeline.frames[0].commands.push_back(place);
  movie.timeline.frames[4].commands.push_back(Place(1, std::nullopt, 120, 100, true));
  movie.timeline.frames[5].commands.push_back(Place(1, std::nullopt, 130, 107, true));
  PlaceCommand reglow = Place(1, std::nullopt, 130, 107, true);
  glow.colors.front().color = {0, 255, 60, 255};
  glow.blurX = 9;
  reglow.filters = std::vector<Filter>{glow};
  movie.timeline.frames[7].commands.push_back(reglow);

  Matrix view;
  view.a = view.d = 1.0 / 20;
  for (int samples : {1, 4}) {
    Stage stage(movie);
    Renderer cached(movie);
    for (int frame = 0; frame < 9; ++frame) {
      stage.Step();
      Surface a(60, 40), b(60, 40);
      for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 60; ++x) a.At(x, y) = b.At(x, y) = 0xFFFFFF;
      cached.Render(stage, a.View(), view, RenderOptions{samples});
      Renderer fresh(movie);
      fresh.Render(stage, b.View(), view, RenderOptions{samples});
      int differing = 0, green = 0;
      for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 60; ++x) {
          differing += a.At(x, y) != b.At(x, y);
          green += PixelG(a.At(x, y)) > PixelR(a.At(x, y)) + 40;
        }
      EXPECT_EQ(differing, 0) << "frame " << frame << ", " << samples << " samples";
      EXPECT_GT(green, 20) << "frame " << frame;  // the glow is there
    }
  }
}

TEST(Renderer, AttachedPicturesShowWhatTheirPixelsHoldNow) {
  // A 2 x 2 picture attached to an empty clip one pixel in; its owner changes a pixel between
  // frames, drawn plainly and through a cached layer.
  Movie movie;
  movie.timeline.frames.resize(1);
  auto picture = std::make_shared<Bitmap>();
  picture->width = picture->height = 2;
  picture->pixels = {0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu, 0x80800000u};
  Matrix view;
  view.a = view.d = 1.0 / 20;
  for (bool cached : {false, true}) {
    Stage stage(movie);
    stage.Step();
    Clip* clip = stage.root().CreateEmpty("pic", 0);
    ASSERT_NE(clip, nullptr);
    clip->attachedBitmap = picture;
    clip->cacheAsBitmap = cached;
    clip->matrix.tx = clip->matrix.ty = 20;
    Renderer renderer(movie);
    for (std::uint32_t corner : {0x80800000u, 0xFF000000u}) {
      picture->pixels[3] = corner;
      Surface s(4, 4);
      for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) s.At(x, y) = 0xFFFFFF;
      renderer.Render(stage, s.View(), view, RenderOptions{1});
      // Half-transparent dark red over white: 0x80 + white * 127 / 255.
      const std::uint32_t last = corner == 0xFF000000u ? 0x000000u : 0xFF7F7Fu;
      const std::uint32_t expected[4][4] = {{0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF},
                                            {0xFFFFFF, 0xFF0000, 0x00FF00, 0xFFFFFF},
                                            {0xFFFFFF, 0x0000FF, last, 0xFFFFFF},
                                            {0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF}};
      for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
          EXPECT_EQ(s.At(x, y) & 0xFFFFFF, expected[y][x])
              << x << "," << y << (cached ? " cached" : "") << std::hex << " corner " << corner;
    }
  }
}

TEST(Renderer, ScrollRectShowsItsWindowOfTheContentAtTheClipsPlace) {
  // A sprite of a red square (0..10) and a blue one (10..20) placed at (2, 3); its window from
  // (8, 0), 4 x 5 pixels: two columns of red and two of blue, moved to the sprite's place.
  Movie movie;
  movie.frame = {0, 30 * 20, 0, 20 * 20};
  movie.characters.emplace(1, Square({255, 0, 0, 255}, 200));
  movie.characters.emplace(2, Square({0, 0, 255, 255}, 200));
  Sprite sprite;
  sprite.timeline.frames.resize(1);
  sprite.timeline.frames[0].commands.push_back(Place(1, 1, 0, 0));
  sprite.timeline.frames[0].commands.push_back(Place(2, 2, 200, 0));
  movie.characters.emplace(3, std::move(sprite));
  movie.timeline.frames.resize(1);
  movie.timeline.frames[0].commands.push_back(Place(1, 3, 40, 60));
  Matrix view;
  view.a = view.d = 1.0 / 20;
  for (bool cached : {false, true}) {
    Stage stage(movie);
    stage.Step();
    Clip* clip = stage.root().children().begin()->second.get();
    clip->scrollRect = Clip::ScrollRect{8, 0, 4, 5};
    clip->cacheAsBitmap = cached;
    Renderer renderer(movie);
    Surface s(30, 20);
    for (int y = 0; y < 20; ++y)
      for (int x = 0; x < 30; ++x) s.At(x, y) = 0xFFFFFF;
    renderer.Render(stage, s.View(), view, RenderOptions{1});
    for (int y = 0; y < 20; ++y)
      for (int x = 0; x < 30; ++x) {
        const bool inside = x >= 2 && x < 6 && y >= 3 && y < 8;
        const std::uint32_t want = !inside ? 0xFFFFFF : x < 4 ? 0xFF0000 : 0x0000FF;
        EXPECT_EQ(s.At(x, y) & 0xFFFFFF, want) << x << "," << y << (cached ? " cached" : "");
      }
    // Without the window the whole content shows again, once the cache sees the change.
    clip->scrollRect.reset();
    renderer.Render(stage, s.View(), view, RenderOptions{1});
    EXPECT_EQ(s.At(20, 5) & 0xFFFFFF, 0x0000FFu) << (cached ? "cached" : "");
  }
}

TEST(Renderer, CachedPicturesPutOddLinesOnWholePixelsBelowAndRight) {
  // A hairline (1 pixel wide) along y = 4 inside a sprite inside another covers row 4 when either
  // or both are cached; drawn directly, row 3 (the pixel centres at 3.5 and 4.5 lie on its edges).
  Movie movie;
  movie.frame = {0, 10 * 20, 0, 10 * 20};
  Shape line;
  LineStyle style;
  style.width = 20;
  style.color = {0, 0, 0, 255};
  style.startCap = style.endCap = Cap::kNone;
  line.lines.push_back(style);
  ShapeEdge e;
  e.from = {20, 80};
  e.to = {160, 80};
  e.control = e.from;
  e.line = 0;
  line.edges.push_back(e);
  movie.characters.emplace(1, line);
  Sprite inner;
  inner.timeline.frames.resize(1);
  inner.timeline.frames[0].commands.push_back(Place(1, 1, 0, 0));
  movie.characters.emplace(2, std::move(inner));
  Sprite outer;
  outer.timeline.frames.resize(1);
  outer.timeline.frames[0].commands.push_back(Place(1, 2, 0, 0));
  movie.characters.emplace(3, std::move(outer));
  movie.timeline.frames.resize(1);
  movie.timeline.frames[0].commands.push_back(Place(1, 3, 0, 0));
  Matrix view;
  view.a = view.d = 1.0 / 20;
  // Placed half a pixel down, the line covers 4 to 5 px directly (row 4) and 4.5 to 5.5 px
  // cached: a cached picture keeps its place's fraction rather than moving to whole pixels.
  struct Case {
    bool outerCached, innerCached;
    int tyTwips;
    int row;
  };
  for (const Case c : {Case{false, false, 0, 3}, Case{true, false, 0, 4}, Case{false, true, 0, 4},
                       Case{true, true, 0, 4}, Case{false, false, 10, 4}, Case{true, false, 10, 4},
                       Case{true, true, 10, 4}}) {
    SCOPED_TRACE(testing::Message() << "outer " << c.outerCached << ", inner " << c.innerCached
                                    << ", at " << c.tyTwips);
    Stage stage(movie);
    stage.Step();
    Clip& outerClip = *stage.root().children().begin()->second;
    outerClip.cacheAsBitmap = c.outerCached;
    outerClip.matrix.ty = c.tyTwips;
    outerClip.children().begin()->second->cacheAsBitmap = c.innerCached;
    Renderer renderer(movie);
    Surface s(10, 10);
    for (int y = 0; y < 10; ++y)
      for (int x = 0; x < 10; ++x) s.At(x, y) = 0xFFFFFF;
    renderer.Render(stage, s.View(), view, RenderOptions{1});
    for (int y = 2; y < 6; ++y) EXPECT_EQ(s.At(5, y) & 0xFFFFFF, y == c.row ? 0u : 0xFFFFFFu) << y;
  }
}

// A sprite of blue 2 x 2 px squares whose top left corners lie at (at, at) px for each `at`,
// behind them `background` filling their bounds, drawn cached or not on a white picture.
Surface DrawSquares(const std::vector<int>& corners, int size, std::optional<Rgba> background,
                    bool cached, int samples) {
  Movie movie;
  movie.frame = {0, size * 20, 0, size * 20};
  movie.characters.emplace(1, Square({0, 0, 255, 255}, 40));
  Sprite sprite;
  sprite.timeline.frames.resize(1);
  for (std::size_t i = 0; i < corners.size(); ++i)
    sprite.timeline.frames[0].commands.push_back(
        Place(static_cast<std::uint16_t>(i + 1), 1, corners[i] * 20, corners[i] * 20));
  movie.characters.emplace(2, std::move(sprite));
  movie.timeline.frames.resize(1);
  PlaceCommand place = Place(1, 2, 0, 0);
  place.opaqueBackground = background;
  movie.timeline.frames[0].commands.push_back(place);
  Matrix view;
  view.a = view.d = 1.0 / 20;
  Stage stage(movie);
  stage.Step();
  stage.root().children().begin()->second->cacheAsBitmap = cached;
  Renderer renderer(movie);
  Surface s(size, size);
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) s.At(x, y) = 0xFFFFFF;
  renderer.Render(stage, s.View(), view, RenderOptions{samples});
  return s;
}

TEST(Renderer, AnAntiAliasedCachedPictureKeepsItsEdgesOnWholePixels) {
  // A square from (1, 1) to (3, 3) px: anti-aliased, its edges stay sharp whether the sprite is
  // cached or not (only without anti-aliasing does a cached picture move half a pixel).
  for (bool cached : {false, true}) {
    SCOPED_TRACE(cached ? "cached" : "direct");
    const Surface s = DrawSquares({1}, 6, std::nullopt, cached, 4);
    for (int y = 0; y < 6; ++y)
      for (int x = 0; x < 6; ++x) {
        const bool in = x >= 1 && x <= 2 && y >= 1 && y <= 2;
        EXPECT_EQ(s.At(x, y) & 0xFFFFFF, in ? 0x0000FFu : 0xFFFFFFu) << x << "," << y;
      }
  }
}

TEST(Renderer, OpaqueBackgroundFillsTheBoundsBehindTheContent) {
  // Two blue squares, (1, 1)-(3, 3) and (5, 5)-(7, 7) px, with a red background: red fills the
  // rest of (1, 1)-(7, 7) behind them, drawn directly and cached alike.
  for (bool cached : {false, true}) {
    SCOPED_TRACE(cached ? "cached" : "direct");
    const Surface s = DrawSquares({1, 5}, 10, Rgba{255, 0, 0, 255}, cached, 1);
    // Edges on whole pixels (direct) or half pixels (a cached picture lands half a pixel right
    // and down) take the same pixel centres.
    const int lo = 1, hi = 6;
    auto inSquare = [&](int x, int y, int at) {
      return x >= at + lo - 1 && x <= at + lo && y >= at + lo - 1 && y <= at + lo;
    };
    for (int y = 0; y < 10; ++y)
      for (int x = 0; x < 10; ++x) {
        const bool inBounds = x >= lo && x <= hi && y >= lo && y <= hi;
        const bool blue = inSquare(x, y, 1) || inSquare(x, y, 5);
        EXPECT_EQ(s.At(x, y) & 0xFFFFFF, blue       ? 0x0000FFu
                                         : inBounds ? 0xFF0000u
                                                    : 0xFFFFFFu)
            << x << "," << y;
      }
  }
}

}  // namespace
}  // namespace dbx::swf
