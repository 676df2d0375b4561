#include "platform/x11/event_loop.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>

#include "platform/x11/window.h"

namespace dbx::x11 {
namespace {

// SIGTERM (xscreensaver and session managers end a screen saver with it) and SIGINT wake the loop
// through this pipe; the loop then closes every window as a close request would, and the program
// ends through its normal exit with 128 + the signal's number.
int g_signalPipe[2] = {-1, -1};
volatile sig_atomic_t g_signal = 0;

// Ends the process when the normal path has not within this time: the thread may be inside a loop
// that is not ours (a system file dialog) and never look at the pipe.
constexpr unsigned kSignalGraceSeconds = 2;

void OnSignal(int signo) {
  g_signal = signo;
  const char c = 1;
  [[maybe_unused]] ssize_t n = ::write(g_signalPipe[1], &c, 1);
  ::alarm(kSignalGraceSeconds);
}

void OnGraceOver(int) {
  ::_exit(128 + g_signal);
}

}  // namespace

X11Loop::X11Loop(X11Display& display) : display_(display) {
  if (g_signalPipe[0] < 0 && ::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) == 0) {
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGINT, &sa, nullptr);
    struct sigaction grace {};
    grace.sa_handler = OnGraceOver;
    ::sigaction(SIGALRM, &grace, nullptr);
  }
}

TimerId X11Loop::CreateTimer(std::int64_t periodMs, std::function<void()> tick) {
  timers_.push_back(
      Timer{std::max<std::int64_t>(periodMs, 1), 0, false, false, true, std::move(tick)});
  return static_cast<TimerId>(timers_.size() - 1);
}

void X11Loop::SetTimer(TimerId id, bool enabled, std::int64_t periodMs) {
  if (id < 0 || static_cast<std::size_t>(id) >= timers_.size()) return;
  Timer& t = timers_[static_cast<std::size_t>(id)];
  t.enabled = enabled;
  t.period = std::max<std::int64_t>(periodMs, 1);
  t.due = NowMs() + t.period;
}

void X11Loop::DestroyTimer(TimerId id) {
  if (id < 0 || static_cast<std::size_t>(id) >= timers_.size()) return;
  timers_[static_cast<std::size_t>(id)].alive = false;
  timers_[static_cast<std::size_t>(id)].enabled = false;
}

void X11Loop::WaitFrame() {
  // One refresh period of a 60 Hz display, measured from the last frame so that drawing time
  // does not add up; messages keep running while waiting.
  const std::int64_t now = NowMs();
  if (nextFrame_ < now - kFrameMs) nextFrame_ = now;
  nextFrame_ += kFrameMs;
  do {
    Pump(std::max<std::int64_t>(nextFrame_ - NowMs(), 0));
  } while (!quit_ && NowMs() < nextFrame_);
}

int X11Loop::Run() {
  while (!quit_) Pump(-1);
  return exitCode_;
}

void X11Loop::Pump(std::int64_t maxWaitMs) {
  Display* d = display_.IfOpen();
  // Wait for input, a signal or the next due timer, whichever comes first.
  std::int64_t wait = maxWaitMs;
  const std::int64_t now = NowMs();
  for (const auto& t : timers_) {
    if (t.alive && t.enabled && !t.running) {
      const std::int64_t until = std::max<std::int64_t>(t.due - now, 0);
      wait = wait < 0 ? until : std::min(wait, until);
    }
  }
  if (d && XPending(d) > 0) wait = 0;
  pollfd fds[2];
  int nfds = 0;
  if (g_signalPipe[0] >= 0) fds[nfds++] = pollfd{g_signalPipe[0], POLLIN, 0};
  if (d) fds[nfds++] = pollfd{ConnectionNumber(d), POLLIN, 0};
  if (wait != 0) {
    ::poll(fds, static_cast<nfds_t>(nfds),
           wait < 0 ? 1000 : static_cast<int>(std::min<std::int64_t>(wait, 1000)));
  }
  if (g_signalPipe[0] >= 0) {
    char buf[16];
    if (::read(g_signalPipe[0], buf, sizeof buf) > 0) {
      // Ended from outside: every window hears a close request, and the forms unload as they
      // do on one (a running transition stops at its next frame).
      std::vector<X11Window*> open;
      for (auto& [id, w] : display_.windows) open.push_back(w);
      for (X11Window* w : open) {
        if (display_.windows.count(static_cast<::Window>(w->Handle()))) {
          XEvent e{};
          e.type = ClientMessage;
          e.xclient.data.l[0] = static_cast<long>(display_.WmDelete());
          w->Dispatch(e);
        }
      }
      Quit(128 + g_signal);
    }
  }
  while (d && XPending(d) > 0 && !quit_) {
    XEvent e;
    XNextEvent(d, &e);
    if (const auto it = display_.windows.find(e.xany.window); it != display_.windows.end()) {
      it->second->Dispatch(e);
    } else if (const auto host = display_.hosts.find(e.xany.window); host != display_.hosts.end()) {
      host->second->Dispatch(e);
    }
  }
  // Timers that are due fire once each; a timer never re-enters its own tick.
  const std::int64_t fireAt = NowMs();
  for (std::size_t i = 0; i < timers_.size() && !quit_; ++i) {
    Timer& t = timers_[i];
    if (!t.alive || !t.enabled || t.running || t.due > fireAt) continue;
    t.due = fireAt + t.period;
    t.running = true;
    auto tick = t.tick;
    tick();
    timers_[i].running = false;
  }
}

}  // namespace dbx::x11
