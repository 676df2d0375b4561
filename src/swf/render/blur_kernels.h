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
struct Scratch {
  std::vector<std::uint8_t> padded;
  std::vector<std::uint16_t> prefix;
  std::vector<std::uint16_t> sums;
  std::vector<std::uint8_t> zeros;
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

// One pass across every row of `channels` (C) interleaved channels: the box sums are differences
// of running sums along the row, kept modulo 2^16 (every box sum itself fits). Reads `src`,
// writes `dst` (which may be `src`).
template <class V, EdgeKind E, int C>
void AcrossRows(const std::uint8_t* src, std::uint8_t* dst, int width, int height, int radius,
                const BoxDivider& d, Scratch& scratch) {
  constexpr std::size_t kL = V::kLanes;
  const std::size_t n = static_cast<std::size_t>(width) * C;
  // Zeros in front reach the widest tap behind the first pixel; zeros behind keep the running
  // sums level past the last pixel.
  const std::size_t front = static_cast<std::size_t>(radius + 2) * C;
  const std::size_t back = static_cast<std::size_t>(radius + 2) * C + kL;
  const std::size_t length = (front + n + back + kL - 1) / kL * kL;
  scratch.padded.assign(length, 0);
  scratch.prefix.resize(length);
  const std::ptrdiff_t ahead = static_cast<std::ptrdiff_t>(radius) * C;
  const std::ptrdiff_t behind = static_cast<std::ptrdiff_t>(radius + 1) * C;
  const typename V::R weightS = V::Set(d.sumWeight - d.edgeWeight), weightS1 = V::Set(d.edgeWeight),
                      magic = V::Set(d.magic);
  for (int y = 0; y < height; ++y) {
    std::memcpy(scratch.padded.data() + front, src + static_cast<std::size_t>(y) * n, n);
    typename V::R carry = V::Zero();
    for (std::size_t i = 0; i < length; i += kL)
      V::Store(scratch.prefix.data() + i,
               V::template Prefix<C>(V::Widen(&scratch.padded[i]), carry));
    // at[p] holds the sum of the channel's values up to byte p of the row.
    const std::uint16_t* at = scratch.prefix.data() + front;
    std::uint8_t* out = dst + static_cast<std::size_t>(y) * n;
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

}  // namespace dbx::swf::blur
