// The command line, run as the built executable.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>

#include "app/FullRepaymentPlan.h"
#include "app/PlanCalculation.h"
#include "app/PlanSheet.h"
#include "app/PlanTable.h"
#include "engine/components/ABSTable.h"
#include "platform/locale/Locale.h"
#include "platform/os/DateTime.h"

using namespace tilgung;

namespace {

struct ProcessRun {
  int status = -1;
  QString out;
  QString err;
};

// Runs the program with `args`; `env` entries ("NAME=value", or "-NAME" to
// remove one) change the inherited environment.
ProcessRun Exec(const QStringList& args, const QStringList& env = {}) {
  QProcess p;
  QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
  for (const QString& entry : env) {
    if (entry.startsWith('-')) {
      e.remove(entry.mid(1));
    } else {
      const qsizetype eq = entry.indexOf('=');
      e.insert(entry.left(eq), entry.mid(eq + 1));
    }
  }
  p.setProcessEnvironment(e);
  p.start(QStringLiteral(TILGUNGSPLAN_EXE), args);
  p.closeWriteChannel();
  ProcessRun r;
  if (!p.waitForFinished(60000)) return r;
  r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
  r.out = QString::fromUtf8(p.readAllStandardOutput());
  r.err = QString::fromUtf8(p.readAllStandardError());
  return r;
}

std::vector<TPlanRow> Plan(TPlanInputs in, TPlanResult* result = nullptr) {
  TPlanRowVector rows;
  TPlanResult r = RecalculatePlan(in, rows);
  if (result) *result = r;
  return rows.rows;
}

TPlanInputs Defaults2027() {
  TPlanInputs in;
  in.startDate = platform::EncodeDate(2027, 1, 15);
  return in;
}

}  // namespace

TEST(CommandLine, TableShowsTheGridAndTheLabels) {
  const ProcessRun r = Exec({"--print", "--beginn", "2027-01-15"});
  ASSERT_EQ(r.status, 0) << r.err.toStdString();
  const QStringList lines = r.out.split('\n');
  EXPECT_TRUE(lines[0].simplified() == QStringLiteral("Jahr Monat Tag Darlehen Tilgung Zins"));
  EXPECT_EQ(lines[1].simplified(), QStringLiteral("2027 2 15 9.958,33 € 41,67 € 33,33 €"));
  EXPECT_EQ(lines[121].simplified().left(10), QStringLiteral("2037 2 15 "));
  EXPECT_TRUE(lines[122].isEmpty());
  EXPECT_TRUE(r.out.contains(QStringLiteral("Kreditrate")));
  EXPECT_EQ(lines[123].simplified(), QStringLiteral("Kreditrate 75,00 €"));
  EXPECT_TRUE(lines[123].endsWith(QStringLiteral("75,00\u00A0€")));
  EXPECT_EQ(lines[124].simplified(), QStringLiteral("Tilgungsbegin 15.01.2027"));
  EXPECT_EQ(lines[125].simplified(), QStringLiteral("Zinsbindung 15.02.2037"));
  EXPECT_TRUE(lines[129].startsWith(QStringLiteral("Summe Tilgung+Zinsen+Restschuld ")));
  EXPECT_TRUE(r.err.isEmpty());
}

TEST(CommandLine, CsvGivesTheSameNumbersAsTheCalculation) {
  const ProcessRun r = Exec({"--print", "--beginn", "2027-01-31", "--zahlweise", "vierteljährlich",
                             "--betrag", "12345,67", "--format", "csv"});
  ASSERT_EQ(r.status, 0) << r.err.toStdString();
  TPlanInputs in = Defaults2027();
  in.startDate = platform::EncodeDate(2027, 1, 31);
  in.frequencyIndex = 1;
  in.amountText = "12345,67";
  const std::vector<TPlanRow> rows = Plan(in);
  QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), static_cast<qsizetype>(rows.size()) + 1);
  EXPECT_EQ(lines[0], QStringLiteral("Jahr,Monat,Tag,Darlehen,Tilgung,Zins"));
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const QStringList f = lines[i + 1].split(',');
    ASSERT_EQ(f.size(), 6);
    EXPECT_EQ(f[0].toInt(), rows[i].Jahr);
    EXPECT_EQ(f[1].toInt(), rows[i].Monat);
    EXPECT_EQ(f[2].toInt(), 31);
    // Round trip: the text reads back as exactly the computed double.
    EXPECT_EQ(f[3].toDouble(), rows[i].Darlehen);
    EXPECT_EQ(f[4].toDouble(), rows[i].Tilgung);
    EXPECT_EQ(f[5].toDouble(), rows[i].Zins);
  }

  // The plan until the loan is repaid in the same style: with no extras its
  // lines of the fixed period are these lines around Nr, Sondertilgung and
  // Rate.
  const ProcessRun full = Exec({"--bis-volltilgung", "--beginn", "2027-01-31", "--zahlweise",
                                "vierteljährlich", "--betrag", "12345,67", "--format", "csv"});
  ASSERT_EQ(full.status, 0) << full.err.toStdString();
  QStringList fullLines = full.out.split('\n');
  ASSERT_EQ(fullLines.takeLast(), QString());
  ASSERT_GT(fullLines.size(), lines.size());
  EXPECT_EQ(fullLines[0],
            QStringLiteral("Nr,Jahr,Monat,Tag,Darlehen,Tilgung,Sondertilgung,Zins,Rate"));
  for (qsizetype i = 1; i < lines.size(); ++i) {
    QStringList f = fullLines[i].split(',');
    ASSERT_EQ(f.size(), 9) << i;
    EXPECT_EQ(f[0].toInt(), i);
    EXPECT_EQ(f[6], QStringLiteral("0"));
    for (int k : {8, 6, 0}) f.removeAt(k);
    EXPECT_EQ(f.join(','), lines[i]) << i;
  }
}

TEST(CommandLine, JsonHoldsThePlanAndTheTotals) {
  const ProcessRun r = Exec({"--print", "--beginn=2027-01-31", "--zahlweise", "3", "--zinsbindung",
                             "100", "--format", "json"});
  ASSERT_EQ(r.status, 0) << r.err.toStdString();
  QJsonParseError error;
  const QJsonDocument doc = QJsonDocument::fromJson(r.out.toUtf8(), &error);
  ASSERT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
  const QJsonObject o = doc.object();

  TPlanInputs in = Defaults2027();
  in.startDate = platform::EncodeDate(2027, 1, 31);
  in.frequencyIndex = 3;
  in.termText = "100";
  TPlanResult result;
  const std::vector<TPlanRow> rows = Plan(in, &result);
  EXPECT_EQ(o["instalment"].toDouble(), 900);
  const QJsonArray jsonRows = o["rows"].toArray();
  ASSERT_EQ(jsonRows.size(), static_cast<qsizetype>(rows.size()));
  ASSERT_EQ(rows.size(), 11u);  // "100" is ten years
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const QJsonObject row = jsonRows[static_cast<qsizetype>(i)].toObject();
    EXPECT_EQ(row["Jahr"].toInt(), rows[i].Jahr);
    EXPECT_EQ(row["Monat"].toInt(), 1);
    EXPECT_EQ(row["Tag"].toInt(), 31);
    EXPECT_EQ(row["Darlehen"].toDouble(), rows[i].Darlehen);
    EXPECT_EQ(row["Tilgung"].toDouble(), rows[i].Tilgung);
    EXPECT_EQ(row["Zins"].toDouble(), rows[i].Zins);
  }
  EXPECT_EQ(o["remaining_debt"].toDouble(), result.balance);
  EXPECT_EQ(o["interest_total"].toDouble(), result.interestSum);
  EXPECT_EQ(o["repayment_total"].toDouble(), 10000 - result.balance);
  EXPECT_EQ(o["grand_total"].toDouble(), result.grandTotal);
  EXPECT_EQ(o["start_date"].toString(), QStringLiteral("2027-01-31"));
  EXPECT_EQ(o["last_date"].toString(), QStringLiteral("2038-01-31"));
}

TEST(CommandLine, InputsThatTakeTheErrorPathExitWithOne) {
  const struct {
    QStringList args;
    const char* names;
  } cases[] = {
      {{"--betrag", "10.000"}, "--betrag"},
      {{"--betrag", ""}, "--betrag"},
      {{"--zins", "4.5"}, "--zins"},
      {{"--tilgung", "NaN"}, "--tilgung"},
      {{"--zinsbindung", "x Jahre"}, "--zinsbindung"},
      {{"--beginn", "2028-02-29", "--zinsbindung", "5 Jahre"}, "--beginn"},
      // A long text is shortened in the message without splitting a character.
      {{"--tilgung", QString(199, 'x') + QStringLiteral("ää")}, "--tilgung"},
  };
  for (const auto& c : cases) {
    const ProcessRun r = Exec(QStringList{QStringLiteral("--print")} + c.args);
    EXPECT_EQ(r.status, 1) << c.names;
    EXPECT_TRUE(r.out.isEmpty()) << c.names;
    EXPECT_TRUE(r.err.startsWith(QStringLiteral("Fehler: "))) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QLatin1String(c.names))) << r.err.toStdString();
    EXPECT_EQ(r.err.count('\n'), 1) << r.err.toStdString();
    EXPECT_FALSE(r.err.contains(QChar::ReplacementCharacter)) << r.err.toStdString();
  }
}

TEST(CommandLine, WrongOptionsExitWithTwoAndHelpWithZero) {
  for (const QStringList& args :
       {QStringList{"--print", "--bogus"}, QStringList{"--print", "--format", "xml"},
        QStringList{"--print", "--beginn", "2023-02-29"},
        QStringList{"--print", "--beginn", "15.01.2027"}, QStringList{"--print", "--betrag"},
        QStringList{"--betrag", "5"}}) {
    const ProcessRun r = Exec(args);
    EXPECT_EQ(r.status, 2) << args.join(' ').toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("Aufruf: tilgungsplan"))) << r.err.toStdString();
    EXPECT_TRUE(r.out.isEmpty());
  }
  const ProcessRun help = Exec({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_TRUE(help.out.startsWith(QStringLiteral("Aufruf: tilgungsplan")));
  EXPECT_TRUE(help.err.isEmpty());
}

TEST(CommandLine, TheWindowWithoutADisplayExplainsInsteadOfAborting) {
  const QStringList headless = {"-DISPLAY", "-WAYLAND_DISPLAY", "-QT_QPA_PLATFORM"};
  const ProcessRun window = Exec({}, headless);
  EXPECT_EQ(window.status, 1);
  EXPECT_TRUE(window.err.contains(QStringLiteral("tilgungsplan --print")))
      << window.err.toStdString();
  const ProcessRun word = Exec({"foo"}, headless);
  EXPECT_EQ(word.status, 2);
  EXPECT_TRUE(word.err.contains(QStringLiteral("Aufruf: tilgungsplan"))) << word.err.toStdString();
}

// The window has no arguments of its own: with or without a display, what is
// left after the toolkit's options is a wrong call that names the word.
TEST(CommandLine, TheWindowTakesNoArgumentsOfItsOwn) {
  const QStringList headless = {"-DISPLAY", "-WAYLAND_DISPLAY", "-QT_QPA_PLATFORM"};
  const QStringList offscreen = {"QT_QPA_PLATFORM=offscreen"};
  const struct {
    QStringList args;
    QStringList env;
    int status;
    QString named;  // the word the message names, if any
  } cases[] = {
      {{"foo"}, offscreen, 2, "foo"},
      {{"-x"}, offscreen, 2, "-x"},
      {{"-style", "fusion", "bar"}, offscreen, 2, "bar"},
      {{"--screenshot", "out.png"}, offscreen, 2, "--screenshot"},
      {{"--screenshot", "out.png"}, headless, 2, "--screenshot"},
      {{"-x"}, headless, 1, ""},  // may be a toolkit option: only the display is missing
  };
  for (const auto& c : cases) {
    const ProcessRun r = Exec(c.args, c.env);
    EXPECT_EQ(r.status, c.status) << c.args.join(' ').toStdString();
    if (!c.named.isEmpty()) {
      EXPECT_TRUE(r.err.contains(c.named)) << r.err.toStdString();
      EXPECT_TRUE(r.err.contains(QStringLiteral("Aufruf: tilgungsplan"))) << r.err.toStdString();
    }
    EXPECT_TRUE(r.out.isEmpty());
  }
}

// The printed table holds exactly the cells and titles the window's grid
// shows for the same plan.
TEST(CommandLine, TableCellsAreTheGridsTexts) {
  TABSTable table(nullptr);
  ConfigurePlanComponent(table);
  TPlanTableSink sink(table);
  TPlanInputs in = Defaults2027();
  in.frequencyIndex = 1;
  in.termText = "3";
  ASSERT_TRUE(RecalculatePlan(in, sink).ok);
  const TPlanSheet grid = ReadPlanSheet(table);
  const ProcessRun r =
      Exec({"--print", "--beginn", "2027-01-15", "--zahlweise", "1", "--zinsbindung", "3"});
  ASSERT_EQ(r.status, 0) << r.err.toStdString();
  const QStringList lines = r.out.split('\n');
  ASSERT_GT(lines.size(), grid.RowCount());
  auto cellsOf = [](const QString& line) {
    // Cells are separated by at least two blanks; money holds single ones.
    return line.trimmed().split(QRegularExpression(QStringLiteral("\\s{2,}")));
  };
  auto listOf = [](const TPlanCells& cells) {
    QStringList list;
    for (const std::string& cell : cells) list << QString::fromStdString(cell);
    return list;
  };
  EXPECT_EQ(cellsOf(lines[0]), listOf(grid.titles));
  for (int row = 0; row < grid.RowCount(); ++row) {
    EXPECT_EQ(cellsOf(lines[row + 1]), listOf(grid.cells[row])) << row;
  }
  EXPECT_TRUE(lines[grid.RowCount() + 1].isEmpty());
}

TEST(CommandLine, FollowsTheUserLocaleAndNeedsNoDisplay) {
  // No display and a toolkit platform that would need one: --print must not
  // start the window toolkit at all.
  const QStringList headless = {"-DISPLAY", "-WAYLAND_DISPLAY", "QT_QPA_PLATFORM=xcb"};
  const ProcessRun us = Exec({"--print", "--betrag", "10000.5", "--beginn", "2027-01-15"},
                             headless + QStringList{"LANG=en_US.UTF-8"});
  ASSERT_EQ(us.status, 0) << us.err.toStdString();
  EXPECT_TRUE(us.out.contains(QStringLiteral("Tilgungsbegin   ")));
  EXPECT_TRUE(us.out.contains(QStringLiteral("1/15/2027")));
  EXPECT_EQ(
      Exec({"--print", "--betrag", "10000,5"}, headless + QStringList{"LANG=en_US.UTF-8"}).status,
      1);

  // The plan's cells read as the grid shows them: no decimals for the yen.
  const ProcessRun yen =
      Exec({"--print", "--beginn", "2027-01-15"}, headless + QStringList{"LANG=ja_JP.UTF-8"});
  ASSERT_EQ(yen.status, 0) << yen.err.toStdString();
  const QStringList yenLines = yen.out.split('\n');
  const QString symbol = QString::fromStdString(platform::FormatSettings("ja_JP").CurrencySymbol());
  EXPECT_EQ(yenLines[1].simplified(), QStringLiteral("2027 2 15 ") + symbol +
                                          QStringLiteral("9,958 ") + symbol +
                                          QStringLiteral("42 ") + symbol + QStringLiteral("33"));
  EXPECT_TRUE(yen.out.contains(QStringLiteral("75.00")));

  // No locale chosen means German conventions.
  const ProcessRun c = Exec({"--print", "--betrag", "10000,5", "--beginn", "2027-01-15"},
                            headless + QStringList{"LANG=C"});
  ASSERT_EQ(c.status, 0) << c.err.toStdString();
  EXPECT_TRUE(c.out.contains(QStringLiteral("75,00\u00A0€")));
}

// The plan until the loan is repaid: every form, its exit status and what
// stderr names.
TEST(CommandLine, FullRepaymentFormsAndTheirExitStatus) {
  const QString pdf = QDir::temp().filePath(QStringLiteral("cli-volltilgung.pdf"));
  QFile::remove(pdf);
  QStringList fifty, fiftyOne;
  for (int i = 1; i <= 51; ++i) {
    (i <= 50 ? fifty : fiftyOne)
        << "--einmalig" << QStringLiteral("2030-01-%1=10").arg(i % 28 + 1, 2, 10, QChar('0'));
  }
  fiftyOne = fifty + fiftyOne;
  const struct {
    QStringList args;
    int status;
    QString out;    // how stdout begins ("" for empty)
    QString named;  // what stderr names ("" for nothing on stderr)
  } cases[] = {
      {{"--bis-volltilgung"}, 0, " Nr  Jahr", ""},
      {{"--print", "--bis-volltilgung", "--format", "csv"}, 0, "Nr,Jahr,Monat,Tag,Darlehen", ""},
      {{"--bis-volltilgung", "--format", "pdf", "--output", pdf}, 0, "", ""},
      {{"--bis-volltilgung", "--format", "pdf", "--output", "/dev/full"}, 3, "", "/dev/full"},
      {{"--bis-volltilgung", "--output", "/dev/full"}, 3, "", "/dev/full"},
      {{"--bis-volltilgung", "--einmalig", "2027-01-15=100"}, 0, " Nr", "--einmalig"},
      {QStringList{"--bis-volltilgung"} + fifty, 0, " Nr", ""},
      {QStringList{"--bis-volltilgung"} + fiftyOne, 2, "", "höchstens 50"},
      {{"--print", "--anschlusszins", "5"}, 2, "", "--anschlusszins"},
      {{"--sondertilgung", "5"}, 2, "", "--sondertilgung"},
      {{"--bis-volltilgung", "--betrag", "10.000"}, 1, "", "(--betrag) \"10.000\""},
      {{"--bis-volltilgung", "--anschlusszins", "x%"}, 1, "", "--anschlusszins) \"x%\""},
      {{"--bis-volltilgung", "--sondertilgung", "-5"}, 1, "", "--sondertilgung) \"-5\""},
      {{"--bis-volltilgung", "--sondertilgung-monat", "13"}, 1, "", "--sondertilgung-monat"},
      {{"--bis-volltilgung", "--sondertilgung-ab", "nächstes"}, 1, "", "--sondertilgung-ab"},
      {{"--bis-volltilgung", "--sondertilgung-max", "-1"}, 1, "", "--sondertilgung-max"},
      {{"--bis-volltilgung", "--einmalig", "2030-02-30=5"}, 1, "", "--einmalig) \"2030-02-30"},
      {{"--bis-volltilgung", "--einmalig", "2030-01-01"}, 1, "", "--einmalig"},
      {{"--bis-volltilgung", "--einmalig", "2030-01-01=1\n0"}, 1, "", "\"1\\n0\""},
  };
  for (const auto& c : cases) {
    const ProcessRun r =
        Exec(QStringList{"--beginn", "2027-01-15", "--sondertilgung-max", "5"} + c.args);
    const std::string call = c.args.join(' ').left(80).toStdString();
    EXPECT_EQ(r.status, c.status) << call << "\n" << r.err.toStdString();
    EXPECT_TRUE(c.out.isEmpty() ? r.out.isEmpty() : r.out.startsWith(c.out)) << call;
    if (c.named.isEmpty()) {
      EXPECT_TRUE(r.err.isEmpty()) << call << "\n" << r.err.toStdString();
    } else {
      EXPECT_TRUE(r.err.contains(c.named)) << call << "\n" << r.err.toStdString();
    }
    // Bad input is one German line.
    if (c.status == 1) {
      EXPECT_EQ(r.err.count('\n'), 1) << r.err.toStdString();
    }
  }
  QFile file(pdf);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_TRUE(file.read(5) == "%PDF-");
}

TEST(CommandLine, FullRepaymentJsonHoldsTheCalculationsResults) {
  const ProcessRun r = Exec({"--bis-volltilgung", "--beginn", "2027-01-31", "--format", "json",
                             "--tilgung", "2", "--anschlusszins", "6,5", "--sondertilgung", "700",
                             "--sondertilgung-monat", "6", "--sondertilgung-max", "5", "--einmalig",
                             "2029-03-01=600", "--einmalig", "2029-01-10=300"});
  ASSERT_EQ(r.status, 0) << r.err.toStdString();
  QJsonParseError error;
  const QJsonObject o = QJsonDocument::fromJson(r.out.toUtf8(), &error).object();
  ASSERT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();

  TFullRepaymentInputs in;
  in.plan = Defaults2027();
  in.plan.startDate = platform::EncodeDate(2027, 1, 31);
  in.plan.repaymentText = "2";
  in.followRateText = "6,5";
  in.yearlyAmountText = "700";
  in.yearlyMonthText = "6";
  in.capText = "5";
  in.oneOffs = {{platform::EncodeDate(2029, 3, 1), "600"},
                {platform::EncodeDate(2029, 1, 10), "300"}};
  TFullRepaymentRowVector rows;
  const TFullRepaymentResult x = CalculateFullRepayment(in, rows);
  ASSERT_TRUE(x.ok && x.debtFreeDate && x.interestSaved && x.monthsSaved);
  ASSERT_GT(x.heldBack, 0);  // the cap cuts the year of the one-offs
  const std::pair<const char*, double> numbers[] = {{"instalment", x.instalment},
                                                    {"follow_rate", 6.5},
                                                    {"instalment_count", x.rowCount},
                                                    {"interest_total", x.interestSum},
                                                    {"extra_total", x.extraSum},
                                                    {"extra_held_back", x.heldBack},
                                                    {"fixed_period_debt", x.fixedPeriodDebt},
                                                    {"remaining_debt", x.balance},
                                                    {"term_months", x.termMonths},
                                                    {"interest_saved", *x.interestSaved},
                                                    {"months_saved", *x.monthsSaved}};
  for (const auto& [name, value] : numbers) EXPECT_EQ(o[name].toDouble(), value) << name;
  EXPECT_EQ(o["end"].toString(), QStringLiteral("cleared"));
  int y, m, d;
  platform::DecodeDate(*x.debtFreeDate, y, m, d);
  EXPECT_EQ(o["debt_free_date"].toString(),
            QStringLiteral("%1-%2-%3").arg(y).arg(m, 2, 10, QChar('0')).arg(d, 2, 10, QChar('0')));
  const QJsonArray jsonRows = o["rows"].toArray();
  ASSERT_EQ(jsonRows.size(), static_cast<qsizetype>(rows.rows.size()));
  for (std::size_t i = 0; i < rows.rows.size(); ++i) {
    const QJsonObject row = jsonRows[static_cast<qsizetype>(i)].toObject();
    const TFullRepaymentRow& e = rows.rows[i];
    const TFullRepaymentRow got{row["Nr"].toInt(),
                                row["Jahr"].toInt(),
                                row["Monat"].toInt(),
                                row["Tag"].toInt(),
                                row["Darlehen"].toDouble(),
                                row["Tilgung"].toDouble(),
                                row["Sondertilgung"].toDouble(),
                                row["Zins"].toDouble(),
                                row["Rate"].toDouble()};
    EXPECT_EQ(got, e) << i;
  }
}
