// Puts a form's pixels on a window: the changed rectangle of a surface, copied to the X server.
#pragma once

#include <X11/Xlib.h>

#include "core/platform.h"

namespace dbx::x11 {

class FramePresenter {
 public:
  // Draws `dirty` of `pixels` at the same place of `window`.
  void Put(Display* d, ::Window window, GC gc, const SurfaceView& pixels, Rect dirty);
};

}  // namespace dbx::x11
