// The state every engine cursor carries, the layout of the record buffers
// that pass through it, and the helpers that work on that state alone.
//
// Record buffer layout (every record and key buffer of a cursor):
//
//   0                 DataSize bytes  null bitmap, then the fields, exactly as
//                                     the record image (bit n of byte n / 8 set
//                                     means field n is NULL)
//   PositionOffset    6 bytes         RecordPosition of the record held
//   PositionOffset+6  1 byte          RecordFlag
//   CalcAreaOffset    ...             the dataset's calculated-field area
//
// Key buffers are KeyBufferSize (= DataSize + 6) bytes; the table component
// keeps a modified flag at KeyInfoOffset, a range flag at KeyInfoOffset + 1
// and a 32-bit key field count at KeyInfoOffset + 2.
//
// TABSCursor declares the 47 operations of a cursor; TABSLocalCursor
// implements them. The storage layer (table data, index manager, record
// bitmaps, B-tree) reads and writes the public state while the cursor
// operation that called it holds the database lock. The helpers here take
// no lock: one cursor serves one dataset on one thread.
//
// Ownership: the cursor owns its definition copies, its BLOB stream list,
// its record bitmap, its filter expression and its position cache. It never
// owns CurrentBuffer, OriginalBuffer, the range keys, SearchKey,
// QueryExpression or the session. Every buffer a helper allocates comes from
// EngineMemoryManager and goes back to it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/local/ABSLateOwned.h"
#include "engine/local/ABSMetaDefs.h"
#include "engine/local/ABSRecordTypes.h"

class TABSVariant;
class TABSLocalSession;
class TABSRecordBitmap;
class TABSLocalBLOBStream;
// A compiled expression of the query engine (see ABSMetaDefs.h).
class TABSExpression;
// The path from the root of a B-tree index to one of its keys.
class TABSKeyPath;

// A saved position: AtStart, AtEnd and the 6-byte RecordPosition, packed
// into an 8-byte block of the engine memory manager.
struct PositionSnapshot {
  std::uint8_t AtStart;
  std::uint8_t AtEnd;
  std::uint8_t Position[RecordPosition::kStoredSize];
};
static_assert(sizeof(PositionSnapshot) == 8);

// Where the last indexed step of a cursor stopped. An indexed step whose
// index, starting position and table change counter equal the cached ones
// continues from the cached path instead of searching the key again. Read
// and written only by the index; the cursor creates and frees it.
class TABSIndexPositionCache {
 public:
  TABSLateOwned<TABSKeyPath> KeyPath;
  std::int32_t IndexId = -1;  // -1 while empty
  RecordPosition Position;
  std::int32_t ChangeCounter = -1;  // -1 while empty

  bool IsEmpty() const { return IndexId == -1; }
  bool Matches(std::int32_t indexId, const RecordPosition& from, std::int32_t changeCounter) const {
    return !IsEmpty() && IndexId == indexId && Position == from && ChangeCounter == changeCounter;
  }
  void Fill(TABSLateOwned<TABSKeyPath> path, std::int32_t indexId, const RecordPosition& position,
            std::int32_t changeCounter);
  void Clear();
};

// The dataset's record filter: whether the record in `recordBuffer` is
// visible to the dataset `owner`.
using TABSRecordFilter = bool (*)(void* owner, const std::byte* recordBuffer);

// Binds a query expression to a cursor; installed by a query engine. This
// system has none, so the hook stays nil.
using TABSQueryExpressionBinder = void (*)(TABSExpression* expression, class TABSCursor& cursor,
                                           void* arg1, void* arg2);
extern TABSQueryExpressionBinder QueryExpressionBinder;

class TABSCursor {
 public:
  TABSCursor();
  virtual ~TABSCursor();
  TABSCursor(const TABSCursor&) = delete;
  TABSCursor& operator=(const TABSCursor&) = delete;

  // ---- State (public: the storage layer works on it directly) ----

  // The logical field list was installed by SetProjection: LoadFieldLayout
  // keeps it and DetachTable does not free it.
  bool ProjectionSet = false;
  std::string TableName;
  std::string IndexName;      // current index, empty for none
  std::int32_t IndexId = -1;  // -1: no index, records in physical order
  bool ReadOnly = false;
  bool Exclusive = false;
  bool InMemory = false;
  bool Temporary = false;
  TABSLocalSession* Session = nullptr;  // not owned
  bool Attached = false;
  std::byte* CurrentBuffer = nullptr;   // set by the caller before each operation
  std::byte* ScratchBuffer = nullptr;   // the table data's own, while it walks distinct values
  std::byte* OriginalBuffer = nullptr;  // the record as it was when an edit began
  std::unique_ptr<TABSConstraintDefs> ConstraintDefs;
  std::unique_ptr<TABSFieldDefs> PhysicalFieldDefs;  // record order, offsets computed
  // The fields as the dataset sees them; entry i maps to physical field
  // PhysicalFieldNo.
  std::unique_ptr<TABSFieldDefs> LogicalFieldDefs;
  std::unique_ptr<TABSIndexDefs> IndexDefs;
  // The BLOB streams open on the current record; nil until attached.
  std::unique_ptr<std::vector<TABSLateOwned<TABSLocalBLOBStream>>> BlobStreams;
  // The records visible through a filter, range or distinct view.
  TABSLateOwned<TABSRecordBitmap> RecordBitmap;
  // Set by InvalidateView: the RecordBitmap no longer matches the view and
  // must be rebuilt before use; cleared by whoever rebuilds it.
  bool RecordBitmapStale = true;
  std::unique_ptr<TABSIndexPositionCache> PositionCache;  // created with the cursor
  bool DiskLockHeld = false;
  bool BatchPending = false;
  bool KeepTempInMemory = false;
  bool MaintenanceMode = false;
  std::int32_t LastResultCode = 0;  // 0 or a negative CursorResultCode
  std::string LastResultText;
  bool AutoCreate = false;
  std::int32_t RecordBufferSize = 0;
  std::int32_t BaseBufferSize = 0;
  std::int32_t KeyBufferSize = 0;
  std::int32_t KeyInfoOffset = 0;
  std::int32_t SearchKeyCount = 0;
  std::int32_t FirstFieldOffset = 0;
  std::int32_t CalcAreaOffset = 0;
  std::int32_t PositionOffset = 0;
  TABSLateOwned<TABSExpression> FilterExpression;
  TABSExpression* QueryExpression = nullptr;  // not owned
  std::byte* SearchKey = nullptr;             // not owned
  std::byte* RangeStartKey = nullptr;         // not owned; nil for no range
  std::byte* RangeEndKey = nullptr;           // not owned
  std::uint8_t RangeStartFlag = 0;
  std::uint8_t RangeEndFlag = 0;
  std::int32_t RangeStartFieldCount = 0;
  std::int32_t RangeEndFieldCount = 0;
  // > 0: consecutive records equal on this many leading fields of the
  // current index are shown once.
  std::int32_t DistinctFieldCount = 0;
  RecordPosition Position;
  bool AtStart = false;
  bool AtEnd = false;
  TABSRecordFilter FilterCallback = nullptr;
  void* FilterCallbackOwner = nullptr;

  // Size of the data area (null bitmap and fields) of a record buffer.
  std::int32_t DataSize() const { return PositionOffset; }

  // ---- Operations, in slot order ----

  virtual void MakeTable(TABSFieldDefs& fieldDefs, TABSIndexDefs& indexDefs,
                         TABSConstraintDefs& constraintDefs) = 0;   // 0
  virtual void RemoveTable() = 0;                                   // 1
  virtual void WipeTable() = 0;                                     // 2
  virtual void RenameTableTo(const std::string& newTableName) = 0;  // 3
  virtual void LoadFieldLayout() = 0;                               // 4
  virtual void AttachTable(TABSFieldDefs& fieldDefs, TABSIndexDefs& indexDefs,
                           TABSConstraintDefs& constraintDefs) = 0;  // 5
  virtual void DetachTable() = 0;                                    // 6
  virtual void EnterTableLock() = 0;                                 // 7
  virtual void LeaveTableLock() = 0;                                 // 8
  virtual bool AcquireTableLock(std::int32_t lockKind, std::int32_t retryCount, bool wait,
                                std::int32_t delayMilliseconds) = 0;    // 9
  virtual bool ReleaseTableLock(std::int32_t lockKind, bool flag) = 0;  // 10
  // Renames within PhysicalFieldDefs: 30345 when the old name is not there,
  // 30346 when the new name belongs to another field.
  virtual void RenameFieldInTable(const std::string& oldName, const std::string& newName);  // 11
  // The cursor's index definitions (borrowed; nil before attaching).
  virtual TABSIndexDefs* FetchIndexDefs();                            // 12
  virtual void AddIndexToTable(const TABSIndexDef& indexDef) = 0;     // 13
  virtual void DropIndexFromTable(const std::string& indexName) = 0;  // 14
  virtual void DropAllIndexes() = 0;                                  // 15
  virtual void BuildIndexFromFields(const std::vector<std::string>& fieldNames,
                                    const std::vector<std::string>& directions,
                                    const std::vector<std::string>& caseOptions,
                                    std::string& indexName, bool& flag) = 0;  // 16
  virtual bool FindIndexForFields(const std::vector<std::string>& fieldNames,
                                  const std::vector<std::string>& directions,
                                  const std::vector<std::string>& caseOptions) = 0;  // 17
  virtual void CopyFieldValue(std::int32_t fieldNo, bool physical, TABSCursor& target,
                              std::int32_t targetFieldNo) = 0;               // 18
  virtual void InitRecordBuffer(std::byte* buffer, bool applyDefaults) = 0;  // 19
  // Frees the buffer and clears the caller's pointer.
  virtual void ReleaseRecordBuffer(std::byte*& buffer);          // 20
  virtual std::int64_t CountRecords() = 0;                       // 21
  virtual FetchResult FetchRecord(FetchMode mode) = 0;           // 22
  virtual void SeekRecordNumber(std::int64_t recordNumber) = 0;  // 23
  virtual std::int64_t CurrentRecordNumber() = 0;                // 24
  virtual std::int32_t ComparePositions(const RecordPosition& position1,
                                        const RecordPosition& position2) = 0;  // 25
  virtual void MoveToStart() = 0;                                              // 26
  virtual void MoveToEnd() = 0;                                                // 27
  virtual void PrepareInsert() = 0;                                            // 28
  virtual void PrepareEdit() = 0;                                              // 29
  virtual void AbandonChanges(bool wasInserting) = 0;                          // 30
  virtual void WriteRecord(bool isInsert) = 0;                                 // 31
  virtual void EraseRecord() = 0;                                              // 32
  virtual void SetDistinctFields(const std::vector<std::string>& fieldNames,
                                 const std::vector<std::string>& directions,
                                 const std::vector<std::string>& caseOptions) = 0;  // 33
  virtual void ApplyFilterText(const std::string& filterText, bool caseInsensitive,
                               bool partialCompare) = 0;  // 34
  virtual void DropFilter() = 0;                          // 35
  virtual bool LocateByFields(const std::vector<std::string>& keyFieldNames,
                              const std::vector<const TABSVariant*>& keyValues,
                              bool caseInsensitive, bool partialKey) = 0;  // 36
  virtual bool SeekByKey(bool flag) = 0;                                   // 37
  virtual bool LocateByExpression(const std::string& fieldName,
                                  const std::string& comparisonOperator,
                                  const TABSVariant& value) = 0;  // 38
  virtual TABSLocalBLOBStream* OpenBlobStream(bool inserting, bool editing, bool browsing,
                                              std::int32_t mode, std::int32_t fieldNo) = 0;  // 39
  virtual void CloseBlobStreams(std::int32_t fieldNo) = 0;                                   // 40
  virtual void FreeBlobStreams(bool onlyWritable) = 0;                                       // 41
  virtual std::int64_t LastSequenceValue(std::int32_t physicalFieldNo) = 0;                  // 42
  virtual void BeginChangeBatch() = 0;                                                       // 43
  virtual void CommitChangeBatch() = 0;                                                      // 44
  virtual void RollbackChangeBatch() = 0;                                                    // 45
  virtual bool CheckConstraints(bool isInsert) = 0;                                          // 46

  // ---- Helpers on the state alone (no lock) ----

  // Recomputes the offsets of PhysicalFieldDefs and the buffer sizes from
  // it (RecordBufferSize is reset to BaseBufferSize). Without fields every
  // offset and the data size are 0. A buffer too large for a signed 32-bit
  // size raises 30489.
  void ComputeBufferLayout();

  // IndexName := name; IndexId := the object identifier of the index
  // definition of that name (ignoring case), or -1 when there is none.
  void SetCurrentIndex(const std::string& indexName);

  // Reads field `fieldNo` of CurrentBuffer into `value` (NULL when its null
  // bit is set; a text up to and including its terminator, any other type
  // its value size). Physical numbers index PhysicalFieldDefs (else 20191),
  // logical ones LogicalFieldDefs (else 10317); a nil CurrentBuffer raises
  // 30480.
  void ReadFieldValue(TABSVariant& value, std::int32_t fieldNo, bool physical) const;
  // Writes `value` into field `fieldNo` of `buffer` (nil: CurrentBuffer),
  // converted to the field's storage type; `value` itself is left as it
  // was. Errors 20192 (physical) and 20193 (logical) for a number out of
  // range, 30483 without a buffer; a value that does not convert or does not
  // fit the field raises and leaves the field as it was. An empty text is
  // stored as NULL.
  void WriteFieldValue(std::byte* buffer, const TABSVariant& value, std::int32_t fieldNo,
                       bool physical) const;

  // A zero-filled record buffer of RecordBufferSize bytes; the caller frees
  // it (ReleaseRecordBuffer or EngineMemoryManager.FreeAndNillMem).
  std::byte* AllocRecordBuffer() const;
  // A key buffer of KeyBufferSize bytes, contents undefined.
  std::byte* AllocKeyBuffer() const;

  // A snapshot of AtStart, AtEnd and Position; free it with
  // FreePositionSnapshot. RestorePosition copies it back (nil raises 30481).
  PositionSnapshot* SavePosition() const;
  void RestorePosition(const PositionSnapshot* snapshot);
  void FreePositionSnapshot(PositionSnapshot*& snapshot) const;

  // Marks the RecordBitmap stale; called after any change of filter, range,
  // distinct fields or query expression.
  void InvalidateView();
  void SetKeyRange(std::byte* startKey, std::byte* endKey, std::uint8_t startFlag,
                   std::uint8_t endFlag, std::int32_t startFieldCount, std::int32_t endFieldCount);
  void ClearKeyRange();
  // Installs (or, with nil, removes) the query engine's condition and binds
  // it to this cursor with the two arguments.
  void SetQueryExpression(TABSExpression* expression, void* arg1, void* arg2);

  // Makes a record or key buffer comparable byte by byte: a NULL text field
  // is zeroed whole; a non-NULL one is zeroed after its terminator.
  void NormalizeStringTails(std::byte* buffer) const;

  bool HasCurrentIndex() const { return IndexId != -1; }
  // A filter, a query condition, a range or distinct fields restrict the
  // records the cursor sees.
  bool HasRestrictedView() const;

 protected:
  // The definition behind a field number and the physical number it maps
  // to; raises `errorCode` when the number is outside the list.
  const TABSFieldDef& FieldEntry(std::int32_t fieldNo, bool physical, std::int32_t errorCode,
                                 std::int32_t& physicalNo) const;
};

// Restores a cursor's position when it goes out of scope, also when the
// operation that moved the position fails.
class TABSPositionGuard {
 public:
  explicit TABSPositionGuard(TABSCursor& cursor)
      : cursor_(cursor), snapshot_(cursor.SavePosition()) {}
  ~TABSPositionGuard() {
    cursor_.RestorePosition(snapshot_);
    // Freeing fails only on a damaged block; a destructor must not throw.
    try {
      cursor_.FreePositionSnapshot(snapshot_);
    } catch (...) {
    }
  }
  TABSPositionGuard(const TABSPositionGuard&) = delete;
  TABSPositionGuard& operator=(const TABSPositionGuard&) = delete;

 private:
  TABSCursor& cursor_;
  PositionSnapshot* snapshot_;
};
