// "TEMP" through the table component: a TABSTable with Temporary set
// creates, fills and reads a table of the temporary database, and an engine
// started without options makes "TEMP" the temporary database.
#include <gtest/gtest.h>

#include <vector>

#include "engine/components/ABSEngineComponents.h"
#include "engine/components/ABSSessionComponent.h"
#include "engine/local/ABSEngine.h"
#include "engine/tables/ABSDatabaseDataList.h"
#include "engine/temporary/ABSTemporaryDatabaseData.h"
#include "engine/temporary/ABSTemporaryRecordManager.h"
#include "engine/temporary/ABSTemporaryTableData.h"
#include "tests/engine/components/TableFixture.h"
#include "tests/engine/temporary/TemporaryTestSupport.h"

namespace {

class TemporaryTableComponentTest : public TableComponentTest {
 protected:
  ~TemporaryTableComponentTest() override {
    FreeForm();
    // Tables a failed case left behind in "TEMP".
    TABSDatabaseData& temp = *DatabaseDataList().FindByName("TEMP");
    std::vector<std::string> names;
    temp.CollectTableNames(names);
    for (const std::string& name : names) temp.FreeTableData(*temp.FindTableData(name));
  }

  static TABSDatabaseData& Temp() { return *DatabaseDataList().FindByName("TEMP"); }

  // A table component on the form for the temporary table `tableName`.
  TABSTable& NewTemporaryTable(const std::string& name, const std::string& tableName) {
    TABSTable& table = NewTable(name, tableName);
    table.SetTemporary(true);
    return table;
  }

  TTemporarySeams seams_;
};

// The plan rows of the test: Jahr falls as the row number grows, so that the
// order of an index on Jahr is the reverse of the order of appending.
int JahrOf(int row) {
  return 2100 - row;
}

TEST_F(TemporaryTableComponentTest, CreatesAppendsAndReadsBack) {
  const int n = 40;
  for (const bool indexed : {false, true}) {
    SCOPED_TRACE(indexed);
    TemporaryLimitsForTesting().RecordLimit = 5;  // rows 5 and later go to the record file
    TABSTable& creator = NewTemporaryTable("ABSTable1", "Plan");
    EXPECT_EQ(creator.DatabaseName(), "TEMP");
    for (const char* name : {"Jahr", "Monat", "Tag"}) {
      creator.FieldDefs().Add(name, platform::ftInteger);
    }
    for (const char* name : {"Darlehen", "Tilgung", "Zins"}) {
      creator.FieldDefs().Add(name, platform::ftCurrency);
    }
    if (indexed) creator.IndexDefs().Add("NachJahr", "Jahr");
    creator.CreateTable();
    TemporaryLimitsForTesting().RecordLimit = -1;
    ASSERT_TRUE(creator.Exists());
    EXPECT_NE(dynamic_cast<TABSTemporaryTableData*>(Temp().FindTableData("Plan")), nullptr);

    creator.Open();
    for (int row = 0; row < n; ++row) {
      AppendPlanRow(creator, JahrOf(row), row % 12 + 1, row % 28 + 1, 1000.0 * row, 10.5 * row,
                    0.25 * row);
    }
    creator.Close();
    auto* data = dynamic_cast<TABSTemporaryTableData*>(Temp().FindTableData("Plan"));
    ASSERT_NE(data, nullptr);
    EXPECT_NE(data->TemporaryRecords()->RecordFile(), nullptr) << "rows beyond the limit in a file";

    TABSTable& reader = NewTemporaryTable("ABSTable2", "Plan");
    if (indexed) reader.SetIndexName("NachJahr");
    reader.Open();
    EXPECT_EQ(reader.RecordCount(), n);
    // The row that comes k-th (0-based) in the reader's order.
    const auto rowAt = [&](int k) { return indexed ? n - 1 - k : k; };
    std::vector<int> forward, expectedForward;
    for (reader.First(); !reader.Eof(); reader.Next()) {
      forward.push_back(reader.FieldByName("Jahr").AsInteger());
    }
    for (int k = 0; k < n; ++k) expectedForward.push_back(JahrOf(rowAt(k)));
    EXPECT_EQ(forward, expectedForward);
    std::vector<int> backward;
    for (reader.Last(); !reader.Bof(); reader.Prior()) {
      backward.push_back(reader.FieldByName("Jahr").AsInteger());
    }
    EXPECT_EQ(backward, std::vector<int>(expectedForward.rbegin(), expectedForward.rend()));
    for (const int number : {1, 5, 6, 23, n}) {
      reader.SetRecNo(number);
      EXPECT_EQ(reader.RecNo(), number);
      const int row = rowAt(number - 1);
      EXPECT_EQ(reader.FieldByName("Jahr").AsInteger(), JahrOf(row)) << number;
      EXPECT_EQ(reader.FieldByName("Tilgung").AsFloat(), 10.5 * row) << number;
    }
    reader.Close();
    delete &reader;
    creator.DeleteTable();
    EXPECT_EQ(Temp().FindTableData("Plan"), nullptr);
    delete &creator;
  }
}

// A TABSEngine started without options has the temporary database as
// "TEMP"; the test main's engine is stopped for the check and restarted
// as it was.
TEST(TemporaryEngineTest, TheEngineComponentsStartTheTemporaryDatabase) {
  StopSessions();
  EngineShutDown();
  {
    TABSEngine engine;
    TABSDatabaseData* temp = DatabaseDataList().FindByName("TEMP");
    ASSERT_NE(temp, nullptr);
    EXPECT_NE(dynamic_cast<TABSTemporaryDatabaseData*>(temp), nullptr);
    EXPECT_NE(dynamic_cast<TABSTemporaryTableData*>(&temp->CreateTableData("X")), nullptr);
  }
  EngineStartUp({.MakeTemporaryDatabase = MakeTemporaryDatabaseData});
  StartSessions();
}

}  // namespace
