// View of one B-tree index page and the root-to-leaf path of a position.
//
// Index page layout: the data area of a page of the page manager
// (TABSPage::GetPageData, GetPageDataSize bytes), little-endian:
//
//   OFFSET  SIZE  DESCRIPTION
//        0     1  IsRoot: 1 on the root page, else 0
//        1     1  IsLeaf: 1 on a leaf page, 0 on a node page
//        2     4  PrevPageNo: previous page on the same level, -1 if none
//        6     4  NextPageNo: next page on the same level, -1 if none
//       10     1  RootMark: 1 when the page was made an empty root; never read
//       11     1  HasExtraRef: nonzero when every entry carries 6 more bytes
//                 after its reference; record indexes write 0
//       12     2  KeySize: key bytes per entry (unsigned)
//       14     2  EntryCount: number of entries (unsigned)
//       16     2  ExtraHeaderSize: bytes between this header and the first
//                 entry; 0 for record indexes
//       18     *  entries, EntryCount x entry size, ascending by key and then
//                 by reference
//
// Entry size = KeySize + reference size (+ 6 with HasExtraRef). An entry is
// its key followed by its reference: on a leaf the 6-byte record position of
// the record (signed 32-bit record ID, 16-bit sub-position), on a node the
// signed 32-bit number of a child page. The key of the first entry of a node
// is never compared: that child holds the smallest keys. Every other node
// key equals the stored key of the first leaf entry below its child, so a
// search can decide on separators alone unless it ties with one.
//
// Fill rules: a page holds at most (data size - 18) / entry size entries; an
// insert that would pass that splits the page; a delete that leaves a page
// other than the root with entry bytes below half of (data size - 18) merges
// it into its previous or next page on the same level when both fit on one
// page. Every page but the root holds at least one entry; a root node holds
// at least two.
//
// Threads: a view is a pointer into a page held between GetPage and PutPage
// by the operation that made it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "engine/memory/ABSCoding.h"

// Page type of index pages in the page manager.
inline constexpr std::uint16_t kBTreePageType = 12;
inline constexpr std::int32_t kBTreeHeaderSize = 18;
inline constexpr std::int32_t kLeafRefSize = 6;
inline constexpr std::int32_t kNodeRefSize = 4;

class TABSBTreePageView {
 public:
  TABSBTreePageView(std::uint8_t* data, std::int32_t keySize, std::int32_t dataSize)
      : d_(data), keySize_(keySize), dataSize_(dataSize) {}

  bool IsRoot() const { return d_[0] != 0; }
  bool IsLeaf() const { return d_[1] != 0; }
  std::int32_t PrevPageNo() const { return LoadLE<std::int32_t>(d_, 2); }
  std::int32_t NextPageNo() const { return LoadLE<std::int32_t>(d_, 6); }
  std::uint16_t StoredKeySize() const { return LoadLE<std::uint16_t>(d_, 12); }
  std::int32_t Count() const { return LoadLE<std::uint16_t>(d_, 14); }

  void SetRoot(bool v) { d_[0] = v ? 1 : 0; }
  void SetLeaf(bool v) { d_[1] = v ? 1 : 0; }
  void SetPrev(std::int32_t n) { StoreLE<std::int32_t>(d_, 2, n); }
  void SetNext(std::int32_t n) { StoreLE<std::int32_t>(d_, 6, n); }
  void SetCount(std::int32_t n) { StoreLE<std::uint16_t>(d_, 14, static_cast<std::uint16_t>(n)); }

  // Header of a fresh page: every field cleared, no neighbours, this kind.
  void InitHeader(bool root, bool leaf, bool rootMark) {
    std::memset(d_, 0, kBTreeHeaderSize);
    SetPrev(-1);
    SetNext(-1);
    SetRoot(root);
    SetLeaf(leaf);
    d_[10] = rootMark ? 1 : 0;
    StoreLE<std::uint16_t>(d_, 12, static_cast<std::uint16_t>(keySize_));
  }

  std::int32_t EntrySize() const { return keySize_ + (IsLeaf() ? kLeafRefSize : kNodeRefSize); }
  std::int32_t Capacity() const { return (dataSize_ - kBTreeHeaderSize) / EntrySize(); }
  std::uint8_t* Entry(std::int32_t i) const {
    return d_ + kBTreeHeaderSize + static_cast<std::ptrdiff_t>(i) * EntrySize();
  }
  const std::byte* Key(std::int32_t i) const {
    return reinterpret_cast<const std::byte*>(Entry(i));
  }
  std::uint8_t* Ref(std::int32_t i) const { return Entry(i) + keySize_; }
  std::int32_t Child(std::int32_t i) const { return LoadLE<std::int32_t>(Ref(i)); }
  void SetChild(std::int32_t i, std::int32_t pageNo) { StoreLE<std::int32_t>(Ref(i), pageNo); }
  void SetKey(std::int32_t i, const void* key) { std::memcpy(Entry(i), key, keySize_); }
  std::uint8_t* Data() const { return d_; }
  std::int32_t KeySize() const { return keySize_; }
  std::int32_t DataSize() const { return dataSize_; }

  // Opens a gap at `i` and writes the entry there (key, then `ref` of the
  // page kind's reference size). REQUIRES Count() < Capacity().
  void InsertEntry(std::int32_t i, const void* key, const void* ref) {
    const std::int32_t e = EntrySize();
    const std::int32_t n = Count();
    std::memmove(Entry(i + 1), Entry(i), static_cast<std::size_t>(n - i) * e);
    std::memcpy(Entry(i), key, keySize_);
    std::memcpy(Ref(i), ref, static_cast<std::size_t>(e - keySize_));
    SetCount(n + 1);
  }
  void RemoveEntry(std::int32_t i) {
    const std::int32_t e = EntrySize();
    const std::int32_t n = Count();
    std::memmove(Entry(i), Entry(i + 1), static_cast<std::size_t>(n - i - 1) * e);
    SetCount(n - 1);
  }
  // Whether the entry bytes are below half of the entry area.
  bool IsUnderfull() const { return Count() * EntrySize() < (dataSize_ - kBTreeHeaderSize) / 2; }

 private:
  std::uint8_t* d_;
  std::int32_t keySize_;
  std::int32_t dataSize_;
};

// The root-to-leaf path of one position: per level, from the root down, the
// page visited, the entry taken and that page's entry count.
class TABSKeyPath {
 public:
  static constexpr std::int32_t kMaxLevels = 32;
  struct Level {
    std::int32_t PageNo = -1;
    std::int32_t EntryNo = 0;
    std::int32_t EntryCount = 0;
  };

  Level Levels[kMaxLevels];
  std::int32_t LevelCount = 0;
  std::int32_t CurrentLevel = 0;

  void Clear() {
    LevelCount = 0;
    CurrentLevel = 0;
  }
  // Copies the levels in use only.
  void CopyFrom(const TABSKeyPath& other) {
    for (std::int32_t i = 0; i < other.LevelCount; ++i) Levels[i] = other.Levels[i];
    LevelCount = other.LevelCount;
    CurrentLevel = other.CurrentLevel;
  }
  // Appends a level; a path deeper than kMaxLevels raises 20287.
  void Push(std::int32_t pageNo, std::int32_t entryNo, std::int32_t entryCount);
  Level& Leaf() { return Levels[LevelCount - 1]; }
  const Level& Leaf() const { return Levels[LevelCount - 1]; }
  // Where the position lies in the index, from 0 up to but not including 1:
  // from the leaf up, position += entry x scale, scale x= count; position /
  // scale. 0 for an empty path.
  double RelativePosition() const;
};
