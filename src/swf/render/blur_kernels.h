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
// The buffers of one pass of a blur whose passes run together in one sweep down the picture: the
// row entering the pass (with zeros around it), its running sums, the rows blurred across that
// the box down still reaches, and the box down's sums.
struct PassBuffers {
  std::vector<std::uint8_t> padded;
  std::vector<std::uint16_t> prefix;
  std::vector<std::uint8_t> ring;
  std::vector<std::uint16_t> sums;
};

struct Scratch {
  std::vector<std::uint8_t> padded;
  std::vector<std::uint16_t> prefix;
  std::vector<std::uint16_t> sums;
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
  typename V::R v;
  if constexpr (E == EdgeKind::kNone)
    v = s;
  else if constexpr (E == EdgeKind::kHalf)
    v = V::Add(s, s1);
  else
    v = V::Add(V::MulLo(s, weightS), V::MulLo(s1, weightS1));
  return V::Srl(V::MulHi(v, magic), shift);
}

// One row across: the row's `n` bytes lie at `front` in `padded` (`length` bytes, zeros around
// them reaching beyond the widest tap); the box sums are differences of running sums along the
// row, kept modulo 2^16 (every box sum itself fits). Writes `n` bytes to `out`.
template <class V, EdgeKind E, int C>
void AcrossRow(const std::uint8_t* padded, std::uint16_t* prefix, std::size_t length,
               std::size_t front, std::size_t n, int radius, const BoxDivider& d,
               std::uint8_t* out) {
  constexpr std::size_t kL = V::kLanes;
  const std::ptrdiff_t ahead = static_cast<std::ptrdiff_t>(radius) * C;
  const std::ptrdiff_t behind = static_cast<std::ptrdiff_t>(radius + 1) * C;
  const typename V::R weightS = V::Set(d.sumWeight - d.edgeWeight), weightS1 = V::Set(d.edgeWeight),
                      magic = V::Set(d.magic);
  typename V::R carry = V::Zero();
  for (std::size_t i = 0; i < length; i += kL)
    V::Store(prefix + i, V::template Prefix<C>(V::Widen(padded + i), carry));
  // at[p] holds the sum of the channel's values up to byte p of the row.
  const std::uint16_t* at = prefix + front;
  for (std::size_t p = 0; p < n; p += kL) {
    const std::ptrdiff_t i = static_cast<std::ptrdiff_t>(p);
    const typename V::R s = V::Sub(V::Load(at + i + ahead), V::Load(at + i - behind));
    typename V::R s1 = s;
    if constexpr (E != EdgeKind::kNone)
      s1 = V::Sub(V::Load(at + i + ahead + C), V::Load(at + i - behind - C));
    const typename V::R q = Rounded<V, E>(s, s1, weightS, weightS1, magic, d.shift);
    if (p + kL <= n)
      V::Narrow(out + p, q);
    else
      V::NarrowPart(out + p, q, n - p);
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

// One row of a pass down: `sums` holds the box's sums of the `stride` columns for the row before
// `below` (the row entering the box next); `top` leaves the box after this row, `above` is the
// row just above the box. Writes `count` bytes of the row to `out` (none when null) and moves the
// sums on by one row.
template <class V, EdgeKind E>
void DownRow(const std::uint8_t* above, const std::uint8_t* top, const std::uint8_t* below,
             std::uint16_t* sums, std::size_t stride, const BoxDivider& d, std::uint8_t* out,
             std::size_t count) {
  constexpr std::size_t kL = V::kLanes;
  const typename V::R weightS = V::Set(d.sumWeight - d.edgeWeight), weightS1 = V::Set(d.edgeWeight),
                      magic = V::Set(d.magic);
  for (std::size_t x = 0; x < stride; x += kL) {
    const typename V::R s = V::Load(sums + x);
    const typename V::R b = V::Widen(below + x);
    if (out && x < count) {
      typename V::R s1 = s;
      if constexpr (E != EdgeKind::kNone) s1 = V::Add(s, V::Add(V::Widen(above + x), b));
      const typename V::R q = Rounded<V, E>(s, s1, weightS, weightS1, magic, d.shift);
      if (x + kL <= count)
        V::Narrow(out + x, q);
      else
        V::NarrowPart(out + x, q, count - x);
    }
    V::Store(sums + x, V::Sub(V::Add(s, b), V::Widen(top + x)));
  }
}

// One pass down every column: `src` and `dst` are different planes of `height` rows of `n` bytes
// (n >= the vector's lanes). Rows are read in order, a strip of columns at a time, so that the
// rows in use and the running sums of the strip stay in the nearest cache.
template <class V, EdgeKind E>
void DownColumns(const std::uint8_t* src, std::uint8_t* dst, std::size_t n, int height, int radius,
                 const BoxDivider& d, Scratch& scratch) {
  constexpr std::size_t kL = V::kLanes;
  constexpr std::size_t kStrip = 2048;
  scratch.sums.resize(kStrip + kL);
  scratch.zeros.assign(n, 0);
  const typename V::R weightS = V::Set(d.sumWeight - d.edgeWeight), weightS1 = V::Set(d.edgeWeight),
                      magic = V::Set(d.magic);
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
        V::Narrow(out + x, Rounded<V, E>(s, s1, weightS, weightS1, magic, d.shift));
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
// is read and written once, whatever the number of passes; the rows in flight stay in cache. A
// row is written back only after every row its result depends on has been read, so `data` is
// both source and destination. Needs the quick division down, and across unless `across` is
// false (nothing across).
template <class V>
void AllPasses(std::uint8_t* data, int width, int height, int channels, int radiusX, int radiusY,
               int passes, const BoxDivider& dx, const BoxDivider& dy, bool across,
               Scratch& scratch) {
  constexpr std::size_t kL = V::kLanes;
  using AcrossFn = void (*)(const std::uint8_t*, std::uint16_t*, std::size_t, std::size_t,
                            std::size_t, int, const BoxDivider&, std::uint8_t*);
  using DownFn =
      void (*)(const std::uint8_t*, const std::uint8_t*, const std::uint8_t*, std::uint16_t*,
               std::size_t, const BoxDivider&, std::uint8_t*, std::size_t);
  const std::size_t n = static_cast<std::size_t>(width) * channels;
  const std::size_t stride = (n + kL - 1) / kL * kL;
  std::size_t front = 0, length = 0;
  AcrossFn acrossRow = nullptr;
  auto pick = [&]<int C>() {
    PaddingOf<V, C>(n, radiusX, front, length);
    switch (EdgeOf(dx)) {
      case EdgeKind::kNone:
        acrossRow = AcrossRow<V, EdgeKind::kNone, C>;
        break;
      case EdgeKind::kHalf:
        acrossRow = AcrossRow<V, EdgeKind::kHalf, C>;
        break;
      case EdgeKind::kAny:
        acrossRow = AcrossRow<V, EdgeKind::kAny, C>;
        break;
    }
  };
  if (channels == 1)
    pick.template operator()<1>();
  else if (channels == 2)
    pick.template operator()<2>();
  else
    pick.template operator()<4>();
  DownFn downRow = EdgeOf(dy) == EdgeKind::kNone   ? DownRow<V, EdgeKind::kNone>
                   : EdgeOf(dy) == EdgeKind::kHalf ? DownRow<V, EdgeKind::kHalf>
                                                   : DownRow<V, EdgeKind::kAny>;
  // The box down reaches from radiusY + 1 rows above its row to as many below.
  const int slots = 2 * radiusY + 3;
  scratch.passes.resize(static_cast<std::size_t>(passes));
  for (PassBuffers& b : scratch.passes) {
    b.padded.assign(std::max(length, front + stride), 0);
    b.prefix.resize(b.padded.size());
    b.ring.assign(static_cast<std::size_t>(slots) * stride, 0);
    b.sums.assign(stride, 0);
  }
  std::vector<int> entered(static_cast<std::size_t>(passes), 0);
  auto slot = [&](PassBuffers& b, int row) {
    return b.ring.data() + static_cast<std::size_t>((row % slots + slots) % slots) * stride;
  };
  // Row number entered[k] enters pass k: the row lies in the pass's padded row unless `zero`
  // (rows below the picture).
  auto enter = [&](auto& self, int k, bool zero) -> void {
    PassBuffers& b = scratch.passes[static_cast<std::size_t>(k)];
    const int j = entered[static_cast<std::size_t>(k)]++;
    std::uint8_t* row = slot(b, j);
    if (zero)
      std::memset(row, 0, stride);
    else if (across)
      acrossRow(b.padded.data(), b.prefix.data(), length, front, n, radiusX, dx, row);
    else
      std::memcpy(row, b.padded.data() + front, n);
    // The row finished now is the one whose box ends at row j.
    const int y = j - radiusY - 1;
    const bool last = k + 1 == passes;
    std::uint8_t* out = y < 0 ? nullptr
                        : last
                            ? data + static_cast<std::size_t>(y) * n
                            : scratch.passes[static_cast<std::size_t>(k) + 1].padded.data() + front;
    downRow(slot(b, j - 2 * radiusY - 2), slot(b, j - 2 * radiusY - 1), row, b.sums.data(), stride,
            dy, out, last ? n : stride);
    if (y < 0 || last) return;
    self(self, k + 1, false);
    if (y == height - 1)
      for (int i = 0; i <= radiusY; ++i) self(self, k + 1, true);
  };
  for (int y = 0; y < height; ++y) {
    std::memcpy(scratch.passes[0].padded.data() + front, data + static_cast<std::size_t>(y) * n, n);
    enter(enter, 0, false);
  }
  for (int i = 0; i <= radiusY; ++i) enter(enter, 0, true);
}

}  // namespace

// Whether the blur may use 32-byte vectors where the processor has them (on by default; the tests
// run both kinds of pass on one machine).
void AllowWideVectors(bool allow);

// The passes with 32-byte vectors, where the processor has them (built in a file of its own).
bool HaveWideVectors();
void AcrossWide(const std::uint8_t* src, std::uint8_t* dst, int width, int height, int channels,
                int radius, const BoxDivider& d, Scratch& scratch);
void DownWide(const std::uint8_t* src, std::uint8_t* dst, std::size_t n, int height, int radius,
              const BoxDivider& d, Scratch& scratch);
void AllPassesWide(std::uint8_t* data, int width, int height, int channels, int radiusX,
                   int radiusY, int passes, const BoxDivider& dx, const BoxDivider& dy, bool across,
                   Scratch& scratch);

}  // namespace dbx::swf::blur
