// The BMP reader on any bytes, and on bytes behind a valid-looking header.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/imageio/image_io.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (auto s = dbx::DecodeBmp(data, size)) {
    if (s->width() <= 0 || s->height() <= 0) std::abort();
  }
  // The same bytes as the body of a file with a 40-byte header, so that the fuzzer reaches the
  // pixel paths quickly: the first 16 input bytes choose width, height, depth and compression.
  if (size >= 16) {
    std::vector<std::uint8_t> file(54, 0);
    file[0] = 'B', file[1] = 'M';
    file[10] = 54 + (data[0] & 0x3F);  // pixel offset, palette in between
    file[14] = 40;
    file[18] = data[1] & 0x7F, file[19] = data[2] & 0x01;  // width up to 511
    file[22] = data[3] & 0x7F, file[23] = data[4] & 0x01;  // height up to 511
    if (data[5] & 1) file[25] = 0xFF, file[24] = static_cast<std::uint8_t>(-(data[3] & 0x7F));
    const std::uint8_t depths[] = {1, 4, 8, 16, 24, 32};
    file[28] = depths[data[6] % 6];
    file[30] = data[7] % 7;
    file[46] = data[8];
    file.insert(file.end(), data + 16, data + size);
    (void)dbx::DecodeBmp(file.data(), file.size());
  }
  return 0;
}
