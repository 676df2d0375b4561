// One object of the display tree: the main timeline, a sprite instance, or any other displayed
// character (shape, morph, bitmap, text, button). Every clip has a depth in its parent, a
// transform, a colour transform and the state scripts read and write; timelines (the main one,
// sprites, clips created empty) have frames, a playing flag and children.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "swf/format/movie.h"

namespace dbx::swf {

class Stage;
struct VideoFeed;
struct VideoPlayback;
namespace text {
class TextField;
}

enum class ClipKind : std::uint8_t {
  kMovie,  // a timeline: the main one, a sprite instance, an empty clip
  kShape,
  kMorph,
  kBitmap,
  kButton,
  kText,      // static text
  kEditText,  // text field
  kVideo,     // a video stream
  kOther,     // a character this player does not draw (or none)
};

struct StagePoint {
  double x = 0, y = 0;
};

// An axis-aligned rectangle in twips; `empty` until something is added.
struct Box {
  double xmin = 0, ymin = 0, xmax = 0, ymax = 0;
  bool empty = true;
  void Add(double x, double y);
  void Add(const Box& r);
  bool Contains(double x, double y) const {
    return !empty && x >= xmin && x <= xmax && y >= ymin && y <= ymax;
  }
  bool Intersects(const Box& r) const {
    return !empty && !r.empty && xmin <= r.xmax && r.xmin <= xmax && ymin <= r.ymax &&
           r.ymin <= ymax;
  }
  // The bounds of this rectangle's four corners under `m`, in whole twips (as the player keeps
  // bounds in a parent's space).
  Box Transformed(const Matrix& m) const;
};

// Depths as the file numbers them: the timeline places at 1..16383; scripts count from
// -16384 (file depth 0), so the depth a script sees is `depth - kDepthOffset`, and attachMovie's
// depth 0 is file depth 16384.
inline constexpr int kDepthOffset = 16384;

// A point through the inverse of a clip's matrix as the original computes it: the inverse moves
// by whole twips, and the turned and scaled point is rounded to them before it moves.
StagePoint InverseInTwips(const Matrix& inverse, StagePoint p);

class Clip {
 public:
  Clip(Stage& stage, ClipKind kind, std::uint16_t character);
  ~Clip();
  Clip(const Clip&) = delete;
  Clip& operator=(const Clip&) = delete;

  Stage& stage() const { return *stage_; }

  // --- identity ---
  ClipKind kind;
  std::uint16_t character;  // 0 for the main timeline and empty clips
  // The character its parent's timeline placed it as, kept when a movie is loaded into it (the
  // timeline going back keeps such a clip).
  std::uint16_t placedAs = 0;
  // A sprite of another movie that its parent's movie imported (ImportAssets): `character` is the
  // other movie's id, `placedAs` the one the parent's movie gave it.
  bool Imported() const { return character != 0 && parent && movie != parent->movie; }
  int depth = 0;     // file depth (see kDepthOffset)
  std::string name;  // instance name ("" when none was given)
  Clip* parent = nullptr;
  std::uint64_t serial = 0;            // creation order; later clips run their frames first
  const Timeline* timeline = nullptr;  // kMovie with frames; null for an empty clip
  // Placed by a timeline at frame `placeFrame` of the parent (-1: made by a script).
  int placeFrame = -1;
  // The clip left the tree; it is freed at the end of the frame.
  bool removed = false;
  // Its unload event is queued already: a timeline removed it, and it waits for the event behind
  // everything else in its parent.
  bool unloadQueued = false;
  // The movie whose characters and exports the clip shows: the stage's, or the one loaded into
  // the clip (or into one of its parents). Set when the clip is made; never null in the tree.
  const Movie* movie = nullptr;
  // The level a root timeline is on (0: the main movie's); 0 for other clips.
  int level = 0;
  // A movie was loaded into the clip and its first frame has not run yet.
  bool loadPending = false;
  // The movie in the clip was unloaded (unloadMovie): to scripts it has no frames at all.
  bool unloaded = false;
  // Where the movie loaded into the clip came from, and its size in bytes (empty: the parent's).
  std::string url;
  double urlBytes = 0;

  // --- appearance ---
  Matrix matrix;
  ColorTransform cxform;
  std::uint16_t ratio = 0;
  std::uint16_t clipDepth = 0;  // > 0: a mask over the siblings up to this depth
  bool visible = true;
  std::uint8_t blendMode = 0;  // as in the file: 0 and 1 normal, 2 layer, 3 multiply, ...
  bool cacheAsBitmap = false;
  std::vector<Filter> filters;  // drawn through a layer of its own when not empty
  std::optional<Rgba> opaqueBackground;
  // A window onto the clip's content (stage pixels in the clip's own space): the content moves by
  // (-x, -y) and shows only within (0, 0, width, height).
  struct ScrollRect {
    double x = 0, y = 0, width = 0, height = 0;
  };
  std::optional<ScrollRect> scrollRect;
  // The nine-part grid (twips in the clip's own space): when the clip is scaled, its shapes keep
  // the parts outside the grid's middle at their own size and stretch the middle ones.
  std::optional<TwipsRect> scale9Grid;
  // Drawn under the children: what the drawing API (beginFill, lineTo, ...) made.
  Shape drawing;
  // A picture a script attached (attachBitmap), drawn under the drawing; shared with the script
  // object, so that its changes show.
  std::shared_ptr<const Bitmap> attachedBitmap;
  bool attachedSmoothing = false;
  // A video object's pictures (video_clip.h): its own stream's, decoded as its ratio moves, and
  // those of the stream a script attached (attachVideo), which it shows instead.
  std::shared_ptr<VideoPlayback> videoPlayback;
  std::shared_ptr<VideoFeed> videoFeed;
  std::optional<bool> videoSmoothing;  // set by a script (smoothing); else the stream's flag
  // A mask set by a script (setMask), not owned, and the clip this one masks so: a clip masks one
  // clip at a time and is not drawn itself while it does. Either clip's end undoes the pairing.
  Clip* maskClip = nullptr;
  Clip* maskOf = nullptr;
  void SetScriptMask(Clip* mask);
  // A script changed the transform: the timeline no longer moves the clip.
  bool scriptTransformed = false;
  // A text field's text, formats and box (kEditText only); what scripts and the renderer share.
  std::unique_ptr<text::TextField> field;

  // The scale and rotation that scripts read and write (_xscale, _yscale, _rotation; percent and
  // degrees). Kept beside the matrix so that a scale of 0 or a rotation keeps the other values.
  double XScale() const { return xscale_; }
  double YScale() const { return yscale_; }
  double Rotation() const { return rotation_; }
  void SetXScale(double percent);
  void SetYScale(double percent);
  void SetRotation(double degrees);
  void SetPosition(double xTwips, double yTwips);
  // Sets the whole matrix and derives the scale and rotation from it.
  void SetMatrix(const Matrix& m);

  // --- scripts ---
  const std::vector<ClipAction>* clipActions = nullptr;  // from the PlaceObject that placed it
  void* scriptObject = nullptr;                          // the runtime's; not owned
  std::string className;                                 // PlaceObject3 class name

  // --- timeline ---
  int currentFrame = -1;  // 0-based; -1 before the first frame ran
  int framesRun = 0;      // frames entered so far: the highest one + 1
  bool playing = true;
  int TotalFrames() const;
  int FramesLoaded() const { return TotalFrames(); }
  void Play() { playing = true; }
  void Stop() { playing = false; }
  // Goes to `frame` (0-based, clamped to the timeline), then plays or stops. The display list
  // changes at once; the target frame's actions run after the current script.
  void GotoFrame(int frame, bool play);
  // By label (or a number given as text); false when it names no frame.
  bool GotoLabel(std::string_view label, bool play);
  // A frame of a scene by the scene's name (the first scene when the name is empty).
  bool GotoScene(std::string_view scene, int frameInScene, bool play);
  void NextFrame() { GotoFrame(currentFrame + 1, false); }
  void PrevFrame() { GotoFrame(currentFrame - 1, false); }
  // The scene the current frame is in (its first frame and name); the whole timeline when none.
  Scene CurrentScene() const;

  // --- the tree ---
  const std::map<int, std::unique_ptr<Clip>>& children() const { return children_; }
  Clip* ChildAt(int fileDepth) const;
  // By instance name; without regard to case for movies before version 7.
  Clip* ChildNamed(std::string_view name) const;
  // The next free depth above every child, as a script sees it (0 when there are none).
  int NextHighestDepth() const;
  // attachMovie: a new instance of the exported symbol at `scriptDepth`; null when there is no
  // such export. What was at the depth is removed.
  Clip* Attach(std::string_view exportName, std::string_view newName, int scriptDepth);
  // createEmptyMovieClip.
  Clip* CreateEmpty(std::string_view newName, int scriptDepth);
  // createTextField: an empty text field whose box is (x, y, width, height) in twips.
  Clip* CreateTextField(std::string_view newName, int scriptDepth, double x, double y, double width,
                        double height);
  // duplicateMovieClip: a copy of this clip in the same parent (character, transform, colour,
  // clip actions, drawing), starting at its first frame.
  Clip* Duplicate(std::string_view newName, int scriptDepth);
  // removeMovieClip: removes the clip from its parent.
  void Remove();
  // swapDepths with the clip at `scriptDepth` of the same parent (or moves there if free).
  void SwapDepths(int scriptDepth);
  void SwapDepths(Clip& sibling);

  // --- geometry (twips) ---
  // The transform from this clip's space to the stage's (the main timeline's) space.
  Matrix ConcatenatedMatrix() const;
  ColorTransform ConcatenatedCxform() const;
  StagePoint LocalToGlobal(StagePoint p) const;
  // In whole twips, as the original computes it (see InverseInTwips); `p` itself for a clip
  // scaled to nothing.
  StagePoint GlobalToLocal(StagePoint p) const;
  // Bounds of the content (own graphics and children) in the space of `space` (null: own).
  Box Bounds(const Clip* space) const;
  // Whether the stage point hits the clip: its bounds, or with `shapeFlag` its filled shapes.
  bool HitTest(double xStage, double yStage, bool shapeFlag) const;
  // Whether the stage-space bounds of the two clips overlap.
  bool HitTest(const Clip& other) const;

  // --- paths ---
  // "_level0.a.b".
  std::string TargetPath() const;
  // "/a/b" ("/" for the main timeline).
  std::string SlashPath() const;
  // The root timeline (level) this clip is in.
  Clip& Root();
  bool IsRoot() const { return parent == nullptr; }

  // --- buttons ---
  std::uint8_t buttonState = kButtonUp;  // kButtonUp, kButtonOver or kButtonDown
  bool useHandCursor = true;

 private:
  friend class Stage;
  Stage* stage_;
  std::map<int, std::unique_ptr<Clip>> children_;
  double xscale_ = 100, yscale_ = 100, rotation_ = 0;
  void ApplyScaleRotation();
};

}  // namespace dbx::swf
