// Text in movies: fonts and static texts built here tag by tag and drawn, the HTML subset of text
// fields, and the layout of paragraphs with a face of known metrics.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "core/surface.h"
#include "swf/flash_player.h"
#include "swf/format/movie.h"
#include "swf/text/faces.h"
#include "swf/text/layout.h"
#include "swf/text/rich_text.h"
#include "swf/text/text_field.h"
#include "test_support.h"
#include "text_fixtures.h"

namespace dbx {
namespace {

using swftest::BitWriter;
using swftest::PathOp;
using swftest::SwfWriter;

using namespace swftest::text_fixtures;

Surface Draw(const std::vector<std::uint8_t>& bytes, int w, int h, const char* quality = "Low") {
  FlashPlayer p;
  p.LoadMovieBytes(bytes.data(), bytes.size(), "text.swf");
  EXPECT_TRUE(p.HasMovie());
  p.SetQuality2(quality);
  p.SetViewportSize({w, h});
  Surface s(w, h);
  p.RenderFrame(s.View());
  return s;
}

std::string Hex(Pixel p) {
  char b[16];
  std::snprintf(b, sizeof b, "%06X", static_cast<unsigned>(p & 0xFFFFFF));
  return b;
}

// --- Fonts and static text ------------------------------------------------------------------

TEST(StaticText, GlyphsLandAtTheirRecordPositionsInTheirColours) {
  // Both font versions must draw the same picture: "AB A" at 20 px (400 twips) from x = 10 px on
  // the baseline y = 30 px, then a half-transparent "A" at 40 px further right.
  for (const bool third : {false, true}) {
    SCOPED_TRACE(third ? "DefineFont3" : "DefineFont2");
    SwfWriter m(120, 60);
    m.Background(255, 255, 255);
    m.Tag(third ? kDefineFont3 : kDefineFont2, FontTag(1, "Boxes", third));
    // A 600-unit glyph at 400 twips is 234 twips (11.7 px) wide; the advances are in twips.
    m.Tag(kDefineText2,
          TextTag(2, {{1, 400, 0xFF0000FF, 200, 600, {{0, 300}, {1, 300}, {2, 100}, {0, 300}}},
                      {1, 400, 0x0000FF80, 1600, 600, {{0, 300}}}}));
    m.Place(2, 1);
    m.ShowFrame();
    m.End();
    const Surface s = Draw(m.Finish(), 120, 60);
    // Glyph boxes in pixels: x from 10 + 15 k to 21.7 + 15 k, y from 14.4 to 30.
    struct Probe {
      int x, y;
      Pixel want;
    };
    const Pixel red = MakePixel(255, 0, 0), white = MakePixel(255, 255, 255);
    const Probe probes[] = {
        {11, 16, red},   {20, 28, red},   {16, 22, red},  // first A, whole
        {23, 22, white},                                  // between A and B
        {26, 16, red},   {31, 22, white},                 // B's frame and its hole
        {42, 22, white},                                  // the space glyph draws nothing
        {50, 22, red},                                    // A after the space (x 45..56.7)
        {16, 12, white}, {16, 32, white},                 // above and below the glyph
    };
    for (const Probe& p : probes)
      EXPECT_EQ(Hex(s.At(p.x, p.y)), Hex(p.want)) << "at " << p.x << "," << p.y;
    // The blue A at half alpha over white.
    const Pixel half = s.At(85, 22);
    EXPECT_NEAR(PixelR(half), 127, 1);
    EXPECT_NEAR(PixelG(half), 127, 1);
    EXPECT_EQ(PixelB(half), 255);
  }
}

TEST(Fonts, AdvancesAreUnsigned) {
  // A DefineFont2 whose one glyph ('a', no outline) advances 40000 units: past the signed range,
  // laid out as wide as that (40000 / 1024 of a 200-twip em).
  SwfWriter m(40, 40);
  BitWriter w;
  w.U16(1);
  w.U8(0x80);  // layout, narrow offsets and codes
  w.U8(1);
  w.U8(1);
  w.U8('F');
  w.U16(1);
  w.U16(4);  // the glyph's shape starts after the offset table and the code-table offset
  w.U16(5);
  w.U8(0);  // an empty shape: no fill or line bits, end record
  w.U8('a');
  w.U16(800);
  w.U16(200);
  w.U16(0);
  w.U16(40000);
  w.U16(0);  // bounds: a rect of zero-bit fields
  w.U16(0);  // no kerning pairs
  m.Tag(kDefineFont2, w.Take());
  m.End();
  const auto bytes = m.Finish();
  const auto movie = swf::ParseMovie(bytes.data(), bytes.size(), nullptr);
  ASSERT_TRUE(movie);
  const auto* font = std::get_if<swf::Font>(&movie->characters.at(1));
  ASSERT_NE(font, nullptr);
  EXPECT_EQ(font->advances, (std::vector<std::uint16_t>{40000}));
  swf::text::FontLibrary lib(*movie, nullptr);
  swf::text::EmbeddedFace* face = lib.Embedded(1);
  ASSERT_NE(face, nullptr);
  swf::text::CharFormat f;
  f.size = 200;
  swf::text::LayoutOptions o;
  o.width = 100000;
  o.faceFor = [&](const swf::text::CharFormat&) { return face; };
  const auto l = swf::text::LayOut(swf::text::PlainText(U"aa", f, {}), o);
  EXPECT_EQ(l.textWidth, 2 * std::floor(40000 * 200 / 1024.0));
}

TEST(StaticText, MasksWhatItClips) {
  // A text at depth 1 clipping depth 2: a red rectangle over the whole stage shows only inside
  // the glyph.
  SwfWriter m(60, 40);
  m.Background(255, 255, 255);
  m.Tag(kDefineFont2, FontTag(1, "Boxes", false));
  m.Tag(kDefineText2, TextTag(2, {{1, 400, 0x000000FF, 200, 600, {{0, 300}}}}));
  m.SolidShape(3, 0xFF0000FF, swftest::Rectangle(0, 0, 1200, 800));
  m.Place(2, 1, 0, 0, 2);
  m.Place(3, 2);
  m.ShowFrame();
  m.End();
  const Surface s = Draw(m.Finish(), 60, 40);
  EXPECT_EQ(Hex(s.At(15, 22)), Hex(MakePixel(255, 0, 0)));
  EXPECT_EQ(Hex(s.At(40, 22)), Hex(MakePixel(255, 255, 255)));
  EXPECT_EQ(Hex(s.At(15, 5)), Hex(MakePixel(255, 255, 255)));
}

TEST(Fonts, TablesNamesAndDamagedTags) {
  SwfWriter m(10, 10);
  m.Tag(kDefineFont2, FontTag(1, "Boxes", false, /*bold=*/true));
  {
    // DefineFontInfo renames font 1 and gives 8-bit codes: 'x', 'y', 'z'.
    BitWriter w;
    w.U16(1);
    w.U8(4);
    for (char c : std::string("Info")) w.U8(static_cast<std::uint8_t>(c));
    w.U8(0x04);  // italic, 8-bit codes
    w.U8('x');
    w.U8('y');
    w.U8('z');
    m.Tag(kDefineFontInfo, w.Take());
  }
  {
    BitWriter w;
    w.U16(1);
    for (char c : std::string("Renamed")) w.U8(static_cast<std::uint8_t>(c));
    w.U8(0);
    for (char c : std::string("(c) nobody")) w.U8(static_cast<std::uint8_t>(c));
    w.U8(0);
    m.Tag(kDefineFontName, w.Take());
  }
  m.End();
  const auto bytes = m.Finish();
  const auto movie = swf::ParseMovie(bytes.data(), bytes.size(), nullptr);
  ASSERT_TRUE(movie);
  const auto* font = std::get_if<swf::Font>(&movie->characters.at(1));
  ASSERT_NE(font, nullptr);
  EXPECT_EQ(font->name, "Info");  // the family the texts ask for
  EXPECT_EQ(font->fullName, "Renamed");
  EXPECT_EQ(font->copyright, "(c) nobody");
  EXPECT_TRUE(font->italic);
  EXPECT_FALSE(font->bold);  // the info's flags replace the font's
  ASSERT_EQ(font->glyphs.size(), 3u);
  EXPECT_EQ(font->codes, (std::vector<std::uint16_t>{'x', 'y', 'z'}));
  EXPECT_EQ(font->advances, (std::vector<std::uint16_t>{700, 700, 300}));
  EXPECT_EQ(font->ascent, 900);
  EXPECT_EQ(font->descent, 200);
  EXPECT_EQ(font->kerning.at({u'A', u'B'}), -100);
  EXPECT_EQ(font->glyphs[0].edges.size(), 4u);
  EXPECT_EQ(font->glyphs[1].edges.size(), 8u);
  EXPECT_TRUE(font->glyphs[2].edges.empty());

  swf::text::FontLibrary lib(*movie, nullptr);
  swf::text::EmbeddedFace* face = lib.Embedded(1);
  ASSERT_NE(face, nullptr);
  ASSERT_TRUE(face->Glyph(U'y'));
  EXPECT_EQ(face->Glyph(U'y')->outline, &font->glyphs[1]);
  EXPECT_FALSE(face->Glyph(U'A'));  // the info's codes replaced the font's own
  EXPECT_EQ(lib.EmbeddedByName("INFO", false, true), face);

  // Every prefix of every tag parses without fault (lengths cut by the tag header).
  SwfWriter whole(10, 10);
  whole.Tag(kDefineFont3, FontTag(1, "Boxes", true));
  whole.Tag(kDefineText2, TextTag(2, {{1, 400, 0xFF0000FF, 200, 600, {{0, 300}, {1, 300}}}}));
  EditSpec e;
  e.text = "<p>hello</p>";
  e.html = true;
  e.variable = "v";
  whole.Tag(kDefineEditText, EditTag(3, e));
  const std::vector<std::uint8_t> body = whole.body();
  for (std::size_t cut = 0; cut < body.size(); ++cut) {
    SwfWriter part(10, 10);
    part.body().assign(body.begin(), body.begin() + static_cast<std::ptrdiff_t>(cut));
    const auto b = part.Finish();
    const Surface s = Draw(b, 10, 10, "High");
    EXPECT_EQ(s.width(), 10);
  }
}

// --- HTML -------------------------------------------------------------------------------------

std::u32string U(const std::string& s) {
  return swf::text::DecodeUtf8(s);
}
std::string Plain(const swf::text::RichText& t) {
  return swf::text::EncodeUtf8(t.text);
}

TEST(Html, TextParagraphsAndEntities) {
  const swf::text::CharFormat base;
  const swf::text::ParaFormat para;
  struct Case {
    const char* html;
    const char* text;
    std::size_t paragraphs;
    bool multiline = true;
    bool condenseWhite = false;
    bool legacy = false;  // a movie before version 8
  };
  const Case cases[] = {
      {"plain", "plain", 1},
      // A closing </p> ends the paragraph in a multi-line field; one line runs on.
      {"<p>one</p><p>two</p>", "one\rtwo\r", 3},
      {"<p>one</p><p>two</p>", "onetwo", 1, false},
      {"<p></p>\n", "\r", 2, true, true},
      {"a<br>b<BR/>c", "a\rb\rc", 3},
      {"a<br>b", "ab", 1, false},  // a single-line field runs on
      {"&lt;b&gt; &amp; &quot;q&quot; &apos;s&apos;&nbsp;&#65;&#x42;",
       "<b> & \"q\" 's'\xC2\xA0"
       "AB",
       1},
      {"&bogus; &#xZZ; & alone", "&bogus; &#xZZ; & alone", 1},
      {"<unknown attr=1>kept</unknown> <b>bold", "kept bold", 1},  // unknown and unclosed tags
      {"</b></p>stray closers", "stray closers", 1},
      {"<li>first</li><li>second</li>", "first\rsecond\r", 3},
      {"line\nbreak", "line\rbreak", 2},
      {"text <unterminated", "text ", 1},
      {"", "", 1},
      // Condensed white space: runs become one blank, white space alone goes.
      {"\n \tasdf \t  \n", " asdf ", 1, false, true},
      {" \n ", "", 1, false, true},
      {"test \ntest\n\ntest", "test test test", 1, false, true},
      {" <p> </p> ", "", 1, false, true},
      {" <p> </p> ", "\r", 2, true, true},
      // Older movies: white space alone between tags goes (line ends in text still break, and
      // condensing still makes them blanks) ...
      {" <p>test</p> <p>test</p> ", "test\rtest\r", 3, true, false, true},
      {"<u>a</u> <u>b</u>", "ab", 1, false, false, true},
      {"<u>a</u> <u>b</u>", "a b", 1, false, false, false},
      {"\ntest\n", "\rtest\r", 3, false, false, true},
      {"a <p>b</p> c", "a b\r c", 2, true, false, true},
      {"test \ntest", "test test", 1, false, true, true},
      // ... every closing </li> ends a paragraph in a multi-line field; a <p> breaks no line
      // where it opens (it goes on from the text before it), and ends one where it closes
      // unless another <p> closed since it opened.
      {"text<li><li></li></li>", "text\r\r\r", 4, true, false, true},
      {"<p></p><p></p>test<p></p><p></p>", "\r\rtest\r\r", 5, true, false, true},
      {"t<p>e</p>st", "te\rst", 2, true, false, true},
      {"<p align=\"right\">text<li></li></p>", "text\r\r\r", 4, true, false, true},
      {"text<li><li></li></li>", "text\r\r", 3, true, false, false},
      {"<p>a<p>b<p>c</p>d</p>e</p>", "abc\rde", 2, true, false, true},
      {"<p>a<p>b<p>c</p>d</p>e</p>", "a\rb\rc\rde", 4, true, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.html);
    const auto r = swf::text::ParseHtml(U(c.html), base, para, c.condenseWhite, c.multiline,
                                        nullptr, c.legacy);
    EXPECT_EQ(Plain(r), c.text);
    EXPECT_EQ(r.paragraphs.size(), c.paragraphs);
    EXPECT_EQ(r.formatOf.size(), r.text.size());
  }
}

// In older movies a single-line field keeps the paragraph format of its first text.
TEST(Html, OlderSingleLineFieldsKeepTheirFirstParagraphFormat) {
  for (const bool legacy : {false, true}) {
    const auto r = swf::text::ParseHtml(U("<p align=\"right\">text<li>more</li></p>"), {}, {},
                                        false, false, nullptr, legacy);
    ASSERT_EQ(r.paragraphs.size(), 1u);
    EXPECT_EQ(r.paragraphs[0].bullet, !legacy);
    EXPECT_EQ(r.paragraphs[0].align, swf::TextAlign::kRight);
  }
}

// Older movies close only the innermost tag: a closing tag of an outer one goes.
TEST(Html, OlderMoviesCloseOnlyTheInnermostTag) {
  for (const bool legacy : {false, true}) {
    const auto r =
        swf::text::ParseHtml(U("<b>a<i>b</b>c</i>d</b>e"), {}, {}, false, true, nullptr, legacy);
    ASSERT_EQ(r.text.size(), 5u);
    std::string marks;
    for (std::size_t i = 0; i < 5; ++i) {
      const auto& f = r.formats[r.formatOf[i]];
      marks += std::string(f.bold ? "B" : "") + (f.italic ? "I" : "") + ".";
    }
    EXPECT_EQ(marks, legacy ? "B.BI.BI.B.." : "B.BI....") << legacy;
  }
}

// Older movies take font sizes in whole pixels, at most 127, and no kerning.
TEST(Html, OlderMoviesTakeWholeFontSizesUpTo127AndNoKerning) {
  for (const bool legacy : {false, true}) {
    const auto r = swf::text::ParseHtml(U("<font size=\"1.9\" kerning=\"1\">a<font size=\"+0.5\">"
                                          "b</font></font><font size=\"200\">c</font>"),
                                        {}, {}, false, true, nullptr, legacy);
    ASSERT_EQ(r.text.size(), 3u);
    const float want[] = {20, 20, 127 * 20}, now[] = {38, 48, 200 * 20};
    for (std::size_t i = 0; i < 3; ++i)
      EXPECT_EQ(r.formats[r.formatOf[i]].size, legacy ? want[i] : now[i]) << i;
    EXPECT_EQ(r.formats[r.formatOf[0]].kerning, !legacy);
  }
}

TEST(Html, FormatsNestAndClose) {
  swf::text::CharFormat base;
  base.font = "Base";
  base.size = 240;
  const auto r = swf::text::ParseHtml(
      U("<p align=\"center\"><font face='Serif' size=\"20\" color=\"#FF8000\">a<b>b<i>c</i></b>"
        "<u>d</u></font>e</p><p align=right><font size='+4'>f</font><font size=\"99999\">g</font>"
        "<a href=\"http://x\" target=\"_blank\">h</a><font size=\"-50\">i</font></p>"
        "<textformat leftmargin=\"5\" indent=\"-3\" leading=\"2\" "
        "blockindent=\"7\">j</textformat>"),
      base, {});
  ASSERT_EQ(Plain(r), "abcde\rfghi\rj");
  auto fmt = [&](std::size_t i) { return r.formats[r.formatOf[i]]; };
  EXPECT_EQ(fmt(0).font, "Serif");
  EXPECT_EQ(fmt(0).size, 400);
  EXPECT_EQ(fmt(0).color, (swf::Rgba{255, 128, 0, 255}));
  EXPECT_FALSE(fmt(0).bold);
  EXPECT_TRUE(fmt(1).bold);
  EXPECT_TRUE(fmt(2).bold && fmt(2).italic);
  EXPECT_TRUE(fmt(3).underline && !fmt(3).bold);
  EXPECT_EQ(fmt(4).font, "Base");  // </font> restores the format outside it
  EXPECT_EQ(fmt(4).size, 240);
  EXPECT_EQ(fmt(6).size, 320);                             // +4 on 12 px
  EXPECT_EQ(fmt(7).size, swf::text::kMaxFontPixels * 20);  // huge sizes are bounded
  EXPECT_EQ(fmt(8).url, "http://x");
  EXPECT_EQ(fmt(8).target, "_blank");
  EXPECT_EQ(fmt(9).size, 20);  // at least one pixel
  ASSERT_EQ(r.paragraphs.size(), 3u);
  EXPECT_EQ(r.paragraphs[0].align, swf::TextAlign::kCenter);
  EXPECT_EQ(r.paragraphs[1].align, swf::TextAlign::kRight);
  EXPECT_EQ(r.paragraphs[2].align, swf::TextAlign::kLeft);
  EXPECT_EQ(r.paragraphs[2].leftMargin, 100);
  EXPECT_EQ(r.paragraphs[2].indent, -60);
  EXPECT_EQ(r.paragraphs[2].leading, 40);
  EXPECT_EQ(r.paragraphs[2].blockIndent, 140);

  // What is written back reads in to the same text and formats (the last paragraph closed).
  const auto again = swf::text::ParseHtml(swf::text::ToHtml(r), base, {});
  EXPECT_EQ(Plain(again), Plain(r) + "\r");
  ASSERT_EQ(again.paragraphs.size(), r.paragraphs.size() + 1);
  for (std::size_t i = 0; i < r.text.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(again.formats[again.formatOf[i]], fmt(i));
  }
  for (std::size_t i = 0; i < r.paragraphs.size(); ++i)
    EXPECT_EQ(again.paragraphs[i].align, r.paragraphs[i].align);
}

TEST(Html, AParagraphBreakTakesTheFormatOfTheTextItEnds) {
  const auto r = swf::text::ParseHtml(U("<p><font face=\"K\" kerning=\"1\">a</font></p><p>b</p>"),
                                      swf::text::CharFormat{}, {});
  ASSERT_EQ(Plain(r), "a\rb\r");
  EXPECT_EQ(r.formats[r.formatOf[1]].font, "K");
  EXPECT_TRUE(r.formats[r.formatOf[1]].kerning);
  EXPECT_EQ(r.formats[r.formatOf[3]].font, "Times New Roman");
}

// A break in another format than the text before it is written back as an empty run. In older
// movies a </li> break takes the format after it, and a </p> break the one that the last empty
// <font> left (or, ending no text, the field's own). The cases and results are the original's.
TEST(Html, OlderMoviesWriteBackTheFormatsOfBreaks) {
  swf::text::CharFormat base;
  base.font = "A";
  const auto font = [](const char* color) {
    return std::string("<FONT FACE=\"A\" SIZE=\"12\" COLOR=\"#") + color +
           "\" LETTERSPACING=\"0\" KERNING=\"0\">";
  };
  const std::string p = "<P ALIGN=\"LEFT\">", black = font("000000");
  const std::pair<const char*, std::string> cases[] = {
      {"<b>\ntest\n</b>", p + black + "<B></B></FONT></P>" + p + black + "<B>test</B></FONT></P>"},
      {"<font color=\"#010101\">texttext<b><br></b></font>",
       p + font("010101") + "texttext<B></B></FONT></P>"},
      {"<i>text<li></li></i>",
       p + black + "<I>text</I></FONT></P><LI>" + black + "<I></I></FONT></LI>"},
      {"<li><font color=\"#010101\">text</font></li>",
       "<LI>" + font("010101") + "text<FONT COLOR=\"#000000\"></FONT></FONT></LI>"},
      {"<font color=\"#010101\"><textformat rightmargin=\"3\"><p><li></li></p></textformat></font>",
       "<TEXTFORMAT RIGHTMARGIN=\"3\"><LI>" + font("010101") +
           "</FONT></LI></TEXTFORMAT><TEXTFORMAT RIGHTMARGIN=\"3\">" + p + black +
           "</FONT></P></TEXTFORMAT>"},
      {"<b><p align=\"right\"></p></b>", "<P ALIGN=\"RIGHT\">" + black + "</FONT></P>"},
      {"<p><font color=\"#111111\"><b></b></font></p>", p + font("111111") + "</FONT></P>"},
      {"<p>test<font color=\"#121212\"></font><p>test</p><font "
       "color=\"#131313\"><p>test</p></font>",
       p + black + "testtest<FONT COLOR=\"#121212\"></FONT></FONT></P>" + p + font("131313") +
           "test<FONT COLOR=\"#121212\"></FONT></FONT></P>"},
      {"<p>test<font color=\"#121212\"></font><font color=\"#131313\"><font color=\"#141414\">"
       "</font></font><p>test</p></p>",
       p + black + "testtest<FONT COLOR=\"#131313\"></FONT></FONT></P>"},
      {"<p>test<b></b><p>test</p></p>", p + black + "testtest</FONT></P>"},
  };
  for (const auto& [html, written] : cases) {
    const auto r = swf::text::ParseHtml(U(html), base, {}, false, true, nullptr, true);
    EXPECT_EQ(swf::text::EncodeUtf8(swf::text::ToHtml(r)), written) << html;
  }
}

TEST(Html, WrittenBackWithNestedFontsAndParagraphFormats) {
  swf::text::CharFormat base;
  base.font = "A";
  const auto r = swf::text::ParseHtml(
      U("<textformat leftmargin=\"5\" leading=\"2\"><p>h<font face=\"B\">o<font size=\"14\">l"
        "<font face=\"A\">d</font></font></font>!</p></textformat><p>x</p>"),
      base, {});
  const std::string font =
      "FACE=\"A\" SIZE=\"12\" COLOR=\"#000000\" LETTERSPACING=\"0\" KERNING=\"0\"";
  // A run nests a <FONT> with what differs from the one around it, or closes back to an
  // enclosing one of exactly its format; paragraph formats other than zero go to <TEXTFORMAT>.
  EXPECT_EQ(swf::text::EncodeUtf8(swf::text::ToHtml(r)),
            "<TEXTFORMAT LEFTMARGIN=\"5\" LEADING=\"2\"><P ALIGN=\"LEFT\"><FONT " + font +
                ">h<FONT FACE=\"B\">o<FONT SIZE=\"14\">l<FONT FACE=\"A\">d</FONT></FONT></FONT>!"
                "</FONT></P></TEXTFORMAT><P ALIGN=\"LEFT\"><FONT " +
                font + ">x</FONT></P>");
  // No text, no paragraphs.
  EXPECT_EQ(swf::text::ToHtml(swf::text::PlainText(U"", base, {})), U"");
  // Tab stops in pixels apart by commas, up to the first piece that is no number.
  for (auto [stops, kept, written] :
       {std::tuple{"10,20.5", std::vector<float>{200, 410}, " TABSTOPS=\"10,20.5\""},
        {"7,x,9", {140}, " TABSTOPS=\"7\""},
        {"", {}, ""}}) {
    const auto tabbed = swf::text::ParseHtml(
        U(std::string("<textformat tabstops=\"") + stops + "\">a</textformat>"), base, {});
    EXPECT_EQ(tabbed.paragraphs[0].tabStops, kept) << stops;
    EXPECT_EQ(swf::text::EncodeUtf8(swf::text::ToHtml(tabbed)),
              (*written ? "<TEXTFORMAT" + std::string(written) + ">" : std::string()) +
                  "<P ALIGN=\"LEFT\"><FONT " + font + ">a</FONT></P>" +
                  (*written ? "</TEXTFORMAT>" : ""))
        << stops;
  }
}

// --- Layout -----------------------------------------------------------------------------------

// A face of known metrics: em 1000, ascent 800, descent 200; letters advance 500, blanks 250
// (or as given); an installed face unless told otherwise.
class FixedFace final : public swf::text::Face {
 public:
  explicit FixedFace(bool embedded = false, float letter = 500, float ascent = 800)
      : embedded_(embedded), letter_(letter), ascent_(ascent) {
    box_.fills.emplace_back();
    swf::ShapeEdge e;
    e.from = {0, -700};
    e.to = {400, -700};
    e.fill1 = 0;
    box_.edges.push_back(e);
  }
  float EmUnits() const override { return 1000; }
  float Ascent() const override { return ascent_; }
  float Descent() const override { return 200; }
  float Leading() const override { return 0; }
  std::optional<swf::text::GlyphInfo> Glyph(char32_t ch) override {
    if (ch == U'~') return std::nullopt;
    const bool blank = ch == U' ';
    return swf::text::GlyphInfo{blank ? nullptr : &box_, blank ? 250.f : letter_};
  }
  bool NonZero() const override { return true; }
  bool Embedded() const override { return embedded_; }

 private:
  swf::Shape box_;
  bool embedded_;
  float letter_, ascent_;
};

struct Laid {
  swf::text::Layout layout;
  std::vector<float> xs;  // glyph x positions
};

Laid Lay(const std::string& text, float width, bool wrap, swf::text::ParaFormat para = {},
         float size = 200) {
  static FixedFace face(true);  // embedded: advances in whole twips
  swf::text::CharFormat f;
  f.size = size;  // 10 px: letters 100 twips, blanks 50
  swf::text::LayoutOptions o;
  o.width = width;
  o.wordWrap = wrap;
  o.faceFor = [](const swf::text::CharFormat&) { return &face; };
  Laid l;
  l.layout = swf::text::LayOut(swf::text::PlainText(U(text), f, para), o);
  for (const auto& g : l.layout.glyphs) l.xs.push_back(g.x);
  return l;
}

TEST(Layout, TextHeightLeadingAndBlanksThatEndALine) {
  swf::text::ParaFormat spaced;
  spaced.leading = 40;
  // Lines of 200 twips (160 up, 40 down) and 40 of leading: the leading under the last line
  // counts only when it is the only one; no text has no height.
  EXPECT_EQ(Lay("a", 1000, false, spaced).layout.textHeight, 240);
  EXPECT_EQ(Lay("a\rb", 1000, false, spaced).layout.textHeight, 440);
  EXPECT_EQ(Lay("a\rb\rc", 1000, false, spaced).layout.textHeight, 680);
  EXPECT_EQ(Lay("", 1000, false, spaced).layout.textHeight, 0);
  // The empty line after a break that ends the text adds nothing for scripts, and keeps the
  // leading above it; a field that sizes itself to its text makes room for it.
  EXPECT_EQ(Lay("a\rb\r", 1000, false, spaced).layout.textHeight, 480);
  EXPECT_EQ(Lay("a\r", 1000, false, spaced).layout.textHeight, 240);
  EXPECT_EQ(Lay("a\r", 1000, false, spaced).layout.fitHeight, 440);
  EXPECT_EQ(Lay("a\rb", 1000, false, spaced).layout.fitHeight, 440);
  // Margins, indents and a list item's indent move lines in but are not in the text's width.
  for (float swf::text::ParaFormat::*room :
       {&swf::text::ParaFormat::leftMargin, &swf::text::ParaFormat::rightMargin,
        &swf::text::ParaFormat::indent, &swf::text::ParaFormat::blockIndent}) {
    swf::text::ParaFormat moved;
    moved.*room = 300;
    const swf::text::Layout l = Lay("aa", 1000, false, moved).layout;
    EXPECT_EQ(l.textWidth, 200);
    EXPECT_EQ(l.fitWidth, 500);
  }
  swf::text::ParaFormat item;
  item.bullet = true;
  EXPECT_EQ(Lay("aa", 1000, false, item).layout.textWidth, 200);
  // "\r\n" breaks twice.
  EXPECT_EQ(Lay("a\r\nb", 1000, false).layout.lines.size(), 3u);
  // Blanks at the end count in the width of left-aligned lines only (unless told otherwise).
  swf::text::ParaFormat centred;
  centred.align = swf::TextAlign::kCenter;
  EXPECT_EQ(Lay("aa  ", 1000, false).layout.textWidth, 300);
  EXPECT_EQ(Lay("aa  ", 1000, false, centred).layout.textWidth, 200);
}

TEST(Layout, TabsGoToTheParagraphsStopsThenToEveryDefaultStop) {
  // Letters of 100 twips; stops at 250 and 500, then every 800 twips from the line's start, which
  // an indent moves on.
  swf::text::ParaFormat stops;
  stops.tabStops = {250, 500};
  EXPECT_EQ(Lay("a\tb\tc\td\te", 5000, false, stops).xs,
            (std::vector<float>{0, 250, 500, 800, 1600}));
  EXPECT_EQ(Lay("a\tb", 5000, false).xs, (std::vector<float>{0, 800}));
  stops.indent = 300;
  EXPECT_EQ(Lay("\tb\tc", 5000, false, stops).xs, (std::vector<float>{500, 800}));
}

TEST(Layout, WordWrapBreaksAtBlanksAndLongWords) {
  // "aaa bbb ccc" at 100 twips a letter in 750 twips: "aaa bbb " is 750 wide with its trailing
  // blank, so "aaa bbb" fits and "ccc" goes to the next line.
  const Laid l = Lay("aaa bbb ccc", 750, true);
  ASSERT_EQ(l.layout.lines.size(), 2u);
  EXPECT_EQ(l.layout.lines[0].begin, 0u);
  EXPECT_EQ(l.layout.lines[0].end, 8u);
  EXPECT_EQ(l.layout.lines[0].width, 650);  // without the trailing blank
  EXPECT_EQ(l.xs, (std::vector<float>{0, 100, 200, 350, 450, 550, 0, 100, 200}));
  // Line 2's baseline: line 1's height (160 + 40) plus line 2's ascent.
  EXPECT_EQ(l.layout.glyphs.back().y, 360);
  // Left-aligned text counts the blank that ends its first line.
  EXPECT_EQ(l.layout.textWidth, 700);
  EXPECT_EQ(l.layout.textHeight, 400);
  swf::text::ParaFormat right;
  right.align = swf::TextAlign::kRight;
  EXPECT_EQ(Lay("aaa bbb ccc", 750, true, right).layout.textWidth, 650);

  // A word longer than the line is broken between letters; every line holds at least one.
  const Laid longWord = Lay("abcdefg", 250, true);
  ASSERT_EQ(longWord.layout.lines.size(), 4u);
  EXPECT_EQ(longWord.layout.lines[0].end, 2u);
  const Laid narrow = Lay("ab", 10, true);
  EXPECT_EQ(narrow.layout.lines.size(), 2u);

  // Without word wrap only paragraph ends break lines.
  const Laid nowrap = Lay("aaa bbb ccc\rd", 300, false);
  ASSERT_EQ(nowrap.layout.lines.size(), 2u);
  EXPECT_EQ(nowrap.layout.textWidth, 1000);
}

TEST(Layout, AlignmentMarginsIndentAndLeading) {
  struct Case {
    swf::TextAlign align;
    float first;  // x of the first glyph of "ab cd" (450 wide) in 1000 twips
  };
  const Case cases[] = {{swf::TextAlign::kLeft, 0},
                        {swf::TextAlign::kRight, 550},
                        {swf::TextAlign::kCenter, 275},
                        {swf::TextAlign::kJustify, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.align));
    swf::text::ParaFormat p;
    p.align = c.align;
    EXPECT_EQ(Lay("ab cd", 1000, true, p).xs.front(), c.first);
  }
  // Justified lines but the last spread their blanks over the width.
  swf::text::ParaFormat j;
  j.align = swf::TextAlign::kJustify;
  const Laid just = Lay("ab cd ef", 600, true, j);
  ASSERT_EQ(just.layout.lines.size(), 2u);
  EXPECT_EQ(just.xs[2], 400);  // "cd" pushed to the right edge (600 - 200)
  EXPECT_EQ(just.xs[4], 0);    // the last line stays left

  // Margins narrow the line, the indent moves its first line, leading spaces the lines.
  swf::text::ParaFormat m;
  m.leftMargin = 100;
  m.rightMargin = 200;
  m.indent = 50;
  m.leading = 60;
  m.align = swf::TextAlign::kRight;
  const Laid ml = Lay("aaaa aaaa", 1000, true, m);
  ASSERT_EQ(ml.layout.lines.size(), 2u);
  // Width 1000 - 100 - 50 - 200 = 650 for the first line: "aaaa aaaa" (900) does not fit.
  EXPECT_EQ(ml.xs[0], 1000 - 200 - 400);
  EXPECT_EQ(ml.xs[4], 1000 - 200 - 400);
  EXPECT_EQ(ml.layout.lines[1].top, 260);
  EXPECT_EQ(ml.layout.textHeight, 460);

  // A list item's lines start half an inch (36 px) in, after the margin; they wrap in what is
  // left ("aaaa" 400 + 720 + 100 fits 1300, "aaaa aaaa" does not).
  swf::text::ParaFormat item;
  item.bullet = true;
  item.leftMargin = 100;
  const Laid li = Lay("aaaa aaaa", 1300, true, item);
  ASSERT_EQ(li.layout.lines.size(), 2u);
  EXPECT_EQ(li.layout.lines[0].x, 820);
  EXPECT_EQ(li.layout.lines[1].x, 820);
}

TEST(Layout, InstalledFacesAdvanceAndRiseByWholePixels) {
  // At 42 px (840 twips), em 1000: embedded glyphs advance by whole twips (rounded down), those
  // of installed faces by whole pixels (rounded to the nearest), and their ascent is whole
  // pixels rounded up.
  struct Case {
    bool embedded;
    float letter, ascent;
    float step, lineAscent;  // twips
  };
  const Case cases[] = {
      {false, 550, 766, 460, 660},  // 23.1 px a letter, 32.17 px up
      {false, 640, 766, 540, 660},  // 26.88 px
      {true, 550, 766, 462, 643},
      {true, 640, 766, 537, 643},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << (c.embedded ? "embedded " : "installed ") << c.letter);
    FixedFace face(c.embedded, c.letter, c.ascent);
    swf::text::CharFormat f;
    f.size = 840;
    swf::text::LayoutOptions o;
    o.width = 10000;
    o.faceFor = [&](const swf::text::CharFormat&) { return &face; };
    const auto l = swf::text::LayOut(swf::text::PlainText(U"abc", f, {}), o);
    ASSERT_EQ(l.glyphs.size(), 3u);
    EXPECT_EQ(l.glyphs[1].x, c.step);
    EXPECT_EQ(l.glyphs[2].x, 2 * c.step);
    EXPECT_EQ(l.textWidth, 3 * c.step);
    ASSERT_EQ(l.lines.size(), 1u);
    EXPECT_EQ(l.lines[0].ascent, c.lineAscent);
    EXPECT_EQ(l.glyphs[0].y, c.lineAscent);  // the baseline
  }
}

TEST(Layout, PasswordsLetterSpacingAndMissingGlyphs) {
  swf::text::CharFormat f;
  f.size = 200;
  f.letterSpacing = 20;
  FixedFace face;
  swf::text::LayoutOptions o;
  o.width = 5000;
  o.faceFor = [&](const swf::text::CharFormat&) { return &face; };
  auto l = swf::text::LayOut(swf::text::PlainText(U"ab~c", f, {}), o);
  // The face has no '~': it takes half an em and draws nothing.
  ASSERT_EQ(l.glyphs.size(), 3u);
  EXPECT_EQ(l.glyphs[1].x, 120);
  EXPECT_EQ(l.glyphs[2].x, 120 * 2 + 100 + 20);
  o.password = true;
  l = swf::text::LayOut(swf::text::PlainText(U"a c", f, {}), o);
  EXPECT_EQ(l.glyphs.size(), 3u);  // blanks are hidden as well
}

// --- Text fields ------------------------------------------------------------------------------

struct FieldMovie {
  std::optional<swf::Movie> movie;
  std::unique_ptr<swf::text::FontLibrary> fonts;
  std::unique_ptr<swf::text::TextField> field;
};

FieldMovie MakeField(const EditSpec& e) {
  SwfWriter m(200, 100);
  m.Tag(kDefineFont2, FontTag(1, "Boxes", false));
  m.Tag(kDefineEditText, EditTag(2, e));
  m.End();
  const auto bytes = m.Finish();
  FieldMovie f;
  f.movie = swf::ParseMovie(bytes.data(), bytes.size(), nullptr);
  f.fonts = std::make_unique<swf::text::FontLibrary>(*f.movie, nullptr);
  f.field = std::make_unique<swf::text::TextField>(
      std::get<swf::EditText>(f.movie->characters.at(2)), f.movie->version, *f.fonts);
  return f;
}

TEST(TextField, ATimelineFieldTakesInputUnlessReadOnly) {
  for (const bool readOnly : {false, true}) {
    EditSpec e;
    e.readOnly = readOnly;
    EXPECT_EQ(MakeField(e).field->input, !readOnly) << readOnly;
  }
}

// A single-line field of a version 6 movie keeps the paragraphs of its HTML; one of version 7
// runs them on.
TEST(TextField, SingleLineHtmlKeepsItsParagraphsInVersion6Movies) {
  const FieldMovie f = MakeField(EditSpec{});
  for (const int version : {6, 7}) {
    swf::text::TextField field(std::get<swf::EditText>(f.movie->characters.at(2)), version,
                               *f.fonts);
    field.html = true;
    field.multiline = false;
    field.SetHtmlText(" <p>test</p>  <p>test</p> ");
    EXPECT_EQ(field.Text(), version == 6 ? "test\rtest\r" : "testtest") << version;
    field.multiline = true;
    field.SetHtmlText(" <p>test</p>  <p>test</p> ");
    EXPECT_EQ(field.Text(), "test\rtest\r") << version;
  }
}

TEST(TextField, EmbeddedFontLayoutAutoSizeAndScroll) {
  EditSpec e;
  e.text = "AB A";
  e.w = 4000;
  e.h = 600;
  e.align = 2;  // centre
  FieldMovie f = MakeField(e);
  const auto& l = f.field->CurrentLayout();
  // At 400 twips A and B advance 273.4375 (700 units) and the blank 117.1875, each cut to
  // whole twips; no kerning unless the format asks for it.
  ASSERT_EQ(l.glyphs.size(), 3u);
  const float width = 3 * 273 + 117;
  const float left = (4000 - 2 * swf::text::kGutter - width) / 2;
  EXPECT_FLOAT_EQ(l.glyphs[0].x, left);
  EXPECT_FLOAT_EQ(l.glyphs[1].x, left + 273);
  EXPECT_FLOAT_EQ(l.glyphs[2].x, left + 2 * 273 + 117);
  f.field->html = true;
  f.field->SetHtmlText("<font kerning=\"1\">AB</font>");
  ASSERT_EQ(f.field->CurrentLayout().glyphs.size(), 2u);
  EXPECT_FLOAT_EQ(f.field->CurrentLayout().glyphs[1].x - f.field->CurrentLayout().glyphs[0].x,
                  273 - 40);  // the A-B pair: -100 units (-39.06 twips, cut down)
  f.field->html = false;
  EXPECT_FLOAT_EQ(l.glyphs[0].y, 351);  // 900 units of ascent: 351.56 twips

  // Auto size grows the box to the text (left anchored), and multi-line text scrolls.
  f.field->SetAutoSize(swf::text::AutoSize::kLeft);
  f.field->SetText("A\rA\rA");
  const float line = 351 + 78;  // ascent and descent (900 and 200 units), each in whole twips
  EXPECT_FLOAT_EQ(f.field->TextHeight(), 3 * line);
  const auto box = f.field->Bounds();
  EXPECT_FLOAT_EQ(box.ymax - box.ymin, 3 * line + 2 * swf::text::kGutter);
  EXPECT_FLOAT_EQ(box.xmax - box.xmin, 273 + 2 * swf::text::kGutter);
  EXPECT_EQ(f.field->MaxScroll(), 1);
  f.field->SetAutoSize(swf::text::AutoSize::kNone);
  f.field->SetSize(4000, line * 1.5f + 2 * swf::text::kGutter);
  EXPECT_EQ(f.field->MaxScroll(), 3);
  f.field->SetScroll(99);
  EXPECT_EQ(f.field->Scroll(), 3);
  EXPECT_EQ(f.field->BottomScroll(), 3);
  f.field->SetScroll(1);
  EXPECT_EQ(f.field->BottomScroll(), 1);

  // The bound variable's value replaces the text; HTML fields read it as HTML.
  f.field->ShowVariableValue("AAB");
  EXPECT_EQ(f.field->Text(), "AAB");
  f.field->html = true;
  f.field->ShowVariableValue("<b>B</b>A");
  EXPECT_EQ(f.field->Text(), "BA");
  EXPECT_TRUE(f.field->Content().formats[f.field->Content().formatOf[0]].bold);
  f.field->SetTextColor({1, 2, 3, 255});
  EXPECT_EQ(f.field->Content().formats[f.field->Content().formatOf[1]].color,
            (swf::Rgba{1, 2, 3, 255}));
}

TEST(TextField, DrawsBorderBackgroundAndGlyphsClippedToItsBox) {
  // A bordered field 60 x 20 px at (10, 10) with "AAAAAAAA" in #FF99CC at 20 px: the glyphs
  // overflow the box to the right and are cut at its edge.
  SwfWriter m(100, 50);
  m.Background(255, 0, 0);
  m.Tag(kDefineFont2, FontTag(1, "Boxes", false));
  EditSpec e;
  e.w = 1200;
  e.h = 400;
  e.border = true;
  e.text = "AAAAAAAA";
  e.rgba = 0xFF99CCFF;
  m.Tag(kDefineEditText, EditTag(2, e));
  m.Place(2, 1, 200, 200);
  m.ShowFrame();
  m.End();
  const Surface s = Draw(m.Finish(), 100, 50);
  // Fields paint their colour in 1/256 steps of white: #FF99CC shows as 255, 152, 203.
  const Pixel pink = MakePixel(255, 152, 203), white = MakePixel(255, 255, 255),
              black = MakePixel(0, 0, 0), red = MakePixel(255, 0, 0);
  EXPECT_EQ(Hex(s.At(5, 5)), Hex(red));      // outside
  EXPECT_EQ(Hex(s.At(10, 20)), Hex(black));  // the border's left side
  // The right and bottom sides lie on the pixels just past the box; the corner between them
  // stays background.
  EXPECT_EQ(Hex(s.At(70, 12)), Hex(black));
  EXPECT_EQ(Hex(s.At(40, 30)), Hex(black));
  EXPECT_EQ(Hex(s.At(25, 29)), Hex(white));
  EXPECT_EQ(Hex(s.At(70, 30)), Hex(white));
  EXPECT_EQ(Hex(s.At(71, 12)), Hex(red));
  EXPECT_EQ(Hex(s.At(40, 12)), Hex(white));  // background above the glyphs
  // Glyph 1 spans x 12 .. 23.7 px, its top at 10 + 2 + 17.6 - 15.6 = 14 px.
  EXPECT_EQ(Hex(s.At(17, 20)), Hex(pink));
  EXPECT_EQ(Hex(s.At(25, 20)), Hex(white));  // the gap after it
  EXPECT_EQ(Hex(s.At(75, 20)), Hex(red));    // glyph 5 would reach here: clipped
}

TEST(TextField, BorderSnapsToWholePixelsWhileTheFieldStaysNearlyUpright) {
  // A bordered field 10 x 10 px (white inside) on red, placed with the given skew terms and
  // translation (twips). Each probe is a pixel and whether it must show the border (black).
  struct Probe {
    int x, y;
    bool black;
  };
  struct Case {
    const char* what;
    bool readOnly;
    double skew0, skew1;
    std::int32_t tx, ty;
    std::vector<Probe> probes;
  };
  const std::vector<Probe> atTen = {{10, 10, true},  {20, 10, true}, {20, 19, true},
                                    {10, 20, true},  {19, 20, true}, {21, 15, false},
                                    {15, 21, false}, {9, 15, false}, {15, 9, false}};
  auto with = [](std::vector<Probe> p, Probe extra) {
    p.push_back(extra);
    return p;
  };
  const Case cases[] = {
      {"input field: the corner past the box stays empty", false, 0, 0, 200, 200,
       with(atTen, {20, 20, false})},
      {"read-only field: the frame is closed", true, 0, 0, 200, 200, with(atTen, {20, 20, true})},
      {"a skew that moves no corner by half a pixel counts as none", true, 0.004, -0.004, 200, 200,
       with(atTen, {20, 20, true})},
      {"half a pixel goes up and left", true, 0, 0, 210, 210, with(atTen, {20, 20, true})},
      {"past half a pixel goes to the next one",
       true,
       0,
       0,
       211,
       211,
       {{11, 11, true}, {21, 21, true}, {10, 10, false}, {21, 10, false}}},
      // 0.2 moves the right side down by 2 px: drawn skewed inside the box, not snapped.
      {"a real skew is drawn as such", true, 0.2, 0, 200, 200, {{15, 10, false}, {15, 11, true}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SwfWriter m(40, 40);
    m.Background(255, 0, 0);
    m.Tag(kDefineFont2, FontTag(1, "Boxes", false));
    EditSpec e;
    e.w = 200;
    e.h = 200;
    e.border = true;
    e.readOnly = c.readOnly;
    m.Tag(kDefineEditText, EditTag(2, e));
    BitWriter place;
    place.U8(2 | 4);
    place.U16(1);
    place.U16(2);
    place.Matrix(1, 1, c.skew0, c.skew1, c.tx, c.ty);
    m.Tag(26, place.Take());
    m.ShowFrame();
    m.End();
    const Surface s = Draw(m.Finish(), 40, 40);
    for (const Probe& p : c.probes) {
      const Pixel got = s.At(p.x, p.y);
      EXPECT_EQ(Hex(got) == "000000", p.black) << "at " << p.x << ", " << p.y << ": " << Hex(got);
    }
  }
}

TEST(Html, StyleRulesStyleTagsAndClassesBeforeTheTagsOwnAttributes) {
  using swf::text::FormatPatch;
  const swf::Rgba red{255, 0, 0, 255}, green{0, 255, 0, 255}, blue{0, 0, 255, 255};
  FormatPatch redP, greenP, blueP, centred, small;
  redP.color = red;
  greenP.color = green;
  blueP.color = blue;
  centred.align = swf::TextAlign::kCenter;
  small.size = 200;
  swf::text::StyleRules rules{{U"p", blueP},      {U"a", greenP},   {U"span", blueP},
                              {U"font", blueP},   {U"li", centred}, {U".red", redP},
                              {U".small", small}, {U"pc", centred}};
  struct Case {
    const char* html;
    swf::Rgba color;
    float size;
    swf::TextAlign align;
  };
  const swf::Rgba black{0, 0, 0, 255};
  const auto left = swf::TextAlign::kLeft, center = swf::TextAlign::kCenter;
  const Case cases[] = {
      {"<p>x</p>", blue, 240, left},               // a tag's rule
      {"<a>x</a>", green, 240, left},              //
      {"<li>x</li>", black, 240, center},          //
      {"<span>x</span>", black, 240, left},        // span and font take no tag rule
      {"<font>x</font>", black, 240, left},        //
      {"<p class=\"RED\">x</p>", red, 240, left},  // a class over the tag, any case
      {"<a class=\"red\">x</a>", red, 240, left},  //
      {"<span class=\"small\">x</span>", black, 200, left},
      {"<span class=\" red\">x</span>", black, 240, left},  // the class as written, blanks too
      {"<span class=\"red small\">x</span>", black, 240, left},
      {"<p class=\"pc\">x</p>", blue, 240, left},  // a rule without a dot is no class
      {"<span class=\"red\"><font color=\"#00FF00\">x</font></span>", green, 240, left},
      {"<font color=\"#00FF00\"><span class=\"red\">x</span></font>", red, 240, left},
      {"<li align=\"right\">x</li>", black, 240, center},  // li has no align of its own
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.html);
    const auto r =
        swf::text::ParseHtml(U(c.html), swf::text::CharFormat{}, {}, false, true, &rules);
    const std::size_t x = Plain(r).find('x');
    ASSERT_NE(x, std::string::npos);
    const auto& f = r.formats[r.formatOf[x]];
    EXPECT_EQ(f.color, c.color);
    EXPECT_EQ(f.size, c.size);
    EXPECT_EQ(r.paragraphs[0].align, c.align);
  }
  // A paragraph's align attribute wins over its rules.
  const auto r = swf::text::ParseHtml(U("<p class=\"x\" align=\"right\">x</p>"),
                                      swf::text::CharFormat{}, {}, false, true, &rules);
  EXPECT_EQ(r.paragraphs[0].align, swf::TextAlign::kRight);
}

}  // namespace
}  // namespace dbx
