// Feeds arbitrary bytes to the script runtime, both as a movie (timeline, frame scripts, clip
// events) and as a bare block of action code, and as a list of calls on the filter objects and
// BitmapData (which random action code seldom reaches): nothing may crash, leak, hang or read
// outside its buffers; every script ends within its (here short) time budget.
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "swf/avm1/filters_object.h"
#include "swf/avm1/runtime.h"
#include "swf/avm1/vm.h"
#include "swf/display/stage.h"
#include "swf/format/movie.h"
#include "swf/render/filters.h"

namespace {

using dbx::swf::avm1::Object;
using dbx::swf::avm1::Value;
using dbx::swf::avm1::Vm;

const char* const kFilterClasses[] = {
    "BitmapFilter",      "BlurFilter",           "DropShadowFilter",    "GlowFilter",
    "BevelFilter",       "GradientGlowFilter",   "GradientBevelFilter", "ColorMatrixFilter",
    "ConvolutionFilter", "DisplacementMapFilter"};
const char* const kFilterProps[] = {
    "blurX",         "blurY",          "quality",        "distance",    "angle",       "color",
    "alpha",         "highlightColor", "highlightAlpha", "shadowColor", "shadowAlpha", "strength",
    "inner",         "knockout",       "hideObject",     "type",        "colors",      "alphas",
    "ratios",        "matrix",         "matrixX",        "matrixY",     "divisor",     "bias",
    "preserveAlpha", "clamp",          "mapBitmap",      "mapPoint",    "componentX",  "componentY",
    "scaleX",        "scaleY",         "mode",           "length"};
const char* const kBitmapMethods[] = {
    "applyFilter",    "threshold",   "paletteMap",   "copyPixels",
    "colorTransform", "fillRect",    "noise",        "floodFill",
    "draw",           "scroll",      "hitTest",      "getColorBoundsRect",
    "compare",        "clone",       "dispose",      "setPixel32",
    "getPixel32",     "setPixel",    "getPixel",     "copyChannel",
    "merge",          "perlinNoise", "pixelDissolve"};

Value Class(Vm& vm, const char* package, const char* name) {
  Object* flash = vm.Get(vm.global, "flash").AsObject();
  Object* pkg = flash ? vm.Get(flash, package).AsObject() : nullptr;
  return pkg ? vm.Get(pkg, name) : Value();
}

// Calls chosen by the bytes: filters made with arguments from a pool of awkward values, their
// properties written and read, lists of them drawn by the renderer, and BitmapData methods
// called with the same pool (pictures, rectangles, points and filters among it).
void FuzzFiltersAndPictures(const std::uint8_t* data, std::size_t size,
                            const dbx::swf::avm1::Limits& limits) {
  std::size_t at = 1;
  auto next = [&]() -> unsigned { return at < size ? data[at++] : 0u; };
  Vm vm(8 + static_cast<int>(next() % 3), limits);
  vm.BeginFrameBudget();
  std::vector<Value> pool = {Value(),
                             Value::Null(),
                             Value(true),
                             Value(false),
                             Value(0),
                             Value(-1),
                             Value(0.5),
                             Value(1.5),
                             Value(3),
                             Value(7),
                             Value(100),
                             Value(256),
                             Value(65536),
                             Value(-65536),
                             Value(std::numeric_limits<double>::quiet_NaN()),
                             Value(std::numeric_limits<double>::infinity()),
                             Value("inner"),
                             Value("outer"),
                             Value("full"),
                             Value("color"),
                             Value("ASDF"),
                             Value(4294967295.0),
                             Value(-0x12345678)};
  std::vector<Value> many;
  for (int i = 0; i < 30; ++i) many.emplace_back(i * 7 - 40);
  pool.emplace_back(vm.NewArray(many));
  pool.emplace_back(vm.NewArray({Value(1), Value(2), Value(3)}));
  pool.push_back(
      vm.Construct(Class(vm, "geom", "Rectangle"), {Value(1), Value(-2), Value(9), Value(7)}));
  pool.push_back(
      vm.Construct(Class(vm, "geom", "Rectangle"), {Value(0), Value(0), Value(40), Value(30)}));
  pool.push_back(vm.Construct(Value(vm.pointCtor), {Value(2), Value(3)}));
  pool.push_back(vm.Construct(Value(vm.pointCtor), {Value(-5), Value(1)}));
  for (int i = 0; i < 3; ++i)
    pool.push_back(vm.Construct(
        Class(vm, "display", "BitmapData"),
        {Value(5 + 13 * i), Value(4 + 9 * i), Value(i != 1),
         Value(static_cast<double>(0x80FF4020u + static_cast<unsigned>(i) * 0x01010101u))}));
  for (int op = 0; op < 64 && at < size && !vm.OutOfTime(); ++op) {
    auto pick = [&]() -> Value { return pool[next() % pool.size()]; };
    auto args = [&](unsigned n) {
      std::vector<Value> a;
      for (unsigned i = 0; i < n; ++i) a.push_back(pick());
      return a;
    };
    switch (next() % 6) {
      case 0: {  // a new filter
        const char* cls = kFilterClasses[next() % std::size(kFilterClasses)];
        pool.push_back(vm.Construct(Class(vm, "filters", cls), args(next() % 13)));
        break;
      }
      case 1:
        if (Object* o = pick().AsObject())
          vm.Set(o, kFilterProps[next() % std::size(kFilterProps)], pick());
        break;
      case 2:
        if (Object* o = pick().AsObject()) {
          pool.push_back(vm.Get(o, kFilterProps[next() % std::size(kFilterProps)]));
          pool.push_back(vm.CallMethod(Value(o), "clone", {}));
        }
        break;
      case 3: {  // a list of filters through the renderer, on a small layer
        const Value list(vm.NewArray(args(next() % 5)));
        const std::vector<dbx::swf::Filter> filters = dbx::swf::avm1::FiltersFromScript(vm, list);
        const double scale = 0.25 + (next() % 16) * 0.25;
        const dbx::swf::FilterMargins m = dbx::swf::MarginsOf(filters, scale);
        dbx::swf::PixelPlane plane;
        plane.width = std::min(1 + static_cast<int>(next() % 24) + m.left + m.right, 600);
        plane.height = std::min(1 + static_cast<int>(next() % 24) + m.top + m.bottom, 600);
        plane.px.assign(static_cast<std::size_t>(plane.width) * plane.height, 0);
        for (std::size_t i = 0; i < plane.px.size(); ++i)
          plane.px[i] = (i % 3) ? 0xFF336699u : 0x40102030u;
        dbx::swf::ApplyFilters(filters, scale, plane);
        pool.emplace_back(dbx::swf::avm1::FiltersToScript(vm, filters));
        break;
      }
      case 4: {
        const Value self = pick();
        const char* method = kBitmapMethods[next() % std::size(kBitmapMethods)];
        pool.push_back(vm.CallMethod(self, method, args(next() % 9)));
        break;
      }
      default:
        pool.push_back(vm.Construct(Class(vm, "display", "BitmapData"),
                                    {Value(static_cast<int>(next() % 64)),
                                     Value(static_cast<int>(next() % 64)), pick(), pick()}));
        break;
    }
    if (vm.throwing()) vm.TakeException();
    if (pool.size() > 200) pool.resize(100);
  }
  for (const Value& v : pool)
    if (Object* o = v.AsObject()) vm.pinned.push_back(o);
  vm.Collect({});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  dbx::swf::avm1::Limits limits;
  limits.budget = std::chrono::milliseconds(20);
  limits.maxObjects = 100000;
  limits.maxString = 1u << 16;
  limits.maxArray = 1u << 14;
  if (size > 0 && data[0] >= 0x80) {
    FuzzFiltersAndPictures(data, size, limits);
    return 0;
  }
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
