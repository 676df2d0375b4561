// Text fields as scripts see them: fields made by createTextField and placed by the timeline get
// script objects with the TextField properties, TextFormat ranges, and the bound variable.
#include <gtest/gtest.h>

#include <functional>

#include "avm1_asm.h"
#include "swf/avm1/runtime.h"
#include "swf/display/stage.h"
#include "swf/text/text_field.h"
#include "test_support.h"

namespace dbx::swf::avm1 {
namespace {

using test::Asm;
using test::Null;
using test::Reg;

struct Played {
  std::vector<std::string> lines;
  std::string fieldText;
  double fieldWidth = 0;
};

// Plays `bytes` for `steps` frames; the field reported is the one `field` picks (by default the
// root's "tf").
Played PlayBytes(const std::vector<std::uint8_t>& bytes, int steps,
                 const std::function<const Clip*(const Stage&)>& field = {}) {
  auto movie = ParseMovie(bytes.data(), bytes.size(), nullptr);
  EXPECT_TRUE(movie);
  Played p;
  if (!movie) return p;
  Stage stage(*movie);
  ScriptHost host{*movie, stage, [&](std::string_view s) { p.lines.emplace_back(s); }, ""};
  Runtime runtime(host);
  stage.SetScripts(&runtime);
  for (int i = 0; i < steps; ++i) stage.Step(i * 33.0);
  const Clip* c = field ? field(stage) : stage.root().ChildNamed("tf");
  if (c && c->field) {
    p.fieldText = c->field->Text();
    p.fieldWidth = c->field->Bounds().xmax - c->field->Bounds().xmin;
  }
  return p;
}

Played Play(Asm& a, int steps) {
  return PlayBytes(test::MovieWithScript(a.Build()->bytes, 8), steps);
}

// tf = createTextField("tf", 1, 10, 20, 100, 50) into register 1.
void MakeField(Asm& a) {
  a.Push({50, 100, 20, 10, 1, "tf", 6, "_root"}).Op(0x1C).Push({"createTextField"}).Op(0x52);
  a.StoreRegister(1).Op(0x17);
}

TEST(TextFieldScript, PropertiesOfAFieldMadeByScript) {
  Asm a;
  MakeField(a);
  a.Push({Reg{1}, "_x"}).Op(0x4E).Trace();
  a.Push({Reg{1}, "_width"}).Op(0x4E).Trace();
  a.Push({Reg{1}, "text", "AB"}).Op(0x4F);
  a.Push({Reg{1}, "text"}).Op(0x4E).Trace();
  a.Push({Reg{1}, "length"}).Op(0x4E).Trace();
  a.Push({Reg{1}, "type"}).Op(0x4E).Trace();
  a.Push({Reg{1}, "autoSize", true}).Op(0x4F);
  a.Push({Reg{1}, "autoSize"}).Op(0x4E).Trace();
  a.Push({Reg{1}, "maxChars"}).Op(0x4E).Trace();
  a.Push({Reg{1}, "backgroundColor", 0x123456}).Op(0x4F);
  a.Push({Reg{1}, "backgroundColor"}).Op(0x4E).Trace();
  // _width sets the box, not the scale.
  a.Push({Reg{1}, "autoSize", "none"}).Op(0x4F);
  a.Push({Reg{1}, "_width", 40}).Op(0x4F);
  a.Push({Reg{1}, "_xscale"}).Op(0x4E).Trace();
  // The field broadcasts to itself.
  a.Push({Reg{1}, "_listeners"}).Op(0x4E).Push({"length"}).Op(0x4E).Trace();
  const Played p = Play(a, 1);
  EXPECT_EQ(p.lines, (std::vector<std::string>{"10", "100", "AB", "2", "dynamic", "left", "null",
                                               "1193046", "100", "1"}));
  EXPECT_EQ(p.fieldText, "AB");
  EXPECT_DOUBLE_EQ(p.fieldWidth, 800);
}

TEST(TextFieldScript, AFieldKeepsItsAlphaIn256ths) {
  // Fields and clips tell their alpha in 1/256 steps, rounded towards zero.
  struct Case {
    double set;
    const char* field;
    const char* clip;
  };
  const Case cases[] = {{0.5, "0.390625", "0.390625"},
                        {33, "32.8125", "32.8125"},
                        {-0.5, "-0.390625", "-0.390625"},
                        {100, "100", "100"}};
  Asm a;
  MakeField(a);
  a.Push({2, "mc", 2, "_root"}).Op(0x1C).Push({"createEmptyMovieClip"}).Op(0x52);
  a.StoreRegister(2).Op(0x17);
  std::vector<std::string> expected;
  for (const Case& c : cases) {
    for (const std::uint8_t reg : {1, 2}) {
      a.Push({Reg{reg}, "_alpha", c.set}).Op(0x4F);
      a.Push({Reg{reg}, "_alpha"}).Op(0x4E).Trace();
    }
    expected.push_back(c.field);
    expected.push_back(c.clip);
  }
  EXPECT_EQ(Play(a, 1).lines, expected);
}

TEST(TextFieldScript, TextFormatRangesAndNewText) {
  Asm a;
  MakeField(a);
  a.Push({Reg{1}, "text", "abc"}).Op(0x4F);
  a.Push({0, "TextFormat"}).Op(0x40).StoreRegister(2).Op(0x17);
  a.Push({Reg{2}, "bold", true}).Op(0x4F);
  a.Push({Reg{2}, "size", 30}).Op(0x4F);
  a.Push({Reg{2}, "tabStops", 25, "10", 2}).Op(0x42).Op(0x4F);  // [10, 25]
  // setTextFormat(1, 3, fmt): b and c bold at 30, their paragraph's tabs at 10 and 25 pixels.
  a.Push({Reg{2}, 3, 1, 3, Reg{1}}).Push({"setTextFormat"}).Op(0x52).Op(0x17);
  auto get = [&](std::initializer_list<test::Item> args, const char* what) {
    a.Push(args).Push({Reg{1}, "getTextFormat"}).Op(0x52).Push({what}).Op(0x4E).Trace();
  };
  get({0}, "bold");        // the whole text: mixed
  get({0, 1}, "bold");     // a alone
  get({2, 1}, "bold");     // c alone
  get({3, 1, 2}, "size");  // b and c
  get({0}, "size");
  get({0}, "font");  // shared by all
  get({0}, "tabStops");
  a.Push({Reg{1}, "html", true}).Op(0x4F);
  a.Push({Reg{1}, "htmlText"}).Op(0x4E).Trace();
  // New text takes the new-text format, not the formats of the text it replaces.
  a.Push({Reg{2}, 1, Reg{1}}).Push({"setNewTextFormat"}).Op(0x52).Op(0x17);
  a.Push({Reg{1}, "text", "xy"}).Op(0x4F);
  get({0}, "bold");
  get({0}, "size");
  Played p = Play(a, 1);
  ASSERT_EQ(p.lines.size(), 10u);
  EXPECT_EQ(p.lines[6], "10,25");
  EXPECT_NE(p.lines[7].find("<TEXTFORMAT TABSTOPS=\"10,25\">"), std::string::npos) << p.lines[7];
  p.lines.erase(p.lines.begin() + 6, p.lines.begin() + 8);
  EXPECT_EQ(p.lines, (std::vector<std::string>{"null", "false", "true", "30", "null",
                                               "Times New Roman", "true", "30"}));
}

TEST(TextFieldScript, BoundVariableShowsInTheFieldAndTakesItsText) {
  Asm a;
  MakeField(a);
  a.Push({Reg{1}, "variable", "v"}).Op(0x4F);
  a.Set("v", "shown");
  a.Push({Reg{1}, "variable"}).Op(0x4E).Trace();
  const Played shown = Play(a, 1);
  EXPECT_EQ(shown.lines, (std::vector<std::string>{"v"}));
  EXPECT_EQ(shown.fieldText, "shown");

  // Text set by the script goes to the variable.
  Asm b;
  MakeField(b);
  b.Push({Reg{1}, "variable", "v"}).Op(0x4F);
  b.Push({Reg{1}, "text", "typed"}).Op(0x4F);
  b.Get("v").Trace();
  // A field whose variable is gone keeps its text.
  b.Push({Reg{1}, "variable", Null{}}).Op(0x4F);
  b.Push({Reg{1}, "variable"}).Op(0x4E).Trace();
  const Played typed = Play(b, 2);
  EXPECT_EQ(typed.lines, (std::vector<std::string>{"typed", "null"}));
  EXPECT_EQ(typed.fieldText, "typed");
}

TEST(TextFieldScript, AFieldInAButtonBindsItsVariableOnTheButtonsTimeline) {
  // A field bound to "v" (text "old") is every state of a button placed on the main timeline,
  // whose script sets v = "new".
  swftest::SwfWriter w(100, 100);
  swftest::BitWriter field;
  field.U16(3);
  field.Rect(0, 2000, 0, 400);
  field.U8(0x80);  // has text
  field.U8(0);
  for (char c : std::string("v")) field.U8(static_cast<std::uint8_t>(c));
  field.U8(0);
  for (char c : std::string("old")) field.U8(static_cast<std::uint8_t>(c));
  field.U8(0);
  w.Tag(37, field.Take());
  swftest::BitWriter button;
  button.U16(5);
  button.U8(0);
  button.U16(0);  // no actions
  button.U8(0x0F);
  button.U16(3);
  button.U16(1);
  button.Matrix(1, 1, 0, 0, 0, 0);
  button.UB(0, 2);
  button.UB(0, 4);
  button.Align();
  button.U8(0);
  w.Tag(34, button.Take());
  w.Place(5, 1);
  Asm a;
  a.Set("v", std::string("new"));
  w.DoAction(a.Build()->bytes);
  w.ShowFrame();
  w.End();
  // The field is the button's child.
  const Played p = PlayBytes(w.Finish(), 2, [](const Stage& stage) -> const Clip* {
    const Clip* b = stage.root().ChildAt(1);
    if (!b) return nullptr;
    for (const auto& [depth, child] : b->children())
      if (child->field) return child.get();
    return nullptr;
  });
  EXPECT_EQ(p.fieldText, "new");
}

TEST(TextFieldScript, TextReadRightAfterTheVariableChangesIsTheNewValue) {
  // Within one frame, before the frame's end brings bound fields up to date.
  Asm a;
  MakeField(a);
  a.Push({Reg{1}, "variable", "v"}).Op(0x4F);
  a.Set("v", "first");
  a.Push({Reg{1}, "text"}).Op(0x4E).Trace();
  a.Set("v", "second");
  a.Push({Reg{1}, "htmlText"}).Op(0x4E).Trace();
  a.Set("v", "third!");
  a.Push({Reg{1}, "length"}).Op(0x4E).Trace();
  const Played p = Play(a, 1);
  EXPECT_EQ(p.lines, (std::vector<std::string>{"first", "second", "6"}));
}

TEST(TextFieldScript, TextFormatConvertsWhatItIsGiven) {
  // The constructor truncates numbers; a write rounds half to even, keeps margins from going
  // negative and ignores a name that is no alignment.
  struct Case {
    test::Item value;
    const char* prop;
    const char* constructed;
    const char* written;
  };
  const Case cases[] = {
      {-10.9, "size", "-10", "-11"},
      {-9.5, "size", "-9", "-10"},
      {2.5, "size", "2", "2"},
      {1.5, "indent", "1", "2"},
      {-11, "leftMargin", "-11", "0"},
      {-3.5, "rightMargin", "-3", "0"},
      {-11, "color", "4294967285", "4294967285"},
      {1.9, "color", "1", "1"},
      {"1.9", "leading", "1", "2"},
      {0.1, "bold", "true", "true"},
      {0, "underline", "false", "false"},
      {Null{}, "size", "null", "null"},
      {"bogus", "align", "null", "right"},
      {"CENTER", "align", "center", "center"},
      {true, "size", "1", "1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.prop);
    Asm a;
    // new TextFormat(v, v, ... 13 times)
    std::vector<test::Item> args(13, c.value);
    for (const auto& v : args) a.Push({v});
    a.Push({13, "TextFormat"}).Op(0x40).Push({c.prop}).Op(0x4E).Trace();
    a.Push({"right", "left", 0, 0, 0, "", "", false, false, false, 0, 0, "x", 13, "TextFormat"});
    a.Op(0x40).StoreRegister(2).Op(0x17);
    a.Push({Reg{2}, "align", "right"}).Op(0x4F);
    a.Push({Reg{2}, c.prop, c.value}).Op(0x4F);
    a.Push({Reg{2}, c.prop}).Op(0x4E).Trace();
    const Played p = Play(a, 1);
    EXPECT_EQ(p.lines, (std::vector<std::string>{c.constructed, c.written}));
  }
}

TEST(TextFieldScript, TextColorIsTheNewTextColorAndReplaceSelInsertsAtTheCaret) {
  Asm a;
  MakeField(a);
  a.Push({Reg{1}, "text", "abc"}).Op(0x4F);
  a.Push({Reg{1}, "textColor", 0x404040}).Op(0x4F);
  a.Push({0, "TextFormat"}).Op(0x40).StoreRegister(2).Op(0x17);
  a.Push({Reg{2}, "color", 0x808080}).Op(0x4F);
  // setTextFormat changes the text, not the colour new text takes.
  a.Push({Reg{2}, 1, Reg{1}}).Push({"setTextFormat"}).Op(0x52).Op(0x17);
  a.Push({Reg{1}, "textColor"}).Op(0x4E).Trace();
  a.Push({0, Reg{1}}).Push({"getTextFormat"}).Op(0x52).Push({"color"}).Op(0x4E).Trace();
  a.Push({"<", 1, Reg{1}}).Push({"replaceSel"}).Op(0x52).Op(0x17);
  a.Push({">", 1, Reg{1}}).Push({"replaceSel"}).Op(0x52).Op(0x17);
  const Played p = Play(a, 1);
  EXPECT_EQ(p.lines, (std::vector<std::string>{"4210752", "8421504"}));
  EXPECT_EQ(p.fieldText, "<>abc");
}

TEST(TextFieldScript, AFieldIsPlacedByTheCornerOfItsBox) {
  Asm a;
  MakeField(a);  // at 10, 20; 100 wide
  // Without a font source letters take half the size: "AB" at 12 px is 12 px wide, and the box
  // 16 with its gutters, grown to the left from the right edge at 110.
  a.Push({Reg{1}, "autoSize", "right"}).Op(0x4F);
  a.Push({Reg{1}, "text", "AB"}).Op(0x4F);
  a.Push({Reg{1}, "_x"}).Op(0x4E).Trace();
  a.Push({Reg{1}, "_width"}).Op(0x4E).Trace();
  a.Push({Reg{1}, "_x", 50}).Op(0x4F);
  a.Push({Reg{1}, "_x"}).Op(0x4E).Trace();
  a.Push({Reg{1}, "_y"}).Op(0x4E).Trace();
  const Played p = Play(a, 1);
  EXPECT_EQ(p.lines, (std::vector<std::string>{"94", "16", "50", "20"}));
}

TEST(TextFieldScript, AStyleSheetMakesTheFieldReadMarkupAndGiveItBack) {
  Asm a;
  MakeField(a);
  // sheet = new TextField.StyleSheet(); sheet.setStyle(".a", {color: "#FF0000"})
  a.Push({0, "TextField"}).Op(0x1C).Push({"StyleSheet"}).Op(0x53).StoreRegister(2).Op(0x17);
  a.Push({"color", "#FF0000", 1}).Op(0x43).Push({".a", 2, Reg{2}, "setStyle"}).Op(0x52).Op(0x17);
  a.Push({0, Reg{2}, "getStyleNames"}).Op(0x52).Trace();
  a.Push({".a", 1, Reg{2}, "getStyle"}).Op(0x52).Push({"color"}).Op(0x4E).Trace();
  a.Push({"p, .b { font-size: 10px; color:#00FF00 }", 1, Reg{2}, "parseCSS"}).Op(0x52).Trace();
  a.Push({".b", 1, Reg{2}, "getStyle"}).Op(0x52).Push({"fontSize"}).Op(0x4E).Trace();
  a.Push({"{ unclosed", 1, Reg{2}, "parseCSS"}).Op(0x52).Trace();
  // A clip is no style sheet.
  a.Push({Reg{1}, "styleSheet", Reg{1}}).Op(0x4F);
  a.Push({Reg{1}, "styleSheet"}).Op(0x4E).Trace();
  a.Push({Reg{1}, "styleSheet", Reg{2}}).Op(0x4F);
  a.Push({Reg{1}, "text", "<b>x</b>y"}).Op(0x4F);
  a.Push({Reg{1}, "text"}).Op(0x4E).Trace();
  a.Push({Reg{1}, "htmlText"}).Op(0x4E).Trace();
  a.Push({Reg{1}, "html"}).Op(0x4E).Trace();
  a.Push({Reg{1}, "styleSheet", Null{}}).Op(0x4F);
  a.Push({Reg{1}, "htmlText"}).Op(0x4E).Trace();
  const Played p = Play(a, 1);
  EXPECT_EQ(p.lines, (std::vector<std::string>{".a", "#FF0000", "true", "10px", "false",
                                               "undefined", "xy", "<b>x</b>y", "false", "xy"}));
}

TEST(TextFieldScript, AStyleSheetsStylesShowInTheFieldsText) {
  Asm a;
  MakeField(a);
  // A value runs to its ";" or "}" with its blanks: "font-weight: bold }" would be "bold ", no
  // weight at all, so each value here ends at a ";".
  a.Push({0, "TextField"}).Op(0x1C).Push({"StyleSheet"}).Op(0x53).StoreRegister(2).Op(0x17);
  a.Push({".hot { color: #FF8000; font-size: 30px; font-weight: bold; } "
          "p { text-align: center; margin-left: 4; } .Cold { color: #0000FF; }",
          1, Reg{2}, "parseCSS"})
      .Op(0x52)
      .Op(0x17);
  a.Push({Reg{1}, "styleSheet", Reg{2}}).Op(0x4F);
  a.Push({Reg{1}, "htmlText", "<p><span class=\"hot\">a</span>b</p><span class=\"cold\">c</span>"})
      .Op(0x4F);
  // trace(format + ...) for characters 0, 1 and 2.
  auto traceFormat = [&](int at) {
    a.Push({at, 1, Reg{1}, "getTextFormat"}).Op(0x52).StoreRegister(3).Op(0x17);
    for (const char* name : {"color", "size", "bold", "align", "leftMargin"}) {
      a.Push({Reg{3}, name}).Op(0x4E);
      if (std::string(name) != "color") a.Op(0x47);
      if (std::string(name) != "leftMargin") a.Push({" "}).Op(0x47);
    }
    a.Trace();
  };
  for (int i = 0; i < 3; ++i) traceFormat(i);
  // A sheet changed after the text was set shows once it is set on the field again.
  a.Push({"color", "#00FF00", 1}).Op(0x43).Push({".hot", 2, Reg{2}, "setStyle"}).Op(0x52).Op(0x17);
  traceFormat(0);
  a.Push({Reg{1}, "styleSheet", Reg{2}}).Op(0x4F);
  traceFormat(0);
  const Played p = Play(a, 1);
  // The field is one line: "c" stays in the paragraph that <p> began.
  EXPECT_EQ(p.lines, (std::vector<std::string>{"16744448 30 true center 4", "0 12 false center 4",
                                               "255 12 false center 4", "16744448 30 true center 4",
                                               "65280 12 false center 4"}));
}

TEST(TextFieldScript, AStyleSheetReadsCssAsTheOriginalDoes) {
  struct Case {
    const char* css;
    const char* traced;  // parseCSS's answer, the style names, then the probed value
    const char* selector;
    const char* property;
  };
  const Case cases[] = {
      {"a, b { kerning: 5 }", "true|a,b|5 ", "b", "kerning"},
      // A value keeps its blanks and runs to ";" or "}"; a name runs to its colon.
      {"a{;;key: value;;other: value;}", "true|a|value", "a", ";other"},
      {"a{name}b{:value}", "true|a|value", "a", "name}b{"},
      {"a{key:;", "true|a|", "a", "key"},
      {"k {name-with-dashes: v;this--one: w;UPPER-X: y;}", "true|k|w", "k", "this-one"},
      {"k {name-with-dashes: v;}", "true|k|v", "k", "nameWithDashes"},
      {"k {UPPER-X: y;}", "true|k|y", "k", "UPPERX"},
      // Blanks inside a name or a selector, a block cut inside a property, no selector, text
      // after a block: the whole text is refused and nothing of it kept.
      {"key {property with space: value; }", "false||undefined", "key", "property"},
      {"long key { kerning: 5 }", "false||undefined", "key", "kerning"},
      {"a{key:value", "false||undefined", "a", "key"},
      {"{color:}", "false||undefined", "a", "color"},
      {"one { color: blue; }; oops", "false||undefined", "one", "color"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.css);
    Asm a;
    a.Push({0, "TextField"}).Op(0x1C).Push({"StyleSheet"}).Op(0x53).StoreRegister(2).Op(0x17);
    // trace(sheet.parseCSS(css) + "|" + sheet.getStyleNames() + "|" + sheet.getStyle(s)[p])
    a.Push({c.css, 1, Reg{2}, "parseCSS"}).Op(0x52).Push({"|"}).Op(0x47);
    a.Push({0, Reg{2}, "getStyleNames"}).Op(0x52).Op(0x47).Push({"|"}).Op(0x47);
    a.Push({c.selector, 1, Reg{2}, "getStyle"}).Op(0x52).Push({c.property}).Op(0x4E).Op(0x47);
    a.Trace();
    const Played p = Play(a, 1);
    EXPECT_EQ(p.lines, std::vector<std::string>{c.traced});
  }
}

TEST(TextFieldScript, AStyleSheetTransformsAStyleIntoATextFormat) {
  Asm a;
  a.Push({0, "TextField"}).Op(0x1C).Push({"StyleSheet"}).Op(0x53).StoreRegister(2).Op(0x17);
  a.Push({"fontSize", " 12px", "color", "#00ff00", "textAlign", "CENTER", "fontFamily", "  A  ,, B",
          "marginLeft", -3, "letterSpacing", "x", "kerning", "true", "display", "Inline", 8})
      .Op(0x43);
  a.Push({1, Reg{2}, "transform"}).Op(0x52).StoreRegister(3).Op(0x17);
  for (const char* name : {"size", "color", "align", "font", "leftMargin", "letterSpacing",
                           "kerning", "display", "bold"})
    a.Push({name, "="}).Op(0x47).Push({Reg{3}, name}).Op(0x4E).Op(0x47).Trace();
  a.Push({Null{}, 1, Reg{2}, "transform"}).Op(0x52).Trace();
  // A sheet of its own kind: setStyle keeps what its transform gives.
  a.Push({Reg{2}, "transform"});
  a.Function("", {"s"}, [](Asm& f) { f.Push({"made"}).Op(0x3E); });
  a.Op(0x4F);
  a.Push({"color", "#FF0000;", 1}).Op(0x43).Push({"x", 2, Reg{2}, "setStyle"}).Op(0x52).Op(0x17);
  a.Push({Reg{2}, "_styles"}).Op(0x4E).Push({"x"}).Op(0x4E).Trace();
  const Played p = Play(a, 1);
  EXPECT_EQ(p.lines,
            (std::vector<std::string>{"size=12", "color=65280", "align=center", "font=A  ,B",
                                      "leftMargin=0", "letterSpacing=NaN", "kerning=true",
                                      "display=block", "bold=null", "null", "made"}));
}

}  // namespace
}  // namespace dbx::swf::avm1
