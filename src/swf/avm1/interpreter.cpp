// The action interpreter: one switch over the action codes of SWF 3 to 10.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "swf/avm1/array.h"
#include "swf/avm1/vm.h"

namespace dbx::swf::avm1 {

namespace {

// Reads an action's payload; every read stays within it.
struct Reader {
  const std::uint8_t* data;
  std::size_t pos, end;
  bool ok = true;
  std::uint8_t U8() {
    if (pos + 1 > end) return ok = false, 0;
    return data[pos++];
  }
  std::uint16_t U16() {
    if (pos + 2 > end) return ok = false, 0;
    std::uint16_t v = static_cast<std::uint16_t>(data[pos] | (data[pos + 1] << 8));
    pos += 2;
    return v;
  }
  std::uint32_t U32() {
    std::uint32_t lo = U16();
    std::uint32_t hi = U16();
    return lo | (hi << 16);
  }
  std::string Str() {
    std::size_t start = pos;
    while (pos < end && data[pos] != 0) ++pos;
    std::string s(reinterpret_cast<const char*>(data + start), pos - start);
    if (pos < end)
      ++pos;
    else
      ok = false;
    return s;
  }
};

// SWF 4 actions give booleans too; only their text differs before SWF 5 ("1" and "0").
Value Bool(bool b, int) {
  return Value(b);
}

// GetProperty / SetProperty: NaN and infinities name no property.
int PropertyIndexOf(double n) {
  return std::isfinite(n) ? ClampToInt(n) : -1;
}

}  // namespace

void Vm::RunScript(std::shared_ptr<const Code> code, Object* clip, int version) {
  if (!code || aborting_) return;
  Activation a;
  a.version = version > 0 ? version : version_;
  a.code = std::move(code);
  a.thisObj = clip;
  a.target = clip;
  a.baseClip = clip;
  a.regs.resize(4);
  Scope* g = heap_.Make<Scope>(Scope::Kind::kGlobal, global, nullptr);
  a.scope = heap_.Make<Scope>(Scope::Kind::kTarget, clip, g);
  std::size_t base = stack_.size();
  activations_.push_back(&a);
  Flow f = Execute(a, 0, a.code->bytes.size());
  activations_.pop_back();
  if (f == Flow::kThrow) DropUncaught();
  stack_.resize(base);
  throwing_ = false;
}

Flow Vm::Execute(Activation& act, std::size_t begin, std::size_t end) {
  const std::vector<std::uint8_t>& bytes = act.code->bytes;
  end = std::min(end, bytes.size());
  std::size_t pc = begin;
  const int v = act.version;
  // What the code calls (natives, getters, conversions) follows the code's own movie version too.
  struct VersionScope {
    int& version;
    int was;
    ~VersionScope() { version = was; }
  } versionScope{version_, version_};
  version_ = v;
  auto pop = [this]() -> Value {
    if (stack_.empty()) return {};
    Value x = std::move(stack_.back());
    stack_.pop_back();
    if (x.type == Type::kObject && x.o->cls() == ObjClass::kClip) {
      auto* c = static_cast<ClipObject*>(x.o);
      if (!c->Alive())
        if (ClipObject* now = c->Relocated(*this)) x.o = now;
    }
    return x;
  };
  auto push = [this](Value x) { stack_.push_back(std::move(x)); };
  auto popNum = [&]() { return ToNumber(pop()); };
  auto popStr = [&]() { return ToString(pop()); };
  // Both operands of a binary operator, converted left first.
  auto popNums = [&]() {
    Value right = pop(), left = pop();
    double l = ToNumber(left);
    return std::pair<double, double>(l, ToNumber(right));
  };
  // Skips `count` actions from `from` (WaitForFrame), never past the block.
  auto skipActions = [&](std::size_t from, int count) {
    std::size_t p = from;
    for (int k = 0; k < count && p < end; ++k) {
      if (bytes[p] == 0) break;
      p += bytes[p] >= 0x80 && p + 3 <= end
               ? 3 + static_cast<std::size_t>(bytes[p + 1] | (bytes[p + 2] << 8))
               : 1;
    }
    return std::min(p, end);
  };
  // Every frame of a movie is loaded before it plays, and a file has at most 16000 frames: the
  // player answers "loaded" for frame indices up to that.
  auto frameIsLoaded = [](ClipObject* c, std::int32_t index) {
    return index < std::max(16001, c->TotalFrames());
  };
  auto targetClip = [&]() -> ClipObject* {
    Object* t = LiveTarget(act);
    return t && t->cls() == ObjClass::kClip ? static_cast<ClipObject*>(t) : nullptr;
  };
  // A jump lands inside this block or leaves it for an enclosing one.
  auto jumpTo = [&](std::size_t to, std::size_t& pcRef) -> bool {
    if (to < begin || to > end) {
      act.jumpTarget = to;
      return false;
    }
    pcRef = to;
    return true;
  };

  while (pc < end) {
    if ((++ticks_ & 0x3FF) == 0 && OutOfTime()) return Flow::kAbort;
    if (aborting_) return Flow::kAbort;
    std::uint8_t op = bytes[pc];
    if (op == 0) return Flow::kNormal;
    std::size_t data = pc + 1, len = 0;
    if (op >= 0x80) {
      if (pc + 3 > end) return Flow::kNormal;
      len = static_cast<std::size_t>(bytes[pc + 1] | (bytes[pc + 2] << 8));
      data = pc + 3;
    }
    std::size_t next = data + len;
    if (next > end) return Flow::kNormal;
    Reader r{bytes.data(), data, next};

    switch (op) {
      // ---- timeline control ----
      case 0x04:  // NextFrame
        if (auto* c = targetClip()) c->GotoFrame(*this, c->CurrentFrame() + 1, false);
        break;
      case 0x05:  // PrevFrame
        if (auto* c = targetClip()) c->GotoFrame(*this, std::max(1, c->CurrentFrame() - 1), false);
        break;
      case 0x06:  // Play
        if (auto* c = targetClip()) c->Play();
        break;
      case 0x07:  // Stop
        if (auto* c = targetClip()) c->Stop();
        break;
      case 0x08:  // ToggleQuality
        break;
      case 0x09:  // StopSounds
        StopAllSounds(*this);
        break;
      case 0x81: {  // GotoFrame
        int frame = r.U16();
        if (auto* c = targetClip()) c->GotoFrame(*this, frame + 1, false);
        break;
      }
      case 0x8C: {  // GoToLabel
        std::string label = r.Str();
        if (auto* c = targetClip()) c->GotoLabel(*this, label, false);
        break;
      }
      case 0x9F: {  // GotoFrame2
        std::uint8_t flags = r.U8();
        int bias = (flags & 2) ? r.U16() : 0;
        Value f = pop();
        bool play = flags & 1;
        ClipObject* c = targetClip();
        std::string path;
        Value frameV = f;
        if (f.IsString()) {
          // "path:frame" or a label.
          std::size_t colon = f.s.rfind(':');
          if (colon != std::string::npos) {
            path = f.s.substr(0, colon);
            frameV = Value(f.s.substr(colon + 1));
            Object* t = ResolveTarget(LiveTarget(act), path, &act);
            c = t && t->cls() == ObjClass::kClip ? static_cast<ClipObject*>(t) : nullptr;
          }
        }
        if (!c) break;
        // The frame is read as text: digits alone are a frame number (taken modulo 2^32, as
        // the player's unsigned number), anything else a label; the scene bias is added to
        // both. Frame 0, a fraction, a sign or an unknown label go nowhere.
        const std::string text = frameV.IsString() ? frameV.s : ToString(frameV);
        std::uint64_t frame = 0;
        bool digits = !text.empty();
        for (char ch : text) {
          if (ch < '0' || ch > '9') {
            digits = false;
            break;
          }
          frame = (frame * 10 + static_cast<std::uint64_t>(ch - '0')) & 0xFFFFFFFFu;
        }
        if (!digits) {
          const int at = c->FrameOfLabel(text);
          if (at <= 0) break;
          frame = static_cast<std::uint64_t>(at);
        } else if (frame == 0) {
          break;
        }
        frame += static_cast<std::uint64_t>(bias);
        c->GotoFrame(*this,
                     static_cast<int>(std::min<std::uint64_t>(
                         frame, static_cast<std::uint64_t>(std::numeric_limits<int>::max()))),
                     play);
        break;
      }
      case 0x8A: {  // WaitForFrame: the whole movie is loaded, up to the most frames a file has
        int frame = r.U16();
        int skip = r.U8();
        if (auto* c = targetClip(); c && !frameIsLoaded(c, frame)) next = skipActions(next, skip);
        break;
      }
      case 0x8D: {  // WaitForFrame2: a frame number from 1 (wrapping as an int32) or a label
        int skip = r.U8();
        Value f = pop();
        ClipObject* c = targetClip();
        if (!c) break;
        std::string s = ToString(f);
        long long n = 0;
        const char* first = s.data() + (!s.empty() && s[0] == '+' ? 1 : 0);
        auto [last, ec] = std::from_chars(first, s.data() + s.size(), n);
        if (ec != std::errc() || last != s.data() + s.size() || first == last) break;  // a label
        auto index = static_cast<std::int32_t>(static_cast<std::uint32_t>(n) - 1u);
        if (!frameIsLoaded(c, index)) next = skipActions(next, skip);
        break;
      }
      case 0x8B: {  // SetTarget
        std::string path = r.Str();
        if (path.empty()) {
          act.target = act.baseClip;
        } else {
          Object* t = ResolveTarget(LiveTarget(act) ? act.target : act.baseClip, path, &act);
          act.target = t;
          if (!t) Unsupported("SetTarget to a missing clip");
        }
        break;
      }
      case 0x20: {  // SetTarget2
        Value t = pop();
        if (t.IsObject() && t.o->cls() == ObjClass::kClip) {
          // A clip is targeted by its path: the first clip of that name, or a newer one that
          // took the place of a removed clip.
          Object* byPath =
              ResolveTarget(act.baseClip, static_cast<ClipObject*>(t.o)->TargetPath(), &act);
          act.target = byPath ? byPath : t.o;
        } else {
          std::string path = ToString(t);
          act.target = path.empty()
                           ? act.baseClip
                           : ResolveTarget(LiveTarget(act) ? act.target : act.baseClip, path, &act);
        }
        break;
      }
      case 0x83: {  // GetURL: a level target loads a movie; the rest goes nowhere
        std::string url(r.Str());
        std::string target(r.Str());
        if (getUrl) getUrl(act, url, Value(target), 0);
        break;
      }
      case 0x9A: {  // GetURL2
        std::uint8_t flags = r.U8();
        Value target = pop();
        std::string url = ToString(pop());
        if (getUrl)
          getUrl(act, url, target, flags);
        else
          Unsupported("getURL");
        break;
      }
      case 0x9E: {  // Call
        Value f = pop();
        std::string s = ToString(f);
        ClipObject* c = targetClip();
        std::size_t colon = s.rfind(':');
        if (colon != std::string::npos) {
          Object* t = ResolveTarget(LiveTarget(act), s.substr(0, colon), &act);
          c = t && t->cls() == ObjClass::kClip ? static_cast<ClipObject*>(t) : nullptr;
          s = s.substr(colon + 1);
        }
        // A tellTarget to a missing clip leaves calls on the code's own timeline.
        if (!c && colon == std::string::npos && act.baseClip &&
            act.baseClip->cls() == ObjClass::kClip)
          c = static_cast<ClipObject*>(act.baseClip);
        if (!c) break;
        double n = StringToNumber(s, v);
        // Frame numbers wrap as 32-bit integers (4294967299 is frame 3).
        int frame = std::isnan(n) ? c->FrameOfLabel(s) : ToInt32(n);
        if (frame > 0) c->CallFrame(*this, frame);
        // A frame script whose own timeline was removed ends after calling another frame.
        if (!act.isFunction && act.baseClip && act.baseClip->cls() == ObjClass::kClip &&
            !static_cast<ClipObject*>(act.baseClip)->Alive())
          return Flow::kNormal;
        break;
      }
      case 0x22: {  // GetProperty
        int index = PropertyIndexOf(popNum());
        Value t = pop();
        Object* o = t.IsObject() ? t.o
                                 : ResolveTarget(LiveTarget(act) ? act.target : act.baseClip,
                                                 ToString(t), &act);
        if (o && o->cls() == ObjClass::kClip)
          push(static_cast<ClipObject*>(o)->GetIndexed(*this, index));
        else
          push(Value());
        break;
      }
      case 0x23: {  // SetProperty
        Value val = pop();
        int index = PropertyIndexOf(popNum());
        Value t = pop();
        Object* o = t.IsObject() ? t.o
                                 : ResolveTarget(LiveTarget(act) ? act.target : act.baseClip,
                                                 ToString(t), &act);
        if (o && o->cls() == ObjClass::kClip)
          static_cast<ClipObject*>(o)->SetIndexed(*this, index, val);
        break;
      }
      case 0x24: {  // CloneSprite: the depth is the file's (scripts' depth 0 is 16384)
        Value depthV = pop();
        Value nameV = pop();
        Value src = pop();
        double d = ToNumber(depthV);  // the depth converts first
        std::string name = ToString(nameV);
        if (d > 2130706428.0) break;  // beyond the deepest depth a clip can take
        int depth = std::isnan(d) ? 0 : static_cast<int>(std::max(d, -1073741824.0));
        Object* o = src.IsObject() ? src.o : ResolveTarget(LiveTarget(act), ToString(src), &act);
        if (o && o->cls() == ObjClass::kClip)
          static_cast<ClipObject*>(o)->Duplicate(*this, name, depth);
        break;
      }
      case 0x25: {  // RemoveSprite
        Value t = pop();
        Object* o = t.IsObject() ? t.o : ResolveTarget(LiveTarget(act), ToString(t), &act);
        if (o && o->cls() == ObjClass::kClip) static_cast<ClipObject*>(o)->RemoveSelf(*this);
        break;
      }
      case 0x27: {  // StartDrag
        Value t = pop();
        bool lock = ToBool(pop());
        bool constrain = ToBool(pop());
        double rect[4] = {0, 0, 0, 0};
        if (constrain) {
          rect[3] = popNum();
          rect[2] = popNum();
          rect[1] = popNum();
          rect[0] = popNum();
        }
        Object* o = t.IsObject() ? t.o : ResolveTarget(LiveTarget(act), ToString(t), &act);
        if (o && o->cls() == ObjClass::kClip)
          static_cast<ClipObject*>(o)->StartDrag(*this, lock, constrain ? rect : nullptr);
        break;
      }
      case 0x28:  // EndDrag
        break;
      case 0x45: {  // TargetPath
        Value t = pop();
        if (t.IsObject() && t.o->cls() == ObjClass::kClip)
          push(Value(static_cast<ClipObject*>(t.o)->TargetPath()));
        else
          push(Value());
        break;
      }

      // ---- SWF 4 arithmetic and strings ----
      case 0x0A: {  // Add
        auto [a, b] = popNums();
        push(Value(a + b));
        break;
      }
      case 0x0B: {
        auto [a, b] = popNums();
        push(Value(a - b));
        break;
      }
      case 0x0C: {
        auto [a, b] = popNums();
        push(Value(a * b));
        break;
      }
      case 0x0D: {  // Divide
        auto [a, b] = popNums();
        if (b == 0 && v < 5)
          push(Value("#ERROR#"));
        else
          push(Value(a / b));
        break;
      }
      case 0x0E: {  // Equals: the right operand converts first (its valueOf runs first)
        Value right = pop(), left = pop();
        double b = ToNumber(right), a = ToNumber(left);
        push(Bool(a == b, v));
        break;
      }
      case 0x0F: {  // Less
        auto [a, b] = popNums();
        push(Bool(a < b, v));
        break;
      }
      case 0x10: {  // And
        bool b = ToBool(pop()), a = ToBool(pop());
        push(Bool(a && b, v));
        break;
      }
      case 0x11: {  // Or
        bool b = ToBool(pop()), a = ToBool(pop());
        push(Bool(a || b, v));
        break;
      }
      case 0x12:  // Not
        push(Bool(!ToBool(pop()), v));
        break;
      case 0x13: {  // StringEquals
        std::string b = popStr(), a = popStr();
        push(Bool(a == b, v));
        break;
      }
      case 0x29: {  // StringLess
        std::string b = popStr(), a = popStr();
        push(Bool(a < b, v));
        break;
      }
      case 0x68: {  // StringGreater
        std::string b = popStr(), a = popStr();
        push(Bool(a > b, v));
        break;
      }
      case 0x14:  // StringLength
      case 0x31:  // MBStringLength
        push(Value(static_cast<double>(popStr().size())));
        break;
      case 0x21: {  // StringAdd
        std::string b = popStr(), a = popStr();
        if (a.size() + b.size() > limits_.maxString) {
          push(Value(a));
          break;
        }
        push(Value(JoinText(std::move(a), b)));
        break;
      }
      case 0x15:    // StringExtract
      case 0x35: {  // MBStringExtract
        double count = popNum(), index = popNum();
        std::string s = popStr();
        // Index from 1; out-of-range parts clamp.
        double start = std::isnan(index) ? 0 : std::max(0.0, index - 1);
        if (start >= static_cast<double>(s.size()) || !(count > 0)) {
          push(Value(std::string()));
          break;
        }
        auto st = static_cast<std::size_t>(start);
        std::size_t n =
            count >= static_cast<double>(s.size()) ? s.size() : static_cast<std::size_t>(count);
        push(Value(s.substr(st, n)));
        break;
      }
      case 0x18: {  // ToInteger
        push(Value(static_cast<double>(ToInt32(popNum()))));
        break;
      }
      case 0x32:    // CharToAscii
      case 0x36: {  // MBCharToAscii
        std::string s = popStr();
        if (s.empty())
          push(v >= 7 ? Value(std::numeric_limits<double>::quiet_NaN()) : Value(0.0));
        else
          push(Value(static_cast<double>(static_cast<unsigned char>(s[0]))));
        break;
      }
      case 0x33:    // AsciiToChar
      case 0x37: {  // MBAsciiToChar
        int c = ToInt32(popNum()) & 0xFF;
        push(c ? Value(std::string(1, static_cast<char>(c))) : Value(std::string()));
        break;
      }
      case 0x30: {  // RandomNumber
        int max = ToInt32(popNum());
        if (max <= 0) {
          push(Value(0.0));
          break;
        }
        push(Value(static_cast<double>(rng_() % static_cast<unsigned>(max))));
        break;
      }
      case 0x34:  // GetTime
        push(Value(clock ? std::floor(clock()) : 0.0));
        break;
      case 0x26: {  // Trace
        Value x = pop();
        std::string text = WellFormed(x.IsUndefined() ? "undefined" : ToString(x));
        // One line per line break (a lone \r breaks a line too).
        std::size_t at = 0;
        for (std::size_t i = 0; i <= text.size(); ++i) {
          if (i == text.size() || text[i] == '\n' || text[i] == '\r') {
            if (traceSink) traceSink(std::string_view(text).substr(at, i - at));
            at = i + 1;
          }
        }
        break;
      }

      // ---- stack and variables ----
      case 0x96: {  // Push
        while (r.pos < r.end && r.ok) {
          std::uint8_t type = r.U8();
          switch (type) {
            case 0:
              push(Value(r.Str()));
              break;
            case 1: {
              std::uint32_t bits = r.U32();
              float f;
              std::memcpy(&f, &bits, 4);
              push(Value(static_cast<double>(f)));
              break;
            }
            case 2:
              push(Value::Null());
              break;
            case 3:
              push(Value());
              break;
            case 4: {
              std::uint8_t reg = r.U8();
              push(reg < act.regs.size() ? act.regs[reg] : Value());
              break;
            }
            case 5:
              push(Bool(r.U8() != 0, v));
              break;
            case 6: {
              std::uint64_t hi = r.U32();
              std::uint64_t lo = r.U32();
              std::uint64_t bits = (hi << 32) | lo;
              double d;
              std::memcpy(&d, &bits, 8);
              push(Value(d));
              break;
            }
            case 7:
              push(Value(static_cast<double>(static_cast<std::int32_t>(r.U32()))));
              break;
            case 8:
            case 9: {
              std::size_t i = type == 8 ? r.U8() : r.U16();
              if (act.pool && i < act.pool->size())
                push(Value((*act.pool)[i]));
              else
                push(Value());
              break;
            }
            default:
              r.ok = false;
              break;
          }
        }
        break;
      }
      case 0x17:  // Pop
        pop();
        break;
      case 0x4C:  // PushDuplicate
        push(stack_.empty() ? Value() : stack_.back());
        break;
      case 0x4D: {  // StackSwap
        Value a = pop(), b = pop();
        push(a);
        push(b);
        break;
      }
      case 0x87: {  // StoreRegister
        std::uint8_t reg = r.U8();
        if (reg < act.regs.size()) act.regs[reg] = stack_.empty() ? Value() : stack_.back();
        break;
      }
      case 0x88: {  // ConstantPool
        auto pool = std::make_shared<std::vector<std::string>>();
        std::uint16_t count = r.U16();
        for (std::uint16_t i = 0; i < count && r.ok; ++i) pool->push_back(r.Str());
        act.pool = pool;
        break;
      }
      case 0x1C: {  // GetVariable
        std::string name = popStr();
        push(GetVariable(act, name));
        break;
      }
      case 0x1D: {  // SetVariable
        Value val = pop();
        std::string name = popStr();
        SetVariable(act, name, val);
        break;
      }
      case 0x3C:    // DefineLocal
      case 0x41: {  // DefineLocal2
        Value val = op == 0x3C ? pop() : Value();
        std::string name = popStr();
        // On a timeline, `var` with a path sets the variable where the path leads (nothing when
        // it leads nowhere); in a function the name stays a local's name as it is.
        if (!act.isFunction && name.find_first_of("/:.") != std::string::npos) {
          if (op == 0x3C || GetVariable(act, name).IsUndefined()) SetVariable(act, name, val);
          break;
        }
        Object* locals = nullptr;
        Object* withOwner = nullptr;  // a `with` object that has the name itself
        for (Scope* s = act.scope; s; s = s->parent) {
          if (s->kind == Scope::Kind::kLocal || s->kind == Scope::Kind::kTarget) {
            locals = s->kind == Scope::Kind::kTarget && LiveTarget(act) ? act.target : s->obj;
            break;
          }
          if (s->kind == Scope::Kind::kWith && !withOwner && s->obj &&
              (s->obj->FindOwn(name) || s->obj->HasSpecial(*this, name)))
            withOwner = s->obj;
        }
        if (withOwner) {
          if (op == 0x3C) Set(withOwner, name, val);
          break;
        }
        if (!locals) break;
        if (op == 0x41 && Has(locals, name)) break;
        if (act.isFunction)
          locals->SetOwn(name, val);
        else
          Set(locals, name, val);
        break;
      }
      case 0x3A: {  // Delete
        std::string name = popStr();
        Value o = pop();
        push(Value(o.IsObject() ? Delete(o.o, name) : false));
        break;
      }
      case 0x3B: {  // Delete2
        std::string name = popStr();
        bool done = false;
        for (Scope* s = act.scope; s; s = s->parent) {
          Object* o = s->kind == Scope::Kind::kTarget && LiveTarget(act) ? act.target : s->obj;
          if (o && Has(o, name)) {
            done = Delete(o, name);
            break;
          }
        }
        push(Value(done));
        break;
      }

      // ---- SWF 5 operators ----
      case 0x47: {  // Add2
        Value rb = pop(), ra = pop();
        // valueOf first; an object it gives back turns into text only beside a text and is
        // NaN otherwise.
        auto prim = [&](const Value& x) -> Value {
          if (!x.IsObject() || x.o->cls() == ObjClass::kDate) return ToPrimitive(x);
          Value f = Get(x.o, "valueOf");
          if (f.IsObject() && f.o->cls() == ObjClass::kFunction) return Call(f, x.o, {});
          return ToPrimitive(x);
        };
        Value a = prim(ra);
        Value b = prim(rb);
        if (throwing_) break;
        if (a.IsObject() && !b.IsString()) {
          push(Value(std::numeric_limits<double>::quiet_NaN()));
          break;
        }
        if (b.IsObject() && !a.IsString()) {
          push(Value(std::numeric_limits<double>::quiet_NaN()));
          break;
        }
        if (a.IsString() || b.IsString()) {
          std::string sa = ToString(a), sb = ToString(b);
          if (sa.size() + sb.size() > limits_.maxString) {
            push(Value(sa));
            break;
          }
          push(Value(JoinText(std::move(sa), sb)));
        } else {
          push(Value(ToNumber(a) + ToNumber(b)));
        }
        break;
      }
      case 0x48: {  // Less2
        Value b = pop(), a = pop();
        push(Less(a, b));
        break;
      }
      case 0x67: {  // Greater
        Value b = pop(), a = pop();
        push(Less(b, a));
        break;
      }
      case 0x49: {  // Equals2
        Value b = pop(), a = pop();
        push(Value(AbstractEquals(a, b)));
        break;
      }
      case 0x66: {  // StrictEquals
        Value b = pop(), a = pop();
        push(Value(StrictEquals(a, b)));
        break;
      }
      case 0x3F: {  // Modulo
        auto [a, b] = popNums();
        push(Value(std::fmod(a, b)));
        break;
      }
      case 0x4A:  // ToNumber
        push(Value(popNum()));
        break;
      case 0x4B:  // ToString
        push(Value(popStr()));
        break;
      case 0x44:  // TypeOf
        push(Value(TypeOf(pop())));
        break;
      case 0x50:  // Increment
        push(Value(popNum() + 1));
        break;
      case 0x51:  // Decrement
        push(Value(popNum() - 1));
        break;
      case 0x60:
      case 0x61:
      case 0x62:
      case 0x63:
      case 0x64:
      case 0x65: {
        auto [ad, bd] = popNums();
        std::int32_t a = ToInt32(ad), b = ToInt32(bd);
        double res = 0;
        switch (op) {
          case 0x60:
            res = a & b;
            break;
          case 0x61:
            res = a | b;
            break;
          case 0x62:
            res = a ^ b;
            break;
          case 0x63:
            res = static_cast<std::int32_t>(static_cast<std::uint32_t>(a) << (b & 31));
            break;
          case 0x64:
            res = a >> (b & 31);
            break;
          default:
            // Unsigned from SWF 9 on; before, the bits read back as a signed number.
            if (v >= 9)
              res = static_cast<double>(static_cast<std::uint32_t>(a) >> (b & 31));
            else
              res = static_cast<std::int32_t>(static_cast<std::uint32_t>(a) >> (b & 31));
            break;
        }
        push(Value(res));
        break;
      }

      // ---- objects ----
      case 0x4E: {  // GetMember
        Value name = pop();
        Value o = pop();
        push(GetValue(o, ToString(name)));
        break;
      }
      case 0x4F: {  // SetMember
        Value val = pop();
        Value name = pop();
        Value o = pop();
        if (!o.IsObject()) break;
        if (name.IsString() && name.s.empty()) break;  // no property has an empty name
        Set(o.o, ToString(name), val);
        break;
      }
      case 0x42: {  // InitArray
        double n = popNum();
        if (!(n >= 0 && n <= static_cast<double>(stack_.size()))) {
          push(Value());  // a count the stack cannot hold makes nothing
          break;
        }
        std::size_t count =
            n > 0 ? static_cast<std::size_t>(std::min(n, static_cast<double>(stack_.size()))) : 0;
        std::vector<Value> items;
        items.reserve(std::min<std::size_t>(count, stack_.size()));
        for (std::size_t i = 0; i < count; ++i) items.push_back(pop());
        push(Value(NewArray(std::move(items))));
        break;
      }
      case 0x43: {  // InitObject
        double n = popNum();
        std::size_t count =
            n > 0 ? static_cast<std::size_t>(std::min(n, static_cast<double>(stack_.size()))) : 0;
        Object* o = NewObject();
        std::vector<std::pair<std::string, Value>> pairs;
        for (std::size_t i = 0; i < count; ++i) {
          Value val = pop();
          std::string name = popStr();
          pairs.emplace_back(std::move(name), std::move(val));
        }
        for (auto& [name, val] : pairs) Set(o, name, val);
        push(Value(o));
        break;
      }
      case 0x3D: {  // CallFunction
        std::string name = popStr();
        double n = popNum();
        std::size_t count =
            n > 0 ? static_cast<std::size_t>(std::min(n, static_cast<double>(stack_.size()))) : 0;
        std::vector<Value> args;
        for (std::size_t i = 0; i < count; ++i) args.push_back(pop());
        Value f = GetVariable(act, name);
        Object* self = nullptr;
        // A function called by its name runs with `this` of the scope that holds it (the
        // timeline for timeline functions).
        // (A function held in a local variable runs with the activation's locals as `this`.)
        for (Scope* s = act.scope; s; s = s->parent) {
          Object* o = s->kind == Scope::Kind::kTarget && LiveTarget(act) ? act.target : s->obj;
          if (o && Has(o, name)) {
            self = s->kind == Scope::Kind::kGlobal ? nullptr : o;
            break;
          }
        }
        if (f.IsObject() && f.o->cls() == ObjClass::kSuper) {
          // super(...) called by name runs the parent constructor on this object.
          Object* superSelf = f.o->primitive.AsObject();
          Value ctor = SuperConstructor(f.o);
          Object* home = ctor.IsObject() ? Get(ctor.o, "prototype").AsObject() : nullptr;
          push(Call(ctor, superSelf, std::move(args), home));
          break;
        }
        if (!f.IsObject() || f.o->cls() != ObjClass::kFunction) {
          push(Value());
          break;
        }
        push(Call(f, self ? self : act.thisObj, std::move(args)));
        break;
      }
      case 0x52: {  // CallMethod
        Value nameV = pop();
        Value o = pop();
        double n = popNum();
        std::size_t count =
            n > 0 ? static_cast<std::size_t>(std::min(n, static_cast<double>(stack_.size()))) : 0;
        std::vector<Value> args;
        for (std::size_t i = 0; i < count; ++i) args.push_back(pop());
        std::string name = nameV.IsUndefined() ? std::string() : ToString(nameV);
        if (name.empty()) {
          // The object itself is the function; super(...) calls the parent constructor.
          if (o.IsObject() && o.o->cls() == ObjClass::kSuper) {
            Object* self = o.o->primitive.AsObject();
            Value ctor = SuperConstructor(o.o);
            Object* home = nullptr;
            if (ctor.IsObject()) home = Get(ctor.o, "prototype").AsObject();
            push(Call(ctor, self, std::move(args), home));
          } else {
            push(Call(o, nullptr, std::move(args)));  // `this` is undefined in the callee
          }
          break;
        }
        if (o.IsObject() && o.o->cls() == ObjClass::kSuper) {
          Object* owner = nullptr;
          Property* p = Lookup(o.o->proto(), name, &owner);
          Value f =
              p ? (p->getter ? Call(Value(p->getter), o.o->primitive.AsObject(), {}) : p->value)
                : Value();
          push(Call(f, o.o->primitive.AsObject(), std::move(args), owner));
          break;
        }
        if (o.IsNullish()) {
          push(Value());
          break;
        }
        Object* self = o.IsObject() ? o.o : ToObject(o);
        Object* owner = nullptr;
        Lookup(self, name, &owner);
        Value f = GetValue(o, name);
        if (!f.IsObject() || f.o->cls() != ObjClass::kFunction) {
          push(Value());
          break;
        }
        push(Call(f, self, std::move(args), owner));
        break;
      }
      case 0x40: {  // NewObject
        std::string name = popStr();
        double n = popNum();
        std::size_t count =
            n > 0 ? static_cast<std::size_t>(std::min(n, static_cast<double>(stack_.size()))) : 0;
        std::vector<Value> args;
        for (std::size_t i = 0; i < count; ++i) args.push_back(pop());
        Value ctor = GetVariable(act, name);
        push(Construct(ctor, std::move(args)));
        break;
      }
      case 0x53: {  // NewMethod
        Value nameV = pop();
        Value o = pop();
        double n = popNum();
        std::size_t count =
            n > 0 ? static_cast<std::size_t>(std::min(n, static_cast<double>(stack_.size()))) : 0;
        std::vector<Value> args;
        for (std::size_t i = 0; i < count; ++i) args.push_back(pop());
        std::string name = nameV.IsUndefined() ? std::string() : ToString(nameV);
        Value ctor = name.empty() ? o : GetValue(o, name);
        push(Construct(ctor, std::move(args)));
        break;
      }
      case 0x54: {  // InstanceOf
        Value ctor = pop();
        Value o = pop();
        const bool res = InstanceOfAction(o, ctor);
        if (throwing_ || aborting_) break;
        push(Value(res));
        break;
      }
      case 0x2B: {  // CastOp
        Value o = pop();
        Value ctor = pop();
        Value res = CastAction(o, ctor);
        if (throwing_ || aborting_) break;
        push(res);
        break;
      }
      case 0x2C: {  // ImplementsOp
        Value ctor = pop();
        double n = popNum();
        std::size_t count = n > 0 ? static_cast<std::size_t>(std::min(n, 1e4)) : 0;
        std::vector<Value> ifs;
        for (std::size_t i = 0; i < count; ++i) ifs.push_back(pop());
        if (!ctor.IsObject()) break;
        Object* proto = Get(ctor.o, "prototype").AsObject();
        if (proto) proto->interfaces = NewArray(std::move(ifs));
        break;
      }
      case 0x69: {  // Extends
        Value superC = pop();
        Value sub = pop();
        if (!sub.IsObject() || !superC.IsObject()) break;
        Object* superProto = Get(superC.o, "prototype").AsObject();
        Object* p = heap_.Make<Object>(superProto);
        p->SetOwn("__constructor__", superC, prop::kDontEnum);
        p->SetOwn("constructor", superC, prop::kDontEnum);
        Set(sub.o, "prototype", Value(p));
        break;
      }
      case 0x46:    // Enumerate
      case 0x55: {  // Enumerate2
        Value o = pop();
        Object* obj = nullptr;
        if (op == 0x46) {
          std::string name = ToString(o);
          obj = GetVariable(act, name).AsObject();
        } else {
          obj = o.AsObject();
        }
        push(Value::Null());
        if (obj) {
          std::vector<std::string> keys = Keys(obj);
          for (auto it = keys.rbegin(); it != keys.rend(); ++it) push(Value(*it));
        }
        break;
      }
      case 0x3E: {  // Return
        act.result = pop();
        return Flow::kReturn;
      }
      case 0x2A: {  // Throw
        Throw(pop());
        return Flow::kThrow;
      }

      // ---- control flow ----
      case 0x99: {  // Jump
        auto off = static_cast<std::int16_t>(r.U16());
        std::size_t to = static_cast<std::size_t>(static_cast<std::ptrdiff_t>(next) + off);
        if (static_cast<std::ptrdiff_t>(next) + off < 0) return Flow::kNormal;
        if (!jumpTo(to, pc)) return Flow::kJump;
        continue;
      }
      case 0x9D: {  // If
        auto off = static_cast<std::int16_t>(r.U16());
        if (ToBool(pop())) {
          if (static_cast<std::ptrdiff_t>(next) + off < 0) return Flow::kNormal;
          std::size_t to = static_cast<std::size_t>(static_cast<std::ptrdiff_t>(next) + off);
          if (!jumpTo(to, pc)) return Flow::kJump;
          continue;
        }
        break;
      }
      case 0x9B:    // DefineFunction
      case 0x8E: {  // DefineFunction2
        auto* f = heap_.Make<Function>(functionProto);
        f->name = r.Str();
        std::uint16_t count = r.U16();
        if (op == 0x8E) {
          f->isFunction2 = true;
          f->registerCount = r.U8();
          f->flags2 = r.U16();
          for (std::uint16_t i = 0; i < count && r.ok; ++i) {
            FunctionParam p;
            p.reg = r.U8();
            p.name = r.Str();
            f->params.push_back(std::move(p));
          }
        } else {
          for (std::uint16_t i = 0; i < count && r.ok; ++i)
            f->params.push_back(FunctionParam{r.Str(), 0});
        }
        std::size_t size = r.U16();
        if (!r.ok) return Flow::kNormal;
        f->code = act.code;
        f->begin = next;
        f->end = std::min(next + size, end);
        f->version = v;
        f->pool = act.pool;
        f->scope = act.scope;
        f->baseClip = act.baseClip;
        Object* proto = NewObject();
        proto->SetOwn("constructor", Value(static_cast<Object*>(f)), prop::kDontEnum);
        f->SetOwn("prototype", Value(proto), prop::kDontEnum | prop::kDontDelete);
        if (f->name.empty()) {
          push(Value(static_cast<Object*>(f)));
        } else if (!act.isFunction && f->name.find_first_of("/:.") != std::string::npos) {
          SetVariable(act, f->name, Value(static_cast<Object*>(f)));  // function /:f() {}
        } else {
          Object* locals = nullptr;
          for (Scope* s = act.scope; s; s = s->parent)
            if (s->kind == Scope::Kind::kLocal || s->kind == Scope::Kind::kTarget) {
              locals = s->kind == Scope::Kind::kTarget && LiveTarget(act) ? act.target : s->obj;
              break;
            }
          if (locals) Set(locals, f->name, Value(static_cast<Object*>(f)));
        }
        pc = f->end;
        continue;
      }
      case 0x94: {  // With
        std::size_t size = r.U16();
        Value o = pop();
        std::size_t blockEnd = std::min(next + size, end);
        Object* obj = o.IsObject() ? o.o : ToObject(o);
        if (!obj) {
          pc = blockEnd;
          continue;
        }
        if (activations_.size() + static_cast<std::size_t>(depth_) > 512) return Flow::kAbort;
        Scope* saved = act.scope;
        act.scope = heap_.Make<Scope>(Scope::Kind::kWith, obj, saved);
        ++depth_;
        Flow f = Execute(act, next, blockEnd);
        --depth_;
        act.scope = saved;
        if (f == Flow::kJump) {
          if (!jumpTo(act.jumpTarget, pc)) return Flow::kJump;
          continue;
        }
        if (f != Flow::kNormal) return f;
        pc = blockEnd;
        continue;
      }
      case 0x8F: {  // Try
        std::uint8_t flags = r.U8();
        std::size_t trySize = r.U16(), catchSize = r.U16(), finallySize = r.U16();
        bool catchInReg = flags & 4;
        std::string catchName;
        std::uint8_t catchReg = 0;
        if (catchInReg)
          catchReg = r.U8();
        else
          catchName = r.Str();
        std::size_t tryBegin = next, catchBegin = std::min(tryBegin + trySize, end);
        std::size_t finallyBegin = std::min(catchBegin + catchSize, end);
        std::size_t after = std::min(finallyBegin + finallySize, end);
        if (depth_ >= limits_.maxDepth) return Flow::kAbort;
        ++depth_;
        std::size_t stackAtTry = stack_.size();
        Flow f = Execute(act, tryBegin, catchBegin);
        if (f == Flow::kThrow && (flags & 1)) {
          // What the try block pushed is dropped; what it popped stays popped.
          if (stack_.size() > stackAtTry) stack_.resize(stackAtTry);
          Value ex = TakeException();
          if (catchInReg) {
            if (catchReg < act.regs.size()) act.regs[catchReg] = ex;
          } else {
            Object* locals = nullptr;
            for (Scope* s = act.scope; s; s = s->parent)
              if (s->kind == Scope::Kind::kLocal || s->kind == Scope::Kind::kTarget) {
                locals = s->kind == Scope::Kind::kTarget && LiveTarget(act) ? act.target : s->obj;
                break;
              }
            if (locals) Set(locals, catchName, ex);
          }
          f = Execute(act, catchBegin, finallyBegin);
        }
        if ((flags & 2) && f != Flow::kAbort) {
          bool wasThrowing = throwing_;
          Value pending = wasThrowing ? TakeException() : Value();
          Value savedResult = act.result;
          std::size_t savedJump = act.jumpTarget;
          Flow g = Execute(act, finallyBegin, after);
          if (g != Flow::kNormal) {
            f = g;
          } else {
            if (wasThrowing) Throw(pending);
            act.result = savedResult;
            act.jumpTarget = savedJump;
          }
        }
        --depth_;
        if (f == Flow::kJump) {
          if (!jumpTo(act.jumpTarget, pc)) return Flow::kJump;
          continue;
        }
        if (f != Flow::kNormal) return f;
        pc = after;
        continue;
      }
      default:
        Unsupported("action 0x" + std::string(1, "0123456789abcdef"[op >> 4]) +
                    std::string(1, "0123456789abcdef"[op & 15]));
        break;
    }
    if (throwing_) return Flow::kThrow;
    pc = next;
  }
  return Flow::kNormal;
}

}  // namespace dbx::swf::avm1
