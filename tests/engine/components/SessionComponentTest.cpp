#include "engine/components/ABSSessionComponent.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "engine/components/ABSDatabaseComponent.h"
#include "engine/local/ABSSession.h"
#include "engine/tables/ABSDatabaseData.h"
#include "engine/tables/ABSDatabaseDataList.h"
#include "platform/os/Exception.h"
#include "platform/os/RankedMutex.h"
#include "tests/engine/MemoryTables.h"
#include "tests/engine/RaisedError.h"

namespace {

// Leaves the default session as it was: inactive, without database components.
class SessionComponentTest : public MemoryTablesTest {
 protected:
  ~SessionComponentTest() override { Default().SetActive(false); }
  static TABSSession& Default() { return *Sessions().DefaultSession(); }
};

template <typename F>
std::string DatabaseErrorOf(F&& f) {
  try {
    f();
  } catch (const platform::EDatabaseError& e) {
    return e.what();
  } catch (const std::exception& e) {
    return std::string("other: ") + e.what();
  }
  return "none";
}

TEST_F(SessionComponentTest, TheDefaultSessionExistsFromStartUp) {
  ASSERT_NE(Sessions().DefaultSession(), nullptr);
  EXPECT_EQ(Default().SessionName(), "Default");
  EXPECT_TRUE(Default().IsDefaultSession());
  EXPECT_FALSE(Default().Active());
  EXPECT_EQ(&Sessions().RequireSession(""), &Default());
  EXPECT_EQ(&Sessions().RequireSession("default"), &Default());
  EXPECT_EQ(NativeErrorOf([] { Sessions().RequireSession("Nirgends"); }), 20002);
}

TEST_F(SessionComponentTest, AcquiringMemoryMakesOneTemporaryDatabaseThatStaysConnected) {
  TABSDatabase& first = Default().AcquireDatabase("MEMORY", nullptr);
  EXPECT_TRUE(first.IsTemporary());
  EXPECT_TRUE(first.Connected());
  EXPECT_EQ(first.OpenCount(), 1);
  EXPECT_TRUE(Default().Active());
  ASSERT_NE(first.EngineSession(), nullptr);
  EXPECT_EQ(first.EngineSession()->SessionId(), 0);
  EXPECT_EQ(first.EngineSession()->DatabaseData(), &Memory());
  EXPECT_EQ(first.CurrentVersion(), "6.07 ");

  TABSDatabase& second = Default().AcquireDatabase("memory", nullptr);
  EXPECT_EQ(&second, &first);
  EXPECT_EQ(first.OpenCount(), 2);
  Default().ReleaseDatabase(first);
  Default().ReleaseDatabase(first);
  EXPECT_EQ(first.OpenCount(), 0);
  EXPECT_TRUE(first.Connected());  // KeepConnections is true by default
  EXPECT_EQ(&Default().AcquireDatabase("MEMORY", nullptr), &first);
  EXPECT_EQ(Default().DatabaseList().size(), 1u);
  Default().ReleaseDatabase(first);
}

TEST_F(SessionComponentTest, WithoutKeepConnectionAReleasedTemporaryDatabaseIsFreed) {
  Default().SetKeepConnections(false);
  TABSDatabase& database = Default().AcquireDatabase("MEMORY", nullptr);
  EXPECT_FALSE(database.KeepConnection());
  EXPECT_EQ(Memory().SessionCount(), 1u);
  Default().ReleaseDatabase(database);
  EXPECT_TRUE(Default().DatabaseList().empty());
  EXPECT_EQ(Memory().SessionCount(), 0u);
  Default().SetKeepConnections(true);
}

TEST_F(SessionComponentTest, AFailedAcquireLeavesNoComponentBehind) {
  EXPECT_EQ(NativeErrorOf([] { Default().AcquireDatabase("Darlehen.abs", nullptr); }), 10482);
  EXPECT_TRUE(Default().DatabaseList().empty());
}

TEST_F(SessionComponentTest, TablesAreFoundThroughTheDatabaseComponent) {
  TABSDatabase& database = Default().AcquireDatabase("MEMORY", nullptr);
  Memory().CreateTableData("Tilgungsplan");
  EXPECT_TRUE(database.TableExistsInDatabase("TILGUNGSPLAN"));
  std::vector<std::string> names;
  database.ListTables(names);
  EXPECT_EQ(names, std::vector<std::string>{"Tilgungsplan"});
  EXPECT_TRUE(database.Connected());  // it was connected before ListTables
  Default().ReleaseDatabase(database);
}

TEST_F(SessionComponentTest, AUserPlacedDatabaseNeedsItsFileAndReplacesAnIdleTemporaryOne) {
  TABSDatabase& temporary = Default().AcquireDatabase("MEMORY", nullptr);
  Default().ReleaseDatabase(temporary);
  auto placed = std::make_unique<TABSDatabase>();
  placed->SetName("MemoryDb");
  placed->SetDatabaseName("MEMORY");  // the idle temporary one gives way
  ASSERT_EQ(Default().DatabaseList().size(), 1u);
  EXPECT_EQ(Default().DatabaseList()[0], placed.get());
  EXPECT_EQ(DatabaseErrorOf([&] { placed->SetConnected(true); }),
            "MemoryDb: Database file '' does not exist");
  EXPECT_FALSE(placed->Connected());

  // With the name of a database in use: refused.
  auto other = std::make_unique<TABSDatabase>();
  other->SetName("Other");
  other->SetDatabaseName("Plan");
  TABSDatabase& inUse = Default().AcquireDatabase("TEMP", nullptr);
  EXPECT_EQ(DatabaseErrorOf([&] { other->SetDatabaseName("temp"); }),
            "Other: Duplicate database name 'temp'");
  Default().ReleaseDatabase(inUse);
}

TEST_F(SessionComponentTest, SessionNamesAreUniqueAndAutomaticNamesCount) {
  auto session = std::make_unique<TABSSession>();
  session->SetName("Sitzung");
  EXPECT_EQ(DatabaseErrorOf([&] { session->SetSessionName("DEFAULT"); }),
            "Sitzung: Duplicate session name 'DEFAULT'");
  session->SetAutoSessionName(true);
  EXPECT_EQ(session->SessionName(), "Sitzung_1");
  EXPECT_EQ(DatabaseErrorOf([&] { session->SetSessionName("x"); }),
            "Sitzung: Cannot modify SessionName while AutoSessionName is enabled");
  auto second = std::make_unique<TABSSession>();
  second->SetName("Zweite");
  second->SetAutoSessionName(true);
  EXPECT_EQ(second->SessionName(), "Zweite_2");
  session.reset();  // gives "_1" back
  auto third = std::make_unique<TABSSession>();
  third->SetName("Dritte");
  third->SetAutoSessionName(true);
  EXPECT_EQ(third->SessionName(), "Dritte_1");
  EXPECT_EQ(&Sessions().RequireSession("dritte_1"), third.get());
}

TEST_F(SessionComponentTest, ActivatingNeedsANameAndActiveSessionsKeepTheirName) {
  auto session = std::make_unique<TABSSession>();
  session->SetName("S");
  EXPECT_EQ(DatabaseErrorOf([&] { session->SetActive(true); }), "S: Session name missing");
  session->SetSessionName("Zweit");
  int startups = 0;
  session->OnStartup = [&](TABSSession&) { ++startups; };
  session->SetActive(true);
  EXPECT_EQ(startups, 1);
  EXPECT_TRUE(Default().Active());  // another session activates the default one first
  EXPECT_EQ(DatabaseErrorOf([&] { session->SetSessionName("Neu"); }),
            "S: Cannot perform this operation on an active session");
  TABSDatabase& database = session->AcquireDatabase("MEMORY", nullptr);
  EXPECT_EQ(database.Session(), session.get());  // a temporary the session owns
  session->SetActive(false);                     // frees its temporary database
  EXPECT_TRUE(session->DatabaseList().empty());
  EXPECT_EQ(Memory().SessionCount(), 0u);
}

TEST_F(SessionComponentTest, TransactionsThroughTheDatabaseComponent) {
  TABSDatabase& database = Default().AcquireDatabase("MEMORY", nullptr);
  EXPECT_FALSE(database.IsInTransaction());
  database.StartDatabaseTransaction();
  EXPECT_TRUE(database.IsInTransaction());
  EXPECT_EQ(DatabaseErrorOf([&] { database.StartDatabaseTransaction(); }),
            "Database is already within a transaction");
  database.CommitDatabaseTransaction();
  EXPECT_FALSE(database.IsInTransaction());
  EXPECT_EQ(NativeErrorOf([&] { database.RollbackDatabaseTransaction(); }), 20229);
  EXPECT_EQ(DatabaseErrorOf([&] { database.CreateDatabaseFile(); }),
            "Cannot perform this operation on an open database");
  Default().ReleaseDatabase(database);
}

TEST_F(SessionComponentTest, CreatingTheDatabasesOfThisProcessIsRefused) {
  for (const char* name : {"MEMORY", "TEMP"}) {
    auto db = std::make_unique<TABSDatabase>();
    db->SetName(std::string("D") + name);
    db->SetDatabaseName(name);
    EXPECT_EQ(NativeErrorOf([&] { db->CreateDatabaseFile(); }), 20092);
    EXPECT_FALSE(db->Connected());
  }
  auto file = std::make_unique<TABSDatabase>();
  file->SetDatabaseName("Darlehen");
  file->SetDatabaseFileName("/tmp/darlehen.abs");
  EXPECT_EQ(NativeErrorOf([&] { file->CreateDatabaseFile(); }), 10482);  // no file databases here
  auto closed = std::make_unique<TABSDatabase>();
  EXPECT_EQ(DatabaseErrorOf([&] { closed->CheckConnected(); }),
            "Cannot perform this operation on a closed database");
  EXPECT_EQ(DatabaseErrorOf([&] { closed->ConnectDatabase(); }), "Database name missing");
}

// Shutting the session list down while the default session is active (as the
// application leaves it) deactivates that session and its database in the
// engine's lock order.
int lockOrderViolations = 0;
void CountViolation(platform::LockRank, platform::LockRank) {
  ++lockOrderViolations;
}

TEST_F(SessionComponentTest, ShuttingDownWithAnActiveDefaultSessionKeepsTheLockOrder) {
  Default().AcquireDatabase("MEMORY", nullptr);
  ASSERT_TRUE(Default().Active());
  ASSERT_EQ(Memory().SessionCount(), 1u);
  lockOrderViolations = 0;
  const auto previous = platform::RankedMutex::SetViolationHandler(&CountViolation);
  StopSessions();
  platform::RankedMutex::SetViolationHandler(previous);
  EXPECT_EQ(lockOrderViolations, 0);
  EXPECT_EQ(Memory().SessionCount(), 0u);
  StartSessions();
}

// The database list of a session is guarded by the session lock: a database
// component made on another thread joins the list only once the lock is free.
TEST_F(SessionComponentTest, RegisteringADatabaseWaitsForTheSessionLock) {
  platform::RankedMutex& lock = Sessions().SessionLock();
  std::atomic<bool> made{false};
  std::unique_ptr<TABSDatabase> database;
  lock.lock();
  std::thread maker([&] {
    database = std::make_unique<TABSDatabase>();
    made = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const bool madeWhileLocked = made.load();
  lock.unlock();
  maker.join();
  EXPECT_FALSE(madeWhileLocked);
  ASSERT_TRUE(made.load());
  EXPECT_EQ(Default().DatabaseList().size(), 1u);
  database.reset();
  EXPECT_TRUE(Default().DatabaseList().empty());
}

// A component that borrowed the engine session of a shared-handle component
// is disconnected when the owner gives that engine session up, instead of
// keeping a pointer to a freed session.
TEST_F(SessionComponentTest, BorrowersOfASharedEngineSessionAreDisconnectedWithTheOwner) {
  const std::string file = ::testing::TempDir();  // any existing path will do
  auto makeShared = [&](const char* name) {
    auto database = std::make_unique<TABSDatabase>();
    database->SetName(name);
    database->HandleShared = true;
    database->SetDatabaseName("MEMORY");
    database->SetDatabaseFileName(file);
    return database;
  };
  for (const bool destroyOwner : {false, true}) {
    SCOPED_TRACE(destroyOwner ? "owner destroyed" : "owner disconnected");
    auto owner = makeShared("Owner");
    auto borrower = makeShared("Borrower");
    owner->SetConnected(true);
    borrower->SetConnected(true);
    ASSERT_TRUE(borrower->HandleBorrowed());
    ASSERT_EQ(borrower->EngineSession(), owner->EngineSession());
    if (destroyOwner) {
      owner.reset();
    } else {
      owner->SetConnected(false);
    }
    EXPECT_FALSE(borrower->Connected());
    EXPECT_FALSE(borrower->HandleBorrowed());
    EXPECT_FALSE(borrower->IsInTransaction());
    EXPECT_EQ(Memory().SessionCount(), 0u);
    // The borrower connects again with an engine session of its own.
    borrower->SetConnected(true);
    EXPECT_FALSE(borrower->HandleBorrowed());
    EXPECT_EQ(Memory().SessionCount(), 1u);
  }
}

}  // namespace
