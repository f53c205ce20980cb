// The index manager of a table: the table's index definitions, the index
// objects open on them, and the key maintenance that keeps every index equal
// to the table's records.
//
// A table has exactly the indexes its definitions name. A table without
// definitions (the plan table) keeps no index pages and no open index, and
// InsertKeys, UpdateKeys and DeleteKeys cost one empty-list test each.
//
// The three copies of a definition agree. The listed definition (owned
// here), the copy an open index object holds, and the copies cursors take of
// IndexDefs() carry the same RootPageNo and KeySize: after every index
// operation that can change the object's copy (build, rebuild, empty, key
// maintenance) the listed definition takes the object's root page number and
// key size, so a later reopen never uses a freed root.
//
// Failure atomicity:
// - BuildIndex / AddIndex: on failure the pages the partial index allocated
//   are freed, its definition is deleted from the list, and the first error
//   passes on.
// - InsertKeys, UpdateKeys and DeleteKeys are all or nothing across the
//   indexes: when one index fails, the keys already changed in the others are
//   put back (and their change stamps restored) before the error passes on.
//   Each single index operation is itself atomic (see ABSBTree.h).
//
// The table's page manager for an index: the table data implements
// TABSIndexTable::IndexPageManager(def) by returning GetIndexPageManager(def)
// of its index manager, so the index objects and the manager agree.
//
// Ownership: the manager owns its definition list and its open index
// objects (TABSBTreeRecordIndex). It borrows the table and both page
// managers, which outlive it. Threads: none of its own; every operation runs
// under the table's database lock, taken by the table data. The refreshing
// flag guards against re-entry on the same thread only.
//
// Session IDs: every operation that touches pages names the engine session
// on whose behalf pages are fetched (-2: work of no session). Operations that
// take a cursor work on its CurrentBuffer (the record image first), its
// OriginalBuffer (the image before an edit) and its Position.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/memory/ABSMemBlock.h"
#include "engine/schema/ABSMetaDefs.h"

class TABSCursorState;
class TABSIndex;
class TABSIndexPositionCache;
class TABSIndexTable;
class TABSPageManager;
class TABSStream;
struct NavigationRequest;

// The prefix of the name of every temporary index.
inline constexpr std::string_view kTemporaryIndexPrefix = "TEMPORARY_INDEX_";

class TABSBaseIndexManager {
 public:
  // `table`, `tablePages` (permanent indexes) and `temporaryPages`
  // (temporary indexes; an in-memory table passes its own page manager for
  // both) are borrowed and outlive the manager. Starts with no definitions.
  TABSBaseIndexManager(TABSIndexTable& table, TABSPageManager& tablePages,
                       TABSPageManager& temporaryPages);
  virtual ~TABSBaseIndexManager();
  TABSBaseIndexManager(const TABSBaseIndexManager&) = delete;
  TABSBaseIndexManager& operator=(const TABSBaseIndexManager&) = delete;

  // ---- Definitions (slots 0-2) ----

  // 0, 1: index definitions have no stream form in this system (tables live
  // in memory only): both raise 20278 and change nothing.
  virtual void LoadIndexDefs(TABSStream& stream);
  virtual void SaveIndexDefs(TABSStream& stream);
  // 2: closes every open index and replaces the list by a deep copy of
  // `defs`. On failure the list and the open indexes are as they were.
  // Builds nothing: BuildAllIndexes does.
  virtual void AssignIndexDefs(const TABSIndexDefs& defs);

  // The listed definitions; cursors copy them (CopyListFrom).
  const TABSIndexDefs& IndexDefs() const { return *defs_; }
  std::int32_t IndexCount() const { return defs_->DefCount(); }
  std::int32_t OpenIndexCount() const { return static_cast<std::int32_t>(open_.size()); }
  // The open index with this object ID, or nil (opens nothing).
  TABSIndex* FindOpenIndex(std::int32_t objectId) const;

  // ---- Building, opening, closing ----

  // BuildIndex for every definition, in list order. A failing definition is
  // deleted (see BuildIndex) and the error passes on; the ones built before
  // stay.
  void BuildAllIndexes(std::int32_t sessionId, TABSCursorState* cursor);
  // Builds the listed definition with object ID `objectId` afresh: a new
  // index object creates its pages (from the table's records when `cursor`
  // is not nil), the listed definition takes the object's root page and key
  // size, and the object is freed (an open index of that ID is closed
  // first). On failure the partial index's pages are freed, the definition
  // is deleted, and the error passes on. REQUIRES: the definition is listed
  // (else 20018) and has no pages yet.
  void BuildIndex(std::int32_t sessionId, TABSCursorState* cursor, std::int32_t objectId);
  // Appends a copy of `def` with a new object ID of the table's database,
  // then BuildIndex. Returns the new object ID. On failure nothing is added.
  std::int32_t AddIndex(std::int32_t sessionId, TABSCursorState* cursor, const TABSIndexDef& def);
  // The open index with this ID, else OpenIndex.
  TABSIndex& GetIndex(std::int32_t objectId);
  // Opens an index object on the listed definition (20018 "Index not found"
  // when none has the ID) and adds it to the open list.
  TABSIndex& OpenIndex(std::int32_t objectId);
  // Removes and frees the open index of that ID, if any.
  void CloseIndex(std::int32_t objectId);
  // Frees every page of the index, closes it and deletes its definition.
  // 20018 when no definition has the ID.
  void DropIndex(std::int32_t sessionId, std::int32_t objectId);
  // Removes every key of the index (its root stays) and closes it.
  void EmptyIndex(std::int32_t sessionId, std::int32_t objectId);
  // EmptyIndex for every definition.
  void EmptyAllIndexes(std::int32_t sessionId);

  // ---- Key maintenance ----
  // The table data calls: InsertKeys after a record is stored; UpdateKeys
  // phase 1 before an overwrite and phase 0 after a successful one
  // (UndoUpdateKeys after phase 1 when the overwrite failed); DeleteKeys
  // before a record is removed.

  // Adds the key of the cursor's record (CurrentBuffer, Position) to every
  // index; each change stamp grows by 1. All or nothing.
  void InsertKeys(std::int32_t sessionId, TABSCursorState& cursor) {
    if (defCount_ == 0) return;
    InsertKeysInAll(sessionId, cursor);
  }
  // Phase 1 removes the old keys (OriginalBuffer) where old and new keys
  // differ; phase 0 inserts the new keys (CurrentBuffer) there and grows
  // every change stamp by 1. All or nothing: a failed phase 1 leaves every
  // index with the old keys; a failed phase 0 puts the old keys back in
  // every index, so the caller only writes the original image back.
  void UpdateKeys(std::int32_t sessionId, TABSCursorState& cursor, int phase) {
    if (defCount_ == 0) return;
    UpdateKeysInAll(sessionId, cursor, phase);
  }
  // After a successful phase 1 whose overwrite failed: puts the old keys
  // back in every index.
  void UndoUpdateKeys(std::int32_t sessionId, TABSCursorState& cursor) {
    if (defCount_ == 0) return;
    RestoreOldKeys(sessionId, cursor, defs_->DefCount());
  }
  // Reads the stored record at the cursor's Position again; when it is not
  // found, nothing happens. Otherwise the stored record's key leaves every
  // index (the cursor's buffers are not changed) and each change stamp grows
  // by 1. All or nothing.
  void DeleteKeys(std::int32_t sessionId, TABSCursorState& cursor) {
    if (defCount_ == 0) return;
    DeleteKeysInAll(sessionId, cursor);
  }

  // Whether the key of `newImage` is free in the index `objectId`: for an
  // insert (`oldImage` nil) no entry has it; for an update the new key is
  // taken from `newImage` and is free when it equals the old key on whole
  // values or no entry has it. Always true for an index that is neither
  // unique nor primary.
  bool IsRecordKeyUnique(std::int32_t sessionId, std::int32_t objectId, const std::byte* newImage,
                         const std::byte* oldImage);

  // ---- Navigation ----

  // REQUIRES: request.IndexId names a listed index, and request.Direction is
  // Next or Prior. Unless a flag (BeforeFirst, AfterLast) is set, the record
  // at request.Position is read first (into request.RecordBuffer); when it
  // is gone the index's SeekKey moves on from its key, else NavigateIndex.
  // The read is skipped when `cache` holds the path for this index, position
  // and `changeCounter` (the record is then unchanged).
  void NavigateByIndex(std::int32_t sessionId, NavigationRequest& request,
                       std::int32_t changeCounter, TABSIndexPositionCache* cache);

  // ---- Finding and temporary indexes ----
  // Field lists: names, directions ("DESC" descending) and case options
  // ("NO_CASE"), of equal lengths; matched against the table's fields by
  // TABSIndexDefs::FindIndexForFieldLists (its error codes apply).

  bool IndexMatchesFields(std::int32_t sessionId, const std::vector<std::string>& names,
                          const std::vector<std::string>& directions,
                          const std::vector<std::string>& cases) const;
  // The object ID of the matching index, -1 when none.
  std::int32_t FindMatchingIndex(std::int32_t sessionId, const std::vector<std::string>& names,
                                 const std::vector<std::string>& directions,
                                 const std::vector<std::string>& cases) const;
  // Adds (AddIndex) a temporary index over the fields, private to
  // `sessionId`, named "TEMPORARY_INDEX_" + a fresh GUID text (drawn again
  // while an index of that name exists), stamped with the record manager's
  // change counter. Returns its object ID.
  std::int32_t CreateTemporaryIndex(std::int32_t sessionId, TABSCursorState* cursor,
                                    const std::vector<std::string>& names,
                                    const std::vector<std::string>& directions,
                                    const std::vector<std::string>& cases);
  // FindMatchingIndex, else CreateTemporaryIndex with `created` = true.
  std::int32_t FindOrCreateIndex(std::int32_t sessionId, TABSCursorState* cursor,
                                 const std::vector<std::string>& names,
                                 const std::vector<std::string>& directions,
                                 const std::vector<std::string>& cases, bool& created);
  // Unless already refreshing: rebuilds every temporary index whose stamp
  // differs from the record manager's change counter, stamps it with the
  // counter and sets `rebuilt`. The refreshing flag is cleared on error too.
  // Permanent indexes are never rebuilt here.
  void RefreshTemporaryIndexes(std::int32_t sessionId, TABSCursorState* cursor, bool& rebuilt);
  bool IsRefreshing() const { return refreshing_; }

  // Every index column (listed and in open indexes) whose field name equals
  // `oldName` by the engine name rule takes `newName`.
  void RenameIndexedField(std::string_view oldName, std::string_view newName);

  // The temporary page manager for a temporary index, else the table's.
  TABSPageManager& GetIndexPageManager(const TABSIndexDef& def) const;
  TABSPageManager& GetIndexPageManager(const TABSIndex& index) const;

  TABSIndexTable& Table() const { return table_; }

 protected:
  // The GUID text a temporary index name ends in (a test seam: a derived
  // manager may hand out names that are taken).
  virtual std::string DrawGuidText();

 private:
  // Runs `apply` on every index in list order, advancing each stamp; when
  // one fails, `undo` runs on those already done (newest first) and the
  // error passes on.
  template <class Apply, class Undo>
  void ForEachIndexAllOrNothing(Apply apply, Undo undo);
  void InsertKeysInAll(std::int32_t sessionId, TABSCursorState& cursor);
  void UpdateKeysInAll(std::int32_t sessionId, TABSCursorState& cursor, int phase);
  void DeleteKeysInAll(std::int32_t sessionId, TABSCursorState& cursor);
  // Best effort: puts the old keys back in the first `count` indexes after
  // their phase 1 (errors while undoing are swallowed: the first error is
  // the one passed on).
  void RestoreOldKeys(std::int32_t sessionId, TABSCursorState& cursor, std::int32_t count);
  // The listed definition of that ID; 20018 when none.
  TABSIndexDef& ListedDef(std::int32_t objectId) const;
  // The listed definition takes the object's root page number and key size.
  void SyncDef(TABSIndexDef& listed, const TABSIndex& index) const;
  std::unique_ptr<TABSIndex> NewIndexObject();

  // Constant after construction.
  TABSIndexTable& table_;
  TABSPageManager& tablePages_;
  TABSPageManager& temporaryPages_;

  // Guarded by the database lock.
  std::unique_ptr<TABSIndexDefs> defs_;
  std::vector<std::unique_ptr<TABSIndex>> open_;
  // defs_->DefCount(), kept by every operation that adds or deletes a
  // definition (the list is changed only here), so that the key maintenance
  // of a table without indexes tests a plain integer.
  std::int32_t defCount_ = 0;
  TABSMemBlock scratch_;  // a record image for DeleteKeys' reread
  bool refreshing_ = false;
};
