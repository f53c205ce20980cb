// The pages one B-tree operation holds: each page is fetched from the page
// manager once, kept for the rest of the operation and given back when the
// holder goes out of scope, also when the operation fails. Internal to the
// B-tree files.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/storage/ABSPageManager.h"
#include "engine/types/ABSBTree.h"
#include "engine/types/ABSBTreePage.h"

class TABSBTreeRecordIndex::HeldPages {
 public:
  HeldPages(TABSPageManager& manager, std::int32_t sessionId)
      : manager_(manager), sessionId_(sessionId) {
    pages_.reserve(16);
  }
  ~HeldPages() { ReleaseAll(); }
  HeldPages(const HeldPages&) = delete;
  HeldPages& operator=(const HeldPages&) = delete;

  // The page `pageNo`, fetched on first use.
  TABSPage& Get(std::int32_t pageNo) {
    for (TABSPage* p : pages_) {
      if (p->PageNo() == pageNo) return *p;
    }
    pages_.reserve(pages_.size() + 1);  // before the fetch: never lose a fetched page
    TABSPage* page = manager_.GetPage(sessionId_, pageNo, false, kBTreePageType);
    pages_.push_back(page);
    return *page;
  }
  // A new page (modified, held).
  TABSPage& AddNew() {
    pages_.reserve(pages_.size() + 1);
    TABSPage* page = manager_.AddNewPage(sessionId_, kBTreePageType);
    pages_.push_back(page);
    return *page;
  }
  // Gives every page back.
  void ReleaseAll() noexcept {
    for (TABSPage* p : pages_) manager_.PutPage(p);
    pages_.clear();
  }
  std::int32_t SessionId() const { return sessionId_; }
  TABSPageManager& Manager() const { return manager_; }

 private:
  TABSPageManager& manager_;
  std::int32_t sessionId_;
  std::vector<TABSPage*> pages_;
};
