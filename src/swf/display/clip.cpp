#include "swf/display/clip.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <numbers>

#include "swf/display/geometry.h"
#include "swf/display/stage.h"
#include "swf/text/text_field.h"

namespace dbx::swf {

void Box::Add(double x, double y) {
  if (empty) {
    xmin = xmax = x;
    ymin = ymax = y;
    empty = false;
    return;
  }
  xmin = std::min(xmin, x);
  xmax = std::max(xmax, x);
  ymin = std::min(ymin, y);
  ymax = std::max(ymax, y);
}

void Box::Add(const Box& r) {
  if (r.empty) return;
  Add(r.xmin, r.ymin);
  Add(r.xmax, r.ymax);
}

Box Box::Transformed(const Matrix& m) const {
  Box out;
  if (empty) return out;
  for (const double x : {xmin, xmax})
    for (const double y : {ymin, ymax})
      out.Add(std::round(m.a * x + m.c * y + m.tx), std::round(m.b * x + m.d * y + m.ty));
  return out;
}

Clip::Clip(Stage& stage, ClipKind k, std::uint16_t ch) : kind(k), character(ch), stage_(&stage) {}
Clip::~Clip() {
  SetScriptMask(nullptr);
  if (maskOf) maskOf->SetScriptMask(nullptr);
}

void Clip::SetScriptMask(Clip* mask) {
  if (mask == this) mask = nullptr;
  if (maskClip) maskClip->maskOf = nullptr;
  if (mask && mask->maskOf) mask->maskOf->maskClip = nullptr;
  maskClip = mask;
  if (mask) mask->maskOf = this;
}

void Clip::SetMatrix(const Matrix& m) {
  matrix = m;
  xscale_ = std::sqrt(m.a * m.a + m.b * m.b) * 100;
  yscale_ = std::sqrt(m.c * m.c + m.d * m.d) * 100;
  rotation_ = (m.a == 0 && m.b == 0) ? 0 : std::atan2(m.b, m.a) * 180 / std::numbers::pi;
}

void Clip::ApplyScaleRotation() {
  const double r = rotation_ * std::numbers::pi / 180;
  const double sx = xscale_ / 100, sy = yscale_ / 100;
  const double cs = std::cos(r), sn = std::sin(r);
  matrix.a = sx * cs;
  matrix.b = sx * sn;
  matrix.c = -sy * sn;
  matrix.d = sy * cs;
  // An infinite scale or an angle that is not a number keep their value for scripts; the clip
  // is drawn at no size.
  if (!std::isfinite(matrix.a) || !std::isfinite(matrix.b) || !std::isfinite(matrix.c) ||
      !std::isfinite(matrix.d))
    matrix.a = matrix.b = matrix.c = matrix.d = 0;
  scriptTransformed = true;
}

void Clip::SetXScale(double percent) {
  if (std::isnan(percent)) return;
  xscale_ = percent;
  ApplyScaleRotation();
}

void Clip::SetYScale(double percent) {
  if (std::isnan(percent)) return;
  yscale_ = percent;
  ApplyScaleRotation();
}

void Clip::SetRotation(double degrees) {
  if (std::isnan(degrees)) return;
  degrees = std::fmod(degrees, 360.0);
  if (degrees > 180) degrees -= 360;
  if (degrees < -180) degrees += 360;
  rotation_ = degrees;
  ApplyScaleRotation();
}

void Clip::SetPosition(double x, double y) {
  if (std::isfinite(x)) matrix.tx = x;
  if (std::isfinite(y)) matrix.ty = y;
  scriptTransformed = true;
}

int Clip::TotalFrames() const {
  return timeline && !timeline->frames.empty() ? static_cast<int>(timeline->frames.size()) : 1;
}

void Clip::GotoFrame(int frame, bool play) {
  if (kind != ClipKind::kMovie || removed) return;
  stage_->Goto(*this, frame);
  playing = play;
}

bool Clip::GotoLabel(std::string_view label, bool play) {
  int n = 0;
  const auto [end, ec] = std::from_chars(label.data(), label.data() + label.size(), n);
  if (ec == std::errc() && end == label.data() + label.size()) {
    GotoFrame(n - 1, play);
    return true;
  }
  if (!timeline) return false;
  const auto f = timeline->FindLabel(label);
  if (!f) return false;
  GotoFrame(static_cast<int>(*f), play);
  return true;
}

bool Clip::GotoScene(std::string_view scene, int frameInScene, bool play) {
  if (!timeline) return false;
  std::size_t offset = 0;
  if (!scene.empty()) {
    bool found = false;
    for (const Scene& s : timeline->scenes)
      if (s.name == scene) {
        offset = s.offset;
        found = true;
        break;
      }
    if (!found) return false;
  }
  GotoFrame(static_cast<int>(offset) + frameInScene, play);
  return true;
}

Scene Clip::CurrentScene() const {
  Scene current;
  if (!timeline) return current;
  for (const Scene& s : timeline->scenes)
    if (static_cast<int>(s.offset) <= std::max(currentFrame, 0)) current = s;
  return current;
}

Clip* Clip::ChildAt(int fileDepth) const {
  const auto it = children_.find(fileDepth);
  return it == children_.end() ? nullptr : it->second.get();
}

namespace {

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

}  // namespace

Clip* Clip::ChildNamed(std::string_view n) const {
  const bool ignoreCase = stage_->NamesIgnoreCase();
  for (const auto& [d, c] : children_)
    if (ignoreCase ? EqualsNoCase(c->name, n) : c->name == n) return c.get();
  return nullptr;
}

int Clip::NextHighestDepth() const {
  if (children_.empty()) return 0;
  const int top = children_.rbegin()->first;
  return top < kDepthOffset ? 0 : top - kDepthOffset + 1;
}

Clip* Clip::Attach(std::string_view exportName, std::string_view newName, int scriptDepth) {
  // A name is exported once its movie's timeline ran the frame that exports it.
  const Clip* root = this;
  while (root->parent && root->parent->movie == movie) root = root->parent;
  const auto id = movie->FindExport(exportName, root->framesRun);
  if (!id || removed) return nullptr;
  return stage_->Instantiate(*this, scriptDepth + kDepthOffset, *id, newName, -1);
}

Clip* Clip::CreateEmpty(std::string_view newName, int scriptDepth) {
  if (removed) return nullptr;
  return stage_->Instantiate(*this, scriptDepth + kDepthOffset, 0, newName, -1);
}

Clip* Clip::CreateTextField(std::string_view newName, int scriptDepth, double x, double y,
                            double width, double height) {
  if (removed) return nullptr;
  EditText def;
  auto twips = [](double v) {
    return static_cast<std::int32_t>(std::clamp(std::round(v), -1.0e8, 1.0e8));
  };
  def.xmax = twips(std::max(0.0, width));
  def.ymax = twips(std::max(0.0, height));
  def.readOnly = true;  // made by a script: "dynamic"
  Clip* c = stage_->InstantiateTextField(*this, scriptDepth + kDepthOffset, newName, def);
  if (c) c->SetPosition(twips(x), twips(y));
  return c;
}

Clip* Clip::Duplicate(std::string_view newName, int scriptDepth) {
  if (!parent || removed) return nullptr;
  const std::uint16_t id = Imported() ? placedAs : character;
  Clip* copy = stage_->Instantiate(*parent, scriptDepth + kDepthOffset, id, newName, -1);
  if (!copy || copy == this) return copy;
  copy->matrix = matrix;
  copy->xscale_ = xscale_;
  copy->yscale_ = yscale_;
  copy->rotation_ = rotation_;
  copy->cxform = cxform;
  copy->ratio = ratio;
  copy->visible = visible;
  copy->blendMode = blendMode;
  copy->cacheAsBitmap = cacheAsBitmap;
  copy->clipActions = clipActions;
  copy->drawing = drawing;
  copy->scriptTransformed = scriptTransformed;
  return copy;
}

void Clip::Remove() {
  if (parent && !removed) stage_->RemoveClip(*this);
}

void Clip::SwapDepths(int scriptDepth) {
  if (parent && !removed) stage_->MoveToDepth(*this, scriptDepth + kDepthOffset);
}

void Clip::SwapDepths(Clip& sibling) {
  if (parent && !removed && sibling.parent == parent) stage_->MoveToDepth(*this, sibling.depth);
}

Matrix Clip::ConcatenatedMatrix() const {
  Matrix m = matrix;
  for (const Clip* p = parent; p; p = p->parent) m = p->matrix * m;
  return m;
}

ColorTransform Clip::ConcatenatedCxform() const {
  ColorTransform cx = cxform;
  for (const Clip* p = parent; p; p = p->parent) cx = p->cxform * cx;
  return cx;
}

StagePoint Clip::LocalToGlobal(StagePoint p) const {
  const Matrix m = ConcatenatedMatrix();
  return {m.a * p.x + m.c * p.y + m.tx, m.b * p.x + m.d * p.y + m.ty};
}

StagePoint InverseInTwips(const Matrix& inverse, StagePoint p) {
  return {std::round(inverse.a * p.x + inverse.c * p.y) + std::round(inverse.tx),
          std::round(inverse.b * p.x + inverse.d * p.y) + std::round(inverse.ty)};
}

StagePoint Clip::GlobalToLocal(StagePoint p) const {
  const auto inv = ConcatenatedMatrix().Inverse();
  return inv ? InverseInTwips(*inv, p) : p;
}

Box Clip::Bounds(const Clip* space) const {
  const Box own = LocalBounds(*this);
  if (!space || space == this) return own;
  // In the space of a clip it lies in: the matrices between them (whatever the space's own
  // scale, even none).
  Matrix up = matrix;
  for (const Clip* p = parent; p; p = p->parent) {
    if (p == space) return own.Transformed(up);
    up = p->matrix * up;
  }
  const auto inv = space->ConcatenatedMatrix().Inverse();
  if (!inv) return {};
  return own.Transformed(*inv * ConcatenatedMatrix());
}

bool Clip::HitTest(double x, double y, bool shapeFlag) const {
  if (!shapeFlag) return LocalBounds(*this).Transformed(ConcatenatedMatrix()).Contains(x, y);
  return HitsContent(*this, x, y);
}

bool Clip::HitTest(const Clip& other) const {
  return LocalBounds(*this)
      .Transformed(ConcatenatedMatrix())
      .Intersects(LocalBounds(other).Transformed(other.ConcatenatedMatrix()));
}

std::string Clip::TargetPath() const {
  if (!parent) return "_level" + std::to_string(level);
  return parent->TargetPath() + "." + name;
}

std::string Clip::SlashPath() const {
  if (!parent) return level == 0 ? "/" : "_level" + std::to_string(level) + "/";
  const std::string up = parent->SlashPath();
  return (up.back() == '/' ? up : up + "/") + name;
}

Clip& Clip::Root() {
  Clip* c = this;
  while (c->parent) c = c->parent;
  return *c;
}

}  // namespace dbx::swf
