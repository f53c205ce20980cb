// The plan until the loan is repaid: the main plan's rows with extra
// repayments, then further due dates at the rate after the fixed period until
// the balance is 0.1 or below; its results; and the smallest initial
// repayment that clears the loan within the fixed period.
//
// Free of widgets, so that the dialog, the command line and the tests run the
// same code. The rows of the fixed period are computed with the main plan's
// own step functions (PlanCalculation.h): with no extras and the same rate
// they are the main plan's rows bit for bit.
//
// Rules of one calculation:
//  - Due dates and the instalment are the main plan's; after the fixed period
//    the interest uses the rate after it, the instalment stays. The plan ends
//    with the row that brings the balance to 0.1 or below (the last
//    instalment only pays off what is left), after 100 years of due dates
//    (100 x periods per year rows in all), or - tested once, at the first row
//    after the fixed period, after the 100-year limit - when the instalment
//    does not exceed that row's interest. An instalment of 0 or less with a
//    balance above 0.1 writes no row and ends the same way.
//  - Extras are paid at a due date after its regular repayment: every extra
//    dated after the previous due date (the start date for the first row) and
//    not after this one, where a due date is the row's day in its month or
//    that month's last day. The yearly extra counts as one extra on the first
//    day of its month of every year from its first year on. The extras paid
//    in one calendar year never exceed the cap; the rest is held back, not
//    carried over. An extra never exceeds the balance after the regular
//    repayment.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/PlanCalculation.h"
#include "platform/os/DateTime.h"

namespace tilgung {

// One-off extras a calculation takes at most.
inline constexpr int kMaxOneOffExtras = 50;

struct TOneOffExtra {
  platform::TDateTime date = 0;
  std::string amountText;  // a number in the user's format, 0 or more
};

// The main window's six inputs and the extra inputs, as typed. Blank texts
// (empty or only blanks) mean: the nominal rate, no yearly extra, the start
// date's year, no cap.
struct TFullRepaymentInputs {
  TPlanInputs plan;
  std::string followRateText;         // rate after the fixed period, percent per year
  std::string yearlyAmountText;       // yearly extra repayment
  std::string yearlyMonthText = "1";  // its month, 1..12
  std::string yearlyFromText;         // its first year
  std::string capText;                // extras per calendar year, percent of the amount
  std::vector<TOneOffExtra> oneOffs;  // at most kMaxOneOffExtras, any order
};

// The input a failed calculation names (or the stage it failed in).
enum class TFullRepaymentField {
  None,
  Amount,
  Rate,
  Repayment,
  Term,
  StartDate,  // start date plus the term is no date
  FollowRate,
  YearlyAmount,
  YearlyMonth,
  YearlyFrom,
  Cap,
  OneOff,       // see `failedOneOff`
  OneOffCount,  // more than kMaxOneOffExtras
  Arithmetic,   // an amount beyond the range of doubles
  Dates,        // a due date beyond the last date of the calendar
  Table         // the sink failed
};

// How the plan ends.
enum class TFullRepaymentEnd {
  Cleared,    // balance 0.1 or below (also: no debt to begin with)
  YearLimit,  // 100 years of due dates without clearing
  NotCovered  // the instalment does not cover the interest
};

inline constexpr const char* kYearLimitMessage = "Das Darlehen ist nach 100 Jahren nicht getilgt.";
inline constexpr const char* kNotCoveredMessage =
    "Die Rate deckt die Zinsen nicht: das Darlehen wird nie getilgt.";

struct TFullRepaymentRow {
  std::int32_t Nr = 0;
  std::int32_t Jahr = 0;
  std::int32_t Monat = 0;
  std::int32_t Tag = 0;
  double Darlehen = 0;       // balance after the row, extra included
  double Tilgung = 0;        // regular repayment
  double Sondertilgung = 0;  // extra paid at this due date
  double Zins = 0;
  double Rate = 0;  // Zins + Tilgung

  bool operator==(const TFullRepaymentRow&) const = default;
};

// The seam to the table: `PrepareTable` once per calculation before any row
// (and again on failure, so that no rows of an earlier or a broken run stay),
// `PostRow` once per row in order. Either may throw.
class TFullRepaymentRowSink {
 public:
  virtual ~TFullRepaymentRowSink() = default;
  virtual void PrepareTable() = 0;
  virtual void PostRow(const TFullRepaymentRow& row) = 0;
};

class TFullRepaymentRowVector : public TFullRepaymentRowSink {
 public:
  void PrepareTable() override { rows.clear(); }
  void PostRow(const TFullRepaymentRow& row) override { rows.push_back(row); }
  std::vector<TFullRepaymentRow> rows;
};

struct TFullRepaymentResult {
  bool ok = false;
  TFullRepaymentField failedField = TFullRepaymentField::None;
  int failedOneOff = -1;     // index into the inputs' one-offs, for OneOff
  std::string errorMessage;  // one German line naming the input

  TFullRepaymentEnd end = TFullRepaymentEnd::Cleared;
  std::string endMessage;            // empty when cleared
  std::vector<std::string> notices;  // one-offs ignored, one German line each

  double initialAmount = 0;
  double instalment = 0;  // the regular instalment
  double followRate = 0;  // the rate after the fixed period in use
  platform::TDateTime startDate = 0;
  platform::TDateTime fixedEndDate = 0;  // start date plus the term
  int frequency = 0;
  int rowCount = 0;
  int fixedRowCount = 0;       // rows of the fixed period
  double fixedPeriodDebt = 0;  // balance after the fixed period's last row
  double balance = 0;          // after the last row
  double interestSum = 0;
  double extraSum = 0;
  double heldBack = 0;  // extras the cap did not let through

  // Cleared only: the last row's due date (the start date without rows) and
  // the term from the start date to it.
  std::optional<platform::TDateTime> debtFreeDate;
  int termMonths = 0;  // years = termMonths / 12, months = termMonths % 12

  // Against the same plan without extras, when both are cleared.
  std::optional<double> interestSaved;
  std::optional<int> monthsSaved;
};

// Runs one calculation into `sink`. Never throws: failures come back as
// `ok == false` with the input named, and the sink emptied.
TFullRepaymentResult CalculateFullRepayment(const TFullRepaymentInputs& inputs,
                                            TFullRepaymentRowSink& sink);

// The smallest initial repayment in percent, to two decimals and 0 or more,
// at which the balance is 0.1 or below after the last row of the fixed period
// (extras included). The inputs' own initial repayment is not used.
struct TClearingRepayment {
  bool ok = false;  // the other inputs are valid
  std::string errorMessage;
  bool found = false;
  std::int64_t hundredths = 0;  // the answer in hundredths of a percent
  std::string text;             // the answer as the initial repayment input takes it
  int calculations = 0;         // plan calculations used (at most 50)
};

TClearingRepayment SolveClearingRepayment(const TFullRepaymentInputs& inputs);

// Full months from `from` to `to`; a day that is its month's last counts as
// reaching any later day of the month it started in.
int MonthsBetween(platform::TDateTime from, platform::TDateTime to);

// A due date as the extras compare it: the day in its month, or the month's
// last day where that day does not exist.
platform::TDateTime DueDate(int year, int month, int day);

}  // namespace tilgung
