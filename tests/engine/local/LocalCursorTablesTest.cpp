// Table-level operations of the local cursor: creating, replacing, removing,
// emptying, renaming, attaching and the field layout.
#include <gtest/gtest.h>

#include "engine/storage/ABSFieldManager.h"
#include "tests/engine/RaisedError.h"
#include "tests/engine/local/CursorTestSupport.h"

namespace {

using LocalCursorTables = CursorTest;

TEST_F(LocalCursorTables, MakeTableLaysOutThePlanRecord) {
  MakePlanTable("Tilgungsplan");
  ASSERT_TRUE(Memory().TableExists("TILGUNGSPLAN"));
  auto cursor = Open("tilgungsplan");
  EXPECT_EQ(cursor->FirstFieldOffset, 1);
  EXPECT_EQ(cursor->DataSize(), 37);
  EXPECT_EQ(cursor->KeyBufferSize, 43);
  EXPECT_EQ(cursor->BaseBufferSize, 44);
  EXPECT_EQ(cursor->RecordBufferSize, 44);
  EXPECT_EQ(cursor->LogicalFieldDefs->DefCount(), 6);
  EXPECT_EQ(cursor->CountRecords(), 0);
  EXPECT_TRUE(cursor->AtStart);
  // The attaching spelling becomes the table's.
  EXPECT_EQ(cursor->TableData->TableName(), "tilgungsplan");
}

TEST_F(LocalCursorTables, MakeTableReplacesAClosedTableAndRefusesAnOpenOne) {
  MakePlanTable("T");
  {
    auto cursor = Open("T");
    RecordBuffer buffer(*cursor);
    ASSERT_EQ(InsertRow(*cursor, buffer.get(), Row(1)), 0);
  }
  TABSFieldDefs other;
  other.AddFieldDef("Name", dtString, 10);
  MakeTable("t", other);
  auto cursor = Open("T");
  EXPECT_EQ(cursor->CountRecords(), 0);
  EXPECT_EQ(cursor->PhysicalFieldDefs->DefCount(), 1);

  // While `cursor` has it open, the table stays as it is.
  TABSFieldDefs plan;
  PlanFields(plan);
  TABSIndexDefs i;
  TABSConstraintDefs c;
  EXPECT_EQ(NativeErrorOf([&] { NewCursor("T")->MakeTable(plan, i, c); }), 20017);
  EXPECT_EQ(Memory().FindTableData("T"), cursor->TableData);
  EXPECT_EQ(cursor->TableData->FieldManager()->FieldDefs().DefCount(), 1);
}

TEST_F(LocalCursorTables, FailedCreationLeavesNoTable) {
  TABSFieldDefs none;
  TABSIndexDefs i;
  TABSConstraintDefs c;
  EXPECT_EQ(NativeErrorOf([&] { NewCursor("Empty")->MakeTable(none, i, c); }), 10025);
  EXPECT_FALSE(Memory().TableExists("Empty"));

  auto cursor = NewCursor("Auto");
  cursor->AutoCreate = true;
  EXPECT_EQ(NativeErrorOf([&] { cursor->AttachTable(none, i, c); }), 10025);
  EXPECT_FALSE(Memory().TableExists("Auto"));
  EXPECT_FALSE(cursor->Attached);
  EXPECT_EQ(cursor->TableData, nullptr);

  // A constraint kind the memory table cannot hold.
  TABSFieldDefs plan;
  PlanFields(plan);
  TABSConstraintDefs unsupported;
  unsupported.AddNotNullConstraint()->ConstraintKind = 1;
  EXPECT_EQ(NativeErrorOf([&] { NewCursor("Bad")->MakeTable(plan, i, unsupported); }), 30040);
  EXPECT_FALSE(Memory().TableExists("Bad"));
}

TEST_F(LocalCursorTables, MissingTablesAreReportedAndNeverCreated) {
  struct Case {
    const char* what;
    std::function<void(TABSLocalCursor&)> operation;
    std::int32_t code;
  };
  const Case cases[] = {
      {"remove", [](TABSLocalCursor& c) { c.RemoveTable(); }, 20132},
      {"wipe", [](TABSLocalCursor& c) { c.WipeTable(); }, 20133},
      {"rename", [](TABSLocalCursor& c) { c.RenameTableTo("Other"); }, 20134},
      {"attach",
       [](TABSLocalCursor& c) {
         TABSFieldDefs f;
         TABSIndexDefs i;
         TABSConstraintDefs k;
         c.AttachTable(f, i, k);
       },
       10028},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.what);
    auto cursor = NewCursor("Missing");
    const EABSException error = RaisedBy([&] { test.operation(*cursor); });
    EXPECT_EQ(error.NativeError(), test.code);
    EXPECT_NE(std::string(error.what()).find("Missing"), std::string::npos);
    EXPECT_FALSE(Memory().TableExists("Missing"));
    EXPECT_FALSE(Memory().TableExists("Other"));
    EXPECT_FALSE(cursor->Attached);
  }
}

TEST_F(LocalCursorTables, RemoveTable) {
  MakePlanTable("Gone");
  {
    auto open = Open("Gone");
    EXPECT_EQ(NativeErrorOf([&] { NewCursor("GONE")->RemoveTable(); }), 20017);
    EXPECT_TRUE(Memory().TableExists("Gone"));
  }
  NewCursor("GONE")->RemoveTable();
  EXPECT_FALSE(Memory().TableExists("Gone"));
}

TEST_F(LocalCursorTables, WipeTableKeepsTheStructureAndRestartsRecordIds) {
  MakePlanTable("W");
  {
    auto cursor = Open("W");
    RecordBuffer buffer(*cursor);
    for (int n = 0; n < 100; ++n) ASSERT_EQ(InsertRow(*cursor, buffer.get(), Row(n)), 0);
  }
  NewCursor("w")->WipeTable();
  auto cursor = Open("W");
  EXPECT_EQ(cursor->CountRecords(), 0);
  EXPECT_EQ(cursor->PhysicalFieldDefs->DefCount(), 6);
  RecordBuffer buffer(*cursor);
  ASSERT_EQ(InsertRow(*cursor, buffer.get(), Row(7)), 0);
  EXPECT_EQ(cursor->Position.RecordId, 0);
}

TEST_F(LocalCursorTables, RenameTableTo) {
  MakePlanTable("Alt");
  MakePlanTable("Taken");
  struct Case {
    const char* from;
    const char* to;
    std::int32_t code;
  };
  const Case cases[] = {
      {"Alt", "Alt", 30452},
      {"Alt", "TAKEN", 30451},
      {"Alt", "ALT", 0},  // a change of letter case alone is a rename
      {"ALT", "Neu", 0},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(std::string(test.from) + " -> " + test.to);
    auto cursor = NewCursor(test.from);
    EXPECT_EQ(NativeErrorOf([&] { cursor->RenameTableTo(test.to); }), test.code);
    if (test.code == 0) {
      EXPECT_EQ(cursor->TableName, test.to);
      EXPECT_EQ(Memory().FindTableData(test.to)->TableName(), test.to);
    }
  }
  EXPECT_FALSE(Memory().TableExists("Alt"));
  auto open = Open("Neu");
  EXPECT_EQ(NativeErrorOf([&] { NewCursor("Neu")->RenameTableTo("X"); }), 10150);
  EXPECT_TRUE(Memory().TableExists("Neu"));
}

TEST_F(LocalCursorTables, SecondAttachChangesNothing) {
  MakePlanTable("A");
  auto cursor = Open("A");
  TABSTableData* table = cursor->TableData;
  cursor->AtStart = false;
  cursor->TableName = "Elsewhere";
  TABSFieldDefs f;
  TABSIndexDefs i;
  TABSConstraintDefs c;
  cursor->AttachTable(f, i, c);
  EXPECT_EQ(cursor->TableData, table);
  EXPECT_FALSE(cursor->AtStart);
  EXPECT_EQ(table->AttachedCursorCount(), 1u);
}

TEST_F(LocalCursorTables, AutoCreatedTableGoesWithItsLastCursor) {
  TABSFieldDefs plan;
  PlanFields(plan);
  TABSIndexDefs i;
  TABSConstraintDefs c;
  auto first = NewCursor("Temp");
  first->AutoCreate = true;
  first->AttachTable(plan, i, c);
  auto second = NewCursor("Temp");
  second->AutoCreate = true;
  second->AttachTable(plan, i, c);
  first->DetachTable();
  EXPECT_TRUE(Memory().TableExists("Temp"));
  second.reset();
  EXPECT_FALSE(Memory().TableExists("Temp"));
}

TEST_F(LocalCursorTables, TableLocksNeedATable) {
  auto cursor = NewCursor("None");
  EXPECT_EQ(NativeErrorOf([&] { cursor->EnterTableLock(); }), 10260);
  EXPECT_EQ(NativeErrorOf([&] { cursor->LeaveTableLock(); }), 10261);
  EXPECT_EQ(NativeErrorOf([&] { cursor->AcquireTableLock(0, 1, false, 0); }), 20221);
  EXPECT_EQ(NativeErrorOf([&] { cursor->ReleaseTableLock(0, false); }), 20222);
  MakePlanTable("L");
  auto open = Open("L");
  open->EnterTableLock();
  EXPECT_TRUE(open->AcquireTableLock(0, 1, false, 0));
  EXPECT_TRUE(open->ReleaseTableLock(0, false));
  open->LeaveTableLock();
}

TEST_F(LocalCursorTables, ChangeBatchesOutsideTransactions) {
  MakePlanTable("B");
  auto cursor = Open("B");
  cursor->BeginChangeBatch();
  EXPECT_TRUE(cursor->BatchPending);
  cursor->CommitChangeBatch();
  EXPECT_FALSE(cursor->BatchPending);
  session_.EnterTransaction();
  cursor->BeginChangeBatch();
  EXPECT_FALSE(cursor->BatchPending);
  session_.RollbackWork();
}

TEST_F(LocalCursorTables, ProjectionNamesAndRefusals) {
  MakePlanTable("P");
  auto cursor = Open("P");
  cursor->SetProjection({"Zins", "jahr", "Tag"}, {"", "X", "X"});
  ASSERT_EQ(cursor->LogicalFieldDefs->DefCount(), 3);
  EXPECT_EQ((*cursor->LogicalFieldDefs)[0]->Name(), "Zins");
  EXPECT_EQ((*cursor->LogicalFieldDefs)[0]->PhysicalFieldNo, 5);
  EXPECT_EQ((*cursor->LogicalFieldDefs)[1]->Name(), "X");
  EXPECT_EQ((*cursor->LogicalFieldDefs)[2]->Name(), "X_1");
  EXPECT_EQ((*cursor->LogicalFieldDefs)[2]->PhysicalFieldNo, 2);
  EXPECT_EQ(NativeErrorOf([&] { cursor->SetProjection({"Zins"}, {}); }), 10321);
  EXPECT_EQ(NativeErrorOf([&] { cursor->SetProjection({}, {}); }), 10322);
  EXPECT_EQ(NativeErrorOf([&] { cursor->SetProjection({"Nope"}, {""}); }), 10323);
  EXPECT_EQ(cursor->LogicalFieldDefs->DefCount(), 3);
}

}  // namespace
