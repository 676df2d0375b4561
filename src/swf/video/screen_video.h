// The screen video codec (codec 3): the picture cut into blocks, each one either sent again
// whole (zlib-compressed BGR samples) or left as the frame before showed it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "swf/video/decoder.h"

namespace dbx::swf::video {

class ScreenVideoDecoder final : public Decoder {
 public:
  // A key frame sends every block.
  bool IsKeyFrame(const std::uint8_t* data, std::size_t size) const override;
  bool Decode(const std::uint8_t* data, std::size_t size, Bitmap& out) override;

 private:
  int width_ = 0, height_ = 0;  // of the picture kept, 0 before the first frame
  std::vector<std::uint32_t> picture_, next_;
  std::vector<std::uint8_t> samples_;  // one block's inflated samples
};

}  // namespace dbx::swf::video
