// The order of one index as a record bitmap in index order sees it: a key
// path and the 0-based place (ordinal) of its entry, one from the other.
//
// A path is turned into an ordinal by reading the record it refers to and
// asking the index for that record's number; an ordinal into a path by
// asking the index for the record at that number and finding its path.
// Each step costs a few descents of the tree, so a caller that walks many
// entries keeps to ordinals inside the bitmap and converts only at the ends.
//
// Ownership: borrows the index and the record manager for its life; owns a
// record buffer of the record manager's record size (engine memory).
// Threads: used under the table's database lock, like the index.
#pragma once

#include <cstdint>

#include "engine/index/ABSRecordBitmap.h"
#include "engine/memory/ABSMemBlock.h"

class TABSIndex;
class TABSBaseRecordManager;

class TABSIndexBitmapOrder final : public TABSBitmapIndexOrder {
 public:
  // Pages are read on behalf of session `sessionId`.
  TABSIndexBitmapOrder(TABSIndex& index, TABSBaseRecordManager& records, std::int32_t sessionId);

  // -1 when the path's record cannot be read or has no entry.
  std::int64_t OrdinalOfKeyPath(const TABSKeyPath& path) override;
  // REQUIRES: 0 <= ordinal < the number of entries (the index's errors
  // otherwise).
  void MoveKeyPathToOrdinal(std::int64_t ordinal, TABSKeyPath& path) override;

 private:
  // Reads the record at `position` into the buffer; false when it is gone.
  bool ReadRecord(const RecordPosition& position);

  TABSIndex& index_;
  TABSBaseRecordManager& records_;
  std::int32_t sessionId_;
  TABSMemBlock buffer_;
};
