// The table component: its properties, Exists, CreateTable, ClearTable,
// opening and closing, and how it uses the session and database components.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "engine/components/ABSTable.h"
#include "platform/data/DataSource.h"
#include "platform/os/Exception.h"
#include "tests/engine/RaisedError.h"
#include "tests/engine/components/TableFixture.h"

namespace {

template <typename F>
std::string DatabaseErrorOf(F&& f) {
  try {
    f();
  } catch (const EABSException& e) {
    return std::string("engine: ") + e.what();
  } catch (const platform::EDatabaseError& e) {
    return e.what();
  }
  return "none";
}

class TableTest : public TableComponentTest {
 protected:
  // The temporary "MEMORY" database components of the default session.
  static std::vector<TABSDatabase*> MemoryComponents() {
    std::vector<TABSDatabase*> found;
    for (TABSDatabase* d : Default().DatabaseList()) {
      if (d->IsTemporary() && d->DatabaseName() == "MEMORY") found.push_back(d);
    }
    return found;
  }
};

TEST_F(TableTest, TheDatabaseNameSelectsTheMemoryDatabase) {
  struct Case {
    const char* name;
    bool inMemory;
  };
  TABSTable table(nullptr);
  for (const Case c : {Case{"MEMORY", true}, Case{"memory", true}, Case{"MeMoRy", true},
                       Case{"MEMORY2", false}, Case{"TEMP", false}, Case{"", false}}) {
    SCOPED_TRACE(c.name);
    table.SetDatabaseName(c.name);
    EXPECT_EQ(table.InMemory(), c.inMemory);
  }
  table.SetInMemory(true);
  EXPECT_EQ(table.DatabaseName(), "MEMORY");
  table.SetInMemory(false);
  EXPECT_EQ(table.DatabaseName(), "MEMORY");
  table.SetTemporary(true);
  EXPECT_EQ(table.DatabaseName(), "TEMP");
  EXPECT_FALSE(table.InMemory());
  EXPECT_EQ(table.CurrentVersion(), "6.07 ");
}

TEST_F(TableTest, ExistsFollowsTheTableNotTheComponent) {
  TABSTable* table = &NewTable("ABSTable1", "Tilgungsplan");
  EXPECT_FALSE(table->Exists());
  CreatePlanTable("Tilgungsplan");
  EXPECT_TRUE(table->Exists());
  table->SetTableName("TILGUNGSPLAN");
  EXPECT_TRUE(table->Exists()) << "names ignore letter case";
  table->Open();
  EXPECT_TRUE(table->Exists());
  delete table;
  TABSTable other(nullptr);
  other.SetDatabaseName("MEMORY");
  other.SetTableName("Tilgungsplan");
  EXPECT_TRUE(other.Exists()) << "the table outlives the component";
  other.SetDatabaseName("");
  EXPECT_FALSE(other.Exists());
  other.SetDatabaseName("MEMORY");
  other.SetSessionName("Nirgends");
  EXPECT_FALSE(other.Exists()) << "an unknown session reads as false";
  EXPECT_EQ(other.Database(), nullptr);
}

TEST_F(TableTest, TableOperationsRefuseABlankNameAndAttachNothing) {
  TABSTable& table = NewTable("ABSTable1", "   ");
  table.FieldDefs().Add("Jahr", platform::ftInteger);
  const std::size_t components = Default().DatabaseList().size();
  EXPECT_EQ(DatabaseErrorOf([&] { table.CreateTable(); }), "ABSTable1: Missing TableName property");
  EXPECT_EQ(table.Database(), nullptr);
  EXPECT_EQ(table.DatabaseUseBits(), 0u);
  EXPECT_EQ(Default().DatabaseList().size(), components);
  EXPECT_EQ(DatabaseErrorOf([&] { table.Open(); }), "ABSTable1: Missing TableName property");
  EXPECT_EQ(table.Database(), nullptr);
  EXPECT_EQ(DatabaseErrorOf([&] { table.ClearTable(); }), "ABSTable1: Missing TableName property");
  EXPECT_EQ(table.Database(), nullptr);
  EXPECT_EQ(table.DatabaseUseBits(), 0u);
}

TEST_F(TableTest, CreateTableValidatesTheFieldsAndCreatesNothingOnFailure) {
  struct Case {
    const char* what;
    std::function<void(TABSTable&)> define;
    std::int32_t code;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"text without a size",
       [](TABSTable& t) {
         t.FieldDefs().Add("Jahr", platform::ftInteger);
         t.FieldDefs().Add("Name", platform::ftString, 0);
       },
       30453, "Cannot create table 'Fehler' with field: Name "},
      {"a field without a name",
       [](TABSTable& t) {
         t.FieldDefs().Add("Jahr", platform::ftInteger);
         t.FieldDefs().Add("", platform::ftInteger);
       },
       30499, "Missing field name. FieldNo=1, table 'Fehler'"},
      {"a compressed BLOB without a mode",
       [](TABSTable& t) {
         TABSAdvFieldDef& blob = t.AdvFieldDefs().Add("Bild", dtBlob);
         blob.BlobCompressionAlgorithm = 1;
       },
       20257, "Invalid BlobCompressionMode (must be in 1..9 range) for blob field 'Bild'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TABSTable& table = NewTable("ABSTable9", "Fehler");
    c.define(table);
    const EABSException e = RaisedBy([&] { table.CreateTable(); });
    EXPECT_EQ(e.NativeError(), c.code);
    EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    EXPECT_FALSE(table.Exists());
    EXPECT_EQ(table.Database(), nullptr);
    delete &table;
  }
}

TEST_F(TableTest, CreateTableIsRefusedInATransaction) {
  TABSDatabase& memory = Default().AcquireDatabase("MEMORY", nullptr);
  memory.StartDatabaseTransaction();
  TABSTable& table = NewTable("ABSTable1", "Tilgungsplan");
  table.FieldDefs().Add("Jahr", platform::ftInteger);
  const EABSException e = RaisedBy([&] { table.CreateTable(); });
  EXPECT_EQ(e.NativeError(), 20182);
  EXPECT_NE(std::string(e.what()).find("'CreateTable'"), std::string::npos);
  EXPECT_EQ(NativeErrorOf([&] { table.DeleteTable(); }), 20182);
  memory.RollbackDatabaseTransaction();
  EXPECT_FALSE(table.Exists());
  Default().ReleaseDatabase(memory);
  table.CreateTable();
  EXPECT_TRUE(table.Exists());
}

TEST_F(TableTest, RequiredFieldsAndBoundsBecomeConstraints) {
  TABSTable& table = NewTable("ABSTable1", "Regeln");
  TABSAdvFieldDef& jahr = table.AdvFieldDefs().Add("Jahr", dtInteger, 0, true);
  jahr.MaxValue->SetAsInteger(2100);
  table.AdvFieldDefs().Add("Name", dtString, 12);
  table.AdvFieldDefs().Add("Zahl", dtInteger, 7);
  table.CreateTable();
  const TABSConstraintDefs& constraints = table.EngineConstraintDefs();
  ASSERT_EQ(constraints.DefCount(), 2);
  EXPECT_EQ(constraints[0]->ConstraintKind, ckNotNull);
  EXPECT_EQ(constraints[0]->TargetName, "Jahr");
  ASSERT_EQ(constraints[1]->ConstraintKind, ckCheck);
  const auto& check = static_cast<const TABSConstraintDefCheck&>(*constraints[1]);
  EXPECT_TRUE(check.MinValue->IsNull());
  EXPECT_FALSE(check.MaxValue->IsNull());
  // FieldDefs were rebuilt from the component list; a size on a non-text
  // field is dropped.
  ASSERT_EQ(table.FieldDefs().Count(), 3);
  EXPECT_EQ(table.FieldDefs()[1].Size(), 12);
  EXPECT_EQ(table.FieldDefs()[2].Size(), 0);
  EXPECT_TRUE(table.FieldDefs()[0].Required());
  // Read back from the closed table: the NOT NULL field is required.
  TABSTable reader(nullptr);
  reader.SetDatabaseName("MEMORY");
  reader.SetTableName("Regeln");
  reader.FieldDefs().Update();
  ASSERT_EQ(reader.FieldDefs().Count(), 3);
  EXPECT_TRUE(reader.FieldDefs()[0].Required());
  EXPECT_EQ(reader.FieldDefs()[1].DataType(), platform::ftString);
  EXPECT_EQ(reader.FieldDefs()[1].Size(), 12);
  EXPECT_EQ(reader.Database(), nullptr);
}

TEST_F(TableTest, ClearTableEmptiesTheTableAndKeepsItsFields) {
  CreatePlanTable("Tilgungsplan");
  TABSTable& table = NewTable("ABSTable1", "Tilgungsplan");
  table.Open();
  for (int i = 0; i < 3; ++i) AppendPlanRow(table, 2024, i + 1, 1, 1.0, 2.0, 3.0);
  table.Close();
  EXPECT_EQ(DatabaseErrorOf([&] {
              table.Open();
              table.ClearTable();
            }).find("Cannot perform this operation on an open dataset") != std::string::npos,
            true);
  EXPECT_EQ(table.RecordCount(), 3) << "refused on an open dataset";
  EXPECT_NE(DatabaseErrorOf([&] {
              table.CreateTable();
            }).find("Cannot perform this operation on an open dataset"),
            std::string::npos);
  EXPECT_EQ(table.RecordCount(), 3) << "not replaced while open";
  table.Close();
  table.ClearTable();
  EXPECT_TRUE(table.Exists());
  table.Open();
  EXPECT_EQ(table.RecordCount(), 0);
  ASSERT_EQ(table.FieldCount(), 6);
  EXPECT_EQ(table.Fields()[0].FieldName(), "Jahr");
  EXPECT_EQ(table.Fields()[5].DataType(), platform::ftCurrency);
}

TEST_F(TableTest, ClearTableOnAMissingTableFailsAndAttachesNothing) {
  TABSTable& table = NewTable("ABSTable1", "Nirgends");
  EXPECT_EQ(NativeErrorOf([&] { table.ClearTable(); }), 20133);
  EXPECT_EQ(table.Database(), nullptr);
  EXPECT_EQ(table.DatabaseUseBits(), 0u);
}

TEST_F(TableTest, OpeningAMissingTableFailsAndDoesNotCreateIt) {
  TABSTable& table = NewTable("ABSTable1", "Nirgends");
  EXPECT_EQ(NativeErrorOf([&] { table.Open(); }), 10028);
  EXPECT_FALSE(table.Active());
  EXPECT_EQ(table.Database(), nullptr);
  EXPECT_EQ(table.DatabaseUseBits(), 0u);
  EXPECT_FALSE(table.Exists());
  for (TABSDatabase* d : MemoryComponents()) EXPECT_EQ(d->OpenCount(), 0);
}

TEST_F(TableTest, CreateTableReplacesAnExistingTable) {
  CreatePlanTable("Tilgungsplan");
  TABSTable& table = NewTable("ABSTable1", "Tilgungsplan");
  table.Open();
  AppendPlanRow(table, 2024, 1, 1, 1.0, 2.0, 3.0);
  table.Close();
  CreatePlanTable("Tilgungsplan");
  table.Open();
  EXPECT_EQ(table.RecordCount(), 0);
}

TEST_F(TableTest, ASecondComponentSeesTheRowsOfTheFirst) {
  CreatePlanTable("Tilgungsplan");
  TABSTable& first = NewTable("ABSTable1", "Tilgungsplan");
  TABSTable& second = NewTable("ABSTable2", "Tilgungsplan");
  first.Open();
  AppendPlanRow(first, 2024, 5, 15, 9958.333333333334, 41.67, 8.33);
  second.Open();
  EXPECT_EQ(second.RecordCount(), 1);
  EXPECT_EQ(second.FieldByName("Darlehen").AsFloat(), 9958.333333333334);
  second.Edit();
  second.FieldByName("Monat").SetAsInteger(6);
  second.Post();
  first.Refresh();
  EXPECT_EQ(first.FieldByName("Monat").AsInteger(), 6);
  // An open table cannot be replaced or removed under the components.
  EXPECT_EQ(NativeErrorOf([] { CreatePlanTable("Tilgungsplan"); }), 20017);
  EXPECT_EQ(first.RecordCount(), 1);
}

TEST_F(TableTest, RenameAndDeleteTable) {
  CreatePlanTable("Alt");
  TABSTable& table = NewTable("ABSTable1", "Alt");
  table.RenameTable("Neu");
  EXPECT_EQ(table.TableName(), "Neu");
  EXPECT_TRUE(table.Exists());
  table.SetTableName("Alt");
  EXPECT_FALSE(table.Exists());
  table.SetTableName("Neu");
  table.DeleteTable();
  EXPECT_FALSE(table.Exists());
  EXPECT_EQ(NativeErrorOf([&] { table.DeleteTable(); }), 20132);
}

TEST_F(TableTest, TableNameChangesNeedAClosedTable) {
  CreatePlanTable("Tilgungsplan");
  TABSTable& table = NewTable("ABSTable1", "Tilgungsplan");
  table.Open();
  table.SetTableName("Tilgungsplan");  // the same value is no change
  EXPECT_NE(DatabaseErrorOf([&] {
              table.SetTableName("Anders");
            }).find("ABSTable1: Cannot perform this operation on an open dataset"),
            std::string::npos);
  EXPECT_NE(DatabaseErrorOf([&] { table.SetDatabaseName("TEMP"); }).find("open"),
            std::string::npos);
  EXPECT_EQ(table.TableName(), "Tilgungsplan");
}

TEST_F(TableTest, TheFirstOpenMakesOneTemporaryMemoryDatabaseThatStays) {
  CreatePlanTable("Tilgungsplan");
  TABSTable& table = NewTable("ABSTable1", "Tilgungsplan");
  table.Open();
  ASSERT_EQ(MemoryComponents().size(), 1u);
  TABSDatabase* memory = MemoryComponents()[0];
  EXPECT_EQ(table.Database(), memory);
  EXPECT_EQ(memory->OpenCount(), 1);
  EXPECT_EQ(memory->DatasetList().size(), 1u);
  table.Close();
  EXPECT_EQ(table.Database(), nullptr);
  ASSERT_EQ(MemoryComponents().size(), 1u);
  EXPECT_TRUE(memory->Connected());
  EXPECT_EQ(memory->OpenCount(), 0);
  EXPECT_TRUE(memory->DatasetList().empty());
  table.Open();
  EXPECT_EQ(table.Database(), memory);
  TABSTable& second = NewTable("ABSTable2", "Tilgungsplan");
  second.Open();
  EXPECT_EQ(memory->OpenCount(), 2);
  EXPECT_EQ(MemoryComponents().size(), 1u);
  // The plan's recalculation sequence, twice: close, name, Exists, clear, open, rows.
  for (int run = 0; run < 2; ++run) {
    table.Close();
    table.SetTableName("Tilgungsplan");
    ASSERT_TRUE(table.Exists());
    table.ClearTable();
    table.Open();
    for (int i = 0; i < 4; ++i) AppendPlanRow(table, 2024, i + 1, 30, 100.0 - i, 1.0, 0.5);
    EXPECT_EQ(table.RecordCount(), 4);
  }
  EXPECT_EQ(memory->OpenCount(), 2);
}

TEST_F(TableTest, OpeningNeedsADatabaseNameAndHandsReadOnlyToTheCursor) {
  CreatePlanTable("Tilgungsplan");
  TABSTable& table = NewTable("ABSTable1", "Tilgungsplan");
  table.SetDatabaseName("");
  EXPECT_EQ(DatabaseErrorOf([&] { table.Open(); }), "ABSTable1: DatabaseName property is blank");
  EXPECT_EQ(table.DatabaseUseBits(), 0u);
  table.SetDatabaseName("MEMORY");
  table.SetReadOnly(true);
  table.Open();
  EXPECT_TRUE(table.Cursor()->ReadOnly);
  EXPECT_FALSE(table.CanModify());
  EXPECT_NE(DatabaseErrorOf([&] { table.Append(); }), "none");
  EXPECT_EQ(table.RecordCount(), 0);
}

TEST_F(TableTest, ChangingTheDefinitionsMarksThemForStoring) {
  TABSTable& table = NewTable("ABSTable1", "Tilgungsplan");
  EXPECT_FALSE(table.StoreDefs());
  table.FieldDefs().Add("Jahr", platform::ftInteger);
  EXPECT_TRUE(table.StoreDefs());
  table.SetStoreDefs(false);
  table.IndexDefs().Add("ByJahr", "Jahr");
  EXPECT_TRUE(table.StoreDefs());
}

TEST_F(TableTest, AnIndexNamedOnOpeningOrdersTheRecords) {
  {
    TABSTable creator(nullptr);
    creator.SetDatabaseName("MEMORY");
    creator.SetTableName("Sortiert");
    creator.FieldDefs().Add("Jahr", platform::ftInteger);
    creator.FieldDefs().Add("Tag", platform::ftInteger);
    creator.IndexDefs().Add("NachTag", "Tag");
    creator.CreateTable();
  }
  TABSTable& writer = NewTable("ABSTable1", "Sortiert");
  writer.Open();
  for (int tag : {31, 5, 17, 1}) {
    writer.Append();
    writer.FieldByName("Jahr").SetAsInteger(2000 + tag);
    writer.FieldByName("Tag").SetAsInteger(tag);
    writer.Post();
  }
  writer.Close();
  TABSTable& reader = NewTable("ABSTable2", "Sortiert");
  reader.SetIndexName("NachTag");
  reader.Open();
  std::vector<int> tags;
  for (reader.First(); !reader.Eof(); reader.Next()) {
    tags.push_back(reader.FieldByName("Tag").AsInteger());
  }
  EXPECT_EQ(tags, (std::vector<int>{1, 5, 17, 31}));
  reader.IndexDefs().Update();
  ASSERT_EQ(reader.IndexDefs().Count(), 1);
  EXPECT_EQ(reader.IndexDefs()[0].Fields(), "Tag");
  reader.Close();
  TABSTable& byFields = NewTable("ABSTable3", "Sortiert");
  byFields.SetIndexFieldNames("tag");
  byFields.Open();
  byFields.First();
  EXPECT_EQ(byFields.FieldByName("Tag").AsInteger(), 1);
  byFields.Close();
  reader.SetIndexName("Nirgends");
  EXPECT_EQ(NativeErrorOf([&] { reader.Open(); }), 10325);
  EXPECT_FALSE(reader.Active());
  EXPECT_EQ(reader.Database(), nullptr);
}

TEST_F(TableTest, ClosingAPendingAppendCancelsIt) {
  CreatePlanTable("Tilgungsplan");
  TABSTable& table = NewTable("ABSTable1", "Tilgungsplan");
  table.Open();
  AppendPlanRow(table, 2024, 1, 1, 1.0, 2.0, 3.0);
  table.Append();
  table.FieldByName("Jahr").SetAsInteger(2025);
  table.Close();
  table.Open();
  EXPECT_EQ(table.RecordCount(), 1);
}

TEST_F(TableTest, SessionsOnFourThreadsEachUseTheirOwnTable) {
  constexpr int kThreads = 4;
  constexpr int kRows = 40;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &failures] {
      try {
        platform::TComponent owner(nullptr);
        auto* session = new TABSSession(&owner);
        session->SetSessionName("Faden" + std::to_string(t));
        const std::string name = "Tabelle" + std::to_string(t);
        for (int round = 0; round < 3; ++round) {
          TABSTable table(nullptr);
          table.SetSessionName(session->SessionName());
          table.SetDatabaseName("MEMORY");
          table.SetTableName(name);
          if (table.Exists()) {
            table.ClearTable();
          } else {
            table.FieldDefs().Add("Jahr", platform::ftInteger);
            table.FieldDefs().Add("Zins", platform::ftCurrency);
            table.CreateTable();
          }
          table.Open();
          for (int i = 0; i < kRows; ++i) {
            table.Append();
            table.FieldByName("Jahr").SetAsInteger(t * 1000 + i);
            table.FieldByName("Zins").SetAsFloat(i / 7.0);
            table.Post();
          }
          if (table.RecordCount() != kRows) ++failures;
          table.First();
          if (table.FieldByName("Jahr").AsInteger() != t * 1000) ++failures;
          table.Close();
        }
        TABSTable remover(nullptr);
        remover.SetSessionName(session->SessionName());
        remover.SetDatabaseName("MEMORY");
        remover.SetTableName(name);
        remover.DeleteTable();
        session->SetActive(false);
      } catch (const std::exception& e) {
        ADD_FAILURE() << "thread " << t << ": " << e.what();
        ++failures;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
}

// Two components without a session name on two threads share the default
// session's database component: opening and closing list and count their
// datasets there, under the session lock.
TEST_F(TableTest, TwoThreadsInTheDefaultSessionEachUseTheirOwnTable) {
  constexpr int kThreads = 2;
  constexpr int kRounds = 30;
  for (int t = 0; t < kThreads; ++t) CreatePlanTable("Faden" + std::to_string(t));
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &failures] {
      try {
        for (int round = 0; round < kRounds; ++round) {
          TABSTable table(nullptr);
          table.SetDatabaseName("MEMORY");
          table.SetTableName("Faden" + std::to_string(t));
          table.Open();
          AppendPlanRow(table, 2000 + round, t + 1, 1, 1.0, 2.0, 3.0);
          if (table.RecordCount() != round + 1) ++failures;
          table.Close();
        }
      } catch (const std::exception& e) {
        ADD_FAILURE() << "thread " << t << ": " << e.what();
        ++failures;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
}

// A database component named for a session that did not exist yet stays
// with the default session; a dataset of that session moves it there
// instead of getting a second, temporary component.
TEST_F(TableTest, ADatabaseWaitingInTheDefaultSessionMovesToTheNamedSession) {
  struct Case {
    const char* what;
    bool namedHasOwnComponent;  // the named session has a "MEMORY" component already
    bool moves;
  };
  const std::vector<Case> cases = {
      {"waiting component moves", false, true},
      {"the named session's own component is used", true, false},
  };
  CreatePlanTable("Tilgungsplan");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    platform::TComponent form(nullptr);
    auto* waiting = new TABSDatabase(&form);
    waiting->SetName("PlanDb");
    waiting->SetDatabaseFileName(::testing::TempDir());
    waiting->SetSessionName("Zweite");  // no such session yet
    waiting->SetDatabaseName("MEMORY");
    ASSERT_EQ(waiting->Session(), &Default());
    auto* second = new TABSSession(&form);
    second->SetSessionName("Zweite");
    TABSDatabase* own = nullptr;
    if (c.namedHasOwnComponent) own = &second->AcquireDatabase("MEMORY", nullptr);
    {
      TABSTable table(&form);
      table.SetSessionName("Zweite");
      table.SetDatabaseName("MEMORY");
      table.SetTableName("Tilgungsplan");
      table.Open();
      EXPECT_EQ(table.Database(), c.moves ? waiting : own);
      EXPECT_EQ(waiting->Session(), c.moves ? second : &Default());
      const auto& list = second->DatabaseList();
      EXPECT_EQ(std::find(list.begin(), list.end(), waiting) != list.end(), c.moves);
      const auto& fallback = Default().DatabaseList();
      EXPECT_EQ(std::find(fallback.begin(), fallback.end(), waiting) != fallback.end(), !c.moves);
      EXPECT_EQ(list.size(), 1u) << "no temporary component besides";
      const std::int64_t rows = table.RecordCount();
      AppendPlanRow(table, 2024, 1, 30, 100.0, 1.0, 0.5);
      EXPECT_EQ(table.RecordCount(), rows + 1);
      table.Close();
    }
    if (own != nullptr) second->ReleaseDatabase(*own);
    waiting->SetConnected(false);
    second->SetActive(false);
  }
}

}  // namespace

namespace {

class RowsLink : public platform::TDataLink {
 public:
  explicit RowsLink(int rows) { SetBufferCount(rows); }
  // The "Jahr" values of the rows the link shows.
  std::vector<int> Shown(platform::TDataSet& table) {
    std::vector<int> years;
    for (int row = 0; row < RecordCount(); ++row) {
      // A new record's blank year reads as 0.
      const std::string text = DisplayText(row, table.FieldByName("Jahr"));
      years.push_back(text.empty() ? 0 : std::stoi(text));
    }
    return years;
  }
};

// The "Jahr" values of the last `count` records, read by a fresh component.
std::vector<int> LastYears(const std::string& tableName, int count) {
  TABSTable reader(nullptr);
  reader.SetDatabaseName("MEMORY");
  reader.SetTableName(tableName);
  reader.Open();
  reader.Last();
  std::vector<int> years;
  for (int i = 0; i < count && !reader.Bof(); ++i) {
    years.insert(years.begin(), reader.FieldByName("Jahr").AsInteger());
    reader.Prior();
  }
  return years;
}

}  // namespace

// A shown table keeps the rows above each appended one while nobody else
// changes the table; what another component changes shows at the next append.
TEST_F(TableTest, AppendingShowsWhatAnotherComponentChanged) {
  constexpr int kRows = 7;
  CreatePlanTable("Tilgungsplan");
  TABSTable& shown = NewTable("ABSTable1", "Tilgungsplan");
  TABSTable& other = NewTable("ABSTable2", "Tilgungsplan");
  platform::TDataSource source(nullptr);
  source.SetDataSet(&shown);
  RowsLink link(kRows);
  link.SetDataSource(&source);
  shown.Open();
  other.Open();
  for (int i = 1; i <= 30; ++i) {
    AppendPlanRow(shown, i, 1, 1, 1.0, 2.0, 3.0);
    ASSERT_EQ(link.Shown(shown), LastYears("Tilgungsplan", kRows)) << "row " << i;
  }
  other.Last();
  other.Prior();
  other.Edit();
  other.FieldByName("Jahr").SetAsInteger(9999);
  other.Post();
  AppendPlanRow(shown, 31, 1, 1, 1.0, 2.0, 3.0);
  EXPECT_EQ(link.Shown(shown), LastYears("Tilgungsplan", kRows));
  EXPECT_EQ(link.Shown(shown)[kRows - 3], 9999);

  other.Last();
  other.Prior();
  other.Delete();
  shown.Append();
  std::vector<int> above = link.Shown(shown);
  above.pop_back();
  EXPECT_EQ(above, LastYears("Tilgungsplan", kRows - 1));
  shown.FieldByName("Jahr").SetAsInteger(32);
  shown.Post();
  EXPECT_EQ(link.Shown(shown), LastYears("Tilgungsplan", kRows));
  EXPECT_EQ(shown.RecordCount(), 31);

  // A bracketed load: the field sets still reach the field's OnChange and
  // mark the record modified; the link hears once, at the end.
  int changes = 0;
  shown.FieldByName("Zins").OnChange = [&](platform::TField&) { ++changes; };
  shown.DisableControls();
  shown.Append();
  shown.FieldByName("Zins").SetAsFloat(4.0);
  EXPECT_TRUE(shown.Modified());
  shown.FieldByName("Jahr").SetAsInteger(33);
  shown.Post();
  for (int i = 34; i <= 40; ++i) AppendPlanRow(shown, i, 1, 1, 1.0, 2.0, 3.0);
  EXPECT_EQ(changes, 8);
  shown.EnableControls();
  shown.FieldByName("Zins").OnChange = nullptr;
  EXPECT_EQ(link.Shown(shown), LastYears("Tilgungsplan", kRows));
  EXPECT_EQ(link.Shown(shown).back(), 40);
}
