// The movie control as a window hosts it: our movie player drawing into a child window of its
// own, which receives the mouse and keyboard input over the movie. It plays the named movie in a
// loop at the movie's frame rate, paced by a timer of the window's message loop.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "core/platform.h"
#include "swf/flash_player.h"

namespace dbx {

// The window class of the player's child window. Hosts find the player's window among their
// descendants by the "ATL:" at its start.
inline constexpr std::string_view kPlayerWindowClass = "ATL:44415A5A";

class FlashControl final : private WindowEvents {
 public:
  // Creates the child window inside `host` (nothing is shown when the platform has no child
  // windows; the members still work).
  FlashControl(Platform& platform, Window& host, std::string_view quality);
  ~FlashControl() override;
  FlashControl(const FlashControl&) = delete;
  FlashControl& operator=(const FlashControl&) = delete;

  // The members the screens use.
  void SetMovie(const std::string& path);
  void Play();
  void SetScaleMode(int mode) { player_.SetScaleMode(mode); }
  int ScaleMode() const { return player_.ScaleMode(); }
  void SetBackgroundColor(std::int32_t color) { player_.SetBackgroundColor(color); }
  std::int32_t BackgroundColor() const { return player_.BackgroundColor(); }
  void SetWMode(std::string_view mode) { player_.SetWMode(mode); }
  const std::string& WMode() const { return player_.WMode(); }
  void SetQuality2(std::string_view quality);
  const std::string& Quality2() const { return player_.Quality2(); }
  // Top, Left, Width, Height in the host's client area, in pixels.
  void Move(Rect area);
  void SetVisible(bool visible);

  Window* ChildWindow() { return child_.get(); }
  // Called with every frame the player's window shows.
  void SetFrameListener(std::function<void(const SurfaceView&, Rect)> listener) {
    frameListener_ = std::move(listener);
  }
  FlashPlayer& Player() { return player_; }
  // Renders and shows the current frame now.
  void Redraw();
  // Plays the movie's sound through the platform's sound device from now on (set before the
  // movie). Without a device the movie stays silent.
  void EnableSound();
  void DisableSound() { audio_.reset(); }
  bool SoundOpen() const { return audio_ != nullptr; }

 private:
  void Tick();
  void Rearm();
  void OnResize(Size client) override;
  void OnPaint() override { Present(); }
  // Input over the movie that reaches the player's window goes to the movie.
  void OnKeyDown(int keyCode, int shift) override;
  void OnMouseDown(MouseButton button, int shift, Point client) override;
  void OnMouseUp(MouseButton button, int shift, Point client) override;
  void OnMouseMove(int buttons, int shift, Point client) override;
  void Present();

  Platform& platform_;
  FlashPlayer player_;
  std::unique_ptr<AudioOutput> audio_;  // pulls from player_: closed before it goes
  std::unique_ptr<Window> child_;
  Surface frame_;
  TimerId timer_ = -1;
  std::int64_t timerPeriod_ = 0;
  std::function<void(const SurfaceView&, Rect)> frameListener_;
};

}  // namespace dbx
