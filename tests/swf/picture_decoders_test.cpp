// PNG and GIF pictures as movies hold and load them: every PNG colour type and depth, plain and
// interlaced, with transparency; GIF images on their screen, with growing and full code tables.
#include "swf/format/picture_decoders.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "test_support.h"

namespace dbx::swf {
namespace {

constexpr std::size_t kRoom = 1u << 20;

std::uint32_t Premul(std::uint32_t r, std::uint32_t g, std::uint32_t b, std::uint32_t a) {
  return (a << 24) | (((r * a + 127) / 255) << 16) | (((g * a + 127) / 255) << 8) |
         ((b * a + 127) / 255);
}

// The 8-bit value of a sample at `depth` bits, as a viewer shows it.
std::uint32_t Scale(std::uint32_t v, int depth) {
  return depth == 16 ? v >> 8 : v * 255 / ((1u << depth) - 1);
}

TEST(PictureDecoders, EveryPngColourTypeAndDepthPlainAndInterlaced) {
  struct Case {
    int colorType, depth;
  };
  // An odd size, so that every interlace pass has a ragged edge and some rows pack partial bytes.
  const int w = 13, h = 11;
  for (const Case c : {Case{0, 1}, Case{0, 2}, Case{0, 4}, Case{0, 8}, Case{0, 16}, Case{2, 8},
                       Case{2, 16}, Case{3, 1}, Case{3, 2}, Case{3, 4}, Case{3, 8}, Case{4, 8},
                       Case{4, 16}, Case{6, 8}, Case{6, 16}}) {
    for (const bool interlaced : {false, true}) {
      SCOPED_TRACE("colour type " + std::to_string(c.colorType) + ", depth " +
                   std::to_string(c.depth) + (interlaced ? ", interlaced" : ""));
      swftest::PngSpec spec{w, h, c.colorType, c.depth, interlaced, {}, {}, {}};
      const std::uint32_t top = (1u << c.depth) - 1;
      // A palette picture's entries: entry i is (i * 7, 255 - i, i * 3), and entry 1 is half
      // transparent, entry 2 fully (the tRNS chunk lists the first three).
      if (c.colorType == 3) {
        for (std::uint32_t i = 0; i <= top; ++i)
          spec.palette.insert(spec.palette.end(),
                              {static_cast<std::uint8_t>(i * 7), static_cast<std::uint8_t>(255 - i),
                               static_cast<std::uint8_t>(i * 3)});
        spec.transparency = {255, 128, 0};
      }
      std::vector<std::uint32_t> expected;
      for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
          // Samples that differ from pixel to pixel and reach both ends of the depth.
          auto v = [&](int k) {
            return static_cast<std::uint32_t>((x * 37 + y * 91 + k * 53) * 40503) % (top + 1);
          };
          switch (c.colorType) {
            case 0:
              spec.samples.push_back(v(0));
              expected.push_back(
                  Premul(Scale(v(0), c.depth), Scale(v(0), c.depth), Scale(v(0), c.depth), 255));
              break;
            case 2:
              spec.samples.insert(spec.samples.end(), {v(0), v(1), v(2)});
              expected.push_back(
                  Premul(Scale(v(0), c.depth), Scale(v(1), c.depth), Scale(v(2), c.depth), 255));
              break;
            case 3: {
              const std::uint32_t i = v(0);
              spec.samples.push_back(i);
              const std::uint32_t a = i == 1 ? 128 : i == 2 ? 0 : 255;
              expected.push_back(Premul((i * 7) & 255, 255 - i, (i * 3) & 255, a));
              break;
            }
            case 4:
              spec.samples.insert(spec.samples.end(), {v(0), v(1)});
              expected.push_back(Premul(Scale(v(0), c.depth), Scale(v(0), c.depth),
                                        Scale(v(0), c.depth), Scale(v(1), c.depth)));
              break;
            default:
              spec.samples.insert(spec.samples.end(), {v(0), v(1), v(2), v(3)});
              expected.push_back(Premul(Scale(v(0), c.depth), Scale(v(1), c.depth),
                                        Scale(v(2), c.depth), Scale(v(3), c.depth)));
              break;
          }
        }
      }
      const auto file = swftest::EncodePng(spec);
      const auto bmp = DecodePng(file.data(), file.size(), kRoom);
      ASSERT_TRUE(bmp);
      ASSERT_EQ(bmp->width, w);
      ASSERT_EQ(bmp->height, h);
      for (int i = 0; i < w * h; ++i)
        ASSERT_EQ(bmp->pixels[i], expected[i]) << "pixel " << i % w << ", " << i / w;
      EXPECT_EQ(bmp->opaque, std::all_of(expected.begin(), expected.end(),
                                         [](std::uint32_t p) { return p >> 24 == 255; }));
      // Too many pixels for the room given: nothing.
      EXPECT_FALSE(DecodePng(file.data(), file.size(), w * h - 1));
    }
  }
}

TEST(PictureDecoders, APngColourKeyMakesItsPixelsTransparent) {
  // Grey 8-bit with the key 100; RGB 16-bit with the key (1, 2, 3): only exact matches vanish.
  swftest::PngSpec grey{3, 1, 0, 8, false, {99, 100, 101}, {}, {0, 100}};
  auto file = swftest::EncodePng(grey);
  auto bmp = DecodePng(file.data(), file.size(), kRoom);
  ASSERT_TRUE(bmp);
  EXPECT_EQ(bmp->pixels, (std::vector<std::uint32_t>{0xFF636363u, 0, 0xFF656565u}));
  EXPECT_FALSE(bmp->opaque);
  swftest::PngSpec rgb{2, 1, 2, 16, false, {1, 2, 3, 1, 2, 0x4000}, {}, {0, 1, 0, 2, 0, 3}};
  file = swftest::EncodePng(rgb);
  bmp = DecodePng(file.data(), file.size(), kRoom);
  ASSERT_TRUE(bmp);
  EXPECT_EQ(bmp->pixels, (std::vector<std::uint32_t>{0, 0xFF000040u}));
}

TEST(PictureDecoders, DamagedPngsDecodeWhatTheyCanOrNothing) {
  swftest::PngSpec spec{4, 4, 2, 8, false, std::vector<std::uint32_t>(48, 200), {}, {}};
  const auto file = swftest::EncodePng(spec);
  // No header first, a palette picture without its palette, a depth the colour type lacks.
  auto broken = file;
  broken[12] = 'X';
  EXPECT_FALSE(DecodePng(broken.data(), broken.size(), kRoom));
  swftest::PngSpec noPalette{2, 2, 3, 8, false, {0, 0, 0, 0}, {}, {}};
  auto bad = swftest::EncodePng(noPalette);
  EXPECT_FALSE(DecodePng(bad.data(), bad.size(), kRoom));
  auto depth = file;
  depth[24] = 4;  // RGB at 4 bits
  EXPECT_FALSE(DecodePng(depth.data(), depth.size(), kRoom));
  // Every cut of the file: nothing, or a picture of the header's size.
  for (std::size_t n = 0; n < file.size(); ++n) {
    const auto bmp = DecodePng(file.data(), n, kRoom);
    if (bmp) {
      EXPECT_EQ(bmp->pixels.size(), 16u);
    }
  }
}

// 256 colours: colour i is (i, 255 - i, i / 2).
std::vector<std::uint8_t> Palette256() {
  std::vector<std::uint8_t> p;
  for (int i = 0; i < 256; ++i)
    p.insert(p.end(), {static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(255 - i),
                       static_cast<std::uint8_t>(i / 2)});
  return p;
}

TEST(PictureDecoders, GifCodeTablesGrowFillAndStartAgain) {
  // Noisy indexes, so that the codes grow to 12 bits and the table fills several times over.
  const int w = 160, h = 120;
  std::vector<std::uint8_t> indexes(static_cast<std::size_t>(w) * h);
  std::uint32_t seed = 12345;
  for (auto& i : indexes) {
    seed = seed * 1103515245u + 12345u;
    i = static_cast<std::uint8_t>((seed >> 16) % 23 + (seed >> 28));
  }
  const auto palette = Palette256();
  for (const bool keep : {false, true}) {
    SCOPED_TRACE(keep ? "a full table kept" : "a clear code when the table is full");
    swftest::GifSpec spec;
    spec.screenWidth = spec.width = w;
    spec.screenHeight = spec.height = h;
    spec.minCodeSize = 8;
    spec.palette = palette;
    spec.keepFullTable = keep;
    spec.indexes = indexes;
    const auto file = swftest::EncodeGif(spec);
    const auto bmp = DecodeGif(file.data(), file.size(), kRoom);
    ASSERT_TRUE(bmp);
    ASSERT_EQ(bmp->pixels.size(), indexes.size());
    for (std::size_t i = 0; i < indexes.size(); ++i) {
      const std::uint32_t c = indexes[i];
      ASSERT_EQ(bmp->pixels[i], 0xFF000000u | (c << 16) | ((255 - c) << 8) | (c / 2))
          << "pixel " << i;
    }
    EXPECT_TRUE(bmp->opaque);
  }
}

TEST(PictureDecoders, AGifImageSitsOnItsScreenInterlacedAndWithATransparentColour) {
  // A 2-colour local palette, an interlaced 6 x 10 image at (3, 2) on a 12 x 14 screen, colour 1
  // transparent.
  swftest::GifSpec spec;
  spec.screenWidth = 12;
  spec.screenHeight = 14;
  spec.left = 3;
  spec.top = 2;
  spec.width = 6;
  spec.height = 10;
  spec.palette = {10, 20, 30, 40, 50, 60};
  spec.localPalette = spec.interlaced = true;
  spec.transparent = 1;
  for (int y = 0; y < spec.height; ++y)
    for (int x = 0; x < spec.width; ++x) spec.indexes.push_back((x + 2 * y) % 3 == 0 ? 1 : 0);
  const auto file = swftest::EncodeGif(spec);
  const auto bmp = DecodeGif(file.data(), file.size(), kRoom);
  ASSERT_TRUE(bmp);
  ASSERT_EQ(bmp->width, 12);
  ASSERT_EQ(bmp->height, 14);
  for (int y = 0; y < 14; ++y) {
    for (int x = 0; x < 12; ++x) {
      const bool inside = x >= 3 && x < 9 && y >= 2 && y < 12;
      const bool shown = inside && spec.indexes[static_cast<std::size_t>(y - 2) * 6 + (x - 3)] == 0;
      ASSERT_EQ(bmp->pixels[static_cast<std::size_t>(y) * 12 + x], shown ? 0xFF0A141Eu : 0u)
          << x << ", " << y;
    }
  }
  EXPECT_FALSE(bmp->opaque);
  // Cut in its image data, the picture keeps its size; too large a screen gives nothing.
  for (std::size_t n = 13; n < file.size(); ++n) {
    const auto cut = DecodeGif(file.data(), n, kRoom);
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->pixels.size(), 12u * 14u);
  }
  EXPECT_FALSE(DecodeGif(file.data(), file.size(), 12 * 14 - 1));
}

TEST(PictureDecoders, APictureFileBecomesAMovieOfOneFrame) {
  swftest::PngSpec spec{5, 3, 6, 8, false, std::vector<std::uint32_t>(60, 255), {}, {}};
  const auto png = swftest::EncodePng(spec);
  const auto movie = PictureMovie(png.data(), png.size(), nullptr);
  ASSERT_TRUE(movie);
  EXPECT_EQ(movie->frame.xmax, 100);
  EXPECT_EQ(movie->frame.ymax, 60);
  ASSERT_EQ(movie->timeline.frames.size(), 1u);
  ASSERT_EQ(movie->timeline.frames[0].commands.size(), 1u);
  const auto* shape =
      std::get_if<Shape>(&movie->characters.at(*movie->timeline.frames[0].commands[0].character));
  ASSERT_NE(shape, nullptr);
  ASSERT_EQ(shape->fills.size(), 1u);
  EXPECT_EQ(shape->fills[0].kind, FillKind::kBitmap);
  // Not a picture, or JPEG data with no decoder to read it: no movie.
  const std::vector<std::uint8_t> text = {'h', 'e', 'l', 'l', 'o'};
  EXPECT_FALSE(PictureMovie(text.data(), text.size(), nullptr));
  const std::vector<std::uint8_t> jpeg = {0xFF, 0xD8, 0xFF, 0xE0, 0, 0};
  EXPECT_FALSE(PictureMovie(jpeg.data(), jpeg.size(), nullptr));
}

}  // namespace
}  // namespace dbx::swf
