#include "swf/format/filter_tags.h"

#include <cmath>

namespace dbx::swf {

namespace {

// Convolution kernels are at most 255 x 255 in the file; larger ones are not worth their cost.
constexpr int kMaxKernelCells = 32 * 32;

Rgba Color(BitReader& r) {
  Rgba c;
  c.r = r.U8();
  c.g = r.U8();
  c.b = r.U8();
  c.a = r.U8();
  return c;
}

float Fixed(BitReader& r) {
  return static_cast<float>(static_cast<std::int32_t>(r.U32()) / 65536.0);
}

float Fixed8(BitReader& r) {
  return static_cast<float>(static_cast<std::int16_t>(r.U16()) / 256.0);
}

float Finite(float v, float lo, float hi) {
  return std::isfinite(v) ? std::fmin(std::fmax(v, lo), hi) : 0.0f;
}

// The flag byte that ends shadows, glows and bevels: inner, knockout, composite source, then
// (bevels and gradient kinds) on top and 4 bits of passes, else 5 bits of passes.
void Flags(BitReader& r, Filter& f, bool onTopBit) {
  const std::uint8_t b = r.U8();
  f.inner = b & 0x80;
  f.knockout = b & 0x40;
  f.compositeSource = b & 0x20;
  if (onTopBit) {
    f.onTop = b & 0x10;
    f.passes = b & 0x0F;
  } else {
    f.passes = b & 0x1F;
  }
}

void Blur(BitReader& r, Filter& f) {
  f.blurX = Finite(Fixed(r), 0, 255);
  f.blurY = Finite(Fixed(r), 0, 255);
}

}  // namespace

std::vector<Filter> ReadFilterList(BitReader& r) {
  std::vector<Filter> out;
  const int count = r.U8();
  for (int i = 0; i < count && !r.failed(); ++i) {
    Filter f;
    const std::uint8_t kind = r.U8();
    if (kind > static_cast<std::uint8_t>(FilterKind::kGradientBevel)) {
      r.Skip(r.remaining() + 1);  // marks the reader failed
      break;
    }
    f.kind = static_cast<FilterKind>(kind);
    switch (f.kind) {
      case FilterKind::kDropShadow:
        f.colors.push_back({0, Color(r)});
        Blur(r, f);
        f.angle = Finite(Fixed(r), -1e4f, 1e4f);
        f.distance = Finite(Fixed(r), -1e4f, 1e4f);
        f.strength = Finite(Fixed8(r), 0, 255);
        Flags(r, f, false);
        break;
      case FilterKind::kBlur: {
        Blur(r, f);
        f.passes = r.U8() >> 3;
        break;
      }
      case FilterKind::kGlow:
        f.colors.push_back({0, Color(r)});
        Blur(r, f);
        f.strength = Finite(Fixed8(r), 0, 255);
        Flags(r, f, false);
        break;
      case FilterKind::kBevel: {
        // The file holds the highlight colour first, then the shadow colour.
        const Rgba highlight = Color(r);
        const Rgba shadow = Color(r);
        f.colors = {{0, highlight}, {255, shadow}};
        Blur(r, f);
        f.angle = Finite(Fixed(r), -1e4f, 1e4f);
        f.distance = Finite(Fixed(r), -1e4f, 1e4f);
        f.strength = Finite(Fixed8(r), 0, 255);
        Flags(r, f, true);
        break;
      }
      case FilterKind::kGradientGlow:
      case FilterKind::kGradientBevel: {
        const int n = r.U8();
        f.colors.resize(static_cast<std::size_t>(n));
        for (auto& stop : f.colors) stop.color = Color(r);
        for (auto& stop : f.colors) stop.ratio = r.U8();
        Blur(r, f);
        f.angle = Finite(Fixed(r), -1e4f, 1e4f);
        f.distance = Finite(Fixed(r), -1e4f, 1e4f);
        f.strength = Finite(Fixed8(r), 0, 255);
        Flags(r, f, true);
        break;
      }
      case FilterKind::kConvolution: {
        f.matrixX = r.U8();
        f.matrixY = r.U8();
        f.divisor = r.Float32();
        f.bias = r.Float32();
        const std::size_t cells = static_cast<std::size_t>(f.matrixX) * f.matrixY;
        for (std::size_t k = 0; k < cells && !r.failed(); ++k) {
          const float v = r.Float32();
          if (cells <= kMaxKernelCells) f.kernel.push_back(std::isfinite(v) ? v : 0.0f);
        }
        if (cells > kMaxKernelCells) {
          f.matrixX = f.matrixY = 0;
          f.kernel.clear();
        }
        f.defaultColor = Color(r);
        const std::uint8_t b = r.U8();
        f.clamp = b & 2;
        f.preserveAlpha = b & 1;
        if (!std::isfinite(f.divisor)) f.divisor = 1;
        if (!std::isfinite(f.bias)) f.bias = 0;
        break;
      }
      case FilterKind::kColorMatrix:
        for (float& v : f.matrix) {
          v = r.Float32();
          if (!std::isfinite(v)) v = 0;
        }
        break;
    }
    if (!r.failed()) out.push_back(std::move(f));
  }
  return out;
}

}  // namespace dbx::swf
