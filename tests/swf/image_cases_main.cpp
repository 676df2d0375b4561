// swf-image-cases: plays picture cases of an outside movie corpus and compares the frames with
// their reference pictures. A developer's measuring tool for the renderer (not a test).
//
//   swf-image-cases [--dump DIR] CASE_DIR...
//
// A case folder holds test.swf, test.toml and one <name>.expected.png per comparison. Prints one
// line per case (PASS/FAIL, the channels beyond each tolerance) and the pass count.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "swf/flash_player.h"
#include "test_support.h"

namespace dbx {
namespace {

struct Check {
  int tolerance = 0;
  long maxOutliers = 0;
};

struct Comparison {
  std::string name;
  int trigger = -1;  // frame to capture; -1: after the last
  std::vector<Check> checks;
};

struct CaseToml {
  int frames = 1;
  std::string quality = "high";
  int width = 0, height = 0;
  std::vector<Comparison> comparisons;
};

std::string Trim(std::string s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\r')) s.pop_back();
  std::size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  return s.substr(i);
}

// The number after `key =` in `text`, if any.
std::optional<long> NumberAfter(const std::string& text, const std::string& key) {
  std::size_t at = text.find(key);
  while (at != std::string::npos) {
    std::size_t p = at + key.size();
    while (p < text.size() && text[p] == ' ') ++p;
    if (p < text.size() && text[p] == '=') return std::strtol(text.c_str() + p + 1, nullptr, 10);
    at = text.find(key, at + 1);
  }
  return std::nullopt;
}

CaseToml ReadCase(const std::filesystem::path& path) {
  std::ifstream in(path);
  CaseToml t;
  std::string line, section;
  Comparison* cur = nullptr;
  while (std::getline(in, line)) {
    line = Trim(line);
    if (line.empty() || line[0] == '#') continue;
    if (line[0] == '[') {
      const bool array = line.rfind("[[", 0) == 0;
      section = line.substr(array ? 2 : 1, line.find(']') - (array ? 2 : 1));
      cur = nullptr;
      if (section.rfind("image_comparisons.", 0) == 0) {
        std::string name = section.substr(18);
        const bool checks = name.size() > 7 && name.ends_with(".checks");
        if (checks) name = name.substr(0, name.size() - 7);
        for (Comparison& c : t.comparisons)
          if (c.name == name) cur = &c;
        if (!cur) {
          t.comparisons.push_back({name, -1, {}});
          cur = &t.comparisons.back();
        }
        if (checks || cur->checks.empty()) cur->checks.push_back({});
      }
      continue;
    }
    if (line.rfind("image_comparisons.", 0) == 0) {  // image_comparisons."name".key = value
      std::string rest = line.substr(18);
      const std::size_t dot =
          rest.find('.', rest.find('"', 1) == std::string::npos ? 0 : rest.find('"', 1));
      std::string name = rest.substr(0, dot);
      if (name.size() >= 2 && name.front() == '"') name = name.substr(1, name.size() - 2);
      cur = nullptr;
      for (Comparison& c : t.comparisons)
        if (c.name == name) cur = &c;
      if (!cur) {
        t.comparisons.push_back({name, -1, {Check{}}});
        cur = &t.comparisons.back();
      }
      line = rest.substr(dot + 1);
      section.clear();
    }
    if (cur) {
      if (auto v = NumberAfter(line, "tolerance"))
        cur->checks.back().tolerance = static_cast<int>(*v);
      if (auto v = NumberAfter(line, "max_outliers")) cur->checks.back().maxOutliers = *v;
      if (auto v = NumberAfter(line, "trigger")) cur->trigger = static_cast<int>(*v);
      continue;
    }
    if (auto v = NumberAfter(line, "num_frames")) t.frames = static_cast<int>(*v);
    if (auto v = NumberAfter(line, "num_ticks")) t.frames = static_cast<int>(*v);
    if (line.find("quality") != std::string::npos) {
      const std::size_t q = line.find('"', line.find("quality"));
      if (q != std::string::npos) t.quality = line.substr(q + 1, line.find('"', q + 1) - q - 1);
    }
    if (auto v = NumberAfter(line, "width")) t.width = static_cast<int>(*v);
    if (auto v = NumberAfter(line, "height")) t.height = static_cast<int>(*v);
  }
  return t;
}

long Outliers(const Surface& a, const Surface& b, int tolerance) {
  long n = 0;
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x) {
      const Pixel p = a.At(x, y), q = b.At(x, y);
      n += std::abs(PixelR(p) - PixelR(q)) > tolerance;
      n += std::abs(PixelG(p) - PixelG(q)) > tolerance;
      n += std::abs(PixelB(p) - PixelB(q)) > tolerance;
    }
  return n;
}

int g_show = 0;  // differing pixels to list per comparison

void Show(const Surface& a, const Surface& b, int tolerance) {
  int shown = 0;
  for (int y = 0; y < a.height() && shown < g_show; ++y)
    for (int x = 0; x < a.width() && shown < g_show; ++x) {
      const Pixel p = a.At(x, y), q = b.At(x, y);
      if (std::abs(PixelR(p) - PixelR(q)) > tolerance ||
          std::abs(PixelG(p) - PixelG(q)) > tolerance ||
          std::abs(PixelB(p) - PixelB(q)) > tolerance) {
        std::printf("  (%d,%d) ours %06X expected %06X\n", x, y, p & 0xFFFFFF, q & 0xFFFFFF);
        ++shown;
      }
    }
}

bool RunCase(const std::filesystem::path& dir, const std::optional<std::filesystem::path>& dump) {
  const CaseToml toml = ReadCase(dir / "test.toml");
  const auto bytes = swftest::ReadFile(dir / "test.swf");
  swftest::JpegLoader jpeg;
  FlashPlayer player(&jpeg);
  player.LoadMovieBytes(bytes.data(), bytes.size(), "test.swf");
  std::string report;
  bool ok = player.HasMovie() && !toml.comparisons.empty();
  player.SetQuality2(toml.quality);
  player.Play();
  const double interval = player.FrameIntervalMs();
  int shown = 0;  // frames shown so far
  auto advanceTo = [&](int frames) {
    while (shown < frames) {
      player.Advance(static_cast<std::int64_t>(std::ceil(shown * interval)));
      ++shown;
    }
  };
  for (const Comparison& c : toml.comparisons) {
    const auto expected = swftest::ReadPng(dir / (c.name + ".expected.png"));
    if (!expected) {
      ok = false;
      report += " " + c.name + ": no picture";
      continue;
    }
    advanceTo(c.trigger > 0 ? c.trigger : toml.frames);
    player.SetViewportSize(expected->size());
    Surface out(expected->width(), expected->height());
    player.RenderFrame(out.View());
    if (dump) {
      std::string flat = dir.string();
      for (char& ch : flat)
        if (ch == '/') ch = '_';
      swftest::WritePng(*dump / (flat + "." + c.name + ".png"), out);
    }
    for (const Check& k : c.checks) {
      const long n = Outliers(out, *expected, k.tolerance);
      report += " " + c.name + "[tol " + std::to_string(k.tolerance) + "]=" + std::to_string(n) +
                "/" + std::to_string(k.maxOutliers);
      if (n > k.maxOutliers) {
        ok = false;
        Show(out, *expected, k.tolerance);
      }
    }
  }
  std::printf("%s %s%s\n", ok ? "PASS" : "FAIL", dir.string().c_str(), report.c_str());
  return ok;
}

}  // namespace
}  // namespace dbx

int main(int argc, char** argv) {
  std::optional<std::filesystem::path> dump;
  int passed = 0, total = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--show" && i + 1 < argc) {
      dbx::g_show = std::atoi(argv[++i]);
      continue;
    }
    if (a == "--dump" && i + 1 < argc) {
      dump = argv[++i];
      std::filesystem::create_directories(*dump);
      continue;
    }
    ++total;
    passed += dbx::RunCase(a, dump) ? 1 : 0;
  }
  std::printf("%d of %d cases pass\n", passed, total);
  return 0;
}
