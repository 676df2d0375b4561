#include "swf/text/rich_text.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>

#include "swf/text/faces.h"

namespace dbx::swf::text {

void RichText::Append(std::u32string_view chars, const CharFormat& format, const ParaFormat& para) {
  const std::uint32_t f = FormatIndex(format);
  for (std::size_t i = 0; i < chars.size(); ++i) {
    char32_t c = chars[i];
    if (c == U'\n' || c == U'\r') {
      c = U'\r';
      paragraphs.push_back(para);
    }
    text.push_back(c);
    formatOf.push_back(f);
  }
}

std::uint32_t RichText::FormatIndex(const CharFormat& format) {
  // The recent formats are searched (a text switches between few); an older equal one may be
  // added again, which costs room but keeps long markup linear.
  const std::size_t stop = formats.size() > 32 ? formats.size() - 32 : 0;
  for (std::size_t i = formats.size(); i-- > stop;)
    if (formats[i] == format) return static_cast<std::uint32_t>(i);
  formats.push_back(format);
  return static_cast<std::uint32_t>(formats.size() - 1);
}

RichText PlainText(std::u32string_view text, const CharFormat& format, const ParaFormat& para) {
  RichText r;
  r.paragraphs = {para};
  r.FormatIndex(format);
  r.Append(text, format, para);
  return r;
}

namespace {

char32_t Lower(char32_t c) {
  return c >= U'A' && c <= U'Z' ? c + 32 : c;
}

std::string Narrow(std::u32string_view s) {
  return EncodeUtf8(s);
}

bool IsSpace(char32_t c) {
  return c == U' ' || c == U'\t' || c == U'\n' || c == U'\r';
}

struct Tag {
  std::u32string name;  // lower case
  bool closing = false;
  std::vector<std::pair<std::u32string, std::u32string>> attrs;  // names lower case
  const std::u32string* Attr(std::u32string_view n) const {
    for (const auto& [k, v] : attrs)
      if (k == n) return &v;
    return nullptr;
  }
};

// Decodes one entity starting after '&'; returns the characters consumed (0: not an entity).
std::size_t Entity(std::u32string_view s, std::size_t at, char32_t& out) {
  const std::size_t semi = s.find(U';', at);
  if (semi == std::u32string_view::npos || semi - at > 10 || semi == at) return 0;
  const std::u32string_view name = s.substr(at, semi - at);
  if (name[0] == U'#') {
    long long v = 0;
    bool hex = name.size() > 1 && (name[1] == U'x' || name[1] == U'X');
    std::size_t i = hex ? 2 : 1;
    if (i >= name.size()) return 0;
    for (; i < name.size(); ++i) {
      const char32_t c = Lower(name[i]);
      int d;
      if (c >= U'0' && c <= U'9')
        d = static_cast<int>(c - U'0');
      else if (hex && c >= U'a' && c <= U'f')
        d = static_cast<int>(c - U'a' + 10);
      else
        return 0;
      v = v * (hex ? 16 : 10) + d;
      if (v > 0x10FFFF) return 0;
    }
    out = static_cast<char32_t>(v);
    return name.size() + 1;
  }
  static const struct {
    std::u32string_view name;
    char32_t ch;
  } kNamed[] = {{U"lt", U'<'},   {U"gt", U'>'},    {U"amp", U'&'},
                {U"quot", U'"'}, {U"apos", U'\''}, {U"nbsp", 0xA0}};
  for (const auto& n : kNamed)
    if (n.name == name) {
      out = n.ch;
      return name.size() + 1;
    }
  return 0;
}

std::u32string DecodeEntities(std::u32string_view s) {
  std::u32string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    char32_t c = 0;
    std::size_t n = 0;
    if (s[i] == U'&') n = Entity(s, i + 1, c);
    if (n) {
      out.push_back(c);
      i += n;
    } else {
      out.push_back(s[i]);
    }
  }
  return out;
}

// Reads a tag from just after '<' to just after '>'; false when there is no '>'.
bool ReadTag(std::u32string_view s, std::size_t& i, Tag& tag) {
  const std::size_t end = s.find(U'>', i);
  if (end == std::u32string_view::npos) return false;
  std::size_t p = i;
  i = end + 1;
  while (p < end && IsSpace(s[p])) ++p;
  if (p < end && s[p] == U'/') {
    tag.closing = true;
    ++p;
  }
  while (p < end && !IsSpace(s[p]) && s[p] != U'/') tag.name.push_back(Lower(s[p++]));
  while (p < end) {
    while (p < end && (IsSpace(s[p]) || s[p] == U'/')) ++p;
    std::u32string key;
    while (p < end && !IsSpace(s[p]) && s[p] != U'=' && s[p] != U'/') key.push_back(Lower(s[p++]));
    while (p < end && IsSpace(s[p])) ++p;
    std::u32string value;
    if (p < end && s[p] == U'=') {
      ++p;
      while (p < end && IsSpace(s[p])) ++p;
      if (p < end && (s[p] == U'"' || s[p] == U'\'')) {
        const char32_t q = s[p++];
        while (p < end && s[p] != q) value.push_back(s[p++]);
        if (p < end) ++p;
      } else {
        while (p < end && !IsSpace(s[p])) value.push_back(s[p++]);
      }
    }
    if (!key.empty()) tag.attrs.emplace_back(std::move(key), DecodeEntities(value));
  }
  return true;
}

std::optional<double> Number(const std::u32string& v) {
  const std::string n = Narrow(v);
  double d = 0;
  int used = 0;
  if (std::sscanf(n.c_str(), " %lf%n", &d, &used) != 1 || !std::isfinite(d)) return std::nullopt;
  return d;
}

std::optional<Rgba> Color(const std::u32string& v) {
  std::u32string h = v;
  if (!h.empty() && h[0] == U'#') h.erase(0, 1);
  if (h.size() >= 2 && h[0] == U'0' && Lower(h[1]) == U'x') h.erase(0, 2);
  if (h.empty() || h.size() > 8) return std::nullopt;
  std::uint32_t rgb = 0;
  for (char32_t c : h) {
    c = Lower(c);
    int d;
    if (c >= U'0' && c <= U'9')
      d = static_cast<int>(c - U'0');
    else if (c >= U'a' && c <= U'f')
      d = static_cast<int>(c - U'a' + 10);
    else
      return std::nullopt;
    rgb = rgb << 4 | static_cast<std::uint32_t>(d);
  }
  return Rgba{static_cast<std::uint8_t>(rgb >> 16), static_cast<std::uint8_t>(rgb >> 8),
              static_cast<std::uint8_t>(rgb), 255};
}

TextAlign AlignOf(const std::u32string& v, TextAlign fallback) {
  std::u32string l;
  for (char32_t c : v) l.push_back(Lower(c));
  if (l == U"left") return TextAlign::kLeft;
  if (l == U"right") return TextAlign::kRight;
  if (l == U"center") return TextAlign::kCenter;
  if (l == U"justify") return TextAlign::kJustify;
  return fallback;
}

float Twips(double px) {
  return static_cast<float>(std::clamp(px, -100000.0, 100000.0) * 20);
}

}  // namespace

RichText ParseHtml(std::u32string_view html, const CharFormat& base, const ParaFormat& basePara,
                   bool condenseWhite, bool multiline, const StyleRules* styles, bool legacy) {
  RichText out;
  out.paragraphs = {basePara};
  struct Open {
    std::u32string name;
    CharFormat format;
    ParaFormat para;
    std::size_t at = 0;  // the characters before it
  };
  std::vector<Open> stack;
  CharFormat fmt = base;
  ParaFormat para = basePara;
  bool paraOpen = false;  // inside <p> or <li>
  // (Older players) a <p> opened and not closed since: whatever opened or closed inside it.
  bool pOpen = false;
  // (Older players) the format of the breaks that closing a <p> makes, once a <font> closed with
  // no text in it: that font's, without bold, italic, underline or link, from then on.
  std::optional<CharFormat> pBreak;
  auto atParagraphStart = [&] { return out.text.empty() || out.text.back() == U'\r'; };
  auto breakParagraph = [&](const CharFormat& f) {
    out.Append(U"\r", f, para);
    out.paragraphs.back() = para;
  };
  auto startParagraph = [&] {
    if (multiline && !atParagraphStart()) breakParagraph(fmt);
    // (In older players a single-line field keeps the format of its first paragraph.)
    if (multiline || !legacy || atParagraphStart()) out.paragraphs.back() = para;
  };
  std::u32string pending;  // text not yet appended
  auto flush = [&] {
    if (pending.empty()) return;
    std::u32string t = DecodeEntities(pending);
    pending.clear();
    // (Older players dropped text of white space only between tags.)
    if (legacy && !condenseWhite && std::all_of(t.begin(), t.end(), IsSpace)) return;
    if (t.empty()) return;
    if (condenseWhite) {
      // Runs of white space become one blank; text of white space only goes.
      if (std::all_of(t.begin(), t.end(), IsSpace)) return;
      std::u32string c;
      for (char32_t ch : t) {
        if (IsSpace(ch)) {
          if (c.empty() || c.back() != U' ') c += U' ';
        } else {
          c += ch;
        }
      }
      t = std::move(c);
    }
    // The first text of a paragraph gives it the paragraph format in force there.
    const bool firstOfParagraph = atParagraphStart();
    if (firstOfParagraph) out.paragraphs.back() = para;
    // A newline in the markup breaks the paragraph as <br> does.
    for (char32_t ch : t) {
      if (ch == U'\n' || ch == U'\r') {
        breakParagraph(fmt);
      } else {
        out.Append(std::u32string_view(&ch, 1), fmt, para);
      }
    }
  };
  std::size_t i = 0;
  while (i < html.size()) {
    const char32_t c = html[i];
    if (c != U'<') {
      if (c == U'\r' && i + 1 < html.size() && html[i + 1] == U'\n') ++i;
      pending.push_back(c);
      ++i;
      continue;
    }
    std::size_t after = i + 1;
    Tag tag;
    if (!ReadTag(html, after, tag)) {
      // A '<' that starts no tag is dropped with the rest, as the original does.
      break;
    }
    flush();
    i = after;
    if (tag.closing) {
      // Close the innermost open tag of that name and everything opened inside it.
      auto it = std::find_if(stack.rbegin(), stack.rend(),
                             [&](const Open& o) { return o.name == tag.name; });
      if (it == stack.rend()) continue;
      // (Older players closed only the innermost tag: a closing tag of another one goes.)
      if (legacy && it != stack.rbegin()) continue;
      const std::size_t keep = static_cast<std::size_t>(stack.rend() - it) - 1;
      if (legacy && tag.name == U"font" && stack[keep].at == out.text.size()) {
        pBreak = fmt;
        pBreak->bold = pBreak->italic = pBreak->underline = false;
        pBreak->url.clear();
        pBreak->target.clear();
      }
      fmt = stack[keep].format;
      const ParaFormat closedPara = para;
      para = stack[keep].para;
      stack.resize(keep);
      const bool ends = legacy ? (tag.name == U"p" && pOpen) || tag.name == U"li"
                               : (tag.name == U"p" || tag.name == U"li") && paraOpen;
      if (tag.name == U"p") pOpen = false;
      if (ends) {
        // A multi-line field ends the paragraph there; a single line runs on.
        if (atParagraphStart()) out.paragraphs.back() = closedPara;
        // The break takes the format of the text it ends. In older players the break of a </li>
        // takes the format in force after it; that of a </p> the one an empty <font> left, or
        // else, ending no text, the field's own.
        CharFormat f = atParagraphStart() ? fmt : out.formats[out.formatOf.back()];
        if (legacy && tag.name == U"li")
          f = fmt;
        else if (legacy && pBreak)
          f = *pBreak;
        else if (legacy && atParagraphStart())
          f = base;
        if (multiline) breakParagraph(f);
        paraOpen = false;
      }
      continue;
    }
    const std::u32string& n = tag.name;
    if (n == U"br" || n == U"sbr") {
      // A single-line field runs on.
      if (multiline) breakParagraph(fmt);
      continue;
    }
    const bool known = n == U"p" || n == U"font" || n == U"b" || n == U"i" || n == U"u" ||
                       n == U"a" || n == U"li" || n == U"textformat" || n == U"span";
    if (!known) continue;
    stack.push_back({n, fmt, para, out.text.size()});
    if (styles && (n == U"p" || n == U"li" || n == U"a" || n == U"span")) {
      auto apply = [&](const std::u32string& selector) {
        const auto it = styles->find(selector);
        if (it == styles->end()) return;
        it->second.ApplyTo(fmt);
        it->second.ApplyTo(para);
      };
      if (n != U"span") apply(n);
      if (const auto* a = tag.Attr(U"class")) {
        std::u32string selector = U".";
        for (char32_t ch : *a)
          selector += ch < 128 ? static_cast<char32_t>(std::tolower(static_cast<int>(ch))) : ch;
        apply(selector);
      }
    }
    if (n == U"p") {
      if (const auto* a = tag.Attr(U"align")) para.align = AlignOf(*a, para.align);
      if (!legacy) {
        startParagraph();
      } else if (!pOpen && (multiline || atParagraphStart())) {
        // Older players break no line where a paragraph opens: it goes on from the text before
        // it, or the paragraph it opens inside.
        out.paragraphs.back() = para;
      }
      pOpen = true;
      paraOpen = true;
    } else if (n == U"li") {
      para.bullet = true;
      startParagraph();
      paraOpen = true;
    } else if (n == U"b") {
      fmt.bold = true;
    } else if (n == U"i") {
      fmt.italic = true;
    } else if (n == U"u") {
      fmt.underline = true;
    } else if (n == U"a") {
      if (const auto* a = tag.Attr(U"href")) fmt.url = Narrow(*a);
      if (const auto* a = tag.Attr(U"target")) fmt.target = Narrow(*a);
    } else if (n == U"font") {
      if (const auto* a = tag.Attr(U"face"); a && !a->empty()) fmt.font = Narrow(*a);
      if (const auto* a = tag.Attr(U"size")) {
        if (const auto v = Number(*a)) {
          double px = *v;
          if (!a->empty() && ((*a)[0] == U'+' || (*a)[0] == U'-')) px = fmt.size / 20.0 + *v;
          if (legacy) px = std::trunc(px);
          fmt.size =
              Twips(std::clamp(px, 1.0, legacy ? 127.0 : static_cast<double>(kMaxFontPixels)));
        }
      }
      if (const auto* a = tag.Attr(U"color"))
        if (const auto v = Color(*a)) fmt.color = *v;
      if (const auto* a = tag.Attr(U"letterspacing"))
        if (const auto v = Number(*a)) fmt.letterSpacing = Twips(*v);
      // (Older players took no kerning from markup.)
      if (const auto* a = tag.Attr(U"kerning"); a && !legacy)
        if (const auto v = Number(*a)) fmt.kerning = *v != 0;
    } else if (n == U"textformat") {
      if (const auto* a = tag.Attr(U"leftmargin"))
        if (const auto v = Number(*a)) para.leftMargin = Twips(std::max(0.0, *v));
      if (const auto* a = tag.Attr(U"rightmargin"))
        if (const auto v = Number(*a)) para.rightMargin = Twips(std::max(0.0, *v));
      if (const auto* a = tag.Attr(U"indent"))
        if (const auto v = Number(*a)) para.indent = Twips(*v);
      if (const auto* a = tag.Attr(U"blockindent"))
        if (const auto v = Number(*a)) para.blockIndent = Twips(std::max(0.0, *v));
      if (const auto* a = tag.Attr(U"leading"))
        if (const auto v = Number(*a)) para.leading = Twips(*v);
      if (const auto* a = tag.Attr(U"tabstops")) {
        // Numbers apart by commas; a piece that is no number ends the list.
        para.tabStops.clear();
        std::u32string_view rest = *a;
        while (!rest.empty() && para.tabStops.size() < kMaxTabStops) {
          const std::size_t comma = std::min(rest.find(U','), rest.size());
          const auto v = Number(std::u32string(rest.substr(0, comma)));
          if (!v) break;
          para.tabStops.push_back(Twips(*v));
          rest.remove_prefix(std::min(comma + 1, rest.size()));
        }
      }
      // A text format that opens a paragraph applies to it at once.
      if (atParagraphStart()) out.paragraphs.back() = para;
    }
  }
  flush();
  return out;
}

std::u32string ToHtml(const RichText& text) {
  auto esc = [](std::u32string_view s) {
    std::u32string o;
    for (char32_t c : s) {
      if (c == U'<')
        o += U"&lt;";
      else if (c == U'>')
        o += U"&gt;";
      else if (c == U'&')
        o += U"&amp;";
      else if (c == U'"')
        o += U"&quot;";
      else
        o.push_back(c);
    }
    return o;
  };
  auto wide = [&](std::string_view s) { return esc(DecodeUtf8(s)); };
  auto number = [](float twips) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", static_cast<double>(twips / 20));
    return DecodeUtf8(buf);
  };
  // The attributes of a <FONT> tag that give `to` where `from` holds (all of them without one).
  auto fontAttrs = [&](const CharFormat* from, const CharFormat& to) {
    std::u32string a;
    if (!from || from->font != to.font) a += U" FACE=\"" + wide(to.font) + U"\"";
    if (!from || std::lround(from->size / 20) != std::lround(to.size / 20))
      a += U" SIZE=\"" + DecodeUtf8(std::to_string(std::lround(to.size / 20))) + U"\"";
    if (!from || !(from->color == to.color)) {
      char buf[16];
      std::snprintf(buf, sizeof buf, "#%02X%02X%02X", to.color.r, to.color.g, to.color.b);
      a += U" COLOR=\"" + DecodeUtf8(buf) + U"\"";
    }
    if (!from || from->letterSpacing != to.letterSpacing)
      a += U" LETTERSPACING=\"" + number(to.letterSpacing) + U"\"";
    if (!from || from->kerning != to.kerning)
      a += std::u32string(U" KERNING=\"") + (to.kerning ? U"1" : U"0") + U"\"";
    return a;
  };
  auto sameFont = [](const CharFormat& a, const CharFormat& b) {
    return a.font == b.font && std::lround(a.size / 20) == std::lround(b.size / 20) &&
           a.color == b.color && a.letterSpacing == b.letterSpacing && a.kerning == b.kerning;
  };
  static const char32_t* kAlign[] = {U"LEFT", U"RIGHT", U"CENTER", U"JUSTIFY"};
  std::u32string out;
  const std::size_t n = text.text.size();
  if (n == 0 || text.formats.empty()) return out;
  std::size_t para = 0, i = 0;
  while (true) {
    const ParaFormat& pf = text.paragraphs[std::min(
        para, text.paragraphs.size() > 0 ? text.paragraphs.size() - 1 : 0)];
    std::u32string tf;
    if (pf.leftMargin != 0) tf += U" LEFTMARGIN=\"" + number(pf.leftMargin) + U"\"";
    if (pf.rightMargin != 0) tf += U" RIGHTMARGIN=\"" + number(pf.rightMargin) + U"\"";
    if (pf.indent != 0) tf += U" INDENT=\"" + number(pf.indent) + U"\"";
    if (pf.blockIndent != 0) tf += U" BLOCKINDENT=\"" + number(pf.blockIndent) + U"\"";
    if (pf.leading != 0) tf += U" LEADING=\"" + number(pf.leading) + U"\"";
    if (!pf.tabStops.empty()) {
      tf += U" TABSTOPS=\"";
      for (std::size_t k = 0; k < pf.tabStops.size(); ++k)
        tf += (k ? U"," : U"") + number(pf.tabStops[k]);
      tf += U"\"";
    }
    if (!tf.empty()) out += U"<TEXTFORMAT" + tf + U">";
    if (pf.bullet) {
      out += U"<LI>";
    } else {
      out += U"<P ALIGN=\"";
      out += kAlign[static_cast<int>(pf.align)];
      out += U"\">";
    }
    // The paragraph's first format opens it; a run in another format nests a <FONT> with what
    // differs, or closes back to an enclosing one that has its format exactly.
    const std::size_t first = std::min(i, n - 1);
    std::vector<CharFormat> stack{text.formats[text.formatOf[first]]};
    out += U"<FONT" + fontAttrs(nullptr, stack[0]) + U">";
    auto run = [&](const CharFormat& cf, std::u32string_view chars) {
      if (!sameFont(stack.back(), cf)) {
        std::size_t level = stack.size();
        for (std::size_t k = stack.size(); k-- > 0;)
          if (sameFont(stack[k], cf)) {
            level = k + 1;
            break;
          }
        if (level < stack.size()) {
          for (std::size_t k = stack.size(); k > level; --k) out += U"</FONT>";
          stack.resize(level);
        } else {
          out += U"<FONT" + fontAttrs(&stack.back(), cf) + U">";
          stack.push_back(cf);
        }
      }
      if (!cf.url.empty())
        out += U"<A HREF=\"" + wide(cf.url) + U"\" TARGET=\"" + wide(cf.target) + U"\">";
      if (cf.bold) out += U"<B>";
      if (cf.italic) out += U"<I>";
      if (cf.underline) out += U"<U>";
      out += esc(chars);
      if (cf.underline) out += U"</U>";
      if (cf.italic) out += U"</I>";
      if (cf.bold) out += U"</B>";
      if (!cf.url.empty()) out += U"</A>";
    };
    const std::size_t start = i;
    while (i < n && text.text[i] != U'\r') {
      std::size_t j = i;
      const std::uint32_t f = text.formatOf[i];
      while (j < n && text.text[j] != U'\r' && text.formatOf[j] == f) ++j;
      run(text.formats[f], std::u32string_view(text.text).substr(i, j - i));
      i = j;
    }
    // The break's own format, where it differs from the text before it, is an empty run.
    if (i < n &&
        (i == start || !(text.formats[text.formatOf[i - 1]] == text.formats[text.formatOf[i]])))
      run(text.formats[text.formatOf[i]], {});
    for (std::size_t k = 0; k < stack.size(); ++k) out += U"</FONT>";
    out += pf.bullet ? U"</LI>" : U"</P>";
    if (!tf.empty()) out += U"</TEXTFORMAT>";
    // The break ends its paragraph; nothing after the last one makes no paragraph.
    if (i + 1 >= n) break;
    ++i;
    ++para;
  }
  return out;
}

}  // namespace dbx::swf::text
