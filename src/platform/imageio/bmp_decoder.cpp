#include <algorithm>
#include <array>
#include <cstring>

#include "platform/imageio/image_io.h"

namespace dbx {
namespace {

std::uint32_t U32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
         (std::uint32_t{p[3]} << 24);
}
std::uint16_t U16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

// Scales a masked channel value to 8 bits.
struct Channel {
  std::uint32_t mask = 0;
  int shift = 0;
  int bits = 0;
  explicit Channel(std::uint32_t m = 0) : mask(m) {
    if (!m) return;
    while (!((m >> shift) & 1u)) ++shift;
    while (bits < 32 - shift && ((m >> (shift + bits)) & 1u)) ++bits;
  }
  std::uint8_t Get(std::uint32_t v) const {
    if (!mask) return 0;
    const std::uint32_t x = (v & mask) >> shift;
    if (bits >= 8) return static_cast<std::uint8_t>(x >> (bits - 8));
    const std::uint32_t max = (1u << bits) - 1;
    return static_cast<std::uint8_t>((x * 255 + max / 2) / max);
  }
};

enum : std::uint32_t { kRgb = 0, kRle8 = 1, kRle4 = 2, kBitFields = 3, kAlphaBitFields = 6 };

}  // namespace

std::optional<Surface> DecodeBmp(const std::uint8_t* data, std::size_t size) {
  if (!data || size < 14 + 12 || data[0] != 'B' || data[1] != 'M') return std::nullopt;
  const std::uint32_t pixelOffset = U32(data + 10);
  const std::uint8_t* info = data + 14;
  const std::uint32_t headerSize = U32(info);
  if (headerSize < 12 || headerSize > size - 14) return std::nullopt;

  std::int64_t width = 0, height = 0;
  int bpp = 0;
  std::uint32_t compression = kRgb, colorsUsed = 0;
  std::uint32_t masks[3] = {0, 0, 0};
  int paletteEntrySize = 4;
  if (headerSize == 12) {  // the core header
    width = U16(info + 4);
    height = static_cast<std::int16_t>(U16(info + 6));
    bpp = U16(info + 10);
    paletteEntrySize = 3;
  } else {
    if (headerSize < 40) return std::nullopt;
    width = static_cast<std::int32_t>(U32(info + 4));
    height = static_cast<std::int32_t>(U32(info + 8));
    bpp = U16(info + 14);
    compression = U32(info + 16);
    colorsUsed = U32(info + 32);
    if (compression == kBitFields || compression == kAlphaBitFields) {
      // The masks follow a 40-byte header, or lie inside a larger one.
      if (14 + 40 + 12 > size) return std::nullopt;
      for (int i = 0; i < 3; ++i) masks[i] = U32(info + 40 + 4 * i);
    }
  }
  const bool topDown = height < 0;
  if (topDown) height = -height;
  if (width <= 0 || height <= 0 || width > kMaxPictureSide || height > kMaxPictureSide ||
      width * height > kMaxPicturePixels) {
    return std::nullopt;
  }
  if (topDown && (compression == kRle8 || compression == kRle4)) return std::nullopt;
  if (compression == kRle8 && bpp != 8) return std::nullopt;
  if (compression == kRle4 && bpp != 4) return std::nullopt;

  // The colour table of the palette formats.
  std::vector<Pixel> palette;
  if (bpp <= 8) {
    if (bpp != 1 && bpp != 4 && bpp != 8) return std::nullopt;
    std::uint32_t count = colorsUsed ? colorsUsed : (1u << bpp);
    count = std::min<std::uint32_t>(count, 1u << bpp);
    const std::size_t start = 14 + headerSize;
    palette.assign(1u << bpp, 0);
    for (std::uint32_t i = 0; i < count; ++i) {
      const std::size_t at = start + std::size_t{i} * paletteEntrySize;
      if (at + 3 > size) break;  // a short table leaves the rest black
      palette[i] = MakePixel(data[at + 2], data[at + 1], data[at]);
    }
  }

  if (pixelOffset >= size) return std::nullopt;
  const std::uint8_t* pixels = data + pixelOffset;
  const std::size_t available = size - pixelOffset;
  Surface out(static_cast<int>(width), static_cast<int>(height));
  const auto rowOf = [&](std::int64_t fileRow) {
    return static_cast<int>(topDown ? fileRow : height - 1 - fileRow);
  };

  if (compression == kRle8 || compression == kRle4) {
    // Run-length data; whatever it leaves undrawn stays the first palette colour.
    for (int y = 0; y < out.height(); ++y) {
      std::fill_n(&out.At(0, y), out.width(), palette[0]);
    }
    std::int64_t x = 0, row = 0;
    std::size_t i = 0;
    const auto put = [&](int index) {
      if (x < width && row < height) out.At(static_cast<int>(x), rowOf(row)) = palette[index];
      ++x;
    };
    while (i + 1 < available && row < height) {
      const std::uint8_t count = pixels[i], value = pixels[i + 1];
      i += 2;
      if (count > 0) {
        for (int k = 0; k < count; ++k) {
          put(compression == kRle8 ? value : ((k & 1) ? value & 0x0F : value >> 4));
        }
      } else if (value == 0) {
        x = 0;
        ++row;
      } else if (value == 1) {
        break;
      } else if (value == 2) {
        if (i + 1 >= available) break;
        x += pixels[i];
        row += pixels[i + 1];
        i += 2;
      } else {
        const std::size_t bytes =
            compression == kRle8 ? value : (static_cast<std::size_t>(value) + 1) / 2;
        if (i + bytes > available) break;
        for (int k = 0; k < value; ++k) {
          put(compression == kRle8 ? pixels[i + k]
                                   : ((k & 1) ? pixels[i + k / 2] & 0x0F : pixels[i + k / 2] >> 4));
        }
        i += (bytes + 1) & ~std::size_t{1};
      }
    }
    return out;
  }

  if (compression != kRgb && compression != kBitFields && compression != kAlphaBitFields) {
    return std::nullopt;
  }
  const std::size_t stride = ((static_cast<std::size_t>(width) * bpp + 31) / 32) * 4;
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) {
    return std::nullopt;
  }
  if (compression == kRgb) {
    if (bpp == 16) {
      masks[0] = 0x7C00, masks[1] = 0x03E0, masks[2] = 0x001F;
    } else if (bpp == 32) {
      masks[0] = 0xFF0000, masks[1] = 0xFF00, masks[2] = 0xFF;
    }
  } else if (bpp != 16 && bpp != 32) {
    return std::nullopt;
  }
  const Channel r(masks[0]), g(masks[1]), b(masks[2]);
  // Rows missing at the end of a truncated file stay black.
  const std::size_t rows =
      std::min<std::size_t>(static_cast<std::size_t>(height), stride ? available / stride : 0);
  for (std::size_t fileRow = 0; fileRow < rows; ++fileRow) {
    const std::uint8_t* src = pixels + fileRow * stride;
    Pixel* dst = &out.At(0, rowOf(static_cast<std::int64_t>(fileRow)));
    for (std::int64_t x = 0; x < width; ++x) {
      switch (bpp) {
        case 1:
          dst[x] = palette[(src[x >> 3] >> (7 - (x & 7))) & 1];
          break;
        case 4:
          dst[x] = palette[(x & 1) ? src[x >> 1] & 0x0F : src[x >> 1] >> 4];
          break;
        case 8:
          dst[x] = palette[src[x]];
          break;
        case 16: {
          const std::uint32_t v = U16(src + 2 * x);
          dst[x] = MakePixel(r.Get(v), g.Get(v), b.Get(v));
          break;
        }
        case 24:
          dst[x] = MakePixel(src[3 * x + 2], src[3 * x + 1], src[3 * x]);
          break;
        case 32: {
          const std::uint32_t v = U32(src + 4 * x);
          dst[x] = MakePixel(r.Get(v), g.Get(v), b.Get(v));
          break;
        }
      }
    }
  }
  return out;
}

std::optional<Surface> DecodePicture(const std::uint8_t* data, std::size_t size) {
  if (!data || size < 4) return std::nullopt;
  if (data[0] == 'B' && data[1] == 'M') return DecodeBmp(data, size);
  if (data[0] == 0xFF && data[1] == 0xD8) return DecodeJpeg(data, size);
  return std::nullopt;
}

}  // namespace dbx
