// Record managers: keep a table's records as fixed-size record images and
// answer "the record at this position / the next one / the prior one".
//
// TABSBaseRecordManager declares the operations every kind of table provides;
// TABSMemoryRecordManager implements them for in-memory tables with one
// contiguous buffer of slots, addressed by record ID (the slot number), and a
// bit array that marks deleted slots. Records are seen in ascending record ID
// order, which is the order of insertion.
//
// Ownership: the memory record manager owns its two buffers, both taken from
// EngineMemoryManager. It treats a record image as an opaque block of
// RecordSize() bytes; the layout inside belongs to the field manager.
//
// Locking: none. The owning table data calls every operation while holding
// its database's lock, so operations on one table never overlap.
//
// Invariants of TABSMemoryRecordManager: no ID outside first to last ID is
// live; RecordCount() is the number of live IDs; slots and deleted bits
// beyond the last ID hold undefined bytes until a record is stored there;
// capacity * RecordSize() fits a signed 32-bit byte count.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "engine/memory/ABSMemBlock.h"
#include "engine/schema/ABSRecordTypes.h"

// The argument of NavigateRecord: the caller fills it and reads it back.
// It lives only for a call and is never stored or written to a record, so
// it has the natural (unpacked) layout of its members.
struct NavigationRequest {
  FetchMode Direction = FetchMode::Current;  // Current means exactly this position.
  bool BeforeFirst = false;                  // The position is before the first record.
  bool AfterLast = false;                    // The position is after the last record.
  FetchResult Result = FetchResult::NotFound;
  std::int32_t IndexId = -1;     // -1: record order. The record manager ignores it.
  RecordPosition Position;       // Updated by the operation.
  void* RecordBuffer = nullptr;  // Receives the record image; borrowed.
};

class TABSBaseRecordManager {
 public:
  explicit TABSBaseRecordManager(std::int32_t recordSize) : recordSize_(recordSize) {}
  virtual ~TABSBaseRecordManager() = default;
  TABSBaseRecordManager(const TABSBaseRecordManager&) = delete;
  TABSBaseRecordManager& operator=(const TABSBaseRecordManager&) = delete;

  // Every operation takes the caller's session ID first; managers of shared
  // storage use it, the memory manager ignores it.
  virtual void ClearAllRecords(std::int32_t sessionId) = 0;
  // Store, overwrite and remove never throw: they report failure by false.
  virtual bool StoreNewRecord(std::int32_t sessionId, const void* image,
                              RecordPosition& position) = 0;
  virtual bool OverwriteRecord(std::int32_t sessionId, const void* image,
                               const RecordPosition& position) = 0;
  virtual bool RemoveRecord(std::int32_t sessionId, RecordPosition& position) = 0;
  virtual void NavigateRecord(std::int32_t sessionId, NavigationRequest& request) = 0;
  // -1, 0 or 1 as A's record ID is below, equal to or above B's.
  virtual int CompareRecordPositions(const RecordPosition& a, const RecordPosition& b) const = 0;
  virtual std::int64_t EstimateRecordNumber(std::int32_t sessionId,
                                            const RecordPosition& position) = 0;

  // Live records.
  std::int64_t RecordCount() const { return recordCount_; }
  // Grows by one on every successful store, overwrite and removal and is
  // never reset: indexes and record bitmaps compare it with the value they
  // were built at to see whether the table changed.
  std::int32_t ChangeCounter() const { return changeCounter_; }
  // Bytes per record image.
  std::int32_t RecordSize() const { return recordSize_; }

 protected:
  // Wraps around instead of overflowing; readers only test for equality.
  void BumpChangeCounter() {
    changeCounter_ = static_cast<std::int32_t>(static_cast<std::uint32_t>(changeCounter_) + 1u);
  }

  std::int64_t recordCount_ = 0;
  std::int32_t changeCounter_ = 0;
  std::int32_t recordSize_ = 0;
};

class TABSMemoryRecordManager final : public TABSBaseRecordManager {
 public:
  // A record size of 0 (or below) raises 10011. A growth step below 1 is
  // taken as 1, so a store always finds room after growing.
  TABSMemoryRecordManager(std::int32_t recordSize, std::int32_t growthStep);
  ~TABSMemoryRecordManager() override;

  // Frees both buffers; record IDs start again at 0. The change counter and
  // the no-deletions flag keep their values.
  void ClearAllRecords(std::int32_t sessionId) override;
  bool StoreNewRecord(std::int32_t sessionId, const void* image, RecordPosition& position) override;
  // False for an empty table, an ID outside first to last ID, a deleted slot
  // or a nil image.
  bool OverwriteRecord(std::int32_t sessionId, const void* image,
                       const RecordPosition& position) override;
  // Removing the last ID moves the caller's position to the new last ID.
  bool RemoveRecord(std::int32_t sessionId, RecordPosition& position) override;
  // Moves request.Position as request.Direction says and copies the record
  // found into request.RecordBuffer; request.Result tells what was found.
  // Raises 10019 when a found record cannot be copied (nil record buffer),
  // leaving the request as it was. Fast paths, inline here: the plain
  // forward step (Next after Found, off both ends, next slot live), the
  // plain backward step (Prior off both ends, previous slot live) and the
  // record at the position (Current, off both ends, the slot live);
  // everything else by Navigated, with the same results.
  void NavigateRecord(std::int32_t /*sessionId*/, NavigationRequest& request) override {
    const std::int32_t id = request.Position.RecordId;
    void* const destination = request.RecordBuffer;
    // first <= id < last: a non-empty table whose next slot exists.
    const auto first = static_cast<std::uint32_t>(firstId_);
    const bool inside =
        static_cast<std::uint32_t>(id) - first < static_cast<std::uint32_t>(lastId_) - first;
    if (IsPlainNextAfterFound(request) && inside && destination != nullptr &&
        (noDeletions_ || !IsDeleted(id + 1))) [[likely]] {
      const unsigned char* source = records() + static_cast<std::size_t>(id + 1) * recordSize_;
      CopyImage(destination, source, static_cast<std::size_t>(recordSize_));
      // Result stays Found; the sub-position becomes 0.
      request.Position.RecordId = id + 1;
      if (request.Position.SubPosition != 0) request.Position.SubPosition = 0;
      return;
    }
    if (request.Direction == FetchMode::Prior && !(request.BeforeFirst | request.AfterLast) &&
        id > 0 && destination != nullptr && IsLive(id - 1)) {
      // Fast path: the plain backward step onto the live slot just before
      // (a window filled upwards takes one per row).
      CopyImage(destination, records() + static_cast<std::size_t>(id - 1) * recordSize_,
                static_cast<std::size_t>(recordSize_));
      request.Position.RecordId = id - 1;
      request.Result = FetchResult::Found;
      request.Position.SubPosition = 0;
      return;
    }
    if (IsPlainCurrent(request) && destination != nullptr && IsLive(id)) {
      // Fast path: the record at the position (an index's record read).
      CopyImage(destination, records() + static_cast<std::size_t>(id) * recordSize_,
                static_cast<std::size_t>(recordSize_));
      request.Result = FetchResult::Found;
      request.Position.SubPosition = 0;
      return;
    }
    request = Navigated(request);
  }
  // The plain forward step alone, for callers that know they stand on the
  // record `id` they found: when the slot after it exists and is live, its
  // image is copied to `destination` (not nil) and the result is true (the
  // next record is id + 1); otherwise nothing happens and NavigateRecord
  // answers the step (the same test as its first fast path).
  [[gnu::always_inline]] bool StepToNextSlot(std::int32_t id, void* destination) const {
    // first <= id < last: a non-empty table whose next slot exists.
    const auto first = static_cast<std::uint32_t>(firstId_);
    const bool inside =
        static_cast<std::uint32_t>(id) - first < static_cast<std::uint32_t>(lastId_) - first;
    if (!inside || (!noDeletions_ && IsDeleted(id + 1))) return false;
    CopyImage(destination, records() + static_cast<std::size_t>(id + 1) * recordSize_,
              static_cast<std::size_t>(recordSize_));
    return true;
  }
  int CompareRecordPositions(const RecordPosition& a, const RecordPosition& b) const override;
  // A rough 1-based record number; -1 when empty or the ID is out of range.
  std::int64_t EstimateRecordNumber(std::int32_t sessionId,
                                    const RecordPosition& position) override;

  // The record ID of the live record with `position` live records before it
  // (0-based); last ID + 1 for position == record count; -1 when out of range.
  std::int32_t PositionToRecordId(std::int64_t position) const;
  // The 1-based record number of a live record ID; -1 for an ID outside the
  // allocated slots.
  std::int64_t RecordIdToPosition(std::int32_t recordId) const;

  // Seek helpers of NavigateRecord; `recordId` is moved, the result says
  // whether it names a live record.
  FetchResult SeekFromFirst(FetchMode direction, std::int32_t& recordId) const;
  FetchResult SeekFromLast(FetchMode direction, std::int32_t& recordId) const;
  FetchResult SeekFrom(FetchMode direction, std::int32_t& recordId) const;

 private:
  // Tests read the slot counters through TABSMemoryRecordManagerTestPeer
  // (tests/engine/storage/RecordManagerTestPeer.h); nothing else may.
  friend class TABSMemoryRecordManagerTestPeer;

  // Direction Next, neither end flag set and the result of the step before
  // Found.
  static bool IsPlainNextAfterFound(const NavigationRequest& request) {
    return request.Direction == FetchMode::Next && !(request.BeforeFirst | request.AfterLast) &&
           request.Result == FetchResult::Found;
  }
  // Direction Current, neither end flag set.
  static bool IsPlainCurrent(const NavigationRequest& request) {
    return request.Direction == FetchMode::Current && !(request.BeforeFirst | request.AfterLast);
  }
  bool IsDeleted(std::int32_t id) const { return (deletedBits()[id >> 3] >> (id & 7)) & 1u; }
  bool IsLive(std::int32_t id) const {
    return id >= firstId_ && id <= lastId_ && recordCount_ > 0 && !IsDeleted(id);
  }
  unsigned char* records() const { return recordBuffer_.as<unsigned char>(); }
  unsigned char* deletedBits() const { return deletedBits_.as<unsigned char>(); }
  // Copies one record image of `size` bytes; the two ranges do not overlap.
  static void CopyImage(void* destination, const void* source, std::size_t size) {
    auto* dst = static_cast<unsigned char*>(destination);
    const auto* src = static_cast<const unsigned char*>(source);
    if (size > 32 && size <= 48) {
      std::memcpy(dst, src, 16);
      std::memcpy(dst + size - 32, src + size - 32, 16);
      std::memcpy(dst + size - 16, src + size - 16, 16);
    } else if (size >= 16 && size <= 32) {
      std::memcpy(dst, src, 16);
      std::memcpy(dst + size - 16, src + size - 16, 16);
    } else if (size > 48 && size <= 64) {
      std::memcpy(dst, src, 32);
      std::memcpy(dst + size - 32, src + size - 32, 32);
    } else {
      std::memcpy(dst, src, size);
    }
  }
  bool Grow();
  void ShrinkBitsBack() noexcept;
  // NavigateRecord beyond the plain next step; returns the updated request.
  // Raises 10019 (the caller's request unchanged) when a found record cannot
  // be copied. Kept out of line (see the .cpp).
  [[gnu::noinline]] NavigationRequest Navigated(NavigationRequest request) const;
  void FreeBuffers();

  TABSMemBlock recordBuffer_;  // capacity_ * recordSize_ bytes
  TABSMemBlock deletedBits_;   // ceil(capacity_ / 8) bytes
  std::int32_t capacity_ = 0;
  std::int32_t growthStep_ = 1;
  std::int32_t firstId_ = 0;  // lowest live ID; 0 when empty
  std::int32_t lastId_ = 0;   // highest live ID; 0 when empty
  // Entry b: the number of zero bits of the byte value b, that is the live
  // slots among the eight that a byte of deleted bits stands for.
  std::array<std::uint8_t, 256> liveCount_{};
  // True from construction until the first removal; while true, IDs 0 to
  // count - 1 are exactly the live records.
  bool noDeletions_ = true;
};
