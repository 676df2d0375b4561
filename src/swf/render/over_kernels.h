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
    V::Store(dst + i, V::Over(s, V::Load(dst + i), keep));
  }
  // Vectors that can load and store some of their pixels alone finish the row too (the pixels
  // left out load as clear, and are not stored).
  if constexpr (V::kPartial) {
    if (i < count) {
      const int rest = count - i;
      const typename V::R s = V::LoadPart(src + i, rest);
      if (!V::AllClear(s))
        V::StorePart(dst + i, V::Over(s, V::LoadPart(dst + i, rest), keep), rest);
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
