#include "effects/raster.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>

#include "effects/numeric.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

// The whole-frame blend and the comb's merge also have AVX2 loops, chosen at run time when the
// processor has AVX2.
// Not in the Windows build: MinGW-w64 GCC does not keep 32-byte stack alignment for AVX spills.
#if defined(__SSE2__) && defined(__GNUC__) && defined(__x86_64__) && !defined(_WIN32)
#define DBX_BLEND_AVX2 1
#include <immintrin.h>
#endif

namespace dbx {

namespace {

// Clips a copy of length n from source position s (limit sl) to destination position d (limit
// dl): returns the offset into the span and the clipped length.
bool ClipAxis(Coord& d, Coord& s, Coord& n, Coord dl, Coord sl) {
  if (n <= 0) return false;
  Coord lo = 0;
  lo = std::max(lo, -d);
  lo = std::max(lo, -s);
  Coord hi = n;
  hi = std::min(hi, dl - d);
  hi = std::min(hi, sl - s);
  if (hi <= lo) return false;
  d += lo;
  s += lo;
  n = hi - lo;
  return true;
}

inline bool Overlaps(const SurfaceView& a, const SurfaceView& b) {
  if (a.data() == nullptr || b.data() == nullptr) return false;
  const Pixel* a0 = a.data();
  const Pixel* a1 = a.data() + a.stride() * std::max(a.height(), 1);
  const Pixel* b0 = b.data();
  const Pixel* b1 = b.data() + b.stride() * std::max(b.height(), 1);
  return a0 < b1 && b0 < a1;
}

}  // namespace

namespace {

constexpr std::uintptr_t kPrefetchBytes = 8192;

#ifdef __SSE2__
// The whole-frame passes (copies and blends) read one or two pictures and write another with
// streaming stores; left to the hardware prefetcher alone, the read streams arrive late and a 4K
// cross-fade takes much longer than its memory traffic needs. Asking for the cache line 8 KiB ahead
// in each read stream, once per 16 pixels (one line), has it in the cache when the loop gets there.
// A prefetch never faults, so the lines past the end of a picture need no test; the address is
// formed as an integer because it may lie outside the picture.
// A copy of part of each row fetches, instead, the same place of a row a few rows on: the bytes
// just past the part it copies are not the next ones it reads.
inline void PrefetchLine(const Pixel* p, std::uintptr_t delta) {
  _mm_prefetch(reinterpret_cast<const char*>(reinterpret_cast<std::uintptr_t>(p) + delta),
               _MM_HINT_T0);
}
inline void PrefetchLineAhead(const Pixel* p) {
  PrefetchLine(p, kPrefetchBytes);
}
inline void PrefetchAhead(const Pixel* out, const Pixel* in) {
  PrefetchLineAhead(out);
  PrefetchLineAhead(in);
}
#endif

// Large copies bypass the cache with streaming stores: the destination's old contents need not be
// read first, which is what makes a plain memcpy of a whole frame cheaper than a loop of stores.
constexpr std::size_t kStreamBytes = std::size_t{2} << 20;

// The widest vectors the kernels may use (the tests take every kind of loop on one machine).
std::atomic<int> vectorLimit{64};

#ifdef DBX_BLEND_AVX2
// Whether the processor has 64-byte vectors with byte and 16-bit lanes (and they may be used).
bool HasAvx512() {
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") != 0 && __builtin_cpu_supports("avx512bw") != 0;
  }();
  return has && vectorLimit.load(std::memory_order_relaxed) >= 64;
}

// The same with byte permutations (and 128- and 256-bit forms of the 512-bit operations).
bool HasAvx512Vbmi() {
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512vbmi") != 0 && __builtin_cpu_supports("avx512vl") != 0;
  }();
  return has && HasAvx512();
}

// StreamRow's loop with whole cache lines per store, from a destination on a line; returns the
// pixels done.
__attribute__((target("avx512f"))) std::size_t StreamLines(Pixel* d, const Pixel* s, std::size_t n,
                                                           std::uintptr_t delta) {
  std::size_t i = 0;
  for (; i + 16 <= n; i += 16) {
    PrefetchLine(s + i, delta);
    _mm512_stream_si512(reinterpret_cast<__m512i*>(d + i), _mm512_loadu_si512(s + i));
  }
  _mm256_zeroupper();
  return i;
}
#endif

// Copies n pixels with streaming stores, fetching ahead the line `delta` bytes on from each source
// line it reads (by default the one 8 KiB further along the same row).
#ifdef __SSE2__
void StreamRow(Pixel* d, const Pixel* s, std::size_t n, std::uintptr_t delta = kPrefetchBytes) {
  std::size_t i = 0;
  while (i < n && (reinterpret_cast<std::uintptr_t>(d + i) & 15u) != 0) {
    d[i] = s[i];
    ++i;
  }
#ifdef DBX_BLEND_AVX2
  if (HasAvx512() && n - i >= 64) {
    for (; i < n && (reinterpret_cast<std::uintptr_t>(d + i) & 63u) != 0; i += 4)
      _mm_stream_si128(reinterpret_cast<__m128i*>(d + i),
                       _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i)));
    i += StreamLines(d + i, s + i, n - i, delta);
  }
#endif
  for (; i + 4 <= n; i += 4) {
    if ((i & 15) == 0) PrefetchLine(s + i, delta);
    _mm_stream_si128(reinterpret_cast<__m128i*>(d + i),
                     _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i)));
  }
  for (; i < n; ++i) d[i] = s[i];
}
#else
void StreamRow(Pixel* d, const Pixel* s, std::size_t n, std::uintptr_t = 0) {
  std::memcpy(d, s, n * sizeof(Pixel));
}
#endif

// How many rows on a copy of `bytes` of each row fetches: two, or as many as reach 8 KiB, at most
// 16.
std::size_t RowsAhead(std::size_t bytes) {
  return std::clamp<std::size_t>((8192 + bytes - 1) / std::max<std::size_t>(bytes, 1), 2, 16);
}

}  // namespace

void StreamFence() {
#ifdef __SSE2__
  _mm_sfence();
#endif
}

namespace {

void CopyRectImpl(SurfaceView dst, Coord dx, Coord dy, Coord w, Coord h, SurfaceView src, Coord sx,
                  Coord sy, bool stream_blocks) {
  if (!ClipAxis(dx, sx, w, dst.width(), src.width())) return;
  if (!ClipAxis(dy, sy, h, dst.height(), src.height())) return;
  const bool overlap = Overlaps(dst, src);
  const auto bytes = static_cast<std::size_t>(w) * sizeof(Pixel);
  if (overlap && dy > sy) {
    // Copy bottom-up so that a source row is read before it is overwritten.
    for (Coord r = h - 1; r >= 0; --r) {
      std::memmove(dst.Row(static_cast<int>(dy + r)) + dx, src.Row(static_cast<int>(sy + r)) + sx,
                   bytes);
    }
    return;
  }
  if (!overlap && dx == 0 && sx == 0 && w == dst.width() && w == src.width() && dst.stride() == w &&
      src.stride() == w) {
    // Whole rows of two contiguous pictures: one block, streamed when large.
    const std::size_t block = bytes * static_cast<std::size_t>(h);
    if (stream_blocks && block >= kStreamBytes) {
      StreamRow(dst.Row(static_cast<int>(dy)), src.Row(static_cast<int>(sy)),
                block / sizeof(Pixel));
      StreamFence();
    } else {
      std::memcpy(dst.Row(static_cast<int>(dy)), src.Row(static_cast<int>(sy)), block);
    }
    return;
  }
  const bool stream = !overlap && w >= 64 && bytes * static_cast<std::size_t>(h) >= kStreamBytes;
  const std::uintptr_t delta =
      w == src.stride()
          ? kPrefetchBytes
          : static_cast<std::uintptr_t>(RowsAhead(bytes) * static_cast<std::size_t>(src.stride()) *
                                        sizeof(Pixel));
  for (Coord r = 0; r < h; ++r) {
    Pixel* d = dst.Row(static_cast<int>(dy + r)) + dx;
    const Pixel* s = src.Row(static_cast<int>(sy + r)) + sx;
    if (overlap) {
      std::memmove(d, s, bytes);
    } else if (stream) {
      StreamRow(d, s, static_cast<std::size_t>(w), delta);
    } else {
      std::memcpy(d, s, bytes);
    }
  }
  if (stream) StreamFence();
}

}  // namespace

void CopyRect(SurfaceView dst, Coord dx, Coord dy, Coord w, Coord h, SurfaceView src, Coord sx,
              Coord sy) {
  CopyRectImpl(dst, dx, dy, w, h, src, sx, sy, false);
}

void CopyRectStreamed(SurfaceView dst, Coord dx, Coord dy, Coord w, Coord h, SurfaceView src,
                      Coord sx, Coord sy) {
  CopyRectImpl(dst, dx, dy, w, h, src, sx, sy, true);
}

void CopyRowSpansStreamed(SurfaceView dst, SurfaceView src, const std::vector<RowSpan>& spans) {
  if (Overlaps(dst, src)) {
    for (const RowSpan& r : spans) CopyRect(dst, r.dx, r.y, r.w, 1, src, r.sx, r.y);
    return;
  }
  // Clipped first, so that each copy knows where the ones after it read.
  struct Run {
    Pixel* d;
    const Pixel* s;
    std::size_t n;
  };
  std::vector<Run> runs;
  runs.reserve(spans.size());
  std::size_t total = 0;
  for (const RowSpan& r : spans) {
    Coord dx = r.dx, sx = r.sx, w = r.w;
    if (r.y < 0 || r.y >= dst.height() || r.y >= src.height()) continue;
    if (!ClipAxis(dx, sx, w, dst.width(), src.width())) continue;
    const int y = static_cast<int>(r.y);
    runs.push_back({dst.Row(y) + dx, src.Row(y) + sx, static_cast<std::size_t>(w)});
    total += static_cast<std::size_t>(w) * sizeof(Pixel);
  }
  const bool stream = total >= kStreamBytes;
  for (std::size_t k = 0; k < runs.size(); ++k) {
    const Run& r = runs[k];
    const std::size_t bytes = r.n * sizeof(Pixel);
    if (!stream || r.n < 64) {
      std::memcpy(r.d, r.s, bytes);
      continue;
    }
    // The run a few on (as many as reach 8 KiB) is fetched at the places this one reads.
    const Run& next = runs[std::min(k + RowsAhead(bytes), runs.size() - 1)];
    StreamRow(r.d, r.s, r.n,
              reinterpret_cast<std::uintptr_t>(next.s) - reinterpret_cast<std::uintptr_t>(r.s));
  }
  if (stream) StreamFence();
}

void FillRect(SurfaceView dst, Coord x, Coord y, Coord w, Coord h, Pixel p) {
  if (w <= 0 || h <= 0) return;
  const Coord x0 = std::max<Coord>(x, 0), x1 = std::min<Coord>(x + w, dst.width());
  const Coord y0 = std::max<Coord>(y, 0), y1 = std::min<Coord>(y + h, dst.height());
  if (x0 >= x1 || y0 >= y1) return;
  for (Coord r = y0; r < y1; ++r) std::fill_n(dst.Row(static_cast<int>(r)) + x0, x1 - x0, p);
}

void RasterBlt(SurfaceView dst, Coord dx, Coord dy, Coord w, Coord h, SurfaceView src, Coord sx,
               Coord sy, RasterOp op) {
  if (op == RasterOp::kSrcCopy) {
    CopyRect(dst, dx, dy, w, h, src, sx, sy);
    return;
  }
  if (!ClipAxis(dx, sx, w, dst.width(), src.width())) return;
  if (!ClipAxis(dy, sy, h, dst.height(), src.height())) return;
  for (Coord r = 0; r < h; ++r) {
    Pixel* d = dst.Row(static_cast<int>(dy + r)) + dx;
    const Pixel* s = src.Row(static_cast<int>(sy + r)) + sx;
    switch (op) {
      case RasterOp::kNotSrcCopy:
        for (Coord i = 0; i < w; ++i) d[i] = ~s[i];
        break;
      case RasterOp::kSrcAnd:
        for (Coord i = 0; i < w; ++i) d[i] &= s[i];
        break;
      case RasterOp::kSrcPaint:
        for (Coord i = 0; i < w; ++i) d[i] |= s[i];
        break;
      case RasterOp::kSrcCopy:
        break;
    }
  }
}

Pixel GetPixel(SurfaceView s, Coord x, Coord y) {
  if (x < 0 || y < 0 || x >= s.width() || y >= s.height()) return 0;
  return s.At(static_cast<int>(x), static_cast<int>(y));
}

void SetPixel(SurfaceView s, Coord x, Coord y, Pixel p) {
  if (x < 0 || y < 0 || x >= s.width() || y >= s.height()) return;
  s.At(static_cast<int>(x), static_cast<int>(y)) = p;
}

// ---------------------------------------------------------------------------------------------
// Lines.

Coord LineRaster::Length() const {
  const Coord adx = x1 > x0 ? x1 - x0 : x0 - x1;
  const Coord ady = y1 > y0 ? y1 - y0 : y0 - y1;
  return std::max(adx, ady);
}

void LineRaster::PixelAt(Coord i, Coord* x, Coord* y) const {
  const Coord d = Length();
  const Coord dx = x1 - x0, dy = y1 - y0;
  const Coord sx = dx < 0 ? -1 : 1, sy = dy < 0 ? -1 : 1;
  const Coord adx = dx * sx, ady = dy * sy;
  if (adx >= ady) {
    *x = x0 + sx * i;
    *y = y0 + sy * static_cast<Coord>((static_cast<__int128>(2) * i * ady + d) / (2 * d));
  } else {
    *y = y0 + sy * i;
    *x = x0 + sx * static_cast<Coord>((static_cast<__int128>(2) * i * adx + d) / (2 * d));
  }
}

namespace {

// For a line given along (major, minor) axes: the i range whose minor coordinate equals `target`.
bool MinorRun(Coord min0, Coord smin, Coord m, Coord d, Coord target, Coord* ilo, Coord* ihi) {
  const Coord q = (target - min0) * smin;
  if (q < 0) return false;
  Coord lo, hi;
  if (m == 0) {
    if (q != 0) return false;
    lo = 0;
    hi = d - 1;
  } else {
    // floor((2 i m + d) / 2d) == q  <=>  2qd - d <= 2 i m < 2qd + d
    const __int128 a = static_cast<__int128>(2) * q * d - d;
    const __int128 b = static_cast<__int128>(2) * q * d + d - 1;
    const __int128 two_m = static_cast<__int128>(2) * m;
    __int128 l = a >= 0 ? (a + two_m - 1) / two_m : -((-a) / two_m);
    __int128 h = b >= 0 ? b / two_m : -((-b + two_m - 1) / two_m);
    if (l < 0) l = 0;
    if (h > d - 1) h = d - 1;
    if (l > h) return false;
    lo = static_cast<Coord>(l);
    hi = static_cast<Coord>(h);
  }
  lo = std::max<Coord>(lo, 0);
  hi = std::min<Coord>(hi, d - 1);
  if (lo > hi) return false;
  *ilo = lo;
  *ihi = hi;
  return true;
}

bool RunOn(Coord a0, Coord a1, Coord b0, Coord b1, Coord value, Coord* ra, Coord* rb) {
  // The line's pixels whose `a` coordinate equals `value`, as a run of `b` coordinates. The line
  // is x-major for a = y (rows), and so on; ties (|da| == |db|) give the same pixels either way.
  const Coord da = a1 - a0, db = b1 - b0;
  const Coord sa = da < 0 ? -1 : 1, sb = db < 0 ? -1 : 1;
  const Coord ada = da * sa, adb = db * sb;
  const Coord d = std::max(ada, adb);
  if (d <= 0) return false;
  if (adb >= ada) {
    // b is the major axis: find the i with minor (a) coordinate == value.
    Coord ilo, ihi;
    if (!MinorRun(a0, sa, ada, d, value, &ilo, &ihi)) return false;
    const Coord p = b0 + sb * ilo, q = b0 + sb * ihi;
    *ra = std::min(p, q);
    *rb = std::max(p, q);
    return true;
  }
  // a is the major axis: one pixel at i = (value - a0) * sa.
  const Coord i = (value - a0) * sa;
  if (i < 0 || i >= d) return false;
  const Coord b = b0 + sb * static_cast<Coord>((static_cast<__int128>(2) * i * adb + d) / (2 * d));
  *ra = *rb = b;
  return true;
}

}  // namespace

bool LineRaster::RowRun(Coord y, Coord* xa, Coord* xb) const {
  return RunOn(y0, y1, x0, x1, y, xa, xb);
}

bool LineRaster::ColumnRun(Coord x, Coord* ya, Coord* yb) const {
  return RunOn(x0, x1, y0, y1, x, ya, yb);
}

void DrawLine(SurfaceView dst, Coord x0, Coord y0, Coord x1, Coord y1, Pixel p, Kernel k) {
  const LineRaster line{x0, y0, x1, y1};
  if (k == Kernel::kPlain) {
    const Coord d = line.Length();
    for (Coord i = 0; i < d; ++i) {
      Coord x, y;
      line.PixelAt(i, &x, &y);
      SetPixel(dst, x, y, p);
    }
    return;
  }
  ForEachLinePixelClipped(line, dst.width(), dst.height(), [&](Coord x, Coord y) {
    dst.At(static_cast<int>(x), static_cast<int>(y)) = p;
  });
}

// ---------------------------------------------------------------------------------------------
// Ellipses.

namespace {
using I128 = __int128;

I128 ISqrtFloor(I128 v) {
  if (v <= 0) return 0;
  I128 r = static_cast<I128>(std::sqrt(static_cast<long double>(v)));
  while (r > 0 && r * r > v) --r;
  while ((r + 1) * (r + 1) <= v) ++r;
  return r;
}
}  // namespace

bool EllipseRaster::Contains(Coord x, Coord y) const {
  const Coord a = r - l, bb = b - t;
  if (a <= 0 || bb <= 0) return false;
  const I128 u = static_cast<I128>(2) * x + 1 - (l + r);
  const I128 v = static_cast<I128>(2) * y + 1 - (t + b);
  const I128 A = a, B = bb;
  return u * u * B * B + v * v * A * A <= A * A * B * B;
}

namespace {
// RowSpan in 64-bit integers, for boxes of sides below 2^15 and rows within 2^15 of them, where
// every product stays below 2^62: the shows' circles ask for a span per row and frame, and the
// 128-bit arithmetic cost more than the reveal of the pixels themselves.
bool RowSpan64(Coord l, Coord t, Coord r, Coord b, Coord y, Coord* xa, Coord* xb) {
  const std::int64_t A = r - l, B = b - t;
  const std::int64_t v = 2 * y + 1 - (t + b);
  const std::int64_t rest = B * B - v * v;
  if (rest < 0) return false;
  const std::int64_t limit = A * A * rest, BB = B * B;
  auto fits = [&](std::int64_t u) { return u * u * BB <= limit; };
  auto umax = static_cast<std::int64_t>(
      std::sqrt(static_cast<double>(A) * A * static_cast<double>(rest) / static_cast<double>(BB)));
  while (umax >= 0 && !fits(umax)) --umax;
  while (fits(umax + 1)) ++umax;
  const std::int64_t c = l + r - 1;
  const std::int64_t lo_num = c - umax, hi_num = c + umax;
  const std::int64_t lo = lo_num >= 0 ? (lo_num + 1) / 2 : -((-lo_num) / 2);
  const std::int64_t hi = hi_num >= 0 ? hi_num / 2 : -((-hi_num + 1) / 2);
  if (lo > hi) return false;
  *xa = lo;
  *xb = hi;
  return true;
}
}  // namespace

bool EllipseRaster::RowSpan(Coord y, Coord* xa, Coord* xb) const {
  const Coord a = r - l, bb = b - t;
  if (a <= 0 || bb <= 0) return false;
  constexpr Coord kSmall = Coord{1} << 15, kNear = Coord{1} << 40;
  if (a < kSmall && bb < kSmall && l > -kNear && l < kNear && t > -kNear && t < kNear &&
      y > t - kSmall && y < b + kSmall)
    return RowSpan64(l, t, r, b, y, xa, xb);
  const I128 v = static_cast<I128>(2) * y + 1 - (t + b);
  const I128 A = a, B = bb;
  const I128 rest = B * B - v * v;  // u² B² <= A² (B² − v²)
  if (rest < 0) return false;
  // Largest u with u² B² <= A² rest, i.e. u <= A sqrt(rest) / B.
  I128 umax = ISqrtFloor(A * A * rest / (B * B));
  while (umax >= 0 && umax * umax * B * B > A * A * rest) --umax;
  while ((umax + 1) * (umax + 1) * B * B <= A * A * rest) ++umax;
  // u = 2x + 1 − (l + r) must lie in [−umax, umax].
  const I128 c = l + r - 1;
  // x >= (c − umax) / 2, x <= (c + umax) / 2
  const I128 lo_num = c - umax, hi_num = c + umax;
  I128 lo = lo_num >= 0 ? (lo_num + 1) / 2 : -((-lo_num) / 2);
  I128 hi = hi_num >= 0 ? hi_num / 2 : -((-hi_num + 1) / 2);
  if (lo > hi) return false;
  *xa = static_cast<Coord>(lo);
  *xb = static_cast<Coord>(hi);
  return true;
}

void FillEllipse(SurfaceView dst, Coord l, Coord t, Coord r, Coord b, Pixel p, Kernel k) {
  const EllipseRaster e{l, t, r, b};
  if (r - l <= 0 || b - t <= 0) return;
  const Coord y0 = std::max<Coord>(t, 0), y1 = std::min<Coord>(b, dst.height());
  if (k == Kernel::kPlain) {
    const Coord x0 = std::max<Coord>(l, 0), x1 = std::min<Coord>(r, dst.width());
    for (Coord y = y0; y < y1; ++y) {
      for (Coord x = x0; x < x1; ++x) {
        if (e.Contains(x, y)) dst.At(static_cast<int>(x), static_cast<int>(y)) = p;
      }
    }
    return;
  }
  for (Coord y = y0; y < y1; ++y) {
    Coord xa, xb;
    if (!e.RowSpan(y, &xa, &xb)) continue;
    xa = std::max<Coord>(xa, 0);
    xb = std::min<Coord>(xb, dst.width() - 1);
    if (xa > xb) continue;
    std::fill_n(dst.Row(static_cast<int>(y)) + xa, xb - xa + 1, p);
  }
}

// ---------------------------------------------------------------------------------------------
// Row kernels.

namespace {

inline Pixel Avg2(Pixel a, Pixel b) {
  Pixel r = 0;
  for (int s = 0; s < 32; s += 8) {
    const unsigned v = (((a >> s) & 0xFF) + ((b >> s) & 0xFF) + 1) >> 1;
    r |= static_cast<Pixel>(v) << s;
  }
  return r;
}

inline Pixel Lerp8(Pixel a, Pixel b, unsigned f) {  // f in 0..256
  Pixel r = 0;
  for (int s = 0; s < 32; s += 8) {
    const unsigned v = ((256 - f) * ((a >> s) & 0xFF) + f * ((b >> s) & 0xFF) + 128) >> 8;
    r |= static_cast<Pixel>(v) << s;
  }
  return r;
}

#ifdef __SSE2__
// (t * 0x8081) >> 23 == t / 255 for every 16-bit t.
inline __m128i Div255(__m128i t) {
  return _mm_srli_epi16(_mm_mulhi_epu16(t, _mm_set1_epi16(static_cast<short>(0x8081))), 7);
}
#endif

}  // namespace

namespace {
// Rows this long are written with streaming stores (whole-frame passes).
constexpr int kStreamPixels = 1024;

}  // namespace

#ifdef DBX_BLEND_AVX2
namespace {

bool HasAvx2() {
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
  }();
  return has && vectorLimit.load(std::memory_order_relaxed) >= 32;
}

// The SSE2 loop below, eight pixels at a time; returns how many pixels it blended (a multiple of
// eight after the ones that align a streamed destination).
__attribute__((target("avx2"))) int BlendRowAvx2(Pixel* dst, const Pixel* out, const Pixel* in,
                                                 int count, int alpha, bool stream) {
  int i = 0;
  if (stream) {
    for (; i < count && (reinterpret_cast<std::uintptr_t>(dst + i) & 31u) != 0; ++i) {
      dst[i] = BlendPixel(out[i], in[i], alpha);
    }
  }
  const __m256i zero = _mm256_setzero_si256();
  const __m256i wa = _mm256_set1_epi16(static_cast<short>(alpha));
  const __m256i wn = _mm256_set1_epi16(static_cast<short>(255 - alpha));
  const __m256i k = _mm256_set1_epi16(static_cast<short>(0x8081));
  for (; i + 8 <= count; i += 8) {
    if (stream && (i & 15) == 0) PrefetchAhead(out + i, in + i);
    const __m256i o = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(out + i));
    const __m256i n = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i));
    // (t * 0x8081) >> 23 == t / 255, as Div255.
    const __m256i lo = _mm256_srli_epi16(
        _mm256_mulhi_epu16(_mm256_add_epi16(_mm256_mullo_epi16(_mm256_unpacklo_epi8(n, zero), wn),
                                            _mm256_mullo_epi16(_mm256_unpacklo_epi8(o, zero), wa)),
                           k),
        7);
    const __m256i hi = _mm256_srli_epi16(
        _mm256_mulhi_epu16(_mm256_add_epi16(_mm256_mullo_epi16(_mm256_unpackhi_epi8(n, zero), wn),
                                            _mm256_mullo_epi16(_mm256_unpackhi_epi8(o, zero), wa)),
                           k),
        7);
    const __m256i r = _mm256_packus_epi16(lo, hi);  // per 128-bit lane, as unpacked
    if (stream) {
      _mm256_stream_si256(reinterpret_cast<__m256i*>(dst + i), r);
    } else {
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i), r);
    }
  }
  if (stream) _mm_sfence();
  _mm256_zeroupper();
  return i;
}

// The same sixteen pixels at a time (the unpacking and packing both work per 128-bit lane, so
// the pixels come back in their order); returns how many pixels it blended.
__attribute__((target("avx512f,avx512bw"))) int BlendRowAvx512(Pixel* dst, const Pixel* out,
                                                               const Pixel* in, int count,
                                                               int alpha, bool stream) {
  int i = 0;
  if (stream) {
    for (; i < count && (reinterpret_cast<std::uintptr_t>(dst + i) & 63u) != 0; ++i) {
      dst[i] = BlendPixel(out[i], in[i], alpha);
    }
  }
  const __m512i zero = _mm512_setzero_si512();
  const __m512i wa = _mm512_set1_epi16(static_cast<short>(alpha));
  const __m512i wn = _mm512_set1_epi16(static_cast<short>(255 - alpha));
  const __m512i k = _mm512_set1_epi16(static_cast<short>(0x8081));
  for (; i + 16 <= count; i += 16) {
    if (stream) PrefetchAhead(out + i, in + i);
    const __m512i o = _mm512_loadu_si512(out + i);
    const __m512i n = _mm512_loadu_si512(in + i);
    const __m512i lo = _mm512_srli_epi16(
        _mm512_mulhi_epu16(_mm512_add_epi16(_mm512_mullo_epi16(_mm512_unpacklo_epi8(n, zero), wn),
                                            _mm512_mullo_epi16(_mm512_unpacklo_epi8(o, zero), wa)),
                           k),
        7);
    const __m512i hi = _mm512_srli_epi16(
        _mm512_mulhi_epu16(_mm512_add_epi16(_mm512_mullo_epi16(_mm512_unpackhi_epi8(n, zero), wn),
                                            _mm512_mullo_epi16(_mm512_unpackhi_epi8(o, zero), wa)),
                           k),
        7);
    const __m512i r = _mm512_packus_epi16(lo, hi);
    if (stream) {
      _mm512_stream_si512(reinterpret_cast<__m512i*>(dst + i), r);
    } else {
      _mm512_storeu_si512(dst + i, r);
    }
  }
  if (stream) _mm_sfence();
  _mm256_zeroupper();
  return i;
}

}  // namespace
#endif

void BlendRow(Pixel* dst, const Pixel* out, const Pixel* in, int count, int alpha, Kernel k) {
  alpha = std::clamp(alpha, 0, 255);
  int i = 0;
  if (k == Kernel::kFast && (alpha == 0 || alpha == 255) && count > 0) {
    // The ends of the blend are copies: all of the incoming (0) or of the outgoing pixel (255).
    const Pixel* src = alpha == 0 ? in : out;
    if (count >= kStreamPixels) {
      StreamRow(dst, src, static_cast<std::size_t>(count));
      StreamFence();
    } else {
      std::memmove(dst, src, static_cast<std::size_t>(count) * sizeof(Pixel));
    }
    return;
  }
#ifdef __SSE2__
  if (k == Kernel::kFast) {
    const bool stream = count >= kStreamPixels;
#ifdef DBX_BLEND_AVX2
    if (HasAvx512())
      i = BlendRowAvx512(dst, out, in, count, alpha, stream);
    else if (HasAvx2())
      i = BlendRowAvx2(dst, out, in, count, alpha, stream);
#endif
    if (stream) {
      for (; i < count && (reinterpret_cast<std::uintptr_t>(dst + i) & 15u) != 0; ++i) {
        dst[i] = BlendPixel(out[i], in[i], alpha);
      }
    }
    const __m128i zero = _mm_setzero_si128();
    const __m128i wa = _mm_set1_epi16(static_cast<short>(alpha));
    const __m128i wn = _mm_set1_epi16(static_cast<short>(255 - alpha));
    for (; i + 4 <= count; i += 4) {
      if (stream && (i & 15) == 0) PrefetchAhead(out + i, in + i);
      const __m128i o = _mm_loadu_si128(reinterpret_cast<const __m128i*>(out + i));
      const __m128i n = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
      const __m128i lo = Div255(_mm_add_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(n, zero), wn),
                                              _mm_mullo_epi16(_mm_unpacklo_epi8(o, zero), wa)));
      const __m128i hi = Div255(_mm_add_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(n, zero), wn),
                                              _mm_mullo_epi16(_mm_unpackhi_epi8(o, zero), wa)));
      const __m128i r = _mm_packus_epi16(lo, hi);
      if (stream) {
        _mm_stream_si128(reinterpret_cast<__m128i*>(dst + i), r);
      } else {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), r);
      }
    }
    if (stream) _mm_sfence();
  }
#endif
  for (; i < count; ++i) dst[i] = BlendPixel(out[i], in[i], alpha);
}

#ifdef DBX_BLEND_AVX2
namespace {
// BlendRowAlphas's loop sixteen pixels at a time; returns the pixels done.
__attribute__((target("avx512f,avx512bw"))) int BlendRowAlphasAvx512(Pixel* dst, const Pixel* out,
                                                                     const Pixel* in,
                                                                     const std::uint8_t* alphas,
                                                                     int count) {
  const __m512i zero = _mm512_setzero_si512(), c255 = _mm512_set1_epi16(255),
                k = _mm512_set1_epi16(static_cast<short>(0x8081));
  // Per 128-bit lane l (pixels 4 l .. 4 l + 3, unpacked two by two): the alpha bytes of its
  // pixels, each spread over four 16-bit lanes (a set high bit gives a zero byte).
  alignas(64) std::int8_t lo[64], hi[64];
  for (int l = 0; l < 4; ++l) {
    for (int j = 0; j < 16; ++j) {
      const bool high = (j & 1) != 0;
      lo[16 * l + j] = static_cast<std::int8_t>(high ? -128 : 4 * l + j / 8);
      hi[16 * l + j] = static_cast<std::int8_t>(high ? -128 : 4 * l + 2 + j / 8);
    }
  }
  const __m512i spreadLo = _mm512_load_si512(lo), spreadHi = _mm512_load_si512(hi);
  int i = 0;
  for (; i + 16 <= count; i += 16) {
    const __m512i o = _mm512_loadu_si512(out + i);
    const __m512i n = _mm512_loadu_si512(in + i);
    const __m512i a = _mm512_maskz_broadcast_i32x4(
        ~__mmask16{0}, _mm_loadu_si128(reinterpret_cast<const __m128i*>(alphas + i)));
    const __m512i wlo = _mm512_shuffle_epi8(a, spreadLo), whi = _mm512_shuffle_epi8(a, spreadHi);
    const __m512i rlo = _mm512_srli_epi16(
        _mm512_mulhi_epu16(_mm512_add_epi16(_mm512_mullo_epi16(_mm512_unpacklo_epi8(n, zero),
                                                               _mm512_sub_epi16(c255, wlo)),
                                            _mm512_mullo_epi16(_mm512_unpacklo_epi8(o, zero), wlo)),
                           k),
        7);
    const __m512i rhi = _mm512_srli_epi16(
        _mm512_mulhi_epu16(_mm512_add_epi16(_mm512_mullo_epi16(_mm512_unpackhi_epi8(n, zero),
                                                               _mm512_sub_epi16(c255, whi)),
                                            _mm512_mullo_epi16(_mm512_unpackhi_epi8(o, zero), whi)),
                           k),
        7);
    _mm512_storeu_si512(dst + i, _mm512_packus_epi16(rlo, rhi));
  }
  _mm256_zeroupper();
  return i;
}
}  // namespace
#endif

#ifdef DBX_BLEND_AVX2
namespace {

// RimAlphas eight pixels at a time; returns x1. The distance is found in doubles: for a
// whole v below 2^52 the square root rounds to a double whose floor is the whole root, and v, r² +
// r are exact. The table (e < 128) is looked up with one byte permutation of its two halves.
__attribute__((target("avx512f,avx512bw,avx512vl,avx512vbmi"))) Coord RimAlphasAvx512(
    std::uint8_t* alphas, Coord x, Coord x1, Coord cx, Coord dy2, Coord g, Coord e,
    const std::uint8_t* lut) {
  alignas(64) std::uint8_t table[128] = {};
  std::memcpy(table, lut, static_cast<std::size_t>(e) + 1);
  const __m512i lo = _mm512_load_si512(table), hi = _mm512_load_si512(table + 64);
  const __m512d dyv = _mm512_set1_pd(static_cast<double>(dy2));
  const __m512d gv = _mm512_set1_pd(static_cast<double>(g)),
                ev = _mm512_set1_pd(static_cast<double>(e));
  const __m512d zero = _mm512_setzero_pd(), one = _mm512_set1_pd(1.0), eight = _mm512_set1_pd(8.0);
  __m512d dx = _mm512_add_pd(_mm512_set1_pd(static_cast<double>(x - cx)),
                             _mm512_set_pd(7, 6, 5, 4, 3, 2, 1, 0));
  // (The masked forms with every lane set: the unmasked ones leave GCC 12 warning about their
  // undefined inputs.)
  const __mmask8 all = 0xFF;
  for (; x < x1; x += 8) {
    const __m512d v = _mm512_fmadd_pd(dx, dx, dyv);
    const __m512d r = _mm512_maskz_roundscale_pd(all, _mm512_maskz_sqrt_pd(all, v),
                                                 _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC);
    const __mmask8 up = _mm512_cmp_pd_mask(v, _mm512_fmadd_pd(r, r, r), _CMP_GT_OQ);
    const __m512d d = _mm512_mask_add_pd(r, up, r, one);
    const __m512d j =
        _mm512_maskz_min_pd(all, _mm512_maskz_max_pd(all, _mm512_sub_pd(gv, d), zero), ev);
    const __m128i index = _mm256_maskz_cvtepi32_epi8(all, _mm512_maskz_cvtpd_epi32(all, j));
    const __m512i a = _mm512_permutex2var_epi8(lo, _mm512_zextsi128_si512(index), hi);
    // (The last pixels, fewer than eight, with as many bytes.)
    const __mmask64 store = x1 - x >= 8 ? 0xFF : (__mmask64{1} << (x1 - x)) - 1;
    _mm512_mask_storeu_epi8(alphas + x, store, a);
    dx = _mm512_add_pd(dx, eight);
  }
  _mm256_zeroupper();
  return x;
}

}  // namespace
#endif

void RimAlphas(std::uint8_t* alphas, Coord x0, Coord x1, Coord cx, Coord dy2, Coord g, Coord e,
               const std::uint8_t* lut, Kernel k) {
  Coord x = x0;
#ifdef DBX_BLEND_AVX2
  // (Distances of pictures up to 2^25 pixels wide, whose squares the doubles hold exactly.)
  constexpr Coord kExact = Coord{1} << 25;
  auto small = [](Coord v) { return v > -kExact && v < kExact; };
  if (k == Kernel::kFast && x1 - x0 >= 8 && e >= 0 && e < 128 && dy2 >= 0 &&
      dy2 < kExact * kExact && small(x0 - cx) && small(x1 - cx) && small(g) && HasAvx512Vbmi())
    x = RimAlphasAvx512(alphas, x0, x1, cx, dy2, g, e, lut);
#else
  (void)k;
#endif
  for (; x < x1; ++x) {
    const Coord d = RoundedSqrt(dy2 + (x - cx) * (x - cx));
    alphas[x] = lut[std::clamp<Coord>(g - d, 0, e)];
  }
}

void BlendRowAlphas(Pixel* dst, const Pixel* out, const Pixel* in, const std::uint8_t* alphas,
                    int count, Kernel k) {
  int i = 0;
#ifdef DBX_BLEND_AVX2
  if (k == Kernel::kFast && HasAvx512()) i = BlendRowAlphasAvx512(dst, out, in, alphas, count);
#endif
#ifdef __SSE2__
  if (k == Kernel::kFast) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i c255 = _mm_set1_epi16(255);
    for (; i + 4 <= count; i += 4) {
      const __m128i o = _mm_loadu_si128(reinterpret_cast<const __m128i*>(out + i));
      const __m128i n = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
      // Four alpha bytes, each spread over its pixel's four 16-bit lanes.
      std::int32_t a4;
      std::memcpy(&a4, alphas + i, 4);
      __m128i a = _mm_cvtsi32_si128(a4);
      a = _mm_unpacklo_epi8(a, a);   // a0 a0 a1 a1 a2 a2 a3 a3
      a = _mm_unpacklo_epi16(a, a);  // a0 ×4, a1 ×4, a2 ×4, a3 ×4
      const __m128i wlo = _mm_unpacklo_epi8(a, zero);
      const __m128i whi = _mm_unpackhi_epi8(a, zero);
      const __m128i lo = Div255(
          _mm_add_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(n, zero), _mm_sub_epi16(c255, wlo)),
                        _mm_mullo_epi16(_mm_unpacklo_epi8(o, zero), wlo)));
      const __m128i hi = Div255(
          _mm_add_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(n, zero), _mm_sub_epi16(c255, whi)),
                        _mm_mullo_epi16(_mm_unpackhi_epi8(o, zero), whi)));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm_packus_epi16(lo, hi));
    }
  }
#endif
  for (; i < count; ++i) dst[i] = BlendPixel(out[i], in[i], alphas[i]);
}

#ifdef DBX_BLEND_AVX2
namespace {

// MergeAlternate's loop (and CopyAlternate's, with the destination as one source) eight pixels
// at a time from an even position; returns the next position.
__attribute__((target("avx2"))) int MergeAlternateAvx2(Pixel* dst, const Pixel* even,
                                                       const Pixel* odd, int i, int count,
                                                       bool stream, bool fetch = false) {
  for (; i + 8 <= count; i += 8) {
    if ((stream || fetch) && (i & 15) == 0) PrefetchAhead(even + i, odd + i);
    const __m256i e = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(even + i));
    const __m256i o = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(odd + i));
    const __m256i r = _mm256_blend_epi32(e, o, 0xAA);  // odd lanes from `odd`
    if (stream) {
      _mm256_stream_si256(reinterpret_cast<__m256i*>(dst + i), r);
    } else {
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i), r);
    }
  }
  _mm256_zeroupper();
  return i;
}

}  // namespace
#endif

void CopyAlternate(Pixel* dst, const Pixel* src, int count, int parity, Kernel k) {
  int i = 0;
#ifdef __SSE2__
  if (k == Kernel::kFast) {
#ifdef DBX_BLEND_AVX2
    if (HasAvx2()) {
      i = parity == 0 ? MergeAlternateAvx2(dst, src, dst, 0, count, false, true)
                      : MergeAlternateAvx2(dst, dst, src, 0, count, false, true);
    }
#endif
    // Lanes 0 and 2 are even positions (the loop steps by 4 from an even i).
    const __m128i m = parity == 0 ? _mm_set_epi32(0, -1, 0, -1) : _mm_set_epi32(-1, 0, -1, 0);
    for (; i + 4 <= count; i += 4) {
      const __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
      const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(dst + i));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i),
                       _mm_or_si128(_mm_and_si128(m, s), _mm_andnot_si128(m, d)));
    }
  }
#endif
  for (; i < count; ++i) {
    if ((i & 1) == parity) dst[i] = src[i];
  }
}

void MergeAlternate(Pixel* dst, const Pixel* even, const Pixel* odd, int count, Kernel k,
                    bool fence, bool may_stream) {
  int i = 0;
#ifdef __SSE2__
  if (k == Kernel::kFast) {
    // Aligned to an even position so that the lanes keep their parity, then streamed.
    bool stream = may_stream && count >= kStreamPixels;
    if (stream && (reinterpret_cast<std::uintptr_t>(dst) & 15u) == 8) {
      dst[0] = even[0];
      dst[1] = odd[1];
      i = 2;
    }
    stream = stream && (reinterpret_cast<std::uintptr_t>(dst + i) & 15u) == 0;
#ifdef DBX_BLEND_AVX2
    if (HasAvx2()) {
      if (stream && (reinterpret_cast<std::uintptr_t>(dst + i) & 31u) != 0 && i + 4 <= count) {
        // Four pixels (an even count) to a 32-byte boundary, streamed like the rest.
        const __m128i m4 = _mm_set_epi32(0, -1, 0, -1);
        const __m128i e = _mm_loadu_si128(reinterpret_cast<const __m128i*>(even + i));
        const __m128i o = _mm_loadu_si128(reinterpret_cast<const __m128i*>(odd + i));
        _mm_stream_si128(reinterpret_cast<__m128i*>(dst + i),
                         _mm_or_si128(_mm_and_si128(m4, e), _mm_andnot_si128(m4, o)));
        i += 4;
      }
      i = MergeAlternateAvx2(dst, even, odd, i, count, stream);
    }
#endif
    const __m128i m = _mm_set_epi32(0, -1, 0, -1);
    for (; i + 4 <= count; i += 4) {
      if (stream && (i & 15) == 0) PrefetchAhead(even + i, odd + i);
      const __m128i e = _mm_loadu_si128(reinterpret_cast<const __m128i*>(even + i));
      const __m128i o = _mm_loadu_si128(reinterpret_cast<const __m128i*>(odd + i));
      const __m128i r = _mm_or_si128(_mm_and_si128(m, e), _mm_andnot_si128(m, o));
      if (stream) {
        _mm_stream_si128(reinterpret_cast<__m128i*>(dst + i), r);
      } else {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), r);
      }
    }
    if (stream && fence) _mm_sfence();
  }
#endif
  for (; i < count; ++i) dst[i] = (i & 1) == 0 ? even[i] : odd[i];
}

#ifdef DBX_BLEND_AVX2
namespace {
// MergeAlternateRing's loop sixteen pixels at a time: the even pixels of a packed row spread to
// the even lanes, and the even lanes of the old row gathered into a packed one.
__attribute__((target("avx512f"))) int MergeAlternateRingAvx512(Pixel* dst, const Pixel* even,
                                                                bool packed, const Pixel* odd,
                                                                Pixel* keep, int count) {
  int i = 0;
  for (; i + 16 <= count; i += 16) {
    // (The masked forms: the plain ones leave the compiler warning of an undefined value.)
    const __m512i e =
        packed ? _mm512_maskz_cvtepu32_epi64(
                     0xFF, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(even + i / 2)))
               : _mm512_loadu_si512(even + i);
    const __m512i o = _mm512_loadu_si512(odd + i);
    if (keep != nullptr)
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(keep + i / 2),
                          _mm512_maskz_cvtepi64_epi32(0xFF, _mm512_loadu_si512(dst + i)));
    _mm512_storeu_si512(dst + i, _mm512_mask_blend_epi32(0xAAAA, e, o));
  }
  _mm256_zeroupper();
  return i;
}
// The same eight pixels at a time.
__attribute__((target("avx2"))) int MergeAlternateRingAvx2(Pixel* dst, const Pixel* even,
                                                           bool packed, const Pixel* odd,
                                                           Pixel* keep, int count) {
  const __m256i gather = _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7);
  int i = 0;
  for (; i + 8 <= count; i += 8) {
    const __m256i e =
        packed
            ? _mm256_cvtepu32_epi64(_mm_loadu_si128(reinterpret_cast<const __m128i*>(even + i / 2)))
            : _mm256_loadu_si256(reinterpret_cast<const __m256i*>(even + i));
    const __m256i o = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(odd + i));
    if (keep != nullptr) {
      const __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(dst + i));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(keep + i / 2),
                       _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(d, gather)));
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i), _mm256_blend_epi32(e, o, 0xAA));
  }
  _mm256_zeroupper();
  return i;
}
}  // namespace
#endif

void MergeAlternateRing(Pixel* dst, const Pixel* even, bool packed, const Pixel* odd, Pixel* keep,
                        int count) {
  int i = 0;
#ifdef DBX_BLEND_AVX2
  if (HasAvx512())
    i = MergeAlternateRingAvx512(dst, even, packed, odd, keep, count);
  else if (HasAvx2())
    i = MergeAlternateRingAvx2(dst, even, packed, odd, keep, count);
#endif
  for (; i < count; ++i) {
    const Pixel v = (i & 1) == 0 ? (packed ? even[i / 2] : even[i]) : odd[i];
    if (keep != nullptr && (i & 1) == 0) keep[i / 2] = dst[i];
    dst[i] = v;
  }
}

void CopyFlagged(Pixel* dst, const Pixel* src, const std::uint8_t* flags, int count) {
  for (int i = 0; i < count; ++i) {
    if (flags[i] != 0) dst[i] = src[i];
  }
}

void RevealSpan(Pixel* t, const Pixel* in, int count, Kernel k) {
  int i = 0;
#ifdef __SSE2__
  if (k == Kernel::kFast) {
    const __m128i w = _mm_set1_epi32(static_cast<int>(kWhitePen));
    for (; i + 4 <= count; i += 4) {
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + i));
      const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(t + i),
                       _mm_or_si128(_mm_andnot_si128(w, a), _mm_and_si128(w, b)));
    }
  }
#endif
  for (; i < count; ++i) t[i] = RevealPixel(t[i], in[i]);
}

// ---------------------------------------------------------------------------------------------
// Stretching.

namespace {

// Halves a level along the axis: pixel i of the result averages pixels 2i and 2i + 1 (rounding
// up), an odd last pixel is dropped.
void HalveHorizontal(SurfaceView src, SurfaceView dst, Kernel k) {
  for (int y = 0; y < dst.height(); ++y) {
    const Pixel* s = src.Row(y);
    Pixel* d = dst.Row(y);
    int i = 0;
#ifdef __SSE2__
    if (k == Kernel::kFast) {
      for (; i + 4 <= dst.width(); i += 4) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 2 * i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 2 * i + 4));
        const __m128i as = _mm_shuffle_epi32(a, _MM_SHUFFLE(3, 1, 2, 0));  // p0 p2 p1 p3
        const __m128i bs = _mm_shuffle_epi32(b, _MM_SHUFFLE(3, 1, 2, 0));  // p4 p6 p5 p7
        const __m128i ev = _mm_unpacklo_epi64(as, bs);
        const __m128i od = _mm_unpackhi_epi64(as, bs);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), _mm_avg_epu8(ev, od));
      }
    }
#endif
    for (; i < dst.width(); ++i) d[i] = Avg2(s[2 * i], s[2 * i + 1]);
  }
}

void HalveVertical(SurfaceView src, SurfaceView dst, Kernel k) {
  for (int y = 0; y < dst.height(); ++y) {
    const Pixel* a = src.Row(2 * y);
    const Pixel* b = src.Row(2 * y + 1);
    Pixel* d = dst.Row(y);
    int i = 0;
#ifdef __SSE2__
    if (k == Kernel::kFast) {
      for (; i + 4 <= dst.width(); i += 4) {
        const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i));
        const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), _mm_avg_epu8(va, vb));
      }
    }
#endif
    for (; i < dst.width(); ++i) d[i] = Avg2(a[i], b[i]);
  }
}

// The level for a destination extent and the mapping of destination position j to the pair of
// source pixels (i0, i0 + 1) with weight f (0..256) of the second.
struct Tap {
  std::int32_t i0;
  std::int32_t f;
};

int PickLevel(const std::vector<SurfaceView>& levels, Axis axis, Coord extent) {
  int best = 0;
  for (int i = 0; i < static_cast<int>(levels.size()); ++i) {
    const int e = axis == Axis::kHorizontal ? levels[static_cast<std::size_t>(i)].width()
                                            : levels[static_cast<std::size_t>(i)].height();
    if (e >= extent) best = i;
  }
  return best;
}

Tap MapTap(Coord j, Coord dext, Coord lext) {
  // u = (j + 0.5) × lext / dext − 0.5, with 8 fractional bits, clamped to [0, lext − 1].
  const __int128 num = static_cast<__int128>(2 * j + 1) * lext * 256;
  Coord u = static_cast<Coord>(num / (2 * dext)) - 128;
  u = std::clamp<Coord>(u, 0, (lext - 1) * 256);
  Tap t{static_cast<std::int32_t>(u >> 8), static_cast<std::int32_t>(u & 255)};
  if (lext >= 2 && t.i0 == lext - 1) {
    t.i0 = static_cast<std::int32_t>(lext - 2);
    t.f = 256;
  }
  if (lext < 2) t.f = 0;
  return t;
}

#ifdef DBX_BLEND_AVX2

// The horizontal stretch of rows [y0, y1) (source row y − dy), eight destination columns at a
// time from x0: the two source pixels of each of the eight lie within 32 pixels (128 bytes) of the
// group's first, so two loads of the row hold them all, and one byte permutation per side spreads
// them over the 16-bit lanes of the products. The same sums as the SSE2 loop. Returns the columns
// done (a multiple of eight), or 0 where a group's pixels lie farther apart.
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) std::size_t StretchRowsAvx512(
    SurfaceView lv, Coord dy, SurfaceView dst, Coord x0, Coord y0, Coord y1, const Tap* taps,
    std::size_t n) {
  const std::size_t groups = n / 8;
  struct Group {
    // Per 16-bit lane (4 m + c): the byte of the first pixel's channel c; the second's weight.
    std::uint8_t index[64];
    std::uint16_t weight[32];
    std::int32_t base;
    bool whole;        // the row has 128 bytes from base
    __mmask64 lo, hi;  // the bytes to load from base, in two 64-byte halves
  };
  const Coord rowBytes = lv.width() * static_cast<Coord>(sizeof(Pixel));
  std::vector<Group> g(groups);
  for (std::size_t k = 0; k < groups; ++k) {
    const Tap* t = taps + 8 * k;
    const std::int32_t span = t[7].i0 + 2 - t[0].i0;  // pixels from the first to the last one read
    if (span > 32 || t[7].i0 < t[0].i0) return 0;
    for (int m = 0; m < 8; ++m) {
      for (int c = 0; c < 4; ++c) {
        g[k].index[2 * (4 * m + c)] = static_cast<std::uint8_t>((t[m].i0 - t[0].i0) * 4 + c);
        g[k].index[2 * (4 * m + c) + 1] = 0;
        g[k].weight[4 * m + c] = static_cast<std::uint16_t>(t[m].f);
      }
    }
    g[k].base = t[0].i0;
    g[k].whole = static_cast<Coord>(t[0].i0) * 4 + 128 <= rowBytes;
    const int bytes = span * 4;
    g[k].lo = bytes >= 64 ? ~__mmask64{0} : (__mmask64{1} << bytes) - 1;
    g[k].hi = bytes <= 64 ? 0 : bytes == 128 ? ~__mmask64{0} : (__mmask64{1} << (bytes - 64)) - 1;
  }
  const __mmask64 even = 0x5555555555555555ULL;
  const __m512i next = _mm512_set1_epi8(4), full = _mm512_set1_epi16(256),
                half = _mm512_set1_epi16(128);
  // The row is read from further ahead than the processor fetches by itself: the same place of a
  // row a few on (the bytes just past a row's part are not the next ones read).
  const std::size_t readBytes =
      static_cast<std::size_t>(std::max(taps[n - 1].i0 + 2 - taps[0].i0, 1)) * sizeof(Pixel);
  const std::uintptr_t delta = static_cast<std::uintptr_t>(
      RowsAhead(readBytes) * static_cast<std::size_t>(lv.stride()) * sizeof(Pixel));
  for (Coord y = y0; y < y1; ++y) {
    const auto* s = reinterpret_cast<const std::uint8_t*>(lv.Row(static_cast<int>(y - dy)));
    Pixel* d = dst.Row(static_cast<int>(y)) + x0;
    for (std::size_t k = 0; k < groups; ++k) {
      const Group& q = g[k];
      const std::uint8_t* at = s + 4 * static_cast<std::size_t>(q.base);
      _mm_prefetch(reinterpret_cast<const char*>(reinterpret_cast<std::uintptr_t>(at) + delta),
                   _MM_HINT_T0);
      // (Whole loads where the row goes on far enough: masked ones cost much more.)
      const __m512i lo = q.whole ? _mm512_loadu_si512(at) : _mm512_maskz_loadu_epi8(q.lo, at);
      const __m512i hi = q.hi == 0 ? lo
                         : q.whole ? _mm512_loadu_si512(at + 64)
                                   : _mm512_maskz_loadu_epi8(q.hi, at + 64);
      const __m512i index = _mm512_loadu_si512(q.index), weight = _mm512_loadu_si512(q.weight);
      const __m512i a = _mm512_maskz_permutex2var_epi8(even, lo, index, hi);
      const __m512i b = _mm512_maskz_permutex2var_epi8(even, lo, _mm512_add_epi8(index, next), hi);
      const __m512i sum = _mm512_srli_epi16(
          _mm512_add_epi16(_mm512_add_epi16(_mm512_mullo_epi16(a, _mm512_sub_epi16(full, weight)),
                                            _mm512_mullo_epi16(b, weight)),
                           half),
          8);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + 8 * k),
                          _mm512_maskz_cvtepi16_epi8(~__mmask32{0}, sum));
    }
  }
  _mm256_zeroupper();
  return groups * 8;
}

// The vertical stretch's row: the SSE2 loop's sums, sixteen pixels at a time; returns the pixels
// done (a multiple of sixteen).
__attribute__((target("avx512f,avx512bw"))) int LerpRowAvx512(Pixel* d, const Pixel* a,
                                                              const Pixel* b, int n, int f) {
  const __m512i zero = _mm512_setzero_si512();
  const __m512i wb = _mm512_set1_epi16(static_cast<short>(f));
  const __m512i wa = _mm512_set1_epi16(static_cast<short>(256 - f));
  const __m512i half = _mm512_set1_epi16(128);
  int i = 0;
  for (; i + 16 <= n; i += 16) {
    const __m512i va = _mm512_loadu_si512(a + i);
    const __m512i vb = _mm512_loadu_si512(b + i);
    const __m512i lo = _mm512_srli_epi16(
        _mm512_add_epi16(_mm512_add_epi16(_mm512_mullo_epi16(_mm512_unpacklo_epi8(va, zero), wa),
                                          _mm512_mullo_epi16(_mm512_unpacklo_epi8(vb, zero), wb)),
                         half),
        8);
    const __m512i hi = _mm512_srli_epi16(
        _mm512_add_epi16(_mm512_add_epi16(_mm512_mullo_epi16(_mm512_unpackhi_epi8(va, zero), wa),
                                          _mm512_mullo_epi16(_mm512_unpackhi_epi8(vb, zero), wb)),
                         half),
        8);
    _mm512_storeu_si512(d + i, _mm512_packus_epi16(lo, hi));  // per 128-bit lane, as unpacked
  }
  _mm256_zeroupper();
  return i;
}
#endif

}  // namespace

AxisStretcher::AxisStretcher(SurfaceView src, Coord sx, Coord sy, Coord sw, Coord sh, Axis axis,
                             Kernel k)
    : axis_(axis) {
  if (sw <= 0 || sh <= 0 || sw > (1 << 28) || sh > (1 << 28)) return;
  SurfaceView base;
  if (sx >= 0 && sy >= 0 && sx + sw <= src.width() && sy + sh <= src.height()) {
    base = SurfaceView(src.Row(static_cast<int>(sy)) + sx, static_cast<int>(sw),
                       static_cast<int>(sh), src.stride());
  } else {
    auto copy = std::make_unique<Surface>(static_cast<int>(sw), static_cast<int>(sh), 0);
    CopyRect(copy->View(), 0, 0, sw, sh, src, sx, sy);
    base = copy->View();
    owned_.push_back(std::move(copy));
  }
  levels_.push_back(base);
  for (;;) {
    const SurfaceView last = levels_.back();
    const int w = axis == Axis::kHorizontal ? last.width() / 2 : last.width();
    const int h = axis == Axis::kVertical ? last.height() / 2 : last.height();
    if (w < 1 || h < 1) break;
    auto next = std::make_unique<Surface>(w, h, 0);
    if (axis == Axis::kHorizontal) {
      HalveHorizontal(last, next->View(), k);
    } else {
      HalveVertical(last, next->View(), k);
    }
    levels_.push_back(next->View());
    owned_.push_back(std::move(next));
  }
}

void AxisStretcher::Draw(SurfaceView dst, Coord dx, Coord dy, Coord dw, Coord dh, Kernel k) const {
  if (levels_.empty() || dw <= 0 || dh <= 0) return;
  if (axis_ == Axis::kHorizontal) {
    DrawHorizontal(dst, dx, dy, dw, dh, k);
  } else {
    DrawVertical(dst, dx, dy, dw, dh, k);
  }
}

void AxisStretcher::DrawHorizontal(SurfaceView dst, Coord dx, Coord dy, Coord dw, Coord dh,
                                   Kernel k) const {
  const SurfaceView lv = Level(PickLevel(levels_, axis_, dw));
  const Coord lw = lv.width();
  // Visible destination columns and rows.
  const Coord x0 = std::max<Coord>(dx, 0), x1 = std::min<Coord>(dx + dw, dst.width());
  const Coord rows = std::min<Coord>(dh, lv.height());
  const Coord y0 = std::max<Coord>(dy, 0), y1 = std::min<Coord>(dy + rows, dst.height());
  if (x0 >= x1 || y0 >= y1) return;
  const auto n = static_cast<std::size_t>(x1 - x0);
  std::vector<Tap> taps(n);
  for (std::size_t j = 0; j < n; ++j) taps[j] = MapTap(x0 + static_cast<Coord>(j) - dx, dw, lw);
#ifdef __SSE2__
  // Per column the 16-bit weights of its two source pixels: 256 − f for the first, f for the
  // second, four lanes each.
  struct alignas(16) W8 {
    std::int16_t v[8];
  };
  std::vector<W8> wv(k == Kernel::kFast ? n : 0);
  for (std::size_t j = 0; j < wv.size(); ++j) {
    for (int c = 0; c < 4; ++c) {
      wv[j].v[c] = static_cast<std::int16_t>(256 - taps[j].f);
      wv[j].v[4 + c] = static_cast<std::int16_t>(taps[j].f);
    }
  }
  const std::int16_t* weights = wv.empty() ? nullptr : wv.front().v;
#endif
  // Columns done for every row at once.
  std::size_t done = 0;
#ifdef DBX_BLEND_AVX2
  if (k == Kernel::kFast && lw >= 2 && HasAvx512Vbmi())
    done = StretchRowsAvx512(lv, dy, dst, x0, y0, y1, taps.data(), n);
#endif
  for (Coord y = y0; y < y1; ++y) {
    const Pixel* s = lv.Row(static_cast<int>(y - dy));
    Pixel* d = dst.Row(static_cast<int>(y)) + x0;
    std::size_t j = done;
#ifdef __SSE2__
    if (k == Kernel::kFast && lw >= 2) {
      const __m128i zero = _mm_setzero_si128();
      const __m128i half = _mm_set1_epi16(128);
      for (; j + 2 <= n; j += 2) {
        const Tap ta = taps[j], tb = taps[j + 1];
        const __m128i pa = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(s + ta.i0));
        const __m128i pb = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(s + tb.i0));
        const __m128i a16 = _mm_unpacklo_epi8(pa, zero);  // a0 | a1
        const __m128i b16 = _mm_unpacklo_epi8(pb, zero);  // b0 | b1
        const __m128i wa2 = _mm_load_si128(reinterpret_cast<const __m128i*>(weights + 8 * j));
        const __m128i wb2 = _mm_load_si128(reinterpret_cast<const __m128i*>(weights + 8 * (j + 1)));
        const __m128i ma = _mm_mullo_epi16(a16, wa2);
        const __m128i mb = _mm_mullo_epi16(b16, wb2);
        const __m128i lo = _mm_unpacklo_epi64(ma, mb);  // a0 b0 parts
        const __m128i hi = _mm_unpackhi_epi64(ma, mb);  // a1 b1 parts
        const __m128i sum = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(lo, hi), half), 8);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(d + j), _mm_packus_epi16(sum, sum));
      }
    }
#endif
    for (; j < n; ++j) {
      const Tap t = taps[j];
      const Pixel a = s[t.i0];
      const Pixel b = lw >= 2 ? s[t.i0 + 1] : a;
      d[j] = Lerp8(a, b, static_cast<unsigned>(t.f));
    }
  }
}

void AxisStretcher::DrawVertical(SurfaceView dst, Coord dx, Coord dy, Coord dw, Coord dh,
                                 Kernel k) const {
  const SurfaceView lv = Level(PickLevel(levels_, axis_, dh));
  const Coord lh = lv.height();
  const Coord cols = std::min<Coord>(dw, lv.width());
  const Coord x0 = std::max<Coord>(dx, 0), x1 = std::min<Coord>(dx + cols, dst.width());
  const Coord y0 = std::max<Coord>(dy, 0), y1 = std::min<Coord>(dy + dh, dst.height());
  if (x0 >= x1 || y0 >= y1) return;
  const int n = static_cast<int>(x1 - x0);
#ifdef DBX_BLEND_AVX2
  const bool wide = HasAvx512();
#endif
  for (Coord y = y0; y < y1; ++y) {
    const Tap t = MapTap(y - dy, dh, lh);
    const Pixel* a = lv.Row(t.i0) + (x0 - dx);
    const Pixel* b = lh >= 2 ? lv.Row(t.i0 + 1) + (x0 - dx) : a;
    Pixel* d = dst.Row(static_cast<int>(y)) + x0;
    int i = 0;
#ifdef DBX_BLEND_AVX2
    if (k == Kernel::kFast && wide) i = LerpRowAvx512(d, a, b, n, t.f);
#endif
#ifdef __SSE2__
    if (k == Kernel::kFast) {
      const __m128i zero = _mm_setzero_si128();
      const __m128i wb = _mm_set1_epi16(static_cast<short>(t.f));
      const __m128i wa = _mm_set1_epi16(static_cast<short>(256 - t.f));
      const __m128i half = _mm_set1_epi16(128);
      for (; i + 4 <= n; i += 4) {
        const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i));
        const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
        const __m128i lo = _mm_srli_epi16(
            _mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(va, zero), wa),
                                        _mm_mullo_epi16(_mm_unpacklo_epi8(vb, zero), wb)),
                          half),
            8);
        const __m128i hi = _mm_srli_epi16(
            _mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(va, zero), wa),
                                        _mm_mullo_epi16(_mm_unpackhi_epi8(vb, zero), wb)),
                          half),
            8);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), _mm_packus_epi16(lo, hi));
      }
    }
#endif
    for (; i < n; ++i) d[i] = Lerp8(a[i], b[i], static_cast<unsigned>(t.f));
  }
}

void StretchHalftone(SurfaceView dst, Coord dx, Coord dy, Coord dw, Coord dh, SurfaceView src,
                     Coord sx, Coord sy, Coord sw, Coord sh, Kernel k) {
  if (dw <= 0 || dh <= 0 || sw <= 0 || sh <= 0) return;
  if (dw > (1 << 28) || dh > (1 << 28)) return;
  if (dh == sh) {
    AxisStretcher(src, sx, sy, sw, sh, Axis::kHorizontal, k).Draw(dst, dx, dy, dw, dh, k);
    return;
  }
  if (dw == sw) {
    AxisStretcher(src, sx, sy, sw, sh, Axis::kVertical, k).Draw(dst, dx, dy, dw, dh, k);
    return;
  }
  Surface tmp(static_cast<int>(dw), static_cast<int>(sh), 0);
  AxisStretcher(src, sx, sy, sw, sh, Axis::kHorizontal, k).Draw(tmp.View(), 0, 0, dw, sh, k);
  AxisStretcher(tmp.View(), 0, 0, dw, sh, Axis::kVertical, k).Draw(dst, dx, dy, dw, dh, k);
}

int LimitVectorBytes(int bytes) {
  return vectorLimit.exchange(bytes);
}

}  // namespace dbx
