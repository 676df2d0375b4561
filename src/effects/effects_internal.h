// Internal to src/effects: what every transition object gets from the driver, and the factories of
// the transition routines (the module's own names).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "effects/picture_box.h"
#include "effects/raster.h"
#include "effects/trans_effects.h"

namespace dbx::fx {

struct Context {
  bool* running = nullptr;  // the driver's EffectRunning
  // Views of the pictures. The incoming and outgoing ones have the target's size W × H (the driver
  // substitutes padded copies for sources of another size).
  SurfaceView target, incoming, outgoing;
  // The real surfaces (the blends exchange their pictures on them).
  PictureBox* target_box = nullptr;
  PictureBox* incoming_box = nullptr;
  PictureBox* outgoing_box = nullptr;
  Coord W = 0, H = 0;
  Kernel kernel = Kernel::kFast;

  // End of a transition: clear EffectRunning and copy the whole incoming picture onto the target.
  void Finish() const {
    *running = false;
    CopyRectStreamed(target, 0, 0, W, H, incoming, 0, 0);
  }
};

using Step = std::int64_t;  // steps and progress: 64-bit, so that no step base can overflow them

std::unique_ptr<Effect> WipeEffect(const Context& c, int edge, Step step);
std::unique_ptr<Effect> CloseEffect(const Context& c, int orientation, Step step);
std::unique_ptr<Effect> OpenEffect(const Context& c, int orientation, Step step);
std::unique_ptr<Effect> StretchPushEffect(const Context& c, int direction, Step step, int extra,
                                          int outgoingMode);
std::unique_ptr<Effect> StretchDoorsEffect(const Context& c, int orientation, Step step, int extra,
                                           int outgoingMode);
std::unique_ptr<Effect> RandomLinesEffect(const Context& c, int orientation, Step lines,
                                          const std::function<double()>& rnd);
std::unique_ptr<Effect> CombRevealEffect(const Context& c, int orientation, Step step, int strip,
                                         bool firstParity);
std::unique_ptr<Effect> CombSlideEffect(const Context& c, int orientation, Step step, int strip,
                                        bool firstParity);
std::unique_ptr<Effect> SplitScrollEffect(const Context& c, int direction, Step step);
std::unique_ptr<Effect> BlindsEffect(const Context& c, int edge, Step step, int slat);
std::unique_ptr<Effect> MaskEffect(const Context& c, int shape, Step steps);
std::unique_ptr<Effect> BlendEffect(const Context& c, int mode, int edgeWidth, Step step);

}  // namespace dbx::fx
