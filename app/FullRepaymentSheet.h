// The plan until the loan is repaid as the sheet the plan actions work on:
// the main plan's columns read from the table "Volltilgungsplan", each row's
// extra repayment, all nine columns for copy and CSV, and the same loan's rows without any extra
// (for the chart's comparison line).
#pragma once

#include "app/FullRepaymentPlan.h"
#include "app/PlanSheet.h"

namespace platform {
class TDataSet;
}

namespace tilgung {

// Reads `plan` (the table's component) at this moment; `inputs` only serve
// the comparison without extras, which is calculated apart and never stored.
// Errors of the dataset propagate.
TPlanSheet ReadFullRepaymentSheet(platform::TDataSet& plan, const TFullRepaymentInputs& inputs);

}  // namespace tilgung
