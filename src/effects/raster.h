// The raster operations of the picture effects, on our own pixels (see surface.h): rectangle copy
// with clipping, the bitwise raster operations, one-pixel lines with the end point excluded, filled
// ellipses, halftone stretching (area average when shrinking) and the per-pixel blends.
//
// Coordinates are 64-bit so that the effects can pass positions grown from any step base without
// overflowing; every operation clips to its surfaces and never touches a pixel outside them.
//
// Every optimised loop has a plain twin, chosen with `Kernel::kPlain`. The plain one is the
// obviously correct statement of the operation; the tests run both on random pictures and require
// identical pixels. The fast ones use SSE2 where the compiler offers it (__SSE2__), nothing wider.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "core/surface.h"

namespace dbx {

using Coord = std::int64_t;

// Which implementation of an optimised loop runs.
enum class Kernel { kFast, kPlain };

// The colour of the stock white pen on our pixels.
inline constexpr Pixel kWhitePen = 0x00FFFFFF;

// ---------------------------------------------------------------------------------------------
// Rectangles.

// Copies the w × h rectangle of `src` whose top left corner is (sx, sy) to `dst` at (dx, dy).
// A pixel is drawn only where both its source and its destination lie inside their surfaces;
// an empty or negative extent draws nothing. `dst` and `src` may share pixels.
void CopyRect(SurfaceView dst, Coord dx, Coord dy, Coord w, Coord h, SurfaceView src, Coord sx,
              Coord sy);

// The same for copies whose pixels are not read again soon (the frames and the final copy of a
// transition): a large block of whole rows (2 MB or more) is written with streaming stores, past
// the caches, instead of by memcpy.
void CopyRectStreamed(SurfaceView dst, Coord dx, Coord dy, Coord w, Coord h, SurfaceView src,
                      Coord sx, Coord sy);

// One run of a row to copy: `w` pixels of row `y` from column `sx` of the source to column `dx` of
// the destination (the same row of both).
struct RowSpan {
  Coord y = 0, sx = 0, dx = 0, w = 0;
};

// Copies the runs in order, each clipped like CopyRect, for frames whose pixels are not read again
// soon: when they add up to 2 MB or more, with streaming stores, and each run has the source of a
// run a few on fetched at the places it reads itself (a transition that copies part of every row
// reads nothing the hardware would fetch on its own).
void CopyRowSpansStreamed(SurfaceView dst, SurfaceView src, const std::vector<RowSpan>& spans);

// Fills the rectangle, clipped to the surface.
void FillRect(SurfaceView dst, Coord x, Coord y, Coord w, Coord h, Pixel p);

// The raster operations the mask transitions use (BitBlt's NOTSRCCOPY, SRCAND, SRCPAINT), on whole
// 32-bit pixels, clipped like CopyRect.
enum class RasterOp { kSrcCopy, kNotSrcCopy, kSrcAnd, kSrcPaint };
void RasterBlt(SurfaceView dst, Coord dx, Coord dy, Coord w, Coord h, SurfaceView src, Coord sx,
               Coord sy, RasterOp op);

// Pixel access with bounds: reading outside gives 0, writing outside does nothing.
Pixel GetPixel(SurfaceView s, Coord x, Coord y);
void SetPixel(SurfaceView s, Coord x, Coord y, Pixel p);

// ---------------------------------------------------------------------------------------------
// Lines: one pixel wide, from (x0, y0) to (x1, y1) with the end point excluded (a move-to and a
// line-to). Pixel i (0 <= i < D, D the longer of |dx| and |dy|) steps i along the major axis and
// round(i × minor / D) (halves up) along the minor one; |dx| == |dy| counts as x-major. The pattern
// depends only on the differences, so a line moved by whole pixels keeps its shape.
struct LineRaster {
  Coord x0 = 0, y0 = 0, x1 = 0, y1 = 0;

  Coord Length() const;  // D: the number of pixels drawn (the end point excluded)
  // The pixel i of the line, 0 <= i < Length().
  void PixelAt(Coord i, Coord* x, Coord* y) const;
  // The pixels of the line on row y form one run of columns [*xa, *xb]; false when none.
  bool RowRun(Coord y, Coord* xa, Coord* xb) const;
  // The same for column x: rows [*ya, *yb].
  bool ColumnRun(Coord x, Coord* ya, Coord* yb) const;
};

void DrawLine(SurfaceView dst, Coord x0, Coord y0, Coord x1, Coord y1, Pixel p,
              Kernel k = Kernel::kFast);

// Calls f(x, y) for every pixel of the line inside [0, w) × [0, h), in drawing order.
template <class F>
void ForEachLinePixelClipped(const LineRaster& line, Coord w, Coord h, F&& f);

// ---------------------------------------------------------------------------------------------
// Filled ellipses: the ellipse inscribed in the box from (l, t) to (r, b), right and bottom edges
// excluded (GDI's Ellipse with a one-pixel pen of the fill's colour). A pixel belongs to it when
// its centre lies inside or on the ellipse. A box with a width or height of zero or less is empty.
struct EllipseRaster {
  Coord l = 0, t = 0, r = 0, b = 0;
  bool Contains(Coord x, Coord y) const;
  // The columns [*xa, *xb] of row y inside the ellipse (unclipped); false when none.
  bool RowSpan(Coord y, Coord* xa, Coord* xb) const;
};

void FillEllipse(SurfaceView dst, Coord l, Coord t, Coord r, Coord b, Pixel p,
                 Kernel k = Kernel::kFast);

// ---------------------------------------------------------------------------------------------
// Halftone stretching along one axis (the other axis keeps its size), which is all the stretch
// transitions need. At set-up the source rectangle is reduced into a chain of 2:1 area averages
// along the axis; a stretch then picks the smallest level at least as large as the destination and
// interpolates linearly between its two nearest pixels (8-bit weights, rounded). Shrinking thus
// averages every source pixel, so a squeezed picture does not shimmer, and each destination pixel
// costs two reads whatever the ratio. The chain reads the source at set-up only (level 0 is a view
// of the source itself when the rectangle lies inside it, else a copy padded with black).
enum class Axis { kHorizontal, kVertical };

class AxisStretcher {
 public:
  AxisStretcher() = default;
  AxisStretcher(SurfaceView src, Coord sx, Coord sy, Coord sw, Coord sh, Axis axis,
                Kernel k = Kernel::kFast);

  // Draws the whole source rectangle into the destination rectangle. Across the axis one source
  // row (or column) makes one destination row (column); extra destination rows get nothing. An
  // extent of zero or less draws nothing (no mirroring). Clipped to `dst`.
  void Draw(SurfaceView dst, Coord dx, Coord dy, Coord dw, Coord dh,
            Kernel k = Kernel::kFast) const;

  int Levels() const { return static_cast<int>(levels_.size()); }

 private:
  SurfaceView Level(int i) const { return levels_[static_cast<std::size_t>(i)]; }
  void DrawHorizontal(SurfaceView dst, Coord dx, Coord dy, Coord dw, Coord dh, Kernel k) const;
  void DrawVertical(SurfaceView dst, Coord dx, Coord dy, Coord dw, Coord dh, Kernel k) const;

  Axis axis_ = Axis::kHorizontal;
  std::vector<SurfaceView> levels_;
  std::vector<std::unique_ptr<Surface>> owned_;
};

// A general halftone stretch of a source rectangle into a destination rectangle (both axes):
// horizontal then vertical, each as AxisStretcher does.
void StretchHalftone(SurfaceView dst, Coord dx, Coord dy, Coord dw, Coord dh, SurfaceView src,
                     Coord sx, Coord sy, Coord sw, Coord sh, Kernel k = Kernel::kFast);

// ---------------------------------------------------------------------------------------------
// Row kernels of the transitions.

// result = ((255 − alpha) × incoming + alpha × outgoing) / 255 per byte (whole-number division),
// alpha 0..255 the share of the outgoing pixel. All four bytes are blended.
constexpr Pixel BlendPixel(Pixel out, Pixel in, int alpha) {
  Pixel r = 0;
  for (int s = 0; s < 32; s += 8) {
    const unsigned o = (out >> s) & 0xFF;
    const unsigned n = (in >> s) & 0xFF;
    const unsigned v =
        ((255u - static_cast<unsigned>(alpha)) * n + static_cast<unsigned>(alpha) * o) / 255u;
    r |= static_cast<Pixel>(v) << s;
  }
  return r;
}
void BlendRow(Pixel* dst, const Pixel* out, const Pixel* in, int count, int alpha, Kernel k);
// The same with one alpha per pixel.
void BlendRowAlphas(Pixel* dst, const Pixel* out, const Pixel* in, const std::uint8_t* alphas,
                    int count, Kernel k);

// The soft rim of a circle on one row: for every x in [x0, x1), alphas[x] = lut[clamp(g − d, 0, e)]
// where d is the distance of the pixel from the centre column cx, on a row dy2 = dy² from the
// centre row, rounded to the nearest whole number. `lut` holds e + 1 values (e >= 0).
void RimAlphas(std::uint8_t* alphas, Coord x0, Coord x1, Coord cx, Coord dy2, Coord g, Coord e,
               const std::uint8_t* lut, Kernel k);

// Copies the pixels of the given parity (x % 2 == parity, x counted from the row start) of
// src[0, count) to dst; the others stay.
void CopyAlternate(Pixel* dst, const Pixel* src, int count, int parity, Kernel k);
// dst[x] = x even ? even[x] : odd[x]. Long rows are written with streaming stores (unless
// `stream` is false: a picture worked on in the cache); `fence` false leaves the store fence to the
// caller (StreamFence after the last row), so that the stores of one row and the next fill the
// cache line they share.
void MergeAlternate(Pixel* dst, const Pixel* even, const Pixel* odd, int count, Kernel k,
                    bool fence = true, bool stream = true);
// dst[x] = x even ? even[x] : odd[x] through the cache. A `packed` row holds only the even pixels,
// one after another: even[x / 2]. With `keep`, the old even pixels of dst go to keep[x / 2] first
// (keep may be `even`: a ring of packed rows, each read and then refilled).
void MergeAlternateRing(Pixel* dst, const Pixel* even, bool packed, const Pixel* odd, Pixel* keep,
                        int count);
// The widest vectors (in bytes: 64, 32 or 16) that the kernels may use where the processor has
// them; 64 by default. Returns the limit it replaces.
int LimitVectorBytes(int bytes);
// Orders the streaming stores made so far before later stores.
void StreamFence();
// Copies the pixels whose flag is non-zero.
void CopyFlagged(Pixel* dst, const Pixel* src, const std::uint8_t* flags, int count);

// What a white pen pixel drawn into the mask, followed by the four raster operations of the mask
// composition, does to the target: t = (t AND NOT white) OR (incoming AND white).
constexpr Pixel RevealPixel(Pixel t, Pixel in) {
  return (t & ~kWhitePen) | (in & kWhitePen);
}
void RevealSpan(Pixel* t, const Pixel* in, int count, Kernel k);

// ---------------------------------------------------------------------------------------------

template <class F>
void ForEachLinePixelClipped(const LineRaster& line, Coord w, Coord h, F&& f) {
  const Coord d = line.Length();
  if (d <= 0 || w <= 0 || h <= 0) return;
  const Coord dx = line.x1 - line.x0, dy = line.y1 - line.y0;
  const Coord sx = dx < 0 ? -1 : 1, sy = dy < 0 ? -1 : 1;
  const Coord adx = dx < 0 ? -dx : dx, ady = dy < 0 ? -dy : dy;
  const bool xmajor = adx >= ady;
  const Coord m = xmajor ? ady : adx;
  // Range of i whose major coordinate lies inside the surface.
  const Coord maj0 = xmajor ? line.x0 : line.y0;
  const Coord smaj = xmajor ? sx : sy;
  const Coord lim = xmajor ? w : h;
  Coord ilo = 0, ihi = d - 1;
  if (smaj > 0) {
    ilo = std::max<Coord>(ilo, -maj0);
    ihi = std::min<Coord>(ihi, lim - 1 - maj0);
  } else {
    ilo = std::max<Coord>(ilo, maj0 - (lim - 1));
    ihi = std::min<Coord>(ihi, maj0);
  }
  if (ilo > ihi) return;
  // Incremental minor coordinate: q = floor((2 i m + d) / 2d).
  const Coord two_d = 2 * d;
  __int128 num = static_cast<__int128>(2) * ilo * m + d;
  Coord q = static_cast<Coord>(num / two_d);
  Coord rem = static_cast<Coord>(num % two_d);
  const Coord minlim = xmajor ? h : w;
  const Coord min0 = xmajor ? line.y0 : line.x0;
  const Coord smin = xmajor ? sy : sx;
  for (Coord i = ilo; i <= ihi; ++i) {
    const Coord minor = min0 + smin * q;
    const Coord major = maj0 + smaj * i;
    if (minor >= 0 && minor < minlim) {
      if (xmajor) {
        f(major, minor);
      } else {
        f(minor, major);
      }
    } else if ((smin > 0 && minor >= minlim) || (smin < 0 && minor < 0)) {
      break;  // the minor coordinate only moves further out
    }
    rem += 2 * m;
    while (rem >= two_d) {
      rem -= two_d;
      ++q;
    }
  }
}

}  // namespace dbx
