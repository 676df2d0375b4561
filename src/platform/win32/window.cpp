#include "platform/win32/window.h"

#include <windowsx.h>
// windowsx.h spells SubclassWindow as a macro; ours is a function of the same name.
#undef SubclassWindow

#include <algorithm>
#include <map>
#include <vector>

namespace dbx::win32 {
namespace {

constexpr char kWindowClass[] = "DazzleboxForm";
constexpr int kDefaultWidth = 640;
constexpr int kDefaultHeight = 480;

// Registers a window class of ours (once per name; a second registration fails harmlessly).
bool RegisterFormClass(HINSTANCE instance, const char* name, WNDPROC proc) {
  WNDCLASSEXA windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  // Whole-window repaints on resize; no double-click messages, so every click is a button down.
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = proc;
  windowClass.hInstance = instance;
  windowClass.hCursor = ::LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  windowClass.lpszClassName = name;
  return ::RegisterClassExA(&windowClass) != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

COLORREF ToColorRef(Pixel pixel) {
  return RGB(PixelR(pixel), PixelG(pixel), PixelB(pixel));
}

int MouseShift(WPARAM wParam) {
  int shift = 0;
  if (wParam & MK_SHIFT) shift |= kShiftMask;
  if (wParam & MK_CONTROL) shift |= kCtrlMask;
  if (::GetKeyState(VK_MENU) < 0) shift |= kAltMask;
  return shift;
}

int MouseButtons(WPARAM wParam) {
  int buttons = 0;
  if (wParam & MK_LBUTTON) buttons |= static_cast<int>(MouseButton::kLeft);
  if (wParam & MK_RBUTTON) buttons |= static_cast<int>(MouseButton::kRight);
  if (wParam & MK_MBUTTON) buttons |= static_cast<int>(MouseButton::kMiddle);
  return buttons;
}

Point ClientPoint(LPARAM lParam) {
  return {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
}

}  // namespace

int ShiftState() {
  int shift = 0;
  if (::GetKeyState(VK_SHIFT) < 0) shift |= kShiftMask;
  if (::GetKeyState(VK_CONTROL) < 0) shift |= kCtrlMask;
  if (::GetKeyState(VK_MENU) < 0) shift |= kAltMask;
  return shift;
}

Win32Window::Win32Window(const WindowOptions& options, WindowEvents& events)
    : events_(&events), background_(options.background) {
  const DWORD style =
      (options.border ? WS_OVERLAPPEDWINDOW : WS_POPUP) | WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
  // A borderless window has no default place: it starts centred on the primary monitor.
  const int x = std::max(0, (::GetSystemMetrics(SM_CXSCREEN) - kDefaultWidth) / 2);
  const int y = std::max(0, (::GetSystemMetrics(SM_CYSCREEN) - kDefaultHeight) / 2);
  Create(nullptr, kWindowClass, style, {x, y, kDefaultWidth, kDefaultHeight}, options.caption);
}

Win32Window::Win32Window(HWND parent, std::string_view className, const WindowOptions& options,
                         WindowEvents& events)
    : events_(&events), background_(options.background) {
  if (parent == nullptr || className.empty()) return;
  RECT client{};
  ::GetClientRect(parent, &client);
  Create(parent, std::string(className), WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS,
         {0, 0, client.right, client.bottom}, options.caption);
}

void Win32Window::Create(HWND parent, const std::string& className, DWORD style, Rect place,
                         const std::string& caption) {
  const HINSTANCE instance = ::GetModuleHandleA(nullptr);
  if (!RegisterFormClass(instance, className.c_str(), &Win32Window::WindowProc)) return;
  ::CreateWindowExA(0, className.c_str(), caption.c_str(), style, place.x, place.y, place.w,
                    place.h, parent, nullptr, instance, this);
  // WM_NCCREATE stored the handle; a window that failed later in creation has none.
  ready_ = hwnd_ != nullptr;
}

Win32Window::~Win32Window() {
  *alive_ = false;
  Destroy();
  // Deleted while the system was still destroying the window (from the form's close handler):
  // its last messages must not reach this object.
  if (attached_ != nullptr) ::SetWindowLongPtrA(attached_, GWLP_USERDATA, 0);
}

LRESULT CALLBACK Win32Window::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* self =
        static_cast<Win32Window*>(reinterpret_cast<const CREATESTRUCTA*>(lParam)->lpCreateParams);
    self->hwnd_ = hwnd;
    self->attached_ = hwnd;
    ::SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<Win32Window*>(::GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (self == nullptr) return ::DefWindowProcA(hwnd, message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    ::SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
    self->hwnd_ = nullptr;
    self->attached_ = nullptr;
    return ::DefWindowProcA(hwnd, message, wParam, lParam);
  }
  // Nothing the form throws may unwind through the system's code.
  try {
    return self->OnMessage(message, wParam, lParam);
  } catch (...) {
    return 0;
  }
}

LRESULT Win32Window::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  WindowEvents* events = ready_ ? events_ : nullptr;
  const HWND hwnd = hwnd_;
  switch (message) {
    case WM_ERASEBKGND:
      return 1;  // WM_PAINT fills what the form does not draw, without a flash of background.
    case WM_PAINT:
      Paint();
      return 0;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
      if (events != nullptr) events->OnKeyDown(static_cast<int>(wParam), ShiftState());
      // System keys keep their meaning (Alt+F4 asks to close).
      if (message == WM_SYSKEYDOWN) break;
      return 0;
    case WM_CHAR:
      if (events != nullptr) events->OnKeyPress(static_cast<unsigned char>(wParam));
      return 0;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
    case WM_MBUTTONUP: {
      if (events == nullptr) return 0;
      MouseButton button = MouseButton::kLeft;
      if (message == WM_RBUTTONDOWN || message == WM_RBUTTONUP) button = MouseButton::kRight;
      if (message == WM_MBUTTONDOWN || message == WM_MBUTTONUP) button = MouseButton::kMiddle;
      const bool down =
          message == WM_LBUTTONDOWN || message == WM_RBUTTONDOWN || message == WM_MBUTTONDOWN;
      if (down) {
        events->OnMouseDown(button, MouseShift(wParam), ClientPoint(lParam));
      } else {
        events->OnMouseUp(button, MouseShift(wParam), ClientPoint(lParam));
      }
      return 0;
    }
    case WM_MOUSEMOVE:
      if (events != nullptr) {
        events->OnMouseMove(MouseButtons(wParam), MouseShift(wParam), ClientPoint(lParam));
      }
      return 0;
    case WM_SIZE:
      if (events != nullptr) events->OnResize({LOWORD(lParam), HIWORD(lParam)});
      return 0;
    case WM_CLOSE:
      // The form decides: it destroys its window when it unloads.
      if (events != nullptr) events->OnCloseRequest();
      return 0;
    case WM_DPICHANGED:
      if (maximized_) {
        CoverMonitor();
      } else {
        const auto* suggested = reinterpret_cast<const RECT*>(lParam);
        ::SetWindowPos(hwnd, nullptr, suggested->left, suggested->top,
                       suggested->right - suggested->left, suggested->bottom - suggested->top,
                       SWP_NOZORDER | SWP_NOACTIVATE);
      }
      return 0;
    case WM_DISPLAYCHANGE:
      if (maximized_) CoverMonitor();
      break;
    case WM_DESTROY:
      // Destroyed from outside (the preview's parent went away): the form hears a close request,
      // and the window is gone for whatever it does next.
      hwnd_ = nullptr;
      if (!destroying_ && events != nullptr) events->OnCloseRequest();
      return 0;
    default:
      break;
  }
  return ::DefWindowProcA(hwnd, message, wParam, lParam);
}

void Win32Window::Paint() {
  PAINTSTRUCT paint;
  const HWND hwnd = hwnd_;
  const HDC dc = ::BeginPaint(hwnd, &paint);
  if (dc == nullptr) return;
  painting_ = true;
  presented_ = ::CreateRectRgn(0, 0, 0, 0);
  WindowEvents* events = ready_ ? events_ : nullptr;
  const std::shared_ptr<bool> alive = alive_;
  try {
    if (events != nullptr) events->OnPaint();
  } catch (...) {
  }
  if (!*alive) {
    ::EndPaint(hwnd, &paint);
    return;
  }
  painting_ = false;
  // Whatever the form did not draw (all of it for the code-less preview; the margins of a surface
  // smaller than the window) shows the background colour.
  const HRGN rest = ::CreateRectRgnIndirect(&paint.rcPaint);
  if (rest != nullptr && presented_ != nullptr) ::CombineRgn(rest, rest, presented_, RGN_DIFF);
  if (rest != nullptr && hwnd_ != nullptr) {
    const HBRUSH brush = ::CreateSolidBrush(ToColorRef(background_));
    ::FillRgn(dc, rest, brush);
    ::DeleteObject(brush);
  }
  if (rest != nullptr) ::DeleteObject(rest);
  if (presented_ != nullptr) ::DeleteObject(presented_);
  presented_ = nullptr;
  ::EndPaint(hwnd, &paint);
}

void Win32Window::SetCaption(std::string_view caption) {
  if (hwnd_ == nullptr) return;
  const std::string text(caption);
  ::SetWindowTextA(hwnd_, text.c_str());
}

std::string Win32Window::Caption() const {
  if (hwnd_ == nullptr) return {};
  const int length = ::GetWindowTextLengthA(hwnd_);
  if (length <= 0) return {};
  std::vector<char> buffer(static_cast<std::size_t>(length) + 1, '\0');
  const int copied = ::GetWindowTextA(hwnd_, buffer.data(), length + 1);
  return std::string(buffer.data(), static_cast<std::size_t>(std::max(0, copied)));
}

void Win32Window::Show() {
  if (hwnd_ == nullptr) return;
  ::ShowWindow(hwnd_, SW_SHOW);
  ::UpdateWindow(hwnd_);
}

void Win32Window::CoverMonitor() {
  if (hwnd_ == nullptr) return;
  const HMONITOR monitor =
      monitor_ ? monitor_ : ::MonitorFromWindow(hwnd_, MONITOR_DEFAULTTONEAREST);
  MONITORINFO info{};
  info.cbSize = sizeof(info);
  if (!::GetMonitorInfoA(monitor, &info)) return;
  const RECT& r = info.rcMonitor;
  // Above the taskbar and every other window, as a screen saver's window is.
  ::SetWindowPos(hwnd_, HWND_TOPMOST, r.left, r.top, r.right - r.left, r.bottom - r.top,
                 SWP_FRAMECHANGED);
}

void Win32Window::SetState(WindowState state) {
  if (hwnd_ == nullptr) return;
  if (state == WindowState::kMaximized) {
    // The whole monitor, taskbar included: a system maximise would stop at the work area.
    maximized_ = true;
    CoverMonitor();
    // The form lays itself out now, also when the window already had the monitor's size and the
    // system sent no WM_SIZE.
    if (ready_ && events_ != nullptr && hwnd_ != nullptr) events_->OnResize(ClientSize());
  } else if (maximized_) {
    maximized_ = false;
    ::SetWindowPos(hwnd_, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    ::ShowWindow(hwnd_, SW_RESTORE);
  }
}

void Win32Window::CoverArea(Rect area) {
  if (hwnd_ == nullptr) return;
  const RECT r{area.x, area.y, area.x + area.w, area.y + area.h};
  monitor_ = ::MonitorFromRect(&r, MONITOR_DEFAULTTONEAREST);
  SetState(WindowState::kMaximized);
}

Size Win32Window::ClientSize() const {
  RECT rect{};
  if (hwnd_ == nullptr || !::GetClientRect(hwnd_, &rect)) return {};
  return {rect.right, rect.bottom};
}

void Win32Window::Present(const SurfaceView& pixels, Rect dirty) {
  if (hwnd_ == nullptr || pixels.data() == nullptr || pixels.stride() < pixels.width()) return;
  // Only what both the surface and the client area hold is drawn.
  const Size client = ClientSize();
  const int left = std::max({dirty.x, 0});
  const int top = std::max({dirty.y, 0});
  const int right = std::min({dirty.x + dirty.w, pixels.width(), client.w});
  const int bottom = std::min({dirty.y + dirty.h, pixels.height(), client.h});
  if (right <= left || bottom <= top) return;
  const int width = right - left;
  const int height = bottom - top;

  // The DIB's width is the view's stride, so rows are read in place. A view whose stride is wider
  // than its width may sit inside a larger buffer whose last row is shorter than a stride: such a
  // rectangle is copied out first.
  const Pixel* bits = pixels.Row(top);
  int dibWidth = static_cast<int>(std::min<std::ptrdiff_t>(pixels.stride(), 0x7FFFFFFF));
  int sourceX = left;
  std::vector<Pixel> copy;
  if (pixels.stride() != pixels.width()) {
    copy.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    for (int y = 0; y < height; ++y) {
      std::copy_n(pixels.Row(top + y) + left, width,
                  copy.data() + static_cast<std::size_t>(y) * width);
    }
    bits = copy.data();
    dibWidth = width;
    sourceX = 0;
  }

  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = dibWidth;
  info.bmiHeader.biHeight = -height;  // top-down: the first row in memory is the top one
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  const HDC dc = ::GetDC(hwnd_);
  if (dc == nullptr) return;
  ::SetDIBitsToDevice(dc, left, top, static_cast<DWORD>(width), static_cast<DWORD>(height), sourceX,
                      0, 0, static_cast<UINT>(height), bits, &info, DIB_RGB_COLORS);
  ::ReleaseDC(hwnd_, dc);
  if (painting_ && presented_ != nullptr) {
    const HRGN drawn = ::CreateRectRgn(left, top, right, bottom);
    if (drawn != nullptr) {
      ::CombineRgn(presented_, presented_, drawn, RGN_OR);
      ::DeleteObject(drawn);
    }
  }
}

void Win32Window::EmbedInto(NativeHandle parent, Size size) {
  if (hwnd_ == nullptr) return;
  const HWND parentWindow = ToHwnd(parent);
  const LONG style = ::GetWindowLongA(hwnd_, GWL_STYLE);
  ::SetWindowLongA(hwnd_, GWL_STYLE, style | WS_CHILD);
  ::SetParent(hwnd_, parentWindow);
  ::SetWindowLongPtrA(hwnd_, GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(parentWindow));
  // SWP_NOZORDER | SWP_NOACTIVATE | SWP_SHOWWINDOW: the one step that shows the preview.
  ::SetWindowPos(hwnd_, nullptr, 0, 0, size.w, size.h, 0x54);
}

unsigned Win32Window::Dpi() const {
  unsigned dpi = hwnd_ != nullptr ? ::GetDpiForWindow(hwnd_) : 0;
  if (dpi == 0) {
    const HDC screen = ::GetDC(nullptr);
    if (screen != nullptr) {
      dpi = static_cast<unsigned>(::GetDeviceCaps(screen, LOGPIXELSX));
      ::ReleaseDC(nullptr, screen);
    }
  }
  return dpi == 0 ? 96 : dpi;
}

int Win32Window::TwipsPerPixelX() const {
  return static_cast<int>(1440 / Dpi());
}
int Win32Window::TwipsPerPixelY() const {
  return static_cast<int>(1440 / Dpi());
}

void Win32Window::Move(Rect area) {
  if (hwnd_ == nullptr || (::GetWindowLongA(hwnd_, GWL_STYLE) & WS_CHILD) == 0) return;
  ::SetWindowPos(hwnd_, nullptr, area.x, area.y, std::max(0, area.w), std::max(0, area.h),
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

void Win32Window::SetVisible(bool visible) {
  if (hwnd_ != nullptr) ::ShowWindow(hwnd_, visible ? SW_SHOWNA : SW_HIDE);
}

void Win32Window::Focus() {
  if (hwnd_ != nullptr) ::SetFocus(hwnd_);
}

void Win32Window::Destroy() {
  events_ = nullptr;
  ready_ = false;
  if (hwnd_ == nullptr || destroying_) return;
  destroying_ = true;
  ::DestroyWindow(hwnd_);
  hwnd_ = nullptr;
}

}  // namespace dbx::win32

// ---------------------------------------------------------------------------------------------
// Windows of the process seen from outside their forms: enumeration, class names, subclassing.

namespace dbx::win32 {
namespace {

BOOL CALLBACK CollectWindow(HWND hwnd, LPARAM list) {
  reinterpret_cast<std::vector<NativeHandle>*>(list)->push_back(FromHwnd(hwnd));
  return TRUE;
}

// One entry per subclassed window: the procedure in front, and the system's procedure that was
// there before the first subclassing.
struct Subclass {
  WindowProc procedure;
  WNDPROC original = nullptr;
};

std::map<HWND, Subclass>& Subclasses() {
  static std::map<HWND, Subclass> subclasses;  // user-interface thread only
  return subclasses;
}

LRESULT CALLBACK SubclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto& all = Subclasses();
  const auto found = all.find(hwnd);
  if (found == all.end()) return ::DefWindowProcA(hwnd, message, wParam, lParam);
  // A copy: the procedure may subclass again or end the window while it runs.
  const WindowProc procedure = found->second.procedure;
  const WNDPROC original = found->second.original;
  LRESULT result = 0;
  try {
    result = procedure ? procedure(FromHwnd(hwnd), message, wParam, lParam)
                       : ::CallWindowProcA(original, hwnd, message, wParam, lParam);
  } catch (...) {
    result = 0;
  }
  if (message == WM_NCDESTROY) all.erase(hwnd);
  return result;
}

}  // namespace

std::vector<NativeHandle> DescendantWindows(NativeHandle parent) {
  std::vector<NativeHandle> list;
  const HWND hwnd = ToHwnd(parent);
  if (hwnd != nullptr && ::IsWindow(hwnd)) {
    ::EnumChildWindows(hwnd, &CollectWindow, reinterpret_cast<LPARAM>(&list));
  }
  return list;
}

std::vector<Rect> Monitors() {
  std::vector<Rect> out;
  const auto add = [](HMONITOR monitor, HDC, LPRECT, LPARAM data) -> BOOL {
    auto* list = reinterpret_cast<std::vector<Rect>*>(data);
    MONITORINFO info{};
    info.cbSize = sizeof(info);
    if (!::GetMonitorInfoA(monitor, &info)) return TRUE;
    const RECT& m = info.rcMonitor;
    const Rect r{m.left, m.top, m.right - m.left, m.bottom - m.top};
    if (info.dwFlags & MONITORINFOF_PRIMARY) {
      list->insert(list->begin(), r);
    } else {
      list->push_back(r);
    }
    return TRUE;
  };
  ::EnumDisplayMonitors(nullptr, nullptr, add, reinterpret_cast<LPARAM>(&out));
  return out;
}

std::string WindowClassName(NativeHandle window) {
  char name[256] = {};
  const int length = ::GetClassNameA(ToHwnd(window), name, sizeof(name));
  return length > 0 ? std::string(name, static_cast<std::size_t>(length)) : std::string();
}

WindowProc SubclassWindow(NativeHandle window, WindowProc procedure) {
  const HWND hwnd = ToHwnd(window);
  DWORD owner = 0;
  if (hwnd == nullptr || !::IsWindow(hwnd) || !procedure ||
      ::GetWindowThreadProcessId(hwnd, &owner) == 0 || owner != ::GetCurrentProcessId()) {
    return {};
  }
  auto& all = Subclasses();
  const auto found = all.find(hwnd);
  if (found != all.end()) {
    // Subclassed before: the new procedure goes in front of the one there.
    WindowProc previous = std::move(found->second.procedure);
    found->second.procedure = std::move(procedure);
    if (previous) return previous;
    const WNDPROC original = found->second.original;
    return [original](NativeHandle h, std::uint32_t m, std::uintptr_t w, std::intptr_t l) {
      return static_cast<std::intptr_t>(::CallWindowProcA(original, ToHwnd(h), m, w, l));
    };
  }
  const auto original = reinterpret_cast<WNDPROC>(::GetWindowLongPtrA(hwnd, GWLP_WNDPROC));
  if (original == nullptr) return {};
  all[hwnd] = Subclass{std::move(procedure), original};
  ::SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&SubclassProc));
  return [original](NativeHandle h, std::uint32_t m, std::uintptr_t w, std::intptr_t l) {
    return static_cast<std::intptr_t>(::CallWindowProcA(original, ToHwnd(h), m, w, l));
  };
}

}  // namespace dbx::win32
