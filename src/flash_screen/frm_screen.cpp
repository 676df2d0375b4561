#include "flash_screen/frm_screen.h"

#include "core/trace.h"
#include "effects/numeric.h"
#include "flash_screen/flash_model.h"
#include "settings/input_rules.h"
#include "settings/paths.h"
#include "settings/seeding.h"

namespace dbx {

frmScreen::frmScreen(Platform& platform, std::string saverName, bool withSound)
    : platform_(platform),
      saverName_(std::move(saverName)),
      settings_(platform.Settings(), saverName_) {
  WindowOptions options;
  options.caption = "Form1";
  options.border = false;
  options.background = 0;
  window_ = ScreenWindows::Create(platform_, options, *this);
  if (!window_) {
    unloaded_ = true;
    return;
  }
  // The control as designed: quality "Low", show all, playing in a loop.
  flash_ = std::make_unique<FlashControl>(platform_, *window_, "Low");
  if (withSound) flash_->EnableSound();
  flash_->Move(Rect{0, 0, window_->ClientSize().w, window_->ClientSize().h});

  // The load step.
  auto& hook = FlashModel::State();
  hook = FlashModel::HookState{};
  hook.screen = this;
  for (NativeHandle child : platform_.DescendantWindows(window_->Handle())) {
    if (!FlashModel::FindFlashChild(platform_, child, 0)) break;
  }
  if (hook.flashChild != 0) hook.previousProc = FlashModel::HookFlashWindow(platform_);
  // The other monitors show the player's frames, and their input is the player's input.
  flash_->SetFrameListener([this](const SurfaceView& frame, Rect dirty) {
    window_->PresentOnOtherMonitors(frame, dirty);
  });
  window_->SetOtherMonitorsInput([](NativeHandle, std::uint32_t message, std::uintptr_t wParam,
                                    std::intptr_t lParam) -> std::intptr_t {
    const auto& state = FlashModel::State();
    if (state.flashChild == 0 || !state.previousProc) return 0;
    return FlashModel::FlashWndProc(state.flashChild, message, wParam, lParam);
  });
  SetMovie();
  // Where the pointer was when the window loaded is the reference of the movement test.
  start_ = platform_.Pointer().Position();
  current_ = start_;
}

frmScreen::~frmScreen() {
  auto& hook = FlashModel::State();
  if (hook.screen == this) hook = FlashModel::HookState{};
  flash_.reset();
  if (window_) window_->Destroy();
}

void frmScreen::SetMovie() {
  // The window has no icon of its own to remove; the player draws into a window of its own.
  flash_->SetWMode("Window");
  SeedSettings(platform_, saverName_, KeyList::kFlashScreen);
  // Only these texts change the scale; anything else leaves "show all".
  const std::string scale = settings_.Get("ScaleModes");
  if (scale == "0" || scale == "2" || scale == "3") flash_->SetScaleMode(scale[0] - '0');
  // The background: nothing reads as 0; a system colour is resolved. A text that is not a number
  // ("ERROR" from a seed file without the key) sets no colour: the movie shows its own background
  // and plays.
  const std::string back = settings_.Get("BackColor");
  if (back.empty()) {
    flash_->SetBackgroundColor(0);
  } else if (const auto color = ParseWholeNumber(back)) {
    flash_->SetBackgroundColor(ResolveSystemColor(*color, platform_.Colors()));
  }
  flash_->SetQuality2(settings_.Get("Quality"));
  PlayMovie(MoviePath(platform_, saverName_));
  const std::string showCursor = settings_.Get("ShowCursor");
  platform_.Pointer().Show(!showCursor.empty() && showCursor.front() == 'T');
}

void frmScreen::PlayMovie(const std::string& path) {
  flash_->SetMovie(path);
  flash_->Play();
  Trace("movie playing");
}

void frmScreen::FlashButton(WakeInput input) {
  if (unloaded_) return;
  // A pointer move counts once it is more than two pixels away, in any direction.
  if (InputEndsShow(settings_, input, platform_.Pointer(), start_, 2, current_)) Form_Unload();
}

void frmScreen::Form_Activate() {
  if (flash_) flash_->SetWMode("Window");
}

void frmScreen::Form_Resize() {
  if (!flash_ || !window_ || unloaded_) return;
  const Size client = window_->ClientSize();
  flash_->Move(Rect{0, 0, client.w, client.h});
  // The player's window has the keyboard focus, as the control had in its host: key presses go
  // to it (and through the hook), not to the form.
  if (Window* child = flash_->ChildWindow()) child->Focus();
}

void frmScreen::Form_KeyPress(int keyAscii) {
  if (keyAscii == 27) Form_Unload();
}

void frmScreen::Form_Unload() {
  if (unloaded_) return;
  Trace("unload");
  unloaded_ = true;
  platform_.Pointer().Show(true);
  auto& hook = FlashModel::State();
  if (hook.screen == this) hook.screen = nullptr;
  if (flash_) flash_->DisableSound();  // the sound ends with the window
  if (window_) window_->Destroy();
  platform_.Loop().Quit(0);
}

}  // namespace dbx
