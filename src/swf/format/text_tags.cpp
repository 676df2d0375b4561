// The text tags: DefineFont (1 to 3), DefineFontInfo (1, 2), DefineFontName, DefineText (1, 2)
// and DefineEditText. Like every tag reader they take untrusted bytes: offsets are checked against
// the tag, counts bounded by what the tag can hold.
#include <algorithm>
#include <cstdint>
#include <limits>

#include "swf/format/tag_readers.h"
#include "swf/format/tags.h"

namespace dbx::swf {

namespace {

// Texts before version 6 are in the system's 8-bit code page (taken as Latin-1), later UTF-8.
std::string TextOf(std::string raw, int version) {
  while (!raw.empty() && raw.back() == '\0') raw.pop_back();
  if (version >= 6) return raw;
  std::string out;
  for (unsigned char c : raw) {
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

std::string LengthString(BitReader& r, std::size_t n) {
  std::string s;
  for (std::size_t i = 0; i < n && !r.failed(); ++i) s.push_back(static_cast<char>(r.U8()));
  return s;
}

Font* FontAt(Movie& movie, std::uint16_t id) {
  const auto it = movie.characters.find(id);
  return it == movie.characters.end() ? nullptr : std::get_if<Font>(&it->second);
}

// Glyph shapes at the given offsets (from `base`, the start of the offset table) up to `end`.
void ReadGlyphs(BitReader& r, std::size_t base, const std::vector<std::uint32_t>& offsets,
                std::size_t end, const ParseLimits& limits, Font& font) {
  font.glyphs.reserve(offsets.size());
  for (std::size_t i = 0; i < offsets.size(); ++i) {
    const std::size_t from = base + offsets[i];
    std::size_t to = i + 1 < offsets.size() ? base + offsets[i + 1] : end;
    to = std::min(to, r.size());
    if (from >= to) {
      font.glyphs.emplace_back();  // an empty glyph (a space)
      continue;
    }
    BitReader g(r.data() + from, to - from);
    font.glyphs.push_back(ReadGlyphShape(g, limits.maxEdgesPerShape));
  }
}

void ParseFont1(BitReader& r, Movie& movie, const ParseLimits& limits) {
  const std::uint16_t id = r.U16();
  const std::size_t base = r.pos();
  const std::uint16_t first = r.U16();
  if (r.failed()) return;
  const std::size_t count = first / 2;
  std::vector<std::uint32_t> offsets{first};
  for (std::size_t i = 1; i < count && !r.failed(); ++i) offsets.push_back(r.U16());
  if (r.failed()) return;
  Font font;
  ReadGlyphs(r, base, offsets, r.size(), limits, font);
  movie.characters.insert_or_assign(id, std::move(font));
}

void ParseFont23(BitReader& r, bool third, Movie& movie, const ParseLimits& limits) {
  const std::uint16_t id = r.U16();
  const std::uint8_t flags = r.U8();
  Font font;
  font.hasLayout = flags & 0x80;
  font.smallText = flags & 0x20;
  const bool wideOffsets = flags & 0x08;
  font.wideCodes = flags & 0x04;
  font.italic = flags & 0x02;
  font.bold = flags & 0x01;
  font.emUnits = third ? 20480 : 1024;
  r.U8();  // language
  font.name = TextOf(LengthString(r, r.U8()), movie.version);
  const std::size_t count = r.U16();
  const std::size_t base = r.pos();
  std::vector<std::uint32_t> offsets;
  offsets.reserve(std::min(count, r.remaining()));
  for (std::size_t i = 0; i < count && !r.failed(); ++i)
    offsets.push_back(wideOffsets ? r.U32() : r.U16());
  std::uint32_t codeOffset = 0;
  if (count > 0 || r.remaining() > 0) codeOffset = wideOffsets ? r.U32() : r.U16();
  if (r.failed()) {
    if (count == 0) movie.characters.insert_or_assign(id, std::move(font));  // a name only
    return;
  }
  const std::size_t codeStart = std::min<std::size_t>(base + codeOffset, r.size());
  ReadGlyphs(r, base, offsets, codeStart, limits, font);
  BitReader tail(r.data() + codeStart, r.size() - codeStart);
  for (std::size_t i = 0; i < count && !tail.failed(); ++i) {
    const std::uint16_t code = font.wideCodes ? tail.U16() : tail.U8();
    if (!tail.failed()) font.codes.push_back(code);
  }
  if (font.hasLayout && !tail.failed()) {
    font.ascent = tail.U16();
    font.descent = tail.U16();
    font.leading = tail.S16();
    for (std::size_t i = 0; i < count && !tail.failed(); ++i) font.advances.push_back(tail.U16());
    for (std::size_t i = 0; i < count && !tail.failed(); ++i) ReadRectRecord(tail);
    const std::size_t kerns = tail.U16();
    for (std::size_t i = 0; i < kerns && !tail.failed(); ++i) {
      const std::uint16_t a = font.wideCodes ? tail.U16() : tail.U8();
      const std::uint16_t b = font.wideCodes ? tail.U16() : tail.U8();
      const std::int16_t adjust = tail.S16();
      if (!tail.failed()) font.kerning[{a, b}] = adjust;
    }
    if (tail.failed()) font.advances.resize(count, 0);
  }
  movie.characters.insert_or_assign(id, std::move(font));
}

void ParseFontInfo(BitReader& r, bool second, Movie& movie) {
  Font* font = FontAt(movie, r.U16());
  if (!font) return;
  std::string name = TextOf(LengthString(r, r.U8()), movie.version);
  const std::uint8_t flags = r.U8();
  if (second) r.U8();  // language
  if (r.failed()) return;
  font->name = std::move(name);
  font->smallText = flags & 0x20;
  font->italic = flags & 0x04;
  font->bold = flags & 0x02;
  font->wideCodes = second || (flags & 0x01);
  font->codes.clear();
  while (r.remaining() > 0 && font->codes.size() < font->glyphs.size()) {
    const std::uint16_t code = font->wideCodes ? r.U16() : r.U8();
    if (r.failed()) break;
    font->codes.push_back(code);
  }
}

void ParseFontName(BitReader& r, Movie& movie) {
  Font* font = FontAt(movie, r.U16());
  if (!font) return;
  std::string name = r.String();
  std::string copyright = r.String();
  font->fullName = TextOf(std::move(name), 6);
  font->copyright = TextOf(std::move(copyright), 6);
}

void ParseText(BitReader& r, bool second, Movie& movie) {
  const std::uint16_t id = r.U16();
  StaticText text;
  const TwipsRect bounds = ReadRectRecord(r);
  text.xmin = bounds.xmin;
  text.xmax = bounds.xmax;
  text.ymin = bounds.ymin;
  text.ymax = bounds.ymax;
  text.matrix = ReadMatrixRecord(r);
  const unsigned glyphBits = r.U8();
  const unsigned advanceBits = r.U8();
  if (r.failed() || glyphBits > 32 || advanceBits > 32) return;
  TextRecord style;  // what the records carry over from one to the next
  while (!r.failed()) {
    const std::uint8_t head = r.U8();
    if (r.failed() || head == 0) break;
    TextRecord rec = style;
    rec.glyphs.clear();
    if (head & 0x08) rec.font = r.U16();
    if (head & 0x04) rec.color = ReadColorRecord(r, second);
    if (head & 0x01) rec.x = r.S16();
    if (head & 0x02) rec.y = r.S16();
    if (head & 0x08) rec.height = r.U16();
    const int count = r.U8();
    for (int i = 0; i < count && !r.failed(); ++i) {
      TextRecordGlyph g;
      g.index = r.UB(glyphBits);
      g.advance = r.SB(advanceBits);
      rec.glyphs.push_back(g);
    }
    r.Align();
    if (r.failed()) break;
    // The next record's pen starts where this one ended unless it gives its own offset.
    style = rec;
    // (In 64 bits and held to the 32-bit range: advances of a damaged file may add up beyond it.)
    std::int64_t x = style.x;
    for (const TextRecordGlyph& g : rec.glyphs) x += g.advance;
    style.x = static_cast<std::int32_t>(std::clamp<std::int64_t>(
        x, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
    style.glyphs.clear();
    text.records.push_back(std::move(rec));
  }
  movie.characters.insert_or_assign(id, std::move(text));
}

void ParseEditText(BitReader& r, Movie& movie) {
  const std::uint16_t id = r.U16();
  EditText e;
  const TwipsRect bounds = ReadRectRecord(r);
  e.xmin = bounds.xmin;
  e.xmax = bounds.xmax;
  e.ymin = bounds.ymin;
  e.ymax = bounds.ymax;
  const std::uint8_t f1 = r.U8();
  const std::uint8_t f2 = r.U8();
  const bool hasText = f1 & 0x80;
  e.wordWrap = f1 & 0x40;
  e.multiline = f1 & 0x20;
  e.password = f1 & 0x10;
  e.readOnly = f1 & 0x08;
  e.hasColor = f1 & 0x04;
  const bool hasMaxLength = f1 & 0x02;
  e.hasFont = f1 & 0x01;
  const bool hasFontClass = f2 & 0x80;
  e.autoSize = f2 & 0x40;
  const bool hasLayout = f2 & 0x20;
  e.noSelect = f2 & 0x10;
  e.border = f2 & 0x08;
  e.wasStatic = f2 & 0x04;
  e.html = f2 & 0x02;
  e.useOutlines = f2 & 0x01;
  if (e.hasFont) e.font = r.U16();
  if (hasFontClass) e.fontClass = r.String();
  if (e.hasFont || hasFontClass) e.height = r.U16();
  if (e.hasColor) e.color = ReadColorRecord(r, true);
  if (hasMaxLength) e.maxLength = r.U16();
  if (hasLayout) {
    e.align = static_cast<TextAlign>(std::min<int>(r.U8(), 3));
    e.leftMargin = r.U16();
    e.rightMargin = r.U16();
    e.indent = r.U16();
    e.leading = r.S16();
  }
  e.variableName = TextOf(r.String(), movie.version);
  if (hasText) e.initialText = TextOf(r.String(), movie.version);
  if (r.failed() && e.variableName.empty() && e.initialText.empty() && !e.hasFont) return;
  movie.characters.insert_or_assign(id, std::move(e));
}

}  // namespace

void ParseTextTag(BitReader& r, std::uint16_t code, Movie& movie, const ParseLimits& limits) {
  switch (static_cast<Tag>(code)) {
    case Tag::kDefineFont:
      ParseFont1(r, movie, limits);
      break;
    case Tag::kDefineFont2:
      ParseFont23(r, false, movie, limits);
      break;
    case Tag::kDefineFont3:
      ParseFont23(r, true, movie, limits);
      break;
    case Tag::kDefineFontInfo:
      ParseFontInfo(r, false, movie);
      break;
    case Tag::kDefineFontInfo2:
      ParseFontInfo(r, true, movie);
      break;
    case Tag::kDefineFontName:
      ParseFontName(r, movie);
      break;
    case Tag::kDefineText:
      ParseText(r, false, movie);
      break;
    case Tag::kDefineText2:
      ParseText(r, true, movie);
      break;
    case Tag::kDefineEditText:
      ParseEditText(r, movie);
      break;
    default:
      break;
  }
}

}  // namespace dbx::swf
