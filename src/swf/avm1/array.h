// Arrays are objects whose elements are ordinary properties named "0", "1", ... (so they keep
// the order they were made in, their flags and their gaps) beside a `length` that storing an
// element beyond it raises. The array methods read and write the stored values directly, without
// getters or prototypes, as the player does.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "swf/avm1/object.h"

namespace dbx::swf::avm1 {

class ArrayObject : public Object {
 public:
  ArrayObject(Heap& heap, Object* proto) : Object(heap, proto, ObjClass::kArray) {}
  bool GetSpecial(Vm& vm, std::string_view name, Value& out) override;
  bool SetSpecial(Vm& vm, std::string_view name, const Value& v) override;
  bool HasSpecial(Vm& vm, std::string_view name) override;

  // "0", "1", ... as an index; nothing for other names ("01", "-1", "x").
  static std::optional<std::size_t> Index(std::string_view name);
  // Shortens the array (elements from `n` on are deleted) or lengthens it.
  void SetLength(Vm& vm, double n);
  // Makes the elements exactly `items` (other properties stay).
  void Fill(const std::vector<Value>& items);

  double length = 0;  // may be negative: new Array(-1)
};

// The name of element `i`.
std::string IndexName(std::size_t i);

// Element access as the array methods do it, for arrays and for other objects used as arrays.
namespace elements {
// The length: an array's own, another object's `length` property.
std::size_t Length(Vm& vm, Object* o);
// The stored value of element `i` (undefined when there is none).
Value Raw(Object* o, std::size_t i);
// Deletes element `i` (unless it cannot be deleted) and stores `v` as a new element; a
// read-only element that stays keeps its value.
void Replace(Vm& vm, Object* o, std::size_t i, const Value& v);
// Stores `v` as element `i` in place (read-only elements keep their value).
void Put(Vm& vm, Object* o, std::size_t i, const Value& v);
void Delete(Vm& vm, Object* o, std::size_t i);
void SetLength(Vm& vm, Object* o, std::size_t n);
// Elements 0 .. length-1 (at most the array limit).
std::vector<Value> All(Vm& vm, Object* o);
// Does what Replace(place, value) for each of `places` in turn and then Delete of each of `drop`
// would do (the values were read before), in one pass over the properties. Every place is named
// once.
void Store(Vm& vm, Object* o, const std::vector<std::pair<std::size_t, Value>>& places,
           const std::vector<std::size_t>& drop = {});
// Makes the elements exactly `items`, each stored anew.
void Assign(Vm& vm, Object* o, const std::vector<Value>& items);
}  // namespace elements

}  // namespace dbx::swf::avm1
