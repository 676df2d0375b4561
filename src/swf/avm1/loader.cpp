// Files beside the movie: LoadVars, the variables loadVariables puts on a clip, XML.load. Only
// plain relative names inside the movie's folder are read; what a file holds is data from
// outside, decoded with bounds.
#include "swf/avm1/loader.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "core/utf8.h"
#include "swf/avm1/builtins.h"
#include "swf/avm1/vm.h"

namespace dbx::swf::avm1 {

namespace fs = std::filesystem;

std::optional<std::string> LocalPath(std::string_view folder, std::string_view url) {
  const std::size_t cut = url.find_first_of("?#");
  if (cut != std::string_view::npos) url = url.substr(0, cut);
  if (url.empty() || url.size() > 1024) return std::nullopt;
  if (url.front() == '/' || url.front() == '\\') return std::nullopt;
  if (url.find(':') != std::string_view::npos || url.find('\0') != std::string_view::npos)
    return std::nullopt;
  std::size_t i = 0;
  while (i <= url.size()) {
    std::size_t j = url.find_first_of("/\\", i);
    if (j == std::string_view::npos) j = url.size();
    if (url.substr(i, j - i) == "..") return std::nullopt;
    i = j + 1;
  }
  return std::string(folder) + std::string(url);
}

std::optional<std::string> ReadLocalFile(std::string_view folder, std::string_view url,
                                         std::size_t maxBytes) {
  const auto path = LocalPath(folder, url);
  if (!path) return std::nullopt;
  std::error_code ec;
  const fs::path base = fs::canonical(fs::path(folder.empty() ? "." : std::string(folder)), ec);
  if (ec) return std::nullopt;
  const fs::path file = fs::canonical(fs::path(*path), ec);
  if (ec) return std::nullopt;
  // Links are followed: what they lead to must still be inside the folder.
  auto b = base.begin();
  auto f = file.begin();
  for (; b != base.end(); ++b, ++f)
    if (f == file.end() || *b != *f) return std::nullopt;
  if (!fs::is_regular_file(file, ec) || ec) return std::nullopt;
  const auto size = fs::file_size(file, ec);
  if (ec || size > maxBytes) return std::nullopt;
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  std::string data(static_cast<std::size_t>(size), '\0');
  in.read(data.data(), static_cast<std::streamsize>(data.size()));
  data.resize(static_cast<std::size_t>(in.gcount()));
  return data;
}

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Movies before version 6 read text files in the Windows Western code page.
std::string FromWindows1252(std::string_view bytes) {
  static const char16_t kHigh[32] = {
      0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
      0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
  std::string out;
  out.reserve(bytes.size());
  for (const char ch : bytes) {
    const auto b = static_cast<unsigned char>(ch);
    AppendUtf8(out, b >= 0x80 && b < 0xA0 ? kHigh[b - 0x80] : static_cast<char32_t>(b));
  }
  return out;
}

// A file's text as the script sees it: without a UTF-8 byte order mark, and in the code page
// before version 6.
std::string FileText(Vm& vm, std::string_view data) {
  if (data.starts_with("\xEF\xBB\xBF")) return Utf8Leniently(data.substr(3));
  if (vm.version() < 6) return FromWindows1252(data);
  return Utf8Leniently(data);
}

}  // namespace

std::string Utf8Leniently(std::string_view bytes) {
  // What the lead byte's sequence adds beyond its bits, by the number of bytes that follow it.
  static constexpr std::uint32_t kOffset[4] = {0, 0x3080, 0xE2080, 0x3C82080};
  std::string out;
  out.reserve(bytes.size());
  std::size_t i = 0;
  while (i < bytes.size()) {
    const auto b = static_cast<unsigned char>(bytes[i++]);
    const int follow = b >= 0xF0 && b < 0xF8 ? 3 : b >= 0xE0 && b < 0xF0 ? 2 : b >= 0xC0 ? 1 : 0;
    if (b < 0xC0 || b >= 0xF8) {
      AppendUtf8(out, b);
      continue;
    }
    if (bytes.size() - i < static_cast<std::size_t>(follow)) break;
    std::uint32_t cp = b;
    for (int k = 0; k < follow; ++k) cp = (cp << 6) + static_cast<unsigned char>(bytes[i++]);
    cp -= kOffset[follow];
    if (cp > 0 && cp <= 0x10FFFF) AppendUtf8(out, cp);
  }
  return out;
}

std::string UrlDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '+') {
      out += ' ';
    } else if (c == '%' && i + 2 < text.size() + 0 && HexDigit(text[i + 1]) >= 0 &&
               HexDigit(text[i + 2]) >= 0) {
      out += static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
      i += 2;
    } else {
      out += c;
    }
  }
  return out;
}

std::string UrlEscape(std::string_view text) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

std::vector<std::pair<std::string, std::string>> DecodeVariables(std::string_view text) {
  std::vector<std::pair<std::string, std::string>> out;
  std::size_t i = 0;
  while (i < text.size()) {
    std::size_t j = text.find('&', i);
    if (j == std::string_view::npos) j = text.size();
    const std::string_view pair = text.substr(i, j - i);
    i = j + 1;
    const std::size_t eq = pair.find('=');
    std::string name = UrlDecode(pair.substr(0, eq));
    if (name.empty()) continue;
    out.emplace_back(std::move(name),
                     eq == std::string_view::npos ? std::string() : UrlDecode(pair.substr(eq + 1)));
  }
  return out;
}

void QueueFileLoad(Vm& vm, Object* target, std::string url, LoadKind kind, bool post) {
  if (!target || vm.fileLoads.size() >= 1024) return;
  vm.fileLoads.push_back(Vm::FileLoad{target, std::move(url), static_cast<int>(kind), post});
}

namespace {

// The enumerable variables of `o` as a form sends them (spaces as '+').
std::string FormBody(Vm& vm, Object* o) {
  auto escape = [](const std::string& text) {
    std::string e;
    for (const char c : text) e += c == ' ' ? std::string("+") : UrlEscape(std::string(1, c));
    return e;
  };
  std::string out;
  for (const std::string& name : vm.Keys(o)) {
    const std::string text = vm.ToString(vm.Get(o, name));
    if (vm.throwing()) break;
    if (!out.empty()) out += '&';
    out += escape(name) + "=" + escape(text);
    if (out.size() > vm.limits().maxString) break;
  }
  return out;
}

}  // namespace

void TracePost(Vm& vm, std::string_view url, std::string_view mimeType, std::string_view body) {
  if (!vm.traceSink) return;
  vm.traceSink("Navigator::fetch:");
  vm.traceSink("  URL: " + std::string(url));
  vm.traceSink("  Method: POST");
  vm.traceSink("  Mime-Type: " + std::string(mimeType));
  vm.traceSink("  Body: " + std::string(body));
}

void FinishFileLoads(Vm& vm, const std::function<void(Object*, ClipEvent)>& fireClipEvent) {
  std::vector<Vm::FileLoad> loads;
  loads.swap(vm.fileLoads);
  for (auto& load : loads) {
    if (vm.aborting()) return;
    // The request, as it would go: the variables the target has now.
    if (load.post && vm.logFetches && vm.traceSink) {
      const std::string body = FormBody(vm, load.target);
      vm.DropUncaught();
      TracePost(vm, load.url, "application/x-www-form-urlencoded", body);
    }
    std::optional<std::string> data;
    if (vm.localFiles) data = ReadLocalFile(vm.movieDir, load.url);
    if (data) *data = FileText(vm, *data);
    const double bytes = data ? static_cast<double>(data->size()) : 0;
    switch (static_cast<LoadKind>(load.kind)) {
      case LoadKind::kLoadVars:
      case LoadKind::kXml:
        if (data) {
          load.target->SetOwn("_bytesLoaded", Value(bytes), prop::kDontEnum);
          load.target->SetOwn("_bytesTotal", Value(bytes), prop::kDontEnum);
        }
        vm.CallMethod(Value(load.target), "onData", {data ? Value(*data) : Value()});
        break;
      case LoadKind::kStyleSheet: {
        bool parsed = false;
        if (data) parsed = vm.ToBool(vm.CallMethod(Value(load.target), "parse", {Value(*data)}));
        vm.DropUncaught();
        vm.CallMethod(Value(load.target), "onLoad", {Value(parsed)});
        break;
      }
      case LoadKind::kClipVariables:
        if (!data) break;
        if (load.target->cls() == ObjClass::kClip &&
            !static_cast<ClipObject*>(load.target)->Alive())
          break;
        for (auto& [name, value] : DecodeVariables(*data))
          vm.Set(load.target, name, Value(std::move(value)));
        if (fireClipEvent) fireClipEvent(load.target, ClipEvent::kData);
        break;
    }
    vm.DropUncaught();
  }
}

namespace {

Value LvConstruct(Vm&, CallArgs& a) {
  return Value(a.self);
}

Value LvLoad(Vm& vm, CallArgs& a, LoadKind kind) {
  if (!a.self || !a.size() || a[0].IsNullish()) return Value(false);
  a.self->SetOwn("loaded", Value(false));
  a.self->SetOwn("_bytesLoaded", Value(0), prop::kDontEnum);
  a.self->SetOwn("_bytesTotal", Value(), prop::kDontEnum);
  QueueFileLoad(vm, a.self, vm.ToString(a[0]), kind);
  return Value(true);
}

Value LoadVarsLoad(Vm& vm, CallArgs& a) {
  return LvLoad(vm, a, LoadKind::kLoadVars);
}

Value XmlLoad(Vm& vm, CallArgs& a) {
  return LvLoad(vm, a, LoadKind::kXml);
}

// sendAndLoad(url, target[, method]): nothing is sent anywhere; the target loads the file.
Value LvSendAndLoad(Vm& vm, CallArgs& a, LoadKind kind) {
  Object* target = a[1].AsObject();
  if (!a.self || a.size() < 2 || a[0].IsNullish() || !target) return Value(false);
  CallArgs load;
  load.self = target;
  load.args.push_back(a[0]);
  return LvLoad(vm, load, kind);
}

Value LoadVarsSendAndLoad(Vm& vm, CallArgs& a) {
  return LvSendAndLoad(vm, a, LoadKind::kLoadVars);
}

Value XmlSendAndLoad(Vm& vm, CallArgs& a) {
  return LvSendAndLoad(vm, a, LoadKind::kXml);
}

Value LvSend(Vm&, CallArgs& a) {
  return Value(a.self && a.size() > 0);
}

Value LvDecode(Vm& vm, CallArgs& a) {
  if (!a.self || !a.size()) return {};
  for (auto& [name, value] : DecodeVariables(vm.ToString(a[0])))
    vm.Set(a.self, name, Value(std::move(value)));
  return {};
}

Value LvToString(Vm& vm, CallArgs& a) {
  if (!a.self) return Value(std::string());
  std::string out;
  for (const std::string& name : vm.Keys(a.self)) {
    Value v = vm.Get(a.self, name);
    if (vm.throwing()) return {};
    std::string text = vm.ToString(v);
    if (vm.throwing()) return {};
    if (!out.empty()) out += '&';
    out += UrlEscape(name) + "=" + UrlEscape(text);
    if (out.size() > vm.limits().maxString) break;
  }
  return Value(out);
}

Value LvBytes(Vm& vm, CallArgs& a, const char* name) {
  if (!a.self) return {};
  Property* p = a.self->FindOwn(name);
  (void)vm;
  return p ? p->value : Value();
}

Value LvBytesLoaded(Vm& vm, CallArgs& a) {
  return LvBytes(vm, a, "_bytesLoaded");
}

Value LvBytesTotal(Vm& vm, CallArgs& a) {
  return LvBytes(vm, a, "_bytesTotal");
}

// The default onData: the text's variables (or the XML document), then onLoad(success).
Value LvOnData(Vm& vm, CallArgs& a, bool xml) {
  if (!a.self) return {};
  if (a[0].IsUndefined()) {
    vm.CallMethod(Value(a.self), "onLoad", {Value(false)});
    return {};
  }
  if (xml) {
    vm.CallMethod(Value(a.self), "parseXML", {a[0]});
  } else {
    CallArgs d;
    d.self = a.self;
    d.args.push_back(a[0]);
    LvDecode(vm, d);
  }
  a.self->SetOwn("loaded", Value(true));
  vm.CallMethod(Value(a.self), "onLoad", {Value(true)});
  return {};
}

Value LoadVarsOnData(Vm& vm, CallArgs& a) {
  return LvOnData(vm, a, false);
}

Value XmlOnData(Vm& vm, CallArgs& a) {
  return LvOnData(vm, a, true);
}

Value Noop(Vm&, CallArgs&) {
  return {};
}

}  // namespace

void InstallLoadVars(Vm& vm) {
  Object* proto = vm.NewObject();
  vm.pinned.push_back(proto);
  MakeClass(vm, vm.global, "LoadVars", LvConstruct, LvConstruct, proto);
  vm.Method(proto, "load", LoadVarsLoad);
  vm.Method(proto, "sendAndLoad", LoadVarsSendAndLoad);
  vm.Method(proto, "send", LvSend);
  vm.Method(proto, "decode", LvDecode);
  vm.Method(proto, "toString", LvToString);
  vm.Method(proto, "getBytesLoaded", LvBytesLoaded);
  vm.Method(proto, "getBytesTotal", LvBytesTotal);
  vm.Method(proto, "onData", LoadVarsOnData);
  vm.Method(proto, "onLoad", Noop);
  vm.Method(proto, "addRequestHeader", Noop);
  proto->SetOwn("contentType", Value("application/x-www-form-urlencoded"), prop::kDontEnum);

  if (Object* xml = vm.xmlProto) {
    vm.Method(xml, "load", XmlLoad);
    vm.Method(xml, "sendAndLoad", XmlSendAndLoad);
    vm.Method(xml, "send", LvSend);
    vm.Method(xml, "getBytesLoaded", LvBytesLoaded);
    vm.Method(xml, "getBytesTotal", LvBytesTotal);
    vm.Method(xml, "onData", XmlOnData);
    vm.Method(xml, "onLoad", Noop);
    vm.Method(xml, "addRequestHeader", Noop);
  }
}

}  // namespace dbx::swf::avm1
