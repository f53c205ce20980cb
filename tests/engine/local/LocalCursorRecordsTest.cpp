// Record operations of the local cursor: buffers, fetching in both
// directions, counts, record numbers, positions and the edit cycle with its
// result codes.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <vector>

#include "engine/memory/ABSNativeCodes.h"
#include "engine/schema/ABSNullBits.h"
#include "engine/types/ABSVariant.h"
#include "tests/engine/RaisedError.h"
#include "tests/engine/local/CursorTestSupport.h"

namespace {

class LocalCursorRecords : public CursorTest {
 protected:
  LocalCursorRecords() {
    MakePlanTable("Plan");
    cursor_ = Open("Plan");
    buffer_ = std::make_unique<RecordBuffer>(*cursor_);
    cursor_->CurrentBuffer = buffer_->get();
  }
  void Fill(int rows) {
    for (int n = 0; n < rows; ++n) ASSERT_EQ(InsertRow(*cursor_, buffer_->get(), Row(n)), 0);
  }
  // The rows in fetch order, walking next from the start or prior from the end.
  std::vector<PlanRow> Walk(TABSLocalCursor& cursor, bool forward) {
    RecordBuffer buffer(cursor);
    cursor.CurrentBuffer = buffer.get();
    forward ? cursor.MoveToStart() : cursor.MoveToEnd();
    std::vector<PlanRow> rows;
    while (cursor.FetchRecord(forward ? FetchMode::Next : FetchMode::Prior) == FetchResult::Found) {
      rows.push_back(ReadRow(cursor, buffer.get()));
    }
    cursor.CurrentBuffer = nullptr;
    return rows;
  }
  // Reads the current record of `cursor` into `buffer` and stamps its position.
  static void Load(TABSLocalCursor& cursor, std::byte* buffer, std::int64_t number) {
    cursor.CurrentBuffer = buffer;
    cursor.SeekRecordNumber(number);
    ASSERT_EQ(cursor.FetchRecord(FetchMode::Current), FetchResult::Found);
    cursor.Position.Store(buffer + cursor.PositionOffset);
  }

  std::unique_ptr<TABSLocalCursor> cursor_;
  std::unique_ptr<RecordBuffer> buffer_;
};

TEST_F(LocalCursorRecords, InitRecordBufferMarksEveryFieldNull) {
  TABSFieldDefs nine;
  for (int i = 0; i < 9; ++i) nine.AddFieldDef("F" + std::to_string(i), dtInteger);
  MakeTable("Nine", nine);
  auto cursor = Open("Nine");
  RecordBuffer buffer(*cursor);
  std::memset(buffer.get(), 0x5A, static_cast<std::size_t>(cursor->RecordBufferSize));
  cursor->InitRecordBuffer(buffer.get(), true);
  EXPECT_EQ(buffer.get()[0], std::byte{0xFF});
  EXPECT_EQ(buffer.get()[1], std::byte{0xFF});
  for (int i = 2; i < cursor->DataSize(); ++i) ASSERT_EQ(buffer.get()[i], std::byte{0}) << i;
  for (int i = cursor->DataSize(); i < cursor->RecordBufferSize; ++i) {
    ASSERT_EQ(buffer.get()[i], std::byte{0x5A}) << i;
  }
}

TEST_F(LocalCursorRecords, InsertWritesPositionAndFlag) {
  Fill(3);
  EXPECT_EQ(cursor_->LastResultCode, 0);
  EXPECT_EQ(RecordPosition::Load(buffer_->get() + cursor_->PositionOffset).RecordId, 2);
  EXPECT_EQ(buffer_->get()[cursor_->PositionOffset + 6], std::byte{3});
  EXPECT_FALSE(cursor_->AtStart || cursor_->AtEnd);
  EXPECT_EQ(cursor_->CountRecords(), 3);
}

TEST_F(LocalCursorRecords, FetchesInBothDirections) {
  cursor_->MoveToStart();
  for (FetchMode mode : {FetchMode::Current, FetchMode::Next, FetchMode::Prior}) {
    EXPECT_EQ(cursor_->FetchRecord(mode), FetchResult::Eof);
  }
  Fill(5);
  const std::vector<PlanRow> expected = {Row(0), Row(1), Row(2), Row(3), Row(4)};
  EXPECT_EQ(Walk(*cursor_, true), expected);
  const std::vector<PlanRow> backwards(expected.rbegin(), expected.rend());
  EXPECT_EQ(Walk(*cursor_, false), backwards);
  cursor_->CurrentBuffer = buffer_->get();
  cursor_->MoveToStart();
  EXPECT_EQ(cursor_->FetchRecord(FetchMode::Prior), FetchResult::Bof);
  cursor_->MoveToEnd();
  EXPECT_EQ(cursor_->FetchRecord(FetchMode::Next), FetchResult::Eof);
}

TEST_F(LocalCursorRecords, RecordNumbers) {
  Fill(12);
  cursor_->MoveToEnd();
  EXPECT_EQ(cursor_->CurrentRecordNumber(), -1);
  cursor_->MoveToStart();
  EXPECT_EQ(cursor_->CurrentRecordNumber(), -1);
  cursor_->SeekRecordNumber(1000);
  EXPECT_EQ(cursor_->CurrentRecordNumber(), 12);
  cursor_->SeekRecordNumber(5);
  ASSERT_EQ(cursor_->FetchRecord(FetchMode::Current), FetchResult::Found);
  EXPECT_EQ(ReadRow(*cursor_, buffer_->get()), Row(4));
  EXPECT_EQ(cursor_->CurrentRecordNumber(), 5);
}

TEST_F(LocalCursorRecords, ComparePositionsWithoutIndex) {
  struct Case {
    RecordPosition a, b;
    int expected;
  };
  const Case cases[] = {
      {{5, 0}, {7, 0}, -1},
      {{7, 1}, {7, 0}, 1},
      {{7, 0}, {7, 0}, 0},
      {{INT32_MAX, 0}, {INT32_MIN, 0}, 1},  // no subtraction that overflows
      {{INT32_MIN, 0}, {INT32_MAX, 0}, -1},
      {{-1, 0}, {1, 0}, -1},
      {{3, 65535}, {3, 1}, 1},  // sub-positions are unsigned
  };
  for (const Case& test : cases) {
    EXPECT_EQ(cursor_->ComparePositions(test.a, test.b), test.expected)
        << test.a.RecordId << "/" << test.a.SubPosition << " vs " << test.b.RecordId;
  }
}

TEST_F(LocalCursorRecords, OtherCursorsChangesGiveTheirResultCodes) {
  Fill(3);
  auto other = Open("Plan");
  RecordBuffer mine(*cursor_), original(*cursor_), theirs(*other);
  Load(*cursor_, mine.get(), 2);
  std::memcpy(original.get(), mine.get(), static_cast<std::size_t>(cursor_->RecordBufferSize));

  // The other cursor changes record 2: my update gives -4, my delete -5.
  Load(*other, theirs.get(), 2);
  other->OriginalBuffer = theirs.get();
  RecordBuffer theirsOriginal(*other);
  std::memcpy(theirsOriginal.get(), theirs.get(),
              static_cast<std::size_t>(other->RecordBufferSize));
  other->OriginalBuffer = theirsOriginal.get();
  PlanRow changed = Row(1);
  changed.Zins = 99.5;
  WriteRow(*other, theirs.get(), changed);
  other->WriteRecord(false);
  ASSERT_EQ(other->LastResultCode, 0);

  PlanRow edit = Row(1);
  edit.Tilgung = -1;
  cursor_->CurrentBuffer = mine.get();
  WriteRow(*cursor_, mine.get(), edit);
  cursor_->OriginalBuffer = original.get();
  std::vector<std::byte> edits(mine.get(), mine.get() + cursor_->RecordBufferSize);
  cursor_->WriteRecord(false);
  EXPECT_EQ(cursor_->LastResultCode, crUpdateModifiedByOther);
  EXPECT_TRUE(std::equal(edits.begin(), edits.end(), mine.get()));
  std::memcpy(mine.get(), original.get(), static_cast<std::size_t>(cursor_->RecordBufferSize));
  cursor_->EraseRecord();
  EXPECT_EQ(cursor_->LastResultCode, crDeleteModifiedByOther);
  EXPECT_EQ(Walk(*other, true)[1], changed);

  // The other cursor deletes it: -6 and -7, and nothing changes.
  other->CurrentBuffer = theirs.get();
  other->EraseRecord();
  ASSERT_EQ(other->LastResultCode, 0);
  cursor_->CurrentBuffer = mine.get();
  WriteRow(*cursor_, mine.get(), edit);
  cursor_->WriteRecord(false);
  EXPECT_EQ(cursor_->LastResultCode, crUpdateDeletedByOther);
  EXPECT_EQ(ReadRow(*cursor_, mine.get()), edit);
  cursor_->EraseRecord();
  EXPECT_EQ(cursor_->LastResultCode, crDeleteDeletedByOther);
  EXPECT_EQ(Walk(*other, true), (std::vector<PlanRow>{Row(0), Row(2)}));
}

TEST_F(LocalCursorRecords, EditsAreRestoredWhenTheComparisonRaises) {
  Fill(2);
  RecordBuffer mine(*cursor_);
  Load(*cursor_, mine.get(), 1);
  WriteRow(*cursor_, mine.get(), Row(42));
  std::vector<std::byte> edits(mine.get(), mine.get() + cursor_->RecordBufferSize);
  cursor_->OriginalBuffer = nullptr;  // the comparison with it raises
  EXPECT_NE(NativeErrorOf([&] { cursor_->WriteRecord(false); }), 0);
  EXPECT_TRUE(std::equal(edits.begin(), edits.end(), mine.get()));
  EXPECT_EQ(Walk(*cursor_, true)[0], Row(0));
}

TEST_F(LocalCursorRecords, DeletingMovesToANeighbour) {
  Fill(3);
  RecordBuffer b(*cursor_);
  Load(*cursor_, b.get(), 2);
  cursor_->EraseRecord();
  ASSERT_EQ(cursor_->LastResultCode, 0);
  EXPECT_EQ(cursor_->Position.RecordId, 2);  // the third record
  Load(*cursor_, b.get(), 2);
  cursor_->EraseRecord();
  EXPECT_EQ(cursor_->Position.RecordId, 0);  // the last one went: the new last
  Load(*cursor_, b.get(), 1);
  cursor_->EraseRecord();
  EXPECT_TRUE(cursor_->AtStart);
  EXPECT_EQ(cursor_->CountRecords(), 0);
}

TEST_F(LocalCursorRecords, NotNullViolationGivesMinusEight) {
  TABSFieldDefs fields;
  PlanFields(fields);
  TABSConstraintDefs constraints;
  auto* notNull = constraints.AddNotNullConstraint();
  notNull->SetName("JahrDa");
  notNull->SetTargetName("Jahr");
  MakeTable("Checked", fields, nullptr, &constraints);
  auto cursor = Open("Checked");
  RecordBuffer buffer(*cursor);
  cursor->CurrentBuffer = buffer.get();
  cursor->InitRecordBuffer(buffer.get(), true);
  cursor->WriteRecord(true);
  EXPECT_EQ(cursor->LastResultCode, crPostValidationError);
  EXPECT_NE(cursor->LastResultText.find("JahrDa"), std::string::npos) << cursor->LastResultText;
  EXPECT_NE(cursor->LastResultText.find("Native error"), std::string::npos);
  EXPECT_FALSE(cursor->CheckConstraints(true));
  EXPECT_EQ(cursor->CountRecords(), 0);
  EXPECT_EQ(InsertRow(*cursor, buffer.get(), Row(1)), 0);
  EXPECT_TRUE(cursor->CheckConstraints(true));
}

TEST_F(LocalCursorRecords, FieldDataExchange) {
  RecordBuffer b(*cursor_);
  cursor_->InitRecordBuffer(b.get(), false);
  std::int32_t untouched = 77;
  EXPECT_FALSE(cursor_->ReadFieldData(0, &untouched, b.get()));
  EXPECT_EQ(untouched, 77);
  const std::int32_t year = 2031;
  cursor_->WriteFieldData(0, &year, b.get());
  EXPECT_TRUE(cursor_->ReadFieldData(0, nullptr, b.get()));
  EXPECT_TRUE(cursor_->ReadFieldData(0, &untouched, b.get()));
  EXPECT_EQ(untouched, 2031);
  cursor_->WriteFieldData(0, nullptr, b.get());
  EXPECT_FALSE(cursor_->ReadFieldData(0, &untouched, b.get()));
  EXPECT_EQ(NativeErrorOf([&] { cursor_->ReadFieldData(6, nullptr, b.get()); }), 10005);
  EXPECT_EQ(NativeErrorOf([&] { cursor_->WriteFieldData(-1, &year, b.get()); }), 10006);
}

TEST_F(LocalCursorRecords, CopyFieldValue) {
  TABSFieldDefs fields;
  fields.AddFieldDef("I", dtInteger);
  fields.AddFieldDef("S", dtString, 20);
  fields.AddFieldDef("B", dtBlob);
  fields.AddFieldDef("D", dtDouble);
  MakeTable("Copy", fields);
  auto a = Open("Copy");
  auto b = Open("Copy");
  RecordBuffer ab(*a), bb(*b);
  a->CurrentBuffer = ab.get();
  b->CurrentBuffer = bb.get();
  a->InitRecordBuffer(ab.get(), false);
  b->InitRecordBuffer(bb.get(), false);
  const std::int32_t value = 12345;
  a->WriteFieldData(0, &value, ab.get());
  a->CopyFieldValue(0, false, *b, 0);  // same type: raw bytes
  std::int32_t got = 0;
  EXPECT_TRUE(b->ReadFieldData(0, &got, bb.get()));
  EXPECT_EQ(got, 12345);
  a->CopyFieldValue(0, false, *b, 3);  // integer into double: converted
  double d = 0;
  EXPECT_TRUE(b->ReadFieldData(3, &d, bb.get()));
  EXPECT_EQ(d, 12345.0);
  a->CopyFieldValue(1, false, *b, 0);  // NULL stays NULL
  EXPECT_FALSE(b->ReadFieldData(0, nullptr, bb.get()));
  // A BLOB and a value are different kinds: a type error, nothing written.
  EXPECT_EQ(NativeErrorOf([&] { a->CopyFieldValue(0, false, *b, 2); }),
            native_code::kCopyBlobKindMismatch);
  EXPECT_FALSE(b->ReadFieldData(2, nullptr, bb.get()));
  EXPECT_EQ(NativeErrorOf([&] { a->CopyFieldValue(2, false, *b, 0); }),
            native_code::kCopyBlobKindMismatch);
  EXPECT_EQ(NativeErrorOf([&] { a->CopyFieldValue(4, false, *b, 0); }), 10501);
  EXPECT_EQ(NativeErrorOf([&] { a->CopyFieldValue(0, false, *b, 4); }), 10502);
  // Caller bytes never land in a BLOB field.
  const char bytes[16] = "not an address";
  EXPECT_EQ(NativeErrorOf([&] { b->WriteFieldData(2, bytes, bb.get()); }),
            native_code::kBlobFieldDataWrite);
  EXPECT_FALSE(b->ReadFieldData(2, nullptr, bb.get()));
}

TEST_F(LocalCursorRecords, FilterCallbackRestrictsTheView) {
  Fill(10);
  struct Even {
    static bool Visible(void* owner, const std::byte* record) {
      auto* cursor = static_cast<TABSCursor*>(owner);
      std::int32_t jahr = 0;
      cursor->ReadFieldData(0, &jahr, record);
      return jahr % 2 == 0;
    }
  };
  cursor_->FilterCallback = &Even::Visible;
  cursor_->FilterCallbackOwner = cursor_.get();
  cursor_->InvalidateView();
  EXPECT_TRUE(cursor_->HasRestrictedView());
  EXPECT_EQ(cursor_->CountRecords(), 5);
  const std::vector<PlanRow> even = {Row(0), Row(2), Row(4), Row(6), Row(8)};
  EXPECT_EQ(Walk(*cursor_, true), even);
  EXPECT_EQ(Walk(*cursor_, false), std::vector<PlanRow>(even.rbegin(), even.rend()));
  cursor_->CurrentBuffer = buffer_->get();
  cursor_->SeekRecordNumber(3);
  EXPECT_EQ(cursor_->CurrentRecordNumber(), 3);
  ASSERT_EQ(cursor_->FetchRecord(FetchMode::Current), FetchResult::Found);
  EXPECT_EQ(ReadRow(*cursor_, buffer_->get()), Row(4));
  cursor_->FilterCallback = nullptr;
  EXPECT_EQ(cursor_->CountRecords(), 10);
}

TEST_F(LocalCursorRecords, LocateByFieldValues) {
  Fill(30);
  TABSVariant monat, tag;
  monat.SetAsInteger(Row(17).Monat);
  tag.SetAsLargeint(Row(17).Tag);  // another integer type compares by value
  cursor_->CurrentBuffer = buffer_->get();
  ASSERT_TRUE(cursor_->LocateByFields({"monat", "Tag"}, {&monat, &tag}, false, false));
  EXPECT_EQ(ReadRow(*cursor_, buffer_->get()), Row(17));  // row 5 has the month, not the day
  EXPECT_EQ(cursor_->CurrentRecordNumber(), 18);
  tag.SetAsInteger(29);
  EXPECT_FALSE(cursor_->LocateByFields({"Monat", "Tag"}, {&monat, &tag}, false, false));
  EXPECT_EQ(cursor_->CurrentRecordNumber(), 18);  // the position stays
  EXPECT_EQ(NativeErrorOf([&] { cursor_->LocateByFields({"Monat"}, {}, false, false); }),
            native_code::kLocateListLengths);
  EXPECT_EQ(NativeErrorOf([&] { cursor_->LocateByFields({"X"}, {&tag}, false, false); }),
            native_code::kLocateFieldNotFound);
}

TEST_F(LocalCursorRecords, ExpressionsNeedAQueryEngine) {
  TABSVariant v;
  v.SetAsInteger(1);
  const EABSException filter =
      RaisedBy([&] { cursor_->ApplyFilterText("Jahr > 1", false, false); });
  EXPECT_EQ(filter.NativeError(), native_code::kFilterTextUnsupported);
  EXPECT_NE(std::string(filter.what()).find("not supported"), std::string::npos);
  EXPECT_EQ(NativeErrorOf([&] { cursor_->LocateByExpression("Jahr", ">", v); }),
            native_code::kSearchExpressionUnsupported);
  EXPECT_FALSE(cursor_->HasRestrictedView());
}

}  // namespace
