// The result panel as one table: each row pairs a caption with the result it
// stands for and says where the pair sits in the window's panel. The window
// builds its caption and value labels from it and fills them from it, the
// printed report and the command line's table list its captioned results in
// its order. Free of the window toolkit, so that the command line uses the
// very same table.
//
// The rows are in reading order: the left column from the top, the right
// column from the top, then the grand total across the panel.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/PlanCalculation.h"

namespace tilgung {

struct TResultPanelRow {
  const char* caption;  // as the window shows it, padding included
  std::optional<std::string> TPlanPanelTexts::*result;
  // The window's component names of the caption and the value label.
  const char* captionName;
  const char* valueName;
  // Place in the panel: the caption at (captionLeft, top), captionWidth wide;
  // the value label at (valueLeft, top).
  int captionLeft;
  int top;
  int captionWidth;
  int valueLeft;
  // A hidden caption's result is neither captioned in the window nor listed
  // in the report or on the command line (its value label still shows it).
  bool captionShown;
};

inline constexpr TResultPanelRow kResultPanel[] = {
    {" Kreditrate", &TPlanPanelTexts::instalment, "Label25", "Label26", 8, 8, 97, 112, true},
    {" Tilgungsbegin ", &TPlanPanelTexts::startDate, "Label9", "Label16", 8, 24, 97, 112, true},
    {" Zinsbindung", &TPlanPanelTexts::lastDueDate, "Label10", "Label17", 8, 40, 97, 112, true},
    {" Effektivzins", &TPlanPanelTexts::rate, "Label11", "Label18", 8, 56, 97, 112, false},
    {" Summe Tilgung", &TPlanPanelTexts::repaymentSum, "Label14", "Label21", 208, 8, 97, 312, true},
    {" Summe Zinsen", &TPlanPanelTexts::interestSum, "Label13", "Label20", 208, 24, 97, 312, true},
    {" Restschuld", &TPlanPanelTexts::remainingDebt, "Label12", "Label19", 208, 40, 97, 312, true},
    {"Summe Tilgung+Zinsen+Restschuld ", &TPlanPanelTexts::grandTotal, "Label15", "Label22", 8, 72,
     297, 312, true},
};

// The caption without the window's padding.
std::string ResultCaption(const TResultPanelRow& row);

// The captioned results of `panel` in the table's order: caption without
// padding, the result's text (empty when the panel has none).
std::vector<std::pair<std::string, std::string>> ListedResults(const TPlanPanelTexts& panel);

// Sets in `shown` every text `run` has; the others keep what `shown` had, as
// the window's value labels do.
void MergePanelTexts(TPlanPanelTexts& shown, const TPlanPanelTexts& run);

}  // namespace tilgung
