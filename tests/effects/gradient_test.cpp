#include "effects/gradient.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/platform.h"
#include "effects/picture_box.h"
#include "test_util.h"

namespace dbx {
namespace {

struct FakeColors : SystemColors {
  std::int32_t SysColor(int index) override { return 0x00100000 + index; }
};

struct FakeDialogs : Dialogs {
  struct Box {
    std::string text, caption;
    MessageKind kind;
  };
  std::vector<Box> boxes;
  void MessageBox(std::string_view text, std::string_view caption, MessageKind kind) override {
    boxes.push_back({std::string(text), std::string(caption), kind});
  }
};

TEST(Gradient, Defaults) {
  ClsGrandinet g;
  EXPECT_EQ(g.Color1(), 0x00FFFFD0);
  EXPECT_EQ(g.Color2(), 0x00400000);
  EXPECT_FLOAT_EQ(g.Angle(), 315.0f);
}

TEST(Gradient, AngleNormalisation) {
  ClsGrandinet g;
  struct Case {
    float in, out;
  };
  for (const Case c : {Case{360, 0}, Case{-45, 315}, Case{725, 5}, Case{0, 0}, Case{359.5f, 359.5f},
                       Case{-720, 0}, Case{90, 90}}) {
    g.SetAngle(c.in);
    EXPECT_FLOAT_EQ(g.Angle(), c.out) << c.in;
  }
  g.SetAngle(-1e-10f);
  EXPECT_GE(g.Angle(), 0.0f);
  EXPECT_LT(g.Angle(), 360.0f);
}

TEST(Gradient, SystemColours) {
  FakeColors colors;
  ClsGrandinet g(&colors, nullptr);
  g.SetColor1(static_cast<std::int32_t>(0x80000005u));
  EXPECT_EQ(g.Color1(), 0x00100005);
  g.SetColor2(static_cast<std::int32_t>(0x80000019u));  // index 25: stored unchanged
  EXPECT_EQ(g.Color2(), static_cast<std::int32_t>(0x80000019u));
  g.SetColor1(0x00123456);
  EXPECT_EQ(g.Color1(), 0x00123456);
}

TEST(Gradient, BlendColors) {
  std::vector<std::int32_t> c;
  EXPECT_EQ(ClsGrandinet::BlendColors(0, 0xFF, 4, c), 4);
  EXPECT_EQ(c, (std::vector<std::int32_t>{0, 64, 128, 255}));
  for (int steps : {0, 1, -7}) {
    EXPECT_EQ(ClsGrandinet::BlendColors(0x123456, 0x654321, steps, c), 2);
    EXPECT_EQ(c, (std::vector<std::int32_t>{0x123456, 0x654321}));
  }
  EXPECT_EQ(ClsGrandinet::BlendColors(0x00ABCDEF, 0x00ABCDEF, 7, c), 7);
  for (auto v : c) EXPECT_EQ(v, 0x00ABCDEF);
  // Green and blue channels.
  EXPECT_EQ(ClsGrandinet::BlendColors(0x000000, 0xFF0000, 4, c), 4);
  EXPECT_EQ(c[1], 64 << 16);
  EXPECT_EQ(ClsGrandinet::SafeDiv(1, 0), 0.0);
  EXPECT_EQ(ClsGrandinet::SafeDiv(3, 2), 1.5);
}

TEST(Gradient, RotatePoint) {
  PointF p{10, 0};
  ClsGrandinet::RotatePoint({0, 0}, p, 90);
  EXPECT_NEAR(p.x, 0, 1e-5);
  EXPECT_NEAR(p.y, -10, 1e-5);  // counter-clockwise on the screen: up
}

struct Worked {
  int w, h;
  float angle;
  std::size_t lines;
};

TEST(Gradient, WorkedLineCounts) {
  for (const Worked c : {Worked{800, 600, 0, 802}, Worked{800, 600, 45, 1402},
                         Worked{800, 600, 315, 1602}, Worked{2, 2, 0, 4}}) {
    ClsGrandinet g;
    g.SetAngle(c.angle);
    const auto plan = g.MakePlan(c.w, c.h);
    EXPECT_EQ(plan.LineCount(), c.lines) << c.w << "x" << c.h << " at " << c.angle;
  }
}

TEST(Gradient, ZeroDegreesSweepsColumnsLeftToRight) {
  ClsGrandinet g;
  g.SetAngle(0);
  g.SetColor1(0x0000FF);
  g.SetColor2(0xFF0000);
  const auto plan = g.MakePlan(800, 600);
  ASSERT_EQ(plan.LineCount(), 802u);
  for (std::size_t k = 0; k < 802; ++k) {
    EXPECT_EQ(plan.points[2 * k].x, static_cast<int>(k));
    EXPECT_EQ(plan.points[2 * k + 1].x, static_cast<int>(k));
  }
  EXPECT_EQ(plan.colors.front(), 0x0000FF);
  EXPECT_EQ(plan.colors[801], 0xFF0000);
  // Painted: column 0 in Color1, each column its line's colour.
  PictureBox p;
  p.SetPixelSize(800, 600);
  EXPECT_TRUE(g.Draw(&p));
  EXPECT_EQ(p.Image().At(0, 300), ColorToPixel(0x0000FF));
  EXPECT_EQ(p.Image().At(799, 0), ColorToPixel(plan.colors[799]));
  EXPECT_EQ(g.PaintGradient(p.Image(), 800, 600), 1604);
}

TEST(Gradient, TwoByTwo) {
  ClsGrandinet g;
  g.SetAngle(0);
  const auto plan = g.MakePlan(2, 2);
  ASSERT_EQ(plan.LineCount(), 4u);
  for (int k = 0; k < 4; ++k) EXPECT_EQ(plan.points[static_cast<std::size_t>(2 * k)].x, k);
}

TEST(Gradient, NinetyDegreesStartsBelowAndMovesUp) {
  ClsGrandinet g;
  g.SetAngle(90);
  const auto plan = g.MakePlan(800, 600);
  EXPECT_EQ(plan.stepY, -1);
  EXPECT_EQ(plan.points[0].y, 600);
  EXPECT_EQ(plan.points[1].y, 600);
  EXPECT_EQ(plan.points[plan.LineCount() * 2 - 1].y, -1);
}

TEST(Gradient, QuadrantsAtTheBoundaries) {
  ClsGrandinet g;
  g.SetAngle(180);
  EXPECT_EQ(g.MakePlan(100, 80).stepX, -1);  // quadrant 2: from the right
  g.SetAngle(270);
  EXPECT_EQ(g.MakePlan(100, 80).stepY, 1);  // quadrant 3: from the top
  g.SetAngle(90);
  EXPECT_EQ(g.MakePlan(100, 80).stepY, -1);  // quadrant 1: from the bottom
}

TEST(Gradient, FastPaintEqualsLineByLine) {
  const int sizes[][2] = {{37, 23}, {23, 37}, {2, 2}, {3, 2}, {64, 9}, {9, 64}, {50, 50}};
  for (const auto& sz : sizes) {
    for (float angle = 0; angle < 360; angle += 7.5f) {
      for (float extra : {0.0f, 0.3f}) {
        ClsGrandinet g;
        g.SetAngle(angle + extra);
        g.SetColor1(0x0000FF);
        g.SetColor2(0x00FF00);
        Surface a = test::RandomPicture(sz[0], sz[1], 1), b = a.Clone();
        const auto ra = g.PaintGradient(a.View(), sz[0], sz[1], Kernel::kFast);
        const auto rb = g.PaintGradient(b.View(), sz[0], sz[1], Kernel::kPlain);
        ASSERT_EQ(ra, rb);
        ASSERT_TRUE(test::SameImage(a.View(), b.View()))
            << sz[0] << "x" << sz[1] << " at " << angle + extra << ": "
            << test::FirstDifference(a.View(), b.View());
      }
    }
  }
}

TEST(Gradient, CoversTheWholeArea) {
  for (float angle : {0.0f, 45.0f, 135.0f, 225.0f, 315.0f, 10.0f, 100.0f, 200.0f, 300.0f}) {
    ClsGrandinet g;
    g.SetAngle(angle);
    g.SetColor1(0x000001);
    g.SetColor2(0x000002);
    PictureBox p;
    p.SetPixelSize(61, 17);
    p.SetBackColor(0x00777777);
    ASSERT_TRUE(g.Draw(&p));
    for (int y = 0; y < 17; ++y) {
      for (int x = 0; x < 61; ++x) {
        ASSERT_NE(p.Image().At(x, y), ColorToPixel(0x00777777)) << angle << " " << x << "," << y;
      }
    }
  }
}

TEST(Gradient, TooSmallSurfacesPaintNothing) {
  FakeDialogs dialogs;
  ClsGrandinet g(nullptr, &dialogs);
  for (auto [w, h] : {std::pair{1, 100}, std::pair{100, 1}, std::pair{0, 0}, std::pair{1, 1}}) {
    PictureBox p;
    p.SetPixelSize(w, h);
    EXPECT_FALSE(g.Draw(&p));
  }
  EXPECT_TRUE(dialogs.boxes.empty());
}

TEST(Gradient, FaultsShowOneWarning) {
  FakeDialogs dialogs;
  ClsGrandinet g(nullptr, &dialogs);
  EXPECT_FALSE(g.Draw(nullptr));
  ASSERT_EQ(dialogs.boxes.size(), 1u);
  EXPECT_EQ(dialogs.boxes[0].caption, "Dazzlebox");
  EXPECT_EQ(dialogs.boxes[0].kind, MessageKind::kWarning);
  Surface s(4, 4);
  EXPECT_EQ(g.PaintGradient(s.View(), INT64_C(3000000000), INT64_C(3000000000)), 0);
  ASSERT_EQ(dialogs.boxes.size(), 2u);
  EXPECT_EQ(dialogs.boxes[1].caption, "GradientRect");
  EXPECT_EQ(g.PaintGradient(s.View(), 1 << 30, 1 << 30), 0);  // too many lines to hold
  ASSERT_EQ(dialogs.boxes.size(), 3u);
  EXPECT_EQ(dialogs.boxes[2].text, "Out of memory");
  EXPECT_THROW(
      {
        std::vector<std::int32_t> c;
        ClsGrandinet::BlendColors(0, 1, INT32_MAX, c);
      },
      std::bad_alloc);
}

}  // namespace
}  // namespace dbx
