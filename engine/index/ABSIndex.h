// The base of every index object: its own copy of the index definition, the
// table it belongs to, and the 27 operations an index offers, in slot order.
//
// TABSBTreeRecordIndex (engine/index/ABSBTree.h) implements every slot; the
// index manager calls indexes only through this class. The base implements
// CreateIndexPages (take a copy of the given definition unless it is the one
// already held) and OpenIndex (replace the held copy by a copy of the given
// definition); the other 25 slots are abstract.
//
// Session IDs: every operation that touches pages names the engine session
// on whose behalf pages are fetched (-2: work of no session). Operations on
// "the cursor's current record" take the cursor state: its CurrentBuffer (a
// record buffer, record image first), OriginalBuffer (the record before an
// edit) and Position.
//
// Ownership: the index owns its definition copy; it borrows the table and
// the index manager, which outlive it. Threads: none of its own; the caller
// holds the table's database lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "engine/schema/ABSMetaDefs.h"
#include "engine/schema/ABSRecordTypes.h"

class TABSCursorState;
class TABSIndexPositionCache;
class TABSIndexTable;
class TABSKeyPath;
class TABSBaseIndexManager;
struct NavigationRequest;

// One bound of a condition search or a range: a comparison code (1 equal,
// 2 less, 3 greater, 4 less or equal, 5 greater or equal; 0 "the last entry"
// backward) against the key of the record in RecordBuffer. Partial compares
// text parts by the length of the given text only (a prefix search);
// PartCount limits the comparison to the leading key parts (-1: all).
struct TABSScanBound {
  std::int32_t Condition = 0;
  const std::byte* RecordBuffer = nullptr;
  bool Partial = false;
  std::int32_t PartCount = -1;
};

// The state of one range scan (NewScanState / FreeScanState).
class TABSScanState;

// The record marks MarkDistinct thins out (a cursor's record bitmap). The
// ordinal is the 0-based place of the entry in index order.
class TABSIndexMarks {
 public:
  virtual ~TABSIndexMarks() = default;
  virtual bool IsMarked(std::int64_t ordinal, const RecordPosition& position) = 0;
  virtual void Unmark(std::int64_t ordinal, const RecordPosition& position) = 0;
};

class TABSIndex {
 public:
  // `table` and `manager` are borrowed; `manager` may be nil.
  TABSIndex(TABSIndexTable& table, TABSBaseIndexManager* manager);
  virtual ~TABSIndex();
  TABSIndex(const TABSIndex&) = delete;
  TABSIndex& operator=(const TABSIndex&) = delete;

  // The held definition copy; nil before CreateIndexPages or OpenIndex.
  TABSIndexDef* IndexDef() const { return def_.get(); }
  TABSIndexTable& Table() const { return table_; }
  TABSBaseIndexManager* IndexManager() const { return manager_; }

  // 0: builds the index; with a cursor, from the table's records.
  virtual void CreateIndexPages(std::int32_t sessionId, TABSCursorState* cursor,
                                const TABSIndexDef& def);
  // 1: frees every page, the root included.
  virtual void DropIndexPages(std::int32_t sessionId) = 0;
  // 2: removes every key.
  virtual void EmptyIndex(std::int32_t sessionId) = 0;
  // 3: opens an existing index.
  virtual void OpenIndex(const TABSIndexDef& def);
  // 4: DropIndexPages, then CreateIndexPages with the cursor.
  virtual void RebuildIndex(std::int32_t sessionId, TABSCursorState* cursor) = 0;
  // 5: moves the request one entry along the index. `cache` may be nil;
  // `stateValue` is the table's change counter.
  virtual void NavigateIndex(std::int32_t sessionId, NavigationRequest& request,
                             TABSIndexPositionCache* cache, std::int32_t stateValue) = 0;
  // 6: as 5 from a record whose entry is gone.
  virtual void SeekKey(std::int32_t sessionId, NavigationRequest& request) = 0;
  // 7, 8: key paths; FreeKeyPath clears the caller's pointer.
  virtual TABSKeyPath* NewKeyPath() = 0;
  virtual void FreeKeyPath(TABSKeyPath*& path) = 0;
  // 9: the path of the entry (key of `recordBuffer`, `position`).
  virtual bool FindRecordPath(std::int32_t sessionId, const RecordPosition& position,
                              TABSKeyPath& path, const std::byte* recordBuffer) = 0;
  // 10: -1, 0, 1 by index order of two paths.
  virtual int CompareKeyPaths(const TABSKeyPath* a, const TABSKeyPath* b) = 0;
  // 11: 1-based number in index order, -1 when the entry is absent.
  virtual std::int64_t RecordNumberOf(std::int32_t sessionId, const RecordPosition& position,
                                      const std::byte* recordBuffer) = 0;
  // 12: the position of entry number `n` (1-based).
  virtual void RecordAtNumber(std::int32_t sessionId, std::int64_t n, RecordPosition& position) = 0;
  // 13: among marked entries equal on the first `partCount` key parts,
  // keeps only the first marked.
  virtual void MarkDistinct(std::int32_t sessionId, TABSIndexMarks& marks,
                            std::int32_t partCount) = 0;
  // 14, 15: range scan states; FreeScanState clears the caller's pointer.
  virtual TABSScanState* NewScanState() = 0;
  virtual void FreeScanState(TABSScanState*& state) = 0;
  // 16: one step of a range scan (forward unless `backward`); true with the
  // position of the next record, false when the range is done.
  virtual bool ScanStep(std::int32_t sessionId, TABSScanState* state, bool backward,
                        const TABSScanBound* start, const TABSScanBound* end,
                        RecordPosition& position) = 0;
  // 17: compares the whole key values of two record buffers on their first
  // `partCount` parts (-1: all).
  virtual int CompareRecordKeys(const std::byte* a, const std::byte* b, std::int32_t partCount) = 0;
  // 18: -1 for a lower-bound code (3, 5), 1 for an upper-bound code (2, 4),
  // else 0.
  virtual int ConditionSide(std::int32_t condition) = 0;
  // 19: records between the two bounds, estimated from path positions.
  virtual std::int64_t EstimateRangeCount(std::int32_t sessionId, const TABSScanBound& lower,
                                          const TABSScanBound& upper,
                                          std::int64_t totalRecords) = 0;
  // 20: no entry has the key of `recordBuffer` (always true for an index
  // that is neither unique nor primary).
  virtual bool IsKeyUnique(std::int32_t sessionId, const std::byte* recordBuffer) = 0;
  // 21: as 20 for a changed record, given its old image too.
  virtual bool IsUpdateUnique(std::int32_t sessionId, const std::byte* newBuffer,
                              const std::byte* oldBuffer) = 0;
  // 22, 23: adds / removes the entry of the cursor's current record.
  virtual void InsertRecordKey(std::int32_t sessionId, const TABSCursorState& cursor) = 0;
  virtual void DeleteRecordKey(std::int32_t sessionId, const TABSCursorState& cursor) = 0;
  // 24: when the old (OriginalBuffer) and new (CurrentBuffer) keys differ,
  // removes the old entry (`removeOld`) or inserts the new one.
  virtual void UpdateRecordKey(std::int32_t sessionId, const TABSCursorState& cursor,
                               bool removeOld) = 0;
  // 25: key area size / (key size + 4), and the remainder.
  virtual void KeysPerPage(std::int32_t& keys, std::int32_t& remainder) = 0;
  // 26: the record position at the end of a path.
  virtual RecordPosition ReadPathReference(std::int32_t sessionId, const TABSKeyPath& path) = 0;

 protected:
  std::unique_ptr<TABSIndexDef> def_;

 private:
  TABSIndexTable& table_;
  TABSBaseIndexManager* manager_;
};
