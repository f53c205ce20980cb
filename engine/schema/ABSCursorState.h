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
// TABSCursorState is the state record; TABSCursor (ABSCursor.h) derives from
// it and adds the cursor operations. The storage layer (table data, index
// manager, record bitmaps, B-tree) takes a TABSCursorState& and reads and
// writes the public state while the cursor operation that called it holds
// the database lock; it never needs the operations. The helpers here take no
// lock: one cursor serves one dataset on one thread.
//
// Ownership: the state owns its definition copies, its BLOB stream list, its
// record bitmap, its filter expression and its position cache. It never owns
// CurrentBuffer, OriginalBuffer, the range keys, SearchKey, QueryExpression
// or the session. Every buffer a helper allocates comes from
// EngineMemoryManager and goes back to it.
//
// Invariants: PositionCache is never nil. After ComputeBufferLayout,
// PositionOffset == KeyInfoOffset == DataSize(), KeyBufferSize ==
// DataSize() + 6, BaseBufferSize == CalcAreaOffset == DataSize() + 7 and
// RecordBufferSize >= BaseBufferSize.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/memory/ABSMemBlock.h"
#include "engine/schema/ABSLateOwned.h"
#include "engine/schema/ABSMetaDefs.h"
#include "engine/schema/ABSRecordTypes.h"

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
// and written only by the index; the cursor state creates and frees it.
//
// With it the index keeps the record positions of the entries around the
// cached one in its leaf, read while it held that leaf: a step within the
// leaf then reads no index page. They belong to the cached state (valid
// while it matches, refilled whenever the leaf is read again).
class TABSIndexPositionCache {
 public:
  static constexpr std::int32_t kNearby = 16;

  TABSLateOwned<TABSKeyPath> KeyPath;
  std::int32_t IndexId = -1;  // -1 while empty
  RecordPosition Position;
  std::int32_t ChangeCounter = -1;  // -1 while empty
  // Nearby[i] is the position of entry NearbyFrom + i of leaf NearbyPage,
  // for i < NearbyCount; NearbyRevert is the page manager's RevertCount then.
  RecordPosition Nearby[kNearby];
  std::int32_t NearbyPage = -1;
  std::int32_t NearbyFrom = 0;
  std::int32_t NearbyCount = 0;
  std::uint64_t NearbyRevert = 0;

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

class TABSCursorState {
 public:
  TABSCursorState();
  virtual ~TABSCursorState();
  TABSCursorState(const TABSCursorState&) = delete;
  TABSCursorState& operator=(const TABSCursorState&) = delete;

  // ---- State (public: the storage layer works on it directly) ----

  // Table and session: which table, how it was opened, through whom.
  std::string TableName;
  bool ReadOnly = false;
  bool Exclusive = false;
  bool InMemory = false;
  bool Temporary = false;
  TABSLocalSession* Session = nullptr;  // not owned
  bool Attached = false;
  bool AutoCreate = false;
  bool DiskLockHeld = false;
  bool BatchPending = false;
  bool KeepTempInMemory = false;
  bool MaintenanceMode = false;

  // Definitions: the cursor's own copies of the table's definitions.
  std::unique_ptr<TABSConstraintDefs> ConstraintDefs;
  std::unique_ptr<TABSFieldDefs> PhysicalFieldDefs;  // record order, offsets computed
  // The fields as the dataset sees them; entry i maps to physical field
  // PhysicalFieldNo.
  std::unique_ptr<TABSFieldDefs> LogicalFieldDefs;
  // The logical field list was installed by SetProjection: LoadFieldLayout
  // keeps it and DetachTable does not free it.
  bool ProjectionSet = false;
  std::unique_ptr<TABSIndexDefs> IndexDefs;

  // Buffers and layout: the record buffers worked on and their sizes.
  std::byte* CurrentBuffer = nullptr;   // set by the caller before each operation
  std::byte* ScratchBuffer = nullptr;   // the table data's own, while it walks distinct values
  std::byte* OriginalBuffer = nullptr;  // the record as it was when an edit began
  std::int32_t RecordBufferSize = 0;
  std::int32_t BaseBufferSize = 0;
  std::int32_t KeyBufferSize = 0;
  std::int32_t KeyInfoOffset = 0;
  std::int32_t FirstFieldOffset = 0;
  std::int32_t CalcAreaOffset = 0;
  std::int32_t PositionOffset = 0;

  // Position: the current record and the cache of the last indexed step.
  RecordPosition Position;
  bool AtStart = false;
  bool AtEnd = false;
  std::unique_ptr<TABSIndexPositionCache> PositionCache;  // created with the state

  // Index and range: the current index, the range on it and key searches.
  std::string IndexName;               // current index, empty for none
  std::int32_t IndexId = -1;           // -1: no index, records in physical order
  std::byte* RangeStartKey = nullptr;  // not owned; nil for no range
  std::byte* RangeEndKey = nullptr;    // not owned
  std::uint8_t RangeStartFlag = 0;
  std::uint8_t RangeEndFlag = 0;
  std::int32_t RangeStartFieldCount = 0;
  std::int32_t RangeEndFieldCount = 0;
  std::byte* SearchKey = nullptr;  // not owned
  std::int32_t SearchKeyCount = 0;

  // View and filter: what restricts the records the dataset sees.
  TABSLateOwned<TABSExpression> FilterExpression;
  TABSExpression* QueryExpression = nullptr;  // not owned
  TABSRecordFilter FilterCallback = nullptr;
  void* FilterCallbackOwner = nullptr;
  // > 0: consecutive records equal on this many leading fields of the
  // current index are shown once.
  std::int32_t DistinctFieldCount = 0;
  // The records visible through a filter, range or distinct view.
  TABSLateOwned<TABSRecordBitmap> RecordBitmap;
  // Set by InvalidateView: the RecordBitmap no longer matches the view and
  // must be rebuilt before use; cleared by whoever rebuilds it.
  bool RecordBitmapStale = true;

  // BLOBs: the streams open on the current record; nil until attached.
  std::unique_ptr<std::vector<TABSLateOwned<TABSLocalBLOBStream>>> BlobStreams;

  // Result of the last record-changing operation.
  std::int32_t LastResultCode = 0;  // 0 or a negative CursorResultCode
  std::string LastResultText;

  // ---- Helpers on the state alone (no lock) ----

  // Size of the data area (null bitmap and fields) of a record buffer.
  std::int32_t DataSize() const { return PositionOffset; }

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

  // Makes a record or key buffer comparable byte by byte: a NULL text field
  // is zeroed whole; a non-NULL one is zeroed after its terminator.
  // REQUIRES: `buffer` is not nil (else 30463).
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
  explicit TABSPositionGuard(TABSCursorState& cursor)
      : cursor_(cursor), snapshot_(TABSMemBlock::Adopt(cursor.SavePosition())) {}
  // Restoring copies 8 bytes and cannot fail for a snapshot the guard holds;
  // the holder frees the block without raising.
  ~TABSPositionGuard() {
    if (snapshot_) cursor_.RestorePosition(snapshot_.as<PositionSnapshot>());
  }
  TABSPositionGuard(const TABSPositionGuard&) = delete;
  TABSPositionGuard& operator=(const TABSPositionGuard&) = delete;

 private:
  TABSCursorState& cursor_;
  TABSMemBlock snapshot_;
};
