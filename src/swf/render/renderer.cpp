#include "swf/render/renderer.h"

#include <algorithm>
#include <cmath>

#include "swf/display/geometry.h"
#include "swf/display/video_clip.h"
#include "swf/render/filters.h"
#include "swf/text/text_field.h"

namespace dbx::swf {

namespace {

constexpr std::size_t kMaxMasks = 8;
// Layers (filtered or blended objects) open inside each other at most.
constexpr int kMaxLayers = 8;
constexpr float kPi = 3.14159265358979f;

struct P {
  float x, y;
};

P Apply(const Matrix& m, Vec2 v) {
  return {static_cast<float>(m.a * v.x + m.c * v.y + m.tx),
          static_cast<float>(m.b * v.x + m.d * v.y + m.ty)};
}

template <class T>
T Lerp(T a, T b, float t) {
  return static_cast<T>(a + (b - a) * t);
}

std::uint8_t LerpByte(std::uint8_t a, std::uint8_t b, float t) {
  return static_cast<std::uint8_t>(std::clamp(a + (b - a) * t + 0.5f, 0.0f, 255.0f));
}

Rgba LerpColor(Rgba a, Rgba b, float t) {
  return {LerpByte(a.r, b.r, t), LerpByte(a.g, b.g, t), LerpByte(a.b, b.b, t),
          LerpByte(a.a, b.a, t)};
}

Matrix LerpMatrix(const Matrix& a, const Matrix& b, float t) {
  return {Lerp(a.a, b.a, t), Lerp(a.b, b.b, t),   Lerp(a.c, b.c, t),
          Lerp(a.d, b.d, t), Lerp(a.tx, b.tx, t), Lerp(a.ty, b.ty, t)};
}

FillStyle LerpFill(const FillStyle& a, const FillStyle& b, float t) {
  FillStyle f = a;
  f.color = LerpColor(a.color, b.color, t);
  f.matrix = LerpMatrix(a.matrix, b.matrix, t);
  f.gradient.focal = Lerp(a.gradient.focal, b.gradient.focal, t);
  for (std::size_t i = 0; i < f.gradient.stops.size() && i < b.gradient.stops.size(); ++i) {
    f.gradient.stops[i].ratio = LerpByte(a.gradient.stops[i].ratio, b.gradient.stops[i].ratio, t);
    f.gradient.stops[i].color = LerpColor(a.gradient.stops[i].color, b.gradient.stops[i].color, t);
  }
  return f;
}

Vec2 LerpVec(Vec2 a, Vec2 b, float t) {
  return {Lerp(a.x, b.x, t), Lerp(a.y, b.y, t)};
}

// Strokes are outlined in their own space (the shape's twips, so that a stretched shape has
// stretched strokes, or device pixels for strokes that do not scale) and the pieces are mapped to
// the device as they are emitted.
class StrokeSink {
 public:
  StrokeSink(Rasterizer& r, const Matrix& m) : r_(r), m_(m) {
    // The smallest stretch of the matrix bounds how thin a stroke can get on the device.
    const double p = m.a * m.a + m.b * m.b, q = m.a * m.c + m.b * m.d, t = m.c * m.c + m.d * m.d;
    const double mean = (p + t) / 2, diff = std::sqrt(((p - t) / 2) * ((p - t) / 2) + q * q);
    minStretch_ = static_cast<float>(std::sqrt(std::max(0.0, mean - diff)));
    pixelStretch_ = static_cast<float>(std::sqrt(std::max(0.0, mean + diff)));
  }
  // Half the stroke width across a segment of direction d (unit), at least half a device pixel.
  float HalfWidth(float hw, P d) const {
    const double nx = -d.y, ny = d.x;
    const double len = std::hypot(m_.a * nx + m_.c * ny, m_.b * nx + m_.d * ny);
    if (len > 1e-9 && hw * len < 0.5) return static_cast<float>(0.5 / len);
    return hw;
  }
  float Radius(float hw) const {
    return minStretch_ > 1e-9f && hw * minStretch_ < 0.5f ? 0.5f / minStretch_ : hw;
  }
  void Polygon(const P* pts, int n) {
    float xy[2 * 72];
    for (int i = 0; i < n; ++i) {
      xy[2 * i] = static_cast<float>(m_.a * pts[i].x + m_.c * pts[i].y + m_.tx);
      xy[2 * i + 1] = static_cast<float>(m_.b * pts[i].x + m_.d * pts[i].y + m_.ty);
    }
    r_.AddConvex(xy, n);
  }
  // A regular polygon around a point (round caps and joins); finer for larger device radii.
  void Circle(P c, float radius) {
    // Enough sides that the polygon stays within a thousandth of a pixel of the circle: pixel
    // centres just outside a thin stroke's cap or round join stay outside.
    const float r = radius * pixelStretch_;
    // A huge (or infinite) radius makes the step 0: the count is clamped before it becomes an int.
    const float step = r > 0.001f ? std::acos(1.0f - 0.001f / r) : kPi;
    const float sides = std::ceil(kPi / step);
    const int n = sides < 64.0f ? std::max(static_cast<int>(sides), 8) : 64;
    // The polygon is drawn around the circle rather than inside it (its sides touch the circle
    // at their middles), so that samples on the circle count as inside.
    const float out = radius / std::cos(kPi / static_cast<float>(n));
    P pts[64];
    for (int i = 0; i < n; ++i) {
      const float a = 2 * kPi * static_cast<float>(i) / static_cast<float>(n);
      pts[i] = {c.x + out * std::cos(a), c.y + out * std::sin(a)};
    }
    Polygon(pts, n);
  }
  void Quad(P a, P b, P c, P d) {
    const P pts[4] = {a, b, c, d};
    Polygon(pts, 4);
  }
  void Triangle(P a, P b, P c) {
    const P pts[3] = {a, b, c};
    Polygon(pts, 3);
  }

 private:
  Rasterizer& r_;
  Matrix m_;
  float minStretch_ = 1, pixelStretch_ = 1;
};

struct StrokePoint {
  P p;
  bool corner;  // a joint between two edges of the shape (not inside a flattened curve)
};

// Writes the outline of a stroked polyline as convex pieces; their union (non-zero) is the stroke.
void StrokePolyline(StrokeSink& r, const std::vector<StrokePoint>& pts, float hw,
                    const LineStyle& style) {
  // Drop repeated points; they have no direction.
  std::vector<StrokePoint> q;
  for (const StrokePoint& sp : pts) {
    if (!q.empty() && std::fabs(q.back().p.x - sp.p.x) < 1e-4f &&
        std::fabs(q.back().p.y - sp.p.y) < 1e-4f) {
      q.back().corner = q.back().corner || sp.corner;
      continue;
    }
    q.push_back(sp);
  }
  if (q.empty()) return;
  if (q.size() == 1) {
    const float rr = r.Radius(hw);
    if (style.startCap == Cap::kRound)
      r.Circle(q[0].p, rr);
    else if (style.startCap == Cap::kSquare)
      r.Quad({q[0].p.x - rr, q[0].p.y - rr}, {q[0].p.x + rr, q[0].p.y - rr},
             {q[0].p.x + rr, q[0].p.y + rr}, {q[0].p.x - rr, q[0].p.y + rr});
    return;
  }
  const bool closed = q.size() > 2 && std::fabs(q.front().p.x - q.back().p.x) < 0.01f &&
                      std::fabs(q.front().p.y - q.back().p.y) < 0.01f;
  const std::size_t n = q.size();
  auto dir = [&](std::size_t i) {  // unit direction of segment i -> i + 1
    const float dx = q[i + 1].p.x - q[i].p.x, dy = q[i + 1].p.y - q[i].p.y;
    const float len = std::sqrt(dx * dx + dy * dy);
    return P{dx / len, dy / len};
  };
  for (std::size_t i = 0; i + 1 < n; ++i) {
    const P d = dir(i);
    const float w = r.HalfWidth(hw, d);
    const P nrm{-d.y * w, d.x * w};
    const P a = q[i].p, b = q[i + 1].p;
    r.Quad({a.x + nrm.x, a.y + nrm.y}, {b.x + nrm.x, b.y + nrm.y}, {b.x - nrm.x, b.y - nrm.y},
           {a.x - nrm.x, a.y - nrm.y});
  }
  auto join = [&](std::size_t prevSeg, std::size_t nextSeg, const StrokePoint& at) {
    const P d0 = dir(prevSeg), d1 = dir(nextSeg);
    const Join kind = at.corner ? style.join : Join::kBevel;
    if (kind == Join::kRound) {
      r.Circle(at.p, r.Radius(hw));
      return;
    }
    const float w0 = r.HalfWidth(hw, d0), w1 = r.HalfWidth(hw, d1);
    const P n0{-d0.y * w0, d0.x * w0}, n1{-d1.y * w1, d1.x * w1};
    // The outer side of the turn is the one where the offset points move apart.
    const float side =
        (n0.x + n1.x) * (d1.x - d0.x) + (n0.y + n1.y) * (d1.y - d0.y) > 0 ? -1.f : 1.f;
    const P a{at.p.x + side * n0.x, at.p.y + side * n0.y};
    const P b{at.p.x + side * n1.x, at.p.y + side * n1.y};
    if (kind == Join::kMiter) {
      P u{n0.x + n1.x, n0.y + n1.y};
      const float ul = std::sqrt(u.x * u.x + u.y * u.y);
      if (ul > 1e-6f) {
        u = {u.x / ul, u.y / ul};
        const float cosHalf = std::fabs(u.x * n0.x + u.y * n0.y) / w0;
        if (cosHalf > 1e-4f && 1.0f / cosHalf <= std::max(style.miterLimit, 1.0f)) {
          const float len = w0 / cosHalf;
          r.Quad(at.p, a, {at.p.x + side * u.x * len, at.p.y + side * u.y * len}, b);
          return;
        }
      }
    }
    r.Triangle(at.p, a, b);
  };
  for (std::size_t i = 1; i + 1 < n; ++i) join(i - 1, i, q[i]);
  if (closed) {
    join(n - 2, 0, q[0]);
    return;
  }
  auto cap = [&](Cap c, const StrokePoint& at, P d) {
    if (c == Cap::kRound) {
      r.Circle(at.p, r.Radius(hw));
    } else if (c == Cap::kSquare) {
      const float w = r.HalfWidth(hw, d);
      const P nrm{-d.y * w, d.x * w};
      const P e{at.p.x + d.x * w, at.p.y + d.y * w};
      r.Quad({at.p.x + nrm.x, at.p.y + nrm.y}, {e.x + nrm.x, e.y + nrm.y},
             {e.x - nrm.x, e.y - nrm.y}, {at.p.x - nrm.x, at.p.y - nrm.y});
    }
  };
  const P d0 = dir(0);
  cap(style.startCap, q[0], {-d0.x, -d0.y});
  cap(style.endCap, q[n - 1], dir(n - 2));
}

}  // namespace

Renderer::Renderer(const Movie& movie) : movie_(movie) {}
Renderer::~Renderer() = default;

Shape InterpolateMorph(const MorphShape& morph, std::uint16_t ratio) {
  const float t = ratio / 65535.0f;
  Shape s;
  const std::size_t nf = std::min(morph.start.fills.size(), morph.end.fills.size());
  for (std::size_t i = 0; i < nf; ++i)
    s.fills.push_back(LerpFill(morph.start.fills[i], morph.end.fills[i], t));
  const std::size_t nl = std::min(morph.start.lines.size(), morph.end.lines.size());
  for (std::size_t i = 0; i < nl; ++i) {
    LineStyle l = morph.start.lines[i];
    const LineStyle& e = morph.end.lines[i];
    l.width = static_cast<std::uint16_t>(std::lround(Lerp<float>(l.width, e.width, t)));
    l.color = LerpColor(l.color, e.color, t);
    if (l.hasFill) l.fill = LerpFill(l.fill, e.fill, t);
    s.lines.push_back(l);
  }
  const std::size_t ne = std::min(morph.start.edges.size(), morph.end.edges.size());
  for (std::size_t i = 0; i < ne; ++i) {
    ShapeEdge e = morph.start.edges[i];
    const ShapeEdge& b = morph.end.edges[i];
    e.from = LerpVec(e.from, b.from, t);
    e.control = LerpVec(e.control, b.control, t);
    e.to = LerpVec(e.to, b.to, t);
    if (e.fill0 >= static_cast<int>(nf)) e.fill0 = -1;
    if (e.fill1 >= static_cast<int>(nf)) e.fill1 = -1;
    if (e.line >= static_cast<int>(nl)) e.line = -1;
    s.edges.push_back(e);
  }
  return s;
}

void Renderer::Render(const Stage& stage, SurfaceView target, const Matrix& view,
                      const RenderOptions& options) {
  target_ = target;
  view_ = view;
  options_ = options;
  segmentBudget_ = kMaxSegmentsPerFrame;
  raster_.SetWorkBudget(kMaxCrossingsPerFrame);
  pixelBudget_ = kMaxOverdraw * static_cast<std::size_t>(std::max(target.width(), 0)) *
                 static_cast<std::size_t>(std::max(target.height(), 0));
  maskDepth_ = 0;
  mask_ = nullptr;
  maskOut_ = nullptr;
  layerTarget_ = false;
  halfShifted_ = false;
  layers_ = 0;
  if (target.width() <= 0 || target.height() <= 0 || !target.data()) return;
  ++renders_;
  for (auto& [clip, cached] : cache_) cached.used = false;
  for (const Clip* level : stage.Levels()) DrawObject(*level, Matrix{}, ColorTransform{}, 0);
  if (const Scripts* scripts = stage.scripts())
    if (const Clip* focused = scripts->FocusRectangle()) DrawFocusRectangle(*focused);
  std::erase_if(fields_, [&](const auto& entry) { return entry.second.drawn != renders_; });
  // Layers of objects that were not drawn this frame are dropped (the clip may be gone).
  std::erase_if(cache_, [](const auto& entry) { return !entry.second.used; });
}

void Renderer::DrawFocusRectangle(const Clip& clip) {
  // A yellow frame, 3 pixels of the stage wide, just inside the object's bounds, over everything.
  const swf::Box stageBox = LocalBounds(clip).Transformed(clip.ConcatenatedMatrix());
  if (stageBox.empty) return;
  swf::Box b;  // in device pixels
  for (const double x : {stageBox.xmin, stageBox.xmax})
    for (const double y : {stageBox.ymin, stageBox.ymax})
      b.Add(view_.a * x + view_.c * y + view_.tx, view_.b * x + view_.d * y + view_.ty);
  if (!std::isfinite(b.xmin) || !std::isfinite(b.xmax) || !std::isfinite(b.ymin) ||
      !std::isfinite(b.ymax))
    return;
  const double scale = std::sqrt(std::fabs(view_.a * view_.d - view_.b * view_.c)) * 20;
  const int width = std::max(1, static_cast<int>(std::lround(3 * scale)));
  const auto clamp = [](double v, int hi) {
    return static_cast<int>(std::clamp(std::round(v), 0.0, static_cast<double>(hi)));
  };
  const int x0 = clamp(b.xmin, target_.width()), x1 = clamp(b.xmax, target_.width());
  const int y0 = clamp(b.ymin, target_.height()), y1 = clamp(b.ymax, target_.height());
  const Pixel yellow = 0xFFFF00;
  for (int y = y0; y < y1; ++y) {
    Pixel* row = target_.Row(y);
    const bool edge = y < y0 + width || y >= y1 - width;
    for (int x = x0; x < x1; ++x)
      if (edge || x < x0 + width || x >= x1 - width) row[x] = yellow;
  }
}

void Renderer::DrawList(const Clip& parent, const Matrix& m, const ColorTransform& cx,
                        int nesting) {
  struct MaskLayer {
    std::uint16_t until;
    const std::uint8_t* previous;
  };
  std::vector<MaskLayer> clips;
  auto pop = [&] {
    mask_ = clips.back().previous;
    --maskDepth_;
    clips.pop_back();
  };
  const std::size_t plane =
      static_cast<std::size_t>(target_.width()) * static_cast<std::size_t>(target_.height());
  if (parent.attachedBitmap)
    DrawBitmap(*parent.attachedBitmap, 0, parent.attachedSmoothing, view_ * m, cx);
  if (!parent.drawing.edges.empty()) DrawShape(parent.drawing, view_ * m, cx);
  for (const auto& [depth, child] : parent.children()) {
    const Clip& obj = *child;
    while (!clips.empty() && depth > clips.back().until) pop();
    if (!obj.visible) continue;
    // A clip a script made another's mask is drawn only as that mask.
    if (obj.maskOf && !obj.maskOf->removed) continue;
    if (obj.maskClip && !obj.maskClip->removed && obj.clipDepth == 0 && !maskOut_ &&
        maskDepth_ < kMaxMasks) {
      // A script's mask: the coverage of the mask clip where it stands limits this clip.
      if (maskPool_.size() <= maskDepth_) maskPool_.emplace_back();
      std::vector<std::uint8_t>& buf = maskPool_[maskDepth_];
      buf.assign(plane, 0);
      const Clip& mask = *obj.maskClip;
      maskOut_ = buf.data();
      DrawObject(mask, mask.parent ? mask.parent->ConcatenatedMatrix() : Matrix{}, ColorTransform{},
                 nesting);
      maskOut_ = nullptr;
      if (mask_)
        for (std::size_t i = 0; i < plane; ++i)
          buf[i] = static_cast<std::uint8_t>((buf[i] * mask_[i] + 127) / 255);
      const std::uint8_t* previous = mask_;
      ++maskDepth_;
      mask_ = buf.data();
      DrawObject(obj, m, cx, nesting);
      mask_ = previous;
      --maskDepth_;
      continue;
    }
    if (obj.clipDepth > 0) {
      // A mask: its shapes' coverage limits the objects up to its clip depth. Masks inside a mask
      // being drawn, or nested too deep, are left out.
      if (maskOut_ || maskDepth_ >= kMaxMasks) continue;
      if (maskPool_.size() <= maskDepth_) maskPool_.emplace_back();
      std::vector<std::uint8_t>& buf = maskPool_[maskDepth_];
      buf.assign(plane, 0);
      maskOut_ = buf.data();
      DrawObject(obj, m, cx, nesting);
      maskOut_ = nullptr;
      if (mask_)
        for (std::size_t i = 0; i < plane; ++i)
          buf[i] = static_cast<std::uint8_t>((buf[i] * mask_[i] + 127) / 255);
      clips.push_back({obj.clipDepth, mask_});
      ++maskDepth_;
      mask_ = buf.data();
      continue;
    }
    DrawObject(obj, m, cx, nesting);
  }
  while (!clips.empty()) pop();
}

void Renderer::DrawObject(const Clip& obj, const Matrix& m, const ColorTransform& cx, int nesting) {
  const bool blends = obj.blendMode >= static_cast<std::uint8_t>(BlendMode::kLayer) &&
                      obj.blendMode <= static_cast<std::uint8_t>(BlendMode::kHardLight);
  if (!maskOut_ && (blends || obj.cacheAsBitmap || !obj.filters.empty()) && layers_ < kMaxLayers) {
    DrawLayered(obj, m, cx, nesting);
    return;
  }
  DrawContent(obj, m * obj.matrix, cx * obj.cxform, nesting);
}

void Renderer::DrawContent(const Clip& obj, const Matrix& mm, const ColorTransform& cc,
                           int nesting) {
  current_ = obj.movie;
  if (obj.opaqueBackground && !maskOut_) DrawOpaqueBackground(obj, mm, cc);
  if (obj.kind == ClipKind::kMovie || obj.kind == ClipKind::kButton) {
    if (nesting >= Stage::kMaxNesting) return;
    if (obj.scrollRect) {
      DrawScrolled(obj, mm, cc, nesting);
      return;
    }
    if (obj.scale9Grid && DrawNineParts(obj, mm, cc, nesting)) return;
    DrawList(obj, mm, cc, nesting + 1);
    return;
  }
  if (obj.kind == ClipKind::kEditText && obj.field) {
    if (fonts_) DrawTextField(*obj.field, view_ * mm, cc);
    return;
  }
  const auto it = Current().characters.find(obj.character);
  if (it == Current().characters.end()) return;
  const Character& ch = it->second;
  if (const auto* shape = std::get_if<Shape>(&ch)) {
    DrawShape(*shape, view_ * mm, cc);
  } else if (const auto* morph = std::get_if<MorphShape>(&ch)) {
    DrawShape(InterpolateMorph(*morph, obj.ratio), view_ * mm, cc);
  } else if (const auto* bmp = std::get_if<std::shared_ptr<const Bitmap>>(&ch)) {
    if (*bmp) DrawBitmap(**bmp, obj.character, false, view_ * mm, cc);
  } else if (std::holds_alternative<StaticText>(ch) || std::holds_alternative<EditText>(ch)) {
    DrawText(obj, ch, mm, cc);
  } else if (const auto* stream = std::get_if<VideoStream>(&ch)) {
    DrawVideo(obj, *stream, view_ * mm, cc);
  }
}

void Renderer::DrawVideo(const Clip& obj, const VideoStream& stream, const Matrix& toDevice,
                         const ColorTransform& cx) {
  // The picture fills the object's own size (the stream's), whatever size its frames have.
  const Bitmap* picture = VideoPicture(obj);
  if (!picture || picture->width <= 0 || picture->height <= 0) return;
  Matrix fit;
  fit.a = static_cast<double>(stream.width) / picture->width;
  fit.d = static_cast<double>(stream.height) / picture->height;
  DrawBitmap(*picture, 0, VideoSmoothing(obj), toDevice * fit, cx);
}

namespace {
// The edges of the rectangle (0, 0) to (w, h) in twips, filled on their left with the shape's
// first fill.
void AddRectangle(Shape& shape, float w, float h) {
  const Vec2 corners[4] = {{0, 0}, {w, 0}, {w, h}, {0, h}};
  for (int i = 0; i < 4; ++i) {
    ShapeEdge e;
    e.from = corners[i];
    e.to = corners[(i + 1) % 4];
    e.control = e.from;
    e.fill1 = 0;
    shape.edges.push_back(e);
  }
}
}  // namespace

void Renderer::DrawOpaqueBackground(const Clip& obj, const Matrix& mm, const ColorTransform& cc) {
  // The rectangle of the object's bounds, in its own space, filled opaque behind its content.
  const swf::Box b = LocalBounds(obj);
  if (b.empty || !(b.xmax > b.xmin) || !(b.ymax > b.ymin)) return;
  Shape bg;
  FillStyle fill;
  fill.color = *obj.opaqueBackground;
  fill.color.a = 255;
  bg.fills.push_back(fill);
  Matrix at;
  at.tx = b.xmin;
  at.ty = b.ymin;
  AddRectangle(bg, static_cast<float>(std::min(b.xmax - b.xmin, 1.0e9)),
               static_cast<float>(std::min(b.ymax - b.ymin, 1.0e9)));
  DrawShape(bg, view_ * mm * at, cc);
}

namespace {

// One axis of a nine-part grid: where a coordinate of the clip's own space goes so that, once the
// clip's scale `s` applies, the parts before and after the grid's middle keep their size and the
// middle takes the rest of the scaled whole. Where the whole is too small for the outer parts,
// they shrink together and the middle vanishes.
struct NineAxis {
  double lo = 0, hi = 0, gridLo = 0, gridHi = 0;
  double outer = 1, middle = 1;  // how the outer parts and the middle scale
  NineAxis(double low, double high, double gridLow, double gridHigh, double s) : lo(low), hi(high) {
    gridLo = std::clamp(gridLow, lo, hi);
    gridHi = std::clamp(gridHigh, gridLo, hi);
    const double ends = (gridLo - lo) + (hi - gridHi), whole = (hi - lo) * s;
    if (ends <= whole) {
      outer = 1 / s;
      middle = gridHi > gridLo ? (whole - ends) / s / (gridHi - gridLo) : 0;
    } else {
      outer = ends > 0 ? whole / ends / s : 0;
      middle = 0;
    }
  }
  double operator()(double v) const {
    if (v <= gridLo) return lo + (v - lo) * outer;
    if (v >= gridHi) return hi - (hi - v) * outer;
    return lo + (gridLo - lo) * outer + (v - gridLo) * middle;
  }
};

}  // namespace

// The clip's own shapes and drawing are drawn with their points moved by the grid; its other
// children (clips, text, pictures) as they are.
bool Renderer::DrawNineParts(const Clip& obj, const Matrix& mm, const ColorTransform& cc,
                             int nesting) {
  const double sx = std::hypot(obj.matrix.a, obj.matrix.b);
  const double sy = std::hypot(obj.matrix.c, obj.matrix.d);
  if (!(sx > 0) || !(sy > 0) || !std::isfinite(sx) || !std::isfinite(sy)) return false;
  // At its own size the grid moves nothing.
  if (sx == 1 && sy == 1) return false;
  for (const auto& [depth, child] : obj.children())
    if (child->clipDepth > 0 || child->maskClip || child->maskOf) return false;
  const swf::Box b = LocalBounds(obj);
  if (b.empty) return false;
  const TwipsRect& g = *obj.scale9Grid;
  const NineAxis ax(b.xmin, b.xmax, g.xmin, g.xmax, sx), ay(b.ymin, b.ymax, g.ymin, g.ymax, sy);
  // The shape in the clip's space (under `m`, its place in the clip), its points moved.
  auto moved = [&](const Shape& shape, const Matrix& m) {
    Shape out = shape;
    auto place = [&](Vec2 p) {
      const double x = m.a * p.x + m.c * p.y + m.tx, y = m.b * p.x + m.d * p.y + m.ty;
      return Vec2{static_cast<float>(ax(x)), static_cast<float>(ay(y))};
    };
    for (ShapeEdge& e : out.edges) {
      e.from = place(e.from);
      e.to = place(e.to);
      e.control =
          e.curve ? place(e.control) : Vec2{(e.from.x + e.to.x) / 2, (e.from.y + e.to.y) / 2};
    }
    for (FillStyle& f : out.fills) f.matrix = m * f.matrix;
    const double widths = std::sqrt(std::fabs(m.Determinant()));
    for (LineStyle& l : out.lines)
      l.width = static_cast<std::uint16_t>(std::clamp(std::lround(l.width * widths), 0L, 65535L));
    return out;
  };
  const Matrix toDevice = view_ * mm;
  if (obj.attachedBitmap) DrawBitmap(*obj.attachedBitmap, 0, obj.attachedSmoothing, toDevice, cc);
  if (!obj.drawing.edges.empty()) DrawShape(moved(obj.drawing, Matrix{}), toDevice, cc);
  for (const auto& [depth, child] : obj.children()) {
    const Clip& c = *child;
    if (!c.visible) continue;
    current_ = obj.movie;
    const bool plain = (c.kind == ClipKind::kShape || c.kind == ClipKind::kMorph) &&
                       c.filters.empty() && !c.cacheAsBitmap &&
                       c.blendMode <= static_cast<std::uint8_t>(BlendMode::kNormal);
    const auto it = plain ? Current().characters.find(c.character) : Current().characters.end();
    if (it != Current().characters.end()) {
      if (const auto* shape = std::get_if<Shape>(&it->second)) {
        DrawShape(moved(*shape, c.matrix), toDevice, cc * c.cxform);
        continue;
      }
      if (const auto* morph = std::get_if<MorphShape>(&it->second)) {
        DrawShape(moved(InterpolateMorph(*morph, c.ratio), c.matrix), toDevice, cc * c.cxform);
        continue;
      }
    }
    DrawObject(c, mm, cc, nesting + 1);
  }
  return true;
}

void Renderer::DrawScrolled(const Clip& obj, const Matrix& mm, const ColorTransform& cc,
                            int nesting) {
  const Clip::ScrollRect& r = *obj.scrollRect;
  Matrix shift;
  shift.tx = -r.x * 20;
  shift.ty = -r.y * 20;
  const Matrix inner = mm * shift;
  // Inside a mask being drawn, or with the masks used up, the window does not clip.
  if (maskOut_ || maskDepth_ >= kMaxMasks) {
    DrawList(obj, inner, cc, nesting + 1);
    return;
  }
  if (!(r.width > 0) || !(r.height > 0)) return;
  // The window's coverage, within whatever masks the clip is already under.
  const std::size_t plane =
      static_cast<std::size_t>(target_.width()) * static_cast<std::size_t>(target_.height());
  if (maskPool_.size() <= maskDepth_) maskPool_.emplace_back();
  std::vector<std::uint8_t>& buf = maskPool_[maskDepth_];
  buf.assign(plane, 0);
  Shape window;
  window.fills.emplace_back();
  const float w = static_cast<float>(std::min(r.width * 20, 1.0e9));
  const float h = static_cast<float>(std::min(r.height * 20, 1.0e9));
  AddRectangle(window, w, h);
  maskOut_ = buf.data();
  DrawShape(window, view_ * mm, ColorTransform{});
  maskOut_ = nullptr;
  if (mask_)
    for (std::size_t i = 0; i < plane; ++i)
      buf[i] = static_cast<std::uint8_t>((buf[i] * mask_[i] + 127) / 255);
  const std::uint8_t* previous = mask_;
  mask_ = buf.data();
  ++maskDepth_;
  DrawList(obj, inner, cc, nesting + 1);
  --maskDepth_;
  mask_ = previous;
}

void Renderer::DrawBitmap(const Bitmap& bitmap, std::uint16_t character, bool smooth,
                          const Matrix& toDevice, const ColorTransform& cx) {
  // A rectangle of the picture's size filled with it.
  Shape s;
  FillStyle f;
  f.kind = FillKind::kBitmap;
  f.bitmap = character;
  f.repeat = false;
  f.smoothed = smooth;
  f.matrix.a = f.matrix.d = 20;
  s.fills.push_back(f);
  const float w = static_cast<float>(bitmap.width) * 20, h = static_cast<float>(bitmap.height) * 20;
  AddRectangle(s, w, h);
  DrawShape(s, toDevice, cx, &bitmap);
}

void Renderer::AddBounds(const Clip& obj, const Matrix& m, Box& box, int nesting) const {
  if (nesting > Stage::kMaxNesting) return;
  const Matrix mm = m * obj.matrix;
  const Matrix dm = view_ * mm;
  Box own;
  auto addShape = [&](const Shape& shape) {
    Box local;
    for (const ShapeEdge& e : shape.edges) {
      local.Add(e.from.x, e.from.y);
      local.Add(e.to.x, e.to.y);
      if (e.curve) local.Add(e.control.x, e.control.y);
    }
    if (local.Empty()) return;
    double scaled = 0, fixed = 0;  // half stroke widths in twips and in device pixels
    for (const LineStyle& l : shape.lines) {
      if (l.noHScale && l.noVScale)
        fixed = std::max(fixed, l.width * std::sqrt(std::fabs(view_.Determinant())) / 2);
      else
        scaled = std::max(scaled, l.width / 2.0);
    }
    // Square caps and miter joins reach further than half the width.
    scaled *= 3;
    for (double x : {local.x0 - scaled, local.x1 + scaled})
      for (double y : {local.y0 - scaled, local.y1 + scaled})
        own.Add(dm.a * x + dm.c * y + dm.tx, dm.b * x + dm.d * y + dm.ty);
    own.x0 -= 3 * fixed + 1;
    own.y0 -= 3 * fixed + 1;
    own.x1 += 3 * fixed + 1;
    own.y1 += 3 * fixed + 1;
  };
  auto addRectangle = [&](int width, int height) {
    for (double x : {0.0, width * 20.0})
      for (double y : {0.0, height * 20.0})
        own.Add(dm.a * x + dm.c * y + dm.tx, dm.b * x + dm.d * y + dm.ty);
  };
  auto addPicture = [&](const Bitmap& b) { addRectangle(b.width, b.height); };
  if ((obj.kind == ClipKind::kMovie || obj.kind == ClipKind::kButton) && obj.scrollRect) {
    // Nothing shows outside the window.
    const double w = obj.scrollRect->width * 20, h = obj.scrollRect->height * 20;
    if (w > 0 && h > 0)
      for (double x : {0.0, w})
        for (double y : {0.0, h}) own.Add(dm.a * x + dm.c * y + dm.tx, dm.b * x + dm.d * y + dm.ty);
  } else if (obj.kind == ClipKind::kMovie || obj.kind == ClipKind::kButton) {
    if (obj.attachedBitmap) addPicture(*obj.attachedBitmap);
    addShape(obj.drawing);
    for (const auto& [depth, child] : obj.children())
      if (child->visible) AddBounds(*child, mm, own, nesting + 1);
  } else if (const auto it = (obj.movie ? *obj.movie : movie_).characters.find(obj.character);
             it != (obj.movie ? *obj.movie : movie_).characters.end()) {
    const Character& ch = it->second;
    if (const auto* shape = std::get_if<Shape>(&ch)) {
      addShape(*shape);
    } else if (const auto* morph = std::get_if<MorphShape>(&ch)) {
      addShape(morph->start);
      addShape(morph->end);
    } else if (const auto* bmp = std::get_if<std::shared_ptr<const Bitmap>>(&ch)) {
      if (*bmp) addPicture(**bmp);
    } else if (const auto* stream = std::get_if<VideoStream>(&ch)) {
      if (VideoPicture(obj)) addRectangle(stream->width, stream->height);
    }
  }
  if (own.Empty()) return;
  if (!obj.filters.empty()) {
    const FilterMargins f = MarginsOf(obj.filters, std::sqrt(std::fabs(view_.Determinant())) * 20);
    own.x0 -= f.left;
    own.y0 -= f.top;
    own.x1 += f.right;
    own.y1 += f.bottom;
  }
  box.Add(own.x0, own.y0);
  box.Add(own.x1, own.y1);
}

namespace {

// FNV-1a over the bytes of plain values.
struct Hasher {
  std::uint64_t h = 1469598103934665603ull;
  template <class T>
  void Add(const T& v) {
    const auto* p = reinterpret_cast<const unsigned char*>(&v);
    for (std::size_t i = 0; i < sizeof(T); ++i) h = (h ^ p[i]) * 1099511628211ull;
  }
  void AddMatrix(const Matrix& m) {
    for (double v : {m.a, m.b, m.c, m.d, m.tx, m.ty}) Add(v);
  }
  void AddFilters(const std::vector<Filter>& filters) {
    for (const Filter& f : filters) {
      Add(f.kind);
      for (float v : {f.blurX, f.blurY, f.angle, f.distance, f.strength, f.divisor, f.bias}) Add(v);
      for (bool v : {f.inner, f.knockout, f.compositeSource, f.onTop, f.clamp, f.preserveAlpha})
        Add(v);
      Add(f.passes);
      for (const GradientStop& c : f.colors) Add(c);
      for (float v : f.matrix) Add(v);
      for (float v : f.kernel) Add(v);
      Add(f.defaultColor);
    }
  }
};

// What a clip's content looks like, apart from its own place: changes whenever anything drawn
// inside it changes.
// False when something inside can change without the tree showing it (text fields).
bool AddContent(Hasher& hash, const Clip& clip, int nesting) {
  // Text fields and pictures that scripts change in place.
  if (clip.kind == ClipKind::kEditText || clip.attachedBitmap) return false;
  for (const FillStyle& f : clip.drawing.fills)
    if (f.picture) return false;
  hash.Add(clip.kind);
  hash.Add(clip.character);
  hash.Add(clip.ratio);
  if (clip.kind == ClipKind::kVideo) {
    std::uint64_t serial = 0;
    hash.Add(reinterpret_cast<std::uintptr_t>(VideoPicture(clip, &serial)));
    hash.Add(serial);
  }
  hash.Add(clip.drawing.edges.size());
  hash.Add(clip.drawing.fills.size());
  hash.Add(clip.drawing.lines.size());
  if (!clip.drawing.edges.empty()) hash.Add(clip.drawing.edges.back().to);
  hash.Add(clip.scrollRect.has_value());
  if (clip.scrollRect)
    for (double v :
         {clip.scrollRect->x, clip.scrollRect->y, clip.scrollRect->width, clip.scrollRect->height})
      hash.Add(v);
  if (nesting > Stage::kMaxNesting) return true;
  for (const auto& [depth, child] : clip.children()) {
    hash.Add(depth);
    hash.Add(child->visible);
    hash.Add(child->clipDepth);
    hash.Add(child->blendMode);
    hash.AddMatrix(child->matrix);
    for (float v : child->cxform.mult) hash.Add(v);
    for (float v : child->cxform.add) hash.Add(v);
    hash.AddFilters(child->filters);
    if (!AddContent(hash, *child, nesting + 1)) return false;
  }
  return true;
}

}  // namespace

void Renderer::DrawLayered(const Clip& obj, const Matrix& m, const ColorTransform& cx,
                           int nesting) {
  const double scale = std::sqrt(std::fabs(view_.Determinant())) * 20;
  const Matrix dm = view_ * m * obj.matrix;
  // A filtered object is drawn as a bitmap placed on whole pixels: its origin moves to the
  // nearest pixel corner. A cached object without filters keeps its place; drawn without
  // anti-aliasing it lies half a pixel further right and down (as the reference pictures show:
  // lines of odd width on whole pixels fall on the pixels right and below them), except inside a
  // cached picture that is shifted already. Anti-aliased, the edges of a cached rectangle on whole
  // pixels stay sharp. Other layers keep the object where it is.
  const bool snapped = !obj.filters.empty();
  const bool halfShift = obj.cacheAsBitmap && !snapped && !halfShifted_ && options_.samples == 1;
  const double ox = snapped ? std::round(dm.tx) : std::floor(dm.tx);
  const double oy = snapped ? std::round(dm.ty) : std::floor(dm.ty);
  if (!std::isfinite(ox) || !std::isfinite(oy) || std::fabs(ox) > 1e7 || std::fabs(oy) > 1e7)
    return;
  // Cached layers are kept from frame to frame while the object looks the same.
  bool caching = (snapped || obj.cacheAsBitmap) && layers_ == 0 && !maskOut_;
  std::uint64_t signature = 0;
  if (caching) {
    Hasher hash;
    for (double v : {dm.a, dm.b, dm.c, dm.d}) hash.Add(v);
    if (!snapped) {
      hash.Add(dm.tx - ox);
      hash.Add(dm.ty - oy);
    }
    hash.Add(options_.samples);
    hash.AddFilters(obj.filters);
    caching = AddContent(hash, obj, nesting);
    signature = hash.h;
    const auto hit = cache_.find(&obj);
    if (caching && hit != cache_.end() && hit->second.signature == signature) {
      hit->second.used = true;
      Composite(obj, hit->second.layer, static_cast<int>(ox) + hit->second.dx,
                static_cast<int>(oy) + hit->second.dy, cx);
      return;
    }
  }
  Box box;
  AddBounds(obj, m, box, nesting);
  if (box.Empty() || !std::isfinite(box.x0) || !std::isfinite(box.y0) || !std::isfinite(box.x1) ||
      !std::isfinite(box.y1))
    return;
  // What lies further out than the filters reach cannot touch the target.
  const FilterMargins f = MarginsOf(obj.filters, scale);
  const double reach = f.left + f.right + f.top + f.bottom + 2;
  bool clipped = false;
  auto limit = [&](double& v, double lo, double hi) {
    if (v < lo || v > hi) clipped = true;
    v = std::clamp(v, lo, hi);
  };
  limit(box.x0, -reach, target_.width() + reach);
  limit(box.y0, -reach, target_.height() + reach);
  limit(box.x1, -reach, target_.width() + reach);
  limit(box.y1, -reach, target_.height() + reach);
  if (box.Empty()) return;
  const int x0 = static_cast<int>(std::floor(box.x0)) - 1;
  const int y0 = static_cast<int>(std::floor(box.y0)) - 1;
  const int x1 = static_cast<int>(std::ceil(box.x1)) + 1;
  const int y1 = static_cast<int>(std::ceil(box.y1)) + 1;
  const std::size_t w = static_cast<std::size_t>(x1 - x0), h = static_cast<std::size_t>(y1 - y0);
  if (w * h > pixelBudget_) return;
  pixelBudget_ -= w * h;
  PixelPlane layer;
  layer.width = static_cast<int>(w);
  layer.height = static_cast<int>(h);
  layer.px.assign(w * h, 0);
  {
    const SurfaceView savedTarget = target_;
    const Matrix savedView = view_;
    const bool savedLayer = layerTarget_;
    const bool savedHalf = halfShifted_;
    const std::uint8_t* savedMask = mask_;
    target_ = SurfaceView(layer.px.data(), layer.width, layer.height, layer.width);
    Matrix shift;
    shift.tx = -x0;
    shift.ty = -y0;
    if (snapped) {
      shift.tx -= dm.tx - ox;
      shift.ty -= dm.ty - oy;
    }
    if (halfShift) {
      shift.tx += 0.5;
      shift.ty += 0.5;
      halfShifted_ = true;
    }
    view_ = shift * view_;
    layerTarget_ = true;
    mask_ = nullptr;
    ++layers_;
    DrawContent(obj, m * obj.matrix, ColorTransform{}, nesting);
    --layers_;
    target_ = savedTarget;
    view_ = savedView;
    layerTarget_ = savedLayer;
    halfShifted_ = savedHalf;
    mask_ = savedMask;
  }
  ApplyFilters(obj.filters, scale, layer);
  Composite(obj, layer, x0, y0, cx);
  if (caching && !clipped && w * h <= kMaxCachedPixels) {
    CachedLayer& c = cache_[&obj];
    c.signature = signature;
    c.dx = x0 - static_cast<int>(ox);
    c.dy = y0 - static_cast<int>(oy);
    c.layer = std::move(layer);
    c.used = true;
  }
}

void Renderer::Composite(const Clip& obj, const PixelPlane& layer, int x0, int y0,
                         const ColorTransform& cx) {
  const ColorTransform cc = cx * obj.cxform;
  const bool identity = cc.Identity();
  BlendMode mode = static_cast<BlendMode>(obj.blendMode);
  if (obj.blendMode < 1 || obj.blendMode > 14) mode = BlendMode::kNormal;
  const std::size_t tw = static_cast<std::size_t>(target_.width());
  for (int ly = 0; ly < layer.height; ++ly) {
    const int ty = ly + y0;
    if (ty < 0 || ty >= target_.height()) continue;
    Pixel* row = target_.Row(ty);
    const std::uint8_t* maskRow = mask_ ? mask_ + static_cast<std::size_t>(ty) * tw : nullptr;
    const int lx0 = std::max(0, -x0), lx1 = std::min(layer.width, target_.width() - x0);
    if (identity && !maskRow && (mode == BlendMode::kNormal || mode == BlendMode::kLayer)) {
      if (lx1 > lx0)
        OverRow(row + lx0 + x0, &layer.px[static_cast<std::size_t>(ly) * layer.width + lx0],
                lx1 - lx0, layerTarget_);
      continue;
    }
    for (int lx = lx0; lx < lx1; ++lx) {
      std::uint32_t src = layer.At(lx, ly);
      if (!identity) src = TransformPremultiplied(src, cc);
      const int tx = lx + x0;
      if (maskRow) {
        const unsigned k = maskRow[tx];
        if (k == 0) continue;
        if (k < 255) {
          auto ch = [&](int shift) { return ((((src >> shift) & 0xFF) * k + 127) / 255) << shift; };
          src = ch(24) | ch(16) | ch(8) | ch(0);
        }
      }
      const std::uint32_t a = src >> 24;
      if (a == 0 && mode != BlendMode::kAlpha) continue;
      if (mode == BlendMode::kNormal || mode == BlendMode::kLayer) {
        if (a == 255) {
          row[tx] = layerTarget_ ? src : src & 0xFFFFFF;
          continue;
        }
        const std::uint32_t inv = 255 - a, d = row[tx];
        auto ch = [&](int shift) {
          return (((src >> shift) & 0xFF) + (((d >> shift) & 0xFF) * inv + 127) / 255) << shift;
        };
        row[tx] = (layerTarget_ ? ch(24) : 0) | ch(16) | ch(8) | ch(0);
        continue;
      }
      row[tx] = BlendPixel(row[tx], src, mode, layerTarget_);
    }
  }
}

void Renderer::Flatten(const ShapeEdge& e, const Matrix& m, bool reverse,
                       std::vector<Segment>& out) {
  P a = Apply(m, e.from), b = Apply(m, e.to);
  if (reverse) std::swap(a, b);
  if (!e.curve) {
    if (segmentBudget_ == 0) return;
    --segmentBudget_;
    out.push_back({a.x, a.y, b.x, b.y});
    return;
  }
  const P c = Apply(m, e.control);
  const float ddx = a.x - 2 * c.x + b.x, ddy = a.y - 2 * c.y + b.y;
  const float dd = std::sqrt(ddx * ddx + ddy * ddy);
  // The chord error of n pieces is |a - 2c + b| / (4 n^2); keep it under a tenth of a pixel.
  int n = std::isfinite(dd) ? static_cast<int>(std::ceil(std::sqrt(dd / 0.4f))) : 1;
  n = std::clamp(n, 1, 64);
  if (segmentBudget_ < static_cast<std::size_t>(n)) {
    segmentBudget_ = 0;
    return;
  }
  segmentBudget_ -= static_cast<std::size_t>(n);
  P prev = a;
  for (int i = 1; i <= n; ++i) {
    const float t = static_cast<float>(i) / static_cast<float>(n), u = 1 - t;
    const P p = i == n ? b
                       : P{u * u * a.x + 2 * u * t * c.x + t * t * b.x,
                           u * u * a.y + 2 * u * t * c.y + t * t * b.y};
    out.push_back({prev.x, prev.y, p.x, p.y});
    prev = p;
  }
}

void Renderer::Fill(FillRule rule, const Paint* paint) {
  const std::size_t w = static_cast<std::size_t>(target_.width());
  if (maskOut_) {
    raster_.Sweep(rule, [&](int y, const Span* spans, std::size_t n) {
      std::uint8_t* row = maskOut_ + static_cast<std::size_t>(y) * w;
      for (std::size_t i = 0; i < n; ++i)
        for (int x = spans[i].x0; x < spans[i].x1; ++x)
          row[x] = std::max(row[x], spans[i].coverage);
    });
    return;
  }
  if (!paint) return;
  raster_.Sweep(rule, [&](int y, const Span* spans, std::size_t n) {
    const std::uint8_t* maskRow = mask_ ? mask_ + static_cast<std::size_t>(y) * w : nullptr;
    Pixel* row = target_.Row(y);
    for (std::size_t i = 0; i < n; ++i) {
      const std::size_t len = static_cast<std::size_t>(spans[i].x1 - spans[i].x0);
      if (len > pixelBudget_) return;
      pixelBudget_ -= len;
      PaintSpan(row, y, spans[i].x0, spans[i].x1, spans[i].coverage, maskRow, *paint);
    }
  });
}

void Renderer::DrawShape(const Shape& shape, const Matrix& toDevice, const ColorTransform& cx,
                         const Bitmap* bitmap) {
  if (target_.width() <= 0 || target_.height() <= 0) return;
  // Each fill style is drawn as its own polygon: the edges with the style on their right (fill1)
  // as they are, those with it on their left (fill0) reversed.
  FillEdges byFill(shape.fills.size());
  for (std::size_t i = 0; i < shape.edges.size(); ++i) {
    const ShapeEdge& e = shape.edges[i];
    if (e.fill0 == e.fill1) continue;  // the same style on both sides adds nothing
    if (e.fill0 >= 0 && static_cast<std::size_t>(e.fill0) < byFill.size())
      byFill[static_cast<std::size_t>(e.fill0)].push_back({i, true});
    if (e.fill1 >= 0 && static_cast<std::size_t>(e.fill1) < byFill.size())
      byFill[static_cast<std::size_t>(e.fill1)].push_back({i, false});
  }
  // The edges of each line style, in order.
  LineEdges byLine(shape.lines.size());
  for (std::size_t i = 0; i < shape.edges.size(); ++i) {
    const int l = shape.edges[i].line;
    if (l >= 0 && static_cast<std::size_t>(l) < byLine.size())
      byLine[static_cast<std::size_t>(l)].push_back(i);
  }
  const FillRule rule = shape.nonZero ? FillRule::kNonZero : FillRule::kEvenOdd;
  // Layer by layer: its fills, then its strokes.
  std::size_t fillFrom = 0, lineFrom = 0;
  auto layer = [&](std::size_t fillTo, std::size_t lineTo) {
    DrawFills(shape, toDevice, cx, bitmap, byFill, rule, fillFrom, std::min(fillTo, byFill.size()));
    DrawStrokes(shape, toDevice, cx, byLine, lineFrom, std::min(lineTo, byLine.size()));
    fillFrom = std::max(fillFrom, fillTo);
    lineFrom = std::max(lineFrom, lineTo);
  };
  for (const auto& [fillEnd, lineEnd] : shape.layerEnds) layer(fillEnd, lineEnd);
  layer(shape.fills.size(), shape.lines.size());
}

const Bitmap* Renderer::PictureOf(const FillStyle& style) const {
  if (style.kind != FillKind::kBitmap) return nullptr;
  if (style.picture) return style.picture.get();
  const auto it = Current().characters.find(style.bitmap);
  if (it == Current().characters.end()) return nullptr;
  const auto* p = std::get_if<std::shared_ptr<const Bitmap>>(&it->second);
  return p ? p->get() : nullptr;
}

void Renderer::DrawFills(const Shape& shape, const Matrix& toDevice, const ColorTransform& cx,
                         const Bitmap* bitmap, const FillEdges& byFill, FillRule rule,
                         std::size_t from, std::size_t to) {
  const int sub = options_.samples;
  for (std::size_t f = from; f < to; ++f) {
    if (byFill[f].empty()) continue;
    Paint paint;
    const FillStyle& style = shape.fills[f];
    const Bitmap* bmp = bitmap ? bitmap : PictureOf(style);
    const bool visible = MakePaint(style, toDevice, cx, bmp, sub > 1, paint);
    paint.keepAlpha = layerTarget_;
    if (!visible && !maskOut_) continue;
    raster_.Reset(target_.width(), target_.height(), sub, true);
    scratch_.clear();
    for (const auto& [index, reverse] : byFill[f])
      Flatten(shape.edges[index], toDevice, reverse, scratch_);
    for (const Segment& s : scratch_) raster_.AddLine(s.x0, s.y0, s.x1, s.y1);
    Fill(rule, visible ? &paint : nullptr);
  }
}

void Renderer::DrawStrokes(const Shape& shape, const Matrix& toDevice, const ColorTransform& cx,
                           const LineEdges& byLine, std::size_t from, std::size_t to) {
  // A mask covers with its fills only.
  if (from >= to || maskOut_) return;
  const double viewScale = std::sqrt(std::fabs(view_.Determinant()));
  const auto toLocal = toDevice.Inverse();
  for (std::size_t l = from; l < to; ++l) {
    if (byLine[l].empty()) continue;
    const LineStyle& style = shape.lines[l];
    // Strokes scale with their shape (stretched with it), unless they are marked as not scaling
    // in both directions: then only the stage's scale applies.
    const bool local = !(style.noHScale && style.noVScale) && toLocal.has_value();
    const Matrix strokeToDevice = local ? toDevice : Matrix{};
    const float hw = static_cast<float>(local ? style.width / 2.0 : style.width * viewScale / 2.0);
    if (!std::isfinite(hw)) continue;
    FillStyle fill;
    if (style.hasFill) {
      fill = style.fill;
    } else {
      fill.color = style.color;
    }
    Paint paint;
    const Bitmap* bmp = PictureOf(fill);
    const bool visible = MakePaint(fill, toDevice, cx, bmp, options_.samples > 1, paint);
    paint.keepAlpha = layerTarget_;
    if (!visible && !maskOut_) continue;
    raster_.Reset(target_.width(), target_.height(), options_.samples);
    StrokeSink sink(raster_, strokeToDevice);
    std::vector<StrokePoint> pts;
    Vec2 last{};
    auto toStroke = [&](float x, float y) {
      if (!local) return P{x, y};
      return P{static_cast<float>(toLocal->a * x + toLocal->c * y + toLocal->tx),
               static_cast<float>(toLocal->b * x + toLocal->d * y + toLocal->ty)};
    };
    auto flush = [&] {
      if (!pts.empty()) StrokePolyline(sink, pts, std::min(hw, 1.0e6f), style);
      pts.clear();
    };
    for (std::size_t index : byLine[l]) {
      const ShapeEdge& e = shape.edges[index];
      if (!pts.empty() && !(e.from == last)) flush();
      scratch_.clear();
      Flatten(e, toDevice, false, scratch_);
      if (scratch_.empty()) break;  // out of budget
      if (pts.empty()) pts.push_back({toStroke(scratch_.front().x0, scratch_.front().y0), true});
      for (std::size_t k = 0; k < scratch_.size(); ++k)
        pts.push_back({toStroke(scratch_[k].x1, scratch_[k].y1), k + 1 == scratch_.size()});
      last = e.to;
    }
    flush();
    Fill(FillRule::kNonZero, visible ? &paint : nullptr);
  }
}

}  // namespace dbx::swf
