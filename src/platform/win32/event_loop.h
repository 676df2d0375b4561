// The message loop of the user-interface thread: form timers, frame pacing, pending messages.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <memory>

#include "platform/win32/win32_api.h"

namespace dbx::win32 {

class Win32EventLoop final : public EventLoop {
 public:
  Win32EventLoop();
  ~Win32EventLoop() override;
  Win32EventLoop(const Win32EventLoop&) = delete;
  Win32EventLoop& operator=(const Win32EventLoop&) = delete;

  TimerId CreateTimer(std::int64_t periodMs, std::function<void()> tick) override;
  void SetTimer(TimerId id, bool enabled, std::int64_t periodMs) override;
  void DestroyTimer(TimerId id) override;
  void RunPending() override;
  void WaitFrame() override;
  std::int64_t NowMs() override;
  int Run() override;
  void Quit(int code) override;

  // How frames are paced: by the compositor (DwmFlush blocks until the next composition) or by a
  // timer at the refresh period (no compositor, or one whose DwmFlush returns at once, as Wine's).
  enum class Pacing { kUndecided, kCompositor, kRefreshTimer };
  Pacing pacing() const { return pacing_; }
  // The display's refresh period in milliseconds (60 Hz when the display does not say).
  double RefreshPeriodMs();

 private:
  struct Timer {
    std::int64_t periodMs = 0;
    bool enabled = false;
    bool running = false;
    std::shared_ptr<std::function<void()>> tick;
  };
  static LRESULT CALLBACK TimerWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  void OnTimer(TimerId id);
  void Arm(TimerId id, const Timer& timer);
  double PreciseMs() const;
  void WaitUntil(double deadlineMs);

  HWND timerWindow_ = nullptr;
  std::map<TimerId, Timer> timers_;
  TimerId nextId_ = 1;
  std::atomic<bool> quit_{false};
  std::atomic<int> quitCode_{0};
  LARGE_INTEGER frequency_{};
  LARGE_INTEGER start_{};
  Pacing pacing_ = Pacing::kUndecided;
  int quickFlushes_ = 0;
  double refreshPeriodMs_ = 0;
  double nextFrameMs_ = 0;
  bool periodRaised_ = false;
};

}  // namespace dbx::win32
