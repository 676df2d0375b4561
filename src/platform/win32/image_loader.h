// Pictures through the Windows Imaging Component: JPEG, BMP, PNG and whatever codecs the system
// has, decoded to the program's pixel format.
#pragma once

#include "platform/win32/win32_api.h"

namespace dbx::win32 {

// The largest picture the loader accepts: 16384 pixels a side. Anything larger is refused before
// any pixel memory is taken, whatever its header claims.
constexpr int kMaxPictureSide = 16384;
constexpr std::uint64_t kMaxPicturePixels = 268435456;  // 16384 * 16384

// True when a picture of this size may be decoded.
constexpr bool PictureSizeAcceptable(std::uint32_t width, std::uint32_t height) {
  return width > 0 && height > 0 && width <= kMaxPictureSide && height <= kMaxPictureSide &&
         std::uint64_t{width} * height <= kMaxPicturePixels;
}

// Safe to call from any thread: each call sets up COM for its thread as needed and uses a factory
// of its own.
class WicImageLoader final : public ImageLoader {
 public:
  std::optional<Surface> Load(const std::string& path) override;
  std::optional<Surface> Decode(const std::uint8_t* data, std::size_t size) override;
};

}  // namespace dbx::win32
