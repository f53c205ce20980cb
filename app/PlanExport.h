// The plan as text for other programs: the clipboard's tab-separated text and
// HTML table (cells exactly as the grid shows them), CSV for a spreadsheet in
// the user's conventions (what the window saves), and CSV in fixed
// conventions for scripts (what the command line writes). Every writer takes
// the plan's columns (SheetColumns), so that both plans share them.
#pragma once

#include <QString>
#include <memory>
#include <string>

#include "app/PlanSheet.h"

class QMimeData;

namespace platform {
class FormatSettings;
}

namespace tilgung {

// Titles, then one line per row; cells separated by a tab, lines ended by a
// newline. Tabs and line breaks inside a cell become blanks so that a cell
// never splits.
QString PlanSheetTabText(const TPlanSheet& sheet);

// The same table as an HTML document with one <table>; the texts are escaped.
QString PlanSheetHtml(const TPlanSheet& sheet);

// Both of the above, for the clipboard. The caller owns the result.
std::unique_ptr<QMimeData> PlanSheetMimeData(const TPlanSheet& sheet);

// CSV in the conventions of `settings`: where the decimal separator is a
// comma the cells are separated by ";", otherwise by ",". The whole-number
// columns are plain integers as in the grid; amounts are numbers with the
// currency's decimals and the locale's decimal separator, without currency
// sign or group separators. Text is UTF-8; a cell holding the separator, a
// quote or a line break is quoted. Lines end with CRLF.
std::string PlanCsv(const TPlanColumns& columns, const platform::FormatSettings& settings);

// PlanCsv of the sheet's columns (SheetColumns).
std::string PlanSheetCsv(const TPlanSheet& sheet, const platform::FormatSettings& settings);

// CSV in fixed conventions: cells separated by ",", whole numbers plain,
// amounts as the shortest text with "." that reads back as the same double,
// lines ended by a newline; a title holding ",", a quote or a line break is
// quoted.
std::string PlainPlanCsv(const TPlanColumns& columns);

// The separator PlanCsv uses under `settings`.
char CsvSeparator(const platform::FormatSettings& settings);

}  // namespace tilgung
