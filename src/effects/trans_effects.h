// modTransEffects: the nineteen transitions between two pictures, the effect
// table `RunEffect`, the running flag `EffectRunning`, `EffectIdle` and the stop request.
//
// Every transition is a small object (an Effect) that holds all its state and runs one iteration
// of its frame loop per call. A TransEffects driver owns the one running transition and the flag.
//
// Driving a transition frame by frame (what the slideshow does, one iteration per displayed frame):
//
//   TransEffects fx;                                  // one per slideshow window
//   EffectSurfaces s{&picture1, &picture2, &picture3}; // target, incoming, outgoing
//   if (fx.Start(effectNumber, saverTimeText, s, random) == StartResult::kStarted) {
//     // on every display frame (and, for the blinds, not before PauseAfterFrameMs() have passed
//     // since the previous iteration):
//     if (!fx.Frame()) {
//       // The transition is over: the target holds the incoming picture (or, after a stop, the
//       // last frame). Refresh the three surfaces (the slideshow's step does) and go on with the
//       step.
//     }
//   }
//
// Frame() refreshes the target (PictureBox::Refresh) after every frame it draws;
// it does not refresh after the final copy: the caller refreshes the surfaces then.
//
// Blocking mode (RunEffect): RunEffect starts the transition and calls Frame() until it
// ends, calling `hooks.yield` after every frame (the caller lets pending messages run there, and
// waits for the next display frame, so that input can end the screensaver in mid-transition) and
// `hooks.sleep(ms)` after the yield when the effect asks for a pause (the blinds: 100 ms). Both
// hooks may be empty (tests, the render tool). A handler that runs inside the yield may call
// RequestStop(); a RunEffect or Start called inside the yield while a transition runs draws nothing
// and returns kBusy at once. Do not destroy the driver inside the yield.
//
// Surfaces: the routines take the pixel size W × H of the target (EffectPixelSize) for all three;
// a source of another size is used through a copy padded with black. Do not resize the surfaces
// while a transition runs: a surface whose pixels were reallocated ends the transition at once.
// At the end of a blend (effects 16 to 18) the three surfaces exchange their pixel buffers when
// they have the same size, so take views (PictureBox::Image) afresh rather than keeping them.
//
// The stop request: RequestStop() clears EffectRunning. The next Frame() then ends the transition
// without drawing, whatever the effect, its phase and its step base: the target keeps the last
// frame; the blends still exchange their pictures; a mask transition releases its off-screen
// surfaces. Until that Frame() has run (Active() is true) no new transition starts.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <string_view>

#include "effects/picture_box.h"
#include "effects/raster.h"

namespace dbx {

// The three surfaces of a transition: all must be non-null.
struct EffectSurfaces {
  PictureBox* target = nullptr;    // Picture1, visible: every frame is drawn here
  PictureBox* incoming = nullptr;  // Picture2, the incoming picture, composed at full size
  PictureBox* outgoing = nullptr;  // Picture3, a copy of the outgoing picture
};

// A uniform random number in [0, 1). The slideshow supplies its own generator (seeded once per
// window when it loads); an empty function uses the driver's own.
using RandomSource = std::function<double()>;

enum class StartResult {
  kStarted,       // the transition runs; call Frame()
  kNoSuchEffect,  // a number outside 0 to 18: nothing happened
  kBusy,          // a transition is running (or stopped and not yet wound up): nothing happened
  kBadStepBase,   // "SaverTime" is not a whole number in the 32-bit range: nothing happened
  kNoSurfaces,    // a surface pointer was null: nothing happened
};

struct FrameHooks {
  std::function<void()> yield;     // let pending messages run / wait for the next frame
  std::function<void(int)> sleep;  // pause for the given milliseconds
};

inline constexpr int kEffectCount = 19;

// The names of the effects, for tools and messages.
const char* EffectName(int effect);

// One transition. Implementations live in the .cpp files; the driver creates them.
class Effect {
 public:
  virtual ~Effect() = default;
  // One iteration while EffectRunning is set. True: a frame was drawn and more follow. False: the
  // end test held; the final copy is done.
  virtual bool Iterate() = 0;
  // EffectRunning was found cleared: the transition ends now, without drawing a frame (it may
  // still wind up, as the blends exchange their pictures).
  virtual void Stopped() {}
  // A pause after every iteration (the blinds).
  virtual int PauseAfterFrameMs() const { return 0; }
  // Whether it holds off-screen surfaces now (the mask transition's reference kernel).
  virtual bool HoldsOffscreenSurfaces() const { return false; }

  // The part of the target that the last Iterate changed, where the transition keeps count
  // (nothing: any of it). The driver forgets the changes before each Iterate, and shows only
  // these, so a transition that keeps count reports every pixel it writes.
  std::optional<Rect> Changed() const {
    if (!tracked_ || whole_) return std::nullopt;
    return changed_;
  }
  void ForgetChanges() {
    changed_ = {};
    whole_ = false;
  }

 protected:
  // A transition that keeps count of its changes says so once, in its set-up.
  void TrackChanges(std::int64_t width, std::int64_t height) {
    tracked_ = true;
    width_ = width;
    height_ = height;
  }
  // Columns [x, x + w) of rows [y, y + h) changed (clipped to the target).
  void Changes(std::int64_t x, std::int64_t y, std::int64_t w, std::int64_t h);
  void ChangesAll() { whole_ = true; }

 private:
  bool tracked_ = false, whole_ = false;
  std::int64_t width_ = 0, height_ = 0;
  Rect changed_;
};

// The largest frame (in bytes) that the fast kernels of the split scroll and the comb slide work
// on in place, frame after frame, within the target (16 MiB by default: a frame the cache keeps);
// larger ones are copied from the pictures. Returns the size it replaces (tests take both ways
// with small pictures).
std::size_t SetInPlaceBytes(std::size_t bytes);

class TransEffects {
 public:
  TransEffects();
  ~TransEffects();
  TransEffects(const TransEffects&) = delete;
  TransEffects& operator=(const TransEffects&) = delete;

  // Kernel::kPlain runs the plain reference loops (tests compare them with the fast ones).
  void SetKernel(Kernel k) { kernel_ = k; }
  Kernel GetKernel() const { return kernel_; }

  // The effect table: sets up effect `effect` (0..18) with the step base converted from
  // `saverTime` (rounded half to even), drawing the orientation at random where the table does.
  // Draws nothing except the split scroll's set-up copy.
  StartResult Start(int effect, std::string_view saverTime, const EffectSurfaces& surfaces,
                    const RandomSource& random = {});
  // The same with the step base as a number.
  StartResult StartWithStepBase(int effect, std::int32_t stepBase, const EffectSurfaces& surfaces,
                                const RandomSource& random = {});

  // Runs one iteration. True while the transition goes on; false once it has ended (or when none
  // is active).
  bool Frame();

  // Milliseconds to wait after the iteration just run before the next one (100 for the blinds).
  int PauseAfterFrameMs() const;

  // Blocking RunEffect: Start, then Frame() with the hooks between iterations until
  // the transition ends. Returns what Start returned.
  StartResult RunEffect(int effect, std::string_view saverTime, const EffectSurfaces& surfaces,
                        const FrameHooks& hooks, const RandomSource& random = {});

  // The stop request: clears EffectRunning; the running transition ends at its next iteration.
  void RequestStop() { running_ = false; }
  bool EffectRunning() const { return running_; }
  bool EffectIdle() const { return !running_; }
  // A transition object exists (running, or stopped and waiting for its last Frame()).
  bool Active() const { return static_cast<bool>(effect_); }
  // For tests: the running transition holds off-screen surfaces.
  bool HoldsOffscreenSurfaces() const { return effect_ && effect_->HoldsOffscreenSurfaces(); }

 private:
  struct SurfaceStamp {
    const Pixel* data = nullptr;
    int width = 0;
    int height = 0;
    friend bool operator==(const SurfaceStamp&, const SurfaceStamp&) = default;
  };
  struct Watch {
    EffectSurfaces surfaces;
    SurfaceStamp target, incoming, outgoing;
  };
  static SurfaceStamp Snapshot(const PictureBox* box);
  double NextRandom(const RandomSource& random);
  void End();

  Watch watch_;

  bool running_ = false;
  Kernel kernel_ = Kernel::kFast;
  std::unique_ptr<Effect> effect_;
  bool shownWhole_ = false;  // the transition's first frame refreshed the whole target
  std::mt19937 own_random_;
  // Copies of sources whose size differs from the target's, padded with black.
  std::unique_ptr<Surface> padded_incoming_;
  std::unique_ptr<Surface> padded_outgoing_;
};

}  // namespace dbx
