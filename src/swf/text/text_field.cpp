#include "swf/text/text_field.h"

#include <algorithm>
#include <cmath>

namespace dbx::swf::text {

TextField::TextField(const EditText& def, int version, FontLibrary& fonts)
    : fonts_(fonts), version_(version), variable_(def.variableName) {
  html = def.html;
  wordWrap = def.wordWrap;
  multiline = def.multiline;
  password = def.password;
  embedFonts = def.useOutlines;
  border = background = def.border;
  selectable = !def.noSelect;
  maxChars = def.maxLength;
  autoSize_ = def.autoSize ? AutoSize::kLeft : AutoSize::kNone;
  box_ = {static_cast<float>(def.xmin), static_cast<float>(def.ymin), static_cast<float>(def.xmax),
          static_cast<float>(def.ymax)};
  if (def.hasFont) {
    if (const EmbeddedFace* face = fonts_.Embedded(def.font)) {
      newFormat_.font = face->font().name;
      newFormat_.bold = face->font().bold;
      newFormat_.italic = face->font().italic;
    } else if (const Font* f = fonts_.FontDefinition(def.font)) {
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
  content_ = PlainText(DecodeUtf8(utf8), newFormat_, newPara_);
  Changed();
}

std::string TextField::HtmlText() const {
  if (!html) return Text();
  return EncodeUtf8(ToHtml(content_));
}

void TextField::SetHtmlText(std::string_view utf8) {
  if (!html) {
    SetText(utf8);
    return;
  }
  // Markup says itself what is bold, italic or underlined; the rest comes from the field.
  CharFormat base = newFormat_;
  base.bold = base.italic = base.underline = false;
  content_ = ParseHtml(DecodeUtf8(utf8), base, newPara_);
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
  return embedFonts ? fonts_.EmbeddedByName(f.font, f.bold, f.italic)
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
  if (!dirty_) return layout_;
  dirty_ = false;
  LayoutOptions o;
  o.wordWrap = wordWrap;
  o.password = password;
  o.faceFor = [this](const CharFormat& f) { return FaceFor(f); };
  o.width = std::max(0.0f, box_.xmax - box_.xmin - 2 * kGutter);
  layout_ = LayOut(content_, o);
  Box b = box_;
  if (autoSize_ != AutoSize::kNone) {
    b.ymax = b.ymin + layout_.textHeight + 2 * kGutter;
    if (!wordWrap) {
      const float w = layout_.textWidth + 2 * kGutter;
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
