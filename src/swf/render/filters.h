// Bitmap filters and blend modes on layers of premultiplied ARGB pixels (0xAARRGGBB).
//
// A filtered or blended object is drawn into a layer of its own (its device bounds grown by the
// filters' margins), the filters run over the layer in list order, and the layer is composited
// onto what lies below with the object's blend mode.
#pragma once

#include <cstdint>
#include <vector>

#include "core/surface.h"
#include "swf/format/movie.h"

namespace dbx::swf {

// A picture of premultiplied ARGB pixels, rows of `width` pixels.
struct PixelPlane {
  int width = 0, height = 0;
  // (Large layers on huge pages: a filter's sweep down a strip of columns meets a new page at
  // every row.)
  std::vector<std::uint32_t, PixelAllocator<std::uint32_t>> px;
  std::uint32_t& At(int x, int y) { return px[static_cast<std::size_t>(y) * width + x]; }
  std::uint32_t At(int x, int y) const { return px[static_cast<std::size_t>(y) * width + x]; }
};

// How far a filter list reaches beyond the pixels it is given, on each side.
struct FilterMargins {
  int left = 0, top = 0, right = 0, bottom = 0;
};

// `scale`: device pixels per stage pixel (filter sizes and distances are in stage pixels).
FilterMargins MarginsOf(const std::vector<Filter>& filters, double scale);

// Runs every filter of the list over `plane`, which must already hold the margins around what was
// drawn.
void ApplyFilters(const std::vector<Filter>& filters, double scale, PixelPlane& plane);
void ApplyFilter(const Filter& filter, double scale, PixelPlane& plane);

// Box blur of interleaved 8-bit channels: `channels` bytes per pixel, rows of `width` pixels.
// Each pass averages 2 * radius + 1 pixels across, then down (pixels outside count as 0).
// `edgeX`/`edgeY` (0..255, in 256ths) weigh the two taps just outside each box: boxes of a
// fractional width.
void BoxBlur(std::uint8_t* data, int width, int height, int channels, int radiusX, int radiusY,
             int passes, int edgeX = 0, int edgeY = 0);

// The radius of one box pass for a blur size in device pixels (0: no blur on that axis).
int BlurRadius(double size);

// Blend modes as numbered in the file.
enum class BlendMode : std::uint8_t {
  kNormal = 1,
  kLayer = 2,
  kMultiply = 3,
  kScreen = 4,
  kLighten = 5,
  kDarken = 6,
  kDifference = 7,
  kAdd = 8,
  kSubtract = 9,
  kInvert = 10,
  kAlpha = 11,
  kErase = 12,
  kOverlay = 13,
  kHardLight = 14,
};

// Composites one premultiplied pixel `src` onto `dst` with `mode`. `dstHasAlpha`: the destination
// is a layer (premultiplied with alpha) rather than the opaque screen (alpha byte ignored).
std::uint32_t BlendPixel(std::uint32_t dst, std::uint32_t src, BlendMode mode, bool dstHasAlpha);

// Puts `count` premultiplied pixels of `src` over `dst`: each channel becomes
// src + (dst * (255 - src alpha) + 127) / 255. `keepAlpha`: `dst` is a layer with alpha;
// otherwise it is the opaque screen and its alpha byte is written as 0.
void OverRow(std::uint32_t* dst, const std::uint32_t* src, int count, bool keepAlpha);

// Applies a colour transform to a premultiplied pixel.
std::uint32_t TransformPremultiplied(std::uint32_t p, const ColorTransform& cx);

}  // namespace dbx::swf
