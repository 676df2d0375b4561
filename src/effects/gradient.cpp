#include "effects/gradient.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <stdexcept>

#include "core/platform.h"
#include "effects/numeric.h"
#include "effects/picture_box.h"

namespace dbx {

namespace {

// A run-time fault of the paint, with the description shown to the user.
struct GradientFault : std::runtime_error {
  using std::runtime_error::runtime_error;
};

constexpr std::size_t kMaxPoints = std::size_t{1} << 27;  // 1 GiB of line ends
constexpr std::int32_t kMaxColors = std::int32_t{1} << 26;

std::int32_t NearestLong(double v) {
  if (!(v > -2147483648.5 && v < 2147483647.5)) throw GradientFault("Overflow");
  return static_cast<std::int32_t>(RoundHalfEven(v));
}

}  // namespace

ClsGrandinet::ClsGrandinet(SystemColors* colors, Dialogs* dialogs, std::string defaultTitle)
    : colors_(colors), dialogs_(dialogs), default_title_(std::move(defaultTitle)) {}

std::int32_t ClsGrandinet::Resolve(std::int32_t value) const {
  if (value < 0 && (static_cast<std::uint32_t>(value) & 0x7FFFFFFFu) <= 24u) {
    if (colors_ == nullptr) return 0;
    return colors_->SysColor(static_cast<int>(static_cast<std::uint32_t>(value) & 0x7FFFFFFFu));
  }
  return value;
}

void ClsGrandinet::SetColor1(std::int32_t lData) {
  color1_ = Resolve(lData);
}
void ClsGrandinet::SetColor2(std::int32_t lData) {
  color2_ = Resolve(lData);
}

void ClsGrandinet::SetAngle(float fData) {
  const double f = fData;
  if (!std::isfinite(f)) {
    angle_ = 0.0f;
    return;
  }
  float a = static_cast<float>(f - 360.0 * std::floor(f / 360.0));
  if (a >= 360.0f || a < 0.0f) a = 0.0f;  // a tiny negative value rounds up to 360 in single
  angle_ = a;
}

void ClsGrandinet::ReportFault(const std::string& description, const std::string& title) const {
  if (dialogs_ != nullptr) dialogs_->MessageBox(description, title, MessageKind::kWarning);
}

bool ClsGrandinet::Draw(PictureBox* picObj, Kernel k) {
  // Locking window updates is implicit here: the painter draws into the persistent image only,
  // which reaches the screen when the owner refreshes it after the paint.
  if (picObj == nullptr) {
    ReportFault("Object variable or With block variable not set", default_title_);
    return false;
  }
  const int width = picObj->PixelWidth();
  const int height = picObj->PixelHeight();
  if (width > 1 && height > 1) return PaintGradient(picObj->Image(), width, height, k) > 0;
  return false;
}

std::int32_t ClsGrandinet::BlendColors(std::int32_t lColor1, std::int32_t lColor2,
                                       std::int32_t lSteps,
                                       std::vector<std::int32_t>& laRetColors) {
  if (lSteps < 2) lSteps = 2;
  if (lSteps > kMaxColors) throw std::bad_alloc();
  const auto c1 = static_cast<std::uint32_t>(lColor1);
  const auto c2 = static_cast<std::uint32_t>(lColor2);
  // The colour bytes, exactly (colours are 0x00BBGGRR).
  const double red1 = c1 & 0xFF, green1 = (c1 >> 8) & 0xFF, blue1 = (c1 >> 16) & 0xFF;
  const double red2 = c2 & 0xFF, green2 = (c2 >> 8) & 0xFF, blue2 = (c2 >> 16) & 0xFF;
  const auto dR = static_cast<float>(SafeDiv(red2 - red1, lSteps));
  const auto dG = static_cast<float>(SafeDiv(green2 - green1, lSteps));
  const auto dB = static_cast<float>(SafeDiv(blue2 - blue1, lSteps));
  laRetColors.assign(static_cast<std::size_t>(lSteps), 0);
  laRetColors.front() = lColor1;
  laRetColors.back() = lColor2;
  for (std::int32_t i = 1; i <= lSteps - 2; ++i) {
    const double fi = static_cast<float>(i);
    const std::int64_t g = RoundHalfEven(fi * dG + green1);
    const std::int64_t r = RoundHalfEven(fi * dR + red1);
    const std::int64_t b = RoundHalfEven(fi * dB + blue1);
    laRetColors[static_cast<std::size_t>(i)] = static_cast<std::int32_t>(g * 256 + r + b * 65536);
  }
  return lSteps;
}

void ClsGrandinet::RotatePoint(PointF centre, PointF& point, float angle) {
  const auto a = static_cast<float>(static_cast<double>(angle) * 0.017453292519943278);
  const float dx = point.x - centre.x;
  const float dy = point.y - centre.y;
  const double c = std::cos(static_cast<double>(a));
  const double s = std::sin(static_cast<double>(a));
  point.x = static_cast<float>(centre.x + dx * c + dy * s);
  point.y = static_cast<float>(centre.y - dx * s + dy * c);
}

ClsGrandinet::Plan ClsGrandinet::MakePlan(std::int64_t width, std::int64_t height) const {
  Plan plan;
  // The centre and a horizontal line through it, long enough to pass every corner.
  const PointF q{static_cast<float>(std::floor(static_cast<double>(width) / 2.0)),
                 static_cast<float>(std::floor(static_cast<double>(height) / 2.0))};
  const double m = static_cast<double>(std::max(width, height));
  const auto r = static_cast<float>((std::sqrt(m * m + m * m) + 2.0) / 2.0);
  PointF p0{static_cast<float>(static_cast<double>(q.x) - r), q.y};
  PointF p1{static_cast<float>(static_cast<double>(q.x) + r), q.y};
  // The line turned perpendicular to the gradient direction.
  const double a90 = static_cast<double>(angle_) + 90.0;
  const auto ra = static_cast<float>(a90 - 360.0 * std::floor(a90 / 360.0));
  RotatePoint(q, p0, ra);
  RotatePoint(q, p1, ra);
  // The quadrant of the angle decides which way the line sweeps.
  int quadrant;
  if (angle_ >= 0.0f && angle_ <= 90.0f) {
    quadrant = 1;
  } else if (angle_ >= 90.0f && angle_ <= 180.0f) {
    quadrant = 2;
  } else if (angle_ >= 180.0f && angle_ <= 270.0f) {
    quadrant = 3;
  } else {
    quadrant = 4;
  }
  // The sweep axis, the start offset (the line just outside the picture) and the step.
  // The differences of the single-precision ends are taken exactly; rounding them to single
  // precision would turn the diagonal angles into ties and change the line counts.
  const bool along_x = std::fabs(static_cast<double>(p0.y) - static_cast<double>(p1.y)) >=
                       std::fabs(static_cast<double>(p0.x) - static_cast<double>(p1.x));
  const float max_x = std::max(p0.x, p1.x), min_x = std::min(p0.x, p1.x);
  const float max_y = std::max(p0.y, p1.y), min_y = std::min(p0.y, p1.y);
  float off_x = 0.0f, off_y = 0.0f;
  if (along_x) {
    if (quadrant == 1 || quadrant == 4) {
      off_x = -max_x;
      plan.stepX = 1;
    } else {
      off_x = static_cast<float>(static_cast<double>(width) - min_x);
      plan.stepX = -1;
    }
  } else {
    if (quadrant == 1 || quadrant == 2) {
      off_y = static_cast<float>(static_cast<double>(height) - min_y);
      plan.stepY = -1;
    } else {
      off_y = -max_y;
      plan.stepY = 1;
    }
  }
  // The first line.
  auto& pts = plan.points;
  pts.reserve(1000);
  pts.push_back({NearestLong(static_cast<float>(off_x + p0.x)),
                 NearestLong(static_cast<float>(off_y + p0.y))});
  pts.push_back({NearestLong(static_cast<float>(off_x + p1.x)),
                 NearestLong(static_cast<float>(off_y + p1.y))});
  // Every pass of the sweep moves one end by one pixel; refuse sweeps that could not be held.
  const double span = (along_x ? static_cast<double>(width) : static_cast<double>(height)) +
                      2.0 * static_cast<double>(r) + 4.0;
  if (!(2.0 * span < static_cast<double>(kMaxPoints))) throw std::bad_alloc();
  // The sweep: an integer walk of both ends until the line has left the picture.
  for (;;) {
    const Point prev = pts[pts.size() - 2];
    const std::int64_t nx = std::int64_t{prev.x} + plan.stepX;
    const std::int64_t ny = std::int64_t{prev.y} + plan.stepY;
    if (nx > INT32_MAX || nx < INT32_MIN || ny > INT32_MAX || ny < INT32_MIN) {
      throw GradientFault("Overflow");
    }
    pts.push_back({static_cast<int>(nx), static_cast<int>(ny)});
    const Point a = pts[pts.size() - 1], b = pts[pts.size() - 2];
    bool stop;
    if (plan.stepX == 1) {
      stop = a.x > width && b.x > width;
    } else if (plan.stepX == -1) {
      stop = a.x < 0 && b.x < 0;
    } else if (plan.stepY == 1) {
      stop = a.y > height && b.y > height;
    } else {
      stop = a.y < 0 && b.y < 0;
    }
    if (stop) break;
    if (pts.size() >= kMaxPoints) throw std::bad_alloc();
  }
  pts.shrink_to_fit();
  // One colour per line, from the first colour to the second.
  const std::int64_t s = RoundHalfEven(static_cast<double>(pts.size()) / 2.0);
  BlendColors(color1_, color2_, static_cast<std::int32_t>(std::min<std::int64_t>(s, INT32_MAX)),
              plan.colors);
  return plan;
}

std::int32_t ClsGrandinet::PaintGradient(SurfaceView hdc, std::int64_t width, std::int64_t height,
                                         Kernel k) {
  Plan plan;
  try {
    plan = MakePlan(width, height);
  } catch (const GradientFault& fault) {
    ReportFault(fault.what(), "GradientRect");
    return 0;
  } catch (const std::bad_alloc&) {
    ReportFault("Out of memory", "GradientRect");
    return 0;
  } catch (const std::length_error&) {
    ReportFault("Out of memory", "GradientRect");
    return 0;
  }
  const std::size_t lines = plan.LineCount();
  std::vector<Pixel> pens(lines);
  for (std::size_t i = 0; i < lines; ++i) pens[i] = ColorToPixel(plan.colors[i]);

  if (k == Kernel::kPlain) {
    // One line per pair of points, each in its own colour, later lines over earlier ones.
    for (std::size_t i = 0; i < lines; ++i) {
      const Point a = plan.points[2 * i], b = plan.points[2 * i + 1];
      DrawLine(hdc, a.x, a.y, b.x, b.y, pens[i], Kernel::kPlain);
    }
  } else if (lines > 0) {
    // Every line is the first one moved by k steps, drawn in order, so a pixel shows the colour
    // of the last line that covers it: on each row (or column) the first line covers one run
    // [a, b], and the covering lines follow from it directly.
    const LineRaster first{plan.points[0].x, plan.points[0].y, plan.points[1].x, plan.points[1].y};
    const Coord kmax = static_cast<Coord>(lines) - 1;
    const Coord w = hdc.width(), h = hdc.height();
    if (plan.stepX != 0) {
      // Along a row, line k covers the first line's run moved by k columns: the colours run
      // through the pen table forwards (sweep to the right) or backwards, then the last colour.
      std::vector<Pixel> reversed(pens.rbegin(), pens.rend());
      for (Coord y = 0; y < h; ++y) {
        Coord a, b;
        if (!first.RowRun(y, &a, &b)) continue;
        Pixel* row = hdc.Row(static_cast<int>(y));
        if (plan.stepX > 0) {
          // x in [a, b + kmax]: pen min(x − a, kmax).
          const Coord lo = std::max<Coord>(a, 0), hi = std::min<Coord>(b + kmax, w - 1);
          if (lo > hi) continue;
          const Coord ramp_end = std::min(hi, a + kmax);  // pens[x − a] up to here
          if (ramp_end >= lo) {
            std::copy_n(pens.data() + (lo - a), ramp_end - lo + 1, row + lo);
          }
          const Coord fill_lo = std::max(lo, ramp_end + 1);
          if (fill_lo <= hi)
            std::fill_n(row + fill_lo, hi - fill_lo + 1, pens[static_cast<std::size_t>(kmax)]);
        } else {
          // x in [a − kmax, b]: pen min(b − x, kmax) = reversed[kmax − min(b − x, kmax)].
          const Coord lo = std::max<Coord>(a - kmax, 0), hi = std::min<Coord>(b, w - 1);
          if (lo > hi) continue;
          const Coord ramp_lo = std::max(lo, b - kmax);  // from here on pens[b − x]
          if (ramp_lo > lo)
            std::fill_n(row + lo, ramp_lo - lo, pens[static_cast<std::size_t>(kmax)]);
          if (ramp_lo <= hi) {
            std::copy_n(reversed.data() + (kmax - (b - ramp_lo)), hi - ramp_lo + 1, row + ramp_lo);
          }
        }
      }
    } else {
      // Down a column, line k covers the first line's run moved by k rows. Columns whose runs are
      // equal form groups that take one colour per row.
      struct Group {
        Coord x0, x1, a, b;
      };
      std::vector<Group> groups;
      for (Coord x = 0; x < w; ++x) {
        Coord a, b;
        if (!first.ColumnRun(x, &a, &b)) continue;
        if (!groups.empty() && groups.back().x1 == x && groups.back().a == a &&
            groups.back().b == b) {
          groups.back().x1 = x + 1;
        } else {
          groups.push_back({x, x + 1, a, b});
        }
      }
      for (Coord y = 0; y < h; ++y) {
        Pixel* row = hdc.Row(static_cast<int>(y));
        for (const Group& g : groups) {
          Coord idx;
          if (plan.stepY > 0) {
            if (y < g.a || y > g.b + kmax) continue;
            idx = std::min(y - g.a, kmax);
          } else {
            if (y > g.b || y < g.a - kmax) continue;
            idx = std::min(g.b - y, kmax);
          }
          const Pixel pen = pens[static_cast<std::size_t>(idx)];
          if (g.x1 - g.x0 == 1) {
            row[g.x0] = pen;
          } else {
            std::fill(row + g.x0, row + g.x1, pen);
          }
        }
      }
    }
  }
  // What the painter reports: the number of line ends it walked (two per line).
  return static_cast<std::int32_t>(std::min<std::size_t>(lines * 2, INT32_MAX));
}

}  // namespace dbx
