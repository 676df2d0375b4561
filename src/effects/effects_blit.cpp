// The rectangle-copy and stretch transitions, effects 0 to 9. Each object holds the
// state of its frame loop; Iterate() is one iteration. Only the parameter values that the effect
// table passes are implemented (edge 8, direction 1, strip width 1, first parity True, one step per
// frame, outgoing squeezed); other values behave as those.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <utility>
#include <vector>

#include "effects/effects_internal.h"
#include "effects/numeric.h"
#include "effects/trans_effects.h"

namespace dbx::fx {

namespace {

std::atomic<std::size_t> inPlaceBytes{std::size_t{16} << 20};

class BlitBase : public Effect {
 public:
  explicit BlitBase(const Context& c) : c_(c) { TrackChanges(c.W, c.H); }

 protected:
  // (What the copies write counts as changed; a transition that writes otherwise says so.)
  void Copy(Coord x, Coord y, Coord w, Coord h) {
    Changes(x, y, w, h);
    CopyRect(c_.target, x, y, w, h, c_.incoming, x, y);
  }
  // Whether the transitions that can work within the target alone do: where the target stays in
  // the cache from one frame to the next (a frame of 1920 x 1080, not one of 3840 x 2160). A
  // larger frame goes to memory either way, and is copied from the pictures with streaming
  // stores.
  bool InPlaceFits() const {
    return c_.kernel == Kernel::kFast &&
           c_.W * c_.H <= static_cast<Step>(inPlaceBytes.load() / sizeof(Pixel));
  }
  void CopyFrom(SurfaceView src, Coord sx, Coord sy, Coord w, Coord h, Coord dx, Coord dy) {
    Changes(dx, dy, w, h);
    CopyRectStreamed(c_.target, dx, dy, w, h, src, sx, sy);
  }
  // The end of a transition that only ever adds incoming pixels: the plain kernel copies the
  // whole incoming picture; the fast one has `rest` copy only what the frames have not drawn yet.
  template <class Rest>
  void FinishAdding(Rest&& rest) {
    if (c_.kernel == Kernel::kFast) {
      *c_.running = false;
      rest();
    } else {
      c_.Finish();
    }
  }
  Context c_;
};

// ----- Effect 0: a band growing from the right edge.
class Wipe final : public BlitBase {
 public:
  Wipe(const Context& c, Step step) : BlitBase(c), step_(step) {}
  bool Iterate() override {
    if (n_ >= c_.W) {
      FinishAdding([this] { Copy(0, 0, c_.W - drawn_, c_.H); });
      return false;
    }
    if (c_.kernel == Kernel::kFast) {
      if (n_ > drawn_) Copy(c_.W - n_, 0, n_ - drawn_, c_.H);
      drawn_ = std::max(drawn_, n_);
    } else {
      Copy(c_.W - n_, 0, n_, c_.H);
    }
    n_ += step_;
    return true;
  }

 private:
  Step step_;
  Step n_ = 0;
  Step drawn_ = 0;  // the largest n drawn so far
};

// ----- Effects 1 and 2: two bands from the edges to the middle, or from the middle outwards.
class CloseOpen final : public BlitBase {
 public:
  CloseOpen(const Context& c, bool open, int orientation, Step step)
      : BlitBase(c), open_(open), vertical_(orientation != 2), step_(step) {
    half_ = RoundHalfEven(static_cast<double>(vertical_ ? c.H : c.W) / 2.0);
  }
  bool Iterate() override {
    const Coord W = c_.W, H = c_.H;
    if (n_ >= half_) {
      FinishAdding([&] {
        // The rows (columns) between the bands drawn so far, or outside them.
        const Step d = drawn_, e = vertical_ ? H : W;
        if (!open_) {
          if (vertical_) {
            Copy(0, d, W, e - 2 * d);
          } else {
            Copy(d, 0, e - 2 * d, H);
          }
        } else if (vertical_) {
          Copy(0, 0, W, half_ - d);
          Copy(0, half_ + d, W, e - half_ - d);
        } else {
          Copy(0, 0, half_ - d, H);
          Copy(half_ + d, 0, e - half_ - d, H);
        }
      });
      return false;
    }
    if (c_.kernel == Kernel::kFast) {
      // Only the strips between the previous bands and this frame's.
      const Step d = drawn_, n = n_;
      if (n > d) {
        if (!open_) {
          if (vertical_) {
            Copy(0, d, W, n - d);
            Copy(0, H - n, W, n - d);
          } else {
            Copy(d, 0, n - d, H);
            Copy(W - n, 0, n - d, H);
          }
        } else {
          if (vertical_) {
            Copy(0, half_ - n, W, n - d);
            Copy(0, half_ + d, W, n - d);
          } else {
            Copy(half_ - n, 0, n - d, H);
            Copy(half_ + d, 0, n - d, H);
          }
        }
      }
      drawn_ = std::max(drawn_, n_);
      n_ += step_;
      return true;
    }
    if (!open_) {
      if (vertical_) {
        Copy(0, 0, W, n_);
        Copy(0, H - n_, W, n_);
      } else {
        Copy(0, 0, n_, H);
        Copy(W - n_, 0, n_, H);
      }
    } else {
      if (vertical_) {
        Copy(0, half_ - n_, W, n_);
        Copy(0, half_, W, n_);
      } else {
        Copy(half_ - n_, 0, n_, H);
        Copy(half_, 0, n_, H);
      }
    }
    n_ += step_;
    return true;
  }

 private:
  bool open_;
  bool vertical_;
  Step step_;
  Step half_ = 0;
  Step n_ = 0;
  Step drawn_ = 0;
};

// ----- Effect 3: the incoming picture grows from the left, squeezed; the outgoing one is
// squeezed into the rest.
class StretchPush final : public BlitBase {
 public:
  StretchPush(const Context& c, Step step, int extra)
      : BlitBase(c),
        step_(step),
        steps_per_frame_(std::max(extra, 0) + 1),
        in_(c.incoming, 0, 0, c.W, c.H, Axis::kHorizontal, c.kernel),
        out_(c.outgoing, 0, 0, c.W, c.H, Axis::kHorizontal, c.kernel) {}
  bool Iterate() override {
    ChangesAll();
    for (int s = 0; s < steps_per_frame_; ++s) {
      if (n_ >= c_.W) {
        c_.Finish();
        return false;
      }
      in_.Draw(c_.target, 0, 0, n_, c_.H, c_.kernel);
      out_.Draw(c_.target, n_, 0, c_.W - n_, c_.H, c_.kernel);
      n_ += step_;
    }
    return true;
  }

 private:
  Step step_;
  int steps_per_frame_;
  AxisStretcher in_, out_;
  Step n_ = 0;
};

// ----- Effect 4: the incoming picture's halves close in from both edges like doors, squeezed;
// the outgoing picture is squeezed between them.
class StretchDoors final : public BlitBase {
 public:
  StretchDoors(const Context& c, int orientation, Step step, int extra)
      : BlitBase(c),
        vertical_(orientation != 2),
        step_(step),
        steps_per_frame_(std::max(extra, 0) + 1),
        half_(vertical_ ? c.H / 2 : c.W / 2) {
    const Axis axis = vertical_ ? Axis::kVertical : Axis::kHorizontal;
    if (vertical_) {
      first_ = AxisStretcher(c.incoming, 0, 0, c.W, half_, axis, c.kernel);
      second_ = AxisStretcher(c.incoming, 0, half_, c.W, half_, axis, c.kernel);
    } else {
      first_ = AxisStretcher(c.incoming, 0, 0, half_, c.H, axis, c.kernel);
      second_ = AxisStretcher(c.incoming, half_, 0, half_, c.H, axis, c.kernel);
    }
    out_ = AxisStretcher(c.outgoing, 0, 0, c.W, c.H, axis, c.kernel);
  }
  bool Iterate() override {
    const Coord W = c_.W, H = c_.H;
    ChangesAll();
    for (int s = 0; s < steps_per_frame_; ++s) {
      if (n_ >= half_) {
        c_.Finish();
        return false;
      }
      if (vertical_) {
        first_.Draw(c_.target, 0, 0, W, n_, c_.kernel);
        // One row above the bottom edge (H − n − 1), as the effect is drawn.
        second_.Draw(c_.target, 0, H - n_ - 1, W, n_, c_.kernel);
        out_.Draw(c_.target, 0, n_, W, H - 2 * n_, c_.kernel);
      } else {
        first_.Draw(c_.target, 0, 0, n_, H, c_.kernel);
        second_.Draw(c_.target, W - n_, 0, n_, H, c_.kernel);
        out_.Draw(c_.target, n_, 0, W - 2 * n_, H, c_.kernel);
      }
      n_ += step_;
    }
    return true;
  }

 private:
  bool vertical_;
  Step step_;
  int steps_per_frame_;
  Coord half_;
  AxisStretcher first_, second_, out_;
  Step n_ = 0;
};

// ----- Effect 5: one-pixel columns (rows) in a shuffled order, lines + 1 per frame.
class RandomLines final : public BlitBase {
 public:
  RandomLines(const Context& c, int orientation, Step lines, const std::function<double()>& rnd)
      : BlitBase(c), columns_(orientation != 2), per_frame_(lines + 1) {
    n_ = columns_ ? c.W : c.H;
    order_.resize(static_cast<std::size_t>(n_) + 1);
    for (Coord i = 0; i <= n_; ++i) order_[static_cast<std::size_t>(i)] = i;
    for (int pass = 0; pass < 3; ++pass) {
      for (Coord j = 1; j <= n_; ++j) {
        Coord k = RoundHalfEven(rnd() * static_cast<double>(n_));
        k = std::clamp<Coord>(k, 0, n_);
        std::swap(order_[static_cast<std::size_t>(k)], order_[static_cast<std::size_t>(j)]);
      }
    }
  }
  bool Iterate() override {
    const bool batch = c_.kernel == Kernel::kFast && columns_ && per_frame_ >= 32 && c_.H > 1;
    if (batch) flags_.assign(static_cast<std::size_t>(c_.W), 0);
    bool end = false;
    for (Step l = 0; l < per_frame_; ++l) {
      if (i_ >= n_) {
        end = true;
        break;
      }
      Line(order_[static_cast<std::size_t>(i_)], batch);
      ++i_;
    }
    if (end && c_.kernel != Kernel::kFast) {
      c_.Finish();
      return false;
    }
    // The order holds every line once among its n + 1 entries, so at the end only the last
    // entry's line is still to be copied.
    if (end) Line(order_[static_cast<std::size_t>(n_)], batch);
    if (batch) {
      ChangesAll();
      // Many columns at once: one pass over the rows instead of one per column.
      for (Coord y = 0; y < c_.H; ++y) {
        CopyFlagged(c_.target.Row(static_cast<int>(y)), c_.incoming.Row(static_cast<int>(y)),
                    flags_.data(), static_cast<int>(c_.W));
      }
    }
    if (end) *c_.running = false;
    return !end;
  }
  const std::vector<Coord>& Order() const { return order_; }

 private:
  void Line(Coord v, bool batch) {
    if (!columns_) {
      Copy(0, v, c_.W, 1);
    } else if (batch) {
      if (v >= 0 && v < c_.W) flags_[static_cast<std::size_t>(v)] = 1;
    } else {
      Copy(v, 0, 1, c_.H);
    }
  }

  bool columns_;
  Step per_frame_;
  Coord n_ = 0;
  Coord i_ = 0;
  std::vector<Coord> order_;
  std::vector<std::uint8_t> flags_;
};

// ----- Effects 6 and 7: one-pixel strips of alternating parity from opposite edges.
class Comb final : public BlitBase {
 public:
  Comb(const Context& c, bool slide, int orientation, Step step)
      : BlitBase(c), slide_(slide), vertical_(orientation != 2), step_(step) {
    // The ring that the vertical slide moves in place with, made (and its memory first touched)
    // before the first frame rather than in the middle of the transition.
    if (slide_ && vertical_ && c.kernel == Kernel::kFast && step_ > 0 && RingFits(step_))
      ring_.resize(static_cast<std::size_t>(step_) * HalfRow());
  }
  bool Iterate() override {
    const Coord W = c_.W, H = c_.H;
    if (n_ >= (vertical_ ? H : W)) {
      const Coord end = vertical_ ? H : W;
      if (slide_ && MovesInPlace(end - slid_)) {
        // The whole incoming picture is the slide at full length: the last frame moved on by
        // what it lacked.
        *c_.running = false;
        SlideInPlace(end, end - slid_);
      } else if (slide_) {
        c_.Finish();
      } else {
        // The reveal: its strips at full length give what is left.
        FinishAdding([this, W, H] {
          if (vertical_) {
            FastColumns(H);
          } else {
            FastRows(W);
          }
        });
      }
      return false;
    }
    if (slide_ && slid_ >= 0 && n_ - slid_ == step_ && MovesInPlace(step_)) {
      SlideInPlace(n_, step_);
    } else if (vertical_ && c_.kernel == Kernel::kFast) {
      FastColumns(n_);
    } else if (!slide_ && c_.kernel == Kernel::kFast) {
      FastRows(n_);
    } else if (c_.kernel == Kernel::kFast) {
      SlideRows(n_);
    } else {
      bool parity = true;
      if (vertical_) {
        for (Coord x = 0; x <= W; ++x) {
          if (!slide_) {
            if (parity)
              Copy(x, 0, 1, n_);
            else
              Copy(x, H - n_, 1, n_);
          } else {
            if (parity)
              CopyFrom(c_.incoming, x, H - n_, 1, n_, x, 0);
            else
              CopyFrom(c_.incoming, x, 0, 1, n_, x, H - n_);
          }
          parity = !parity;
        }
      } else {
        for (Coord y = 0; y <= H; ++y) {
          if (!slide_) {
            if (parity)
              Copy(0, y, n_, 1);
            else
              Copy(W - n_, y, n_, 1);
          } else {
            if (parity)
              CopyFrom(c_.incoming, W - n_, y, n_, 1, 0, y);
            else
              CopyFrom(c_.incoming, 0, y, n_, 1, W - n_, y);
          }
          parity = !parity;
        }
      }
    }
    drawn_ = std::max(drawn_, n_);
    slid_ = slide_ && c_.kernel == Kernel::kFast ? n_ : -1;
    n_ += step_;
    return true;
  }

 private:
  // The slide at n from the frame s before it, which the target holds: each strip is the same
  // strip of that frame moved s on, with s new rows (columns) at its start. The frames then work
  // in the target alone, which stays in the cache, and write through it.
  // A target too large for the cache moves in place too when the slide is vertical: reading and
  // writing each row of the target once (the rows it takes from lie a step away, still in the
  // cache) costs less than reading the two far apart rows of the incoming picture it is made of.
  bool MovesInPlace(Step s) const {
    if (slid_ < 0 || s <= 0 || c_.kernel != Kernel::kFast) return false;
    if (!InPlaceFits() && !vertical_) return false;
    return !vertical_ || RingFits(s);
  }
  // The vertical slide keeps the even pixels of the rows it moves down in a ring of s rows, of
  // half a row each.
  std::size_t HalfRow() const { return static_cast<std::size_t>(c_.W + 1) / 2; }
  bool RingFits(Step s) const {
    return static_cast<std::size_t>(s) * HalfRow() <= kRingBytes / sizeof(Pixel);
  }
  void SlideInPlace(Coord n, Coord s) {
    if (vertical_)
      SlideColumnsInPlace(n, s);
    else
      SlideRowsInPlace(n, s);
  }

  // Even rows: [0, n) shows the incoming row's [W − n, W): the part shown one step before moves
  // right. Odd rows: [W − n, W) shows the incoming row's [0, n): the part shown moves left.
  void SlideRowsInPlace(Coord n, Coord s) {
    const Coord W = c_.W, H = c_.H;
    Changes(0, 0, n, H);
    Changes(W - n, 0, n, H);
    const auto bytes = [](Coord px) { return static_cast<std::size_t>(px) * sizeof(Pixel); };
    for (Coord y = 0; y < H; ++y) {
      Pixel* d = c_.target.Row(static_cast<int>(y));
      const Pixel* in = c_.incoming.Row(static_cast<int>(y));
      if (y % 2 == 0) {
        std::memmove(d + s, d, bytes(n - s));
        std::memcpy(d, in + W - n, bytes(s));
      } else {
        std::memmove(d + W - n, d + W - n + s, bytes(n - s));
        std::memcpy(d + W - s, in + n - s, bytes(s));
      }
    }
  }

  // Even columns: rows [0, n) show the incoming rows from H − n, the rows shown s before moved
  // down. Odd columns: rows [H − n, H) show the incoming rows from 0, the rows shown moved up.
  // Top down, a row's odd columns come from a row not written yet; its even ones come from the
  // ring, which holds the old even pixels of the s rows above (packed, half a row each), and it
  // leaves its own old even pixels there.
  void SlideColumnsInPlace(Coord n, Coord s) {
    const Coord W = c_.W, H = c_.H;
    const int w = static_cast<int>(W);
    const std::size_t half = HalfRow();
    ring_.resize(static_cast<std::size_t>(s) * half);
    auto slot = [&](Coord y) { return ring_.data() + static_cast<std::size_t>(y % s) * half; };
    Changes(0, 0, W, std::min(n, H));
    Changes(0, H - n, W, n);
    for (Coord y = 0; y < H; ++y) {
      const bool even = y < n, odd = y >= H - n;
      if (!even && !odd) continue;
      Pixel* d = c_.target.Row(static_cast<int>(y));
      const Pixel* e = d;
      bool packed = false;
      if (even) {
        packed = y >= s;
        e = packed ? slot(y) : c_.incoming.Row(static_cast<int>(y + H - n));
      }
      const Pixel* o = d;
      if (odd)
        o = y + s < H ? c_.target.Row(static_cast<int>(y + s))
                      : c_.incoming.Row(static_cast<int>(y - (H - n)));
      // (Its even columns move to row y + s.)
      MergeAlternateRing(d, e, packed, o, y < n - s ? slot(y) : nullptr, w);
    }
  }

  static constexpr std::size_t kRingBytes = std::size_t{4} << 20;
  // Horizontal strips of the reveal at length n: only what they add to those drawn at drawn_.
  void FastRows(Coord n) {
    const Coord W = c_.W, H = c_.H;
    if (n <= drawn_) return;
    bool parity = true;
    for (Coord y = 0; y <= H; ++y) {
      if (parity)
        Copy(drawn_, y, n - drawn_, 1);
      else
        Copy(W - n, y, n - drawn_, 1);
      parity = !parity;
    }
  }

  // Horizontal strips of the slide at length n: even rows show the incoming row's last n pixels
  // at the left edge, odd ones its first n at the right edge; one streamed copy of them all.
  void SlideRows(Coord n) {
    const Coord W = c_.W, H = c_.H;
    Changes(0, 0, n, H);
    Changes(W - n, 0, n, H);
    spans_.clear();
    for (Coord y = 0; y < H; ++y) {
      if (y % 2 == 0)
        spans_.push_back({y, W - n, 0, n});
      else
        spans_.push_back({y, 0, W - n, n});
    }
    CopyRowSpansStreamed(c_.target, c_.incoming, spans_);
  }

  // The columns at length n row by row: even columns (parity True) cover the rows [0, n), odd
  // ones [H − n, H), each from its own source row.
  void FastColumns(Coord n) {
    const Coord W = c_.W, H = c_.H;
    if (n <= 0 || W <= 0) return;
    const int w = static_cast<int>(W);
    // The reveal adds even columns on rows [drawn, n) and odd ones on rows [H − n, H − drawn).
    const Coord from = slide_ ? 0 : drawn_;
    if (!slide_ && n <= from) return;
    if (slide_) {
      ChangesAll();
    } else {
      Changes(0, from, W, n - from);
      Changes(0, H - n, W, n - from);
    }
    for (Coord y = 0; y < H; ++y) {
      if (!slide_ && !(y >= from && y < n) && !(y >= H - n && y < H - from)) continue;
      // Source rows: for the reveal the same row; for the slide the even columns show row
      // y + H − n and the odd ones row y − (H − n).
      const Coord se = slide_ ? y + H - n : y;
      const Coord so = slide_ ? y - (H - n) : y;
      const bool even = y >= from && y < n && se >= 0 && se < H;
      const bool odd = y >= H - n && y < H - from && so >= 0 && so < H;
      Pixel* d = c_.target.Row(static_cast<int>(y));
      if (even && odd) {
        if (se == so) {
          std::memcpy(d, c_.incoming.Row(static_cast<int>(se)),
                      static_cast<std::size_t>(w) * sizeof(Pixel));
        } else {
          MergeAlternate(d, c_.incoming.Row(static_cast<int>(se)),
                         c_.incoming.Row(static_cast<int>(so)), w, Kernel::kFast, false);
        }
      } else if (even) {
        CopyAlternate(d, c_.incoming.Row(static_cast<int>(se)), w, 0, Kernel::kFast);
      } else if (odd) {
        CopyAlternate(d, c_.incoming.Row(static_cast<int>(so)), w, 1, Kernel::kFast);
      }
    }
    StreamFence();
  }

  bool slide_;
  bool vertical_;
  Step step_;
  Step n_ = 0;
  Step drawn_ = 0;  // the reveal: the largest n drawn so far
  Step slid_ = -1;  // the slide drawn by the fast kernel last (-1: none)
  std::vector<RowSpan> spans_;
  std::vector<Pixel> ring_;
};

// ----- Effect 8: the outgoing picture scrolls up while the incoming one follows from below, in
// two phases that meet at a continuous seam.
// The fast kernel moves the rows of the frame before within the target (each part of a frame is
// the same part of the frame before, moved by one step) and copies from the pictures only the
// rows that come into view: the frames then work in one picture that stays in the cache, not in
// three.
class SplitScroll final : public BlitBase {
 public:
  SplitScroll(const Context& c, Step step) : BlitBase(c), step_(step), half_(c.H / 2) {
    // (Streamed like the frames that follow, when they stream: a copy through the cache would
    // leave the target's lines dirty there, and the first streamed frame would pay for writing
    // them back.)
    if (InPlaceFits())
      CopyRect(c.target, 0, 0, c.W, c.H, c.outgoing, 0, 0);
    else
      CopyRectStreamed(c.target, 0, 0, c.W, c.H, c.outgoing, 0, 0);
  }
  bool Iterate() override {
    const Coord W = c_.W, H = c_.H;
    if (phase_ == 1) {
      // The first frame (n = 0) is the outgoing picture the set-up has just copied: the fast
      // kernel does not copy it again (but shows it).
      if (n_ == 0) ChangesAll();
      if (Follows(1, n_ - step_)) {
        MoveFromFirstPhase(H - n_);
      } else if (n_ != 0 || c_.kernel != Kernel::kFast) {
        Put(c_.outgoing, 0, n_, W, H - n_, 0, 0);
        Put(c_.incoming, 0, H - 2 * n_, W, n_, 0, H - n_);
      }
      Drawn(1);
      n_ += step_;
      if (n_ >= half_) phase_ = 2;
      return true;
    }
    if (n_ < 0) {
      // (The steps are whole multiples of the step, so the last frame was at 0.) That frame shows
      // the incoming picture whole.
      if (Follows(2, 0))
        *c_.running = false;
      else
        c_.Finish();
      return false;
    }
    if (Follows(1, n_ - step_)) {
      // The first frame of the second phase: the outgoing part ends at the seam, or where the
      // outgoing picture ends (the rows between keep what they show).
      MoveFromFirstPhase(n_);
    } else if (Follows(2, n_ + step_) && 2 * (n_ + step_) <= H) {
      // The outgoing part moves down and the incoming part up; new rows enter at the top and at
      // the bottom.
      MoveRows(step_, n_, -step_);
      Put(c_.outgoing, 0, n_, W, std::min<Step>(step_, n_), 0, 0);
      MoveRows(n_, H - step_, step_);
      const Coord from = std::max<Coord>(n_, H - step_);
      Put(c_.incoming, 0, from - n_, W, H - from, 0, from);
    } else {
      Put(c_.outgoing, 0, n_, W, n_, 0, 0);
      Put(c_.incoming, 0, 0, W, H - n_, 0, n_);
    }
    Drawn(2);
    n_ -= step_;
    return true;
  }

 private:
  // A copy through the cache where the frames that follow work on the target there.
  void Put(SurfaceView src, Coord sx, Coord sy, Coord w, Coord h, Coord dx, Coord dy) {
    if (!InPlaceFits()) return CopyFrom(src, sx, sy, w, h, dx, dy);
    Changes(dx, dy, w, h);
    CopyRect(c_.target, dx, dy, w, h, src, sx, sy);
  }
  // Whether the target holds the frame of phase `phase` at `n` (drawn by the last iteration).
  bool Follows(int phase, Step n) const {
    return InPlaceFits() && step_ > 0 && drawnPhase_ == phase && drawnN_ == n;
  }
  void Drawn(int phase) {
    drawnPhase_ = phase;
    drawnN_ = n_;
  }
  // From a frame of the first phase, one step before n_: the outgoing rows above the seam move
  // up, the incoming rows from `seam` down move down, and new incoming rows enter below the seam.
  // (The rows moved up are read before the ones moved down overwrite them.)
  void MoveFromFirstPhase(Coord seam) {
    const Coord H = c_.H;
    MoveRows(0, std::min<Coord>(seam, H - n_), step_);
    const Coord moved = std::min<Coord>(H, std::max<Coord>(seam, H - n_ + 2 * step_));
    MoveRows(moved, H, -step_);
    Put(c_.incoming, 0, seam - n_, c_.W, moved - seam, 0, seam);
  }
  // Rows [y0, y1) of the target take the rows `by` below them (above them for a negative `by`).
  void MoveRows(Coord y0, Coord y1, Coord by) {
    if (y1 > y0) Put(c_.target, 0, y0 + by, c_.W, y1 - y0, 0, y0);
  }

  Step step_;
  Coord half_;
  int phase_ = 1;
  Step n_ = 0;
  int drawnPhase_ = 0;
  Step drawnN_ = 0;
};

// ----- Effect 9: vertical slats 50 pixels wide that open from their right edges; 100 ms pause.
class Blinds final : public BlitBase {
 public:
  Blinds(const Context& c, Step step, int slat)
      : BlitBase(c), step_(step), slat_(std::max(slat, 1)) {}
  bool Iterate() override {
    if (a_ >= slat_) {
      // Every slat opened completely is the whole incoming picture.
      FinishAdding([this] { AddColumns(slat_); });
      return false;
    }
    if (c_.kernel == Kernel::kFast) {
      AddColumns(a_);
    } else {
      for (Coord l = 0; l <= c_.W; l += slat_) Copy(l + slat_ - a_, 0, a_, c_.H);
    }
    a_ += step_;
    return true;
  }
  int PauseAfterFrameMs() const override { return 100; }

 private:
  // The columns that slats open by a add to those opened by drawn_, row by row: one pass over
  // the picture.
  void AddColumns(Step a) {
    if (a <= drawn_) return;
    for (Coord l = 0; l <= c_.W; l += slat_)
      Changes(l + slat_ - a, 0, a - drawn_, c_.H);  // [l + slat − a, l + slat − drawn)
    constexpr Coord kAhead = 6;  // rows: the slats' scattered lines are fetched in advance
    for (Coord y = 0; y < c_.H; ++y) {
      Pixel* d = c_.target.Row(static_cast<int>(y));
      const Pixel* src = c_.incoming.Row(static_cast<int>(y));
      const bool ahead = y + kAhead < c_.H;
      const Pixel* pd = ahead ? c_.target.Row(static_cast<int>(y + kAhead)) : nullptr;
      const Pixel* ps = ahead ? c_.incoming.Row(static_cast<int>(y + kAhead)) : nullptr;
      for (Coord l = 0; l <= c_.W; l += slat_) {
        const Coord x0 = std::max<Coord>(l + slat_ - a, 0);
        const Coord x1 = std::min<Coord>(l + slat_ - drawn_, c_.W);
        if (x1 <= x0) continue;
        if (ahead) {
          // (Both ends: a span often reaches into a second cache line.)
          __builtin_prefetch(ps + x0, 0);
          __builtin_prefetch(pd + x0, 1);
          __builtin_prefetch(ps + x1 - 1, 0);
          __builtin_prefetch(pd + x1 - 1, 1);
        }
        std::memcpy(d + x0, src + x0, static_cast<std::size_t>(x1 - x0) * sizeof(Pixel));
      }
    }
    drawn_ = a;
  }

  Step step_;
  Coord slat_;
  Step a_ = 0;
  Step drawn_ = 0;
};

}  // namespace

std::unique_ptr<Effect> WipeEffect(const Context& c, int /*edge*/, Step step) {
  return std::make_unique<Wipe>(c, step);
}
std::unique_ptr<Effect> CloseEffect(const Context& c, int orientation, Step step) {
  return std::make_unique<CloseOpen>(c, false, orientation, step);
}
std::unique_ptr<Effect> OpenEffect(const Context& c, int orientation, Step step) {
  return std::make_unique<CloseOpen>(c, true, orientation, step);
}
std::unique_ptr<Effect> StretchPushEffect(const Context& c, int /*direction*/, Step step, int extra,
                                          int /*outgoingMode*/) {
  return std::make_unique<StretchPush>(c, step, extra);
}
std::unique_ptr<Effect> StretchDoorsEffect(const Context& c, int orientation, Step step, int extra,
                                           int /*outgoingMode*/) {
  return std::make_unique<StretchDoors>(c, orientation, step, extra);
}
std::unique_ptr<Effect> RandomLinesEffect(const Context& c, int orientation, Step lines,
                                          const std::function<double()>& rnd) {
  return std::make_unique<RandomLines>(c, orientation, lines, rnd);
}
std::unique_ptr<Effect> CombRevealEffect(const Context& c, int orientation, Step step,
                                         int /*strip*/, bool /*firstParity*/) {
  return std::make_unique<Comb>(c, false, orientation, step);
}
std::unique_ptr<Effect> CombSlideEffect(const Context& c, int orientation, Step step, int /*strip*/,
                                        bool /*firstParity*/) {
  return std::make_unique<Comb>(c, true, orientation, step);
}
std::unique_ptr<Effect> SplitScrollEffect(const Context& c, int /*direction*/, Step step) {
  return std::make_unique<SplitScroll>(c, step);
}
std::unique_ptr<Effect> BlindsEffect(const Context& c, int /*edge*/, Step step, int slat) {
  return std::make_unique<Blinds>(c, step, slat);
}

}  // namespace dbx::fx

std::size_t dbx::SetInPlaceBytes(std::size_t bytes) {
  return fx::inPlaceBytes.exchange(bytes);
}
