// A form's window on Win32: borderless or framed, full screen on its monitor, or embedded as the
// child of a foreign window (the preview).
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win32/win32_api.h"

namespace dbx::win32 {

class Win32Window final : public Window {
 public:
  Win32Window(const WindowOptions& options, WindowEvents& events);
  // A child window of `parent`, of its own window class `className`, that receives its own input.
  Win32Window(HWND parent, std::string_view className, const WindowOptions& options,
              WindowEvents& events);
  ~Win32Window() override;
  Win32Window(const Win32Window&) = delete;
  Win32Window& operator=(const Win32Window&) = delete;

  // False when the system refused the window.
  bool Valid() const { return hwnd_ != nullptr; }

  void SetCaption(std::string_view caption) override;
  std::string Caption() const override;
  void Show() override;
  void SetState(WindowState state) override;
  Size ClientSize() const override;
  void Present(const SurfaceView& pixels, Rect dirty) override;
  void EmbedInto(NativeHandle parent, Size size) override;
  int TwipsPerPixelX() const override;
  int TwipsPerPixelY() const override;
  NativeHandle Handle() const override { return FromHwnd(hwnd_); }
  void Destroy() override;
  void Move(Rect area) override;
  void SetVisible(bool visible) override;
  void Focus() override;
  void CoverArea(Rect area) override;

 private:
  void Create(HWND parent, const std::string& className, DWORD style, Rect place,
              const std::string& caption);
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void Paint();
  void CoverMonitor();
  unsigned Dpi() const;

  // The handle while the window is usable; null from the start of its destruction.
  HWND hwnd_ = nullptr;
  // The handle until the system's last message for it, so that the procedure can be detached
  // from this object even when the form deletes it half-way through the destruction.
  HWND attached_ = nullptr;
  WindowEvents* events_ = nullptr;
  // Events start once the window exists, so a form never hears of its window half-built.
  bool ready_ = false;
  bool destroying_ = false;
  bool maximized_ = false;
  // The monitor a full-screen window covers (null: the one it lies on).
  HMONITOR monitor_ = nullptr;
  bool painting_ = false;
  // What the form drew during the current WM_PAINT.
  HRGN presented_ = nullptr;
  Pixel background_ = 0;
  // Cleared when this object goes away: a handler may delete its own window (a form unloading on
  // input), and the code that called the handler must then not touch it again.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// The bits of the keyboard's shift state, as forms see them.
int ShiftState();

// Every descendant of `parent`, in the system's enumeration order.
std::vector<NativeHandle> DescendantWindows(NativeHandle parent);
std::string WindowClassName(NativeHandle window);
// The monitors of the desktop in device pixels, the primary one first.
std::vector<Rect> Monitors();
// Puts `procedure` in front of the window procedure of one of this process's windows and returns
// the procedure it replaced (which calls the system's CallWindowProcA on the previous one). A
// window of another process, or no window, keeps its procedure and gives an empty result.
WindowProc SubclassWindow(NativeHandle window, WindowProc procedure);

}  // namespace dbx::win32
