// The cursor for database data living in this process (the in-memory
// database), and the BLOB streams it opens on the current record.
//
// TABSLocalCursor implements every operation of TABSCursor by calls on the
// shared table data (engine/tables/ABSTableData.h) under the database lock.
// A cursor is prepared by its creator (Session, TableName and the flags),
// then either performs one table-level operation (MakeTable, RemoveTable,
// WipeTable, RenameTableTo) and is destroyed, or is attached (AttachTable,
// LoadFieldLayout) and serves one dataset until it is detached or destroyed.
//
// Ownership: TableData and DatabaseData are borrowed (the database data owns
// its tables). The cursor owns its definition copies, its BLOB stream list
// and the streams in it; a stream's owner (the dataset-level stream) is
// borrowed and linked both ways. Record buffers belong to the caller.
//
// Locks: one cursor serves one dataset on one thread and has no lock of its
// own. Every operation that reaches the table data takes the database lock
// (re-entrant) for its whole duration and leaves it on every path.
//
// Record operations never raise for refusals: PrepareEdit, AbandonChanges,
// WriteRecord and EraseRecord leave 0 or a negative CursorResultCode in
// LastResultCode (and for -8 the caught message in LastResultText). After
// -4 to -7 the table is unchanged and CurrentBuffer holds the caller's edits.
//
// BLOB edits: a writable stream's bytes go into a new block that only the
// edit owns until the record is written (the table data keeps it pending);
// the stored record keeps its block until an update replaces it. Streams are
// stored only after the update checks, so a refused update or an abandoned
// edit leaves the stored record and its BLOBs readable.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/local/ABSCursor.h"
#include "engine/tables/ABSTableData.h"
#include "engine/types/ABSStream.h"

class TABSDatabaseData;
class TABSLocalBLOBStream;

// The dataset-level object that owns an engine BLOB stream while the dataset
// uses it. The cursor calls back only through these two.
class TABSBlobStreamOwner {
 public:
  virtual ~TABSBlobStreamOwner() = default;
  // The cursor releases the stream: the owner unlinks itself and has its
  // dataset close the streams of the field (CloseBlobStreams).
  virtual void ReleaseBlobStream(TABSLocalBLOBStream& stream) = 0;
  // The stream is going away without the dataset (the cursor detaches):
  // forget it, call nothing back.
  virtual void BlobStreamGone(TABSLocalBLOBStream& stream) noexcept = 0;
};

// Stream modes of OpenBlobStream.
enum TABSBlobStreamMode : std::int32_t { bmWrite = 0, bmRead = 1, bmReadWrite = 2 };

// One BLOB field of a cursor's current record as a stream. Reads and seeks
// pass through to the bytes the table data copied out (kept as they are,
// with the block header they were stored with); a read-only stream refuses
// writing (10115) and resizing (10116).
class TABSLocalBLOBStream : public TABSStream {
 public:
  TABSLocalBLOBStream(std::int32_t mode, std::int32_t fieldNo, TABSCursor& cursor,
                      std::unique_ptr<TABSMemoryStream> data, const TABSBlobHeader& header);
  ~TABSLocalBLOBStream() override;

  std::int32_t Read(void* buffer, std::int32_t count) override;
  std::int32_t Write(const void* buffer, std::int32_t count) override;
  std::int64_t Seek(std::int64_t offset, TABSSeekOrigin origin) override;
  std::int64_t Size() const override { return data_->Size(); }
  void SetSize(std::int64_t newSize) override;

  std::int32_t Mode() const { return mode_; }
  bool Writable() const { return mode_ != bmRead; }
  std::int32_t FieldNo() const { return fieldNo_; }
  TABSCursor& Cursor() const { return cursor_; }
  TABSMemoryStream& Data() const { return *data_; }
  const TABSBlobHeader& Header() const { return header_; }
  // Written to or resized since it was opened.
  bool Modified() const { return modified_; }
  TABSBlobStreamOwner* Owner() const { return owner_; }
  // Links the dataset-level owner (nil unlinks).
  void SetOwner(TABSBlobStreamOwner* owner) { owner_ = owner; }

 private:
  const std::int32_t mode_;
  const std::int32_t fieldNo_;  // physical
  TABSCursor& cursor_;
  std::unique_ptr<TABSMemoryStream> data_;
  TABSBlobHeader header_;
  bool modified_ = false;
  TABSBlobStreamOwner* owner_ = nullptr;  // borrowed
};

class TABSLocalCursor : public TABSCursor {
 public:
  TABSLocalCursor();
  // Detaches (never raises) and frees the position cache.
  ~TABSLocalCursor() override;

  // Borrowed; nil while detached.
  TABSTableData* TableData = nullptr;
  // Refreshed from the session by every table-level operation.
  TABSDatabaseData* DatabaseData = nullptr;

  // ---- Table-level operations (ABSLocalCursorTables.cpp) ----
  // Replaces a table of the name; a failure leaves no table of the name
  // behind (also not an old one it removed) and raises the original error.
  void MakeTable(TABSFieldDefs& fieldDefs, TABSIndexDefs& indexDefs,
                 TABSConstraintDefs& constraintDefs) override;
  // 20132 when missing; 20017 while another cursor has the table open.
  void RemoveTable() override;
  // 20133 when missing.
  void WipeTable() override;
  // 20134 missing, 30451 target taken, 30452 same name, 10150 open.
  void RenameTableTo(const std::string& newTableName) override;
  void LoadFieldLayout() override;
  // 10028 when missing without AutoCreate; a failed automatic creation
  // leaves no table behind.
  void AttachTable(TABSFieldDefs& fieldDefs, TABSIndexDefs& indexDefs,
                   TABSConstraintDefs& constraintDefs) override;
  // Never raises once the database is known; discards BLOB streams first.
  void DetachTable() override;
  void EnterTableLock() override;
  void LeaveTableLock() override;
  bool AcquireTableLock(std::int32_t lockKind, std::int32_t retryCount, bool wait,
                        std::int32_t delayMilliseconds) override;
  bool ReleaseTableLock(std::int32_t lockKind, bool flag) override;
  void RenameFieldInTable(const std::string& oldName, const std::string& newName) override;
  std::int64_t LastSequenceValue(std::int32_t physicalFieldNo) override;
  void BeginChangeBatch() override;
  void CommitChangeBatch() override;
  void RollbackChangeBatch() override;

  // ---- Indexes, views and searches (ABSLocalCursorIndexes.cpp) ----
  TABSIndexDefs* FetchIndexDefs() override;
  void AddIndexToTable(const TABSIndexDef& indexDef) override;
  void DropIndexFromTable(const std::string& indexName) override;
  void DropAllIndexes() override;
  void BuildIndexFromFields(const std::vector<std::string>& fieldNames,
                            const std::vector<std::string>& directions,
                            const std::vector<std::string>& caseOptions, std::string& indexName,
                            bool& flag) override;
  bool FindIndexForFields(const std::vector<std::string>& fieldNames,
                          const std::vector<std::string>& directions,
                          const std::vector<std::string>& caseOptions) override;
  void SetDistinctFields(const std::vector<std::string>& fieldNames,
                         const std::vector<std::string>& directions,
                         const std::vector<std::string>& caseOptions) override;
  // Expression text needs a query engine: raises 10442.
  void ApplyFilterText(const std::string& filterText, bool caseInsensitive,
                       bool partialCompare) override;
  void DropFilter() override;
  // The first visible record, in the current order, whose key fields equal
  // the values (typed comparison; `partialKey`: a text key matches a prefix).
  // Found: the cursor stands on it and CurrentBuffer holds it; else nothing
  // changes.
  bool LocateByFields(const std::vector<std::string>& keyFieldNames,
                      const std::vector<const TABSVariant*>& keyValues, bool caseInsensitive,
                      bool partialKey) override;
  bool SeekByKey(bool flag) override;
  // Expression search needs a query engine: raises 10443.
  bool LocateByExpression(const std::string& fieldName, const std::string& comparisonOperator,
                          const TABSVariant& value) override;

  // ---- Records (ABSLocalCursorRecords.cpp) ----
  void CopyFieldValue(std::int32_t fieldNo, bool physical, TABSCursor& target,
                      std::int32_t targetFieldNo) override;
  void InitRecordBuffer(std::byte* buffer, bool applyDefaults) override;
  void ReleaseRecordBuffer(std::byte*& buffer) override;
  std::int64_t CountRecords() override;
  std::int64_t RecordsVersion() override;
  FetchResult FetchRecord(FetchMode mode) override;
  void SeekRecordNumber(std::int64_t recordNumber) override;
  std::int64_t CurrentRecordNumber() override;
  std::int32_t ComparePositions(const RecordPosition& position1,
                                const RecordPosition& position2) override;
  void MoveToStart() override;
  void MoveToEnd() override;
  void PrepareInsert() override;
  void PrepareEdit() override;
  void AbandonChanges(bool wasInserting) override;
  void WriteRecord(bool isInsert) override;
  void EraseRecord() override;
  bool CheckConstraints(bool isInsert) override;

  // ---- BLOB streams (ABSLocalCursorBlobs.cpp) ----
  TABSLocalBLOBStream* OpenBlobStream(bool inserting, bool editing, bool browsing,
                                      std::int32_t mode, std::int32_t fieldNo) override;
  void CloseBlobStreams(std::int32_t fieldNo) override;
  void FreeBlobStreams(bool onlyWritable) override;
  // Drops the streams without storing them (abandoned edits, detaching).
  void DiscardBlobStreams() noexcept;

 private:
  // Takes DatabaseData from the session (20151 without one).
  TABSDatabaseData& RefreshDatabase();
  // The table data or the given "not found" error.
  TABSTableData& RequireTable(std::int32_t code);
  void FreeAttachedLists() noexcept;
  // ConstraintDefs := a copy of the table's.
  void RefreshConstraintDefs(TABSTableData& table);
  // Restores CurrentBuffer from a copy when it leaves scope.
  friend class TCurrentBufferRestore;
  // The update path of WriteRecord.
  void WriteUpdate();
};
