// flash.geom.Transform: a view of one clip's matrix and colour transform. Every read makes a new
// Matrix / ColorTransform / Rectangle; assigning one (of the right class) changes the clip, and
// the timeline leaves a clip changed this way alone.
#include "swf/avm1/transform.h"

#include <array>
#include <cmath>
#include <cstdint>

#include "swf/avm1/builtins.h"
#include "swf/avm1/runtime.h"
#include "swf/avm1/vm.h"
#include "swf/display/geometry.h"

namespace dbx::swf::avm1 {

namespace {

class TransformObject : public Object {
 public:
  TransformObject(Heap& heap, Object* proto) : Object(heap, proto, ObjClass::kOther) {}
  Object* clip = nullptr;  // the clip's script object
  void Trace(Tracer& t) override {
    Object::Trace(t);
    t.Mark(clip);
  }
};

TransformObject* AsTransform(const Value& v) {
  return v.IsObject() ? dynamic_cast<TransformObject*>(v.o) : nullptr;
}

Clip* ClipOfTransform(const Value& v) {
  TransformObject* t = AsTransform(v);
  return t ? ClipOf(t->clip) : nullptr;
}

Value GeomClass(Vm& vm, const char* name) {
  return vm.FlashMember("geom", name);
}

bool IsA(Vm& vm, const Value& v, const char* cls) {
  Object* ctor = GeomClass(vm, cls).AsObject();
  return v.IsObject() && ctor && vm.InstanceOf(v.o, ctor);
}

Value MatrixValue(Vm& vm, const Matrix& m) {
  return vm.Construct(GeomClass(vm, "Matrix"), {Value(m.a), Value(m.b), Value(m.c), Value(m.d),
                                                Value(m.tx / 20), Value(m.ty / 20)});
}

Value CxformValue(Vm& vm, const ColorTransform& cx) {
  std::vector<Value> args;
  for (const float f : cx.mult) args.emplace_back(static_cast<double>(f));
  for (const float f : cx.add) args.emplace_back(static_cast<double>(f));
  return vm.Construct(GeomClass(vm, "ColorTransform"), std::move(args));
}

// The colour transform the clip shows with, as the player composes it: multipliers in 8.8 fixed
// point and whole offsets, each step's products rounded down and wrapped to 16 bits.
ColorTransform ConcatenatedCxform16(const Clip& clip) {
  const auto wrap = [](std::int64_t v) {
    return static_cast<std::int32_t>(static_cast<std::int16_t>(static_cast<std::uint16_t>(v)));
  };
  const auto fixed = [&](float f, double scale) {
    const double v = static_cast<double>(f) * scale;
    return std::isfinite(v) ? wrap(static_cast<std::int64_t>(std::fmod(std::trunc(v), 65536.0)))
                            : 0;
  };
  std::array<std::int32_t, 4> mult{}, add{};
  for (std::size_t i = 0; i < 4; ++i) {
    mult[i] = fixed(clip.cxform.mult[i], 256);
    add[i] = fixed(clip.cxform.add[i], 1);
  }
  for (const Clip* p = clip.parent; p; p = p->parent) {
    for (std::size_t i = 0; i < 4; ++i) {
      const std::int64_t pm = fixed(p->cxform.mult[i], 256);
      mult[i] = wrap((pm * mult[i]) >> 8);
      add[i] = wrap(((pm * add[i]) >> 8) + fixed(p->cxform.add[i], 1));
    }
  }
  ColorTransform cx;
  for (std::size_t i = 0; i < 4; ++i) {
    cx.mult[i] = static_cast<float>(mult[i]) / 256.0f;
    cx.add[i] = static_cast<float>(add[i]);
  }
  return cx;
}

double Field(Vm& vm, Object* o, const char* name) {
  const double v = vm.ToNumber(vm.Get(o, name));
  return std::isfinite(v) ? v : 0.0;
}

void SetMatrixFrom(Vm& vm, Clip& clip, const Value& v) {
  if (!IsA(vm, v, "Matrix")) return;
  Object* o = v.o;
  clip.SetMatrix(Matrix{Field(vm, o, "a"), Field(vm, o, "b"), Field(vm, o, "c"), Field(vm, o, "d"),
                        std::round(Field(vm, o, "tx") * 20), std::round(Field(vm, o, "ty") * 20)});
  clip.scriptTransformed = true;
}

void SetCxformFrom(Vm& vm, Clip& clip, const Value& v) {
  if (!IsA(vm, v, "ColorTransform")) return;
  Object* o = v.o;
  static const char* const kNames[8] = {"redMultiplier",   "greenMultiplier", "blueMultiplier",
                                        "alphaMultiplier", "redOffset",       "greenOffset",
                                        "blueOffset",      "alphaOffset"};
  ColorTransform cx;
  for (int i = 0; i < 4; ++i) {
    cx.mult[static_cast<std::size_t>(i)] = static_cast<float>(Field(vm, o, kNames[i]));
    cx.add[static_cast<std::size_t>(i)] = static_cast<float>(Field(vm, o, kNames[i + 4]));
  }
  clip.cxform = cx;
  clip.scriptTransformed = true;
}

Value TransformConstruct(Vm& vm, CallArgs& a) {
  Object* clipObj = a[0].AsObject();
  if (!ClipOf(clipObj)) return {};
  auto* t = vm.heap().Make<TransformObject>(a.self ? a.self->proto() : vm.objectProto);
  t->clip = clipObj;
  return Value(static_cast<Object*>(t));
}

template <int Which>
Value TransformGet(Vm& vm, CallArgs& a) {
  Clip* clip = ClipOfTransform(Value(a.self));
  if (!clip) return {};
  switch (Which) {
    case 0:
      return MatrixValue(vm, clip->matrix);
    case 1:
      return CxformValue(vm, clip->cxform);
    case 2:
      return MatrixValue(vm, clip->ConcatenatedMatrix());
    case 3:
      return CxformValue(vm, ConcatenatedCxform16(*clip));
    default: {
      Box b = LocalBounds(*clip).Transformed(clip->ConcatenatedMatrix());
      if (b.empty) b = Box{0, 0, 0, 0, false};
      return vm.Construct(GeomClass(vm, "Rectangle"),
                          {Value(b.xmin / 20), Value(b.ymin / 20), Value((b.xmax - b.xmin) / 20),
                           Value((b.ymax - b.ymin) / 20)});
    }
  }
}

Value TransformSetMatrix(Vm& vm, CallArgs& a) {
  if (Clip* clip = ClipOfTransform(Value(a.self))) SetMatrixFrom(vm, *clip, a[0]);
  return {};
}

Value TransformSetCxform(Vm& vm, CallArgs& a) {
  if (Clip* clip = ClipOfTransform(Value(a.self))) SetCxformFrom(vm, *clip, a[0]);
  return {};
}

Value ReadOnly(Vm&, CallArgs&) {
  return {};
}

}  // namespace

Value NewTransform(Vm& vm, Object* clip) {
  return vm.Construct(GeomClass(vm, "Transform"), {Value(clip)});
}

void AssignTransform(Vm& vm, Clip& to, const Value& from) {
  Clip* source = ClipOfTransform(from);
  if (!source) return;
  SetMatrixFrom(vm, to, MatrixValue(vm, source->matrix));
  SetCxformFrom(vm, to, CxformValue(vm, source->cxform));
}

void InstallTransform(Vm& vm) {
  Object* geom = vm.FlashPackage("geom");
  Object* proto = vm.NewObject();
  vm.pinned.push_back(proto);
  auto* ctor = static_cast<Function*>(
      MakeClass(vm, geom, "Transform", TransformConstruct, TransformConstruct, proto));
  ctor->constructMayFail = true;
  const std::tuple<const char*, NativeFn, NativeFn> props[] = {
      {"matrix", TransformGet<0>, TransformSetMatrix},
      {"colorTransform", TransformGet<1>, TransformSetCxform},
      {"concatenatedMatrix", TransformGet<2>, ReadOnly},
      {"concatenatedColorTransform", TransformGet<3>, ReadOnly},
      {"pixelBounds", TransformGet<4>, ReadOnly},
  };
  for (const auto& [name, get, set] : props) {
    Property& p = proto->props().Add(name);
    p.getter = vm.NewNative(get);
    p.setter = vm.NewNative(set);
    p.flags = prop::kDontEnum;
  }
}

}  // namespace dbx::swf::avm1
