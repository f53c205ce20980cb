// The page manager of temporary tables: index pages in memory up to a limit
// and in a private page file beyond it.
//
// Page numbers are handed out in two ranges. While the next page number is
// below the memory page limit (or always, with the keep-in-memory flag) the
// owned TABSMemoryPageManager allocates the page and keeps its image; its
// freed numbers are reused lowest first. From the limit on, pages are file
// pages: numbered next, next + 1, ... (never reused), each held in an owned
// buffer and stored at byte offset number * 4096 of the page file, which
// grows to one and a half times what it needs at a time. The memory page
// limit is (available memory / 10) / 4096, read once at construction and
// bounded by the signed 32-bit range.
//
// Errors, besides the base's (ABSPageManager.h):
//   AllocatePage   10104 (no page file); 20292 (the file cannot grow);
//                  memory errors. Nothing changes on failure.
//   ReleasePageNo  10428 for a number never handed out.
//   ReadPage       10396 "Page allocation not released" (not allocated);
//                  30482 "Invalid pointer" (a file page, no file yet); a
//                  short read answers false (GetPage then raises 20299).
//   WritePage      10397 "Page allocation not released"; 10104; 20290
//                  "Cannot write to stream. ..." for a short write.
//   CommitSessionPages  writes the session's file pages (and makes the file
//                  take them) before the base commit changes anything: a
//                  page file that refuses them raises 20290 and the
//                  session's pages stay pending, as a failed check leaves
//                  them.
//
// Ownership: owns the memory pages, the allocation bits and the page file.
// Threads: as every page manager (the owning table's database lock).
#pragma once

#include <cstdint>
#include <memory>

#include "engine/storage/ABSBitsArray.h"
#include "engine/storage/ABSPageManager.h"
#include "engine/temporary/ABSTemporaryFile.h"

class TABSMemoryPageManager;

class TABSTemporaryPageManager final : public TABSPageManager {
 public:
  static constexpr std::uint16_t PageSize = 4096;

  explicit TABSTemporaryPageManager(bool keepInMemory);
  // Destroys the pages, frees the memory pages and closes the file; never
  // raises.
  ~TABSTemporaryPageManager() override;

  void AllocatePage(TABSPage& page) override;
  void ReleasePageNo(std::int32_t pageNo) override;
  bool ReadPage(TABSPage& page) override;
  void WritePage(TABSPage& page) override;

  // --- Inspection and test seams -----------------------------------------
  bool KeepInMemory() const noexcept { return keepInMemory_; }
  bool IsMemoryPage(std::int32_t pageNo) const noexcept {
    return keepInMemory_ || pageNo < memoryPageLimit_;
  }
  std::int32_t MemoryPageLimit() const noexcept { return memoryPageLimit_; }
  std::int32_t NextPageNo() const noexcept { return nextPageNo_; }
  std::int32_t AllocatedPageCount() const noexcept { return usedPageCount_; }
  const TABSBitsArray& AllocationBits() const noexcept { return bits_; }
  const TABSTemporaryFileStream* PageFile() const noexcept { return file_.get(); }
  // The memory page limit for `available` bytes.
  static std::int32_t MemoryPageLimitFor(std::int64_t available) noexcept;

 protected:
  void ReserveStore(std::int32_t count) override;
  void CheckReleasePageNo(std::int32_t pageNo) const override;
  void CheckWritePage(const TABSPage& page) const override;
  void CommitPendingPages(std::int32_t sessionId) override;

 private:
  class MemoryPages;
  bool IsAllocated(std::int32_t pageNo) const;
  // Makes the bits hold page number `pageNo`; nothing changes on failure.
  void EnsureBit(std::int32_t pageNo);
  void EnsureFile();
  // Grows the page file so that pages below `pageCount` fit in it.
  void EnsureFileSize(std::int32_t pageCount);
  // Writes the images of `pages` (file pages) and flushes the file; raises
  // 20290 when the file did not take all of them.
  void WriteFilePages(TABSPage* const* pages, std::size_t count);

  const bool keepInMemory_;
  std::int32_t memoryPageLimit_ = 0;
  std::int32_t nextPageNo_ = 0;
  TABSBitsArray bits_;
  std::unique_ptr<MemoryPages> memoryPages_;
  std::unique_ptr<TABSTemporaryFileStream> file_;
  // True while the base commit runs after the file pages were written.
  bool filePagesWritten_ = false;
};
