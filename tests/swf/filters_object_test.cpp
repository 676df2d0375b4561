// flash.filters as scripts use them: the clamping of what is written, the gradient and convolution
// arrays, clone, the round trip between filter objects and the renderer's filters, and
// BitmapData.applyFilter.
#include "swf/avm1/filters_object.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "swf/avm1/bitmap_data.h"
#include "swf/avm1/vm.h"
#include "swf/render/filters.h"

namespace dbx::swf::avm1 {
namespace {

struct Script {
  Vm vm{8};
  Value Class(const char* package, const char* name) {
    Object* flash = vm.Get(vm.global, "flash").AsObject();
    Object* pkg = flash ? vm.Get(flash, package).AsObject() : nullptr;
    return pkg ? vm.Get(pkg, name) : Value();
  }
  Value New(const char* name, std::vector<Value> args = {}) {
    return vm.Construct(Class("filters", name), std::move(args));
  }
  std::string Read(const Value& o, const char* prop) {
    const Value v = vm.Get(o.AsObject(), prop);
    if (Object* arr = v.AsObject(); arr && arr->cls() == ObjClass::kArray) {
      std::string s = "[";
      for (std::size_t i = 0; i < vm.ArrayLength(arr); ++i)
        s += (i ? "," : "") + vm.ToString(vm.ArrayGet(arr, i));
      return s + "]";
    }
    return vm.ToString(v);
  }
  Value Array(std::vector<Value> items) { return Value(vm.NewArray(std::move(items))); }
};

TEST(ScriptFilters, WrittenValuesAreClampedAsThePlayerDoes) {
  const struct {
    const char* cls;
    const char* prop;
    Value in;
    const char* out;
  } cases[] = {
      {"BlurFilter", "quality", Value(2.5), "2"},
      {"BlurFilter", "quality", Value(-1), "0"},
      {"BlurFilter", "quality", Value(100), "15"},
      {"BlurFilter", "blurX", Value(100.5), "100.5"},
      {"BlurFilter", "blurY", Value(-1), "0"},
      {"BlurFilter", "blurX", Value(256), "255"},
      {"GlowFilter", "strength", Value(256), "255"},
      {"GlowFilter", "strength", Value(-1), "0"},
      {"GlowFilter", "color", Value(16777471.0), "255"},
      {"GlowFilter", "color", Value(-305419896.0), "13347208"},
      {"GlowFilter", "alpha", Value(0.5), "0.498039215686275"},
      {"GlowFilter", "alpha", Value(1.5), "1"},
      {"GlowFilter", "inner", Value(), "false"},
      {"DropShadowFilter", "angle", Value(361), "1"},
      {"DropShadowFilter", "angle", Value(-1), "-1"},
      {"DropShadowFilter", "distance", Value(-1), "-1"},
      {"DropShadowFilter", "hideObject", Value(1), "true"},
      {"BevelFilter", "type", Value("outer"), "outer"},
      {"BevelFilter", "type", Value("INNER"), "full"},
      {"BevelFilter", "shadowAlpha", Value(-1), "0"},
      {"ConvolutionFilter", "matrixX", Value(100), "15"},
      {"ConvolutionFilter", "matrixY", Value(-100), "0"},
      {"ConvolutionFilter", "divisor", Value(-100.5), "-100.5"},
      {"DisplacementMapFilter", "componentX", Value(-234.5), "-234"},
      {"DisplacementMapFilter", "scaleY", Value(65536), "65535"},
      {"DisplacementMapFilter", "mode", Value("Color"), "wrap"},
      {"DisplacementMapFilter", "mode", Value("ignore"), "ignore"},
  };
  for (const auto& c : cases) {
    Script s;
    Value f = s.New(c.cls);
    s.vm.Set(f.AsObject(), c.prop, c.in);
    const std::string got = s.Read(f, c.prop);
    if (std::string(c.prop) == "angle")  // degrees kept in radians: compare as numbers
      EXPECT_NEAR(std::stod(got), std::stod(c.out), 1e-9) << c.cls << "." << c.prop;
    else
      EXPECT_EQ(got, c.out) << c.cls << "." << c.prop;
  }
}

TEST(ScriptFilters, ConstructorsTakeTheirArgumentsInOrderAndKeepDefaults) {
  Script s;
  Value glow = s.New("GlowFilter", {Value(0x00FF00), Value(0.5), Value(10), Value(12)});
  EXPECT_EQ(s.Read(glow, "color"), "65280");
  EXPECT_EQ(s.Read(glow, "blurY"), "12");
  EXPECT_EQ(s.Read(glow, "strength"), "2");  // not given: the default
  Value bevel = s.New("BevelFilter");
  EXPECT_EQ(s.Read(bevel, "highlightColor"), "16777215");
  EXPECT_EQ(s.Read(bevel, "type"), "inner");
  Value conv = s.New("ConvolutionFilter",
                     {Value(2), Value(3), s.Array({Value(1), Value(2), Value(3)}), Value(5)});
  EXPECT_EQ(s.Read(conv, "matrix"), "[1,2,3,0,0,0]");  // grown to matrixX * matrixY
  EXPECT_EQ(s.Read(conv, "divisor"), "5");
  EXPECT_EQ(s.Read(s.New("ColorMatrixFilter", {Value(-1)}), "matrix").substr(0, 8), "[NaN,NaN");
  EXPECT_EQ(s.Read(s.New("ColorMatrixFilter", {Value()}), "matrix"),
            "[1,0,0,0,0,0,1,0,0,0,0,0,1,0,0,0,0,0,1,0]");
}

TEST(ScriptFilters, GradientArraysFollowTheColoursAndKeepWhatWasWrittenBeyond) {
  Script s;
  Value f = s.New("GradientGlowFilter");
  auto state = [&] { return s.Read(f, "colors") + s.Read(f, "alphas") + s.Read(f, "ratios"); };
  auto set = [&](const char* prop, Value v) { s.vm.Set(f.AsObject(), prop, v); };
  set("alphas", s.Array({Value(1)}));
  EXPECT_EQ(state(), "[][][]");  // no colours: nothing to take an alpha
  set("colors", s.Array({Value(-305419896.0), Value(10)}));
  EXPECT_EQ(state(), "[13347208,10][0,0][0,0]");
  set("ratios", s.Array({Value(500), Value(50.5), Value(100)}));
  EXPECT_EQ(state(), "[13347208,10][0,0][255,50]");
  set("colors", Value("ASDF"));
  EXPECT_EQ(state(), "[0,0,0,0][0,0,0,0][255,50,0,0]");
  set("alphas", s.Array({Value(0.5), Value(1.5), Value(-0.5)}));
  EXPECT_EQ(s.Read(f, "alphas"), "[0.501960784313725,1,0,1]");  // the missing one is opaque
  set("ratios", s.Array({Value(50)}));
  EXPECT_EQ(state(), "[0][0.501960784313725][50]");
  set("colors", Value(5));
  EXPECT_EQ(state(), "[][][]");
  std::vector<Value> many;
  for (int i = 1; i <= 17; ++i) many.emplace_back(i);
  set("colors", s.Array(many));
  EXPECT_EQ(s.Read(f, "ratios"), "[50,50,0,0,0,0,0,0,0,0,0,0,0,0,0,0]");  // 16 at most
}

TEST(ScriptFilters, CloneIsAnIndependentCopyAndReadsGiveNewArrays) {
  Script s;
  Value f = s.New("DropShadowFilter", {Value(7)});
  Value c = s.vm.CallMethod(f, "clone", {});
  ASSERT_TRUE(c.IsObject());
  EXPECT_NE(c.AsObject(), f.AsObject());
  EXPECT_EQ(s.Read(c, "distance"), "7");
  s.vm.Set(c.AsObject(), "distance", Value(9));
  EXPECT_EQ(s.Read(f, "distance"), "7");
  EXPECT_TRUE(s.vm.CallMethod(s.New("BitmapFilter"), "clone", {}).IsUndefined());
  Value m = s.New("ColorMatrixFilter");
  EXPECT_NE(s.vm.Get(m.AsObject(), "matrix").AsObject(),
            s.vm.Get(m.AsObject(), "matrix").AsObject());
}

// A displacement map's bitmap lives as long as the filter that holds it does.
TEST(ScriptFilters, AFilterKeepsItsMapBitmapThroughACollection) {
  Script s;
  Value f = s.New("DisplacementMapFilter");
  s.vm.pinned.push_back(f.AsObject());
  Value bitmap = s.vm.Construct(s.Class("display", "BitmapData"), {Value(20), Value(30)});
  s.vm.Set(f.AsObject(), "mapBitmap", bitmap);
  s.vm.Collect({});
  const std::size_t kept = s.vm.heap().size();
  bitmap = Value();
  s.vm.Collect({});
  EXPECT_EQ(s.vm.heap().size(), kept);
  EXPECT_EQ(s.Read(s.vm.Get(f.AsObject(), "mapBitmap"), "height"), "30");
}

// Filters as a placed object's list holds them, one of each kind.
std::vector<Filter> FileFilters() {
  std::vector<Filter> out;
  for (int k = 0; k <= static_cast<int>(FilterKind::kGradientBevel); ++k) {
    Filter f;
    f.kind = static_cast<FilterKind>(k);
    f.blurX = 10;
    f.blurY = 3.5f;
    f.passes = 2;
    f.strength = 1.5f;
    f.knockout = k % 2 == 0;
    f.matrix.fill(0.25f);
    switch (f.kind) {
      case FilterKind::kDropShadow:
        f.angle = 0.5f;
        f.distance = 6;
        f.inner = true;
        f.compositeSource = false;
        f.colors = {{0, {1, 2, 3, 200}}};
        break;
      case FilterKind::kGlow:
        f.colors = {{0, {255, 0, 0, 128}}};
        break;
      case FilterKind::kBevel:
        f.angle = 1;
        f.distance = 2;
        f.onTop = true;
        f.colors = {{0, {255, 255, 255, 255}}, {255, {0, 0, 0, 100}}};
        break;
      case FilterKind::kGradientGlow:
      case FilterKind::kGradientBevel:
        f.angle = 2;
        f.distance = 3;
        f.inner = f.kind == FilterKind::kGradientGlow;
        f.colors = {{0, {255, 0, 255, 255}}, {128, {0, 255, 0, 0}}, {255, {9, 9, 9, 9}}};
        break;
      case FilterKind::kConvolution:
        f.matrixX = 3;
        f.matrixY = 2;
        f.kernel = {1, 2, 3, 4, 5, 6};
        f.divisor = 2;
        f.bias = 1;
        f.defaultColor = {10, 20, 30, 40};
        f.clamp = false;
        f.preserveAlpha = false;
        break;
      default:
        break;
    }
    out.push_back(f);
  }
  return out;
}

// The fields the renderer reads, for a kind.
void ExpectSameDrawing(const Filter& a, const Filter& b) {
  ASSERT_EQ(a.kind, b.kind);
  const int k = static_cast<int>(a.kind);
  EXPECT_EQ(a.passes, b.passes) << k;
  EXPECT_FLOAT_EQ(a.strength, b.strength) << k;
  EXPECT_EQ(a.knockout, b.knockout) << k;
  if (a.kind == FilterKind::kColorMatrix) {
    EXPECT_EQ(a.matrix, b.matrix);
    return;
  }
  if (a.kind == FilterKind::kConvolution) {
    EXPECT_EQ(a.kernel, b.kernel);
    EXPECT_EQ(a.matrixX, b.matrixX);
    EXPECT_EQ(a.defaultColor, b.defaultColor);
    EXPECT_EQ(a.clamp, b.clamp);
    EXPECT_EQ(a.preserveAlpha, b.preserveAlpha);
    EXPECT_FLOAT_EQ(a.bias, b.bias);
    return;
  }
  EXPECT_FLOAT_EQ(a.blurX, b.blurX) << k;
  EXPECT_FLOAT_EQ(a.blurY, b.blurY) << k;
  EXPECT_EQ(a.inner, b.inner) << k;
  EXPECT_EQ(a.onTop, b.onTop) << k;
  EXPECT_EQ(a.compositeSource, b.compositeSource) << k;
  EXPECT_NEAR(a.angle, b.angle, 1e-6) << k;
  EXPECT_FLOAT_EQ(a.distance, b.distance) << k;
  ASSERT_EQ(a.colors.size(), b.colors.size()) << k;
  for (std::size_t i = 0; i < a.colors.size(); ++i) {
    EXPECT_EQ(a.colors[i].color, b.colors[i].color) << k << " stop " << i;
    EXPECT_EQ(a.colors[i].ratio, b.colors[i].ratio) << k << " stop " << i;
  }
}

TEST(ScriptFilters, AListReadAndWrittenBackDrawsTheSame) {
  Script s;
  const std::vector<Filter> list = FileFilters();
  Object* arr = FiltersToScript(s.vm, list);
  ASSERT_EQ(s.vm.ArrayLength(arr), list.size());
  // Something that is not a filter in the list is left out.
  s.vm.ArrayPush(arr, Value(s.vm.NewObject()));
  const std::vector<Filter> back = FiltersFromScript(s.vm, Value(arr));
  ASSERT_EQ(back.size(), list.size());
  for (std::size_t i = 0; i < list.size(); ++i) ExpectSameDrawing(list[i], back[i]);
  EXPECT_TRUE(FiltersFromScript(s.vm, Value(3)).empty());
  Filter f;
  EXPECT_FALSE(FilterFromScript(s.New("DisplacementMapFilter"), f));
}

TEST(ScriptFilters, ApplyFilterRunsTheRenderersFilterOverTheRectangle) {
  Script s;
  Value bd = s.vm.Construct(s.Class("display", "BitmapData"),
                            {Value(8), Value(6), Value(true), Value(0.0)});
  BitmapDataObject* b = AsBitmapData(bd);
  ASSERT_NE(b, nullptr);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 8; ++x)
      b->bitmap->pixels[static_cast<std::size_t>(y * 8 + x)] = (x == 3 && y == 2) ? 0xFFFF8000u : 0;
  Value out = s.vm.Construct(s.Class("display", "BitmapData"),
                             {Value(8), Value(6), Value(true), Value(0.0)});
  Value rect =
      s.vm.Construct(s.Class("geom", "Rectangle"), {Value(1), Value(0), Value(6), Value(5)});
  Value point = s.vm.Construct(Value(s.vm.pointCtor), {Value(2), Value(1)});
  Value blur = s.New("BlurFilter", {Value(3), Value(3), Value(1)});
  EXPECT_EQ(s.vm.ToNumber(s.vm.CallMethod(out, "applyFilter", {bd, rect, point, blur})), 0);
  // The same rectangle through the renderer's filter, by hand.
  PixelPlane plane;
  plane.width = 6;
  plane.height = 5;
  plane.px.assign(30, 0);
  plane.At(2, 2) = 0xFFFF8000u;
  Filter f;
  ASSERT_TRUE(FilterFromScript(blur, f));
  ApplyFilter(f, 1.0, plane);
  const Bitmap& o = *AsBitmapData(out)->bitmap;
  int lit = 0;
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 8; ++x) {
      const bool inside = x >= 2 && y >= 1 && x < 8 && y < 6;
      const std::uint32_t want = inside ? plane.At(x - 2, y - 1) : 0;
      EXPECT_EQ(o.pixels[static_cast<std::size_t>(y * 8 + x)], want) << x << "," << y;
      lit += want != 0;
    }
  EXPECT_GT(lit, 1);  // the blur spread the pixel
  // A colour matrix that swaps red and blue, on straight colours.
  std::vector<Value> m(20, Value(0));
  m[2] = m[6] = m[10] = m[18] = Value(1);
  Value swap = s.New("ColorMatrixFilter", {s.Array(m)});
  Value whole =
      s.vm.Construct(s.Class("geom", "Rectangle"), {Value(0), Value(0), Value(8), Value(6)});
  Value origin = s.vm.Construct(Value(s.vm.pointCtor), {Value(0), Value(0)});
  s.vm.CallMethod(out, "applyFilter", {bd, whole, origin, swap});
  const double swapped = s.vm.ToNumber(s.vm.CallMethod(out, "getPixel32", {Value(3), Value(2)}));
  EXPECT_EQ(ToUint32(swapped), 0xFF0080FFu);
  // Not a filter the renderer draws: the error status, nothing written.
  EXPECT_EQ(s.vm.ToNumber(s.vm.CallMethod(out, "applyFilter",
                                          {bd, whole, origin, s.New("DisplacementMapFilter")})),
            -1);
}

}  // namespace
}  // namespace dbx::swf::avm1
