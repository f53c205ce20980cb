// The texts that the window, the grid and the command line share: the field
// names of the plan table, the items of the payment frequency and the display
// text of a plan row's cells. Free of the window toolkit, so that the command
// line prints exactly what the grid shows without linking the grid's model.
#pragma once

#include <string>

#include "app/PlanCalculation.h"

namespace tilgung {

// Field names of the plan table, in column order (the grid's headers, the
// command line's table titles, CSV header and JSON keys).
inline constexpr int kPlanColumnCount = 6;
inline constexpr const char* kPlanFieldNames[kPlanColumnCount] = {"Jahr",     "Monat",   "Tag",
                                                                  "Darlehen", "Tilgung", "Zins"};
// Width of each column in the window's grid, in pixels; the printed report
// shares its width out in the same proportions.
inline constexpr int kPlanColumnWidths[kPlanColumnCount] = {57, 44, 43, 101, 80, 79};

// Items of the payment frequency, in the order of the frequency index.
inline constexpr int kFrequencyItemCount = 4;
inline constexpr const char* kFrequencyItems[kFrequencyItemCount] = {"monatlich", "vierteljährlich",
                                                                     "halbjährlich", "jährlich"};

// Display text of one cell: integers as plain decimals, money in the user's
// currency format with 15 significant digits and the decimals of the locale's
// currency (two for the euro, none for the yen). A column outside
// 0..kPlanColumnCount-1 gives the empty text.
std::string PlanCellText(const TPlanRow& row, int column);

}  // namespace tilgung
