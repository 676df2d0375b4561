// Timers, quitting and frame pacing of the Windows message loop.
#include "platform/win32/event_loop.h"

#include <gtest/gtest.h>

#include <vector>

namespace dbx::win32 {
namespace {

// Runs messages until `done` or `limitMs` passed.
template <typename Done>
void RunFor(Win32EventLoop& loop, std::int64_t limitMs, Done done) {
  const std::int64_t end = loop.NowMs() + limitMs;
  while (!done() && loop.NowMs() < end) {
    loop.RunPending();
    ::Sleep(1);
  }
}

TEST(EventLoopTest, TimersTickWhileEnabled) {
  Win32EventLoop loop;
  int ticks = 0;
  const TimerId id = loop.CreateTimer(20, [&] { ++ticks; });
  RunFor(loop, 150, [] { return false; });
  EXPECT_EQ(ticks, 0) << "a new timer starts disabled";

  loop.SetTimer(id, true, 20);
  const std::int64_t start = loop.NowMs();
  RunFor(loop, 2000, [&] { return ticks >= 5; });
  EXPECT_GE(ticks, 5);
  // Five ticks of 20 ms cannot come sooner than 100 ms.
  EXPECT_GE(loop.NowMs() - start, 90);

  loop.SetTimer(id, false, 20);
  const int stopped = ticks;
  RunFor(loop, 150, [] { return false; });
  EXPECT_EQ(ticks, stopped);

  // A period of 0 runs nothing, even when enabled.
  loop.SetTimer(id, true, 0);
  RunFor(loop, 100, [] { return false; });
  EXPECT_EQ(ticks, stopped);
}

TEST(EventLoopTest, ReArmingPostponesTheNextTick) {
  Win32EventLoop loop;
  int ticks = 0;
  const TimerId id = loop.CreateTimer(200, [&] { ++ticks; });
  loop.SetTimer(id, true, 200);
  // Re-arming every 50 ms keeps a 200 ms timer from ever ticking.
  for (int i = 0; i < 8; ++i) {
    RunFor(loop, 50, [] { return false; });
    loop.SetTimer(id, true, 200);
  }
  EXPECT_EQ(ticks, 0);
  RunFor(loop, 1000, [&] { return ticks > 0; });
  EXPECT_EQ(ticks, 1);
}

TEST(EventLoopTest, TickMayDestroyItsTimerAndIsNotReentered) {
  Win32EventLoop loop;
  int ticks = 0;
  int depth = 0;
  int deepest = 0;
  TimerId id = 0;
  id = loop.CreateTimer(10, [&] {
    ++ticks;
    ++depth;
    deepest = std::max(deepest, depth);
    // A long step lets messages run, as the slideshow does between frames.
    RunFor(loop, 60, [] { return false; });
    --depth;
    if (ticks == 3) loop.DestroyTimer(id);
  });
  loop.SetTimer(id, true, 10);
  RunFor(loop, 1000, [&] { return ticks >= 3; });
  RunFor(loop, 100, [] { return false; });
  EXPECT_EQ(ticks, 3);
  EXPECT_EQ(deepest, 1);
}

TEST(EventLoopTest, RunEndsWithTheQuitCode) {
  Win32EventLoop loop;
  const TimerId id = loop.CreateTimer(10, [&] { loop.Quit(7); });
  loop.SetTimer(id, true, 10);
  EXPECT_EQ(loop.Run(), 7);
  loop.DestroyTimer(id);
  // A quit posted by the system's own call ends the loop too.
  ::PostQuitMessage(3);
  EXPECT_EQ(loop.Run(), 3);
}

TEST(EventLoopTest, FramesArePacedToTheRefreshPeriod) {
  Win32EventLoop loop;
  const double period = loop.RefreshPeriodMs();
  ASSERT_GT(period, 1.0);
  ASSERT_LT(period, 100.0);
  loop.WaitFrame();
  const std::int64_t start = loop.NowMs();
  constexpr int kFrames = 20;
  for (int i = 0; i < kFrames; ++i) loop.WaitFrame();
  const double elapsed = static_cast<double>(loop.NowMs() - start);
  EXPECT_GE(elapsed, (kFrames - 1) * period) << "frames came faster than the display";
  EXPECT_LE(elapsed, (kFrames + 10) * period) << "frames came much slower than the display";
}

}  // namespace
}  // namespace dbx::win32
