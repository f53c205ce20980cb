#include "app/PlanReportTexts.h"

#include "app/MainForm.h"
#include "app/PlanTexts.h"
#include "platform/locale/Locale.h"

namespace tilgung {

TPlanReportTexts CommandLineReportTexts(const TPlanInputs& in, const TPlanResult& result) {
  TPlanReportTexts t;
  t.title = kFormCaption;
  const int frequency = in.frequencyIndex < 0 ? 0 : in.frequencyIndex;
  t.inputs = {
      {"Darlehensbetrag", in.amountText},
      {"Nominalzins", in.rateText + " %"},
      {"Anfangstilgung", in.repaymentText + " %"},
      {"Zahlweise", kFrequencyItems[frequency]},
      {"Zinsbindung", in.termText},
      {"Beginn Tilgung", platform::FormatSettings::User().FormatShortDate(in.startDate)},
  };
  const TPlanPanelTexts& p = result.panel;
  t.results = {
      {"Kreditrate", p.instalment.value_or("")},
      {"Tilgungsbegin", p.startDate.value_or("")},
      {"Zinsbindung", p.lastDueDate.value_or("")},
      {"Summe Tilgung", p.repaymentSum.value_or("")},
      {"Summe Zinsen", p.interestSum.value_or("")},
      {"Restschuld", p.remainingDebt.value_or("")},
      {"Summe Tilgung+Zinsen+Restschuld", p.grandTotal.value_or("")},
  };
  return t;
}

}  // namespace tilgung
