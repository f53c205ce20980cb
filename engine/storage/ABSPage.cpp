#include "engine/storage/ABSPage.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "engine/memory/ABSCoding.h"
#include "engine/memory/ABSException.h"
#include "engine/storage/ABSPageManager.h"

// ---------------------------------------------------------------------------
// TABSPage

TABSPage::TABSPage(TABSPageManager& manager) noexcept
    : manager_(&manager), geometry_(&manager.Geometry()) {}

TABSPage::~TABSPage() = default;  // owned_ frees an owned buffer and never raises

void TABSPage::AllocPageBuffer() {
  // The disk page header (header size above 0) belongs to the disk engine;
  // a memory page has none, so the buffer is all zeros.
  TABSMemBlock fresh = TABSMemBlock::Zeroed(geometry_->PageSize);
  owned_ = std::move(fresh);
  buffer_ = owned_.as<std::uint8_t>();
  bufferSize_ = geometry_->PageSize;
  ownsBuffer_ = true;
}

void TABSPage::FreePageBuffer() noexcept {
  owned_.Reset();
  buffer_ = nullptr;
  bufferSize_ = 0;
  ownsBuffer_ = true;
}

void TABSPage::BorrowBuffer(std::uint8_t* buffer) noexcept {
  owned_.Reset();
  buffer_ = buffer;
  bufferSize_ = buffer != nullptr ? geometry_->PageSize : 0;
  ownsBuffer_ = false;
}

void TABSPage::ResizePageBuffer(std::int32_t newSize) {
  if (buffer_ == nullptr) throw EABSException(20038, "Invalid page buffer. Buffer is Nil");
  if (newSize < geometry_->PageSize) throw EABSException(20039, "Invalid page modification");
  if (ownsBuffer_) {
    owned_.Resize(newSize, /*clearTail=*/false);
    buffer_ = owned_.as<std::uint8_t>();
  } else {
    // A store buffer cannot grow: the page takes a private enlarged copy,
    // which reaches the store when the manager writes the page.
    TABSMemBlock copy = TABSMemBlock::Zeroed(newSize);
    std::memcpy(copy.get(), buffer_, geometry_->PageSize);
    owned_ = std::move(copy);
    buffer_ = owned_.as<std::uint8_t>();
    ownsBuffer_ = true;
  }
  bufferSize_ = newSize;
}

// ---------------------------------------------------------------------------
// TABSSortedPageList

namespace {
constexpr std::size_t kKeySize = sizeof(std::int32_t);
}  // namespace

TABSSortedPageList::Item TABSSortedPageList::ItemAt(std::int32_t index) const noexcept {
  Item item;
  std::memcpy(&item, items_.as<unsigned char>() + static_cast<std::size_t>(index) * sizeof(Item),
              sizeof(Item));
  return item;
}

void TABSSortedPageList::SetItem(std::int32_t index, const Item& item) noexcept {
  std::memcpy(items_.as<unsigned char>() + static_cast<std::size_t>(index) * sizeof(Item), &item,
              sizeof(Item));
}

std::int32_t TABSSortedPageList::KeyAt(std::int32_t index) const noexcept {
  return LoadLE<std::int32_t>(keys_.as<unsigned char>() +
                              static_cast<std::size_t>(index) * kKeySize);
}

void TABSSortedPageList::SetKey(std::int32_t index, std::int32_t key) noexcept {
  StoreLE<std::int32_t>(keys_.as<unsigned char>() + static_cast<std::size_t>(index) * kKeySize,
                        key);
}

TABSPage* TABSSortedPageList::PageAt(std::int32_t index) const noexcept {
  return ItemAt(index).Page;
}

std::int64_t TABSSortedPageList::StampAt(std::int32_t index) const noexcept {
  return ItemAt(index).Stamp;
}

std::int32_t TABSSortedPageList::GrownCapacity(std::int32_t n,
                                               std::int32_t& growStep) const noexcept {
  growStep = std::min(growStep * 2, MaxStep);
  const std::int64_t grown = static_cast<std::int64_t>(capacity_) + growStep;
  return grown > n ? static_cast<std::int32_t>(grown) : n;
}

void TABSSortedPageList::Reallocate(std::int32_t newCapacity) {
  // Both new arrays are taken before either old one is given up, so a
  // failure leaves the list as it was.
  TABSMemBlock keys(static_cast<std::int64_t>(newCapacity) * kKeySize);
  TABSMemBlock items(static_cast<std::int64_t>(newCapacity) * sizeof(Item));
  const std::int32_t keep = std::min(count_, newCapacity);
  if (keep > 0) {
    std::memcpy(keys.get(), keys_.get(), static_cast<std::size_t>(keep) * kKeySize);
    std::memcpy(items.get(), items_.get(), static_cast<std::size_t>(keep) * sizeof(Item));
  }
  keys_ = std::move(keys);
  items_ = std::move(items);
  capacity_ = newCapacity;
}

void TABSSortedPageList::SetCount(std::int32_t n) {
  assert(n >= 0);
  if (n == 0) {
    keys_.Reset();
    items_.Reset();
    count_ = 0;
    capacity_ = 0;
    return;
  }
  if (n > capacity_) {
    std::int32_t step = growStep_;
    const std::int32_t capacity = GrownCapacity(n, step);
    Reallocate(capacity);
    growStep_ = step;
  } else if (n < count_ && capacity_ - n > shrinkStep_) {
    // Shrinking only gives memory back: when the smaller arrays cannot be
    // had, the list keeps the larger ones.
    try {
      Reallocate(n);
      shrinkStep_ = std::min(shrinkStep_ * 2, MaxStep);
    } catch (const EABSException&) {
    }
  }
  count_ = n;
}

void TABSSortedPageList::GrowForAdd(std::int32_t extra) {
  const std::int64_t need = static_cast<std::int64_t>(count_) + extra;
  std::int32_t step = growStep_;
  const std::int32_t capacity = GrownCapacity(static_cast<std::int32_t>(need), step);
  Reallocate(capacity);
  growStep_ = step;
}

std::int32_t TABSSortedPageList::LowerBound(std::int32_t pageNo) const noexcept {
  std::int32_t lo = 0;
  std::int32_t hi = count_;
  while (lo < hi) {
    const std::int32_t mid = lo + (hi - lo) / 2;
    if (KeyAt(mid) < pageNo) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return lo;
}

std::int32_t TABSSortedPageList::IndexOfPage(std::int32_t pageNo) const noexcept {
  const std::int32_t index = LowerBound(pageNo);
  return index < count_ && KeyAt(index) == pageNo ? index : -1;
}

TABSPage* TABSSortedPageList::FindPage(std::int32_t pageNo) const noexcept {
  const std::int32_t index = IndexOfPage(pageNo);
  return index < 0 ? nullptr : PageAt(index);
}

void TABSSortedPageList::AddPage(TABSPage* page) {
  const std::int32_t pageNo = page->PageNo();
  std::int32_t index;
  if (count_ == 0) {
    index = 0;
  } else if (count_ == 1) {
    index = pageNo >= KeyAt(0) ? 1 : 0;
  } else {
    index = LowerBound(pageNo);
  }
  assert(IndexOfPage(pageNo) < 0 && "a page number is on a list at most once");
  SetCount(count_ + 1);  // the only step that can fail
  const std::int32_t moved = count_ - 1 - index;
  if (moved > 0) {
    auto* keys = keys_.as<unsigned char>();
    auto* items = items_.as<unsigned char>();
    std::memmove(keys + (index + 1) * kKeySize, keys + index * kKeySize, moved * kKeySize);
    std::memmove(items + (index + 1) * sizeof(Item), items + index * sizeof(Item),
                 moved * sizeof(Item));
  }
  ++useCounter_;
  SetKey(index, pageNo);
  SetItem(index, Item{page, useCounter_});
}

void TABSSortedPageList::DeletePage(std::int32_t pageNo) {
  if (count_ <= 0) throw EABSException(20165, "TSortedPageList.Delete - no elements in array!");
  // A one-entry list compares its key too: removing its only page for any
  // number asked would drop a page its owner still counts on.
  const std::int32_t index = IndexOfPage(pageNo);
  if (index < 0) {
    throw EABSException(20166,
                        "TSortedPageList.Delete - element not found, key = %d, itemCount = %d",
                        {pageNo, count_});
  }
  const std::int32_t moved = count_ - 1 - index;
  if (moved > 0) {
    auto* keys = keys_.as<unsigned char>();
    auto* items = items_.as<unsigned char>();
    std::memmove(keys + index * kKeySize, keys + (index + 1) * kKeySize, moved * kKeySize);
    std::memmove(items + index * sizeof(Item), items + (index + 1) * sizeof(Item),
                 moved * sizeof(Item));
  }
  SetCount(count_ - 1);  // cannot raise when shrinking
}

void TABSSortedPageList::TouchPage(const TABSPage* page) {
  const std::int32_t index = IndexOfPage(page->PageNo());
  if (index < 0) throw EABSException(20167, "Page not found");
  ++useCounter_;
  SetItem(index, Item{ItemAt(index).Page, useCounter_});
}

TABSPage* TABSSortedPageList::GetOldestPage() noexcept {
  if (count_ == 0) return nullptr;
  std::int32_t best = 0;
  std::int64_t bestStamp = StampAt(0);
  for (std::int32_t i = 1; i < count_; ++i) {
    const std::int64_t stamp = StampAt(i);
    if (stamp < bestStamp) {
      best = i;
      bestStamp = stamp;
    }
  }
  lastStamp_ = static_cast<std::int32_t>(bestStamp);
  return PageAt(best);
}

TABSPage* TABSSortedPageList::GetNextOlderPage() noexcept {
  const std::int64_t last = lastStamp_;  // sign-extended
  for (std::int32_t i = 0; i < count_; ++i) {
    const std::int64_t stamp = StampAt(i);
    if (stamp < last) {
      lastStamp_ = static_cast<std::int32_t>(stamp);
      return PageAt(i);
    }
  }
  return nullptr;
}
