#include "swf/format/picture_decoders.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "core/platform.h"
#include "core/png_filter.h"
#include "swf/format/decode_util.h"

namespace dbx::swf {

namespace {

std::uint32_t Be32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         p[3];
}

std::uint32_t Premultiplied(std::uint32_t r, std::uint32_t g, std::uint32_t b, std::uint32_t a) {
  if (a == 255) return 0xFF000000u | (r << 16) | (g << 8) | b;
  r = (r * a + 127) / 255;
  g = (g * a + 127) / 255;
  b = (b * a + 127) / 255;
  return (a << 24) | (r << 16) | (g << 8) | b;
}

void FinishOpacity(Bitmap& b) {
  b.opaque = std::all_of(b.pixels.begin(), b.pixels.end(),
                         [](std::uint32_t p) { return (p >> 24) == 0xFF; });
}

// --- PNG -----------------------------------------------------------------------------------------

struct PngHeader {
  std::uint32_t width = 0, height = 0;
  int depth = 0, colorType = -1;
  bool interlaced = false;
  int Channels() const {
    static constexpr int kChannels[7] = {1, 0, 3, 1, 2, 0, 4};
    return colorType >= 0 && colorType <= 6 ? kChannels[colorType] : 0;
  }
  bool Valid() const {
    if (width == 0 || height == 0 || Channels() == 0) return false;
    switch (colorType) {
      case 0:
        return depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
      case 3:
        return depth == 1 || depth == 2 || depth == 4 || depth == 8;
      default:
        return depth == 8 || depth == 16;
    }
  }
  std::size_t RowBytes(std::size_t pixels) const {
    return (pixels * static_cast<std::size_t>(Channels() * depth) + 7) / 8;
  }
};

// The passes of an interlaced picture: first column and row, then the steps between them.
struct Pass {
  std::uint32_t x, y, dx, dy;
};
constexpr std::array<Pass, 7> kAdam7 = {{{0, 0, 8, 8},
                                         {4, 0, 8, 8},
                                         {0, 4, 4, 8},
                                         {2, 0, 4, 4},
                                         {0, 2, 2, 4},
                                         {1, 0, 2, 2},
                                         {0, 1, 1, 2}}};
constexpr Pass kWhole = {0, 0, 1, 1};

std::uint32_t PassSpan(std::uint32_t size, std::uint32_t start, std::uint32_t step) {
  return size > start ? (size - start + step - 1) / step : 0;
}

struct PngColours {
  std::vector<std::uint8_t> palette;       // RGB triples
  std::vector<std::uint8_t> paletteAlpha;  // tRNS of a palette picture
  bool hasKey = false;                     // tRNS of a grey or RGB picture
  std::array<std::uint16_t, 3> key{};
};

// Sample `index` of a row (in samples, not pixels) at its own depth.
std::uint32_t Sample(const std::uint8_t* row, std::size_t index, int depth) {
  if (depth == 8) return row[index];
  if (depth == 16) return (std::uint32_t{row[2 * index]} << 8) | row[2 * index + 1];
  const std::size_t bit = index * static_cast<std::size_t>(depth);
  return (row[bit / 8] >> (8 - depth - static_cast<int>(bit % 8))) & ((1u << depth) - 1);
}

std::uint32_t To8(std::uint32_t v, int depth) {
  if (depth == 16) return v >> 8;
  if (depth == 8) return v;
  return v * 255 / ((1u << depth) - 1);
}

std::uint32_t PngPixel(const PngHeader& h, const PngColours& c, const std::uint8_t* row,
                       std::size_t x) {
  const int d = h.depth;
  switch (h.colorType) {
    case 0: {
      const std::uint32_t v = Sample(row, x, d);
      const std::uint32_t g = To8(v, d);
      return Premultiplied(g, g, g, c.hasKey && v == c.key[0] ? 0 : 255);
    }
    case 2: {
      const std::uint32_t r = Sample(row, 3 * x, d), g = Sample(row, 3 * x + 1, d),
                          b = Sample(row, 3 * x + 2, d);
      const bool keyed = c.hasKey && r == c.key[0] && g == c.key[1] && b == c.key[2];
      return Premultiplied(To8(r, d), To8(g, d), To8(b, d), keyed ? 0 : 255);
    }
    case 3: {
      // An index outside the palette is opaque black.
      const std::uint32_t i = Sample(row, x, d);
      if (3 * i + 2 >= c.palette.size()) return 0xFF000000u;
      const std::uint32_t a = i < c.paletteAlpha.size() ? c.paletteAlpha[i] : 255;
      return Premultiplied(c.palette[3 * i], c.palette[3 * i + 1], c.palette[3 * i + 2], a);
    }
    case 4: {
      const std::uint32_t g = To8(Sample(row, 2 * x, d), d);
      return Premultiplied(g, g, g, To8(Sample(row, 2 * x + 1, d), d));
    }
    default: {
      return Premultiplied(To8(Sample(row, 4 * x, d), d), To8(Sample(row, 4 * x + 1, d), d),
                           To8(Sample(row, 4 * x + 2, d), d), To8(Sample(row, 4 * x + 3, d), d));
    }
  }
}

}  // namespace

bool IsPng(const std::uint8_t* data, std::size_t size) {
  return data && size >= 8 && std::memcmp(data, "\x89PNG\r\n\x1a\n", 8) == 0;
}

bool IsGif(const std::uint8_t* data, std::size_t size) {
  return data && size >= 6 &&
         (std::memcmp(data, "GIF87a", 6) == 0 || std::memcmp(data, "GIF89a", 6) == 0);
}

std::shared_ptr<const Bitmap> DecodePng(const std::uint8_t* data, std::size_t size,
                                        std::size_t maxPixels) {
  if (!IsPng(data, size)) return nullptr;
  PngHeader h;
  PngColours colours;
  std::vector<std::uint8_t> idat;
  bool sawHeader = false;
  for (std::size_t pos = 8; pos + 8 <= size;) {
    const std::uint32_t len = Be32(data + pos);
    const std::uint8_t* type = data + pos + 4;
    const std::uint8_t* d = data + pos + 8;
    if (len > size - pos - 8) break;  // a chunk cut short ends the file
    if (!sawHeader) {
      // The header comes first, or the file is no PNG we can read.
      if (std::memcmp(type, "IHDR", 4) != 0 || len < 13) return nullptr;
      h.width = Be32(d);
      h.height = Be32(d + 4);
      h.depth = d[8];
      h.colorType = d[9];
      if (d[10] != 0 || d[11] != 0 || d[12] > 1) return nullptr;
      h.interlaced = d[12] == 1;
      if (!h.Valid()) return nullptr;
      if (h.width > maxPixels || h.height > maxPixels ||
          std::uint64_t{h.width} * h.height > maxPixels)
        return nullptr;
      sawHeader = true;
    } else if (std::memcmp(type, "PLTE", 4) == 0) {
      colours.palette.assign(d, d + (len - len % 3));
    } else if (std::memcmp(type, "tRNS", 4) == 0) {
      if (h.colorType == 3) {
        colours.paletteAlpha.assign(d, d + len);
      } else if (h.colorType == 0 && len >= 2) {
        colours.hasKey = true;
        colours.key[0] = static_cast<std::uint16_t>((d[0] << 8) | d[1]);
      } else if (h.colorType == 2 && len >= 6) {
        colours.hasKey = true;
        for (int i = 0; i < 3; ++i)
          colours.key[i] = static_cast<std::uint16_t>((d[2 * i] << 8) | d[2 * i + 1]);
      }
    } else if (std::memcmp(type, "IDAT", 4) == 0) {
      idat.insert(idat.end(), d, d + len);
    } else if (std::memcmp(type, "IEND", 4) == 0) {
      break;
    }
    pos += 12 + std::size_t{len};  // length, type, data and CRC
  }
  if (!sawHeader || idat.empty()) return nullptr;
  if (h.colorType == 3 && colours.palette.empty()) return nullptr;

  std::vector<Pass> passes;
  if (h.interlaced)
    passes.assign(kAdam7.begin(), kAdam7.end());
  else
    passes.push_back(kWhole);
  std::size_t expected = 0;
  for (const Pass& p : passes) {
    const std::uint32_t w = PassSpan(h.width, p.x, p.dx), rows = PassSpan(h.height, p.y, p.dy);
    if (w && rows) expected += rows * (1 + h.RowBytes(w));
  }
  std::vector<std::uint8_t> raw;
  Inflate(idat.data(), idat.size(), raw, expected);
  if (raw.empty()) return nullptr;
  raw.resize(expected, 0);  // data cut short: the rest of the picture is black

  auto bmp = std::make_shared<Bitmap>();
  bmp->width = static_cast<int>(h.width);
  bmp->height = static_cast<int>(h.height);
  bmp->pixels.assign(std::size_t{h.width} * h.height, 0);
  const std::size_t step =
      std::max<std::size_t>(1, static_cast<std::size_t>(h.Channels() * h.depth) / 8);
  std::size_t at = 0;
  std::vector<std::uint8_t> above;
  for (const Pass& p : passes) {
    const std::uint32_t w = PassSpan(h.width, p.x, p.dx), rows = PassSpan(h.height, p.y, p.dy);
    if (!w || !rows) continue;
    const std::size_t n = h.RowBytes(w);
    above.assign(n, 0);
    for (std::uint32_t r = 0; r < rows; ++r) {
      std::uint8_t* row = raw.data() + at + 1;
      UnfilterPngRow(raw[at], row, above.data(), n, step);
      const std::size_t y = p.y + std::size_t{r} * p.dy;
      for (std::uint32_t i = 0; i < w; ++i)
        bmp->pixels[y * h.width + p.x + std::size_t{i} * p.dx] = PngPixel(h, colours, row, i);
      std::memcpy(above.data(), row, n);
      at += 1 + n;
    }
  }
  FinishOpacity(*bmp);
  return bmp;
}

// --- GIF -----------------------------------------------------------------------------------------

namespace {

// Reads the sub-blocks that follow `pos` (each a length byte and that many bytes, up to a block of
// length 0) into `out` when given; returns the position after them, or `size` when they run off
// the end.
std::size_t SubBlocks(const std::uint8_t* data, std::size_t size, std::size_t pos,
                      std::vector<std::uint8_t>* out) {
  while (pos < size) {
    const std::size_t n = data[pos++];
    if (n == 0) return pos;
    const std::size_t take = std::min(n, size - pos);
    if (out) out->insert(out->end(), data + pos, data + pos + take);
    pos += take;
  }
  return size;
}

// Decodes LZW codes into at most `count` colour indexes; stops at the end code, at damage or at
// the end of the data.
std::vector<std::uint8_t> Lzw(const std::vector<std::uint8_t>& in, int minCodeSize,
                              std::size_t count) {
  std::vector<std::uint8_t> out;
  if (minCodeSize < 2 || minCodeSize > 8) return out;
  out.reserve(count);
  constexpr int kMaxCodes = 4096;
  std::vector<std::uint16_t> prefix(kMaxCodes);
  std::vector<std::uint8_t> suffix(kMaxCodes), first(kMaxCodes);
  std::vector<std::uint8_t> stack(kMaxCodes + 1);
  const int clear = 1 << minCodeSize, end = clear + 1;
  for (int i = 0; i < clear; ++i) suffix[i] = first[i] = static_cast<std::uint8_t>(i);
  int codeSize = minCodeSize + 1, next = clear + 2, prev = -1;
  std::uint32_t bits = 0;
  int held = 0;
  std::size_t pos = 0;
  while (out.size() < count) {
    while (held < codeSize && pos < in.size()) {
      bits |= std::uint32_t{in[pos++]} << held;
      held += 8;
    }
    if (held < codeSize) break;
    const int code = static_cast<int>(bits & ((1u << codeSize) - 1));
    bits >>= codeSize;
    held -= codeSize;
    if (code == clear) {
      codeSize = minCodeSize + 1;
      next = clear + 2;
      prev = -1;
      continue;
    }
    if (code == end) break;
    if (prev < 0) {
      if (code > clear) break;  // the first code after a clear must be a colour
      out.push_back(static_cast<std::uint8_t>(code));
      prev = code;
      continue;
    }
    if (code > next || (code == next && next >= kMaxCodes)) break;
    // The string of `code`, or for the code about to be made, the previous string and its first
    // colour again.
    std::size_t depth = 0;
    int c = code == next ? prev : code;
    const std::uint8_t head = first[c];
    if (code == next) stack[depth++] = head;
    while (c > end) {
      stack[depth++] = suffix[c];
      c = prefix[c];
    }
    stack[depth++] = static_cast<std::uint8_t>(c);
    while (depth > 0 && out.size() < count) out.push_back(stack[--depth]);
    if (next < kMaxCodes) {
      prefix[next] = static_cast<std::uint16_t>(prev);
      suffix[next] = head;
      first[next] = first[prev];
      ++next;
      if (next == (1 << codeSize) && codeSize < 12) ++codeSize;
    }
    prev = code;
  }
  return out;
}

}  // namespace

std::shared_ptr<const Bitmap> DecodeGif(const std::uint8_t* data, std::size_t size,
                                        std::size_t maxPixels) {
  if (!IsGif(data, size) || size < 13) return nullptr;
  const std::uint32_t width = data[6] | (data[7] << 8), height = data[8] | (data[9] << 8);
  if (width == 0 || height == 0 || std::uint64_t{width} * height > maxPixels) return nullptr;
  std::size_t pos = 13;
  std::vector<std::uint8_t> global;
  if (data[10] & 0x80) {
    const std::size_t n = 3u << ((data[10] & 7) + 1);
    const std::size_t take = std::min(n, size - pos);
    global.assign(data + pos, data + pos + take);
    pos += take;
  }
  auto bmp = std::make_shared<Bitmap>();
  bmp->width = static_cast<int>(width);
  bmp->height = static_cast<int>(height);
  bmp->pixels.assign(std::size_t{width} * height, 0);
  int transparent = -1;
  while (pos < size) {
    const std::uint8_t kind = data[pos++];
    if (kind == 0x21) {  // an extension: only the graphic control's transparent colour matters
      if (pos >= size) break;
      const std::uint8_t label = data[pos++];
      if (label == 0xF9 && pos + 5 <= size && data[pos] >= 4)
        transparent = (data[pos + 1] & 1) ? data[pos + 4] : -1;
      pos = SubBlocks(data, size, pos, nullptr);
      continue;
    }
    if (kind != 0x2C || pos + 9 > size) break;  // the trailer, or damage
    const std::uint32_t left = data[pos] | (data[pos + 1] << 8),
                        top = data[pos + 2] | (data[pos + 3] << 8),
                        w = data[pos + 4] | (data[pos + 5] << 8),
                        h = data[pos + 6] | (data[pos + 7] << 8);
    const std::uint8_t flags = data[pos + 8];
    pos += 9;
    std::vector<std::uint8_t> local;
    if (flags & 0x80) {
      const std::size_t n = 3u << ((flags & 7) + 1);
      const std::size_t take = std::min(n, size - pos);
      local.assign(data + pos, data + pos + take);
      pos += take;
    }
    if (pos >= size) break;
    const int minCodeSize = data[pos++];
    std::vector<std::uint8_t> packed;
    SubBlocks(data, size, pos, &packed);
    const std::vector<std::uint8_t>& table = (flags & 0x80) ? local : global;
    const std::size_t count = std::size_t{w} * h;
    const std::vector<std::uint8_t> indexes =
        count <= maxPixels ? Lzw(packed, minCodeSize, count) : std::vector<std::uint8_t>{};
    // Interlaced images store every 8th row from 0, every 8th from 4, every 4th from 2, then the
    // odd rows.
    std::vector<std::uint32_t> rows;
    rows.reserve(h);
    if (flags & 0x40) {
      for (const auto& [start, stepRows] : {std::pair{0u, 8u}, {4u, 8u}, {2u, 4u}, {1u, 2u}})
        for (std::uint32_t y = start; y < h; y += stepRows) rows.push_back(y);
    } else {
      for (std::uint32_t y = 0; y < h; ++y) rows.push_back(y);
    }
    for (std::size_t i = 0; i < indexes.size(); ++i) {
      const std::uint32_t x = left + static_cast<std::uint32_t>(i % w), y = top + rows[i / w];
      if (x >= width || y >= height) continue;
      const int index = indexes[i];
      if (index == transparent) continue;
      const std::size_t at = 3 * static_cast<std::size_t>(index);
      bmp->pixels[std::size_t{y} * width + x] =
          at + 2 < table.size() ? Premultiplied(table[at], table[at + 1], table[at + 2], 255)
                                : 0xFF000000u;
    }
    break;  // the first image is the picture
  }
  FinishOpacity(*bmp);
  return bmp;
}

// --- Pictures as movies
// ----------------------------------------------------------------------------

std::shared_ptr<const Bitmap> DecodeJpegPicture(ImageLoader* images, const std::uint8_t* data,
                                                std::size_t size, std::size_t maxPixels) {
  if (!images || size == 0) return nullptr;
  const std::optional<Surface> s = images->Decode(data, size);
  if (!s || s->Empty()) return nullptr;
  const std::size_t pixels = static_cast<std::size_t>(s->width()) * s->height();
  if (pixels > maxPixels) return nullptr;
  auto bmp = std::make_shared<Bitmap>();
  bmp->width = s->width();
  bmp->height = s->height();
  bmp->pixels.resize(pixels);
  for (std::size_t i = 0; i < pixels; ++i) bmp->pixels[i] = 0xFF000000u | (s->data()[i] & 0xFFFFFF);
  return bmp;
}

std::optional<Movie> PictureMovie(const std::uint8_t* data, std::size_t size, ImageLoader* images,
                                  const ParseLimits& limits) {
  std::shared_ptr<const Bitmap> picture;
  if (IsPng(data, size))
    picture = DecodePng(data, size, limits.maxBitmapPixels);
  else if (IsGif(data, size))
    picture = DecodeGif(data, size, limits.maxBitmapPixels);
  else if (size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF)
    picture = DecodeJpegPicture(images, data, size, limits.maxBitmapPixels);
  if (!picture) return std::nullopt;
  constexpr std::uint16_t kBitmap = 1, kShape = 2;
  const float w = static_cast<float>(picture->width) * 20,
              h = static_cast<float>(picture->height) * 20;
  Movie movie;
  movie.version = 8;
  movie.frame = TwipsRect{0, static_cast<std::int32_t>(w), 0, static_cast<std::int32_t>(h)};
  movie.characters.emplace(kBitmap, picture);
  // A rectangle of the picture's size filled with it, pixel for pixel, unsmoothed.
  Shape shape;
  FillStyle fill;
  fill.kind = FillKind::kBitmap;
  fill.bitmap = kBitmap;
  fill.matrix.a = fill.matrix.d = 20;
  fill.repeat = false;
  fill.smoothed = false;
  shape.fills.push_back(fill);
  AddRectangle(shape, 0, 0, w, h);
  movie.characters.emplace(kShape, std::move(shape));
  PlaceCommand place;
  place.character = kShape;
  place.depth = 1;
  movie.timeline.frames.emplace_back().commands.push_back(std::move(place));
  movie.timeline.bytes = static_cast<std::uint32_t>(std::min<std::size_t>(size, UINT32_MAX));
  movie.headerFrameCount = 1;
  return movie;
}

}  // namespace dbx::swf
