#include "effects/trans_effects.h"

#include <chrono>

#include "effects/effects_internal.h"
#include "effects/numeric.h"

namespace dbx {

namespace {

constexpr const char* kNames[kEffectCount] = {"wipe from the right",
                                              "close",
                                              "open",
                                              "stretch push",
                                              "stretch doors",
                                              "random lines",
                                              "comb reveal",
                                              "comb slide",
                                              "split scroll",
                                              "blinds",
                                              "clock sweep",
                                              "circle",
                                              "corner fan",
                                              "diagonal sweep",
                                              "diagonal opening",
                                              "scissors",
                                              "soft wipe",
                                              "cross-fade",
                                              "soft circle"};

}  // namespace

const char* EffectName(int effect) {
  if (effect < 0 || effect >= kEffectCount) return "";
  return kNames[effect];
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

  const fx::Step base = stepBase;
  auto orientation = [&]() { return static_cast<int>(2.0 * NextRandom(random) + 1.0); };
  std::function<double()> rnd = [this, &random]() { return NextRandom(random); };
  switch (effect) {
    case 0:
      effect_ = fx::WipeEffect(c, 8, base);
      break;
    case 1:
      effect_ = fx::CloseEffect(c, orientation(), base);
      break;
    case 2:
      effect_ = fx::OpenEffect(c, orientation(), base);
      break;
    case 3:
      effect_ = fx::StretchPushEffect(c, 1, base + 50, 0, 1);
      break;
    case 4:
      effect_ = fx::StretchDoorsEffect(c, orientation(), base + 50, 0, 1);
      break;
    case 5:
      effect_ = fx::RandomLinesEffect(c, orientation(), base, rnd);
      break;
    case 6:
      effect_ = fx::CombRevealEffect(c, orientation(), base, 1, true);
      break;
    case 7:
      effect_ = fx::CombSlideEffect(c, orientation(), base, 1, true);
      break;
    case 8:
      effect_ = fx::SplitScrollEffect(c, 1, base);
      break;
    case 9:
      effect_ = fx::BlindsEffect(c, 8, base, 50);
      break;
    case 10:
      effect_ = fx::MaskEffect(c, 1, base + 10);
      break;
    case 11:
    case 12:
    case 13:
    case 14:
    case 15:
      effect_ = fx::MaskEffect(c, effect - 9, base);
      break;
    case 16:
      effect_ = fx::BlendEffect(c, 1, 75, base + 50);
      break;
    case 17:
      effect_ = fx::BlendEffect(c, 2, 50, base + 30);
      break;
    case 18:
      effect_ = fx::BlendEffect(c, 3, 75, base + 50);
      break;
    default:
      break;
  }
  watch_ = {surfaces, Snapshot(surfaces.target), Snapshot(surfaces.incoming),
            Snapshot(surfaces.outgoing)};
  running_ = true;
  return StartResult::kStarted;
}

TransEffects::SurfaceStamp TransEffects::Snapshot(const PictureBox* box) {
  return {box->Image().data(), box->PixelWidth(), box->PixelHeight()};
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
  const bool more = running_ ? effect_->Iterate() : effect_->Stopped();
  if (more) {
    watch_.surfaces.target->Refresh();
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
