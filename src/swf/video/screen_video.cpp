// Screen video frames: the block size and picture size, then the blocks in rows from the bottom
// left, each a 16-bit big-endian length and that many bytes of a zlib stream holding the block's
// BGR samples, its rows from the bottom up. A length of 0 keeps the block of the frame before.
#include "swf/video/screen_video.h"

#include <zlib.h>

#include <algorithm>
#include <utility>

namespace dbx::swf::video {
namespace {

struct Layout {
  int blockW = 0, blockH = 0, width = 0, height = 0, columns = 0, rows = 0;
};

bool ReadLayout(const std::uint8_t* data, std::size_t size, Layout& l) {
  if (size < 4) return false;
  l.blockW = ((data[0] >> 4) + 1) * 16;
  l.width = ((data[0] & 15) << 8) | data[1];
  l.blockH = ((data[2] >> 4) + 1) * 16;
  l.height = ((data[2] & 15) << 8) | data[3];
  l.columns = (l.width + l.blockW - 1) / l.blockW;
  l.rows = (l.height + l.blockH - 1) / l.blockH;
  return l.width > 0 && l.height > 0;
}

// Calls visit(column, row, offset, length) for each block in the order the frame stores them,
// stopping at the first that returns false. False when a block's data does not fit in the frame.
template <typename Visit>
bool ForEachBlock(const std::uint8_t* data, std::size_t size, const Layout& l, Visit visit) {
  std::size_t pos = 4;
  for (int row = 0; row < l.rows; ++row) {
    for (int column = 0; column < l.columns; ++column) {
      if (size - pos < 2) return false;
      const std::size_t length = (std::size_t{data[pos]} << 8) | data[pos + 1];
      pos += 2;
      if (length > size - pos || !visit(column, row, pos, length)) return false;
      pos += length;
    }
  }
  return true;
}

// The bytes of a block's samples: the blocks of the right column and the top row are cut to the
// picture.
std::size_t BlockSamples(const Layout& l, int column, int row) {
  const int w = std::min(l.blockW, l.width - column * l.blockW);
  const int h = std::min(l.blockH, l.height - row * l.blockH);
  return static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 3;
}

}  // namespace

bool ScreenVideoDecoder::IsKeyFrame(const std::uint8_t* data, std::size_t size) const {
  Layout l;
  return ReadLayout(data, size, l) &&
         ForEachBlock(data, size, l,
                      [](int, int, std::size_t, std::size_t length) { return length > 0; });
}

bool ScreenVideoDecoder::Decode(const std::uint8_t* data, std::size_t size, Bitmap& out) {
  Layout l;
  if (!ReadLayout(data, size, l)) return false;
  // Deflate makes at most about 1032 bytes of one, so a block's data that is too short for its
  // samples fails the frame before the picture is made.
  bool whole = true;
  if (!ForEachBlock(data, size, l, [&](int column, int row, std::size_t, std::size_t length) {
        whole = whole && length > 0;
        return length == 0 || length * 1032 >= BlockSamples(l, column, row);
      }))
    return false;
  const bool samePicture = width_ == l.width && height_ == l.height;
  // A block left out keeps what the picture before showed, so it needs one of the same size.
  if (!whole && !samePicture) return false;
  if (samePicture)
    next_ = picture_;
  else
    next_.assign(static_cast<std::size_t>(l.width) * static_cast<std::size_t>(l.height), 0);
  const bool ok =
      ForEachBlock(data, size, l, [&](int column, int row, std::size_t offset, std::size_t length) {
        if (length == 0) return true;
        const int x0 = column * l.blockW, y0 = row * l.blockH;
        const int w = std::min(l.blockW, l.width - x0), h = std::min(l.blockH, l.height - y0);
        const std::size_t expected = static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 3;
        samples_.resize(expected);
        uLongf produced = static_cast<uLongf>(expected);
        if (uncompress(samples_.data(), &produced, data + offset, static_cast<uLong>(length)) !=
                Z_OK ||
            produced != expected)
          return false;
        const std::uint8_t* s = samples_.data();
        for (int k = 0; k < h; ++k) {
          std::uint32_t* dst =
              next_.data() + static_cast<std::size_t>(l.height - 1 - (y0 + k)) * l.width + x0;
          for (int i = 0; i < w; ++i, s += 3)
            dst[i] = 0xFF000000u | (std::uint32_t{s[2]} << 16) | (std::uint32_t{s[1]} << 8) | s[0];
        }
        return true;
      });
  if (!ok) return false;
  std::swap(picture_, next_);
  width_ = l.width;
  height_ = l.height;
  out.width = width_;
  out.height = height_;
  out.opaque = true;
  out.pixels = picture_;
  return true;
}

}  // namespace dbx::swf::video
