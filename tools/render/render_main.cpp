// dazzlebox-render: renders one transition (or all nineteen) between two pictures, or a gradient,
// at a given size and step base, to PNG frames and one contact sheet per effect. No display.
//
//   dazzlebox-render [--effect N|all] [--from FILE] [--to FILE] [--size WxH] [--step B]
//                    [--orientation 1|2] [--seed N] [--frames] [--max-frames N]
//                    [--sheet-frames N] [--sheet-columns N] [--kernel fast|plain] [--out DIR]
//   dazzlebox-render --gradient [--angle A] [--color1 C] [--color2 C] [--size WxH] [--out DIR]
//
// Pictures are composed as the slideshow composes them: centred at natural size on a black
// background. Without --from/--to two built-in test patterns are used. Colours are colour values
// 0x00BBGGRR, decimal or 0x-hexadecimal. A transition that does not end by itself within
// --max-frames iterations (a step base of 0 or below) gets the stop request, as an unloading
// slideshow would give it.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "effects/gradient.h"
#include "effects/picture_box.h"
#include "effects/raster.h"
#include "effects/trans_effects.h"
#include "platform/imageio/png_writer.h"

#ifdef DBX_RENDER_HAS_IMAGEIO
#include "platform/imageio/image_io.h"
#endif

namespace dbx::render {
namespace {

struct Options {
  int effect = -1;  // −1: all
  std::string from, to;
  int width = 320, height = 200;
  std::string step = "10";
  int orientation = 0;
  unsigned seed = 1;
  bool frames = false;
  int max_frames = 3000;
  int sheet_frames = 24;
  int sheet_columns = 6;
  Kernel kernel = Kernel::kFast;
  std::string out = "render-out";
  bool gradient = false;
  float angle = 315.0f;
  std::int32_t color1 = 0x00FFFFD0, color2 = 0x00400000;
};

void Usage() {
  std::fputs(
      "usage: dazzlebox-render [--effect N|all] [--from FILE] [--to FILE] [--size WxH]\n"
      "                        [--step B] [--orientation 1|2] [--seed N] [--frames]\n"
      "                        [--max-frames N] [--sheet-frames N] [--sheet-columns N]\n"
      "                        [--kernel fast|plain] [--out DIR]\n"
      "       dazzlebox-render --gradient [--angle A] [--color1 C] [--color2 C] [--size WxH]\n"
      "                        [--out DIR]\n",
      stderr);
}

std::optional<long long> Number(const std::string& s) {
  if (s.empty()) return std::nullopt;
  char* end = nullptr;
  const long long v = std::strtoll(s.c_str(), &end, 0);
  if (end == nullptr || *end != '\0') return std::nullopt;
  return v;
}

bool Parse(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto next = [&]() -> std::optional<std::string> {
      if (i + 1 >= argc) return std::nullopt;
      return std::string(argv[++i]);
    };
    if (a == "--frames") {
      o.frames = true;
    } else if (a == "--gradient") {
      o.gradient = true;
    } else if (a == "--help" || a == "-h") {
      return false;
    } else {
      const auto v = next();
      if (!v) return false;
      if (a == "--effect") {
        if (*v == "all") {
          o.effect = -1;
        } else {
          const auto n = Number(*v);
          if (!n || *n < 0 || *n >= kEffectCount) return false;
          o.effect = static_cast<int>(*n);
        }
      } else if (a == "--from") {
        o.from = *v;
      } else if (a == "--to") {
        o.to = *v;
      } else if (a == "--size") {
        int w = 0, h = 0;
        if (std::sscanf(v->c_str(), "%dx%d", &w, &h) != 2 || w < 0 || h < 0 || w > 16384 ||
            h > 16384)
          return false;
        o.width = w;
        o.height = h;
      } else if (a == "--step") {
        o.step = *v;
      } else if (a == "--orientation") {
        const auto n = Number(*v);
        if (!n || (*n != 1 && *n != 2)) return false;
        o.orientation = static_cast<int>(*n);
      } else if (a == "--seed") {
        const auto n = Number(*v);
        if (!n) return false;
        o.seed = static_cast<unsigned>(*n);
      } else if (a == "--max-frames") {
        const auto n = Number(*v);
        if (!n || *n < 1) return false;
        o.max_frames = static_cast<int>(std::min<long long>(*n, 1000000));
      } else if (a == "--sheet-frames") {
        const auto n = Number(*v);
        if (!n || *n < 1 || *n > 400) return false;
        o.sheet_frames = static_cast<int>(*n);
      } else if (a == "--sheet-columns") {
        const auto n = Number(*v);
        if (!n || *n < 1 || *n > 64) return false;
        o.sheet_columns = static_cast<int>(*n);
      } else if (a == "--kernel") {
        if (*v == "fast") {
          o.kernel = Kernel::kFast;
        } else if (*v == "plain") {
          o.kernel = Kernel::kPlain;
        } else {
          return false;
        }
      } else if (a == "--out") {
        o.out = *v;
      } else if (a == "--angle") {
        o.angle = std::strtof(v->c_str(), nullptr);
      } else if (a == "--color1" || a == "--color2") {
        const auto n = Number(*v);
        if (!n) return false;
        (a == "--color1" ? o.color1 : o.color2) = static_cast<std::int32_t>(*n);
      } else {
        return false;
      }
    }
  }
  return true;
}

// Two recognisable test pictures: a warm ramp with a grid and a disc; a cool checkerboard with
// diagonal stripes.
Surface PatternA(int w, int h) {
  Surface s(w, h);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const int r = 255 * x / std::max(w - 1, 1), g = 80 + 120 * y / std::max(h - 1, 1);
      Pixel p = MakePixel(static_cast<std::uint8_t>(r), static_cast<std::uint8_t>(g), 40);
      if (x % 32 == 0 || y % 32 == 0) p = 0x00202020;
      const double dx = x - w / 2.0, dy = y - h / 2.0;
      if (dx * dx + dy * dy < (std::min(w, h) / 4.0) * (std::min(w, h) / 4.0)) p = 0x00F0F0F0;
      s.At(x, y) = p;
    }
  }
  return s;
}

Surface PatternB(int w, int h) {
  Surface s(w, h);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const bool check = ((x / 24) + (y / 24)) % 2 == 0;
      Pixel p = check ? MakePixel(20, 60, 200) : MakePixel(40, 170, 230);
      if (((x + y) / 12) % 6 == 0) p = MakePixel(250, 220, 40);
      s.At(x, y) = p;
    }
  }
  return s;
}

std::optional<Surface> LoadPicture(const std::string& path) {
#ifdef DBX_RENDER_HAS_IMAGEIO
  FileImageLoader loader;
  return loader.Load(path);
#else
  (void)path;
  std::fprintf(stderr, "this build reads no picture files; use the built-in patterns\n");
  return std::nullopt;
#endif
}

// MiddleImage: black background, the picture centred at natural size.
void Compose(PictureBox& box, const Surface& pic) {
  box.SetBackColor(0);
  box.PaintPicture(pic.View(), {box.PixelWidth() / 2 - pic.width() / 2,
                                box.PixelHeight() / 2 - pic.height() / 2});
}

Surface Thumbnail(SurfaceView frame, int tw, int th) {
  Surface t(tw, th, 0);
  StretchHalftone(t.View(), 0, 0, tw, th, frame, 0, 0, frame.width(), frame.height());
  return t;
}

// A contact sheet: the sampled frames in a grid, in order, the final picture last.
bool WriteSheet(const std::string& path, const std::vector<Surface>& thumbs, int columns) {
  if (thumbs.empty()) return false;
  const int tw = thumbs[0].width(), th = thumbs[0].height(), gap = 4;
  const int cols = std::min<int>(columns, static_cast<int>(thumbs.size()));
  const int rows = (static_cast<int>(thumbs.size()) + cols - 1) / cols;
  Surface sheet(cols * (tw + gap) + gap, rows * (th + gap) + gap, 0x00606060);
  for (std::size_t i = 0; i < thumbs.size(); ++i) {
    const int c = static_cast<int>(i) % cols, r = static_cast<int>(i) / cols;
    CopyRect(sheet.View(), gap + c * (tw + gap), gap + r * (th + gap), tw, th, thumbs[i].View(), 0,
             0);
  }
  return WritePng(path, sheet.View());
}

std::string Name(int e) {
  std::string n = EffectName(e);
  for (char& ch : n) {
    if (ch == ' ') ch = '-';
  }
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d-", e);
  return buf + n;
}

int RenderEffect(const Options& o, int e, const Surface& from, const Surface& to) {
  PictureBox p1, p2, p3;
  for (PictureBox* p : {&p1, &p2, &p3}) p->SetPixelSize(o.width, o.height);
  Compose(p1, from);
  Compose(p3, from);
  Compose(p2, to);
  std::mt19937 rng(o.seed + static_cast<unsigned>(e));
  bool first = true;
  RandomSource rnd = [&]() {
    double v = std::uniform_real_distribution<double>(0.0, 1.0)(rng);
    if (first && o.orientation != 0) v = o.orientation == 1 ? 0.25 : 0.75;
    first = false;
    return v;
  };
  TransEffects fx;
  fx.SetKernel(o.kernel);
  std::vector<Surface> frames;  // every frame, for sampling (small sizes only keep all)
  const std::string dir = o.out + "/" + Name(e);
  if (o.frames) std::filesystem::create_directories(dir);
  const StartResult r = fx.Start(e, o.step, {&p1, &p2, &p3}, rnd);
  if (r == StartResult::kBadStepBase) {
    std::fprintf(stderr, "the step base \"%s\" is not a whole number\n", o.step.c_str());
    return 2;
  }
  if (r != StartResult::kStarted) return 2;
  // Keep thumbnails of every frame (cheap) and sample them for the sheet.
  const int tw = std::min(160, std::max(o.width, 1));
  const int th = std::max(1, o.width > 0 ? o.height * tw / std::max(o.width, 1) : 1);
  std::vector<Surface> thumbs;
  int n = 0;
  bool stopped = false;
  auto keep = [&](int index) {
    if (o.width > 0 && o.height > 0) {
      thumbs.push_back(Thumbnail(p1.Image(), tw, th));
      if (o.frames) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "/frame-%05d.png", index);
        WritePng(dir + buf, p1.Image());
      }
    }
  };
  keep(0);  // the outgoing picture as the transition starts
  for (;;) {
    if (n >= o.max_frames && !stopped) {
      fx.RequestStop();
      stopped = true;
    }
    if (!fx.Frame()) break;
    ++n;
    keep(n);
    if (n > o.max_frames + 100000) break;  // a split scroll stopped in phase 1 that never ends
  }
  keep(n + 1);  // the final picture
  std::vector<Surface> sample;
  const int want = std::min<int>(o.sheet_frames, static_cast<int>(thumbs.size()));
  for (int i = 0; i < want; ++i) {
    const std::size_t idx =
        want == 1
            ? thumbs.size() - 1
            : static_cast<std::size_t>(std::llround(
                  static_cast<double>(i) * static_cast<double>(thumbs.size() - 1) / (want - 1)));
    sample.push_back(thumbs[idx].Clone());
  }
  const std::string sheet = o.out + "/" + Name(e) + ".png";
  if (!sample.empty() && !WriteSheet(sheet, sample, o.sheet_columns)) {
    std::fprintf(stderr, "cannot write %s\n", sheet.c_str());
    return 1;
  }
  std::printf("%-22s %5d frames%s -> %s\n", EffectName(e), n, stopped ? " (stopped)" : "",
              sample.empty() ? "(empty surface, no sheet)" : sheet.c_str());
  return 0;
}

int RenderGradient(const Options& o) {
  PictureBox p;
  p.SetPixelSize(o.width, o.height);
  ClsGrandinet g;
  g.SetAngle(o.angle);
  g.SetColor1(o.color1);
  g.SetColor2(o.color2);
  const bool painted = g.Draw(&p);
  char buf[64];
  std::snprintf(buf, sizeof buf, "/gradient-%g.png", static_cast<double>(g.Angle()));
  const std::string path = o.out + buf;
  if (!painted || !WritePng(path, p.Image())) {
    std::fprintf(stderr, "nothing painted (a surface of 1 pixel or less on an axis)\n");
    return 1;
  }
  std::printf("gradient at %g degrees -> %s\n", static_cast<double>(g.Angle()), path.c_str());
  return 0;
}

int Main(int argc, char** argv) {
  Options o;
  if (!Parse(argc, argv, o)) {
    Usage();
    return 2;
  }
  std::error_code ec;
  std::filesystem::create_directories(o.out, ec);
  if (o.gradient) return RenderGradient(o);
  Surface from, to;
  if (!o.from.empty()) {
    auto s = LoadPicture(o.from);
    if (!s) {
      std::fprintf(stderr, "cannot read %s\n", o.from.c_str());
      return 1;
    }
    from = std::move(*s);
  } else {
    from = PatternA(o.width, o.height);
  }
  if (!o.to.empty()) {
    auto s = LoadPicture(o.to);
    if (!s) {
      std::fprintf(stderr, "cannot read %s\n", o.to.c_str());
      return 1;
    }
    to = std::move(*s);
  } else {
    to = PatternB(o.width, o.height);
  }
  int rc = 0;
  for (int e = 0; e < kEffectCount; ++e) {
    if (o.effect >= 0 && e != o.effect) continue;
    rc = std::max(rc, RenderEffect(o, e, from, to));
  }
  return rc;
}

}  // namespace
}  // namespace dbx::render

int main(int argc, char** argv) {
  return dbx::render::Main(argc, argv);
}
