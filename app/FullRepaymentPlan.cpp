#include "app/FullRepaymentPlan.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <stdexcept>
#include <utility>

#include "app/UserText.h"
#include "platform/locale/Locale.h"

namespace tilgung {

namespace {

// A failure of the calculation that names its input.
class EInputError : public std::runtime_error {
 public:
  EInputError(TFullRepaymentField field, const std::string& message, int oneOff = -1)
      : std::runtime_error(message), field_(field), oneOff_(oneOff) {}
  TFullRepaymentField Field() const { return field_; }
  int OneOff() const { return oneOff_; }

 private:
  TFullRepaymentField field_;
  int oneOff_;
};

bool Blank(const std::string& text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) <= ' '; });
}

double Number(const std::string& text, TFullRepaymentField field, const std::string& label,
              int oneOff = -1) {
  double value = 0;
  if (!platform::FormatSettings::User().TryParseFloat(text, value)) {
    throw EInputError(field, label + " " + QuoteUserText(text) + " ist keine gültige Zahl.",
                      oneOff);
  }
  return value;
}

double NotNegative(const std::string& text, TFullRepaymentField field, const std::string& label,
                   int oneOff = -1) {
  const double value = Number(text, field, label, oneOff);
  if (value < 0) {
    throw EInputError(field, label + " " + QuoteUserText(text) + " darf nicht negativ sein.",
                      oneOff);
  }
  return value;
}

int Integer(const std::string& text, TFullRepaymentField field, const std::string& label, int low,
            int high) {
  std::int32_t value = 0;
  if (!platform::FormatSettings::User().TryParseInt32(text, value) || value < low || value > high) {
    throw EInputError(field, label + " " + QuoteUserText(text) + " ist keine ganze Zahl von " +
                                 std::to_string(low) + " bis " + std::to_string(high) + ".");
  }
  return value;
}

double Checked(double value) {
  if (!std::isfinite(value)) {
    throw EInputError(TFullRepaymentField::Arithmetic,
                      "Die Eingaben ergeben Beträge außerhalb des Zahlenbereichs.");
  }
  return value;
}

struct TExtra {
  platform::TDateTime date;
  double amount;
};

// The inputs as numbers, checked.
struct TParsed {
  double amount = 0;
  double rate = 0;
  double repayment = 0;
  double followRate = 0;
  double instalment = 0;
  int frequency = 0;
  int year = 0, month = 0, day = 0;  // of the start date
  platform::TDateTime startDate = 0;
  platform::TDateTime endDate = 0;
  std::vector<TExtra> extras;  // by date
  bool capped = false;
  double capAmount = 0;  // per calendar year
  std::vector<std::string> notices;
};

// Parses the six inputs as the main plan does, in its order.
void ParsePlanInputs(const TPlanInputs& in, TParsed& p) {
  p.amount = Number(in.amountText, TFullRepaymentField::Amount, "Darlehensbetrag");
  p.rate = Number(in.rateText, TFullRepaymentField::Rate, "Nominalzins");
  p.repayment = Number(in.repaymentText, TFullRepaymentField::Repayment, "Anfangstilgung");
  p.frequency = in.frequencyIndex < 0 ? 0 : in.frequencyIndex;
  p.instalment = Checked(PlanInstalment(p.amount, p.rate, p.repayment, p.frequency));
  p.startDate = in.startDate;
  platform::DecodeDate(in.startDate, p.year, p.month, p.day);
  int termYears = 0;
  try {
    termYears = ParseTermYears(in.termText);
  } catch (const std::exception&) {
    throw EInputError(TFullRepaymentField::Term, "Zinsbindung " + QuoteUserText(in.termText) +
                                                     " beginnt nicht mit einer ganzen Zahl "
                                                     "von Jahren.");
  }
  if (!platform::TryEncodeDate(p.year + termYears, p.month, p.day, p.endDate)) {
    throw EInputError(TFullRepaymentField::StartDate, "Beginn Tilgung plus Zinsbindung " +
                                                          QuoteUserText(in.termText) +
                                                          " ergibt kein gültiges Datum.");
  }
}

void ParseExtraInputs(const TFullRepaymentInputs& in, TParsed& p) {
  const platform::FormatSettings& fs = platform::FormatSettings::User();
  p.followRate = Blank(in.followRateText)
                     ? p.rate
                     : Number(in.followRateText, TFullRepaymentField::FollowRate, "Anschlusszins");

  const bool yearly = !Blank(in.yearlyAmountText);
  const double yearlyAmount =
      yearly ? NotNegative(in.yearlyAmountText, TFullRepaymentField::YearlyAmount,
                           "Jährliche Sondertilgung")
             : 0;
  // A month or year typed without an amount is still checked: nothing typed
  // is ignored silently.
  int month = 1;
  if (yearly || !Blank(in.yearlyMonthText)) {
    month = Integer(in.yearlyMonthText, TFullRepaymentField::YearlyMonth, "Sondertilgung im Monat",
                    1, 12);
  }
  int from = p.year;
  if (!Blank(in.yearlyFromText)) {
    from = Integer(in.yearlyFromText, TFullRepaymentField::YearlyFrom, "Sondertilgung ab Jahr", 1,
                   9999);
  }
  if (!Blank(in.capText)) {
    p.capped = true;
    const double cap =
        NotNegative(in.capText, TFullRepaymentField::Cap, "Sondertilgung höchstens (%)");
    p.capAmount = Checked(cap / 100 * p.amount);
  }

  if (static_cast<int>(in.oneOffs.size()) > kMaxOneOffExtras) {
    throw EInputError(TFullRepaymentField::OneOffCount, "Es sind höchstens " +
                                                            std::to_string(kMaxOneOffExtras) +
                                                            " einmalige Sondertilgungen möglich.");
  }
  for (std::size_t i = 0; i < in.oneOffs.size(); ++i) {
    const TOneOffExtra& extra = in.oneOffs[i];
    const std::string label = "Einmalige Sondertilgung " + std::to_string(i + 1);
    const double amount =
        NotNegative(extra.amountText, TFullRepaymentField::OneOff, label, static_cast<int>(i));
    if (!(extra.date > p.startDate)) {
      p.notices.push_back(
          label + " am " + fs.FormatShortDate(extra.date) +
          " liegt nicht nach dem Beginn der Tilgung und wird nicht berücksichtigt.");
      continue;
    }
    if (amount > 0) p.extras.push_back({extra.date, amount});
  }
  // The plan runs at most 100 years and one period from the start date.
  if (yearlyAmount > 0) {
    for (int y = std::max(from, p.year); y <= std::min(9999, p.year + 101); ++y) {
      p.extras.push_back({platform::EncodeDate(y, month, 1), yearlyAmount});
    }
  }
  std::stable_sort(p.extras.begin(), p.extras.end(),
                   [](const TExtra& a, const TExtra& b) { return a.date < b.date; });
}

struct TRun {
  TFullRepaymentEnd end = TFullRepaymentEnd::Cleared;
  int rows = 0;
  int fixedRows = 0;
  double fixedDebt = 0;
  double balance = 0;
  double interestSum = 0;
  double extraSum = 0;
  double heldBack = 0;
  platform::TDateTime lastDue = 0;
};

// One plan. `stage` names what a throw interrupted. `fixedOnly` stops after
// the fixed period; `sink` may be null.
TRun RunPlan(const TParsed& p, bool withExtras, bool fixedOnly, TFullRepaymentRowSink* sink,
             TFullRepaymentField& stage) {
  TRun run;
  double balance = p.amount;
  double instalment = p.instalment;
  run.balance = run.fixedDebt = balance;
  if (balance <= 0.1) return run;
  if (!(instalment > 0)) {
    run.end = TFullRepaymentEnd::NotCovered;
    return run;
  }
  const int rowLimit = 100 * PeriodsPerYear(p.frequency);
  int year = p.year, month = p.month;
  const int day = p.day;
  platform::TDateTime loopDate = p.endDate;
  platform::TDateTime previousDue = p.startDate;
  std::size_t nextExtra = 0;
  int capYear = 0;
  double paidInYear = 0;
  bool fixed = true;
  double interestSum = 0;
  while (balance > 0.1) {
    if (fixed && loopDate > p.endDate) {
      fixed = false;
      run.fixedRows = run.rows;
      run.fixedDebt = balance;
      if (fixedOnly) break;
    }
    if (!fixed) {
      if (run.rows >= rowLimit) {
        run.end = TFullRepaymentEnd::YearLimit;
        break;
      }
      if (run.rows == run.fixedRows &&
          !(instalment > PeriodInterest(p.followRate, balance, p.frequency))) {
        run.end = TFullRepaymentEnd::NotCovered;
        break;
      }
    }
    AdvanceDueMonth(p.frequency, year, month);
    TFullRepaymentRow row;
    row.Nr = run.rows + 1;
    row.Jahr = year;
    row.Monat = month;
    row.Tag = day;
    stage = TFullRepaymentField::Arithmetic;
    const double interest =
        Checked(PeriodInterest(fixed ? p.rate : p.followRate, balance, p.frequency));
    // The last instalment only pays off what is left.
    if (balance - (instalment - interest) < 0) instalment = balance + interest;
    interestSum = Checked(interestSum + interest);
    balance = Checked(balance - (instalment - interest));
    row.Tilgung = instalment - interest;
    row.Zins = interest;
    row.Rate = row.Zins + row.Tilgung;

    stage = TFullRepaymentField::Dates;
    const platform::TDateTime due = DueDate(year, month, day);
    if (withExtras) {
      double owed = 0;
      for (; nextExtra < p.extras.size() && p.extras[nextExtra].date <= due; ++nextExtra) {
        if (p.extras[nextExtra].date > previousDue) owed += p.extras[nextExtra].amount;
      }
      stage = TFullRepaymentField::Arithmetic;
      double paid = Checked(owed);
      if (p.capped) {
        if (year != capYear) {
          capYear = year;
          paidInYear = 0;
        }
        paid = std::min(paid, std::max(0.0, p.capAmount - paidInYear));
        run.heldBack = Checked(run.heldBack + (owed - paid));
      }
      paid = std::min(paid, std::max(0.0, balance));
      if (paid > 0) {
        balance -= paid;
        paidInYear += paid;
        run.extraSum = Checked(run.extraSum + paid);
        row.Sondertilgung = paid;
      }
    }
    previousDue = due;
    row.Darlehen = balance;
    stage = TFullRepaymentField::Table;
    if (sink) sink->PostRow(row);
    ++run.rows;
    run.lastDue = due;
    stage = TFullRepaymentField::Dates;
    // A day the month has makes the loop's test date the due date itself.
    loopDate = day <= platform::DaysInMonth(year, month) ? due : LoopTestDate(year, month, day);
  }
  if (fixed) {
    run.fixedRows = run.rows;
    run.fixedDebt = balance;
  }
  run.balance = balance;
  run.interestSum = interestSum;
  return run;
}

TParsed Parse(const TFullRepaymentInputs& inputs) {
  TParsed p;
  ParsePlanInputs(inputs.plan, p);
  ParseExtraInputs(inputs, p);
  return p;
}

// A failure as the result reports it.
void Fail(TFullRepaymentResult& r, TFullRepaymentField stage, const std::exception& e) {
  r.ok = false;
  if (const auto* input = dynamic_cast<const EInputError*>(&e)) {
    r.failedField = input->Field();
    r.failedOneOff = input->OneOff();
    r.errorMessage = input->what();
    return;
  }
  r.failedField = stage;
  switch (stage) {
    case TFullRepaymentField::Dates:
      r.errorMessage = "Ein Fälligkeitstermin liegt hinter dem letzten darstellbaren Datum.";
      break;
    default:
      r.failedField = TFullRepaymentField::Table;
      r.errorMessage = std::string("Der Plan konnte nicht gespeichert werden: ") + e.what();
      break;
  }
}

}  // namespace

platform::TDateTime DueDate(int year, int month, int day) {
  return platform::EncodeDate(year, month, std::min(day, platform::DaysInMonth(year, month)));
}

int MonthsBetween(platform::TDateTime from, platform::TDateTime to) {
  int y1, m1, d1, y2, m2, d2;
  platform::DecodeDate(from, y1, m1, d1);
  platform::DecodeDate(to, y2, m2, d2);
  int months = (y2 - y1) * 12 + (m2 - m1);
  if (d2 < d1 && d2 < platform::DaysInMonth(y2, m2)) --months;
  return months;
}

TFullRepaymentResult CalculateFullRepayment(const TFullRepaymentInputs& inputs,
                                            TFullRepaymentRowSink& sink) {
  TFullRepaymentResult r;
  r.startDate = inputs.plan.startDate;
  TFullRepaymentField stage = TFullRepaymentField::None;
  try {
    const TParsed p = Parse(inputs);
    r.notices = p.notices;
    r.initialAmount = p.amount;
    r.instalment = p.instalment;
    r.followRate = p.followRate;
    r.fixedEndDate = p.endDate;
    r.frequency = p.frequency;

    stage = TFullRepaymentField::Table;
    sink.PrepareTable();
    const TRun run = RunPlan(p, true, false, &sink, stage);
    r.end = run.end;
    r.endMessage = run.end == TFullRepaymentEnd::YearLimit    ? kYearLimitMessage
                   : run.end == TFullRepaymentEnd::NotCovered ? kNotCoveredMessage
                                                              : "";
    r.rowCount = run.rows;
    r.fixedRowCount = run.fixedRows;
    r.fixedPeriodDebt = run.fixedDebt;
    r.balance = run.balance;
    r.interestSum = run.interestSum;
    r.extraSum = run.extraSum;
    r.heldBack = run.heldBack;
    if (run.end == TFullRepaymentEnd::Cleared) {
      r.debtFreeDate = run.rows > 0 ? run.lastDue : p.startDate;
      r.termMonths = MonthsBetween(p.startDate, *r.debtFreeDate);
    }

    // The same plan without extras; without any extras it is this one.
    TRun plain = run;
    if (!p.extras.empty()) plain = RunPlan(p, false, false, nullptr, stage);
    if (run.end == TFullRepaymentEnd::Cleared && plain.end == TFullRepaymentEnd::Cleared) {
      r.interestSaved = plain.interestSum - run.interestSum;
      r.monthsSaved =
          MonthsBetween(p.startDate, plain.rows > 0 ? plain.lastDue : p.startDate) - r.termMonths;
    }
    r.ok = true;
    return r;
  } catch (const std::exception& e) {
    Fail(r, stage, e);
  } catch (...) {
    r.ok = false;
    r.failedField = TFullRepaymentField::Table;
    r.errorMessage = "Der Plan konnte nicht berechnet werden.";
  }
  // No rows of a failed run, nor of an earlier one, stay in the table.
  try {
    sink.PrepareTable();
  } catch (...) {
    // The table could not even be emptied; the failure above is reported.
  }
  return r;
}

TClearingRepayment SolveClearingRepayment(const TFullRepaymentInputs& inputs) {
  const platform::FormatSettings& fs = platform::FormatSettings::User();
  TClearingRepayment answer;
  TFullRepaymentInputs probe = inputs;
  probe.plan.repaymentText = "0";
  TParsed p;
  try {
    p = Parse(probe);
  } catch (const std::exception& e) {
    answer.errorMessage = e.what();
    return answer;
  }
  answer.ok = true;
  // Each candidate is the text the input would hold, read as the input reads it.
  auto clears = [&](std::int64_t hundredths) {
    ++answer.calculations;
    TParsed candidate = p;
    candidate.repayment = fs.ParseFloat(fs.FormatFloat(static_cast<double>(hundredths) / 100));
    candidate.instalment =
        Checked(PlanInstalment(p.amount, p.rate, candidate.repayment, p.frequency));
    TFullRepaymentField stage = TFullRepaymentField::None;
    return RunPlan(candidate, true, true, nullptr, stage).fixedDebt <= 0.1;
  };
  try {
    // The balance after the fixed period falls as the repayment grows: find
    // a repayment that clears by doubling, then halve the gap to one hundredth.
    std::int64_t low = 0, high = 0;
    if (!clears(0)) {
      high = 10000;  // 100 %
      while (!clears(high)) {
        low = high;
        if (high >= 10000000) return answer;  // 100,000 % does not clear either
        high *= 2;
      }
      while (high - low > 1) {
        const std::int64_t middle = low + (high - low) / 2;
        (clears(middle) ? high : low) = middle;
      }
    }
    answer.found = true;
    answer.hundredths = high;
    answer.text = fs.FormatFloat(static_cast<double>(high) / 100);
  } catch (const std::exception& e) {
    answer.errorMessage = e.what();
  }
  return answer;
}

}  // namespace tilgung
