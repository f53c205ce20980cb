// Table data: construction, definitions, layout and the table-level
// operations (create, empty, rename, delete, cursor list, indexes).
// Record operations: ABSTableDataRecords.cpp; BLOBs: ABSTableDataBlobs.cpp.
#include "engine/tables/ABSTableData.h"

#include <algorithm>
#include <cassert>
#include <cstdio>
#include <mutex>

#include "engine/index/ABSConstraintManager.h"
#include "engine/index/ABSIndex.h"
#include "engine/index/ABSIndexManager.h"
#include "engine/memory/ABSException.h"
#include "engine/memory/ABSMemBlock.h"
#include "engine/memory/ABSNativeCodes.h"
#include "engine/schema/ABSCursorState.h"
#include "engine/schema/ABSMetaDefs.h"
#include "engine/storage/ABSFieldManager.h"
#include "engine/storage/ABSMemoryPageManager.h"
#include "engine/storage/ABSRecordManager.h"
#include "engine/tables/ABSDatabaseData.h"
#include "engine/tables/ABSStorageSession.h"
#include "engine/types/ABSNames.h"
#include "engine/types/ABSTypes.h"

namespace {
using Guard = platform::RankedLockGuard;

bool IsPermanent(const TABSIndexDef& def) {
  return def.IsTemporaryIndex == 0;
}
}  // namespace

TABSTableData::TABSTableData(TABSDatabaseData& database, std::string_view tableName)
    : database_(database), tableName_(tableName), tableNameKey_(EngineNameKey(tableName)) {}

TABSTableData::~TABSTableData() = default;

void TABSTableData::SetTableName(std::string_view tableName) {
  assert(database_.Lock().HeldByThisThread());
  if (tableName == tableName_) return;
  std::string key = EngineNameKey(tableName);  // the step that can fail comes first
  tableName_.assign(tableName);
  tableNameKey_ = std::move(key);
}

std::int32_t TABSTableData::CursorSessionId(const TABSCursorState& cursor) {
  const TABSStorageSession* session = StorageSessionOf(cursor.Session);
  return session != nullptr ? session->SessionId() : kNoSessionId;
}

bool TABSTableData::CursorInTransaction(const TABSCursorState& cursor) {
  const TABSStorageSession* session = StorageSessionOf(cursor.Session);
  return session != nullptr && session->InTransaction();
}

// ---- Definitions ----

void TABSTableData::AssignObjectIds(TABSMetaObjectDefs& defs) {
  for (std::int32_t i = 0; i < defs.DefCount(); ++i) defs.DefAt(i)->ObjectId = NextObjectId();
}

std::int32_t TABSTableData::NextObjectId() {
  return database_.NextObjectId();
}

std::unique_ptr<TABSBaseFieldManager> TABSTableData::BuildFieldManager(const TABSFieldDefs& defs) {
  auto manager = std::make_unique<TABSBaseFieldManager>(this);
  manager->FieldDefs().CopyListFrom(defs);
  AssignObjectIds(manager->FieldDefs());
  manager->ComputeLayout();
  manager->ResetAutoincCounters();
  return manager;
}

std::unique_ptr<TABSBaseIndexManager> TABSTableData::BuildIndexManager(const TABSIndexDefs& defs) {
  if (pageManager_ == nullptr) throw EABSException(10074, "Nil pointer occured");
  auto copies = std::make_unique<TABSIndexDefs>();
  copies->CopyListFrom(defs);
  AssignObjectIds(*copies);
  auto manager = std::make_unique<TABSBaseIndexManager>(*this, *pageManager_, *pageManager_);
  manager->AssignIndexDefs(*copies);
  return manager;
}

TABSBaseIndexManager* TABSTableData::ActiveIndexManager() const {
  return buildingIndexes_ != nullptr ? buildingIndexes_ : indexManager_.get();
}

TABSBaseIndexManager& TABSTableData::RequireIndexManager() const {
  TABSBaseIndexManager* manager = ActiveIndexManager();
  if (manager == nullptr) {
    throw EABSException(native_code::kNoIndexManager,
                        "Table '%s' has no index manager: it was never created", {tableName_});
  }
  return *manager;
}

const TABSIndexDefs& TABSTableData::IndexDefs() const {
  static const TABSIndexDefs kNoIndexes;
  const TABSBaseIndexManager* manager = ActiveIndexManager();
  return manager != nullptr ? manager->IndexDefs() : kNoIndexes;
}

std::unique_ptr<TABSBaseConstraintManager> TABSTableData::BuildConstraintManager(
    const TABSConstraintDefs& defs) {
  for (std::int32_t i = 0; i < defs.DefCount(); ++i) {
    const std::uint8_t kind = defs[i]->ConstraintKind;
    if (kind == 1 || kind > ckCheck) throw EABSException(30040, "Not implemented yet");
  }
  auto manager = std::make_unique<TABSBaseConstraintManager>(*this);
  auto copies = std::make_unique<TABSConstraintDefs>();
  copies->CopyListFrom(defs);
  AssignObjectIds(*copies);
  for (std::int32_t i = 0; i < copies->DefCount(); ++i) (*copies)[i]->SetTableName(tableName_);
  manager->AssignConstraintDefs(*copies);
  manager->BindAllConstraints();
  manager->NameUnnamedConstraints();
  return manager;
}

void TABSTableData::Install(Staged staged) noexcept {
  if (staged.fields) {
    const TABSFieldDefs& defs = staged.fields->FieldDefs();
    bool blobs = false;
    for (std::int32_t i = 0; i < defs.DefCount(); ++i) {
      blobs = blobs || IsBlobStorageType(defs[i]->StorageType);
    }
    hasBlobFields_ = blobs;
    fieldManager_ = std::move(staged.fields);
  }
  if (staged.indexes) indexManager_ = std::move(staged.indexes);
  if (staged.constraints) constraintManager_ = std::move(staged.constraints);
  if (staged.records) recordManager_ = std::move(staged.records);
}

void TABSTableData::SetFieldDefs(const TABSFieldDefs& defs) {
  Guard hold(database_.Lock());
  Staged staged;
  staged.fields = BuildFieldManager(defs);
  Install(std::move(staged));
}

void TABSTableData::SetIndexDefs(const TABSIndexDefs& defs) {
  Guard hold(database_.Lock());
  Staged staged;
  staged.indexes = BuildIndexManager(defs);
  Install(std::move(staged));
}

void TABSTableData::SetConstraintDefs(const TABSConstraintDefs& defs) {
  Guard hold(database_.Lock());
  Staged staged;
  staged.constraints = BuildConstraintManager(defs);
  Install(std::move(staged));
}

std::int32_t TABSTableData::GetRecordSize() const {
  return fieldManager_ ? fieldManager_->GetRecordSize() : 0;
}

void TABSTableData::GetRecordLayout(TABSCursorState& cursor) {
  Guard hold(database_.Lock());
  const TABSFieldDefs* defs = fieldManager_ ? &fieldManager_->FieldDefs() : nullptr;
  const std::int32_t size = defs != nullptr && defs->DefCount() > 0 ? GetRecordSize() : 0;
  cursor.FirstFieldOffset = size > 0 ? (*defs)[0]->MemoryOffset : 0;
  cursor.PositionOffset = size;
  cursor.KeyInfoOffset = size;
  cursor.KeyBufferSize = size + static_cast<std::int32_t>(RecordPosition::kStoredSize);
  cursor.BaseBufferSize = cursor.KeyBufferSize + 1;
  cursor.CalcAreaOffset = cursor.BaseBufferSize;
  cursor.RecordBufferSize = std::max(cursor.RecordBufferSize, cursor.BaseBufferSize);
}

const TABSFieldDefs& TABSTableData::ConstraintFieldDefs() const {
  static const TABSFieldDefs kNoFields;
  if (buildingFields_ != nullptr) return buildingFields_->FieldDefs();
  return fieldManager_ ? fieldManager_->FieldDefs() : kNoFields;
}

std::int64_t TABSTableData::ConstraintRecordCount() const {
  return recordManager_ ? recordManager_->RecordCount() : 0;
}

bool TABSTableData::IsKeyUnique(std::int32_t indexId, std::int32_t sessionId,
                                const std::byte* image) {
  return RequireIndexManager().IsRecordKeyUnique(sessionId, indexId, image, nullptr);
}

bool TABSTableData::IsUpdateUnique(std::int32_t indexId, std::int32_t sessionId,
                                   const std::byte* newImage, const std::byte* originalImage) {
  return RequireIndexManager().IsRecordKeyUnique(sessionId, indexId, newImage, originalImage);
}

TABSBaseRecordManager& TABSTableData::IndexRecordManager() {
  if (buildingRecords_ != nullptr) return *buildingRecords_;
  return RequireRecordManager(10009);
}

TABSPageManager& TABSTableData::IndexPageManager(const TABSIndexDef& def) {
  return RequireIndexManager().GetIndexPageManager(def);
}

TABSBaseRecordManager& TABSTableData::RequireRecordManager(std::int32_t code) const {
  if (!recordManager_) throw EABSException(code, "Nil pointer occured");
  return *recordManager_;
}

// ---- Sessions and pages ----

void TABSTableData::CommitTableSession(std::int32_t sessionId, bool inTransaction) {
  if (!inTransaction && pageManager_ != nullptr) pageManager_->CommitSessionPages(sessionId);
}

void TABSTableData::DiscardTableSession(std::int32_t sessionId, bool inTransaction) {
  if (!inTransaction && pageManager_ != nullptr) pageManager_->DiscardSessionPages(sessionId);
}

void TABSTableData::DiscardEmptyingPages() noexcept {
  if (pageManager_ == nullptr) return;
  try {
    pageManager_->DiscardSessionPages(kNoSessionId);
  } catch (...) {
    // A page still in use: the list stays as it was.
  }
}

void TABSTableData::LockTable() {
  database_.LockDatabase();
}
void TABSTableData::UnlockTable() {
  database_.UnlockDatabase();
}

// ---- Table-level operations ----

bool TABSTableData::DeleteTableData(TABSCursorState* cursor, bool keepIfOpen) {
  Guard hold(database_.Lock());
  const bool othersAttached = std::any_of(cursors_.begin(), cursors_.end(),
                                          [&](const TABSCursorState* c) { return c != cursor; });
  if (!keepIfOpen && othersAttached) {
    throw EABSException(20017, "Cannot delete table '%s'. Table is open by another dataset",
                        {tableName_});
  }
  if (keepIfOpen && !cursors_.empty()) return false;
  database_.FreeTableData(*this);  // destroys this object
  return true;
}

void TABSTableData::EmptyTableData(TABSCursorState* /*cursor*/) {
  Guard hold(database_.Lock());
  if (fieldManager_) fieldManager_->ResetAutoincCounters();
  if (indexManager_) indexManager_->EmptyAllIndexes(kNoSessionId);
  // Every attached cursor's bitmap and position cache described the records
  // that are about to go.
  for (TABSCursorState* attached : cursors_) {
    if (attached->RecordBitmap) attached->RecordBitmap->ResetBitmap();
    attached->RecordBitmapStale = true;
    if (attached->PositionCache) attached->PositionCache->Clear();
  }
}

void TABSTableData::RenameTableData(std::string_view newName, TABSCursorState* cursor) {
  Guard hold(database_.Lock());
  const bool othersAttached = std::any_of(cursors_.begin(), cursors_.end(),
                                          [&](const TABSCursorState* c) { return c != cursor; });
  if (othersAttached) {
    throw EABSException(10150, "Cannot rename table '%s'. Table is open by another dataset",
                        {tableName_});
  }
  if (EngineNameKey(newName) != tableNameKey_ && database_.FindTableData(newName) != nullptr) {
    throw EABSException(native_code::kRenameNameTaken, "Table '%s' already exists",
                        {std::string(newName)});
  }
  SetTableName(newName);
}

void TABSTableData::AttachCursor(TABSCursorState& cursor) {
  Guard hold(database_.Lock());
  if (std::find(cursors_.begin(), cursors_.end(), &cursor) != cursors_.end()) return;
  cursors_.reserve(cursors_.size() + 1);  // the step that can fail comes first
  if (!cursor.TableName.empty()) SetTableName(cursor.TableName);
  maintenanceFlag_ = cursor.MaintenanceMode;
  cursors_.push_back(&cursor);
}

void TABSTableData::DetachCursor(TABSCursorState& cursor) {
  Guard hold(database_.Lock());
  cursors_.erase(std::remove(cursors_.begin(), cursors_.end(), &cursor), cursors_.end());
}

void TABSTableData::RenameTableField(std::string_view oldName, std::string_view newName) {
  Guard hold(database_.Lock());
  TABSFieldDefs* defs = fieldManager_ ? &fieldManager_->FieldDefs() : nullptr;
  TABSFieldDef* field = defs != nullptr ? defs->FindByName(oldName) : nullptr;
  if (field == nullptr) throw EABSException(30343, "Field '%s' not found", {std::string(oldName)});
  const TABSFieldDef* taken = defs->FindByName(newName);
  if (taken != nullptr && taken != field) {
    throw EABSException(30344, "Cannot rename field '%s'. Field '%s' already exists",
                        {std::string(oldName), std::string(newName)});
  }
  if (indexManager_) indexManager_->RenameIndexedField(oldName, newName);
  field->SetName(newName);
}

void TABSTableData::AddTableIndex(const TABSIndexDef& def, TABSCursorState* cursor) {
  Guard hold(database_.Lock());
  TABSBaseIndexManager& indexes = RequireIndexManager();
  const std::int32_t sessionId = cursor != nullptr ? CursorSessionId(*cursor) : kNoSessionId;
  std::unique_ptr<TABSPositionGuard> keepPosition;
  if (cursor != nullptr) keepPosition = std::make_unique<TABSPositionGuard>(*cursor);
  std::int32_t id = -1;
  try {
    id = indexes.AddIndex(sessionId, cursor, def);
  } catch (...) {
    // Pages the failed build gave back may still be pending for the session.
    try {
      CommitTableSession(sessionId, false);
    } catch (...) {
    }
    throw;
  }
  const TABSIndexDef& added = *indexes.IndexDefs().FindByObjectId(id);
  if (IsPermanent(added) && (cursor == nullptr || !cursor->Temporary) && constraintManager_) {
    try {
      constraintManager_->AddUniqueConstraintForIndex(added);
    } catch (...) {
      // The index and its constraint come together or not at all.
      try {
        indexes.DropIndex(sessionId, id);
      } catch (...) {
      }
      throw;
    }
  }
  CommitTableSession(sessionId, cursor != nullptr && CursorInTransaction(*cursor));
}

void TABSTableData::DropTableIndex(std::int32_t indexId, TABSCursorState* cursor) {
  Guard hold(database_.Lock());
  TABSBaseIndexManager& indexes = RequireIndexManager();
  const TABSIndexDef* def = indexes.IndexDefs().FindByObjectId(indexId);
  if (def == nullptr) throw EABSException(10324, "Cannot find index by ID = %d", {indexId});
  const std::int32_t sessionId = cursor != nullptr ? CursorSessionId(*cursor) : kNoSessionId;
  if (IsPermanent(*def) && (cursor == nullptr || !cursor->Temporary) && constraintManager_) {
    constraintManager_->RemoveConstraintsForIndex(indexId);
  }
  indexes.DropIndex(sessionId, indexId);
  for (TABSCursorState* attached : cursors_) {
    if (attached->PositionCache) attached->PositionCache->Clear();
  }
  CommitTableSession(sessionId, cursor != nullptr && CursorInTransaction(*cursor));
}

void TABSTableData::DropAllTableIndexes(TABSCursorState* cursor) {
  Guard hold(database_.Lock());
  while (indexManager_ && indexManager_->IndexCount() > 0) {
    DropTableIndex(indexManager_->IndexDefs()[0]->ObjectId, cursor);
  }
}

std::int64_t TABSTableData::GetFieldLastValue(TABSStorageSession* /*session*/,
                                              std::int32_t /*fieldNo*/) {
  return 0;
}

void TABSTableData::EndSessionBatch(std::int32_t sessionId) {
  Guard hold(database_.Lock());
  if (!indexManager_) return;
  for (TABSCursorState* attached : cursors_) {
    if (CursorSessionId(*attached) != sessionId) continue;
    bool rebuilt = false;
    indexManager_->RefreshTemporaryIndexes(sessionId, attached, rebuilt);
  }
}

// ---- The memory table ----

TABSMemoryTableData::TABSMemoryTableData(TABSDatabaseData& database, std::string_view tableName,
                                         std::int32_t recordGrowthStep)
    : TABSTableData(database, tableName),
      recordGrowthStep_(recordGrowthStep),
      ownPageManager_(std::make_unique<TABSMemoryPageManager>()) {
  pageManager_ = ownPageManager_.get();
  blobStreamsInMemory_ = true;
}

void TABSTableData::ReleaseIndexesAndRecords() noexcept {
  assert(database_.Lock().HeldByThisThread());
  try {
    DropAllTableIndexes(nullptr);
  } catch (...) {
    // The pages go with the page manager below.
  }
  indexManager_.reset();
  try {
    pageManager_->CommitSessionPages(kNoSessionId);
  } catch (...) {
  }
#ifndef NDEBUG
  if (!cursors_.empty()) {
    std::fprintf(stderr, "table '%s' destroyed with %zu attached cursors\n", TableName().c_str(),
                 cursors_.size());
  }
#endif
  recordManager_.reset();
  pageManager_ = nullptr;
}

TABSMemoryTableData::~TABSMemoryTableData() {
  Guard hold(DatabaseData().Lock());
  try {
    EmptyTableData(nullptr);
  } catch (...) {
    // Emptying fails only on a damaged record store; the stores are freed
    // below all the same.
  }
  FreeAllPending();
  ReleaseIndexesAndRecords();
  ownPageManager_.reset();
}

void TABSMemoryTableData::CheckAllPagesCommitted() const {
  Guard hold(DatabaseData().Lock());
  ownPageManager_->CheckAllCommitted();
}

void TABSMemoryTableData::CreateRecordManager() {
  Guard hold(DatabaseData().Lock());
  auto fresh = std::make_unique<TABSMemoryRecordManager>(GetRecordSize(), recordGrowthStep_);
  recordManager_ = std::move(fresh);
}

void TABSMemoryTableData::CreateTableFromDefs(TABSCursorState& cursor, const TABSFieldDefs& fields,
                                              const TABSIndexDefs& indexes,
                                              const TABSConstraintDefs& constraints) {
  Guard hold(DatabaseData().Lock());
  if (fields.DefCount() == 0) {
    throw EABSException(10025, "Error creating table - no fields were specified");
  }
  // Every manager is built aside; the table takes them over only when all
  // steps succeeded, so a failure leaves it as it was.
  const std::string oldName = TableName();
  if (!cursor.TableName.empty()) SetTableName(cursor.TableName);
  struct BuildingScope {
    TABSMemoryTableData& table;
    ~BuildingScope() {
      table.buildingFields_ = nullptr;
      table.buildingIndexes_ = nullptr;
      table.buildingRecords_ = nullptr;
    }
  };
  try {
    Staged staged;
    BuildingScope scope{*this};
    staged.fields = BuildFieldManager(fields);
    buildingFields_ = staged.fields.get();
    staged.indexes = BuildIndexManager(indexes);
    buildingIndexes_ = staged.indexes.get();
    staged.constraints = BuildConstraintManager(constraints);
    staged.records = std::make_unique<TABSMemoryRecordManager>(staged.fields->GetRecordSize(),
                                                               recordGrowthStep_);
    buildingRecords_ = staged.records.get();
    const std::int32_t sessionId = CursorSessionId(cursor);
    try {
      staged.indexes->BuildAllIndexes(sessionId, &cursor);
    } catch (...) {
      // The indexes built before the failing one give their pages back.
      while (staged.indexes->IndexCount() > 0) {
        try {
          staged.indexes->DropIndex(sessionId, staged.indexes->IndexDefs()[0]->ObjectId);
        } catch (...) {
          break;
        }
      }
      try {
        pageManager_->CommitSessionPages(sessionId);
      } catch (...) {
      }
      throw;
    }
    CommitTableSession(sessionId, CursorInTransaction(cursor));
    Install(std::move(staged));
  } catch (...) {
    SetTableName(oldName);
    throw;
  }
  GetRecordLayout(cursor);
}

void TABSMemoryTableData::EmptyTableData(TABSCursorState* cursor) {
  Guard hold(DatabaseData().Lock());
  // The scratch record for the BLOB walk is taken before anything changes.
  TABSMemBlock scratch;
  const bool freeBlobs = recordManager_ && recordManager_->RecordCount() > 0 && hasBlobFields_;
  if (freeBlobs) scratch = TABSMemBlock(recordManager_->RecordSize());
  // The emptied index pages are committed before any record or BLOB goes:
  // a failure up to then discards them, so the indexes and the records stay
  // as they were and no page stays held for later writers.
  try {
    TABSTableData::EmptyTableData(cursor);
    pageManager_->CommitSessionPages(kNoSessionId);
  } catch (...) {
    DiscardEmptyingPages();
    throw;
  }
  if (!recordManager_) return;
  TABSBaseRecordManager& records = *recordManager_;
  if (freeBlobs) {
    NavigationRequest request;
    request.Direction = FetchMode::Next;
    request.BeforeFirst = true;
    request.RecordBuffer = scratch.get();
    for (;;) {
      records.NavigateRecord(kNoSessionId, request);
      if (request.Result != FetchResult::Found) break;
      request.BeforeFirst = false;
      FreeReplacedBlobs(scratch.as<std::byte>(), nullptr);
    }
  }
  FreeAllPending();
  records.ClearAllRecords(kNoSessionId);
  // Bitmaps and counts of other cursors compare the table's change counter:
  // emptying is one change (the record store's own counter stays).
  emptyCount_ = static_cast<std::int32_t>(static_cast<std::uint32_t>(emptyCount_) + 1u);
}

std::int64_t TABSMemoryTableData::GetTableRecordCount(std::int32_t /*sessionId*/) {
  Guard hold(DatabaseData().Lock());
  return RequireRecordManager(10033).RecordCount();
}

void TABSMemoryTableData::OrdinalToPosition(RecordPosition& position, std::int64_t ordinal) {
  position.RecordId = static_cast<std::int32_t>(ordinal);
  position.SubPosition = 0;
}

std::int64_t TABSMemoryTableData::GetFieldLastValue(TABSStorageSession* session,
                                                    std::int32_t fieldNo) {
  Guard hold(DatabaseData().Lock());
  if (!fieldManager_) return 0;
  return fieldManager_->GetSequenceLastValue(session, fieldNo);
}
