#include "app/ResultPanel.h"

namespace tilgung {

std::string ResultCaption(const TResultPanelRow& row) {
  std::string caption = row.caption;
  const auto first = caption.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return caption.substr(first, caption.find_last_not_of(' ') - first + 1);
}

std::vector<std::pair<std::string, std::string>> ListedResults(const TPlanPanelTexts& panel) {
  std::vector<std::pair<std::string, std::string>> listed;
  for (const TResultPanelRow& row : kResultPanel) {
    if (row.captionShown) listed.emplace_back(ResultCaption(row), (panel.*row.result).value_or(""));
  }
  return listed;
}

void MergePanelTexts(TPlanPanelTexts& shown, const TPlanPanelTexts& run) {
  for (const TResultPanelRow& row : kResultPanel) {
    if ((run.*row.result).has_value()) shown.*row.result = run.*row.result;
  }
}

}  // namespace tilgung
