// Test support for the dataset and table component tests: a fixture that
// leaves "MEMORY" and the default session as it found them and builds the
// plan table the application uses; the components work on the engine's
// local cursor. ScriptedCursorTest puts the test cursor under them instead,
// for refusals the memory tables never give.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "engine/components/ABSDatabaseComponent.h"
#include "engine/components/ABSSessionComponent.h"
#include "engine/components/ABSTable.h"
#include "platform/data/Component.h"
#include "tests/engine/MemoryTables.h"
#include "tests/engine/components/TestCursor.h"

// A table component that lets a test call the record hooks directly.
class TProbeTable : public TABSTable {
 public:
  using platform::TDataSet::ActiveBuffer;
  using platform::TDataSet::RestoreState;
  using platform::TDataSet::SetTempState;
  using TABSDataSet::ActiveRecordNumber;
  using TABSDataSet::BeginRecordEdit;
  using TABSDataSet::BlankRecordBuffer;
  using TABSDataSet::CancelRecordChange;
  using TABSDataSet::CompareBookmarkOrder;
  using TABSDataSet::DisposeRecordBuffer;
  using TABSDataSet::GoAfterLast;
  using TABSDataSet::GoBeforeFirst;
  using TABSDataSet::GoToBookmark;
  using TABSDataSet::GoToBufferRecord;
  using TABSDataSet::GoToRecordNumber;
  using TABSDataSet::LoadFieldData;
  using TABSDataSet::LoadRecord;
  using TABSDataSet::NewRecordBuffer;
  using TABSDataSet::ReadBookmarkData;
  using TABSDataSet::ReadBookmarkFlag;
  using TABSDataSet::RecordDataSize;
  using TABSDataSet::StoreFieldData;
  using TABSDataSet::TotalRecords;
  using TABSDataSet::WriteBookmarkData;
  using TABSDataSet::WriteBookmarkFlag;
  using TABSDataSet::ZeroCalculatedArea;
  using TABSTable::TABSTable;
};

class TableComponentTest : public MemoryTablesTest {
 protected:
  TableComponentTest() : form_(std::make_unique<platform::TComponent>(nullptr)) {
    form_->SetName("Form1");
  }
  ~TableComponentTest() override {
    FreeForm();
    if (Sessions().DefaultSession() != nullptr) {
      Sessions().DefaultSession()->SetKeepConnections(true);
      Sessions().DefaultSession()->SetActive(false);
    }
  }
  static TABSSession& Default() { return *Sessions().DefaultSession(); }
  platform::TComponent* Form() { return form_.get(); }
  // Frees the form and every component on it.
  void FreeForm() { form_.reset(); }

  // A table component on the form, named, for "MEMORY".
  template <class Table = TABSTable>
  Table& NewTable(const std::string& name, const std::string& tableName) {
    auto* table = new Table(form_.get());
    table->SetName(name);
    table->SetDatabaseName("MEMORY");
    table->SetTableName(tableName);
    return *table;
  }

  // The plan table as the window's DarlehenDatenbank creates it.
  static void CreatePlanTable(const std::string& tableName) {
    TABSTable creator(nullptr);
    creator.SetDatabaseName("MEMORY");
    creator.SetTableName(tableName);
    creator.SetExclusive(true);
    creator.FieldDefs().Clear();
    for (const char* name : {"Jahr", "Monat", "Tag"}) {
      creator.FieldDefs().Add(name, platform::ftInteger);
    }
    for (const char* name : {"Darlehen", "Tilgung", "Zins"}) {
      creator.FieldDefs().Add(name, platform::ftCurrency);
    }
    creator.CreateTable();
  }

  // One plan row: Append, the six fields, Post.
  static void AppendPlanRow(TABSTable& table, int jahr, int monat, int tag, double darlehen,
                            double tilgung, double zins) {
    table.Append();
    table.FieldByName("Jahr").SetAsInteger(jahr);
    table.FieldByName("Monat").SetAsInteger(monat);
    table.FieldByName("Tag").SetAsInteger(tag);
    table.FieldByName("Darlehen").SetAsFloat(darlehen);
    table.FieldByName("Tilgung").SetAsFloat(tilgung);
    table.FieldByName("Zins").SetAsFloat(zins);
    table.Post();
  }

 private:
  std::unique_ptr<platform::TComponent> form_;
};

class ScriptedCursorTest : public TableComponentTest {
 protected:
  // The components close while the test cursor's tables still exist.
  ~ScriptedCursorTest() override { FreeForm(); }

 private:
  components_test::TTestCursorScope cursorScope_;
};
