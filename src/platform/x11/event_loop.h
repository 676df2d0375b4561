// The message loop of the Linux program: X events of our windows, form timers, a frame tick at the
// refresh period, and the end signals (SIGTERM, SIGINT), all waited for in one poll.
#pragma once

#include <functional>
#include <vector>

#include "platform/x11/display.h"

namespace dbx::x11 {

class X11Loop final : public EventLoop {
 public:
  explicit X11Loop(X11Display& display);
  TimerId CreateTimer(std::int64_t periodMs, std::function<void()> tick) override;
  void SetTimer(TimerId id, bool enabled, std::int64_t periodMs) override;
  void DestroyTimer(TimerId id) override;
  void RunPending() override { Pump(0); }
  void WaitFrame() override;
  std::int64_t NowMs() override { return MonotonicMs(); }
  int Run() override;
  void Quit(int code) override {
    quit_ = true;
    exitCode_ = code;
  }

 private:
  static constexpr std::int64_t kFrameMs = 16;
  struct Timer {
    std::int64_t period;
    std::int64_t due;
    bool enabled;
    bool running;
    bool alive;
    std::function<void()> tick;
  };
  // Handles what is pending and fires due timers; waits up to maxWaitMs (-1: until something).
  void Pump(std::int64_t maxWaitMs);

  X11Display& display_;
  std::vector<Timer> timers_;
  bool quit_ = false;
  int exitCode_ = 0;
  std::int64_t nextFrame_ = 0;
};

}  // namespace dbx::x11
