#include "swf/text/layout.h"

#include <algorithm>
#include <cmath>

namespace dbx::swf::text {

namespace {

constexpr float kTabStop = 800;       // twips between default tab stops
constexpr float kBulletIndent = 720;  // text of a list item starts this far in
constexpr float kBulletOffset = 100;  // the bullet's own place
constexpr char32_t kBullet = 0x2022;

// How far a tab at `at` (twips from the line's start) moves on: to the next of the paragraph's
// stops, past the last of them to the next default stop.
float TabAdvance(float at, const ParaFormat& pf) {
  for (float stop : pf.tabStops)
    if (stop > at) return stop - at;
  return (std::floor(at / kTabStop) + 1) * kTabStop - at;
}

struct Measured {
  Face* face = nullptr;
  std::optional<GlyphInfo> glyph;
  float advance = 0;  // twips, letter spacing and kerning included
  float scale = 0;    // twips per face unit
};

bool Blank(char32_t c) {
  return c == U' ' || c == U'\t' || c == 0x3000;
}

}  // namespace

Layout LayOut(const RichText& text, const LayoutOptions& options) {
  Layout out;
  const std::size_t n = text.text.size();
  auto formatAt = [&](std::size_t i) -> const CharFormat& {
    static const CharFormat kDefault;
    if (text.formats.empty()) return kDefault;
    const std::size_t f = i < text.formatOf.size() ? text.formatOf[i]
                          : text.formatOf.empty()  ? 0
                                                   : text.formatOf.back();
    return text.formats[std::min<std::size_t>(f, text.formats.size() - 1)];
  };
  std::vector<Face*> faceOfFormat(text.formats.size(), nullptr);
  std::vector<bool> faceKnown(text.formats.size(), false);
  auto faceAt = [&](std::size_t i) -> Face* {
    if (text.formats.empty() || !options.faceFor) return nullptr;
    const std::size_t f = std::min<std::size_t>(i < text.formatOf.size() ? text.formatOf[i] : 0,
                                                text.formats.size() - 1);
    if (!faceKnown[f]) {
      faceOfFormat[f] = options.faceFor(text.formats[f]);
      faceKnown[f] = true;
    }
    return faceOfFormat[f];
  };

  // Every character measured once.
  std::vector<Measured> m(n);
  for (std::size_t i = 0; i < n; ++i) {
    const char32_t raw = text.text[i];
    if (raw == U'\r') continue;
    const char32_t c = options.password ? U'*' : raw;
    const CharFormat& f = formatAt(i);
    Measured& mi = m[i];
    mi.face = faceAt(i);
    if (mi.face) {
      mi.scale = f.size / mi.face->EmUnits();
      mi.glyph = mi.face->Glyph(c == U'\t' ? U' ' : c);
      if (mi.glyph) {
        // Embedded glyphs advance by whole twips; installed faces, as the system lays them out,
        // by whole pixels.
        mi.advance = mi.face->Embedded() ? std::floor(mi.glyph->advance * mi.scale)
                                         : std::round(mi.glyph->advance * mi.scale / 20) * 20;
      } else if (!mi.face->Embedded()) {
        mi.advance = f.size * 0.5f;
      }
      if (f.kerning && i > 0 && text.text[i - 1] != U'\r' && m[i - 1].face == mi.face)
        m[i - 1].advance +=
            std::floor(mi.face->Kerning(options.password ? U'*' : text.text[i - 1], c) * mi.scale);
    } else {
      mi.advance = c == U' ' ? f.size * 0.25f : f.size * 0.5f;
    }
    mi.advance += f.letterSpacing;
  }

  float top = 0;
  std::size_t para = 0;
  std::size_t start = 0;
  while (start <= n) {
    std::size_t stop = start;
    while (stop < n && text.text[stop] != U'\r') ++stop;
    const ParaFormat& pf = text.paragraphs.empty()
                               ? ParaFormat{}
                               : text.paragraphs[std::min(para, text.paragraphs.size() - 1)];
    bool first = true;
    std::size_t pos = start;
    do {
      float indentX = pf.leftMargin + pf.blockIndent + (first ? pf.indent : 0);
      if (pf.bullet) indentX += kBulletIndent;
      const float avail = options.width - indentX - pf.rightMargin;
      // Find the end of this line.
      float x = 0;
      std::size_t end = pos, lastBreak = pos;
      for (; end < stop; ++end) {
        float adv = m[end].advance;
        if (text.text[end] == U'\t') adv = TabAdvance(x + indentX, pf);
        if (options.wordWrap && end > pos && !Blank(text.text[end]) && x + adv > avail) break;
        x += adv;
        if (Blank(text.text[end])) lastBreak = end + 1;
      }
      if (end < stop && lastBreak > pos) end = lastBreak;
      // The line's extent without trailing blanks, and its height.
      LineBox line;
      line.begin = pos;
      line.end = end;
      std::size_t drawnEnd = end;
      while (drawnEnd > pos && Blank(text.text[drawnEnd - 1])) --drawnEnd;
      const std::size_t metricsFrom = pos < end ? pos : std::min(pos, n > 0 ? n - 1 : 0);
      const std::size_t metricsTo = pos < end ? end : metricsFrom + 1;
      for (std::size_t i = metricsFrom; i < metricsTo; ++i) {
        const CharFormat& f = formatAt(i);
        Face* face = n > 0 ? faceAt(i) : nullptr;
        if (face) {
          const float s = f.size / face->EmUnits();
          // An installed face's ascent and descent, as the system reports them, are whole
          // pixels, rounded up.
          const auto metric = [&](float v) {
            return face->Embedded() ? std::floor(v * s) : std::ceil(v * s / 20) * 20;
          };
          line.ascent = std::max(line.ascent, metric(face->Ascent()));
          line.descent = std::max(line.descent, metric(face->Descent()));
        } else {
          line.ascent = std::max(line.ascent, f.size * 0.9f);
          line.descent = std::max(line.descent, f.size * 0.22f);
        }
      }
      line.leading = pf.leading;
      line.top = top;
      float width = 0, widthAll = 0;
      {
        float px = 0;
        for (std::size_t i = pos; i < end; ++i) {
          float adv = m[i].advance;
          if (text.text[i] == U'\t') adv = TabAdvance(px + indentX, pf);
          px += adv;
          if (i + 1 == drawnEnd) width = px;
        }
        widthAll = px;
      }

      float offset = 0, spaceExtra = 0;
      const bool lastOfParagraph = end >= stop;
      switch (pf.align) {
        case TextAlign::kLeft:
          break;
        case TextAlign::kRight:
          offset = avail - width;
          break;
        case TextAlign::kCenter:
          offset = (avail - width) / 2;
          break;
        case TextAlign::kJustify:
          if (!lastOfParagraph && options.wordWrap) {
            int spaces = 0;
            for (std::size_t i = pos; i < drawnEnd; ++i) spaces += text.text[i] == U' ';
            if (spaces > 0 && avail > width)
              spaceExtra = (avail - width) / static_cast<float>(spaces);
          }
          break;
      }
      line.x = indentX + offset;
      line.width = width + spaceExtra * 0;  // justified lines fill the width
      if (spaceExtra > 0) line.width = avail;
      const float baseline = line.Baseline();
      if (pf.bullet && first && pos < stop) {
        const CharFormat& f = formatAt(pos);
        Face* face = faceAt(pos);
        if (face) {
          if (auto g = face->Glyph(kBullet)) {
            PlacedGlyph pg{face,     *g,     indentX - kBulletIndent + kBulletOffset,
                           baseline, f.size, f.color};
            if (g->outline) out.glyphs.push_back(pg);
          }
        }
      }
      float px = line.x;
      std::size_t underlineFrom = out.underlines.size();
      for (std::size_t i = pos; i < end; ++i) {
        const CharFormat& f = formatAt(i);
        float adv = m[i].advance;
        if (text.text[i] == U'\t') adv = TabAdvance(px - line.x + indentX, pf);
        if (m[i].glyph && m[i].glyph->outline && (options.password || !Blank(text.text[i])))
          out.glyphs.push_back({m[i].face, *m[i].glyph, px, baseline, f.size, f.color});
        if (f.underline && i < drawnEnd) {
          const float thick = std::max(20.0f, f.size / 20);
          const float y = baseline + std::max(20.0f, f.size / 12);
          if (out.underlines.size() > underlineFrom && out.underlines.back().x1 >= px - 0.5f &&
              out.underlines.back().color == f.color && out.underlines.back().y == y) {
            out.underlines.back().x1 = px + adv;
          } else {
            out.underlines.push_back({px, px + adv, y, thick, f.color});
          }
        }
        px += adv;
        if (text.text[i] == U' ') px += spaceExtra;
      }
      out.lines.push_back(line);
      // Blanks that end a line count in the text's width where they push nothing aside: in
      // lines aligned left or justified, not in those aligned right or centred.
      const bool blanksCount = options.trailingBlanksCount || pf.align == TextAlign::kLeft ||
                               pf.align == TextAlign::kJustify;
      const float lineWidth = blanksCount ? widthAll : width;
      out.textWidth = std::max(out.textWidth, lineWidth);
      out.fitWidth = std::max(out.fitWidth, lineWidth + indentX + pf.rightMargin);
      top += line.Height();
      first = false;
      pos = end;
    } while (pos < stop);
    start = stop + 1;
    ++para;
    if (stop >= n) break;
  }
  // The leading under the last line does not count, unless it is the only line; no text has no
  // height. The empty line after a break that ends the text holds the caret alone: scripts do not
  // see it (the leading of the line above it counts for them).
  if (n == 0 || out.lines.empty())
    out.fitHeight = 0;
  else if (out.lines.size() == 1)
    out.fitHeight = top;
  else
    out.fitHeight = top - out.lines.back().leading;
  out.textHeight = out.fitHeight;
  if (n > 0 && out.lines.size() > 1 && text.text[n - 1] == U'\r')
    out.textHeight = top - out.lines.back().Height();
  return out;
}

}  // namespace dbx::swf::text
