// The dialog "Bis zur Volltilgung" offscreen: typing recalculates into the
// engine table the grid shows, invalid input is marked and shows the typed
// text with no plan, the main window's inputs are followed, and the solver's
// answer goes into the main window.
#include "app/FullRepaymentDialog.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QChart>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include "app/FullRepaymentSheet.h"
#include "app/FullRepaymentTable.h"
#include "app/MainForm.h"
#include "app/PlanChartDialog.h"
#include "app/YearSummary.h"
#include "engine/components/ABSTable.h"
#include "platform/qt/TDBGrid.h"

using namespace tilgung;

namespace {

// The table holds exactly what the calculation gives for the dialog's inputs.
void ExpectTableIsTheCalculation(TFullRepaymentDialog& d) {
  TFullRepaymentRowVector expected;
  ASSERT_TRUE(CalculateFullRepayment(d.ReadInputs(nullptr), expected).ok);
  EXPECT_EQ(ReadFullRepaymentRows(d.Table()), expected.rows);
  ASSERT_FALSE(expected.rows.empty());
  QCoreApplication::processEvents();
  const auto shown = d.Grid()->VisibleCellTexts();
  ASSERT_FALSE(shown.empty());
  EXPECT_EQ(shown[0][0], QStringLiteral("1"));
}

}  // namespace

TEST(FullRepaymentDialog, TypingFollowingAndInvalidInput) {
  TForm1 f;
  f.DateTimePicker1->setDate(QDate(2027, 1, 15));
  TFullRepaymentDialog d(f);
  d.show();
  ExpectTableIsTheCalculation(d);
  const int withoutExtras = d.Table().RecordCount();
  EXPECT_EQ(d.Table().TableName(), kFullRepaymentTableName);

  // Own inputs: each keystroke is one calculation.
  const int before = d.RecalculationCount();
  QTest::keyClicks(d.YearlyAmountEdit(), "500");
  EXPECT_EQ(d.RecalculationCount(), before + 3);
  d.OneOffsEdit()->setPlainText(QStringLiteral("01.06.2030 2000"));
  ExpectTableIsTheCalculation(d);
  EXPECT_LT(d.Table().RecordCount(), withoutExtras);
  EXPECT_TRUE(d.LastResult().ok);
  EXPECT_TRUE(d.ResultsLabel()->text().contains(QStringLiteral("Ersparte Monate")));

  // Invalid inputs: marked, the typed text instead of results, no rows.
  struct Case {
    QLineEdit* edit;
    const char* text;
  };
  for (const Case& c : {Case{d.CapEdit(), "5x"}, Case{d.YearlyMonthEdit(), "13"},
                        Case{d.FollowRateEdit(), "vier"}}) {
    const QString good = c.edit->text();
    c.edit->setText(QString::fromUtf8(c.text));
    EXPECT_TRUE(c.edit->property("invalid").toBool()) << c.text;
    EXPECT_TRUE(d.ResultsLabel()->text().contains(QStringLiteral("\"%1\"").arg(c.text)))
        << d.ResultsLabel()->text().toStdString();
    EXPECT_EQ(d.Table().RecordCount(), 0) << c.text;
    EXPECT_FALSE(d.ApplyButton()->isEnabled());
    c.edit->setText(good);
    EXPECT_FALSE(c.edit->property("invalid").toBool()) << c.text;
    ExpectTableIsTheCalculation(d);
  }
  d.OneOffsEdit()->setPlainText(QStringLiteral("01.06.2030 2000\nmorgen viel"));
  EXPECT_TRUE(d.OneOffsEdit()->property("invalid").toBool());
  EXPECT_TRUE(d.ResultsLabel()->text().contains(QStringLiteral("Zeile 2 \"morgen viel\"")));
  EXPECT_EQ(d.Table().RecordCount(), 0);
  d.OneOffsEdit()->clear();

  // The main window's inputs: a new amount is a new plan here too, and a bad
  // one shows its text here as well.
  f.Edit1->setText(QStringLiteral("20000"));
  ExpectTableIsTheCalculation(d);
  EXPECT_EQ(ReadFullRepaymentRows(d.Table()).front().Zins, 20000 * 0.04 / 12);
  f.Edit1->setText(QStringLiteral("20.000"));
  EXPECT_TRUE(d.ResultsLabel()->text().contains(QStringLiteral("\"20.000\"")));
  EXPECT_EQ(d.Table().RecordCount(), 0);
  f.Edit1->setText(QStringLiteral("20000"));

  // The answer of the solver goes into the main window and clears the loan
  // within the fixed period.
  ASSERT_TRUE(d.ApplyButton()->isEnabled());
  QTest::mouseClick(d.ApplyButton(), Qt::LeftButton);
  EXPECT_NE(f.Edit4->text(), QStringLiteral("5"));
  EXPECT_LE(d.LastResult().fixedPeriodDebt, 0.1);
  EXPECT_EQ(d.LastResult().fixedRowCount, d.LastResult().rowCount);
}

TEST(FullRepaymentDialog, CtrlTOpensTheOneDialogWhichCatchesUpWhenShownAgain) {
  TForm1 f;
  f.DateTimePicker1->setDate(QDate(2027, 1, 15));
  f.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
  EXPECT_EQ(FindFullRepaymentDialog(f), nullptr);
  QAction* entry = nullptr;
  for (QAction* a : f.DBGrid1->actions()) {
    if (a->text() == QStringLiteral("Bis zur Volltilgung…")) entry = a;
  }
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_T));
  entry->trigger();
  TFullRepaymentDialog* d = FindFullRepaymentDialog(f);
  ASSERT_NE(d, nullptr);
  EXPECT_TRUE(d->isVisible());
  EXPECT_FALSE(d->isModal());
  entry->trigger();
  EXPECT_EQ(FindFullRepaymentDialog(f), d);

  // Hidden, it waits; shown again, it has the main window's latest inputs.
  d->hide();
  const int runs = d->RecalculationCount();
  f.Edit1->setText(QStringLiteral("30000"));
  f.Edit1->setText(QStringLiteral("40000"));
  EXPECT_EQ(d->RecalculationCount(), runs);
  entry->trigger();
  EXPECT_EQ(d->RecalculationCount(), runs + 1);
  EXPECT_EQ(d->LastResult().initialAmount, 40000);
}

// The actions' sheet is the table: its rows, the extras column summing to
// the results' extras, and the comparison plan without extras for the chart.
TEST(FullRepaymentDialog, ActionsReadTheTable) {
  TForm1 f;
  f.DateTimePicker1->setDate(QDate(2027, 1, 15));
  TFullRepaymentDialog d(f);
  d.show();
  d.YearlyAmountEdit()->setText(QStringLiteral("1000"));
  ASSERT_TRUE(d.LastResult().ok);
  const TPlanSheet sheet = ReadFullRepaymentSheet(d.Table(), d.ReadInputs(nullptr));
  EXPECT_EQ(sheet.RowCount(), d.Table().RecordCount());
  const TYearSummary summary = SummarizeByYear(sheet);
  EXPECT_TRUE(summary.hasExtras);
  EXPECT_NEAR(summary.total.extras, d.LastResult().extraSum, 0.005);
  EXPECT_GT(sheet.withoutExtras.size(), sheet.values.size());
  TPlanChartDialog chart(sheet);
  EXPECT_EQ(chart.DebtChart()->series().size(), 2);
}
