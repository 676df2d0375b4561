#include "swf/video/decoder.h"

#include "swf/video/h263.h"
#include "swf/video/screen_video.h"

namespace dbx::swf::video {

std::unique_ptr<Decoder> MakeDecoder(int codec) {
  switch (codec) {
    case static_cast<int>(Codec::kH263):
      return std::make_unique<H263Decoder>();
    case static_cast<int>(Codec::kScreen):
      return std::make_unique<ScreenVideoDecoder>();
    default:
      return nullptr;
  }
}

}  // namespace dbx::swf::video
