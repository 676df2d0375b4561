#include "platform/imageio/image_io.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "platform/imageio/png_reader.h"

namespace dbx {
namespace {

std::vector<std::uint8_t> ReadFile(const std::string& name) {
  std::ifstream in(std::string(DBX_SEEDS) + "/" + name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Reference pictures written by another encoder: a 7x5 vertical gradient from red (top) to blue
// (bottom) in several BMP variants, a white 5x5 one-bit picture, and small JPEGs.
TEST(ImageIo, ReadsEveryBmpVariantOfTheReferenceFiles) {
  struct Case {
    const char* file;
    int w, h;
    bool gradient;
  };
  const Case cases[] = {{"bmp/rgb24.bmp", 7, 5, true},
                        {"bmp/pal4.bmp", 7, 5, true},
                        {"bmp/argb32.bmp", 6, 4, false},
                        {"bmp/mono.bmp", 5, 5, false},
                        {"bmp/rle8.bmp", 9, 3, false}};
  for (const auto& c : cases) {
    const auto bytes = ReadFile(c.file);
    ASSERT_FALSE(bytes.empty()) << c.file;
    const auto s = DecodePicture(bytes.data(), bytes.size());
    ASSERT_TRUE(s.has_value()) << c.file;
    EXPECT_EQ(s->size(), (Size{c.w, c.h})) << c.file;
    if (c.gradient) {
      // Top row mostly red, bottom row mostly blue: catches flipped rows and swapped channels.
      EXPECT_GT(PixelR(s->At(3, 0)), 200) << c.file;
      EXPECT_LT(PixelB(s->At(3, 0)), 60) << c.file;
      EXPECT_GT(PixelB(s->At(3, c.h - 1)), 200) << c.file;
      EXPECT_LT(PixelR(s->At(3, c.h - 1)), 60) << c.file;
    }
  }
  const auto mono = ReadFile("bmp/mono.bmp");
  const auto m = DecodeBmp(mono.data(), mono.size());
  ASSERT_TRUE(m);
  for (int y = 0; y < 5; ++y) {
    for (int x = 0; x < 5; ++x) EXPECT_EQ(m->At(x, y), 0xFFFFFFu);
  }
  const auto rle = ReadFile("bmp/rle8.bmp");
  const auto r = DecodeBmp(rle.data(), rle.size());
  ASSERT_TRUE(r);
  EXPECT_GT(PixelG(r->At(4, 0)), PixelG(r->At(4, 2)));  // white at the top, black at the bottom
  const auto argb = ReadFile("bmp/argb32.bmp");
  const auto a = DecodeBmp(argb.data(), argb.size());
  ASSERT_TRUE(a);
  EXPECT_EQ(a->At(0, 0) & 0xFF000000u, 0u);  // the fourth byte stays zero
}

TEST(ImageIo, ReadsJpegIntoTheSurfaceLayout) {
  for (const char* file : {"picture/small.jpg", "picture/progressive.jpg"}) {
    const auto bytes = ReadFile(file);
    const auto s = DecodePicture(bytes.data(), bytes.size());
    ASSERT_TRUE(s.has_value()) << file;
    EXPECT_EQ(s->size(), (Size{6, 4})) << file;
    // Green at the top, yellow at the bottom: red grows downwards, blue stays low.
    EXPECT_LT(PixelR(s->At(2, 0)), PixelR(s->At(2, 3))) << file;
    EXPECT_LT(PixelB(s->At(2, 3)), 80) << file;
    EXPECT_EQ(s->At(2, 2) & 0xFF000000u, 0u) << file;
  }
}

TEST(ImageIo, DamagedAndAbsurdFilesAreRefusedOrPartlyShown) {
  auto bytes = ReadFile("bmp/rgb24.bmp");
  // Cut in the pixel data: the rows that are there are shown, the rest stay black.
  auto cut = bytes;
  cut.resize(bytes.size() - 2 * 24);
  const auto partial = DecodeBmp(cut.data(), cut.size());
  ASSERT_TRUE(partial);
  EXPECT_EQ(partial->At(3, 0), 0u);  // the top rows come last in a bottom-up file
  EXPECT_NE(partial->At(3, 4), 0u);
  // Cut in the header: refused.
  for (std::size_t n : {0u, 1u, 2u, 13u, 20u, 30u, 53u}) {
    EXPECT_FALSE(DecodePicture(bytes.data(), n)) << n;
  }
  // A header that claims 100000 x 100000 pixels.
  auto huge = bytes;
  const std::uint32_t side = 100000;
  for (int i = 0; i < 4; ++i) {
    huge[18 + i] = static_cast<std::uint8_t>(side >> (8 * i));
    huge[22 + i] = static_cast<std::uint8_t>(side >> (8 * i));
  }
  EXPECT_FALSE(DecodeBmp(huge.data(), huge.size()));
  // Zero and negative widths, an unknown depth, an unknown compression.
  for (auto [offset, value] :
       std::vector<std::pair<int, std::uint8_t>>{{18, 0}, {21, 0x80}, {28, 7}, {30, 9}}) {
    auto bad = bytes;
    if (offset == 18) std::fill(bad.begin() + 18, bad.begin() + 22, 0);
    bad[offset] = value;
    EXPECT_FALSE(DecodeBmp(bad.data(), bad.size())) << offset;
  }
  // A JPEG whose frame header claims 20000 x 15000 pixels is refused before any pixel is held.
  auto big = ReadFile("picture/small.jpg");
  bool patched = false;
  for (std::size_t i = 0; i + 8 < big.size(); ++i) {
    if (big[i] == 0xFF && (big[i + 1] == 0xC0 || big[i + 1] == 0xC2)) {
      big[i + 5] = 15000 >> 8, big[i + 6] = 15000 & 0xFF;  // height
      big[i + 7] = 20000 >> 8, big[i + 8] = 20000 & 0xFF;  // width
      patched = true;
      break;
    }
  }
  ASSERT_TRUE(patched);
  EXPECT_FALSE(DecodePicture(big.data(), big.size()));
  const std::vector<std::uint8_t> garbage(1000, 0xAB);
  EXPECT_FALSE(DecodePicture(garbage.data(), garbage.size()));
  auto jpeg = ReadFile("picture/small.jpg");
  jpeg.resize(jpeg.size() / 3);
  const auto j = DecodePicture(jpeg.data(), jpeg.size());  // libjpeg fills a cut file with grey
  if (j) {
    EXPECT_EQ(j->size(), (Size{6, 4}));
  }
  EXPECT_FALSE(DecodePicture(nullptr, 0));
}

TEST(ImageIo, LoadsFromFilesAndRefusesMissingOnes) {
  FileImageLoader loader;
  EXPECT_TRUE(loader.Load(std::string(DBX_SEEDS) + "/bmp/rgb24.bmp"));
  EXPECT_FALSE(loader.Load(std::string(DBX_SEEDS) + "/no-such.bmp"));
  EXPECT_FALSE(loader.Load(std::string(DBX_SEEDS)));  // a folder
}

// A PNG file of the given header fields, palette (RGB triples) and filtered rows (each starting
// with its filter byte).
std::vector<std::uint8_t> MakePng(int w, int h, int depth, int colorType,
                                  const std::vector<std::uint8_t>& palette,
                                  const std::vector<std::uint8_t>& rows) {
  std::vector<std::uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  auto be32 = [](std::vector<std::uint8_t>& v, std::uint32_t x) {
    for (int shift : {24, 16, 8, 0}) v.push_back(static_cast<std::uint8_t>(x >> shift));
  };
  auto chunk = [&](const char* type, const std::vector<std::uint8_t>& data) {
    be32(out, static_cast<std::uint32_t>(data.size()));
    std::vector<std::uint8_t> body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    out.insert(out.end(), body.begin(), body.end());
    be32(out, static_cast<std::uint32_t>(crc32(0, body.data(), static_cast<uInt>(body.size()))));
  };
  std::vector<std::uint8_t> ihdr;
  be32(ihdr, static_cast<std::uint32_t>(w));
  be32(ihdr, static_cast<std::uint32_t>(h));
  for (int v : {depth, colorType, 0, 0, 0}) ihdr.push_back(static_cast<std::uint8_t>(v));
  chunk("IHDR", ihdr);
  if (!palette.empty()) chunk("PLTE", palette);
  std::vector<std::uint8_t> z(compressBound(static_cast<uLong>(rows.size())));
  uLongf zlen = static_cast<uLongf>(z.size());
  compress(z.data(), &zlen, rows.data(), static_cast<uLong>(rows.size()));
  z.resize(zlen);
  chunk("IDAT", z);
  chunk("IEND", {});
  return out;
}

TEST(PngReader, ReadsGreyAndPalettePicturesOfEveryDepth) {
  const std::vector<std::uint8_t> rgbw = {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255};
  const Pixel red = MakePixel(255, 0, 0), green = MakePixel(0, 255, 0), blue = MakePixel(0, 0, 255),
              white = MakePixel(255, 255, 255), black = MakePixel(0, 0, 0);
  struct Case {
    const char* name;
    int w, h, depth, colorType;
    std::vector<std::uint8_t> palette, rows;
    std::vector<Pixel> expected;  // row by row
  };
  const Case cases[] = {
      // Indices 0 1 2 / 3 0 1, the second row with the "up" filter (differences from above).
      {"8-bit palette",
       3,
       2,
       8,
       3,
       rgbw,
       {0, 0, 1, 2, 2, 3, 255, 255},
       {red, green, blue, white, red, green}},
      // Ten pixels of 1 bit: 1010000011 then 0101111100, the second row with the "sub" filter
      // (each byte less the one before it).
      {"1-bit palette",
       10,
       2,
       1,
       3,
       {0, 0, 0, 255, 255, 255},
       {0, 0xA0, 0xC0, 1, 0x5F, 0xA1},
       {white, black, white, black, black, black, black, black, white, white,
        black, white, black, white, white, white, white, white, black, black}},
      // Indices 3 0 2 1 packed two bits each; an index past the palette is black.
      {"2-bit palette",
       4,
       1,
       2,
       3,
       {255, 0, 0, 0, 255, 0, 0, 0, 255},
       {0, 0xC9},
       {black, red, blue, green}},
      {"4-bit palette", 3, 1, 4, 3, rgbw, {0, 0x32, 0x10}, {white, blue, green}},
      {"8-bit grey", 2, 1, 8, 0, {}, {0, 7, 200}, {MakePixel(7, 7, 7), MakePixel(200, 200, 200)}},
      {"grey and alpha",
       2,
       1,
       8,
       4,
       {},
       {0, 9, 0, 90, 255},
       {MakePixel(9, 9, 9), MakePixel(90, 90, 90)}},
  };
  const auto path = std::filesystem::temp_directory_path() / "dbx_png_reader_test.png";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto bytes = MakePng(c.w, c.h, c.depth, c.colorType, c.palette, c.rows);
    {
      std::ofstream f(path, std::ios::binary);
      f.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    }
    const auto s = ReadPng(path.string());
    ASSERT_TRUE(s);
    ASSERT_EQ(s->width(), c.w);
    ASSERT_EQ(s->height(), c.h);
    for (int y = 0; y < c.h; ++y)
      for (int x = 0; x < c.w; ++x)
        EXPECT_EQ(s->At(x, y) & 0xFFFFFF,
                  c.expected[static_cast<std::size_t>(y * c.w + x)] & 0xFFFFFF)
            << x << "," << y;
  }
  // A palette picture without its palette, and a depth its colour type does not allow.
  for (const auto& bytes : {MakePng(2, 1, 8, 3, {}, {0, 0, 0}), MakePng(2, 1, 4, 2, {}, {0, 0})}) {
    {
      std::ofstream f(path, std::ios::binary);
      f.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    }
    EXPECT_FALSE(ReadPng(path.string()));
  }
  std::filesystem::remove(path);
}

}  // namespace
}  // namespace dbx
