// The pixel blend transitions, effects 16 to 18 (Part 4.4): soft wipe, cross-fade and soft circle.
// They read the composed pixels of the outgoing and incoming surfaces and write the target's.
//
// Differences from the Part, on our 32-bit pixels: every pixel column is blended (the original's
// loop bound on a 24-bit stride left the last column alone when the width is a multiple of 4), the
// rows are counted from the top, and all four bytes of a pixel are blended.
//
// The plain kernel evaluates the Part's formula at every pixel. The fast one gives the same
// pixels: the soft wipe copies the columns left and right of its soft edge and blends only the
// edge; the cross-fade blends with SSE2; the soft circle finds on each row the span inside the
// circle and the span of its soft rim (the rounded distance only grows away from the centre
// column) and blends only the rim.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "effects/effects_internal.h"
#include "effects/numeric.h"

namespace dbx::fx {

namespace {

class Blend final : public Effect {
 public:
  Blend(const Context& c, int mode, int edge, Step step) : c_(c), mode_(mode), e_(edge), step_(step) {
    const Coord W = c.W, H = c.H;
    switch (mode) {
      case 1: end_ = W + e_; break;
      case 2: end_ = 255; break;
      default: {
        const double diag = std::sqrt(static_cast<double>(W) * static_cast<double>(W) +
                                      static_cast<double>(H) * static_cast<double>(H));
        end_ = RoundHalfEven(diag / 2.0) + e_;
        break;
      }
    }
    g_ = mode == 3 ? 1 : 0;
    cx_ = W / 2;
    cy_ = H / 2;
    alphas_.resize(static_cast<std::size_t>(std::max<Coord>(W, 0)));
  }

  bool Iterate() override {
    if (g_ >= end_) {
      Complete();
      return false;
    }
    if (c_.kernel == Kernel::kPlain) {
      FramePlain();
    } else {
      FrameFast();
    }
    g_ += mode_ == 3 ? 20 : step_;
    return true;
  }

  bool Stopped() override {
    Complete();
    return false;
  }

 private:
  // α of a pixel at `pos` (column for the wipe, distance for the circle) inside the soft edge.
  int EdgeAlpha(Coord pos) const {
    if (e_ == 0) return 255;
    const double v = 255.0 - static_cast<double>(g_ - pos) / static_cast<double>(e_) * 255.0;
    return static_cast<int>(std::clamp<std::int64_t>(RoundHalfEven(v), 0, 255));
  }
  int WipeAlpha(Coord m) const {
    if (m < g_ - e_) return 0;
    if (m <= g_) return EdgeAlpha(m);
    return 255;
  }
  Coord Dist(Coord x, Coord y) const {
    const double dy = static_cast<double>(y - cy_), dx = static_cast<double>(cx_ - x);
    return RoundHalfEven(std::sqrt(dy * dy + dx * dx));
  }
  int CircleAlpha(Coord dist) const {
    if (dist > g_) return 255;
    if (dist < g_ - e_) return 0;
    return EdgeAlpha(dist);
  }

  void FramePlain() {
    const Coord W = c_.W, H = c_.H;
    const int fade = static_cast<int>(std::clamp<Step>(255 - g_, 0, 255));
    for (Coord y = 0; y < H; ++y) {
      Pixel* t = c_.target.Row(static_cast<int>(y));
      const Pixel* o = c_.outgoing.Row(static_cast<int>(y));
      const Pixel* n = c_.incoming.Row(static_cast<int>(y));
      for (Coord x = 0; x < W; ++x) {
        int a;
        if (mode_ == 1) {
          if (x < g_ - e_) {
            t[x] = n[x];
            continue;
          }
          if (x > g_) {
            t[x] = o[x];
            continue;
          }
          a = EdgeAlpha(x);
        } else if (mode_ == 2) {
          a = fade;
        } else {
          a = CircleAlpha(Dist(x, y));
        }
        t[x] = BlendPixel(o[x], n[x], a);
      }
    }
  }

  void FrameFast() {
    const Coord W = c_.W, H = c_.H;
    if (W <= 0 || H <= 0) return;
    const int w = static_cast<int>(W);
    if (mode_ == 2) {
      const int a = static_cast<int>(std::clamp<Step>(255 - g_, 0, 255));
      for (Coord y = 0; y < H; ++y) {
        BlendRow(c_.target.Row(static_cast<int>(y)), c_.outgoing.Row(static_cast<int>(y)),
                 c_.incoming.Row(static_cast<int>(y)), w, a, Kernel::kFast);
      }
      return;
    }
    if (mode_ == 1) {
      // [0, a) incoming; [a, b] soft edge; (b, W) outgoing.
      const Coord a = std::clamp<Coord>(g_ - e_, 0, W);
      const Coord b = std::clamp<Coord>(g_, -1, W - 1);
      for (Coord x = a; x <= b; ++x) alphas_[static_cast<std::size_t>(x)] = static_cast<std::uint8_t>(EdgeAlpha(x));
      for (Coord y = 0; y < H; ++y) {
        Pixel* t = c_.target.Row(static_cast<int>(y));
        const Pixel* o = c_.outgoing.Row(static_cast<int>(y));
        const Pixel* n = c_.incoming.Row(static_cast<int>(y));
        if (a > 0) std::memcpy(t, n, static_cast<std::size_t>(a) * sizeof(Pixel));
        if (b >= a) {
          BlendRowAlphas(t + a, o + a, n + a, alphas_.data() + a, static_cast<int>(b - a + 1), Kernel::kFast);
        }
        const Coord r0 = std::max(a, b + 1);
        if (r0 < W) std::memcpy(t + r0, o + r0, static_cast<std::size_t>(W - r0) * sizeof(Pixel));
      }
      return;
    }
    // Soft circle.
    const Coord reach = std::max(cx_, W - 1 - cx_);
    for (Coord y = 0; y < H; ++y) {
      Pixel* t = c_.target.Row(static_cast<int>(y));
      const Pixel* o = c_.outgoing.Row(static_cast<int>(y));
      const Pixel* n = c_.incoming.Row(static_cast<int>(y));
      // Largest offset k from the centre column with dist <= g (inside) and with dist < g − e
      // (fully incoming); −1 when none. The distance never shrinks as k grows.
      const Coord kin_out = LastOffset(y, reach, [&](Coord dist) { return dist <= g_; });
      const Coord kin_in = LastOffset(y, reach, [&](Coord dist) { return dist < g_ - e_; });
      Segment(t, o, n, y, 0, W, kin_out, kin_in);
    }
  }

  template <class Pred>
  Coord LastOffset(Coord y, Coord reach, Pred pred) const {
    if (!pred(Dist(cx_, y))) return -1;
    Coord lo = 0, hi = reach;  // pred(lo) holds
    while (lo < hi) {
      const Coord mid = lo + (hi - lo + 1) / 2;
      if (pred(Dist(cx_ + mid, y))) {
        lo = mid;
      } else {
        hi = mid - 1;
      }
    }
    return lo;
  }

  void Segment(Pixel* t, const Pixel* o, const Pixel* n, Coord y, Coord x0, Coord x1, Coord kout,
               Coord kin) {
    // Columns with |x − cx| <= kin: incoming; <= kout: blended; beyond: outgoing.
    auto copy = [&](const Pixel* src, Coord a, Coord b) {  // [a, b)
      a = std::max(a, x0);
      b = std::min(b, x1);
      if (b > a) std::memcpy(t + a, src + a, static_cast<std::size_t>(b - a) * sizeof(Pixel));
    };
    auto blend = [&](Coord a, Coord b) {
      a = std::max(a, x0);
      b = std::min(b, x1);
      if (b <= a) return;
      for (Coord x = a; x < b; ++x) alphas_[static_cast<std::size_t>(x)] = static_cast<std::uint8_t>(CircleAlpha(Dist(x, y)));
      BlendRowAlphas(t + a, o + a, n + a, alphas_.data() + a, static_cast<int>(b - a), Kernel::kFast);
    };
    if (kout < 0) {
      copy(o, x0, x1);
      return;
    }
    const Coord ol = cx_ - kout, orr = cx_ + kout + 1;  // [ol, orr) inside the circle
    copy(o, x0, ol);
    if (kin < 0) {
      blend(ol, orr);
    } else {
      const Coord il = cx_ - kin, ir = cx_ + kin + 1;
      blend(ol, il);
      copy(n, il, ir);
      blend(ir, orr);
    }
    copy(o, orr, x1);
  }

  // Completion (also after a stop): the target takes the incoming picture, the incoming surface
  // the outgoing one and the outgoing surface the incoming one.
  void Complete() {
    if (!done_) {
      done_ = true;
      const Coord W = c_.W, H = c_.H;
      PictureBox* tb = c_.target_box;
      PictureBox* ib = c_.incoming_box;
      PictureBox* ob = c_.outgoing_box;
      CopyRect(tb->Image(), 0, 0, W, H, ib->Image(), 0, 0);
      CopyRect(ib->Image(), 0, 0, W, H, ob->Image(), 0, 0);
      CopyRect(ob->Image(), 0, 0, W, H, tb->Image(), 0, 0);
    }
    *c_.running = false;
  }

  Context c_;
  int mode_;
  Coord e_;
  Step step_;
  Step end_ = 0;
  Step g_ = 0;
  Coord cx_ = 0, cy_ = 0;
  bool done_ = false;
  std::vector<std::uint8_t> alphas_;
};

}  // namespace

std::unique_ptr<Effect> BlendEffect(const Context& c, int mode, int edgeWidth, Step step) {
  return std::make_unique<Blend>(c, mode, edgeWidth, step);
}

}  // namespace dbx::fx
