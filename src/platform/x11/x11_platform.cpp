#include "platform/x11/x11_platform.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cerrno>
#include <cstdlib>

#include "platform/fonts_ft/freetype_fonts.h"
#include "platform/imageio/image_io.h"
#include "platform/mpg123/mpg123_decoder.h"
#include "platform/posix/posix_services.h"
#include "platform/x11/display.h"
#include "platform/x11/event_loop.h"
#include "platform/x11/sdl_audio_output.h"
#include "platform/x11/sdl_sound.h"
#include "platform/x11/window.h"
#include "platform/x11/x11_services.h"

namespace dbx {
namespace {

using x11::LastXError;
using x11::X11Window;

std::optional<NativeHandle> ParseWindowId(const char* text) {
  if (!text || !*text) return std::nullopt;
  char* end = nullptr;
  errno = 0;
  const unsigned long long v = std::strtoull(text, &end, 0);
  if (errno != 0 || end == text || *end != '\0' || v == 0 || v > 0xFFFFFFFFull) {
    return std::nullopt;
  }
  return static_cast<NativeHandle>(v);
}

std::string FileTitleOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

class X11Platform final : public Platform {
 public:
  explicit X11Platform(const X11StartOptions& options)
      : display_(options.hostWindow),
        store_(FileSettingsStore::DefaultPath()),
        process_(display_, options.commandLine, FileTitleOf(options.argv0),
                 options.hostWindow != 0),
        cursor_(display_),
        loop_(display_) {
    files_.programPath = options.argv0;
  }

  SettingsStore& Settings() override { return store_; }
  IniReader& Ini() override { return files_; }
  SystemPaths& Paths() override { return files_; }
  Process& Proc() override { return process_; }
  Cursor& Pointer() override { return cursor_; }
  EventLoop& Loop() override { return loop_; }
  ImageLoader& Images() override { return images_; }
  SoundPlayer& Sound() override {
    if (!sound_) sound_ = CreateSdlSoundPlayer();
    return *sound_;
  }
  Dialogs& Dialog() override { return dialogs_; }
  SystemColors& Colors() override { return dialogs_; }
  FontSource* Fonts() override {
    if (!fontsTried_) {
      fontsTried_ = true;
      fonts_ = CreateFreeTypeFonts();
    }
    return fonts_.get();
  }

  std::unique_ptr<Mp3Decoder> CreateMp3Decoder(int rate, int channels) override {
    return CreateMpg123Decoder(rate, channels);
  }
  std::unique_ptr<AudioOutput> OpenAudioOutput(AudioSource source) override {
    return OpenSdlAudioOutput(std::move(source));
  }
  std::unique_ptr<Window> CreateWindow(const WindowOptions& options,
                                       WindowEvents& events) override {
    if (!display_.Get()) return nullptr;
    return std::make_unique<X11Window>(display_, options, events);
  }
  std::unique_ptr<Window> CreateChildWindow(Window& parent, std::string_view className,
                                            const WindowOptions& options,
                                            WindowEvents& events) override {
    if (!display_.Get()) return nullptr;
    auto w = std::make_unique<X11Window>(display_, options, events,
                                         static_cast<::Window>(parent.Handle()), className);
    w->SetVisible(true);
    return w;
  }
  std::vector<Rect> Monitors() override {
    // In a window it was given, the show stays in that window.
    if (display_.HostWindow() != 0) return {};
    return x11::QueryMonitors(display_.Get());
  }
  std::vector<NativeHandle> DescendantWindows(NativeHandle parent) override {
    std::vector<NativeHandle> out;
    Display* d = display_.Get();
    if (!d || parent == 0) return out;
    ::Window root = 0, up = 0, *children = nullptr;
    unsigned n = 0;
    LastXError() = 0;
    if (!XQueryTree(d, static_cast<::Window>(parent), &root, &up, &children, &n)) return out;
    // Topmost first, as a system lists children; each followed by its own descendants.
    for (unsigned i = n; i-- > 0;) {
      out.push_back(children[i]);
      for (NativeHandle grandchild : DescendantWindows(children[i])) out.push_back(grandchild);
    }
    if (children) XFree(children);
    return out;
  }
  std::string WindowClassName(NativeHandle window) override {
    Display* d = display_.Get();
    if (!d) return {};
    XClassHint hint{};
    LastXError() = 0;
    if (!XGetClassHint(d, static_cast<::Window>(window), &hint)) return {};
    std::string name = hint.res_class ? hint.res_class : "";
    if (hint.res_name) XFree(hint.res_name);
    if (hint.res_class) XFree(hint.res_class);
    return name;
  }
  WindowProc SubclassWindow(NativeHandle window, WindowProc procedure) override {
    const auto it = display_.windows.find(static_cast<::Window>(window));
    if (it == display_.windows.end()) return {};
    WindowProc previous = std::move(it->second->Procedure());
    it->second->Procedure() = std::move(procedure);
    return previous;
  }

 private:
  // First member: everything below borrows the display, and it closes last.
  x11::X11Display display_;
  FileSettingsStore store_;
  PosixFiles files_;
  x11::X11Process process_;
  x11::X11Cursor cursor_;
  x11::X11Loop loop_;
  FileImageLoader images_;
  std::unique_ptr<FontSource> fonts_;  // opened on first use
  bool fontsTried_ = false;
  std::unique_ptr<SoundPlayer> sound_;
  x11::X11Dialogs dialogs_;
};

}  // namespace

X11StartOptions ParseX11Arguments(int argc, char** argv) {
  X11StartOptions o;
  o.argv0 = argc > 0 && argv[0] ? argv[0] : "dazzlebox";
  std::vector<std::string> rest;
  bool hack = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i] ? argv[i] : "";
    if ((a == "-window-id" || a == "--window-id") && i + 1 < argc) {
      hack = true;
      if (auto id = ParseWindowId(argv[++i])) o.hostWindow = *id;
    } else if (a == "-root" || a == "--root") {
      hack = true;
    } else {
      rest.push_back(a);
    }
  }
  if (!hack && rest.empty()) {
    if (auto id = ParseWindowId(std::getenv("XSCREENSAVER_WINDOW"))) {
      hack = true;
      o.hostWindow = *id;
    }
  }
  if (hack) {
    if (o.hostWindow == 0) {
      if (Display* d = XOpenDisplay(nullptr)) {
        o.hostWindow = DefaultRootWindow(d);
        XCloseDisplay(d);
      }
    }
    o.commandLine = "/s";
    return o;
  }
  for (const auto& a : rest) {
    if (!o.commandLine.empty()) o.commandLine += ' ';
    o.commandLine += a;
  }
  return o;
}

std::unique_ptr<Platform> CreateX11Platform(const X11StartOptions& options) {
  return std::make_unique<X11Platform>(options);
}

}  // namespace dbx
