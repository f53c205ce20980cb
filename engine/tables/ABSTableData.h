// Table data: the shared state of one table, owned by its database data.
//
// One table data object exists per table of a database and is shared by
// every cursor that has the table open. It owns the table's field,
// constraint and record managers (the memory table also its page manager),
// knows its name and its database, and keeps the list of attached cursors
// (referenced, never owned). Cursors never touch records themselves: every
// table-level and record-level operation is an operation of the table data.
//
// TABSTableData holds what every kind of table shares; TABSMemoryTableData
// keeps records, index pages and BLOBs in process memory only.
//
// Locks: all state is guarded by the owning database's lock (see
// ABSDatabaseData.h); the table has no lock of its own. Every public
// operation that reads or changes records or definitions takes that lock
// itself (it is re-entrant, so a cursor may hold it around several calls).
//
// Failure: a failed create installs nothing (the managers are built aside
// and installed when every step succeeded); a failed record operation
// leaves the stored records, their keys and their BLOB blocks as they were.
// Destructors never raise.
//
// Session ID -2 stands for work that belongs to no session (emptying,
// destruction, work without a cursor).
//
// The table data serves the record bitmaps (TABSBitmapTable), the
// constraint manager (TABSConstraintTable) and the indexes
// (TABSIndexTable) as the table they were written against.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/index/ABSConstraintTable.h"
#include "engine/index/ABSIndexTable.h"
#include "engine/index/ABSRecordBitmap.h"
#include "engine/schema/ABSRecordTypes.h"
#include "platform/os/RankedMutex.h"

class TABSCursorState;
class TABSDatabaseData;
class TABSBaseFieldManager;
class TABSBaseRecordManager;
class TABSBaseConstraintManager;
class TABSBaseIndexManager;
class TABSIndex;
class TABSPageManager;
class TABSStream;
class TABSMemoryStream;
class TABSFieldDefs;
class TABSIndexDefs;
class TABSIndexDef;
class TABSConstraintDefs;
class TABSMetaObjectDefs;
class TABSStorageSession;
struct NavigationRequest;

// The three 32-bit values the BLOB stream layer keeps in front of a BLOB's
// bytes; the table stores them unchanged.
struct TABSBlobHeader {
  std::uint32_t Values[3] = {0, 0, 0};
  friend bool operator==(const TABSBlobHeader&, const TABSBlobHeader&) = default;
};

class TABSTableData : public TABSIndexTable, public TABSConstraintTable, public TABSBitmapTable {
 public:
  static constexpr std::int32_t kNoSessionId = -2;
  static constexpr std::int32_t kBlobHeaderSize = 12;

  TABSTableData(TABSDatabaseData& database, std::string_view tableName);
  ~TABSTableData() override;
  TABSTableData(const TABSTableData&) = delete;
  TABSTableData& operator=(const TABSTableData&) = delete;

  TABSDatabaseData& DatabaseData() const { return database_; }

  // The name as last given by a cursor, and its comparison key under the
  // engine name rule (kept so that lookups need not upper-case it again).
  const std::string& TableName() const { return tableName_; }
  const std::string& TableNameKey() const { return tableNameKey_; }
  // REQUIRES: the database lock.
  void SetTableName(std::string_view tableName);

  // The attached cursors, in attaching order; borrowed.
  const std::vector<TABSCursorState*>& Cursors() const { return cursors_; }
  std::size_t AttachedCursorCount() const { return cursors_.size(); }

  // The managers; nil until set up. Borrowed by the caller.
  TABSBaseFieldManager* FieldManager() const { return fieldManager_.get(); }
  TABSBaseRecordManager* RecordManager() const { return recordManager_.get(); }
  TABSBaseConstraintManager* ConstraintManager() const { return constraintManager_.get(); }
  TABSBaseIndexManager* IndexManager() const { return indexManager_.get(); }
  // The table's index definitions (empty without an index manager).
  const TABSIndexDefs& IndexDefs() const;
  bool BlobStreamsInMemory() const { return blobStreamsInMemory_; }
  bool MaintenanceFlag() const { return maintenanceFlag_; }

  // ---- Slots 0-39 ----

  // 0. Replaces the record manager by a new one for GetRecordSize().
  virtual void CreateRecordManager() = 0;
  // 1. A new field manager with copies of `defs`, each with a new object ID;
  // layout computed, auto-increment counters reset. On failure nothing changes.
  virtual void SetFieldDefs(const TABSFieldDefs& defs);
  // 2. A new index manager with copies of `defs`, each with a new object ID
  // (nothing is built: CreateTableFromDefs builds).
  virtual void SetIndexDefs(const TABSIndexDefs& defs);
  // 3. A new constraint manager with copies of `defs` (new object IDs, the
  // table's name), bound and named. Kinds other than 0, 2, 3, 4 raise 30040.
  virtual void SetConstraintDefs(const TABSConstraintDefs& defs);
  // 4. Gives the cursor the offset of field 0 and the record size.
  virtual void GetRecordLayout(TABSCursorState& cursor);
  // 5, 6. Commit or discard the session's pending pages unless in a transaction.
  virtual void CommitTableSession(std::int32_t sessionId, bool inTransaction);
  virtual void DiscardTableSession(std::int32_t sessionId, bool inTransaction);
  // 7. Builds the table from definitions for the creating cursor. No fields
  // raise 10025. All or nothing: on failure the table is as it was.
  virtual void CreateTableFromDefs(TABSCursorState& cursor, const TABSFieldDefs& fields,
                                   const TABSIndexDefs& indexes,
                                   const TABSConstraintDefs& constraints) = 0;
  // 8. Attached cursors raise 20017 unless `keepIfOpen`. Returns true when the
  // table freed itself (the caller must not touch it afterwards).
  virtual bool DeleteTableData(TABSCursorState* cursor, bool keepIfOpen);
  // 9. Auto-increment counters back to their initial values and the indexes
  // emptied; the memory table also frees every BLOB and every record.
  virtual void EmptyTableData(TABSCursorState* cursor);
  // 10. Attached cursors raise 10150; else the name changes.
  virtual void RenameTableData(std::string_view newName, TABSCursorState* cursor);
  // 11, 12. The cursor list (borrowed cursors).
  virtual void AttachCursor(TABSCursorState& cursor);
  virtual void DetachCursor(TABSCursorState& cursor);
  // 13. 30343 for an unknown old name, 30344 for a taken new name.
  virtual void RenameTableField(std::string_view oldName, std::string_view newName);
  // 14, 15. Adds an index (built from the records; a permanent unique or
  // primary index also gets its constraint), keeping the cursor's position;
  // drops one with its constraint. All or nothing. Without an index manager
  // (a table never created) both raise kNoIndexManager.
  virtual void AddTableIndex(const TABSIndexDef& def, TABSCursorState* cursor);
  virtual void DropTableIndex(std::int32_t indexId, TABSCursorState* cursor);
  // 16-18. Counts and ordinals.
  virtual std::int64_t GetTableRecordCount(std::int32_t sessionId) = 0;
  virtual std::int64_t PositionToOrdinal(const RecordPosition& position) = 0;
  virtual void OrdinalToPosition(RecordPosition& position, std::int64_t ordinal) = 0;
  // 19. Nothing for tables that keep no per-buffer state.
  virtual void RecordBufferReleased(std::byte* /*recordBuffer*/) {}
  // 20. One step of the cursor (see the .cpp); the cursor's CurrentBuffer
  // receives the record.
  virtual FetchResult FetchCursorRecord(TABSCursorState& cursor, FetchMode mode);
  // Up to `count` steps forward under one lock, as that many calls of
  // FetchCursorRecord(cursor, Next) with CurrentBuffer set to buffers[0],
  // buffers[1], ... would take them, stopping after the first that finds
  // nothing (the cursor then at the end as that call leaves it). Returns
  // the records fetched; CurrentBuffer is left as it was. For a window of
  // rows or a reader of many: one lock and one call per batch.
  virtual std::int32_t FetchNextCursorRecords(TABSCursorState& cursor, std::byte* const* buffers,
                                              std::int32_t count);
  // 21. The first record of the view for which `matches` answers true
  // (record order); on success the cursor stands on it.
  virtual bool LocateRecordImage(TABSCursorState& cursor,
                                 bool (*matches)(void* context, const std::byte* image),
                                 void* context);
  // 22. Key searches need an index: 20258 without one.
  virtual bool SeekByCondition(TABSCursorState& cursor, int kind);
  // 23-29. BLOB access (see ABSTableDataBlobs.cpp).
  virtual void StoreBlobFromStream(std::byte* image, std::int32_t fieldNo, TABSStream& stream,
                                   const TABSBlobHeader& header, bool modified) = 0;
  virtual void FreeBlobField(std::byte* image, std::int32_t fieldNo);
  virtual void FreeRecordBlobs(std::byte* image);
  virtual std::unique_ptr<TABSMemoryStream> OpenBlobFieldStream(const std::byte* image,
                                                                std::int32_t fieldNo,
                                                                TABSBlobHeader& header) = 0;
  // A NULL field gives a zero header, length 0 and a nil buffer; else a new
  // buffer (free with FreeBlobBuffer) with a copy of the bytes.
  virtual void ReadBlobField(std::int32_t fieldNo, void*& buffer, std::int64_t& length,
                             TABSBlobHeader& header, const std::byte* image) = 0;
  virtual void WriteBlobField(std::int32_t fieldNo, const void* buffer, std::int64_t length,
                              const TABSBlobHeader& header, std::byte* image) = 0;
  virtual void FreeBlobBuffer(void*& buffer) = 0;
  // 30-32. Record changes from the cursor's CurrentBuffer at its Position;
  // false when the record store refuses. All or nothing with the keys.
  virtual bool InsertCursorRecord(TABSCursorState& cursor) = 0;
  virtual bool DeleteCursorRecord(TABSCursorState& cursor) = 0;
  virtual bool UpdateCursorRecord(TABSCursorState& cursor) = 0;
  // 33. Positions on visible record n (1-based): above the count the last,
  // below 1 the first; nothing on an empty view.
  virtual void SeekCursorRecordNumber(TABSCursorState& cursor, std::int64_t number);
  // 34. The 1-based number of the cursor's record; -1 at an end or when the
  // view is empty.
  virtual std::int64_t GetCursorRecordNumber(TABSCursorState& cursor);
  // 35, 36. Record numbers in record order.
  virtual void RecordNumberToPosition(TABSCursorState& cursor, std::int64_t number) = 0;
  virtual std::int64_t PositionToRecordNumber(TABSCursorState& cursor) = 0;
  // 37. Every live record, under the lock.
  virtual std::int64_t CountAllRecords(TABSCursorState& cursor) = 0;
  // 38. The last sequence value of a field for `session`.
  virtual std::int64_t GetFieldLastValue(TABSStorageSession* session, std::int32_t fieldNo);
  // 39. Runs when session `sessionId` rolls back a transaction: brings the
  // temporary indexes of that session's attached cursors up to date.
  virtual void EndSessionBatch(std::int32_t sessionId);

  // ---- Non-virtual operations ----

  // Every definition takes a new object ID of the database.
  void AssignObjectIds(TABSMetaObjectDefs& defs);
  // The record image size (the field manager's); 0 without a field manager.
  std::int32_t GetRecordSize() const;
  void LockTable();
  void UnlockTable();
  void DropAllTableIndexes(TABSCursorState* cursor);
  // Visible records of the cursor's view.
  std::int64_t CountVisibleRecords(TABSCursorState& cursor);
  // Rebuilds the cursor's record bitmap when it is stale or missing.
  void RefreshCursorBitmap(TABSCursorState& cursor);
  // Whether the record in the cursor's CurrentBuffer lies in its view: in
  // its range (through its index), accepted by the dataset's filter
  // callback. Filter expressions and query conditions raise kNoQueryEngine;
  // a range without a current index raises kViewNeedsIndex.
  bool RecordPassesView(const TABSCursorState& cursor) const;
  bool PassesView(const TABSCursorState& cursor, const std::byte* buffer) const;
  // Grows by one on every stored, overwritten or removed record and on every
  // emptying; wraps around (readers test for equality).
  std::int32_t TableChangeCounter() const;
  // TableChangeCounter as a non-negative number, read under the database
  // lock, for a cursor whose view the table's changes decide alone; -1 for
  // a restricted view (range, distinct, filter).
  std::int64_t CursorRecordsVersion(const TABSCursorState& cursor) const;
  // The page manager of the table (the memory table's own); may be nil.
  TABSPageManager* TablePageManager() const { return pageManager_; }

  // The session ID and transaction state of a cursor's session; -2 and
  // false without a session.
  static std::int32_t CursorSessionId(const TABSCursorState& cursor);
  static bool CursorInTransaction(const TABSCursorState& cursor);

  // ---- TABSIndexTable ----
  const TABSBaseFieldManager* IndexFieldManager() const override {
    return buildingFields_ != nullptr ? buildingFields_ : fieldManager_.get();
  }
  TABSBaseRecordManager& IndexRecordManager() override;
  TABSPageManager& IndexPageManager(const TABSIndexDef& def) override;
  std::int32_t NextObjectId() override;

  // ---- TABSConstraintTable ----
  const std::string& ConstraintTableName() const override { return tableName_; }
  std::int32_t ConstraintTableId() const override { return -1; }
  const TABSFieldDefs& ConstraintFieldDefs() const override;
  const TABSIndexDefs& ConstraintIndexDefs() const override { return IndexDefs(); }
  std::int64_t ConstraintRecordCount() const override;
  bool IsKeyUnique(std::int32_t indexId, std::int32_t sessionId, const std::byte* image) override;
  bool IsUpdateUnique(std::int32_t indexId, std::int32_t sessionId, const std::byte* newImage,
                      const std::byte* originalImage) override;

  // ---- TABSBitmapTable ----
  std::int32_t BitmapRecordIdOf(const RecordPosition& position) const override;
  void BitmapPositionOf(std::int32_t recordId, RecordPosition& position) const override;
  std::int64_t BitmapRecordCount() const override;
  std::int32_t BitmapChangeCounter() const override;

 protected:
  // The step of FetchCursorRecord without taking the lock, for an override
  // that already holds it (the lock is recursive, but each level costs).
  // REQUIRES: the database lock.
  FetchResult FetchCursorRecordLocked(TABSCursorState& cursor, FetchMode mode);
  // Drops the pages a failed emptying changed for kNoSessionId, so that the
  // stored pages count again and no later writer meets them held. Never
  // raises (the failure being handled is the one that counts).
  // REQUIRES: the caller holds the database lock and no page is in use.
  void DiscardEmptyingPages() noexcept;
  // Builds the managers of a new definition set aside; Install takes them
  // over only when every step succeeded.
  struct Staged {
    std::unique_ptr<TABSBaseFieldManager> fields;
    std::unique_ptr<TABSBaseIndexManager> indexes;
    std::unique_ptr<TABSBaseConstraintManager> constraints;
    std::unique_ptr<TABSBaseRecordManager> records;
  };
  std::unique_ptr<TABSBaseFieldManager> BuildFieldManager(const TABSFieldDefs& defs);
  std::unique_ptr<TABSBaseIndexManager> BuildIndexManager(const TABSIndexDefs& defs);
  // The index manager in use (the one being built during a create).
  TABSBaseIndexManager* ActiveIndexManager() const;
  TABSBaseIndexManager& RequireIndexManager() const;
  // One navigation step of the cursor's request, through its index when the
  // request names one and is not for the current record.
  void Navigate(TABSCursorState& cursor, NavigationRequest& request);
  std::unique_ptr<TABSBaseConstraintManager> BuildConstraintManager(const TABSConstraintDefs& defs);
  void Install(Staged staged) noexcept;
  // The common end of a table's destruction, after the derived class has
  // emptied it: drops the indexes, frees the index manager before the page
  // manager its index objects borrow, commits what is pending for no session
  // and frees the record manager. Never raises. REQUIRES: the database lock.
  void ReleaseIndexesAndRecords() noexcept;

  // The view scan: from the cursor's place (or from an end when `fromEnd`)
  // one step forward or backward in the cursor's order (its index, else
  // record order) to the next record that passes the view; fills
  // CurrentBuffer and the cursor's place. False when there is none (the
  // position is then unchanged; CurrentBuffer holds the last record read).
  bool ViewStep(TABSCursorState& cursor, bool forward, bool fromEnd);
  // The cursor's current index, for its range or distinct view.
  TABSIndex& ViewIndex(const TABSCursorState& cursor) const;
  // Whether the record manager is set; `code` is raised when not.
  TABSBaseRecordManager& RequireRecordManager(std::int32_t code) const;
  // The record of the cursor read again into `buffer` (FetchMode::Current).
  bool ReadRecordAt(const RecordPosition& position, std::byte* buffer);

  // Guarded by the database lock.
  std::vector<TABSCursorState*> cursors_;
  std::unique_ptr<TABSBaseFieldManager> fieldManager_;
  std::unique_ptr<TABSBaseIndexManager> indexManager_;
  std::unique_ptr<TABSBaseConstraintManager> constraintManager_;
  std::unique_ptr<TABSBaseRecordManager> recordManager_;
  // Owned by the derived table that sets it (the memory table's own).
  TABSPageManager* pageManager_ = nullptr;
  bool maintenanceFlag_ = false;
  bool blobStreamsInMemory_ = false;
  // While a create builds its managers aside: the definitions being built,
  // which the new managers see as the table's own. Nil otherwise.
  const TABSBaseFieldManager* buildingFields_ = nullptr;
  TABSBaseIndexManager* buildingIndexes_ = nullptr;
  TABSBaseRecordManager* buildingRecords_ = nullptr;
  // The table has a field of a BLOB storage type (set with the fields).
  bool hasBlobFields_ = false;
  // Times the table was emptied; part of TableChangeCounter.
  std::int32_t emptyCount_ = 0;

 private:
  TABSDatabaseData& database_;
  // Guarded by the database lock.
  std::string tableName_;
  std::string tableNameKey_;
};

// A table of the in-memory database: records, index pages and BLOBs live in
// process memory only. BLOB fields hold the address of a block of the
// engine memory manager: the 12-byte header, then the bytes. The stored
// record owns its blocks; a record image outside the store (a cursor's
// buffer being edited) owns the blocks it points to only where they differ
// from the stored record's.
class TABSMemoryTableData : public TABSTableData {
 public:
  // `recordGrowthStep`: record slots the record store adds at a time.
  TABSMemoryTableData(TABSDatabaseData& database, std::string_view tableName,
                      std::int32_t recordGrowthStep);
  // Empties the table and commits pending pages; never raises.
  ~TABSMemoryTableData() override;

  std::int32_t RecordGrowthStep() const { return recordGrowthStep_; }

  void CreateRecordManager() override;
  void CreateTableFromDefs(TABSCursorState& cursor, const TABSFieldDefs& fields,
                           const TABSIndexDefs& indexes,
                           const TABSConstraintDefs& constraints) override;
  void EmptyTableData(TABSCursorState* cursor) override;
  std::int64_t GetTableRecordCount(std::int32_t sessionId) override;
  std::int64_t PositionToOrdinal(const RecordPosition& position) override {
    return position.RecordId;
  }
  void OrdinalToPosition(RecordPosition& position, std::int64_t ordinal) override;

  void StoreBlobFromStream(std::byte* image, std::int32_t fieldNo, TABSStream& stream,
                           const TABSBlobHeader& header, bool modified) override;
  void FreeBlobField(std::byte* image, std::int32_t fieldNo) override;
  std::unique_ptr<TABSMemoryStream> OpenBlobFieldStream(const std::byte* image,
                                                        std::int32_t fieldNo,
                                                        TABSBlobHeader& header) override;
  void ReadBlobField(std::int32_t fieldNo, void*& buffer, std::int64_t& length,
                     TABSBlobHeader& header, const std::byte* image) override;
  void WriteBlobField(std::int32_t fieldNo, const void* buffer, std::int64_t length,
                      const TABSBlobHeader& header, std::byte* image) override;
  void FreeBlobBuffer(void*& buffer) override;

  // The step to the next record in record order without a view goes
  // straight to the memory record store; everything else as in the base.
  FetchResult FetchCursorRecord(TABSCursorState& cursor, FetchMode mode) override;
  // Record order without a view: the record store's plain steps in a loop.
  std::int32_t FetchNextCursorRecords(TABSCursorState& cursor, std::byte* const* buffers,
                                      std::int32_t count) override;
  bool InsertCursorRecord(TABSCursorState& cursor) override;
  bool DeleteCursorRecord(TABSCursorState& cursor) override;
  bool UpdateCursorRecord(TABSCursorState& cursor) override;
  void RecordNumberToPosition(TABSCursorState& cursor, std::int64_t number) override;
  std::int64_t PositionToRecordNumber(TABSCursorState& cursor) override;
  std::int64_t CountAllRecords(TABSCursorState& cursor) override;
  std::int64_t GetFieldLastValue(TABSStorageSession* session, std::int32_t fieldNo) override;

  // Ends an edit of the cursor's CurrentBuffer that will not be stored:
  // frees the BLOB blocks the edit took and makes those fields NULL; the
  // blocks of stored records stay.
  void CancelEditBlobs(TABSCursorState& cursor);
  // BLOB blocks written into record images but not yet owned by a stored record.
  std::size_t PendingBlobCount() const;

  // Whether every page of the table is committed; raises 20097 when not.
  // Destruction commits first instead of raising.
  void CheckAllPagesCommitted() const;

 private:
  // A new block of `length` + 12 bytes holding `header` and the bytes,
  // recorded as pending.
  void* NewPendingBlock(const void* bytes, std::int64_t length, const TABSBlobHeader& header);
  // Replaces BLOB field `fieldNo` of `image` by `block` (nil: NULL); the old
  // block is freed only when it was pending (a stored record owns the others).
  void PutBlockIntoField(std::byte* image, std::int32_t fieldNo, void* block);
  bool IsPending(const void* block) const;
  void ForgetPending(const void* block) noexcept;
  void FreePending(void* block) noexcept;
  // The blocks of `image` now belong to a stored record.
  void AdoptBlobs(const std::byte* image) noexcept;
  // After a stored record was replaced or removed: frees the blocks of
  // `old` that `kept` (nil: none) no longer points to.
  void FreeReplacedBlobs(const std::byte* old, const std::byte* kept) noexcept;
  void FreeAllPending() noexcept;

  const std::int32_t recordGrowthStep_;
  std::unique_ptr<TABSPageManager> ownPageManager_;
  // Guarded by the database lock.
  std::vector<void*> pendingBlobs_;
};
