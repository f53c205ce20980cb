// TABSTable: the component through which an application uses one table of
// an engine database. It names the table (DatabaseName, TableName), creates
// it from its field and index definitions, tells whether it exists, empties,
// deletes and renames it, and opens it as a dataset (TABSDataSet).
//
// Every table operation works through a short-lived cursor that is made,
// used once and freed, while database-use bit duTableOp keeps the database
// attached; opening keeps a cursor attached to the table until closing.
// Tables of the in-memory database outlive every component that used them.
//
// Ownership: the component owns its definition lists and, while open, its
// cursor (see TABSDataSet). Threads: none (one thread per component).
// Errors: the framework's database error with the component's name for a
// missing TableName or DatabaseName and for changes that need a closed
// dataset; EABSException for the engine's refusals (20001, 20182, 30499,
// 30453, 20257 and those of the cursor and the session).
#pragma once

#include <memory>
#include <string>

#include "engine/components/ABSDataSet.h"

class TABSTable : public TABSDataSet {
 public:
  explicit TABSTable(platform::TComponent* owner = nullptr);
  ~TABSTable() override;

  // --- published properties ---
  bool StoreDefs() const { return storeDefs_; }
  void SetStoreDefs(bool on) { storeDefs_ = on; }
  const std::string& IndexFieldNames() const { return indexFieldNames_; }
  void SetIndexFieldNames(const std::string& names) { indexFieldNames_ = names; }
  const std::string& IndexName() const { return indexName_; }
  void SetIndexName(const std::string& name) { indexName_ = name; }
  const std::string& TableName() const { return tableName_; }
  // The same value does nothing; another one REQUIRES a closed dataset.
  void SetTableName(const std::string& name);
  bool Exclusive() const { return exclusive_; }
  void SetExclusive(bool on) { exclusive_ = on; }
  // Whether the table exists in its database. Never raises: any failure
  // while testing reads as false.
  bool Exists();

  // --- further state ---
  bool Temporary() const { return temporary_; }
  // REQUIRES: closed. True also sets DatabaseName to "TEMP".
  void SetTemporary(bool on);

  // --- table operations (REQUIRE a closed dataset) ---
  // Creates the table from the definitions, replacing one of the same name.
  void CreateTable();
  // Deletes every row and keeps the table and its structure.
  void ClearTable();
  // Removes the table from its database.
  void DeleteTable();
  // Renames the table; TableName follows.
  void RenameTable(const std::string& newName);

  // --- the added virtuals ---
  std::unique_ptr<TABSCursor> CreateCursor() override;
  void FreeCursor() override;
  void AfterCursorOpen() override;
  void DataEvent(platform::TDataEvent event, std::intptr_t info = 0) override;

 protected:
  void DefChanged(const void* defs) override;
  void InitFieldDefs() override;
  void UpdateIndexDefs() override;

 private:
  // TableName without surrounding blanks; "Missing TableName property" when
  // nothing remains.
  std::string CheckedTableName() const;
  // A new cursor for the attached database with the component's settings.
  std::unique_ptr<TABSCursor> NewCursor(bool readOnly, bool exclusive) const;
  // Raises 20182 with `operation` while the engine session is in a transaction.
  void CheckNoTransaction(const char* operation) const;
  // A field definition for every persistent data field that has none.
  void AddPersistentFieldDefs();
  // The definition lists of CreateTable (ABSTableCreate.cpp).
  void BuildComponentDefs();
  void ValidateAdvFieldDefs() const;
  void BuildEngineDefs();
  // Makes, attaches and returns a cursor for reading or opening the table.
  std::unique_ptr<TABSCursor> AttachedCursor();
  // Runs `operation` on a short-lived cursor under database-use bit duTableOp.
  template <typename Operation>
  void WithTableCursor(bool exclusive, Operation&& operation);

  bool storeDefs_ = false;
  std::string indexFieldNames_;
  std::string indexName_;
  std::string tableName_;
  bool exclusive_ = false;
  bool temporary_ = false;
  bool noTempFiles_ = false;       // tables outside the memory database only
  std::uint8_t tableSetting_ = 0;  // tables outside the memory database only
};
