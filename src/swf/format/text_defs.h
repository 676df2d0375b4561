// The text characters of the movie model: fonts, static texts and text fields, as their tags
// define them. Part of movie.h, which includes it once Shape, Rgba and Matrix are known.
// Glyph outlines are shapes in the font's own units (`emUnits` to the em square, y down, the
// baseline at 0).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace dbx::swf {

struct Font {
  std::string name;  // the family, as DefineFont2/3 or DefineFontInfo give it, NULs removed
  std::string fullName, copyright;  // DefineFontName ("Arial Bold")
  bool bold = false, italic = false, smallText = false;
  bool wideCodes = false;
  int emUnits = 1024;  // 20480 for DefineFont3
  // Glyph outlines, one shape each with a single solid fill (index 0).
  std::vector<Shape> glyphs;
  std::vector<std::uint16_t> codes;  // the character of each glyph, when a code table was given
  // Layout (DefineFont2/3 with the layout flag), in font units.
  bool hasLayout = false;
  int ascent = 0, descent = 0, leading = 0;
  std::vector<std::uint16_t> advances;  // unsigned: wide glyphs reach past 32767 units
  std::map<std::pair<std::uint16_t, std::uint16_t>, std::int16_t> kerning;  // by character codes
};

// One line of glyphs of a static text with its style.
struct TextRecordGlyph {
  std::uint32_t index = 0;   // into the font's glyphs
  std::int32_t advance = 0;  // twips
};

struct TextRecord {
  std::uint16_t font = 0;
  std::uint16_t height = 0;  // twips (the em size)
  Rgba color;
  std::int32_t x = 0, y = 0;  // the pen at the first glyph, text space
  std::vector<TextRecordGlyph> glyphs;
};

// DefineText/DefineText2.
struct StaticText {
  std::int32_t xmin = 0, xmax = 0, ymin = 0, ymax = 0;
  Matrix matrix;
  std::vector<TextRecord> records;
};

enum class TextAlign : std::uint8_t { kLeft = 0, kRight = 1, kCenter = 2, kJustify = 3 };

// DefineEditText.
struct EditText {
  std::int32_t xmin = 0, xmax = 0, ymin = 0, ymax = 0;  // bounds, twips
  bool wordWrap = false, multiline = false, password = false, readOnly = false;
  bool autoSize = false, noSelect = false, border = false, wasStatic = false, html = false;
  bool useOutlines = false;  // glyphs of the embedded font, else a device font
  bool hasFont = false;
  std::uint16_t font = 0;
  std::string fontClass;
  std::uint16_t height = 240;  // twips
  bool hasColor = false;
  Rgba color;
  int maxLength = 0;  // 0: no limit
  TextAlign align = TextAlign::kLeft;
  int leftMargin = 0, rightMargin = 0, indent = 0, leading = 0;  // twips
  std::string variableName;
  std::string initialText;  // UTF-8
};

}  // namespace dbx::swf
