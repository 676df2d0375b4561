#include "platform/x11/presenter.h"

#include <X11/Xutil.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/x11/display.h"

namespace dbx::x11 {

Rect CopyChanged(const SurfaceView& from, const SurfaceView& to, Rect area) {
  int left = area.x + area.w, right = area.x, top = -1, bottom = -1;
  const auto bytes = static_cast<std::size_t>(area.w) * sizeof(Pixel);
  for (int y = area.y; y < area.y + area.h; ++y) {
    const Pixel* src = from.Row(y) + area.x;
    Pixel* dst = to.Row(y) + area.x;
    if (std::memcmp(src, dst, bytes) == 0) continue;
    // The changed columns of this row widen the rectangle; the row is copied whole.
    int l = 0;
    while (src[l] == dst[l]) ++l;
    int r = area.w - 1;
    while (src[r] == dst[r]) --r;
    left = std::min(left, area.x + l);
    right = std::max(right, area.x + r + 1);
    if (top < 0) top = y;
    bottom = y + 1;
    std::memcpy(dst, src, bytes);
  }
  if (top < 0) return {};
  return {left, top, right - left, bottom - top};
}

void FramePresenter::Release() {
  if (!image_) return;
  pending_ = false;
  if (display_) {
    XShmDetach(display_, &segment_);
    XSync(display_, False);
  }
  XDestroyImage(image_);  // frees the XImage, not the segment
  ::shmdt(segment_.shmaddr);
  image_ = nullptr;
  segment_ = XShmSegmentInfo{};
}

bool FramePresenter::EnsureShared(Display* d, int width, int height) {
  // DAZZLEBOX_NO_SHM=1 sends every frame over the socket (for comparisons and checks).
  if (!sharedFailed_ && std::getenv("DAZZLEBOX_NO_SHM")) sharedFailed_ = true;
  if (sharedFailed_) return false;
  if (image_ && image_->width == width && image_->height == height) return true;
  Release();
  display_ = d;
  const int screen = DefaultScreen(d);
  if (!XShmQueryExtension(d) || DefaultDepth(d, screen) < 24) {
    sharedFailed_ = true;
    return false;
  }
  image_ = XShmCreateImage(d, DefaultVisual(d, screen),
                           static_cast<unsigned>(DefaultDepth(d, screen)), ZPixmap, nullptr,
                           &segment_, static_cast<unsigned>(width), static_cast<unsigned>(height));
  if (!image_ || image_->bits_per_pixel != 32) {
    if (image_) XDestroyImage(image_);
    image_ = nullptr;
    sharedFailed_ = true;
    return false;
  }
  const auto size = static_cast<std::size_t>(image_->bytes_per_line) * image_->height;
  segment_.shmid = ::shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
  if (segment_.shmid < 0) {
    XDestroyImage(image_);
    image_ = nullptr;
    sharedFailed_ = true;
    return false;
  }
  segment_.shmaddr = image_->data = static_cast<char*>(::shmat(segment_.shmid, nullptr, 0));
  segment_.readOnly = True;
  LastXError() = 0;
  const bool attached = segment_.shmaddr != reinterpret_cast<char*>(-1) &&
                        XShmAttach(d, &segment_) && (XSync(d, False), LastXError() == 0);
  // Marked for removal now: it goes away once both sides have detached, even after a crash.
  ::shmctl(segment_.shmid, IPC_RMID, nullptr);
  if (!attached) {
    // A display on another machine cannot read our memory.
    if (segment_.shmaddr != reinterpret_cast<char*>(-1)) ::shmdt(segment_.shmaddr);
    image_->data = nullptr;
    XDestroyImage(image_);
    image_ = nullptr;
    segment_ = XShmSegmentInfo{};
    sharedFailed_ = true;
    return false;
  }
  // What the window shows is unknown: the first frame is sent whole.
  std::memset(image_->data, 0, size);
  wholeNext_ = true;
  return true;
}

void FramePresenter::Put(Display* d, ::Window window, GC gc, const SurfaceView& pixels,
                         Rect dirty) {
  if (!pixels.data()) return;
  const int x0 = std::max(dirty.x, 0), y0 = std::max(dirty.y, 0);
  const int x1 = std::min(dirty.x + dirty.w, pixels.width());
  const int y1 = std::min(dirty.y + dirty.h, pixels.height());
  if (x1 <= x0 || y1 <= y0) return;
  const Rect area{x0, y0, x1 - x0, y1 - y0};
  if (!EnsureShared(d, pixels.width(), pixels.height())) {
    PutOverSocket(d, window, gc, pixels, area);
    return;
  }
  if (pending_) {
    // The server may still be reading the last frame from the segment: wait until it has, just
    // before writing the next one (by then it has usually long finished).
    XSync(d, False);
    pending_ = false;
  }
  const SurfaceView shown(reinterpret_cast<Pixel*>(image_->data), image_->width, image_->height,
                          image_->bytes_per_line / static_cast<int>(sizeof(Pixel)));
  Rect changed = CopyChanged(pixels, shown, area);
  if (wholeNext_) {
    // The window's own content is not what the copy holds (a new window, an exposure).
    changed = area;
    wholeNext_ = false;
  }
  if (changed.Empty()) return;
  XShmPutImage(d, window, gc, image_, changed.x, changed.y, changed.x, changed.y,
               static_cast<unsigned>(changed.w), static_cast<unsigned>(changed.h), False);
  XFlush(d);
  pending_ = true;
}

void FramePresenter::PutOverSocket(Display* d, ::Window window, GC gc, const SurfaceView& pixels,
                                   Rect r) {
  Visual* visual = DefaultVisual(d, DefaultScreen(d));
  const int depth = DefaultDepth(d, DefaultScreen(d));
  // The image points straight at the surface's pixels (0x00RRGGBB is the ZPixmap layout of a
  // 24-bit TrueColor visual); Xlib only reads them.
  XImage* image = XCreateImage(
      d, visual, static_cast<unsigned>(depth), ZPixmap, 0, reinterpret_cast<char*>(pixels.data()),
      static_cast<unsigned>(pixels.width()), static_cast<unsigned>(pixels.height()), 32,
      static_cast<int>(pixels.stride() * 4));
  if (!image) return;
  XPutImage(d, window, gc, image, r.x, r.y, r.x, r.y, static_cast<unsigned>(r.w),
            static_cast<unsigned>(r.h));
  image->data = nullptr;
  XDestroyImage(image);
  XFlush(d);
}

}  // namespace dbx::x11
