#include "engine/storage/ABSMemoryPageManager.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "engine/memory/ABSCoding.h"
#include "engine/memory/ABSException.h"
#include "engine/types/ABSStream.h"

namespace {

constexpr TABSBitsStreamCodes kBitsCodes{10398, 10427, 10400, 10401, 10426, 10402};

TABSPageGeometry MemoryGeometry(std::uint16_t pageSize) {
  assert(pageSize >= TABSMemoryPageManager::MinPageSize);
  TABSPageGeometry geometry;
  geometry.PageSize = pageSize;
  geometry.PageHeaderSize = 0;
  geometry.KeyAreaSize = pageSize;
  return geometry;
}

[[noreturn]] void RaiseBadItem(std::int32_t code, const TABSStream& stream, const char* item,
                               std::int64_t value) {
  throw EABSException(code, "Invalid %s in stream. Position = %d, Value = %d",
                      {item, stream.Position(), value});
}

template <typename T>
T ReadItem(TABSStream& stream, std::int32_t code) {
  unsigned char bytes[sizeof(T)];
  ReadStreamBlock(stream, bytes, sizeof(T), code);
  return LoadLE<T>(bytes);
}

template <typename T>
void WriteItem(TABSStream& stream, T value, std::int32_t code) {
  unsigned char bytes[sizeof(T)];
  StoreLE<T>(bytes, value);
  WriteStreamBlock(stream, bytes, sizeof(T), code);
}

}  // namespace

TABSMemoryPageManager::TABSMemoryPageManager(std::uint16_t pageSize)
    : TABSPageManager(MemoryGeometry(pageSize)) {}

TABSMemoryPageManager::~TABSMemoryPageManager() {
  // Pages borrow store buffers: they go first, then the store.
  DropAllPages();
}

const std::uint8_t* TABSMemoryPageManager::StoredPage(std::int32_t pageNo) const noexcept {
  if (pageNo < 0 || pageNo >= StoreLength()) return nullptr;
  return store_[static_cast<std::size_t>(pageNo)].as<std::uint8_t>();
}

std::int32_t TABSMemoryPageManager::NextCandidate() const noexcept {
  const std::int32_t clear = usedPages_.FirstClearBit();
  if (clear >= 0) return clear;
  return pageCapacity_ != 0 ? highestPageNo_ + 1 : 0;
}

void TABSMemoryPageManager::EnsureNumber(std::int32_t pageNo) {
  // New buffers and the larger bit array are made first; the store takes
  // them only when both exist, so a failure changes nothing.
  const std::int32_t length = StoreLength();
  std::vector<TABSMemBlock> extra;
  if (pageNo >= length) {
    const std::int32_t newLength = std::max(pageNo + 1, length + DefaultGrowthStep);
    extra.reserve(static_cast<std::size_t>(newLength - length));
    for (std::int32_t i = length; i < newLength; ++i) {
      extra.push_back(TABSMemBlock::Zeroed(GetPageSize()));
    }
    store_.reserve(static_cast<std::size_t>(newLength));
  }
  if (pageNo >= pageCapacity_) {
    const std::int64_t steps =
        (static_cast<std::int64_t>(pageNo) - pageCapacity_) / growthStep_ + 1;
    const std::int64_t capacity = pageCapacity_ + steps * growthStep_;
    usedPages_.Resize(
        static_cast<std::int32_t>(std::min<std::int64_t>(capacity, TABSBitsArray::MaxBits)));
    pageCapacity_ = usedPages_.BitCount();
  }
  for (auto& block : extra) store_.push_back(std::move(block));  // room reserved
}

void TABSMemoryPageManager::ReserveStore(std::int32_t count) {
  // The next `count` allocations take the lowest clear numbers, all below
  // the set-bit count + count.
  const std::int64_t last = static_cast<std::int64_t>(usedPages_.SetBitCount()) + count - 1;
  if (last >= 0)
    EnsureNumber(
        static_cast<std::int32_t>(std::min<std::int64_t>(last, TABSBitsArray::MaxBits - 1)));
}

void TABSMemoryPageManager::AllocatePage(TABSPage& page) {
  const std::int32_t candidate = NextCandidate();
  EnsureNumber(candidate);  // the only step that can fail
  if (usedPages_.GetBit(candidate)) throw EABSException(20037, "Page allocation not released");
  ++usedPageCount_;
  usedPages_.SetBit(candidate);
  highestPageNo_ = std::max(highestPageNo_, candidate);
  page.pageNo_ = candidate;
  page.BorrowBuffer(store_[static_cast<std::size_t>(candidate)].as<std::uint8_t>());
}

void TABSMemoryPageManager::CheckReleasePageNo(std::int32_t pageNo) const {
  if (pageNo < 0 || pageNo >= usedPages_.BitCount()) {
    throw EABSException(10428, "Invalid bit no = %d, number of bits = %d",
                        {pageNo, usedPages_.BitCount()});
  }
}

void TABSMemoryPageManager::ReleasePageNo(std::int32_t pageNo) {
  CheckReleasePageNo(pageNo);
  // A number released twice (freed twice) counts once.
  if (!usedPages_.GetBit(pageNo)) return;
  usedPages_.ClearBit(pageNo);
  --usedPageCount_;
}

bool TABSMemoryPageManager::ReadPage(TABSPage& page) {
  const std::int32_t pageNo = page.pageNo_;
  if (pageNo < 0 || pageNo >= usedPages_.BitCount() || pageNo >= StoreLength() ||
      !usedPages_.GetBit(pageNo)) {
    throw EABSException(10392, "Page allocation not released");
  }
  page.BorrowBuffer(store_[static_cast<std::size_t>(pageNo)].as<std::uint8_t>());
  return true;
}

void TABSMemoryPageManager::CheckWritePage(const TABSPage& page) const {
  const std::int32_t pageNo = page.PageNo();
  if (pageNo < 0 || pageNo >= usedPages_.BitCount() || pageNo >= StoreLength() ||
      !usedPages_.GetBit(pageNo)) {
    throw EABSException(10393, "Page allocation not released");
  }
}

void TABSMemoryPageManager::WritePage(TABSPage& page) {
  CheckWritePage(page);
  if (page.OwnsBuffer() && page.GetPageBuffer() != nullptr) {
    std::memcpy(store_[static_cast<std::size_t>(page.PageNo())].get(), page.GetPageBuffer(),
                GetPageSize());
  }
}

void TABSMemoryPageManager::SaveToStream(TABSStream& stream) {
  WriteItem<std::int32_t>(stream, pageCapacity_, 10362);
  WriteItem<std::int32_t>(stream, highestPageNo_, 10363);
  WriteItem<std::int32_t>(stream, growthStep_, 10364);
  WriteItem<std::uint16_t>(stream, GetPageSize(), 10365);
  WriteItem<std::uint16_t>(stream, GetPageHeaderSize(), 10366);
  WriteItem<std::int32_t>(stream, usedPageCount_, 10367);
  usedPages_.SaveToStream(stream, kBitsCodes);
  TABSMemBlock zeros;
  for (std::int32_t n = 0; n < pageCapacity_; ++n) {
    const void* image = StoredPage(n);
    if (image == nullptr) {
      if (!zeros) zeros = TABSMemBlock::Zeroed(GetPageSize());
      image = zeros.get();
    }
    WriteStreamBlock(stream, image, GetPageSize(), 10368);
  }
}

void TABSMemoryPageManager::LoadFromStream(TABSStream& stream) {
  // Pages in use or uncommitted point into the store this load replaces.
  if (HasPendingWork()) throw EABSException(20097, "Cannot free non-commited pages");
  if (PagesInUse() != 0) throw EABSException(20086, "Cannot write used page");

  const std::int32_t capacity = ReadItem<std::int32_t>(stream, 10369);
  if (capacity < 0) RaiseBadItem(10369, stream, "page capacity", capacity);
  const std::int32_t highest = ReadItem<std::int32_t>(stream, 10370);
  if (highest < -1 || highest >= capacity)
    RaiseBadItem(10370, stream, "highest page number", highest);
  const std::int32_t growth = ReadItem<std::int32_t>(stream, 10371);
  if (growth < 1) RaiseBadItem(10371, stream, "growth step", growth);
  const std::uint16_t pageSize = ReadItem<std::uint16_t>(stream, 10372);
  if (pageSize != GetPageSize()) RaiseBadItem(10372, stream, "page size", pageSize);
  const std::uint16_t headerSize = ReadItem<std::uint16_t>(stream, 10373);
  if (headerSize != GetPageHeaderSize())
    RaiseBadItem(10373, stream, "page header size", headerSize);
  const std::int32_t used = ReadItem<std::int32_t>(stream, 10374);
  if (used < 0 || used > capacity) RaiseBadItem(10374, stream, "used page count", used);

  TABSBitsArray bits;
  bits.LoadFromStream(stream, kBitsCodes);
  if (bits.BitCount() != capacity) RaiseBadItem(10401, stream, "bit count", bits.BitCount());
  if (bits.SetBitCount() != used) RaiseBadItem(10374, stream, "used page count", used);
  if (bits.PriorSetBit(capacity - 1) > highest) {
    RaiseBadItem(10370, stream, "highest page number", highest);
  }

  // The pages: their total size is checked against the stream before any
  // buffer is taken.
  const std::int64_t total = static_cast<std::int64_t>(capacity) * pageSize;
  const std::int64_t left = stream.Size() - stream.Position();
  if (total > left) {
    const std::int64_t whole = left / pageSize;
    RaiseStreamReadError(stream, stream.Position() + whole * pageSize, pageSize,
                         static_cast<std::int32_t>(left - whole * pageSize), 10375);
  }
  std::vector<TABSMemBlock> store;
  store.reserve(static_cast<std::size_t>(capacity));
  for (std::int32_t n = 0; n < capacity; ++n) {
    TABSMemBlock page = TABSMemBlock::Zeroed(pageSize);
    ReadStreamBlock(stream, page.get(), pageSize, 10375);
    store.push_back(std::move(page));
  }

  // Everything read and checked: drop the old pages and take the new store.
  DropAllPages();
  store_.swap(store);
  usedPages_.Swap(bits);
  pageCapacity_ = capacity;
  highestPageNo_ = highest;
  growthStep_ = growth;
  usedPageCount_ = used;
}
