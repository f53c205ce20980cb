// The command line's plan until the loan is repaid: `--bis-volltilgung` and
// its extra options. The option table of the command line sets what each
// extra option names in a TFullRepaymentRequest; after parsing, a call that
// asks for this plan runs RunFullRepaymentCommandLine instead of the main plan.
//
// The plan is computed into the engine's table "Volltilgungsplan" and every
// format writes what that table holds afterwards. Nothing here needs a display
// (the PDF writer starts the toolkit off screen).
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/FullRepaymentPlan.h"
#include "app/PlanReport.h"

namespace tilgung {

// What the extra options set, as given.
struct TFullRepaymentRequest {
  bool wanted = false;                  // --bis-volltilgung
  std::string firstExtraOption;         // the first extra option given, "" for none
  TFullRepaymentInputs extras;          // the extra texts; `plan` and `oneOffs` unused
  std::vector<std::string> oneOffArgs;  // every --einmalig value, in order
};

// The message of a wrong call for extra options without --bis-volltilgung,
// or "".
std::string FullRepaymentCallError(const TFullRepaymentRequest& request);

// Runs the plan and writes it in `format`: to `outputFile` through
// WriteWholeFile, otherwise to `out`. Returns the exit status; messages and
// notices (one-offs that are ignored) go to `err`, one German line each.
// REQUIRES: `request.wanted`; a Pdf format has an output file.
int RunFullRepaymentCommandLine(const TFullRepaymentRequest& request, const TPlanInputs& inputs,
                                const std::string& beginText, TOutputFormat format,
                                const std::optional<std::string>& outputFile, std::ostream& out,
                                std::ostream& err);

// The result texts, captioned, as the table output and the report show them.
TCaptionedTexts FullRepaymentResultTexts(const TFullRepaymentResult& result);

// The writers of one successful result and its rows (CSV: PlainPlanCsv of
// FullRepaymentColumns).
std::string FullRepaymentTableText(const TFullRepaymentResult& result,
                                   const std::vector<TFullRepaymentRow>& rows);
std::string FullRepaymentJsonText(const TFullRepaymentResult& result,
                                  const std::vector<TFullRepaymentRow>& rows);

}  // namespace tilgung
