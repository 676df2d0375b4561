// flash.geom.Point: a plain object with x and y that scripts read and write directly; the methods
// work on whatever those hold, as the player's do (missing values give NaN, objects stay objects).
#include <cmath>

#include "swf/avm1/builtins.h"
#include "swf/avm1/vm.h"

namespace dbx::swf::avm1 {

namespace {

Object* NewPoint(Vm& vm, const Value& x, const Value& y) {
  Object* p = vm.NewObject();
  p->setProto(vm.pointProto);
  p->SetOwn("x", x);
  p->SetOwn("y", y);
  return p;
}

double Num(Vm& vm, Object* o, const char* name) {
  return vm.ToNumber(o ? vm.Get(o, name) : Value());
}

// What Add2 does: texts join, anything else adds as numbers.
Value AddValues(Vm& vm, const Value& a, const Value& b) {
  Value pa = vm.ToPrimitive(a), pb = vm.ToPrimitive(b);
  if (pa.IsString() || pb.IsString()) return Value(vm.ToString(pa) + vm.ToString(pb));
  return Value(vm.ToNumber(pa) + vm.ToNumber(pb));
}

Value PointConstruct(Vm& vm, CallArgs& a) {
  Object* self = a.self ? a.self : vm.NewObject();
  if (a.size() == 0) {
    self->SetOwn("x", Value(0));
    self->SetOwn("y", Value(0));
  } else {
    self->SetOwn("x", a[0]);
    self->SetOwn("y", a[1]);
  }
  return Value(self);
}

Value PointToString(Vm& vm, CallArgs& a) {
  if (!a.self) return Value("(x=undefined, y=undefined)");
  return Value("(x=" + vm.ToString(vm.Get(a.self, "x")) + ", y=" + vm.ToString(vm.Get(a.self, "y")) +
               ")");
}

Value PointAdd(Vm& vm, CallArgs& a) {
  if (!a.self) return {};
  Object* o = a[0].AsObject();
  Value ox = o ? vm.Get(o, "x") : Value(), oy = o ? vm.Get(o, "y") : Value();
  Value x = AddValues(vm, vm.Get(a.self, "x"), ox);
  Value y = AddValues(vm, vm.Get(a.self, "y"), oy);
  return Value(NewPoint(vm, x, y));
}

Value PointSubtract(Vm& vm, CallArgs& a) {
  if (!a.self) return {};
  Object* o = a[0].AsObject();
  return Value(NewPoint(vm, Value(Num(vm, a.self, "x") - Num(vm, o, "x")),
                        Value(Num(vm, a.self, "y") - Num(vm, o, "y"))));
}

Value PointEquals(Vm& vm, CallArgs& a) {
  Object* o = a[0].AsObject();
  if (!a.self || !o || !vm.InstanceOf(o, vm.pointCtor)) return Value(false);
  return Value(vm.AbstractEquals(vm.Get(a.self, "x"), vm.Get(o, "x")) &&
               vm.AbstractEquals(vm.Get(a.self, "y"), vm.Get(o, "y")));
}

Value PointClone(Vm& vm, CallArgs& a) {
  if (!a.self) return {};
  return Value(NewPoint(vm, vm.Get(a.self, "x"), vm.Get(a.self, "y")));
}

Value PointLength(Vm& vm, CallArgs& a) {
  if (!a.self) return {};
  return Value(std::hypot(Num(vm, a.self, "x"), Num(vm, a.self, "y")));
}

// Scales to the given length; a point of length 0 or NaN stays as it is.
Value PointNormalize(Vm& vm, CallArgs& a) {
  if (!a.self) return {};
  double x = Num(vm, a.self, "x"), y = Num(vm, a.self, "y");
  double len = std::hypot(x, y);
  if (!(len > 0)) return {};
  double k = vm.ToNumber(a[0]) / len;
  a.self->SetOwn("x", Value(x * k));
  a.self->SetOwn("y", Value(y * k));
  return {};
}

Value PointOffset(Vm& vm, CallArgs& a) {
  if (!a.self) return {};
  vm.Set(a.self, "x", Value(Num(vm, a.self, "x") + vm.ToNumber(a[0])));
  vm.Set(a.self, "y", Value(Num(vm, a.self, "y") + vm.ToNumber(a[1])));
  return {};
}

// Point.distance(a, b) is a.subtract(b).length, through the script-visible methods.
Value PointDistance(Vm& vm, CallArgs& a) {
  if (!a[0].IsObject()) return {};
  Value d = vm.CallMethod(a[0], "subtract", {a[1]});
  if (!d.IsObject()) return {};
  return vm.Get(d.o, "length");
}

Value PointInterpolate(Vm& vm, CallArgs& a) {
  Object* p1 = a[0].AsObject();
  Object* p2 = a[1].AsObject();
  double f = vm.ToNumber(a[2]);
  double x2 = Num(vm, p2, "x"), y2 = Num(vm, p2, "y");
  return Value(NewPoint(vm, Value(x2 + f * (Num(vm, p1, "x") - x2)),
                        Value(y2 + f * (Num(vm, p1, "y") - y2))));
}

Value PointPolar(Vm& vm, CallArgs& a) {
  double len = vm.ToNumber(a[0]), angle = vm.ToNumber(a[1]);
  return Value(NewPoint(vm, Value(len * std::cos(angle)), Value(len * std::sin(angle))));
}

}  // namespace

void InstallGeom(Vm& vm) {
  Heap& h = vm.heap();
  Object* flash = vm.Get(vm.global, "flash").AsObject();
  if (!flash) {
    flash = vm.NewObject();
    vm.global->SetOwn("flash", Value(flash), prop::kDontEnum);
  }
  Object* geom = vm.NewObject();
  flash->SetOwn("geom", Value(geom), prop::kDontEnum);

  vm.pointProto = h.Make<Object>(vm.objectProto);
  vm.pointCtor = MakeClass(vm, geom, "Point", PointConstruct, PointConstruct, vm.pointProto);
  vm.Method(vm.pointCtor, "distance", PointDistance);
  vm.Method(vm.pointCtor, "interpolate", PointInterpolate);
  vm.Method(vm.pointCtor, "polar", PointPolar);
  Object* pp = vm.pointProto;
  vm.Method(pp, "toString", PointToString);
  vm.Method(pp, "add", PointAdd);
  vm.Method(pp, "subtract", PointSubtract);
  vm.Method(pp, "equals", PointEquals);
  vm.Method(pp, "clone", PointClone);
  vm.Method(pp, "normalize", PointNormalize);
  vm.Method(pp, "offset", PointOffset);
  Property& length = pp->props().Add("length");
  length.getter = vm.NewNative(PointLength);
  length.flags = prop::kDontEnum;
}

}  // namespace dbx::swf::avm1
