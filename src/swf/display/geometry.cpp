#include "swf/display/geometry.h"

#include <algorithm>
#include <cmath>

#include "swf/display/stage.h"
#include "swf/text/text_field.h"

namespace dbx::swf {

namespace {

constexpr int kCurveSteps = 8;
constexpr int kMaxNesting = 64;

// Crossings of the ray from (x, y) towards +x with the segment a-b, signed by direction.
int Crossing(double ax, double ay, double bx, double by, double x, double y) {
  if ((ay <= y) == (by <= y)) return 0;
  const double t = (y - ay) / (by - ay);
  if (ax + t * (bx - ax) <= x) return 0;
  return by > ay ? 1 : -1;
}

Box CharacterBounds(const Movie& movie, std::uint16_t id, int nesting);

Box BitmapRect(const Bitmap& b) {
  Box r;
  r.Add(0, 0);
  r.Add(b.width * 20.0, b.height * 20.0);
  return r;
}

Box ChildrenBounds(const Clip& clip) {
  Box r;
  if (!clip.drawing.edges.empty()) r.Add(ShapeBounds(clip.drawing));
  for (const auto& [d, child] : clip.children())
    r.Add(LocalBounds(*child).Transformed(child->matrix));
  return r;
}

Box CharacterBounds(const Movie& movie, std::uint16_t id, int nesting) {
  const auto it = movie.characters.find(id);
  if (it == movie.characters.end() || nesting > kMaxNesting) return {};
  const Character& ch = it->second;
  if (const auto* shape = std::get_if<Shape>(&ch)) return ShapeBounds(*shape);
  if (const auto* morph = std::get_if<MorphShape>(&ch)) {
    Box r = ShapeBounds(morph->start);
    r.Add(ShapeBounds(morph->end));
    return r;
  }
  if (const auto* bmp = std::get_if<std::shared_ptr<const Bitmap>>(&ch))
    return *bmp ? BitmapRect(**bmp) : Box{};
  if (const auto* stream = std::get_if<VideoStream>(&ch)) {
    Box r;
    r.Add(0, 0);
    r.Add(stream->width * 20.0, stream->height * 20.0);
    return r;
  }
  if (const auto* button = std::get_if<Button>(&ch)) {
    Box r;
    for (const ButtonRecord& rec : button->records)
      if (rec.states & kButtonUp)
        r.Add(CharacterBounds(movie, rec.character, nesting + 1).Transformed(rec.matrix));
    return r;
  }
  return {};
}

}  // namespace

Box ShapeBounds(const Shape& shape) {
  Box r;
  for (const ShapeEdge& e : shape.edges) {
    double pad = 0;
    if (e.line >= 0 && static_cast<std::size_t>(e.line) < shape.lines.size())
      pad = shape.lines[static_cast<std::size_t>(e.line)].width / 2.0;
    for (const Vec2& p : {e.from, e.to, e.control}) {
      r.Add(p.x - pad, p.y - pad);
      r.Add(p.x + pad, p.y + pad);
    }
  }
  return r;
}

bool ShapeContains(const Shape& shape, double x, double y) {
  // Winding per fill style would be exact; an even-odd count over the edges that bound a fill
  // answers for the shapes movies use as hit areas.
  int crossings = 0;
  for (const ShapeEdge& e : shape.edges) {
    if (e.fill0 < 0 && e.fill1 < 0) continue;
    if (e.fill0 == e.fill1) continue;
    if (!e.curve) {
      crossings += std::abs(Crossing(e.from.x, e.from.y, e.to.x, e.to.y, x, y));
      continue;
    }
    double px = e.from.x, py = e.from.y;
    for (int i = 1; i <= kCurveSteps; ++i) {
      const double t = static_cast<double>(i) / kCurveSteps, u = 1 - t;
      const double qx = u * u * e.from.x + 2 * u * t * e.control.x + t * t * e.to.x;
      const double qy = u * u * e.from.y + 2 * u * t * e.control.y + t * t * e.to.y;
      crossings += std::abs(Crossing(px, py, qx, qy, x, y));
      px = qx;
      py = qy;
    }
  }
  return crossings % 2 == 1;
}

Box LocalBounds(const Clip& clip) {
  const Movie& movie = *clip.movie;
  switch (clip.kind) {
    case ClipKind::kShape:
    case ClipKind::kBitmap:
    case ClipKind::kVideo:
      return CharacterBounds(movie, clip.character, 0);
    case ClipKind::kMorph: {
      const auto it = movie.characters.find(clip.character);
      if (it == movie.characters.end()) return {};
      const auto* morph = std::get_if<MorphShape>(&it->second);
      if (!morph) return {};
      // A morph keeps the bounds of its start shape at every ratio, as scripts see them (what
      // it draws is bounded by both shapes: see the renderer).
      const Box a = ShapeBounds(morph->start);
      return a.empty ? ShapeBounds(morph->end) : a;
    }
    case ClipKind::kText: {
      const auto it = movie.characters.find(clip.character);
      const auto* st =
          it == movie.characters.end() ? nullptr : std::get_if<StaticText>(&it->second);
      if (!st) return {};
      Box r;
      r.Add(st->xmin, st->ymin);
      r.Add(st->xmax, st->ymax);
      return r.Transformed(st->matrix);
    }
    case ClipKind::kEditText: {
      if (!clip.field) return {};
      const text::TextField::Box b = clip.field->Bounds();
      Box r;
      r.Add(b.xmin, b.ymin);
      r.Add(b.xmax, b.ymax);
      return r;
    }
    default:
      return ChildrenBounds(clip);
  }
}

bool CharacterContains(const Movie& movie, std::uint16_t id, const Matrix& toStage, double x,
                       double y, int nesting) {
  const auto it = movie.characters.find(id);
  if (it == movie.characters.end() || nesting > kMaxNesting) return false;
  const auto inv = toStage.Inverse();
  if (!inv) return false;
  const double lx = inv->a * x + inv->c * y + inv->tx, ly = inv->b * x + inv->d * y + inv->ty;
  const Character& ch = it->second;
  if (const auto* shape = std::get_if<Shape>(&ch)) return ShapeContains(*shape, lx, ly);
  if (const auto* morph = std::get_if<MorphShape>(&ch)) return ShapeContains(morph->start, lx, ly);
  if (const auto* bmp = std::get_if<std::shared_ptr<const Bitmap>>(&ch))
    return *bmp && BitmapRect(**bmp).Contains(lx, ly);
  if (const auto* sprite = std::get_if<Sprite>(&ch)) {
    // A sprite as a hit area: what its first frame places.
    if (sprite->timeline.frames.empty()) return false;
    for (const PlaceCommand& cmd : sprite->timeline.frames.front().commands)
      if (cmd.character &&
          CharacterContains(movie, *cmd.character, toStage * cmd.matrix.value_or(Matrix{}), x, y,
                            nesting + 1))
        return true;
    return false;
  }
  if (const auto* button = std::get_if<Button>(&ch)) {
    for (const ButtonRecord& rec : button->records)
      if ((rec.states & kButtonHit) &&
          CharacterContains(movie, rec.character, toStage * rec.matrix, x, y, nesting + 1))
        return true;
  }
  return false;
}

namespace {

// Whether a morph shape at the clip's ratio covers a stage point: its edges blended as they are
// drawn.
bool MorphContains(const Clip& clip, const Matrix& toStage, double x, double y) {
  const auto it = clip.movie->characters.find(clip.character);
  const auto* morph =
      it == clip.movie->characters.end() ? nullptr : std::get_if<MorphShape>(&it->second);
  const auto inv = toStage.Inverse();
  if (!morph || !inv) return false;
  const double lx = inv->a * x + inv->c * y + inv->tx, ly = inv->b * x + inv->d * y + inv->ty;
  const float t = static_cast<float>(clip.ratio) / 65535.0f;
  const auto lerp = [t](float a, float b) { return a + (b - a) * t; };
  Shape s;
  const std::size_t n = std::min(morph->start.edges.size(), morph->end.edges.size());
  s.edges.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    ShapeEdge e = morph->start.edges[i];
    const ShapeEdge& b = morph->end.edges[i];
    for (auto [p, q] : {std::pair{&e.from, &b.from}, std::pair{&e.control, &b.control},
                        std::pair{&e.to, &b.to}}) {
      p->x = lerp(p->x, q->x);
      p->y = lerp(p->y, q->y);
    }
    s.edges.push_back(e);
  }
  return ShapeContains(s, lx, ly);
}

bool HitsContentAt(const Clip& clip, const Matrix& toStage, double x, double y, int nesting) {
  if (nesting > kMaxNesting) return false;
  const Movie& movie = *clip.movie;
  switch (clip.kind) {
    case ClipKind::kMorph:
      return MorphContains(clip, toStage, x, y);
    case ClipKind::kShape:
    case ClipKind::kBitmap:
      return CharacterContains(movie, clip.character, toStage, x, y);
    case ClipKind::kText:
    case ClipKind::kEditText:
      return LocalBounds(clip).Transformed(toStage).Contains(x, y);
    default:
      break;
  }
  if (!clip.drawing.edges.empty()) {
    if (const auto inv = toStage.Inverse()) {
      const double lx = inv->a * x + inv->c * y + inv->tx, ly = inv->b * x + inv->d * y + inv->ty;
      if (ShapeContains(clip.drawing, lx, ly)) return true;
    }
  }
  for (const auto& [d, child] : clip.children())
    if (HitsContentAt(*child, toStage * child->matrix, x, y, nesting + 1)) return true;
  return false;
}

}  // namespace

bool HitsContent(const Clip& clip, double x, double y) {
  return HitsContentAt(clip, clip.ConcatenatedMatrix(), x, y, 0);
}

}  // namespace dbx::swf
