#include "swf/avm1/runtime.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <numbers>
#include <system_error>

#include "swf/avm1/array.h"
#include "swf/avm1/bitmap_data.h"
#include "swf/avm1/builtins.h"
#include "swf/avm1/filters_object.h"
#include "swf/avm1/loader.h"
#include "swf/avm1/movie_loader.h"
#include "swf/avm1/transform.h"
#include "swf/display/geometry.h"
#include "swf/text/text_field.h"

namespace dbx::swf::avm1 {

namespace {

const char* const kPropertyNames[] = {
    "_x",           "_y",           "_xscale",       "_yscale",       "_currentframe",
    "_totalframes", "_alpha",       "_visible",      "_width",        "_height",
    "_rotation",    "_target",      "_framesloaded", "_name",         "_droptarget",
    "_url",         "_highquality", "_focusrect",    "_soundbuftime", "_quality",
    "_xmouse",      "_ymouse"};
constexpr int kPropertyCount = 22;

// The child a script names: before SWF 7 names match in any case, as property names do (every
// character folds, not only the Latin letters).
Clip* ChildNamed(const Clip& parent, std::string_view name, bool ignoreCase) {
  if (!ignoreCase) return parent.ChildNamed(name);
  if (Clip* c = parent.ChildNamed(name)) return c;
  for (const auto& [depth, c] : parent.children())
    if (EqualsFolded(c->name, name)) return c.get();
  return nullptr;
}

// The names scripts use for the blend modes, by their number in the file.
const char* BlendModeName(std::uint8_t mode) {
  static const char* const kNames[] = {"normal",  "normal", "layer",      "multiply", "screen",
                                       "lighten", "darken", "difference", "add",      "subtract",
                                       "invert",  "alpha",  "erase",      "overlay",  "hardlight"};
  return mode < std::size(kNames) ? kNames[mode] : "normal";
}

// An alpha multiplier in the player's 1/256 steps, rounded towards zero.
double AlphaSteps(double a) {
  return std::trunc(std::clamp(a, -128.0, 128.0) * 256) / 256;
}

const char* QualityName(Stage::Quality quality) {
  switch (quality) {
    case Stage::Quality::kLow:
      return "LOW";
    case Stage::Quality::kMedium:
      return "MEDIUM";
    case Stage::Quality::kBest:
      return "BEST";
    default:
      return "HIGH";
  }
}

int PropertyIndex(std::string_view name) {
  if (name.size() < 2 || name[0] != '_') return -1;
  for (int i = 0; i < kPropertyCount; ++i)
    if (EqualsFolded(name, kPropertyNames[i])) return i;
  return -1;
}

// Names of the timeline's own variables compare without regard to case before SWF 7.
bool SameName(const Vm& vm, std::string_view a, std::string_view b) {
  return vm.version() >= 7 ? a == b : EqualsFolded(a, b);
}

// The level a name gives, its "_level" or "_flash" read with the movie's case rule (-1: none).
int LevelNamed(const Vm& vm, std::string_view name) {
  if (name.size() < 6 ||
      !(SameName(vm, name.substr(0, 6), "_level") || SameName(vm, name.substr(0, 6), "_flash")))
    return -1;
  return LevelOf(name);
}

// Rounds to whole twips, as the player stores positions.
double ToTwips(double pixels) {
  return std::round(pixels * 20);
}

struct DrawState {
  int fill = -1, line = -1;
  Vec2 pen, start;
  bool open = false;
};

}  // namespace

// A clip as the scripts see it: the clip's named children and its properties (_x, ...) come
// before the prototype.
class MovieClipObject : public ClipObject {
 public:
  MovieClipObject(Heap& heap, Object* proto, Runtime* rt, Clip* c)
      : ClipObject(heap, proto),
        runtime(rt),
        clip(c),
        bornPath(c ? c->TargetPath() : ""),
        timeline(!c || c->kind == ClipKind::kMovie) {}
  bool Timeline() const override { return timeline; }

  Runtime* runtime;
  Clip* clip;            // null once the clip has gone
  std::string bornPath;  // the path when scripts first saw the clip
  DrawState draw;
  // From version 6 a clip that is not a level's root keeps a _focusrect of its own (none: null).
  std::optional<bool> focusRect;
  bool timeline;  // made for a timeline (not a button or a text field)

  ClipObject* Relocated(Vm& vm) override {
    if (bornPath.empty() || !vm.root) return nullptr;
    Object* o = vm.ResolveTarget(vm.root, bornPath);
    if (!o || o == this || o->cls() != ObjClass::kClip) return nullptr;
    auto* c = static_cast<ClipObject*>(o);
    return c->Alive() ? c : nullptr;
  }

  bool Alive() const override { return clip && !clip->removed; }
  const Movie* OwnMovie() const override { return Alive() ? clip->movie : nullptr; }
  ClipObject* ParentClip() override {
    if (!clip || !clip->parent) return nullptr;
    return runtime->ObjectOf(clip->parent);
  }
  ClipObject* ChildByName(std::string_view name) override {
    if (!clip) return nullptr;
    return NamedChild(runtime->vm(), name);
  }
  ClipObject* LockedRoot(Vm& vm) override {
    for (Clip* c = clip; c && c->parent; c = c->parent)
      if (MovieClipObject* o = runtime->ObjectOf(c))
        if (Property* p = o->FindOwn("_lockroot"); p && !p->getter && vm.ToBool(p->value)) return o;
    return nullptr;
  }
  // The object a child's name gives: a named shape or other object that scripts cannot reach
  // stands for the clip it sits in.
  MovieClipObject* NamedChild(Vm& vm, std::string_view name) {
    Clip* c = avm1::ChildNamed(*clip, name, vm.version() < 7);
    if (!c) return nullptr;
    MovieClipObject* o = runtime->ObjectOf(c);
    return o ? o : this;
  }
  std::string TargetPath() override { return clip ? clip->TargetPath() : std::string(); }
  std::string SlashPath() override { return clip ? clip->SlashPath() : std::string(); }

  Value GetIndexed(Vm& vm, int index) override;
  void SetIndexed(Vm& vm, int index, const Value& v) override;

  void GotoFrame(Vm&, int frame, bool play) override {
    // Frame numbers come from scripts: the lowest int has no frame before it.
    if (clip) clip->GotoFrame(frame > std::numeric_limits<int>::min() ? frame - 1 : frame, play);
  }
  bool GotoLabel(Vm&, std::string_view label, bool play) override {
    return clip && clip->GotoLabel(label, play);
  }
  void Play() override {
    if (clip) clip->Play();
  }
  void Stop() override {
    if (clip) clip->Stop();
  }
  int CurrentFrame() override { return clip ? clip->currentFrame + 1 : 0; }
  int TotalFrames() override { return clip ? clip->TotalFrames() : 0; }
  int FrameOfLabel(std::string_view label) override {
    if (!clip || !clip->timeline) return 0;
    auto f = clip->timeline->FindLabel(label);
    return f ? static_cast<int>(*f) + 1 : 0;
  }
  void CallFrame(Vm&, int frame) override {
    if (!clip || !clip->timeline || frame < 1 ||
        frame > static_cast<int>(clip->timeline->frames.size()))
      return;
    for (auto& a : clip->timeline->frames[static_cast<std::size_t>(frame - 1)].actions)
      runtime->RunActions(*clip, ByteSpan(a.code.data(), a.code.size()));
  }
  void Duplicate(Vm&, std::string_view name, int depth) override {
    if (clip && clip->parent) clip->Duplicate(name, depth - kDepthOffset);
  }
  void RemoveSelf(Vm&) override {
    // Only clips made by scripts (depth 0 and up as scripts count) can be removed.
    if (clip && clip->parent && clip->depth >= kDepthOffset) clip->Remove();
  }

  bool GetSpecial(Vm& vm, std::string_view name, Value& out) override {
    if (!clip) return false;
    // A level that is there comes before a child of the same name.
    if (const int level = LevelNamed(vm, name); level >= 0)
      if (Clip* c = clip->stage().Level(level)) {
        out = Value(static_cast<Object*>(runtime->ObjectOf(c)));
        return true;
      }
    if (MovieClipObject* o = NamedChild(vm, name)) {
      out = Value(static_cast<Object*>(o));
      return true;
    }
    int i = PropertyIndex(name);
    if (i >= 0) {
      out = GetIndexed(vm, i);
      return true;
    }
    if (SameName(vm, name, "_parent")) {
      ClipObject* p = ParentClip();
      out = p ? Value(static_cast<Object*>(p)) : Value();
      return true;
    }
    if (SameName(vm, name, "_root")) {
      ClipObject* locked = LockedRoot(vm);
      out = Value(static_cast<Object*>(locked ? locked : runtime->ObjectOf(&clip->Root())));
      return true;
    }
    if (SameName(vm, name, "_level0")) {
      out = Value(static_cast<Object*>(runtime->ObjectOf(&clip->Root())));
      return true;
    }
    if (SameName(vm, name, "_global") && vm.version() >= 6) {
      out = Value(vm.global);
      return true;
    }
    if (const int level = LevelNamed(vm, name); level >= 0) {
      Clip* c = clip->stage().Level(level);
      out = c ? Value(static_cast<Object*>(runtime->ObjectOf(c))) : Value();
      return true;
    }
    if (vm.version() >= 8 && SameName(vm, name, "transform")) {
      out = NewTransform(vm, this);
      return true;
    }
    if (name == "useHandCursor") {
      out = Value(clip->useHandCursor);
      return true;
    }
    // (Set, it is an own property of the clip's object.)
    if (SameName(vm, name, "_lockroot")) {
      out = Value(false);
      return true;
    }
    if (vm.version() >= 8 && SameName(vm, name, "blendMode")) {
      out = Value(std::string(BlendModeName(clip->blendMode)));
      return true;
    }
    if (vm.version() >= 8 && SameName(vm, name, "cacheAsBitmap")) {
      out = Value(clip->cacheAsBitmap);
      return true;
    }
    if (vm.version() >= 8 && SameName(vm, name, "filters")) {
      out = Value(FiltersToScript(vm, clip->filters));
      return true;
    }
    if (vm.version() >= 8 && SameName(vm, name, "scrollRect")) {
      out = Value();
      if (const auto& r = clip->scrollRect) {
        out = vm.Construct(vm.FlashMember("geom", "Rectangle"),
                           {Value(r->x), Value(r->y), Value(r->width), Value(r->height)});
      }
      return true;
    }
    if (vm.version() >= 8 && SameName(vm, name, "scale9Grid")) {
      out = Value();
      if (const auto& g = clip->scale9Grid) {
        out = vm.Construct(vm.FlashMember("geom", "Rectangle"),
                           {Value(g->xmin / 20.0), Value(g->ymin / 20.0),
                            Value((g->xmax - g->xmin) / 20.0), Value((g->ymax - g->ymin) / 20.0)});
      }
      return true;
    }
    return false;
  }
  bool SetSpecial(Vm& vm, std::string_view name, const Value& v) override {
    if (!clip) return false;
    int i = PropertyIndex(name);
    if (i >= 0) {
      SetIndexed(vm, i, v);
      return true;
    }
    if (vm.version() >= 8 && SameName(vm, name, "transform")) {
      AssignTransform(vm, *clip, v);
      return true;
    }
    if (name == "useHandCursor") clip->useHandCursor = vm.ToBool(v);
    if (vm.version() >= 8 && SameName(vm, name, "blendMode")) {
      SetBlendMode(vm, v);
      return true;
    }
    if (vm.version() >= 8 && SameName(vm, name, "cacheAsBitmap")) {
      clip->cacheAsBitmap = vm.ToBool(v);
      return true;
    }
    if (vm.version() >= 8 && SameName(vm, name, "filters")) {
      clip->filters = FiltersFromScript(vm, v);
      return true;
    }
    if (vm.version() >= 8 && SameName(vm, name, "scrollRect")) {
      // Any object gives the window its x, y, width and height; anything else takes it away.
      clip->scrollRect.reset();
      if (Object* o = v.AsObject()) {
        auto number = [&](const char* key) {
          const double n = vm.ToNumber(vm.Get(o, key));
          return std::isfinite(n) ? n : 0.0;
        };
        clip->scrollRect =
            Clip::ScrollRect{number("x"), number("y"), number("width"), number("height")};
      }
      return true;
    }
    if (vm.version() >= 8 && SameName(vm, name, "scale9Grid")) {
      // A rectangle of some size sets the grid (in pixels of the clip's space); anything else
      // takes it away.
      clip->scale9Grid.reset();
      if (Object* o = v.AsObject()) {
        auto twips = [&](const char* key) {
          const double n = vm.ToNumber(vm.Get(o, key)) * 20;
          return std::isfinite(n) ? std::clamp(n, -1e9, 1e9) : 0.0;
        };
        const double x = twips("x"), y = twips("y"), w = twips("width"), h = twips("height");
        if (w > 0 && h > 0)
          clip->scale9Grid =
              TwipsRect{static_cast<std::int32_t>(std::lround(x)),
                        static_cast<std::int32_t>(std::lround(std::clamp(x + w, -1e9, 1e9))),
                        static_cast<std::int32_t>(std::lround(y)),
                        static_cast<std::int32_t>(std::lround(std::clamp(y + h, -1e9, 1e9)))};
      }
      return true;
    }
    return false;
  }
  // A blend mode by name, or by its number in the file (modulo 256); other values leave the mode.
  void SetBlendMode(Vm& vm, const Value& v) {
    if (v.IsUndefined() || v.IsNull()) {
      clip->blendMode = 0;
      return;
    }
    if (v.IsNumber()) {
      const double n = v.n;
      if (!std::isfinite(n) || n < 0) return;
      const int mode = static_cast<int>(static_cast<std::int64_t>(n) % 256);
      if (mode <= 14) clip->blendMode = static_cast<std::uint8_t>(mode);
      return;
    }
    if (!v.IsString()) return;
    const std::string s = vm.ToString(v);
    for (int i = 1; i <= 14; ++i)
      if (s == BlendModeName(static_cast<std::uint8_t>(i))) {
        clip->blendMode = static_cast<std::uint8_t>(i == 1 ? 0 : i);
        return;
      }
  }
  bool HasSpecial(Vm& vm, std::string_view name) override {
    if (!clip) return false;
    if (NamedChild(vm, name)) return true;
    return PropertyIndex(name) >= 0 || SameName(vm, name, "_parent") ||
           SameName(vm, name, "_root") || SameName(vm, name, "_level0") ||
           (LevelNamed(vm, name) >= 0 && clip->stage().Level(LevelNamed(vm, name))) ||
           (vm.version() >= 6 && SameName(vm, name, "_global")) || name == "useHandCursor" ||
           SameName(vm, name, "_lockroot") ||
           (vm.version() >= 8 &&
            (SameName(vm, name, "transform") || SameName(vm, name, "blendMode") ||
             SameName(vm, name, "cacheAsBitmap") || SameName(vm, name, "filters") ||
             SameName(vm, name, "scrollRect") || SameName(vm, name, "scale9Grid")));
  }
  void SpecialKeys(Vm&, std::vector<std::string>& keys) override {
    if (!clip) return;
    for (auto& [d, c] : clip->children())
      if (!c->name.empty() && runtime->ObjectOf(c.get())) keys.push_back(c->name);
  }
};

// Where a text field's box starts, from its origin in its parent's coordinates: a field is
// placed by the top left corner of its box (which auto size moves).
StagePoint FieldCorner(Clip& clip) {
  if (clip.kind != ClipKind::kEditText || !clip.field) return {0, 0};
  const text::TextField::Box b = clip.field->Bounds();
  const Matrix& m = clip.matrix;
  return {m.a * b.xmin + m.c * b.ymin, m.b * b.xmin + m.d * b.ymin};
}

Value MovieClipObject::GetIndexed(Vm& vm, int index) {
  if (!clip) return {};
  switch (index) {
    case 0:
      return Value((clip->matrix.tx + FieldCorner(*clip).x) / 20);
    case 1:
      return Value((clip->matrix.ty + FieldCorner(*clip).y) / 20);
    case 2:
      return Value(clip->XScale());
    case 3:
      return Value(clip->YScale());
    case 4:
      return Value(clip->unloaded ? 0 : std::max(1, clip->currentFrame + 1));
    case 5:
      return Value(clip->unloaded ? 0 : clip->TotalFrames());
    case 6:
      return Value(AlphaSteps(clip->cxform.mult[3]) * 100);
    case 7:
      return Value(clip->visible);
    case 8:
    case 9: {
      Box b = clip->Bounds(clip->parent);
      if (b.empty) return Value(0.0);
      return Value((index == 8 ? b.xmax - b.xmin : b.ymax - b.ymin) / 20);
    }
    case 10:
      return Value(clip->Rotation());
    case 11:
      return Value(clip->SlashPath());
    case 12:
      return Value(clip->unloaded ? 0 : clip->FramesLoaded());
    case 13:
      return Value(clip->name);
    case 14:
      return Value(std::string());
    case 15:
      for (const Clip* c = clip; c; c = c->parent)
        if (!c->url.empty()) return Value(c->url);
      return Value(runtime->mainUrl);
    case 16:
      switch (clip->stage().quality()) {
        case Stage::Quality::kLow:
          return Value(0);
        case Stage::Quality::kBest:
          return Value(2);
        default:
          return Value(1);
      }
    case 17:
      if (vm.version() < 6) return Value(runtime->focusRect ? 1 : 0);
      if (!clip->parent) return Value(runtime->focusRect);
      return focusRect ? Value(*focusRect) : Value::Null();
    case 18:
      return Value(runtime->soundBufferTime);
    case 19:
      return Value(QualityName(clip->stage().quality()));
    case 20:
    case 21: {
      const StagePoint m = runtime->stage().mouse();
      // The clip's place counts in whole pixels. A clip that cannot be inverted (scaled to
      // nothing) reads the pointer's whole pixels as twips.
      Matrix place = clip->ConcatenatedMatrix();
      place.tx = std::round(place.tx / 20) * 20;
      place.ty = std::round(place.ty / 20) * 20;
      const auto inv = place.Inverse();
      if (!inv) return Value(std::round((index == 20 ? m.x : m.y) / 20) / 20);
      const StagePoint local = InverseInTwips(*inv, m);
      return Value((index == 20 ? local.x : local.y) / 20);
    }
    default:
      return {};
  }
}

namespace {

// The number a display property takes from a value: undefined and null give none (NaN), and an
// object what its valueOf gives (its toString is not asked; an object from valueOf gives none).
double PropertyNumber(Vm& vm, const Value& v) {
  constexpr double kNone = std::numeric_limits<double>::quiet_NaN();
  if (v.IsUndefined() || v.IsNull()) return kNone;
  if (!v.IsObject()) return vm.ToNumber(v);
  const Value p = vm.CallMethod(v, "valueOf", {});
  return p.IsObject() || p.IsUndefined() || p.IsNull() ? kNone : vm.ToNumber(p);
}

// A position in twips: an infinite one is the lowest a position can be (-2^31 twips).
double PositionTwips(double pixels) {
  return std::isinf(pixels) ? -2147483648.0 : ToTwips(pixels);
}

// A number as the player's whole-number settings keep it: cut towards zero, and what does not fit
// (infinities too) the lowest int.
int PlayerInt(double n) {
  return std::fabs(n) < 2147483648.0 ? static_cast<int>(std::trunc(n))
                                     : std::numeric_limits<int>::min();
}

}  // namespace

void MovieClipObject::SetIndexed(Vm& vm, int index, const Value& v) {
  if (!clip) return;
  // The focus rectangle of a clip of its own, or of the player (where an object is no number and
  // says no, without being asked).
  if (index == 17) {
    if (vm.version() >= 6 && clip->parent) {
      focusRect.reset();
      if (!v.IsUndefined() && !v.IsNull()) focusRect = vm.ToBool(v);
    } else if (v.IsObject()) {
      runtime->focusRect = false;
    } else if (const double n = PropertyNumber(vm, v); !std::isnan(n)) {
      runtime->focusRect = n != 0;
    }
    return;
  }
  // The quality by its name, in any case; other names leave it.
  if (index == 19) {
    const std::string name = vm.ToString(v);
    for (Stage::Quality q : {Stage::Quality::kLow, Stage::Quality::kMedium, Stage::Quality::kHigh,
                             Stage::Quality::kBest})
      if (EqualsFolded(name, QualityName(q))) clip->stage().SetQuality(q);
    return;
  }
  // (The name takes the value's text; the other properties a number, and none is ignored.)
  const bool numeric = index != 13;
  const double n = numeric ? PropertyNumber(vm, v) : 0;
  const bool finite = std::isfinite(n);
  switch (index) {
    case 0:
      if (!std::isnan(n))
        clip->SetPosition(PositionTwips(n) - FieldCorner(*clip).x, clip->matrix.ty);
      break;
    case 1:
      if (!std::isnan(n))
        clip->SetPosition(clip->matrix.tx, PositionTwips(n) - FieldCorner(*clip).y);
      break;
    case 2:
      // (An infinite scale is kept, and read back; the clip is then drawn at no size.)
      if (!std::isnan(n)) clip->SetXScale(n);
      break;
    case 3:
      if (!std::isnan(n)) clip->SetYScale(n);
      break;
    case 6:
      if (!std::isnan(n)) {
        // A text field keeps its alpha in 1/256 steps, rounded towards zero; other clips draw
        // with the alpha as set (and tell it in those steps). An infinite alpha is 0.
        const double a = finite ? n / 100 : 0;
        clip->cxform.mult[3] = static_cast<float>(clip->field ? AlphaSteps(a) : a);
        clip->scriptTransformed = true;  // the timeline no longer sets its colour either
      }
      break;
    case 7:
      if (std::isnan(n)) break;
      clip->visible = n != 0;
      if (!clip->visible) runtime->FocusGone(*clip);
      break;
    case 8:
    case 9: {
      if (!finite || n < 0) break;
      if (clip->kind == ClipKind::kEditText && clip->field) {
        // A text field's box changes size; its text keeps its scale.
        const Box own = clip->Bounds(clip);
        const double w = own.empty ? 0 : own.xmax - own.xmin,
                     h = own.empty ? 0 : own.ymax - own.ymin;
        const double sx = std::abs(clip->XScale()) / 100, sy = std::abs(clip->YScale()) / 100;
        if (index == 8 && sx > 0)
          clip->field->SetSize(static_cast<float>(ToTwips(n) / sx), static_cast<float>(h));
        if (index == 9 && sy > 0)
          clip->field->SetSize(static_cast<float>(w), static_cast<float>(ToTwips(n) / sy));
        break;
      }
      // The scales become the size asked for (and the other size as it is now) over the size of
      // the content turned by the clip's rotation but not scaled; the rotation applies after
      // the scales, so a turned clip stretches along its own axes.
      const Box now = clip->Bounds(clip->parent);
      const Box own = LocalBounds(*clip);
      if (own.empty && clip->kind == ClipKind::kMovie) {
        // A size given to a clip with nothing in it is no size: it shows nothing it gets later.
        clip->SetXScale(0);
        clip->SetYScale(0);
        break;
      }
      if (now.empty || own.empty) break;
      const double r = clip->Rotation() * std::numbers::pi / 180;
      Matrix turn;
      turn.a = turn.d = std::cos(r);
      turn.b = std::sin(r);
      turn.c = -turn.b;
      const Box turned = own.Transformed(turn);
      const double tw = turned.xmax - turned.xmin, th = turned.ymax - turned.ymin;
      if (!(tw > 0) || !(th > 0)) break;
      const double w = index == 8 ? ToTwips(n) : now.xmax - now.xmin;
      const double h = index == 9 ? ToTwips(n) : now.ymax - now.ymin;
      clip->SetXScale(std::copysign(100 * w / tw, clip->XScale()));
      clip->SetYScale(std::copysign(100 * h / th, clip->YScale()));
      break;
    }
    case 10:
      // (An infinite angle leaves the rotation not a number, and the clip drawn at no size.)
      if (!std::isnan(n)) clip->SetRotation(n);
      break;
    case 13:
      clip->name = vm.ToString(v);
      break;
    case 16:
      if (!std::isnan(n))
        clip->stage().SetQuality(n > 1.5  ? Stage::Quality::kBest
                                 : n == 0 ? Stage::Quality::kLow
                                          : Stage::Quality::kHigh);
      break;
    case 18:
      if (!std::isnan(n)) runtime->soundBufferTime = PlayerInt(n);
      break;
    default:
      break;
  }
}

namespace {

MovieClipObject* ThisClip(CallArgs& a) {
  if (!a.self || a.self->cls() != ObjClass::kClip) return nullptr;
  auto* o = static_cast<MovieClipObject*>(a.self);
  return o->clip && !o->clip->removed ? o : nullptr;
}

Value ClipValue(Runtime* rt, Clip* c) {
  MovieClipObject* o = c ? rt->ObjectOf(c) : nullptr;
  return o ? Value(static_cast<Object*>(o)) : Value();
}

Value McPlay(Vm&, CallArgs& a) {
  if (auto* o = ThisClip(a)) o->clip->Play();
  return {};
}
Value McStop(Vm&, CallArgs& a) {
  if (auto* o = ThisClip(a)) o->clip->Stop();
  return {};
}
// A script's frame number (from 1) as a frame index, kept within int.
int FrameIndex(double n) {
  if (std::isnan(n)) return -1;
  const double lo = std::numeric_limits<int>::min() + 1.0, hi = std::numeric_limits<int>::max();
  return static_cast<int>(std::clamp(std::trunc(n), lo, hi)) - 1;
}
Value McGoto(Vm& vm, CallArgs& a, bool play) {
  auto* o = ThisClip(a);
  if (!o || !a.size()) return {};
  const Value& f = a.args.size() > 1 ? a[1] : a[0];
  if (a.args.size() > 1) {
    // gotoAndPlay(scene, frame)
    std::string scene = vm.ToString(a[0]);
    double n = vm.ToNumber(f);
    if (std::isfinite(n)) o->clip->GotoScene(scene, FrameIndex(n), play);
    return {};
  }
  if (f.IsString()) {
    // "path:frame" goes to a frame of another clip.
    std::string_view text = f.s;
    Clip* target = o->clip;
    if (const std::size_t colon = text.rfind(':'); colon != std::string_view::npos) {
      Object* t = vm.ResolveTarget(o, text.substr(0, colon));
      if (!t || t->cls() != ObjClass::kClip) return {};
      target = static_cast<MovieClipObject*>(t)->clip;
      if (!target || target->removed) return {};
      text = text.substr(colon + 1);
    }
    double n = StringToNumber(text, vm.version());
    if (std::isnan(n)) {
      target->GotoLabel(text, play);
      return {};
    }
    target->GotoFrame(FrameIndex(n), play);
    return {};
  }
  double n = vm.ToNumber(f);
  if (std::isfinite(n)) o->clip->GotoFrame(FrameIndex(n), play);
  return {};
}
Value McGotoAndPlay(Vm& vm, CallArgs& a) {
  return McGoto(vm, a, true);
}
Value McGotoAndStop(Vm& vm, CallArgs& a) {
  return McGoto(vm, a, false);
}
Value McNextFrame(Vm&, CallArgs& a) {
  if (auto* o = ThisClip(a)) o->clip->NextFrame();
  return {};
}
Value McPrevFrame(Vm&, CallArgs& a) {
  if (auto* o = ThisClip(a)) o->clip->PrevFrame();
  return {};
}

Value McAttachMovie(Vm& vm, CallArgs& a) {
  auto* o = ThisClip(a);
  if (!o || a.size() < 3) return {};
  std::string id = vm.ToString(a[0]), name = vm.ToString(a[1]);
  double depth = vm.ToNumber(a[2]);
  if (!std::isfinite(depth)) return {};
  o->runtime->initObject = a[3].AsObject();
  Clip* c = o->clip->Attach(id, name, ClampToInt(depth));
  o->runtime->initObject = nullptr;
  return c ? ClipValue(o->runtime, c) : Value();
}
Value McCreateEmpty(Vm& vm, CallArgs& a) {
  auto* o = ThisClip(a);
  if (!o || a.size() < 2) return {};
  double depth = vm.ToNumber(a[1]);
  if (!std::isfinite(depth)) return {};
  Clip* c = o->clip->CreateEmpty(vm.ToString(a[0]), ClampToInt(depth));
  return ClipValue(o->runtime, c);
}
// attachBitmap(bitmapData, depth, pixelSnapping, smoothing): shows the picture at that depth.
Value McAttachBitmap(Vm& vm, CallArgs& a) {
  auto* o = ThisClip(a);
  BitmapDataObject* b = AsBitmapData(a[0]);
  if (!o || !b || !b->Usable() || a.size() < 2) return {};
  double depth = vm.ToNumber(a[1]);
  if (!std::isfinite(depth)) return {};
  Clip* c = o->clip->CreateEmpty("", ClampToInt(depth));
  if (!c) return {};
  c->attachedBitmap = b->bitmap;
  c->attachedSmoothing = a.size() > 3 && vm.ToBool(a[3]);
  return {};
}
Value McDuplicate(Vm& vm, CallArgs& a) {
  auto* o = ThisClip(a);
  if (!o || a.size() < 2 || !o->clip->parent) return {};
  const std::string name = vm.ToString(a[0]);  // the name converts before the depth
  double depth = vm.ToNumber(a[1]);
  if (!std::isfinite(depth)) return {};
  o->runtime->initObject = a[2].AsObject();
  Clip* c = o->clip->Duplicate(name, ClampToInt(depth));
  o->runtime->initObject = nullptr;
  return c ? ClipValue(o->runtime, c) : Value();
}
Value McRemove(Vm& vm, CallArgs& a) {
  if (auto* o = ThisClip(a)) o->RemoveSelf(vm);
  return {};
}
Value McSwapDepths(Vm& vm, CallArgs& a) {
  auto* o = ThisClip(a);
  if (!o || !o->clip->parent || !a.size()) return {};
  if (a[0].IsObject() && a[0].o->cls() == ObjClass::kClip) {
    auto* other = static_cast<MovieClipObject*>(a[0].o);
    if (other->clip && other->clip->parent == o->clip->parent) o->clip->SwapDepths(*other->clip);
    return {};
  }
  double d = vm.ToNumber(a[0]);
  if (std::isfinite(d)) o->clip->SwapDepths(ClampToInt(d));
  return {};
}
Value McNextHighestDepth(Vm&, CallArgs& a) {
  auto* o = ThisClip(a);
  return o ? Value(o->clip->NextHighestDepth()) : Value();
}
Value McGetDepth(Vm&, CallArgs& a) {
  auto* o = ThisClip(a);
  return o ? Value(o->clip->depth - kDepthOffset) : Value();
}
// `new Button()` in a script: an object of the class, with no button behind it.
Value ButtonConstruct(Vm& vm, CallArgs& a) {
  Object* proto = a.callee ? vm.Get(a.callee, "prototype").AsObject() : nullptr;
  return Value(vm.heap().Make<Object>(proto ? proto : vm.objectProto));
}
Value McInstanceAtDepth(Vm& vm, CallArgs& a) {
  auto* o = ThisClip(a);
  if (!o || !a.size()) return {};
  double d = vm.ToNumber(a[0]);
  if (!std::isfinite(d)) return {};
  return ClipValue(o->runtime, o->clip->ChildAt(ClampToInt(d) + kDepthOffset));
}
Value BoxObject(Vm& vm, const Box& b, bool emptyAsFloat = false) {
  Object* r = vm.NewObject();
  constexpr std::int32_t kEmptyTwips = 0x7FFFFFF;
  const double big = emptyAsFloat ? static_cast<double>(static_cast<float>(kEmptyTwips)) / 20
                                  : static_cast<double>(kEmptyTwips) / 20;
  r->SetOwn("xMin", Value(b.empty ? big : b.xmin / 20));
  r->SetOwn("xMax", Value(b.empty ? big : b.xmax / 20));
  r->SetOwn("yMin", Value(b.empty ? big : b.ymin / 20));
  r->SetOwn("yMax", Value(b.empty ? big : b.ymax / 20));
  return Value(r);
}
Clip* TargetArg(Vm& vm, MovieClipObject* o, const Value& v) {
  if (v.IsObject() && v.o->cls() == ObjClass::kClip)
    return static_cast<MovieClipObject*>(v.o)->clip;
  if (v.IsUndefined()) return o->clip;
  Object* t = vm.ResolveTarget(o, vm.ToString(v));
  return t && t->cls() == ObjClass::kClip ? static_cast<MovieClipObject*>(t)->clip : nullptr;
}
Value McGetBounds(Vm& vm, CallArgs& a) {
  auto* o = ThisClip(a);
  if (!o) return {};
  Clip* space = TargetArg(vm, o, a[0]);
  if (!space) return {};
  Runtime& rt = *o->runtime;
  if (rt.movie().version >= 8) rt.emptyBoundsAsFloat = true;
  // Code of version 8 passes the bounds through the float matrix of another clip's space; in the
  // clip's own space they stay exact for this call.
  const bool asFloat = vm.version() >= 8 ? space != o->clip : rt.emptyBoundsAsFloat;
  if (vm.version() >= 8) rt.emptyBoundsAsFloat = true;
  Box local = LocalBounds(*o->clip);
  if (local.empty) return BoxObject(vm, local, asFloat);
  Matrix toStage = o->clip->ConcatenatedMatrix();
  Matrix fromStage = space->ConcatenatedMatrix().Inverse().value_or(Matrix{});
  return BoxObject(vm, local.Transformed(fromStage * toStage));
}
// hitTest takes its point in the main timeline's space (a transformed _root moves it) and
// compares with the bounding boxes on the stage.
Value McHitTest(Vm& vm, CallArgs& a) {
  auto* o = ThisClip(a);
  if (!o) return Value(false);
  if (a.size() >= 2) {
    double x = vm.ToNumber(a[0]), y = vm.ToNumber(a[1]);
    bool shape = a.size() > 2 && vm.ToBool(a[2]);
    if (!std::isfinite(x) || !std::isfinite(y)) return Value(false);
    const StagePoint p = o->clip->Root().LocalToGlobal({x * 20, y * 20});
    return Value(o->clip->HitTest(p.x, p.y, shape));
  }
  if (a[0].IsUndefined() || (a[0].IsString() && a[0].s.empty())) return Value(false);
  Clip* other = TargetArg(vm, o, a[0]);
  if (!other || other->removed) return Value(false);
  return Value(o->clip->HitTest(*other));
}
Value McPointConvert(Vm& vm, CallArgs& a, bool toGlobal) {
  auto* o = ThisClip(a);
  Object* p = a[0].AsObject();
  if (!o || !p) return {};
  // Only a point whose own x and y are both numbers changes (inherited ones do not count); the
  // result is in whole twips.
  const Property* px = p->FindOwn("x");
  const Property* py = p->FindOwn("y");
  if (!px || !py || px->getter || py->getter) return {};
  const Value x = px->value, y = py->value;
  if (!x.IsNumber() || !y.IsNumber()) return {};
  StagePoint pt{x.n * 20, y.n * 20};
  if (!std::isfinite(pt.x) || !std::isfinite(pt.y)) return {};
  StagePoint r = toGlobal ? o->clip->LocalToGlobal(pt) : o->clip->GlobalToLocal(pt);
  vm.Set(p, "x", Value(std::round(r.x) / 20));
  vm.Set(p, "y", Value(std::round(r.y) / 20));
  return {};
}
Value McLocalToGlobal(Vm& vm, CallArgs& a) {
  return McPointConvert(vm, a, true);
}
Value McGlobalToLocal(Vm& vm, CallArgs& a) {
  return McPointConvert(vm, a, false);
}
// setMask(clip or path): true when the mask is set; null or undefined take it away (true); a path
// that leads to no clip, or an object that is not a clip, changes nothing (false).
Value McSetMask(Vm& vm, CallArgs& a) {
  auto* o = ThisClip(a);
  if (!o || a.size() == 0) return {};
  const Value& m = a[0];
  if (m.IsUndefined() || m.IsNull()) {
    o->clip->SetScriptMask(nullptr);
    return Value(true);
  }
  if (m.IsObject() && m.o->cls() != ObjClass::kClip) return Value(false);
  Clip* mask = nullptr;
  if (m.IsObject()) {
    mask = static_cast<MovieClipObject*>(m.o)->clip;
  } else {
    // A path is read from the timeline of the code that calls.
    Object* from = o;
    if (!vm.activations().empty()) {
      const Activation* act = vm.activations().back();
      if (Object* t = act->target ? act->target : act->baseClip) from = t;
    }
    Object* t = vm.ResolveTarget(from, vm.ToString(m));
    if (t && t->cls() == ObjClass::kClip) mask = static_cast<MovieClipObject*>(t)->clip;
  }
  if (!mask) return Value(false);
  o->clip->SetScriptMask(mask);
  return Value(true);
}
Value McBytes(Vm&, CallArgs& a) {
  // Everything is loaded: the size of the clip's part of the file (0 for an empty clip).
  auto* o = ThisClip(a);
  if (!o) return {};
  return Value(static_cast<double>(o->clip->timeline ? o->clip->timeline->bytes : 0));
}
Value McTextSnapshot(Vm& vm, CallArgs& a) {
  auto* o = ThisClip(a);
  if (!o) return {};
  return NewTextSnapshot(vm, *o->clip, o->runtime->textSnapshotProto);
}
Value McSwfVersion(Vm& vm, CallArgs&) {
  return Value(vm.version());
}
Value McStartDrag(Vm& vm, CallArgs&) {
  vm.Unsupported("startDrag");
  return {};
}
Value McNoop(Vm&, CallArgs&) {
  return {};
}
// The runtime that owns `vm` (through the main timeline's object).
Runtime* RuntimeOf(Vm& vm) {
  return vm.root ? static_cast<MovieClipObject*>(vm.root)->runtime : nullptr;
}

Value KeyGetCode(Vm& vm, CallArgs&) {
  Runtime* rt = RuntimeOf(vm);
  return Value(rt ? rt->lastKey : 0);
}
Value KeyGetAscii(Vm& vm, CallArgs&) {
  Runtime* rt = RuntimeOf(vm);
  return Value(rt ? rt->lastAscii : 0);
}
Value KeyIsDown(Vm& vm, CallArgs& a) {
  Runtime* rt = RuntimeOf(vm);
  if (!rt || !a.size()) return Value(false);
  const int code = ToInt32(vm.ToNumber(a[0]));
  return Value(std::find(rt->keysDown.begin(), rt->keysDown.end(), code) != rt->keysDown.end());
}

Value McLoadVariables(Vm& vm, CallArgs& a) {
  auto* o = ThisClip(a);
  if (o && a.size() && !a[0].IsNullish()) {
    const bool post = a.size() > 1 && EqualsFolded(vm.ToString(a[1]), "POST");
    QueueFileLoad(vm, o, vm.ToString(a[0]), LoadKind::kClipVariables, post);
  }
  return {};
}

// ---- drawing ----

Rgba ColorOf(Vm& vm, const Value& rgb, const Value& alpha) {
  auto c = static_cast<std::uint32_t>(ToInt32(vm.ToNumber(rgb)));
  double al = alpha.IsUndefined() ? 100 : vm.ToNumber(alpha);
  if (std::isnan(al)) al = 100;
  al = std::clamp(al, 0.0, 100.0);
  return Rgba{static_cast<std::uint8_t>(c >> 16), static_cast<std::uint8_t>(c >> 8),
              static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(std::lround(al * 2.55))};
}

// A fill left open is closed by a straight edge back to where it started, stroked with the line
// style of the moment as the other edges are.
void CloseFill(MovieClipObject* o) {
  DrawState& d = o->draw;
  if (d.fill >= 0 && d.open && !(d.pen == d.start)) {
    o->clip->drawing.edges.push_back(
        ShapeEdge{d.pen, Vec2{(d.pen.x + d.start.x) / 2, (d.pen.y + d.start.y) / 2}, d.start, false,
                  -1, d.fill, d.line});
    d.pen = d.start;
  }
  d.open = false;
}

void AddEdge(MovieClipObject* o, Vec2 control, Vec2 to, bool curve) {
  DrawState& d = o->draw;
  if (o->clip->drawing.edges.size() > 200000) return;
  if (!d.open) {
    d.start = d.pen;
    d.open = true;
  }
  o->clip->drawing.edges.push_back(ShapeEdge{d.pen, control, to, curve, -1, d.fill, d.line});
  d.pen = to;
}

// The fill that what is drawn next takes, from the pen's place on.
void BeginFill(MovieClipObject* o, FillStyle f) {
  o->clip->drawing.fills.push_back(std::move(f));
  o->draw.fill = static_cast<int>(o->clip->drawing.fills.size()) - 1;
  o->draw.start = o->draw.pen;
}

Value McBeginFill(Vm& vm, CallArgs& a) {
  auto* o = ThisClip(a);
  if (!o) return {};
  CloseFill(o);
  if (a[0].IsUndefined()) {
    o->draw.fill = -1;
    return {};
  }
  FillStyle f;
  f.kind = FillKind::kSolid;
  f.color = ColorOf(vm, a[0], a[1]);
  BeginFill(o, std::move(f));
  return {};
}
Value McBeginGradientFill(Vm& vm, CallArgs& a) {
  auto* o = ThisClip(a);
  if (!o) return {};
  CloseFill(o);
  Object* colors = a[1].AsObject();
  Object* alphas = a[2].AsObject();
  Object* ratios = a[3].AsObject();
  Object* m = a[4].AsObject();
  if (!colors || !alphas || !ratios || !m) {
    o->draw.fill = -1;
    return {};
  }
  FillStyle f;
  std::string type = vm.ToString(a[0]);
  f.kind = type == "radial" ? FillKind::kRadial : FillKind::kLinear;
  std::size_t n = std::min(
      {vm.ArrayLength(colors), vm.ArrayLength(alphas), vm.ArrayLength(ratios), std::size_t{15}});
  for (std::size_t i = 0; i < n; ++i) {
    GradientStop s;
    s.color = ColorOf(vm, vm.ArrayGet(colors, i), vm.ArrayGet(alphas, i));
    s.ratio =
        static_cast<std::uint8_t>(std::clamp(vm.ToNumber(vm.ArrayGet(ratios, i)), 0.0, 255.0));
    f.gradient.stops.push_back(s);
  }
  if (vm.ToString(vm.Get(m, "matrixType")) == "box") {
    double x = vm.ToNumber(vm.Get(m, "x")), y = vm.ToNumber(vm.Get(m, "y"));
    double w = vm.ToNumber(vm.Get(m, "w")), h = vm.ToNumber(vm.Get(m, "h"));
    double r = vm.ToNumber(vm.Get(m, "r"));
    double cs = std::cos(r), sn = std::sin(r);
    f.matrix = Matrix{cs * w / 1638.4, sn * w / 1638.4,  -sn * h / 1638.4,
                      cs * h / 1638.4, (x + w / 2) * 20, (y + h / 2) * 20};
  } else {
    auto g = [&](const char* k) {
      double v = vm.ToNumber(vm.Get(m, k));
      return std::isfinite(v) ? v : 0.0;
    };
    // The script's 3x3 matrix maps the gradient square of 1638.4 pixels.
    f.matrix = Matrix{g("a") / 1638.4 * 20 / 20,
                      g("b") / 1638.4 * 20 / 20,
                      g("d") / 1638.4 * 20 / 20,
                      g("e") / 1638.4 * 20 / 20,
                      g("g") * 20,
                      g("h") * 20};
    if (vm.Get(m, "tx").IsNumber()) {
      f.matrix = Matrix{g("a"), g("b"), g("c"), g("d"), g("tx") * 20, g("ty") * 20};
    }
  }
  BeginFill(o, std::move(f));
  return {};
}
// beginBitmapFill(bitmapData, matrix, repeat, smoothing): fills with the picture, its pixels
// placed by the matrix (one pixel to one unit of the clip when there is none), repeated unless
// `repeat` is false (then its edge pixels stretch on), drawn unsmoothed unless `smoothing`. The
// fill shows the picture as the script goes on changing it.
Value McBeginBitmapFill(Vm& vm, CallArgs& a) {
  auto* o = ThisClip(a);
  if (!o) return {};
  CloseFill(o);
  BitmapDataObject* b = AsBitmapData(a[0]);
  if (!b || !b->Usable()) {
    o->draw.fill = -1;
    return {};
  }
  FillStyle f;
  f.kind = FillKind::kBitmap;
  f.picture = b->bitmap;
  f.repeat = a[2].IsUndefined() || vm.ToBool(a[2]);
  f.smoothed = !a[3].IsUndefined() && vm.ToBool(a[3]);
  f.matrix = Matrix{20, 0, 0, 20, 0, 0};
  if (Object* m = a[1].AsObject()) {
    auto g = [&](const char* k, double otherwise) {
      const Value v = vm.Get(m, k);
      const double d = v.IsUndefined() ? otherwise : vm.ToNumber(v);
      return std::isfinite(d) ? d * 20 : 0.0;
    };
    f.matrix = Matrix{g("a", 1), g("b", 0), g("c", 0), g("d", 1), g("tx", 0), g("ty", 0)};
  }
  BeginFill(o, std::move(f));
  return {};
}
Value McLineStyle(Vm& vm, CallArgs& a) {
  auto* o = ThisClip(a);
  if (!o) return {};
  if (a[0].IsUndefined()) {
    o->draw.line = -1;
    return {};
  }
  LineStyle l;
  double w = vm.ToNumber(a[0]);
  if (!std::isfinite(w) || w < 0) w = 0;
  l.width = static_cast<std::uint16_t>(std::min(w, 255.0) * 20);
  l.color = ColorOf(vm, a[1], a[2]);
  o->clip->drawing.lines.push_back(l);
  o->draw.line = static_cast<int>(o->clip->drawing.lines.size()) - 1;
  return {};
}
bool Point(Vm& vm, CallArgs& a, std::size_t i, Vec2& out) {
  double x = vm.ToNumber(a[i]), y = vm.ToNumber(a[i + 1]);
  if (!std::isfinite(x) || !std::isfinite(y)) return false;
  out = Vec2{static_cast<float>(x * 20), static_cast<float>(y * 20)};
  return true;
}
Value McMoveTo(Vm& vm, CallArgs& a) {
  auto* o = ThisClip(a);
  Vec2 p;
  if (!o || !Point(vm, a, 0, p)) return {};
  CloseFill(o);
  o->draw.pen = p;
  o->draw.start = p;
  return {};
}
Value McLineTo(Vm& vm, CallArgs& a) {
  auto* o = ThisClip(a);
  Vec2 p;
  if (!o || !Point(vm, a, 0, p)) return {};
  Vec2 from = o->draw.pen;
  AddEdge(o, Vec2{(from.x + p.x) / 2, (from.y + p.y) / 2}, p, false);
  return {};
}
Value McCurveTo(Vm& vm, CallArgs& a) {
  auto* o = ThisClip(a);
  Vec2 c, p;
  if (!o || !Point(vm, a, 0, c) || !Point(vm, a, 2, p)) return {};
  AddEdge(o, c, p, true);
  return {};
}
Value McEndFill(Vm&, CallArgs& a) {
  auto* o = ThisClip(a);
  if (!o) return {};
  CloseFill(o);
  o->draw.fill = -1;
  return {};
}
Value McClear(Vm&, CallArgs& a) {
  auto* o = ThisClip(a);
  if (!o) return {};
  o->clip->drawing = Shape{};
  o->draw = DrawState{};
  return {};
}

const char* EventMethod(ClipEvent e) {
  switch (e) {
    case ClipEvent::kLoad:
      return "onLoad";
    case ClipEvent::kEnterFrame:
      return "onEnterFrame";
    case ClipEvent::kUnload:
      return "onUnload";
    case ClipEvent::kMouseMove:
      return "onMouseMove";
    case ClipEvent::kMouseDown:
      return "onMouseDown";
    case ClipEvent::kMouseUp:
      return "onMouseUp";
    case ClipEvent::kData:
      return "onData";
    case ClipEvent::kPress:
      return "onPress";
    case ClipEvent::kRelease:
      return "onRelease";
    case ClipEvent::kReleaseOutside:
      return "onReleaseOutside";
    case ClipEvent::kRollOver:
      return "onRollOver";
    case ClipEvent::kRollOut:
      return "onRollOut";
    case ClipEvent::kDragOver:
      return "onDragOver";
    case ClipEvent::kDragOut:
      return "onDragOut";
    default:
      return nullptr;
  }
}

}  // namespace

Runtime::Runtime(const ScriptHost& host, Limits limits)
    : movie_(host.movie), stage_(host.stage), vm_(host.movie.version, limits) {
  vm_.traceSink = host.trace;
  logNavigation_ = host.logNavigation;
  vm_.logFetches = host.logNavigation;
  vm_.fixedDate = host.fixedDate;
  vm_.socketOpener = host.socketOpener;
  images = host.images;
  loadLimits = host.limits;
  vm_.afterTimer = [this] { stage_.RunQueue(); };
  vm_.clock = [this]() { return now_; };
  if (Property* system = vm_.global->FindOwn("System"); system && system->value.AsObject())
    if (Property* caps = system->value.AsObject()->FindOwn("capabilities");
        caps && caps->value.AsObject()) {
      caps->value.AsObject()->SetOwn("screenResolutionX", Value(host.screenWidth));
      caps->value.AsObject()->SetOwn("screenResolutionY", Value(host.screenHeight));
    }
  Object* mcProto = vm_.NewObject();
  vm_.clipProto = mcProto;
  // `enabled` is a plain property, true from the prototypes (the sprites' does not enumerate).
  mcProto->SetOwn("enabled", Value(true), prop::kDontEnum);
  MakeClass(
      vm_, vm_.global, "MovieClip", [](Vm&, CallArgs&) { return Value(); }, nullptr, mcProto);
  const std::pair<const char*, NativeFn> methods[] = {
      {"play", McPlay},
      {"stop", McStop},
      {"gotoAndPlay", McGotoAndPlay},
      {"gotoAndStop", McGotoAndStop},
      {"nextFrame", McNextFrame},
      {"prevFrame", McPrevFrame},
      {"attachMovie", McAttachMovie},
      {"createEmptyMovieClip", McCreateEmpty},
      {"attachBitmap", McAttachBitmap},
      {"duplicateMovieClip", McDuplicate},
      {"removeMovieClip", McRemove},
      {"swapDepths", McSwapDepths},
      {"getNextHighestDepth", McNextHighestDepth},
      {"getDepth", McGetDepth},
      {"getInstanceAtDepth", McInstanceAtDepth},
      {"getBounds", McGetBounds},
      {"getRect", McGetBounds},
      {"hitTest", McHitTest},
      {"localToGlobal", McLocalToGlobal},
      {"globalToLocal", McGlobalToLocal},
      {"setMask", McSetMask},
      {"getBytesLoaded", McBytes},
      {"getBytesTotal", McBytes},
      {"getSWFVersion", McSwfVersion},
      {"getTextSnapshot", McTextSnapshot},
      {"startDrag", McStartDrag},
      {"stopDrag", McNoop},
      {"beginFill", McBeginFill},
      {"beginGradientFill", McBeginGradientFill},
      {"beginBitmapFill", McBeginBitmapFill},
      {"lineStyle", McLineStyle},
      {"moveTo", McMoveTo},
      {"lineTo", McLineTo},
      {"curveTo", McCurveTo},
      {"endFill", McEndFill},
      {"clear", McClear},
      {"loadVariables", McLoadVariables},
  };
  for (auto& [n, f] : methods) vm_.Method(mcProto, n, f);
  vm_.Method(vm_.global, "updateAfterEvent", McNoop);
  // Button: the class of the buttons the timeline places (their properties are the display
  // object's, as a clip's are).
  buttonProto = vm_.NewObject();
  vm_.pinned.push_back(buttonProto);
  MakeClass(vm_, vm_.global, "Button", ButtonConstruct, ButtonConstruct, buttonProto);
  vm_.Method(buttonProto, "getDepth", McGetDepth);
  buttonProto->SetOwn("enabled", Value(true));
  // Methods that came with version 6: older movies do not see them.
  for (Object* proto : {mcProto, buttonProto})
    if (Property* p = proto->FindOwn("getDepth")) p->flags |= prop::kVersion6;
  InstallTextField(*this);
  InstallSelection(*this);
  textSnapshotProto = InstallTextSnapshot(vm_);

  vm_.sound = host.sound;
  vm_.movie = &movie_;
  const auto slash = host.moviePath.find_last_of("/\\");
  if (slash != std::string::npos) vm_.movieDir = host.moviePath.substr(0, slash + 1);
  InstallSound(vm_);
  vm_.localFiles = !host.moviePath.empty();
  InstallLoadVars(vm_);
  InstallMovieClipLoader(*this);
  if (!host.moviePath.empty()) {
    mainUrl = "file:///" + host.moviePath.substr(slash == std::string::npos ? 0 : slash + 1);
    std::error_code ec;
    const auto size = std::filesystem::file_size(host.moviePath, ec);
    if (!ec) mainBytes = static_cast<double>(size);
  }
  InstallTransform(vm_);
  InstallColor(vm_);
  // The video streams the timeline places are objects of Video.
  if (Object* video = vm_.Get(vm_.global, "Video").AsObject())
    videoProto = vm_.Get(video, "prototype").AsObject();
  if (!videoProto) videoProto = vm_.NewObject();
  vm_.pinned.push_back(videoProto);
  if (Object* key = vm_.Get(vm_.global, "Key").AsObject()) {
    vm_.Method(key, "getCode", KeyGetCode);
    vm_.Method(key, "getAscii", KeyGetAscii);
    vm_.Method(key, "isDown", KeyIsDown);
  }
  vm_.getUrl = [this](Activation& act, const std::string& url, const Value& target,
                      std::uint8_t flags) { GetUrl(act, url, target, flags); };

  // Stage: a broadcaster with the movie's size (the screen shows the whole movie, scaled).
  Object* stageObj = vm_.NewObject();
  vm_.global->SetOwn("Stage", Value(stageObj), prop::kDontEnum);
  InitializeBroadcaster(vm_, stageObj);
  // The size of the movie on level 0 (a movie loaded there brings its own).
  auto readOnly = [&](const char* name, int height) {
    Property& p = stageObj->props().Add(name);
    p.getter = vm_.NewNative(
        [](Vm& vm, CallArgs& a) {
          Runtime* rt = RuntimeOf(vm);
          if (!rt) return Value();
          const TwipsRect& f = rt->stage().root().movie->frame;
          const bool h = a.callee && static_cast<Function*>(a.callee)->nativeData != 0;
          return Value(
              static_cast<double>(std::lround((h ? f.ymax - f.ymin : f.xmax - f.xmin) / 20.0)));
        },
        height);
    p.flags = prop::kDontEnum | prop::kDontDelete;
  };
  readOnly("width", 0);
  readOnly("height", 1);
  stageObj->SetOwn("scaleMode", Value("showAll"), prop::kDontEnum);
  stageObj->SetOwn("align", Value(""), prop::kDontEnum);
  stageObj->SetOwn("showMenu", Value(true), prop::kDontEnum);
  // displayState: "normal" or "fullScreen" (any case); a change tells the listeners
  // (onFullScreen). The movie is shown the same either way. The getter keeps the state.
  Property& state = stageObj->props().Add("displayState");
  state.getter = vm_.NewNative([](Vm&, CallArgs& a) {
    const auto* self = static_cast<Function*>(a.callee);
    return Value(self && self->nativeData ? "fullScreen" : "normal");
  });
  state.setter = vm_.NewNative([](Vm& vm, CallArgs& a) {
    if (!a.self) return Value();
    Property* p = a.self->FindOwn("displayState");
    if (!p || !p->getter || p->getter->cls() != ObjClass::kFunction) return Value();
    auto* getter = static_cast<Function*>(p->getter);
    const std::string want = vm.ToString(a[0]);
    int full = -1;
    if (EqualsFolded(want, "fullscreen")) full = 1;
    if (EqualsFolded(want, "normal")) full = 0;
    if (full < 0 || full == getter->nativeData) return Value();
    getter->nativeData = full;
    avm1::Broadcast(vm, a.self, "onFullScreen", {Value(full == 1)});
    return Value();
  });
  state.flags = prop::kDontEnum | prop::kDontDelete;
}

Runtime::~Runtime() {
  ForgetTextField(*this);
  // The clips may outlive the runtime: forget their script objects.
  std::vector<Clip*> stack{&stage_.root()};
  while (!stack.empty()) {
    Clip* c = stack.back();
    stack.pop_back();
    c->scriptObject = nullptr;
    for (auto& [d, child] : c->children()) stack.push_back(child.get());
  }
}

std::optional<bool> OwnFocusRect(const Clip& clip) {
  const auto* o = static_cast<const MovieClipObject*>(clip.scriptObject);
  return o ? o->focusRect : std::nullopt;
}

MovieClipObject* Runtime::ObjectOf(Clip* clip) {
  if (!clip) return nullptr;
  if (clip->scriptObject) return static_cast<MovieClipObject*>(clip->scriptObject);
  if (clip->kind != ClipKind::kMovie && clip->kind != ClipKind::kButton &&
      clip->kind != ClipKind::kEditText && clip->kind != ClipKind::kVideo)
    return nullptr;
  Object* proto = clip->kind == ClipKind::kEditText ? textFieldProto
                  : clip->kind == ClipKind::kButton ? buttonProto
                  : clip->kind == ClipKind::kVideo  ? videoProto
                                                    : vm_.clipProto;
  auto* o = vm_.heap().Make<MovieClipObject>(proto, this, clip);
  clip->scriptObject = o;
  return o;
}

Object* Runtime::ScriptObjectOf(Clip* clip) {
  return ObjectOf(clip);
}

Clip* ClipOf(Object* o) {
  if (!o || o->cls() != ObjClass::kClip) return nullptr;
  auto* m = static_cast<MovieClipObject*>(o);
  return m->clip && !m->clip->removed ? m->clip : nullptr;
}

Runtime* RuntimeOf(Object* o) {
  if (!o || o->cls() != ObjClass::kClip) return nullptr;
  return static_cast<MovieClipObject*>(o)->runtime;
}

void Runtime::ClipCreated(Clip& clip) {
  // Clips, buttons and text fields placed without a name are called "instance1", "instance2",
  // ...; shapes take no number.
  bool named = clip.kind == ClipKind::kMovie || clip.kind == ClipKind::kButton ||
               clip.kind == ClipKind::kEditText;
  if (!named && clip.character) {
    const auto it = clip.movie->characters.find(clip.character);
    named = it != clip.movie->characters.end() && std::holds_alternative<EditText>(it->second);
  }
  if (clip.name.empty() && !clip.IsRoot() && named)
    clip.name = "instance" + std::to_string(++instances_);
  MovieClipObject* o = ObjectOf(&clip);
  if (!o) return;
  if (clip.IsRoot() && clip.level == 0) vm_.root = o;
  if (clip.kind == ClipKind::kEditText) TextFieldCreated(*this, clip, o);
}

Object* Runtime::ClassOf(const Clip& clip) {
  if (clip.kind != ClipKind::kMovie || !clip.character || !clip.movie) return nullptr;
  for (const auto& [name, id] : clip.movie->exports) {
    if (id != clip.character) continue;
    if (Object* c = vm_.RegisteredClass(clip.movie->version, name)) return c;
  }
  return nullptr;
}

void Runtime::RunConstructor(MovieClipObject* o, Object* ctor, Object* proto) {
  if (vm_.version() >= 6) o->SetOwn("__constructor__", Value(ctor), prop::kDontEnum);
  if (vm_.version() < 7) o->SetOwn("constructor", Value(ctor), prop::kDontEnum);
  vm_.Call(Value(ctor), o, {}, proto);
  vm_.DropUncaught();
}

void Runtime::ConstructClip(Clip& clip) {
  Object* io = initObject;
  initObject = nullptr;
  MovieClipObject* o = ObjectOf(&clip);
  if (!o) return;
  Object* ctor = ClassOf(clip);
  Object* proto = ctor ? vm_.Get(ctor, "prototype").AsObject() : nullptr;
  if (proto) o->SetProto(proto);
  if (io)
    for (auto& k : vm_.Keys(io)) vm_.Set(o, k, vm_.Get(io, k));
  if (!clip.removed) FireClipEvent(clip, ClipEvent::kConstruct, 0);
  // An onConstruct method (on MovieClip.prototype, say) hears of every new sprite.
  Value f = vm_.Get(o, "onConstruct");
  if (!clip.removed && f.IsObject() && f.o->cls() == ObjClass::kFunction) {
    vm_.Call(f, o, {});
    vm_.DropUncaught();
  }
  if (!clip.removed && ctor) RunConstructor(o, ctor, proto);
}

void Runtime::ClipRemoved(Clip& clip) {
  if (focus == &clip) SetFocus(nullptr);
  if (clip.scriptObject) removed_.push_back(static_cast<MovieClipObject*>(clip.scriptObject));
  if (vm_.root && static_cast<MovieClipObject*>(vm_.root)->clip == &clip) vm_.root = nullptr;
}

std::shared_ptr<const Code> Runtime::CodeFor(ByteSpan code) {
  auto it = codeCache_.find(code.data());
  if (it != codeCache_.end() && it->second->bytes.size() == code.size()) return it->second;
  auto c = std::make_shared<Code>();
  c->bytes.assign(code.begin(), code.end());
  codeCache_[code.data()] = c;
  return c;
}

void Runtime::RunActions(Clip& clip, ByteSpan code) {
  MovieClipObject* o = ObjectOf(&clip);
  if (!o) return;
  vm_.RunScript(CodeFor(code), o, clip.movie ? clip.movie->version : 0);
}

const Movie* Runtime::ImportedMovie(std::string_view url) {
  return ImportMovie(*this, url);
}

void Runtime::RunInitActions(Clip& root, std::uint16_t, ByteSpan code) {
  RunActions(root, code);
}

void Runtime::FireClipEvent(Clip& clip, ClipEvent event, int keyCode) {
  MovieClipObject* o = ObjectOf(&clip);
  if (!o) return;
  struct Unloading {
    ClipObject* o;
    bool was;
    ~Unloading() { o->unloading = was; }
  } unloading{o, o->unloading};
  if (event == ClipEvent::kUnload) o->unloading = true;
  if (clip.clipActions) {
    for (auto& act : *clip.clipActions) {
      if (!(act.events & static_cast<std::uint32_t>(event))) continue;
      if (event == ClipEvent::kKeyPress && act.keyCode != keyCode) continue;
      vm_.RunScript(CodeFor(ByteSpan(act.code.data(), act.code.size())), o,
                    clip.movie ? clip.movie->version : 0);
    }
  }
  const char* method = EventMethod(event);
  if (!method) return;
  Value f = vm_.Get(o, method);
  if (f.IsObject() && f.o->cls() == ObjClass::kFunction) {
    vm_.Call(f, o, {});
    vm_.DropUncaught();
  }
}

void Runtime::Broadcast(ClipEvent event, int keyCode, int charCode) {
  const char* source = nullptr;
  const char* method = nullptr;
  switch (event) {
    case ClipEvent::kKeyDown:
      source = "Key";
      method = "onKeyDown";
      lastKey = keyCode;
      lastAscii = charCode;
      if (std::find(keysDown.begin(), keysDown.end(), keyCode) == keysDown.end())
        keysDown.push_back(keyCode);
      break;
    case ClipEvent::kKeyUp:
      source = "Key";
      method = "onKeyUp";
      lastKey = keyCode;
      std::erase(keysDown, keyCode);
      break;
    case ClipEvent::kMouseDown:
      source = "Mouse";
      method = "onMouseDown";
      break;
    case ClipEvent::kMouseUp:
      source = "Mouse";
      method = "onMouseUp";
      break;
    case ClipEvent::kMouseMove:
      source = "Mouse";
      method = "onMouseMove";
      break;
    default:
      return;
  }
  // A button or sprite with the keyboard focus hears of the key first.
  if ((event == ClipEvent::kKeyDown || event == ClipEvent::kKeyUp) && focus && !focus->removed &&
      focus->kind != ClipKind::kEditText)
    if (Object* o = ScriptObjectOf(focus)) {
      vm_.CallMethod(Value(o), method, {});
      vm_.DropUncaught();
    }
  Object* src = vm_.Get(vm_.global, source).AsObject();
  if (src) avm1::Broadcast(vm_, src, method, {});
}

bool Runtime::IsEnabled(const Clip& clip) const {
  if (!clip.scriptObject) return true;
  auto& vm = const_cast<Vm&>(vm_);
  // Disabled by an `enabled` that is false: one set undefined leaves the button enabled.
  Property* p = vm.Lookup(static_cast<MovieClipObject*>(clip.scriptObject), "enabled");
  return !p || p->getter || p->value.IsUndefined() || vm.ToBool(p->value);
}

void Runtime::ButtonHeld(int keyCode, bool down) {
  std::erase(keysDown, keyCode);
  if (down) keysDown.push_back(keyCode);
}

bool Runtime::AnswersUnload(const Clip& clip) const {
  if (clip.clipActions)
    for (const ClipAction& act : *clip.clipActions)
      if (act.events & static_cast<std::uint32_t>(ClipEvent::kUnload)) return true;
  if (!clip.scriptObject) return false;
  return const_cast<Vm&>(vm_).Lookup(static_cast<MovieClipObject*>(clip.scriptObject),
                                     "onUnload") != nullptr;
}

bool Runtime::IsMouseTarget(const Clip& clip) const {
  if (!clip.scriptObject) return false;
  auto* o = static_cast<MovieClipObject*>(clip.scriptObject);
  auto& vm = const_cast<Vm&>(vm_);
  if (!IsEnabled(clip)) return false;
  for (const char* m : {"onPress", "onRelease", "onReleaseOutside", "onRollOver", "onRollOut",
                        "onDragOver", "onDragOut"})
    if (vm.Lookup(o, m)) return true;
  return false;
}

bool Runtime::TracksAsMenu(const Clip& clip) const {
  if (!clip.scriptObject) return false;
  auto& vm = const_cast<Vm&>(vm_);
  return vm.ToBool(vm.Get(static_cast<MovieClipObject*>(clip.scriptObject), "trackAsMenu"));
}

// The window a page opens in: "blank" in any case, with or without its underscore, is "_blank";
// every other name is kept as it is.
static std::string WindowName(std::string_view target) {
  std::string_view bare = target;
  if (!bare.empty() && bare[0] == '_') bare.remove_prefix(1);
  return EqualsFolded(bare, "blank") ? "_blank" : std::string(target);
}

void Runtime::OpenPage(const std::string& url, std::string_view window) {
  if (logNavigation_ && vm_.traceSink) {
    vm_.traceSink("Navigator::navigate_to_url:");
    vm_.traceSink("  URL: " + url);
    vm_.traceSink("  Target: " + WindowName(window));
  } else {
    vm_.Unsupported("getURL");
  }
}

void Runtime::GetUrl(Activation& act, const std::string& url, const Value& target,
                     std::uint8_t flags) {
  // Loading variables or a movie reads a file beside the movie; getURL goes nowhere.
  const int level = target.IsString() ? LevelOf(vm_.ToString(target)) : -1;
  if (!(flags & 0x80)) {
    if (!(flags & 0x40) && level < 0) {
      OpenPage(url, target.IsString() ? vm_.ToString(target) : "");
      return;
    }
    MovieLoad load;
    load.url = url;
    load.level = level;
    if (level < 0) {
      load.target = target.AsObject();
      if (!load.target) {
        const std::string path = vm_.ToString(target);
        Object* from = act.target ? act.target : act.baseClip;
        load.target = from ? vm_.ResolveTarget(from, path, &act) : nullptr;
      }
      if (!ClipOf(load.target)) return;
    }
    QueueMovieLoad(*this, std::move(load));
    return;
  }
  Object* t = target.AsObject();
  if (!t) {
    const std::string path = vm_.ToString(target);
    if (level >= 0) {
      t = ScriptObjectOf(stage_.Level(level));
    } else {
      Object* from = act.target ? act.target : act.baseClip;
      t = from ? vm_.ResolveTarget(from, path, &act) : nullptr;
    }
  }
  // (The method bits: 1 sends the variables with GET, 2 with POST.)
  if (t && t->cls() == ObjClass::kClip)
    QueueFileLoad(vm_, t, url, LoadKind::kClipVariables, (flags & 3) == 2);
}

void Runtime::BeginFrame(double timeMs) {
  now_ = timeMs;
  vm_.BeginFrameBudget();
  vm_.RunTimers(timeMs);
  PollSounds(vm_);
  AdvanceNetStreams(vm_, timeMs);
  FinishFileLoads(vm_, [this](Object* o, ClipEvent event) {
    auto* clip = static_cast<MovieClipObject*>(o);
    if (clip->Alive()) FireClipEvent(*clip->clip, event, 0);
  });
  FinishMovieLoads(*this);
  DeliverLocalMessages(vm_);
  DeliverSocketEvents(vm_);
  SendRemotingRequests(vm_);
}

void Runtime::EndFrame() {
  FireLoadInits(*this);
  // What is due at once (a file dialog the user cancels) happens before the frame ends.
  vm_.RunTimers(-std::numeric_limits<double>::infinity());
  for (MovieClipObject* o : removed_) {
    if (o->clip) o->clip->scriptObject = nullptr;
    o->clip = nullptr;
  }
  removed_.clear();
  ShowBoundVariables(*this, stage_.root(), 0);
  vm_.Collect([this](Tracer& t) {
    for (const auto& load : vm_.fileLoads) t.Mark(load.target);
    TraceMovieLoads(*this, t);
    std::vector<Clip*> stack = stage_.Levels();
    while (!stack.empty()) {
      Clip* c = stack.back();
      stack.pop_back();
      t.Mark(static_cast<Object*>(static_cast<MovieClipObject*>(c->scriptObject)));
      for (auto& [d, child] : c->children()) stack.push_back(child.get());
    }
  });
}

std::unique_ptr<Scripts> CreateRuntime(const ScriptHost& host) {
  return std::make_unique<Runtime>(host);
}

}  // namespace dbx::swf::avm1
