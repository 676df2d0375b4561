// The classes of the player's surroundings that a screensaver has no use for but movies still
// touch: printing, text snapshots, local connections between movies, the host page's script
// bridge and file dialogs. They exist with their members as movies see them; what they would
// reach outside the movie is never there (no printer, no host page, no file dialog: a dialog is
// cancelled at once). Shared objects are kept in memory for the run: a movie finds again what it
// stored under a name, but nothing reaches the disk.
#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "swf/avm1/amf.h"
#include "swf/avm1/array.h"
#include "swf/avm1/builtins.h"
#include "swf/avm1/loader.h"
#include "swf/avm1/runtime.h"
#include "swf/text/faces.h"

namespace dbx::swf::avm1 {

namespace {

Value Nothing(Vm&, CallArgs&) {
  return {};
}

Value False(Vm&, CallArgs&) {
  return Value(false);
}

Value Zero(Vm&, CallArgs&) {
  return Value(0.0);
}

Value ReturnSelf(Vm&, CallArgs& a) {
  return a.self ? Value(a.self) : Value();
}

// ---- PrintJob: nothing prints; the page sizes read 0 -----------------------------------------

void InstallPrintJob(Vm& vm) {
  // Movies before version 7 see the class and its sizes but not its methods, and its prototype
  // does not inherit from Object there.
  Object* proto = vm.heap().Make<Object>(vm.version() >= 7 ? vm.objectProto : nullptr);
  MakeClass(vm, vm.global, "PrintJob", ReturnSelf, ReturnSelf, proto);
  for (const char* name : {"start", "addPage", "send"})
    vm.Method(proto, name, False)->SetOwn("length", Value(0.0), prop::kDontEnum);
  for (const char* name : {"start", "addPage", "send"})
    if (Property* p = proto->FindOwn(name)) p->flags |= prop::kVersion7;
  for (const char* name : {"paperHeight", "paperWidth", "pageHeight", "pageWidth", "orientation"})
    Getter(vm, proto, name, Zero);
}

// ---- TextSnapshot: the characters of the static texts on a clip's timeline, as the clip's
// getTextSnapshot() finds them when it is called. The screensaver selects no text, so the
// selection methods find nothing selected.

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

// ---- LocalConnection ----------------------------------------------------------------------

Value LocalConnectionDomain(Vm&, CallArgs&) {
  return Value("localhost");
}

// Connections of this player only: a name reaches the object connected to it in any movie the
// player runs, whatever its case.

// connect(name): false for a name that is not a non-empty string, for an object connected
// already and for a name taken.
Value LocalConnectionConnect(Vm& vm, CallArgs& a) {
  if (!a.self || a.size() == 0 || !a[0].IsString() || a[0].s.empty() || a[0].s.size() > 256)
    return Value(false);
  for (const auto& [name, receiver] : vm.connections)
    if (receiver == a.self) return Value(false);
  const std::string key = FoldCase(a[0].s);
  if (vm.connections.count(key) || vm.connections.size() >= 64) return Value(false);
  vm.connections.emplace(key, a.self);
  return Value(true);
}

Value LocalConnectionClose(Vm& vm, CallArgs& a) {
  std::erase_if(vm.connections, [&](const auto& entry) { return entry.second == a.self; });
  return {};
}

// send(name, method, args...): queued for the next frame. False for a name or method that is
// not a string, and for the connection's own methods.
Value LocalConnectionSend(Vm& vm, CallArgs& a) {
  if (!a.self || a.size() < 2 || !a[0].IsString() || !a[1].IsString() || a[0].s.empty() ||
      a[1].s.empty())
    return Value(false);
  static constexpr std::string_view kReserved[] = {
      "send", "connect", "close", "domain", "allowDomain", "allowInsecureDomain", "onStatus"};
  for (const std::string_view r : kReserved)
    if (a[1].s == r) return Value(false);
  if (vm.messages.size() >= 256) return Value(false);
  Vm::LocalMessage m{a.self, FoldCase(a[0].s), a[1].s, {}};
  for (std::size_t i = 2; i < a.size(); ++i) m.args.push_back(a[i]);
  vm.messages.push_back(std::move(m));
  return Value(true);
}

// What a value becomes on its way between connections, as the wire format carries it: display
// objects are lost, a function arrives as a plain object, dates, XML documents and arrays as
// new ones; objects met twice arrive as one.
class WireCopy {
 public:
  explicit WireCopy(Vm& vm) : vm_(vm) {}

  Value Copy(const Value& v, int depth = 0) {
    Object* o = v.AsObject();
    if (!o) return v;
    if (const auto seen = copies_.find(o); seen != copies_.end()) return Value(seen->second);
    if (depth > 64 || o->cls() == ObjClass::kClip || ClipOf(o)) return {};
    if (o->cls() == ObjClass::kDate) {
      Object* d = vm_.heap().Make<Object>(vm_.dateProto, ObjClass::kDate);
      d->primitive = o->primitive;
      return Value(d);
    }
    if (IsXml(o)) {
      const Value text = vm_.CallMethod(v, "toString", {});
      return vm_.Construct(vm_.Get(vm_.global, "XML"), {Value(vm_.ToString(text))});
    }
    if (o->cls() == ObjClass::kArray) {
      auto* array = static_cast<ArrayObject*>(vm_.NewArray());
      copies_.emplace(o, array);
      const std::size_t n = std::min(vm_.ArrayLength(o), vm_.limits().maxArray);
      std::vector<Value> items;
      for (std::size_t i = 0; i < n && !vm_.throwing() && !vm_.OutOfTime(); ++i)
        items.push_back(Copy(vm_.ArrayGet(o, i), depth + 1));
      array->Fill(items);
      return Value(static_cast<Object*>(array));
    }
    Object* copy = vm_.NewObject();
    copies_.emplace(o, copy);
    for (const std::string& key : vm_.Keys(o)) {
      if (vm_.throwing() || vm_.OutOfTime()) break;
      copy->SetOwn(key, Copy(vm_.Get(o, key), depth + 1));
    }
    return Value(copy);
  }

 private:
  bool IsXml(Object* o) const {
    int steps = 0;
    for (Object* p = o->proto(); p && steps < 64; p = p->proto(), ++steps)
      if (p == vm_.xmlProto) return true;
    return false;
  }

  Vm& vm_;
  std::map<Object*, Object*> copies_;
};

void InstallLocalConnection(Vm& vm) {
  Object* proto = vm.NewObject();
  MakeClass(vm, vm.global, "LocalConnection", ReturnSelf, ReturnSelf, proto);
  const std::pair<const char*, NativeFn> methods[] = {{"send", LocalConnectionSend},
                                                      {"close", LocalConnectionClose},
                                                      {"connect", LocalConnectionConnect},
                                                      {"domain", LocalConnectionDomain}};
  for (const auto& [name, fn] : methods) {
    vm.Method(proto, name, fn);
    proto->FindOwn(name)->flags |= prop::kDontDelete;
  }
}

// ---- flash.external.ExternalInterface: no host page ----------------------------------------

// The argument as a string, or null when it is missing or empty.
bool TextArg(Vm& vm, CallArgs& a, std::string& out) {
  if (a.size() == 0) return false;
  out = vm.ToString(a[0]);
  return !out.empty();
}

Value EscapeXml(Vm& vm, CallArgs& a) {
  std::string s;
  if (!TextArg(vm, a, s)) return Value::Null();
  return Value(EscapeXmlText(s));
}

Value UnescapeXml(Vm& vm, CallArgs& a) {
  std::string s;
  if (!TextArg(vm, a, s)) return Value::Null();
  static const std::pair<std::string_view, char> entities[] = {
      {"&lt;", '<'}, {"&gt;", '>'}, {"&amp;", '&'}, {"&quot;", '"'}, {"&apos;", '\''}};
  std::string r;
  for (std::size_t i = 0; i < s.size();) {
    bool replaced = false;
    for (const auto& [entity, c] : entities)
      if (std::string_view(s).substr(i, entity.size()) == entity) {
        r += c;
        i += entity.size();
        replaced = true;
        break;
      }
    if (!replaced) r += s[i++];
  }
  return Value(r);
}

// Quotes for a script string: only the double quote is escaped.
Value JsQuoteString(Vm& vm, CallArgs& a) {
  std::string s;
  if (!TextArg(vm, a, s)) return Value::Null();
  std::string r;
  for (char c : s) {
    if (c == '"') r += '\\';
    r += c;
  }
  return Value(r);
}

// The host page's value encoding: <string>, <number>, <true/>, <array> of <property id="i">, ...
std::string ToXml(Vm& vm, const Value& v, int depth);

std::string ArrayToXml(Vm& vm, const Value& v, int depth) {
  std::string r = "<array>";
  const double n = vm.ToNumber(vm.GetValue(v, "length"));
  for (double i = 0; i < n && i < 1e6 && !vm.throwing(); ++i) {
    const std::string id = vm.ToString(Value(i));
    r += "<property id=\"" + id + "\">" + ToXml(vm, vm.GetValue(v, id), depth + 1) + "</property>";
  }
  return r + "</array>";
}

// Arguments of a call: the first element (the function's name) is left out.
std::string ArgumentsToXml(Vm& vm, const Value& v, int depth) {
  std::string r = "<arguments>";
  const double n = vm.ToNumber(vm.GetValue(v, "length"));
  for (double i = 1; i < n && i < 1e6 && !vm.throwing(); ++i)
    r += ToXml(vm, vm.GetValue(v, vm.ToString(Value(i))), depth + 1);
  return r + "</arguments>";
}

std::string ObjectToXml(Vm& vm, const Value& v, int depth) {
  std::string r = "<object>";
  if (Object* o = v.AsObject())
    for (const std::string& key : vm.Keys(o))
      r += "<property id=\"" + key + "\">" + ToXml(vm, vm.Get(o, key), depth + 1) + "</property>";
  return r + "</object>";
}

std::string ToXml(Vm& vm, const Value& v, int depth) {
  // Objects that hold themselves end in a null rather than running on.
  if (depth > 64) return "<null/>";
  switch (v.type) {
    case Type::kString: {
      CallArgs a;
      a.args = {v};
      return "<string>" + vm.ToString(EscapeXml(vm, a)) + "</string>";
    }
    case Type::kUndefined:
      return "<undefined/>";
    case Type::kNumber:
      return "<number>" + vm.ToString(v) + "</number>";
    case Type::kNull:
      return "<null/>";
    case Type::kBoolean:
      return v.b ? "<true/>" : "<false/>";
    case Type::kObject:
      if (v.o->FindOwn("length") || v.o->HasSpecial(vm, "length")) return ArrayToXml(vm, v, depth);
      return ObjectToXml(vm, v, depth);
  }
  return "<null/>";
}

template <std::string (*Encode)(Vm&, const Value&, int)>
Value XmlOf(Vm& vm, CallArgs& a) {
  return Value(Encode(vm, a[0], 0));
}

// The encoding read back from an XML tree: each node by its name, its value from its first child
// as text, the elements of arrays and objects from its children.
Value ToAs(Vm& vm, const Value& node, int depth);

// Calls `each(child)` for the children of `node` (none for what has no children).
template <class F>
void EachChild(Vm& vm, const Value& node, F each) {
  const Value children = vm.GetValue(node, "childNodes");
  if (!children.IsObject()) return;
  const double n = vm.ToNumber(vm.GetValue(children, "length"));
  for (double i = 0; i < n && i < 1e6 && !vm.throwing(); ++i)
    each(vm.GetValue(children, vm.ToString(Value(i))));
}

// <array> and <object>: each <property id="..."> child holds one value.
Value PropertiesToAs(Vm& vm, const Value& node, int depth, Object* out) {
  if (depth <= 64)
    EachChild(vm, node, [&](const Value& child) {
      const std::string id = vm.ToString(vm.GetValue(vm.GetValue(child, "attributes"), "id"));
      vm.Set(out, id, ToAs(vm, vm.GetValue(child, "firstChild"), depth + 1));
    });
  return Value(out);
}

Value ArrayToAs(Vm& vm, const Value& node, int depth) {
  return PropertiesToAs(vm, node, depth, vm.NewArray());
}

Value ObjectToAs(Vm& vm, const Value& node, int depth) {
  return PropertiesToAs(vm, node, depth, vm.NewObject());
}

// <arguments>: each child is one value.
Value ArgumentsToAs(Vm& vm, const Value& node, int depth) {
  Object* out = vm.NewArray();
  std::vector<Value> items;
  if (depth <= 64)
    EachChild(vm, node, [&](const Value& child) { items.push_back(ToAs(vm, child, depth + 1)); });
  for (std::size_t i = 0; i < items.size(); ++i) vm.Set(out, std::to_string(i), items[i]);
  return Value(out);
}

Value ToAs(Vm& vm, const Value& node, int depth) {
  // The name counts when it is a string (or a String object), whatever else turns into one.
  const Value nameValue = vm.GetValue(node, "nodeName");
  std::string name;
  if (nameValue.IsString())
    name = nameValue.s;
  else if (nameValue.IsObject() && nameValue.o->cls() == ObjClass::kString)
    name = vm.ToString(nameValue.o->primitive);
  else
    return {};
  auto text = [&] { return vm.ToString(vm.GetValue(node, "firstChild")); };
  if (name == "string") return Value(text());
  if (name == "number") return Value(vm.ToNumber(Value(text())));
  if (name == "true" || name == "false") return Value(name == "true");
  if (name == "null") return Value::Null();
  if (name == "array") return ArrayToAs(vm, node, depth);
  if (name == "object") return ObjectToAs(vm, node, depth);
  return {};
}

template <Value (*Decode)(Vm&, const Value&, int)>
Value AsOf(Vm& vm, CallArgs& a) {
  return Decode(vm, a[0], 0);
}

void InstallExternalInterface(Vm& vm) {
  Object* pkg = vm.FlashPackage("external");
  Object* proto = vm.NewObject();
  Object* cls = MakeClass(vm, pkg, "ExternalInterface", Nothing, Nothing, proto);
  cls->SetOwn("available", Value(false), prop::kDontEnum | prop::kDontDelete);
  const std::pair<const char*, NativeFn> statics[] = {{"addCallback", False},
                                                      {"call", Nothing},
                                                      {"_escapeXML", EscapeXml},
                                                      {"_unescapeXML", UnescapeXml},
                                                      {"_jsQuoteString", JsQuoteString},
                                                      {"_toXML", XmlOf<ToXml>},
                                                      {"_arrayToXML", XmlOf<ArrayToXml>},
                                                      {"_argumentsToXML", XmlOf<ArgumentsToXml>},
                                                      {"_objectToXML", XmlOf<ObjectToXml>},
                                                      {"_toAS", AsOf<ToAs>},
                                                      {"_arrayToAS", AsOf<ArrayToAs>},
                                                      {"_argumentsToAS", AsOf<ArgumentsToAs>},
                                                      {"_objectToAS", AsOf<ObjectToAs>}};
  for (const auto& [name, fn] : statics) vm.Method(cls, name, fn);
}

// ---- flash.net.FileReference and FileReferenceList: no file dialog -------------------------

// browse() and download() open a dialog that the user cancels at once: they return true, and
// the listeners hear onCancel once the running script is done.
Value FileBrowse(Vm& vm, CallArgs& a) {
  if (!a.self) return Value(false);
  Vm::Timer t;
  // Ids below zero are never handed to scripts, so clearInterval cannot reach this one.
  t.id = -1;
  for (const Vm::Timer& other : vm.timers) t.id = std::min(t.id, other.id - 1);
  t.fn = Value(a.self);
  t.method = "broadcastMessage";
  t.args = {Value("onCancel"), Value(a.self)};
  t.once = true;
  t.due = -std::numeric_limits<double>::infinity();  // at the end of this frame
  vm.timers.push_back(std::move(t));
  return Value(true);
}

Value FileConstruct(Vm& vm, CallArgs& a) {
  if (a.self) InitializeBroadcaster(vm, a.self);
  return a.self ? Value(a.self) : Value();
}

// The constructor run as a function (super(...) from a class extending the class) gives nothing
// back: the class is a script's, not the player's.
Value FileCall(Vm& vm, CallArgs& a) {
  FileConstruct(vm, a);
  return {};
}

void InstallFileReference(Vm& vm) {
  Object* pkg = vm.FlashPackage("net");
  for (const char* cls : {"FileReference", "FileReferenceList"}) {
    Object* proto = vm.NewObject();
    MakeClass(vm, pkg, cls, FileCall, FileConstruct, proto);
    vm.Method(proto, "browse", FileBrowse);
    if (std::string_view(cls) == "FileReference") {
      vm.Method(proto, "download", FileBrowse);
      vm.Method(proto, "upload", False);
      vm.Method(proto, "cancel", Nothing);
    }
  }
}

// ---- SharedObject: kept in memory for the run ---------------------------------------------

constexpr std::string_view kSharedStore = "__sharedObjects";

// An estimate of the stored size: each value as the shared-object files encode it.
double EncodedSize(Vm& vm, const Value& v, int depth) {
  switch (v.type) {
    case Type::kNumber:
      return 9;
    case Type::kBoolean:
      return 2;
    case Type::kString:
      return 3 + static_cast<double>(v.s.size());
    case Type::kObject: {
      double size = 4;  // the type and the end marker
      if (depth > 64) return size;
      for (const std::string& key : vm.Keys(v.o))
        size += 2 + static_cast<double>(key.size()) + EncodedSize(vm, vm.Get(v.o, key), depth + 1);
      return size;
    }
    default:
      return 1;
  }
}

Value SharedGetLocal(Vm& vm, CallArgs& a) {
  const std::string name = vm.ToString(a[0]);
  // Names the original refuses (they would not make a file name).
  if (name.empty() || name.find_first_of("~%&\\;:\"',<>?# ") != std::string::npos)
    return Value::Null();
  const std::string path = a.size() > 1 && !a[1].IsNullish() ? vm.ToString(a[1]) : std::string();
  Object* cls = vm.Get(vm.global, "SharedObject").AsObject();
  if (!cls) return Value::Null();
  Property* store = cls->FindOwn(kSharedStore);
  if (!store || !store->value.AsObject()) return Value::Null();
  Object* objects = store->value.AsObject();
  const std::string key = path + "|" + name;
  if (Property* known = objects->FindOwn(key)) return known->value;
  Object* so = vm.NewObject();
  so->SetProto(vm.Get(cls, "prototype").AsObject());
  so->SetOwn("data", Value(vm.NewObject()), prop::kDontDelete);
  objects->SetOwn(key, Value(so));
  return Value(so);
}

Value SharedFlush(Vm&, CallArgs& a) {
  return Value(a.self != nullptr);
}

Value SharedClear(Vm& vm, CallArgs& a) {
  if (a.self) a.self->SetOwn("data", Value(vm.NewObject()), prop::kDontDelete);
  return {};
}

Value SharedGetSize(Vm& vm, CallArgs& a) {
  if (!a.self) return Value(0.0);
  const Value data = vm.Get(a.self, "data");
  return Value(data.AsObject() && vm.Keys(data.AsObject()).empty() ? 0.0
                                                                   : EncodedSize(vm, data, 0));
}

void InstallSharedObject(Vm& vm) {
  Object* proto = vm.NewObject();
  Object* cls = MakeClass(vm, vm.global, "SharedObject", Nothing, ReturnSelf, proto);
  cls->SetOwn(kSharedStore, Value(vm.NewObject()),
              prop::kDontEnum | prop::kDontDelete | prop::kReadOnly);
  vm.Method(cls, "getLocal", SharedGetLocal);
  vm.Method(cls, "getRemote", [](Vm&, CallArgs&) { return Value::Null(); });
  const std::pair<const char*, NativeFn> methods[] = {
      {"flush", SharedFlush}, {"clear", SharedClear}, {"getSize", SharedGetSize}, {"setFps", False},
      {"connect", False},     {"close", Nothing},     {"send", Nothing}};
  for (const auto& [name, fn] : methods) vm.Method(proto, name, fn);
}

// ---- Cameras, microphones, network streams and sockets: none of them connect ----------------

// A connection's state, kept on it: 1 connected to nothing (null), which serves files played
// straight from their address; 2 an address over HTTP (remoting, which goes nowhere here).
constexpr std::string_view kNetState = "__netState";

// Tells the connection's onStatus of a change, as the status object it gives.
void NetStatus(Vm& vm, Object* self, const char* code) {
  Object* info = vm.NewObject();
  info->SetOwn("level", Value(std::string("status")));
  info->SetOwn("code", Value(std::string(code)));
  vm.CallMethod(Value(self), "onStatus", {Value(info)});
}

// close(): an open connection says so; one over HTTP then calls onStatus once more, with nothing.
Value NetClose(Vm& vm, CallArgs& a) {
  if (!a.self) return {};
  const double state = vm.ToNumber(vm.Get(a.self, kNetState));
  if (state != 1 && state != 2) return {};
  a.self->SetOwn(kNetState, Value(0.0), prop::kDontEnum);
  a.self->SetOwn("isConnected", Value(false));
  NetStatus(vm, a.self, "NetConnection.Connect.Closed");
  if (state == 2) vm.CallMethod(Value(a.self), "onStatus", {});
  return {};
}

constexpr std::string_view kNetAddress = "__netAddress", kNetNumber = "__netNumber",
                           kNetCalls = "__netCalls";

// call(method, responder, args...): over HTTP, the calls of a frame go to the server as one
// request at the next frame. The screensaver sends nothing: the request is only written to the
// trace when requests are logged, and no answer comes.
Value NetCall(Vm& vm, CallArgs& a) {
  if (!a.self || vm.ToNumber(vm.Get(a.self, kNetState)) != 2 || !vm.logFetches) return {};
  const Property* made = a.self->FindOwn(kNetCalls);
  const double calls = (made && made->value.IsNumber() ? made->value.n : 0) + 1;
  a.self->SetOwn(kNetCalls, Value(calls), prop::kDontEnum);
  RemotingCall call;
  call.method = vm.ToString(a[0]);
  call.response = "/" + vm.ToString(Value(calls));
  for (std::size_t i = 2; i < a.size(); ++i) call.args.push_back(a[i]);
  const double number = vm.ToNumber(vm.Get(a.self, kNetNumber));
  auto it = std::find_if(vm.remoting.begin(), vm.remoting.end(),
                         [&](const Vm::RemotingRequest& r) { return r.connection == number; });
  if (it == vm.remoting.end()) {
    vm.remoting.push_back({number, vm.ToString(vm.Get(a.self, kNetAddress)), {}});
    it = vm.remoting.end() - 1;
  }
  it->messages.push_back(RemotingMessage(vm, call));
  return {};
}

// connect(address): an open connection closes first; null connects at once, an address over HTTP
// connects without telling.
Value NetConnect(Vm& vm, CallArgs& a) {
  if (!a.self) return Value(a[0].IsNull());
  NetClose(vm, a);
  if (a[0].IsNull()) {
    a.self->SetOwn(kNetState, Value(1.0), prop::kDontEnum);
    a.self->SetOwn("isConnected", Value(true));
    NetStatus(vm, a.self, "NetConnection.Connect.Success");
    return Value(true);
  }
  const std::string address = a[0].IsString() ? vm.ToString(a[0]) : std::string();
  if (address.starts_with("http://") || address.starts_with("https://")) {
    a.self->SetOwn(kNetState, Value(2.0), prop::kDontEnum);
    a.self->SetOwn(kNetAddress, Value(address), prop::kDontEnum);
    a.self->SetOwn(kNetNumber, Value(static_cast<double>(++vm.remotingConnections)),
                   prop::kDontEnum);
  }
  return Value(false);
}

// XMLSocket. A connection opens through the player's opener (the screensaver has none: connect
// answers false); the log, when navigation is logged, says where it connects (a movie's own
// host, for a file, is "localhost"). What the connection hears is told at the next frame.
std::shared_ptr<Vm::SocketLink> LinkOf(Vm& vm, Object* socket) {
  for (const auto& link : vm.sockets)
    if (link->socket == socket) return link;
  return nullptr;
}

void Unlink(Vm& vm, const std::shared_ptr<Vm::SocketLink>& link) {
  std::erase(vm.sockets, link);
}

Value SocketConnect(Vm& vm, CallArgs& a) {
  const std::string host = !a[0].IsNullish() ? vm.ToString(a[0]) : std::string("localhost");
  const double port = vm.ToNumber(a[1]);
  const int number = port >= 0 && port <= 65535 ? static_cast<int>(port) : 0;
  if (vm.logFetches && vm.traceSink) {
    vm.traceSink("Navigator::connect_socket");
    vm.traceSink("    Host: " + host + "; Port: " + std::to_string(number));
  }
  if (!vm.socketOpener || !a.self) return Value(false);
  // A socket holds one connection: an open one closes first.
  if (auto old = LinkOf(vm, a.self)) {
    if (old->peer) old->peer->Close();
    Unlink(vm, old);
  }
  auto link = std::make_shared<Vm::SocketLink>();
  link->socket = a.self;
  link->peer = vm.socketOpener(host, number);
  vm.sockets.push_back(std::move(link));
  return Value(true);
}

// send(data): the text of data, ended by a zero byte.
Value SocketSend(Vm& vm, CallArgs& a) {
  const auto link = LinkOf(vm, a.self);
  if (!link || !link->peer || !link->told) return {};
  std::string bytes = vm.ToString(a[0]);
  bytes.push_back('\0');
  link->peer->Send(bytes);
  return {};
}

// close(): the connection ends without onClose (which tells of the other end closing).
Value SocketClose(Vm& vm, CallArgs& a) {
  const auto link = LinkOf(vm, a.self);
  if (!link) return {};
  if (link->peer) link->peer->Close();
  Unlink(vm, link);
  return {};
}

// The default onData: the message read as XML, to onXML.
Value SocketOnData(Vm& vm, CallArgs& a) {
  if (!a.self) return {};
  const Value xml = vm.Construct(vm.Get(vm.global, "XML"), {a[0]});
  vm.CallMethod(Value(a.self), "onXML", {xml});
  return {};
}

// A new connection is not connected; the constructor says so on the object it runs on.
Value NetConnectionCall(Vm&, CallArgs& a) {
  if (a.self) a.self->SetOwn("isConnected", Value(false));
  return {};
}

Value NetConnectionConstruct(Vm& vm, CallArgs& a) {
  NetConnectionCall(vm, a);
  return a.self ? Value(a.self) : Value();
}

void InstallMediaClasses(Vm& vm) {
  const std::pair<const char*, std::vector<std::pair<const char*, NativeFn>>> classes[] = {
      {"Camera", {{"setMode", Nothing}, {"setQuality", Nothing}, {"setMotionLevel", Nothing}}},
      {"Microphone", {{"setRate", Nothing}, {"setGain", Nothing}, {"setSilenceLevel", Nothing}}},
      {"NetConnection", {{"connect", NetConnect}, {"close", NetClose}, {"call", NetCall}}},
      {"XMLSocket",
       {{"connect", SocketConnect},
        {"send", SocketSend},
        {"close", SocketClose},
        {"onData", SocketOnData}}},
  };
  for (const auto& [name, methods] : classes) {
    Object* proto = vm.NewObject();
    const bool connection = std::string_view(name) == "NetConnection";
    Object* ctor = connection ? MakeClass(vm, vm.global, name, NetConnectionCall,
                                          NetConnectionConstruct, proto)
                              : MakeClass(vm, vm.global, name, Nothing, ReturnSelf, proto);
    for (const auto& [method, fn] : methods) vm.Method(proto, method, fn);
    // No camera and no microphone: get() finds none.
    if (std::string_view(name) == "Camera" || std::string_view(name) == "Microphone")
      vm.Method(ctor, "get", [](Vm&, CallArgs&) { return Value::Null(); });
  }
  InstallNetStream(vm);
}

// ---- Context menus: kept as movies build them; the screensaver shows no menu ------------------

constexpr const char* kBuiltInItems[] = {"save", "zoom",   "quality",      "play",
                                         "loop", "rewind", "forward_back", "print"};

Value MenuConstruct(Vm& vm, CallArgs& a) {
  if (!a.self) return {};
  a.self->SetOwn("onSelect", a[0]);
  Object* items = vm.NewObject();
  // (Made last to first: for..in gives them first to last.)
  for (auto it = std::rbegin(kBuiltInItems); it != std::rend(kBuiltInItems); ++it)
    items->SetOwn(*it, Value(true));
  a.self->SetOwn("builtInItems", Value(items));
  a.self->SetOwn("customItems", Value(vm.NewArray()));
  return Value(a.self);
}

Value MenuHideBuiltInItems(Vm& vm, CallArgs& a) {
  Object* items = a.self ? vm.Get(a.self, "builtInItems").AsObject() : nullptr;
  if (items)
    for (const char* name : kBuiltInItems) vm.Set(items, name, Value(false));
  return {};
}

Value MenuCopy(Vm& vm, CallArgs& a) {
  if (!a.self) return {};
  Object* copy =
      vm.Construct(vm.Get(vm.global, "ContextMenu"), {vm.Get(a.self, "onSelect")}).AsObject();
  if (!copy) return {};
  Object* from = vm.Get(a.self, "builtInItems").AsObject();
  Object* to = vm.Get(copy, "builtInItems").AsObject();
  if (from && to)
    for (const char* name : kBuiltInItems) vm.Set(to, name, vm.Get(from, name));
  Object* custom = vm.Get(a.self, "customItems").AsObject();
  Object* copies = vm.Get(copy, "customItems").AsObject();
  if (custom && copies) {
    // (A script may have set any length: no more items than an array can hold, and no longer
    // than the frame's time for scripts.)
    const double length = vm.ToNumber(vm.Get(custom, "length"));
    const double n =
        std::isfinite(length) ? std::min(length, static_cast<double>(vm.limits().maxArray)) : 0;
    for (std::size_t i = 0; i < n && !vm.throwing(); ++i) {
      if ((i & 0x3FF) == 0 && vm.OutOfTime()) break;
      const Value item = vm.Get(custom, std::to_string(i));
      vm.CallMethod(copies, "push", {vm.CallMethod(item, "copy", {})});
    }
  }
  return Value(copy);
}

Value MenuItemConstruct(Vm&, CallArgs& a) {
  if (!a.self) return {};
  a.self->SetOwn("caption", a[0]);
  a.self->SetOwn("onSelect", a[1]);
  a.self->SetOwn("separatorBefore", a.size() > 2 ? a[2] : Value(false));
  a.self->SetOwn("enabled", a.size() > 3 ? a[3] : Value(true));
  a.self->SetOwn("visible", a.size() > 4 ? a[4] : Value(true));
  return Value(a.self);
}

Value MenuItemCopy(Vm& vm, CallArgs& a) {
  if (!a.self) return {};
  std::vector<Value> args;
  for (const char* name : {"caption", "onSelect", "separatorBefore", "enabled", "visible"})
    args.push_back(vm.Get(a.self, name));
  return vm.Construct(vm.Get(vm.global, "ContextMenuItem"), std::move(args));
}

void InstallContextMenu(Vm& vm) {
  Object* proto = vm.NewObject();
  MakeClass(vm, vm.global, "ContextMenu", MenuConstruct, MenuConstruct, proto);
  vm.Method(proto, "hideBuiltInItems", MenuHideBuiltInItems);
  vm.Method(proto, "copy", MenuCopy);
  Object* itemProto = vm.NewObject();
  MakeClass(vm, vm.global, "ContextMenuItem", MenuItemConstruct, MenuItemConstruct, itemProto);
  vm.Method(itemProto, "copy", MenuItemCopy);
}

// ---- Accessibility and flash.text.TextRenderer: settings with no effect here -----------------

void InstallSettingsObjects(Vm& vm) {
  Object* accessibility = vm.NewObject();
  vm.global->SetOwn("Accessibility", Value(accessibility), prop::kDontEnum);
  vm.Method(accessibility, "isActive", False);
  vm.Method(accessibility, "updateProperties", Nothing);
  vm.Method(accessibility, "sendEvent", Nothing);

  Object* renderer =
      MakeClass(vm, vm.FlashPackage("text"), "TextRenderer", Nothing, ReturnSelf, vm.NewObject());
  vm.Method(renderer, "setAdvancedAntialiasingTable", Nothing);
  renderer->SetOwn("maxLevel", Value(4.0));
  renderer->SetOwn("displayMode", Value("default"));
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
      {"getSelected", False},
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

void DeliverLocalMessages(Vm& vm) {
  std::vector<Vm::LocalMessage> messages;
  messages.swap(vm.messages);
  for (Vm::LocalMessage& m : messages) {
    if (vm.aborting()) return;
    // (The receiver's method may close connections: the entry is not used after the call.)
    const auto entry = vm.connections.find(m.name);
    Object* receiver = entry != vm.connections.end() ? entry->second : nullptr;
    if (receiver) {
      WireCopy wire(vm);
      std::vector<Value> args;
      for (const Value& v : m.args) args.push_back(wire.Copy(v));
      vm.DropUncaught();
      vm.CallMethod(Value(receiver), m.method, std::move(args));
      vm.DropUncaught();
    }
    Object* info = vm.NewObject();
    info->SetOwn("level", Value(std::string(receiver ? "status" : "error")));
    vm.CallMethod(Value(m.sender), "onStatus", {Value(info)});
    vm.DropUncaught();
  }
}

void SendRemotingRequests(Vm& vm) {
  std::vector<Vm::RemotingRequest> requests;
  requests.swap(vm.remoting);
  if (!vm.traceSink) return;
  for (const Vm::RemotingRequest& r : requests) {
    const std::string body = RemotingRequest(r.messages);
    std::string bytes = "[";
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (std::size_t i = 0; i < body.size(); ++i) {
      const auto b = static_cast<unsigned char>(body[i]);
      if (i > 0) bytes += ", ";
      bytes += kHex[b >> 4];
      bytes += kHex[b & 15];
    }
    bytes += "]";
    TracePost(vm, r.url, "application/x-amf", bytes);
  }
}

void DeliverSocketEvents(Vm& vm) {
  // (Handlers may connect and close: a link is used only while it is in the list.)
  const std::vector<std::shared_ptr<Vm::SocketLink>> links = vm.sockets;
  auto live = [&](const std::shared_ptr<Vm::SocketLink>& link) {
    return std::find(vm.sockets.begin(), vm.sockets.end(), link) != vm.sockets.end();
  };
  for (const auto& link : links) {
    if (vm.aborting()) return;
    if (!live(link)) continue;
    if (!link->told) {
      link->told = true;
      if (!link->peer) Unlink(vm, link);
      vm.CallMethod(Value(link->socket), "onConnect", {Value(link->peer != nullptr)});
      vm.DropUncaught();
      if (!live(link)) continue;
    }
    bool closed = false;
    link->pending += link->peer->Receive(closed);
    // Messages end with a zero byte; a part of one waits for the rest.
    for (std::size_t end; live(link) && (end = link->pending.find('\0')) != std::string::npos;) {
      std::string message = link->pending.substr(0, end);
      link->pending.erase(0, end + 1);
      vm.CallMethod(Value(link->socket), "onData", {Value(std::move(message))});
      vm.DropUncaught();
    }
    if (closed && live(link)) {
      Unlink(vm, link);
      vm.CallMethod(Value(link->socket), "onClose", {});
      vm.DropUncaught();
    }
  }
}

void InstallSystemObjects(Vm& vm) {
  InstallMediaClasses(vm);
  InstallContextMenu(vm);
  InstallSettingsObjects(vm);
  InstallPrintJob(vm);
  InstallLocalConnection(vm);
  InstallExternalInterface(vm);
  InstallFileReference(vm);
  InstallSharedObject(vm);
}

}  // namespace dbx::swf::avm1
