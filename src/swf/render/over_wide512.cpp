// Putting pixels over others with 64-byte vectors. This file alone is built for processors with
// them; nothing here runs unless blur::HaveWidestVectors() says the processor has them.
#include <immintrin.h>

#include "swf/render/over_kernels.h"

namespace dbx::swf::over {

namespace {

// 16 pixels of 4 channels.
struct Avx512 {
  using R = __m512i;
  static constexpr int kPixels = 16;
  static constexpr bool kPartial = true;
  static __mmask16 First(int count) { return static_cast<__mmask16>((1u << count) - 1); }
  static R LoadPart(const std::uint32_t* p, int count) {
    return _mm512_maskz_loadu_epi32(First(count), p);
  }
  static void StorePart(std::uint32_t* p, R v, int count) {
    _mm512_mask_storeu_epi32(p, First(count), v);
  }
  static R Set32(std::uint32_t v) { return _mm512_set1_epi32(static_cast<int>(v)); }
  static R Load(const std::uint32_t* p) { return _mm512_loadu_si512(p); }
  static void Store(std::uint32_t* p, R v) { _mm512_storeu_si512(p, v); }
  static R And(R a, R b) { return _mm512_and_si512(a, b); }
  static R Alpha() { return Set32(0xFF000000u); }
  static bool AllClear(R s) { return _mm512_test_epi32_mask(s, Alpha()) == 0; }
  static bool AllOpaque(R s) {
    return _mm512_cmpeq_epi32_mask(And(s, Alpha()), Alpha()) == static_cast<__mmask16>(0xFFFF);
  }
  // Halves of the pixels widened to 16-bit channels, within each 16-byte lane (as Pack undoes).
  static R Low(R v) { return _mm512_unpacklo_epi8(v, _mm512_setzero_si512()); }
  static R High(R v) { return _mm512_unpackhi_epi8(v, _mm512_setzero_si512()); }
  static R Pack(R lo, R hi) { return _mm512_packus_epi16(lo, hi); }
  static R AlphaWords(R v) { return _mm512_shufflehi_epi16(_mm512_shufflelo_epi16(v, 0xFF), 0xFF); }
  static R Set16(int v) { return _mm512_set1_epi16(static_cast<short>(v)); }
  static R Add16(R a, R b) { return _mm512_add_epi16(a, b); }
  static R Sub16(R a, R b) { return _mm512_sub_epi16(a, b); }
  static R Mul16(R a, R b) { return _mm512_mullo_epi16(a, b); }
  static R Srl8(R v) { return _mm512_srli_epi16(v, 8); }
  static R UnderClear(R s, R v, R d) {
    return _mm512_mask_blend_epi32(_mm512_testn_epi32_mask(s, Alpha()), v, d);
  }
};

}  // namespace

int OverWidest(std::uint32_t* dst, const std::uint32_t* src, int count, bool keepAlpha) {
  return OverVectors<Avx512>(dst, src, count, keepAlpha);
}

}  // namespace dbx::swf::over
