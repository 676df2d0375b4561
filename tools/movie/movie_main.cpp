// dazzlebox-movie: plays a movie headless, as fast as it can, for a number of frames; prints its
// trace() lines on standard output and writes the last frame as a PNG picture.
//
//   dazzlebox-movie <movie.swf> [--frames N] [--size WxH] [--quality Q] [--input events.json]
//                   [--socket steps.json] [--png OUT.png] [--capture-frame K]
//                   [--expect EXPECTED.png] [--tolerance T] [--wav OUT.wav] [--log-fetch] [--date
//                   DATE]
//                   [--font FAMILY=FILE]... [--generic-font sans|serif|typewriter=FAMILY]...
//
// --capture-frame keeps frame K's picture instead of the last one's. --expect compares the kept
// picture with a PNG file and prints "outliers N" on standard error (channels that differ by more
// than --tolerance). --wav writes the sound of the frames played, mixed as 16-bit stereo at
// 44.1 kHz (one frame interval of sound per frame). --log-fetch writes the page and window of every
// getURL that would open a page to the trace. --date fixes the moment and zone that scripts' Date
// sees ("2001-02-03T04:05:06+05:45": that local time, 5 h 45 min ahead of UTC). A file that cannot
// be read as a movie gets one line on standard error and exit status 1; bad options get the usage
// and exit status 2.
// --font makes a font file's face the one a movie gets for FAMILY, before the installed ones;
// --generic-font names the family "_sans", "_serif" or "_typewriter" stands for (both Linux only).
// --socket gives the movie's XMLSocket connections a peer that plays the steps of a JSON list
// ({"type": "Send", "payload": [bytes]}, "Receive" with the bytes it waits for,
// "WaitForDisconnect", "Disconnect"); without it they fail.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "movie_run.h"
#include "platform/imageio/png_reader.h"
#include "platform/imageio/png_writer.h"

namespace {

void Usage() {
  std::fputs(
      "usage: dazzlebox-movie <movie.swf> [--frames N] [--size WxH] [--scale-factor F]\n"
      "                       [--quality Q]\n"
      "                       [--input events.json] [--socket steps.json]\n"
      "                       [--png OUT.png] [--capture-frame K]\n"
      "                       [--expect EXPECTED.png] [--tolerance T] [--wav OUT.wav]\n"
      "                       [--log-fetch] [--date YYYY-MM-DDTHH:MM:SS+HH:MM]\n"
      "                       [--font FAMILY=FILE]...\n"
      "                       [--generic-font sans|serif|typewriter=FAMILY]...\n",
      stderr);
}

bool ToInt(const char* s, int& out, int lo, int hi) {
  char* end = nullptr;
  const long v = std::strtol(s, &end, 10);
  if (!end || *end || end == s || v < lo || v > hi) return false;
  out = static_cast<int>(v);
  return true;
}

// A whole file; nothing when it cannot be read.
std::optional<std::string> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (!in) return std::nullopt;
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  dbx::movie::RunOptions o;
  std::string png, input, socket, expect, wav;
  int tolerance = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool hasValue = i + 1 < argc;
    if (a == "--frames" && hasValue) {
      if (!ToInt(argv[++i], o.frames, 1, 10000000)) return Usage(), 2;
    } else if (a == "--size" && hasValue) {
      const std::string v = argv[++i];
      const auto x = v.find('x');
      if (x == std::string::npos || !ToInt(v.substr(0, x).c_str(), o.width, 1, 8192) ||
          !ToInt(v.substr(x + 1).c_str(), o.height, 1, 8192))
        return Usage(), 2;
    } else if (a == "--scale-factor" && hasValue) {
      char* end = nullptr;
      o.scaleFactor = std::strtod(argv[++i], &end);
      if (!end || *end || !(o.scaleFactor >= 0.1 && o.scaleFactor <= 10)) return Usage(), 2;
    } else if (a == "--quality" && hasValue) {
      o.quality = argv[++i];
    } else if (a == "--input" && hasValue) {
      input = argv[++i];
    } else if (a == "--socket" && hasValue) {
      socket = argv[++i];
    } else if (a == "--png" && hasValue) {
      png = argv[++i];
    } else if (a == "--capture-frame" && hasValue) {
      if (!ToInt(argv[++i], o.captureFrame, 1, 10000000)) return Usage(), 2;
    } else if (a == "--expect" && hasValue) {
      expect = argv[++i];
    } else if (a == "--wav" && hasValue) {
      wav = argv[++i];
      o.sound = true;
    } else if (a == "--date" && hasValue) {
      o.fixedDate = dbx::movie::ParseFixedDate(argv[++i]);
      if (!o.fixedDate) return Usage(), 2;
    } else if (a == "--log-fetch") {
      o.logNavigation = true;
    } else if (a == "--font" && hasValue) {
      const std::string v = argv[++i];
      const auto eq = v.find('=');
      if (eq == std::string::npos || eq == 0 || eq + 1 == v.size()) return Usage(), 2;
      o.fontFiles.emplace_back(v.substr(0, eq), v.substr(eq + 1));
    } else if (a == "--generic-font" && hasValue) {
      const std::string v = argv[++i];
      const auto eq = v.find('=');
      const std::string which = v.substr(0, eq), family = v.substr(eq + 1);
      if (eq == std::string::npos || family.empty()) return Usage(), 2;
      if (which == "sans") {
        o.sansFamily = family;
      } else if (which == "serif") {
        o.serifFamily = family;
      } else if (which == "typewriter") {
        o.typewriterFamily = family;
      } else {
        return Usage(), 2;
      }
    } else if (a == "--tolerance" && hasValue) {
      if (!ToInt(argv[++i], tolerance, 0, 255)) return Usage(), 2;
    } else if (!a.empty() && a[0] != '-' && o.path.empty()) {
      o.path = a;
    } else {
      Usage();
      return 2;
    }
  }
  if (o.path.empty()) {
    Usage();
    return 2;
  }
  if (!socket.empty()) {
    const auto text = ReadAll(socket);
    if (text) o.socket = dbx::movie::ParseSocketSteps(*text);
    if (!o.socket) {
      std::fprintf(stderr, "dazzlebox-movie: cannot read the socket script %s\n", socket.c_str());
      return 1;
    }
  }
  if (!input.empty()) {
    const auto text = ReadAll(input);
    auto events = text ? dbx::movie::ParseInputEvents(*text) : std::nullopt;
    if (!events) {
      std::fprintf(stderr, "dazzlebox-movie: cannot read the input list %s\n", input.c_str());
      return 1;
    }
    o.input = std::move(*events);
  }
  o.picture = !png.empty() || !expect.empty();
  const auto result = dbx::movie::RunMovie(o, [](std::string_view line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
  });
  std::fflush(stdout);
  if (!result.loaded) {
    std::fprintf(stderr, "dazzlebox-movie: cannot read %s as a movie\n", o.path.c_str());
    return 1;
  }
  if (!png.empty() && result.picture && !dbx::WritePng(png, result.picture->View())) {
    std::fprintf(stderr, "dazzlebox-movie: cannot write %s\n", png.c_str());
    return 1;
  }
  if (!wav.empty() && !dbx::movie::WriteWav(wav, result.sound)) {
    std::fprintf(stderr, "dazzlebox-movie: cannot write %s\n", wav.c_str());
    return 1;
  }
  if (!expect.empty()) {
    const auto expected = dbx::ReadPng(expect);
    if (!expected || !result.picture) {
      std::fprintf(stderr, "outliers unreadable\n");
    } else {
      std::fprintf(stderr, "outliers %zu\n",
                   dbx::movie::CountOutliers(*result.picture, *expected, tolerance));
    }
  }
  return 0;
}
