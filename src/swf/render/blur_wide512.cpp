// The box blur's passes with 64-byte vectors. This file alone is built for processors with them;
// nothing here runs unless HaveWidestVectors() says the processor has them.
#include <immintrin.h>

#include <array>

#include "swf/render/blur_kernels.h"

namespace dbx::swf::blur {

namespace {

// Lane i of the result is lane i - k of the source (0 for the first k lanes).
constexpr std::array<std::uint16_t, 32> ShiftUpIndices(int k) {
  std::array<std::uint16_t, 32> a{};
  for (int i = 0; i < 32; ++i)
    a[static_cast<std::size_t>(i)] = static_cast<std::uint16_t>(i < k ? 0 : i - k);
  return a;
}

// Lane i of the result is one of the last c lanes of the source, the one of the same channel.
constexpr std::array<std::uint16_t, 32> LastIndices(int c) {
  std::array<std::uint16_t, 32> a{};
  for (int i = 0; i < 32; ++i)
    a[static_cast<std::size_t>(i)] = static_cast<std::uint16_t>(32 - c + i % c);
  return a;
}

template <int K>
inline constexpr std::array<std::uint16_t, 32> kShiftUp = ShiftUpIndices(K);
template <int C>
inline constexpr std::array<std::uint16_t, 32> kLast = LastIndices(C);

// 64-byte vectors of 32 channels of 16 bits, filled from and put back into 32 bytes.
struct Avx512 {
  using R = __m512i;
  static constexpr std::size_t kLanes = 32;
  static R Zero() { return _mm512_setzero_si512(); }
  static R Set(int v) { return _mm512_set1_epi16(static_cast<short>(v)); }
  static R Widen(const std::uint8_t* p) {
    return _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)));
  }
  // The values are 0..255: keeping the low byte of each lane is exact.
  static void Narrow(std::uint8_t* p, R v) {
    _mm512_mask_cvtepi16_storeu_epi8(p, ~__mmask32{0}, v);
  }
  static void NarrowPart(std::uint8_t* p, R v, std::size_t count) {
    _mm512_mask_cvtepi16_storeu_epi8(p, static_cast<__mmask32>((std::uint64_t{1} << count) - 1), v);
  }
  static R Load(const std::uint16_t* p) { return _mm512_loadu_si512(p); }
  static void Store(std::uint16_t* p, R v) { _mm512_storeu_si512(p, v); }
  static R Add(R a, R b) { return _mm512_add_epi16(a, b); }
  static R Sub(R a, R b) { return _mm512_sub_epi16(a, b); }
  static R MulLo(R a, R b) { return _mm512_mullo_epi16(a, b); }
  static R MulHi(R a, R b) { return _mm512_mulhi_epu16(a, b); }
  static R Srl(R a, int n) { return _mm512_srl_epi16(a, _mm_cvtsi32_si128(n)); }
  // The pixels (of four channels) K before each of `v`'s, the first K from the end of `before`.
  template <int K>
  static R ShiftPixels(R v, R before) {
    // (The masked form: the plain one leaves some compilers warning of an undefined value.)
    return _mm512_maskz_alignr_epi64(static_cast<__mmask8>(0xFF), v, before, 8 - K);
  }
  template <int K>
  static R ShiftUp(R v) {
    return _mm512_maskz_permutexvar_epi16(static_cast<__mmask32>(~0u << K),
                                          _mm512_loadu_si512(kShiftUp<K>.data()), v);
  }
  // Running sums of every C-th lane, carried on from the vector before: lanes K apart added for
  // K = C, 2C, 4C, ...; the carry grows by each channel's total spread over its lanes (and waits
  // on one addition per vector, not on the shuffles).
  template <int C>
  static R Prefix(R v, R& carry) {
    if constexpr (C <= 1) v = Add(v, ShiftUp<1>(v));
    if constexpr (C <= 2) v = Add(v, ShiftUp<2>(v));
    v = Add(v, ShiftUp<4>(v));
    v = Add(v, ShiftUp<8>(v));
    v = Add(v, ShiftUp<16>(v));
    const R total = _mm512_permutexvar_epi16(_mm512_loadu_si512(kLast<C>.data()), v);
    v = Add(v, carry);
    carry = Add(carry, total);
    return v;
  }
};

}  // namespace

bool HaveWidestVectors() {
  static const bool have = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
  return have;
}

void AllPassesWidest(std::uint8_t* data, int width, int channels, int radiusX, int radiusY,
                     int passes, const BoxDivider& dx, const BoxDivider& dy, Scratch& scratch,
                     const RowRange& range) {
  AllPasses<Avx512>(data, width, channels, radiusX, radiusY, passes, dx, dy, scratch, range);
}

}  // namespace dbx::swf::blur
