#include "tests/engine/components/TestCursor.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "engine/components/ABSCursorMaker.h"
#include "engine/local/ABSSession.h"
#include "engine/memory/ABSException.h"
#include "engine/storage/ABSFieldManager.h"
#include "engine/tables/ABSDatabaseData.h"
#include "engine/tables/ABSTableData.h"
#include "engine/types/ABSNames.h"

namespace components_test {

namespace {

std::map<const TABSTableData*, std::unique_ptr<TTestTable>>& Store() {
  static std::map<const TABSTableData*, std::unique_ptr<TTestTable>> store;
  return store;
}

template <class Defs>
std::unique_ptr<Defs> CopyOf(const Defs& source) {
  auto copy = std::make_unique<Defs>();
  copy->CopyListFrom(source);
  return copy;
}

struct DatabaseLock {
  TABSDatabaseData& data;
  explicit DatabaseLock(TABSDatabaseData& d) : data(d) { data.LockDatabase(); }
  ~DatabaseLock() { data.UnlockDatabase(); }
};

}  // namespace

TTestCursorControls& TestCursorControls() {
  static TTestCursorControls controls;
  return controls;
}

TTestTable* TestTableOf(const TABSTableData* table) {
  auto it = Store().find(table);
  return it == Store().end() ? nullptr : it->second.get();
}

TTestCursor::~TTestCursor() {
  try {
    DetachTable();
  } catch (...) {
  }
}

void TTestCursor::Unsupported() {
  throw std::logic_error("not supported by the test cursor");
}

TABSDatabaseData& TTestCursor::Database() const {
  if (Session == nullptr || Session->DatabaseData() == nullptr) {
    throw EABSException(20151, "Pointer is nil");
  }
  return *Session->DatabaseData();
}

void TTestCursor::MakeTable(TABSFieldDefs& fieldDefs, TABSIndexDefs& indexDefs,
                            TABSConstraintDefs& constraintDefs) {
  DetachTable();
  TABSDatabaseData& data = Database();
  DatabaseLock lock(data);
  if (fieldDefs.DefCount() == 0) throw EABSException(10131, "Table has no fields");
  if (data.TableExists(TableName)) RemoveTable();
  auto table = std::make_unique<TTestTable>();
  table->FieldDefs = CopyOf(fieldDefs);
  table->FieldDefs->CalculateOffsets();
  table->IndexDefs = CopyOf(indexDefs);
  table->ConstraintDefs = CopyOf(constraintDefs);
  TABSTableData& created = data.CreateTableData(TableName);
  Store()[&created] = std::move(table);
}

void TTestCursor::RemoveTable() {
  DetachTable();
  TABSDatabaseData& data = Database();
  DatabaseLock lock(data);
  TABSTableData* table = data.FindTableData(TableName);
  if (table == nullptr) throw EABSException(20132, "Table '%s' not found", {TableName});
  if (TTestTable* rows = TestTableOf(table); rows != nullptr && rows->AttachedCursors > 0) {
    throw EABSException(20017, "Cannot delete table '%s'. Table is open by another dataset",
                        {TableName});
  }
  Store().erase(table);
  data.FreeTableData(*table);
}

void TTestCursor::WipeTable() {
  DetachTable();
  TABSDatabaseData& data = Database();
  DatabaseLock lock(data);
  TTestTable* table = TestTableOf(data.FindTableData(TableName));
  if (table == nullptr) throw EABSException(20133, "Table '%s' not found", {TableName});
  table->Rows.clear();
}

void TTestCursor::RenameTableTo(const std::string& newTableName) {
  DetachTable();
  TABSDatabaseData& data = Database();
  DatabaseLock lock(data);
  TABSTableData* table = data.FindTableData(TableName);
  if (table == nullptr) throw EABSException(20134, "Table '%s' not found", {TableName});
  if (!EngineNamesEqual(newTableName, TableName) && data.TableExists(newTableName)) {
    throw EABSException(30451, "Table %s already exists", {newTableName});
  }
  if (newTableName == TableName) {
    throw EABSException(30452, "Cannot rename table '%s' into itself", {TableName});
  }
  table->SetTableName(newTableName);
  TableName = newTableName;
}

void TTestCursor::AttachTable(TABSFieldDefs& fieldDefs, TABSIndexDefs& indexDefs,
                              TABSConstraintDefs& constraintDefs) {
  if (Attached) return;
  TABSDatabaseData& data = Database();
  DatabaseLock lock(data);
  TABSTableData* found = data.FindTableData(TableName);
  if (found == nullptr) {
    if (!AutoCreate) throw EABSException(10028, "Table not found, table name = %s", {TableName});
    MakeTable(fieldDefs, indexDefs, constraintDefs);
    found = data.FindTableData(TableName);
  }
  TTestTable* table = TestTableOf(found);
  if (table == nullptr) throw EABSException(10028, "Table not found, table name = %s", {TableName});
  tableData_ = found;
  table_ = table;
  ++table_->AttachedCursors;
  AtStart = true;
  AtEnd = false;
  IndexDefs = CopyOf(*table_->IndexDefs);
  Attached = true;
}

void TTestCursor::DetachTable() {
  if (table_ != nullptr) --table_->AttachedCursors;
  table_ = nullptr;
  tableData_ = nullptr;
  Attached = false;
  PhysicalFieldDefs.reset();
  LogicalFieldDefs.reset();
  IndexDefs.reset();
  ConstraintDefs.reset();
}

void TTestCursor::LoadFieldLayout() {
  PhysicalFieldDefs = CopyOf(*Table().FieldDefs);
  ComputeBufferLayout();
  LogicalFieldDefs = CopyOf(*Table().FieldDefs);
  for (std::int32_t i = 0; i < LogicalFieldDefs->DefCount(); ++i) {
    (*LogicalFieldDefs)[i]->PhysicalFieldNo = i;
  }
  ConstraintDefs = CopyOf(*Table().ConstraintDefs);
}

void TTestCursor::InitRecordBuffer(std::byte* buffer, bool /*applyDefaults*/) {
  const std::int32_t nullBytes = PhysicalFieldDefs->NullBitmapSize();
  std::memset(buffer, 0xFF, static_cast<std::size_t>(nullBytes));
  std::memset(buffer + nullBytes, 0, static_cast<std::size_t>(DataSize() - nullBytes));
}

std::int64_t TTestCursor::CountRecords() {
  return static_cast<std::int64_t>(Table().Rows.size());
}

std::size_t TTestCursor::LowerBound() const {
  const auto& rows = table_->Rows;
  return static_cast<std::size_t>(
      std::lower_bound(rows.begin(), rows.end(), Position.RecordId,
                       [](const TTestTable::Row& row, std::int32_t id) { return row.Id < id; }) -
      rows.begin());
}

FetchResult TTestCursor::FetchRecord(FetchMode mode) {
  const auto& rows = Table().Rows;
  const std::size_t n = rows.size();
  std::size_t at = 0;
  switch (mode) {
    case FetchMode::Current:
      if (AtStart) return FetchResult::Bof;
      if (AtEnd) return FetchResult::Eof;
      at = LowerBound();
      if (at >= n || rows[at].Id != Position.RecordId) return FetchResult::NotFound;
      break;
    case FetchMode::Next:
      if (AtEnd) return FetchResult::Eof;
      if (AtStart) {
        at = 0;
      } else {
        at = LowerBound();
        if (at < n && rows[at].Id == Position.RecordId) ++at;
      }
      if (at >= n) {
        AtStart = false;
        AtEnd = true;
        return FetchResult::Eof;
      }
      break;
    case FetchMode::Prior:
      if (AtStart) return FetchResult::Bof;
      at = AtEnd ? n : LowerBound();
      if (at == 0) {
        AtStart = true;
        AtEnd = false;
        return FetchResult::Bof;
      }
      --at;
      break;
  }
  AtStart = false;
  AtEnd = false;
  Position.RecordId = rows[at].Id;
  Position.SubPosition = 0;
  std::memcpy(CurrentBuffer, rows[at].Image.data(), rows[at].Image.size());
  return FetchResult::Found;
}

void TTestCursor::SeekRecordNumber(std::int64_t recordNumber) {
  AtStart = false;
  AtEnd = false;
  const auto& rows = Table().Rows;
  if (rows.empty()) return;
  // Numbers past the end go to the last record; numbers below 1 name no
  // record at all, as in the table data.
  if (recordNumber < 1) {
    Position.RecordId = -1;
    return;
  }
  const auto n = std::min<std::int64_t>(recordNumber, static_cast<std::int64_t>(rows.size()));
  Position.RecordId = rows[static_cast<std::size_t>(n - 1)].Id;
}

std::int64_t TTestCursor::CurrentRecordNumber() {
  if (AtStart || AtEnd || Table().Rows.empty()) return -1;
  const std::size_t at = LowerBound();
  if (at >= table_->Rows.size() || table_->Rows[at].Id != Position.RecordId) return -1;
  return static_cast<std::int64_t>(at) + 1;
}

std::int32_t TTestCursor::ComparePositions(const RecordPosition& a, const RecordPosition& b) {
  if (a.RecordId != b.RecordId) return a.RecordId < b.RecordId ? -1 : 1;
  if (a.SubPosition != b.SubPosition) return a.SubPosition < b.SubPosition ? -1 : 1;
  return 0;
}

void TTestCursor::MoveToStart() {
  AtStart = true;
  AtEnd = false;
}

void TTestCursor::MoveToEnd() {
  AtStart = false;
  AtEnd = true;
}

void TTestCursor::PrepareEdit() {
  LastResultCode = TestCursorControls().EditResult;
}

void TTestCursor::AbandonChanges(bool /*wasInserting*/) {
  LastResultCode = 0;
}

void TTestCursor::WriteRecord(bool isInsert) {
  LastResultCode = TestCursorControls().WriteResult;
  LastResultText.clear();
  if (LastResultCode != 0) return;
  // NOT NULL constraints, as the constraint check of a post reports them.
  for (std::int32_t c = 0; c < ConstraintDefs->DefCount(); ++c) {
    const TABSConstraintDef& constraint = *(*ConstraintDefs)[c];
    if (constraint.ConstraintKind != ckNotNull) continue;
    const std::int32_t field = PhysicalFieldDefs->IndexOfName(constraint.TargetName);
    if (field >= 0 && !FieldDataFromRecord(field, *PhysicalFieldDefs, nullptr, CurrentBuffer)) {
      LastResultCode = crPostValidationError;
      LastResultText = "Field '" + constraint.TargetName + "' must have a value";
      return;
    }
  }
  std::vector<std::byte> image(CurrentBuffer, CurrentBuffer + DataSize());
  auto& rows = Table().Rows;
  if (isInsert) {
    rows.push_back({table_->NextId++, std::move(image)});
    Position.RecordId = rows.back().Id;
    Position.SubPosition = 0;
    AtStart = AtEnd = false;
    return;
  }
  const std::size_t at = LowerBound();
  if (at >= rows.size() || rows[at].Id != Position.RecordId) {
    LastResultCode = crErrorUpdating;
    return;
  }
  rows[at].Image = std::move(image);
}

void TTestCursor::EraseRecord() {
  LastResultCode = 0;
  auto& rows = Table().Rows;
  const std::size_t at = LowerBound();
  if (at >= rows.size() || rows[at].Id != Position.RecordId) {
    LastResultCode = crErrorDeleting;
    return;
  }
  rows.erase(rows.begin() + static_cast<std::ptrdiff_t>(at));
  if (rows.empty()) {
    AtStart = true;
  } else {
    Position.RecordId = rows[std::min(at, rows.size() - 1)].Id;
  }
}

std::unique_ptr<TABSCursor> MakeTestCursor() {
  return std::make_unique<TTestCursor>();
}

TTestCursorScope::TTestCursorScope() : previous_(SetCursorMaker(&MakeTestCursor)) {
  TestCursorControls() = {};
}

TTestCursorScope::~TTestCursorScope() {
  SetCursorMaker(previous_);
  Store().clear();
  TestCursorControls() = {};
}

}  // namespace components_test
