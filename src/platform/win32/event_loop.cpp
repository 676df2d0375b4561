#include "platform/win32/event_loop.h"

#include <dwmapi.h>
#include <mmsystem.h>

#include <cmath>

namespace dbx::win32 {
namespace {

constexpr char kTimerWindowClass[] = "DazzleboxTimerWindow";
// Posted to the timer window to wake a waiting loop after Quit.
constexpr UINT kWakeMessage = WM_APP + 1;
// A burst of messages larger than this is left for the next call, so that RunPending returns even
// when something keeps posting.
constexpr int kMaxMessagesPerRun = 10000;
// Compositor flushes that return quicker than this did not wait for anything.
constexpr double kQuickFlushMs = 1.0;
constexpr int kQuickFlushesToGiveUp = 3;

void RegisterTimerWindowClass(HINSTANCE instance, WNDPROC proc) {
  WNDCLASSEXA windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = proc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = kTimerWindowClass;
  ::RegisterClassExA(&windowClass);  // Fails harmlessly when a second loop registers it again.
}

}  // namespace

Win32EventLoop::Win32EventLoop() {
  ::QueryPerformanceFrequency(&frequency_);
  ::QueryPerformanceCounter(&start_);
  const HINSTANCE instance = ::GetModuleHandleA(nullptr);
  RegisterTimerWindowClass(instance, &Win32EventLoop::TimerWindowProc);
  // A message-only window receives the form timers' WM_TIMER and never shows.
  timerWindow_ = ::CreateWindowExA(0, kTimerWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                   instance, this);
  // Millisecond waits need the system's timer resolution at 1 ms.
  periodRaised_ = ::timeBeginPeriod(1) == TIMERR_NOERROR;
}

Win32EventLoop::~Win32EventLoop() {
  if (timerWindow_ != nullptr) {
    for (const auto& [id, timer] : timers_) ::KillTimer(timerWindow_, static_cast<UINT_PTR>(id));
    ::SetWindowLongPtrA(timerWindow_, GWLP_USERDATA, 0);
    ::DestroyWindow(timerWindow_);
  }
  if (periodRaised_) ::timeEndPeriod(1);
}

LRESULT CALLBACK Win32EventLoop::TimerWindowProc(HWND hwnd, UINT message, WPARAM wParam,
                                                 LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
    ::SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* loop = reinterpret_cast<Win32EventLoop*>(::GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (message == WM_TIMER && loop != nullptr) {
    loop->OnTimer(static_cast<TimerId>(wParam));
    return 0;
  }
  if (message == kWakeMessage) return 0;
  return ::DefWindowProcA(hwnd, message, wParam, lParam);
}

TimerId Win32EventLoop::CreateTimer(std::int64_t periodMs, std::function<void()> tick) {
  const TimerId id = nextId_++;
  Timer timer;
  timer.periodMs = periodMs;
  timer.tick = std::make_shared<std::function<void()>>(std::move(tick));
  timers_.emplace(id, std::move(timer));
  return id;
}

void Win32EventLoop::Arm(TimerId id, const Timer& timer) {
  if (timerWindow_ == nullptr) return;
  if (!timer.enabled || timer.periodMs <= 0) {
    // A period of 0 stops the timer, as a form timer's interval of 0 does.
    ::KillTimer(timerWindow_, static_cast<UINT_PTR>(id));
    return;
  }
  // SetTimer on an existing id replaces it, so the next tick is a whole period away. Periods are
  // full width: only the system's own limits (10 ms to about 24.8 days) apply.
  std::int64_t period = timer.periodMs;
  if (period < USER_TIMER_MINIMUM) period = USER_TIMER_MINIMUM;
  if (period > USER_TIMER_MAXIMUM) period = USER_TIMER_MAXIMUM;
  ::SetTimer(timerWindow_, static_cast<UINT_PTR>(id), static_cast<UINT>(period), nullptr);
}

void Win32EventLoop::SetTimer(TimerId id, bool enabled, std::int64_t periodMs) {
  const auto found = timers_.find(id);
  if (found == timers_.end()) return;
  found->second.enabled = enabled;
  found->second.periodMs = periodMs;
  Arm(id, found->second);
}

void Win32EventLoop::DestroyTimer(TimerId id) {
  const auto found = timers_.find(id);
  if (found == timers_.end()) return;
  if (timerWindow_ != nullptr) ::KillTimer(timerWindow_, static_cast<UINT_PTR>(id));
  timers_.erase(found);
}

void Win32EventLoop::OnTimer(TimerId id) {
  const auto found = timers_.find(id);
  // A tick that is still running (it let messages run) is not entered a second time.
  if (found == timers_.end() || !found->second.enabled || found->second.running) return;
  // The handler may destroy its own timer: keep the function alive until it returns.
  const std::shared_ptr<std::function<void()>> tick = found->second.tick;
  found->second.running = true;
  try {
    if (*tick) (*tick)();
  } catch (...) {
    // A failing tick is that tick's failure only; the loop goes on.
  }
  const auto after = timers_.find(id);
  if (after != timers_.end()) after->second.running = false;
}

void Win32EventLoop::RunPending() {
  MSG message;
  for (int count = 0; count < kMaxMessagesPerRun; ++count) {
    if (!::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) break;
    if (message.message == WM_QUIT) {
      quitCode_ = static_cast<int>(message.wParam);
      quit_ = true;
      break;
    }
    ::TranslateMessage(&message);
    ::DispatchMessageA(&message);
  }
}

double Win32EventLoop::PreciseMs() const {
  LARGE_INTEGER now;
  ::QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart - start_.QuadPart) * 1000.0 /
         static_cast<double>(frequency_.QuadPart);
}

std::int64_t Win32EventLoop::NowMs() {
  return static_cast<std::int64_t>(PreciseMs());
}

double Win32EventLoop::RefreshPeriodMs() {
  if (refreshPeriodMs_ > 0) return refreshPeriodMs_;
  DEVMODEA mode{};
  mode.dmSize = sizeof(mode);
  double hertz = 60;
  // 0 and 1 stand for the hardware's default rate, which the system does not tell.
  if (::EnumDisplaySettingsA(nullptr, ENUM_CURRENT_SETTINGS, &mode) &&
      mode.dmDisplayFrequency > 1 && mode.dmDisplayFrequency <= 1000) {
    hertz = mode.dmDisplayFrequency;
  }
  refreshPeriodMs_ = 1000.0 / hertz;
  return refreshPeriodMs_;
}

void Win32EventLoop::WaitUntil(double deadlineMs) {
  while (!quit_) {
    RunPending();
    const double remaining = deadlineMs - PreciseMs();
    if (remaining <= 0) break;
    // Wakes for any input, so that a key press is handled within the frame it arrives in.
    ::MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(std::floor(remaining)),
                                  QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  }
}

void Win32EventLoop::WaitFrame() {
  RunPending();
  if (quit_) return;
  if (pacing_ != Pacing::kRefreshTimer) {
    BOOL composing = FALSE;
    if (SUCCEEDED(::DwmIsCompositionEnabled(&composing)) && composing) {
      const double before = PreciseMs();
      const HRESULT flushed = ::DwmFlush();
      if (SUCCEEDED(flushed) && PreciseMs() - before >= kQuickFlushMs) {
        pacing_ = Pacing::kCompositor;
        quickFlushes_ = 0;
        RunPending();
        return;
      }
      // The flush did not wait: pace this frame by the timer, and stop asking the compositor
      // after a few such frames in a row.
      if (++quickFlushes_ >= kQuickFlushesToGiveUp) pacing_ = Pacing::kRefreshTimer;
    } else {
      pacing_ = Pacing::kRefreshTimer;
    }
  }
  const double period = RefreshPeriodMs();
  const double now = PreciseMs();
  // Frames keep to a grid one period apart; a caller that fell more than a frame behind starts a
  // new grid instead of rushing to catch up.
  if (nextFrameMs_ <= 0 || now > nextFrameMs_ + period) nextFrameMs_ = now + period;
  WaitUntil(nextFrameMs_);
  nextFrameMs_ += period;
}

int Win32EventLoop::Run() {
  MSG message;
  while (!quit_) {
    const BOOL got = ::GetMessageA(&message, nullptr, 0, 0);
    if (got == 0) {
      quitCode_ = static_cast<int>(message.wParam);
      break;
    }
    if (got == -1) break;
    ::TranslateMessage(&message);
    ::DispatchMessageA(&message);
  }
  quit_ = false;
  return quitCode_;
}

void Win32EventLoop::Quit(int code) {
  quitCode_ = code;
  quit_ = true;
  // GetMessage may be waiting: give it something to return with.
  if (timerWindow_ != nullptr) ::PostMessageA(timerWindow_, kWakeMessage, 0, 0);
}

}  // namespace dbx::win32
