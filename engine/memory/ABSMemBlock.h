// An owned block of the engine memory manager.
//
// TABSMemBlock holds at most one block obtained from EngineMemoryManager and
// frees it in its destructor, so a failure path needs no try/catch ladder to
// give memory back. It is move-only: moving hands the block over and leaves
// the source empty. Release() gives the address up without freeing it (the
// caller then owns the raw block); Adopt() takes over a raw block.
//
// Invariants: get() is either nil or the user area of a live block of
// EngineMemoryManager that no one else frees. The destructor and Reset() never
// raise: a guard error found while freeing (an overrun trailer) is swallowed,
// since the block is released all the same. Callers that must learn of an
// overrun call Free() instead, which raises the manager's error.
//
// Threads: a holder is a plain value; it is as thread-safe as the manager.
#pragma once

#include <cstdint>
#include <utility>

#include "engine/memory/ABSMemory.h"

class TABSMemBlock {
 public:
  TABSMemBlock() noexcept = default;
  // A new block of `size` bytes, contents undefined (GetMem and its errors).
  explicit TABSMemBlock(std::int64_t size) : address_(EngineMemoryManager.GetMem(size)) {}
  // A new block of `size` zero bytes (GetMemZeroed and its errors).
  static TABSMemBlock Zeroed(std::int64_t size) {
    return Adopt(EngineMemoryManager.GetMemZeroed(size));
  }
  // Takes ownership of a raw block of EngineMemoryManager (nil gives an empty holder).
  static TABSMemBlock Adopt(void* address) noexcept {
    TABSMemBlock block;
    block.address_ = address;
    return block;
  }

  TABSMemBlock(const TABSMemBlock&) = delete;
  TABSMemBlock& operator=(const TABSMemBlock&) = delete;
  TABSMemBlock(TABSMemBlock&& other) noexcept : address_(std::exchange(other.address_, nullptr)) {}
  TABSMemBlock& operator=(TABSMemBlock&& other) noexcept {
    if (this != &other) {
      Reset();
      address_ = std::exchange(other.address_, nullptr);
    }
    return *this;
  }
  ~TABSMemBlock() { Reset(); }

  void* get() const noexcept { return address_; }
  template <typename T>
  T* as() const noexcept {
    return static_cast<T*>(address_);
  }
  explicit operator bool() const noexcept { return address_ != nullptr; }

  // Gives the block up without freeing it; the holder is empty afterwards.
  [[nodiscard]] void* Release() noexcept { return std::exchange(address_, nullptr); }
  // Frees the block (if any); never raises.
  void Reset() noexcept {
    if (address_ != nullptr) {
      try {
        EngineMemoryManager.FreeAndNillMem(address_);
      } catch (...) {
        address_ = nullptr;  // the block is released even when its trailer was overrun
      }
    }
  }
  // Frees the block (if any), raising the manager's guard errors.
  void Free() { EngineMemoryManager.FreeAndNillMem(address_); }
  // Resizes the held block (ReallocMem and its errors); an empty holder gets a
  // new block. On failure the holder keeps its old block unchanged, except
  // when that block was found overrun (then it is empty, as ReallocMem says).
  void Resize(std::int64_t newSize, bool clearTail = false) {
    if (address_ == nullptr) {
      address_ = clearTail ? EngineMemoryManager.GetMemZeroed(newSize)
                           : EngineMemoryManager.GetMem(newSize);
    } else {
      EngineMemoryManager.ReallocMem(address_, newSize, clearTail);
    }
  }
  // The recorded size of the block; 0 when empty.
  std::int64_t Size() const { return EngineMemoryManager.GetMemSize(address_); }

  void Swap(TABSMemBlock& other) noexcept { std::swap(address_, other.address_); }

 private:
  void* address_ = nullptr;
};
