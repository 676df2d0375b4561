// Decompression and bitmap decoding helpers of the movie parser.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "swf/format/movie.h"

namespace dbx::swf {

// Inflates a zlib stream into `out`, stopping at `maxOut` bytes. Returns true when the stream was
// complete and valid; on false `out` still holds what could be decoded.
bool Inflate(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& out,
             std::size_t maxOut);

// Decodes an LZMA stream given its 5 property bytes, up to `maxOut` bytes of output, with liblzma
// where the build has it and with our own decoder elsewhere. Returns false when nothing could be
// decoded.
bool InflateLzma(const std::uint8_t* props, const std::uint8_t* data, std::size_t size,
                 std::vector<std::uint8_t>& out, std::size_t maxOut);

// Rewrites JPEG data as one clean stream: drops the stray end/start markers that authoring tools
// leave between the tables and the image, and joins separate tables (JPEGTables) to the image.
std::vector<std::uint8_t> CleanJpeg(const std::uint8_t* tables, std::size_t tablesSize,
                                    const std::uint8_t* data, std::size_t size);

// DefineBitsLossless(2) payload after the character id. Nothing on malformed data.
std::shared_ptr<const Bitmap> DecodeLossless(const std::uint8_t* data, std::size_t size,
                                             bool withAlpha, std::size_t maxPixels);

// Multiplies a decoded picture by a zlib alpha plane (DefineBitsJPEG3/4). A missing or short plane
// leaves the remaining pixels opaque.
void ApplyAlphaPlane(Bitmap& bitmap, const std::uint8_t* data, std::size_t size);

}  // namespace dbx::swf
