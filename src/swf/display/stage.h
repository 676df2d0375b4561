// The playing state of a movie: the display lists of the main timeline and of every sprite
// instance, stepped one frame at a time.
#pragma once

#include <cstdint>
#include <map>
#include <memory>

#include "swf/format/movie.h"

namespace dbx::swf {

struct SpriteInstance;

struct DisplayObject {
  std::uint16_t character = 0;
  Matrix matrix;
  ColorTransform cxform;
  std::uint16_t ratio = 0;
  std::uint16_t clipDepth = 0;
  bool visible = true;
  std::unique_ptr<SpriteInstance> sprite;  // for sprite characters
};

struct SpriteInstance {
  const Timeline* timeline = nullptr;
  int frame = -1;                                  // the frame last applied; -1 before the first
  std::map<std::uint16_t, DisplayObject> objects;  // by depth, drawn from the lowest
};

class Stage {
 public:
  // The movie must outlive the stage.
  explicit Stage(const Movie& movie);
  // Back to before the first frame; the next Step shows frame 0.
  void Reset();
  // Shows the next frame of the main timeline (looping to the first after the last) and moves
  // every sprite instance on by one frame.
  void Step();
  int frame() const { return root_.frame; }
  const SpriteInstance& root() const { return root_; }

  // Sprite instances nested deeper than this are not created: a sprite that places itself would
  // otherwise recurse without end.
  static constexpr int kMaxNesting = 16;
  // The number of sprite instances alive at once is bounded for the same reason.
  static constexpr int kMaxInstances = 4096;

 private:
  void StepInstance(SpriteInstance& inst, int nesting);
  void Apply(SpriteInstance& inst, const PlaceCommand& cmd, int nesting);
  void AttachCharacter(DisplayObject& obj, std::uint16_t id, int nesting);
  int CountInstances(const SpriteInstance& inst) const;

  const Movie& movie_;
  SpriteInstance root_;
  int instances_ = 0;
};

}  // namespace dbx::swf
