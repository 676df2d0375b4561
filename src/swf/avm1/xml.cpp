// XML and XMLNode: a document tree that scripts build, walk and print, parsed from text with the
// player's rules (entities, CDATA, ignoreWhite, declarations kept as text, status codes).
#include <string>
#include <string_view>
#include <vector>

#include "core/utf8.h"
#include "swf/avm1/array.h"
#include "swf/avm1/builtins.h"
#include "swf/avm1/vm.h"

namespace dbx::swf::avm1 {

namespace {

constexpr int kElement = 1;
constexpr int kText = 3;

class XmlNode : public Object {
 public:
  XmlNode(Heap& heap, Object* proto) : Object(heap, proto, ObjClass::kOther) {}

  int type = kElement;
  Value name = Value::Null();   // elements: the tag; the document: null
  Value value = Value::Null();  // text nodes: the text
  XmlNode* parent = nullptr;
  std::vector<XmlNode*> children;
  Object* attributes = nullptr;
  Object* childArray = nullptr;  // childNodes: one array, refilled when the children change

  void RefillChildArray() {
    if (!childArray || childArray->cls() != ObjClass::kArray) return;
    std::vector<Value> items;
    for (XmlNode* c : children) items.emplace_back(static_cast<Object*>(c));
    static_cast<ArrayObject*>(childArray)->Fill(items);
  }

  void Trace(Tracer& t) override {
    Object::Trace(t);
    t.Mark(parent);
    for (XmlNode* c : children) t.Mark(c);
    t.Mark(attributes);
    t.Mark(childArray);
  }

  int IndexInParent() const {
    if (!parent) return -1;
    for (std::size_t i = 0; i < parent->children.size(); ++i)
      if (parent->children[i] == this) return static_cast<int>(i);
    return -1;
  }

  bool GetSpecial(Vm& vm, std::string_view n, Value& out) override {
    auto node = [](XmlNode* x) { return x ? Value(static_cast<Object*>(x)) : Value::Null(); };
    if (n == "nodeType") {
      out = Value(type);
    } else if (n == "nodeName") {
      out = type == kElement ? name : Value::Null();
    } else if (n == "nodeValue") {
      out = type == kText ? value : Value::Null();
    } else if (n == "firstChild") {
      out = node(children.empty() ? nullptr : children.front());
    } else if (n == "lastChild") {
      out = node(children.empty() ? nullptr : children.back());
    } else if (n == "parentNode") {
      out = node(parent);
    } else if (n == "nextSibling" || n == "previousSibling") {
      int i = IndexInParent();
      int j = n == "nextSibling" ? i + 1 : i - 1;
      out = node(i >= 0 && j >= 0 && static_cast<std::size_t>(j) < parent->children.size()
                     ? parent->children[static_cast<std::size_t>(j)]
                     : nullptr);
    } else if (n == "childNodes") {
      if (!childArray) {
        childArray = vm.NewArray();
        RefillChildArray();
      }
      out = Value(childArray);
    } else if (n == "localName" || n == "prefix") {
      if (type != kElement || name.IsNullish()) {
        out = Value::Null();
      } else {
        std::string full = vm.ToString(name);
        std::size_t colon = full.find(':');
        if (n == "localName")
          out = Value(colon == std::string::npos ? full : full.substr(colon + 1));
        else
          out = Value(colon == std::string::npos ? std::string() : full.substr(0, colon));
      }
    } else if (n == "attributes") {
      if (!attributes) attributes = vm.NewObject();
      out = Value(attributes);
    } else {
      return false;
    }
    return true;
  }
  bool SetSpecial(Vm& vm, std::string_view n, const Value& v) override {
    // Assigning undefined leaves the name or the text as it was.
    if (n == "nodeName") {
      if (type == kElement && !v.IsUndefined()) name = v.IsNull() ? v : Value(vm.ToString(v));
    } else if (n == "nodeValue") {
      if (type == kText && !v.IsUndefined()) value = v.IsNull() ? v : Value(vm.ToString(v));
    } else if (n == "attributes") {
      if (v.IsObject()) attributes = v.o;
    } else {
      return n == "nodeType" || n == "firstChild" || n == "lastChild" || n == "parentNode" ||
             n == "nextSibling" || n == "previousSibling" || n == "childNodes" ||
             n == "localName" || n == "prefix";
    }
    return true;
  }
  bool HasSpecial(Vm&, std::string_view n) override {
    return n == "nodeType" || n == "nodeName" || n == "nodeValue" || n == "firstChild" ||
           n == "lastChild" || n == "parentNode" || n == "nextSibling" || n == "previousSibling" ||
           n == "childNodes" || n == "attributes" || n == "localName" || n == "prefix";
  }

  void Detach() {
    if (!parent) return;
    int i = IndexInParent();
    if (i >= 0) parent->children.erase(parent->children.begin() + i);
    parent->RefillChildArray();
    parent = nullptr;
  }
  void Insert(XmlNode* child, std::size_t at) {
    child->Detach();
    at = std::min(at, children.size());
    children.insert(children.begin() + static_cast<std::ptrdiff_t>(at), child);
    child->parent = this;
    RefillChildArray();
  }
  bool IsAncestorOf(const XmlNode* n) const {
    for (; n; n = n->parent)
      if (n == this) return true;
    return false;
  }
};

XmlNode* AsNode(const Value& v) {
  if (!v.IsObject()) return nullptr;
  return dynamic_cast<XmlNode*>(v.o);
}
XmlNode* AsNode(Object* o) {
  return o ? dynamic_cast<XmlNode*>(o) : nullptr;
}

XmlNode* NewNode(Vm& vm, Object* proto, int type, Value text) {
  auto* n = vm.heap().Make<XmlNode>(proto ? proto : vm.xmlNodeProto);
  n->type = type;
  if (type == kText)
    n->value = std::move(text);
  else
    n->name = std::move(text);
  n->attributes = vm.NewObject();
  return n;
}

// ---- text ----------------------------------------------------------------------------------

// The five named entities and character references; anything else stays as written.
std::string Unescape(std::string_view s) {
  std::string out;
  std::size_t i = 0;
  while (i < s.size()) {
    if (s[i] != '&') {
      out += s[i++];
      continue;
    }
    std::size_t semi = s.find(';', i + 1);
    std::size_t amp = s.find('&', i + 1);
    if (semi == std::string_view::npos || (amp != std::string_view::npos && amp < semi)) {
      out += s[i++];
      continue;
    }
    std::string_view ent = s.substr(i + 1, semi - i - 1);
    std::string rep;
    if (ent == "amp") {
      rep = "&";
    } else if (ent == "lt") {
      rep = "<";
    } else if (ent == "gt") {
      rep = ">";
    } else if (ent == "quot") {
      rep = "\"";
    } else if (ent == "apos") {
      rep = "'";
    } else if (ent.size() > 1 && ent[0] == '#') {
      std::uint32_t cp = 0;
      bool hex = ent[1] == 'x' || ent[1] == 'X';
      bool ok = ent.size() > (hex ? 2u : 1u);
      for (std::size_t k = hex ? 2 : 1; k < ent.size() && ok; ++k) {
        char c = ent[k];
        int d = c >= '0' && c <= '9'          ? c - '0'
                : hex && c >= 'a' && c <= 'f' ? c - 'a' + 10
                : hex && c >= 'A' && c <= 'F' ? c - 'A' + 10
                                              : -1;
        if (d < 0 || cp > 0x10FFFF) ok = false;
        cp = cp * (hex ? 16 : 10) + static_cast<std::uint32_t>(d);
      }
      if (ok && cp != 0 && cp <= 0x10FFFF) AppendUtf8(rep, cp);
      if (!ok) rep = std::string(s.substr(i, semi - i + 1));
    } else {
      rep = std::string(s.substr(i, semi - i + 1));
    }
    out += rep;
    i = semi + 1;
  }
  return out;
}

void Serialize(Vm& vm, XmlNode* n, std::string& out, int depth) {
  if (depth > 256 || out.size() > vm.limits().maxString) return;
  if (n->type == kText) {
    if (!n->value.IsNull()) out += EscapeXmlText(vm.ToString(n->value));
    return;
  }
  bool named = !n->name.IsNullish();
  if (named) {
    out += "<" + vm.ToString(n->name);
    if (n->attributes)
      for (auto& p : n->attributes->props().items()) {
        if (p.flags & prop::kDontEnum) continue;
        out += " " + p.name + "=\"" + EscapeXmlText(vm.ToString(p.value)) + "\"";
      }
    if (n->children.empty()) {
      out += " />";
      return;
    }
    out += ">";
  }
  for (XmlNode* c : n->children) Serialize(vm, c, out, depth + 1);
  if (named) out += "</" + vm.ToString(n->name) + ">";
}

bool IsWhite(std::string_view s) {
  for (char c : s)
    if (c != ' ' && c != '\t' && c != '\r' && c != '\n') return false;
  return true;
}

// Parses `text` into the children of `doc`; returns the status code.
int Parse(Vm& vm, XmlNode* doc, std::string_view text, bool ignoreWhite) {
  for (XmlNode* c : doc->children) c->parent = nullptr;
  doc->children.clear();
  doc->RefillChildArray();
  std::string xmlDecl, docType;
  XmlNode* cur = doc;
  const Property* map = doc->FindOwn("idMap");
  Object* idMap = map ? map->value.AsObject() : nullptr;
  int status = 0;
  std::size_t i = 0;
  auto addText = [&](std::string t, bool raw) {
    if (t.empty()) return;
    if (ignoreWhite && IsWhite(t)) return;
    std::string v = raw ? std::move(t) : Unescape(t);
    cur->Insert(NewNode(vm, nullptr, kText, Value(std::move(v))), cur->children.size());
  };
  while (i < text.size()) {
    std::size_t lt = text.find('<', i);
    if (lt == std::string_view::npos) {
      addText(std::string(text.substr(i)), false);
      break;
    }
    addText(std::string(text.substr(i, lt - i)), false);
    std::string_view rest = text.substr(lt);
    if (rest.substr(0, 4) == "<!--") {
      std::size_t e = text.find("-->", lt + 4);
      if (e == std::string_view::npos) return -5;
      i = e + 3;
    } else if (rest.substr(0, 9) == "<![CDATA[") {
      std::size_t e = text.find("]]>", lt + 9);
      if (e == std::string_view::npos) return -2;
      addText(std::string(text.substr(lt + 9, e - lt - 9)), true);
      i = e + 3;
    } else if (rest.substr(0, 2) == "<?") {
      std::size_t e = text.find("?>", lt + 2);
      if (e == std::string_view::npos) return -3;
      xmlDecl += std::string(text.substr(lt, e + 2 - lt));
      i = e + 2;
    } else if (rest.substr(0, 2) == "<!") {
      std::size_t e = text.find('>', lt + 2);
      if (e == std::string_view::npos) return -4;
      docType = std::string(text.substr(lt, e + 1 - lt));
      i = e + 1;
    } else if (rest.substr(0, 2) == "</") {
      std::size_t e = text.find('>', lt + 2);
      if (e == std::string_view::npos) return -6;
      std::string_view nm = text.substr(lt + 2, e - lt - 2);
      while (!nm.empty() && IsWhite(nm.substr(nm.size() - 1))) nm.remove_suffix(1);
      if (cur == doc) return -10;
      if (vm.ToString(cur->name) != nm) return -9;
      cur = cur->parent;
      i = e + 1;
    } else {
      std::size_t k = lt + 1;
      while (k < text.size() && !IsWhite(text.substr(k, 1)) && text[k] != '>' &&
             !(text[k] == '/' && k + 1 < text.size() && text[k + 1] == '>'))
        ++k;
      std::string nm(text.substr(lt + 1, k - lt - 1));
      if (nm.empty()) return -6;
      XmlNode* el = NewNode(vm, nullptr, kElement, Value(nm));
      bool closed = false;
      for (;;) {
        while (k < text.size() && IsWhite(text.substr(k, 1))) ++k;
        if (k >= text.size()) return -6;
        if (text[k] == '>') {
          ++k;
          break;
        }
        if (text[k] == '/' && k + 1 < text.size() && text[k + 1] == '>') {
          closed = true;
          k += 2;
          break;
        }
        std::size_t eq = text.find('=', k);
        if (eq == std::string_view::npos) return -8;
        std::string_view an = text.substr(k, eq - k);
        while (!an.empty() && IsWhite(an.substr(an.size() - 1))) an.remove_suffix(1);
        k = eq + 1;
        while (k < text.size() && IsWhite(text.substr(k, 1))) ++k;
        if (k >= text.size() || (text[k] != '"' && text[k] != '\'')) return -8;
        char q = text[k];
        std::size_t qe = text.find(q, k + 1);
        if (qe == std::string_view::npos) return -8;
        // The first of two attributes with the same name wins.
        if (!el->attributes->FindOwn(an))
          el->attributes->SetOwn(an, Value(Unescape(text.substr(k + 1, qe - k - 1))));
        k = qe + 1;
      }
      // A document of version 8 lists its elements by their id attribute as it reads them.
      if (const Property* id = el->attributes->FindOwn("id"); id && idMap) {
        idMap->SetOwn(vm.ToString(id->value), Value(static_cast<Object*>(el)));
      }
      cur->Insert(el, cur->children.size());
      if (!closed) cur = el;
      i = k;
    }
    if (vm.heap().size() > vm.limits().maxObjects) return -7;
  }
  if (cur != doc) status = -9;
  doc->SetOwn("xmlDecl", xmlDecl.empty() ? Value() : Value(xmlDecl));
  doc->SetOwn("docTypeDecl", docType.empty() ? Value() : Value(docType));
  return status;
}

// ---- methods -------------------------------------------------------------------------------

Value NodeConstruct(Vm& vm, CallArgs& a) {
  int type = a.size() ? static_cast<int>(vm.ToNumber(a[0])) : kElement;
  Value text = a.size() > 1 && !a[1].IsNullish() ? Value(vm.ToString(a[1])) : Value::Null();
  return Value(NewNode(vm, a.self ? a.self->proto() : nullptr, type == kText ? kText : kElement,
                       std::move(text)));
}

Value DocParse(Vm& vm, CallArgs& a) {
  XmlNode* d = AsNode(a.self);
  if (!d || !a.size()) return {};
  std::string text = vm.ToString(a[0]);
  bool ignoreWhite = vm.ToBool(vm.Get(d, "ignoreWhite"));
  d->SetOwn("status", Value(Parse(vm, d, text, ignoreWhite)));
  return {};
}

Value DocConstruct(Vm& vm, CallArgs& a) {
  XmlNode* d = NewNode(vm, a.self ? a.self->proto() : vm.xmlProto, kElement, Value::Null());
  d->SetOwn("status", Value(0));
  d->SetOwn("loaded", Value());
  if (vm.version() >= 8) d->SetOwn("idMap", Value(vm.NewObject()), prop::kDontEnum);
  if (a.size() && !a[0].IsNullish()) {
    CallArgs p;
    p.self = d;
    p.args.push_back(a[0]);
    DocParse(vm, p);
  }
  return Value(static_cast<Object*>(d));
}

Value NodeToString(Vm& vm, CallArgs& a) {
  XmlNode* n = AsNode(a.self);
  if (!n) return Value("[object Object]");
  std::string out;
  if (n->type == kElement && n->FindOwn("xmlDecl")) {  // a document: its declarations first
    Value decl = vm.Get(n, "xmlDecl"), type = vm.Get(n, "docTypeDecl");
    if (!decl.IsNullish()) out += vm.ToString(decl);
    if (!type.IsNullish()) out += vm.ToString(type);
  }
  Serialize(vm, n, out, 0);
  return Value(out);
}

Value AppendChild(Vm&, CallArgs& a) {
  XmlNode* n = AsNode(a.self);
  XmlNode* c = AsNode(a[0]);
  if (n && c && c != n && !c->IsAncestorOf(n)) n->Insert(c, n->children.size());
  return {};
}

Value InsertBefore(Vm&, CallArgs& a) {
  XmlNode* n = AsNode(a.self);
  XmlNode* c = AsNode(a[0]);
  XmlNode* before = AsNode(a[1]);
  if (!n || !c || !before || before->parent != n || c == n || c->IsAncestorOf(n)) return {};
  if (c == before) return {};
  c->Detach();
  n->Insert(c, static_cast<std::size_t>(before->IndexInParent()));
  return {};
}

Value RemoveNode(Vm&, CallArgs& a) {
  if (XmlNode* n = AsNode(a.self)) n->Detach();
  return {};
}

Value HasChildNodes(Vm&, CallArgs& a) {
  XmlNode* n = AsNode(a.self);
  return Value(n && !n->children.empty());
}

XmlNode* Clone(Vm& vm, XmlNode* n, bool deep, int depth) {
  XmlNode* c = NewNode(vm, n->proto(), n->type, n->type == kText ? n->value : n->name);
  if (n->attributes)
    for (auto& p : n->attributes->props().items()) c->attributes->SetOwn(p.name, p.value, p.flags);
  if (deep && depth < 256)
    for (XmlNode* k : n->children) c->Insert(Clone(vm, k, true, depth + 1), c->children.size());
  return c;
}

Value CloneNode(Vm& vm, CallArgs& a) {
  XmlNode* n = AsNode(a.self);
  if (!n) return {};
  return Value(static_cast<Object*>(Clone(vm, n, vm.ToBool(a[0]), 0)));
}

Value CreateElement(Vm& vm, CallArgs& a) {
  return Value(static_cast<Object*>(NewNode(vm, nullptr, kElement, Value(vm.ToString(a[0])))));
}

Value CreateTextNode(Vm& vm, CallArgs& a) {
  return Value(static_cast<Object*>(NewNode(vm, nullptr, kText, Value(vm.ToString(a[0])))));
}

Value NoNetwork(Vm&, CallArgs&) {
  return Value(false);
}

}  // namespace

std::string EscapeXmlText(std::string_view s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

void InstallXml(Vm& vm) {
  Heap& h = vm.heap();
  vm.xmlNodeProto = h.Make<Object>(vm.objectProto);
  vm.xmlProto = h.Make<Object>(vm.xmlNodeProto);
  vm.pinned.push_back(vm.xmlNodeProto);
  vm.pinned.push_back(vm.xmlProto);
  MakeClass(vm, vm.global, "XMLNode", NodeConstruct, NodeConstruct, vm.xmlNodeProto);
  MakeClass(vm, vm.global, "XML", DocConstruct, DocConstruct, vm.xmlProto);
  Object* np = vm.xmlNodeProto;
  vm.Method(np, "toString", NodeToString);
  vm.Method(np, "appendChild", AppendChild);
  vm.Method(np, "insertBefore", InsertBefore);
  vm.Method(np, "removeNode", RemoveNode);
  vm.Method(np, "hasChildNodes", HasChildNodes);
  vm.Method(np, "cloneNode", CloneNode);
  Object* dp = vm.xmlProto;
  vm.Method(dp, "parseXML", DocParse);
  vm.Method(dp, "createElement", CreateElement);
  vm.Method(dp, "createTextNode", CreateTextNode);
  vm.Method(dp, "load", NoNetwork);
  vm.Method(dp, "send", NoNetwork);
  vm.Method(dp, "sendAndLoad", NoNetwork);
  dp->SetOwn("ignoreWhite", Value(false), prop::kDontEnum);
  dp->SetOwn("contentType", Value("application/x-www-form-urlencoded"), prop::kDontEnum);
}

}  // namespace dbx::swf::avm1
