// flash.geom.ColorTransform: eight numbers held by the object itself and read and written through
// properties of the prototype. Every value a script gives is made a number when it is stored
// (no clamping: 1000 stays 1000, a text that is no number is NaN).
#include "swf/avm1/color_transform.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "swf/avm1/builtins.h"

namespace dbx::swf::avm1 {

namespace {

// The order of the values: the constructor's arguments and what toString shows.
constexpr std::array<const char*, 8> kFields = {
    "redMultiplier", "greenMultiplier", "blueMultiplier", "alphaMultiplier",
    "redOffset",     "greenOffset",     "blueOffset",     "alphaOffset"};

// What makes an object a colour transform: kept on the object `new` made, or on an instance of a
// class extending ColorTransform, whose constructor calls this one on it.
struct ColorTransformState : NativeState {
  std::array<double, 8> v{1, 1, 1, 1, 0, 0, 0, 0};
};

ColorTransformState* AsCt(Object* o) {
  return o ? dynamic_cast<ColorTransformState*>(o->native.get()) : nullptr;
}

// Makes `o` a colour transform of the constructor's arguments.
void MakeColorTransform(Vm& vm, Object& o, CallArgs& a) {
  auto ct = std::make_unique<ColorTransformState>();
  for (std::size_t i = 0; i < kFields.size() && i < a.size(); ++i) ct->v[i] = vm.ToNumber(a[i]);
  o.native = std::move(ct);
}

Value Construct(Vm& vm, CallArgs& a) {
  Object* proto = a.self ? a.self->proto() : nullptr;
  Object* o = vm.heap().Make<Object>(proto ? proto : vm.objectProto, ObjClass::kOther);
  MakeColorTransform(vm, *o, a);
  return Value(o);
}

// From the constructor of a class extending ColorTransform it makes the instance a colour
// transform, once, and gives it back; called otherwise, it makes a new one.
Value Call(Vm& vm, CallArgs& a) {
  if (!CalledFromSuper(vm, a)) return Construct(vm, a);
  if (!a.self->native) MakeColorTransform(vm, *a.self, a);
  return Value(a.self);
}

template <std::size_t I>
Value GetField(Vm&, CallArgs& a) {
  const ColorTransformState* ct = AsCt(a.self);
  return ct ? Value(ct->v[I]) : Value();
}

template <std::size_t I>
Value SetField(Vm& vm, CallArgs& a) {
  if (ColorTransformState* ct = AsCt(a.self)) ct->v[I] = vm.ToNumber(a[0]);
  return {};
}

Value ToString(Vm& vm, CallArgs& a) {
  const ColorTransformState* ct = AsCt(a.self);
  if (!ct) return Value("[object Object]");
  std::string s = "(";
  for (std::size_t i = 0; i < kFields.size(); ++i) {
    if (i) s += ", ";
    s += std::string(kFields[i]) + "=" + vm.ToString(Value(ct->v[i]));
  }
  return Value(s + ")");
}

// The offsets as one 0xRRGGBB number.
Value GetRgb(Vm&, CallArgs& a) {
  const ColorTransformState* ct = AsCt(a.self);
  if (!ct) return {};
  std::uint32_t rgb = 0;
  for (std::size_t i = 4; i < 7; ++i) rgb = (rgb << 8) | (ToUint32(ct->v[i]) & 0xFF);
  return Value(static_cast<double>(rgb));
}

// Sets the offsets to the colour's channels and the colour multipliers to 0.
Value SetRgb(Vm& vm, CallArgs& a) {
  ColorTransformState* ct = AsCt(a.self);
  if (!ct) return {};
  const std::uint32_t c = ToUint32(vm.ToNumber(a[0]));
  for (std::size_t i = 0; i < 3; ++i) {
    ct->v[i + 4] = static_cast<double>((c >> (16 - 8 * i)) & 0xFF);
    ct->v[i] = 0;
  }
  return {};
}

// Applies the argument first, then this transform.
Value Concat(Vm&, CallArgs& a) {
  ColorTransformState* ct = AsCt(a.self);
  const ColorTransformState* second = AsCt(a[0].AsObject());
  if (!ct || !second) return {};
  for (std::size_t i = 0; i < 4; ++i) {
    ct->v[i + 4] += second->v[i + 4] * ct->v[i];
    ct->v[i] *= second->v[i];
  }
  return {};
}

}  // namespace

void InstallColorTransform(Vm& vm, Object* geom) {
  Object* proto = vm.heap().Make<Object>(vm.objectProto);
  auto* ctor =
      static_cast<Function*>(MakeClass(vm, geom, "ColorTransform", Call, Construct, proto));
  ctor->constructMayFail = true;
  // Every member is enumerable; a for-in lists the last added first.
  using Accessors = std::array<NativeFn, 2>;
  const std::pair<const char*, Accessors> fields[] = {
      {"alphaMultiplier", {GetField<3>, SetField<3>}},
      {"redMultiplier", {GetField<0>, SetField<0>}},
      {"greenMultiplier", {GetField<1>, SetField<1>}},
      {"blueMultiplier", {GetField<2>, SetField<2>}},
      {"alphaOffset", {GetField<7>, SetField<7>}},
      {"redOffset", {GetField<4>, SetField<4>}},
      {"greenOffset", {GetField<5>, SetField<5>}},
      {"blueOffset", {GetField<6>, SetField<6>}},
      {"rgb", {GetRgb, SetRgb}}};
  for (const auto& [name, fns] : fields) {
    Property& p = proto->props().Add(name);
    p.getter = vm.NewNative(fns[0]);
    p.setter = vm.NewNative(fns[1]);
  }
  proto->SetOwn("concat", Value(static_cast<Object*>(vm.NewNative(Concat))));
  proto->SetOwn("toString", Value(static_cast<Object*>(vm.NewNative(ToString))));
}

}  // namespace dbx::swf::avm1
