// The plan until the loan is repaid: its fixed period is the main plan, its
// extras and end rules hold in hand-computed cases, the solver's answer is the
// smallest that clears, and bad input names the input.
#include "app/FullRepaymentPlan.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "platform/locale/Locale.h"
#include "platform/os/DateTime.h"

using namespace tilgung;

namespace {

std::uint64_t Bits(double value) {
  return std::bit_cast<std::uint64_t>(value);
}

TFullRepaymentInputs Inputs(const char* amount, const char* rate, const char* repayment,
                            int frequency, const char* term, int y, int m, int d) {
  TFullRepaymentInputs in;
  in.plan.amountText = amount;
  in.plan.rateText = rate;
  in.plan.repaymentText = repayment;
  in.plan.frequencyIndex = frequency;
  in.plan.termText = term;
  in.plan.startDate = platform::EncodeDate(y, m, d);
  return in;
}

platform::TDateTime Date(int y, int m, int d) {
  return platform::EncodeDate(y, m, d);
}

}  // namespace

// With no extras and the same rate the fixed period is the main plan to the
// last bit, and the plan goes on until the balance is 0.1 or below.
TEST(FullRepaymentPlan, FixedPeriodIsTheMainPlanBitForBit) {
  const platform::FormatSettings& fs = platform::FormatSettings::User();
  std::mt19937 random(2027);
  auto uniform = [&](int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(random);
  };
  for (int run = 0; run < 300; ++run) {
    TFullRepaymentInputs in;
    in.plan.amountText = fs.FormatFloat(uniform(1, 50000000) / 100.0);
    in.plan.rateText = fs.FormatFloat(uniform(0, 1200) / 100.0);
    in.plan.repaymentText = fs.FormatFloat(uniform(0, 1500) / 100.0);
    in.plan.frequencyIndex = uniform(0, 3);
    in.plan.termText = std::to_string(uniform(1, 40)) + " Jahre";
    const int year = uniform(1990, 2060), month = uniform(1, 12);
    in.plan.startDate = Date(year, month, uniform(1, platform::DaysInMonth(year, month)));
    if (run % 3 == 0) in.yearlyMonthText = "";  // blank inputs mean no extras too
    SCOPED_TRACE(in.plan.amountText + " " + in.plan.rateText + " " + in.plan.repaymentText + " " +
                 in.plan.termText + " f" + std::to_string(in.plan.frequencyIndex) + " " +
                 fs.FormatShortDate(in.plan.startDate));

    TPlanRowVector main;
    const TPlanResult plan = RecalculatePlan(in.plan, main);
    TFullRepaymentRowVector full;
    const TFullRepaymentResult r = CalculateFullRepayment(in, full);
    if (!plan.ok) {  // a leap day that the term moves into a common year
      EXPECT_FALSE(r.ok);
      continue;
    }
    ASSERT_TRUE(r.ok) << r.errorMessage;
    ASSERT_EQ(r.fixedRowCount, plan.rowCount);
    ASSERT_GE(full.rows.size(), main.rows.size());
    for (std::size_t i = 0; i < main.rows.size(); ++i) {
      const TPlanRow& e = main.rows[i];
      const TFullRepaymentRow& a = full.rows[i];
      ASSERT_EQ(a.Nr, static_cast<int>(i) + 1);
      ASSERT_EQ(std::vector<int>({e.Jahr, e.Monat, e.Tag}),
                std::vector<int>({a.Jahr, a.Monat, a.Tag}))
          << "row " << i;
      ASSERT_EQ(Bits(e.Darlehen), Bits(a.Darlehen)) << "row " << i;
      ASSERT_EQ(Bits(e.Tilgung), Bits(a.Tilgung)) << "row " << i;
      ASSERT_EQ(Bits(e.Zins), Bits(a.Zins)) << "row " << i;
      ASSERT_EQ(a.Sondertilgung, 0);
    }
    EXPECT_EQ(Bits(r.fixedPeriodDebt), Bits(plan.balance));
    EXPECT_EQ(r.rowCount, static_cast<int>(full.rows.size()));
    // Only the last row, if any, is at or below 0.1, and only a cleared plan
    // ends there; the others end with their message.
    for (std::size_t i = 0; i + 1 < full.rows.size(); ++i) ASSERT_GT(full.rows[i].Darlehen, 0.1);
    EXPECT_EQ(r.end == TFullRepaymentEnd::Cleared, r.balance <= 0.1);
    EXPECT_EQ(r.endMessage.empty(), r.end == TFullRepaymentEnd::Cleared);
    EXPECT_EQ(r.interestSaved,
              r.end == TFullRepaymentEnd::Cleared ? std::optional<double>(0) : std::nullopt);
    EXPECT_LE(r.rowCount, 100 * PeriodsPerYear(in.plan.frequencyIndex));
  }
}

// Hand-computed plans. Monthly 12000 at 6 % + 6 %: instalment 120, the first
// row pays 60 interest and 60 repayment. Yearly 10000 at 5 % + 5 %:
// instalment 1000, the first row 500 and 500.
TEST(FullRepaymentPlan, HandComputedPlans) {
  struct Row {
    int index;
    int jahr, monat;
    double zins, tilgung, sonder, darlehen;
  };
  struct Case {
    const char* name;
    TFullRepaymentInputs in;
    std::function<void(TFullRepaymentInputs&)> extras;
    std::vector<Row> rows;
    struct {
      int rowCount;  // -1: not checked
      TFullRepaymentEnd end;
      double extraSum, heldBack;  // -1: not checked
    } totals;
  };
  using E = TFullRepaymentEnd;
  const TFullRepaymentInputs monthly = Inputs("12000", "6", "6", 0, "10 Jahre", 2027, 1, 15);
  const TFullRepaymentInputs yearly = Inputs("10000", "5", "5", 3, "1", 2027, 1, 15);
  std::vector<Case> cases = {
      {"yearly extra in March, paid at the first due date on or after 1 March",
       monthly,
       [](TFullRepaymentInputs& in) {
         in.yearlyAmountText = "500";
         in.yearlyMonthText = "3";
       },
       {{0, 2027, 2, 60, 60, 0, 11940},
        {1, 2027, 3, 59.7, 60.3, 500, 11379.7},
        {2, 2027, 4, 56.8985, 63.1015, 0, 11316.5985}},
       {-1, E::Cleared, -1, 0}},
      {"yearly extra from a later year",
       monthly,
       [](TFullRepaymentInputs& in) {
         in.yearlyAmountText = "500";
         in.yearlyMonthText = "2";
         in.yearlyFromText = "2028";
       },
       {{0, 2027, 2, 60, 60, 0, 11940},
        {11, 2028, 1, -1, -1, 0, -1},
        {12, 2028, 2, -1, -1, 500, -1}},
       {-1, E::Cleared, -1, 0}},
      {"one-off between two due dates and one on a due date",
       monthly,
       [](TFullRepaymentInputs& in) {
         in.oneOffs = {{Date(2027, 3, 15), "100"}, {Date(2027, 2, 16), "1000"}};
       },
       {{0, 2027, 2, 60, 60, 0, 11940}, {1, 2027, 3, 59.7, 60.3, 1100, 10779.7}},
       {-1, E::Cleared, 1100, 0}},
      {"cap of 5 % cuts the second extra of the year and resets in the next",
       monthly,
       [](TFullRepaymentInputs& in) {
         in.yearlyAmountText = "500";
         in.yearlyMonthText = "3";
         in.capText = "5";
         in.oneOffs = {{Date(2027, 2, 20), "300"}, {Date(2027, 4, 20), "300"}};
       },
       {{1, 2027, 3, 59.7, 60.3, 600, 11279.7},
        {3, 2027, 5, -1, -1, 0, -1},
        {13, 2028, 3, -1, -1, 500, -1}},
       {-1, E::Cleared, -1, 500}},
      {"an extra beyond the balance clears it and ends the plan",
       Inputs("1000", "5", "5", 3, "10", 2027, 1, 15),
       [](TFullRepaymentInputs& in) {
         in.oneOffs = {{Date(2027, 6, 1), "5000"}};
       },
       {{0, 2028, 1, 50, 50, 950, 0}},
       {1, E::Cleared, 950, 0}},
      {"higher rate after the fixed period",
       yearly,
       [](TFullRepaymentInputs& in) { in.followRateText = "8"; },
       {{0, 2028, 1, 500, 500, 0, 9500},
        {1, 2029, 1, 475, 525, 0, 8975},
        {2, 2030, 1, 718, 282, 0, 8693}},
       {-1, E::Cleared, 0, 0}},
      {"instalment not covering the new interest: no row after the fixed period",
       yearly,
       [](TFullRepaymentInputs& in) { in.followRateText = "11,15"; },  // 1000,71 interest
       {{1, 2029, 1, 475, 525, 0, 8975}},
       {2, E::NotCovered, 0, 0}},
  };
  // How plans without extras end: only the row count and the end are given.
  const struct {
    const char *name, *amount, *rate, *repayment;
    int frequency;
    const char* term;
    int rowCount;
    E end;
  } ends[] = {
      {"instalment of 0: no row at all", "10000", "0", "0", 0, "10", 0, E::NotCovered},
      {"an amount of 0.1: no row, no message", "0,1", "5", "5", 0, "10", 0, E::Cleared},
      {"100-year limit", "10000", "5", "0,01", 0, "10", 1200, E::YearLimit},
      {"100-year limit before the cover test", "10000", "5", "0", 3, "99", 100, E::YearLimit},
  };
  for (const auto& e : ends) {
    cases.push_back({e.name,
                     Inputs(e.amount, e.rate, e.repayment, e.frequency, e.term, 2027, 1, 15),
                     nullptr,
                     {},
                     {e.rowCount, e.end, 0, 0}});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TFullRepaymentInputs in = c.in;
    if (c.extras) c.extras(in);
    TFullRepaymentRowVector sink;
    const TFullRepaymentResult r = CalculateFullRepayment(in, sink);
    ASSERT_TRUE(r.ok) << r.errorMessage;
    for (const Row& e : c.rows) {
      ASSERT_LT(e.index, static_cast<int>(sink.rows.size()));
      const TFullRepaymentRow& a = sink.rows[e.index];
      EXPECT_EQ(a.Jahr, e.jahr) << "row " << e.index;
      EXPECT_EQ(a.Monat, e.monat) << "row " << e.index;
      if (e.zins >= 0) {
        EXPECT_NEAR(a.Zins, e.zins, 1e-9) << "row " << e.index;
      }
      if (e.tilgung >= 0) {
        EXPECT_NEAR(a.Tilgung, e.tilgung, 1e-9) << "row " << e.index;
      }
      EXPECT_NEAR(a.Sondertilgung, e.sonder, 1e-9) << "row " << e.index;
      if (e.darlehen >= 0) {
        EXPECT_NEAR(a.Darlehen, e.darlehen, 1e-9) << "row " << e.index;
      }
      EXPECT_EQ(Bits(a.Rate), Bits(a.Zins + a.Tilgung));
    }
    if (c.totals.rowCount >= 0) {
      EXPECT_EQ(r.rowCount, c.totals.rowCount);
    }
    EXPECT_EQ(r.rowCount, static_cast<int>(sink.rows.size()));
    EXPECT_EQ(r.end, c.totals.end);
    EXPECT_EQ(r.endMessage, c.totals.end == TFullRepaymentEnd::YearLimit    ? kYearLimitMessage
                            : c.totals.end == TFullRepaymentEnd::NotCovered ? kNotCoveredMessage
                                                                            : "");
    if (c.totals.extraSum >= 0) {
      EXPECT_NEAR(r.extraSum, c.totals.extraSum, 1e-9);
    }
    EXPECT_NEAR(r.heldBack, c.totals.heldBack, 1e-9);

    // What every case obeys: the sums are the rows', a plan is debt-free
    // exactly when cleared, and extras save what the plan without them costs
    // more.
    double interest = 0, extras = 0;
    for (const TFullRepaymentRow& row : sink.rows) {
      interest += row.Zins;
      extras += row.Sondertilgung;
      EXPECT_GE(row.Sondertilgung, 0);
      EXPECT_GE(row.Darlehen, -1e-6);
    }
    EXPECT_NEAR(r.interestSum, interest, 1e-6);
    EXPECT_NEAR(r.extraSum, extras, 1e-6);
    EXPECT_EQ(r.debtFreeDate.has_value(), r.end == TFullRepaymentEnd::Cleared);
    TFullRepaymentInputs plainInputs = in;
    plainInputs.yearlyAmountText.clear();
    plainInputs.oneOffs.clear();
    TFullRepaymentRowVector plainRows;
    const TFullRepaymentResult plain = CalculateFullRepayment(plainInputs, plainRows);
    if (r.debtFreeDate && plain.debtFreeDate) {
      ASSERT_TRUE(r.interestSaved && r.monthsSaved);
      EXPECT_NEAR(*r.interestSaved, plain.interestSum - r.interestSum, 1e-9);
      EXPECT_EQ(*r.monthsSaved, plain.termMonths - r.termMonths);
      EXPECT_GE(*r.monthsSaved, 0);
      if (r.extraSum > 0) {
        EXPECT_GT(*r.interestSaved, 0);
      }
    }
  }
}

TEST(FullRepaymentPlan, DebtFreeDateAndTerm) {
  // Monthly 1000 at 0 % + 120 %: 100 a month, ten rows; day 31 falls on
  // month ends.
  TFullRepaymentRowVector sink;
  TFullRepaymentResult r =
      CalculateFullRepayment(Inputs("1000", "0", "120", 0, "10", 2027, 1, 31), sink);
  ASSERT_TRUE(r.ok);
  ASSERT_EQ(r.rowCount, 10);
  EXPECT_EQ(r.debtFreeDate, Date(2027, 11, 30));
  EXPECT_EQ(r.termMonths, 10);
  EXPECT_EQ(MonthsBetween(Date(2027, 1, 31), Date(2027, 2, 28)), 1);
  EXPECT_EQ(MonthsBetween(Date(2027, 1, 15), Date(2028, 1, 14)), 11);
  EXPECT_EQ(DueDate(2028, 2, 31), Date(2028, 2, 29));

  // A due date on a month's last day takes the extras of that day; the next
  // due date those of the day after.
  TFullRepaymentInputs in = Inputs("1000", "0", "12", 0, "10", 2027, 1, 31);
  in.oneOffs = {{Date(2027, 2, 28), "10"}, {Date(2027, 3, 1), "20"}};
  r = CalculateFullRepayment(in, sink);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(sink.rows[0].Sondertilgung, 10);  // due 28.02.2027
  EXPECT_EQ(sink.rows[1].Sondertilgung, 20);  // due 31.03.2027
  EXPECT_EQ(r.monthsSaved, 3);                // 100 months instead of 97 (30 repaid at once)
}

TEST(FullRepaymentPlan, SolverFindsTheSmallestClearingRepayment) {
  struct Case {
    TFullRepaymentInputs in;
    const char* yearly;
    const char* cap;
  };
  const Case cases[] = {
      {Inputs("200000", "3,5", "2", 0, "10 Jahre", 2027, 3, 31), "", ""},
      {Inputs("200000", "3,5", "2", 0, "10 Jahre", 2027, 3, 31), "5000", "2"},
      {Inputs("85000", "0", "2", 1, "5", 2026, 12, 1), "", ""},
      {Inputs("85000", "9,75", "2", 3, "25", 2026, 12, 1), "1000", ""},
      {Inputs("5000", "4", "2", 2, "1", 2026, 6, 15), "10000", ""},  // extras alone clear it
  };
  for (const Case& c : cases) {
    TFullRepaymentInputs in = c.in;
    in.yearlyAmountText = c.yearly;
    in.capText = c.cap;
    SCOPED_TRACE(in.plan.amountText + " " + in.plan.rateText + " " + c.yearly);
    const TClearingRepayment answer = SolveClearingRepayment(in);
    ASSERT_TRUE(answer.ok && answer.found) << answer.errorMessage;
    EXPECT_LE(answer.calculations, 50);
    auto fixedDebt = [&](std::int64_t hundredths) {
      TFullRepaymentInputs probe = in;
      probe.plan.repaymentText =
          platform::FormatSettings::User().FormatFloat(static_cast<double>(hundredths) / 100);
      TFullRepaymentRowVector sink;
      const TFullRepaymentResult r = CalculateFullRepayment(probe, sink);
      EXPECT_TRUE(r.ok);
      return r.fixedPeriodDebt;
    };
    in.plan.repaymentText = answer.text;
    TFullRepaymentRowVector sink;
    EXPECT_LE(CalculateFullRepayment(in, sink).fixedPeriodDebt, 0.1);
    EXPECT_LE(fixedDebt(answer.hundredths), 0.1);
    if (answer.hundredths > 0) {
      EXPECT_GT(fixedDebt(answer.hundredths - 1), 0.1);
    }
  }
  TFullRepaymentInputs bad = Inputs("x", "4", "2", 0, "10", 2027, 1, 1);
  EXPECT_FALSE(SolveClearingRepayment(bad).ok);
  bad.plan.amountText = "1000";
  bad.plan.repaymentText = "kein Wert";  // the solver does not read it
  EXPECT_TRUE(SolveClearingRepayment(bad).found);
}

TEST(FullRepaymentPlan, BadInputNamesTheInputAndLeavesNoRows) {
  struct Case {
    std::function<void(TFullRepaymentInputs&)> change;
    TFullRepaymentField field;
    const char* named;  // the message contains it
  };
  const std::vector<Case> cases = {
      {[](auto& in) { in.plan.amountText = "10.000"; }, TFullRepaymentField::Amount,
       "Darlehensbetrag \"10.000\""},
      {[](auto& in) { in.plan.termText = "Jahre"; }, TFullRepaymentField::Term, "Zinsbindung"},
      {[](auto& in) { in.followRateText = "4%"; }, TFullRepaymentField::FollowRate,
       "Anschlusszins \"4%\""},
      {[](auto& in) { in.yearlyAmountText = "-1"; }, TFullRepaymentField::YearlyAmount, "negativ"},
      {[](auto& in) { in.yearlyMonthText = "13"; }, TFullRepaymentField::YearlyMonth, "Monat"},
      {[](auto& in) {
         in.yearlyAmountText = "100";
         in.yearlyMonthText = " ";
       },
       TFullRepaymentField::YearlyMonth, "Monat"},
      {[](auto& in) { in.yearlyFromText = "2027,5"; }, TFullRepaymentField::YearlyFrom, "Jahr"},
      {[](auto& in) { in.capText = "-0,5"; }, TFullRepaymentField::Cap, "negativ"},
      {[](auto& in) {
         in.oneOffs = {{Date(2028, 1, 1), "1"}, {Date(2028, 1, 1), "eins"}};
       },
       TFullRepaymentField::OneOff, "Einmalige Sondertilgung 2 \"eins\""},
      {[](auto& in) {
         in.oneOffs.assign(kMaxOneOffExtras + 1, {Date(2028, 1, 1), "1"});
       },
       TFullRepaymentField::OneOffCount, "höchstens 50"},
      {[](auto& in) {
         in.plan.amountText = "1e300";
         in.yearlyAmountText = "1e308";
         in.oneOffs = {{Date(2027, 1, 20), "1e308"}, {Date(2027, 1, 21), "1e308"}};
       },
       TFullRepaymentField::Arithmetic, "Zahlenbereich"},
      {[](auto& in) {
         in.plan.startDate = Date(9990, 1, 1);
         in.plan.termText = "5";
         in.plan.repaymentText = "0,1";
       },
       TFullRepaymentField::Dates, "Datum"},
  };
  for (const Case& c : cases) {
    TFullRepaymentInputs in = Inputs("10000", "4", "5", 0, "10 Jahre", 2027, 1, 15);
    c.change(in);
    TFullRepaymentRowVector sink;
    sink.rows.resize(3);  // an earlier run's rows
    const TFullRepaymentResult r = CalculateFullRepayment(in, sink);
    SCOPED_TRACE(c.named);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.failedField, c.field);
    EXPECT_NE(r.errorMessage.find(c.named), std::string::npos) << r.errorMessage;
    EXPECT_TRUE(sink.rows.empty());
    if (c.field == TFullRepaymentField::OneOff) {
      EXPECT_EQ(r.failedOneOff, 1);
    }
  }

  // One-offs on or before the start date are ignored, and said so.
  TFullRepaymentInputs in = Inputs("10000", "4", "5", 0, "10 Jahre", 2027, 1, 15);
  in.oneOffs = {{Date(2027, 1, 15), "500"}, {Date(2027, 1, 16), "500"}};
  TFullRepaymentRowVector sink;
  const TFullRepaymentResult r = CalculateFullRepayment(in, sink);
  ASSERT_TRUE(r.ok);
  ASSERT_EQ(r.notices.size(), 1u);
  EXPECT_NE(r.notices[0].find("Einmalige Sondertilgung 1 am 15.01.2027"), std::string::npos);
  EXPECT_EQ(r.extraSum, 500);
}
