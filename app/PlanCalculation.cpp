#include "app/PlanCalculation.h"

#include <cmath>
#include <exception>

#include "platform/locale/Locale.h"
#include "platform/os/Exception.h"

namespace tilgung {

namespace {

// Currency texts of the result labels: 10 significant digits, 2 decimals.
std::string Currency(const platform::FormatSettings& fs, double value) {
  return fs.FormatCurrency(value, 10, 2);
}

// Length in bytes of the first `count` UTF-8 characters of `text` (the whole
// text when it is shorter). Cutting by characters keeps a multi-byte
// character whole.
std::size_t Utf8PrefixBytes(const std::string& text, std::size_t count) {
  std::size_t pos = 0;
  for (std::size_t n = 0; n < count && pos < text.size(); ++n) {
    ++pos;
    while (pos < text.size() && (static_cast<unsigned char>(text[pos]) & 0xC0) == 0x80) ++pos;
  }
  return pos;
}

// Removes leading and trailing blanks and control characters.
std::string Trim(const std::string& text) {
  std::size_t begin = 0, end = text.size();
  while (begin < end && static_cast<unsigned char>(text[begin]) <= ' ') ++begin;
  while (end > begin && static_cast<unsigned char>(text[end - 1]) <= ' ') --end;
  return text.substr(begin, end - begin);
}

// Money arithmetic that leaves the range of doubles is a failure of the run,
// never a result: an infinite or undefined amount would otherwise be shown
// and printed as if it were a plan.
double Checked(double value) {
  if (std::isnan(value)) throw platform::Exception("Invalid floating point operation");
  if (std::isinf(value)) throw platform::Exception("Floating point overflow");
  return value;
}

}  // namespace

int PeriodsPerYear(int frequency) {
  switch (frequency) {
    case 1:
      return 4;
    case 2:
      return 2;
    case 3:
      return 1;
    default:
      return 12;
  }
}

double PlanInstalment(double amount, double rate, double repayment, int frequency) {
  if (frequency == 3) return rate / 100 * amount + repayment / 100 * amount;
  const int periods = PeriodsPerYear(frequency);
  return (rate / 100 * amount) / periods + (repayment / 100 * amount) / periods;
}

double PeriodInterest(double rate, double balance, int frequency) {
  return frequency == 3 ? rate / 100 * balance : rate / 100 * balance / PeriodsPerYear(frequency);
}

void AdvanceDueMonth(int frequency, int& year, int& month) {
  switch (frequency) {
    case 1:
      month += 3;
      break;
    case 2:
      month += 6;
      break;
    case 3:
      year += 1;
      break;
    default:
      month += 1;
      break;
  }
  if (month > 12) {
    year += 1;
    month %= 12;
  }
}

platform::TDateTime LoopTestDate(int year, int month, int day) {
  platform::TDateTime date;
  if (platform::TryEncodeDate(year, month, day, date)) return date;
  return platform::EncodeDate(year, month, 28);
}

int ParseTermYears(const std::string& termText) {
  const std::string head = termText.substr(0, Utf8PrefixBytes(termText, 2));
  return platform::FormatSettings::User().ParseInt32(Trim(head));
}

TPlanResult RecalculatePlan(const TPlanInputs& inputs, TPlanRowSink& sink) {
  const platform::FormatSettings& fs = platform::FormatSettings::User();
  TPlanResult r;
  r.startDate = inputs.startDate;
  TPlanStep step = TPlanStep::Amount;
  try {
    // Inputs and instalment.
    r.initialAmount = fs.ParseFloat(inputs.amountText);
    double balance = r.initialAmount;
    step = TPlanStep::Rate;
    const double rate = fs.ParseFloat(inputs.rateText);
    step = TPlanStep::Repayment;
    const double repayment = fs.ParseFloat(inputs.repaymentText);
    double interestSum = 0;
    const int frequency = inputs.frequencyIndex < 0 ? 0 : inputs.frequencyIndex;
    r.frequency = frequency;
    step = TPlanStep::Arithmetic;
    double instalment = Checked(PlanInstalment(balance, rate, repayment, frequency));
    r.instalment = r.firstInstalment = instalment;
    r.instalmentComputed = true;
    r.panel.instalment = Currency(fs, instalment);

    // Start date, term and end date.
    int year, month, day;
    platform::DecodeDate(inputs.startDate, year, month, day);
    step = TPlanStep::Term;
    r.termYears = ParseTermYears(inputs.termText);
    step = TPlanStep::EndDate;
    const platform::TDateTime endDate = platform::EncodeDate(year + r.termYears, month, day);
    r.endDate = endDate;
    platform::TDateTime currentDate = endDate;

    step = TPlanStep::Table;
    sink.PrepareTable();

    step = TPlanStep::Rows;
    if (instalment > 0) {
      while (balance > 0.1 && currentDate <= endDate) {
        AdvanceDueMonth(frequency, year, month);
        TPlanRow row;
        row.Jahr = year;
        row.Monat = month;
        row.Tag = day;
        step = TPlanStep::Arithmetic;
        const double interest = Checked(PeriodInterest(rate, balance, frequency));
        // The last instalment only pays off what is left.
        if (balance - (instalment - interest) < 0) instalment = balance + interest;
        interestSum = Checked(interestSum + interest);
        balance = Checked(balance - (instalment - interest));
        row.Darlehen = balance;
        row.Tilgung = instalment - interest;
        row.Zins = interest;
        step = TPlanStep::Rows;
        sink.PostRow(row);
        ++r.rowCount;
        r.instalment = instalment;
        r.balance = balance;
        r.interestSum = interestSum;
        // The loop test uses day 28 where the picker's day does not exist in
        // this month; the row keeps the picker's day.
        currentDate = LoopTestDate(year, month, day);
      }
    }
    r.balance = balance;
    r.interestSum = interestSum;
    r.lastDate = currentDate;
    r.repaymentTotal = r.initialAmount - balance;
    r.grandTotal = (r.initialAmount - balance) + balance + interestSum;

    step = TPlanStep::Labels;
    r.panel.startDate = fs.FormatShortDate(inputs.startDate);
    r.panel.lastDueDate = fs.FormatShortDate(currentDate);
    r.panel.remainingDebt = Currency(fs, balance);
    r.panel.interestSum = Currency(fs, interestSum);
    r.panel.repaymentSum = Currency(fs, r.repaymentTotal);
    r.panel.grandTotal = Currency(fs, r.grandTotal);
    r.ok = true;
    r.failedStep = TPlanStep::Done;
    return r;
  } catch (const std::exception& e) {
    r.errorMessage = e.what();
  } catch (...) {
    r.errorMessage = "unknown error";
  }

  // Error path: raw input texts instead of results. The instalment keeps what
  // the run set above, if it got that far.
  r.ok = false;
  r.failedStep = step;
  std::string startText;
  try {
    startText = fs.FormatShortDate(inputs.startDate);
  } catch (...) {
    // A start date that cannot be shown leaves the label blank.
  }
  TPlanPanelTexts& panel = r.panel;
  const std::optional<std::string> instalment = panel.instalment;
  panel = TPlanPanelTexts{};
  panel.instalment = instalment;
  panel.startDate = startText;
  panel.lastDueDate = "0";
  panel.rate = inputs.rateText;
  panel.repaymentSum = inputs.amountText;
  panel.interestSum = inputs.amountText;
  panel.remainingDebt = "0";
  panel.grandTotal = inputs.amountText;
  return r;
}

}  // namespace tilgung
