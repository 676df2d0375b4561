// TextField and TextFormat as scripts see them: the field's properties are getters and setters on
// TextField.prototype over the field that display/ keeps for the clip (text/text_field.h), and
// TextFormat objects carry the partial formats of getTextFormat and setTextFormat.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <map>
#include <optional>

#include "swf/avm1/array.h"
#include "swf/avm1/builtins.h"
#include "swf/avm1/filters_object.h"
#include "swf/avm1/loader.h"
#include "swf/avm1/runtime.h"
#include "swf/avm1/vm.h"
#include "swf/text/css.h"
#include "swf/text/faces.h"
#include "swf/text/text_field.h"

namespace dbx::swf::avm1 {

namespace {

std::map<const Vm*, Runtime*>& Runtimes() {
  static std::map<const Vm*, Runtime*> m;
  return m;
}

text::TextField* FieldOf(Object* self, Clip** clipOut = nullptr) {
  Clip* c = ClipOf(self);
  if (!c || c->kind != ClipKind::kEditText || !c->field) return nullptr;
  if (clipOut) *clipOut = c;
  return c->field.get();
}

double Pixels(float twips) {
  return twips / 20.0;
}

std::uint32_t RgbOf(Rgba c) {
  return static_cast<std::uint32_t>(c.r) << 16 | static_cast<std::uint32_t>(c.g) << 8 | c.b;
}

Rgba ColorOfNumber(double n) {
  const auto v = static_cast<std::uint32_t>(
      static_cast<std::int64_t>(std::isfinite(n) ? std::fmod(n, 4294967296.0) : 0));
  return Rgba{static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 8),
              static_cast<std::uint8_t>(v), 255};
}

const char* AlignName(TextAlign a) {
  switch (a) {
    case TextAlign::kRight:
      return "right";
    case TextAlign::kCenter:
      return "center";
    case TextAlign::kJustify:
      return "justify";
    default:
      return "left";
  }
}

std::optional<TextAlign> AlignOfName(std::string_view s) {
  std::string l;
  for (char c : s) l.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  if (l == "left") return TextAlign::kLeft;
  if (l == "right") return TextAlign::kRight;
  if (l == "center") return TextAlign::kCenter;
  if (l == "justify") return TextAlign::kJustify;
  return std::nullopt;
}

// ---- TextFormat ----------------------------------------------------------------------------

bool Given(const Value& v) {
  return !v.IsUndefined() && !v.IsNull();
}

// The names in the order the constructor takes them, then the rest.
enum FormatField : int {
  kFmtFont,
  kFmtSize,
  kFmtColor,
  kFmtBold,
  kFmtItalic,
  kFmtUnderline,
  kFmtUrl,
  kFmtTarget,
  kFmtAlign,
  kFmtLeftMargin,
  kFmtRightMargin,
  kFmtIndent,
  kFmtLeading,
  kFmtBlockIndent,
  kFmtTabStops,
  kFmtBullet,
  kFmtKerning,
  kFmtLetterSpacing,
  kFmtDisplay,
  kFmtCount
};
const char* const kFormatNames[kFmtCount] = {
    "font",     "size",   "color",      "bold",          "italic", "underline", "url",
    "target",   "align",  "leftMargin", "rightMargin",   "indent", "leading",   "blockIndent",
    "tabStops", "bullet", "kerning",    "letterSpacing", "display"};

// A format keeps its values in a holder object beside its properties (the properties are
// accessors on the prototype that convert what is written).
Object* FormatValues(Vm& vm, Object* self, bool make) {
  if (!self) return nullptr;
  if (Object* h = self->primitive.AsObject(); h && self->cls() == ObjClass::kObject) return h;
  if (!make || self->cls() != ObjClass::kObject) return nullptr;
  Object* h = vm.NewObject();
  self->primitive = Value(h);
  return h;
}

Value FormatValue(Vm& vm, Object* self, int field) {
  Object* h = FormatValues(vm, self, false);
  if (!h) return {};
  Property* p = h->FindOwn(kFormatNames[field]);
  return p ? p->value : Value::Null();
}

void StoreFormatValue(Vm& vm, Object* self, int field, Value v) {
  if (Object* h = FormatValues(vm, self, true)) h->SetOwn(kFormatNames[field], std::move(v));
}

// How a written value is kept: `fromConstructor` truncates numbers, a property write rounds
// them half to even and keeps margins from going negative; a name that is not an alignment
// leaves the alignment as it was (the constructor takes it as none).
std::optional<Value> ConvertFormatValue(Vm& vm, int field, const Value& v, bool fromConstructor) {
  if (!Given(v))
    return field == kFmtAlign && !fromConstructor ? std::nullopt
                                                  : std::optional<Value>(Value::Null());
  switch (field) {
    case kFmtFont:
    case kFmtUrl:
    case kFmtTarget:
      return Value(vm.ToString(v));
    case kFmtColor: {
      const double d = vm.ToNumber(v);
      return Value(static_cast<double>(ToUint32(d)));
    }
    case kFmtBold:
    case kFmtItalic:
    case kFmtUnderline:
    case kFmtBullet:
    case kFmtKerning:
      return Value(vm.ToBool(v));
    case kFmtAlign: {
      const auto a = AlignOfName(vm.ToString(v));
      if (!a) return fromConstructor ? std::optional<Value>(Value::Null()) : std::nullopt;
      return Value(AlignName(*a));
    }
    case kFmtSize:
    case kFmtLeftMargin:
    case kFmtRightMargin:
    case kFmtIndent:
    case kFmtLeading:
    case kFmtBlockIndent: {
      const double d = vm.ToNumber(v);
      double n = fromConstructor
                     ? static_cast<double>(ToInt32(d))
                     : static_cast<double>(ToInt32(std::isfinite(d) ? std::nearbyint(d) : d));
      if (!fromConstructor && (field == kFmtLeftMargin || field == kFmtRightMargin))
        n = std::max(0.0, n);
      return Value(n);
    }
    case kFmtLetterSpacing: {
      const double d = vm.ToNumber(v);
      return Value(std::isfinite(d) ? d : 0.0);
    }
    case kFmtDisplay:
      return Value(vm.ToString(v));
    default:
      return v;
  }
}

Value FormatGet(Vm& vm, CallArgs& a) {
  const int field = a.callee ? static_cast<Function*>(a.callee)->nativeData : -1;
  if (field < 0 || field >= kFmtCount) return {};
  return FormatValue(vm, a.self, field);
}

Value FormatSet(Vm& vm, CallArgs& a) {
  const int field = a.callee ? static_cast<Function*>(a.callee)->nativeData : -1;
  if (field < 0 || field >= kFmtCount || !a.self) return {};
  if (auto v = ConvertFormatValue(vm, field, a[0], false))
    StoreFormatValue(vm, a.self, field, std::move(*v));
  return {};
}

Value FormatConstruct(Vm& vm, CallArgs& a) {
  Object* self = a.self ? a.self : vm.NewObject();
  for (int i = 0; i < kFmtCount; ++i) {
    Value v = Value::Null();
    if (i < 13) {
      if (auto c = ConvertFormatValue(vm, i, a[static_cast<std::size_t>(i)], true)) v = *c;
    } else if (i == kFmtDisplay) {
      v = Value("block");
    }
    StoreFormatValue(vm, self, i, std::move(v));
  }
  return Value(self);
}

text::FormatPatch PatchOf(Vm& vm, Object* f) {
  text::FormatPatch p;
  if (!f) return p;
  auto num = [&](const char* n, std::optional<float>& out, double scale) {
    const Value v = vm.Get(f, n);
    if (!Given(v)) return;
    const double d = vm.ToNumber(v);
    if (std::isfinite(d)) out = static_cast<float>(std::clamp(d, -1e6, 1e6) * scale);
  };
  auto flag = [&](const char* n, std::optional<bool>& out) {
    const Value v = vm.Get(f, n);
    if (Given(v)) out = vm.ToBool(v);
  };
  auto str = [&](const char* n, std::optional<std::string>& out) {
    const Value v = vm.Get(f, n);
    if (Given(v)) out = vm.ToString(v);
  };
  str("font", p.font);
  str("url", p.url);
  str("target", p.target);
  num("size", p.size, 20);
  num("letterSpacing", p.letterSpacing, 20);
  if (const Value v = vm.Get(f, "color"); Given(v)) p.color = ColorOfNumber(vm.ToNumber(v));
  flag("bold", p.bold);
  flag("italic", p.italic);
  flag("underline", p.underline);
  flag("kerning", p.kerning);
  flag("bullet", p.bullet);
  if (const Value v = vm.Get(f, "align"); Given(v)) p.align = AlignOfName(vm.ToString(v));
  num("leftMargin", p.leftMargin, 20);
  num("rightMargin", p.rightMargin, 20);
  num("indent", p.indent, 20);
  num("blockIndent", p.blockIndent, 20);
  num("leading", p.leading, 20);
  // tabStops: an array of pixel positions (what is not a number ends the list).
  if (const Value v = vm.Get(f, "tabStops"); v.IsObject()) {
    std::vector<float> stops;
    const std::size_t count = std::min(vm.ArrayLength(v.o), text::kMaxTabStops);
    for (std::size_t i = 0; i < count; ++i) {
      const double d = vm.ToNumber(vm.ArrayGet(v.o, i));
      if (!std::isfinite(d)) break;
      stops.push_back(static_cast<float>(std::clamp(d, -1e5, 1e5) * 20));
    }
    p.tabStops = std::move(stops);
  }
  if (p.size && *p.size < 0) p.size.reset();
  if (p.leftMargin) *p.leftMargin = std::max(0.0f, *p.leftMargin);
  if (p.rightMargin) *p.rightMargin = std::max(0.0f, *p.rightMargin);
  if (p.blockIndent) *p.blockIndent = std::max(0.0f, *p.blockIndent);
  return p;
}

Object* NewFormat(Vm& vm) {
  Value ctor = vm.Get(vm.global, "TextFormat");
  Value made = vm.Construct(ctor, {});
  return made.IsObject() ? made.o : vm.NewObject();
}

Value FormatObject(Vm& vm, const text::FormatPatch& p) {
  Object* o = NewFormat(vm);
  auto set = [&](const char* n, Value v) {
    for (int i = 0; i < kFmtCount; ++i)
      if (std::string_view(kFormatNames[i]) == n) {
        StoreFormatValue(vm, o, i, std::move(v));
        return;
      }
  };
  auto opt = [&](const char* n, const auto& v, auto conv) { set(n, v ? conv(*v) : Value::Null()); };
  auto px = [](float t) { return Value(Pixels(t)); };
  auto b = [](bool v) { return Value(v); };
  auto s = [](const std::string& v) { return Value(v); };
  opt("font", p.font, s);
  opt("size", p.size, px);
  opt("color", p.color, [](Rgba c) { return Value(static_cast<double>(RgbOf(c))); });
  opt("bold", p.bold, b);
  opt("italic", p.italic, b);
  opt("underline", p.underline, b);
  opt("url", p.url, s);
  opt("target", p.target, s);
  opt("align", p.align, [](TextAlign a) { return Value(AlignName(a)); });
  opt("leftMargin", p.leftMargin, px);
  opt("rightMargin", p.rightMargin, px);
  opt("indent", p.indent, px);
  opt("leading", p.leading, px);
  opt("blockIndent", p.blockIndent, px);
  if (p.tabStops) {
    std::vector<Value> stops;
    for (float t : *p.tabStops) stops.emplace_back(Pixels(t));
    set("tabStops", Value(vm.NewArray(std::move(stops))));
  } else {
    set("tabStops", Value::Null());
  }
  opt("bullet", p.bullet, b);
  opt("kerning", p.kerning, b);
  opt("letterSpacing", p.letterSpacing, px);
  return Value(o);
}

// getTextExtent: the size of a text laid out in this format.
Value FormatTextExtent(Vm& vm, CallArgs& a) {
  auto it = Runtimes().find(&vm);
  if (!a.self || it == Runtimes().end() || a.size() < 1) return {};
  Runtime& rt = *it->second;
  text::FormatPatch patch = PatchOf(vm, a.self);
  text::CharFormat cf;
  cf.size = 12 * 20;
  text::ParaFormat pf;
  patch.ApplyTo(cf);
  patch.ApplyTo(pf);
  EditText def;
  def.xmax = 100 * 20;
  def.ymax = 100 * 20;
  text::TextField field(def, vm.version(), rt.stage().fonts());
  field.SetNewFormat(cf, pf);
  const bool hasWidth = a.size() >= 2 && !a[1].IsUndefined();
  double width = hasWidth ? vm.ToNumber(a[1]) : 0;
  if (hasWidth && std::isfinite(width) && width > 0) {
    field.SetWordWrap(true);
    field.SetSize(static_cast<float>(width * 20), 100 * 20);
  } else {
    field.SetAutoSize(text::AutoSize::kLeft);
  }
  field.SetText(vm.ToString(a[0]));
  const text::Layout& l = field.CurrentLayout();
  float ascent = 0, descent = 0;
  if (!l.lines.empty()) {
    ascent = l.lines[0].ascent;
    descent = l.lines[0].descent;
  }
  // A bare object: no prototype, so it has no toString either.
  Object* r = vm.NewObject();
  r->SetProto(nullptr);
  const double w = std::round(l.textWidth / 20), h = std::round(l.textHeight / 20);
  r->SetOwn("ascent", Value(std::round(ascent / 20)));
  r->SetOwn("descent", Value(std::round(descent / 20)));
  r->SetOwn("width", Value(w));
  r->SetOwn("height", Value(h));
  r->SetOwn("textFieldHeight", Value(h + 4));
  r->SetOwn("textFieldWidth", Value(hasWidth && width > 0 ? std::round(width) : w + 4));
  return Value(r);
}

// ---- TextField.StyleSheet ------------------------------------------------------------------

// A style sheet keeps, as the script's own properties, `_css`: each style as given (a shallow
// copy), by selector; and `_styles`: what `transform` made of each (a TextFormat), which is what
// the text fields read. Both come with the first style and go with clear().

Object* SheetTable(Vm& vm, Object* self, const char* name, bool make) {
  if (!self) return nullptr;
  if (Object* t = vm.Get(self, name).AsObject()) return t;
  if (!make) return nullptr;
  Object* t = vm.NewObject();
  vm.Set(self, name, Value(t));
  return t;
}

Object* CopyOf(Vm& vm, Object* from) {
  Object* copy = vm.NewObject();
  for (const Property& p : from->props().items())
    if (!p.getter && !(p.flags & prop::kDontEnum)) copy->SetOwn(p.name, p.value);
  return copy;
}

// Sets the style `name` (nothing: a null style) and what the sheet's transform makes of it.
void PutStyle(Vm& vm, Object* self, const std::string& name, Object* style) {
  Object* css = SheetTable(vm, self, "_css", true);
  Object* styles = SheetTable(vm, self, "_styles", true);
  if (!css || !styles) return;
  css->props().Remove(name);
  css->SetOwn(name, style ? Value(style) : Value::Null());
  const Value made =
      vm.CallMethod(Value(self), "transform", {style ? Value(style) : Value::Null()});
  styles->props().Remove(name);
  styles->SetOwn(name, made);
}

Value SheetConstruct(Vm&, CallArgs& a) {
  return a.self ? Value(a.self) : Value();
}

Value SheetSetStyle(Vm& vm, CallArgs& a) {
  if (!a.self || a.size() < 1) return {};
  Object* style = a[1].AsObject();
  PutStyle(vm, a.self, vm.ToString(a[0]), style ? CopyOf(vm, style) : nullptr);
  return {};
}

Value SheetGetStyle(Vm& vm, CallArgs& a) {
  Object* css = SheetTable(vm, a.self, "_css", false);
  Object* style = css ? vm.Get(css, vm.ToString(a[0])).AsObject() : nullptr;
  return style ? Value(CopyOf(vm, style)) : Value::Null();
}

Value SheetGetStyleNames(Vm& vm, CallArgs& a) {
  Object* names = vm.NewArray();
  if (Object* css = SheetTable(vm, a.self, "_css", false))
    for (const Property& p : css->props().items())
      if (!(p.flags & prop::kDontEnum)) vm.ArrayPush(names, Value(p.name));
  return Value(names);
}

Value SheetClear(Vm& vm, CallArgs& a) {
  if (!a.self) return {};
  vm.Set(a.self, "_css", Value(vm.NewObject()));
  vm.Set(a.self, "_styles", Value(vm.NewObject()));
  return {};
}

// The whole number a value reads as, as parseInt reads it: the digits after any blanks and a
// sign, whatever follows them ("12px"); nothing (not a number) for anything else.
std::optional<double> LeadingInteger(Vm& vm, const Value& v) {
  const std::string t = vm.ToString(v);
  std::size_t i = 0;
  while (i < t.size() && std::isspace(static_cast<unsigned char>(t[i]))) ++i;
  const bool negative = i < t.size() && t[i] == '-';
  if (i < t.size() && (t[i] == '-' || t[i] == '+')) ++i;
  double n = 0;
  const std::size_t digits = i;
  for (; i < t.size() && std::isdigit(static_cast<unsigned char>(t[i])); ++i)
    n = std::min(n * 10 + (t[i] - '0'), 1e15);
  if (i == digits) return std::nullopt;
  return negative ? -n : n;
}

// transform(style): the TextFormat a style shows text in. The CSS names (camel-cased) that it
// reads: color ("#rrggbb"), display (inline, block, none), fontFamily (a list: each name's
// leading blanks go), fontSize, fontStyle, fontWeight, kerning, leading, letterSpacing,
// marginLeft, marginRight, textAlign, textDecoration and textIndent. Null for no style.
Value SheetTransform(Vm& vm, CallArgs& a) {
  if (a[0].IsNullish()) return Value::Null();
  Object* style = vm.ToObject(a[0]);
  if (!style) return Value::Null();
  Object* tf = NewFormat(vm);
  auto put = [&](int field, Value v) { StoreFormatValue(vm, tf, field, std::move(v)); };
  auto get = [&](const char* name) { return vm.Get(style, name); };
  auto text = [&](const char* name) -> std::optional<std::string> {
    const Value v = get(name);
    if (!v.IsString()) return std::nullopt;
    return vm.ToString(v);
  };
  if (const auto c = text("color");
      c && c->size() == 7 && (*c)[0] == '#' && std::all_of(c->begin() + 1, c->end(), [](char ch) {
        return std::isxdigit(static_cast<unsigned char>(ch));
      }))
    put(kFmtColor, Value(static_cast<double>(std::strtoul(c->c_str() + 1, nullptr, 16))));
  if (const auto d = text("display"); d && (*d == "inline" || *d == "block" || *d == "none"))
    put(kFmtDisplay, Value(*d));
  if (const Value f = get("fontFamily"); vm.ToBool(f)) {
    // Each name of the list without its leading blanks, empty ones dropped.
    std::string list;
    const std::string all = vm.ToString(f);
    std::size_t at = 0;
    while (at <= all.size()) {
      const std::size_t comma = std::min(all.find(',', at), all.size());
      std::size_t b = at;
      while (b < comma && std::isspace(static_cast<unsigned char>(all[b]))) ++b;
      if (b < comma) list += (list.empty() ? "" : ",") + all.substr(b, comma - b);
      at = comma + 1;
    }
    put(kFmtFont, Value(list));
  }
  // Whole-number properties apply when they are given (a true value); what they read as may
  // still be nothing, which a margin takes as 0 and a leading as 0.
  auto whole = [&](const char* name) -> std::optional<std::optional<double>> {
    const Value v = get(name);
    if (!vm.ToBool(v)) return std::nullopt;
    return LeadingInteger(vm, v);
  };
  if (const auto n = whole("fontSize"); n && *n && **n > 0) put(kFmtSize, Value(**n));
  if (const auto n = whole("leading")) put(kFmtLeading, Value(n->value_or(0)));
  if (const auto n = whole("textIndent")) put(kFmtIndent, Value(n->value_or(0)));
  if (const auto n = whole("letterSpacing"))
    put(kFmtLetterSpacing, Value(n->value_or(std::numeric_limits<double>::quiet_NaN())));
  if (const auto n = whole("marginLeft")) put(kFmtLeftMargin, Value(std::max(0.0, n->value_or(0))));
  if (const auto n = whole("marginRight"))
    put(kFmtRightMargin, Value(std::max(0.0, n->value_or(0))));
  {
    const Value k = get("kerning");
    const auto n = LeadingInteger(vm, k);
    put(kFmtKerning, Value((k.IsString() && vm.ToString(k) == "true") || (n && *n != 0)));
  }
  if (const auto v = text("fontStyle"); v && (*v == "italic" || *v == "normal"))
    put(kFmtItalic, Value(*v == "italic"));
  if (const auto v = text("fontWeight"); v && (*v == "bold" || *v == "normal"))
    put(kFmtBold, Value(*v == "bold"));
  if (const auto v = text("textDecoration"); v && (*v == "underline" || *v == "none"))
    put(kFmtUnderline, Value(*v == "underline"));
  if (const auto v = text("textAlign")) {
    std::string lower = *v;
    for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    if (lower == "left" || lower == "center" || lower == "right" || lower == "justify")
      put(kFmtAlign, Value(lower));
  }
  return Value(tf);
}

// parseCSS(text) (and parse): the styles of the CSS text, or false and nothing kept when the text
// does not read.
Value SheetParseCss(Vm& vm, CallArgs& a) {
  if (!a.self) return Value(false);
  const auto blocks = text::ParseCss(vm.ToString(a[0]));
  if (!blocks) return Value(false);
  for (const text::CssBlock& b : *blocks) {
    for (const std::string& selector : b.selectors) {
      Object* style = vm.NewObject();
      for (const auto& [name, value] : b.properties) style->SetOwn(name, Value(value));
      PutStyle(vm, a.self, selector, style);
    }
  }
  return Value(true);
}

// load(url): the CSS file beside the movie, parsed at the next frame (onLoad tells whether it
// was).
Value SheetLoad(Vm& vm, CallArgs& a) {
  if (!a.self || !a.size() || a[0].IsNullish()) return Value(false);
  QueueFileLoad(vm, a.self, vm.ToString(a[0]), LoadKind::kStyleSheet);
  return Value(true);
}

// The rules a field with this style sheet reads its markup with: the sheet's transformed styles,
// the selectors in lower case (a class matches without regard to case).
text::StyleRules RulesOf(Vm& vm, Object* sheet) {
  text::StyleRules rules;
  Object* styles = SheetTable(vm, sheet, "_styles", false);
  if (!styles) return rules;
  for (const Property& p : styles->props().items()) {
    Object* format = p.value.AsObject();
    if (!format || (p.flags & prop::kDontEnum)) continue;
    std::u32string selector = text::DecodeUtf8(p.name);
    for (char32_t& c : selector)
      if (c < 128) c = static_cast<char32_t>(std::tolower(static_cast<int>(c)));
    rules[selector] = PatchOf(vm, format);
  }
  return rules;
}

// ---- TextField -----------------------------------------------------------------------------

enum Prop : int {
  kGridFitType,
  kAntiAliasType,
  kThickness,
  kSharpness,
  kFilters,
  kScroll,
  kMaxScroll,
  kBorderColor,
  kBackgroundColor,
  kTextColor,
  kTabIndex,
  kAutoSize,
  kText,
  kType,
  kHtmlText,
  kVariable,
  kHScroll,
  kMaxHScroll,
  kMaxChars,
  kEmbedFonts,
  kHtml,
  kBorder,
  kBackground,
  kWordWrap,
  kPassword,
  kMultiline,
  kSelectable,
  kLength,
  kBottomScroll,
  kTextWidth,
  kTextHeight,
  kRestrict,
  kCondenseWhite,
  kMouseWheelEnabled,
  kStyleSheet,
  kPropCount
};

// Defined last first: for..in lists the latest property first.
const char* const kPropNames[kPropCount] = {"gridFitType",
                                            "antiAliasType",
                                            "thickness",
                                            "sharpness",
                                            "filters",
                                            "scroll",
                                            "maxscroll",
                                            "borderColor",
                                            "backgroundColor",
                                            "textColor",
                                            "tabIndex",
                                            "autoSize",
                                            "text",
                                            "type",
                                            "htmlText",
                                            "variable",
                                            "hscroll",
                                            "maxhscroll",
                                            "maxChars",
                                            "embedFonts",
                                            "html",
                                            "border",
                                            "background",
                                            "wordWrap",
                                            "password",
                                            "multiline",
                                            "selectable",
                                            "length",
                                            "bottomScroll",
                                            "textWidth",
                                            "textHeight",
                                            "restrict",
                                            "condenseWhite",
                                            "mouseWheelEnabled",
                                            "styleSheet"};

int PropOf(CallArgs& a) {
  return a.callee ? static_cast<Function*>(a.callee)->nativeData : -1;
}

void WriteVariable(Vm& vm, Clip& clip, const std::string& value);
void ReadVariable(Vm& vm, Clip& clip);

Value TfGet(Vm& vm, CallArgs& a) {
  Clip* clip = nullptr;
  text::TextField* f = FieldOf(a.self, &clip);
  if (!f) return {};
  const int prop = PropOf(a);
  // A field bound to a variable shows what the variable holds now, even before the frame ends.
  if (prop == kText || prop == kHtmlText || prop == kLength) ReadVariable(vm, *clip);
  auto& x = f->settings;
  switch (prop) {
    case kGridFitType:
      return Value(x.gridFitType);
    case kAntiAliasType:
      return Value(x.antiAliasType);
    case kThickness:
      return Value(x.thickness);
    case kSharpness:
      return Value(x.sharpness);
    case kFilters:
      return Value(FiltersToScript(vm, clip->filters));
    case kScroll:
      return Value(f->Scroll());
    case kMaxScroll:
      return Value(f->MaxScroll());
    case kBottomScroll:
      return Value(f->BottomScroll());
    case kBorderColor:
      return Value(static_cast<double>(RgbOf(f->borderColor)));
    case kBackgroundColor:
      return Value(static_cast<double>(RgbOf(f->backgroundColor)));
    case kTextColor:
      return Value(static_cast<double>(RgbOf(f->TextColor())));
    case kTabIndex:
      return x.tabIndex ? Value(*x.tabIndex) : Value();
    case kAutoSize: {
      static const char* const kNames[] = {"none", "left", "center", "right"};
      return Value(kNames[static_cast<int>(f->GetAutoSize())]);
    }
    case kText:
      return Value(f->Text());
    case kType:
      return Value(f->input ? "input" : "dynamic");
    case kHtmlText:
      return Value(f->HtmlText());
    case kVariable:
      return f->VariableName().empty() ? Value::Null() : Value(f->VariableName());
    case kHScroll:
    case kMaxHScroll:
      return Value(0);
    case kMaxChars:
      return f->maxChars > 0 ? Value(f->maxChars) : Value::Null();
    case kEmbedFonts:
      return Value(f->embedFonts);
    case kHtml:
      return Value(f->html);
    case kBorder:
      return Value(f->border);
    case kBackground:
      return Value(f->background);
    case kWordWrap:
      return Value(f->wordWrap);
    case kPassword:
      return Value(f->password);
    case kMultiline:
      return Value(f->multiline);
    case kSelectable:
      return Value(f->selectable);
    case kLength:
      return Value(static_cast<double>(f->Length()));
    case kTextWidth:
      return Value(std::trunc(f->TextWidth() / 20));
    case kTextHeight:
      return Value(std::trunc(f->TextHeight() / 20));
    case kRestrict:
      return x.restrict ? Value(*x.restrict) : Value::Null();
    case kCondenseWhite:
      return Value(f->condenseWhite);
    case kMouseWheelEnabled:
      return Value(x.mouseWheelEnabled);
    case kStyleSheet: {
      auto* o = dynamic_cast<ClipObject*>(a.self);
      return o && o->styleSheet ? Value(o->styleSheet) : Value();
    }
    default:
      return {};
  }
}

Value TfSet(Vm& vm, CallArgs& a) {
  Clip* clip = nullptr;
  text::TextField* f = FieldOf(a.self, &clip);
  if (!f) return {};
  auto& x = f->settings;
  const Value& v = a[0];
  auto num = [&](double& out) {
    const double d = vm.ToNumber(v);
    if (std::isfinite(d)) out = d;
  };
  switch (PropOf(a)) {
    case kGridFitType:
      x.gridFitType = vm.ToString(v);
      break;
    case kAntiAliasType:
      x.antiAliasType = vm.ToString(v);
      break;
    case kThickness:
      num(x.thickness);
      break;
    case kSharpness:
      num(x.sharpness);
      break;
    case kFilters:
      clip->filters = FiltersFromScript(vm, v);
      break;
    case kScroll: {
      const double d = vm.ToNumber(v);
      if (std::isfinite(d)) f->SetScroll(static_cast<int>(std::clamp(d, -1e9, 1e9)));
      break;
    }
    case kBorderColor:
      f->borderColor = ColorOfNumber(vm.ToNumber(v));
      break;
    case kBackgroundColor:
      f->backgroundColor = ColorOfNumber(vm.ToNumber(v));
      break;
    case kTextColor:
      f->SetTextColor(ColorOfNumber(vm.ToNumber(v)));
      break;
    case kTabIndex:
      if (v.IsUndefined())
        x.tabIndex.reset();
      else
        x.tabIndex = vm.ToNumber(v);
      break;
    case kAutoSize: {
      text::AutoSize s = text::AutoSize::kNone;
      if (v.type == Type::kBoolean) {
        s = v.b ? text::AutoSize::kLeft : text::AutoSize::kNone;
      } else {
        const std::string n = vm.ToString(v);
        if (n == "left")
          s = text::AutoSize::kLeft;
        else if (n == "center")
          s = text::AutoSize::kCenter;
        else if (n == "right")
          s = text::AutoSize::kRight;
      }
      f->SetAutoSize(s);
      break;
    }
    case kText:
      if (auto* o = dynamic_cast<ClipObject*>(a.self); o && o->styleSheet)
        f->SetStyleRules(RulesOf(vm, o->styleSheet));
      f->SetText(vm.ToString(v));
      WriteVariable(vm, *clip, f->Text());
      break;
    case kType: {
      const std::string t = vm.ToString(v);
      if (EqualsFolded(t, "input"))
        f->input = true;
      else if (EqualsFolded(t, "dynamic"))
        f->input = false;
      break;
    }
    case kHtmlText:
      if (auto* o = dynamic_cast<ClipObject*>(a.self); o && o->styleSheet)
        f->SetStyleRules(RulesOf(vm, o->styleSheet));
      f->SetHtmlText(vm.ToString(v));
      WriteVariable(vm, *clip, f->html ? f->HtmlText() : f->Text());
      break;
    case kVariable:
      f->SetVariableName(v.IsUndefined() || v.IsNull() ? std::string() : vm.ToString(v));
      break;
    case kMaxChars: {
      double d = 0;
      num(d);
      f->maxChars = static_cast<int>(std::clamp(d, 0.0, 1e9));
      break;
    }
    case kEmbedFonts:
      f->SetEmbedFonts(vm.ToBool(v));
      break;
    case kHtml:
      f->SetHtml(vm.ToBool(v));
      break;
    case kBorder:
      f->border = vm.ToBool(v);
      break;
    case kBackground:
      f->background = vm.ToBool(v);
      break;
    case kWordWrap:
      f->SetWordWrap(vm.ToBool(v));
      break;
    case kPassword:
      f->SetPassword(vm.ToBool(v));
      break;
    case kMultiline:
      f->SetMultiline(vm.ToBool(v));
      break;
    case kSelectable:
      f->selectable = vm.ToBool(v);
      break;
    case kRestrict:
      if (v.IsUndefined() || v.IsNull())
        x.restrict.reset();
      else
        x.restrict = vm.ToString(v);
      break;
    case kCondenseWhite:
      f->condenseWhite = vm.ToBool(v);
      break;
    case kMouseWheelEnabled:
      x.mouseWheelEnabled = vm.ToBool(v);
      break;
    case kStyleSheet: {
      // Any object but a clip is taken; anything else takes the style sheet away.
      auto* o = dynamic_cast<ClipObject*>(a.self);
      if (!o) break;
      Object* sheet = v.AsObject();
      if (sheet && (sheet->cls() == ObjClass::kClip || ClipOf(sheet))) sheet = nullptr;
      o->styleSheet = sheet;
      f->SetStyled(sheet != nullptr);
      if (sheet) {
        f->SetStyleRules(RulesOf(vm, sheet));
        f->Restyle();
      }
      break;
    }
    default:
      break;
  }
  return {};
}

// The range arguments of getTextFormat / setTextFormat: (), (index), (begin, end).
bool RangeOf(Vm& vm, CallArgs& a, std::size_t count, const text::TextField& f, std::size_t& begin,
             std::size_t& end) {
  const double n = static_cast<double>(f.Length());
  begin = 0;
  end = f.Length();
  if (count == 0) return true;
  double b = vm.ToNumber(a[0]);
  if (!std::isfinite(b)) b = 0;
  b = std::clamp(std::floor(b), 0.0, n);
  if (count == 1) {
    if (b >= n && n > 0) return false;
    begin = static_cast<std::size_t>(b);
    end = begin + 1;
    return true;
  }
  double e = vm.ToNumber(a[1]);
  if (!std::isfinite(e)) e = n;
  e = std::clamp(std::floor(e), 0.0, n);
  if (e < b) return false;
  begin = static_cast<std::size_t>(b);
  end = static_cast<std::size_t>(e);
  return true;
}

Value TfGetTextFormat(Vm& vm, CallArgs& a) {
  text::TextField* f = FieldOf(a.self);
  if (!f) return {};
  std::size_t b = 0, e = 0;
  const std::size_t count = std::min<std::size_t>(a.size(), 2);
  if (!RangeOf(vm, a, count, *f, b, e)) return FormatObject(vm, {});
  if (count == 2 && b == e) return FormatObject(vm, {});
  return FormatObject(vm, f->FormatOf(b, e));
}

Value TfSetTextFormat(Vm& vm, CallArgs& a) {
  Clip* clip = nullptr;
  text::TextField* f = FieldOf(a.self, &clip);
  if (!f || a.size() == 0) return {};
  const std::size_t count = std::min<std::size_t>(a.size() - 1, 2);
  Object* fmt = a[count].AsObject();
  if (!fmt) return {};
  std::size_t b = 0, e = 0;
  if (!RangeOf(vm, a, count, *f, b, e)) return {};
  f->ApplyFormat(b, e, PatchOf(vm, fmt));
  return {};
}

Value TfGetNewTextFormat(Vm& vm, CallArgs& a) {
  text::TextField* f = FieldOf(a.self);
  return f ? FormatObject(vm, f->NewFormatPatch()) : Value();
}

Value TfSetNewTextFormat(Vm& vm, CallArgs& a) {
  text::TextField* f = FieldOf(a.self);
  if (f && a[0].AsObject()) f->ApplyNewFormat(PatchOf(vm, a[0].AsObject()));
  return {};
}

Value TfReplaceText(Vm& vm, CallArgs& a) {
  Clip* clip = nullptr;
  text::TextField* f = FieldOf(a.self, &clip);
  if (!f || a.size() < 3) return {};
  const double n = static_cast<double>(f->Length());
  double b = vm.ToNumber(a[0]), e = vm.ToNumber(a[1]);
  if (!std::isfinite(b) || !std::isfinite(e) || b < 0 || e < b) return {};
  f->ReplaceText(static_cast<std::size_t>(std::min(b, n)), static_cast<std::size_t>(std::min(e, n)),
                 vm.ToString(a[2]));
  WriteVariable(vm, *clip, f->Text());
  return {};
}

Value TfReplaceSel(Vm& vm, CallArgs& a) {
  Clip* clip = nullptr;
  text::TextField* f = FieldOf(a.self, &clip);
  if (!f || a.size() < 1) return {};
  f->ReplaceSelection(vm.ToString(a[0]));
  WriteVariable(vm, *clip, f->Text());
  return {};
}

Value TfRemove(Vm&, CallArgs& a) {
  Clip* c = ClipOf(a.self);
  if (c && c->kind == ClipKind::kEditText && c->parent && c->depth >= kDepthOffset) c->Remove();
  return {};
}

Value TfGetDepth(Vm&, CallArgs& a) {
  Clip* c = ClipOf(a.self);
  return c ? Value(c->depth - kDepthOffset) : Value();
}

Value TfSwapDepths(Vm& vm, CallArgs& a) {
  Clip* c = ClipOf(a.self);
  if (!c) return {};
  if (Clip* other = ClipOf(a[0].AsObject()))
    c->SwapDepths(*other);
  else if (a.size() > 0)
    c->SwapDepths(static_cast<int>(vm.ToNumber(a[0])));
  return {};
}

Value TfGetFontList(Vm& vm, CallArgs&) {
  auto it = Runtimes().find(&vm);
  Object* arr = vm.NewArray();
  if (it == Runtimes().end()) return Value(arr);
  for (const std::string& f : it->second->stage().fonts().DeviceFamilies())
    vm.ArrayPush(arr, Value(f));
  return Value(arr);
}

Value TfConstruct(Vm&, CallArgs& a) {
  return a.self ? Value(a.self) : Value();
}

Value CreateTextField(Vm& vm, CallArgs& a) {
  Clip* parent = ClipOf(a.self);
  Runtime* rt = RuntimeOf(a.self);
  if (!parent || !rt || a.size() < 6 || parent->kind != ClipKind::kMovie) return {};
  const std::string name = vm.ToString(a[0]);
  double nums[5];
  for (int i = 0; i < 5; ++i) {
    nums[i] = vm.ToNumber(a[static_cast<std::size_t>(i) + 1]);
    if (!std::isfinite(nums[i])) nums[i] = 0;
  }
  const double depth = std::clamp(nums[0], -16384.0, 2130706428.0);
  Clip* c = parent->CreateTextField(name, static_cast<int>(depth), nums[1] * 20, nums[2] * 20,
                                    std::abs(nums[3]) * 20, std::abs(nums[4]) * 20);
  if (!c) return {};
  Object* o = rt->ScriptObjectOf(c);
  // Version 8 answers the new field; earlier ones nothing.
  return vm.version() >= 8 && o ? Value(o) : Value();
}

// Where a field's variable lives: the object and the name, from the timeline the field is on
// (a field in a button state lives on the button's timeline).
Object* VariableHome(Vm& vm, Runtime& rt, Clip& clip, std::string& name) {
  if (!clip.field) return nullptr;
  Clip* timeline = clip.parent;
  while (timeline && timeline->kind != ClipKind::kMovie) timeline = timeline->parent;
  if (!timeline) return nullptr;
  std::string path = clip.field->VariableName();
  Object* home = rt.ScriptObjectOf(timeline);
  const std::size_t cut = path.find_last_of(".:");
  if (cut != std::string::npos) {
    name = path.substr(cut + 1);
    path.resize(cut);
    home = vm.ResolveTarget(home, path);
  } else {
    name = path;
  }
  return name.empty() ? nullptr : home;
}

void WriteVariable(Vm& vm, Clip& clip, const std::string& value) {
  auto it = Runtimes().find(&vm);
  Runtime* rt = it == Runtimes().end() ? nullptr : it->second;
  if (!rt || !clip.field || clip.field->VariableName().empty()) return;
  std::string name;
  if (Object* home = VariableHome(vm, *rt, clip, name)) {
    vm.Set(home, name, Value(value));
    clip.field->ShowVariableValue(value);
  }
}

void ReadVariable(Vm& vm, Clip& clip) {
  auto it = Runtimes().find(&vm);
  if (it == Runtimes().end() || !clip.field || clip.field->VariableName().empty()) return;
  std::string name;
  if (Object* home = VariableHome(vm, *it->second, clip, name)) {
    const Value v = vm.Get(home, name);
    if (!v.IsUndefined()) clip.field->ShowVariableValue(vm.ToString(v));
  }
}

}  // namespace

void InstallTextField(Runtime& rt) {
  Vm& vm = rt.vm();
  Runtimes()[&vm] = &rt;
  // TextField.
  Object* proto = vm.NewObject();
  rt.textFieldProto = proto;
  Object* ctor = MakeClass(vm, vm.global, "TextField", TfConstruct, TfConstruct, proto);
  vm.Method(ctor, "getFontList", TfGetFontList);
  Object* sheetProto = vm.NewObject();
  MakeClass(vm, ctor, "StyleSheet", SheetConstruct, SheetConstruct, sheetProto);
  // Scripts see the prototype from version 6 on, style sheets from version 7.
  if (Property* p = ctor->FindOwn("prototype")) p->flags |= prop::kVersion6;
  if (Property* p = ctor->FindOwn("StyleSheet")) p->flags |= prop::kVersion7;
  const std::pair<const char*, NativeFn> sheetMethods[] = {
      {"setStyle", SheetSetStyle},           {"getStyle", SheetGetStyle},
      {"getStyleNames", SheetGetStyleNames}, {"clear", SheetClear},
      {"parseCSS", SheetParseCss},           {"parse", SheetParseCss},
      {"transform", SheetTransform},         {"load", SheetLoad},
  };
  for (auto& [n, fn] : sheetMethods) {
    vm.Method(sheetProto, n, fn);
    if (Property* p = sheetProto->FindOwn(n))
      p->flags |= prop::kDontEnum | prop::kDontDelete | prop::kReadOnly;
  }
  for (int i = 0; i < kPropCount; ++i) {
    Property& p = proto->props().Add(kPropNames[i]);
    p.getter = vm.NewNative(TfGet, i);
    p.setter = vm.NewNative(TfSet, i);
    // The rendering settings and filters came with version 8.
    if (i <= kFilters) p.flags = prop::kVersion8;
  }
  const std::pair<const char*, NativeFn> methods[] = {
      {"getTextFormat", TfGetTextFormat},
      {"setTextFormat", TfSetTextFormat},
      {"getNewTextFormat", TfGetNewTextFormat},
      {"setNewTextFormat", TfSetNewTextFormat},
      {"replaceText", TfReplaceText},
      {"replaceSel", TfReplaceSel},
      {"removeTextField", TfRemove},
      {"getDepth", TfGetDepth},
      {"swapDepths", TfSwapDepths},
  };
  for (auto& [n, f] : methods) vm.Method(proto, n, f);
  // TextFormat.
  Object* formatProto = vm.NewObject();
  MakeClass(vm, vm.global, "TextFormat", FormatConstruct, FormatConstruct, formatProto);
  vm.Method(formatProto, "getTextExtent", FormatTextExtent);
  for (int i = 0; i < kFmtCount; ++i) {
    Property& p = formatProto->props().Add(kFormatNames[i]);
    p.getter = vm.NewNative(FormatGet, i);
    p.setter = vm.NewNative(FormatSet, i);
    p.flags = prop::kDontEnum;
  }
  // MovieClip.createTextField.
  if (vm.clipProto) vm.Method(vm.clipProto, "createTextField", CreateTextField);
}

void ForgetTextField(Runtime& rt) {
  Runtimes().erase(&rt.vm());
}

void TextFieldCreated(Runtime& rt, Clip& clip, Object* object) {
  Vm& vm = rt.vm();
  // Every field broadcasts to itself first (onChanged, onScroller ...).
  InitializeBroadcaster(vm, object);
  if (Object* listeners = vm.Get(object, "_listeners").AsObject())
    vm.ArrayPush(listeners, Value(object));
  if (!clip.field || clip.field->VariableName().empty()) return;
  std::string name;
  Object* home = VariableHome(vm, rt, clip, name);
  if (!home) return;
  const Value v = vm.Get(home, name);
  if (v.IsUndefined())
    vm.Set(home, name, Value(clip.field->html ? clip.field->HtmlText() : clip.field->Text()));
  else
    clip.field->ShowVariableValue(vm.ToString(v));
}

void TypeIntoField(Runtime& rt, Clip& clip, char32_t ch) {
  PasteIntoField(rt, clip, std::u32string(1, ch));
}

void PasteIntoField(Runtime& rt, Clip& clip, std::u32string_view chars) {
  text::TextField* f = clip.field.get();
  if (!f || !f->input) return;
  // What the field takes of the text: characters it lets in (in the case it lets in), up to its
  // most characters.
  const std::size_t kept = f->Length() - (f->SelectionEnd() - f->SelectionBegin());
  std::size_t room = std::u32string::npos;
  if (f->maxChars > 0)
    room = kept >= static_cast<std::size_t>(f->maxChars)
               ? 0
               : static_cast<std::size_t>(f->maxChars) - kept;
  std::u32string taken;
  for (const char32_t ch : chars) {
    if (taken.size() >= room) break;
    if (ch < 0x20 || ch == 0x7F || ch > 0x10FFFF) continue;
    if (const auto c = text::RestrictedCharacter(f->settings.restrict, ch)) taken.push_back(*c);
  }
  if (taken.empty()) return;
  if (!f->HasSelection()) f->SetSelection(f->Length(), f->Length());
  f->ReplaceSelection(text::EncodeUtf8(taken));
  Vm& vm = rt.vm();
  WriteVariable(vm, clip, f->Text());
  if (Object* o = rt.ScriptObjectOf(&clip)) Broadcast(vm, o, "onChanged", {Value(o)});
}

void ShowBoundVariables(Runtime& rt, Clip& clip, int nesting) {
  if (nesting > Stage::kMaxNesting) return;
  for (auto& [d, child] : clip.children()) {
    Clip& c = *child;
    if (c.kind == ClipKind::kEditText && c.field && !c.field->VariableName().empty()) {
      std::string name;
      if (Object* home = VariableHome(rt.vm(), rt, c, name)) {
        const Value v = rt.vm().Get(home, name);
        if (!v.IsUndefined()) c.field->ShowVariableValue(rt.vm().ToString(v));
      }
    }
    if (!c.children().empty()) ShowBoundVariables(rt, c, nesting + 1);
  }
}

}  // namespace dbx::swf::avm1
