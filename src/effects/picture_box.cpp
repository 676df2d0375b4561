#include "effects/picture_box.h"

#include <algorithm>

#include "core/platform.h"

namespace dbx {

Pixel ResolveColor(std::int32_t color, SystemColors* colors) {
  if (color < 0 && (static_cast<std::uint32_t>(color) & 0x7FFFFFFFu) <= 24u) {
    if (colors == nullptr) return 0;
    return ColorToPixel(
        colors->SysColor(static_cast<int>(static_cast<std::uint32_t>(color) & 0x7FFFFFFFu)));
  }
  return ColorToPixel(color);
}

void PictureBox::SetTwipsPerPixel(int x, int y) {
  tppx_ = std::max(x, 1);
  tppy_ = std::max(y, 1);
}

void PictureBox::SetPixelSize(int width, int height) {
  width = std::max(width, 0);
  height = std::max(height, 0);
  if (width == image_.width() && height == image_.height()) return;
  Surface next(width, height, back_pixel_);
  if (picture_)
    CopyRect(next.View(), 0, 0, picture_->width(), picture_->height(), picture_->View(), 0, 0);
  CopyRect(next.View(), 0, 0, image_.width(), image_.height(), image_.View(), 0, 0);
  image_ = std::move(next);
}

void PictureBox::SetSizeTwips(std::int64_t widthTwips, std::int64_t heightTwips) {
  auto px = [](std::int64_t twips, int tpp) {
    const std::int64_t v = twips / tpp;
    return static_cast<int>(std::clamp<std::int64_t>(v, 0, 1 << 20));
  };
  SetPixelSize(px(widthTwips, tppx_), px(heightTwips, tppy_));
}

Size PictureBox::EffectPixelSize() const {
  return {static_cast<int>(ScaleWidth() / tppx_), static_cast<int>(ScaleHeight() / tppy_)};
}

void PictureBox::SetBackColor(std::int32_t color) {
  back_color_ = color;
  back_pixel_ = ResolveColor(color, colors_);
  Cls();
}

void PictureBox::SetPicture(std::shared_ptr<const Surface> picture) {
  picture_ = std::move(picture);
  Cls();
}

void PictureBox::Cls() {
  FillRect(image_.View(), 0, 0, image_.width(), image_.height(), back_pixel_);
  if (picture_) {
    CopyRect(image_.View(), 0, 0, picture_->width(), picture_->height(), picture_->View(), 0, 0);
  }
}

void PictureBox::PaintPicture(SurfaceView picture, Point at) {
  CopyRect(image_.View(), at.x, at.y, picture.width(), picture.height(), picture, 0, 0);
}

}  // namespace dbx
