// A small program of the Windows layer for the end-to-end checks under Wine. It stands in for the
// screensaver where the checks need a window of ours, and for the program that the launcher starts.
//
//   dbx_probe show <ms>       full-screen test pattern; ends on a key, a click, a move of more than
//                             4 pixels, or after <ms>; prints what it saw and measured
//   dbx_probe /p <hwnd>       embeds a dark grey window into <hwnd>, as a preview does; ends when
//                             the parent goes away
//   dbx_probe marker <file> <ms>   writes its command line and start-up show state to <file>,
//                             waits <ms>, then appends "end"
//   dbx_probe image <file>    decodes a picture and prints its size and first pixel
//   dbx_probe sound <file>    plays a WAV once and prints whether it started
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "platform/win32/event_loop.h"
#include "platform/win32/win32_api.h"
#include "platform/win32/win32_platform.h"
#include "platform/win32/win32_services.h"

namespace {

using namespace dbx;

// Colours of the pattern, checked at points by the screenshot script.
constexpr Pixel kTopLeft = MakePixel(255, 0, 0);
constexpr Pixel kTopRight = MakePixel(0, 255, 0);
constexpr Pixel kBottomLeft = MakePixel(0, 0, 255);
constexpr Pixel kBottomRight = MakePixel(255, 255, 0);

void FillPattern(Surface& s) {
  const int w = s.width();
  const int h = s.height();
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      Pixel p =
          y < h / 2 ? (x < w / 2 ? kTopLeft : kTopRight) : (x < w / 2 ? kBottomLeft : kBottomRight);
      // A 1-pixel black and white checker of 16 x 16 pixels at the centre: any scaling by the
      // system blurs it.
      if (x >= w / 2 - 8 && x < w / 2 + 8 && y >= h / 2 - 8 && y < h / 2 + 8) {
        p = ((x + y) & 1) ? MakePixel(255, 255, 255) : MakePixel(0, 0, 0);
      }
      s.At(x, y) = p;
    }
  }
}

class ShowForm : public WindowEvents {
 public:
  explicit ShowForm(Platform& platform) : platform_(platform) {
    WindowOptions options;
    window_ = platform.CreateWindow(options, *this);
  }
  Window* window() { return window_.get(); }
  void End(const char* why) {
    if (ended_) return;
    ended_ = true;
    std::printf("ended by %s at %lld ms\n", why, static_cast<long long>(platform_.Loop().NowMs()));
    std::fflush(stdout);
    platform_.Loop().Quit(0);
  }
  void OnKeyDown(int key, int shift) override {
    std::printf("key down %d shift %d\n", key, shift);
    End("key");
  }
  void OnMouseDown(MouseButton button, int, Point p) override {
    std::printf("mouse down %d at %d,%d\n", static_cast<int>(button), p.x, p.y);
    End("click");
  }
  void OnMouseMove(int, int, Point) override {
    // Wine sends a move when a window appears under the pointer: compare screen positions.
    const Point now = platform_.Pointer().Position();
    if (!start_) {
      start_ = now;
      return;
    }
    if (std::abs(now.x - start_->x) > 4 || std::abs(now.y - start_->y) > 4) End("move");
  }
  void OnResize(Size client) override {
    surface_.Resize(client.w, client.h);
    FillPattern(surface_);
  }
  void OnPaint() override {
    if (window_) window_->Present(surface_.View(), {0, 0, surface_.width(), surface_.height()});
  }
  void OnCloseRequest() override { End("close"); }

 private:
  Platform& platform_;
  std::unique_ptr<Window> window_;
  Surface surface_;
  std::optional<Point> start_;
  bool ended_ = false;
};

int Show(Platform& platform, int limitMs) {
  ShowForm form(platform);
  if (!form.window()) return 2;
  platform.Pointer().Show(false);
  form.window()->Show();
  form.window()->SetState(WindowState::kMaximized);
  const Size client = form.window()->ClientSize();
  const Size screen{::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
  const HWND hwnd = win32::ToHwnd(form.window()->Handle());
  std::printf("client %dx%d screen %dx%d twips %d dpi-awareness %d\n", client.w, client.h, screen.w,
              screen.h, form.window()->TwipsPerPixelX(),
              static_cast<int>(
                  ::GetAwarenessFromDpiAwarenessContext(::GetWindowDpiAwarenessContext(hwnd))));
  std::fflush(stdout);

  // Frame pacing: the worst and mean interval of 120 frames, after 30 frames of warm-up while the
  // window settles on the screen.
  auto& loop = static_cast<win32::Win32EventLoop&>(platform.Loop());
  for (int i = 0; i < 30; ++i) loop.WaitFrame();
  double worst = 0;
  int slow = 0;  // frames longer than two refresh periods
  const std::int64_t first = loop.NowMs();
  std::int64_t last = first;
  for (int i = 0; i < 120; ++i) {
    loop.WaitFrame();
    const std::int64_t now = loop.NowMs();
    const double took = static_cast<double>(now - last);
    worst = std::max(worst, took);
    if (took > 2 * loop.RefreshPeriodMs()) ++slow;
    last = now;
  }
  std::printf(
      "frames 120 mean %.2f ms worst %.0f ms refresh %.2f ms pacing %s slow %d\n",
      static_cast<double>(last - first) / 120.0, worst, loop.RefreshPeriodMs(),
      loop.pacing() == win32::Win32EventLoop::Pacing::kCompositor ? "compositor" : "refresh-timer",
      slow);
  std::printf("ready\n");
  std::fflush(stdout);
  const TimerId limit = loop.CreateTimer(limitMs, [&] { form.End("time limit"); });
  loop.SetTimer(limit, true, limitMs);
  const int code = loop.Run();
  platform.Pointer().Show(true);
  return code;
}

class PreviewForm : public WindowEvents {
 public:
  explicit PreviewForm(Platform& platform) : platform_(platform) {
    WindowOptions options;
    options.background = MakePixel(64, 64, 64);
    window_ = platform.CreateWindow(options, *this);
  }
  Window* window() { return window_.get(); }
  void OnCloseRequest() override {
    window_.reset();
    platform_.Loop().Quit(0);
  }

 private:
  Platform& platform_;
  std::unique_ptr<Window> window_;
};

int Preview(Platform& platform, const std::string& handle) {
  const auto parent = static_cast<NativeHandle>(std::strtoull(handle.c_str(), nullptr, 10));
  const std::optional<Size> size = platform.Proc().ClientSizeOf(parent);
  if (!size) return 3;
  PreviewForm form(platform);
  if (!form.window()) return 2;
  form.window()->SetCaption("Preview");
  form.window()->EmbedInto(parent, *size);
  return platform.Loop().Run();
}

int Marker(Platform& platform, const std::string& file, int waitMs) {
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  ::GetStartupInfoA(&startup);
  {
    std::ofstream out(file, std::ios::trunc);
    out << "args " << platform.Proc().CommandLine() << "\n";
    out << "showwindow " << ((startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : -1)
        << "\n";
  }
  ::Sleep(static_cast<DWORD>(waitMs));
  std::ofstream(file, std::ios::app) << "end\n";
  return 0;
}

}  // namespace

// True when the program carries the application manifest (resource 1 of type RT_MANIFEST, the
// one the loader reads) and it asks for per-monitor v2 awareness.
bool ManifestDeclaresPerMonitorV2() {
  const HRSRC found = ::FindResourceA(nullptr, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
  const HGLOBAL loaded = found ? ::LoadResource(nullptr, found) : nullptr;
  const char* text = loaded ? static_cast<const char*>(::LockResource(loaded)) : nullptr;
  if (text == nullptr) return false;
  const std::string manifest(text, ::SizeofResource(nullptr, found));
  return manifest.find(">PerMonitorV2") != std::string::npos;
}

int main(int argc, char** argv) {
  std::unique_ptr<Platform> platform = CreateSystemPlatform();
  const std::vector<std::string> args(argv + 1, argv + argc);
  const auto arg = [&](std::size_t i) { return i < args.size() ? args[i] : std::string(); };
  if (arg(0) == "show") {
    std::printf("manifest %s\n", ManifestDeclaresPerMonitorV2() ? "per-monitor-v2" : "none");
    return Show(*platform, std::atoi(arg(1).c_str()));
  }
  if (arg(0) == "/p" || arg(0) == "/P") return Preview(*platform, arg(1));
  if (arg(0) == "marker") return Marker(*platform, arg(1), std::atoi(arg(2).c_str()));
  if (arg(0) == "image") {
    const std::int64_t start = platform->Loop().NowMs();
    const std::optional<Surface> picture = platform->Images().Load(arg(1));
    if (!picture) {
      std::printf("image none\n");
      return 1;
    }
    std::printf("image %dx%d first %06x in %lld ms\n", picture->width(), picture->height(),
                picture->At(0, 0), static_cast<long long>(platform->Loop().NowMs() - start));
    return 0;
  }
  if (arg(0) == "sound") {
    const bool started = platform->Sound().Play(arg(1), SoundRepeat::kOnce);
    std::printf("sound %s\n", started ? "started" : "refused");
    ::Sleep(200);
    platform->Sound().Stop();
    return 0;
  }
  std::fprintf(stderr,
               "usage: dbx_probe show <ms> | /p <hwnd> | marker <file> <ms> | image <file>"
               " | sound <file>\n");
  return 64;
}
