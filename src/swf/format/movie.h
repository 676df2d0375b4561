// The movie model: what a parsed SWF file holds once its tags are read. The parser
// (ParseMovie) fills it from untrusted bytes; the renderer reads it. Everything is in twips
// (1/20 pixel) as in the file, except bitmaps, which are decoded to premultiplied ARGB.
#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace dbx {
class ImageLoader;
}

namespace dbx::swf {

struct Rgba {
  std::uint8_t r = 0, g = 0, b = 0, a = 255;
  friend bool operator==(const Rgba&, const Rgba&) = default;
};

// x' = a x + c y + tx, y' = b x + d y + ty (the file's ScaleX, RotateSkew0, RotateSkew1, ScaleY).
struct Matrix {
  double a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;

  // The transform that applies `inner` first, then this one.
  Matrix operator*(const Matrix& inner) const {
    return {a * inner.a + c * inner.b,        b * inner.a + d * inner.b,
            a * inner.c + c * inner.d,        b * inner.c + d * inner.d,
            a * inner.tx + c * inner.ty + tx, b * inner.tx + d * inner.ty + ty};
  }
  double Determinant() const { return a * d - b * c; }
  // The inverse, or nothing when the matrix collapses the plane.
  std::optional<Matrix> Inverse() const;
};

// Colour transform: channel' = channel * mult + add, mult 1.0 = 256/256 in the file.
struct ColorTransform {
  std::array<float, 4> mult{1, 1, 1, 1};  // r, g, b, a
  std::array<float, 4> add{0, 0, 0, 0};
  bool Identity() const {
    return mult == std::array<float, 4>{1, 1, 1, 1} && add == std::array<float, 4>{0, 0, 0, 0};
  }
  // The transform that applies `inner` first, then this one.
  ColorTransform operator*(const ColorTransform& inner) const;
  Rgba Apply(Rgba c) const;
};

enum class Spread : std::uint8_t { kPad = 0, kReflect = 1, kRepeat = 2 };
enum class Interpolation : std::uint8_t { kRgb = 0, kLinearRgb = 1 };

struct GradientStop {
  std::uint8_t ratio = 0;
  Rgba color;
};

struct Gradient {
  Spread spread = Spread::kPad;
  Interpolation interpolation = Interpolation::kRgb;
  float focal = 0;  // -1..1 along the x axis of the gradient square (focal gradients only)
  std::vector<GradientStop> stops;
};

enum class FillKind : std::uint8_t {
  kSolid,
  kLinear,
  kRadial,
  kFocal,
  kBitmap,
};

struct Bitmap;

struct FillStyle {
  FillKind kind = FillKind::kSolid;
  Rgba color;
  Matrix matrix;  // gradient square or bitmap pixels to shape twips
  Gradient gradient;
  std::uint16_t bitmap = 0xFFFF;
  // A picture that a script fills with (beginBitmapFill), in place of the character `bitmap`;
  // shared with the script, which can go on changing it.
  std::shared_ptr<const Bitmap> picture;
  bool repeat = true;    // bitmap fills: repeat, else clamp to the edge pixels
  bool smoothed = true;  // bitmap fills: bilinear, else nearest
};

enum class Cap : std::uint8_t { kRound = 0, kNone = 1, kSquare = 2 };
enum class Join : std::uint8_t { kRound = 0, kBevel = 1, kMiter = 2 };

struct LineStyle {
  std::uint16_t width = 20;  // twips
  Rgba color;
  bool hasFill = false;
  FillStyle fill;
  Cap startCap = Cap::kRound, endCap = Cap::kRound;
  Join join = Join::kRound;
  float miterLimit = 3;
  bool noHScale = false, noVScale = false;
};

struct Vec2 {
  float x = 0, y = 0;
  friend bool operator==(const Vec2&, const Vec2&) = default;
};

// One edge with the styles on either side. A straight edge has its control point at its middle.
struct ShapeEdge {
  Vec2 from, control, to;
  bool curve = false;
  // Indices into the shape's style tables, -1 for none.
  int fill0 = -1, fill1 = -1, line = -1;
};

struct Shape {
  std::vector<FillStyle> fills;
  std::vector<LineStyle> lines;
  std::vector<ShapeEdge> edges;
  bool nonZero = false;  // winding rule; even-odd otherwise
  // Records that bring new style tables start a new layer, drawn over the ones before it (its
  // fills, then its lines). The fill and line counts at which each layer but the last ends; none
  // when the shape has one layer.
  std::vector<std::pair<std::size_t, std::size_t>> layerEnds;
};

// Adds a rectangle's four edges, filled on their right (fill1) with the shape's fill `fill`.
void AddRectangle(Shape& s, float x0, float y0, float x1, float y1, int fill = 0);

// A morph shape is two shapes with the same edge list and paired styles; a ratio 0..65535
// picks a shape between them.
struct MorphShape {
  Shape start, end;
};

// Decoded bitmap: premultiplied 0xAARRGGBB, rows top down.
struct Bitmap {
  int width = 0, height = 0;
  std::vector<std::uint32_t> pixels;
  bool opaque = true;
};

// The events a clip can answer, by their bit in the file's clip-action flags (32-bit form; movies
// before version 6 store the low 16 bits only).
enum class ClipEvent : std::uint32_t {
  kLoad = 0x01,
  kEnterFrame = 0x02,
  kUnload = 0x04,
  kMouseMove = 0x08,
  kMouseDown = 0x10,
  kMouseUp = 0x20,
  kKeyDown = 0x40,
  kKeyUp = 0x80,
  kData = 0x100,
  kInitialize = 0x200,
  kPress = 0x400,
  kRelease = 0x800,
  kReleaseOutside = 0x1000,
  kRollOver = 0x2000,
  kRollOut = 0x4000,
  kDragOver = 0x8000,
  kDragOut = 0x10000,
  kKeyPress = 0x20000,
  kConstruct = 0x40000,
};

// One handler of a placed clip: the events it answers and its action bytes.
struct ClipAction {
  std::uint32_t events = 0;  // ClipEvent bits
  std::uint8_t keyCode = 0;  // for kKeyPress
  std::vector<std::uint8_t> code;
};

// A bitmap filter of a placed object (PlaceObject3), in the file's order of kinds. Sizes and
// distances are in stage pixels.
enum class FilterKind : std::uint8_t {
  kDropShadow = 0,
  kBlur = 1,
  kGlow = 2,
  kBevel = 3,
  kGradientGlow = 4,
  kConvolution = 5,
  kColorMatrix = 6,
  kGradientBevel = 7,
};

struct Filter {
  FilterKind kind = FilterKind::kBlur;
  float blurX = 4, blurY = 4;
  int passes = 1;  // box-blur passes (the filter's quality)
  // Shadows, glows and bevels.
  float angle = 0;     // radians
  float distance = 0;  // offset of the shadow along the angle
  float strength = 1;
  bool inner = false, knockout = false, compositeSource = true, onTop = false;
  // Drop shadow and glow: one colour; bevel: highlight then shadow; gradient kinds: their ramp.
  std::vector<GradientStop> colors;
  // Colour matrix: 4 rows of 5 (r, g, b, a, offset), offsets in 0..255 units.
  std::array<float, 20> matrix{};
  // Convolution.
  int matrixX = 0, matrixY = 0;
  float divisor = 1, bias = 0;
  std::vector<float> kernel;
  Rgba defaultColor{0, 0, 0, 0};
  bool clamp = true, preserveAlpha = true;
};

// One display-list command of a frame.
struct PlaceCommand {
  enum class Kind : std::uint8_t { kPlace, kRemove } kind = Kind::kPlace;
  std::uint16_t depth = 0;
  bool move = false;  // modifies (or, with a character, replaces) what is at the depth
  std::optional<std::uint16_t> character;
  std::optional<Matrix> matrix;
  std::optional<ColorTransform> cxform;
  std::optional<std::uint16_t> ratio;
  std::optional<std::uint16_t> clipDepth;
  std::optional<bool> visible;
  std::optional<std::string> name;       // instance name
  std::optional<std::string> className;  // PlaceObject3 class name
  std::optional<std::uint8_t> blendMode;
  std::optional<bool> cacheAsBitmap;
  std::optional<std::vector<Filter>> filters;
  std::optional<Rgba> opaqueBackground;
  std::vector<ClipAction> clipActions;  // PlaceObject2/3 event handlers
};

// A DoAction block; `afterCommands` is how many of the frame's display-list commands came before
// it in the file.
struct FrameAction {
  std::size_t afterCommands = 0;
  std::vector<std::uint8_t> code;
};

// A DoInitAction block: runs once, before the first frame actions of the frame it is in.
struct InitAction {
  std::uint16_t sprite = 0;
  std::vector<std::uint8_t> code;
};

// How sound samples are coded (the 4-bit format field of the sound tags).
enum class SoundCoding : std::uint8_t {
  kPcmNative = 0,  // uncompressed; 16-bit samples little-endian as every file has them
  kAdpcm = 1,
  kMp3 = 2,
  kPcmLittle = 3,
  kNellymoser16k = 4,
  kNellymoser8k = 5,
  kNellymoser = 6,
  kSpeex = 11,
};

// The shape of a sound's samples: coding, rate in Hz (5512, 11025, 22050 or 44100), sample size
// and channels.
struct SoundFormat {
  SoundCoding coding = SoundCoding::kPcmNative;
  int rate = 44100;
  bool sixteenBit = true;
  bool stereo = false;
};

// An event sound (DefineSound): the coded samples as stored. MP3 data starts after the
// seek-samples field.
struct SoundDef {
  SoundFormat format;
  std::uint32_t sampleCount = 0;  // per channel
  std::vector<std::uint8_t> data;
};

// One point of a volume envelope: at `position` (in 44.1 kHz samples from the start of the
// sound) the left and right levels are these, 0 (silent) to 32768 (full).
struct EnvelopePoint {
  std::uint32_t position = 0;
  std::uint16_t left = 32768, right = 32768;
};

// How a sound is started or stopped (the SOUNDINFO record). In and out points count 44.1 kHz
// samples whatever the sound's own rate.
struct SoundInfo {
  bool stop = false;        // stop every instance of the sound instead of starting it
  bool noMultiple = false;  // do not start it when it is already playing
  std::optional<std::uint32_t> inPoint, outPoint;
  std::uint16_t loops = 1;  // plays this many times (0 reads as 1)
  std::vector<EnvelopePoint> envelope;
};

// StartSound (by character id) and StartSound2 (by class name).
struct StartSoundCommand {
  std::uint16_t sound = 0;
  std::string className;  // StartSound2 only; the id is then unknown (0)
  SoundInfo info;
};

// The stream sound of a timeline (SoundStreamHead/SoundStreamHead2).
struct StreamHead {
  SoundFormat format;                 // of the blocks
  std::uint16_t samplesPerBlock = 0;  // average per frame, per channel
  std::int16_t latencySeek = 0;       // MP3 only
};

// What one frame of a timeline does, in file order within each kind.
struct Frame {
  std::vector<PlaceCommand> commands;  // display-list changes
  std::vector<FrameAction> actions;    // DoAction
  std::vector<InitAction> initActions;
  std::vector<std::string> labels;        // FrameLabel (several may name one frame)
  std::vector<StartSoundCommand> sounds;  // event sounds started or stopped on this frame
  std::vector<std::uint8_t> streamBlock;  // this frame's piece of the stream sound, if any
};

struct Scene {
  std::size_t offset = 0;  // first frame, 0-based
  std::string name;
};

struct Timeline {
  std::vector<Frame> frames;  // at least one frame once parsed
  std::vector<Scene> scenes;  // empty: one scene over the whole timeline
  // The frame a label names (first match; labels compare without regard to case), or nothing.
  std::optional<std::size_t> FindLabel(std::string_view label) const;
  std::optional<StreamHead> streamHead;
  // Bytes in the file: the whole uncompressed file for the main timeline, the tags of a sprite
  // (getBytesTotal).
  std::uint32_t bytes = 0;
  // A sprite's tags ended with an End tag right after a ShowFrame. One that did not (no End tag,
  // or a last frame without its ShowFrame, which is kept as a frame) plays to its last frame and
  // stays there, as a clip still loading does: it never loops back.
  bool complete = true;
};

// The sounds a button plays as the pointer moves over and presses it (DefineButtonSound), in
// the order over-up to idle, idle to over-up, over-up to over-down, over-down to over-up.
struct ButtonSounds {
  std::array<std::optional<StartSoundCommand>, 4> transitions;
};

struct Sprite {
  Timeline timeline;
};

// Button: the characters shown in each state and the actions run on state changes.
enum ButtonState : std::uint8_t {
  kButtonUp = 1,
  kButtonOver = 2,
  kButtonDown = 4,
  kButtonHit = 8,
};

struct ButtonRecord {
  std::uint8_t states = 0;  // ButtonState bits
  std::uint16_t character = 0;
  std::uint16_t depth = 0;
  Matrix matrix;
  ColorTransform cxform;
  std::uint8_t blendMode = 0;
  std::vector<Filter> filters;
};

// Conditions as in the file: bit 0 idle->overUp, 1 overUp->idle, 2 overUp->overDown, 3
// overDown->overUp (release), 4 overDown->outDown, 5 outDown->overDown, 6 outDown->idle, 7
// idle->overDown, 8 overDown->idle; bits 9-15 a key code.
struct ButtonAction {
  std::uint16_t conditions = 0;
  std::vector<std::uint8_t> code;
};

struct Button {
  std::vector<ButtonRecord> records;
  std::vector<ButtonAction> actions;
  bool trackAsMenu = false;
};

}  // namespace dbx::swf

#include "swf/format/text_defs.h"  // IWYU pragma: export

namespace dbx::swf {

// A video stream's definition (DefineVideoStream) and the data of its frames (the VideoFrame tags
// of every timeline, by frame number). An object of the stream shows the frame its ratio names.
struct VideoStream {
  std::uint16_t frames = 0, width = 0, height = 0;
  std::uint8_t codec = 0;
  bool smoothing = false;
  std::map<std::uint16_t, std::vector<std::uint8_t>> frameData;
};

using Character = std::variant<Shape, MorphShape, std::shared_ptr<const Bitmap>, Sprite, Button,
                               Font, StaticText, EditText, VideoStream>;

struct TwipsRect {
  std::int32_t xmin = 0, xmax = 0, ymin = 0, ymax = 0;
};

// How many tags of each code the file held (sprite contents included); the parser's own record,
// useful for diagnostics and tests.
using TagCounts = std::map<std::uint16_t, int>;

struct Movie {
  std::uint8_t version = 0;
  char compression = 'F';  // 'F', 'C' or 'Z' as in the signature
  TwipsRect frame;
  double frameRate = 12;
  std::uint16_t headerFrameCount = 0;
  std::optional<Rgba> background;
  std::map<std::uint16_t, Character> characters;
  std::map<std::uint16_t, std::shared_ptr<const SoundDef>> sounds;
  std::map<std::uint16_t, ButtonSounds> buttonSounds;  // by button id
  Timeline timeline;
  TagCounts tags;
  // ExportAssets: linkage name -> character.
  std::map<std::string, std::uint16_t> exports;
  // DefineScalingGrid: the nine-part grid of a sprite or button, by its id.
  std::map<std::uint16_t, TwipsRect> scalingGrids;
  // ImportAssets: characters of another movie (a file beside this one) that this one uses under
  // ids of its own, from the main timeline's frame the tag is in.
  struct Import {
    std::string url;
    std::vector<std::pair<std::uint16_t, std::string>> symbols;  // own id, the other's export
    std::uint32_t frame = 0;
  };
  std::vector<Import> imports;
  // The main timeline's frame (from 0) each name was exported (or imported) in.
  std::map<std::string, std::uint32_t> exportFrames;
  // The character a linkage name exports (exact match first, then without regard to case), once
  // the frame that exports it has run: `framesRun` frames of the main timeline have.
  std::optional<std::uint16_t> FindExport(std::string_view name,
                                          int framesRun = std::numeric_limits<int>::max()) const;
  bool truncated = false;  // the tag stream ended without an End tag or in the middle of a tag
};

// Limits that keep hostile files from exhausting memory or time.
struct ParseLimits {
  std::size_t maxBodyBytes = 256u << 20;         // decompressed size
  std::size_t maxBitmapPixels = 16u << 20;       // per bitmap (4096 x 4096)
  std::size_t maxTotalBitmapPixels = 32u << 20;  // all bitmaps of a movie together
  std::size_t maxEdgesPerShape = 1u << 20;
  std::size_t maxEnvelopePoints = 256;  // per sound info; the rest are dropped
};

// Undoes the file's compression: returns the 8-byte header followed by the uncompressed body,
// with the signature rewritten to "FWS". Nothing when the signature is unknown, the body cannot be
// decompressed at all, or the format needs a decoder this build does not have.
std::optional<std::vector<std::uint8_t>> DecompressSwf(const std::uint8_t* data, std::size_t size,
                                                       const ParseLimits& limits = {});

// Parses a whole file. Nothing when it is not a movie at all; a damaged movie yields what could be
// read. Bitmaps in JPEG form are decoded through `images` (none: those bitmaps are left out).
std::optional<Movie> ParseMovie(const std::uint8_t* data, std::size_t size, ImageLoader* images,
                                const ParseLimits& limits = {});

}  // namespace dbx::swf
