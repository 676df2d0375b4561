// One frame of each reference movie drawn at 1920 x 1080 at quality "High", a blurred layer and a
// frame of glowing objects, beside a memcpy of one 1920 x 1080 32-bit frame, so that the ratios
// do not depend on the machine.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include "core/surface.h"
#include "swf/display/stage.h"
#include "swf/flash_player.h"
#include "swf/render/blur_kernels.h"
#include "swf/render/filters.h"
#include "swf/render/renderer.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

void BM_Memcpy1080p(benchmark::State& state) {
  std::vector<dbx::Pixel> a(kWidth * kHeight, 0x123456), b(kWidth * kHeight);
  for (auto _ : state) {
    std::memcpy(b.data(), a.data(), a.size() * sizeof(dbx::Pixel));
    benchmark::DoNotOptimize(b.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_Memcpy1080p)->Unit(benchmark::kMillisecond);

void BM_MovieFrame1080p(benchmark::State& state, std::string name) {
  const std::filesystem::path path =
      std::filesystem::path(DBX_SWF_SAMPLES_DIR) / "visual" / name / "test.swf";
  std::ifstream in(path, std::ios::binary);
  const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
  if (bytes.empty()) {
    state.SkipWithError("sample missing");
    return;
  }
  dbx::FlashPlayer player;
  player.LoadMovieBytes(bytes.data(), bytes.size(), name);
  player.SetQuality2("High");
  player.SetViewportSize({kWidth, kHeight});
  dbx::Surface target(kWidth, kHeight);
  for (auto _ : state) {
    player.RenderFrame(target.View());
    benchmark::DoNotOptimize(target.data());
  }
}

// A whole 1920 x 1080 layer blurred by 16 x 16 pixels at quality 3 (three box passes).
// `frames`: as in a show, one blur a frame (the side thread goes to sleep between them).
void BlurLayer1080p(benchmark::State& state, bool oneThread, bool frames = false) {
  dbx::swf::PixelPlane plane;
  plane.width = kWidth;
  plane.height = kHeight;
  plane.px.resize(static_cast<std::size_t>(kWidth) * kHeight);
  std::uint32_t seed = 1;
  for (std::uint32_t& p : plane.px) {
    seed = seed * 1664525u + 1013904223u;
    const std::uint32_t a = seed >> 24;
    p = (a << 24) | (((seed >> 16) & 0xFF) * a / 255 << 16) | (((seed >> 8) & 0xFF) * a / 255 << 8);
  }
  dbx::swf::Filter blur;
  blur.kind = dbx::swf::FilterKind::kBlur;
  blur.blurX = blur.blurY = 16;
  blur.passes = 3;
  // (On one thread no picture is large enough to split.)
  const std::size_t split = oneThread ? dbx::swf::blur::SplitFrom(SIZE_MAX) : 0;
  for (auto _ : state) {
    if (frames) {
      state.PauseTiming();
      std::this_thread::sleep_for(std::chrono::milliseconds(16));
      state.ResumeTiming();
    }
    dbx::swf::ApplyFilter(blur, 1.0, plane);
    benchmark::DoNotOptimize(plane.px.data());
  }
  if (oneThread) dbx::swf::blur::SplitFrom(split);
}
void BM_BlurLayer1080p(benchmark::State& state) {
  BlurLayer1080p(state, false);
}
BENCHMARK(BM_BlurLayer1080p)->Unit(benchmark::kMillisecond);
// The same on one thread: the kernels' own speed, steadier than the split on a busy machine.
void BM_BlurLayer1080pOneThread(benchmark::State& state) {
  BlurLayer1080p(state, true);
}
BENCHMARK(BM_BlurLayer1080pOneThread)->Unit(benchmark::kMillisecond);
void BM_BlurLayer1080pEachFrame(benchmark::State& state) {
  BlurLayer1080p(state, false, true);
}
BENCHMARK(BM_BlurLayer1080pEachFrame)->Unit(benchmark::kMillisecond);

// 200 squares of 40 x 40 pixels with a glow each (blur 8, quality 2), on a 1920 x 1080 frame.
void BM_GlowingObjects1080p(benchmark::State& state) {
  using namespace dbx::swf;
  Movie movie;
  movie.frame = {0, kWidth * 20, 0, kHeight * 20};
  Shape square;
  FillStyle fill;
  fill.color = {40, 90, 200, 255};
  square.fills.push_back(fill);
  const Vec2 c[4] = {{0, 0}, {800, 0}, {800, 800}, {0, 800}};
  for (int i = 0; i < 4; ++i) {
    ShapeEdge e;
    e.from = c[i];
    e.to = c[(i + 1) % 4];
    e.control = e.from;
    e.fill1 = 0;
    square.edges.push_back(e);
  }
  movie.characters.emplace(1, square);
  Filter glow;
  glow.kind = FilterKind::kGlow;
  glow.colors.push_back({0, {255, 200, 0, 255}});
  glow.blurX = glow.blurY = 8;
  glow.passes = 2;
  Frame frame;
  for (int i = 0; i < 200; ++i) {
    PlaceCommand place;
    place.depth = static_cast<std::uint16_t>(i + 1);
    place.character = 1;
    Matrix m;
    m.tx = (i % 20) * 90 * 20 + 400;
    m.ty = (i / 20) * 100 * 20 + 400;
    place.matrix = m;
    place.filters = std::vector<Filter>{glow};
    frame.commands.push_back(place);
  }
  movie.timeline.frames.push_back(frame);
  Stage stage(movie);
  stage.Step();
  Renderer renderer(movie);
  dbx::Surface target(kWidth, kHeight);
  Matrix view;
  view.a = view.d = 1.0 / 20;
  for (auto _ : state) {
    renderer.Render(stage, target.View(), view, RenderOptions{4});
    benchmark::DoNotOptimize(target.data());
  }
}
BENCHMARK(BM_GlowingObjects1080p)->Unit(benchmark::kMillisecond);

const char* const kSamples[] = {"gradients_gradients", "gradients_radial", "layers", "overlaps",
                                "strokes_scale",       "winding_rule"};

[[maybe_unused]] const bool kRegistered = [] {
  for (const char* name : kSamples)
    benchmark::RegisterBenchmark((std::string("BM_MovieFrame1080p/") + name).c_str(),
                                 BM_MovieFrame1080p, std::string(name))
        ->Unit(benchmark::kMillisecond);
  return true;
}();

}  // namespace

BENCHMARK_MAIN();
