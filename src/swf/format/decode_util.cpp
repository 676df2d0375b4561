#include "swf/format/decode_util.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "swf/format/lzma_decoder.h"

#if DBX_SWF_HAVE_LZMA
#include <lzma.h>
#endif

namespace dbx::swf {

bool Inflate(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& out,
             std::size_t maxOut) {
  z_stream zs{};
  if (inflateInit(&zs) != Z_OK) return false;
  const std::size_t start = out.size();
  std::size_t inPos = 0;
  bool ok = false;
  std::uint8_t chunk[16384];
  for (;;) {
    const std::size_t inChunk = std::min<std::size_t>(size - inPos, 1u << 30);
    zs.next_in = const_cast<Bytef*>(data + inPos);
    zs.avail_in = static_cast<uInt>(inChunk);
    zs.next_out = chunk;
    zs.avail_out = sizeof chunk;
    const int rc = inflate(&zs, Z_NO_FLUSH);
    inPos += inChunk - zs.avail_in;
    const std::size_t produced = sizeof chunk - zs.avail_out;
    const std::size_t room = maxOut - (out.size() - start);
    out.insert(out.end(), chunk, chunk + std::min(produced, room));
    if (rc == Z_STREAM_END) {
      ok = produced <= room;
      break;
    }
    if (rc != Z_OK || produced > room || (produced == 0 && zs.avail_in == 0 && inPos >= size))
      break;
    if (out.size() - start >= maxOut) break;
  }
  inflateEnd(&zs);
  return ok;
}

bool InflateLzma(const std::uint8_t* props, const std::uint8_t* data, std::size_t size,
                 std::vector<std::uint8_t>& out, std::size_t maxOut) {
#if DBX_SWF_HAVE_LZMA
  // liblzma reads the .lzma container: 5 property bytes and a 64-bit length. The file's own length
  // field is not trusted, so the length is given as unknown and decoding runs until the data ends.
  std::vector<std::uint8_t> input(13 + size);
  std::memcpy(input.data(), props, 5);
  std::memset(input.data() + 5, 0xFF, 8);
  if (size > 0) std::memcpy(input.data() + 13, data, size);
  lzma_stream ls = LZMA_STREAM_INIT;
  if (lzma_alone_decoder(&ls, 1u << 30) != LZMA_OK) return false;
  ls.next_in = input.data();
  ls.avail_in = input.size();
  const std::size_t start = out.size();
  std::uint8_t chunk[16384];
  for (;;) {
    ls.next_out = chunk;
    ls.avail_out = sizeof chunk;
    const lzma_ret rc = lzma_code(&ls, LZMA_FINISH);
    const std::size_t produced = sizeof chunk - ls.avail_out;
    const std::size_t room = maxOut - (out.size() - start);
    out.insert(out.end(), chunk, chunk + std::min(produced, room));
    if (rc != LZMA_OK || produced == 0 || produced >= room) break;
  }
  lzma_end(&ls);
  return out.size() > start;
#else
  // Without liblzma (the Windows build) our own decoder reads the stream.
  return DecodeLzma(props, data, size, out, maxOut);
#endif
}

std::vector<std::uint8_t> CleanJpeg(const std::uint8_t* tables, std::size_t tablesSize,
                                    const std::uint8_t* data, std::size_t size) {
  std::vector<std::uint8_t> in;
  in.reserve(tablesSize + size);
  if (tables) in.insert(in.end(), tables, tables + tablesSize);
  if (data) in.insert(in.end(), data, data + size);

  std::vector<std::uint8_t> out = {0xFF, 0xD8};
  std::size_t i = 0;
  while (i + 1 < in.size()) {
    if (in[i] != 0xFF) return in;  // not a marker where one must be: leave it to the decoder
    const std::uint8_t m = in[i + 1];
    if (m == 0xFF) {  // fill byte
      ++i;
      continue;
    }
    if (m == 0xD8 || m == 0xD9 || (m >= 0xD0 && m <= 0xD7) || m == 0x01) {
      i += 2;  // stray start/end markers before the scan are dropped
      continue;
    }
    if (m == 0xDA) {
      out.insert(out.end(), in.begin() + static_cast<std::ptrdiff_t>(i), in.end());
      return out;
    }
    if (i + 3 >= in.size()) break;
    const std::size_t len = (std::size_t{in[i + 2]} << 8) | in[i + 3];
    if (len < 2 || i + 2 + len > in.size()) return in;
    out.insert(out.end(), in.begin() + static_cast<std::ptrdiff_t>(i),
               in.begin() + static_cast<std::ptrdiff_t>(i + 2 + len));
    i += 2 + len;
  }
  return in;
}

namespace {

std::uint32_t Premultiply(std::uint32_t r, std::uint32_t g, std::uint32_t b, std::uint32_t a) {
  r = (r * a + 127) / 255;
  g = (g * a + 127) / 255;
  b = (b * a + 127) / 255;
  return (a << 24) | (r << 16) | (g << 8) | b;
}

// Colours stored premultiplied may still exceed their alpha in damaged files.
std::uint32_t ClampPremultiplied(std::uint32_t r, std::uint32_t g, std::uint32_t b,
                                 std::uint32_t a) {
  r = std::min(r, a);
  g = std::min(g, a);
  b = std::min(b, a);
  return (a << 24) | (r << 16) | (g << 8) | b;
}

}  // namespace

std::shared_ptr<const Bitmap> DecodeLossless(const std::uint8_t* data, std::size_t size,
                                             bool withAlpha, std::size_t maxPixels) {
  if (size < 5) return nullptr;
  const int format = data[0];
  const int width = data[1] | (data[2] << 8);
  const int height = data[3] | (data[4] << 8);
  if (width == 0 || height == 0) return nullptr;
  const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  if (pixels > maxPixels) return nullptr;
  std::size_t pos = 5;
  int paletteCount = 0;
  std::size_t rowBytes = 0;
  std::size_t headBytes = 0;
  if (format == 3) {
    if (size < 6) return nullptr;
    paletteCount = data[5] + 1;
    pos = 6;
    rowBytes = (static_cast<std::size_t>(width) + 3) & ~std::size_t{3};
    headBytes = static_cast<std::size_t>(paletteCount) * (withAlpha ? 4 : 3);
  } else if (format == 4) {
    rowBytes = (static_cast<std::size_t>(width) * 2 + 3) & ~std::size_t{3};
  } else if (format == 5) {
    rowBytes = static_cast<std::size_t>(width) * 4;
  } else {
    return nullptr;
  }
  const std::size_t need = headBytes + rowBytes * static_cast<std::size_t>(height);
  std::vector<std::uint8_t> raw;
  Inflate(data + pos, size - pos, raw, need);
  if (raw.size() <= headBytes) return nullptr;  // no pixel data at all
  raw.resize(need, 0);  // a short stream leaves the rest transparent black / palette entry 0

  auto bmp = std::make_shared<Bitmap>();
  bmp->width = width;
  bmp->height = height;
  bmp->pixels.resize(pixels);
  std::uint32_t palette[256] = {};
  for (int i = 0; i < paletteCount; ++i) {
    const std::uint8_t* p = raw.data() + static_cast<std::size_t>(i) * (withAlpha ? 4 : 3);
    palette[i] =
        withAlpha ? ClampPremultiplied(p[0], p[1], p[2], p[3])
                  : (0xFF000000u | (std::uint32_t{p[0]} << 16) | (std::uint32_t{p[1]} << 8) | p[2]);
  }
  bool opaque = true;
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* row = raw.data() + headBytes + rowBytes * static_cast<std::size_t>(y);
    std::uint32_t* dst = bmp->pixels.data() + static_cast<std::size_t>(y) * width;
    for (int x = 0; x < width; ++x) {
      std::uint32_t px;
      if (format == 3) {
        px = palette[row[x]];
      } else if (format == 4) {
        const unsigned v = (row[2 * x] << 8) | row[2 * x + 1];
        const unsigned r = (v >> 10) & 31, g = (v >> 5) & 31, b = v & 31;
        px = 0xFF000000u | (((r << 3) | (r >> 2)) << 16) | (((g << 3) | (g >> 2)) << 8) |
             ((b << 3) | (b >> 2));
      } else {
        const std::uint8_t* p = row + 4 * x;
        px = withAlpha
                 ? ClampPremultiplied(p[1], p[2], p[3], p[0])
                 : (0xFF000000u | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3]);
      }
      if ((px >> 24) != 0xFF) opaque = false;
      dst[x] = px;
    }
  }
  bmp->opaque = opaque;
  return bmp;
}

void ApplyAlphaPlane(Bitmap& bitmap, const std::uint8_t* data, std::size_t size) {
  const std::size_t n = bitmap.pixels.size();
  std::vector<std::uint8_t> alpha;
  Inflate(data, size, alpha, n);
  alpha.resize(n, 255);
  bool opaque = true;
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint32_t p = bitmap.pixels[i];
    const std::uint32_t a = alpha[i];
    if (a != 255) opaque = false;
    bitmap.pixels[i] = Premultiply((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF, a);
  }
  bitmap.opaque = opaque;
}

}  // namespace dbx::swf
