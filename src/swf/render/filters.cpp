#include "swf/render/filters.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstring>
#include <numeric>

#include "core/side_worker.h"
#include "swf/render/blur_kernels.h"
#include "swf/render/over_kernels.h"

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define DBX_BLUR_SSE2 1
#endif

namespace dbx::swf {

namespace {

inline int Div255(int v) {
  return (v + 128 + ((v + 128) >> 8)) >> 8;
}

inline std::uint32_t Pack(int a, int r, int g, int b) {
  return (static_cast<std::uint32_t>(a) << 24) | (static_cast<std::uint32_t>(r) << 16) |
         (static_cast<std::uint32_t>(g) << 8) | static_cast<std::uint32_t>(b);
}

inline int A(std::uint32_t p) {
  return static_cast<int>(p >> 24);
}
inline int Ch(std::uint32_t p, int shift) {
  return static_cast<int>((p >> shift) & 0xFF);
}

std::uint32_t PremulColor(Rgba c, int alpha) {
  // `alpha` 0..255 scales the colour's own alpha.
  const int a = Div255(c.a * alpha);
  return Pack(a, Div255(c.r * a), Div255(c.g * a), Div255(c.b * a));
}

// src over dst, both premultiplied.
inline std::uint32_t Over(std::uint32_t src, std::uint32_t dst) {
  const int inv = 255 - A(src);
  if (inv == 0) return src;
  if (inv == 255) return dst;
  return Pack(A(src) + Div255(A(dst) * inv), Ch(src, 16) + Div255(Ch(dst, 16) * inv),
              Ch(src, 8) + Div255(Ch(dst, 8) * inv), Ch(src, 0) + Div255(Ch(dst, 0) * inv));
}

inline std::uint32_t Scale(std::uint32_t p, int k) {
  if (k >= 255) return p;
  if (k <= 0) return 0;
  return Pack(Div255(A(p) * k), Div255(Ch(p, 16) * k), Div255(Ch(p, 8) * k), Div255(Ch(p, 0) * k));
}

// `edge` (0..255, in 256ths) weighs the two taps just outside the box of 2 * radius + 1: a box
// of a fractional width.
void BlurAcross(std::uint8_t* data, int width, int height, int channels, int radius, int edge,
                std::vector<std::uint8_t>& tmp) {
  if ((radius <= 0 && edge <= 0) || width <= 0) return;
  const std::uint64_t total = 256 * (2 * static_cast<std::uint64_t>(radius) + 1) + 2 * edge;
  // The mean is rounded down; the factor is rounded up so that whole results stay whole, and has
  // bits enough to round every possible sum exactly (255 * total^2 < 2^44 for boxes up to 1023).
  const std::uint64_t mul = ((std::uint64_t{1} << 44) + total - 1) / total;
  const std::size_t rowBytes = static_cast<std::size_t>(width) * channels;
  tmp.resize(rowBytes);
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = data + static_cast<std::size_t>(y) * rowBytes;
    std::memcpy(tmp.data(), row, rowBytes);
    for (int c = 0; c < channels; ++c) {
      auto at = [&](int x) -> std::uint32_t {
        return x >= 0 && x < width ? tmp[static_cast<std::size_t>(x) * channels + c] : 0;
      };
      std::uint32_t sum = 0;
      for (int i = 0; i <= radius && i < width; ++i)
        sum += tmp[static_cast<std::size_t>(i) * channels + c];
      for (int x = 0; x < width; ++x) {
        std::uint64_t v = std::uint64_t{sum} * 256;
        if (edge > 0)
          v += static_cast<std::uint64_t>(edge) * (at(x - radius - 1) + at(x + radius + 1));
        row[static_cast<std::size_t>(x) * channels + c] =
            static_cast<std::uint8_t>((v * mul) >> 44);
        const int in = x + radius + 1, out = x - radius;
        if (in < width) sum += tmp[static_cast<std::size_t>(in) * channels + c];
        if (out >= 0) sum -= tmp[static_cast<std::size_t>(out) * channels + c];
      }
    }
  }
}

void BlurDown(std::uint8_t* data, int width, int height, int channels, int radius, int edge,
              std::vector<std::uint8_t>& tmp, std::vector<std::uint32_t>& sums) {
  if ((radius <= 0 && edge <= 0) || height <= 0) return;
  const std::uint64_t total = 256 * (2 * static_cast<std::uint64_t>(radius) + 1) + 2 * edge;
  // The mean is rounded down; the factor is rounded up so that whole results stay whole, and has
  // bits enough to round every possible sum exactly (255 * total^2 < 2^44 for boxes up to 1023).
  const std::uint64_t mul = ((std::uint64_t{1} << 44) + total - 1) / total;
  const std::size_t rowBytes = static_cast<std::size_t>(width) * channels;
  tmp.assign(data, data + rowBytes * static_cast<std::size_t>(height));
  sums.assign(rowBytes, 0);
  for (int i = 0; i <= radius && i < height; ++i) {
    const std::uint8_t* src = tmp.data() + static_cast<std::size_t>(i) * rowBytes;
    for (std::size_t k = 0; k < rowBytes; ++k) sums[k] += src[k];
  }
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = data + static_cast<std::size_t>(y) * rowBytes;
    const int above = y - radius - 1, below = y + radius + 1;
    const std::uint8_t* up =
        edge > 0 && above >= 0 ? tmp.data() + static_cast<std::size_t>(above) * rowBytes : nullptr;
    const std::uint8_t* down = edge > 0 && below < height
                                   ? tmp.data() + static_cast<std::size_t>(below) * rowBytes
                                   : nullptr;
    for (std::size_t k = 0; k < rowBytes; ++k) {
      std::uint64_t v = std::uint64_t{sums[k]} * 256;
      if (up) v += static_cast<std::uint64_t>(edge) * up[k];
      if (down) v += static_cast<std::uint64_t>(edge) * down[k];
      row[k] = static_cast<std::uint8_t>((v * mul) >> 44);
    }
    const int in = y + radius + 1, out = y - radius;
    if (in < height) {
      const std::uint8_t* src = tmp.data() + static_cast<std::size_t>(in) * rowBytes;
      for (std::size_t k = 0; k < rowBytes; ++k) sums[k] += src[k];
    }
    if (out >= 0) {
      const std::uint8_t* src = tmp.data() + static_cast<std::size_t>(out) * rowBytes;
      for (std::size_t k = 0; k < rowBytes; ++k) sums[k] -= src[k];
    }
  }
}

using blur::BoxDivider;

BoxDivider DividerOf(int radius, int edge) {
  BoxDivider d;
  if (radius < 0 || edge < 0 || edge > 255 || radius > 255) return d;
  const int g = edge > 0 ? std::gcd(256, edge) : 256;
  d.sumWeight = 256 / g;
  d.edgeWeight = edge / g;
  d.total = (256 * (2 * radius + 1) + 2 * edge) / g;
  // Every value lies within 0 .. 255 * total and must fit 16 bits.
  if (d.total < 2 || d.total > 257) return d;
  for (int k = 0; k < 16; ++k) {
    const std::uint64_t one = std::uint64_t{1} << (16 + k);
    const std::uint64_t m = (one + static_cast<std::uint64_t>(d.total) - 1) / d.total;
    if (m > 0xFFFF) break;
    // Rounded up, the factor overshoots by less than a step of 1 / total over the whole range.
    const std::uint64_t over = m * static_cast<std::uint64_t>(d.total) - one;
    if (255 * static_cast<std::uint64_t>(d.total) * over < one) {
      d.magic = static_cast<std::uint32_t>(m);
      d.shift = k;
      d.fast = true;
      if ((m & (m - 1)) == 0) d.plainShift = 16 - std::countr_zero(m) + k;
      return d;
    }
  }
  return d;
}

#ifdef DBX_BLUR_SSE2

// 16-byte vectors of 8 channels of 16 bits, filled from and put back into 8 bytes.
struct Sse2 {
  using R = __m128i;
  static constexpr std::size_t kLanes = 8;
  static R Zero() { return _mm_setzero_si128(); }
  static R Set(int v) { return _mm_set1_epi16(static_cast<short>(v)); }
  static R Widen(const std::uint8_t* p) {
    return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), Zero());
  }
  static void Narrow(std::uint8_t* p, R v) {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p), _mm_packus_epi16(v, v));
  }
  static void NarrowPart(std::uint8_t* p, R v, std::size_t count) {
    alignas(16) std::uint8_t bytes[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(bytes), _mm_packus_epi16(v, v));
    std::memcpy(p, bytes, count);
  }
  static R Load(const std::uint16_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  }
  static void Store(std::uint16_t* p, R v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
  static R Add(R a, R b) { return _mm_add_epi16(a, b); }
  static R Sub(R a, R b) { return _mm_sub_epi16(a, b); }
  static R MulLo(R a, R b) { return _mm_mullo_epi16(a, b); }
  static R MulHi(R a, R b) { return _mm_mulhi_epu16(a, b); }
  static R Srl(R a, int n) { return _mm_srl_epi16(a, _mm_cvtsi32_si128(n)); }
  // The pixel (of four channels) before each of `v`'s, the first from the end of `before`.
  template <int K>
  static R ShiftPixels(R v, R before) {
    static_assert(K == 1);
    return _mm_castpd_si128(_mm_shuffle_pd(_mm_castsi128_pd(before), _mm_castsi128_pd(v), 1));
  }
  // Running sums of every C-th lane, carried on from the vector before (the carry waits on one
  // addition per vector, not on the shuffles).
  template <int C>
  static R Prefix(R v, R& carry) {
    R last;
    if constexpr (C == 1) {
      v = _mm_add_epi16(v, _mm_slli_si128(v, 2));
      v = _mm_add_epi16(v, _mm_slli_si128(v, 4));
      v = _mm_add_epi16(v, _mm_slli_si128(v, 8));
      last = _mm_shuffle_epi32(_mm_shufflehi_epi16(v, 0xFF), 0xFF);
    } else if constexpr (C == 2) {
      v = _mm_add_epi16(v, _mm_slli_si128(v, 4));
      v = _mm_add_epi16(v, _mm_slli_si128(v, 8));
      last = _mm_shuffle_epi32(v, 0xFF);
    } else {
      v = _mm_add_epi16(v, _mm_slli_si128(v, 8));
      last = _mm_shuffle_epi32(v, 0xEE);
    }
    v = _mm_add_epi16(v, carry);
    carry = _mm_add_epi16(carry, last);
    return v;
  }
};

#endif  // DBX_BLUR_SSE2

struct Blurs {
  int rx, ry, passes;
  int ex = 0, ey = 0;  // weights of the taps just outside the boxes, in 256ths
};

// One box pass of a blur of `size` stage pixels at `scale` device pixels per stage pixel. The box
// reaches (size - 1) / 2 stage pixels either side of its centre, scaled: the whole pixels within
// count fully, the pair just beyond by the fraction left over.
void BoxOf(double size, double scale, int& radius, int& edge) {
  radius = BlurRadius(size * scale);
  edge = 0;
  if (radius == 0) return;
  const double reach = std::min((size - 1) / 2 * scale, 511.0);
  radius = static_cast<int>(reach);
  edge = std::clamp(static_cast<int>(std::lround((reach - radius) * 256)), 0, 255);
}

Blurs BlurOf(const Filter& f, double scale) {
  Blurs b{0, 0, std::clamp(f.passes, 0, 15)};
  BoxOf(f.blurX, scale, b.rx, b.ex);
  BoxOf(f.blurY, scale, b.ry, b.ey);
  return b;
}

// The shadow offset in device pixels.
void Offset(const Filter& f, double scale, int& dx, int& dy) {
  dx = static_cast<int>(std::lround(std::cos(f.angle) * f.distance * scale));
  dy = static_cast<int>(std::lround(std::sin(f.angle) * f.distance * scale));
}

// 256 premultiplied colours of a gradient filter's ramp, by 0..255.
std::vector<std::uint32_t> Ramp(const std::vector<GradientStop>& stops) {
  std::vector<std::uint32_t> lut(256, 0);
  if (stops.empty()) return lut;
  std::size_t k = 0;
  for (int i = 0; i < 256; ++i) {
    while (k < stops.size() && stops[k].ratio < i) ++k;
    Rgba c;
    if (k == 0) {
      c = stops.front().color;
    } else if (k >= stops.size()) {
      c = stops.back().color;
    } else {
      const GradientStop& a = stops[k - 1];
      const GradientStop& b = stops[k];
      const int span = b.ratio - a.ratio;
      const int t = span <= 0 ? 256 : (i - a.ratio) * 256 / span;
      auto mix = [&](int u, int v) { return static_cast<std::uint8_t>(u + ((v - u) * t) / 256); };
      c = {mix(a.color.r, b.color.r), mix(a.color.g, b.color.g), mix(a.color.b, b.color.b),
           mix(a.color.a, b.color.a)};
    }
    lut[static_cast<std::size_t>(i)] = PremulColor(c, 255);
  }
  return lut;
}

std::vector<std::uint8_t> AlphaOf(const PixelPlane& p) {
  std::vector<std::uint8_t> a(p.px.size());
  for (std::size_t i = 0; i < a.size(); ++i) a[i] = static_cast<std::uint8_t>(p.px[i] >> 24);
  return a;
}

void Blur(std::vector<std::uint8_t>& plane, int w, int h, int channels, const Blurs& b) {
  BoxBlur(plane.data(), w, h, channels, b.rx, b.ry, b.passes, b.ex, b.ey);
}

// Rounds a channel value already limited to [0, 255]. Adding one half and truncating is exact for
// values that cannot be negative, and costs no library call inside the pixel loops.
inline int RoundChannel(float v) {
  return static_cast<int>(v + 0.5f);  // NOLINT(bugprone-incorrect-roundings): v >= 0
}

inline int Strengthen(int v, float strength) {
  return RoundChannel(std::clamp(static_cast<float>(v) * strength, 0.0f, 255.0f));
}

// Composites the effect `e` (premultiplied, already limited to where it shows) with the source.
inline std::uint32_t Finish(std::uint32_t src, std::uint32_t e, const Filter& f, bool inside) {
  if (f.knockout) return inside ? e : Scale(e, 255 - A(src));
  if (!f.compositeSource) return e;
  return inside || f.onTop ? Over(e, src) : Over(src, e);
}

void ShadowOrGlow(const Filter& f, double scale, PixelPlane& p) {
  const int w = p.width, h = p.height;
  std::vector<std::uint8_t> a = AlphaOf(p);
  int dx = 0, dy = 0;
  if (f.kind == FilterKind::kDropShadow) Offset(f, scale, dx, dy);
  Blur(a, w, h, 1, BlurOf(f, scale));
  const bool gradient = f.kind == FilterKind::kGradientGlow;
  const std::vector<std::uint32_t> lut = gradient ? Ramp(f.colors) : std::vector<std::uint32_t>{};
  const Rgba colour = f.colors.empty() ? Rgba{0, 0, 0, 255} : f.colors.front().color;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int sx = x - dx, sy = y - dy;
      int v = sx >= 0 && sy >= 0 && sx < w && sy < h ? a[static_cast<std::size_t>(sy) * w + sx] : 0;
      std::uint32_t& out = p.px[static_cast<std::size_t>(y) * w + x];
      const int s = A(out);
      if (f.inner)
        v = Div255(Strengthen(255 - v, f.strength) * s);
      else
        v = Strengthen(v, f.strength);
      const std::uint32_t e = gradient
                                  ? Scale(lut[static_cast<std::size_t>(v)], f.inner ? 255 : 255)
                                  : PremulColor(colour, v);
      out = Finish(out, e, f, f.inner);
    }
}

void Bevel(const Filter& f, double scale, PixelPlane& p) {
  const int w = p.width, h = p.height;
  std::vector<std::uint8_t> a = AlphaOf(p);
  int dx = 0, dy = 0;
  Offset(f, scale, dx, dy);
  Blur(a, w, h, 1, BlurOf(f, scale));
  auto at = [&](int x, int y) -> int {
    return x >= 0 && y >= 0 && x < w && y < h ? a[static_cast<std::size_t>(y) * w + x] : 0;
  };
  const bool gradient = f.kind == FilterKind::kGradientBevel;
  const std::vector<std::uint32_t> lut = gradient ? Ramp(f.colors) : std::vector<std::uint32_t>{};
  const Rgba highlight = f.colors.size() > 0 ? f.colors[0].color : Rgba{255, 255, 255, 255};
  const Rgba shadow = f.colors.size() > 1 ? f.colors[1].color : Rgba{0, 0, 0, 255};
  const bool full = f.onTop;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      // The side facing the light (against the angle) brightens, the far side darkens.
      const int v = at(x - dx, y - dy) - at(x + dx, y + dy);
      std::uint32_t& out = p.px[static_cast<std::size_t>(y) * w + x];
      const int s = A(out);
      const int k = Strengthen(std::abs(v), f.strength);
      std::uint32_t e;
      if (gradient) {
        const int index = std::clamp(128 + (v > 0 ? -k : k) / 2, 0, 255);
        e = lut[static_cast<std::size_t>(index)];
        e = Scale(e, 255);
      } else {
        e = v == 0 ? 0 : PremulColor(v > 0 ? shadow : highlight, k);
      }
      // (Limited to its side of the edge here, the effect is not limited again when knocked out.)
      if (!full) e = Scale(e, f.inner ? s : 255 - s);
      out = Finish(out, e, f, f.inner || full || f.knockout);
    }
}

void ColorMatrixFilter(const Filter& f, PixelPlane& p) {
  const auto& m = f.matrix;
  for (std::uint32_t& px : p.px) {
    const int a = A(px);
    float c[4] = {0, 0, 0, static_cast<float>(a)};
    if (a > 0)
      for (int i = 0; i < 3; ++i)
        c[i] = static_cast<float>(Ch(px, 16 - 8 * i)) * 255.0f / static_cast<float>(a);
    float o[4];
    for (int r = 0; r < 4; ++r)
      o[r] = std::clamp(m[5 * r] * c[0] + m[5 * r + 1] * c[1] + m[5 * r + 2] * c[2] +
                            m[5 * r + 3] * c[3] + m[5 * r + 4],
                        0.0f, 255.0f);
    const int na = RoundChannel(o[3]);
    px = Pack(na, Div255(RoundChannel(o[0]) * na), Div255(RoundChannel(o[1]) * na),
              Div255(RoundChannel(o[2]) * na));
  }
}

void Convolution(const Filter& f, PixelPlane& p) {
  if (f.matrixX <= 0 || f.matrixY <= 0 ||
      f.kernel.size() != static_cast<std::size_t>(f.matrixX) * f.matrixY)
    return;
  const int w = p.width, h = p.height;
  const std::vector<std::uint32_t> src(p.px.begin(), p.px.end());
  const float div = f.divisor == 0 ? 1.0f : f.divisor;
  const int cx = f.matrixX / 2, cy = f.matrixY / 2;
  const Rgba d = f.defaultColor;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      float sum[4] = {0, 0, 0, 0};
      for (int j = 0; j < f.matrixY; ++j)
        for (int i = 0; i < f.matrixX; ++i) {
          int sx = x + i - cx, sy = y + j - cy;
          float c[4];
          if (sx < 0 || sy < 0 || sx >= w || sy >= h) {
            if (!f.clamp) {
              c[0] = d.r;
              c[1] = d.g;
              c[2] = d.b;
              c[3] = d.a;
              goto add;
            }
            sx = std::clamp(sx, 0, w - 1);
            sy = std::clamp(sy, 0, h - 1);
          }
          {
            const std::uint32_t q = src[static_cast<std::size_t>(sy) * w + sx];
            const int a = A(q);
            for (int k = 0; k < 3; ++k)
              c[k] = a > 0 ? static_cast<float>(Ch(q, 16 - 8 * k)) * 255.0f / static_cast<float>(a)
                           : 0.0f;
            c[3] = static_cast<float>(a);
          }
        add:
          const float kv = f.kernel[static_cast<std::size_t>(j) * f.matrixX + i];
          for (int k = 0; k < 4; ++k) sum[k] += c[k] * kv;
        }
      int o[4];
      for (int k = 0; k < 4; ++k)
        o[k] = RoundChannel(std::clamp(sum[k] / div + f.bias, 0.0f, 255.0f));
      if (f.preserveAlpha) o[3] = A(src[static_cast<std::size_t>(y) * w + x]);
      p.px[static_cast<std::size_t>(y) * w + x] =
          Pack(o[3], Div255(o[0] * o[3]), Div255(o[1] * o[3]), Div255(o[2] * o[3]));
    }
}

}  // namespace

int BlurRadius(double size) {
  // A box of an odd number of pixels below the size: sizes under 3 leave the picture as it is,
  // 3 and 4 average 3 pixels, 5 and 6 average 5 (as the reference pictures show).
  if (!(size > 1.0)) return 0;
  return (static_cast<int>(std::min(size, 1024.0)) - 1) / 2;
}

namespace {
// The most blur buffers a thread keeps between blurs (a half of a 1920 x 1080 blur of 16 holds
// 270 KB).
constexpr std::size_t kKeptScratchBytes = std::size_t{4} << 20;
std::atomic<int> vectorBytes{64};
// Pictures of this many bytes and more are blurred in two halves at once (512 x 512 pixels).
std::atomic<std::size_t> splitBytes{std::size_t{1} << 20};
std::atomic<int> callerShare{blur::kShareOne / 2};
// How far the share may go from an even split, and move after one split (one frame's halves can
// take long for reasons of their own: a thread sent to sleep).
constexpr int kShareReach = blur::kShareOne / 4, kShareStep = blur::kShareOne / 64;
}  // namespace

int blur::NextShare(int share, double callerTime, double sideTime) {
  if (!(callerTime > 0) || !(sideTime > 0)) return share;
  // Rows per second on each thread, and the share that would have ended both halves at once.
  const double s = static_cast<double>(share) / kShareOne;
  const double caller = s / callerTime, side = (1 - s) / sideTime;
  const int even = static_cast<int>(std::lround(caller / (caller + side) * kShareOne));
  const int step = std::clamp((even - share) / 4, -kShareStep, kShareStep);
  return std::clamp(share + step, kShareOne / 2 - kShareReach, kShareOne / 2 + kShareReach);
}

int blur::CallerShare(int share) {
  return callerShare.exchange(share);
}

void blur::LimitVectorBytes(int bytes) {
  vectorBytes = bytes;
}

std::size_t blur::SplitFrom(std::size_t bytes) {
  return splitBytes.exchange(bytes);
}

void BoxBlur(std::uint8_t* data, int width, int height, int channels, int radiusX, int radiusY,
             int passes, int edgeX, int edgeY) {
  if (width <= 0 || height <= 0 || channels <= 0) return;
  std::vector<std::uint8_t> tmp;
  std::vector<std::uint32_t> sums;
#ifdef DBX_BLUR_SSE2
  const std::size_t n = static_cast<std::size_t>(width) * channels;
  const bool across = radiusX > 0 || edgeX > 0, down = radiusY > 0 || edgeY > 0;
  const BoxDivider dx = DividerOf(radiusX, edgeX), dy = DividerOf(radiusY, edgeY);
#ifdef DBX_BLUR_WIDE
  const bool wide = vectorBytes >= 32 && blur::HaveWideVectors();
  const bool widest = vectorBytes >= 64 && blur::HaveWidestVectors();
  auto across32 = [&](std::uint8_t* out, blur::Scratch& scratch) {
    blur::AcrossWide(data, out, width, height, channels, radiusX, dx, scratch);
  };
  auto down32 = [&](const std::uint8_t* in, blur::Scratch& scratch) {
    blur::DownWide(in, data, n, height, radiusY, dy, scratch);
  };
  auto allPasses32 = [&](blur::Scratch& scratch, const blur::RowRange& range) {
    blur::AllPassesWide(data, width, channels, radiusX, radiusY, passes, dx, dy, scratch, range);
  };
  auto allPasses64 = [&](blur::Scratch& scratch, const blur::RowRange& range) {
    blur::AllPassesWidest(data, width, channels, radiusX, radiusY, passes, dx, dy, scratch, range);
  };
#else
  const bool wide = false, widest = false;
  auto across32 = [](std::uint8_t*, blur::Scratch&) {};
  auto down32 = [](const std::uint8_t*, blur::Scratch&) {};
  auto allPasses32 = [](blur::Scratch&, const blur::RowRange&) {};
  auto allPasses64 = [](blur::Scratch&, const blur::RowRange&) {};
#endif
  const bool fastAcross = across && dx.fast && (channels == 1 || channels == 2 || channels == 4);
  if (down && dy.fast && fastAcross && passes > 0) {
    auto sweep = [&](const blur::RowRange& range) {
      // Each thread keeps its buffers from one blur to the next (fresh ones cost the side thread
      // more than the blur's own work), unless a wide box made them large.
      thread_local blur::Scratch scratch;
      if (widest)
        allPasses64(scratch, range);
      else if (wide)
        allPasses32(scratch, range);
      else
        blur::AllPasses<Sse2>(data, width, channels, radiusX, radiusY, passes, dx, dy, scratch,
                              range);
      if (scratch.Bytes() > kKeptScratchBytes) scratch = {};
    };
    // A large picture is blurred as two halves, top and bottom, the bottom one on the side thread
    // (halves side by side share every row's memory, and slowed each other down), of heights that
    // make them end together at the speeds the threads last showed. Each half reads the rows
    // beyond its edge that its passes reach, as they were before either half wrote them, from a
    // copy made first.
    const int reach = passes * (radiusY + 1);
    if (n * static_cast<std::size_t>(height) >= splitBytes.load() && height >= 4 * reach &&
        SideWorker::Shared().Parallel()) {
      const int share = callerShare.load(std::memory_order_relaxed);
      const int mid =
          std::clamp(static_cast<int>(static_cast<std::int64_t>(height) * share / blur::kShareOne),
                     2 * reach, height - 2 * reach);
      const int copyTop = mid - reach, copyBottom = std::min(height, mid + reach);
      std::vector<std::uint8_t> copy(data + static_cast<std::size_t>(copyTop) * n,
                                     data + static_cast<std::size_t>(copyBottom) * n);
      const blur::RowRange upper{0, copyBottom, 0, mid, copy.data(), copyTop, copyBottom},
          lower{copyTop, height, mid, height, copy.data(), copyTop, copyBottom};
      // (Both from the moment the halves are handed out: the side thread's includes its waking.)
      using Clock = std::chrono::steady_clock;
      const Clock::time_point start = Clock::now();
      std::chrono::duration<double> callerTime{}, sideTime{};
      auto timed = [&](const blur::RowRange& range, std::chrono::duration<double>& time) {
        sweep(range);
        time = Clock::now() - start;
      };
      SideWorker::Shared().Split([&] { timed(upper, callerTime); },
                                 [&] { timed(lower, sideTime); });
      // (Blurs on other threads may have moved the share meanwhile: this one is as good.)
      callerShare.store(blur::NextShare(share, callerTime.count(), sideTime.count()),
                        std::memory_order_relaxed);
      return;
    }
    sweep(blur::RowRange{0, height, 0, height, nullptr, 0, 0});
    return;
  }
  const bool fastDown = down && dy.fast && n >= 32;
  if (fastAcross || fastDown) {
    blur::Scratch scratch;
    const std::size_t bytes = n * static_cast<std::size_t>(height);
    std::vector<std::uint8_t> plane;
    if (fastDown) plane.resize(bytes);
    for (int i = 0; i < passes; ++i) {
      // The pass down reads what the pass across left in `plane` and writes back into `data`.
      std::uint8_t* acrossOut = fastDown ? plane.data() : data;
      if (!across) {
        if (fastDown) std::memcpy(plane.data(), data, bytes);
      } else if (fastAcross) {
        if (wide)
          across32(acrossOut, scratch);
        else
          blur::Across<Sse2>(data, acrossOut, width, height, channels, radiusX, dx, scratch);
      } else {
        BlurAcross(data, width, height, channels, radiusX, edgeX, tmp);
        if (fastDown) std::memcpy(plane.data(), data, bytes);
      }
      if (!fastDown)
        BlurDown(data, width, height, channels, radiusY, edgeY, tmp, sums);
      else if (wide)
        down32(plane.data(), scratch);
      else
        blur::Down<Sse2>(plane.data(), data, n, height, radiusY, dy, scratch);
    }
    return;
  }
#endif
  for (int i = 0; i < passes; ++i) {
    BlurAcross(data, width, height, channels, radiusX, edgeX, tmp);
    BlurDown(data, width, height, channels, radiusY, edgeY, tmp, sums);
  }
}

FilterMargins MarginsOf(const std::vector<Filter>& filters, double scale) {
  FilterMargins m;
  for (const Filter& f : filters) {
    const Blurs b = BlurOf(f, scale);
    const int gx = (b.rx + (b.ex > 0 ? 1 : 0)) * b.passes,
              gy = (b.ry + (b.ey > 0 ? 1 : 0)) * b.passes;
    switch (f.kind) {
      case FilterKind::kBlur:
        m.left += gx;
        m.right += gx;
        m.top += gy;
        m.bottom += gy;
        break;
      case FilterKind::kDropShadow:
      case FilterKind::kGlow:
      case FilterKind::kGradientGlow:
      case FilterKind::kBevel:
      case FilterKind::kGradientBevel: {
        if (f.inner) break;
        int dx = 0, dy = 0;
        if (f.kind != FilterKind::kGlow && f.kind != FilterKind::kGradientGlow)
          Offset(f, scale, dx, dy);
        const bool both = f.kind == FilterKind::kBevel || f.kind == FilterKind::kGradientBevel;
        m.left += gx + std::max(both ? std::abs(dx) : -dx, 0);
        m.right += gx + std::max(both ? std::abs(dx) : dx, 0);
        m.top += gy + std::max(both ? std::abs(dy) : -dy, 0);
        m.bottom += gy + std::max(both ? std::abs(dy) : dy, 0);
        break;
      }
      case FilterKind::kConvolution:
      case FilterKind::kColorMatrix:
        break;
    }
  }
  return m;
}

void ApplyFilter(const Filter& f, double scale, PixelPlane& p) {
  if (p.width <= 0 || p.height <= 0) return;
  switch (f.kind) {
    case FilterKind::kBlur: {
      std::uint8_t* bytes = reinterpret_cast<std::uint8_t*>(p.px.data());
      const Blurs b = BlurOf(f, scale);
      BoxBlur(bytes, p.width, p.height, 4, b.rx, b.ry, b.passes, b.ex, b.ey);
      return;
    }
    case FilterKind::kDropShadow:
    case FilterKind::kGlow:
    case FilterKind::kGradientGlow:
      ShadowOrGlow(f, scale, p);
      return;
    case FilterKind::kBevel:
    case FilterKind::kGradientBevel:
      Bevel(f, scale, p);
      return;
    case FilterKind::kColorMatrix:
      ColorMatrixFilter(f, p);
      return;
    case FilterKind::kConvolution:
      Convolution(f, p);
      return;
  }
}

void ApplyFilters(const std::vector<Filter>& filters, double scale, PixelPlane& plane) {
  for (const Filter& f : filters) ApplyFilter(f, scale, plane);
}

namespace {

inline std::uint32_t OverPixel(std::uint32_t d, std::uint32_t src, bool keepAlpha) {
  const std::uint32_t a = src >> 24;
  if (a == 0) return d;
  if (a == 255) return keepAlpha ? src : src & 0xFFFFFF;
  const std::uint32_t inv = 255 - a;
  auto ch = [&](int shift) {
    return std::min(((src >> shift) & 0xFF) + (((d >> shift) & 0xFF) * inv + 127) / 255, 255u)
           << shift;
  };
  return (keepAlpha ? ch(24) : 0) | ch(16) | ch(8) | ch(0);
}

#ifdef DBX_BLUR_SSE2
// 4 pixels of 4 channels.
struct Sse2Over {
  using R = __m128i;
  static constexpr int kPixels = 4;
  static constexpr bool kPartial = false;
  static R Set32(std::uint32_t v) { return _mm_set1_epi32(static_cast<int>(v)); }
  static R Load(const std::uint32_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  }
  static void Store(std::uint32_t* p, R v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
  static R And(R a, R b) { return _mm_and_si128(a, b); }
  static R Alpha() { return Set32(0xFF000000u); }
  static bool AllClear(R s) {
    return _mm_movemask_epi8(_mm_cmpeq_epi32(And(s, Alpha()), _mm_setzero_si128())) == 0xFFFF;
  }
  static bool AllOpaque(R s) {
    return _mm_movemask_epi8(_mm_cmpeq_epi32(And(s, Alpha()), Alpha())) == 0xFFFF;
  }
  // Halves of the pixels widened to 16-bit channels.
  static R Low(R v) { return _mm_unpacklo_epi8(v, _mm_setzero_si128()); }
  static R High(R v) { return _mm_unpackhi_epi8(v, _mm_setzero_si128()); }
  static R Pack(R lo, R hi) { return _mm_packus_epi16(lo, hi); }
  static R AlphaWords(R v) { return _mm_shufflehi_epi16(_mm_shufflelo_epi16(v, 0xFF), 0xFF); }
  static R Set16(int v) { return _mm_set1_epi16(static_cast<short>(v)); }
  static R Add16(R a, R b) { return _mm_add_epi16(a, b); }
  static R Sub16(R a, R b) { return _mm_sub_epi16(a, b); }
  static R Mul16(R a, R b) { return _mm_mullo_epi16(a, b); }
  static R Srl8(R v) { return _mm_srli_epi16(v, 8); }
  static R UnderClear(R s, R v, R d) {
    const R clear = _mm_cmpeq_epi32(And(s, Alpha()), _mm_setzero_si128());
    return _mm_or_si128(_mm_and_si128(clear, d), _mm_andnot_si128(clear, v));
  }
};
#endif

}  // namespace

void OverRow(std::uint32_t* dst, const std::uint32_t* src, int count, bool keepAlpha) {
  int i = 0;
#ifdef DBX_BLUR_WIDE
  const int widest = vectorBytes.load(std::memory_order_relaxed);
  if (widest >= 64 && blur::HaveWidestVectors())
    i = over::OverWidest(dst, src, count, keepAlpha);
  else if (widest >= 32 && blur::HaveWideVectors())
    i = over::OverWide(dst, src, count, keepAlpha);
#endif
#ifdef DBX_BLUR_SSE2
  i += over::OverVectors<Sse2Over>(dst + i, src + i, count - i, keepAlpha);
#endif
  for (; i < count; ++i) dst[i] = OverPixel(dst[i], src[i], keepAlpha);
}

std::uint32_t TransformPremultiplied(std::uint32_t p, const ColorTransform& cx) {
  const int a = A(p);
  Rgba c{0, 0, 0, 0};
  if (a > 0) {
    c.r = static_cast<std::uint8_t>(std::min(255, (Ch(p, 16) * 255 + a / 2) / a));
    c.g = static_cast<std::uint8_t>(std::min(255, (Ch(p, 8) * 255 + a / 2) / a));
    c.b = static_cast<std::uint8_t>(std::min(255, (Ch(p, 0) * 255 + a / 2) / a));
    c.a = static_cast<std::uint8_t>(a);
  }
  const Rgba o = cx.Apply(c);
  return PremulColor({o.r, o.g, o.b, 255}, o.a);
}

std::uint32_t BlendPixel(std::uint32_t dst, std::uint32_t src, BlendMode mode, bool dstHasAlpha) {
  const int as = A(src);
  const int ab = dstHasAlpha ? A(dst) : 255;
  if (as == 0 && mode != BlendMode::kAlpha) return dst;
  auto alphaOut = [&] { return as + Div255(ab * (255 - as)); };
  auto separable = [&](auto&& f) {
    // Premultiplied: s (1 - ab) + b (1 - as) + f(s, b), where f is as ab B(b / ab, s / as).
    int c[3];
    for (int i = 0; i < 3; ++i) {
      const int s = Ch(src, 16 - 8 * i),
                b = dstHasAlpha ? Ch(dst, 16 - 8 * i) : Ch(dst, 16 - 8 * i);
      c[i] = std::clamp(Div255(s * (255 - ab)) + Div255(b * (255 - as)) + f(s, b), 0, 255);
    }
    return Pack(dstHasAlpha ? alphaOut() : 0, c[0], c[1], c[2]);
  };
  switch (mode) {
    case BlendMode::kNormal:
    case BlendMode::kLayer:
      return separable([&](int s, int) { return Div255(s * ab); });
    case BlendMode::kMultiply:
      return separable([](int s, int b) { return Div255(s * b); });
    case BlendMode::kScreen:
      return separable(
          [&](int s, int b) { return Div255(s * ab) + Div255(b * as) - Div255(s * b); });
    case BlendMode::kLighten:
      return separable([&](int s, int b) { return std::max(Div255(s * ab), Div255(b * as)); });
    case BlendMode::kDarken:
      return separable([&](int s, int b) { return std::min(Div255(s * ab), Div255(b * as)); });
    case BlendMode::kDifference:
      return separable([&](int s, int b) { return std::abs(Div255(s * ab) - Div255(b * as)); });
    case BlendMode::kOverlay:
      return separable([&](int s, int b) {
        return 2 * b <= ab ? 2 * Div255(s * b) : Div255(as * ab) - 2 * Div255((as - s) * (ab - b));
      });
    case BlendMode::kHardLight:
      return separable([&](int s, int b) {
        return 2 * s <= as ? 2 * Div255(s * b) : Div255(as * ab) - 2 * Div255((as - s) * (ab - b));
      });
    case BlendMode::kAdd: {
      const int a = dstHasAlpha ? std::min(255, as + ab) : 0;
      return Pack(a, std::min(255, Ch(src, 16) + Ch(dst, 16)),
                  std::min(255, Ch(src, 8) + Ch(dst, 8)), std::min(255, Ch(src, 0) + Ch(dst, 0)));
    }
    case BlendMode::kSubtract: {
      const int a = dstHasAlpha ? alphaOut() : 0;
      return Pack(a, std::max(0, Ch(dst, 16) - Ch(src, 16)), std::max(0, Ch(dst, 8) - Ch(src, 8)),
                  std::max(0, Ch(dst, 0) - Ch(src, 0)));
    }
    case BlendMode::kInvert: {
      int c[3];
      for (int i = 0; i < 3; ++i) {
        const int b = Ch(dst, 16 - 8 * i);
        c[i] = Div255((ab - b) * as) + Div255(b * (255 - as));
      }
      return Pack(dstHasAlpha ? ab : 0, c[0], c[1], c[2]);
    }
    case BlendMode::kAlpha:
      return dstHasAlpha ? Scale(dst, as) : dst;
    case BlendMode::kErase:
      return dstHasAlpha ? Scale(dst, 255 - as) : dst;
  }
  return dst;
}

}  // namespace dbx::swf
