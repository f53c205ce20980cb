// Table-level operations of the local cursor: creating, removing, emptying
// and renaming tables, attaching and detaching, the field layout, the table
// locks, change batches and sequences.
#include "engine/index/ABSConstraintManager.h"
#include "engine/local/ABSLocalCursor.h"
#include "engine/local/ABSLocalCursorInternal.h"
#include "engine/local/ABSSession.h"
#include "engine/memory/ABSException.h"
#include "engine/memory/ABSNativeCodes.h"
#include "engine/storage/ABSFieldManager.h"
#include "engine/tables/ABSDatabaseData.h"
#include "engine/types/ABSNames.h"

using namespace local_cursor_detail;

namespace {

// The table's field definitions; none before it was created.
const TABSFieldDefs& TableFieldDefs(const TABSTableData& table) {
  static const TABSFieldDefs none;
  return table.FieldManager() ? table.FieldManager()->FieldDefs() : none;
}

}  // namespace

TABSLocalCursor::TABSLocalCursor() = default;

TABSLocalCursor::~TABSLocalCursor() {
  try {
    DetachTable();
  } catch (...) {
    // Only a cursor that never had a database can fail here; it holds
    // nothing of a table.
  }
  FreeAttachedLists();
}

TABSDatabaseData& TABSLocalCursor::RefreshDatabase() {
  DatabaseData = Session != nullptr ? Session->DatabaseData() : nullptr;
  if (DatabaseData == nullptr) {
    throw EABSException(native_code::kCursorNoDatabase, "Cursor has no session database");
  }
  return *DatabaseData;
}

void TABSLocalCursor::MakeTable(TABSFieldDefs& fieldDefs, TABSIndexDefs& indexDefs,
                                TABSConstraintDefs& constraintDefs) {
  TABSDatabaseData& database = RefreshDatabase();
  DatabaseLock hold(database);
  DetachTable();
  if (database.TableExists(TableName)) RemoveTable();
  TABSTableData& table = database.FindOrCreateTableData(TableName);
  try {
    table.CreateTableFromDefs(*this, fieldDefs, indexDefs, constraintDefs);
  } catch (...) {
    // A table that could not be built is no table: it goes again, and the
    // caller sees the error that stopped the build.
    database.FreeTableData(table);
    DetachTable();
    throw;
  }
  DetachTable();
}

void TABSLocalCursor::RemoveTable() {
  TABSDatabaseData& database = RefreshDatabase();
  DatabaseLock hold(database);
  DetachTable();
  TABSTableData* table = database.FindTableData(TableName);
  if (table == nullptr) throw EABSException(20132, "Table '%s' not found", {TableName});
  if (table->AttachedCursorCount() == 0 && Session != nullptr && table->FieldManager()) {
    const TABSFieldDefs& fields = table->FieldManager()->FieldDefs();
    for (std::int32_t i = 0; i < fields.DefCount(); ++i) {
      Session->RemoveNamedObject(fields[i]->ObjectId);
    }
  }
  table->DeleteTableData(this, false);  // frees the table data
  DetachTable();
}

void TABSLocalCursor::WipeTable() {
  TABSDatabaseData& database = RefreshDatabase();
  DatabaseLock hold(database);
  DetachTable();
  TABSTableData* table = database.FindTableData(TableName);
  if (table == nullptr) throw EABSException(20133, "Table '%s' not found", {TableName});
  try {
    table->EmptyTableData(this);
  } catch (...) {
    DetachTable();
    throw;
  }
  DetachTable();
}

void TABSLocalCursor::RenameTableTo(const std::string& newTableName) {
  TABSDatabaseData& database = RefreshDatabase();
  DatabaseLock hold(database);
  DetachTable();
  TABSTableData* table = database.FindTableData(TableName);
  if (table == nullptr) throw EABSException(20134, "Table '%s' not found", {TableName});
  if (!EngineNamesEqual(newTableName, TableName) && database.TableExists(newTableName)) {
    throw EABSException(30451, "Table %s already exists", {newTableName});
  }
  if (newTableName == TableName) {
    throw EABSException(30452, "Cannot rename table '%s' into itself", {newTableName});
  }
  table->RenameTableData(newTableName, this);
  DetachTable();
  TableName = newTableName;
}

void TABSLocalCursor::LoadFieldLayout() {
  if (TableData == nullptr) return;
  DatabaseLock hold(TableData->DatabaseData());
  // Built aside, installed together: a failure leaves the layout as it was.
  auto physical = std::make_unique<TABSFieldDefs>();
  physical->CopyListFrom(TableFieldDefs(*TableData));
  std::unique_ptr<TABSFieldDefs> logical;
  if (!ProjectionSet) {
    logical = std::make_unique<TABSFieldDefs>();
    logical->CopyListFrom(TableFieldDefs(*TableData));
    for (std::int32_t i = 0; i < logical->DefCount(); ++i) (*logical)[i]->PhysicalFieldNo = i;
  }
  auto constraints = std::make_unique<TABSConstraintDefs>();
  if (TableData->ConstraintManager()) {
    constraints->CopyListFrom(TableData->ConstraintManager()->ConstraintDefs());
  }
  std::unique_ptr<TABSFieldDefs> oldPhysical = std::move(PhysicalFieldDefs);
  PhysicalFieldDefs = std::move(physical);
  try {
    ComputeBufferLayout();
  } catch (...) {
    PhysicalFieldDefs = std::move(oldPhysical);
    throw;
  }
  if (!ProjectionSet) LogicalFieldDefs = std::move(logical);
  ConstraintDefs = std::move(constraints);
  CacheFieldSlots();
}

void TABSLocalCursor::AttachTable(TABSFieldDefs& fieldDefs, TABSIndexDefs& indexDefs,
                                  TABSConstraintDefs& constraintDefs) {
  if (Attached) return;
  TABSDatabaseData& database = RefreshDatabase();
  DatabaseLock hold(database);
  TABSTableData* table = database.FindTableData(TableName);
  bool created = false;
  if (table == nullptr) {
    if (!AutoCreate) throw EABSException(10028, "Table not found, table name = %s", {TableName});
    table = &database.CreateTableData(TableName);
    created = true;
  }
  try {
    if (created) table->CreateTableFromDefs(*this, fieldDefs, indexDefs, constraintDefs);
    // Everything that can fail is made before the cursor registers.
    auto indexes = std::make_unique<TABSIndexDefs>();
    indexes->CopyListFrom(table->IndexDefs());
    auto streams = std::make_unique<std::vector<TABSLateOwned<TABSLocalBLOBStream>>>();
    table->AttachCursor(*this);
    TableData = table;
    AtStart = true;
    AtEnd = false;
    IndexDefs = std::move(indexes);
    BlobStreams = std::move(streams);
    RecordBitmap.reset();
    RecordBitmapStale = true;
    Attached = true;
  } catch (...) {
    if (created) database.FreeTableData(*table);
    throw;
  }
}

void TABSLocalCursor::FreeAttachedLists() noexcept {
  DiscardBlobStreams();
  RecordBitmap.reset();
  FilterExpression.reset();
  PhysicalFieldDefs.reset();
  if (!ProjectionSet) LogicalFieldDefs.reset();
  IndexDefs.reset();
  BlobStreams.reset();
  ConstraintDefs.reset();
  // The field table goes with the lists, so a list allocated later at the
  // same address is never read through it.
  CacheFieldSlots();
}

void TABSLocalCursor::DetachTable() {
  TABSDatabaseData* database = TableData != nullptr ? &TableData->DatabaseData() : nullptr;
  if (database == nullptr) {
    if (Session != nullptr) DatabaseData = Session->DatabaseData();
    database = DatabaseData;
  }
  if (database == nullptr) {
    FreeAttachedLists();
    Attached = false;
    return;
  }
  DatabaseLock hold(*database);
  // The streams and the edit's blocks go while the table (and its field
  // layout) is still there; no dataset is called back.
  DiscardBlobStreams();
  if (TableData != nullptr) {
    TABSTableData* table = TableData;
    TableData = nullptr;
    table->DetachCursor(*this);
    if (AutoCreate && (InMemory || Temporary)) {
      try {
        table->DeleteTableData(this, true);
      } catch (...) {
        // Keeping an automatically created table is harmless.
      }
    }
  }
  FreeAttachedLists();
  Attached = false;
}

TABSTableData& TABSLocalCursor::RequireTable(std::int32_t code) {
  if (TableData == nullptr) {
    throw EABSException(code, code >= 20000 ? "Pointer is nil" : "Nil pointer occured");
  }
  return *TableData;
}

void TABSLocalCursor::EnterTableLock() {
  RequireTable(10260).LockTable();
}

void TABSLocalCursor::LeaveTableLock() {
  RequireTable(10261).UnlockTable();
}

bool TABSLocalCursor::AcquireTableLock(std::int32_t, std::int32_t, bool, std::int32_t) {
  RequireTable(20221);
  return true;
}

bool TABSLocalCursor::ReleaseTableLock(std::int32_t, bool) {
  RequireTable(20222);
  return true;
}

void TABSLocalCursor::RenameFieldInTable(const std::string& oldName, const std::string& newName) {
  if (TableData == nullptr) {
    TABSCursor::RenameFieldInTable(oldName, newName);
    return;
  }
  DatabaseLock hold(TableData->DatabaseData());
  TableData->RenameTableField(oldName, newName);
}

std::int64_t TABSLocalCursor::LastSequenceValue(std::int32_t physicalFieldNo) {
  if (TableData == nullptr) {
    throw EABSException(native_code::kSequenceDetached, "Cursor is not attached to a table");
  }
  return TableData->GetFieldLastValue(Session, physicalFieldNo);
}

void TABSLocalCursor::BeginChangeBatch() {
  if (Session == nullptr || !Session->InTransaction()) BatchPending = true;
}

void TABSLocalCursor::CommitChangeBatch() {
  if ((Session != nullptr && Session->InTransaction()) || !BatchPending) return;
  if (TableData != nullptr && Session != nullptr) {
    TableData->CommitTableSession(Session->SessionId(), Session->InTransaction());
  }
  BatchPending = false;
}

void TABSLocalCursor::RollbackChangeBatch() {
  if ((Session != nullptr && Session->InTransaction()) || !BatchPending) return;
  if (TableData != nullptr && Session != nullptr) {
    TableData->DiscardTableSession(Session->SessionId(), Session->InTransaction());
  }
  BatchPending = false;
}
