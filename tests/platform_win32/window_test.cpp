// Form windows: the events a form hears, embedding into a foreign parent, and the end of a window.
// These need a display (Xvfb under Wine); without one they are skipped.
#include "platform/win32/window.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/win32/event_loop.h"
#include "platform/win32/win32_services.h"

namespace dbx::win32 {
namespace {

struct Recorder : WindowEvents {
  std::vector<std::string> log;
  void OnKeyDown(int key, int shift) override {
    log.push_back("down " + std::to_string(key) + " " + std::to_string(shift));
  }
  void OnKeyPress(int c) override { log.push_back("press " + std::to_string(c)); }
  void OnMouseDown(MouseButton b, int shift, Point p) override {
    log.push_back("mdown " + std::to_string(static_cast<int>(b)) + " " + std::to_string(shift) +
                  " " + std::to_string(p.x) + "," + std::to_string(p.y));
  }
  void OnMouseUp(MouseButton b, int, Point p) override {
    log.push_back("mup " + std::to_string(static_cast<int>(b)) + " " + std::to_string(p.x) + "," +
                  std::to_string(p.y));
  }
  void OnMouseMove(int buttons, int, Point p) override {
    log.push_back("move " + std::to_string(buttons) + " " + std::to_string(p.x) + "," +
                  std::to_string(p.y));
  }
  void OnCloseRequest() override { log.push_back("close"); }
};

std::unique_ptr<Win32Window> MakeWindow(WindowEvents& events, bool border = false) {
  WindowOptions options;
  options.border = border;
  auto window = std::make_unique<Win32Window>(options, events);
  if (!window->Valid()) return nullptr;
  return window;
}

#define REQUIRE_WINDOW(w) \
  if (!(w)) GTEST_SKIP() << "no display for windows"

LPARAM At(int x, int y) {
  return MAKELPARAM(static_cast<WORD>(x), static_cast<WORD>(y));
}

TEST(WindowTest, MessagesReachTheFormAsEvents) {
  Recorder recorder;
  auto window = MakeWindow(recorder);
  REQUIRE_WINDOW(window);
  recorder.log.clear();
  const HWND hwnd = ToHwnd(window->Handle());
  const struct {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    const char* expected;
  } cases[] = {
      {WM_KEYDOWN, VK_ESCAPE, 0, "down 27 0"},
      {WM_CHAR, 27, 0, "press 27"},
      {WM_CHAR, 0xE9, 0, "press 233"},  // a character above 127 stays positive
      {WM_LBUTTONDOWN, MK_LBUTTON | MK_SHIFT, At(10, 20), "mdown 1 1 10,20"},
      {WM_RBUTTONDOWN, MK_RBUTTON | MK_CONTROL, At(3, 4), "mdown 2 2 3,4"},
      {WM_MBUTTONDOWN, MK_MBUTTON, At(0, 0), "mdown 4 0 0,0"},
      {WM_RBUTTONUP, 0, At(5, 6), "mup 2 5,6"},
      {WM_MOUSEMOVE, MK_LBUTTON | MK_MBUTTON, At(-5, 7), "move 5 -5,7"},
      {WM_CLOSE, 0, 0, "close"},
  };
  for (const auto& c : cases) {
    recorder.log.clear();
    ::SendMessageA(hwnd, c.message, c.wParam, c.lParam);
    ASSERT_EQ(recorder.log.size(), 1u) << c.expected;
    EXPECT_EQ(recorder.log[0], c.expected);
  }
  // WM_CLOSE only asks: the window stays until the form destroys it.
  EXPECT_TRUE(::IsWindow(hwnd));
  window->Destroy();
  EXPECT_FALSE(::IsWindow(hwnd));
  recorder.log.clear();
  ::SendMessageA(hwnd, WM_KEYDOWN, 'A', 0);
  EXPECT_TRUE(recorder.log.empty());
}

TEST(WindowTest, CaptionAndFullScreen) {
  Recorder recorder;
  auto window = MakeWindow(recorder);
  REQUIRE_WINDOW(window);
  EXPECT_EQ(window->Caption(), "Form1");
  window->SetCaption("ScrVB");
  EXPECT_EQ(window->Caption(), "ScrVB");
  Win32Process process;
  EXPECT_TRUE(process.TopLevelWindowExists("ScrVB"));
  window->Show();
  window->SetState(WindowState::kMaximized);
  const Size screen{::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
  EXPECT_EQ(window->ClientSize(), screen);
  EXPECT_EQ(process.ClientSizeOf(window->Handle()), screen);
  const unsigned dpi = ::GetDpiForWindow(ToHwnd(window->Handle()));
  EXPECT_EQ(window->TwipsPerPixelX(), static_cast<int>(1440 / (dpi ? dpi : 96)));
}

TEST(WindowTest, EmbedsIntoAForeignParentAndHearsItsEnd) {
  Recorder parentEvents;
  auto parent = MakeWindow(parentEvents, /*border=*/true);
  REQUIRE_WINDOW(parent);
  parent->Show();
  Recorder childEvents;
  auto child = MakeWindow(childEvents);
  REQUIRE_WINDOW(child);
  const Size size = *Win32Process().ClientSizeOf(parent->Handle());
  child->EmbedInto(parent->Handle(), size);
  const HWND childHwnd = ToHwnd(child->Handle());
  EXPECT_TRUE(::IsChild(ToHwnd(parent->Handle()), childHwnd));
  EXPECT_TRUE(::IsWindowVisible(childHwnd));
  EXPECT_NE(::GetWindowLongA(childHwnd, GWL_STYLE) & WS_CHILD, 0);
  EXPECT_EQ(child->ClientSize(), size);
  RECT rect{};
  ::GetWindowRect(childHwnd, &rect);
  POINT origin{rect.left, rect.top};
  ::ScreenToClient(ToHwnd(parent->Handle()), &origin);
  EXPECT_EQ(origin.x, 0);
  EXPECT_EQ(origin.y, 0);
  // The parent goes away: the child is destroyed with it and the form hears a close request.
  childEvents.log.clear();
  parent->Destroy();
  EXPECT_FALSE(::IsWindow(childHwnd));
  EXPECT_EQ(childEvents.log, std::vector<std::string>{"close"});
  EXPECT_EQ(child->Handle(), 0u);
  child->Destroy();  // harmless afterwards
}

// The colour on screen at a client point of the window.
Pixel ScreenPixel(HWND hwnd, int x, int y) {
  const HDC dc = ::GetDC(hwnd);
  const COLORREF c = ::GetPixel(dc, x, y);
  ::ReleaseDC(hwnd, dc);
  return MakePixel(GetRValue(c), GetGValue(c), GetBValue(c));
}

TEST(WindowTest, PresentDrawsTheDirtyRectangleInPlace) {
  Recorder recorder;
  auto window = MakeWindow(recorder);
  REQUIRE_WINDOW(window);
  window->Show();
  window->SetState(WindowState::kMaximized);
  Win32EventLoop loop;
  loop.RunPending();
  const HWND hwnd = ToHwnd(window->Handle());
  // Four coloured quadrants in a 100 x 60 surface.
  Surface surface(100, 60);
  for (int y = 0; y < 60; ++y) {
    for (int x = 0; x < 100; ++x) {
      surface.At(x, y) = x < 50 ? (y < 30 ? MakePixel(255, 0, 0) : MakePixel(0, 255, 0))
                                : (y < 30 ? MakePixel(0, 0, 255) : MakePixel(250, 200, 10));
    }
  }
  window->Present(surface.View(), {0, 0, 100, 60});
  ::GdiFlush();
  EXPECT_EQ(ScreenPixel(hwnd, 10, 10), MakePixel(255, 0, 0));
  EXPECT_EQ(ScreenPixel(hwnd, 10, 50), MakePixel(0, 255, 0));  // rows run top-down
  EXPECT_EQ(ScreenPixel(hwnd, 90, 10), MakePixel(0, 0, 255));  // bytes are B, G, R
  EXPECT_EQ(ScreenPixel(hwnd, 90, 50), MakePixel(250, 200, 10));

  // Only the dirty rectangle changes, at its own place, also from a view with a wider stride.
  Surface white(100, 60, MakePixel(255, 255, 255));
  window->Present(white.View(), {40, 20, 20, 20});
  const SurfaceView inner(white.data() + 1, 99, 60, 100);
  window->Present(inner, {0, 55, 99, 5});
  ::GdiFlush();
  EXPECT_EQ(ScreenPixel(hwnd, 45, 25), MakePixel(255, 255, 255));
  EXPECT_EQ(ScreenPixel(hwnd, 39, 25), MakePixel(255, 0, 0));
  EXPECT_EQ(ScreenPixel(hwnd, 60, 25), MakePixel(0, 0, 255));
  EXPECT_EQ(ScreenPixel(hwnd, 10, 57), MakePixel(255, 255, 255));
  EXPECT_EQ(ScreenPixel(hwnd, 10, 54), MakePixel(0, 255, 0));

  // Rectangles that leave the surface or the window draw what both hold, or nothing.
  const Rect odd[] = {{-50, -50, 1000, 1000}, {90, 40, 50, 50}, {0, 0, 0, 0},
                      {200, 200, 10, 10},     {5, 5, -3, 4},    {1 << 30, 0, 1 << 30, 5}};
  for (const Rect& r : odd) window->Present(surface.View(), r);
  window->Present(SurfaceView(), {0, 0, 10, 10});
  ::GdiFlush();
  EXPECT_EQ(ScreenPixel(hwnd, 45, 25), MakePixel(255, 0, 0));
}

// A form that draws a 50 x 40 surface in its top left corner when asked to paint.
struct CornerForm : WindowEvents {
  Win32Window* window = nullptr;
  Surface corner{50, 40, MakePixel(200, 0, 0)};
  bool draws = true;
  void OnPaint() override {
    if (draws) window->Present(corner.View(), {0, 0, 50, 40});
  }
};

TEST(WindowTest, PaintFillsWhatTheFormDoesNotDrawWithTheBackground) {
  for (const bool draws : {true, false}) {
    SCOPED_TRACE(draws ? "form draws a corner" : "form draws nothing");
    CornerForm form;
    form.draws = draws;
    WindowOptions options;
    options.background = MakePixel(64, 64, 64);
    Win32Window window(options, form);
    REQUIRE_WINDOW(window.Valid());
    form.window = &window;
    window.Show();
    const HWND hwnd = ToHwnd(window.Handle());
    ::RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    ::GdiFlush();
    EXPECT_EQ(ScreenPixel(hwnd, 10, 10), draws ? MakePixel(200, 0, 0) : MakePixel(64, 64, 64));
    EXPECT_EQ(ScreenPixel(hwnd, 100, 100), MakePixel(64, 64, 64));
    EXPECT_EQ(ScreenPixel(hwnd, 10, 45), MakePixel(64, 64, 64));
  }
}

// A form that deletes its window from the close handler, as the preview does when its parent goes.
struct DeletingForm : WindowEvents {
  std::unique_ptr<Win32Window> window;
  int closes = 0;
  void OnCloseRequest() override {
    ++closes;
    window->Destroy();
    window.reset();
  }
};

TEST(WindowTest, FormMayDeleteItsWindowWhileItIsDestroyed) {
  Recorder parentEvents;
  auto parent = MakeWindow(parentEvents, /*border=*/true);
  REQUIRE_WINDOW(parent);
  DeletingForm form;
  form.window = MakeWindow(form);
  ASSERT_TRUE(form.window);
  const HWND child = ToHwnd(form.window->Handle());
  form.window->EmbedInto(parent->Handle(), {50, 40});
  parent->Destroy();
  EXPECT_EQ(form.closes, 1);
  EXPECT_FALSE(form.window);
  EXPECT_FALSE(::IsWindow(child));
}

TEST(WindowTest, ChildWindowsAreFoundAndSubclassed) {
  Recorder parentEvents;
  auto parent = MakeWindow(parentEvents);
  REQUIRE_WINDOW(parent);
  parent->Show();
  Recorder playerEvents;
  Win32Window player(ToHwnd(parent->Handle()), "ATL:44415A5A", WindowOptions{}, playerEvents);
  ASSERT_TRUE(player.Valid());
  Recorder innerEvents;
  Win32Window inner(ToHwnd(player.Handle()), "DazzleboxInner", WindowOptions{}, innerEvents);
  ASSERT_TRUE(inner.Valid());
  EXPECT_EQ(DescendantWindows(parent->Handle()),
            (std::vector<NativeHandle>{player.Handle(), inner.Handle()}));
  EXPECT_EQ(WindowClassName(player.Handle()), "ATL:44415A5A");
  EXPECT_EQ(player.ClientSize(), parent->ClientSize());  // a child starts filling its parent

  player.Move({10, 20, 100, 50});
  EXPECT_EQ(player.ClientSize(), (Size{100, 50}));
  RECT r{};
  ::GetWindowRect(ToHwnd(player.Handle()), &r);
  POINT origin{r.left, r.top};
  ::ScreenToClient(ToHwnd(parent->Handle()), &origin);
  EXPECT_EQ(origin.x, 10);
  EXPECT_EQ(origin.y, 20);
  parent->Move({1, 1, 5, 5});  // a top-level window ignores it
  EXPECT_NE(parent->ClientSize(), (Size{5, 5}));
  player.SetVisible(false);
  EXPECT_FALSE(::IsWindowVisible(ToHwnd(player.Handle())));
  player.SetVisible(true);
  EXPECT_TRUE(::IsWindowVisible(ToHwnd(player.Handle())));

  // A procedure in front takes the key downs and passes everything else on.
  std::vector<std::uint32_t> seen;
  WindowProc first;
  first = SubclassWindow(
      player.Handle(),
      [&](NativeHandle h, std::uint32_t m, std::uintptr_t w, std::intptr_t l) -> std::intptr_t {
        seen.push_back(m);
        if (m == kWmKeyDown) return 0;
        return first(h, m, w, l);
      });
  ASSERT_TRUE(first);
  const HWND hwnd = ToHwnd(player.Handle());
  ::SendMessageA(hwnd, WM_KEYDOWN, 'A', 0);
  ::SendMessageA(hwnd, WM_CHAR, 'a', 0);
  EXPECT_EQ(seen, (std::vector<std::uint32_t>{kWmKeyDown, kWmChar}));
  EXPECT_EQ(playerEvents.log, std::vector<std::string>{"press 97"});

  // A second procedure goes in front of the first and gets it back as its previous one.
  int secondCalls = 0;
  WindowProc previous;
  previous = SubclassWindow(
      player.Handle(), [&](NativeHandle h, std::uint32_t m, std::uintptr_t w, std::intptr_t l) {
        ++secondCalls;
        return previous(h, m, w, l);
      });
  ASSERT_TRUE(previous);
  ::SendMessageA(hwnd, WM_KEYDOWN, 'B', 0);
  EXPECT_EQ(secondCalls, 1);
  EXPECT_EQ(seen.size(), 3u);

  EXPECT_FALSE(SubclassWindow(
      0, [](NativeHandle, std::uint32_t, std::uintptr_t, std::intptr_t) -> std::intptr_t {
        return 0;
      }));
  // The desktop belongs to another process.
  EXPECT_FALSE(SubclassWindow(FromHwnd(::GetDesktopWindow()),
                              [](NativeHandle, std::uint32_t, std::uintptr_t,
                                 std::intptr_t) -> std::intptr_t { return 0; }));
  inner.Destroy();
  player.Destroy();
}

}  // namespace
}  // namespace dbx::win32
