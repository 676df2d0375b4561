// MP3 decoding through libmpg123: 16-bit samples at the stream's own rate and channels.
#pragma once

#include <memory>

#include "core/platform.h"

namespace dbx {

// A decoder for one stream; nothing when the library cannot start one. The rate and channels
// are read from the stream itself.
std::unique_ptr<Mp3Decoder> CreateMpg123Decoder(int rate, int channels);

}  // namespace dbx
