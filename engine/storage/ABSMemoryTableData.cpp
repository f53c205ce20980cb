// The in-memory table: creating it from definitions, emptying it, and
// storing, overwriting and removing records in its record store.
#include <cstring>

#include "engine/local/ABSCursorState.h"
#include "engine/local/ABSNullBits.h"
#include "engine/storage/ABSConstraintManager.h"
#include "engine/storage/ABSDatabaseData.h"
#include "engine/storage/ABSFieldManager.h"
#include "engine/storage/ABSMemory.h"
#include "engine/storage/ABSRecordManager.h"
#include "engine/storage/ABSTableData.h"
#include "engine/types/ABSException.h"

namespace {

class TableLock {
 public:
  explicit TableLock(TABSTableData& table) : table_(table) { table_.LockTable(); }
  ~TableLock() { table_.UnlockTable(); }
  TableLock(const TableLock&) = delete;
  TableLock& operator=(const TableLock&) = delete;

 private:
  TABSTableData& table_;
};

}  // namespace

TABSMemoryTableData::TABSMemoryTableData(TABSDatabaseData& database, std::string_view tableName,
                                         std::int32_t recordGrowthStep)
    : TABSTableData(database, tableName), recordGrowthStep_(recordGrowthStep) {}

TABSMemoryTableData::~TABSMemoryTableData() {
  FreeAllRecordBlobs();
}

void TABSMemoryTableData::CreateTableFromDefs(TABSCursorState& cursor,
                                              const TABSFieldDefs& fieldDefs,
                                              const TABSIndexDefs& indexDefs,
                                              const TABSConstraintDefs& constraintDefs) {
  if (fieldDefs.DefCount() == 0) {
    throw EABSException(10025, "Error creating table - no fields were specified");
  }
  // Everything is built aside and installed at the end, so a failure
  // leaves the table as it was.
  auto fields = std::make_unique<TABSBaseFieldManager>(this);
  fields->FieldDefs().CopyListFrom(fieldDefs);
  for (std::int32_t i = 0; i < fields->FieldDefs().DefCount(); ++i) {
    fields->FieldDefs()[i]->ObjectId = DatabaseData().NextObjectId();
  }
  fields->ComputeLayout();
  fields->ResetAutoincCounters();
  TABSIndexDefs indexes;
  indexes.CopyListFrom(indexDefs);
  for (std::int32_t i = 0; i < indexes.DefCount(); ++i) {
    indexes[i]->ObjectId = DatabaseData().NextObjectId();
  }
  for (std::int32_t i = 0; i < constraintDefs.DefCount(); ++i) {
    const std::int32_t kind = constraintDefs[i]->ConstraintKind;
    if (kind == 1 || kind > 4) throw EABSException(30040, "Not implemented yet");
  }
  auto records = std::make_unique<TABSMemoryRecordManager>(fields->GetRecordSize(), 1000);
  // The constraint manager reads the field and index lists through this
  // table, so those are installed before it binds; on failure they go again.
  std::unique_ptr<TABSBaseFieldManager> oldFields = std::move(fieldManager_);
  fieldManager_ = std::move(fields);
  TABSIndexDefs oldIndexes;
  oldIndexes.CopyListFrom(indexDefs_);
  indexDefs_.CopyListFrom(indexes);
  try {
    auto constraints = std::make_unique<TABSBaseConstraintManager>(*this);
    TABSConstraintDefs named;
    named.CopyListFrom(constraintDefs);
    for (std::int32_t i = 0; i < named.DefCount(); ++i) {
      named[i]->ObjectId = DatabaseData().NextObjectId();
      named[i]->SetTableName(cursor.TableName);
    }
    constraints->AssignConstraintDefs(named);
    constraints->BindAllConstraints();
    constraints->NameUnnamedConstraints();
    SetTableName(cursor.TableName);
    FreeAllRecordBlobs();
    constraintManager_ = std::move(constraints);
    recordManager_ = std::move(records);
  } catch (...) {
    fieldManager_ = std::move(oldFields);
    indexDefs_.CopyListFrom(oldIndexes);
    throw;
  }
}

void TABSMemoryTableData::FreeAllRecordBlobs() noexcept {
  if (!recordManager_ || recordManager_->RecordCount() == 0) return;
  try {
    if (!HasBlobs()) return;
    TABSMemBlock scratch(recordManager_->RecordSize());
    NavigationRequest request;
    request.BeforeFirst = true;
    request.Direction = FetchMode::Next;
    request.RecordBuffer = scratch.get();
    for (;;) {
      recordManager_->NavigateRecord(-2, request);
      if (request.Result != FetchResult::Found) break;
      FreeRecordBlobs(scratch.get());
    }
  } catch (...) {
    // Without a scratch buffer the blocks stay allocated; the records go all
    // the same.
  }
}

void TABSMemoryTableData::EmptyTableData(TABSCursorState* /*cursor*/) {
  TableLock hold(*this);
  if (fieldManager_) fieldManager_->ResetAutoincCounters();
  FreeAllRecordBlobs();
  if (recordManager_) recordManager_->ClearAllRecords(-2);
}

bool TABSMemoryTableData::InsertCursorRecord(TABSCursorState& cursor) {
  TableLock hold(*this);
  if (!recordManager_) throw EABSException(10010, "Nil pointer occured");
  if (cursor.CurrentBuffer == nullptr) throw EABSException(10018, "Nil pointer occured");
  RecordPosition position = cursor.Position;
  if (!recordManager_->StoreNewRecord(0, cursor.CurrentBuffer, position)) return false;
  position.SubPosition = 0;
  cursor.Position = position;
  cursor.AtStart = cursor.AtEnd = false;
  return true;
}

bool TABSMemoryTableData::UpdateCursorRecord(TABSCursorState& cursor) {
  TableLock hold(*this);
  if (!recordManager_) throw EABSException(10014, "Nil pointer occured");
  if (cursor.CurrentBuffer == nullptr) throw EABSException(10017, "Nil pointer occured");
  // The old image, to free the BLOB blocks the new one no longer holds.
  const bool blobs = HasBlobs();
  TABSMemBlock old;
  if (blobs) {
    old = TABSMemBlock(recordManager_->RecordSize());
    NavigationRequest request;
    request.Position = cursor.Position;
    request.RecordBuffer = old.get();
    recordManager_->NavigateRecord(0, request);
    if (request.Result != FetchResult::Found) return false;
  }
  if (!recordManager_->OverwriteRecord(0, cursor.CurrentBuffer, cursor.Position)) return false;
  if (blobs) {
    const TABSFieldDefs& defs = TableFieldDefs();
    for (std::int32_t i = 0; i < defs.DefCount(); ++i) {
      const TABSFieldDef& field = *defs[i];
      if (!IsBlobStorageType(field.StorageType) || IsNullBitSet(old.get(), i)) continue;
      void* was = GetBlobBlockAddress(old.get(), field);
      const bool kept = !IsNullBitSet(cursor.CurrentBuffer, i) &&
                        GetBlobBlockAddress(cursor.CurrentBuffer, field) == was;
      if (!kept) TABSMemBlock::Adopt(was).Reset();
    }
  }
  return true;
}

bool TABSMemoryTableData::DeleteCursorRecord(TABSCursorState& cursor) {
  TableLock hold(*this);
  if (!recordManager_) throw EABSException(10013, "Nil pointer occured");
  const RecordPosition removed = cursor.Position;
  // Where the cursor goes: the next record, else the prior one, else before
  // the start. Found with a scratch buffer; the cursor is put back.
  TABSMemBlock scratch(recordManager_->RecordSize());
  std::byte* const buffer = cursor.CurrentBuffer;
  bool found = false;
  RecordPosition next;
  {
    TABSPositionGuard keep(cursor);
    cursor.CurrentBuffer = scratch.as<std::byte>();
    try {
      cursor.AtStart = cursor.AtEnd = false;
      found = FetchCursorRecord(cursor, FetchMode::Next) == FetchResult::Found;
      if (!found) {
        cursor.Position = removed;
        cursor.AtStart = cursor.AtEnd = false;
        found = FetchCursorRecord(cursor, FetchMode::Prior) == FetchResult::Found;
      }
      next = cursor.Position;
      // The stored image, whose BLOBs go with the record.
      NavigationRequest request;
      request.Position = removed;
      request.RecordBuffer = scratch.get();
      recordManager_->NavigateRecord(0, request);
      if (request.Result != FetchResult::Found) {
        cursor.CurrentBuffer = buffer;
        return false;
      }
    } catch (...) {
      cursor.CurrentBuffer = buffer;
      throw;
    }
    cursor.CurrentBuffer = buffer;
  }
  RecordPosition at = removed;
  if (!recordManager_->RemoveRecord(0, at)) return false;
  FreeRecordBlobs(scratch.get());
  if (found) {
    cursor.Position = next;
    cursor.AtStart = cursor.AtEnd = false;
  } else {
    cursor.AtStart = true;
    cursor.AtEnd = false;
  }
  return true;
}
