// The engine memory manager: the one allocator every engine data buffer
// (record, page, key, field and stream buffers) comes from and returns to.
//
// Each block is wrapped in a packed 9-byte header and a 4-byte trailer:
//
//   offset 0         4 bytes  requested size (low 32 bits, little-endian)
//   offset 4         1 byte   allocation method (0 heap, 1 pages, 2 fixed block)
//   offset 5         4 bytes  header guard, bytes AC CC CA AC
//   offset 9         size     user area (the address handed to the caller)
//   offset 9 + size  4 bytes  trailer guard, bytes CE AC CE AC
//
// so a foreign pointer and a write past the end of a block are caught when the
// block is freed or resized. The user area is NOT aligned: callers read and
// write it with std::memcpy, never through wider pointer types.
//
// The manager counts the bytes the engine holds (user areas only) and can
// refuse an allocation that would pass a byte limit (0 = no limit, the
// default). All failures are EABSException with a native code.
//
// Ownership: a block belongs to whoever holds its address until it is passed
// to FreeAndNillMem (or replaced by ReallocMem). Engine objects themselves are
// not allocated here, only raw buffers.
//
// Threads: every operation may be called from any thread. The process-wide
// manager keeps its allocated-size count in per-thread slots summed on read,
// so allocating threads never contend on one counter; other instances (tests)
// count in one atomic. The sum is exact once the threads that allocated have
// synchronised with the reader (joined, or handed over under a lock). The limit
// test reads the sum without synchronisation, so concurrent allocations may
// together pass the limit.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>

// One row of the method table: blocks whose total size (user area + 13) is at
// most `MaxTotalSize` are obtained by `Method`.
struct TABSMemoryMethodRow {
  std::int32_t MaxTotalSize;
  std::uint8_t Method;
};

class TABSMemoryManager {
 public:
  // Size of the header in front of and the trailer behind every user area.
  static constexpr std::int64_t HeaderSize = 9;
  static constexpr std::int64_t TrailerSize = 4;
  // The largest user area whose total still fits the signed 32-bit header.
  static constexpr std::int64_t MaxBlockSize = 2147483647 - HeaderSize - TrailerSize;

  constexpr TABSMemoryManager() = default;
  TABSMemoryManager(const TABSMemoryManager&) = delete;
  TABSMemoryManager& operator=(const TABSMemoryManager&) = delete;

  // A new block of `size` bytes, contents undefined. Errors: 30286 for size 0,
  // 30464 for a negative size or one above MaxBlockSize, 30004 when the limit
  // would be passed, 30015 wrapping any failure to obtain the memory.
  void* GetMem(std::int64_t size);
  // GetMem, then the user area filled with zeros.
  void* GetMemZeroed(std::int64_t size);
  // Resizes the block at `address` to `newSize`, keeping the common prefix;
  // with `clearTail` the bytes beyond the old size are zeroed. The block may
  // stay in place or move: never rely on either. Every failure is 30014 with
  // the cause's message inside; the caller's address then still points at the
  // intact old block, except when the old block was overrun: it is released,
  // the address is set to nil and 30014 carries the overrun message. A nil or
  // foreign address is refused (30014 wrapping 30002).
  void ReallocMem(void*& address, std::int64_t newSize, bool clearTail = false);
  void ReallocMemZeroed(void*& address, std::int64_t newSize) {
    ReallocMem(address, newSize, true);
  }
  // Checks and releases the block and sets `address` to nil; nil does nothing.
  // 30001 for a foreign pointer (nothing released); 30137 when the trailer was
  // overwritten (the block is released and the address nil all the same).
  void FreeAndNillMem(void*& address);
  // The recorded size of a block; 0 for nil, 30005 for a foreign pointer.
  std::int64_t GetMemSize(const void* address) const;
  // The system's available physical memory; with a limit set, the smaller of
  // that and the limit.
  std::int64_t GetAvailableMemory();

  // Bytes currently held by the engine (sum of live user areas).
  std::int64_t AllocatedSize() const;
  std::int64_t MemoryLimit() const { return memoryLimit_.load(std::memory_order_relaxed); }
  // 0 removes the limit. Reaching the limit exactly is allowed.
  void SetMemoryLimit(std::int64_t limit) { memoryLimit_.store(limit, std::memory_order_relaxed); }

  // Typed conveniences over the byte API.
  template <typename T>
  void FreeAndNillMem(T*& address) {
    TypedRef<T> ref(address);
    FreeAndNillMem(ref.raw);
  }
  template <typename T>
  void ReallocMem(T*& address, std::int64_t newSize, bool clearTail = false) {
    TypedRef<T> ref(address);
    ReallocMem(ref.raw, newSize, clearTail);
  }
  template <typename T>
  void ReallocMemZeroed(T*& address, std::int64_t newSize) {
    ReallocMem(address, newSize, true);
  }

  // Test hook: replaces the method table (at most MaxMethodRows rows; an empty
  // span restores the default single row "up to 2147483647 bytes: heap"), so
  // that blocks from the page and fixed-block sources and unknown methods can
  // be produced. Not for concurrent use.
  static constexpr std::size_t MaxMethodRows = 4;
  void SetMethodTableForTesting(std::span<const TABSMemoryMethodRow> rows);

  // Test seam: with n > 0 the n-th allocation from now fails as if the system
  // had no memory left (GetMem and GetMemZeroed raise 30015, a growing
  // ReallocMem raises 30014 wrapping 30015, every block left as it was); the
  // seam is off again once it has fired. 0 turns it off. GetMem, GetMemZeroed
  // and every ReallocMem to a larger size count as allocations; shrinking and
  // freeing do not. Requests refused for their size or the limit fail with
  // their own errors and do not count. Costs the fast path one relaxed load.
  void FailAllocationForTesting(std::int64_t n) {
    failCountdown_.store(n > 0 ? n : 0, std::memory_order_relaxed);
  }
  // Allocations still to go before the armed failure; 0 when the seam is off.
  std::int64_t PendingFailureForTesting() const {
    return failCountdown_.load(std::memory_order_relaxed);
  }

 private:
  // Writes the caller's typed pointer back however the byte call ends.
  template <typename T>
  struct TypedRef {
    explicit TypedRef(T*& p) : typed(p), raw(const_cast<void*>(static_cast<const void*>(p))) {}
    ~TypedRef() { typed = static_cast<T*>(raw); }
    T*& typed;
    void* raw;
  };

  std::uint8_t ChooseMethod(std::int64_t total) const;
  void CheckRequest(std::int64_t size) const;
  void* AllocateBlock(std::int64_t size);
  void* GetMemSlow(std::int64_t size);
  void FreeSlow(void*& address);
  void ResizeBlock(void*& address, std::int64_t newSize, bool clearTail);
  void AddAllocated(std::int64_t delta);
  void CountInjectedFault(std::int64_t total);

  std::atomic<std::int64_t> memoryLimit_{0};
  // Armed allocation failure (see FailAllocationForTesting); 0 = off.
  std::atomic<std::int64_t> failCountdown_{0};
  // Allocated bytes counted outside the per-thread slots (see AddAllocated).
  std::atomic<std::int64_t> sharedCount_{0};
  // Cache of the last reading of the system's available memory.
  std::atomic<std::int64_t> availableMemory_{0};
  TABSMemoryMethodRow methodTable_[MaxMethodRows] = {{2147483647, 0}};
  std::size_t methodRowCount_ = 1;
};

// The process-wide manager. Constant-initialised and never destroyed, so it is
// usable during the static initialisation and destruction of every other
// translation unit.
extern TABSMemoryManager EngineMemoryManager;

// Copies `count` bytes; correct for overlapping ranges. count <= 0 does nothing.
void MoveBytes(const void* source, void* destination, std::int64_t count);
