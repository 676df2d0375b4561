// The side thread: both halves run, on two threads when it is free and awake in time, failures
// reach the caller, and callers that split at the same time each get their own halves done.
#include "core/side_worker.h"

#include <gtest/gtest.h>

#if defined(__linux__)
#include <sched.h>
#endif

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

namespace dbx {
namespace {

// Waits (up to 2 s) until `begun`: a half that ends before the side thread begins the other takes
// it back, so a caller's half waits for the side thread where a test needs it to run there.
void WaitUntil(const std::atomic<bool>& begun) {
  for (int i = 0; i < 2000 && !begun; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

TEST(SideWorker, RunsBothHalvesTheOtherOnItsOwnThread) {
  SideWorker& worker = SideWorker::Shared();
  ASSERT_TRUE(worker.Parallel());
  for (int round = 0; round < 50; ++round) {
    std::vector<int> data(1000, round);
    std::thread::id mine, theirs;
    std::atomic<bool> begun{false};
    worker.Split(
        [&] {
          mine = std::this_thread::get_id();
          for (int i = 0; i < 500; ++i) data[static_cast<std::size_t>(i)] += 1;
          WaitUntil(begun);
        },
        [&] {
          begun = true;
          theirs = std::this_thread::get_id();
          for (int i = 500; i < 1000; ++i) data[static_cast<std::size_t>(i)] += 2;
        });
    EXPECT_EQ(mine, std::this_thread::get_id());
    EXPECT_NE(theirs, mine);
    for (int i = 0; i < 1000; ++i)
      ASSERT_EQ(data[static_cast<std::size_t>(i)], round + (i < 500 ? 1 : 2)) << round << " " << i;
  }
}

TEST(SideWorker, ACallerDoneFirstDoesTheHalfTheSideThreadHasNotBegun) {
  // The side thread is kept from beginning: each split returns with both halves done on the
  // caller's thread, and the side thread, let go, runs none of them afterwards.
  SideWorker& worker = SideWorker::Shared();
  worker.Hold(true);
  std::atomic<int> theirsRuns{0};
  for (int round = 0; round < 3; ++round) {
    int mine = 0;
    std::thread::id where;
    worker.Split([&] { mine = 1; },
                 [&] {
                   ++theirsRuns;
                   where = std::this_thread::get_id();
                 });
    EXPECT_EQ(mine, 1);
    EXPECT_EQ(where, std::this_thread::get_id()) << round;
  }
  // A failure of the half taken back still reaches the caller.
  EXPECT_THROW(worker.Split([] {}, [] { throw std::logic_error("theirs"); }), std::logic_error);
  worker.Hold(false);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(theirsRuns, 3);
  // And it takes the next job again.
  std::atomic<bool> begun{false};
  std::thread::id theirs;
  worker.Split([&] { WaitUntil(begun); },
               [&] {
                 begun = true;
                 theirs = std::this_thread::get_id();
               });
  EXPECT_NE(theirs, std::this_thread::get_id());
}

#if defined(__linux__)
TEST(SideWorker, TheSideThreadWakesOffTheCallersProcessor) {
  // After a sleep (the side thread too has gone to sleep), each split's halves run on two
  // processors: taking turns on one, a split would take longer than one thread alone.
  SideWorker& worker = SideWorker::Shared();
  constexpr int kRounds = 20;
  int shared = 0;
  for (int round = 0; round < kRounds; ++round) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::atomic<bool> begun{false};
    int mine = -1, theirs = -1;
    worker.Split(
        [&] {
          WaitUntil(begun);
          mine = sched_getcpu();
        },
        [&] {
          theirs = sched_getcpu();
          begun = true;
        });
    shared += mine == theirs;
  }
  // (The caller itself may move now and then; with one processor they can only share it.)
  if (std::thread::hardware_concurrency() >= 2) {
    EXPECT_LE(shared, kRounds / 4);
  }
}
#endif

TEST(SideWorker, AFailureOfEitherHalfReachesTheCallerAfterBothEnd) {
  SideWorker& worker = SideWorker::Shared();
  std::atomic<bool> otherDone{false};
  EXPECT_THROW(worker.Split([] { throw std::runtime_error("mine"); },
                            [&] {
                              std::this_thread::sleep_for(std::chrono::milliseconds(20));
                              otherDone = true;
                            }),
               std::runtime_error);
  EXPECT_TRUE(otherDone);
  otherDone = false;
  EXPECT_THROW(worker.Split([&] { otherDone = true; }, [] { throw std::logic_error("theirs"); }),
               std::logic_error);
  EXPECT_TRUE(otherDone);
  // The worker is free again afterwards.
  int one = 0, two = 0;
  worker.Split([&] { one = 1; }, [&] { two = 2; });
  EXPECT_EQ(one + two, 3);
}

TEST(SideWorker, CallersSplittingAtOnceEachGetTheirOwnHalvesDone) {
  // One caller holds the side thread; the others run both halves themselves.
  SideWorker& worker = SideWorker::Shared();
  constexpr int kCallers = 4, kRounds = 200;
  std::vector<std::vector<long>> sums(kCallers, std::vector<long>(2, 0));
  std::vector<std::thread> callers;
  for (int c = 0; c < kCallers; ++c)
    callers.emplace_back([&, c] {
      for (int r = 0; r < kRounds; ++r)
        worker.Split([&] { sums[static_cast<std::size_t>(c)][0] += r; },
                     [&] { sums[static_cast<std::size_t>(c)][1] += 2 * r; });
    });
  for (std::thread& t : callers) t.join();
  const long total = static_cast<long>(kRounds) * (kRounds - 1) / 2;
  for (int c = 0; c < kCallers; ++c) {
    EXPECT_EQ(sums[static_cast<std::size_t>(c)][0], total) << c;
    EXPECT_EQ(sums[static_cast<std::size_t>(c)][1], 2 * total) << c;
  }
}

}  // namespace
}  // namespace dbx
