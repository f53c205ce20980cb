// The printed plan: a title, the inputs and the results as captioned lines,
// then the whole plan as a table of the plan's columns (TPlanColumns: their
// titles, relative widths and cells). The table runs over as many pages as it
// needs, its column titles are repeated at the top of every page, and every
// page ends with "Seite n von m".
//
// The same drawing serves both plans, in the print preview (a QPrinter) and
// in the PDF file of the command line (a QPdfWriter); it reads nothing but
// its arguments.
#pragma once

#include <QString>
#include <string>
#include <utility>
#include <vector>

#include "app/PlanSheet.h"

class QPagedPaintDevice;

namespace tilgung {

using TCaptionedTexts = std::vector<std::pair<std::string, std::string>>;

struct TPlanReportTexts {
  std::string title = "Darlehens Tilgungsplan";
  TCaptionedTexts inputs;   // caption, the input as typed or picked
  TCaptionedTexts results;  // caption, the result's text (ListedResults)
};

// How the rows fall onto pages for a page of `pageHeight` device units whose
// lines are `lineHeight` high; `headLines` lines of the first page go to the
// title, inputs and results.
struct TReportPagination {
  int firstPageRows = 0;
  int otherPageRows = 0;
  int pages = 1;
};
TReportPagination PaginateReport(int rowCount, int headLines, int pageHeight, int lineHeight);

// Draws the report on `device`, one device page per report page, and
// returns the number of pages. REQUIRES: no painter is active on `device`.
int RenderPlanReport(QPagedPaintDevice& device, const TPlanReportTexts& texts,
                     const TPlanColumns& columns);

// Writes the report as a PDF file of A4 pages through WriteWholeFile (a
// failure leaves an older file as it was). False, with the German sentence
// of WriteFailureMessage in `error`, when the file cannot be written.
// Creates the toolkit's application object off screen when there is none
// (the command line).
bool WritePlanPdf(const std::string& file, const TPlanReportTexts& texts,
                  const TPlanColumns& columns, std::string* error);

}  // namespace tilgung
