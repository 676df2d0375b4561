// Putting a row of premultiplied pixels over another, a whole vector of pixels at a time, written
// once over a small set of vector operations (`V`) so that each instruction set gets its own copy.
//
// Each channel becomes src + (dst * (255 - src alpha) + 127) / 255, limited to 255; the division
// by 255 is (t + (t >> 8) + 1) >> 8, exact for every t up to 255 * 255 + 127.
#pragma once

#include <cstdint>

namespace dbx::swf::over {

// The kernels have internal linkage: each file that includes them builds its own copy for its own
// instruction set, and no copy can stand in for another at link time.
namespace {

// One half of each pixel's channels, widened to 16 bits (`s` and `d` as V::Low or V::High give
// them), put over the other.
template <class V>
typename V::R BlendHalf(typename V::R s, typename V::R d) {
  using R = typename V::R;
  const R inv = V::Sub16(V::Set16(255), V::AlphaWords(s));
  const R t = V::Add16(V::Mul16(d, inv), V::Set16(127));
  return V::Add16(s, V::Srl8(V::Add16(V::Add16(t, V::Srl8(t)), V::Set16(1))));
}

// A vector of pixels `s` put over `d`; where `s` is clear, `d` stays as it is.
template <class V>
typename V::R Over(typename V::R s, typename V::R d, typename V::R keep) {
  const typename V::R lo = BlendHalf<V>(V::Low(s), V::Low(d));
  const typename V::R hi = BlendHalf<V>(V::High(s), V::High(d));
  return V::UnderClear(s, V::And(V::Pack(lo, hi), keep), d);
}

// Puts the whole vectors of `count` pixels of `src` over `dst` (`keep`: the bits of each result
// pixel that are written, all of them or all but alpha). Returns the pixels done.
template <class V>
int OverVectors(std::uint32_t* dst, const std::uint32_t* src, int count, bool keepAlpha) {
  const typename V::R keep = V::Set32(keepAlpha ? 0xFFFFFFFFu : 0x00FFFFFFu);
  int i = 0;
  for (; i + V::kPixels <= count; i += V::kPixels) {
    const typename V::R s = V::Load(src + i);
    // Clear pixels leave what is below as it is; opaque ones replace it.
    if (V::AllClear(s)) continue;
    if (V::AllOpaque(s)) {
      V::Store(dst + i, V::And(s, keep));
      continue;
    }
    V::Store(dst + i, Over<V>(s, V::Load(dst + i), keep));
  }
  // Vectors that can load and store some of their pixels alone finish the row too (the pixels
  // left out load as clear, and are not stored).
  if constexpr (V::kPartial) {
    if (i < count) {
      const int rest = count - i;
      const typename V::R s = V::LoadPart(src + i, rest);
      if (!V::AllClear(s))
        V::StorePart(dst + i, Over<V>(s, V::LoadPart(dst + i, rest), keep), rest);
      i = count;
    }
  }
  return i;
}

}  // namespace

// The same with 32- and 64-byte vectors, where the processor has them (each built in a file of
// its own; the callers ask blur::HaveWideVectors and blur::HaveWidestVectors first).
int OverWide(std::uint32_t* dst, const std::uint32_t* src, int count, bool keepAlpha);
int OverWidest(std::uint32_t* dst, const std::uint32_t* src, int count, bool keepAlpha);

}  // namespace dbx::swf::over
