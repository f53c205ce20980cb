#include "app/CommandLine.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <optional>
#include <ostream>

#include "app/PlanReport.h"
#include "app/PlanReportTexts.h"
#include "app/PlanSheet.h"
#include "app/PlanTable.h"
#include "app/PlanTexts.h"
#include "app/ResultPanel.h"
#include "app/UserText.h"
#include "engine/components/ABSTable.h"
#include "platform/locale/Locale.h"
#include "platform/os/DateTime.h"

namespace tilgung {

namespace {

// Display width of UTF-8 text: one column per character.
std::size_t Columns(const std::string& text) {
  std::size_t n = 0;
  for (unsigned char c : text) n += (c & 0xC0) != 0x80;
  return n;
}

std::string PadLeft(const std::string& text, std::size_t width) {
  const std::size_t cols = Columns(text);
  return cols >= width ? text : std::string(width - cols, ' ') + text;
}

std::string PadRight(const std::string& text, std::size_t width) {
  const std::size_t cols = Columns(text);
  return cols >= width ? text : text + std::string(width - cols, ' ');
}

std::string IsoDate(platform::TDateTime value) {
  int y, m, d;
  platform::DecodeDate(value, y, m, d);
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", y, m, d);
  return buf;
}

// Parses YYYY-MM-DD into a date the date picker can hold.
bool ParseIsoDate(const std::string& text, platform::TDateTime& out) {
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') return false;
  for (std::size_t i : {0, 1, 2, 3, 5, 6, 8, 9}) {
    if (text[i] < '0' || text[i] > '9') return false;
  }
  const int y = std::stoi(text.substr(0, 4));
  const int m = std::stoi(text.substr(5, 2));
  const int d = std::stoi(text.substr(8, 2));
  if (y < 1601) return false;
  return platform::TryEncodeDate(y, m, d, out);
}

// The frequency as the combo box would report it: an item's text or its
// number selects that item, any other text selects none.
int FrequencyIndex(const std::string& text) {
  for (int i = 0; i < kFrequencyItemCount; ++i) {
    if (text == kFrequencyItems[i] || text == std::to_string(i)) return i;
  }
  return -1;
}

// Numbers for CSV and JSON: the shortest text that reads back as the same
// double, with ".".
std::string Number(double value) {
  return platform::FormatFloatInvariant(value);
}

// Every number the output shows is a finite double.
bool ResultIsFinite(const TPlanResult& r, const std::vector<TPlanRow>& rows) {
  for (double v : {r.firstInstalment, r.instalment, r.balance, r.interestSum, r.repaymentTotal,
                   r.grandTotal}) {
    if (!std::isfinite(v)) return false;
  }
  return std::all_of(rows.begin(), rows.end(), [](const TPlanRow& row) {
    return std::isfinite(row.Darlehen) && std::isfinite(row.Tilgung) && std::isfinite(row.Zins);
  });
}

// JSON has no literal for infinities or NaN.
std::string JsonNumber(double value) {
  return std::isfinite(value) ? Number(value) : "null";
}

}  // namespace

std::string UsageText() {
  return "Aufruf: tilgungsplan [--print [OPTIONEN]] | [--help]\n"
         "Ohne --print öffnet sich das Fenster des Tilgungsplans.\n"
         "\n"
         "  --print                  Tilgungsplan ohne Fenster berechnen und ausgeben\n"
         "  --betrag TEXT            Darlehensbetrag (Vorgabe \"10000\")\n"
         "  --zins TEXT              Nominalzins in Prozent (Vorgabe \"4\")\n"
         "  --tilgung TEXT           Anfangstilgung in Prozent (Vorgabe \"5\")\n"
         "  --zahlweise TEXT|0..3    monatlich, vierteljährlich, halbjährlich, jährlich\n"
         "                           (Vorgabe \"monatlich\")\n"
         "  --zinsbindung TEXT       Zinsbindung, z. B. \"10 Jahre\" (Vorgabe \"10 Jahre\")\n"
         "  --beginn JJJJ-MM-TT      Beginn der Tilgung (Vorgabe: heute)\n"
         "  --format FORMAT          table, csv, json oder pdf (Vorgabe table)\n"
         "  --output DATEI           in diese Datei schreiben (für pdf nötig)\n"
         "  --help                   diese Hilfe\n"
         "\n"
         "Die Texte werden wie im Fenster gelesen: Zahlen mit dem Dezimaltrennzeichen der\n"
         "Ländereinstellung, ohne Tausendertrennzeichen. Zahlen, Beträge und Daten folgen\n"
         "LC_ALL, sonst LC_NUMERIC, LC_MONETARY, LC_TIME, sonst LANG (C/POSIX: deutsch).\n"
         "Exit-Status: 0 Plan ausgegeben, 1 ungültige Eingabe, 2 falscher Aufruf.\n";
}

bool WantsCommandLine(const std::vector<std::string>& args) {
  for (const std::string& arg : args) {
    if (arg.rfind("--", 0) == 0 || arg == "-h") return true;
  }
  return false;
}

std::string InputErrorMessage(const TPlanInputs& inputs, const TPlanResult& result,
                              const std::string& beginText) {
  auto quoted = [](const std::string& text) { return QuoteUserText(text); };
  switch (result.failedStep) {
    case TPlanStep::Amount:
      return "Fehler: Darlehensbetrag (--betrag) " + quoted(inputs.amountText) +
             " ist keine gültige Zahl.";
    case TPlanStep::Rate:
      return "Fehler: Nominalzins (--zins) " + quoted(inputs.rateText) + " ist keine gültige Zahl.";
    case TPlanStep::Repayment:
      return "Fehler: Anfangstilgung (--tilgung) " + quoted(inputs.repaymentText) +
             " ist keine gültige Zahl.";
    case TPlanStep::Arithmetic:
      return "Fehler: Betrag (--betrag), Nominalzins (--zins) und Anfangstilgung (--tilgung) "
             "ergeben Beträge außerhalb des Zahlenbereichs.";
    case TPlanStep::Term:
      return "Fehler: Zinsbindung (--zinsbindung) " + quoted(inputs.termText) +
             " beginnt nicht mit einer ganzen Zahl von Jahren.";
    case TPlanStep::EndDate:
      return "Fehler: Beginn (--beginn) " + beginText + " plus Zinsbindung (--zinsbindung) " +
             quoted(inputs.termText) + " ergibt kein gültiges Datum.";
    case TPlanStep::Rows:
      return "Fehler: Ein Fälligkeitstermin ab Beginn (--beginn) " + beginText +
             " liegt hinter dem letzten darstellbaren Datum.";
    default:
      return "Fehler: Der Tilgungsplan konnte nicht berechnet werden: " + result.errorMessage;
  }
}

void WritePlanTable(const TPlanResult& result, const std::vector<TPlanRow>& rows,
                    std::ostream& out) {
  const char* const* titles = kPlanFieldNames;
  std::vector<std::array<std::string, kPlanColumnCount>> cells;
  cells.reserve(rows.size());
  std::size_t widths[kPlanColumnCount];
  for (int c = 0; c < kPlanColumnCount; ++c) widths[c] = Columns(titles[c]);
  for (const TPlanRow& row : rows) {
    // The cells read exactly as the window's grid shows them.
    std::array<std::string, kPlanColumnCount> line;
    for (int c = 0; c < kPlanColumnCount; ++c) {
      line[c] = PlanCellText(row, c);
      widths[c] = std::max(widths[c], Columns(line[c]));
    }
    cells.push_back(std::move(line));
  }
  for (int c = 0; c < kPlanColumnCount; ++c)
    out << (c ? "  " : "") << PadLeft(titles[c], widths[c]);
  out << '\n';
  for (const auto& line : cells) {
    for (int c = 0; c < kPlanColumnCount; ++c)
      out << (c ? "  " : "") << PadLeft(line[c], widths[c]);
    out << '\n';
  }
  out << '\n';

  // The result panel: caption, then the result's text.
  const auto lines = ListedResults(result.panel);
  std::size_t captionWidth = 0, valueWidth = 0;
  for (const auto& [caption, value] : lines) {
    captionWidth = std::max(captionWidth, Columns(caption));
    valueWidth = std::max(valueWidth, Columns(value));
  }
  for (const auto& [caption, value] : lines) {
    out << PadRight(caption, captionWidth) << "  " << PadLeft(value, valueWidth) << '\n';
  }
}

void WritePlanCsv(const std::vector<TPlanRow>& rows, std::ostream& out) {
  for (int c = 0; c < kPlanColumnCount; ++c) out << (c ? "," : "") << kPlanFieldNames[c];
  out << '\n';
  for (const TPlanRow& row : rows) {
    out << row.Jahr << ',' << row.Monat << ',' << row.Tag << ',' << Number(row.Darlehen) << ','
        << Number(row.Tilgung) << ',' << Number(row.Zins) << '\n';
  }
}

void WritePlanJson(const TPlanResult& result, const std::vector<TPlanRow>& rows,
                   std::ostream& out) {
  out << "{\n  \"instalment\": " << JsonNumber(result.firstInstalment) << ",\n  \"rows\": [";
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const TPlanRow& row = rows[i];
    const std::string values[kPlanColumnCount] = {
        std::to_string(row.Jahr), std::to_string(row.Monat), std::to_string(row.Tag),
        JsonNumber(row.Darlehen), JsonNumber(row.Tilgung),   JsonNumber(row.Zins)};
    out << (i ? ",\n" : "\n") << "    {";
    for (int c = 0; c < kPlanColumnCount; ++c) {
      out << (c ? ", \"" : "\"") << kPlanFieldNames[c] << "\": " << values[c];
    }
    out << '}';
  }
  out << (rows.empty() ? "],\n" : "\n  ],\n");
  out << "  \"remaining_debt\": " << JsonNumber(result.balance) << ",\n"
      << "  \"interest_total\": " << JsonNumber(result.interestSum) << ",\n"
      << "  \"repayment_total\": " << JsonNumber(result.repaymentTotal) << ",\n"
      << "  \"grand_total\": " << JsonNumber(result.grandTotal) << ",\n"
      << "  \"start_date\": \"" << IsoDate(result.startDate) << "\",\n"
      << "  \"last_date\": \"" << IsoDate(result.lastDate) << "\"\n}\n";
}

int RunCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  TPlanInputs inputs;
  inputs.startDate = platform::Today();
  std::string beginText = IsoDate(inputs.startDate);
  TOutputFormat format = TOutputFormat::Table;
  bool print = false;
  std::optional<std::string> outputFile;

  auto usageError = [&](const std::string& message) {
    err << "tilgungsplan: " << message << "\n\n" << UsageText();
    return kExitUsage;
  };

  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::string value;
    bool hasValue = false;
    if (const auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = name.substr(eq + 1);
      name = name.substr(0, eq);
      hasValue = true;
    }
    if (name == "--help" || name == "-h") {
      if (hasValue) return usageError("Die Option --help hat keinen Wert.");
      out << UsageText();
      return kExitOk;
    }
    if (name == "--print") {
      if (hasValue) return usageError("Die Option --print hat keinen Wert.");
      print = true;
      continue;
    }
    const bool takesValue = name == "--betrag" || name == "--zins" || name == "--tilgung" ||
                            name == "--zahlweise" || name == "--zinsbindung" ||
                            name == "--beginn" || name == "--format" || name == "--output";
    if (!takesValue) return usageError("Unbekannte Option: " + QuoteUserText(args[i]));
    if (!hasValue) {
      if (i + 1 >= args.size())
        return usageError("Der Option " + QuoteUserText(name) + " fehlt ihr Wert.");
      value = args[++i];
    }
    if (name == "--betrag") {
      inputs.amountText = value;
    } else if (name == "--zins") {
      inputs.rateText = value;
    } else if (name == "--tilgung") {
      inputs.repaymentText = value;
    } else if (name == "--zahlweise") {
      // The window's combo box takes any text; a call naming none of its items
      // is a mistake, not a wish for a monthly plan.
      inputs.frequencyIndex = FrequencyIndex(value);
      if (inputs.frequencyIndex < 0) {
        return usageError(
            "--zahlweise erwartet monatlich, vierteljährlich, halbjährlich, jährlich oder 0 bis "
            "3: " +
            QuoteUserText(value));
      }
    } else if (name == "--zinsbindung") {
      inputs.termText = value;
    } else if (name == "--beginn") {
      if (!ParseIsoDate(value, inputs.startDate)) {
        return usageError("--beginn erwartet ein Datum JJJJ-MM-TT zwischen 1601 und 9999: " +
                          QuoteUserText(value));
      }
      beginText = value;
    } else if (name == "--output") {
      outputFile = value;
    } else if (value == "table") {
      format = TOutputFormat::Table;
    } else if (value == "csv") {
      format = TOutputFormat::Csv;
    } else if (value == "json") {
      format = TOutputFormat::Json;
    } else if (value == "pdf") {
      format = TOutputFormat::Pdf;
    } else {
      return usageError("--format erwartet table, csv, json oder pdf: " + QuoteUserText(value));
    }
  }
  if (!print) return usageError("Diese Optionen gelten nur zusammen mit --print.");
  if (format == TOutputFormat::Pdf && !outputFile) {
    return usageError("--format pdf braucht --output DATEI.");
  }
  if (outputFile && outputFile->empty()) return usageError("--output braucht einen Dateinamen.");

  // The plan is computed into the engine's table exactly as the window does
  // it, and what is printed is what the table holds afterwards.
  TABSTable table(nullptr);
  ConfigurePlanComponent(table);
  TPlanTableSink sink(table);
  const TPlanResult result = RecalculatePlan(inputs, sink);
  if (!result.ok) {
    err << InputErrorMessage(inputs, result, beginText) << '\n';
    return kExitBadInput;
  }
  const TPlanSheet sheet = ReadPlanSheet(table);
  if (!ResultIsFinite(result, sheet.values)) {
    // A sum beyond the range of doubles is as unusable as an amount beyond it.
    TPlanResult overflow = result;
    overflow.failedStep = TPlanStep::Arithmetic;
    err << InputErrorMessage(inputs, overflow, beginText) << '\n';
    return kExitBadInput;
  }
  if (format == TOutputFormat::Pdf) {
    QString error;
    if (!WritePlanPdf(QString::fromStdString(*outputFile), CommandLineReportTexts(inputs, result),
                      sheet, &error)) {
      err << "Fehler: " << error.toStdString() << '\n';
      return kExitBadInput;
    }
    return kExitOk;
  }
  std::ofstream file;
  if (outputFile) {
    file.open(*outputFile, std::ios::binary | std::ios::trunc);
    if (!file) {
      err << "Fehler: " << QuoteUserText(*outputFile) << " kann nicht geschrieben werden.\n";
      return kExitBadInput;
    }
  }
  return WriteTextFormat(format, result, sheet.values, outputFile ? file : out, err);
}

int WriteTextFormat(TOutputFormat format, const TPlanResult& result,
                    const std::vector<TPlanRow>& rows, std::ostream& out, std::ostream& err) {
  switch (format) {
    case TOutputFormat::Table:
      WritePlanTable(result, rows, out);
      break;
    case TOutputFormat::Csv:
      WritePlanCsv(rows, out);
      break;
    case TOutputFormat::Json:
      WritePlanJson(result, rows, out);
      break;
    case TOutputFormat::Pdf:
      break;
  }
  out.flush();
  if (!out) {
    err << "Fehler: Die Ausgabe konnte nicht geschrieben werden.\n";
    return kExitBadInput;
  }
  return kExitOk;
}

}  // namespace tilgung
