// Helpers of the effect tests: random pictures and the three surfaces of a transition.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/surface.h"
#include "effects/picture_box.h"
#include "effects/trans_effects.h"

namespace dbx::test {

// A picture whose every pixel is random (top byte 0, like our loaders' pictures).
inline Surface RandomPicture(int w, int h, std::uint32_t seed) {
  Surface s(w, h);
  std::mt19937 rng(seed);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) s.At(x, y) = rng() & 0x00FFFFFFu;
  }
  return s;
}

inline bool SameImage(SurfaceView a, SurfaceView b) {
  if (a.width() != b.width() || a.height() != b.height()) return false;
  for (int y = 0; y < a.height(); ++y) {
    for (int x = 0; x < a.width(); ++x) {
      if (a.At(x, y) != b.At(x, y)) return false;
    }
  }
  return true;
}

// The first differing pixel as text, for failure messages.
inline std::string FirstDifference(SurfaceView a, SurfaceView b) {
  if (a.width() != b.width() || a.height() != b.height()) return "sizes differ";
  for (int y = 0; y < a.height(); ++y) {
    for (int x = 0; x < a.width(); ++x) {
      if (a.At(x, y) != b.At(x, y)) {
        return "at (" + std::to_string(x) + ", " + std::to_string(y) +
               "): " + std::to_string(a.At(x, y)) + " vs " + std::to_string(b.At(x, y));
      }
    }
  }
  return "none";
}

// Picture1 (target, showing the outgoing picture), Picture2 (incoming), Picture3 (outgoing).
struct Stage {
  PictureBox p1, p2, p3;
  Surface outgoing, incoming;
  int refreshes = 0;
  Rect lastChanged;  // what the last refresh said changed

  Stage(int w, int h, std::uint32_t seed = 1, int w2 = -1, int h2 = -1, int w3 = -1, int h3 = -1) {
    w2 = w2 < 0 ? w : w2;
    h2 = h2 < 0 ? h : h2;
    w3 = w3 < 0 ? w : w3;
    h3 = h3 < 0 ? h : h3;
    p1.SetPixelSize(w, h);
    p2.SetPixelSize(w2, h2);
    p3.SetPixelSize(w3, h3);
    outgoing = RandomPicture(w3, h3, seed * 7 + 1);
    incoming = RandomPicture(w2, h2, seed * 7 + 2);
    p1.PaintPicture(outgoing.View(), {0, 0});
    p3.PaintPicture(outgoing.View(), {0, 0});
    p2.PaintPicture(incoming.View(), {0, 0});
    p1.SetRefreshCallback([this](const PictureBox&, const Rect& changed) {
      ++refreshes;
      lastChanged = changed;
    });
  }
  EffectSurfaces Surfaces() { return {&p1, &p2, &p3}; }
};

// A repeatable random source.
struct FixedRandom {
  std::mt19937 rng;
  explicit FixedRandom(std::uint32_t seed) : rng(seed) {}
  RandomSource Source() {
    return [this]() { return std::uniform_real_distribution<double>(0.0, 1.0)(rng); };
  }
};

// A random source that returns the given values in turn (then the last one).
inline RandomSource Sequence(std::vector<double> values) {
  auto state = std::make_shared<std::pair<std::vector<double>, std::size_t>>(std::move(values), 0);
  return [state]() {
    auto& [v, i] = *state;
    const double r = v[std::min(i, v.size() - 1)];
    ++i;
    return r;
  };
}

}  // namespace dbx::test
