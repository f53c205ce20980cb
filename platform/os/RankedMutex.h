// A re-entrant mutex with a place in the engine's one lock order.
//
// The engine takes its locks in one order, from the outermost to the innermost:
//
//   Session        the process-wide session lock of the session and database components
//   SessionList    the list of sessions
//   DatabaseList   the process-wide list of database data objects
//   Database       one database's lock, which also guards all its tables
//   Memory         the memory manager's own bookkeeping
//
// A thread may take a lock only while every lock it already holds ranks
// before it, and it never holds two different locks of the same rank (so never
// two database locks at once). Re-entering a lock the thread already holds is
// always allowed, and locks may be released in any order (a database is locked
// and unlocked by separate calls).
//
// Debug builds (NDEBUG not defined) check the order on every lock: a thread
// that breaks it reports the two ranks to the violation handler, which by
// default prints them and aborts. Release builds keep only the owner and
// depth, so HeldByThisThread() is exact in every build.
//
// RankedMutex meets the standard Lockable requirements, so std::unique_lock
// works with it; scopes that hold a lock use RankedLockGuard below. Functions
// that must be called with a lock held say so in a `REQUIRES:` line and check
// it with assert(mutex.HeldByThisThread()).
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>

namespace platform {

enum class LockRank : std::uint8_t {
  Session = 1,
  SessionList = 2,
  DatabaseList = 3,
  Database = 4,
  Memory = 5,
};

const char* LockRankName(LockRank rank) noexcept;

class RankedMutex {
 public:
  explicit RankedMutex(LockRank rank) noexcept : rank_(rank) {}
  RankedMutex(const RankedMutex&) = delete;
  RankedMutex& operator=(const RankedMutex&) = delete;

  // REQUIRES (checked in debug builds): every lock the thread holds ranks
  // before this one, or the thread holds this lock already.
  // Re-entry costs no atomic operation: the holder only counts.
  void lock() {
    if (HeldByThisThread()) {
      ++depth_;
      return;
    }
    LockOuter();
  }
  bool try_lock();
  // REQUIRES: the calling thread holds the lock.
  void unlock() {
    if (--depth_ == 0) ReleaseOuter();
  }

  // True when the calling thread holds the lock (at any depth).
  bool HeldByThisThread() const noexcept {
    return owner_.load(std::memory_order_relaxed) == std::this_thread::get_id();
  }
  LockRank Rank() const noexcept { return rank_; }

  // Called on an order violation with the rank held and the rank requested.
  // Returns the previous handler; nullptr restores the default (print, abort).
  using ViolationHandler = void (*)(LockRank held, LockRank requested);
  static ViolationHandler SetViolationHandler(ViolationHandler handler) noexcept;

 private:
  void CheckOrder() const;
  // The first lock and the last unlock of the holding thread.
  void LockOuter();
  void NoteAcquired();
  void ReleaseOuter();

  // Taken once by the holding thread, whatever its depth: 0 free, 1 taken,
  // 2 taken and a thread may be waiting. Taking a free lock and giving it up
  // without waiters is one atomic operation each, no call; only a thread
  // that finds it taken sleeps (atomic wait), and only a release that saw
  // state 2 wakes one.
  std::atomic<int> state_{0};
  const LockRank rank_;
  // The holding thread; written only by the holder, read by anyone.
  std::atomic<std::thread::id> owner_{};
  // Re-entry depth; read and written only by the holding thread.
  int depth_ = 0;
};

// Holds a ranked mutex for one scope. When the calling thread holds it
// already (a cursor that locked its table around several calls), entering
// again would only raise the depth, so the guard skips the call altogether:
// a cursor walking a locked table pays one inline test per record.
class RankedLockGuard {
 public:
  explicit RankedLockGuard(RankedMutex& mutex)
      : mutex_(mutex.HeldByThisThread() ? nullptr : &mutex) {
    if (mutex_ != nullptr) mutex_->lock();
  }
  ~RankedLockGuard() {
    if (mutex_ != nullptr) mutex_->unlock();
  }
  RankedLockGuard(const RankedLockGuard&) = delete;
  RankedLockGuard& operator=(const RankedLockGuard&) = delete;

 private:
  RankedMutex* mutex_;  // nil when the thread held the mutex on entry
};

}  // namespace platform
