// The repayment plan calculation of the main window, free of widgets so that
// the window, the command line and the tests run the very same code.
//
// One call of `RecalculatePlan` is one change event of the window: it parses
// the six inputs, computes the instalment, prepares the plan table through the
// row sink, posts one row per due date and returns its results by what they
// are: the values and the texts of the result panel. Every failure inside the run is caught here
// and turned into the error texts; the function itself does not throw.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/os/DateTime.h"

namespace tilgung {

// The six inputs as the user typed or picked them.
struct TPlanInputs {
  std::string amountText = "10000";   // Edit1, loan amount
  std::string rateText = "4";         // Edit3, nominal rate in percent per year
  std::string repaymentText = "5";    // Edit4, initial repayment in percent per year
  int frequencyIndex = 0;             // ComboBox1 selected index; negative counts as 0
  std::string termText = "10 Jahre";  // ComboBox4 text, fixed-rate term
  platform::TDateTime startDate = 0;  // DateTimePicker1, start of repayment
};

// One plan row as it is posted to the plan table.
struct TPlanRow {
  std::int32_t Jahr = 0;
  std::int32_t Monat = 0;
  std::int32_t Tag = 0;
  double Darlehen = 0;  // debt remaining after this instalment
  double Tilgung = 0;   // repayment part
  double Zins = 0;      // interest part
};

// The one seam between the calculation and the plan table. `PrepareTable`
// runs once per run before any row (close, empty or create, open);
// `PostRow` once per row in date order. Either may throw: the run then takes
// the error path with whatever the sink holds at that moment.
class TPlanRowSink {
 public:
  virtual ~TPlanRowSink() = default;
  virtual void PrepareTable() = 0;
  virtual void PostRow(const TPlanRow& row) = 0;
};

// A sink that only keeps the rows; the command line and the benchmarks use it.
class TPlanRowVector : public TPlanRowSink {
 public:
  void PrepareTable() override { rows.clear(); }
  void PostRow(const TPlanRow& row) override { rows.push_back(row); }
  std::vector<TPlanRow> rows;
};

// The step a run had reached; on failure it names the input at fault.
enum class TPlanStep {
  Amount,      // parsing Edit1
  Rate,        // parsing Edit3
  Repayment,   // parsing Edit4
  Arithmetic,  // an amount beyond the range of doubles
  Term,        // parsing ComboBox4
  EndDate,     // start date moved by the term
  Table,       // preparing the plan table
  Rows,        // writing the rows
  Labels,      // writing the result labels
  Done
};

// The texts of the result panel, by meaning. A text without value is one the
// run does not write: the panel keeps what it showed before. A successful run
// writes all but `rate`; the error path writes the raw inputs instead of
// results (the amount as typed for both sums and the grand total, "0" for the
// last due date and the remaining debt, the rate as typed) and keeps the
// instalment only when the run had computed it.
struct TPlanPanelTexts {
  std::optional<std::string> instalment;     // Kreditrate
  std::optional<std::string> startDate;      // Tilgungsbegin
  std::optional<std::string> lastDueDate;    // the date the plan ends, beside Zinsbindung
  std::optional<std::string> rate;           // beside the hidden Effektivzins; error path only
  std::optional<std::string> remainingDebt;  // Restschuld
  std::optional<std::string> interestSum;    // Summe Zinsen
  std::optional<std::string> repaymentSum;   // Summe Tilgung
  std::optional<std::string> grandTotal;     // Summe Tilgung+Zinsen+Restschuld

  bool operator==(const TPlanPanelTexts&) const = default;
};

struct TPlanResult {
  bool ok = false;
  TPlanStep failedStep = TPlanStep::Done;  // meaningful when !ok
  std::string errorMessage;                // the caught exception's text

  // What the result panel shows after the run; the values below are the
  // same results as numbers.
  TPlanPanelTexts panel;

  bool instalmentComputed = false;  // the instalment was computed (and its text set)
  double initialAmount = 0;
  double instalment = 0;  // the last instalment (the final, smaller one if any)
  double firstInstalment = 0;
  double balance = 0;
  double interestSum = 0;
  double repaymentTotal = 0;  // initial amount - balance
  double grandTotal = 0;      // repayment total + balance + interest sum
  platform::TDateTime startDate = 0;
  platform::TDateTime endDate = 0;
  platform::TDateTime lastDate = 0;  // the last due date the panel shows
  int termYears = 0;
  int frequency = 0;
  int rowCount = 0;
};

// Upper bound of rows a run can write: a term of at most 99 years (two
// characters of the term text) with 12 periods a year, plus the first due date
// after the end date.
constexpr int kMaxPlanRows = 12 * 99 + 1;

// Periods per year for a frequency index 0..3.
int PeriodsPerYear(int frequency);

// The term in years from the term text: its first two characters, trimmed,
// parsed as an integer. Throws EConvertError when that is not an integer.
int ParseTermYears(const std::string& termText);

TPlanResult RecalculatePlan(const TPlanInputs& inputs, TPlanRowSink& sink);

// The arithmetic and the due dates of the plan, one step at a time, so that
// every plan built on the main one computes its rows with the very same
// expressions (and so the very same doubles).

// The instalment per period for the amount and the two percentages.
double PlanInstalment(double amount, double rate, double repayment, int frequency);

// The interest of one period on `balance` at `rate` percent per year.
double PeriodInterest(double rate, double balance, int frequency);

// Moves (year, month) to the next due date of the frequency.
void AdvanceDueMonth(int frequency, int& year, int& month);

// The date the loop test compares with the end date: the day in its month,
// or the 28th where that day does not exist. Throws EConvertError for a
// year outside the calendar.
platform::TDateTime LoopTestDate(int year, int month, int day);

}  // namespace tilgung
