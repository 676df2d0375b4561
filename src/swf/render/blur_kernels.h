// The box blur's passes over rows and columns of 8-bit channels, written once over a small set
// of vector operations (`V`) so that each instruction set gets its own copy.
//
// A box pass divides 256 * (sum of the box) + edge * (the two taps beyond it) by
// 256 * (2 * radius + 1) + 2 * edge. With the common factor of 256 and the edge taken out, most
// boxes divide values of 16 bits by at most 257: a multiply keeping the high 16 bits and a shift
// then round down exactly, a whole vector of channels at a time.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

namespace dbx::swf::blur {

struct BoxDivider {
  bool fast = false;
  int sumWeight = 1, edgeWeight = 0;  // the value is sumWeight * sum + edgeWeight * (a + b)
  int total = 1;                      // ... divided by this
  std::uint32_t magic = 0;
  int shift = 0;
  // When the factor is a power of two (the total is one), the division is a shift by this; else -1.
  int plainShift = -1;
};

// Buffers that the passes reuse from row to row and pass to pass.
// Memory on whole cache lines, so that rows of whole vectors start on one.
template <class T>
struct LineAligned {
  using value_type = T;
  static constexpr std::align_val_t kLine{64};
  LineAligned() = default;
  template <class U>
  explicit LineAligned(const LineAligned<U>&) {}
  T* allocate(std::size_t count) {
    return static_cast<T*>(::operator new(count * sizeof(T), kLine));
  }
  void deallocate(T* p, std::size_t) { ::operator delete(p, kLine); }
  friend bool operator==(const LineAligned&, const LineAligned&) { return true; }
};
template <class T>
using Lines = std::vector<T, LineAligned<T>>;

// The buffers of one pass of a blur whose passes run together in one sweep down the picture: the
// row entering the pass, its running sums across, and the running sums down of the rows blurred
// across that the box down still reaches.
struct PassBuffers {
  Lines<std::uint16_t> row;
  Lines<std::uint16_t> prefix;
  Lines<std::uint16_t> ring;
  // The last columns the pass wrote in every row of a strip, for the next pass in the next strip.
  Lines<std::uint16_t> kept;
};

// The rows that one sweep writes, when the picture is split between threads: the sweep reads
// rows top .. bottom - 1 (those beyond are zeros to it, as beyond the picture) and writes rows
// outTop .. outBottom - 1, whose results depend on the rows read alone. Rows copyTop ..
// copyBottom - 1 it reads from `copy`, made before any sweep began: the other sweep writes them.
struct RowRange {
  int top = 0, bottom = 0;
  int outTop = 0, outBottom = 0;
  const std::uint8_t* copy = nullptr;
  int copyTop = 0, copyBottom = 0;
};

struct Scratch {
  Lines<std::uint8_t> padded;
  Lines<std::uint16_t> prefix;
  Lines<std::uint16_t> sums;
  std::vector<std::uint8_t> zeros;
  Lines<std::uint16_t> zeroRow;
  std::vector<PassBuffers> passes;
  // The bytes the buffers hold.
  std::size_t Bytes() const {
    std::size_t bytes = padded.capacity() + 2 * (prefix.capacity() + sums.capacity()) +
                        zeros.capacity() + 2 * zeroRow.capacity();
    for (const PassBuffers& p : passes)
      bytes += 2 * (p.row.capacity() + p.prefix.capacity() + p.ring.capacity() + p.kept.capacity());
    return bytes;
  }
};

// The kernels have internal linkage: each file that includes them builds its own copy for its own
// instruction set, and no copy can stand in for another at link time.
namespace {

// How the taps beyond the box weigh: not at all; half as much as the box (the value is the box's
// sum plus the sum of the box one wider); any other weight.
enum class EdgeKind { kNone, kHalf, kAny };

inline EdgeKind EdgeOf(const BoxDivider& d) {
  if (d.edgeWeight == 0) return EdgeKind::kNone;
  if (d.edgeWeight == 1 && d.sumWeight == 2) return EdgeKind::kHalf;
  return EdgeKind::kAny;
}

template <class V, EdgeKind E>
inline typename V::R Rounded(typename V::R s, typename V::R s1, typename V::R weightS,
                             typename V::R weightS1, typename V::R magic, int shift,
                             int plainShift = -1) {
  typename V::R v;
  if constexpr (E == EdgeKind::kNone)
    v = s;
  else if constexpr (E == EdgeKind::kHalf)
    v = V::Add(s, s1);
  else
    v = V::Add(V::MulLo(s, weightS), V::MulLo(s1, weightS1));
  // (Totals that are powers of two are common: blur sizes 2, 4, 8, ...)
  if (plainShift >= 0) return V::Srl(v, plainShift);
  return shift == 0 ? V::MulHi(v, magic) : V::Srl(V::MulHi(v, magic), shift);
}

// Stores `count` lanes of `v` as bytes (a whole vector when it has as many).
template <class V>
inline void Out(std::uint8_t* p, typename V::R v, std::size_t count) {
  if (count >= V::kLanes)
    V::Narrow(p, v);
  else
    V::NarrowPart(p, v, count);
}

// One row across: the row's `n` values lie at `front` in `padded` (`length` values, zeros around
// them reaching beyond the widest tap); the box sums are differences of running sums along the
// row, kept modulo 2^16 (every box sum itself fits). Writes `n` values to `out`.
template <class V, EdgeKind E, int C>
void AcrossRow(const std::uint8_t* padded, std::uint16_t* prefix, std::size_t length,
               std::size_t front, std::size_t n, int radius, const BoxDivider& d,
               std::uint8_t* out) {
  constexpr std::size_t kL = V::kLanes;
  const std::ptrdiff_t ahead = static_cast<std::ptrdiff_t>(radius) * C;
  const std::ptrdiff_t behind = static_cast<std::ptrdiff_t>(radius + 1) * C;
  const typename V::R weightS = V::Set(d.sumWeight - d.edgeWeight), weightS1 = V::Set(d.edgeWeight),
                      magic = V::Set(d.magic);
  const int shift = d.shift;
  typename V::R carry = V::Zero();
  for (std::size_t i = 0; i < length; i += kL)
    V::Store(prefix + i, V::template Prefix<C>(V::Widen(padded + i), carry));
  // at[p] holds the sum of the channel's values up to value p of the row.
  const std::uint16_t* at = prefix + front;
  for (std::size_t p = 0; p < n; p += kL) {
    const std::ptrdiff_t i = static_cast<std::ptrdiff_t>(p);
    const typename V::R s = V::Sub(V::Load(at + i + ahead), V::Load(at + i - behind));
    typename V::R s1 = s;
    if constexpr (E != EdgeKind::kNone)
      s1 = V::Sub(V::Load(at + i + ahead + C), V::Load(at + i - behind - C));
    Out<V>(out + p, Rounded<V, E>(s, s1, weightS, weightS1, magic, shift), n - p);
  }
}

// Zeros in front of a row reach the widest tap behind its first pixel; zeros behind keep the
// running sums level past the last pixel.
template <class V, int C>
void PaddingOf(std::size_t n, int radius, std::size_t& front, std::size_t& length) {
  constexpr std::size_t kL = V::kLanes;
  front = static_cast<std::size_t>(radius + 2) * C;
  const std::size_t back = static_cast<std::size_t>(radius + 2) * C + kL;
  length = (front + n + back + kL - 1) / kL * kL;
}

// One pass across every row of `channels` (C) interleaved channels. Reads `src`, writes `dst`
// (which may be `src`).
template <class V, EdgeKind E, int C>
void AcrossRows(const std::uint8_t* src, std::uint8_t* dst, int width, int height, int radius,
                const BoxDivider& d, Scratch& scratch) {
  const std::size_t n = static_cast<std::size_t>(width) * C;
  std::size_t front = 0, length = 0;
  PaddingOf<V, C>(n, radius, front, length);
  scratch.padded.assign(length, 0);
  scratch.prefix.resize(length);
  for (int y = 0; y < height; ++y) {
    std::memcpy(scratch.padded.data() + front, src + static_cast<std::size_t>(y) * n, n);
    AcrossRow<V, E, C>(scratch.padded.data(), scratch.prefix.data(), length, front, n, radius, d,
                       dst + static_cast<std::size_t>(y) * n);
  }
}

// One pass down every column: `src` and `dst` are different planes of `height` rows of `n` bytes
// (n >= the vector's lanes). Rows are read in order, a strip of columns at a time, so that the
// rows in use and the running sums of the strip stay in the nearest cache.
template <class V, EdgeKind E>
void DownColumns(const std::uint8_t* src, std::uint8_t* dst, std::size_t n, int height, int radius,
                 const BoxDivider& d, Scratch& scratch) {
  constexpr std::size_t kL = V::kLanes;
  constexpr std::size_t kStrip = 1024;
  scratch.sums.resize(kStrip + kL);
  scratch.zeros.assign(n, 0);
  const typename V::R weightS = V::Set(d.sumWeight - d.edgeWeight), weightS1 = V::Set(d.edgeWeight),
                      magic = V::Set(d.magic);
  const int shift = d.shift;
  auto row = [&](int y) -> const std::uint8_t* {
    return y >= 0 && y < height ? src + static_cast<std::size_t>(y) * n : scratch.zeros.data();
  };
  std::uint16_t* sums = scratch.sums.data();
  for (std::size_t start = 0; start < n; start += kStrip) {
    const std::size_t end = std::min(n, start + kStrip);
    // The last chunk overlaps the one before it rather than reading beyond the row (both write
    // the same values).
    const std::size_t chunks = (end - start + kL - 1) / kL;
    auto column = [&](std::size_t c) { return std::min(start + kL * c, n - kL); };
    for (std::size_t c = 0; c < chunks; ++c) V::Store(sums + kL * c, V::Zero());
    for (int y = 0; y <= radius && y < height; ++y)
      for (std::size_t c = 0; c < chunks; ++c)
        V::Store(sums + kL * c, V::Add(V::Load(sums + kL * c), V::Widen(row(y) + column(c))));
    for (int y = 0; y < height; ++y) {
      // The rows just above and below the box weigh its edges; the one below enters it next,
      // the top one of the box leaves it.
      const std::uint8_t* above = row(y - radius - 1);
      const std::uint8_t* below = row(y + radius + 1);
      const std::uint8_t* top = row(y - radius);
      std::uint8_t* out = dst + static_cast<std::size_t>(y) * n;
      for (std::size_t c = 0; c < chunks; ++c) {
        const std::size_t x = column(c);
        const typename V::R s = V::Load(sums + kL * c);
        const typename V::R b = V::Widen(below + x);
        typename V::R s1 = s;
        if constexpr (E != EdgeKind::kNone) s1 = V::Add(s, V::Add(V::Widen(above + x), b));
        V::Narrow(out + x, Rounded<V, E>(s, s1, weightS, weightS1, magic, shift));
        V::Store(sums + kL * c, V::Sub(V::Add(s, b), V::Widen(top + x)));
      }
    }
  }
}

template <class V>
void Across(const std::uint8_t* src, std::uint8_t* dst, int width, int height, int channels,
            int radius, const BoxDivider& d, Scratch& scratch) {
  auto run = [&]<EdgeKind E>() {
    if (channels == 1)
      AcrossRows<V, E, 1>(src, dst, width, height, radius, d, scratch);
    else if (channels == 2)
      AcrossRows<V, E, 2>(src, dst, width, height, radius, d, scratch);
    else
      AcrossRows<V, E, 4>(src, dst, width, height, radius, d, scratch);
  };
  switch (EdgeOf(d)) {
    case EdgeKind::kNone:
      return run.template operator()<EdgeKind::kNone>();
    case EdgeKind::kHalf:
      return run.template operator()<EdgeKind::kHalf>();
    case EdgeKind::kAny:
      return run.template operator()<EdgeKind::kAny>();
  }
}

template <class V>
void Down(const std::uint8_t* src, std::uint8_t* dst, std::size_t n, int height, int radius,
          const BoxDivider& d, Scratch& scratch) {
  switch (EdgeOf(d)) {
    case EdgeKind::kNone:
      return DownColumns<V, EdgeKind::kNone>(src, dst, n, height, radius, d, scratch);
    case EdgeKind::kHalf:
      return DownColumns<V, EdgeKind::kHalf>(src, dst, n, height, radius, d, scratch);
    case EdgeKind::kAny:
      return DownColumns<V, EdgeKind::kAny>(src, dst, n, height, radius, d, scratch);
  }
}

// Running sums along a row (C channels) of `count` 16-bit values at `row`, read as whole vectors
// (what lies past `count` is zero), stored from `front` in `prefix` (whose first `front` values
// stay 0); the sums past the row are its totals, up to `length`.
template <class V, int C>
void PrefixRow(const std::uint16_t* row, std::size_t count, std::uint16_t* prefix,
               std::size_t front, std::size_t length) {
  constexpr std::size_t kL = V::kLanes;
  typename V::R carry = V::Zero();
  std::size_t x = 0;
  for (; x < count; x += kL)
    V::Store(prefix + front + x, V::template Prefix<C>(V::Load(row + x), carry));
  for (x += front; x < length; x += kL) V::Store(prefix + x, carry);
}

// What one row of one pass of AllPasses works on.
struct RowArgs {
  // The row entering the pass: the values of the columns that the pass reads (`inCount`), with
  // zeros in front and behind; the columns it writes start `offset` values in, `count` of them.
  const std::uint16_t* in = nullptr;
  std::size_t inCount = 0, offset = 0, count = 0;
  int radiusX = 0;
  const BoxDivider* dx = nullptr;
  // Room for the running sums across the row (for boxes that take them).
  std::uint16_t* prefix = nullptr;
  std::size_t prefixFront = 0, prefixLength = 0;
  // Running sums down the columns (modulo 2^16) of the rows blurred across: of the row entering
  // now (written), of the one before, and of the rows 2 * radiusY + 2 and + 3 before it.
  std::uint16_t* now = nullptr;
  const std::uint16_t *before = nullptr, *far = nullptr, *farther = nullptr;
  const BoxDivider* dy = nullptr;
  // Where the row finished goes: the picture (the last pass) or the next pass's row.
  std::uint8_t* out8 = nullptr;
  std::uint16_t* out16 = nullptr;
};

// The box across by differences of running sums along the row: any box, any channel count.
template <class V, EdgeKind E, int C>
struct SumsAcross {
  using R = typename V::R;
  static constexpr std::size_t kTail = V::kLanes;
  static std::size_t PrefixFront(int radius) {
    // (Rows start on whole vectors.) The zeros in front reach the widest tap behind the first
    // value.
    return (static_cast<std::size_t>(radius + 2) * C + V::kLanes - 1) / V::kLanes * V::kLanes;
  }
  const std::uint16_t* at;
  std::ptrdiff_t ahead, behind;
  R weightS, weightS1, magic;
  int shift;
  explicit SumsAcross(const RowArgs& a)
      : at(a.prefix + a.prefixFront + a.offset),
        ahead(static_cast<std::ptrdiff_t>(a.radiusX) * C),
        behind(static_cast<std::ptrdiff_t>(a.radiusX + 1) * C),
        weightS(V::Set(a.dx->sumWeight - a.dx->edgeWeight)),
        weightS1(V::Set(a.dx->edgeWeight)),
        magic(V::Set(static_cast<int>(a.dx->magic))),
        shift(a.dx->shift) {
    PrefixRow<V, C>(a.in, a.inCount, a.prefix, a.prefixFront, a.prefixLength);
  }
  R Next(std::size_t x) {
    const std::ptrdiff_t i = static_cast<std::ptrdiff_t>(x);
    const R s = V::Sub(V::Load(at + i + ahead), V::Load(at + i - behind));
    R s1 = s;
    if constexpr (E != EdgeKind::kNone)
      s1 = V::Sub(V::Load(at + i + ahead + C), V::Load(at + i - behind - C));
    return Rounded<V, E>(s, s1, weightS, weightS1, magic, shift);
  }
};

constexpr int Log2(int v) {
  int k = 0;
  while ((1 << k) < v) ++k;
  return k;
}

// The box across with half-weight edges over pixels of four channels, when it weighs a power of
// two, W, of sums of neighbouring pixels (a[x - r - 1] + a[x - r], ..., a[x + r] + a[x + r + 1]
// for radius r: W = 2 r + 2). The sums of W are built by doubling within registers, one vector of
// pixels after another along the row: the pairs, then sums of 2, 4, ... pairs from those of the
// vector itself and of the one before, then sums of whole vectors' widths from earlier vectors.
// Running sums and their differences would cost more: their shuffles do not stop at one vector.
template <class V, int W>
struct DoublingAcross {
  using R = typename V::R;
  static constexpr int kPixels = static_cast<int>(V::kLanes) / 4;
  static constexpr int kInner = Log2(W < kPixels ? W : kPixels);
  static constexpr int kOuter = Log2(W) - kInner;
  // Vectors to read before the first one written, so that each sum sees all its W pairs.
  static constexpr int kWarm = (W + kPixels - 2) / kPixels;
  static constexpr std::size_t kFront = (kWarm + 1) * V::kLanes;
  static constexpr std::size_t kTail = 2 * W + 2 * V::kLanes;
  // The sum of the W pairs up to pixel p is the result of pixel p - W / 2: the values read for a
  // vector lie W / 2 pixels after those written.
  // The total weight is 2 W, a power of two: the division is a shift.
  static constexpr int kShift = Log2(2 * W);
  const std::uint16_t* in;
  R before[kInner];
  // The sums of each whole width of earlier vectors: 1 for the first, 2 for the next, ...
  R earlier[(1 << kOuter) - 1 > 0 ? (1 << kOuter) - 1 : 1];
  explicit DoublingAcross(const RowArgs& a) : in(a.in + a.offset + 2 * W) {
    for (R& v : before) v = V::Zero();
    for (R& v : earlier) v = V::Zero();
    for (int i = kWarm; i > 0; --i) Sum(in - static_cast<std::ptrdiff_t>(i) * V::kLanes);
  }
  template <int S>
  R Inner(R b) {
    const R shifted = V::template ShiftPixels<(1 << S)>(b, before[S]);
    before[S] = b;
    return V::Add(b, shifted);
  }
  template <int G>
  R Outer(R b) {
    constexpr int kAt = (1 << G) - 1, kCount = 1 << G;
    const R old = earlier[kAt + kCount - 1];
    for (int k = kCount - 1; k > 0; --k) earlier[kAt + k] = earlier[kAt + k - 1];
    earlier[kAt] = b;
    return V::Add(b, old);
  }
  R Sum(const std::uint16_t* p) {
    R b = V::Add(V::Load(p), V::Load(p - 4));
    [&]<int... S>(std::integer_sequence<int, S...>) {
      ((b = Inner<S>(b)), ...);
    }
    (std::make_integer_sequence<int, kInner>{});
    [&]<int... G>(std::integer_sequence<int, G...>) {
      ((b = Outer<G>(b)), ...);
    }
    (std::make_integer_sequence<int, kOuter>{});
    return b;
  }
  R Next(std::size_t x) { return V::Srl(Sum(in + x), kShift); }
};

// Whether a row's box down is not full yet, or its result goes to the next pass or the picture.
enum class RowMode { kFill, kNext, kLast };

// One row of one pass: the row across, its running sums down, and (unless filling) the row whose
// box down ends with it.
template <class V, class A, EdgeKind EY, RowMode M>
void PassRowAs(const RowArgs& a) {
  constexpr std::size_t kL = V::kLanes;
  A across(a);
  const typename V::R weightS = V::Set(a.dy->sumWeight - a.dy->edgeWeight),
                      weightS1 = V::Set(a.dy->edgeWeight),
                      magic = V::Set(static_cast<int>(a.dy->magic));
  const int shift = a.dy->shift, plainShift = a.dy->plainShift;
  // (In locals: the vector stores may alias anything, and would have the pointers read again.)
  const std::size_t count = a.count;
  std::uint16_t* const sumsNow = a.now;
  const std::uint16_t *const sumsBefore = a.before, *const sumsFar = a.far,
                             *const sumsFarther = a.farther;
  std::uint8_t* const out8 = a.out8;
  std::uint16_t* const out16 = a.out16;
  for (std::size_t x = 0; x < count; x += kL) {
    const typename V::R b = across.Next(x);
    const typename V::R before = V::Load(sumsBefore + x);
    const typename V::R now = V::Add(before, b);
    V::Store(sumsNow + x, now);
    if constexpr (M != RowMode::kFill) {
      // The box of 2 radiusY + 1 rows above the one entering, and the box one row wider.
      const typename V::R s = V::Sub(before, V::Load(sumsFar + x));
      typename V::R s1 = s;
      if constexpr (EY != EdgeKind::kNone) s1 = V::Sub(now, V::Load(sumsFarther + x));
      const typename V::R q = Rounded<V, EY>(s, s1, weightS, weightS1, magic, shift, plainShift);
      if constexpr (M == RowMode::kLast)
        Out<V>(out8 + x, q, count - x);
      else
        V::Store(out16 + x, q);
    }
  }
  // Columns past the row are zeros to the next pass.
  if constexpr (M == RowMode::kNext) V::Store(out16 + count, V::Zero());
}

template <class V, class A, EdgeKind EY>
void PassRow(const RowArgs& a, RowMode mode) {
  switch (mode) {
    case RowMode::kFill:
      return PassRowAs<V, A, EY, RowMode::kFill>(a);
    case RowMode::kNext:
      return PassRowAs<V, A, EY, RowMode::kNext>(a);
    case RowMode::kLast:
      return PassRowAs<V, A, EY, RowMode::kLast>(a);
  }
}

// Every pass of a blur (across, then down, `passes` times) in one sweep down the picture: a row
// read enters the first pass; each pass blurs it across and adds it to running sums down the
// columns, of which it keeps the rows that its box down still reaches; each row coming out of a
// box down enters the next pass at once. The picture is read and written once, whatever the
// number of passes; between passes the values stay 16-bit.
// The sweep goes down one strip of columns at a time, so that the rows in flight stay in the
// nearest cache: each pass runs ahead of the next by the columns that the next reaches, and
// takes the columns on its left that the pass before wrote in the strip before from what that
// strip kept of them. Every row is written back only after every row its result
// depends on has been read, so `data` is both source and destination. The sweep reads and writes
// the rows that `range` gives (all of them for a picture blurred on one thread). Needs the quick
// division both ways (a pass across that reaches nothing leaves its rows as they are).
template <class V>
void AllPasses(std::uint8_t* data, int width, int channels, int radiusX, int radiusY, int passes,
               const BoxDivider& dx, const BoxDivider& dy, Scratch& scratch,
               const RowRange& range) {
  constexpr std::size_t kL = V::kLanes;
  constexpr std::size_t kStrip = 1024;  // values of a strip (a multiple of every channel count)
  using RowFn = void (*)(const RowArgs&, RowMode);
  const std::size_t n = static_cast<std::size_t>(width) * channels;
  RowFn passRow = nullptr;
  std::size_t inFront = kL, inTail = kL, prefixFront = 0;
  auto withY = [&]<class A>() {
    switch (EdgeOf(dy)) {
      case EdgeKind::kNone:
        passRow = PassRow<V, A, EdgeKind::kNone>;
        break;
      case EdgeKind::kHalf:
        passRow = PassRow<V, A, EdgeKind::kHalf>;
        break;
      case EdgeKind::kAny:
        passRow = PassRow<V, A, EdgeKind::kAny>;
        break;
    }
  };
  auto sums = [&]<int C>() {
    prefixFront = SumsAcross<V, EdgeKind::kNone, C>::PrefixFront(radiusX);
    switch (EdgeOf(dx)) {
      case EdgeKind::kNone:
        return withY.template operator()<SumsAcross<V, EdgeKind::kNone, C>>();
      case EdgeKind::kHalf:
        return withY.template operator()<SumsAcross<V, EdgeKind::kHalf, C>>();
      case EdgeKind::kAny:
        return withY.template operator()<SumsAcross<V, EdgeKind::kAny, C>>();
    }
  };
  auto doubling = [&]<int W>() {
    using A = DoublingAcross<V, W>;
    inFront = A::kFront;
    inTail = A::kTail;
    withY.template operator()<A>();
  };
  const int pairs = 2 * radiusX + 2;
  const int widest = 8 * static_cast<int>(kL) / 4;
  if (channels == 4 && EdgeOf(dx) == EdgeKind::kHalf && pairs <= widest && pairs <= 32 &&
      (pairs == 4 || pairs == 8 || pairs == 16 || pairs == 32)) {
    if (pairs == 4)
      doubling.template operator()<4>();
    else if (pairs == 8)
      doubling.template operator()<8>();
    else if (pairs == 16)
      doubling.template operator()<16>();
    else
      doubling.template operator()<32>();
  } else if (channels == 1) {
    sums.template operator()<1>();
  } else if (channels == 2) {
    sums.template operator()<2>();
  } else {
    sums.template operator()<4>();
  }
  // How far one pass across reaches on either side, and all of them; strips only where the
  // reach is small beside them.
  const std::size_t reach = static_cast<std::size_t>(radiusX + 1) * channels;
  const std::size_t allReach = reach * static_cast<std::size_t>(passes);
  const std::size_t strip = 2 * allReach <= kStrip / 2 ? kStrip : n;
  // In a strip, pass k writes the columns `ahead[k]` to the right of the strip's own: each pass
  // runs ahead of the next by what the next reaches, so that a strip's passes write each column
  // once, and the first pass reads no column that the strip before wrote.
  std::vector<std::size_t> ahead(static_cast<std::size_t>(passes));
  for (int k = 0; k < passes; ++k)
    ahead[static_cast<std::size_t>(k)] = reach * static_cast<std::size_t>(passes - 1 - k);
  // The running sums down reach from 2 * radiusY + 3 rows before the row entering.
  const int slots = 2 * radiusY + 4;
  const int count = range.bottom - range.top;
  const std::size_t rows = static_cast<std::size_t>(count);
  scratch.passes.resize(static_cast<std::size_t>(passes));
  // Where each pass stands in a strip: its arguments for the next row (most stay the same along
  // the strip), its row, its ring of running sums, the slot of the row entering next, and how
  // many rows have entered.
  struct Pass {
    RowArgs args;
    std::uint16_t* row = nullptr;
    std::uint16_t* ring = nullptr;
    std::size_t stride = 0, outLo = 0;
    int at = 0, entered = 0;
  };
  std::vector<Pass> state(static_cast<std::size_t>(passes));
  // Pass k reads columns in[k] .. in[k + 1] - 1 and writes out[k] .. out[k + 1] - 1.
  struct Span {
    std::size_t lo, hi;
  };
  std::vector<Span> in(static_cast<std::size_t>(passes)), out(static_cast<std::size_t>(passes));
  auto whole = [](std::size_t v) { return (v + kL - 1) / kL * kL; };
  // The columns a pass reads on the left of what the pass before writes in the strip (2 reach,
  // none in the first strip), written by the pass before in the strip before: its last ones, kept
  // for every row (in the pass before's buffers).
  const std::size_t keptWidth = 2 * reach;
  for (int k = 0; k + 1 < passes; ++k)
    scratch.passes[static_cast<std::size_t>(k)].kept.resize(rows * keptWidth);
  for (std::size_t x0 = 0; x0 < n;) {
    // (A last strip is wider than what the first pass runs ahead, so that each pass writes some
    // of its columns.)
    const std::size_t x1 = n - x0 > strip + ahead[0] ? x0 + strip : n;
    std::size_t longest = 0;
    for (int k = 0; k < passes; ++k) {
      const std::size_t i = static_cast<std::size_t>(k);
      out[i] = {x0 == 0 ? 0 : x0 + ahead[i], x1 == n ? n : x1 + ahead[i]};
      in[i] = {out[i].lo > reach ? out[i].lo - reach : 0, std::min(n, out[i].hi + reach)};
      const std::size_t length = inFront + whole(in[i].hi - in[i].lo) + inTail;
      longest = std::max(longest, length);
      Pass& p = state[i];
      p.stride = whole(out[i].hi - out[i].lo);
      p.outLo = out[i].lo;
      PassBuffers& b = scratch.passes[i];
      b.row.assign(length, 0);
      if (prefixFront > 0) b.prefix.assign(2 * prefixFront + whole(in[i].hi - in[i].lo) + kL, 0);
      b.ring.assign(static_cast<std::size_t>(slots) * p.stride, 0);
      p.row = b.row.data() + inFront;
      p.ring = b.ring.data();
      p.at = p.entered = 0;
      RowArgs& a = p.args;
      a = RowArgs{};
      a.inCount = in[i].hi - in[i].lo;
      a.offset = out[i].lo - in[i].lo;
      a.count = out[i].hi - out[i].lo;
      a.radiusX = radiusX;
      a.dx = &dx;
      a.prefix = b.prefix.data();
      a.prefixFront = prefixFront;
      a.prefixLength = b.prefix.size();
      a.dy = &dy;
    }
    // Pass k writes into the row of pass k + 1, after the kept columns.
    for (int k = 0; k + 1 < passes; ++k) {
      const std::size_t i = static_cast<std::size_t>(k);
      state[i].args.out16 = state[i + 1].row + (out[i].lo - in[i + 1].lo);
    }
    scratch.zeroRow.assign(longest, 0);
    const std::uint16_t* const zeroIn = scratch.zeroRow.data() + inFront;
    const std::size_t readCount = in[0].hi - in[0].lo;
    // Room for the end of the row (its last part vector), with zeros behind it.
    scratch.padded.assign(whole(readCount) + kL, 0);
    const bool left = x0 > 0, right = x1 < n;
    // (In whole vectors where they fit: a call to copy a few of them costs more than the copy.)
    const std::size_t keptWhole = keptWidth / kL * kL;
    auto copyKept = [&](std::uint16_t* to, const std::uint16_t* from) {
      for (std::size_t x = 0; x < keptWhole; x += kL) V::Store(to + x, V::Load(from + x));
      for (std::size_t x = keptWhole; x < keptWidth; ++x) to[x] = from[x];
    };
    // The next row enters pass k: its own row, or zeros (rows below those read). Row j of a pass
    // has its running sums in slot j % slots of the pass's ring, kept as a count (the divisions of
    // a modulo per row and pass showed in the profile).
    auto enter = [&](auto& self, int k, bool zero) -> void {
      Pass& p = state[static_cast<std::size_t>(k)];
      RowArgs& a = p.args;
      if (k > 0 && !zero && (left || right)) {
        // The columns kept from the strip before go in front of the row; the last ones the pass
        // before wrote are kept for the strip after.
        const std::size_t i = static_cast<std::size_t>(k - 1);
        std::uint16_t* keptRow =
            scratch.passes[i].kept.data() + static_cast<std::size_t>(p.entered) * keptWidth;
        if (left) copyKept(p.row, keptRow);
        if (right) copyKept(keptRow, p.row + (in[i + 1].hi - in[i + 1].lo) - keptWidth);
      }
      // The row finished now is the one whose box ends at the row entering.
      const int y = p.entered++ - radiusY - 1;
      const bool last = k + 1 == passes;
      a.in = zero ? zeroIn : p.row;
      auto back = [&](int above) {
        const int s = p.at >= above ? p.at - above : p.at - above + slots;
        return p.ring + static_cast<std::size_t>(s) * p.stride;
      };
      a.now = p.ring + static_cast<std::size_t>(p.at) * p.stride;
      a.before = back(1);
      a.far = back(2 * radiusY + 2);
      a.farther = back(2 * radiusY + 3);
      if (++p.at == slots) p.at = 0;
      RowMode mode = RowMode::kFill;
      if (y >= 0 && !last) {
        mode = RowMode::kNext;
      } else if (y >= 0) {
        // (The last pass only keeps its sums for rows that another sweep writes.)
        const int picture = range.top + y;
        if (picture >= range.outTop && picture < range.outBottom) {
          a.out8 = data + static_cast<std::size_t>(picture) * n + p.outLo;
          mode = RowMode::kLast;
        }
      }
      passRow(a, mode);
      if (mode != RowMode::kNext) return;
      self(self, k + 1, false);
      if (y == count - 1)
        for (int r = 0; r <= radiusY; ++r) self(self, k + 1, true);
    };
    std::uint16_t* const first = state[0].row;
    auto rowAt = [&](int y) -> const std::uint8_t* {
      if (y >= range.copyTop && y < range.copyBottom)
        return range.copy + static_cast<std::size_t>(y - range.copyTop) * n;
      return data + static_cast<std::size_t>(y) * n;
    };
    const std::size_t readWhole = readCount / kL * kL, rest = readCount - readWhole;
    for (int j = 0; j < count; ++j) {
      const int y = range.top + j;
      const std::uint8_t* source = rowAt(y) + in[0].lo;
      // Rows of a strip are short pieces of far apart memory: ask for the ones after next early.
      if (j + 2 < count) {
        const std::uint8_t* later = rowAt(y + 2) + in[0].lo;
        for (std::size_t x = 0; x < readCount; x += 64) __builtin_prefetch(later + x);
      }
      // The row enters widened to 16 bits, straight from the picture in whole vectors, and the
      // rest of it through a copy followed by zeros.
      for (std::size_t x = 0; x < readWhole; x += kL) V::Store(first + x, V::Widen(source + x));
      std::uint8_t* end = scratch.padded.data();
      std::memcpy(end, source + readWhole, rest);
      for (std::size_t x = 0; x < rest; x += kL) V::Store(first + readWhole + x, V::Widen(end + x));
      enter(enter, 0, false);
    }
    for (int r = 0; r <= radiusY; ++r) enter(enter, 0, true);
    x0 = x1;
  }
}

}  // namespace

// The widest vectors, in bytes (16, 32 or 64), that the blur and OverRow may use where the
// processor has them (64 by default; the tests run every kind of kernel on one machine).
void LimitVectorBytes(int bytes);
// The size (in bytes) from which a picture is blurred in two halves at once, on two threads
// (512 x 512 pixels of four channels by default; the tests split small pictures too). Returns the
// size it replaces.
std::size_t SplitFrom(std::size_t bytes);
// The share of a split picture's rows that the calling thread blurs, in parts of kShareOne. It
// follows how long each half takes (the side thread may run on a slower core, or a busier one,
// or wake late): NextShare gives the share after a split whose halves ended `callerTime` and
// `sideTime` after they were handed out.
// CallerShare sets it (the tests split pictures unevenly) and returns the one it replaces.
constexpr int kShareOne = 4096;
int NextShare(int share, double callerTime, double sideTime);
int CallerShare(int share);

// The passes with 32-byte vectors, where the processor has them (built in a file of its own).
bool HaveWideVectors();
void AcrossWide(const std::uint8_t* src, std::uint8_t* dst, int width, int height, int channels,
                int radius, const BoxDivider& d, Scratch& scratch);
void DownWide(const std::uint8_t* src, std::uint8_t* dst, std::size_t n, int height, int radius,
              const BoxDivider& d, Scratch& scratch);
void AllPassesWide(std::uint8_t* data, int width, int channels, int radiusX, int radiusY,
                   int passes, const BoxDivider& dx, const BoxDivider& dy, Scratch& scratch,
                   const RowRange& range);

// Every pass with 64-byte vectors, where the processor has them (built in a file of its own).
bool HaveWidestVectors();
void AllPassesWidest(std::uint8_t* data, int width, int channels, int radiusX, int radiusY,
                     int passes, const BoxDivider& dx, const BoxDivider& dy, Scratch& scratch,
                     const RowRange& range);

}  // namespace dbx::swf::blur
