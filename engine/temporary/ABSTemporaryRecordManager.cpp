#include "engine/temporary/ABSTemporaryRecordManager.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <limits>

#include "engine/memory/ABSException.h"
#include "engine/memory/ABSMemory.h"

TABSTemporaryLimits& TemporaryLimitsForTesting() {
  static TABSTemporaryLimits limits;
  return limits;
}

namespace {

constexpr std::int64_t kInt32Max = std::numeric_limits<std::int32_t>::max();

}  // namespace

std::int32_t TABSTemporaryRecordManager::MemoryLimitFor(std::int64_t available,
                                                        std::int32_t recordSize) noexcept {
  if (recordSize <= 0 || available <= 0) return 0;
  std::int64_t limit = (available / 10) / recordSize;
  limit = std::min(limit, TABSMemoryManager::MaxBlockSize / recordSize);
  return static_cast<std::int32_t>(std::min(limit, kInt32Max));
}

TABSTemporaryRecordManager::TABSTemporaryRecordManager(std::int32_t recordSize, bool keepInMemory,
                                                       std::int32_t growthStep,
                                                       std::int32_t blockSize)
    : TABSBaseRecordManager(recordSize),
      keepInMemory_(keepInMemory),
      growthStep_(std::max(growthStep, 1)) {
  if (recordSize <= 0) throw EABSException(10124, "Invalid record size = %d", {recordSize});
  // The block's byte count must fit a signed 32-bit count: very large
  // records get fewer per block, never fewer than one.
  blockCapacity_ = std::max(blockSize, 1);
  blockCapacity_ = static_cast<std::int32_t>(
      std::max<std::int64_t>(1, std::min<std::int64_t>(blockCapacity_, kInt32Max / recordSize)));
  const std::int64_t seam = TemporaryLimitsForTesting().RecordLimit;
  if (seam >= 0) {
    SetMemoryLimitForTesting(seam);
  } else {
    memoryLimit_ = MemoryLimitFor(EngineMemoryManager.GetAvailableMemory(), recordSize);
  }
  writeBlock_ = TABSMemBlock(static_cast<std::int64_t>(blockCapacity_) * recordSize);
}

TABSTemporaryRecordManager::~TABSTemporaryRecordManager() = default;

void TABSTemporaryRecordManager::SetMemoryLimitForTesting(std::int64_t limit) noexcept {
  if (recordCount_ != 0 || memoryCapacity_ != 0) return;
  limit = std::clamp<std::int64_t>(limit, 0, kInt32Max);
  memoryLimit_ =
      static_cast<std::int32_t>(std::min(limit, TABSMemoryManager::MaxBlockSize / recordSize_));
}

void TABSTemporaryRecordManager::ClearAllRecords(std::int32_t /*sessionId*/) {
  recordCount_ = 0;
  blockCount_ = 0;
  memoryCount_ = 0;
  memoryCapacity_ = 0;
  memory_.Reset();
  file_.reset();  // closing the file removes it
}

bool TABSTemporaryRecordManager::GrowMemory() {
  std::int64_t capacity = static_cast<std::int64_t>(memoryCapacity_) + growthStep_;
  if (!keepInMemory_) capacity = std::min<std::int64_t>(capacity, memoryLimit_);
  capacity = std::min(capacity, TABSMemoryManager::MaxBlockSize / recordSize_);
  capacity = std::min(capacity, kInt32Max);
  if (capacity <= memoryCapacity_) return false;
  memory_.Resize(capacity * recordSize_);  // the only step that can fail
  memoryCapacity_ = static_cast<std::int32_t>(capacity);
  return true;
}

void TABSTemporaryRecordManager::FlushBlock() {
  if (blockCount_ == 0) return;
  if (blockCount_ > blockCapacity_) {
    throw EABSException(10126, "Invalid record count = %d. Limit is %d",
                        {blockCount_, blockCapacity_});
  }
  const std::int64_t offset =
      (recordCount_ - memoryLimit_ - blockCount_) * static_cast<std::int64_t>(recordSize_);
  if (offset < 0) {
    throw EABSException(10128, "Cannot set stream position to %d. Position = %d, Size = %d",
                        {offset, file_->Position(), file_->Size()});
  }
  const std::int32_t bytes = blockCount_ * recordSize_;
  if (file_->WriteAt(offset, writeBlock_.get(), bytes) != bytes) {
    throw EABSException(10125, "Error writing to stream");
  }
  blockCount_ = 0;
}

bool TABSTemporaryRecordManager::StoreNewRecord(std::int32_t /*sessionId*/, const void* image,
                                                RecordPosition& position) {
  if (image == nullptr || recordCount_ >= MaxRecords) return false;
  try {
    bool toMemory = memoryCount_ < memoryCapacity_;
    if (!toMemory && (keepInMemory_ || memoryCapacity_ < memoryLimit_)) {
      if (!GrowMemory()) return false;
      toMemory = true;
    }
    if (toMemory) {
      std::memcpy(slot(recordCount_), image, static_cast<std::size_t>(recordSize_));
      ++memoryCount_;
    } else {
      // The end of the new record must be a representable file offset.
      std::int64_t end = 0;
      if (__builtin_mul_overflow(recordCount_ - memoryLimit_ + 1,
                                 static_cast<std::int64_t>(recordSize_), &end)) {
        return false;
      }
      if (!file_) file_ = std::make_unique<TABSTemporaryFileStream>();
      FlushBlock();
      std::memcpy(writeBlock_.as<unsigned char>() + blockCount_ * recordSize_, image,
                  static_cast<std::size_t>(recordSize_));
      ++blockCount_;
    }
    position = PositionOf(static_cast<std::uint64_t>(recordCount_));
    ++recordCount_;
    // Views and windows of other cursors compare the counter to see the
    // new record.
    BumpChangeCounter();
    return true;
  } catch (...) {
    return false;
  }
}

bool TABSTemporaryRecordManager::OverwriteRecord(std::int32_t /*sessionId*/, const void* /*image*/,
                                                 const RecordPosition& /*position*/) {
  return false;
}

bool TABSTemporaryRecordManager::RemoveRecord(std::int32_t /*sessionId*/,
                                              RecordPosition& /*position*/) {
  return false;
}

void TABSTemporaryRecordManager::TakeBackLastRecord() noexcept {
  if (recordCount_ == 0) return;
  if (recordCount_ <= memoryCount_) {
    --memoryCount_;
  } else if (blockCount_ > 0) {
    --blockCount_;
  } else {
    return;  // already in the file: appended earlier than the last store
  }
  --recordCount_;
}

void TABSTemporaryRecordManager::ReadRecord(std::int64_t number, void* buffer) {
  if (number < 0 || number >= recordCount_ || buffer == nullptr) {
    throw EABSException(10127, "Error retrieving record");
  }
  try {
    if (!keepInMemory_ && number >= memoryLimit_) {
      FlushBlock();
      const std::int64_t offset = (number - memoryLimit_) * static_cast<std::int64_t>(recordSize_);
      if (offset < 0) {
        throw EABSException(10129, "Cannot set stream position to %d. Position = %d, Size = %d",
                            {offset, file_->Position(), file_->Size()});
      }
      const std::int32_t got = file_->ReadAt(offset, buffer, recordSize_);
      if (got != recordSize_) RaiseStreamReadError(*file_, offset, recordSize_, got, 10130);
    } else {
      std::memcpy(buffer, slot(number), static_cast<std::size_t>(recordSize_));
    }
  } catch (const EABSException&) {
    throw;
  } catch (...) {
    throw EABSException(10127, "Error retrieving record");
  }
}

void TABSTemporaryRecordManager::Navigated(NavigationRequest& request) {
  std::uint64_t p = RecordNumber(request.Position);
  const auto count = static_cast<std::uint64_t>(recordCount_);
  FetchResult result = FetchResult::NotFound;
  if (count == 0) {
    result = FetchResult::Eof;
  } else if (request.BeforeFirst) {
    switch (request.Direction) {
      case FetchMode::Next:
        p = 0;
        request.BeforeFirst = false;
        result = FetchResult::Found;
        break;
      case FetchMode::Prior:
        result = FetchResult::Bof;
        break;
      case FetchMode::Current:
        result = FetchResult::NotFound;
        break;
    }
  } else if (request.AfterLast) {
    switch (request.Direction) {
      case FetchMode::Next:
        result = FetchResult::Eof;
        break;
      case FetchMode::Prior:
        p = count - 1;
        request.AfterLast = false;
        result = FetchResult::Found;
        break;
      case FetchMode::Current:
        result = FetchResult::NotFound;
        break;
    }
  } else {
    switch (request.Direction) {
      case FetchMode::Current:
        result = p >= count ? FetchResult::NotFound : FetchResult::Found;
        break;
      case FetchMode::Next:
        if (p >= count - 1) {
          result = FetchResult::Eof;
        } else {
          ++p;
          result = FetchResult::Found;
        }
        break;
      case FetchMode::Prior:
        // A stale position beyond the table steps back to the last record.
        if (p == 0) {
          result = FetchResult::Bof;
        } else {
          p = std::min(p - 1, count - 1);
          result = FetchResult::Found;
        }
        break;
    }
  }
  if (result == FetchResult::Found && request.RecordBuffer != nullptr) {
    try {
      ReadRecord(static_cast<std::int64_t>(p), request.RecordBuffer);
    } catch (...) {
      result = FetchResult::NotFound;
    }
  }
  request.Result = result;
  request.Position = PositionOf(p);
}

int TABSTemporaryRecordManager::CompareRecordPositions(const RecordPosition& a,
                                                       const RecordPosition& b) const {
  const std::uint64_t x = RecordNumber(a);
  const std::uint64_t y = RecordNumber(b);
  return x == y ? 0 : (x > y ? 1 : -1);
}

std::int64_t TABSTemporaryRecordManager::EstimateRecordNumber(std::int32_t /*sessionId*/,
                                                              const RecordPosition& position) {
  const std::uint64_t p = RecordNumber(position);
  return p < static_cast<std::uint64_t>(recordCount_) ? static_cast<std::int64_t>(p) + 1 : -1;
}
