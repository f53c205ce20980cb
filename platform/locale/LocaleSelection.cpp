// FormatSettings: choosing the locale of each category from the
// environment or a name, taking its conventions from ICU once, and the
// process-wide instance of the user's settings.
#include "platform/locale/Locale.h"

#include <unicode/dcfmtsym.h>
#include <unicode/decimfmt.h>
#include <unicode/dtfmtsym.h>
#include <unicode/locid.h>
#include <unicode/smpdtfmt.h>

#include <atomic>
#include <cstdlib>
#include <mutex>

#include "platform/locale/LocaleInternal.h"

namespace platform {

using namespace locale_detail;

namespace {

constexpr const char* DefaultLocale = "de_DE";

// "de_DE.UTF-8" and "de_DE@euro" become "de_DE"; unset, empty, "C", "C.UTF-8"
// and "POSIX" become the default.
std::string MapPosixName(std::string_view name) {
  const std::size_t cut = name.find_first_of(".@");
  if (cut != std::string_view::npos) name = name.substr(0, cut);
  if (name.empty() || name == "C" || name == "POSIX") return DefaultLocale;
  // Anything but letters, digits, '_' and '-' is no locale name; such text
  // must not reach ICU's resource lookup.
  for (const char c : name) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '_' || c == '-';
    if (!ok) return DefaultLocale;
  }
  return std::string(name);
}

std::string FromEnvironment(const char* categoryVariable) {
  for (const char* variable : {"LC_ALL", categoryVariable, "LANG"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') return MapPosixName(value);
  }
  return DefaultLocale;
}

icu::Locale MakeLocale(const std::string& name) {
  icu::Locale locale(name.c_str());
  if (locale.isBogus()) return icu::Locale(DefaultLocale);
  return locale;
}

std::vector<PatternToken> Tokenize(const icu::UnicodeString& pattern) {
  std::vector<PatternToken> tokens;
  auto appendLiteral = [&tokens](const icu::UnicodeString& text) {
    if (tokens.empty() || tokens.back().letter != 0) tokens.push_back({});
    tokens.back().literal += ToUtf8(text);
  };
  const int32_t n = pattern.length();
  for (int32_t i = 0; i < n;) {
    const char16_t c = pattern.charAt(i);
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) {
      int32_t j = i;
      while (j < n && pattern.charAt(j) == c) ++j;
      tokens.push_back({static_cast<char>(c), static_cast<int>(j - i), {}});
      i = j;
    } else if (c == '\'') {
      if (i + 1 < n && pattern.charAt(i + 1) == '\'') {
        appendLiteral(u"'");
        i += 2;
        continue;
      }
      int32_t j = i + 1;
      icu::UnicodeString quoted;
      while (j < n) {
        if (pattern.charAt(j) == '\'') {
          if (j + 1 < n && pattern.charAt(j + 1) == '\'') {
            quoted += u'\'';
            j += 2;
            continue;
          }
          break;
        }
        quoted += pattern.charAt(j++);
      }
      appendLiteral(quoted);
      i = j + 1;
    } else if (c == 0x202F) {
      // A narrow no-break space before the day period is shown as a plain
      // blank so that times stay readable and parseable everywhere.
      appendLiteral(u" ");
      ++i;
    } else {
      appendLiteral(icu::UnicodeString(c));
      ++i;
    }
  }
  return tokens;
}

// Separator of a date or time pattern: the literal after the first field,
// without blanks; `fallback` when the pattern has none.
std::string FieldSeparator(const std::vector<PatternToken>& tokens, const std::string& fallback) {
  for (std::size_t i = 0; i + 1 < tokens.size(); ++i) {
    if (tokens[i].letter != 0 && tokens[i + 1].letter == 0) {
      std::string_view sep = TrimBlanks(tokens[i + 1].literal);
      // Direction marks around the separator (right-to-left locales) are no
      // part of what users type.
      std::string cleaned;
      for (std::size_t k = 0; k < sep.size();) {
        if (sep.substr(k, 3) == "\xE2\x80\x8F" || sep.substr(k, 3) == "\xE2\x80\x8E") {
          k += 3;
        } else {
          cleaned += sep[k++];
        }
      }
      if (!cleaned.empty()) return cleaned;
    }
  }
  return fallback;
}

}  // namespace

FormatSettings::FormatSettings(const std::string& localeName)
    : FormatSettings(Names{MapPosixName(localeName), MapPosixName(localeName),
                           MapPosixName(localeName), MapPosixName(localeName)}) {}

FormatSettings::FormatSettings(const Names& names) : impl_(std::make_unique<Impl>()) {
  Impl& m = *impl_;
  UErrorCode status = U_ZERO_ERROR;

  const icu::Locale numeric = MakeLocale(names.numeric);
  m.name = numeric.getName();
  {
    icu::DecimalFormatSymbols symbols(numeric, status);
    if (U_SUCCESS(status)) {
      m.decimalSeparator =
          ToUtf8(symbols.getSymbol(icu::DecimalFormatSymbols::kDecimalSeparatorSymbol));
      m.thousandSeparator =
          ToUtf8(symbols.getSymbol(icu::DecimalFormatSymbols::kGroupingSeparatorSymbol));
    }
    if (m.decimalSeparator.empty()) m.decimalSeparator.assign(1, ',');
    status = U_ZERO_ERROR;
  }

  const icu::Locale monetary = MakeLocale(names.monetary);
  {
    icu::DecimalFormatSymbols symbols(monetary, status);
    if (U_SUCCESS(status)) {
      m.currencySymbol = ToUtf8(symbols.getSymbol(icu::DecimalFormatSymbols::kCurrencySymbol));
      m.currencyDecimal =
          ToUtf8(symbols.getSymbol(icu::DecimalFormatSymbols::kMonetarySeparatorSymbol));
      m.currencyGroup =
          ToUtf8(symbols.getSymbol(icu::DecimalFormatSymbols::kMonetaryGroupingSeparatorSymbol));
    }
    if (m.currencyDecimal.empty()) m.currencyDecimal = m.decimalSeparator;
    status = U_ZERO_ERROR;
    std::unique_ptr<icu::NumberFormat> format(
        icu::NumberFormat::createCurrencyInstance(monetary, status));
    auto* decimal = dynamic_cast<icu::DecimalFormat*>(format.get());
    if (U_SUCCESS(status) && decimal != nullptr) {
      icu::UnicodeString text;
      m.positivePrefix = ToUtf8(decimal->getPositivePrefix(text));
      m.positiveSuffix = ToUtf8(decimal->getPositiveSuffix(text));
      m.negativePrefix = ToUtf8(decimal->getNegativePrefix(text));
      m.negativeSuffix = ToUtf8(decimal->getNegativeSuffix(text));
      m.primaryGrouping = decimal->isGroupingUsed() ? decimal->getGroupingSize() : 0;
      m.secondaryGrouping = decimal->getSecondaryGroupingSize();
      if (m.secondaryGrouping <= 0) m.secondaryGrouping = m.primaryGrouping;
      m.minimumGrouping = decimal->getMinimumGroupingDigits();
      if (m.minimumGrouping < 1) m.minimumGrouping = 1;
      m.currencyDigits = decimal->getMaximumFractionDigits();
    } else {
      m.positiveSuffix.assign(1, ' ');
      m.positiveSuffix += m.currencySymbol;
      m.negativeSuffix = m.positiveSuffix;
      m.negativePrefix.assign(1, '-');
    }
    status = U_ZERO_ERROR;
  }

  const icu::Locale time = MakeLocale(names.time);
  {
    icu::UnicodeString pattern;
    std::unique_ptr<icu::DateFormat> date(
        icu::DateFormat::createDateInstance(icu::DateFormat::kShort, time));
    if (auto* simple = dynamic_cast<icu::SimpleDateFormat*>(date.get())) simple->toPattern(pattern);
    m.shortDate = Tokenize(pattern.isEmpty() ? icu::UnicodeString(u"dd.MM.yyyy") : pattern);
    pattern.remove();
    std::unique_ptr<icu::DateFormat> clock(
        icu::DateFormat::createTimeInstance(icu::DateFormat::kMedium, time));
    if (auto* simple = dynamic_cast<icu::SimpleDateFormat*>(clock.get()))
      simple->toPattern(pattern);
    m.longTime = Tokenize(pattern.isEmpty() ? icu::UnicodeString(u"HH:mm:ss") : pattern);

    icu::DateFormatSymbols symbols(time, status);
    if (U_SUCCESS(status)) {
      int32_t count = 0;
      const icu::UnicodeString* ampm = symbols.getAmPmStrings(count);
      if (count >= 2) {
        m.am = ToUtf8(ampm[0]);
        m.pm = ToUtf8(ampm[1]);
      }
      const icu::UnicodeString* months = symbols.getMonths(count);
      for (int32_t i = 0; i < 12 && i < count; ++i) m.monthNames[i] = ToUtf8(months[i]);
      months = symbols.getShortMonths(count);
      for (int32_t i = 0; i < 12 && i < count; ++i) m.shortMonthNames[i] = ToUtf8(months[i]);
    }
    status = U_ZERO_ERROR;

    int found = 0;
    char order[3] = {};
    for (const PatternToken& token : m.shortDate) {
      char field = 0;
      if (token.letter == 'd') field = 'd';
      if (token.letter == 'M' || token.letter == 'L') field = 'M';
      if (token.letter == 'y' || token.letter == 'u' || token.letter == 'Y') field = 'y';
      if (field != 0 && found < 3) order[found++] = field;
    }
    if (found == 3 && order[0] != order[1] && order[0] != order[2] && order[1] != order[2]) {
      std::copy(order, order + 3, m.dateOrder);
    }
    m.dateSeparator = FieldSeparator(m.shortDate, "/");
    m.timeSeparator = FieldSeparator(m.longTime, ":");
  }

  const icu::Locale text = MakeLocale(names.text);
  m.textLocaleId = text.getName();
  m.caseSensitive.reset(icu::Collator::createInstance(text, status));
  if (U_SUCCESS(status)) {
    m.caseSensitive->setStrength(icu::Collator::TERTIARY);
    m.caseInsensitive.reset(m.caseSensitive->clone());
    if (m.caseInsensitive) m.caseInsensitive->setStrength(icu::Collator::SECONDARY);
  } else {
    m.caseSensitive.reset();
  }
}

FormatSettings::~FormatSettings() = default;

namespace {

std::atomic<FormatSettings*> userSettings{nullptr};
std::mutex userMutex;

// Every instance User() has handed out, the replaced ones included: none is
// ever destroyed, so a reference obtained earlier never dangles, not even in
// the destructors of other static objects at exit.
std::vector<std::unique_ptr<FormatSettings>>& UserInstances() {
  static auto* instances = new std::vector<std::unique_ptr<FormatSettings>>();
  return *instances;
}

}  // namespace

const FormatSettings& FormatSettings::User() {
  FormatSettings* current = userSettings.load(std::memory_order_acquire);
  if (current != nullptr) return *current;
  std::lock_guard<std::mutex> lock(userMutex);
  current = userSettings.load(std::memory_order_relaxed);
  if (current == nullptr) {
    ReloadUserLocked();
    current = userSettings.load(std::memory_order_relaxed);
  }
  return *current;
}

void FormatSettings::ReloadUser() {
  std::lock_guard<std::mutex> lock(userMutex);
  ReloadUserLocked();
}

void FormatSettings::ReloadUserLocked() {
  const char* collate = std::getenv("LC_COLLATE");
  const char* textVariable = (collate != nullptr && *collate != '\0') ? "LC_COLLATE" : "LC_CTYPE";
  Names names{FromEnvironment("LC_NUMERIC"), FromEnvironment("LC_MONETARY"),
              FromEnvironment("LC_TIME"), FromEnvironment(textVariable)};
  std::unique_ptr<FormatSettings> fresh(new FormatSettings(names));
  userSettings.store(fresh.get(), std::memory_order_release);
  UserInstances().push_back(std::move(fresh));
}

const std::string& FormatSettings::LocaleName() const {
  return impl_->name;
}
const std::string& FormatSettings::DecimalSeparator() const {
  return impl_->decimalSeparator;
}
const std::string& FormatSettings::ThousandSeparator() const {
  return impl_->thousandSeparator;
}
const std::string& FormatSettings::CurrencySymbol() const {
  return impl_->currencySymbol;
}
int FormatSettings::CurrencyDigits() const {
  return impl_->currencyDigits;
}

}  // namespace platform
