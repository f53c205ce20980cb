// The window's half of the report texts (PlanReportTexts.h): read from the
// form's controls. Kept apart from the command line's half, which needs no
// window.
#include "app/PlanReportTexts.h"

#include "app/MainForm.h"
#include "app/PlanTexts.h"
#include "app/ResultPanel.h"
#include "platform/locale/Locale.h"

namespace tilgung {

namespace {

std::string Trimmed(const QString& text) {
  return text.trimmed().toStdString();
}

}  // namespace

TPlanWindowTexts FormWindowTexts(const TForm1& f) {
  TPlanWindowTexts t;
  t.report.title = kFormCaption;
  t.report.inputs = {
      {Trimmed(f.Label1->text()), f.Edit1->text().toStdString()},
      {Trimmed(f.Label3->text()), f.Edit3->text().toStdString() + " %"},
      {Trimmed(f.Label4->text()), f.Edit4->text().toStdString() + " %"},
      {Trimmed(f.Label5->text()), f.ComboBox1->currentText().toStdString()},
      {Trimmed(f.Label2->text()), f.ComboBox4->currentText().toStdString()},
      {Trimmed(f.Label8->text()), f.DateTimePicker1->text().toStdString()},
  };
  t.report.results = ListedResults(f.ShownPanel());
  double rate = 0;
  t.rateKnown = platform::FormatSettings::User().TryParseFloat(f.Edit3->text().toStdString(), rate);
  t.nominalRate = rate;
  const int frequency = TForm1::ItemIndex(f.ComboBox1);
  t.periodsPerYear = PeriodsPerYear(frequency < 0 ? 0 : frequency);
  return t;
}

}  // namespace tilgung
