// The gradient painter `ClsGrandinet` (module GradientRect): fills a surface with a
// linear two-colour gradient in any direction by sweeping a long line across it one pixel at a
// time, each position drawn as a one-pixel line in its own colour.
//
// Use (as the slideshow's GradientBgcolor does):
//
//   ClsGrandinet painter(&platform.Colors(), &platform.Dialog());
//   painter.SetAngle(static_cast<float>(angle));
//   painter.SetColor1(up);
//   painter.SetColor2(down);
//   painter.Draw(&picture1);   // paints the whole persistent image; refresh it afterwards
//
// Faults (an overflow of the line ends, memory exhausted) are reported once per paint in a warning
// message box through `Dialogs` and end that paint; nothing else is ever shown.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/surface.h"
#include "effects/raster.h"

namespace dbx {

class Dialogs;
class SystemColors;
class PictureBox;

struct PointF {
  float x = 0;
  float y = 0;
};

class ClsGrandinet {
 public:
  // Both services may be null: system colours then read as black and faults are not shown.
  // `defaultTitle` is the program's title, used for faults outside the paint.
  explicit ClsGrandinet(SystemColors* colors = nullptr, Dialogs* dialogs = nullptr,
                        std::string defaultTitle = "Dazzlebox");

  // Colour values 0x00BBGGRR. A negative value whose low 31 bits are at most 24 is replaced by the
  // system colour of that index when assigned; any other value is stored unchanged.
  std::int32_t Color1() const { return color1_; }
  std::int32_t Color2() const { return color2_; }
  void SetColor1(std::int32_t lData);
  void SetColor2(std::int32_t lData);

  // Degrees counter-clockwise from pointing right, always held in [0, 360).
  float Angle() const { return angle_; }
  void SetAngle(float fData);

  // Paints the whole of `picObj`'s persistent image. True when at least one line was painted;
  // false (nothing painted) for a surface of 1 pixel or less on either axis. A null surface is a
  // fault: a warning message box under the default title, then false.
  bool Draw(PictureBox* picObj, Kernel k = Kernel::kFast);

  // Fills `laRetColors` with lSteps (at least 2) colours from lColor1 to lColor2 and returns their
  // number. May throw std::bad_alloc for an absurd count.
  static std::int32_t BlendColors(std::int32_t lColor1, std::int32_t lColor2, std::int32_t lSteps,
                                  std::vector<std::int32_t>& laRetColors);

  // Paints the gradient for an area of width × height pixels whose top left corner is (0, 0) into
  // `hdc` (lines clipped to it). Returns twice the number of lines drawn, or 0 after a fault
  // (reported in a message box titled "GradientRect").
  std::int32_t PaintGradient(SurfaceView hdc, std::int64_t width, std::int64_t height,
                             Kernel k = Kernel::kFast);

  // The working data of one paint, for tests and tools: the line ends (entries 2k and 2k + 1 are
  // line k) and one colour per line (at least as many as lines). Throws on a fault.
  struct Plan {
    std::vector<Point> points;
    std::vector<std::int32_t> colors;
    int stepX = 0;
    int stepY = 0;
    std::size_t LineCount() const { return points.size() / 2; }
  };
  Plan MakePlan(std::int64_t width, std::int64_t height) const;

  // Turns `point` about `centre` by `angle` degrees (counter-clockwise on the screen).
  static void RotatePoint(PointF centre, PointF& point, float angle);
  // a ÷ b, or 0 when b is 0.
  static double SafeDiv(double a, double b) { return b == 0 ? 0.0 : a / b; }

 private:
  std::int32_t Resolve(std::int32_t value) const;
  void ReportFault(const std::string& description, const std::string& title) const;

  SystemColors* colors_;
  Dialogs* dialogs_;
  std::string default_title_;
  std::int32_t color1_ = 0x00FFFFD0;
  std::int32_t color2_ = 0x00400000;
  float angle_ = 315.0f;
};

}  // namespace dbx
