#include "platform/os/RankedMutex.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace platform {
namespace {

void DefaultViolation(LockRank held, LockRank requested) {
  std::fprintf(stderr, "lock order violated: %s lock requested while holding the %s lock\n",
               LockRankName(requested), LockRankName(held));
  std::abort();
}

std::atomic<RankedMutex::ViolationHandler> violationHandler{&DefaultViolation};

#ifndef NDEBUG
// The locks this thread holds, in the order taken (debug builds only).
thread_local std::vector<const RankedMutex*> heldLocks;
#endif

}  // namespace

const char* LockRankName(LockRank rank) noexcept {
  switch (rank) {
    case LockRank::Session:
      return "session";
    case LockRank::SessionList:
      return "session list";
    case LockRank::DatabaseList:
      return "database list";
    case LockRank::Database:
      return "database";
    case LockRank::Memory:
      return "memory";
  }
  return "unknown";
}

RankedMutex::ViolationHandler RankedMutex::SetViolationHandler(ViolationHandler handler) noexcept {
  return violationHandler.exchange(handler != nullptr ? handler : &DefaultViolation);
}

void RankedMutex::CheckOrder() const {
#ifndef NDEBUG
  if (HeldByThisThread()) return;  // re-entry
  for (const RankedMutex* held : heldLocks) {
    if (held->rank_ >= rank_) {
      violationHandler.load()(held->rank_, rank_);
      return;
    }
  }
#endif
}

void RankedMutex::NoteAcquired() {
  depth_ = 1;
  owner_.store(std::this_thread::get_id(), std::memory_order_relaxed);
#ifndef NDEBUG
  heldLocks.push_back(this);
#endif
}

void RankedMutex::LockOuter() {
  CheckOrder();
  int seen = 0;
  if (!state_.compare_exchange_strong(seen, 1, std::memory_order_acquire,
                                      std::memory_order_relaxed)) {
    // Taken: announce a waiter (state 2) and sleep until a release.
    if (seen != 2) seen = state_.exchange(2, std::memory_order_acquire);
    while (seen != 0) {
      state_.wait(2, std::memory_order_relaxed);
      seen = state_.exchange(2, std::memory_order_acquire);
    }
  }
  NoteAcquired();
}

bool RankedMutex::try_lock() {
  if (HeldByThisThread()) {
    ++depth_;
    return true;
  }
  CheckOrder();
  int seen = 0;
  if (!state_.compare_exchange_strong(seen, 1, std::memory_order_acquire,
                                      std::memory_order_relaxed)) {
    return false;
  }
  NoteAcquired();
  return true;
}

void RankedMutex::ReleaseOuter() {
  owner_.store(std::thread::id(), std::memory_order_relaxed);
#ifndef NDEBUG
  auto it = std::find(heldLocks.begin(), heldLocks.end(), this);
  if (it != heldLocks.end()) heldLocks.erase(it);
#endif
  if (state_.fetch_sub(1, std::memory_order_release) != 1) {
    // Someone may be waiting.
    state_.store(0, std::memory_order_release);
    state_.notify_one();
  }
}

}  // namespace platform
