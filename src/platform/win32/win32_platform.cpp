#include "platform/win32/win32_platform.h"

#include "platform/win32/event_loop.h"
#include "platform/win32/gdi_fonts.h"
#include "platform/win32/image_loader.h"
#include "platform/win32/movie_audio.h"
#include "platform/win32/win32_api.h"
#include "platform/win32/win32_services.h"
#include "platform/win32/window.h"

namespace dbx {
namespace {

class Win32Platform final : public Platform {
 public:
  SettingsStore& Settings() override { return settings_; }
  IniReader& Ini() override { return ini_; }
  SystemPaths& Paths() override { return paths_; }
  Process& Proc() override { return process_; }
  Cursor& Pointer() override { return cursor_; }
  EventLoop& Loop() override { return loop_; }
  ImageLoader& Images() override { return images_; }
  SoundPlayer& Sound() override { return sound_; }
  Dialogs& Dialog() override { return dialogs_; }
  SystemColors& Colors() override { return colors_; }
  FontSource* Fonts() override {
    if (!fonts_) fonts_ = win32::CreateGdiFonts();
    return fonts_.get();
  }
  std::unique_ptr<Mp3Decoder> CreateMp3Decoder(int rate, int channels) override {
    return win32::CreateAcmMp3Decoder(rate, channels);
  }
  std::unique_ptr<AudioOutput> OpenAudioOutput(AudioSource source) override {
    return win32::OpenWaveOutput(std::move(source));
  }

  std::unique_ptr<Window> CreateWindow(const WindowOptions& options,
                                       WindowEvents& events) override {
    auto window = std::make_unique<win32::Win32Window>(options, events);
    if (!window->Valid()) return nullptr;
    return window;
  }
  std::unique_ptr<Window> CreateChildWindow(Window& parent, std::string_view className,
                                            const WindowOptions& options,
                                            WindowEvents& events) override {
    auto window = std::make_unique<win32::Win32Window>(win32::ToHwnd(parent.Handle()), className,
                                                       options, events);
    if (!window->Valid()) return nullptr;
    return window;
  }
  std::vector<NativeHandle> DescendantWindows(NativeHandle parent) override {
    return win32::DescendantWindows(parent);
  }
  std::string WindowClassName(NativeHandle window) override {
    return win32::WindowClassName(window);
  }
  std::vector<Rect> Monitors() override { return win32::Monitors(); }
  WindowProc SubclassWindow(NativeHandle window, WindowProc procedure) override {
    return win32::SubclassWindow(window, std::move(procedure));
  }

 private:
  win32::RegistrySettingsStore settings_;
  win32::ProfileIniReader ini_;
  win32::Win32SystemPaths paths_;
  win32::Win32Process process_;
  win32::Win32Cursor cursor_;
  win32::Win32EventLoop loop_;
  win32::WicImageLoader images_;
  win32::Win32SoundPlayer sound_;
  win32::Win32Dialogs dialogs_;
  win32::Win32SystemColors colors_;
  std::unique_ptr<FontSource> fonts_;  // made on first use
};

}  // namespace

std::unique_ptr<Platform> CreateSystemPlatform() {
  // The manifest declares per-monitor awareness; a program built without it still asks here, so
  // that pictures are drawn 1:1 in device pixels. When the manifest has spoken the call fails,
  // which is fine.
  ::SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
  return std::make_unique<Win32Platform>();
}

}  // namespace dbx
