// Table data: the shared state of one table, owned by its database data.
//
// One table data object exists per table of a database and is shared by
// every cursor that has the table open. It knows its name and its database,
// owns the table's field, constraint and record managers, and keeps the list
// of attached cursors (referenced, never owned). Cursors never touch records
// directly: every table-level and record operation is an operation here,
// given the cursor it serves.
//
// Locks: all state is guarded by the owning database's lock (see
// ABSDatabaseData.h); the table has no lock of its own. LockTable and
// UnlockTable enter and leave that lock; record operations take it
// themselves (it is re-entrant), table-level operations rely on the caller
// holding it.
//
// Views: a cursor with a restricted view (here: the dataset's filter
// callback, a range or distinct fields) is served by a scan in record order
// that tests every record; without one the record manager answers directly.
//
// BLOBs: a BLOB field of a record image holds the address of a block of the
// engine memory manager: a 12-byte TABSBlobHeader followed by the stored
// bytes. The stored record owns its blocks; a block leaves with the record
// (delete, empty, destruction) or when an update replaces it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/local/ABSMetaDefs.h"
#include "engine/local/ABSRecordTypes.h"
#include "engine/storage/ABSConstraintTable.h"
#include "engine/types/ABSStream.h"

class TABSCursorState;
class TABSDatabaseData;
class TABSBaseFieldManager;
class TABSBaseRecordManager;
class TABSBaseConstraintManager;
class TABSStorageSession;

// The 12 bytes in front of the stored bytes of a BLOB block. The engine
// keeps BLOB bytes as they are: StoredSize equals the size of the value and
// Compression is always 0.
struct TABSBlobHeader {
  std::uint32_t StoredSize = 0;
  std::uint32_t Compression = 0;
  std::uint32_t BlockSize = 0;  // the field's BLOB block size when stored
  static constexpr std::int32_t kSize = 12;
};

// The bytes of one BLOB field while a cursor reads or edits it: a memory
// stream that remembers whether it was written to.
class TABSBlobFieldStream : public TABSMemoryStream {
 public:
  std::int32_t Write(const void* buffer, std::int32_t count) override {
    Modified = true;
    return TABSMemoryStream::Write(buffer, count);
  }
  void SetSize(std::int64_t newSize) override {
    Modified = true;
    TABSMemoryStream::SetSize(newSize);
  }
  TABSBlobHeader Header;
  bool Modified = false;
};

class TABSTableData : public TABSConstraintTable {
 public:
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

  // Managers: nil until the table was created from definitions.
  TABSBaseFieldManager* FieldManager() const { return fieldManager_.get(); }
  TABSBaseRecordManager* RecordManager() const { return recordManager_.get(); }
  TABSBaseConstraintManager* ConstraintManager() const { return constraintManager_.get(); }
  // The table's definitions (empty lists before creation).
  const TABSFieldDefs& TableFieldDefs() const;
  const TABSIndexDefs& TableIndexDefs() const { return indexDefs_; }
  const TABSConstraintDefs& TableConstraintDefs() const;

  // Maintenance state copied from an attaching cursor.
  bool MaintenanceFlag = false;

  void LockTable();
  void UnlockTable();

  // ---- Table-level operations (the caller holds the database lock) ----

  // Builds the managers from the three lists for `cursor`'s table name.
  // No fields raise 10025; any failure leaves the table without managers.
  virtual void CreateTableFromDefs(TABSCursorState& cursor, const TABSFieldDefs& fieldDefs,
                                   const TABSIndexDefs& indexDefs,
                                   const TABSConstraintDefs& constraintDefs) = 0;
  // Without `keepIfOpen` attached cursors raise 20017. The table is freed
  // (this object dies) when `keepIfOpen` is clear or no cursor is attached.
  virtual void DeleteTableData(TABSCursorState* cursor, bool keepIfOpen);
  // Removes every record (and its BLOBs); counters back to their initial
  // values; structure, name and cursors stay.
  virtual void EmptyTableData(TABSCursorState* cursor) = 0;
  // Attached cursors raise 10150; else the name changes.
  virtual void RenameTableData(std::string_view newName, TABSCursorState* cursor);
  // Appends (removes) the cursor; attaching takes the cursor's spelling of
  // the table name.
  virtual void AttachCursor(TABSCursorState& cursor);
  virtual void DetachCursor(TABSCursorState& cursor) noexcept;
  // 30343 unknown old name, 30344 new name taken.
  virtual void RenameTableField(const std::string& oldName, const std::string& newName);
  // Index slots: the definitions are kept; records are served in record
  // order by this table data.
  virtual void AddTableIndex(const TABSIndexDef& def, TABSCursorState* cursor);
  virtual void DropTableIndex(std::int32_t objectId, TABSCursorState* cursor);
  void DropAllTableIndexes(TABSCursorState* cursor);

  // ---- Record operations (each takes the database lock) ----

  virtual FetchResult FetchCursorRecord(TABSCursorState& cursor, FetchMode mode);
  std::int64_t CountVisibleRecords(TABSCursorState& cursor);
  virtual void SeekCursorRecordNumber(TABSCursorState& cursor, std::int64_t recordNumber);
  virtual std::int64_t GetCursorRecordNumber(TABSCursorState& cursor);
  // Stores the cursor's CurrentBuffer as a new record; Position becomes it.
  virtual bool InsertCursorRecord(TABSCursorState& cursor) = 0;
  // Overwrites the record at Position; BLOB blocks of the old image that the
  // new one no longer holds are freed.
  virtual bool UpdateCursorRecord(TABSCursorState& cursor) = 0;
  // Removes the record at Position and its BLOBs; Position moves to the
  // next record, else the prior one, else before the start.
  virtual bool DeleteCursorRecord(TABSCursorState& cursor) = 0;
  // Whether the record in the cursor's CurrentBuffer is visible to it.
  bool RecordPassesView(const TABSCursorState& cursor) const;
  virtual void RecordBufferReleased(std::byte* /*buffer*/) {}

  // ---- BLOBs (each takes the database lock) ----

  // A stream for field `fieldNo` of the cursor's CurrentBuffer: empty when
  // inserting, when not reading (mode 0) or when the field is NULL, else a
  // copy of the stored bytes. Block size 0 raises 10420.
  virtual std::unique_ptr<TABSBlobFieldStream> OpenBlobFieldStream(TABSCursorState& cursor,
                                                                   bool inserting,
                                                                   std::int32_t mode,
                                                                   std::int32_t fieldNo);
  // Puts the stream's bytes into a new block in field `fieldNo` of `image`
  // (NULL for an empty stream) and returns the block (nil for none). The
  // block the field held before is left alone: its owner decides.
  virtual void* StoreBlobFromStream(void* image, std::int32_t fieldNo, TABSBlobFieldStream& stream);
  // A copy of the bytes of field `fieldNo` of `image` (nil block and zero
  // header for NULL) and their count.
  virtual void ReadBlobField(std::int32_t fieldNo, TABSMemBlock& buffer, std::int64_t& length,
                             TABSBlobHeader& header, const void* image);
  // A new block with `length` bytes of `buffer` into field `fieldNo` of
  // `image` (NULL for length 0); returns it. The old block is left alone.
  virtual void* WriteBlobField(std::int32_t fieldNo, const void* buffer, std::int64_t length,
                               const TABSBlobHeader& header, void* image);
  // Frees the block of field `fieldNo` of `image` and sets it NULL.
  virtual void FreeBlobField(void* image, std::int32_t fieldNo) noexcept;
  void FreeRecordBlobs(void* image) noexcept;

  // Last value of the field's sequence for the session (Part of the field
  // manager).
  virtual std::int64_t GetFieldLastValue(TABSStorageSession* session, std::int32_t fieldNo);
  virtual void CommitTableSession(std::int32_t /*sessionId*/, bool /*inTransaction*/) {}
  virtual void DiscardTableSession(std::int32_t /*sessionId*/, bool /*inTransaction*/) {}

  // Slot 39. Runs when session `sessionId` rolls back a transaction: brings
  // the temporary indexes of that session's attached cursors up to date.
  virtual void EndSessionBatch(std::int32_t sessionId);

  // ---- TABSConstraintTable ----
  const std::string& ConstraintTableName() const override { return tableName_; }
  std::int32_t ConstraintTableId() const override { return -1; }
  const TABSFieldDefs& ConstraintFieldDefs() const override { return TableFieldDefs(); }
  const TABSIndexDefs& ConstraintIndexDefs() const override { return indexDefs_; }
  std::int64_t ConstraintRecordCount() const override;
  std::int32_t NextObjectId() override;
  bool IsKeyUnique(std::int32_t indexId, std::int32_t sessionId, const std::byte* image) override;
  bool IsUpdateUnique(std::int32_t indexId, std::int32_t sessionId, const std::byte* newImage,
                      const std::byte* originalImage) override;

 protected:
  // Walks one step in the cursor's view (record order); the found record is
  // in `buffer`.
  FetchResult ViewStep(TABSCursorState& cursor, FetchMode mode);
  bool HasBlobs() const;

  // Guarded by the database lock.
  std::vector<TABSCursorState*> cursors_;
  std::unique_ptr<TABSBaseFieldManager> fieldManager_;
  std::unique_ptr<TABSBaseConstraintManager> constraintManager_;
  std::unique_ptr<TABSBaseRecordManager> recordManager_;
  TABSIndexDefs indexDefs_;

 private:
  TABSDatabaseData& database_;
  // Guarded by the database lock.
  std::string tableName_;
  std::string tableNameKey_;
};

// A table of the in-memory database: records and BLOBs live in process
// memory only.
class TABSMemoryTableData : public TABSTableData {
 public:
  // `recordGrowthStep`: record slots the record store adds at a time.
  TABSMemoryTableData(TABSDatabaseData& database, std::string_view tableName,
                      std::int32_t recordGrowthStep);
  ~TABSMemoryTableData() override;

  std::int32_t RecordGrowthStep() const { return recordGrowthStep_; }

  void CreateTableFromDefs(TABSCursorState& cursor, const TABSFieldDefs& fieldDefs,
                           const TABSIndexDefs& indexDefs,
                           const TABSConstraintDefs& constraintDefs) override;
  void EmptyTableData(TABSCursorState* cursor) override;
  bool InsertCursorRecord(TABSCursorState& cursor) override;
  bool UpdateCursorRecord(TABSCursorState& cursor) override;
  bool DeleteCursorRecord(TABSCursorState& cursor) override;

 private:
  void FreeAllRecordBlobs() noexcept;
  const std::int32_t recordGrowthStep_;
};
