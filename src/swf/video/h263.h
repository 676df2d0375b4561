// The Sorenson H.263 video codec (codec 2): key frames and frames predicted from the picture
// before them by motion vectors, coded as 8x8 blocks of DCT coefficients in macroblocks of
// 16x16 luma and two 8x8 chroma samples. Pictures are kept as YUV 4:2:0 and shown through the
// BT.601 matrix.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "swf/video/decoder.h"

namespace dbx::swf::video {

// A decoded picture as three planes. The planes cover whole macroblocks (their strides are the
// width rounded up to 16 luma or 8 chroma samples, likewise the heights); `width` and `height`
// are the part that is shown, and the chroma planes hold (width + 1) / 2 by (height + 1) / 2 of
// it.
struct YuvPlanes {
  int width = 0, height = 0;
  int lumaStride = 0, chromaStride = 0;
  std::vector<std::uint8_t> y, u, v;
};

class H263Decoder final : public Decoder {
 public:
  bool IsKeyFrame(const std::uint8_t* data, std::size_t size) const override;
  bool Decode(const std::uint8_t* data, std::size_t size, Bitmap& out) override;
  // The picture of the last frame decoded (also a disposable one); empty before the first.
  const YuvPlanes& Picture() const { return shownDisposable_ ? disposable_ : ref_; }

 private:
  // The picture later frames refer to, the last disposable one, and the one being decoded.
  YuvPlanes ref_, disposable_, cur_;
  bool haveRef_ = false, shownDisposable_ = false;
  std::vector<std::int8_t> vectors_;  // the frame's motion vectors, x and y for each 8x8 block
};

// The inverse 8x8 DCT of `coefficients` (row by row, the DC term first) into `out`, rounded to
// whole numbers and limited to -256..255.
void InverseDct8x8(const int coefficients[64], int out[64]);

// One BT.601 sample (Y 16..235, U and V 16..240 centred on 128) as opaque 0xFFRRGGBB.
std::uint32_t YuvToArgb(int y, int u, int v);

}  // namespace dbx::swf::video
