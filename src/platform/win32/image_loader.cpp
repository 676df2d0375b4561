#include "platform/win32/image_loader.h"

#include <objbase.h>
#include <wincodec.h>

#include <new>
#include <vector>

namespace dbx::win32 {
namespace {

// Releases a COM interface when it goes out of scope.
template <typename T>
class ComRef {
 public:
  ComRef() = default;
  ~ComRef() {
    if (p_ != nullptr) p_->Release();
  }
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;
  T** Out() { return &p_; }
  T* operator->() const { return p_; }
  T* get() const { return p_; }

 private:
  T* p_ = nullptr;
};

// COM for the calling thread, for the length of one call. A thread whose apartment is already set
// up (in either model) keeps it.
class ComScope {
 public:
  ComScope() : hr_(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
  ~ComScope() {
    if (SUCCEEDED(hr_)) ::CoUninitialize();
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;
  bool Usable() const { return SUCCEEDED(hr_) || hr_ == RPC_E_CHANGED_MODE; }

 private:
  HRESULT hr_;
};

std::optional<Surface> FromDecoder(IWICImagingFactory* factory, IWICBitmapDecoder* decoder) {
  ComRef<IWICBitmapFrameDecode> frame;
  if (FAILED(decoder->GetFrame(0, frame.Out()))) return std::nullopt;
  UINT width = 0;
  UINT height = 0;
  if (FAILED(frame->GetSize(&width, &height)) || !PictureSizeAcceptable(width, height)) {
    return std::nullopt;
  }
  // 32bppBGR is the memory order of our pixels (B, G, R, X).
  ComRef<IWICFormatConverter> converter;
  if (FAILED(factory->CreateFormatConverter(converter.Out())) ||
      FAILED(converter->Initialize(frame.get(), GUID_WICPixelFormat32bppBGR,
                                   WICBitmapDitherTypeNone, nullptr, 0.0,
                                   WICBitmapPaletteTypeCustom))) {
    return std::nullopt;
  }
  Surface surface;
  try {
    surface.Resize(static_cast<int>(width), static_cast<int>(height));
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
  const std::uint64_t stride = std::uint64_t{width} * 4;
  const std::uint64_t bytes = stride * height;
  if (bytes > 0xFFFFFFFFu) return std::nullopt;
  if (FAILED(converter->CopyPixels(nullptr, static_cast<UINT>(stride), static_cast<UINT>(bytes),
                                   reinterpret_cast<BYTE*>(surface.data())))) {
    return std::nullopt;
  }
  // The fourth byte of 32bppBGR is undefined; our pixels keep it zero.
  Pixel* pixel = surface.data();
  const std::size_t count = std::size_t{width} * height;
  for (std::size_t i = 0; i < count; ++i) pixel[i] &= 0x00FFFFFFu;
  return surface;
}

bool CreateFactory(ComRef<IWICImagingFactory>& factory) {
  return SUCCEEDED(::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IWICImagingFactory,
                                      reinterpret_cast<void**>(factory.Out())));
}

}  // namespace

std::optional<Surface> WicImageLoader::Load(const std::string& path) {
  if (path.empty()) return std::nullopt;
  // Paths are ANSI text; WIC takes wide ones.
  const int wideLength = ::MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, nullptr, 0);
  if (wideLength <= 0) return std::nullopt;
  std::vector<wchar_t> widePath(static_cast<std::size_t>(wideLength));
  ::MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, widePath.data(), wideLength);

  const ComScope com;
  if (!com.Usable()) return std::nullopt;
  ComRef<IWICImagingFactory> factory;
  if (!CreateFactory(factory)) return std::nullopt;
  ComRef<IWICBitmapDecoder> decoder;
  if (FAILED(factory->CreateDecoderFromFilename(widePath.data(), nullptr, GENERIC_READ,
                                                WICDecodeMetadataCacheOnDemand, decoder.Out()))) {
    return std::nullopt;
  }
  try {
    return FromDecoder(factory.get(), decoder.get());
  } catch (...) {
    return std::nullopt;
  }
}

std::optional<Surface> WicImageLoader::Decode(const std::uint8_t* data, std::size_t size) {
  if (data == nullptr || size == 0 || size > 0xFFFFFFFFu) return std::nullopt;
  const ComScope com;
  if (!com.Usable()) return std::nullopt;
  ComRef<IWICImagingFactory> factory;
  if (!CreateFactory(factory)) return std::nullopt;
  ComRef<IWICStream> stream;
  // The stream only reads the bytes; the interface merely lacks the const.
  if (FAILED(factory->CreateStream(stream.Out())) ||
      FAILED(stream->InitializeFromMemory(const_cast<BYTE*>(data), static_cast<DWORD>(size)))) {
    return std::nullopt;
  }
  ComRef<IWICBitmapDecoder> decoder;
  if (FAILED(factory->CreateDecoderFromStream(stream.get(), nullptr, WICDecodeMetadataCacheOnDemand,
                                              decoder.Out()))) {
    return std::nullopt;
  }
  try {
    return FromDecoder(factory.get(), decoder.get());
  } catch (...) {
    return std::nullopt;
  }
}

}  // namespace dbx::win32
