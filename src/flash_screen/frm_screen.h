// The movie screen: plays the content's movie full screen (or in the preview window), hides the
// pointer as the settings say, and ends on the input the settings allow, which it catches on the
// player's own child window.
#pragma once

#include <memory>
#include <string>

#include "core/form.h"
#include "core/platform.h"
#include "core/screen_windows.h"
#include "flash_screen/flash_control.h"
#include "settings/input_rules.h"
#include "settings/mod_reg.h"

namespace dbx {

class frmScreen final : public Form, private WindowEvents {
 public:
  // Loading the window runs its load step: find and hook the player's window, SetMovie, and the
  // pointer's start position. The movie's sound plays `withSound` (the full screen does; the
  // small preview inside the system's settings stays silent).
  frmScreen(Platform& platform, std::string saverName, bool withSound = true);
  ~frmScreen() override;

  Window* GetWindow() override { return window_.get(); }
  bool Loaded() const override { return !unloaded_; }

  // Seeding, the control's set-up from the settings, the movie's start, the pointer. Stops at
  // the first step that fails (a "BackColor" that is not a number).
  void SetMovie();
  // 0 left button released, 1 right button pressed, 2 key pressed, 3 pointer moved.
  void FlashButton(WakeInput input);
  void Form_Activate();
  void Form_Resize();
  void Form_KeyPress(int keyAscii);
  void Form_Unload();

  FlashControl& Flash() { return *flash_; }
  Point StartPosition() const { return start_; }

 private:
  void PlayMovie(const std::string& path);
  void OnResize(Size) override { Form_Resize(); }
  void OnKeyPress(int charCode) override { Form_KeyPress(charCode); }
  void OnCloseRequest() override { Form_Unload(); }

  Platform& platform_;
  std::string saverName_;
  Settings settings_;
  // One window per monitor; the player plays in the primary one and its frames are shown on
  // the others.
  std::unique_ptr<ScreenWindows> window_;
  std::unique_ptr<FlashControl> flash_;
  Point start_{};
  Point current_{};
  bool unloaded_ = false;
};

}  // namespace dbx
