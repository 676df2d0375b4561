// The ID3 reader of sounds that scripts load, on any bytes.
#include <cstdint>

#include "swf/format/id3_tags.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  (void)dbx::swf::Id3Size(data, size);
  (void)dbx::swf::ReadId3(data, size);
  return 0;
}
