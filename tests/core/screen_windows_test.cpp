#include "core/screen_windows.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "platform/headless/headless_platform.h"

namespace dbx {
namespace {

TEST(FitRect, ScalesToFitKeepingTheAspectCentred) {
  struct Case {
    Size from, to;
    Rect want;
  };
  const Case cases[] = {
      {{40, 30}, {20, 10}, {3, 0, 13, 10}},               // narrower target height
      {{800, 600}, {640, 480}, {0, 0, 640, 480}},         // same aspect
      {{1920, 1080}, {1080, 1920}, {0, 656, 1080, 607}},  // portrait monitor
      {{10, 10}, {3, 1000}, {0, 498, 3, 3}},
      {{3840, 1}, {10, 10}, {0, 4, 10, 1}},  // never thinner than a pixel
      {{0, 10}, {10, 10}, {}},
      {{10, 10}, {0, 5}, {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FitRect(c.from, c.to), c.want)
        << c.from.w << "x" << c.from.h << " to " << c.to.w << "x" << c.to.h;
  }
}

// A form that records what its window tells it.
struct Listener : WindowEvents {
  std::vector<Size> resizes;
  std::vector<int> keys;
  std::vector<MouseButton> downs;
  int moves = 0, closes = 0;
  void OnResize(Size s) override { resizes.push_back(s); }
  void OnKeyDown(int code, int) override { keys.push_back(code); }
  void OnMouseDown(MouseButton b, int, Point) override { downs.push_back(b); }
  void OnMouseMove(int, int, Point) override { ++moves; }
  void OnCloseRequest() override { ++closes; }
};

Surface Noise(int w, int h, unsigned seed) {
  Surface s(w, h);
  std::mt19937 rng(seed);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) s.At(x, y) = rng() & 0xFFFFFF;
  }
  return s;
}

struct TwoHeads {
  HeadlessPlatform p;
  Listener form;
  std::unique_ptr<ScreenWindows> w;
  explicit TwoHeads(std::vector<Rect> monitors) {
    p.monitors = std::move(monitors);
    w = ScreenWindows::Create(p, WindowOptions{}, form);
    w->Show();
    w->SetState(WindowState::kMaximized);
  }
  HeadlessWindow& Primary() { return *p.Find(w->Handle()); }
  HeadlessWindow& Other(std::size_t i = 0) { return *p.Find(w->OtherMonitorWindow(i).Handle()); }
};

TEST(ScreenWindows, OneWindowPerMonitorAndTheFormSeesThePrimaryOnly) {
  TwoHeads t({{0, 0, 40, 30}, {40, 0, 20, 10}});
  ASSERT_EQ(t.w->OtherMonitorCount(), 1u);
  EXPECT_EQ(t.p.windows.size(), 2u);
  EXPECT_EQ(t.Primary().covered, (Rect{0, 0, 40, 30}));
  EXPECT_EQ(t.Other().covered, (Rect{40, 0, 20, 10}));
  EXPECT_TRUE(t.Other().visible);
  // The form lays itself out once, at the primary monitor's size.
  EXPECT_EQ(t.form.resizes, (std::vector<Size>{{40, 30}}));
  EXPECT_EQ(t.w->ClientSize(), (Size{40, 30}));
  t.w->Destroy();
  EXPECT_TRUE(t.p.windows.empty());
}

TEST(ScreenWindows, OneMonitorAPreviewOrNoMonitorListIsOneWindow) {
  for (const auto& monitors : std::vector<std::vector<Rect>>{{}, {{0, 0, 40, 30}}}) {
    TwoHeads t(monitors);
    EXPECT_EQ(t.p.windows.size(), 1u);
    EXPECT_EQ(t.form.resizes.back(), t.p.screenSize);
  }
  HeadlessPlatform p;
  p.monitors = {{0, 0, 40, 30}, {40, 0, 20, 10}};
  Listener form;
  auto w = ScreenWindows::Create(p, WindowOptions{}, form);
  w->EmbedInto(77, Size{12, 9});
  EXPECT_EQ(p.windows.size(), 1u);
  p.refuseWindows = true;
  EXPECT_EQ(ScreenWindows::Create(p, WindowOptions{}, form), nullptr);
}

TEST(ScreenWindows, TheOtherMonitorShowsThePictureScaledToFit) {
  TwoHeads t({{0, 0, 40, 30}, {40, 0, 20, 10}});
  // Left half red, right half blue.
  Surface frame(40, 30, 0xFF0000);
  for (int y = 0; y < 30; ++y) {
    for (int x = 20; x < 40; ++x) frame.At(x, y) = 0x0000FF;
  }
  t.w->Present(frame.View(), Rect{0, 0, 40, 30});
  EXPECT_EQ(t.Primary().screen.At(39, 29), 0x0000FFu);
  const Surface& other = t.Other().screen;  // 13 x 10 at x 3
  for (int y = 0; y < 10; ++y) {
    for (int x = 0; x < 20; ++x) {
      const Pixel want = x < 3 || x >= 16 ? 0u : x < 3 + 13 / 2 ? 0xFF0000u : 0x0000FFu;
      if (x == 3 + 13 / 2) continue;  // the middle column samples the border
      EXPECT_EQ(other.At(x, y), want) << x << "," << y;
    }
  }
}

TEST(ScreenWindows, PresentingAChangedRectangleGivesWhatAWholePresentGives) {
  const std::vector<Rect> monitors = {{0, 0, 64, 48}, {64, 0, 27, 31}, {91, 0, 100, 37}};
  const Rect changes[] = {{0, 0, 1, 1},     {63, 47, 1, 1}, {10, 7, 13, 5},
                          {-5, -5, 20, 20}, {30, 0, 3, 48}, {0, 20, 64, 2}};
  TwoHeads incremental(monitors);
  Surface frame = Noise(64, 48, 1);
  incremental.w->Present(frame.View(), Rect{0, 0, 64, 48});
  unsigned seed = 2;
  for (const Rect& r : changes) {
    const Surface next = Noise(64, 48, seed++);
    for (int y = std::max(r.y, 0); y < std::min(r.y + r.h, 48); ++y) {
      for (int x = std::max(r.x, 0); x < std::min(r.x + r.w, 64); ++x) {
        frame.At(x, y) = next.At(x, y);
      }
    }
    incremental.w->Present(frame.View(), r);
    TwoHeads whole(monitors);
    whole.w->Present(frame.View(), Rect{0, 0, 64, 48});
    for (std::size_t i = 0; i < 2; ++i) {
      const Surface& a = incremental.Other(i).screen;
      const Surface& b = whole.Other(i).screen;
      ASSERT_EQ(a.width(), b.width());
      for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
          ASSERT_EQ(a.At(x, y), b.At(x, y))
              << "monitor " << i + 1 << " at " << x << "," << y << " after " << r.x << "," << r.y;
        }
      }
    }
  }
}

TEST(ScreenWindows, InputOnTheOtherMonitorReachesTheFormItsSizeAndPaintDoNot) {
  TwoHeads t({{0, 0, 40, 30}, {40, 0, 20, 10}});
  Surface frame(40, 30, 0x00FF00);
  t.w->Present(frame.View(), Rect{0, 0, 40, 30});
  WindowEvents& other = t.Other().events;
  other.OnKeyDown(65, 0);
  other.OnMouseDown(MouseButton::kRight, 0, {1, 1});
  other.OnMouseDown(MouseButton::kLeft, 0, {1, 1});
  other.OnMouseMove(0, 0, {2, 2});
  other.OnResize({5, 5});
  const int presents = t.Other().presents;
  other.OnPaint();
  EXPECT_EQ(t.Other().presents, presents + 1);
  EXPECT_EQ(t.form.keys, std::vector<int>{65});
  EXPECT_EQ(t.form.downs, (std::vector<MouseButton>{MouseButton::kRight, MouseButton::kLeft}));
  EXPECT_EQ(t.form.moves, 1);
  EXPECT_EQ(t.form.resizes, (std::vector<Size>{{40, 30}}));
  other.OnCloseRequest();
  EXPECT_EQ(t.form.closes, 1);
  // A form may send that input elsewhere.
  std::vector<std::uint32_t> messages;
  t.w->SetOtherMonitorsInput([&](NativeHandle, std::uint32_t m, std::uintptr_t, std::intptr_t) {
    messages.push_back(m);
    return std::intptr_t{0};
  });
  other.OnKeyDown(65, 0);
  other.OnMouseDown(MouseButton::kLeft, 0, {1, 1});
  EXPECT_EQ(messages, (std::vector<std::uint32_t>{kWmKeyDown, kWmLButtonDown}));
  EXPECT_EQ(t.form.keys.size(), 1u);
}

}  // namespace
}  // namespace dbx
