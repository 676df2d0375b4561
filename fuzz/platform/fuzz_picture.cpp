// The picture loader's sniffing and the JPEG path on any bytes.
#include <cstdint>

#include "platform/imageio/image_io.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  (void)dbx::DecodePicture(data, size);
  (void)dbx::DecodeJpeg(data, size);
  return 0;
}
