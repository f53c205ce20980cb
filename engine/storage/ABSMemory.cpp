#include "engine/storage/ABSMemory.h"

#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <type_traits>

#include "engine/types/ABSException.h"
#include "platform/SystemMemory.h"

// Constant-initialised and trivially destructible: ready before any dynamic
// initialisation and still usable after every static destructor has run.
constinit TABSMemoryManager EngineMemoryManager;
static_assert(std::is_trivially_destructible_v<TABSMemoryManager>);

namespace {

using Byte = unsigned char;

constexpr Byte kHeaderGuard[4] = {0xAC, 0xCC, 0xCA, 0xAC};   // 0xACCACCAC little-endian
constexpr Byte kTrailerGuard[4] = {0xCE, 0xAC, 0xCE, 0xAC};  // 0xACCEACCE little-endian
constexpr std::int64_t kGuardOffset = 5;
constexpr std::int64_t kMethodOffset = 4;
constexpr std::int64_t kOverhead = TABSMemoryManager::HeaderSize + TABSMemoryManager::TrailerSize;

constexpr std::uint8_t kMethodHeap = 0;
constexpr std::uint8_t kMethodPages = 1;
constexpr std::uint8_t kMethodFixed = 2;

Byte* BlockOf(const void* address) {
  return const_cast<Byte*>(static_cast<const Byte*>(address)) - TABSMemoryManager::HeaderSize;
}

void WriteBlockFrame(Byte* block, std::int64_t size, std::uint8_t method) {
  const auto s = static_cast<std::uint32_t>(size);
  const Byte header[5] = {static_cast<Byte>(s), static_cast<Byte>(s >> 8),
                          static_cast<Byte>(s >> 16), static_cast<Byte>(s >> 24), method};
  std::memcpy(block, header, sizeof header);
  std::memcpy(block + kGuardOffset, kHeaderGuard, sizeof kHeaderGuard);
  std::memcpy(block + TABSMemoryManager::HeaderSize + size, kTrailerGuard, sizeof kTrailerGuard);
}

// The recorded size, sign-extended from its 32 bits.
std::int64_t RecordedSize(const Byte* block) {
  const std::uint32_t s =
      static_cast<std::uint32_t>(block[0]) | static_cast<std::uint32_t>(block[1]) << 8 |
      static_cast<std::uint32_t>(block[2]) << 16 | static_cast<std::uint32_t>(block[3]) << 24;
  return static_cast<std::int32_t>(s);
}

// A header is ours when its guard is intact. A negative recorded size is never
// written by GetMem, so such a header is treated as foreign too: trusting it
// would read before the block.
bool HeaderValid(const Byte* block) {
  return std::memcmp(block + kGuardOffset, kHeaderGuard, sizeof kHeaderGuard) == 0 &&
         RecordedSize(block) >= 0;
}

bool TrailerIntact(const Byte* block, std::int64_t size) {
  return std::memcmp(block + TABSMemoryManager::HeaderSize + size, kTrailerGuard,
                     sizeof kTrailerGuard) == 0;
}

std::string OutOfMemoryText(std::int64_t total) {
  return "Out of memory while allocating " + std::to_string(total) + " bytes";
}

Byte* ObtainRaw(std::uint8_t method, std::int64_t total) {
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
}

// Releases by the method recorded in the header; an unknown method releases
// nothing, since there is no telling where such a block came from.
void ReleaseRaw(Byte* block) {
  switch (block[kMethodOffset]) {
    case kMethodHeap:
      std::free(block);
      break;
    case kMethodPages:
      platform::FreePages(block, static_cast<std::size_t>(RecordedSize(block) + kOverhead));
      break;
    case kMethodFixed:
      platform::FreeFixedBlock(block);
      break;
    default:
      break;
  }
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

CountSlot* AcquireSlot() {
  for (CountSlot* s = gSlotHead.load(std::memory_order_acquire); s != nullptr; s = s->next) {
    bool expected = false;
    if (!s->inUse.load(std::memory_order_relaxed) &&
        s->inUse.compare_exchange_strong(expected, true, std::memory_order_acquire))
      return s;
  }
  auto* s = new CountSlot;
  s->next = gSlotHead.load(std::memory_order_relaxed);
  while (!gSlotHead.compare_exchange_weak(s->next, s, std::memory_order_release,
                                          std::memory_order_relaxed)) {
  }
  return s;
}

}  // namespace

void TABSMemoryManager::AddAllocated(std::int64_t delta) {
  // Only the process-wide manager uses the per-thread slots (they are global);
  // other instances and threads that are shutting down count atomically.
  if (this == &EngineMemoryManager) {
    ThreadSlot& t = tlsSlot;
    if (t.slot == nullptr && t.state == SlotState::None) {
      tlsReleaser.armed = true;  // registers the releaser for this thread
      t.slot = AcquireSlot();
      t.state = SlotState::Owned;
    }
    if (t.slot != nullptr) {
      std::atomic<std::int64_t>& v = t.slot->value;
      v.store(v.load(std::memory_order_relaxed) + delta, std::memory_order_relaxed);
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

std::uint8_t TABSMemoryManager::ChooseMethod(std::int64_t total) const {
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
void TABSMemoryManager::CheckRequest(std::int64_t size) const {
  if (size == 0) throw EABSException(30286, "Cannot allocate 0 bytes");
  if (size < 0 || size > MaxBlockSize)
    throw EABSException(30507, "Cannot allocate %d bytes", {size});
  // Read without synchronisation: concurrent allocations may together pass
  // the limit; the limit is a planning bound, not a hard guarantee.
  const std::int64_t limit = MemoryLimit();
  if (limit != 0 && AllocatedSize() + size > limit)
    throw EABSException(30004, "Memory limit exceeded (Limit = %d bytes)", {limit});
}

void* TABSMemoryManager::AllocateBlock(std::int64_t size) {
  const std::int64_t total = size + kOverhead;
  const std::uint8_t method = ChooseMethod(total);
  Byte* block = ObtainRaw(method, total);
  WriteBlockFrame(block, size, method);
  AddAllocated(size);
  return block + HeaderSize;
}

void* TABSMemoryManager::GetMem(std::int64_t size) {
  CheckRequest(size);
  try {
    return AllocateBlock(size);
  } catch (...) {
    throw EABSException(30015, "GetMem error: %s", {CurrentExceptionText()});
  }
}

void* TABSMemoryManager::GetMemZeroed(std::int64_t size) {
  void* p = GetMem(size);
  std::memset(p, 0, static_cast<std::size_t>(size));
  return p;
}

void TABSMemoryManager::FreeAndNillMem(void*& address) {
  if (address == nullptr) return;
  try {
    Byte* block = BlockOf(address);
    if (!HeaderValid(block)) throw EABSException(30001, "Invalid pointer");
    const std::int64_t size = RecordedSize(block);
    const bool overrun = !TrailerIntact(block, size);
    AddAllocated(-size);
    ReleaseRaw(block);
    address = nullptr;
    if (overrun) throw EABSException(30137, "Memory overrun detected");
  } catch (const EABSException&) {
    throw;
  } catch (...) {
    throw EABSException(30138, "FreeAndNillMem error: %s", {CurrentExceptionText()});
  }
}

void TABSMemoryManager::ResizeBlock(void*& address, std::int64_t newSize, bool clearTail) {
  if (address == nullptr) throw EABSException(30002, "Invalid pointer");
  Byte* block = BlockOf(address);
  if (!HeaderValid(block)) throw EABSException(30002, "Invalid pointer");
  const std::int64_t oldSize = RecordedSize(block);
  // An overrun old block is released (FreeAndNillMem raises 30137 and clears
  // the address) before anything new is obtained, so nothing leaks.
  if (!TrailerIntact(block, oldSize)) FreeAndNillMem(address);
  CheckRequest(newSize);

  const std::int64_t newTotal = newSize + kOverhead;
  if (block[kMethodOffset] == kMethodHeap && ChooseMethod(newTotal) == kMethodHeap) {
    // The runtime may grow or shrink the block in place; on failure the old
    // block is untouched and the caller keeps it.
    void* raw = std::realloc(block, static_cast<std::size_t>(newTotal));
    if (raw == nullptr) throw EABSException(30015, "GetMem error: %s", {OutOfMemoryText(newTotal)});
    block = static_cast<Byte*>(raw);
    WriteBlockFrame(block, newSize, kMethodHeap);
    if (clearTail && oldSize < newSize)
      std::memset(block + HeaderSize + oldSize, 0, static_cast<std::size_t>(newSize - oldSize));
    AddAllocated(newSize - oldSize);
    address = block + HeaderSize;
    return;
  }

  void* fresh = GetMem(newSize);
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
    throw EABSException(30014, "ReallocMem error: %s", {CurrentExceptionText()});
  }
}

std::int64_t TABSMemoryManager::GetMemSize(const void* address) const {
  if (address == nullptr) return 0;
  const Byte* block = BlockOf(address);
  if (!HeaderValid(block)) throw EABSException(30005, "Invalid pointer");
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
    throw EABSException(30508, "Nil pointer occured");
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
