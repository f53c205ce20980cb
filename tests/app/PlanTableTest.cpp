// The plan in the engine: what the window's and the command line's table
// component store is read back unchanged, the grid shows the table itself,
// every run replaces the previous plan, and failures (of the run, of the
// engine's memory) leave the table, the grid and the engine in order.
#include <gtest/gtest.h>
#include <malloc.h>

#include <QTest>
#include <algorithm>
#include <bit>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <vector>

#include "app/MainForm.h"
#include "app/PlanSheet.h"
#include "app/PlanTable.h"
#include "engine/components/ABSTable.h"
#include "engine/memory/ABSMemory.h"
#include "platform/data/Field.h"
#include "platform/os/DateTime.h"

using namespace tilgung;

namespace {

std::vector<TPlanRow> BareRows(const TPlanInputs& in) {
  TPlanRowVector rows;
  EXPECT_TRUE(RecalculatePlan(in, rows).ok);
  return rows.rows;
}

// Equal to the last bit, doubles included (0.0 and -0.0 differ).
void ExpectSameBits(const std::vector<TPlanRow>& expected, const std::vector<TPlanRow>& actual,
                    const char* what) {
  ASSERT_EQ(expected.size(), actual.size()) << what;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const TPlanRow& e = expected[i];
    const TPlanRow& a = actual[i];
    EXPECT_EQ(e.Jahr, a.Jahr) << what << " row " << i;
    EXPECT_EQ(e.Monat, a.Monat) << what << " row " << i;
    EXPECT_EQ(e.Tag, a.Tag) << what << " row " << i;
    EXPECT_EQ(std::bit_cast<std::uint64_t>(e.Darlehen), std::bit_cast<std::uint64_t>(a.Darlehen))
        << what << " row " << i;
    EXPECT_EQ(std::bit_cast<std::uint64_t>(e.Tilgung), std::bit_cast<std::uint64_t>(a.Tilgung))
        << what << " row " << i;
    EXPECT_EQ(std::bit_cast<std::uint64_t>(e.Zins), std::bit_cast<std::uint64_t>(a.Zins))
        << what << " row " << i;
  }
}

// Removes "Tilgungsplan" from "MEMORY", so that a test starts before the
// first recalculation of the process.
void DropPlanTable() {
  TABSTable table(nullptr);
  table.SetDatabaseName(kPlanDatabaseName);
  table.SetTableName(kPlanTableName);
  if (table.Exists()) table.DeleteTable();
}

bool PlanTableExists() {
  TABSTable table(nullptr);
  table.SetDatabaseName(kPlanDatabaseName);
  table.SetTableName(kPlanTableName);
  return table.Exists();
}

TPlanInputs Inputs(int year, int month, int day, int frequency = 0, const char* term = "10") {
  TPlanInputs in;
  in.startDate = platform::EncodeDate(year, month, day);
  in.frequencyIndex = frequency;
  in.termText = term;
  return in;
}

// Runs the table sink but fails at row `failAt`, after an Append when
// `midAppend` (a record left in the middle of its insertion).
class TFailingSink : public TPlanRowSink {
 public:
  TFailingSink(TPlanTableSink& inner, int failAt, bool midAppend)
      : inner_(inner), failAt_(failAt), midAppend_(midAppend) {}
  void PrepareTable() override {
    inner_.PrepareTable();
    posted_ = 0;
  }
  void PostRow(const TPlanRow& row) override {
    if (posted_ == failAt_) {
      if (midAppend_) {
        inner_.Table().Append();
        inner_.Table().FieldByName("Jahr").SetAsInteger(1);
      }
      throw std::runtime_error("injected failure");
    }
    inner_.PostRow(row);
    ++posted_;
  }

 private:
  TPlanTableSink& inner_;
  int failAt_;
  bool midAppend_;
  int posted_ = 0;
};

// The grid's painted rows are consecutive rows of the plan the table holds,
// as many as fit (or all of them).
void ExpectGridShowsOnlyThePlan(TForm1& f, int planRows) {
  QCoreApplication::processEvents();
  const TPlanSheet sheet = ReadPlanSheet(*f.ABSTable1);
  ASSERT_EQ(sheet.RowCount(), planRows);
  const std::vector<std::vector<QString>> shown = f.DBGrid1->VisibleCellTexts();
  ASSERT_EQ(static_cast<int>(shown.size()), std::min(planRows, f.DBGrid1->VisibleRowCount()));
  auto rowAt = [&](int r) {
    std::vector<QString> cells;
    for (const std::string& cell : sheet.cells[r]) cells.push_back(QString::fromStdString(cell));
    return cells;
  };
  int first = 0;
  while (first < planRows && rowAt(first) != shown[0]) ++first;
  ASSERT_LE(first + static_cast<int>(shown.size()), planRows) << "first shown row not in plan";
  for (std::size_t i = 0; i < shown.size(); ++i) EXPECT_EQ(shown[i], rowAt(first + i)) << i;
}

}  // namespace

TEST(PlanTable, ReadBackEqualsTheCalculationBitForBit) {
  TABSTable table(nullptr);
  ConfigurePlanComponent(table);
  TPlanTableSink sink(table);
  std::vector<TPlanInputs> cases;
  for (int frequency = 0; frequency < 4; ++frequency) {
    for (int day = 28; day <= 31; ++day) cases.push_back(Inputs(2027, 1, day, frequency));
  }
  TPlanInputs largest = Inputs(2027, 1, 31, 0, "99");
  largest.repaymentText = "0";  // the debt is never paid off: 1 189 rows
  cases.push_back(largest);
  for (const TPlanInputs& in : cases) {
    const std::vector<TPlanRow> bare = BareRows(in);
    const TPlanResult result = RecalculatePlan(in, sink);
    ASSERT_TRUE(result.ok) << result.errorMessage;
    const std::string what = "frequency " + std::to_string(in.frequencyIndex) + " start " +
                             std::to_string(in.startDate) + " term " + in.termText;
    EXPECT_EQ(table.RecordCount(), static_cast<int>(bare.size())) << what;
    ExpectSameBits(bare, ReadPlanSheet(table).values, what.c_str());
  }
  EXPECT_EQ(table.RecordCount(), kMaxPlanRows);
}

TEST(PlanTable, FirstRunCreatesTheTableLaterRunsEmptyIt) {
  DropPlanTable();
  TABSTable table(nullptr);
  ConfigurePlanComponent(table);
  int created = 0;
  TPlanTableSink sink(table, [&](const std::string& name) {
    ++created;
    return CreatePlanTable(name);
  });
  // At every open the table is empty: no run ever sees rows of another.
  int countAtOpen = -1;
  table.AfterOpen = [&](platform::TDataSet& ds) { countAtOpen = ds.RecordCount(); };

  ASSERT_TRUE(RecalculatePlan(Inputs(2027, 1, 15, 0, "10"), sink).ok);
  EXPECT_EQ(created, 1);
  EXPECT_EQ(countAtOpen, 0);
  EXPECT_EQ(table.TableName(), kPlanTableName);
  EXPECT_EQ(table.RecordCount(), 121);

  ASSERT_TRUE(RecalculatePlan(Inputs(2027, 1, 15, 0, "3"), sink).ok);
  EXPECT_EQ(created, 1);
  EXPECT_EQ(countAtOpen, 0);
  ExpectSameBits(BareRows(Inputs(2027, 1, 15, 0, "3")), ReadPlanSheet(table).values, "second");

  // Closing the component between runs leaves the table in the database.
  table.Close();
  EXPECT_TRUE(PlanTableExists());
}

TEST(PlanTable, FailureInsideTheRowLoopKeepsThePostedRowsUntilTheNextRun) {
  struct Case {
    int failAt;
    bool midAppend;
  };
  const TPlanInputs in = Inputs(2027, 1, 15);
  const std::vector<TPlanRow> bare = BareRows(in);
  for (const Case c : {Case{0, false}, Case{5, false}, Case{5, true}, Case{120, true}}) {
    TABSTable table(nullptr);
    ConfigurePlanComponent(table);
    TPlanTableSink sink(table);
    TFailingSink failing(sink, c.failAt, c.midAppend);
    const TPlanResult failed = RecalculatePlan(in, failing);
    EXPECT_FALSE(failed.ok);
    EXPECT_EQ(failed.failedStep, TPlanStep::Rows);
    ASSERT_TRUE(table.Active());
    if (c.midAppend) table.Cancel();  // read what is stored, not the pending record
    std::vector<TPlanRow> posted(bare.begin(), bare.begin() + c.failAt);
    ExpectSameBits(posted, ReadPlanSheet(table).values, "after the failure");

    // The next run removes them (and drops a record left mid-append).
    if (c.midAppend) {
      table.Append();
      table.FieldByName("Jahr").SetAsInteger(1);
    }
    ASSERT_TRUE(RecalculatePlan(in, sink).ok);
    ExpectSameBits(bare, ReadPlanSheet(table).values, "next run");
  }
}

TEST(PlanTable, TheFormsTableCreatorFreesItsComponentOnSuccessAndFailure) {
  // Each call's component must be gone when it returns: many calls leave the
  // heap where one left it.
  struct Case {
    const char* name;
    bool fails;
  };
  for (const Case c : {Case{"Probe", false}, Case{"", true}}) {
    TForm1 f;
    auto call = [&] {
      try {
        EXPECT_TRUE(f.DarlehenDatenbank(c.name));
        EXPECT_FALSE(c.fails);
      } catch (const std::exception&) {
        EXPECT_TRUE(c.fails);
      }
    };
    call();  // warms up the engine's lists and the table of that name
    const std::size_t before = mallinfo2().uordblks;
    constexpr int kCalls = 50;
    for (int i = 0; i < kCalls; ++i) call();
    const std::size_t after = mallinfo2().uordblks;
    EXPECT_LT(after, before + 5 * sizeof(TABSTable)) << c.name;
  }
  TABSTable probe(nullptr);
  probe.SetDatabaseName(kPlanDatabaseName);
  probe.SetTableName("Probe");
  ASSERT_TRUE(probe.Exists());
  probe.DeleteTable();
}

TEST(PlanTable, TheGridShowsTheTableItselfNoCopy) {
  TForm1 f;
  f.show();
  f.DateTimePicker1->setDate(QDate(2027, 1, 15));
  ASSERT_TRUE(f.LastResult().ok);
  f.ABSTable1->First();
  QCoreApplication::processEvents();
  const std::vector<std::vector<QString>> before = f.DBGrid1->VisibleCellTexts();
  ASSERT_FALSE(before.empty());
  ASSERT_EQ(before[0].size(), 6U);
  EXPECT_EQ(before[0][0], QStringLiteral("2027"));

  // Another component on the same table changes the first row.
  TABSTable other(nullptr);
  other.SetDatabaseName(kPlanDatabaseName);
  other.SetTableName(kPlanTableName);
  other.Open();
  other.First();
  other.Edit();
  other.FieldByName("Darlehen").SetAsFloat(1234.5);
  other.Post();
  const QString changed = QString::fromStdString(other.FieldByName("Darlehen").DisplayText());
  other.Close();
  ASSERT_NE(changed, before[0][3]);

  f.ABSTable1->Refresh();
  QCoreApplication::processEvents();
  const std::vector<std::vector<QString>> after = f.DBGrid1->VisibleCellTexts();
  ASSERT_FALSE(after.empty());
  EXPECT_EQ(after[0][3], changed);
  EXPECT_EQ(after[0][0], before[0][0]);
}

TEST(PlanTable, TheWindowNeverShowsTwoRunsAndKeepsThePlanOnEarlyFailures) {
  DropPlanTable();
  TForm1 f;
  f.show();
  EXPECT_FALSE(PlanTableExists());
  int countAtOpen = -1;
  int largestCount = 0;
  f.ABSTable1->AfterOpen = [&](platform::TDataSet& ds) { countAtOpen = ds.RecordCount(); };
  f.ABSTable1->AfterPost = [&](platform::TDataSet& ds) {
    largestCount = std::max(largestCount, ds.RecordCount());
  };

  f.DateTimePicker1->setDate(QDate(2028, 2, 15));
  ASSERT_TRUE(f.LastResult().ok);
  EXPECT_TRUE(PlanTableExists());
  EXPECT_EQ(countAtOpen, 0);
  EXPECT_EQ(largestCount, 121);

  largestCount = 0;
  f.ComboBox1->setCurrentIndex(3);  // yearly: 11 rows
  ASSERT_TRUE(f.LastResult().ok);
  EXPECT_EQ(countAtOpen, 0);
  EXPECT_EQ(largestCount, 11);
  ExpectGridShowsOnlyThePlan(f, 11);

  // 29 February plus ten years fails before the table steps: the plan stays
  // open and visible.
  countAtOpen = -1;
  f.DateTimePicker1->setDate(QDate(2028, 2, 29));
  ASSERT_FALSE(f.LastResult().ok);
  EXPECT_EQ(f.LastResult().failedStep, TPlanStep::EndDate);
  EXPECT_EQ(countAtOpen, -1);
  EXPECT_TRUE(f.ABSTable1->Active());
  EXPECT_EQ(f.ABSTable1->RecordCount(), 11);
  ExpectGridShowsOnlyThePlan(f, 11);
  f.ABSTable1->AfterOpen = nullptr;
  f.ABSTable1->AfterPost = nullptr;
}

TEST(PlanTable, EveryEngineAllocationFailureTakesTheErrorPathAndLeaksNothing) {
  TForm1 f;
  f.Edit1->setText(QStringLiteral("20000"));
  f.ComboBox4->setEditText(QStringLiteral("2 Jahre"));
  f.DateTimePicker1->setDate(QDate(2027, 1, 15));
  ASSERT_TRUE(f.LastResult().ok);
  const TPlanInputs in = f.ReadInputs();
  const std::vector<TPlanRow> bare = BareRows(in);
  const std::int64_t settled = EngineMemoryManager.AllocatedSize();

  int failures = 0;
  for (std::int64_t n = 1; n < 20000; ++n) {
    EngineMemoryManager.FailAllocationForTesting(n);
    f.Edit1Change();
    const bool fired = EngineMemoryManager.PendingFailureForTesting() == 0;
    EngineMemoryManager.FailAllocationForTesting(0);
    if (!fired) {
      EXPECT_TRUE(f.LastResult().ok) << n;
      break;
    }
    if (f.LastResult().ok) {
      // Only a failure the table's existence test swallows (it reads as
      // "no table", and the table is made anew) lets the run succeed.
      ExpectSameBits(bare, ReadPlanSheet(*f.ABSTable1).values, "swallowed failure");
    } else {
      ++failures;
      // The error path shows the inputs as typed.
      EXPECT_EQ(f.Label21->text(), QStringLiteral("20000")) << n;
      EXPECT_EQ(f.Label22->text(), QStringLiteral("20000")) << n;
      EXPECT_EQ(f.Label18->text(), QStringLiteral("4")) << n;
      EXPECT_EQ(f.Label17->text(), QStringLiteral("0")) << n;
    }

    f.Edit1Change();
    ASSERT_TRUE(f.LastResult().ok) << n << ": " << f.LastResult().errorMessage;
    ExpectSameBits(bare, ReadPlanSheet(*f.ABSTable1).values, "after a failure");
    ASSERT_EQ(EngineMemoryManager.AllocatedSize(), settled) << n;
  }
  EXPECT_GT(failures, 0);
}

TEST(PlanTable, ManyRecalculationsKeepTheEngineSizeOfTheFirst) {
  TForm1 f;
  f.ComboBox4->setEditText(QStringLiteral("1 Jahr"));
  ASSERT_TRUE(f.LastResult().ok);
  const std::int64_t first = EngineMemoryManager.AllocatedSize();
  for (int i = 0; i < 999; ++i) f.Edit1Change();
  ASSERT_TRUE(f.LastResult().ok);
  EXPECT_EQ(f.ABSTable1->RecordCount(), f.LastResult().rowCount);
  EXPECT_EQ(EngineMemoryManager.AllocatedSize(), first);
}

// After every keystroke the grid paints the last rows the table holds, the
// last one current, whatever the run did: a plan that grows or shrinks, a run
// that fails before the table or inside the row loop, and a run during which
// another component changes the table (after a post, or between an append
// and its post) or adds a row to it.
TEST(PlanTable, AfterEveryKeystrokeTheGridPaintsTheLastRowsOfTheTable) {
  TForm1 f;
  f.show();
  TABSTable other(nullptr);
  other.SetDatabaseName(kPlanDatabaseName);
  other.SetTableName(kPlanTableName);
  // Another component's change, made when the window's run posts row `at`
  // (before that post, or after it).
  int posted = 0;
  int at = -1;
  bool beforePost = false;
  std::function<void(TABSTable&)> change;
  auto changeNow = [&](bool before) {
    if (before != beforePost || posted + (before ? 1 : 0) != at) return;
    other.Open();
    change(other);
    other.Close();
  };
  f.ABSTable1->BeforePost = [&](platform::TDataSet&) { changeNow(true); };
  f.ABSTable1->AfterPost = [&](platform::TDataSet&) {
    ++posted;
    changeNow(false);
  };
  auto editRow = [](int fromEnd, double debt) {
    return [=](TABSTable& t) {
      t.Last();
      t.MoveBy(-fromEnd);
      t.Edit();
      t.FieldByName("Darlehen").SetAsFloat(debt);
      t.Post();
    };
  };
  auto addRow = [](TABSTable& t) {
    t.Append();
    t.FieldByName("Jahr").SetAsInteger(1999);
    t.Post();
  };
  struct Step {
    const char* what;
    std::function<void()> type;
    int at = -1;  // the row during whose post `change` runs
    std::function<void(TABSTable&)> change = nullptr;
    bool beforePost = false;
  };
  const std::vector<Step> steps = {
      {"121 rows", [&] { f.DateTimePicker1->setDate(QDate(2027, 1, 15)); }},
      {"shrinks to 25", [&] { f.ComboBox4->setEditText(QStringLiteral("2 Jahre")); }},
      {"shrinks below the window", [&] { f.ComboBox1->setCurrentIndex(3); }},
      {"fails before the table", [&] { f.Edit1->setText(QStringLiteral("abc")); }},
      {"monthly, still failing", [&] { f.ComboBox1->setCurrentIndex(0); }},
      {"a huge amount", [&] { f.Edit1->setText(QStringLiteral("1e306")); }},
      {"rate", [&] { f.Edit3->setText(QStringLiteral("1000")); }},
      {"repayment", [&] { f.Edit4->setText(QStringLiteral("0")); }},
      {"yearly", [&] { f.ComboBox1->setCurrentIndex(3); }},
      {"30 years: 17 rows, then the error",
       [&] { f.ComboBox4->setEditText(QStringLiteral("30")); }},
      {"back to 4 %", [&] { f.Edit3->setText(QStringLiteral("4")); }},
      {"back to 5 %", [&] { f.Edit4->setText(QStringLiteral("5")); }},
      {"back to 10000", [&] { f.Edit1->setText(QStringLiteral("10000")); }},
      {"monthly", [&] { f.ComboBox1->setCurrentIndex(0); }},
      {"a shown row edited after a post",
       [&] { f.ComboBox4->setEditText(QStringLiteral("10 Jahre")); }, 119, editRow(1, 1.5)},
      {"the last row edited before its post", [&] { f.Edit1->setText(QStringLiteral("10001")); },
       121, editRow(0, 2.5), true},
      {"a row added", [&] { f.Edit1->setText(QStringLiteral("10002")); }, 117, addRow},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.what);
    posted = 0;
    at = s.at;
    change = s.change;
    beforePost = s.beforePost;
    s.type();
    QCoreApplication::processEvents();
    other.Open();
    const TPlanSheet sheet = ReadPlanSheet(other);
    other.Close();
    const int rows = static_cast<int>(sheet.cells.size());
    ASSERT_EQ(rows, f.ABSTable1->RecordCount());
    const platform::TGridCells painted = f.DBGrid1->CellsToPaint();
    const int shown = std::min(rows, f.DBGrid1->VisibleRowCount());
    ASSERT_EQ(static_cast<int>(painted.rows.size()), shown);
    for (int r = 0; r < shown; ++r) {
      const TPlanCells& cells = sheet.cells[static_cast<std::size_t>(rows - shown + r)];
      for (int c = 0; c < kPlanColumnCount; ++c) {
        EXPECT_EQ(painted.rows[r][c].toStdString(), cells[c]) << "row " << r << " column " << c;
      }
    }
    EXPECT_EQ(painted.activeRow, shown - 1);
  }
  EXPECT_TRUE(f.LastResult().ok);
  f.ABSTable1->BeforePost = nullptr;
  f.ABSTable1->AfterPost = nullptr;
}
