// One frame of each reference movie drawn at 1920 x 1080 at quality "High", beside a memcpy of
// one 1920 x 1080 32-bit frame, so that the ratio does not depend on the machine.
#include <benchmark/benchmark.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "core/surface.h"
#include "swf/flash_player.h"

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
