// A small assembler for action byte code, for the interpreter's tests.
#pragma once

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "swf/avm1/object.h"

namespace dbx::swf::avm1::test {

struct Reg {
  std::uint8_t n;
};
struct Undef {};
struct Null {};
using Item = std::variant<std::string, const char*, double, int, bool, Reg, Undef, Null>;

class Asm {
 public:
  std::vector<std::uint8_t> bytes;

  Asm& Op(std::uint8_t code) {
    bytes.push_back(code);
    return *this;
  }
  Asm& Push(std::initializer_list<Item> items) {
    std::vector<std::uint8_t> p;
    for (const Item& it : items) {
      if (auto* s = std::get_if<std::string>(&it)) {
        p.push_back(0);
        p.insert(p.end(), s->begin(), s->end());
        p.push_back(0);
      } else if (auto* c = std::get_if<const char*>(&it)) {
        p.push_back(0);
        p.insert(p.end(), *c, *c + std::strlen(*c));
        p.push_back(0);
      } else if (auto* d = std::get_if<double>(&it)) {
        p.push_back(6);
        std::uint64_t bits;
        std::memcpy(&bits, d, 8);
        U32(p, static_cast<std::uint32_t>(bits >> 32));
        U32(p, static_cast<std::uint32_t>(bits));
      } else if (auto* i = std::get_if<int>(&it)) {
        p.push_back(7);
        U32(p, static_cast<std::uint32_t>(*i));
      } else if (auto* b = std::get_if<bool>(&it)) {
        p.push_back(5);
        p.push_back(*b ? 1 : 0);
      } else if (auto* r = std::get_if<Reg>(&it)) {
        p.push_back(4);
        p.push_back(r->n);
      } else if (std::holds_alternative<Undef>(it)) {
        p.push_back(3);
      } else {
        p.push_back(2);
      }
    }
    return Long(0x96, p);
  }
  Asm& Long(std::uint8_t code, const std::vector<std::uint8_t>& payload) {
    bytes.push_back(code);
    bytes.push_back(static_cast<std::uint8_t>(payload.size()));
    bytes.push_back(static_cast<std::uint8_t>(payload.size() >> 8));
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    return *this;
  }
  // Common sequences.
  Asm& Get(const std::string& name) { return Push({name}).Op(0x1C); }
  Asm& Set(const std::string& name, Item v) { return Push({name, v}).Op(0x1D); }
  Asm& Trace() { return Op(0x26); }
  Asm& StoreRegister(std::uint8_t r) { return Long(0x87, {r}); }
  // Jumps to a label defined before or after.
  Asm& Jump(const std::string& label) { return Branch(0x99, label); }
  Asm& If(const std::string& label) { return Branch(0x9D, label); }
  Asm& Label(const std::string& name) {
    labels_[name] = bytes.size();
    return *this;
  }
  // DefineFunction: the body is assembled by `body`.
  template <class F>
  Asm& Function(const std::string& name, std::vector<std::string> params, F body) {
    Asm b;
    body(b);
    b.Resolve();
    std::vector<std::uint8_t> p;
    Str(p, name);
    U16(p, static_cast<std::uint16_t>(params.size()));
    for (auto& s : params) Str(p, s);
    U16(p, static_cast<std::uint16_t>(b.bytes.size()));
    Long(0x9B, p);
    bytes.insert(bytes.end(), b.bytes.begin(), b.bytes.end());
    return *this;
  }
  // DefineFunction2 with registers for its parameters (0: a named local).
  template <class F>
  Asm& Function2(const std::string& name, std::uint8_t regs, std::uint16_t flags,
                 std::vector<std::pair<std::uint8_t, std::string>> params, F body) {
    Asm b;
    body(b);
    b.Resolve();
    std::vector<std::uint8_t> p;
    Str(p, name);
    U16(p, static_cast<std::uint16_t>(params.size()));
    p.push_back(regs);
    U16(p, flags);
    for (auto& [r, s] : params) {
      p.push_back(r);
      Str(p, s);
    }
    U16(p, static_cast<std::uint16_t>(b.bytes.size()));
    Long(0x8E, p);
    bytes.insert(bytes.end(), b.bytes.begin(), b.bytes.end());
    return *this;
  }
  // try { tryBody } catch (name) { catchBody } finally { finallyBody }
  template <class T, class C, class F>
  Asm& Try(const std::string& name, T tryBody, C catchBody, F finallyBody, bool hasCatch = true,
           bool hasFinally = true) {
    Asm t, c, f;
    tryBody(t);
    catchBody(c);
    finallyBody(f);
    t.Resolve();
    c.Resolve();
    f.Resolve();
    std::vector<std::uint8_t> p;
    p.push_back(static_cast<std::uint8_t>((hasCatch ? 1 : 0) | (hasFinally ? 2 : 0)));
    U16(p, static_cast<std::uint16_t>(t.bytes.size()));
    U16(p, static_cast<std::uint16_t>(c.bytes.size()));
    U16(p, static_cast<std::uint16_t>(f.bytes.size()));
    Str(p, name);
    Long(0x8F, p);
    for (Asm* a : {&t, &c, &f}) bytes.insert(bytes.end(), a->bytes.begin(), a->bytes.end());
    return *this;
  }
  template <class B>
  Asm& With(B body) {
    Asm b;
    body(b);
    b.Resolve();
    std::vector<std::uint8_t> p;
    U16(p, static_cast<std::uint16_t>(b.bytes.size()));
    Long(0x94, p);
    bytes.insert(bytes.end(), b.bytes.begin(), b.bytes.end());
    return *this;
  }
  Asm& Resolve() {
    for (auto& [at, label] : fixups_) {
      auto off = static_cast<std::int16_t>(static_cast<std::ptrdiff_t>(labels_.at(label)) -
                                           static_cast<std::ptrdiff_t>(at + 2));
      bytes[at] = static_cast<std::uint8_t>(off);
      bytes[at + 1] = static_cast<std::uint8_t>(static_cast<std::uint16_t>(off) >> 8);
    }
    fixups_.clear();
    return *this;
  }
  std::shared_ptr<const Code> Build() {
    Resolve();
    auto c = std::make_shared<Code>();
    c->bytes = bytes;
    c->bytes.push_back(0);
    return c;
  }

 private:
  static void U16(std::vector<std::uint8_t>& p, std::uint16_t v) {
    p.push_back(static_cast<std::uint8_t>(v));
    p.push_back(static_cast<std::uint8_t>(v >> 8));
  }
  static void U32(std::vector<std::uint8_t>& p, std::uint32_t v) {
    U16(p, static_cast<std::uint16_t>(v));
    U16(p, static_cast<std::uint16_t>(v >> 16));
  }
  static void Str(std::vector<std::uint8_t>& p, const std::string& s) {
    p.insert(p.end(), s.begin(), s.end());
    p.push_back(0);
  }
  Asm& Branch(std::uint8_t code, const std::string& label) {
    Long(code, {0, 0});
    fixups_.emplace_back(bytes.size() - 2, label);
    return *this;
  }
  std::map<std::string, std::size_t> labels_;
  std::vector<std::pair<std::size_t, std::string>> fixups_;
};

// A movie of one 1920 x 1080 frame whose only content is a frame script (after the tags of
// `before`, as code and body).
inline std::vector<std::uint8_t> MovieWithScript(
    const std::vector<std::uint8_t>& code, std::uint8_t version = 10,
    const std::vector<std::pair<std::uint16_t, std::vector<std::uint8_t>>>& before = {}) {
  std::vector<std::uint8_t> body;
  std::uint64_t bits = 0;
  int n = 0;
  auto put = [&](std::uint32_t v, int count) {
    for (int i = count - 1; i >= 0; --i) {
      bits = (bits << 1) | ((v >> i) & 1);
      if (++n == 8) {
        body.push_back(static_cast<std::uint8_t>(bits));
        bits = 0;
        n = 0;
      }
    }
  };
  put(17, 5);  // frame rectangle 0..38400 x 0..21600 twips, 17 bits per field
  for (std::uint32_t v : {0u, 38400u, 0u, 21600u}) put(v, 17);
  if (n) body.push_back(static_cast<std::uint8_t>(bits << (8 - n)));
  for (std::uint8_t b : {0, 30, 1, 0}) body.push_back(b);  // 30 frames per second, one frame
  auto tag = [&](std::uint16_t id, const std::vector<std::uint8_t>& data) {
    auto h = static_cast<std::uint16_t>((id << 6) | 0x3F);
    body.push_back(static_cast<std::uint8_t>(h));
    body.push_back(static_cast<std::uint8_t>(h >> 8));
    for (int i = 0; i < 4; ++i) body.push_back(static_cast<std::uint8_t>(data.size() >> (8 * i)));
    body.insert(body.end(), data.begin(), data.end());
  };
  tag(9, {0, 0, 40});  // SetBackgroundColor
  for (const auto& [id, data] : before) tag(id, data);
  tag(12, code);  // DoAction
  tag(1, {});     // ShowFrame
  tag(0, {});     // End
  std::vector<std::uint8_t> file(8 + body.size());
  file[0] = 'F';
  file[1] = 'W';
  file[2] = 'S';
  file[3] = version;
  for (int i = 0; i < 4; ++i) file[4 + i] = static_cast<std::uint8_t>(file.size() >> (8 * i));
  std::memcpy(file.data() + 8, body.data(), body.size());
  return file;
}

}  // namespace dbx::swf::avm1::test
