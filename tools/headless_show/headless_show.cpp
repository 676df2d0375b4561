// Runs the slideshow of installed content with no display and writes what the screen would show
// to PNG pictures: a frame every few display frames during transitions, and the screen at the end
// of every step. The clock is simulated, so a show of minutes renders in seconds.
// Usage: headless_show <system dir> <saver name> <output dir> [steps] [width height]
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/headless/headless_platform.h"
#include "platform/imageio/image_io.h"
#include "platform/imageio/png_writer.h"
#include "platform/posix/posix_services.h"
#include "slideshow/frm_image_scr.h"

namespace {

// The headless platform over the real disk: the seed file, the pictures and a settings store of
// its own.
class DiskPlatform final : public dbx::HeadlessPlatform {
 public:
  DiskPlatform(const std::string& systemDir, const std::string& settingsFile)
      : store_(settingsFile) {
    files.systemDir = systemDir;
  }
  dbx::SettingsStore& Settings() override { return store_; }
  dbx::IniReader& Ini() override { return posix_; }
  dbx::ImageLoader& Images() override { return loader_; }

 private:
  dbx::FileSettingsStore store_;
  dbx::PosixFiles posix_;
  dbx::FileImageLoader loader_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s <system dir> <saver name> <output dir> [steps] [w h]\n",
                 argv[0]);
    return 2;
  }
  namespace fs = std::filesystem;
  const std::string saver = argv[2];
  const fs::path out = argv[3];
  const int steps = argc > 4 ? std::atoi(argv[4]) : 8;
  const int w = argc > 6 ? std::atoi(argv[5]) : 1280;
  const int h = argc > 6 ? std::atoi(argv[6]) : 720;
  fs::create_directories(out);
  // A settings store of the run's own, beside the pictures, so that every run seeds afresh.
  const std::string store = (out / ".settings.reg").string();
  fs::remove(store);

  DiskPlatform platform(argv[1], store);
  platform.screenSize = {w, h};
  platform.process.commandLine = "/s";

  dbx::SlideshowOptions options;
  options.decoding = dbx::DecodeThread::kCaller;
  dbx::frmImageScr show(platform, saver, options);
  // The form's window spans every monitor; the headless desktop has one, whose window this is.
  dbx::HeadlessWindow* window =
      show.GetWindow() ? platform.Find(show.GetWindow()->Handle()) : nullptr;
  if (!window) {
    std::fprintf(stderr, "headless_show: the show made no window\n");
    return 1;
  }
  int frame = 0, written = 0;
  const auto save = [&](const dbx::Surface& screen, const std::string& name) {
    if (dbx::WritePng((out / name).string(), screen.View())) ++written;
  };
  window->onPresent = [&](const dbx::Surface& screen) {
    // Every sixth display frame (ten a second) during transitions.
    if (show.Effects().Active() && ++frame % 6 == 0) {
      char name[64];
      std::snprintf(name, sizeof name, "step%02zu-frame%04d.png", show.PlayedEffects().size() + 1,
                    frame);
      save(screen, name);
    }
  };
  window->Show();
  window->SetState(dbx::WindowState::kMaximized);
  save(window->screen, "step00-background.png");

  for (int i = 0; i < steps && show.Loaded(); ++i) {
    const std::size_t before = show.PlayedEffects().size();
    while (show.PlayedEffects().size() == before && platform.loop.now < 3'600'000) {
      platform.loop.AdvanceBy(16);
    }
    if (show.PlayedEffects().size() == before) break;  // no steps: nothing more will change
    char name[96];
    const int effect = show.PlayedEffects().back();
    std::snprintf(name, sizeof name, "step%02d-end-%s.png", i + 1,
                  effect >= 0 ? dbx::EffectName(effect) : "no-transition");
    std::string file = name;
    for (char& c : file) {
      if (c == ' ') c = '-';
    }
    save(window->screen, file);
  }
  std::fprintf(stderr, "%d pictures written\n", written);
  std::printf("%s\n", fs::absolute(out).string().c_str());
  return written > 0 ? 0 : 1;
}
