#include "core/surface.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <utility>

namespace dbx {
namespace {

// Buffers on both sides of the huge-page threshold are allocated and freed with their own
// alignment (the sanitizer build reports a mismatched free), and keep their pixels.
TEST(Surface, BuffersAcrossTheHugePageThresholdKeepTheirPixels) {
  const struct {
    int w, h;
  } sizes[] = {{2, 1}, {724, 724}, {725, 725}, {3840, 2160}, {16, 16}, {1024, 512}, {0, 0}};
  Surface s;
  for (const auto& size : sizes) {
    s.Resize(size.w, size.h, 0x123456u);
    const std::size_t bytes = static_cast<std::size_t>(size.w) * size.h * sizeof(Pixel);
    if (bytes >= PixelAllocator<Pixel>::kHugeBytes) {
      EXPECT_EQ(reinterpret_cast<std::uintptr_t>(s.data()) % PixelAllocator<Pixel>::kHugeBytes, 0u)
          << size.w << "x" << size.h;
    }
    if (s.Empty()) continue;
    s.At(size.w - 1, size.h - 1) = 0xABCDEFu;
    Surface copy = s.Clone();
    Surface moved = std::move(copy);
    EXPECT_EQ(moved.At(0, 0), 0x123456u);
    EXPECT_EQ(moved.At(size.w - 1, size.h - 1), 0xABCDEFu);
  }
}

}  // namespace
}  // namespace dbx
