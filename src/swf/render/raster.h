// The scanline rasteriser and the span painters of the movie renderer.
//
// Polygons arrive as line segments in device pixels. Each pixel has 1, 2 or 4 sample points, one
// per sub-scanline: the centre without anti-aliasing, else the usual rotated-grid patterns; or 16,
// a grid of four on each of four sub-scanlines (the finest quality, as the reference draws). On
// each sub-scanline the crossings of the edges are sorted, and the pixels whose sample lies in an
// inside interval (even-odd or non-zero winding) gain that sample's share of coverage. Each row
// comes out as runs of equal coverage, so that painters fill the inside of large shapes run by
// run.
#pragma once

#include <cstdint>
#include <vector>

#include "core/surface.h"
#include "swf/format/movie.h"

namespace dbx::swf {

enum class FillRule : std::uint8_t { kEvenOdd, kNonZero };

struct Segment {
  float x0, y0, x1, y1;
};

// Pixels [x0, x1) of a row with the same coverage (1..255).
struct Span {
  int x0, x1;
  std::uint8_t coverage;
};

class Rasterizer {
 public:
  // Starts a new polygon for a target of the given size; 1, 2, 4 or 16 samples per pixel. With
  // `snap` and one sample, points are first placed on a grid of twentieths of a pixel (shape
  // outlines without anti-aliasing: which pixel centres fall inside depends on it).
  void Reset(int width, int height, int samples, bool snap = false);
  void AddLine(float x0, float y0, float x1, float y1);
  // A closed convex polygon, oriented so that unions of such polygons fill under non-zero.
  void AddConvex(const float* xy, int count);
  bool Empty() const { return edges_.empty(); }
  // Bounds the work of all following sweeps together (edge crossings visited), so that a hostile
  // polygon cannot stall a frame; sweeps stop early once it is spent.
  void SetWorkBudget(std::size_t crossings) { budget_ = crossings; }
  bool BudgetSpent() const { return budget_ == 0; }

  // Calls emit(y, spans, count) for every row that has coverage; spans are ordered, disjoint and
  // within the target.
  template <class Emit>
  void Sweep(FillRule rule, Emit&& emit);

  // Marks the samples inside the polygon in a plane of the target's size: bit s of a pixel's byte
  // is its sample on sub-scanline s (for 1, 2 or 4 samples). Rows are `stride` bytes apart; the
  // plane is not cleared.
  void SweepSamples(FillRule rule, std::uint8_t* bits, std::size_t stride);
  std::size_t WorkBudget() const { return budget_; }

 private:
  struct Edge {
    double x0, y0, x1, y1;  // y0 < y1
    double dxdy;
    int dir;
  };
  // Visits each sub-scanline's inside pixels [first, end) as interval(y, s, first, end), then
  // rowEnd(y) after each row.
  template <class Interval, class RowEnd>
  void Scan(FillRule rule, Interval&& interval, RowEnd&& rowEnd);

  int width_ = 0, height_ = 0, sub_ = 1;
  int across_ = 1;   // samples on each sub-scanline of a pixel
  double snap_ = 0;  // grid the outline is placed on (steps per pixel), 0 for none
  std::size_t budget_ = ~std::size_t{0};
  std::vector<Edge> edges_;
  std::vector<int> run_;
  std::vector<std::uint8_t> mark_;
  std::vector<int> touched_;
  std::vector<Span> spans_;
  struct Cross {
    double x;
    int dir;
    int edge;
  };
  std::vector<Cross> cross_, merged_;
  std::vector<int> active_;

 public:
  // Internal row callback; Sweep wraps it.
  struct RowSink {
    virtual void Row(int y, const Span* spans, std::size_t count) = 0;

   protected:
    ~RowSink() = default;
  };
  void SweepTo(FillRule rule, RowSink& sink);
};

template <class Emit>
void Rasterizer::Sweep(FillRule rule, Emit&& emit) {
  struct Sink final : RowSink {
    Emit& e;
    explicit Sink(Emit& em) : e(em) {}
    void Row(int y, const Span* spans, std::size_t count) override { e(y, spans, count); }
  } sink(emit);
  SweepTo(rule, sink);
}

// What a span is painted with: premultiplied ARGB after the colour transform.
struct Paint {
  FillKind kind = FillKind::kSolid;
  std::uint32_t solid = 0;
  std::vector<std::uint32_t> lut;  // gradient colours over t in [0, 1)
  bool lutOpaque = false;          // every gradient colour is opaque
  Matrix inverse;                  // device pixel centre to gradient square or bitmap pixels
  float focal = 0;
  Spread spread = Spread::kPad;
  const Bitmap* bitmap = nullptr;
  bool repeat = false, smooth = false;
  ColorTransform cxform;
  bool cxIdentity = true;
  // The target keeps alpha (a layer of premultiplied ARGB) rather than being the opaque screen,
  // whose alpha byte stays 0.
  bool keepAlpha = false;
};

// Builds the paint of a fill style drawn with `toDevice` (shape twips to device pixels). False when
// nothing is to be drawn (degenerate matrix, missing bitmap).
bool MakePaint(const FillStyle& fill, const Matrix& toDevice, const ColorTransform& cx,
               const Bitmap* bitmap, bool smoothBitmaps, Paint& paint);

// Blends pixels [x0, x1) of row y with coverage `coverage`, multiplied by a mask row if given.
void PaintSpan(Pixel* row, int y, int x0, int x1, std::uint8_t coverage, const std::uint8_t* mask,
               const Paint& paint);

// The plain reference of PaintSpan for solid paints, used by the tests.
void PaintSpanSolidReference(Pixel* row, int x0, int x1, std::uint8_t coverage,
                             const std::uint8_t* mask, std::uint32_t premultiplied);

}  // namespace dbx::swf
