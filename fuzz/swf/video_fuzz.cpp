// Video files and frames on any bytes: the input read as an FLV file (its tags, and each script
// tag's data); then cut into frames, each a 16-bit little-endian length and that many bytes, and
// every frame goes to an H.263 and a screen video decoder, which keep their pictures from one
// frame to the next as a stream's decoders do.
#include <cstdint>

#include "swf/video/flv.h"
#include "swf/video/h263.h"
#include "swf/video/screen_video.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (const auto file = dbx::swf::video::ReadFlv(data, size)) {
    for (const auto& tag : file->tags) {
      if (tag.offset > size || tag.size > size - tag.offset) __builtin_trap();  // outside the file
      (void)dbx::swf::video::ReadFlvScript(data + tag.offset, tag.size);
    }
  }
  dbx::swf::video::H263Decoder h263;
  dbx::swf::video::ScreenVideoDecoder screen;
  dbx::swf::Bitmap out;
  while (size >= 2) {
    std::size_t length = data[0] | (std::size_t{data[1]} << 8);
    data += 2;
    size -= 2;
    if (length > size) length = size;
    (void)h263.IsKeyFrame(data, length);
    (void)h263.Decode(data, length, out);
    (void)screen.IsKeyFrame(data, length);
    (void)screen.Decode(data, length, out);
    data += length;
    size -= length;
  }
  return 0;
}
