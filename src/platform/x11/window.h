// A form's window on X11: borderless full screen (override-redirect, keyboard grabbed), inside
// xscreensaver's window, embedded into a foreign window (the preview), or a child window of one
// of ours. Input arrives as X events and goes through the window's procedure as window messages.
#pragma once

#include <X11/Xlib.h>

#include <string>
#include <string_view>

#include "platform/x11/display.h"
#include "platform/x11/presenter.h"

namespace dbx::x11 {

class X11Window final : public Window {
 public:
  // A top-level window, or with `parent` a child window of that class inside it.
  X11Window(X11Display& display, const WindowOptions& options, WindowEvents& events,
            ::Window parent = 0, std::string_view className = {});
  ~X11Window() override { Destroy(); }
  X11Window(const X11Window&) = delete;
  X11Window& operator=(const X11Window&) = delete;

  void SetCaption(std::string_view caption) override;
  std::string Caption() const override { return caption_; }
  void Show() override;
  void SetState(WindowState state) override;
  Size ClientSize() const override { return size_; }
  void Present(const SurfaceView& pixels, Rect dirty) override;
  void EmbedInto(NativeHandle parent, Size size) override;
  int TwipsPerPixelX() const override;
  int TwipsPerPixelY() const override { return TwipsPerPixelX(); }
  NativeHandle Handle() const override { return window_; }
  void Destroy() override;
  void Move(Rect area) override;
  void SetVisible(bool visible) override;
  void Focus() override;
  void CoverArea(Rect area) override;

  // Handles one X event of this window (input.cpp).
  void Dispatch(XEvent& e);
  void ApplyCursor(bool visible);
  WindowProc& Procedure() { return procedure_; }

 private:
  std::intptr_t Send(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
    // The procedure may be replaced, and the window destroyed, while it runs: call a copy.
    WindowProc proc = procedure_;
    return proc ? proc(window_, message, wParam, lParam) : 0;
  }

  X11Display& display_;
  WindowEvents& events_;
  WindowProc procedure_;
  int keyShift_ = 0;
  bool child_ = false;
  ::Window window_ = 0;
  ::Window host_ = 0;  // the foreign window this one fills and follows in size
  GC gc_ = nullptr;
  FramePresenter presenter_;
  std::string caption_;
  Size size_{640, 480};
  bool destroyed_ = false;
};

}  // namespace dbx::x11
