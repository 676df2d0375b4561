// Pixel buffers shared by every part of the program: pictures, picture surfaces, movie frames.
//
// One pixel format everywhere: 32 bits, 0x00RRGGBB as a number, so memory order B, G, R, X. A
// top-down 32-bpp DIB on Windows and a depth-24 ZPixmap on X11 take it without conversion. Colour
// values of the settings (0x00BBGGRR) are converted at the edge with ColorToPixel/PixelToColor.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace dbx {

using Pixel = std::uint32_t;

struct Point {
  int x = 0;
  int y = 0;
  friend bool operator==(const Point&, const Point&) = default;
};

struct Size {
  int w = 0;
  int h = 0;
  friend bool operator==(const Size&, const Size&) = default;
};

struct Rect {
  int x = 0;
  int y = 0;
  int w = 0;
  int h = 0;
  bool Empty() const { return w <= 0 || h <= 0; }
  friend bool operator==(const Rect&, const Rect&) = default;
};

constexpr Pixel MakePixel(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  return (Pixel{r} << 16) | (Pixel{g} << 8) | Pixel{b};
}
constexpr std::uint8_t PixelR(Pixel p) {
  return static_cast<std::uint8_t>(p >> 16);
}
constexpr std::uint8_t PixelG(Pixel p) {
  return static_cast<std::uint8_t>(p >> 8);
}
constexpr std::uint8_t PixelB(Pixel p) {
  return static_cast<std::uint8_t>(p);
}

// A colour value 0x00BBGGRR (red in the lowest byte) as a pixel, and back.
constexpr Pixel ColorToPixel(std::int32_t color) {
  const auto c = static_cast<std::uint32_t>(color);
  return MakePixel(static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(c >> 8),
                   static_cast<std::uint8_t>(c >> 16));
}
constexpr std::int32_t PixelToColor(Pixel p) {
  return static_cast<std::int32_t>(PixelR(p) | (PixelG(p) << 8) | (PixelB(p) << 16));
}

// A non-owning view of pixels with a stride (in pixels). Cheap to copy.
class SurfaceView {
 public:
  SurfaceView() = default;
  SurfaceView(Pixel* data, int width, int height, std::ptrdiff_t stride)
      : data_(data), width_(width), height_(height), stride_(stride) {}

  int width() const { return width_; }
  int height() const { return height_; }
  std::ptrdiff_t stride() const { return stride_; }
  Pixel* data() const { return data_; }
  Pixel* Row(int y) const { return data_ + y * stride_; }
  bool Contains(int x, int y) const { return x >= 0 && y >= 0 && x < width_ && y < height_; }
  Pixel& At(int x, int y) const { return Row(y)[x]; }

 private:
  Pixel* data_ = nullptr;
  int width_ = 0;
  int height_ = 0;
  std::ptrdiff_t stride_ = 0;
};

// The allocator of pixel buffers. A full-screen picture at 3840 × 2160 spans 8100 pages of 4 KiB,
// and every whole-frame pass (a copy, a blend, a transition step) walks two or three such pictures:
// buffers of 2 MiB and more are aligned to 2 MiB and, on Linux, asked to be backed by huge pages,
// which takes the page walks out of those passes (about a tenth of a 4K cross-fade's time).
// Smaller buffers are allocated as usual.
template <class T>
struct PixelAllocator {
  using value_type = T;
  static constexpr std::size_t kHugeBytes = std::size_t{2} << 20;

  PixelAllocator() = default;
  template <class U>
  PixelAllocator(const PixelAllocator<U>&) noexcept {}  // NOLINT(google-explicit-constructor)

  T* allocate(std::size_t n) {
    if (n > SIZE_MAX / sizeof(T)) throw std::bad_array_new_length();
    const std::size_t bytes = n * sizeof(T);
    if (bytes < kHugeBytes) return static_cast<T*>(::operator new(bytes));
    const std::size_t rounded = (bytes + kHugeBytes - 1) / kHugeBytes * kHugeBytes;
    void* p = ::operator new (rounded, std::align_val_t{kHugeBytes});
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    // Advice only: without transparent huge pages the buffer keeps small pages.
    madvise(p, rounded, MADV_HUGEPAGE);
#endif
    return static_cast<T*>(p);
  }
  void deallocate(T* p, std::size_t n) noexcept {
    if (n * sizeof(T) < kHugeBytes) {
      ::operator delete(p);
    } else {
      ::operator delete (p, std::align_val_t{kHugeBytes});
    }
  }
  template <class U>
  friend bool operator==(const PixelAllocator&, const PixelAllocator<U>&) noexcept {
    return true;
  }
};

// Owns its pixels; move-only so that a full-screen buffer is never copied by accident.
class Surface {
 public:
  Surface() = default;
  Surface(int width, int height, Pixel fill = 0) { Resize(width, height, fill); }
  Surface(Surface&&) noexcept = default;
  Surface& operator=(Surface&&) noexcept = default;
  Surface(const Surface&) = delete;
  Surface& operator=(const Surface&) = delete;

  // Negative sizes count as zero. Contents are reset to `fill`.
  void Resize(int width, int height, Pixel fill = 0) {
    width_ = width > 0 ? width : 0;
    height_ = height > 0 ? height : 0;
    pixels_.assign(static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_), fill);
  }
  Surface Clone() const {
    Surface s;
    s.width_ = width_;
    s.height_ = height_;
    s.pixels_ = pixels_;
    return s;
  }

  int width() const { return width_; }
  int height() const { return height_; }
  Size size() const { return {width_, height_}; }
  bool Empty() const { return width_ == 0 || height_ == 0; }
  Pixel* data() { return pixels_.data(); }
  const Pixel* data() const { return pixels_.data(); }
  Pixel& At(int x, int y) { return pixels_[static_cast<std::size_t>(y) * width_ + x]; }
  Pixel At(int x, int y) const { return pixels_[static_cast<std::size_t>(y) * width_ + x]; }
  SurfaceView View() { return {pixels_.data(), width_, height_, width_}; }
  // Read-only users take a view too; they promise not to write through it.
  SurfaceView View() const { return {const_cast<Pixel*>(pixels_.data()), width_, height_, width_}; }

 private:
  std::vector<Pixel, PixelAllocator<Pixel>> pixels_;
  int width_ = 0;
  int height_ = 0;
};

}  // namespace dbx
