// The operations of an engine cursor. TABSCursor declares the 47 operations
// (in slot order); TABSLocalCursor implements them. The state they work on,
// the record buffer layout and the state-only helpers are TABSCursorState
// (ABSCursorState.h), which the storage layer takes without seeing the
// operations.
//
// Ownership and locking are those of TABSCursorState: the operations take
// the database lock while they call into the storage layer.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "engine/schema/ABSCursorState.h"

// Binds a query expression to a cursor; installed by a query engine. This
// system has none, so the hook stays nil. It takes the whole cursor, so
// SetQueryExpression stays with the operations rather than the state.
using TABSQueryExpressionBinder = void (*)(TABSExpression* expression, class TABSCursor& cursor,
                                           void* arg1, void* arg2);
extern TABSQueryExpressionBinder QueryExpressionBinder;

class TABSCursor : public TABSCursorState {
 public:
  TABSCursor();
  ~TABSCursor() override;
  TABSCursor(const TABSCursor&) = delete;
  TABSCursor& operator=(const TABSCursor&) = delete;

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

  // A number in 0 .. 2^32 - 1 that grows by one (wrapping to 0) whenever the
  // records this cursor shows change (a record of its table stored,
  // overwritten, removed, or the table emptied), by any cursor; -1 when the
  // cursor cannot tell (no table, or a view the table's changes alone do not
  // decide, such as a filter callback). Lets a reader keep records it holds
  // instead of fetching them again.
  virtual std::int64_t RecordsVersion() { return -1; }

  // ---- Field exchange and layout helpers (no lock) ----

  // Field `fieldNo` (logical) of `buffer`: false when NULL (destination
  // untouched); else true, the value copied into `destination` (may be nil)
  // in the dataset's exchange form. 10005 for a number out of range.
  bool ReadFieldData(std::int32_t fieldNo, void* destination, const std::byte* buffer) const {
    // Plain values (most fields) are copied here: the grid reads every
    // field of every row it shows.
    if (const FieldSlot* slot = Slot(fieldNo);
        slot != nullptr && slot->Plain && buffer != nullptr) {
      if ((static_cast<unsigned>(buffer[slot->PhysicalNo >> 3]) >> (slot->PhysicalNo & 7)) & 1u) {
        return false;
      }
      if (destination != nullptr) CopyPlainValue(destination, buffer + slot->Offset, slot->Size);
      return true;
    }
    return ReadFieldDataSlow(fieldNo, destination, buffer);
  }
  // Sets field `fieldNo` (logical) of `buffer` from `source` in the exchange
  // form; nil or an empty text make it NULL. 10006 for a number out of
  // range. A BLOB field holds a block address, never caller bytes: a
  // source for one raises 10493 (BLOBs are written through a stream).
  void WriteFieldData(std::int32_t fieldNo, const void* source, std::byte* buffer) const {
    if (const FieldSlot* slot = Slot(fieldNo);
        slot != nullptr && slot->Plain && buffer != nullptr) {
      const auto mask = static_cast<unsigned char>(1u << (slot->PhysicalNo & 7));
      auto& bits = reinterpret_cast<unsigned char&>(buffer[slot->PhysicalNo >> 3]);
      if (source != nullptr) {
        CopyPlainValue(buffer + slot->Offset, source, slot->Size);
        bits = static_cast<unsigned char>(bits & ~mask);
      } else {
        bits = static_cast<unsigned char>(bits | mask);
      }
      return;
    }
    WriteFieldDataSlow(fieldNo, source, buffer);
  }
  // Zeroes KeyBufferSize bytes, then InitRecordBuffer without defaults.
  void InitKeyBuffer(std::byte* keyBuffer);
  // LogicalFieldDefs := copies of the named physical fields, in order, named
  // by the non-empty aliases (made unique with "_1", "_2", ...). 10321
  // lists of different lengths, 10322 no names, 10323 unknown name; on
  // error the list is as it was.
  void SetProjection(const std::vector<std::string>& fieldNames,
                     const std::vector<std::string>& aliases);

  // Rebuilds the per-field table that ReadFieldData and WriteFieldData use
  // to move plain values without a per-call lookup. Called whenever the
  // field lists are replaced (LoadFieldLayout, SetProjection); the lists
  // are never changed in place after that.
  // Without both lists it only empties the table (and then never raises).
  void CacheFieldSlots();
  // Some field has a default value / is an auto-increment field.
  bool HasDefaultFields() const { return hasDefaults_; }
  bool HasAutoincFields() const { return hasAutoincs_; }

  // Installs (or, with nil, removes) the query engine's condition and binds
  // it to this cursor with the two arguments, then invalidates the view.
  void SetQueryExpression(TABSExpression* expression, void* arg1, void* arg2);

 private:
  bool ReadFieldDataSlow(std::int32_t fieldNo, void* destination, const std::byte* buffer) const;
  void WriteFieldDataSlow(std::int32_t fieldNo, const void* source, std::byte* buffer) const;
  // Copies one plain value; the common sizes as one word. (GCC sees a
  // caller's 4-byte value reach the 8-byte branch it never takes, and warns.)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wstringop-overflow"
#pragma GCC diagnostic ignored "-Wstringop-overread"
#endif
  static void CopyPlainValue(void* destination, const void* source, std::int32_t size) {
    if (size == 8) {
      std::memcpy(destination, source, 8);
    } else if (size == 4) {
      std::memcpy(destination, source, 4);
    } else {
      std::memcpy(destination, source, static_cast<std::size_t>(size));
    }
  }
#pragma GCC diagnostic pop
  // One logical field: where its value lies and whether the exchange form
  // is its stored bytes (no widening, no text rule, no BLOB).
  struct FieldSlot {
    std::int32_t PhysicalNo;
    std::int32_t Offset;
    std::int32_t Size;
    bool Plain;
  };
  // The slot of logical field `fieldNo` while the cached lists are current.
  const FieldSlot* Slot(std::int32_t fieldNo) const {
    if (LogicalFieldDefs.get() != slotsLogical_ || PhysicalFieldDefs.get() != slotsPhysical_ ||
        fieldNo < 0 || static_cast<std::size_t>(fieldNo) >= slots_.size()) {
      return nullptr;
    }
    return &slots_[static_cast<std::size_t>(fieldNo)];
  }
  std::vector<FieldSlot> slots_;
  const TABSFieldDefs* slotsLogical_ = nullptr;  // the lists the slots were built from
  const TABSFieldDefs* slotsPhysical_ = nullptr;
  bool hasDefaults_ = true;
  bool hasAutoincs_ = true;
};
