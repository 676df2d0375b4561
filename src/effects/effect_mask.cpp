// The mask transitions, effects 10 to 15: a shape drawn in white into a black mask
// reveals the incoming picture through four raster operations per frame.
//
// Two kernels give identical pixels:
// - Plain: the obvious four raster passes. A mask and a work surface of (W + 2) × (H + 2), the
// shapes drawn
//   into the mask with a white pen, then NOT, AND, AND, OR over (0, 0, W, H) every frame.
// - Fast: no off-screen surface at all. A pixel drawn white into the mask and composed comes out
//   as t = (t AND NOT white) OR (incoming AND white); composing a pixel that was not drawn in this
//   frame changes nothing (black mask: nothing; a pixel revealed earlier: the same value again,
//   since the mask then holds incoming AND white and the target already shows it). So the fast
//   kernel applies that reveal to exactly the pixels the shapes draw in the frame, which costs in
//   proportion to the drawing instead of four full passes (and the circle skips the parts of its
//   rows that earlier frames revealed). This holds as long as nothing else
//   draws on the target or the incoming picture during the transition, as in the slideshow.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "effects/effects_internal.h"
#include "effects/numeric.h"

namespace dbx::fx {

namespace {

class Mask final : public Effect {
 public:
  Mask(const Context& c, int shape, Step steps) : c_(c), shape_(shape), steps_(steps) {
    const Coord W = c.W, H = c.H;
    switch (shape) {
      case 1:
        limit_ = 2 * W + 2 * H;
        break;
      case 2: {
        const double hw = static_cast<double>(W) / 2.0, hh = static_cast<double>(H) / 2.0;
        limit_ = RoundHalfEven(std::sqrt(hw * hw + hh * hh));
        break;
      }
      case 3:
        limit_ = W + H;
        break;
      default:
        limit_ = W;
        break;
    }
    cx_ = RoundHalfEven(static_cast<double>(W) / 2.0);
    cy_ = RoundHalfEven(static_cast<double>(H) / 2.0);
    if (c.kernel == Kernel::kPlain) {
      // Set-up: the mask cleared black with lines of the default black pen from
      // x = −1 to W, then a work surface of the same size.
      mask_ = std::make_unique<Surface>(static_cast<int>(W + 2), static_cast<int>(H + 2), 0);
      for (Coord x = -1; x <= W; ++x) DrawLine(mask_->View(), x, -1, x, H, 0, Kernel::kPlain);
      work_ = std::make_unique<Surface>(static_cast<int>(W + 2), static_cast<int>(H + 2), 0);
    } else {
      spans_.resize(static_cast<std::size_t>(std::max<Coord>(H, 0)));
      revealed_.resize(spans_.size());
      TrackChanges(W, H);
    }
  }

  bool Iterate() override {
    if (d_ >= limit_ || phase_ == -1) {
      Release();
      c_.Finish();
      return false;
    }
    DrawShapes();
    if (c_.kernel == Kernel::kPlain) {
      const Coord W = c_.W, H = c_.H;
      const SurfaceView m = mask_->View(), w = work_->View();
      RasterBlt(w, 0, 0, W, H, m, 0, 0, RasterOp::kNotSrcCopy);
      RasterBlt(c_.target, 0, 0, W, H, w, 0, 0, RasterOp::kSrcAnd);
      RasterBlt(m, 0, 0, W, H, c_.incoming, 0, 0, RasterOp::kSrcAnd);
      RasterBlt(c_.target, 0, 0, W, H, m, 0, 0, RasterOp::kSrcPaint);
    } else {
      FlushSpans();
    }
    ++d_;
    return true;
  }

  void Stopped() override { Release(); }

  bool HoldsOffscreenSurfaces() const override { return mask_ != nullptr || work_ != nullptr; }

 private:
  void Release() {
    mask_.reset();
    work_.reset();
  }

  // ----- The pen: a line from one point to another (end excluded), a filled ellipse.
  void Line(Coord x0, Coord y0, Coord x1, Coord y1) {
    if (c_.kernel == Kernel::kPlain) {
      DrawLine(mask_->View(), x0, y0, x1, y1, kWhitePen, Kernel::kPlain);
      return;
    }
    // (The line's pixels lie within the box of its ends.)
    Changes(std::min(x0, x1), std::min(y0, y1), std::abs(x1 - x0) + 1, std::abs(y1 - y0) + 1);
    const SurfaceView t = c_.target, in = c_.incoming;
    ForEachLinePixelClipped(LineRaster{x0, y0, x1, y1}, c_.W, c_.H, [&](Coord x, Coord y) {
      Pixel& p = t.At(static_cast<int>(x), static_cast<int>(y));
      p = RevealPixel(p, in.At(static_cast<int>(x), static_cast<int>(y)));
    });
  }

  void Ellipse(Coord l, Coord t, Coord r, Coord b) {
    if (c_.kernel == Kernel::kPlain) {
      FillEllipse(mask_->View(), l, t, r, b, kWhitePen, Kernel::kPlain);
      return;
    }
    // Collect the rows' spans; spans of one row that touch are merged, others revealed at once.
    const EllipseRaster e{l, t, r, b};
    if (r - l <= 0 || b - t <= 0) return;
    const Coord y0 = std::max<Coord>(t, 0), y1 = std::min<Coord>(b, c_.H);
    for (Coord y = y0; y < y1; ++y) {
      Coord xa, xb;
      if (!e.RowSpan(y, &xa, &xb)) continue;
      xa = std::max<Coord>(xa, 0);
      xb = std::min<Coord>(xb, c_.W - 1);
      if (xa > xb) continue;
      Span& s = spans_[static_cast<std::size_t>(y)];
      if (!s.used) {
        s = {xa, xb, true};
        dirty_rows_.push_back(y);
      } else if (xa <= s.b + 1 && xb >= s.a - 1) {
        s.a = std::min(s.a, xa);
        s.b = std::max(s.b, xb);
      } else {
        RevealRow(y, xa, xb);
      }
    }
  }

  void RevealRow(Coord y, Coord xa, Coord xb) {
    Changes(xa, y, xb - xa + 1, 1);
    RevealSpan(c_.target.Row(static_cast<int>(y)) + xa, c_.incoming.Row(static_cast<int>(y)) + xa,
               static_cast<int>(xb - xa + 1), Kernel::kFast);
  }

  void FlushSpans() {
    for (Coord y : dirty_rows_) {
      Span& s = spans_[static_cast<std::size_t>(y)];
      Span& p = revealed_[static_cast<std::size_t>(y)];
      // Pixels revealed in an earlier frame would come out the same again: skip them.
      if (!p.used || s.b < p.a || s.a > p.b) {
        RevealRow(y, s.a, s.b);
      } else {
        if (s.a < p.a) RevealRow(y, s.a, p.a - 1);
        if (s.b > p.b) RevealRow(y, p.b + 1, s.b);
      }
      if (!p.used) {
        p = s;
      } else if (s.a <= p.b + 1 && s.b >= p.a - 1) {
        p.a = std::min(p.a, s.a);
        p.b = std::max(p.b, s.b);
      }
      s.used = false;
    }
    dirty_rows_.clear();
  }

  // ----- The shapes of one frame.
  void DrawShapes() {
    const Coord W = c_.W, H = c_.H;
    switch (shape_) {
      case 1:  // clock sweep
        for (Step j = 1; j <= steps_ && phase_ != -1; ++j) {
          switch (phase_) {
            case 0:
              Line(cx_, cy_, k_, -1);
              if (k_ > W) k_ = 0, phase_ = 1;
              break;
            case 1:
              Line(cx_, cy_, W, k_);
              if (k_ > H) k_ = 0, phase_ = 2;
              break;
            case 2:
              Line(cx_, cy_, W - k_, H);
              if (k_ > W) k_ = 0, phase_ = 3;
              break;
            case 3:
              Line(cx_, cy_, -1, H - k_);
              if (k_ > H) k_ = 0, phase_ = -1;
              break;
            default:
              break;
          }
          ++k_;
        }
        break;
      case 2: {  // circle
        --d_;
        // Beyond this radius every ellipse covers the whole surface: the rest add nothing.
        const Coord cover = W + H + 4;
        Step j = 1;
        for (; j <= steps_ && d_ <= cover; ++j) {
          const double hx = static_cast<double>(W) / 2.0, hy = static_cast<double>(H) / 2.0;
          const auto dd = static_cast<double>(d_);
          Ellipse(RoundHalfEven(hx - dd), RoundHalfEven(hy - dd), RoundHalfEven(hx + dd),
                  RoundHalfEven(hy + dd));
          ++d_;
        }
        if (j <= steps_) d_ += steps_ - j + 1;
        break;
      }
      case 3:  // corner fan: the test comes before the line, so the step that changes the
               // phase still draws, with k = 0
        for (Step j = 1; j <= steps_ && phase_ != -1; ++j) {
          if (phase_ == 0) {
            if (k_ > W) k_ = 0, phase_ = 1;
            Line(0, 0, k_, H);
          } else {
            if (k_ > H) k_ = 0, phase_ = -1;
            Line(0, 0, W, H - k_);
          }
          ++k_;
        }
        break;
      case 4:  // diagonal sweep
        for (Step j = 1; j <= steps_ && phase_ == 0; ++j) {
          ++k_;
          if (k_ == W) phase_ = -1;
          const Coord y = RoundHalfEven(
              static_cast<double>(k_) / static_cast<double>(W) * static_cast<double>(H) + 1.0);
          Line(k_, 0, k_, y);
          Line(W - k_, H, W - k_, H - y);
        }
        break;
      case 5:  // diagonal opening
        for (Step j = 1; j <= steps_ && phase_ == 0; ++j) {
          if (k_ == W) phase_ = -1;
          const Coord y = RoundHalfEven(static_cast<double>(k_) / static_cast<double>(W) *
                                        static_cast<double>(H));
          Line(W - k_, -1, -1, H - y);
          Line(W, y, k_, H);
          ++k_;
        }
        break;
      case 6:  // scissors
        for (Step j = 1; j <= steps_ && phase_ == 0; ++j) {
          if (k_ == W) phase_ = -1;
          Line(0, 0, W - k_, H);
          Line(W, H, k_, -1);
          ++k_;
        }
        break;
      default:
        break;
    }
  }

  struct Span {
    Coord a = 0, b = -1;
    bool used = false;
  };

  Context c_;
  int shape_;
  Step steps_;
  Step limit_ = 0;
  Coord cx_ = 0, cy_ = 0;
  Step d_ = 0;
  Coord k_ = 0;
  int phase_ = 0;
  std::unique_ptr<Surface> mask_, work_;
  std::vector<Span> spans_;
  std::vector<Span> revealed_;  // per row, a run revealed by the circle in earlier frames
  std::vector<Coord> dirty_rows_;
};

}  // namespace

std::unique_ptr<Effect> MaskEffect(const Context& c, int shape, Step steps) {
  return std::make_unique<Mask>(c, shape, steps);
}

}  // namespace dbx::fx
