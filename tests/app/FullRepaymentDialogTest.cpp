// The dialog "Bis zur Volltilgung" offscreen: typing recalculates into the
// engine table the grid shows, invalid input is marked and shows the typed
// text with no plan, the main window's inputs are followed, and the solver's
// answer goes into the main window.
#include "app/FullRepaymentDialog.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QChart>
#include <QClipboard>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include "app/FullRepaymentSheet.h"
#include "app/FullRepaymentTable.h"
#include "app/MainForm.h"
#include "app/PlanActions.h"
#include "app/PlanChartDialog.h"
#include "app/PlanExport.h"
#include "app/YearSummary.h"
#include "app/YearSummaryDialog.h"
#include "engine/components/ABSTable.h"
#include "platform/locale/Locale.h"
#include "platform/qt/TDBGrid.h"
#include "tests/app/ModalWindow.h"

using namespace tilgung;
using namespace tilgung::test;

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

// The column titles of the yearly summary that `step` opens, "|" after each.
QString SummaryTitlesOf(const std::function<void()>& step) {
  QString titles;
  CloseModalOf(step, [&](QWidget* modal) {
    if (auto* summary = qobject_cast<TYearSummaryDialog*>(modal)) {
      for (int c = 0; c < summary->Table()->columnCount(); ++c) {
        titles += summary->Table()->horizontalHeaderItem(c)->text() + QLatin1Char('|');
      }
    }
  });
  return titles;
}

// The main window on 15 January 2027 and its dialog, shown, with a yearly
// extra repayment of 1000.
struct TDialogWithExtras {
  TDialogWithExtras() : d(f) {
    f.DateTimePicker1->setDate(QDate(2027, 1, 15));
    d.show();
    d.YearlyAmountEdit()->setText(QStringLiteral("1000"));
  }
  TForm1 f;
  TFullRepaymentDialog d;
};

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

  // The solver's answer is the one for the current inputs; the follow rate
  // does not change it.
  const auto solved = [&] {
    return QString::fromStdString(SolveClearingRepayment(d.ReadInputs(nullptr)).text);
  };
  f.Edit3->setText(QStringLiteral("6"));
  EXPECT_TRUE(d.SolverLabel()->text().contains(solved())) << solved().toStdString();
  d.FollowRateEdit()->setText(QStringLiteral("9"));
  EXPECT_TRUE(d.SolverLabel()->text().contains(solved()));
  d.FollowRateEdit()->clear();
  f.Edit3->setText(QStringLiteral("4"));
  EXPECT_TRUE(d.SolverLabel()->text().contains(solved()));

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
  TDialogWithExtras w;
  TFullRepaymentDialog& d = w.d;
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

// Copy and CSV from the dialog's grid give the nine columns of the table:
// the CSV is the main window's (";", decimal comma, CRLF) with the numbers of
// the table and, before the first extra, the main window's lines around Nr,
// Sondertilgung and Rate; the clipboard's rows are the grid's cells. While the
// inputs are invalid every action only says so; the yearly summary has the
// extras as a column of its own.
TEST(FullRepaymentDialog, CopyCsvSummaryAndRefusal) {
  TDialogWithExtras w;
  TFullRepaymentDialog& d = w.d;
  ASSERT_TRUE(d.LastResult().ok);
  const std::vector<TFullRepaymentRow> rows = ReadFullRepaymentRows(d.Table());

  QTemporaryDir dir;
  const QString file = dir.filePath(QStringLiteral("voll.csv"));
  QString error;
  ASSERT_TRUE(d.Actions()->SaveCsv(file, &error)) << error.toStdString();
  QFile in(file);
  ASSERT_TRUE(in.open(QIODevice::ReadOnly));
  QStringList lines = QString::fromUtf8(in.readAll()).split(QStringLiteral("\r\n"));
  ASSERT_EQ(lines.takeLast(), QString());
  ASSERT_EQ(lines.size(), static_cast<int>(rows.size()) + 1);
  EXPECT_EQ(lines[0], QStringLiteral("Nr;Jahr;Monat;Tag;Darlehen;Tilgung;Sondertilgung;Zins;Rate"));
  const QStringList main = QString::fromStdString(PlanSheetCsv(ReadPlanSheet(*w.f.ABSTable1),
                                                               platform::FormatSettings::User()))
                               .split(QStringLiteral("\r\n"));
  bool extraPaid = false;
  int samePlan = 0;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    QStringList c = lines[static_cast<int>(i) + 1].split(QLatin1Char(';'));
    ASSERT_EQ(c.size(), kFullRepaymentColumnCount) << i;
    const auto num = [&](int k) { return QString(c[k]).replace(',', '.').toDouble(); };
    const TFullRepaymentRow& r = rows[i];
    const double want[] = {double(r.Nr),    double(r.Jahr), double(r.Monat),
                           double(r.Tag),   r.Darlehen,     r.Tilgung,
                           r.Sondertilgung, r.Zins,         r.Rate};
    for (int k = 0; k < kFullRepaymentColumnCount; ++k) {
      EXPECT_NEAR(num(k), want[k], 0.005 + 1e-9) << i << " " << k;
    }
    extraPaid = extraPaid || r.Sondertilgung != 0;
    if (!extraPaid) {
      for (int k : {8, 6, 0}) c.removeAt(k);
      EXPECT_EQ(c.join(QLatin1Char(';')), main[static_cast<int>(i) + 1]) << i;
      ++samePlan;
    }
  }
  EXPECT_EQ(samePlan, 11);  // the first extra is paid in January 2028

  QApplication::clipboard()->clear();
  d.Actions()->CopyAction()->trigger();
  QStringList copied = QApplication::clipboard()->text().split(QLatin1Char('\n'));
  copied.removeLast();
  ASSERT_EQ(copied.size(), static_cast<int>(rows.size()) + 1);
  EXPECT_EQ(copied[0].split(QLatin1Char('\t')).size(), kFullRepaymentColumnCount);
  QCoreApplication::processEvents();
  const auto shown = d.Grid()->VisibleCellTexts();
  ASSERT_FALSE(shown.empty());
  EXPECT_EQ(copied[1].split(QLatin1Char('\t')), QStringList(shown[0].begin(), shown[0].end()));

  EXPECT_TRUE(SummaryTitlesOf([&] {
                d.Actions()->SummaryAction()->trigger();
              }).startsWith(QStringLiteral("Jahr|Tilgung|Sondertilgung|")));

  d.CapEdit()->setText(QStringLiteral("5x"));
  QApplication::clipboard()->setText(QStringLiteral("vorher"));
  for (QAction* action :
       {d.Actions()->CopyAction(), d.Actions()->CsvAction(), d.Actions()->SummaryAction()}) {
    EXPECT_EQ(CloseModalOf([&] { action->trigger(); }).text.toStdString(), kPlanNotCurrentText)
        << action->text().toStdString();
  }
  EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("vorher"));
}
