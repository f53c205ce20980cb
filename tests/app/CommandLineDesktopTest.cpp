// The command line's PDF report and the mended wrong calls, run as the built
// executable.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <functional>
#include <thread>

namespace {

struct TRun {
  int status = -1;
  QString out;
  QString err;
};

TRun Exec(const QString& program, const QStringList& args, const QStringList& env = {},
          const std::function<void(QProcess&)>& setup = {}) {
  QProcess p;
  if (setup) setup(p);
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
  p.start(program, args);
  p.closeWriteChannel();
  TRun r;
  if (!p.waitForFinished(60000)) return r;
  r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
  r.out = QString::fromUtf8(p.readAllStandardOutput());
  r.err = QString::fromUtf8(p.readAllStandardError());
  return r;
}

TRun Tilgungsplan(const QStringList& args, const QStringList& env = {},
                  const std::function<void(QProcess&)>& setup = {}) {
  return Exec(QStringLiteral(TILGUNGSPLAN_EXE), args, env, setup);
}

QByteArray Contents(const QString& file) {
  QFile in(file);
  return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray("(nicht lesbar)");
}

QStringList Entries(const QString& folder) {
  return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                QDir::NoDotAndDotDot);
}

const QStringList kHeadless = {"-DISPLAY", "-WAYLAND_DISPLAY", "QT_QPA_PLATFORM=xcb"};

int PdfPages(const QString& file) {
  const TRun info = Exec(QStringLiteral("pdfinfo"), {file});
  const QRegularExpressionMatch m =
      QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)")).match(info.out);
  return m.hasMatch() ? m.captured(1).toInt() : -1;
}

}  // namespace

// pdftotext finds the inputs, the first and the last row, the totals and the
// page numbers, for both plans; a longer plan takes more pages. No display is
// needed.
TEST(CommandLinePdf, TheReportHoldsThePlanOnNumberedPages) {
  QTemporaryDir dir;
  const struct {
    QStringList plan;
    const char* firstRow;
    const char* lastRow;
    const char* result;  // one of the results above the plan
  } cases[] = {
      {{"--bis-volltilgung", "--sondertilgung", "1000"},
       "1 2027 2 15 9.958,33 € 41,67 € 0,00 € 33,33 € 75,00 €",
       "72 2033 1 15 0,00 €",
       "Schuldenfrei am"},
      {{"--print", "--zinsbindung", "10 Jahre"},
       "2027 2 15 9.958,33 € 41,67 € 33,33 €",
       "2037 2 15 ",
       "Summe Tilgung+Zinsen+Restschuld"},
      {{"--print", "--zinsbindung", "30 Jahre"},
       "2027 2 15 9.958,33 € 41,67 € 33,33 €",
       "2041 10 15 0,00 €",
       "Summe Tilgung+Zinsen+Restschuld"},
  };
  int previousPages = 0;
  for (const auto& c : cases) {
    const std::string name = c.plan.join(' ').toStdString();
    const QString file = dir.filePath(QStringLiteral("plan%1.pdf").arg(previousPages));
    const TRun r = Tilgungsplan(
        c.plan + QStringList{"--beginn", "2027-01-15", "--format", "pdf", "--output", file},
        kHeadless);
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.isEmpty());
    EXPECT_TRUE(r.err.isEmpty()) << r.err.toStdString();
    const TRun text = Exec(QStringLiteral("pdftotext"), {file, QStringLiteral("-")});
    ASSERT_EQ(text.status, 0) << text.err.toStdString();
    // pdftotext puts the cells of a row on one line, or each on its own:
    // compare with all white space folded.
    const QString flat = text.out.simplified();
    EXPECT_TRUE(flat.contains(QStringLiteral("Darlehens Tilgungsplan")));
    EXPECT_TRUE(flat.contains(QStringLiteral("Seite 1 von "))) << name;
    EXPECT_TRUE(flat.contains(QString::fromUtf8(c.result))) << name;
    const TRun table = Tilgungsplan(c.plan + QStringList{"--beginn", "2027-01-15"}, kHeadless);
    ASSERT_EQ(table.status, 0);
    // The table output's first and last rows and the totals are in the PDF.
    QStringList rows = table.out.split('\n');
    const int blank = static_cast<int>(rows.indexOf(QString()));
    ASSERT_GT(blank, 2);
    const QString first = rows[1].simplified();
    const QString last = rows[blank - 1].simplified();
    EXPECT_EQ(first, QString::fromUtf8(c.firstRow));
    EXPECT_TRUE(last.startsWith(QString::fromUtf8(c.lastRow))) << last.toStdString();
    const QString layout =
        Exec(QStringLiteral("pdftotext"), {"-layout", file, QStringLiteral("-")}).out;
    QStringList layoutLines;
    for (const QString& line : layout.split('\n')) layoutLines << line.simplified();
    EXPECT_TRUE(layoutLines.contains(first)) << first.toStdString();
    EXPECT_TRUE(layoutLines.contains(last)) << last.toStdString();
    for (const QString& total : rows.mid(blank + 1)) {
      if (total.isEmpty()) continue;
      EXPECT_TRUE(layoutLines.contains(total.simplified())) << total.toStdString();
    }
    const int pages = PdfPages(file);
    EXPECT_TRUE(flat.contains(QStringLiteral("Seite %1 von %1").arg(pages))) << pages;
    EXPECT_GT(pages, previousPages) << name;
    previousPages = pages;
  }
}

TEST(CommandLinePdf, WithoutAWritableFileItIsAWrongCallOrAnError) {
  QTemporaryDir dir;
  const TRun noFile = Tilgungsplan({"--print", "--format", "pdf"}, kHeadless);
  EXPECT_EQ(noFile.status, 2);
  EXPECT_TRUE(noFile.err.contains(QStringLiteral("--output"))) << noFile.err.toStdString();
  const TRun missingDir = Tilgungsplan(
      {"--print", "--format", "pdf", "--output", dir.filePath(QStringLiteral("fehlt/x.pdf"))},
      kHeadless);
  EXPECT_EQ(missingDir.status, 3);
  EXPECT_TRUE(missingDir.err.startsWith(QStringLiteral("Fehler: ")))
      << missingDir.err.toStdString();
  // --output works for the text formats as well.
  const QString csv = dir.filePath(QStringLiteral("plan.csv"));
  const TRun toFile =
      Tilgungsplan({"--print", "--beginn", "2027-01-15", "--format", "csv", "--output", csv});
  ASSERT_EQ(toFile.status, 0) << toFile.err.toStdString();
  EXPECT_TRUE(toFile.out.isEmpty());
  QFile in(csv);
  ASSERT_TRUE(in.open(QIODevice::ReadOnly));
  EXPECT_TRUE(in.readAll().startsWith("Jahr,Monat,Tag,Darlehen,Tilgung,Zins\n2027,2,15,"));
}

// Each mended case: its exit status and what its message must (and must not)
// hold.
TEST(CommandLineMended, WrongInputsAndCallsSayWhatIsWrongSafely) {
  const QString longText = QString(500, QLatin1Char('7'));
  const struct {
    QStringList args;
    QStringList env;
    int status;
    QString says;
    QString neverSays;
  } cases[] = {
      // A total beyond the range of doubles is no plan.
      {{"--print", "--betrag", "1,7e308"}, {}, 1, "außerhalb des Zahlenbereichs", "INF"},
      {{"--print", "--betrag", "1,7e308", "--format", "json"}, {}, 1, "Zahlenbereichs", "null"},
      // Control characters are shown escaped, never passed to the terminal.
      {{"--print", "--betrag", "1\x1b[2J"}, {}, 1, "\"1\\x1B[2J\"", "\x1b"},
      {{"--print", "--zins", "4\t5"}, {}, 1, "\"4\\t5\"", "\t"},
      {{"--print", "--bogus\x07"}, {}, 2, "--bogus\\x07", "\x07"},
      {{"--print", "--format", "x\x1b"}, {}, 2, "\"x\\x1B\"", "\x1b"},
      {{"wort\x1b"}, {"QT_QPA_PLATFORM=offscreen"}, 2, "\"wort\\x1B\"", "\x1b"},
      // A long text is cut.
      {{"--print", "--betrag", longText}, {}, 1, "7777\"…", longText},
      {{"--print", "--beginn", longText}, {}, 2, "7777\"…", longText},
      // A payment frequency the program does not know is a wrong call.
      {{"--print", "--zahlweise", "wöchentlich"}, {}, 2, "monatlich, vierteljährlich", ""},
      {{"--print", "--zahlweise", "4"}, {}, 2, "0 bis 3: \"4\"", ""},
      {{"--print", "--zahlweise", "-1"}, {}, 2, "0 bis 3", ""},
      {{"--print", "--zahlweise", ""}, {}, 2, "0 bis 3: \"\"", ""},
      // A display that is named but does not answer: the program's message.
      {{}, {"DISPLAY=:93", "-WAYLAND_DISPLAY", "-QT_QPA_PLATFORM"}, 1, "nicht erreichbar", ""},
      {{},
       {"-DISPLAY", "WAYLAND_DISPLAY=nowhere-0", "QT_QPA_PLATFORM=wayland"},
       1,
       "nicht erreichbar",
       ""},
  };
  for (const auto& c : cases) {
    const TRun r = Tilgungsplan(c.args, c.env);
    const std::string name = c.args.join(' ').left(60).toStdString();
    EXPECT_EQ(r.status, c.status) << name << "\n" << r.err.toStdString();
    EXPECT_TRUE(r.out.isEmpty()) << name;
    EXPECT_TRUE(r.err.contains(c.says)) << name << "\n" << r.err.toStdString();
    if (!c.neverSays.isEmpty()) {
      EXPECT_FALSE(r.err.contains(c.neverSays)) << name;
    }
    EXPECT_FALSE(r.err.contains(QChar::ReplacementCharacter)) << name;
  }
  // The payment frequency's valid values still work, by text and by number.
  for (const char* value : {"monatlich", "vierteljährlich", "halbjährlich", "jährlich", "0", "3"}) {
    EXPECT_EQ(Tilgungsplan({"--print", "--zahlweise", value}).status, 0) << value;
  }
}

// A write that fails exits with 3 and one German line naming the file and
// the reason; an older file stays as it was and no new file is left behind.
// A file size limit stands in for a full disk, also when run as root.
TEST(CommandLineOutput, AFailedWriteKeepsTheOldFileAndExitsWithThree) {
  QTemporaryDir dir;
  const QString old = dir.filePath(QStringLiteral("alt.csv"));
  const QString readOnly = dir.filePath(QStringLiteral("nur-lesen"));
  ASSERT_TRUE(QDir().mkpath(readOnly));
  const QString lockedOld = readOnly + QStringLiteral("/alt.csv");
  const auto sizeLimit = [](QProcess& p) {
    p.setChildProcessModifier([] {
      const rlimit limit{1024, 1024};
      ::setrlimit(RLIMIT_FSIZE, &limit);
      ::signal(SIGXFSZ, SIG_IGN);
    });
  };
  const auto fullStdout = [](QProcess& p) { p.setStandardOutputFile(QStringLiteral("/dev/full")); };
  const QString noSpace =
      QStringLiteral("konnte nicht geschrieben werden: kein Speicherplatz mehr frei.");
  const struct {
    const char* name;
    QStringList args;
    std::function<void(QProcess&)> setup;
    QString says;
  } cases[] = {
      {"csv to /dev/full",
       {"--format", "csv", "--output", "/dev/full"},
       {},
       "\"/dev/full\" " + noSpace},
      {"pdf to /dev/full",
       {"--format", "pdf", "--output", "/dev/full"},
       {},
       "\"/dev/full\" " + noSpace},
      {"table to standard output on /dev/full",
       {},
       fullStdout,
       "Die Standardausgabe konnte nicht geschrieben werden: kein Speicherplatz mehr frei."},
      {"json into a missing folder",
       {"--format", "json", "--output", dir.filePath("fehlt/x.json")},
       {},
       "den Ordner gibt es nicht"},
      {"pdf into a folder named with an escape",
       {"--format", "pdf", "--output", dir.filePath("f\x1b/x.pdf")},
       {},
       "f\\x1B/x.pdf\" konnte nicht geschrieben werden: den Ordner gibt es nicht."},
      {"table onto a folder", {"--output", readOnly}, {}, "das ist ein Ordner"},
      {"csv over an old file, too large",
       {"--format", "csv", "--output", old},
       sizeLimit,
       "die Datei wäre zu groß"},
      {"pdf over an old file, too large",
       {"--format", "pdf", "--output", old},
       sizeLimit,
       "die Datei wäre zu groß"},
      {"csv over an old file in a read-only folder",
       {"--format", "csv", "--output", lockedOld},
       {},
       "keine Berechtigung"},
  };
  for (const QString& file : {old, lockedOld}) {
    QFile out(file);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write("alt\n");
  }
  ASSERT_EQ(::chmod(QFile::encodeName(readOnly).constData(), 0555), 0);
  // Root writes into a read-only folder all the same.
  const bool canLock = ::access(QFile::encodeName(readOnly).constData(), W_OK) != 0;
  for (const auto& c : cases) {
    if (!canLock && c.args.contains(lockedOld)) continue;
    const TRun r = Tilgungsplan(QStringList{"--print"} + c.args, kHeadless, c.setup);
    EXPECT_EQ(r.status, 3) << c.name << "\n" << r.err.toStdString();
    EXPECT_TRUE(r.err.startsWith(QStringLiteral("Fehler: "))) << c.name;
    EXPECT_TRUE(r.err.contains(c.says)) << c.name << "\n" << r.err.toStdString();
    EXPECT_EQ(r.err.count('\n'), 1) << c.name << "\n" << r.err.toStdString();
    EXPECT_FALSE(r.err.contains(QChar(0x1b))) << c.name;
    EXPECT_EQ(Contents(old), "alt\n") << c.name;
    EXPECT_EQ(Contents(lockedOld), "alt\n") << c.name;
    EXPECT_EQ(Entries(dir.path()), QStringList({"alt.csv", "nur-lesen"})) << c.name;
    EXPECT_EQ(Entries(readOnly), QStringList{"alt.csv"}) << c.name;
  }
  ::chmod(QFile::encodeName(readOnly).constData(), 0755);
}

// A regular file is replaced whole, keeping its mode and leaving nothing
// else in the folder; a link is followed and stays a link; a pipe is written
// directly and stays a pipe.
TEST(CommandLineOutput, ReplacesFilesFollowsLinksAndWritesPipesDirectly) {
  QTemporaryDir dir;
  const QString file = dir.filePath(QStringLiteral("plan.pdf"));
  const QString link = dir.filePath(QStringLiteral("verweis.pdf"));
  const QString fifo = dir.filePath(QStringLiteral("rohr"));
  {
    QFile out(file);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write("alt\n");
  }
  ASSERT_EQ(::chmod(QFile::encodeName(file).constData(), 0640), 0);
  ASSERT_TRUE(QFile::link(QStringLiteral("plan.pdf"), link));
  ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
  for (const QString& target : {file, link}) {
    const TRun r = Tilgungsplan({"--print", "--format", "pdf", "--output", target}, kHeadless);
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_TRUE(Contents(file).startsWith("%PDF")) << target.toStdString();
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(file).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(Entries(dir.path()), QStringList({"plan.pdf", "rohr", "verweis.pdf"}));
  }
  QByteArray piped;
  std::thread reader([&] { piped = Contents(fifo); });
  const TRun r = Tilgungsplan({"--print", "--format", "csv", "--output", fifo});
  // A program that never opened the pipe must not leave the reader waiting.
  if (const int fd = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK); fd >= 0) {
    ::close(fd);
  }
  reader.join();
  EXPECT_EQ(r.status, 0) << r.err.toStdString();
  EXPECT_TRUE(piped.startsWith("Jahr,Monat,Tag,Darlehen,Tilgung,Zins\n"))
      << piped.left(80).toStdString();
  struct stat st {};
  ASSERT_EQ(::lstat(QFile::encodeName(fifo).constData(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  EXPECT_EQ(Entries(dir.path()), QStringList({"plan.pdf", "rohr", "verweis.pdf"}));
}
