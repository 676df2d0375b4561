#include "swf/avm1/array.h"

#include <algorithm>
#include <cmath>

#include "swf/avm1/vm.h"

namespace dbx::swf::avm1 {

std::string IndexName(std::size_t i) {
  char buf[24];
  char* end = buf + sizeof buf;
  char* p = end;
  do {
    *--p = static_cast<char>('0' + i % 10);
    i /= 10;
  } while (i);
  return std::string(p, end);
}

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

void ArrayObject::SetLength(Vm& vm, double n) {
  if (std::isnan(n)) n = 0;
  n = std::trunc(n);
  if (n < length) {
    // Elements at or beyond the new length go.
    props().RemoveIf([n](const Property& p) {
      auto i = Index(p.name);
      return i && static_cast<double>(*i) >= n && !(p.flags & prop::kDontDelete);
    });
  }
  (void)vm;
  length = n;
}

void ArrayObject::Fill(const std::vector<Value>& items) {
  props().RemoveIf([](const Property& p) { return Index(p.name).has_value(); });
  for (std::size_t i = 0; i < items.size(); ++i) props().Add(IndexName(i)).value = items[i];
  length = static_cast<double>(items.size());
}

bool ArrayObject::GetSpecial(Vm&, std::string_view name, Value& out) {
  if (name == "length") {
    out = Value(length);
    return true;
  }
  return false;
}

bool ArrayObject::SetSpecial(Vm& vm, std::string_view name, const Value& v) {
  if (name == "length") {
    double n = vm.ToNumber(v);
    if (!(n >= 0)) n = 0;
    SetLength(vm, std::min(n, static_cast<double>(vm.limits().maxArray)));
    return true;
  }
  // An element stores as any property; one beyond the end raises the length.
  if (auto i = Index(name); i && *i < vm.limits().maxArray && static_cast<double>(*i) >= length)
    length = static_cast<double>(*i) + 1;
  return false;
}

bool ArrayObject::HasSpecial(Vm&, std::string_view name) {
  return name == "length";
}

namespace elements {

std::size_t Length(Vm& vm, Object* o) {
  if (!o) return 0;
  double n = o->cls() == ObjClass::kArray ? static_cast<ArrayObject*>(o)->length
                                          : vm.ToNumber(vm.Get(o, "length"));
  if (!(n > 0)) return 0;
  return static_cast<std::size_t>(std::min(n, static_cast<double>(vm.limits().maxArray)));
}

Value Raw(Object* o, std::size_t i) {
  if (!o) return {};
  const Property* p = o->FindOwn(IndexName(i));
  return p ? p->value : Value();
}

void Put(Vm& vm, Object* o, std::size_t i, const Value& v) {
  if (!o) return;
  std::string name = IndexName(i);
  if (Property* p = o->FindOwn(name)) {
    if (!(p->flags & prop::kReadOnly)) p->value = v;
  } else {
    o->props().Add(name).value = v;
  }
  if (o->cls() == ObjClass::kArray) {
    auto* a = static_cast<ArrayObject*>(o);
    if (static_cast<double>(i) >= a->length) a->length = static_cast<double>(i) + 1;
  }
  (void)vm;
}

void Delete(Vm&, Object* o, std::size_t i) {
  if (!o) return;
  std::string name = IndexName(i);
  if (Property* p = o->FindOwn(name); p && !(p->flags & prop::kDontDelete)) o->props().Remove(name);
}

void Replace(Vm& vm, Object* o, std::size_t i, const Value& v) {
  Delete(vm, o, i);
  Put(vm, o, i, v);
}

void SetLength(Vm& vm, Object* o, std::size_t n) {
  if (!o) return;
  if (o->cls() == ObjClass::kArray)
    static_cast<ArrayObject*>(o)->SetLength(vm, static_cast<double>(n));
  else
    vm.Set(o, "length", Value(static_cast<double>(n)));
}

std::vector<Value> All(Vm& vm, Object* o) {
  std::vector<Value> out;
  std::size_t n = Length(vm, o);
  out.reserve(std::min<std::size_t>(n, 1u << 16));
  for (std::size_t i = 0; i < n; ++i) out.push_back(Raw(o, i));
  return out;
}

void Store(Vm& vm, Object* o, const std::vector<std::pair<std::size_t, Value>>& places,
           const std::vector<std::size_t>& drop) {
  (void)vm;
  if (!o) return;
  // One pass over the properties instead of one per place, so that shifting or reversing a long
  // array costs as much as the array is long: the elements of the places and of `drop` that can
  // be deleted go, those that cannot keep their position in the order (and their value when
  // read-only), and the places are then stored in turn, each new one after the others.
  std::size_t limit = 0;
  for (const auto& [i, v] : places) limit = std::max(limit, i + 1);
  for (std::size_t i : drop) limit = std::max(limit, i + 1);
  std::vector<std::uint8_t> touched(limit, 0);
  for (const auto& [i, v] : places) touched[i] = 1;
  for (std::size_t i : drop) touched[i] = 1;
  o->props().RemoveIf([&](const Property& p) {
    const auto i = ArrayObject::Index(p.name);
    return i && *i < limit && touched[*i] && !(p.flags & prop::kDontDelete);
  });
  for (const auto& [i, v] : places) {
    const std::string name = IndexName(i);
    if (Property* p = o->FindOwn(name)) {
      if (!(p->flags & prop::kReadOnly)) p->value = v;
    } else {
      o->props().Add(name).value = v;
    }
  }
}

void Assign(Vm& vm, Object* o, const std::vector<Value>& items) {
  const std::size_t old = Length(vm, o);
  std::vector<std::pair<std::size_t, Value>> places;
  places.reserve(items.size());
  for (std::size_t i = 0; i < items.size(); ++i) places.emplace_back(i, items[i]);
  std::vector<std::size_t> drop;
  for (std::size_t i = items.size(); i < old; ++i) drop.push_back(i);
  Store(vm, o, places, drop);
  SetLength(vm, o, items.size());
}

}  // namespace elements

}  // namespace dbx::swf::avm1
