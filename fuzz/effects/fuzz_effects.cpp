// Fuzz target for the outside data the effects take: the "SaverTime" text (the step base), the
// effect number, odd surface sizes and the gradient's settings. Every transition must end or
// stop without touching memory outside its surfaces.
#include <cstddef>
#include <cstdint>
#include <string>

#include "effects/gradient.h"
#include "effects/numeric.h"
#include "effects/picture_box.h"
#include "effects/trans_effects.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 8) return 0;
  const int effect = static_cast<int>(data[0] % 21) - 1;  // −1 .. 19
  const int w = data[1] % 40, h = data[2] % 40;
  const int w2 = data[3] % 40, h2 = data[4] % 40;
  const float angle = static_cast<float>(static_cast<std::int8_t>(data[5])) * 7.3f;
  const int frames = data[6];
  const std::string text(reinterpret_cast<const char*>(data + 7), size - 7);
  (void)dbx::ParseWholeNumber(text);

  dbx::PictureBox p1, p2, p3;
  p1.SetPixelSize(w, h);
  p2.SetPixelSize(w2, h2);
  p3.SetPixelSize(h2, w);
  dbx::TransEffects fx;
  fx.SetKernel((data[6] & 1) != 0 ? dbx::Kernel::kPlain : dbx::Kernel::kFast);
  double r = 0.5;
  if (fx.Start(effect, text, {&p1, &p2, &p3}, [&r]() {
        return r = r * 0.7 + 0.13 - (r > 0.6 ? 0.3 : 0);
      }) == dbx::StartResult::kStarted) {
    for (int i = 0; i < frames && fx.Frame(); ++i) {
    }
    fx.RequestStop();
    for (int i = 0; i < 1000 && fx.Frame(); ++i) fx.RequestStop();
  }
  dbx::ClsGrandinet g;
  g.SetAngle(angle);
  (void)g.Draw(&p1);
  return 0;
}
