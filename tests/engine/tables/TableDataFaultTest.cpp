// Allocation failures over the table data's insert, update, delete
// and empty: after each failure the table holds exactly the records of the
// model, no BLOB block is left pending and no engine memory has leaked.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/index/ABSBTree.h"
#include "engine/index/ABSConstraintManager.h"
#include "engine/index/ABSIndexManager.h"
#include "engine/storage/ABSPageManager.h"
#include "tests/engine/FaultInjection.h"
#include "tests/engine/MemoryTables.h"
#include "tests/engine/index/BTreeChecker.h"
#include "tests/engine/tables/TableDataTestSupport.h"

namespace {

class TableDataFaultTest : public MemoryTablesTest {
 protected:
  static void AddFields(TABSFieldDefs& fields) {
    fields.AddFieldDef("Id", dtInteger);
    fields.AddFieldDef("Data", dtBlob);
  }
  static void AddNotNullId(TABSConstraintDefs& constraints) {
    TABSConstraintDef* notNull = constraints.AddNotNullConstraint();
    notNull->SetName("IdNotNull");
    notNull->SetTargetName("Id");
  }
  // The table "Faults"; with `withIndex` a unique index on Id (and its
  // constraint) too.
  void SetUpTable(bool withIndex = false) {
    cursor_.reset();
    model_.clear();
    if (table_ != nullptr) Memory().FreeTableData(*table_);
    TABSFieldDefs fields;
    AddFields(fields);
    TABSConstraintDefs constraints;
    AddNotNullId(constraints);
    table_ = static_cast<TABSMemoryTableData*>(
        &CreateTestTable(Memory(), "Faults", fields, &constraints));
    cursor_ = std::make_unique<TableCursor>(*table_, "Faults");
    if (withIndex) table_->AddTableIndex(UniqueIdIndex(), nullptr);
  }
  static const TABSIndexDef& UniqueIdIndex() {
    static TABSIndexDef def;
    if (def.ColumnCount() == 0) {
      def.SetName("ById");
      def.Unique = true;
      def.Columns.push_back(TABSIndexColumn{"Id"});
    }
    return def;
  }
  // Every index is a sound tree with one entry per record.
  void ExpectIndexesSound() {
    TABSBaseIndexManager* indexes = table_->IndexManager();
    for (std::int32_t i = 0; indexes != nullptr && i < indexes->IndexCount(); ++i) {
      auto* tree = dynamic_cast<TABSBTreeRecordIndex*>(
          &indexes->GetIndex(indexes->IndexDefs()[i]->ObjectId));
      ASSERT_NE(tree, nullptr);
      std::vector<RecordPosition> leaves;
      EXPECT_EQ(CheckBTree(*tree, TABSTableData::kNoSessionId, &leaves), "");
      EXPECT_EQ(leaves.size(), model_.size());
    }
  }
  void WriteText(const std::string& text) {
    table_->WriteBlobField(1, text.data(), static_cast<std::int64_t>(text.size()), TABSBlobHeader{},
                           cursor_->Buffer());
  }
  std::string ReadText() {
    void* buffer = nullptr;
    std::int64_t length = 0;
    TABSBlobHeader header;
    table_->ReadBlobField(1, buffer, length, header, cursor_->Buffer());
    std::string text(static_cast<const char*>(buffer), static_cast<std::size_t>(length));
    table_->FreeBlobBuffer(buffer);
    return text;
  }
  // Every record as "id:text", in record order, read through a cursor of its own.
  std::vector<std::string> Contents() {
    std::vector<std::string> seen;
    TableCursor reader(*table_, "Faults");
    while (table_->FetchCursorRecord(reader.state, FetchMode::Next) == FetchResult::Found) {
      void* buffer = nullptr;
      std::int64_t length = 0;
      TABSBlobHeader header;
      table_->ReadBlobField(1, buffer, length, header, reader.Buffer());
      seen.push_back(
          std::to_string(reader.GetInt(0)) + ":" +
          std::string(static_cast<const char*>(buffer), static_cast<std::size_t>(length)));
      table_->FreeBlobBuffer(buffer);
    }
    return seen;
  }
  void ExpectModel() {
    EXPECT_EQ(Contents(), model_);
    EXPECT_EQ(table_->GetTableRecordCount(0), static_cast<std::int64_t>(model_.size()));
    EXPECT_EQ(table_->PendingBlobCount(), 0u);
    ExpectIndexesSound();
  }
  // An edit of the cursor's buffer that is stored by `store`, or cancelled
  // when that fails, as the cursor does.
  template <typename Store>
  bool Edit(std::int32_t id, const std::string& text, Store store) {
    try {
      cursor_->SetInt(0, id);
      WriteText(text);
      if (store()) return true;
    } catch (...) {
      table_->CancelEditBlobs(cursor_->state);
      throw;
    }
    table_->CancelEditBlobs(cursor_->state);
    return false;
  }
  void Fill(int n) {
    for (int i = 0; i < n; ++i) {
      ASSERT_TRUE(Edit(i, "blob " + std::to_string(i),
                       [&] { return table_->InsertCursorRecord(cursor_->state); }));
      model_.push_back(std::to_string(i) + ":blob " + std::to_string(i));
    }
  }

  TABSMemoryTableData* table_ = nullptr;
  std::unique_ptr<TableCursor> cursor_;
  std::vector<std::string> model_;

  void TearDown() override { cursor_.reset(); }
};

TEST_F(TableDataFaultTest, FailedInsertStoresNothing) {
  for (const bool withIndex : {false, true}) {
    SCOPED_TRACE(withIndex ? "with a unique index" : "without index");
    SetUpTable(withIndex);
    // The record store grows every 1000 records: the 1001st insert makes the
    // injected runs also hit the growth step.
    Fill(1000);
    const int allocations = InjectAllocationFailures(
        [&] {
          return Edit(5000, std::string(300, 'n'),
                      [&] { return table_->InsertCursorRecord(cursor_->state); });
        },
        {.AfterFailure = [&] { ExpectModel(); }});
    EXPECT_GT(allocations, 1);
    model_.push_back("5000:" + std::string(300, 'n'));
    ExpectModel();
  }
}

TEST_F(TableDataFaultTest, FailedUpdateKeepsTheStoredRecordAndItsBlob) {
  for (const bool withIndex : {false, true}) {
    SCOPED_TRACE(withIndex ? "with a unique index" : "without index");
    SetUpTable(withIndex);
    Fill(3);
    table_->SeekCursorRecordNumber(cursor_->state, 2);
    const int allocations = InjectAllocationFailures(
        [&] {
          EXPECT_EQ(table_->FetchCursorRecord(cursor_->state, FetchMode::Current),
                    FetchResult::Found);
          return Edit(77, "replaced", [&] { return table_->UpdateCursorRecord(cursor_->state); });
        },
        {.AfterFailure = [&] { ExpectModel(); }});
    EXPECT_GT(allocations, 1);
    model_[1] = "77:replaced";
    ExpectModel();
  }
}

TEST_F(TableDataFaultTest, FailedDeleteKeepsTheRecord) {
  for (const bool withIndex : {false, true}) {
    SCOPED_TRACE(withIndex ? "with a unique index" : "without index");
    SetUpTable(withIndex);
    Fill(3);
    const int allocations = InjectAllocationFailures(
        [&] {
          table_->SeekCursorRecordNumber(cursor_->state, 2);
          return table_->DeleteCursorRecord(cursor_->state);
        },
        {.AfterFailure = [&] { ExpectModel(); }});
    EXPECT_GT(allocations, 0);
    model_.erase(model_.begin() + 1);
    ExpectModel();
  }
}

TEST_F(TableDataFaultTest, FailedEmptyKeepsEveryRecord) {
  for (const bool withIndex : {false, true}) {
    SCOPED_TRACE(withIndex ? "with a unique index" : "without index");
    SetUpTable(withIndex);
    Fill(5);
    const int allocations = InjectAllocationFailures([&] { table_->EmptyTableData(nullptr); },
                                                     {.AfterFailure = [&] { ExpectModel(); }});
    EXPECT_GT(allocations, 0);
    model_.clear();
    ExpectModel();
  }
}

TEST_F(TableDataFaultTest, FailedIndexAdditionAndDropLeaveTheTableAsItWas) {
  SetUpTable();
  Fill(300);
  const std::int32_t livePages = table_->TablePageManager()->LivePageCount();
  const int added = InjectAllocationFailures(
      [&] { table_->AddTableIndex(UniqueIdIndex(), &cursor_->state); },
      // The page store keeps what it grew to (freed with the table; the leak
      // guard checks that): live pages show what a failure left.
      {.AfterFailure =
           [&] {
             EXPECT_EQ(table_->IndexDefs().DefCount(), 0);
             EXPECT_EQ(table_->ConstraintManager()->ConstraintDefs().DefCount(), 1);
             EXPECT_EQ(table_->TablePageManager()->LivePageCount(), livePages);
             ExpectModel();
           },
       .MemoryUnchanged = false});
  EXPECT_GT(added, 0);
  ASSERT_EQ(table_->IndexDefs().DefCount(), 1);
  EXPECT_EQ(table_->ConstraintManager()->ConstraintDefs().DefCount(), 2);
  ExpectModel();
  const std::int32_t id = table_->IndexDefs()[0]->ObjectId;
  InjectAllocationFailures([&] { table_->DropTableIndex(id, &cursor_->state); },
                           {.AfterFailure = [&] { ExpectModel(); }});
  EXPECT_EQ(table_->IndexDefs().DefCount(), 0);
  EXPECT_EQ(table_->ConstraintManager()->ConstraintDefs().DefCount(), 1);
  EXPECT_EQ(table_->TablePageManager()->LivePageCount(), livePages);
}

TEST_F(TableDataFaultTest, FailedCreateWithAnIndexInstallsNothing) {
  TABSFieldDefs fields;
  AddFields(fields);
  TABSIndexDefs indexes;
  indexes.AppendDef(std::make_unique<TABSIndexDef>());
  indexes[0]->CopyFrom(UniqueIdIndex());
  TABSConstraintDefs none;
  TABSTableData& table = Memory().CreateTableData("Created");
  TABSCursorState creator;
  InjectAllocationFailures([&] { table.CreateTableFromDefs(creator, fields, indexes, none); },
                           {.AfterFailure =
                                [&] {
                                  EXPECT_EQ(table.FieldManager(), nullptr);
                                  EXPECT_EQ(table.IndexManager(), nullptr);
                                  EXPECT_EQ(table.RecordManager(), nullptr);
                                  EXPECT_EQ(table.TablePageManager()->LivePageCount(), 0);
                                },
                            .MemoryUnchanged = false});
  ASSERT_NE(table.IndexManager(), nullptr);
  EXPECT_EQ(table.IndexDefs().DefCount(), 1);
}

}  // namespace
