#include "swf/render/glyph_masks.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace dbx::swf {

std::size_t GlyphMasks::KeyHash::operator()(const Key& k) const {
  std::size_t h = std::hash<const void*>()(k.outline);
  for (const double v : {k.a, k.b, k.c, k.d, k.fx, k.fy}) h = h * 1000003u ^ std::hash<double>()(v);
  return h * 31u + static_cast<std::size_t>(k.samples * 2 + (k.nonZero ? 1 : 0));
}

const GlyphMask* GlyphMasks::Find(const Key& key) const {
  const auto it = masks_.find(key);
  return it == masks_.end() ? nullptr : &it->second;
}

void GlyphMasks::Trim(const void* owner, std::uint64_t generation) {
  if (owner != owner_ || generation != generation_ || pixels_ > kMaxPixels / 4 * 3) {
    owner_ = owner;
    generation_ = generation;
    masks_.clear();
    pixels_ = 0;
  }
}

const GlyphMask* GlyphMasks::Add(const Key& key, const std::vector<Segment>& segments, int x, int y,
                                 int width, int height, std::size_t& budget) {
  if (width <= 0 || height <= 0) return nullptr;
  const std::size_t size = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  if (size > kMaxMaskPixels) return nullptr;
  if (pixels_ + size > kMaxPixels) return nullptr;
  GlyphMask mask;
  mask.x = x;
  mask.y = y;
  mask.width = width;
  mask.height = height;
  mask.bits.assign(size, 0);
  raster_.Reset(width, height, key.samples);
  raster_.SetWorkBudget(budget);
  for (const Segment& s : segments) raster_.AddLine(s.x0, s.y0, s.x1, s.y1);
  raster_.SweepSamples(key.nonZero ? FillRule::kNonZero : FillRule::kEvenOdd, mask.bits.data(),
                       static_cast<std::size_t>(width));
  budget = raster_.WorkBudget();
  if (budget == 0) return nullptr;  // cut short: not a mask to keep
  pixels_ += size;
  return &masks_.insert_or_assign(key, std::move(mask)).first->second;
}

void GlyphMasks::Compose(const Placed* placed, std::size_t count, bool nonZero, int samples, int x0,
                         int y0, int x1, int y1, Rasterizer::RowSink& sink) {
  if (x1 <= x0 || y1 <= y0) return;
  const std::size_t w = static_cast<std::size_t>(x1 - x0);
  plane_.assign(w * static_cast<std::size_t>(y1 - y0), 0);
  for (std::size_t i = 0; i < count; ++i) {
    const Placed& p = placed[i];
    const GlyphMask& m = *p.mask;
    const int ax = std::max(p.x, x0), bx = std::min(p.x + m.width, x1);
    const int ay = std::max(p.y, y0), by = std::min(p.y + m.height, y1);
    for (int y = ay; y < by; ++y) {
      const std::uint8_t* from = m.bits.data() + static_cast<std::size_t>(y - p.y) * m.width;
      std::uint8_t* to = plane_.data() + static_cast<std::size_t>(y - y0) * w;
      if (nonZero) {
        for (int x = ax; x < bx; ++x) to[x - x0] |= from[x - p.x];
      } else {
        for (int x = ax; x < bx; ++x) to[x - x0] ^= from[x - p.x];
      }
    }
  }
  // Each sample inside adds its share; all samples of a pixel make 255.
  std::uint8_t coverage[16];
  const int unit = 256 / samples;
  for (unsigned b = 0; b < 16; ++b)
    coverage[b] = static_cast<std::uint8_t>(std::min(255, std::popcount(b) * unit));
  for (int y = y0; y < y1; ++y) {
    const std::uint8_t* row = plane_.data() + static_cast<std::size_t>(y - y0) * w;
    spans_.clear();
    std::size_t x = 0;
    while (x < w) {
      if (x + 8 <= w) {
        std::uint64_t word;
        std::memcpy(&word, row + x, 8);
        if (!word) {
          x += 8;
          continue;
        }
      }
      if (!row[x]) {
        ++x;
        continue;
      }
      const std::uint8_t c = coverage[row[x] & 15];
      std::size_t e = x + 1;
      while (e < w && row[e] && coverage[row[e] & 15] == c) ++e;
      spans_.push_back({x0 + static_cast<int>(x), x0 + static_cast<int>(e), c});
      x = e;
    }
    if (!spans_.empty()) sink.Row(y, spans_.data(), spans_.size());
  }
}

}  // namespace dbx::swf
