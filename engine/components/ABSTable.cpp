// TABSTable: properties, existence, the table operations on short-lived
// cursors, opening and reading the definitions of a closed table.
// CreateTable and its definition conversions are in ABSTableCreate.cpp.
#include "engine/components/ABSTable.h"

#include "engine/components/ABSCursorMaker.h"
#include "engine/components/ABSDatabaseComponent.h"
#include "engine/components/ABSSchemaConversion.h"
#include "engine/local/ABSSession.h"
#include "engine/memory/ABSException.h"
#include "engine/schema/ABSDesignMode.h"
#include "engine/types/ABSNames.h"
#include "platform/data/DatabaseError.h"

namespace {

std::string Trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return std::string();
  const auto last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}

// Sets a database-use bit for one scope and clears it however the scope ends.
class UseBitGuard {
 public:
  UseBitGuard(TABSDataSet& dataSet, int bit) : dataSet_(dataSet), bit_(bit) {
    dataSet_.SetDatabaseUse(bit_, true);
  }
  ~UseBitGuard() {
    try {
      dataSet_.SetDatabaseUse(bit_, false);
    } catch (...) {
      // Releasing only takes the session lock and counts down.
    }
  }
  UseBitGuard(const UseBitGuard&) = delete;
  UseBitGuard& operator=(const UseBitGuard&) = delete;

 private:
  TABSDataSet& dataSet_;
  int bit_;
};

}  // namespace

TABSTable::TABSTable(platform::TComponent* owner) : TABSDataSet(owner) {}

TABSTable::~TABSTable() {
  MarkDestroying();
  try {
    Close();
  } catch (...) {
    // The dataset's destructor releases what a failed close left.
  }
}

void TABSTable::SetTableName(const std::string& name) {
  if (name == tableName_) return;
  if (!IsLoading()) CheckInactive();
  tableName_ = name;
}

void TABSTable::SetTemporary(bool on) {
  CheckInactive();
  if (on) SetDatabaseName("TEMP");
  temporary_ = on;
}

std::string TABSTable::CheckedTableName() const {
  std::string name = Trimmed(tableName_);
  if (name.empty()) platform::DatabaseError("Missing TableName property", this);
  return name;
}

std::unique_ptr<TABSCursor> TABSTable::NewCursor(bool readOnly, bool exclusive) const {
  std::unique_ptr<TABSCursor> cursor = MakeLocalCursor();
  if (cursor == nullptr) throw EABSException(20001, "Error creating table handle");
  TABSDatabase& database = *Database();
  cursor->Session = database.EngineSession();
  cursor->TableName = Trimmed(tableName_);
  cursor->InMemory = InMemory();
  cursor->Temporary = temporary_;
  cursor->KeepTempInMemory = InMemory() || noTempFiles_ || database.DisableTempFiles;
  cursor->ReadOnly = readOnly;
  cursor->Exclusive = exclusive;
  return cursor;
}

void TABSTable::CheckNoTransaction(const char* operation) const {
  const TABSLocalSession* session = Database()->EngineSession();
  if (session != nullptr && session->InTransaction()) {
    throw EABSException(20182, "Cannot perform '%s' operation on a database in transaction",
                        {operation});
  }
}

template <typename Operation>
void TABSTable::WithTableCursor(bool exclusive, Operation&& operation) {
  UseBitGuard use(*this, duTableOp);
  std::unique_ptr<TABSCursor> cursor = NewCursor(false, exclusive);
  operation(*cursor);
}

// ---------------------------------------------------------------------------
// Existence and the table operations

bool TABSTable::Exists() {
  if (DatabaseName().empty()) return false;
  try {
    if (Database() != nullptr) return Database()->TableExistsInDatabase(Trimmed(tableName_));
    TABSDatabaseUse use(*this);
    return use.Database().TableExistsInDatabase(Trimmed(tableName_));
  } catch (...) {
    return false;
  }
}

void TABSTable::ClearTable() {
  CheckInactive();
  CheckedTableName();
  WithTableCursor(true, [](TABSCursor& cursor) { cursor.WipeTable(); });
}

void TABSTable::DeleteTable() {
  CheckInactive();
  CheckedTableName();
  WithTableCursor(true, [this](TABSCursor& cursor) {
    CheckNoTransaction("DeleteTable");
    cursor.RemoveTable();
  });
}

void TABSTable::RenameTable(const std::string& newName) {
  CheckInactive();
  CheckedTableName();
  WithTableCursor(true, [&](TABSCursor& cursor) {
    CheckNoTransaction("RenameTable");
    cursor.RenameTableTo(newName);
  });
  tableName_ = newName;
}

void TABSTable::CreateTable() {
  CheckInactive();
  CheckedTableName();
  WithTableCursor(true, [this](TABSCursor& cursor) {
    AddPersistentFieldDefs();
    BuildComponentDefs();
    BuildEngineDefs();
    CheckNoTransaction("CreateTable");
    cursor.MakeTable(engineFieldDefs_, engineIndexDefs_, engineConstraintDefs_);
  });
}

// ---------------------------------------------------------------------------
// Opening

std::unique_ptr<TABSCursor> TABSTable::AttachedCursor() {
  CheckedTableName();
  const bool readOnly = ReadOnly() || Database()->ReadOnly();
  std::unique_ptr<TABSCursor> cursor = NewCursor(readOnly, exclusive_);
  cursor->AutoCreate = DesignMode.load();
  AddPersistentFieldDefs();
  if (InMemory() || temporary_) {
    if (FieldDefs().Count() == 0) {
      FieldDefsFromAdvFieldDefs(advFieldDefs_, FieldDefs());
    } else {
      EngineFieldDefsFromFieldDefs(FieldDefs(), engineFieldDefs_);
    }
    if (IndexDefs().Count() > 0) {
      AdvIndexDefsFromIndexDefs(IndexDefs(), advIndexDefs_);
      EngineIndexDefsFromAdvIndexDefs(advIndexDefs_, engineIndexDefs_);
    }
  }
  cursor->AttachTable(engineFieldDefs_, engineIndexDefs_, engineConstraintDefs_);
  return cursor;
}

std::unique_ptr<TABSCursor> TABSTable::CreateCursor() {
  CheckedTableName();
  IndexDefs().SetUpdated(false);
  std::unique_ptr<TABSCursor> cursor = AttachedCursor();
  SetReadOnly(cursor->ReadOnly);
  if (!indexName_.empty()) {
    cursor->SetCurrentIndex(indexName_);
  } else if (!indexFieldNames_.empty() && cursor->IndexDefs) {
    // The first index whose leading columns are the named fields, in order.
    const std::vector<std::string> names = SplitFieldList(indexFieldNames_);
    for (std::int32_t i = 0; i < cursor->IndexDefs->DefCount(); ++i) {
      const TABSIndexDef& def = *(*cursor->IndexDefs)[i];
      bool matches = !names.empty() && def.ColumnCount() >= static_cast<std::int32_t>(names.size());
      for (std::size_t c = 0; matches && c < names.size(); ++c) {
        matches = EngineNamesEqual(def.Columns[c].Name, names[c]);
      }
      if (matches) {
        cursor->SetCurrentIndex(def.Name());
        break;
      }
    }
  }
  return cursor;
}

void TABSTable::FreeCursor() {
  TABSDataSet::FreeCursor();
}

void TABSTable::AfterCursorOpen() {}

void TABSTable::DataEvent(platform::TDataEvent event, std::intptr_t info) {
  if (event == platform::TDataEvent::dePropertyChange) IndexDefs().SetUpdated(false);
  TABSDataSet::DataEvent(event, info);
}

void TABSTable::DefChanged(const void* /*defs*/) {
  storeDefs_ = true;
}

// ---------------------------------------------------------------------------
// Definitions of a closed table

void TABSTable::InitFieldDefs() {
  if (HasCursor()) {
    TABSDataSet::InitFieldDefs();
    return;
  }
  UseBitGuard use(*this, duFieldDefs);
  std::unique_ptr<TABSCursor> cursor = AttachedCursor();
  ReadDefinitionsFrom(*cursor);
}

void TABSTable::UpdateIndexDefs() {
  auto fromCursor = [this](TABSCursor& cursor) {
    const TABSIndexDefs* defs = cursor.FetchIndexDefs();
    IndexDefsFromEngineIndexDefs(defs, IndexDefs());
    if (defs == nullptr) return;
    AdvIndexDefsFromIndexDefs(IndexDefs(), advIndexDefs_);
    advIndexDefsRead_.CopyFrom(advIndexDefs_);
  };
  if (Cursor() != nullptr) {
    fromCursor(*Cursor());
    return;
  }
  UseBitGuard use(*this, duIndexDefs);
  std::unique_ptr<TABSCursor> cursor = AttachedCursor();
  fromCursor(*cursor);
}
