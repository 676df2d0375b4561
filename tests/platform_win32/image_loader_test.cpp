// Pictures through WIC: exact pixels from BMP, JPEG through the system's codec, and bad input.
#include "platform/win32/image_loader.h"

#include <gtest/gtest.h>
#include <objbase.h>
#include <wincodec.h>

#include <cstring>
#include <fstream>
#include <vector>

namespace dbx::win32 {
namespace {

void Put16(std::vector<std::uint8_t>& out, std::uint32_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

// A 24-bit bottom-up BMP of the given rows (top row first), or only its header when `claimWidth`
// and `claimHeight` say more than the pixels hold.
std::vector<std::uint8_t> MakeBmp(const std::vector<std::vector<Pixel>>& rows,
                                  std::int32_t claimWidth = 0, std::int32_t claimHeight = 0) {
  const std::int32_t width = claimWidth ? claimWidth : static_cast<std::int32_t>(rows[0].size());
  const std::int32_t height = claimHeight ? claimHeight : static_cast<std::int32_t>(rows.size());
  const std::uint32_t rowBytes = (static_cast<std::uint32_t>(width) * 3 + 3) & ~3u;
  std::vector<std::uint8_t> out = {'B', 'M'};
  Put32(out, 54 + rowBytes * static_cast<std::uint32_t>(height));
  Put32(out, 0);
  Put32(out, 54);
  Put32(out, 40);
  Put32(out, static_cast<std::uint32_t>(width));
  Put32(out, static_cast<std::uint32_t>(height));
  Put16(out, 1);
  Put16(out, 24);
  for (int i = 0; i < 6; ++i) Put32(out, 0);
  if (claimWidth || claimHeight) return out;
  for (auto row = rows.rbegin(); row != rows.rend(); ++row) {
    std::size_t written = 0;
    for (const Pixel p : *row) {
      out.insert(out.end(), {PixelB(p), PixelG(p), PixelR(p)});
      written += 3;
    }
    while (written++ % 4) out.push_back(0);
  }
  return out;
}

// A solid-colour JPEG written by the system's own encoder.
std::vector<std::uint8_t> MakeJpeg(int width, int height, Pixel colour) {
  std::vector<std::uint8_t> bytes;
  EXPECT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
  IWICImagingFactory* factory = nullptr;
  IStream* stream = nullptr;
  IWICBitmapEncoder* encoder = nullptr;
  IWICBitmapFrameEncode* frame = nullptr;
  std::vector<Pixel> pixels(static_cast<std::size_t>(width) * height, colour);
  if (SUCCEEDED(::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IWICImagingFactory, reinterpret_cast<void**>(&factory))) &&
      SUCCEEDED(::CreateStreamOnHGlobal(nullptr, TRUE, &stream)) &&
      SUCCEEDED(factory->CreateEncoder(GUID_ContainerFormatJpeg, nullptr, &encoder)) &&
      SUCCEEDED(encoder->Initialize(stream, WICBitmapEncoderNoCache)) &&
      SUCCEEDED(encoder->CreateNewFrame(&frame, nullptr)) &&
      SUCCEEDED(frame->Initialize(nullptr)) && SUCCEEDED(frame->SetSize(width, height))) {
    WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
    frame->SetPixelFormat(&format);
    // Convert our BGRX pixels to the format the encoder settled on (24bpp BGR).
    std::vector<std::uint8_t> rgb;
    for (const Pixel p : pixels) rgb.insert(rgb.end(), {PixelB(p), PixelG(p), PixelR(p)});
    if (SUCCEEDED(
            frame->WritePixels(height, width * 3, static_cast<UINT>(rgb.size()), rgb.data())) &&
        SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit())) {
      HGLOBAL memory = nullptr;
      if (SUCCEEDED(::GetHGlobalFromStream(stream, &memory))) {
        STATSTG stat{};
        stream->Stat(&stat, STATFLAG_NONAME);
        const auto* data = static_cast<const std::uint8_t*>(::GlobalLock(memory));
        bytes.assign(data, data + stat.cbSize.QuadPart);
        ::GlobalUnlock(memory);
      }
    }
  }
  if (frame) frame->Release();
  if (encoder) encoder->Release();
  if (stream) stream->Release();
  if (factory) factory->Release();
  ::CoUninitialize();
  return bytes;
}

bool Near(Pixel a, Pixel b, int tolerance) {
  return std::abs(PixelR(a) - PixelR(b)) <= tolerance &&
         std::abs(PixelG(a) - PixelG(b)) <= tolerance &&
         std::abs(PixelB(a) - PixelB(b)) <= tolerance;
}

TEST(ImageLoaderTest, BmpPixelsArriveExactlyInOurFormat) {
  const std::vector<std::vector<Pixel>> rows = {
      {MakePixel(255, 0, 0), MakePixel(0, 255, 0), MakePixel(0, 0, 255)},
      {MakePixel(1, 2, 3), MakePixel(250, 128, 7), MakePixel(255, 255, 255)},
  };
  const std::vector<std::uint8_t> bmp = MakeBmp(rows);
  WicImageLoader loader;
  const std::optional<Surface> picture = loader.Decode(bmp.data(), bmp.size());
  ASSERT_TRUE(picture.has_value());
  ASSERT_EQ(picture->size(), (Size{3, 2}));
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 3; ++x) {
      EXPECT_EQ(picture->At(x, y), rows[y][x]) << x << "," << y;  // top byte zero as well
    }
  }
  // The same from a file.
  char temp[MAX_PATH] = {};
  ASSERT_GT(::GetTempPathA(MAX_PATH, temp), 0u);
  const std::string path = std::string(temp) + "dbx_picture.bmp";
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bmp.data()), static_cast<std::streamsize>(bmp.size()));
  const std::optional<Surface> fromFile = loader.Load(path);
  ::DeleteFileA(path.c_str());
  ASSERT_TRUE(fromFile.has_value());
  EXPECT_EQ(fromFile->At(1, 1), rows[1][1]);
}

TEST(ImageLoaderTest, JpegDecodes) {
  const Pixel colour = MakePixel(200, 40, 90);
  const std::vector<std::uint8_t> jpeg = MakeJpeg(64, 48, colour);
  ASSERT_GT(jpeg.size(), 100u);
  WicImageLoader loader;
  const std::optional<Surface> picture = loader.Decode(jpeg.data(), jpeg.size());
  ASSERT_TRUE(picture.has_value());
  EXPECT_EQ(picture->size(), (Size{64, 48}));
  EXPECT_TRUE(Near(picture->At(32, 24), colour, 8)) << std::hex << picture->At(32, 24);
  EXPECT_EQ(picture->At(0, 0) >> 24, 0u);
}

TEST(ImageLoaderTest, BadInputGivesNothing) {
  WicImageLoader loader;
  const std::vector<std::vector<Pixel>> one = {{MakePixel(1, 2, 3)}};
  const std::vector<std::uint8_t> valid = MakeBmp(one);
  const std::vector<std::uint8_t> huge = MakeBmp(one, 100000, 100000);
  const std::vector<std::uint8_t> wide = MakeBmp(one, 20000, 15000);
  const std::vector<std::uint8_t> truncated(valid.begin(), valid.begin() + 20);
  const std::vector<std::uint8_t> garbage(500, 0x5A);
  const struct {
    const char* name;
    const std::vector<std::uint8_t>* bytes;
  } cases[] = {{"100000 x 100000 header", &huge},
               {"20000 x 15000 header", &wide},
               {"truncated header", &truncated},
               {"not a picture", &garbage}};
  for (const auto& c : cases) {
    EXPECT_FALSE(loader.Decode(c.bytes->data(), c.bytes->size()).has_value()) << c.name;
  }
  EXPECT_FALSE(loader.Decode(valid.data(), 0).has_value());
  EXPECT_FALSE(loader.Decode(nullptr, 10).has_value());
  EXPECT_FALSE(loader.Load("C:\\no\\such\\picture.jpg").has_value());
  EXPECT_FALSE(loader.Load("").has_value());
}

}  // namespace
}  // namespace dbx::win32
