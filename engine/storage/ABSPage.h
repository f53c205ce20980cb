// Pages of a page manager and the sorted page list that holds them.
//
// A TABSPage is one fixed-size page image handed out by a page manager
// (engine/storage/ABSPageManager.h): the B-tree indexes keep their nodes in
// them. The image is `PageSize` bytes; its first `PageHeaderSize` bytes are a
// header (0 on the memory path), the rest is the data area:
//
//   offset 0            PageHeaderSize bytes   header (disk pages only)
//   offset HeaderSize   PageSize - HeaderSize  data area (GetPageData)
//
// A page either OWNS its buffer (taken from EngineMemoryManager, freed with
// the page) or BORROWS it from a page store (the memory page manager's
// buffer for that page number: a change through it changes the store at
// once). OwnsBuffer() starts true with no buffer. ResizePageBuffer makes the
// buffer larger than a page (a B-tree inserting one entry beyond the page
// before it splits); a borrowed buffer is then copied into an owned one, and
// the store sees the change only when the manager writes the page back.
//
// Ownership: a page object belongs to the page manager that created it; the
// manager destroys it. Users hold a page between GetPage/AddNewPage and the
// matching PutPage and must not keep the pointer afterwards. Every change a
// user makes must be followed by MarkModified() before PutPage, or it may be
// lost (owned buffers) or never committed.
//
// Threads: none of its own; the page manager's rules apply (the database
// lock of the owning table).
#pragma once

#include <cstdint>

#include "engine/memory/ABSMemBlock.h"

class TABSPageManager;
class TABSSortedPageList;
class TABSPage;

// Sizes a page reads from its manager; constant after the manager is built.
struct TABSPageGeometry {
  std::uint16_t PageSize = 4096;
  std::uint16_t PageHeaderSize = 0;
  std::uint16_t KeyAreaSize = 4096;
};

class TABSPage {
 public:
  // A page of `manager` with number -1, no buffer, owns buffer, unmodified,
  // use count 0, no owner list, session ID -1.
  explicit TABSPage(TABSPageManager& manager) noexcept;
  // Frees an owned buffer; never raises.
  ~TABSPage();
  TABSPage(const TABSPage&) = delete;
  TABSPage& operator=(const TABSPage&) = delete;

  TABSPageManager& PageManager() const noexcept { return *manager_; }
  std::int32_t PageNo() const noexcept { return pageNo_; }
  bool IsModified() const noexcept { return modified_; }
  // Records that the user changed the image; the manager keeps the page on
  // its session's modified list until CommitSessionPages writes it.
  void MarkModified() noexcept { modified_ = true; }
  std::int32_t UseCount() const noexcept { return useCount_; }
  bool IsInUse() const noexcept { return useCount_ > 0; }
  bool OwnsBuffer() const noexcept { return ownsBuffer_; }
  // The list that holds the page: one session's modified list (ModifiedList()
  // non-nil) or the manager's cache (IsInCache()); neither while the manager
  // is building or destroying it.
  const TABSSortedPageList* ModifiedList() const noexcept { return ownerList_; }
  bool IsInCache() const noexcept { return inCache_; }
  std::int32_t SessionId() const noexcept { return sessionId_; }

  std::uint8_t* GetPageBuffer() const noexcept { return buffer_; }
  std::int32_t GetPageSize() const noexcept { return geometry_->PageSize; }
  std::int32_t GetPageHeaderSize() const noexcept { return geometry_->PageHeaderSize; }
  std::uint8_t* GetPageData() const noexcept { return buffer_ + geometry_->PageHeaderSize; }
  std::int32_t GetPageDataSize() const noexcept {
    return geometry_->PageSize - geometry_->PageHeaderSize;
  }
  // Bytes the buffer holds: GetPageSize() until ResizePageBuffer enlarged it;
  // 0 without a buffer.
  std::int32_t GetBufferSize() const noexcept { return bufferSize_; }

  // Takes a zero-filled buffer of page size bytes (an owned buffer held
  // before is freed first). Memory manager errors pass through; the page is
  // unchanged on failure.
  void AllocPageBuffer();
  // Frees an owned buffer, drops a borrowed one; the page has no buffer
  // afterwards and OwnsBuffer() is true again.
  void FreePageBuffer() noexcept;
  // REQUIRES a buffer (else 20038 "Invalid page buffer. Buffer is Nil") and
  // newSize >= page size (else 20039 "Invalid page modification"). An owned
  // buffer is resized (bytes beyond the old size undefined); a borrowed one
  // is replaced by a new zero-filled owned buffer of newSize holding a copy
  // of the page. Memory manager errors pass through; unchanged on failure.
  void ResizePageBuffer(std::int32_t newSize);

  // Kept by the page's users outside the memory path; start false and true.
  bool UserFlag1 = false;
  bool UserFlag2 = true;

 private:
  friend class TABSPageManager;
  friend class TABSMemoryPageManager;

  // Points the page at a store buffer it does not own (an owned one is freed).
  void BorrowBuffer(std::uint8_t* buffer) noexcept;

  TABSPageManager* manager_;
  const TABSPageGeometry* geometry_;
  std::int32_t pageNo_ = -1;
  std::uint8_t* buffer_ = nullptr;  // owned_.get() when ownsBuffer_, else a store buffer
  TABSMemBlock owned_;
  std::int32_t bufferSize_ = 0;
  bool ownsBuffer_ = true;
  bool modified_ = false;
  std::int32_t useCount_ = 0;
  TABSSortedPageList* ownerList_ = nullptr;  // a session's modified list
  bool inCache_ = false;
  std::int32_t sessionId_ = -1;
  // Links of the manager's least-recently-used cache order (cache pages only).
  TABSPage* lruOlder_ = nullptr;
  TABSPage* lruNewer_ = nullptr;
};

// A set of pages ordered by ascending page number, with a use stamp per
// entry: two parallel arrays (keys; page and stamp) of equal length, taken
// from engine memory.
//
// Growth and shrink follow fixed steps: SetCount(n) with n above the
// capacity doubles the grow step (1000 at first, at most 10000) and makes the
// capacity capacity + grow step, or n when that is larger; SetCount(n) with n
// below the count and capacity - n above the shrink step doubles the shrink
// step (same limits) and cuts both arrays to exactly n; SetCount(0) frees
// both arrays.
//
// Invariants: keys strictly ascending (AddPage of a number already present
// is a programming error, asserted in debug builds); 0 <= Count() <=
// Capacity(); every add and touch stamps its entry with the next value of a
// use counter, so stamps are unique and increase with recency.
//
// Ownership: the list holds borrowed page pointers; the page manager owns
// the pages. Threads: guarded by the owning page manager's caller.
//
// Errors: DeletePage on an empty list 20165 "TSortedPageList.Delete - no
// elements in array!", of an absent number 20166 "TSortedPageList.Delete -
// element not found, key = %d, itemCount = %d"; TouchPage of an absent page
// 20167 "Page not found". Growth (AddPage, SetCount, ReserveForAdd) passes
// the memory manager's errors on; a shrink that cannot get its smaller
// arrays keeps the larger ones, so DeletePage raises only its own codes. A
// list is unchanged when an operation raises.
class TABSSortedPageList {
 public:
  TABSSortedPageList() noexcept = default;
  ~TABSSortedPageList() = default;
  TABSSortedPageList(const TABSSortedPageList&) = delete;
  TABSSortedPageList& operator=(const TABSSortedPageList&) = delete;

  std::int32_t Count() const noexcept { return count_; }
  std::int32_t Capacity() const noexcept { return capacity_; }
  std::int32_t GrowStep() const noexcept { return growStep_; }
  std::int32_t ShrinkStep() const noexcept { return shrinkStep_; }
  std::int64_t UseCounter() const noexcept { return useCounter_; }

  // See the class comment. REQUIRES n >= 0. New entries are undefined until
  // written (only AddPage grows the count in normal use).
  void SetCount(std::int32_t n);
  // Count 0, storage kept.
  void Clear() noexcept { count_ = 0; }
  // Makes sure the next `extra` AddPage calls need no allocation, growing
  // the capacity the way SetCount would. Raises only the memory manager's
  // errors, and then nothing changed.
  void ReserveForAdd(std::int32_t extra) {
    if (static_cast<std::int64_t>(count_) + extra > capacity_) GrowForAdd(extra);
  }

  // The index of `pageNo` (lower-bound binary search), -1 when absent.
  std::int32_t IndexOfPage(std::int32_t pageNo) const noexcept;
  TABSPage* FindPage(std::int32_t pageNo) const noexcept;
  // Entry `index` (0 <= index < Count()).
  TABSPage* PageAt(std::int32_t index) const noexcept;
  std::int32_t KeyAt(std::int32_t index) const noexcept;
  std::int64_t StampAt(std::int32_t index) const noexcept;

  // Inserts `page` by its number with a new stamp.
  void AddPage(TABSPage* page);
  // Removes the entry with `pageNo` (20165, 20166). A one-entry list also
  // compares the key: a different number raises 20166 instead of removing
  // the wrong page.
  void DeletePage(std::int32_t pageNo);
  // Gives the entry of `page` a new stamp (20167 when absent).
  void TouchPage(const TABSPage* page);
  // The entry with the smallest stamp (first in page order on ties), which
  // becomes the last stamp; nil for an empty list.
  TABSPage* GetOldestPage() noexcept;
  // The first entry in page order whose stamp is below the last stamp, which
  // becomes the last stamp; nil when there is none.
  TABSPage* GetNextOlderPage() noexcept;

 private:
  struct Item {
    TABSPage* Page;
    std::int64_t Stamp;
  };
  Item ItemAt(std::int32_t index) const noexcept;
  void SetItem(std::int32_t index, const Item& item) noexcept;
  void SetKey(std::int32_t index, std::int32_t key) noexcept;
  std::int32_t LowerBound(std::int32_t pageNo) const noexcept;
  // The capacity SetCount(n) would choose for n > capacity (grow step
  // updated in `growStep`).
  std::int32_t GrownCapacity(std::int32_t n, std::int32_t& growStep) const noexcept;
  void Reallocate(std::int32_t newCapacity);
  void GrowForAdd(std::int32_t extra);

  static constexpr std::int32_t MaxStep = 10000;
  TABSMemBlock keys_;   // capacity_ x int32, ascending
  TABSMemBlock items_;  // capacity_ x Item
  std::int32_t count_ = 0;
  std::int32_t growStep_ = 1000;
  std::int32_t shrinkStep_ = 1000;
  std::int32_t capacity_ = 0;
  std::int64_t useCounter_ = 0;
  std::int32_t lastStamp_ = 0;  // low 32 bits; compared sign-extended
};
