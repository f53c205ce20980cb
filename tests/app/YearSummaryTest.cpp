// The yearly summary against the plan's rows and the window's labels, and
// the effective annual rate.
#include <gtest/gtest.h>

#include <QLabel>
#include <QTableWidget>
#include <map>

#include "app/MainForm.h"
#include "app/YearSummary.h"
#include "app/YearSummaryDialog.h"
#include "platform/locale/Locale.h"
#include "tests/app/PlanDataSet.h"

using namespace tilgung;
using namespace tilgung::test;

TEST(YearSummary, SumsOfEachYearAreTheSumsOfItsRows) {
  const struct {
    int frequency;
    const char* term;
    int day;
  } cases[] = {{0, "10 Jahre", 15}, {1, "5 Jahre", 31}, {3, "30 Jahre", 1}, {2, "0", 28}};
  for (const auto& c : cases) {
    TPlanInputs in = DefaultInputs2027();
    in.frequencyIndex = c.frequency;
    in.termText = c.term;
    in.startDate = platform::EncodeDate(2027, 3, c.day);
    auto ds = PlanDataSet(in);
    // The expectation straight from the records, by year.
    std::map<int, TYearSummaryRow> want;
    for (ds->First(); !ds->Eof(); ds->Next()) {
      TYearSummaryRow& y = want[ds->FieldByName("Jahr").AsInteger()];
      y.repayment += ds->FieldByName("Tilgung").AsFloat();
      y.interest += ds->FieldByName("Zins").AsFloat();
      ++y.instalments;
      y.remainingDebt = ds->FieldByName("Darlehen").AsFloat();
    }
    const TYearSummary summary = SummarizeByYear(ReadPlanSheet(*ds));
    ASSERT_EQ(summary.years.size(), want.size()) << c.term;
    int rows = 0;
    for (const TYearSummaryRow& y : summary.years) {
      const TYearSummaryRow& w = want.at(y.year);
      EXPECT_NEAR(y.repayment, w.repayment, 1e-9) << y.year;
      EXPECT_NEAR(y.interest, w.interest, 1e-9) << y.year;
      EXPECT_EQ(y.instalments, w.instalments) << y.year;
      EXPECT_EQ(y.remainingDebt, w.remainingDebt) << y.year;
      rows += y.instalments;
    }
    EXPECT_EQ(summary.total.instalments, ds->RecordCount());
    EXPECT_EQ(rows, ds->RecordCount());
  }
}

// The last remaining debt is the window's "Restschuld", the totals its sums.
TEST(YearSummary, TotalsAgreeWithTheWindowsResultLabels) {
  TForm1 f;
  f.DateTimePicker1->setDate(QDate(2027, 1, 15));
  ASSERT_TRUE(f.LastResult().ok);
  TPlanResult result;
  auto ds = PlanDataSet(f.ReadInputs(), &result);
  const TYearSummary summary = SummarizeByYear(ReadPlanSheet(*ds));
  const platform::FormatSettings& fs = platform::FormatSettings::User();
  EXPECT_EQ(QString::fromStdString(fs.FormatCurrency(summary.total.remainingDebt, 10, 2)),
            f.Label19->text());
  EXPECT_EQ(QString::fromStdString(fs.FormatCurrency(summary.total.interest, 10, 2)),
            f.Label20->text());
  EXPECT_EQ(QString::fromStdString(fs.FormatCurrency(summary.total.repayment, 10, 2)),
            f.Label21->text());
  EXPECT_EQ(summary.years.front().year, 2027);
  EXPECT_EQ(summary.years.front().instalments, 11);  // February to December
  EXPECT_EQ(summary.years.back().year, 2037);
  EXPECT_EQ(summary.years.back().instalments, 2);
}

TEST(YearSummary, EffectiveRateCompoundsTheNominalRate) {
  const struct {
    double nominal;
    int periods;
    double effective;
  } cases[] = {{4, 12, 4.074154}, {4, 4, 4.060401}, {4, 2, 4.04},
               {4, 1, 4.0},       {0, 12, 0.0},     {12, 12, 12.682503}};
  for (const auto& c : cases) {
    EXPECT_NEAR(EffectiveAnnualRate(c.nominal, c.periods), c.effective, 1e-6)
        << c.nominal << " / " << c.periods;
  }
  EXPECT_EQ(EffectiveRateText(4, 12), QStringLiteral("4,07 %"));
}

TEST(YearSummary, TheDialogShowsEveryYearATotalAndTheEffectiveRate) {
  auto ds = PlanDataSet(DefaultInputs2027());
  const TYearSummary summary = SummarizeByYear(ReadPlanSheet(*ds));
  TYearSummaryDialog dialog(summary, true, 4, 12);
  QTableWidget* table = dialog.Table();
  ASSERT_EQ(table->rowCount(), 12);  // 2027 to 2037 and the totals
  EXPECT_EQ(table->item(0, 0)->text(), QStringLiteral("2027"));
  EXPECT_EQ(table->item(11, 0)->text(), QStringLiteral("Summe"));
  EXPECT_EQ(table->item(11, 3)->text(), QStringLiteral("121"));
  EXPECT_TRUE(dialog.EffectiveRateLabel()->text().endsWith(QStringLiteral("4,07 %")));
  TYearSummaryDialog unknown(summary, false, 0, 12);
  EXPECT_FALSE(unknown.EffectiveRateLabel()->text().contains(QLatin1Char('%')));
}
