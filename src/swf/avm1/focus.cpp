// The keyboard focus: the Selection object, what may take the focus, and the order the Tab key
// moves it in.
//
// Tab walks the objects that take the focus from the keyboard: buttons, input text fields and
// clips that answer the pointer or have `tabEnabled` set, visible, in tree order (a parent before
// its children, children by depth). When one of them has a `tabIndex`, only those with one take
// part, in the order of their index (as a 32-bit integer; equal indexes keep the tree order).
// Otherwise the order follows the top left corner of each object on the stage, row by row: Tab
// goes to the first object past the focused one, and objects on the same spot as another are
// reached only through the first of them.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "swf/avm1/builtins.h"
#include "swf/avm1/runtime.h"
#include "swf/text/text_field.h"

namespace dbx::swf::avm1 {

namespace {

// A script property that is a flag: undefined gives `fallback`.
bool Flag(Vm& vm, Object* o, const char* name, bool fallback) {
  if (!o) return fallback;
  const Value v = vm.Get(o, name);
  return v.IsUndefined() ? fallback : vm.ToBool(v);
}

// Where an object stands in the automatic order: its top left corner on the stage, in whole
// twips, compared row first.
struct Spot {
  double y = 0, x = 0;
  bool operator<(const Spot& o) const { return y != o.y ? y < o.y : x < o.x; }
  bool operator==(const Spot& o) const { return y == o.y && x == o.x; }
};

Spot SpotOf(const Clip& c) {
  const Matrix m = c.ConcatenatedMatrix();
  Box b = c.Bounds(nullptr);
  if (b.empty) b.Add(0, 0);
  const Box s = b.Transformed(m);
  return {std::round(s.ymin), std::round(s.xmin)};
}

struct TabStop {
  Clip* clip;
  std::int32_t index;
};

}  // namespace

bool Runtime::TakesFocus(Clip& clip) {
  if (clip.removed || clip.IsRoot()) return false;
  switch (clip.kind) {
    case ClipKind::kButton:
      return true;
    case ClipKind::kEditText:
      return clip.field != nullptr;
    case ClipKind::kMovie:
      return Flag(vm_, ScriptObjectOf(&clip), "focusEnabled", false) || IsMouseTarget(clip);
    default:
      return false;
  }
}

bool Runtime::TabStopOf(Clip& clip) {
  Object* o = ScriptObjectOf(&clip);
  switch (clip.kind) {
    case ClipKind::kButton:
      return Flag(vm_, o, "tabEnabled", true);
    case ClipKind::kEditText:
      return clip.field && clip.field->input && Flag(vm_, o, "tabEnabled", true);
    case ClipKind::kMovie:
      return Flag(vm_, o, "tabEnabled", IsMouseTarget(clip));
    default:
      return false;
  }
}

void Runtime::SetFocus(Clip* to) {
  if (to == focus) return;
  Clip* from = focus;
  focus = to;
  Object* oldObj = from ? ScriptObjectOf(from) : nullptr;
  Object* newObj = to ? ScriptObjectOf(to) : nullptr;
  // An object that is leaving the tree still answers to its name while it hears of it.
  struct KeepName {
    ClipObject* o;
    bool was;
    explicit KeepName(Object* obj)
        : o(obj ? static_cast<ClipObject*>(obj) : nullptr), was(o && o->unloading) {
      if (o) o->unloading = true;
    }
    ~KeepName() {
      if (o) o->unloading = was;
    }
  } keep(from && from->removed ? oldObj : nullptr);
  const Value oldV = oldObj ? Value(oldObj) : Value::Null();
  const Value newV = newObj ? Value(newObj) : Value::Null();
  if (oldObj) {
    vm_.CallMethod(oldV, "onKillFocus", {newV});
    vm_.DropUncaught();
  }
  if (newObj) {
    vm_.CallMethod(newV, "onSetFocus", {oldV});
    vm_.DropUncaught();
  }
  if (Object* sel = vm_.Get(vm_.global, "Selection").AsObject())
    avm1::Broadcast(vm_, sel, "onSetFocus", {oldV, newV});
}

void Runtime::FocusGone(Clip& clip) {
  for (const Clip* c = focus; c; c = c->parent)
    if (c == &clip) {
      SetFocus(nullptr);
      return;
    }
}

void Runtime::MoveFocus(bool backwards) {
  // The objects Tab can reach, in tree order.
  std::vector<TabStop> stops;
  bool custom = false;
  std::vector<Clip*> stack;
  for (Clip* level : stage_.Levels()) {
    if (!level->visible) continue;
    stack.push_back(level);
    while (!stack.empty()) {
      Clip* c = stack.back();
      stack.pop_back();
      if (c != level) {
        if (TabStopOf(*c)) {
          const Value index = vm_.Get(ScriptObjectOf(c), "tabIndex");
          const bool has = !index.IsUndefined();
          custom = custom || has;
          stops.push_back({c, has ? ToInt32(vm_.ToNumber(index)) : 0});
        }
        if (c->kind != ClipKind::kMovie || !Flag(vm_, ScriptObjectOf(c), "tabChildren", true))
          continue;
      }
      // Children go on the stack deepest first, so that the lowest depth comes off first.
      for (auto it = c->children().rbegin(); it != c->children().rend(); ++it)
        if (it->second->visible && !it->second->removed) stack.push_back(it->second.get());
    }
  }
  if (custom) {
    std::erase_if(stops, [&](const TabStop& s) {
      return vm_.Get(ScriptObjectOf(s.clip), "tabIndex").IsUndefined();
    });
    std::stable_sort(stops.begin(), stops.end(),
                     [](const TabStop& a, const TabStop& b) { return a.index < b.index; });
  }
  if (stops.empty()) return;
  const std::size_t n = stops.size();
  Clip* next = nullptr;
  if (custom) {
    std::size_t at = n;
    for (std::size_t i = 0; i < n; ++i)
      if (stops[i].clip == focus) at = i;
    if (at == n)
      next = stops[backwards ? n - 1 : 0].clip;
    else
      next = stops[backwards ? (at + n - 1) % n : (at + 1) % n].clip;
  } else {
    // The nearest spot past the focused one in the direction of travel; past the last one, the
    // first from the other end. Of objects on one spot the first in tree order wins.
    const bool from = focus && !focus->removed;
    const Spot here = from ? SpotOf(*focus) : Spot{};
    Clip* best = nullptr;
    Clip* wrap = nullptr;
    Spot bestSpot, wrapSpot;
    for (const TabStop& s : stops) {
      const Spot p = SpotOf(*s.clip);
      const bool past = from && (backwards ? p < here : here < p);
      const bool better = backwards ? bestSpot < p : p < bestSpot;
      if (past && (!best || better)) {
        best = s.clip;
        bestSpot = p;
      }
      const bool wrapBetter = backwards ? wrapSpot < p : p < wrapSpot;
      if (!wrap || wrapBetter) {
        wrap = s.clip;
        wrapSpot = p;
      }
    }
    next = best ? best : wrap;
  }
  // A button that Tab reaches is rolled over (before it hears of the focus), as if the pointer had
  // come over it.
  if (next && next != focus &&
      (next->kind == ClipKind::kButton ||
       (next->kind == ClipKind::kMovie && IsMouseTarget(*next)))) {
    stage_.HoverByKeyboard(*next);
    stage_.RunQueue();
  }
  SetFocus(next);
  focusRectShown = true;
  // A text field that Tab reaches has all its text selected (again, when it had the focus).
  if (next && next == focus && next->kind == ClipKind::kEditText && next->field)
    next->field->SetSelection(0, next->field->Length());
}

void Runtime::TypeCharacter(char32_t ch) {
  if (focus && focus->kind == ClipKind::kEditText) TypeIntoField(*this, *focus, ch);
}

const Clip* Runtime::FocusRectangle() const {
  // Buttons and clips show one, unless their _focusrect (or the player's) says no; a text
  // field shows its caret instead.
  if (!focusRectShown || !focus || focus->removed || focus->kind == ClipKind::kEditText)
    return nullptr;
  return OwnFocusRect(*focus).value_or(focusRect) ? focus : nullptr;
}

void Runtime::PasteText(std::u32string_view chars) {
  if (focus && focus->kind == ClipKind::kEditText) PasteIntoField(*this, *focus, chars);
}

void Runtime::MoveCaret(bool right) {
  text::TextField* f = focus && focus->kind == ClipKind::kEditText ? focus->field.get() : nullptr;
  if (!f) return;
  const std::size_t b = f->SelectionBegin(), e = f->SelectionEnd();
  std::size_t at = right ? e : b;
  if (b == e) at = right ? std::min(e + 1, f->Length()) : (b > 0 ? b - 1 : 0);
  f->SetSelection(at, at);
}

void Runtime::TabKey() {
  MoveFocus(std::find(keysDown.begin(), keysDown.end(), 16) != keysDown.end());
}

namespace {

Runtime* RuntimeOfVm(Vm& vm) {
  return vm.root ? RuntimeOf(static_cast<Object*>(vm.root)) : nullptr;
}

Value SelGetFocus(Vm& vm, CallArgs&) {
  Runtime* rt = RuntimeOfVm(vm);
  if (!rt || !rt->focus) return Value::Null();
  return Value(rt->focus->TargetPath());
}

Value SelSetFocus(Vm& vm, CallArgs& a) {
  Runtime* rt = RuntimeOfVm(vm);
  if (!rt) return Value(false);
  const Value& v = a[0];
  if (v.IsUndefined() || v.IsNull()) {
    rt->SetFocus(nullptr);
    return Value(true);
  }
  Object* o = nullptr;
  if (v.IsObject())
    o = v.o;
  else if (v.IsString() && vm.root)
    o = vm.ResolveTarget(vm.root, v.s);
  Clip* c = ClipOf(o);
  if (!c || !rt->TakesFocus(*c)) return Value(false);
  rt->SetFocus(c);
  return Value(true);
}

text::TextField* FocusedField(Vm& vm) {
  Runtime* rt = RuntimeOfVm(vm);
  if (!rt || !rt->focus || rt->focus->kind != ClipKind::kEditText) return nullptr;
  return rt->focus->field.get();
}

// getBeginIndex (0), getEndIndex (1), getCaretIndex (2): -1 without a focused field, or in one
// where nothing was ever selected.
Value SelIndex(Vm& vm, CallArgs& a) {
  text::TextField* f = FocusedField(vm);
  if (!f || !f->HasSelection()) return Value(-1);
  const int which = a.callee ? static_cast<Function*>(a.callee)->nativeData : 0;
  const std::size_t at = which == 0   ? f->SelectionBegin()
                         : which == 1 ? f->SelectionEnd()
                                      : f->Caret();
  return Value(static_cast<double>(at));
}

// setSelection(begin, end): the caret at `end` (the end of the text when it is missing); without
// arguments nothing changes.
Value SelSetSelection(Vm& vm, CallArgs& a) {
  text::TextField* f = FocusedField(vm);
  if (!f || a.size() == 0) return {};
  auto at = [&](std::size_t i) {
    const double n = vm.ToNumber(a[i]);
    return std::isfinite(n) && n > 0 ? static_cast<std::size_t>(std::min(n, 1e9)) : 0;
  };
  f->SetSelection(at(0), a.size() > 1 ? at(1) : f->Length());
  return {};
}

}  // namespace

void InstallSelection(Runtime& rt) {
  Vm& vm = rt.vm();
  Object* sel = vm.NewObject();
  vm.global->SetOwn("Selection", Value(sel), prop::kDontEnum);
  InitializeBroadcaster(vm, sel);
  vm.Method(sel, "getFocus", SelGetFocus);
  vm.Method(sel, "setFocus", SelSetFocus);
  vm.Method(sel, "getBeginIndex", SelIndex, 0);
  vm.Method(sel, "getEndIndex", SelIndex, 1);
  vm.Method(sel, "getCaretIndex", SelIndex, 2);
  vm.Method(sel, "setSelection", SelSetSelection);
}

}  // namespace dbx::swf::avm1
