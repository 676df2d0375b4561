// The picture slideshow window: loads the set (settings, picture and effect lists, backgrounds,
// pointer, music), then changes pictures on two timers through a random transition, lays its
// surfaces over the window on every resize, and ends on input as the settings allow.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "core/form.h"
#include "core/platform.h"
#include "core/screen_windows.h"
#include "effects/gradient.h"
#include "effects/picture_box.h"
#include "effects/trans_effects.h"
#include "settings/input_rules.h"
#include "settings/mod_reg.h"
#include "slideshow/picture_cache.h"

namespace dbx {

struct SlideshowOptions {
  // Decode pictures on a worker thread (the program) or on the caller's (tests).
  DecodeThread decoding = DecodeThread::kWorker;
  // Seed of the random generator; 0 seeds it from the clock once per window.
  std::uint32_t seed = 0;
};

class frmImageScr final : public Form, private WindowEvents {
 public:
  // Loading the window runs Form_Load (LoadSet, then the pointer's start position).
  frmImageScr(Platform& platform, std::string saverName, SlideshowOptions options = {});
  ~frmImageScr() override;

  Window* GetWindow() override { return window_.get(); }
  bool Loaded() const override { return !unloaded_; }

  // ----- The window's handlers and procedures, callable from tests.
  void Timer1_Timer();
  void Timer2_Timer();
  void Form_Resize();
  void ImageWakeup(WakeInput input);
  void Form_Unload();
  // Composes one surface: fresh background, then the picture of LoadImages, centred. False when
  // a failure abandoned it.
  bool MiddleImage(PictureBox& pic);
  // Paints a gradient over the whole surface; false when a text is not a number.
  bool GradientBgcolor(PictureBox& pic, const std::string& up, const std::string& down,
                       const std::string& angle);

  // ----- State, for tests and tools.
  const std::vector<std::string>& PictureList() const { return pictureList_; }
  const std::vector<std::string>& EffectList() const { return effectList_; }
  int EffectCount() const { return static_cast<int>(effectList_.size()); }
  int NextIndex() const { return nextIndex_; }
  Point StartPosition() const { return start_; }
  bool Timer1Enabled() const { return timer1Enabled_; }
  std::int64_t Timer1Period() const { return timer1Period_; }
  const std::string& PictureFolder() const { return pictureFolder_; }
  const std::string& SaverAudio() const { return saverAudio_; }
  PictureBox& Picture(int n) { return n == 1 ? picture1_ : n == 2 ? picture2_ : picture3_; }
  TransEffects& Effects() { return effects_; }
  PictureCache& Cache() { return cache_; }
  // The effect number each step played (or -1 when it played none), in order.
  const std::vector<int>& PlayedEffects() const { return played_; }

 private:
  void Form_Load();
  void LoadSet();
  // The backgrounds of the three surfaces, by "SaverBgSelect".
  void LoadBackgrounds();
  // The settings a step reads, and the folder and list of the pictures.
  void LoadCycleSettings();
  // Draws step i: the outgoing picture i and the incoming picture i + 1 over fresh backgrounds.
  void ComposeStep(int i);
  // Plays one transition picked at random from the list; returns its number, or -1 when none ran.
  int PlayTransition();
  std::string Get(const char* name) const { return settings_.Get(name); }
  std::string ContentFolder() const;
  std::string FileOf(int k) const;
  bool LoadPicture(int k);
  void PrefetchStep(int next);
  void EnableTimer1(std::int64_t periodMs);
  void DisableTimer1();
  void RefreshSurfaces();
  void Present(std::optional<Rect> changed = std::nullopt);

  // WindowEvents
  void OnKeyDown(int keyCode, int shift) override;
  void OnMouseDown(MouseButton button, int shift, Point client) override;
  void OnMouseMove(int buttons, int shift, Point client) override;
  void OnResize(Size client) override;
  void OnPaint() override { Present(); }
  void OnCloseRequest() override { Form_Unload(); }

  Platform& platform_;
  std::string saverName_;
  Settings settings_;
  // One window per monitor; the form lays itself out at the primary one.
  std::unique_ptr<ScreenWindows> window_;
  PictureBox picture1_, picture2_, picture3_;
  std::shared_ptr<const Surface> loadImages_;  // LoadImages: the last picture loaded
  std::unique_ptr<ClsGrandinet> painter_;
  PictureCache cache_;
  TransEffects effects_;
  std::mt19937 random_;

  // The settings as read into the window.
  std::string testSaver_, effects_text_, saverTime_, saverInterval_, saverAudio_, restartMusic_;
  std::string bgSelect_, backColor_, gradientUp_, gradientDown_, gradientAngle_, imageBg_;
  std::vector<std::string> pictureList_, effectList_;
  std::string pictureFolder_;
  int nextIndex_ = 0;
  Point start_{};
  Point current_{};

  TimerId timer1_ = -1, timer2_ = -1;
  bool timer1Enabled_ = false;
  std::int64_t timer1Period_ = 0;
  bool inStep_ = false;
  bool unloaded_ = false;
  bool firstFramePresented_ = false;
  std::vector<int> played_;

  // Gradients painted once per size and setting, copied afterwards.
  using GradientKey = std::tuple<int, int, std::int32_t, std::int32_t, float>;
  std::map<GradientKey, Surface> gradients_;
};

}  // namespace dbx
