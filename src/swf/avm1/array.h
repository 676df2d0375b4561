// Arrays keep their elements in a dense vector; `length` and indices are special properties.
#pragma once

#include <optional>
#include <vector>

#include "swf/avm1/object.h"

namespace dbx::swf::avm1 {

class ArrayObject : public Object {
 public:
  ArrayObject(Heap& heap, Object* proto) : Object(heap, proto, ObjClass::kArray) {}
  bool GetSpecial(Vm& vm, std::string_view name, Value& out) override;
  bool SetSpecial(Vm& vm, std::string_view name, const Value& v) override;
  bool HasSpecial(Vm& vm, std::string_view name) override;
  bool DeleteSpecial(Vm& vm, std::string_view name) override;
  void SpecialKeys(Vm& vm, std::vector<std::string>& keys) override;
  void Trace(Tracer& t) override;

  // "0", "1", ... as an index below `limit`; nothing for other names.
  static std::optional<std::size_t> Index(std::string_view name);

  std::vector<Value> items;
};

}  // namespace dbx::swf::avm1
