// Drawing of static texts and text fields: glyph outlines placed by the text's records or by the
// field's layout, filled run by run with the rasteriser like any shape (so that text follows the
// quality setting and can serve as a mask).
#include <algorithm>
#include <cmath>
#include <optional>

#include "swf/render/renderer.h"
#include "swf/text/text_field.h"

namespace dbx::swf {

namespace {

Matrix GlyphMatrix(float x, float y, float scale) {
  Matrix g;
  g.a = g.d = scale;
  g.tx = x;
  g.ty = y;
  return g;
}

// A filled rectangle, or with `inset` a frame of that width inside its edge.
Shape RectShape(float x0, float y0, float x1, float y1, Rgba color, float inset = 0) {
  Shape s;
  FillStyle f;
  f.color = color;
  s.fills.push_back(f);
  AddRectangle(s, x0, y0, x1, y1);
  if (inset > 0 && x1 - x0 > 2 * inset && y1 - y0 > 2 * inset)
    AddRectangle(s, x0 + inset, y0 + inset, x1 - inset, y1 - inset);
  return s;
}

// A field's box in whole device pixels, when the transform keeps it upright: a rotation or skew
// too small to move any corner by half a pixel counts as none. The top left corner goes to the
// nearest pixel edge (halves go up and left), the size to whole pixels.
struct PixelBox {
  double x0, y0, x1, y1;
};
std::optional<PixelBox> SnapUpright(const Matrix& m, const text::TextField::Box& box) {
  const double w = box.xmax - box.xmin, h = box.ymax - box.ymin;
  if (!(std::fabs(m.b) * w < 0.5 && std::fabs(m.c) * h < 0.5)) return std::nullopt;
  const double ax = m.a * box.xmin + m.c * box.ymin + m.tx, bx = ax + m.a * w;
  const double ay = m.b * box.xmin + m.d * box.ymin + m.ty, by = ay + m.d * h;
  if (!std::isfinite(ax) || !std::isfinite(bx) || !std::isfinite(ay) || !std::isfinite(by))
    return std::nullopt;
  const double x0 = std::ceil(std::min(ax, bx) - 0.5), y0 = std::ceil(std::min(ay, by) - 0.5);
  return PixelBox{x0, y0, x0 + std::round(std::fabs(bx - ax)), y0 + std::round(std::fabs(by - ay))};
}

// Text fields paint their colour as a multiplier of white in 1/256 steps, a little darker than the
// colour itself (#FF99CC comes out as 255, 152, 203).
Rgba FieldTextColor(Rgba c) {
  auto q = [](std::uint8_t v) { return static_cast<std::uint8_t>(255 * (v * 256 / 255) / 256); };
  return {q(c.r), q(c.g), q(c.b), c.a};
}

}  // namespace

void Renderer::SetFonts(text::FontLibrary* fonts) {
  fonts_ = fonts;
  fields_.clear();
  glyphMasks_.Trim(nullptr, 0);  // outlines of the faces handed out before may go
}

void Renderer::DrawText(const Clip& clip, const Character& ch, const Matrix& m,
                        const ColorTransform& cx) {
  if (!fonts_) return;
  if (const auto* st = std::get_if<StaticText>(&ch)) {
    const Matrix toDevice = view_ * m * st->matrix;
    std::vector<text::PlacedGlyph> run;
    for (const TextRecord& rec : st->records) {
      text::EmbeddedFace* face = fonts_->Embedded(rec.font, &Current());
      if (!face) continue;
      run.clear();
      float x = static_cast<float>(rec.x);
      for (const TextRecordGlyph& g : rec.glyphs) {
        if (const auto info = face->GlyphAt(g.index); info && info->outline)
          run.push_back({face, *info, x, static_cast<float>(rec.y), static_cast<float>(rec.height),
                         rec.color});
        x += static_cast<float>(g.advance);
      }
      if (!run.empty()) FillGlyphs(run.data(), run.size(), rec.color, toDevice, cx, nullptr);
    }
    return;
  }
  const auto* def = std::get_if<EditText>(&ch);
  if (!def) return;
  FieldState& state = fields_[clip.serial];
  if (!state.field || state.character != clip.character) {
    state.field = std::make_unique<text::TextField>(*def, Current().version, *fonts_, &Current());
    state.character = clip.character;
  }
  state.drawn = renders_;
  DrawTextField(*state.field, view_ * m, cx);
}

void Renderer::DrawTextField(text::TextField& field, const Matrix& toDevice,
                             const ColorTransform& cx) {
  if (!fonts_) return;
  const text::Layout& layout = field.CurrentLayout();
  const text::TextField::Box box = field.Bounds();
  const std::optional<PixelBox> snapped = SnapUpright(toDevice, box);
  if (snapped && (field.background || field.border)) {
    // On screen the box snaps to whole pixels; the border is one pixel wide, its right and
    // bottom lines on the pixels just past the box's edges.
    const auto l = static_cast<float>(snapped->x0), t = static_cast<float>(snapped->y0);
    const auto r = static_cast<float>(snapped->x1), b = static_cast<float>(snapped->y1);
    const Matrix pixels;
    if (field.background)
      DrawShape(RectShape(l, t, r + (field.border ? 1 : 0), b + (field.border ? 1 : 0),
                          field.backgroundColor),
                pixels, cx);
    if (field.border) {
      // Top, right, bottom, left. The corner past the bottom right is part of the frame of a
      // field that shows text only; an input field leaves it out.
      const float corner = field.input ? 0 : 1;
      DrawShape(RectShape(l, t, r + 1, t + 1, field.borderColor), pixels, cx);
      DrawShape(RectShape(r, t, r + 1, b + corner, field.borderColor), pixels, cx);
      DrawShape(RectShape(l, b, r, b + 1, field.borderColor), pixels, cx);
      DrawShape(RectShape(l, t, l + 1, b + 1, field.borderColor), pixels, cx);
    }
  } else {
    if (field.background)
      DrawShape(RectShape(box.xmin, box.ymin, box.xmax, box.ymax, field.backgroundColor), toDevice,
                cx);
    if (field.border) {
      // One pixel wide at the field's own scale, inside its box.
      DrawShape(RectShape(box.xmin, box.ymin, box.xmax, box.ymax, field.borderColor, 20), toDevice,
                cx);
    }
  }
  if (layout.lines.empty()) return;
  // The lines scrolled into view, clipped to the box where the box stays a rectangle on screen.
  const std::size_t first =
      std::min(static_cast<std::size_t>(std::max(field.Scroll(), 1) - 1), layout.lines.size() - 1);
  const float scrollY = layout.lines[first].top;
  const Matrix origin =
      toDevice * GlyphMatrix(box.xmin + text::kGutter, box.ymin + text::kGutter - scrollY, 1);
  float clip[4];
  const float* clipRect = nullptr;
  if (snapped) {
    clip[0] = static_cast<float>(snapped->x0);
    clip[1] = static_cast<float>(snapped->y0);
    clip[2] = static_cast<float>(snapped->x1);
    clip[3] = static_cast<float>(snapped->y1);
    clipRect = clip;
  }
  const float visibleBottom = scrollY + (box.ymax - box.ymin);
  // Consecutive glyphs of one colour and winding rule are filled together.
  const auto& glyphs = layout.glyphs;
  std::size_t i = 0;
  while (i < glyphs.size()) {
    std::size_t j = i + 1;
    while (j < glyphs.size() && glyphs[j].color == glyphs[i].color &&
           glyphs[j].face->NonZero() == glyphs[i].face->NonZero())
      ++j;
    // Leave out glyphs above the first line in view and below the box.
    std::size_t a = i, b = j;
    while (a < b && glyphs[a].y < scrollY) ++a;
    while (b > a && glyphs[b - 1].y - glyphs[b - 1].size > visibleBottom) --b;
    if (a < b)
      FillGlyphs(glyphs.data() + a, b - a, FieldTextColor(glyphs[a].color), origin, cx, clipRect);
    i = j;
  }
  for (const text::Underline& u : layout.underlines) {
    if (u.y < scrollY || u.y - u.thickness > visibleBottom) continue;
    DrawShape(RectShape(u.x0, u.y, u.x1, u.y + u.thickness, u.color), origin, cx);
  }
}

bool Renderer::PlaceGlyphMasks(const text::PlacedGlyph* glyphs, std::size_t count,
                               const Matrix& toDevice) {
  glyphMasks_.Trim(fonts_, fonts_->generation());
  placed_.clear();
  const int samples = options_.samples >= 4 ? 4 : options_.samples >= 2 ? 2 : 1;
  for (std::size_t k = 0; k < count; ++k) {
    const text::PlacedGlyph& g = glyphs[k];
    if (!g.glyph.outline || !g.face) continue;
    const Matrix m = toDevice * GlyphMatrix(g.x, g.y, g.size / g.face->EmUnits());
    if (!std::isfinite(m.tx) || !std::isfinite(m.ty) || std::fabs(m.tx) > 1e6 ||
        std::fabs(m.ty) > 1e6)
      return false;
    // The mask is made with the origin's fraction of a pixel and moved by whole pixels.
    const double ix = std::floor(m.tx), iy = std::floor(m.ty);
    GlyphMasks::Key key{g.glyph.outline,  m.a, m.b, m.c, m.d, m.tx - ix, m.ty - iy, samples,
                        g.face->NonZero()};
    const GlyphMask* mask = glyphMasks_.Find(key);
    if (!mask) {
      Matrix local = m;
      local.tx = key.fx;
      local.ty = key.fy;
      Box box;
      for (const ShapeEdge& e : g.glyph.outline->edges) {
        if (e.fill0 == e.fill1) continue;
        for (const Vec2 v : {e.from, e.to, e.control})
          box.Add(local.a * v.x + local.c * v.y + local.tx,
                  local.b * v.x + local.d * v.y + local.ty);
      }
      if (box.Empty()) continue;
      if (box.x1 - box.x0 > 256 || box.y1 - box.y0 > 256) return false;
      const int x0 = static_cast<int>(std::floor(box.x0)) - 1;
      const int y0 = static_cast<int>(std::floor(box.y0)) - 1;
      const int w = static_cast<int>(std::ceil(box.x1)) + 2 - x0;
      const int h = static_cast<int>(std::ceil(box.y1)) + 2 - y0;
      local.tx -= x0;
      local.ty -= y0;
      scratch_.clear();
      for (const ShapeEdge& e : g.glyph.outline->edges) {
        if (e.fill0 == e.fill1) continue;
        if (e.fill1 == 0) Flatten(e, local, false, scratch_);
        if (e.fill0 == 0) Flatten(e, local, true, scratch_);
      }
      std::size_t budget = raster_.WorkBudget();
      mask = glyphMasks_.Add(key, scratch_, x0, y0, w, h, budget);
      raster_.SetWorkBudget(budget);
      if (!mask) return false;
    }
    placed_.push_back({mask, static_cast<int>(ix) + mask->x, static_cast<int>(iy) + mask->y});
  }
  return true;
}

void Renderer::FillGlyphs(const text::PlacedGlyph* glyphs, std::size_t count, Rgba color,
                          const Matrix& toDevice, const ColorTransform& cx, const float* clip) {
  if (count == 0 || target_.width() <= 0 || target_.height() <= 0) return;
  FillStyle style;
  style.color = color;
  Paint paint;
  const bool visible = MakePaint(style, toDevice, cx, nullptr, options_.samples > 1, paint);
  paint.keepAlpha = layerTarget_;
  if (!visible && !maskOut_) return;
  const FillRule rule = glyphs[0].face->NonZero() ? FillRule::kNonZero : FillRule::kEvenOdd;
  int cx0 = 0, cy0 = 0, cx1 = target_.width(), cy1 = target_.height();
  if (clip) {
    cx0 = std::clamp(static_cast<int>(std::floor(clip[0])), 0, cx1);
    cy0 = std::clamp(static_cast<int>(std::floor(clip[1])), 0, cy1);
    cx1 = std::clamp(static_cast<int>(std::ceil(clip[2])), cx0, cx1);
    cy1 = std::clamp(static_cast<int>(std::ceil(clip[3])), cy0, cy1);
  }
  const std::size_t w = static_cast<std::size_t>(target_.width());
  auto emit = [&](int y, const Span* spans, std::size_t n) {
    if (y < cy0 || y >= cy1) return;
    for (std::size_t i = 0; i < n; ++i) {
      const int x0 = std::max(spans[i].x0, cx0), x1 = std::min(spans[i].x1, cx1);
      if (x0 >= x1) continue;
      if (maskOut_) {
        std::uint8_t* row = maskOut_ + static_cast<std::size_t>(y) * w;
        for (int x = x0; x < x1; ++x) row[x] = std::max(row[x], spans[i].coverage);
        continue;
      }
      const std::size_t len = static_cast<std::size_t>(x1 - x0);
      if (len > pixelBudget_) return;
      pixelBudget_ -= len;
      const std::uint8_t* maskRow = mask_ ? mask_ + static_cast<std::size_t>(y) * w : nullptr;
      PaintSpan(target_.Row(y), y, x0, x1, spans[i].coverage, maskRow, paint);
    }
  };
  // Glyphs of one face all have the same fill rule, so their masks merge as one polygon would.
  const bool oneFace = std::all_of(glyphs, glyphs + count, [&](const text::PlacedGlyph& g) {
    return g.face && g.face->NonZero() == glyphs[0].face->NonZero();
  });
  if (oneFace && PlaceGlyphMasks(glyphs, count, toDevice)) {
    int x0 = cx1, y0 = cy1, x1 = cx0, y1 = cy0;
    for (const GlyphMasks::Placed& p : placed_) {
      x0 = std::min(x0, p.x);
      y0 = std::min(y0, p.y);
      x1 = std::max(x1, p.x + p.mask->width);
      y1 = std::max(y1, p.y + p.mask->height);
    }
    struct Sink final : Rasterizer::RowSink {
      decltype(emit)& e;
      explicit Sink(decltype(emit)& em) : e(em) {}
      void Row(int y, const Span* spans, std::size_t n) override { e(y, spans, n); }
    } sink(emit);
    glyphMasks_.Compose(placed_.data(), placed_.size(), rule == FillRule::kNonZero,
                        options_.samples >= 4   ? 4
                        : options_.samples >= 2 ? 2
                                                : 1,
                        std::max(x0, cx0), std::max(y0, cy0), std::min(x1, cx1), std::min(y1, cy1),
                        sink);
    return;
  }
  // (Glyphs too large for masks are filled with as many samples as masks take.)
  raster_.Reset(target_.width(), target_.height(), std::min(options_.samples, 4));
  for (std::size_t k = 0; k < count; ++k) {
    const text::PlacedGlyph& g = glyphs[k];
    if (!g.glyph.outline || !g.face) continue;
    const Matrix m = toDevice * GlyphMatrix(g.x, g.y, g.size / g.face->EmUnits());
    scratch_.clear();
    for (const ShapeEdge& e : g.glyph.outline->edges) {
      if (e.fill0 == e.fill1) continue;
      if (e.fill1 == 0) Flatten(e, m, false, scratch_);
      if (e.fill0 == 0) Flatten(e, m, true, scratch_);
    }
    for (const Segment& s : scratch_) raster_.AddLine(s.x0, s.y0, s.x1, s.y1);
  }
  raster_.Sweep(rule, emit);
}

}  // namespace dbx::swf
