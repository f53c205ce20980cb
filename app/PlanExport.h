// The plan as text for other programs: the clipboard's tab-separated text and
// HTML table (cells exactly as the grid shows them), and CSV for a
// spreadsheet in the user's conventions.
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
// comma the cells are separated by ";", otherwise by ",". Jahr, Monat and
// Tag are plain integers as in the grid; amounts are numbers with the
// currency's decimals and the locale's decimal separator, without currency
// sign or group separators. Text is UTF-8; a cell holding the separator, a
// quote or a line break is quoted. Lines end with CRLF.
std::string PlanSheetCsv(const TPlanSheet& sheet, const platform::FormatSettings& settings);

// The separator PlanSheetCsv uses under `settings`.
char CsvSeparator(const platform::FormatSettings& settings);

}  // namespace tilgung
