#include <cstdlib>

#include "settings_dialog/config_dialog_ui.h"

namespace dbx {
namespace {

using C = ConfigControl;
using K = ControlKind;

// The design table: name, kind, text, left, top, width, height (twips), tab index. The quality
// options lie inside the frame; their positions are relative to its inside.
constexpr std::array<ControlSpec, kConfigControlCount> kControls = {{
    {C::kFlash, "Flash", K::kMoviePreview, "", 0, 0, 5835, 3795, 0},
    {C::kRirodIMG, "RirodIMG", K::kPictureBox, "", 0, 0, 5895, 3795, 17},
    {C::kFrame1, "Frame1", K::kFrame, "Frame1", -120, 0, 6015, 3855, 15},
    {C::kVercap, "Vercap", K::kInfoLabel, "Version:", 4800, 3900, 585, 195, 12, true},
    {C::kDeccap, "Deccap", K::kInfoLabel, "Dec:", 120, 4200, 5535, 615, 11},
    {C::kWebsitecap, "Websitecap", K::kInfoLabel, "Label2", 120, 4800, 3135, 255, 16, false, true},
    {C::kCopycap, "Copycap", K::kInfoLabel, "Copyright:", 120, 5040, 3975, 255, 13},
    {C::kUserLogo, "UserLogo", K::kLogo, "", 4320, 4920, 1350, 420, 14},
    {C::kLabel1, "Label1", K::kInfoLabel, "(ESC for quit Screen Saver)", 7200, 120, 1590, 435, 10},
    {C::kCmdChange, "cmdChange", K::kButton, "Change SWF", 7320, 1260, 1515, 435, 1},
    {C::kCmdBack, "cmdBack", K::kButton, "BackGround", 7320, 1740, 1515, 495, 3},
    {C::kChkCursor, "chkCursor", K::kCheckBox, "Show Cursor", 7440, 2340, 1275, 315, 2},
    {C::kFraQuality, "fraQuality", K::kFrame, "Quality", 7320, 2760, 1575, 1515, 4},
    {C::kOption0, "Option1(0)", K::kOption, "Low", 120, 240, 675, 195, 5},
    {C::kOption1, "Option1(1)", K::kOption, "AutoLow", 120, 960, 1035, 195, 6},
    {C::kOption2, "Option1(2)", K::kOption, "AutoHigh", 120, 1200, 1095, 195, 7},
    {C::kOption3, "Option1(3)", K::kOption, "High", 120, 480, 675, 195, 8},
    {C::kOption4, "Option1(4)", K::kOption, "Best", 120, 720, 675, 195, 9},
}};

// Twips to whole pixels, to the nearest (a half away from zero), negative positions included.
int ToPixels(int twips, int twipsPerPixel) {
  if (twipsPerPixel <= 0) twipsPerPixel = 15;
  const int half = twipsPerPixel / 2;
  return twips >= 0 ? (twips + half) / twipsPerPixel : -((-twips + half) / twipsPerPixel);
}

}  // namespace

const std::array<ControlSpec, kConfigControlCount>& ConfigControls() {
  return kControls;
}

const ControlSpec& ControlOf(ConfigControl id) {
  return kControls[static_cast<std::size_t>(static_cast<int>(id))];
}

ConfigControl OptionControl(int index) {
  return static_cast<ConfigControl>(static_cast<int>(ConfigControl::kOption0) + index);
}

Rect TwipsToPixels(int left, int top, int width, int height, int twipsPerPixelX,
                   int twipsPerPixelY) {
  return Rect{ToPixels(left, twipsPerPixelX), ToPixels(top, twipsPerPixelY),
              ToPixels(width, twipsPerPixelX), ToPixels(height, twipsPerPixelY)};
}

Surface MakeLogo() {
  // A deep blue band that brightens to the right, with a row of small light diamonds.
  Surface logo(kLogoSize.w, kLogoSize.h);
  SurfaceView v = logo.View();
  for (int y = 0; y < v.height(); ++y) {
    for (int x = 0; x < v.width(); ++x) {
      const int r = 20 + x * 60 / v.width();
      const int g = 40 + x * 80 / v.width();
      const int b = 110 + x * 120 / v.width();
      Pixel p = static_cast<Pixel>((r << 16) | (g << 8) | b);
      const int cx = 9 + ((x - 2) / 14) * 14;
      if (x >= 2 && std::abs(x - cx) + std::abs(y - 14) <= 5) p = 0x00F0F4FF;
      v.At(x, y) = p;
    }
  }
  return logo;
}

}  // namespace dbx
