// Feeds arbitrary bytes to the script runtime, both as a movie (timeline, frame scripts, clip
// events) and as a bare block of action code: nothing may crash, leak, hang or read outside its
// buffers; every script ends within its (here short) time budget.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "swf/avm1/runtime.h"
#include "swf/avm1/vm.h"
#include "swf/display/stage.h"
#include "swf/format/movie.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  dbx::swf::avm1::Limits limits;
  limits.budget = std::chrono::milliseconds(20);
  limits.maxObjects = 100000;
  limits.maxString = 1u << 16;
  limits.maxArray = 1u << 14;
  if (size > 0 && data[0] < 0x40) {
    // Action code straight into the interpreter, in the version the second byte names.
    const int version = size > 1 ? 4 + data[1] % 7 : 10;
    dbx::swf::avm1::Vm vm(version, limits);
    auto code = std::make_shared<dbx::swf::avm1::Code>();
    code->bytes.assign(data + (size > 1 ? 2 : 1), data + size);
    vm.BeginFrameBudget();
    dbx::swf::avm1::Object* timeline = vm.NewObject();
    vm.RunScript(code, timeline);
    vm.RunTimers(1e9);
    vm.pinned.push_back(timeline);
    vm.Collect({});
    return 0;
  }
  dbx::swf::ParseLimits parse;
  parse.maxBodyBytes = 4u << 20;
  parse.maxBitmapPixels = 1u << 20;
  parse.maxTotalBitmapPixels = 2u << 20;
  auto movie = dbx::swf::ParseMovie(data, size, nullptr, parse);
  if (!movie) return 0;
  dbx::swf::Stage stage(*movie);
  dbx::swf::ScriptHost host{*movie, stage, [](std::string_view) {}, ""};
  dbx::swf::avm1::Runtime runtime(host, limits);
  stage.SetScripts(&runtime);
  double now = 0;
  for (int frame = 0; frame < 4; ++frame) {
    stage.Step(now);
    if (frame == 1) {
      stage.MouseMove(100, 100);
      stage.MouseDown();
      stage.KeyDown(65, 'a');
    }
    now += 40;
  }
  return 0;
}
