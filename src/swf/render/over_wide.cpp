// Putting pixels over others with 32-byte vectors. This file alone is built for processors with
// them; nothing here runs unless blur::HaveWideVectors() says the processor has them.
#include <immintrin.h>

#include "swf/render/over_kernels.h"

namespace dbx::swf::over {

namespace {

// 8 pixels of 4 channels.
struct Avx2 {
  using R = __m256i;
  static constexpr int kPixels = 8;
  static constexpr bool kPartial = false;
  static R Set32(std::uint32_t v) { return _mm256_set1_epi32(static_cast<int>(v)); }
  static R Load(const std::uint32_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
  }
  static void Store(std::uint32_t* p, R v) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
  }
  static R And(R a, R b) { return _mm256_and_si256(a, b); }
  static R Alpha() { return Set32(0xFF000000u); }
  static bool AllClear(R s) { return _mm256_testz_si256(s, Alpha()) != 0; }
  static bool AllOpaque(R s) {
    return _mm256_movemask_epi8(_mm256_cmpeq_epi32(And(s, Alpha()), Alpha())) == -1;
  }
  // One half's channels, widened to 16 bits, within each 16-byte lane (as the packing undoes).
  static R Blend(R s, R d) {
    const R inv = _mm256_sub_epi16(_mm256_set1_epi16(255),
                                   _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(s, 0xFF), 0xFF));
    const R t = _mm256_add_epi16(_mm256_mullo_epi16(d, inv), _mm256_set1_epi16(127));
    return _mm256_add_epi16(
        s, _mm256_srli_epi16(
               _mm256_add_epi16(_mm256_add_epi16(t, _mm256_srli_epi16(t, 8)), _mm256_set1_epi16(1)),
               8));
  }
  static R Over(R s, R d, R keep) {
    const R zero = _mm256_setzero_si256();
    const R lo = Blend(_mm256_unpacklo_epi8(s, zero), _mm256_unpacklo_epi8(d, zero));
    const R hi = Blend(_mm256_unpackhi_epi8(s, zero), _mm256_unpackhi_epi8(d, zero));
    const R clear = _mm256_cmpeq_epi32(And(s, Alpha()), zero);
    return _mm256_blendv_epi8(And(_mm256_packus_epi16(lo, hi), keep), d, clear);
  }
};

}  // namespace

int OverWide(std::uint32_t* dst, const std::uint32_t* src, int count, bool keepAlpha) {
  return OverVectors<Avx2>(dst, src, count, keepAlpha);
}

}  // namespace dbx::swf::over
