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

void AppendTabLine(QString& out, const TPlanCells& line) {
  for (int c = 0; c < kPlanColumnCount; ++c) {
    if (c) out += QLatin1Char('\t');
    out += OneLineCell(line[c]);
  }
  out += QLatin1Char('\n');
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
  AppendTabLine(out, sheet.titles);
  for (const TPlanCells& line : sheet.cells) AppendTabLine(out, line);
  return out;
}

QString PlanSheetHtml(const TPlanSheet& sheet) {
  QString html =
      QStringLiteral("<html><head><meta charset=\"utf-8\"></head><body><table border=\"1\">\n<tr>");
  for (const std::string& title : sheet.titles) {
    html += QStringLiteral("<th>") + QString::fromStdString(title).toHtmlEscaped() +
            QStringLiteral("</th>");
  }
  html += QStringLiteral("</tr>\n");
  for (const TPlanCells& line : sheet.cells) {
    html += QStringLiteral("<tr>");
    for (int c = 0; c < kPlanColumnCount; ++c) {
      // Numbers right-aligned, as the grid shows them.
      html += QStringLiteral("<td align=\"right\">") +
              QString::fromStdString(line[c]).toHtmlEscaped() + QStringLiteral("</td>");
    }
    html += QStringLiteral("</tr>\n");
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
