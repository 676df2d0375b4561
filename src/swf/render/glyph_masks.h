// Glyphs drawn again and again (static text every frame, a field whose text changes) are
// rasterised once per outline, transform and sub-pixel position into a mask of sample bits, and
// the masks of a run of glyphs are then merged and read out as spans. Merging sample bits rather
// than coverage keeps the result of filling the glyphs together as one polygon: glyphs that share
// a pixel add their samples, not their blended colours.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "swf/format/movie.h"
#include "swf/render/raster.h"

namespace dbx::swf {

struct GlyphMask {
  int x = 0, y = 0;  // top left pixel, from the whole pixel the glyph's origin lies in
  int width = 0, height = 0;
  std::vector<std::uint8_t> bits;  // per pixel: bit s set when its sample on sub-scanline s is in
};

class GlyphMasks {
 public:
  // A glyph's outline under a transform: its linear part and the fraction of a pixel its origin
  // lies past a whole pixel.
  struct Key {
    const Shape* outline = nullptr;
    double a = 1, b = 0, c = 0, d = 1, fx = 0, fy = 0;
    int samples = 1;
    bool nonZero = false;
    bool operator==(const Key&) const = default;
  };

  // Masks larger than this many pixels are not kept (such glyphs are filled directly).
  static constexpr std::size_t kMaxMaskPixels = 256 * 256;
  // The masks kept together hold at most this many pixels.
  static constexpr std::size_t kMaxPixels = 8u << 20;

  // Drops all masks when they come near the limit, or when the outlines may have gone: they
  // belong to another owner (a library of faces) or another generation of it. Masks found or
  // added stay valid until the next call.
  void Trim(const void* owner, std::uint64_t generation);
  const GlyphMask* Find(const Key& key) const;
  // Rasterises `segments` (device pixels, already moved so that the mask's top left pixel is at
  // the origin) into a mask of `width` x `height` placed at (x, y). Spends the crossings it
  // visits from `budget`. Null when the mask is too large, the store is full or the budget ran
  // out.
  const GlyphMask* Add(const Key& key, const std::vector<Segment>& segments, int x, int y,
                       int width, int height, std::size_t& budget);

  // A mask placed with its top left pixel at (x, y) of the target.
  struct Placed {
    const GlyphMask* mask;
    int x, y;
  };
  // Merges the masks (non-zero: the union of their samples; even-odd: samples covered an odd
  // number of times) within the pixels [x0, x1) x [y0, y1) and hands each row's spans of equal
  // coverage to `sink`.
  void Compose(const Placed* placed, std::size_t count, bool nonZero, int samples, int x0, int y0,
               int x1, int y1, Rasterizer::RowSink& sink);

  std::size_t Size() const { return masks_.size(); }

 private:
  struct KeyHash {
    std::size_t operator()(const Key& k) const;
  };
  std::unordered_map<Key, GlyphMask, KeyHash> masks_;
  std::size_t pixels_ = 0;
  const void* owner_ = nullptr;
  std::uint64_t generation_ = 0;
  Rasterizer raster_;
  std::vector<std::uint8_t> plane_;
  std::vector<Span> spans_;
};

}  // namespace dbx::swf
