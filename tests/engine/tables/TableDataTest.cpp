// Table data of the memory database: creating, emptying, renaming and
// deleting tables, record order, deletion neighbours, record numbers, the
// filter view and BLOB ownership.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "engine/index/ABSConstraintManager.h"
#include "engine/local/ABSSession.h"
#include "engine/memory/ABSMemory.h"
#include "engine/memory/ABSNativeCodes.h"
#include "engine/storage/ABSRecordManager.h"
#include "engine/types/ABSStream.h"
#include "tests/engine/MemoryTables.h"
#include "tests/engine/RaisedError.h"
#include "tests/engine/tables/TableDataTestSupport.h"

namespace {

class TableDataTest : public MemoryTablesTest {
 protected:
  TABSTableData& PlanTable(const std::string& name = "Tilgungsplan") {
    TABSFieldDefs fields;
    AddPlanFields(fields);
    return CreateTestTable(Memory(), name, fields);
  }
  // Inserts records whose field 0 holds the given values.
  static void InsertValues(TABSTableData& table, TableCursor& cursor,
                           const std::vector<std::int32_t>& values) {
    for (std::int32_t v : values) {
      cursor.SetInt(0, v);
      ASSERT_TRUE(table.InsertCursorRecord(cursor.state));
    }
  }
  // Field 0 of every record from the first to the last.
  static std::vector<std::int32_t> Walk(TABSTableData& table, TableCursor& cursor) {
    std::vector<std::int32_t> seen;
    cursor.state.AtStart = true;
    cursor.state.AtEnd = false;
    while (table.FetchCursorRecord(cursor.state, FetchMode::Next) == FetchResult::Found) {
      seen.push_back(cursor.GetInt(0));
    }
    return seen;
  }
};

bool EvenOnly(void* /*owner*/, const std::byte* buffer) {
  return LoadLE<std::int32_t>(buffer, 1) % 2 == 0;  // field 0 follows the 1-byte null bitmap
}

TEST_F(TableDataTest, PlanTableHasItsLayoutAndNoRecords) {
  TABSTableData& table = PlanTable();
  EXPECT_EQ(table.GetRecordSize(), 37);
  EXPECT_EQ(table.GetTableRecordCount(0), 0);
  EXPECT_EQ(table.IndexDefs().DefCount(), 0);
  EXPECT_EQ(table.ConstraintManager()->ConstraintDefs().DefCount(), 0);
  EXPECT_EQ(table.TablePageManager()->LivePageCount(), 0);
  // Object IDs of the fields come from the database: all distinct, all set.
  const TABSFieldDefs& defs = table.FieldManager()->FieldDefs();
  for (std::int32_t i = 0; i < defs.DefCount(); ++i) {
    EXPECT_GT(defs[i]->ObjectId, 0);
    if (i > 0) {
      EXPECT_NE(defs[i]->ObjectId, defs[i - 1]->ObjectId);
    }
  }
  // A cursor with the name in capitals finds the table; the name takes its spelling.
  ASSERT_EQ(Memory().FindTableData("TILGUNGSPLAN"), &table);
  TableCursor cursor(table, "TILGUNGSPLAN");
  EXPECT_EQ(table.TableName(), "TILGUNGSPLAN");
  EXPECT_EQ(cursor.state.PositionOffset, 37);
}

TEST_F(TableDataTest, FailedCreateInstallsNothing) {
  struct Case {
    const char* what;
    bool withFields;
    bool withIndex;
    std::uint8_t constraintKind;  // 255: none
    std::int32_t code;
  };
  const Case cases[] = {
      {"no fields", false, false, 255, 10025},
      {"an index without columns", true, true, 255, -1},
      {"a constraint kind of no class", true, false, 1, 30040},
      {"a not-null constraint on no field", true, false, ckNotNull, 30027},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TABSTableData& table = Memory().CreateTableData("Broken");
    TABSFieldDefs fields;
    if (c.withFields) AddPlanFields(fields);
    TABSIndexDefs indexes;
    if (c.withIndex) indexes.AddIndexDef("ByJahr");
    TABSConstraintDefs constraints;
    if (c.constraintKind == ckNotNull) {
      constraints.AddNotNullConstraint()->SetTargetName("NoSuchField");
    } else if (c.constraintKind != 255) {
      constraints.AddNotNullConstraint()->ConstraintKind = c.constraintKind;
    }
    TABSCursorState creator;
    creator.TableName = "BROKEN";
    const std::int32_t code =
        NativeErrorOf([&] { table.CreateTableFromDefs(creator, fields, indexes, constraints); });
    if (c.code == -1) {
      EXPECT_NE(code, 0);
    } else {
      EXPECT_EQ(code, c.code);
    }
    EXPECT_EQ(table.IndexManager(), nullptr);
    EXPECT_EQ(table.TablePageManager()->LivePageCount(), 0);
    EXPECT_EQ(table.FieldManager(), nullptr);
    EXPECT_EQ(table.RecordManager(), nullptr);
    EXPECT_EQ(table.ConstraintManager(), nullptr);
    EXPECT_EQ(table.TableName(), "Broken");
    Memory().FreeTableData(table);
  }
}

TEST_F(TableDataTest, RecordsComeBackInInsertionOrderAndEndsAreSticky) {
  TABSTableData& table = PlanTable();
  TableCursor cursor(table, "Tilgungsplan");
  InsertValues(table, cursor, {7, 3, 9});
  EXPECT_EQ(Walk(table, cursor), (std::vector<std::int32_t>{7, 3, 9}));
  // The failed step set the after-last flag: prior gives the last record, then
  // stepping back past the first sets before-first and next gives the first.
  EXPECT_TRUE(cursor.state.AtEnd);
  ASSERT_EQ(table.FetchCursorRecord(cursor.state, FetchMode::Prior), FetchResult::Found);
  EXPECT_EQ(cursor.GetInt(0), 9);
  for (int i = 0; i < 2; ++i) table.FetchCursorRecord(cursor.state, FetchMode::Prior);
  EXPECT_EQ(table.FetchCursorRecord(cursor.state, FetchMode::Prior), FetchResult::Bof);
  EXPECT_TRUE(cursor.state.AtStart);
  ASSERT_EQ(table.FetchCursorRecord(cursor.state, FetchMode::Next), FetchResult::Found);
  EXPECT_EQ(cursor.GetInt(0), 7);
}

TEST_F(TableDataTest, DeletionLeavesTheCursorOnTheNeighbour) {
  struct Case {
    const char* what;
    std::vector<std::int32_t> values;
    std::int64_t deleteNumber;   // 1-based
    std::int32_t expectedValue;  // field 0 of the new current record; -1: before the first
  };
  const Case cases[] = {
      {"middle of three", {1, 2, 3}, 2, 3},
      {"last of three", {1, 2, 3}, 3, 2},
      {"first of three", {1, 2, 3}, 1, 2},
      {"the only record", {5}, 1, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TABSTableData& table = PlanTable("Del");
    {
      TableCursor cursor(table, "Del");
      InsertValues(table, cursor, c.values);
      table.SeekCursorRecordNumber(cursor.state, c.deleteNumber);
      ASSERT_TRUE(table.DeleteCursorRecord(cursor.state));
      EXPECT_EQ(table.GetTableRecordCount(0), static_cast<std::int64_t>(c.values.size()) - 1);
      if (c.expectedValue == -1) {
        EXPECT_TRUE(cursor.state.AtStart);
        EXPECT_EQ(table.GetCursorRecordNumber(cursor.state), -1);
      } else {
        ASSERT_EQ(table.FetchCursorRecord(cursor.state, FetchMode::Current), FetchResult::Found);
        EXPECT_EQ(cursor.GetInt(0), c.expectedValue);
      }
    }
    Memory().FreeTableData(table);
  }
}

TEST_F(TableDataTest, SeekingANumberClampsToTheRecords) {
  TABSTableData& table = PlanTable();
  TableCursor cursor(table, "Tilgungsplan");
  EXPECT_EQ(table.GetCursorRecordNumber(cursor.state), -1);
  table.SeekCursorRecordNumber(cursor.state, 3);  // empty: nothing happens
  EXPECT_TRUE(cursor.state.AtStart);
  InsertValues(table, cursor, {10, 20, 30, 40, 50});
  // A gap in the record IDs: numbers count live records only.
  table.SeekCursorRecordNumber(cursor.state, 2);
  ASSERT_TRUE(table.DeleteCursorRecord(cursor.state));
  struct Case {
    std::int64_t number;
    std::int32_t value;
    std::int64_t numberAfter;
  };
  const Case cases[] = {{10, 50, 4}, {0, 10, 1}, {4, 50, 4}, {-3, 10, 1}, {2, 30, 2}, {1, 10, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.number);
    cursor.state.AtEnd = true;
    table.SeekCursorRecordNumber(cursor.state, c.number);
    ASSERT_EQ(table.FetchCursorRecord(cursor.state, FetchMode::Current), FetchResult::Found);
    EXPECT_EQ(cursor.GetInt(0), c.value);
    EXPECT_EQ(table.GetCursorRecordNumber(cursor.state), c.numberAfter);
  }
}

TEST_F(TableDataTest, OpenTablesAreNeitherDeletedNorRenamed) {
  TABSTableData& table = PlanTable();
  TableCursor other(table, "Tilgungsplan");
  TABSCursorState mine;
  EXPECT_EQ(NativeErrorOf([&] { table.DeleteTableData(&mine, false); }), 20017);
  EXPECT_EQ(NativeErrorOf([&] { table.RenameTableData("Neu", &mine); }), 10150);
  EXPECT_EQ(Memory().FindTableData("Tilgungsplan"), &table);
  // The keep flag leaves an open table in place without an error.
  EXPECT_FALSE(table.DeleteTableData(&mine, true));
  EXPECT_EQ(Memory().FindTableData("Tilgungsplan"), &table);
  EXPECT_EQ(NativeErrorOf([&] { table.RenameTableField("Nix", "Neu"); }), 30343);
  EXPECT_EQ(NativeErrorOf([&] { table.RenameTableField("Jahr", "MONAT"); }), 30344);
  table.RenameTableField("Jahr", "Jahrgang");
  EXPECT_NE(table.FieldManager()->FieldDefs().FindByName("jahrgang"), nullptr);
}

TEST_F(TableDataTest, RenameAndDeleteOfAClosedTable) {
  TABSTableData& table = PlanTable();
  PlanTable("Other");
  EXPECT_EQ(NativeErrorOf([&] { table.RenameTableData("OTHER", nullptr); }),
            native_code::kRenameNameTaken);
  table.RenameTableData("Plan2", nullptr);
  EXPECT_EQ(Memory().FindTableData("plan2"), &table);
  EXPECT_EQ(Memory().FindTableData("Tilgungsplan"), nullptr);
  EXPECT_TRUE(table.DeleteTableData(nullptr, false));
  EXPECT_EQ(Memory().FindTableData("Plan2"), nullptr);
}

TEST_F(TableDataTest, EmptyingKeepsTheTableAndCountsAsOneChange) {
  TABSFieldDefs fields;
  AddPlanFields(fields);
  TABSFieldDef* counter = fields.AddFieldDef("Nr", dtAutoInc);
  counter->InitialValue = 100;
  TABSTableData& table = CreateTestTable(Memory(), "Leer", fields);
  TableCursor cursor(table, "Leer");
  TableCursor viewer(table, "Leer");
  viewer.state.FilterCallback = &EvenOnly;
  for (std::int32_t i = 0; i < 100; ++i) {
    cursor.SetInt(0, i);
    cursor.SetInt(6, 0, true);
    table.FieldManager()->ApplyAutoincs(nullptr, cursor.Buffer());
    ASSERT_TRUE(table.InsertCursorRecord(cursor.state));
  }
  EXPECT_EQ(table.CountVisibleRecords(viewer.state), 50);
  const std::int32_t before = table.TableChangeCounter();
  table.EmptyTableData(&cursor.state);
  EXPECT_EQ(table.TableChangeCounter(), before + 1);
  EXPECT_EQ(table.GetTableRecordCount(0), 0);
  EXPECT_EQ(table.FieldManager()->FieldDefs().DefCount(), 7);
  EXPECT_EQ(table.FieldManager()->AutoincCounters()[6], 100);
  // Refilled with as many records as before, the other cursor's view is
  // rebuilt, not taken from the stale bitmap: only odd values now.
  for (std::int32_t i = 0; i < 100; ++i) {
    cursor.SetInt(0, 2 * i + 1);
    ASSERT_TRUE(table.InsertCursorRecord(cursor.state));
    if (i == 0) {
      EXPECT_EQ(cursor.state.Position.RecordId, 0);
    }
  }
  EXPECT_EQ(table.CountVisibleRecords(viewer.state), 0);
}

TEST_F(TableDataTest, FilterViewCountsNumbersAndSteps) {
  TABSTableData& table = PlanTable();
  TableCursor cursor(table, "Tilgungsplan");
  InsertValues(table, cursor, {1, 2, 3, 4, 5, 6});
  TableCursor view(table, "Tilgungsplan");
  view.state.FilterCallback = &EvenOnly;
  EXPECT_EQ(Walk(table, view), (std::vector<std::int32_t>{2, 4, 6}));
  EXPECT_EQ(table.CountVisibleRecords(view.state), 3);
  table.SeekCursorRecordNumber(view.state, 2);
  ASSERT_EQ(table.FetchCursorRecord(view.state, FetchMode::Current), FetchResult::Found);
  EXPECT_EQ(view.GetInt(0), 4);
  EXPECT_EQ(table.GetCursorRecordNumber(view.state), 2);
  // A record that leaves the view through the cursor's own change.
  view.SetInt(0, 41);
  ASSERT_TRUE(table.UpdateCursorRecord(view.state));
  EXPECT_EQ(table.FetchCursorRecord(view.state, FetchMode::Current), FetchResult::NotFound);
  EXPECT_EQ(table.CountVisibleRecords(view.state), 2);
  // Changes through another cursor reach the view through the change counter.
  cursor.SetInt(0, 8);
  ASSERT_TRUE(table.InsertCursorRecord(cursor.state));
  EXPECT_EQ(table.CountVisibleRecords(view.state), 3);
  EXPECT_EQ(Walk(table, view), (std::vector<std::int32_t>{2, 6, 8}));
}

TEST_F(TableDataTest, RangeAndDistinctViewsFollowTheIndex) {
  TABSTableData& table = PlanTable("Idx");
  TABSIndexDef def;
  def.SetName("ByJahr");
  def.Columns.push_back(TABSIndexColumn{"Jahr"});
  table.AddTableIndex(def, nullptr);
  TableCursor cursor(table, "Idx");
  InsertValues(table, cursor, {3, 1, 2, 1, 3, 3, 2});
  TableCursor view(table, "Idx");
  view.state.IndexId = table.IndexDefs()[0]->ObjectId;
  EXPECT_EQ(Walk(table, view), (std::vector<std::int32_t>{1, 1, 2, 2, 3, 3, 3}));

  TableCursor low(table, "Idx");
  TableCursor high(table, "Idx");
  low.SetInt(0, 2);
  high.SetInt(0, 3);
  struct Case {
    const char* what;
    std::uint8_t startFlag;
    std::uint8_t endFlag;
    std::vector<std::int32_t> expected;
  };
  const Case cases[] = {
      {"2 to 3", 0, 0, {2, 2, 3, 3, 3}},
      {"above 2 to 3", 1, 0, {3, 3, 3}},
      {"2 to below 3", 0, 1, {2, 2}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    view.state.SetKeyRange(low.Buffer(), high.Buffer(), c.startFlag, c.endFlag, 1, 1);
    EXPECT_EQ(Walk(table, view), c.expected);
    EXPECT_EQ(table.CountVisibleRecords(view.state), static_cast<std::int64_t>(c.expected.size()));
    table.SeekCursorRecordNumber(view.state, 2);
    EXPECT_EQ(table.GetCursorRecordNumber(view.state), 2);
  }
  view.state.ClearKeyRange();

  // Distinct on the index's field: one record per value, the first of each
  // run (record IDs 1, 2, 0), also when stepping back.
  view.state.DistinctFieldCount = 1;
  view.state.InvalidateView();
  EXPECT_EQ(Walk(table, view), (std::vector<std::int32_t>{1, 2, 3}));
  EXPECT_EQ(table.CountVisibleRecords(view.state), 3);
  std::vector<std::int32_t> backIds;
  view.state.AtStart = false;
  view.state.AtEnd = true;
  while (table.FetchCursorRecord(view.state, FetchMode::Prior) == FetchResult::Found) {
    backIds.push_back(std::int32_t{view.state.Position.RecordId});
  }
  EXPECT_EQ(backIds, (std::vector<std::int32_t>{0, 2, 1}));

  // Views this table data cannot evaluate are refused, never shown unfiltered.
  TableCursor plain(table, "Idx");
  plain.state.SetKeyRange(low.Buffer(), nullptr, 0, 0, 1, 0);
  EXPECT_EQ(NativeErrorOf([&] { table.FetchCursorRecord(plain.state, FetchMode::Next); }),
            native_code::kViewNeedsIndex);
  plain.state.ClearKeyRange();
  int notAnExpression = 0;
  plain.state.FilterExpression = TABSLateOwned<TABSExpression>(
      reinterpret_cast<TABSExpression*>(&notAnExpression), TABSLateDeleter<TABSExpression>{});
  EXPECT_EQ(NativeErrorOf([&] { table.CountVisibleRecords(plain.state); }),
            native_code::kNoQueryEngine);
  plain.state.FilterExpression.reset();
}

TEST_F(TableDataTest, PagesOfATransactionWaitAndDestructionCommitsThem) {
  TABSLocalSession session;
  session.DatabaseName = "MEMORY";
  session.SetAttached(true);
  auto& table = static_cast<TABSMemoryTableData&>(PlanTable());
  TABSIndexDef def;
  def.SetName("ByJahr");
  def.Columns.push_back(TABSIndexColumn{"Jahr"});
  table.AddTableIndex(def, nullptr);
  {
    TableCursor cursor(table, "Tilgungsplan");
    cursor.state.Session = &session;
    session.EnterTransaction();
    InsertValues(table, cursor, {1, 2, 3});
    // Inside the transaction the index pages stay pending for the session.
    EXPECT_EQ(NativeErrorOf([&] { table.CheckAllPagesCommitted(); }), 20097);
    session.CommitWork(false);
    table.CommitTableSession(session.SessionId(), false);
    table.CheckAllPagesCommitted();
    session.EnterTransaction();
    InsertValues(table, cursor, {4});
    EXPECT_EQ(NativeErrorOf([&] { table.CheckAllPagesCommitted(); }), 20097);
  }
  // Destroying a table with pending pages raises nothing and frees them.
  Memory().FreeTableData(table);
  session.RollbackWork();
  session.SetAttached(false);
}

// ---- BLOBs ----

class TableBlobTest : public TableDataTest {
 protected:
  TABSTableData& BlobTable() {
    TABSFieldDefs fields;
    fields.AddFieldDef("Id", dtInteger);
    fields.AddFieldDef("Data", dtBlob);
    return CreateTestTable(Memory(), "Blobs", fields);
  }
  static std::string ReadText(TABSTableData& table, const std::byte* image) {
    void* buffer = nullptr;
    std::int64_t length = 0;
    TABSBlobHeader header;
    table.ReadBlobField(1, buffer, length, header, image);
    std::string text(static_cast<const char*>(buffer), static_cast<std::size_t>(length));
    table.FreeBlobBuffer(buffer);
    return text;
  }
  static void WriteText(TABSTableData& table, std::byte* image, const std::string& text) {
    table.WriteBlobField(1, text.data(), static_cast<std::int64_t>(text.size()),
                         TABSBlobHeader{{1, 2, 3}}, image);
  }
};

TEST_F(TableBlobTest, StoredRecordOwnsItsBlocks) {
  auto& table = static_cast<TABSMemoryTableData&>(BlobTable());
  TableCursor cursor(table, "Blobs");
  TableCursor reader(table, "Blobs");
  cursor.SetInt(0, 1);
  WriteText(table, cursor.Buffer(), "first");
  WriteText(table, cursor.Buffer(), "second");  // the pending first block goes at once
  EXPECT_EQ(table.PendingBlobCount(), 1u);
  ASSERT_TRUE(table.InsertCursorRecord(cursor.state));
  EXPECT_EQ(table.PendingBlobCount(), 0u);
  const std::int64_t withOne = EngineMemoryManager.AllocatedSize();

  // An edit writes a new block; the stored one stays until the overwrite.
  WriteText(table, cursor.Buffer(), "third, longer");
  ASSERT_EQ(table.FetchCursorRecord(reader.state, FetchMode::Next), FetchResult::Found);
  EXPECT_EQ(ReadText(table, reader.Buffer()), "second");
  ASSERT_TRUE(table.UpdateCursorRecord(cursor.state));
  EXPECT_EQ(EngineMemoryManager.AllocatedSize() - withOne,
            static_cast<std::int64_t>(std::strlen("third, longer") - std::strlen("second")));
  ASSERT_EQ(table.FetchCursorRecord(reader.state, FetchMode::Current), FetchResult::Found);
  EXPECT_EQ(ReadText(table, reader.Buffer()), "third, longer");

  // A cancelled edit frees its block and leaves the stored one.
  WriteText(table, cursor.Buffer(), "never stored");
  table.CancelEditBlobs(cursor.state);
  EXPECT_TRUE(cursor.IsNull(1));
  ASSERT_EQ(table.FetchCursorRecord(reader.state, FetchMode::Current), FetchResult::Found);
  EXPECT_EQ(ReadText(table, reader.Buffer()), "third, longer");

  // Freeing a stored block through an edit image only clears the image.
  ASSERT_EQ(table.FetchCursorRecord(cursor.state, FetchMode::Current), FetchResult::Found);
  table.FreeRecordBlobs(cursor.Buffer());
  EXPECT_TRUE(cursor.IsNull(1));
  ASSERT_EQ(table.FetchCursorRecord(reader.state, FetchMode::Current), FetchResult::Found);
  EXPECT_EQ(ReadText(table, reader.Buffer()), "third, longer");

  ASSERT_EQ(table.FetchCursorRecord(cursor.state, FetchMode::Current), FetchResult::Found);
  ASSERT_TRUE(table.DeleteCursorRecord(cursor.state));
  const auto storedBlock = static_cast<std::int64_t>(TABSTableData::kBlobHeaderSize + 6);
  EXPECT_EQ(EngineMemoryManager.AllocatedSize(), withOne - storedBlock);
}

TEST_F(TableBlobTest, RefusedChangesLeaveStoredBlobsAlone) {
  auto& table = static_cast<TABSMemoryTableData&>(BlobTable());
  TableCursor a(table, "Blobs");
  TableCursor b(table, "Blobs");
  for (std::int32_t i = 0; i < 2; ++i) {
    a.SetInt(0, i);
    WriteText(table, a.Buffer(), "blob " + std::to_string(i));
    ASSERT_TRUE(table.InsertCursorRecord(a.state));
  }
  // b stands on record 0 with its blocks in its buffer; a deletes it.
  table.SeekCursorRecordNumber(b.state, 1);
  ASSERT_EQ(table.FetchCursorRecord(b.state, FetchMode::Current), FetchResult::Found);
  table.SeekCursorRecordNumber(a.state, 1);
  ASSERT_TRUE(table.DeleteCursorRecord(a.state));
  // b's delete and update are refused; neither frees the blocks its buffer
  // still names (they are gone) nor touches record 1.
  EXPECT_FALSE(table.DeleteCursorRecord(b.state));
  WriteText(table, b.Buffer(), "update of a gone record");
  EXPECT_FALSE(table.UpdateCursorRecord(b.state));
  EXPECT_EQ(table.PendingBlobCount(), 1u);
  table.CancelEditBlobs(b.state);
  EXPECT_EQ(table.PendingBlobCount(), 0u);
  ASSERT_EQ(table.FetchCursorRecord(a.state, FetchMode::Current), FetchResult::Found);
  EXPECT_EQ(ReadText(table, a.Buffer()), "blob 1");
}

// A stream that delivers fewer bytes than its size.
class ShortStream : public TABSMemoryStream {
 public:
  std::int32_t Read(void* buffer, std::int32_t count) override {
    return TABSMemoryStream::Read(buffer, count / 2);
  }
};

TEST_F(TableBlobTest, StreamsInAndOut) {
  auto& table = static_cast<TABSMemoryTableData&>(BlobTable());
  TableCursor cursor(table, "Blobs");
  TABSMemoryStream in;
  in.Write("streamed bytes", 14);
  table.StoreBlobFromStream(cursor.Buffer(), 1, in, TABSBlobHeader{{7, 8, 9}}, true);
  ASSERT_TRUE(table.InsertCursorRecord(cursor.state));
  TABSBlobHeader header;
  auto out = table.OpenBlobFieldStream(cursor.Buffer(), 1, header);
  EXPECT_EQ(header, (TABSBlobHeader{{7, 8, 9}}));
  ASSERT_EQ(out->Size(), 14);
  char text[14];
  EXPECT_EQ(out->Read(text, 14), 14);
  EXPECT_EQ(std::string(text, 14), "streamed bytes");
  // A short read raises and leaves the field as it was; an unmodified
  // stream changes nothing either.
  ShortStream bad;
  bad.Write("0123456789", 10);
  EXPECT_EQ(NativeErrorOf([&] {
              table.StoreBlobFromStream(cursor.Buffer(), 1, bad, TABSBlobHeader{}, true);
            }),
            10117);
  table.StoreBlobFromStream(cursor.Buffer(), 1, bad, TABSBlobHeader{}, false);
  EXPECT_EQ(ReadText(table, cursor.Buffer()), "streamed bytes");
  EXPECT_EQ(table.PendingBlobCount(), 0u);
  // An empty stream makes the field NULL once the record is stored.
  TABSMemoryStream empty;
  table.StoreBlobFromStream(cursor.Buffer(), 1, empty, TABSBlobHeader{}, true);
  EXPECT_TRUE(cursor.IsNull(1));
  ASSERT_TRUE(table.UpdateCursorRecord(cursor.state));
  EXPECT_TRUE(table.OpenBlobFieldStream(cursor.Buffer(), 1, header)->Size() == 0);
}

TEST_F(TableBlobTest, EmptyingAndDestructionFreeEveryBlock) {
  const std::int64_t start = EngineMemoryManager.AllocatedSize();
  {
    auto& table = static_cast<TABSMemoryTableData&>(BlobTable());
    TableCursor cursor(table, "Blobs");
    const std::int64_t created = EngineMemoryManager.AllocatedSize();
    for (int i = 0; i < 20; ++i) {
      WriteText(table, cursor.Buffer(), std::string(100 + i, 'x'));
      ASSERT_TRUE(table.InsertCursorRecord(cursor.state));
    }
    table.EmptyTableData(nullptr);
    EXPECT_LE(EngineMemoryManager.AllocatedSize(), created);
    WriteText(table, cursor.Buffer(), "left pending at destruction");
    ASSERT_TRUE(table.InsertCursorRecord(cursor.state));
    WriteText(table, cursor.Buffer(), "pending");
  }
  FreeNewTables();
  EXPECT_EQ(EngineMemoryManager.AllocatedSize(), start);
}

}  // namespace
