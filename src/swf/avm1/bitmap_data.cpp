// flash.display.BitmapData for scripts. Pixels are kept premultiplied, as the renderer draws them;
// scripts read and write straight ARGB. Methods answer the player's status numbers: -1 for too few
// arguments or a disposed picture, other negative numbers for the argument that was wrong.
#include "swf/avm1/bitmap_data.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <initializer_list>
#include <string>
#include <variant>
#include <vector>

#include "swf/avm1/builtins.h"
#include "swf/avm1/color_transform.h"
#include "swf/avm1/filters_object.h"
#include "swf/avm1/vm.h"
#include "swf/render/filters.h"

namespace dbx::swf::avm1 {

namespace {

// The largest picture: sides and pixel count, by version.
constexpr int kMaxSideSwf10 = 8191;
constexpr std::int64_t kMaxPixelsSwf10 = 16777215;
constexpr int kMaxSide = 2880;

struct IRect {
  int x = 0, y = 0, w = 0, h = 0;
};

int ToInt(Vm& vm, const Value& v) {
  return ToInt32(vm.ToNumber(v));
}

// Reads x, y, width and height of any object; false when one is missing.
bool ReadRect(Vm& vm, const Value& v, IRect& r) {
  Object* o = v.AsObject();
  if (!o) return false;
  const char* names[4] = {"x", "y", "width", "height"};
  int out[4];
  for (int i = 0; i < 4; ++i) {
    Value f = vm.Get(o, names[i]);
    if (f.IsUndefined()) return false;
    out[i] = ToInt(vm, f);
  }
  r = {out[0], out[1], out[2], out[3]};
  return true;
}

// A point's x and y; missing values count as 0.
void ReadPoint(Vm& vm, const Value& v, int& x, int& y) {
  x = y = 0;
  if (Object* o = v.AsObject()) {
    x = ToInt(vm, vm.Get(o, "x"));
    y = ToInt(vm, vm.Get(o, "y"));
  }
}

// Clips `r` to a picture of w x h (a negative width or height reaches back from x or y); false
// when nothing is left.
bool ClipRect(IRect& r, int w, int h) {
  const std::int64_t ex = std::int64_t{r.x} + r.w, ey = std::int64_t{r.y} + r.h;
  const std::int64_t x0 = std::max<std::int64_t>(std::min<std::int64_t>(r.x, ex), 0);
  const std::int64_t y0 = std::max<std::int64_t>(std::min<std::int64_t>(r.y, ey), 0);
  const std::int64_t x1 = std::min<std::int64_t>(std::max<std::int64_t>(r.x, ex), w);
  const std::int64_t y1 = std::min<std::int64_t>(std::max<std::int64_t>(r.y, ey), h);
  if (x1 <= x0 || y1 <= y0) return false;
  r = {static_cast<int>(x0), static_cast<int>(y0), static_cast<int>(x1 - x0),
       static_cast<int>(y1 - y0)};
  return true;
}

BitmapDataObject* Self(CallArgs& a) {
  BitmapDataObject* b = AsBitmapData(a.self ? Value(a.self) : Value());
  return b && b->Usable() ? b : nullptr;
}

std::uint32_t& PixelAt(Bitmap& b, int x, int y) {
  return b.pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(b.width) +
                  static_cast<std::size_t>(x)];
}

// Calls f(source pixel, destination pixel) for each pixel of `r` in `s` that lands inside `d`
// at (px, py). The source is read from a copy taken first: it may be the destination itself.
template <class F>
void ForEachCopied(const Bitmap& s, Bitmap& d, IRect r, int px, int py, F f) {
  const std::vector<std::uint32_t> from = s.pixels;
  for (int y = 0; y < r.h; ++y)
    for (int x = 0; x < r.w; ++x) {
      const std::int64_t sx = std::int64_t{r.x} + x, sy = std::int64_t{r.y} + y;
      const std::int64_t dx = std::int64_t{px} + x, dy = std::int64_t{py} + y;
      if (sx < 0 || sy < 0 || sx >= s.width || sy >= s.height) continue;
      if (dx < 0 || dy < 0 || dx >= d.width || dy >= d.height) continue;
      f(from[static_cast<std::size_t>(sy) * static_cast<std::size_t>(s.width) +
             static_cast<std::size_t>(sx)],
        PixelAt(d, static_cast<int>(dx), static_cast<int>(dy)));
    }
}

// What a script reads: straight ARGB of a transparent picture, the stored value of an opaque one.
std::uint32_t Read(const BitmapDataObject& b, std::uint32_t p) {
  return b.transparent ? UnmultiplyArgb(p) : p;
}

// What a picture stores for a straight ARGB colour.
std::uint32_t Store(const BitmapDataObject& b, std::uint32_t argb) {
  return b.transparent ? PremultiplyArgb(argb) : (argb | 0xFF000000u);
}

Object* NewRectangle(Vm& vm, double x, double y, double w, double h) {
  Value r =
      vm.Construct(vm.FlashMember("geom", "Rectangle"), {Value(x), Value(y), Value(w), Value(h)});
  return r.AsObject();
}

BitmapDataObject* NewBitmapData(Vm& vm, Object* proto, int w, int h, bool transparent) {
  auto* b = vm.heap().Make<BitmapDataObject>(proto);
  b->transparent = transparent;
  b->bitmap = std::make_shared<Bitmap>();
  b->bitmap->width = w;
  b->bitmap->height = h;
  b->bitmap->opaque = !transparent;
  b->bitmap->pixels.assign(static_cast<std::size_t>(w) * static_cast<std::size_t>(h), 0);
  return b;
}

Value Construct(Vm& vm, CallArgs& a) {
  if (a.size() < 2) return {};
  const double wd = vm.ToNumber(a[0]), hd = vm.ToNumber(a[1]);
  const int w = ToInt32(wd), h = ToInt32(hd);
  const bool big = vm.version() >= 10;
  const int side = big ? kMaxSideSwf10 : kMaxSide;
  if (w <= 0 || h <= 0 || w > side || h > side) return {};
  if (big && std::int64_t{w} * h > kMaxPixelsSwf10) return {};
  const bool transparent = a.size() > 2 ? vm.ToBool(a[2]) : true;
  const std::uint32_t fill = a.size() > 3 ? ToUint32(vm.ToNumber(a[3])) : 0xFFFFFFFFu;
  Object* proto = a.self ? a.self->proto() : nullptr;
  BitmapDataObject* b = NewBitmapData(vm, proto, w, h, transparent);
  std::fill(b->bitmap->pixels.begin(), b->bitmap->pixels.end(), Store(*b, fill));
  return Value(static_cast<Object*>(b));
}

Value GetWidth(Vm&, CallArgs& a) {
  BitmapDataObject* b = Self(a);
  return Value(b ? b->bitmap->width : -1);
}
Value GetHeight(Vm&, CallArgs& a) {
  BitmapDataObject* b = Self(a);
  return Value(b ? b->bitmap->height : -1);
}
Value GetTransparent(Vm&, CallArgs& a) {
  BitmapDataObject* b = Self(a);
  return b ? Value(b->transparent) : Value(-1);
}
Value GetRectangle(Vm& vm, CallArgs& a) {
  BitmapDataObject* b = Self(a);
  if (!b) return Value(-1);
  return Value(NewRectangle(vm, 0, 0, b->bitmap->width, b->bitmap->height));
}

Value GetPixel(Vm& vm, CallArgs& a) {
  BitmapDataObject* b = Self(a);
  if (!b || a.size() < 2) return Value(-1);
  const int x = ToInt(vm, a[0]), y = ToInt(vm, a[1]);
  if (x < 0 || y < 0 || x >= b->bitmap->width || y >= b->bitmap->height) return Value(0);
  const std::uint32_t p = Read(*b, PixelAt(*b->bitmap, x, y));
  return Value(static_cast<double>(p & 0xFFFFFF));
}

Value GetPixel32(Vm& vm, CallArgs& a) {
  BitmapDataObject* b = Self(a);
  if (!b || a.size() < 2) return Value(-1);
  const int x = ToInt(vm, a[0]), y = ToInt(vm, a[1]);
  if (x < 0 || y < 0 || x >= b->bitmap->width || y >= b->bitmap->height) return Value(0);
  return Value(static_cast<double>(static_cast<std::int32_t>(Read(*b, PixelAt(*b->bitmap, x, y)))));
}

Value SetPixel(Vm& vm, CallArgs& a) {
  BitmapDataObject* b = Self(a);
  if (!b || a.size() < 3) return Value(-1);
  const int x = ToInt(vm, a[0]), y = ToInt(vm, a[1]);
  const std::uint32_t c = ToUint32(vm.ToNumber(a[2]));
  if (x < 0 || y < 0 || x >= b->bitmap->width || y >= b->bitmap->height) return {};
  std::uint32_t& p = PixelAt(*b->bitmap, x, y);
  const std::uint32_t old = Read(*b, p);
  p = Store(*b, (old & 0xFF000000u) | (c & 0xFFFFFF));
  return {};
}

Value SetPixel32(Vm& vm, CallArgs& a) {
  BitmapDataObject* b = Self(a);
  if (!b || a.size() < 3) return Value(-1);
  const int x = ToInt(vm, a[0]), y = ToInt(vm, a[1]);
  const std::uint32_t c = ToUint32(vm.ToNumber(a[2]));
  if (x < 0 || y < 0 || x >= b->bitmap->width || y >= b->bitmap->height) return {};
  PixelAt(*b->bitmap, x, y) = Store(*b, c);
  return {};
}

Value FillRect(Vm& vm, CallArgs& a) {
  BitmapDataObject* b = Self(a);
  if (!b || a.size() < 2) return Value(-1);
  IRect r;
  if (!ReadRect(vm, a[0], r)) return Value(-1);
  const std::uint32_t c = Store(*b, ToUint32(vm.ToNumber(a[1])));
  if (!ClipRect(r, b->bitmap->width, b->bitmap->height)) return Value(0);
  for (int y = r.y; y < r.y + r.h; ++y)
    for (int x = r.x; x < r.x + r.w; ++x) PixelAt(*b->bitmap, x, y) = c;
  return Value(0);
}

Value Dispose(Vm&, CallArgs& a) {
  BitmapDataObject* b = Self(a);
  if (!b) return Value(-1);
  b->bitmap.reset();
  return {};
}

Value Clone(Vm& vm, CallArgs& a) {
  BitmapDataObject* b = Self(a);
  if (!b) return Value(-1);
  BitmapDataObject* c =
      NewBitmapData(vm, b->proto(), b->bitmap->width, b->bitmap->height, b->transparent);
  c->bitmap->pixels = b->bitmap->pixels;
  return Value(static_cast<Object*>(c));
}

bool IsInstance(Vm& vm, const Value& v, const char* package, const char* name) {
  Object* o = v.AsObject();
  if (!o) return false;
  Object* ctor = vm.FlashMember(package, name).AsObject();
  return ctor && vm.InstanceOf(o, ctor);
}

Value ColorTransformMethod(Vm& vm, CallArgs& a) {
  BitmapDataObject* b = Self(a);
  if (!b || a.size() < 2) return Value(-1);
  IRect r;
  if (!ReadRect(vm, a[0], r)) return Value(-2);
  if (!IsInstance(vm, a[1], "geom", "ColorTransform")) return Value(-3);
  Object* t = a[1].AsObject();
  ColorTransform cx;
  const char* mult[4] = {"redMultiplier", "greenMultiplier", "blueMultiplier", "alphaMultiplier"};
  const char* add[4] = {"redOffset", "greenOffset", "blueOffset", "alphaOffset"};
  for (int i = 0; i < 4; ++i) {
    cx.mult[static_cast<std::size_t>(i)] = static_cast<float>(vm.ToNumber(vm.Get(t, mult[i])));
    cx.add[static_cast<std::size_t>(i)] = static_cast<float>(vm.ToNumber(vm.Get(t, add[i])));
  }
  if (!ClipRect(r, b->bitmap->width, b->bitmap->height)) return Value(-1);
  // The player leaves the pixels alone when the only change is an alpha multiplier above 1.
  ColorTransform alphaOnly;
  alphaOnly.mult[3] = cx.mult[3];
  if (cx.mult[3] > 1 && cx.mult == alphaOnly.mult && cx.add == alphaOnly.add) return Value(-1);
  for (int y = r.y; y < r.y + r.h; ++y)
    for (int x = r.x; x < r.x + r.w; ++x) {
      std::uint32_t& p = PixelAt(*b->bitmap, x, y);
      const std::uint32_t s = Read(*b, p);
      const Rgba in{static_cast<std::uint8_t>(s >> 16), static_cast<std::uint8_t>(s >> 8),
                    static_cast<std::uint8_t>(s), static_cast<std::uint8_t>(s >> 24)};
      const Rgba o = cx.Apply(in);
      p = Store(*b, (std::uint32_t{o.a} << 24) | (std::uint32_t{o.r} << 16) |
                        (std::uint32_t{o.g} << 8) | o.b);
    }
  return Value(-1);
}

Value Scroll(Vm& vm, CallArgs& a) {
  BitmapDataObject* b = Self(a);
  if (!b || a.size() < 2) return Value(-1);
  const int dx = ToInt(vm, a[0]), dy = ToInt(vm, a[1]);
  Bitmap& bm = *b->bitmap;
  const std::vector<std::uint32_t> old = bm.pixels;
  for (int y = 0; y < bm.height; ++y)
    for (int x = 0; x < bm.width; ++x) {
      const std::int64_t sx = std::int64_t{x} - dx, sy = std::int64_t{y} - dy;
      if (sx < 0 || sy < 0 || sx >= bm.width || sy >= bm.height) continue;
      PixelAt(bm, x, y) = old[static_cast<std::size_t>(sy) * static_cast<std::size_t>(bm.width) +
                              static_cast<std::size_t>(sx)];
    }
  return Value(0);
}

BitmapDataObject* Source(const Value& v) {
  BitmapDataObject* s = AsBitmapData(v);
  return s;
}

// A stored pixel of a source (opaque when the source is) as the picture `to` stores it.
std::uint32_t CopyInto(const BitmapDataObject& to, std::uint32_t stored) {
  return to.transparent ? stored : (UnmultiplyArgb(stored) | 0xFF000000u);
}

// The first three arguments of the methods that take from a source picture: the source, its
// rectangle and the point that the rectangle goes to. 0, or the status the method returns.
int SourceArgs(Vm& vm, CallArgs& a, BitmapDataObject*& src, IRect& r, int& px, int& py) {
  src = Source(a[0]);
  if (!src) return -2;
  if (!src->Usable()) return -3;
  if (!ReadRect(vm, a[1], r)) return -4;
  ReadPoint(vm, a[2], px, py);
  return 0;
}

Value Compare(Vm& vm, CallArgs& a) {
  BitmapDataObject* b = Self(a);
  if (!b || a.size() < 1) return Value(-1);
  BitmapDataObject* o = Source(a[0]);
  if (!o || !o->Usable()) return Value(-2);
  if (o == b) return Value(0);
  const Bitmap &p = *b->bitmap, &q = *o->bitmap;
  if (p.width != q.width) return Value(-3);
  if (p.height != q.height) return Value(-4);
  BitmapDataObject* d = NewBitmapData(vm, b->proto(), p.width, p.height, true);
  bool differ = false;
  for (std::size_t i = 0; i < p.pixels.size(); ++i) {
    const std::uint32_t x = Read(*b, p.pixels[i]), y = Read(*o, q.pixels[i]);
    std::uint32_t out = 0;
    if ((x & 0xFFFFFF) != (y & 0xFFFFFF)) {
      auto diff = [&](int shift) { return (((x >> shift) & 0xFF) - ((y >> shift) & 0xFF)) & 0xFF; };
      out = 0xFF000000u | (diff(16) << 16) | (diff(8) << 8) | diff(0);
    } else if ((x >> 24) != (y >> 24)) {
      out = ((((x >> 24) - (y >> 24)) & 0xFF) << 24) | 0xFFFFFF;
    } else {
      continue;
    }
    differ = true;
    d->bitmap->pixels[i] = PremultiplyArgb(out);
  }
  if (!differ) return Value(0);
  return Value(static_cast<Object*>(d));
}

Value GetColorBoundsRect(Vm& vm, CallArgs& a) {
  BitmapDataObject* b = Self(a);
  if (!b || a.size() < 2) return Value(-1);
  const std::uint32_t mask = ToUint32(vm.ToNumber(a[0]));
  const std::uint32_t color = ToUint32(vm.ToNumber(a[1]));
  const bool find = a.size() > 2 ? vm.ToBool(a[2]) : true;
  const Bitmap& bm = *b->bitmap;
  int x0 = bm.width, y0 = bm.height, x1 = -1, y1 = -1;
  for (int y = 0; y < bm.height; ++y)
    for (int x = 0; x < bm.width; ++x) {
      // A transparent picture compares its stored (premultiplied) pixels under the mask with the
      // colour under the mask; an opaque one compares the colour channels with the colour as given.
      const std::uint32_t p = bm.pixels[static_cast<std::size_t>(y) * bm.width + x];
      const bool match =
          b->transparent ? (p & mask) == (color & mask) : (((p & mask) ^ color) & 0xFFFFFF) == 0;
      if (match != find) continue;
      x0 = std::min(x0, x);
      y0 = std::min(y0, y);
      x1 = std::max(x1, x);
      y1 = std::max(y1, y);
    }
  if (x1 < 0) return Value(NewRectangle(vm, 0, 0, 0, 0));
  return Value(NewRectangle(vm, x0, y0, x1 - x0 + 1, y1 - y0 + 1));
}

Value Threshold(Vm& vm, CallArgs& a) {
  BitmapDataObject* b = Self(a);
  if (!b || a.size() < 5) return Value(-1);
  BitmapDataObject* src = nullptr;
  IRect r;
  int px = 0, py = 0;
  if (const int status = SourceArgs(vm, a, src, r, px, py)) return Value(status);
  const std::string op = vm.ToString(a[3]);
  const std::uint32_t threshold = ToUint32(vm.ToNumber(a[4]));
  const std::uint32_t color = a.size() > 5 ? ToUint32(vm.ToNumber(a[5])) : 0;
  const std::uint32_t mask = a.size() > 6 ? ToUint32(vm.ToNumber(a[6])) : 0xFFFFFFFFu;
  const bool copy = a.size() > 7 && vm.ToBool(a[7]);
  const std::uint32_t th = threshold & mask;
  auto test = [&](std::uint32_t v) {
    if (op == "==") return v == th;
    if (op == "!=") return v != th;
    if (op == "<=") return v <= th;
    if (op == ">") return v > th;
    if (op == ">=") return v >= th;
    return v < th;
  };
  const Bitmap& s = *src->bitmap;
  Bitmap& d = *b->bitmap;
  // An opaque picture takes the colour's premultiplied value as it is, alpha byte included.
  const std::uint32_t stored = b->transparent ? Store(*b, color) : PremultiplyArgb(color);
  int count = 0;
  ForEachCopied(s, d, r, px, py, [&](std::uint32_t sp, std::uint32_t& dp) {
    // The stored (premultiplied) value is what is compared.
    if (test(sp & mask)) {
      dp = stored;
      ++count;
    } else if (copy) {
      dp = sp;
    }
  });
  return Value(count);
}

Value PaletteMap(Vm& vm, CallArgs& a) {
  BitmapDataObject* b = Self(a);
  if (!b || a.size() < 4) return Value(-1);
  BitmapDataObject* src = nullptr;
  IRect r;
  int px = 0, py = 0;
  if (const int status = SourceArgs(vm, a, src, r, px, py)) return Value(status);
  // Each channel's table: 256 values read from the object given (missing ones are 0), or the
  // identity for that channel when no object is given.
  std::uint32_t table[4][256];
  const int shifts[4] = {16, 8, 0, 24};
  for (int c = 0; c < 4; ++c) {
    Object* arr = a[3 + static_cast<std::size_t>(c)].AsObject();
    for (int i = 0; i < 256; ++i) {
      if (!arr)
        table[c][i] = static_cast<std::uint32_t>(i) << shifts[c];
      else if (arr->cls() == ObjClass::kArray)
        table[c][i] = ToUint32(vm.ToNumber(vm.ArrayGet(arr, static_cast<std::size_t>(i))));
      else
        table[c][i] = ToUint32(vm.ToNumber(vm.Get(arr, std::to_string(i))));
    }
  }
  const Bitmap& s = *src->bitmap;
  Bitmap& d = *b->bitmap;
  ForEachCopied(s, d, r, px, py, [&](std::uint32_t sp, std::uint32_t& dp) {
    const std::uint32_t p = Read(*src, sp);
    std::uint32_t out = 0;
    for (int c = 0; c < 4; ++c) out += table[c][(p >> shifts[c]) & 0xFF];
    dp = Store(*b, out);
  });
  return Value(-1);
}

// Gradient noise on a lattice, from a permutation shuffled by the seed. With a period (stitched
// noise) the lattice repeats every `period` cells on that axis.
class LatticeNoise {
 public:
  explicit LatticeNoise(std::uint32_t seed) {
    for (int i = 0; i < 256; ++i) perm_[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
    std::uint32_t x = seed ^ 0x9E3779B9u;
    for (int i = 255; i > 0; --i) {
      x = x * 1664525u + 1013904223u;
      std::swap(perm_[static_cast<std::size_t>(i)],
                perm_[(x >> 8) % static_cast<std::uint32_t>(i + 1)]);
    }
  }
  // In -1..1.
  double At(double x, double y, int periodX, int periodY) const {
    const double fx = std::floor(x), fy = std::floor(y);
    const double dx = x - fx, dy = y - fy;
    const long long ix = static_cast<long long>(fx), iy = static_cast<long long>(fy);
    auto corner = [&](long long cx, long long cy, double ox, double oy) {
      if (periodX > 0) cx = ((cx % periodX) + periodX) % periodX;
      if (periodY > 0) cy = ((cy % periodY) + periodY) % periodY;
      const std::uint8_t h =
          perm_[(perm_[static_cast<std::size_t>(cx & 255)] + static_cast<std::size_t>(cy & 255)) &
                255];
      static constexpr double kGx[8] = {1, -1, 1, -1, 1, -1, 0, 0};
      static constexpr double kGy[8] = {1, 1, -1, -1, 0, 0, 1, -1};
      return kGx[h & 7] * ox + kGy[h & 7] * oy;
    };
    auto fade = [](double t) { return t * t * t * (t * (t * 6 - 15) + 10); };
    const double u = fade(dx), v = fade(dy);
    const double n00 = corner(ix, iy, dx, dy), n10 = corner(ix + 1, iy, dx - 1, dy);
    const double n01 = corner(ix, iy + 1, dx, dy - 1), n11 = corner(ix + 1, iy + 1, dx - 1, dy - 1);
    const double a = n00 + u * (n10 - n00), b = n01 + u * (n11 - n01);
    return std::clamp((a + v * (b - a)) * 1.4142135623730951, -1.0, 1.0);
  }

 private:
  std::array<std::uint8_t, 256> perm_{};
};

// perlinNoise(baseX, baseY, numOctaves, randomSeed, stitch, fractalNoise, channelOptions,
// grayScale, offsets): octaves of lattice noise, each of twice the frequency and half the weight
// of the one before; fractal noise maps -1..1 to 0..255, turbulence takes the magnitude.
Value PerlinNoise(Vm& vm, CallArgs& a) {
  BitmapDataObject* b = Self(a);
  if (!b || a.size() < 6) return Value(-1);
  auto base = [&](const Value& v) {
    const double d = std::fabs(vm.ToNumber(v));
    return std::isfinite(d) && d >= 1e-3 ? d : 1.0;
  };
  const double baseX = base(a[0]), baseY = base(a[1]);
  // Octaves beyond this weigh less than a step of the 8-bit result.
  const int octaves = std::clamp(ToInt(vm, a[2]), 0, 9);
  const std::uint32_t seed = ToUint32(vm.ToNumber(a[3]));
  const bool stitch = vm.ToBool(a[4]), fractal = vm.ToBool(a[5]);
  const int channels = a.size() > 6 ? ToInt(vm, a[6]) & 15 : 7;
  const bool gray = a.size() > 7 && vm.ToBool(a[7]);
  std::vector<std::pair<double, double>> offsets(static_cast<std::size_t>(octaves));
  if (Object* arr = a.size() > 8 ? a[8].AsObject() : nullptr)
    for (std::size_t i = 0; i < offsets.size(); ++i)
      if (Object* p = vm.Get(arr, std::to_string(i)).AsObject()) {
        const double x = vm.ToNumber(vm.Get(p, "x")), y = vm.ToNumber(vm.Get(p, "y"));
        offsets[i] = {std::isfinite(x) ? x : 0, std::isfinite(y) ? y : 0};
      }
  Bitmap& bm = *b->bitmap;
  const LatticeNoise noise[4] = {LatticeNoise(seed), LatticeNoise(seed + 1), LatticeNoise(seed + 2),
                                 LatticeNoise(seed + 3)};
  auto sample = [&](int c, int x, int y) {
    if (octaves == 0) return fractal ? 128u : 0u;
    double sum = 0, weight = 0, amp = 1, freq = 1;
    for (std::size_t o = 0; o < offsets.size(); ++o) {
      const int periodX =
          stitch ? std::max(1, static_cast<int>(std::lround(bm.width / baseX * freq))) : 0;
      const int periodY =
          stitch ? std::max(1, static_cast<int>(std::lround(bm.height / baseY * freq))) : 0;
      const double n = noise[c].At((x + offsets[o].first) / baseX * freq,
                                   (y + offsets[o].second) / baseY * freq, periodX, periodY);
      sum += (fractal ? n : std::fabs(n)) * amp;
      weight += amp;
      amp *= 0.5;
      freq *= 2;
    }
    const double v = fractal ? (sum / weight + 1) * 127.5 : sum / weight * 255;
    return static_cast<std::uint32_t>(std::clamp(v, 0.0, 255.0));
  };
  for (int y = 0; y < bm.height; ++y)
    for (int x = 0; x < bm.width; ++x) {
      std::uint32_t argb = 0xFF000000u;
      if (gray) {
        const std::uint32_t v = sample(0, x, y);
        argb |= (v << 16) | (v << 8) | v;
      } else {
        for (int c = 0; c < 3; ++c)
          if (channels & (1 << c)) argb |= sample(c, x, y) << (16 - 8 * c);
      }
      if ((channels & 8) && b->transparent) argb = (argb & 0xFFFFFF) | (sample(3, x, y) << 24);
      PixelAt(bm, x, y) = Store(*b, argb);
    }
  return {};
}

// merge(source, sourceRect, destPoint, redMult, greenMult, blueMult, alphaMult): each straight
// channel becomes (source * mult + dest * (256 - mult)) / 256.
Value Merge(Vm& vm, CallArgs& a) {
  BitmapDataObject* b = Self(a);
  if (!b || a.size() < 7) return Value(-1);
  BitmapDataObject* src = Source(a[0]);
  if (!src || !src->Usable()) return Value(-2);
  IRect r;
  if (!ReadRect(vm, a[1], r)) return Value(-3);
  int px = 0, py = 0;
  ReadPoint(vm, a[2], px, py);
  std::uint32_t mult[4];  // red, green, blue, alpha
  for (std::size_t c = 0; c < 4; ++c)
    mult[c] = static_cast<std::uint32_t>(std::clamp(ToInt(vm, a[3 + c]), 0, 256));
  const int shifts[4] = {16, 8, 0, 24};
  ForEachCopied(*src->bitmap, *b->bitmap, r, px, py, [&](std::uint32_t sp, std::uint32_t& dp) {
    const std::uint32_t s = src->transparent ? UnmultiplyArgb(sp) : (sp | 0xFF000000u);
    const std::uint32_t d = Read(*b, dp);
    std::uint32_t out = 0;
    for (std::size_t c = 0; c < 4; ++c) {
      const std::uint32_t sc = (s >> shifts[c]) & 0xFF, dc = (d >> shifts[c]) & 0xFF;
      out |= ((sc * mult[c] + dc * (256 - mult[c])) / 256) << shifts[c];
    }
    dp = Store(*b, out);
  });
  return {};
}

// copyChannel(source, sourceRect, destPoint, sourceChannel, destChannel): one straight channel
// (1 red, 2 green, 4 blue, 8 alpha) of the source written into one channel of this picture.
Value CopyChannel(Vm& vm, CallArgs& a) {
  BitmapDataObject* b = Self(a);
  if (!b || a.size() < 5) return Value(-1);
  BitmapDataObject* src = Source(a[0]);
  if (!src || !src->Usable()) return Value(-2);
  IRect r;
  if (!ReadRect(vm, a[1], r)) return Value(-3);
  int px = 0, py = 0;
  ReadPoint(vm, a[2], px, py);
  auto shiftOf = [](int channel) {
    return channel == 1 ? 16 : channel == 2 ? 8 : channel == 4 ? 0 : channel == 8 ? 24 : -1;
  };
  const int from = shiftOf(ToInt(vm, a[3])), to = shiftOf(ToInt(vm, a[4]));
  if (from < 0 || to < 0) return {};
  // An opaque picture keeps its alpha.
  if (to == 24 && !b->transparent) return {};
  ForEachCopied(*src->bitmap, *b->bitmap, r, px, py, [&](std::uint32_t sp, std::uint32_t& dp) {
    const std::uint32_t s = src->transparent ? UnmultiplyArgb(sp) : (sp | 0xFF000000u);
    const std::uint32_t v = (s >> from) & 0xFF;
    const std::uint32_t d = Read(*b, dp);
    dp = Store(*b, (d & ~(0xFFu << to)) | (v << to));
  });
  return {};
}

Value CopyPixels(Vm& vm, CallArgs& a) {
  BitmapDataObject* b = Self(a);
  if (!b || a.size() < 3) return Value(-1);
  BitmapDataObject* src = nullptr;
  IRect r;
  int px = 0, py = 0;
  if (const int status = SourceArgs(vm, a, src, r, px, py)) return Value(status);
  const bool mergeAlpha = a.size() > 5 ? vm.ToBool(a[5]) : false;
  const Bitmap& s = *src->bitmap;
  Bitmap& d = *b->bitmap;
  ForEachCopied(s, d, r, px, py, [&](std::uint32_t sp, std::uint32_t& dp) {
    if (!src->transparent) sp |= 0xFF000000u;
    if (mergeAlpha && b->transparent) {
      const std::uint32_t inv = 255 - (sp >> 24);
      auto ch = [&](int shift) {
        return ((sp >> shift) & 0xFF) + (((dp >> shift) & 0xFF) * inv + 127) / 255;
      };
      dp = (ch(24) << 24) | (ch(16) << 16) | (ch(8) << 8) | ch(0);
    } else {
      dp = CopyInto(*b, sp);
    }
  });
  return {};
}

// A mixing of m-bit numbers that takes each to a different one: xor-shifts and multiplications
// by odd numbers, each of which can be undone.
std::uint32_t MixBits(std::uint32_t v, int m) {
  if (m < 2) return v;
  const std::uint32_t mask = m >= 32 ? ~0u : (1u << m) - 1;
  const int half = (m + 1) / 2;
  v ^= v >> half;
  v = (v * 0x2C1B3C6Du) & mask;
  v ^= v >> half;
  v = (v * 0x297A2D39u) & mask;
  v ^= v >> half;
  return v;
}

// pixelDissolve(source, sourceRect, destPoint, randomSeed, numPixels, fillColor): at numPixels
// places of the rectangle (a thirtieth of it when not given), in an order the seed sets, copies
// the source's pixel to the same place after destPoint, or, the source being this picture itself,
// sets that place to fillColor. Returns the seed that goes on where this call stopped: calls that
// each pass on the seed the last returned visit every place once before any place again.
// The order: a counter over the powers of two that hold the places, stepped by a multiply-add of
// full period, mixed so that neighbouring places do not come in turn; counts beyond the rectangle
// are skipped.
Value PixelDissolve(Vm& vm, CallArgs& a) {
  BitmapDataObject* b = Self(a);
  if (!b || a.size() < 3) return Value(-1);
  BitmapDataObject* src = nullptr;
  IRect r;
  int px = 0, py = 0;
  if (const int status = SourceArgs(vm, a, src, r, px, py)) return Value(status);
  std::uint32_t state = a.size() > 3 ? ToUint32(vm.ToNumber(a[3])) : 0;
  const IRect asked = r;
  if (!ClipRect(r, src->bitmap->width, src->bitmap->height))
    return Value(static_cast<double>(state));
  px += r.x - std::min(asked.x, asked.x + asked.w);
  py += r.y - std::min(asked.y, asked.y + asked.h);
  const std::uint64_t n = static_cast<std::uint64_t>(r.w) * static_cast<std::uint64_t>(r.h);
  int m = 0;
  while ((std::uint64_t{1} << m) < n) ++m;
  const std::uint32_t mask = static_cast<std::uint32_t>((std::uint64_t{1} << m) - 1);
  double asks = a.size() > 4 ? vm.ToNumber(a[4]) : 0;
  if (!(asks > 0)) asks = static_cast<double>(n) / 30;
  const std::uint64_t count =
      std::min(n, static_cast<std::uint64_t>(std::clamp(asks, 0.0, 4294967295.0)));
  const bool fill = src == b;
  const std::uint32_t colour = Store(*b, a.size() > 5 ? ToUint32(vm.ToNumber(a[5])) : 0);
  const Bitmap& s = *src->bitmap;
  Bitmap& d = *b->bitmap;
  state &= mask;
  for (std::uint64_t done = 0, steps = 0; done < count && steps <= mask; ++steps) {
    state = (state * 5 + 1) & mask;
    const std::uint32_t at = MixBits(state, m);
    if (at >= n) continue;
    ++done;
    const int x = static_cast<int>(at % static_cast<std::uint32_t>(r.w));
    const int y = static_cast<int>(at / static_cast<std::uint32_t>(r.w));
    const std::int64_t dx = std::int64_t{px} + x, dy = std::int64_t{py} + y;
    if (dx < 0 || dy < 0 || dx >= d.width || dy >= d.height) continue;
    std::uint32_t& dp = PixelAt(d, static_cast<int>(dx), static_cast<int>(dy));
    if (fill) {
      dp = colour;
      continue;
    }
    std::uint32_t sp =
        s.pixels[static_cast<std::size_t>(r.y + y) * static_cast<std::size_t>(s.width) +
                 static_cast<std::size_t>(r.x + x)];
    if (!src->transparent) sp |= 0xFF000000u;
    dp = CopyInto(*b, sp);
  }
  return Value(static_cast<double>(state));
}

// Own fields only (hitTest does not look at prototypes): false when one is missing.
bool OwnFields(Vm& vm, const Value& v, std::initializer_list<const char*> names, int* out) {
  Object* o = v.AsObject();
  if (!o) return false;
  for (const char* n : names)
    if (!o->FindOwn(n)) return false;
  for (const char* n : names) *out++ = ToInt(vm, vm.Get(o, n));
  return true;
}

// A pixel counts for hitTest when its alpha reaches the threshold; against a point or another
// picture a pixel of alpha 0 never counts, inside a rectangle it does.
bool Solid(const Bitmap& b, std::int64_t x, std::int64_t y, std::uint32_t threshold,
           bool clearCounts = false) {
  if (x < 0 || y < 0 || x >= b.width || y >= b.height) return false;
  const std::uint32_t a = b.pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(b.width) +
                                   static_cast<std::size_t>(x)] >>
                          24;
  return (a != 0 || clearCounts) && a >= threshold;
}

Value HitTest(Vm& vm, CallArgs& a) {
  BitmapDataObject* b = Self(a);
  if (!b) return Value(-1);
  int first[2];
  if (!OwnFields(vm, a[0], {"x", "y"}, first)) return Value(-2);
  const std::uint32_t threshold = ToUint32(vm.ToNumber(a[1])) & 0xFF;
  const Bitmap& bm = *b->bitmap;
  if (BitmapDataObject* other = AsBitmapData(a[2])) {
    if (!other->Usable()) return Value(-3);
    int second[2];
    if (!OwnFields(vm, a[3], {"x", "y"}, second)) return Value(-4);
    const std::uint32_t threshold2 =
        a.size() > 4 ? ToUint32(vm.ToNumber(a[4])) & 0xFF : std::uint32_t{1};
    const Bitmap& ob = *other->bitmap;
    // Over the pixels of this picture, placed at `first`, the other one placed at `second`.
    const std::int64_t ox = std::int64_t{second[0]} - first[0],
                       oy = std::int64_t{second[1]} - first[1];
    for (int y = 0; y < bm.height; ++y)
      for (int x = 0; x < bm.width; ++x)
        if (Solid(bm, x, y, threshold) && Solid(ob, x - ox, y - oy, threshold2)) return Value(true);
    return Value(false);
  }
  int r[4];
  if (OwnFields(vm, a[2], {"x", "y", "width", "height"}, r)) {
    IRect rect{r[0] - first[0], r[1] - first[1], r[2], r[3]};
    if (!ClipRect(rect, bm.width, bm.height)) return Value(false);
    for (int y = rect.y; y < rect.y + rect.h; ++y)
      for (int x = rect.x; x < rect.x + rect.w; ++x)
        if (Solid(bm, x, y, threshold, true)) return Value(true);
    return Value(false);
  }
  int p[2];
  if (OwnFields(vm, a[2], {"x", "y"}, p))
    return Value(
        Solid(bm, std::int64_t{p[0]} - first[0], std::int64_t{p[1]} - first[1], threshold));
  return Value(-3);
}

Value FloodFill(Vm& vm, CallArgs& a) {
  BitmapDataObject* b = Self(a);
  if (!b || a.size() < 3) return Value(-1);
  const int x = ToInt(vm, a[0]), y = ToInt(vm, a[1]);
  Bitmap& bm = *b->bitmap;
  if (x < 0 || y < 0 || x >= bm.width || y >= bm.height) return {};
  const std::uint32_t c = Store(*b, ToUint32(vm.ToNumber(a[2])));
  const std::uint32_t from = PixelAt(bm, x, y);
  if (from == c) return {};
  std::vector<std::pair<int, int>> todo{{x, y}};
  while (!todo.empty()) {
    auto [cx, cy] = todo.back();
    todo.pop_back();
    if (cx < 0 || cy < 0 || cx >= bm.width || cy >= bm.height) continue;
    std::uint32_t& p = PixelAt(bm, cx, cy);
    if (p != from) continue;
    p = c;
    todo.push_back({cx + 1, cy});
    todo.push_back({cx - 1, cy});
    todo.push_back({cx, cy + 1});
    todo.push_back({cx, cy - 1});
  }
  return {};
}

Value Noise(Vm& vm, CallArgs& a) {
  BitmapDataObject* b = Self(a);
  if (!b || a.size() < 1) return Value(-1);
  std::uint32_t seed = ToUint32(vm.ToNumber(a[0]));
  const int low = a.size() > 1 ? std::clamp(ToInt(vm, a[1]), 0, 255) : 0;
  const int high = a.size() > 2 ? std::clamp(ToInt(vm, a[2]), 0, 255) : 255;
  const int channels = a.size() > 3 ? ToInt(vm, a[3]) : 7;
  const bool gray = a.size() > 4 && vm.ToBool(a[4]);
  auto next = [&] {
    seed = seed * 1103515245u + 12345u;
    return static_cast<int>((seed >> 16) & 0x7FFF);
  };
  const int span = std::max(high - low, 0) + 1;
  for (std::uint32_t& p : b->bitmap->pixels) {
    std::uint32_t argb = 0xFF000000u;
    if (gray) {
      const std::uint32_t v = static_cast<std::uint32_t>(low + next() % span);
      argb |= (v << 16) | (v << 8) | v;
    } else {
      for (int c = 0; c < 3; ++c)
        if (channels & (1 << c))
          argb |= static_cast<std::uint32_t>(low + next() % span) << (16 - 8 * c);
    }
    if ((channels & 8) && b->transparent)
      argb = (argb & 0xFFFFFF) | (static_cast<std::uint32_t>(low + next() % span) << 24);
    p = Store(*b, argb);
  }
  return {};
}

// flash.geom.Rectangle: x, y, width, height as plain fields.
Value RectangleConstruct(Vm& vm, CallArgs& a) {
  Object* self = a.self ? a.self : vm.NewObject();
  const char* names[4] = {"x", "y", "width", "height"};
  for (std::size_t i = 0; i < 4; ++i) self->SetOwn(names[i], a.size() == 0 ? Value(0) : a[i]);
  return Value(self);
}

Value RectangleToString(Vm& vm, CallArgs& a) {
  if (!a.self) return Value("(x=undefined, y=undefined, w=undefined, h=undefined)");
  return Value("(x=" + vm.ToString(vm.Get(a.self, "x")) + ", y=" +
               vm.ToString(vm.Get(a.self, "y")) + ", w=" + vm.ToString(vm.Get(a.self, "width")) +
               ", h=" + vm.ToString(vm.Get(a.self, "height")) + ")");
}

Value RectangleClone(Vm& vm, CallArgs& a) {
  if (!a.self) return {};
  return vm.Construct(vm.FlashMember("geom", "Rectangle"),
                      {vm.Get(a.self, "x"), vm.Get(a.self, "y"), vm.Get(a.self, "width"),
                       vm.Get(a.self, "height")});
}

// The movie whose code calls now (a movie loaded into a clip runs code of its own), else the main
// movie.
const Movie* CallingMovie(Vm& vm) {
  if (!vm.activations().empty()) {
    Object* base = vm.activations().back()->baseClip;
    if (base && base->cls() == ObjClass::kClip)
      if (const Movie* movie = static_cast<ClipObject*>(base)->OwnMovie()) return movie;
  }
  return vm.movie;
}

// BitmapData.loadBitmap(linkage name): a copy of an exported picture of the calling movie.
Value LoadBitmap(Vm& vm, CallArgs& a) {
  const Movie* movie = CallingMovie(vm);
  if (!movie || a.size() < 1) return {};
  const auto id = movie->FindExport(vm.ToString(a[0]));
  if (!id) return {};
  const auto it = movie->characters.find(*id);
  if (it == movie->characters.end()) return {};
  const auto* pic = std::get_if<std::shared_ptr<const Bitmap>>(&it->second);
  if (!pic || !*pic || (*pic)->width <= 0 || (*pic)->height <= 0) return {};
  Object* proto = a.self ? vm.Get(a.self, "prototype").AsObject() : nullptr;
  BitmapDataObject* b = NewBitmapData(vm, proto, (*pic)->width, (*pic)->height, !(*pic)->opaque);
  b->bitmap->pixels = (*pic)->pixels;
  return Value(static_cast<Object*>(b));
}

// draw(source, matrix, colorTransform, blendMode, clipRect, smoothing) for a source that is a
// BitmapData: each covered pixel takes the source pixel under its centre, composited over.
Value Draw(Vm& vm, CallArgs& a) {
  BitmapDataObject* b = Self(a);
  if (!b || a.size() < 1) return Value(-1);
  BitmapDataObject* src = AsBitmapData(a[0]);
  if (!src || !src->Usable()) {
    vm.Unsupported("BitmapData.draw of a clip");
    return {};
  }
  double m[6] = {1, 0, 0, 1, 0, 0};
  if (Object* mo = a[1].AsObject()) {
    const char* names[6] = {"a", "b", "c", "d", "tx", "ty"};
    for (int i = 0; i < 6; ++i) m[i] = vm.ToNumber(vm.Get(mo, names[i]));
  }
  const double det = m[0] * m[3] - m[1] * m[2];
  if (!std::isfinite(det) || det == 0) return {};
  // Destination pixel centre -> source pixel.
  const double ia = m[3] / det, ib = -m[1] / det, ic = -m[2] / det, id = m[0] / det;
  ColorTransform cx;
  bool transform = false;
  if (Object* t = a[2].AsObject()) {
    const char* mult[4] = {"redMultiplier", "greenMultiplier", "blueMultiplier", "alphaMultiplier"};
    const char* add[4] = {"redOffset", "greenOffset", "blueOffset", "alphaOffset"};
    for (std::size_t i = 0; i < 4; ++i) {
      cx.mult[i] = static_cast<float>(vm.ToNumber(vm.Get(t, mult[i])));
      cx.add[i] = static_cast<float>(vm.ToNumber(vm.Get(t, add[i])));
    }
    transform = !cx.Identity();
  }
  Bitmap& d = *b->bitmap;
  IRect clip{0, 0, d.width, d.height};
  if (a[4].IsObject() && !ReadRect(vm, a[4], clip)) return {};
  if (!ClipRect(clip, d.width, d.height)) return {};
  const Bitmap& s = *src->bitmap;
  const std::vector<std::uint32_t> from = s.pixels;
  for (int y = clip.y; y < clip.y + clip.h; ++y)
    for (int x = clip.x; x < clip.x + clip.w; ++x) {
      const double px = x + 0.5 - m[4], py = y + 0.5 - m[5];
      const double sx = std::floor(ia * px + ic * py), sy = std::floor(ib * px + id * py);
      if (!(sx >= 0 && sy >= 0 && sx < s.width && sy < s.height)) continue;
      std::uint32_t p = from[static_cast<std::size_t>(sy) * static_cast<std::size_t>(s.width) +
                             static_cast<std::size_t>(sx)];
      if (!src->transparent) p |= 0xFF000000u;
      if (transform) {
        const std::uint32_t u = UnmultiplyArgb(p);
        const Rgba o =
            cx.Apply({static_cast<std::uint8_t>(u >> 16), static_cast<std::uint8_t>(u >> 8),
                      static_cast<std::uint8_t>(u), static_cast<std::uint8_t>(u >> 24)});
        p = PremultiplyArgb((std::uint32_t{o.a} << 24) | (std::uint32_t{o.r} << 16) |
                            (std::uint32_t{o.g} << 8) | o.b);
      }
      std::uint32_t& dp = PixelAt(d, x, y);
      const std::uint32_t inv = 255 - (p >> 24);
      const std::uint32_t under = b->transparent ? dp : PremultiplyArgb(dp | 0xFF000000u);
      auto ch = [&](int shift) {
        return ((p >> shift) & 0xFF) + (((under >> shift) & 0xFF) * inv + 127) / 255;
      };
      const std::uint32_t out = (ch(24) << 24) | (ch(16) << 16) | (ch(8) << 8) | ch(0);
      dp = b->transparent ? out : (out | 0xFF000000u);
    }
  return {};
}

// generateFilterRect(sourceRect, filter): what applyFilter of the rectangle can change: the
// rectangle grown by as far as the filter reaches (its blur, its offset).
Value GenerateFilterRect(Vm& vm, CallArgs& a) {
  BitmapDataObject* b = Self(a);
  if (!b || !b->Usable() || a.size() < 2) return {};
  IRect r;
  Filter filter;
  if (!ReadRect(vm, a[0], r) || !FilterFromScript(a[1], filter)) return {};
  const FilterMargins m = MarginsOf({filter}, 1.0);
  const double x = std::min(r.x, r.x + r.w), y = std::min(r.y, r.y + r.h);
  return Value(NewRectangle(vm, x - m.left, y - m.top, std::abs(r.w) + m.left + m.right,
                            std::abs(r.h) + m.top + m.bottom));
}

// applyFilter(source, sourceRect, destPoint, filter): the source rectangle through the filter,
// written at the point. The colour matrix works on straight colours; the other filters on the
// premultiplied pixels, as the renderer runs them on a layer.
Value ApplyFilter(Vm& vm, CallArgs& a) {
  BitmapDataObject* b = Self(a);
  if (!b || a.size() < 4) return Value(-1);
  BitmapDataObject* src = AsBitmapData(a[0]);
  if (!src || !src->Usable()) return Value(-1);
  IRect r;
  if (!ReadRect(vm, a[1], r)) return Value(-1);
  int px = 0, py = 0;
  ReadPoint(vm, a[2], px, py);
  Filter filter;
  if (!FilterFromScript(a[3], filter)) {
    if (a[3].IsObject()) vm.Unsupported("BitmapData.applyFilter of this filter");
    return Value(-1);
  }
  const Bitmap& s = *src->bitmap;
  Bitmap& d = *b->bitmap;
  if (filter.kind == FilterKind::kColorMatrix) {
    const auto& m = filter.matrix;
    ForEachCopied(s, d, r, px, py, [&](std::uint32_t sp, std::uint32_t& dp) {
      const std::uint32_t p = Read(*src, sp);
      const double in[4] = {static_cast<double>((p >> 16) & 0xFF),
                            static_cast<double>((p >> 8) & 0xFF), static_cast<double>(p & 0xFF),
                            static_cast<double>(p >> 24)};
      std::uint32_t out[4];
      for (std::size_t c = 0; c < 4; ++c) {
        const float* row = m.data() + 5 * c;
        const double v = row[0] * in[0] + row[1] * in[1] + row[2] * in[2] + row[3] * in[3] + row[4];
        out[c] = static_cast<std::uint32_t>(std::isnan(v) ? 0.0 : std::clamp(v, 0.0, 255.0));
      }
      if (!src->transparent) out[3] = 255;
      dp = Store(*b, (out[3] << 24) | (out[0] << 16) | (out[1] << 8) | out[2]);
    });
    return Value(0);
  }
  // The part of the rectangle inside the source, and where it lands.
  IRect in = r;
  if (!ClipRect(in, s.width, s.height)) return Value(0);
  px += in.x - std::min(r.x, r.x + r.w);
  py += in.y - std::min(r.y, r.y + r.h);
  PixelPlane plane;
  plane.width = in.w;
  plane.height = in.h;
  plane.px.resize(static_cast<std::size_t>(in.w) * static_cast<std::size_t>(in.h));
  for (int y = 0; y < in.h; ++y)
    for (int x = 0; x < in.w; ++x) {
      std::uint32_t p =
          s.pixels[static_cast<std::size_t>(in.y + y) * static_cast<std::size_t>(s.width) +
                   static_cast<std::size_t>(in.x + x)];
      if (!src->transparent) p |= 0xFF000000u;
      plane.At(x, y) = p;
    }
  dbx::swf::ApplyFilter(filter, 1.0, plane);
  for (int y = 0; y < in.h; ++y)
    for (int x = 0; x < in.w; ++x) {
      const std::int64_t dx = std::int64_t{px} + x, dy = std::int64_t{py} + y;
      if (dx < 0 || dy < 0 || dx >= d.width || dy >= d.height) continue;
      const std::uint32_t p = plane.At(x, y);
      PixelAt(d, static_cast<int>(dx), static_cast<int>(dy)) =
          b->transparent ? p : (UnmultiplyArgb(p) | 0xFF000000u);
    }
  return Value(0);
}

}  // namespace

BitmapDataObject* AsBitmapData(const Value& v) {
  Object* o = v.AsObject();
  return o ? dynamic_cast<BitmapDataObject*>(o) : nullptr;
}

std::uint32_t PremultiplyArgb(std::uint32_t argb) {
  const std::uint32_t a = argb >> 24;
  if (a == 255) return argb;
  auto ch = [&](int shift) { return ((((argb >> shift) & 0xFF) * a + 127) / 255) << shift; };
  return (a << 24) | ch(16) | ch(8) | ch(0);
}

std::uint32_t UnmultiplyArgb(std::uint32_t p) {
  const std::uint32_t a = p >> 24;
  if (a == 255) return p;
  if (a == 0) return 0;
  auto ch = [&](int shift) {
    return std::min<std::uint32_t>(255, (((p >> shift) & 0xFF) * 255 + (a - 1) / 2) / a) << shift;
  };
  return (a << 24) | ch(16) | ch(8) | ch(0);
}

void InstallBitmapData(Vm& vm) {
  Heap& h = vm.heap();
  Object* display = vm.FlashPackage("display");
  Object* proto = h.Make<Object>(vm.objectProto);
  Object* ctor = MakeClass(vm, display, "BitmapData", Construct, Construct, proto);
  static_cast<Function*>(ctor)->constructMayFail = true;
  vm.Method(ctor, "loadBitmap", LoadBitmap);
  const std::pair<const char*, NativeFn> getters[] = {{"width", GetWidth},
                                                      {"height", GetHeight},
                                                      {"transparent", GetTransparent},
                                                      {"rectangle", GetRectangle}};
  for (const auto& [name, fn] : getters) {
    Property& p = proto->props().Add(name);
    p.getter = vm.NewNative(fn);
  }
  const std::pair<const char*, NativeFn> methods[] = {
      {"getPixel", GetPixel},
      {"getPixel32", GetPixel32},
      {"setPixel", SetPixel},
      {"setPixel32", SetPixel32},
      {"fillRect", FillRect},
      {"dispose", Dispose},
      {"clone", Clone},
      {"colorTransform", ColorTransformMethod},
      {"scroll", Scroll},
      {"compare", Compare},
      {"getColorBoundsRect", GetColorBoundsRect},
      {"threshold", Threshold},
      {"paletteMap", PaletteMap},
      {"copyPixels", CopyPixels},
      {"pixelDissolve", PixelDissolve},
      {"merge", Merge},
      {"perlinNoise", PerlinNoise},
      {"copyChannel", CopyChannel},
      {"floodFill", FloodFill},
      {"noise", Noise},
      {"hitTest", HitTest},
      {"draw", Draw},
      {"applyFilter", ApplyFilter},
      {"generateFilterRect", GenerateFilterRect},
  };
  for (const auto& [name, fn] : methods) vm.Method(proto, name, fn);

  Object* geom = vm.FlashPackage("geom");
  if (vm.Get(geom, "Rectangle").IsUndefined()) {
    Object* rp = h.Make<Object>(vm.objectProto);
    MakeClass(vm, geom, "Rectangle", RectangleConstruct, RectangleConstruct, rp);
    vm.Method(rp, "toString", RectangleToString);
    vm.Method(rp, "clone", RectangleClone);
  }
  if (vm.Get(geom, "ColorTransform").IsUndefined()) InstallColorTransform(vm, geom);
}

}  // namespace dbx::swf::avm1
