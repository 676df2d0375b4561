#include "png_out.h"

#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <vector>

namespace dbx::render {

namespace {

void Put32(std::vector<unsigned char>& v, std::uint32_t x) {
  v.push_back(static_cast<unsigned char>(x >> 24));
  v.push_back(static_cast<unsigned char>(x >> 16));
  v.push_back(static_cast<unsigned char>(x >> 8));
  v.push_back(static_cast<unsigned char>(x));
}

void Chunk(std::vector<unsigned char>& out, const char* type, const std::vector<unsigned char>& data) {
  Put32(out, static_cast<std::uint32_t>(data.size()));
  const std::size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  const uLong crc = crc32(0L, out.data() + start, static_cast<uInt>(out.size() - start));
  Put32(out, static_cast<std::uint32_t>(crc));
}

}  // namespace

bool WritePng(const std::string& path, SurfaceView pixels) {
  const int w = pixels.width(), h = pixels.height();
  if (w <= 0 || h <= 0) return false;
  std::vector<unsigned char> raw;
  raw.reserve(static_cast<std::size_t>(h) * (static_cast<std::size_t>(w) * 3 + 1));
  for (int y = 0; y < h; ++y) {
    raw.push_back(0);  // filter: none
    const Pixel* row = pixels.Row(y);
    for (int x = 0; x < w; ++x) {
      raw.push_back(PixelR(row[x]));
      raw.push_back(PixelG(row[x]));
      raw.push_back(PixelB(row[x]));
    }
  }
  uLongf zlen = compressBound(static_cast<uLong>(raw.size()));
  std::vector<unsigned char> z(zlen);
  if (compress2(z.data(), &zlen, raw.data(), static_cast<uLong>(raw.size()), 6) != Z_OK) return false;
  z.resize(zlen);

  std::vector<unsigned char> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<unsigned char> ihdr;
  Put32(ihdr, static_cast<std::uint32_t>(w));
  Put32(ihdr, static_cast<std::uint32_t>(h));
  ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});  // 8-bit, RGB, deflate, no filter method, no interlace
  Chunk(out, "IHDR", ihdr);
  Chunk(out, "IDAT", z);
  Chunk(out, "IEND", {});
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(out.data(), 1, out.size(), f) == out.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace dbx::render
