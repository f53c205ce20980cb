// The window-level pieces of the desktop program, offscreen: the value
// labels that shorten what does not fit, the link label from the keyboard,
// and the grid's context menu and shortcuts over a plan dataset.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QClipboard>
#include <QFile>
#include <QLabel>
#include <QLineSeries>
#include <QMimeData>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QVBoxLayout>

#include "app/MainForm.h"
#include "app/PlanActions.h"
#include "app/PlanChartDialog.h"
#include "app/PlanReport.h"
#include "app/PlanReportTexts.h"
#include "platform/data/DataSource.h"
#include "platform/qt/TDBGrid.h"
#include "platform/qt/TElidedLabel.h"
#include "tests/app/ModalWindow.h"
#include "tests/app/PlanDataSet.h"

using namespace tilgung;
using namespace tilgung::test;

namespace {

// Lets the labels paint once, which brings their tooltips up to date.
void Paint(QWidget* w) {
  w->grab();
}

// A window with the plan grid over the dataset and the actions installed, and
// an edit field before it in the focus chain.
struct TGridWindow {
  explicit TGridWindow(platform::TDataSet& ds) {
    source.SetDataSet(&ds);
    auto* layout = new QVBoxLayout(&window);
    before = new QLineEdit(&window);
    grid = new platform::TDBGrid(&window);
    after = new QLineEdit(&window);
    layout->addWidget(before);
    layout->addWidget(grid);
    layout->addWidget(after);
    for (const char* name : kPlanFieldNames) grid->AddColumn(QString::fromLatin1(name), 80);
    grid->SetDataSource(&source);
    actions = InstallPlanActions(grid, ds, [] { return TPlanWindowTexts{}; });
    window.resize(560, 300);
    window.show();
    window.activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
    grid->setFocus();
    QApplication::processEvents();
  }
  platform::TDataSource source;
  QWidget window;
  QLineEdit* before = nullptr;
  platform::TDBGrid* grid = nullptr;
  QLineEdit* after = nullptr;
  TPlanActions* actions = nullptr;
};

}  // namespace

TEST(ElidedLabel, ALongValueIsShortenedWithItsWholeTextAsTooltip) {
  TForm1 f;
  f.show();
  f.Edit1->setText(QStringLiteral("3200000000"));
  ASSERT_TRUE(f.LastResult().ok);
  auto* total = qobject_cast<platform::TElidedLabel*>(f.Label22);
  ASSERT_NE(total, nullptr);
  Paint(f.Panel1);
  // The calculation's text is untouched; only its drawing is shortened.
  EXPECT_EQ(total->text().toStdString(), *f.LastResult().panel.grandTotal);
  EXPECT_EQ(total->geometry(), QRect(312, 72, 73, 16));
  ASSERT_TRUE(total->IsElided());
  const QString shown = total->DisplayedText();
  EXPECT_TRUE(shown.endsWith(QChar(0x2026))) << shown.toStdString();
  EXPECT_TRUE(total->text().startsWith(shown.chopped(1))) << shown.toStdString();
  EXPECT_LE(total->fontMetrics().horizontalAdvance(shown), total->width());
  EXPECT_EQ(total->toolTip(), total->text());

  // A value that fits again shows whole and drops the tooltip.
  f.Edit1->setText(QStringLiteral("10"));
  Paint(f.Panel1);
  EXPECT_FALSE(total->IsElided());
  EXPECT_EQ(total->DisplayedText(), total->text());
  EXPECT_TRUE(total->toolTip().isEmpty());
  EXPECT_EQ(total->geometry(), QRect(312, 72, 73, 16));
}

TEST(ElidedLabel, KeepsATooltipItsOwnerSet) {
  platform::TElidedLabel label;
  label.resize(40, 16);
  label.setToolTip(QStringLiteral("eigener Hinweis"));
  label.setText(QStringLiteral("ein viel zu langer Text für vierzig Pixel"));
  Paint(&label);
  EXPECT_TRUE(label.IsElided());
  EXPECT_EQ(label.toolTip(), QStringLiteral("eigener Hinweis"));
}

TEST(LinkLabel, TakesTheFocusAndOpensWithEnterOrSpace) {
  TForm1 f;
  EXPECT_EQ(f.Label27->focusPolicy(), Qt::StrongFocus);
  QSignalSpy clicks(f.Label27, &platform::TClickLabel::clicked);
  const struct {
    Qt::Key key;
    int clicks;
  } cases[] = {{Qt::Key_Return, 1}, {Qt::Key_Enter, 1}, {Qt::Key_Space, 1}, {Qt::Key_A, 0}};
  for (const auto& c : cases) {
    clicks.clear();
    QTest::keyClick(f.Label27, c.key);
    EXPECT_EQ(clicks.count(), c.clicks) << c.key;
  }
}

TEST(PlanActions, ContextMenuHoldsEveryActionWithItsShortcut) {
  auto ds = PlanDataSet(DefaultInputs2027());
  TGridWindow w(*ds);
  EXPECT_EQ(w.grid->contextMenuPolicy(), Qt::CustomContextMenu);
  const struct {
    QAction* action;
    const char* text;
    QKeySequence keys;
  } cases[] = {
      {w.actions->CopyAction(), "Kopieren", QKeySequence(QKeySequence::Copy)},
      {w.actions->PrintAction(), "Drucken…", QKeySequence(QKeySequence::Print)},
      {w.actions->CsvAction(), "Als CSV speichern…", QKeySequence(QKeySequence::Save)},
      {w.actions->SummaryAction(), "Jahresübersicht…", QKeySequence(Qt::CTRL | Qt::Key_J)},
      {w.actions->ChartAction(), "Diagramm…", QKeySequence(Qt::CTRL | Qt::Key_D)},
  };
  ASSERT_EQ(w.grid->actions().size(), 5);
  for (const auto& c : cases) {
    EXPECT_TRUE(w.grid->actions().contains(c.action)) << c.text;
    EXPECT_EQ(c.action->text(), QString::fromUtf8(c.text));
    EXPECT_EQ(c.action->shortcut(), c.keys) << c.text;
    EXPECT_EQ(c.action->shortcutContext(), Qt::WidgetWithChildrenShortcut) << c.text;
  }
}

// Ctrl+C in the grid puts the whole plan on the clipboard, cell for cell as
// the grid shows it, and leaves the grid's current record where it was.
TEST(PlanActions, CtrlCInTheGridCopiesTheWholePlan) {
  auto ds = PlanDataSet(DefaultInputs2027());
  TGridWindow w(*ds);
  ds->SetRecNo(5);
  QApplication::processEvents();
  const std::vector<std::vector<QString>> visible = w.grid->VisibleCellTexts();
  ASSERT_FALSE(visible.empty());
  QApplication::clipboard()->clear();
  QTest::keyClick(w.grid, Qt::Key_C, Qt::ControlModifier);
  const QMimeData* data = QApplication::clipboard()->mimeData();
  ASSERT_NE(data, nullptr);
  QStringList lines = data->text().split(QLatin1Char('\n'));
  lines.removeLast();
  ASSERT_EQ(lines.size(), 122);
  EXPECT_EQ(lines[0], QStringLiteral("Jahr\tMonat\tTag\tDarlehen\tTilgung\tZins"));
  EXPECT_TRUE(data->hasHtml());
  EXPECT_TRUE(data->html().contains(QStringLiteral("<table")));
  // The grid's visible rows start at its top record; each equals its line.
  const int top = ds->RecNo() - ds->WindowActiveRecord();
  for (std::size_t r = 0; r < visible.size(); ++r) {
    const QStringList cells = lines[top + static_cast<int>(r)].split(QLatin1Char('\t'));
    EXPECT_EQ(cells, QStringList(visible[r].begin(), visible[r].end())) << r;
  }
  EXPECT_EQ(ds->RecNo(), 5);
}

TEST(PlanActions, TabLeavesTheGridBothWays) {
  auto ds = PlanDataSet(DefaultInputs2027());
  TGridWindow w(*ds);
  ASSERT_TRUE(w.grid->hasFocus());
  QTest::keyClick(w.grid, Qt::Key_Tab);
  EXPECT_TRUE(w.after->hasFocus());
  w.grid->setFocus();
  QTest::keyClick(w.grid, Qt::Key_Backtab, Qt::ShiftModifier);
  EXPECT_TRUE(w.before->hasFocus());
}

TEST(PlanActions, SavesTheCsvOrSaysWhyNot) {
  auto ds = PlanDataSet(DefaultInputs2027());
  TGridWindow w(*ds);
  QTemporaryDir dir;
  const QString file = dir.filePath(QStringLiteral("plan.csv"));
  QString error;
  ASSERT_TRUE(w.actions->SaveCsv(file, &error)) << error.toStdString();
  QFile in(file);
  ASSERT_TRUE(in.open(QIODevice::ReadOnly));
  const QByteArray csv = in.readAll();
  EXPECT_TRUE(csv.startsWith("Jahr;Monat;Tag;Darlehen;Tilgung;Zins\r\n2027;2;15;9958,33;"));
  EXPECT_EQ(csv.count('\n'), 122);
  EXPECT_FALSE(w.actions->SaveCsv(dir.filePath(QStringLiteral("fehlt/plan.csv")), &error));
  EXPECT_TRUE(error.contains(QStringLiteral("nicht gespeichert"))) << error.toStdString();
  EXPECT_TRUE(error.contains(QStringLiteral("den Ordner gibt es nicht"))) << error.toStdString();
}

TEST(PlanChart, ShowsTheDebtOverTimeAndEveryYear) {
  auto ds = PlanDataSet(DefaultInputs2027());
  TPlanChartDialog dialog(ReadPlanSheet(*ds));
  ASSERT_EQ(dialog.DebtChart()->series().size(), 1);
  ASSERT_EQ(dialog.YearChart()->series().size(), 1);
  auto* debt = qobject_cast<QLineSeries*>(dialog.DebtChart()->series()[0]);
  ASSERT_NE(debt, nullptr);
  ASSERT_EQ(debt->count(), 121);
  ds->First();
  EXPECT_DOUBLE_EQ(debt->at(0).y(), ds->FieldByName("Darlehen").AsFloat());
  auto* bars = qobject_cast<QBarSeries*>(dialog.YearChart()->series()[0]);
  ASSERT_NE(bars, nullptr);
  ASSERT_EQ(bars->count(), 2);
  EXPECT_EQ(bars->barSets()[0]->count(), 11);  // 2027 to 2037
  EXPECT_EQ(dialog.DebtChart()->locale().name(), QStringLiteral("de_DE"));
  EXPECT_TRUE(dialog.DebtChart()->localizeNumbers());
}

// The toolkit's own dialogs speak the user's language: its translations are
// loaded at start-up (the tests run under de_DE).
TEST(Translations, TheToolkitsDialogsSpeakGerman) {
  EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Abbrechen"));
  EXPECT_EQ(QCoreApplication::translate("QPrintPreviewDialog", "Print Preview"),
            QStringLiteral("Druckvorschau"));
}

TEST(PlanReport, PagesHoldTheHeadOnceAndTheTitlesOnEveryPage) {
  const struct {
    int rows, headLines, pageHeight, lineHeight;
    TReportPagination want;
  } cases[] = {
      // 50 lines a page: 49 rows under the titles, the first page 20 fewer.
      {0, 20, 5000, 100, {29, 49, 1}},
      {29, 20, 5000, 100, {29, 49, 1}},
      {30, 20, 5000, 100, {29, 49, 2}},
      {29 + 49, 20, 5000, 100, {29, 49, 2}},
      {29 + 49 + 1, 20, 5000, 100, {29, 49, 3}},
      // A head taller than the page still leaves one row on the first page.
      {3, 80, 5000, 100, {1, 49, 2}},
      // A page lower than two lines still holds the titles and one row.
      {2, 0, 50, 100, {1, 1, 2}},
  };
  for (const auto& c : cases) {
    const TReportPagination p = PaginateReport(c.rows, c.headLines, c.pageHeight, c.lineHeight);
    EXPECT_EQ(p.firstPageRows, c.want.firstPageRows) << c.rows << "/" << c.headLines;
    EXPECT_EQ(p.otherPageRows, c.want.otherPageRows) << c.rows << "/" << c.headLines;
    EXPECT_EQ(p.pages, c.want.pages) << c.rows << "/" << c.headLines;
  }
}

// Each dialog action opens its dialog from its shortcut in the grid; the
// dialog is closed again as soon as it is up.
TEST(PlanActions, EveryDialogOpensFromItsShortcut) {
  auto ds = PlanDataSet(DefaultInputs2027());
  TGridWindow w(*ds);
  const struct {
    Qt::Key key;
    const char* dialogClass;
    const char* title;
  } cases[] = {
      {Qt::Key_P, "QPrintPreviewDialog", "Druckvorschau"},
      {Qt::Key_J, "tilgung::TYearSummaryDialog", "Jahresübersicht"},
      {Qt::Key_D, "tilgung::TPlanChartDialog", "Diagramm"},
      {Qt::Key_S, "QFileDialog", "Als CSV speichern"},
  };
  for (const auto& c : cases) {
    // A closed dialog hands the activation back through the event loop.
    w.window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w.window));
    w.grid->setFocus();
    const TModalSeen seen =
        CloseModalOf([&] { QTest::keyClick(w.grid, c.key, Qt::ControlModifier); });
    EXPECT_EQ(seen.className.toStdString(), c.dialogClass);
    EXPECT_EQ(seen.title.toStdString(), c.title);
  }
  EXPECT_EQ(ds->RecNo(), 1);
}

// While the last recalculation failed, the grid keeps the earlier plan, and
// every action, from its shortcut or the menu, only says that the inputs are
// not valid. A good input makes them work on the new plan again.
TEST(PlanActions, RefuseThePlanOfEarlierInputs) {
  TForm1 f;
  f.show();
  f.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
  f.DateTimePicker1->setDate(QDate(2027, 1, 15));
  ASSERT_TRUE(f.PlanIsCurrent());
  f.Edit3->setText(QStringLiteral("vier"));
  ASSERT_FALSE(f.LastResult().ok);
  ASSERT_FALSE(f.PlanIsCurrent());
  ASSERT_EQ(f.ABSTable1->RecordCount(), 121);

  auto* actions = f.DBGrid1->findChild<TPlanActions*>();
  ASSERT_NE(actions, nullptr);
  const struct {
    Qt::Key key;
    QAction* action;
    const char* title;
  } cases[] = {
      {Qt::Key_C, actions->CopyAction(), "Kopieren"},
      {Qt::Key_P, actions->PrintAction(), "Drucken"},
      {Qt::Key_S, actions->CsvAction(), "Als CSV speichern"},
      {Qt::Key_J, actions->SummaryAction(), "Jahresübersicht"},
      {Qt::Key_D, actions->ChartAction(), "Diagramm"},
  };
  QApplication::clipboard()->setText(QStringLiteral("vorher"));
  for (const auto& c : cases) {
    for (bool fromMenu : {false, true}) {
      f.activateWindow();
      ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
      f.DBGrid1->setFocus();
      const TModalSeen seen = CloseModalOf([&] {
        if (fromMenu) {
          c.action->trigger();
        } else {
          QTest::keyClick(f.DBGrid1, c.key, Qt::ControlModifier);
        }
      });
      EXPECT_EQ(seen.className.toStdString(), "QMessageBox") << c.title << fromMenu;
      EXPECT_EQ(seen.title.toStdString(), c.title) << fromMenu;
      EXPECT_EQ(seen.text.toStdString(), kPlanNotCurrentText) << c.title << fromMenu;
    }
  }
  EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("vorher"));
  EXPECT_EQ(f.ABSTable1->RecordCount(), 121);

  // Valid again, with amount 0: the actions work on the new plan, which has
  // no rows.
  f.Edit1->setText(QStringLiteral("0"));
  f.Edit3->setText(QStringLiteral("4"));
  ASSERT_TRUE(f.PlanIsCurrent());
  f.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
  f.DBGrid1->setFocus();
  QTest::keyClick(f.DBGrid1, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QApplication::clipboard()->text(),
            QStringLiteral("Jahr\tMonat\tTag\tDarlehen\tTilgung\tZins\n"));
}

TEST(PlanChart, AnEmptyPlanShowsATextInsteadOfCharts) {
  TPlanInputs in = DefaultInputs2027();
  in.amountText = "0";
  auto ds = PlanDataSet(in);
  TPlanChartDialog dialog(ReadPlanSheet(*ds));
  ASSERT_NE(dialog.EmptyText(), nullptr);
  EXPECT_EQ(dialog.EmptyText()->text().toStdString(), kEmptyChartText);
  EXPECT_EQ(dialog.DebtChart(), nullptr);
  EXPECT_EQ(dialog.YearChart(), nullptr);
  TPlanChartDialog full(ReadPlanSheet(*PlanDataSet(DefaultInputs2027())));
  EXPECT_EQ(full.EmptyText(), nullptr);
}
