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
  // Halves of the pixels widened to 16-bit channels, within each 16-byte lane (as Pack undoes).
  static R Low(R v) { return _mm256_unpacklo_epi8(v, _mm256_setzero_si256()); }
  static R High(R v) { return _mm256_unpackhi_epi8(v, _mm256_setzero_si256()); }
  static R Pack(R lo, R hi) { return _mm256_packus_epi16(lo, hi); }
  static R AlphaWords(R v) { return _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(v, 0xFF), 0xFF); }
  static R Set16(int v) { return _mm256_set1_epi16(static_cast<short>(v)); }
  static R Add16(R a, R b) { return _mm256_add_epi16(a, b); }
  static R Sub16(R a, R b) { return _mm256_sub_epi16(a, b); }
  static R Mul16(R a, R b) { return _mm256_mullo_epi16(a, b); }
  static R Srl8(R v) { return _mm256_srli_epi16(v, 8); }
  static R UnderClear(R s, R v, R d) {
    return _mm256_blendv_epi8(v, d, _mm256_cmpeq_epi32(And(s, Alpha()), _mm256_setzero_si256()));
  }
};

}  // namespace

int OverWide(std::uint32_t* dst, const std::uint32_t* src, int count, bool keepAlpha) {
  return OverVectors<Avx2>(dst, src, count, keepAlpha);
}

}  // namespace dbx::swf::over
