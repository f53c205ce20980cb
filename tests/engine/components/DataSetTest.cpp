// The engine dataset's record hooks, driven through the framework (Append,
// Post, navigation, fields) on a table component over the test cursor.
#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <vector>

#include "engine/components/ABSDataSet.h"
#include "engine/memory/ABSMemory.h"
#include "platform/data/DataSource.h"
#include "tests/engine/FaultInjection.h"
#include "tests/engine/RaisedError.h"
#include "tests/engine/components/TableFixture.h"

namespace {

using platform::TDataSetState;

template <class Base>
class PlanFixture : public Base {
 protected:
  TProbeTable& OpenPlan(int rows = 0) {
    Base::CreatePlanTable("Tilgungsplan");
    TProbeTable& table = this->template NewTable<TProbeTable>("ABSTable1", "Tilgungsplan");
    table.Open();
    for (int i = 0; i < rows; ++i) {
      Base::AppendPlanRow(table, 2000 + i, i % 12 + 1, 28, 1000.0 - i, i * 0.5, i / 3.0);
    }
    return table;
  }
};

// On the engine's local cursor.
using DataSetTest = PlanFixture<TableComponentTest>;
// On the test cursor, for refusals the memory tables never give.
using ScriptedDataSetTest = PlanFixture<ScriptedCursorTest>;

TEST_F(DataSetTest, ThePlanRowBufferHasTheRecordPositionAndFlagAfterTheImage) {
  TProbeTable& table = OpenPlan(1);
  EXPECT_EQ(table.RecordDataSize(), 37);
  EXPECT_EQ(table.Cursor()->BaseBufferSize, 44);
  EXPECT_EQ(table.BookmarkSize(), 7);
  // Integer and currency fields come back as the framework's kinds.
  EXPECT_EQ(table.FieldByName("Jahr").DataType(), platform::ftInteger);
  EXPECT_EQ(table.FieldByName("Zins").DataType(), platform::ftCurrency);
}

TEST_F(DataSetTest, AppendingAndPostingRowsCountsThem) {
  for (int rows : {0, 1, 7, 60}) {
    SCOPED_TRACE(rows);
    TProbeTable& table = OpenPlan(rows);
    EXPECT_EQ(table.RecordCount(), rows);
    EXPECT_EQ(table.TotalRecords(), rows);
    // Appending moves to the end: the last row posted is the current one.
    if (rows > 0) {
      EXPECT_EQ(table.RecNo(), rows);
    }
    table.First();
    int seen = 0;
    while (!table.Eof()) {
      EXPECT_EQ(table.FieldByName("Jahr").AsInteger(), 2000 + seen);
      ++seen;
      table.Next();
    }
    EXPECT_EQ(seen, rows);
    table.Close();
    EXPECT_EQ(table.RecordCount(), 0);
    delete &table;
  }
}

TEST_F(DataSetTest, AnAppendedRecordIsMarkedUntilPosted) {
  TProbeTable& table = OpenPlan(2);
  table.Append();
  const std::uint8_t* buffer = table.ActiveBuffer();
  EXPECT_EQ(buffer[43], 3) << "flag of an inserted record";
  for (int i = 37; i < 43; ++i) EXPECT_EQ(buffer[i], 0xFF) << "position byte " << i;
  EXPECT_EQ(table.RecNo(), -1);
  table.FieldByName("Jahr").SetAsInteger(1);
  table.Post();
  EXPECT_EQ(table.State(), TDataSetState::dsBrowse);
  EXPECT_EQ(table.RecNo(), 3);
  EXPECT_EQ(table.ReadBookmarkFlag(table.ActiveBuffer()), platform::bfCurrent);
  // The buffer holds the stored record's position: its bookmark finds it.
  const platform::TBookmark stored = table.GetBookmark();
  EXPECT_NE(RecordPosition::Load(stored.data()).RecordId, -1);
  table.First();
  table.GotoBookmark(stored);
  EXPECT_EQ(table.RecNo(), 3);
  EXPECT_EQ(table.FieldByName("Jahr").AsInteger(), 1);
}

// A record appended behind a window that keeps its rows is not read again
// after its post: its buffer must hold exactly what a read gives, for the
// plan's fields and for an auto-increment the engine fills in at the store.
TEST_F(DataSetTest, AKeptAppendLeavesTheBufferAReadGives) {
  for (const bool autoInc : {false, true}) {
    SCOPED_TRACE(autoInc ? "auto-increment" : "plan");
    TProbeTable* table = &OpenPlan();
    if (autoInc) {
      delete table;
      TABSTable creator(nullptr);
      creator.SetDatabaseName("MEMORY");
      creator.SetTableName("Counted");
      creator.FieldDefs().Add("Id", platform::ftAutoInc, 0, false);
      creator.FieldDefs().Add("Jahr", platform::ftInteger, 0, false);
      creator.CreateTable();
      table = &NewTable<TProbeTable>("Counted1", "Counted");
      table->Open();
    }
    platform::TDataSource source;
    source.SetDataSet(table);
    platform::TDataLink link;
    link.SetBufferCount(7);
    link.SetDataSource(&source);
    const auto size = static_cast<std::size_t>(table->Cursor()->BaseBufferSize);
    for (int i = 0; i < 20; ++i) {
      table->Append();
      table->FieldByName("Jahr").SetAsInteger(2000 + i);
      table->Post();
      const std::vector<std::uint8_t> kept(table->ActiveBuffer(), table->ActiveBuffer() + size);
      table->Refresh();  // reads the window again
      const std::vector<std::uint8_t> read(table->ActiveBuffer(), table->ActiveBuffer() + size);
      ASSERT_EQ(kept, read) << "row " << i;
      if (autoInc) {
        EXPECT_EQ(table->FieldByName("Id").AsInteger(), i + 1);
      }
    }
    link.SetDataSource(nullptr);
    delete table;
  }
}

TEST_F(DataSetTest, IntegersAndCurrencyValuesTravelBitForBit) {
  TProbeTable& table = OpenPlan();
  const std::vector<double> money = {9958.333333333334,
                                     0.1 + 0.2,
                                     -0.0,
                                     DBL_MAX,
                                     -DBL_MIN,
                                     std::numeric_limits<double>::denorm_min(),
                                     1e-300};
  const std::vector<std::int32_t> ints = {INT32_MIN, -1, 0, 1, INT32_MAX};
  for (std::size_t i = 0; i < money.size(); ++i) {
    AppendPlanRow(table, ints[i % ints.size()], 12, 31, money[i], -money[i], money[i] / 3);
  }
  table.First();
  for (std::size_t i = 0; i < money.size(); ++i, table.Next()) {
    SCOPED_TRACE(i);
    EXPECT_EQ(table.FieldByName("Jahr").AsInteger(), ints[i % ints.size()]);
    EXPECT_EQ(std::bit_cast<std::uint64_t>(table.FieldByName("Darlehen").AsFloat()),
              std::bit_cast<std::uint64_t>(money[i]));
    EXPECT_EQ(std::bit_cast<std::uint64_t>(table.FieldByName("Tilgung").AsFloat()),
              std::bit_cast<std::uint64_t>(-money[i]));
    EXPECT_EQ(std::bit_cast<std::uint64_t>(table.FieldByName("Zins").AsFloat()),
              std::bit_cast<std::uint64_t>(money[i] / 3));
  }
}

TEST_F(DataSetTest, FieldWritesGiveTheImageTheCursorsOwnFieldExchangeGives) {
  {
    TABSTable creator(nullptr);
    creator.SetDatabaseName("MEMORY");
    creator.SetTableName("Arten");
    creator.FieldDefs().Add("S", platform::ftSmallint);
    creator.FieldDefs().Add("W", platform::ftWord);
    creator.FieldDefs().Add("I", platform::ftInteger);
    creator.FieldDefs().Add("L", platform::ftLargeint);
    creator.FieldDefs().Add("F", platform::ftFloat);
    creator.FieldDefs().Add("C", platform::ftCurrency);
    creator.FieldDefs().Add("T", platform::ftString, 10);
    creator.FieldDefs().Add("N", platform::ftInteger);
    creator.CreateTable();
  }
  TProbeTable& table = NewTable<TProbeTable>("Arten1", "Arten");
  table.Open();
  const std::int16_t s = -12345;
  const std::uint16_t w = 65535;
  const std::int32_t i = INT32_MIN;
  const std::int64_t l = INT64_MAX;
  const double f = -1.0 / 3.0, c = 9958.333333333334;
  const char text[11] = "Zehn Zeich";
  table.Append();
  table.FieldByName("S").SetAsInteger(s);
  table.FieldByName("W").SetAsInteger(w);
  table.FieldByName("I").SetAsInteger(i);
  table.FieldByName("L").SetAsLargeInt(l);
  table.FieldByName("F").SetAsFloat(f);
  table.FieldByName("C").SetAsFloat(c);
  table.FieldByName("T").SetAsString(text);
  table.FieldByName("N").SetAsInteger(7);
  table.FieldByName("N").Clear();
  TABSCursor& cursor = *table.Cursor();
  const int size = cursor.DataSize();
  TABSMemBlock expected = TABSMemBlock::Adopt(cursor.AllocRecordBuffer());
  auto* image = expected.as<std::byte>();
  cursor.InitRecordBuffer(image, false);
  const std::int32_t seven = 7;
  const void* sources[] = {&s, &w, &i, &l, &f, &c, text, &seven};
  for (int n = 0; n < 8; ++n) cursor.WriteFieldData(n, sources[n], image);
  cursor.WriteFieldData(7, nullptr, image);
  EXPECT_EQ(std::memcmp(table.ActiveBuffer(), image, static_cast<std::size_t>(size)), 0);
  table.Post();
  // Reading back gives what the cursor's own read gives.
  for (int n = 0; n < 8; ++n) {
    SCOPED_TRACE(n);
    platform::TField& field = table.Fields()[n];
    unsigned char viaDataSet[16] = {}, viaCursor[16] = {};
    const bool a = table.LoadFieldData(&field, viaDataSet);
    const bool b = cursor.ReadFieldData(n, viaCursor,
                                        reinterpret_cast<const std::byte*>(table.ActiveBuffer()));
    EXPECT_EQ(a, b);
    EXPECT_EQ(std::memcmp(viaDataSet, viaCursor, sizeof viaCursor), 0);
  }
  EXPECT_TRUE(table.FieldByName("N").IsNull());
  EXPECT_EQ(table.FieldByName("L").AsLargeInt(), l);
}

TEST_F(DataSetTest, AFieldWithoutAValueReadsAsNull) {
  TProbeTable& table = OpenPlan();
  table.Append();
  table.FieldByName("Jahr").SetAsInteger(2024);
  table.Post();
  EXPECT_FALSE(table.FieldByName("Jahr").IsNull());
  EXPECT_TRUE(table.FieldByName("Zins").IsNull());
  EXPECT_EQ(table.FieldByName("Zins").DisplayText(), "");
}

TEST_F(DataSetTest, WritingWhileBrowsingIsRefusedAndChangesNothing) {
  TProbeTable& table = OpenPlan(1);
  const double before = table.FieldByName("Darlehen").AsFloat();
  EXPECT_EQ(NativeErrorOf([&] { table.FieldByName("Darlehen").SetAsFloat(1.5); }), 10007);
  EXPECT_EQ(table.FieldByName("Darlehen").AsFloat(), before);
  table.Refresh();
  EXPECT_EQ(table.FieldByName("Darlehen").AsFloat(), before);
}

TEST_F(DataSetTest, PostingWhileReadOnlyIsRefusedAndKeepsTheRecordInTheBuffer) {
  TProbeTable& table = OpenPlan(1);
  table.Append();
  table.FieldByName("Jahr").SetAsInteger(1999);
  table.SetReadOnly(true);
  EXPECT_EQ(NativeErrorOf([&] { table.Post(); }), 10032);
  EXPECT_EQ(table.State(), TDataSetState::dsInsert);
  EXPECT_EQ(table.FieldByName("Jahr").AsInteger(), 1999);
  table.Cancel();
  EXPECT_EQ(table.RecordCount(), 1);
}

TEST_F(ScriptedDataSetTest, ARefusedWriteRaisesTheCursorsResultAndLeavesTheInsertPending) {
  TProbeTable& table = OpenPlan(1);
  table.Append();
  table.FieldByName("Jahr").SetAsInteger(5);
  components_test::TestCursorControls().WriteResult = crErrorAdding;
  try {
    table.Post();
    ADD_FAILURE() << "no error";
  } catch (const EABSEngineError& e) {
    EXPECT_EQ(e.ErrorCode(), crErrorAdding);
  }
  EXPECT_EQ(table.State(), TDataSetState::dsInsert);
  components_test::TestCursorControls().WriteResult = 0;
  table.Post();
  EXPECT_EQ(table.RecordCount(), 2);
}

TEST_F(DataSetTest, APostThatBreaksAConstraintRaisesTheEngineErrorAndStaysInInsert) {
  {
    TABSTable creator(nullptr);
    creator.SetDatabaseName("MEMORY");
    creator.SetTableName("Pflicht");
    creator.FieldDefs().Add("Jahr", platform::ftInteger, 0, true);
    creator.FieldDefs().Add("Zins", platform::ftCurrency);
    creator.CreateTable();
  }
  TProbeTable& table = NewTable<TProbeTable>("ABSTable1", "Pflicht");
  table.Open();
  ASSERT_TRUE(table.FieldByName("Jahr").Required());
  // Past the framework's own check, the table's NOT NULL constraint refuses.
  table.FieldByName("Jahr").SetRequired(false);
  table.Append();
  table.FieldByName("Zins").SetAsFloat(1.25);
  try {
    table.Post();
    ADD_FAILURE() << "no error";
  } catch (const EABSEngineError& e) {
    EXPECT_EQ(e.ErrorCode(), crPostValidationError);
  }
  EXPECT_EQ(table.State(), TDataSetState::dsInsert);
  table.FieldByName("Jahr").SetAsInteger(2024);
  table.Post();
  EXPECT_EQ(table.RecordCount(), 1);
}

TEST_F(DataSetTest, EditPostCancelAndDeleteGoThroughTheCursor) {
  TProbeTable& table = OpenPlan(3);
  table.First();
  table.Next();
  table.Edit();
  table.FieldByName("Monat").SetAsInteger(11);
  table.Post();
  table.Edit();
  table.FieldByName("Monat").SetAsInteger(4);
  table.Cancel();
  table.First();
  table.Next();
  EXPECT_EQ(table.FieldByName("Monat").AsInteger(), 11);
  table.Delete();
  EXPECT_EQ(table.RecordCount(), 2);
  EXPECT_EQ(table.FieldByName("Jahr").AsInteger(), 2002);
}

TEST_F(ScriptedDataSetTest, ARefusedEditGivesBackItsCopyOfTheRecord) {
  TProbeTable& table = OpenPlan(3);
  const auto before = EngineMemoryManager.AllocatedSize();
  components_test::TestCursorControls().EditResult = crRecordLocked;
  EXPECT_THROW(table.Edit(), EABSEngineError);
  EXPECT_EQ(EngineMemoryManager.AllocatedSize(), before);
  EXPECT_EQ(table.State(), TDataSetState::dsBrowse);
}

TEST_F(DataSetTest, BookmarksAreSevenZeroFilledBytesAndOrderRecords) {
  TProbeTable& table = OpenPlan(3);
  table.First();
  const platform::TBookmark first = table.GetBookmark();
  table.Last();
  const platform::TBookmark last = table.GetBookmark();
  ASSERT_EQ(first.size(), 7u);
  EXPECT_EQ(first[6], 0);
  EXPECT_EQ(table.CompareBookmarks({}, {}), 0);
  EXPECT_EQ(table.CompareBookmarkOrder(first.data(), nullptr), -1);
  EXPECT_EQ(table.CompareBookmarkOrder(nullptr, first.data()), 1);
  EXPECT_LT(table.CompareBookmarks(first, last), 0);
  EXPECT_GT(table.CompareBookmarks(last, first), 0);
  EXPECT_EQ(table.CompareBookmarks(last, last), 0);
  EXPECT_TRUE(table.BookmarkValid(first));
  table.GotoBookmark(first);
  EXPECT_EQ(table.RecNo(), 1);
  table.Delete();
  EXPECT_FALSE(table.BookmarkValid(first));
}

TEST_F(DataSetTest, RecordNumbersOutsideTheTableGoToTheNearestEnd) {
  TProbeTable& table = OpenPlan(5);
  struct Case {
    int asked;
    int expected;
  };
  for (const Case c : {Case{0, 1}, Case{-7, 1}, Case{3, 3}, Case{5, 5}, Case{99, 5}}) {
    SCOPED_TRACE(c.asked);
    table.Last();
    table.GoToRecordNumber(c.asked);
    EXPECT_EQ(table.RecNo(), c.expected);
    EXPECT_EQ(table.FieldByName("Jahr").AsInteger(), 1999 + c.expected);
  }
}

TEST_F(DataSetTest, HooksWithoutACursorOrBufferRaiseTheirOwnCodes) {
  TProbeTable& table = NewTable<TProbeTable>("ABSTable1", "Tilgungsplan");
  std::uint8_t scratch[64] = {};
  platform::TRecordBuffer b = scratch;
  struct Case {
    const char* hook;
    std::int32_t code;
    std::function<void()> call;
  };
  const std::vector<Case> cases = {
      {"LoadRecord", 10041, [&] { table.LoadRecord(b, platform::TGetMode::gmNext, true); }},
      {"ZeroCalculatedArea nil", 10039, [&] { table.ZeroCalculatedArea(nullptr); }},
      {"ZeroCalculatedArea", 10040, [&] { table.ZeroCalculatedArea(b); }},
      {"GoToRecordNumber", 10042, [&] { table.GoToRecordNumber(1); }},
      {"ActiveRecordNumber", 10043, [&] { table.ActiveRecordNumber(); }},
      {"GoBeforeFirst", 10044, [&] { table.GoBeforeFirst(); }},
      {"GoAfterLast", 10045, [&] { table.GoAfterLast(); }},
      {"GoToBufferRecord", 10046, [&] { table.GoToBufferRecord(b); }},
      {"GoToBookmark nil", 10037, [&] { table.GoToBookmark(nullptr); }},
      {"GoToBookmark", 10038, [&] { table.GoToBookmark(scratch); }},
      {"ReadBookmarkData nil buffer", 10034, [&] { table.ReadBookmarkData(nullptr, scratch); }},
      {"ReadBookmarkData nil target", 10035, [&] { table.ReadBookmarkData(b, nullptr); }},
      {"ReadBookmarkData", 10036, [&] { table.ReadBookmarkData(b, scratch); }},
      {"ReadBookmarkFlag nil", 10059, [&] { table.ReadBookmarkFlag(nullptr); }},
      {"ReadBookmarkFlag", 10060, [&] { table.ReadBookmarkFlag(b); }},
      {"WriteBookmarkFlag", 10057, [&] { table.WriteBookmarkFlag(b, platform::bfEOF); }},
      {"WriteBookmarkData", 10058, [&] { table.WriteBookmarkData(b, scratch); }},
      {"NewRecordBuffer", 10052, [&] { table.NewRecordBuffer(); }},
      {"DisposeRecordBuffer", 10053, [&] { table.DisposeRecordBuffer(b); }},
      {"BlankRecordBuffer", 10054, [&] { table.BlankRecordBuffer(b); }},
      {"RecordDataSize", 10055, [&] { table.RecordDataSize(); }},
      {"CompareBookmarkOrder", 10063, [&] { table.CompareBookmarkOrder(scratch, scratch); }},
      {"BeginRecordEdit", 10065, [&] { table.BeginRecordEdit(); }},
      {"CancelRecordChange", 10066, [&] { table.CancelRecordChange(); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.hook);
    const EABSException e = RaisedBy(c.call);
    EXPECT_EQ(e.NativeError(), c.code);
    EXPECT_NE(std::string(e.what()).find("Nil pointer occured"), std::string::npos);
  }
  // The scratch buffer was never written.
  for (std::uint8_t byte : scratch) EXPECT_EQ(byte, 0);
  EXPECT_EQ(table.TotalRecords(), 0);
  EXPECT_EQ(table.CompareBookmarkOrder(nullptr, nullptr), 0);
}

TEST_F(DataSetTest, DatesAndTimesConvertBetweenTheNativeAndTheStoredForm) {
  {
    TABSTable creator(nullptr);
    creator.SetDatabaseName("MEMORY");
    creator.SetTableName("Termine");
    creator.FieldDefs().Add("D", platform::ftDate);
    creator.FieldDefs().Add("T", platform::ftTime);
    creator.FieldDefs().Add("DT", platform::ftDateTime);
    creator.CreateTable();
  }
  TProbeTable& table = NewTable<TProbeTable>("Termine1", "Termine");
  table.Open();
  // Framework date-times: day 1 of year 1, 1899-12-30, 2024-02-29, 9999-12-31.
  const std::vector<double> dates = {-693593.0, 0.0, 45351.0, 2958465.0};
  const std::vector<double> times = {0.0, 0.5, 86399999.0 / 86400000.0, 1.0 / 86400000.0};
  for (std::size_t i = 0; i < dates.size(); ++i) {
    table.Append();
    table.FieldByName("D").SetAsDateTime(dates[i]);
    table.FieldByName("T").SetAsDateTime(times[i]);
    table.FieldByName("DT").SetAsDateTime(dates[i] + (dates[i] < 0 ? -times[i] : times[i]));
    table.Post();
  }
  table.First();
  for (std::size_t i = 0; i < dates.size(); ++i, table.Next()) {
    SCOPED_TRACE(i);
    EXPECT_EQ(table.FieldByName("D").AsDateTime(), dates[i]);
    EXPECT_NEAR(table.FieldByName("T").AsDateTime(), times[i], 1e-12);
    EXPECT_NEAR(table.FieldByName("DT").AsDateTime(),
                dates[i] + (dates[i] < 0 ? -times[i] : times[i]), 1e-9);
    // The stored form: the engine's day number and milliseconds.
    const std::uint8_t* image = table.ActiveBuffer();
    EXPECT_EQ(LoadLE<std::int32_t>(image + 1), static_cast<std::int32_t>(dates[i]) + 693594);
    EXPECT_EQ(LoadLE<std::int32_t>(image + 5), std::lround(times[i] * 86400000.0));
  }
}

TEST_F(DataSetTest, AppendAndPostSurviveEveryFailedAllocation) {
  TProbeTable& table = OpenPlan(2);
  const int allocations = InjectAllocationFailures(
      [&] {
        AppendPlanRow(table, 2030, 1, 28, 5.0, 1.0, 0.25);
        // Record numbers and bookmark checks take engine memory of their own.
        EXPECT_EQ(table.RecNo(), 3);
        EXPECT_TRUE(table.BookmarkValid(table.GetBookmark()));
        table.Delete();
      },
      {.AfterFailure =
           [&] {
             // A failure before the post leaves the insert pending, one after
             // it leaves the stored row: either way the dataset goes on.
             if (table.State() == TDataSetState::dsInsert) table.Cancel();
             EXPECT_EQ(table.State(), TDataSetState::dsBrowse);
             if (table.RecordCount() == 3) {
               table.Last();
               EXPECT_EQ(table.FieldByName("Jahr").AsInteger(), 2030);
               table.Delete();
             }
             EXPECT_EQ(table.RecordCount(), 2);
           },
       .MemoryUnchanged = false});
  EXPECT_GT(allocations, 0);
  EXPECT_EQ(table.RecordCount(), 2);
}

TEST_F(DataSetTest, OpeningSurvivesEveryFailedAllocation) {
  TProbeTable& table = OpenPlan(3);
  table.Close();
  const int allocations = InjectAllocationFailures(
      [&] {
        table.Open();
        table.Close();
      },
      {.AfterFailure = [&] {
        EXPECT_FALSE(table.Active());
        EXPECT_EQ(table.Database(), nullptr);
        EXPECT_EQ(table.DatabaseUseBits(), 0u);
      }});
  EXPECT_GT(allocations, 0);
  table.Open();
  EXPECT_EQ(table.RecordCount(), 3);
}

// The plan table with two indexes, made through a component of its own.
void CreateIndexedPlan(const std::string& name) {
  TABSTable creator(nullptr);
  creator.SetDatabaseName("MEMORY");
  creator.SetTableName(name);
  for (const char* field : {"Jahr", "Monat", "Tag"}) {
    creator.FieldDefs().Add(field, platform::ftInteger);
  }
  creator.FieldDefs().Add("Zins", platform::ftCurrency);
  creator.IndexDefs().Add("NachJahr", "Jahr");
  creator.IndexDefs().Add("NachTag", "Tag;Monat");
  creator.CreateTable();
}

// Appends one row through a component of its own and gives its count.
int AppendThroughAnother(const std::string& name, int jahr) {
  TABSTable other(nullptr);
  other.SetDatabaseName("MEMORY");
  other.SetTableName(name);
  other.Open();
  other.Append();
  other.FieldByName("Jahr").SetAsInteger(jahr);
  other.FieldByName("Monat").SetAsInteger(jahr % 12 + 1);
  other.FieldByName("Tag").SetAsInteger(jahr % 28 + 1);
  other.Post();
  return other.RecordCount();
}

// Emptying, creating and deleting a table with indexes under every armed
// allocation failure: a failed operation leaves the table as it was and no
// page held, so another component appends at once; a table that could not
// be created is not there. (Deleting may succeed although an allocation in
// the freed table's clean-up failed: the table is gone all the same.)
TEST_F(DataSetTest, FailedTableOperationsWithIndexesLeaveTheTableTakingRows) {
  const std::string name = "Indiziert";
  TABSTable operand(nullptr);
  operand.SetDatabaseName("MEMORY");
  operand.SetTableName(name);
  auto fill = [&](int rows) {
    if (!operand.Exists()) CreateIndexedPlan(name);
    for (int i = 0; i < rows; ++i) AppendThroughAnother(name, 1990 + i);
  };
  const std::function<void()> operations[] = {
      [&] { operand.ClearTable(); }, [&] { operand.DeleteTable(); },
      [&] {
        operand.FieldDefs().Clear();
        for (const char* field : {"Jahr", "Monat", "Tag"}) {
          operand.FieldDefs().Add(field, platform::ftInteger);
        }
        operand.IndexDefs().Clear();
        operand.IndexDefs().Add("NachJahr", "Jahr");
        operand.IndexDefs().Add("NachTag", "Tag;Monat");
        operand.CreateTable();
      }};
  const char* names[] = {"emptying", "deleting", "creating"};
  for (int op = 0; op < 3; ++op) {
    SCOPED_TRACE(names[op]);
    int failed = 0;
    int rows = 0;
    if (operand.Exists()) operand.DeleteTable();
    for (int n = 1; n < 1000; ++n) {
      SCOPED_TRACE(n);
      // Enough rows for index trees of several levels.
      if (op != 2 && !operand.Exists()) {
        fill(400);
        rows = 400;
      }
      TABSTable viewer(nullptr);
      viewer.SetDatabaseName("MEMORY");
      viewer.SetTableName(name);
      if (op == 0) {
        // The grid of another component stays open while the table is emptied.
        viewer.Open();
        viewer.Last();
      }
      EngineMemoryManager.FailAllocationForTesting(n);
      bool raised = false;
      try {
        operations[op]();
      } catch (const EABSException&) {
        raised = true;
      }
      const bool fired = EngineMemoryManager.PendingFailureForTesting() == 0;
      EngineMemoryManager.FailAllocationForTesting(0);
      EXPECT_TRUE(fired || !raised) << "failed without a failing allocation";
      if (!fired) break;
      if (!raised) {
        // Only a deletion's clean-up may swallow the failure.
        EXPECT_EQ(op, 1);
        EXPECT_FALSE(operand.Exists());
        continue;
      }
      ++failed;
      if (op == 2) {
        EXPECT_FALSE(operand.Exists());
      } else {
        ASSERT_TRUE(operand.Exists());
        EXPECT_EQ(AppendThroughAnother(name, 2100 + n), ++rows);
      }
      if (::testing::Test::HasFailure()) return;
    }
    if (op != 1) {
      EXPECT_GT(failed, 0);
    }
  }
  fill(0);
  EXPECT_EQ(AppendThroughAnother(name, 1), 1);
}

// A unique or primary index declared with the table brings its named key
// constraint; a duplicate fails the post and leaves the insert to cancel.
TEST_F(DataSetTest, UniqueAndPrimaryIndexesDeclaredWithTheTableRefuseDuplicates) {
  for (const platform::TIndexOptions options : {platform::ixUnique, platform::ixPrimary}) {
    SCOPED_TRACE(options == platform::ixUnique ? "unique" : "primary");
    TABSTable table(nullptr);
    table.SetDatabaseName("MEMORY");
    table.SetTableName("Schluessel");
    table.FieldDefs().Add("K", platform::ftInteger);
    table.IndexDefs().Add("ByK", "K", options);
    table.CreateTable();
    TABSTable reader(nullptr);
    reader.SetDatabaseName("MEMORY");
    reader.SetTableName("Schluessel");
    reader.Open();
    ASSERT_EQ(reader.Cursor()->ConstraintDefs->DefCount(), 1);
    EXPECT_EQ((*reader.Cursor()->ConstraintDefs)[0]->Name(),
              options == platform::ixUnique ? "C_Unique$K" : "C_PK$K");
    reader.Close();
    table.Open();
    for (int row = 0; row < 2; ++row) {
      table.Append();
      table.FieldByName("K").SetAsInteger(1);
      if (row == 0) table.Post();
    }
    EXPECT_THROW(table.Post(), std::exception);
    EXPECT_EQ(table.State(), TDataSetState::dsInsert);
    table.Cancel();
    EXPECT_EQ(table.RecordCount(), 1);
    table.Close();
    table.DeleteTable();
  }
}

}  // namespace
