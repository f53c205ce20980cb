#include "app/CommandLine.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <optional>
#include <ostream>
#include <sstream>

#include "app/CommandLineText.h"
#include "app/FullRepaymentCommandLine.h"
#include "app/OutputFile.h"
#include "app/PlanExport.h"
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

// The frequency as the combo box would report it: an item's text or its
// number selects that item, any other text selects none.
int FrequencyIndex(const std::string& text) {
  for (int i = 0; i < kFrequencyItemCount; ++i) {
    if (text == kFrequencyItems[i] || text == std::to_string(i)) return i;
  }
  return -1;
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

// What one call asks for, as the options set it.
struct TRequest {
  TPlanInputs inputs;
  std::string beginText;  // --beginn as given, for the messages
  TOutputFormat format = TOutputFormat::Table;
  bool print = false;
  bool help = false;
  std::optional<std::string> outputFile;
  TFullRepaymentRequest fullRepayment;  // --bis-volltilgung and its options
};

// Sets what an option names from its value ("" for an option without one);
// the message of a wrong call, or "" when the value is taken.
using TOptionSetter = std::string (*)(TRequest& request, const std::string& value);

// One option of the command line. Every option is named here once: the
// parser and the usage read this table.
struct TOption {
  const char* name;
  const char* valueName;  // how the usage names the value; nullptr: takes none
  const char* help;       // the usage's text ("\n" continues it); nullptr: not listed
  TOptionSetter set;
  // An option of the plan until the loan is repaid, wrong without
  // --bis-volltilgung.
  bool extra = false;
};

const std::pair<const char*, TOutputFormat> kFormats[] = {{"table", TOutputFormat::Table},
                                                          {"csv", TOutputFormat::Csv},
                                                          {"json", TOutputFormat::Json},
                                                          {"pdf", TOutputFormat::Pdf}};

std::string SetHelp(TRequest& r, const std::string&) {
  r.help = true;
  return {};
}

// In the order the usage lists them.
const TOption kOptions[] = {
    {"--print", nullptr, "Tilgungsplan ohne Fenster berechnen und ausgeben",
     [](TRequest& r, const std::string&) {
       r.print = true;
       return std::string();
     }},
    {"--betrag", "TEXT", "Darlehensbetrag (Vorgabe \"10000\")",
     [](TRequest& r, const std::string& v) {
       r.inputs.amountText = v;
       return std::string();
     }},
    {"--zins", "TEXT", "Nominalzins in Prozent (Vorgabe \"4\")",
     [](TRequest& r, const std::string& v) {
       r.inputs.rateText = v;
       return std::string();
     }},
    {"--tilgung", "TEXT", "Anfangstilgung in Prozent (Vorgabe \"5\")",
     [](TRequest& r, const std::string& v) {
       r.inputs.repaymentText = v;
       return std::string();
     }},
    {"--zahlweise", "TEXT|0..3",
     "monatlich, vierteljährlich, halbjährlich, jährlich\n(Vorgabe \"monatlich\")",
     [](TRequest& r, const std::string& v) {
       // The window's combo box takes any text; a call naming none of its
       // items is a mistake, not a wish for a monthly plan.
       r.inputs.frequencyIndex = FrequencyIndex(v);
       if (r.inputs.frequencyIndex >= 0) return std::string();
       return "--zahlweise erwartet monatlich, vierteljährlich, halbjährlich, jährlich oder 0 bis "
              "3: " +
              QuoteUserText(v);
     }},
    {"--zinsbindung", "TEXT", "Zinsbindung, z. B. \"10 Jahre\" (Vorgabe \"10 Jahre\")",
     [](TRequest& r, const std::string& v) {
       r.inputs.termText = v;
       return std::string();
     }},
    {"--beginn", "JJJJ-MM-TT", "Beginn der Tilgung (Vorgabe: heute)",
     [](TRequest& r, const std::string& v) {
       if (!ParseIsoDate(v, r.inputs.startDate)) {
         return "--beginn erwartet ein Datum JJJJ-MM-TT zwischen 1601 und 9999: " +
                QuoteUserText(v);
       }
       r.beginText = v;
       return std::string();
     }},
    {"--format", "FORMAT", "table, csv, json oder pdf (Vorgabe table)",
     [](TRequest& r, const std::string& v) {
       for (const auto& [name, format] : kFormats) {
         if (v == name) {
           r.format = format;
           return std::string();
         }
       }
       return "--format erwartet table, csv, json oder pdf: " + QuoteUserText(v);
     }},
    {"--output", "DATEI", "in diese Datei schreiben (für pdf nötig)",
     [](TRequest& r, const std::string& v) {
       r.outputFile = v;
       return std::string();
     }},
    {"--bis-volltilgung", nullptr, "den Plan bis zur Volltilgung ausgeben (statt --print)",
     [](TRequest& r, const std::string&) {
       r.fullRepayment.wanted = true;
       return std::string();
     }},
    {"--anschlusszins", "TEXT", "Zins nach der Zinsbindung in Prozent (Vorgabe: Nominalzins)",
     [](TRequest& r, const std::string& v) {
       r.fullRepayment.extras.followRateText = v;
       return std::string();
     },
     true},
    {"--sondertilgung", "BETRAG", "jährliche Sondertilgung (Vorgabe: keine)",
     [](TRequest& r, const std::string& v) {
       r.fullRepayment.extras.yearlyAmountText = v;
       return std::string();
     },
     true},
    {"--sondertilgung-monat", "1..12", "ihr Monat (Vorgabe 1)",
     [](TRequest& r, const std::string& v) {
       r.fullRepayment.extras.yearlyMonthText = v;
       return std::string();
     },
     true},
    {"--sondertilgung-ab", "JAHR", "ihr erstes Jahr (Vorgabe: Jahr des Beginns)",
     [](TRequest& r, const std::string& v) {
       r.fullRepayment.extras.yearlyFromText = v;
       return std::string();
     },
     true},
    {"--sondertilgung-max", "PROZENT",
     "Sondertilgungen je Kalenderjahr höchstens, in Prozent\ndes Darlehensbetrags (Vorgabe: ohne "
     "Grenze)",
     [](TRequest& r, const std::string& v) {
       r.fullRepayment.extras.capText = v;
       return std::string();
     },
     true},
    {"--einmalig", "JJJJ-MM-TT=BETRAG", "einmalige Sondertilgung, bis zu 50-mal",
     [](TRequest& r, const std::string& v) {
       std::vector<std::string>& args = r.fullRepayment.oneOffArgs;
       if (static_cast<int>(args.size()) >= kMaxOneOffExtras) {
         return "--einmalig ist höchstens " + std::to_string(kMaxOneOffExtras) + "-mal möglich.";
       }
       args.push_back(v);
       return std::string();
     },
     true},
    {"--help", nullptr, "diese Hilfe", SetHelp},
    {"-h", nullptr, nullptr, SetHelp},
};

const TOption* FindOption(const std::string& name) {
  for (const TOption& option : kOptions) {
    if (name == option.name) return &option;
  }
  return nullptr;
}

// The usage's list of options: name and value in a column of 25, the text
// after it, continued lines indented to the text.
std::string OptionLines() {
  constexpr std::size_t kColumn = 25;
  std::string lines;
  for (const TOption& option : kOptions) {
    if (!option.help) continue;
    std::string head = option.name;
    if (option.valueName) head += std::string(" ") + option.valueName;
    std::string help = option.help;
    for (std::size_t nl = help.find('\n'); nl != std::string::npos; nl = help.find('\n', nl + 1)) {
      help.insert(nl + 1, kColumn + 2, ' ');
    }
    // A head that fills the column puts its text on the next line.
    if (Columns(head) >= kColumn) head += "\n" + std::string(kColumn + 2, ' ');
    lines += "  " + PadRight(head, kColumn) + help + "\n";
  }
  return lines;
}

}  // namespace

std::string UsageText() {
  return "Aufruf: tilgungsplan [--print | --bis-volltilgung [OPTIONEN]] | [--help]\n"
         "Ohne --print oder --bis-volltilgung öffnet sich das Fenster des Tilgungsplans.\n"
         "\n" +
         OptionLines() +
         "\n"
         "Die Texte werden wie im Fenster gelesen: Zahlen mit dem Dezimaltrennzeichen der\n"
         "Ländereinstellung, ohne Tausendertrennzeichen. Zahlen, Beträge und Daten folgen\n"
         "LC_ALL, sonst LC_NUMERIC, LC_MONETARY, LC_TIME, sonst LANG (C/POSIX: deutsch).\n"
         "Exit-Status: 0 Plan ausgegeben, 1 ungültige Eingabe, 2 falscher Aufruf,\n"
         "3 Ausgabe konnte nicht geschrieben werden.\n";
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
  std::vector<std::vector<std::string>> lines;
  lines.reserve(rows.size() + 1);
  lines.emplace_back(std::begin(kPlanFieldNames), std::end(kPlanFieldNames));
  for (const TPlanRow& row : rows) {
    // The cells read exactly as the window's grid shows them.
    std::vector<std::string>& line = lines.emplace_back(kPlanColumnCount);
    for (int c = 0; c < kPlanColumnCount; ++c) line[c] = PlanCellText(row, c);
  }
  WriteTextTable(lines, out);
  out << '\n';
  // The result panel: caption, then the result's text.
  WriteCaptionedLines(ListedResults(result.panel), out);
}

void WritePlanCsv(const std::vector<TPlanRow>& rows, std::ostream& out) {
  out << PlainPlanCsv(PlanColumns(rows));
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
  TRequest request;
  request.inputs.startDate = platform::Today();
  request.beginText = IsoDate(request.inputs.startDate);

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
    const TOption* option = FindOption(name);
    if (!option) return usageError("Unbekannte Option: " + QuoteUserText(args[i]));
    if (!option->valueName && hasValue) {
      return usageError("Die Option " + name + " hat keinen Wert.");
    }
    if (option->valueName && !hasValue) {
      if (i + 1 >= args.size())
        return usageError("Der Option " + QuoteUserText(name) + " fehlt ihr Wert.");
      value = args[++i];
    }
    if (option->extra && request.fullRepayment.firstExtraOption.empty()) {
      request.fullRepayment.firstExtraOption = name;
    }
    if (const std::string wrong = option->set(request, value); !wrong.empty()) {
      return usageError(wrong);
    }
    // The usage is the whole answer, whatever follows.
    if (request.help) {
      out << UsageText();
      return kExitOk;
    }
  }
  const TPlanInputs& inputs = request.inputs;
  const std::string& beginText = request.beginText;
  const TOutputFormat format = request.format;
  const std::optional<std::string>& outputFile = request.outputFile;
  if (const std::string wrong = FullRepaymentCallError(request.fullRepayment); !wrong.empty()) {
    return usageError(wrong);
  }
  if (!request.print && !request.fullRepayment.wanted) {
    return usageError("Diese Optionen gelten nur mit --print oder --bis-volltilgung.");
  }
  if (format == TOutputFormat::Pdf && !outputFile) {
    return usageError("--format pdf braucht --output DATEI.");
  }
  if (outputFile && outputFile->empty()) return usageError("--output braucht einen Dateinamen.");
  if (request.fullRepayment.wanted) {
    return RunFullRepaymentCommandLine(request.fullRepayment, inputs, beginText, format, outputFile,
                                       out, err);
  }

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
    std::string error;
    if (!WritePlanPdf(*outputFile, CommandLineReportTexts(inputs, result), SheetColumns(sheet),
                      &error)) {
      err << "Fehler: " << error << '\n';
      return kExitWriteFailed;
    }
    return kExitOk;
  }
  if (!outputFile) return WriteTextFormat(format, result, sheet.values, out, err);
  if (const int error = WriteWholeFile(*outputFile, TextFormat(format, result, sheet.values))) {
    err << "Fehler: " << WriteFailureMessage(*outputFile, error) << '\n';
    return kExitWriteFailed;
  }
  return kExitOk;
}

std::string TextFormat(TOutputFormat format, const TPlanResult& result,
                       const std::vector<TPlanRow>& rows) {
  std::ostringstream text;
  switch (format) {
    case TOutputFormat::Table:
      WritePlanTable(result, rows, text);
      break;
    case TOutputFormat::Csv:
      WritePlanCsv(rows, text);
      break;
    case TOutputFormat::Json:
      WritePlanJson(result, rows, text);
      break;
    case TOutputFormat::Pdf:
      break;
  }
  return std::move(text).str();
}

int WriteTextFormat(TOutputFormat format, const TPlanResult& result,
                    const std::vector<TPlanRow>& rows, std::ostream& out, std::ostream& err) {
  return WriteStandardOutput(TextFormat(format, result, rows), out, err);
}

}  // namespace tilgung
