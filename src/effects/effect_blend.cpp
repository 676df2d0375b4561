// The pixel blend transitions, effects 16 to 18: soft wipe, cross-fade and soft circle.
// They read the composed pixels of the outgoing and incoming surfaces and write the target's.
//
// On our 32-bit pixels every pixel column is blended, the last one included, the rows are counted
// from the top, and all four bytes of a pixel are blended.
//
// The plain kernel evaluates the blend formula at every pixel. The fast one gives the same
// pixels: the soft wipe copies the columns left and right of its soft edge and blends only the
// edge; the cross-fade blends with SSE2; the soft circle finds on each row, with integer square
// roots, the span inside the circle and the span of its soft rim (the rounded distance of
// v = dx² + dy² is at most d exactly when v <= d² + d), copies the rest and blends only the rim,
// stepping the distance along it without a square root per pixel.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "core/side_worker.h"
#include "effects/effects_internal.h"
#include "effects/numeric.h"

namespace dbx::fx {

namespace {

// Frames of this many pixels or more are blended by two threads.
constexpr int kSplitPixels = 1 << 20;

class Blend final : public Effect {
 public:
  Blend(const Context& c, int mode, int edge, Step step)
      : c_(c), mode_(mode), e_(edge), step_(step) {
    const Coord W = c.W, H = c.H;
    switch (mode) {
      case 1:
        end_ = W + e_;
        break;
      case 2:
        end_ = 255;
        // The side thread sleeps between jobs; a first job now has it awake (it waits a while
        // for the next) when the first frame splits its blend.
        if (W * H >= kSplitPixels && SideWorker::Shared().Parallel())
          SideWorker::Shared().Split([] {}, [] {});
        break;
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
    // The fast soft wipe and soft circle write only what changes, and say what.
    if (c.kernel == Kernel::kFast && mode != 2) TrackChanges(W, H);
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
    drawn_ = true;
    prev_g_ = g_;
    g_ += mode_ == 3 ? 20 : step_;
    return true;
  }

  void Stopped() override { Complete(); }

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
      if (c_.target.stride() == W && c_.outgoing.stride() == W && c_.incoming.stride() == W &&
          W * H <= INT32_MAX) {
        // Three contiguous pictures: one row of W × H pixels, so that the streamed stores fill
        // whole cache lines also where one row ends and the next begins.
        Pixel* t = c_.target.Row(0);
        const Pixel* o = c_.outgoing.Row(0);
        const Pixel* n = c_.incoming.Row(0);
        const int count = static_cast<int>(W * H);
        // A large frame is blended in two halves, one on the side thread: the blend waits on
        // memory, and two cores draw more of it than one.
        if (count >= kSplitPixels && SideWorker::Shared().Parallel()) {
          const int half = count / 2 / 16 * 16;  // whole cache lines on either side
          SideWorker::Shared().Split(
              [&] { BlendRow(t, o, n, half, a, Kernel::kFast); },
              [&] { BlendRow(t + half, o + half, n + half, count - half, a, Kernel::kFast); });
          return;
        }
        BlendRow(t, o, n, count, a, Kernel::kFast);
        return;
      }
      for (Coord y = 0; y < H; ++y) {
        BlendRow(c_.target.Row(static_cast<int>(y)), c_.outgoing.Row(static_cast<int>(y)),
                 c_.incoming.Row(static_cast<int>(y)), w, a, Kernel::kFast);
      }
      return;
    }
    if (mode_ == 1) {
      // [0, a) incoming; [a, b] soft edge; (b, W) outgoing. After a first full frame, while the
      // edge only moves right, the columns left of the previous edge already hold the incoming
      // picture and those right of the new edge still hold the outgoing one: only the columns
      // from the previous edge's left end to the new edge's right end are written.
      const Coord a = std::clamp<Coord>(g_ - e_, 0, W);
      const Coord b = std::clamp<Coord>(g_, -1, W - 1);
      const bool partial = drawn_ && g_ >= prev_g_;
      const Coord from = partial ? std::clamp<Coord>(prev_g_ - e_, 0, W) : 0;
      const Coord to = partial ? b + 1 : W;  // columns [from, to)
      for (Coord x = a; x <= b; ++x)
        alphas_[static_cast<std::size_t>(x)] = static_cast<std::uint8_t>(EdgeAlpha(x));
      Changes(from, 0, to - from, H);
      for (Coord y = 0; y < H; ++y) {
        Pixel* t = c_.target.Row(static_cast<int>(y));
        const Pixel* o = c_.outgoing.Row(static_cast<int>(y));
        const Pixel* n = c_.incoming.Row(static_cast<int>(y));
        const Coord in_end = std::min(a, to);
        if (in_end > from)
          std::memcpy(t + from, n + from, static_cast<std::size_t>(in_end - from) * sizeof(Pixel));
        const Coord ea = std::max(a, from), eb = std::min(b, to - 1);
        if (eb >= ea) {
          BlendRowAlphas(t + ea, o + ea, n + ea, alphas_.data() + ea, static_cast<int>(eb - ea + 1),
                         Kernel::kFast);
        }
        const Coord r0 = std::max({a, b + 1, from});
        if (r0 < to) std::memcpy(t + r0, o + r0, static_cast<std::size_t>(to - r0) * sizeof(Pixel));
      }
      return;
    }
    // Soft circle. With v = dy² + dx² (whole numbers), the rounded distance is at most d exactly
    // when v <= d² + d, so each row's spans follow from integer square roots, and the distance
    // along the rim grows step by step.
    std::vector<std::uint8_t> lut(static_cast<std::size_t>(std::max<Coord>(e_, 0)) + 1);
    for (Coord j = 0; j <= e_; ++j)
      lut[static_cast<std::size_t>(j)] = static_cast<std::uint8_t>(EdgeAlpha(g_ - j));
    // After the first frame (the radius only grows) the pixels already inside the previous
    // frame's incoming disc, and those outside the new rim, keep their values.
    const bool partial = drawn_ && g_ >= prev_g_;
    // A row and its mirror across the centre row have the same spans and rim: drawn together,
    // with the rim's alphas found once. (Not the first frame, which writes every row: in order,
    // the rows are read the way the processor fetches ahead by itself.)
    for (Coord y = 0; y < H; ++y) {
      const Coord mirror = partial ? 2 * cy_ - y : y;
      if (mirror >= 0 && mirror < y) continue;
      const Coord dy2 = (y - cy_) * (y - cy_);
      const Coord kout = MaxOffset(g_, dy2);          // dist <= g
      const Coord kin = MaxOffset(g_ - e_ - 1, dy2);  // dist < g − e
      const Coord kprev = partial ? MaxOffset(prev_g_ - e_ - 1, dy2) : -1;
      for (int i = 0; i < 2; ++i) {
        const Coord row = i == 0 ? y : mirror;
        if (i == 1 && (mirror == y || mirror < 0 || mirror >= H)) break;
        const int r = static_cast<int>(row);
        CircleRow(row, c_.target.Row(r), c_.outgoing.Row(r), c_.incoming.Row(r), dy2, kout, kin,
                  kprev, !partial, lut, /*alphasFound=*/i == 1);
      }
    }
  }

  // Largest k >= 0 with round(sqrt(dy2 + k²)) <= d, or −1.
  static Coord MaxOffset(Coord d, Coord dy2) {
    if (d < 0) return -1;
    const __int128 lim = static_cast<__int128>(d) * d + d - dy2;
    if (lim < 0) return -1;
    return ISqrt(static_cast<Coord>(std::min<__int128>(lim, INT64_MAX / 4)));
  }
  void CircleRow(Coord y, Pixel* t, const Pixel* o, const Pixel* n, Coord dy2, Coord kout,
                 Coord kin, Coord kprev, bool full, const std::vector<std::uint8_t>& lut,
                 bool alphasFound) {
    const Coord W = c_.W;
    auto copy = [&](const Pixel* src, Coord a, Coord b) {  // [a, b) clipped
      a = std::max<Coord>(a, 0);
      b = std::min<Coord>(b, W);
      if (b <= a) return;
      Changes(a, y, b - a, 1);
      std::memcpy(t + a, src + a, static_cast<std::size_t>(b - a) * sizeof(Pixel));
    };
    if (kout < 0) {
      if (full) copy(o, 0, W);
      return;
    }
    // Only the visible offsets matter.
    kout = std::min<Coord>(kout, std::max<Coord>(cx_, W - 1 - cx_));
    const Coord ol = cx_ - kout, orr = cx_ + kout + 1;  // [ol, orr): inside the circle
    if (full) {
      copy(o, 0, ol);
      copy(o, orr, W);
    }
    kin = std::min(kin, kout);
    if (kin > kprev) {
      if (kprev < 0) {
        copy(n, cx_ - kin, cx_ + kin + 1);
      } else {
        copy(n, cx_ - kin, cx_ - kprev);
        copy(n, cx_ + kprev + 1, cx_ + kin + 1);
      }
    }
    const Coord k0 = kin + 1;  // the rim: kin < |x − cx| <= kout
    if (k0 > kout) return;
    // The rim's alphas (unless found for the mirror row).
    if (!alphasFound) {
      RimAlphas(alphas_.data(), std::max<Coord>(ol, 0), std::min<Coord>(cx_ - kin, W), cx_, dy2, g_,
                e_, lut.data(), Kernel::kFast);
      RimAlphas(alphas_.data(), std::max<Coord>(cx_ + kin + 1, 0), std::min<Coord>(orr, W), cx_,
                dy2, g_, e_, lut.data(), Kernel::kFast);
    }
    auto blend = [&](Coord a, Coord b) {
      a = std::max<Coord>(a, 0);
      b = std::min<Coord>(b, W);
      if (b <= a) return;
      Changes(a, y, b - a, 1);
      BlendRowAlphas(t + a, o + a, n + a, alphas_.data() + a, static_cast<int>(b - a),
                     Kernel::kFast);
    };
    blend(ol, cx_ - kin);
    blend(cx_ + kin + 1, orr);
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
      Surface& ts = tb->ImageSurface();
      Surface& is = ib->ImageSurface();
      Surface& os = ob->ImageSurface();
      if (ts.size() == Size{static_cast<int>(W), static_cast<int>(H)} && is.size() == ts.size() &&
          os.size() == ts.size() && &ts != &is && &is != &os && &ts != &os) {
        // The same exchange with one copy: the pixel buffers change hands.
        std::swap(ts, is);  // target: incoming; incoming: the old target's buffer
        std::swap(is, os);  // incoming: outgoing; outgoing: the old target's buffer
        CopyRectStreamed(os.View(), 0, 0, W, H, ts.View(), 0, 0);
      } else {
        CopyRect(tb->Image(), 0, 0, W, H, ib->Image(), 0, 0);
        CopyRect(ib->Image(), 0, 0, W, H, ob->Image(), 0, 0);
        CopyRect(ob->Image(), 0, 0, W, H, tb->Image(), 0, 0);
      }
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
  bool drawn_ = false;  // a frame has been drawn (the fast kernel then writes only what changes)
  Step prev_g_ = 0;
  std::vector<std::uint8_t> alphas_;
};

}  // namespace

std::unique_ptr<Effect> BlendEffect(const Context& c, int mode, int edgeWidth, Step step) {
  return std::make_unique<Blend>(c, mode, edgeWidth, step);
}

}  // namespace dbx::fx
