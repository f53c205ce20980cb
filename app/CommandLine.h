// The command line of the program: `--print` computes one plan with the
// window's calculation and writes it to standard output as a table, CSV or
// JSON; `--help` prints the usage. Nothing here needs a display.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "app/PlanCalculation.h"

namespace tilgung {

enum class TOutputFormat { Table, Csv, Json, Pdf };

// Exit statuses of the command line.
inline constexpr int kExitOk = 0;
inline constexpr int kExitBadInput = 1;     // an input takes the window's error path
inline constexpr int kExitUsage = 2;        // a wrong option
inline constexpr int kExitWriteFailed = 3;  // the output could not be written

std::string UsageText();

// True when the arguments (without the program name) ask for the command
// line rather than the window: anything starting with "--", or "-h".
bool WantsCommandLine(const std::vector<std::string>& args);

// Runs the command line on the arguments (without the program name) and
// returns the exit status.
int RunCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// Writers of one successful result and its rows.
void WritePlanTable(const TPlanResult& result, const std::vector<TPlanRow>& rows,
                    std::ostream& out);
void WritePlanCsv(const std::vector<TPlanRow>& rows, std::ostream& out);
void WritePlanJson(const TPlanResult& result, const std::vector<TPlanRow>& rows, std::ostream& out);

// One of the text formats (not Pdf) as the text that is written.
std::string TextFormat(TOutputFormat format, const TPlanResult& result,
                       const std::vector<TPlanRow>& rows);

// Writes one of the text formats (not Pdf) to `out`, the standard output, and
// flushes it; the exit status (kExitWriteFailed with a German line on `err`
// when the stream failed).
int WriteTextFormat(TOutputFormat format, const TPlanResult& result,
                    const std::vector<TPlanRow>& rows, std::ostream& out, std::ostream& err);

// The one-line German message for a run that took the error path.
std::string InputErrorMessage(const TPlanInputs& inputs, const TPlanResult& result,
                              const std::string& beginText);

}  // namespace tilgung
