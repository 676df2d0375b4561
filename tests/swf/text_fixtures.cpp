#include "text_fixtures.h"

#include <algorithm>

namespace dbx::swftest::text_fixtures {

namespace {

struct TestGlyph {
  char16_t code;
  std::vector<PathOp> outline;
  std::int16_t advance;
};

}  // namespace

// One glyph outline as SHAPE records: fill bits 1, no lines; each path starts with a move.
std::vector<std::uint8_t> GlyphShape(const std::vector<PathOp>& ops) {
  BitWriter w;
  w.UB(1, 4);
  w.UB(0, 4);
  std::int32_t px = 0, py = 0;
  bool first = true;
  for (const PathOp& op : ops) {
    if (op.kind == PathOp::kMove) {
      w.UB(0, 1);
      w.UB(0, 3);              // new styles, line, fill1
      w.UB(first ? 1 : 0, 1);  // fill0 (the inside on the left, as authoring tools write)
      w.UB(1, 1);
      const unsigned n = std::max(BitWriter::SBits(op.x), BitWriter::SBits(op.y));
      w.UB(n, 5);
      w.SB(op.x, n);
      w.SB(op.y, n);
      if (first) w.UB(1, 1);
      first = false;
    } else {
      const std::int32_t dx = op.x - px, dy = op.y - py;
      const unsigned n = std::max({BitWriter::SBits(dx), BitWriter::SBits(dy), 2u});
      w.UB(1, 1);
      w.UB(1, 1);
      w.UB(n - 2, 4);
      w.UB(1, 1);
      w.SB(dx, n);
      w.SB(dy, n);
    }
    px = op.x;
    py = op.y;
  }
  w.UB(0, 6);
  return w.Take();
}

std::vector<PathOp> Box(std::int32_t x0, std::int32_t y0, std::int32_t x1, std::int32_t y1) {
  return {{PathOp::kMove, x0, y0},
          {PathOp::kLine, x1, y0},
          {PathOp::kLine, x1, y1},
          {PathOp::kLine, x0, y1},
          {PathOp::kLine, x0, y0}};
}

// 'A': a solid box 0..600 x -800..0; 'B': the same box with a square hole; ' ': empty.
// Units are 1024 to the em (DefineFont2) or 20480 (DefineFont3: every number times 20).
static std::vector<TestGlyph> TestGlyphs(int unit) {
  auto s = [&](std::int32_t v) { return v * unit; };
  std::vector<PathOp> b = Box(s(0), s(-800), s(600), s(0));
  for (const PathOp& op : Box(s(200), s(-600), s(400), s(-200))) b.push_back(op);
  return {{u'A', Box(s(0), s(-800), s(600), s(0)), static_cast<std::int16_t>(s(700))},
          {u'B', b, static_cast<std::int16_t>(s(700))},
          {u' ', {}, static_cast<std::int16_t>(s(300))}};
}

// DefineFont2/3 with a layout table (ascent 900, descent 200 units) and one kerning pair A-B.
std::vector<std::uint8_t> FontTag(std::uint16_t id, const std::string& name, bool third,
                                  bool bold) {
  const int unit = third ? 20 : 1;
  const auto glyphs = TestGlyphs(unit);
  std::vector<std::vector<std::uint8_t>> shapes;
  for (const auto& g : glyphs)
    shapes.push_back(g.outline.empty() ? std::vector<std::uint8_t>{0} : GlyphShape(g.outline));
  BitWriter w;
  w.U16(id);
  w.U8(static_cast<std::uint8_t>(0x80 | 0x08 | 0x04 |
                                 (bold ? 1 : 0)));  // layout, wide offsets/codes
  w.U8(1);
  w.U8(static_cast<std::uint8_t>(name.size()));
  for (char c : name) w.U8(static_cast<std::uint8_t>(c));
  w.U16(static_cast<std::uint16_t>(glyphs.size()));
  std::uint32_t offset = static_cast<std::uint32_t>(4 * (glyphs.size() + 1));
  for (const auto& s : shapes) {
    w.U32(offset);
    offset += static_cast<std::uint32_t>(s.size());
  }
  w.U32(offset);  // the code table
  for (const auto& s : shapes) w.Bytes(s);
  for (const auto& g : glyphs) w.U16(g.code);
  w.U16(static_cast<std::uint16_t>(900 * unit));
  w.U16(static_cast<std::uint16_t>(200 * unit));
  w.U16(0);
  for (const auto& g : glyphs) w.U16(static_cast<std::uint16_t>(g.advance));
  for (std::size_t i = 0; i < glyphs.size(); ++i) w.Rect(0, 0, 0, 0);
  w.U16(1);
  w.U16(u'A');
  w.U16(u'B');
  w.U16(static_cast<std::uint16_t>(-100 * unit));
  return w.Take();
}

std::vector<std::uint8_t> TextTag(std::uint16_t id, const std::vector<GlyphRun>& runs) {
  BitWriter w;
  w.U16(id);
  w.Rect(0, 2000, 0, 1000);
  w.Matrix(1, 1, 0, 0, 0, 0);
  w.U8(4);   // glyph bits
  w.U8(16);  // advance bits
  for (const GlyphRun& r : runs) {
    w.U8(0x80 | 0x08 | 0x04 | 0x02 | 0x01);
    w.U16(r.font);
    w.U8(static_cast<std::uint8_t>(r.rgba >> 24));
    w.U8(static_cast<std::uint8_t>(r.rgba >> 16));
    w.U8(static_cast<std::uint8_t>(r.rgba >> 8));
    w.U8(static_cast<std::uint8_t>(r.rgba));
    w.U16(static_cast<std::uint16_t>(r.x));
    w.U16(static_cast<std::uint16_t>(r.y));
    w.U16(r.height);
    w.U8(static_cast<std::uint8_t>(r.glyphs.size()));
    for (const auto& [index, advance] : r.glyphs) {
      w.UB(static_cast<std::uint32_t>(index), 4);
      w.SB(advance, 16);
    }
    w.Align();
  }
  w.U8(0);
  return w.Take();
}

std::vector<std::uint8_t> EditTag(std::uint16_t id, const EditSpec& e) {
  BitWriter w;
  w.U16(id);
  w.Rect(0, e.w, 0, e.h);
  w.U8(static_cast<std::uint8_t>(0x80 | (e.wordWrap ? 0x40 : 0) | (e.multiline ? 0x20 : 0) |
                                 (e.readOnly ? 0x08 : 0) | 0x04 | 0x01));
  w.U8(static_cast<std::uint8_t>((e.autoSize ? 0x40 : 0) | 0x20 | (e.border ? 0x08 : 0) |
                                 (e.html ? 0x02 : 0) | (e.outlines ? 0x01 : 0)));
  w.U16(e.font);
  w.U16(e.height);
  w.U8(static_cast<std::uint8_t>(e.rgba >> 24));
  w.U8(static_cast<std::uint8_t>(e.rgba >> 16));
  w.U8(static_cast<std::uint8_t>(e.rgba >> 8));
  w.U8(static_cast<std::uint8_t>(e.rgba));
  w.U8(e.align);
  w.U16(0);
  w.U16(0);
  w.U16(0);
  w.U16(0);
  for (char c : e.variable) w.U8(static_cast<std::uint8_t>(c));
  w.U8(0);
  for (char c : e.text) w.U8(static_cast<std::uint8_t>(c));
  w.U8(0);
  return w.Take();
}

}  // namespace dbx::swftest::text_fixtures
