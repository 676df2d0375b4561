// Benchmarks of the transitions and the gradient painter at 1920 × 1080 and 3840 × 2160, each
// reported beside a memcpy of the same 32-bit frame measured in the same run, so that the ratio
// does not depend on the machine. One benchmark iteration is one iteration of the transition
// (one Frame()); whole transitions run back to back, restarted outside the timing. Counters:
//   memcpy_ms   the memcpy of one frame, measured at start-up in this process (median of 31)
//   mean_x      mean time of an iteration / memcpy
//   max_x       slowest single iteration / memcpy
//   setup_x     the set-up (Start) of a transition / memcpy
// The step base is 10 ("SaverTime" = 10).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

#include "effects/gradient.h"
#include "effects/picture_box.h"
#include "effects/trans_effects.h"

namespace dbx {
namespace {

using Clock = std::chrono::steady_clock;

Surface Noise(int w, int h, std::uint32_t seed) {
  Surface s(w, h);
  std::uint32_t v = seed * 2654435761u + 1;
  Pixel* p = s.data();
  const std::size_t n = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
  for (std::size_t i = 0; i < n; ++i) {
    v = v * 1664525u + 1013904223u;
    p[i] = (v >> 8) & 0x00FFFFFFu;
  }
  return s;
}

double MemcpyMs(int w, int h) {
  static double cache[2] = {0, 0};
  double& c = cache[w > 2000 ? 1 : 0];
  if (c > 0) return c;
  Surface a = Noise(w, h, 1), b(w, h);
  const std::size_t bytes = static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * sizeof(Pixel);
  std::vector<double> t;
  for (int i = 0; i < 31; ++i) {
    const auto t0 = Clock::now();
    std::memcpy(b.data(), a.data(), bytes);
    benchmark::ClobberMemory();
    t.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
  }
  std::nth_element(t.begin(), t.begin() + 15, t.end());
  c = t[15];
  return c;
}

void BM_Memcpy(benchmark::State& state) {
  const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  Surface a = Noise(w, h, 1), b(w, h);
  const std::size_t bytes = static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * sizeof(Pixel);
  for (auto _ : state) {
    std::memcpy(b.data(), a.data(), bytes);
    benchmark::ClobberMemory();
  }
  state.counters["memcpy_ms"] = MemcpyMs(w, h);
}
BENCHMARK(BM_Memcpy)->Args({1920, 1080})->Args({3840, 2160})->Unit(benchmark::kMillisecond);

struct Stage {
  PictureBox p1, p2, p3;
  Surface out, in;
  Stage(int w, int h) : out(Noise(w, h, 2)), in(Noise(w, h, 3)) {
    for (PictureBox* p : {&p1, &p2, &p3}) p->SetPixelSize(w, h);
    Reset();
  }
  void Reset() {
    p1.PaintPicture(out.View(), {0, 0});
    p3.PaintPicture(out.View(), {0, 0});
    p2.PaintPicture(in.View(), {0, 0});
  }
};

void BM_Effect(benchmark::State& state) {
  const int effect = static_cast<int>(state.range(0));
  const int w = static_cast<int>(state.range(1)), h = static_cast<int>(state.range(2));
  const double base = MemcpyMs(w, h);
  Stage st(w, h);
  TransEffects fx;
  double rnd_state = 0.37;
  RandomSource rnd = [&rnd_state]() {
    rnd_state = rnd_state * 3.7 + 0.123;
    rnd_state -= static_cast<double>(static_cast<long long>(rnd_state));
    return rnd_state;
  };
  double max_ms = 0, sum_ms = 0, setup_ms = 0;
  long frames = 0, setups = 0;
  auto start = [&]() {
    st.Reset();
    const auto t0 = Clock::now();
    fx.Start(effect, "10", {&st.p1, &st.p2, &st.p3}, rnd);
    setup_ms += std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    ++setups;
  };
  start();
  for (auto _ : state) {
    const auto t0 = Clock::now();
    const bool more = fx.Frame();
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    state.SetIterationTime(ms / 1000.0);
    max_ms = std::max(max_ms, ms);
    sum_ms += ms;
    ++frames;
    if (!more) start();
  }
  fx.RequestStop();
  while (fx.Frame()) {
  }
  state.counters["memcpy_ms"] = base;
  state.counters["mean_x"] = frames > 0 ? sum_ms / static_cast<double>(frames) / base : 0;
  state.counters["max_x"] = max_ms / base;
  state.counters["setup_x"] = setups > 0 ? setup_ms / static_cast<double>(setups) / base : 0;
  state.SetLabel(EffectName(effect));
}

void EffectArgs(benchmark::internal::Benchmark* b) {
  for (int e = 0; e < kEffectCount; ++e) {
    b->Args({e, 1920, 1080});
    b->Args({e, 3840, 2160});
  }
}
BENCHMARK(BM_Effect)->Apply(EffectArgs)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(1.0);

void BM_Gradient(benchmark::State& state) {
  const int w = static_cast<int>(state.range(1)), h = static_cast<int>(state.range(2));
  const double base = MemcpyMs(w, h);
  PictureBox p;
  p.SetPixelSize(w, h);
  ClsGrandinet g;
  g.SetAngle(static_cast<float>(state.range(0)));
  double sum_ms = 0, max_ms = 0;
  long n = 0;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    benchmark::DoNotOptimize(g.Draw(&p));
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    state.SetIterationTime(ms / 1000.0);
    sum_ms += ms;
    max_ms = std::max(max_ms, ms);
    ++n;
  }
  state.counters["memcpy_ms"] = base;
  state.counters["mean_x"] = n > 0 ? sum_ms / static_cast<double>(n) / base : 0;
  state.counters["max_x"] = max_ms / base;
}
BENCHMARK(BM_Gradient)
    ->Args({315, 1920, 1080})
    ->Args({315, 3840, 2160})
    ->Args({0, 3840, 2160})
    ->Args({90, 3840, 2160})
    ->Args({30, 3840, 2160})
    ->Args({100, 3840, 2160})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace dbx

BENCHMARK_MAIN();
