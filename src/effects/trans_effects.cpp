#include "effects/trans_effects.h"

#include <algorithm>
#include <chrono>

#include "effects/effects_internal.h"
#include "effects/numeric.h"

namespace dbx {

namespace {

// What a table entry's set-up gets besides the context: the step base from "SaverTime" and the
// random draws. An entry draws the orientation only when it uses one, so the sequence of random
// numbers the slideshow's generator hands out stays as it was.
struct Setup {
  fx::Step base = 0;
  std::function<int()> orientation;  // 1 or 2 at random
  std::function<double()> random;    // uniform in [0, 1)
};

struct EffectEntry {
  const char* name;
  std::unique_ptr<Effect> (*make)(const fx::Context& c, const Setup& s);
};

// The effect table: the number stored in "SaverEffects" indexes it.
constexpr EffectEntry kEffects[kEffectCount] = {
    {"wipe from the right",
     [](const fx::Context& c, const Setup& s) { return fx::WipeEffect(c, 8, s.base); }},
    {"close", [](const fx::Context& c,
                 const Setup& s) { return fx::CloseEffect(c, s.orientation(), s.base); }},
    {"open", [](const fx::Context& c,
                const Setup& s) { return fx::OpenEffect(c, s.orientation(), s.base); }},
    {"stretch push", [](const fx::Context& c,
                        const Setup& s) { return fx::StretchPushEffect(c, 1, s.base + 50, 0, 1); }},
    {"stretch doors",
     [](const fx::Context& c, const Setup& s) {
       return fx::StretchDoorsEffect(c, s.orientation(), s.base + 50, 0, 1);
     }},
    {"random lines",
     [](const fx::Context& c, const Setup& s) {
       return fx::RandomLinesEffect(c, s.orientation(), s.base, s.random);
     }},
    {"comb reveal",
     [](const fx::Context& c, const Setup& s) {
       return fx::CombRevealEffect(c, s.orientation(), s.base, 1, true);
     }},
    {"comb slide",
     [](const fx::Context& c, const Setup& s) {
       return fx::CombSlideEffect(c, s.orientation(), s.base, 1, true);
     }},
    {"split scroll",
     [](const fx::Context& c, const Setup& s) { return fx::SplitScrollEffect(c, 1, s.base); }},
    {"blinds",
     [](const fx::Context& c, const Setup& s) { return fx::BlindsEffect(c, 8, s.base, 50); }},
    {"clock sweep",
     [](const fx::Context& c, const Setup& s) { return fx::MaskEffect(c, 1, s.base + 10); }},
    {"circle", [](const fx::Context& c, const Setup& s) { return fx::MaskEffect(c, 2, s.base); }},
    {"corner fan",
     [](const fx::Context& c, const Setup& s) { return fx::MaskEffect(c, 3, s.base); }},
    {"diagonal sweep",
     [](const fx::Context& c, const Setup& s) { return fx::MaskEffect(c, 4, s.base); }},
    {"diagonal opening",
     [](const fx::Context& c, const Setup& s) { return fx::MaskEffect(c, 5, s.base); }},
    {"scissors", [](const fx::Context& c, const Setup& s) { return fx::MaskEffect(c, 6, s.base); }},
    {"soft wipe",
     [](const fx::Context& c, const Setup& s) { return fx::BlendEffect(c, 1, 75, s.base + 50); }},
    {"cross-fade",
     [](const fx::Context& c, const Setup& s) { return fx::BlendEffect(c, 2, 50, s.base + 30); }},
    {"soft circle",
     [](const fx::Context& c, const Setup& s) { return fx::BlendEffect(c, 3, 75, s.base + 50); }},
};

}  // namespace

const char* EffectName(int effect) {
  if (effect < 0 || effect >= kEffectCount) return "";
  return kEffects[effect].name;
}

TransEffects::TransEffects()
    : own_random_(static_cast<std::mt19937::result_type>(
          std::chrono::steady_clock::now().time_since_epoch().count())) {}

TransEffects::~TransEffects() = default;

double TransEffects::NextRandom(const RandomSource& random) {
  double v = random ? random() : std::uniform_real_distribution<double>(0.0, 1.0)(own_random_);
  if (!(v >= 0.0)) v = 0.0;  // also NaN
  if (v >= 1.0) v = std::nextafter(1.0, 0.0);
  return v;
}

StartResult TransEffects::Start(int effect, std::string_view saverTime,
                                const EffectSurfaces& surfaces, const RandomSource& random) {
  if (running_ || effect_) return StartResult::kBusy;
  if (effect < 0 || effect >= kEffectCount) return StartResult::kNoSuchEffect;
  const std::optional<std::int32_t> b = ParseWholeNumber(saverTime);
  if (!b) return StartResult::kBadStepBase;
  return StartWithStepBase(effect, *b, surfaces, random);
}

StartResult TransEffects::StartWithStepBase(int effect, std::int32_t stepBase,
                                            const EffectSurfaces& surfaces,
                                            const RandomSource& random) {
  if (running_ || effect_) return StartResult::kBusy;
  if (effect < 0 || effect >= kEffectCount) return StartResult::kNoSuchEffect;
  if (surfaces.target == nullptr || surfaces.incoming == nullptr || surfaces.outgoing == nullptr) {
    return StartResult::kNoSurfaces;
  }
  const Size size = surfaces.target->EffectPixelSize();
  fx::Context c;
  c.running = &running_;
  c.W = size.w;
  c.H = size.h;
  c.kernel = kernel_;
  c.target_box = surfaces.target;
  c.incoming_box = surfaces.incoming;
  c.outgoing_box = surfaces.outgoing;
  c.target = surfaces.target->Image();
  // Sources of another size than the target are used through copies of the target's size,
  // padded with black, so that every routine can take W × H for all three surfaces.
  auto source = [&](PictureBox* box, std::unique_ptr<Surface>& padded) {
    if (box->PixelWidth() == size.w && box->PixelHeight() == size.h) {
      padded.reset();
      return box->Image();
    }
    padded = std::make_unique<Surface>(size.w, size.h, 0);
    CopyRect(padded->View(), 0, 0, size.w, size.h, box->Image(), 0, 0);
    return padded->View();
  };
  c.incoming = source(surfaces.incoming, padded_incoming_);
  c.outgoing = source(surfaces.outgoing, padded_outgoing_);

  Setup setup;
  setup.base = stepBase;
  setup.orientation = [this, &random]() {
    return static_cast<int>(2.0 * NextRandom(random) + 1.0);
  };
  setup.random = [this, &random]() { return NextRandom(random); };
  effect_ = kEffects[effect].make(c, setup);
  shownWhole_ = false;
  watch_ = {surfaces, Snapshot(surfaces.target), Snapshot(surfaces.incoming),
            Snapshot(surfaces.outgoing)};
  running_ = true;
  return StartResult::kStarted;
}

TransEffects::SurfaceStamp TransEffects::Snapshot(const PictureBox* box) {
  return {box->Image().data(), box->PixelWidth(), box->PixelHeight()};
}

void Effect::Changes(std::int64_t x, std::int64_t y, std::int64_t w, std::int64_t h) {
  const std::int64_t x0 = std::max<std::int64_t>(x, 0), y0 = std::max<std::int64_t>(y, 0);
  const std::int64_t x1 = std::min(x + std::max<std::int64_t>(w, 0), width_);
  const std::int64_t y1 = std::min(y + std::max<std::int64_t>(h, 0), height_);
  if (x1 <= x0 || y1 <= y0) return;
  Rect r{static_cast<int>(x0), static_cast<int>(y0), static_cast<int>(x1 - x0),
         static_cast<int>(y1 - y0)};
  if (!changed_.Empty()) {
    const int left = std::min(r.x, changed_.x), top = std::min(r.y, changed_.y);
    const int right = std::max(r.x + r.w, changed_.x + changed_.w);
    const int bottom = std::max(r.y + r.h, changed_.y + changed_.h);
    r = {left, top, right - left, bottom - top};
  }
  changed_ = r;
}

bool TransEffects::Frame() {
  if (!effect_) return false;
  // A surface that was resized (or reallocated) under the transition, for example by a resize
  // handler that ran in a yield, ends it at once without drawing: the views would be stale.
  if (Snapshot(watch_.surfaces.target) != watch_.target ||
      Snapshot(watch_.surfaces.incoming) != watch_.incoming ||
      Snapshot(watch_.surfaces.outgoing) != watch_.outgoing) {
    End();
    return false;
  }
  if (!running_) {
    // The stop request ends every transition here, in any phase.
    effect_->Stopped();
    End();
    return false;
  }
  effect_->ForgetChanges();
  if (effect_->Iterate()) {
    // The first frame shows the whole target: the pictures composed for the step are on it and
    // not on screen yet. The others show what the transition says it changed.
    watch_.surfaces.target->Refresh(shownWhole_ ? effect_->Changed() : std::nullopt);
    shownWhole_ = true;
    return true;
  }
  End();
  return false;
}

void TransEffects::End() {
  running_ = false;
  effect_.reset();
  padded_incoming_.reset();
  padded_outgoing_.reset();
}

int TransEffects::PauseAfterFrameMs() const {
  return effect_ ? effect_->PauseAfterFrameMs() : 0;
}

StartResult TransEffects::RunEffect(int effect, std::string_view saverTime,
                                    const EffectSurfaces& surfaces, const FrameHooks& hooks,
                                    const RandomSource& random) {
  const StartResult r = Start(effect, saverTime, surfaces, random);
  if (r != StartResult::kStarted) return r;
  while (Frame()) {
    if (hooks.yield) hooks.yield();
    const int pause = PauseAfterFrameMs();
    if (pause > 0 && hooks.sleep) hooks.sleep(pause);
  }
  return r;
}

}  // namespace dbx
