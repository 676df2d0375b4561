#include "platform/imageio/png_writer.h"

#include <zlib.h>

#include <cstdio>
#include <vector>

namespace dbx {
namespace {

void Put32(std::vector<unsigned char>& out, std::uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<unsigned char>(v >> s));
}

void Chunk(std::vector<unsigned char>& out, const char* type,
           const std::vector<unsigned char>& data) {
  Put32(out, static_cast<std::uint32_t>(data.size()));
  const std::size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  const uLong crc = crc32(0L, out.data() + start, static_cast<uInt>(out.size() - start));
  Put32(out, static_cast<std::uint32_t>(crc));
}

}  // namespace

bool WritePng(const std::string& path, SurfaceView pixels) {
  if (pixels.width() <= 0 || pixels.height() <= 0) return false;
  std::vector<unsigned char> raw;
  raw.reserve(static_cast<std::size_t>(pixels.height()) * (pixels.width() * 3 + 1));
  for (int y = 0; y < pixels.height(); ++y) {
    raw.push_back(0);  // no filter
    const Pixel* row = pixels.Row(y);
    for (int x = 0; x < pixels.width(); ++x) {
      raw.push_back(PixelR(row[x]));
      raw.push_back(PixelG(row[x]));
      raw.push_back(PixelB(row[x]));
    }
  }
  uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
  std::vector<unsigned char> packed(packedSize);
  if (compress2(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()), 6) !=
      Z_OK) {
    return false;
  }
  packed.resize(packedSize);

  std::vector<unsigned char> file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<unsigned char> header;
  Put32(header, static_cast<std::uint32_t>(pixels.width()));
  Put32(header, static_cast<std::uint32_t>(pixels.height()));
  header.insert(header.end(), {8, 2, 0, 0, 0});  // 8 bits, RGB, deflate, no filter, no interlace
  Chunk(file, "IHDR", header);
  Chunk(file, "IDAT", packed);
  Chunk(file, "IEND", {});

  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(file.data(), 1, file.size(), f) == file.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace dbx
