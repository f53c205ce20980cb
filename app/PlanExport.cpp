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

void AppendTabLine(QString& out, const std::vector<std::string>& line) {
  bool first = true;
  for (const std::string& cell : line) {
    if (!first) out += QLatin1Char('\t');
    first = false;
    out += OneLineCell(cell);
  }
  out += QLatin1Char('\n');
}

void AppendHtmlLine(QString& html, const std::vector<std::string>& line, const QString& open,
                    const QString& close) {
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

// A whole-number column's value (an int32 the table holds) as plain digits.
std::string WholeNumber(double value) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.0f", value);
  return buf;
}

// The titles, then one line per row: the whole-number columns plain, the
// others through `amount`.
template <typename TAmount>
std::string CsvText(const TPlanColumns& columns, char sep, const char* lineEnd,
                    const TAmount& amount) {
  std::string out;
  for (std::size_t c = 0; c < columns.titles.size(); ++c) {
    if (c) out += sep;
    out += CsvCell(columns.titles[c], sep);
  }
  out += lineEnd;
  const std::size_t integers = static_cast<std::size_t>(columns.integerColumns);
  for (const std::vector<double>& row : columns.numbers) {
    for (std::size_t c = 0; c < row.size(); ++c) {
      if (c) out += sep;
      out += CsvCell(c < integers ? WholeNumber(row[c]) : amount(row[c]), sep);
    }
    out += lineEnd;
  }
  return out;
}

}  // namespace

QString PlanSheetTabText(const TPlanSheet& sheet) {
  const TPlanColumns columns = SheetColumns(sheet);
  QString out;
  AppendTabLine(out, columns.titles);
  for (const auto& line : columns.cells) AppendTabLine(out, line);
  return out;
}

QString PlanSheetHtml(const TPlanSheet& sheet) {
  const TPlanColumns columns = SheetColumns(sheet);
  QString html =
      QStringLiteral("<html><head><meta charset=\"utf-8\"></head><body><table border=\"1\">\n");
  AppendHtmlLine(html, columns.titles, QStringLiteral("<th>"), QStringLiteral("</th>"));
  // Numbers right-aligned, as the grid shows them.
  const QString td = QStringLiteral("<td align=\"right\">"), tdEnd = QStringLiteral("</td>");
  for (const auto& line : columns.cells) AppendHtmlLine(html, line, td, tdEnd);
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

std::string PlanCsv(const TPlanColumns& columns, const platform::FormatSettings& settings) {
  const char sep = CsvSeparator(settings);
  return CsvText(columns, sep, "\r\n", [&](double value) { return CsvAmount(value, settings); });
}

std::string PlanSheetCsv(const TPlanSheet& sheet, const platform::FormatSettings& settings) {
  return PlanCsv(SheetColumns(sheet), settings);
}

std::string PlainPlanCsv(const TPlanColumns& columns) {
  return CsvText(columns, ',', "\n",
                 [](double value) { return platform::FormatFloatInvariant(value); });
}

}  // namespace tilgung
