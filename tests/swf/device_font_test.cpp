// Text in installed fonts: the FreeType source finds the system's faces and their outlines, and a
// text field without embedded glyphs draws with them.
#include <gtest/gtest.h>

#include <algorithm>

#include "core/surface.h"
#include "platform/fonts_ft/freetype_fonts.h"
#include "swf/flash_player.h"
#include "test_support.h"

namespace dbx {
namespace {

using swftest::BitWriter;

TEST(DeviceFonts, FacesOutlinesAndFallback) {
  const auto fonts = CreateFreeTypeFonts();
  ASSERT_TRUE(fonts);
  const int sans = fonts->OpenFace("_sans", false, false);
  const int serif = fonts->OpenFace("_serif", false, false);
  const int mono = fonts->OpenFace("_typewriter", false, false);
  ASSERT_GE(sans, 0);
  ASSERT_GE(serif, 0);
  ASSERT_GE(mono, 0);
  EXPECT_NE(sans, serif);
  EXPECT_NE(sans, mono);
  EXPECT_EQ(fonts->OpenFace("No Such Family At All", false, false), sans);
  EXPECT_NE(fonts->OpenFace("_sans", true, false), sans);  // the bold face

  const auto a = fonts->Glyph(sans, U'A');
  ASSERT_TRUE(a);
  EXPECT_GT(a->advance, 0.4f);
  EXPECT_LT(a->advance, 1.0f);
  ASSERT_FALSE(a->verbs.empty());
  EXPECT_EQ(a->verbs.front(), GlyphOutline::Verb::kMove);
  // An upright capital: above the baseline (y down, so negative), within the em.
  float top = 0, bottom = -1;
  for (std::size_t i = 1; i < a->points.size(); i += 2) {
    top = std::min(top, a->points[i]);
    bottom = std::max(bottom, a->points[i]);
  }
  EXPECT_LT(top, -0.6f);
  EXPECT_GT(top, -1.0f);
  EXPECT_NEAR(bottom, 0.0f, 0.01f);
  // Monospace: every letter advances the same.
  EXPECT_FLOAT_EQ(fonts->Glyph(mono, U'i')->advance, fonts->Glyph(mono, U'W')->advance);
  EXPECT_FALSE(fonts->Glyph(sans, 0x10FFFD));
  const FaceMetrics m = fonts->Metrics(sans);
  EXPECT_GT(m.ascent, 0.5f);
  EXPECT_GT(m.descent, 0.1f);
  const auto families = fonts->Families();
  EXPECT_NE(std::find(families.begin(), families.end(), "DejaVu Sans"), families.end());
}

TEST(DeviceFonts, FontFilesComeBeforeInstalledFacesAndStandForGenericNames) {
  const auto system = CreateFreeTypeFonts();
  ASSERT_TRUE(system);
  // A serif face's file (the build machine's fonts-dejavu-core), given out under a family name
  // of its own that also stands for "_sans"; a file that cannot be read leaves its family to the
  // installed faces.
  FontFiles files;
  files.faces.emplace_back("Own Family", "/usr/share/fonts/truetype/dejavu/DejaVuSerif.ttf");
  files.faces.emplace_back("Missing File Family", "/nonexistent/font.ttf");
  files.sans = "Own Family";
  const auto fonts = CreateFreeTypeFonts(files);
  ASSERT_TRUE(fonts);
  auto advance = [](FontSource& f, int face, char32_t c) {
    const auto g = f.Glyph(face, c);
    return g ? g->advance : -1.0f;
  };
  const int serif = system->OpenFace("DejaVu Serif", false, false);
  const int sans = system->OpenFace("_sans", false, false);
  ASSERT_NE(advance(*system, serif, U'W'), advance(*system, sans, U'W'));
  for (const char* name : {"Own Family", "own family", "_sans"}) {
    SCOPED_TRACE(name);
    const int face = fonts->OpenFace(name, false, false);
    ASSERT_GE(face, 0);
    EXPECT_EQ(advance(*fonts, face, U'W'), advance(*system, serif, U'W'));
  }
  const int missing = fonts->OpenFace("Missing File Family", false, false);
  EXPECT_EQ(advance(*fonts, missing, U'W'), advance(*system, sans, U'W'));
  const auto families = fonts->Families();
  EXPECT_NE(std::find(families.begin(), families.end(), "Own Family"), families.end());
}

TEST(DeviceFonts, FieldWithoutEmbeddedGlyphsDrawsInstalledFace) {
  // A DefineFont2 that names "_sans" and holds no glyph, and a 160 x 40 px field in it with
  // pure green 24 px text.
  swftest::SwfWriter m(200, 60);
  m.Background(255, 255, 255);
  {
    BitWriter w;
    w.U16(1);
    w.U8(0);
    w.U8(0);
    w.U8(5);
    for (char c : std::string("_sans")) w.U8(static_cast<std::uint8_t>(c));
    w.U16(0);
    m.Tag(48, w.Take());
  }
  {
    BitWriter w;
    w.U16(2);
    w.Rect(0, 3200, 0, 800);
    w.U8(0x80 | 0x04 | 0x01);  // text, colour, font
    w.U8(0);                   // device glyphs
    w.U16(1);
    w.U16(480);
    w.U8(0);
    w.U8(255);
    w.U8(0);
    w.U8(255);
    w.U8(0);  // no variable
    for (char c : std::string("HHHH")) w.U8(static_cast<std::uint8_t>(c));
    w.U8(0);
    m.Tag(37, w.Take());
  }
  m.Place(2, 1, 200, 200);
  m.ShowFrame();
  m.End();
  const auto bytes = m.Finish();
  auto count = [&](FontSource* source) {
    FlashPlayer p;
    p.SetFontSource(source);
    p.LoadMovieBytes(bytes.data(), bytes.size(), "device.swf");
    p.SetQuality2("Low");
    Surface s(200, 60);
    p.SetViewportSize({200, 60});
    p.RenderFrame(s.View());
    int inside = 0, outside = 0;
    for (int y = 0; y < 60; ++y)
      for (int x = 0; x < 200; ++x) {
        if (s.At(x, y) != MakePixel(0, 255, 0)) continue;
        (x >= 10 && x < 170 && y >= 10 && y < 50 ? inside : outside)++;
      }
    EXPECT_EQ(outside, 0);
    return inside;
  };
  const auto fonts = CreateFreeTypeFonts();
  ASSERT_TRUE(fonts);
  // Four capital H at 24 px: their stems and bars cover well over a hundred pixels.
  EXPECT_GT(count(fonts.get()), 150);
  EXPECT_EQ(count(nullptr), 0);  // no installed fonts: nothing drawn
}

}  // namespace
}  // namespace dbx
