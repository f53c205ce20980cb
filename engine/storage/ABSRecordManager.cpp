#include "engine/storage/ABSRecordManager.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

#include "engine/memory/ABSException.h"
#include "engine/memory/ABSMemory.h"

namespace {

constexpr std::int64_t kMaxBlockBytes = std::numeric_limits<std::int32_t>::max();

std::int64_t BitBytes(std::int64_t slots) {
  return (slots + 7) / 8;
}

}  // namespace

TABSMemoryRecordManager::TABSMemoryRecordManager(std::int32_t recordSize, std::int32_t growthStep)
    : TABSBaseRecordManager(recordSize), growthStep_(std::max(growthStep, 1)) {
  if (recordSize <= 0) throw EABSException(10011, "Invalid record size = %d", {recordSize});
  for (int b = 0; b < 256; ++b) {
    liveCount_[b] = static_cast<std::uint8_t>(8 - std::popcount(static_cast<unsigned>(b)));
  }
}

// The holders free both buffers; a guard failure found then is swallowed.
TABSMemoryRecordManager::~TABSMemoryRecordManager() = default;

void TABSMemoryRecordManager::FreeBuffers() {
  capacity_ = 0;
  recordCount_ = 0;
  firstId_ = 0;
  lastId_ = 0;
  // The bit array is freed on the way out even when freeing the record
  // buffer reports a damaged block.
  TABSMemBlock bits = std::move(deletedBits_);
  recordBuffer_.Free();
  bits.Free();
}

void TABSMemoryRecordManager::ClearAllRecords(std::int32_t /*sessionId*/) {
  FreeBuffers();
}

// Adds one growth step of slots. The record buffer is one block whose size
// must fit a signed 32-bit byte count. Returns false (nothing changed) when
// the new size does not fit; memory errors propagate and change nothing
// either: when the record buffer cannot grow, the bit array that grew first
// is shrunk back.
bool TABSMemoryRecordManager::Grow() {
  const std::int64_t newCapacity = static_cast<std::int64_t>(capacity_) + growthStep_;
  const std::int64_t recordBytes = newCapacity * recordSize_;
  if (newCapacity > std::numeric_limits<std::int32_t>::max() || recordBytes > kMaxBlockBytes) {
    return false;
  }
  if (!recordBuffer_) {
    TABSMemBlock records(recordBytes);
    deletedBits_ = TABSMemBlock(BitBytes(newCapacity));
    recordBuffer_ = std::move(records);
  } else {
    // Both grow in place where the runtime can: a table grows by a fixed
    // step, so copying the bit array aside at every step would cost time in
    // proportion to the table's size.
    deletedBits_.Resize(BitBytes(newCapacity));
    try {
      recordBuffer_.Resize(recordBytes);
    } catch (...) {
      ShrinkBitsBack();
      throw;
    }
  }
  capacity_ = static_cast<std::int32_t>(newCapacity);
  return true;
}

// Gives the bit array its size for capacity_ again after a failed growth.
// Shrinking a block in place does not fail in practice; if it ever does, the
// larger array is kept, which is harmless.
void TABSMemoryRecordManager::ShrinkBitsBack() noexcept {
  try {
    deletedBits_.Resize(BitBytes(capacity_));
  } catch (...) {
  }
}

bool TABSMemoryRecordManager::StoreNewRecord(std::int32_t /*sessionId*/, const void* image,
                                             RecordPosition& position) {
  if (image == nullptr) return false;
  try {
    const std::int64_t id = recordCount_ == 0 ? 0 : static_cast<std::int64_t>(lastId_) + 1;
    // IDs grow by one, so one growth step always makes room.
    if (id >= capacity_ && !Grow()) return false;
    const auto slot = static_cast<std::int32_t>(id);
    CopyImage(records() + static_cast<std::size_t>(slot) * recordSize_, image, recordSize_);
    deletedBits()[slot >> 3] &= static_cast<unsigned char>(~(1u << (slot & 7)));
    firstId_ = recordCount_ == 0 ? slot : std::min(firstId_, slot);
    lastId_ = recordCount_ == 0 ? slot : std::max(lastId_, slot);
    ++recordCount_;
    BumpChangeCounter();
    position.RecordId = slot;
    position.SubPosition = 0;
    return true;
  } catch (...) {
    return false;
  }
}

bool TABSMemoryRecordManager::OverwriteRecord(std::int32_t /*sessionId*/, const void* image,
                                              const RecordPosition& position) {
  // A deleted slot stays deleted, so writing into it would report a change
  // that nobody can ever read back.
  if (image == nullptr || !IsLive(position.RecordId)) return false;
  CopyImage(records() + static_cast<std::size_t>(position.RecordId) * recordSize_, image,
            recordSize_);
  BumpChangeCounter();
  return true;
}

bool TABSMemoryRecordManager::RemoveRecord(std::int32_t /*sessionId*/, RecordPosition& position) {
  position.SubPosition = 0;
  const std::int32_t id = position.RecordId;
  if (!IsLive(id)) return false;
  deletedBits()[id >> 3] |= static_cast<unsigned char>(1u << (id & 7));
  --recordCount_;
  if (recordCount_ > 0) {
    if (id == firstId_) {
      std::int32_t next = id;
      SeekFrom(FetchMode::Next, next);
      firstId_ = next;
    }
    if (id == lastId_) {
      std::int32_t prior = id;
      SeekFrom(FetchMode::Prior, prior);
      lastId_ = prior;
      position.RecordId = prior;
    }
  } else {
    firstId_ = 0;
    lastId_ = 0;
  }
  noDeletions_ = false;
  BumpChangeCounter();
  return true;
}

FetchResult TABSMemoryRecordManager::SeekFromFirst(FetchMode direction,
                                                   std::int32_t& recordId) const {
  switch (direction) {
    case FetchMode::Next:
      if (recordCount_ == 0) return FetchResult::Eof;
      recordId = firstId_;
      return FetchResult::Found;
    case FetchMode::Prior:
      return FetchResult::Bof;
    default:
      return FetchResult::NotFound;
  }
}

FetchResult TABSMemoryRecordManager::SeekFromLast(FetchMode direction,
                                                  std::int32_t& recordId) const {
  switch (direction) {
    case FetchMode::Next:
      return FetchResult::Eof;
    case FetchMode::Prior:
      if (recordCount_ == 0) return FetchResult::Bof;
      recordId = lastId_;
      return FetchResult::Found;
    default:
      return FetchResult::NotFound;
  }
}

// Walks are bounded by the first and last ID: slots outside that range hold
// undefined deleted bits (or none at all), so they count as not live.
FetchResult TABSMemoryRecordManager::SeekFrom(FetchMode direction, std::int32_t& recordId) const {
  switch (direction) {
    case FetchMode::Current:
      return IsLive(recordId) ? FetchResult::Found : FetchResult::NotFound;
    case FetchMode::Next: {
      if (recordId >= capacity_ - 1) return FetchResult::Eof;
      if (recordCount_ == 0) return FetchResult::Eof;
      std::int32_t id = std::max(recordId, firstId_ - 1) + 1;
      const std::int32_t end = std::min(lastId_, capacity_ - 1);
      while (id <= end) {
        if (!IsDeleted(id)) {
          recordId = id;
          return FetchResult::Found;
        }
        ++id;
      }
      recordId = id;
      return FetchResult::Eof;
    }
    case FetchMode::Prior: {
      if (recordId <= 0) return FetchResult::Bof;
      if (recordCount_ == 0) return FetchResult::Bof;
      std::int32_t id = std::min(recordId - 1, lastId_);
      while (id >= firstId_) {
        if (!IsDeleted(id)) {
          recordId = id;
          return FetchResult::Found;
        }
        --id;
      }
      recordId = id;
      return FetchResult::Bof;
    }
  }
  return FetchResult::NotFound;
}

// Why the fast path of NavigateRecord (in the header) looks the way it does;
// bench_records (NavigateNext, NavigateNextVirtual) measures it against a
// plain vector scan.
//
// - The plain forward step is inline in the header so that a caller that
//   holds a TABSMemoryRecordManager (not the base class) walks without a
//   call per record; through the base class every step is a virtual call.
// - first <= id < last is tested with one unsigned comparison.
// - IsPlainNextAfterFound reads the request field by field (and ORs the two
//   end flags) so that a caller's walk can keep the whole request in
//   registers.
// - The fast path does not store Result (already Found) and stores the
//   sub-position only when it is not 0: during a walk both already hold, and
//   storing them again would add stores to every step.
// - Navigated takes the request by value and hands it back, and is kept out
//   of line ([[gnu::noinline]]): the request's address then never leaves
//   NavigateRecord, so the step does not pass the record ID through memory
//   from call to call.
// - NavigationRequest is not packed: a packed layout would make every
//   reference to Position or IndexId a misaligned access. Its four one-byte
//   members come first and side by side, so it has no inner padding.
// - CopyImage: images of table rows are mostly 16 to 64 bytes; overlapping
//   fixed-size moves copy those without a library call, which is a large
//   share of a store or a step of a walk. An image of 33 to 48 bytes (the
//   37-byte plan row) takes three 16-byte moves at 0, size - 32 and
//   size - 16 rather than two 32-byte ones: one store fewer per step, and
//   every field of a plan row still lies inside a single store, so a caller
//   reading it back at once gets it forwarded from that store.
NavigationRequest TABSMemoryRecordManager::Navigated(NavigationRequest request) const {
  if (recordCount_ == 0) {
    request.Result = FetchResult::Eof;
    return request;
  }
  std::int32_t id = request.Position.RecordId;
  const FetchMode direction = request.Direction;
  FetchResult result;
  if (request.BeforeFirst) {
    result = SeekFromFirst(direction, id);
    if (result == FetchResult::Found) request.BeforeFirst = false;
  } else if (request.AfterLast) {
    result = SeekFromLast(direction, id);
    if (result == FetchResult::Found) request.AfterLast = false;
  } else {
    result = SeekFrom(direction, id);
  }
  request.Position.RecordId = id;
  request.Position.SubPosition = 0;
  request.Result = result;
  if (result == FetchResult::Found) {
    if (request.RecordBuffer == nullptr) throw EABSException(10019, "Error retrieving record");
    CopyImage(request.RecordBuffer, records() + static_cast<std::size_t>(id) * recordSize_,
              recordSize_);
  }
  return request;
}

int TABSMemoryRecordManager::CompareRecordPositions(const RecordPosition& a,
                                                    const RecordPosition& b) const {
  if (a.RecordId == b.RecordId) return 0;
  return a.RecordId > b.RecordId ? 1 : -1;
}

std::int64_t TABSMemoryRecordManager::EstimateRecordNumber(std::int32_t /*sessionId*/,
                                                           const RecordPosition& position) {
  const std::int32_t id = position.RecordId;
  if (recordCount_ == 0 || id < firstId_ || id > lastId_) return -1;
  if (recordCount_ == 1) return 1;
  const long double fraction =
      static_cast<long double>(id - firstId_) / static_cast<long double>(recordCount_);
  // nearbyint rounds in the default mode: to nearest, ties to even.
  return static_cast<std::int64_t>(std::nearbyint(fraction * (lastId_ - firstId_))) + 1;
}

std::int32_t TABSMemoryRecordManager::PositionToRecordId(std::int64_t position) const {
  if (position < 0 || position > recordCount_) return -1;
  if (noDeletions_) return static_cast<std::int32_t>(position);
  if (recordCount_ == 0) return 0;
  if (position == recordCount_) return lastId_ + 1;
  // Count live slots eight at a time until the byte that holds the wanted
  // one, then look at its bits. Bits above the last ID are undefined, so the
  // last byte is masked to the slots up to it.
  const unsigned char* bits = deletedBits();
  const std::int32_t lastByte = lastId_ >> 3;
  const auto tailMask = static_cast<unsigned char>(0xFFu << ((lastId_ & 7) + 1));
  std::int64_t before = 0;  // live slots in the bytes already passed
  for (std::int32_t byte = 0; byte <= lastByte; ++byte) {
    unsigned char deleted = bits[byte];
    if (byte == lastByte) deleted |= tailMask;
    const std::int64_t live = liveCount_[deleted];
    if (before + live >= position + 1) {
      std::int64_t wanted = position - before;  // live slots to pass within this byte
      for (int bit = 0; bit < 8; ++bit) {
        if ((deleted >> bit) & 1u) continue;
        if (wanted == 0) return byte * 8 + bit;
        --wanted;
      }
    }
    before += live;
  }
  return -1;  // Not reached while the count matches the bits.
}

std::int64_t TABSMemoryRecordManager::RecordIdToPosition(std::int32_t recordId) const {
  if (recordId < 0 || recordId >= capacity_) return -1;
  if (noDeletions_) return static_cast<std::int64_t>(recordId) + 1;
  if (recordCount_ == 0) return 0;
  // Slots above the last ID hold undefined bits; none of them is live.
  const std::int32_t last = std::min(recordId, lastId_);
  const unsigned char* bits = deletedBits();
  std::int64_t live = 0;
  const std::int32_t fullBytes = (last + 1) >> 3;
  for (std::int32_t byte = 0; byte < fullBytes; ++byte) live += liveCount_[bits[byte]];
  for (std::int32_t id = fullBytes * 8; id <= last; ++id) {
    if (!IsDeleted(id)) ++live;
  }
  return live;
}
