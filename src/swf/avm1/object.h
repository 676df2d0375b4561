// Objects of the script heap: properties with flags, the prototype chain, functions, scopes, and
// the tracing collector that frees what the roots no longer reach (cycles included).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "swf/avm1/value.h"

namespace dbx::swf::avm1 {

class Vm;
class Heap;
class Object;

// Marks what a cell refers to.
class Tracer {
 public:
  void Mark(Object* o);
  void Mark(const Value& v) {
    if (v.type == Type::kObject) Mark(v.o);
  }
  std::vector<Object*> pending;
};

namespace prop {
inline constexpr std::uint16_t kDontEnum = 1;
inline constexpr std::uint16_t kDontDelete = 2;
inline constexpr std::uint16_t kReadOnly = 4;
// Properties that movies of older versions do not see (ASSetPropFlags sets them too).
inline constexpr std::uint16_t kVersion6 = 1 << 7;
inline constexpr std::uint16_t kNotVersion6 = 1 << 8;
inline constexpr std::uint16_t kVersion7 = 1 << 10;
inline constexpr std::uint16_t kVersion8 = 1 << 12;
inline constexpr std::uint16_t kVersion9 = 1 << 13;
inline constexpr std::uint16_t kVersion10 = 1 << 14;
// Whether a movie of `version` sees a property with `flags`.
inline bool VisibleIn(std::uint16_t flags, int version) {
  if (!(flags & 0x7580)) return true;
  return !((flags & kVersion6) && version < 6) && !((flags & kNotVersion6) && version == 6) &&
         !((flags & kVersion7) && version < 7) && !((flags & kVersion8) && version < 8) &&
         !((flags & kVersion9) && version < 9) && !((flags & kVersion10) && version < 10);
}
}  // namespace prop

struct Property {
  std::string name;
  Value value;
  Object* getter = nullptr;  // addProperty: a getter makes this a virtual property
  Object* setter = nullptr;
  std::uint16_t flags = 0;
  bool busy = false;  // its getter or setter is running: nested reads and writes are plain
};

// Insertion-ordered properties with an index; names fold case before SWF 7.
class PropertyMap {
 public:
  explicit PropertyMap(bool caseSensitive) : caseSensitive_(caseSensitive) {}
  Property* Find(std::string_view name);
  const Property* Find(std::string_view name) const {
    return const_cast<PropertyMap*>(this)->Find(name);
  }
  // Adds a property at the end (the name must not be present).
  Property& Add(std::string_view name);
  bool Remove(std::string_view name);
  // Removes every property `drop` picks, in one pass.
  template <class F>
  void RemoveIf(F drop) {
    std::size_t before = items_.size();
    std::erase_if(items_, drop);
    if (items_.size() == before) return;
    index_.clear();
    if (items_.size() >= 8)
      for (std::uint32_t k = 0; k < items_.size(); ++k) index_[Key(items_[k].name)] = k;
  }
  std::vector<Property>& items() { return items_; }
  const std::vector<Property>& items() const { return items_; }
  bool CaseSensitive() const { return caseSensitive_; }

 private:
  std::string Key(std::string_view name) const {
    return caseSensitive_ ? std::string(name) : FoldCase(name);
  }
  bool caseSensitive_;
  std::vector<Property> items_;
  std::unordered_map<std::string, std::uint32_t> index_;
};

enum class ObjClass : std::uint8_t {
  kObject,
  kFunction,
  kArray,
  kString,
  kNumber,
  kBoolean,
  kDate,
  kClip,
  kScope,
  kSuper,
  kOther,
};

struct Watch {
  std::string name;
  Object* callback = nullptr;
  Value userData;
  // How many calls of the callback are running, one inside another (a set from the callback calls
  // it again, up to a limit; the innermost call's sets are plain).
  int depth = 0;
};

// The state of a built-in class kept on an object: set by the class's constructor, on the object
// it made or on any other it runs on (a class extending the built-in one calls its constructor
// on its own instances).
struct NativeState {
  virtual ~NativeState() = default;
  // Marks the script values the state holds.
  virtual void Trace(Tracer&) {}
};

class Object {
 public:
  explicit Object(Heap& heap, Object* proto, ObjClass cls = ObjClass::kObject);
  virtual ~Object() = default;
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;

  ObjClass cls() const { return cls_; }
  // Makes a plain object a wrapper of a built-in class (Boolean, Number, String, Date) holding
  // `v`: what the class's constructor does to the instance of a class extending it. Other objects
  // stay as they are; returns whether this one changed.
  bool BecomeWrapper(ObjClass cls, Value v);
  Object* proto() const { return proto_; }
  void SetProto(Object* p) { proto_ = p; }
  PropertyMap& props() { return props_; }
  const PropertyMap& props() const { return props_; }

  // Stored properties only (no getters run, no prototype): for built-in set-up and the VM.
  Property* FindOwn(std::string_view name) { return props_.Find(name); }
  void SetOwn(std::string_view name, Value v, std::uint16_t flags = 0);

  // Virtual hooks for objects whose properties are not all stored (clips, arrays).
  // Returns true when the name is one of the object's own special properties.
  virtual bool GetSpecial(Vm&, std::string_view, Value&) { return false; }
  virtual bool SetSpecial(Vm&, std::string_view, const Value&) { return false; }
  virtual bool HasSpecial(Vm&, std::string_view) { return false; }
  virtual bool DeleteSpecial(Vm&, std::string_view) { return false; }
  // Names of special properties that enumerate (array elements, child clips).
  virtual void SpecialKeys(Vm&, std::vector<std::string>&) {}
  virtual void Trace(Tracer& t);

  // Plain data for wrapper objects (String, Number, Boolean, Date).
  Value primitive;
  std::vector<Watch> watches;
  std::unique_ptr<NativeState> native;
  Object* interfaces = nullptr;  // an array of implemented interfaces (implementsOp)
  bool marked = false;

 protected:
  ObjClass cls_;

 private:
  Object* proto_;
  PropertyMap props_;
};

class Activation;
class Scope;

struct CallArgs {
  Object* self = nullptr;  // `this` (nothing: undefined)
  std::vector<Value> args;
  Object* callee = nullptr;
  Object* superObj = nullptr;
  bool constructing = false;  // run by `new`
  const Value& operator[](std::size_t i) const {
    static const Value undefined;
    return i < args.size() ? args[i] : undefined;
  }
  std::size_t size() const { return args.size(); }
};

using NativeFn = Value (*)(Vm& vm, CallArgs& args);

// A code block that outlives every function defined in it.
struct Code {
  std::vector<std::uint8_t> bytes;
};

struct FunctionParam {
  std::string name;
  std::uint8_t reg = 0;  // DefineFunction2: the register that receives it (0: a local variable)
};

class Function : public Object {
 public:
  Function(Heap& heap, Object* proto) : Object(heap, proto, ObjClass::kFunction) {}
  void Trace(Tracer& t) override;

  // Native functions.
  NativeFn native = nullptr;
  NativeFn construct = nullptr;  // what `new` runs, when it differs from a call
  // `new` gives undefined when the native constructor returns it (arguments it refuses).
  bool constructMayFail = false;
  int nativeData = 0;

  // Script functions.
  std::shared_ptr<const Code> code;
  std::size_t begin = 0, end = 0;  // the body within code->bytes
  std::string name;
  std::vector<FunctionParam> params;
  bool isFunction2 = false;
  std::uint8_t registerCount = 0;
  std::uint16_t flags2 = 0;  // DefineFunction2 preload / suppress flags
  int version = 0;
  std::shared_ptr<const std::vector<std::string>> pool;  // the constant pool at definition
  Scope* scope = nullptr;                                // the scope chain the function closes over
  Object* baseClip = nullptr;                            // the timeline the function was defined on
};

// One level of a scope chain.
class Scope : public Object {
 public:
  enum class Kind : std::uint8_t { kGlobal, kTarget, kLocal, kWith };
  Scope(Heap& heap, Kind k, Object* o, Scope* up)
      : Object(heap, nullptr, ObjClass::kScope), kind(k), obj(o), parent(up) {}
  void Trace(Tracer& t) override;
  Kind kind;
  Object* obj;
  Scope* parent;
};

// Owns every object. Collection marks from the roots the runtime names and frees the rest; it runs
// only between scripts, when no native frame holds an object.
class Heap {
 public:
  explicit Heap(bool caseSensitive) : caseSensitive_(caseSensitive) {}
  ~Heap();
  Heap(const Heap&) = delete;
  Heap& operator=(const Heap&) = delete;

  template <class T, class... A>
  T* Make(A&&... a) {
    auto* o = new T(*this, std::forward<A>(a)...);
    objects_.push_back(o);
    ++allocatedSinceCollect_;
    return o;
  }
  bool CaseSensitive() const { return caseSensitive_; }
  std::size_t size() const { return objects_.size(); }
  std::size_t AllocatedSinceCollect() const { return allocatedSinceCollect_; }
  // Marks from `roots` (the tracer already holds them) and frees every unmarked object.
  std::size_t Collect(Tracer& roots);

 private:
  bool caseSensitive_;
  std::vector<Object*> objects_;
  std::size_t allocatedSinceCollect_ = 0;
};

}  // namespace dbx::swf::avm1
