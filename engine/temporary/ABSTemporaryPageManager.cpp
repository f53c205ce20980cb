#include "engine/temporary/ABSTemporaryPageManager.h"

#include <algorithm>
#include <limits>
#include <vector>

#include "engine/memory/ABSException.h"
#include "engine/memory/ABSMemory.h"
#include "engine/memory/ABSNativeCodes.h"
#include "engine/storage/ABSMemoryPageManager.h"
#include "engine/temporary/ABSTemporaryRecordManager.h"

// The store of the memory range, with its reservation opened to the owner.
class TABSTemporaryPageManager::MemoryPages final : public TABSMemoryPageManager {
 public:
  using TABSMemoryPageManager::ReserveStore;
};

namespace {

constexpr TABSPageGeometry kGeometry{TABSTemporaryPageManager::PageSize, 0,
                                     TABSTemporaryPageManager::PageSize};

std::int64_t PageOffset(std::int32_t pageNo) {
  return static_cast<std::int64_t>(pageNo) * TABSTemporaryPageManager::PageSize;
}

}  // namespace

std::int32_t TABSTemporaryPageManager::MemoryPageLimitFor(std::int64_t available) noexcept {
  if (available <= 0) return 0;
  return static_cast<std::int32_t>(std::min<std::int64_t>(
      (available / 10) / PageSize, std::numeric_limits<std::int32_t>::max()));
}

TABSTemporaryPageManager::TABSTemporaryPageManager(bool keepInMemory)
    : TABSPageManager(kGeometry),
      keepInMemory_(keepInMemory),
      memoryPages_(std::make_unique<MemoryPages>()) {
  const std::int64_t seam = TemporaryLimitsForTesting().PageLimit;
  memoryPageLimit_ = seam >= 0 ? static_cast<std::int32_t>(std::min<std::int64_t>(
                                     seam, std::numeric_limits<std::int32_t>::max()))
                               : MemoryPageLimitFor(EngineMemoryManager.GetAvailableMemory());
}

TABSTemporaryPageManager::~TABSTemporaryPageManager() {
  // Page objects may borrow buffers of the memory pages: they go first.
  DropAllPages();
}

bool TABSTemporaryPageManager::IsAllocated(std::int32_t pageNo) const {
  return pageNo >= 0 && pageNo < bits_.BitCount() && bits_.GetBit(pageNo);
}

void TABSTemporaryPageManager::EnsureBit(std::int32_t pageNo) {
  if (pageNo >= bits_.BitCount()) bits_.Resize(pageNo + 1);
}

void TABSTemporaryPageManager::EnsureFile() {
  if (!file_) file_ = std::make_unique<TABSTemporaryFileStream>();
}

void TABSTemporaryPageManager::EnsureFileSize(std::int32_t pageCount) {
  const std::int64_t needed = PageOffset(pageCount);
  if (file_->Size() < needed) file_->SetSize(3 * needed / 2);
}

void TABSTemporaryPageManager::AllocatePage(TABSPage& page) {
  if (nextPageNo_ == std::numeric_limits<std::int32_t>::max()) return;  // no number: 20064
  if (IsMemoryPage(nextPageNo_)) {
    // The memory pages take their lowest free number, at most nextPageNo_.
    EnsureBit(nextPageNo_);
    memoryPages_->AllocatePage(page);
    const std::int32_t pageNo = page.PageNo();
    if (pageNo >= nextPageNo_) nextPageNo_ = pageNo + 1;
    bits_.SetBit(pageNo);
    ++usedPageCount_;
    return;
  }
  const std::int32_t pageNo = nextPageNo_;
  EnsureFile();
  EnsureBit(pageNo);
  EnsureFileSize(pageNo + 1);
  if (page.GetPageBuffer() == nullptr) page.AllocPageBuffer();
  AssignPageNo(page, pageNo);
  nextPageNo_ = pageNo + 1;
  bits_.SetBit(pageNo);
  ++usedPageCount_;
}

void TABSTemporaryPageManager::ReserveStore(std::int32_t count) {
  if (count <= 0) return;
  const std::int64_t last = std::min<std::int64_t>(static_cast<std::int64_t>(nextPageNo_) + count,
                                                   std::numeric_limits<std::int32_t>::max()) -
                            1;
  EnsureBit(static_cast<std::int32_t>(last));
  if (IsMemoryPage(nextPageNo_)) memoryPages_->ReserveStore(count);
  if (!IsMemoryPage(static_cast<std::int32_t>(last))) {
    EnsureFile();
    EnsureFileSize(static_cast<std::int32_t>(last) + 1);
  }
}

void TABSTemporaryPageManager::CheckReleasePageNo(std::int32_t pageNo) const {
  if (pageNo < 0 || pageNo >= bits_.BitCount()) {
    throw EABSException(10428, "Invalid bit no = %d, number of bits = %d",
                        {pageNo, bits_.BitCount()});
  }
}

void TABSTemporaryPageManager::ReleasePageNo(std::int32_t pageNo) {
  CheckReleasePageNo(pageNo);
  if (!bits_.GetBit(pageNo)) return;  // a number released twice counts once
  if (IsMemoryPage(pageNo)) memoryPages_->ReleasePageNo(pageNo);
  bits_.ClearBit(pageNo);
  --usedPageCount_;
}

bool TABSTemporaryPageManager::ReadPage(TABSPage& page) {
  const std::int32_t pageNo = page.PageNo();
  if (!IsAllocated(pageNo)) throw EABSException(10396, "Page allocation not released");
  if (IsMemoryPage(pageNo)) return memoryPages_->ReadPage(page);
  if (!file_) throw EABSException(30482, "Invalid pointer");
  if (page.GetPageBuffer() == nullptr) page.AllocPageBuffer();
  if (file_->Seek(PageOffset(pageNo), TABSSeekOrigin::Beginning) != PageOffset(pageNo)) {
    return false;
  }
  return file_->Read(page.GetPageBuffer(), PageSize) == PageSize;
}

void TABSTemporaryPageManager::CheckWritePage(const TABSPage& page) const {
  if (!IsAllocated(page.PageNo())) throw EABSException(10397, "Page allocation not released");
}

void TABSTemporaryPageManager::WritePage(TABSPage& page) {
  CheckWritePage(page);
  const std::int32_t pageNo = page.PageNo();
  if (IsMemoryPage(pageNo)) {
    memoryPages_->WritePage(page);
    return;
  }
  if (page.GetPageBuffer() == nullptr || filePagesWritten_) return;
  TABSPage* const one = &page;
  WriteFilePages(&one, 1);
}

void TABSTemporaryPageManager::WriteFilePages(TABSPage* const* pages, std::size_t count) {
  EnsureFile();
  std::int32_t failedPage = -1;
  for (std::size_t i = 0; i < count && failedPage < 0; ++i) {
    const TABSPage& page = *pages[i];
    file_->Seek(PageOffset(page.PageNo()), TABSSeekOrigin::Beginning);
    if (file_->Write(page.GetPageBuffer(), PageSize) != PageSize) failedPage = page.PageNo();
  }
  if (failedPage < 0 && !file_->Flush()) failedPage = pages[count - 1]->PageNo();
  if (failedPage >= 0) {
    throw EABSException(native_code::kTempPageWrite,
                        "Cannot write to stream. Position = %d, Stream size = %d, Block size = "
                        "%d, Bytes Write = %d",
                        {PageOffset(failedPage), file_->Size(), PageSize, 0});
  }
}

void TABSTemporaryPageManager::CommitPendingPages(std::int32_t sessionId) {
  // The base commit cannot stop half way, so the writes that can fail come
  // first: every modified file page of the session goes to the file now.
  if (const TABSSortedPageList* list = SessionModifiedList(sessionId)) {
    std::vector<TABSPage*> pages;
    for (std::int32_t i = 0; i < list->Count(); ++i) {
      TABSPage* page = list->PageAt(i);
      if (!IsMemoryPage(page->PageNo()) && IsAllocated(page->PageNo()) &&
          page->GetPageBuffer() != nullptr) {
        pages.push_back(page);
      }
    }
    if (!pages.empty()) WriteFilePages(pages.data(), pages.size());
  }
  filePagesWritten_ = true;
  try {
    TABSPageManager::CommitPendingPages(sessionId);
  } catch (...) {
    filePagesWritten_ = false;
    throw;
  }
  filePagesWritten_ = false;
}
