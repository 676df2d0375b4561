#include "test_support.h"

#include <jpeglib.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>

#include "platform/imageio/png_reader.h"

namespace dbx::swftest {

std::optional<std::filesystem::path> SamplesDir() {
  const std::filesystem::path dir = DBX_SWF_SAMPLES_DIR;
  std::error_code ec;
  if (std::filesystem::is_directory(dir, ec)) return dir;
  return std::nullopt;
}

std::vector<std::uint8_t> ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TempFolder::TempFolder(const std::string& name, const std::filesystem::path& subfolders) {
  root_ = std::filesystem::temp_directory_path() /
          (name + "-" + std::to_string(reinterpret_cast<std::uintptr_t>(this)));
  std::filesystem::remove_all(root_);
  std::filesystem::create_directories(root_ / subfolders);
}

TempFolder::~TempFolder() {
  std::error_code ec;
  std::filesystem::remove_all(root_, ec);
}

std::string TempFolder::Dir(const std::filesystem::path& rel) const {
  return (rel.empty() ? root_ : root_ / rel).string() + "/";
}

void TempFolder::Write(const std::filesystem::path& rel,
                       const std::vector<std::uint8_t>& bytes) const {
  std::ofstream(root_ / rel, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

void TempFolder::WriteText(const std::filesystem::path& rel, const std::string& text) const {
  std::ofstream(root_ / rel, std::ios::binary) << text;
}

std::optional<std::filesystem::path> DumpDir() {
  const char* d = std::getenv("DBX_SWF_DUMP_DIR");
  if (!d || !*d) return std::nullopt;
  return std::filesystem::path(d);
}

namespace {

void PutBe32(std::vector<std::uint8_t>& v, std::uint32_t x) {
  for (int s = 24; s >= 0; s -= 8) v.push_back(static_cast<std::uint8_t>(x >> s));
}

void PngChunk(std::vector<std::uint8_t>& out, const char* type,
              const std::vector<std::uint8_t>& data) {
  PutBe32(out, static_cast<std::uint32_t>(data.size()));
  const std::size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  PutBe32(out, static_cast<std::uint32_t>(
                   crc32(0, out.data() + start, static_cast<uInt>(out.size() - start))));
}

}  // namespace

std::optional<Surface> ReadPng(const std::filesystem::path& path) {
  return dbx::ReadPng(path.string());
}

bool WritePng(const std::filesystem::path& path, const Surface& s) {
  std::vector<std::uint8_t> raw;
  for (int y = 0; y < s.height(); ++y) {
    raw.push_back(0);
    for (int x = 0; x < s.width(); ++x) {
      const Pixel p = s.At(x, y);
      raw.insert(raw.end(), {PixelR(p), PixelG(p), PixelB(p)});
    }
  }
  uLongf zlen = compressBound(static_cast<uLong>(raw.size()));
  std::vector<std::uint8_t> z(zlen);
  if (compress(z.data(), &zlen, raw.data(), static_cast<uLong>(raw.size())) != Z_OK) return false;
  z.resize(zlen);
  std::vector<std::uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  std::vector<std::uint8_t> ihdr;
  PutBe32(ihdr, static_cast<std::uint32_t>(s.width()));
  PutBe32(ihdr, static_cast<std::uint32_t>(s.height()));
  ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});
  PngChunk(out, "IHDR", ihdr);
  PngChunk(out, "IDAT", z);
  PngChunk(out, "IEND", {});
  std::ofstream o(path, std::ios::binary);
  o.write(reinterpret_cast<const char*>(out.data()), static_cast<std::streamsize>(out.size()));
  return static_cast<bool>(o);
}

namespace {

struct JpegError {
  jpeg_error_mgr mgr;
  std::jmp_buf jump;
};

void OnJpegError(j_common_ptr cinfo) {
  std::longjmp(reinterpret_cast<JpegError*>(cinfo->err)->jump, 1);
}

}  // namespace

std::optional<Surface> JpegLoader::Load(const std::string& path) {
  const auto bytes = ReadFile(path);
  return Decode(bytes.data(), bytes.size());
}

std::optional<Surface> JpegLoader::Decode(const std::uint8_t* data, std::size_t size) {
  ++decodes;
  if (!data || size < 4) return std::nullopt;
  jpeg_decompress_struct cinfo{};
  JpegError err{};
  cinfo.err = jpeg_std_error(&err.mgr);
  err.mgr.error_exit = OnJpegError;
  Surface out;
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&cinfo);
    return std::nullopt;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
  if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK) {
    jpeg_destroy_decompress(&cinfo);
    return std::nullopt;
  }
  cinfo.out_color_space = JCS_RGB;
  jpeg_start_decompress(&cinfo);
  out.Resize(static_cast<int>(cinfo.output_width), static_cast<int>(cinfo.output_height));
  std::vector<JSAMPLE> row(cinfo.output_width * 3);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW rows[1] = {row.data()};
    const int y = static_cast<int>(cinfo.output_scanline);
    jpeg_read_scanlines(&cinfo, rows, 1);
    for (JDIMENSION x = 0; x < cinfo.output_width; ++x)
      out.At(static_cast<int>(x), y) = MakePixel(row[x * 3], row[x * 3 + 1], row[x * 3 + 2]);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return out;
}

void BitWriter::Rect(std::int32_t xmin, std::int32_t xmax, std::int32_t ymin, std::int32_t ymax) {
  Align();
  const unsigned n = std::max({SBits(xmin), SBits(xmax), SBits(ymin), SBits(ymax)});
  UB(n, 5);
  SB(xmin, n);
  SB(xmax, n);
  SB(ymin, n);
  SB(ymax, n);
  Align();
}

void BitWriter::Matrix(double sx, double sy, double r0, double r1, std::int32_t tx,
                       std::int32_t ty) {
  Align();
  const auto fx = [](double v) { return static_cast<std::int32_t>(std::lround(v * 65536)); };
  if (sx != 1 || sy != 1) {
    UB(1, 1);
    const unsigned n = std::max(SBits(fx(sx)), SBits(fx(sy)));
    UB(n, 5);
    SB(fx(sx), n);
    SB(fx(sy), n);
  } else {
    UB(0, 1);
  }
  if (r0 != 0 || r1 != 0) {
    UB(1, 1);
    const unsigned n = std::max(SBits(fx(r0)), SBits(fx(r1)));
    UB(n, 5);
    SB(fx(r0), n);
    SB(fx(r1), n);
  } else {
    UB(0, 1);
  }
  const unsigned n = std::max(SBits(tx), SBits(ty));
  UB(n, 5);
  SB(tx, n);
  SB(ty, n);
  Align();
}

void SwfWriter::Tag(std::uint16_t code, const std::vector<std::uint8_t>& body, bool longForm) {
  BitWriter w;
  if (body.size() < 0x3F && !longForm) {
    w.U16(static_cast<std::uint16_t>((code << 6) | body.size()));
  } else {
    w.U16(static_cast<std::uint16_t>((code << 6) | 0x3F));
    w.U32(static_cast<std::uint32_t>(body.size()));
  }
  w.Bytes(body);
  const auto bytes = w.Take();
  body_.insert(body_.end(), bytes.begin(), bytes.end());
}

void SwfWriter::Background(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  Tag(9, {r, g, b});
}

void SwfWriter::SolidShape(std::uint16_t id, std::uint32_t rgba, const std::vector<PathOp>& ops,
                           bool nonZero, int version) {
  BitWriter w;
  w.U16(id);
  std::int32_t x0 = 0, x1 = 0, y0 = 0, y1 = 0;
  for (const PathOp& op : ops) {
    x0 = std::min(x0, op.x);
    x1 = std::max(x1, op.x);
    y0 = std::min(y0, op.y);
    y1 = std::max(y1, op.y);
  }
  w.Rect(x0, x1, y0, y1);
  if (version == 4) {
    w.Rect(x0, x1, y0, y1);
    w.U8(nonZero ? 4 : 0);
  }
  w.U8(1);     // one fill style
  w.U8(0x00);  // solid
  w.U8(static_cast<std::uint8_t>(rgba >> 24));
  w.U8(static_cast<std::uint8_t>(rgba >> 16));
  w.U8(static_cast<std::uint8_t>(rgba >> 8));
  w.U8(static_cast<std::uint8_t>(rgba));
  w.U8(0);  // no line styles
  w.UB(1, 4);
  w.UB(0, 4);
  std::int32_t px = 0, py = 0;
  bool first = true;
  for (const PathOp& op : ops) {
    if (op.kind == PathOp::kMove) {
      w.UB(0, 1);
      w.UB(0, 1);              // new styles
      w.UB(0, 1);              // line
      w.UB(first ? 1 : 0, 1);  // fill1
      w.UB(0, 1);              // fill0
      w.UB(1, 1);              // move
      const unsigned n = std::max(BitWriter::SBits(op.x), BitWriter::SBits(op.y));
      w.UB(n, 5);
      w.SB(op.x, n);
      w.SB(op.y, n);
      if (first) w.UB(1, 1);
      first = false;
    } else if (op.kind == PathOp::kLine) {
      const std::int32_t dx = op.x - px, dy = op.y - py;
      const unsigned n = std::max({BitWriter::SBits(dx), BitWriter::SBits(dy), 2u});
      w.UB(1, 1);
      w.UB(1, 1);
      w.UB(n - 2, 4);
      w.UB(1, 1);  // general line
      w.SB(dx, n);
      w.SB(dy, n);
    } else {
      const std::int32_t cdx = op.cx - px, cdy = op.cy - py, adx = op.x - op.cx, ady = op.y - op.cy;
      const unsigned n = std::max({BitWriter::SBits(cdx), BitWriter::SBits(cdy),
                                   BitWriter::SBits(adx), BitWriter::SBits(ady), 2u});
      w.UB(1, 1);
      w.UB(0, 1);
      w.UB(n - 2, 4);
      w.SB(cdx, n);
      w.SB(cdy, n);
      w.SB(adx, n);
      w.SB(ady, n);
    }
    px = op.x;
    py = op.y;
  }
  w.UB(0, 6);  // end of shape
  Tag(version == 4 ? 83 : 32, w.Take());
}

void SwfWriter::StrokedPath(std::uint16_t id, std::uint16_t width, std::uint32_t rgba,
                            const std::vector<PathOp>& ops) {
  BitWriter w;
  w.U16(id);
  w.Rect(0, w_ * 20, 0, h_ * 20);
  w.U8(0);  // no fill styles
  w.U8(1);  // one line style
  w.U16(width);
  for (int shift : {24, 16, 8, 0}) w.U8(static_cast<std::uint8_t>(rgba >> shift));
  w.UB(0, 4);
  w.UB(1, 4);
  std::int32_t px = 0, py = 0;
  bool first = true;
  for (const PathOp& op : ops) {
    if (op.kind == PathOp::kMove) {
      w.UB(0, 1);
      w.UB(0, 1);              // new styles
      w.UB(first ? 1 : 0, 1);  // line style
      w.UB(0, 1);              // fill1
      w.UB(0, 1);              // fill0
      w.UB(1, 1);              // move
      const unsigned n = std::max(BitWriter::SBits(op.x), BitWriter::SBits(op.y));
      w.UB(n, 5);
      w.SB(op.x, n);
      w.SB(op.y, n);
      if (first) w.UB(1, 1);
      first = false;
    } else {
      const std::int32_t dx = op.x - px, dy = op.y - py;
      const unsigned n = std::max({BitWriter::SBits(dx), BitWriter::SBits(dy), 2u});
      w.UB(1, 1);
      w.UB(1, 1);
      w.UB(n - 2, 4);
      w.UB(1, 1);
      w.SB(dx, n);
      w.SB(dy, n);
    }
    px = op.x;
    py = op.y;
  }
  w.UB(0, 6);
  Tag(32, w.Take());
}

void SwfWriter::Place(std::uint16_t id, std::uint16_t depth, std::int32_t tx, std::int32_t ty,
                      std::uint16_t clipDepth) {
  BitWriter w;
  w.U8(static_cast<std::uint8_t>(2 | 4 | (clipDepth ? 64 : 0)));  // character, matrix
  w.U16(depth);
  w.U16(id);
  w.Matrix(1, 1, 0, 0, tx, ty);
  if (clipDepth) w.U16(clipDepth);
  Tag(26, w.Take());
}

void SwfWriter::Place2(const Place2Args& a) {
  BitWriter w;
  std::uint8_t flags = a.move ? 1 : 0;
  if (a.character) flags |= 2;
  if (a.translate) flags |= 4;
  if (a.ratio) flags |= 16;
  if (!a.name.empty()) flags |= 32;
  if (!a.clipActions.empty()) flags |= 128;
  w.U8(flags);
  w.U16(a.depth);
  if (a.character) w.U16(*a.character);
  if (a.translate) w.Matrix(1, 1, 0, 0, a.translate->first, a.translate->second);
  if (a.ratio) w.U16(*a.ratio);
  if (!a.name.empty()) {
    for (char c : a.name) w.U8(static_cast<std::uint8_t>(c));
    w.U8(0);
  }
  w.Bytes(a.clipActions);
  Tag(26, w.Take());
}

void SwfWriter::Sprite(std::uint16_t id, const SwfWriter& inner, std::uint16_t frames,
                       bool withEnd) {
  BitWriter w;
  w.U16(id);
  w.U16(frames);
  w.Bytes(inner.body_);
  if (withEnd) w.U16(0);  // End
  Tag(39, w.Take(), true);
}

void SwfWriter::Label(const std::string& name) {
  std::vector<std::uint8_t> b(name.begin(), name.end());
  b.push_back(0);
  Tag(43, b);
}

void SwfWriter::Export(std::uint16_t id, const std::string& name) {
  BitWriter w;
  w.U16(1);
  w.U16(id);
  for (char c : name) w.U8(static_cast<std::uint8_t>(c));
  w.U8(0);
  Tag(56, w.Take());
}

void SwfWriter::Remove(std::uint16_t depth) {
  BitWriter w;
  w.U16(depth);
  Tag(28, w.Take());
}

std::vector<std::uint8_t> SwfWriter::Finish(char compression, std::uint16_t headerFrames,
                                            std::optional<std::uint32_t> lengthOverride) const {
  BitWriter head;
  head.Rect(frame_[0], frame_[1], frame_[2], frame_[3]);
  head.U16(static_cast<std::uint16_t>(std::lround(fps_ * 256)));
  head.U16(headerFrames);
  std::vector<std::uint8_t> body = head.Take();
  body.insert(body.end(), body_.begin(), body_.end());
  std::vector<std::uint8_t> out = {static_cast<std::uint8_t>(compression), 'W', 'S', version_};
  const std::uint32_t len = lengthOverride.value_or(static_cast<std::uint32_t>(body.size() + 8));
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(len >> (8 * i)));
  if (compression == 'C') {
    uLongf zlen = compressBound(static_cast<uLong>(body.size()));
    std::vector<std::uint8_t> z(zlen);
    compress(z.data(), &zlen, body.data(), static_cast<uLong>(body.size()));
    out.insert(out.end(), z.begin(), z.begin() + static_cast<std::ptrdiff_t>(zlen));
  } else {
    out.insert(out.end(), body.begin(), body.end());
  }
  return out;
}

std::vector<PathOp> Rectangle(std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h) {
  return {{PathOp::kMove, x, y},
          {PathOp::kLine, x + w, y},
          {PathOp::kLine, x + w, y + h},
          {PathOp::kLine, x, y + h},
          {PathOp::kLine, x, y}};
}

namespace {

int PaethOf(int a, int b, int c) {
  const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  return (pa <= pb && pa <= pc) ? a : pb <= pc ? b : c;
}

}  // namespace

std::vector<std::uint8_t> EncodePng(const PngSpec& spec) {
  static constexpr int kChannels[7] = {1, 0, 3, 1, 2, 0, 4};
  const int channels = kChannels[spec.colorType];
  const std::size_t bitsPerPixel = static_cast<std::size_t>(channels * spec.depth);
  const std::size_t step = std::max<std::size_t>(1, bitsPerPixel / 8);
  struct Pass {
    int x, y, dx, dy;
  };
  const std::vector<Pass> passes =
      spec.interlaced ? std::vector<Pass>{{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                          {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}}
                      : std::vector<Pass>{{0, 0, 1, 1}};
  std::vector<std::uint8_t> raw;
  int rowCount = 0;
  for (const Pass& p : passes) {
    std::vector<int> xs, ys;
    for (int x = p.x; x < spec.width; x += p.dx) xs.push_back(x);
    for (int y = p.y; y < spec.height; y += p.dy) ys.push_back(y);
    if (xs.empty() || ys.empty()) continue;
    const std::size_t rowBytes = (xs.size() * bitsPerPixel + 7) / 8;
    std::vector<std::uint8_t> above(rowBytes, 0);
    for (int y : ys) {
      // Pack the samples most significant bit first.
      std::vector<std::uint8_t> row(rowBytes, 0);
      std::size_t bit = 0;
      for (int x : xs) {
        for (int c = 0; c < channels; ++c) {
          const std::uint32_t v =
              spec.samples[(static_cast<std::size_t>(y) * spec.width + x) * channels + c];
          if (spec.depth == 16) {
            row[bit / 8] = static_cast<std::uint8_t>(v >> 8);
            row[bit / 8 + 1] = static_cast<std::uint8_t>(v);
          } else {
            row[bit / 8] |= static_cast<std::uint8_t>(v << (8 - spec.depth - bit % 8));
          }
          bit += static_cast<std::size_t>(spec.depth);
        }
      }
      const int filter = rowCount++ % 5;
      raw.push_back(static_cast<std::uint8_t>(filter));
      for (std::size_t i = 0; i < rowBytes; ++i) {
        const int a = i >= step ? row[i - step] : 0, b = above[i],
                  c = i >= step ? above[i - step] : 0;
        const int pred = filter == 1   ? a
                         : filter == 2 ? b
                         : filter == 3 ? (a + b) / 2
                         : filter == 4 ? PaethOf(a, b, c)
                                       : 0;
        raw.push_back(static_cast<std::uint8_t>(row[i] - pred));
      }
      above = row;
    }
  }
  std::vector<std::uint8_t> packed(compressBound(static_cast<uLong>(raw.size())));
  uLongf packedSize = static_cast<uLongf>(packed.size());
  compress(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()));
  packed.resize(packedSize);

  std::vector<std::uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  std::vector<std::uint8_t> header;
  PutBe32(header, static_cast<std::uint32_t>(spec.width));
  PutBe32(header, static_cast<std::uint32_t>(spec.height));
  header.insert(header.end(),
                {static_cast<std::uint8_t>(spec.depth), static_cast<std::uint8_t>(spec.colorType),
                 0, 0, static_cast<std::uint8_t>(spec.interlaced ? 1 : 0)});
  PngChunk(out, "IHDR", header);
  if (!spec.palette.empty()) PngChunk(out, "PLTE", spec.palette);
  if (!spec.transparency.empty()) PngChunk(out, "tRNS", spec.transparency);
  // The image data in two chunks, which a reader must join.
  const std::size_t half = packed.size() / 2;
  PngChunk(out, "IDAT", {packed.begin(), packed.begin() + static_cast<std::ptrdiff_t>(half)});
  PngChunk(out, "IDAT", {packed.begin() + static_cast<std::ptrdiff_t>(half), packed.end()});
  PngChunk(out, "IEND", {});
  return out;
}

std::vector<std::uint8_t> EncodeGif(const GifSpec& spec) {
  auto u16 = [](std::vector<std::uint8_t>& o, int v) {
    o.push_back(static_cast<std::uint8_t>(v));
    o.push_back(static_cast<std::uint8_t>(v >> 8));
  };
  int tableBits = 0;
  while ((3u << (tableBits + 1)) < spec.palette.size()) ++tableBits;
  std::vector<std::uint8_t> out = {'G', 'I', 'F', '8', '9', 'a'};
  u16(out, spec.screenWidth);
  u16(out, spec.screenHeight);
  out.push_back(static_cast<std::uint8_t>(spec.localPalette ? 0 : 0x80 | tableBits));
  out.insert(out.end(), {0, 0});
  if (!spec.localPalette) out.insert(out.end(), spec.palette.begin(), spec.palette.end());
  if (spec.transparent >= 0)
    out.insert(out.end(), {0x21, 0xF9, 4, 1, 0, 0, static_cast<std::uint8_t>(spec.transparent), 0});
  // A comment, which a reader skips.
  out.insert(out.end(), {0x21, 0xFE, 2, 'h', 'i', 0});
  out.push_back(0x2C);
  u16(out, spec.left);
  u16(out, spec.top);
  u16(out, spec.width);
  u16(out, spec.height);
  out.push_back(static_cast<std::uint8_t>((spec.localPalette ? 0x80 | tableBits : 0) |
                                          (spec.interlaced ? 0x40 : 0)));
  if (spec.localPalette) out.insert(out.end(), spec.palette.begin(), spec.palette.end());
  out.push_back(static_cast<std::uint8_t>(spec.minCodeSize));

  // The indexes in the order the file stores their rows.
  std::vector<int> order;
  if (spec.interlaced) {
    for (const auto& [start, step] : {std::pair{0, 8}, {4, 8}, {2, 4}, {1, 2}})
      for (int y = start; y < spec.height; y += step) order.push_back(y);
  } else {
    for (int y = 0; y < spec.height; ++y) order.push_back(y);
  }
  std::vector<std::uint8_t> stream;
  for (int y : order)
    stream.insert(stream.end(), spec.indexes.begin() + static_cast<std::ptrdiff_t>(y) * spec.width,
                  spec.indexes.begin() + static_cast<std::ptrdiff_t>(y + 1) * spec.width);

  std::vector<std::uint8_t> packed;
  std::uint32_t bits = 0;
  int held = 0;
  const int clear = 1 << spec.minCodeSize;
  int codeSize = spec.minCodeSize + 1, next = clear + 2;
  auto emit = [&](int code) {
    bits |= static_cast<std::uint32_t>(code) << held;
    held += codeSize;
    while (held >= 8) {
      packed.push_back(static_cast<std::uint8_t>(bits));
      bits >>= 8;
      held -= 8;
    }
  };
  std::map<std::pair<int, int>, int> table;  // (prefix code, index) -> code
  emit(clear);
  int current = -1;
  for (std::uint8_t index : stream) {
    if (current < 0) {
      current = index;
      continue;
    }
    const auto found = table.find({current, index});
    if (found != table.end()) {
      current = found->second;
      continue;
    }
    emit(current);
    if (next < 4096) {
      table[{current, index}] = next++;
      if (next > (1 << codeSize) && codeSize < 12) ++codeSize;
    } else if (!spec.keepFullTable) {
      emit(clear);
      table.clear();
      codeSize = spec.minCodeSize + 1;
      next = clear + 2;
    }
    current = index;
  }
  if (current >= 0) emit(current);
  emit(clear + 1);
  if (held > 0) packed.push_back(static_cast<std::uint8_t>(bits));
  for (std::size_t i = 0; i < packed.size(); i += 255) {
    const std::size_t n = std::min<std::size_t>(255, packed.size() - i);
    out.push_back(static_cast<std::uint8_t>(n));
    out.insert(out.end(), packed.begin() + static_cast<std::ptrdiff_t>(i),
               packed.begin() + static_cast<std::ptrdiff_t>(i + n));
  }
  out.push_back(0);
  out.push_back(0x3B);
  return out;
}

}  // namespace dbx::swftest
