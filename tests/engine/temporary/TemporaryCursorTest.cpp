// "TEMP" as users reach it: a local cursor on a session of the database
// named "TEMP", with engine start-up installing the temporary database.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "engine/local/ABSEngine.h"
#include "engine/local/ABSLocalCursor.h"
#include "engine/local/ABSSession.h"
#include "engine/storage/ABSDatabaseDataList.h"
#include "engine/temporary/ABSTemporaryDatabaseData.h"
#include "engine/temporary/ABSTemporaryRecordManager.h"
#include "engine/temporary/ABSTemporaryTableData.h"
#include "tests/engine/local/CursorTestSupport.h"
#include "tests/engine/temporary/TemporaryTestSupport.h"

namespace {

class TemporaryCursorTest : public ::testing::Test {
 protected:
  TemporaryCursorTest() {
    EngineShutDown();
    EngineStartUp({.MakeTemporaryDatabase = MakeTemporaryDatabaseData});
    session_.DatabaseName = "TEMP";
    session_.SetAttached(true);
  }
  ~TemporaryCursorTest() override {
    session_.SetAttached(false);
    EngineShutDown();
    EngineStartUp();
  }

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

TEST_F(TemporaryCursorTest, CreatesAppendsAndReadsBack) {
  for (const bool keep : {false, true}) {
    SCOPED_TRACE(keep);
    TemporaryLimitsForTesting().RecordLimit = 4;  // rows 4 and later go to the record file
    {
      TABSFieldDefs fields;
      PlanFields(fields);
      TABSIndexDefs indexes;
      TABSConstraintDefs constraints;
      NewCursor(keep)->MakeTable(fields, indexes, constraints);
    }
    TemporaryLimitsForTesting().RecordLimit = -1;
    auto cursor = Open(keep);
    auto* table = dynamic_cast<TABSTemporaryTableData*>(cursor->TableData);
    ASSERT_NE(table, nullptr) << "the table of TEMP is a temporary table";
    RecordBuffer buffer(*cursor);
    const int n = 30;
    for (int i = 0; i < n; ++i) ASSERT_EQ(InsertRow(*cursor, buffer.get(), Row(i)), 0) << i;
    EXPECT_EQ(table->TemporaryRecords()->RecordFile() != nullptr, !keep);
    EXPECT_EQ(cursor->CountRecords(), n);
    cursor->CurrentBuffer = buffer.get();
    cursor->MoveToStart();
    for (int i = 0; i < n; ++i) {
      ASSERT_EQ(cursor->FetchRecord(FetchMode::Next), FetchResult::Found);
      EXPECT_EQ(ReadRow(*cursor, buffer.get()), Row(i)) << i;
      EXPECT_EQ(cursor->CurrentRecordNumber(), i + 1);
    }
    EXPECT_EQ(cursor->FetchRecord(FetchMode::Next), FetchResult::Eof);
    cursor->MoveToEnd();
    for (int i = n - 1; i >= 0; --i) {
      ASSERT_EQ(cursor->FetchRecord(FetchMode::Prior), FetchResult::Found);
      EXPECT_EQ(ReadRow(*cursor, buffer.get()), Row(i)) << i;
    }
    for (const int number : {1, 5, 17, 30}) {
      cursor->SeekRecordNumber(number);
      ASSERT_EQ(cursor->FetchRecord(FetchMode::Current), FetchResult::Found);
      EXPECT_EQ(ReadRow(*cursor, buffer.get()), Row(number - 1));
    }
    cursor->SeekRecordNumber(1000);
    ASSERT_EQ(cursor->FetchRecord(FetchMode::Current), FetchResult::Found);
    EXPECT_EQ(ReadRow(*cursor, buffer.get()), Row(n - 1));
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
    EXPECT_EQ(ReadRow(*cursor, buffer.get()), Row(2));
    cursor->DetachTable();
    cursor.reset();
    NewCursor(keep)->RemoveTable();
    EXPECT_EQ(DatabaseDataList().FindByName("TEMP")->TableCount(), 0u);
  }
}

}  // namespace
