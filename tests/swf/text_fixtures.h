// Text tags written for tests and benchmarks: a font of box glyphs, static texts and text fields.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "test_support.h"

namespace dbx::swftest::text_fixtures {

constexpr std::uint16_t kDefineFont2 = 48, kDefineFont3 = 75, kDefineText2 = 33,
                        kDefineEditText = 37, kDefineFontInfo = 13, kDefineFontName = 88;

// One glyph outline as SHAPE records: fill bits 1, no lines; each path starts with a move.
std::vector<std::uint8_t> GlyphShape(const std::vector<PathOp>& ops);
std::vector<PathOp> Box(std::int32_t x0, std::int32_t y0, std::int32_t x1, std::int32_t y1);

// DefineFont2 (or 3) of three glyphs with a layout table (ascent 900, descent 200 units) and one
// kerning pair A-B of -100 units: 'A' a solid box 0..600 x -800..0, 'B' the same box with a
// square hole 200..400 x -600..-200, ' ' empty; A and B advance 700 units, the blank 300. Units
// are 1024 to the em (DefineFont2) or 20480 (DefineFont3: every number times 20).
std::vector<std::uint8_t> FontTag(std::uint16_t id, const std::string& name, bool third,
                                  bool bold = false);

struct GlyphRun {
  std::uint16_t font;
  std::uint16_t height;
  std::uint32_t rgba;
  std::int16_t x, y;
  std::vector<std::pair<int, int>> glyphs;  // index, advance
};
// DefineText2 with an identity matrix, one record per run (font, colour, offsets, height).
std::vector<std::uint8_t> TextTag(std::uint16_t id, const std::vector<GlyphRun>& runs);

struct EditSpec {
  std::int32_t w = 2000, h = 600;
  std::uint16_t font = 1;
  std::uint16_t height = 400;
  std::uint32_t rgba = 0x0000FFFF;
  bool html = false, border = false, wordWrap = false, multiline = false, autoSize = false;
  bool outlines = true;
  bool readOnly = false;
  std::uint8_t align = 0;
  std::string variable;
  std::string text;
};
std::vector<std::uint8_t> EditTag(std::uint16_t id, const EditSpec& e);

}  // namespace dbx::swftest::text_fixtures
