// The picture cache's worker thread: requests, waiting for a decode under way, the queue dropped
// at destruction, failing decoders, and two callers at once. Also run under ThreadSanitizer.
#include "slideshow/picture_cache.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <thread>
#include <vector>

#ifdef __linux__
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace dbx {
namespace {

using namespace std::chrono_literals;

// A decoder whose pictures are 1 pixel high and as wide as the path is long; "bad*" paths are not
// pictures and "huge*" paths run out of memory. With the gate closed, every decode waits for it.
class GatedLoader final : public ImageLoader {
 public:
  std::optional<Surface> Load(const std::string& path) override {
    std::unique_lock lock(mutex_);
    ++loads_[path];
    threads_.insert(std::this_thread::get_id());
    ++started_;
    changed_.notify_all();
    changed_.wait(lock, [&] { return open_; });
    if (path.rfind("huge", 0) == 0) throw std::bad_alloc();
    if (path.rfind("bad", 0) == 0) return std::nullopt;
    return Surface(static_cast<int>(path.size()), 1, 0x00123456);
  }
  std::optional<Surface> Decode(const std::uint8_t*, std::size_t) override { return std::nullopt; }

  void Open() {
    std::lock_guard lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }
  // Waits until `n` decodes have started (false after 5 s).
  bool WaitStarted(int n) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, 5s, [&] { return started_ >= n; });
  }
  int Started() {
    std::lock_guard lock(mutex_);
    return started_;
  }
  std::map<std::string, int> Loads() {
    std::lock_guard lock(mutex_);
    return loads_;
  }
  std::set<std::thread::id> Threads() {
    std::lock_guard lock(mutex_);
    return threads_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool open_ = false;
  int started_ = 0;
  std::map<std::string, int> loads_;
  std::set<std::thread::id> threads_;
};

// Opens the loader's gate after a short while, from another thread.
std::thread OpenLater(GatedLoader& loader) {
  return std::thread([&loader] {
    std::this_thread::sleep_for(20ms);
    loader.Open();
  });
}

TEST(PictureCache, PrefetchedPicturesDecodeOnceOnTheWorker) {
  GatedLoader loader;
  loader.Open();
  PictureCache cache(loader, 8, DecodeThread::kWorker);
  const std::vector<std::string> paths = {"a.jpg", "bb.jpg", "ccc.jpg"};
  for (int round = 0; round < 2; ++round) {
    for (const auto& p : paths) cache.Prefetch(p);
  }
  // (Asked for while still queued, a picture would be decoded by the caller.)
  ASSERT_TRUE(loader.WaitStarted(3));
  for (const auto& p : paths) {
    const auto picture = cache.Get(p);
    ASSERT_NE(picture, nullptr) << p;
    EXPECT_EQ(picture->width(), static_cast<int>(p.size())) << "the picture of another file";
    EXPECT_EQ(cache.Get(p), picture) << "a second Get decodes again";
  }
  EXPECT_EQ(cache.Decodes(), 3u);
  for (const auto& [path, n] : loader.Loads()) EXPECT_EQ(n, 1) << path;
  const auto threads = loader.Threads();
  EXPECT_EQ(threads.size(), 1u);
  EXPECT_EQ(threads.count(std::this_thread::get_id()), 0u) << "decoded on the caller's thread";
}

#ifdef __linux__
TEST(PictureCache, TheWorkerDecodesBelowTheNormalPriority) {
  // So that the decode of the next picture does not take the processor from a transition's frames.
  class NiceLoader final : public ImageLoader {
   public:
    std::optional<Surface> Load(const std::string&) override {
      errno = 0;
      nice = getpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)));
      policy = sched_getscheduler(0);
      return Surface(1, 1, 0);
    }
    std::optional<Surface> Decode(const std::uint8_t*, std::size_t) override {
      return std::nullopt;
    }
    int nice = -100;
    int policy = -1;
  } loader;
  const int mine = getpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)));
  PictureCache cache(loader, 4, DecodeThread::kWorker);
  cache.Prefetch("a.jpg");
  // (Asked for before the worker takes it, the caller would decode it itself.)
  for (int i = 0; i < 5000 && cache.Decodes() == 0; ++i) std::this_thread::sleep_for(1ms);
  ASSERT_NE(cache.Get("a.jpg"), nullptr);
  EXPECT_GT(loader.nice, mine);
  EXPECT_EQ(loader.policy, SCHED_IDLE);
  EXPECT_EQ(sched_getscheduler(0), SCHED_OTHER) << "the caller's own class changed";
  EXPECT_EQ(getpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid))), mine)
      << "the caller's own priority changed";
}
#endif

TEST(PictureCache, GetWaitsForTheDecodeUnderWayInsteadOfStartingAnother) {
  GatedLoader loader;
  PictureCache cache(loader, 8, DecodeThread::kWorker);
  cache.Prefetch("slow.jpg");
  ASSERT_TRUE(loader.WaitStarted(1));
  std::thread opener = OpenLater(loader);
  const auto picture = cache.Get("slow.jpg");
  opener.join();
  ASSERT_NE(picture, nullptr);
  EXPECT_EQ(loader.Loads()["slow.jpg"], 1);
  EXPECT_EQ(cache.Decodes(), 1u);
}

// A decoder whose first decode of a "held*" path waits for the gate; later ones (the caller's
// own) and other paths do not.
class FirstDecodeGated final : public ImageLoader {
 public:
  std::optional<Surface> Load(const std::string& path) override {
    std::unique_lock lock(mutex_);
    if (++loads_[path] == 1 && path.rfind("held", 0) == 0) {
      ++blocked_;
      changed_.notify_all();
      changed_.wait(lock, [&] { return open_; });
    }
    threads_[path].insert(std::this_thread::get_id());
    return Surface(static_cast<int>(path.size()), 1, 0);
  }
  std::optional<Surface> Decode(const std::uint8_t*, std::size_t) override { return std::nullopt; }
  void Open() {
    std::lock_guard lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }
  bool WaitBlocked(int n) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, 5s, [&] { return blocked_ >= n; });
  }
  int Loads(const std::string& path) {
    std::lock_guard lock(mutex_);
    return loads_[path];
  }
  bool DecodedOn(const std::string& path, std::thread::id thread) {
    std::lock_guard lock(mutex_);
    return threads_[path].count(thread) != 0;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool open_ = false;
  int blocked_ = 0;
  std::map<std::string, int> loads_;
  std::map<std::string, std::set<std::thread::id>> threads_;
};

TEST(PictureCache, AQueuedRequestIsDecodedByTheCallerNotBehindAnother) {
  FirstDecodeGated loader;
  PictureCache cache(loader, 8, DecodeThread::kWorker);
  cache.Prefetch("held.jpg");
  ASSERT_TRUE(loader.WaitBlocked(1));
  // The worker is held by the first picture; the second, still queued, comes from the caller
  // (its only decode) while the first is still under way.
  cache.Prefetch("second-one.jpg");
  const auto picture = cache.Get("second-one.jpg");
  ASSERT_NE(picture, nullptr);
  EXPECT_EQ(picture->width(), 14);
  EXPECT_EQ(loader.Loads("second-one.jpg"), 1);
  EXPECT_TRUE(loader.DecodedOn("second-one.jpg", std::this_thread::get_id()));
  EXPECT_EQ(loader.Loads("held.jpg"), 1);
  loader.Open();
}

TEST(PictureCache, ADecodeUnderWayTooLongIsDoneAgainByTheCaller) {
  FirstDecodeGated loader;
  PictureCache cache(loader, 8, DecodeThread::kWorker);
  cache.SetPatience(30ms);
  cache.Prefetch("held-long.jpg");
  ASSERT_TRUE(loader.WaitBlocked(1));
  const auto picture = cache.Get("held-long.jpg");
  ASSERT_NE(picture, nullptr);
  EXPECT_EQ(picture->width(), 13);
  EXPECT_EQ(loader.Loads("held-long.jpg"), 2);
  EXPECT_TRUE(loader.DecodedOn("held-long.jpg", std::this_thread::get_id()));
  loader.Open();
  // The worker's late result changes nothing for the callers.
  EXPECT_EQ(cache.Get("held-long.jpg")->width(), 13);
}

TEST(PictureCache, DestructionDuringADecodeDropsTheQueue) {
  GatedLoader loader;
  auto cache = std::make_unique<PictureCache>(loader, 4, DecodeThread::kWorker);
  for (int i = 0; i < 10; ++i) cache->Prefetch("p" + std::to_string(i) + ".jpg");
  ASSERT_TRUE(loader.WaitStarted(1));
  std::thread opener = OpenLater(loader);
  cache.reset();  // waits for the decode under way, not for the queue
  opener.join();
  EXPECT_EQ(loader.Started(), 1) << "queued requests were decoded after destruction began";
}

TEST(PictureCache, FilesThatAreNoPicturesGiveNothingToEveryWaiter) {
  for (const char* path : {"bad.jpg", "huge.jpg"}) {
    GatedLoader loader;
    PictureCache cache(loader, 4, DecodeThread::kWorker);
    cache.Prefetch(path);
    ASSERT_TRUE(loader.WaitStarted(1)) << path;
    std::thread opener = OpenLater(loader);
    EXPECT_EQ(cache.Get(path), nullptr) << path;
    opener.join();
    EXPECT_EQ(cache.Get(path), nullptr) << path << ": a failure is remembered, not retried";
    EXPECT_EQ(cache.Decodes(), 1u) << path;
  }
}

TEST(PictureCache, TheLeastRecentlyUsedFinishedPicturesMakeRoom) {
  GatedLoader loader;
  loader.Open();
  PictureCache cache(loader, 2, DecodeThread::kWorker);
  cache.Get("a.jpg");
  cache.Get("b.jpg");
  cache.Get("a.jpg");  // a is now the most recently used
  cache.Get("c.jpg");  // drops b
  EXPECT_EQ(cache.Decodes(), 3u);
  cache.Get("a.jpg");
  EXPECT_EQ(cache.Decodes(), 3u) << "a was dropped instead of b";
  cache.Get("b.jpg");
  EXPECT_EQ(cache.Decodes(), 4u);
}

TEST(PictureCache, TwoCallersAtOnceShareEveryDecode) {
  GatedLoader loader;
  loader.Open();
  PictureCache cache(loader, 32, DecodeThread::kWorker);
  std::vector<std::string> paths;
  for (int i = 0; i < 16; ++i) paths.push_back(std::string(static_cast<std::size_t>(i + 1), 'x'));
  std::vector<std::shared_ptr<const Surface>> seen[2];
  auto caller = [&](int id) {
    for (int k = 0; k < 16; ++k) {
      const std::string& p = paths[static_cast<std::size_t>(id == 0 ? k : 15 - k)];
      if (k % 3 == 0) cache.Prefetch(p);
      seen[id].push_back(cache.Get(p));
    }
  };
  std::thread other(caller, 1);
  caller(0);
  other.join();
  EXPECT_EQ(cache.Decodes(), 16u);
  for (const auto& [path, n] : loader.Loads()) EXPECT_EQ(n, 1) << path;
  for (int k = 0; k < 16; ++k) {
    ASSERT_NE(seen[0][static_cast<std::size_t>(k)], nullptr);
    EXPECT_EQ(seen[0][static_cast<std::size_t>(k)], seen[1][static_cast<std::size_t>(15 - k)]);
  }
}

}  // namespace
}  // namespace dbx
