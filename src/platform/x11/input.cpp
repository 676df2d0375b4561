// X events of our windows, turned into window messages (input) and form events (size, paint,
// close).
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <algorithm>

#include "platform/x11/window.h"

namespace dbx::x11 {
namespace {

// Virtual-key codes for the keys whose codes the forms look at; letters and digits are their
// upper-case character codes, as on Windows.
int VirtualKey(KeySym sym) {
  if (sym >= XK_a && sym <= XK_z) return static_cast<int>(sym - XK_a + 'A');
  if (sym >= XK_A && sym <= XK_Z) return static_cast<int>(sym);
  if (sym >= XK_0 && sym <= XK_9) return static_cast<int>(sym);
  switch (sym) {
    case XK_Escape:
      return 27;
    case XK_Return:
    case XK_KP_Enter:
      return 13;
    case XK_space:
      return 32;
    case XK_Tab:
      return 9;
    case XK_BackSpace:
      return 8;
    case XK_Left:
      return 37;
    case XK_Up:
      return 38;
    case XK_Right:
      return 39;
    case XK_Down:
      return 40;
    case XK_Shift_L:
    case XK_Shift_R:
      return 16;
    case XK_Control_L:
    case XK_Control_R:
      return 17;
    case XK_Alt_L:
    case XK_Alt_R:
      return 18;
    default:
      return static_cast<int>(sym & 0xFF) | 0x100;
  }
}

int ShiftBitsOf(unsigned state) {
  int s = 0;
  if (state & ShiftMask) s |= kShiftMask;
  if (state & ControlMask) s |= kCtrlMask;
  if (state & Mod1Mask) s |= kAltMask;
  return s;
}

std::uintptr_t MouseKeysOf(unsigned state) {
  std::uintptr_t w = 0;
  if (state & Button1Mask) w |= kMkLButton;
  if (state & Button3Mask) w |= kMkRButton;
  if (state & Button2Mask) w |= kMkMButton;
  if (state & ShiftMask) w |= kMkShift;
  if (state & ControlMask) w |= kMkControl;
  return w;
}

}  // namespace

void X11Window::Dispatch(XEvent& e) {
  switch (e.type) {
    case KeyPress: {
      char buf[8] = {};
      KeySym sym = 0;
      const int n = XLookupString(&e.xkey, buf, sizeof buf, &sym, nullptr);
      keyShift_ = ShiftBitsOf(e.xkey.state);
      Send(kWmKeyDown, static_cast<std::uintptr_t>(VirtualKey(sym)), 0);
      if (!destroyed_ && n == 1) {
        Send(kWmChar, static_cast<unsigned char>(buf[0]), 0);
      }
      break;
    }
    case KeyRelease: {
      KeySym sym = XLookupKeysym(&e.xkey, 0);
      Send(kWmKeyUp, static_cast<std::uintptr_t>(VirtualKey(sym)), 0);
      break;
    }
    case ButtonPress:
    case ButtonRelease: {
      const bool down = e.type == ButtonPress;
      std::uint32_t message;
      std::uintptr_t bit;
      switch (e.xbutton.button) {
        case Button1:
          message = down ? kWmLButtonDown : kWmLButtonUp;
          bit = kMkLButton;
          break;
        case Button2:
          message = down ? kWmMButtonDown : kWmMButtonUp;
          bit = kMkMButton;
          break;
        case Button3:
          message = down ? kWmRButtonDown : kWmRButtonUp;
          bit = kMkRButton;
          break;
        default:
          return;  // wheel steps are not clicks
      }
      // As on Windows, the bits tell the buttons held after the event.
      std::uintptr_t keys = MouseKeysOf(e.xbutton.state);
      keys = down ? (keys | bit) : (keys & ~bit);
      Send(message, keys, MakeMouseLParam(e.xbutton.x, e.xbutton.y));
      break;
    }
    case MotionNotify:
      Send(kWmMouseMove, MouseKeysOf(e.xmotion.state), MakeMouseLParam(e.xmotion.x, e.xmotion.y));
      break;
    case ConfigureNotify:
      if (host_ && e.xconfigure.window == host_) {
        // The host was resized: fill it again. Our own ConfigureNotify then tells the form.
        XResizeWindow(e.xconfigure.display, window_,
                      static_cast<unsigned>(std::max(e.xconfigure.width, 1)),
                      static_cast<unsigned>(std::max(e.xconfigure.height, 1)));
        XFlush(e.xconfigure.display);
      } else if (e.xconfigure.window == window_ &&
                 (e.xconfigure.width != size_.w || e.xconfigure.height != size_.h)) {
        size_ = Size{e.xconfigure.width, e.xconfigure.height};
        events_.OnResize(size_);
      }
      break;
    case Expose:
      presenter_.Invalidate();
      if (e.xexpose.count == 0) events_.OnPaint();
      break;
    case ClientMessage:
      if (static_cast<Atom>(e.xclient.data.l[0]) == display_.WmDelete()) events_.OnCloseRequest();
      break;
    case DestroyNotify:
      if (e.xdestroywindow.window == window_) {
        // The parent went away and took this window with it.
        destroyed_ = true;
        display_.windows.erase(window_);
        if (host_) display_.hosts.erase(host_);
        events_.OnCloseRequest();
      }
      break;
    default:
      break;
  }
}

}  // namespace dbx::x11
