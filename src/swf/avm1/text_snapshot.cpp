// TextSnapshot: the characters of the static texts on a clip's timeline, as a clip's
// getTextSnapshot() finds them when it is called. The screensaver selects no text, so the
// selection methods find nothing selected.
#include <algorithm>
#include <cmath>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

#include "swf/avm1/builtins.h"
#include "swf/avm1/runtime.h"
#include "swf/text/faces.h"

namespace dbx::swf::avm1 {
namespace {

constexpr std::string_view kSnapshotText = "__snapshotText";

// The characters of the clip's static texts in depth order, glyph by glyph (a glyph whose font
// gives no character code has none).
std::u32string StaticCharacters(const Clip& clip) {
  std::u32string out;
  if (!clip.movie) return out;
  const Movie& movie = *clip.movie;
  for (const auto& [depth, child] : clip.children()) {
    if (child->kind != ClipKind::kText || child->removed) continue;
    const Movie& own = child->movie ? *child->movie : movie;
    const auto it = own.characters.find(child->character);
    const auto* text = it == own.characters.end() ? nullptr : std::get_if<StaticText>(&it->second);
    if (!text) continue;
    for (const TextRecord& record : text->records) {
      const auto fontIt = own.characters.find(record.font);
      const Font* font =
          fontIt == own.characters.end() ? nullptr : std::get_if<Font>(&fontIt->second);
      if (!font) continue;
      for (const TextRecordGlyph& glyph : record.glyphs)
        if (glyph.index < font->codes.size()) out.push_back(font->codes[glyph.index]);
    }
  }
  return out;
}

std::u32string TextOf(Vm& vm, Object* self) {
  return self ? text::DecodeUtf8(vm.ToString(vm.Get(self, kSnapshotText))) : std::u32string();
}

// A character index argument: whole, within 0 .. size.
std::size_t IndexArg(Vm& vm, const Value& v, std::size_t size) {
  const double d = vm.ToNumber(v);
  if (!(d > 0)) return 0;
  return std::min(size, static_cast<std::size_t>(std::min(d, 1e15)));
}

Value SnapshotCount(Vm& vm, CallArgs& a) {
  return Value(static_cast<double>(TextOf(vm, a.self).size()));
}

// getText(start, end): the characters from start up to end (a start past the end gives the
// last one; end is at least start + 1).
Value SnapshotText(Vm& vm, CallArgs& a) {
  const std::u32string chars = TextOf(vm, a.self);
  if (chars.empty()) return Value(std::string());
  std::size_t start = IndexArg(vm, a[0], chars.size() - 1);
  std::size_t end = a.size() > 1 ? IndexArg(vm, a[1], chars.size()) : start + 1;
  end = std::max(end, start + 1);
  return Value(text::EncodeUtf8(std::u32string_view(chars).substr(start, end - start)));
}

// findText(start, text, caseSensitive): where text first occurs from start, or -1.
Value SnapshotFind(Vm& vm, CallArgs& a) {
  std::u32string chars = TextOf(vm, a.self);
  std::u32string wanted = text::DecodeUtf8(vm.ToString(a[1]));
  const std::size_t start = IndexArg(vm, a[0], chars.size());
  if (!vm.ToBool(a[2])) {
    auto fold = [](std::u32string& s) {
      for (char32_t& c : s)
        if (c <= 0xFFFF) c = LowerUnit(static_cast<char16_t>(c));
    };
    fold(chars);
    fold(wanted);
  }
  const std::size_t at = chars.find(wanted, start);
  return Value(at == std::u32string::npos ? -1.0 : static_cast<double>(at));
}

Value Nothing(Vm&, CallArgs&) {
  return {};
}

Value ReturnSelf(Vm&, CallArgs& a) {
  return a.self ? Value(a.self) : Value();
}

}  // namespace

Value NewTextSnapshot(Vm& vm, const Clip& clip, Object* proto) {
  Object* o = vm.heap().Make<Object>(proto);
  o->SetOwn(kSnapshotText, Value(text::EncodeUtf8(StaticCharacters(clip))), prop::kDontEnum);
  return Value(o);
}

Object* InstallTextSnapshot(Vm& vm) {
  Object* proto = vm.NewObject();
  vm.pinned.push_back(proto);
  MakeClass(vm, vm.global, "TextSnapshot", ReturnSelf, ReturnSelf, proto);
  const std::pair<const char*, NativeFn> methods[] = {
      {"getCount", SnapshotCount},
      {"setSelected", Nothing},
      {"getSelected", [](Vm&, CallArgs&) { return Value(false); }},
      {"getText", SnapshotText},
      {"getSelectedText", [](Vm&, CallArgs&) { return Value(std::string()); }},
      {"hitTestTextNearPos", [](Vm&, CallArgs&) { return Value(-1.0); }},
      {"findText", SnapshotFind},
      {"setSelectColor", Nothing},
      {"getTextRunInfo", [](Vm& v, CallArgs&) { return Value(v.NewArray()); }},
  };

  // (Listed in the order the original enumerates them; movies before version 6 do not see them.)
  for (const auto& [name, fn] : methods) {
    Property& p = proto->props().Add(name);
    p.value = Value(static_cast<Object*>(vm.NewNative(fn)));
    p.flags = prop::kVersion6;
  }
  return proto;
}

}  // namespace dbx::swf::avm1
