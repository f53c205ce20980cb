// The pages one B-tree operation holds: each page is fetched from the page
// manager once, kept for the rest of the operation and given back when the
// holder goes out of scope, also when the operation fails. Internal to the
// B-tree files.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/index/ABSBTree.h"
#include "engine/index/ABSBTreePage.h"
#include "engine/storage/ABSPageManager.h"

class TABSBTreeRecordIndex::HeldPages {
 public:
  HeldPages(TABSPageManager& manager, std::int32_t sessionId)
      : manager_(manager), sessionId_(sessionId) {}
  ~HeldPages() { ReleaseAll(); }
  HeldPages(const HeldPages&) = delete;
  HeldPages& operator=(const HeldPages&) = delete;

  // The page `pageNo`, fetched on first use.
  TABSPage& Get(std::int32_t pageNo) {
    for (std::size_t i = 0; i < count_; ++i) {
      if (inline_[i]->PageNo() == pageNo) return *inline_[i];
    }
    for (TABSPage* p : more_) {
      if (p->PageNo() == pageNo) return *p;
    }
    MakeRoom();  // before the fetch: never lose a fetched page
    TABSPage* page = manager_.GetPage(sessionId_, pageNo, false, kBTreePageType);
    Keep(page);
    return *page;
  }
  // A new page (modified, held).
  TABSPage& AddNew() {
    MakeRoom();
    TABSPage* page = manager_.AddNewPage(sessionId_, kBTreePageType);
    Keep(page);
    return *page;
  }
  // Gives every page back.
  void ReleaseAll() noexcept {
    for (std::size_t i = 0; i < count_; ++i) manager_.PutPage(inline_[i]);
    for (TABSPage* p : more_) manager_.PutPage(p);
    count_ = 0;
    more_.clear();
  }

 private:
  static constexpr std::size_t kInline = 24;
  void MakeRoom() {
    if (count_ == kInline) more_.reserve(more_.size() + 1);
  }
  void Keep(TABSPage* page) noexcept {
    if (count_ < kInline) {
      inline_[count_++] = page;
    } else {
      more_.push_back(page);  // room was made before the fetch
    }
  }

  TABSPageManager& manager_;
  std::int32_t sessionId_;
  // Most operations hold a few pages: those need no allocation.
  TABSPage* inline_[kInline];
  std::size_t count_ = 0;
  std::vector<TABSPage*> more_;
};
