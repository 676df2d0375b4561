#include "swf/avm1/array.h"

#include "swf/avm1/vm.h"

namespace dbx::swf::avm1 {

std::optional<std::size_t> ArrayObject::Index(std::string_view name) {
  if (name.empty() || name.size() > 10) return std::nullopt;
  if (name.size() > 1 && name[0] == '0') return std::nullopt;
  std::size_t v = 0;
  for (char c : name) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + static_cast<std::size_t>(c - '0');
  }
  return v;
}

bool ArrayObject::GetSpecial(Vm& vm, std::string_view name, Value& out) {
  if (name == "length") {
    out = Value(static_cast<double>(items.size()));
    return true;
  }
  (void)vm;
  if (auto i = Index(name)) {
    if (*i < items.size()) {
      out = items[*i];
      return true;
    }
  }
  return false;
}

bool ArrayObject::SetSpecial(Vm& vm, std::string_view name, const Value& v) {
  if (name == "length") {
    double n = vm.ToNumber(v);
    if (!(n >= 0)) n = 0;
    if (n > static_cast<double>(vm.limits().maxArray)) {
      vm.Throw(vm.NewError("array too long"));
      return true;
    }
    items.resize(static_cast<std::size_t>(n));
    return true;
  }
  if (auto i = Index(name)) {
    if (*i >= vm.limits().maxArray) {
      vm.Throw(vm.NewError("array too long"));
      return true;
    }
    if (*i >= items.size()) items.resize(*i + 1);
    items[*i] = v;
    return true;
  }
  return false;
}

bool ArrayObject::HasSpecial(Vm&, std::string_view name) {
  if (name == "length") return true;
  auto i = Index(name);
  return i && *i < items.size();
}

bool ArrayObject::DeleteSpecial(Vm&, std::string_view name) {
  auto i = Index(name);
  if (i && *i < items.size()) {
    items[*i] = Value();
    return true;
  }
  return false;
}

void ArrayObject::SpecialKeys(Vm&, std::vector<std::string>& keys) {
  for (std::size_t i = 0; i < items.size(); ++i) keys.push_back(std::to_string(i));
}

void ArrayObject::Trace(Tracer& t) {
  Object::Trace(t);
  for (auto& v : items) t.Mark(v);
}

}  // namespace dbx::swf::avm1
