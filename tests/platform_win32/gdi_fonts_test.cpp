// The installed fonts through GDI (under Wine: "Arial" resolves to an installed sans face).
#include "platform/win32/gdi_fonts.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace dbx::win32 {
namespace {

TEST(GdiFonts, FacesOutlinesAndFallback) {
  const auto fonts = CreateGdiFonts();
  ASSERT_TRUE(fonts);
  const int sans = fonts->OpenFace("_sans", false, false);
  ASSERT_GE(sans, 0);
  EXPECT_EQ(fonts->OpenFace("Arial", false, false), sans);
  EXPECT_EQ(fonts->OpenFace("No Such Family At All", false, false), sans);
  EXPECT_NE(fonts->OpenFace("_sans", true, false), sans);

  const auto a = fonts->Glyph(sans, U'A');
  ASSERT_TRUE(a);
  EXPECT_GT(a->advance, 0.4f);
  EXPECT_LT(a->advance, 1.0f);
  ASSERT_FALSE(a->verbs.empty());
  EXPECT_EQ(a->verbs.front(), GlyphOutline::Verb::kMove);
  std::size_t points = 0;
  for (const auto v : a->verbs) points += v == GlyphOutline::Verb::kQuad ? 2 : 1;
  EXPECT_EQ(points * 2, a->points.size());
  float top = 0, bottom = -1;
  for (std::size_t i = 1; i < a->points.size(); i += 2) {
    top = std::min(top, a->points[i]);
    bottom = std::max(bottom, a->points[i]);
  }
  EXPECT_LT(top, -0.6f);
  EXPECT_GT(top, -1.0f);
  EXPECT_NEAR(bottom, 0.0f, 0.01f);
  const auto blank = fonts->Glyph(sans, U' ');
  ASSERT_TRUE(blank);
  EXPECT_TRUE(blank->verbs.empty());
  EXPECT_GT(blank->advance, 0.1f);
  const FaceMetrics m = fonts->Metrics(sans);
  EXPECT_GT(m.ascent, 0.5f);
  EXPECT_GT(m.descent, 0.1f);
  EXPECT_GT(fonts->Families().size(), 3u);
}

}  // namespace
}  // namespace dbx::win32
