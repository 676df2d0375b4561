#include "swf/avm1/object.h"

#include <typeinfo>
#include <utility>

namespace dbx::swf::avm1 {

void Tracer::Mark(Object* o) {
  if (o && !o->marked) {
    o->marked = true;
    pending.push_back(o);
  }
}

Property* PropertyMap::Find(std::string_view name) {
  if (items_.size() < 8) {
    for (auto& p : items_)
      if (caseSensitive_ ? p.name == name : EqualsFolded(p.name, name)) return &p;
    return nullptr;
  }
  auto it = index_.find(Key(name));
  return it == index_.end() ? nullptr : &items_[it->second];
}

Property& PropertyMap::Add(std::string_view name) {
  items_.push_back(Property{std::string(name), {}, nullptr, nullptr, 0, false});
  if (items_.size() == 8) {
    for (std::uint32_t i = 0; i < items_.size(); ++i) index_[Key(items_[i].name)] = i;
  } else if (items_.size() > 8) {
    index_[Key(name)] = static_cast<std::uint32_t>(items_.size() - 1);
  }
  return items_.back();
}

bool PropertyMap::Remove(std::string_view name) {
  std::size_t i = items_.size();
  if (items_.size() >= 8) {
    auto it = index_.find(Key(name));
    if (it == index_.end()) return false;
    i = it->second;
    index_.erase(it);
  } else {
    for (std::size_t k = 0; k < items_.size(); ++k)
      if (caseSensitive_ ? items_[k].name == name : EqualsFolded(items_[k].name, name)) {
        i = k;
        break;
      }
    if (i == items_.size()) return false;
  }
  items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(i));
  // The positions after it move down by one; below 8 properties there is no index.
  if (items_.size() < 8) {
    index_.clear();
  } else {
    for (auto& [key, at] : index_)
      if (at > i) --at;
  }
  return true;
}

Object::Object(Heap& heap, Object* proto, ObjClass cls)
    : cls_(cls), proto_(proto), props_(heap.CaseSensitive()) {}

void Object::SetOwn(std::string_view name, Value v, std::uint16_t flags) {
  Property* p = props_.Find(name);
  if (!p) p = &props_.Add(name);
  p->value = std::move(v);
  p->flags = flags;
  p->getter = p->setter = nullptr;
}

bool Object::BecomeWrapper(ObjClass cls, Value v) {
  // (Only an object of this very type: a derived one answers for its own class.)
  if (cls_ != ObjClass::kObject || typeid(*this) != typeid(Object)) return false;
  cls_ = cls;
  primitive = std::move(v);
  return true;
}

void Object::Trace(Tracer& t) {
  t.Mark(proto_);
  for (auto& p : props_.items()) {
    t.Mark(p.value);
    t.Mark(p.getter);
    t.Mark(p.setter);
  }
  t.Mark(primitive);
  for (auto& w : watches) {
    t.Mark(w.callback);
    t.Mark(w.userData);
  }
  t.Mark(interfaces);
  if (native) native->Trace(t);
}

void Function::Trace(Tracer& t) {
  Object::Trace(t);
  t.Mark(scope);
  t.Mark(baseClip);
}

void Scope::Trace(Tracer& t) {
  Object::Trace(t);
  t.Mark(obj);
  t.Mark(parent);
}

Heap::~Heap() {
  for (Object* o : objects_) delete o;
}

std::size_t Heap::Collect(Tracer& roots) {
  while (!roots.pending.empty()) {
    Object* o = roots.pending.back();
    roots.pending.pop_back();
    o->Trace(roots);
  }
  std::size_t freed = 0;
  std::size_t keep = 0;
  for (Object* o : objects_) {
    if (o->marked) {
      o->marked = false;
      objects_[keep++] = o;
    } else {
      delete o;
      ++freed;
    }
  }
  objects_.resize(keep);
  allocatedSinceCollect_ = 0;
  return freed;
}

}  // namespace dbx::swf::avm1
