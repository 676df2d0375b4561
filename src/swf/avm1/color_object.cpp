// The Color object of older movies: it tints a clip through the clip's colour transform.
//
// new Color(target) names the clip by path, as Sound does: a clip converts to its path, anything
// else by its toString, once. setRGB sets the red, green and blue offsets and takes the
// multipliers to zero; setTransform sets the multipliers (in percent) and offsets of the members
// its argument has, and leaves the others; getRGB and getTransform read them back. The clip keeps
// what a script set: the timeline no longer changes its colour.
#include <algorithm>
#include <array>
#include <cmath>
#include <string>

#include "swf/avm1/builtins.h"
#include "swf/avm1/runtime.h"
#include "swf/avm1/vm.h"

namespace dbx::swf::avm1 {

namespace {

class ColorObject : public Object {
 public:
  ColorObject(Heap& heap, Object* proto) : Object(heap, proto, ObjClass::kOther) {}
  bool hasTarget = false;
  std::string targetPath;
};

Clip* TargetOf(Vm& vm, CallArgs& a) {
  auto* c = dynamic_cast<ColorObject*>(a.self);
  if (!c || !c->hasTarget || !vm.root) return nullptr;
  return ClipOf(vm.ResolveTarget(vm.root, c->targetPath));
}

// A multiplier keeps 1/256 steps and an offset whole units, each within 16 bits, as the
// transforms a movie stores do.
float Multiplier(double percent) {
  if (!std::isfinite(percent)) return 0;
  return static_cast<float>(std::trunc(std::clamp(percent * 2.56, -32768.0, 32767.0)) / 256);
}
float Offset(double v) {
  if (!std::isfinite(v)) return 0;
  return static_cast<float>(std::trunc(std::clamp(v, -32768.0, 32767.0)));
}
int Whole(float v) {
  return static_cast<int>(std::lround(v));
}

Value ColorConstruct(Vm& vm, CallArgs& a) {
  Object* proto = a.callee ? vm.Get(a.callee, "prototype").AsObject() : nullptr;
  auto* c = vm.heap().Make<ColorObject>(proto ? proto : vm.objectProto);
  if (a.size() > 0 && !a[0].IsUndefined() && !a[0].IsNull()) {
    c->hasTarget = true;
    c->targetPath = vm.ToString(a[0]);
  }
  return Value(static_cast<Object*>(c));
}

Value ColorSetRgb(Vm& vm, CallArgs& a) {
  Clip* clip = TargetOf(vm, a);
  if (!clip || a.size() < 1) return {};
  const std::uint32_t rgb = ToUint32(vm.ToNumber(a[0]));
  for (int i = 0; i < 3; ++i) {
    clip->cxform.mult[static_cast<std::size_t>(i)] = 0;
    clip->cxform.add[static_cast<std::size_t>(i)] =
        static_cast<float>((rgb >> (16 - 8 * i)) & 0xFF);
  }
  clip->scriptTransformed = true;
  return {};
}

Value ColorGetRgb(Vm& vm, CallArgs& a) {
  Clip* clip = TargetOf(vm, a);
  if (!clip) return {};
  const auto& add = clip->cxform.add;
  return Value(static_cast<double>((Whole(add[0]) << 16) | (Whole(add[1]) << 8) | Whole(add[2])));
}

constexpr std::array<const char*, 4> kMultNames = {"ra", "ga", "ba", "aa"};
constexpr std::array<const char*, 4> kAddNames = {"rb", "gb", "bb", "ab"};

Value ColorSetTransform(Vm& vm, CallArgs& a) {
  Clip* clip = TargetOf(vm, a);
  Object* t = a[0].AsObject();
  if (!clip || !t) return {};
  for (std::size_t i = 0; i < 4; ++i) {
    if (vm.Has(t, kMultNames[i]))
      clip->cxform.mult[i] = Multiplier(vm.ToNumber(vm.Get(t, kMultNames[i])));
    if (vm.Has(t, kAddNames[i])) clip->cxform.add[i] = Offset(vm.ToNumber(vm.Get(t, kAddNames[i])));
  }
  clip->scriptTransformed = true;
  return {};
}

Value ColorGetTransform(Vm& vm, CallArgs& a) {
  Clip* clip = TargetOf(vm, a);
  if (!clip) return {};
  Object* t = vm.NewObject();
  for (std::size_t i = 0; i < 4; ++i) {
    vm.Set(t, kMultNames[i], Value(static_cast<double>(clip->cxform.mult[i]) * 100));
    vm.Set(t, kAddNames[i], Value(static_cast<double>(clip->cxform.add[i])));
  }
  return Value(t);
}

}  // namespace

void InstallColor(Vm& vm) {
  Object* proto = vm.NewObject();
  MakeClass(vm, vm.global, "Color", ColorConstruct, ColorConstruct, proto);
  vm.Method(proto, "setRGB", ColorSetRgb);
  vm.Method(proto, "getRGB", ColorGetRgb);
  vm.Method(proto, "setTransform", ColorSetTransform);
  vm.Method(proto, "getTransform", ColorGetTransform);
}

}  // namespace dbx::swf::avm1
