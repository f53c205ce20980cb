// "TEMP" as users reach it: a local cursor on a session of the database
// named "TEMP", which the test main's engine makes the temporary database.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "engine/local/ABSEngine.h"
#include "engine/local/ABSLocalCursor.h"
#include "engine/local/ABSSession.h"
#include "engine/tables/ABSDatabaseDataList.h"
#include "engine/temporary/ABSTemporaryDatabaseData.h"
#include "engine/temporary/ABSTemporaryRecordManager.h"
#include "engine/temporary/ABSTemporaryTableData.h"
#include "tests/engine/local/CursorTestSupport.h"
#include "tests/engine/temporary/TemporaryTestSupport.h"

namespace {

class TemporaryCursorTest : public ::testing::Test {
 protected:
  TemporaryCursorTest() {
    session_.DatabaseName = "TEMP";
    session_.SetAttached(true);
  }
  ~TemporaryCursorTest() override { session_.SetAttached(false); }

  std::unique_ptr<TABSLocalCursor> NewCursor(bool keep) {
    auto cursor = std::make_unique<TABSLocalCursor>();
    cursor->Session = &session_;
    cursor->TableName = "Plan";
    cursor->Temporary = true;
    cursor->KeepTempInMemory = keep;
    return cursor;
  }
  std::unique_ptr<TABSLocalCursor> Open(bool keep) {
    auto cursor = NewCursor(keep);
    TABSFieldDefs f;
    TABSIndexDefs i;
    TABSConstraintDefs c;
    cursor->AttachTable(f, i, c);
    cursor->LoadFieldLayout();
    return cursor;
  }

  TTemporarySeams seams_;
  TABSLocalSession session_;
};

// How a case gives the table its index on Jahr.
enum class IndexMode { None, AtCreation, AddedAfterFilling };

// Row n of the test table: Jahr falls as n grows, so that the order of the
// index on Jahr is the reverse of the order of appending.
PlanRow DescendingRow(int n) {
  PlanRow row = Row(n);
  row.Jahr = 3000 - n;
  return row;
}

void AddJahrIndex(TABSIndexDefs& indexes) {
  indexes.AddIndexDef("ByJahr")->SetColumnsFromLists({"Jahr"}, {""}, {""});
}

TEST_F(TemporaryCursorTest, CreatesAppendsAndReadsBack) {
  const int n = 30;
  for (const bool keep : {false, true}) {
    for (const IndexMode mode :
         {IndexMode::None, IndexMode::AtCreation, IndexMode::AddedAfterFilling}) {
      SCOPED_TRACE(testing::Message() << "keep " << keep << " index mode " << int(mode));
      TemporaryLimitsForTesting().RecordLimit = 4;  // rows 4 and later go to the record file
      {
        TABSFieldDefs fields;
        PlanFields(fields);
        TABSIndexDefs indexes;
        if (mode == IndexMode::AtCreation) AddJahrIndex(indexes);
        TABSConstraintDefs constraints;
        NewCursor(keep)->MakeTable(fields, indexes, constraints);
      }
      TemporaryLimitsForTesting().RecordLimit = -1;
      auto cursor = Open(keep);
      auto* table = dynamic_cast<TABSTemporaryTableData*>(cursor->TableData);
      ASSERT_NE(table, nullptr) << "the table of TEMP is a temporary table";
      RecordBuffer buffer(*cursor);
      for (int i = 0; i < n; ++i) {
        ASSERT_EQ(InsertRow(*cursor, buffer.get(), DescendingRow(i)), 0) << i;
      }
      if (mode == IndexMode::AddedAfterFilling) {
        TABSIndexDefs indexes;
        AddJahrIndex(indexes);
        cursor->AddIndexToTable(*indexes[0]);
      }
      const bool indexed = mode != IndexMode::None;
      if (indexed) {
        cursor->SetCurrentIndex("ByJahr");
        ASSERT_TRUE(cursor->HasCurrentIndex());
      }
      EXPECT_EQ(table->TemporaryRecords()->RecordFile() != nullptr, !keep);
      EXPECT_EQ(cursor->CountRecords(), n);
      // The k-th record (0-based) in the cursor's order.
      const auto expected = [&](int k) { return DescendingRow(indexed ? n - 1 - k : k); };
      cursor->CurrentBuffer = buffer.get();
      cursor->MoveToStart();
      for (int k = 0; k < n; ++k) {
        ASSERT_EQ(cursor->FetchRecord(FetchMode::Next), FetchResult::Found) << k;
        EXPECT_EQ(ReadRow(*cursor, buffer.get()), expected(k)) << k;
      }
      EXPECT_NE(cursor->FetchRecord(FetchMode::Next), FetchResult::Found);
      cursor->MoveToEnd();
      for (int k = n - 1; k >= 0; --k) {
        ASSERT_EQ(cursor->FetchRecord(FetchMode::Prior), FetchResult::Found) << k;
        EXPECT_EQ(ReadRow(*cursor, buffer.get()), expected(k)) << k;
      }
      EXPECT_NE(cursor->FetchRecord(FetchMode::Prior), FetchResult::Found);
      for (const int number : {1, 4, 5, 17, 30}) {
        cursor->SeekRecordNumber(number);
        ASSERT_EQ(cursor->FetchRecord(FetchMode::Current), FetchResult::Found) << number;
        EXPECT_EQ(ReadRow(*cursor, buffer.get()), expected(number - 1)) << number;
        EXPECT_EQ(cursor->CurrentRecordNumber(), number);
      }
      cursor->SeekRecordNumber(1000);
      ASSERT_EQ(cursor->FetchRecord(FetchMode::Current), FetchResult::Found);
      EXPECT_EQ(ReadRow(*cursor, buffer.get()), expected(n - 1));
      // Edits and deletions are refused before they reach the table.
      cursor->SeekRecordNumber(3);
      cursor->FetchRecord(FetchMode::Current);
      cursor->PrepareEdit();
      EXPECT_EQ(cursor->LastResultCode, -9);
      cursor->EraseRecord();
      EXPECT_EQ(cursor->LastResultCode, -10);
      EXPECT_EQ(cursor->CountRecords(), n);
      cursor->SeekRecordNumber(3);
      ASSERT_EQ(cursor->FetchRecord(FetchMode::Current), FetchResult::Found);
      EXPECT_EQ(ReadRow(*cursor, buffer.get()), expected(2));
      cursor->DetachTable();
      cursor.reset();
      NewCursor(keep)->RemoveTable();
      EXPECT_EQ(DatabaseDataList().FindByName("TEMP")->TableCount(), 0u);
    }
  }
}

}  // namespace
