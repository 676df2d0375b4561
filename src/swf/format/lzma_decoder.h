// A small decoder of raw LZMA streams (the "ZWS" movie compression), for builds without liblzma.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace dbx::swf {

// Decodes an LZMA stream given its 5 property bytes (lc/lp/pb and the dictionary size), appending
// at most `maxOut` bytes to `out`. Decoding stops at the end marker, at the end of the input or at
// the first inconsistency; what was decoded until then is kept. Returns false when the properties
// are invalid or nothing could be decoded.
bool DecodeLzma(const std::uint8_t* props, const std::uint8_t* data, std::size_t size,
                std::vector<std::uint8_t>& out, std::size_t maxOut);

}  // namespace dbx::swf
