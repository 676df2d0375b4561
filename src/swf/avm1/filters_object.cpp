// flash.filters for scripts. Each filter object keeps its settings in native form, clamped as the
// player clamps them when they are written; the properties are getters and setters on the
// prototypes, listed by for..in in the player's order.
#include "swf/avm1/filters_object.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <numbers>
#include <string>
#include <utility>

#include "swf/avm1/bitmap_data.h"
#include "swf/avm1/builtins.h"
#include "swf/avm1/vm.h"

namespace dbx::swf::avm1 {

namespace {

// The classes, in the order of FilterKind for the ones the file can hold.
enum class Kind : std::uint8_t {
  kDropShadow,
  kBlur,
  kGlow,
  kBevel,
  kGradientGlow,
  kConvolution,
  kColorMatrix,
  kGradientBevel,
  kDisplacementMap,
  kBase,  // BitmapFilter itself
};

constexpr int kKinds = 10;
const char* const kClassNames[kKinds] = {
    "DropShadowFilter",      "BlurFilter",        "GlowFilter",        "BevelFilter",
    "GradientGlowFilter",    "ConvolutionFilter", "ColorMatrixFilter", "GradientBevelFilter",
    "DisplacementMapFilter", "BitmapFilter"};

enum class Prop : std::uint8_t {
  kBlurX,
  kBlurY,
  kQuality,
  kDistance,
  kAngle,
  kColor,
  kAlpha,
  kHighlightColor,
  kHighlightAlpha,
  kShadowColor,
  kShadowAlpha,
  kStrength,
  kInner,
  kKnockout,
  kHideObject,
  kType,
  kColors,
  kAlphas,
  kRatios,
  kMatrix,
  kMatrixX,
  kMatrixY,
  kDivisor,
  kBias,
  kPreserveAlpha,
  kClamp,
  kMapBitmap,
  kMapPoint,
  kComponentX,
  kComponentY,
  kScaleX,
  kScaleY,
  kMode,
  kCount
};

const char* const kPropNames[static_cast<int>(Prop::kCount)] = {
    "blurX",         "blurY",          "quality",
    "distance",      "angle",          "color",
    "alpha",         "highlightColor", "highlightAlpha",
    "shadowColor",   "shadowAlpha",    "strength",
    "inner",         "knockout",       "hideObject",
    "type",          "colors",         "alphas",
    "ratios",        "matrix",         "matrixX",
    "matrixY",       "divisor",        "bias",
    "preserveAlpha", "clamp",          "mapBitmap",
    "mapPoint",      "componentX",     "componentY",
    "scaleX",        "scaleY",         "mode"};

// Gradient filters hold at most this many colours; convolution matrices at most 15 x 15.
constexpr int kMaxStops = 16;
constexpr int kMaxMatrixSide = 15;

enum class BevelType : std::uint8_t { kInner, kOuter, kFull };

struct Settings {
  Kind kind = Kind::kBase;
  double blurX = 4, blurY = 4;
  int quality = 1;
  double distance = 4;
  double angle = 0.785398163;  // radians: the player's rounded quarter turn
  double strength = 1;
  // The colour and alpha of shadows, glows, convolutions and displacement maps; a bevel's
  // highlight. `color2` and `alpha2` are a bevel's shadow.
  std::uint32_t color = 0, color2 = 0;
  std::uint8_t alpha = 255, alpha2 = 255;
  bool inner = false, knockout = false, hideObject = false;
  BevelType type = BevelType::kInner;
  // Gradient kinds: `stops` colours are in use; the arrays keep what was written beyond that.
  int stops = 0;
  std::array<std::uint32_t, kMaxStops> colors{};
  std::array<std::uint8_t, kMaxStops> alphas{}, ratios{};
  // Colour matrix: 4 rows of r, g, b, a, offset.
  std::array<double, 20> colorMatrix{1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0};
  // Convolution: the matrix keeps every value written, and grows with matrixX * matrixY.
  int matrixX = 0, matrixY = 0;
  std::vector<double> kernel;
  double divisor = 1, bias = 0;
  bool preserveAlpha = true, clamp = true;
  // Displacement map.
  int pointX = 0, pointY = 0, componentX = 0, componentY = 0;
  double scaleX = 0, scaleY = 0;
  std::string mode = "wrap";
};

// What makes an object a filter: kept on the object `new` made, or on an instance of a class
// extending a filter class, whose constructor calls the filter's on it.
struct FilterState : NativeState {
  Settings s;
  Object* mapBitmap = nullptr;  // displacement map: the BitmapData given
  void Trace(Tracer& t) override { t.Mark(mapBitmap); }
};

FilterState* AsFilter(const Value& v) {
  Object* o = v.AsObject();
  return o ? dynamic_cast<FilterState*>(o->native.get()) : nullptr;
}

double Clamped(double v, double lo, double hi) {
  return std::isnan(v) ? lo : std::clamp(v, lo, hi);
}

int ClampedInt(double v, int lo, int hi) {
  return std::clamp(ToInt32(v), lo, hi);
}

std::uint8_t AlphaByte(double v) {
  return static_cast<std::uint8_t>(Clamped(v, 0, 1) * 255);
}

Value ArrayOf(Vm& vm, const auto& items, std::size_t n, auto convert) {
  std::vector<Value> out;
  out.reserve(n);
  for (std::size_t i = 0; i < n; ++i) out.emplace_back(convert(items[i]));
  return Value(vm.NewArray(std::move(out)));
}

// The elements of an array-like value as numbers: `length` of them, each read by index (what is
// missing is NaN). Values without a length give none.
std::vector<double> NumbersOf(Vm& vm, const Value& v, std::size_t limit) {
  std::vector<double> out;
  Object* o = v.IsObject() ? v.AsObject() : nullptr;
  double length = 0;
  if (o)
    length = vm.ToNumber(vm.Get(o, "length"));
  else if (v.IsString())
    length = static_cast<double>(vm.ToString(v).size());
  if (!(length > 0)) return out;
  const std::size_t n =
      static_cast<std::size_t>(std::min<double>(length, static_cast<double>(limit)));
  out.reserve(n);
  for (std::size_t i = 0; i < n; ++i)
    out.push_back(o ? vm.ToNumber(vm.Get(o, std::to_string(i))) : std::nan(""));
  return out;
}

const char* TypeName(BevelType t) {
  return t == BevelType::kInner ? "inner" : t == BevelType::kOuter ? "outer" : "full";
}

void GrowKernel(Settings& s) {
  const std::size_t cells =
      static_cast<std::size_t>(s.matrixX) * static_cast<std::size_t>(s.matrixY);
  if (s.kernel.size() < cells) s.kernel.resize(cells, 0.0);
}

Value Get(Vm& vm, FilterState& f, Prop p) {
  Settings& s = f.s;
  switch (p) {
    case Prop::kBlurX:
      return Value(s.blurX);
    case Prop::kBlurY:
      return Value(s.blurY);
    case Prop::kQuality:
      return Value(s.quality);
    case Prop::kDistance:
      return Value(s.distance);
    case Prop::kAngle:
      return Value(s.angle * 180 / std::numbers::pi);
    case Prop::kColor:
    case Prop::kHighlightColor:
      return Value(static_cast<double>(s.color));
    case Prop::kAlpha:
    case Prop::kHighlightAlpha:
      return Value(s.alpha / 255.0);
    case Prop::kShadowColor:
      return Value(static_cast<double>(s.color2));
    case Prop::kShadowAlpha:
      return Value(s.alpha2 / 255.0);
    case Prop::kStrength:
      return Value(s.strength);
    case Prop::kInner:
      return Value(s.inner);
    case Prop::kKnockout:
      return Value(s.knockout);
    case Prop::kHideObject:
      return Value(s.hideObject);
    case Prop::kType:
      return Value(TypeName(s.type));
    case Prop::kColors:
      return ArrayOf(vm, s.colors, static_cast<std::size_t>(s.stops),
                     [](std::uint32_t c) { return Value(static_cast<double>(c)); });
    case Prop::kAlphas:
      return ArrayOf(vm, s.alphas, static_cast<std::size_t>(s.stops),
                     [](std::uint8_t a) { return Value(a / 255.0); });
    case Prop::kRatios:
      return ArrayOf(vm, s.ratios, static_cast<std::size_t>(s.stops),
                     [](std::uint8_t r) { return Value(static_cast<double>(r)); });
    case Prop::kMatrix:
      if (s.kind == Kind::kColorMatrix)
        return ArrayOf(vm, s.colorMatrix, s.colorMatrix.size(), [](double d) { return Value(d); });
      return ArrayOf(vm, s.kernel, s.kernel.size(), [](double d) { return Value(d); });
    case Prop::kMatrixX:
      return Value(s.matrixX);
    case Prop::kMatrixY:
      return Value(s.matrixY);
    case Prop::kDivisor:
      return Value(s.divisor);
    case Prop::kBias:
      return Value(s.bias);
    case Prop::kPreserveAlpha:
      return Value(s.preserveAlpha);
    case Prop::kClamp:
      return Value(s.clamp);
    case Prop::kMapBitmap:
      return f.mapBitmap ? Value(f.mapBitmap) : Value();
    case Prop::kMapPoint:
      return vm.Construct(Value(vm.pointCtor), {Value(s.pointX), Value(s.pointY)});
    case Prop::kComponentX:
      return Value(s.componentX);
    case Prop::kComponentY:
      return Value(s.componentY);
    case Prop::kScaleX:
      return Value(s.scaleX);
    case Prop::kScaleY:
      return Value(s.scaleY);
    case Prop::kMode:
      return Value(s.mode);
    case Prop::kCount:
      break;
  }
  return {};
}

void Set(Vm& vm, FilterState& f, Prop p, const Value& v) {
  Settings& s = f.s;
  switch (p) {
    case Prop::kBlurX:
      s.blurX = Clamped(vm.ToNumber(v), 0, 255);
      break;
    case Prop::kBlurY:
      s.blurY = Clamped(vm.ToNumber(v), 0, 255);
      break;
    case Prop::kQuality:
      s.quality = ClampedInt(vm.ToNumber(v), 0, 15);
      break;
    case Prop::kDistance:
      s.distance = vm.ToNumber(v);
      break;
    case Prop::kAngle:
      s.angle = std::fmod(vm.ToNumber(v), 360.0) * std::numbers::pi / 180;
      break;
    case Prop::kColor:
    case Prop::kHighlightColor:
      s.color = ToUint32(vm.ToNumber(v)) & 0xFFFFFF;
      break;
    case Prop::kAlpha:
    case Prop::kHighlightAlpha:
      s.alpha = AlphaByte(vm.ToNumber(v));
      break;
    case Prop::kShadowColor:
      s.color2 = ToUint32(vm.ToNumber(v)) & 0xFFFFFF;
      break;
    case Prop::kShadowAlpha:
      s.alpha2 = AlphaByte(vm.ToNumber(v));
      break;
    case Prop::kStrength:
      s.strength = Clamped(vm.ToNumber(v), 0, 255);
      break;
    case Prop::kInner:
      s.inner = vm.ToBool(v);
      break;
    case Prop::kKnockout:
      s.knockout = vm.ToBool(v);
      break;
    case Prop::kHideObject:
      s.hideObject = vm.ToBool(v);
      break;
    case Prop::kType: {
      // Names are matched exactly; anything else asks for both sides.
      const std::string t = vm.ToString(v);
      s.type = t == "inner"   ? BevelType::kInner
               : t == "outer" ? BevelType::kOuter
                              : BevelType::kFull;
      break;
    }
    case Prop::kColors: {
      // The colours decide how many stops there are.
      if (v.IsUndefined() || v.IsNull()) break;
      const std::vector<double> c = NumbersOf(vm, v, kMaxStops);
      s.stops = static_cast<int>(c.size());
      for (std::size_t i = 0; i < c.size(); ++i) s.colors[i] = ToUint32(c[i]) & 0xFFFFFF;
      break;
    }
    case Prop::kAlphas: {
      // Every stop in use takes an alpha; one the array lacks is opaque.
      if (v.IsUndefined() || v.IsNull()) break;
      const std::vector<double> a = NumbersOf(vm, v, kMaxStops);
      for (std::size_t i = 0; i < static_cast<std::size_t>(s.stops); ++i) {
        const double x = i < a.size() ? a[i] : std::nan("");
        s.alphas[i] = std::isnan(x)
                          ? 255
                          : static_cast<std::uint8_t>(std::lround(std::clamp(x, 0.0, 1.0) * 255));
      }
      break;
    }
    case Prop::kRatios: {
      // Fewer ratios than colours drop the stops beyond them.
      if (v.IsUndefined() || v.IsNull()) break;
      const std::vector<double> r = NumbersOf(vm, v, kMaxStops);
      s.stops = std::min(s.stops, static_cast<int>(r.size()));
      for (std::size_t i = 0; i < static_cast<std::size_t>(s.stops); ++i)
        s.ratios[i] = static_cast<std::uint8_t>(ClampedInt(r[i], 0, 255));
      break;
    }
    case Prop::kMatrix:
      if (v.IsUndefined() || v.IsNull()) break;
      if (s.kind == Kind::kColorMatrix) {
        // Always 20 values: those the value holds, NaN for the rest.
        Object* o = v.AsObject();
        for (std::size_t i = 0; i < s.colorMatrix.size(); ++i)
          s.colorMatrix[i] = o ? vm.ToNumber(vm.Get(o, std::to_string(i))) : std::nan("");
      } else {
        s.kernel = NumbersOf(vm, v, kMaxMatrixSide * kMaxMatrixSide);
        GrowKernel(s);
      }
      break;
    case Prop::kMatrixX:
      s.matrixX = ClampedInt(vm.ToNumber(v), 0, kMaxMatrixSide);
      GrowKernel(s);
      break;
    case Prop::kMatrixY:
      s.matrixY = ClampedInt(vm.ToNumber(v), 0, kMaxMatrixSide);
      GrowKernel(s);
      break;
    case Prop::kDivisor:
      s.divisor = vm.ToNumber(v);
      break;
    case Prop::kBias:
      s.bias = vm.ToNumber(v);
      break;
    case Prop::kPreserveAlpha:
      s.preserveAlpha = vm.ToBool(v);
      break;
    case Prop::kClamp:
      s.clamp = vm.ToBool(v);
      break;
    case Prop::kMapBitmap:
      // Only a BitmapData replaces the map.
      if (BitmapDataObject* b = AsBitmapData(v)) f.mapBitmap = b;
      break;
    case Prop::kMapPoint: {
      s.pointX = s.pointY = 0;
      Object* o = v.AsObject();
      if (!o) break;
      const Value x = vm.Get(o, "x"), y = vm.Get(o, "y");
      if (x.IsUndefined() || y.IsUndefined()) break;
      s.pointX = ToInt32(vm.ToNumber(x));
      s.pointY = ToInt32(vm.ToNumber(y));
      break;
    }
    case Prop::kComponentX:
      s.componentX = ToInt32(vm.ToNumber(v));
      break;
    case Prop::kComponentY:
      s.componentY = ToInt32(vm.ToNumber(v));
      break;
    case Prop::kScaleX:
      s.scaleX = Clamped(vm.ToNumber(v), -65535, 65535);
      break;
    case Prop::kScaleY:
      s.scaleY = Clamped(vm.ToNumber(v), -65535, 65535);
      break;
    case Prop::kMode: {
      const std::string m = vm.ToString(v);
      s.mode = m == "clamp" || m == "ignore" || m == "color" ? m : "wrap";
      break;
    }
    case Prop::kCount:
      break;
  }
}

// Each class's properties, in the order the player lists them, which is also the order of the
// constructor's arguments where `kArgs` does not say otherwise.
using P = Prop;
struct ClassSpec {
  std::vector<Prop> props;  // as listed
  std::vector<Prop> args;   // constructor arguments
};

const ClassSpec& SpecOf(Kind k) {
  static const ClassSpec specs[kKinds] = {
      // DropShadowFilter
      {{P::kDistance, P::kAngle, P::kColor, P::kAlpha, P::kQuality, P::kInner, P::kKnockout,
        P::kBlurX, P::kBlurY, P::kStrength, P::kHideObject},
       {P::kDistance, P::kAngle, P::kColor, P::kAlpha, P::kBlurX, P::kBlurY, P::kStrength,
        P::kQuality, P::kInner, P::kKnockout, P::kHideObject}},
      // BlurFilter
      {{P::kBlurX, P::kBlurY, P::kQuality}, {P::kBlurX, P::kBlurY, P::kQuality}},
      // GlowFilter
      {{P::kColor, P::kAlpha, P::kQuality, P::kInner, P::kKnockout, P::kBlurX, P::kBlurY,
        P::kStrength},
       {P::kColor, P::kAlpha, P::kBlurX, P::kBlurY, P::kStrength, P::kQuality, P::kInner,
        P::kKnockout}},
      // BevelFilter
      {{P::kDistance, P::kAngle, P::kHighlightColor, P::kHighlightAlpha, P::kShadowColor,
        P::kShadowAlpha, P::kQuality, P::kStrength, P::kKnockout, P::kBlurX, P::kBlurY, P::kType},
       {P::kDistance, P::kAngle, P::kHighlightColor, P::kHighlightAlpha, P::kShadowColor,
        P::kShadowAlpha, P::kBlurX, P::kBlurY, P::kStrength, P::kQuality, P::kType, P::kKnockout}},
      // GradientGlowFilter
      {{P::kDistance, P::kAngle, P::kColors, P::kAlphas, P::kRatios, P::kBlurX, P::kBlurY,
        P::kQuality, P::kStrength, P::kKnockout, P::kType},
       {P::kDistance, P::kAngle, P::kColors, P::kAlphas, P::kRatios, P::kBlurX, P::kBlurY,
        P::kStrength, P::kQuality, P::kType, P::kKnockout}},
      // ConvolutionFilter
      {{P::kMatrixX, P::kMatrixY, P::kMatrix, P::kDivisor, P::kBias, P::kPreserveAlpha, P::kClamp,
        P::kColor, P::kAlpha},
       {P::kMatrixX, P::kMatrixY, P::kMatrix, P::kDivisor, P::kBias, P::kPreserveAlpha, P::kClamp,
        P::kColor, P::kAlpha}},
      // ColorMatrixFilter
      {{P::kMatrix}, {P::kMatrix}},
      // GradientBevelFilter
      {{P::kDistance, P::kAngle, P::kColors, P::kAlphas, P::kRatios, P::kBlurX, P::kBlurY,
        P::kQuality, P::kStrength, P::kKnockout, P::kType},
       {P::kDistance, P::kAngle, P::kColors, P::kAlphas, P::kRatios, P::kBlurX, P::kBlurY,
        P::kStrength, P::kQuality, P::kType, P::kKnockout}},
      // DisplacementMapFilter
      {{P::kMapBitmap, P::kMapPoint, P::kComponentX, P::kComponentY, P::kScaleX, P::kScaleY,
        P::kMode, P::kColor, P::kAlpha},
       {P::kMapBitmap, P::kMapPoint, P::kComponentX, P::kComponentY, P::kScaleX, P::kScaleY,
        P::kMode, P::kColor, P::kAlpha}},
      // BitmapFilter
      {{}, {}},
  };
  return specs[static_cast<int>(k)];
}

// What a new filter of each kind holds before its arguments are applied.
Settings Defaults(Kind k) {
  Settings s;
  s.kind = k;
  switch (k) {
    case Kind::kGlow:
      s.blurX = s.blurY = 6;
      s.strength = 2;
      s.color = 0xFF0000;
      break;
    case Kind::kBevel:
      s.color = 0xFFFFFF;
      break;
    case Kind::kConvolution:
    case Kind::kDisplacementMap:
      s.alpha = 0;
      break;
    default:
      break;
  }
  return s;
}

// The prototypes of the classes, found from the global object (scripts can replace them).
Object* ProtoOf(Vm& vm, Kind k) {
  Object* ctor = vm.FlashMember("filters", kClassNames[static_cast<int>(k)]).AsObject();
  return ctor ? vm.Get(ctor, "prototype").AsObject() : nullptr;
}

// Makes `o` a filter of settings `s`.
FilterState& MakeFilter(Object& o, const Settings& s) {
  auto state = std::make_unique<FilterState>();
  state->s = s;
  FilterState& f = *state;
  o.native = std::move(state);
  return f;
}

Object* NewFilter(Vm& vm, Object* proto, const Settings& s) {
  Object* o = vm.heap().Make<Object>(proto ? proto : vm.objectProto, ObjClass::kOther);
  MakeFilter(*o, s);
  return o;
}

void TakeArguments(Vm& vm, FilterState& f, Kind k, CallArgs& a) {
  const ClassSpec& spec = SpecOf(k);
  for (std::size_t i = 0; i < spec.args.size() && i < a.size(); ++i) Set(vm, f, spec.args[i], a[i]);
}

Kind KindOf(const CallArgs& a) {
  return static_cast<Kind>(a.callee ? static_cast<Function*>(a.callee)->nativeData : 9);
}

Value Construct(Vm& vm, CallArgs& a) {
  const Kind k = KindOf(a);
  Object* o = NewFilter(vm, a.self ? a.self->proto() : ProtoOf(vm, k), Defaults(k));
  TakeArguments(vm, *AsFilter(Value(o)), k, a);
  return Value(o);
}

// The constructor called without `new`. From the constructor of a class extending the filter's,
// it makes that instance a filter, once, and gives it back; called otherwise, it makes a new
// filter.
Value CallConstructor(Vm& vm, CallArgs& a) {
  if (!CalledFromSuper(vm, a)) return Construct(vm, a);
  Object* self = a.self;
  if (!self->native) {
    const Kind k = KindOf(a);
    TakeArguments(vm, MakeFilter(*self, Defaults(k)), k, a);
  }
  return Value(self);
}

Value Getter(Vm& vm, CallArgs& a) {
  FilterState* f = AsFilter(a.self ? Value(a.self) : Value());
  if (!f) return {};
  return Get(vm, *f, static_cast<Prop>(static_cast<Function*>(a.callee)->nativeData));
}

Value Setter(Vm& vm, CallArgs& a) {
  FilterState* f = AsFilter(a.self ? Value(a.self) : Value());
  if (f) Set(vm, *f, static_cast<Prop>(static_cast<Function*>(a.callee)->nativeData), a[0]);
  return {};
}

Value Clone(Vm& vm, CallArgs& a) {
  FilterState* f = AsFilter(a.self ? Value(a.self) : Value());
  if (!f || f->s.kind == Kind::kBase) return {};
  Object* c = NewFilter(vm, a.self->proto(), f->s);
  AsFilter(Value(c))->mapBitmap = f->mapBitmap;
  return Value(c);
}

Rgba ColorOf(std::uint32_t rgb, std::uint8_t alpha) {
  return {static_cast<std::uint8_t>(rgb >> 16), static_cast<std::uint8_t>(rgb >> 8),
          static_cast<std::uint8_t>(rgb), alpha};
}

std::uint32_t RgbOf(const Rgba& c) {
  return (std::uint32_t{c.r} << 16) | (std::uint32_t{c.g} << 8) | c.b;
}

float Finite(double v) {
  return std::isfinite(v) ? static_cast<float>(std::clamp(v, -1e6, 1e6)) : 0.0f;
}

Settings FromFilter(const Filter& f) {
  Settings s = Defaults(static_cast<Kind>(f.kind));
  s.blurX = f.blurX;
  s.blurY = f.blurY;
  s.quality = std::clamp(f.passes, 0, 15);
  s.distance = f.distance;
  s.angle = f.angle;
  s.strength = f.strength;
  s.inner = f.inner;
  s.knockout = f.knockout;
  s.hideObject = !f.compositeSource;
  s.type = f.onTop ? BevelType::kFull : f.inner ? BevelType::kInner : BevelType::kOuter;
  switch (f.kind) {
    case FilterKind::kDropShadow:
    case FilterKind::kGlow:
    case FilterKind::kBevel:
      if (!f.colors.empty()) {
        s.color = RgbOf(f.colors[0].color);
        s.alpha = f.colors[0].color.a;
      }
      if (f.colors.size() > 1) {
        s.color2 = RgbOf(f.colors[1].color);
        s.alpha2 = f.colors[1].color.a;
      }
      break;
    case FilterKind::kGradientGlow:
    case FilterKind::kGradientBevel:
      s.stops = static_cast<int>(std::min<std::size_t>(f.colors.size(), kMaxStops));
      for (std::size_t i = 0; i < static_cast<std::size_t>(s.stops); ++i) {
        s.colors[i] = RgbOf(f.colors[i].color);
        s.alphas[i] = f.colors[i].color.a;
        s.ratios[i] = f.colors[i].ratio;
      }
      break;
    case FilterKind::kColorMatrix:
      for (std::size_t i = 0; i < 20; ++i) s.colorMatrix[i] = f.matrix[i];
      break;
    case FilterKind::kConvolution:
      s.matrixX = std::clamp(f.matrixX, 0, kMaxMatrixSide);
      s.matrixY = std::clamp(f.matrixY, 0, kMaxMatrixSide);
      s.kernel.assign(f.kernel.begin(), f.kernel.end());
      GrowKernel(s);
      s.divisor = f.divisor;
      s.bias = f.bias;
      s.color = RgbOf(f.defaultColor);
      s.alpha = f.defaultColor.a;
      s.clamp = f.clamp;
      s.preserveAlpha = f.preserveAlpha;
      break;
    case FilterKind::kBlur:
      break;
  }
  return s;
}

bool ToFilter(const Settings& s, Filter& f) {
  if (s.kind == Kind::kBase || s.kind == Kind::kDisplacementMap) return false;
  f = Filter{};
  f.kind = static_cast<FilterKind>(s.kind);
  f.blurX = static_cast<float>(s.blurX);
  f.blurY = static_cast<float>(s.blurY);
  f.passes = s.quality;
  f.strength = static_cast<float>(s.strength);
  f.knockout = s.knockout;
  switch (s.kind) {
    case Kind::kDropShadow:
      f.compositeSource = !s.hideObject;
      [[fallthrough]];
    case Kind::kGlow:
      f.inner = s.inner;
      f.colors = {{0, ColorOf(s.color, s.alpha)}};
      if (s.kind == Kind::kDropShadow) {
        f.angle = Finite(s.angle);
        f.distance = Finite(s.distance);
      }
      break;
    case Kind::kBevel:
    case Kind::kGradientGlow:
    case Kind::kGradientBevel:
      f.angle = Finite(s.angle);
      f.distance = Finite(s.distance);
      f.inner = s.type == BevelType::kInner;
      f.onTop = s.type == BevelType::kFull;
      if (s.kind == Kind::kBevel) {
        f.colors = {{0, ColorOf(s.color, s.alpha)}, {255, ColorOf(s.color2, s.alpha2)}};
      } else {
        for (std::size_t i = 0; i < static_cast<std::size_t>(s.stops); ++i)
          f.colors.push_back({s.ratios[i], ColorOf(s.colors[i], s.alphas[i])});
      }
      break;
    case Kind::kColorMatrix:
      for (std::size_t i = 0; i < 20; ++i) f.matrix[i] = Finite(s.colorMatrix[i]);
      break;
    case Kind::kConvolution: {
      f.matrixX = s.matrixX;
      f.matrixY = s.matrixY;
      const std::size_t cells =
          static_cast<std::size_t>(s.matrixX) * static_cast<std::size_t>(s.matrixY);
      for (std::size_t i = 0; i < cells && i < s.kernel.size(); ++i)
        f.kernel.push_back(Finite(s.kernel[i]));
      f.divisor = Finite(s.divisor);
      f.bias = Finite(s.bias);
      f.defaultColor = ColorOf(s.color, s.alpha);
      f.clamp = s.clamp;
      f.preserveAlpha = s.preserveAlpha;
      break;
    }
    default:
      break;
  }
  return true;
}

}  // namespace

void InstallFilters(Vm& vm) {
  Object* pkg = vm.FlashPackage("filters");
  Heap& h = vm.heap();
  Object* baseProto = h.Make<Object>(vm.objectProto);
  {
    Function* ctor =
        static_cast<Function*>(MakeClass(vm, pkg, kClassNames[static_cast<int>(Kind::kBase)],
                                         CallConstructor, Construct, baseProto));
    ctor->nativeData = static_cast<int>(Kind::kBase);
    vm.Method(baseProto, "clone", Clone);
  }
  for (int k = 0; k < kKinds; ++k) {
    if (static_cast<Kind>(k) == Kind::kBase) continue;
    Object* proto = h.Make<Object>(baseProto);
    Function* ctor = static_cast<Function*>(
        MakeClass(vm, pkg, kClassNames[k], CallConstructor, Construct, proto));
    ctor->nativeData = k;
    // Defined in the listed order: for..in gives the latest first, as the player lists them
    // backwards.
    for (Prop p : SpecOf(static_cast<Kind>(k)).props) {
      Property& prop = proto->props().Add(kPropNames[static_cast<int>(p)]);
      prop.getter = vm.NewNative(Getter, static_cast<int>(p));
      prop.setter = vm.NewNative(Setter, static_cast<int>(p));
    }
    proto->SetOwn("clone", Value(static_cast<Object*>(vm.NewNative(Clone))));
  }
}

Object* FiltersToScript(Vm& vm, const std::vector<Filter>& filters) {
  std::vector<Value> items;
  for (const Filter& f : filters) {
    const Kind k = static_cast<Kind>(f.kind);
    items.emplace_back(NewFilter(vm, ProtoOf(vm, k), FromFilter(f)));
  }
  return vm.NewArray(std::move(items));
}

std::vector<Filter> FiltersFromScript(Vm& vm, const Value& list) {
  std::vector<Filter> out;
  Object* o = list.AsObject();
  if (!o) return out;
  const double length = vm.ToNumber(vm.Get(o, "length"));
  if (!(length > 0)) return out;
  // A list longer than any movie draws is cut: each filter costs a pass over the layer.
  const std::size_t n = static_cast<std::size_t>(std::min(length, 64.0));
  for (std::size_t i = 0; i < n; ++i) {
    Filter f;
    if (FilterFromScript(vm.Get(o, std::to_string(i)), f)) out.push_back(std::move(f));
  }
  return out;
}

bool FilterFromScript(const Value& v, Filter& out) {
  FilterState* f = AsFilter(v);
  return f && ToFilter(f->s, out);
}

}  // namespace dbx::swf::avm1
