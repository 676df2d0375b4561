#include "platform/fonts_ft/freetype_fonts.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include <algorithm>
#include <cctype>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace dbx {

namespace {

std::string Lower(std::string_view s) {
  std::string o(s);
  for (char& c : o) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return o;
}

// Collects an outline in em units, y down.
struct Collector {
  GlyphOutline* out;
  double scale;  // 1 / units per em
  FT_Vector last{};
  void Point(const FT_Vector* v) {
    out->points.push_back(static_cast<float>(v->x * scale));
    out->points.push_back(static_cast<float>(-v->y * scale));
  }
};

int MoveTo(const FT_Vector* to, void* user) {
  auto* c = static_cast<Collector*>(user);
  c->out->verbs.push_back(GlyphOutline::Verb::kMove);
  c->Point(to);
  c->last = *to;
  return 0;
}
int LineTo(const FT_Vector* to, void* user) {
  auto* c = static_cast<Collector*>(user);
  c->out->verbs.push_back(GlyphOutline::Verb::kLine);
  c->Point(to);
  c->last = *to;
  return 0;
}
int ConicTo(const FT_Vector* control, const FT_Vector* to, void* user) {
  auto* c = static_cast<Collector*>(user);
  c->out->verbs.push_back(GlyphOutline::Verb::kQuad);
  c->Point(control);
  c->Point(to);
  c->last = *to;
  return 0;
}
// Cubic curves (CFF faces) are split at the middle; each half becomes one quadratic curve whose
// control point is (3 (c1 + c2) - p0 - p3) / 4.
int CubicTo(const FT_Vector* c1, const FT_Vector* c2, const FT_Vector* to, void* user) {
  auto* c = static_cast<Collector*>(user);
  const FT_Vector p0 = c->last;
  auto mid = [](const FT_Vector& a, const FT_Vector& b) {
    return FT_Vector{(a.x + b.x) / 2, (a.y + b.y) / 2};
  };
  const FT_Vector ab = mid(p0, *c1), bc = mid(*c1, *c2), cd = mid(*c2, *to);
  const FT_Vector abc = mid(ab, bc), bcd = mid(bc, cd), m = mid(abc, bcd);
  auto control = [](const FT_Vector& a, const FT_Vector& k1, const FT_Vector& k2,
                    const FT_Vector& b) {
    return FT_Vector{(3 * (k1.x + k2.x) - a.x - b.x) / 4, (3 * (k1.y + k2.y) - a.y - b.y) / 4};
  };
  const FT_Vector q1 = control(p0, ab, abc, m), q2 = control(m, bcd, cd, *to);
  ConicTo(&q1, &m, user);
  ConicTo(&q2, to, user);
  return 0;
}

class FreeTypeFonts final : public FontSource {
 public:
  FreeTypeFonts(FT_Library lib, FcConfig* config, FontFiles files)
      : lib_(lib), config_(config), files_(std::move(files)) {}
  ~FreeTypeFonts() override {
    for (auto& f : faces_) FT_Done_Face(f.face);
    FT_Done_FreeType(lib_);
    FcConfigDestroy(config_);
  }

  int OpenFace(std::string_view family, bool bold, bool italic) override {
    const std::string key = Lower(family) + (bold ? "|b" : "|") + (italic ? "|i" : "|");
    if (const auto it = byRequest_.find(key); it != byRequest_.end()) return it->second;
    std::string name(family);
    const std::string l = Lower(family);
    if (l == "_sans" || l.empty()) name = files_.sans.empty() ? "sans-serif" : files_.sans;
    if (l == "_serif") name = files_.serif.empty() ? "serif" : files_.serif;
    if (l == "_typewriter") name = files_.typewriter.empty() ? "monospace" : files_.typewriter;
    int handle = -1;
    for (const auto& [fileFamily, file] : files_.faces)
      if (handle < 0 && Lower(fileFamily) == Lower(name)) handle = Load(file, 0);
    if (handle < 0) handle = Match(name, bold, italic);
    if (handle < 0 && name != "sans-serif") handle = Match("sans-serif", bold, italic);
    byRequest_[key] = handle;
    return handle;
  }

  FaceMetrics Metrics(int face) override {
    FaceMetrics m;
    if (face < 0 || static_cast<std::size_t>(face) >= faces_.size()) return m;
    const FT_Face f = faces_[static_cast<std::size_t>(face)].face;
    const double em = f->units_per_EM > 0 ? f->units_per_EM : 1000;
    if (f->ascender > 0) m.ascent = static_cast<float>(f->ascender / em);
    if (f->descender < 0) m.descent = static_cast<float>(-f->descender / em);
    const double gap = (f->height - (f->ascender - f->descender)) / em;
    m.leading = static_cast<float>(std::max(0.0, gap));
    return m;
  }

  std::optional<GlyphOutline> Glyph(int face, char32_t ch) override {
    if (face < 0 || static_cast<std::size_t>(face) >= faces_.size()) return std::nullopt;
    const FT_Face f = faces_[static_cast<std::size_t>(face)].face;
    const FT_UInt index = FT_Get_Char_Index(f, ch);
    if (index == 0) return std::nullopt;
    if (FT_Load_Glyph(f, index, FT_LOAD_NO_SCALE | FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP) != 0)
      return std::nullopt;
    if (f->glyph->format != FT_GLYPH_FORMAT_OUTLINE) return std::nullopt;
    GlyphOutline out;
    const double em = f->units_per_EM > 0 ? f->units_per_EM : 1000;
    out.advance = static_cast<float>(f->glyph->metrics.horiAdvance / em);
    Collector c{&out, 1.0 / em};
    FT_Outline_Funcs funcs{};
    funcs.move_to = MoveTo;
    funcs.line_to = LineTo;
    funcs.conic_to = ConicTo;
    funcs.cubic_to = CubicTo;
    if (FT_Outline_Decompose(&f->glyph->outline, &funcs, &c) != 0) return std::nullopt;
    return out;
  }

  std::vector<std::string> Families() override {
    std::set<std::string> names;
    for (const auto& face : files_.faces) names.insert(face.first);
    FcPattern* pat = FcPatternCreate();
    FcObjectSet* os = FcObjectSetBuild(FC_FAMILY, nullptr);
    FcFontSet* set = FcFontList(config_, pat, os);
    if (set) {
      for (int i = 0; i < set->nfont; ++i) {
        FcChar8* fam = nullptr;
        if (FcPatternGetString(set->fonts[i], FC_FAMILY, 0, &fam) == FcResultMatch && fam)
          names.insert(reinterpret_cast<const char*>(fam));
      }
      FcFontSetDestroy(set);
    }
    FcObjectSetDestroy(os);
    FcPatternDestroy(pat);
    return {names.begin(), names.end()};
  }

 private:
  struct Loaded {
    std::string file;
    int index;
    FT_Face face;
  };

  int Match(const std::string& family, bool bold, bool italic) {
    FcPattern* pat = FcPatternCreate();
    FcPatternAddString(pat, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
    FcPatternAddInteger(pat, FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
    FcPatternAddInteger(pat, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    FcPatternAddBool(pat, FC_SCALABLE, FcTrue);
    FcConfigSubstitute(config_, pat, FcMatchPattern);
    FcDefaultSubstitute(pat);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(config_, pat, &result);
    FcPatternDestroy(pat);
    if (!match) return -1;
    FcChar8* file = nullptr;
    int index = 0;
    int handle = -1;
    if (FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch && file) {
      FcPatternGetInteger(match, FC_INDEX, 0, &index);
      handle = Load(reinterpret_cast<const char*>(file), index);
    }
    FcPatternDestroy(match);
    return handle;
  }

  int Load(const std::string& file, int index) {
    for (std::size_t i = 0; i < faces_.size(); ++i)
      if (faces_[i].file == file && faces_[i].index == index) return static_cast<int>(i);
    FT_Face face = nullptr;
    if (FT_New_Face(lib_, file.c_str(), index, &face) != 0) return -1;
    if (!FT_IS_SCALABLE(face)) {
      FT_Done_Face(face);
      return -1;
    }
    faces_.push_back({file, index, face});
    return static_cast<int>(faces_.size() - 1);
  }

  FT_Library lib_;
  FcConfig* config_;
  FontFiles files_;
  std::vector<Loaded> faces_;
  std::map<std::string, int> byRequest_;
};

}  // namespace

std::unique_ptr<FontSource> CreateFreeTypeFonts(const FontFiles& files) {
  FcConfig* config = FcInitLoadConfigAndFonts();
  if (!config) return nullptr;
  FT_Library lib = nullptr;
  if (FT_Init_FreeType(&lib) != 0) {
    FcConfigDestroy(config);
    return nullptr;
  }
  return std::make_unique<FreeTypeFonts>(lib, config, files);
}

}  // namespace dbx
