// Picture files into surfaces: our own BMP reader (every variant a picture folder is likely to
// hold) and JPEG through libjpeg-turbo. Neither trusts the sizes a file claims.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "core/platform.h"
#include "core/surface.h"

namespace dbx {

// Pictures larger than this on a side, or in all, are refused rather than held in memory.
inline constexpr int kMaxPictureSide = 16384;
inline constexpr std::int64_t kMaxPicturePixels = std::int64_t{1} << 27;  // 134 million

// A Windows bitmap: core, info, V4 and V5 headers; 1, 4, 8, 16, 24 and 32 bits; uncompressed,
// bit fields, RLE8 and RLE4; bottom-up or top-down. Nothing for anything else or damaged data.
std::optional<Surface> DecodeBmp(const std::uint8_t* data, std::size_t size);

// A JPEG file (baseline or progressive, grey, colour or CMYK). Nothing for damaged data.
std::optional<Surface> DecodeJpeg(const std::uint8_t* data, std::size_t size);

// Either of the above, chosen by the data's first bytes.
std::optional<Surface> DecodePicture(const std::uint8_t* data, std::size_t size);

class FileImageLoader final : public ImageLoader {
 public:
  std::optional<Surface> Load(const std::string& path) override;
  std::optional<Surface> Decode(const std::uint8_t* data, std::size_t size) override {
    return DecodePicture(data, size);
  }
};

}  // namespace dbx
