// The SWF tag parser. Every read is bounds-checked (BitReader); a damaged tag is dropped or kept in
// part, and the rest of the file is still read.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "swf/format/action_tags.h"
#include "swf/format/bit_reader.h"
#include "swf/format/decode_util.h"
#include "swf/format/filter_tags.h"
#include "swf/format/movie.h"
#include "swf/format/picture_decoders.h"
#include "swf/format/sound_tags.h"
#include "swf/format/tag_readers.h"
#include "swf/format/tags.h"

namespace dbx::swf {

std::optional<Matrix> Matrix::Inverse() const {
  const double det = Determinant();
  if (!std::isfinite(det) || std::fabs(det) < 1e-12) return std::nullopt;
  Matrix m;
  m.a = d / det;
  m.b = -b / det;
  m.c = -c / det;
  m.d = a / det;
  m.tx = -(m.a * tx + m.c * ty);
  m.ty = -(m.b * tx + m.d * ty);
  return m;
}

ColorTransform ColorTransform::operator*(const ColorTransform& inner) const {
  ColorTransform r;
  for (int i = 0; i < 4; ++i) {
    r.mult[i] = mult[i] * inner.mult[i];
    r.add[i] = mult[i] * inner.add[i] + add[i];
  }
  return r;
}

Rgba ColorTransform::Apply(Rgba c) const {
  auto ch = [&](std::uint8_t v, int i) {
    const float f = v * mult[i] + add[i];
    // (A script can set factors that make NaN: that channel is 0.)
    return static_cast<std::uint8_t>(!(f > 0) ? 0 : f >= 255 ? 255 : static_cast<int>(f));
  };
  return {ch(c.r, 0), ch(c.g, 1), ch(c.b, 2), ch(c.a, 3)};
}

std::optional<std::vector<std::uint8_t>> DecompressSwf(const std::uint8_t* data, std::size_t size,
                                                       const ParseLimits& limits) {
  if (!data || size < 8) return std::nullopt;
  const char sig = static_cast<char>(data[0]);
  if (data[1] != 'W' || data[2] != 'S' || (sig != 'F' && sig != 'C' && sig != 'Z'))
    return std::nullopt;
  std::vector<std::uint8_t> out;
  if (sig == 'F') {
    const std::size_t body = std::min(size - 8, limits.maxBodyBytes);
    out.assign(data, data + 8 + body);
  } else {
    out.assign(data, data + 8);
  }
  out[0] = 'F';
  if (sig == 'F') {
    // Already whole.
  } else if (sig == 'C') {
    Inflate(data + 8, size - 8, out, limits.maxBodyBytes);
  } else {
    // ZWS: u32 compressed length (not trusted either), 5 property bytes, then the data.
    if (size < 17) return std::nullopt;
    if (!InflateLzma(data + 12, data + 17, size - 17, out, limits.maxBodyBytes))
      return std::nullopt;
  }
  if (out.size() <= 8) return std::nullopt;
  return out;
}

namespace {

constexpr int kMaxSpriteNesting = 1;  // sprites define no sprites of their own

TwipsRect ReadRect(BitReader& r) {
  r.Align();
  const unsigned n = r.UB(5);
  TwipsRect rc;
  rc.xmin = r.SB(n);
  rc.xmax = r.SB(n);
  rc.ymin = r.SB(n);
  rc.ymax = r.SB(n);
  r.Align();
  return rc;
}

}  // namespace

Matrix ReadMatrix(BitReader& r) {
  r.Align();
  Matrix m;
  if (r.UB(1)) {
    const unsigned n = r.UB(5);
    m.a = r.FB(n);
    m.d = r.FB(n);
  }
  if (r.UB(1)) {
    const unsigned n = r.UB(5);
    m.b = r.FB(n);
    m.c = r.FB(n);
  }
  const unsigned n = r.UB(5);
  m.tx = r.SB(n);
  m.ty = r.SB(n);
  r.Align();
  return m;
}

ColorTransform ReadCxform(BitReader& r, bool withAlpha) {
  r.Align();
  ColorTransform cx;
  const bool hasAdd = r.UB(1);
  const bool hasMult = r.UB(1);
  const unsigned n = r.UB(4);
  const int channels = withAlpha ? 4 : 3;
  if (hasMult)
    for (int i = 0; i < channels; ++i) cx.mult[i] = static_cast<float>(r.SB(n)) / 256.0f;
  if (hasAdd)
    for (int i = 0; i < channels; ++i) cx.add[i] = static_cast<float>(r.SB(n));
  r.Align();
  return cx;
}

namespace {

Rgba ReadRgb(BitReader& r) {
  Rgba c;
  c.r = r.U8();
  c.g = r.U8();
  c.b = r.U8();
  return c;
}
Rgba ReadRgba(BitReader& r) {
  Rgba c = ReadRgb(r);
  c.a = r.U8();
  return c;
}
Rgba ReadColor(BitReader& r, bool alpha) {
  return alpha ? ReadRgba(r) : ReadRgb(r);
}

// --- Styles ---------------------------------------------------------------------------------

// Reads one fill style; for morph shapes reads the start and the end style at once.
void ReadFillStyle(BitReader& r, int shapeVersion, bool morph, FillStyle& a, FillStyle& b) {
  const std::uint8_t type = r.U8();
  const bool alpha = morph || shapeVersion >= 3;
  if (type == 0x00) {
    a.kind = b.kind = FillKind::kSolid;
    a.color = ReadColor(r, alpha);
    b.color = morph ? ReadColor(r, true) : a.color;
  } else if (type == 0x10 || type == 0x12 || type == 0x13) {
    a.kind = b.kind = type == 0x10   ? FillKind::kLinear
                      : type == 0x12 ? FillKind::kRadial
                                     : FillKind::kFocal;
    a.matrix = ReadMatrix(r);
    b.matrix = morph ? ReadMatrix(r) : a.matrix;
    const std::uint8_t head = r.U8();
    a.gradient.spread = b.gradient.spread = static_cast<Spread>(std::min((head >> 6) & 3, 2));
    a.gradient.interpolation = b.gradient.interpolation =
        static_cast<Interpolation>(std::min((head >> 4) & 3, 1));
    const int count = head & 15;
    for (int i = 0; i < count; ++i) {
      GradientStop s;
      s.ratio = r.U8();
      s.color = ReadColor(r, alpha);
      a.gradient.stops.push_back(s);
      if (morph) {
        s.ratio = r.U8();
        s.color = ReadColor(r, true);
      }
      b.gradient.stops.push_back(s);
    }
    if (type == 0x13) {
      a.gradient.focal = static_cast<float>(r.S16() / 256.0);
      b.gradient.focal = morph ? static_cast<float>(r.S16() / 256.0) : a.gradient.focal;
    }
  } else if (type >= 0x40 && type <= 0x43) {
    a.kind = b.kind = FillKind::kBitmap;
    a.bitmap = b.bitmap = r.U16();
    a.repeat = b.repeat = (type & 1) == 0;
    a.smoothed = b.smoothed = (type & 2) == 0;
    a.matrix = ReadMatrix(r);
    b.matrix = morph ? ReadMatrix(r) : a.matrix;
  } else {
    // Unknown fill: nothing more can be read reliably; mark the reader as failed.
    r.Skip(r.remaining() + 1);
  }
}

int ReadCount(BitReader& r, bool extended) {
  int n = r.U8();
  if (n == 0xFF && extended) n = r.U16();
  return n;
}

void ReadFillStyles(BitReader& r, int shapeVersion, bool morph, Shape& a, Shape& b) {
  const int n = ReadCount(r, shapeVersion >= 2 || morph);
  for (int i = 0; i < n && !r.failed(); ++i) {
    FillStyle fa, fb;
    ReadFillStyle(r, shapeVersion, morph, fa, fb);
    a.fills.push_back(std::move(fa));
    b.fills.push_back(std::move(fb));
  }
}

void ReadLineStyles(BitReader& r, int shapeVersion, bool morph, Shape& a, Shape& b) {
  const int n = ReadCount(r, shapeVersion >= 2 || morph);
  for (int i = 0; i < n && !r.failed(); ++i) {
    LineStyle la, lb;
    la.width = r.U16();
    lb.width = morph ? r.U16() : la.width;
    if (shapeVersion >= 4) {
      r.Align();
      la.startCap = static_cast<Cap>(std::min<std::uint32_t>(r.UB(2), 2));
      la.join = static_cast<Join>(std::min<std::uint32_t>(r.UB(2), 2));
      la.hasFill = r.UB(1);
      la.noHScale = r.UB(1);
      la.noVScale = r.UB(1);
      r.UB(1);  // pixel hinting
      r.UB(5);
      r.UB(1);  // no close
      la.endCap = static_cast<Cap>(std::min<std::uint32_t>(r.UB(2), 2));
      r.Align();
      if (la.join == Join::kMiter) la.miterLimit = static_cast<float>(r.U16() / 256.0);
      if (la.hasFill) {
        ReadFillStyle(r, shapeVersion, morph, la.fill, lb.fill);
      } else {
        la.color = ReadColor(r, true);
        lb.color = morph ? ReadColor(r, true) : la.color;
      }
      lb.startCap = la.startCap;
      lb.endCap = la.endCap;
      lb.join = la.join;
      lb.hasFill = la.hasFill;
      lb.noHScale = la.noHScale;
      lb.noVScale = la.noVScale;
      lb.miterLimit = la.miterLimit;
    } else {
      la.color = ReadColor(r, morph || shapeVersion >= 3);
      lb.color = morph ? ReadColor(r, true) : la.color;
    }
    a.lines.push_back(la);
    b.lines.push_back(lb);
  }
}

// --- Shape records ----------------------------------------------------------------------------

struct Record {
  enum class Kind : std::uint8_t { kStyle, kLine, kCurve } kind = Kind::kStyle;
  bool hasMove = false;
  std::int32_t x = 0, y = 0;              // move target, or anchor delta
  std::int32_t cx = 0, cy = 0;            // control delta
  int fill0 = -2, fill1 = -2, line = -2;  // -2 unchanged, -1 none, else index into the tables
};

// Reads the records of one SHAPE. New style tables (NewStyles) are appended to `a`/`b` through
// the reader callbacks, so indices are global to the shape.
std::vector<Record> ReadRecords(BitReader& r, int shapeVersion, bool morph, Shape& a, Shape& b,
                                std::size_t maxRecords, bool allowNewStyles) {
  std::vector<Record> recs;
  r.Align();
  unsigned fillBits = r.UB(4);
  unsigned lineBits = r.UB(4);
  std::size_t fillBase = 0, lineBase = 0;
  auto mapIndex = [](std::uint32_t raw, std::size_t base, std::size_t count) {
    if (raw == 0) return -1;
    const std::size_t i = base + raw - 1;
    return i < count ? static_cast<int>(i) : -1;
  };
  while (!r.failed() && recs.size() < maxRecords) {
    Record rec;
    if (r.UB(1) == 0) {
      const bool newStyles = r.UB(1);
      const bool lineFlag = r.UB(1);
      const bool fill1Flag = r.UB(1);
      const bool fill0Flag = r.UB(1);
      const bool moveFlag = r.UB(1);
      if (!newStyles && !lineFlag && !fill1Flag && !fill0Flag && !moveFlag) break;
      if (moveFlag) {
        const unsigned n = r.UB(5);
        rec.hasMove = true;
        rec.x = r.SB(n);
        rec.y = r.SB(n);
      }
      const std::uint32_t raw0 = fill0Flag ? r.UB(fillBits) : 0;
      const std::uint32_t raw1 = fill1Flag ? r.UB(fillBits) : 0;
      const std::uint32_t rawLine = lineFlag ? r.UB(lineBits) : 0;
      if (newStyles && !allowNewStyles) break;  // a morph end shape carries no styles
      if (newStyles) {
        // The record's indices refer to the tables it brings; styles it does not name reset.
        a.layerEnds.emplace_back(a.fills.size(), a.lines.size());
        fillBase = a.fills.size();
        lineBase = a.lines.size();
        ReadFillStyles(r, shapeVersion, morph, a, b);
        ReadLineStyles(r, shapeVersion, morph, a, b);
        r.Align();
        fillBits = r.UB(4);
        lineBits = r.UB(4);
      }
      if (fill0Flag || newStyles) rec.fill0 = mapIndex(raw0, fillBase, a.fills.size());
      if (fill1Flag || newStyles) rec.fill1 = mapIndex(raw1, fillBase, a.fills.size());
      if (lineFlag || newStyles) rec.line = mapIndex(rawLine, lineBase, a.lines.size());
      rec.kind = Record::Kind::kStyle;
    } else {
      const bool straight = r.UB(1);
      const unsigned n = r.UB(4) + 2;
      if (straight) {
        rec.kind = Record::Kind::kLine;
        if (r.UB(1)) {
          rec.x = r.SB(n);
          rec.y = r.SB(n);
        } else if (r.UB(1)) {
          rec.y = r.SB(n);
        } else {
          rec.x = r.SB(n);
        }
      } else {
        rec.kind = Record::Kind::kCurve;
        rec.cx = r.SB(n);
        rec.cy = r.SB(n);
        rec.x = r.SB(n);
        rec.y = r.SB(n);
      }
    }
    recs.push_back(rec);
  }
  return recs;
}

// Turns records into edges with styles. The pen starts at the origin.
void BuildEdges(const std::vector<Record>& recs, Shape& shape) {
  float px = 0, py = 0;
  int fill0 = -1, fill1 = -1, line = -1;
  for (const Record& rec : recs) {
    if (rec.kind == Record::Kind::kStyle) {
      if (rec.hasMove) {
        px = static_cast<float>(rec.x);
        py = static_cast<float>(rec.y);
      }
      if (rec.fill0 != -2) fill0 = rec.fill0;
      if (rec.fill1 != -2) fill1 = rec.fill1;
      if (rec.line != -2) line = rec.line;
      continue;
    }
    ShapeEdge e;
    e.from = {px, py};
    if (rec.kind == Record::Kind::kLine) {
      e.to = {px + rec.x, py + rec.y};
      e.control = {(e.from.x + e.to.x) / 2, (e.from.y + e.to.y) / 2};
    } else {
      e.control = {px + rec.cx, py + rec.cy};
      e.to = {e.control.x + rec.x, e.control.y + rec.y};
      e.curve = true;
    }
    e.fill0 = fill0;
    e.fill1 = fill1;
    e.line = line;
    px = e.to.x;
    py = e.to.y;
    if (fill0 >= 0 || fill1 >= 0 || line >= 0) shape.edges.push_back(e);
  }
}

// Morph shapes: the end records repeat the start's edges one for one (moves included) but carry
// no styles. Pairs them up and writes the styled edges of both shapes.
void BuildMorphEdges(const std::vector<Record>& start, const std::vector<Record>& end,
                     MorphShape& m) {
  float sx = 0, sy = 0, ex = 0, ey = 0;
  int fill0 = -1, fill1 = -1, line = -1;
  std::size_t j = 0;
  for (const Record& rec : start) {
    if (rec.kind == Record::Kind::kStyle) {
      if (rec.hasMove) {
        sx = static_cast<float>(rec.x);
        sy = static_cast<float>(rec.y);
        if (j < end.size() && end[j].kind == Record::Kind::kStyle) {
          if (end[j].hasMove) {
            ex = static_cast<float>(end[j].x);
            ey = static_cast<float>(end[j].y);
          }
          ++j;
        }
      }
      if (rec.fill0 != -2) fill0 = rec.fill0;
      if (rec.fill1 != -2) fill1 = rec.fill1;
      if (rec.line != -2) line = rec.line;
      continue;
    }
    while (j < end.size() && end[j].kind == Record::Kind::kStyle) {
      if (end[j].hasMove) {
        ex = static_cast<float>(end[j].x);
        ey = static_cast<float>(end[j].y);
      }
      ++j;
    }
    if (j >= end.size()) break;
    const Record& er = end[j++];
    auto edgeOf = [](const Record& r, float& x, float& y) {
      ShapeEdge e;
      e.from = {x, y};
      if (r.kind == Record::Kind::kLine) {
        e.to = {x + r.x, y + r.y};
        e.control = {(e.from.x + e.to.x) / 2, (e.from.y + e.to.y) / 2};
      } else {
        e.control = {x + r.cx, y + r.cy};
        e.to = {e.control.x + r.x, e.control.y + r.y};
        e.curve = true;
      }
      x = e.to.x;
      y = e.to.y;
      return e;
    };
    ShapeEdge a = edgeOf(rec, sx, sy);
    ShapeEdge b = edgeOf(er, ex, ey);
    a.curve = b.curve = a.curve || b.curve;
    a.fill0 = b.fill0 = fill0;
    a.fill1 = b.fill1 = fill1;
    a.line = b.line = line;
    if (fill0 >= 0 || fill1 >= 0 || line >= 0) {
      m.start.edges.push_back(a);
      m.end.edges.push_back(b);
    }
  }
}

// --- Tags -------------------------------------------------------------------------------------

struct Context {
  Movie& movie;
  ImageLoader* images;
  const ParseLimits& limits;
  std::vector<std::uint8_t> jpegTables;
  std::size_t bitmapPixels = 0;  // decoded so far

  // How many pixels the next bitmap may have.
  std::size_t PixelRoom() const {
    const std::size_t left =
        bitmapPixels < limits.maxTotalBitmapPixels ? limits.maxTotalBitmapPixels - bitmapPixels : 0;
    return std::min(limits.maxBitmapPixels, left);
  }
};

void ParseShape(BitReader& r, int version, Context& ctx) {
  const std::uint16_t id = r.U16();
  ReadRect(r);
  Shape shape, dummy;
  if (version == 4) {
    ReadRect(r);
    const std::uint8_t flags = r.U8();
    shape.nonZero = (flags & 4) != 0;
  }
  ReadFillStyles(r, version, false, shape, dummy);
  ReadLineStyles(r, version, false, shape, dummy);
  const auto recs = ReadRecords(r, version, false, shape, dummy, ctx.limits.maxEdgesPerShape,
                                /*allowNewStyles=*/true);
  BuildEdges(recs, shape);
  ctx.movie.characters.insert_or_assign(id, std::move(shape));
}

void ParseMorph(BitReader& r, int version, Context& ctx) {
  const std::uint16_t id = r.U16();
  ReadRect(r);
  ReadRect(r);
  if (version == 2) {
    ReadRect(r);
    ReadRect(r);
    r.U8();
  }
  const std::uint32_t offset = r.U32();
  const std::size_t endStart = r.pos() + offset;
  MorphShape m;
  ReadFillStyles(r, version == 2 ? 4 : 3, true, m.start, m.end);
  ReadLineStyles(r, version == 2 ? 4 : 3, true, m.start, m.end);
  const auto startRecs =
      ReadRecords(r, 3, true, m.start, m.end, ctx.limits.maxEdgesPerShape, false);
  if (endStart > r.size()) return;
  BitReader er(r.data() + endStart, r.size() - endStart);
  Shape da, db;
  const auto endRecs = ReadRecords(er, 3, true, da, db, ctx.limits.maxEdgesPerShape, false);
  BuildMorphEdges(startRecs, endRecs, m);
  ctx.movie.characters.insert_or_assign(id, std::move(m));
}

std::shared_ptr<const Bitmap> DecodeJpeg(Context& ctx, const std::uint8_t* data, std::size_t size,
                                         bool useTables) {
  if (size == 0) return nullptr;
  // Since version 8 the tag may hold a PNG or GIF picture instead, which keeps its transparency.
  if (IsPng(data, size)) return DecodePng(data, size, ctx.PixelRoom());
  if (IsGif(data, size)) return DecodeGif(data, size, ctx.PixelRoom());
  const auto clean = CleanJpeg(useTables ? ctx.jpegTables.data() : nullptr,
                               useTables ? ctx.jpegTables.size() : 0, data, size);
  return DecodeJpegPicture(ctx.images, clean.data(), clean.size(), ctx.PixelRoom());
}

void StoreBitmap(Context& ctx, std::uint16_t id, std::shared_ptr<const Bitmap> bmp) {
  if (!bmp) return;
  ctx.bitmapPixels += bmp->pixels.size();
  ctx.movie.characters.insert_or_assign(id, std::move(bmp));
}

void ParseBitmap(BitReader& r, std::uint16_t code, Context& ctx) {
  const std::uint16_t id = r.U16();
  if (r.failed()) return;
  const std::uint8_t* p = r.cursor();
  const std::size_t n = r.remaining();
  switch (static_cast<Tag>(code)) {
    case Tag::kDefineBits:
      StoreBitmap(ctx, id, DecodeJpeg(ctx, p, n, true));
      break;
    case Tag::kDefineBitsJpeg2:
      StoreBitmap(ctx, id, DecodeJpeg(ctx, p, n, false));
      break;
    case Tag::kDefineBitsJpeg3:
    case Tag::kDefineBitsJpeg4: {
      const std::uint32_t alphaOffset = r.U32();
      if (code == static_cast<std::uint16_t>(Tag::kDefineBitsJpeg4)) r.U16();  // deblocking filter
      const std::uint8_t* jpeg = r.cursor();
      const std::size_t avail = r.remaining();
      if (r.failed() || alphaOffset > avail) return;
      auto bmp = DecodeJpeg(ctx, jpeg, alphaOffset, false);
      if (!bmp) return;
      const bool isJpeg =
          alphaOffset >= 2 && jpeg[0] == 0xFF && (jpeg[1] == 0xD8 || jpeg[1] == 0xD9);
      if (isJpeg && avail > alphaOffset) {
        auto withAlpha = std::make_shared<Bitmap>(*bmp);
        ApplyAlphaPlane(*withAlpha, jpeg + alphaOffset, avail - alphaOffset);
        bmp = std::move(withAlpha);
      }
      StoreBitmap(ctx, id, std::move(bmp));
      break;
    }
    case Tag::kDefineBitsLossless:
    case Tag::kDefineBitsLossless2:
      StoreBitmap(
          ctx, id,
          DecodeLossless(p, n, code == static_cast<std::uint16_t>(Tag::kDefineBitsLossless2),
                         ctx.PixelRoom()));
      break;
    default:
      break;
  }
}

PlaceCommand ParsePlace(BitReader& r, std::uint16_t code, std::uint8_t version) {
  PlaceCommand c;
  if (code == static_cast<std::uint16_t>(Tag::kPlaceObject)) {
    c.character = r.U16();
    c.depth = r.U16();
    c.matrix = ReadMatrix(r);
    if (r.remaining() > 0) c.cxform = ReadCxform(r, false);
    c.move = true;  // PlaceObject replaces whatever is at the depth
    return c;
  }
  const std::uint8_t flags = r.U8();
  std::uint8_t flags2 = 0;
  const bool third = code != static_cast<std::uint16_t>(Tag::kPlaceObject2);
  if (third) flags2 = r.U8();
  c.depth = r.U16();
  c.move = flags & 1;
  const bool hasChar = flags & 2;
  // A class name is present only with its own flag; files with the image flag (a bitmap placed
  // directly) carry none.
  if (third && (flags2 & 8)) c.className = r.String();
  if (hasChar) c.character = r.U16();
  if (flags & 4) c.matrix = ReadMatrix(r);
  if (flags & 8) c.cxform = ReadCxform(r, true);
  if (flags & 16) c.ratio = r.U16();
  if (flags & 32) c.name = r.String();
  if (flags & 64) c.clipDepth = r.U16();
  if (third) {
    if (flags2 & 1) c.filters = ReadFilterList(r);
    if (flags2 & 2) c.blendMode = r.U8();
    if (flags2 & 4) c.cacheAsBitmap = r.U8() != 0;
    if ((flags2 & 32) && !r.failed()) {
      const std::uint8_t v = r.U8();
      if (!r.failed()) c.visible = v != 0;
    }
    if ((flags2 & 64) && !r.failed()) {
      const Rgba bg = ReadRgba(r);
      if (!r.failed()) c.opaqueBackground = bg;
    }
  }
  if ((flags & 128) && !r.failed()) ReadClipActions(r, version, c.clipActions);
  return c;
}

using PendingLabels = std::vector<std::pair<std::size_t, std::string>>;

// Tags after the last ShowFrame: display-list changes make a last frame of every timeline; a
// sprite keeps any other content there too (its scripts run once, see Timeline::complete).
void FinishTimeline(Timeline& tl, Frame& current, PendingLabels& labels, bool sprite) {
  const bool partial = !current.commands.empty() ||
                       (sprite && (!current.actions.empty() || !current.initActions.empty() ||
                                   !current.sounds.empty()));
  if (partial) tl.complete = false;
  if (partial || tl.frames.empty()) tl.frames.push_back(std::move(current));
  current = {};
  for (auto& [frame, name] : labels)
    if (frame < tl.frames.size()) tl.frames[frame].labels.push_back(std::move(name));
  labels.clear();
}

void ParseTags(BitReader& r, Timeline& tl, Context& ctx, int nesting) {
  Frame current;
  PendingLabels sceneLabels;
  bool ended = false;
  while (r.remaining() >= 2) {
    const std::uint16_t head = r.U16();
    const std::uint16_t code = head >> 6;
    std::size_t len = head & 0x3F;
    if (len == 0x3F) len = r.U32();
    if (r.failed()) break;
    if (len > r.remaining()) {
      ctx.movie.truncated = true;
      len = r.remaining();
    }
    BitReader t(r.cursor(), len);
    r.Skip(len);
    ++ctx.movie.tags[code];
    if (code == static_cast<std::uint16_t>(Tag::kEnd)) {
      ended = true;
      break;
    }
    switch (static_cast<Tag>(code)) {
      case Tag::kShowFrame:
        tl.frames.push_back(std::move(current));
        current = {};
        break;
      case Tag::kDefineShape:
        ParseShape(t, 1, ctx);
        break;
      case Tag::kDefineShape2:
        ParseShape(t, 2, ctx);
        break;
      case Tag::kDefineShape3:
        ParseShape(t, 3, ctx);
        break;
      case Tag::kDefineShape4:
        ParseShape(t, 4, ctx);
        break;
      case Tag::kDefineMorphShape:
        ParseMorph(t, 1, ctx);
        break;
      case Tag::kDefineMorphShape2:
        ParseMorph(t, 2, ctx);
        break;
      case Tag::kPlaceObject:
      case Tag::kPlaceObject2:
      case Tag::kPlaceObject3:
      case Tag::kPlaceObject4: {
        PlaceCommand c = ParsePlace(t, code, ctx.movie.version);
        if (!t.failed() || code == static_cast<std::uint16_t>(Tag::kPlaceObject))
          current.commands.push_back(std::move(c));
        break;
      }
      case Tag::kRemoveObject:
      case Tag::kRemoveObject2: {
        PlaceCommand c;
        c.kind = PlaceCommand::Kind::kRemove;
        if (code == static_cast<std::uint16_t>(Tag::kRemoveObject)) t.U16();
        c.depth = t.U16();
        if (!t.failed()) current.commands.push_back(c);
        break;
      }
      case Tag::kDefineScalingGrid: {
        const std::uint16_t id = t.U16();
        const TwipsRect grid = ReadRect(t);
        if (!t.failed() && grid.xmax > grid.xmin && grid.ymax > grid.ymin)
          ctx.movie.scalingGrids[id] = grid;
        break;
      }
      case Tag::kSetBackgroundColor:
        if (nesting == 0) {
          const Rgba bg = ReadRgb(t);
          if (!t.failed() && !ctx.movie.background) ctx.movie.background = bg;
        }
        break;
      case Tag::kJpegTables:
        if (len > 0) ctx.jpegTables.assign(t.cursor(), t.cursor() + len);
        break;
      case Tag::kDefineBits:
      case Tag::kDefineBitsLossless:
      case Tag::kDefineBitsJpeg2:
      case Tag::kDefineBitsJpeg3:
      case Tag::kDefineBitsLossless2:
      case Tag::kDefineBitsJpeg4:
        if (nesting == 0) ParseBitmap(t, code, ctx);
        break;
      case Tag::kDefineSprite:
        if (nesting < kMaxSpriteNesting) {
          const std::uint16_t id = t.U16();
          t.U16();  // the frame count is not trusted; ShowFrame tags are counted
          if (!t.failed()) {
            Sprite sprite;
            sprite.timeline.bytes = static_cast<std::uint32_t>(t.remaining());
            ParseTags(t, sprite.timeline, ctx, nesting + 1);
            ctx.movie.characters.insert_or_assign(id, std::move(sprite));
          }
        }
        break;
      case Tag::kDoAction:
        ReadDoAction(t, len, current);
        break;
      case Tag::kDoInitAction:
        ReadDoInitAction(t, len, current);
        break;
      case Tag::kFrameLabel:
        ReadFrameLabel(t, current);
        break;
      case Tag::kImportAssets:
      case Tag::kImportAssets2:
        if (nesting == 0)
          ReadImportAssets(t, ctx.movie, static_cast<std::uint32_t>(tl.frames.size()),
                           code == static_cast<std::uint16_t>(Tag::kImportAssets2));
        break;
      case Tag::kExportAssets:
        ReadExportAssets(t, ctx.movie,
                         nesting == 0 ? static_cast<std::uint32_t>(tl.frames.size()) : 0);
        break;
      case Tag::kDefineSceneAndFrameLabelData:
        if (nesting == 0) ReadSceneAndLabels(t, tl, sceneLabels);
        break;
      case Tag::kDefineButton:
      case Tag::kDefineButton2:
        ReadButton(t, code == static_cast<std::uint16_t>(Tag::kDefineButton2), ctx.movie);
        break;
      case Tag::kDefineButtonCxform:
        ReadButtonCxform(t, ctx.movie);
        break;
      case Tag::kDefineVideoStream: {
        const std::uint16_t id = t.U16();
        VideoStream v;
        v.frames = t.U16();
        v.width = t.U16();
        v.height = t.U16();
        v.smoothing = (t.U8() & 1) != 0;
        v.codec = t.U8();
        if (!t.failed()) ctx.movie.characters.emplace(id, v);
        break;
      }
      case Tag::kVideoFrame: {
        // The data of one frame of a stream defined before (in any timeline: the stream keeps
        // its frames by number).
        const std::uint16_t id = t.U16(), number = t.U16();
        const auto it = ctx.movie.characters.find(id);
        auto* stream = it == ctx.movie.characters.end() || t.failed()
                           ? nullptr
                           : std::get_if<VideoStream>(&it->second);
        if (stream) stream->frameData[number].assign(t.cursor(), t.cursor() + t.remaining());
        break;
      }
      case Tag::kDefineFont:
      case Tag::kDefineFont2:
      case Tag::kDefineFont3:
      case Tag::kDefineFontInfo:
      case Tag::kDefineFontInfo2:
      case Tag::kDefineFontName:
      case Tag::kDefineText:
      case Tag::kDefineText2:
      case Tag::kDefineEditText:
        ParseTextTag(t, code, ctx.movie, ctx.limits);
        break;
      case Tag::kDefineSound:
        if (nesting == 0) ParseDefineSound(t, ctx.movie);
        break;
      case Tag::kStartSound:
      case Tag::kStartSound2:
        ParseStartSound(t, code, ctx.limits, current);
        break;
      case Tag::kSoundStreamHead:
      case Tag::kSoundStreamHead2:
        ParseSoundStreamHead(t, tl);
        break;
      case Tag::kSoundStreamBlock:
        ParseSoundStreamBlock(t, current);
        break;
      case Tag::kDefineButtonSound:
        if (nesting == 0) ParseDefineButtonSound(t, ctx.limits, ctx.movie);
        break;
      default:
        break;  // sounds, metadata: skipped by length
    }
  }
  if (!ended && nesting == 0) ctx.movie.truncated = true;
  if (!ended && nesting > 0) tl.complete = false;
  FinishTimeline(tl, current, sceneLabels, nesting > 0);
  if (nesting == 0) tl.complete = true;  // the main timeline of a whole file always loops
}

}  // namespace

TwipsRect ReadRectRecord(BitReader& r) {
  return ReadRect(r);
}
Matrix ReadMatrixRecord(BitReader& r) {
  return ReadMatrix(r);
}
ColorTransform ReadCxformRecord(BitReader& r, bool withAlpha) {
  return ReadCxform(r, withAlpha);
}
Rgba ReadColorRecord(BitReader& r, bool withAlpha) {
  return ReadColor(r, withAlpha);
}
Shape ReadGlyphShape(BitReader& r, std::size_t maxEdges) {
  Shape shape, dummy;
  shape.fills.emplace_back();  // the glyph's one fill; its colour comes from the text
  const auto recs = ReadRecords(r, 1, false, shape, dummy, maxEdges, /*allowNewStyles=*/false);
  BuildEdges(recs, shape);
  shape.fills.resize(1);
  shape.lines.clear();
  for (ShapeEdge& e : shape.edges) e.line = -1;
  return shape;
}

std::optional<Movie> ParseMovie(const std::uint8_t* data, std::size_t size, ImageLoader* images,
                                const ParseLimits& limits) {
  auto body = DecompressSwf(data, size, limits);
  if (!body) return std::nullopt;
  Movie movie;
  movie.compression = static_cast<char>(data[0]);
  movie.version = (*body)[3];
  BitReader r(body->data() + 8, body->size() - 8);
  movie.frame = ReadRect(r);
  const std::uint16_t rate = r.U16();
  movie.frameRate = rate / 256.0;
  movie.headerFrameCount = r.U16();
  if (r.failed()) return std::nullopt;
  Context ctx{movie, images, limits, {}};
  movie.timeline.bytes = static_cast<std::uint32_t>(body->size());
  ParseTags(r, movie.timeline, ctx, 0);
  return movie;
}

}  // namespace dbx::swf
