// Whether bytes are a wave file that the system's sound player plays: RIFF/WAVE with a "fmt "
// chunk of plain PCM (or the extensible form of PCM) and a "data" chunk.
#pragma once

#include <cstddef>
#include <cstdint>

namespace dbx {

bool IsPcmWave(const std::uint8_t* data, std::size_t size);

}  // namespace dbx
