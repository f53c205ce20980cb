// The printed plan until the loan is repaid, as a PDF file: the title, the
// inputs and the results as captioned lines, then the nine columns of the
// plan over as many A4 pages as it needs, the column titles repeated on
// every page and "Seite n von m" at its foot. Pages fall as the main plan's
// report lays them out (PaginateReport).
//
// Reads nothing but its arguments. Creates the toolkit's application object
// off screen when there is none (the command line).
#pragma once

#include <string>
#include <vector>

#include "app/FullRepaymentPlan.h"
#include "app/PlanReport.h"

namespace tilgung {

// Writes the report through WriteWholeFile (a failure leaves an older file as
// it was). False, with one German sentence in `error`, when the file cannot
// be written.
bool WriteFullRepaymentPdf(const std::string& file, const TPlanReportTexts& texts,
                           const std::vector<TFullRepaymentRow>& rows, std::string* error);

}  // namespace tilgung
