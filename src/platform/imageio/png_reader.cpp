#include "platform/imageio/png_reader.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <utility>
#include <vector>

#include "core/png_filter.h"

namespace dbx {

namespace {

std::uint32_t Be32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         p[3];
}

std::vector<std::uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

std::optional<Surface> ReadPng(const std::string& path) {
  const auto f = ReadFile(path);
  if (f.size() < 8 || std::memcmp(f.data(), "\x89PNG\r\n\x1a\n", 8) != 0) return std::nullopt;
  std::size_t pos = 8;
  std::uint32_t w = 0, h = 0;
  int colorType = -1, depth = 0;
  std::vector<std::uint8_t> idat, palette;
  while (pos + 12 <= f.size()) {
    const std::uint32_t len = Be32(&f[pos]);
    if (len > f.size() || pos + 12 + len > f.size()) return std::nullopt;
    const std::string type(reinterpret_cast<const char*>(&f[pos + 4]), 4);
    const std::uint8_t* d = &f[pos + 8];
    if (type == "IHDR" && len >= 13) {
      w = Be32(d);
      h = Be32(d + 4);
      if (d[12] != 0) return std::nullopt;  // not interlaced
      depth = d[8];
      colorType = d[9];
    } else if (type == "PLTE") {
      palette.assign(d, d + len - len % 3);
    } else if (type == "IDAT") {
      idat.insert(idat.end(), d, d + len);
    }
    pos += 12 + len;
  }
  // Samples per pixel of each colour type: grey, -, RGB, palette index, grey and alpha, -, RGBA.
  // Palette pictures may pack 1, 2 or 4 bits per pixel; the others have 8-bit samples.
  static constexpr int kChannels[7] = {1, 0, 3, 1, 2, 0, 4};
  const int channels = colorType >= 0 && colorType <= 6 ? kChannels[colorType] : 0;
  const bool depthOk = depth == 8 || (colorType == 3 && (depth == 1 || depth == 2 || depth == 4));
  if (!channels || !depthOk || w == 0 || h == 0 || w > 16384 || h > 16384) return std::nullopt;
  if (colorType == 3 && palette.empty()) return std::nullopt;
  const std::size_t bits = static_cast<std::size_t>(channels) * static_cast<std::size_t>(depth);
  const std::size_t stride = (static_cast<std::size_t>(w) * bits + 7) / 8;
  std::vector<std::uint8_t> raw((stride + 1) * h);
  uLongf rawLen = static_cast<uLongf>(raw.size());
  if (uncompress(raw.data(), &rawLen, idat.data(), static_cast<uLong>(idat.size())) != Z_OK ||
      rawLen != raw.size())
    return std::nullopt;
  std::vector<std::uint8_t> prev(stride, 0), cur(stride);
  Surface s(static_cast<int>(w), static_cast<int>(h));
  const std::size_t step = std::max<std::size_t>(1, bits / 8);
  for (std::uint32_t y = 0; y < h; ++y) {
    const std::uint8_t* line = &raw[y * (stride + 1)];
    std::copy(line + 1, line + 1 + stride, cur.begin());
    UnfilterPngRow(line[0], cur.data(), prev.data(), stride, step);
    for (std::uint32_t x = 0; x < w; ++x) {
      Pixel px;
      if (colorType == 3) {
        // Indices packed from the high bits of each byte; one outside the palette is black.
        const std::size_t bit = static_cast<std::size_t>(x) * static_cast<std::size_t>(depth);
        const unsigned index =
            (cur[bit / 8] >> (8 - depth - static_cast<int>(bit % 8))) & ((1u << depth) - 1);
        px = 3 * index + 2 < palette.size()
                 ? MakePixel(palette[3 * index], palette[3 * index + 1], palette[3 * index + 2])
                 : MakePixel(0, 0, 0);
      } else if (channels <= 2) {
        const std::uint8_t g = cur[x * step];
        px = MakePixel(g, g, g);
      } else {
        px = MakePixel(cur[x * step], cur[x * step + 1], cur[x * step + 2]);
      }
      s.At(static_cast<int>(x), static_cast<int>(y)) = px;
    }
    std::swap(prev, cur);
  }
  return s;
}

}  // namespace dbx
