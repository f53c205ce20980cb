// Temporary table data: creation, emptying, counts, record numbers and the
// append-only record operations. BLOBs: ABSTemporaryTableBlobs.cpp.
#include "engine/temporary/ABSTemporaryTableData.h"

#include <algorithm>
#include <mutex>

#include "engine/index/ABSConstraintManager.h"
#include "engine/index/ABSIndexManager.h"
#include "engine/memory/ABSException.h"
#include "engine/schema/ABSCursorState.h"
#include "engine/schema/ABSMetaDefs.h"
#include "engine/storage/ABSFieldManager.h"
#include "engine/tables/ABSDatabaseData.h"
#include "engine/temporary/ABSTemporaryPageManager.h"
#include "engine/temporary/ABSTemporaryRecordManager.h"
#include "engine/temporary/ABSTemporaryStream.h"

namespace {
using Guard = platform::RankedLockGuard;
}  // namespace

TABSTemporaryTableData::TABSTemporaryTableData(TABSDatabaseData& database,
                                               std::string_view tableName, std::int32_t growthStep,
                                               std::int32_t blockSize)
    : TABSTableData(database, tableName),
      growthStep_(growthStep),
      blockSize_(blockSize),
      ownPageManager_(std::make_unique<TABSTemporaryPageManager>(false)) {
  pageManager_ = ownPageManager_.get();
}

TABSTemporaryTableData::~TABSTemporaryTableData() {
  Guard hold(DatabaseData().Lock());
  blobStream_.reset();  // so that emptying makes no new one
  try {
    EmptyTableData(nullptr);
  } catch (...) {
    // The stores are freed below all the same.
  }
  ReleaseIndexesAndRecords();
  ownPageManager_.reset();
}

TABSTemporaryRecordManager* TABSTemporaryTableData::TemporaryRecords() const {
  // The temporary table creates no other record manager.
  return static_cast<TABSTemporaryRecordManager*>(recordManager_.get());
}

std::unique_ptr<TABSStream> TABSTemporaryTableData::NewBlobStream() const {
  if (keepInMemory_) {
    auto memory = std::make_unique<TABSMemoryStream>();
    // Reserve the first megabyte, as the memory stream would on the way.
    memory->SetSize(kMemoryBlobReserve);
    memory->SetSize(0);
    return memory;
  }
  return std::make_unique<TABSTemporaryStream>(false);
}

void TABSTemporaryTableData::CreateRecordManager() {
  Guard hold(DatabaseData().Lock());
  recordManager_ = std::make_unique<TABSTemporaryRecordManager>(GetRecordSize(), keepInMemory_,
                                                                growthStep_, blockSize_);
}

void TABSTemporaryTableData::CreateTableFromDefs(TABSCursorState& cursor,
                                                 const TABSFieldDefs& fields,
                                                 const TABSIndexDefs& indexes,
                                                 const TABSConstraintDefs& constraints) {
  Guard hold(DatabaseData().Lock());
  if (fields.DefCount() == 0) {
    throw EABSException(10132, "Error creating table - no fields were specified");
  }
  const std::string oldName = TableName();
  if (!cursor.TableName.empty()) SetTableName(cursor.TableName);
  const bool keep = cursor.KeepTempInMemory;
  const bool oldKeep = keepInMemory_;
  TABSPageManager* const oldPages = pageManager_;
  // While the managers are built aside, the table answers with them (the
  // new index manager builds its indexes over the new, empty record store
  // and in the new page manager); the scope puts the table's own back.
  struct BuildingScope {
    TABSTemporaryTableData& table;
    TABSPageManager* pages;
    ~BuildingScope() {
      table.buildingFields_ = nullptr;
      table.buildingIndexes_ = nullptr;
      table.buildingRecords_ = nullptr;
      table.pageManager_ = pages;
    }
  };
  try {
    auto pages = std::make_unique<TABSTemporaryPageManager>(keep);
    Staged staged;  // destroyed before `pages`, whose pages its indexes use
    BuildingScope scope{*this, oldPages};
    pageManager_ = pages.get();
    staged.fields = BuildFieldManager(fields);
    buildingFields_ = staged.fields.get();
    staged.indexes = BuildIndexManager(indexes);
    buildingIndexes_ = staged.indexes.get();
    staged.constraints = BuildConstraintManager(constraints);
    staged.records = std::make_unique<TABSTemporaryRecordManager>(staged.fields->GetRecordSize(),
                                                                  keep, growthStep_, blockSize_);
    buildingRecords_ = staged.records.get();
    keepInMemory_ = keep;  // NewBlobStream reads it
    std::unique_ptr<TABSStream> blobs;
    if (staged.fields->HasBlobFields()) blobs = NewBlobStream();
    const std::int32_t sessionId = CursorSessionId(cursor);
    staged.indexes->BuildAllIndexes(sessionId, &cursor);
    pages->CommitSessionPages(sessionId);
    // Pages of the old page manager are dropped with it; commit them first.
    oldPages->CommitSessionPages(kNoSessionId);
    Install(std::move(staged));
    ownPageManager_ = std::move(pages);
    scope.pages = ownPageManager_.get();
    blobStream_ = std::move(blobs);
  } catch (...) {
    keepInMemory_ = oldKeep;
    SetTableName(oldName);
    throw;
  }
  GetRecordLayout(cursor);
  CommitTableSession(CursorSessionId(cursor), CursorInTransaction(cursor));
}

void TABSTemporaryTableData::EmptyTableData(TABSCursorState* cursor) {
  Guard hold(DatabaseData().Lock());
  // A table with BLOB fields gets an empty BLOB stream at once, so that it
  // can store BLOBs again; made first, so that a failure changes nothing.
  std::unique_ptr<TABSStream> blobs = blobStream_ ? NewBlobStream() : nullptr;
  TABSTableData::EmptyTableData(cursor);
  blobStream_ = std::move(blobs);
  if (recordManager_) recordManager_->ClearAllRecords(kNoSessionId);
  emptyCount_ = static_cast<std::int32_t>(static_cast<std::uint32_t>(emptyCount_) + 1u);
  pageManager_->CommitSessionPages(kNoSessionId);
}

std::int64_t TABSTemporaryTableData::GetTableRecordCount(std::int32_t /*sessionId*/) {
  Guard hold(DatabaseData().Lock());
  return RequireRecordManager(10133).RecordCount();
}

std::int64_t TABSTemporaryTableData::CountAllRecords(TABSCursorState& /*cursor*/) {
  Guard hold(DatabaseData().Lock());
  return RequireRecordManager(10133).RecordCount();
}

std::int64_t TABSTemporaryTableData::PositionToOrdinal(const RecordPosition& position) {
  return static_cast<std::int64_t>(TABSTemporaryRecordManager::RecordNumber(position));
}

void TABSTemporaryTableData::OrdinalToPosition(RecordPosition& position, std::int64_t ordinal) {
  position = TABSTemporaryRecordManager::PositionOf(static_cast<std::uint64_t>(ordinal));
}

void TABSTemporaryTableData::RecordNumberToPosition(TABSCursorState& cursor, std::int64_t number) {
  Guard hold(DatabaseData().Lock());
  const std::int64_t count = RequireRecordManager(10136).RecordCount();
  std::int64_t index = number < 2 ? 0 : number - 1;
  if (count > 0) index = std::min(index, count - 1);
  cursor.Position = TABSTemporaryRecordManager::PositionOf(static_cast<std::uint64_t>(index));
}

std::int64_t TABSTemporaryTableData::PositionToRecordNumber(TABSCursorState& cursor) {
  Guard hold(DatabaseData().Lock());
  const std::int64_t count = RequireRecordManager(10137).RecordCount();
  const std::uint64_t p = TABSTemporaryRecordManager::RecordNumber(cursor.Position);
  return p < static_cast<std::uint64_t>(count) ? static_cast<std::int64_t>(p) + 1 : -1;
}

bool TABSTemporaryTableData::InsertCursorRecord(TABSCursorState& cursor) {
  Guard hold(DatabaseData().Lock());
  TABSBaseRecordManager& records = RequireRecordManager(10134);
  if (cursor.CurrentBuffer == nullptr) throw EABSException(10135, "Nil pointer occured");
  const std::int32_t sessionId = CursorSessionId(cursor);
  RecordPosition position = cursor.Position;
  if (!records.StoreNewRecord(sessionId, cursor.CurrentBuffer, position)) return false;
  if (indexManager_ && indexManager_->IndexCount() > 0) {
    // Record and keys are all or nothing: when a key fails, the appended
    // record is taken back.
    const RecordPosition before = cursor.Position;
    cursor.Position = position;
    try {
      indexManager_->InsertKeys(sessionId, cursor);
    } catch (...) {
      TemporaryRecords()->TakeBackLastRecord();
      cursor.Position = before;
      throw;
    }
  }
  if (cursor.RecordBitmap && cursor.RecordBitmap->Active()) {
    cursor.RecordBitmap->AfterRecordWritten(position, RecordPassesView(cursor));
  }
  cursor.Position = position;
  cursor.AtStart = cursor.AtEnd = false;
  CommitTableSession(sessionId, CursorInTransaction(cursor));
  return true;
}

bool TABSTemporaryTableData::UpdateCursorRecord(TABSCursorState& /*cursor*/) {
  return false;
}

bool TABSTemporaryTableData::DeleteCursorRecord(TABSCursorState& /*cursor*/) {
  return false;
}
