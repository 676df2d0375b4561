// Lays formatted text out in a field: lines broken at the field's width (word wrap) and at
// paragraph ends, aligned, indented and spaced by their paragraph's format. Positions are twips
// from the field's text origin (inside its 2-pixel gutter), y down, at each glyph's baseline.
#pragma once

#include <functional>
#include <vector>

#include "swf/text/faces.h"
#include "swf/text/rich_text.h"

namespace dbx::swf::text {

struct PlacedGlyph {
  Face* face = nullptr;
  GlyphInfo glyph;
  float x = 0, y = 0;  // baseline origin
  float size = 0;      // em size, twips
  Rgba color;
};

struct Underline {
  float x0 = 0, x1 = 0, y = 0, thickness = 20;
  Rgba color;
};

struct LineBox {
  std::size_t begin = 0, end = 0;  // characters of the text, the line break excluded
  float x = 0, width = 0;          // the drawn extent (trailing blanks excluded)
  float top = 0, ascent = 0, descent = 0, leading = 0;
  float Baseline() const { return top + ascent; }
  float Height() const { return ascent + descent + leading; }
};

struct LayoutOptions {
  float width = 0;  // the field's inner width (its width less the two gutters), twips
  bool wordWrap = false;
  bool password = false;
  // Blanks that end a line count in the text's width whatever the alignment (movies before
  // version 8); otherwise only in lines aligned left or justified.
  bool trailingBlanksCount = false;
  // The face for a character format; nothing when none can draw it (its characters then only
  // take up room).
  std::function<Face*(const CharFormat&)> faceFor;
};

struct Layout {
  std::vector<PlacedGlyph> glyphs;
  std::vector<Underline> underlines;
  std::vector<LineBox> lines;
  // Twips: the widest line and the lines together, as scripts read them (without margins and
  // indents, and without an empty line that ends the text).
  float textWidth = 0, textHeight = 0;
  // Twips: the room the lines take, margins, indents and every line included (what a field that
  // sizes itself to its text needs).
  float fitWidth = 0, fitHeight = 0;
};

Layout LayOut(const RichText& text, const LayoutOptions& options);

// The width between the gutter and the text in a field, on each side.
constexpr float kGutter = 40;  // twips

}  // namespace dbx::swf::text
