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

TEST(WindowTest, PresentAndPaintSurviveOddRectangles) {
  Recorder recorder;
  auto window = MakeWindow(recorder);
  REQUIRE_WINDOW(window);
  window->Show();
  Surface surface(100, 50, MakePixel(10, 20, 30));
  // A view with a stride wider than its width, ending at the buffer's last pixel.
  const SurfaceView inner(surface.data() + 40, 60, 50 - 1, 100);
  const Rect rects[] = {{0, 0, 100, 50}, {-50, -50, 1000, 1000}, {90, 40, 50, 50},
                        {0, 0, 0, 0},    {200, 200, 10, 10},     {5, 5, -3, 4}};
  for (const Rect& r : rects) {
    window->Present(surface.View(), r);
    window->Present(inner, r);
  }
  window->Present(SurfaceView(), {0, 0, 10, 10});
  Win32EventLoop loop;
  ::InvalidateRect(ToHwnd(window->Handle()), nullptr, FALSE);
  loop.RunPending();
  SUCCEED();
}

}  // namespace
}  // namespace dbx::win32
