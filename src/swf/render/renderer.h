// Draws the display lists of a Stage into a 32-bit surface.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <unordered_map>
#include <vector>

#include "core/surface.h"
#include "swf/display/stage.h"
#include "swf/format/movie.h"
#include "swf/render/filters.h"
#include "swf/render/glyph_masks.h"
#include "swf/render/raster.h"

namespace dbx::swf {

namespace text {
class FontLibrary;
class TextField;
struct PlacedGlyph;
}  // namespace text

// Samples per pixel: 1 draws without anti-aliasing, 2, 4 and 16 with it (text takes at most 4).
struct RenderOptions {
  int samples = 4;
};

class Renderer {
 public:
  explicit Renderer(const Movie& movie);
  ~Renderer();
  Renderer(const Renderer&) = delete;
  Renderer& operator=(const Renderer&) = delete;

  // The faces that static texts and text fields are drawn with (none: no text is drawn). The
  // library must outlive the renderer.
  void SetFonts(text::FontLibrary* fonts);
  // Draws a text field whose box is in the space that `toDevice` maps to target pixels.
  void DrawTextField(text::TextField& field, const Matrix& toDevice, const ColorTransform& cx);

  // Draws `stage` over what the target holds; `view` maps the movie's twips to target pixels.
  void Render(const Stage& stage, SurfaceView target, const Matrix& view,
              const RenderOptions& options);

  // Draws one shape (the tests use this to check the rasteriser through real shape data).
  // `bitmap`, when given, is what the shape's bitmap fills show (instead of the movie's).
  void DrawShape(const Shape& shape, const Matrix& toDevice, const ColorTransform& cx,
                 const Bitmap* bitmap = nullptr);

  // Bounds per frame, so that a hostile movie cannot stall a frame or exhaust memory: line
  // segments flattened, edge crossings visited by the rasteriser, and pixels painted (as a
  // multiple of the target's size). Beyond them the rest of the frame is left out.
  static constexpr std::size_t kMaxSegmentsPerFrame = 1u << 20;
  static constexpr std::size_t kMaxCrossingsPerFrame = 1u << 26;
  static constexpr std::size_t kMaxOverdraw = 64;

 private:
  struct Box {
    double x0 = 1e300, y0 = 1e300, x1 = -1e300, y1 = -1e300;
    void Add(double x, double y) {
      x0 = std::min(x0, x);
      y0 = std::min(y0, y);
      x1 = std::max(x1, x);
      y1 = std::max(y1, y);
    }
    bool Empty() const { return !(x1 >= x0 && y1 >= y0); }
  };
  void DrawFocusRectangle(const Clip& clip);
  void DrawList(const Clip& parent, const Matrix& m, const ColorTransform& cx, int nesting);
  void DrawObject(const Clip& obj, const Matrix& m, const ColorTransform& cx, int nesting);
  void DrawContent(const Clip& obj, const Matrix& mm, const ColorTransform& cc, int nesting);
  // A clip with a scroll rectangle: its children moved by the rectangle's corner and clipped to
  // its size.
  void DrawOpaqueBackground(const Clip& obj, const Matrix& mm, const ColorTransform& cc);
  void DrawScrolled(const Clip& obj, const Matrix& mm, const ColorTransform& cc, int nesting);
  // A scaled clip with a nine-part grid; false where the grid does not apply (then the clip is
  // drawn as usual).
  bool DrawNineParts(const Clip& obj, const Matrix& mm, const ColorTransform& cc, int nesting);
  // Draws an object that needs a layer of its own (filters, a blend mode other than normal).
  void DrawLayered(const Clip& obj, const Matrix& m, const ColorTransform& cx, int nesting);
  // The device pixels an object's drawing can touch under `m` (the parent's transform), filters
  // of its children included.
  void AddBounds(const Clip& obj, const Matrix& m, Box& box, int nesting) const;
  // Puts a layer whose top left pixel lies at (x0, y0) onto the target with the object's colour
  // transform (on top of `cx`), blend mode and the current mask.
  void Composite(const Clip& obj, const PixelPlane& layer, int x0, int y0,
                 const ColorTransform& cx);
  // A picture of its own size, 20 twips per pixel, at the origin of `toDevice`.
  void DrawVideo(const Clip& obj, const VideoStream& stream, const Matrix& toDevice,
                 const ColorTransform& cx);
  void DrawBitmap(const Bitmap& bitmap, std::uint16_t character, bool smooth,
                  const Matrix& toDevice, const ColorTransform& cx);
  // The picture of a bitmap fill (a script's, or the character it names); null for other fills
  // and for characters that are not pictures.
  const Bitmap* PictureOf(const FillStyle& style) const;
  // The edges of each fill style: the edge, and whether it has the style on its left (drawn
  // reversed).
  using FillEdges = std::vector<std::vector<std::pair<std::size_t, bool>>>;
  // The fills of styles `from` .. `to` - 1.
  void DrawFills(const Shape& shape, const Matrix& toDevice, const ColorTransform& cx,
                 const Bitmap* bitmap, const FillEdges& byFill, FillRule rule, std::size_t from,
                 std::size_t to);
  // The edges of each line style.
  using LineEdges = std::vector<std::vector<std::size_t>>;
  // The strokes of line styles `from` .. `to` - 1.
  void DrawStrokes(const Shape& shape, const Matrix& toDevice, const ColorTransform& cx,
                   const LineEdges& byLine, std::size_t from, std::size_t to);
  void DrawText(const Clip& clip, const Character& ch, const Matrix& m, const ColorTransform& cx);
  // Glyphs filled together in one colour; `clip` (device pixels x0, y0, x1, y1) bounds them.
  void FillGlyphs(const text::PlacedGlyph* glyphs, std::size_t count, Rgba color,
                  const Matrix& toDevice, const ColorTransform& cx, const float* clip);
  // Places the glyphs' masks (made on first use) in placed_; false when one cannot be kept.
  bool PlaceGlyphMasks(const text::PlacedGlyph* glyphs, std::size_t count, const Matrix& toDevice);
  void Fill(FillRule rule, const Paint* paint);
  void Flatten(const ShapeEdge& e, const Matrix& m, bool reverse, std::vector<Segment>& out);

  const Movie& movie_;
  // The movie of the object being drawn (a movie loaded into a clip has characters of its own).
  const Movie* current_ = nullptr;
  const Movie& Current() const { return current_ ? *current_ : movie_; }
  SurfaceView target_;
  Matrix view_;
  RenderOptions options_;
  Rasterizer raster_;
  std::size_t segmentBudget_ = 0;
  std::size_t pixelBudget_ = 0;
  // Masks: each is a coverage plane of the target's size. `maskOut_` set means draw coverage
  // into it instead of colour.
  std::vector<std::vector<std::uint8_t>> maskPool_;
  std::size_t maskDepth_ = 0;
  const std::uint8_t* mask_ = nullptr;
  std::uint8_t* maskOut_ = nullptr;
  std::vector<Segment> scratch_;
  GlyphMasks glyphMasks_;
  std::vector<GlyphMasks::Placed> placed_;
  // Layers of cached and filtered objects, kept while the object looks the same; `dx`, `dy` place
  // the layer from the object's origin in whole pixels.
  struct CachedLayer {
    std::uint64_t signature = 0;
    int dx = 0, dy = 0;
    PixelPlane layer;
    bool used = false;
  };
  static constexpr std::size_t kMaxCachedPixels = 4096u * 4096u;
  std::unordered_map<const Clip*, CachedLayer> cache_;
  bool layerTarget_ = false;  // the target is a layer with alpha, not the opaque screen
  // The target is a cached picture drawn half a pixel right and down (see DrawLayered).
  bool halfShifted_ = false;
  int layers_ = 0;  // layers open now
  text::FontLibrary* fonts_ = nullptr;
  // The text field of each placed field, by the clip's serial number; fields whose clip was not
  // drawn in a frame are dropped at its end.
  struct FieldState {
    std::unique_ptr<text::TextField> field;
    std::uint16_t character = 0;
    std::uint64_t drawn = 0;  // the frame (count of Render calls) it was last drawn in
  };
  std::map<std::uint64_t, FieldState> fields_;
  std::uint64_t renders_ = 0;
};

// The shape a morph shape shows at ratio 0..65535.
Shape InterpolateMorph(const MorphShape& morph, std::uint16_t ratio);

}  // namespace dbx::swf
