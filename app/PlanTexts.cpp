#include "app/PlanTexts.h"

#include "platform/locale/Locale.h"

namespace tilgung {

std::string PlanCellText(const TPlanRow& row, int column) {
  const platform::FormatSettings& fs = platform::FormatSettings::User();
  switch (column) {
    case 0:
      return std::to_string(row.Jahr);
    case 1:
      return std::to_string(row.Monat);
    case 2:
      return std::to_string(row.Tag);
    case 3:
      return fs.FormatCurrency(row.Darlehen, 15, fs.CurrencyDigits());
    case 4:
      return fs.FormatCurrency(row.Tilgung, 15, fs.CurrencyDigits());
    case 5:
      return fs.FormatCurrency(row.Zins, 15, fs.CurrencyDigits());
    default:
      return {};
  }
}

}  // namespace tilgung
