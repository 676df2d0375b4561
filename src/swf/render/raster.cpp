#include "swf/render/raster.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace dbx::swf {

namespace {

// Coordinates far outside any target are pulled in so that float arithmetic stays exact enough;
// a line that far away crosses the target only as a vertical or horizontal boundary anyway.
constexpr float kFar = 1.0e6f;
float Tame(float v) {
  return v < -kFar ? -kFar : v > kFar ? kFar : v;
}

}  // namespace

void Rasterizer::Reset(int width, int height, int samples, bool snap) {
  width_ = std::max(width, 0);
  height_ = std::max(height, 0);
  sub_ = samples >= 4 ? 4 : samples >= 2 ? 2 : 1;
  across_ = samples >= 16 ? 4 : 1;  // (the sweep's marks take a grid of four)
  // Without anti-aliasing the outline is placed on a grid of twentieths of a pixel first, as
  // the reference player does; which pixel centres fall inside depends on it.
  snap_ = snap && sub_ == 1 ? 20.0 : 0.0;
  edges_.clear();
  if (run_.size() < static_cast<std::size_t>(width_) + 2) {
    run_.assign(static_cast<std::size_t>(width_) + 2, 0);
    mark_.assign(static_cast<std::size_t>(width_) + 2, 0);
  }
}

void Rasterizer::AddLine(float x0, float y0, float x1, float y1) {
  if (!std::isfinite(x0) || !std::isfinite(y0) || !std::isfinite(x1) || !std::isfinite(y1)) return;
  x0 = Tame(x0);
  y0 = Tame(y0);
  x1 = Tame(x1);
  y1 = Tame(y1);
  double dx0 = x0, dy0 = y0, dx1 = x1, dy1 = y1;
  if (snap_) {
    dx0 = std::round(dx0 * snap_) / snap_;
    dy0 = std::round(dy0 * snap_) / snap_;
    dx1 = std::round(dx1 * snap_) / snap_;
    dy1 = std::round(dy1 * snap_) / snap_;
  }
  if (dy0 == dy1) return;
  Edge e;
  if (dy0 < dy1) {
    e = {dx0, dy0, dx1, dy1, 0, 1};
  } else {
    e = {dx1, dy1, dx0, dy0, 0, -1};
  }
  if (e.y1 <= 0 || e.y0 >= height_) return;
  e.dxdy = (e.x1 - e.x0) / (e.y1 - e.y0);
  edges_.push_back(e);
}

void Rasterizer::AddConvex(const float* xy, int count) {
  if (count < 3) return;
  double area = 0;
  for (int i = 0; i < count; ++i) {
    const int j = (i + 1) % count;
    area += static_cast<double>(xy[2 * i]) * xy[2 * j + 1] -
            static_cast<double>(xy[2 * j]) * xy[2 * i + 1];
  }
  if (area == 0) return;
  for (int i = 0; i < count; ++i) {
    const int j = (i + 1) % count;
    if (area < 0)
      AddLine(xy[2 * i], xy[2 * i + 1], xy[2 * j], xy[2 * j + 1]);
    else
      AddLine(xy[2 * j], xy[2 * j + 1], xy[2 * i], xy[2 * i + 1]);
  }
}

namespace {

// Where in the pixel each sub-scanline samples, across: the centre without anti-aliasing, and the
// usual rotated-grid patterns of 2 and 4 samples per pixel (the sub-scanlines are their rows).
double SampleX(int sub, int s) {
  static constexpr double kTwo[2] = {0.25, 0.75};
  static constexpr double kFour[4] = {0.375, 0.875, 0.125, 0.625};
  return sub == 4 ? kFour[s] : sub == 2 ? kTwo[s] : 0.5;
}

// std::ceil for values well inside the int range (crossings are kept within a million pixels),
// without a library call on targets lacking a rounding instruction.
inline int Ceil(double v) {
  const int i = static_cast<int>(v);
  return i + (v > i ? 1 : 0);
}

}  // namespace

template <class Interval, class RowEnd>
void Rasterizer::Scan(FillRule rule, Interval&& interval, RowEnd&& rowEnd) {
  if (edges_.empty() || width_ == 0 || height_ == 0) return;
  std::sort(edges_.begin(), edges_.end(), [](const Edge& a, const Edge& b) { return a.y0 < b.y0; });
  double bottom = edges_.front().y0;
  for (const Edge& e : edges_) bottom = std::max(bottom, e.y1);
  const int yStart = std::max(0, static_cast<int>(std::floor(edges_.front().y0)));
  const int yEnd = std::min(height_, static_cast<int>(std::ceil(bottom)));
  const double W = width_;
  active_.clear();
  std::size_t next = 0;
  for (int y = yStart; y < yEnd; ++y) {
    for (int s = 0; s < sub_; ++s) {
      const double sy = y + (s + 0.5) / sub_;
      const double sampleX = SampleX(sub_, s);
      // The active edges stay ordered by their last crossing, so this sub-scanline's crossings
      // come nearly sorted: finished edges drop out in place, the rest move a little, and edges
      // starting here are sorted apart and merged in.
      cross_.clear();
      std::size_t kept = 0;
      for (const int index : active_) {
        const Edge& e = edges_[static_cast<std::size_t>(index)];
        if (e.y1 <= sy) continue;
        active_[kept++] = index;
        cross_.push_back({e.x0 + (sy - e.y0) * e.dxdy, e.dir, index});
      }
      active_.resize(kept);
      for (std::size_t i = 1; i < cross_.size(); ++i) {
        const Cross c = cross_[i];
        std::size_t j = i;
        while (j > 0 && cross_[j - 1].x > c.x) {
          cross_[j] = cross_[j - 1];
          --j;
        }
        cross_[j] = c;
      }
      const std::size_t old = cross_.size();
      for (; next < edges_.size() && edges_[next].y0 <= sy; ++next) {
        const Edge& e = edges_[next];
        if (e.y1 > sy)
          cross_.push_back({e.x0 + (sy - e.y0) * e.dxdy, e.dir, static_cast<int>(next)});
      }
      if (cross_.size() > old) {
        auto byX = [](const Cross& a, const Cross& b) { return a.x < b.x; };
        std::stable_sort(cross_.begin() + static_cast<std::ptrdiff_t>(old), cross_.end(), byX);
        merged_.resize(cross_.size());
        std::merge(cross_.begin(), cross_.begin() + static_cast<std::ptrdiff_t>(old),
                   cross_.begin() + static_cast<std::ptrdiff_t>(old), cross_.end(), merged_.begin(),
                   byX);
        cross_.swap(merged_);
      }
      active_.resize(cross_.size());
      for (std::size_t i = 0; i < cross_.size(); ++i) active_[i] = cross_[i].edge;
      if (cross_.size() > budget_) {
        budget_ = 0;
        return;
      }
      budget_ -= cross_.size();
      if (cross_.size() < 2) continue;
      int winding = 0;
      for (std::size_t i = 0; i + 1 < cross_.size(); ++i) {
        winding += cross_[i].dir;
        const bool inside = rule == FillRule::kNonZero ? winding != 0 : (winding & 1) != 0;
        if (!inside) continue;
        double xa = cross_[i].x, xb = cross_[i + 1].x;
        if (xb <= 0 || xa >= W || xb <= xa) continue;
        // This sub-scanline's sample point decides: pixels whose sample lies in [xa, xb) get
        // its share of coverage.
        // A sample exactly on an edge counts as inside on the left and outside on the right;
        // the small bias keeps rounding noise of the crossing from deciding such ties.
        constexpr double kTie = 1e-6;
        if (across_ > 1) {
          // A grid: the sub-scanline has `across_` samples per pixel, evenly spread; the
          // interval counts samples (sample i lies at (i + 0.5) / across_).
          const double n = across_;
          const int first = std::max(0, Ceil(xa * n - 0.5 - kTie));
          const int end = std::min(width_ * across_, Ceil(xb * n - 0.5 - kTie));
          if (first < end) interval(y, s, first, end);
          continue;
        }
        const int first = std::max(0, Ceil(xa - sampleX - kTie));
        const int end = std::min(width_, Ceil(xb - sampleX - kTie));
        if (first < end) interval(y, s, first, end);
      }
    }
    rowEnd(y);
  }
}

void Rasterizer::SweepTo(FillRule rule, RowSink& sink) {
  const int unit = 256 / (sub_ * across_);  // 256 (full) becomes 255 when the row is read out
  // Per row, coverage is kept sparse: `run_[x]` marks where runs of covered samples start and end
  // (the running sum is the coverage between marks); `touched_` lists the marked columns.
  auto touch = [&](int x) {
    if (!mark_[static_cast<std::size_t>(x)]) {
      mark_[static_cast<std::size_t>(x)] = 1;
      touched_.push_back(x);
    }
  };
  touched_.clear();
  auto mark = [&](int x, int delta) {
    run_[static_cast<std::size_t>(x)] += delta;
    touch(x);
  };
  auto interval = [&](int, int, int first, int end) {
    if (across_ == 1) {
      mark(first, unit);
      mark(end, -unit);
      return;
    }
    // Samples first .. end - 1 of a grid of four: the first and last pixels take the samples
    // they hold, those between all four.
    const int p0 = first >> 2, p1 = end >> 2;
    if (p0 == p1) {
      mark(p0, (end - first) * unit);
      mark(p0 + 1, -(end - first) * unit);
      return;
    }
    const int a = 4 - (first & 3), b = end & 3;
    mark(p0, a * unit);
    if (a < 4) mark(p0 + 1, (4 - a) * unit);
    mark(p1, (b - 4) * unit);
    if (b > 0) mark(p1 + 1, -b * unit);
  };
  auto rowEnd = [&](int y) {
    if (touched_.empty()) return;
    // Marked columns in order: where they lie dense (rows of text), reading the marks across
    // their range is cheaper than sorting them.
    const auto [lo, hi] = std::minmax_element(touched_.begin(), touched_.end());
    const std::size_t from = static_cast<std::size_t>(*lo), to = static_cast<std::size_t>(*hi) + 1;
    if (to - from <= touched_.size() * 16) {
      touched_.clear();
      std::size_t x = from;
      for (; x + 8 <= to; x += 8) {
        std::uint64_t word;
        std::memcpy(&word, mark_.data() + x, 8);
        if (!word) continue;
        for (std::size_t k = 0; k < 8; ++k)
          if (mark_[x + k]) touched_.push_back(static_cast<int>(x + k));
      }
      for (; x < to; ++x)
        if (mark_[x]) touched_.push_back(static_cast<int>(x));
    } else {
      std::sort(touched_.begin(), touched_.end());
    }
    spans_.clear();
    int sum = 0;
    for (std::size_t i = 0; i < touched_.size(); ++i) {
      const int x = touched_[i];
      const std::size_t ux = static_cast<std::size_t>(x);
      sum += run_[ux];
      run_[ux] = 0;
      mark_[ux] = 0;
      if (x >= width_ || sum <= 0) continue;
      const int nextX = i + 1 < touched_.size() ? std::min(touched_[i + 1], width_) : width_;
      if (nextX > x)
        spans_.push_back({x, nextX, static_cast<std::uint8_t>(sum >= 255 ? 255 : sum)});
    }
    if (!spans_.empty()) sink.Row(y, spans_.data(), spans_.size());
    touched_.clear();
  };
  Scan(rule, interval, rowEnd);
  // A sweep cut short by the work budget leaves a row half gathered: clear its marks.
  for (const int x : touched_) {
    run_[static_cast<std::size_t>(x)] = 0;
    mark_[static_cast<std::size_t>(x)] = 0;
  }
}

void Rasterizer::SweepSamples(FillRule rule, std::uint8_t* bits, std::size_t stride) {
  Scan(
      rule,
      [&](int y, int s, int first, int end) {
        std::uint8_t* row = bits + static_cast<std::size_t>(y) * stride;
        const auto bit = static_cast<std::uint8_t>(1u << s);
        for (int x = first; x < end; ++x) row[x] |= bit;
      },
      [](int) {});
}

// --- Paints -----------------------------------------------------------------------------------

namespace {

std::uint32_t Premul(Rgba c) {
  const std::uint32_t a = c.a;
  const std::uint32_t r = (c.r * a + 127) / 255, g = (c.g * a + 127) / 255,
                      b = (c.b * a + 127) / 255;
  return (a << 24) | (r << 16) | (g << 8) | b;
}

float SrgbToLinear(float v) {
  return v <= 0.04045f ? v / 12.92f : std::pow((v + 0.055f) / 1.055f, 2.4f);
}
float LinearToSrgb(float v) {
  return v <= 0.0031308f ? v * 12.92f : 1.055f * std::pow(v, 1.0f / 2.4f) - 0.055f;
}

std::vector<std::uint32_t> BuildStops(const Gradient& g) {
  std::vector<std::uint32_t> lut(256, 0);
  if (g.stops.empty()) return lut;
  const bool linear = g.interpolation == Interpolation::kLinearRgb;
  std::size_t k = 0;
  for (int i = 0; i < 256; ++i) {
    while (k < g.stops.size() && g.stops[k].ratio < i) ++k;
    Rgba c;
    if (k == 0) {
      c = g.stops.front().color;
    } else if (k >= g.stops.size()) {
      c = g.stops.back().color;
    } else {
      const GradientStop& a = g.stops[k - 1];
      const GradientStop& b = g.stops[k];
      const float span = static_cast<float>(b.ratio - a.ratio);
      const float t = span <= 0 ? 1.0f : static_cast<float>(i - a.ratio) / span;
      auto mix = [&](std::uint8_t u, std::uint8_t v, bool colour) {
        float f;
        if (linear && colour) {
          const float lu = SrgbToLinear(u / 255.0f), lv = SrgbToLinear(v / 255.0f);
          f = LinearToSrgb(lu + (lv - lu) * t) * 255.0f;
        } else {
          f = u + (v - u) * t;
        }
        return static_cast<std::uint8_t>(std::clamp(f + 0.5f, 0.0f, 255.0f));
      };
      c = {mix(a.color.r, b.color.r, true), mix(a.color.g, b.color.g, true),
           mix(a.color.b, b.color.b, true), mix(a.color.a, b.color.a, false)};
    }
    lut[static_cast<std::size_t>(i)] = Premul(c);
  }
  return lut;
}

inline std::uint32_t Blend(std::uint32_t dst, std::uint32_t src, unsigned k, std::uint32_t keep) {
  // dst, src premultiplied; k is the coverage 0..255. `keep` masks off the alpha byte of an
  // opaque target.
  const unsigned sa = ((src >> 24) * k + 127) / 255;
  if (sa == 255) return src & keep;
  const unsigned inv = 255 - sa;
  auto ch = [&](int shift) {
    const unsigned s = (src >> shift) & 0xFF, d = (dst >> shift) & 0xFF;
    return ((s * k + d * inv + 127) / 255) << shift;
  };
  return (ch(24) | ch(16) | ch(8) | ch(0)) & keep;
}

inline std::uint32_t KeepMask(const Paint& p) {
  return p.keepAlpha ? 0xFFFFFFFFu : 0x00FFFFFFu;
}

std::uint32_t ApplyCxPremul(std::uint32_t p, const ColorTransform& cx) {
  const unsigned a = p >> 24;
  Rgba c;
  if (a == 0) {
    c = {0, 0, 0, 0};
  } else {
    c.r = static_cast<std::uint8_t>(std::min(255u, (((p >> 16) & 0xFF) * 255 + a / 2) / a));
    c.g = static_cast<std::uint8_t>(std::min(255u, (((p >> 8) & 0xFF) * 255 + a / 2) / a));
    c.b = static_cast<std::uint8_t>(std::min(255u, ((p & 0xFF) * 255 + a / 2) / a));
    c.a = static_cast<std::uint8_t>(a);
  }
  return Premul(cx.Apply(c));
}

inline std::uint32_t Lerp2(std::uint32_t p, std::uint32_t q, unsigned f) {
  // f 0..256
  const std::uint32_t rb = ((((q & 0x00FF00FF) - (p & 0x00FF00FF)) * f) >> 8) + (p & 0x00FF00FF);
  const std::uint32_t ag =
      (((((q >> 8) & 0x00FF00FF) - ((p >> 8) & 0x00FF00FF)) * f) >> 8) + ((p >> 8) & 0x00FF00FF);
  return (rb & 0x00FF00FF) | ((ag & 0x00FF00FF) << 8);
}

std::uint32_t SampleBitmap(const Paint& p, double u, double v) {
  const Bitmap& b = *p.bitmap;
  auto wrap = [&](long long i, int n) -> int {
    if (p.repeat) {
      long long m = i % n;
      return static_cast<int>(m < 0 ? m + n : m);
    }
    return static_cast<int>(i < 0 ? 0 : i >= n ? n - 1 : i);
  };
  u = std::clamp(u, -1e9, 1e9);
  v = std::clamp(v, -1e9, 1e9);
  if (!p.smooth) {
    const int x = wrap(static_cast<long long>(std::floor(u)), b.width);
    const int y = wrap(static_cast<long long>(std::floor(v)), b.height);
    return b.pixels[static_cast<std::size_t>(y) * b.width + x];
  }
  u -= 0.5;
  v -= 0.5;
  const double fu = std::floor(u), fv = std::floor(v);
  const unsigned wx = static_cast<unsigned>((u - fu) * 256),
                 wy = static_cast<unsigned>((v - fv) * 256);
  const long long iu = static_cast<long long>(fu), iv = static_cast<long long>(fv);
  const int x0 = wrap(iu, b.width), x1 = wrap(iu + 1, b.width);
  const int y0 = wrap(iv, b.height), y1 = wrap(iv + 1, b.height);
  const std::uint32_t* r0 = b.pixels.data() + static_cast<std::size_t>(y0) * b.width;
  const std::uint32_t* r1 = b.pixels.data() + static_cast<std::size_t>(y1) * b.width;
  return Lerp2(Lerp2(r0[x0], r0[x1], wx), Lerp2(r1[x0], r1[x1], wx), wy);
}

// Gradient colours are looked up in a table of kGradientSteps entries over t in [0, 1).
constexpr int kGradientBits = 12;
constexpr int kGradientSteps = 1 << kGradientBits;

template <Spread S>
inline int SpreadIndex(long long i) {
  if constexpr (S == Spread::kPad) {
    return static_cast<int>(i < 0 ? 0 : i >= kGradientSteps ? kGradientSteps - 1 : i);
  } else if constexpr (S == Spread::kRepeat) {
    return static_cast<int>(i & (kGradientSteps - 1));
  } else {
    const int m = static_cast<int>(i & (2 * kGradientSteps - 1));
    return m >= kGradientSteps ? 2 * kGradientSteps - 1 - m : m;
  }
}

inline void PutGradientPixel(Pixel* px, std::uint32_t c, unsigned k, std::uint32_t keep) {
  *px = (k == 255 && (c >> 24) == 255) ? (c & keep) : Blend(*px, c, k, keep);
}

template <FillKind K, Spread S>
void GradientSpanT(Pixel* row, int y, int x0, int x1, std::uint8_t cov, const std::uint8_t* mask,
                   const Paint& paint) {
  const Matrix& m = paint.inverse;
  const double cx0 = x0 + 0.5, cy = y + 0.5;
  const double gx0 = (m.a * cx0 + m.c * cy + m.tx) / 16384.0;
  const double gy0 = (m.b * cx0 + m.d * cy + m.ty) / 16384.0;
  const std::uint32_t* lut = paint.lut.data();
  const std::uint32_t keep = KeepMask(paint);
  auto coverage = [&](int x) -> unsigned { return mask ? (cov * mask[x] + 127u) / 255u : cov; };
  if constexpr (K == FillKind::kLinear) {
    // t is linear along the row: step it in 16.16 fixed point of table entries.
    constexpr double kScale = kGradientSteps * 65536.0;
    const double t0 = std::clamp((gx0 + 1.0) * 0.5, -1.0e4, 1.0e4);
    const double dt = std::clamp(m.a / 32768.0, -1.0e4 / 4096, 1.0e4 / 4096);
    long long tf = static_cast<long long>(std::floor(t0 * kScale));
    const long long step = static_cast<long long>(std::floor(dt * kScale));
    if (!mask && cov == 255 && paint.lutOpaque) {
      for (int x = x0; x < x1; ++x, tf += step) row[x] = lut[SpreadIndex<S>(tf >> 16)] & keep;
      return;
    }
    for (int x = x0; x < x1; ++x, tf += step) {
      const unsigned k = coverage(x);
      if (k) PutGradientPixel(row + x, lut[SpreadIndex<S>(tf >> 16)], k, keep);
    }
  } else {
    // Radial and focal: t per pixel, computed four at a time into a small buffer of table
    // positions (t is never negative here, so truncation is the floor).
    const float f = paint.focal;
    const float q = 1.0f - f * f;
    const float ux0 = static_cast<float>(gx0), uy0 = static_cast<float>(gy0);
    const float dux = static_cast<float>(m.a / 16384.0), duy = static_cast<float>(m.b / 16384.0);
    constexpr int kChunk = 64;
    alignas(16) std::int32_t pos[kChunk];
    for (int xs = x0; xs < x1; xs += kChunk) {
      const int n = std::min(kChunk, x1 - xs);
      int j = 0;
#if defined(__SSE2__)
      const __m128 vdux = _mm_set1_ps(dux), vduy = _mm_set1_ps(duy);
      const __m128 vux0 = _mm_set1_ps(ux0), vuy0 = _mm_set1_ps(uy0);
      const __m128 limit = _mm_set1_ps(1.0e4f), zero = _mm_setzero_ps();
      const __m128 steps = _mm_set1_ps(static_cast<float>(kGradientSteps));
      for (; j + 4 <= n; j += 4) {
        const float base = static_cast<float>(xs - x0 + j);
        const __m128 i = _mm_add_ps(_mm_set1_ps(base), _mm_set_ps(3, 2, 1, 0));
        const __m128 ux = _mm_add_ps(vux0, _mm_mul_ps(i, vdux));
        const __m128 uy = _mm_add_ps(vuy0, _mm_mul_ps(i, vduy));
        __m128 t;
        if constexpr (K == FillKind::kRadial) {
          t = _mm_sqrt_ps(_mm_add_ps(_mm_mul_ps(ux, ux), _mm_mul_ps(uy, uy)));
        } else {
          const __m128 vf = _mm_set1_ps(f);
          const __m128 dx = _mm_sub_ps(ux, vf);
          const __m128 fd = _mm_mul_ps(vf, dx);
          const __m128 dd = _mm_add_ps(_mm_mul_ps(dx, dx), _mm_mul_ps(uy, uy));
          const __m128 disc =
              _mm_max_ps(_mm_add_ps(_mm_mul_ps(fd, fd), _mm_mul_ps(_mm_set1_ps(q), dd)), zero);
          t = _mm_div_ps(_mm_add_ps(fd, _mm_sqrt_ps(disc)), _mm_set1_ps(q));
        }
        t = _mm_max_ps(_mm_min_ps(t, limit), zero);  // NaN becomes a bound too
        _mm_store_si128(reinterpret_cast<__m128i*>(pos + j),
                        _mm_cvttps_epi32(_mm_mul_ps(t, steps)));
      }
#endif
      for (; j < n; ++j) {
        const float i = static_cast<float>(xs - x0 + j);
        const float ux = ux0 + i * dux, uy = uy0 + i * duy;
        float t;
        if constexpr (K == FillKind::kRadial) {
          t = std::sqrt(ux * ux + uy * uy);
        } else {
          // The point lies on the segment from the focal point to the circle at parameter t.
          const float dx = ux - f, fd = f * dx, dd = dx * dx + uy * uy;
          t = (fd + std::sqrt(std::max(0.0f, fd * fd + q * dd))) / q;
        }
        t = std::max(std::min(t, 1.0e4f), 0.0f);
        if (!(t == t)) t = 0;
        pos[j] = static_cast<std::int32_t>(t * kGradientSteps);
      }
      Pixel* out = row + xs;
      if (!mask && cov == 255 && paint.lutOpaque) {
        for (j = 0; j < n; ++j) out[j] = lut[SpreadIndex<S>(pos[j])] & keep;
      } else {
        for (j = 0; j < n; ++j) {
          const unsigned k = coverage(xs + j);
          if (k) PutGradientPixel(out + j, lut[SpreadIndex<S>(pos[j])], k, keep);
        }
      }
    }
  }
}

template <FillKind K>
void GradientSpanK(Pixel* row, int y, int x0, int x1, std::uint8_t cov, const std::uint8_t* mask,
                   const Paint& paint) {
  switch (paint.spread) {
    case Spread::kPad:
      return GradientSpanT<K, Spread::kPad>(row, y, x0, x1, cov, mask, paint);
    case Spread::kReflect:
      return GradientSpanT<K, Spread::kReflect>(row, y, x0, x1, cov, mask, paint);
    case Spread::kRepeat:
      return GradientSpanT<K, Spread::kRepeat>(row, y, x0, x1, cov, mask, paint);
  }
}

// The colour table of a gradient: the 256 colours of the stops are read as a strip of texels
// with linear filtering between texel centres (t = 0 and t = 1 fall half a texel inside the
// ends), as the reference player does, sampled at the middle of each table entry. A colour
// transform applies to each sampled colour, after the interpolation.
std::vector<std::uint32_t> BuildLut(const Gradient& g, const ColorTransform& cx) {
  const std::vector<std::uint32_t> stops = BuildStops(g);
  std::vector<std::uint32_t> lut(kGradientSteps);
  for (int j = 0; j < kGradientSteps; ++j) {
    const double t = (j + 0.5) / kGradientSteps;
    const int pos = static_cast<int>(std::floor((t * 256.0 - 0.5) * 256.0 + 0.5));
    const int idx = pos >> 8;
    std::uint32_t c;
    if (pos < 0)
      c = stops[0];
    else if (idx >= 255)
      c = stops[255];
    else
      c = Lerp2(stops[static_cast<std::size_t>(idx)], stops[static_cast<std::size_t>(idx) + 1],
                static_cast<unsigned>(pos & 255));
    lut[static_cast<std::size_t>(j)] = cx.Identity() ? c : ApplyCxPremul(c, cx);
  }
  return lut;
}

void GradientSpan(Pixel* row, int y, int x0, int x1, std::uint8_t cov, const std::uint8_t* mask,
                  const Paint& paint) {
  if (paint.kind == FillKind::kLinear)
    GradientSpanK<FillKind::kLinear>(row, y, x0, x1, cov, mask, paint);
  else if (paint.kind == FillKind::kRadial || paint.focal == 0)
    GradientSpanK<FillKind::kRadial>(row, y, x0, x1, cov, mask, paint);
  else
    GradientSpanK<FillKind::kFocal>(row, y, x0, x1, cov, mask, paint);
}

}  // namespace

bool MakePaint(const FillStyle& fill, const Matrix& toDevice, const ColorTransform& cx,
               const Bitmap* bitmap, bool smoothBitmaps, Paint& paint) {
  paint.kind = fill.kind;
  paint.cxform = cx;
  paint.cxIdentity = cx.Identity();
  switch (fill.kind) {
    case FillKind::kSolid:
      paint.solid = Premul(cx.Apply(fill.color));
      return (paint.solid >> 24) != 0;
    case FillKind::kLinear:
    case FillKind::kRadial:
    case FillKind::kFocal: {
      auto inv = (toDevice * fill.matrix).Inverse();
      if (!inv || fill.gradient.stops.empty()) return false;
      paint.inverse = *inv;
      paint.lut = BuildLut(fill.gradient, cx);
      paint.lutOpaque = std::all_of(paint.lut.begin(), paint.lut.end(),
                                    [](std::uint32_t c) { return (c >> 24) == 255; });
      paint.spread = fill.gradient.spread;
      paint.focal = std::clamp(fill.gradient.focal, -0.98f, 0.98f);
      return true;
    }
    case FillKind::kBitmap: {
      if (!bitmap || bitmap->width <= 0 || bitmap->height <= 0) return false;
      auto inv = (toDevice * fill.matrix).Inverse();
      if (!inv) return false;
      paint.inverse = *inv;
      paint.bitmap = bitmap;
      paint.repeat = fill.repeat;
      paint.smooth = fill.smoothed && smoothBitmaps;
      return true;
    }
  }
  return false;
}

void PaintSpanSolidReference(Pixel* row, int x0, int x1, std::uint8_t coverage,
                             const std::uint8_t* mask, std::uint32_t premultiplied) {
  for (int x = x0; x < x1; ++x) {
    const double k = coverage / 255.0 * (mask ? mask[x] / 255.0 : 1.0);
    const double a = (premultiplied >> 24) / 255.0 * k;
    Pixel out = 0;
    for (int shift : {16, 8, 0}) {
      const double s = ((premultiplied >> shift) & 0xFF) * k;
      const double d = (row[x] >> shift) & 0xFF;
      out |= static_cast<Pixel>(std::lround(s + d * (1 - a))) << shift;
    }
    row[x] = out;
  }
}

void PaintSpan(Pixel* row, int y, int x0, int x1, std::uint8_t cov, const std::uint8_t* mask,
               const Paint& paint) {
  auto coverage = [&](int x) -> unsigned { return mask ? (cov * mask[x] + 127u) / 255u : cov; };
  switch (paint.kind) {
    case FillKind::kSolid: {
      const std::uint32_t src = paint.solid;
      if (!mask && cov == 255 && (src >> 24) == 255) {
        std::fill(row + x0, row + x1, src & KeepMask(paint));  // opaque colour, full coverage
        return;
      }
      if (!mask) {
        // One coverage over the span: the source's share of each channel is worked out once.
        const unsigned sa = ((src >> 24) * cov + 127) / 255;
        const std::uint32_t keep = KeepMask(paint);
        if (sa == 255) {
          std::fill(row + x0, row + x1, src & keep);
          return;
        }
        const unsigned inv = 255 - sa;
        const unsigned sA = (src >> 24) * cov + 127, sR = ((src >> 16) & 0xFF) * cov + 127,
                       sG = ((src >> 8) & 0xFF) * cov + 127, sB = (src & 0xFF) * cov + 127;
        for (int x = x0; x < x1; ++x) {
          const std::uint32_t d = row[x];
          row[x] = (((sA + (d >> 24) * inv) / 255) << 24 |
                    ((sR + ((d >> 16) & 0xFF) * inv) / 255) << 16 |
                    ((sG + ((d >> 8) & 0xFF) * inv) / 255) << 8 | (sB + (d & 0xFF) * inv) / 255) &
                   keep;
        }
        return;
      }
      for (int x = x0; x < x1; ++x) {
        const unsigned k = coverage(x);
        if (k) row[x] = Blend(row[x], src, k, KeepMask(paint));
      }
      return;
    }
    case FillKind::kLinear:
    case FillKind::kRadial:
    case FillKind::kFocal:
      GradientSpan(row, y, x0, x1, cov, mask, paint);
      return;
    case FillKind::kBitmap: {
      const Matrix& m = paint.inverse;
      const double cx0 = x0 + 0.5, cy = y + 0.5;
      double u = m.a * cx0 + m.c * cy + m.tx;
      double v = m.b * cx0 + m.d * cy + m.ty;
      for (int x = x0; x < x1; ++x, u += m.a, v += m.b) {
        const unsigned k = coverage(x);
        if (!k) continue;
        std::uint32_t src = SampleBitmap(paint, u, v);
        if (!paint.cxIdentity) src = ApplyCxPremul(src, paint.cxform);
        row[x] = Blend(row[x], src, k, KeepMask(paint));
      }
      return;
    }
  }
}

}  // namespace dbx::swf
