// Benchmarks of the transitions and the gradient painter at 1920 × 1080 and 3840 × 2160, each
// reported beside a memcpy of the same 32-bit frame measured in the same run, so that the ratio
// does not depend on the machine. One benchmark iteration is one iteration of the transition
// (one Frame()); whole transitions run back to back, restarted outside the timing. Counters:
//   memcpy_ms   the memcpy of one frame: for the transitions, one memcpy beside every run of the
//               transition, the fastest of them (as many samples as each iteration has); for the
//               gradient the fastest of 31 at start-up
//   iterations  iterations of one whole transition (Frame() calls, the final copy included)
//   mean_x      mean time of an iteration / memcpy
//   worst_x     the slowest iteration / memcpy (worst_at: its index)
//   setup_x     the set-up (Start) of a transition / memcpy
// Each benchmark iteration runs one whole transition; the same transition runs seven times and
// every iteration counts with its fastest time (noise from other processes only adds time).
// The step base is 10 ("SaverTime" = 10). Times are the thread's CPU time, so that other
// processes on a loaded machine do not count; the memory bandwidth they take still does, for the
// memcpy and the effects alike.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <vector>

#include "effects/gradient.h"
#include "effects/picture_box.h"
#include "effects/trans_effects.h"

namespace dbx {
namespace {

// Milliseconds of CPU time of this thread.
double ThreadMs() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

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
  const std::size_t bytes =
      static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * sizeof(Pixel);
  std::vector<double> t;
  for (int i = 0; i < 31; ++i) {
    const double t0 = ThreadMs();
    std::memcpy(b.data(), a.data(), bytes);
    benchmark::ClobberMemory();
    t.push_back(ThreadMs() - t0);
  }
  c = *std::min_element(t.begin(), t.end());
  return c;
}

void BM_Memcpy(benchmark::State& state) {
  const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  Surface a = Noise(w, h, 1), b(w, h);
  const std::size_t bytes =
      static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * sizeof(Pixel);
  for (auto _ : state) {
    const double t0 = ThreadMs();
    std::memcpy(b.data(), a.data(), bytes);
    benchmark::ClobberMemory();
    state.SetIterationTime((ThreadMs() - t0) / 1000.0);
  }
  state.counters["memcpy_ms"] = MemcpyMs(w, h);
}
BENCHMARK(BM_Memcpy)
    ->Args({1920, 1080})
    ->Args({3840, 2160})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

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
  double base = 0;
  Stage st(w, h);
  TransEffects fx;
  // Every run is the same transition: the same random numbers, so the same orientation and order.
  double rnd_state = 0.37;
  RandomSource rnd = [&rnd_state]() {
    rnd_state = rnd_state * 3.7 + 0.123;
    rnd_state -= static_cast<double>(static_cast<long long>(rnd_state));
    return rnd_state;
  };
  std::vector<double> best;  // per iteration index: the fastest of the runs
  double best_setup = 1e300;
  // A memcpy of the frame beside every run, so that both sides see the same machine.
  Surface copy_src = Noise(w, h, 9), copy_dst(w, h);
  const std::size_t bytes =
      static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * sizeof(Pixel);
  double beside = 1e300;
  for (auto _ : state) {
    {
      const double m0 = ThreadMs();
      std::memcpy(copy_dst.data(), copy_src.data(), bytes);
      benchmark::ClobberMemory();
      beside = std::min(beside, ThreadMs() - m0);
    }
    st.Reset();
    rnd_state = 0.37;
    double total = 0;
    const double s0 = ThreadMs();
    fx.Start(effect, "10", {&st.p1, &st.p2, &st.p3}, rnd);
    const double setup = ThreadMs() - s0;
    best_setup = std::min(best_setup, setup);
    total += setup;
    for (std::size_t i = 0;; ++i) {
      const double t0 = ThreadMs();
      const bool more = fx.Frame();
      const double ms = ThreadMs() - t0;
      total += ms;
      if (i >= best.size()) best.push_back(ms);
      best[i] = std::min(best[i], ms);
      if (!more) break;
    }
    state.SetIterationTime(total / 1000.0);
  }
  double sum = 0, worst = 0;
  std::size_t worst_i = 0;
  for (std::size_t i = 0; i < best.size(); ++i) {
    sum += best[i];
    if (best[i] > worst) worst = best[i], worst_i = i;
  }
  // Like against like: the fastest of as many memcpy runs as transition runs, taken beside them.
  base = beside;
  state.counters["memcpy_ms"] = base;
  state.counters["iterations"] = static_cast<double>(best.size());
  state.counters["mean_x"] = best.empty() ? 0 : sum / static_cast<double>(best.size()) / base;
  state.counters["worst_x"] = worst / base;
  state.counters["worst_at"] = static_cast<double>(worst_i);
  state.counters["setup_x"] = best_setup / base;
  state.SetLabel(EffectName(effect));
}

void EffectArgs(benchmark::internal::Benchmark* b) {
  for (int e = 0; e < kEffectCount; ++e) {
    b->Args({e, 1920, 1080});
    b->Args({e, 3840, 2160});
  }
}
BENCHMARK(BM_Effect)
    ->Apply(EffectArgs)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(7);

void BM_Gradient(benchmark::State& state) {
  const int w = static_cast<int>(state.range(1)), h = static_cast<int>(state.range(2));
  const double base = MemcpyMs(w, h);
  PictureBox p;
  p.SetPixelSize(w, h);
  ClsGrandinet g;
  g.SetAngle(static_cast<float>(state.range(0)));
  double sum_ms = 0, min_ms = 1e300;
  long n = 0;
  for (auto _ : state) {
    const double t0 = ThreadMs();
    benchmark::DoNotOptimize(g.Draw(&p));
    const double ms = ThreadMs() - t0;
    state.SetIterationTime(ms / 1000.0);
    sum_ms += ms;
    min_ms = std::min(min_ms, ms);
    ++n;
  }
  state.counters["memcpy_ms"] = base;
  state.counters["mean_x"] = n > 0 ? sum_ms / static_cast<double>(n) / base : 0;
  state.counters["best_x"] = min_ms / base;
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
