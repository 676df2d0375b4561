#include "slideshow/picture_cache.h"

#include <algorithm>
#include <exception>

#ifdef _WIN32
#include <windows.h>
#elif defined(__linux__)
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace dbx {

namespace {

// The decoder works while transitions play, and a large picture keeps a processor busy for a
// good part of a second: below the normal priority it takes the time the frames leave, and a
// frame is never late for it.
void LowerThisThreadsPriority() {
#ifdef _WIN32
  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
#elif defined(__linux__)
  // (On Linux the nice value belongs to each thread.) Better, the idle class: the thread runs only
  // where nothing else wants the processor, so neither the frames nor the window system's work
  // on them wait for it (at 3840 x 2160 a lower nice value alone still let frames come late).
  // A caller that waits too long for it decodes the picture itself (Get).
  setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), 10);
  sched_param idle{};
  sched_setscheduler(static_cast<pid_t>(syscall(SYS_gettid)), SCHED_IDLE, &idle);
#endif
}

}  // namespace

std::shared_ptr<const Surface> PictureCache::Decode(const std::string& path) {
  try {
    if (auto s = loader_.Load(path)) return std::make_shared<const Surface>(std::move(*s));
  } catch (const std::exception&) {
    // out of memory and the like: the picture counts as not loadable
  }
  return nullptr;
}

PictureCache::PictureCache(ImageLoader& loader, std::size_t capacity, DecodeThread thread)
    : loader_(loader), capacity_(capacity < 2 ? 2 : capacity) {
  if (thread == DecodeThread::kWorker) worker_ = std::thread([this] { Work(); });
}

PictureCache::~PictureCache() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    queue_.clear();
  }
  changed_.notify_all();
  if (worker_.joinable()) worker_.join();
}

PictureCache::Entry* PictureCache::Find(const std::string& path) {
  for (auto it = entries_.begin(); it != entries_.end(); ++it) {
    if (it->path == path) {
      entries_.splice(entries_.begin(), entries_, it);
      return &entries_.front();
    }
  }
  return nullptr;
}

PictureCache::Entry& PictureCache::Insert(const std::string& path) {
  entries_.push_front(Entry{path, false, nullptr});
  Trim();
  return entries_.front();
}

void PictureCache::Trim() {
  // Only finished pictures are dropped; one under way finishes first.
  while (entries_.size() > capacity_) {
    auto victim = entries_.end();
    for (auto it = std::prev(entries_.end());; --it) {
      if (it->ready) {
        victim = it;
        break;
      }
      if (it == entries_.begin()) break;
    }
    if (victim == entries_.end() || victim == entries_.begin()) break;
    entries_.erase(victim);
  }
}

void PictureCache::Prefetch(const std::string& path) {
  if (!worker_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    if (Find(path)) return;
    Insert(path);
    queue_.push_back(path);
  }
  changed_.notify_all();
}

std::shared_ptr<const Surface> PictureCache::Get(const std::string& path) {
  std::unique_lock lock(mutex_);
  Entry* e = Find(path);
  if (e && !e->ready) {
    // A picture still waiting in the queue is decoded here and now rather than after those before
    // it; one under way is waited for, but not for ever: a worker that other programs keep from
    // the processor must not hold the show (the picture is then decoded here as well).
    const auto queued = std::find(queue_.begin(), queue_.end(), path);
    if (queued != queue_.end()) {
      queue_.erase(queued);
    } else if (changed_.wait_for(lock, patience_, [&] {
                 Entry* w = Find(path);
                 return !w || w->ready || stopping_;
               })) {
      Entry* done = Find(path);
      return done ? done->picture : nullptr;
    }
  }
  e = Find(path);
  if (e && e->ready) return e->picture;
  if (!e) Insert(path);
  ++decodes_;
  lock.unlock();
  std::shared_ptr<const Surface> picture = Decode(path);
  lock.lock();
  if (Entry* again = Find(path)) {
    again->picture = picture;
    again->ready = true;
  }
  changed_.notify_all();
  return picture;
}

std::size_t PictureCache::Decodes() const {
  std::lock_guard lock(mutex_);
  return decodes_;
}

void PictureCache::Work() {
  LowerThisThreadsPriority();
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
    if (stopping_) return;
    const std::string path = queue_.front();
    queue_.pop_front();
    Entry* e = Find(path);
    if (!e || e->ready) continue;
    ++decodes_;
    lock.unlock();
    std::shared_ptr<const Surface> picture = Decode(path);
    lock.lock();
    for (auto& entry : entries_) {
      if (entry.path == path && !entry.ready) {
        entry.picture = picture;
        entry.ready = true;
      }
    }
    changed_.notify_all();
  }
}

}  // namespace dbx
