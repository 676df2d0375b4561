// Decoded pictures of the slideshow, decoded ahead of need on a worker thread so that a step never
// waits on a decoder while the user watches, and each file is decoded once however often a step
// composes it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "core/platform.h"

namespace dbx {

enum class DecodeThread { kWorker, kCaller };

class PictureCache {
 public:
  // `capacity` pictures are kept; the least recently used beyond that are dropped. With
  // DecodeThread::kCaller everything decodes on the calling thread (tests, headless runs).
  PictureCache(ImageLoader& loader, std::size_t capacity, DecodeThread thread);
  ~PictureCache();
  PictureCache(const PictureCache&) = delete;
  PictureCache& operator=(const PictureCache&) = delete;

  // Asks for a picture to be decoded in the background; returns at once.
  void Prefetch(const std::string& path);
  // The picture, decoding it now unless it is ready or under way (then waits for it, up to the
  // patience, and decodes it here after that); nullptr when the file is missing or not a picture.
  std::shared_ptr<const Surface> Get(const std::string& path);
  // How long Get waits for a decode under way (2 s by default).
  void SetPatience(std::chrono::milliseconds patience) { patience_ = patience; }
  // How many decodes have run (for tests: each file once).
  std::size_t Decodes() const;

 private:
  struct Entry {
    std::string path;
    bool ready = false;
    std::shared_ptr<const Surface> picture;
  };
  Entry* Find(const std::string& path);  // under the lock
  Entry& Insert(const std::string& path);
  void Trim();
  void Work();
  // The loader's picture, or nullptr (also when the loader throws); outside the lock.
  std::shared_ptr<const Surface> Decode(const std::string& path);

  ImageLoader& loader_;
  const std::size_t capacity_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::list<Entry> entries_;  // most recently used first
  std::deque<std::string> queue_;
  std::size_t decodes_ = 0;
  bool stopping_ = false;
  std::chrono::milliseconds patience_{2000};
  std::thread worker_;
};

}  // namespace dbx
