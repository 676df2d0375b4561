// The window of a full-screen show on every monitor: one form, one window per monitor. The form
// sees one window, the primary monitor's: it lays itself out at that window's size and draws
// there. Every other monitor gets a window of its own at its own resolution, showing the same
// picture scaled to fit (aspect kept, centred, black around it), and its input reaches the form
// as the primary window's input does; its size and repaint events stay here.
//
// With one monitor, or in a window embedded into another (the preview, xscreensaver's window),
// it is exactly the primary window.
#pragma once

#include <memory>
#include <vector>

#include "core/platform.h"

namespace dbx {

class ScreenWindows final : public Window {
 public:
  // Nothing when the platform gives no window.
  static std::unique_ptr<ScreenWindows> Create(Platform& platform, const WindowOptions& options,
                                               WindowEvents& events);
  ~ScreenWindows() override;
  ScreenWindows(const ScreenWindows&) = delete;
  ScreenWindows& operator=(const ScreenWindows&) = delete;

  // Where the input of the other monitors' windows goes, as window messages. By default to the
  // form's events, as the primary window's own input; a form whose input arrives through another
  // window (the movie player's) sends it there.
  void SetOtherMonitorsInput(WindowProc procedure) { otherInput_ = std::move(procedure); }
  // Shows a frame drawn elsewhere (the movie player's window) on the other monitors.
  void PresentOnOtherMonitors(const SurfaceView& pixels, Rect dirty);
  // The windows of the other monitors, in the platform's order.
  std::size_t OtherMonitorCount() const { return others_.size(); }
  Window& OtherMonitorWindow(std::size_t i);

  // Window. kMaximized covers every monitor; the rest concerns the primary window.
  void SetCaption(std::string_view caption) override { primary_->SetCaption(caption); }
  std::string Caption() const override { return primary_->Caption(); }
  void Show() override;
  void SetState(WindowState state) override;
  Size ClientSize() const override { return primary_->ClientSize(); }
  void Present(const SurfaceView& pixels, Rect dirty) override;
  void EmbedInto(NativeHandle parent, Size size) override { primary_->EmbedInto(parent, size); }
  int TwipsPerPixelX() const override { return primary_->TwipsPerPixelX(); }
  int TwipsPerPixelY() const override { return primary_->TwipsPerPixelY(); }
  NativeHandle Handle() const override { return primary_->Handle(); }
  void Destroy() override;
  void CoverArea(Rect area) override { primary_->CoverArea(area); }
  void SetVisible(bool visible) override;
  void Focus() override { primary_->Focus(); }

 private:
  class Other;
  ScreenWindows(Platform& platform, const WindowOptions& options, WindowEvents& events,
                std::unique_ptr<Window> primary);

  Platform& platform_;
  WindowOptions options_;
  WindowEvents& events_;
  std::unique_ptr<Window> primary_;
  std::vector<std::unique_ptr<Other>> others_;
  WindowProc otherInput_;
  bool destroyed_ = false;
};

// The part of a picture of size `from` that lands on a surface of size `to` when it is scaled to
// fit (aspect kept, centred).
Rect FitRect(Size from, Size to);

}  // namespace dbx
