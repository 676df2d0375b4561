// BitmapData as scripts use it: the rounding of colours through the premultiplied store, the
// status numbers of the methods, and what the pixel operations leave behind.
#include "swf/avm1/bitmap_data.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "swf/avm1/vm.h"

namespace dbx::swf::avm1 {
namespace {

struct Script {
  Vm vm{10};
  Value Class(const char* package, const char* name) {
    Object* flash = vm.Get(vm.global, "flash").AsObject();
    Object* pkg = flash ? vm.Get(flash, package).AsObject() : nullptr;
    return pkg ? vm.Get(pkg, name) : Value();
  }
  Value New(std::vector<Value> args) {
    return vm.Construct(Class("display", "BitmapData"), std::move(args));
  }
  Value Rect(double x, double y, double w, double h) {
    return vm.Construct(Class("geom", "Rectangle"), {Value(x), Value(y), Value(w), Value(h)});
  }
  Value Call(const Value& self, const char* name, std::vector<Value> args) {
    return vm.CallMethod(self, name, std::move(args));
  }
  std::uint32_t Pixel32(const Value& b, int x, int y) {
    return static_cast<std::uint32_t>(
        static_cast<std::int32_t>(vm.ToNumber(Call(b, "getPixel32", {Value(x), Value(y)}))));
  }
};

TEST(BitmapData, ColoursComeBackAsThePremultipliedStoreRoundsThem) {
  // Written straight ARGB -> read back; the pairs are what the player answers.
  const struct {
    std::uint32_t in, out;
  } cases[] = {
      {0xAABBCCDDu, 0xAABBCCDCu}, {0x98765432u, 0x98755432u}, {0x12345678u, 0x12395571u},
      {0xFF123456u, 0xFF123456u}, {0x00FFFFFFu, 0x00000000u}, {0xAAAAAAAAu, 0xAAA9A9A9u},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(UnmultiplyArgb(PremultiplyArgb(c.in)), c.out) << std::hex << c.in;
    Script s;
    Value b = s.New({Value(2), Value(2), Value(true), Value(static_cast<double>(c.in))});
    EXPECT_EQ(s.Pixel32(b, 1, 1), c.out) << std::hex << c.in;
  }
  EXPECT_EQ(PremultiplyArgb(0x12345678u), 0x12040608u);
}

TEST(BitmapData, SizesBeyondTheLimitsMakeNothing) {
  const struct {
    int w, h;
    bool made;
  } cases[] = {{8191, 1, true},     {8192, 1, false}, {1, 8192, false}, {4095, 4096, true},
               {4096, 4096, false}, {0, 5, false},    {-1, 5, false}};
  for (const auto& c : cases) {
    Script s;
    Value b = s.New({Value(c.w), Value(c.h)});
    EXPECT_EQ(AsBitmapData(b) != nullptr, c.made) << c.w << "x" << c.h;
    if (!c.made) {
      EXPECT_TRUE(b.IsUndefined());
    }
  }
}

TEST(BitmapData, StatusNumbersAndDisposal) {
  Script s;
  Value b = s.New({Value(3), Value(3), Value(true), Value(0xFF000000u * 1.0)});
  EXPECT_EQ(s.vm.ToNumber(s.Call(b, "getPixel32", {Value(1)})), -1);           // too few arguments
  EXPECT_EQ(s.vm.ToNumber(s.Call(b, "getPixel32", {Value(9), Value(0)})), 0);  // outside
  EXPECT_EQ(s.vm.ToNumber(s.Call(b, "fillRect", {Value(), Value(1)})), -1);    // no rectangle
  EXPECT_EQ(s.vm.ToNumber(s.Call(b, "fillRect", {s.Rect(1, 1, 5, 5), Value(0xFFFF0000u * 1.0)})),
            0);
  EXPECT_EQ(s.Pixel32(b, 0, 0), 0xFF000000u);
  EXPECT_EQ(s.Pixel32(b, 2, 2), 0xFFFF0000u);  // the rectangle is clipped to the picture
  EXPECT_EQ(s.vm.ToNumber(s.vm.Get(b.o, "width")), 3);
  s.Call(b, "dispose", {});
  EXPECT_EQ(s.vm.ToNumber(s.vm.Get(b.o, "width")), -1);
  EXPECT_EQ(s.vm.ToNumber(s.Call(b, "getPixel32", {Value(0), Value(0)})), -1);
}

TEST(BitmapData, ScrollThresholdAndFloodFill) {
  Script s;
  Value b = s.New({Value(3), Value(1), Value(false), Value(0xFF000000u * 1.0)});
  s.Call(b, "setPixel", {Value(0), Value(0), Value(0x0000FF)});
  s.Call(b, "scroll", {Value(1), Value(0)});
  // Scrolled right by one: the left column keeps what it had.
  EXPECT_EQ(s.Pixel32(b, 0, 0), 0xFF0000FFu);
  EXPECT_EQ(s.Pixel32(b, 1, 0), 0xFF0000FFu);
  EXPECT_EQ(s.Pixel32(b, 2, 0), 0xFF000000u);
  // Blue channel above 0x80 becomes green; the count of pixels that passed comes back.
  Value n = s.Call(b, "threshold",
                   {b, s.Rect(0, 0, 3, 1), Value(), Value(">"), Value(0x80),
                    Value(0xFF00FF00u * 1.0), Value(0xFF)});
  EXPECT_EQ(s.vm.ToNumber(n), 2);
  EXPECT_EQ(s.Pixel32(b, 0, 0), 0xFF00FF00u);
  EXPECT_EQ(s.Pixel32(b, 2, 0), 0xFF000000u);
  s.Call(b, "floodFill", {Value(0), Value(0), Value(0xFFFFFFFFu * 1.0)});
  EXPECT_EQ(s.Pixel32(b, 1, 0), 0xFFFFFFFFu);
  EXPECT_EQ(s.Pixel32(b, 2, 0), 0xFF000000u);
}

TEST(BitmapData, PaletteMapAddsTheTablesAndTakesTheIdentityForTablesNotGiven) {
  // The opaque pixel 0xFF345678 through tables given for some channels only: the values of the
  // tables are added as they are, a missing table keeps its channel, an object that is not an
  // array reads as zeros.
  Script s;
  std::vector<Value> down, up;
  for (int i = 0; i < 256; ++i) {
    down.push_back(Value(256 - i));
    up.push_back(Value(256 + i));
  }
  const Value red(s.vm.NewArray(down)), green(s.vm.NewArray(up)), none;
  const Value empty(s.vm.NewObject());
  const struct {
    std::vector<Value> tables;
    std::uint32_t out;
  } cases[] = {
      {{}, 0xFF345678u},                          // too few arguments: nothing done
      {{red}, 0xFF005744u},                       // 0xCC + 0x5600 + 0x78
      {{red, green}, 0xFF00029Au},                // 0xCC + 0x156 + 0x78 + alpha
      {{none, green}, 0xFF3401CEu},               // red kept: 0x340000 + 0x156 + 0x78
      {{empty, green, red, green}, 0xFF0003DDu},  // 0 + 0x156 + 0x88 + 0x1FF
      {{red, none, none, none}, 0xFF005744u},     // undefined tables are missing ones
  };
  for (const auto& c : cases) {
    Value b = s.New({Value(1), Value(1), Value(false), Value(0xFF345678u * 1.0)});
    std::vector<Value> args = {b, s.Rect(0, 0, 1, 1), Value()};
    for (const Value& t : c.tables) args.push_back(t);
    s.Call(b, "paletteMap", args);
    EXPECT_EQ(s.Pixel32(b, 0, 0), c.out) << c.tables.size() << " tables";
  }
}

TEST(BitmapData, HitTestAgainstPointsRectanglesAndPictures) {
  // A 3 x 3 picture: clear, but for a half-opaque middle pixel.
  Script s;
  Value b = s.New({Value(3), Value(3), Value(true), Value(0)});
  s.Call(b, "setPixel32", {Value(1), Value(1), Value(0x80FFFFFFu * 1.0)});
  Value other = s.New({Value(3), Value(3), Value(true), Value(0xFF000000u * 1.0)});
  Object* origin = s.vm.NewObject();
  origin->SetOwn("x", Value(0));
  origin->SetOwn("y", Value(0));
  auto point = [&](int x, int y) {
    Object* p = s.vm.NewObject();
    p->SetOwn("x", Value(x));
    p->SetOwn("y", Value(y));
    return Value(p);
  };
  const struct {
    Value second, secondPoint;
    int threshold;
    const char* expected;
  } cases[] = {
      {point(1, 1), Value(), 0x80, "true"},
      {point(1, 1), Value(), 0x81, "false"},
      {point(0, 0), Value(), 0, "false"},        // alpha 0 never hits a point
      {s.Rect(0, 0, 1, 1), Value(), 0, "true"},  // but counts inside a rectangle
      {s.Rect(2, 2, 1, 1), Value(), 1, "false"},
      {other, point(1, 1), 0x80, "true"},   // the other picture covers the middle
      {other, point(2, 2), 0x80, "false"},  // moved beyond it
      {Value(s.vm.NewObject()), Value(), 0, "-3"},
      {other, Value(), 0, "-4"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(s.vm.ToString(s.Call(b, "hitTest",
                                   {Value(origin), Value(c.threshold), c.second, c.secondPoint})),
              c.expected)
        << s.vm.ToString(c.second) << " threshold " << c.threshold;
}

TEST(BitmapData, DrawPlacesAPictureThroughTheMatrixWithinTheClip) {
  Script s;
  Value dest = s.New({Value(4), Value(4), Value(false), Value(0xFF0000FFu * 1.0)});
  Value red = s.New({Value(2), Value(2), Value(false), Value(0xFFFF0000u * 1.0)});
  Value m = s.vm.Construct(s.Class("geom", "Matrix"), {});
  s.Call(m, "translate", {Value(1), Value(1)});
  // Red lands on (1..2, 1..2); the clip keeps only column 2.
  s.Call(dest, "draw", {red, m, Value(), Value(), s.Rect(2, 0, 2, 4)});
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) {
      const bool isRed = x == 2 && (y == 1 || y == 2);
      EXPECT_EQ(s.Pixel32(dest, x, y), isRed ? 0xFFFF0000u : 0xFF0000FFu) << x << "," << y;
    }
}

TEST(BitmapData, PixelDissolveVisitsEveryPlaceOnceAcrossCallsThatPassOnTheSeed) {
  Script s;
  Value point = s.vm.Construct(s.Class("geom", "Point"), {Value(0), Value(0)});
  auto changed = [&](const Value& b, int w, int h, std::uint32_t from) {
    int n = 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) n += s.Pixel32(b, x, y) != from;
    return n;
  };
  // Into itself: places turn the fill colour, exactly as many as asked; the seed handed back
  // goes on with places not taken yet, for sizes around the powers of two.
  for (const auto& [w, h, seed] : {std::tuple{10, 10, 7}, std::tuple{16, 8, 0},
                                   std::tuple{17, 3, 123456789}, std::tuple{1, 1, 5}}) {
    const int n = w * h;
    Value b = s.New({Value(w), Value(h), Value(false), Value(0xFF0000FFu * 1.0)});
    Value next = Value(seed);
    int total = 0;
    for (const int step : {n / 3, n / 3, n - 2 * (n / 3)}) {
      next = s.Call(b, "pixelDissolve",
                    {b, s.Rect(0, 0, w, h), point, next, Value(step), Value(0xFFFF0000u * 1.0)});
      total += step;
      EXPECT_EQ(changed(b, w, h, 0xFF0000FFu), total) << w << "x" << h << " seed " << seed;
    }
  }
  // From another picture: the rectangle to the point, all of it when asked for more places than
  // it has; a thirtieth of it when the count is not given.
  Value dest = s.New({Value(8), Value(8), Value(false), Value(0xFF0000FFu * 1.0)});
  Value green = s.New({Value(8), Value(8), Value(false), Value(0xFF00FF00u * 1.0)});
  Value at = s.vm.Construct(s.Class("geom", "Point"), {Value(5), Value(1)});
  s.Call(dest, "pixelDissolve", {green, s.Rect(0, 0, 4, 3), at, Value(1), Value(1000)});
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) {
      const bool copied = x >= 5 && y >= 1 && y < 4;  // columns 8 and on lie outside
      EXPECT_EQ(s.Pixel32(dest, x, y), copied ? 0xFF00FF00u : 0xFF0000FFu) << x << "," << y;
    }
  Value wide = s.New({Value(300), Value(1), Value(false), Value(0xFF0000FFu * 1.0)});
  s.Call(wide, "pixelDissolve", {green, s.Rect(0, 0, 8, 1), point});
  s.Call(wide, "pixelDissolve", {wide, s.Rect(0, 0, 300, 1), point, Value(3)});
  EXPECT_EQ(changed(wide, 300, 1, 0xFF0000FFu), 10);
}

TEST(BitmapData, ColourMatrixFilterMixesStraightChannels) {
  // Each row: r, g, b, a factors and an offset, on the colours before premultiplying.
  const struct {
    std::vector<double> matrix;
    std::uint32_t in, out;
  } cases[] = {
      {{0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0}, 0xFF112233u, 0xFF332211u},
      {{0.5, 0, 0, 0, 10, 0, 2, 0, 0, 0, 0, 0, 1, 0, -40, 0, 0, 0, 1, 0}, 0xFF8080FFu, 0xFF4AFFD7u},
      {{1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0.5, 0}, 0xFFFFFFFFu, 0x7FFFFFFFu},
  };
  for (const auto& c : cases) {
    Script s;
    Value b = s.New({Value(1), Value(1), Value(true), Value(static_cast<double>(c.in))});
    std::vector<Value> items;
    for (double v : c.matrix) items.emplace_back(v);
    Value filter =
        s.vm.Construct(s.Class("filters", "ColorMatrixFilter"), {Value(s.vm.NewArray(items))});
    EXPECT_EQ(s.vm.ToNumber(s.Call(b, "applyFilter", {b, s.Rect(0, 0, 1, 1), Value(), filter})), 0);
    EXPECT_EQ(s.Pixel32(b, 0, 0), c.out) << std::hex << c.in;
  }
}

// generateFilterRect gives the rectangle that applyFilter of a rectangle can change: every pixel
// a blur, glow or shadow of a small square reaches lies inside it. For the filters that spread
// evenly (blurs and glows) it reaches no more than a pixel per box pass beyond them; a shadow's
// rectangle grows by its blur on every side.
TEST(BitmapData, GenerateFilterRectHoldsWhatTheFilterChanges) {
  const struct {
    const char* cls;
    std::vector<double> args;
    int passes;  // 0: not evenly spread
  } cases[] = {
      {"BlurFilter", {8, 8, 1}, 1},
      {"BlurFilter", {5, 3, 3}, 3},
      {"GlowFilter", {0xFF0000, 1, 6, 6, 2, 2}, 2},
      {"DropShadowFilter", {6, 45, 0, 1, 4, 4, 1, 1}, 0},
      {"DropShadowFilter", {9, 200, 0, 1, 2, 10, 1, 2}, 0},
  };
  for (const auto& c : cases) {
    Script s;
    Value b = s.New({Value(60), Value(60), Value(true), Value(0.0)});
    s.Call(b, "fillRect", {s.Rect(26, 26, 4, 4), Value(static_cast<double>(0xFF00FF00u))});
    std::vector<Value> args;
    for (double v : c.args) args.emplace_back(v);
    Value filter = s.vm.Construct(s.Class("filters", c.cls), args);
    Value r = s.Call(b, "generateFilterRect", {s.Rect(26, 26, 4, 4), filter});
    ASSERT_TRUE(r.IsObject()) << c.cls;
    auto field = [&](const char* name) { return s.vm.ToNumber(s.vm.Get(r.AsObject(), name)); };
    const double x0 = field("x"), y0 = field("y");
    const double x1 = x0 + field("width"), y1 = y0 + field("height");
    Value out = s.New({Value(60), Value(60), Value(true), Value(0.0)});
    s.Call(out, "applyFilter", {b, s.Rect(0, 0, 60, 60), Value(), filter});
    int bx0 = 60, by0 = 60, bx1 = -1, by1 = -1;
    for (int y = 0; y < 60; ++y)
      for (int x = 0; x < 60; ++x)
        if (s.Pixel32(out, x, y) >> 24) {
          bx0 = std::min(bx0, x), by0 = std::min(by0, y);
          bx1 = std::max(bx1, x), by1 = std::max(by1, y);
        }
    ASSERT_GE(bx1, 0) << c.cls;
    EXPECT_LE(x0, bx0) << c.cls;
    EXPECT_LE(y0, by0) << c.cls;
    EXPECT_GE(x1, bx1 + 1) << c.cls;
    EXPECT_GE(y1, by1 + 1) << c.cls;
    if (c.passes == 0) continue;
    EXPECT_LE(bx0 - x0, c.passes) << c.cls;
    EXPECT_LE(by0 - y0, c.passes) << c.cls;
    EXPECT_LE(x1 - (bx1 + 1), c.passes) << c.cls;
    EXPECT_LE(y1 - (by1 + 1), c.passes) << c.cls;
  }
}

TEST(BitmapData, MergeAndCopyChannelMixStraightChannels) {
  Script s;
  // merge: (source * m + dest * (256 - m)) / 256 per channel, m per channel.
  const struct {
    std::uint32_t src, dst;
    int r, g, b, a;
    std::uint32_t out;
  } merges[] = {
      {0xFFFF0000u, 0xFF0000FFu, 128, 128, 128, 128, 0xFF7F007Fu},
      {0xFFFF8040u, 0xFF000000u, 256, 64, 0, 0, 0xFFFF2000u},
      {0xFF204060u, 0xFFA0A0A0u, 300, -5, 256, 256, 0xFF20A060u},  // clamped to 0..256
  };
  for (const auto& m : merges) {
    Value src = s.New({Value(1), Value(1), Value(false), Value(static_cast<double>(m.src))});
    Value dst = s.New({Value(1), Value(1), Value(false), Value(static_cast<double>(m.dst))});
    s.Call(dst, "merge",
           {src, s.Rect(0, 0, 1, 1), Value(), Value(m.r), Value(m.g), Value(m.b), Value(m.a)});
    EXPECT_EQ(s.Pixel32(dst, 0, 0), m.out) << std::hex << m.src << " over " << m.dst;
  }
  // copyChannel: the source's green written into blue, then its red into alpha.
  Value src = s.New({Value(2), Value(1), Value(false), Value(0xFF11AA33u * 1.0)});
  Value dst = s.New({Value(2), Value(1), Value(true), Value(0xFF000000u * 1.0)});
  s.Call(dst, "copyChannel", {src, s.Rect(1, 0, 1, 1), Value(), Value(2), Value(4)});
  EXPECT_EQ(s.Pixel32(dst, 0, 0), 0xFF0000AAu);
  EXPECT_EQ(s.Pixel32(dst, 1, 0), 0xFF000000u);  // outside the rectangle's landing place
  s.Call(dst, "copyChannel", {src, s.Rect(0, 0, 2, 1), Value(), Value(1), Value(8)});
  EXPECT_EQ(s.Pixel32(dst, 1, 0) >> 24, 0x11u);
  s.Call(dst, "copyChannel", {src, s.Rect(0, 0, 2, 1), Value(), Value(3), Value(8)});
  EXPECT_EQ(s.Pixel32(dst, 1, 0) >> 24, 0x11u);  // not one channel: nothing done
}

TEST(BitmapData, PerlinNoiseFollowsItsSeedChannelsAndKinds) {
  Script s;
  auto noise = [&](double seed, bool fractal, int channels, bool gray) {
    Value b = s.New({Value(24), Value(16), Value(true), Value(0)});
    s.Call(b, "perlinNoise",
           {Value(8), Value(6), Value(3), Value(seed), Value(false), Value(fractal),
            Value(channels), Value(gray)});
    std::vector<std::uint32_t> px;
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 24; ++x) px.push_back(s.Pixel32(b, x, y));
    return px;
  };
  const auto a = noise(7, true, 7, false);
  EXPECT_EQ(a, noise(7, true, 7, false));
  EXPECT_NE(a, noise(8, true, 7, false));
  EXPECT_NE(a, noise(7, false, 7, false));
  std::uint32_t lo = 255, hi = 0;
  for (std::uint32_t p : a) {
    EXPECT_EQ(p >> 24, 0xFFu);  // no alpha asked for: opaque
    lo = std::min(lo, (p >> 16) & 0xFF);
    hi = std::max(hi, (p >> 16) & 0xFF);
  }
  EXPECT_GT(hi - lo, 40u);                                                     // it varies
  for (std::uint32_t p : noise(7, true, 1, false)) EXPECT_EQ(p & 0xFFFF, 0u);  // red only
  for (std::uint32_t p : noise(7, true, 7, true)) {
    EXPECT_EQ((p >> 16) & 0xFF, p & 0xFF);
    EXPECT_EQ((p >> 8) & 0xFF, p & 0xFF);
  }
  bool seeThrough = false;
  for (std::uint32_t p : noise(7, true, 15, false)) seeThrough |= (p >> 24) < 255;
  EXPECT_TRUE(seeThrough);
}

}  // namespace
}  // namespace dbx::swf::avm1
