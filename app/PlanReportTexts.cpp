#include "app/PlanReportTexts.h"

#include "app/MainForm.h"
#include "app/PlanTexts.h"
#include "app/ResultPanel.h"
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
  t.results = ListedResults(result.panel);
  return t;
}

}  // namespace tilgung
