// The repayment plan calculation of the main window, free of widgets so that
// the window, the command line and the tests run the very same code.
//
// One call of `RecalculatePlan` is one change event of the window: it parses
// the six inputs, computes the instalment, prepares the plan table through the
// row sink, posts one row per due date and returns the label texts in the
// order the window writes them. Every failure inside the run is caught here and
// turned into the error texts; the function itself does not throw.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/DateTime.h"

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

// The value labels of the result panel that a run writes.
enum class TPlanLabel { Label16, Label17, Label18, Label19, Label20, Label21, Label22, Label26 };

// The window's member name of a value label ("Label26").
const char* PlanLabelName(TPlanLabel label);

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

struct TPlanResult {
  bool ok = false;
  TPlanStep failedStep = TPlanStep::Done;  // meaningful when !ok
  std::string errorMessage;                // the caught exception's text

  // Label writes in the order the run made them; the window applies them in
  // this order, the command line reads the values below.
  std::vector<std::pair<TPlanLabel, std::string>> labelWrites;

  bool instalmentComputed = false;  // step of the instalment label was reached
  double initialAmount = 0;
  double instalment = 0;  // the last instalment (the final, smaller one if any)
  double firstInstalment = 0;
  double balance = 0;
  double interestSum = 0;
  double repaymentTotal = 0;  // initial amount - balance
  double grandTotal = 0;      // repayment total + balance + interest sum
  platform::TDateTime startDate = 0;
  platform::TDateTime endDate = 0;
  platform::TDateTime lastDate = 0;  // the date Label17 shows
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

}  // namespace tilgung
