#include "swf/avm1/vm.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <limits>
#include <memory>
#include <unordered_map>
#include <utility>

#include "swf/avm1/array.h"
#include "swf/avm1/movie_loader.h"

namespace dbx::swf::avm1 {

namespace {

bool NameIs(const Vm& vm, std::string_view a, std::string_view b) {
  return vm.version() >= 7 ? a == b : EqualsFolded(a, b);
}

// "_level0" and "_flash0" name the main timeline, and so do they with anything after the number
// that is not part of a path ("_level00", "_level0x", "_level"): the level is that number.
bool NamesLevel0(const Vm& vm, std::string_view a) {
  return a.size() >= 6 &&
         (NameIs(vm, a.substr(0, 6), "_level") || NameIs(vm, a.substr(0, 6), "_flash")) &&
         LevelOf(a) == 0;
}

// Counts nested calls (script, native, getters) so that no recursion outgrows the C++ stack.
class DepthGuard {
 public:
  explicit DepthGuard(int& depth) : depth_(depth) { ++depth_; }
  ~DepthGuard() { --depth_; }
  DepthGuard(const DepthGuard&) = delete;
  DepthGuard& operator=(const DepthGuard&) = delete;

 private:
  int& depth_;
};

// How long this thread has run. Where the system has no clock of a thread's own time, the
// steady clock stands in.
std::chrono::nanoseconds RunTime() {
#if defined(CLOCK_THREAD_CPUTIME_ID) && !defined(_WIN32)
  timespec ts{};
  if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts) == 0)
    return std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec);
#endif
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
      std::chrono::steady_clock::now().time_since_epoch());
}

// A script that waits for the machine may take this many times its budget of passing time.
constexpr int kWallBudgets = 4;

// How far up the prototypes of `this` a method's super is looked for by depth (further up, it
// keeps the prototype it was made with).
constexpr int kMaxSuperDepth = 256;

// What a super object keeps: the prototype its constructor is looked up from, and how many
// prototypes up from `this` that one lay when it was made (0: not among them).
struct SuperState : NativeState {
  Object* base = nullptr;
  int depth = 0;
  void Trace(Tracer& t) override { t.Mark(base); }
};

}  // namespace

Vm::Vm(int version, Limits limits) : version_(version), limits_(limits), heap_(version >= 7) {
  BeginFrameBudget();
  InstallBuiltins(*this);
}

Vm::~Vm() = default;

void Vm::Unsupported(std::string_view what) {
  for (auto& r : reported_)
    if (r == what) return;
  reported_.emplace_back(what);
  if (diagnostics) diagnostics("unsupported: " + std::string(what));
}

void Vm::Warn(std::string_view message) {
  if (warnings_ > kMaxWarnings) return;
  const bool last = warnings_++ == kMaxWarnings;
  if (!traceSink) return;
  if (last) {
    traceSink("Warning: Reached warning limit of " + std::to_string(kMaxWarnings));
  } else {
    traceSink("Warning: " + std::string(message));
  }
}

void Vm::DropUncaught() {
  if (!throwing_) return;
  const Value ex = TakeException();
  // The player ends a runaway recursion without a warning in the log.
  const bool overflow = ex.type == Type::kObject && ex.o == overflow_;
  overflow_ = nullptr;
  std::string text = aborting_ ? std::string() : ToString(ex);
  if (throwing_) TakeException();  // its toString threw too
  if (diagnostics) diagnostics("uncaught exception: " + text);
  if (!overflow) Warn("Uncaught exception, " + text);
}

void Vm::BeginFrameBudget() {
  runDeadline_ = RunTime() + limits_.budget;
  wallDeadline_ = std::chrono::steady_clock::now() + limits_.budget * kWallBudgets;
  aborting_ = false;
}

bool Vm::OutOfTime() {
  if (aborting_) return true;
  if (RunTime() > runDeadline_ || std::chrono::steady_clock::now() > wallDeadline_ ||
      heap_.size() > limits_.maxObjects || stack_.size() > (1u << 20)) {
    aborting_ = true;
    if (diagnostics) diagnostics("script stopped: it ran out of its time or memory");
  }
  return aborting_;
}

void Vm::Throw(const Value& v) {
  throwing_ = true;
  exception_ = v;
}

Value Vm::TakeException() {
  throwing_ = false;
  Value v = std::move(exception_);
  exception_ = Value();
  return v;
}

// ---- objects -------------------------------------------------------------------------------

Object* Vm::FlashPackage(std::string_view name) {
  Property* p = global->FindOwn("flash");
  Object* flash = p ? p->value.AsObject() : nullptr;
  if (!flash) {
    flash = NewObject();
    global->SetOwn("flash", Value(flash), prop::kDontEnum | prop::kVersion8);
  }
  if (name.empty()) return flash;
  Property* q = flash->FindOwn(name);
  Object* pkg = q ? q->value.AsObject() : nullptr;
  if (!pkg) {
    pkg = NewObject();
    flash->SetOwn(name, Value(pkg), prop::kDontEnum);
  }
  return pkg;
}

Value Vm::FlashMember(std::string_view package, std::string_view name) {
  Property* p = global->FindOwn("flash");
  Object* flash = p ? p->value.AsObject() : nullptr;
  Property* q = flash ? flash->FindOwn(package) : nullptr;
  Object* pkg = q ? q->value.AsObject() : nullptr;
  return pkg ? Get(pkg, name) : Value();
}

Object* Vm::NewObject() {
  return heap_.Make<Object>(objectProto);
}

Object* Vm::NewArray(std::vector<Value> items) {
  auto* a = heap_.Make<ArrayObject>(arrayProto);
  for (std::size_t i = 0; i < items.size(); ++i) a->props().Add(IndexName(i)).value = items[i];
  a->length = static_cast<double>(items.size());
  return a;
}

Function* Vm::NewNative(NativeFn fn, int data, NativeFn construct) {
  auto* f = heap_.Make<Function>(functionProto);
  f->native = fn;
  f->nativeData = data;
  f->construct = construct;
  return f;
}

Function* Vm::Method(Object* o, std::string_view name, NativeFn fn, int data) {
  Function* f = NewNative(fn, data);
  o->SetOwn(name, Value(static_cast<Object*>(f)), prop::kDontEnum);
  return f;
}

Object* Vm::NewError(std::string_view message) {
  Object* e = heap_.Make<Object>(errorProto);
  e->SetOwn("message", Value(std::string(message)));
  return e;
}

// ---- properties ----------------------------------------------------------------------------

Property* Vm::Lookup(Object* o, std::string_view name, Object** owner) {
  int hops = 0;
  for (Object* cur = o; cur && hops < 256; cur = cur->proto(), ++hops) {
    if (Property* p = cur->FindOwn(name); p && prop::VisibleIn(p->flags, version_)) {
      if (owner) *owner = cur;
      return p;
    }
  }
  return nullptr;
}

Value Vm::Get(Object* o, std::string_view name) {
  if (!o) return {};
  if (NameIs(*this, name, "__proto__")) {
    // super stands for the prototype it looks in: its __proto__ is that one's.
    if (o->cls() == ObjClass::kSuper) return o->proto() ? Get(o->proto(), name) : Value();
    if (Property* p = o->FindOwn(name); p && !p->getter) return p->value;
    return o->proto() ? Value(o->proto()) : Value();  // none: undefined
  }
  int hops = 0;
  for (Object* cur = o; cur && hops < 256; cur = cur->proto(), ++hops) {
    if (Property* p = cur->FindOwn(name); p && prop::VisibleIn(p->flags, version_)) {
      if (p->getter) {
        if (p->busy) return p->value;
        if (depth_ >= limits_.maxDepth) return {};
        p->busy = true;
        // Called as a method of the object it was found on (its super is the one above).
        Value r = Call(Value(p->getter), o, {}, cur);
        if (Property* q = cur->FindOwn(name)) q->busy = false;
        return r;
      }
      return p->value;
    }
    Value v;
    if (cur->GetSpecial(*this, name, v)) return v;
  }
  if (!NameIs(*this, name, "__resolve") && depth_ < limits_.maxDepth) {
    // The nearest __resolve that is a function answers; a plain object there answers nothing,
    // and other values (numbers, clips, virtual properties) leave the search to the prototypes.
    hops = 0;
    for (Object* cur = o; cur && hops < 256; cur = cur->proto(), ++hops) {
      Property* r = cur->FindOwn("__resolve");
      if (!r || !prop::VisibleIn(r->flags, version_) || r->getter) continue;
      if (!r->value.IsObject()) continue;
      if (r->value.o->cls() == ObjClass::kFunction)
        return Call(r->value, o, {Value(std::string(name))});
      if (r->value.o->cls() != ObjClass::kClip) return {};
    }
  }
  return {};
}

Value Vm::GetValue(const Value& base, std::string_view name) {
  if (base.IsObject()) return Get(base.o, name);
  if (base.IsString()) {
    if (name == "length") return Value(static_cast<double>(UnitLength(base.s, version_)));
    return Get(stringProto, name);
  }
  if (base.IsNumber()) return Get(numberProto, name);
  if (base.type == Type::kBoolean) return Get(booleanProto, name);
  return {};
}

void Vm::Set(Object* o, std::string_view name, const Value& value) {
  if (!o) return;
  Value v = value;
  std::string kept;  // the name, kept while a watcher runs (it may free what `name` points to)
  if (!o->watches.empty()) {
    for (auto& w : o->watches) {
      if (NameIs(*this, w.name, name)) {
        // A set from the watcher calls it again: from version 7 up to 65 calls deep, before
        // that not at all. Within the innermost call, sets are plain ones.
        const int deepest = version_ >= 7 ? 65 : 1;
        if (w.depth >= deepest) break;
        if (depth_ >= limits_.maxDepth) return;
        // A virtual property's watcher sees the value stored beneath it, without its getter;
        // within the innermost call the property reads and writes as a plain one.
        Property* vp = Lookup(o, name);
        const bool virtualProperty = vp && vp->getter;
        Value old = virtualProperty ? vp->value : Get(o, name);
        Object* cb = w.callback;
        Value data = w.userData;
        const bool innermost = ++w.depth >= deepest;
        Property* own = o->FindOwn(name);
        const bool ownWasBusy = own && own->busy;
        if (own && innermost) own->busy = true;
        kept.assign(name);
        name = kept;
        const std::string& key = kept;
        v = Call(Value(cb), o, {Value(key), old, v, data});
        // (The watcher may have replaced or removed its entry.)
        for (auto& w2 : o->watches)
          if (NameIs(*this, w2.name, key) && w2.depth > 0) --w2.depth;
        if (Property* q = o->FindOwn(key); q && innermost && !ownWasBusy) q->busy = false;
        // ... and the watcher's answer is stored beneath it before its setter runs. The watcher
        // may have added properties, so the property is looked up again.
        if (virtualProperty) {
          vp = Lookup(o, key);
          if (vp && vp->getter) vp->value = v;
        }
        break;
      }
    }
  }
  if (NameIs(*this, name, "__proto__")) {
    o->SetProto(v.AsObject());
    if (Property* p = o->FindOwn(name)) p->value = v;
    return;
  }
  if (Property* p = o->FindOwn(name)) {
    if (!prop::VisibleIn(p->flags, version_)) {
      // A property the movie's version does not see is replaced.
      p->getter = p->setter = nullptr;
      p->flags = 0;
      p->value = v;
      return;
    }
    if (p->getter || p->setter) {
      // The value beneath takes what was written, after the setter ran.
      if (p->busy || !p->setter || depth_ >= limits_.maxDepth) {
        if (p->busy) p->value = v;
        return;
      }
      p->busy = true;
      Call(Value(p->setter), o, {v}, o);
      if (Property* q = o->FindOwn(name)) {
        q->busy = false;
        if (q->getter || q->setter) q->value = v;
      }
      return;
    }
    if (p->flags & prop::kReadOnly) return;
    if (o->SetSpecial(*this, name, v)) return;
    p->value = v;
    return;
  }
  if (o->SetSpecial(*this, name, v)) return;
  Object* owner = nullptr;
  if (Property* p = Lookup(o->proto(), name, &owner); p && (p->getter || p->setter)) {
    if (p->setter && depth_ < limits_.maxDepth) Call(Value(p->setter), o, {v}, owner);
    return;
  }
  o->props().Add(name).value = v;
}

bool Vm::Has(Object* o, std::string_view name) {
  int hops = 0;
  for (Object* cur = o; cur && hops < 256; cur = cur->proto(), ++hops) {
    if (cur->FindOwn(name) || cur->HasSpecial(*this, name)) return true;
  }
  return false;
}

bool Vm::Delete(Object* o, std::string_view name) {
  if (!o) return false;
  if (Property* p = o->FindOwn(name)) {
    if (p->flags & prop::kDontDelete) return false;
    return o->props().Remove(name);
  }
  return o->DeleteSpecial(*this, name);
}

std::vector<std::string> Vm::Keys(Object* o) {
  std::vector<std::string> keys;
  int hops = 0;
  for (Object* cur = o; cur && hops < 256; cur = cur->proto(), ++hops) {
    std::vector<std::string> own;
    cur->SpecialKeys(*this, own);
    for (auto& p : cur->props().items())
      if (!(p.flags & prop::kDontEnum)) own.push_back(p.name);
    // The most recent property comes first.
    std::reverse(own.begin(), own.end());
    for (auto& k : own) {
      bool seen = false;
      for (auto& e : keys)
        if (NameIs(*this, e, k)) {
          seen = true;
          break;
        }
      // A name hidden by a non-enumerable property nearer the object stays hidden.
      if (!seen && cur != o) {
        for (Object* near = o; near != cur; near = near->proto())
          if (near->FindOwn(k)) {
            seen = true;
            break;
          }
      }
      if (!seen) keys.push_back(k);
    }
  }
  return keys;
}

// ---- conversions ---------------------------------------------------------------------------

Value Vm::ToPrimitive(const Value& v, Hint hint) {
  if (!v.IsObject()) return v;
  const bool hintString = hint == Hint::kString;
  Object* o = v.o;
  if (o->cls() == ObjClass::kClip && !hintString) {
    // Clips convert through toString only when it is overridden; their value is their path.
  }
  bool dateFirst = o->cls() == ObjClass::kDate && hint == Hint::kNone;
  const char* order[2] = {"valueOf", "toString"};
  if (hintString || dateFirst) std::swap(order[0], order[1]);
  for (const char* m : order) {
    Value f = Get(o, m);
    // An object without any valueOf (_global, an object made without a prototype) is undefined.
    if (m == order[0] && !hintString && !dateFirst && !f.IsObject()) return {};
    if (f.IsObject() && f.o->cls() == ObjClass::kFunction) {
      Value r = Call(f, o, {});
      if (throwing_ || aborting_) return {};
      if (!r.IsObject()) return r;
    }
  }
  if (o->cls() == ObjClass::kFunction) return Value("[type Function]");
  if (o->cls() == ObjClass::kClip) return Value(static_cast<ClipObject*>(o)->TargetPath());
  return Value("[type Object]");
}

double Vm::ToNumber(const Value& v) {
  if (v.type == Type::kNumber) return v.n;
  if (!v.IsObject()) return PrimitiveToNumber(v, version_);
  Value p = ToPrimitive(v, Hint::kNumber);
  if (p.IsObject()) return std::numeric_limits<double>::quiet_NaN();
  if (p.IsString() && v.o->cls() != ObjClass::kString && v.o->cls() != ObjClass::kNumber &&
      v.o->cls() != ObjClass::kDate)
    return StringToNumber(p.s, version_);
  return PrimitiveToNumber(p, version_);
}

std::string Vm::ToString(const Value& v) {
  if (v.type == Type::kString) return v.s;
  if (!v.IsObject()) return PrimitiveToString(v, version_);
  if (v.o->cls() == ObjClass::kClip) {
    // A removed clip that nothing has replaced is an empty text.
    auto* clip = static_cast<ClipObject*>(v.o);
    if (!clip->Alive() && !clip->unloading) return std::string();
    Property* p = Lookup(v.o, "toString");
    if (!p || !p->value.IsObject() || p->value.o->cls() != ObjClass::kFunction ||
        static_cast<Function*>(p->value.o)->native)
      return static_cast<ClipObject*>(v.o)->TargetPath();
  }
  // A toString that answers with something other than a text gives "[type Object]".
  Value f = Get(v.o, "toString");
  if (f.IsObject() && f.o->cls() == ObjClass::kFunction) {
    Value r = Call(f, v.o, {});
    if (throwing_ || aborting_) return std::string();
    if (r.IsString()) return r.s;
    return v.o->cls() == ObjClass::kFunction ? "[type Function]" : "[type Object]";
  }
  Value p = ToPrimitive(v, Hint::kString);
  return PrimitiveToString(p, version_);
}

Object* Vm::ToObject(const Value& v) {
  switch (v.type) {
    case Type::kObject:
      return v.o;
    case Type::kString: {
      Object* o = heap_.Make<Object>(stringProto, ObjClass::kString);
      o->primitive = v;
      o->SetOwn("length", Value(static_cast<double>(UnitLength(v.s, version_))), prop::kDontEnum);
      return o;
    }
    case Type::kNumber: {
      Object* o = heap_.Make<Object>(numberProto, ObjClass::kNumber);
      o->primitive = v;
      return o;
    }
    case Type::kBoolean: {
      Object* o = heap_.Make<Object>(booleanProto, ObjClass::kBoolean);
      o->primitive = v;
      return o;
    }
    default:
      return nullptr;
  }
}

std::string Vm::TypeOf(const Value& v) {
  switch (v.type) {
    case Type::kUndefined:
      return "undefined";
    case Type::kNull:
      return "null";
    case Type::kBoolean:
      return "boolean";
    case Type::kNumber:
      return "number";
    case Type::kString:
      return "string";
    case Type::kObject:
      if (v.o->cls() == ObjClass::kFunction) return "function";
      if (v.o->cls() == ObjClass::kClip && static_cast<ClipObject*>(v.o)->Timeline()) {
        return "movieclip";
      }
      return "object";
  }
  return "undefined";
}

bool Vm::StrictEquals(const Value& a, const Value& b) {
  if (a.type != b.type) return false;
  switch (a.type) {
    case Type::kUndefined:
    case Type::kNull:
      return true;
    case Type::kBoolean:
      return a.b == b.b;
    case Type::kNumber:
      // From SWF 6 on, NaN equals NaN.
      return a.n == b.n || (version_ >= 6 && std::isnan(a.n) && std::isnan(b.n));
    case Type::kString:
      return a.s == b.s;
    case Type::kObject:
      return a.o == b.o;
  }
  return false;
}

bool Vm::AbstractEquals(const Value& a, const Value& b) {
  if (a.type == b.type) {
    if (a.IsObject() && a.o != b.o) {
      if (a.o->cls() == ObjClass::kClip && b.o->cls() == ObjClass::kClip) return false;
      // SWF 5 compares two objects by their values.
      if (version_ < 6) {
        auto valueOf = [&](const Value& x) {
          Value f = Get(x.o, "valueOf");
          return f.IsObject() && f.o->cls() == ObjClass::kFunction ? Call(f, x.o, {}) : x;
        };
        Value pa = valueOf(a), pb = valueOf(b);
        if (throwing_ || aborting_) return false;
        if (pa.IsObject() || pb.IsObject()) return pa.IsObject() && pb.IsObject() && pa.o == pb.o;
        return AbstractEquals(pa, pb);
      }
    }
    // NaN equals NaN here in every version.
    if (a.IsNumber()) return a.n == b.n || (std::isnan(a.n) && std::isnan(b.n));
    return StrictEquals(a, b);
  }
  if (a.IsNullish() && b.IsNullish()) return true;
  // An object without any valueOf (one made without a prototype, _global) is undefined.
  auto noValueOf = [&](const Value& x) {
    if (!x.IsObject() || x.o->cls() == ObjClass::kClip) return false;
    return Get(x.o, "valueOf").IsUndefined();
  };
  if (a.IsNullish()) return noValueOf(b);
  if (b.IsNullish()) return noValueOf(a);
  if (a.IsNumber() && b.IsString()) return a.n == StringToNumber(b.s, version_);
  if (a.IsString() && b.IsNumber()) return StringToNumber(a.s, version_) == b.n;
  if (a.type == Type::kBoolean) return AbstractEquals(Value(a.b ? 1.0 : 0.0), b);
  if (b.type == Type::kBoolean) return AbstractEquals(a, Value(b.b ? 1.0 : 0.0));
  // An object against a number or a text takes its valueOf only (a clip falls back to its path):
  // an object whose valueOf gives an object equals nothing, whatever its toString says.
  auto primitive = [&](const Value& x) -> Value {
    if (x.o->cls() == ObjClass::kClip || x.o->cls() == ObjClass::kDate) return ToPrimitive(x);
    Value f = Get(x.o, "valueOf");
    if (!f.IsObject() || f.o->cls() != ObjClass::kFunction) return x;
    return Call(f, x.o, {});
  };
  if ((a.IsNumber() || a.IsString()) && b.IsObject()) {
    Value p = primitive(b);
    if (p.IsObject() || throwing_ || aborting_) return false;
    return AbstractEquals(a, p);
  }
  if (a.IsObject() && (b.IsNumber() || b.IsString())) {
    Value p = primitive(a);
    if (p.IsObject() || throwing_ || aborting_) return false;
    return AbstractEquals(p, b);
  }
  return false;
}

// Comparisons take an object's valueOf only: an object without one counts as undefined, one whose
// valueOf gives an object (a clip, a plain object) does not compare; texts compare as texts only
// when both sides are texts.
Value Vm::Less(const Value& a, const Value& b) {
  auto primitive = [&](const Value& v) -> Value {
    if (!v.IsObject()) return v;
    Value f = Get(v.o, "valueOf");
    if (!f.IsObject() || f.o->cls() != ObjClass::kFunction) return {};
    return Call(f, v.o, {});
  };
  // SWF 5 calls a comparison with a plain object false (without looking at the right side when
  // the left one is such); later versions call it false against a text and undefined against
  // anything else; a clip never compares.
  auto incomparable = [&](const Value& p, const Value& other) -> Value {
    if (version_ < 6 && p.o->cls() != ObjClass::kClip) return Value(false);
    if (version_ >= 6 && other.IsString() && p.o->cls() != ObjClass::kClip) return Value(false);
    return {};
  };
  Value pa = primitive(a);
  if (throwing_ || aborting_) return {};
  if (pa.IsObject() && version_ < 6) return incomparable(pa, Value());
  Value pb = primitive(b);
  if (throwing_ || aborting_) return {};
  if (pa.IsObject()) return incomparable(pa, pb);
  if (pb.IsObject()) return incomparable(pb, pa);
  if (pa.IsString() && pb.IsString()) return Value(TextLess(pa.s, pb.s, version_));
  double x = ToNumber(pa), y = ToNumber(pb);
  if (std::isnan(x) || std::isnan(y)) return {};
  return Value(x < y);
}

bool Vm::InstanceOf(Object* o, Object* ctor) {
  if (!o || !ctor) return false;
  Object* proto = Get(ctor, "prototype").AsObject();
  return proto && ChainHas(o, ctor, proto);
}

bool Vm::ChainHas(Object* o, Object* ctor, Object* proto) {
  int hops = 0;
  for (Object* p = o->proto(); p && hops < 256; p = p->proto(), ++hops) {
    if (p == proto) return true;
    // Interfaces named by implementsOp.
    if (Object* ifs = p->interfaces) {
      if (ifs->cls() == ObjClass::kArray)
        for (auto& i : elements::All(*this, ifs))
          if (i.IsObject() && (i.o == ctor || Get(i.o, "prototype").AsObject() == proto))
            return true;
    }
  }
  return false;
}

namespace {

bool RemovedClip(const Object* o) {
  return o->cls() == ObjClass::kClip && !static_cast<const ClipObject*>(o)->Alive();
}

}  // namespace

Object* Vm::Boxed(const Value& v) {
  const char* name = v.IsString()               ? "String"
                     : v.IsNumber()             ? "Number"
                     : v.type == Type::kBoolean ? "Boolean"
                                                : nullptr;
  if (!name) return nullptr;
  Value made = Construct(Get(global, name), {v});
  if (throwing_ || aborting_) return nullptr;
  return made.AsObject();
}

bool Vm::InstanceOfAction(const Value& o, const Value& ctor) {
  if (!o.IsObject()) return false;
  Object* c = ctor.IsObject() ? ctor.o : Boxed(ctor);
  if (!c || RemovedClip(c)) return false;
  const Property* slot = c->FindOwn("prototype");
  if (!slot || slot->getter) return false;
  const Value& protoV = slot->value;
  Object* proto = protoV.IsObject() ? protoV.o : Boxed(protoV);
  // (A clip never stands as a prototype.)
  if (!proto || proto->cls() == ObjClass::kClip || RemovedClip(o.o)) return false;
  return ChainHas(o.o, c, proto);
}

Value Vm::CastAction(const Value& o, const Value& ctor) {
  if (!o.IsObject()) {
    Boxed(o);
    return Value::Null();
  }
  return InstanceOfAction(o, ctor) ? o : Value::Null();
}

// ---- arrays --------------------------------------------------------------------------------

std::size_t Vm::ArrayLength(Object* a) {
  return elements::Length(*this, a);
}

Value Vm::ArrayGet(Object* a, std::size_t i) {
  if (a && a->cls() == ObjClass::kArray) return elements::Raw(a, i);
  return Get(a, IndexName(i));
}

void Vm::ArraySet(Object* a, std::size_t i, const Value& v) {
  Set(a, IndexName(i), v);
}

void Vm::ArrayPush(Object* a, const Value& v) {
  std::size_t n = ArrayLength(a);
  if (n >= limits_.maxArray) return;
  if (a && a->cls() == ObjClass::kArray) {
    elements::Put(*this, a, n, v);
    return;
  }
  ArraySet(a, n, v);
}

// ---- calls ---------------------------------------------------------------------------------

Value Vm::Call(const Value& fn, Object* self, std::vector<Value> args, Object* home) {
  if (!fn.IsObject() || fn.o->cls() != ObjClass::kFunction) return {};
  return CallFunction(static_cast<Function*>(fn.o), self, args, home, false);
}

Value Vm::CallMethod(const Value& base, std::string_view name, std::vector<Value> args) {
  Object* self = base.IsObject() ? base.o : ToObject(base);
  Object* owner = nullptr;
  Lookup(self, name, &owner);
  Value f = GetValue(base, name);
  return Call(f, self, std::move(args), owner);
}

Value Vm::Construct(const Value& ctor, std::vector<Value> args) {
  if (!ctor.IsObject() || ctor.o->cls() != ObjClass::kFunction) return {};
  auto* f = static_cast<Function*>(ctor.o);
  Object* proto = Get(f, "prototype").AsObject();
  Object* obj = heap_.Make<Object>(proto ? proto : objectProto);
  if (version_ >= 6) obj->SetOwn("__constructor__", ctor, prop::kDontEnum);
  // From SWF 7 on an instance finds `constructor` on its prototype only.
  if (version_ < 7) obj->SetOwn("constructor", ctor, prop::kDontEnum);
  Value r = CallFunction(f, obj, args, proto, true);
  if (f->native && r.IsObject()) return r;
  if (f->native && f->constructMayFail && r.IsUndefined()) return r;
  return Value(obj);
}

// ---- paths ---------------------------------------------------------------------------------

Object* Vm::LiveTarget(Activation& act) {
  auto gone = [](Object* o) {
    return o && o->cls() == ObjClass::kClip && !static_cast<ClipObject*>(o)->Alive();
  };
  if (gone(act.target)) act.target = gone(act.baseClip) ? root : act.baseClip;
  return act.target;
}

Object* Vm::ResolveTarget(Object* start, std::string_view path, Activation* act) {
  if (path.empty()) return start;
  Object* cur = start;
  std::size_t i = 0;
  if (path[0] == '/') {
    cur = root;
    i = 1;
  }
  // After a slash a dot no longer separates names: "a/b.c" asks a for a child called "b.c".
  bool slashed = i > 0;
  while (i < path.size() && cur) {
    std::size_t j = i;
    while (j < path.size() && path[j] != '/' && (slashed || path[j] != '.') && path[j] != ':') ++j;
    if (j < path.size() && path[j] == '/') slashed = true;
    std::string_view part = path.substr(i, j - i);
    // ".." is the parent in slash paths.
    if (j + 1 < path.size() + 1 && path.substr(i, 2) == "..") {
      part = "..";
      j = i + 2;
    }
    if (part.empty()) {
      i = j + 1;
      continue;
    }
    Object* next = nullptr;
    if (part == ".." || NameIs(*this, part, "_parent")) {
      if (cur->cls() == ObjClass::kClip) next = static_cast<ClipObject*>(cur)->ParentClip();
    } else if (NameIs(*this, part, "_root") || NamesLevel0(*this, part)) {
      next = root;
    } else if (NameIs(*this, part, "_global")) {
      next = global;
    } else if (part == "this" && act) {
      next = act->thisObj;
    } else {
      next = Get(cur, part).AsObject();
    }
    cur = next;
    i = j + 1;
  }
  return cur;
}

namespace {

// Splits "path:var" / "path.var" / "/path:var" into the path and the variable name.
bool SplitPath(std::string_view name, std::string_view& path, std::string_view& var) {
  std::size_t colon = name.rfind(':');
  if (colon != std::string_view::npos) {
    path = name.substr(0, colon);
    var = name.substr(colon + 1);
    return true;
  }
  std::size_t dot = name.rfind('.');
  std::size_t slash = name.find('/');
  if (dot != std::string_view::npos && dot > 0 && dot + 1 < name.size() &&
      name.substr(dot - 1, 2) != "..") {
    path = name.substr(0, dot);
    var = name.substr(dot + 1);
    return true;
  }
  if (slash != std::string_view::npos) {
    path = name;
    var = {};
    return true;
  }
  return false;
}

}  // namespace

Value Vm::GetVariable(Activation& act, std::string_view name) {
  std::string_view path, var;
  if (SplitPath(name, path, var)) {
    Object* base = nullptr;
    if (!path.empty() && path[0] != '/' && path.find_first_of("/:") == std::string_view::npos) {
      // A dot path starts with a variable of the scope chain; a scope where the path leads
      // nowhere gives way to the next one.
      std::size_t dot = path.find('.');
      std::string_view first = path.substr(0, dot);
      if (first == "this" || first == "_root" || first == "_parent" || first == "_global" ||
          first == "_level0") {
        base = GetVariable(act, first).AsObject();
        if (base && dot != std::string_view::npos)
          base = ResolveTarget(base, path.substr(dot + 1), &act);
        if (!base) return {};
        return var.empty() ? Value(base) : Get(base, var);
      }
      for (Scope* s = act.scope; s; s = s->parent) {
        Object* o = s->kind == Scope::Kind::kTarget && LiveTarget(act) ? act.target : s->obj;
        if (!o || !Has(o, first)) continue;
        Object* b = Get(o, first).AsObject();
        if (b && dot != std::string_view::npos) b = ResolveTarget(b, path.substr(dot + 1), &act);
        if (!b) continue;
        if (var.empty()) return Value(b);
        if (Has(b, var)) return Get(b, var);
      }
      return {};
    } else {
      base = ResolveTarget(LiveTarget(act) ? act.target : root, path, &act);
    }
    if (!base) return {};
    if (var.empty()) return Value(base);
    return Get(base, var);
  }
  if (NameIs(*this, name, "this"))
    return act.thisByName ? (act.thisObj ? Value(act.thisObj) : Value())
                          : Value(LiveTarget(act) ? act.target : act.baseClip);
  if (NameIs(*this, name, "_global")) return version_ >= 6 ? Value(global) : Value();
  if (NamesLevel0(*this, name)) {
    // A variable of that name set on a timeline of the scope hides the main timeline.
    for (Scope* s = act.scope; s; s = s->parent) {
      Object* o = s->kind == Scope::Kind::kTarget && LiveTarget(act) ? act.target : s->obj;
      if (o && o->FindOwn(name)) return Get(o, name);
    }
  }
  if (NameIs(*this, name, "_root") || NamesLevel0(*this, name)) {
    // A stored _root on the timeline does not hide the root; a clip up the target's parents
    // with _lockroot set stands in for it.
    Object* t = LiveTarget(act);
    if (NameIs(*this, name, "_root") && t && t->cls() == ObjClass::kClip)
      if (Object* locked = static_cast<ClipObject*>(t)->LockedRoot(*this)) return Value(locked);
    return root ? Value(static_cast<Object*>(root)) : Value();
  }
  for (Scope* s = act.scope; s; s = s->parent) {
    Object* o = s->kind == Scope::Kind::kTarget && LiveTarget(act) ? act.target : s->obj;
    if (!o) continue;
    if (Has(o, name)) return Get(o, name);
  }
  return {};
}

void Vm::SetVariable(Activation& act, std::string_view name, const Value& v) {
  std::string_view path, var;
  if (SplitPath(name, path, var) && !var.empty()) {
    Object* base = nullptr;
    if (!path.empty() && path[0] != '/' && path.find_first_of("/:") == std::string_view::npos) {
      std::size_t dot = path.find('.');
      std::string_view first = path.substr(0, dot);
      if (first == "this" || first == "_root" || first == "_parent" || first == "_global" ||
          first == "_level0") {
        base = GetVariable(act, first).AsObject();
        if (base && dot != std::string_view::npos)
          base = ResolveTarget(base, path.substr(dot + 1), &act);
      } else {
        // As in GetVariable: the first scope where the whole path leads to an object.
        for (Scope* s = act.scope; s && !base; s = s->parent) {
          Object* o = s->kind == Scope::Kind::kTarget && LiveTarget(act) ? act.target : s->obj;
          if (!o || !Has(o, first)) continue;
          base = Get(o, first).AsObject();
          if (base && dot != std::string_view::npos)
            base = ResolveTarget(base, path.substr(dot + 1), &act);
        }
      }
    } else {
      base = ResolveTarget(LiveTarget(act) ? act.target : root, path, &act);
    }
    if (base) Set(base, var, v);
    return;
  }
  for (Scope* s = act.scope; s; s = s->parent) {
    Object* o = s->kind == Scope::Kind::kTarget && LiveTarget(act) ? act.target : s->obj;
    if (!o) continue;
    if (s->kind == Scope::Kind::kTarget || s->parent == nullptr) {
      Set(o, name, v);
      return;
    }
    if (Has(o, name)) {
      Set(o, name, v);
      return;
    }
  }
}

void Vm::RunTimers(double nowMs) {
  // Every timer fires as often as its interval fits into the time that passed, all of them in
  // the order they fall due (ties: the older first), and what a call queues runs before the next
  // call. Timers added while these run wait for the next turn; a timer far behind (the machine
  // slept) drops its backlog after kMaxTimerCatchUp calls.
  const int firstNew = nextTimerId;  // ids grow: a timer from this turn has one at least this
  std::unordered_map<int, int> calls;
  while (!aborting_) {
    auto next = timers.end();
    for (auto it = timers.begin(); it != timers.end(); ++it) {
      if (it->due > nowMs || it->id >= firstNew) continue;
      if (next == timers.end() || it->due < next->due) next = it;
    }
    if (next == timers.end()) return;
    const Timer t = *next;
    if (t.once) {
      timers.erase(next);
    } else if (++calls[t.id] >= kMaxTimerCatchUp) {
      next->due = nowMs + std::max(t.interval, 1.0);
    } else {
      next->due += std::max(t.interval, 1.0);
    }
    if (t.method.empty()) {
      Call(t.fn, nullptr, t.args);
    } else {
      // A clip that was removed is reached through its path, as references to clips are; with
      // nothing at the path, nothing is called.
      Value self = t.fn;
      if (self.type == Type::kObject && self.o->cls() == ObjClass::kClip) {
        auto* clip = static_cast<ClipObject*>(self.o);
        if (!clip->Alive()) {
          ClipObject* now = clip->Relocated(*this);
          if (!now) continue;
          self.o = now;
        }
      }
      CallMethod(self, t.method, t.args);
    }
    DropUncaught();
    if (afterTimer && !aborting_) afterTimer();
  }
}

// ---- collection ----------------------------------------------------------------------------

std::size_t Vm::Collect(const std::function<void(Tracer&)>& addRoots) {
  Tracer t;
  t.Mark(global);
  for (Object* o :
       {objectProto, functionProto, arrayProto, stringProto, numberProto, booleanProto, dateProto,
        errorProto, clipProto, xmlNodeProto, xmlProto, pointProto, pointCtor, matrixCtor})
    t.Mark(o);
  t.Mark(static_cast<Object*>(root));
  for (Object* o : pinned) t.Mark(o);
  for (const auto& v : soundVoices) t.Mark(v.owner);
  for (const SoundLoad& load : soundLoads) t.Mark(load.sound);
  for (Object* o : netStreams) t.Mark(o);
  for (const auto& [name, receiver] : connections) t.Mark(receiver);
  for (const auto& link : sockets) t.Mark(link->socket);
  for (const LocalMessage& m : messages) {
    t.Mark(m.sender);
    for (const Value& v : m.args) t.Mark(v);
  }
  for (auto& v : stack_) t.Mark(v);
  t.Mark(exception_);
  for (Activation* a : activations_) {
    t.Mark(a->scope);
    t.Mark(a->thisObj);
    t.Mark(a->target);
    t.Mark(a->baseClip);
    t.Mark(a->callee);
    t.Mark(a->arguments);
    t.Mark(a->home);
    for (auto& r : a->regs) t.Mark(r);
    t.Mark(a->result);
  }
  for (auto& table : registeredClasses)
    for (auto& [name, c] : table) t.Mark(c);
  for (auto& tm : timers) {
    t.Mark(tm.fn);
    for (auto& a : tm.args) t.Mark(a);
  }
  if (addRoots) addRoots(t);
  return heap_.Collect(t);
}

Object* Vm::MakeSuper(Object* self, Object* home) {
  // A method found on the object itself takes its super from the object's prototype. A clip
  // there gives super nothing: no prototype, no constructor.
  Object* base = home == self ? home->proto() : home;
  if (base && base->cls() == ObjClass::kClip) base = nullptr;
  Object* s = heap_.Make<Object>(base ? base->proto() : nullptr, ObjClass::kSuper);
  s->primitive = Value(self);  // the `this` that super calls keep
  auto state = std::make_unique<SuperState>();
  state->base = base;
  // How many prototypes up from `this` the base lies: super() takes its constructor from the
  // prototype found that many steps up when it runs, so that a method that gives its object
  // another prototype calls the constructor of the class it now extends.
  int depth = 1;
  for (Object* p = self ? self->proto() : nullptr; p && depth <= kMaxSuperDepth;
       p = p->proto(), ++depth) {
    if (p == base) {
      state->depth = depth;
      break;
    }
  }
  s->native = std::move(state);
  return s;
}

Value Vm::SuperConstructor(Object* super) {
  // Looked up when super() runs: up the prototypes of the base (a getter runs), never through
  // __resolve.
  const auto* state = dynamic_cast<const SuperState*>(super->native.get());
  Object* base = state ? state->base : nullptr;
  if (state && state->depth > 0) {
    Object* now = super->primitive.AsObject();
    for (int i = state->depth; now && i > 0; --i) now = now->proto();
    if (now && now->cls() != ObjClass::kClip) base = now;
  }
  Object* owner = nullptr;
  Property* p = base ? Lookup(base, "__constructor__", &owner) : nullptr;
  if (!p) return {};
  return p->getter ? Call(Value(p->getter), base, {}) : p->value;
}

// ---- functions -----------------------------------------------------------------------------

Value Vm::CallFunction(Function* f, Object* self, std::vector<Value>& args, Object* home,
                       bool construct) {
  if (aborting_) return {};
  // The outermost call marks where the native stack of script calls begins.
  char frameMark = 0;
  const auto here = reinterpret_cast<std::uintptr_t>(&frameMark);
  const bool outermost = stackBase_ == 0;
  if (outermost) stackBase_ = here;
  struct BaseGuard {
    std::uintptr_t& base;
    bool owner;
    ~BaseGuard() {
      if (owner) base = 0;
    }
  } baseGuard{stackBase_, outermost};
  const std::uintptr_t used = stackBase_ > here ? stackBase_ - here : here - stackBase_;
  if (depth_ >= limits_.maxDepth || used > limits_.maxNativeStack) {
    if (!throwing_) {
      overflow_ = NewError("256 levels of recursion were exceeded");
      Throw(Value(overflow_));
    }
    return {};
  }
  DepthGuard guard(depth_);
  if (f->native) {
    CallArgs ca;
    ca.self = self;
    ca.args = std::move(args);
    ca.callee = f;
    ca.superObj = home;
    ca.constructing = construct;
    if (construct && f->construct) return f->construct(*this, ca);
    return f->native(*this, ca);
  }
  if (!f->code) return {};
  Activation a;
  a.version = f->version;
  a.code = f->code;
  a.pool = f->pool;
  a.callee = f;
  a.thisObj = self;
  a.home = home;
  a.isFunction = true;
  a.constructing = construct;
  a.baseClip = f->baseClip;
  // A function whose timeline was removed acts on the clip now at that timeline's path.
  if (a.baseClip && a.baseClip->cls() == ObjClass::kClip) {
    auto* c = static_cast<ClipObject*>(a.baseClip);
    if (!c->Alive())
      if (ClipObject* now = c->Relocated(*this)) a.baseClip = now;
  }
  a.target = a.baseClip;
  // Before SWF 6 a function acts on the clip its caller targets, not on its own timeline, when
  // that caller is code of an old movie too; newer code calling it leaves it on its timeline.
  if (f->version < 6 && !activations_.empty() && activations_.back()->version < 6) {
    Activation* caller = activations_.back();
    if (Object* t = caller->target ? caller->target : caller->baseClip) a.target = t;
  }
  Object* locals = heap_.Make<Object>(nullptr);
  a.scope = heap_.Make<Scope>(Scope::Kind::kLocal, locals, f->scope);
  Object* argsObj = nullptr;
  auto makeArguments = [&]() {
    argsObj = NewArray(args);
    argsObj->SetOwn("callee", Value(static_cast<Object*>(f)), prop::kDontEnum);
    argsObj->SetOwn("caller", Value(), prop::kDontEnum);
    a.arguments = argsObj;
    return argsObj;
  };
  if (!f->isFunction2) {
    a.regs.resize(4);
    for (std::size_t i = 0; i < f->params.size(); ++i)
      locals->SetOwn(f->params[i].name, i < args.size() ? args[i] : Value());
    locals->SetOwn("arguments", Value(makeArguments()));
    if (home) locals->SetOwn("super", Value(MakeSuper(self, home)));
  } else {
    a.regs.resize(std::max<std::size_t>(f->registerCount, 1));
    std::uint16_t fl = f->flags2;
    std::size_t reg = 1;
    auto put = [&](const Value& v) {
      if (reg < a.regs.size()) a.regs[reg] = v;
      ++reg;
    };
    // A suppressed `this` or `super` keeps its register, left undefined; a timeline without a
    // parent takes none (the next preload moves up).
    if (fl & 0x01) {
      if (fl & 0x02)
        ++reg;
      else
        put(self ? Value(self) : Value());
    }
    if (fl & 0x04) put(Value(makeArguments()));
    Object* superObj = nullptr;
    if (fl & 0x03) a.thisByName = false;
    if (!(fl & 0x20)) {
      // super: the prototype above the one the method came from.
      if (home) superObj = MakeSuper(self, home);
    }
    if (fl & 0x10) {
      if (fl & 0x20)
        ++reg;
      else
        put(Value(superObj));
    }
    if (fl & 0x40) put(Value(static_cast<Object*>(root)));
    if (fl & 0x80) {
      Object* parent = nullptr;
      if (a.baseClip && a.baseClip->cls() == ObjClass::kClip)
        parent = static_cast<ClipObject*>(a.baseClip)->ParentClip();
      if (parent) put(Value(parent));
    }
    if (fl & 0x100) put(Value(global));
    for (std::size_t i = 0; i < f->params.size(); ++i) {
      Value v = i < args.size() ? args[i] : Value();
      if (f->params[i].reg && f->params[i].reg < a.regs.size())
        a.regs[f->params[i].reg] = v;
      else
        locals->SetOwn(f->params[i].name, v);
    }
    if (!(fl & 0x08) && !(fl & 0x04)) locals->SetOwn("arguments", Value(makeArguments()));
    if (superObj && !(fl & 0x10)) locals->SetOwn("super", Value(superObj));
  }
  std::size_t base = stack_.size();
  activations_.push_back(&a);
  Flow flow = Execute(a, f->begin, f->end);
  activations_.pop_back();
  if (stack_.size() > base) stack_.resize(base);
  if (flow == Flow::kReturn) return a.result;
  return {};
}

namespace {
std::string ClassKey(int movieVersion, std::string_view name) {
  std::string key(name);
  if (movieVersion < 7)
    for (char& ch : key)
      if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
  return key;
}
}  // namespace

void Vm::RegisterClass(int movieVersion, std::string_view name, Object* ctor) {
  const int t = movieVersion >= 7 ? 1 : 0;
  const std::string key = ClassKey(movieVersion, name);
  if (ctor) {
    registeredClasses[t][key] = ctor;
    registrations[t][key] = {++registrationCount, std::string(name)};
  } else {
    registeredClasses[t].erase(key);
    registrations[t].erase(key);
  }
}

std::string Vm::RegisteredName(Object* ctor) const {
  const int t = version_ >= 7 ? 1 : 0;
  const std::pair<std::uint64_t, std::string>* latest = nullptr;
  for (const auto& [key, registered] : registeredClasses[t]) {
    if (registered != ctor) continue;
    const auto it = registrations[t].find(key);
    if (it != registrations[t].end() && (!latest || it->second.first > latest->first))
      latest = &it->second;
  }
  return latest ? latest->second : std::string();
}

Object* Vm::RegisteredClass(int movieVersion, std::string_view name) const {
  const auto& table = registeredClasses[movieVersion >= 7 ? 1 : 0];
  const auto it = table.find(ClassKey(movieVersion, name));
  return it == table.end() ? nullptr : it->second;
}

}  // namespace dbx::swf::avm1
