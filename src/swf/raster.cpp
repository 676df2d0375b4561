#include "swf/raster.h"

#include <algorithm>
#include <cmath>

namespace dbx::swf {

namespace {

// Coordinates far outside any target are pulled in so that float arithmetic stays exact enough;
// a line that far away crosses the target only as a vertical or horizontal boundary anyway.
constexpr float kFar = 1.0e6f;
float Tame(float v) {
  return v < -kFar ? -kFar : v > kFar ? kFar : v;
}

}  // namespace

void Rasterizer::Reset(int width, int height, int subSamples) {
  width_ = std::max(width, 0);
  height_ = std::max(height, 0);
  sub_ = subSamples >= 4 ? 4 : subSamples >= 2 ? 2 : 1;
  edges_.clear();
  if (acc_.size() < static_cast<std::size_t>(width_) + 2) {
    acc_.assign(static_cast<std::size_t>(width_) + 2, 0);
    cov_.assign(static_cast<std::size_t>(width_) + 2, 0);
  }
}

void Rasterizer::AddLine(float x0, float y0, float x1, float y1) {
  if (!std::isfinite(x0) || !std::isfinite(y0) || !std::isfinite(x1) || !std::isfinite(y1)) return;
  x0 = Tame(x0);
  y0 = Tame(y0);
  x1 = Tame(x1);
  y1 = Tame(y1);
  if (y0 == y1) return;
  Edge e;
  if (y0 < y1) {
    e = {x0, y0, x1, y1, 0, 1};
  } else {
    e = {x1, y1, x0, y0, 0, -1};
  }
  if (e.y1 <= 0 || e.y0 >= static_cast<float>(height_)) return;
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

void Rasterizer::SweepTo(FillRule rule, RowSink& sink) {
  if (edges_.empty() || width_ == 0 || height_ == 0) return;
  std::sort(edges_.begin(), edges_.end(), [](const Edge& a, const Edge& b) { return a.y0 < b.y0; });
  double top = edges_.front().y0;
  double bottom = top;
  for (const Edge& e : edges_) bottom = std::max(bottom, e.y1);
  const int yStart = std::max(0, static_cast<int>(std::floor(top)));
  const int yEnd = std::min(height_, static_cast<int>(std::ceil(bottom)));
  const double W = width_;
  const int unit = 256 / sub_;
  active_.clear();
  std::size_t next = 0;
  for (int y = yStart; y < yEnd; ++y) {
    int minX = width_, maxX = -1;
    for (int s = 0; s < sub_; ++s) {
      const float sy =
          static_cast<float>(y) + (static_cast<float>(s) + 0.5f) / static_cast<float>(sub_);
      while (next < edges_.size() && edges_[next].y0 <= sy)
        active_.push_back(static_cast<int>(next++));
      cross_.clear();
      for (std::size_t i = 0; i < active_.size();) {
        const Edge& e = edges_[static_cast<std::size_t>(active_[i])];
        if (e.y1 <= sy) {
          active_[i] = active_.back();
          active_.pop_back();
          continue;
        }
        if (e.y0 <= sy) cross_.push_back({e.x0 + (sy - e.y0) * e.dxdy, e.dir});
        ++i;
      }
      if (cross_.size() < 2) continue;
      // Insertion sort: the lists are short and nearly sorted from one sub-scanline to the next.
      for (std::size_t i = 1; i < cross_.size(); ++i) {
        const Cross c = cross_[i];
        std::size_t j = i;
        while (j > 0 && cross_[j - 1].x > c.x) {
          cross_[j] = cross_[j - 1];
          --j;
        }
        cross_[j] = c;
      }
      int winding = 0;
      for (std::size_t i = 0; i + 1 < cross_.size(); ++i) {
        winding += cross_[i].dir;
        const bool inside = rule == FillRule::kNonZero ? winding != 0 : (winding & 1) != 0;
        if (!inside) continue;
        double xa = cross_[i].x, xb = cross_[i + 1].x;
        if (xb <= 0 || xa >= W || xb <= xa) continue;
        if (sub_ == 1) {
          // Pixel centres inside [xa, xb).
          const int a = std::max(0, static_cast<int>(std::ceil(xa - 0.5)));
          const int b = std::min(width_, static_cast<int>(std::ceil(xb - 0.5)));
          if (a >= b) continue;
          for (int x = a; x < b; ++x) acc_[static_cast<std::size_t>(x)] = 256;
          minX = std::min(minX, a);
          maxX = std::max(maxX, b - 1);
          continue;
        }
        xa = std::max(xa, 0.0);
        xb = std::min(xb, W);
        const int a = static_cast<int>(xa);
        const int b = static_cast<int>(xb);
        if (a == b) {
          acc_[static_cast<std::size_t>(a)] += static_cast<std::uint16_t>((xb - xa) * unit + 0.5);
        } else {
          acc_[static_cast<std::size_t>(a)] +=
              static_cast<std::uint16_t>((a + 1 - xa) * unit + 0.5);
          for (int x = a + 1; x < b; ++x)
            acc_[static_cast<std::size_t>(x)] += static_cast<std::uint16_t>(unit);
          if (b < width_)
            acc_[static_cast<std::size_t>(b)] += static_cast<std::uint16_t>((xb - b) * unit + 0.5);
        }
        minX = std::min(minX, a);
        maxX = std::max(maxX, std::min(b, width_ - 1));
      }
    }
    if (maxX < minX) continue;
    for (int x = minX; x <= maxX; ++x) {
      const unsigned v = acc_[static_cast<std::size_t>(x)];
      cov_[static_cast<std::size_t>(x)] = static_cast<std::uint8_t>(v >= 255 ? 255 : v);
      acc_[static_cast<std::size_t>(x)] = 0;
    }
    sink.Row(y, minX, maxX + 1, cov_.data());
  }
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

std::vector<std::uint32_t> BuildLut(const Gradient& g, const ColorTransform& cx) {
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
    lut[static_cast<std::size_t>(i)] = Premul(cx.Apply(c));
  }
  return lut;
}

inline float SpreadT(float t, Spread s) {
  switch (s) {
    case Spread::kPad:
      return t < 0 ? 0 : t > 1 ? 1 : t;
    case Spread::kRepeat:
      return t - std::floor(t);
    case Spread::kReflect: {
      float m = t - 2.0f * std::floor(t * 0.5f);
      return m > 1 ? 2 - m : m;
    }
  }
  return t;
}

inline std::uint32_t Blend(std::uint32_t dst, std::uint32_t src, unsigned k) {
  // dst, src premultiplied (dst opaque); k is the coverage 0..255.
  const unsigned sa = ((src >> 24) * k + 127) / 255;
  if (sa == 255) return src & 0xFFFFFF;
  const unsigned inv = 255 - sa;
  auto ch = [&](int shift) {
    const unsigned s = (src >> shift) & 0xFF, d = (dst >> shift) & 0xFF;
    return ((s * k + d * inv + 127) / 255) << shift;
  };
  return ch(16) | ch(8) | ch(0);
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

void PaintSpanSolidReference(Pixel* row, int x0, int x1, const std::uint8_t* cov,
                             std::uint32_t premultiplied) {
  for (int x = x0; x < x1; ++x) {
    const double k = cov[x] / 255.0;
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

void PaintSpan(Pixel* row, int y, int x0, int x1, const std::uint8_t* cov, const std::uint8_t* mask,
               const Paint& paint) {
  auto coverage = [&](int x) -> unsigned {
    unsigned k = cov[x];
    if (mask) k = (k * mask[x] + 127) / 255;
    return k;
  };
  switch (paint.kind) {
    case FillKind::kSolid: {
      const std::uint32_t src = paint.solid;
      for (int x = x0; x < x1; ++x) {
        const unsigned k = coverage(x);
        if (k) row[x] = Blend(row[x], src, k);
      }
      return;
    }
    case FillKind::kLinear:
    case FillKind::kRadial:
    case FillKind::kFocal: {
      const Matrix& m = paint.inverse;
      const double cx0 = x0 + 0.5, cy = y + 0.5;
      double gx = m.a * cx0 + m.c * cy + m.tx;
      double gy = m.b * cx0 + m.d * cy + m.ty;
      const std::uint32_t* lut = paint.lut.data();
      const float f = paint.focal;
      for (int x = x0; x < x1; ++x, gx += m.a, gy += m.b) {
        const unsigned k = coverage(x);
        if (!k) continue;
        float t;
        const float ux = static_cast<float>(gx / 16384.0), uy = static_cast<float>(gy / 16384.0);
        if (paint.kind == FillKind::kLinear) {
          t = (ux + 1.0f) * 0.5f;
        } else if (paint.kind == FillKind::kRadial || f == 0) {
          t = std::sqrt(ux * ux + uy * uy);
        } else {
          // The point lies on the segment from the focal point to the circle at parameter t.
          const float dx = ux - f, dy = uy;
          const float fd = f * dx;
          const float dd = dx * dx + dy * dy;
          const float q = 1.0f - f * f;
          t = (fd + std::sqrt(std::max(0.0f, fd * fd + q * dd))) / q;
        }
        if (!std::isfinite(t)) t = 0;
        t = SpreadT(t, paint.spread);
        // The 256 colours are read as a strip of texels with linear filtering between texel
        // centres (t = 0 and t = 1 fall half a texel inside the ends), as the reference player
        // does; stop ratios are whole texels, so this is exact between stops.
        const int pos = static_cast<int>((t * 256.0f - 0.5f) * 256.0f + 0.5f);
        const int idx = pos >> 8;
        std::uint32_t c;
        if (idx >= 255)
          c = lut[255];
        else if (idx < 0)
          c = lut[0];
        else
          c = Lerp2(lut[idx], lut[idx + 1], static_cast<unsigned>(pos & 255));
        row[x] = Blend(row[x], c, k);
      }
      return;
    }
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
        row[x] = Blend(row[x], src, k);
      }
      return;
    }
  }
}

}  // namespace dbx::swf
