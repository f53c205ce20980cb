// A growable array of bits with a count of the set bits.
//
// Used for the used-page bits of the memory page manager and for the record
// bitmaps of views. Bit n is stored in 64-bit word n / 64 at bit n % 64; the
// words live in one block of engine memory (so they count against the
// memory limit and the leak guard) and are read and written with
// LoadLE/StoreLE because engine blocks are unaligned.
//
// Invariants: 0 <= BitCount() <= MaxBits; SetBitCount() equals the number of
// set bits among bits 0 .. BitCount()-1; every bit at or beyond BitCount() in
// the allocated words is clear (so growing never exposes old bits).
//
// Errors (all EABSException "Invalid bit no = %d, number of bits = %d"
// unless noted):
//   10394  GetBit with a bit number outside 0 .. BitCount()-1
//   10395  SetBit with a bit number outside 0 .. BitCount()-1
//   10428  ClearBit with a bit number outside 0 .. BitCount()-1
//   10429  Resize to a negative count or one above MaxBits
//   10399  "Nil pointer occured": AssignBytes or CopyToBytes with a nil
//          buffer and a positive byte count
// The memory manager's errors pass through Resize and LoadFromStream.
// Searches (FirstClearBit, NextSetBit, PriorSetBit, Rank, Select) never
// raise: they clamp their start and answer -1 when there is no such bit.
// Every operation that raises leaves the array unchanged.
//
// Ownership: the array owns its block. Move-only.
// Threads: a plain value; the owner's lock guards it (for the page manager
// and the record bitmaps: the database lock).
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/memory/ABSCoding.h"
#include "engine/memory/ABSMemBlock.h"

class TABSStream;

// The native codes the stream form reports for each item (write, read).
struct TABSBitsStreamCodes {
  std::int32_t BitCountWrite;
  std::int32_t SetCountWrite;
  std::int32_t BytesWrite;
  std::int32_t BitCountRead;
  std::int32_t SetCountRead;
  std::int32_t BytesRead;
};

class TABSBitsArray {
 public:
  static constexpr std::int32_t MaxBits = 2147483647;

  TABSBitsArray() noexcept = default;
  TABSBitsArray(const TABSBitsArray&) = delete;
  TABSBitsArray& operator=(const TABSBitsArray&) = delete;
  TABSBitsArray(TABSBitsArray&& other) noexcept;
  TABSBitsArray& operator=(TABSBitsArray&& other) noexcept;
  ~TABSBitsArray() = default;

  std::int32_t BitCount() const noexcept { return bitCount_; }
  std::int32_t SetBitCount() const noexcept { return setCount_; }

  // Sets the number of bits; new bits are clear, bits cut off are dropped
  // (and counted out of SetBitCount). Capacity grows geometrically, so
  // growing one bit at a time is amortised O(1). REQUIRES 0 <= n <= MaxBits
  // (else 10429).
  void Resize(std::int32_t n);
  // Bit count 0 and the block freed.
  void Clear() noexcept;

  // REQUIRES 0 <= n < BitCount() (else 10394 / 10395 / 10428).
  bool GetBit(std::int32_t n) const;
  void SetBit(std::int32_t n);
  void ClearBit(std::int32_t n);
  // SetBit or ClearBit by `value` (their codes).
  void AssignBit(std::int32_t n, bool value) {
    if (value) {
      SetBit(n);
    } else {
      ClearBit(n);
    }
  }
  // Every bit set / every bit clear; the bit count stays.
  void SetAllBits() noexcept;
  void ClearAllBits() noexcept;

  // The lowest clear bit, -1 when every bit is set (or there are none).
  std::int32_t FirstClearBit() const noexcept;
  // The lowest set bit at or after `from` (from < 0 counts as 0); -1 when none.
  // Fast path: when bit `from` itself is set it is answered inline; otherwise
  // the word-by-word search runs out of line.
  std::int32_t NextSetBit(std::int32_t from) const noexcept {
    if (static_cast<std::uint32_t>(from) < static_cast<std::uint32_t>(bitCount_) &&
        ((Word(from / 64) >> (from % 64)) & 1u) != 0) {
      return from;
    }
    return SearchNextSetBit(from);
  }
  // The highest set bit at or before `from` (from >= BitCount() counts as the
  // last bit); -1 when none.
  std::int32_t PriorSetBit(std::int32_t from) const noexcept;
  // The number of set bits below `n` (n clamped to 0 .. BitCount()).
  std::int32_t Rank(std::int32_t n) const noexcept;
  // The bit number of the k-th set bit (k = 0 is the lowest); -1 when k < 0
  // or k >= SetBitCount(). Select(Rank(b)) == b for every set bit b.
  std::int32_t Select(std::int32_t k) const noexcept;

  // Byte form: ceil(BitCount() / 8) bytes, bit n at bit n % 8 of byte n / 8.
  std::int32_t ByteCount() const noexcept {
    return static_cast<std::int32_t>((static_cast<std::int64_t>(bitCount_) + 7) / 8);
  }
  // Writes ByteCount() bytes to `bytes` (10399 for nil with a positive count).
  void CopyToBytes(void* bytes) const;
  // Replaces the contents with `bitCount` bits read from ByteCount() bytes;
  // bits in the last byte beyond `bitCount` are ignored. 10429 for a bad
  // count, 10399 for nil bytes with a positive count; unchanged on failure.
  void AssignBytes(const void* bytes, std::int32_t bitCount);

  // Stream form: bit count (4 bytes LE), set-bit count (4), then the byte
  // form. Short writes raise codes.BitCountWrite / SetCountWrite /
  // BytesWrite. LoadFromStream reads into a new array and replaces this one
  // only when everything was read and checked: a short read, a negative bit
  // count or a set-bit count that differs from the bits read raises the
  // item's read code and leaves this array unchanged. Bits beyond the count
  // in the last byte are ignored.
  void SaveToStream(TABSStream& stream, const TABSBitsStreamCodes& codes) const;
  void LoadFromStream(TABSStream& stream, const TABSBitsStreamCodes& codes);

  void Swap(TABSBitsArray& other) noexcept;
  bool operator==(const TABSBitsArray& other) const noexcept;

 private:
  static std::int32_t WordsFor(std::int64_t bits) noexcept {
    return static_cast<std::int32_t>((bits + 63) / 64);
  }
  std::uint64_t Word(std::int32_t i) const noexcept {
    return LoadLE<std::uint64_t>(words_.as<unsigned char>() + static_cast<std::size_t>(i) * 8);
  }
  // NextSetBit beyond its fast path: the word-by-word search.
  std::int32_t SearchNextSetBit(std::int32_t from) const noexcept;
  void SetWord(std::int32_t i, std::uint64_t w) noexcept;
  [[noreturn]] void RaiseBitNo(std::int32_t code, std::int32_t n) const;
  // Clears the bits at and beyond bitCount_ in the last used word.
  void MaskTail() noexcept;

  TABSMemBlock words_;
  std::int32_t wordCapacity_ = 0;  // words allocated in words_
  std::int32_t bitCount_ = 0;
  std::int32_t setCount_ = 0;
};
