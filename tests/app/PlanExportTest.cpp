// Reading the plan from its dataset, and the texts made from it: the
// clipboard's tab-separated text and HTML, and CSV in the user's conventions
// for both plans.
#include <gtest/gtest.h>

#include <QMimeData>
#include <QStringList>
#include <cmath>
#include <string>
#include <utility>

#include "app/FullRepaymentSheet.h"
#include "app/FullRepaymentTable.h"
#include "app/PlanExport.h"
#include "app/PlanSheet.h"
#include "app/PlanTable.h"
#include "engine/components/ABSTable.h"
#include "platform/locale/Locale.h"
#include "tests/app/PlanDataSet.h"

using namespace tilgung;
using namespace tilgung::test;

namespace {

// Each record's display texts, read field by field as a grid reads them.
std::vector<TPlanCells> DisplayTexts(platform::TDataSet& ds) {
  std::vector<TPlanCells> rows;
  for (ds.First(); !ds.Eof(); ds.Next()) {
    TPlanCells line;
    for (int c = 0; c < kPlanColumnCount; ++c) {
      line[c] = ds.FieldByName(kPlanFieldNames[c]).DisplayText();
    }
    rows.push_back(line);
  }
  return rows;
}

class ScopedLang {
 public:
  explicit ScopedLang(const char* lang) {
    setenv("LANG", lang, 1);
    platform::FormatSettings::ReloadUser();
  }
  ~ScopedLang() {
    setenv("LANG", "de_DE.UTF-8", 1);
    platform::FormatSettings::ReloadUser();
  }
};

}  // namespace

TEST(PlanSheet, ReadsEveryRecordAsTheGridShowsItAndKeepsThePosition) {
  auto ds = PlanDataSet(DefaultInputs2027());
  const std::vector<TPlanCells> expected = DisplayTexts(*ds);
  ASSERT_EQ(expected.size(), 121u);
  ds->SetRecNo(50);
  ds->FieldByName("Jahr").SetDisplayLabel("Jahr der Fälligkeit");
  const TPlanSheet sheet = ReadPlanSheet(*ds);
  EXPECT_EQ(sheet.titles[0], "Jahr der Fälligkeit");
  EXPECT_EQ(sheet.titles[5], "Zins");
  EXPECT_EQ(sheet.cells, expected);
  ASSERT_EQ(sheet.RowCount(), 121);
  EXPECT_EQ(sheet.values[0].Jahr, 2027);
  EXPECT_EQ(sheet.values[0].Monat, 2);
  ds->Last();
  EXPECT_EQ(sheet.values[120].Darlehen, ds->FieldByName("Darlehen").AsFloat());
  EXPECT_EQ(sheet.values[120].Zins, ds->FieldByName("Zins").AsFloat());
  ds->SetRecNo(50);
  // Moving away and back is what the walk must not leave behind.
  const TPlanSheet again = ReadPlanSheet(*ds);
  EXPECT_EQ(again.cells, expected);
  EXPECT_EQ(ds->RecNo(), 50);
  EXPECT_FALSE(ds->ControlsDisabled());
}

// A dataset whose one fetch fails (a transient read error).
class TFailOnceDataSet : public platform::test::TVectorDataSet {
 public:
  TFailOnceDataSet() : TVectorDataSet(PlanColumns()) {}
  int failAt = -1;  // the fetch count at which one fetch fails

 protected:
  platform::TGetResult LoadRecord(platform::TRecordBuffer buffer, platform::TGetMode mode,
                                  bool check) override {
    if (fetches != failAt) return TVectorDataSet::LoadRecord(buffer, mode, check);
    failAt = -1;
    failFetchAfter = fetches;
    try {
      const platform::TGetResult result = TVectorDataSet::LoadRecord(buffer, mode, check);
      failFetchAfter = -1;
      return result;
    } catch (...) {
      failFetchAfter = -1;
      throw;
    }
  }
};

TEST(PlanSheet, AFailingReadGivesBackThePositionAndTheControls) {
  TFailOnceDataSet ds;
  TDataSetSink sink(ds);
  ASSERT_TRUE(RecalculatePlan(DefaultInputs2027(), sink).ok);
  ds.SetRecNo(3);
  ds.failAt = ds.fetches + 40;
  EXPECT_ANY_THROW(ReadPlanSheet(ds));
  EXPECT_FALSE(ds.ControlsDisabled());
  EXPECT_TRUE(ds.Active());
  EXPECT_EQ(ds.State(), platform::TDataSetState::dsBrowse);
  EXPECT_EQ(ds.RecNo(), 3);
}

TEST(PlanSheet, AClosedDataSetGivesTitlesAndNoRows) {
  platform::test::TVectorDataSet ds(PlanColumns());
  const TPlanSheet sheet = ReadPlanSheet(ds);
  EXPECT_EQ(sheet.RowCount(), 0);
  EXPECT_EQ(sheet.titles[3], "Darlehen");
}

TEST(PlanExport, ClipboardTextHasTheTitlesAndEveryRowAsTheGridShowsIt) {
  auto ds = PlanDataSet(DefaultInputs2027());
  const std::vector<TPlanCells> expected = DisplayTexts(*ds);
  const std::unique_ptr<QMimeData> data = PlanSheetMimeData(ReadPlanSheet(*ds));
  QStringList lines = data->text().split(QLatin1Char('\n'));
  ASSERT_EQ(lines.takeLast(), QString());  // the last line ends with a newline too
  ASSERT_EQ(lines.size(), 122);
  EXPECT_EQ(lines[0], QStringLiteral("Jahr\tMonat\tTag\tDarlehen\tTilgung\tZins"));
  for (int r = 0; r < 121; ++r) {
    QStringList want;
    for (const std::string& cell : expected[static_cast<std::size_t>(r)]) {
      want << QString::fromStdString(cell);
    }
    EXPECT_EQ(lines[r + 1].split(QLatin1Char('\t')), want) << r;
  }
  EXPECT_TRUE(lines[1].startsWith(QStringLiteral("2027\t2\t15\t9.958,33")));

  ASSERT_TRUE(data->hasHtml());
  const QString html = data->html();
  EXPECT_EQ(html.count(QStringLiteral("<tr>")), 122);
  EXPECT_EQ(html.count(QStringLiteral("<th>")), 6);
  EXPECT_TRUE(html.contains(QStringLiteral(">9.958,33")));
}

TEST(PlanExport, CellTextsNeverBreakTheTableOrTheMarkup) {
  TPlanSheet sheet;
  sheet.titles = {"a\tb", "<b>", "x&y", "line\nbreak", "\"q\"", "z"};
  const QString text = PlanSheetTabText(sheet);
  EXPECT_EQ(text.count(QLatin1Char('\t')), 5);
  EXPECT_EQ(text.count(QLatin1Char('\n')), 1);
  const QString html = PlanSheetHtml(sheet);
  EXPECT_FALSE(html.contains(QStringLiteral("<b>")));
  EXPECT_TRUE(html.contains(QStringLiteral("&lt;b&gt;")));
  EXPECT_TRUE(html.contains(QStringLiteral("x&amp;y")));
}

// CSV of both plans read back under each locale: separator, decimal
// separator, CRLF, the field names as titles, and every value equal to the
// dataset's, rounded to the currency's decimals. The main plan's comes from
// its dataset, the plan until the loan is repaid from its engine table.
TEST(PlanExport, CsvFollowsTheUserLocaleAndReadsBackAsThePlan) {
  const struct {
    const char* lang;
    QChar separator;
    QChar decimal;
    const char* firstRow[2];  // main plan, plan until the loan is repaid
  } cases[] = {
      {"de_DE.UTF-8",
       ';',
       ',',
       {"2027;2;15;9958,33;41,67;33,33", "1;2027;2;15;9958,33;41,67;0,00;33,33;75,00"}},
      {"en_US.UTF-8",
       ',',
       '.',
       {"2027,2,15,9958.33,41.67,33.33", "1,2027,2,15,9958.33,41.67,0.00,33.33,75.00"}},
  };
  for (const auto& c : cases) {
    const ScopedLang lang(c.lang);
    auto main = PlanDataSet(DefaultInputs2027());
    TABSTable full(nullptr);
    ConfigurePlanComponent(full);
    TFullRepaymentTableSink sink(full);
    TFullRepaymentInputs extras;
    extras.plan = DefaultInputs2027();
    extras.yearlyAmountText = "1000";
    ASSERT_TRUE(CalculateFullRepayment(extras, sink).ok);
    const std::pair<platform::TDataSet*, TPlanSheet> plans[] = {
        {main.get(), ReadPlanSheet(*main)}, {&full, ReadFullRepaymentSheet(full, extras)}};
    for (int p = 0; p < 2; ++p) {
      platform::TDataSet& ds = *plans[p].first;
      SCOPED_TRACE(std::string(c.lang) + (p ? " Volltilgung" : " Tilgungsplan"));
      const QString csv = QString::fromUtf8(
          PlanSheetCsv(plans[p].second, platform::FormatSettings::User()).c_str());
      QStringList lines = csv.split(QStringLiteral("\r\n"));
      ASSERT_EQ(lines.takeLast(), QString());
      ASSERT_EQ(lines.size(), ds.RecordCount() + 1);
      const QStringList titles = lines[0].split(c.separator);
      EXPECT_EQ(titles.size(), p ? kFullRepaymentColumnCount : kPlanColumnCount);
      EXPECT_EQ(lines[1], QString::fromLatin1(c.firstRow[p]));
      int r = 1;
      for (ds.First(); !ds.Eof(); ds.Next(), ++r) {
        const QStringList cells = lines[r].split(c.separator);
        ASSERT_EQ(cells.size(), titles.size()) << "row " << r;
        for (int col = 0; col < cells.size(); ++col) {
          const platform::TField& field = ds.FieldByName(titles[col].toStdString());
          if (field.DataType() == platform::ftInteger) {
            EXPECT_EQ(cells[col].toInt(), field.AsInteger()) << "row " << r << " col " << col;
            continue;
          }
          QString number = cells[col];
          EXPECT_FALSE(number.contains(QLatin1Char(c.decimal == ',' ? '.' : ',')));
          number.replace(c.decimal, QLatin1Char('.'));
          bool ok = false;
          const double value = number.toDouble(&ok);
          ASSERT_TRUE(ok) << cells[col].toStdString();
          EXPECT_NEAR(value, field.AsFloat(), 0.005 + 1e-9) << "row " << r << " col " << col;
        }
      }
    }
  }
}

TEST(PlanExport, CsvQuotesACellThatHoldsTheSeparator) {
  TPlanSheet sheet;
  sheet.titles = {"Jahr", "a;b", "say \"x\"", "Darlehen", "Tilgung", "Zins"};
  const std::string csv = PlanSheetCsv(sheet, platform::FormatSettings("de_DE"));
  EXPECT_EQ(csv, "Jahr;\"a;b\";\"say \"\"x\"\"\";Darlehen;Tilgung;Zins\r\n");
}
