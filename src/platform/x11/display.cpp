#include "platform/x11/display.h"

#include <chrono>

namespace dbx::x11 {
namespace {

int OnXError(Display*, XErrorEvent* e) {
  LastXError() = e->error_code;
  return 0;
}

}  // namespace

int& LastXError() {
  static int last = 0;
  return last;
}

std::int64_t MonotonicMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

X11Display::~X11Display() {
  if (display_) XCloseDisplay(display_);
}

Display* X11Display::Get() {
  if (!display_ && !failed_) {
    display_ = XOpenDisplay(nullptr);
    failed_ = display_ == nullptr;
    if (display_) {
      XSetErrorHandler(OnXError);
      wmDelete_ = XInternAtom(display_, "WM_DELETE_WINDOW", False);
    }
  }
  return display_;
}

}  // namespace dbx::x11
