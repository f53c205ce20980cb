#include "engine/local/ABSSession.h"

#include <gtest/gtest.h>

#include "engine/local/ABSEngine.h"
#include "engine/tables/ABSDatabaseData.h"
#include "engine/tables/ABSDatabaseDataList.h"
#include "engine/temporary/ABSTemporaryDatabaseData.h"
#include "tests/engine/MemoryTables.h"
#include "tests/engine/RaisedError.h"

namespace {

using SessionTest = MemoryTablesTest;

std::unique_ptr<TABSLocalSession> NewSession(const char* databaseName) {
  auto session = std::make_unique<TABSLocalSession>();
  session->DatabaseName = databaseName;
  return session;
}

TEST_F(SessionTest, SessionsOfMemoryShareOneDatabase) {
  auto one = NewSession("MEMORY");
  auto two = NewSession("MEMORY");
  EXPECT_EQ(one->SessionId(), -1);
  EXPECT_FALSE(one->IsAttached());
  one->SetAttached(true);
  two->SetAttached(true);
  EXPECT_EQ(one->SessionId(), 0);
  EXPECT_EQ(one->DatabaseData(), &Memory());
  EXPECT_EQ(two->DatabaseData(), &Memory());
  EXPECT_EQ(Memory().SessionCount(), 2u);

  Memory().CreateTableData("Tilgungsplan");
  EXPECT_TRUE(two->HasTable("tilgungsplan"));
  std::vector<std::string> names;
  two->ListTableNames(names);
  EXPECT_EQ(names, std::vector<std::string>{"Tilgungsplan"});

  one->SetAttached(false);
  two->SetAttached(false);
  EXPECT_EQ(Memory().SessionCount(), 0u);
  auto later = NewSession("MEMORY");
  later->SetAttached(true);
  EXPECT_TRUE(later->HasTable("Tilgungsplan"));
  later->SetAttached(false);
}

TEST_F(SessionTest, AskingBeforeAttachingDoesNotHalfAttach) {
  auto session = NewSession("MEMORY");
  EXPECT_FALSE(session->HasTable("Nothing"));
  std::vector<std::string> names;
  session->ListTableNames(names);
  EXPECT_FALSE(session->IsAttached());
  session->SetAttached(true);
  EXPECT_TRUE(session->IsRegistered());
  EXPECT_EQ(session->SessionId(), 0);
  EXPECT_EQ(Memory().SessionCount(), 1u);
  session->SetAttached(false);
  // Still refers to MEMORY, which is never freed; attaching again registers again.
  EXPECT_TRUE(session->IsAttached());
  session->SetAttached(true);
  EXPECT_EQ(Memory().SessionCount(), 1u);
}

TEST_F(SessionTest, AFreedSessionLeavesNoDanglingRegistration) {
  {
    auto session = NewSession("MEMORY");
    session->SetAttached(true);
    EXPECT_EQ(Memory().SessionCount(), 1u);
  }
  EXPECT_EQ(Memory().SessionCount(), 0u);
}

TEST_F(SessionTest, OnlyMemoryAndTempExistAndOnlyInTheirExactSpelling) {
  auto temp = NewSession("TEMP");
  temp->SetAttached(true);
  EXPECT_EQ(temp->DatabaseData(), DatabaseDataList().FindByName("TEMP"));
  temp->SetAttached(false);

  for (const char* name : {"memory", "Temp", "Darlehen", ""}) {
    SCOPED_TRACE(name);
    auto session = NewSession(name);
    EXPECT_EQ(NativeErrorOf([&] { session->SetAttached(true); }), 10482);
    EXPECT_FALSE(session->IsAttached());
    EXPECT_EQ(NativeErrorOf([&] { session->HasTable("x"); }), 10482);
    EXPECT_EQ(NativeErrorOf([&] { session->CreateNewDatabase(); }), 10482);
  }
  EXPECT_EQ(DatabaseDataList().Count(), 2u);  // nothing was added on the way
  EXPECT_EQ(NativeErrorOf([] { NewSession("MEMORY")->CreateNewDatabase(); }), 20092);
  EXPECT_EQ(NativeErrorOf([] { NewSession("TEMP")->CreateNewDatabase(); }), 20092);
}

TEST_F(SessionTest, TransactionsNeedToBeOpenToEnd) {
  auto session = NewSession("MEMORY");
  session->SetAttached(true);
  EXPECT_EQ(NativeErrorOf([&] { session->CommitWork(false); }), 20229);
  EXPECT_EQ(NativeErrorOf([&] { session->RollbackWork(); }), 20229);
  session->EnterTransaction();
  EXPECT_TRUE(session->InTransaction());
  session->CommitWork(false);
  EXPECT_FALSE(session->InTransaction());
  session->EnterTransaction();
  Memory().CreateTableData("Rows");
  session->RollbackWork();
  EXPECT_FALSE(session->InTransaction());
  EXPECT_TRUE(session->HasTable("Rows"));  // a rollback keeps what was done in memory
  session->SetAttached(false);
}

TEST(SessionNamedObjects, OneObjectPerIdentifierAndNamesIgnoreCase) {
  TABSLocalSession session;
  session.RegisterNamedObject(std::make_unique<TABSSessionNamedObject>(7, "first"));
  session.RegisterNamedObject(std::make_unique<TABSSessionNamedObject>(7, "second"));
  ASSERT_EQ(session.NamedObjectCount(), 1u);
  EXPECT_EQ(session.FindNamedObjectById(7)->Name(), "second");

  session.RegisterNamedObject(std::make_unique<TABSSessionNamedObject>(-1, "STRASSE"));
  session.RegisterNamedObject(std::make_unique<TABSSessionNamedObject>(-1,
                                                                       "stra\xDF"
                                                                       "e"));
  EXPECT_EQ(session.NamedObjectCount(), 2u);  // the same name by the engine rule
  ASSERT_NE(session.FindNamedObjectByName("Strasse"), nullptr);
  EXPECT_EQ(session.FindNamedObjectByName(""), nullptr);  // id-only objects have no name

  // A sequence value is looked up only among sequence values.
  std::int64_t value = 0;
  EXPECT_FALSE(session.FindSequenceValue(7, value));
  session.RegisterSequenceValue(7, 41);
  session.RegisterSequenceValue(7, 42);
  EXPECT_TRUE(session.FindSequenceValue(7, value));
  EXPECT_EQ(value, 42);
  EXPECT_EQ(session.NamedObjectCount(), 2u);
  session.RemoveNamedObject(7);
  EXPECT_FALSE(session.FindSequenceValue(7, value));
}

TEST(EngineLifetime, StartsOnceAndRestarts) {
  ASSERT_TRUE(EngineStarted());
  EXPECT_EQ(NativeErrorOf([] { EngineStartUp(); }), 10487);
  // The test main holds a TABSEngine: "TEMP" is the temporary database.
  EXPECT_NE(dynamic_cast<TABSTemporaryDatabaseData*>(DatabaseDataList().FindByName("TEMP")),
            nullptr);
  EngineShutDown();
  EXPECT_FALSE(EngineStarted());
  EXPECT_EQ(NativeErrorOf([] { DatabaseDataList(); }), 10483);
  EngineShutDown();  // twice is harmless

  // Started without a factory for "TEMP", the engine registers a stand-in
  // whose tables cannot be created: a clear error, not a memory table.
  EngineStartUp();
  TABSDatabaseData* temp = DatabaseDataList().FindByName("TEMP");
  ASSERT_NE(temp, nullptr);
  EXPECT_EQ(dynamic_cast<TABSTemporaryDatabaseData*>(temp), nullptr);
  EXPECT_EQ(NativeErrorOf([&] { temp->CreateTableData("T"); }), 10486);
  EXPECT_EQ(temp->NextObjectId(), 1);
  EngineShutDown();

  // The rest of the run gets the engine back as the test main started it.
  EngineStartUp({.MakeTemporaryDatabase = MakeTemporaryDatabaseData});
  EXPECT_TRUE(EngineStarted());
  EXPECT_EQ(MemoryDatabase().TableCount(), 0u);
}

}  // namespace
