// Puts a form's pixels on a window. Through shared memory (MIT-SHM) when the server offers it:
// the presenter keeps its own copy of what the window shows in a segment the server reads, copies
// in only the rows and columns that differ from it, and sends only their bounding rectangle; else
// (a remote display, no extension, no shared memory) the given rectangle goes over the socket.
#pragma once

#include <X11/Xlib.h>
#include <X11/extensions/XShm.h>

#include "core/platform.h"

namespace dbx::x11 {

class FramePresenter {
 public:
  FramePresenter() = default;
  ~FramePresenter() { Release(); }
  FramePresenter(const FramePresenter&) = delete;
  FramePresenter& operator=(const FramePresenter&) = delete;

  // Draws `dirty` of `pixels` at the same place of `window`.
  void Put(Display* d, ::Window window, GC gc, const SurfaceView& pixels, Rect dirty);
  // Frees the shared segment (before the window or the display goes away).
  void Release();
  // The window lost what it showed (exposed, mapped): the next frame is sent whole.
  void Invalidate() { wholeNext_ = true; }
  // True while frames go through shared memory.
  bool Shared() const { return image_ != nullptr; }

 private:
  bool EnsureShared(Display* d, int width, int height);
  void PutOverSocket(Display* d, ::Window window, GC gc, const SurfaceView& pixels, Rect r);

  Display* display_ = nullptr;
  XShmSegmentInfo segment_{};
  XImage* image_ = nullptr;
  bool sharedFailed_ = false;
  bool wholeNext_ = true;
  bool pending_ = false;  // a put from the segment that the server may not have finished
};

// The bounding rectangle of the pixels of `area` where `from` differs from `to` (same size),
// copying those rows into `to` on the way. Empty when nothing differs.
Rect CopyChanged(const SurfaceView& from, const SurfaceView& to, Rect area);

}  // namespace dbx::x11
