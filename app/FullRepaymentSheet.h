// The plan until the loan is repaid as the plan actions, the report and CSV
// see it: its nine columns (titles, widths, the cells the grid shows, the
// numbers), the main plan's columns and each row's extra repayment for the
// yearly summary, and the same loan's rows without any extra (for the chart's
// comparison line). Everything is read from the table "Volltilgungsplan".
#pragma once

#include <string>
#include <vector>

#include "app/FullRepaymentPlan.h"
#include "app/FullRepaymentTable.h"
#include "app/PlanSheet.h"

namespace platform {
class TDataSet;
}

namespace tilgung {

// Width of each column in the dialog's grid, in pixels; the printed report
// shares its width out in the same proportions.
inline constexpr int kFullRepaymentColumnWidths[kFullRepaymentColumnCount] = {44, 44, 44, 36, 96,
                                                                              80, 90, 80, 80};

// The nine columns of `rows`: the field names as titles, the widths above,
// the numbers, and `cells` (per row the fields as the grid shows them, as
// ReadFullRepaymentRows gives them; empty where no cells are needed).
TPlanColumns FullRepaymentColumns(const std::vector<TFullRepaymentRow>& rows,
                                  std::vector<std::vector<std::string>> cells);

// Reads `plan` (the table's component) at this moment; `inputs` only serve
// the comparison without extras, which is calculated apart and never stored.
// Errors of the dataset propagate.
TPlanSheet ReadFullRepaymentSheet(platform::TDataSet& plan, const TFullRepaymentInputs& inputs);

}  // namespace tilgung
