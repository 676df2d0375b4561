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
#include <vector>

namespace dbx::swf::blur {

struct BoxDivider {
  bool fast = false;
  int sumWeight = 1, edgeWeight = 0;  // the value is sumWeight * sum + edgeWeight * (a + b)
  int total = 1;                      // ... divided by this
  std::uint32_t magic = 0;
  int shift = 0;
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
// row entering the pass (with zeros around it), the rows blurred across that the box down still
// reaches, and the box down's sums.
struct PassBuffers {
  Lines<std::uint16_t> padded;
  Lines<std::uint16_t> ring;
  Lines<std::uint16_t> sums;
};

struct Scratch {
  Lines<std::uint8_t> padded;
  Lines<std::uint16_t> prefix;
  Lines<std::uint16_t> sums;
  std::vector<std::uint8_t> zeros;
  std::vector<PassBuffers> passes;
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
                             typename V::R weightS1, typename V::R magic, int shift) {
  // (A shift of 0 is common: boxes whose total is a power of two.)
  typename V::R v;
  if constexpr (E == EdgeKind::kNone)
    v = s;
  else if constexpr (E == EdgeKind::kHalf)
    v = V::Add(s, s1);
  else
    v = V::Add(V::MulLo(s, weightS), V::MulLo(s1, weightS1));
  return shift == 0 ? V::MulHi(v, magic) : V::Srl(V::MulHi(v, magic), shift);
}

// Values of a row as vectors of 16-bit lanes: bytes widened, 16-bit values as they are.
template <class V>
inline typename V::R In(const std::uint8_t* p) {
  return V::Widen(p);
}
template <class V>
inline typename V::R In(const std::uint16_t* p) {
  return V::Load(p);
}

// Stores `count` lanes of `v` (a whole vector when it has as many).
template <class V>
inline void Out(std::uint8_t* p, typename V::R v, std::size_t count) {
  if (count >= V::kLanes)
    V::Narrow(p, v);
  else
    V::NarrowPart(p, v, count);
}
template <class V>
inline void Out(std::uint16_t* p, typename V::R v, std::size_t count) {
  if (count >= V::kLanes) {
    V::Store(p, v);
  } else {
    alignas(64) std::uint16_t lanes[V::kLanes];
    V::Store(lanes, v);
    std::memcpy(p, lanes, count * sizeof(std::uint16_t));
  }
}

// One row across: the row's `n` values lie at `front` in `padded` (`length` values, zeros around
// them reaching beyond the widest tap); the box sums are differences of running sums along the
// row, kept modulo 2^16 (every box sum itself fits). Writes `n` values to `out`, or whole vectors
// when `whole` (up to n rounded up to the vector's lanes).
template <class V, EdgeKind E, int C, class T, class U>
void AcrossRow(const T* padded, std::uint16_t* prefix, std::size_t length, std::size_t front,
               std::size_t n, int radius, const BoxDivider& d, U* out, bool whole) {
  constexpr std::size_t kL = V::kLanes;
  const std::ptrdiff_t ahead = static_cast<std::ptrdiff_t>(radius) * C;
  const std::ptrdiff_t behind = static_cast<std::ptrdiff_t>(radius + 1) * C;
  const typename V::R weightS = V::Set(d.sumWeight - d.edgeWeight), weightS1 = V::Set(d.edgeWeight),
                      magic = V::Set(d.magic);
  const int shift = d.shift;
  typename V::R carry = V::Zero();
  for (std::size_t i = 0; i < length; i += kL)
    V::Store(prefix + i, V::template Prefix<C>(In<V>(padded + i), carry));
  // at[p] holds the sum of the channel's values up to value p of the row.
  const std::uint16_t* at = prefix + front;
  for (std::size_t p = 0; p < n; p += kL) {
    const std::ptrdiff_t i = static_cast<std::ptrdiff_t>(p);
    const typename V::R s = V::Sub(V::Load(at + i + ahead), V::Load(at + i - behind));
    typename V::R s1 = s;
    if constexpr (E != EdgeKind::kNone)
      s1 = V::Sub(V::Load(at + i + ahead + C), V::Load(at + i - behind - C));
    Out<V>(out + p, Rounded<V, E>(s, s1, weightS, weightS1, magic, shift), whole ? kL : n - p);
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
                       dst + static_cast<std::size_t>(y) * n, false);
  }
}

// One row of a pass down: `sums` holds the box's sums of the `stride` columns for the row before
// `below` (the row entering the box next); `top` leaves the box after this row, `above` is the
// row just above the box. Writes `count` values of the row to `out` (none when null) and moves
// the sums on by one row.
template <class V, EdgeKind E, class U>
void DownRow(const std::uint16_t* above, const std::uint16_t* top, const std::uint16_t* below,
             std::uint16_t* sums, std::size_t stride, const BoxDivider& d, U* out,
             std::size_t count) {
  constexpr std::size_t kL = V::kLanes;
  const typename V::R weightS = V::Set(d.sumWeight - d.edgeWeight), weightS1 = V::Set(d.edgeWeight),
                      magic = V::Set(d.magic);
  const int shift = d.shift;
  for (std::size_t x = 0; x < stride; x += kL) {
    const typename V::R s = V::Load(sums + x);
    const typename V::R b = V::Load(below + x);
    if (out && x < count) {
      typename V::R s1 = s;
      if constexpr (E != EdgeKind::kNone) s1 = V::Add(s, V::Add(V::Load(above + x), b));
      Out<V>(out + x, Rounded<V, E>(s, s1, weightS, weightS1, magic, shift), count - x);
    }
    V::Store(sums + x, V::Sub(V::Add(s, b), V::Load(top + x)));
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

// Every pass of a blur (across, then down, `passes` times) in one sweep down the picture: a row
// read enters the first pass, each pass blurs it across into a ring of the rows that its box down
// still reaches, and each row coming out of a box down enters the next pass at once. The picture
// is read and written once, whatever the number of passes; between passes the values stay 16-bit.
// The sweep goes down one strip of columns at a time, so that the rows in flight stay in the
// nearest cache: each pass needs the columns that the passes across after it reach, so a strip
// reads that much more on either side; the columns on its left were written by the strip before,
// which kept their old values aside. Every row is written back only after every row its result
// depends on has been read, so `data` is both source and destination. Needs the quick division
// down, and across unless `across` is false (nothing across).
template <class V>
void AllPasses(std::uint8_t* data, int width, int height, int channels, int radiusX, int radiusY,
               int passes, const BoxDivider& dx, const BoxDivider& dy, bool across,
               Scratch& scratch) {
  constexpr std::size_t kL = V::kLanes;
  constexpr std::size_t kStrip = 1024;  // values of a strip (a multiple of every channel count)
  using FirstFn = void (*)(const std::uint8_t*, std::uint16_t*, std::size_t, std::size_t,
                           std::size_t, int, const BoxDivider&, std::uint16_t*, bool);
  using NextFn = void (*)(const std::uint16_t*, std::uint16_t*, std::size_t, std::size_t,
                          std::size_t, int, const BoxDivider&, std::uint16_t*, bool);
  const std::size_t n = static_cast<std::size_t>(width) * channels;
  FirstFn first = nullptr;
  NextFn next = nullptr;
  std::size_t front = 0;
  auto pick = [&]<int C>() {
    // (Rows start on whole vectors.)
    front = (static_cast<std::size_t>(radiusX + 2) * C + kL - 1) / kL * kL;
    switch (EdgeOf(dx)) {
      case EdgeKind::kNone:
        first = AcrossRow<V, EdgeKind::kNone, C, std::uint8_t, std::uint16_t>;
        next = AcrossRow<V, EdgeKind::kNone, C, std::uint16_t, std::uint16_t>;
        break;
      case EdgeKind::kHalf:
        first = AcrossRow<V, EdgeKind::kHalf, C, std::uint8_t, std::uint16_t>;
        next = AcrossRow<V, EdgeKind::kHalf, C, std::uint16_t, std::uint16_t>;
        break;
      case EdgeKind::kAny:
        first = AcrossRow<V, EdgeKind::kAny, C, std::uint8_t, std::uint16_t>;
        next = AcrossRow<V, EdgeKind::kAny, C, std::uint16_t, std::uint16_t>;
        break;
    }
  };
  if (channels == 1)
    pick.template operator()<1>();
  else if (channels == 2)
    pick.template operator()<2>();
  else
    pick.template operator()<4>();
  auto downTo = [&]<class U>(U*) {
    const EdgeKind e = EdgeOf(dy);
    return e == EdgeKind::kNone   ? DownRow<V, EdgeKind::kNone, U>
           : e == EdgeKind::kHalf ? DownRow<V, EdgeKind::kHalf, U>
                                  : DownRow<V, EdgeKind::kAny, U>;
  };
  const auto downToNext = downTo(static_cast<std::uint16_t*>(nullptr));
  const auto downToData = downTo(static_cast<std::uint8_t*>(nullptr));
  // How far one pass across reaches on either side, and all of them; strips only where the
  // reach is small beside them.
  const std::size_t reach = across ? static_cast<std::size_t>(radiusX + 1) * channels : 0;
  const std::size_t allReach = reach * static_cast<std::size_t>(passes);
  const std::size_t strip = 2 * allReach <= kStrip / 2 ? kStrip : n;
  // The box down reaches from radiusY + 1 rows above its row to as many below.
  const int slots = 2 * radiusY + 3;
  const std::size_t rows = static_cast<std::size_t>(height);
  scratch.passes.resize(static_cast<std::size_t>(passes));
  std::vector<int> entered(static_cast<std::size_t>(passes));
  // Pass k reads columns in[k] .. in[k + 1] - 1 and writes out[k] .. out[k + 1] - 1 (which
  // pass k + 1 reads).
  struct Span {
    std::size_t lo, hi;
  };
  std::vector<Span> in(static_cast<std::size_t>(passes)), out(static_cast<std::size_t>(passes));
  std::vector<std::size_t> lengths(static_cast<std::size_t>(passes)),
      strides(static_cast<std::size_t>(passes));
  // The old values of the columns that the next strip reads on its left.
  std::vector<std::uint8_t> keptBefore, keptNow;
  for (std::size_t x0 = 0; x0 < n; x0 += strip) {
    const std::size_t x1 = std::min(n, x0 + strip);
    for (int k = 0; k < passes; ++k) {
      const std::size_t i = static_cast<std::size_t>(k);
      const std::size_t after = reach * static_cast<std::size_t>(passes - 1 - k);
      out[i] = {x0 > after ? x0 - after : 0, std::min(n, x1 + after)};
      in[i] =
          k == 0 ? Span{x0 > allReach ? x0 - allReach : 0, std::min(n, x1 + allReach)} : out[i - 1];
      const std::size_t count = in[i].hi - in[i].lo;
      // Zeros in front of a row reach the widest tap behind its first value; zeros behind keep
      // the running sums level past the last value.
      lengths[i] = (front + count + front + kL + kL - 1) / kL * kL;
      strides[i] = (count + kL - 1) / kL * kL + kL;
      PassBuffers& b = scratch.passes[i];
      b.padded.assign(lengths[i], 0);
      b.ring.assign(static_cast<std::size_t>(slots) * strides[i], 0);
      b.sums.assign(strides[i], 0);
      entered[i] = 0;
    }
    scratch.padded.assign(lengths[0], 0);
    scratch.prefix.resize(lengths[0]);
    const std::size_t keepLo = x1 > allReach ? x1 - allReach : 0;
    keptNow.resize(rows * (x1 - keepLo));
    auto slot = [&](int k, int row) {
      const std::size_t i = static_cast<std::size_t>(k);
      return scratch.passes[i].ring.data() +
             static_cast<std::size_t>((row % slots + slots) % slots) * strides[i];
    };
    // Row number entered[k] enters pass k: the row lies in the pass's padded row (the picture's
    // padded row for the first pass) unless `zero` (rows below the picture).
    auto enter = [&](auto& self, int k, bool zero) -> void {
      const std::size_t i = static_cast<std::size_t>(k);
      PassBuffers& b = scratch.passes[i];
      const std::size_t count = in[i].hi - in[i].lo;
      const int j = entered[i]++;
      std::uint16_t* row = slot(k, j);
      if (zero) {
        std::fill_n(row, strides[i], std::uint16_t{0});
      } else if (k == 0) {
        if (across)
          first(scratch.padded.data(), scratch.prefix.data(), lengths[i], front, count, radiusX, dx,
                row, true);
        else
          std::copy_n(scratch.padded.data() + front, count, row);
      } else if (across) {
        if (scratch.prefix.size() < lengths[i]) scratch.prefix.resize(lengths[i]);
        next(b.padded.data(), scratch.prefix.data(), lengths[i], front, count, radiusX, dx, row,
             true);
      } else {
        std::copy_n(b.padded.data() + front, count, row);
      }
      // The row finished now is the one whose box ends at row j; the box down runs over the
      // columns that the pass writes.
      const int y = j - radiusY - 1;
      const std::size_t skip = out[i].lo - in[i].lo, wide = out[i].hi - out[i].lo;
      const std::uint16_t* above = slot(k, j - 2 * radiusY - 2) + skip;
      const std::uint16_t* top = slot(k, j - 2 * radiusY - 1) + skip;
      const std::size_t columns = (wide + kL - 1) / kL * kL;
      if (k + 1 == passes) {
        downToData(above, top, row + skip, b.sums.data(), columns, dy,
                   y < 0 ? nullptr : data + static_cast<std::size_t>(y) * n + out[i].lo, wide);
        return;
      }
      PassBuffers& to = scratch.passes[i + 1];
      downToNext(above, top, row + skip, b.sums.data(), columns, dy,
                 y < 0 ? nullptr : to.padded.data() + front, wide);
      if (y < 0) return;
      self(self, k + 1, false);
      if (y == height - 1)
        for (int r = 0; r <= radiusY; ++r) self(self, k + 1, true);
    };
    const std::size_t keptWidth = x0 > 0 ? x0 - in[0].lo : 0;
    for (int y = 0; y < height; ++y) {
      std::uint8_t* source = data + static_cast<std::size_t>(y) * n;
      // Rows of a strip are short pieces of far apart memory: ask for the ones after next early.
      if (y + 2 < height)
        for (std::size_t x = in[0].lo; x < in[0].hi; x += 64)
          __builtin_prefetch(source + 2 * n + x);
      std::uint8_t* padded = scratch.padded.data() + front;
      std::memcpy(padded, source + in[0].lo, in[0].hi - in[0].lo);
      // The columns on the left as they were before the strip before wrote them.
      if (keptWidth > 0)
        std::memcpy(padded, keptBefore.data() + static_cast<std::size_t>(y) * keptWidth, keptWidth);
      if (x1 < n)
        std::memcpy(keptNow.data() + static_cast<std::size_t>(y) * (x1 - keepLo), source + keepLo,
                    x1 - keepLo);
      enter(enter, 0, false);
    }
    for (int r = 0; r <= radiusY; ++r) enter(enter, 0, true);
    std::swap(keptBefore, keptNow);
  }
}

}  // namespace

// The widest vectors, in bytes (16, 32 or 64), that the blur may use where the processor has them
// (64 by default; the tests run every kind of pass on one machine).
void LimitVectorBytes(int bytes);

// The passes with 32-byte vectors, where the processor has them (built in a file of its own).
bool HaveWideVectors();
void AcrossWide(const std::uint8_t* src, std::uint8_t* dst, int width, int height, int channels,
                int radius, const BoxDivider& d, Scratch& scratch);
void DownWide(const std::uint8_t* src, std::uint8_t* dst, std::size_t n, int height, int radius,
              const BoxDivider& d, Scratch& scratch);
void AllPassesWide(std::uint8_t* data, int width, int height, int channels, int radiusX,
                   int radiusY, int passes, const BoxDivider& dx, const BoxDivider& dy, bool across,
                   Scratch& scratch);

// Every pass with 64-byte vectors, where the processor has them (built in a file of its own).
bool HaveWidestVectors();
void AllPassesWidest(std::uint8_t* data, int width, int height, int channels, int radiusX,
                     int radiusY, int passes, const BoxDivider& dx, const BoxDivider& dy,
                     bool across, Scratch& scratch);

}  // namespace dbx::swf::blur
