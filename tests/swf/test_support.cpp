#include "test_support.h"

#include <jpeglib.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <fstream>

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

std::optional<std::filesystem::path> DumpDir() {
  const char* d = std::getenv("DBX_SWF_DUMP_DIR");
  if (!d || !*d) return std::nullopt;
  return std::filesystem::path(d);
}

namespace {

void PutBe32(std::vector<std::uint8_t>& v, std::uint32_t x) {
  for (int s = 24; s >= 0; s -= 8) v.push_back(static_cast<std::uint8_t>(x >> s));
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
  auto chunk = [&](const char* type, const std::vector<std::uint8_t>& data) {
    PutBe32(out, static_cast<std::uint32_t>(data.size()));
    const std::size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    PutBe32(out, static_cast<std::uint32_t>(
                     crc32(0, &out[start], static_cast<uInt>(out.size() - start))));
  };
  std::vector<std::uint8_t> ihdr;
  PutBe32(ihdr, static_cast<std::uint32_t>(s.width()));
  PutBe32(ihdr, static_cast<std::uint32_t>(s.height()));
  ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});
  chunk("IHDR", ihdr);
  chunk("IDAT", z);
  chunk("IEND", {});
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

}  // namespace dbx::swftest
