// The connection to the X server that every part of the Linux platform shares: the display
// (opened on first use), the windows of this process by id, the window-manager atoms and the
// pointer's display count.
#pragma once

#include <X11/Xlib.h>

#include <cstdint>
#include <map>
#include <vector>

#include "core/platform.h"

namespace dbx::x11 {

class X11Window;

// X errors of requests on foreign windows (a preview parent that went away) must not end the
// program: the last one is remembered here, and callers that care clear it before a request.
int& LastXError();

std::int64_t MonotonicMs();

// The monitors of the desktop in screen pixels, the primary one first, each once (monitors.cpp).
std::vector<Rect> QueryMonitors(Display* d);

class X11Display {
 public:
  explicit X11Display(NativeHandle hostWindow) : hostWindow_(hostWindow) {}
  ~X11Display();
  X11Display(const X11Display&) = delete;
  X11Display& operator=(const X11Display&) = delete;

  // The display, opened on first use (Nudger and the headless paths never need one); null when
  // there is none.
  Display* Get();
  Display* IfOpen() const { return display_; }
  Atom WmDelete() const { return wmDelete_; }
  // xscreensaver's window that the show draws into (0: none).
  NativeHandle HostWindow() const { return hostWindow_; }

  // Our own windows by id; events are routed through this.
  std::map<::Window, X11Window*> windows;
  // Foreign windows that one of ours fills (xscreensaver's), by id: their size is followed.
  std::map<::Window, X11Window*> hosts;
  // The pointer shows on our windows while this is >= 0.
  int cursorCount = 0;

 private:
  Display* display_ = nullptr;
  bool failed_ = false;
  Atom wmDelete_ = 0;
  NativeHandle hostWindow_ = 0;
};

}  // namespace dbx::x11
