#include "platform/x11/presenter.h"

#include <X11/Xutil.h>

#include <algorithm>

namespace dbx::x11 {

void FramePresenter::Put(Display* d, ::Window window, GC gc, const SurfaceView& pixels,
                         Rect dirty) {
  if (!pixels.data()) return;
  const int x0 = std::max(dirty.x, 0), y0 = std::max(dirty.y, 0);
  const int x1 = std::min(dirty.x + dirty.w, pixels.width());
  const int y1 = std::min(dirty.y + dirty.h, pixels.height());
  if (x1 <= x0 || y1 <= y0) return;
  Visual* visual = DefaultVisual(d, DefaultScreen(d));
  const int depth = DefaultDepth(d, DefaultScreen(d));
  // The image points straight at the surface's pixels (0x00RRGGBB is the ZPixmap layout of a
  // 24-bit TrueColor visual); Xlib only reads them.
  XImage* image = XCreateImage(
      d, visual, static_cast<unsigned>(depth), ZPixmap, 0, reinterpret_cast<char*>(pixels.data()),
      static_cast<unsigned>(pixels.width()), static_cast<unsigned>(pixels.height()), 32,
      static_cast<int>(pixels.stride() * 4));
  if (!image) return;
  XPutImage(d, window, gc, image, x0, y0, x0, y0, static_cast<unsigned>(x1 - x0),
            static_cast<unsigned>(y1 - y0));
  image->data = nullptr;
  XDestroyImage(image);
  XFlush(d);
}

}  // namespace dbx::x11
