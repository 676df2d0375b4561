// The box blur's passes with 32-byte vectors. This file alone is built for processors with them;
// nothing here runs unless HaveWideVectors() says the processor has them.
#include <immintrin.h>

#include "swf/render/blur_kernels.h"

namespace dbx::swf::blur {

namespace {

// 32-byte vectors of 16 channels of 16 bits, filled from and put back into 16 bytes.
struct Avx2 {
  using R = __m256i;
  static constexpr std::size_t kLanes = 16;
  static R Zero() { return _mm256_setzero_si256(); }
  static R Set(int v) { return _mm256_set1_epi16(static_cast<short>(v)); }
  static R Widen(const std::uint8_t* p) {
    return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
  }
  static __m128i Packed(R v) {
    // Packing works within each half: the halves' first 8 bytes are the 16 results in order.
    return _mm256_castsi256_si128(_mm256_permute4x64_epi64(_mm256_packus_epi16(v, v), 0x08));
  }
  static void Narrow(std::uint8_t* p, R v) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), Packed(v));
  }
  static void NarrowPart(std::uint8_t* p, R v, std::size_t count) {
    alignas(16) std::uint8_t bytes[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(bytes), Packed(v));
    std::memcpy(p, bytes, count);
  }
  static R Load(const std::uint16_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
  }
  static void Store(std::uint16_t* p, R v) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
  }
  static R Add(R a, R b) { return _mm256_add_epi16(a, b); }
  static R Sub(R a, R b) { return _mm256_sub_epi16(a, b); }
  static R MulLo(R a, R b) { return _mm256_mullo_epi16(a, b); }
  static R MulHi(R a, R b) { return _mm256_mulhi_epu16(a, b); }
  static R Srl(R a, int n) { return _mm256_srl_epi16(a, _mm_cvtsi32_si128(n)); }
  // The pixels (of four channels) K before each of `v`'s, the first K from the end of `before`.
  template <int K>
  static R ShiftPixels(R v, R before) {
    const R middle = _mm256_permute2x128_si256(before, v, 0x21);  // before's high half, v's low
    if constexpr (K == 2)
      return middle;
    else
      return _mm256_alignr_epi8(v, middle, 8);  // K == 1
  }
  // Running sums of every C-th lane, carried on from the vector before: within each half first,
  // then the low half's last sums added to the high half (the carry waits on one addition per
  // vector, not on the shuffles).
  template <int C>
  static R Prefix(R v, R& carry) {
    const R last = _mm256_set1_epi32(3), lastOfAll = _mm256_set1_epi32(7);
    R total;
    if constexpr (C == 1) {
      v = _mm256_add_epi16(v, _mm256_slli_si256(v, 2));
      v = _mm256_add_epi16(v, _mm256_slli_si256(v, 4));
      v = _mm256_add_epi16(v, _mm256_slli_si256(v, 8));
      const R spread = _mm256_shufflehi_epi16(v, 0xFF);  // each half's last lane, twice
      v = _mm256_add_epi16(
          v, _mm256_blend_epi32(Zero(), _mm256_permutevar8x32_epi32(spread, last), 0xF0));
      total = _mm256_permutevar8x32_epi32(_mm256_shufflehi_epi16(v, 0xFF), lastOfAll);
    } else if constexpr (C == 2) {
      v = _mm256_add_epi16(v, _mm256_slli_si256(v, 4));
      v = _mm256_add_epi16(v, _mm256_slli_si256(v, 8));
      v = _mm256_add_epi16(v,
                           _mm256_blend_epi32(Zero(), _mm256_permutevar8x32_epi32(v, last), 0xF0));
      total = _mm256_permutevar8x32_epi32(v, lastOfAll);
    } else {
      v = _mm256_add_epi16(v, _mm256_slli_si256(v, 8));
      v = _mm256_add_epi16(v, _mm256_blend_epi32(Zero(), _mm256_permute4x64_epi64(v, 0x55), 0xF0));
      total = _mm256_permute4x64_epi64(v, 0xFF);
    }
    v = _mm256_add_epi16(v, carry);
    carry = _mm256_add_epi16(carry, total);
    return v;
  }
};

}  // namespace

bool HaveWideVectors() {
  static const bool have = __builtin_cpu_supports("avx2");
  return have;
}

void AcrossWide(const std::uint8_t* src, std::uint8_t* dst, int width, int height, int channels,
                int radius, const BoxDivider& d, Scratch& scratch) {
  Across<Avx2>(src, dst, width, height, channels, radius, d, scratch);
}

void DownWide(const std::uint8_t* src, std::uint8_t* dst, std::size_t n, int height, int radius,
              const BoxDivider& d, Scratch& scratch) {
  Down<Avx2>(src, dst, n, height, radius, d, scratch);
}

void AllPassesWide(std::uint8_t* data, int width, int channels, int radiusX, int radiusY,
                   int passes, const BoxDivider& dx, const BoxDivider& dy, Scratch& scratch,
                   const RowRange& range) {
  AllPasses<Avx2>(data, width, channels, radiusX, radiusY, passes, dx, dy, scratch, range);
}

}  // namespace dbx::swf::blur
