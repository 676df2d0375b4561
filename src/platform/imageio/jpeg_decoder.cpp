// JPEG through libjpeg-turbo, decoding straight into the surface's rows (its BGRX output is our
// pixel layout).
#include <csetjmp>
#include <cstdio>
#include <vector>

#include "platform/imageio/image_io.h"

extern "C" {
#include <jpeglib.h>
}

namespace dbx {
namespace {

struct ErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
};

[[noreturn]] void OnError(j_common_ptr info) {
  std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->jump, 1);
}
void OnMessage(j_common_ptr) {}

}  // namespace

std::optional<Surface> DecodeJpeg(const std::uint8_t* data, std::size_t size) {
  if (!data || size < 4) return std::nullopt;
  // Declared before setjmp so that a jump back finds them alive and they clean up as usual.
  Surface out;
  std::vector<std::uint8_t> cmykRow;
  jpeg_decompress_struct info{};
  ErrorManager err{};
  info.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = OnError;
  err.pub.output_message = OnMessage;
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&info);
    return std::nullopt;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
  if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK) {
    jpeg_destroy_decompress(&info);
    return std::nullopt;
  }
  const std::int64_t w = info.image_width, h = info.image_height;
  if (w <= 0 || h <= 0 || w > kMaxPictureSide || h > kMaxPictureSide || w * h > kMaxPicturePixels) {
    jpeg_destroy_decompress(&info);
    return std::nullopt;
  }
  const bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
  info.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRX;
  jpeg_start_decompress(&info);
  out.Resize(static_cast<int>(info.output_width), static_cast<int>(info.output_height));
  if (cmyk) cmykRow.resize(static_cast<std::size_t>(info.output_width) * 4);
  while (info.output_scanline < info.output_height) {
    const int y = static_cast<int>(info.output_scanline);
    if (cmyk) {
      JSAMPROW row = cmykRow.data();
      jpeg_read_scanlines(&info, &row, 1);
      // CMYK JPEGs are stored inverted: each byte is already 255 - ink.
      for (int x = 0; x < out.width(); ++x) {
        const std::uint8_t* p = &cmykRow[static_cast<std::size_t>(x) * 4];
        const auto mul = [&](int c) { return static_cast<std::uint8_t>(c * p[3] / 255); };
        out.At(x, y) = MakePixel(mul(p[0]), mul(p[1]), mul(p[2]));
      }
    } else {
      JSAMPROW row = reinterpret_cast<JSAMPROW>(&out.At(0, y));
      jpeg_read_scanlines(&info, &row, 1);
    }
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  // BGRX leaves the fourth byte at 255; our pixels keep it at zero.
  for (int y = 0; y < out.height(); ++y) {
    Pixel* row = &out.At(0, y);
    for (int x = 0; x < out.width(); ++x) row[x] &= 0x00FFFFFF;
  }
  return out;
}

}  // namespace dbx
