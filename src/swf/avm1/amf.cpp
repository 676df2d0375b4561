// AMF0, the encoding of values that NetConnection.call sends. An object goes as its enumerable
// properties, its own first (in the order they were made) and then those its prototypes add; a
// property whose value is a function is left out, and a property with a getter goes as undefined
// (the getter is not called). An object whose own `constructor` (else `__constructor__`) is a
// class registered with Object.registerClass goes as a typed object under the name it was last
// registered with. An object met again goes as a reference to the first.
#include "swf/avm1/amf.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "swf/avm1/array.h"
#include "swf/avm1/vm.h"

namespace dbx::swf::avm1 {
namespace {

constexpr int kMaxNesting = 64;

void U16(std::string& out, std::size_t v) {
  out.push_back(static_cast<char>((v >> 8) & 0xFF));
  out.push_back(static_cast<char>(v & 0xFF));
}

void U32(std::string& out, std::size_t v) {
  for (int shift = 24; shift >= 0; shift -= 8)
    out.push_back(static_cast<char>((v >> shift) & 0xFF));
}

void Double(std::string& out, double d) {
  const auto bits = std::bit_cast<std::uint64_t>(d);
  for (int shift = 56; shift >= 0; shift -= 8)
    out.push_back(static_cast<char>((bits >> shift) & 0xFF));
}

// A name or short text: its length in 16 bits, then its bytes (cut at 65535).
void ShortString(std::string& out, std::string_view s) {
  if (s.size() > 0xFFFF) s = s.substr(0, 0xFFFF);
  U16(out, s.size());
  out.append(s);
}

class Encoder {
 public:
  explicit Encoder(Vm& vm) : vm_(vm) {}

  void Write(std::string& out, const Value& v, int nesting) {
    switch (v.type) {
      case Type::kNumber:
        out.push_back(0x00);
        Double(out, v.n);
        return;
      case Type::kBoolean:
        out.push_back(0x01);
        out.push_back(v.b ? 1 : 0);
        return;
      case Type::kString:
        if (v.s.size() > 0xFFFF) {
          out.push_back(0x0C);
          U32(out, v.s.size());
          out.append(v.s);
        } else {
          out.push_back(0x02);
          ShortString(out, v.s);
        }
        return;
      case Type::kNull:
        out.push_back(0x05);
        return;
      case Type::kObject:
        WriteObject(out, v.o, nesting);
        return;
      default:
        out.push_back(0x06);  // undefined
        return;
    }
  }

 private:
  void WriteObject(std::string& out, Object* o, int nesting) {
    if (o->cls() == ObjClass::kFunction || nesting > kMaxNesting) {
      out.push_back(0x06);
      return;
    }
    for (std::size_t i = 0; i < seen_.size(); ++i) {
      if (seen_[i] != o) continue;
      out.push_back(0x07);
      U16(out, i);
      return;
    }
    if (o->cls() == ObjClass::kDate) {
      out.push_back(0x0B);
      Double(out, o->primitive.IsNumber() ? o->primitive.n : std::nan(""));
      U16(out, 0);
      return;
    }
    seen_.push_back(o);
    if (o->cls() == ObjClass::kArray) {
      // An array with other properties than its elements goes as an associative array of its
      // length and every property.
      bool named = false;
      for (const Property& p : o->props().items())
        named = named || (!(p.flags & prop::kDontEnum) && !ArrayObject::Index(p.name));
      if (!named) {
        const std::vector<Value> items = elements::All(vm_, o);
        out.push_back(0x0A);
        U32(out, items.size());
        for (const Value& item : items) Write(out, item, nesting + 1);
        return;
      }
      out.push_back(0x08);
      U32(out, elements::Length(vm_, o));
      WriteProperties(out, o, nesting);
      return;
    }
    const std::string alias = AliasOf(o);
    if (!alias.empty()) {
      out.push_back(0x10);
      ShortString(out, alias);
    } else {
      out.push_back(0x03);
    }
    WriteProperties(out, o, nesting);
  }

  void WriteProperties(std::string& out, Object* o, int nesting) {
    std::set<std::string> named;
    int hops = 0;
    for (Object* cur = o; cur && hops < 256; cur = cur->proto(), ++hops) {
      for (const Property& p : cur->props().items()) {
        if ((p.flags & prop::kDontEnum) || !named.insert(p.name).second) continue;
        if (p.getter) {
          ShortString(out, p.name);
          out.push_back(0x06);
          continue;
        }
        if (p.value.IsObject() && p.value.o->cls() == ObjClass::kFunction) continue;
        ShortString(out, p.name);
        Write(out, p.value, nesting + 1);
      }
    }
    U16(out, 0);
    out.push_back(0x09);
  }

  // The name the object's class was last registered with, if it is still registered under it.
  std::string AliasOf(Object* o) {
    const Property* p = o->props().Find("constructor");
    if (!p || p->getter) p = o->props().Find("__constructor__");
    if (!p || p->getter || !p->value.IsObject()) return {};
    return vm_.RegisteredName(p->value.o);
  }

  Vm& vm_;
  std::vector<Object*> seen_;
};

}  // namespace

std::string EncodeAmf0(Vm& vm, const Value& v) {
  std::string out;
  Encoder(vm).Write(out, v, 0);
  return out;
}

std::string RemotingMessage(Vm& vm, const RemotingCall& call) {
  std::string out;
  ShortString(out, call.method);
  ShortString(out, call.response);
  // The arguments as one array; an object met in one argument is a reference in the next.
  Encoder encoder(vm);
  std::string body;
  body.push_back(0x0A);
  U32(body, call.args.size());
  for (const Value& arg : call.args) encoder.Write(body, arg, 1);
  U32(out, body.size());
  return out + body;
}

std::string RemotingRequest(const std::vector<std::string>& messages) {
  std::string out;
  U16(out, 0);  // the encoding's version
  U16(out, 0);  // no headers
  U16(out, messages.size());
  for (const std::string& m : messages) out += m;
  return out;
}

}  // namespace dbx::swf::avm1
