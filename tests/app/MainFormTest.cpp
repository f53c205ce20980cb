#include "app/MainForm.h"

#include <gtest/gtest.h>

#include <QDesktopServices>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>

#include "app/PlanSheet.h"
#include "platform/locale/Locale.h"
#include "platform/os/DateTime.h"

using namespace tilgung;

// Readable failure output for geometry comparisons.
void PrintTo(const QRect& r, std::ostream* os) {
  *os << "(" << r.x() << ", " << r.y() << ", " << r.width() << " x " << r.height() << ")";
}

namespace {

// Rows of the plan the window's table holds (none while it is closed).
int PlanRowCount(TForm1& f) {
  return f.ABSTable1->Active() ? f.ABSTable1->RecordCount() : 0;
}

// A cell's display text as the grid's fields give it, read from the table.
QString PlanCell(TForm1& f, int row, int column) {
  return QString::fromStdString(ReadPlanSheet(*f.ABSTable1).cells.at(row).at(column));
}

}  // namespace
void PrintTo(const QSize& s, std::ostream* os) {
  *os << s.width() << " x " << s.height();
}

namespace {

// Receives the addresses the desktop would open.
class UrlRecorder : public QObject {
  Q_OBJECT
 public:
  QList<QUrl> urls;
 public slots:
  void open(const QUrl& url) { urls.push_back(url); }
};

// Types text as key presses; unlike QTest::keyClicks it takes any character.
void TypeText(QWidget* w, const QString& text) {
  for (QChar ch : text) {
    QTest::sendKeyEvent(QTest::Press, w, Qt::Key_unknown, QString(ch), Qt::NoModifier);
    QTest::sendKeyEvent(QTest::Release, w, Qt::Key_unknown, QString(ch), Qt::NoModifier);
  }
}

QString Nbsp() {
  return QString(QChar(0x00A0));
}

QList<QLabel*> ValueLabels(TForm1& f) {
  return {f.Label16, f.Label17, f.Label18, f.Label19, f.Label20, f.Label21, f.Label22, f.Label26};
}

// Switches the user's locale for one test and restores the German one.
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

void ExpectGeometry(QWidget* w, int left, int top, int width, int height) {
  EXPECT_EQ(w->geometry(), QRect(left, top, width, height)) << w->objectName().toStdString();
}

}  // namespace

// The layout's fixed numbers are checked where a slip would go unseen:
// the border around the client area, the docking of the panels, the grid.
TEST(MainForm, LayoutIsBuiltAsDesigned) {
  TForm1 f;
  EXPECT_EQ(f.windowTitle(), QStringLiteral("Darlehens Tilgungsplan"));
  EXPECT_EQ(f.ClientArea()->size(), QSize(454, 395));
  EXPECT_EQ(f.size(), QSize(474, 415));  // border of 10 around the client area
  EXPECT_EQ(f.font().pixelSize(), 13);
  ExpectGeometry(f.ComboBox4, 247, 72, 81, 24);
  ExpectGeometry(f.Label15, 8, 72, 297, 16);
  EXPECT_EQ(f.ClientArea()->findChild<QLabel*>(QStringLiteral("Label26")), f.Label26);

  // Docked panels, bottom up, full width; the grid and the link fill theirs.
  ExpectGeometry(f.Panel2, 0, 362, 454, 33);
  ExpectGeometry(f.Panel3, 0, 208, 454, 154);
  ExpectGeometry(f.Panel1, 0, 111, 454, 97);
  EXPECT_EQ(f.DBGrid1->parentWidget(), f.Panel3);
  EXPECT_EQ(f.DBGrid1->geometry(), f.Panel3->ClientRect());
  EXPECT_EQ(f.Label27->geometry(), f.Panel2->ClientRect());

  EXPECT_FALSE(f.ComboBox2->isEnabled());
  EXPECT_FALSE(f.ComboBox3->isEnabled());
  EXPECT_TRUE(f.ComboBox1->isEditable() && f.ComboBox4->isEditable());
  EXPECT_EQ(f.ComboBox4->currentText(), QStringLiteral("10 Jahre"));
  EXPECT_TRUE(f.Label11->isHidden());
  EXPECT_FALSE(f.Label18->isHidden());
  EXPECT_TRUE(f.Label26->font().bold());
  EXPECT_EQ(f.Label26->font().pixelSize(), 11);
  EXPECT_EQ(f.Label25->palette().color(QPalette::Window), f.palette().color(QPalette::ToolTipBase));
  EXPECT_TRUE(f.Label27->text().endsWith(QStringLiteral(" tilgungsplan.example.org")));
  EXPECT_TRUE(f.Label15->alignment() & Qt::AlignRight);
  EXPECT_TRUE(f.Label27->alignment() & Qt::AlignHCenter);
  EXPECT_TRUE(f.Label27->font().underline());
  EXPECT_EQ(f.Label27->palette().color(QPalette::WindowText), QColor(Qt::blue));
  EXPECT_EQ(f.Label27->cursor().shape(), Qt::PointingHandCursor);
  EXPECT_EQ(f.Panel1->BevelInner(), platform::TPanel::TBevel::Lowered);
  EXPECT_EQ(f.Panel3->Caption(), QStringLiteral("Tilgungplan anzeigen"));
  EXPECT_EQ(f.Panel3->cursor().shape(), Qt::PointingHandCursor);
  EXPECT_EQ(QCoreApplication::applicationName(), QStringLiteral("Zadudoverazurorurur"));

  const char* titles[] = {"Jahr", "Monat", "Tag", "Darlehen", "Tilgung", "Zins"};
  const int widths[] = {57, 44, 43, 101, 80, 79};
  ASSERT_EQ(f.DBGrid1->ColumnCount(), 6);
  for (int c = 0; c < 6; ++c) {
    EXPECT_EQ(f.DBGrid1->Column(c).fieldName, QString::fromLatin1(titles[c]));
    EXPECT_EQ(f.DBGrid1->Column(c).width, widths[c]);
  }
  EXPECT_EQ(f.DBGrid1->TitleFont().family(), QStringLiteral("Arial"));
  EXPECT_EQ(f.DBGrid1->TitleFont().pixelSize(), 13);
  EXPECT_EQ(f.DBGrid1->DataSource(), f.DataSource1);
  EXPECT_EQ(f.DataSource1->DataSet(), f.ABSTable1);
  EXPECT_EQ(f.ABSTable1->DatabaseName(), "MEMORY");
  EXPECT_TRUE(f.ABSTable1->InMemory());
  EXPECT_EQ(f.ABSTable1->CurrentVersion(), "6.07 ");
  EXPECT_FALSE(f.ABSTable1->Active());
}

TEST(MainForm, StartsWithTodayBlankLabelsAndNoPlan) {
  TForm1 f;
  int y, m, d;
  platform::DecodeDate(platform::Today(), y, m, d);
  EXPECT_EQ(f.DateTimePicker1->date(), QDate(y, m, d));
  EXPECT_EQ(f.DateTimePicker1->displayFormat(), QStringLiteral("dd.MM.yyyy"));
  EXPECT_TRUE(f.DateTimePicker1->calendarPopup());
  EXPECT_EQ(f.RecalculationCount(), 0);
  EXPECT_EQ(PlanRowCount(f), 0);
  for (QLabel* label : ValueLabels(f)) EXPECT_TRUE(label->text().isEmpty());
}

TEST(MainForm, TypingIntoEachBoundControlRecalculates) {
  TForm1 f;
  f.show();
  f.DateTimePicker1->setDate(QDate(2027, 1, 15));
  ASSERT_EQ(f.RecalculationCount(), 1);
  EXPECT_EQ(f.Label26->text(), QStringLiteral("75,00") + Nbsp() + QStringLiteral("€"));
  EXPECT_EQ(f.Label16->text(), QStringLiteral("15.01.2027"));
  EXPECT_EQ(f.Label17->text(), QStringLiteral("15.02.2037"));
  EXPECT_EQ(PlanRowCount(f), 121);
  EXPECT_EQ(PlanCell(f, 0, 3), QStringLiteral("9.958,33") + Nbsp() + QStringLiteral("€"));
  EXPECT_EQ(PlanCell(f, 0, 0), QStringLiteral("2027"));

  int count = f.RecalculationCount();
  QTest::keyClicks(f.Edit1, "0");  // 100000
  EXPECT_EQ(f.RecalculationCount(), ++count);
  EXPECT_EQ(f.Label26->text(), QStringLiteral("750,00") + Nbsp() + QStringLiteral("€"));

  QTest::keyClick(f.Edit3, Qt::Key_Backspace);  // rate "" -> error path
  EXPECT_EQ(f.RecalculationCount(), ++count);
  EXPECT_EQ(f.Label17->text(), QStringLiteral("0"));
  QTest::keyClicks(f.Edit3, "4");
  EXPECT_EQ(f.RecalculationCount(), ++count);

  QTest::keyClicks(f.Edit4, "0");  // 50 percent repayment
  EXPECT_EQ(f.RecalculationCount(), ++count);
  EXPECT_EQ(f.Label26->text(), QStringLiteral("4.500,00") + Nbsp() + QStringLiteral("€"));

  // Typing into a combo box: the typed text decides the selected item.
  f.ComboBox1->lineEdit()->selectAll();
  TypeText(f.ComboBox1->lineEdit(), QStringLiteral("jährlich"));
  EXPECT_GT(f.RecalculationCount(), count);
  count = f.RecalculationCount();
  EXPECT_EQ(TForm1::ItemIndex(f.ComboBox1), 3);
  EXPECT_EQ(f.LastResult().frequency, 3);
  EXPECT_EQ(f.Label26->text(), QStringLiteral("54.000,00") + Nbsp() + QStringLiteral("€"));

  f.ComboBox4->lineEdit()->selectAll();
  QTest::keyClicks(f.ComboBox4->lineEdit(), "7");
  EXPECT_EQ(f.RecalculationCount(), ++count);
  EXPECT_EQ(f.LastResult().termYears, 7);

  QTest::keyClick(f.DateTimePicker1, Qt::Key_Up);  // the day section steps
  EXPECT_EQ(f.RecalculationCount(), ++count);
  EXPECT_EQ(f.Label16->text(), QStringLiteral("16.01.2027"));
}

// Grid cells take the decimals of the locale's currency; the result labels
// always show two.
TEST(MainForm, GridCellsUseTheCurrencyDecimalsOfTheLocale) {
  const ScopedLang yen("ja_JP.UTF-8");
  const QString symbol = QString::fromStdString(platform::FormatSettings::User().CurrencySymbol());
  TForm1 f;
  f.DateTimePicker1->setDate(QDate(2027, 1, 15));
  ASSERT_TRUE(f.LastResult().ok);
  EXPECT_EQ(PlanCell(f, 0, 3), symbol + QStringLiteral("9,958"));
  EXPECT_EQ(PlanCell(f, 0, 5), symbol + QStringLiteral("33"));
  EXPECT_EQ(f.Label26->text(), symbol + QStringLiteral("75.00"));
}

TEST(MainForm, OtherControlsDoNotRecalculate) {
  TForm1 f;
  f.show();
  QTest::keyClicks(f.ComboBox2, "x");
  QTest::keyClicks(f.ComboBox3, "x");
  QTest::mouseClick(f.Label1, Qt::LeftButton);
  QTest::mouseClick(f.Panel1, Qt::LeftButton);
  QTest::mouseClick(f.DBGrid1->viewport(), Qt::LeftButton);
  f.ComboBox2->setCurrentIndex(2);  // even when changed by program
  EXPECT_EQ(f.RecalculationCount(), 0);
  for (QLabel* label : ValueLabels(f)) EXPECT_TRUE(label->text().isEmpty());
}

TEST(MainForm, FreeTextInTheFrequencyBoxCountsAsMonthly) {
  TForm1 f;
  f.ComboBox1->setEditText(QStringLiteral("wöchentlich"));
  EXPECT_EQ(TForm1::ItemIndex(f.ComboBox1), -1);
  EXPECT_EQ(f.LastResult().frequency, 0);
  EXPECT_TRUE(f.LastResult().ok);
  f.ComboBox1->setCurrentIndex(2);
  EXPECT_EQ(f.LastResult().frequency, 2);
}

TEST(MainForm, ErrorPathShowsTheTypedTextsAndKeepsThePlan) {
  TForm1 f;
  f.DateTimePicker1->setDate(QDate(2028, 2, 15));
  ASSERT_EQ(PlanRowCount(f), 121);
  const QString instalment = f.Label26->text();

  // A failure before the table steps (29 February plus ten years) leaves the
  // previous plan and the previous instalment... until a new one is reached.
  f.DateTimePicker1->setDate(QDate(2028, 2, 29));
  EXPECT_FALSE(f.LastResult().ok);
  EXPECT_EQ(PlanRowCount(f), 121);
  EXPECT_EQ(PlanCell(f, 0, 1), QStringLiteral("3"));
  EXPECT_EQ(f.Label16->text(), QStringLiteral("29.02.2028"));
  EXPECT_EQ(f.Label17->text(), QStringLiteral("0"));
  EXPECT_EQ(f.Label19->text(), QStringLiteral("0"));
  EXPECT_EQ(f.Label18->text(), QStringLiteral("4"));
  EXPECT_EQ(f.Label21->text(), QStringLiteral("10000"));
  EXPECT_EQ(f.Label26->text(), instalment);

  // An amount that is not a number: Label26 keeps its previous text.
  f.Edit1->setText(QStringLiteral("<b>1</b>"));
  EXPECT_EQ(f.Label26->text(), instalment);
  EXPECT_EQ(f.Label20->text(), QStringLiteral("<b>1</b>"));
  EXPECT_EQ(f.Label22->text(), QStringLiteral("<b>1</b>"));
  EXPECT_EQ(f.Label22->textFormat(), Qt::PlainText);  // shown as typed, never as markup
  EXPECT_EQ(PlanRowCount(f), 121);

  // The next good change replaces the plan, never adding to it.
  f.Edit1->setText(QStringLiteral("20000"));
  f.DateTimePicker1->setDate(QDate(2028, 2, 28));
  EXPECT_TRUE(f.LastResult().ok);
  EXPECT_EQ(PlanRowCount(f), 121);
  EXPECT_EQ(f.Label17->text(), QStringLiteral("28.03.2038"));
}

TEST(MainForm, LinkOpensTheHomePageAndLeavesTheWindowAlone) {
  TForm1 f;
  f.show();
  UrlRecorder recorder;
  QDesktopServices::setUrlHandler(QStringLiteral("https"), &recorder, "open");
  QTest::mouseClick(f.Label27, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
  QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
  ASSERT_EQ(recorder.urls.size(), 1);
  EXPECT_EQ(recorder.urls.front(), QUrl(QStringLiteral("https://tilgungsplan.example.org/")));
  EXPECT_EQ(f.RecalculationCount(), 0);
  EXPECT_TRUE(f.isVisible());
  EXPECT_TRUE(f.Label26->text().isEmpty());
}

TEST(MainForm, PanelsStayDockedWhenTheWindowGrows) {
  TForm1 f;
  f.show();
  f.resize(600, 515);
  EXPECT_EQ(f.ClientArea()->size(), QSize(580, 495));
  ExpectGeometry(f.Panel2, 0, 462, 580, 33);
  ExpectGeometry(f.Panel3, 0, 308, 580, 154);
  ExpectGeometry(f.Panel1, 0, 211, 580, 97);
}

#include "MainFormTest.moc"
