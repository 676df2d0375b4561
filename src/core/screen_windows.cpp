#include "core/screen_windows.h"

#include <algorithm>

#include "core/window_messages.h"

namespace dbx {

Rect FitRect(Size from, Size to) {
  if (from.w <= 0 || from.h <= 0 || to.w <= 0 || to.h <= 0) return {};
  // The smaller of the two scales, in whole pixels (64-bit: 4K by 4K does not overflow).
  int w = to.w, h = to.h;
  if (std::int64_t{to.w} * from.h > std::int64_t{to.h} * from.w) {
    w = static_cast<int>(std::int64_t{to.h} * from.w / from.h);
  } else {
    h = static_cast<int>(std::int64_t{to.w} * from.h / from.w);
  }
  w = std::max(w, 1);
  h = std::max(h, 1);
  return {(to.w - w) / 2, (to.h - h) / 2, w, h};
}

// The window of one other monitor and the scaled picture it shows.
class ScreenWindows::Other final : public WindowEvents {
 public:
  explicit Other(ScreenWindows& owner) : owner_(owner) {}
  std::unique_ptr<Window> window;

  // Scales `dirty` of `pixels` into this monitor's picture and shows the part that changed.
  void Show(const SurfaceView& pixels, Rect dirty) {
    if (!window) return;
    const Size size = window->ClientSize();
    if (size.w <= 0 || size.h <= 0 || pixels.width() <= 0 || pixels.height() <= 0) return;
    const Size from{pixels.width(), pixels.height()};
    bool whole = false;
    if (picture_.width() != size.w || picture_.height() != size.h || from != from_) {
      picture_.Resize(size.w, size.h, 0);
      from_ = from;
      fit_ = FitRect(from, size);
      // Nearest source column of every target column, once per size.
      columns_.resize(static_cast<std::size_t>(fit_.w));
      for (int x = 0; x < fit_.w; ++x) {
        columns_[static_cast<std::size_t>(x)] =
            static_cast<int>((std::int64_t{2 * x + 1} * from.w) / (2 * std::int64_t{fit_.w}));
      }
      whole = true;
    }
    const int sx0 = std::clamp(dirty.x, 0, from.w), sx1 = std::clamp(dirty.x + dirty.w, 0, from.w);
    const int sy0 = std::clamp(dirty.y, 0, from.h), sy1 = std::clamp(dirty.y + dirty.h, 0, from.h);
    if (whole) {
      Redraw(pixels, Rect{0, 0, fit_.w, fit_.h});
      window->Present(picture_.View(), Rect{0, 0, size.w, size.h});
      return;
    }
    if (sx1 <= sx0 || sy1 <= sy0) return;
    // The target pixels whose nearest source pixel lies in the changed part (one more on each
    // side for the rounding).
    const auto down = [](int v, int target, int source) {
      return static_cast<int>(std::int64_t{v} * target / source);
    };
    const int tx0 = std::max(down(sx0, fit_.w, from.w) - 1, 0);
    const int tx1 = std::min(down(sx1, fit_.w, from.w) + 2, fit_.w);
    const int ty0 = std::max(down(sy0, fit_.h, from.h) - 1, 0);
    const int ty1 = std::min(down(sy1, fit_.h, from.h) + 2, fit_.h);
    if (tx1 <= tx0 || ty1 <= ty0) return;
    const Rect part{tx0, ty0, tx1 - tx0, ty1 - ty0};
    Redraw(pixels, part);
    window->Present(picture_.View(), Rect{fit_.x + part.x, fit_.y + part.y, part.w, part.h});
  }

  void OnKeyDown(int keyCode, int /*shift*/) override {
    Forward(kWmKeyDown, static_cast<std::uintptr_t>(keyCode), 0);
  }
  void OnKeyPress(int charCode) override {
    Forward(kWmChar, static_cast<std::uintptr_t>(charCode), 0);
  }
  void OnMouseDown(MouseButton button, int shift, Point at) override {
    Forward(button == MouseButton::kLeft    ? kWmLButtonDown
            : button == MouseButton::kRight ? kWmRButtonDown
                                            : kWmMButtonDown,
            ShiftKeys(shift), MakeMouseLParam(at.x, at.y));
  }
  void OnMouseUp(MouseButton button, int shift, Point at) override {
    Forward(button == MouseButton::kLeft    ? kWmLButtonUp
            : button == MouseButton::kRight ? kWmRButtonUp
                                            : kWmMButtonUp,
            ShiftKeys(shift), MakeMouseLParam(at.x, at.y));
  }
  void OnMouseMove(int buttons, int shift, Point at) override {
    std::uintptr_t keys = ShiftKeys(shift);
    if (buttons & static_cast<int>(MouseButton::kLeft)) keys |= kMkLButton;
    if (buttons & static_cast<int>(MouseButton::kRight)) keys |= kMkRButton;
    if (buttons & static_cast<int>(MouseButton::kMiddle)) keys |= kMkMButton;
    Forward(kWmMouseMove, keys, MakeMouseLParam(at.x, at.y));
  }
  // The show ends as a whole: closing one monitor's window closes the form.
  void OnCloseRequest() override { owner_.events_.OnCloseRequest(); }
  void OnPaint() override {
    if (window && !picture_.Empty()) {
      window->Present(picture_.View(), Rect{0, 0, picture_.width(), picture_.height()});
    }
  }
  // Sizes are this window's own business: the next frame is scaled to the new size.

 private:
  static std::uintptr_t ShiftKeys(int shift) {
    std::uintptr_t keys = 0;
    if (shift & kShiftMask) keys |= kMkShift;
    if (shift & kCtrlMask) keys |= kMkControl;
    return keys;
  }
  void Forward(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
    if (owner_.otherInput_) {
      WindowProc proc = owner_.otherInput_;  // the form may replace it while it runs
      proc(owner_.Handle(), message, wParam, lParam);
    } else {
      DeliverToEvents(owner_.events_, message, wParam, lParam);
    }
  }
  // Scales the target rectangle `part` (in fit coordinates) from the source.
  void Redraw(const SurfaceView& pixels, Rect part) {
    for (int y = part.y; y < part.y + part.h; ++y) {
      const int sy =
          static_cast<int>((std::int64_t{2 * y + 1} * from_.h) / (2 * std::int64_t{fit_.h}));
      const Pixel* src = pixels.Row(sy);
      Pixel* dst = picture_.View().Row(fit_.y + y) + fit_.x;
      for (int x = part.x; x < part.x + part.w; ++x) {
        dst[x] = src[columns_[static_cast<std::size_t>(x)]];
      }
    }
  }

  ScreenWindows& owner_;
  Surface picture_;
  Size from_{};
  Rect fit_{};
  std::vector<int> columns_;
};

std::unique_ptr<ScreenWindows> ScreenWindows::Create(Platform& platform,
                                                     const WindowOptions& options,
                                                     WindowEvents& events) {
  auto primary = platform.CreateWindow(options, events);
  if (!primary) return nullptr;
  return std::unique_ptr<ScreenWindows>(
      new ScreenWindows(platform, options, events, std::move(primary)));
}

ScreenWindows::ScreenWindows(Platform& platform, const WindowOptions& options, WindowEvents& events,
                             std::unique_ptr<Window> primary)
    : platform_(platform), options_(options), events_(events), primary_(std::move(primary)) {}

ScreenWindows::~ScreenWindows() {
  Destroy();
}

Window& ScreenWindows::OtherMonitorWindow(std::size_t i) {
  return *others_.at(i)->window;
}

void ScreenWindows::Show() {
  primary_->Show();
  for (auto& o : others_) o->window->Show();
}

void ScreenWindows::SetState(WindowState state) {
  if (destroyed_) return;
  const std::vector<Rect> monitors =
      state == WindowState::kMaximized ? platform_.Monitors() : std::vector<Rect>{};
  if (monitors.size() < 2) {
    primary_->SetState(state);
    return;
  }
  // The others first: the primary window takes the keyboard last, and the form lays itself out
  // when the primary window covers its monitor.
  for (std::size_t i = others_.size() + 1; i < monitors.size(); ++i) {
    auto other = std::make_unique<Other>(*this);
    other->window = platform_.CreateWindow(options_, *other);
    if (!other->window) continue;
    other->window->Show();
    others_.push_back(std::move(other));
  }
  for (std::size_t i = 0; i < others_.size() && i + 1 < monitors.size(); ++i) {
    others_[i]->window->CoverArea(monitors[i + 1]);
  }
  primary_->CoverArea(monitors[0]);
}

void ScreenWindows::Present(const SurfaceView& pixels, Rect dirty) {
  primary_->Present(pixels, dirty);
  PresentOnOtherMonitors(pixels, dirty);
}

void ScreenWindows::PresentOnOtherMonitors(const SurfaceView& pixels, Rect dirty) {
  if (destroyed_) return;
  for (auto& o : others_) o->Show(pixels, dirty);
}

void ScreenWindows::Destroy() {
  if (destroyed_) return;
  destroyed_ = true;
  for (auto& o : others_) {
    if (o->window) o->window->Destroy();
  }
  primary_->Destroy();
}

void ScreenWindows::SetVisible(bool visible) {
  primary_->SetVisible(visible);
  for (auto& o : others_) o->window->SetVisible(visible);
}

}  // namespace dbx
