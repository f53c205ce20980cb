#include "app/PlanExport.h"

#include <QMimeData>
#include <cmath>
#include <cstdio>

#include "platform/locale/Locale.h"

namespace tilgung {

namespace {

QString OneLineCell(const std::string& text) {
  QString cell = QString::fromStdString(text);
  for (QChar& ch : cell) {
    if (ch == QLatin1Char('\t') || ch == QLatin1Char('\n') || ch == QLatin1Char('\r')) {
      ch = QLatin1Char(' ');
    }
  }
  return cell;
}

template <typename TCells>
void AppendTabLine(QString& out, const TCells& line) {
  bool first = true;
  for (const std::string& cell : line) {
    if (!first) out += QLatin1Char('\t');
    first = false;
    out += OneLineCell(cell);
  }
  out += QLatin1Char('\n');
}

template <typename TCells>
void AppendHtmlLine(QString& html, const TCells& line, const QString& open, const QString& close) {
  html += QStringLiteral("<tr>");
  for (const std::string& cell : line) {
    html += open + QString::fromStdString(cell).toHtmlEscaped() + close;
  }
  html += QStringLiteral("</tr>\n");
}

std::string CsvAmount(double value, const platform::FormatSettings& settings) {
  if (!std::isfinite(value)) return {};
  char buf[400];
  std::snprintf(buf, sizeof buf, "%.*f", settings.CurrencyDigits(), value);
  std::string text = buf;
  if (const auto dot = text.find('.'); dot != std::string::npos) {
    text.replace(dot, 1, settings.DecimalSeparator());
  }
  return text;
}

std::string CsvCell(const std::string& text, char separator) {
  if (text.find_first_of(std::string{separator, '"', '\n', '\r'}) == std::string::npos) {
    return text;
  }
  std::string quoted = "\"";
  for (char ch : text) {
    if (ch == '"') quoted += '"';
    quoted += ch;
  }
  return quoted + '"';
}

}  // namespace

QString PlanSheetTabText(const TPlanSheet& sheet) {
  QString out;
  if (!sheet.ownTitles.empty()) {
    AppendTabLine(out, sheet.ownTitles);
    for (const auto& line : sheet.ownCells) AppendTabLine(out, line);
    return out;
  }
  AppendTabLine(out, sheet.titles);
  for (const TPlanCells& line : sheet.cells) AppendTabLine(out, line);
  return out;
}

QString PlanSheetHtml(const TPlanSheet& sheet) {
  QString html =
      QStringLiteral("<html><head><meta charset=\"utf-8\"></head><body><table border=\"1\">\n");
  const QString th = QStringLiteral("<th>"), thEnd = QStringLiteral("</th>");
  // Numbers right-aligned, as the grid shows them.
  const QString td = QStringLiteral("<td align=\"right\">"), tdEnd = QStringLiteral("</td>");
  if (!sheet.ownTitles.empty()) {
    AppendHtmlLine(html, sheet.ownTitles, th, thEnd);
    for (const auto& line : sheet.ownCells) AppendHtmlLine(html, line, td, tdEnd);
  } else {
    AppendHtmlLine(html, sheet.titles, th, thEnd);
    for (const TPlanCells& line : sheet.cells) AppendHtmlLine(html, line, td, tdEnd);
  }
  html += QStringLiteral("</table></body></html>\n");
  return html;
}

std::unique_ptr<QMimeData> PlanSheetMimeData(const TPlanSheet& sheet) {
  auto data = std::make_unique<QMimeData>();
  data->setText(PlanSheetTabText(sheet));
  data->setHtml(PlanSheetHtml(sheet));
  return data;
}

char CsvSeparator(const platform::FormatSettings& settings) {
  return settings.DecimalSeparator() == "," ? ';' : ',';
}

std::string PlanSheetCsv(const TPlanSheet& sheet, const platform::FormatSettings& settings) {
  const char sep = CsvSeparator(settings);
  std::string out;
  for (int c = 0; c < kPlanColumnCount; ++c) {
    if (c) out += sep;
    out += CsvCell(sheet.titles[c], sep);
  }
  out += "\r\n";
  for (const TPlanRow& row : sheet.values) {
    const std::string cells[kPlanColumnCount] = {
        std::to_string(row.Jahr),         std::to_string(row.Monat),
        std::to_string(row.Tag),          CsvAmount(row.Darlehen, settings),
        CsvAmount(row.Tilgung, settings), CsvAmount(row.Zins, settings)};
    for (int c = 0; c < kPlanColumnCount; ++c) {
      if (c) out += sep;
      out += CsvCell(cells[c], sep);
    }
    out += "\r\n";
  }
  return out;
}

}  // namespace tilgung
