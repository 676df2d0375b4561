// flash.geom.Point and Matrix: plain objects whose fields (x, y; a, b, c, d, tx, ty) scripts read
// and write directly; the methods work on whatever those hold, as the player's do (missing values
// give NaN, objects stay objects).
#include <cmath>
#include <string>
#include <vector>

#include "swf/avm1/builtins.h"
#include "swf/avm1/vm.h"

namespace dbx::swf::avm1 {

namespace {

Object* NewPoint(Vm& vm, const Value& x, const Value& y) {
  Object* p = vm.NewObject();
  p->SetProto(vm.pointProto);
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
  return Value("(x=" + vm.ToString(vm.Get(a.self, "x")) +
               ", y=" + vm.ToString(vm.Get(a.self, "y")) + ")");
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

// ---- Matrix --------------------------------------------------------------------------------

const char* const kMatrixFields[6] = {"a", "b", "c", "d", "tx", "ty"};

struct M {
  double a, b, c, d, tx, ty;
};

M ReadMatrix(Vm& vm, Object* o) {
  double f[6];
  for (int i = 0; i < 6; ++i) f[i] = Num(vm, o, kMatrixFields[i]);
  return {f[0], f[1], f[2], f[3], f[4], f[5]};
}

void WriteMatrix(Vm& vm, Object* o, const M& m) {
  const double f[6] = {m.a, m.b, m.c, m.d, m.tx, m.ty};
  for (int i = 0; i < 6; ++i) vm.Set(o, kMatrixFields[i], Value(f[i]));
}

// this then m: points go through this matrix first.
M Concat(const M& t, const M& m) {
  return {t.a * m.a + t.b * m.c, t.a * m.b + t.b * m.d,          t.c * m.a + t.d * m.c,
          t.c * m.b + t.d * m.d, t.tx * m.a + t.ty * m.c + m.tx, t.tx * m.b + t.ty * m.d + m.ty};
}

Value MatrixConstruct(Vm& vm, CallArgs& a) {
  Object* self = a.self ? a.self : vm.NewObject();
  if (a.size() == 0) {
    WriteMatrix(vm, self, {1, 0, 0, 1, 0, 0});
  } else {
    for (int i = 0; i < 6; ++i) vm.Set(self, kMatrixFields[i], a[static_cast<std::size_t>(i)]);
  }
  return Value(self);
}

Value MatrixToString(Vm& vm, CallArgs& a) {
  std::string out = "(";
  for (int i = 0; i < 6; ++i) {
    if (i) out += ", ";
    out += std::string(kMatrixFields[i]) + "=" +
           vm.ToString(a.self ? vm.Get(a.self, kMatrixFields[i]) : Value());
  }
  return Value(out + ")");
}

Value MatrixClone(Vm& vm, CallArgs& a) {
  if (!a.self) return {};
  std::vector<Value> fields;
  for (const char* f : kMatrixFields) fields.push_back(vm.Get(a.self, f));
  return vm.Construct(Value(vm.matrixCtor), std::move(fields));
}

Value MatrixIdentity(Vm& vm, CallArgs& a) {
  if (a.self) WriteMatrix(vm, a.self, {1, 0, 0, 1, 0, 0});
  return {};
}

Value MatrixConcat(Vm& vm, CallArgs& a) {
  Object* o = a[0].AsObject();
  if (!a.self || !o) return {};
  WriteMatrix(vm, a.self, Concat(ReadMatrix(vm, a.self), ReadMatrix(vm, o)));
  return {};
}

Value MatrixTranslate(Vm& vm, CallArgs& a) {
  if (!a.self) return {};
  M m = ReadMatrix(vm, a.self);
  m.tx += vm.ToNumber(a[0]);
  m.ty += vm.ToNumber(a[1]);
  WriteMatrix(vm, a.self, m);
  return {};
}

Value MatrixScale(Vm& vm, CallArgs& a) {
  if (!a.self) return {};
  double sx = vm.ToNumber(a[0]), sy = vm.ToNumber(a[1]);
  WriteMatrix(vm, a.self, Concat(ReadMatrix(vm, a.self), {sx, 0, 0, sy, 0, 0}));
  return {};
}

Value MatrixRotate(Vm& vm, CallArgs& a) {
  if (!a.self) return {};
  double q = vm.ToNumber(a[0]);
  double c = std::cos(q), s = std::sin(q);
  WriteMatrix(vm, a.self, Concat(ReadMatrix(vm, a.self), {c, s, -s, c, 0, 0}));
  return {};
}

Value MatrixInvert(Vm& vm, CallArgs& a) {
  if (!a.self) return {};
  M m = ReadMatrix(vm, a.self);
  double det = m.a * m.d - m.b * m.c;
  M r{m.d / det, -m.b / det, -m.c / det, m.a / det, 0, 0};
  r.tx = -(r.a * m.tx + r.c * m.ty);
  r.ty = -(r.b * m.tx + r.d * m.ty);
  WriteMatrix(vm, a.self, r);
  return {};
}

// createBox(scaleX, scaleY, rotation, tx, ty); createGradientBox(width, height, rotation, tx, ty)
// maps the 1638.4-unit gradient square onto the box. A missing offset is 0; a missing rotation
// is 0 for a gradient box and NaN for a box.
void Box(Vm& vm, CallArgs& a, bool gradient) {
  if (!a.self) return;
  double sx = vm.ToNumber(a[0]), sy = vm.ToNumber(a[1]);
  double q = gradient && a.size() < 3 ? 0 : vm.ToNumber(a[2]);
  double tx = a.size() > 3 ? vm.ToNumber(a[3]) : 0, ty = a.size() > 4 ? vm.ToNumber(a[4]) : 0;
  if (gradient) {
    tx += sx / 2;
    ty += sy / 2;
    sx /= 1638.4;
    sy /= 1638.4;
  }
  double c = std::cos(q), s = std::sin(q);
  WriteMatrix(vm, a.self, {c * sx, s * sy, -s * sx, c * sy, tx, ty});
}
Value MatrixCreateBox(Vm& vm, CallArgs& a) {
  Box(vm, a, false);
  return {};
}
Value MatrixCreateGradientBox(Vm& vm, CallArgs& a) {
  Box(vm, a, true);
  return {};
}

Value TransformPoint(Vm& vm, CallArgs& a, bool delta) {
  if (!a.self) return {};
  M m = ReadMatrix(vm, a.self);
  Object* p = a[0].AsObject();
  double x = Num(vm, p, "x"), y = Num(vm, p, "y");
  double nx = m.a * x + m.c * y + (delta ? 0 : m.tx);
  double ny = m.b * x + m.d * y + (delta ? 0 : m.ty);
  return Value(NewPoint(vm, Value(nx), Value(ny)));
}
Value MatrixTransformPoint(Vm& vm, CallArgs& a) {
  return TransformPoint(vm, a, false);
}
Value MatrixDeltaTransformPoint(Vm& vm, CallArgs& a) {
  return TransformPoint(vm, a, true);
}

}  // namespace

void InstallGeom(Vm& vm) {
  Heap& h = vm.heap();
  Object* geom = vm.FlashPackage("geom");

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
  vm.matrixCtor = MakeClass(vm, geom, "Matrix", MatrixConstruct, MatrixConstruct,
                            h.Make<Object>(vm.objectProto));
  Object* mp = vm.Get(vm.matrixCtor, "prototype").AsObject();
  vm.Method(mp, "toString", MatrixToString);
  vm.Method(mp, "clone", MatrixClone);
  vm.Method(mp, "identity", MatrixIdentity);
  vm.Method(mp, "concat", MatrixConcat);
  vm.Method(mp, "translate", MatrixTranslate);
  vm.Method(mp, "scale", MatrixScale);
  vm.Method(mp, "rotate", MatrixRotate);
  vm.Method(mp, "invert", MatrixInvert);
  vm.Method(mp, "createBox", MatrixCreateBox);
  vm.Method(mp, "createGradientBox", MatrixCreateGradientBox);
  vm.Method(mp, "transformPoint", MatrixTransformPoint);
  vm.Method(mp, "deltaTransformPoint", MatrixDeltaTransformPoint);
  Property& length = pp->props().Add("length");
  length.getter = vm.NewNative(PointLength);
  length.flags = prop::kDontEnum;
}

}  // namespace dbx::swf::avm1
