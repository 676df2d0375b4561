#include "effects/picture_box.h"

#include <gtest/gtest.h>

#include "core/platform.h"
#include "test_util.h"

namespace dbx {
namespace {

struct FakeColors : SystemColors {
  std::int32_t SysColor(int index) override { return 0x00010203 * (index + 1); }
};

TEST(PictureBox, StartsWhiteAndSizesInTwips) {
  PictureBox p;
  p.SetPixelSize(4, 3);
  EXPECT_EQ(p.Image().At(2, 1), 0x00FFFFFFu);
  EXPECT_EQ(p.WidthTwips(), 60);
  EXPECT_EQ(p.HeightTwips(), 45);
  p.SetTwipsPerPixel(12, 20);
  p.SetSizeTwips(1200, 2000);
  EXPECT_EQ(p.PixelWidth(), 100);
  EXPECT_EQ(p.PixelHeight(), 100);
  EXPECT_EQ(p.EffectPixelSize(), (Size{100, 100}));
  p.SetSizeTwips(-5, 7);
  EXPECT_EQ(p.PixelWidth(), 0);
  EXPECT_EQ(p.PixelHeight(), 0);
}

TEST(PictureBox, BackColorClearsAndPictureReplaces) {
  PictureBox p;
  p.SetPixelSize(6, 5);
  Surface pic = test::RandomPicture(3, 2, 1);
  p.PaintPicture(pic.View(), {4, 4});  // cropped
  EXPECT_EQ(p.Image().At(4, 4), pic.At(0, 0));
  p.SetBackColor(0x000000FF);  // red as a colour value
  EXPECT_EQ(p.Image().At(4, 4), 0x00FF0000u);
  EXPECT_EQ(p.BackColor(), 0x000000FF);
  auto bg = std::make_shared<Surface>(test::RandomPicture(2, 2, 2));
  p.PaintPicture(pic.View(), {3, 3});
  p.SetPicture(bg);
  EXPECT_EQ(p.Image().At(1, 1), bg->At(1, 1));
  EXPECT_EQ(p.Image().At(3, 3), 0x00FF0000u);  // what was drawn is gone
  p.PaintPicture(pic.View(), {0, 0});
  p.Cls();
  EXPECT_EQ(p.Image().At(0, 0), bg->At(0, 0));
  EXPECT_EQ(p.Image().At(5, 4), 0x00FF0000u);
  p.SetPicture(nullptr);
  EXPECT_EQ(p.Image().At(0, 0), 0x00FF0000u);
}

TEST(PictureBox, SystemBackColorAndRefresh) {
  FakeColors colors;
  PictureBox p;
  p.SetSystemColors(&colors);
  p.SetPixelSize(2, 2);
  p.SetBackColor(static_cast<std::int32_t>(0x80000005u));
  EXPECT_EQ(p.Image().At(0, 0), ColorToPixel(0x00010203 * 6));
  int refreshed = 0;
  p.Refresh();  // no callback: nothing
  p.SetRefreshCallback([&](const PictureBox& box, const Rect& changed) {
    EXPECT_EQ(changed, (Rect{0, 0, 2, 2}));
    EXPECT_EQ(&box, &p);
    ++refreshed;
  });
  p.Refresh();
  EXPECT_EQ(refreshed, 1);
}

TEST(PictureBox, ResizeKeepsTopLeft) {
  PictureBox p;
  p.SetPixelSize(3, 3);
  Surface pic = test::RandomPicture(3, 3, 3);
  p.PaintPicture(pic.View(), {0, 0});
  p.SetPixelSize(5, 2);
  EXPECT_EQ(p.Image().At(2, 1), pic.At(2, 1));
  EXPECT_EQ(p.Image().At(4, 1), 0x00FFFFFFu);
  p.SetPixelSize(0, 0);
  EXPECT_EQ(p.PixelWidth(), 0);
  p.SetBackColor(0);
  p.PaintPicture(pic.View(), {0, 0});
}

}  // namespace
}  // namespace dbx
