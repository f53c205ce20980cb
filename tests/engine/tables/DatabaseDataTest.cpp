#include "engine/tables/ABSDatabaseData.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <vector>

#include "engine/tables/ABSDatabaseDataList.h"
#include "engine/tables/ABSStorageSession.h"
#include "engine/tables/ABSTableData.h"
#include "platform/locale/Locale.h"
#include "tests/engine/MemoryTables.h"
#include "tests/engine/RaisedError.h"

namespace {

class FakeSession : public TABSStorageSession {
 public:
  std::int32_t SessionId() const override { return id; }
  void SetSessionId(std::int32_t sessionId) override { id = sessionId; }
  bool InTransaction() const override { return false; }
  void RegisterSequenceValue(std::int32_t, std::int64_t) override {}
  bool FindSequenceValue(std::int32_t, std::int64_t&) const override { return false; }
  bool IsMultiUser() const override { return false; }
  std::int32_t id = -1;
};

using DatabaseDataTest = MemoryTablesTest;

TEST_F(DatabaseDataTest, EngineStartUpRegistersMemoryThenTemp) {
  TABSDatabaseDataList& list = DatabaseDataList();
  EXPECT_EQ(list.Count(), 2u);
  EXPECT_EQ(list.FindByName("MEMORY"), &Memory());
  ASSERT_NE(list.FindByName("TEMP"), nullptr);
  EXPECT_EQ(list.FindByName("memory"), nullptr);  // names of the list are exact
}

TEST_F(DatabaseDataTest, TablesAreFoundByOneNameRuleAndKeepTheirSpelling) {
  EXPECT_FALSE(Memory().TableExists("Tilgungsplan"));
  TABSTableData& plan = Memory().FindOrCreateTableData("Tilgungsplan");
  EXPECT_EQ(&Memory().FindOrCreateTableData("TILGUNGSPLAN"), &plan);
  EXPECT_EQ(plan.TableName(), "Tilgungsplan");
  EXPECT_EQ(Memory().TableCount(), 1u);

  // Exists and find agree for every spelling, also where a collation and
  // upper-casing would disagree.
  Memory().CreateTableData(
      "Stra\xDF"
      "e");  // "Straße" in the engine's 8-bit text
  struct Probe {
    const char* name;
    bool found;
  } probes[] = {{"tilgungsplan", true},
                {"TILGUNGSPLAN", true},
                {"Tilgungs\xADplan", false},
                {"Tilgungs\x01plan", false},
                {"STRASSE", true},
                {"strasse", true},
                {"Strase", false}};
  for (const Probe& p : probes) {
    SCOPED_TRACE(p.name);
    EXPECT_EQ(Memory().TableExists(p.name), p.found);
    EXPECT_EQ(Memory().FindTableData(p.name) != nullptr, p.found);
  }
  EXPECT_EQ(NativeErrorOf([&] { Memory().CreateTableData("STRASSE"); }), 10485);
  std::vector<std::string> names;
  Memory().CollectTableNames(names);
  EXPECT_EQ(names, (std::vector<std::string>{"Tilgungsplan",
                                             "Stra\xDF"
                                             "e"}));
}

TEST_F(DatabaseDataTest, ObjectIdsCountUpAcrossThreadsAndAreNeverReused) {
  std::int32_t first = Memory().NextObjectId();
  EXPECT_EQ(Memory().NextObjectId(), first + 1);
  std::vector<std::vector<std::int32_t>> drawn(4);
  std::vector<std::thread> threads;
  for (auto& mine : drawn) {
    threads.emplace_back([&mine] {
      for (int i = 0; i < 1000; ++i) mine.push_back(MemoryDatabase().NextObjectId());
    });
  }
  for (auto& t : threads) t.join();
  std::set<std::int32_t> all;
  for (const auto& mine : drawn) all.insert(mine.begin(), mine.end());
  EXPECT_EQ(all.size(), 4000u);
  EXPECT_EQ(*all.begin(), first + 2);
  EXPECT_EQ(*all.rbegin(), first + 4001);
}

TEST_F(DatabaseDataTest, SessionsGetIdZeroAndTablesSurviveTheLastDetach) {
  FakeSession a, b;
  Memory().AddSession(a);
  Memory().AddSession(b);
  EXPECT_EQ(a.id, 0);
  EXPECT_EQ(b.id, 0);
  EXPECT_EQ(Memory().SessionCount(), 2u);
  Memory().CreateTableData("Kept");
  Memory().RemoveSession(a);
  Memory().RemoveSession(b);
  Memory().RemoveSession(b);  // not there any more: nothing
  EXPECT_EQ(Memory().SessionCount(), 0u);
  EXPECT_TRUE(Memory().FreeIfUnused());
  EXPECT_TRUE(Memory().TableExists("kept"));
}

TEST_F(DatabaseDataTest, FreeTableDataRemovesOnlyThatTable) {
  TABSTableData& one = Memory().CreateTableData("One");
  Memory().CreateTableData("Two");
  Memory().FreeTableData(one);
  EXPECT_FALSE(Memory().TableExists("One"));
  EXPECT_TRUE(Memory().TableExists("Two"));
}

TEST(DatabaseDataLifetime, DestroyingADatabaseWithTablesAndCursorsDoesNotRaise) {
  auto database = std::make_unique<TABSMemoryDatabaseData>();
  database->CreateTableData("A");
  database->CreateTableData("B");
  EXPECT_NO_THROW(database.reset());
}

}  // namespace
