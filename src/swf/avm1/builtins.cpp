// The core built-in classes: Object, Function, Array, String, Number, Boolean, Math, Error,
// AsBroadcaster and the global functions.
#include "swf/avm1/builtins.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

#include "swf/avm1/array.h"
#include "swf/avm1/vm.h"

namespace dbx::swf::avm1 {

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();

Value Self(CallArgs& a) {
  return Value(a.self);
}

bool IsFunction(const Value& v) {
  return v.IsObject() && v.o->cls() == ObjClass::kFunction;
}

// ---- Object --------------------------------------------------------------------------------

// Object() called as a function, with nothing to wrap, makes an object without a prototype.
Value ObjectCtor(Vm& vm, CallArgs& a) {
  if (a.size() && !a[0].IsNullish()) return Value(vm.ToObject(a[0]));
  return Value(vm.heap().Make<Object>(nullptr));
}

Value ObjectConstruct(Vm& vm, CallArgs& a) {
  if (a.size() && !a[0].IsNullish()) return Value(vm.ToObject(a[0]));
  return Value(a.self);
}

Value ObjectToString(Vm&, CallArgs& a) {
  if (a.self && a.self->cls() == ObjClass::kFunction) return Value("[type Function]");
  if (a.self && a.self->cls() == ObjClass::kClip)
    return Value(static_cast<ClipObject*>(a.self)->TargetPath());
  return Value("[object Object]");
}

Value ObjectValueOf(Vm&, CallArgs& a) {
  if (a.self && !a.self->primitive.IsUndefined() && a.self->cls() != ObjClass::kObject &&
      a.self->cls() != ObjClass::kSuper)
    return a.self->primitive;
  return Self(a);
}

Value HasOwnProperty(Vm& vm, CallArgs& a) {
  if (!a.self || !a.size()) return Value(false);
  std::string n = vm.ToString(a[0]);
  // Every object made with a prototype holds its own __proto__.
  if (vm.version() >= 7 ? n == "__proto__" : EqualsFolded(n, "__proto__"))
    return Value(a.self->proto() != nullptr || a.self->FindOwn(n) != nullptr);
  return Value(a.self->FindOwn(n) != nullptr || a.self->HasSpecial(vm, n));
}

Value IsPropertyEnumerable(Vm& vm, CallArgs& a) {
  if (!a.self || !a.size()) return Value(false);
  std::string n = vm.ToString(a[0]);
  if (Property* p = a.self->FindOwn(n)) return Value(!(p->flags & prop::kDontEnum));
  return Value(a.self->HasSpecial(vm, n));
}

Value IsPrototypeOf(Vm&, CallArgs& a) {
  Object* o = a[0].AsObject();
  if (!o || !a.self) return Value(false);
  int hops = 0;
  for (Object* p = o->proto(); p && hops < 256; p = p->proto(), ++hops)
    if (p == a.self) return Value(true);
  return Value(false);
}

Value AddProperty(Vm& vm, CallArgs& a) {
  // A getter and a setter (a function or null) are both required.
  if (!a.self || a.size() < 3) return Value(false);
  std::string name = vm.ToString(a[0]);
  if (name.empty() || !IsFunction(a[1])) return Value(false);
  if (!a[2].IsNull() && !IsFunction(a[2])) return Value(false);
  Object* getter = a[1].o;
  Object* setter = IsFunction(a[2]) ? a[2].o : nullptr;
  // A watcher of the name sees the property replaced by undefined (its setter is not called), and
  // its answer is what lies beneath the new property.
  std::optional<Value> beneath;
  for (const auto& w : a.self->watches) {
    if (w.name != name) continue;
    const Property* old = a.self->FindOwn(name);
    beneath = vm.Call(Value(w.callback), a.self,
                      {Value(name), old ? old->value : Value(), Value(), w.userData});
    break;
  }
  Property* p = a.self->FindOwn(name);
  if (!p) p = &a.self->props().Add(name);
  p->getter = getter;
  p->setter = setter;  // the stored value stays beneath
  if (beneath) p->value = *beneath;
  return Value(true);
}

Value WatchM(Vm& vm, CallArgs& a) {
  if (!a.self || a.size() < 2 || !IsFunction(a[1])) return Value(false);
  std::string name = vm.ToString(a[0]);
  for (auto& w : a.self->watches)
    if (w.name == name) {
      w.callback = a[1].o;
      w.userData = a[2];
      return Value(true);
    }
  a.self->watches.push_back(avm1::Watch{name, a[1].o, a[2], 0});
  return Value(true);
}

Value Unwatch(Vm& vm, CallArgs& a) {
  if (!a.self || !a.size()) return Value(false);
  std::string name = vm.ToString(a[0]);
  auto& ws = a.self->watches;
  auto it =
      std::find_if(ws.begin(), ws.end(), [&](const struct Watch& w) { return w.name == name; });
  if (it == ws.end()) return Value(false);
  // The watch of a property with a getter stays.
  if (const Property* p = a.self->FindOwn(name); p && (p->getter || p->setter)) return Value(false);
  ws.erase(it);
  return Value(true);
}

Value RegisterClass(Vm& vm, CallArgs& a) {
  if (a.size() < 2) return Value(false);
  const std::string name = vm.ToString(a[0]);
  const int version = vm.activations().empty() ? vm.version() : vm.activations().back()->version;
  vm.RegisterClass(version, name, a[1].AsObject());
  return Value(true);
}

// ASSetPropFlags(object, names, set, clear)
Value SetPropFlags(Vm& vm, CallArgs& a) {
  Object* o = a[0].AsObject();
  if (!o) return {};
  auto set = static_cast<std::uint16_t>(ToInt32(vm.ToNumber(a[2])));
  auto clear = static_cast<std::uint16_t>(a.size() > 3 ? ToInt32(vm.ToNumber(a[3])) : 0);
  auto apply = [&](Property& p) { p.flags = static_cast<std::uint16_t>((p.flags & ~clear) | set); };
  if (a[1].IsNull()) {
    for (auto& p : o->props().items()) apply(p);
    return {};
  }
  std::vector<std::string> names;
  if (Object* list = a[1].AsObject(); list && list->cls() == ObjClass::kArray) {
    for (auto& v : elements::All(vm, list)) names.push_back(vm.ToString(v));
  } else {
    std::string s = vm.ToString(a[1]);
    std::size_t i = 0;
    while (i <= s.size()) {
      std::size_t j = s.find(',', i);
      if (j == std::string::npos) j = s.size();
      names.push_back(s.substr(i, j - i));
      i = j + 1;
    }
  }
  for (auto& n : names)
    if (Property* p = o->FindOwn(n)) apply(*p);
  return {};
}

// ---- Function ------------------------------------------------------------------------------

// call and apply with an undefined or null `this` run the function on _global.
Value FunctionCall(Vm& vm, CallArgs& a) {
  Object* self = a[0].IsObject() ? a[0].o : (a[0].IsNullish() ? vm.global : vm.ToObject(a[0]));
  std::vector<Value> args;
  for (std::size_t i = 1; i < a.size(); ++i) args.push_back(a[i]);
  return vm.Call(Value(a.self), self, std::move(args));
}

Value FunctionApply(Vm& vm, CallArgs& a) {
  Object* self = a[0].IsObject() ? a[0].o : (a[0].IsNullish() ? vm.global : vm.ToObject(a[0]));
  std::vector<Value> args;
  if (Object* list = a[1].AsObject()) {
    std::size_t n = std::min<std::size_t>(vm.ArrayLength(list), 65536);
    for (std::size_t i = 0; i < n; ++i) args.push_back(vm.ArrayGet(list, i));
  }
  return vm.Call(Value(a.self), self, std::move(args));
}

// Function(x) gives x back; Function() an object without a prototype.
Value FunctionCtor(Vm& vm, CallArgs& a) {
  if (a.size()) return a[0];
  return Value(vm.heap().Make<Object>(nullptr));
}

// ---- Error ---------------------------------------------------------------------------------

Value ErrorCtor(Vm&, CallArgs& a) {
  if (a.self && a.size() && !a[0].IsUndefined()) a.self->SetOwn("message", a[0]);
  return Self(a);
}

Value ErrorToString(Vm& vm, CallArgs& a) {
  return Value(vm.ToString(vm.Get(a.self, "message")));
}

// ---- Boolean / Number ----------------------------------------------------------------------

// From the constructor of a class extending a wrapper class (Boolean, Number, String), the
// class's constructor makes the instance a wrapper of `v`, and super(...) gets it back.
bool WrapsInstance(Vm& vm, CallArgs& a, ObjClass cls, const Value& v) {
  return CalledFromSuper(vm, a) && a.self->BecomeWrapper(cls, v);
}

Value BooleanCall(Vm& vm, CallArgs& a) {
  if (WrapsInstance(vm, a, ObjClass::kBoolean, Value(a.size() ? vm.ToBool(a[0]) : false)))
    return Value(a.self);
  return a.size() ? Value(vm.ToBool(a[0])) : Value();  // Boolean() is undefined
}
// Wrapper objects: the constructor makes the object of the right class.
Object* Wrapper(Vm& vm, CallArgs& a, ObjClass cls, Value v) {
  Object* o = vm.heap().Make<Object>(a.self ? a.self->proto() : nullptr, cls);
  o->primitive = std::move(v);
  return o;
}
Value BooleanConstruct(Vm& vm, CallArgs& a) {
  return Value(Wrapper(vm, a, ObjClass::kBoolean, Value(a.size() ? vm.ToBool(a[0]) : false)));
}
Value BooleanToString(Vm& vm, CallArgs& a) {
  if (a.self && a.self->primitive.type == Type::kBoolean)
    return Value(std::string(a.self->primitive.b ? "true" : "false"));
  (void)vm;
  return {};
}
Value PrimitiveValueOf(Vm&, CallArgs& a) {
  return a.self ? a.self->primitive : Value();
}

Value NumberCall(Vm& vm, CallArgs& a) {
  const double n = a.size() ? vm.ToNumber(a[0]) : 0.0;
  if (WrapsInstance(vm, a, ObjClass::kNumber, Value(n))) return Value(a.self);
  return Value(n);
}
Value NumberConstruct(Vm& vm, CallArgs& a) {
  return Value(Wrapper(vm, a, ObjClass::kNumber, Value(a.size() ? vm.ToNumber(a[0]) : 0.0)));
}
Value NumberToStringM(Vm& vm, CallArgs& a) {
  if (!a.self || a.self->primitive.type != Type::kNumber) return {};
  int radix = a.size() && !a[0].IsUndefined() ? ToInt32(vm.ToNumber(a[0])) : 10;
  return Value(NumberToRadixString(a.self->primitive.n, radix));
}

// ---- String --------------------------------------------------------------------------------

std::string ThisString(Vm& vm, CallArgs& a) {
  if (!a.self) return "";
  if (a.self->cls() == ObjClass::kString) return a.self->primitive.s;
  if (vm.depth() > 32) return "";
  return vm.ToString(Value(a.self));
}

Value StringCall(Vm& vm, CallArgs& a) {
  std::string s = a.size() ? vm.ToString(a[0]) : std::string();
  if (WrapsInstance(vm, a, ObjClass::kString, Value(s))) {
    a.self->SetOwn("length", Value(static_cast<double>(UnitLength(s, vm.version()))),
                   prop::kDontEnum);
    return Value(a.self);
  }
  return Value(std::move(s));
}
Value StringConstruct(Vm& vm, CallArgs& a) {
  std::string s = a.size() ? vm.ToString(a[0]) : std::string();
  Object* o = Wrapper(vm, a, ObjClass::kString, Value(s));
  o->SetOwn("length", Value(static_cast<double>(UnitLength(s, vm.version()))), prop::kDontEnum);
  return Value(o);
}
Value StringToStringM(Vm& vm, CallArgs& a) {
  return Value(ThisString(vm, a));
}

// Script strings index UTF-16 code units (bytes before SWF 6); index arguments go through
// ToInt32, so NaN, null and undefined are 0 and 2^32 + 1 is 1.
std::u16string ThisUnits(Vm& vm, CallArgs& a) {
  return ToUnits(ThisString(vm, a), vm.version());
}
std::int32_t ArgIndex(Vm& vm, CallArgs& a, std::size_t i) {
  return ToInt32(vm.ToNumber(a[i]));
}
Value UnitsValue(Vm& vm, std::u16string_view u) {
  return Value(FromUnits(u, vm.version()));
}

Value CharAt(Vm& vm, CallArgs& a) {
  std::u16string s = ThisUnits(vm, a);
  std::int32_t i = ArgIndex(vm, a, 0);
  if (i < 0 || static_cast<std::size_t>(i) >= s.size()) return Value(std::string());
  return UnitsValue(vm, std::u16string_view(s).substr(static_cast<std::size_t>(i), 1));
}
Value CharCodeAt(Vm& vm, CallArgs& a) {
  std::u16string s = ThisUnits(vm, a);
  std::int32_t i = ArgIndex(vm, a, 0);
  if (i < 0 || static_cast<std::size_t>(i) >= s.size()) return Value(kNaN);
  return Value(static_cast<double>(s[static_cast<std::size_t>(i)]));
}
Value Concat(Vm& vm, CallArgs& a) {
  std::string s = ThisString(vm, a);
  for (auto& v : a.args) {
    s = JoinText(std::move(s), vm.ToString(v));
    if (s.size() > vm.limits().maxString) break;
  }
  return Value(s);
}
Value IndexOf(Vm& vm, CallArgs& a) {
  if (!a.size()) return {};
  std::u16string s = ThisUnits(vm, a);
  std::u16string t = ToUnits(vm.ToString(a[0]), vm.version());
  std::int32_t from = a.size() > 1 ? std::max(ArgIndex(vm, a, 1), 0) : 0;
  if (static_cast<std::size_t>(from) > s.size()) return Value(-1.0);
  std::size_t p = s.find(t, static_cast<std::size_t>(from));
  return Value(p == std::u16string::npos ? -1.0 : static_cast<double>(p));
}
Value LastIndexOf(Vm& vm, CallArgs& a) {
  if (!a.size()) return {};
  std::u16string s = ThisUnits(vm, a);
  std::u16string t = ToUnits(vm.ToString(a[0]), vm.version());
  std::int64_t from = a.size() > 1 && !a[1].IsUndefined() ? ArgIndex(vm, a, 1)
                                                          : static_cast<std::int64_t>(s.size());
  if (from < 0) return Value(-1.0);
  std::size_t p = s.rfind(t, static_cast<std::size_t>(from));
  return Value(p == std::u16string::npos ? -1.0 : static_cast<double>(p));
}
std::size_t ClampIndex(double d, std::size_t len) {
  if (std::isnan(d)) return 0;
  if (d < 0) d += static_cast<double>(len);
  if (d < 0) return 0;
  if (d > static_cast<double>(len)) return len;
  return static_cast<std::size_t>(d);
}
// A position counted from the end when negative, then kept within the string.
std::size_t FromEnd(std::int64_t i, std::size_t len) {
  if (i < 0) i += static_cast<std::int64_t>(len);
  return static_cast<std::size_t>(std::clamp<std::int64_t>(i, 0, static_cast<std::int64_t>(len)));
}
Value Slice(Vm& vm, CallArgs& a) {
  if (!a.size()) return {};
  std::u16string s = ThisUnits(vm, a);
  std::size_t b = FromEnd(ArgIndex(vm, a, 0), s.size());
  std::size_t e =
      a.size() > 1 && !a[1].IsUndefined() ? FromEnd(ArgIndex(vm, a, 1), s.size()) : s.size();
  return e > b ? UnitsValue(vm, std::u16string_view(s).substr(b, e - b)) : Value(std::string());
}
Value Substring(Vm& vm, CallArgs& a) {
  if (!a.size()) return {};
  std::u16string s = ThisUnits(vm, a);
  auto clamp = [&](std::int32_t i) {
    return static_cast<std::size_t>(
        std::clamp<std::int64_t>(i, 0, static_cast<std::int64_t>(s.size())));
  };
  std::size_t b = clamp(ArgIndex(vm, a, 0));
  std::size_t e = a.size() > 1 && !a[1].IsUndefined() ? clamp(ArgIndex(vm, a, 1)) : s.size();
  if (b > e) std::swap(b, e);
  return UnitsValue(vm, std::u16string_view(s).substr(b, e - b));
}
Value Substr(Vm& vm, CallArgs& a) {
  if (!a.size()) return {};
  std::u16string s = ThisUnits(vm, a);
  std::size_t b = FromEnd(ArgIndex(vm, a, 0), s.size());
  std::int64_t n = a.size() > 1 && !a[1].IsUndefined() ? ArgIndex(vm, a, 1)
                                                       : static_cast<std::int64_t>(s.size());
  if (n < 0) {
    // A negative length counts back from the end, and takes nothing when that reaches it.
    n += static_cast<std::int64_t>(s.size());
    if (static_cast<std::int64_t>(b) + n >= static_cast<std::int64_t>(s.size())) n = 0;
  }
  if (n <= 0) return Value(std::string());
  return UnitsValue(vm, std::u16string_view(s).substr(b, static_cast<std::size_t>(n)));
}
Value Split(Vm& vm, CallArgs& a) {
  std::string s = ThisString(vm, a);
  Object* out = vm.NewArray();
  if (!a.size() || a[0].IsUndefined()) {
    vm.ArrayPush(out, Value(s));
    return Value(out);
  }
  std::string sep = vm.ToString(a[0]);
  double limit = a.size() > 1 && !a[1].IsUndefined() ? vm.ToNumber(a[1]) : 1e300;
  auto count = [&]() { return static_cast<double>(vm.ArrayLength(out)); };
  if (sep.empty()) {
    std::u16string u = ToUnits(s, vm.version());
    for (std::size_t i = 0; i < u.size() && count() < limit; ++i)
      vm.ArrayPush(out, UnitsValue(vm, std::u16string_view(u).substr(i, 1)));
    return Value(out);
  }
  std::size_t i = 0;
  while (count() < limit) {
    std::size_t j = s.find(sep, i);
    if (j == std::string::npos) {
      vm.ArrayPush(out, Value(s.substr(i)));
      break;
    }
    vm.ArrayPush(out, Value(s.substr(i, j - i)));
    i = j + sep.size();
  }
  return Value(out);
}
Value ToLower(Vm& vm, CallArgs& a) {
  std::u16string u = ThisUnits(vm, a);
  // Before SWF 6 a unit is a byte of the text: only ASCII letters change.
  for (char16_t& c : u)
    if (vm.version() >= 6 || c < 0x80) c = LowerUnit(c);
  return UnitsValue(vm, u);
}
Value ToUpper(Vm& vm, CallArgs& a) {
  std::u16string u = ThisUnits(vm, a);
  for (char16_t& c : u)
    if (vm.version() >= 6 || c < 0x80) c = UpperUnit(c);
  return UnitsValue(vm, u);
}
Value FromCharCode(Vm& vm, CallArgs& a) {
  std::u16string u;
  for (auto& v : a.args) {
    auto c = static_cast<char16_t>(ToInt32(vm.ToNumber(v)) & 0xFFFF);
    if (c == 0) break;
    u.push_back(c);
  }
  return UnitsValue(vm, u);
}

// ---- Array ---------------------------------------------------------------------------------

Value ArrayCall(Vm& vm, CallArgs& a) {
  if (CalledFromSuper(vm, a) && a.self->cls() == ObjClass::kObject) {
    // From the constructor of a class extending Array: the instance takes the elements (or, for
    // one number, the length) that a new array would have, and super(...) gets it back.
    if (a.size() == 1 && a[0].IsNumber()) {
      const double n = std::trunc(a[0].n);
      elements::SetLength(
          vm, a.self,
          std::isfinite(n) && n > 0
              ? static_cast<std::size_t>(std::min(n, static_cast<double>(vm.limits().maxArray)))
              : 0);
    } else {
      elements::Assign(vm, a.self, a.args);
    }
    return Value(a.self);
  }
  if (a.size() == 1 && a[0].IsNumber()) {
    // new Array(n): n empty places; the length keeps even a negative count.
    auto* arr = static_cast<ArrayObject*>(vm.NewArray());
    double n = std::trunc(a[0].n);
    if (std::isfinite(n))
      arr->length = std::clamp(n, -2147483648.0, static_cast<double>(vm.limits().maxArray));
    return Value(static_cast<Object*>(arr));
  }
  return Value(vm.NewArray(a.args));
}
Value ArrayConstruct(Vm& vm, CallArgs& a) {
  Value v = ArrayCall(vm, a);
  if (a.self && a.self->proto()) v.o->SetProto(a.self->proto());
  return v;
}

std::vector<Value> Elements(Vm& vm, Object* o) {
  return elements::All(vm, o);
}

void SetElements(Vm& vm, Object* o, const std::vector<Value>& items) {
  elements::Assign(vm, o, items);
}

Value Push(Vm& vm, CallArgs& a) {
  if (!a.self) return {};
  std::size_t n = elements::Length(vm, a.self);
  for (auto& v : a.args) {
    if (n >= vm.limits().maxArray) break;
    elements::Put(vm, a.self, n++, v);
  }
  elements::SetLength(vm, a.self, n);
  return Value(static_cast<double>(n));
}
Value Pop(Vm& vm, CallArgs& a) {
  if (!a.self) return {};
  std::size_t n = elements::Length(vm, a.self);
  if (n == 0) {
    elements::SetLength(vm, a.self, 0);
    return {};
  }
  Value last = elements::Raw(a.self, n - 1);
  elements::Delete(vm, a.self, n - 1);
  elements::SetLength(vm, a.self, n - 1);
  return last;
}
// Each element moves down one place: the place is emptied, then filled anew.
Value Shift(Vm& vm, CallArgs& a) {
  if (!a.self) return {};
  std::size_t n = elements::Length(vm, a.self);
  if (n == 0) {
    elements::SetLength(vm, a.self, 0);
    return {};
  }
  Value first = elements::Raw(a.self, 0);
  std::vector<std::pair<std::size_t, Value>> places;
  places.reserve(n - 1);
  for (std::size_t i = 1; i < n; ++i) places.emplace_back(i - 1, elements::Raw(a.self, i));
  elements::Store(vm, a.self, places, {n - 1});
  elements::SetLength(vm, a.self, n - 1);
  return first;
}
// Elements move up from the last one, then the new ones fill the first places.
Value Unshift(Vm& vm, CallArgs& a) {
  if (!a.self) return {};
  std::size_t n = elements::Length(vm, a.self);
  std::size_t k = a.size();
  if (n + k > vm.limits().maxArray) return Value(static_cast<double>(n));
  std::vector<std::pair<std::size_t, Value>> places;
  places.reserve(n + k);
  for (std::size_t i = n; i-- > 0;) places.emplace_back(i + k, elements::Raw(a.self, i));
  for (std::size_t i = 0; i < k; ++i) places.emplace_back(i, a.args[i]);
  elements::Store(vm, a.self, places);
  elements::SetLength(vm, a.self, n + k);
  return Value(static_cast<double>(n + k));
}
std::string Join(Vm& vm, Object* o, const std::string& sep) {
  std::string out;
  if (vm.depth() > 64) return out;
  std::size_t n = vm.ArrayLength(o);
  for (std::size_t i = 0; i < n; ++i) {
    if (i) out = JoinText(std::move(out), sep);
    Value v = elements::Raw(o, i);
    if (!v.IsUndefined() || vm.version() >= 7) out = JoinText(std::move(out), vm.ToString(v));
    if (out.size() > vm.limits().maxString) break;
  }
  return out;
}
Value JoinM(Vm& vm, CallArgs& a) {
  std::string sep = a.size() && !a[0].IsUndefined() ? vm.ToString(a[0]) : ",";
  return Value(Join(vm, a.self, sep));
}
Value ArrayToString(Vm& vm, CallArgs& a) {
  return Value(Join(vm, a.self, ","));
}
// The two ends swap, each place emptied and filled anew; the middle one stays.
Value Reverse(Vm& vm, CallArgs& a) {
  if (!a.self) return {};
  std::size_t n = elements::Length(vm, a.self);
  std::vector<std::pair<std::size_t, Value>> places;
  places.reserve(n);
  for (std::size_t i = 0, j = n ? n - 1 : 0; i < j; ++i, --j) {
    places.emplace_back(i, elements::Raw(a.self, j));
    places.emplace_back(j, elements::Raw(a.self, i));
  }
  elements::Store(vm, a.self, places);
  return Self(a);
}
Value ConcatA(Vm& vm, CallArgs& a) {
  auto items = Elements(vm, a.self);
  for (auto& v : a.args) {
    if (v.IsObject() && v.o->cls() == ObjClass::kArray) {
      auto more = Elements(vm, v.o);
      items.insert(items.end(), more.begin(), more.end());
    } else {
      items.push_back(v);
    }
    if (items.size() > vm.limits().maxArray) break;
  }
  return Value(vm.NewArray(std::move(items)));
}
Value SliceA(Vm& vm, CallArgs& a) {
  auto items = Elements(vm, a.self);
  std::size_t b = a.size() ? ClampIndex(std::trunc(vm.ToNumber(a[0])), items.size()) : 0;
  std::size_t e = a.size() > 1 && !a[1].IsUndefined()
                      ? ClampIndex(std::trunc(vm.ToNumber(a[1])), items.size())
                      : items.size();
  std::vector<Value> out;
  if (e > b)
    out.assign(items.begin() + static_cast<std::ptrdiff_t>(b),
               items.begin() + static_cast<std::ptrdiff_t>(e));
  return Value(vm.NewArray(std::move(out)));
}
Value Splice(Vm& vm, CallArgs& a) {
  // Without a start, or with a count that is missing or negative, nothing is spliced.
  if (!a.size() || a[0].IsUndefined()) return {};
  if (a.size() > 1 && (a[1].IsUndefined() || vm.ToNumber(a[1]) < 0)) return {};
  auto items = Elements(vm, a.self);
  std::size_t b = ClampIndex(std::trunc(vm.ToNumber(a[0])), items.size());
  std::size_t count = items.size() - b;
  if (a.size() > 1) {
    double c = std::trunc(vm.ToNumber(a[1]));
    count =
        std::isnan(c) || c < 0 ? 0 : std::min(count, static_cast<std::size_t>(std::min(c, 1e15)));
  }
  std::vector<Value> removed(items.begin() + static_cast<std::ptrdiff_t>(b),
                             items.begin() + static_cast<std::ptrdiff_t>(b + count));
  items.erase(items.begin() + static_cast<std::ptrdiff_t>(b),
              items.begin() + static_cast<std::ptrdiff_t>(b + count));
  if (a.size() > 2)
    items.insert(items.begin() + static_cast<std::ptrdiff_t>(b), a.args.begin() + 2, a.args.end());
  SetElements(vm, a.self, items);
  return Value(vm.NewArray(std::move(removed)));
}

// Sort flags.
constexpr int kCaseInsensitive = 1, kDescending = 2, kUnique = 4, kIndexed = 8, kNumeric = 16;

int CompareValues(Vm& vm, const Value& x, const Value& y, int flags) {
  if (flags & kNumeric) {
    if (x.IsNumber() && y.IsNumber()) {
      double a = x.n, b = y.n;
      if (std::isnan(a) && std::isnan(b)) return 0;
      if (std::isnan(a)) return 1;
      if (std::isnan(b)) return -1;
      return a < b ? -1 : a > b ? 1 : 0;
    }
  }
  std::string a = vm.ToString(x), b = vm.ToString(y);
  if (x.IsUndefined() && vm.version() < 7) a = "undefined";
  if (y.IsUndefined() && vm.version() < 7) b = "undefined";
  if (flags & kCaseInsensitive) {
    a = FoldCase(a);
    b = FoldCase(b);
  }
  return a < b ? -1 : a > b ? 1 : 0;
}

// Sorts `keys` (one per element) and returns the order, or nothing when unique sorting met equal
// elements.
std::optional<std::vector<std::size_t>> SortOrder(Vm& vm,
                                                  const std::vector<std::vector<Value>>& keys,
                                                  std::size_t n, const std::vector<int>& flags,
                                                  const Value& compare) {
  std::vector<std::size_t> idx(n);
  for (std::size_t i = 0; i < n; ++i) idx[i] = i;
  bool duplicate = false;
  auto cmp = [&](std::size_t i, std::size_t j) -> int {
    for (std::size_t k = 0; k < keys.size(); ++k) {
      int c;
      if (IsFunction(compare)) {
        double d = vm.ToNumber(vm.Call(compare, nullptr, {keys[k][i], keys[k][j]}));
        c = d < 0 ? -1 : d > 0 ? 1 : 0;
      } else {
        c = CompareValues(vm, keys[k][i], keys[k][j], flags[k]);
      }
      if (flags[k] & kDescending) c = -c;
      if (c) return c;
    }
    return 0;
  };
  sorting::PlayerSort(
      idx,
      [&](std::size_t i, std::size_t j) {
        if (vm.aborting()) return 0;
        int c = cmp(i, j);
        if (c == 0) duplicate = true;
        return c;
      },
      [&] { return vm.aborting(); });
  if (duplicate && (flags[0] & kUnique)) return std::nullopt;
  return idx;
}

Value FinishSort(Vm& vm, CallArgs& a, const std::vector<Value>& items,
                 const std::optional<std::vector<std::size_t>>& order, int flags) {
  if (!order) return Value(0.0);
  if (flags & kIndexed) {
    std::vector<Value> out;
    for (std::size_t i : *order) out.emplace_back(static_cast<double>(i));
    return Value(vm.NewArray(std::move(out)));
  }
  std::vector<Value> out;
  for (std::size_t i : *order) out.push_back(items[i]);
  SetElements(vm, a.self, out);
  return Self(a);
}

Value Sort(Vm& vm, CallArgs& a) {
  auto items = Elements(vm, a.self);
  Value compare;
  int flags = 0;
  // sort(compare, flags), sort(flags) or sort(anything, flags); anything else sorts nothing.
  if (a.size() && IsFunction(a[0])) {
    compare = a[0];
    if (a.size() > 1) flags = ToInt32(vm.ToNumber(a[1]));
  } else if (a.size() > 1 && !a[1].IsUndefined() && (a[0].IsNumber() || a[0].IsObject())) {
    flags = ToInt32(vm.ToNumber(a[1]));
  } else if (a.size() && a[0].IsObject()) {
    // An object that is not a function compares nothing: the default order.
  } else if (a.size() && a[0].IsNumber()) {
    flags = ToInt32(a[0].n);
  } else if (a.size()) {
    return {};
  }
  auto order = SortOrder(vm, {items}, items.size(), {flags}, compare);
  return FinishSort(vm, a, items, order, flags);
}

Value SortOn(Vm& vm, CallArgs& a) {
  if (!a.size()) return {};
  auto items = Elements(vm, a.self);
  std::vector<std::string> fields;
  if (Object* list = a[0].AsObject(); list && list->cls() == ObjClass::kArray) {
    for (auto& v : Elements(vm, list)) fields.push_back(vm.ToString(v));
  } else if (a.size()) {
    fields.push_back(vm.ToString(a[0]));
  }
  if (fields.empty()) return Self(a);
  std::vector<int> flags(fields.size(), 0);
  if (Object* list = a[1].AsObject(); list && list->cls() == ObjClass::kArray) {
    auto fv = Elements(vm, list);
    if (fv.size() == fields.size())
      for (std::size_t i = 0; i < fv.size(); ++i) flags[i] = ToInt32(vm.ToNumber(fv[i]));
  } else if (a.size() > 1) {
    std::fill(flags.begin(), flags.end(), ToInt32(vm.ToNumber(a[1])));
  }
  std::vector<std::vector<Value>> keys(fields.size());
  for (std::size_t k = 0; k < fields.size(); ++k)
    for (auto& item : items) {
      // The field is the element's own (not its prototype's); an element without it, or one
      // that is not an object, sorts by itself.
      Object* o = item.AsObject();
      Property* p = o ? o->FindOwn(fields[k]) : nullptr;
      bool own = o && ((p && !p->getter) || (!p && o->HasSpecial(vm, fields[k])));
      keys[k].push_back(own ? vm.Get(o, fields[k]) : item);
    }
  auto order = SortOrder(vm, keys, items.size(), flags, Value());
  return FinishSort(vm, a, items, order, flags[0]);
}

// ---- Math ----------------------------------------------------------------------------------

// The first two arguments convert to numbers, even one the function does not use.
std::vector<double> Numbers(Vm& vm, CallArgs& a, std::size_t least) {
  std::vector<double> n;
  for (std::size_t i = 0; i < a.size() && i < 2; ++i) n.push_back(vm.ToNumber(a[i]));
  if (n.size() < least) n.resize(least, kNaN);
  return n;
}
template <double (*F)(double)>
Value Math1(Vm& vm, CallArgs& a) {
  return Value(F(Numbers(vm, a, 1)[0]));
}
double Round(double x) {
  return std::floor(x + 0.5);
}
double Abs(double x) {
  return std::fabs(x);
}
// Math.max and Math.min look at their first two arguments only (a missing second one is
// undefined); with none they give -Infinity and Infinity.
Value MathMinMax(Vm& vm, CallArgs& a, bool max) {
  if (!a.size())
    return Value(max ? -std::numeric_limits<double>::infinity()
                     : std::numeric_limits<double>::infinity());
  double x = vm.ToNumber(a[0]);
  double y = vm.ToNumber(a[1]);
  if (std::isnan(x) || std::isnan(y)) return Value(kNaN);
  return Value(max ? std::max(x, y) : std::min(x, y));
}
Value MathMax(Vm& vm, CallArgs& a) {
  return MathMinMax(vm, a, true);
}
Value MathMin(Vm& vm, CallArgs& a) {
  return MathMinMax(vm, a, false);
}
Value MathPow(Vm& vm, CallArgs& a) {
  auto n = Numbers(vm, a, 2);
  return Value(std::pow(n[0], n[1]));
}
Value MathAtan2(Vm& vm, CallArgs& a) {
  auto n = Numbers(vm, a, 2);
  return Value(std::atan2(n[0], n[1]));
}
Value MathRandom(Vm& vm, CallArgs& a) {
  Numbers(vm, a, 0);  // converts its arguments like the others
  return Value(vm.Random());
}
// A Math entry the table does not have: it converts its arguments and gives NaN.
Value MathNothing(Vm& vm, CallArgs& a) {
  Numbers(vm, a, 0);
  return Value(kNaN);
}

// ---- globals -------------------------------------------------------------------------------

Value ParseInt(Vm& vm, CallArgs& a) {
  std::string s = vm.ToString(a[0]);
  std::size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\n' || s[i] == '\r')) ++i;
  bool neg = false;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) neg = s[i++] == '-';
  int radix = a.size() > 1 && !a[1].IsUndefined() ? ToInt32(vm.ToNumber(a[1])) : 0;
  if (radix == 0) {
    if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
      radix = 16;
      i += 2;
    } else if (i + 1 < s.size() && s[i] == '0' && vm.version() < 8) {
      radix = 8;
      bool octal = true;
      for (std::size_t k = i; k < s.size() && s[k] >= '0' && s[k] <= '9'; ++k)
        if (s[k] > '7') octal = false;
      if (!octal) radix = 10;
    } else {
      radix = 10;
    }
  } else if (radix == 16 && i + 1 < s.size() && s[i] == '0' &&
             (s[i + 1] == 'x' || s[i + 1] == 'X')) {
    i += 2;
  }
  if (radix < 2 || radix > 36) return Value(kNaN);
  double v = 0;
  bool any = false;
  for (; i < s.size(); ++i) {
    char c = s[i];
    int d = c >= '0' && c <= '9'   ? c - '0'
            : c >= 'a' && c <= 'z' ? c - 'a' + 10
            : c >= 'A' && c <= 'Z' ? c - 'A' + 10
                                   : 99;
    if (d >= radix) break;
    v = v * radix + d;
    any = true;
  }
  if (!any) return Value(kNaN);
  return Value(neg ? -v : v);
}
Value ParseFloat(Vm& vm, CallArgs& a) {
  std::string s = vm.ToString(a[0]);
  std::size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\n' || s[i] == '\r')) ++i;
  std::size_t j = i;
  if (j < s.size() && (s[j] == '-' || s[j] == '+')) ++j;
  std::size_t digits = j;
  while (j < s.size() && s[j] >= '0' && s[j] <= '9') ++j;
  if (j < s.size() && s[j] == '.') {
    ++j;
    while (j < s.size() && s[j] >= '0' && s[j] <= '9') ++j;
  }
  if (j == digits || (j == digits + 1 && s[digits] == '.')) return Value(kNaN);
  if (j < s.size() && (s[j] == 'e' || s[j] == 'E')) {
    std::size_t k = j + 1;
    if (k < s.size() && (s[k] == '-' || s[k] == '+')) ++k;
    if (k < s.size() && s[k] >= '0' && s[k] <= '9') {
      while (k < s.size() && s[k] >= '0' && s[k] <= '9') ++k;
      j = k;
    }
  }
  return Value(std::strtod(s.substr(i, j - i).c_str(), nullptr));
}
Value IsNaN(Vm& vm, CallArgs& a) {
  return Value(std::isnan(vm.ToNumber(a[0])));
}
Value IsFinite(Vm& vm, CallArgs& a) {
  return Value(std::isfinite(vm.ToNumber(a[0])));
}
Value Escape(Vm& vm, CallArgs& a) {
  std::string s = vm.ToString(a[0]), out;
  for (unsigned char c : s) {
    if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) {
      out += static_cast<char>(c);
    } else {
      static const char* hex = "0123456789ABCDEF";
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return Value(out);
}
Value Unescape(Vm& vm, CallArgs& a) {
  std::string s = vm.ToString(a[0]), out;
  auto hexv = [](char c) {
    return c >= '0' && c <= '9'   ? c - '0'
           : c >= 'a' && c <= 'f' ? c - 'a' + 10
           : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                  : -1;
  };
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size() + 0 && hexv(s[i + 1]) >= 0 && hexv(s[i + 2]) >= 0) {
      out += static_cast<char>(hexv(s[i + 1]) * 16 + hexv(s[i + 2]));
      i += 2;
    } else if (s[i] == '+') {
      out += ' ';
    } else {
      out += s[i];
    }
  }
  return Value(out);
}
Value GetTimer(Vm& vm, CallArgs&) {
  return Value(vm.clock ? std::floor(vm.clock()) : 0.0);
}

Value AddTimer(Vm& vm, CallArgs& a, bool once) {
  Vm::Timer t;
  std::size_t rest;
  // Without an interval nothing is scheduled.
  if (IsFunction(a[0]) ? a[1].IsUndefined() : a[2].IsUndefined()) return {};
  if (IsFunction(a[0])) {
    t.fn = a[0];
    t.interval = vm.ToNumber(a[1]);
    rest = 2;
  } else if (a[0].IsObject() && a.size() >= 3) {
    t.fn = a[0];
    t.method = vm.ToString(a[1]);
    t.interval = vm.ToNumber(a[2]);
    rest = 3;
  } else {
    return {};
  }
  if (!(t.interval >= 0)) t.interval = 0;
  for (std::size_t i = rest; i < a.size(); ++i) t.args.push_back(a[i]);
  t.once = once;
  t.id = vm.nextTimerId++;
  double now = vm.clock ? vm.clock() : 0;
  t.due = now + t.interval;
  if (vm.timers.size() >= 10000) return {};
  vm.timers.push_back(t);
  return Value(static_cast<double>(t.id));
}
Value SetIntervalF(Vm& vm, CallArgs& a) {
  return AddTimer(vm, a, false);
}
Value SetTimeoutF(Vm& vm, CallArgs& a) {
  return AddTimer(vm, a, true);
}
Value ClearTimer(Vm& vm, CallArgs& a) {
  int id = ToInt32(vm.ToNumber(a[0]));
  std::erase_if(vm.timers, [&](const Vm::Timer& t) { return t.id == id; });
  return {};
}

// ---- ASnative ------------------------------------------------------------------------------

Value TraceF(Vm& vm, CallArgs& a) {
  std::string text = a[0].IsUndefined() ? "undefined" : vm.ToString(a[0]);
  if (vm.traceSink) vm.traceSink(text);
  return {};
}

// Whether the script function running now (the innermost one; natives it calls see its answer)
// was called by `new`.
Value IsConstructing(Vm& vm, CallArgs&) {
  return Value(!vm.activations().empty() && vm.activations().back()->constructing);
}

// ASnative(table, index): the built-in function at that place of the player's tables (table 2
// index 0 tells whether the running function constructs, the global functions are table 100,
// Math table 200); nothing for other arguments.
Value ASnativeF(Vm& vm, CallArgs& a) {
  if (a.size() != 2) return {};
  double t = vm.ToNumber(a[0]);
  if (std::isnan(t)) return {};
  std::int32_t table = ToInt32(t);
  std::int32_t index = ToInt32(vm.ToNumber(a[1]));
  if (index < 0) return {};
  NativeFn fn = nullptr;
  if (table == 2 && index == 0) {
    fn = IsConstructing;
  } else if (table == 100) {
    static constexpr NativeFn kGlobals[] = {Escape, Unescape, ParseInt, ParseFloat, TraceF};
    if (index < static_cast<std::int32_t>(std::size(kGlobals))) fn = kGlobals[index];
  } else if (table == 200) {
    static constexpr NativeFn kMath[] = {Math1<Abs>,
                                         MathMin,
                                         MathMax,
                                         Math1<static_cast<double (*)(double)>(std::sin)>,
                                         Math1<static_cast<double (*)(double)>(std::cos)>,
                                         MathAtan2,
                                         Math1<static_cast<double (*)(double)>(std::tan)>,
                                         Math1<static_cast<double (*)(double)>(std::exp)>,
                                         Math1<static_cast<double (*)(double)>(std::log)>,
                                         Math1<static_cast<double (*)(double)>(std::sqrt)>,
                                         Math1<Round>,
                                         MathRandom,
                                         Math1<static_cast<double (*)(double)>(std::floor)>,
                                         Math1<static_cast<double (*)(double)>(std::ceil)>,
                                         Math1<static_cast<double (*)(double)>(std::atan)>,
                                         Math1<static_cast<double (*)(double)>(std::asin)>,
                                         Math1<static_cast<double (*)(double)>(std::acos)>,
                                         MathPow};
    if (index < static_cast<std::int32_t>(std::size(kMath)))
      fn = kMath[index];
    else if (index < 0x10000)
      fn = MathNothing;
  }
  return fn ? Value(static_cast<Object*>(vm.NewNative(fn))) : Value();
}

// ---- AsBroadcaster -------------------------------------------------------------------------

Value AddListener(Vm& vm, CallArgs& a) {
  Object* list = vm.Get(a.self, "_listeners").AsObject();
  if (!list) return Value(false);
  auto items = Elements(vm, list);
  for (auto& v : items)
    if (vm.StrictEquals(v, a[0])) return Value(true);
  vm.ArrayPush(list, a[0]);
  return Value(true);
}
Value RemoveListener(Vm& vm, CallArgs& a) {
  Object* list = vm.Get(a.self, "_listeners").AsObject();
  if (!list) return Value(false);
  auto items = Elements(vm, list);
  for (std::size_t i = 0; i < items.size(); ++i)
    if (vm.StrictEquals(items[i], a[0])) {
      items.erase(items.begin() + static_cast<std::ptrdiff_t>(i));
      SetElements(vm, list, items);
      return Value(true);
    }
  return Value(false);
}
Value BroadcastMessage(Vm& vm, CallArgs& a) {
  if (!a.size()) return {};
  std::string name = vm.ToString(a[0]);
  std::vector<Value> args(a.args.begin() + 1, a.args.end());
  Broadcast(vm, a.self, name, args);
  return {};
}
Value Initialize(Vm& vm, CallArgs& a) {
  if (Object* o = a[0].AsObject()) InitializeBroadcaster(vm, o);
  return {};
}

Function* Ctor(Vm& vm, std::string_view name, NativeFn call, NativeFn construct, Object* proto) {
  Function* f = vm.NewNative(call, 0, construct);
  f->SetOwn("prototype", Value(proto), prop::kDontEnum | prop::kDontDelete);
  proto->SetOwn("constructor", Value(static_cast<Object*>(f)), prop::kDontEnum);
  if (vm.version() >= 6)
    proto->SetOwn("__constructor__", Value(static_cast<Object*>(f)), prop::kDontEnum);
  vm.global->SetOwn(name, Value(static_cast<Object*>(f)), prop::kDontEnum);
  return f;
}

}  // namespace

void Broadcast(Vm& vm, Object* source, std::string_view name, const std::vector<Value>& args) {
  Object* list = vm.Get(source, "_listeners").AsObject();
  if (!list) return;
  for (auto l : Elements(vm, list)) {
    if (vm.aborting()) return;
    // A listening clip that was removed is reached through its path, as references to clips
    // are; with nothing at the path, it hears nothing.
    if (l.IsObject() && l.o->cls() == ObjClass::kClip) {
      auto* clip = static_cast<ClipObject*>(l.o);
      if (!clip->Alive()) {
        ClipObject* now = clip->Relocated(vm);
        if (!now) continue;
        l.o = now;
      }
    }
    vm.CallMethod(l, name, args);
    vm.DropUncaught();
  }
}

void InitializeBroadcaster(Vm& vm, Object* o) {
  Object* b = vm.Get(vm.global, "AsBroadcaster").AsObject();
  o->SetOwn("_listeners", Value(vm.NewArray()), prop::kDontEnum);
  for (const char* m : {"addListener", "removeListener", "broadcastMessage"})
    o->SetOwn(m, b ? vm.Get(b, m) : Value(), prop::kDontEnum);
}

Object* MakeClass(Vm& vm, Object* parent, std::string_view name, NativeFn call, NativeFn construct,
                  Object* proto) {
  Function* f = vm.NewNative(call, 0, construct);
  f->SetOwn("prototype", Value(proto), prop::kDontEnum | prop::kDontDelete);
  proto->SetOwn("constructor", Value(static_cast<Object*>(f)), prop::kDontEnum);
  if (vm.version() >= 6)
    proto->SetOwn("__constructor__", Value(static_cast<Object*>(f)), prop::kDontEnum);
  parent->SetOwn(name, Value(static_cast<Object*>(f)), prop::kDontEnum);
  return f;
}

void Getter(Vm& vm, Object* o, std::string_view name, NativeFn fn, std::uint16_t flags) {
  Property& p = o->props().Add(name);
  p.getter = vm.NewNative(fn);
  p.flags = flags;
}

bool CalledFromSuper(Vm& vm, const CallArgs& a) {
  return !a.constructing && a.self && a.superObj && a.callee &&
         vm.Get(a.callee, "prototype").AsObject() == a.superObj;
}

void InstallBuiltins(Vm& vm) {
  Heap& h = vm.heap();
  vm.objectProto = h.Make<Object>(nullptr);
  vm.functionProto = h.Make<Object>(vm.objectProto);
  vm.global = h.Make<Object>(nullptr);  // _global inherits nothing, not even toString
  Object* op = vm.objectProto;
  Object* fp = vm.functionProto;

  vm.objectCtor = Ctor(vm, "Object", ObjectCtor, ObjectConstruct, op);
  vm.Method(op, "toString", ObjectToString);
  vm.Method(op, "toLocaleString", ObjectToString);
  vm.Method(op, "valueOf", ObjectValueOf);
  vm.Method(op, "hasOwnProperty", HasOwnProperty);
  vm.Method(op, "isPropertyEnumerable", IsPropertyEnumerable);
  vm.Method(op, "isPrototypeOf", IsPrototypeOf);
  vm.Method(op, "addProperty", AddProperty);
  vm.Method(op, "watch", WatchM);
  vm.Method(op, "unwatch", Unwatch);
  vm.Method(vm.objectCtor, "registerClass", RegisterClass);

  vm.functionCtor = Ctor(vm, "Function", FunctionCtor, nullptr, fp);
  // (Scripts see the class from version 6 on.)
  if (Property* p = vm.global->FindOwn("Function")) p->flags |= prop::kVersion6;
  vm.Method(fp, "call", FunctionCall);
  vm.Method(fp, "apply", FunctionApply);
  // Natives made before Function.prototype existed get it now.
  vm.objectCtor->SetProto(fp);
  vm.functionCtor->SetProto(fp);
  for (auto& p : op->props().items())
    if (p.value.IsObject() && p.value.o->cls() == ObjClass::kFunction) p.value.o->SetProto(fp);
  for (auto& p : vm.objectCtor->props().items())
    if (p.value.IsObject() && p.value.o->cls() == ObjClass::kFunction) p.value.o->SetProto(fp);

  vm.global->SetOwn("ASSetPropFlags", Value(static_cast<Object*>(vm.NewNative(SetPropFlags))),
                    prop::kDontEnum);

  vm.errorProto = h.Make<Object>(op);
  Ctor(vm, "Error", ErrorCtor, ErrorCtor, vm.errorProto);
  vm.errorProto->SetOwn("message", Value("Error"), prop::kDontEnum);
  vm.errorProto->SetOwn("name", Value("Error"), prop::kDontEnum);
  vm.Method(vm.errorProto, "toString", ErrorToString);

  vm.booleanProto = h.Make<Object>(op, ObjClass::kBoolean);
  vm.booleanProto->primitive = Value(false);
  Ctor(vm, "Boolean", BooleanCall, BooleanConstruct, vm.booleanProto);
  vm.Method(vm.booleanProto, "toString", BooleanToString);
  vm.Method(vm.booleanProto, "valueOf", PrimitiveValueOf);

  vm.numberProto = h.Make<Object>(op, ObjClass::kNumber);
  vm.numberProto->primitive = Value(0.0);
  Object* numberCtor = Ctor(vm, "Number", NumberCall, NumberConstruct, vm.numberProto);
  vm.Method(vm.numberProto, "toString", NumberToStringM);
  vm.Method(vm.numberProto, "valueOf", PrimitiveValueOf);
  const std::uint16_t fixed = prop::kDontEnum | prop::kDontDelete | prop::kReadOnly;
  numberCtor->SetOwn("MAX_VALUE", Value(std::numeric_limits<double>::max()), fixed);
  numberCtor->SetOwn("MIN_VALUE", Value(std::numeric_limits<double>::denorm_min()), fixed);
  numberCtor->SetOwn("NaN", Value(kNaN), fixed);
  numberCtor->SetOwn("NEGATIVE_INFINITY", Value(-std::numeric_limits<double>::infinity()), fixed);
  numberCtor->SetOwn("POSITIVE_INFINITY", Value(std::numeric_limits<double>::infinity()), fixed);

  vm.stringProto = h.Make<Object>(op, ObjClass::kString);
  vm.stringProto->primitive = Value(std::string());
  Object* stringCtor = Ctor(vm, "String", StringCall, StringConstruct, vm.stringProto);
  vm.Method(stringCtor, "fromCharCode", FromCharCode);
  Object* sp = vm.stringProto;
  vm.Method(sp, "toString", StringToStringM);
  vm.Method(sp, "valueOf", StringToStringM);
  vm.Method(sp, "charAt", CharAt);
  vm.Method(sp, "charCodeAt", CharCodeAt);
  vm.Method(sp, "concat", Concat);
  vm.Method(sp, "indexOf", IndexOf);
  vm.Method(sp, "lastIndexOf", LastIndexOf);
  vm.Method(sp, "slice", Slice);
  vm.Method(sp, "split", Split);
  vm.Method(sp, "substr", Substr);
  vm.Method(sp, "substring", Substring);
  vm.Method(sp, "toLowerCase", ToLower);
  vm.Method(sp, "toUpperCase", ToUpper);

  vm.arrayProto = h.Make<ArrayObject>(op);
  vm.arrayCtor =
      static_cast<Function*>(Ctor(vm, "Array", ArrayCall, ArrayConstruct, vm.arrayProto));
  Object* ap = vm.arrayProto;
  vm.Method(ap, "push", Push);
  vm.Method(ap, "pop", Pop);
  vm.Method(ap, "shift", Shift);
  vm.Method(ap, "unshift", Unshift);
  vm.Method(ap, "join", JoinM);
  vm.Method(ap, "toString", ArrayToString);
  vm.Method(ap, "reverse", Reverse);
  vm.Method(ap, "concat", ConcatA);
  vm.Method(ap, "slice", SliceA);
  vm.Method(ap, "splice", Splice);
  vm.Method(ap, "sort", Sort);
  vm.Method(ap, "sortOn", SortOn);
  const std::pair<const char*, int> sortFlags[] = {{"CASEINSENSITIVE", kCaseInsensitive},
                                                   {"DESCENDING", kDescending},
                                                   {"UNIQUESORT", kUnique},
                                                   {"RETURNINDEXEDARRAY", kIndexed},
                                                   {"NUMERIC", kNumeric}};
  for (auto& [n, f] : sortFlags) vm.arrayCtor->SetOwn(n, Value(f), fixed);

  Object* math = vm.NewObject();
  vm.global->SetOwn("Math", Value(math), prop::kDontEnum);
  vm.Method(math, "abs", Math1<Abs>);
  vm.Method(math, "acos", Math1<static_cast<double (*)(double)>(std::acos)>);
  vm.Method(math, "asin", Math1<static_cast<double (*)(double)>(std::asin)>);
  vm.Method(math, "atan", Math1<static_cast<double (*)(double)>(std::atan)>);
  vm.Method(math, "ceil", Math1<static_cast<double (*)(double)>(std::ceil)>);
  vm.Method(math, "cos", Math1<static_cast<double (*)(double)>(std::cos)>);
  vm.Method(math, "exp", Math1<static_cast<double (*)(double)>(std::exp)>);
  vm.Method(math, "floor", Math1<static_cast<double (*)(double)>(std::floor)>);
  vm.Method(math, "log", Math1<static_cast<double (*)(double)>(std::log)>);
  vm.Method(math, "round", Math1<Round>);
  vm.Method(math, "sin", Math1<static_cast<double (*)(double)>(std::sin)>);
  vm.Method(math, "sqrt", Math1<static_cast<double (*)(double)>(std::sqrt)>);
  vm.Method(math, "tan", Math1<static_cast<double (*)(double)>(std::tan)>);
  vm.Method(math, "max", MathMax);
  vm.Method(math, "min", MathMin);
  vm.Method(math, "pow", MathPow);
  vm.Method(math, "atan2", MathAtan2);
  vm.Method(math, "random", MathRandom);
  const std::pair<const char*, double> constants[] = {
      {"E", 2.718281828459045},        {"LN10", 2.302585092994046},   {"LN2", 0.6931471805599453},
      {"LOG10E", 0.4342944819032518},  {"LOG2E", 1.4426950408889634}, {"PI", 3.141592653589793},
      {"SQRT1_2", 0.7071067811865476}, {"SQRT2", 1.4142135623730951}};
  for (auto& [n, c] : constants) math->SetOwn(n, Value(c), fixed);

  Object* g = vm.global;
  vm.Method(g, "ASnative", ASnativeF);
  vm.Method(g, "parseInt", ParseInt);
  vm.Method(g, "parseFloat", ParseFloat);
  vm.Method(g, "isNaN", IsNaN);
  vm.Method(g, "isFinite", IsFinite);
  vm.Method(g, "escape", Escape);
  vm.Method(g, "unescape", Unescape);
  vm.Method(g, "getTimer", GetTimer);
  vm.Method(g, "setInterval", SetIntervalF);
  vm.Method(g, "setTimeout", SetTimeoutF);
  vm.Method(g, "clearInterval", ClearTimer);
  vm.Method(g, "clearTimeout", ClearTimer);
  g->SetOwn("NaN", Value(kNaN), prop::kDontEnum);
  g->SetOwn("Infinity", Value(std::numeric_limits<double>::infinity()), prop::kDontEnum);

  // (A class: its prototype shows from version 6 on.)
  const NativeFn none = [](Vm&, CallArgs&) { return Value(); };
  Object* bc = MakeClass(vm, g, "AsBroadcaster", none, none, vm.NewObject());
  if (Property* p = bc->FindOwn("prototype")) p->flags |= prop::kVersion6;
  vm.Method(bc, "initialize", Initialize);
  vm.Method(bc, "addListener", AddListener);
  vm.Method(bc, "removeListener", RemoveListener);
  vm.Method(bc, "broadcastMessage", BroadcastMessage);

  InstallMoreBuiltins(vm);
}

}  // namespace dbx::swf::avm1
