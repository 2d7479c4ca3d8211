#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

namespace orv {

// Ranks of the engine's locks. A thread may first take a lock only while every lock it already
// holds has a lower rank: the session lock comes first, and the manager lock and the
// data-manager lock share a rank, so neither is ever taken while the other is held.
inline constexpr int kLockRankSession = 0;
inline constexpr int kLockRankLists = 1;

// A re-entrant critical section that checks the lock order on every first entry by a thread.
// A wrong order raises instead of blocking, so a path that could deadlock two threads fails on
// its first run in one.
class TOrvelLock {
 public:
  TOrvelLock(std::string name, int rank) : name_(std::move(name)), rank_(rank) {}
  ~TOrvelLock();
  TOrvelLock(const TOrvelLock&) = delete;
  TOrvelLock& operator=(const TOrvelLock&) = delete;

  const std::string& Name() const { return name_; }
  int Rank() const { return rank_; }

  // Raises "TOrvelLock.Enter - ..." on an order violation, before waiting.
  void Enter();
  // Raises when the calling thread does not hold the lock.
  void Leave();
  bool HeldByThisThread() const { return owner_.load() == std::this_thread::get_id(); }
  // Nesting depth of the holding thread; 0 when free. Meaningful to the holder only.
  int Depth() const { return depth_; }

 private:
  std::string name_;
  int rank_;
  std::recursive_mutex mutex_;
  std::atomic<std::thread::id> owner_{};
  int depth_ = 0;
};

class TOrvelLockGuard {
 public:
  explicit TOrvelLockGuard(TOrvelLock& lock) : lock_(lock) { lock_.Enter(); }
  ~TOrvelLockGuard() { lock_.Leave(); }
  TOrvelLockGuard(const TOrvelLockGuard&) = delete;
  TOrvelLockGuard& operator=(const TOrvelLockGuard&) = delete;

 private:
  TOrvelLock& lock_;
};

}  // namespace orv
