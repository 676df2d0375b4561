#include "swf/text/text_field.h"

#include <algorithm>
#include <cmath>

namespace dbx::swf::text {

TextField::TextField(const EditText& def, int version, FontLibrary& fonts, const Movie* movie)
    : fonts_(fonts), movie_(movie), version_(version), variable_(def.variableName) {
  html = def.html;
  wordWrap = def.wordWrap;
  multiline = def.multiline;
  password = def.password;
  embedFonts = def.useOutlines;
  border = background = def.border;
  selectable = !def.noSelect;
  input = !def.readOnly;
  maxChars = def.maxLength;
  autoSize_ = def.autoSize ? AutoSize::kLeft : AutoSize::kNone;
  box_ = {static_cast<float>(def.xmin), static_cast<float>(def.ymin), static_cast<float>(def.xmax),
          static_cast<float>(def.ymax)};
  if (def.hasFont) {
    if (const EmbeddedFace* face = fonts_.Embedded(def.font, movie_)) {
      newFormat_.font = face->font().name;
      newFormat_.bold = face->font().bold;
      newFormat_.italic = face->font().italic;
    } else if (const Font* f = fonts_.FontDefinition(def.font, movie_)) {
      newFormat_.font = f->name;
      newFormat_.bold = f->bold;
      newFormat_.italic = f->italic;
    }
  }
  if (!def.fontClass.empty() && newFormat_.font == CharFormat{}.font)
    newFormat_.font = def.fontClass;
  newFormat_.size = def.height;
  if (def.hasColor) newFormat_.color = def.color;
  newPara_.align = def.align;
  newPara_.leftMargin = static_cast<float>(def.leftMargin);
  newPara_.rightMargin = static_cast<float>(def.rightMargin);
  newPara_.indent = static_cast<float>(def.indent);
  newPara_.leading = static_cast<float>(def.leading);
  content_ = PlainText(U"", newFormat_, newPara_);
  if (!def.initialText.empty()) {
    if (html)
      SetHtmlText(def.initialText);
    else
      SetText(def.initialText);
  }
}

std::string TextField::Text() const {
  return EncodeUtf8(content_.text);
}

void TextField::SetText(std::string_view utf8) {
  if (styled_) {
    SetStyledText(utf8);
    return;
  }
  content_ = PlainText(DecodeUtf8(utf8), newFormat_, newPara_);
  Changed();
}

std::string TextField::HtmlText() const {
  if (styled_) return styledSource_ ? *styledSource_ : EncodeUtf8(ToHtml(content_));
  if (!html) return Text();
  return EncodeUtf8(ToHtml(content_));
}

void TextField::SetHtmlText(std::string_view utf8) {
  if (styled_) {
    SetStyledText(utf8);
    return;
  }
  if (!html) {
    SetText(utf8);
    return;
  }
  // Markup says itself what is bold, italic or underlined; the rest comes from the field.
  CharFormat base = newFormat_;
  base.bold = base.italic = base.underline = false;
  // (In movies before version 7 the markup of a single-line field breaks paragraphs as any other.)
  content_ = ParseHtml(DecodeUtf8(utf8), base, newPara_, condenseWhite, multiline || version_ < 7,
                       nullptr, version_ < 8);
  Changed();
}

void TextField::ShowVariableValue(std::string_view utf8) {
  if (shownValue_ && *shownValue_ == utf8) return;
  shownValue_ = std::string(utf8);
  if (html)
    SetHtmlText(utf8);
  else
    SetText(utf8);
}

void TextField::SetAutoSize(AutoSize a) {
  autoSize_ = a;
  Changed();
}
void TextField::SetWordWrap(bool on) {
  wordWrap = on;
  Changed();
}
void TextField::SetEmbedFonts(bool on) {
  embedFonts = on;
  Changed();
}
void TextField::SetPassword(bool on) {
  password = on;
  Changed();
}

void TextField::SetTextColor(Rgba c) {
  newFormat_.color = c;
  RichText next;
  next.text = content_.text;
  next.paragraphs = content_.paragraphs;
  next.formatOf.reserve(content_.formatOf.size());
  for (std::uint32_t f : content_.formatOf) {
    CharFormat cf = content_.formats[f];
    cf.color = c;
    next.formatOf.push_back(next.FormatIndex(cf));
  }
  content_ = std::move(next);
  Changed();
}

void TextField::SetNewFormat(const CharFormat& f, const ParaFormat& p) {
  newFormat_ = f;
  newPara_ = p;
}

void TextField::SetFormat(std::size_t begin, std::size_t end, const CharFormat& f,
                          const ParaFormat* p) {
  const std::size_t n = content_.text.size();
  end = std::min(end, n);
  if (n == 0) {
    newFormat_ = f;
    if (p) newPara_ = *p;
    content_ = PlainText(U"", f, p ? *p : newPara_);
    Changed();
    return;
  }
  if (begin >= end) return;
  const std::uint32_t idx = content_.FormatIndex(f);
  for (std::size_t i = begin; i < end; ++i) content_.formatOf[i] = idx;
  if (p) {
    std::size_t para = 0;
    for (std::size_t i = 0; i < n; ++i) {
      const bool inRange = i + 1 > begin && i < end;
      if (inRange && para < content_.paragraphs.size()) content_.paragraphs[para] = *p;
      if (content_.text[i] == U'\r') ++para;
    }
  }
  Changed();
}

Face* TextField::FaceFor(const CharFormat& f) {
  // A field with embedded fonts draws only with the movie's fonts; others with installed ones.
  return embedFonts ? fonts_.EmbeddedByName(f.font, f.bold, f.italic, movie_)
                    : fonts_.Device(f.font, f.bold, f.italic);
}

void TextField::SetSize(float width, float height) {
  box_.xmax = box_.xmin + std::max(0.0f, width);
  box_.ymax = box_.ymin + std::max(0.0f, height);
  Changed();
}

TextField::Box TextField::Bounds() {
  CurrentLayout();
  return laidOutBox_;
}

const Layout& TextField::CurrentLayout() {
  if (!dirty_ && layoutFonts_ == fonts_.generation()) return layout_;
  dirty_ = false;
  layoutFonts_ = fonts_.generation();
  LayoutOptions o;
  o.wordWrap = wordWrap;
  o.password = password;
  o.trailingBlanksCount = version_ < 8;
  o.faceFor = [this](const CharFormat& f) { return FaceFor(f); };
  o.width = std::max(0.0f, box_.xmax - box_.xmin - 2 * kGutter);
  layout_ = LayOut(content_, o);
  Box b = box_;
  if (autoSize_ != AutoSize::kNone) {
    b.ymax = b.ymin + layout_.fitHeight + 2 * kGutter;
    if (!wordWrap) {
      const float w = layout_.fitWidth + 2 * kGutter;
      const float old = b.xmax - b.xmin;
      if (autoSize_ == AutoSize::kRight) {
        b.xmin = b.xmax - w;
      } else if (autoSize_ == AutoSize::kCenter) {
        b.xmin += (old - w) / 2;
        b.xmax = b.xmin + w;
      } else {
        b.xmax = b.xmin + w;
      }
      // Lines aligned within the old width are aligned again within the new one.
      if (std::fabs(w - old) > 0.5f) {
        o.width = std::max(0.0f, w - 2 * kGutter);
        layout_ = LayOut(content_, o);
      }
    }
  }
  laidOutBox_ = b;
  scroll_ = std::clamp(scroll_, 1, std::max(1, MaxScroll()));
  return layout_;
}

int TextField::MaxScroll() {
  const Layout& l = CurrentLayout();
  if (l.lines.empty()) return 1;
  const float visible = laidOutBox_.ymax - laidOutBox_.ymin - 2 * kGutter;
  // The first line that, scrolled to the top, shows the last line whole.
  const float bottom = l.lines.back().top + l.lines.back().ascent + l.lines.back().descent;
  int line = 1;
  while (static_cast<std::size_t>(line) < l.lines.size() &&
         bottom - l.lines[static_cast<std::size_t>(line) - 1].top > visible + 0.5f)
    ++line;
  return line;
}

int TextField::BottomScroll() {
  const Layout& l = CurrentLayout();
  if (l.lines.empty()) return 1;
  const float visible = laidOutBox_.ymax - laidOutBox_.ymin - 2 * kGutter;
  const std::size_t first = static_cast<std::size_t>(scroll_ - 1);
  const float top = first < l.lines.size() ? l.lines[first].top : 0;
  int last = scroll_;
  for (std::size_t i = first; i < l.lines.size(); ++i) {
    if (l.lines[i].top + l.lines[i].ascent + l.lines[i].descent - top > visible + 0.5f) break;
    last = static_cast<int>(i) + 1;
  }
  return last;
}

void TextField::SetScroll(int line) {
  scroll_ = std::clamp(line, 1, std::max(1, MaxScroll()));
}

}  // namespace dbx::swf::text

namespace dbx::swf::text {

void FormatPatch::ApplyTo(CharFormat& f) const {
  if (font) f.font = *font;
  if (url) f.url = *url;
  if (target) f.target = *target;
  if (size) f.size = *size;
  if (letterSpacing) f.letterSpacing = *letterSpacing;
  if (color) f.color = *color;
  if (bold) f.bold = *bold;
  if (italic) f.italic = *italic;
  if (underline) f.underline = *underline;
  if (kerning) f.kerning = *kerning;
}

void FormatPatch::ApplyTo(ParaFormat& p) const {
  if (bullet) p.bullet = *bullet;
  if (align) p.align = *align;
  if (leftMargin) p.leftMargin = *leftMargin;
  if (rightMargin) p.rightMargin = *rightMargin;
  if (indent) p.indent = *indent;
  if (blockIndent) p.blockIndent = *blockIndent;
  if (leading) p.leading = *leading;
  if (tabStops) p.tabStops = *tabStops;
}

FormatPatch FormatPatch::Of(const CharFormat& f, const ParaFormat& p) {
  FormatPatch r;
  r.font = f.font;
  r.url = f.url;
  r.target = f.target;
  r.size = f.size;
  r.letterSpacing = f.letterSpacing;
  r.color = f.color;
  r.bold = f.bold;
  r.italic = f.italic;
  r.underline = f.underline;
  r.kerning = f.kerning;
  r.bullet = p.bullet;
  r.align = p.align;
  r.leftMargin = p.leftMargin;
  r.rightMargin = p.rightMargin;
  r.indent = p.indent;
  r.blockIndent = p.blockIndent;
  r.leading = p.leading;
  r.tabStops = p.tabStops;
  return r;
}

namespace {
template <class T>
void Keep(std::optional<T>& a, const std::optional<T>& b) {
  if (a && (!b || !(*a == *b))) a.reset();
}
}  // namespace

void FormatPatch::Intersect(const FormatPatch& o) {
  Keep(font, o.font);
  Keep(url, o.url);
  Keep(target, o.target);
  Keep(size, o.size);
  Keep(letterSpacing, o.letterSpacing);
  Keep(color, o.color);
  Keep(bold, o.bold);
  Keep(italic, o.italic);
  Keep(underline, o.underline);
  Keep(kerning, o.kerning);
  Keep(bullet, o.bullet);
  Keep(align, o.align);
  Keep(leftMargin, o.leftMargin);
  Keep(rightMargin, o.rightMargin);
  Keep(indent, o.indent);
  Keep(blockIndent, o.blockIndent);
  Keep(leading, o.leading);
  Keep(tabStops, o.tabStops);
}

namespace {
// The paragraph of each character ('\r' belongs to the paragraph it ends).
std::vector<std::size_t> ParagraphOfEach(const RichText& t) {
  std::vector<std::size_t> out(t.text.size());
  std::size_t para = 0;
  for (std::size_t i = 0; i < t.text.size(); ++i) {
    out[i] = std::min(para, t.paragraphs.empty() ? 0 : t.paragraphs.size() - 1);
    if (t.text[i] == U'\r') ++para;
  }
  return out;
}
}  // namespace

void TextField::ApplyFormat(std::size_t begin, std::size_t end, const FormatPatch& patch) {
  const std::size_t n = content_.text.size();
  end = std::min(end, n);
  if (n == 0) {
    patch.ApplyTo(newFormat_);
    patch.ApplyTo(newPara_);
    content_ = PlainText(U"", newFormat_, newPara_);
    Changed();
    return;
  }
  if (begin >= end) return;
  const std::vector<std::size_t> paraOf = ParagraphOfEach(content_);
  std::vector<bool> touched(content_.paragraphs.size(), false);
  for (std::size_t i = begin; i < end; ++i) {
    CharFormat cf = content_.formats[content_.formatOf[i]];
    patch.ApplyTo(cf);
    content_.formatOf[i] = content_.FormatIndex(cf);
    if (!touched.empty()) touched[paraOf[i]] = true;
  }
  for (std::size_t p = 0; p < touched.size(); ++p)
    if (touched[p]) patch.ApplyTo(content_.paragraphs[p]);
  Changed();
}

FormatPatch TextField::FormatOf(std::size_t begin, std::size_t end) const {
  const std::size_t n = content_.text.size();
  if (n == 0) return NewFormatPatch();
  end = std::min(end, n);
  begin = std::min(begin, n - 1);
  if (end <= begin) end = begin + 1;
  const std::vector<std::size_t> paraOf = ParagraphOfEach(content_);
  auto at = [&](std::size_t i) {
    const ParaFormat& p = content_.paragraphs.empty() ? newPara_ : content_.paragraphs[paraOf[i]];
    return FormatPatch::Of(content_.formats[content_.formatOf[i]], p);
  };
  FormatPatch r = at(begin);
  for (std::size_t i = begin + 1; i < end; ++i) r.Intersect(at(i));
  return r;
}

void TextField::ApplyNewFormat(const FormatPatch& patch) {
  patch.ApplyTo(newFormat_);
  patch.ApplyTo(newPara_);
}

void TextField::ReplaceText(std::size_t begin, std::size_t end, std::string_view utf8) {
  const std::size_t n = content_.text.size();
  end = std::min(end, n);
  begin = std::min(begin, end);
  RichText next;
  next.paragraphs.clear();
  next.paragraphs.push_back(content_.paragraphs.empty() ? newPara_ : content_.paragraphs[0]);
  const std::vector<std::size_t> paraOf = ParagraphOfEach(content_);
  auto copy = [&](std::size_t from, std::size_t to) {
    for (std::size_t i = from; i < to; ++i) {
      const std::size_t p = paraOf[i];
      const ParaFormat& pf = content_.paragraphs.empty() ? newPara_ : content_.paragraphs[p];
      const ParaFormat& nextPf =
          content_.paragraphs.empty()
              ? newPara_
              : content_.paragraphs[std::min(p + 1, content_.paragraphs.size() - 1)];
      const char32_t c = content_.text[i];
      next.paragraphs.back() = pf;
      next.Append(std::u32string_view(&c, 1), content_.formats[content_.formatOf[i]], nextPf);
    }
  };
  copy(0, begin);
  next.Append(DecodeUtf8(utf8), newFormat_, newPara_);
  copy(end, n);
  if (next.formats.empty()) next.FormatIndex(newFormat_);
  content_ = std::move(next);
  Changed();
}

void TextField::SetSelection(std::size_t begin, std::size_t end) {
  selBegin_ = std::min(begin, end);
  selEnd_ = std::max(begin, end);
  caret_ = end;
  selected_ = true;
}

void TextField::ReplaceSelection(std::string_view utf8) {
  const std::size_t b = SelectionBegin(), e = std::max(b, SelectionEnd());
  ReplaceText(b, e, utf8);
  selBegin_ = selEnd_ = caret_ = b + DecodeUtf8(utf8).size();
  selected_ = true;
}

void TextField::SetStyled(bool on) {
  if (!on) {
    styledSource_.reset();
    styleRules_.clear();
  }
  styled_ = on;
}

void TextField::SetStyledText(std::string_view utf8) {
  CharFormat base = newFormat_;
  base.bold = base.italic = base.underline = false;
  content_ = ParseHtml(DecodeUtf8(utf8), base, newPara_, condenseWhite, multiline, &styleRules_,
                       version_ < 8);
  styledSource_ = std::string(utf8);
  Changed();
}

void TextField::SetHtml(bool on) {
  // A field that stops taking markup aligns its new text left again.
  if (html && !on) newPara_.align = TextAlign::kLeft;
  html = on;
  Changed();
}

void TextField::SetMultiline(bool on) {
  multiline = on;
  Changed();
}

namespace {

bool LetIn(const std::u32string& rule, char32_t ch) {
  bool in = !rule.empty() && rule[0] == U'^';
  bool letting = true;
  for (std::size_t i = 0; i < rule.size(); ++i) {
    char32_t lo = rule[i];
    if (lo == U'^') {
      letting = !letting;
      continue;
    }
    if (lo == U'\\' && i + 1 < rule.size()) lo = rule[++i];
    char32_t hi = lo;
    if (i + 2 < rule.size() && rule[i + 1] == U'-') {
      i += 2;
      hi = rule[i];
      if (hi == U'\\' && i + 1 < rule.size()) hi = rule[++i];
    }
    if (ch >= lo && ch <= hi) in = letting;
  }
  return in;
}

char32_t OtherCase(char32_t ch) {
  if (ch >= U'a' && ch <= U'z') return ch - U'a' + U'A';
  if (ch >= U'A' && ch <= U'Z') return ch - U'A' + U'a';
  return ch;
}

}  // namespace

std::optional<char32_t> RestrictedCharacter(const std::optional<std::string>& rule, char32_t ch) {
  if (!rule) return ch;
  const std::u32string chars = DecodeUtf8(*rule);
  if (LetIn(chars, ch)) return ch;
  if (const char32_t other = OtherCase(ch); other != ch && LetIn(chars, other)) return other;
  return std::nullopt;
}

}  // namespace dbx::swf::text
