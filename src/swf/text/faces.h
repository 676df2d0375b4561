// Faces to lay out and draw text with: the fonts a movie embeds and the faces installed on the
// system (through the platform's FontSource), behind one interface. Outlines are shapes in the
// face's own units (EmUnits() to the em square, y down, baseline at 0) with one fill, drawn by the
// movie renderer; a glyph is built once per face and character and kept.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/platform.h"
#include "swf/format/movie.h"

namespace dbx::swf::text {

struct GlyphInfo {
  const Shape* outline = nullptr;  // nothing to draw for blanks
  float advance = 0;               // face units
};

class Face {
 public:
  virtual ~Face() = default;
  virtual float EmUnits() const = 0;
  // Above and below the baseline, and the extra line gap, in face units.
  virtual float Ascent() const = 0;
  virtual float Descent() const = 0;
  virtual float Leading() const = 0;
  // The glyph of a character; nothing when the face has none.
  virtual std::optional<GlyphInfo> Glyph(char32_t ch) = 0;
  virtual float Kerning(char32_t /*a*/, char32_t /*b*/) const { return 0; }
  // Winding rule of the outlines: installed faces are non-zero, embedded ones even-odd.
  virtual bool NonZero() const = 0;
  virtual bool Embedded() const = 0;
};

// A font of the movie (DefineFont, DefineFont2/3).
class EmbeddedFace final : public Face {
 public:
  explicit EmbeddedFace(const Font& font);
  float EmUnits() const override { return static_cast<float>(font_.emUnits); }
  float Ascent() const override { return ascent_; }
  float Descent() const override { return descent_; }
  float Leading() const override { return static_cast<float>(font_.leading); }
  std::optional<GlyphInfo> Glyph(char32_t ch) override;
  float Kerning(char32_t a, char32_t b) const override;
  bool NonZero() const override { return false; }
  bool Embedded() const override { return true; }
  // The glyph at an index of the font (static text names glyphs by index).
  std::optional<GlyphInfo> GlyphAt(std::size_t index) const;
  const Font& font() const { return font_; }

 private:
  const Font& font_;
  std::unordered_map<char32_t, std::size_t> byCode_;
  std::vector<float> advances_;
  float ascent_ = 0, descent_ = 0;
};

// An installed face; glyph outlines are asked for once and kept.
class DeviceFace final : public Face {
 public:
  static constexpr float kUnits = 1024;
  // Glyphs kept per face; characters beyond this many distinct ones are drawn as missing.
  static constexpr std::size_t kMaxGlyphs = 8192;

  DeviceFace(FontSource& source, int handle);
  float EmUnits() const override { return kUnits; }
  float Ascent() const override { return metrics_.ascent * kUnits; }
  float Descent() const override { return metrics_.descent * kUnits; }
  float Leading() const override { return metrics_.leading * kUnits; }
  std::optional<GlyphInfo> Glyph(char32_t ch) override;
  bool NonZero() const override { return true; }
  bool Embedded() const override { return false; }

 private:
  struct Entry {
    bool present = false;
    Shape outline;
    float advance = 0;
  };
  FontSource& source_;
  int handle_;
  FaceMetrics metrics_;
  std::unordered_map<char32_t, std::unique_ptr<Entry>> glyphs_;
};

// Turns a platform outline into a one-fill shape scaled by `scale`.
Shape ShapeOfOutline(const GlyphOutline& outline, float scale);

// The faces of a movie and of the movies loaded into it: the embedded fonts of each by id and
// by name, and installed faces by family (shared by all of them).
class FontLibrary {
 public:
  // `movie` (the main one) must outlive the library; `device` may be null (no installed faces).
  FontLibrary(const Movie& movie, FontSource* device);
  void SetDeviceFonts(FontSource* device);
  // Changes whenever faces handed out before may have gone (a new font source).
  std::uint64_t generation() const { return generation_; }
  // A movie loaded beside the main one (it must outlive the library): its fonts become known by
  // name to the texts of every movie, after their own.
  void AddMovie(const Movie& movie);
  // The characters movies imported (ImportAssets): by the importing movie and its id, the movie
  // and id they come from. A font among them serves the importing movie's texts under its id.
  using Imports =
      std::map<std::pair<const Movie*, std::uint16_t>, std::pair<const Movie*, std::uint16_t>>;
  // Whoever imports the characters keeps the map (it must outlive the library).
  void SetImports(const Imports* imports) { imports_ = imports; }

  // The embedded font with that id in `movie` (the main movie when null), or nothing (no such
  // font, or one without glyphs).
  EmbeddedFace* Embedded(std::uint16_t id, const Movie* movie = nullptr);
  // The font definition with that id, glyphs or not.
  const Font* FontDefinition(std::uint16_t id, const Movie* movie = nullptr) const;
  // The font of that name (case ignored), of that style when there is one: `movie`'s own (the
  // main movie's when null), else one of another movie.
  EmbeddedFace* EmbeddedByName(std::string_view family, bool bold, bool italic,
                               const Movie* movie = nullptr);
  // An installed face (unknown families fall back to the sans-serif face); nothing without a
  // font source.
  Face* Device(std::string_view family, bool bold, bool italic);
  // The families installed on the system (empty without a font source).
  std::vector<std::string> DeviceFamilies();

 private:
  // The font of that name in one movie: of that style, else any style (in `any`).
  EmbeddedFace* ByNameIn(const Movie& movie, std::string_view family, bool bold, bool italic,
                         EmbeddedFace*& any);
  // The movie (the main one when null) and id a character is found under, imports followed.
  std::pair<const Movie*, std::uint16_t> Resolve(const Movie* movie, std::uint16_t id) const;

  const Movie& movie_;
  std::vector<const Movie*> others_;  // loaded beside it, in the order they came
  FontSource* device_;
  std::uint64_t generation_ = 0;
  std::map<std::pair<const Movie*, std::uint16_t>, std::unique_ptr<EmbeddedFace>> embedded_;
  const Imports* imports_ = nullptr;
  std::map<int, std::unique_ptr<DeviceFace>> byHandle_;  // the platform's faces
  std::map<std::string, DeviceFace*> aliases_;           // by "family|b|i"; misses too
};

// UTF-8 to code points; invalid bytes become U+FFFD.
std::u32string DecodeUtf8(std::string_view s);
std::string EncodeUtf8(std::u32string_view s);

}  // namespace dbx::swf::text
