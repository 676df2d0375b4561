// The picture surface of the slideshow : `Picture1`, `Picture2` and
// `Picture3` are three instances.
//
// A PictureBox keeps what is drawn on it in a persistent image (our own 32-bit pixels, see
// surface.h), whether it is shown or not. It has a background colour (initially white; setting it
// clears the surface to it), an optional background picture drawn from the top left corner at
// natural size (assigning it replaces what was drawn), a size in twips derived from its pixel size
// and the screen's twips per pixel, and a refresh operation that hands the image to whatever shows
// it, through a callback that the window supplies.
//
// Composing a picture (the slideshow's MiddleImage), for example:
//
//   PictureBox& pic = picture2;
//   pic.SetBackColor(0x00000000);            // fresh background: clears to black
//   pic.PaintPicture(loaded.View(), {pic.PixelWidth() / 2 - loaded.width() / 2,
//                                    pic.PixelHeight() / 2 - loaded.height() / 2});
//
// The transitions draw into Image() and call Refresh() after each frame; the blend transitions
// read and write the composed pixels of Image() directly.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "core/surface.h"
#include "effects/raster.h"

namespace dbx {

class SystemColors;

class PictureBox {
 public:
  // The box and the part of its image that changed since the last refresh.
  using RefreshCallback = std::function<void(const PictureBox&, const Rect&)>;

  // The twips per pixel default to 15 (96 dots per inch).
  PictureBox() = default;
  PictureBox(const PictureBox&) = delete;
  PictureBox& operator=(const PictureBox&) = delete;
  PictureBox(PictureBox&&) = default;
  PictureBox& operator=(PictureBox&&) = default;

  // ----- Size. The persistent image keeps what fits at its top left; uncovered parts get the
  // background colour and the background picture.
  void SetTwipsPerPixel(int x, int y);
  int TwipsPerPixelX() const { return tppx_; }
  int TwipsPerPixelY() const { return tppy_; }
  void SetPixelSize(int width, int height);
  // Sizes in twips are turned into whole pixels by whole-number division.
  void SetSizeTwips(std::int64_t widthTwips, std::int64_t heightTwips);
  int PixelWidth() const { return image_.width(); }
  int PixelHeight() const { return image_.height(); }
  // Width and height in twips (the surface has no border, so the scaled size is the same).
  std::int64_t WidthTwips() const { return std::int64_t{image_.width()} * tppx_; }
  std::int64_t HeightTwips() const { return std::int64_t{image_.height()} * tppy_; }
  std::int64_t ScaleWidth() const { return WidthTwips(); }
  std::int64_t ScaleHeight() const { return HeightTwips(); }
  // The transitions' pixel size: the scaled size in twips, whole-number divided by the
  // twips per pixel.
  Size EffectPixelSize() const;

  // ----- Background colour, a colour value 0x00BBGGRR. Setting it clears the surface to it (and
  // draws the background picture again, if there is one). A system colour (negative, low 31 bits
  // 0..24) is resolved through `colors` when one was given, else taken as black.
  void SetSystemColors(SystemColors* colors) { colors_ = colors; }
  void SetBackColor(std::int32_t color);
  std::int32_t BackColor() const { return back_color_; }
  Pixel BackPixel() const { return back_pixel_; }

  // ----- Background picture, drawn from the top left at natural size. Assigning one replaces what
  // was drawn on the surface: the surface is cleared to the background colour and the picture
  // drawn. Assigning nothing removes it (and clears likewise).
  void SetPicture(std::shared_ptr<const Surface> picture);
  const std::shared_ptr<const Surface>& Picture() const { return picture_; }

  // Clears what was drawn: background colour, then the background picture.
  void Cls();

  // Draws a picture at natural size with its top left corner at `at` (pixels), cropped to the
  // surface. Positions may be negative (a picture larger than the surface is cropped).
  void PaintPicture(SurfaceView picture, Point at);

  // ----- The persistent image. Effects and painters draw here.
  SurfaceView Image() { return image_.View(); }
  SurfaceView Image() const { return image_.View(); }
  const Surface& ImageSurface() const { return image_; }
  Surface& ImageSurface() { return image_; }

  // ----- Refresh: shows the current image through the window's callback (none: nothing happens).
  // `changed`: the part of the image that changed since the last refresh (nothing: any of it).
  void SetRefreshCallback(RefreshCallback callback) { refresh_ = std::move(callback); }
  void Refresh(std::optional<Rect> changed = std::nullopt) const {
    if (refresh_) refresh_(*this, changed.value_or(Rect{0, 0, image_.width(), image_.height()}));
  }

 private:
  Surface image_;
  std::int32_t back_color_ = 0x00FFFFFF;
  Pixel back_pixel_ = 0x00FFFFFF;
  std::shared_ptr<const Surface> picture_;
  int tppx_ = 15;
  int tppy_ = 15;
  SystemColors* colors_ = nullptr;
  RefreshCallback refresh_;
};

// The pixel of a colour value: system colours through `colors` (black without one); the top byte
// of any other value is ignored.
Pixel ResolveColor(std::int32_t color, SystemColors* colors);

}  // namespace dbx
