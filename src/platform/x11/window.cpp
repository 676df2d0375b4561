#include "platform/x11/window.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <cstdlib>

#include "core/window_messages.h"

namespace dbx::x11 {

X11Window::X11Window(X11Display& display, const WindowOptions& options, WindowEvents& events,
                     ::Window parent, std::string_view className)
    : display_(display), events_(events), child_(parent != 0), caption_(options.caption) {
  procedure_ = [this](NativeHandle, std::uint32_t message, std::uintptr_t wParam,
                      std::intptr_t lParam) {
    return DeliverToEvents(events_, message, wParam, lParam, keyShift_);
  };
  Display* d = display_.Get();
  const int screen = DefaultScreen(d);
  if (parent == 0) parent = RootWindow(d, screen);
  XSetWindowAttributes attrs{};
  attrs.background_pixel = options.background;
  attrs.event_mask = KeyPressMask | KeyReleaseMask | ButtonPressMask | ButtonReleaseMask |
                     PointerMotionMask | StructureNotifyMask | ExposureMask | FocusChangeMask;
  window_ = XCreateWindow(d, parent, 0, 0, static_cast<unsigned>(size_.w),
                          static_cast<unsigned>(size_.h), 0, CopyFromParent, InputOutput,
                          CopyFromParent, CWBackPixel | CWEventMask, &attrs);
  gc_ = XCreateGC(d, window_, 0, nullptr);
  if (!className.empty()) {
    const std::string cls(className);
    XClassHint hint{};
    hint.res_name = const_cast<char*>(cls.c_str());
    hint.res_class = const_cast<char*>(cls.c_str());
    XSetClassHint(d, window_, &hint);
  }
  Atom wmDelete = display_.WmDelete();
  XSetWMProtocols(d, window_, &wmDelete, 1);
  if (!options.border) {
    // Motif hints: no decorations.
    struct {
      unsigned long flags, functions, decorations;
      long inputMode;
      unsigned long status;
    } hints{2, 0, 0, 0, 0};
    const Atom motif = XInternAtom(d, "_MOTIF_WM_HINTS", False);
    XChangeProperty(d, window_, motif, motif, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(&hints), 5);
  }
  SetCaption(caption_);
  display_.windows[window_] = this;
  ApplyCursor(display_.cursorCount >= 0);
}

void X11Window::SetCaption(std::string_view caption) {
  caption_ = caption;
  if (destroyed_) return;
  Display* d = display_.Get();
  XStoreName(d, window_, caption_.c_str());
  const Atom netName = XInternAtom(d, "_NET_WM_NAME", False);
  const Atom utf8 = XInternAtom(d, "UTF8_STRING", False);
  XChangeProperty(d, window_, netName, utf8, 8, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(caption_.data()),
                  static_cast<int>(caption_.size()));
  XFlush(d);
}

void X11Window::Show() {
  if (destroyed_) return;
  XMapRaised(display_.Get(), window_);
  XFlush(display_.Get());
}

void X11Window::SetState(WindowState state) {
  if (destroyed_ || state != WindowState::kMaximized) return;
  Display* d = display_.Get();
  if (const NativeHandle host = display_.HostWindow()) {
    // Inside xscreensaver's window: fill it, and follow its size.
    XWindowAttributes a{};
    LastXError() = 0;
    if (XGetWindowAttributes(d, static_cast<::Window>(host), &a) && LastXError() == 0) {
      host_ = static_cast<::Window>(host);
      display_.hosts[host_] = this;
      XSelectInput(d, host_, StructureNotifyMask);
      EmbedInto(host, Size{a.width, a.height});
      return;
    }
  }
  const int screen = DefaultScreen(d);
  CoverArea(Rect{0, 0, DisplayWidth(d, screen), DisplayHeight(d, screen)});
}

void X11Window::CoverArea(Rect area) {
  if (destroyed_) return;
  Display* d = display_.Get();
  const Size full{std::max(area.w, 1), std::max(area.h, 1)};
  // A screen saver covers everything: no window manager places or decorates it.
  XUnmapWindow(d, window_);
  XSetWindowAttributes attrs{};
  attrs.override_redirect = True;
  XChangeWindowAttributes(d, window_, CWOverrideRedirect, &attrs);
  XMoveResizeWindow(d, window_, area.x, area.y, static_cast<unsigned>(full.w),
                    static_cast<unsigned>(full.h));
  XMapRaised(d, window_);
  XSync(d, False);
  XGrabKeyboard(d, window_, True, GrabModeAsync, GrabModeAsync, CurrentTime);
  XSetInputFocus(d, window_, RevertToParent, CurrentTime);
  XFlush(d);
  // The form lays itself out now, whether or not the size changed.
  size_ = full;
  events_.OnResize(size_);
}

void X11Window::Present(const SurfaceView& pixels, Rect dirty) {
  if (destroyed_) return;
  presenter_.Put(display_.Get(), window_, gc_, pixels, dirty);
}

void X11Window::EmbedInto(NativeHandle parent, Size size) {
  if (destroyed_) return;
  Display* d = display_.Get();
  LastXError() = 0;
  XReparentWindow(d, window_, static_cast<::Window>(parent), 0, 0);
  XResizeWindow(d, window_, static_cast<unsigned>(std::max(size.w, 1)),
                static_cast<unsigned>(std::max(size.h, 1)));
  XMapWindow(d, window_);
  XSync(d, False);
  size_ = size;
  events_.OnResize(size_);
}

int X11Window::TwipsPerPixelX() const {
  // 1440 twips make an inch; the display's resolution as the desktop states it (Xft.dpi).
  int dpi = 96;
  if (Display* d = display_.IfOpen()) {
    if (const char* v = XGetDefault(d, "Xft", "dpi")) {
      const int parsed = std::atoi(v);
      if (parsed >= 48 && parsed <= 960) dpi = parsed;
    }
  }
  return std::max(1, 1440 / dpi);
}

void X11Window::Move(Rect area) {
  if (destroyed_ || !child_) return;
  Display* d = display_.Get();
  XMoveResizeWindow(d, window_, area.x, area.y, static_cast<unsigned>(std::max(area.w, 1)),
                    static_cast<unsigned>(std::max(area.h, 1)));
  XFlush(d);
  if (Size{area.w, area.h} != size_) {
    size_ = Size{area.w, area.h};
    events_.OnResize(size_);
  }
}

void X11Window::Focus() {
  if (destroyed_) return;
  Display* d = display_.Get();
  XWindowAttributes a{};
  // Only a window that is on screen can take the focus.
  if (XGetWindowAttributes(d, window_, &a) && a.map_state == IsViewable) {
    XSetInputFocus(d, window_, RevertToParent, CurrentTime);
    XFlush(d);
  }
}

void X11Window::SetVisible(bool visible) {
  if (destroyed_) return;
  Display* d = display_.Get();
  if (visible) {
    XMapWindow(d, window_);
  } else {
    XUnmapWindow(d, window_);
  }
  XFlush(d);
}

void X11Window::Destroy() {
  if (destroyed_) return;
  destroyed_ = true;
  display_.windows.erase(window_);
  if (host_) display_.hosts.erase(host_);
  if (Display* d = display_.IfOpen()) {
    XUngrabKeyboard(d, CurrentTime);
    presenter_.Release();
    if (gc_) XFreeGC(d, gc_);
    XDestroyWindow(d, window_);
    XFlush(d);
  }
}

void X11Window::ApplyCursor(bool visible) {
  Display* d = display_.Get();
  if (visible) {
    XUndefineCursor(d, window_);
  } else {
    static const char empty[8] = {};
    Pixmap blank = XCreateBitmapFromData(d, window_, empty, 8, 8);
    XColor black{};
    ::Cursor invisible = XCreatePixmapCursor(d, blank, blank, &black, &black, 0, 0);
    XDefineCursor(d, window_, invisible);
    XFreeCursor(d, invisible);
    XFreePixmap(d, blank);
  }
  XFlush(d);
}

}  // namespace dbx::x11
