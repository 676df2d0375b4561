#include "swf/text/faces.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <tuple>

#include "core/utf8.h"

namespace dbx::swf::text {

namespace {

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

}  // namespace

EmbeddedFace::EmbeddedFace(const Font& font) : font_(font) {
  const std::size_t n = font.glyphs.size();
  for (std::size_t i = 0; i < n && i < font.codes.size(); ++i)
    byCode_.emplace(static_cast<char32_t>(font.codes[i]), i);
  advances_.resize(n, 0);
  for (std::size_t i = 0; i < n; ++i) {
    if (font.hasLayout && i < font.advances.size()) {
      advances_[i] = font.advances[i];
      continue;
    }
    // No layout table: the outline's right edge and a little space.
    float right = 0;
    for (const ShapeEdge& e : font.glyphs[i].edges)
      right = std::max({right, e.from.x, e.to.x, e.control.x});
    advances_[i] = right + static_cast<float>(font.emUnits) * 0.05f;
  }
  if (font.hasLayout && font.ascent + font.descent > 0) {
    ascent_ = static_cast<float>(font.ascent);
    descent_ = static_cast<float>(font.descent);
  } else {
    ascent_ = static_cast<float>(font.emUnits) * 0.9f;
    descent_ = static_cast<float>(font.emUnits) * 0.22f;
  }
}

std::optional<GlyphInfo> EmbeddedFace::GlyphAt(std::size_t index) const {
  if (index >= font_.glyphs.size()) return std::nullopt;
  const Shape& s = font_.glyphs[index];
  return GlyphInfo{s.edges.empty() ? nullptr : &s, advances_[index]};
}

std::optional<GlyphInfo> EmbeddedFace::Glyph(char32_t ch) {
  const auto it = byCode_.find(ch);
  if (it == byCode_.end()) return std::nullopt;
  return GlyphAt(it->second);
}

float EmbeddedFace::Kerning(char32_t a, char32_t b) const {
  if (font_.kerning.empty() || a > 0xFFFF || b > 0xFFFF) return 0;
  const auto it =
      font_.kerning.find({static_cast<std::uint16_t>(a), static_cast<std::uint16_t>(b)});
  return it == font_.kerning.end() ? 0 : static_cast<float>(it->second);
}

Shape ShapeOfOutline(const GlyphOutline& outline, float scale) {
  Shape s;
  s.fills.emplace_back();
  s.nonZero = true;
  Vec2 pen{}, start{};
  bool open = false;
  std::size_t p = 0;
  const std::size_t np = outline.points.size() / 2;
  auto point = [&]() -> std::optional<Vec2> {
    if (p >= np) return std::nullopt;
    const Vec2 v{outline.points[2 * p] * scale, outline.points[2 * p + 1] * scale};
    ++p;
    if (!std::isfinite(v.x) || !std::isfinite(v.y)) return Vec2{};
    return v;
  };
  auto close = [&] {
    if (open && !(pen == start)) {
      ShapeEdge e;
      e.from = pen;
      e.to = start;
      e.control = {(pen.x + start.x) / 2, (pen.y + start.y) / 2};
      e.fill1 = 0;
      s.edges.push_back(e);
    }
    open = false;
  };
  for (const GlyphOutline::Verb v : outline.verbs) {
    if (v == GlyphOutline::Verb::kMove) {
      const auto to = point();
      if (!to) break;
      close();
      pen = start = *to;
      open = true;
      continue;
    }
    ShapeEdge e;
    e.from = pen;
    e.fill1 = 0;
    if (v == GlyphOutline::Verb::kLine) {
      const auto to = point();
      if (!to) break;
      e.to = *to;
      e.control = {(pen.x + to->x) / 2, (pen.y + to->y) / 2};
    } else {
      const auto c = point();
      const auto to = point();
      if (!c || !to) break;
      e.control = *c;
      e.to = *to;
      e.curve = true;
    }
    s.edges.push_back(e);
    pen = e.to;
    open = true;
  }
  close();
  return s;
}

DeviceFace::DeviceFace(FontSource& source, int handle)
    : source_(source), handle_(handle), metrics_(source.Metrics(handle)) {}

std::optional<GlyphInfo> DeviceFace::Glyph(char32_t ch) {
  auto it = glyphs_.find(ch);
  if (it == glyphs_.end()) {
    if (glyphs_.size() >= kMaxGlyphs) return std::nullopt;
    auto entry = std::make_unique<Entry>();
    if (const auto outline = source_.Glyph(handle_, ch)) {
      entry->present = true;
      entry->outline = ShapeOfOutline(*outline, kUnits);
      entry->advance = std::isfinite(outline->advance) ? outline->advance * kUnits : 0;
    }
    it = glyphs_.emplace(ch, std::move(entry)).first;
  }
  const Entry& e = *it->second;
  if (!e.present) return std::nullopt;
  return GlyphInfo{e.outline.edges.empty() ? nullptr : &e.outline, e.advance};
}

FontLibrary::FontLibrary(const Movie& movie, FontSource* device) : movie_(movie), device_(device) {}

void FontLibrary::SetDeviceFonts(FontSource* device) {
  if (device == device_) return;
  device_ = device;
  ++generation_;
  aliases_.clear();
  byHandle_.clear();
}

void FontLibrary::AddMovie(const Movie& movie) {
  if (&movie != &movie_ && std::find(others_.begin(), others_.end(), &movie) == others_.end())
    others_.push_back(&movie);
}

std::pair<const Movie*, std::uint16_t> FontLibrary::Resolve(const Movie* movie,
                                                            std::uint16_t id) const {
  if (!movie) movie = &movie_;
  if (imports_)
    if (const auto in = imports_->find({movie, id}); in != imports_->end()) return in->second;
  return {movie, id};
}

EmbeddedFace* FontLibrary::Embedded(std::uint16_t id, const Movie* movie) {
  std::tie(movie, id) = Resolve(movie, id);
  auto it = embedded_.find({movie, id});
  if (it != embedded_.end()) return it->second.get();
  const Font* font = FontDefinition(id, movie);
  std::unique_ptr<EmbeddedFace> face;
  if (font && !font->glyphs.empty()) face = std::make_unique<EmbeddedFace>(*font);
  return embedded_.emplace(std::pair{movie, id}, std::move(face)).first->second.get();
}

const Font* FontLibrary::FontDefinition(std::uint16_t id, const Movie* movie) const {
  std::tie(movie, id) = Resolve(movie, id);
  const auto ch = movie->characters.find(id);
  return ch == movie->characters.end() ? nullptr : std::get_if<Font>(&ch->second);
}

EmbeddedFace* FontLibrary::ByNameIn(const Movie& movie, std::string_view family, bool bold,
                                    bool italic, EmbeddedFace*& any) {
  for (const auto& [id, ch] : movie.characters) {
    const Font* font = std::get_if<Font>(&ch);
    if (!font || font->glyphs.empty() || !SameName(font->name, family)) continue;
    EmbeddedFace* face = Embedded(id, &movie);
    if (!face) continue;
    if (font->bold == bold && font->italic == italic) return face;
    if (!any) any = face;
  }
  return nullptr;
}

EmbeddedFace* FontLibrary::EmbeddedByName(std::string_view family, bool bold, bool italic,
                                          const Movie* movie) {
  if (!movie) movie = &movie_;
  // The movie's own fonts first, of any style; then the others', the main movie's first.
  EmbeddedFace* any = nullptr;
  if (EmbeddedFace* face = ByNameIn(*movie, family, bold, italic, any)) return face;
  if (any) return any;
  if (movie != &movie_) {
    if (EmbeddedFace* face = ByNameIn(movie_, family, bold, italic, any)) return face;
  }
  for (const Movie* other : others_) {
    if (other == movie) continue;
    if (EmbeddedFace* face = ByNameIn(*other, family, bold, italic, any)) return face;
  }
  return any;
}

Face* FontLibrary::Device(std::string_view family, bool bold, bool italic) {
  if (!device_) return nullptr;
  std::string key(family);
  key += bold ? "|b" : "|";
  key += italic ? "|i" : "|";
  if (const auto it = aliases_.find(key); it != aliases_.end()) return it->second;
  const int handle = device_->OpenFace(family, bold, italic);
  DeviceFace* face = nullptr;
  if (handle >= 0) {
    // Families that resolve to the same installed face share its glyphs.
    auto& owned = byHandle_[handle];
    if (!owned) owned = std::make_unique<DeviceFace>(*device_, handle);
    face = owned.get();
  }
  aliases_[key] = face;
  return face;
}

std::vector<std::string> FontLibrary::DeviceFamilies() {
  return device_ ? device_->Families() : std::vector<std::string>{};
}

std::u32string DecodeUtf8(std::string_view s) {
  std::u32string out;
  out.reserve(s.size());
  std::size_t i = 0;
  while (i < s.size()) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    int extra = 0;
    char32_t cp = 0;
    if (c < 0x80) {
      cp = c;
    } else if ((c & 0xE0) == 0xC0) {
      extra = 1;
      cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      extra = 2;
      cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      extra = 3;
      cp = c & 0x07;
    } else {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    bool ok = i + static_cast<std::size_t>(extra) < s.size();
    for (int k = 1; ok && k <= extra; ++k) {
      const unsigned char d = static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]);
      if ((d & 0xC0) != 0x80) ok = false;
      cp = (cp << 6) | (d & 0x3F);
    }
    if (!ok || cp > 0x10FFFF) {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    out.push_back(cp);
    i += static_cast<std::size_t>(extra) + 1;
  }
  return out;
}

std::string EncodeUtf8(std::u32string_view s) {
  std::string out;
  out.reserve(s.size());
  for (char32_t c : s) {
    AppendUtf8(out, c > 0x10FFFF ? 0xFFFD : c);
  }
  return out;
}

}  // namespace dbx::swf::text
