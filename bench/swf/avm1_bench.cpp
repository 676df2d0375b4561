// The script runtime: a pure-script loop of ten million iterations of arithmetic and property
// access (compare with the same loop in a JavaScript engine), and one frame of a movie whose 1,000
// clips each move, turn and fade from their own onEnterFrame, drawn at 1920 x 1080 with four
// samples per pixel, beside a memcpy of one 1920 x 1080 frame.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <vector>

#include "avm1_asm.h"
#include "core/surface.h"
#include "swf/avm1/runtime.h"
#include "swf/avm1/vm.h"
#include "swf/display/stage.h"
#include "swf/format/movie.h"
#include "swf/render/renderer.h"

namespace {

using dbx::swf::avm1::test::Asm;
using dbx::swf::avm1::test::Reg;

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

// o = {v: 0}; for (i = 0; i < 10000000; i++) o.v = o.v + i * 3 % 7;
void BM_ScriptLoop10M(benchmark::State& state) {
  Asm a;
  a.Push({"v", 0, 1}).Op(0x43).StoreRegister(2).Op(0x17);
  a.Push({0}).StoreRegister(1).Op(0x17);
  a.Label("top").Push({Reg{1}, 10000000}).Op(0x48).Op(0x12).If("done");
  a.Push({Reg{2}, "v", Reg{2}, "v"}).Op(0x4E);
  a.Push({Reg{1}, 3}).Op(0x0C).Push({7}).Op(0x3F).Op(0x47).Op(0x4F);
  a.Push({Reg{1}}).Op(0x50).StoreRegister(1).Op(0x17).Jump("top");
  a.Label("done").Push({Reg{2}, "v"}).Op(0x4E).Op(0x26);
  auto code = a.Build();
  for (auto _ : state) {
    dbx::swf::avm1::Limits limits;
    limits.budget = std::chrono::milliseconds(600000);
    dbx::swf::avm1::Vm vm(10, limits);
    std::string result;
    vm.traceSink = [&](std::string_view s) { result = s; };
    vm.BeginFrameBudget();
    vm.RunScript(code, vm.NewObject());
    if (result != "30000000") state.SkipWithError(("wrong result " + result).c_str());
  }
}
// One pass takes seconds: a single iteration is measure enough.
BENCHMARK(BM_ScriptLoop10M)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_Memcpy1080p(benchmark::State& state) {
  std::vector<dbx::Pixel> a(kWidth * kHeight, 0x123456), b(kWidth * kHeight);
  for (auto _ : state) {
    std::memcpy(b.data(), a.data(), a.size() * sizeof(dbx::Pixel));
    benchmark::DoNotOptimize(b.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_Memcpy1080p)->Unit(benchmark::kMillisecond);

// A movie of one frame whose script makes 1,000 clips, each a drawn square with its own
// onEnterFrame that moves, turns and fades it.
std::vector<std::uint8_t> ThousandClipsMovie() {
  Asm s;
  s.Function("f", {}, [](Asm& b) {
    b.Push({"this"}).Op(0x1C).Push({"_x"});
    b.Push({"this"}).Op(0x1C).Push({"_x"}).Op(0x4E).Push({1}).Op(0x47).Push({1900}).Op(0x3F);
    b.Op(0x4F);
    b.Push({"this"}).Op(0x1C).Push({"_rotation"});
    b.Push({"this"}).Op(0x1C).Push({"_rotation"}).Op(0x4E).Push({3}).Op(0x47).Op(0x4F);
    b.Push({"this"}).Op(0x1C).Push({"_alpha"});
    b.Push({"this"}).Op(0x1C).Push({"_alpha"}).Op(0x4E).Push({1}).Op(0x47).Push({100}).Op(0x3F);
    b.Op(0x4F);
  });
  s.Push({0}).StoreRegister(1).Op(0x17);
  s.Label("top").Push({Reg{1}, 1000}).Op(0x48).Op(0x12).If("done");
  s.Push({Reg{1}, "c", Reg{1}}).Op(0x47).Push({2, "_root"}).Op(0x1C);
  s.Push({"createEmptyMovieClip"}).Op(0x52).StoreRegister(2).Op(0x17);
  s.Push({100, 0xFF8040, 2, Reg{2}, "beginFill"}).Op(0x52).Op(0x17);
  s.Push({-15, -15, 2, Reg{2}, "moveTo"}).Op(0x52).Op(0x17);
  for (auto [x, y] : {std::pair{15, -15}, {15, 15}, {-15, 15}, {-15, -15}})
    s.Push({y, x, 2, Reg{2}, "lineTo"}).Op(0x52).Op(0x17);
  s.Push({0, Reg{2}, "endFill"}).Op(0x52).Op(0x17);
  s.Push({Reg{2}, "_x", Reg{1}, 40}).Op(0x3F).Push({48}).Op(0x0C).Op(0x4F);
  s.Push({Reg{2}, "_y", Reg{1}, 40}).Op(0x0D).Op(0x18).Push({43}).Op(0x0C).Op(0x4F);
  s.Push({Reg{2}, "onEnterFrame", "f"}).Op(0x1C).Op(0x4F);
  s.Push({Reg{1}}).Op(0x50).StoreRegister(1).Op(0x17).Jump("top");
  s.Label("done").Op(0x07);
  return dbx::swf::avm1::test::MovieWithScript(s.Build()->bytes);
}

void BM_ThousandScriptedClips1080p(benchmark::State& state) {
  const std::vector<std::uint8_t> bytes = ThousandClipsMovie();
  auto movie = dbx::swf::ParseMovie(bytes.data(), bytes.size(), nullptr);
  if (!movie) {
    state.SkipWithError("movie not parsed");
    return;
  }
  dbx::swf::Stage stage(*movie);
  dbx::swf::ScriptHost host{*movie, stage, [](std::string_view) {}, ""};
  auto scripts = dbx::swf::avm1::CreateRuntime(host);
  stage.SetScripts(scripts.get());
  dbx::swf::Renderer renderer(*movie);
  dbx::Surface target(kWidth, kHeight);
  const dbx::swf::Matrix view{1.0 / 20, 0, 0, 1.0 / 20, 0, 0};
  double now = 0;
  stage.Step(now);
  if (stage.root().children().size() != 1000) state.SkipWithError("clips not made");
  for (auto _ : state) {
    now += 1000.0 / 30;
    stage.Step(now);
    renderer.Render(stage, target.View(), view, dbx::swf::RenderOptions{4});
    benchmark::DoNotOptimize(target.data());
  }
}
BENCHMARK(BM_ThousandScriptedClips1080p)->Unit(benchmark::kMillisecond);

}  // namespace
