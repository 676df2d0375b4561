#include "flash_screen/flash_control.h"

#include <cmath>
#include <vector>

namespace dbx {

FlashControl::FlashControl(Platform& platform, Window& host, std::string_view quality)
    : platform_(platform), player_(&platform.Images()) {
  player_.SetWMode("Window");
  player_.SetFontSource(platform.Fonts());
  player_.SetQuality2(quality);
  WindowOptions options;
  options.caption = "";
  options.background = 0;
  child_ = platform_.CreateChildWindow(host, kPlayerWindowClass, options, *this);
  timer_ = platform_.Loop().CreateTimer(100, [this] { Tick(); });
}

FlashControl::~FlashControl() {
  platform_.Loop().DestroyTimer(timer_);
  if (child_) child_->Destroy();
}

void FlashControl::EnableSound() {
  if (audio_) return;
  audio_ = platform_.OpenAudioOutput(
      [this](std::int16_t* stereo, std::size_t frames) { player_.MixSound(stereo, frames); });
  if (!audio_) return;  // no device: nothing is decoded or mixed
  player_.SetMp3Decoders(
      [this](int rate, int channels) { return platform_.CreateMp3Decoder(rate, channels); });
  player_.SetSoundMode(SoundMode::kDevice);
}

void FlashControl::SetMovie(const std::string& path) {
  // Where the desktop lists its monitors, the movie is told of the primary one's resolution, in
  // the desktop's pixels: divided by its scale factor (15 twips per pixel at 100%).
  const std::vector<Rect> monitors = platform_.Monitors();
  if (!monitors.empty() && child_ && child_->TwipsPerPixelX() > 0 && child_->TwipsPerPixelY() > 0) {
    player_.SetScreenResolution(
        Size{static_cast<int>(std::lround(monitors[0].w * child_->TwipsPerPixelX() / 15.0)),
             static_cast<int>(std::lround(monitors[0].h * child_->TwipsPerPixelY() / 15.0))});
  }
  player_.SetMovie(path);
}

void FlashControl::Play() {
  player_.Play();
  Rearm();
  Redraw();
}

void FlashControl::SetQuality2(std::string_view quality) {
  player_.SetQuality2(quality);
  Redraw();
}

void FlashControl::Move(Rect area) {
  if (child_) {
    child_->Move(area);
    // A platform that sends no resize for an unchanged size still gets the viewport right.
    player_.SetViewportSize(child_->ClientSize());
  } else {
    player_.SetViewportSize(Size{area.w, area.h});
  }
  Redraw();
}

void FlashControl::SetVisible(bool visible) {
  if (child_) child_->SetVisible(visible);
}

void FlashControl::OnResize(Size client) {
  player_.SetViewportSize(client);
  Redraw();
}

void FlashControl::Rearm() {
  // The timer follows the movie's frame rate; the player catches up on late ticks itself.
  const auto period =
      static_cast<std::int64_t>(std::max(1.0, std::floor(player_.FrameIntervalMs())));
  if (period != timerPeriod_) {
    timerPeriod_ = period;
    platform_.Loop().SetTimer(timer_, true, period);
  }
}

void FlashControl::Tick() {
  if (player_.Advance(platform_.Loop().NowMs())) Redraw();
  Rearm();
}

void FlashControl::OnKeyDown(int keyCode, int /*shift*/) {
  // Letters and digits type their own character (upper-case codes give lower-case letters).
  int charCode = 0;
  if (keyCode >= '0' && keyCode <= '9') charCode = keyCode;
  if (keyCode >= 'A' && keyCode <= 'Z') charCode = keyCode - 'A' + 'a';
  if (keyCode == 13 || keyCode == 32 || keyCode == 27) charCode = keyCode;
  player_.KeyDown(keyCode, charCode);
}

void FlashControl::OnMouseDown(MouseButton button, int /*shift*/, Point client) {
  player_.MouseDown(button == MouseButton::kLeft ? 0 : 1, client.x, client.y);
}

void FlashControl::OnMouseUp(MouseButton button, int /*shift*/, Point client) {
  player_.MouseUp(button == MouseButton::kLeft ? 0 : 1, client.x, client.y);
}

void FlashControl::OnMouseMove(int /*buttons*/, int /*shift*/, Point client) {
  player_.MouseMove(client.x, client.y);
}

void FlashControl::Redraw() {
  const Size size = player_.ViewportSize();
  if (size.w <= 0 || size.h <= 0) return;
  if (frame_.width() != size.w || frame_.height() != size.h) frame_.Resize(size.w, size.h);
  player_.RenderFrame(frame_.View());
  Present();
}

void FlashControl::Present() {
  if (!child_ || frame_.Empty()) return;
  const Rect whole{0, 0, frame_.width(), frame_.height()};
  child_->Present(frame_.View(), whole);
  if (frameListener_) frameListener_(frame_.View(), whole);
}

}  // namespace dbx
