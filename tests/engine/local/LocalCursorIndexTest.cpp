// Indexes through the local cursor: adding and dropping them, walking and
// numbering in index order, comparing positions by key, and the unique
// constraint an index carries.
#include <gtest/gtest.h>

#include <vector>

#include "tests/engine/RaisedError.h"
#include "tests/engine/local/CursorTestSupport.h"

namespace {

class LocalCursorIndex : public CursorTest {
 protected:
  LocalCursorIndex() {
    MakePlanTable("Indexed");
    cursor_ = Open("Indexed");
    buffer_ = std::make_unique<RecordBuffer>(*cursor_);
    // Jahr descends with the insertion order: index order is the reverse.
    for (int n = 0; n < 20; ++n) {
      PlanRow row = Row(n);
      row.Jahr = 100 - n;
      EXPECT_EQ(InsertRow(*cursor_, buffer_->get(), row), 0);
    }
    TABSIndexDef def;
    def.SetName("ByJahr");
    def.Unique = true;
    def.SetColumnsFromLists({"Jahr"}, {""}, {""});
    cursor_->AddIndexToTable(def);
  }

  std::vector<std::int32_t> Years(bool forward) {
    cursor_->CurrentBuffer = buffer_->get();
    forward ? cursor_->MoveToStart() : cursor_->MoveToEnd();
    std::vector<std::int32_t> years;
    while (cursor_->FetchRecord(forward ? FetchMode::Next : FetchMode::Prior) ==
           FetchResult::Found) {
      years.push_back(ReadRow(*cursor_, buffer_->get()).Jahr);
    }
    return years;
  }

  std::unique_ptr<TABSLocalCursor> cursor_;
  std::unique_ptr<RecordBuffer> buffer_;
};

TEST_F(LocalCursorIndex, WalksAndNumbersInIndexOrder) {
  ASSERT_EQ(cursor_->IndexDefs->DefCount(), 1);
  EXPECT_EQ(cursor_->ConstraintDefs->DefCount(), 1);  // the index's unique constraint
  cursor_->SetCurrentIndex("byjahr");
  ASSERT_TRUE(cursor_->HasCurrentIndex());
  std::vector<std::int32_t> ascending;
  for (int y = 81; y <= 100; ++y) ascending.push_back(y);
  EXPECT_EQ(Years(true), ascending);
  EXPECT_EQ(Years(false), std::vector<std::int32_t>(ascending.rbegin(), ascending.rend()));
  cursor_->SeekRecordNumber(3);
  ASSERT_EQ(cursor_->FetchRecord(FetchMode::Current), FetchResult::Found);
  EXPECT_EQ(ReadRow(*cursor_, buffer_->get()).Jahr, 83);
  EXPECT_EQ(cursor_->CurrentRecordNumber(), 3);
  // Record 0 has Jahr 100, record 19 Jahr 81: by key the first is greater.
  EXPECT_EQ(cursor_->ComparePositions({0, 0}, {19, 0}), 1);
  EXPECT_EQ(cursor_->ComparePositions({19, 0}, {0, 0}), -1);
  EXPECT_EQ(cursor_->ComparePositions({5, 0}, {5, 0}), 0);
  EXPECT_EQ(cursor_->ComparePositions({500, 0}, {5, 0}), -1);  // the first cannot be read
  EXPECT_EQ(cursor_->CurrentRecordNumber(), 3);                // the position was restored
  cursor_->SetCurrentIndex("");
  EXPECT_EQ(Years(true).front(), 100);
}

TEST_F(LocalCursorIndex, UniqueKeyRefusesADuplicate) {
  PlanRow row = Row(1);
  row.Jahr = 90;
  EXPECT_EQ(InsertRow(*cursor_, buffer_->get(), row), crPostValidationError);
  EXPECT_FALSE(cursor_->LastResultText.empty());
  EXPECT_EQ(cursor_->CountRecords(), 20);
}

TEST_F(LocalCursorIndex, AddingAndDroppingByName) {
  TABSIndexDef again;
  again.SetName("BYJAHR");
  again.SetColumnsFromLists({"Monat"}, {""}, {""});
  EXPECT_EQ(NativeErrorOf([&] { cursor_->AddIndexToTable(again); }), 20022);
  EXPECT_EQ(NativeErrorOf([&] { cursor_->DropIndexFromTable("Nope"); }), 20021);
  EXPECT_TRUE(cursor_->FindIndexForFields({"Jahr"}, {""}, {""}));
  EXPECT_FALSE(cursor_->FindIndexForFields({"Tag"}, {""}, {""}));
  cursor_->SetCurrentIndex("ByJahr");
  cursor_->DropIndexFromTable("byjahr");
  EXPECT_EQ(cursor_->IndexDefs->DefCount(), 0);
  EXPECT_EQ(cursor_->ConstraintDefs->DefCount(), 0);
  EXPECT_FALSE(cursor_->HasCurrentIndex());  // back to record order
  EXPECT_EQ(Years(true).front(), 100);
  PlanRow row = Row(1);
  row.Jahr = 90;
  EXPECT_EQ(InsertRow(*cursor_, buffer_->get(), row), 0);  // no key to refuse it now
}

}  // namespace
