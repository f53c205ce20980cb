#include "app/FullRepaymentCommandLine.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <ostream>
#include <sstream>
#include <utility>

#include "app/CommandLineText.h"
#include "app/FullRepaymentSheet.h"
#include "app/FullRepaymentTable.h"
#include "app/OutputFile.h"
#include "app/PlanExport.h"
#include "app/PlanTable.h"
#include "app/UserText.h"
#include "engine/components/ABSTable.h"
#include "platform/locale/Locale.h"
#include "platform/os/DateTime.h"

namespace tilgung {

namespace {

std::string Money(double value) {
  const platform::FormatSettings& fs = platform::FormatSettings::User();
  return fs.FormatCurrency(value, 15, fs.CurrencyDigits());
}

// Cell texts of one row, in the table's column order.
std::vector<std::string> Cells(const TFullRepaymentRow& r) {
  return {std::to_string(r.Nr),   std::to_string(r.Jahr), std::to_string(r.Monat),
          std::to_string(r.Tag),  Money(r.Darlehen),      Money(r.Tilgung),
          Money(r.Sondertilgung), Money(r.Zins),          Money(r.Rate)};
}

std::vector<double> Values(const TFullRepaymentRow& r) {
  return {r.Darlehen, r.Tilgung, r.Sondertilgung, r.Zins, r.Rate};
}

// The option each input of a failed calculation comes from.
struct TFieldOption {
  TFullRepaymentField field;
  const char* label;  // how the calculation's message begins
  const char* option;
};
constexpr TFieldOption kFieldOptions[] = {
    {TFullRepaymentField::FollowRate, "Anschlusszins", "--anschlusszins"},
    {TFullRepaymentField::YearlyAmount, "Jährliche Sondertilgung", "--sondertilgung"},
    {TFullRepaymentField::YearlyMonth, "Sondertilgung im Monat", "--sondertilgung-monat"},
    {TFullRepaymentField::YearlyFrom, "Sondertilgung ab Jahr", "--sondertilgung-ab"},
    {TFullRepaymentField::Cap, "Sondertilgung höchstens (%)", "--sondertilgung-max"},
};

// The one German line for a failed calculation, naming the option.
std::string ErrorLine(const TFullRepaymentInputs& inputs, const TFullRepaymentResult& r,
                      const std::string& beginText) {
  std::optional<TPlanStep> step;
  switch (r.failedField) {
    case TFullRepaymentField::Amount:
      step = TPlanStep::Amount;
      break;
    case TFullRepaymentField::Rate:
      step = TPlanStep::Rate;
      break;
    case TFullRepaymentField::Repayment:
      step = TPlanStep::Repayment;
      break;
    case TFullRepaymentField::Term:
      step = TPlanStep::Term;
      break;
    case TFullRepaymentField::StartDate:
      step = TPlanStep::EndDate;
      break;
    case TFullRepaymentField::Dates:
      step = TPlanStep::Rows;
      break;
    default:
      break;
  }
  // The main plan's inputs read as the main plan's command line names them.
  if (step) {
    TPlanResult plan;
    plan.failedStep = *step;
    return InputErrorMessage(inputs.plan, plan, beginText);
  }
  std::string message = r.errorMessage;
  std::string label, option;
  for (const TFieldOption& f : kFieldOptions) {
    if (f.field == r.failedField) {
      label = f.label;
      option = f.option;
    }
  }
  if (r.failedField == TFullRepaymentField::OneOff) {
    label = "Einmalige Sondertilgung " + std::to_string(r.failedOneOff + 1);
    option = "--einmalig";
  }
  if (!option.empty() && message.rfind(label, 0) == 0) {
    message.insert(label.size(), " (" + option + ")");
  }
  return "Fehler: " + message;
}

// The inputs as the report lists them: the six of the main plan, then the
// extra ones that were given.
TCaptionedTexts ReportInputs(const TFullRepaymentInputs& in) {
  const int frequency = in.plan.frequencyIndex < 0 ? 0 : in.plan.frequencyIndex;
  const platform::FormatSettings& fs = platform::FormatSettings::User();
  TCaptionedTexts t = {
      {"Darlehensbetrag", in.plan.amountText},
      {"Nominalzins", in.plan.rateText + " %"},
      {"Anfangstilgung", in.plan.repaymentText + " %"},
      {"Zahlweise", kFrequencyItems[frequency]},
      {"Zinsbindung", in.plan.termText},
      {"Beginn Tilgung", fs.FormatShortDate(in.plan.startDate)},
      {"Anschlusszins", in.followRateText.empty() ? "wie Nominalzins" : in.followRateText + " %"},
      {"Jährliche Sondertilgung", in.yearlyAmountText.empty() ? "keine" : in.yearlyAmountText},
  };
  if (!in.yearlyAmountText.empty()) {
    t.emplace_back("Sondertilgung im Monat", in.yearlyMonthText);
    t.emplace_back("Sondertilgung ab Jahr",
                   in.yearlyFromText.empty() ? "ab Beginn" : in.yearlyFromText);
  }
  t.emplace_back("Sondertilgung höchstens",
                 in.capText.empty() ? "ohne Grenze" : in.capText + " % je Kalenderjahr");
  for (std::size_t i = 0; i < in.oneOffs.size(); ++i) {
    t.emplace_back("Einmalige Sondertilgung " + std::to_string(i + 1),
                   fs.FormatShortDate(in.oneOffs[i].date) + "  " + in.oneOffs[i].amountText);
  }
  return t;
}

}  // namespace

std::string FullRepaymentCallError(const TFullRepaymentRequest& r) {
  if (r.wanted || r.firstExtraOption.empty()) return {};
  return r.firstExtraOption + " gilt nur zusammen mit --bis-volltilgung.";
}

TCaptionedTexts FullRepaymentResultTexts(const TFullRepaymentResult& r) {
  TCaptionedTexts t;
  if (r.debtFreeDate) {
    t.emplace_back("Schuldenfrei am",
                   platform::FormatSettings::User().FormatShortDate(*r.debtFreeDate));
    t.emplace_back("Laufzeit", std::to_string(r.termMonths / 12) + " Jahre " +
                                   std::to_string(r.termMonths % 12) + " Monate");
  } else {
    t.emplace_back("Nicht getilgt", r.endMessage);
    t.emplace_back("Restschuld am Ende", Money(r.balance));
  }
  t.emplace_back("Kreditrate", Money(r.instalment));
  t.emplace_back("Anzahl Raten", std::to_string(r.rowCount));
  t.emplace_back("Summe Zinsen", Money(r.interestSum));
  t.emplace_back("Summe Sondertilgungen", Money(r.extraSum));
  t.emplace_back("Über der Höchstgrenze, nicht gezahlt", Money(r.heldBack));
  t.emplace_back("Restschuld am Ende der Zinsbindung", Money(r.fixedPeriodDebt));
  if (r.interestSaved && r.monthsSaved) {
    t.emplace_back("Zinsersparnis durch Sondertilgungen", Money(*r.interestSaved));
    t.emplace_back("Ersparte Monate", std::to_string(*r.monthsSaved));
  }
  return t;
}

std::string FullRepaymentTableText(const TFullRepaymentResult& result,
                                   const std::vector<TFullRepaymentRow>& rows) {
  std::vector<std::vector<std::string>> lines;
  lines.reserve(rows.size() + 1);
  lines.emplace_back(std::begin(kFullRepaymentFieldNames), std::end(kFullRepaymentFieldNames));
  for (const TFullRepaymentRow& row : rows) lines.push_back(Cells(row));
  std::ostringstream out;
  WriteTextTable(lines, out);
  out << '\n';
  WriteCaptionedLines(FullRepaymentResultTexts(result), out);
  return std::move(out).str();
}

std::string FullRepaymentJsonText(const TFullRepaymentResult& r,
                                  const std::vector<TFullRepaymentRow>& rows) {
  std::ostringstream out;
  out << "{\n  \"instalment\": " << JsonNumber(r.instalment)
      << ",\n  \"follow_rate\": " << JsonNumber(r.followRate) << ",\n  \"rows\": [";
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const TFullRepaymentRow& row = rows[i];
    out << (i ? ",\n" : "\n") << "    {\"Nr\": " << row.Nr << ", \"Jahr\": " << row.Jahr
        << ", \"Monat\": " << row.Monat << ", \"Tag\": " << row.Tag;
    const std::vector<double> values = Values(row);
    for (std::size_t c = 0; c < values.size(); ++c) {
      out << ", \"" << kFullRepaymentFieldNames[kFullRepaymentIntegerColumns + c]
          << "\": " << JsonNumber(values[c]);
    }
    out << '}';
  }
  const char* end = r.end == TFullRepaymentEnd::Cleared     ? "cleared"
                    : r.end == TFullRepaymentEnd::YearLimit ? "year_limit"
                                                            : "not_covered";
  auto quotedDate = [](platform::TDateTime d) { return "\"" + IsoDate(d) + "\""; };
  out << (rows.empty() ? "],\n" : "\n  ],\n") << "  \"end\": \"" << end << "\",\n"
      << "  \"start_date\": " << quotedDate(r.startDate) << ",\n"
      << "  \"fixed_period_end\": " << quotedDate(r.fixedEndDate) << ",\n"
      << "  \"debt_free_date\": " << (r.debtFreeDate ? quotedDate(*r.debtFreeDate) : "null")
      << ",\n"
      << "  \"term_months\": " << (r.debtFreeDate ? std::to_string(r.termMonths) : "null") << ",\n"
      << "  \"instalment_count\": " << r.rowCount << ",\n"
      << "  \"interest_total\": " << JsonNumber(r.interestSum) << ",\n"
      << "  \"extra_total\": " << JsonNumber(r.extraSum) << ",\n"
      << "  \"extra_held_back\": " << JsonNumber(r.heldBack) << ",\n"
      << "  \"fixed_period_debt\": " << JsonNumber(r.fixedPeriodDebt) << ",\n"
      << "  \"remaining_debt\": " << JsonNumber(r.balance) << ",\n"
      << "  \"interest_saved\": " << (r.interestSaved ? JsonNumber(*r.interestSaved) : "null")
      << ",\n"
      << "  \"months_saved\": " << (r.monthsSaved ? std::to_string(*r.monthsSaved) : "null")
      << "\n}\n";
  return std::move(out).str();
}

int RunFullRepaymentCommandLine(const TFullRepaymentRequest& request, const TPlanInputs& inputs,
                                const std::string& beginText, TOutputFormat format,
                                const std::optional<std::string>& outputFile, std::ostream& out,
                                std::ostream& err) {
  TFullRepaymentInputs in = request.extras;
  in.plan = inputs;
  in.oneOffs.clear();
  for (std::size_t i = 0; i < request.oneOffArgs.size(); ++i) {
    const std::string& arg = request.oneOffArgs[i];
    const std::size_t eq = arg.find('=');
    TOneOffExtra extra;
    if (eq == std::string::npos || !ParseIsoDate(arg.substr(0, eq), extra.date)) {
      err << "Fehler: Einmalige Sondertilgung " << i + 1 << " (--einmalig) " << QuoteUserText(arg)
          << " hat nicht die Form JJJJ-MM-TT=BETRAG.\n";
      return kExitBadInput;
    }
    extra.amountText = arg.substr(eq + 1);
    in.oneOffs.push_back(extra);
  }

  TABSTable table(nullptr);
  ConfigurePlanComponent(table);
  TFullRepaymentTableSink sink(table);
  const TFullRepaymentResult result = CalculateFullRepayment(in, sink);
  if (!result.ok) {
    err << ErrorLine(in, result, beginText) << '\n';
    return kExitBadInput;
  }
  for (const std::string& notice : result.notices) {
    std::string line = notice;
    if (line.rfind("Einmalige Sondertilgung ", 0) == 0) {
      const std::size_t end = line.find(' ', sizeof "Einmalige Sondertilgung " - 1);
      if (end != std::string::npos) line.insert(end, " (--einmalig)");
    }
    err << "Hinweis: " << line << '\n';
  }
  std::vector<std::vector<std::string>> cells;
  const std::vector<TFullRepaymentRow> rows =
      ReadFullRepaymentRows(table, format == TOutputFormat::Pdf ? &cells : nullptr);

  if (format == TOutputFormat::Pdf) {
    TPlanReportTexts texts;
    texts.title = "Darlehens Tilgungsplan bis zur Volltilgung";
    texts.inputs = ReportInputs(in);
    texts.results = FullRepaymentResultTexts(result);
    for (const std::string& notice : result.notices) texts.results.emplace_back("Hinweis", notice);
    std::string error;
    if (!WritePlanPdf(*outputFile, texts, FullRepaymentColumns(rows, std::move(cells)), &error)) {
      err << "Fehler: " << error << '\n';
      return kExitWriteFailed;
    }
    return kExitOk;
  }
  const std::string text = format == TOutputFormat::Csv
                               ? PlainPlanCsv(FullRepaymentColumns(rows, {}))
                           : format == TOutputFormat::Json ? FullRepaymentJsonText(result, rows)
                                                           : FullRepaymentTableText(result, rows);
  if (!outputFile) return WriteStandardOutput(text, out, err);
  if (const int error = WriteWholeFile(*outputFile, text)) {
    err << "Fehler: " << WriteFailureMessage(*outputFile, error) << '\n';
    return kExitWriteFailed;
  }
  return kExitOk;
}

}  // namespace tilgung
