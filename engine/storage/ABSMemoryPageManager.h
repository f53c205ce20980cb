// The memory page manager: the page store of an in-memory table.
//
// Pages live in a growable store of zero-filled buffers, one per page
// number, taken from EngineMemoryManager; bit n of the used-page bits is set
// while page n is allocated. Pages handed out borrow the store's buffer, so
// a change through a page changes the store at once; only a page whose
// buffer was enlarged (TABSPage::ResizePageBuffer) owns a copy, written back
// by WritePage at commit. Freed numbers keep their contents and are reused
// lowest first: users must initialise every byte of a new page they rely on.
//
// Store growth: the bits grow by 50 page numbers at a time (the page
// capacity), the store to max(number + 1, length + 50) buffers. A failed
// growth changes nothing.
//
// Stream form (little-endian, no padding), with the native codes of a short
// write / short read:
//   4 bytes  page capacity            10362 / 10369
//   4 bytes  highest page number      10363 / 10370  (-1: none yet)
//   4 bytes  growth step              10364 / 10371
//   2 bytes  page size                10365 / 10372
//   2 bytes  page header size         10366 / 10373
//   4 bytes  used page count          10367 / 10374
//   4 bytes  bit count                10398 / 10401
//   4 bytes  set-bit count            10427 / 10426
//   ceil(bit count / 8) bytes bits    10400 / 10402  (bit n: bit n%8 of byte n/8)
//   capacity x page size bytes pages  10368 / 10375  (in page-number order)
// LoadFromStream reads everything into new objects and checks it before it
// replaces the store: an item that is short or inconsistent (a negative or
// oversized capacity, a bit count other than the capacity, a set-bit count
// or used count other than the bits set, a highest number outside the
// capacity, a page or header size other than this manager's, a growth step
// below 1) raises that item's read code and leaves the manager unchanged.
// It refuses (20097 "Cannot free non-commited pages") while a session has
// uncommitted pages and (20086 "Cannot write used page") while a page is in
// use; cached pages are dropped when the new store is taken.
//
// Errors of the store operations:
//   AllocatePage  20037 "Page allocation not released" (the chosen number is
//                 already set: never on a consistent store); memory errors.
//   ReleasePageNo 10428 (bit array) for a number outside the capacity; a
//                 number already free changes nothing.
//   ReadPage      10392 "Page allocation not released": number not allocated.
//   WritePage     10393 "Page allocation not released": number not allocated.
//
// Threads: as the page manager (the owning table's database lock).
#pragma once

#include <cstdint>
#include <vector>

#include "engine/memory/ABSMemBlock.h"
#include "engine/storage/ABSBitsArray.h"
#include "engine/storage/ABSPageManager.h"

class TABSMemoryPageManager : public TABSPageManager {
 public:
  static constexpr std::uint16_t DefaultPageSize = 4096;
  static constexpr std::int32_t DefaultGrowthStep = 50;
  // The smallest page size the test seam accepts.
  static constexpr std::uint16_t MinPageSize = 64;

  // Page size 4096, header 0, key area 4096, no pages. `pageSize` is a test
  // seam for small pages (deep trees); the key area is then the page size.
  // REQUIRES MinPageSize <= pageSize.
  explicit TABSMemoryPageManager(std::uint16_t pageSize = DefaultPageSize);
  // Destroys the pages, then frees the store; never raises.
  ~TABSMemoryPageManager() override;

  void LoadFromStream(TABSStream& stream) override;
  void SaveToStream(TABSStream& stream) override;
  void AllocatePage(TABSPage& page) override;
  void ReleasePageNo(std::int32_t pageNo) override;
  bool ReadPage(TABSPage& page) override;
  void WritePage(TABSPage& page) override;

  // --- Inspection ---------------------------------------------------------
  const TABSBitsArray& UsedPages() const noexcept { return usedPages_; }
  std::int32_t PageCapacity() const noexcept { return pageCapacity_; }
  std::int32_t GrowthStep() const noexcept { return growthStep_; }
  std::int32_t HighestPageNo() const noexcept { return highestPageNo_; }
  std::int32_t StoreLength() const noexcept { return static_cast<std::int32_t>(store_.size()); }
  // The stored image of `pageNo`, nil outside the store. Read-only access
  // for tests and checkers; allocated or not.
  const std::uint8_t* StoredPage(std::int32_t pageNo) const noexcept;

 protected:
  void ReserveStore(std::int32_t count) override;
  void CheckReleasePageNo(std::int32_t pageNo) const override;
  void CheckWritePage(const TABSPage& page) const override;

 private:
  // Grows bits and store so that page number `pageNo` has a bit and a
  // buffer; nothing changes on failure.
  void EnsureNumber(std::int32_t pageNo);
  // The number the next AllocatePage takes.
  std::int32_t NextCandidate() const noexcept;

  TABSBitsArray usedPages_;
  std::int32_t pageCapacity_ = 0;
  std::int32_t growthStep_ = DefaultGrowthStep;
  std::int32_t highestPageNo_ = -1;
  std::vector<TABSMemBlock> store_;
};
