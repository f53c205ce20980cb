#include "app/PlanCalculation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/locale/Locale.h"
#include "platform/os/DateTime.h"

using namespace tilgung;

namespace {

const std::string kNbsp = "\u00A0";

// Records every call through the seam, and can fail on request.
struct RecordingSink : TPlanRowSink {
  std::vector<std::string> calls;
  std::vector<TPlanRow> rows;
  bool failPrepare = false;
  int failAtPost = -1;  // index of the post that throws

  void PrepareTable() override {
    calls.push_back("prepare");
    if (failPrepare) throw std::runtime_error("table cannot be created");
    rows.clear();
  }
  void PostRow(const TPlanRow& row) override {
    if (static_cast<int>(rows.size()) == failAtPost) throw std::runtime_error("post refused");
    calls.push_back("post");
    rows.push_back(row);
  }
};

TPlanInputs Inputs(int y, int m, int d) {
  TPlanInputs in;
  in.startDate = platform::EncodeDate(y, m, d);
  return in;
}

// The panel's texts, each as the label would show it after a run that starts
// from blank labels ("-" for a text the run leaves alone).
std::string Shown(const std::optional<std::string>& text) {
  return text.value_or("-");
}

}  // namespace

TEST(PlanCalculation, DefaultInputsGiveTheKnownPlan) {
  RecordingSink sink;
  const TPlanResult r = RecalculatePlan(Inputs(2027, 1, 15), sink);
  ASSERT_TRUE(r.ok) << r.errorMessage;
  const TPlanPanelTexts& labels = r.panel;
  EXPECT_EQ(Shown(labels.instalment), "75,00" + kNbsp + "€");
  ASSERT_EQ(sink.rows.size(), 121u);
  EXPECT_EQ(r.rowCount, 121);
  const TPlanRow& first = sink.rows.front();
  EXPECT_EQ(first.Jahr, 2027);
  EXPECT_EQ(first.Monat, 2);
  EXPECT_EQ(first.Tag, 15);
  EXPECT_NEAR(first.Darlehen, 9958.33, 0.005);
  EXPECT_NEAR(first.Tilgung, 41.67, 0.005);
  EXPECT_NEAR(first.Zins, 33.33, 0.005);
  // The last row lies one month after the end date 15.01.2037.
  EXPECT_EQ(sink.rows.back().Jahr, 2037);
  EXPECT_EQ(sink.rows.back().Monat, 2);
  EXPECT_EQ(Shown(labels.startDate), "15.01.2027");
  EXPECT_EQ(Shown(labels.lastDueDate), "15.02.2037");
  EXPECT_FALSE(labels.rate.has_value());

  // Totals agree with the rows and with each other.
  double interest = 0, repaid = 0;
  for (const TPlanRow& row : sink.rows) {
    interest += row.Zins;
    repaid += row.Tilgung;
  }
  EXPECT_NEAR(r.interestSum, interest, 1e-6);
  EXPECT_NEAR(r.repaymentTotal, repaid, 1e-6);
  EXPECT_DOUBLE_EQ(r.balance, sink.rows.back().Darlehen);
  const auto& fs = platform::FormatSettings::User();
  EXPECT_EQ(Shown(labels.remainingDebt), fs.FormatCurrency(r.balance, 10, 2));
  EXPECT_EQ(Shown(labels.interestSum), fs.FormatCurrency(interest, 10, 2));
  EXPECT_EQ(Shown(labels.repaymentSum), fs.FormatCurrency(10000 - r.balance, 10, 2));
  EXPECT_EQ(Shown(labels.grandTotal), fs.FormatCurrency(10000 + interest, 10, 2));
}

TEST(PlanCalculation, StepsRunInOrderThroughTheSeam) {
  RecordingSink sink;
  TPlanInputs in = Inputs(2027, 1, 15);
  in.termText = "1";
  const TPlanResult r = RecalculatePlan(in, sink);
  ASSERT_TRUE(r.ok);
  // One preparation, then one post per row.
  ASSERT_EQ(sink.calls.size(), 14u);
  EXPECT_EQ(sink.calls.front(), "prepare");
  for (std::size_t i = 1; i < sink.calls.size(); ++i) EXPECT_EQ(sink.calls[i], "post");
  // Every text but the error path's rate is set.
  EXPECT_TRUE(r.panel.instalment && r.panel.startDate && r.panel.lastDueDate &&
              r.panel.remainingDebt && r.panel.interestSum && r.panel.repaymentSum &&
              r.panel.grandTotal);
  EXPECT_FALSE(r.panel.rate);
}

TEST(PlanCalculation, YearlyThirtyYearsEndsWithTheFinalSmallerInstalment) {
  RecordingSink sink;
  TPlanInputs in = Inputs(2027, 1, 15);
  in.frequencyIndex = 3;
  in.termText = "30 Jahre";
  const TPlanResult r = RecalculatePlan(in, sink);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(Shown(r.panel.instalment), "900,00" + kNbsp + "€");
  ASSERT_EQ(sink.rows.size(), 15u);
  const TPlanRow& last = sink.rows.back();
  EXPECT_EQ(last.Jahr, 2042);
  EXPECT_NEAR(last.Tilgung + last.Zins, 888.21, 0.005);
  EXPECT_NEAR(last.Tilgung, 854.04, 0.005);
  EXPECT_NEAR(last.Zins, 34.16, 0.005);
  EXPECT_NEAR(last.Darlehen, 0, 1e-9);
  for (std::size_t i = 0; i + 1 < sink.rows.size(); ++i) {
    EXPECT_NEAR(sink.rows[i].Tilgung + sink.rows[i].Zins, 900, 1e-9);
  }
  EXPECT_EQ(Shown(r.panel.lastDueDate), "15.01.2042");
}

TEST(PlanCalculation, FrequenciesStepTheMonthAndWrapTheYear) {
  struct Case {
    int frequency;
    int startMonth;
    std::vector<std::pair<int, int>> firstDates;  // (year, month)
    std::size_t rows;
  };
  const Case cases[] = {
      {0, 12, {{2028, 1}, {2028, 2}}, 13},
      {1, 11, {{2028, 2}, {2028, 5}, {2028, 8}, {2028, 11}, {2029, 2}}, 5},
      {2, 12, {{2028, 6}, {2028, 12}, {2029, 6}}, 3},
      {3, 7, {{2028, 7}, {2029, 7}}, 2},
      {-1, 12, {{2028, 1}, {2028, 2}}, 13},  // no item selected counts as monthly
  };
  for (const Case& c : cases) {
    RecordingSink sink;
    TPlanInputs in = Inputs(2027, c.startMonth, 10);
    in.frequencyIndex = c.frequency;
    in.termText = "1";
    in.repaymentText = "0";
    const TPlanResult r = RecalculatePlan(in, sink);
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(sink.rows.size(), c.rows) << "frequency " << c.frequency;
    for (std::size_t i = 0; i < c.firstDates.size(); ++i) {
      EXPECT_EQ(sink.rows[i].Jahr, c.firstDates[i].first) << "frequency " << c.frequency;
      EXPECT_EQ(sink.rows[i].Monat, c.firstDates[i].second) << "frequency " << c.frequency;
    }
    // Interest only: the balance never falls, the interest part is constant.
    const int periods = PeriodsPerYear(c.frequency < 0 ? 0 : c.frequency);
    EXPECT_DOUBLE_EQ(sink.rows.back().Darlehen, 10000);
    EXPECT_DOUBLE_EQ(sink.rows.back().Zins, 4.0 / 100 * 10000 / periods);
  }
}

TEST(PlanCalculation, DayThirtyOneKeepsTheDayAndTestsWithDay28) {
  RecordingSink sink;
  TPlanInputs in = Inputs(2027, 1, 31);
  in.termText = "1";
  const TPlanResult r = RecalculatePlan(in, sink);
  ASSERT_TRUE(r.ok);
  ASSERT_EQ(sink.rows.size(), 13u);
  for (const TPlanRow& row : sink.rows) EXPECT_EQ(row.Tag, 31);
  EXPECT_EQ(sink.rows[1].Monat, 3);
  // The last row is February 2028: the loop test (and Label17) uses the 28th.
  EXPECT_EQ(sink.rows.back().Monat, 2);
  EXPECT_EQ(Shown(r.panel.lastDueDate), "28.02.2028");
}

TEST(PlanCalculation, ZeroRatesEmptyTheTableAndShowTheEndDate) {
  RecordingSink sink;
  sink.rows.push_back({});  // rows of an earlier run
  TPlanInputs in = Inputs(2027, 1, 15);
  in.rateText = "0";
  in.repaymentText = "0";
  const TPlanResult r = RecalculatePlan(in, sink);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(sink.calls, std::vector<std::string>{"prepare"});
  EXPECT_TRUE(sink.rows.empty());
  const TPlanPanelTexts& labels = r.panel;
  EXPECT_EQ(Shown(labels.instalment), "0,00" + kNbsp + "€");
  EXPECT_EQ(Shown(labels.lastDueDate), "15.01.2037");
  EXPECT_EQ(Shown(labels.remainingDebt), "10.000,00" + kNbsp + "€");
  EXPECT_EQ(Shown(labels.grandTotal), "10.000,00" + kNbsp + "€");
  EXPECT_EQ(Shown(labels.interestSum), "0,00" + kNbsp + "€");
  EXPECT_EQ(Shown(labels.repaymentSum), "0,00" + kNbsp + "€");
}

TEST(PlanCalculation, SmallAmountsWriteNoRow) {
  for (const char* amount : {"0,1", "0,05", "0", "-0", "-500"}) {
    RecordingSink sink;
    TPlanInputs in = Inputs(2027, 1, 15);
    in.amountText = amount;
    const TPlanResult r = RecalculatePlan(in, sink);
    ASSERT_TRUE(r.ok) << amount;
    EXPECT_TRUE(sink.rows.empty()) << amount;
    EXPECT_EQ(Shown(r.panel.lastDueDate), "15.01.2037") << amount;
  }
  // Just above the threshold: the first instalment brings it below.
  RecordingSink sink;
  TPlanInputs in = Inputs(2027, 1, 15);
  in.amountText = "0,1000001";
  ASSERT_TRUE(RecalculatePlan(in, sink).ok);
  EXPECT_EQ(sink.rows.size(), 1u);
}

TEST(PlanCalculation, TermTextUsesItsFirstTwoCharacters) {
  struct Case {
    const char* text;
    int years;
    std::size_t rows;  // with repayment 0 the debt is never paid off
  };
  const Case cases[] = {
      {"7", 7, 85},       {"100", 10, 121}, {"5 Jahre", 5, 61}, {" 9", 9, 109},
      {"99", 99, 1189},   {"-5", -5, 1},    {"0", 0, 1},        {"8 Jahre und mehr", 8, 97},
      {"-9 Jahre", -9, 1}};
  for (const Case& c : cases) {
    RecordingSink sink;
    TPlanInputs in = Inputs(2027, 1, 15);
    in.termText = c.text;
    in.repaymentText = "0";
    const TPlanResult r = RecalculatePlan(in, sink);
    ASSERT_TRUE(r.ok) << c.text;
    EXPECT_EQ(r.termYears, c.years) << c.text;
    EXPECT_EQ(sink.rows.size(), c.rows) << c.text;
  }
  for (const char* text : {"x", "", "Jahre", "1x", "--", "ä5"}) {
    RecordingSink sink;
    TPlanInputs in = Inputs(2027, 1, 15);
    in.termText = text;
    const TPlanResult r = RecalculatePlan(in, sink);
    EXPECT_FALSE(r.ok) << text;
    EXPECT_EQ(r.failedStep, TPlanStep::Term) << text;
    EXPECT_TRUE(sink.calls.empty()) << text;  // the table is not touched
  }
}

TEST(PlanCalculation, LeapDayIntoACommonYearFailsBeforeTheTable) {
  RecordingSink sink;
  TPlanInputs in = Inputs(2028, 2, 29);
  in.termText = "5 Jahre";
  const TPlanResult r = RecalculatePlan(in, sink);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.failedStep, TPlanStep::EndDate);
  EXPECT_TRUE(sink.calls.empty());
  // The instalment was set before the failure.
  EXPECT_EQ(r.panel.instalment, "75,00" + kNbsp + "€");

  in.termText = "4 Jahre";  // 2032 is a leap year
  EXPECT_TRUE(RecalculatePlan(in, sink).ok);
}

TEST(PlanCalculation, ErrorPathWritesTheRawTextsInOrder) {
  RecordingSink sink;
  TPlanInputs in = Inputs(2027, 1, 15);
  in.amountText = "";
  in.rateText = "4,5x";
  const TPlanResult r = RecalculatePlan(in, sink);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.failedStep, TPlanStep::Amount);
  EXPECT_FALSE(r.instalmentComputed);
  TPlanPanelTexts expected;
  expected.startDate = "15.01.2027";
  expected.lastDueDate = "0";
  expected.rate = "4,5x";
  expected.repaymentSum = "";
  expected.interestSum = "";
  expected.remainingDebt = "0";
  expected.grandTotal = "";
  EXPECT_EQ(r.panel, expected);

  in.amountText = "10.000";  // group separators are not accepted
  in.rateText = "4";
  const TPlanResult grouped = RecalculatePlan(in, sink);
  EXPECT_FALSE(grouped.ok);
  EXPECT_EQ(Shown(grouped.panel.repaymentSum), "10.000");

  in.amountText = "10000";
  in.repaymentText = "5.5";  // a point where the locale has a comma
  const TPlanResult point = RecalculatePlan(in, sink);
  EXPECT_FALSE(point.ok);
  EXPECT_EQ(point.failedStep, TPlanStep::Repayment);
  EXPECT_FALSE(point.panel.instalment);  // no instalment text
}

TEST(PlanCalculation, SinkFailuresTakeTheErrorPathWithTheRowsSoFar) {
  RecordingSink failing;
  failing.failPrepare = true;
  TPlanResult r = RecalculatePlan(Inputs(2027, 1, 15), failing);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.failedStep, TPlanStep::Table);
  EXPECT_EQ(r.errorMessage, "table cannot be created");
  EXPECT_EQ(Shown(r.panel.lastDueDate), "0");

  RecordingSink midway;
  midway.failAtPost = 3;
  r = RecalculatePlan(Inputs(2027, 1, 15), midway);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.failedStep, TPlanStep::Rows);
  EXPECT_EQ(midway.rows.size(), 3u);
  EXPECT_EQ(Shown(r.panel.remainingDebt), "0");
}

TEST(PlanCalculation, DueDatesBeyondTheLastYearEndInTheErrorPath) {
  RecordingSink sink;
  TPlanInputs in = Inputs(9989, 12, 15);
  in.termText = "10";
  in.repaymentText = "0";
  const TPlanResult r = RecalculatePlan(in, sink);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.failedStep, TPlanStep::Rows);
  EXPECT_EQ(sink.rows.size(), 121u);  // the row of January 10000 was already posted
}

// Any text in any input ends in a plan or the error path, always writes the
// result labels and stays within the row bound.
TEST(PlanCalculation, AnyInputTextEndsWithinTheRowBound) {
  std::vector<std::string> texts = {"",      " ",    "NaN",    "nan",    "inf",    "-inf",
                                    "1e400", "-0",   "1e308",  "-1e308", "1e-320", "4,5e2",
                                    "\t3\n", "\x01", "10.000", "1,5,5",  "+7",     "$1F",
                                    "0x10",  "€",    "7 €",    "  12  ", "1e",     ","};
  texts.push_back(std::string(1000000, '9'));
  texts.push_back(std::string(1000000, ' ') + "5");
  for (int term = -99; term <= 99; ++term) texts.push_back(std::to_string(term));

  TPlanRowVector sink;
  int runs = 0;
  auto check = [&](const TPlanInputs& in) {
    const TPlanResult r = RecalculatePlan(in, sink);
    ++runs;
    ASSERT_LE(sink.rows.size(), static_cast<std::size_t>(kMaxPlanRows));
    const TPlanPanelTexts& p = r.panel;
    for (const std::optional<std::string>* text :
         {&p.startDate, &p.lastDueDate, &p.remainingDebt, &p.interestSum, &p.repaymentSum,
          &p.grandTotal}) {
      ASSERT_TRUE(text->has_value());
    }
    ASSERT_EQ(p.rate.has_value(), !r.ok);
  };
  for (const std::string& text : texts) {
    for (int field = 0; field < 4; ++field) {
      TPlanInputs in = Inputs(2027, 1, 31);
      in.repaymentText = "0";  // keep the debt so the date alone ends the loop
      (field == 0   ? in.amountText
       : field == 1 ? in.rateText
       : field == 2 ? in.repaymentText
                    : in.termText) = text;
      check(in);
    }
  }
  EXPECT_EQ(runs, static_cast<int>(texts.size()) * 4);

  // The longest plan there is.
  TPlanInputs longest = Inputs(2027, 1, 15);
  longest.repaymentText = "0";
  longest.termText = "99";
  EXPECT_TRUE(RecalculatePlan(longest, sink).ok);
  EXPECT_EQ(sink.rows.size(), static_cast<std::size_t>(kMaxPlanRows));
}

// Amounts beyond the range of doubles fail the run instead of showing
// infinite or undefined money as a plan.
TEST(PlanCalculation, ArithmeticOverflowTakesTheErrorPath) {
  RecordingSink sink;
  TPlanInputs in = Inputs(2027, 1, 15);
  in.amountText = "1e308";
  in.rateText = "1e10";
  TPlanResult r = RecalculatePlan(in, sink);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.failedStep, TPlanStep::Arithmetic);
  EXPECT_FALSE(r.panel.instalment);  // no infinite instalment shown
  EXPECT_TRUE(sink.calls.empty());

  // The interest sum outgrows the range after some rows.
  in.amountText = "1e306";
  in.rateText = "1000";
  in.repaymentText = "0";
  in.frequencyIndex = 3;
  in.termText = "30";
  r = RecalculatePlan(in, sink);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.failedStep, TPlanStep::Arithmetic);
  EXPECT_EQ(sink.rows.size(), 17u);
  for (const TPlanRow& row : sink.rows) EXPECT_TRUE(std::isfinite(row.Zins));
}
