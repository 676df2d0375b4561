// Video frames, decoded one after another for a stream on the stage (a DefineVideoStream fed by
// VideoFrame tags) or for a NetStream playing an FLV file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "swf/format/movie.h"

namespace dbx::swf::video {

// Codec numbers as the files give them (DefineVideoStream's codec, an FLV video tag's low nibble).
enum class Codec : std::uint8_t {
  kH263 = 2,      // Sorenson H.263
  kScreen = 3,    // screen video
  kVp6 = 4,       // On2 VP6
  kVp6Alpha = 5,  // On2 VP6 with an alpha plane
  kScreen2 = 6,   // screen video version 2
  kH264 = 7,
};

// Decodes the frames of one stream, in order: a frame may refer to the picture before it.
class Decoder {
 public:
  virtual ~Decoder() = default;
  // Whether a frame's data starts a picture of its own (a key frame), from which decoding can
  // begin after a jump.
  virtual bool IsKeyFrame(const std::uint8_t* data, std::size_t size) const = 0;
  // Decodes one frame's data: a VideoFrame tag's bytes after its stream id and frame number, or
  // an FLV video tag's bytes after its first byte. On success `out` holds the whole picture
  // (premultiplied ARGB, the size the stream's data gives) and the call returns true; data that
  // does not decode returns false and leaves `out` as it was.
  virtual bool Decode(const std::uint8_t* data, std::size_t size, Bitmap& out) = 0;
};

// A decoder for `codec`, or null for the codecs that are not decoded (their streams show nothing).
std::unique_ptr<Decoder> MakeDecoder(int codec);

}  // namespace dbx::swf::video
