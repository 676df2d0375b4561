#include <cstdio>
#include <vector>

#include "platform/imageio/image_io.h"

namespace dbx {

std::optional<Surface> FileImageLoader::Load(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return std::nullopt;
  std::vector<std::uint8_t> bytes;
  std::uint8_t buf[1 << 16];
  std::size_t n = 0;
  // A picture file larger than this is not one we can show.
  constexpr std::size_t kMaxFile = std::size_t{512} << 20;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
    if (bytes.size() + n > kMaxFile) {
      std::fclose(f);
      return std::nullopt;
    }
    bytes.insert(bytes.end(), buf, buf + n);
  }
  std::fclose(f);
  return DecodePicture(bytes.data(), bytes.size());
}

}  // namespace dbx
