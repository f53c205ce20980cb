// A cursor's record bitmap: the set of records its filter, range or
// distinct view lets through.
//
// Bit n set means record number n is visible. In record order n is the
// record's record ID (from TABSBitmapTable); in index order n is the 0-based
// place of the record's entry in the index (an ordinal, from
// TABSBitmapIndexOrder). Counting, numbering and searching go word by word
// through the bit array's set-bit count, rank, select and next / prior set
// bit, so they cost O(bits / 64) at most and VisibleCount is O(1).
//
// When a bitmap is rebuilt (the one rule; the table data applies it through
// NeedsRebuild): when the cursor has a restricted view and its
// RecordBitmapStale flag is set, or the bitmap is not active, or the stamp
// differs from the table's change counter; and when the bitmap is active
// and stale even without a restricted view. Whoever rebuilds calls
// BeginRebuild, marks every record that passes the view, and clears the
// cursor's flag. Emptying a table leaves the change counter as it is, so the
// table data calls ResetBitmap on the bitmap of every attached cursor when
// it empties the table.
//
// Upkeep: a change made through the cursor marks the record at once
// (AfterRecordWritten, AfterRecordRemoved) but leaves the stamp, so the next
// use still rebuilds; only the cursor's own removal in a view without
// distinct values carries the stamp forward. An index-ordered bitmap is
// reset by any change through its cursor, since every ordinal behind the
// changed entry moves.
//
// Out of range: RecordAtNumber answers false and leaves the position as it
// was; KeyPathAtNumber answers -1 and leaves the path as it was; positions
// with no record ID (-1) are neither marked nor found.
//
// Ownership: the cursor owns its bitmap; the bitmap owns its bits and
// borrows the table. Threads: the database lock, held by the table data.
#pragma once

#include <cstdint>

#include "engine/schema/ABSRecordTypes.h"
#include "engine/storage/ABSBitsArray.h"

class TABSKeyPath;

// What a record bitmap needs of its table. The table data implements it.
class TABSBitmapTable {
 public:
  virtual ~TABSBitmapTable() = default;
  // The record ID of the record at `position`, -1 when there is none.
  virtual std::int32_t BitmapRecordIdOf(const RecordPosition& position) const = 0;
  // Writes the position of the record with record ID `recordId` into
  // `position` (an out parameter: the packed position is written field by
  // field rather than copied whole out of a register).
  virtual void BitmapPositionOf(std::int32_t recordId, RecordPosition& position) const = 0;
  // Live records of the table.
  virtual std::int64_t BitmapRecordCount() const = 0;
  // The record manager's change counter.
  virtual std::int32_t BitmapChangeCounter() const = 0;
};

// The order of one index, for bitmaps in index order: key paths to ordinals
// and back. The table data implements it on top of the cursor's index.
class TABSBitmapIndexOrder {
 public:
  virtual ~TABSBitmapIndexOrder() = default;
  // The 0-based place of the entry at `path`; -1 when the path is at none.
  virtual std::int64_t OrdinalOfKeyPath(const TABSKeyPath& path) = 0;
  // Moves `path` to the entry with 0-based place `ordinal`. REQUIRES: the
  // ordinal is one of an entry.
  virtual void MoveKeyPathToOrdinal(std::int64_t ordinal, TABSKeyPath& path) = 0;
};

class TABSRecordBitmap {
 public:
  // `table` is borrowed; nil raises 10425 "Nil pointer occured".
  explicit TABSRecordBitmap(TABSBitmapTable* table);
  TABSRecordBitmap(const TABSRecordBitmap&) = delete;
  TABSRecordBitmap& operator=(const TABSRecordBitmap&) = delete;

  TABSBitmapTable& Table() const { return *table_; }
  bool Active() const { return active_; }
  bool IndexOrdered() const { return indexOrdered_; }
  // The change counter the bits were built at; -1 at creation.
  std::int32_t Stamp() const { return stamp_; }
  void SetStamp(std::int32_t stamp) { stamp_ = stamp; }
  const TABSBitsArray& Bits() const { return bits_; }

  // --- staleness ---
  bool IsStale() const { return stamp_ != table_->BitmapChangeCounter(); }
  // The rebuild rule of the header comment. `cursorStale` is the cursor's
  // RecordBitmapStale flag, `restrictedView` its HasRestrictedView().
  bool NeedsRebuild(bool cursorStale, bool restrictedView) const {
    if (active_ && IsStale()) return true;
    return restrictedView && (cursorStale || !active_);
  }
  // Starts a rebuild: ResetBitmap, stamp = the change counter, the given
  // order, bit count = the record count, active. The caller then marks the
  // records that pass (MarkVisible, or MarkVisibleByOrdinal in index order).
  void BeginRebuild(bool indexOrdered);

  // --- counts ---
  // Sets the number of bits (new bits hidden). REQUIRES 0 <= n (10429).
  void SetBitCount(std::int32_t n) { bits_.Resize(n); }
  std::int32_t BitCount() const { return bits_.BitCount(); }
  // Not active, no bits.
  void ResetBitmap() noexcept;
  std::int32_t VisibleCount() const { return bits_.SetBitCount(); }

  // --- record order ---
  // Sets / clears the bit of the record at `position`, growing the bits to
  // cover its record ID; an index-ordered bitmap is reset instead.
  void MarkVisible(const RecordPosition& position) { Mark(position, true); }
  void MarkHidden(const RecordPosition& position) { Mark(position, false); }
  // Every bit set; the bit count stays.
  void MarkAllVisible() noexcept { bits_.SetAllBits(); }
  // The 1-based number among visible records of the record at `position`
  // (the visible records up to and including its bit); -1 when its record
  // ID is not below the bit count.
  std::int64_t RecordNumberOf(const RecordPosition& position) const;
  // The position of the k-th visible record (1-based); false, `position`
  // unchanged, when there is none.
  bool RecordAtNumber(std::int64_t k, RecordPosition& position) const;
  // The first visible record from the first (forward) or last bit when
  // `fromStart`, else after (forward) or before the bit of `current`;
  // false, `position` unchanged, when there is none.
  // Fast path: the forward step from `current` is inline (see the .cpp).
  bool FindVisible(bool fromStart, bool forward, RecordPosition& position,
                   const RecordPosition& current) const {
    if (fromStart || !forward) return FindVisibleSearch(fromStart, forward, position, current);
    const std::int32_t id = table_->BitmapRecordIdOf(current);
    if (id < 0 || id >= bits_.BitCount() - 1) return false;
    const std::int32_t n = bits_.NextSetBit(id + 1);
    if (n < 0) return false;
    table_->BitmapPositionOf(n, position);
    return true;
  }

  // --- index order, by ordinal ---
  void MarkVisibleByOrdinal(std::int64_t ordinal) { MarkOrdinal(ordinal, true); }
  void MarkHiddenByOrdinal(std::int64_t ordinal) { MarkOrdinal(ordinal, false); }
  bool IsOrdinalVisible(std::int64_t ordinal) const;
  // As RecordNumberOf / RecordAtNumber / FindVisible, on ordinals; the
  // searches answer the ordinal found or -1 (`current` -1: before the first).
  std::int64_t NumberOfOrdinal(std::int64_t ordinal) const;
  std::int64_t OrdinalAtNumber(std::int64_t k) const;
  std::int64_t FindVisibleOrdinal(bool fromStart, bool forward, std::int64_t current) const;

  // --- index order, by key path (through the index's order) ---
  void MarkVisibleByKeyPath(TABSBitmapIndexOrder& order, const TABSKeyPath& path);
  void MarkHiddenByKeyPath(TABSBitmapIndexOrder& order, const TABSKeyPath& path);
  std::int64_t RecordNumberOfKeyPath(TABSBitmapIndexOrder& order, const TABSKeyPath& path) const;
  // Moves `path` to the k-th visible entry and answers its ordinal; -1,
  // `path` unchanged, when there is none.
  std::int64_t KeyPathAtNumber(TABSBitmapIndexOrder& order, std::int64_t k,
                               TABSKeyPath& path) const;
  bool IsKeyPathVisible(TABSBitmapIndexOrder& order, const TABSKeyPath& path) const;
  // As FindVisible: from the start, or from the entry at `path`; moves
  // `path` to the entry found, or answers false leaving it unchanged.
  bool FindVisibleByKeyPath(TABSBitmapIndexOrder& order, bool fromStart, bool forward,
                            TABSKeyPath& path) const;

  // --- upkeep by the table data (no-ops while not active) ---
  // After a store or overwrite through the cursor: marks the record by
  // whether it passes the view; the stamp stays.
  void AfterRecordWritten(const RecordPosition& position, bool passesView);
  // After a removal through the cursor: hides the record; when the stamp
  // equalled `counterBefore` (the change counter before the removal) and
  // the view shows no distinct values, takes the new change counter.
  void AfterRecordRemoved(const RecordPosition& position, std::int32_t counterBefore,
                          bool distinctView);

 private:
  void Mark(const RecordPosition& position, bool visible);
  // FindVisible from the start, or backward.
  bool FindVisibleSearch(bool fromStart, bool forward, RecordPosition& position,
                         const RecordPosition& current) const;
  void MarkOrdinal(std::int64_t ordinal, bool visible);

  TABSBitsArray bits_;
  TABSBitmapTable* table_;
  bool active_ = false;
  bool indexOrdered_ = false;
  std::int32_t stamp_ = -1;
};
