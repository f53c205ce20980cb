// The plan until the loan is repaid in the engine: the table holds exactly
// the calculation's rows, is created once with its key on Nr, and a failed
// run leaves it empty.
#include "app/FullRepaymentTable.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <vector>

#include "app/PlanTable.h"
#include "engine/components/ABSTable.h"
#include "platform/os/DateTime.h"

using namespace tilgung;

namespace {

TFullRepaymentInputs Inputs(int frequency, const char* term, const char* repayment) {
  TFullRepaymentInputs in;
  in.plan.frequencyIndex = frequency;
  in.plan.termText = term;
  in.plan.repaymentText = repayment;
  in.plan.startDate = platform::EncodeDate(2027, 1, 31);
  return in;
}

std::vector<std::uint64_t> Bits(const TFullRepaymentRow& row) {
  auto b = [](double v) { return std::bit_cast<std::uint64_t>(v); };
  return {static_cast<std::uint64_t>(row.Nr),
          static_cast<std::uint64_t>(row.Jahr),
          static_cast<std::uint64_t>(row.Monat),
          static_cast<std::uint64_t>(row.Tag),
          b(row.Darlehen),
          b(row.Tilgung),
          b(row.Sondertilgung),
          b(row.Zins),
          b(row.Rate)};
}

}  // namespace

TEST(FullRepaymentTable, TheTableEqualsTheCalculationRowByRow) {
  {
    TABSTable drop(nullptr);
    drop.SetDatabaseName(kPlanDatabaseName);
    drop.SetTableName(kFullRepaymentTableName);
    if (drop.Exists()) drop.DeleteTable();
  }
  TABSTable table(nullptr);
  ConfigurePlanComponent(table);
  TFullRepaymentTableSink sink(table);
  std::vector<TFullRepaymentInputs> cases;
  for (int frequency = 0; frequency < 4; ++frequency) {
    TFullRepaymentInputs in = Inputs(frequency, "10", "2");
    in.followRateText = "6,5";
    in.yearlyAmountText = "750";
    in.yearlyMonthText = "2";
    in.capText = "5";
    in.oneOffs = {{platform::EncodeDate(2030, 2, 28), "400"}};
    cases.push_back(in);
  }
  cases.push_back(Inputs(0, "10", "0,01"));  // the longest plan: 1 200 rows
  cases.push_back(Inputs(3, "5", "2"));      // shorter than the one before
  for (const TFullRepaymentInputs& in : cases) {
    TFullRepaymentRowVector expected;
    ASSERT_TRUE(CalculateFullRepayment(in, expected).ok);
    const TFullRepaymentResult r = CalculateFullRepayment(in, sink);
    ASSERT_TRUE(r.ok) << r.errorMessage;
    const std::vector<TFullRepaymentRow> stored = ReadFullRepaymentRows(table);
    ASSERT_EQ(stored.size(), expected.rows.size());
    for (std::size_t i = 0; i < stored.size(); ++i) {
      ASSERT_EQ(Bits(stored[i]), Bits(expected.rows[i])) << "row " << i;
    }
  }
  EXPECT_EQ(table.TableName(), kFullRepaymentTableName);

  // The key on Nr is the table's primary key and refuses a second row 1.
  ASSERT_EQ(table.Cursor()->ConstraintDefs->DefCount(), 1);
  EXPECT_EQ((*table.Cursor()->ConstraintDefs)[0]->Name(), "C_PK$Nr");
  table.Append();
  table.FieldByName("Nr").SetAsInteger(1);
  EXPECT_THROW(table.Post(), std::exception);

  // A failed run (a bad input, with a record still pending) leaves no rows.
  TFullRepaymentInputs bad = Inputs(0, "10", "2");
  bad.capText = "viel";
  EXPECT_FALSE(CalculateFullRepayment(bad, sink).ok);
  EXPECT_TRUE(table.Active());
  EXPECT_EQ(table.RecordCount(), 0);
}
