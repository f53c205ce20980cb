#include "engine/memory/ABSMemory.h"

#include <malloc.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <type_traits>

#include "engine/memory/ABSCoding.h"
#include "engine/memory/ABSException.h"
#include "engine/memory/ABSNativeCodes.h"
#include "platform/os/SystemMemory.h"

// Constant-initialised and trivially destructible: ready before any dynamic
// initialisation and still usable after every static destructor has run.
constinit TABSMemoryManager EngineMemoryManager;
static_assert(std::is_trivially_destructible_v<TABSMemoryManager>);

namespace {

using Byte = unsigned char;

constexpr std::uint32_t kHeaderGuard = 0xACCACCAC;   // stored as bytes AC CC CA AC
constexpr std::uint32_t kTrailerGuard = 0xACCEACCE;  // stored as bytes CE AC CE AC
constexpr std::int64_t kMethodOffset = 4;
constexpr std::int64_t kGuardOffset = 5;
constexpr std::int64_t kHeader = TABSMemoryManager::HeaderSize;
constexpr std::int64_t kOverhead = kHeader + TABSMemoryManager::TrailerSize;

// Heap blocks from this total size on reserve room ahead when they grow, up to
// this total (see ResizeBlock).
constexpr std::size_t kReserveAheadFrom = std::size_t{1} << 20;
constexpr std::size_t kReserveAheadLimit = std::size_t{1} << 32;

constexpr std::uint8_t kMethodHeap = 0;
constexpr std::uint8_t kMethodPages = 1;
constexpr std::uint8_t kMethodFixed = 2;

Byte* BlockOf(const void* address) {
  return const_cast<Byte*>(static_cast<const Byte*>(address)) - kHeader;
}

void WriteBlockFrame(Byte* block, std::int64_t size, std::uint8_t method) {
  Byte header[kHeader];
  StoreLE<std::uint32_t>(header, static_cast<std::uint32_t>(size));
  header[kMethodOffset] = method;
  StoreLE<std::uint32_t>(header + kGuardOffset, kHeaderGuard);
  std::memcpy(block, header, sizeof header);
  StoreLE<std::uint32_t>(block + kHeader + size, kTrailerGuard);
}

// The recorded size, sign-extended from its 32 bits.
std::int64_t RecordedSize(const Byte* block) {
  return static_cast<std::int32_t>(LoadLE<std::uint32_t>(block));
}

// A header is ours when its guard is intact. A negative recorded size is never
// written by GetMem, so such a header is treated as foreign too: trusting it
// would read before the block.
bool HeaderValid(const Byte* block) {
  return LoadLE<std::uint32_t>(block + kGuardOffset) == kHeaderGuard && RecordedSize(block) >= 0;
}

bool TrailerIntact(const Byte* block, std::int64_t size) {
  return LoadLE<std::uint32_t>(block + kHeader + size) == kTrailerGuard;
}

// Failures are raised out of line so the allocation paths stay small.
[[noreturn, gnu::cold, gnu::noinline]] void Raise(std::int32_t code, const char* message) {
  throw EABSException(code, message);
}

[[noreturn, gnu::cold, gnu::noinline]] void RaiseBadSize(std::int64_t size) {
  if (size == 0) Raise(30286, "Cannot allocate 0 bytes");
  throw EABSException(native_code::kAllocSizeOutOfRange, "Cannot allocate %d bytes", {size});
}

[[noreturn, gnu::cold, gnu::noinline]] void RaiseLimit(std::int64_t limit) {
  throw EABSException(30004, "Memory limit exceeded (Limit = %d bytes)", {limit});
}

std::string OutOfMemoryText(std::int64_t total) {
  return "Out of memory while allocating " + std::to_string(total) + " bytes";
}

std::string CurrentExceptionText() {
  try {
    throw;
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "Unknown exception";
  }
}

// Raises `code` with the message of the exception being handled; call only
// inside a catch block.
[[noreturn, gnu::cold, gnu::noinline]] void RaiseWrapped(std::int32_t code, const char* format) {
  throw EABSException(code, format, {CurrentExceptionText()});
}

// The sources other than the heap, and every failure to obtain memory, wrapped
// as the GetMem error.
[[gnu::noinline]] Byte* ObtainRaw(std::uint8_t method, std::int64_t total) {
  try {
    void* raw = nullptr;
    switch (method) {
      case kMethodHeap:
        raw = std::malloc(static_cast<std::size_t>(total));
        break;
      case kMethodPages:
        raw = platform::AllocatePages(static_cast<std::size_t>(total));
        break;
      case kMethodFixed:
        raw = platform::AllocateFixedBlock(static_cast<std::size_t>(total));
        break;
      default:
        throw EABSException(30340, "Unknown GetMem method type: %d", {method});
    }
    if (raw == nullptr) throw platform::Exception(OutOfMemoryText(total));
    return static_cast<Byte*>(raw);
  } catch (...) {
    RaiseWrapped(30015, "GetMem error: %s");
  }
}

// Releases by the method recorded in the header; an unknown method releases
// nothing, since there is no telling where such a block came from.
void ReleaseRaw(Byte* block, std::int64_t size) {
  switch (block[kMethodOffset]) {
    case kMethodHeap:
      std::free(block);
      break;
    case kMethodPages:
      platform::FreePages(block, static_cast<std::size_t>(size + kOverhead));
      break;
    case kMethodFixed:
      platform::FreeFixedBlock(block);
      break;
    default:
      break;
  }
}

// Per-thread share of the engine manager's allocated-size count. Each slot has
// exactly one writing thread at a time (the one that holds `inUse`), so the
// owner updates it with a plain load and store instead of a locked
// read-modify-write; readers sum all slots. A slot released at thread exit
// keeps its value (the net bytes that thread still holds) and is reused by the
// next new thread. Slots are never freed: they stay reachable from the list.
struct alignas(64) CountSlot {
  std::atomic<std::int64_t> value{0};
  std::atomic<bool> inUse{true};
  CountSlot* next = nullptr;
};

// Only the owning thread writes its slot, so a plain load and store suffice;
// readers sum the slots with relaxed loads.
inline void AddToSlot(CountSlot* slot, std::int64_t delta) {
  slot->value.store(slot->value.load(std::memory_order_relaxed) + delta, std::memory_order_relaxed);
}

constinit std::atomic<CountSlot*> gSlotHead{nullptr};

enum class SlotState : std::uint8_t { None, Owned, ThreadEnding };

// Trivially destructible, so it stays readable while the thread's other
// thread-local objects are destroyed.
struct ThreadSlot {
  CountSlot* slot;
  SlotState state;
};
constinit thread_local ThreadSlot tlsSlot{nullptr, SlotState::None};

// Hands the thread's slot back when the thread ends.
struct SlotReleaser {
  bool armed = false;
  ~SlotReleaser() {
    if (tlsSlot.slot != nullptr) tlsSlot.slot->inUse.store(false, std::memory_order_release);
    tlsSlot = {nullptr, SlotState::ThreadEnding};
  }
};
thread_local SlotReleaser tlsReleaser;

// Gives the calling thread a slot: a released one, else a new one. Returns
// nullptr only when no memory is left for a new slot (the caller then counts
// in the shared counter), so counting never fails.
[[gnu::noinline]] CountSlot* AcquireSlot() {
  tlsReleaser.armed = true;  // registers the releaser for this thread
  for (CountSlot* s = gSlotHead.load(std::memory_order_acquire); s != nullptr; s = s->next) {
    bool expected = false;
    if (!s->inUse.load(std::memory_order_relaxed) &&
        s->inUse.compare_exchange_strong(expected, true, std::memory_order_acquire))
      return s;
  }
  auto* s = new (std::nothrow) CountSlot;
  if (s == nullptr) return nullptr;
  s->next = gSlotHead.load(std::memory_order_relaxed);
  while (!gSlotHead.compare_exchange_weak(s->next, s, std::memory_order_release,
                                          std::memory_order_relaxed)) {
  }
  return s;
}

}  // namespace

// Never throws, so a block is never obtained without being counted.
inline void TABSMemoryManager::AddAllocated(std::int64_t delta) {
  // Only the process-wide manager uses the per-thread slots (they are global);
  // other instances and threads that are shutting down count atomically.
  if (this == &EngineMemoryManager) {
    ThreadSlot& t = tlsSlot;
    if (t.slot == nullptr && t.state == SlotState::None) {
      t.slot = AcquireSlot();
      t.state = SlotState::Owned;
    }
    if (t.slot != nullptr) {
      AddToSlot(t.slot, delta);
      return;
    }
  }
  sharedCount_.fetch_add(delta, std::memory_order_relaxed);
}

std::int64_t TABSMemoryManager::AllocatedSize() const {
  std::int64_t sum = sharedCount_.load(std::memory_order_relaxed);
  if (this == &EngineMemoryManager) {
    for (CountSlot* s = gSlotHead.load(std::memory_order_acquire); s != nullptr; s = s->next)
      sum += s->value.load(std::memory_order_relaxed);
  }
  return sum;
}

void TABSMemoryManager::SetMethodTableForTesting(std::span<const TABSMemoryMethodRow> rows) {
  if (rows.empty() || rows.size() > MaxMethodRows) {
    methodTable_[0] = {2147483647, kMethodHeap};
    methodRowCount_ = 1;
    return;
  }
  for (std::size_t i = 0; i < rows.size(); ++i) methodTable_[i] = rows[i];
  methodRowCount_ = rows.size();
}

inline std::uint8_t TABSMemoryManager::ChooseMethod(std::int64_t total) const {
  // With one row (the normal table) its method is the answer either way.
  if (methodRowCount_ == 1) return methodTable_[0].Method;
  // Starts from the last row's method, then walks from the last row to the
  // first and takes the first row whose maximum covers the total.
  std::uint8_t method = methodTable_[methodRowCount_ - 1].Method;
  for (std::size_t i = methodRowCount_; i-- > 0;) {
    if (methodTable_[i].MaxTotalSize >= total) {
      method = methodTable_[i].Method;
      break;
    }
  }
  return method;
}

// Size and limit checks shared by GetMem and ReallocMem; raised unwrapped.
inline void TABSMemoryManager::CheckRequest(std::int64_t size) const {
  if (size <= 0 || size > MaxBlockSize) RaiseBadSize(size);
  // Read without synchronisation: concurrent allocations may together pass
  // the limit; the limit is a planning bound, not a hard guarantee.
  const std::int64_t limit = MemoryLimit();
  if (limit != 0 && AllocatedSize() + size > limit) RaiseLimit(limit);
}

// Counts one allocation against an armed test failure; the one that brings
// the countdown to zero fails as obtaining the memory would (30015). Only
// called while the seam is armed.
[[gnu::noinline]] void TABSMemoryManager::CountInjectedFault(std::int64_t total) {
  std::int64_t left = failCountdown_.load(std::memory_order_relaxed);
  while (left > 0 &&
         !failCountdown_.compare_exchange_weak(left, left - 1, std::memory_order_relaxed)) {
  }
  if (left == 1) throw EABSException(30015, "GetMem error: %s", {OutOfMemoryText(total)});
}

// Steps after the checks; every failure in here is the GetMem error 30015.
inline void* TABSMemoryManager::AllocateBlock(std::int64_t size) {
  const std::int64_t total = size + kOverhead;
  const std::uint8_t method = ChooseMethod(total);
  Byte* block = nullptr;
  if (method == kMethodHeap)
    block = static_cast<Byte*>(std::malloc(static_cast<std::size_t>(total)));
  if (block == nullptr) block = ObtainRaw(method, total);  // other sources, or the error
  WriteBlockFrame(block, size, method);
  AddAllocated(size);
  return block + kHeader;
}

// The common case in few instructions: the process-wide manager, no limit,
// the normal method table and a thread that already has its count slot.
// Everything else, failures included, takes the general path.
void* TABSMemoryManager::GetMem(std::int64_t size) {
  if (size > 0 && size <= MaxBlockSize && this == &EngineMemoryManager &&
      memoryLimit_.load(std::memory_order_relaxed) == 0 &&
      failCountdown_.load(std::memory_order_relaxed) == 0 && methodRowCount_ == 1 &&
      methodTable_[0].Method == kMethodHeap && tlsSlot.slot != nullptr) [[likely]] {
    if (auto* block = static_cast<Byte*>(std::malloc(static_cast<std::size_t>(size + kOverhead)))) {
      WriteBlockFrame(block, size, kMethodHeap);
      AddToSlot(tlsSlot.slot, size);
      return block + kHeader;
    }
  }
  return GetMemSlow(size);
}

[[gnu::noinline]] void* TABSMemoryManager::GetMemSlow(std::int64_t size) {
  CheckRequest(size);
  if (failCountdown_.load(std::memory_order_relaxed) != 0) CountInjectedFault(size + kOverhead);
  return AllocateBlock(size);
}

void* TABSMemoryManager::GetMemZeroed(std::int64_t size) {
  void* p = GetMem(size);
  std::memset(p, 0, static_cast<std::size_t>(size));
  return p;
}

void TABSMemoryManager::FreeAndNillMem(void*& address) {
  if (address == nullptr) return;
  // Fast path for an intact heap block of the process-wide manager.
  Byte* block = BlockOf(address);
  if (this == &EngineMemoryManager && LoadLE<std::uint32_t>(block + kGuardOffset) == kHeaderGuard) {
    const std::int64_t size = RecordedSize(block);
    CountSlot* slot = tlsSlot.slot;
    if (size >= 0 && block[kMethodOffset] == kMethodHeap && TrailerIntact(block, size) &&
        slot != nullptr) [[likely]] {
      AddToSlot(slot, -size);
      address = nullptr;
      std::free(block);
      return;
    }
  }
  FreeSlow(address);
}

[[gnu::noinline]] void TABSMemoryManager::FreeSlow(void*& address) {
  Byte* block = BlockOf(address);
  if (!HeaderValid(block)) Raise(30001, "Invalid pointer");
  const std::int64_t size = RecordedSize(block);
  const bool overrun = !TrailerIntact(block, size);
  AddAllocated(-size);
  address = nullptr;
  if (!overrun && block[kMethodOffset] == kMethodHeap) [[likely]] {
    std::free(block);
    return;
  }
  // None of the release functions throws; the 30138 wrap is for a source
  // that one day might.
  try {
    ReleaseRaw(block, size);
  } catch (...) {
    RaiseWrapped(30138, "FreeAndNillMem error: %s");
  }
  if (overrun) Raise(30137, "Memory overrun detected");
}

void TABSMemoryManager::ResizeBlock(void*& address, std::int64_t newSize, bool clearTail) {
  if (address == nullptr) Raise(30002, "Invalid pointer");
  Byte* block = BlockOf(address);
  if (!HeaderValid(block)) Raise(30002, "Invalid pointer");
  const std::int64_t oldSize = RecordedSize(block);
  // An overrun old block is released (FreeAndNillMem raises 30137 and clears
  // the address) before anything new is obtained, so nothing leaks.
  if (!TrailerIntact(block, oldSize)) FreeAndNillMem(address);
  CheckRequest(newSize);

  const std::int64_t newTotal = newSize + kOverhead;
  if (newSize > oldSize && failCountdown_.load(std::memory_order_relaxed) != 0)
    CountInjectedFault(newTotal);
  if (block[kMethodOffset] == kMethodHeap && ChooseMethod(newTotal) == kMethodHeap) {
    // The runtime may grow or shrink the block in place; on failure the old
    // block is untouched and the caller keeps it.
    const std::size_t usable = malloc_usable_size(block);
    const auto wanted = static_cast<std::size_t>(newTotal);
    if (wanted > usable || wanted < usable / 2) {
      // A large block that grows (a table's record array grows by a fixed
      // step) reserves room ahead in proportion to its size. Without it the
      // runtime would move a block that has a mapping of its own at nearly
      // every step, at a cost that grows with the block. Untouched room costs
      // address space, not memory, and the count keeps the requested size.
      std::size_t request = wanted;
      if (wanted > usable && newSize > oldSize && wanted >= kReserveAheadFrom)
        request = std::max(wanted, std::min(wanted + wanted / 2, kReserveAheadLimit));
      void* raw = std::realloc(block, request);
      if (raw == nullptr && request > wanted) raw = std::realloc(block, wanted);
      if (raw == nullptr)
        throw EABSException(30015, "GetMem error: %s", {OutOfMemoryText(newTotal)});
      block = static_cast<Byte*>(raw);
    }
    WriteBlockFrame(block, newSize, kMethodHeap);
    if (clearTail && oldSize < newSize)
      std::memset(block + kHeader + oldSize, 0, static_cast<std::size_t>(newSize - oldSize));
    AddAllocated(newSize - oldSize);
    address = block + kHeader;
    return;
  }

  void* fresh = AllocateBlock(newSize);
  Byte* user = static_cast<Byte*>(fresh);
  std::memcpy(user, address, static_cast<std::size_t>(oldSize < newSize ? oldSize : newSize));
  if (clearTail && oldSize < newSize)
    std::memset(user + oldSize, 0, static_cast<std::size_t>(newSize - oldSize));
  FreeAndNillMem(address);  // header and trailer already checked: cannot raise
  address = fresh;
}

void TABSMemoryManager::ReallocMem(void*& address, std::int64_t newSize, bool clearTail) {
  try {
    ResizeBlock(address, newSize, clearTail);
  } catch (...) {
    RaiseWrapped(30014, "ReallocMem error: %s");
  }
}

std::int64_t TABSMemoryManager::GetMemSize(const void* address) const {
  if (address == nullptr) return 0;
  const Byte* block = BlockOf(address);
  if (!HeaderValid(block)) Raise(30005, "Invalid pointer");
  return RecordedSize(block);
}

std::int64_t TABSMemoryManager::GetAvailableMemory() {
  const std::int64_t available = platform::AvailablePhysicalMemory();
  availableMemory_.store(available, std::memory_order_relaxed);
  const std::int64_t limit = MemoryLimit();
  return limit != 0 && limit < available ? limit : available;
}

void MoveBytes(const void* source, void* destination, std::int64_t count) {
  if (count <= 0) return;
  if (source == nullptr || destination == nullptr)
    Raise(native_code::kMoveBytesNil, "Nil pointer occured");
  const auto* src = static_cast<const Byte*>(source);
  auto* dst = static_cast<Byte*>(destination);
  const auto s = reinterpret_cast<std::uintptr_t>(src);
  const auto d = reinterpret_cast<std::uintptr_t>(dst);
  const auto n = static_cast<std::size_t>(count);
  if (d > s && d - s <= 3) {
    // Destination just above the source: copy from the last byte down.
    for (std::size_t i = n; i-- > 0;) dst[i] = src[i];
  } else if (s > d && s - d <= 3) {
    // Destination just below the source: copy from the first byte up.
    for (std::size_t i = 0; i < n; ++i) dst[i] = src[i];
  } else {
    std::memmove(dst, src, n);
  }
}
