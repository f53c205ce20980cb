// The record manager of temporary tables: records are appended and read,
// never changed or removed, and they are numbered 0, 1, 2, ... in the order
// of appending.
//
// Where a record lives:
//   - records 0 .. MemoryLimit() - 1 in the memory array, slot = number (one
//     block of engine memory growing by the growth step, never past the
//     limit); with the keep-in-memory flag every record is there;
//   - records from MemoryLimit() on in the record file (a private temporary
//     file), at byte offset (number - MemoryLimit()) * RecordSize(); the
//     latest appended file record waits in the write block and reaches the
//     file with the next append or the next read of a file record.
// The memory limit is (available memory / 10) / record size, read once at
// construction, and never more than one engine memory block holds nor a
// signed 32-bit count: records beyond it go to the file.
//
// Positions: the 6 bytes of a RecordPosition hold the record number as one
// unsigned 48-bit little-endian integer (RecordId the low 32 bits, the
// sub-position the high 16).
//
// Errors: construction with a record size <= 0 raises 10124; reading a
// file record raises 10128 / 10125 (the pending write could not be placed /
// written), 10129 (position) or 10130 (short read), any other failure 10127.
// StoreNewRecord never raises; it answers false and then nothing changed.
//
// Ownership: owns the memory array, the write block and the record file.
// Locking: none; the owning table data calls under its database's lock.
//
// Invariants: record count = memory count + records in the file;
// memory count <= memory capacity; the file holds records only when
// memory count = memory limit (or the limit is 0) and the flag is clear;
// block count <= 1 <= block capacity.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>

#include "engine/memory/ABSMemBlock.h"
#include "engine/storage/ABSRecordManager.h"
#include "engine/temporary/ABSTemporaryFile.h"

// Test seam: limits that temporary record and page managers built from now
// on take instead of the ones derived from the available memory (-1: derive).
struct TABSTemporaryLimits {
  std::int64_t RecordLimit = -1;  // records held in memory
  std::int64_t PageLimit = -1;    // pages held in memory
};
TABSTemporaryLimits& TemporaryLimitsForTesting();

class TABSTemporaryRecordManager final : public TABSBaseRecordManager {
 public:
  static constexpr std::int64_t MaxRecords = std::int64_t{1} << 48;

  // REQUIRES recordSize > 0 (else 10124). A block size of 0 is taken as 1, a
  // growth step below 1 as 1.
  TABSTemporaryRecordManager(std::int32_t recordSize, bool keepInMemory, std::int32_t growthStep,
                             std::int32_t blockSize);
  // Frees every record and closes the file; never raises.
  ~TABSTemporaryRecordManager() override;

  // Numbers start at 0 again; memory is freed and the file closed (gone).
  void ClearAllRecords(std::int32_t sessionId) override;
  bool StoreNewRecord(std::int32_t sessionId, const void* image, RecordPosition& position) override;
  // Temporary records cannot be changed or removed: false, nothing changes.
  bool OverwriteRecord(std::int32_t sessionId, const void* image,
                       const RecordPosition& position) override;
  bool RemoveRecord(std::int32_t sessionId, RecordPosition& position) override;
  // Takes back the record the last successful StoreNewRecord appended, for a
  // table whose keys for it could not be stored. REQUIRES: nothing else
  // changed the store since that append (it is still in memory or waiting in
  // the write block); otherwise nothing happens.
  void TakeBackLastRecord() noexcept;
  // Moves request.Position by number; a record found is copied into
  // request.RecordBuffer (when given), a read that fails answers NotFound.
  // Positions beyond the table (stale) are bounded: prior goes to the last
  // record, next answers Eof, current NotFound.
  // Fast path: the plain forward step (Next after Found, neither end flag,
  // a next record that is in memory or in the file with nothing waiting in
  // the write block) is served inline; everything else by Navigated, with
  // the same results.
  void NavigateRecord(std::int32_t /*sessionId*/, NavigationRequest& request) override {
    void* const destination = request.RecordBuffer;
    const std::uint64_t next = RecordNumber(request.Position) + 1;
    if (request.Direction == FetchMode::Next && request.Result == FetchResult::Found &&
        !(request.BeforeFirst | request.AfterLast) && destination != nullptr &&
        next < static_cast<std::uint64_t>(recordCount_)) [[likely]] {
      const auto n = static_cast<std::int64_t>(next);
      if (n < memoryCount_) {
        std::memcpy(destination, slot(n), static_cast<std::size_t>(recordSize_));
        request.Position = PositionOf(next);
        return;
      }
      if (blockCount_ == 0 && !keepInMemory_ &&
          file_->ReadAt((n - memoryLimit_) * recordSize_, destination, recordSize_) ==
              recordSize_) {
        request.Position = PositionOf(next);
        return;
      }
    }
    Navigated(request);
  }
  int CompareRecordPositions(const RecordPosition& a, const RecordPosition& b) const override;
  // The exact 1-based number; -1 beyond the table.
  std::int64_t EstimateRecordNumber(std::int32_t sessionId,
                                    const RecordPosition& position) override;

  // Copies record `number` (0-based) into `buffer`. Raises 10127 for a
  // number outside the table and the file errors of the class comment.
  void ReadRecord(std::int64_t number, void* buffer);

  static std::uint64_t RecordNumber(const RecordPosition& position) noexcept {
    return static_cast<std::uint32_t>(position.RecordId) |
           (static_cast<std::uint64_t>(position.SubPosition) << 32);
  }
  static RecordPosition PositionOf(std::uint64_t number) noexcept {
    RecordPosition position;
    position.RecordId = static_cast<std::int32_t>(static_cast<std::uint32_t>(number));
    position.SubPosition = static_cast<std::uint16_t>(number >> 32);
    return position;
  }
  // The memory limit for `available` bytes: a tenth of them in records,
  // bounded by one engine memory block and the signed 32-bit range.
  static std::int32_t MemoryLimitFor(std::int64_t available, std::int32_t recordSize) noexcept;

  // --- Inspection and test seams -----------------------------------------
  bool KeepInMemory() const noexcept { return keepInMemory_; }
  std::int32_t MemoryLimit() const noexcept { return memoryLimit_; }
  std::int32_t MemoryCount() const noexcept { return memoryCount_; }
  std::int32_t MemoryCapacity() const noexcept { return memoryCapacity_; }
  std::int32_t BlockCapacity() const noexcept { return blockCapacity_; }
  std::int32_t BlockCount() const noexcept { return blockCount_; }
  std::int32_t GrowthStep() const noexcept { return growthStep_; }
  const TABSTemporaryFileStream* RecordFile() const noexcept { return file_.get(); }
  // REQUIRES an empty table. The limit is bounded as MemoryLimitFor bounds it.
  void SetMemoryLimitForTesting(std::int64_t limit) noexcept;

 private:
  // Adds one growth step of slots (cut at the limit without the flag, and
  // at what one block holds); the capacity changes only once the memory is
  // there. False when no slot can be added.
  bool GrowMemory();
  // NavigateRecord beyond the fast path.
  [[gnu::noinline]] void Navigated(NavigationRequest& request);
  // Writes the waiting records to the file (10126, 10128, 10125); they stay
  // waiting when that fails.
  void FlushBlock();
  unsigned char* slot(std::int64_t number) const noexcept {
    return memory_.as<unsigned char>() + number * recordSize_;
  }

  const bool keepInMemory_;
  const std::int32_t growthStep_;
  std::int32_t blockCapacity_ = 1;
  std::int32_t memoryLimit_ = 0;
  std::int32_t memoryCount_ = 0;
  std::int32_t memoryCapacity_ = 0;
  std::int32_t blockCount_ = 0;
  TABSMemBlock memory_;      // memoryCapacity_ * recordSize_ bytes
  TABSMemBlock writeBlock_;  // blockCapacity_ * recordSize_ bytes
  std::unique_ptr<TABSTemporaryFileStream> file_;
};
