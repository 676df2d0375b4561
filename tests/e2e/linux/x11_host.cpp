// A stand-in for a control panel's preview area: an X window of a given size that prints its id,
// then lists its children (position, size, mapped) on standard output once a second until killed.
#include <X11/Xlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  const int w = argc > 1 ? std::atoi(argv[1]) : 200;
  const int h = argc > 2 ? std::atoi(argv[2]) : 150;
  const int x = argc > 3 ? std::atoi(argv[3]) : 50;
  const int y = argc > 4 ? std::atoi(argv[4]) : 40;
  Display* d = XOpenDisplay(nullptr);
  if (!d) return 1;
  XSetWindowAttributes a{};
  a.background_pixel = 0xFFFFFF;
  a.override_redirect = True;
  const Window win =
      XCreateWindow(d, DefaultRootWindow(d), x, y, w, h, 0, CopyFromParent, InputOutput,
                    CopyFromParent, CWBackPixel | CWOverrideRedirect, &a);
  XMapWindow(d, win);
  XSync(d, False);
  std::printf("%lu\n", static_cast<unsigned long>(win));
  std::fflush(stdout);
  for (;;) {
    Window root, parent, *children = nullptr;
    unsigned n = 0;
    if (XQueryTree(d, win, &root, &parent, &children, &n)) {
      for (unsigned i = 0; i < n; ++i) {
        XWindowAttributes ca{};
        XGetWindowAttributes(d, children[i], &ca);
        std::printf("child %d %d %d %d %s\n", ca.x, ca.y, ca.width, ca.height,
                    ca.map_state == IsViewable ? "viewable" : "hidden");
      }
      if (children) XFree(children);
    }
    std::fflush(stdout);
    sleep(1);
  }
}
