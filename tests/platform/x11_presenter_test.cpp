#include <gtest/gtest.h>

#include <vector>

#include "platform/x11/presenter.h"

namespace dbx::x11 {
namespace {

TEST(CopyChanged, BoundsTheChangedPixelsInsideTheAreaAndCopiesThem) {
  struct Case {
    std::vector<Point> changes;
    Rect area;
    Rect want;
  };
  const Case cases[] = {
      {{}, {0, 0, 16, 12}, {}},
      {{{5, 7}}, {0, 0, 16, 12}, {5, 7, 1, 1}},
      {{{0, 0}, {15, 11}}, {0, 0, 16, 12}, {0, 0, 16, 12}},
      {{{3, 2}, {9, 2}, {6, 8}}, {0, 0, 16, 12}, {3, 2, 7, 7}},
      {{{1, 1}, {10, 10}}, {4, 4, 8, 8}, {10, 10, 1, 1}},  // outside the area: not looked at
      {{{1, 1}}, {4, 4, 8, 8}, {}},
  };
  for (const auto& c : cases) {
    Surface shown(16, 12, 0x101010);
    Surface frame(16, 12, 0x101010);
    for (const Point& p : c.changes) frame.At(p.x, p.y) = 0xFF00FF;
    EXPECT_EQ(CopyChanged(frame.View(), shown.View(), c.area), c.want)
        << c.area.x << "," << c.area.y << " " << c.changes.size();
    // Inside the area the copy now holds the frame; outside it is untouched.
    for (int y = 0; y < 12; ++y) {
      for (int x = 0; x < 16; ++x) {
        const bool inside =
            x >= c.area.x && x < c.area.x + c.area.w && y >= c.area.y && y < c.area.y + c.area.h;
        EXPECT_EQ(shown.At(x, y), inside ? frame.At(x, y) : 0x101010u) << x << "," << y;
      }
    }
    EXPECT_TRUE(CopyChanged(frame.View(), shown.View(), c.area).Empty());
  }
}

}  // namespace
}  // namespace dbx::x11
